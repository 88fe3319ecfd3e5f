// Registration, the property editors' error boxes, warnings and No paths, the
// driver editors, and the link designer on datasets whose field definitions
// are given (no server needed for any of these).
#include <gtest/gtest.h>

#include <iostream>
#include <memory>
#include <sstream>

#include "design/MySQLLinks.h"
#include "design/MySQLPropEdit.h"
#include "host/Exceptions.h"
#include "tests/design/DesignTestUtil.h"

namespace rowset {
namespace {

using test::TDialogScope;
using test::TLinksScope;

std::unique_ptr<TPropertyEditor> EditorFor(std::vector<TComponent*> selection,
                                           const std::string& prop) {
  Register();
  return DesignRegistry().GetPropertyEditor(selection, prop);
}

TEST(DesignRegistration, PaletteStreamedClassesAndEditorTable) {
  Register();
  Register();  // a second call adds nothing
  TDesignRegistry& r = DesignRegistry();
  EXPECT_EQ(r.PaletteClasses("MySQL"),
            (std::vector<std::string>{"TMySQLServer", "TMySQLDataset", "TMySQLTable", "TMySQLQuery"}));
  for (const TPaletteEntry& e : r.Components()) {
    std::unique_ptr<TComponent> c = e.Create();
    EXPECT_EQ(c->ClassName(), e.ClassName);
  }
  EXPECT_EQ(r.StreamedClasses(), (std::vector<std::string>{"TMySQLStringField", "TMySQLBase",
                                                           "TViVURIzodor", "TMySQLLibrary",
                                                           "TMySQLEmbedded"}));
  std::vector<std::vector<std::string>> table;
  for (const TPropertyEditorEntry& e : r.PropertyEditors())
    table.push_back({e.PropertyType, e.ComponentClass, e.PropertyName, e.EditorClass});
  const std::vector<std::vector<std::string>> expected = {
      {"TMySQLDriverType", "TMySQLServer", "DriverKind", "TMySQLDriverKindProperty"},
      {"TMySQLBase", "TMySQLServer", "DriverProperties", "TMySQLDriverProperty"},
      {"string", "TMySQLServer", "DatabaseName", "TMySQLDatabaseNameProperty"},
      {"string", "TMySQLDatasetBase", "DatabaseName", "TMySQLDatabaseNameProperty"},
      {"string", "TMySQLDatasetBase", "TableName", "TMySQLDSTableNameProperty"},
      {"string", "TMySQLDatasetBase", "FieldName", "TMySQLDSFieldNameProperty"},
      {"string", "TMySQLTable", "IndexFieldNames", "TMySQLDSFieldNameProperty"},
      {"string", "TMySQLDatasetBase", "MasterFields", "TMySQLMasterFieldsProperty"},
      {"boolean", "TMySQLDatasetBase", "Active", "TMySQLDatasetBaseActiveProperty"},
      {"boolean", "TMySQLServer", "Connected", "TMySQLServerConnectedProperty"}};
  EXPECT_EQ(table, expected);
}

TEST(DesignRegistration, EditorsResolveByClassAndProperty) {
  TMySQLServer server;
  TMySQLDataset dataset;
  TMySQLQuery query;
  TMySQLTable table;
  auto is = [](const std::unique_ptr<TPropertyEditor>& e, auto* type) {
    return e && dynamic_cast<std::remove_pointer_t<decltype(type)>*>(e.get()) != nullptr;
  };
  EXPECT_TRUE(is(EditorFor({&server}, "DatabaseName"), (TMySQLDatabaseNameProperty*)nullptr));
  EXPECT_TRUE(is(EditorFor({&query, &table}, "databasename"), (TMySQLDatabaseNameProperty*)nullptr));
  EXPECT_TRUE(is(EditorFor({&dataset}, "FieldName"), (TMySQLDSFieldNameProperty*)nullptr));
  EXPECT_TRUE(is(EditorFor({&table}, "IndexFieldNames"), (TMySQLDSFieldNameProperty*)nullptr));
  EXPECT_TRUE(is(EditorFor({&table}, "Active"), (TMySQLDatasetBaseActiveProperty*)nullptr));
  EXPECT_TRUE(is(EditorFor({&server}, "Connected"), (TMySQLServerConnectedProperty*)nullptr));
  // A property the class does not publish, a mixed selection, an unknown name.
  EXPECT_EQ(EditorFor({&query}, "FieldName"), nullptr);
  EXPECT_EQ(EditorFor({&dataset}, "IndexFieldNames"), nullptr);
  EXPECT_EQ(EditorFor({&server, &query}, "DatabaseName"), nullptr);
  EXPECT_EQ(EditorFor({&server}, "Nonsense"), nullptr);
  EXPECT_EQ(EditorFor({}, "Active"), nullptr);

  auto name = EditorFor({&query}, "TableName");
  EXPECT_EQ(name->GetAttributes().Word(),
            (TPropertyAttributes{paValueList, paSortList, paMultiSelect}).Word());
  name->SetValue("orders");
  EXPECT_EQ(query.TableName(), "orders");
  EXPECT_EQ(name->GetValue(), "orders");
}

TEST(DesignEditors, ValueListsNeedServerDatabaseAndTableFirst) {
  TDialogScope dialogs;
  TMySQLServer server;
  TMySQLDataset ds;
  TStringList values;
  values.Add("stale");
  EditorFor({&ds}, "DatabaseName")->GetValues(values);
  EditorFor({&ds}, "TableName")->GetValues(values);
  EditorFor({&ds}, "FieldName")->GetValues(values);
  ds.SetServer(&server);
  EditorFor({&ds}, "TableName")->GetValues(values);  // no database anywhere
  ds.SetDatabaseName("shop");
  EditorFor({&ds}, "FieldName")->GetValues(values);  // no table
  EXPECT_EQ(values.Count(), 0);
  ASSERT_EQ(dialogs->boxes.size(), 5u);
  EXPECT_EQ(dialogs->boxes[0].Msg, "Must select Server first");
  const std::string tables =
      "Must select Server first and optionally a DatabaseName if the TMySQLServer does not have "
      "one set";
  const std::string fields = "Must select Server && DatabaseName && TableName first";
  EXPECT_EQ(dialogs->boxes[1].Msg, tables);
  EXPECT_EQ(dialogs->boxes[2].Msg, fields);
  EXPECT_EQ(dialogs->boxes[3].Msg, tables);
  EXPECT_EQ(dialogs->boxes[4].Msg, fields);
  for (const auto& b : dialogs->boxes) {
    EXPECT_EQ(b.Type, mtError);
    EXPECT_EQ(b.Buttons.Word(), TMsgDlgButtons{mbOK}.Word());
  }
}

TEST(DesignEditors, DriverKindIsReadOnlyAndDriverPropertiesChoosesTheKind) {
  TMySQLServer a, b;
  auto kind = EditorFor({&a}, "DriverKind");
  EXPECT_TRUE(kind->GetAttributes().Contains(paReadOnly));
  EXPECT_EQ(kind->GetValue(), "dtDirect");
  EXPECT_THROW(kind->SetValue("dtLibrary"), EConvertError);
  EXPECT_EQ(a.DriverKind(), dtDirect);

  auto driver = EditorFor({&a, &b}, "DriverProperties");
  TStringList values;
  driver->GetValues(values);
  EXPECT_EQ(values.CommaText(), "Direct,Library,Embedded");
  EXPECT_EQ(driver->GetValue(), "Direct");
  driver->SetValue("library");
  EXPECT_EQ(a.DriverKind(), dtLibrary);
  EXPECT_EQ(b.DriverKind(), dtLibrary);
  EXPECT_EQ(driver->GetValue(), "Library");
  EXPECT_EQ(kind->GetValue(), "dtLibrary");
  EXPECT_TRUE(driver->GetAttributes().Contains(paSubProperties));
  auto subs = driver->GetProperties();
  ASSERT_EQ(subs.size(), 2u);
  EXPECT_EQ(subs[0]->GetName(), "Options");
  EXPECT_EQ(subs[1]->GetName(), "ClientDLL");
  subs[1]->SetValue("/opt/libmariadb.so.3");
  EXPECT_EQ(dynamic_cast<TMySQLLibrary*>(a.DriverProperties())->ClientDLL(), "/opt/libmariadb.so.3");
  subs[0]->SetValue("connect_timeout=7\n");
  EXPECT_EQ(a.DriverProperties()->Options().Values("connect_timeout"), "7");

  driver->SetValue("EMBEDDED");
  EXPECT_EQ(b.DriverKind(), dtEmbedded);
  driver->SetValue("anything else");
  EXPECT_EQ(a.DriverKind(), dtDirect);
  EXPECT_EQ(b.DriverKind(), dtDirect);
  EXPECT_EQ(driver->GetProperties().size(), 1u);  // the direct driver has no library name
}

TEST(DesignEditors, BooleansTakeTrueOrFalseOnly) {
  TMySQLQuery ds;
  auto active = EditorFor({&ds}, "Active");
  TStringList values;
  active->GetValues(values);
  EXPECT_EQ(values.CommaText(), "False,True");
  EXPECT_EQ(active->GetValue(), "False");
  EXPECT_THROW(active->SetValue("yes"), EConvertError);
  EXPECT_FALSE(ds.Active());
}

// Each warning of the Active editor, answered No, leaves the dataset closed
// and asks nothing more.
class ActiveWarnings : public ::testing::Test {
 protected:
  void SetUp() override { server.SetName("Server1"); }
  // Sets Active on DS with every answer No; returns the one box shown.
  test::TShownBox Refused(TMySQLDatasetBase& ds) {
    TDialogScope dialogs;
    EditorFor({&ds}, "Active")->SetValue("True");
    EXPECT_FALSE(ds.Active());
    EXPECT_EQ(dialogs->boxes.size(), 1u);
    return dialogs->boxes.empty() ? test::TShownBox{} : dialogs->boxes.front();
  }
  static void ExpectWarning(const test::TShownBox& box) {
    EXPECT_EQ(box.Type, mtWarning);
    EXPECT_EQ(box.Buttons.Word(), (TMsgDlgButtons{mbYes, mbNo}).Word());
  }
  TMySQLServer server;
};

TEST_F(ActiveWarnings, NoServer) {
  TMySQLQuery ds;
  auto box = Refused(ds);
  EXPECT_EQ(box.Msg, "Please set the Server property with a TMySQLServer before enabling.");
  EXPECT_EQ(box.Type, mtError);
}

TEST_F(ActiveWarnings, SharedWithoutAnyDatabaseName) {
  TMySQLQuery ds;
  ds.SetServer(&server);
  ds.SetTableName("t");
  auto box = Refused(ds);
  ExpectWarning(box);
  EXPECT_EQ(box.Msg,
            "Please specify a DatabaseName for either this dataset or it's TMySQLServer. "
            "Alternatively make sure you have specified a custom \"USE database;\" in an SQL "
            "property in a dataset sharing this connection/thread. If you have not done this, "
            "enabling this dataset will fail.  Do you wish to proceed?");
}

TEST_F(ActiveWarnings, SharedWithAnotherDatabaseThanTheServers) {
  server.SetDatabaseName("main");
  TMySQLQuery others[2];
  for (auto& o : others) o.SetServer(&server);
  TMySQLQuery ds;
  ds.SetServer(&server);
  ds.SetTableName("t");
  ds.SetDatabaseName("other");
  auto box = Refused(ds);
  ExpectWarning(box);
  EXPECT_EQ(box.Msg,
            "Please take note that this dataset shares the connection to the MySQL Server with "
            "it's server and currently also with 2 other datasets. Setting the databasename to "
            "another database than the TMySQLServer's will change the current database for all "
            "the datasets and TMySQLServer using this connection/thread. Do you wish to proceed?");
}

TEST_F(ActiveWarnings, OwnConnectionWithoutAnyDatabaseName) {
  TMySQLDataset ds;
  ds.SetServer(&server);
  ds.SetShareConnection(false);
  ds.SetTableName("t");
  auto box = Refused(ds);
  ExpectWarning(box);
  EXPECT_EQ(box.Msg.rfind("This dataset will utilize it's own connection/thread to the MySQL "
                          "server and as such needs to specify the database for the "
                          "connection/thread",
                          0),
            0u)
      << box.Msg;
}

TEST_F(ActiveWarnings, TableWithoutTableNameIsAnErrorQueryIsAWarning) {
  server.SetDatabaseName("main");
  TMySQLTable table;
  table.SetServer(&server);
  auto box = Refused(table);
  EXPECT_EQ(box.Msg, "Please specify a TableName for this dataset.");
  EXPECT_EQ(box.Type, mtError);

  for (TMySQLDatasetBase* ds : std::initializer_list<TMySQLDatasetBase*>{
           std::make_unique<TMySQLQuery>().release(), std::make_unique<TMySQLDataset>().release()}) {
    std::unique_ptr<TMySQLDatasetBase> owned(ds);
    ds->SetServer(&server);
    box = Refused(*ds);
    ExpectWarning(box);
    EXPECT_EQ(box.Msg.rfind("Without a TableName specified, this dataset will not be updateble", 0),
              0u)
        << box.Msg;
  }
}

TEST_F(ActiveWarnings, ServerThatWouldRecreateItsDatabase) {
  server.SetDatabaseName("shop");
  server.SetOptions({coInteractive, soAutoCreate, soDropIfExists});
  TMySQLQuery ds;
  ds.SetServer(&server);
  ds.SetTableName("t");
  auto box = Refused(ds);
  ExpectWarning(box);
  EXPECT_EQ(box.Msg,
            "Enabling this dataset will automatically connect it's TMySQLServer, \"Server1\", "
            "which has AutoCreate option set for database \"shop\", which will recreate the "
            "database if it does not exists and also enabled is DropIfExists.  Be warned, if this "
            "dataset is enabled now and \"shop\" exists, you will lose ALL tables and data in "
            "\"shop\". Do you wish to proceed?");
  EXPECT_FALSE(server.GetConnected());
}

TEST_F(ActiveWarnings, TableThatWouldBeRecreated) {
  server.SetDatabaseName("shop");
  server.SetOptions({coInteractive, soAutoCreate});
  TMySQLTable ds;
  ds.SetServer(&server);
  ds.SetTableName("orders");
  ds.SetOptions(ds.Options() + doAutoCreate + doDropIfExists);
  auto box = Refused(ds);
  ExpectWarning(box);
  EXPECT_EQ(box.Msg,
            "You have chosen to AutoCreate this table, \"shop.orders\", if it does not exists and "
            "also enabled DropIfExists.  Be warned, if this dataset is enabled now and "
            "\"shop.orders\" exists you will lose ALL data in \"shop.orders\". Do you wish to "
            "proceed?");
}

TEST_F(ActiveWarnings, YesGoesOnToTheNextCheck) {
  TDialogScope dialogs;
  dialogs->answers = {mrYes};
  TMySQLTable table;
  table.SetServer(&server);
  EditorFor({&table}, "Active")->SetValue("True");
  ASSERT_EQ(dialogs->boxes.size(), 2u);
  EXPECT_EQ(dialogs->boxes[1].Msg, "Please specify a TableName for this dataset.");
  EXPECT_FALSE(table.Active());
}

TEST(ConnectedEditor, WarnsBeforeDroppingTheDatabaseAndNoLeavesItDisconnected) {
  TDialogScope dialogs;
  TMySQLServer server;
  server.SetDatabaseName("shop");
  server.SetOptions({coInteractive, soAutoCreate, soDropIfExists});
  EditorFor({&server}, "Connected")->SetValue("True");
  EXPECT_FALSE(server.GetConnected());
  ASSERT_EQ(dialogs->boxes.size(), 1u);
  EXPECT_EQ(dialogs->boxes[0].Type, mtWarning);
  EXPECT_EQ(dialogs->boxes[0].Buttons.Word(), (TMsgDlgButtons{mbYes, mbNo}).Word());
  EXPECT_EQ(dialogs->boxes[0].Msg,
            "You have chosen to AutoCreate this database, \"shop\", if it does not exists and "
            "also enabled DropIfExists.  Be warned, if this server is enabled now and \"shop\" "
            "exists, you will lose ALL tables and data in \"shop\". Do you wish to proceed?");
}

TEST(ConnectedEditor, EmbeddedWithoutBasedirWarnsAndAbortCancelsSilently) {
  TDialogScope dialogs;
  TMySQLServer server;
  server.SetDesigning(true);
  server.SetDriverType(dtEmbedded);
  server.SetDatabaseName("shop");
  server.SetOptions({coInteractive, soAutoCreate, soDropIfExists});
  dialogs->answers = {mrYes, mrAbort};
  EXPECT_NO_THROW(EditorFor({&server}, "Connected")->SetValue("True"));
  EXPECT_FALSE(server.GetConnected());
  ASSERT_EQ(dialogs->boxes.size(), 2u);
  const test::TShownBox& box = dialogs->boxes[1];
  EXPECT_EQ(box.Type, mtWarning);
  EXPECT_EQ(box.Buttons.Word(), (TMsgDlgButtons{mbYes, mbAbort}).Word());
  EXPECT_EQ(box.Msg,
            "You have not specified a \"basedir\" in either the TMySQLServer's [embedded] "
            "Options, nor in the driver's Options! Click Yes if you wish to proceed to enable "
            "this server, and you are sure you have an [embedded] or [server] group in your "
            "my.cnf file. Click Abort if you want to abort this connecting request.  If you don't "
            "specify a basedir to a valid mysql database for the embedded server, your "
            "application my become unstable, in this case your application will be your IDE. See "
            "the component helpfile on Embeddeding mysql server for more information.");
}

// ---------------------------------------------------------------------------
// Link designer

class LinkDesigner : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* f : {"id", "cust_id", "Name"}) detail.FieldDefs()->Add(f, ftString, 10);
    for (const char* f : {"id", "name"}) master.FieldDefs()->Add(f, ftString, 10);
    source.SetDataSet(&master);
    detail.SetMasterSource(&source);
    detail.SetMasterFields("old=id");
  }
  TMySQLQuery master;
  TMySQLQuery detail;
  TDataSource source;
};

