// The direct driver: the built-in wire client behind the driver table,
// against the real test server, and the differential script against the
// transcript the client and embedded libraries give.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "drivers/MySQLDrivers.h"
#include "tests/common/TestServer.h"
#include "tests/drivers/DriverChecks.h"
#include "tests/drivers/DriverScript.h"

namespace rowset {
namespace {

using test::Server;

MySQLHandle OpenUser(TMySQLBase& driver, const std::string& db = "") {
  const test::TestServer& s = Server();
  return driver.Open(s.host, s.user, "", s.port, 0, db);
}

TEST(DirectOpen, VersionsAndMainConnection) {
  TViVURIzodor driver;
  EXPECT_EQ(driver.ClientInfo(), "3.23.38");
  MySQLHandle h = OpenUser(driver, Server().database);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(driver.ClientVer(), 32338);
  // The server announces itself to old clients as 5.5.5-10.x; the version
  // number is that of the real version after the marker, as on the other
  // back ends.
  std::string server = driver.ServerInfo(h);
  EXPECT_EQ(server.rfind("5.5.5-10.", 0), 0u) << server;
  test::ExpectRealServerVersion(driver, h);
  EXPECT_EQ(driver.ProtoInfo(h), 10u);
  EXPECT_EQ(driver.HostInfo(h), "");
  EXPECT_TRUE(driver.Ping(h));
  EXPECT_GT(driver.ThreadID(h), 0u);
  EXPECT_TRUE(driver.Refresh(h, 4));

  MySQLHandle second = OpenUser(driver);
  EXPECT_EQ(driver.GetConnection(), h);
  driver.Kill(h, driver.ThreadID(second));
  // Refresh reaches the server: on the killed connection it fails.
  EXPECT_THROW(driver.Refresh(second, 4), EMySQLError);
  EXPECT_THROW(driver.Ping(second), EMySQLError);
  driver.Close(second);
  EXPECT_EQ(second, nullptr);

  driver.Close(h);
  EXPECT_FALSE(driver.Loaded());
  EXPECT_EQ(driver.ServerVer(), 0);
  EXPECT_EQ(driver.GetConnection(), nullptr);
}

TEST(DirectOpen, PasswordAccounts) {
  const test::TestServer& s = Server();
  TViVURIzodor driver;
  MySQLHandle pw = driver.Open(s.host, s.pw_user, s.pw_password, s.port, 0, "");
  EXPECT_TRUE(driver.Ping(pw));
  MySQLHandle old = driver.Open(s.host, s.old_user, s.old_password, s.port, 0, "");
  EXPECT_TRUE(driver.Ping(old));
  driver.Close(old);
  driver.Close(pw);
}

TEST(DirectOpen, FailureMessages) {
  const test::TestServer& s = Server();
  TViVURIzodor driver("connect_timeout=x");
  std::string tail =
      "\r\nPlease check the following:\r\n"
      "> MySQL Server is running on the host and port specified and that you can access "
      "it through possible firewalls\r\n"
      "> If the server is available and on a remote machine, check that this username "
      "(with password) may access it from a remote IP, see MySQL Manual (Security)";
  try {
    driver.Open(s.host, s.user, "", 1, 0, "");
    FAIL();
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.ErrorCode(), -1);
    EXPECT_EQ(e.Message().rfind("Could not connect to mysql server using:\r\nUser: " + s.user +
                                    "\r\nHost:" + s.host + "\r\nPort:1\r\nDB:" + tail +
                                    "\r\n[2003] ",
                                0),
              0u)
        << e.Message();
  }
  try {
    driver.Open(s.host, s.pw_user, "wrong", s.port, 0, "x");
    FAIL();
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.ErrorCode(), -1);
    // The server's reason follows the fixed text.
    const std::string fixed = "Could not connect to mysql server using:\r\nUser: " + s.pw_user +
                              "\r\nHost:" + s.host + "\r\nPort:" + std::to_string(s.port) +
                              "\r\nDB:x" + tail + "\r\n[1045] Access denied for user";
    EXPECT_EQ(e.Message().rfind(fixed, 0), 0u) << e.Message();
    EXPECT_EQ(e.Message().substr(e.Message().size() - 16), "\r\nClient:3.23.38");
  }
  EXPECT_EQ(driver.GetConnection(), nullptr);
}

TEST(DirectOperations, DatabasesErrorsAndIdentifiers) {
  TViVURIzodor driver;
  MySQLHandle h = OpenUser(driver);
  // Servers from MySQL 5.0 and MariaDB on no longer take the create and
  // drop database commands; their refusal surfaces as it is.
  for (int drop = 0; drop < 2; ++drop) {
    try {
      if (drop) driver.DropDatabase(h, "direct_never");
      else driver.CreateDatabase(h, "direct_never");
      FAIL();
    } catch (const EMySQLError& e) {
      EXPECT_EQ(e.ErrorCode(), 1047);
      EXPECT_EQ(e.Message().rfind("[1047] Unknown command: \r\nClient:3.23.38\r\nServer:5.5.5-", 0),
                0u)
          << e.Message();
    }
  }
  EXPECT_TRUE(driver.SelectDatabase(h, Server().database));
  try {
    driver.OpenQuery(h, "selec 1");
    FAIL();
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.ErrorCode(), 1064);
    // The server's own report beside the composed message, with the SQL
    // state of the 4.1 protocol.
    EXPECT_EQ(e.ServerErrorCode(), 1064u);
    EXPECT_EQ(e.ServerMessage(), driver.ErrorMsg(h));
    EXPECT_EQ(e.SqlState(), "42000");
    EXPECT_EQ(e.Message(), "[1064] " + driver.ErrorMsg(h) + ": \r\nClient:3.23.38\r\nServer:" +
                               driver.ServerInfo(h));
  }
  EXPECT_EQ(driver.FormatIdentifier("Order"), "`Order`");
  // A back-quoted part is one part, dots and all; the others are quoted by
  // the usual rule.
  EXPECT_EQ(driver.FormatIdentifier("db.`my.table`"), "db.`my.table`");
  EXPECT_EQ(driver.FormatIdentifier("`db`.order"), "`db`.`order`");
  EXPECT_EQ(driver.FormatIdentifier("`a``.b`.c d"), "`a``.b`.`c d`");
  EXPECT_EQ(driver.FormatIdentifier("db.a b"), "db.`a b`");
  EXPECT_EQ(driver.FormatIdentifier("a`b"), "`a``b`");
  std::string value("x'\0y", 4);
  EXPECT_EQ(driver.EscapeStr(value), std::string("x\\'\\0y"));
  driver.Close(h);
  EXPECT_EQ(driver.EscapeStr(value), std::string("x\\'\\0y"));
}

