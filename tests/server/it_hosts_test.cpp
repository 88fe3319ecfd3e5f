// Host lists on the connection component: sequential, load-balanced and
// replication use, the skip list of failed hosts, reconnecting after a lost
// connection, the typed loss of a transaction and the retryable flag of
// deadlocks. Every host is a loopback proxy in front of the one real test
// server, so that a test can cut a "host" while the server stays up.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "components/MySQLConnectionPool.h"
#include "components/MySQLServer.h"
#include "tests/common/LoopbackProxy.h"
#include "tests/server/ServerTestUtil.h"

namespace rowset::test {
namespace {

class HostsTest : public ::testing::TestWithParam<TMySQLDriverType> {
 protected:
  static void SetUpTestSuite() { database_ = new std::string(FreshDatabase("hosts")); }
  static void TearDownTestSuite() {
    RootSql("DROP DATABASE IF EXISTS `" + *database_ + "`;");
    delete database_;
    database_ = nullptr;
  }

  void SetUp() override {
    for (int i = 0; i < 3; ++i)
      proxies_.push_back(std::make_unique<LoopbackProxy>(Server().host, Server().port));
    server_ = TestComponent(GetParam());
    server_->SetDatabaseName(*database_);
  }
  void TearDown() override {
    if (server_) server_->Close();
  }

  std::string Address(int i) const { return "127.0.0.1:" + std::to_string(proxies_[i]->port()); }
  std::string List(int n) const {
    std::string list;
    for (int i = 0; i < n; ++i) list += (i ? "," : "") + Address(i);
    return list;
  }
  // The proxy refuses every connection: open ones are cut, new ones too.
  void Cut(int i) { proxies_[i]->DropAfter(0); }
  void Mend(int i) { proxies_[i]->DropAfter(-1); }

  static std::string Read(const std::string& sql) {
    std::string out = RootSql("USE `" + *database_ + "`; " + sql);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
  }

