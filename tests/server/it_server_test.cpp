// The connection component against the real test server, once per driver
// kind that reaches a server over the network.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "components/MySQLServer.h"
#include "host/Dialogs.h"
#include "tests/common/TestServer.h"
#include "tests/server/ServerTestUtil.h"

namespace rowset {
namespace {

using test::Column;
using test::Scalar;
using test::TestComponent;
using test::TTestDataset;

class ServerTest : public ::testing::TestWithParam<TMySQLDriverType> {
 protected:
  std::unique_ptr<TMySQLServer> Component() { return TestComponent(GetParam()); }
  const test::TestServer& ts = test::Server();
};

std::string KindName(const ::testing::TestParamInfo<TMySQLDriverType>& info) {
  return info.param == dtLibrary ? "Library" : info.param == dtDirect ? "Direct" : "Embedded";
}

INSTANTIATE_TEST_SUITE_P(Kinds, ServerTest, ::testing::Values(dtLibrary, dtDirect), KindName);

// ----- Connecting

TEST_P(ServerTest, ConnectsAndDisconnects) {
  auto server = Component();
  EXPECT_FALSE(server->Connected());
  EXPECT_EQ(server->ServerVersion(), "-1");
  server->Connect();
  ASSERT_TRUE(server->Connected());
  EXPECT_NE(server->Connection(), nullptr);
  // MariaDB 10 announces itself to the protocol as 5.5.5-10.x; the client
  // library strips that prefix.
  EXPECT_GE(server->ServerVer(), 50505);
  EXPECT_NE(server->ServerVersion(), "-1");
  EXPECT_TRUE(server->Ping());
  server->Disconnect();
  EXPECT_FALSE(server->Connected());
  EXPECT_EQ(server->Connection(), nullptr);
  EXPECT_FALSE(server->Ping());
}

TEST_P(ServerTest, FailedConnectRaisesTheConnectMessageAndStaysDisconnected) {
  auto server = Component();
  server->SetPassword("wrong");
  server->SetUserName(ts.pw_user);
  try {
    server->Connect();
    FAIL() << "connected with a wrong password";
  } catch (const EMySQLError& e) {
    EXPECT_NE(e.Message().find("Could not connect to mysql server using:"), std::string::npos);
    EXPECT_NE(e.Message().find("User: " + ts.pw_user), std::string::npos);
  }
  EXPECT_FALSE(server->Connected());
  server->SetPassword(ts.pw_password);
  server->Connect();
  EXPECT_TRUE(server->Connected());
}

TEST_P(ServerTest, ClientSectionOverridesHostPortUserAndPassword) {
  auto server = Component();
  server->SetHost("no-such-host.invalid");
  server->SetPort(1);
  server->SetUserName("nobody");
  server->SetPassword("nothing");
  server->SetParams("[client]\r\nhost=" + ts.host + "\r\nport=" + std::to_string(ts.port) +
                    "\r\nuser=" + ts.pw_user + "\r\npassword=" + ts.pw_password + "\r\n");
  server->Connect();
  ASSERT_TRUE(server->Connected());
  EXPECT_EQ(server->Host(), ts.host);
  EXPECT_EQ(server->Port(), ts.port);
  EXPECT_EQ(server->UserName(), ts.pw_user);
  EXPECT_EQ(server->Password(), ts.pw_password);
  EXPECT_EQ(Scalar(*server, "select substring_index(current_user(),'@',1)"), ts.pw_user);
}

TEST_P(ServerTest, PortThatIsNotANumberLeavesPortUnchanged) {
  auto server = Component();
  server->SetParams("[client]\r\nport=33o6\r\nhost=" + ts.host + "\r\n");
  server->Connect();
  EXPECT_TRUE(server->Connected());
  EXPECT_EQ(server->Port(), ts.port);
  server->Disconnect();
  server->SetParams("[client]\r\nport=99999\r\n");  // not a port either
  server->Connect();
  EXPECT_EQ(server->Port(), ts.port);
}

TEST_P(ServerTest, LoginEventEditsTheParameters) {
  auto server = Component();
  server->SetUserName("nobody");
  int calls = 0;
  server->OnLogin = [&](TMySQLServer* sender, TStrings* params) {
    ++calls;
    EXPECT_EQ(sender, server.get());
    params->SetText("[client]\r\nuser=" + ts.pw_user + "\r\npassword=" + ts.pw_password + "\r\n");
  };
  server->Connect();
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(server->Connected());
  EXPECT_EQ(server->UserName(), ts.pw_user);
}

// A login form that records what it was shown and answers as told.
class TScriptedLogin : public TDialogProvider {
 public:
  int MessageDlg(const std::string&, TMsgDlgType, TMsgDlgButtons) override { return mrAbort; }
  bool LoginForm(TLoginFormData& Data) override {
    ++shown;
    seen = Data;
    if (!confirm) {
      Data.Password = "typed before cancel";  // a provider's stray edit
      return false;
    }
    Data.UserName = user;
    if (touch_password) Data.Password = password;
    return true;
  }
  int shown = 0;
  bool touch_password = true;
  TLoginFormData seen;
  bool confirm = false;
  std::string user, password;
};

TEST_P(ServerTest, LoginPromptCancelledLeavesItDisconnectedWithoutError) {
  auto server = Component();
  server->SetLoginPrompt(true);
  server->SetPassword("kept");
  auto owned = std::make_unique<TScriptedLogin>();
  TScriptedLogin* login = owned.get();
  auto previous = SetDialogProvider(std::move(owned));
  EXPECT_NO_THROW(server->Connect());
  EXPECT_EQ(login->shown, 1);
  EXPECT_FALSE(server->Connected());
  EXPECT_EQ(login->seen.Server, ts.host);
  EXPECT_EQ(login->seen.Port, std::to_string(ts.port));
  EXPECT_EQ(login->seen.UserName, ts.user);
  EXPECT_EQ(login->seen.Password, "kept");  // OK on the untouched form keeps it
  EXPECT_EQ(server->Password(), "kept");

  // Confirmed: the form's values are the ones used.
  login->confirm = true;
  login->user = ts.pw_user;
  login->password = ts.pw_password;
  server->Connect();
  EXPECT_TRUE(server->Connected());
  EXPECT_EQ(server->UserName(), ts.pw_user);

  // OK without touching the password field connects with the stored one.
  server->Disconnect();
  login->touch_password = false;
  login->password.clear();
  server->Connect();
  EXPECT_TRUE(server->Connected());
  EXPECT_EQ(login->seen.Password, ts.pw_password);
  EXPECT_EQ(server->Password(), ts.pw_password);
  SetDialogProvider(std::move(previous));
}

TEST_P(ServerTest, SettersDisconnectOnlyWhenTheValueChanges) {
  auto server = Component();
  server->Connect();
  server->SetHost(ts.host);
  server->SetPort(ts.port);
  server->SetUserName(ts.user);
  server->SetOptions(server->Options());
  server->SetCompression(false);
  EXPECT_TRUE(server->Connected());

  server->SetHost("localhost");
  EXPECT_FALSE(server->Connected());
  server->SetHost(ts.host);
  server->Connect();
  server->SetCompression(true);
  EXPECT_FALSE(server->Connected());
  EXPECT_TRUE(server->Options().Contains(coCompress));
  server->Connect();
  EXPECT_TRUE(server->Connected());  // a compressed connection
  EXPECT_EQ(Scalar(*server, "select 'x' as a"), "x");
  server->SetParams("[direct]\r\nconnect_timeout=5\r\n");
  EXPECT_FALSE(server->Connected());
}

TEST_P(ServerTest, ChangingAParameterClosesTheRegisteredDatasets) {
  auto server = Component();
  TTestDataset a, b;
  a.SetServer(server.get());
  b.SetServer(server.get());
  b.share_connection = false;
  a.Open();
  b.Open();
  ASSERT_TRUE(server->Connected());
  ASSERT_NE(b.handle, nullptr);
  server->SetUserName(ts.pw_user);
  EXPECT_FALSE(server->Connected());
  EXPECT_FALSE(a.Active());
  EXPECT_FALSE(b.Active());
  EXPECT_EQ(b.handle, nullptr);
}

TEST_P(ServerTest, DatabaseNameSelectsAtConnectAndWhileConnected) {
  std::string other = test::FreshDatabase("srv_select");
  auto server = Component();
  server->SetDatabaseName(ts.database);
  server->Connect();
  EXPECT_EQ(server->ConnectionDatabase(), ts.database);
  server->SetDatabaseName(other);
  EXPECT_TRUE(server->Connected());
  EXPECT_EQ(server->ConnectionDatabase(), other);
  // The same name selects again.
  server->ExecSQL("use " + ts.database);
  server->SetDatabaseName(other);
  EXPECT_EQ(server->ConnectionDatabase(), other);
  test::RootSql("DROP DATABASE `" + other + "`;");
}

TEST_P(ServerTest, ConnectWithDBOptionStillSelectsTheDatabase) {
  auto server = Component();
  server->SetOptions({coConnectWithDB, coInteractive});
  server->SetDatabaseName(ts.database);
  server->Connect();
  EXPECT_EQ(server->ConnectionDatabase(), ts.database);
}

TEST_P(ServerTest, MissingDatabaseFailsTheConnectWithoutAutoCreate) {
  auto server = Component();
  server->SetDatabaseName("rowset_no_such_db_" + std::to_string(getpid()));
  EXPECT_THROW(server->Connect(), EMySQLError);
  EXPECT_FALSE(server->Connected());
}

TEST_P(ServerTest, AutoCreateCreatesAndSelectsAMissingDatabase) {
  std::string name = "rowset_srv_auto_" + std::to_string(getpid());
  test::RootSql("DROP DATABASE IF EXISTS `" + name + "`;");
  auto server = Component();
  server->SetOptions({coInteractive, soAutoCreate});
  server->SetDatabaseName(name);
  server->Connect();
  ASSERT_TRUE(server->Connected());
  EXPECT_EQ(server->DatabaseName(), name);
  EXPECT_EQ(server->ConnectionDatabase(), name);
  server->ExecSQL("create table t (a int)");
  server->Disconnect();

  // Connecting again keeps what is there...
  server->Connect();
  TStringList tables;
  server->GetTableNames("", &tables);
  EXPECT_EQ(tables.Count(), 1);
  server->Disconnect();

  // ...unless the database is to be dropped first.
  server->SetOptions({coInteractive, soAutoCreate, soDropIfExists});
  server->Connect();
  EXPECT_EQ(server->ConnectionDatabase(), name);
  server->GetTableNames("", &tables);
  EXPECT_EQ(tables.Count(), 0);
  server->DropDatabase(name, nullptr);
}

TEST_P(ServerTest, AutoCreateWithCloseOnChildrenConnectsOnce) {
  std::string name = "rowset_srv_autoclose_" + std::to_string(getpid());
  test::RootSql("DROP DATABASE IF EXISTS `" + name + "`;");
  auto server = Component();
  server->SetOptions({coInteractive, soAutoCreate, soCloseOnChildren});
  server->SetDatabaseName(name);
  int connects = 0;
  server->AfterConnect = [&](TObject*) { ++connects; };
  server->Connect();
  EXPECT_TRUE(server->Connected());
  EXPECT_EQ(connects, 1);
  EXPECT_EQ(server->ConnectionDatabase(), name);
  server->DropDatabase(name, nullptr);  // a service: disconnects afterwards
  EXPECT_FALSE(server->Connected());
}

TEST_P(ServerTest, FailedAutoCreateConnectKeepsTheDatabaseName) {
  auto server = Component();
  server->SetOptions({coInteractive, soAutoCreate});
  server->SetDatabaseName("keep_me");
  server->SetPort(1);
  server->SetParams("[client]\r\nport=1\r\n");
  EXPECT_THROW(server->Connect(), EMySQLError);
  EXPECT_EQ(server->DatabaseName(), "keep_me");
}

TEST_P(ServerTest, FoundRowsOptionReachesTheServer) {
  std::string db = test::FreshDatabase("srv_flags");
  test::RootSql("CREATE TABLE `" + db + "`.t (a int); INSERT INTO `" + db + "`.t VALUES (1);");
  auto server = Component();
  server->SetDatabaseName(db);
  server->Connect();
  server->ExecSQL("update t set a=1");
  EXPECT_EQ(server->GetDriver()->AffectedRows(server->Connection()), "0");
  server->SetOptions({coInteractive, coFoundRows});
  server->Connect();
  server->ExecSQL("update t set a=1");
  EXPECT_EQ(server->GetDriver()->AffectedRows(server->Connection()), "1");
  test::RootSql("DROP DATABASE `" + db + "`;");
}

// ----- Connection sharing

TEST_P(ServerTest, PrivateConnectionsAreOpenedAndClosed) {
  auto server = Component();
  server->Connect();
  MySQLHandle own = server->AllocConnection();
  ASSERT_NE(own, nullptr);
  EXPECT_NE(own, server->Connection());
  std::string id = std::to_string(server->GetDriver()->ThreadID(own));
  auto count = [&] {
    return Scalar(*server, "select count(*) from information_schema.processlist where id=" + id);
  };
  EXPECT_EQ(count(), "1");
  server->FreeConnection(own);
  EXPECT_EQ(own, nullptr);
  for (int i = 0; i < 50 && count() != "0"; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(count(), "0");

  MySQLHandle main = server->Connection();
  server->FreeConnection(main);  // the main handle is only cleared
  EXPECT_EQ(main, nullptr);
  EXPECT_TRUE(server->Connected());
  EXPECT_TRUE(server->Ping());
}

TEST_P(ServerTest, WorkerThreadsAllocateAndFreeConnectionsTogether) {
  auto server = Component();
  server->Connect();
  std::atomic<int> pings{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t) {
    workers.emplace_back([&] {
      for (int i = 0; i < 5; ++i) {
        MySQLHandle own = server->AllocConnection();
        if (server->GetDriver()->Ping(own)) ++pings;
        server->FreeConnection(own);
      }
    });
  }
  for (auto& w : workers) w.join();
  EXPECT_EQ(pings.load(), 20);
  EXPECT_TRUE(server->Ping());
}

TEST_P(ServerTest, CloseOnChildrenDisconnectsAfterTheLastDatasetCloses) {
  auto server = Component();
  server->SetOptions({coInteractive, soCloseOnChildren});
  TTestDataset a, b;
  a.SetServer(server.get());
  b.SetServer(server.get());
  a.share_connection = false;
  b.share_connection = false;
  a.Open();
  b.Open();
  EXPECT_TRUE(server->Connected());
  a.Close();
  EXPECT_TRUE(server->Connected());
  b.Close();
  EXPECT_FALSE(server->Connected());
}

TEST_P(ServerTest, CloseOnChildrenDisconnectsAfterEachService) {
  auto server = Component();
  server->SetOptions({coInteractive, soCloseOnChildren});
  EXPECT_TRUE(server->ExecSQL("select 1"));
  EXPECT_FALSE(server->Connected());
  TStringList names;
  server->GetDatabaseNames(&names);
  EXPECT_GT(names.IndexOf("information_schema"), -1);
  EXPECT_FALSE(server->Connected());
  // Locks are kept on the connection, so lock services leave it open.
  EXPECT_EQ(server->GetLock("rowset_srv_coc", 1), 1);
  EXPECT_TRUE(server->Connected());
  EXPECT_EQ(server->ReleaseLock("rowset_srv_coc"), 1);
}

TEST_P(ServerTest, CloseClientsClosesEveryRegisteredDataset) {
  auto server = Component();
  TTestDataset a, b, c;
  for (TTestDataset* d : {&a, &b, &c}) {
    d->SetServer(server.get());
    d->Open();
  }
  server->CloseClients();
  EXPECT_FALSE(a.Active());
  EXPECT_FALSE(b.Active());
  EXPECT_FALSE(c.Active());
  EXPECT_TRUE(server->Connected());
}

// ----- Services

TEST_P(ServerTest, ExecSQLBatchRunsEachStatementOfAScript) {
  std::string db = test::FreshDatabase("srv_batch");
  auto server = Component();
  server->SetDatabaseName(db);
  TStringList script;
  script.SetText(
      "-- a table\r\n"
      "create table t (a varchar(20));\r\n"
      "/* two rows; one holding a semicolon */\r\n"
      "insert into t values ('x;y'),\r\n"
      "  ('z');  # trailing comment; not a statement\r\n"
      "insert into `t` values ('--not a comment');\r\n");
  EXPECT_TRUE(server->ExecSQLBatch(script));
  auto values = Column(*server, "select a from t order by a");
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values[0], "--not a comment");
  EXPECT_EQ(values[1], "x;y");
  EXPECT_EQ(values[2], "z");

  // A failing statement stops the batch.
  script.SetText("insert into t values ('1'); insert into nowhere values (1); insert into t values ('2');");
  EXPECT_THROW(server->ExecSQLBatch(script), EMySQLError);
  EXPECT_EQ(Scalar(*server, "select count(*) from t"), "4");
  EXPECT_TRUE(server->Connected());
  test::RootSql("DROP DATABASE `" + db + "`;");
}

TEST_P(ServerTest, ExecSQLBatchOfCommentsOnlySendsNothing) {
  auto server = Component();
  TStringList script;
  script.SetText("-- nothing\r\n/* at all */\r\n");
  EXPECT_FALSE(server->ExecSQLBatch(script));
  EXPECT_FALSE(server->Connected());
}

TEST_P(ServerTest, ServerErrorRaisesWithNumberAndLeavesItConnected) {
  auto server = Component();
  try {
    server->ExecSQL("use rowset_no_such_db_x");
    FAIL();
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.ErrorCode(), 1049);
    EXPECT_EQ(e.Message().rfind("[1049] ", 0), 0u) << e.Message();
  }
  EXPECT_TRUE(server->Connected());
}

TEST_P(ServerTest, ListsDatabasesTablesAndFields) {
  std::string db = test::FreshDatabase("srv-list x");  // needs back-quotes
  test::RootSql("CREATE TABLE `" + db + "`.`order` (id int, `na me` char(3));"
                "CREATE TABLE `" + db + "`.plain (a int);");
  auto server = Component();
  TStringList list;
  server->GetDatabaseNames(&list);
  EXPECT_GT(list.IndexOf(db), -1);

  list.Add("stale");
  server->GetTableNames(db, &list);
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list[0], "order");
  EXPECT_EQ(list[1], "plain");

