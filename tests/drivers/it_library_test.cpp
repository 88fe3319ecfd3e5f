// The library driver against the real test server through the real
// libmariadb: connecting and its failures, the main-connection rules, the
// wrapped operations, identifier quoting and error texts.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <string>
#include <utility>
#include <vector>

#include "drivers/MySQLDrivers.h"
#include "host/DynLib.h"
#include "tests/common/TestServer.h"
#include "tests/drivers/DriverChecks.h"
#include "tests/drivers/DriverScript.h"

namespace rowset {
namespace {

using test::Server;

// Records the mysql_options calls that Open makes, then passes them on.
class RecordingLibrary : public TMySQLLibrary {
 public:
  using TMySQLLibrary::TMySQLLibrary;
  static std::vector<std::pair<int, unsigned int>>& Calls() {
    static std::vector<std::pair<int, unsigned int>> calls;
    return calls;
  }

 protected:
  void Bind() override {
    TMySQLLibrary::Bind();
    real_options_ = api_.mysql_options;
    api_.mysql_options = [](MySQLHandle h, int option, const void* arg) {
      Calls().emplace_back(option, *static_cast<const unsigned int*>(arg));
      return real_options_(h, option, arg);
    };
  }

 private:
  static inline int (*real_options_)(MySQLHandle, int, const void*) = nullptr;
};

MySQLHandle OpenUser(TMySQLBase& driver, const std::string& db = "") {
  const test::TestServer& s = Server();
  return driver.Open(s.host, s.user, "", s.port, 0, db);
}

std::string ConnectMessage(const std::string& user, const std::string& host,
                           int port, const std::string& db) {
  return "Could not connect to mysql server using:\r\nUser: " + user + "\r\nHost:" + host +
         "\r\nPort:" + std::to_string(port) + "\r\nDB:" + db +
         "\r\nPlease check the following:\r\n"
         "> MySQL Server is running on the host and port specified and that you can access "
         "it through possible firewalls\r\n"
         "> If the server is available and on a remote machine, check that this username "
         "(with password) may access it from a remote IP, see MySQL Manual (Security)";
}

TEST(LibraryOpen, MainConnectionAndVersions) {
  TMySQLLibrary driver;
  MySQLHandle h = OpenUser(driver, Server().database);
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(driver.Loaded());
  EXPECT_EQ(driver.GetConnection(), h);
  EXPECT_EQ(driver.ClientVer(), TMySQLBase::VersionNumber(driver.ClientInfo()));
  // libmariadb drops the "5.5.5-" the server announces to old clients.
  std::string server = driver.ServerInfo(h);
  EXPECT_EQ(server.rfind("10.", 0), 0u) << server;
  EXPECT_EQ(driver.ServerVer(), TMySQLBase::VersionNumber(server));
  EXPECT_GE(driver.ServerVer(), 101100);
  EXPECT_EQ(driver.ProtoInfo(h), 10u);
  EXPECT_NE(driver.HostInfo(h).find("127.0.0.1"), std::string::npos);
  EXPECT_TRUE(driver.Ping(h));
  EXPECT_GT(driver.ThreadID(h), 0u);
  EXPECT_EQ(driver.ErrorNo(h), 0u);
  EXPECT_EQ(driver.ErrorMsg(h), "");

  // A second handle does not replace the main connection.
  MySQLHandle second = OpenUser(driver);
  EXPECT_EQ(driver.GetConnection(), h);
  driver.Close(second);
  EXPECT_EQ(second, nullptr);
  EXPECT_TRUE(driver.Loaded());

  // Closing the main connection unloads the driver.
  driver.Close(h);
  EXPECT_EQ(h, nullptr);
  EXPECT_FALSE(driver.Loaded());
  EXPECT_EQ(driver.GetConnection(), nullptr);
  EXPECT_EQ(driver.ServerVer(), 0);
  EXPECT_EQ(driver.ClientVer(), 0);
  // And the next operation loads it again.
  MySQLHandle again = OpenUser(driver);
  EXPECT_EQ(driver.GetConnection(), again);
  driver.Close(again);
}

TEST(LibraryOpen, NativePasswordAccount) {
  const test::TestServer& s = Server();
  TMySQLLibrary driver;
  MySQLHandle h = driver.Open(s.host, s.pw_user, s.pw_password, s.port, 0, s.database);
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(driver.Ping(h));
  driver.Close(h);
}

TEST(LibraryOpen, TimeoutOptionLines) {
  {
    RecordingLibrary driver;  // no lines: no calls
    RecordingLibrary::Calls().clear();
    MySQLHandle h = OpenUser(driver);
    EXPECT_TRUE(RecordingLibrary::Calls().empty());
    driver.Close(h);
  }
  {
    RecordingLibrary driver("connect_timeout=7\r\nread_timeout=11\r\nwrite_timeout=13");
    RecordingLibrary::Calls().clear();
    MySQLHandle h = OpenUser(driver);
    std::vector<std::pair<int, unsigned int>> expected = {{0, 7}, {11, 11}, {12, 13}};
    EXPECT_EQ(RecordingLibrary::Calls(), expected);
    driver.Close(h);
  }
  {
    // Values that are not integers take 60, 300 and 300 seconds.
    RecordingLibrary driver("basedir=x\r\nwrite_timeout=\r\nconnect_timeout=abc\r\nread_timeout=5s");
    RecordingLibrary::Calls().clear();
    MySQLHandle h = OpenUser(driver);
    std::vector<std::pair<int, unsigned int>> expected = {{0, 60}, {11, 300}, {12, 300}};
    EXPECT_EQ(RecordingLibrary::Calls(), expected);
    EXPECT_TRUE(driver.Ping(h));
    driver.Close(h);
  }
}

TEST(LibraryOpen, FailureMessages) {
  const test::TestServer& s = Server();
  TMySQLLibrary driver;
  // The back end's reason follows the fixed text.
  // A closed port.
  try {
    driver.Open(s.host, s.user, "", 1, 0, "somedb");
    FAIL();
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.ErrorCode(), -1);
    const std::string head = ConnectMessage(s.user, s.host, 1, "somedb") + "\r\n[200";
    const std::string tail = "\r\nClient:" + driver.ClientInfo();
    EXPECT_EQ(e.Message().rfind(head, 0), 0u) << e.Message();
    EXPECT_EQ(e.Message().substr(e.Message().size() - tail.size()), tail);
  }
  EXPECT_EQ(driver.GetConnection(), nullptr);
  // A wrong password.
  try {
    driver.Open(s.host, s.pw_user, "wrong", s.port, 0, "");
    FAIL();
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.ErrorCode(), -1);
    const std::string head = ConnectMessage(s.pw_user, s.host, s.port, "") +
                             "\r\n[1045] Access denied for user 'rowset_pw'";
    EXPECT_EQ(e.Message().rfind(head, 0), 0u) << e.Message();
    // The server's own report, apart from the composed message.
    EXPECT_EQ(e.ServerErrorCode(), 1045u);
    EXPECT_EQ(e.SqlState(), "28000");
    EXPECT_EQ(e.ServerMessage().rfind("Access denied for user 'rowset_pw'@", 0), 0u) << e.ServerMessage();
    EXPECT_EQ(e.ServerMessage().find("\r\n"), std::string::npos);
  }
  EXPECT_EQ(driver.GetConnection(), nullptr);

