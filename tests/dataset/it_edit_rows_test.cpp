// Which row an edit changes, and that it never overwrites another user's
// work: partial and composite keys, key-less tables (floats, BIT), aliases,
// joins, lost updates between two connections, new records and server
// defaults, held statements. What the server holds is read back as root over
// a connection of its own.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/dataset/DatasetTestUtil.h"

namespace rowset::test {
namespace {

class EditRowsTest : public DatasetTest {
 protected:
  static std::string Read(const std::string& sql) {
    std::string out = RootSql("USE `" + Database() + "`; " + sql);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
  }
  std::unique_ptr<TMySQLDataset> Open(const std::string& sql,
                                      TMySQLDatasetOptions extra = TMySQLDatasetOptions{}) {
    auto ds = NewDataset<TMySQLDataset>(sql);
    ds->SetOptions(ds->Options() + extra);
    ds->Open();
    return ds;
  }
  static void Goto(TDataSet& ds, const std::string& field, const std::string& value) {
    ds.First();
    while (!ds.Eof() && ds.FieldByName(field)->AsString() != value) ds.Next();
    ASSERT_FALSE(ds.Eof()) << field << "=" << value;
  }
  // The message of what Post raises; empty when it passes.
  static std::string PostError(TDataSet& ds) {
    try {
      ds.Post();
    } catch (const EMySQLError& e) {
      return e.what();
    }
    return std::string();
  }
};

constexpr const char* kLost = "Record not found or changed by another user";

TEST_F(EditRowsTest, PartialCompositeKeyIsNoKey) {
  Sql("DROP TABLE IF EXISTS ck; CREATE TABLE ck (a INT, b INT, v VARCHAR(10), w VARCHAR(10),"
      " PRIMARY KEY (a, b)) ENGINE=InnoDB;"
      "INSERT INTO ck VALUES (1,1,'x1','same'),(1,2,'x2','same'),(1,3,'x3','same');");
  {
    // Only a: the rows are told apart by their other values.
    auto ds = Open("select a, v from ck order by b");
    EXPECT_EQ(ds->PSGetKeyFields(), "");
    Goto(*ds, "v", "x2");
    ds->Edit();
    ds->FieldByName("v")->SetAsString("y2");
    ds->Post();
    EXPECT_EQ(Read("SELECT GROUP_CONCAT(v ORDER BY b) FROM ck"), "x1,y2,x3");
    ds->Delete();
    EXPECT_EQ(Read("SELECT GROUP_CONCAT(b ORDER BY b) FROM ck"), "1,3");
  }
  {
    // Values that do not single out a row: refused, nothing changed.
    auto ds = Open("select a, w from ck order by b");
    ds->Edit();
    ds->FieldByName("w")->SetAsString("mine");
    EXPECT_NE(PostError(*ds).find("Record cannot be identified: 2 rows"), std::string::npos);
    ds->Cancel();
    EXPECT_THROW(ds->Delete(), EMySQLError);
    EXPECT_EQ(Read("SELECT GROUP_CONCAT(w ORDER BY b) FROM ck"), "same,same");
  }
  {
    // The whole key: it alone identifies the row.
    auto ds = Open("select a, b, w from ck order by b");
    EXPECT_EQ(ds->PSGetKeyFields(), "a;b;");
    ds->Last();
    ds->Edit();
    ds->FieldByName("w")->SetAsString("three");
    ds->Post();
    EXPECT_EQ(Read("SELECT GROUP_CONCAT(w ORDER BY b) FROM ck"), "same,three");
  }
}

TEST_F(EditRowsTest, KeylessRowsWithFloatsBlobsAndBits) {
  Sql("DROP TABLE IF EXISTS kl; CREATE TABLE kl (f FLOAT, d DOUBLE, t TEXT, x BLOB, k BIT(10),"
      " n INT) ENGINE=InnoDB;"
      "INSERT INTO kl VALUES (1.1, 0.1, 'same', 'same', b'1', 1), (2.5, 0.1, 'same', 'same', b'1', 2),"
      " (1.5, 0.1, 'same', 'same', b'1000000001', 3), (1.1, 0.30000000000000004, NULL, NULL,"
      " b'1', 4);");
  auto ds = Open("select f, d, t, x, k from kl order by n");
  // Row 2 (f 2.5) differs from row 1 only in its FLOAT; row 4 only in
  // DOUBLE and NULLs; row 3 only in its BIT.
  for (int row : {2, 4, 3, 1}) {
    ds->First();
    ds->MoveBy(row - 1);
    ds->Edit();
    ds->FieldByName("t")->SetAsString("r" + std::to_string(row));
    ds->Post();
  }
  EXPECT_EQ(Read("SELECT GROUP_CONCAT(t ORDER BY n) FROM kl"), "r1,r2,r3,r4");
  ds->First();
  ds->MoveBy(2);
  ds->Delete();
  EXPECT_EQ(Read("SELECT GROUP_CONCAT(n ORDER BY n) FROM kl"), "1,2,4");
}

TEST_F(EditRowsTest, BitKeyedTable) {
  Sql("DROP TABLE IF EXISTS bk; CREATE TABLE bk (b BIT(8) PRIMARY KEY, v VARCHAR(10));"
      "INSERT INTO bk VALUES (b'00100111', 'q'), (b'01011100', 's');");
  auto ds = Open("select b, v from bk order by b");
  ds->Edit();
  ds->FieldByName("v")->SetAsString("quote");
  ds->Post();
  ds->Next();
  ds->Edit();
  ds->FieldByName("b")->SetAsInteger(7);
  ds->Post();
  EXPECT_EQ(Read("SELECT GROUP_CONCAT(CONCAT(b+0, v) ORDER BY b) FROM bk"), "7s,39quote");
}

TEST_F(EditRowsTest, AliasesNameTheTableItself) {
  Sql("DROP TABLE IF EXISTS orders, orders_2023;"
      "CREATE TABLE orders (id INT PRIMARY KEY, v VARCHAR(10));"
      "CREATE TABLE orders_2023 (id INT PRIMARY KEY, v VARCHAR(10));"
      "INSERT INTO orders VALUES (1, 'plain'); INSERT INTO orders_2023 VALUES (1, 'old');");
  for (const char* alias : {"orders", "o"}) {
    auto ds = Open(std::string("select ") + alias + ".id, " + alias + ".v from orders_2023 as " + alias);
    EXPECT_EQ(ds->PSGetTableName(), "orders_2023");
    ds->Edit();
    ds->FieldByName("v")->SetAsString(alias);
    ds->Post();
    EXPECT_EQ(Read("SELECT v FROM orders_2023"), alias);
    EXPECT_EQ(Read("SELECT v FROM orders"), "plain");
    ds->Append();
    ds->FieldByName("id")->SetAsInteger(2);
    ds->Post();
    ds->Delete();
    EXPECT_EQ(Read("SELECT COUNT(*) FROM orders_2023"), "1");
  }
}

// Renamed columns are written under their names in the table (every back
// end reports them, the built-in client through the 4.1 protocol).
TEST_F(EditRowsTest, RenamedColumnsAreWrittenUnderTheirOwnNames) {
  Sql("DROP TABLE IF EXISTS rn; CREATE TABLE rn (id INT PRIMARY KEY, v VARCHAR(10));"
      "INSERT INTO rn VALUES (1, 'one'), (2, 'two');");
  auto ds = Open("select r.id as k, r.v as label from rn r order by k");
  EXPECT_EQ(ds->PSGetTableName(), "rn");
  ds->Edit();
  ds->FieldByName("label")->SetAsString("uno");
  ds->Post();
  EXPECT_EQ(Read("SELECT GROUP_CONCAT(v ORDER BY id) FROM rn"), "uno,two");
  ds->Next();
  ds->Edit();
  ds->FieldByName("k")->SetAsInteger(20);
  ds->Post();
  ds->Append();
  ds->FieldByName("k")->SetAsInteger(3);
  ds->FieldByName("label")->SetAsString("three");
  ds->Post();
  EXPECT_EQ(Read("SELECT GROUP_CONCAT(CONCAT(id, v) ORDER BY id) FROM rn"), "1uno,3three,20two");
  ds->Delete();
  EXPECT_EQ(Read("SELECT GROUP_CONCAT(id ORDER BY id) FROM rn"), "1,20");
}

TEST_F(EditRowsTest, TwoUsersChangingOneRow) {
  Sql("DROP TABLE IF EXISTS acct; CREATE TABLE acct (id INT PRIMARY KEY, owner VARCHAR(10),"
      " balance INT) ENGINE=InnoDB; INSERT INTO acct VALUES (1, 'ann', 100), (2, 'bob', 200);");
  auto ds = Open("select id, owner, balance from acct order by id");
  int sent = 0;
  ds->OnExecSQL = [&](TMySQLDatasetBase*, std::string&, bool&) { ++sent; };
  // Nothing changed: nothing sent, the other user's balance stays.
  Sql("UPDATE acct SET balance = 150 WHERE id = 1;");
  ds->Edit();
  ds->FieldByName("owner")->SetAsString("ann");
  ds->Post();
  EXPECT_EQ(sent, 0);
  EXPECT_EQ(Read("SELECT balance FROM acct WHERE id = 1"), "150");
  // Another column changed meanwhile: no conflict, both changes stay.
  ds->Edit();
  ds->FieldByName("owner")->SetAsString("anna");
  ds->Post();
  EXPECT_EQ(Read("SELECT owner, balance FROM acct WHERE id = 1"), "anna\t150");
  // The same column changed meanwhile: refused, with both versions.
  ds->Next();
  Sql("UPDATE acct SET balance = 250 WHERE id = 2;");
  ds->Edit();
  ds->FieldByName("balance")->SetAsInteger(210);
  try {
    ds->Post();
    ADD_FAILURE() << "a lost update passed";
  } catch (const EMySQLRecordChanged& e) {
    EXPECT_STREQ(e.what(), kLost);
    ASSERT_EQ(e.Columns.size(), 3u);
    EXPECT_EQ(e.Columns[2], "balance");
    EXPECT_EQ(e.HeldValues[2], std::optional<std::string>("200"));
    EXPECT_EQ(e.PostedValues[2], std::optional<std::string>("210"));
    EXPECT_TRUE(e.ServerRowFound);
    EXPECT_EQ(e.ServerValues[2], std::optional<std::string>("250"));
    EXPECT_EQ(e.ServerValues[1], std::optional<std::string>("bob"));
  }
  EXPECT_EQ(ds->State(), dsEdit);
  ds->Cancel();
  EXPECT_EQ(Read("SELECT balance FROM acct WHERE id = 2"), "250");
  // A row deleted meanwhile: refused, no server version.
  Sql("DELETE FROM acct WHERE id = 2;");
  ds->Edit();
  ds->FieldByName("owner")->SetAsString("x");
  try {
    ds->Post();
    ADD_FAILURE() << "an edit of a deleted row passed";
  } catch (const EMySQLRecordChanged& e) {
    EXPECT_FALSE(e.ServerRowFound);
  }
  ds->Cancel();
  EXPECT_EQ(Read("SELECT COUNT(*) FROM acct"), "1");
}

TEST_F(EditRowsTest, NewRecordsLeaveUnsetColumnsToTheServer) {
  for (const char* mode : {"STRICT_ALL_TABLES", ""}) {
    Sql("DROP TABLE IF EXISTS dflt; CREATE TABLE dflt (account_id INT PRIMARY KEY,"
        " `count` INT DEFAULT 7, s VARCHAR(10) DEFAULT 'abc', n INT NOT NULL DEFAULT 5,"
        " t TIMESTAMP NULL DEFAULT CURRENT_TIMESTAMP, u VARCHAR(5));");
    server_->Connect();
    server_->ExecSQL(std::string("set sql_mode='") + mode + "'");
    auto ds = Open("select account_id, `count`, s, n, t, u from dflt");
    ds->Append();
    ds->FieldByName("account_id")->SetAsInteger(1);
    ds->Post();
    EXPECT_EQ(Read("SELECT account_id, `count`, s, n, t IS NOT NULL, u IS NULL FROM dflt"),
              "1\t7\tabc\t5\t1\t1")
        << mode;
    // The table component learns the defaults and shows them, but leaves
    // them to the server (current_timestamp() is no text to write).
    TMySQLTable table;
    table.SetServer(server_.get());
    table.SetTableName("dflt");
    table.Open();
    table.Append();
    table.FieldByName("account_id")->SetAsInteger(2);
    table.FieldByName("u")->SetAsString("set");
    table.Post();
    EXPECT_EQ(Read("SELECT `count`, s, n, t IS NOT NULL, u FROM dflt WHERE account_id = 2"),
              "7\tabc\t5\t1\tset")
        << mode;
    server_->Close();
  }
}

TEST_F(EditRowsTest, JoinedRecordsChangeTheirOwnRows) {
  Sql("DROP TABLE IF EXISTS olines, customers;"
      "CREATE TABLE customers (cid INT PRIMARY KEY, name VARCHAR(10));"
      "CREATE TABLE olines (id INT PRIMARY KEY, cid INT, item VARCHAR(10));"
      "INSERT INTO customers VALUES (1, 'ann'), (2, 'bob');"
      "INSERT INTO olines VALUES (10, 2, 'pen'), (11, 1, 'ink'), (12, 2, 'cup');");
  auto ds = Open("select l.id, l.item, c.cid, c.name from olines l join customers c on c.cid = l.cid"
                 " order by l.id",
                 TMySQLDatasetOptions{doRecursiveUpdates});
  // Row 2 is customer 1's line; the server's own order may differ.
  ds->Next();
  ds->Edit();
  ds->FieldByName("name")->SetAsString("anna");
  ds->Post();
  EXPECT_EQ(Read("SELECT GROUP_CONCAT(name ORDER BY cid) FROM customers"), "anna,bob");
  // Deleting one order line keeps its customer.
  ds->First();
  ds->Delete();
  EXPECT_EQ(Read("SELECT GROUP_CONCAT(id ORDER BY id) FROM olines"), "11,12");
  EXPECT_EQ(Read("SELECT COUNT(*) FROM customers"), "2");
}

// Held statements in a default session and under NO_BACKSLASH_ESCAPES.
class HeldStatementsTest : public EditRowsTest, public ::testing::WithParamInterface<bool> {};

TEST_P(HeldStatementsTest, AppliedOneByOneAndCheckedAsAPost) {
  Sql("DROP TABLE IF EXISTS hs; CREATE TABLE hs (id INT PRIMARY KEY, v VARCHAR(20)) ENGINE=InnoDB;"
      "INSERT INTO hs VALUES (1, 'a'), (2, 'b'), (3, 'c');");
  server_->Connect();
  if (GetParam()) server_->ExecSQL("set sql_mode='NO_BACKSLASH_ESCAPES'");
  auto ds = Open("select id, v from hs order by id", TMySQLDatasetOptions{doTransactions});
  ds->SetCachedUpdates(true);
  for (const char* value : {"x\\", "it's\\", "; y"}) {
    ds->Edit();
    ds->FieldByName("v")->SetAsString(value);
    ds->Post();
    ds->Next();
  }
  const std::string held = ds->SQLCached()->Text();
  // Another user changes row 2: nothing is applied, the list stays.
  Sql("UPDATE hs SET v = 'other' WHERE id = 2;");
  EXPECT_THROW(ds->ApplyUpdates(), EMySQLRecordChanged);
  EXPECT_EQ(ds->SQLCached()->Text(), held);
  EXPECT_EQ(Read("SELECT GROUP_CONCAT(v ORDER BY id) FROM hs"), "a,other,c");
  Sql("UPDATE hs SET v = 'b' WHERE id = 2;");
  ds->ApplyUpdates();
  EXPECT_EQ(ds->SQLCached()->Count(), 0);
  EXPECT_EQ(Read("SELECT GROUP_CONCAT(HEX(v) ORDER BY id) FROM hs"),
            "785C,697427735C,3B2079");
  ds->Close();
  server_->Close();
}

INSTANTIATE_TEST_SUITE_P(Sessions, HeldStatementsTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? std::string("NoBackslashEscapes")
                                             : std::string("Default");
                         });

// The application opened a transaction on the connection: applying the held
// statements neither commits its work nor loses it, also when the apply
// fails.
TEST_F(EditRowsTest, ApplyInsideTheApplicationsTransaction) {
  Sql("DROP TABLE IF EXISTS at1, at2; CREATE TABLE at1 (id INT PRIMARY KEY, v VARCHAR(20)) ENGINE=InnoDB;"
      "CREATE TABLE at2 (n INT) ENGINE=InnoDB; INSERT INTO at1 VALUES (1, 'a'), (2, 'b');");
  server_->Connect();
  // What the application's own connection sees.
  auto Own = [&](const std::string& sql) {
    auto q = NewDataset<TMySQLQuery>(sql);
    q->Open();
    std::string text = q->Fields()[0]->AsString();
    q->Close();
    return text;
  };
  auto ds = Open("select id, v from at1 order by id");
  ds->SetCachedUpdates(true);
  auto EditBoth = [&](const char* v1, const char* v2) {
    ds->First();
    ds->Edit();
    ds->FieldByName("v")->SetAsString(v1);
    ds->Post();
    ds->Next();
    ds->Edit();
    ds->FieldByName("v")->SetAsString(v2);
    ds->Post();
  };
  EditBoth("a2", "b2");
  server_->ExecSQL("start transaction");
  server_->ExecSQL("insert into at2 values (7)");
  ds->ApplyUpdates();
  EXPECT_EQ(ds->SQLCached()->Count(), 0);
  // Nothing committed by the apply: another connection sees the old rows.
  EXPECT_EQ(Read("SELECT GROUP_CONCAT(v ORDER BY id) FROM at1"), "a,b");
  EXPECT_EQ(Read("SELECT COUNT(*) FROM at2"), "0");
  server_->ExecSQL("commit");
  EXPECT_EQ(Read("SELECT GROUP_CONCAT(v ORDER BY id) FROM at1"), "a2,b2");
  EXPECT_EQ(Read("SELECT COUNT(*) FROM at2"), "1");

  // A conflict on the second held statement: the first is undone, the
  // application's insert stays in its transaction.
  EditBoth("a3", "b3");
  Sql("UPDATE at1 SET v = 'other' WHERE id = 2;");
  server_->ExecSQL("start transaction");
  server_->ExecSQL("insert into at2 values (8)");
  EXPECT_THROW(ds->ApplyUpdates(), EMySQLRecordChanged);
  EXPECT_EQ(ds->SQLCached()->Count(), 2);
  EXPECT_EQ(Own("select count(*) from at2"), "2");
  EXPECT_EQ(Own("select v from at1 where id = 1"), "a2");
  server_->ExecSQL("rollback");
  EXPECT_EQ(Read("SELECT GROUP_CONCAT(v ORDER BY id) FROM at1"), "a2,other");
  EXPECT_EQ(Read("SELECT COUNT(*) FROM at2"), "1");
  ds->SQLCached()->Clear();
  ds->Close();
  server_->Close();
}

TEST_F(EditRowsTest, ValidationErrorsAreRaised) {
  Sql("DROP TABLE IF EXISTS vr; CREATE TABLE vr (id INT PRIMARY KEY, v VARCHAR(10));"
      "INSERT INTO vr VALUES (1, 'keep');");
  auto ds = Open("select id, v from vr");
  ds->FieldByName("v")->OnValidate = [](TField*) { throw EDatabaseError("not allowed"); };
  ds->Edit();
  try {
    ds->FieldByName("v")->SetAsString("bad");
    ADD_FAILURE() << "the validation error was swallowed";
  } catch (const EAbort&) {
    ADD_FAILURE() << "a silent abort instead of the validation error";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "not allowed");
  }
  EXPECT_EQ(ds->FieldByName("v")->AsString(), "keep");
  ds->Cancel();
}

}  // namespace
}  // namespace rowset::test
