// Templates and macros over real rows, the select list, master/detail and
// server-side filters, on the test server.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "components/MySQLMacros.h"
#include "host/DB.h"
#include "host/DBFields.h"
#include "tests/dataset/DatasetTestUtil.h"

namespace rowset::test {
namespace {

std::string Trimmed(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

std::vector<std::string> Column(TDataSet& ds, const std::string& name) {
  std::vector<std::string> out;
  if (!ds.Active()) return out;
  ds.First();
  while (!ds.Eof()) {
    out.push_back(ds.FieldByName(name)->IsNull() ? "(null)" : ds.FieldByName(name)->AsString());
    ds.Next();
  }
  ds.First();
  return out;
}

class MacrosTest : public DatasetTest {
 protected:
  static void SetUpTestSuite() {
    DatasetTest::SetUpTestSuite();
    Sql("CREATE TABLE kw (id INT PRIMARY KEY, `order` INT, city VARCHAR(20));"
        "INSERT INTO kw VALUES (1, 10, 'x'), (2, 20, 'y');"
        "CREATE TABLE customers (id INT PRIMARY KEY, region INT, name VARCHAR(20), note TEXT);"
        "INSERT INTO customers VALUES (1, 1, 'ann', 'vip ''a'''), (2, 2, 'bob', 'plain'),"
        " (3, 1, 'cid', NULL);"
        "CREATE TABLE orders (id INT PRIMARY KEY, cust_id INT, region INT, active INT, note TEXT);"
        "INSERT INTO orders VALUES (10, 1, 1, 1, 'vip ''a'''), (11, 1, 2, 0, 'plain'),"
        " (12, 1, 1, 0, NULL), (20, 2, 2, 1, 'plain'), (21, 2, 2, 1, 'vip ''a''');");
  }

  std::string Expand(TMySQLDatasetBase& ds, const std::string& text) {
    return Trimmed(ds.SQLPopulate(text, false, false, "", ""));
  }
  // The number of rows of a query run through a connection of its own.
  int64_t Count(const std::string& where_sql) {
    TMySQLServer other;
    other.SetDriverType(DriverKind());
    other.SetHost(Server().host);
    other.SetPort(Server().port);
    other.SetUserName(Server().user);
    other.SetDatabaseName(Database());
    TMySQLQuery q;
    q.SetServer(&other);
    q.SQL()->SetText(where_sql);
    q.Open();
    return q.Fields().Count() > 0 && !q.IsEmpty() ? q.Fields()[0]->AsInteger() : -1;
  }
};

TEST_F(MacrosTest, UpdateAndDeleteUseNewValuesAndTheKeyAsItWas) {
  Sql("CREATE TABLE t (id INT PRIMARY KEY, city VARCHAR(20)); INSERT INTO t VALUES (7, 'a'), (8, 'c');");
  auto q = NewDataset<TMySQLQuery>("select * from t order by id");
  q->Open();
  q->Edit();
  q->FieldByName("city")->SetAsString("b");
  // The key's and the changed column's values held before the edit: a city
  // another user changed meanwhile is not overwritten.
  std::string update = Expand(*q, q->SQLUpdate()->Text());
  EXPECT_EQ(update, "update t set city='b' where (id='7') AND (city='a')");
  q->FieldByName("id")->SetAsInteger(9);
  EXPECT_EQ(Expand(*q, q->SQLUpdate()->Text()),
            "update t set id='9',city='b' where (id='7') AND (city='a')");
  EXPECT_EQ(Expand(*q, "[$MODIFIED$FIELD$NAMES]/[$MODIFIED$FIELD$VALUES]/[$OLD$city]/[city]"),
            "id,city/'9','b'/'a'/'b'");
  EXPECT_EQ(Expand(*q, q->SQLDelete()->Text()), "delete from t where (id='7') AND (city='a')");
  q->Cancel();
  server_->ExecSQL(update);
  EXPECT_EQ(Count("select count(*) from t where id=7 and city='b'"), 1);
  EXPECT_EQ(Count("select count(*) from t where city='c'"), 1);
}

TEST_F(MacrosTest, NullOldValuesAndEmptyValuesKeepTheirMeaning) {
  Sql("CREATE TABLE nopk (a INT, s VARCHAR(10), b BLOB, m TEXT);"
      "INSERT INTO nopk VALUES (1, NULL, '', ''), (2, '', 0x00FF10, NULL);");
  auto q = NewDataset<TMySQLDataset>("select * from nopk order by a");
  q->Open();
  q->Edit();
  q->FieldByName("a")->SetAsInteger(10);
  // No key: every column identifies the row, blob and memo included (two
  // rows differing only there are still told apart); NULL is matched as NULL.
  std::string update = Expand(*q, q->SQLUpdate()->Text());
  EXPECT_EQ(update, "update nopk set a='10' where (a='1') AND (s IS NULL) AND (b='') AND (m='')");
  // All columns; empty blob and memo are '' (not NULL).
  EXPECT_EQ(Expand(*q, "[$OLD$FIELDS&VALUES]"),
            "(a='1') AND (s IS NULL) AND (b='') AND (m='')");
  EXPECT_EQ(Expand(*q, "[$UNMODIFIED$FIELDS&VALUES]"), "s=NULL,b='',m=''");
  q->Cancel();
  server_->ExecSQL(update);
  EXPECT_EQ(Count("select count(*) from nopk where a=10 and s is null and b='' and m=''"), 1);
  q->Refresh();
  q->First();  // a=2
  q->SetFieldName("b");
  // A blob's bytes as an escaped binary literal (about their own size).
  const std::string blob = std::string("_binary'\\0") + "\xFF\x10" + "'";
  EXPECT_EQ(Expand(*q, "[$FIELDNAMES&VALUES$COMMA]/[$FIELDNAME$VALUE]/[m]/[s]"),
            "b=" + blob + "/" + blob + "/NULL/''");
  // The blob's literal carries its bytes to the server unchanged.
  server_->ExecSQL(Expand(*q, "update nopk set m=[m], b=[b] where a=10"));
  EXPECT_EQ(Count("select count(*) from nopk where a=10 and b=0x00FF10 and m is null"), 1);
}

// In a NO_BACKSLASH_ESCAPES session a backslash in a template's literal is
// an ordinary character, as the server reads it: the macro pass and the
// "?" scanner find what follows the literal.
TEST_F(MacrosTest, TemplateLiteralsFollowTheSessionsEscaping) {
  server_->Connect();
  server_->ExecSQL("SET SESSION sql_mode = CONCAT(@@sql_mode, ',NO_BACKSLASH_ESCAPES')");
  auto q = NewDataset<TMySQLQuery>("select 'a\\' as s, [X] as x");
  q->MacroByName("X")->SetAsInteger(5);
  q->Open();
  EXPECT_EQ(q->FieldByName("s")->AsString(), "a\\");
  EXPECT_EQ(q->FieldByName("x")->AsInteger(), 5);
  EXPECT_EQ(q->PositionalToMacros("select 'a\\', ?", nullptr), "select 'a\\', [1]");
  q->Close();
  server_->ExecSQL("SET SESSION sql_mode = REPLACE(@@sql_mode, 'NO_BACKSLASH_ESCAPES', '')");
  EXPECT_EQ(q->PositionalToMacros("select 'a\\', ?", nullptr), "select 'a\\', ?");
}

// A line break inside a literal of a dataset's SQL reaches the server as it
// was written (a string list would join its lines with CR LF).
TEST_F(MacrosTest, LineBreaksInsideLiteralsStayAsWritten) {
  Sql("CREATE TABLE lb (id INT PRIMARY KEY, v TEXT); INSERT INTO lb VALUES (1, 'x');");
  auto q = NewDataset<TMySQLQuery>("select id, v, 'a\nb' as lf, 'c\r\nd' as crlf from lb");
  q->Open();
  EXPECT_EQ(q->FieldByName("lf")->AsString(), "a\nb");
  EXPECT_EQ(q->FieldByName("crlf")->AsString(), "c\r\nd");
  // The same through a change template.
  q->SQLUpdate()->SetText("update lb set v = 'line1\nline2' where [$PRIMARYFIELDS&VALUES]");
  q->Edit();
  q->FieldByName("v")->SetAsString("changed");
  q->Post();
  EXPECT_EQ(Count("select count(*) from lb where v = concat('line1', char(10), 'line2')"), 1);
  // An SQL list assigned from another keeps the text too.
  TMySQLQuery copy;
  copy.SetServer(server_.get());
  copy.SetSQL(q->SQL());
  EXPECT_EQ(copy.SQL()->Text(), "select id, v, 'a\nb' as lf, 'c\r\nd' as crlf from lb\r\n");
}

TEST_F(MacrosTest, PerTableStatementsTakeOnlyTheirTablesColumns) {
  Sql("CREATE TABLE jt (id INT PRIMARY KEY, u INT UNIQUE, k INT, KEY (k));"
      "CREATE TABLE kjt (kid INT PRIMARY KEY, jt_id INT, v VARCHAR(10));"
      "INSERT INTO jt VALUES (1, 2, 3); INSERT INTO kjt VALUES (10, 1, 'y');");
  auto q = NewDataset<TMySQLQuery>(
      "select jt.id, jt.u, jt.k, kjt.kid, kjt.v from jt join kjt on kjt.jt_id = jt.id");
  q->Open();
  q->Edit();
  q->FieldByName("u")->SetAsInteger(5);
  q->FieldByName("v")->SetAsString("z");
  auto expand = [&](const std::string& text, const std::string& table) {
    return Trimmed(q->SQLPopulate(text, false, false, "", table));
  };
  EXPECT_EQ(expand(q->SQLUpdate()->Text(), "jt"),
            "update jt set jt.u='5' where (jt.id='1') AND (jt.u='2')");
  EXPECT_EQ(expand(q->SQLUpdate()->Text(), "kjt"),
            "update kjt set kjt.v='z' where (kjt.kid='10') AND (kjt.v='y')");
  EXPECT_EQ(expand("[$UNIQUEFIELDS&VALUES] [$MULTIFIELDS&VALUES]", "jt"), "(jt.u='2') (jt.k='3')");
  EXPECT_EQ(Trimmed(q->SQLPopulate("[$DATABASENAME]/[$DATABASENAME]", false, false, "other", "")),
            "other/other");
  q->Cancel();
  q->SetDatabaseName(Database());
  EXPECT_EQ(expand("[$DATABASENAME]", ""), server_->FormatIdentifier(Database()));
}

TEST_F(MacrosTest, TableOpensFromItsDefaultTemplateAndSelectsEverything) {
  auto t = std::make_unique<TMySQLTable>();
  t->SetServer(server_.get());
  t->SetTableName("kw");
  t->Open();
  EXPECT_EQ(t->RecordCount(), 2);
  EXPECT_EQ(Trimmed(t->LastStatement()), "select * from kw");
  t->Close();
  // Persistent fields do not change a table's select list; its filter
  // narrows it on the server.
  auto* id = new TIntegerField(t.get());
  id->SetFieldName("id");
  id->SetDataSet(t.get());
  t->SetFilter("id>1");
  t->SetFiltered(true);
  t->Open();
  EXPECT_EQ(Trimmed(t->LastStatement()), "select * from kw where (id>1)");
  EXPECT_EQ(id->AsInteger(), 2);
}

TEST_F(MacrosTest, PersistentFieldsSelectTheirDataFieldsQuoted) {
  auto q = NewDataset<TMySQLDataset>("select [$FIELDS] from kw order by id");
  auto* id = new TIntegerField(q.get());
  id->SetFieldName("id");
  id->SetDataSet(q.get());
  auto* order = new TIntegerField(q.get());
  order->SetFieldName("order");
  order->SetDataSet(q.get());
  auto* calc = new TIntegerField(q.get());
  calc->SetFieldName("twice");
  calc->SetFieldKind(fkCalculated);
  calc->SetDataSet(q.get());
  q->OnCalcFields = [](TDataSet* ds) {
    ds->FieldByName("twice")->SetAsInteger(2 * ds->FieldByName("order")->AsInteger());
  };
  q->Open();
  EXPECT_EQ(Trimmed(q->LastStatement()), "select id,`order` from kw order by id");
  EXPECT_EQ(calc->AsInteger(), 20);
}

class MasterDetailTest : public MacrosTest {
 protected:
  void SetUp() override {
    MacrosTest::SetUp();
    master = NewDataset<TMySQLQuery>("select * from customers order by id");
    source = std::make_unique<TDataSource>();
    source->SetDataSet(master.get());
    detail = NewDataset<TMySQLQuery>("select * from orders order by id");
    detail->SetDataSource(source.get());
    detail->SetMasterFields("cust_id=id");
  }
  void TearDown() override {
    detail.reset();
    source.reset();
    master.reset();
    MacrosTest::TearDown();
  }
  std::unique_ptr<TMySQLQuery> master;
  std::unique_ptr<TDataSource> source;
  std::unique_ptr<TMySQLQuery> detail;
};

TEST_F(MasterDetailTest, DetailFollowsTheMastersCurrentRecord) {
  // A closed master gives no detail rows (not all of them).
  detail->Open();
  EXPECT_EQ(Column(*detail, "id"), std::vector<std::string>{});
  EXPECT_EQ(Trimmed(detail->LastStatement()), "select * from orders where (cust_id=NULL) order by id");
  master->Open();
  EXPECT_EQ(Column(*detail, "id"), (std::vector<std::string>{"10", "11", "12"}));
  EXPECT_EQ(Trimmed(detail->LastStatement()), "select * from orders where (cust_id='1') order by id");
  detail->Last();
  master->Next();
  EXPECT_EQ(Column(*detail, "id"), (std::vector<std::string>{"20", "21"}));
  master->Next();  // a customer without orders
  EXPECT_EQ(Column(*detail, "id"), std::vector<std::string>{});
  master->Close();
  EXPECT_TRUE(detail->Active());
  EXPECT_EQ(Column(*detail, "id"), std::vector<std::string>{});

  // An empty master.
  master->SQL()->SetText("select * from customers where id < 0");
  master->Open();
  EXPECT_EQ(Column(*detail, "id"), std::vector<std::string>{});
  master->Close();
  master->SQL()->SetText("select * from customers order by id");
  master->Open();

  // The same pairs again change nothing; two link pairs re-read.
  int refreshes = 0;
  detail->AfterRefresh = [&](TDataSet*) { ++refreshes; };
  detail->SetMasterFields("cust_id=id");
  EXPECT_EQ(refreshes, 0);
  detail->SetMasterFields("cust_id=id,region=region");
  EXPECT_GE(refreshes, 1);
  EXPECT_EQ(Column(*detail, "id"), (std::vector<std::string>{"10", "12"}));
  EXPECT_EQ(detail->GetMasterAndFilter(), "(cust_id='1') AND (region='1')");

  // Filter and master together.
  detail->SetFilter("active=1");
  EXPECT_EQ(Column(*detail, "id"), (std::vector<std::string>{"10", "12"}));  // not Filtered yet
  detail->SetFiltered(true);
  EXPECT_EQ(Column(*detail, "id"), (std::vector<std::string>{"10"}));
  EXPECT_EQ(detail->GetMasterAndFilter(), "(cust_id='1') AND (region='1') AND (active=1)");
  detail->SetFiltered(false);
  EXPECT_EQ(Column(*detail, "id"), (std::vector<std::string>{"10", "12"}));
}

// A master field the master does not have compares the detail column with
// NULL (so no rows), instead of failing the link or the master's open.
TEST_F(MasterDetailTest, MissingMasterFieldGivesNull) {
  detail->SetMasterFields("cust_id=nosuch");
  master->Open();
  detail->Open();
  EXPECT_EQ(detail->GetMasterAndFilter(), "(cust_id=NULL)");
  EXPECT_EQ(Column(*detail, "id"), std::vector<std::string>{});
  detail->SetMasterFields("cust_id=id,region=nosuch");
  EXPECT_EQ(detail->GetMasterAndFilter(), "(cust_id='1') AND (region=NULL)");
  master->Close();
  master->Open();
  EXPECT_TRUE(detail->Active());
}

TEST_F(MasterDetailTest, MemoKeyFieldWithQuotes) {
  detail->SetMasterFields("note=note");
  master->Open();
  detail->Open();
  EXPECT_EQ(Column(*detail, "id"), (std::vector<std::string>{"10", "21"}));
  master->Next();
  EXPECT_EQ(Column(*detail, "id"), (std::vector<std::string>{"11", "20"}));
  master->Next();  // a NULL note matches nothing
  EXPECT_EQ(Column(*detail, "id"), std::vector<std::string>{});
}

TEST_F(MasterDetailTest, CircularLinksAreRefused) {
  TDataSource detail_source;
  detail_source.SetDataSet(detail.get());
  try {
    master->SetDataSource(&detail_source);
    FAIL() << "a circular link was accepted";
  } catch (const EMySQLError& e) {
    EXPECT_NE(std::string(e.what()).find("Circular Reference"), std::string::npos);
  }
  EXPECT_EQ(master->DataSource(), nullptr);
}

TEST_F(MacrosTest, FilterIsAnSQLConditionRefreshedOnChange) {
  auto q = NewDataset<TMySQLQuery>("select * from orders order by id");
  int refreshes = 0;
  q->AfterRefresh = [&](TDataSet*) { ++refreshes; };
  q->SetFiltered(true);
  q->Open();
  EXPECT_EQ(q->RecordCount(), 5);
  q->SetFilter("cust_id=2");
  EXPECT_EQ(refreshes, 1);
  EXPECT_EQ(Column(*q, "id"), (std::vector<std::string>{"20", "21"}));
  q->SetFilter("cust_id=2");
  EXPECT_EQ(refreshes, 1);
  // A condition the server rejects raises and changes nothing.
  EXPECT_THROW(q->SetFilter("no_such_column=1"), EMySQLError);
  EXPECT_EQ(q->Filter(), "cust_id=2");
  EXPECT_EQ(Column(*q, "id"), (std::vector<std::string>{"20", "21"}));
  // Filter macros are collected and expanded.
  q->SetFiltered(false);
  q->SetFilter("cust_id=[CUST]");
  q->MacroByName("CUST")->SetAsInteger(1);
  q->SetFiltered(true);
  EXPECT_EQ(Column(*q, "id"), (std::vector<std::string>{"10", "11", "12"}));
}

// Hostile values reach the server only as escaped or hexadecimal literals:
// stored through $FIELDNAME$VALUE and master values, and used as master
// conditions, they come back byte for byte, read on a connection of its own.
class HostileValuesTest : public MacrosTest, public ::testing::WithParamInterface<bool> {};

struct Hostile {
  int id;
  bool null;
  std::string text;
};

std::string Hex(const std::string& s) {
  static const char* d = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    out += d[c >> 4];
    out += d[c & 15];
  }
  return out;
}

std::vector<Hostile> HostileTexts() {
  return {{1, false, "a'b"},
          {2, false, "back\\slash"},
          {3, false, "'; drop table t; --"},
          {4, false, std::string("nul\0byte", 8)},
          {5, false, "\xC3\xBC\xE2\x9C\x93 \xF0\x9F\x98\x80"},
          {6, false, ""},
          {7, true, ""},
          {8, false, "x\\"},
          {9, false, "\\'\"`"},
          {10, false, "[$TABLENAME] -- \n# \r\n/*"}};
}

std::string AllBytes() {
  std::string b;
  for (int i = 0; i < 256; ++i) b += static_cast<char>(i);
  return b;
}

TEST_P(HostileValuesTest, ComeBackByteIdentical) {
  const bool no_backslash_escapes = GetParam();
  std::string suffix = no_backslash_escapes ? "_nbe" : "";
  std::string src = "hsrc" + suffix, dst = "hdst" + suffix, dst2 = "hdst2" + suffix;
  std::string setup = "CREATE TABLE " + src + " (id INT PRIMARY KEY, v TEXT, b BLOB);";
  for (const Hostile& h : HostileTexts()) {
    std::string v = h.null ? "NULL" : h.text.empty() ? "''" : "0x" + Hex(h.text);
    std::string b = h.id == 1 ? "0x" + Hex(AllBytes()) : h.id == 6 ? "''" : h.id == 7 ? "NULL" : v;
    setup += "INSERT INTO " + src + " VALUES (" + std::to_string(h.id) + ", " + v + ", " + b + ");";
  }
  setup += "CREATE TABLE " + dst + " (id INT PRIMARY KEY, v TEXT, b BLOB);";
  setup += "CREATE TABLE " + dst2 + " (id INT PRIMARY KEY, v TEXT, b BLOB);";
  Sql(setup);
  if (no_backslash_escapes) {
    server_->ExecSQL("SET SESSION sql_mode = CONCAT(@@sql_mode, ',NO_BACKSLASH_ESCAPES')");
    // Values are escaped by the connection; a back end whose escaping still
    // writes \' in such a session cannot be used safely there.
    if (server_->EscapeStr("'") != "''") {
      GTEST_SKIP() << "this driver's escaping ignores NO_BACKSLASH_ESCAPES (a driver fault)";
    }
  }

  auto master = NewDataset<TMySQLDataset>("select * from " + src + " order by id");
  master->Open();
  TDataSource source;
  source.SetDataSet(master.get());
  // Without fields of its own the writer takes [v] and [b] from the master.
  auto writer = NewDataset<TMySQLDataset>("select 1");
  writer->SetMasterSource(&source);
  // Each master row narrows this detail to the rows of the same bytes.
  auto detail = NewDataset<TMySQLDataset>("select id from " + src + " order by id");
  detail->SetMasterSource(&source);
  detail->SetMasterFields("v=v,b=b");
  detail->Open();
  for (; !master->Eof(); master->Next()) {
    std::string id = master->FieldByName("id")->AsString();
    master->SetFieldName("v");
    server_->ExecSQL(Expand(*master, "insert into " + dst + " (id, v) values ([id], [$FIELDNAME$VALUE])"));
    master->SetFieldName("b");
    server_->ExecSQL(Expand(*master, "update " + dst + " set b=[$FIELDNAME$VALUE] where id=[id]"));
    server_->ExecSQL(Expand(*writer, "insert into " + dst2 + " values ([id], [v], [b])"));
    std::vector<std::string> matched = Column(*detail, "id");
    if (id == "7") {
      EXPECT_TRUE(matched.empty());  // NULL matches nothing
    } else {
      EXPECT_EQ(matched, std::vector<std::string>{id}) << "row " << id;
    }
  }

  // Read back on a connection of its own.
  for (const std::string& table : {dst, dst2}) {
    for (const Hostile& h : HostileTexts()) {
      std::string where = " from " + table + " where id=" + std::to_string(h.id);
      if (h.null) {
        EXPECT_EQ(Count("select count(*)" + where + " and v is null and b is null"), 1) << table;
        continue;
      }
      std::string b = h.id == 1 ? AllBytes() : h.text;
      EXPECT_EQ(Count("select count(*)" + where + " and hex(v)='" + Hex(h.text) + "' and hex(b)='" +
                      Hex(b) + "' and b is not null"),
                1)
          << table << " row " << h.id;
    }
  }
  EXPECT_EQ(Count("select count(*) from " + src), 10);  // nothing was dropped
}

INSTANTIATE_TEST_SUITE_P(Sessions, HostileValuesTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? std::string("NoBackslashEscapes") : std::string("Default");
                         });

}  // namespace
}  // namespace rowset::test