TEST_F(LinkDesigner, AddDeleteClearAndTheSameNameRuleMakeThePairs) {
  TLinksScope links;
  TLinkFields* seen = nullptr;
  links->script = [&](TLinkFields& f) {
    seen = &f;
    EXPECT_EQ(f.Caption, "Link Designer");
    EXPECT_EQ(f.DetailLabel, "D&etail Fields");
    EXPECT_EQ(f.MasterLabel, "&Master Fields");
    EXPECT_EQ(f.JoinedLabel, "&Joined Fields");
    EXPECT_EQ(f.DetailFields().CommaText(), "id,cust_id,Name");
    EXPECT_EQ(f.MasterFields().CommaText(), "id,name");
    EXPECT_EQ(f.JoinedFields().CommaText(), "old=id");
    f.Clear();
    EXPECT_FALSE(f.Add());  // nothing selected
    f.SelectDetail(2);      // "Name" selects the master's "name"
    EXPECT_EQ(f.MasterIndex(), 1);
    EXPECT_TRUE(f.Add());
    f.SelectDetail(1);  // no master field of that name: the selection stays
    EXPECT_EQ(f.MasterIndex(), 1);
    f.SelectMaster(0);
    EXPECT_TRUE(f.Add());
    f.SelectDetail(0);
    EXPECT_EQ(f.MasterIndex(), 0);
    f.Add();
    f.SelectJoined(0);
    EXPECT_TRUE(f.Delete());
    f.SelectJoined(7);  // outside the list
    EXPECT_FALSE(f.Delete());
    f.SelectDetail(-5);
    EXPECT_EQ(f.DetailIndex(), -1);
  };
  auto editor = EditorFor({&detail}, "MasterFields");
  EXPECT_TRUE(editor->GetAttributes().Contains(paDialog));
  editor->Edit();
  EXPECT_NE(seen, nullptr);
  EXPECT_EQ(detail.MasterFields(), "cust_id=id,id=id");
  EXPECT_EQ(editor->GetValue(), "cust_id=id,id=id");
}

