// The flat client functions against the real server, and their answers for
// absent handles.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "tests/common/TestServer.h"
#include "wire/ViVURIzodor.h"

namespace rowset {
namespace {

// A statement of the flat interface, passed with its length.
int Query(ViVURIzodorHandle h, std::string_view sql) {
  return mysql_real_query(h, sql.data(), static_cast<unsigned long>(sql.size()));
}

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
  EXPECT_EQ(mysql_refresh(nullptr, 1), 1);
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

// Runs `sql` and gives the first value, or "error N".
std::string FirstValue(ViVURIzodorHandle h, std::string_view sql) {
  if (Query(h, sql) != 0) return "error " + std::to_string(mysql_errno(h));
  ViVURIzodorResultHandle r = mysql_use_result(h);
  if (r == nullptr) return "error " + std::to_string(mysql_errno(h));
  MYSQL_ROW row = mysql_fetch_row(r);
  std::string v = row != nullptr && row[0] != nullptr ? row[0]
                                                      : "error " + std::to_string(mysql_errno(h));
  mysql_free_result(r);
  return v;
}

ViVURIzodorHandle Connected(unsigned connect_timeout, unsigned read_timeout) {
  ViVURIzodorHandle h = mysql_init(nullptr);
  if (connect_timeout != 0) mysql_options(h, MYSQL_OPT_CONNECT_TIMEOUT, &connect_timeout);
  if (read_timeout != 0) mysql_options(h, MYSQL_OPT_READ_TIMEOUT, &read_timeout);
  const auto& s = test::Server();
  EXPECT_EQ(mysql_real_connect(h, s.host.c_str(), s.user.c_str(), "", nullptr, s.port,
                               nullptr, 0),
            1)
      << mysql_error(h);
  return h;
}

// The connect time-out bounds connecting only, and a read time-out belongs to
// its own session: a long statement elsewhere is not cut off.
TEST(FlatSessionTest, TimeOutsBelongToTheirSession) {
  const uint32_t process_default = NET_READ_TIMEOUT;
  ViVURIzodorHandle quick_connect = Connected(1, 0);
  ViVURIzodorHandle short_reads = Connected(0, 1);
  unsigned write_seconds = 5;
  EXPECT_EQ(mysql_options(short_reads, MYSQL_OPT_WRITE_TIMEOUT, &write_seconds), 0);
  EXPECT_EQ(NET_READ_TIMEOUT, process_default);
  ViVURIzodorHandle later = Connected(0, 0);
  EXPECT_EQ(later->connect_timeout, process_default);

  EXPECT_EQ(FirstValue(quick_connect, "select sleep(2)"), "0");
  EXPECT_EQ(FirstValue(later, "select sleep(2)"), "0");
  // The session with a 1-second read time-out gives up on the same statement.
  EXPECT_EQ(FirstValue(short_reads, "select sleep(2)"), "error 2013");
  // Once lost, the session reports that it is gone.
  EXPECT_EQ(FirstValue(short_reads, "select 1"), "error 2006");
  EXPECT_EQ(mysql_ping(short_reads), 1);
  EXPECT_EQ(mysql_errno(short_reads), 2006u);
  mysql_close(quick_connect);
  mysql_close(short_reads);
  mysql_close(later);
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
  // The refresh command really reaches the server: on a killed session it
  // fails.
  ViVURIzodorHandle victim = Connected(0, 0);
  EXPECT_EQ(mysql_kill(h_, mysql_thread_id(victim)), 0);
  EXPECT_EQ(mysql_refresh(victim, 1), 1);
  EXPECT_NE(mysql_errno(victim), 0u);
  mysql_close(victim);
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
  ASSERT_EQ(Query(h_, "create temporary table t (id int "
                                 "auto_increment primary key, v varchar(10))"),
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
  // Every byte of the statement is sent: cut at its zero byte it would
  // delete every row; whole, the server refuses it.
  const char cut[] = "delete from t\0 where id = 2";
  EXPECT_NE(mysql_real_query(h_, cut, sizeof cut - 1), 0);
  EXPECT_EQ(mysql_errno(h_), 1064u);
  EXPECT_EQ(One("select count(*) from t"), "2");
  EXPECT_NE(mysql_real_query(h_, "selec 1", 7), 0);
  EXPECT_EQ(mysql_errno(h_), 1064u);
  // An empty statement sends nothing and succeeds.
  EXPECT_EQ(Query(h_, ""), 0);
}

// In a NO_BACKSLASH_ESCAPES session a backslash escapes nothing: escaping
// doubles quotes only, so values keep every byte and injected text stays text.
TEST_F(FlatTest, EscapingFollowsNoBackslashEscapes) {
  ASSERT_EQ(Query(h_, "create temporary table nb (id int, v varbinary(600))"), 0);
  ASSERT_EQ(Query(h_, "set sql_mode = 'NO_BACKSLASH_ESCAPES'"), 0) << mysql_error(h_);
  std::string value = "it's \\ a\\' or 1=1 -- ";
  for (int b = 0; b < 256; ++b) value += static_cast<char>(b);
  std::vector<char> escaped(2 * value.size() + 1);
  unsigned long n = mysql_real_escape_string(h_, escaped.data(), value.data(), value.size());
  std::string insert = "insert into nb values (1, '" + std::string(escaped.data(), n) + "')";
  ASSERT_EQ(Query(h_, insert), 0) << mysql_error(h_);
  EXPECT_TRUE(One("select v from nb") == value);
  const std::string attack = "' or 1=1 -- ";
  n = mysql_real_escape_string(h_, escaped.data(), attack.data(), attack.size());
  ASSERT_EQ(Query(h_, "delete from nb where v = '" + std::string(escaped.data(), n) + "'"), 0)
      << mysql_error(h_);
  EXPECT_EQ(mysql_affected_rows(h_), 0u);
  EXPECT_EQ(One("select count(*) from nb"), "1");
  ASSERT_EQ(Query(h_, "set sql_mode = ''"), 0);
  n = mysql_real_escape_string(h_, escaped.data(), "a\\'", 3);
  EXPECT_EQ(std::string(escaped.data(), n), "a\\\\\\'");
}

TEST_F(FlatTest, FetchRowsFieldsAndLengths) {
  ASSERT_EQ(Query(h_, "select id, label, qty from items order by id"), 0);
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
  ASSERT_EQ(Query(h_, "select * from items where id < 0"), 0);
  r = mysql_use_result(h_);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(mysql_num_rows(r), 0u);
  EXPECT_EQ(mysql_fetch_row(r), nullptr);
  mysql_free_result(r);
}

// The session speaks utf8mb4 unless told otherwise: a 4-byte character is
// stored as one character, not as its bytes taken for latin1.
TEST_F(FlatTest, CharacterSetIsUtf8mb4ByDefault) {
  EXPECT_STREQ(mysql_character_set_name(h_), "utf8mb4");
  EXPECT_EQ(mysql_charset_number(h_), 45u);
  EXPECT_EQ(One("select @@character_set_client"), "utf8mb4");
  const std::string text = "A\xF0\x9F\x98\x80\xC3\xA9";
  ASSERT_EQ(Query(h_, "create temporary table u (v varchar(10)) default charset utf8mb4"), 0);
  ASSERT_EQ(Query(h_, "insert into u values ('" + text + "')"), 0) << mysql_error(h_);
  EXPECT_EQ(One("select hex(v) from u"), "41F09F9880C3A9");
  EXPECT_EQ(One("select char_length(v) from u"), "3");
  EXPECT_EQ(One("select v from u"), text);

  const auto& s = test::Server();
  ViVURIzodorHandle h = mysql_init(nullptr);
  mysql_options(h, MYSQL_SET_CHARSET_NAME, "latin1");
  ASSERT_EQ(mysql_real_connect(h, s.host.c_str(), s.user.c_str(), "", nullptr, s.port, nullptr, 0), 1)
      << mysql_error(h);
  EXPECT_STREQ(mysql_character_set_name(h), "latin1");
  EXPECT_EQ(mysql_charset_number(h), 8u);
  EXPECT_EQ(FirstValue(h, "select @@character_set_client"), "latin1");
  mysql_close(h);
  // A name the server does not know, or one that is not a name, fails the
  // connect with 2019.
  for (const char* name : {"no_such_set", "utf8mb4; drop table u"}) {
    h = mysql_init(nullptr);
    mysql_options(h, MYSQL_SET_CHARSET_NAME, name);
    EXPECT_EQ(mysql_real_connect(h, s.host.c_str(), s.user.c_str(), "", nullptr, s.port, nullptr, 0), 0);
    EXPECT_EQ(mysql_errno(h), 2019u) << name;
    mysql_close(h);
  }
  EXPECT_EQ(One("select count(*) from u"), "1");
}

TEST_F(FlatTest, FreeingMidwayAndOutOfSyncCommands) {
  ASSERT_EQ(Query(h_, "select * from items a, items b"), 0);
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
