// The editors against the live test server, on the built-in client and the
// client library: value lists, the Yes paths of the Active and Connected
// editors, the link designer on datasets whose fields come from the server,
// and the login form shown by the connection component.
#include <gtest/gtest.h>

#include <memory>

#include "design/MySQLLinks.h"
#include "design/MySQLPropEdit.h"
#include "tests/common/TestServer.h"
#include "tests/design/DesignTestUtil.h"

namespace rowset {
namespace {

using test::TDialogScope;
using test::TLinksScope;

std::string* g_database = nullptr;

class EditorsTest : public ::testing::TestWithParam<TMySQLDriverType> {
 protected:
  static void SetUpTestSuite() {
    g_database = new std::string(test::FreshDatabase("design"));
    test::RootSql("USE `" + *g_database + "`; "
                  "CREATE TABLE customers (id INT PRIMARY KEY, name VARCHAR(20)); "
                  "CREATE TABLE orders (id INT PRIMARY KEY, cust_id INT, name VARCHAR(20)); "
                  "CREATE TABLE `odd``na'me` (`it's` INT, `back``tick` INT); "
                  "INSERT INTO customers VALUES (1, 'ann'), (2, 'bob'); "
                  "INSERT INTO orders VALUES (10, 1, 'ann'), (11, 2, 'bob');");
  }
  static void TearDownTestSuite() {
    test::RootSql("DROP DATABASE IF EXISTS `" + *g_database + "`;");
    delete g_database;
    g_database = nullptr;
  }
  void SetUp() override {
    Register();
    const test::TestServer& ts = test::Server();
    server.SetDriverType(GetParam());
    server.SetName("Server1");
    server.SetHost(ts.host);
    server.SetPort(ts.port);
    server.SetUserName(ts.user);
    server.SetPassword("");
  }
  void TearDown() override { server.Close(); }

  std::unique_ptr<TPropertyEditor> Editor(TComponent* c, const std::string& prop) {
    return DesignRegistry().GetPropertyEditor({c}, prop);
  }
  std::string Values(TComponent* c, const std::string& prop) {
    TStringList list;
    Editor(c, prop)->GetValues(list);
    return list.CommaText();
  }

