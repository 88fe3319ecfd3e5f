// The flat client functions against the real server, and their answers for
// absent handles.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/common/TestServer.h"
#include "wire/ViVURIzodor.h"

namespace rowset {
namespace {

class FlatTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    db_ = test::FreshDatabase("flat");
    test::RootSql("create table " + db_ +
                  ".items (id int not null auto_increment primary key, "
                  "label varchar(20), qty int)");
    test::RootSql("insert into " + db_ +
                  ".items (label, qty) values ('one', 1), ('two', NULL), "
                  "('', 3)");
  }

  void SetUp() override {
    h_ = mysql_init(nullptr);
    ASSERT_NE(h_, nullptr);
    const auto& s = test::Server();
    ASSERT_EQ(mysql_real_connect(h_, s.host.c_str(), s.user.c_str(), "",
                                 db_.c_str(), s.port, nullptr, 0),
              1)
        << mysql_error(h_);
  }
  void TearDown() override { mysql_close(h_); }

  // The first value of a one-row statement, through the flat functions.
  std::string One(const std::string& sql) {
    EXPECT_EQ(mysql_real_query(h_, sql.c_str(), sql.size()), 0) << mysql_error(h_);
    ViVURIzodorResultHandle r = mysql_use_result(h_);
    if (r == nullptr) return "<no result>";
    MYSQL_ROW row = mysql_fetch_row(r);
    std::string v = row == nullptr ? "<no row>"
                    : row[0] == nullptr ? "<null>"
                                        : std::string(row[0], mysql_fetch_lengths(r)[0]);
    mysql_free_result(r);
    return v;
  }

  static std::string db_;
  ViVURIzodorHandle h_ = nullptr;
};

std::string FlatTest::db_;

TEST(FlatAbsentHandleTest, AbsentHandlesGiveTheEmptyAnswers) {
  EXPECT_EQ(mysql_options(nullptr, MYSQL_OPT_COMPRESS, nullptr), 0);
  EXPECT_EQ(mysql_real_connect(nullptr, "h", "u", "p", "d", 1, nullptr, 0), 0);
  mysql_close(nullptr);
  EXPECT_EQ(mysql_errno(nullptr), 1u);
  EXPECT_EQ(mysql_error(nullptr), nullptr);
  EXPECT_EQ(mysql_get_host_info(nullptr), nullptr);
  EXPECT_STREQ(mysql_get_client_info(), "3.23.38");
  EXPECT_EQ(mysql_get_server_info(nullptr), nullptr);
  EXPECT_EQ(mysql_get_proto_info(nullptr), 0u);
  EXPECT_EQ(mysql_ping(nullptr), 1);
  EXPECT_EQ(mysql_thread_id(nullptr), 0u);
  EXPECT_EQ(mysql_kill(nullptr, 1), 1);
  EXPECT_EQ(mysql_create_db(nullptr, "x"), 1);
  EXPECT_EQ(mysql_select_db(nullptr, "x"), 1);
  EXPECT_EQ(mysql_drop_db(nullptr, "x"), 1);
  EXPECT_NE(mysql_real_query(nullptr, "select 1", 8), 0);
  EXPECT_EQ(mysql_use_result(nullptr), nullptr);
  mysql_free_result(nullptr);
  EXPECT_EQ(mysql_num_fields(nullptr), 0u);
  EXPECT_EQ(mysql_num_rows(nullptr), 0u);
  EXPECT_EQ(mysql_fetch_lengths(nullptr), nullptr);
  EXPECT_EQ(mysql_fetch_field(nullptr), nullptr);
  EXPECT_EQ(mysql_fetch_row(nullptr), nullptr);
  EXPECT_EQ(mysql_insert_id(nullptr), 0u);
  EXPECT_EQ(mysql_refresh(nullptr, 1), 0);
  EXPECT_EQ(mysql_affected_rows(nullptr), 0u);
  char out[16];
  EXPECT_EQ(mysql_real_escape_string(nullptr, out, "a'b", 3), 4u);
  EXPECT_STREQ(out, "a\\'b");
}

