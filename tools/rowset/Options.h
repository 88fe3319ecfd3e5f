// The command line of the rowset program: what it accepts, the help text that
// documents every option, and the checks that turn a bad option or argument
// into one clear line (the caller exits with code 2).
//
// The password never comes from the command line, where other users of the
// machine could read it (ps, shell history): it is taken from MYSQL_PWD, or
// asked for through the login dialog when --password is given without a
// value. "--password=TEXT" is refused.
#ifndef ROWSET_TOOLS_ROWSET_OPTIONS_H_
#define ROWSET_TOOLS_ROWSET_OPTIONS_H_

#include <cstdint>
#include <string>
#include <vector>

namespace rowset::cli {

enum class Driver { kDefault, kDirect, kLibrary, kEmbedded };
enum class Format { kTable, kCsv, kTsv, kJson };

struct Options {
  Driver driver = Driver::kDefault;
  std::string host, user, socket, database, datadir;
  uint16_t port = 0;  // 0: not given
  bool compress = false;
  bool prompt_password = false;  // --password: ask through the login dialog
  bool verbose = false;
  bool force = false;
  bool help = false;
  bool version = false;
  Format format = Format::kTable;
  bool quick = false;         // --quick: table rows printed as they arrive
  bool json_numbers = false;  // --json-numbers: numeric columns as JSON numbers
  std::vector<std::string> execute;  // -e texts, in order
  std::vector<std::string> files;    // script files; "-" is standard input
  bool demo = false;                 // the "demo" command

  // Whether any option names a server of its own (so the default back end
  // is the built-in client instead of the embedded server).
  bool NamesServer() const { return !host.empty() || port != 0 || !socket.empty() || !user.empty(); }
};

// Reads argv into Out. Returns an empty text when the command line is good,
// else the one line that says what is wrong with it.
std::string ParseOptions(int argc, char** argv, Options& Out);

// The text of --help.
std::string HelpText();

}  // namespace rowset::cli

#endif  // ROWSET_TOOLS_ROWSET_OPTIONS_H_
