// The link designer: edits a dataset's MasterFields, the pairs "detail
// field=master field" that make it follow its master dataset.
//
// Flow: EditMasterFields(dataset) builds a TLinkFields form with three lists
// (the dataset's field names, the master dataset's field names and the
// current pairs) and hands it to the installed front end, which drives it
// with SelectDetail / SelectMaster / SelectJoined, Add, Delete and Clear and
// answers OK or cancel. On OK the joined list's comma text becomes the
// dataset's MasterFields; on cancel nothing changes.
//
// The default front end asks on the terminal when the host's dialogs are
// interactive (host/Dialogs.h), one command per line; without a terminal it
// answers cancel at once, leaving MasterFields as it was. Tests and tools
// install a front end of their own.
//
// Field names come from the datasets' fields when they have any, otherwise
// from their field definitions, read from the server when needed (which may
// raise EMySQLError). Main thread only.
#ifndef ROWSET_DESIGN_MYSQLLINKS_H_
#define ROWSET_DESIGN_MYSQLLINKS_H_

#include <memory>
#include <string>

#include "components/MySQLDataset.h"
#include "host/Classes.h"

namespace rowset {

class TLinkFields {
 public:
  // REQUIRES: DataSet has a master source with a dataset.
  explicit TLinkFields(TMySQLDatasetBase* DataSet);

  std::string Caption = "Link Designer";
  std::string DetailLabel = "D&etail Fields";
  std::string MasterLabel = "&Master Fields";
  std::string JoinedLabel = "&Joined Fields";
  std::string AddCaption = "&Add";
  std::string DeleteCaption = "&Delete";
  std::string ClearCaption = "&Clear";

  TMySQLDatasetBase* DataSet() const { return dataset_; }
  const TStringList& DetailFields() const { return detail_; }
  const TStringList& MasterFields() const { return master_; }
  const TStringList& JoinedFields() const { return joined_; }
  // Selections, -1 for none.
  int DetailIndex() const { return detail_index_; }
  int MasterIndex() const { return master_index_; }
  int JoinedIndex() const { return joined_index_; }

  // Selects a detail field (-1: none) and, when the master list has a field
  // of the same name (letter case ignored), that master field. An index
  // outside the list selects nothing.
  void SelectDetail(int Index);
  void SelectMaster(int Index);
  void SelectJoined(int Index);
  // Add needs a detail and a master field selected; it appends the pair
  // "detail=master" and selects it. Returns false when it added nothing.
  bool Add();
  // Removes the selected pair; false when none is selected.
  bool Delete();
  void Clear();
  // The joined list as MasterFields text.
  std::string JoinedText() const { return joined_.CommaText(); }

 private:
  static int Checked(const TStringList& list, int index);
  TMySQLDatasetBase* dataset_;
  TStringList detail_, master_, joined_;
  int detail_index_ = -1, master_index_ = -1, joined_index_ = -1;
};

// Drives the form and answers true for OK, false for cancel.
class TLinkDesignerFrontEnd {
 public:
  virtual ~TLinkDesignerFrontEnd() = default;
  virtual bool Run(TLinkFields& Form) = 0;
};

// Installs a front end and returns the previous one; nullptr restores the
// default one.
std::unique_ptr<TLinkDesignerFrontEnd> SetLinkDesignerFrontEnd(
    std::unique_ptr<TLinkDesignerFrontEnd> FrontEnd);

// Opens the link designer on DataSet. Without a master source, or with a
// source that has no dataset, shows the error box "Please assign a
// Mastersource and Mastersource dataset" and returns false. Returns true
// when the user confirmed (MasterFields then holds the joined pairs).
bool EditMasterFields(TMySQLDatasetBase* DataSet);

}  // namespace rowset

#endif  // ROWSET_DESIGN_MYSQLLINKS_H_
