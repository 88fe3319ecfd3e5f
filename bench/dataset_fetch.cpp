// Cost of reading a large result through a dataset, against fetching the
// same rows with the client library alone.
//
// Table: 1,000,000 rows of (int key, int, varchar(40), double, datetime),
// the same table bench_fetch_rows reads (rowset_bench.fetch_rows).
//
// Reference: libmariadb's mysql_real_query + mysql_use_result +
// mysql_fetch_row over every row (through the library driver), summing the
// value lengths. Measured: a TMySQLQuery with rtLocal opened over the table
// and every field of every record read with AsString through First/Next.
// Rounds interleave the two. Prints the medians of the wall and CPU time
// ratios (dataset / reference; targets <= 1.5 and <= 4) and the highest
// peak resident memory the dataset added as a ratio to the raw value bytes
// (target <= 1.3). Then opens the table with rtIncremental and reports how
// many rows were read before the first record showed.
//
// Usage: bench_dataset_fetch [rows [rounds [direct]]] (1,000,000 rows, 7 rounds): with "direct" the
// dataset reads through the built-in client (the reference stays
// libmariadb). The server is the one named by
// ROWSET_TEST_SERVER_ENV (scripts/testserver.sh start DIR).
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/Measure.h"
#include "components/MySQLDataset.h"
#include "tests/common/TestServer.h"

namespace {

using namespace rowset;
using Clock = std::chrono::steady_clock;

const char* const kDatabase = "rowset_bench";

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

void CreateTable(long rows) {
  std::string count = test::RootSql(
      "CREATE DATABASE IF NOT EXISTS rowset_bench; "
      "SELECT COUNT(*) FROM information_schema.tables WHERE table_schema = 'rowset_bench' "
      "AND table_name = 'fetch_rows';");
  if (std::atol(count.c_str()) == 1) {
    // The table is kept when it holds exactly the rows asked for.
    const std::string n = test::RootSql("SELECT COUNT(*) FROM rowset_bench.fetch_rows;");
    if (std::atol(n.c_str()) == rows) return;
  }
  std::printf("creating table rowset_bench.fetch_rows with %ld rows...\n", rows);
  std::fflush(stdout);
  test::RootSql(
      "USE rowset_bench; DROP TABLE IF EXISTS fetch_rows; "
      "CREATE TABLE fetch_rows (id INT NOT NULL PRIMARY KEY, n INT, name VARCHAR(40), "
      "amount DOUBLE, stamp DATETIME); "
      "INSERT INTO fetch_rows SELECT seq, seq * 7 % 100003, "
      "CONCAT('row number ', seq, ' of the benchmark'), seq / 7.0, "
      "'2020-01-01 00:00:00' + INTERVAL seq SECOND FROM seq_1_to_" +
      std::to_string(rows) + ";");
}

std::unique_ptr<TMySQLServer> NewServer(TMySQLDriverType Kind) {
  const test::TestServer& ts = test::Server();
  auto server = std::make_unique<TMySQLServer>();
  server->SetDriverType(Kind);
  server->SetHost(ts.host);
  server->SetPort(ts.port);
  server->SetUserName(ts.user);
  server->SetPassword("");
  server->SetDatabaseName(kDatabase);
  return server;
}

struct Tally {
  uint64_t rows = 0;
  uint64_t bytes = 0;
};

// The reference: the client library's unbuffered fetch.
Tally FetchReference(TMySQLServer& server) {
  TMySQLBase* driver = server.GetDriver();
  MySQLResultHandle result = driver->OpenQuery(server.Connection(), "select * from fetch_rows");
  uint32_t columns = driver->RetrieveColCount(result);
  Tally tally;
  while (MySQLRow row = driver->RetrieveRow(result)) {
    MySQLLengths lengths = driver->RetrieveRowFieldLenghts(result);
    ++tally.rows;
    for (uint32_t i = 0; i < columns; ++i) {
      if (row[i] != nullptr) tally.bytes += lengths[i];
    }
  }
  driver->CloseQuery(result);
  return tally;
}

// The dataset: open, then every field of every record as text.
Tally ReadDataset(TMySQLServer& server, double& open_time) {
  Tally tally;
  TMySQLQuery query;
  query.SetServer(&server);
  query.SQL()->SetText("select * from fetch_rows");
  auto opening = Clock::now();
  query.Open();
  open_time = Seconds(opening);
  std::vector<TField*> fields(query.Fields().begin(), query.Fields().end());
  query.First();
  while (!query.Eof()) {
    ++tally.rows;
    for (TField* f : fields) tally.bytes += f->AsString().size();
    query.Next();
  }
  query.Close();
  return tally;
}

}  // namespace