TEST(DirectOperations, SameFaultsHandledAsOnEveryBackEnd) {
  TViVURIzodor driver;
  MySQLHandle h = OpenUser(driver, test::FreshDatabase("direct_checks"));
  test::ExpectStatementNotCutAtNul(driver, h);
  test::ExpectEscapingFollowsSqlMode(driver, h);
  test::ExpectErrorWithinRowsRaises(driver, h);
  driver.Close(h);
}

// A read time-out option belongs to the connections of its driver: another
// driver's statements are not cut off, and the driver's own first
// connection honours it.
TEST(DirectOperations, ReadTimeoutOptionIsPerConnection) {
  TViVURIzodor a("read_timeout=1");
  TViVURIzodor b;
  MySQLHandle ha = OpenUser(a);
  MySQLHandle hb = OpenUser(b);
  EXPECT_EQ(test::Scalar(b, hb, "select sleep(2)"), "0");
  try {
    test::Scalar(a, ha, "select sleep(2)");
    ADD_FAILURE() << "the read time-out did not apply";
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.ErrorCode(), 2013) << e.Message();
  }
  // A connect time-out is no read time-out.
  TViVURIzodor c("connect_timeout=1");
  MySQLHandle hc = OpenUser(c);
  EXPECT_EQ(test::Scalar(c, hc, "select sleep(2)"), "0");
  c.Close(hc);
  b.Close(hb);
  a.Close(ha);
}

// Threads of the server: whether a connection with this id is still there.
bool ThreadAlive(TMySQLBase& driver, MySQLHandle h, uint32_t id) {
  return test::Scalar(driver, h,
                      "select count(*) from information_schema.processlist where id = " +
                          std::to_string(id)) != "0";
}

TEST(DirectOperations, DestroyingTheDriverClosesEveryConnection) {
  std::vector<uint32_t> ids;
  {
    TViVURIzodor driver;
    MySQLHandle main = OpenUser(driver);
    for (int i = 0; i < 2; ++i) ids.push_back(driver.ThreadID(OpenUser(driver)));
    ids.push_back(driver.ThreadID(main));
  }
  TViVURIzodor watcher;
  MySQLHandle w = OpenUser(watcher);
  for (uint32_t id : ids) {
    // The server ends a thread shortly after its client quits.
    bool alive = true;
    for (int i = 0; i < 100 && alive; ++i) {
      alive = ThreadAlive(watcher, w, id);
      if (alive) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_FALSE(alive) << id;
  }
  watcher.Close(w);
}

TEST(DirectThreads, PrivateConnectionsOnWorkerThreads) {
  TViVURIzodor driver;
  MySQLHandle main = OpenUser(driver);
  std::atomic<int> done{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t) {
    workers.emplace_back([&driver, &done] {
      for (int i = 0; i < 5; ++i) {
        MySQLHandle h = OpenUser(driver);
        if (test::Scalar(driver, h, "select 1") == "1") ++done;
        driver.Close(h);
      }
    });
  }
  for (int i = 0; i < 20; ++i) EXPECT_TRUE(driver.Ping(main));
  for (std::thread& w : workers) w.join();
  EXPECT_EQ(done.load(), 20);
  EXPECT_EQ(driver.GetConnection(), main);
  driver.Close(main);
}

TEST(DirectOperations, ClosingAfterUnloadStillClosesOtherConnections) {
  TViVURIzodor driver;
  MySQLHandle main = OpenUser(driver);
  MySQLHandle other = OpenUser(driver);
  driver.Close(main);
  EXPECT_FALSE(driver.Loaded());
  // The built-in client's sessions outlive the unload and stay usable.
  EXPECT_TRUE(driver.Ping(other));
  driver.Close(other);
  EXPECT_EQ(other, nullptr);
}

TEST(DirectDifferential, ScriptGivesTheExpectedTranscript) {
  TViVURIzodor driver;
  std::string db = test::FreshDatabase("direct_diff");
  MySQLHandle h = OpenUser(driver, db);
  std::string transcript = RunDriverScript(driver, h);
  DumpTranscript(transcript);
  EXPECT_EQ(transcript, ExpectedTranscript());
  driver.Close(h);
}

TEST(DirectDifferential, OldProtocolOnRequestGivesItsTranscript) {
  TViVURIzodor driver("old_protocol=1");
  std::string db = test::FreshDatabase("direct_old");
  MySQLHandle h = OpenUser(driver, db);
  EXPECT_EQ(RunDriverScript(driver, h), ExpectedTranscriptOldProtocol());
  try {
    driver.OpenQuery(h, "selec 1");
    FAIL();
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.ServerErrorCode(), 1064u);
    EXPECT_EQ(e.SqlState(), "HY000");  // no SQL states in the old protocol
  }
  driver.Close(h);
}

}  // namespace
}  // namespace rowset
