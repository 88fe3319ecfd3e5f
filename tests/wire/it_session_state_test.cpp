// A session keeps its server state across failures that need not cost the
// connection: a statement too large to send, the largest statement that fits
// one packet, and a changed connection parameter with an unbuffered result
// still open.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "tests/common/TestServer.h"
#include "wire/ViVURIzodor.h"
#include "wire/uMysqlErrors.h"

namespace rowset {
namespace {

int Query(ViVURIzodorHandle h, std::string_view sql) {
  return mysql_real_query(h, sql.data(), static_cast<unsigned long>(sql.size()));
}

std::string FirstValue(ViVURIzodorHandle h, std::string_view sql) {
  if (Query(h, sql) != 0) return "error " + std::to_string(mysql_errno(h));
  ViVURIzodorResultHandle r = mysql_use_result(h);
  if (r == nullptr) return "error " + std::to_string(mysql_errno(h));
  MYSQL_ROW row = mysql_fetch_row(r);
  std::string v = row != nullptr && row[0] != nullptr ? row[0] : "<none>";
  mysql_free_result(r);
  return v;
}

class SessionStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    h_ = mysql_init(nullptr);
    const auto& s = test::Server();
    ASSERT_EQ(mysql_real_connect(h_, s.host.c_str(), s.user.c_str(), "", s.database.c_str(), s.port,
                                 nullptr, 0),
              1)
        << mysql_error(h_);
  }
  void TearDown() override { mysql_close(h_); }
  ViVURIzodorHandle h_ = nullptr;
};

// Statements of 16 MB and more go as several packets; one beyond what the
// server takes (max_allowed_packet is 64 MB there) fails with the server's
// error or a lost connection, never a crash.
TEST_F(SessionStateTest, StatementsOverSeveralPacketsRun) {
  ASSERT_EQ(Query(h_, "set @v = 42"), 0);
  ASSERT_EQ(Query(h_, "create temporary table kept (id int)"), 0);
  const std::string huge = "select length('" + std::string(17 * 1024 * 1024, 'x') + "')";
  EXPECT_EQ(FirstValue(h_, huge), std::to_string(17 * 1024 * 1024));
  EXPECT_TRUE(h_->GetConnected());
  EXPECT_EQ(FirstValue(h_, "select @v"), "42");
  EXPECT_EQ(FirstValue(h_, "select count(*) from kept"), "0");
  // A row over several packets.
  EXPECT_EQ(FirstValue(h_, "select length(repeat('z', 40 * 1024 * 1024))"), std::to_string(40 << 20));
  EXPECT_EQ(FirstValue(h_, "select repeat('z', 33 * 1024 * 1024)").size(), size_t{33} << 20);
  EXPECT_EQ(FirstValue(h_, "select 'after'"), "after");

  const std::string too_long = "select '" + std::string(65 * 1024 * 1024, 'x') + "'";
  EXPECT_NE(Query(h_, too_long), 0);
  EXPECT_TRUE(mysql_errno(h_) == 1153u || mysql_errno(h_) == CR_SERVER_LOST)
      << mysql_errno(h_) << " " << mysql_error(h_);
}

TEST_F(SessionStateTest, StatementFillingTheLargestPacketRuns) {
  // Command byte plus statement: exactly 0xFFFFFF bytes, the size that
  // tells the server more follows.
  const std::string head = "select length('";
  const std::string tail = "')";
  const size_t fill = 0xFFFFFE - head.size() - tail.size();
  std::string statement = head + std::string(fill, 'y') + tail;
  ASSERT_EQ(statement.size(), 0xFFFFFEu);
  EXPECT_EQ(FirstValue(h_, statement), std::to_string(fill));
  EXPECT_EQ(FirstValue(h_, "select 'after'"), "after");
}

// A changed parameter closes the session through its own close: the open
// unbuffered result is detached and ends at once, and never reads the
// connection made afterwards.
TEST(SessionSetters, ChangedParameterEndsTheOpenResult) {
  TMysqlClient c;
  const auto& s = test::Server();
  ASSERT_TRUE(c.connect(s.host, s.user, "", "", s.port, "", false, 0)) << c.GetLastError();
  bool completed = false;
  std::unique_ptr<TMysqlResult> r = c.query(
      "select a.table_name from information_schema.columns a, information_schema.columns b",
      false, completed);
  ASSERT_NE(r, nullptr) << c.GetLastError();
  EXPECT_FALSE(r->eof);
  c.SetClientFlag(c.client_flag | CLIENT_FOUND_ROWS);
  EXPECT_FALSE(c.GetConnected());
  ASSERT_TRUE(c.ping()) << c.GetLastError();  // reconnects
  r->Next();
  EXPECT_TRUE(r->eof);
  EXPECT_TRUE(r->HadErrors());
  r.reset();
  ASSERT_TRUE(c.ping()) << c.GetLastError();
  r = c.query("select 'fresh'", true, completed);
  ASSERT_NE(r, nullptr) << c.GetLastError();
  EXPECT_STREQ(r->FieldValue(0), "fresh");
}

}  // namespace
}  // namespace rowset
