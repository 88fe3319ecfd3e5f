// rowset: a command-line SQL client and data editor over the library. Runs
// SQL from -e texts, files or standard input, edits tables interactively,
// and shows the library at work ("rowset demo"); on the embedded server by
// default, so it needs no running server. See Options.cpp for the options.
#include <fcntl.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>

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
#include "tools/rowset/Interrupt.h"
#include "tools/rowset/Terminal.h"
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

// Characters as the terminal sends them: libedit reads multibyte input, and
// display widths are known, only under a UTF-8 character locale. The
// environment's is taken; where it is not UTF-8 (C, POSIX, unset), C.UTF-8,
// since the program exchanges text with the server as UTF-8 anyway. Only the
// character class is set: numbers keep the C form in every conversion.
void UseCharacterLocale() {
  const char* set = std::setlocale(LC_CTYPE, "");
  if (set != nullptr && std::strcmp(::nl_langinfo(CODESET), "UTF-8") == 0) return;
  for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"})
    if (std::setlocale(LC_CTYPE, name) != nullptr) return;
}

// An error outside any statement (the connection): the server's own report
// as the mysql client prints it, else the program's message.
void ReportError(const std::exception& E) {
  if (Runner::FromServer(E)) std::fprintf(ErrorStream(), "%s\n", Runner::ErrorText(E, "").c_str());
  else std::fprintf(ErrorStream(), "rowset: %s\n", Runner::MessageText(E).c_str());
}

int Run(const Options& Opts) {
  // Files are checked before the server starts: a wrong name is a bad argument.
  for (const std::string& f : Opts.files) {
    if (f != "-" && ::access(f.c_str(), R_OK) != 0) {
      std::fprintf(ErrorStream(), "rowset: cannot read %s: %s\n", f.c_str(), std::strerror(errno));
      return 2;
    }
  }
  const bool interactive = Opts.execute.empty() && Opts.files.empty() && !Opts.demo && ::isatty(0);
  // The watcher of Ctrl-C uses the connection: it ends before it.
  std::unique_ptr<TMySQLServer> server;
  Interrupts interrupts(interactive, ErrorStream());
  Options opts = Opts;
  if (opts.prompt_password && !::isatty(0)) {
    // Standard input carries the SQL: the password is asked for on the
    // terminal itself, as the mysql client does.
    std::string password;
    switch (AskPasswordOnTerminal("Enter password: ", password)) {
      case TerminalAnswer::kGiven:
        opts.password = password;
        opts.has_password = true;
        opts.prompt_password = false;
        break;
      case TerminalAnswer::kCancelled:
        std::fprintf(ErrorStream(), "rowset: login cancelled\n");
        return 1;
      case TerminalAnswer::kNoTerminal:
        std::fprintf(ErrorStream(), "rowset: --password needs a terminal to ask on; set MYSQL_PWD instead\n");
        return 1;
    }
  }
  bool cancelled = false;
  server = Connect(opts, cancelled);
  if (cancelled) {
    std::fprintf(ErrorStream(), "rowset: login cancelled\n");
    return 1;
  }
  interrupts.SetServer(server.get());
  if (Opts.demo) return RunDemo(*server, stdout);

  Printer printer(Opts.format, stdout, Opts.quick, Opts.json_numbers);
  Runner runner(*server, printer, ErrorStream(), Opts.force);
  runner.Interrupted = [&interrupts] { return interrupts.StatementInterrupted(); };
  const bool progress = ErrorIsTerminal();
  auto script = [&](const std::string& Text, const std::string& Name, bool Progress) {
    Interrupts::Running running(interrupts, ConnectionId(*server));
    runner.Script(Text, Name, Progress);
    return !interrupts.StatementInterrupted();
  };
  for (const std::string& text : Opts.execute) {
    if (runner.Stopped() || !script(text, "-e", false)) break;
  }
  for (const std::string& f : Opts.files) {
    if (runner.Stopped() || interrupts.StatementInterrupted()) break;
    bool ok;
    {
      Interrupts::Running running(interrupts, ConnectionId(*server));
      ok = RunFile(runner, f, progress);
    }
    if (!ok && runner.Failures() == 0) return 1;
  }
  if (Opts.execute.empty() && Opts.files.empty()) {
    if (interactive) return RunInteractive(*server, Opts, runner, printer, interrupts);
    Interrupts::Running running(interrupts, ConnectionId(*server));
    runner.Stream(0, "standard input", progress);
  }
  server->Disconnect();
  // A script stopped by Ctrl-C did not do all it was asked to.
  return runner.Failures() > 0 || interrupts.StatementInterrupted() ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  SaveErrorStream();
  // Ctrl-C is taken by the program's own watcher thread (Interrupt.h); every
  // thread started from here on inherits the blocked signal.
  Interrupts::BlockInThisThread();
  UseCharacterLocale();
  Options opts;
  std::string error = ParseOptions(argc, argv, opts);
  if (!error.empty()) {
    std::fprintf(ErrorStream(), "rowset: %s\n", error.c_str());
    return 2;
  }
  // A password given on the command line is not left for others to read
  // in the process list.
  HidePasswordArguments(argc, argv);
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
      ReportError(x);
    } catch (...) {
    }
  });
  try {
    return Run(opts);
  } catch (const std::exception& e) {
    ReportError(e);
    return 1;
  }
}
