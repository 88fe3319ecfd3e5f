// Cost of Locate against a plain loop over the same texts.
//
// A local result of N rows (id, k = 'key <id>') is read once. Measured:
// Locate of the last row's key on k (the whole result is searched) against
// a loop over the held rows comparing each row's k text with the key; then
// the same for the integer key id (Locate compares it as a number). Both
// run several times and the best time of each counts. Prints both times and
// their ratio (target <= 2.0).
//
// Usage: bench_locate [rows]: 1,000,000 rows by default. The server is the
// one named by ROWSET_TEST_SERVER_ENV (scripts/testserver.sh start DIR).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "components/MySQLDataset.h"
#include "tests/common/TestServer.h"

namespace {

using namespace rowset;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
  test::RootSql(
      "CREATE DATABASE IF NOT EXISTS rowset_bench; USE rowset_bench; "
      "DROP TABLE IF EXISTS locate_rows; CREATE TABLE locate_rows (id INT NOT NULL PRIMARY KEY, "
      "k VARCHAR(40)) ENGINE=InnoDB; INSERT INTO locate_rows SELECT seq, CONCAT('key ', seq) "
      "FROM seq_1_to_" + std::to_string(rows) + ";");
  const test::TestServer& ts = test::Server();
  TMySQLServer server;
  server.SetHost(ts.host);
  server.SetPort(ts.port);
  server.SetUserName(ts.user);
  server.SetPassword("");
  server.SetDatabaseName("rowset_bench");
  TMySQLQuery query;
  query.SetServer(&server);
  query.SQL()->SetText("select id, k from locate_rows order by id");
  query.Open();
  const std::string key = "key " + std::to_string(rows);
  const int column = query.FieldByName("k")->FieldNo() - 1;

  double loop = 1e9, locate = 1e9;
  long found_at = -1;
  for (int run = 0; run < 5; ++run) {
    Clock::time_point start = Clock::now();
    found_at = -1;
    const TRowList& held = *query.Rows();
    for (size_t i = 0; i < held.size(); ++i) {
      if (held[i].Value(column) == key) {
        found_at = static_cast<long>(i);
        break;
      }
    }
    loop = std::min(loop, Seconds(start));

    query.First();
    start = Clock::now();
    bool ok = query.Locate("k", Variant(key), TLocateOptions{});
    locate = std::min(locate, Seconds(start));
    if (!ok || query.FieldByName("id")->AsInteger() != rows || found_at != rows - 1) {
      std::fprintf(stderr, "locate_bench: the last key was not found\n");
      return 1;
    }
  }
  std::printf("string key:  rows %ld  loop %.4f s  locate %.4f s  ratio %.2f (target <= 2.0)\n", rows,
              loop, locate, locate / loop);

  // The same on the integer key: the loop compares each held id text with
  // the key's text.
  const std::string id_text = std::to_string(rows);
  const int id_column = query.FieldByName("id")->FieldNo() - 1;
  loop = 1e9;
  locate = 1e9;
  for (int run = 0; run < 5; ++run) {
    Clock::time_point start = Clock::now();
    found_at = -1;
    const TRowList& held = *query.Rows();
    for (size_t i = 0; i < held.size(); ++i) {
      if (held[i].Value(id_column) == id_text) {
        found_at = static_cast<long>(i);
        break;
      }
    }
    loop = std::min(loop, Seconds(start));

    query.First();
    start = Clock::now();
    bool ok = query.Locate("id", Variant(static_cast<int64_t>(rows)), TLocateOptions{});
    locate = std::min(locate, Seconds(start));
    if (!ok || query.FieldByName("k")->AsString() != key || found_at != rows - 1) {
      std::fprintf(stderr, "locate_bench: the last id was not found\n");
      return 1;
    }
  }
  std::printf("integer key: rows %ld  loop %.4f s  locate %.4f s  ratio %.2f (target <= 2.0)\n", rows,
              loop, locate, locate / loop);
  test::RootSql("DROP TABLE rowset_bench.locate_rows;");
  return 0;
}
