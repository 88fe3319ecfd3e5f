// Statement send time by statement size: the flat client interface against
// the real client library (libmariadb.so.3) on the same server.
//
// For statements of 1 KB, 9 KB, 64 KB and 1 MB ("do length('xxx...')"), both
// clients run the same statement alternately for several rounds. Prints the
// median time per statement of each and the ratio of rowset's median to
// libmariadb's (1.0 or less: rowset is as fast or faster; target <= 1.1).
// Statements over about 8 KB show whether the socket waits for delayed
// acknowledgements.
//
// Usage: bench_statement_size [host port user password [rounds]]
// Without arguments the test server named by ROWSET_TEST_SERVER_ENV is used.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/common/TestServer.h"
#include "tests/wire/flat_libmariadb.h"
#include "wire/ViVURIzodor.h"

namespace {

struct Target {
  std::string host = "127.0.0.1";
  unsigned port = 3306;
  std::string user;
  std::string password;
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

std::string Statement(size_t size) {
  const std::string head = "do length('";
  const std::string tail = "')";
  return head + std::string(size - head.size() - tail.size(), 'x') + tail;
}

int Run(const Target& t, int rounds) {
  rowset::test::MariaDbConnection lib;
  lib.Connect(t.host, t.port, t.user, t.password, "");
  const rowset::test::LibMariaDb& api = lib.Lib();
  rowset::ViVURIzodorHandle own = rowset::mysql_init(nullptr);
  if (rowset::mysql_real_connect(own, t.host.c_str(), t.user.c_str(), t.password.c_str(), "",
                                 t.port, nullptr, 0) != 1)
    throw std::runtime_error(std::string("connect: ") + rowset::mysql_error(own));

  std::printf("%-10s %14s %14s %8s\n", "statement", "rowset ms", "libmariadb ms", "ratio");
  for (size_t size : {size_t{1024}, size_t{9 * 1024}, size_t{64 * 1024}, size_t{1024 * 1024}}) {
    const std::string sql = Statement(size);
    std::vector<double> mine, theirs;
    for (int r = 0; r < rounds; ++r) {
      auto start = std::chrono::steady_clock::now();
      if (rowset::mysql_real_query(own, sql.data(), sql.size()) != 0)
        throw std::runtime_error(std::string("rowset: ") + rowset::mysql_error(own));
      mine.push_back(std::chrono::duration<double, std::milli>(
                         std::chrono::steady_clock::now() - start)
                         .count());
      start = std::chrono::steady_clock::now();
      if (api.mysql_real_query(lib.Handle(), sql.data(), sql.size()) != 0)
        throw std::runtime_error(std::string("libmariadb: ") + api.mysql_error(lib.Handle()));
      theirs.push_back(std::chrono::duration<double, std::milli>(
                           std::chrono::steady_clock::now() - start)
                           .count());
    }
    const double a = Median(mine), b = Median(theirs);
    std::printf("%-10zu %14.3f %14.3f %8.2f\n", size, a, b, a / b);
  }
  rowset::mysql_close(own);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    Target t;
    int rounds = 41;
    if (argc >= 5) {
      t.host = argv[1];
      t.port = static_cast<unsigned>(std::atoi(argv[2]));
      t.user = argv[3];
      t.password = argv[4];
      if (argc >= 6) rounds = std::atoi(argv[5]);
    } else {
      const auto& s = rowset::test::Server();
      t.host = s.host;
      t.port = s.port;
      t.user = s.user;
    }
    return Run(t, std::max(rounds, 1));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_statement_size: %s\n", e.what());
    return 1;
  }
}