TEST(FlatSessionTest, InitAndConnectAnswers) {
  ViVURIzodorHandle h = mysql_init(nullptr);
  EXPECT_FALSE(h->auto_reconnect);
  EXPECT_FALSE(h->fcompress);
  unsigned timeout = 7;
  EXPECT_EQ(mysql_options(h, MYSQL_OPT_CONNECT_TIMEOUT, &timeout), 0);
  EXPECT_EQ(h->connect_timeout, 7u);
  EXPECT_EQ(mysql_options(h, MYSQL_OPT_COMPRESS, nullptr), 0);
  EXPECT_TRUE(h->fcompress);
  EXPECT_EQ(mysql_options(h, MYSQL_OPT_NAMED_PIPE, nullptr), 0);
  EXPECT_TRUE(h->try_sock);
  EXPECT_FALSE(h->named_pipe);
  EXPECT_EQ(mysql_options(h, MYSQL_SET_CHARSET_NAME, "utf8"), 0);
  EXPECT_EQ(mysql_options(h, MYSQL_OPT_CONNECT_TIMEOUT, nullptr), 0);
  const auto& s = test::Server();
  // A wrong password: 0, not a handle, and the server's error.
  EXPECT_EQ(mysql_real_connect(h, s.host.c_str(), s.pw_user.c_str(), "wrong",
                               nullptr, s.port, nullptr, 0),
            0);
  EXPECT_EQ(mysql_errno(h), 1045u);
  EXPECT_NE(std::string(mysql_error(h)).find("Access denied"), std::string::npos);
  // Compressed, with the old-password account.
  EXPECT_EQ(mysql_real_connect(h, s.host.c_str(), s.old_user.c_str(),
                               s.old_password.c_str(), nullptr, s.port, nullptr, 0),
            1)
      << mysql_error(h);
  EXPECT_TRUE(h->net.compress);
  mysql_close(h);
}

TEST(FlatSessionTest, ReadTimeoutIsProcessWideAndTakenByNewSessions) {
  uint32_t saved = NET_READ_TIMEOUT;
  ViVURIzodorHandle a = mysql_init(nullptr);
  unsigned value = 45;
  EXPECT_EQ(mysql_options(a, MYSQL_OPT_READ_TIMEOUT, &value), 0);
  EXPECT_EQ(NET_READ_TIMEOUT, 45u);
  value = 46;
  EXPECT_EQ(mysql_options(a, MYSQL_OPT_WRITE_TIMEOUT, &value), 0);
  EXPECT_EQ(NET_READ_TIMEOUT, 46u);
  ViVURIzodorHandle b = mysql_init(nullptr);
  EXPECT_EQ(b->connect_timeout, 46u);
  mysql_close(a);
  mysql_close(b);
  NET_READ_TIMEOUT = saved;
}

TEST_F(FlatTest, SessionInformation) {
  EXPECT_EQ(mysql_errno(h_), 0u);
  EXPECT_STREQ(mysql_error(h_), "");
  EXPECT_EQ(mysql_get_host_info(h_), nullptr);
  std::string version = One("select version()");
  EXPECT_NE(std::string(mysql_get_server_info(h_)).find(version), std::string::npos)
      << mysql_get_server_info(h_) << " / " << version;
  EXPECT_EQ(mysql_get_proto_info(h_), 10u);
  EXPECT_EQ(std::to_string(mysql_thread_id(h_)), One("select connection_id()"));
  EXPECT_EQ(mysql_ping(h_), 0);
  EXPECT_EQ(mysql_refresh(h_, 1), 0);
}

TEST_F(FlatTest, DatabasesAndKill) {
  std::string name = db_ + "_extra";
  // This server no longer knows the create and drop commands (1047); either
  // way the answer and the recorded error agree.
  int created = mysql_create_db(h_, name.c_str());
  EXPECT_EQ(created != 0, mysql_errno(h_) != 0);
  if (created != 0) {
    EXPECT_EQ(mysql_errno(h_), 1047u) << mysql_error(h_);
    ASSERT_EQ(One("create database " + name), "<no result>");
  }
  EXPECT_EQ(mysql_select_db(h_, name.c_str()), 0);
  EXPECT_EQ(One("select database()"), name);
  int dropped = mysql_drop_db(h_, name.c_str());
  EXPECT_EQ(dropped != 0, mysql_errno(h_) != 0);
  if (dropped != 0) {
    ASSERT_EQ(One("drop database " + name), "<no result>");
  }
  EXPECT_EQ(mysql_select_db(h_, name.c_str()), 1);
  EXPECT_EQ(mysql_errno(h_), 1049u);
  EXPECT_EQ(mysql_select_db(h_, db_.c_str()), 0);
  EXPECT_EQ(mysql_select_db(h_, ""), 1);

  ViVURIzodorHandle other = mysql_init(nullptr);
  const auto& s = test::Server();
  ASSERT_EQ(mysql_real_connect(other, s.host.c_str(), s.user.c_str(), "", "",
                               s.port, nullptr, 0),
            1);
  EXPECT_EQ(mysql_kill(h_, mysql_thread_id(other)), 0) << mysql_error(h_);
  EXPECT_EQ(mysql_ping(other), 1);  // killed, and no automatic reconnect
  mysql_close(other);
  EXPECT_EQ(mysql_kill(h_, 0x7FFFFFF0), 1);
  EXPECT_EQ(mysql_errno(h_), 1094u);  // unknown thread id
}