int main(int argc, char** argv) {
  long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
  int rounds = argc > 2 ? std::atoi(argv[2]) : 7;
  bool direct = argc > 3 && std::string(argv[3]) == "direct";
  try {
    CreateTable(rows);
    auto server = NewServer(dtLibrary);
    server->Open();
    auto reader = direct ? NewServer(dtDirect) : nullptr;
    TMySQLServer& dataset_server = direct ? *reader : *server;
    if (direct) std::printf("dataset on the built-in client\n");
    std::vector<double> wall, cpu, memory;
    uint64_t raw = 0;
    for (int round = 0; round < rounds; ++round) {
      // Alternate which one goes first so neither always meets a warm cache.
      Tally ref, ds;
      double open_time = 0;
      bench::Cost ref_cost, ds_cost;
      for (int k = 0; k < 2; ++k) {
        if ((k == 0) == (round % 2 == 0)) {
          ref_cost = bench::Measure([&] { ref = FetchReference(*server); });
        } else {
          ds_cost = bench::Measure([&] { ds = ReadDataset(dataset_server, open_time); });
          // Give the freed rows back, so the next round starts from the same size.
          malloc_trim(0);
        }
      }
      raw = ref.bytes;
      if (ds.rows != ref.rows || ref.rows != static_cast<uint64_t>(rows)) {
        std::fprintf(stderr, "row count mismatch: %llu / %llu\n",
                     static_cast<unsigned long long>(ds.rows),
                     static_cast<unsigned long long>(ref.rows));
        return 1;
      }
      wall.push_back(ds_cost.wall / ref_cost.wall);
      cpu.push_back(ds_cost.cpu / ref_cost.cpu);
      memory.push_back(ds_cost.peak_added / static_cast<double>(ref.bytes));
      std::printf("round %d: libmariadb %.3f s (cpu %.3f s, sys %.3f s), dataset %.3f s (open "
                  "%.3f s, cpu %.3f s, sys %.3f s): wall ratio %.2f, cpu ratio %.2f; peak added "
                  "%.1f MB for %.1f MB of values, ratio %.2f\n",
                  round + 1, ref_cost.wall, ref_cost.cpu, ref_cost.sys, ds_cost.wall, open_time,
                  ds_cost.cpu, ds_cost.sys,
                  wall.back(), cpu.back(), ds_cost.peak_added / 1e6, ref.bytes / 1e6,
                  memory.back());
      std::fflush(stdout);
    }
    // The highest peak is the one to judge by.
    std::printf("rtLocal open + every field AsString over %ld rows (%.1f MB of values), medians "
                "of %d rounds against the raw libmariadb fetch: wall ratio %.2f (target <= 1.5), "
                "cpu ratio %.2f (target <= 4), peak RSS / value bytes %.2f (highest; target <= "
                "1.3)\n",
                rows, raw / 1e6, rounds, bench::Median(wall), bench::Median(cpu),
                bench::Max(memory));

    // Incremental: the first record shows after one row.
    TMySQLDataset incremental;
    incremental.SetServer(&dataset_server);
    incremental.SQL()->SetText("select * from fetch_rows");
    incremental.SetResultType(rtIncremental);
    auto start = Clock::now();
    incremental.Open();
    double first = Seconds(start);
    std::printf("rtIncremental: first record after %zu row(s) read, %.2f ms; id %s\n",
                incremental.Rows()->size(), first * 1e3,
                incremental.FieldByName("id")->AsString().c_str());
    start = Clock::now();
    incremental.Close();
    std::printf("rtIncremental: close drained the rest in %.3f s\n", Seconds(start));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_dataset_fetch: %s\n", e.what());
    return 1;
  }
  return 0;
}
