// Result sets of the client session against the real server: OK packets,
// stored and unbuffered results, navigation and value access.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/common/TestServer.h"
#include "wire/uMysqlClient.h"

namespace rowset {
namespace {

class ResultsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    db_ = test::FreshDatabase("results");
    test::RootSql("create table " + db_ +
                  ".people (id int not null auto_increment primary key, "
                  "Name varchar(40), note varchar(10), amount decimal(8,2), "
                  "born year, score double, big bigint unsigned)");
    test::RootSql("insert into " + db_ +
                  ".people (Name, note, amount, born, score, big) values "
                  "('Ann', '', 1.50, 1990, 0.5, 18446744073709551615), "
                  "('Bob', NULL, NULL, NULL, NULL, NULL), "
                  "('Charlotte', 'x', -2.25, 2001, 1e300, 0)");
  }

  void SetUp() override {
    const auto& s = test::Server();
    ASSERT_TRUE(c_.connect(s.host, s.pw_user, s.pw_password, db_, s.port, "",
                           true, 0))
        << c_.GetLastError();
  }

  std::unique_ptr<TMysqlResult> Store(const std::string& sql) {
    EXPECT_EQ(c_.realquery(sql), 0) << c_.GetLastError();
    return c_.store_result();
  }
  std::unique_ptr<TMysqlResult> Use(const std::string& sql) {
    EXPECT_EQ(c_.realquery(sql), 0) << c_.GetLastError();
    return c_.use_result();
  }
  std::string Value(TMysqlResult& r, int i) {
    r.FetchLengths();
    const char* v = r.FieldValue(i);
    return v == nullptr ? "<null>" : std::string(v, r.FieldLenght(i));
  }

  static std::string db_;
  TMysqlClient c_;
};

std::string ResultsTest::db_;

TEST_F(ResultsTest, OkPacketsCarryCountersAndInfo) {
  ASSERT_EQ(c_.realquery("create temporary table tmp (id int auto_increment "
                         "primary key, v int)"),
            0)
      << c_.GetLastError();
  ASSERT_EQ(c_.realquery("insert into tmp (v) values (1), (2), (3)"), 0);
  EXPECT_EQ(c_.affected_rows, 3u);
  EXPECT_EQ(c_.insert_id, 1u);
  EXPECT_EQ(c_.info, "Records: 3  Duplicates: 0  Warnings: 0");
  ASSERT_EQ(c_.realquery("insert into tmp (v) values (4)"), 0);
  EXPECT_EQ(c_.insert_id, 4u);
  EXPECT_EQ(c_.info, "");
  ASSERT_EQ(c_.realquery("update tmp set v = v + 1 where v > 1"), 0);
  EXPECT_EQ(c_.affected_rows, 3u);
  EXPECT_EQ(c_.info, "Rows matched: 3  Changed: 3  Warnings: 0");
  EXPECT_EQ(c_.status, MYSQL_STATUS_READY);
  // No result was announced: neither kind of result, and no error.
  EXPECT_EQ(c_.store_result(), nullptr);
  EXPECT_EQ(c_.use_result(), nullptr);
  EXPECT_EQ(c_.GetLastErrorNo(), 0u);
}

TEST_F(ResultsTest, EmptyStoredResult) {
  auto r = Store("select * from people where id < 0");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->field_count, 7u);
  EXPECT_EQ(r->row_count, 0u);
  EXPECT_TRUE(r->eof);
  EXPECT_EQ(r->RecNo(), -1);
  EXPECT_EQ(r->FieldValue(0), nullptr);
  r->Next();
  EXPECT_TRUE(r->eof);
  EXPECT_TRUE(r->bof);
  r->Last();
  EXPECT_EQ(r->RecNo(), -1);
  EXPECT_EQ(c_.affected_rows, 0u);
  EXPECT_EQ(c_.status, MYSQL_STATUS_READY);
}

TEST_F(ResultsTest, NullDiffersFromEmptyInBothKinds) {
  for (bool stored : {true, false}) {
    auto r = stored ? Store("select note from people order by id")
                    : Use("select note from people order by id");
    ASSERT_NE(r, nullptr);
    ASSERT_NE(r->FieldValue(0), nullptr) << stored;
    EXPECT_EQ(Value(*r, 0), "");
    r->Next();
    EXPECT_EQ(r->FieldValue(0), nullptr) << stored;
    EXPECT_EQ(r->FieldLenght(0), 0u);
    r->Next();
    EXPECT_EQ(Value(*r, 0), "x");
  }
}

