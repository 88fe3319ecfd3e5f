// rowset: a command-line SQL client and data editor over the library. Runs
// SQL from -e texts, files or standard input, edits tables interactively,
// and shows the library at work ("rowset demo"); on the embedded server by
// default, so it needs no running server. See Options.cpp for the options.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

#include "host/DB.h"
#include "tools/rowset/Commands.h"
#include "tools/rowset/Options.h"
#include "tools/rowset/Output.h"
#include "tools/rowset/Runner.h"
#include "tools/rowset/Session.h"

namespace {

using namespace rowset;
using namespace rowset::cli;

constexpr const char* kVersion = "0.1.0";

// Runs the script of file Name ("-": standard input) as it is read.
bool RunFile(Runner& Run, const std::string& Name, bool Progress) {
  if (Name == "-") {
    struct stat st {};
    const uint64_t size = ::fstat(0, &st) == 0 && S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
    return Run.Stream(0, "standard input", Progress, size);
  }
  const int fd = ::open(Name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(ErrorStream(), "rowset: cannot read %s: %s\n", Name.c_str(), std::strerror(errno));
    return false;
  }
  struct stat st {};
  const uint64_t size = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
  const bool ok = Run.Stream(fd, Name, Progress, size);
  ::close(fd);
  return ok;
}

int Run(const Options& Opts) {
  // Files are checked before the server starts: a wrong name is a bad argument.
  for (const std::string& f : Opts.files) {
    if (f != "-" && ::access(f.c_str(), R_OK) != 0) {
      std::fprintf(ErrorStream(), "rowset: cannot read %s: %s\n", f.c_str(), std::strerror(errno));
      return 2;
    }
  }
  bool cancelled = false;
  std::unique_ptr<TMySQLServer> server = Connect(Opts, cancelled);
  if (cancelled) {
    std::fprintf(ErrorStream(), "rowset: login cancelled\n");
    return 1;
  }
  if (Opts.demo) return RunDemo(*server, stdout);

  Printer printer(Opts.format, stdout, Opts.quick, Opts.json_numbers);
  Runner runner(*server, printer, ErrorStream(), Opts.force);
  const bool progress = ErrorIsTerminal();
  for (const std::string& text : Opts.execute) {
    if (runner.Stopped()) break;
    runner.Script(text, "-e", false);
  }
  for (const std::string& f : Opts.files) {
    if (runner.Stopped()) break;
    if (!RunFile(runner, f, progress) && runner.Failures() == 0) return 1;
  }
  if (Opts.execute.empty() && Opts.files.empty()) {
    if (::isatty(0)) return RunInteractive(*server, Opts, runner, printer);
    runner.Stream(0, "", progress);
  }
  server->Disconnect();
  return runner.Failures() > 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  SaveErrorStream();
  Options opts;
  std::string error = ParseOptions(argc, argv, opts);
  if (!error.empty()) {
    std::fprintf(ErrorStream(), "rowset: %s\n", error.c_str());
    return 2;
  }
  if (opts.help) {
    std::fputs(HelpText().c_str(), stdout);
    return 0;
  }
  if (opts.version) {
    std::printf("rowset %s\n", kVersion);
    return 0;
  }
  // Failures that cannot propagate (a dataset closing in its destructor).
  SetApplicationExceptionHandler([](TObject*, std::exception_ptr e) {
    try {
      std::rethrow_exception(e);
    } catch (const std::exception& x) {
      std::fprintf(ErrorStream(), "rowset: %s\n", Runner::MessageText(x).c_str());
    } catch (...) {
    }
  });
  try {
    return Run(opts);
  } catch (const std::exception& e) {
    std::fprintf(ErrorStream(), "rowset: %s\n", Runner::MessageText(e).c_str());
    return 1;
  }
}
