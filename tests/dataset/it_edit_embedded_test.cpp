// Editing on the embedded server library, started inside this test program
// on a fresh data directory (once per process, hence a program of its own).
// What a post wrote is read back through a second connection component.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include "components/MySQLDataset.h"
#include "components/MySQLServer.h"
#include "tests/server/ServerTestUtil.h"

namespace rowset {
namespace {

using test::Scalar;

using test::EmbeddedComponent;

std::string DataDir() { return test::EmbeddedDataDir(); }

class EmbeddedEditTest : public test::EmbeddedServerTest {};

TEST_F(EmbeddedEditTest, PostInsertDeleteAndCachedUpdates) {
  ASSERT_FALSE(DataDir().empty());
  auto server = EmbeddedComponent();
  server->SetOptions({coInteractive, soAutoCreate});
  server->SetDatabaseName("emb_edit");
  server->Connect();
  TStringList script;
  script.SetText("create table t (id bigint auto_increment primary key, s varchar(10), n int);\r\n"
                 "insert into t (s, n) values ('a', 1), ('b', 2);\r\n");
  ASSERT_TRUE(server->ExecSQLBatch(script));
  auto reader = EmbeddedComponent();
  reader->SetDatabaseName("emb_edit");
  reader->Connect();

  TMySQLDataset ds;
  ds.SetServer(server.get());
  ds.SQL()->SetText("select id, s, n from t order by id");
  ds.Open();
  ds.Edit();
  ds.FieldByName("s")->SetAsString("it's");
  ds.Post();
  EXPECT_EQ(Scalar(*reader, "select concat(s, '/', n) from t where id = 1"), "it's/1");

  ds.Append();
  ds.FieldByName("s")->SetAsString("new");
  ds.Post();
  EXPECT_EQ(ds.FieldByName("id")->AsString(), "3");
  EXPECT_EQ(Scalar(*reader, "select s from t where id = 3"), "new");

  // The same column changed by another connection meanwhile: refused with
  // both versions; the other user's value stays.
  ASSERT_TRUE(reader->ExecSQL("update t set n = 7 where id = 1"));
  ds.First();
  ds.Edit();
  ds.FieldByName("n")->SetAsInteger(3);
  try {
    ds.Post();
    ADD_FAILURE() << "a lost update passed";
  } catch (const EMySQLRecordChanged& e) {
    ASSERT_TRUE(e.ServerRowFound);
    EXPECT_EQ(e.ServerValues[2], std::optional<std::string>("7"));
    EXPECT_EQ(e.HeldValues[2], std::optional<std::string>("1"));
  }
  ds.Cancel();
  EXPECT_EQ(Scalar(*reader, "select n from t where id = 1"), "7");

  // Gone on the server meanwhile: a lost edit, not a success.
  ASSERT_TRUE(reader->ExecSQL("delete from t where id = 2"));
  ds.First();
  ds.Next();
  EXPECT_THROW(ds.Delete(), EMySQLError);

  ds.SetCachedUpdates(true);
  ds.First();
  ds.Delete();
  EXPECT_EQ(Scalar(*reader, "select count(*) from t"), "2");
  ds.ApplyUpdates();
  EXPECT_EQ(Scalar(*reader, "select count(*) from t"), "1");
  ds.Close();
  reader->Disconnect();
  server->DropDatabase("emb_edit");
}

}  // namespace
}  // namespace rowset
