// Table auto-creation and a provider statement on the embedded server
// library, started inside this test program on a fresh data directory (once
// per process, hence a program of its own).
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

class EmbeddedCreateTest : public test::EmbeddedServerTest {};

TEST_F(EmbeddedCreateTest, ConnectCreatesTablesAndProviderStatementsRun) {
  ASSERT_FALSE(DataDir().empty());
  auto server = EmbeddedComponent();
  server->SetOptions({coInteractive, soAutoCreate});
  server->SetDatabaseName("emb-create");

  TMySQLTable table;
  table.SetServer(server.get());
  table.SetTableName("order-lines");
  table.SetOptions(table.Options() + TMySQLDatasetOptions{doAutoCreate, doDropIfExists});
  table.FieldDefs()->Add("id", ftAutoInc);
  table.FieldDefs()->Add("key", ftString, 20, true);
  table.FieldDefs()->Add("amount", ftCurrency, 2)->SetPrecision(8);
  table.IndexDefs()->Add("", "id", {ixPrimary});
  table.IndexDefs()->Add("by key", "key", {ixUnique});
  table.SQL()->SetText("select * from `order-lines`");

  server->Connect();
  const std::string create = Scalar(*server, "select count(*) from information_schema.statistics "
                                             "where table_schema = 'emb-create' and "
                                             "table_name = 'order-lines' and index_name = 'by key'");
  EXPECT_EQ(create, "1");

  table.Open();
  table.Append();
  table.FieldByName("key")->SetAsString("k1");
  table.FieldByName("amount")->SetAsString("12.34");
  table.Post();
  table.Close();

  TMySQLDataset ds;
  ds.SetServer(server.get());
  TParams params;
  params.CreateParam(ftString, "", ptUnknown)->SetAsString("it's ?");
  params.CreateParam(ftString, "", ptUnknown)->SetAsString("k1");
  EXPECT_EQ(ds.PSExecuteStatement("update `order-lines` set `key` = ? where `key` = ?", &params), 1);
  EXPECT_EQ(Scalar(*server, "select concat(`key`, '/', amount) from `order-lines`"), "it's ?/12.34");

  // Opening again drops and recreates the table empty, with its indexes.
  table.Open();
  EXPECT_EQ(table.RecordCount(), 0);
  table.Close();
  EXPECT_EQ(Scalar(*server, "select count(*) from information_schema.statistics "
                            "where table_schema = 'emb-create' and table_name = 'order-lines'"),
            "2");
  server->DropDatabase("emb-create");
  server->Disconnect();
}

}  // namespace
}  // namespace rowset