TEST_F(FlatTest, QueriesCountersAndEscaping) {
  ASSERT_EQ(mysql_real_query(h_, "create temporary table t (id int "
                                 "auto_increment primary key, v varchar(10))", 0),
            0);
  EXPECT_EQ(mysql_use_result(h_), nullptr);  // no result set: no error either
  EXPECT_EQ(mysql_errno(h_), 0u);
  char escaped[64];
  const char raw[] = "it's\0\\\n";
  unsigned long n = mysql_real_escape_string(h_, escaped, raw, sizeof raw - 1);
  EXPECT_EQ(std::string(escaped, n), "it\\'s\\0\\\\\\n");
  EXPECT_EQ(escaped[n], '\0');
  std::string insert = std::string("insert into t (v) values ('a'), ('") +
                       escaped + "')";
  ASSERT_EQ(mysql_real_query(h_, insert.c_str(), insert.size()), 0) << mysql_error(h_);
  EXPECT_EQ(mysql_affected_rows(h_), 2u);
  EXPECT_EQ(mysql_insert_id(h_), 1u);
  EXPECT_EQ(One("select length(v) from t where id = 2"), "7");
  // The statement ends at its first zero byte, whatever length is passed.
  const char two[] = "select 1\0garbage";
  EXPECT_EQ(mysql_real_query(h_, two, sizeof two - 1), 0) << mysql_error(h_);
  mysql_free_result(mysql_use_result(h_));
  EXPECT_NE(mysql_real_query(h_, "selec 1", 7), 0);
  EXPECT_EQ(mysql_errno(h_), 1064u);
  // An empty statement sends nothing and succeeds.
  EXPECT_EQ(mysql_real_query(h_, "", 0), 0);
}

TEST_F(FlatTest, FetchRowsFieldsAndLengths) {
  ASSERT_EQ(mysql_real_query(h_, "select id, label, qty from items order by id", 0), 0);
  ViVURIzodorResultHandle r = mysql_use_result(h_);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(mysql_num_fields(r), 3u);
  // The first row was read by mysql_use_result already; fetching it reads
  // nothing more.
  EXPECT_EQ(mysql_num_rows(r), 1u);
  const char* names[] = {"id", "label", "qty"};
  for (const char* name : names) {
    TMysql_FieldDef* f = mysql_fetch_field(r);
    ASSERT_NE(f, nullptr);
    EXPECT_STREQ(f->name, name);
    EXPECT_STREQ(f->table, "items");
  }
  EXPECT_EQ(mysql_fetch_field(r), nullptr);
  EXPECT_EQ(mysql_fetch_field(r), nullptr);

  MYSQL_ROW row = mysql_fetch_row(r);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(mysql_num_rows(r), 1u);
  unsigned long* len = mysql_fetch_lengths(r);
  EXPECT_STREQ(row[0], "1");
  EXPECT_STREQ(row[1], "one");
  EXPECT_EQ(len[1], 3u);
  row = mysql_fetch_row(r);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(mysql_num_rows(r), 2u);
  EXPECT_EQ(row[2], nullptr);
  EXPECT_EQ(mysql_fetch_lengths(r)[2], 0u);
  row = mysql_fetch_row(r);
  ASSERT_NE(row, nullptr);
  EXPECT_STREQ(row[1], "");
  EXPECT_EQ(mysql_fetch_lengths(r)[1], 0u);
  EXPECT_EQ(mysql_fetch_row(r), nullptr);
  EXPECT_EQ(mysql_fetch_row(r), nullptr);
  EXPECT_EQ(mysql_num_rows(r), 3u);
  EXPECT_EQ(mysql_errno(h_), 0u);
  mysql_free_result(r);
  EXPECT_EQ(mysql_affected_rows(h_), 3u);

  // A statement without rows: the first fetch gives none.
  ASSERT_EQ(mysql_real_query(h_, "select * from items where id < 0", 0), 0);
  r = mysql_use_result(h_);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(mysql_num_rows(r), 0u);
  EXPECT_EQ(mysql_fetch_row(r), nullptr);
  mysql_free_result(r);
}

TEST_F(FlatTest, FreeingMidwayAndOutOfSyncCommands) {
  ASSERT_EQ(mysql_real_query(h_, "select * from items a, items b", 0), 0);
  ViVURIzodorResultHandle r = mysql_use_result(h_);
  ASSERT_NE(r, nullptr);
  ASSERT_NE(mysql_fetch_row(r), nullptr);
  EXPECT_EQ(mysql_ping(h_), 1);
  EXPECT_EQ(mysql_errno(h_), CR_COMMANDS_OUT_OF_SYNC);
  EXPECT_NE(mysql_real_query(h_, "select 1", 8), 0);
  mysql_free_result(r);
  EXPECT_EQ(One("select 'next'"), "next");
}

}  // namespace
}  // namespace rowset
