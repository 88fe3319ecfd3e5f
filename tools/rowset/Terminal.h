// The rowset program's own questions on the controlling terminal (/dev/tty),
// for when standard input carries SQL and cannot be asked.
#ifndef ROWSET_TOOLS_ROWSET_TERMINAL_H_
#define ROWSET_TOOLS_ROWSET_TERMINAL_H_

#include <string>

namespace rowset::cli {

enum class TerminalAnswer { kGiven, kCancelled, kNoTerminal };

// Writes Prompt on the controlling terminal and reads a password there
// without echo: Enter ends it, Backspace and Ctrl-U edit it, Ctrl-C, Escape
// and Ctrl-D cancel (kCancelled). kNoTerminal when the process has no
// controlling terminal. The terminal is put back as it was in every case.
TerminalAnswer AskPasswordOnTerminal(const std::string& Prompt, std::string& Password);

}  // namespace rowset::cli

#endif  // ROWSET_TOOLS_ROWSET_TERMINAL_H_
