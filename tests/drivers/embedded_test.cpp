// The embedded driver: the real embedded server library started inside this
// process on an empty data directory. The server runs from the first load
// until the program exits; every test here shares it.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "drivers/MySQLDrivers.h"
#include "host/DynLib.h"
#include "tests/drivers/DriverChecks.h"
#include "tests/drivers/DriverScript.h"

// The embedded server library keeps the block of a result it began and then
// failed (a server error within the rows); that memory is the library's own.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libmariadbd.so\n";
}

namespace rowset {
namespace {

// The data directory and option text of this program's server. The first
// line keeps the server from reading the machine's option files.
const std::string& ServerOptions() {
  static const std::string options = [] {
    // Under the build tree when run by CTest (wiped first), else a fresh
    // temporary directory.
    std::string dir;
    if (const char* build = std::getenv("ROWSET_BINARY_DIR")) {
      dir = std::string(build) + "/embedded_test_data";
      std::filesystem::remove_all(dir);
      std::filesystem::create_directories(dir);
    } else {
      char temp[] = "/tmp/rowset-embedded-XXXXXX";
      if (mkdtemp(temp) == nullptr) throw std::runtime_error("mkdtemp failed");
      dir = temp;
    }
    std::string text = "no-defaults\r\ndatadir=" + dir + "\r\nbasedir=/usr\r\nconnect_timeout=10";
#if defined(__SANITIZE_THREAD__)
    // The thread sanitizer keeps most of the address space to itself: the
    // server's default reservation for a growing buffer pool cannot be mapped.
    text += "\r\ninnodb-buffer-pool-size-max=128M";
#endif
    return text;
  }();
  return options;
}

MySQLHandle OpenEmbedded(TMySQLEmbedded& driver, const std::string& db = "") {
  return driver.Open("", "root", "", 0, 0, db);
}

TEST(Embedded, StartsAndRunsStatements) {
  TMySQLEmbedded driver(ServerOptions());
  MySQLHandle h = OpenEmbedded(driver);
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(driver.Loaded());
  EXPECT_EQ(driver.GetConnection(), h);
  std::string server = driver.ServerInfo(h);
  EXPECT_NE(server.find("embedded"), std::string::npos) << server;
  EXPECT_GE(driver.ClientVer(), 40101);
  EXPECT_EQ(driver.ServerVer(), TMySQLBase::VersionNumber(server));
  EXPECT_TRUE(driver.Ping(h));

  EXPECT_EQ(driver.OpenQuery(h, "create database if not exists emb_test"), nullptr);
  EXPECT_TRUE(driver.SelectDatabase(h, "emb_test"));
  EXPECT_EQ(driver.OpenQuery(h, "create table if not exists kept (v int)"), nullptr);
  EXPECT_EQ(driver.OpenQuery(h, "insert into kept values (42)"), nullptr);
  EXPECT_EQ(driver.AffectedRows(h), "1");

  try {
    driver.OpenQuery(h, "select * from no_such_table");
    FAIL();
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.ErrorCode(), 1146);
    EXPECT_NE(e.Message().find("\r\nClient:" + driver.ClientInfo() + "\r\nServer:" + server),
              std::string::npos);
  }
  EXPECT_EQ(driver.FormatIdentifier("my table.order"), "`my table`.`order`");
  EXPECT_EQ(driver.EscapeStr(std::string("a'\0", 3)), "a\\'\\0");
  test::ExpectRealServerVersion(driver, h);
  test::ExpectStatementNotCutAtNul(driver, h);
  test::ExpectEscapingFollowsSqlMode(driver, h);
  test::ExpectErrorWithinRowsRaises(driver, h);
  driver.Close(h);
  EXPECT_FALSE(driver.Loaded());
}

// Which of the driver's functions the library exports: all but
// mysql_create_db and mysql_drop_db (the stub path).
void ExpectExports(const char* library) {
  TDynLib lib;
  ASSERT_TRUE(lib.Open(library)) << lib.LastError();
  const char* names[] = {
      "mysql_init", "mysql_options", "mysql_real_connect", "mysql_close", "mysql_errno",
      "mysql_error", "mysql_get_client_info", "mysql_get_server_info", "mysql_get_host_info",
      "mysql_get_proto_info", "mysql_ping", "mysql_thread_id", "mysql_kill", "mysql_select_db",
      "mysql_real_query", "mysql_use_result", "mysql_free_result", "mysql_num_fields",
      "mysql_num_rows", "mysql_fetch_lengths", "mysql_fetch_field", "mysql_fetch_row",
      "mysql_real_escape_string", "mysql_insert_id", "mysql_refresh", "mysql_affected_rows",
      "mysql_server_init", "mysql_server_end"};
  for (const char* name : names) EXPECT_NE(lib.Symbol(name), nullptr) << name;
  EXPECT_EQ(lib.Symbol("mysql_create_db"), nullptr);
  EXPECT_EQ(lib.Symbol("mysql_drop_db"), nullptr);
}

TEST(Embedded, MissingEntryPointsRaiseTheStubMessage) {
  ExpectExports("libmariadbd.so.19");
  TMySQLEmbedded driver(ServerOptions());
  MySQLHandle h = OpenEmbedded(driver);
  try {
    driver.CreateDatabase(h, "emb_never");
    FAIL();
  } catch (const EMySQLError&) {
    FAIL() << "the stub raises a plain exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message().rfind("This MySQL API call is not implemented in the library you are "
                                "using.  Please update your library",
                                0),
              0u);
  }
  EXPECT_THROW(driver.DropDatabase(h, "emb_never"), Exception);
  driver.Close(h);
}

