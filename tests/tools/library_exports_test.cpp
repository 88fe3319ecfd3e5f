// The shared library's dynamic symbol table: the rowset namespace and nothing
// else, with what exceptions and virtual calls need across the boundary.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "tests/tools/Shell.h"

namespace rowset::test {
namespace {

std::string SharedLibrary() { return BuildSetting("ROWSET_BINARY_DIR") + "/librowset.so"; }

TEST(LibraryExportsTest, SharedLibraryExportsOnlyTheRowsetNamespace) {
  if (BuildSetting("ROWSET_SHARED") != "1") GTEST_SKIP() << "static build: no librowset.so";
  ShellResult r = Shell("nm -D --defined-only -C " + ShellQuote(SharedLibrary()));
  ASSERT_EQ(r.exit_code, 0) << r.out;
  std::istringstream lines(r.out);
  int count = 0;
  for (std::string line; std::getline(lines, line);) {
    // "<address> <kind> <name>"
    const std::string name = line.size() > 19 ? line.substr(19) : line;
    const bool ours = name.rfind("rowset::", 0) == 0 ||
                      name.find(" for rowset::") != std::string::npos ||
                      name.find(" to rowset::") != std::string::npos ||
                      name.find("-in-rowset::") != std::string::npos;
    EXPECT_TRUE(ours) << line;
    ++count;
  }
  EXPECT_GT(count, 100);
  // Exceptions thrown inside are caught outside by their own type.
  for (const char* name : {"typeinfo for rowset::EMySQLError", "vtable for rowset::TMySQLServer",
                           "typeinfo for rowset::EDatabaseError"})
    EXPECT_NE(r.out.find(std::string(" ") + name + "\n"), std::string::npos) << name;
}

TEST(LibraryExportsTest, SharedLibraryNamesItsVersion) {
  if (BuildSetting("ROWSET_SHARED") != "1") GTEST_SKIP() << "static build: no librowset.so";
  const std::string version = BuildSetting("ROWSET_VERSION");
  const std::string major_minor = version.substr(0, version.rfind('.'));
  ShellResult r = Shell("objdump -p " + ShellQuote(SharedLibrary()));
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_NE(r.out.find("SONAME               librowset.so." + major_minor + "\n"), std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("NEEDED               libmariadb"), std::string::npos)
      << "the client libraries are loaded at run time, not linked";
}

}  // namespace
}  // namespace rowset::test