  // With a main connection, a failed Open leaves it alone and its last error
  // (none) and the server version join the message.
  MySQLHandle main = OpenUser(driver);
  try {
    driver.Open(s.host, s.pw_user, "wrong", s.port, 0, "");
    FAIL();
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.ErrorCode(), 0);
    const std::string head =
        "[0] : " + ConnectMessage(s.pw_user, s.host, s.port, "") + "\r\n[1045] Access denied";
    const std::string tail =
        "\r\nClient:" + driver.ClientInfo() + "\r\nServer:" + driver.ServerInfo(main);
    EXPECT_EQ(e.Message().rfind(head, 0), 0u) << e.Message();
    EXPECT_EQ(e.Message().substr(e.Message().size() - tail.size()), tail);
  }
  EXPECT_EQ(driver.GetConnection(), main);
  EXPECT_TRUE(driver.Ping(main));
  driver.Close(main);
}

TEST(LibraryOperations, Queries) {
  TMySQLLibrary driver;
  MySQLHandle h = OpenUser(driver, Server().database);
  MySQLResultHandle none = driver.OpenQuery(h, "drop table if exists lib_q");
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(driver.OpenQuery(h, "create table lib_q (id int not null auto_increment primary key, "
                                "v varchar(10) binary, n int)"),
            nullptr);
  EXPECT_EQ(driver.OpenQuery(h, "insert into lib_q (v, n) values ('a', 1), (null, null)"), nullptr);
  EXPECT_EQ(driver.AffectedRows(h), "2");
  EXPECT_EQ(driver.LastInsertID(h), "1");

  MySQLResultHandle r = driver.OpenQuery(h, "select id, v as w, n from lib_q order by id");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(driver.RetrieveColCount(r), 3u);
  MYSQL_FIELD f;
  f.charsetnr = 4242;
  driver.RetrieveField(r, f);
  EXPECT_STREQ(f.name, "id");
  EXPECT_STREQ(f.org_name, "id");
  EXPECT_STREQ(f.table, "lib_q");
  EXPECT_STREQ(f.org_table, "lib_q");
  EXPECT_STREQ(f.db, Server().database.c_str());
  EXPECT_EQ(f.type, 3);  // LONG
  EXPECT_EQ(f.length, 11u);
  EXPECT_NE(f.flags & 1, 0u);    // NOT NULL
  EXPECT_NE(f.flags & 2, 0u);    // primary key
  EXPECT_NE(f.flags & 512, 0u);  // auto increment
  EXPECT_EQ(f.charsetnr, 63u);  // the 4.1 layout's character set: binary for a number
  driver.RetrieveField(r, f);
  EXPECT_STREQ(f.name, "w");
  EXPECT_STREQ(f.org_name, "v");
  EXPECT_EQ(f.type, 253);  // VAR_STRING
  driver.RetrieveField(r, f);
  EXPECT_STREQ(f.name, "n");
  driver.RetrieveField(r, f);  // past the last column
  EXPECT_STREQ(f.name, "");

  MySQLRow row = driver.RetrieveRow(r);
  ASSERT_NE(row, nullptr);
  EXPECT_STREQ(row[0], "1");
  EXPECT_STREQ(row[1], "a");
  EXPECT_STREQ(row[2], "1");
  MySQLLengths lengths = driver.RetrieveRowFieldLenghts(r);
  ASSERT_NE(lengths, nullptr);
  EXPECT_EQ(lengths[1], 1u);
  row = driver.RetrieveRow(r);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row[1], nullptr);
  EXPECT_EQ(row[2], nullptr);
  EXPECT_EQ(driver.RetrieveRow(r), nullptr);
  EXPECT_EQ(driver.RetrieveRowCount(r), 2u);
  driver.CloseQuery(r);
  EXPECT_EQ(r, nullptr);
  // A select leaves no count of affected rows.
  EXPECT_EQ(driver.AffectedRows(h), "-1");

  // An empty result is a result without rows.
  r = driver.OpenQuery(h, "select * from lib_q where id < 0");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(driver.RetrieveRow(r), nullptr);
  driver.CloseQuery(r);
  driver.Close(h);
}

