// The rowset program against the mariadb command-line client, in the same
// run and on the same server: printing a large result as TSV, and replaying
// a mariadb-dump file.
//
//   rowset -e 'select * from T' --format tsv > /dev/null
//       vs mariadb -B -e ... (and mariadb -B --quick, the memory reference)
//   rowset -D DB < dump.sql   vs   mariadb DB < dump.sql
//
// Each command runs as a child process, three times in alternating order;
// the best wall time, the best CPU time (user + system, from wait4) and the
// smallest peak resident memory of each count. Prints the figures and the
// ratios to the reference (targets: wall and CPU <= 1.0 of mariadb -B and
// of mariadb < dump.sql; peak memory <= 2x mariadb -B --quick for the
// result and <= 2x mariadb < dump.sql for the replay). Wall and peak memory
// (in kB) are printed for each run; ratios in parentheses are to the
// reference of the section.
//
// Usage: bench_program_vs_mariadb [ROWS [direct|library]]; ROWS defaults to
// 200000 (a few seconds a run; the figures were for 1000000). The
// server is the one named by ROWSET_TEST_SERVER_ENV (scripts/testserver.sh
// start DIR); the rowset program is taken from this program's folder.
#include <sys/resource.h>
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

struct Usage {
  double wall = 1e99, cpu = 1e99;
  long rss_kb = 0;
  bool seen = false;
  void Take(double Wall, double Cpu, long Rss) {
    wall = std::min(wall, Wall);
    cpu = std::min(cpu, Cpu);
    rss_kb = seen ? std::min(rss_kb, Rss) : Rss;
    seen = true;
  }
};

// Runs "exec Cmd" through /bin/sh and adds its figures to U.
void Measure(const std::string& Cmd, Usage& U) {
  const std::string full = "exec " + Cmd;
  const auto start = Clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", full.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  struct rusage use {};
  wait4(pid, &status, 0, &use);
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "failed: %s\n", Cmd.c_str());
    std::exit(1);
  }
  const double cpu = use.ru_utime.tv_sec + use.ru_utime.tv_usec / 1e6 + use.ru_stime.tv_sec +
                     use.ru_stime.tv_usec / 1e6;
  U.Take(wall, cpu, use.ru_maxrss);
}

void Report(const char* Name, const Usage& U, const Usage& Ref, const Usage& MemRef) {
  std::printf("  %-28s %7.3f s wall (%.2fx)  %7.3f s CPU (%.2fx)  %7ld kB peak (%.2fx)\n", Name,
              U.wall, U.wall / Ref.wall, U.cpu, U.cpu / Ref.cpu, U.rss_kb,
              static_cast<double>(U.rss_kb) / MemRef.rss_kb);
}

std::string Quote(const std::string& S) { return "'" + S + "'"; }

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::atol(argv[1]) : 200000;
  const std::string driver = argc > 2 ? argv[2] : "direct";
  const auto& s = Server();
  const fs::path dir = fs::absolute(fs::path(argv[0]).parent_path());
  const std::string rowset = (dir / "rowset").string();
  const std::string db = "rowset_bench_prog", replay = "rowset_bench_prog_replay";
  const fs::path dump = fs::temp_directory_path() / ("rowset_bench_prog_" + std::to_string(::getpid()) + ".sql");

  RootSql("DROP DATABASE IF EXISTS " + db + "; CREATE DATABASE " + db + " DEFAULT CHARSET utf8mb4; USE " + db +
          "; CREATE TABLE t (id INT PRIMARY KEY, n INT, name VARCHAR(40), amount DECIMAL(12,2),"
          " at DATETIME, note TEXT) SELECT seq AS id, seq * 7 % 1000 AS n,"
          " CONCAT('name ', seq, ' tab\\there') AS name, seq / 100 AS amount,"
          " '2026-01-01' + INTERVAL seq SECOND AS at, IF(seq % 3 = 0, NULL, REPEAT('n', seq % 50)) AS note"
          " FROM seq_1_to_" + std::to_string(rows) + ";");
  if (std::system(("mariadb-dump --no-defaults -S " + Quote(s.socket) + " -uroot " + db + " t > " +
                   Quote(dump.string())).c_str()) != 0) {
    std::fprintf(stderr, "mariadb-dump failed\n");
    return 1;
  }
  const std::string mariadb = "mariadb --no-defaults --protocol=tcp -h " + s.host + " -P " +
                              std::to_string(s.port) + " -u " + s.user;
  const std::string login = Quote(rowset) + " --driver " + driver + " --host " + s.host + " --port " +
                            std::to_string(s.port) + " --user " + s.user;
  const std::string select = " -e 'select * from t' ";

  Usage m_batch, m_quick, r_tsv, m_load, r_load;
  for (int round = 0; round < 3; ++round) {
    Measure(mariadb + " -B -D " + db + select + "> /dev/null", m_batch);
    Measure(login + " -D " + db + select + "--format tsv > /dev/null", r_tsv);
    Measure(mariadb + " -B --quick -D " + db + select + "> /dev/null", m_quick);
  }
  for (int round = 0; round < 3; ++round) {
    for (int who = 0; who < 2; ++who) {
      RootSql("DROP DATABASE IF EXISTS " + replay + "; CREATE DATABASE " + replay + ";");
      if (who == 0) Measure(mariadb + " " + replay + " < " + Quote(dump.string()) + " > /dev/null", m_load);
      else Measure(login + " -D " + replay + " < " + Quote(dump.string()) + " > /dev/null", r_load);
    }
  }
  RootSql("DROP DATABASE IF EXISTS " + replay + ";");
  const auto dump_mb = static_cast<double>(fs::file_size(dump)) / 1e6;
  fs::remove(dump);

  std::printf("%ld rows, %s driver\nselect * as TSV:\n", rows, driver.c_str());
  Report("mariadb -B", m_batch, m_batch, m_quick);
  Report("mariadb -B --quick", m_quick, m_batch, m_quick);
  Report("rowset --format tsv", r_tsv, m_batch, m_quick);
  std::printf("replay of a %.1f MB dump:\n", dump_mb);
  Report("mariadb < dump.sql", m_load, m_load, m_load);
  Report("rowset < dump.sql", r_load, m_load, m_load);
  std::printf("ratios (targets: wall, CPU <= 1.0; peak <= 2.0x mariadb -B --quick, resp. mariadb < dump):\n"
              "  tsv: wall %.2f  CPU %.2f  peak %.2f\n  dump: wall %.2f  CPU %.2f  peak %.2f\n",
              r_tsv.wall / m_batch.wall, r_tsv.cpu / m_batch.cpu,
              static_cast<double>(r_tsv.rss_kb) / m_quick.rss_kb, r_load.wall / m_load.wall,
              r_load.cpu / m_load.cpu, static_cast<double>(r_load.rss_kb) / m_load.rss_kb);
  return 0;
}
