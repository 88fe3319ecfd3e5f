// Row fetch throughput of the flat client interface against the real client
// library (libmariadb.so.3) on the same server and the same table.
//
// Creates a table of 1,000,000 rows (int key, int, varchar(40), double,
// datetime), then reads all of it with "select *" through
// mysql_real_query + mysql_use_result + mysql_fetch_row, alternating between
// the two clients for several rounds, uncompressed, compressed and over TLS
// (when a CA file is known: the test server's, or the 7th argument). Prints
// rows/s of each and the median ratios of the wall and client CPU
// (getrusage) time rowset takes to those libmariadb takes for the same rows
// (1.0 or less: rowset is as fast or faster).
//
// Usage: bench_fetch_rows [host port user password [rows [rounds [ca-file]]]]
// Without arguments the test server named by ROWSET_TEST_SERVER_ENV is used.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/Measure.h"
#include "tests/common/TestServer.h"
#include "tests/wire/flat_libmariadb.h"
#include "wire/ViVURIzodor.h"

namespace {

struct Target {
  std::string host = "127.0.0.1";
  unsigned port = 3306;
  std::string user;
  std::string password;
  std::string db = "rowset_bench";
  std::string ssl_ca;  // empty: no TLS round
};

enum class Mode { kPlain, kCompressed, kTls };
const char* ModeName(Mode m) {
  return m == Mode::kPlain ? "plain protocol" : m == Mode::kCompressed ? "compressed protocol" : "TLS";
}

struct Tally {
  uint64_t rows = 0;
  uint64_t bytes = 0;  // sum of the value lengths, so no read is skipped
  uint64_t nulls = 0;
};

void CreateTable(const Target& t, long rows) {
  rowset::test::MariaDbConnection c;
  c.Connect(t.host, t.port, t.user, t.password, "");
  c.Exec("create database if not exists " + t.db);
  c.Exec("use " + t.db);
  auto have = c.Rows("select count(*) from information_schema.tables where "
                     "table_schema = '" + t.db + "' and table_name = 'fetch_rows'");
  if (!have.empty() && have[0][0] == "1") {
    auto n = c.Rows("select count(*) from fetch_rows");
    if (!n.empty() && n[0][0] == std::to_string(rows)) return;
  }
  std::printf("creating table %s.fetch_rows with %ld rows...\n", t.db.c_str(), rows);
  std::fflush(stdout);
  c.Exec("drop table if exists fetch_rows");
  c.Exec("create table fetch_rows (id int not null primary key, n int, "
         "name varchar(40), amount double, stamp datetime)");
  // The server's sequence tables fill it in one statement.
  c.Exec("insert into fetch_rows select seq, seq * 7 % 100003, "
         "concat('row number ', seq, ' of the benchmark'), seq / 7.0, "
         "'2020-01-01 00:00:00' + interval seq second from seq_1_to_" +
         std::to_string(rows));
}

Tally FetchOurs(const Target& t, Mode mode, const std::string& sql) {
  using namespace rowset;
  TViVURIzodorClient* h = mysql_init(nullptr);
  if (mode == Mode::kCompressed) mysql_options(h, MYSQL_OPT_COMPRESS, nullptr);
  if (mode == Mode::kTls) mysql_ssl_set(h, nullptr, nullptr, t.ssl_ca.c_str(), nullptr, nullptr);
  if (mysql_real_connect(h, t.host.c_str(), t.user.c_str(), t.password.c_str(),
                         t.db.c_str(), t.port, nullptr, 0) != 1) {
    std::string e = mysql_error(h);
    mysql_close(h);
    throw std::runtime_error("rowset connect: " + e);
  }
  if (mode == Mode::kTls && mysql_get_ssl_cipher(h) == nullptr) {
    mysql_close(h);
    throw std::runtime_error("rowset connect: no TLS");
  }
  Tally tally;
  if (mysql_real_query(h, sql.c_str(), sql.size()) != 0) {
    std::string e = mysql_error(h);
    mysql_close(h);
    throw std::runtime_error("rowset query: " + e);
  }
  TViVURIzodorResult* r = mysql_use_result(h);
  unsigned n = mysql_num_fields(r);
  while (char** row = mysql_fetch_row(r)) {
    unsigned long* len = mysql_fetch_lengths(r);
    ++tally.rows;
    for (unsigned i = 0; i < n; ++i) {
      if (row[i] == nullptr) ++tally.nulls;
      tally.bytes += len[i];
    }
  }
  unsigned err = mysql_errno(h);
  std::string msg = err ? mysql_error(h) : "";
  mysql_free_result(r);
  mysql_close(h);
  if (err != 0) throw std::runtime_error("rowset fetch: " + msg);
  return tally;
}

Tally FetchLib(const Target& t, Mode mode, const std::string& sql) {
  rowset::test::MariaDbConnection c;
  c.Connect(t.host, t.port, t.user, t.password, t.db, mode == Mode::kCompressed,
            mode == Mode::kTls ? t.ssl_ca : "");
  const auto& lib = c.Lib();
  Tally tally;
  if (lib.mysql_real_query(c.Handle(), sql.data(), sql.size()) != 0)
    throw std::runtime_error(std::string("libmariadb query: ") +
                             lib.mysql_error(c.Handle()));
  rowset::test::MYSQL_RES* r = lib.mysql_use_result(c.Handle());
  unsigned n = lib.mysql_num_fields(r);
  while (rowset::test::MYSQL_ROW row = lib.mysql_fetch_row(r)) {
    unsigned long* len = lib.mysql_fetch_lengths(r);
    ++tally.rows;
    for (unsigned i = 0; i < n; ++i) {
      if (row[i] == nullptr) ++tally.nulls;
      tally.bytes += len[i];
    }
  }
  unsigned err = lib.mysql_errno(c.Handle());
  lib.mysql_free_result(r);
  if (err != 0) throw std::runtime_error("libmariadb fetch failed");
  return tally;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t m = v.size() / 2;
  return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

void Run(const Target& t, Mode mode, long rows, int rounds) {
  const std::string sql = "select * from fetch_rows";
  std::vector<double> ours, lib, ratio, cpu_ratio;
  for (int round = 0; round < rounds; ++round) {
    // Alternate which client goes first so neither always meets a warm cache.
    rowset::bench::Cost a, b;
    for (int k = 0; k < 2; ++k) {
      bool oursNow = (k == 0) == (round % 2 == 0);
      Tally tally;
      rowset::bench::Cost c = rowset::bench::Measure(
          [&] { tally = oursNow ? FetchOurs(t, mode, sql) : FetchLib(t, mode, sql); });
      if (tally.rows != static_cast<uint64_t>(rows))
        throw std::runtime_error("row count mismatch: " + std::to_string(tally.rows));
      (oursNow ? a : b) = c;
    }
    ours.push_back(rows / a.wall);
    lib.push_back(rows / b.wall);
    ratio.push_back(a.wall / b.wall);
    cpu_ratio.push_back(a.cpu / b.cpu);
    std::printf("  %s round %d: rowset %.0f rows/s (cpu %.3f s), libmariadb %.0f rows/s (cpu %.3f s), "
                "time ratio %.3f, cpu ratio %.3f\n",
                ModeName(mode), round + 1, ours.back(), a.cpu, lib.back(), b.cpu,
                ratio.back(), cpu_ratio.back());
    std::fflush(stdout);
  }
  std::printf("%s: rowset %.0f rows/s, libmariadb %.0f rows/s (medians); "
              "median ratios rowset/libmariadb: wall %.3f (target <= 1.0), client cpu %.3f "
              "(target <= 0.9)\n",
              ModeName(mode), Median(ours),
              Median(lib), Median(ratio), Median(cpu_ratio));
}

}  // namespace

int main(int argc, char** argv) {
  try {
    Target t;
    long rows = 1000000;
    int rounds = 5;
    if (argc >= 5) {
      t.host = argv[1];
      t.port = static_cast<unsigned>(std::atoi(argv[2]));
      t.user = argv[3];
      t.password = argv[4];
      if (argc >= 6) rows = std::atol(argv[5]);
      if (argc >= 7) rounds = std::atoi(argv[6]);
      if (argc >= 8) t.ssl_ca = argv[7];
    } else if (argc == 1) {
      const auto& s = rowset::test::Server();
      t.host = s.host;
      t.port = s.port;
      t.user = s.pw_user;
      t.password = s.pw_password;
      t.ssl_ca = s.ssl_ca;
    } else {
      std::fprintf(stderr, "usage: %s [host port user password [rows [rounds]]]\n", argv[0]);
      return 2;
    }
    if (rows <= 0 || rounds <= 0) throw std::runtime_error("rows and rounds must be positive");
    CreateTable(t, rows);
    Run(t, Mode::kPlain, rows, rounds);
    Run(t, Mode::kCompressed, rows, rounds);
    if (!t.ssl_ca.empty()) Run(t, Mode::kTls, rows, rounds);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_fetch_rows: %s\n", e.what());
    return 1;
  }
}
