// The dataset framework driven through the in-memory test dataset: opening
// and closing, navigation over the record window, bookmarks, the editing
// state machine with its events, and failures inside the hooks.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host/DB.h"
#include "tests/common/MemDataset.h"

namespace rowset {
namespace {

using test::TMemDataset;

// A link that wants to see several records at once (like a grid).
class WindowLink : public TDataLink {
 public:
  explicit WindowLink(int count) { SetBufferCount(count); }
};

std::unique_ptr<TMemDataset> MakePeople(int rows) {
  auto ds = std::make_unique<TMemDataset>();
  ds->SetName("People");
  ds->FieldDefs()->Add("id", ftInteger, 0, true);
  ds->FieldDefs()->Add("name", ftString, 20);
  for (int i = 1; i <= rows; ++i) ds->AddRow({Variant(i), Variant("p" + std::to_string(i))});
  return ds;
}

int Id(TDataSet& ds) { return ds.FieldByName("id")->AsInteger(); }

// Records every event of the dataset into one list.
void Track(TDataSet& ds, std::vector<std::string>& log) {
  auto add = [&log](const char* name) { return [&log, name](TDataSet*) { log.push_back(name); }; };
  ds.BeforeOpen = add("BeforeOpen");
  ds.AfterOpen = add("AfterOpen");
  ds.BeforeClose = add("BeforeClose");
  ds.AfterClose = add("AfterClose");
  ds.BeforeInsert = add("BeforeInsert");
  ds.AfterInsert = add("AfterInsert");
  ds.BeforeEdit = add("BeforeEdit");
  ds.AfterEdit = add("AfterEdit");
  ds.BeforePost = add("BeforePost");
  ds.AfterPost = add("AfterPost");
  ds.BeforeCancel = add("BeforeCancel");
  ds.AfterCancel = add("AfterCancel");
  ds.BeforeDelete = add("BeforeDelete");
  ds.AfterDelete = add("AfterDelete");
  ds.BeforeScroll = add("BeforeScroll");
  ds.AfterScroll = add("AfterScroll");
  ds.BeforeRefresh = add("BeforeRefresh");
  ds.AfterRefresh = add("AfterRefresh");
  ds.OnNewRecord = add("OnNewRecord");
}

using Log = std::vector<std::string>;

TEST(DatasetFramework, OpenCloseCreatesDefaultFieldsAndReleasesBuffers) {
  auto ds = MakePeople(3);
  Log log;
  Track(*ds, log);
  EXPECT_FALSE(ds->Active());
  EXPECT_THROW(ds->First(), EDatabaseError);
  ds->Open();
  EXPECT_TRUE(ds->Active());
  EXPECT_EQ(ds->State(), dsBrowse);
  EXPECT_TRUE(ds->DefaultFields());
  ASSERT_EQ(ds->FieldCount(), 2);
  EXPECT_EQ(ds->FieldByName("NAME")->FieldNo(), 2);
  EXPECT_TRUE(ds->FieldByName("id")->Required());
  EXPECT_NE(dynamic_cast<TIntegerField*>(ds->FieldByName("id")), nullptr);
  EXPECT_EQ(ds->FindField("missing"), nullptr);
  EXPECT_THROW(ds->FieldByName("missing"), EDatabaseError);
  EXPECT_TRUE(ds->Bof());
  EXPECT_FALSE(ds->Eof());
  EXPECT_EQ(Id(*ds), 1);
  EXPECT_EQ(ds->BookmarkSize(), 8);
  EXPECT_EQ(log, (Log{"BeforeOpen", "AfterOpen", "AfterScroll"}));
  log.clear();
  ds->Close();
  EXPECT_EQ(log, (Log{"BeforeClose", "AfterClose"}));
  EXPECT_EQ(ds->State(), dsInactive);
  EXPECT_EQ(ds->FieldCount(), 0);  // default fields go with the cursor
  EXPECT_EQ(ds->LiveBuffers(), 0);
  // Opening again works, and Active(true) twice is harmless.
  ds->SetActive(true);
  ds->SetActive(true);
  EXPECT_EQ(Id(*ds), 1);
}

TEST(DatasetFramework, FailingOpenLeavesDatasetClosed) {
  auto ds = MakePeople(2);
  ds->FailHook = "InternalOpen";
  EXPECT_THROW(ds->Open(), EDatabaseError);
  EXPECT_FALSE(ds->Active());
  EXPECT_EQ(ds->LiveBuffers(), 0);
  ds->Open();  // the failure was one-off
  EXPECT_EQ(ds->RecordCount(), 2);

  // A persistent field that does not match its definition stops the open.
  auto bad = MakePeople(1);
  auto* f = new TStringField(bad.get());
  f->SetFieldName("id");
  f->SetDataSet(bad.get());
  try {
    bad->Open();
    FAIL() << "type mismatch not detected";
  } catch (const EDatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("Type mismatch for field 'id'"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(bad->Active());
  EXPECT_EQ(bad->LiveBuffers(), 0);
}

TEST(DatasetFramework, NavigationBofEofAtBothEnds) {
  auto ds = MakePeople(5);
  ds->Open();
  EXPECT_EQ(ds->RecordCount(), 5);
  EXPECT_EQ(ds->RecNo(), 0);
  ds->Next();
  ds->Next();
  EXPECT_EQ(Id(*ds), 3);
  EXPECT_EQ(ds->RecNo(), 2);
  ds->Last();
  EXPECT_TRUE(ds->Eof());
  EXPECT_FALSE(ds->Bof());
  EXPECT_EQ(Id(*ds), 5);
  ds->Next();  // past the end: stays, Eof
  EXPECT_TRUE(ds->Eof());
  EXPECT_EQ(Id(*ds), 5);
  ds->Prior();
  EXPECT_FALSE(ds->Eof());
  EXPECT_EQ(Id(*ds), 4);
  ds->First();
  EXPECT_TRUE(ds->Bof());
  ds->Prior();
  EXPECT_TRUE(ds->Bof());
  EXPECT_EQ(Id(*ds), 1);
  EXPECT_EQ(ds->MoveBy(3), 3);
  EXPECT_EQ(Id(*ds), 4);
  EXPECT_EQ(ds->MoveBy(10), 1);
  EXPECT_TRUE(ds->Eof());
  EXPECT_EQ(ds->MoveBy(-10), -4);
  EXPECT_TRUE(ds->Bof());
  EXPECT_EQ(Id(*ds), 1);
  ds->SetRecNo(3);
  EXPECT_EQ(Id(*ds), 4);

  // The usual loop visits every record once.
  std::vector<int> seen;
  for (ds->First(); !ds->Eof(); ds->Next()) seen.push_back(Id(*ds));
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4, 5}));
  seen.clear();
  for (ds->Last(); !ds->Bof(); ds->Prior()) seen.push_back(Id(*ds));
  EXPECT_EQ(seen, (std::vector<int>{5, 4, 3, 2, 1}));
}

TEST(DatasetFramework, EmptyDataset) {
  auto ds = MakePeople(0);
  ds->Open();
  EXPECT_TRUE(ds->IsEmpty());
  EXPECT_TRUE(ds->Bof());
  EXPECT_TRUE(ds->Eof());
  EXPECT_EQ(ds->RecordCount(), 0);
  EXPECT_EQ(ds->RecNo(), -1);
  ds->Next();
  ds->Prior();
  ds->Last();
  ds->First();
  EXPECT_TRUE(ds->Bof() && ds->Eof());
  EXPECT_TRUE(ds->FieldByName("id")->IsNull());
  EXPECT_EQ(ds->FieldByName("name")->AsString(), "");
  EXPECT_TRUE(ds->GetBookmark().empty());
  EXPECT_THROW(ds->Delete(), EDatabaseError);
  // Edit on an empty dataset inserts.
  ds->Edit();
  EXPECT_EQ(ds->State(), dsInsert);
  ds->FieldByName("id")->SetAsInteger(7);
  ds->Post();
  EXPECT_EQ(ds->RecordCount(), 1);
  EXPECT_EQ(Id(*ds), 7);
  EXPECT_FALSE(ds->IsEmpty());
}

// With a link that shows four records, the window scrolls through the rows
// both ways and always shows the right active record.
TEST(DatasetFramework, RecordWindowScrollsBothWays) {
  auto ds = MakePeople(12);
  TDataSource src;
  WindowLink link(4);
  link.SetDataSource(&src);
  src.SetDataSet(ds.get());
  ds->Open();
  EXPECT_EQ(ds->BufferCount(), 4);
  EXPECT_EQ(ds->BufferRecordCount(), 4);
  for (int i = 1; i <= 12; ++i) {
    EXPECT_EQ(Id(*ds), i);
    EXPECT_EQ(link.ActiveRecord(), std::min(i - 1, 3));
    ds->Next();
  }
  EXPECT_TRUE(ds->Eof());
  for (int i = 12; i >= 1; --i) {
    EXPECT_EQ(Id(*ds), i);
    EXPECT_EQ(link.ActiveRecord(), std::max(0, 3 - (12 - i)));
    ds->Prior();
  }
  EXPECT_TRUE(ds->Bof());
  ds->Last();
  EXPECT_EQ(Id(*ds), 12);
  EXPECT_EQ(link.ActiveRecord(), 3);
  EXPECT_EQ(link.RecordCount(), 4);
  ds->SetRecNo(5);
  EXPECT_EQ(Id(*ds), 6);
  // Shrinking the window keeps the active record.
  link.SetBufferCount(2);
  EXPECT_EQ(Id(*ds), 6);
  ds->Next();
  EXPECT_EQ(Id(*ds), 7);
  link.SetBufferCount(1);
  EXPECT_EQ(Id(*ds), 7);
  ds->Prior();
  EXPECT_EQ(Id(*ds), 6);
  // Removing the link goes back to one buffer.
  link.SetBufferCount(5);
  link.SetDataSource(nullptr);
  EXPECT_EQ(ds->BufferCount(), 1);
  EXPECT_EQ(Id(*ds), 6);
}

TEST(DatasetFramework, BookmarksSurviveMovesInsertsAndDeletes) {
  auto ds = MakePeople(6);
  TDataSource src;
  WindowLink link(3);
  link.SetDataSource(&src);
  src.SetDataSet(ds.get());
  ds->Open();
  ds->MoveBy(3);
  TBookmark b4 = ds->GetBookmark();
  ASSERT_EQ(b4.size(), 8u);
  EXPECT_TRUE(ds->BookmarkValid(b4));
  ds->First();
  TBookmark b1 = ds->GetBookmark();
  EXPECT_EQ(ds->CompareBookmarks(b1, b4), -1);
  EXPECT_EQ(ds->CompareBookmarks(b4, b1), 1);
  EXPECT_EQ(ds->CompareBookmarks(b4, b4), 0);
  ds->Last();
  ds->GotoBookmark(b4);
  EXPECT_EQ(Id(*ds), 4);
  // Delete a row before it and insert one: the bookmark still finds row 4.
  ds->First();
  ds->Delete();
  ds->Insert();
  ds->FieldByName("id")->SetAsInteger(100);
  ds->Post();
  ds->Last();
  ds->GotoBookmark(b4);
  EXPECT_EQ(Id(*ds), 4);
  // Delete row 4 itself: the bookmark becomes invalid, and going to it
  // fails with a clear error while the dataset stays usable.
  ds->Delete();
  EXPECT_FALSE(ds->BookmarkValid(b4));
  int shown = Id(*ds);
  EXPECT_THROW(ds->GotoBookmark(b4), EDatabaseError);
  EXPECT_EQ(Id(*ds), shown);
  ds->Next();
  EXPECT_NE(Id(*ds), 4);
  // Wrong size and empty bookmarks.
  EXPECT_THROW(ds->GotoBookmark(TBookmark{1, 2, 3}), EDatabaseError);
  ds->GotoBookmark(TBookmark{});  // nothing happens
  ds->FreeBookmark(b1);
  EXPECT_TRUE(b1.empty());
}

TEST(DatasetFramework, EditPostAndCancelWithEvents) {
  auto ds = MakePeople(3);
  ds->Open();
  Log log;
  Track(*ds, log);
  ds->Next();
  log.clear();
  ds->Edit();
  EXPECT_EQ(ds->State(), dsEdit);
  EXPECT_EQ(log, (Log{"BeforeEdit", "AfterEdit"}));
  ds->FieldByName("name")->SetAsString("changed");
  EXPECT_TRUE(ds->Modified());
  log.clear();
  ds->Post();
  EXPECT_EQ(log, (Log{"BeforePost", "AfterPost"}));
  EXPECT_EQ(ds->State(), dsBrowse);
  EXPECT_FALSE(ds->Modified());
  EXPECT_EQ(ds->Rows()[1].values[1].AsString(), "changed");
  EXPECT_EQ(Id(*ds), 2);

  ds->Edit();
  ds->FieldByName("name")->SetAsString("discarded");
  log.clear();
  ds->Cancel();
  EXPECT_EQ(log, (Log{"BeforeCancel", "AfterCancel"}));
  EXPECT_EQ(ds->FieldByName("name")->AsString(), "changed");
  EXPECT_EQ(ds->Rows()[1].values[1].AsString(), "changed");

  // Moving while editing posts a modified record and cancels an unmodified
  // one.
  ds->Edit();
  ds->FieldByName("name")->SetAsString("posted by move");
  ds->Next();
  EXPECT_EQ(ds->State(), dsBrowse);
  EXPECT_EQ(ds->Rows()[1].values[1].AsString(), "posted by move");
  log.clear();
  ds->Edit();
  ds->Prior();
  EXPECT_EQ(log, (Log{"BeforeEdit", "AfterEdit", "BeforeCancel", "AfterCancel", "BeforeScroll", "AfterScroll"}));

  // Post and Cancel outside edit mode.
  EXPECT_THROW(ds->Post(), EDatabaseError);
  ds->Cancel();  // nothing
}

TEST(DatasetFramework, InsertAppendDeleteWithEvents) {
  auto ds = MakePeople(3);
  ds->Open();
  Log log;
  Track(*ds, log);
  ds->OnNewRecord = [&log](TDataSet* d) {
    log.push_back("OnNewRecord");
    d->FieldByName("name")->SetAsString("default");
  };
  ds->Next();  // on row 2
  log.clear();
  ds->Insert();
  EXPECT_EQ(ds->State(), dsInsert);
  EXPECT_EQ(log, (Log{"BeforeInsert", "OnNewRecord", "AfterInsert"}));
  EXPECT_EQ(ds->FieldByName("name")->AsString(), "default");
  EXPECT_TRUE(ds->FieldByName("id")->IsNull());
  EXPECT_FALSE(ds->Modified());  // the new record's defaults do not count
  ds->FieldByName("id")->SetAsInteger(15);
  log.clear();
  ds->Post();
  EXPECT_EQ(log, (Log{"BeforePost", "AfterPost"}));
  EXPECT_EQ(Id(*ds), 15);
  // Inserted before the record that was current.
  ds->First();
  std::vector<int> ids;
  for (; !ds->Eof(); ds->Next()) ids.push_back(Id(*ds));
  EXPECT_EQ(ids, (std::vector<int>{1, 15, 2, 3}));

  ds->First();
  ds->Append();
  ds->FieldByName("id")->SetAsInteger(99);
  ds->Post();
  EXPECT_EQ(Id(*ds), 99);
  EXPECT_EQ(ds->RecNo(), 4);
  ds->Last();
  EXPECT_EQ(Id(*ds), 99);

  // Cancelling an insert returns to the record that was current, with the
  // scroll events.
  ds->First();
  ds->Next();
  log.clear();
  ds->Insert();
  ds->Cancel();
  EXPECT_EQ(log, (Log{"BeforeInsert", "OnNewRecord", "AfterInsert", "BeforeCancel", "BeforeScroll",
                      "AfterCancel", "AfterScroll"}));
  EXPECT_EQ(Id(*ds), 15);
  EXPECT_EQ(ds->RecordCount(), 5);

  log.clear();
  ds->Delete();
  EXPECT_EQ(log, (Log{"BeforeDelete", "BeforeScroll", "AfterDelete", "AfterScroll"}));
  EXPECT_EQ(Id(*ds), 2);
  ds->Last();
  ds->Delete();
  EXPECT_EQ(Id(*ds), 3);  // the new last record
  EXPECT_EQ(ds->RecordCount(), 3);
  // Delete while inserting cancels the insert.
  ds->Insert();
  ds->Delete();
  EXPECT_EQ(ds->State(), dsBrowse);
  EXPECT_EQ(ds->RecordCount(), 3);

  // Required field: a record without id is refused and stays in insert.
  ds->Append();
  try {
    ds->Post();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("Field 'id' must have a value"), std::string::npos) << e.what();
  }
  EXPECT_EQ(ds->State(), dsInsert);
  ds->Cancel();
  EXPECT_EQ(ds->RecordCount(), 3);
}

