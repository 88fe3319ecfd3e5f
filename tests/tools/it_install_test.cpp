// The library as an application meets it: installed into a fresh prefix, the
// examples configured with find_package (and one compiled with pkg-config)
// against that prefix only, then run against the test server.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/common/TestServer.h"
#include "tests/tools/Shell.h"

namespace rowset::test {
namespace {

namespace fs = std::filesystem;

fs::path WorkDir() { return fs::path(BuildSetting("ROWSET_BINARY_DIR")) / "tools-install"; }
fs::path Prefix() { return WorkDir() / "prefix"; }
fs::path LibDir() { return Prefix() / BuildSetting("ROWSET_INSTALL_LIBDIR"); }

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string ServerArgs(const std::string& password) {
  const auto& s = Server();
  return ShellQuote(s.host) + " " + std::to_string(s.port) + " " + ShellQuote(s.pw_user) + " " +
         ShellQuote(password);
}

class InstallTest : public ::testing::Test {
 protected:
  // One install for the whole program; the build tree is only read.
  static void SetUpTestSuite() {
    fs::remove_all(WorkDir());
    fs::create_directories(WorkDir());
    install_ = Shell(ShellQuote(BuildSetting("ROWSET_CMAKE")) + " --install " +
                     ShellQuote(BuildSetting("ROWSET_BINARY_DIR")) + " --prefix " +
                     ShellQuote(Prefix().string()));
  }
  void SetUp() override { ASSERT_EQ(install_.exit_code, 0) << install_.out; }

  static ShellResult install_;
};
ShellResult InstallTest::install_;

TEST_F(InstallTest, InstalledHeadersIncludeOnlyInstalledHeaders) {
  const fs::path include = Prefix() / "include";
  ASSERT_TRUE(fs::exists(include / "rowset" / "rowset.h"));
  ASSERT_TRUE(fs::exists(include / "rowset" / "components" / "MySQLServer.h"));
  EXPECT_FALSE(fs::exists(include / "rowset" / "tests"));
  // Every project include names a header under rowset/ that was installed.
  const std::string layers[] = {"host/", "util/", "wire/", "drivers/", "parser/", "components/",
                                "design/"};
  int headers = 0;
  for (const auto& entry : fs::recursive_directory_iterator(include / "rowset")) {
    if (entry.path().extension() != ".h") continue;
    ++headers;
    std::istringstream lines(ReadFile(entry.path()));
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("#include \"", 0) != 0) continue;
      const std::string name = line.substr(10, line.find('"', 10) - 10);
      for (const std::string& layer : layers)
        EXPECT_NE(name.rfind(layer, 0), 0u) << entry.path() << " includes " << name;
      if (name.rfind("rowset/", 0) == 0) {
        EXPECT_TRUE(fs::exists(include / name)) << entry.path() << " includes " << name;
      }
    }
  }
  EXPECT_GT(headers, 20);
}

