// The connection pool on the test server: many threads borrowing at once,
// the bounded wait, the reset on return, the health check of idle
// connections and the component's disconnect. Runs on the client library
// and (second CTest entry) on the built-in client.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "components/MySQLConnectionPool.h"
#include "tests/threads/ThreadTestUtil.h"

namespace rowset::test {
namespace {

// The first column of the first row of SQL on a borrowed connection;
// "(null)" for NULL, "(none)" without a row.
std::string Value(TMySQLPooledConnection& C, const std::string& SQL) {
  TMySQLBase* driver = C.Driver();
  MySQLResultHandle result = driver->OpenQuery(C.Handle(), SQL);
  std::string value = "(none)";
  bool first = true;
  while (MySQLRow row = driver->RetrieveRow(result)) {
    if (first) value = row[0] ? std::string(row[0], driver->RetrieveRowFieldLenghts(result)[0]) : "(null)";
    first = false;
  }
  driver->CloseQuery(result);
  return value;
}

class PoolTest : public ThreadTest {
 protected:
  void SetUp() override {
    ThreadTest::SetUp();
    server_->Connect();
  }
};

TEST_F(PoolTest, ManyThreadsShareABoundedSetOfConnections) {
  Sql("CREATE TABLE IF NOT EXISTS pool_hits (thread_no INT, n INT, conn BIGINT);"
      "TRUNCATE pool_hits;");
  TMySQLConnectionPool pool(server_.get());
  pool.SetMaxSize(4);
  pool.SetWaitTimeout(30000);
  constexpr int kThreads = 12, kRounds = 25;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      try {
        for (int n = 0; n < kRounds; ++n) {
          TMySQLPooledConnection c = pool.Acquire();
          c.ExecSQL("INSERT INTO pool_hits VALUES (" + std::to_string(t) + "," +
                    std::to_string(n) + ", CONNECTION_ID())");
        }
      } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
        ++failures;
      }
      server_->GetDriver()->ThreadEnd();
    });
  }
  for (auto& th : threads) th.join();
  ASSERT_EQ(failures.load(), 0);

  TMySQLPoolStatistics s = pool.Statistics();
  EXPECT_EQ(s.InUse, 0);
  EXPECT_LE(s.Created, 4u);
  EXPECT_EQ(s.Idle, static_cast<int32_t>(s.Created));
  EXPECT_EQ(s.Acquired, static_cast<uint64_t>(kThreads * kRounds));
  EXPECT_EQ(s.Failed, 0u);
  EXPECT_GT(s.Waits, 0u);  // 12 threads over 4 connections wait at times
  EXPECT_EQ(Read("SELECT COUNT(*), COUNT(DISTINCT thread_no, n) FROM pool_hits"),
            std::to_string(kThreads * kRounds) + "\t" + std::to_string(kThreads * kRounds));
  // Every row came through one of the pool's few connections.
  EXPECT_LE(std::stoi(Read("SELECT COUNT(DISTINCT conn) FROM pool_hits")), 4);
}

TEST_F(PoolTest, AFullPoolEndsTheWaitWithATypedError) {
  TMySQLConnectionPool pool(server_.get());
  pool.SetMaxSize(1);
  pool.SetWaitTimeout(300);
  TMySQLPooledConnection held = pool.Acquire();
  const auto start = std::chrono::steady_clock::now();
  try {
    TMySQLPooledConnection second = pool.Acquire();
    FAIL() << "a second connection was lent from a pool of one";
  } catch (const EMySQLPoolExhausted& e) {
    EXPECT_GE(e.WaitedMs(), 300);
    EXPECT_EQ(std::string(e.what()), "pool exhausted after " + std::to_string(e.WaitedMs()) + " ms");
    EXPECT_EQ(e.ErrorCode(), -1);
  }
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
  TMySQLPoolStatistics s = pool.Statistics();
  EXPECT_EQ(s.TimedOut, 1u);
  EXPECT_EQ(s.InUse, 1);

  // A waiter gets the connection as soon as it comes back.
  std::thread giver([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    held.Release();
  });
  pool.SetWaitTimeout(20000);
  TMySQLPooledConnection again = pool.Acquire();
  giver.join();
  EXPECT_EQ(Value(again, "SELECT 1"), "1");
  EXPECT_EQ(pool.Statistics().Created, 1u);
}