TEST(DatasetFramework, InsertIntoEmptyAndAppendInWindow) {
  auto ds = MakePeople(0);
  TDataSource src;
  WindowLink link(3);
  link.SetDataSource(&src);
  src.SetDataSet(ds.get());
  ds->Open();
  for (int i = 1; i <= 5; ++i) {
    ds->Append();
    ds->FieldByName("id")->SetAsInteger(i);
    ds->Post();
    EXPECT_EQ(Id(*ds), i);
  }
  std::vector<int> ids;
  for (ds->First(); !ds->Eof(); ds->Next()) ids.push_back(Id(*ds));
  EXPECT_EQ(ids, (std::vector<int>{1, 2, 3, 4, 5}));
  ds->Last();
  ds->Insert();
  ds->FieldByName("id")->SetAsInteger(45);
  ds->Post();
  ids.clear();
  for (ds->First(); !ds->Eof(); ds->Next()) ids.push_back(Id(*ds));
  EXPECT_EQ(ids, (std::vector<int>{1, 2, 3, 4, 45, 5}));
}

TEST(DatasetFramework, ReadOnlyDatasetAndFieldsRefuseChanges) {
  auto ds = MakePeople(2);
  ds->SetReadOnly(true);
  ds->Open();
  EXPECT_THROW(ds->Edit(), EDatabaseError);
  EXPECT_THROW(ds->Insert(), EDatabaseError);
  EXPECT_THROW(ds->Append(), EDatabaseError);
  EXPECT_THROW(ds->Delete(), EDatabaseError);
  EXPECT_EQ(ds->State(), dsBrowse);
  EXPECT_EQ(ds->RecordCount(), 2);
  ds->Close();
  ds->SetReadOnly(false);
  ds->Open();
  // Writing in browse mode is refused instead of silently lost.
  EXPECT_THROW(ds->FieldByName("name")->SetAsString("x"), EDatabaseError);
  ds->FieldByName("name")->SetReadOnly(true);
  ds->Edit();
  try {
    ds->FieldByName("name")->SetAsString("x");
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("Field 'name' cannot be modified"), std::string::npos) << e.what();
  }
  ds->Cancel();
}