// A CALL of a procedure that returns result sets answers with each of them
// and a final count; results left unread are dropped before the next
// statement, raising an error among them. The library and the built-in
// client (on the 4.1 protocol) alike.
void MultipleResultsOfACall(TMySQLBase& driver) {
  MySQLHandle h = OpenUser(driver, Server().database);
  driver.OpenQuery(h, "drop procedure if exists lib_two");
  driver.OpenQuery(h, "drop procedure if exists lib_fails");
  driver.OpenQuery(h, "create procedure lib_two() begin select 1 as a; select 2 as b, 'x' as c; end");
  driver.OpenQuery(h, "create procedure lib_fails() begin select 1 as a; select * from lib_no_such_table; end");
  auto single = [&](MySQLResultHandle r) {
    std::vector<std::string> values;
    const uint32_t n = driver.RetrieveColCount(r);
    while (MySQLRow row = driver.RetrieveRow(r))
      for (uint32_t i = 0; i < n; ++i) values.emplace_back(row[i] ? row[i] : "NULL");
    driver.CloseQuery(r);
    return values;
  };

  MySQLResultHandle r = driver.OpenQuery(h, "call lib_two()");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(single(r), (std::vector<std::string>{"1"}));
  ASSERT_TRUE(driver.MoreResults(h));
  r = driver.NextResult(h);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(single(r), (std::vector<std::string>{"2", "x"}));
  ASSERT_TRUE(driver.MoreResults(h));
  EXPECT_EQ(driver.NextResult(h), nullptr);  // the final count
  EXPECT_FALSE(driver.MoreResults(h));

  // Unread results go before the next statement.
  r = driver.OpenQuery(h, "call lib_two()");
  driver.CloseQuery(r);
  EXPECT_EQ(single(driver.OpenQuery(h, "select 5")), (std::vector<std::string>{"5"}));

  // A later result's error is raised by NextResult, or by the next
  // statement when nobody read it; the connection goes on.
  r = driver.OpenQuery(h, "call lib_fails()");
  EXPECT_EQ(single(r), (std::vector<std::string>{"1"}));
  ASSERT_TRUE(driver.MoreResults(h));
  try {
    driver.NextResult(h);
    ADD_FAILURE() << "no error";
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.ErrorCode(), 1146);
  }
  r = driver.OpenQuery(h, "call lib_fails()");
  driver.CloseQuery(r);
  try {
    driver.OpenQuery(h, "select 6");
    ADD_FAILURE() << "no error";
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.ErrorCode(), 1146);
  }
  EXPECT_EQ(single(driver.OpenQuery(h, "select 7")), (std::vector<std::string>{"7"}));
  driver.Close(h);
}

