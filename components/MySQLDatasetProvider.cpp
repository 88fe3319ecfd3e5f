// Provider hooks of TMySQLDatasetBase: what the host's provider layer calls
// to open the dataset, run statements on it, read its keys and table name
// and bracket applied changes in transactions (the rules are described in
// components/MySQLDataset.h, "Provider hooks").
#include <cerrno>
#include <cstdlib>
#include <string>
#include <utility>

#include "components/MySQLDataset.h"
#include "host/SysUtils.h"

namespace rowset {

namespace {

// Copies Text[At] and what belongs to the same quoted run or comment into
// Out, returning the index after it; At is left as it is when Text[At]
// starts none. A "?" inside these is text, not a parameter.
size_t SkipQuotedOrComment(const std::string& Text, size_t At, bool Backslash, std::string& Out) {
  const size_t n = Text.size();
  const char c = Text[At];
  size_t end = At;
  if (c == '\'' || c == '"' || c == '`') {
    end = At + 1;
    while (end < n) {
      if (Backslash && c != '`' && Text[end] == '\\') {
        end += 2;
        continue;
      }
      if (Text[end] == c) {
        if (end + 1 < n && Text[end + 1] == c) {  // a doubled quote stays inside
          end += 2;
          continue;
        }
        ++end;
        break;
      }
      ++end;
    }
  } else if (c == '#' ||
             (c == '-' && At + 1 < n && Text[At + 1] == '-' &&
              (At + 2 >= n || Text[At + 2] == ' ' || Text[At + 2] == '\t' || Text[At + 2] == '\r' ||
               Text[At + 2] == '\n'))) {
    end = Text.find('\n', At);
    end = end == std::string::npos ? n : end + 1;
  } else if (c == '/' && At + 1 < n && Text[At + 1] == '*') {
    end = Text.find("*/", At + 2);
    end = end == std::string::npos ? n : end + 2;
  } else {
    return At;
  }
  if (end > n) end = n;
  Out.append(Text, At, end - At);
  return end;
}

}  // namespace

void TMySQLDatasetBase::PSEndTransaction(bool Commit) {
  if (Commit) {
    CommitTransaction();
  } else {
    RollbackTransaction();
  }
}

void TMySQLDatasetBase::PSExecute() { Execute(false); }

std::string TMySQLDatasetBase::PositionalToMacros(const std::string& ASQL, TParams* AParams) {
  // Strings are read as the macro pass reads them (a backslash escapes the
  // next character unless the session has NO_BACKSLASH_ESCAPES), so both
  // agree on what is inside a literal.
  const bool backslash = BackslashEscapes();
  std::string text;
  text.reserve(ASQL.size() + 16);
  int number = 1;
  size_t i = 0;
  while (i < ASQL.size()) {
    size_t next = SkipQuotedOrComment(ASQL, i, backslash, text);
    if (next != i) {
      i = next;
      continue;
    }
    if (ASQL[i] == '?') {
      const std::string name = std::to_string(number);
      text += macro_start_ + name + macro_end_;
      if (AParams != nullptr && AParams->Count() >= number) AParams->Items(number - 1)->SetName(name);
      ++number;
    } else {
      text += ASQL[i];
    }
    ++i;
  }
  return text;
}

int TMySQLDatasetBase::PSExecuteStatement(const std::string& ASQL, TParams* AParams,
                                          void* /*ResultSet*/) {
  const std::string text = PositionalToMacros(ASQL, AParams);
  // The statement runs on every call, also when the text is the one already
  // open (an unchanged SQL list would not close the dataset).
  // A transaction on the dataset's own connection must survive the close:
  // the handle is kept and the open takes it again.
  MySQLHandle kept = nullptr;
  if (in_transaction_ && !ShareConnection()) std::swap(kept, connection_handle_);
  try {
    Close();
  } catch (...) {
    if (kept != nullptr) connection_handle_ = kept;
    throw;
  }
  if (kept != nullptr) connection_handle_ = kept;
  sql_->SetText(text);
  if (AParams != nullptr) {
    for (int j = 0; j < AParams->Count(); ++j) {
      TParam* macro = macros_->FindParam(std::to_string(j + 1));
      if (macro == nullptr) continue;
      macro->Assign(AParams->Items(j));
      if (macro->ParamType() == ptUnknown) macro->SetParamType(ptInput);
      // A parameter is a value: of a text type (inserted as raw SQL by
      // the macro rules) it is written as an escaped literal instead.
      switch (macro->DataType()) {
        case ftString: case ftFixedChar: case ftWideString: case ftUnknown:
          macro->SetDataType(ftVariant);
          break;
        default:
          break;
      }
    }
  }
  Execute(false);
  const std::string& affected = affected_rows_text_;
  if (affected.empty()) return 0;
  errno = 0;
  char* end = nullptr;
  long long value = std::strtoll(affected.c_str(), &end, 10);
  if (errno != 0 || end == affected.c_str() || *end != '\0' || value > INT32_MAX || value < INT32_MIN) {
    return 0;
  }
  return static_cast<int>(value);
}

TIndexDef* TMySQLDatasetBase::PSGetDefaultOrder() {
  return IndexDefs()->Count() > 0 ? IndexDefs()->Items(0) : nullptr;
}

std::string TMySQLDatasetBase::PSGetKeyFields() {
  // Only a complete key: part of a composite key would name several rows.
  std::string out;
  for (int t = 0; t < table_infos_.Count(); ++t) {
    for (int column : TableKeyColumns(table_infos_[t])) out += field_infos_.Key(column) + ";";
  }
  return out;
}

TParams* TMySQLDatasetBase::PSGetParams() { return macros_.get(); }

std::string TMySQLDatasetBase::PSGetQuoteChar() { return "`"; }

std::string TMySQLDatasetBase::PSGetTableName() {
  if (!table_name_.empty()) return table_name_;
  // The table's own name, never its alias in the select; its database too
  // when that is not the dataset's.
  if (TTableInfo* table = EditTable()) {
    const std::string& own = database_name_.empty() && server_ != nullptr ? server_->DatabaseName()
                                                                           : database_name_;
    if (!table->Database.empty() && !SameText(table->Database, own)) {
      return table->Database + "." + table->OrgTable;
    }
    return table->OrgTable;
  }
  return "PleaseSpecifyATableNameProperty";
}

TIndexDefs* TMySQLDatasetBase::PSGetIndexDefs(TIndexOptions /*IndexTypes*/) { return IndexDefs(); }

bool TMySQLDatasetBase::PSInTransaction() { return InTransaction(); }

void TMySQLDatasetBase::PSReset() {
  TDataSet::PSReset();
  if (Active()) Refresh();
}

void TMySQLDatasetBase::PSSetParams(TParams* AParams) {
  if (AParams != nullptr && AParams->Count() > 0) macros_->Assign(AParams);
}

void TMySQLDatasetBase::PSSetCommandText(const std::string& CommandText) {
  if (!CommandText.empty()) sql_->SetText(CommandText);
}

void TMySQLDatasetBase::PSStartTransaction() {
  // The server's version decides whether transactions are used: it is known
  // only once connected.
  if (options_.Contains(doTransactions)) ActivateConnection();
  StartTransaction();
}

bool TMySQLDatasetBase::GetIsIndexField(TField* Field) {
  if (Field == nullptr || Field->FieldName().empty()) return false;
  const std::string name = UpperCase(Field->FieldName());
  const std::string keys = UpperCase(index_key_fields_);
  size_t at = 0;
  while (at <= keys.size()) {
    size_t comma = keys.find(',', at);
    if (comma == std::string::npos) comma = keys.size();
    if (keys.compare(at, comma - at, name) == 0) return true;
    at = comma + 1;
  }
  return false;
}

}  // namespace rowset
