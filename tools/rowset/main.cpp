// rowset: a command-line SQL client and data editor over the library. Runs
// SQL from -e texts, files or standard input, edits tables interactively,
// and shows the library at work ("rowset demo"); on the embedded server by
// default, so it needs no running server. See Options.cpp for the options.
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

bool ReadAll(const std::string& Name, std::string& Text) {
  if (Name == "-") {
    std::ostringstream s;
    s << std::cin.rdbuf();
    Text = s.str();
    return true;
  }
  std::ifstream in(Name, std::ios::binary);
  if (!in) return false;
  Text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
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

  Printer printer(Opts.format, stdout);
  Runner runner(*server, printer, ErrorStream(), Opts.force);
  const bool progress = ErrorIsTerminal();
  for (const std::string& text : Opts.execute) {
    if (runner.Stopped()) break;
    runner.Script(text, "-e", false);
  }
  for (const std::string& f : Opts.files) {
    if (runner.Stopped()) break;
    std::string text;
    if (!ReadAll(f, text)) {
      std::fprintf(ErrorStream(), "rowset: cannot read %s\n", f.c_str());
      return 1;
    }
    runner.Script(text, f == "-" ? "standard input" : f, progress);
  }
  if (Opts.execute.empty() && Opts.files.empty()) {
    if (::isatty(0)) return RunInteractive(*server, Opts, runner, printer);
    std::string text;
    ReadAll("-", text);
    runner.Script(text, "", progress);
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
