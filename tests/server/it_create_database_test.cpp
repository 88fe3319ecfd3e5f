// The connection component's creation script with the library's own
// datasets on the real test server: the table scripts of its auto-creating
// datasets, collected without running anything, then run by hand and at
// connect (soAutoCreate).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <unistd.h>

#include "components/MySQLDataset.h"
#include "components/MySQLServer.h"
#include "tests/common/TestServer.h"
#include "tests/server/ServerTestUtil.h"

namespace rowset {
namespace {

using test::RootSql;
using test::Scalar;

class CreateDatabaseTest : public ::testing::TestWithParam<TMySQLDriverType> {
 protected:
  void SetUp() override {
    database_ = "cd-b_" + std::to_string(getpid());
    RootSql("DROP DATABASE IF EXISTS `" + database_ + "`;");
    server_ = test::TestComponent(GetParam());
    server_->SetDatabaseName(database_);

    table_ = std::make_unique<TMySQLTable>();
    table_->SetServer(server_.get());
    table_->SetTableName("t1");
    table_->SetOptions(table_->Options() + TMySQLDatasetOptions{doAutoCreate});
    table_->FieldDefs()->Add("a", ftInteger, 0, true);
    table_->FieldDefs()->Add("select", ftString, 12);
    table_->IndexDefs()->Add("", "a", {ixPrimary});
    table_->SQL()->SetText("select * from t1");

    bare_ = std::make_unique<TMySQLDataset>();
    bare_->SetServer(server_.get());
    bare_->SetTableName("t-2");
    bare_->SetOptions(bare_->Options() + TMySQLDatasetOptions{doAutoCreate});

    plain_ = std::make_unique<TMySQLDataset>();
    plain_->SetServer(server_.get());
    plain_->SetTableName("t3");
  }
  void TearDown() override {
    table_.reset();
    bare_.reset();
    plain_.reset();
    server_->Close();
    server_.reset();
    RootSql("DROP DATABASE IF EXISTS `" + database_ + "`;");
  }

  // The tables of the database, comma-separated in name order.
  std::string Tables() {
    return Scalar(*server_,
                  "select group_concat(table_name order by table_name) from "
                  "information_schema.tables where table_schema = '" + database_ + "'");
  }

  std::string database_;
  std::unique_ptr<TMySQLServer> server_;
  std::unique_ptr<TMySQLTable> table_;
  std::unique_ptr<TMySQLDataset> bare_, plain_;
};

TEST_P(CreateDatabaseTest, CollectsTheTableScriptsWithoutRunningThem) {
  auto* named = dynamic_cast<TMySQLDataset*>(server_->NewDataset("n", "t4"));
  ASSERT_NE(named, nullptr);
  named->SetOptions(named->Options() + TMySQLDatasetOptions{doAutoCreate});
  const std::string q = "`" + database_ + "`";
  // Named datasets first, then the registered ones in order; the named one
  // is registered too and so comes twice.
  const std::string expected = "create database if not exists " + q + ";\r\nuse " + q + ";\r\n" +
                               named->CreateTable(false) + table_->CreateTable(false) +
                               bare_->CreateTable(false) + named->CreateTable(false) + "use " + q +
                               ";\r\n";
  EXPECT_EQ(server_->CreateDatabase(false), expected);
  EXPECT_NE(expected.find("\r\n`select`\r\n varchar(12) ,\r\n"), std::string::npos);
  EXPECT_NE(expected.find("create  table if not exists `t-2` (\r\n"), std::string::npos);
  EXPECT_FALSE(server_->GetConnected());

  // Running it connects; the connect names the database, which does not
  // exist yet, so it needs soAutoCreate (which runs the script once more).
  server_->SetOptions(server_->Options() + TMySQLServerOptions{soAutoCreate});
  EXPECT_EQ(server_->CreateDatabase(true), expected);
  EXPECT_EQ(Tables(), "t-2,t1,t4");
  server_->FreeDataset("n");
}

TEST_P(CreateDatabaseTest, ConnectCreatesTheDatabaseAndTables) {
  server_->SetOptions(server_->Options() + TMySQLServerOptions{soAutoCreate, soCloseOnChildren});
  table_->Open();
  EXPECT_TRUE(table_->Active());
  EXPECT_EQ(table_->FieldCount(), 2);
  EXPECT_EQ(Scalar(*server_, "select database()"), database_);
  EXPECT_EQ(Tables(), "t-2,t1");
  table_->Append();
  table_->FieldByName("a")->SetAsInteger(7);
  table_->FieldByName("select")->SetAsString("it's");
  table_->Post();
  EXPECT_EQ(Scalar(*server_, "select `select` from t1 where a = 7"), "it's");
}

INSTANTIATE_TEST_SUITE_P(Kinds, CreateDatabaseTest, ::testing::Values(dtLibrary, dtDirect),
                         [](const ::testing::TestParamInfo<TMySQLDriverType>& Info) {
                           return Info.param == dtLibrary ? std::string("Library") : std::string("Direct");
                         });

}  // namespace
}  // namespace rowset