TEST_F(ResultsTest, MegabyteBlobWithZeroBytesReadExactly) {
  std::string blob(1 << 20, '\0');
  for (size_t i = 0; i < blob.size(); ++i)
    blob[i] = static_cast<char>((i * 7919) % 251);  // zero bytes among them
  std::string hex;
  hex.reserve(blob.size() * 2);
  static const char digits[] = "0123456789abcdef";
  for (unsigned char ch : blob) {
    hex += digits[ch >> 4];
    hex += digits[ch & 15];
  }
  ASSERT_EQ(c_.realquery("create temporary table blobs (b longblob)"), 0);
  ASSERT_EQ(c_.realquery("insert into blobs values (0x" + hex + ")"), 0)
      << c_.GetLastError();
  for (bool stored : {true, false}) {
    auto r = stored ? Store("select b, length(b) from blobs")
                    : Use("select b, length(b) from blobs");
    ASSERT_NE(r, nullptr);
    r->FetchLengths();
    ASSERT_EQ(r->FieldLenght(0), blob.size());
    EXPECT_TRUE(std::string(r->FieldValue(0), r->FieldLenght(0)) == blob);
    EXPECT_EQ(r->FieldValue(0)[blob.size()], '\0');
    EXPECT_STREQ(r->FieldValue(1), "1048576");
    if (stored) {
      EXPECT_EQ(r->FieldDef(0)->max_length, blob.size());
    }
  }
  // The packet buffer went back to its small size after the reads.
  EXPECT_EQ(c_.net.buff_size, 8192u);
}

TEST_F(ResultsTest, MaxLengthOfStoredResultOnly) {
  auto r = Store("select Name, note, amount from people");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->FieldDef(0)->max_length, 9u);  // Charlotte
  EXPECT_EQ(r->FieldDef(1)->max_length, 1u);
  EXPECT_EQ(r->FieldDef(2)->max_length, 5u);  // -2.25
  EXPECT_EQ(r->FieldDef(3), nullptr);
  EXPECT_EQ(r->FieldDef(-1), nullptr);
  auto u = Use("select Name from people");
  ASSERT_NE(u, nullptr);
  EXPECT_EQ(u->FieldDef(0)->max_length, 0u);
}

TEST_F(ResultsTest, NumericColumnsCarryTheNumFlag) {
  auto r = Store("select id, Name, amount, born, score, big, note from people");
  ASSERT_NE(r, nullptr);
  for (int i : {0, 2, 3, 4, 5})
    EXPECT_TRUE(r->FieldDef(i)->flags & NUM_FLAG) << r->FieldDef(i)->name;
  for (int i : {1, 6})
    EXPECT_FALSE(r->FieldDef(i)->flags & NUM_FLAG) << r->FieldDef(i)->name;
  EXPECT_TRUE(r->FieldDef(0)->flags & PRI_KEY_FLAG);
  EXPECT_TRUE(r->FieldDef(0)->flags & AUTO_INCREMENT_FLAG);
  EXPECT_TRUE(r->FieldDef(5)->flags & UNSIGNED_FLAG);
  EXPECT_EQ(r->FieldDef(0)->type, 3);
  EXPECT_EQ(r->FieldDef(2)->decimals, 2u);
  EXPECT_STREQ(r->FieldDef(1)->table, "people");
}

TEST_F(ResultsTest, FieldIndexByName) {
  auto r = Store("select id, Name from people order by id");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->FieldIndexByName("Name", true), 1);
  EXPECT_EQ(r->FieldIndexByName("name", true), -1);
  EXPECT_EQ(r->FieldIndexByName("NAME", false), 1);
  EXPECT_EQ(r->FieldIndexByName("", false), -1);
  EXPECT_EQ(r->FieldIndexByName("nam", false), -1);
  EXPECT_STREQ(r->FieldValueByName("name", false), "Ann");
  EXPECT_EQ(r->FieldValueByName("name", true), nullptr);
  EXPECT_EQ(r->FieldDefByName("ID", false), r->FieldDef(0));
}

TEST_F(ResultsTest, StoredNavigation) {
  auto r = Store("select id from people order by id");
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(r->row_count, 3u);
  EXPECT_EQ(c_.affected_rows, 3u);
  EXPECT_TRUE(r->LastRowRead());
  EXPECT_FALSE(r->HadErrors());
  EXPECT_EQ(r->RecNo(), 0);
  EXPECT_FALSE(r->eof);
  EXPECT_STREQ(r->FieldValue(0), "1");
  // Lengths are stale until fetched for the new row.
  EXPECT_FALSE(r->HasLengths());
  EXPECT_EQ(r->FieldLenght(0), 0u);
  r->SetHasLengths(true);
  EXPECT_EQ(r->FieldLenght(0), 1u);

  r->SetRecNo(2);
  EXPECT_EQ(r->RecNo(), 2);
  EXPECT_STREQ(r->FieldValue(0), "3");
  EXPECT_FALSE(r->eof);
  EXPECT_FALSE(r->bof);
  r->SetRecNo(3);  // = row_count: no move
  EXPECT_EQ(r->RecNo(), 2);
  r->SetRecNo(-1);
  EXPECT_EQ(r->RecNo(), 2);
  r->Next();
  EXPECT_TRUE(r->eof);
  EXPECT_EQ(r->RecNo(), 2);
  EXPECT_STREQ(r->FieldValue(0), "3");

  r->Prior();
  EXPECT_EQ(r->RecNo(), 1);
  EXPECT_STREQ(r->FieldValue(0), "2");
  EXPECT_FALSE(r->eof);
  r->Prior();
  r->Prior();
  EXPECT_TRUE(r->bof);
  EXPECT_EQ(r->RecNo(), 0);
  EXPECT_STREQ(r->FieldValue(0), "1");

  r->Last();
  EXPECT_EQ(r->RecNo(), 2);
  EXPECT_TRUE(r->eof);
  EXPECT_STREQ(r->FieldValue(0), "3");
  r->First();
  EXPECT_EQ(r->RecNo(), 0);
  EXPECT_TRUE(r->bof);
  EXPECT_FALSE(r->eof);
  EXPECT_STREQ(r->FieldValue(0), "1");
  EXPECT_EQ(r->FieldValue(1), nullptr);
}

