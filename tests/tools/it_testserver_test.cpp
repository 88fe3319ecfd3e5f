#include <gtest/gtest.h>

#include "tests/common/TestServer.h"

namespace rowset::test {
namespace {

// The harness itself: the server runs, the accounts and database exist.
TEST(TestServerHarness, AccountsAndDatabaseExist) {
  const auto& s = Server();
  EXPECT_EQ(s.host, "127.0.0.1");
  EXPECT_GT(s.port, 0);
  std::string users = RootSql("select user from mysql.user order by user;");
  EXPECT_NE(users.find(s.user), std::string::npos);
  EXPECT_NE(users.find(s.pw_user), std::string::npos);
  EXPECT_NE(users.find(s.old_user), std::string::npos);
  EXPECT_NE(RootSql("show databases;").find(s.database), std::string::npos);
}

}  // namespace
}  // namespace rowset::test