TEST(LibraryOperations, MultipleResultsOfACall) {
  TMySQLLibrary library;
  MultipleResultsOfACall(library);
  TViVURIzodor direct;
  MultipleResultsOfACall(direct);

  // The old protocol cannot ask for the results: the server refuses.
  TViVURIzodor old("old_protocol=1");
  MySQLHandle d = old.Open(Server().host, Server().user, "", Server().port, 0, Server().database);
  try {
    old.OpenQuery(d, "call lib_two()");
    ADD_FAILURE() << "no error";
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.ErrorCode(), 1312);
  }
  MySQLResultHandle one = old.OpenQuery(d, "select 8");
  while (old.RetrieveRow(one)) {
  }
  old.CloseQuery(one);
  EXPECT_FALSE(old.MoreResults(d));
  EXPECT_EQ(old.NextResult(d), nullptr);
  old.Close(d);
}

TEST(LibraryOperations, ServerErrors) {
  TMySQLLibrary driver;
  MySQLHandle h = OpenUser(driver);
  try {
    driver.OpenQuery(h, "selec 1");
    FAIL();
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.ErrorCode(), 1064);
    EXPECT_EQ(e.Message(), "[1064] " + driver.ErrorMsg(h) + ": \r\nClient:" + driver.ClientInfo() +
                               "\r\nServer:" + driver.ServerInfo(h));
    EXPECT_EQ(driver.ErrorMsg(h).rfind("You have an error in your SQL syntax", 0), 0u);
    EXPECT_EQ(e.ServerErrorCode(), 1064u);
    EXPECT_EQ(e.ServerMessage(), driver.ErrorMsg(h));
    EXPECT_EQ(e.SqlState(), "42000");
    EXPECT_EQ(driver.SqlState(h), "42000");
  }
  try {
    driver.SelectDatabase(h, "no_such_database_here");
    FAIL();
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.ErrorCode(), 1049);
  }
  // A component message with the driver and a handle carries the handle's
  // last error in front of it.
  try {
    MySQLError(&driver, h, -1, "component text", -1, -1);
    FAIL();
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.ErrorCode(), 1049);
    EXPECT_EQ(e.Message(), "[1049] " + driver.ErrorMsg(h) + ": component text\r\nClient:" +
                               driver.ClientInfo() + "\r\nServer:" + driver.ServerInfo(h));
  }
  EXPECT_TRUE(driver.SelectDatabase(h, Server().database));
  driver.Close(h);
  // With the driver but no connection: no number, the client line only.
  try {
    MySQLError(&driver, nullptr, -1, "alone", -1, -1);
    FAIL();
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.ErrorCode(), -1);
    EXPECT_EQ(e.Message(), "alone\r\nClient:" + driver.ClientInfo());
    // Not from a connection: no server report.
    EXPECT_EQ(e.ServerErrorCode(), 0u);
    EXPECT_EQ(e.ServerMessage(), "");
    EXPECT_EQ(e.SqlState(), "");
  }
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