  std::vector<std::unique_ptr<LoopbackProxy>> proxies_;
  std::unique_ptr<TMySQLServer> server_;
  static inline std::string* database_ = nullptr;
};

TEST_P(HostsTest, SequentialTakesTheFirstHostThatAnswersAndSkipsAFailedOne) {
  server_->SetHost(List(2));
  server_->Connect();
  EXPECT_EQ(server_->ConnectedHost(), Address(0));
  server_->Disconnect();

  Cut(0);
  server_->Connect();
  EXPECT_EQ(server_->ConnectedHost(), Address(1));
  EXPECT_EQ(Scalar(*server_, "SELECT 1"), "1");
  EXPECT_TRUE(server_->HostDenied(Address(0)));
  server_->Disconnect();

  // Mended, but still skipped for the deny time.
  Mend(0);
  const int accepted = proxies_[0]->Accepted();
  server_->Connect();
  EXPECT_EQ(server_->ConnectedHost(), Address(1));
  EXPECT_EQ(proxies_[0]->Accepted(), accepted);
  server_->Disconnect();

  // Without a deny time the first host is first again.
  server_->SetDenyTime(0);
  server_->Connect();
  EXPECT_EQ(server_->ConnectedHost(), Address(0));
}

TEST_P(HostsTest, EverySkippedHostIsTriedBeforeTheConnectFails) {
  server_->SetHost(List(2));
  Cut(0);
  Cut(1);
  EXPECT_THROW(server_->Connect(), EMySQLError);
  EXPECT_FALSE(server_->GetConnected());
  // Both skipped now; one comes back and is found all the same.
  Mend(1);
  server_->Connect();
  EXPECT_EQ(server_->ConnectedHost(), Address(1));
}

TEST_P(HostsTest, LoadBalanceSpreadsConnects) {
  server_->SetHost(List(3));
  server_->SetHostMode(hmLoadBalance);
  server_->Connect();
  std::vector<MySQLHandle> handles;
  for (int i = 0; i < 5; ++i) handles.push_back(server_->AllocConnection());
  std::vector<int> per_host(3, 0);
  for (MySQLHandle h : handles) {
    const std::string host = server_->HostOf(h);
    for (int i = 0; i < 3; ++i) per_host[i] += host == Address(i);
  }
  per_host[0] += server_->ConnectedHost() == Address(0);
  per_host[1] += server_->ConnectedHost() == Address(1);
  per_host[2] += server_->ConnectedHost() == Address(2);
  EXPECT_EQ(per_host, (std::vector<int>{2, 2, 2}));
  for (MySQLHandle& h : handles) server_->FreeConnection(h);
}

TEST_P(HostsTest, ReplicationWritesToThePrimaryAndReadsFromReplicas) {
  server_->SetHost(List(3));
  server_->SetHostMode(hmReplication);
  server_->Connect();
  EXPECT_EQ(server_->ConnectedHost(), Address(0));
  MySQLHandle write = server_->AllocConnection();
  MySQLHandle read1 = server_->AllocConnection(true);
  MySQLHandle read2 = server_->AllocConnection(true);
  EXPECT_EQ(server_->HostOf(write), Address(0));
  EXPECT_NE(server_->HostOf(read1), Address(0));
  EXPECT_NE(server_->HostOf(read2), Address(0));
  EXPECT_NE(server_->HostOf(read1), server_->HostOf(read2));
  server_->FreeConnection(write);
  server_->FreeConnection(read1);
  server_->FreeConnection(read2);

  // A read-only pool borrows replica connections.
  {
    TMySQLConnectionPool pool(server_.get());
    pool.SetReadOnly(true);
    TMySQLPooledConnection c = pool.Acquire();
    EXPECT_NE(server_->HostOf(c.Handle()), Address(0));
  }

  // No replica answers: reads go to the primary; a write never goes to a
  // replica, even with the primary down.
  Cut(1);
  Cut(2);
  MySQLHandle fallback = server_->AllocConnection(true);
  EXPECT_EQ(server_->HostOf(fallback), Address(0));
  server_->FreeConnection(fallback);
  Mend(1);
  Mend(2);
  server_->SetDenyTime(0);
  Cut(0);
  EXPECT_THROW(server_->AllocConnection(), EMySQLError);
}

TEST_P(HostsTest, ALostConnectionOutsideATransactionMovesToTheNextHost) {
  RootSql("DROP TABLE IF EXISTS `" + *database_ + "`.moved; CREATE TABLE `" + *database_ + "`.moved (a INT);");
  server_->SetHost(List(2));
  server_->Connect();
  ASSERT_EQ(server_->ConnectedHost(), Address(0));
  Cut(0);
  // A read is run again on the next host.
  EXPECT_TRUE(server_->ExecSQL("SELECT 1"));
  EXPECT_EQ(server_->ConnectedHost(), Address(1));
  EXPECT_EQ(Scalar(*server_, "SELECT 2"), "2");

  // A write is not: it may have been carried out before the cut. Its error
  // is raised; the component is on the next host already.
  Mend(0);
  server_->SetDenyTime(0);
  Cut(1);
  try {
    server_->ExecSQL("INSERT INTO moved VALUES (1)");
    ADD_FAILURE() << "a write on a cut connection was reported done";
  } catch (const EMySQLTransactionLost&) {
    ADD_FAILURE() << "no transaction was open";
  } catch (const EMySQLError& e) {
    EXPECT_TRUE(e.ErrorCode() == 2006 || e.ErrorCode() == 2013 || e.ErrorCode() == 2055)
        << e.what();
  }
  EXPECT_EQ(server_->ConnectedHost(), Address(0));
  // Carried out at most once (the cut may have come after the server ran
  // it), never twice.
  const int before = std::stoi(Read("SELECT COUNT(*) FROM moved"));
  EXPECT_LE(before, 1);
  EXPECT_TRUE(server_->ExecSQL("INSERT INTO moved VALUES (2)"));
  EXPECT_EQ(Read("SELECT COUNT(*) FROM moved WHERE a = 2"), "1");
  EXPECT_EQ(std::stoi(Read("SELECT COUNT(*) FROM moved")), before + 1);
}

TEST_P(HostsTest, ALostConnectionInsideATransactionRaisesTransactionLost) {
  RootSql("DROP TABLE IF EXISTS `" + *database_ + "`.lost_tx; CREATE TABLE `" + *database_ + "`.lost_tx (a INT) ENGINE=InnoDB;");
  server_->SetHost(List(2));
  server_->Connect();
  server_->ExecSQL("START TRANSACTION");
  server_->ExecSQL("INSERT INTO lost_tx VALUES (1)");
  Cut(0);
  try {
    server_->ExecSQL("INSERT INTO lost_tx VALUES (2)");
    ADD_FAILURE() << "a statement on a cut connection was reported done";
  } catch (const EMySQLTransactionLost& e) {
    EXPECT_EQ(e.SqlState(), "25S03");
    EXPECT_FALSE(e.Retryable());
    EXPECT_EQ(std::string(e.what()).rfind("Transaction lost: ", 0), 0u) << e.what();
  }
  // Nothing of the transaction reached the table, nothing was replayed on
  // the next host; the component works there, outside any transaction.
  EXPECT_EQ(server_->ConnectedHost(), Address(1));
  EXPECT_EQ(Read("SELECT COUNT(*) FROM lost_tx"), "0");
  EXPECT_EQ(Scalar(*server_, "SELECT @@in_transaction"), "0");
  server_->ExecSQL("INSERT INTO lost_tx VALUES (3)");
  EXPECT_EQ(Read("SELECT COUNT(*) FROM lost_tx"), "1");
}

TEST_P(HostsTest, ACommittedTransactionIsNotReportedLost) {
  RootSql("DROP TABLE IF EXISTS `" + *database_ + "`.done_tx; CREATE TABLE `" + *database_ + "`.done_tx (a INT) ENGINE=InnoDB;");
  server_->SetHost(List(2));
  server_->Connect();
  server_->ExecSQL("START TRANSACTION");
  server_->ExecSQL("INSERT INTO done_tx VALUES (1)");
  server_->ExecSQL("COMMIT");
  Cut(0);
  EXPECT_TRUE(server_->ExecSQL("SELECT 1"));
  EXPECT_EQ(Read("SELECT COUNT(*) FROM done_tx"), "1");
}

TEST_P(HostsTest, AGaleraCheckLeavesAServerWithoutWsrepInUse) {
  // The test server runs without wsrep: the node check lets it through,
  // and causal reads set nothing there.
  server_->SetHost(List(2));
  server_->SetCausalReads(true);
  server_->Connect();
  EXPECT_EQ(Scalar(*server_, "SELECT @@wsrep_on"), "0");
  EXPECT_EQ(Scalar(*server_, "SELECT @@SESSION.wsrep_sync_wait"), "0");
}

TEST_P(HostsTest, AHostListWithABadPortIsRefused) {
  server_->SetHost("127.0.0.1:99999,127.0.0.1");
  EXPECT_THROW(server_->Connect(), EMySQLError);
  server_->SetHost(" , ");
  EXPECT_THROW(server_->Connect(), EMySQLError);
}

TEST_P(HostsTest, ADeadlockIsRetryable) {
  RootSql("CREATE TABLE IF NOT EXISTS `" + *database_ +
          "`.dl (id INT PRIMARY KEY, v INT) ENGINE=InnoDB;"
          "REPLACE INTO `" + *database_ + "`.dl VALUES (1, 0), (2, 0);");
  auto other = TestComponent(GetParam());
  other->SetDatabaseName(*database_);
  server_->Connect();
  other->Connect();
  server_->ExecSQL("START TRANSACTION");
  other->ExecSQL("START TRANSACTION");
  server_->ExecSQL("UPDATE dl SET v = 1 WHERE id = 1");
  other->ExecSQL("UPDATE dl SET v = 2 WHERE id = 2");
  int retryable = 0;
  std::thread second([&] {
    try {
      other->ExecSQL("UPDATE dl SET v = 2 WHERE id = 1");
    } catch (const EMySQLError& e) {
      retryable += e.Retryable() && e.ErrorCode() == 1213;
    }
    other->GetDriver()->ThreadEnd();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  try {
    server_->ExecSQL("UPDATE dl SET v = 1 WHERE id = 2");
  } catch (const EMySQLError& e) {
    retryable += e.Retryable() && e.ErrorCode() == 1213;
  }
  second.join();
  EXPECT_EQ(retryable, 1);
  server_->ExecSQL("ROLLBACK");
  other->ExecSQL("ROLLBACK");
  other->Close();
}

INSTANTIATE_TEST_SUITE_P(Drivers, HostsTest, ::testing::Values(dtLibrary, dtDirect),
                         [](const auto& info) {
                           return std::string(info.param == dtLibrary ? "library" : "direct");
                         });

}  // namespace
}  // namespace rowset::test
