// The 4.1 protocol against the real server: the login of every account kind,
// the old protocol kept on request, SQL states of errors, OK and end packets
// with warnings and status, change of user.
#include <gtest/gtest.h>

#include "tests/common/TestServer.h"
#include "wire/ViVURIzodor.h"
#include "wire/uMysqlHelpers.h"

namespace rowset {
namespace {

using test::Server;

class Protocol41Test : public ::testing::Test {
 protected:
  void TearDown() override {
    if (h_ != nullptr) mysql_close(h_);
  }
  bool Connect(const std::string& user, const std::string& password,
               unsigned long flags = 0, const std::string& db = "") {
    if (h_ != nullptr) mysql_close(h_);
    h_ = mysql_init(nullptr);
    const auto& s = Server();
    return mysql_real_connect(h_, s.host.c_str(), user.c_str(), password.c_str(),
                              db.c_str(), s.port, nullptr, flags) == 1;
  }
  int Query(const std::string& sql) {
    int rc = mysql_real_query(h_, sql.data(), sql.size());
    if (rc == 0) mysql_free_result(mysql_use_result(h_));
    return rc;
  }
  ViVURIzodorHandle h_ = nullptr;
};

TEST_F(Protocol41Test, EveryAccountKindLogsInWithThe41Protocol) {
  const auto& s = Server();
  ASSERT_TRUE(Connect(s.user, "")) << mysql_error(h_);
  EXPECT_TRUE(h_->protocol41());
  EXPECT_TRUE(h_->net.protocol41);
  EXPECT_EQ(h_->auth_plugin, "mysql_native_password");
  EXPECT_EQ(Query("select 1"), 0);

  ASSERT_TRUE(Connect(s.pw_user, s.pw_password)) << mysql_error(h_);
  EXPECT_TRUE(h_->protocol41());
  EXPECT_EQ(Query("select 1"), 0) << mysql_error(h_);

  // The server switches an old-password account to the old plugin.
  ASSERT_TRUE(Connect(s.old_user, s.old_password)) << mysql_error(h_);
  EXPECT_TRUE(h_->protocol41());
  EXPECT_EQ(h_->auth_plugin, "mysql_old_password");
  EXPECT_EQ(Query("select 1"), 0) << mysql_error(h_);

  ASSERT_TRUE(Connect(s.user, "", 0, s.database)) << mysql_error(h_);
  EXPECT_EQ(mysql_real_query(h_, "select database()", 17), 0);
  ViVURIzodorResultHandle r = mysql_use_result(h_);
  ASSERT_NE(r, nullptr);
  MYSQL_ROW row = mysql_fetch_row(r);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(std::string(row[0]), s.database);
  mysql_free_result(r);
}

TEST_F(Protocol41Test, WrongPasswordsAreRefusedWithTheirSqlState) {
  const auto& s = Server();
  EXPECT_FALSE(Connect(s.pw_user, s.pw_password + "x"));
  EXPECT_EQ(mysql_errno(h_), 1045u);
  EXPECT_STREQ(mysql_sqlstate(h_), "28000");
  EXPECT_FALSE(Connect(s.old_user, "wrong"));
  EXPECT_EQ(mysql_errno(h_), 1045u);
  EXPECT_FALSE(Connect(s.user, "", 0, "no_such_database_41"));
  EXPECT_EQ(mysql_errno(h_), 1049u);
  EXPECT_STREQ(mysql_sqlstate(h_), "42000");
}

TEST_F(Protocol41Test, TheOldProtocolOnRequest) {
  const auto& s = Server();
  ASSERT_TRUE(Connect(s.pw_user, s.pw_password, CLIENT_PROTOCOL_323)) << mysql_error(h_);
  EXPECT_FALSE(h_->protocol41());
  EXPECT_FALSE(h_->net.protocol41);
  ASSERT_EQ(mysql_real_query(h_, "select 1 as x", 13), 0);
  ViVURIzodorResultHandle r = mysql_use_result(h_);
  ASSERT_NE(r, nullptr);
  TMysql_FieldDef* f = mysql_fetch_field(r);
  ASSERT_NE(f, nullptr);
  EXPECT_STREQ(f->name, "x");
  EXPECT_STREQ(f->org_name, "");
  EXPECT_STREQ(f->catalog, "");
  mysql_free_result(r);
  // Errors have no SQL state of their own there.
  EXPECT_NE(Query("select * from no_such_table_41"), 0);
  EXPECT_STREQ(mysql_sqlstate(h_), "HY000");

  h_->old_protocol = true;
  mysql_close(h_);
  h_ = mysql_init(nullptr);
  h_->old_protocol = true;
  ASSERT_TRUE(mysql_real_connect(h_, s.host.c_str(), s.user.c_str(), "", "", s.port,
                                 nullptr, 0));
  EXPECT_FALSE(h_->protocol41());
}

TEST_F(Protocol41Test, ErrorsCarryTheServersSqlState) {
  const auto& s = Server();
  ASSERT_TRUE(Connect(s.user, "", 0, s.database)) << mysql_error(h_);
  EXPECT_NE(Query("selec 1"), 0);
  EXPECT_EQ(mysql_errno(h_), 1064u);
  EXPECT_STREQ(mysql_sqlstate(h_), "42000");
  EXPECT_NE(Query("select * from no_such_table_41"), 0);
  EXPECT_EQ(mysql_errno(h_), 1146u);
  EXPECT_STREQ(mysql_sqlstate(h_), "42S02");
  EXPECT_EQ(Query("select 1"), 0);
  EXPECT_STREQ(mysql_sqlstate(h_), "00000");
}

TEST_F(Protocol41Test, OkAndEndPacketsCarryWarningsAndStatus) {
  const auto& s = Server();
  ASSERT_TRUE(Connect(s.user, "", 0, s.database)) << mysql_error(h_);
  ASSERT_EQ(Query("create temporary table w41 (a tinyint, b varchar(2))"), 0);
  ASSERT_EQ(Query("insert ignore into w41 values (1000, 'abc'), (2, 'x')"), 0)
      << mysql_error(h_);
  EXPECT_EQ(mysql_affected_rows(h_), 2u);
  EXPECT_EQ(mysql_warning_count(h_), 2u);
  EXPECT_STREQ(mysql_info(h_), "Records: 2  Duplicates: 0  Warnings: 2");
  ASSERT_EQ(Query("update w41 set a = 3 where a = 2"), 0);
  EXPECT_EQ(mysql_affected_rows(h_), 1u);
  EXPECT_EQ(mysql_warning_count(h_), 0u);
  EXPECT_STREQ(mysql_info(h_), "Rows matched: 1  Changed: 1  Warnings: 0");

  ASSERT_EQ(Query("start transaction"), 0);
  EXPECT_NE(h_->server_status & SERVER_STATUS_IN_TRANS, 0u);
  // The end packet of a result tells the status and the warnings.
  ASSERT_EQ(mysql_real_query(h_, "select cast('1x' as signed)", 27), 0);
  ViVURIzodorResultHandle r = mysql_use_result(h_);
  ASSERT_NE(r, nullptr);
  while (mysql_fetch_row(r) != nullptr) {
  }
  mysql_free_result(r);
  EXPECT_EQ(mysql_warning_count(h_), 1u);
  EXPECT_NE(h_->server_status & SERVER_STATUS_IN_TRANS, 0u);
  ASSERT_EQ(Query("commit"), 0);
  EXPECT_EQ(h_->server_status & SERVER_STATUS_IN_TRANS, 0u);
}

TEST_F(Protocol41Test, ChangeOfUser) {
  const auto& s = Server();
  ASSERT_TRUE(Connect(s.user, "")) << mysql_error(h_);
  EXPECT_TRUE(h_->change_user(s.pw_user, s.pw_password, s.database)) << mysql_error(h_);
  ASSERT_EQ(mysql_real_query(h_, "select current_user(), database()", 33), 0);
  ViVURIzodorResultHandle r = mysql_use_result(h_);
  ASSERT_NE(r, nullptr);
  MYSQL_ROW row = mysql_fetch_row(r);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(std::string(row[0]).substr(0, s.pw_user.size() + 1), s.pw_user + "@");
  EXPECT_EQ(std::string(row[1]), s.database);
  mysql_free_result(r);
  EXPECT_TRUE(h_->change_user(s.old_user, s.old_password, "")) << mysql_error(h_);
  EXPECT_EQ(Query("select 1"), 0);
  EXPECT_FALSE(h_->change_user(s.pw_user, "wrong", ""));
  EXPECT_EQ(mysql_errno(h_), 1045u);
}

}  // namespace
}  // namespace rowset
