// Scripts run through the connection component and a query dataset on the
// test server: what reaches the server is the script's own bytes, on the
// built-in client and on the client library.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "components/MySQLDataset.h"
#include "components/MySQLServer.h"
#include "tests/common/TestServer.h"

namespace rowset {
namespace {

class ScriptOnServer : public ::testing::TestWithParam<TMySQLDriverType> {
 protected:
  void SetUp() override {
    database_ = test::FreshDatabase(GetParam() == dtDirect ? "script_direct" : "script_library");
    server_ = std::make_unique<TMySQLServer>();
    server_->SetDriverType(GetParam());
    const test::TestServer& ts = test::Server();
    server_->SetHost(ts.host);
    server_->SetPort(ts.port);
    server_->SetUserName(ts.user);
    server_->SetPassword("");
    server_->SetDatabaseName(database_);
  }
  void TearDown() override {
    server_->Close();
    test::RootSql("DROP DATABASE IF EXISTS `" + database_ + "`;");
  }

  std::string Hex(const std::string& where) {
    TMySQLQuery q;
    q.SetServer(server_.get());
    q.SQL()->Clear();
    q.SQL()->Add("select hex(c) as h from t where " + where);
    q.Open();
    return q.Eof() ? "(none)" : q.FieldByName("h")->AsString();
  }

  std::string database_;
  std::unique_ptr<TMySQLServer> server_;
};

TEST_P(ScriptOnServer, LineBreaksInsideLiteralsArriveUnchanged) {
  TStringList script;
  script.Add("create table t (id int primary key, c varchar(20));");
  // Each item holds the line ends of the text it came from.
  script.Add("insert into t values (1, 'a\nb');\ninsert into t values (2, 'a\rb');");
  script.Add("insert into t values (3, 'a\r\nb'); -- closing note");
  script.Add("insert into t values (4, /*!40101 'x' */ 'y'); insert into t values (5, 'a;b')");
  ASSERT_TRUE(server_->ExecSQLBatch(script));
  EXPECT_EQ(Hex("id = 1"), "610A62");
  EXPECT_EQ(Hex("id = 2"), "610D62");
  EXPECT_EQ(Hex("id = 3"), "610D0A62");
  // The version comment is run by the server: two adjacent literals concatenate.
  EXPECT_EQ(Hex("id = 4"), "7879");
  EXPECT_EQ(Hex("id = 5"), "613B62");

  // A dataset opening a script sends each statement's bytes as well.
  TMySQLQuery q;
  q.SetServer(server_.get());
  q.SQL()->Clear();
  q.SQL()->Add("update t set c = 'p\nq' where id = 1;\nselect hex(c) as h, hex('r\rs') as l from t where id = 1");
  q.Open();
  EXPECT_EQ(q.FieldByName("h")->AsString(), "700A71");
  EXPECT_EQ(q.FieldByName("l")->AsString(), "720D73");
}

TEST_P(ScriptOnServer, StringsEndAsTheSessionsEscapeModeSays) {
  ASSERT_TRUE(server_->ExecSQL("create table t (id int primary key, c varchar(20))"));
  ASSERT_TRUE(server_->ExecSQL("set sql_mode = concat(@@sql_mode, ',NO_BACKSLASH_ESCAPES')"));
  // Under NO_BACKSLASH_ESCAPES the backslash is a character of the string
  // and the quote after it ends the string: two statements, two rows.
  TStringList script;
  script.Add("insert into t values (1, 'a\\'); insert into t values (2, 'b');");
  ASSERT_TRUE(server_->ExecSQLBatch(script));
  EXPECT_EQ(Hex("id = 1"), "615C");
  EXPECT_EQ(Hex("id = 2"), "62");

  // The same through a dataset's script on the connection's session.
  TMySQLQuery q;
  q.SetServer(server_.get());
  TStringList more;
  more.Add("insert into t values (3, 'c\\'); insert into t values (4, 'd');");
  ASSERT_TRUE(q.ExecSQLBatch(&more, false, false, false, "", ""));
  EXPECT_EQ(Hex("id = 3"), "635C");
  EXPECT_EQ(Hex("id = 4"), "64");

  // Back to backslash escapes: the same text is one string again.
  ASSERT_TRUE(server_->ExecSQL("set sql_mode = replace(@@sql_mode, 'NO_BACKSLASH_ESCAPES', '')"));
  TStringList escaped;
  escaped.Add("insert into t values (5, 'e\\');f');");
  ASSERT_TRUE(server_->ExecSQLBatch(escaped));
  EXPECT_EQ(Hex("id = 5"), "6527293B66");
}

std::string KindName(const ::testing::TestParamInfo<TMySQLDriverType>& info) {
  return info.param == dtDirect ? "Direct" : "Library";
}

INSTANTIATE_TEST_SUITE_P(Drivers, ScriptOnServer, ::testing::Values(dtDirect, dtLibrary), KindName);

}  // namespace
}  // namespace rowset
