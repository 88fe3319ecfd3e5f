// Reading a large result from the embedded server (libmariadbd.so.19, in
// this process) against reading the same rows from a server on loopback
// through the client library (libmariadb.so.3).
//
// Table: 1,000,000 rows of (int key, int, varchar(40), double, datetime),
// the same rows bench_fetch_rows and bench_dataset_fetch read, made in both
// servers. Measured: OpenQuery("select * from fetch_rows") and every row
// with its lengths through each driver, the value lengths summed; rounds
// interleave the two. Prints the medians of the wall and CPU time ratios
// (embedded / library; target wall <= 1.0). The library's CPU leaves out the
// server's work, the embedded one's includes it: the wall ratio is the one
// to judge by.
//
// Usage: bench_embedded_fetch [rows [rounds]] (1,000,000 rows, 5 rounds).
// The loopback server is the one named by ROWSET_TEST_SERVER_ENV
// (scripts/testserver.sh start DIR); the embedded server's data lives in a
// fresh directory under /tmp, removed at the end.
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/Measure.h"
#include "components/MySQLDataset.h"
#include "tests/common/TestServer.h"

namespace {

using namespace rowset;

struct Tally {
  uint64_t rows = 0;
  uint64_t bytes = 0;
};

std::string FillStatement(long rows) {
  return "insert into fetch_rows select seq, seq * 7 % 100003, "
         "concat('row number ', seq, ' of the benchmark'), seq / 7.0, "
         "'2020-01-01 00:00:00' + interval seq second from seq_1_to_" +
         std::to_string(rows);
}

const char* const kCreate =
    "create table fetch_rows (id int not null primary key, n int, name varchar(40), "
    "amount double, stamp datetime)";

Tally Fetch(TMySQLServer& server) {
  TMySQLBase* driver = server.GetDriver();
  MySQLResultHandle result = driver->OpenQuery(server.Connection(), "select * from fetch_rows");
  const uint32_t columns = driver->RetrieveColCount(result);
  Tally tally;
  MySQLLengths lengths = nullptr;
  while (MySQLRow row = driver->RetrieveRowWithLengths(result, lengths)) {
    ++tally.rows;
    for (uint32_t i = 0; i < columns; ++i) {
      if (row[i] != nullptr) tally.bytes += lengths[i];
    }
  }
  driver->CloseQuery(result);
  return tally;
}

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  char pattern[] = "/tmp/rowset_bench_embedded_XXXXXX";
  const char* made = mkdtemp(pattern);
  if (made == nullptr) {
    std::fprintf(stderr, "bench_embedded_fetch: no data directory\n");
    return 1;
  }
  const std::string data_dir = made;
  int status = 0;
  try {
    // The loopback server's table, as the other fetch benchmarks make it.
    const std::string have = test::RootSql(
        "CREATE DATABASE IF NOT EXISTS rowset_bench; SELECT COUNT(*) FROM information_schema.tables "
        "WHERE table_schema = 'rowset_bench' AND table_name = 'fetch_rows';");
    bool fresh = have.find('1') == std::string::npos;
    if (!fresh) {
      const std::string n = test::RootSql("SELECT COUNT(*) = " + std::to_string(rows) +
                                          " AS same FROM rowset_bench.fetch_rows;");
      fresh = n.find("same\n1") == std::string::npos;
    }
    if (fresh) {
      std::printf("creating table rowset_bench.fetch_rows with %ld rows...\n", rows);
      std::fflush(stdout);
      test::RootSql("USE rowset_bench; DROP TABLE IF EXISTS fetch_rows; " + std::string(kCreate) +
                    "; " + FillStatement(rows) + ";");
    }
    const test::TestServer& ts = test::Server();
    TMySQLServer library;
    library.SetDriverType(dtLibrary);
    library.SetHost(ts.host);
    library.SetPort(ts.port);
    library.SetUserName(ts.user);
    library.SetPassword("");
    library.SetDatabaseName("rowset_bench");
    library.Connect();

    TMySQLServer embedded;
    embedded.SetParams("[embedded]\r\ndatadir=" + data_dir +
                       "\r\nlc-messages-dir=/usr/share/mysql\r\n"
                       "innodb-log-file-size=16M\r\ninnodb-buffer-pool-size=256M\r\n"
                       "innodb-buffer-pool-dump-at-shutdown=0\r\n");
    embedded.SetDriverType(dtEmbedded);
    embedded.SetOptions({coInteractive, soAutoCreate});
    embedded.SetDatabaseName("rowset_bench");
    embedded.Connect();
    embedded.ExecSQL(kCreate);
    embedded.ExecSQL(FillStatement(rows));

    std::vector<double> wall, cpu;
    Tally a, b;
    for (int round = 0; round < rounds; ++round) {
      bench::Cost lib_cost, emb_cost;
      for (int k = 0; k < 2; ++k) {
        if ((k == 0) == (round % 2 == 0))
          lib_cost = bench::Measure([&] { a = Fetch(library); });
        else
          emb_cost = bench::Measure([&] { b = Fetch(embedded); });
      }
      if (a.rows != b.rows || a.bytes != b.bytes || a.rows != static_cast<uint64_t>(rows)) {
        std::fprintf(stderr, "bench_embedded_fetch: the two reads differ\n");
        status = 1;
        break;
      }
      wall.push_back(emb_cost.wall / lib_cost.wall);
      cpu.push_back(emb_cost.cpu / lib_cost.cpu);
      std::printf("round %d: library %.3f s (cpu %.3f s), embedded %.3f s (cpu %.3f s): wall ratio "
                  "%.2f\n",
                  round + 1, lib_cost.wall, lib_cost.cpu, emb_cost.wall, emb_cost.cpu, wall.back());
      std::fflush(stdout);
    }
    if (status == 0)
      std::printf("embedded fetch of %ld rows ÷ library driver to a local server, medians of %d "
                  "rounds: wall ratio %.2f (target <= 1.0), cpu ratio %.2f\n",
                  rows, rounds, bench::Median(wall), bench::Median(cpu));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_embedded_fetch: %s\n", e.what());
    status = 1;
  }
  std::error_code ignored;
  std::filesystem::remove_all(data_dir, ignored);
  return status;
}
