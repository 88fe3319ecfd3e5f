// Against real replicated servers (scripts/cluster.sh): a three-node Galera
// cluster loses a node to kill -9 while several threads post datasets and
// one reads; then the node rejoins. And a primary with a GTID replica,
// where a read-only dataset reads from the replica.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "components/MySQLConnectionPool.h"
#include "components/MySQLDataset.h"
#include "components/MySQLServer.h"
#include "tests/common/TestServer.h"

namespace rowset::test {
namespace {

using Clock = std::chrono::steady_clock;

// The cluster's description, from the file named by ROWSET_CLUSTER_ENV.
std::map<std::string, std::string> ClusterEnv() {
  std::map<std::string, std::string> vars;
  const char* file = std::getenv("ROWSET_CLUSTER_ENV");
  if (file == nullptr) {
    ADD_FAILURE() << "ROWSET_CLUSTER_ENV is not set (scripts/cluster.sh start DIR)";
    return vars;
  }
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) vars[line.substr(0, eq)] = line.substr(eq + 1);
  }
  if (vars.empty()) ADD_FAILURE() << "no cluster described in " << file;
  return vars;
}

std::string Shell(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int status = pclose(p);
  EXPECT_EQ(status, 0) << command << "\n" << out;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

class ClusterTest : public ::testing::Test {
 protected:
  void SetUp() override { env_ = ClusterEnv(); }

  // SQL as root on the server whose directory under the cluster's is Name.
  std::string Root(const std::string& Name, const std::string& SQL) {
    return Shell(env_["ROWSET_CLUSTER_CLIENT"] + " -S " + env_["ROWSET_CLUSTER_DIR"] + "/" + Name +
                 "/mysqld.sock -N -B " + env_["ROWSET_CLUSTER_DATABASE"] + " -e \"" + SQL +
                 "\" 2>&1");
  }
  void Cluster(const std::string& Verb, int Node) {
    Shell(env_["ROWSET_CLUSTER_SCRIPT"] + " " + Verb + " " + env_["ROWSET_CLUSTER_DIR"] + " " +
          std::to_string(Node) + " 2>&1");
  }
  std::unique_ptr<TMySQLServer> Component(const std::string& Hosts, TMySQLHostMode Mode) {
    auto server = std::make_unique<TMySQLServer>();
    server->SetDriverType(dtLibrary);
    server->SetHost(Hosts);
    server->SetHostMode(Mode);
    server->SetUserName(env_["ROWSET_CLUSTER_USER"]);
    server->SetPassword("");
    server->SetDatabaseName(env_["ROWSET_CLUSTER_DATABASE"]);
    return server;
  }

  std::map<std::string, std::string> env_;
};

// One writer's record: what was acknowledged, what raised, and when the
// first post after the kill went through.
struct Writer {
  std::vector<int> acked;
  std::vector<int> raised;
  int acked_after_kill = 0;
  Clock::time_point first_after_failure{};
  bool failed_after_kill = false;
};

TEST_F(ClusterTest, AKilledGaleraNodeLosesNoAcknowledgedPostAndRejoins) {
  Root("node2", "DROP TABLE IF EXISTS posts; CREATE TABLE posts (id BIGINT AUTO_INCREMENT "
                "PRIMARY KEY, writer INT NOT NULL, n INT NOT NULL, note VARCHAR(40)) ENGINE=InnoDB");
  const std::string nodes = env_["ROWSET_CLUSTER_NODES"];
  constexpr int kWriters = 4;
  std::atomic<bool> stop{false};
  std::atomic<bool> killed{false};
  std::atomic<int> reads_after_kill{0};
  Clock::time_point kill_time;
  std::vector<Writer> writers(kWriters);
  std::vector<std::thread> threads;

  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      Writer& me = writers[w];
      auto server = Component(nodes, hmLoadBalance);
      server->SetDenyTime(60000);
      TMySQLDataset ds;
      ds.SetServer(server.get());
      ds.SQL()->SetText("select id, writer, n, note from posts where 1 = 0");
      bool ready = false;
      for (int n = 0; !stop; ++n) {
        try {
          if (!ready) {
            ds.Close();
            server->Disconnect();
            server->Connect();
            ds.Open();
            ready = true;
          }
          ds.Append();
          ds.FieldByName("writer")->SetAsInteger(w);
          ds.FieldByName("n")->SetAsInteger(n);
          ds.FieldByName("note")->SetAsString("post " + std::to_string(n));
          ds.Post();
          me.acked.push_back(n);
          if (killed) {
            ++me.acked_after_kill;
            if (me.failed_after_kill && me.first_after_failure == Clock::time_point{})
              me.first_after_failure = Clock::now();
          }
        } catch (const std::exception&) {
          me.raised.push_back(n);
          if (killed) me.failed_after_kill = true;
          try {
            ds.Cancel();
          } catch (...) {
          }
          ready = false;
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
      }
      try {
        ds.Close();
        server->Disconnect();
      } catch (...) {
      }
      server->GetDriver()->ThreadEnd();
    });
  }
  threads.emplace_back([&] {
    auto server = Component(nodes, hmSequential);
    server->SetDenyTime(60000);
    while (!stop) {
      try {
        if (!server->GetConnected()) server->Connect();
        if (server->ExecSQL("SELECT COUNT(*) FROM posts") && killed) ++reads_after_kill;
      } catch (const std::exception&) {
        try {
          server->Disconnect();
        } catch (...) {
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    server->Disconnect();
    server->GetDriver()->ThreadEnd();
  });

  std::this_thread::sleep_for(std::chrono::seconds(2));
  kill_time = Clock::now();
  killed = true;
  Cluster("kill", 1);
  std::this_thread::sleep_for(std::chrono::seconds(8));
  Cluster("restart", 1);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  stop = true;
  for (auto& t : threads) t.join();

  // Every acknowledged post is on every node exactly once; one that raised
  // is there at most once; nothing is doubled.
  for (const char* node : {"node1", "node2", "node3"}) {
    SCOPED_TRACE(node);
    EXPECT_EQ(Root(node, "SET SESSION wsrep_sync_wait = 1; "
                         "SELECT COUNT(*) - COUNT(DISTINCT writer, n) FROM posts"),
              "0");
    for (int w = 0; w < kWriters; ++w) {
      std::set<int> present;
      std::string rows = Root(node, "SET SESSION wsrep_sync_wait = 1; SELECT n FROM posts WHERE writer = " +
                                        std::to_string(w));
      size_t start = 0;
      while (start < rows.size()) {
        size_t end = rows.find('\n', start);
        if (end == std::string::npos) end = rows.size();
        present.insert(std::stoi(rows.substr(start, end - start)));
        start = end + 1;
      }
      for (int n : writers[w].acked) EXPECT_EQ(present.count(n), 1u) << "writer " << w << " post " << n;
      size_t unacked_present = 0;
      for (int n : writers[w].raised) unacked_present += present.count(n);
      EXPECT_EQ(present.size(), writers[w].acked.size() + unacked_present);
    }
  }
  double worst_ms = 0;
  int hit = 0;
  for (int w = 0; w < kWriters; ++w) {
    SCOPED_TRACE("writer " + std::to_string(w));
    EXPECT_GT(writers[w].acked_after_kill, 0);  // writing went on after the kill
    if (writers[w].failed_after_kill) {
      ++hit;
      ASSERT_NE(writers[w].first_after_failure, Clock::time_point{});
      worst_ms = std::max(worst_ms, std::chrono::duration<double, std::milli>(
                                        writers[w].first_after_failure - kill_time).count());
    }
  }
  EXPECT_GT(reads_after_kill.load(), 0);
  int acked = 0, raised = 0;
  for (auto& w : writers) acked += static_cast<int>(w.acked.size()), raised += static_cast<int>(w.raised.size());
  std::printf("cluster: %d posts acknowledged, %d raised; %d of %d writers were on the killed node; "
              "slowest kill-to-next-post %.0f ms; %d reads after the kill\n",
              acked, raised, hit, kWriters, worst_ms, reads_after_kill.load());
  // The rejoined node serves again.
  EXPECT_EQ(Root("node1", "SHOW GLOBAL STATUS LIKE 'wsrep_local_state'"), "wsrep_local_state\t4");
}

// A pooled connection to a Galera node keeps the causal reads the component
// set, lent after lent: the reset on return takes them away, the pool sets
// them again.
TEST_F(ClusterTest, PooledConnectionsKeepCausalReadsAfterAReturn) {
  auto server = Component(env_["ROWSET_CLUSTER_NODES"], hmSequential);
  server->SetCausalReads(true);
  server->Connect();
  TMySQLConnectionPool pool(server.get());
  pool.SetMaxSize(1);
  for (int lent = 0; lent < 3; ++lent) {
    TMySQLPooledConnection c = pool.Acquire();
    MySQLResultHandle result = c.Driver()->OpenQuery(c.Handle(), "SELECT @@SESSION.wsrep_sync_wait");
    MySQLRow row = c.Driver()->RetrieveRow(result);
    ASSERT_NE(row, nullptr);
    EXPECT_STREQ(row[0], "1") << "lent " << lent;
    while (c.Driver()->RetrieveRow(result) != nullptr) {
    }
    c.Driver()->CloseQuery(result);
    c.ExecSQL("SET SESSION wsrep_sync_wait = 0");
  }
  EXPECT_EQ(pool.Statistics().Created, 1u);
  pool.Clear();
  server->Disconnect();
}

TEST_F(ClusterTest, ReadOnlyDatasetsReadFromTheReplica) {
  const std::string hosts = env_["ROWSET_CLUSTER_PRIMARY"] + "," + env_["ROWSET_CLUSTER_REPLICA"];
  auto server = Component(hosts, hmReplication);
  server->Connect();
  EXPECT_EQ(server->ConnectedHost(), env_["ROWSET_CLUSTER_PRIMARY"]);
  server->ExecSQL("DROP TABLE IF EXISTS rep");
  server->ExecSQL("CREATE TABLE rep (id INT PRIMARY KEY, v VARCHAR(10)) ENGINE=InnoDB");
  server->ExecSQL("INSERT INTO rep VALUES (1, 'one')");

  TMySQLDataset reader;
  reader.SetServer(server.get());
  reader.SetOptions(reader.Options() - TMySQLDatasetOptions{doShareConnection});
  reader.SetReadOnly(true);
  reader.SQL()->SetText("select @@server_id as sid, (select count(*) from rep) as c");
  std::string count;
  for (int i = 0; i < 100 && count != "1"; ++i) {
    reader.Open();
    EXPECT_EQ(reader.FieldByName("sid")->AsString(), "2");  // the replica's server id
    count = reader.FieldByName("c")->AsString();
    reader.Close();
    if (count != "1") std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(count, "1");

  // A dataset that edits reads and writes on the primary.
  TMySQLDataset writer;
  writer.SetServer(server.get());
  writer.SetOptions(writer.Options() - TMySQLDatasetOptions{doShareConnection});
  writer.SQL()->SetText("select id, v from rep");
  writer.Open();
  writer.Edit();
  writer.FieldByName("v")->SetAsString("uno");
  writer.Post();
  writer.Close();
  EXPECT_EQ(Root("primary", "SELECT v FROM rep"), "uno");
  server->Disconnect();
}

}  // namespace
}  // namespace rowset::test