  server->GetFieldNames(db, "order", &list);
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list[0], "id");
  EXPECT_EQ(list[1], "na me");

  server->GetFieldNames("", "order", &list);
  EXPECT_EQ(list.Count(), 0);

  // On a private connection with a selected database.
  MySQLHandle own = server->AllocConnection();
  EXPECT_TRUE(server->SelectDatabase(db, own));
  EXPECT_EQ(server->ConnectionDatabase(own), db);
  server->GetTableNames("", &list, own);
  EXPECT_EQ(list.Count(), 2);
  server->FreeConnection(own);
  test::RootSql("DROP DATABASE `" + db + "`;");
}

TEST_P(ServerTest, ConnectionDatabaseWithoutConnectionIsEmpty) {
  auto server = Component();
  EXPECT_EQ(server->ConnectionDatabase(), "");
  EXPECT_FALSE(server->Connected());
  server->Connect();
  EXPECT_EQ(server->ConnectionDatabase(), "");  // none selected
  EXPECT_TRUE(server->SelectDatabase(""));
}

TEST_P(ServerTest, LockNamesAreEscaped) {
  auto server = Component();
  std::string name = "it's a lock'); select ('x";
  EXPECT_EQ(server->GetLock(name, 1), 1);
  EXPECT_EQ(Scalar(*server, "select is_used_lock('" + server->EscapeStr(name) + "') = connection_id()"),
            "1");
  EXPECT_EQ(server->ReleaseLock(name), 1);
  EXPECT_EQ(server->ReleaseLock(name), -1);  // NULL: no such lock
}

