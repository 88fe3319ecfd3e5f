// The rowset program's connection: a TMySQLServer set up from the command
// line on the chosen back end, and the program's own message stream.
//
// The embedded server (the default) keeps its files in the program's data
// directory: $XDG_DATA_HOME/rowset, else ~/.local/share/rowset, or the
// --datadir given; created on first use. The server's database files are in
// its "db" folder. The embedded server writes its start-up and shut-down
// messages to the process's standard error; unless --verbose is given, file
// descriptor 2 is pointed at "server.log" in the data directory for the rest
// of the process, and the program's own messages go to the original
// standard error through ErrorStream(). On first use the server's system
// tables (the "mysql" database) are made from the MariaDB server package's
// mysql_system_tables.sql, so that stored procedures and the like work.
//
// One process at a time uses a data directory: a second one is refused at
// once, naming the process that holds it (a lock file "rowset.lock" in the
// data directory, and the locks of the server's own files).
//
// Not thread-safe; one session per process (the embedded server starts once
// per process).
#ifndef ROWSET_TOOLS_ROWSET_SESSION_H_
#define ROWSET_TOOLS_ROWSET_SESSION_H_

#include <cstdio>
#include <memory>
#include <string>

#include "components/MySQLServer.h"
#include "tools/rowset/Options.h"

namespace rowset::cli {

// Where the program's own messages go: the standard error the process was
// started with. Valid for the life of the process.
FILE* ErrorStream();
// Keeps a copy of the original standard error for ErrorStream(); call once,
// first thing in main.
void SaveErrorStream();
// Whether the original standard error is a terminal.
bool ErrorIsTerminal();

// The program's data directory for these options (not created).
std::string DataDirectory(const Options& Opts);

// A connection component set up from Opts and connected. Asks for the
// password through the login dialog when --password was given (false
// returned in Cancelled when the user cancels; the component is then not
// connected). Raises EMySQLError (or another Exception) when the connection
// fails.
std::unique_ptr<TMySQLServer> Connect(const Options& Opts, bool& Cancelled);

}  // namespace rowset::cli

#endif  // ROWSET_TOOLS_ROWSET_SESSION_H_
