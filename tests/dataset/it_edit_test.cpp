// Editing against the test server: what post, insert and delete write (read
// back as root over a connection of its own), where the local rows go, lost
// edits, failures inside transactions, cached updates and batches.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/dataset/DatasetTestUtil.h"

namespace rowset::test {
namespace {

class EditTest : public DatasetTest {
 protected:
  static void SetUpTestSuite() { DatasetTest::SetUpTestSuite(); }

  void SetUp() override {
    DatasetTest::SetUp();
    Sql("DROP TABLE IF EXISTS e, ai, ai32, nk, ja, jb, lg;"
        "CREATE TABLE e (id INT PRIMARY KEY, a VARCHAR(20), b INT) ENGINE=InnoDB;"
        "INSERT INTO e SELECT seq, CONCAT('a', seq), seq * 10 FROM seq_0_to_9;"
        "CREATE TABLE ai (id BIGINT AUTO_INCREMENT PRIMARY KEY, s VARCHAR(20)) "
        "AUTO_INCREMENT=5000000000;"
        "CREATE TABLE ai32 (id INT AUTO_INCREMENT PRIMARY KEY, s VARCHAR(20)) AUTO_INCREMENT=70;"
        "CREATE TABLE nk (a INT, b VARCHAR(10)); INSERT INTO nk VALUES (1,'x'),(1,'x');"
        "CREATE TABLE ja (id INT PRIMARY KEY, x VARCHAR(10)); INSERT INTO ja VALUES (1,'ax');"
        "CREATE TABLE jb (bid INT PRIMARY KEY, y VARCHAR(10)); INSERT INTO jb VALUES (1,'by');"
        "CREATE TABLE lg (v VARCHAR(10)) ENGINE=InnoDB;");
  }

