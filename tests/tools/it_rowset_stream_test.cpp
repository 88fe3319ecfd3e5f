// The rowset program's data path against the test server: every result of a
// CALL, rows of INSERT/DELETE ... RETURNING, scripts run while they are
// still being written, results printed in memory that does not grow with
// the rows, a lost connection made again outside a transaction only, and
// the JSON forms.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/common/TestServer.h"
#include "tests/tools/RowsetRun.h"

namespace rowset::test {
namespace {

std::string Login(const std::string& Driver) {
  const auto& s = Server();
  return "--driver " + Driver + " --host " + s.host + " --port " + std::to_string(s.port) + " --user " + s.user;
}

size_t Count(const std::string& Text, const std::string& Part) {
  size_t n = 0;
  for (size_t at = Text.find(Part); at != std::string::npos; at = Text.find(Part, at + 1)) ++n;
  return n;
}

// The program running with its standard input a pipe the test writes to,
// its output and errors going to files.
class PipedRowset {
 public:
  explicit PipedRowset(const std::string& Args) {
    const std::string cmd = ShellQuote(RowsetBinary()) + " " + Args + " > " +
                            ShellQuote((dir_.Path() / "out").string()) + " 2> " +
                            ShellQuote((dir_.Path() / "err").string());
    pipe_ = popen(cmd.c_str(), "w");
  }
  ~PipedRowset() {
    if (pipe_ != nullptr) pclose(pipe_);
  }
  bool Started() const { return pipe_ != nullptr; }
  void Write(const std::string& Text) {
    std::fwrite(Text.data(), 1, Text.size(), pipe_);
    std::fflush(pipe_);
  }
  // Closes the input; the program's exit code.
  int Close() {
    int status = pclose(pipe_);
    pipe_ = nullptr;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Out() const { return ReadText(dir_.Path() / "out"); }
  std::string Err() const { return ReadText(dir_.Path() / "err"); }
  // Waits up to 20 s for the output to hold Text.
  bool WaitForOutput(const std::string& Text) const {
    for (int i = 0; i < 200; ++i) {
      if (Out().find(Text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }

 private:
  TempDir dir_;
  FILE* pipe_ = nullptr;
};

// Peak resident memory (kB) of "rowset Args > /dev/null", and its exit code.
long PeakKb(const std::string& Args, int& ExitCode) {
  const std::string cmd = "exec " + ShellQuote(RowsetBinary()) + " " + Args + " > /dev/null 2>&1";
  pid_t pid = fork();
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  struct rusage use {};
  wait4(pid, &status, 0, &use);
  ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return use.ru_maxrss;
}

class RowsetStreamTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    db_ = FreshDatabase("rowset_stream");
    RootSql("USE " + db_ + ";"
            "CREATE TABLE r (id INT AUTO_INCREMENT PRIMARY KEY, v VARCHAR(20));"
            "INSERT INTO r (v) VALUES ('a'), ('b');"
            "CREATE TABLE m20 AS SELECT seq, REPEAT('x', 200) AS t FROM seq_1_to_20000;"
            "CREATE TABLE m200 AS SELECT seq, REPEAT('x', 200) AS t FROM seq_1_to_200000;");
    // Procedure bodies need the client's DELIMITER command: a script file.
    TempDir dir;
    WriteText(dir.Path() / "p.sql",
              "DELIMITER //\n"
              "CREATE PROCEDURE two() BEGIN SELECT 1 AS one; SELECT v FROM r ORDER BY id; END//\n"
              "CREATE PROCEDURE fails() BEGIN SELECT 1 AS one; SELECT * FROM no_such_table; END//\n"
              "DELIMITER ;\n");
    ASSERT_EQ(Shell(Server().root_client + " " + db_ + " < " + ShellQuote((dir.Path() / "p.sql").string())).exit_code, 0);
  }
  static std::string db_;
};
std::string RowsetStreamTest::db_;

TEST_F(RowsetStreamTest, CallShowsEveryResultOfAProcedure) {
  RowsetResult r = RunRowset(Login("library") + " -D " + db_ + " --format tsv -e 'call two(); select 9 as nine'");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "one\n1\nv\na\nb\nnine\n9\n");
  r = RunRowset(Login("library") + " -D " + db_ + " -e 'call two()'");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("| one |"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("(2 rows)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Query OK, 0 rows affected"), std::string::npos) << r.out;  // the final count

  // A failure in a later result is raised, after the results before it.
  r = RunRowset(Login("library") + " -D " + db_ + " --format tsv --force -e 'call fails(); select 9 as nine'");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "one\n1\nnine\n9\n");
  EXPECT_NE(r.err.find("ERROR 1146 (42S02) at line 1:"), std::string::npos) << r.err;

