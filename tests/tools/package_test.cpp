// The Debian package made by cpack from this build: its control fields and
// the files it installs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/tools/Shell.h"

namespace rowset::test {
namespace {

namespace fs = std::filesystem;

TEST(PackageTest, DebianPackageDeclaresItsDependenciesAndHoldsTheLibrary) {
  const fs::path out = fs::path(BuildSetting("ROWSET_BINARY_DIR")) / "tools-package";
  fs::remove_all(out);
  ShellResult r = Shell(ShellQuote(BuildSetting("ROWSET_CPACK")) + " -G DEB --config " +
                        ShellQuote(BuildSetting("ROWSET_BINARY_DIR") + "/CPackConfig.cmake") +
                        " -B " + ShellQuote(out.string()));
  ASSERT_EQ(r.exit_code, 0) << r.out;
  const std::string version = BuildSetting("ROWSET_VERSION");
  const fs::path deb = out / ("rowset_" + version + "_amd64.deb");
  ASSERT_TRUE(fs::exists(deb)) << r.out;

  ShellResult info = Shell("dpkg-deb --info " + ShellQuote(deb.string()));
  ASSERT_EQ(info.exit_code, 0) << info.out;
  EXPECT_NE(info.out.find(" Package: rowset\n"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find(" Version: " + version + "\n"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find(" Depends: libmariadb3, zlib1g, libedit2\n"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find(" Recommends: libmariadbd19"), std::string::npos) << info.out;

  ShellResult contents = Shell("dpkg-deb --contents " + ShellQuote(deb.string()));
  ASSERT_EQ(contents.exit_code, 0) << contents.out;
  const std::string lib = "./usr/" + BuildSetting("ROWSET_INSTALL_LIBDIR") + "/";
  const bool shared = BuildSetting("ROWSET_SHARED") == "1";
  for (const std::string& file :
       {std::string("./usr/include/rowset/rowset.h"),
        std::string("./usr/include/rowset/components/MySQLServer.h"),
        std::string("./usr/include/rowset/drivers/MySQLDrivers.h"),
        std::string("./usr/bin/rowset"),
        lib + (shared ? "librowset.so" : "librowset.a"),
        lib + "cmake/rowset/rowsetConfig.cmake",
        lib + "pkgconfig/rowset.pc"})
    EXPECT_TRUE(contents.out.find(" " + file + "\n") != std::string::npos ||
                contents.out.find(" " + file + " -> ") != std::string::npos)  // a link
        << file;
  // The packaged headers include each other through the rowset folder.
  const fs::path root = out / "root";
  ASSERT_EQ(Shell("dpkg-deb -x " + ShellQuote(deb.string()) + " " + ShellQuote(root.string()))
                .exit_code,
            0);
  std::ifstream header(root / "usr/include/rowset/components/MySQLServer.h");
  std::stringstream header_text;
  header_text << header.rdbuf();
  EXPECT_NE(header_text.str().find("#include \"rowset/host/Classes.h\""), std::string::npos);
  EXPECT_EQ(header_text.str().find("#include \"host/"), std::string::npos);

  // Nothing of the tests or of the build tree, nothing outside /usr.
  std::istringstream lines(contents.out);
  for (std::string line; std::getline(lines, line);) {
    const auto path = line.find(" ./");
    ASSERT_NE(path, std::string::npos) << line;
    EXPECT_EQ(line.compare(path, 7, " ./usr/"), 0) << line;
    EXPECT_EQ(line.find("test"), std::string::npos) << line;
    EXPECT_EQ(line.find("gtest"), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace rowset::test
