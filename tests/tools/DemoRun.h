// Runs the rowset-demo program of the build tree and captures its output.
#ifndef ROWSET_TESTS_TOOLS_DEMORUN_H_
#define ROWSET_TESTS_TOOLS_DEMORUN_H_

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace rowset::test {

struct DemoResult {
  int exit_code = -1;
  std::string out;  // standard output only
};

inline DemoResult RunDemo(const std::string& args) {
  const char* bin = std::getenv("ROWSET_BINARY_DIR");
  std::string cmd = std::string(bin ? bin : ".") + "/rowset-demo " + args + " 2>/dev/null";
  DemoResult r;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  int status = pclose(p);
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

}  // namespace rowset::test

#endif  // ROWSET_TESTS_TOOLS_DEMORUN_H_