TEST_F(ResultsTest, UnbufferedNavigationIsForwardOnly) {
  auto r = Use("select id from people order by id");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(c_.status, MYSQL_STATUS_USE_RESULT);
  EXPECT_EQ(c_.current_result, r.get());
  // The first row is read at once.
  EXPECT_EQ(r->row_count, 1u);
  EXPECT_TRUE(r->bof);
  EXPECT_STREQ(r->FieldValue(0), "1");
  EXPECT_EQ(r->FieldLenght(0), 1u);
  r->Prior();
  r->First();
  r->SetRecNo(2);
  EXPECT_STREQ(r->FieldValue(0), "1");
  EXPECT_EQ(r->RecNo(), 0);
  // Another command while rows are pending is out of sync.
  EXPECT_FALSE(c_.ping());
  EXPECT_EQ(c_.GetLastErrorNo(), CR_COMMANDS_OUT_OF_SYNC);
  r->Next();
  EXPECT_STREQ(r->FieldValue(0), "2");
  EXPECT_EQ(r->RecNo(), 1);
  r->Last();
  EXPECT_EQ(r->row_count, 3u);
  EXPECT_EQ(r->RecNo(), 2);
  EXPECT_TRUE(r->eof);
  EXPECT_TRUE(r->LastRowRead());
  EXPECT_FALSE(r->HadErrors());
  EXPECT_EQ(c_.status, MYSQL_STATUS_READY);
  EXPECT_EQ(c_.current_result, nullptr);
  EXPECT_EQ(c_.affected_rows, 3u);
  EXPECT_EQ(r->client, nullptr);
  EXPECT_TRUE(c_.ping());
}

TEST_F(ResultsTest, FreeingUnbufferedResultMidwayLetsTheNextStatementRun) {
  auto r = Use("select a.id, b.id from people a, people b, people c");
  ASSERT_NE(r, nullptr);
  r->Next();
  r->Next();
  EXPECT_EQ(r->row_count, 3u);
  r.reset();
  EXPECT_EQ(c_.status, MYSQL_STATUS_READY);
  EXPECT_EQ(c_.current_result, nullptr);
  auto s = Store("select count(*) from people");
  ASSERT_NE(s, nullptr) << c_.GetLastError();
  EXPECT_STREQ(s->FieldValue(0), "3");
}

TEST_F(ResultsTest, ClosingTheSessionDetachesAnUnbufferedResult) {
  auto r = Use("select id from people");
  ASSERT_NE(r, nullptr);
  c_.close();
  EXPECT_EQ(r->client, nullptr);
  r->Next();
  EXPECT_TRUE(r->eof);
  EXPECT_TRUE(r->HadErrors());
}

TEST_F(ResultsTest, StoreOrUseOutOfTurnIsOutOfSync) {
  auto r = Use("select id from people");
  ASSERT_NE(r, nullptr);
  // A second statement cannot be sent; the pending result stays intact.
  EXPECT_NE(c_.realquery("select 1"), 0);
  EXPECT_EQ(c_.GetLastErrorNo(), CR_COMMANDS_OUT_OF_SYNC);
  r->Last();
  EXPECT_EQ(r->row_count, 3u);
}

TEST_F(ResultsTest, ServerErrorLeavesTheSessionReady) {
  EXPECT_NE(c_.realquery("select * from no_such_table"), 0);
  EXPECT_EQ(c_.GetLastErrorNo(), 1146u);
  EXPECT_EQ(c_.status, MYSQL_STATUS_READY);
  EXPECT_EQ(c_.store_result(), nullptr);
  auto r = Store("select 1");
  ASSERT_NE(r, nullptr);
  EXPECT_STREQ(r->FieldValue(0), "1");
}

}  // namespace
}  // namespace rowset
