// Runs the rowset program of the build tree as a user would (through
// /bin/sh, standard input from a text), and holds what it printed.
#ifndef ROWSET_TESTS_TOOLS_ROWSETRUN_H_
#define ROWSET_TESTS_TOOLS_ROWSETRUN_H_

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/tools/Shell.h"

namespace rowset::test {

struct RowsetResult {
  int exit_code = -1;
  std::string out;  // standard output
  std::string err;  // standard error
};

inline std::string RowsetBinary() {
  const char* bin = std::getenv("ROWSET_BINARY_DIR");
  return std::string(bin ? bin : ".") + "/rowset";
}

inline std::string ReadText(const std::filesystem::path& Path) {
  std::ifstream in(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteText(const std::filesystem::path& Path, const std::string& Text) {
  std::ofstream out(Path, std::ios::binary);
  out << Text;
}

// A folder of its own for one test, removed at the end of its scope.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "rowset_tool_XXXXXX").string();
    if (char* made = ::mkdtemp(pattern.data())) path_ = made;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Runs "ENV rowset ARGS < Input". Env is a prefix of shell assignments
// ("XDG_DATA_HOME=/x "), Args already quoted for the shell.
inline RowsetResult RunRowset(const std::string& Args, const std::string& Input = "",
                              const std::string& Env = "") {
  TempDir io;
  WriteText(io.Path() / "in", Input);
  const std::string cmd = Env + " " + ShellQuote(RowsetBinary()) + " " + Args + " < " +
                          ShellQuote((io.Path() / "in").string()) + " 2> " +
                          ShellQuote((io.Path() / "err").string());
  RowsetResult r;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int status = pclose(p);
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.err = ReadText(io.Path() / "err");
  return r;
}

}  // namespace rowset::test

#endif  // ROWSET_TESTS_TOOLS_ROWSETRUN_H_
