// The embedded driver when the server cannot start: a clear error, the
// driver left unloaded, and no second attempt in the same process (the
// library cannot start its server again). A program of its own, since the
// failed start stays with the process.
#include <gtest/gtest.h>

#include <string>

#include "drivers/MySQLDrivers.h"

namespace rowset {
namespace {

TEST(EmbeddedStartFailure, RaisesAndStaysUnloaded) {
  TMySQLEmbedded driver("no-defaults\r\ndatadir=/nonexistent/rowset/data\r\nno-such-server-option=1");
  try {
    driver.Open("", "root", "", 0, 0, "");
    FAIL() << "the server started";
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.ErrorCode(), -1);
    // Nothing but the client version line.
    ASSERT_EQ(e.Message().rfind("\r\nClient:", 0), 0u) << e.Message();
    EXPECT_GE(TMySQLBase::VersionNumber(e.Message().substr(9)), 100000);
  }
  EXPECT_FALSE(driver.Loaded());
  EXPECT_EQ(driver.GetConnection(), nullptr);
  try {
    driver.Open("", "root", "", 0, 0, "");
    FAIL();
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.ErrorCode(), -1);
    EXPECT_EQ(e.Message().rfind("The embedded server failed to start earlier", 0), 0u) << e.Message();
  }
  EXPECT_FALSE(driver.Loaded());
}

}  // namespace
}  // namespace rowset
