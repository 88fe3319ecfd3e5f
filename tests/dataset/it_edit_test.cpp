// Editing against the test server: what post, insert and delete write (read
// back as root over a connection of its own), where the local rows go, lost
// edits, failures inside transactions, cached updates and batches.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

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

TEST_F(EditTest, PostWritesOnlyTheChangedColumn) {
  auto ds = Open("select id, a, b from e order by id");
  // Changed on the server after the read: a post of column a leaves b alone.
  Sql("UPDATE e SET b = 999 WHERE id = 0;");
  ds->Edit();
  ds->FieldByName("a")->SetAsString("new");
  ds->Post();
  EXPECT_EQ(Read("SELECT a, b FROM e WHERE id = 0"), "new\t999");
  EXPECT_EQ(ds->LastStatement().find("`b`"), std::string::npos) << ds->LastStatement();

  // Nothing changed (or a value set to what it was): nothing is sent, so
  // another user's change of the row stays.
  ds->Next();
  Sql("UPDATE e SET b = 11 WHERE id = 1;");
  int sent = 0;
  ds->OnExecSQL = [&](TMySQLDatasetBase*, std::string&, bool&) { ++sent; };
  ds->Edit();
  ds->Post();
  ds->Edit();
  ds->FieldByName("a")->SetAsString("a1");
  ds->Post();
  EXPECT_EQ(sent, 0);
  EXPECT_EQ(Read("SELECT a, b FROM e WHERE id = 1"), "a1\t11");
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

TEST_F(EditTest, KeylessEditOfIdenticalRowsIsRefused) {
  // Two rows the held values cannot tell apart: neither is changed.
  auto ds = Open("select a, b from nk");
  ds->Edit();
  ds->FieldByName("b")->SetAsString("y");
  EXPECT_THROW(ds->Post(), EMySQLError);
  ds->Cancel();
  EXPECT_THROW(ds->Delete(), EMySQLError);
  EXPECT_EQ(Read("SELECT b, COUNT(*) FROM nk GROUP BY b ORDER BY b"), "x\t2");
  // Once they differ, each is changed alone.
  Sql("UPDATE nk SET a = 2 LIMIT 1;");
  ds->Refresh();
  ds->First();
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

TEST_F(EditTest, FailedApplyUndoesAllAndKeepsTheList) {
  auto ds = Open("select id, a from e order by id");
  ds->SetCachedUpdates(true);
  for (int id : {20, 5, 21}) {
    ds->Append();
    ds->FieldByName("id")->SetAsInteger(id);
    ds->FieldByName("a")->SetAsString("c" + std::to_string(id));
    ds->Post();
  }
  // The held statements run in one transaction: the insert of 20 is undone
  // with the failing one, and every statement stays for the retry.
  EXPECT_THROW(ds->ApplyUpdates(), EMySQLError);
  EXPECT_EQ(ds->SQLCached()->Count(), 3);
  EXPECT_EQ(Read("SELECT COUNT(*) FROM e WHERE id IN (20, 21)"), "0");
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

// Hostile values written by a real insert (table) and edit (query), in a
// default session and in one with NO_BACKSLASH_ESCAPES, come back byte for
// byte on a connection of their own.
class HostileEditTest : public EditTest, public ::testing::WithParamInterface<bool> {};

std::string HexOf(const std::string& s) {
  static const char* d = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    out += d[c >> 4];
    out += d[c & 15];
  }
  return out;
}

struct HostileValue {
  bool null;
  std::string text;
};

std::vector<HostileValue> HostileValues() {
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  return {{false, "a'b"},
          {false, "back\\slash"},
          {false, "'; drop table t; --"},
          {false, std::string("nul\0byte", 8)},
          {false, "\xC3\xBC\xE2\x9C\x93 \xF0\x9F\x98\x80\xF0\x9D\x84\x9E"},
          {false, ""},
          {true, ""},
          {false, "x\\"},
          {false, "\\'\"`"},
          {false, all}};
}

TEST_P(HostileEditTest, ValuesComeBackByteIdentical) {
  const bool no_backslash_escapes = GetParam();
  const std::vector<HostileValue> values = HostileValues();
  const std::string table = no_backslash_escapes ? "hv_nbe" : "hv";
  std::string setup = "DROP TABLE IF EXISTS " + table + ";CREATE TABLE " + table +
                      " (id INT PRIMARY KEY, s VARCHAR(300) CHARACTER SET utf8mb4,"
                      " b VARBINARY(300), d DECIMAL(20,2), f DOUBLE) ENGINE=InnoDB;";
  // Rows 100+ are edited; rows 0+ are inserted.
  for (size_t i = 0; i < values.size(); ++i)
    setup += "INSERT INTO " + table + " VALUES (" + std::to_string(100 + i) +
             ", 'old', 'old', 1, 1);";
  Sql(setup);
  server_->Connect();
  if (no_backslash_escapes) {
    server_->ExecSQL("set sql_mode='NO_BACKSLASH_ESCAPES'");
    ASSERT_EQ(server_->EscapeStr("a'\\"), "a''\\");
  }
  const double sum = 0.1 + 0.2;  // 0.30000000000000004 needs 17 digits
  auto put = [&](TDataSet& ds, const HostileValue& v) {
    for (const char* column : {"s", "b"}) {
      if (v.null) {
        ds.FieldByName(column)->Clear();
      } else if (std::string(column) == "s" && v.text.size() == 256) {
        ds.FieldByName(column)->SetAsString("all bytes");  // not valid UTF-8
      } else {
        ds.FieldByName(column)->SetAsString(v.text);
      }
    }
    ds.FieldByName("d")->SetAsString("123456789012345678.91");
    ds.FieldByName("f")->SetAsFloat(sum);
  };

  TMySQLTable inserter;
  inserter.SetServer(server_.get());
  inserter.SetTableName(table);
  inserter.Open();
  for (size_t i = 0; i < values.size(); ++i) {
    inserter.Append();
    inserter.FieldByName("id")->SetAsInteger(static_cast<int32_t>(i));
    put(inserter, values[i]);
    inserter.Post();
  }
  TMySQLQuery editor;
  editor.SetServer(server_.get());
  editor.SQL()->SetText("select * from " + table + " where id >= 100 order by id");
  editor.Open();
  for (size_t i = 0; i < values.size(); ++i, editor.Next()) {
    ASSERT_EQ(editor.FieldByName("id")->AsInteger(), static_cast<int32_t>(100 + i));
    editor.Edit();
    put(editor, values[i]);
    editor.Post();
  }

  // Read back as root.
  for (int base : {0, 100}) {
    for (size_t i = 0; i < values.size(); ++i) {
      const HostileValue& v = values[i];
      const std::string row = Read("SELECT HEX(s), HEX(b), d, f = 0.1e0 + 0.2e0 FROM " +
                                   table + " WHERE id = " + std::to_string(base + i));
      std::string s = v.text.size() == 256 ? std::string("all bytes") : v.text;
      std::string expected = v.null ? "NULL\tNULL" : HexOf(s) + "\t" + HexOf(v.text);
      EXPECT_EQ(row, expected + "\t123456789012345678.91\t1") << "row " << base + i;
    }
  }
  EXPECT_EQ(Read("SELECT COUNT(*) FROM " + table), std::to_string(2 * values.size()));
}

INSTANTIATE_TEST_SUITE_P(Sessions, HostileEditTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? std::string("NoBackslashEscapes")
                                             : std::string("Default");
                         });

}  // namespace
}  // namespace rowset::test
