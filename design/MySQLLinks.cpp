#include "design/MySQLLinks.h"

#include <iostream>
#include <sstream>

#include "host/DB.h"
#include "host/Dialogs.h"
#include "host/SysUtils.h"

namespace rowset {

namespace {

// The names of a dataset's fields, or of its field definitions.
void FieldNamesOf(TDataSet* DataSet, TStrings& List) {
  if (DataSet->FieldCount() > 0) {
    DataSet->GetFieldNames(List);
    return;
  }
  if (DataSet->FieldDefs()->Count() == 0) DataSet->InitFieldDefs();
  List.Clear();
  for (int i = 0; i < DataSet->FieldDefs()->Count(); ++i)
    List.Add(DataSet->FieldDefs()->Items(i)->Name());
}

// One command per line on the terminal:
//   d N / m N / j N   select the N-th detail / master / joined entry
//   a, x, c           Add, Delete, Clear
//   ok, cancel        close (the end of input cancels)
class TTerminalLinkDesigner : public TLinkDesignerFrontEnd {
 public:
  bool Run(TLinkFields& Form) override {
    if (!DialogInteractive()) return false;  // no one to ask: nothing changes
    while (true) {
      Show(Form);
      std::cerr << "[d N / m N / j N select, a add, x delete, c clear, ok, cancel] ";
      std::string line;
      // The end of input, Ctrl-C and Escape cancel.
      if (!ReadAnswerLine(line)) return false;
      std::istringstream in(Trim(line));
      std::string cmd;
      int n = 0;
      in >> cmd;
      const bool has_number = static_cast<bool>(in >> n);
      if (SameText(cmd, "ok")) return true;
      if (SameText(cmd, "cancel")) return false;
      if (cmd == "d" && has_number) Form.SelectDetail(n - 1);
      else if (cmd == "m" && has_number) Form.SelectMaster(n - 1);
      else if (cmd == "j" && has_number) Form.SelectJoined(n - 1);
      else if (cmd == "a") Form.Add();
      else if (cmd == "x") Form.Delete();
      else if (cmd == "c") Form.Clear();
    }
  }

 private:
  static void ShowList(const std::string& label, const TStringList& list, int selected) {
    std::cerr << label << ":\n";
    for (int i = 0; i < list.Count(); ++i)
      std::cerr << (i == selected ? " > " : "   ") << (i + 1) << ". " << list.Strings(i) << "\n";
  }
  static std::string Plain(const std::string& label) {
    std::string out;
    for (char c : label)
      if (c != '&') out += c;
    return out;
  }
  static void Show(const TLinkFields& f) {
    std::cerr << f.Caption << "\n";
    ShowList(Plain(f.DetailLabel), f.DetailFields(), f.DetailIndex());
    ShowList(Plain(f.MasterLabel), f.MasterFields(), f.MasterIndex());
    ShowList(Plain(f.JoinedLabel), f.JoinedFields(), f.JoinedIndex());
  }
};

std::unique_ptr<TLinkDesignerFrontEnd>& FrontEndSlot() {
  static std::unique_ptr<TLinkDesignerFrontEnd> slot = std::make_unique<TTerminalLinkDesigner>();
  return slot;
}

}  // namespace

TLinkFields::TLinkFields(TMySQLDatasetBase* DataSet) : dataset_(DataSet) {
  TDataSet* master = DataSet->MasterSource()->DataSet();
  FieldNamesOf(DataSet, detail_);
  FieldNamesOf(master, master_);
  joined_.SetCommaText(DataSet->MasterFields());
}

int TLinkFields::Checked(const TStringList& list, int index) {
  return index >= 0 && index < list.Count() ? index : -1;
}

void TLinkFields::SelectDetail(int Index) {
  detail_index_ = Checked(detail_, Index);
  if (detail_index_ < 0) return;
  const std::string name = detail_.Strings(detail_index_);
  for (int i = 0; i < master_.Count(); ++i)
    if (SameText(master_.Strings(i), name)) {
      master_index_ = i;
      break;
    }
}

void TLinkFields::SelectMaster(int Index) { master_index_ = Checked(master_, Index); }
void TLinkFields::SelectJoined(int Index) { joined_index_ = Checked(joined_, Index); }

bool TLinkFields::Add() {
  if (detail_index_ < 0 || master_index_ < 0) return false;
  joined_index_ = joined_.Add(detail_.Strings(detail_index_) + "=" + master_.Strings(master_index_));
  return true;
}

bool TLinkFields::Delete() {
  if (joined_index_ < 0) return false;
  joined_.Delete(joined_index_);
  if (joined_index_ >= joined_.Count()) joined_index_ = joined_.Count() - 1;
  return true;
}

void TLinkFields::Clear() {
  joined_.Clear();
  joined_index_ = -1;
}

std::unique_ptr<TLinkDesignerFrontEnd> SetLinkDesignerFrontEnd(
    std::unique_ptr<TLinkDesignerFrontEnd> FrontEnd) {
  std::unique_ptr<TLinkDesignerFrontEnd> old = std::move(FrontEndSlot());
  FrontEndSlot() = FrontEnd ? std::move(FrontEnd) : std::make_unique<TTerminalLinkDesigner>();
  return old;
}

bool EditMasterFields(TMySQLDatasetBase* DataSet) {
  if (DataSet == nullptr || DataSet->MasterSource() == nullptr ||
      DataSet->MasterSource()->DataSet() == nullptr) {
    MessageDlg("Please assign a Mastersource and Mastersource dataset", mtError, {mbOK});
    return false;
  }
  TLinkFields form(DataSet);
  if (!FrontEndSlot()->Run(form)) return false;
  DataSet->SetMasterFields(form.JoinedText());
  return true;
}

}  // namespace rowset
