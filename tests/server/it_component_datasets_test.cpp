// The connection component together with the library's own datasets on the
// real test server, once per driver kind that reaches it over the network:
// named datasets, close-on-children, a shared connection with a database of
// the dataset's own, batches, and server errors in the middle of a result.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "components/MySQLDataset.h"
#include "components/MySQLServer.h"
#include "tests/common/TestServer.h"
#include "tests/server/ServerTestUtil.h"

namespace rowset {
namespace {

using test::RootSql;
using test::Scalar;

class ComponentDatasetsTest : public ::testing::TestWithParam<TMySQLDriverType> {
 protected:
  static void SetUpTestSuite() {
    main_db_ = new std::string(test::FreshDatabase("cdm"));
    other_db_ = new std::string(test::FreshDatabase("cdo"));
    RootSql("USE `" + *main_db_ + "`;"
            "CREATE TABLE people (id INT PRIMARY KEY, name VARCHAR(20));"
            "INSERT INTO people VALUES (1, 'ann'), (2, 'bob'), (3, 'cy');"
            "CREATE TABLE dup (k INT, v INT);"
            "INSERT INTO dup VALUES (1, 10), (2, 20), (3, 30), (3, 31);"
            "USE `" + *other_db_ + "`;"
            "CREATE TABLE only_other (x INT); INSERT INTO only_other VALUES (42);");
  }
  static void TearDownTestSuite() {
    RootSql("DROP DATABASE IF EXISTS `" + *main_db_ + "`; DROP DATABASE IF EXISTS `" + *other_db_ +
            "`;");
    delete main_db_;
    delete other_db_;
  }

  void SetUp() override {
    server_ = test::TestComponent(GetParam());
    server_->SetDatabaseName(*main_db_);
  }
  void TearDown() override {
    datasets_.clear();
    if (server_) server_->Close();
  }

  TMySQLDataset* Query(const std::string& SQL) {
    auto q = std::make_unique<TMySQLDataset>();
    q->SetServer(server_.get());
    q->SQL()->SetText(SQL);
    datasets_.push_back(std::move(q));
    return static_cast<TMySQLDataset*>(datasets_.back().get());
  }
  std::string Tables(const std::string& Database) {
    return RootSql("SELECT GROUP_CONCAT(table_name ORDER BY table_name) FROM"
                   " information_schema.tables WHERE table_schema = '" + Database + "';");
  }

  // Statement whose third row fails on the server (1242, subquery returns
  // more than one row) after the first rows were sent.
  static constexpr const char* kFailsAfterRows =
      "select p.id, (select v from dup where dup.k = p.id) as v from people p order by p.id";

