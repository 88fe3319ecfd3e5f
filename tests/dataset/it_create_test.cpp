// Table auto-creation against the test server: what the script creates (read
// back with "show create table" over a connection of its own), temporary
// tables, dropping and recreating at every open, and the cases where
// nothing may run.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/SysUtils.h"
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

// Each definition type makes a column that reads back as the field type it
// was made from (decimals as their exact text, bytes as binary strings) and
// keeps the values written into it; a persistent boolean field opens the
// table its own dataset created.
TEST_F(CreateTest, DefinitionsRoundTrip) {
  auto make = [](TMySQLDatasetBase& ds) {
    TFieldDefs* f = ds.FieldDefs();
    f->Add("id", ftAutoInc);
    f->Add("s", ftString, 20);
    f->Add("w", ftWideString, 10);
    f->Add("fl", ftFloat);
    f->Add("cur", ftCurrency, 2);  // no precision
    f->Add("bcd", ftBCD, 3)->SetPrecision(12);
    f->Add("wd", ftWord);
    f->Add("sm", ftSmallint);
    f->Add("i", ftInteger);
    f->Add("lg", ftLargeint);
    f->Add("by", ftBytes, 4);
    f->Add("vb", ftVarBytes, 8);
    f->Add("flag", ftBoolean);
    f->Add("d", ftDate);
    f->Add("m", ftMemo);
    f->Add("b", ftBlob);
    ds.IndexDefs()->Add("", "id", {ixPrimary});
  };
  // Wide strings are utf8mb4 also in a database of another character set.
  const std::string charset = Value(
      "select default_character_set_name from information_schema.schemata where schema_name = database()");
  Sql("ALTER DATABASE `" + Database() + "` CHARACTER SET latin1;");
  struct Restore {
    std::string charset;
    ~Restore() { Sql("ALTER DATABASE `" + Database() + "` CHARACTER SET " + charset + ";"); }
  } restore{charset};
  auto ds = Creating("round", "round", {doDropIfExists});
  make(*ds);
  ds->Open();
  const std::string create = ShowCreate("round");
  EXPECT_TRUE(Has(create, "`w` varchar(10) CHARACTER SET utf8mb4"));
  EXPECT_TRUE(Has(create, "`fl` double DEFAULT NULL,"));
  EXPECT_TRUE(Has(create, "`cur` decimal(19,2) DEFAULT NULL,"));
  EXPECT_TRUE(Has(create, "`bcd` decimal(12,3) DEFAULT NULL,"));
  EXPECT_TRUE(Has(create, "`wd` smallint(5) unsigned DEFAULT NULL,"));
  EXPECT_TRUE(Has(create, "`by` binary(4) DEFAULT NULL,"));
  EXPECT_TRUE(Has(create, "`vb` varbinary(8) DEFAULT NULL,"));
  EXPECT_TRUE(Has(create, "`flag` tinyint(1) DEFAULT NULL,"));

  ds->Append();
  ds->FieldByName("s")->SetAsString("text");
  ds->FieldByName("w")->SetAsString("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");  // é€ and an emoji
  ds->FieldByName("fl")->SetAsFloat(123456789.125);
  ds->FieldByName("cur")->SetAsString("12.34");
  ds->FieldByName("bcd")->SetAsString("123456789.125");
  ds->FieldByName("wd")->SetAsInteger(65535);
  ds->FieldByName("sm")->SetAsInteger(-32768);
  ds->FieldByName("i")->SetAsInteger(2147483647);
  ds->FieldByName("lg")->SetAsString("9007199254740993");
  ds->FieldByName("by")->SetAsString(std::string("\0\x01'\xff", 4));
  ds->FieldByName("vb")->SetAsString(std::string("ab\0c", 4));
  ds->FieldByName("flag")->SetAsString("1");
  ds->FieldByName("d")->SetAsDateTime(EncodeDate(2024, 2, 29));
  ds->FieldByName("m")->SetAsString("memo");
  ds->FieldByName("b")->SetAsString(std::string("\0\xff", 2));
  ds->Post();
  ds->Close();
  EXPECT_EQ(Value("select concat_ws('|', s, hex(w), fl, cur, bcd, wd, sm, i, lg, hex(`by`), hex(vb), "
                  "flag, d, m, hex(b)) from round"),
            "text|C3A9E282ACF09F9880|123456789.125|12.34|123456789.125|65535|-32768|2147483647|"
            "9007199254740993|000127FF|61620063|1|2024-02-29|memo|00FF");

  // Reopened without definitions: the field types it was made from.
  auto again = NewDataset<TMySQLTable>("select * from round");
  again->SetTableName("round");
  again->Open();
  const std::pair<const char*, TFieldType> types[] = {
      {"id", ftAutoInc}, {"s", ftString},   {"w", ftString},    {"fl", ftFloat},
      {"cur", ftString}, {"bcd", ftString}, {"wd", ftWord},     {"sm", ftSmallint},
      {"i", ftInteger},  {"lg", ftLargeint}, {"by", ftString},  {"vb", ftString},
      {"d", ftDate},     {"m", ftMemo},     {"b", ftBlob}};
  for (const auto& [name, type] : types) {
    EXPECT_EQ(again->FieldByName(name)->DataType(), type) << name;
  }
  EXPECT_EQ(again->FieldByName("w")->AsString(), "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(again->FieldByName("fl")->AsFloat(), 123456789.125);
  EXPECT_EQ(again->FieldByName("cur")->AsString(), "12.34");
  EXPECT_EQ(again->FieldByName("bcd")->AsString(), "123456789.125");
  EXPECT_EQ(again->FieldByName("wd")->AsInteger(), 65535);
  EXPECT_EQ(again->FieldByName("lg")->AsString(), "9007199254740993");
  EXPECT_TRUE(again->FieldByName("by")->AsString() == std::string("\0\x01'\xff", 4));
  EXPECT_TRUE(again->FieldByName("vb")->AsString() == std::string("ab\0c", 4));
  EXPECT_TRUE(again->FieldByName("b")->AsString() == std::string("\0\xff", 2));
  again->Close();

  // The creating dataset with persistent fields, among them a boolean.
  auto persistent = Creating("round", "round");
  make(*persistent);
  auto* id = new TAutoIncField(persistent.get());  // owned by the dataset
  id->SetFieldName("id");
  id->SetDataSet(persistent.get());
  auto* flag = new TBooleanField(persistent.get());
  flag->SetFieldName("flag");
  flag->SetDataSet(persistent.get());
  persistent->Open();
  EXPECT_EQ(persistent->RecordCount(), 1);
  EXPECT_TRUE(flag->AsBoolean());
  persistent->Edit();
  flag->SetAsBoolean(false);
  persistent->Post();
  EXPECT_EQ(Value("select flag from round"), "0");
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