TEST(LibraryOperations, MissingEntryPointsRaiseTheStubMessage) {
  ExpectExports("libmariadb.so.3");
  // libmariadb exports neither mysql_create_db nor mysql_drop_db.
  TMySQLLibrary driver;
  MySQLHandle h = OpenUser(driver);
  for (int i = 0; i < 2; ++i) {
    try {
      if (i == 0) driver.CreateDatabase(h, "lib_never_created");
      else driver.DropDatabase(h, "lib_never_created");
      FAIL();
    } catch (const EMySQLError&) {
      FAIL() << "the stub raises a plain exception";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message().rfind("This MySQL API call is not implemented in the library you "
                                  "are using.  Please update your library", 0),
                0u);
    }
  }
  EXPECT_TRUE(driver.Ping(h));
  driver.Close(h);
}

TEST(LibraryOperations, KillRefreshAndStaleHandles) {
  TMySQLLibrary driver;
  MySQLHandle main = OpenUser(driver);
  MySQLHandle victim = OpenUser(driver);
  EXPECT_TRUE(driver.Refresh(main, 4));  // tables
  driver.Kill(main, driver.ThreadID(victim));
  EXPECT_THROW(driver.Ping(victim), EMySQLError);
  driver.Close(victim);
  // A handle the driver does not hold open is refused, not used.
  EXPECT_THROW(driver.Ping(reinterpret_cast<MySQLHandle>(&driver)), EMySQLError);
  MySQLHandle bogus = reinterpret_cast<MySQLHandle>(&driver);
  driver.Close(bogus);
  EXPECT_EQ(bogus, reinterpret_cast<MySQLHandle>(&driver));
  // Closing the main connection first releases the library; the other
  // connection is closed with it and cannot be used any more.
  MySQLHandle other = OpenUser(driver);
  driver.Close(main);
  EXPECT_FALSE(driver.Loaded());
  EXPECT_THROW(driver.Ping(other), EMySQLError);
  driver.Close(other);  // harmless
  driver.UnLoad();
}

// Results read in turn on one thread, through two drivers: each read finds
// its own result, a closed result is refused, and a result is refused by a
// driver that did not open it, however recently this thread read it.
TEST(LibraryOperations, ResultHandlesReadInTurnAndAfterClosing) {
  TMySQLLibrary one;
  TMySQLLibrary two;
  MySQLHandle h1 = OpenUser(one, Server().database);
  MySQLHandle h2 = OpenUser(two, Server().database);
  MySQLHandle h3 = OpenUser(one, Server().database);
  MySQLResultHandle a = one.OpenQuery(h1, "select seq from seq_1_to_3");
  MySQLResultHandle b = two.OpenQuery(h2, "select seq * 10 from seq_1_to_3");
  MySQLResultHandle c = one.OpenQuery(h3, "select seq * 100 from seq_1_to_3");
  std::string seen;
  for (int i = 0; i < 3; ++i) {
    seen += std::string(one.RetrieveRow(a)[0]) + ",";
    seen += std::string(two.RetrieveRow(b)[0]) + ",";
    seen += std::string(one.RetrieveRow(c)[0]) + ";";
  }
  EXPECT_EQ(seen, "1,10,100;2,20,200;3,30,300;");
  EXPECT_EQ(one.RetrieveRow(a), nullptr);
  EXPECT_THROW(two.RetrieveRow(a), EMySQLError);
  EXPECT_EQ(two.RetrieveRow(b), nullptr);
  EXPECT_THROW(one.RetrieveRowFieldLenghts(b), EMySQLError);
  MySQLResultHandle closed = a;
  one.CloseQuery(a);
  EXPECT_THROW(one.RetrieveRow(closed), EMySQLError);
  EXPECT_EQ(one.RetrieveRow(c), nullptr);
  // Entries of closed results serve the next ones.
  for (int i = 0; i < 3; ++i) {
    MySQLResultHandle r = one.OpenQuery(h1, "select " + std::to_string(i));
    EXPECT_STREQ(one.RetrieveRow(r)[0], std::to_string(i).c_str());
    one.CloseQuery(r);
  }
  one.CloseQuery(c);
  two.CloseQuery(b);
  one.Close(h3);
  two.Close(h2);
  one.Close(h1);
}