TEST_P(ServerTest, GetLockTimesOutWhileAnotherConnectionHoldsIt) {
  auto holder = Component();
  auto waiter = Component();
  ASSERT_EQ(holder->GetLock("rowset_srv_held", 1), 1);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(waiter->GetLock("rowset_srv_held", 1), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
  EXPECT_EQ(waiter->ReleaseLock("rowset_srv_held"), 0);  // held by another connection
  EXPECT_EQ(holder->ReleaseLock("rowset_srv_held"), 1);
  EXPECT_EQ(waiter->GetLock("rowset_srv_held", 1), 1);
}

TEST_P(ServerTest, CreatesAndDropsDatabasesOnEveryBackEnd) {
  std::string name = "rowset srv-create " + std::to_string(getpid());
  test::RootSql("DROP DATABASE IF EXISTS `" + name + "`;");
  auto server = Component();
  server->CreateDatabase(name, nullptr);
  TStringList list;
  server->GetDatabaseNames(&list);
  EXPECT_GT(list.IndexOf(name), -1);

  MySQLHandle own = server->AllocConnection();
  server->DropDatabase(name, own);
  server->FreeConnection(own);
  server->GetDatabaseNames(&list);
  EXPECT_EQ(list.IndexOf(name), -1);
  EXPECT_THROW(server->DropDatabase(name), EMySQLError);  // no such database
}

TEST_P(ServerTest, CreationScriptNamesTheDatabase) {
  std::string name = "rowset-srv script " + std::to_string(getpid());
  std::string quoted = "`" + name + "`";
  auto server = Component();
  server->SetOptions({coInteractive, soAutoCreate});
  server->SetDatabaseName(name);
  server->Connect();  // identifiers are quoted by the connected server's rules
  EXPECT_EQ(server->ConnectionDatabase(), name);
  EXPECT_EQ(server->CreateDatabase(false), "create database if not exists " + quoted +
                                               ";\r\nuse " + quoted + ";\r\nuse " + quoted +
                                               ";\r\n");
  server->DropDatabase(name);
}

TEST_P(ServerTest, DestroyingAConnectedComponentDetachesItsDatasets) {
  TTestDataset a;
  {
    auto server = Component();
    a.SetServer(server.get());
    a.Open();
    ASSERT_TRUE(server->Connected());
  }
  EXPECT_FALSE(a.Active());
  EXPECT_EQ(a.Server(), nullptr);
}

TEST(ServerDestructionTest, AFailingCloseGoesToTheApplicationHandler) {
  auto previous = TMySQLServer::DatasetFactory();
  TMySQLServer::DatasetFactory() = [] { return std::make_unique<TTestDataset>(); };
  std::vector<std::string> handled;
  SetApplicationExceptionHandler([&](TObject*, std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      handled.push_back(e.what());
    }
  });
  TTestDataset registered;
  {
    auto server = TestComponent(dtLibrary);
    auto* named = dynamic_cast<TTestDataset*>(server->Dataset("named", "", true));
    ASSERT_TRUE(named->Active());
    named->fail_close = true;
    registered.SetServer(server.get());
    registered.Open();
    EXPECT_NO_THROW(server.reset());
  }
  EXPECT_EQ(registered.Server(), nullptr);
  EXPECT_FALSE(registered.Active());
  ASSERT_FALSE(handled.empty());
  EXPECT_NE(handled[0].find("close failed"), std::string::npos);
  SetApplicationExceptionHandler(nullptr);
  TMySQLServer::DatasetFactory() = previous;
}