  std::unique_ptr<TMySQLServer> server_;
  std::vector<std::unique_ptr<TMySQLDatasetBase>> datasets_;
  static inline std::string* main_db_ = nullptr;
  static inline std::string* other_db_ = nullptr;
};

std::string KindName(const ::testing::TestParamInfo<TMySQLDriverType>& info) {
  return info.param == dtLibrary ? "Library" : "Direct";
}

INSTANTIATE_TEST_SUITE_P(Kinds, ComponentDatasetsTest, ::testing::Values(dtLibrary, dtDirect),
                         KindName);

TEST_P(ComponentDatasetsTest, NamedDatasetsOpenAndCloseOnChildren) {
  server_->SetOptions(server_->Options() + soCloseOnChildren);
  TDataSet* people = server_->DatasetFrom("people", "select id, name from people order by id", true);
  ASSERT_TRUE(people->Active());
  EXPECT_EQ(people->RecordCount(), 3);
  EXPECT_EQ(people->FieldByName("name")->AsString(), "ann");
  EXPECT_EQ(server_->Dataset("PEOPLE"), people);
  EXPECT_TRUE(server_->Connected());
  // A service while a dataset is open keeps the connection.
  EXPECT_TRUE(server_->ExecSQL("select 1"));
  EXPECT_TRUE(server_->Connected());
  people->Close();
  EXPECT_FALSE(server_->Connected());
  people->Open();
  EXPECT_TRUE(server_->Connected());
  server_->FreeDataset("people");
  EXPECT_EQ(server_->NamedDatasetCount(), 0);
  EXPECT_FALSE(server_->Connected());
}

TEST_P(ComponentDatasetsTest, ServiceCalledWhileADatasetOpensKeepsItsConnection) {
  server_->SetOptions(server_->Options() + soCloseOnChildren);
  for (bool share : {true, false}) {
    SCOPED_TRACE(share ? "shared" : "own connection");
    TMySQLDataset* q = Query("select id, name from people order by id");
    q->SetShareConnection(share);
    TStringList tables;
    q->OnExecSQL = [&](TMySQLDatasetBase*, std::string&, bool&) { server_->GetTableNames("", &tables); };
    q->Open();
    EXPECT_TRUE(q->Active());
    EXPECT_EQ(q->FieldCount(), 2);
    EXPECT_EQ(q->RecordCount(), 3);
    EXPECT_GE(tables.IndexOf("people"), 0);
    EXPECT_TRUE(server_->Connected());
    q->Close();
    EXPECT_FALSE(server_->Connected());
  }
}

TEST_P(ComponentDatasetsTest, DisconnectDuringAnOpenIsAnError) {
  TMySQLDataset* q = Query("select id from people");
  q->OnExecSQL = [&](TMySQLDatasetBase*, std::string&, bool&) { server_->Close(); };
  try {
    q->Open();
    FAIL() << "opened without a connection";
  } catch (const EMySQLError& e) {
    EXPECT_NE(std::string(e.what()).find("No server connection"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(q->Active());
  q->OnExecSQL = nullptr;
  q->Open();
  EXPECT_EQ(q->RecordCount(), 3);
}

TEST_P(ComponentDatasetsTest, SharedDatasetWithItsOwnDatabaseLeavesTheComponentsDatabase) {
  RootSql("DROP TABLE IF EXISTS `" + *main_db_ + "`.made_by_component;"
          "DELETE FROM `" + *other_db_ + "`.only_other WHERE x <> 42;");
  TMySQLDataset* q = Query("select x from only_other");
  q->SetDatabaseName(*other_db_);
  ASSERT_TRUE(q->ShareConnection());
  q->Open();
  EXPECT_EQ(q->FieldByName("x")->AsInteger(), 42);
  EXPECT_EQ(server_->Connection(), q->ConnectionHandle());
  // The component's statements still run in its own database.
  EXPECT_EQ(server_->ConnectionDatabase(), *main_db_);
  server_->ExecSQL("create table made_by_component (i int)");
  EXPECT_NE(Tables(*main_db_).find("made_by_component"), std::string::npos);
  EXPECT_EQ(Tables(*other_db_).find("made_by_component"), std::string::npos);
  // A refresh reads the dataset's database again, and gives it back.
  RootSql("INSERT INTO `" + *other_db_ + "`.only_other VALUES (43);");
  q->Refresh();
  EXPECT_EQ(q->RecordCount(), 2);
  EXPECT_EQ(server_->ConnectionDatabase(), *main_db_);
  // Generated names keep the dataset's database (where the client reports
  // a column's database).
  if (!q->FieldInfos()[0]->Database.empty()) {
    EXPECT_NE(q->FieldInfos()[0]->FullName.find(*other_db_), std::string::npos);
  }
  // A failing statement gives the database back too.
  TMySQLDataset* bad = Query("select nothing from only_other");
  bad->SetDatabaseName(*other_db_);
  EXPECT_THROW(bad->Open(), EMySQLError);
  EXPECT_EQ(server_->ConnectionDatabase(), *main_db_);
}

TEST_P(ComponentDatasetsTest, BatchRunsOnOneConnectionUnderCloseOnChildren) {
  RootSql("DROP TABLE IF EXISTS `" + *other_db_ + "`.batch_made;");
  server_->SetOptions(server_->Options() + soCloseOnChildren);
  TStringList script;
  script.SetText("use `" + *other_db_ + "`;\n"
                 "create table batch_made (i int);\n"
                 "create temporary table batch_tmp (i int);\n"
                 "insert into batch_tmp values (7), (8);\n"
                 "insert into batch_made select i from batch_tmp;\n");
  EXPECT_TRUE(server_->ExecSQLBatch(script));
  EXPECT_NE(Tables(*other_db_).find("batch_made"), std::string::npos);
  EXPECT_EQ(Tables(*main_db_).find("batch_made"), std::string::npos);
  EXPECT_NE(RootSql("SELECT SUM(i) FROM `" + *other_db_ + "`.batch_made;").find("15"),
            std::string::npos);
  // Closed once, after the batch (no dataset is open).
  EXPECT_FALSE(server_->Connected());

  // A failing statement ends the batch, raises, and still closes.
  script.SetText("create temporary table t2 (i int);\ninsert into no_such_table values (1);\n"
                 "create table never_made (i int);\n");
  EXPECT_THROW(server_->ExecSQLBatch(script), EMySQLError);
  EXPECT_FALSE(server_->Connected());
  EXPECT_EQ(Tables(*main_db_).find("never_made"), std::string::npos);
}

TEST_P(ComponentDatasetsTest, ServerErrorAfterSomeRowsIsRaised) {
  server_->Connect();
  try {
    server_->ExecSQL(kFailsAfterRows);
    FAIL() << "the failing statement read as a success";
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.ErrorCode(), 1242) << e.what();
  }
  // The connection is usable afterwards.
  EXPECT_EQ(Scalar(*server_, "select 5"), "5");

  // A dataset whose failing select is followed by another one.
  TMySQLDataset* q = Query(std::string(kFailsAfterRows) + ";\nselect id from people");
  EXPECT_THROW(q->Open(), EMySQLError);
  EXPECT_FALSE(q->Active());
  // And as its only statement, read incrementally.
  TMySQLDataset* inc = Query(kFailsAfterRows);
  inc->SetResultType(rtIncremental);
  inc->Open();
  EXPECT_THROW(inc->Last(), EMySQLError);
  inc->Close();
  EXPECT_EQ(Scalar(*server_, "select 6"), "6");
}

TEST_P(ComponentDatasetsTest, SetOptionsKeepsIncrementalResultsOffTheSharedConnection) {
  TMySQLDataset* q = Query("select id from people order by id");
  q->SetResultType(rtIncremental);
  EXPECT_FALSE(q->ShareConnection());
  q->SetOptions(q->Options() + doShareConnection);
  EXPECT_EQ(q->ResultType(), rtLocal);
  q->Open();
  EXPECT_TRUE(q->AllFetched());
  // The component and the dataset both go on using the connection.
  EXPECT_TRUE(server_->ExecSQL("select 1"));
  q->Refresh();
  EXPECT_EQ(q->RecordCount(), 3);
}

TEST_P(ComponentDatasetsTest, RefusedDatabaseNameIsNotKept) {
  server_->Connect();
  EXPECT_THROW(server_->SetDatabaseName("no_such_database_here"), EMySQLError);
  EXPECT_EQ(server_->DatabaseName(), *main_db_);
  server_->Disconnect();
  server_->Connect();
  EXPECT_TRUE(server_->Connected());
  EXPECT_EQ(server_->ConnectionDatabase(), *main_db_);
  server_->SetDatabaseName(*other_db_);
  EXPECT_EQ(server_->DatabaseName(), *other_db_);
  EXPECT_EQ(server_->ConnectionDatabase(), *other_db_);
}

}  // namespace
}  // namespace rowset
