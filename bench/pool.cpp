// Sessions per second with and without the connection pool.
//
// A session is one connection's worth of work: one short statement
// ("SELECT 1"). Sessions run on P threads at once until N have run (default
// 10,000 sessions, 100 in parallel). Unpooled, each session opens a
// connection over TCP (driver Open), runs the statement and closes it;
// pooled, each borrows a connection from a TMySQLConnectionPool of P
// connections, runs the statement and gives it back (reset, character set
// set again). Both through the same driver in the same run; prints both
// rates and the ratio pooled / unpooled (target >= 3 on TCP).
//
// Rounds (default 5) interleave the two, each pooled round with a new pool
// whose connects count in its time; prints the medians and the client CPU
// per session.
//
// Usage: bench_pool [sessions [parallel [direct|library [rounds]]]]: with
// "direct" the built-in client is used instead of libmariadb. The server is the one named
// by ROWSET_TEST_SERVER_ENV (scripts/testserver.sh start DIR).
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench/Measure.h"
#include "components/MySQLConnectionPool.h"
#include "tests/common/TestServer.h"

namespace {

using namespace rowset;
using Clock = std::chrono::steady_clock;

void Query(TMySQLBase* Driver, MySQLHandle Handle) {
  MySQLResultHandle result = Driver->OpenQuery(Handle, "SELECT 1");
  while (Driver->RetrieveRow(result) != nullptr) {
  }
  Driver->CloseQuery(result);
}

// Runs Session on Parallel threads until Sessions have run; sessions/s.
template <typename F>
double Run(long Sessions, int Parallel, TMySQLBase* Driver, F Session) {
  std::atomic<long> next{0};
  std::atomic<long> failed{0};
  const Clock::time_point start = Clock::now();
  std::vector<std::thread> threads;
  for (int t = 0; t < Parallel; ++t) {
    threads.emplace_back([&] {
      while (next.fetch_add(1) < Sessions) {
        try {
          Session();
        } catch (const std::exception& e) {
          if (failed.fetch_add(1) == 0) std::fprintf(stderr, "session failed: %s\n", e.what());
        }
      }
      Driver->ThreadEnd();
    });
  }
  for (auto& th : threads) th.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (failed > 0) std::fprintf(stderr, "%ld sessions failed\n", failed.load());
  return static_cast<double>(Sessions - failed) / seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const long sessions = argc > 1 ? std::atol(argv[1]) : 10000;
  const int parallel = argc > 2 ? std::atoi(argv[2]) : 100;
  const bool direct = argc > 3 && std::string(argv[3]) == "direct";
  const int rounds = argc > 4 ? std::atoi(argv[4]) : 5;
  const test::TestServer& ts = test::Server();

  TMySQLServer server;
  server.SetDriverType(direct ? dtDirect : dtLibrary);
  server.SetHost(ts.host);  // 127.0.0.1 with a port: TCP
  server.SetPort(ts.port);
  server.SetUserName(ts.user);
  server.SetPassword("");
  server.SetDatabaseName(ts.database);
  server.Connect();
  TMySQLBase* driver = server.GetDriver();

  std::vector<double> unpooled_rates, pooled_rates, ratios, unpooled_cpu, pooled_cpu;
  TMySQLPoolStatistics s;
  for (int round = 0; round < rounds; ++round) {
    double unpooled = 0;
    const bench::Cost u = bench::Measure([&] {
      unpooled = Run(sessions, parallel, driver, [&] {
        MySQLHandle handle = driver->Open(ts.host, ts.user, "", ts.port,
                                          static_cast<int32_t>(MySQLClientFlags(server.Options())),
                                          ts.database);
        try {
          Query(driver, handle);
        } catch (...) {
          driver->Close(handle);
          throw;
        }
        driver->Close(handle);
      });
    });
    // A new pool each round: its connects count in its time.
    double pooled = 0;
    const bench::Cost p = bench::Measure([&] {
      TMySQLConnectionPool pool(&server);
      pool.SetMaxSize(parallel);
      pool.SetWaitTimeout(60000);
      pooled = Run(sessions, parallel, driver, [&] {
        TMySQLPooledConnection c = pool.Acquire();
        Query(c.Driver(), c.Handle());
      });
      s = pool.Statistics();
      pool.Clear();
    });
    unpooled_rates.push_back(unpooled);
    pooled_rates.push_back(pooled);
    ratios.push_back(pooled / unpooled);
    unpooled_cpu.push_back(u.cpu / static_cast<double>(sessions) * 1e6);
    pooled_cpu.push_back(p.cpu / static_cast<double>(sessions) * 1e6);
    std::printf("  round %d: unpooled %.0f/s, pooled %.0f/s, ratio %.2f\n", round + 1, unpooled,
                pooled, pooled / unpooled);
  }

  std::printf("pool: %ld sessions, %d in parallel, %s over TCP, medians of %d rounds\n", sessions,
              parallel, direct ? "built-in client" : "libmariadb", rounds);
  std::printf("  unpooled  %10.0f sessions/s (connect, SELECT 1, close), client CPU %.1f us/session\n",
              bench::Median(unpooled_rates), bench::Median(unpooled_cpu));
  std::printf("  pooled    %10.0f sessions/s (borrow, SELECT 1, reset on return), client CPU %.1f us/session\n",
              bench::Median(pooled_rates), bench::Median(pooled_cpu));
  std::printf("  pool: %llu connections opened, %llu borrows waited (last round)\n",
              static_cast<unsigned long long>(s.Created), static_cast<unsigned long long>(s.Waits));
  std::printf("  ratio pooled/unpooled %.2f (target >= 3)\n", bench::Median(ratios));
  return 0;
}
