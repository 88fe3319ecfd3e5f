// Datasets: master/detail links, the select list and the server-side
// filter. Rows are narrowed on the server: the filter text and the master's
// current values become one SQL condition that the macro expansion inserts
// into the select; any change re-runs the select.
#include "components/MySQLDataset.h"
#include "components/MySQLMacros.h"
#include "host/SysUtils.h"

namespace rowset {

// ---------------------------------------------------------------------------
// Properties

std::string TMySQLDatasetBase::MasterFields() const { return master_field_pairs_->CommaText(); }

void TMySQLDatasetBase::SetMasterFields(const std::string& Value) {
  if (Value == master_field_pairs_->CommaText()) return;
  master_field_pairs_->SetCommaText(Value);
  std::string names;
  for (int i = 0; i < master_field_pairs_->Count(); ++i) {
    std::string master = master_field_pairs_->ValueFromIndex(i);
    if (master.empty()) master = master_field_pairs_->Get(i);
    if (!names.empty()) names += ";";
    names += master;
  }
  master_link_->SetFieldNames(names);
  if (Active()) Refresh();
}

TDataSource* TMySQLDatasetBase::MasterSource() const { return master_link_->DataSource(); }

void TMySQLDatasetBase::SetMasterSource(TDataSource* Value) {
  if (Value != nullptr && IsLinkedTo(Value)) {
    MySQLError(Driver(), connection_handle_, -1, "Circular Reference", -1, -1);
  }
  master_link_->SetDataSource(Value);
}

// ---------------------------------------------------------------------------
// Select list and condition

std::string TMySQLDatasetBase::GetSelectFields() {
  if (dynamic_cast<TMySQLTable*>(this) != nullptr || DefaultFields() || FieldCount() == 0) {
    return "*";
  }
  std::string out;
  for (TField* field : Fields()) {
    if (field->FieldKind() != fkData) continue;
    if (!out.empty()) out += ",";
    out += FormatIdentifier(field->FieldName());
  }
  return out.empty() ? std::string("*") : out;
}

std::string TMySQLDatasetBase::GetMasterAndFilter() {
  std::string filter;
  if (Filtered() && !Filter().empty()) filter = "(" + Filter() + ")";
  if (master_field_pairs_->Count() == 0) return filter;
  TDataSet* master = master_link_->DataSet();
  bool has_values = master != nullptr && master_link_->Active() && master->Active() &&
                    !master->IsEmpty();
  std::string out;
  for (int i = 0; i < master_field_pairs_->Count(); ++i) {
    std::string detail_name = master_field_pairs_->Names(i);
    std::string master_name = master_field_pairs_->ValueFromIndex(i);
    if (detail_name.empty()) detail_name = master_name = master_field_pairs_->Get(i);
    std::string literal = "NULL";
    TField* field = has_values ? master->FindField(master_name) : nullptr;
    std::string text;
    if (field != nullptr && FieldValueText(field, text)) {
      literal = BlobOrStringLiteral(field, text);
    }
    if (!out.empty()) out += " AND ";
    out += "(" + FormatIdentifier(detail_name) + "=" + literal + ")";
  }
  if (!filter.empty()) out += " AND " + filter;
  return out;
}

// ---------------------------------------------------------------------------
// Re-reading on change

void TMySQLDatasetBase::MasterChanged(TObject* Sender) {
  if (!Active() || master_link_->Editing()) return;
  DisableControls();
  try {
    Refresh();
  } catch (...) {
    EnableControls();
    throw;
  }
  EnableControls();
}

void TMySQLDatasetBase::MasterDisabled(TObject* Sender) {
  if (Active()) Refresh();
}

void TMySQLDatasetBase::SetFiltered(bool Value) {
  if (Value == Filtered()) return;
  TDataSet::SetFiltered(Value);
  if (!Active()) return;
  try {
    Refresh();
  } catch (...) {
    TDataSet::SetFiltered(!Value);
    throw;
  }
}

void TMySQLDatasetBase::SetFilterText(const std::string& Value) {
  if (Value == Filter()) return;
  ParseSQL(Value);
  std::string old = Filter();
  TDataSet::SetFilterText(Value);
  if (!Active() || !Filtered()) return;
  try {
    Refresh();
  } catch (...) {
    TDataSet::SetFilterText(old);
    throw;
  }
}

}  // namespace rowset
