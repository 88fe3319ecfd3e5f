// The connection component over the embedded server library, started inside
// this test program on a fresh data directory. The embedded server runs once
// per process, so this is a program of its own.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "components/MySQLServer.h"
#include "tests/server/ServerTestUtil.h"

namespace rowset {
namespace {

using test::Scalar;

using test::EmbeddedComponent;

std::string DataDir() { return test::EmbeddedDataDir(); }

class EmbeddedTest : public test::EmbeddedServerTest {};

TEST_F(EmbeddedTest, RunsTheServerInProcessWithTheServices) {
  ASSERT_FALSE(DataDir().empty());
  auto server = EmbeddedComponent();
  EXPECT_EQ(server->GetDriver()->Options().IndexOfName("datadir"), 0);
  server->Connect();
  ASSERT_TRUE(server->Connected());
  EXPECT_NE(server->ServerVersion().find("embedded"), std::string::npos) << server->ServerVersion();

  // The library has no create/drop call: the component sends statements.
  server->CreateDatabase("emb db");
  EXPECT_TRUE(std::filesystem::exists(DataDir() + "/emb@0020db"));
  server->SetDatabaseName("emb db");
  EXPECT_EQ(server->ConnectionDatabase(), "emb db");

  TStringList script;
  script.SetText("create table t (id int primary key, name varchar(10));\r\n"
                 "insert into t values (1, 'a;b'); -- one row\r\n");
  EXPECT_TRUE(server->ExecSQLBatch(script));
  EXPECT_EQ(Scalar(*server, "select name from t"), "a;b");

  TStringList list;
  server->GetDatabaseNames(&list);
  EXPECT_GT(list.IndexOf("emb db"), -1);
  server->GetTableNames("emb db", &list);
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list[0], "t");
  server->GetFieldNames("emb db", "t", &list);
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list[1], "name");
  EXPECT_EQ(server->GetLock("emb lock'", 0), 1);
  EXPECT_EQ(server->ReleaseLock("emb lock'"), 1);

  // Disconnecting unloads the driver; connecting again reuses the server.
  server->Disconnect();
  EXPECT_FALSE(server->Connected());
  server->Connect();
  EXPECT_EQ(server->ConnectionDatabase(), "emb db");
  EXPECT_EQ(Scalar(*server, "select count(*) from t"), "1");

  server->DropDatabase("emb db");
  server->GetDatabaseNames(&list);
  EXPECT_EQ(list.IndexOf("emb db"), -1);
}

TEST_F(EmbeddedTest, AutoCreateMakesTheDatabase) {
  auto server = EmbeddedComponent();
  server->SetOptions({coInteractive, soAutoCreate});
  server->SetDatabaseName("emb_auto");
  server->Connect();
  EXPECT_EQ(server->ConnectionDatabase(), "emb_auto");
  server->DropDatabase("emb_auto");
}

}  // namespace
}  // namespace rowset
