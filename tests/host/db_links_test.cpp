// Data sources, data links, master/detail links and the connection base.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/DB.h"
#include "host/DBConnection.h"
#include "tests/common/MemDataset.h"

namespace rowset {
namespace {

using test::TMemDataset;
using Log = std::vector<std::string>;

std::unique_ptr<TMemDataset> MakeNumbers(int rows) {
  auto ds = std::make_unique<TMemDataset>();
  ds->FieldDefs()->Add("id", ftInteger);
  ds->FieldDefs()->Add("name", ftString, 10);
  for (int i = 1; i <= rows; ++i) ds->AddRow({Variant(i), Variant("n" + std::to_string(i))});
  return ds;
}

class RecordingLink : public TDataLink {
 public:
  Log log;

 protected:
  void ActiveChanged() override { log.push_back(Active() ? "active" : "inactive"); }
  void EditingChanged() override { log.push_back(Editing() ? "editing" : "not editing"); }
  void DataSetChanged() override { log.push_back("changed"); }
  void DataSetScrolled(int Distance) override { log.push_back("scrolled " + std::to_string(Distance)); }
  void RecordChanged(TField* Field) override {
    log.push_back("record " + (Field != nullptr ? Field->FieldName() : std::string("-")));
  }
  void UpdateData() override { log.push_back("update"); }
  void CheckBrowseMode() override { log.push_back("check"); }
};

TEST(DbLinks, DataSourceSeesStateAndDataEvents) {
  auto ds = MakeNumbers(3);
  TDataSource src;
  Log events;
  src.OnStateChange = [&](TObject*) { events.push_back("state " + std::to_string(src.State())); };
  src.OnDataChange = [&](TObject*, TField* f) { events.push_back(f ? "data " + f->FieldName() : "data"); };
  src.OnUpdateData = [&](TObject*) { events.push_back("update"); };
  src.SetDataSet(ds.get());
  RecordingLink link;
  link.SetDataSource(&src);
  EXPECT_FALSE(link.Active());
  ds->Open();
  EXPECT_TRUE(link.Active());
  EXPECT_EQ(link.DataSet(), ds.get());
  EXPECT_EQ(src.State(), dsBrowse);
  EXPECT_EQ(events, (Log{"state 1", "data"}));
  EXPECT_EQ(link.log, (Log{"active"}));
  events.clear();
  link.log.clear();

  ds->Next();
  EXPECT_EQ(events, (Log{"data"}));
  EXPECT_EQ(link.log, (Log{"check", "scrolled 1"}));
  events.clear();
  link.log.clear();

  ds->Edit();
  EXPECT_TRUE(link.Editing());
  ds->FieldByName("name")->SetAsString("x");
  EXPECT_EQ(link.log, (Log{"check", "editing", "record -", "record name"}));
  EXPECT_EQ(events, (Log{"state 2", "data", "data name"}));
  events.clear();
  link.log.clear();
  ds->Post();
  EXPECT_EQ(link.log, (Log{"update", "check", "not editing", "changed"}));
  EXPECT_EQ(events, (Log{"update", "state 1", "data"}));

  // Disabled controls hear nothing until they are enabled again, then one
  // change.
  link.log.clear();
  ds->DisableControls();
  ds->DisableControls();
  ds->First();
  ds->Last();
  ds->EnableControls();
  EXPECT_TRUE(link.log.empty());
  ds->EnableControls();
  EXPECT_EQ(link.log, (Log{"changed"}));
  EXPECT_EQ(ds->FieldByName("id")->AsInteger(), 3);

  // A disabled data source makes its links inactive.
  link.log.clear();
  src.SetEnabled(false);
  EXPECT_FALSE(link.Active());
  src.SetEnabled(true);
  EXPECT_TRUE(link.Active());
  ds->Close();
  EXPECT_FALSE(link.Active());
  EXPECT_EQ(link.log, (Log{"inactive", "active", "inactive"}));
}

class ThrowingLink : public TDataLink {
 protected:
  void ActiveChanged() override {
    if (!Active()) throw EDatabaseError("link refuses to let go");
  }
};

TEST(DbLinks, FailingHandlersDuringDestructionGoToTheApplicationHandler) {
  std::vector<std::string> reported;
  SetApplicationExceptionHandler([&](TObject*, std::exception_ptr e) {
    try {
      std::rethrow_exception(e);
    } catch (const std::exception& x) {
      reported.push_back(x.what());
    }
  });
  auto ds = MakeNumbers(1);
  ThrowingLink link1, link2;
  {
    TDataSource src;
    src.SetDataSet(ds.get());
    link1.SetDataSource(&src);
    ds->Open();
  }  // the source goes while its dataset is open
  EXPECT_EQ(reported.size(), 1u);
  EXPECT_EQ(link1.DataSource(), nullptr);
  TDataSource src2;
  src2.SetDataSet(ds.get());
  link2.SetDataSource(&src2);
  // An explicit close reports the handler's failure but closes all the
  // same.
  EXPECT_THROW(ds->Close(), EDatabaseError);
  EXPECT_FALSE(ds->Active());
  EXPECT_EQ(ds->LiveBuffers(), 0);
  ds->Open();
  EXPECT_NO_THROW(ds.reset());  // the dataset goes while a link is active
  SetApplicationExceptionHandler(nullptr);
  EXPECT_GE(reported.size(), 2u);
  EXPECT_EQ(src2.DataSet(), nullptr);
}

TEST(DbLinks, AutoEditThroughDataSourceAndLink) {
  auto ds = MakeNumbers(2);
  TDataSource src;
  src.SetDataSet(ds.get());
  RecordingLink link;
  link.SetDataSource(&src);
  ds->Open();
  EXPECT_TRUE(link.Edit());
  EXPECT_EQ(ds->State(), dsEdit);
  ds->Cancel();
  src.SetAutoEdit(false);
  EXPECT_FALSE(link.Edit());
  EXPECT_EQ(ds->State(), dsBrowse);
  link.SetReadOnly(true);
  src.SetAutoEdit(true);
  EXPECT_FALSE(link.Edit());
}

TEST(DbLinks, LifetimesOfSourcesLinksAndDatasets) {
  auto ds = MakeNumbers(2);
  RecordingLink link;
  {
    TDataSource src;
    src.SetDataSet(ds.get());
    link.SetDataSource(&src);
    ds->Open();
    EXPECT_TRUE(link.Active());
  }
  EXPECT_EQ(link.DataSource(), nullptr);
  EXPECT_FALSE(link.Active());

  TDataSource src2;
  src2.SetDataSet(ds.get());
  {
    RecordingLink temp;
    temp.SetDataSource(&src2);
    EXPECT_EQ(src2.DataLinkCount(), 1);
  }
  EXPECT_EQ(src2.DataLinkCount(), 0);
  link.SetDataSource(&src2);
  ds.reset();  // the dataset goes first
  EXPECT_EQ(src2.DataSet(), nullptr);
  EXPECT_FALSE(link.Active());
}

TEST(DbLinks, MasterLinkRefreshesDetail) {
  auto master = MakeNumbers(3);
  TMemDataset detail;
  detail.FieldDefs()->Add("master_id", ftInteger);
  detail.FieldDefs()->Add("item", ftString, 10);
  detail.AddRow({Variant(1), Variant("a")});
  detail.AddRow({Variant(2), Variant("b")});
  detail.AddRow({Variant(1), Variant("c")});
  detail.AddRow({Variant(3), Variant("d")});
  TDataSource src;
  src.SetDataSet(master.get());
  detail.SetMaster(&src, "master_id", "id");
  EXPECT_EQ(detail.GetDataSource(), &src);
  master->Open();
  detail.Open();
  EXPECT_EQ(detail.MasterLink().Fields().size(), 1u);
  EXPECT_EQ(detail.MasterLink().DataSet(), master.get());
  EXPECT_EQ(detail.RecordCount(), 2);
  EXPECT_EQ(detail.FieldByName("item")->AsString(), "a");
  master->Next();
  EXPECT_EQ(detail.RecordCount(), 1);
  EXPECT_EQ(detail.FieldByName("item")->AsString(), "b");
  master->Last();
  EXPECT_EQ(detail.FieldByName("item")->AsString(), "d");
  // Editing a master field that is linked refreshes the detail; editing
  // another one does not.
  int refreshes = detail.RefreshCount();
  master->Edit();
  master->FieldByName("name")->SetAsString("zz");
  EXPECT_EQ(detail.RefreshCount(), refreshes);
  master->FieldByName("id")->SetAsInteger(1);
  master->Post();
  EXPECT_GT(detail.RefreshCount(), refreshes);
  EXPECT_EQ(detail.RecordCount(), 2);

  // A link back to the master would be circular.
  TDataSource detail_src;
  detail_src.SetDataSet(&detail);
  EXPECT_TRUE(master->IsLinkedTo(&src));
  EXPECT_TRUE(detail.IsLinkedTo(&detail_src));
  EXPECT_TRUE(detail.MasterLink().IsLinkedTo(&detail_src));
  TMemDataset third;
  third.FieldDefs()->Add("id", ftInteger);
  third.SetMaster(&detail_src, "id", "master_id");
  TDataSource third_src;
  third_src.SetDataSet(&third);
  EXPECT_TRUE(third.IsLinkedTo(&third_src));
  EXPECT_THROW(src.SetDataSet(&third), EDatabaseError);
  EXPECT_EQ(src.DataSet(), master.get());

  // Unknown master field names raise when the link activates.
  TMemDataset bad;
  bad.FieldDefs()->Add("x", ftInteger);
  bad.MasterLink().SetFieldNames("nope");
  EXPECT_THROW(bad.MasterLink().SetDataSource(&src), EDatabaseError);
}

// A connection whose "server" is a flag.
class TestConnection : public TCustomConnection {
 public:
  using TCustomConnection::TCustomConnection;
  ~TestConnection() override {
    try {
      Close();
    } catch (...) {
      ApplicationHandleException(this);
    }
  }
  bool GetConnected() override { return up_; }
  bool fail = false;
  Log* log = nullptr;

