// The client session against the real test server: logins of every account
// kind, every command, change of user, kill and reconnect, and local files.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "host/Sockets.h"
#include "tests/common/TestServer.h"
#include "wire/uMysqlClient.h"
#include "wire/uMysqlHelpers.h"

namespace rowset {
namespace {

using test::Server;

struct Login {
  std::string user, password;
};

std::unique_ptr<TMysqlClient> Open(const Login& login, const std::string& db = "",
                                   bool compress = false) {
  auto c = std::make_unique<TMysqlClient>();
  c->auto_reconnect = false;
  c->setfcompress(compress);
  const auto& s = Server();
  c->connect(s.host, login.user, login.password, db, s.port, "", false, 0);
  return c;
}

Login NoPassword() { return {Server().user, ""}; }
Login Native() { return {Server().pw_user, Server().pw_password}; }
Login Old() { return {Server().old_user, Server().old_password}; }

// Runs a statement and returns the first column of its rows, read packet by
// packet; NULL reads as "NULL".
std::vector<std::string> Column(TMysqlClient& c, const std::string& sql) {
  std::vector<std::string> out;
  EXPECT_EQ(c.realquery(sql), 0) << sql << ": " << c.GetLastError();
  if (c.status != MYSQL_STATUS_GET_RESULT) return out;
  for (;;) {
    uint32_t n = c.net.net_safe_read();
    if (n == packet_error) break;
    const uint8_t* p = c.net.read_ptr();
    if (p[0] == 254 && n < 8) break;
    if (p[0] == 251) {
      out.push_back("NULL");
    } else {
      size_t len = p[0], skip = 1;
      if (p[0] == 252) len = p[1] | (p[2] << 8), skip = 3;
      out.emplace_back(reinterpret_cast<const char*>(p + skip), len);
    }
  }
  c.free_old_query();
  c.status = MYSQL_STATUS_READY;
  return out;
}

std::string One(TMysqlClient& c, const std::string& sql) {
  auto v = Column(c, sql);
  return v.empty() ? std::string("<none>") : v[0];
}

TEST(RealLogin, EveryAccountWithRightAndWrongPassword) {
  for (const Login& login : {NoPassword(), Native(), Old()}) {
    for (bool compress : {false, true}) {
      auto c = Open(login, "", compress);
      ASSERT_TRUE(c->GetConnected()) << login.user << ": " << c->GetLastError();
      EXPECT_EQ(c->net.compress, compress);
      EXPECT_EQ(One(*c, "select current_user()").rfind(login.user + "@", 0), 0u);
      std::string abab;
      for (int i = 0; i < 5000; ++i) abab += "ab";
      EXPECT_EQ(One(*c, "select repeat('ab', 5000)"), abab);
      EXPECT_NE(c->thread_id, 0u);
      EXPECT_NE(c->server_version.find("MariaDB"), std::string::npos);
      c->close();
      EXPECT_FALSE(c->GetConnected());
      EXPECT_EQ(c->thread_id, 0u);
    }
    auto bad = Open({login.user, "wrong"});
    EXPECT_FALSE(bad->GetConnected()) << login.user;
    EXPECT_EQ(bad->GetLastErrorNo(), 1045u);
    EXPECT_EQ(bad->GetLastError().rfind("Access denied for user '" + login.user + "'", 0), 0u)
        << bad->GetLastError();
  }
}

TEST(RealLogin, WithDatabaseAndSelectingOne) {
  const std::string db = Server().database;
  auto c = Open(Old(), db, true);
  ASSERT_TRUE(c->GetConnected()) << c->GetLastError();
  EXPECT_EQ(One(*c, "select database()"), db);
  EXPECT_TRUE(c->select_db("mysql"));
  EXPECT_EQ(c->db, "mysql");
  EXPECT_EQ(One(*c, "select database()"), "mysql");
  EXPECT_FALSE(c->select_db("no_such_database_here"));
  EXPECT_EQ(c->GetLastErrorNo(), 1049u);
  EXPECT_EQ(c->db, "mysql");
  EXPECT_TRUE(c->GetConnected());
  c->SetDb(db);
  EXPECT_EQ(One(*c, "select database()"), db);

  auto missing = Open(Native(), "no_such_database_here");
  EXPECT_FALSE(missing->GetConnected());
  EXPECT_EQ(missing->GetLastErrorNo(), 1049u);
}

TEST(RealLogin, LocalServerSocketAndFallbackToTcp) {
  const auto& s = Server();
  const std::string saved = host::LocalServerSocket();
  host::SetLocalServerSocket(s.socket);
  {
    TMysqlClient c;
    c.SetNamedPipe(true);
    ASSERT_TRUE(c.connect("somehost", Native().user, Native().password, "", 0, "pipe", false, 0))
        << c.GetLastError();
    EXPECT_EQ(c.net.VioType(), VIO_TYPE_NAMEDPIPE);
    EXPECT_EQ(c.host, ".");
    EXPECT_EQ(c.unix_socket, "MySQL");
    EXPECT_EQ(One(c, "select 5"), "5");
  }
  host::SetLocalServerSocket("/nonexistent/rowset.sock");
  {
    TMysqlClient c;
    c.SetNamedPipe(true);
    EXPECT_FALSE(c.connect(s.host, Native().user, Native().password, "", s.port, "p", false, 0));
    EXPECT_EQ(c.GetLastErrorNo(), 2017u);
    ASSERT_TRUE(c.connect(s.host, Native().user, Native().password, "", s.port, "p", true, 0))
        << c.GetLastError();
    EXPECT_EQ(c.net.VioType(), VIO_TYPE_TCPIP);
    EXPECT_FALSE(c.named_pipe);
    EXPECT_EQ(c.unix_socket, "");
    EXPECT_EQ(c.GetLastErrorNo(), 0u);
  }
  host::SetLocalServerSocket(saved);
}

TEST(RealCommands, SimpleCommands) {
  auto c = Open(Native());
  ASSERT_TRUE(c->GetConnected()) << c->GetLastError();
  EXPECT_TRUE(c->ping());
  std::string name = "rowset_wire_cmd_" + std::to_string(getpid());
  // MariaDB no longer takes the create and drop commands: its refusal comes
  // through and the session stays usable.
  EXPECT_FALSE(c->create_db(name));
  EXPECT_EQ(c->GetLastErrorNo(), 1047u);
  EXPECT_FALSE(c->drop_db(name));
  EXPECT_EQ(c->GetLastErrorNo(), 1047u);
  EXPECT_TRUE(c->GetConnected());
  ASSERT_EQ(c->realquery("create database " + name), 0) << c->GetLastError();
  EXPECT_TRUE(c->select_db(name));
  EXPECT_EQ(c->db, name);
  ASSERT_EQ(c->realquery("drop database " + name), 0) << c->GetLastError();
  EXPECT_FALSE(c->select_db(name));
  EXPECT_EQ(c->GetLastErrorNo(), 1049u);
  EXPECT_TRUE(c->refresh(REFRESH_TABLES)) << c->GetLastError();
  EXPECT_TRUE(REF_STATUS(c.get()));
  EXPECT_TRUE(c->dump_debug_info()) << c->GetLastError();
  std::string stat = c->stat();
  EXPECT_EQ(stat.rfind("Uptime: ", 0), 0u) << stat;
  EXPECT_NE(stat.find("Threads: "), std::string::npos);
  EXPECT_EQ(c->realquery("select nonsense from nowhere"), -1);
  EXPECT_EQ(c->GetLastErrorNo(), 1046u);  // no database selected
  EXPECT_TRUE(c->GetConnected());
  EXPECT_EQ(c->realquery("set @x = 1"), 0);
  EXPECT_EQ(One(*c, "select @x"), "1");
}

TEST(RealCommands, ProcessListAndQueries) {
  auto c = Open(Native());
  auto other = Open(Old());
  ASSERT_TRUE(c->GetConnected() && other->GetConnected());
  std::unique_ptr<TMysqlResult> list = c->list_processes();
  ASSERT_NE(list, nullptr) << c->GetLastError();
  EXPECT_EQ(c->status, MYSQL_STATUS_READY);
  EXPECT_GE(list->field_count, 8u);
  int id_column = list->FieldIndexByName("id", false);
  ASSERT_GE(id_column, 0);
  bool seen_other = false;
  for (list->First(); !list->eof; list->Next()) {
    const char* id = list->FieldValue(id_column);
    if (id != nullptr && std::to_string(other->thread_id) == id) seen_other = true;
  }
  EXPECT_TRUE(seen_other);

  bool completed = false;
  auto stored = c->query("select 1 union select 2 union select 3", true, completed);
  EXPECT_TRUE(completed);
  ASSERT_NE(stored, nullptr) << c->GetLastError();
  EXPECT_EQ(stored->row_count, 3u);
  EXPECT_EQ(c->net.buff_size, 8192u);
  auto used = c->query("select 'a' union select 'b'", false, completed);
  ASSERT_NE(used, nullptr) << c->GetLastError();
  EXPECT_EQ(c->status, MYSQL_STATUS_USE_RESULT);
  EXPECT_FALSE(c->ping());
  EXPECT_EQ(c->GetLastErrorNo(), 2014u);
  used.reset();  // drains the rest
  EXPECT_EQ(c->status, MYSQL_STATUS_READY);
  EXPECT_TRUE(c->ping());
  EXPECT_EQ(c->query("set @y = 2", true, completed), nullptr);
  EXPECT_TRUE(completed);
  EXPECT_EQ(c->GetLastErrorNo(), 0u);
}

TEST(RealCommands, PendingResultRefusesCommands) {
  auto c = Open(NoPassword());
  ASSERT_TRUE(c->GetConnected());
  ASSERT_EQ(c->realquery("select 1"), 0);
  EXPECT_EQ(c->status, MYSQL_STATUS_GET_RESULT);
  EXPECT_FALSE(c->ping());
  EXPECT_EQ(c->GetLastErrorNo(), 2014u);
  EXPECT_EQ(c->stat(), "");
  EXPECT_EQ(c->GetLastErrorNo(), 2014u);
  EXPECT_FALSE(c->kill(1));
  EXPECT_EQ(c->GetLastErrorNo(), 2014u);
  c->close();  // a pending result does not stop a close
  EXPECT_FALSE(c->GetConnected());
}

TEST(RealCommands, ChangeUserAndBack) {
  auto c = Open(Native());
  ASSERT_TRUE(c->GetConnected());
  EXPECT_TRUE(c->change_user(Old().user, Old().password, Server().database))
      << c->GetLastError();
  EXPECT_EQ(One(*c, "select current_user()").rfind(Old().user + "@", 0), 0u);
  EXPECT_EQ(One(*c, "select database()"), Server().database);
  EXPECT_EQ(c->user, Old().user);
  EXPECT_TRUE(c->change_user(Native().user, Native().password, "")) << c->GetLastError();
  EXPECT_EQ(One(*c, "select current_user()").rfind(Native().user + "@", 0), 0u);
  EXPECT_TRUE(c->change_user(NoPassword().user, "", "")) << c->GetLastError();
  EXPECT_EQ(One(*c, "select current_user()").rfind(NoPassword().user + "@", 0), 0u);

  EXPECT_FALSE(c->change_user(Native().user, "wrong", ""));
  EXPECT_EQ(c->GetLastErrorNo(), 1045u);
  EXPECT_EQ(c->user, NoPassword().user);  // the old values are back
}

TEST(RealCommands, KillAndReconnect) {
  auto victim = Open(NoPassword());
  auto killer = Open(Native());
  ASSERT_TRUE(victim->GetConnected() && killer->GetConnected());
  const uint32_t id = victim->thread_id;
  EXPECT_TRUE(killer->kill(id)) << killer->GetLastError();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the kill lands
  EXPECT_FALSE(killer->kill(0x7FFFFFF0));
  EXPECT_EQ(killer->GetLastErrorNo(), 1094u);  // unknown thread

  EXPECT_FALSE(victim->ping());
  EXPECT_EQ(victim->GetLastErrorNo(), 2013u);
  EXPECT_FALSE(victim->GetConnected());

  victim->auto_reconnect = true;
  EXPECT_TRUE(victim->ping()) << victim->GetLastError();
  EXPECT_TRUE(victim->GetConnected());
  EXPECT_NE(victim->thread_id, id);
  EXPECT_EQ(One(*victim, "select 7"), "7");
}

TEST(RealCommands, NoReconnectInsideATransaction) {
  auto victim = Open(NoPassword());
  auto killer = Open(Native());
  ASSERT_TRUE(victim->GetConnected() && killer->GetConnected());
  ASSERT_EQ(victim->realquery("start transaction"), 0);
  EXPECT_NE(victim->server_status & SERVER_STATUS_IN_TRANS, 0u);
  EXPECT_TRUE(killer->kill(victim->thread_id));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the kill lands
  victim->auto_reconnect = true;
  EXPECT_EQ(victim->realquery("select 1"), 1);  // the ping fails, no reconnect
  EXPECT_EQ(victim->GetLastErrorNo(), 2013u);
  EXPECT_FALSE(victim->GetConnected());
  EXPECT_EQ(victim->server_status & SERVER_STATUS_IN_TRANS, 0u);
  EXPECT_TRUE(victim->ping()) << victim->GetLastError();  // now it may
}

TEST(RealLocalFile, LargeFileAndLongStatementCompressed) {
  const std::string db = test::FreshDatabase("wire_infile_z");
  auto c = Open(Old(), db, true);
  ASSERT_TRUE(c->GetConnected()) << c->GetLastError();
  ASSERT_TRUE(c->net.compress);
  ASSERT_EQ(c->realquery("create table t (a int, b varchar(40))"), 0) << c->GetLastError();
  std::string path = "/tmp/rowset-infile-z-" + std::to_string(getpid()) + ".txt";
  {
    std::ofstream f(path);
    for (int i = 0; i < 20000; ++i) f << i << "\tvalue number " << i << "\n";
  }
  ASSERT_EQ(c->realquery("load data local infile '" + path + "' into table t"), 0)
      << c->GetLastError();
  EXPECT_EQ(c->affected_rows, 20000u);
  unlink(path.c_str());
  EXPECT_EQ(One(*c, "select count(distinct b) from t"), "20000");
  std::string literal(30000, 'q');
  EXPECT_EQ(One(*c, "select length('" + literal + "')"), "30000");
}

TEST(RealCommands, LockSerialisesThreadsSharingASession) {
  auto c = Open(NoPassword());
  ASSERT_TRUE(c->GetConnected());
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 100; ++i) {
        bool ok = (i + t) % 2 ? c->ping() : !c->stat().empty();
        if (!ok) ++failures;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0) << c->GetLastError();
  EXPECT_TRUE(c->ping());
}

TEST(RealLocalFile, LoadDataLocalRealAndMissingFile) {
  const std::string db = test::FreshDatabase("wire_infile");
  auto c = Open(Native(), db);
  ASSERT_TRUE(c->GetConnected()) << c->GetLastError();
  ASSERT_EQ(c->realquery("create table t (a int, b varchar(20))"), 0) << c->GetLastError();
  std::string path = "/tmp/rowset-infile-" + std::to_string(getpid()) + ".txt";
  {
    std::ofstream f(path);
    f << "1\tone\n2\ttwo\n3\tthree\n";
  }
  ASSERT_EQ(c->realquery("LOAD DATA LOCAL INFILE '" + path + "' INTO TABLE t"), 0)
      << c->GetLastError();
  EXPECT_EQ(c->affected_rows, 3u);
  EXPECT_EQ(Column(*c, "select b from t order by a"),
            (std::vector<std::string>{"one", "two", "three"}));
  unlink(path.c_str());

  EXPECT_EQ(c->realquery("load data local infile '" + path + "' into table t"), -1);
  EXPECT_EQ(c->GetLastErrorNo(), 0u);
  EXPECT_EQ(c->GetLastError(), "File '" + path + "' not found (Errcode: 2)");
  EXPECT_TRUE(c->GetConnected());
  EXPECT_TRUE(c->ping());
  EXPECT_EQ(One(*c, "select count(*) from t"), "3");
}

}  // namespace
}  // namespace rowset