TEST(NamedDatasetConnectedTest, LinkErrorsCarryTheMainConnectionsState) {
  auto previous = TMySQLServer::DatasetFactory();
  TMySQLServer::DatasetFactory() = [] { return std::make_unique<TTestDataset>(); };
  auto server = TestComponent(dtLibrary);
  server->Connect();
  server->Dataset("detail");
  try {
    server->Link("detail", "nobody", "a=b");
    FAIL();
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.ErrorCode(), 0);
    EXPECT_EQ(e.Message().rfind("[0] : Master dataset \"nobody\" not found.\r\nClient:", 0), 0u)
        << e.Message();
  }
  TMySQLServer::DatasetFactory() = previous;
}

// ----- Old servers
//
// A client library driver that reports an older server version and records
// the statements it sends, everything else going to the real library.
class TOldServerDriver : public TMySQLLibrary {
 public:
  static inline const char* version = "3.21.33";
  static inline std::vector<std::string> sent;

 protected:
  void Bind() override {
    TMySQLLibrary::Bind();
    real_query_ = api_.mysql_real_query;
    api_.mysql_get_server_info = [](MySQLHandle) -> const char* { return version; };
    api_.mysql_real_query = [](MySQLHandle mysql, const char* q, unsigned long length) {
      sent.emplace_back(q, length);
      return real_query_(mysql, q, length);
    };
  }

