// Table auto-creation against the test server: what the script creates (read
// back with "show create table" over a connection of its own), temporary
// tables, dropping and recreating at every open, and the cases where
// nothing may run.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/dataset/DatasetTestUtil.h"

namespace rowset::test {
namespace {

// Whether Text holds Part.
::testing::AssertionResult Has(const std::string& Text, const std::string& Part) {
  if (Text.find(Part) != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "\"" << Part << "\" not in:\n" << Text;
}

int ErrorOf(const std::function<void()>& Action) {
  try {
    Action();
  } catch (const EMySQLError& e) {
    return e.ErrorCode();
  }
  return 0;
}

class CreateTest : public DatasetTest {
 protected:
  void SetUp() override {
    DatasetTest::SetUp();
    other_ = std::make_unique<TMySQLServer>();
    other_->SetDriverType(DriverKind());
    const TestServer& ts = Server();
    other_->SetHost(ts.host);
    other_->SetPort(ts.port);
    other_->SetUserName(ts.user);
    other_->SetPassword("");
    other_->SetDatabaseName(Database());
    other_->Open();
  }
  void TearDown() override {
    other_->Close();
    DatasetTest::TearDown();
  }

  // Column Column of the first row of SQL on Component's main connection
  // (the other connection by default); "(none)" without a row.
  std::string Value(const std::string& SQL, int Column = 0, TMySQLServer* Component = nullptr) {
    TMySQLServer& c = Component ? *Component : *other_;
    TMySQLBase* driver = c.GetDriver();
    MySQLResultHandle result = driver->OpenQuery(c.Connection(), SQL);
    std::string out = "(none)";
    bool first = true;
    while (MySQLRow row = driver->RetrieveRow(result)) {
      MySQLLengths lengths = driver->RetrieveRowFieldLenghts(result);
      if (first) out = row[Column] ? std::string(row[Column], lengths[Column]) : "(null)";
      first = false;
    }
    driver->CloseQuery(result);
    return out;
  }
  std::string ShowCreate(const std::string& QuotedTable) { return Value("show create table " + QuotedTable, 1); }

  // A table dataset over Table that creates it from these definitions.
  template <typename T = TMySQLTable>
  std::unique_ptr<T> Creating(const std::string& Table, const std::string& QuotedTable,
                              TMySQLDatasetOptions Extra = {}) {
    auto ds = NewDataset<T>("select * from " + QuotedTable);
    ds->SetTableName(Table);
    ds->SetOptions(ds->Options() + TMySQLDatasetOptions{doAutoCreate} + Extra);
    return ds;
  }
  static void Define(TMySQLDatasetBase& ds) {
    TFieldDefs* f = ds.FieldDefs();
    f->Add("id", ftAutoInc);
    f->Add("name", ftString, 30, true);
    f->Add("code", ftFixedChar, 4);
    f->Add("amount", ftCurrency, 2)->SetPrecision(10);
    f->Add("born", ftDate);
    f->Add("notes", ftMemo, 0);
    f->Add("picture", ftBlob, 0);
    f->Add("flag", ftBoolean);
    f->Add("big", ftLargeint, 0, true);
    TIndexDefs* x = ds.IndexDefs();
    x->Add("", "id", {ixPrimary});
    x->Add("ux", "name;code", {ixUnique});
    x->Add("ix", "amount", {});
  }

  std::unique_ptr<TMySQLServer> other_;
};

TEST_F(CreateTest, OpenCreatesTheTableFromTheDefinitions) {
  auto ds = Creating("made", "made");
  Define(*ds);
  ds->Open();
  EXPECT_EQ(ds->RecordCount(), 0);
  EXPECT_EQ(ds->FieldCount(), 9);
  const std::string create = ShowCreate("made");
  EXPECT_TRUE(Has(create, "`id` int(11) NOT NULL AUTO_INCREMENT,"));
  EXPECT_TRUE(Has(create, "`name` varchar(30) NOT NULL,"));
  EXPECT_TRUE(Has(create, "`code` char(4) DEFAULT NULL,"));
  EXPECT_TRUE(Has(create, "`amount` decimal(10,2) DEFAULT NULL,"));
  EXPECT_TRUE(Has(create, "`born` date DEFAULT NULL,"));
  EXPECT_TRUE(Has(create, "`notes` text DEFAULT NULL,"));
  EXPECT_TRUE(Has(create, "`picture` blob DEFAULT NULL,"));
  EXPECT_TRUE(Has(create, "`flag` tinyint(1) DEFAULT NULL,"));
  EXPECT_TRUE(Has(create, "`big` bigint(20) NOT NULL,"));
  EXPECT_TRUE(Has(create, "PRIMARY KEY (`id`),"));
  EXPECT_TRUE(Has(create, "UNIQUE KEY `ux` (`name`,`code`),"));
  EXPECT_TRUE(Has(create, "KEY `ix` (`amount`)"));
  EXPECT_FALSE(Has(create, "TEMPORARY"));

  // The table takes rows: the auto-increment key is filled in.
  ds->Append();
  ds->FieldByName("name")->SetAsString("x");
  ds->FieldByName("big")->SetAsString("12345678901");
  ds->Post();
  EXPECT_EQ(Value("select id, big from made"), "1");
}

TEST_F(CreateTest, NoDefinitionsCreateTheIdTable) {
  auto ds = Creating<TMySQLDataset>("bare", "bare");
  ds->Open();
  const std::string create = ShowCreate("bare");
  EXPECT_TRUE(Has(create, "`ID` int(11) NOT NULL AUTO_INCREMENT,"));
  EXPECT_TRUE(Has(create, "PRIMARY KEY (`ID`)"));
  ASSERT_EQ(ds->FieldCount(), 1);
  EXPECT_EQ(ds->Fields()[0]->FieldName(), "ID");
}

TEST_F(CreateTest, ReservedWordsAndHyphensAreQuoted) {
  auto ds = Creating("order-lines", "`order-lines`");
  TFieldDefs* f = ds->FieldDefs();
  f->Add("select", ftInteger, 0, true);
  f->Add("from-x", ftString, 10);
  f->Add("we`ird", ftString, 5);
  ds->IndexDefs()->Add("", "select", {ixPrimary});
  ds->IndexDefs()->Add("key", "from-x;we`ird", {});
  ds->Open();
  const std::string create = ShowCreate("`order-lines`");
  EXPECT_TRUE(Has(create, "`select` int(11) NOT NULL,"));
  EXPECT_TRUE(Has(create, "`from-x` varchar(10) DEFAULT NULL,"));
  EXPECT_TRUE(Has(create, "`we``ird` varchar(5) DEFAULT NULL,"));
  EXPECT_TRUE(Has(create, "PRIMARY KEY (`select`)"));
  EXPECT_TRUE(Has(create, "KEY `key` (`from-x`,`we``ird`)"));
}

TEST_F(CreateTest, DropIfExistsRecreatesTheSameEmptyTableAtEveryOpen) {
  for (bool table_class : {true, false}) {
    SCOPED_TRACE(table_class ? "TMySQLTable" : "TMySQLDataset");
    std::unique_ptr<TMySQLDatasetBase> ds;
    if (table_class) {
      ds = Creating<TMySQLTable>("again", "again", {doDropIfExists});
    } else {
      ds = Creating<TMySQLDataset>("again", "again", {doDropIfExists});
    }
    Define(*ds);
    ds->Open();
    const std::string first = ShowCreate("again");
    ds->Close();
    for (int round = 0; round < 2; ++round) {
      Sql("INSERT INTO again (name, big) VALUES ('r', 1);");
      ds->Open();
      EXPECT_EQ(ds->RecordCount(), 0);
      ds->Close();
      // Same columns, the same indexes: no drift from what an open learnt.
      EXPECT_EQ(ShowCreate("again"), first);
    }
    EXPECT_EQ(ds->IndexDefs()->Count(), 3);
    // Definitions the application changes after an open are used.
    ds->FieldDefs()->Clear();
    ds->FieldDefs()->Add("only", ftInteger);
    EXPECT_NE(ds->CreateTable(false).find("\r\nonly\r\n int ,\r\n"), std::string::npos);
  }
}

TEST_F(CreateTest, TemporaryTableEndsWithItsConnection) {
  auto ds = Creating<TMySQLDataset>("scratch", "scratch", {doCreateTemp});
  ds->FieldDefs()->Add("v", ftString, 10);
  ds->Open();
  // On the shared connection: there, and only there.
  EXPECT_EQ(Value("select count(*) from scratch", 0, server_.get()), "0");
  EXPECT_EQ(ErrorOf([&] { Value("select count(*) from scratch"); }), 1146);
  ds->Close();
  server_->Close();
  server_->Open();
  EXPECT_EQ(ErrorOf([&] { Value("select count(*) from scratch", 0, server_.get()); }), 1146);

  // On a connection of the dataset's own: the component's does not see it.
  auto own = Creating<TMySQLDataset>("scratch2", "scratch2", {doCreateTemp});
  own->SetShareConnection(false);
  own->Open();
  EXPECT_EQ(own->RecordCount(), 0);
  EXPECT_EQ(ErrorOf([&] { Value("select count(*) from scratch2", 0, server_.get()); }), 1146);
  own->Close();
}

TEST_F(CreateTest, NothingRunsWithoutADatabaseName) {
  server_->SetDatabaseName("");
  auto ds = NewDataset<TMySQLDataset>("select 1");
  ds->SetTableName("nodb");
  ds->SetOptions(ds->Options() + TMySQLDatasetOptions{doAutoCreate});
  int sent = 0;
  ds->OnExecSQL = [&](TMySQLDatasetBase*, std::string& sql, bool&) {
    ++sent;
    EXPECT_EQ(sql, "select 1");
  };
  EXPECT_EQ(ds->CreateTable(true), "");
  EXPECT_FALSE(server_->GetConnected());
  ds->Open();
  EXPECT_EQ(sent, 1);
  EXPECT_EQ(Value("select count(*) from information_schema.tables where table_name = 'nodb'"), "0");
}

TEST_F(CreateTest, ScriptErrorsFailTheOpen) {
  auto ds = Creating<TMySQLDataset>("broken", "broken");
  ds->FieldDefs()->Add("a", ftAutoInc);  // an auto-increment column needs a key
  try {
    ds->Open();
    FAIL() << "opened";
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.ErrorCode(), 1075);
  }
  EXPECT_FALSE(ds->Active());
}

TEST_F(CreateTest, ForeignDatabaseOnTheSharedConnection) {
  const std::string elsewhere = Database() + "_x";
  RootSql("CREATE DATABASE IF NOT EXISTS `" + elsewhere + "`;");
  auto ds = Creating<TMySQLDataset>("there", "there");
  ds->SetDatabaseName(elsewhere);
  ds->Open();
  EXPECT_EQ(Value("select database()", 0, server_.get()), Database());
  EXPECT_EQ(Value("select count(*) from information_schema.tables where table_schema = '" + elsewhere +
                  "' and table_name = 'there'"),
            "1");
  ds->Close();
  RootSql("DROP DATABASE `" + elsewhere + "`;");
}

TEST_F(CreateTest, UnderCloseOnChildren) {
  server_->SetOptions(server_->Options() + TMySQLServerOptions{soCloseOnChildren});
  auto ds = Creating<TMySQLDataset>("children", "children", {doCreateTemp});
  ds->FieldDefs()->Add("v", ftInteger);
  ds->Open();
  EXPECT_TRUE(ds->Active());
  EXPECT_EQ(ds->FieldCount(), 1);
  ds->Close();
  auto plain = Creating<TMySQLDataset>("children2", "children2");
  plain->Open();
  EXPECT_EQ(Value("select count(*) from children2"), "0");
}

}  // namespace
}  // namespace rowset::test
