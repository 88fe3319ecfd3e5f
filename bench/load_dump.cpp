// Loading a mariadb-dump file with the rowset program, against the mariadb
// command-line client loading the same file, in the same run.
//
// Makes a table of about MB megabytes (default 100) in the test server,
// dumps it with the real mariadb-dump (extended inserts, its defaults), then
// loads the dump into two fresh databases: `mariadb DB < dump.sql` and
// `rowset -D DB dump.sql`, both over TCP/IP as the same user, each twice in
// alternating order (the faster run of each counts). Prints both times and
// their ratio (target <= 1.1), and checks that CHECKSUM TABLE agrees.
//
// Usage: bench_load_dump [MB [direct|library]]. The server is the one named
// by ROWSET_TEST_SERVER_ENV (scripts/testserver.sh start DIR); the rowset
// program is taken from this program's folder.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/common/TestServer.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
using rowset::test::RootSql;
using rowset::test::Server;

int Shell(const std::string& Cmd) {
  int rc = std::system(Cmd.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

double Timed(const std::string& Cmd) {
  const auto start = Clock::now();
  if (Shell(Cmd) != 0) {
    std::fprintf(stderr, "failed: %s\n", Cmd.c_str());
    std::exit(1);
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string Checksum(const std::string& Db) {
  std::string out = RootSql("CHECKSUM TABLE `" + Db + "`.`load_rows`;");
  size_t tab = out.find('\t');
  return tab == std::string::npos ? out : out.substr(tab + 1);
}

}  // namespace

int main(int argc, char** argv) {
  const long mb = argc > 1 ? std::atol(argv[1]) : 100;
  const std::string driver = argc > 2 ? argv[2] : "direct";
  const auto& s = Server();
  const fs::path dir = fs::absolute(fs::path(argv[0]).parent_path());
  const std::string rowset = (dir / "rowset").string();
  const fs::path dump = fs::temp_directory_path() / ("rowset_load_dump_" + std::to_string(::getpid()) + ".sql");

  // About 188 bytes of dump per row.
  const long rows = mb * 1000000 / 188;
  RootSql(
      "DROP DATABASE IF EXISTS rowset_load_src; CREATE DATABASE rowset_load_src;"
      "CREATE TABLE rowset_load_src.load_rows (id INT PRIMARY KEY, name VARCHAR(64),"
      " amount DECIMAL(12,2), note TEXT, stamp DATETIME, raw VARBINARY(16)) ENGINE=InnoDB;"
      "INSERT INTO rowset_load_src.load_rows SELECT seq, CONCAT('row ', seq, ' it''s \"quoted\"'),"
      " seq / 7, IF(seq % 10 = 0, NULL, CONCAT(REPEAT(MD5(seq), 3), '\\nline two')),"
      " '2026-01-01' + INTERVAL seq SECOND, UNHEX(MD5(seq)) FROM rowset_load_src.seq_1_to_" + std::to_string(rows) + ";");
  std::string dump_cmd = "mariadb-dump --no-defaults -S '" + s.socket + "' -uroot rowset_load_src > '" +
                         dump.string() + "'";
  if (Shell(dump_cmd) != 0) {
    std::fprintf(stderr, "mariadb-dump failed\n");
    return 1;
  }
  const double size_mb = static_cast<double>(fs::file_size(dump)) / 1e6;
  const std::string login = " -h " + s.host + " -P " + std::to_string(s.port) + " -u " + s.user;

  double best_ref = 1e30, best_rowset = 1e30;
  for (int round = 0; round < 2; ++round) {
    for (int which = 0; which < 2; ++which) {
      const bool ref = (which + round) % 2 == 0;
      const std::string db = ref ? "rowset_load_ref" : "rowset_load_cli";
      RootSql("DROP DATABASE IF EXISTS " + db + "; CREATE DATABASE " + db + ";");
      if (ref) {
        best_ref = std::min(best_ref, Timed("mariadb --no-defaults" + login + " " + db + " < '" + dump.string() + "'"));
      } else {
        best_rowset = std::min(best_rowset, Timed("'" + rowset + "' --driver " + driver + login + " -D " + db +
                                                  " '" + dump.string() + "' > /dev/null"));
      }
    }
  }
  const std::string src = Checksum("rowset_load_src"), ref = Checksum("rowset_load_ref"),
                    cli = Checksum("rowset_load_cli");
  fs::remove(dump);
  RootSql("DROP DATABASE rowset_load_src; DROP DATABASE rowset_load_ref; DROP DATABASE rowset_load_cli;");
  std::printf("dump: %.1f MB, %ld rows\n", size_mb, rows);
  std::printf("mariadb < dump.sql: %.2f s\n", best_ref);
  std::printf("rowset (%s) dump.sql: %.2f s\n", driver.c_str(), best_rowset);
  std::printf("ratio rowset / mariadb: %.3f (target <= 1.1)\n", best_rowset / best_ref);
  if (src != ref || src != cli) {
    std::printf("CHECKSUM TABLE differs: source %s, mariadb %s, rowset %s\n", src.c_str(), ref.c_str(),
                cli.c_str());
    return 1;
  }
  std::printf("CHECKSUM TABLE agrees: %s\n", src.c_str());
  return 0;
}