TEST_F(PoolTest, AReturnedConnectionComesBackWithAFreshSession) {
  TMySQLConnectionPool pool(server_.get());
  pool.SetMaxSize(1);
  std::string id, charset, collation;
  {
    TMySQLPooledConnection c = pool.Acquire();
    id = Value(c, "SELECT CONNECTION_ID()");
    charset = Value(c, "SELECT @@character_set_client");
    collation = Value(c, "SELECT @@collation_connection");
    c.ExecSQL("SET @pool_marker = 42");
    c.ExecSQL("SET SESSION sql_mode = 'NO_BACKSLASH_ESCAPES'");
    c.ExecSQL("CREATE TEMPORARY TABLE pool_tmp (a INT)");
    c.ExecSQL("SET NAMES latin1");
    c.ExecSQL("CREATE DATABASE IF NOT EXISTS `" + Database() + "_other`");
    c.ExecSQL("USE `" + Database() + "_other`");
    c.ExecSQL("START TRANSACTION");
    c.ExecSQL("CREATE TABLE IF NOT EXISTS `" + Database() + "`.pool_tx (a INT) ENGINE=InnoDB");
  }
  TMySQLPooledConnection c = pool.Acquire();
  // The same connection, reused.
  EXPECT_EQ(Value(c, "SELECT CONNECTION_ID()"), id);
  EXPECT_EQ(Value(c, "SELECT @pool_marker"), "(null)");
  EXPECT_EQ(Value(c, "SELECT @@SESSION.sql_mode = @@GLOBAL.sql_mode"), "1");
  EXPECT_THROW(c.ExecSQL("SELECT * FROM pool_tmp"), EMySQLError);
  EXPECT_EQ(Value(c, "SELECT @@character_set_client"), charset);
  EXPECT_EQ(Value(c, "SELECT @@collation_connection"), collation);
  EXPECT_EQ(Value(c, "SELECT DATABASE()"), Database());
  EXPECT_EQ(Value(c, "SELECT @@in_transaction"), "0");
  c.ExecSQL("DROP DATABASE IF EXISTS `" + Database() + "_other`");
  EXPECT_EQ(pool.Statistics().Created, 1u);
}

// A return selects the pool's database again only when the borrower may
// have chosen another; every way a borrower can choose one is noticed.
TEST_F(PoolTest, EveryWayOfChoosingAnotherDatabaseIsUndoneOnReturn) {
  const std::string other = Database() + "_elsewhere";
  RootSql("CREATE DATABASE IF NOT EXISTS `" + other + "`;");
  Sql("DROP PROCEDURE IF EXISTS pool_use;"
      "CREATE PROCEDURE pool_use(db VARCHAR(64)) "
      "EXECUTE IMMEDIATE CONCAT('U', 'SE `', db, '`');");
  TMySQLConnectionPool pool(server_.get());
  pool.SetMaxSize(1);
  const std::vector<std::function<void(TMySQLPooledConnection&)>> ways = {
      [&](TMySQLPooledConnection& c) { c.ExecSQL("use `" + other + "`"); },
      [&](TMySQLPooledConnection& c) { c.ExecSQL("/*!40000 UsE `" + other + "` */"); },
      [&](TMySQLPooledConnection& c) { c.Driver()->SelectDatabase(c.Handle(), other); },
      // Built at run time: the text never has the word.
      [&](TMySQLPooledConnection& c) {
        c.ExecSQL("EXECUTE IMMEDIATE CONCAT('U', 'SE `" + other + "`')");
      },
      [&](TMySQLPooledConnection& c) { c.ExecSQL("CALL `" + Database() + "`.pool_use('" + other + "')"); },
      [&](TMySQLPooledConnection& c) {
        c.ExecSQL("SET SESSION session_track_schema = OFF");
        c.ExecSQL("USE `" + other + "`");
      },
      [&](TMySQLPooledConnection& c) {
        c.ExecSQL("PREPARE pool_s FROM CONCAT('U', 'SE `" + other + "`')");
        c.ExecSQL("EXECUTE pool_s");
      },
  };
  for (size_t i = 0; i < ways.size(); ++i) {
    {
      TMySQLPooledConnection c = pool.Acquire();
      ASSERT_EQ(Value(c, "SELECT DATABASE()"), Database()) << "before way " << i;
      ways[i](c);
      ASSERT_EQ(Value(c, "SELECT DATABASE()"), other) << "way " << i;
    }
    TMySQLPooledConnection c = pool.Acquire();
    EXPECT_EQ(Value(c, "SELECT DATABASE()"), Database()) << "after way " << i;
  }
  // Borrowers that leave the database alone keep the connection lent again.
  for (int i = 0; i < 3; ++i) {
    TMySQLPooledConnection c = pool.Acquire();
    c.ExecSQL("SELECT 1");
  }
  EXPECT_EQ(pool.Statistics().Created, 1u);
  EXPECT_EQ(pool.Statistics().Dropped, 0u);
  RootSql("DROP DATABASE IF EXISTS `" + other + "`;");
}

// A pool whose component names no database cannot give a session "no
// database" again: a borrower that may have chosen one costs the connection.
TEST_F(PoolTest, APoolWithoutADatabaseClosesAConnectionGivenOne) {
  std::unique_ptr<TMySQLServer> bare = NewServer();
  bare->SetDatabaseName("");
  bare->Connect();
  TMySQLConnectionPool pool(bare.get());
  pool.SetMaxSize(1);
  {
    TMySQLPooledConnection c = pool.Acquire();
    c.ExecSQL("SELECT 1");
  }
  {
    TMySQLPooledConnection c = pool.Acquire();
    EXPECT_EQ(Value(c, "SELECT DATABASE()"), "(null)");
    c.ExecSQL("USE `" + Database() + "`");
  }
  {
    TMySQLPooledConnection c = pool.Acquire();
    EXPECT_EQ(Value(c, "SELECT DATABASE()"), "(null)");
  }
  EXPECT_EQ(pool.Statistics().Created, 2u);
  pool.Clear();
  bare->Close();
}

