// The Debian package made by cpack from this build: its control fields (the
// dependencies a user of the program, of the embedded back end and of the
// CMake/pkg-config files needs), the files it installs, and that what it
// carries is stripped.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/tools/Shell.h"

namespace rowset::test {
namespace {

namespace fs = std::filesystem;

// The value of a control field in `dpkg-deb --info` output; empty when absent.
std::string ControlField(const std::string& Info, const std::string& Name) {
  const std::string key = "\n " + Name + ": ";
  const size_t at = Info.find(key);
  if (at == std::string::npos) return "";
  const size_t start = at + key.size();
  return Info.substr(start, Info.find('\n', start) - start);
}

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
  const std::string depends = ControlField(info.out, "Depends");
  // Loaded at run time (no linker records it); the headers of zlib and OpenSSL for
  // find_package and pkg-config users; versions of what the programs were
  // linked against.
  for (const char* dep : {"libmariadb3", "zlib1g-dev", "libssl-dev", "libedit2 (>= ", "zlib1g (>= ", "libssl3 (>= ",
                          "libc6 (>= ", "libstdc++6 (>= "})
    EXPECT_NE(depends.find(dep), std::string::npos) << dep << " in " << depends;
  // The embedded back end (the program's default) and its system tables.
  const std::string recommends = ControlField(info.out, "Recommends");
  EXPECT_NE(recommends.find("libmariadbd19"), std::string::npos) << recommends;
  EXPECT_NE(recommends.find("mariadb-server-core"), std::string::npos) << recommends;

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

  // Stripped: the program and library carry no debug sections, stripping
  // them again gains nothing, and the whole package is smaller than the two
  // of them stripped.
  uintmax_t stripped_total = 0;
  for (const std::string& file :
       {std::string("usr/bin/rowset"),
        lib.substr(2) + (shared ? "librowset.so" : "librowset.a")}) {
    const fs::path packaged = fs::canonical(root / file);
    ShellResult sections = Shell("readelf -S --wide " + ShellQuote(packaged.string()));
    ASSERT_EQ(sections.exit_code, 0) << sections.out;
    EXPECT_EQ(sections.out.find(".debug_info"), std::string::npos) << file;
    const fs::path again = out / packaged.filename();
    fs::copy_file(packaged, again, fs::copy_options::overwrite_existing);
    ASSERT_EQ(Shell("strip --strip-debug " + ShellQuote(again.string())).exit_code, 0);
    EXPECT_EQ(fs::file_size(packaged), fs::file_size(again)) << file;
    stripped_total += fs::file_size(again);
  }
  EXPECT_LT(fs::file_size(deb), stripped_total);

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