TEST_F(LinkDesigner, CancelAndNoTerminalLeaveMasterFieldsUnchanged) {
  {
    TLinksScope links;
    links->ok = false;
    links->script = [](TLinkFields& f) { f.Clear(); };
    EXPECT_FALSE(EditMasterFields(&detail));
    EXPECT_EQ(links->runs, 1);
  }
  EXPECT_EQ(detail.MasterFields(), "old=id");
  SetDialogInteractive(0);
  EXPECT_FALSE(EditMasterFields(&detail));  // the default front end with no one to ask
  SetDialogInteractive(-1);
  EXPECT_EQ(detail.MasterFields(), "old=id");
}

// Standard input stands in for a person at the terminal front end.
class ScriptedInput {
 public:
  explicit ScriptedInput(const std::string& text) : in_(text), saved_(std::cin.rdbuf(in_.rdbuf())) {
    SetDialogInteractive(1);
  }
  ~ScriptedInput() {
    std::cin.rdbuf(saved_);
    std::cin.clear();
    SetDialogInteractive(-1);
  }

 private:
  std::istringstream in_;
  std::streambuf* saved_;
};

TEST_F(LinkDesigner, TerminalFrontEndTakesOneCommandPerLine) {
  {
    ScriptedInput input("c\nd 3\na\nd 2\nm 1\na\nj 1\nx\nbogus\nd 99\nok\n");
    EXPECT_TRUE(EditMasterFields(&detail));
  }
  EXPECT_EQ(detail.MasterFields(), "cust_id=id");
  {
    ScriptedInput input("c\ncancel\n");
    EXPECT_FALSE(EditMasterFields(&detail));
  }
  {
    ScriptedInput input("c\n");  // the end of input cancels
    EXPECT_FALSE(EditMasterFields(&detail));
  }
  EXPECT_EQ(detail.MasterFields(), "cust_id=id");
}

TEST_F(LinkDesigner, RefusedWithoutMasterSourceOrItsDataset) {
  TDialogScope dialogs;
  TLinksScope links;
  TMySQLQuery lonely;
  EditorFor({&lonely}, "MasterFields")->Edit();
  TDataSource empty;
  lonely.SetMasterSource(&empty);
  EXPECT_FALSE(EditMasterFields(&lonely));
  ASSERT_EQ(dialogs->boxes.size(), 2u);
  EXPECT_EQ(dialogs->boxes[0].Msg, "You must specify a MasterSource first.");
  EXPECT_EQ(dialogs->boxes[1].Msg, "Please assign a Mastersource and Mastersource dataset");
  EXPECT_EQ(links->runs, 0);
  lonely.SetMasterSource(nullptr);
}

}  // namespace
}  // namespace rowset
