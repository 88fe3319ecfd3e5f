// The command line of the rowset program: what it accepts, the help text that
// documents every option, and the checks that turn a bad option or argument
// into one clear line (the caller exits with code 2).
//
// Options are those of the mysql client where both have one: short options
// take their value attached or as the next word ("-uroot", "-u root"), long
// ones after "=" or as the next word ("--user=root", "--user root").
//
// The password: "-pTEXT" / "--password=TEXT" as with the mysql client (the
// program then overwrites it in its argument vector, so that the process
// list does not show it; shell history still may), else MYSQL_PWD, or asked
// for when -p / --password is given alone: through the login dialog on a
// terminal, on the controlling terminal (/dev/tty) when standard input
// carries SQL.
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
  std::string mode;   // --mode: sequential, loadbalance or replication; empty: not given
  bool compress = false;
  // TLS (--ssl-mode, --ssl-ca, --ssl-cert, --ssl-key); empty: not given.
  std::string ssl_mode, ssl_ca, ssl_cert, ssl_key;
  bool prompt_password = false;  // --password: ask through the login dialog
  std::string password;          // -pTEXT / --password=TEXT
  bool has_password = false;     // whether password was given
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

  // Whether any option names a server of its own (or TLS to one) (so the default back end
  // is the built-in client instead of the embedded server).
  bool NamesServer() const {
    return !host.empty() || port != 0 || !socket.empty() || !user.empty() || NamesTls();
  }
  bool NamesTls() const {
    return !ssl_mode.empty() || !ssl_ca.empty() || !ssl_cert.empty() || !ssl_key.empty();
  }
};

// Reads argv into Out. Returns an empty text when the command line is good,
// else the one line that says what is wrong with it.
std::string ParseOptions(int argc, char** argv, Options& Out);

// Overwrites the text of a password given in argv ("-pTEXT",
// "--password=TEXT") with "x" characters, as ParseOptions read it.
void HidePasswordArguments(int argc, char** argv);

// The text of --help.
std::string HelpText();

}  // namespace rowset::cli

#endif  // ROWSET_TOOLS_ROWSET_OPTIONS_H_