  // The built-in client cannot ask for the results: a clear reason.
  r = RunRowset(Login("direct") + " -D " + db_ + " -e 'call two()'");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("ERROR 1312 (0A000) at line 1:"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("built-in client cannot read the results of a procedure"), std::string::npos) << r.err;
}

TEST_F(RowsetStreamTest, CallOnTheEmbeddedServer) {
  TempDir home;
  RowsetResult r = RunRowset("--datadir " + ShellQuote(home.Path().string()) + " --format tsv -D emb",
                             "create table r (v int);\ninsert into r values (1), (2);\n"
                             "delimiter //\ncreate procedure two() begin select 0 as z; select v from r; end//\n"
                             "delimiter ;\ncall two();\nselect 3 as three;\n");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "z\n0\nv\n1\n2\nthree\n3\n");
}

TEST_F(RowsetStreamTest, ReturningRowsAreShown) {
  for (const char* driver : {"direct", "library"}) {
    RootSql("USE " + db_ + "; CREATE OR REPLACE TABLE ret (id INT AUTO_INCREMENT PRIMARY KEY, v VARCHAR(9));");
    RowsetResult r = RunRowset(Login(driver) + " -D " + db_ + " --format tsv",
                               "insert into ret (v) values ('a'), ('b') returning id, v;\n"
                               "delete from ret where v = 'a' returning v;\n");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "id\tv\n1\ta\n2\tb\nv\na\n") << driver;
    r = RunRowset(Login(driver) + " -D " + db_ + " -e \"insert into ret (v) values ('c'), ('d') returning v\"");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("(2 rows)"), std::string::npos) << driver << ": " << r.out;
    EXPECT_EQ(RootSql("SELECT GROUP_CONCAT(v ORDER BY id) FROM " + db_ + ".ret;"), "b,c,d\n");
  }
}

TEST_F(RowsetStreamTest, ScriptsRunWhileTheyAreStillBeingWritten) {
  PipedRowset run(Login("direct") + " -D " + db_ + " --format tsv");
  ASSERT_TRUE(run.Started());
  run.Write("create table early (a int);\ninsert into early values (1);\nselect 'first' as f;\n");
  // The statements ran before the input ended.
  EXPECT_TRUE(run.WaitForOutput("first\n")) << run.Err();
  EXPECT_EQ(RootSql("SELECT COUNT(*) FROM " + db_ + ".early;"), "1\n");
  // A statement split across writes, a string holding ";" and a line break.
  run.Write("insert into early values (\n");
  run.Write("2); select 'x;\ny' as s");
  run.Write(";\n");
  EXPECT_TRUE(run.WaitForOutput("x;\\ny\n")) << run.Out();
  EXPECT_EQ(run.Close(), 0) << run.Err();
  EXPECT_EQ(RootSql("SELECT GROUP_CONCAT(a ORDER BY a) FROM " + db_ + ".early;"), "1,2\n");
}