TEST(DatasetFramework, HookFailuresKeepStateAndErrorEventsDecide) {
  auto ds = MakePeople(3);
  ds->Open();
  ds->FailHook = "InternalEdit";
  EXPECT_THROW(ds->Edit(), EDatabaseError);
  EXPECT_EQ(ds->State(), dsBrowse);

  // OnEditError retrying succeeds the second time.
  int calls = 0;
  ds->OnEditError = [&](TDataSet*, EDatabaseError& e, TDataAction& action) {
    ++calls;
    action = daRetry;
  };
  ds->FailHook = "InternalEdit";
  ds->Edit();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(ds->State(), dsEdit);

  // A failing post keeps the edit; OnPostError daAbort turns it into a
  // silent abort.
  ds->FieldByName("name")->SetAsString("keep");
  ds->FailHook = "InternalPost";
  EXPECT_THROW(ds->Post(), EDatabaseError);
  EXPECT_EQ(ds->State(), dsEdit);
  EXPECT_EQ(ds->FieldByName("name")->AsString(), "keep");
  ds->OnPostError = [](TDataSet*, EDatabaseError&, TDataAction& action) { action = daAbort; };
  ds->FailHook = "InternalPost";
  EXPECT_THROW(ds->Post(), EAbort);
  EXPECT_EQ(ds->State(), dsEdit);
  ds->Post();
  EXPECT_EQ(ds->Rows()[0].values[1].AsString(), "keep");

  ds->FailHook = "InternalDelete";
  EXPECT_THROW(ds->Delete(), EDatabaseError);
  EXPECT_EQ(ds->RecordCount(), 3);
  bool seen = false;
  ds->OnDeleteError = [&](TDataSet*, EDatabaseError& e, TDataAction& action) {
    seen = std::string(e.what()).find("injected InternalDelete") != std::string::npos;
  };
  ds->FailHook = "InternalDelete";
  EXPECT_THROW(ds->Delete(), EDatabaseError);
  EXPECT_TRUE(seen);

  // A before-event that aborts stops the operation.
  ds->BeforeEdit = [](TDataSet*) { Abort(); };
  EXPECT_THROW(ds->Edit(), EAbort);
  EXPECT_EQ(ds->State(), dsBrowse);
  ds->BeforeEdit = nullptr;

  // OnNewRecord failing leaves browse mode on the old record.
  ds->Next();
  ds->OnNewRecord = [](TDataSet*) { throw EDatabaseError("no default"); };
  EXPECT_THROW(ds->Insert(), EDatabaseError);
  EXPECT_EQ(ds->State(), dsBrowse);
  EXPECT_EQ(Id(*ds), 2);
  EXPECT_EQ(ds->RecordCount(), 3);
}

