// Command line of the rowset program (see Options.h).
#include "tools/rowset/Options.h"

#include "wire/uMysqlTls.h"

#include <cstdlib>
#include <cstring>

namespace rowset::cli {

std::string HelpText() {
  return
      "usage: rowset [OPTIONS] [FILE...]\n"
      "       rowset [OPTIONS] demo\n"
      "\n"
      "A command-line SQL client and data editor for MariaDB and MySQL servers.\n"
      "With no server options it starts an embedded MariaDB server in a data\n"
      "directory of your own ($XDG_DATA_HOME/rowset, else ~/.local/share/rowset)\n"
      "and needs no running server.\n"
      "\n"
      "SQL comes from -e texts, then the FILEs (\"-\" is standard input); without\n"
      "either, from standard input, read interactively when it is a terminal.\n"
      "\"demo\" runs a tour of the library: a small database made and filled\n"
      "through datasets, master/detail browsing, an edit with its generated SQL\n"
      "and cached updates applied in a transaction.\n"
      "\n"
      "Server:\n"
      "  --driver KIND        direct (built-in client), library (libmariadb.so.3)\n"
      "                       or embedded (libmariadbd.so.19, the default when no\n"
      "                       --host, --port, --socket or --user is given)\n"
      "  -h, --host NAME      server host (default 127.0.0.1), or a list of hosts\n"
      "                       \"db1,db2:3307,db3\" used as --mode says; a host that\n"
      "                       fails is skipped for 30 s and the next one is taken\n"
      "  --mode KIND          for a host list: sequential (the first that answers,\n"
      "                       the default), loadbalance (connects spread over the\n"
      "                       hosts) or replication (the first host is the primary;\n"
      "                       SELECT and SHOW outside a transaction run on a\n"
      "                       replica, in a session of their own)\n"
      "  -P, --port NUMBER    TCP port (default 3306)\n"
      "  -S, --socket PATH    Unix socket of a local server (library driver)\n"
      "  -u, --user NAME      user name (default root)\n"
      "  -p, --password       ask for the password: the login dialog on a\n"
      "                       terminal, or the terminal (/dev/tty) when standard\n"
      "                       input carries SQL; otherwise it is read from\n"
      "                       MYSQL_PWD\n"
      "  -pTEXT, --password=TEXT  the password itself (visible in your shell's\n"
      "                       history: MYSQL_PWD or -p is safer)\n"
      "  -D, --database NAME  database to use\n"
      "  Values of short options may be attached (-uroot -P3306 -hdb1), those of\n"
      "  long options follow \"=\" (--user=root) or come as the next word.\n"
      "  -C, --compress       compressed protocol\n"
      "  --ssl-mode MODE      TLS: DISABLED, PREFERRED, REQUIRED, VERIFY_CA (the\n"
      "                       server's certificate must come from the CA) or\n"
      "                       VERIFY_IDENTITY (and name the host); the default is\n"
      "                       DISABLED, or REQUIRED when a file below is given.\n"
      "                       The library driver takes the files and\n"
      "                       VERIFY_IDENTITY\n"
      "  --ssl-ca FILE        certificates of the authorities to trust (PEM)\n"
      "  --ssl-cert FILE      client certificate (PEM)\n"
      "  --ssl-key FILE       key of the client certificate (PEM)\n"
      "  --datadir DIR        data directory of the embedded server\n"
      "\n"
      "Running SQL:\n"
      "  -e, --execute SQL    run the statements of SQL (may be repeated)\n"
      "  --format KIND        table (aligned, the default), csv, tsv or json\n"
      "  -q, --quick          print table rows as they arrive (column widths from\n"
      "                       the declared lengths); csv, tsv and json rows are\n"
      "                       always printed as they arrive\n"
      "  --json-numbers       numeric columns as JSON numbers instead of strings\n"
      "  -f, --force          go on after a failing statement (exit code 1 at the end)\n"
      "  -v, --verbose        show the embedded server's start-up messages\n"
      "  --help               this text\n"
      "  --version            the program's version\n"
      "\n"
      "Text is exchanged as UTF-8 (utf8mb4) with servers that know it.\n"
      "Output: values as the server sends them (dates in ISO form), NULL as\n"
      "NULL (table), an empty unquoted field (csv), \\N (tsv) or null (json).\n"
      "csv: a header line, fields quoted when they hold a comma, quote or line\n"
      "break; results separated by an empty line. tsv: tab, line feed, carriage\n"
      "return, backslash and NUL escaped with a backslash. json: one object per\n"
      "line, {\"columns\":[...],\"rows\":[[...]]} for a result and\n"
      "{\"affected_rows\":N,\"insert_id\":N} for other statements; values are\n"
      "strings, every value of a binary column (binary character set, BIT,\n"
      "GEOMETRY) is given as {\"hex\":\"...\"}; the built-in client on the old\n"
      "protocol is not told character sets, so there a text column with a binary\n"
      "collation counts too.\n"
      "A statement that answers with several results (CALL) prints each of them.\n"
      "\n"
      "Interactive commands (a statement ends with \";\"):\n"
      "  \\edit TABLE [WHERE ...]  edit the rows of a table (\\help there lists\n"
      "                           the editor's commands)\n"
      "  DELIMITER TEXT          end statements with TEXT instead of \";\"\n"
      "  \\c                      drop the statement typed so far\n"
      "  \\help                   the commands;  \\q  quit\n"
      "\n"
      "Ctrl-C while a statement runs stops it (KILL QUERY on a second\n"
      "connection) and the rest of the script; at the prompt it drops the line;\n"
      "twice within a second it ends the program.\n"
      "\n"
      "Exit codes: 0 success, 1 a statement or the connection failed, 2 a bad\n"
      "option or argument.\n";
}

namespace {

// Short options that take a value, which may be attached ("-uroot").
const std::string kShortWithValue = "hPSuDep";

bool ParsePort(const std::string& Text, uint16_t& Port) {
  if (Text.empty() || Text.size() > 5) return false;
  for (char c : Text)
    if (c < '0' || c > '9') return false;
  unsigned long n = std::strtoul(Text.c_str(), nullptr, 10);
  if (n == 0 || n > 65535) return false;
  Port = static_cast<uint16_t>(n);
  return true;
}

}  // namespace

void HidePasswordArguments(int argc, char** argv) {
  bool only_files = false;
  for (int i = 1; i < argc; ++i) {
    char* a = argv[i];
    if (only_files || a[0] != '-') continue;
    if (std::strcmp(a, "--") == 0) {
      only_files = true;
      continue;
    }
    // Options whose value is the next word: that word is not an option.
    static const char* const kTakesNext[] = {"--driver", "--host", "-h", "--mode", "--port", "-P", "--socket", "-S",
                                             "--user", "-u", "--database", "-D", "--datadir",
                                             "--execute", "-e", "--format",
                                             "--ssl-mode", "--ssl-ca", "--ssl-cert", "--ssl-key"};
    bool next = false;
    for (const char* o : kTakesNext) next = next || std::strcmp(a, o) == 0;
    if (next) {
      ++i;
      continue;
    }
    char* text = nullptr;
    if (std::strncmp(a, "--password=", 11) == 0) text = a + 11;
    else if (a[1] == 'p' && a[2] != '\0') text = a + 2;
    for (; text != nullptr && *text != '\0'; ++text) *text = 'x';
  }
}

std::string ParseOptions(int argc, char** argv, Options& Out) {
  bool only_files = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (only_files || arg == "-" || arg.empty() || arg[0] != '-') {
      if (!only_files && arg == "demo" && Out.files.empty() && !Out.demo) {
        Out.demo = true;
      } else {
        Out.files.push_back(arg);
      }
      continue;
    }
    if (arg == "--") {
      only_files = true;
      continue;
    }
    // "--name=value" and "--name value" alike; short options take their
    // value attached ("-uroot") or as the next word.
    std::string name = arg, value;
    bool inline_value = false;
    if (arg.rfind("--", 0) == 0) {
      size_t eq = arg.find('=');
      if (eq != std::string::npos) {
        name = arg.substr(0, eq);
        value = arg.substr(eq + 1);
        inline_value = true;
      }
    } else if (arg.size() > 2 && kShortWithValue.find(arg[1]) != std::string::npos) {
      name = arg.substr(0, 2);
      value = arg.substr(2);
      inline_value = true;
    }
    auto take = [&](std::string& into) -> std::string {
      if (inline_value) {
        into = value;
      } else if (i + 1 < argc) {
        into = argv[++i];
      } else {
        return "option " + name + " needs a value";
      }
      return "";
    };
    auto no_value = [&]() -> std::string {
      return inline_value ? "option " + name + " takes no value" : "";
    };
    std::string error, text;
    if (name == "--help" || name == "-?") {
      error = no_value();
      Out.help = true;
    } else if (name == "--version" || name == "-V") {
      error = no_value();
      Out.version = true;
    } else if (name == "--driver") {
      if ((error = take(text)).empty()) {
        if (text == "direct") Out.driver = Driver::kDirect;
        else if (text == "library") Out.driver = Driver::kLibrary;
        else if (text == "embedded") Out.driver = Driver::kEmbedded;
        else error = "unknown driver '" + text + "' (direct, library or embedded)";
      }
    } else if (name == "--host" || name == "-h") {
      error = take(Out.host);
      if (error.empty() && Out.host.empty()) error = "option " + name + " needs a host name";
    } else if (name == "--mode") {
      if ((error = take(Out.mode)).empty() && Out.mode != "sequential" && Out.mode != "loadbalance" &&
          Out.mode != "replication")
        error = "unknown mode '" + Out.mode + "' (sequential, loadbalance or replication)";
    } else if (name == "--port" || name == "-P") {
      if ((error = take(text)).empty() && !ParsePort(text, Out.port))
        error = "bad port '" + text + "' (a number from 1 to 65535)";
    } else if (name == "--socket" || name == "-S") {
      error = take(Out.socket);
    } else if (name == "--user" || name == "-u") {
      error = take(Out.user);
    } else if (name == "--password" || name == "-p") {
      // Alone it asks; with a value (attached, or after "=") it is the
      // password. The next word is never taken: it is a file.
      if (inline_value) {
        Out.password = value;
        Out.has_password = true;
        Out.prompt_password = false;
      } else {
        Out.prompt_password = true;
        Out.has_password = false;
      }
    } else if (name == "--database" || name == "-D") {
      error = take(Out.database);
    } else if (name == "--datadir") {
      error = take(Out.datadir);
      if (error.empty() && Out.datadir.empty()) error = "option --datadir needs a directory";
    } else if (name == "--compress" || name == "-C") {
      error = no_value();
      Out.compress = true;
    } else if (name == "--ssl-mode") {
      if ((error = take(Out.ssl_mode)).empty()) {
        mysql_ssl_mode mode;
        if (!ParseSslMode(Out.ssl_mode, mode))
          error = "unknown TLS mode '" + Out.ssl_mode +
                  "' (DISABLED, PREFERRED, REQUIRED, VERIFY_CA or VERIFY_IDENTITY)";
      }
    } else if (name == "--ssl-ca" || name == "--ssl-cert" || name == "--ssl-key") {
      std::string& into = name == "--ssl-ca" ? Out.ssl_ca : name == "--ssl-cert" ? Out.ssl_cert : Out.ssl_key;
      if ((error = take(into)).empty() && into.empty()) error = "option " + name + " needs a file";
    } else if (name == "--execute" || name == "-e") {
      if ((error = take(text)).empty()) Out.execute.push_back(text);
    } else if (name == "--format") {
      if ((error = take(text)).empty()) {
        if (text == "table") Out.format = Format::kTable;
        else if (text == "csv") Out.format = Format::kCsv;
        else if (text == "tsv") Out.format = Format::kTsv;
        else if (text == "json") Out.format = Format::kJson;
        else error = "unknown format '" + text + "' (table, csv, tsv or json)";
      }
    } else if (name == "--quick" || name == "-q") {
      error = no_value();
      Out.quick = true;
    } else if (name == "--json-numbers") {
      error = no_value();
      Out.json_numbers = true;
    } else if (name == "--force" || name == "-f") {
      error = no_value();
      Out.force = true;
    } else if (name == "--verbose" || name == "-v") {
      error = no_value();
      Out.verbose = true;
    } else {
      error = "unknown option '" + arg + "' (see rowset --help)";
    }
    if (!error.empty()) return error;
  }
  if (Out.NamesTls() && Out.driver == Driver::kEmbedded)
    return "--driver embedded runs its own server: it takes no --ssl-* options";
  if (Out.driver == Driver::kEmbedded && Out.NamesServer())
    return "--driver embedded runs its own server: it takes no --host, --port, --socket or --user";
  if (Out.driver == Driver::kDirect && !Out.socket.empty())
    return "--socket needs --driver library (the built-in client connects over TCP/IP)";
  if (!Out.datadir.empty() && (Out.NamesServer() || (Out.driver != Driver::kDefault && Out.driver != Driver::kEmbedded)))
    return "--datadir is for the embedded server only";
  if (Out.demo && (!Out.files.empty() || !Out.execute.empty()))
    return "demo takes no SQL files or -e texts";
  return "";
}

}  // namespace rowset::cli
