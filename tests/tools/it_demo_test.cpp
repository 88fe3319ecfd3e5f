// The demo program against the test server, through the built-in client and
// through the client library.
#include <gtest/gtest.h>

#include "tests/common/TestServer.h"
#include "tests/tools/DemoRun.h"

namespace rowset::test {
namespace {

std::string ServerArgs(const std::string& password) {
  const auto& s = Server();
  return "--host " + s.host + " --port " + std::to_string(s.port) + " --user " + s.pw_user +
         " --password " + password;
}

TEST(DemoServerTest, BuiltInClientAndLibraryShowTheSameRows) {
  DemoResult direct = RunDemo(ServerArgs(Server().pw_password));
  ASSERT_EQ(direct.exit_code, 0) << direct.out;
  EXPECT_NE(direct.out.find("client: 3.23.38"), std::string::npos) << direct.out;
  DemoResult library = RunDemo(ServerArgs(Server().pw_password) + " --library --compress");
  ASSERT_EQ(library.exit_code, 0) << library.out;
  auto rows = [](const std::string& out) { return out.substr(out.find("id ")); };
  EXPECT_EQ(rows(direct.out), rows(library.out));
  EXPECT_NE(direct.out.find("(4 rows)"), std::string::npos) << direct.out;
}

TEST(DemoServerTest, WrongPasswordFailsWithoutOutput) {
  DemoResult r = RunDemo(ServerArgs("wrong"));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out.find("rows)"), std::string::npos);
}

}  // namespace
}  // namespace rowset::test