TEST_F(PoolTest, AKilledIdleConnectionIsReplacedBeforeItIsLent) {
  TMySQLConnectionPool pool(server_.get());
  pool.SetMaxSize(2);
  pool.SetIdleCheckTime(50);
  std::string id;
  {
    TMySQLPooledConnection c = pool.Acquire();
    id = Value(c, "SELECT CONNECTION_ID()");
  }
  RootSql("KILL " + id + ";");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  TMySQLPooledConnection c = pool.Acquire();
  EXPECT_NE(Value(c, "SELECT CONNECTION_ID()"), id);
  EXPECT_EQ(Value(c, "SELECT 2"), "2");
  TMySQLPoolStatistics s = pool.Statistics();
  EXPECT_EQ(s.Dropped, 1u);
  EXPECT_EQ(s.Created, 2u);
  EXPECT_EQ(s.InUse, 1);
  EXPECT_EQ(s.Idle, 0);
}

TEST_F(PoolTest, ADiscardedConnectionFreesItsPlace) {
  TMySQLConnectionPool pool(server_.get());
  pool.SetMaxSize(1);
  pool.SetWaitTimeout(0);
  std::string id;
  {
    TMySQLPooledConnection c = pool.Acquire();
    id = Value(c, "SELECT CONNECTION_ID()");
    c.Discard();
    EXPECT_FALSE(c);
  }
  TMySQLPooledConnection c = pool.Acquire();
  EXPECT_NE(Value(c, "SELECT CONNECTION_ID()"), id);
  EXPECT_EQ(pool.Statistics().Created, 2u);
}

TEST_F(PoolTest, ADisconnectClosesIdleConnectionsAndRetiresLentOnes) {
  TMySQLConnectionPool pool(server_.get());
  pool.SetMaxSize(3);
  TMySQLPooledConnection lent = pool.Acquire();
  { TMySQLPooledConnection idle = pool.Acquire(); }
  EXPECT_EQ(pool.Statistics().Idle, 1);
  server_->Disconnect();
  EXPECT_EQ(pool.Statistics().Idle, 0);
  lent.Release();  // its connection belongs to the old session of the component
  EXPECT_EQ(pool.Statistics().Idle, 0);
  EXPECT_EQ(pool.Statistics().InUse, 0);
  // The next borrow on the main thread connects the component again.
  TMySQLPooledConnection c = pool.Acquire();
  EXPECT_TRUE(server_->GetConnected());
  EXPECT_EQ(Value(c, "SELECT 3"), "3");
}

TEST_F(PoolTest, AWorkerThreadBorrowsWithoutConnectingTheComponent) {
  TMySQLConnectionPool pool(server_.get());
  server_->Disconnect();
  std::string message;
  std::thread worker([&] {
    try {
      pool.Acquire();
    } catch (const EMySQLError& e) {
      message = e.what();
    }
  });
  worker.join();
  EXPECT_EQ(message, "The connection component is not connected");
  EXPECT_FALSE(server_->GetConnected());
}

// A worker of the worker-thread API that borrows for its task.
class PoolWorker : public TMySQLThread {
 public:
  PoolWorker(TMySQLConnectionPool* Pool, int No)
      : TMySQLThread(kMySQLThreadSettings, 0, false), pool_(Pool), no_(No) {
    thread_driver_ = Pool->Server()->GetDriver();
  }
  ~PoolWorker() override { TerminateAndWait(); }

 protected:
  bool GetEvent() override {
    TMySQLPooledConnection c = pool_->Acquire();
    c.ExecSQL("INSERT INTO pool_workers VALUES (" + std::to_string(no_) + ")");
    SetStatus(MYSQL_THREAD_FINISHED);
    return true;
  }

 private:
  TMySQLConnectionPool* pool_;
  int no_;
};

TEST_F(PoolTest, WorkerThreadsBorrowFromThePool) {
  Sql("CREATE TABLE IF NOT EXISTS pool_workers (no INT); TRUNCATE pool_workers;");
  TMySQLConnectionPool pool(server_.get());
  pool.SetMaxSize(2);
  pool.SetWaitTimeout(30000);
  std::vector<std::unique_ptr<PoolWorker>> workers;
  for (int i = 0; i < 6; ++i) {
    workers.push_back(std::make_unique<PoolWorker>(&pool, i));
    workers.back()->ThreadExecute();
  }
  for (auto& w : workers) {
    w->WaitFor();
    EXPECT_EQ(w->Failure(), nullptr);
  }
  workers.clear();
  EXPECT_EQ(Read("SELECT COUNT(DISTINCT no) FROM pool_workers"), "6");
  EXPECT_LE(pool.Statistics().Created, 2u);
}

}  // namespace
}  // namespace rowset::test