 protected:
  void DoConnect() override {
    if (log) log->push_back("DoConnect");
    if (fail) throw EDatabaseError("cannot connect");
    up_ = true;
  }
  void DoDisconnect() override {
    if (log) log->push_back("DoDisconnect");
    up_ = false;
  }

 private:
  bool up_ = false;
};

TEST(DbLinks, ConnectionClosesItsRegisteredClients) {
  TestConnection conn;
  Log log;
  conn.log = &log;
  conn.BeforeConnect = [&](TObject*) { log.push_back("BeforeConnect"); };
  conn.AfterConnect = [&](TObject*) { log.push_back("AfterConnect"); };
  conn.BeforeDisconnect = [&](TObject*) { log.push_back("BeforeDisconnect"); };
  conn.AfterDisconnect = [&](TObject*) { log.push_back("AfterDisconnect"); };
  auto a = MakeNumbers(1);
  auto b = MakeNumbers(1);
  auto close_on_down = [&](TMemDataset* ds, const char* name) {
    return [&, ds, name](TObject* sender, bool connecting) {
      EXPECT_EQ(sender, &conn);
      log.push_back(std::string(name) + (connecting ? " up" : " down"));
      if (!connecting) ds->Close();
    };
  };
  conn.RegisterClient(a.get(), close_on_down(a.get(), "a"));
  conn.RegisterClient(b.get(), close_on_down(b.get(), "b"));
  TObject plain;
  conn.RegisterClient(&plain);  // a client without event
  EXPECT_EQ(conn.DataSetCount(), 2);
  EXPECT_EQ(conn.ClientCount(), 3);
  EXPECT_EQ(conn.DataSets(1), b.get());
  EXPECT_THROW(conn.DataSets(2), EListError);

  conn.SetConnected(true);
  EXPECT_TRUE(conn.Connected());
  EXPECT_EQ(log, (Log{"BeforeConnect", "DoConnect", "a up", "b up", "AfterConnect"}));
  conn.SetConnected(true);  // no change, no events
  a->Open();
  b->Open();
  log.clear();
  conn.Close();
  EXPECT_EQ(log, (Log{"BeforeDisconnect", "a down", "b down", "DoDisconnect", "AfterDisconnect"}));
  EXPECT_FALSE(a->Active());
  EXPECT_FALSE(b->Active());

  // A client that unregisters while being told is handled.
  conn.UnRegisterClient(a.get());
  conn.RegisterClient(a.get(), [&](TObject*, bool) {
    conn.UnRegisterClient(a.get());
    conn.UnRegisterClient(b.get());
  });
  conn.Open();
  EXPECT_EQ(conn.DataSetCount(), 0);
  EXPECT_EQ(conn.ClientCount(), 1);
  conn.UnRegisterClient(&plain);
  conn.UnRegisterClient(&plain);  // unknown client: nothing
  conn.Close();

  // A failing connect stays disconnected and skips the after-event.
  log.clear();
  conn.fail = true;
  EXPECT_THROW(conn.Open(), EDatabaseError);
  EXPECT_FALSE(conn.Connected());
  EXPECT_EQ(log, (Log{"BeforeConnect", "DoConnect"}));
}

TEST(DbLinks, ConnectedWhileLoadingIsDeferred) {
  TComponent form;
  auto* conn = new TestConnection(&form);
  form.BeginLoading();
  conn->SetConnected(true);
  EXPECT_FALSE(conn->Connected());
  form.EndLoading();
  EXPECT_TRUE(conn->Connected());

  // At run time a failing deferred connect propagates; at design time it
  // goes to the application's handler.
  TComponent form2;
  auto* bad = new TestConnection(&form2);
  bad->fail = true;
  form2.BeginLoading();
  bad->SetConnected(true);
  EXPECT_THROW(form2.EndLoading(), EDatabaseError);

  int handled = 0;
  SetApplicationExceptionHandler([&](TObject*, std::exception_ptr) { ++handled; });
  TComponent form3;
  auto* design = new TestConnection(&form3);
  design->fail = true;
  form3.SetDesigning(true);
  form3.BeginLoading();
  design->SetConnected(true);
  EXPECT_NO_THROW(form3.EndLoading());
  SetApplicationExceptionHandler(nullptr);
  EXPECT_EQ(handled, 1);
  EXPECT_FALSE(design->Connected());
}

}  // namespace
}  // namespace rowset