TEST(Embedded, ReloadKeepsTheRunningServer) {
  // A closed main connection unloads the driver; loading again reuses the
  // server (and its data) instead of starting a second one.
  for (int round = 0; round < 3; ++round) {
    TMySQLEmbedded driver(ServerOptions());
    MySQLHandle h = OpenEmbedded(driver, "emb_test");
    MySQLResultHandle r = driver.OpenQuery(h, "select v from kept");
    ASSERT_NE(r, nullptr);
    MySQLRow row = driver.RetrieveRow(r);
    ASSERT_NE(row, nullptr);
    EXPECT_STREQ(row[0], "42");
    driver.CloseQuery(r);
    driver.Close(h);
    EXPECT_FALSE(driver.Loaded());
  }
}

TEST(Embedded, OtherOptionsWhileRunningAreRefused) {
  TMySQLEmbedded driver(ServerOptions() + "\r\nmax_connections=7");
  try {
    OpenEmbedded(driver);
    FAIL();
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.ErrorCode(), -1);
    EXPECT_EQ(e.Message().rfind("The embedded server is already running in this process with "
                                "other options",
                                0),
              0u)
        << e.Message();
  }
  EXPECT_FALSE(driver.Loaded());
  EXPECT_EQ(driver.GetConnection(), nullptr);
  // With the server's own options it works again.
  TStringList lines;
  lines.SetText(ServerOptions());
  driver.SetOptions(lines);
  MySQLHandle h = OpenEmbedded(driver);
  EXPECT_TRUE(driver.Ping(h));
  driver.Close(h);
}

TEST(Embedded, SecondConnectionAndDriver) {
  TMySQLEmbedded first(ServerOptions());
  TMySQLEmbedded second(ServerOptions());
  MySQLHandle a = OpenEmbedded(first, "emb_test");
  MySQLHandle b = OpenEmbedded(second, "emb_test");
  MySQLHandle c = OpenEmbedded(first, "emb_test");
  EXPECT_EQ(first.GetConnection(), a);
  EXPECT_TRUE(first.Ping(c));
  EXPECT_TRUE(second.Ping(b));
  first.Close(c);
  first.Close(a);
  EXPECT_TRUE(second.Ping(b));  // the server outlives the first driver's unload
  second.Close(b);
}

TEST(EmbeddedDifferential, ScriptGivesTheExpectedTranscript) {
  TMySQLEmbedded driver(ServerOptions());
  MySQLHandle h = OpenEmbedded(driver);
  driver.OpenQuery(h, "create database if not exists emb_diff");
  driver.SelectDatabase(h, "emb_diff");
  std::string transcript = RunDriverScript(driver, h);
  DumpTranscript(transcript);
  EXPECT_EQ(transcript, ExpectedTranscript());
  driver.Close(h);
}

}  // namespace
}  // namespace rowset
