// The rowset program without a server of its own: the command line, and the
// demo on the embedded server in a fresh data directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "tests/tools/RowsetRun.h"

namespace rowset::test {
namespace {

namespace fs = std::filesystem;

TEST(RowsetProgramTest, HelpDocumentsEveryOption) {
  RowsetResult r = RunRowset("--help");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  for (const char* option : {"--driver", "--host", "--port", "--socket", "--user", "--password",
                             "--database", "--compress", "--datadir", "--execute", "--format",
                             "--force", "--quick", "--json-numbers", "--verbose", "--help", "--version", "demo", "MYSQL_PWD",
                             "--ssl-mode", "--ssl-ca", "--ssl-cert", "--ssl-key", "VERIFY_IDENTITY",
                             "\\edit", "XDG_DATA_HOME"})
    EXPECT_NE(r.out.find(option), std::string::npos) << option;
}

TEST(RowsetProgramTest, BadOptionsGiveOneLineAndExitCode2) {
  TempDir home;
  const std::string env = "XDG_DATA_HOME=" + ShellQuote(home.Path().string());
  for (const char* args : {"--bogus", "--port 70000", "--port", "--host", "--driver odbc",
                           "--format xml", "-P70000", "-Pabc", "--compress=1",
                           "--driver direct --socket /tmp/x.sock", "--driver embedded --host h",
                           "--host h --datadir /tmp/d", "demo extra.sql", "no-such-file.sql",
                           "--ssl-mode sometimes", "--ssl-mode", "--ssl-ca=",
                           "--driver embedded --ssl-mode required"}) {
    RowsetResult r = RunRowset(args, "", env);
    EXPECT_EQ(r.exit_code, 2) << args;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << args << ": " << r.err;
    EXPECT_EQ(r.err.rfind("rowset: ", 0), 0u) << r.err;
    EXPECT_EQ(r.out, "") << args;
  }
  // Nothing was started for a bad command line.
  EXPECT_FALSE(fs::exists(home.Path() / "rowset"));
}

TEST(RowsetProgramTest, DemoRunsOnTheEmbeddedServerFromAFreshDataDirectory) {
  TempDir home;
  const std::string env = "XDG_DATA_HOME=" + ShellQuote(home.Path().string());
  RowsetResult r = RunRowset("demo", "", env);
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("-embedded"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("tables in rowset_demo: customers,orders"), std::string::npos) << r.out;
  // The tables were made from their field definitions; the lookup finds
  // each order's customer.
  EXPECT_NE(r.out.find("create table if not exists orders (id int not null auto_increment, "
                       "customer_id int not null,"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("M6 bolts               -> Bolt & Nut"), std::string::npos) << r.out;
  // Master/detail: the second customer's orders only.
  const size_t bolt = r.out.find("customer 2: Bolt & Nut (Turin)");
  ASSERT_NE(bolt, std::string::npos) << r.out;
  const std::string block = r.out.substr(bolt, r.out.find("customer 3", bolt) - bolt);
  EXPECT_NE(block.find("M6 bolts"), std::string::npos) << block;
  EXPECT_EQ(block.find("yeast"), std::string::npos) << block;
  EXPECT_NE(block.find("(2 rows)"), std::string::npos) << block;
  // The edit's generated statement, and the cached updates sent in a transaction.
  EXPECT_NE(r.out.find("SQL> update orders set qty='24' where (id='2')"), std::string::npos) << r.out;
  const size_t start = r.out.find("SQL> start transaction");
  const size_t del = r.out.find("SQL> delete from orders where (id='4')");
  const size_t commit = r.out.find("SQL> commit");
  ASSERT_NE(start, std::string::npos) << r.out;
  EXPECT_LT(start, del);
  EXPECT_LT(del, commit);
  EXPECT_NE(r.out.find("vanilla \"bourbon\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("(5 rows)"), std::string::npos) << r.out;

  // The data directory was made; the server's chatter went to its log, not
  // to the terminal.
  const fs::path dir = home.Path() / "rowset";
  EXPECT_TRUE(fs::is_directory(dir / "db"));
  EXPECT_EQ(r.err, "");
  EXPECT_NE(ReadText(dir / "server.log").find("mysql.plugin"), std::string::npos);

  // A second run on the same directory starts over.
  RowsetResult again = RunRowset("demo", "", env);
  EXPECT_EQ(again.exit_code, 0) << again.err;
  EXPECT_EQ(again.out.substr(again.out.find("== A database")),
            r.out.substr(r.out.find("== A database")));
  EXPECT_EQ(again.err, "");
}

TEST(RowsetProgramTest, VerboseShowsTheEmbeddedServersMessages) {
  TempDir home;
  RowsetResult r = RunRowset("--verbose -e 'select 1'", "", "XDG_DATA_HOME=" + ShellQuote(home.Path().string()));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find("mysql.plugin"), std::string::npos) << r.err;
}

TEST(RowsetProgramTest, EmbeddedScriptsKeepTheirDatabaseBetweenRuns) {
  TempDir home;
  const std::string env = "XDG_DATA_HOME=" + ShellQuote(home.Path().string());
  RowsetResult made = RunRowset("-D notes -e " + ShellQuote("create table n (t text); insert into n values ('kept');"), "", env);
  ASSERT_EQ(made.exit_code, 0) << made.err;
  EXPECT_NE(made.out.find("Query OK, 1 row affected"), std::string::npos) << made.out;
  // The system tables were made on first use: stored procedures work.
  RowsetResult read = RunRowset("-D notes --format tsv",
                                "create procedure kept() select t from n;\ncall kept();\n", env);
  ASSERT_EQ(read.exit_code, 0) << read.err;
  EXPECT_EQ(read.out, "t\nkept\n");
}

TEST(RowsetProgramTest, CtrlCKillsAStatementOfTheEmbeddedServer) {
  if (Shell("command -v tmux").exit_code != 0) GTEST_SKIP() << "tmux is not installed";
  TempDir home;
  const std::string tmux = "tmux -L rowset-embedded-" + std::to_string(::getpid()) + " -f /dev/null ";
  auto screen = [&] { return Shell(tmux + "capture-pane -p -t e").out; };
  auto wait_for = [&](const std::string& Text) {
    for (int i = 0; i < 600; ++i) {
      if (screen().find(Text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  };
  // The shell outlives the Ctrl-C that the whole foreground group receives.
  Shell(tmux + "new-session -d -s e -x 120 -y 40 " +
        ShellQuote("trap true INT; XDG_DATA_HOME=" + ShellQuote(home.Path().string()) + " " +
                   ShellQuote(RowsetBinary()) + "; echo EXITED $?; sleep 30"));
  EXPECT_TRUE(wait_for("rowset>")) << screen();
  Shell(tmux + "send-keys -t e -l 'select sleep(30) as s'");
  Shell(tmux + "send-keys -t e -H 3b");
  Shell(tmux + "send-keys -t e Enter");
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  const auto start = std::chrono::steady_clock::now();
  Shell(tmux + "send-keys -t e C-c");
  EXPECT_TRUE(wait_for("Ctrl-C -- query killed.")) << screen();
  // The embedded server gives SQL states.
  EXPECT_TRUE(wait_for("ERROR 1317 (70100): Query execution was interrupted")) << screen();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
  Shell(tmux + "send-keys -t e -l '\\q'");
  Shell(tmux + "send-keys -t e Enter");
  EXPECT_TRUE(wait_for("EXITED 0")) << screen();
  Shell(tmux + "kill-server");
}

TEST(RowsetProgramTest, ASecondProcessOnTheSameDataDirectoryIsRefusedAtOnce) {
  TempDir home, io;
  const std::string datadir = (home.Path() / "data").string();
  // The first program keeps its embedded server running while its input
  // stays open.
  const std::string first_cmd = "exec " + ShellQuote(RowsetBinary()) + " --datadir " + ShellQuote(datadir) +
                                " --format tsv > " + ShellQuote((io.Path() / "out").string()) + " 2>&1";
  FILE* first = popen(first_cmd.c_str(), "w");
  ASSERT_NE(first, nullptr);
  std::fputs("select 'up' as state;\n", first);
  std::fflush(first);
  bool up = false;
  for (int i = 0; i < 600 && !up; ++i) {
    up = ReadText(io.Path() / "out").find("up\n") != std::string::npos;
    if (!up) usleep(100000);
  }
  ASSERT_TRUE(up) << ReadText(io.Path() / "out");

  RowsetResult second = RunRowset("--datadir " + ShellQuote(datadir) + " -e 'select 1'");
  EXPECT_EQ(second.exit_code, 1);
  EXPECT_EQ(second.out, "");
  EXPECT_NE(second.err.find("the data directory " + datadir + " is in use by process "), std::string::npos)
      << second.err;
  EXPECT_NE(second.err.find("(rowset)"), std::string::npos) << second.err;

  std::fputs("select 'still' as state;\n", first);
  EXPECT_EQ(pclose(first), 0);
  EXPECT_NE(ReadText(io.Path() / "out").find("still\n"), std::string::npos);
  // Once the first has ended, the directory is free again.
  RowsetResult third = RunRowset("--datadir " + ShellQuote(datadir) + " --format tsv -e 'select 2 as two'");
  EXPECT_EQ(third.exit_code, 0) << third.err;
  EXPECT_EQ(third.out, "two\n2\n");
}

}  // namespace
}  // namespace rowset::test
