// The demo program on its default back end, the embedded server.
#include <gtest/gtest.h>

#include "tests/tools/DemoRun.h"

namespace rowset::test {
namespace {

TEST(DemoTest, ShowsTheTableThroughTheEmbeddedServer) {
  DemoResult r = RunDemo("");
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_NE(r.out.find("-embedded"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("pear; conference"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("it's a plum"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("(4 rows)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("tables in rowset_demo: fruit"), std::string::npos) << r.out;
}

TEST(DemoTest, RefusesUnknownArguments) {
  EXPECT_EQ(RunDemo("--bogus").exit_code, 2);
  EXPECT_EQ(RunDemo("--port 70000").exit_code, 2);
  EXPECT_EQ(RunDemo("--host").exit_code, 2);
}

}  // namespace
}  // namespace rowset::test