 private:
  static inline int (*real_query_)(MySQLHandle, const char*, unsigned long) = nullptr;
};

std::unique_ptr<TMySQLServer> OldServerComponent(const char* version) {
  auto server = TestComponent(dtLibrary);
  server->SetDriver(std::make_unique<TOldServerDriver>());
  TOldServerDriver::version = version;
  TOldServerDriver::sent.clear();
  return server;
}

TEST(OldServerTest, ServersBefore321AreRefused) {
  auto server = OldServerComponent("3.20.32");
  try {
    server->Connect();
    FAIL() << "connected to a 3.20 server";
  } catch (const EMySQLError& e) {
    EXPECT_NE(e.Message().find("Only compatible with MySQL Server 3.21.xx and higher. "
                               "Your version: 32032"),
              std::string::npos)
        << e.Message();
  }
  EXPECT_FALSE(server->Connected());
  EXPECT_EQ(server->Connection(), nullptr);
}

TEST(OldServerTest, StatementsLoseTheirTrailingSemicolonBefore322) {
  auto server = OldServerComponent("3.21.33");
  server->Connect();
  EXPECT_EQ(server->ServerVer(), 32133);
  EXPECT_TRUE(server->ExecSQL("select 1;"));
  ASSERT_FALSE(TOldServerDriver::sent.empty());
  EXPECT_EQ(TOldServerDriver::sent.back(), "select 1");

  auto newer = OldServerComponent("4.0.18-nt");
  newer->Connect();
  EXPECT_TRUE(newer->ExecSQL("select 1;"));
  EXPECT_EQ(TOldServerDriver::sent.back(), "select 1;");
}