TEST_F(InstallTest, PackageFilesAndProgramsAreInstalled) {
  const bool shared = BuildSetting("ROWSET_SHARED") == "1";
  EXPECT_TRUE(fs::exists(LibDir() / (shared ? "librowset.so" : "librowset.a")));
  EXPECT_TRUE(fs::exists(LibDir() / "cmake" / "rowset" / "rowsetConfig.cmake"));
  EXPECT_TRUE(fs::exists(LibDir() / "cmake" / "rowset" / "rowsetConfigVersion.cmake"));
  const std::string pc = ReadFile(LibDir() / "pkgconfig" / "rowset.pc");
  EXPECT_NE(pc.find("Version: " + BuildSetting("ROWSET_VERSION")), std::string::npos) << pc;
  // The installed main program runs from the prefix against the server.
  ShellResult run = Shell("MYSQL_PWD=" + ShellQuote(Server().pw_password) + " " +
                          ShellQuote((Prefix() / "bin" / "rowset").string()) + " --host " +
                          ShellQuote(Server().host) + " --port " + std::to_string(Server().port) +
                          " --user " + ShellQuote(Server().pw_user) +
                          " -e 'select 6*7 as answer'");
  EXPECT_EQ(run.exit_code, 0) << run.out;
  EXPECT_NE(run.out.find("| answer |"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("|     42 |"), std::string::npos) << run.out;
}

// The examples, configured and built once against the prefix.
const ShellResult& BuildExamples(const fs::path& build) {
  static const ShellResult result = [&] {
    std::string configure = ShellQuote(BuildSetting("ROWSET_CMAKE")) + " -S " +
                            ShellQuote(BuildSetting("ROWSET_SOURCE_DIR") + "/examples") + " -B " +
                            ShellQuote(build.string()) + " -DCMAKE_PREFIX_PATH=" +
                            ShellQuote(Prefix().string()) + " -DCMAKE_CXX_COMPILER=" +
                            ShellQuote(BuildSetting("ROWSET_CXX_COMPILER"));
    if (!BuildSetting("ROWSET_CCACHE").empty())
      configure += " -DCMAKE_CXX_COMPILER_LAUNCHER=" + ShellQuote(BuildSetting("ROWSET_CCACHE"));
    ShellResult r = Shell(configure);
    if (r.exit_code != 0) return r;
    return Shell(ShellQuote(BuildSetting("ROWSET_CMAKE")) + " --build " +
                 ShellQuote(build.string()));
  }();
  return result;
}

TEST_F(InstallTest, ExamplesBuiltWithFindPackageRunAgainstTheServer) {
  const fs::path build = WorkDir() / "examples";
  ShellResult r = BuildExamples(build);
  ASSERT_EQ(r.exit_code, 0) << r.out;

  const std::string program = ShellQuote((build / "connect_and_query").string());
  r = Shell(program + " " + ServerArgs(Server().pw_password) + " " +
            ShellQuote("select 'pear' as fruit, 2 as n union all select 'it''s a plum', null"));
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(r.out, "pear | 2\nit's a plum | NULL\n");

  r = Shell(program + " " + ServerArgs(Server().pw_password) + " " + ShellQuote("select from"));
  EXPECT_EQ(r.exit_code, 1) << r.out;
  EXPECT_NE(r.out.find("[1064]"), std::string::npos) << r.out;

  r = Shell(program + " " + ServerArgs("wrong"));
  EXPECT_EQ(r.exit_code, 1) << r.out;
  EXPECT_NE(r.out.find("Could not connect to mysql server using:"), std::string::npos) << r.out;
}

TEST_F(InstallTest, EditExampleChangesTheTableAndShowsItsStatements) {
  const fs::path build = WorkDir() / "examples";
  ShellResult r = BuildExamples(build);
  ASSERT_EQ(r.exit_code, 0) << r.out;

  const std::string db = FreshDatabase("example_edit");
  RootSql("USE `" + db + "`; CREATE TABLE fruit (id INT AUTO_INCREMENT PRIMARY KEY, "
          "name VARCHAR(40), qty INT) ENGINE=InnoDB; "
          "INSERT INTO fruit VALUES (1, 'apple', 3), (2, 'pear', 5), (3, 'plum', 2);");
  r = Shell(ShellQuote((build / "edit_table").string()) + " " + ServerArgs(Server().pw_password) +
            " " + ShellQuote(db));
  EXPECT_EQ(r.exit_code, 0) << r.out;
  // Read back over a connection of its own: apple raised, pear gone, kiwi added.
  EXPECT_EQ(RootSql("SELECT id, name, qty FROM `" + db + "`.fruit ORDER BY id"),
            "1\tapple\t4\n3\tplum\t2\n4\tkiwi\t7\n");
  EXPECT_NE(r.out.find("new id: 4\n"), std::string::npos) << r.out;
  // Each statement is printed as it was sent, in order.
  size_t at = 0;
  for (const char* line : {"SQL: select * from fruit",
                           "SQL: update fruit set qty='4' where (id='1') AND (qty='3')\n",
                           "SQL: delete from fruit where (id='2')\n",
                           "SQL: insert into fruit set name='kiwi',qty='7'\n"}) {
    at = r.out.find(line, at);
    EXPECT_NE(at, std::string::npos) << line << "\n" << r.out;
    if (at == std::string::npos) break;
  }
  RootSql("DROP DATABASE `" + db + "`;");
}

TEST_F(InstallTest, WorkerThreadExampleGetsItsRowsOnTheMainThread) {
  const fs::path build = WorkDir() / "examples";
  ShellResult r = BuildExamples(build);
  ASSERT_EQ(r.exit_code, 0) << r.out;

  const std::string program = ShellQuote((build / "worker_thread").string());
  r = Shell(program + " " + ServerArgs(Server().pw_password) + " " +
            ShellQuote("select 'pear' as fruit, 2 as n union all select 'plum', null"));
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(r.out, "pear | 2\nplum | NULL\n");

  // The worker's error text arrives on the main thread.
  r = Shell(program + " " + ServerArgs(Server().pw_password) + " " + ShellQuote("select from"));
  EXPECT_EQ(r.exit_code, 1) << r.out;
  EXPECT_NE(r.out.find("[1064]"), std::string::npos) << r.out;
}

TEST_F(InstallTest, PackageRefusesARequestForTheNextMinorVersion) {
  // Before 1.0 a minor version may change the interface.
  const std::string version = BuildSetting("ROWSET_VERSION");
  const auto dot = version.find('.');
  const int minor = std::stoi(version.substr(dot + 1));
  const std::string wanted = version.substr(0, dot) + "." + std::to_string(minor + 1);
  const fs::path source = WorkDir() / "next_minor";
  fs::create_directories(source);
  std::ofstream(source / "CMakeLists.txt")
      << "cmake_minimum_required(VERSION 3.25)\nproject(next_minor LANGUAGES NONE)\n"
      << "find_package(rowset " << wanted << " REQUIRED)\n";
  ShellResult r = Shell(ShellQuote(BuildSetting("ROWSET_CMAKE")) + " -S " +
                        ShellQuote(source.string()) + " -B " +
                        ShellQuote((source / "build").string()) + " -DCMAKE_PREFIX_PATH=" +
                        ShellQuote(Prefix().string()));
  EXPECT_NE(r.exit_code, 0) << r.out;
  EXPECT_NE(r.out.find("version: " + version), std::string::npos) << r.out;
}

TEST_F(InstallTest, ExampleBuiltWithPkgConfigRunsAgainstTheServer) {
  const std::string env =
      "PKG_CONFIG_PATH=" + ShellQuote((LibDir() / "pkgconfig").string()) + " ";
  ShellResult flags = Shell(env + "pkg-config --cflags --libs rowset");
  ASSERT_EQ(flags.exit_code, 0) << flags.out;
  EXPECT_NE(flags.out.find("-lrowset"), std::string::npos) << flags.out;

  const fs::path program = WorkDir() / "connect_and_query_pc";
  ShellResult r = Shell(
      ShellQuote(BuildSetting("ROWSET_CXX_COMPILER")) + " -std=c++20 -o " +
      ShellQuote(program.string()) + " " +
      ShellQuote(BuildSetting("ROWSET_SOURCE_DIR") + "/examples/connect_and_query.cpp") + " $(" +
      env + "pkg-config --cflags --libs rowset)");
  ASSERT_EQ(r.exit_code, 0) << r.out;

  // Without a statement the example shows the server version and the account.
  // (A shared library in a private prefix is found through the loader path.)
  r = Shell("LD_LIBRARY_PATH=" + ShellQuote(LibDir().string()) + " " +
            ShellQuote(program.string()) + " " + ServerArgs(Server().pw_password));
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_NE(r.out.find(" | " + Server().pw_user + "@"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace rowset::test