TEST_F(RowsetStreamTest, ResultsArePrintedInMemoryThatDoesNotGrowWithTheRows) {
  // Ten times the rows: the streaming formats (and the table with --quick)
  // need about the same memory, the held table much more.
  for (const char* format : {"--format tsv", "--format csv", "--format json", "--quick"}) {
    int small_exit = -1, large_exit = -1;
    const std::string args = Login("direct") + " -D " + db_ + " " + format + " -e ";
    const long small = PeakKb(args + "'select * from m20'", small_exit);
    const long large = PeakKb(args + "'select * from m200'", large_exit);
    ASSERT_EQ(small_exit, 0) << format;
    ASSERT_EQ(large_exit, 0) << format;
    EXPECT_LT(static_cast<double>(large) / small, 1.3) << format << ": " << small << " kB vs " << large << " kB";
  }
  // The rows printed are all there.
  RowsetResult r = RunRowset(Login("library") + " -D " + db_ + " --quick -e 'select seq from m200 where seq > 199998'");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find(" 199999 |\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("(2 rows)"), std::string::npos) << r.out;
}

TEST_F(RowsetStreamTest, ALostConnectionIsMadeAgainOnlyOutsideATransaction) {
  for (const char* driver : {"direct", "library"}) {
    PipedRowset run(Login(driver) + " -D " + db_ + " --format tsv --force");
    ASSERT_TRUE(run.Started());
    auto kill_current = [&](const std::string& Marker) {
      run.Write("select connection_id() as " + Marker + ";\n");
      ASSERT_TRUE(run.WaitForOutput(Marker + "\n")) << run.Err();
      const std::string out = run.Out();
      const size_t at = out.find(Marker + "\n") + Marker.size() + 1;
      const std::string id = out.substr(at, out.find('\n', at) - at);
      RootSql("KILL " + id + ";");
    };
    kill_current("c1");
    run.Write("select 'after' as a1;\nselect 'again' as a2;\n");
    ASSERT_TRUE(run.WaitForOutput("again\n")) << driver << ": " << run.Err();
    run.Write("start transaction;\ninsert into r (v) values ('lost');\n");
    kill_current("c2");
    run.Write("select 'late' as a3;\ncommit;\n");
    EXPECT_EQ(run.Close(), 1) << run.Err();
    const std::string err = run.Err();
    EXPECT_EQ(Count(err, "connected again"), 1u) << driver << ": " << err;
    EXPECT_EQ(Count(err, "lost inside a transaction"), 1u) << driver << ": " << err;
    EXPECT_NE(run.Out().find("again\n"), std::string::npos) << run.Out();
    EXPECT_EQ(run.Out().find("late"), std::string::npos) << run.Out();
    EXPECT_EQ(RootSql("SELECT COUNT(*) FROM " + db_ + ".r WHERE v = 'lost';"), "0\n");
  }
}

TEST_F(RowsetStreamTest, JsonGivesOneFormPerColumn) {
  const std::string sql =
      "-e \"select 1 as i, 2.50 as d, 'x' as s, null as n, v, cast(v as binary) as b, 0xc3 as h "
      "from r order by id\"";
  for (const char* driver : {"direct", "library"}) {
    RowsetResult r = RunRowset(Login(driver) + " -D " + db_ + " --format json " + sql);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    // Valid UTF-8 bytes of a binary column are hex like any other.
    EXPECT_EQ(r.out,
              "{\"columns\":[\"i\",\"d\",\"s\",\"n\",\"v\",\"b\",\"h\"],\"rows\":["
              "[\"1\",\"2.50\",\"x\",null,\"a\",{\"hex\":\"61\"},{\"hex\":\"c3\"}],"
              "[\"1\",\"2.50\",\"x\",null,\"b\",{\"hex\":\"62\"},{\"hex\":\"c3\"}]]}\n")
        << driver;
    r = RunRowset(Login(driver) + " -D " + db_ + " --format json --json-numbers " + sql);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("[[1,2.50,\"x\",null,\"a\","), std::string::npos) << driver << ": " << r.out;
  }
}

}  // namespace
}  // namespace rowset::test
