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
// Prints the time ratio (dataset / reference, target <= 2.0) and the peak
// resident memory the dataset added as a ratio to the raw value bytes
// (target <= 3.0). Then opens the table with rtIncremental and reports how
// many rows were read before the first record showed.
//
// Usage: bench_dataset_fetch [rows [rounds [direct]]]: with "direct" the
// dataset reads through the built-in client (the reference stays
// libmariadb). The server is the one named by
// ROWSET_TEST_SERVER_ENV (scripts/testserver.sh start DIR).
#include <algorithm>
#include <functional>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <malloc.h>
#include <string>
#include <vector>

#include "components/MySQLDataset.h"
#include "tests/common/TestServer.h"

namespace {

using namespace rowset;
using Clock = std::chrono::steady_clock;

const char* const kDatabase = "rowset_bench";

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// Resident memory figures of this process in bytes: current and peak.
long StatusKb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::string(key).size());
  }
  return 0;
}
double RssBytes() { return StatusKb("VmRSS:") * 1024.0; }
double PeakBytes() { return StatusKb("VmHWM:") * 1024.0; }
// Restarts the peak count at the current resident size.
void ResetPeak() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
}

void CreateTable(long rows) {
  std::string count = test::RootSql(
      "CREATE DATABASE IF NOT EXISTS rowset_bench; "
      "SELECT COUNT(*) FROM information_schema.tables WHERE table_schema = 'rowset_bench' "
      "AND table_name = 'fetch_rows';");
  if (count.find('1') != std::string::npos) {
    std::string n = test::RootSql("SELECT COUNT(*) FROM rowset_bench.fetch_rows;");
    if (n.find(std::to_string(rows)) != std::string::npos) return;
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
Tally ReadDataset(TMySQLServer& server, double& peak_added) {
  double before = RssBytes();
  ResetPeak();
  Tally tally;
  {
    TMySQLQuery query;
    query.SetServer(&server);
    query.SQL()->SetText("select * from fetch_rows");
    auto opening = Clock::now();
    query.Open();
    double open_time = Seconds(opening);
    auto reading = Clock::now();
    std::vector<TField*> fields(query.Fields().begin(), query.Fields().end());
    query.First();
    while (!query.Eof()) {
      ++tally.rows;
      for (TField* f : fields) tally.bytes += f->AsString().size();
      query.Next();
    }
    peak_added = PeakBytes() - before;
    std::printf("  open (fetch and store) %.3f s, reading the fields %.3f s\n", open_time,
                Seconds(reading));
    query.Close();
  }
  // Give the freed rows back, so the next round starts from the same size.
  malloc_trim(0);
  return tally;
}

}  // namespace

int main(int argc, char** argv) {
  long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
  int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  bool direct = argc > 3 && std::string(argv[3]) == "direct";
  try {
    CreateTable(rows);
    auto server = NewServer(dtLibrary);
    server->Open();
    auto reader = direct ? NewServer(dtDirect) : nullptr;
    TMySQLServer& dataset_server = direct ? *reader : *server;
    if (direct) std::printf("dataset on the built-in client\n");
    std::vector<double> ratios, memory;
    uint64_t raw = 0;
    for (int round = 0; round < rounds; ++round) {
      auto start = Clock::now();
      Tally ref = FetchReference(*server);
      double ref_time = Seconds(start);
      raw = ref.bytes;
      double peak = 0;
      start = Clock::now();
      Tally ds = ReadDataset(dataset_server, peak);
      double ds_time = Seconds(start);
      if (ds.rows != ref.rows || ref.rows != static_cast<uint64_t>(rows)) {
        std::fprintf(stderr, "row count mismatch: %llu / %llu\n",
                     static_cast<unsigned long long>(ds.rows),
                     static_cast<unsigned long long>(ref.rows));
        return 1;
      }
      ratios.push_back(ds_time / ref_time);
      memory.push_back(peak / static_cast<double>(ref.bytes));
      std::printf("round %d: libmariadb %.3f s, dataset %.3f s, ratio %.2f; peak added %.1f MB "
                  "for %.1f MB of values, ratio %.2f\n",
                  round + 1, ref_time, ds_time, ds_time / ref_time, peak / 1e6, ref.bytes / 1e6,
                  peak / static_cast<double>(ref.bytes));
      std::fflush(stdout);
    }
    std::sort(ratios.begin(), ratios.end());
    // The highest peak is the one to judge by.
    std::sort(memory.begin(), memory.end(), std::greater<double>());
    std::printf("rtLocal over %ld rows (%.1f MB of values): time ratio %.2f (target <= 2.0), "
                "memory ratio %.2f (target <= 3.0)\n",
                rows, raw / 1e6, ratios[ratios.size() / 2], memory[0]);

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