TEST(DatasetFramework, RefreshKeepsPosition) {
  auto ds = MakePeople(4);
  ds->Open();
  ds->MoveBy(2);
  ds->MutableRows()[2].values[1] = Variant("outside change");
  Log log;
  Track(*ds, log);
  ds->Refresh();
  EXPECT_EQ(log, (Log{"BeforeRefresh", "AfterRefresh"}));
  EXPECT_EQ(Id(*ds), 3);
  EXPECT_EQ(ds->FieldByName("name")->AsString(), "outside change");
}

TEST(DatasetFramework, DestructionClosesAndReportsCloseFailure) {
  std::vector<std::string> reported;
  SetApplicationExceptionHandler([&](TObject*, std::exception_ptr e) {
    try {
      std::rethrow_exception(e);
    } catch (const std::exception& x) {
      reported.push_back(x.what());
    }
  });
  {
    auto ds = MakePeople(2);
    ds->Open();
    ds->FailHook = "InternalClose";
    EXPECT_NO_THROW(ds.reset());
  }
  SetApplicationExceptionHandler(nullptr);
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_NE(reported[0].find("injected InternalClose"), std::string::npos);

  // An explicit close shows the error, and the dataset is closed anyway.
  auto ds = MakePeople(2);
  ds->Open();
  ds->FailHook = "InternalClose";
  EXPECT_THROW(ds->Close(), EDatabaseError);
  EXPECT_FALSE(ds->Active());
  EXPECT_EQ(ds->LiveBuffers(), 0);
}

TEST(DatasetFramework, StreamedActiveOpensAfterLoading) {
  TComponent form;
  auto* ds = new TMemDataset(&form);
  ds->FieldDefs()->Add("id", ftInteger);
  ds->AddRow({Variant(1)});
  form.BeginLoading();
  ds->SetActive(true);
  EXPECT_FALSE(ds->Active());
  form.EndLoading();
  EXPECT_TRUE(ds->Active());
}

}  // namespace
}  // namespace rowset
