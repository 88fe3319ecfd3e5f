// Runs shell commands for the tests of the installed library and its package,
// and reads the settings the build passes to them (ROWSET_* variables).
#ifndef ROWSET_TESTS_TOOLS_SHELL_H_
#define ROWSET_TESTS_TOOLS_SHELL_H_

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace rowset::test {

struct ShellResult {
  int exit_code = -1;
  std::string out;  // standard output and standard error, interleaved
};

// Runs `command` through /bin/sh and captures what it prints.
inline ShellResult Shell(const std::string& command) {
  ShellResult r;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  int status = pclose(p);
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

// Quotes a word for /bin/sh.
inline std::string ShellQuote(const std::string& word) {
  std::string q = "'";
  for (char c : word) {
    if (c == '\'')
      q += "'\\''";
    else
      q += c;
  }
  return q + "'";
}

// A setting of the build; empty when the variable is not set.
inline std::string BuildSetting(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

}  // namespace rowset::test

#endif  // ROWSET_TESTS_TOOLS_SHELL_H_
