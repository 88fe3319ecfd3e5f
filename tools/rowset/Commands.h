// The two modes of the rowset program beside running scripts: the demo tour
// and the interactive client with its table editor.
#ifndef ROWSET_TOOLS_ROWSET_COMMANDS_H_
#define ROWSET_TOOLS_ROWSET_COMMANDS_H_

#include <cstdio>

#include "components/MySQLServer.h"
#include "tools/rowset/Interrupt.h"
#include "tools/rowset/Options.h"
#include "tools/rowset/Output.h"
#include "tools/rowset/Runner.h"

namespace rowset::cli {

// "rowset demo": makes the database rowset_demo on Server and shows the
// library at work, printing to Out. Returns the exit code; raises on a
// server failure.
int RunDemo(TMySQLServer& Server, FILE* Out);

// The interactive client on a terminal (line editing and history, the
// backslash commands). Returns the exit code.
int RunInteractive(TMySQLServer& Server, const Options& Opts, Runner& Run, Printer& Out, Interrupts& Intr);

}  // namespace rowset::cli

#endif  // ROWSET_TOOLS_ROWSET_COMMANDS_H_