  // One value read back as root, hex-encoded so that bytes compare exactly.
  static std::string Read(const std::string& sql) {
    std::string out = RootSql("USE `" + Database() + "`; " + sql);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
  }
  static std::string RowText(TMySQLDatasetBase& ds, size_t row, int column) {
    return std::string((*ds.Rows())[row].Value(column));
  }
  static bool AnyModified(TMySQLDatasetBase& ds) {
    for (int i = 0; i < ds.FieldInfos().Count(); ++i)
      if (ds.FieldInfos()[i]->Modified) return true;
    return false;
  }
  std::unique_ptr<TMySQLDataset> Open(const std::string& sql,
                                      TMySQLDatasetOptions extra = TMySQLDatasetOptions{}) {
    auto ds = NewDataset<TMySQLDataset>(sql);
    ds->SetOptions(ds->Options() + extra);
    ds->Open();
    return ds;
  }
};

TEST_F(EditTest, PostWritesTheChangedColumnOrEveryColumn) {
  auto ds = Open("select id, a, b from e order by id");
  // Changed on the server after the read: a post of column a leaves b alone.
  Sql("UPDATE e SET b = 999 WHERE id = 0;");
  ds->Edit();
  ds->FieldByName("a")->SetAsString("new");
  ds->Post();
  EXPECT_EQ(Read("SELECT a, b FROM e WHERE id = 0"), "new\t999");
  EXPECT_EQ(ds->LastStatement().find("`b`"), std::string::npos) << ds->LastStatement();

  // Nothing changed: every column is written.
  ds->Next();
  ds->Edit();
  ds->Post();
  EXPECT_NE(ds->LastStatement().find("b"), std::string::npos);
  EXPECT_NE(ds->LastStatement().find("a"), std::string::npos);
  EXPECT_EQ(Read("SELECT a, b FROM e WHERE id = 1"), "a1\t10");
  EXPECT_FALSE(AnyModified(*ds));
}

TEST_F(EditTest, InsertShowsTheServerIdAndPlacesTheRow) {
  for (const char* table : {"ai", "ai32"}) {
    auto ds = Open(std::string("select id, s from ") + table);
    ds->Append();
    ds->FieldByName("s")->SetAsString("one");
    ds->Post();
    const std::string id = table == std::string("ai") ? "5000000000" : "70";
    EXPECT_EQ(ds->InsertIDText(), id);
    EXPECT_EQ(ds->FieldByName("id")->AsString(), id);
    EXPECT_EQ(RowText(*ds, 0, 0), id);
    EXPECT_EQ(Read(std::string("SELECT id, s FROM ") + table), id + "\tone");
  }
  // Cursor on row 3 of 10: the new row becomes row 3, the old one row 4.
  auto ds = Open("select id, a, b from e order by id");
  ds->MoveBy(3);
  ds->Insert();
  ds->FieldByName("id")->SetAsInteger(100);
  ds->FieldByName("a")->SetAsString("ins");
  ds->Post();
  ASSERT_EQ(ds->Rows()->size(), 11u);
  EXPECT_EQ(RowText(*ds, 3, 1), "ins");
  EXPECT_EQ(RowText(*ds, 4, 1), "a3");
  EXPECT_EQ(ds->FieldByName("a")->AsString(), "ins");
  EXPECT_EQ(Read("SELECT a FROM e WHERE id = 100"), "ins");
}

TEST_F(EditTest, DeleteLastAndOnlyRow) {
  auto ds = Open("select id, a from e where id >= 8 order by id");
  ds->Last();
  ds->Delete();
  EXPECT_EQ(ds->Rows()->size(), 1u);
  EXPECT_EQ(ds->FieldByName("id")->AsInteger(), 8);
  ds->Delete();
  EXPECT_TRUE(ds->Rows()->empty());
  EXPECT_EQ(Read("SELECT COUNT(*) FROM e WHERE id >= 8"), "0");
  // Into the now empty dataset.
  ds->Append();
  ds->FieldByName("id")->SetAsInteger(8);
  ds->Post();
  EXPECT_EQ(ds->Rows()->size(), 1u);
  EXPECT_EQ(Read("SELECT COUNT(*) FROM e WHERE id = 8"), "1");
}

TEST_F(EditTest, CancelAndSuppressedStatements) {
  auto ds = Open("select id, a from e order by id");
  ds->Edit();
  ds->FieldByName("a")->SetAsString("tmp");
  ds->Cancel();
  EXPECT_EQ(RowText(*ds, 0, 1), "a0");
  EXPECT_FALSE(AnyModified(*ds));

  ds->OnExecSQL = [](TMySQLDatasetBase*, std::string&, bool& go_on) { go_on = false; };
  ds->Edit();
  ds->FieldByName("a")->SetAsString("local");
  ds->Post();
  EXPECT_EQ(ds->FieldByName("a")->AsString(), "local");
  EXPECT_EQ(Read("SELECT a FROM e WHERE id = 0"), "a0");
}

TEST_F(EditTest, FailedStatementRollsBackAndKeepsTheRecord) {
  auto ds = NewDataset<TMySQLDataset>("select id, a from e order by id");
  ds->SetOptions(ds->Options() + TMySQLDatasetOptions{doTransactions});
  ds->SQLInsert()->SetText("insert into lg values ('half');\r\ninsert into e set [$MODIFIED$FIELDS&VALUES]");
  ds->Open();
  ds->Append();
  ds->FieldByName("id")->SetAsInteger(5);  // taken
  ds->FieldByName("a")->SetAsString("dup");
  EXPECT_THROW(ds->Post(), EMySQLError);
  EXPECT_EQ(ds->State(), dsInsert);
  EXPECT_EQ(ds->Rows()->size(), 10u);
  EXPECT_TRUE(AnyModified(*ds));
  EXPECT_EQ(Read("SELECT COUNT(*) FROM lg"), "0");
  ds->Cancel();

  ds->Edit();
  ds->FieldByName("id")->SetAsInteger(6);  // taken too
  EXPECT_THROW(ds->Post(), EMySQLError);
  EXPECT_EQ(ds->State(), dsEdit);
  EXPECT_TRUE(AnyModified(*ds));
  ds->Cancel();
  EXPECT_EQ(RowText(*ds, 0, 0), "0");
  EXPECT_EQ(Read("SELECT COUNT(*) FROM e"), "10");
}

TEST_F(EditTest, ChangeByAnotherUserIsALostEdit) {
  auto ds = Open("select id, a from e order by id");
  Sql("UPDATE e SET id = 50 WHERE id = 0; DELETE FROM e WHERE id = 1;");
  ds->Edit();
  ds->FieldByName("a")->SetAsString("mine");
  try {
    ds->Post();
    ADD_FAILURE() << "post of a vanished row passed";
  } catch (const EMySQLError& e) {
    EXPECT_STREQ(e.what(), "Record not found or changed by another user");
  }
  EXPECT_EQ(ds->State(), dsEdit);
  ds->Cancel();
  EXPECT_EQ(RowText(*ds, 0, 1), "a0");
  ds->Next();
  EXPECT_THROW(ds->Delete(), EMySQLError);
  EXPECT_EQ(ds->Rows()->size(), 10u);
  EXPECT_EQ(Read("SELECT a FROM e WHERE id = 50"), "a0");
}

TEST_F(EditTest, KeylessEditChangesOneOfTwoIdenticalRows) {
  auto ds = Open("select a, b from nk");
  ds->Edit();
  ds->FieldByName("b")->SetAsString("y");
  ds->Post();
  EXPECT_EQ(Read("SELECT b, COUNT(*) FROM nk GROUP BY b ORDER BY b"), "x\t1\ny\t1");
  ds->Delete();
  EXPECT_EQ(Read("SELECT COUNT(*) FROM nk"), "1");
}

TEST_F(EditTest, CachedUpdatesWithTransactions) {
  auto ds = Open("select id, a from e order by id", TMySQLDatasetOptions{doTransactions});
  ds->SetCachedUpdates(true);
  ds->Edit();
  ds->FieldByName("a")->SetAsString("held");
  ds->Post();
  ASSERT_EQ(ds->SQLCached()->Count(), 3);
  EXPECT_EQ(ds->SQLCached()->Get(0), "start transaction;;");
  EXPECT_EQ(ds->SQLCached()->Get(2), "commit;;");
  EXPECT_EQ(Read("SELECT a FROM e WHERE id = 0"), "a0");
  ds->ApplyUpdates();
  EXPECT_EQ(ds->SQLCached()->Count(), 0);
  EXPECT_EQ(Read("SELECT a FROM e WHERE id = 0"), "held");

  // Switching off applies and re-reads.
  ds->Edit();
  ds->FieldByName("a")->SetAsString("later");
  ds->Post();
  Sql("UPDATE e SET a = 'other' WHERE id = 9;");
  ds->SetCachedUpdates(false);
  EXPECT_EQ(Read("SELECT a FROM e WHERE id = 0"), "later");
  EXPECT_EQ(RowText(*ds, 9, 1), "other");
}

TEST_F(EditTest, AppliedStatementsAreNotSentTwice) {
  auto ds = Open("select id, a from e order by id");
  ds->SetCachedUpdates(true);
  for (int id : {20, 5, 21}) {
    ds->Append();
    ds->FieldByName("id")->SetAsInteger(id);
    ds->FieldByName("a")->SetAsString("c" + std::to_string(id));
    ds->Post();
  }
  EXPECT_THROW(ds->ApplyUpdates(), EMySQLError);
  EXPECT_EQ(ds->SQLCached()->Count(), 2);
  Sql("DELETE FROM e WHERE id = 5;");
  ds->ApplyUpdates();
  EXPECT_EQ(Read("SELECT id, COUNT(*) FROM e WHERE id IN (5, 20, 21) GROUP BY id ORDER BY id"),
            "5\t1\n20\t1\n21\t1");
  ds->SetCachedUpdates(false);
}

TEST_F(EditTest, JoinedResultUpdatesEachTableWithItsKey) {
  for (bool recursive : {true, false}) {
    Sql("UPDATE ja SET x = 'ax'; UPDATE jb SET y = 'by';");
    auto ds = Open("select ja.id, ja.x, jb.bid, jb.y from ja join jb on ja.id = jb.bid",
                   recursive ? TMySQLDatasetOptions{doRecursiveUpdates} : TMySQLDatasetOptions{});
    int sent = 0;
    ds->OnExecSQL = [&](TMySQLDatasetBase*, std::string&, bool&) { ++sent; };
    ds->Edit();
    ds->FieldByName("x")->SetAsString("ax2");
    ds->FieldByName("y")->SetAsString("by2");
    if (recursive) {
      ds->Post();
      EXPECT_EQ(sent, 2);
      EXPECT_EQ(Read("SELECT x, y FROM ja JOIN jb ON ja.id = jb.bid"), "ax2\tby2");
    } else {
      // One statement over the first table, which does not hold y.
      EXPECT_THROW(ds->Post(), EMySQLError);
      EXPECT_EQ(sent, 1);
      ds->Cancel();
    }
  }
}

TEST_F(EditTest, ExecBatchRunsAScript) {
  auto ds = Open("select id from e");
  ds->SQLBatch()->SetText("insert into lg values ('p');\r\ninsert into lg values ('q;r');");
  EXPECT_TRUE(ds->ExecBatch());
  EXPECT_EQ(Read("SELECT GROUP_CONCAT(v ORDER BY v) FROM lg"), "p,q;r");
}

TEST_F(EditTest, ValuesKeepTheirBytesThroughAPost) {
  Sql("CREATE TABLE IF NOT EXISTS vb (id INT PRIMARY KEY, s VARBINARY(40), t VARCHAR(40));"
      "DELETE FROM vb; INSERT INTO vb VALUES (1, NULL, NULL);");
  auto ds = Open("select id, s, t from vb");
  const std::string bytes("a\0b'\\\"\n", 7);
  ds->Edit();
  ds->FieldByName("s")->SetAsString(bytes);
  ds->FieldByName("t")->SetAsString("");
  ds->Post();
  EXPECT_EQ(Read("SELECT HEX(s), t IS NULL, LENGTH(t) FROM vb"), "610062275C220A\t0\t0");
}

}  // namespace
}  // namespace rowset::test