// ----- Servers that no longer know the create and drop commands
//
// A client library driver whose create and drop calls get the answer the
// server chooses (raised through SIGNAL), as a server without the protocol
// commands answers them.
class TRefusingDriver : public TMySQLLibrary {
 public:
  static inline int error = 1047;
  static inline int calls = 0;

 protected:
  void Bind() override {
    TMySQLLibrary::Bind();
    real_query_ = api_.mysql_real_query;
    api_.mysql_create_db = api_.mysql_drop_db = [](MySQLHandle mysql, const char*) {
      ++calls;
      std::string signal = "signal sqlstate '42000' set mysql_errno=" + std::to_string(error) +
                           ", message_text='Unknown command'";
      return real_query_(mysql, signal.data(), signal.size());
    };
  }

 private:
  static inline int (*real_query_)(MySQLHandle, const char*, unsigned long) = nullptr;
};

TEST(RefusedCommandTest, UnknownCommandFallsBackToStatements) {
  std::string name = "rowset_srv_refused_" + std::to_string(getpid());
  test::RootSql("DROP DATABASE IF EXISTS `" + name + "`;");
  auto server = TestComponent(dtLibrary);
  server->SetDriver(std::make_unique<TRefusingDriver>());
  TRefusingDriver::error = 1047;
  TRefusingDriver::calls = 0;
  server->CreateDatabase(name);
  EXPECT_EQ(TRefusingDriver::calls, 1);
  EXPECT_EQ(test::RootSql("SHOW DATABASES LIKE '" + name + "';"), name + "\n");
  server->DropDatabase(name);
  EXPECT_EQ(TRefusingDriver::calls, 2);
  EXPECT_EQ(test::RootSql("SHOW DATABASES LIKE '" + name + "';"), "");

  // Any other refusal is the server's answer and is raised.
  TRefusingDriver::error = 1044;
  try {
    server->CreateDatabase(name);
    FAIL();
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.ErrorCode(), 1044);
  }
  EXPECT_EQ(test::RootSql("SHOW DATABASES LIKE '" + name + "';"), "");
}

// ----- Streaming

TEST(StreamingTest, ConnectedIsAppliedAfterLoading) {
  auto server = TestComponent(dtLibrary);
  server->BeginLoading();
  server->SetConnected(true);
  server->SetDatabaseName(test::Server().database);  // nothing is selected while loading
  EXPECT_FALSE(server->Connected());
  server->EndLoading();
  EXPECT_TRUE(server->Connected());
  EXPECT_EQ(server->ConnectionDatabase(), test::Server().database);
}

}  // namespace
}  // namespace rowset