  TMySQLServer server;
};

std::string KindName(const ::testing::TestParamInfo<TMySQLDriverType>& info) {
  return info.param == dtDirect ? "Direct" : "Library";
}
INSTANTIATE_TEST_SUITE_P(Kinds, EditorsTest, ::testing::Values(dtDirect, dtLibrary), KindName);

TEST_P(EditorsTest, ValueListsComeFromTheServerSorted) {
  TDialogScope dialogs;
  TStringList databases;
  Editor(&server, "DatabaseName")->GetValues(databases);
  EXPECT_GE(databases.IndexOf(*g_database), 0);
  for (int i = 1; i < databases.Count(); ++i)
    EXPECT_LE(CompareText(databases.Strings(i - 1), databases.Strings(i)), 0);

  TMySQLTable table;
  table.SetServer(&server);
  EXPECT_EQ(Values(&table, "DatabaseName"), databases.CommaText());
  // The dataset has no database name of its own: the server's is used.
  server.SetDatabaseName(*g_database);
  EXPECT_EQ(Values(&table, "TableName"), "customers,odd`na'me,orders");
  table.SetTableName("orders");
  EXPECT_EQ(Values(&table, "IndexFieldNames"), "cust_id,id,name");
  // Names with quotes and back-quotes reach the server escaped.
  table.SetTableName("odd`na'me");
  EXPECT_EQ(Values(&table, "IndexFieldNames"), "back`tick,it's");

  TMySQLDataset ds;
  ds.SetServer(&server);
  server.SetDatabaseName("");
  ds.SetDatabaseName(*g_database);
  ds.SetTableName("customers");
  EXPECT_EQ(Values(&ds, "FieldName"), "id,name");
  EXPECT_TRUE(dialogs->boxes.empty());
}

TEST_P(EditorsTest, ActiveYesOpensTheDatasetAndFalseClosesIt) {
  TDialogScope dialogs;
  server.SetDatabaseName(*g_database);
  TMySQLQuery ds;
  ds.SetServer(&server);
  ds.SQL()->SetText("select * from orders");
  dialogs->answers = {mrYes};  // no table name: not updatable
  auto active = Editor(&ds, "Active");
  active->SetValue("True");
  ASSERT_EQ(dialogs->boxes.size(), 1u);
  EXPECT_TRUE(ds.Active());
  EXPECT_EQ(ds.RecordCount(), 2);
  EXPECT_EQ(active->GetValue(), "True");
  active->SetValue("False");
  EXPECT_FALSE(ds.Active());
  EXPECT_EQ(dialogs->boxes.size(), 1u);  // closing asks nothing
}

TEST_P(EditorsTest, ConnectedYesCreatesTheDatabaseNoLeavesAnExistingOneAlone) {
  TDialogScope dialogs;
  const std::string fresh = *g_database + "_auto";
  test::RootSql("DROP DATABASE IF EXISTS `" + fresh + "`;");
  server.SetDatabaseName(fresh);
  server.SetOptions({coInteractive, soAutoCreate, soDropIfExists});
  dialogs->answers = {mrYes};
  Editor(&server, "Connected")->SetValue("True");
  EXPECT_TRUE(server.GetConnected());
  EXPECT_EQ(server.ConnectionDatabase(), fresh);
  server.Close();
  test::RootSql("DROP DATABASE IF EXISTS `" + fresh + "`;");

  // No keeps the existing database and its tables.
  server.SetDatabaseName(*g_database);
  dialogs->answers = {mrNo};
  Editor(&server, "Connected")->SetValue("True");
  EXPECT_FALSE(server.GetConnected());
  EXPECT_NE(test::RootSql("SELECT COUNT(*) FROM `" + *g_database + "`.orders;").find('2'),
            std::string::npos);
  EXPECT_EQ(dialogs->boxes.size(), 2u);
}

TEST_P(EditorsTest, LinkDesignerReadsTheFieldsFromTheServer) {
  TLinksScope links;
  server.SetDatabaseName(*g_database);
  TMySQLQuery master, detail;
  master.SetServer(&server);
  master.SQL()->SetText("select * from customers");
  detail.SetServer(&server);
  detail.SQL()->SetText("select * from orders");
  TDataSource source;
  source.SetDataSet(&master);
  detail.SetMasterSource(&source);
  links->script = [](TLinkFields& f) {
    EXPECT_EQ(f.DetailFields().CommaText(), "id,cust_id,name");
    EXPECT_EQ(f.MasterFields().CommaText(), "id,name");
    f.SelectDetail(1);
    f.SelectMaster(0);
    f.Add();
  };
  EXPECT_TRUE(EditMasterFields(&detail));
  EXPECT_EQ(detail.MasterFields(), "cust_id=id");
  detail.SetMasterSource(nullptr);
}

TEST_P(EditorsTest, LoginFormShownAtConnectKeepsTheStoredPasswordOnOk) {
  TDialogScope dialogs;
  const test::TestServer& ts = test::Server();
  server.SetUserName(ts.pw_user);
  server.SetPassword(ts.pw_password);
  server.SetLoginPrompt(true);
  dialogs->login_ok = false;
  EXPECT_NO_THROW(server.Connect());
  EXPECT_FALSE(server.GetConnected());
  EXPECT_EQ(server.Password(), ts.pw_password);
  dialogs->login_ok = true;  // OK on the form as shown
  server.Connect();
  EXPECT_TRUE(server.GetConnected());
  ASSERT_EQ(dialogs->forms.size(), 2u);
  EXPECT_EQ(dialogs->forms[1].Caption, "Database Login");
  EXPECT_EQ(dialogs->forms[1].Port, std::to_string(ts.port));
  EXPECT_EQ(dialogs->forms[1].UserName, ts.pw_user);
}

}  // namespace
}  // namespace rowset