TEST(LibraryThreads, PrivateConnectionsOnWorkerThreads) {
  // Worker threads open, use and close connections of their own through the
  // driver that holds the main connection.
  TMySQLLibrary driver;
  MySQLHandle main = OpenUser(driver);
  std::atomic<int> done{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t) {
    workers.emplace_back([&driver, &done] {
      for (int i = 0; i < 5; ++i) {
        MySQLHandle h = OpenUser(driver);
        MySQLResultHandle r = driver.OpenQuery(h, "select connection_id()");
        if (driver.RetrieveRow(r) != nullptr) ++done;
        driver.CloseQuery(r);
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

// Closing the main connection releases the library and the connections
// still open with it, but never under another thread's running operation:
// the unload waits for it, and that thread's next use is refused cleanly.
TEST(LibraryThreads, UnloadWaitsForAnotherThreadsOperation) {
  TMySQLLibrary driver;
  MySQLHandle main = OpenUser(driver);
  MySQLHandle mine = OpenUser(driver);
  std::atomic<bool> started{false};
  std::atomic<bool> finished{false};
  int rows = 0;
  std::thread worker([&] {
    MySQLResultHandle r = nullptr;
    started = true;
    try {
      // Running on the server while the main connection is closed.
      r = driver.OpenQuery(mine, "select sleep(1)");
      while (driver.RetrieveRow(r) != nullptr) ++rows;
      driver.CloseQuery(r);
      driver.Ping(mine);
    } catch (const EMySQLError&) {
      // Refused once the handle is gone: the clean outcome.
    }
    driver.CloseQuery(r);  // forgotten with its library, never freed twice
    finished = true;
  });
  while (!started) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // let the statement start
  driver.Close(main);
  worker.join();
  EXPECT_TRUE(finished);
  EXPECT_LE(rows, 1);
  EXPECT_THROW(driver.Ping(mine), EMySQLError);
}

// Rows read on one thread while another closes the main connection (which
// releases the library and every result): the close waits for the row being
// read and then frees the result; the reader's calls get every row or a
// refusal, never freed memory, and the close never hangs waiting for them.
TEST(LibraryThreads, UnloadWaitsForRowReadsOfAnotherThread) {
  constexpr int kRows = 200000;
  TMySQLLibrary driver;
  MySQLHandle main = OpenUser(driver);
  MySQLHandle mine = OpenUser(driver, Server().database);
  std::atomic<int> rows{0};
  std::atomic<bool> refused{false};
  std::atomic<bool> done{false};
  std::string reason;
  std::thread worker([&] {
    MySQLResultHandle r = nullptr;
    try {
      r = driver.OpenQuery(mine, "select seq, concat('row ', seq) from seq_1_to_" +
                                     std::to_string(kRows));
      // Only the driver's calls are guarded: a row's memory goes with the
      // result once the close frees it, so the rows are counted, not read.
      MySQLLengths lengths = nullptr;
      while (driver.RetrieveRowWithLengths(r, lengths) != nullptr) ++rows;
    } catch (const EMySQLError& e) {
      refused = true;
      reason = e.what();
    }
    driver.CloseQuery(r);
    done = true;
  });
  while (rows < 1000 && !done) std::this_thread::yield();
  const bool early = done;
  driver.Close(main);
  worker.join();
  EXPECT_FALSE(early) << reason;
  EXPECT_TRUE(refused || rows == kRows) << rows;
  EXPECT_THROW(driver.Ping(mine), EMySQLError);
}

TEST(LibraryIdentifiers, FormatIdentifier) {
  TMySQLLibrary driver;
  MySQLHandle h = OpenUser(driver, Server().database);
  EXPECT_EQ(driver.FormatIdentifier("abc_1"), "abc_1");
  EXPECT_EQ(driver.FormatIdentifier("1abc"), "1abc");
  EXPECT_EQ(driver.FormatIdentifier("select"), "`select`");
  EXPECT_EQ(driver.FormatIdentifier("Select"), "`Select`");
  EXPECT_EQ(driver.FormatIdentifier("my-col"), "`my-col`");
  EXPECT_EQ(driver.FormatIdentifier("my col"), "`my col`");
  EXPECT_EQ(driver.FormatIdentifier("`already quoted`"), "`already quoted`");
  EXPECT_EQ(driver.FormatIdentifier(""), "");
  EXPECT_EQ(driver.FormatIdentifier("db.tbl"), "db.tbl");
  EXPECT_EQ(driver.FormatIdentifier("db.order"), "db.`order`");
  EXPECT_EQ(driver.FormatIdentifier("my db.t-1"), "`my db`.`t-1`");
  EXPECT_EQ(driver.FormatIdentifier("a..b."), "a.b");
  // A back-quote inside a name is doubled, so it cannot end the quoting.
  EXPECT_EQ(driver.FormatIdentifier("a`b"), "`a``b`");
  EXPECT_EQ(driver.FormatIdentifier("x` ; drop table t; `"), "`x`` ; drop table t; ```");

  // The quoted names work on the server.
  std::string name = "we`ird name";
  std::string quoted = driver.FormatIdentifier(name);
  EXPECT_EQ(driver.OpenQuery(h, "drop table if exists " + quoted), nullptr);
  EXPECT_EQ(driver.OpenQuery(h, "create table " + quoted + " (`select` int)"), nullptr);
  MySQLResultHandle r = driver.OpenQuery(
      h, "select " + driver.FormatIdentifier("select") + " from " +
             driver.FormatIdentifier(Server().database + "." + name));
  ASSERT_NE(r, nullptr);
  MYSQL_FIELD f = driver.RetrieveField(r);
  EXPECT_STREQ(f.table, name.c_str());
  driver.CloseQuery(r);
  driver.OpenQuery(h, "drop table " + quoted);
  driver.Close(h);
}

TEST(LibraryOperations, SameFaultsHandledAsOnEveryBackEnd) {
  TMySQLLibrary driver;
  MySQLHandle h = OpenUser(driver, test::FreshDatabase("lib_checks"));
  test::ExpectRealServerVersion(driver, h);
  test::ExpectStatementNotCutAtNul(driver, h);
  test::ExpectEscapingFollowsSqlMode(driver, h);
  test::ExpectErrorWithinRowsRaises(driver, h);
  driver.Close(h);
}

TEST(LibraryOperations, ReadTimeoutOptionIsPerConnection) {
  TMySQLLibrary a("read_timeout=1");
  TMySQLLibrary b;
  MySQLHandle ha = OpenUser(a);
  MySQLHandle hb = OpenUser(b);
  EXPECT_EQ(test::Scalar(b, hb, "select sleep(2)"), "0");
  try {
    test::Scalar(a, ha, "select sleep(2)");
    ADD_FAILURE() << "the read time-out did not apply";
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.ErrorCode(), 2013) << e.Message();
  }
  b.Close(hb);
  a.Close(ha);
}

TEST(LibraryEscaping, EscapeStrKeepsEveryByte) {
  TMySQLLibrary driver;
  MySQLHandle h = OpenUser(driver, Server().database);
  std::string value("a'b\"c\\d\0e\nf\rg\x1a", 14);
  std::string escaped = driver.EscapeStr(value);
  EXPECT_EQ(escaped.find('\0'), std::string::npos);
  driver.OpenQuery(h, "drop table if exists lib_esc");
  driver.OpenQuery(h, "create table lib_esc (v varbinary(40))");
  driver.OpenQuery(h, "insert into lib_esc values ('" + escaped + "')");
  MySQLResultHandle r = driver.OpenQuery(h, "select v from lib_esc");
  MySQLRow row = driver.RetrieveRow(r);
  ASSERT_NE(row, nullptr);
  MySQLLengths lengths = driver.RetrieveRowFieldLenghts(r);
  EXPECT_EQ(std::string(row[0], lengths[0]), value);
  driver.CloseQuery(r);
  driver.Close(h);
}

TEST(LibraryDifferential, ScriptGivesTheExpectedTranscript) {
  TMySQLLibrary driver;
  std::string db = test::FreshDatabase("lib_diff");
  MySQLHandle h = OpenUser(driver, db);
  std::string transcript = RunDriverScript(driver, h);
  DumpTranscript(transcript);
  EXPECT_EQ(transcript, ExpectedTranscript());
  driver.Close(h);
}

}  // namespace
}  // namespace rowset
