// Runs SQL for the rowset program: single statements and whole scripts (cut
// by the script splitter), on the session's connection (the connection
// component's main connection, so that every statement shares one session:
// its variables, temporary tables and transaction). Each statement goes
// through the connection's driver and its results are printed as they are
// read (unbuffered results; see Output.h for what the formats hold back):
// every result of a statement that answers with several (a CALL of a
// procedure), a result's rows whatever the statement's first word
// (INSERT ... RETURNING), and for an answer without rows its affected rows
// and insert id. A failure prints one line on the error stream in the mysql
// client's form, "ERROR 1146 (42S02) at line 3: Table 't1.nonexist' doesn't
// exist" (the server's own number, SQLSTATE and text; HY000 where the back
// end has none, as the built-in client on the old protocol); a script stops
// at it unless Force.
//
// Scripts read from a file or a pipe are split and run as they are read
// (TScriptSplitter): a statement runs as soon as its end has been read, and
// only the unfinished statement is held. Strings end as the session's
// NO_BACKSLASH_ESCAPES state says: a statement that changes it (SET
// sql_mode) has the rest of the script split again.
//
// A connection lost outside a transaction (the server went away, the
// connection was killed) is made again once, with a note on the error
// stream; a statement that failed because the server had gone away before
// it was sent is run again on the new connection. Inside a transaction the
// connection is not made again (the transaction's work is lost; the
// following statements fail) so that the rest of a transaction never runs
// in autocommit mode.
//
// With a host list in replication mode (TMySQLServer::HostMode), a SELECT or
// SHOW outside a transaction runs on a connection to a replica of its own
// (opened on first use, with the session's database): it does not see the
// main session's variables or temporary tables, and may lag behind the
// primary. A connection lost on a host list makes the host skipped, so the
// new connection goes to the next host.
//
// Flow: construct over a connected TMySQLServer, call Statement / Script /
// Stream, read Failures() for the exit code. Not thread-safe.
#ifndef ROWSET_TOOLS_ROWSET_RUNNER_H_
#define ROWSET_TOOLS_ROWSET_RUNNER_H_

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "components/MySQLDataset.h"
#include "parser/MySQLParser.h"
#include "tools/rowset/Output.h"

namespace rowset::cli {

class Runner {
 public:
  Runner(TMySQLServer& Server, Printer& Out, FILE* Err, bool Force);
  // Closes the replica connection, if one was opened.
  ~Runner();
  Runner(const Runner&) = delete;
  Runner& operator=(const Runner&) = delete;

  // Runs one statement; false when it failed (the message is printed).
  // Where follows "ERROR n (state)" in the message (" at line 3"; "" for
  // none).
  bool Statement(const std::string& Sql, const std::string& Where = "");
  // Splits Text into statements and runs them in order; stops at the first
  // failure unless Force. False when any statement failed. Name says where
  // the text comes from: "" typed at the terminal (errors without a line),
  // "-e" or "standard input" (errors "at line N"), or a file name (errors
  // "at line N in file: 'NAME'").
  bool Script(std::string_view Text, const std::string& Name, bool ShowProgress = false);
  // Reads a script from the file descriptor Fd to its end, block by block,
  // and runs each statement as soon as it has been read. ShowProgress draws
  // the statements done, the bytes read (of Size, when not 0), MB/s and the
  // time left on the error stream. False when a statement failed or the
  // input could not be read. Name as for Script.
  bool Stream(int Fd, const std::string& Name, bool ShowProgress, uint64_t Size = 0);
  // Asked before each statement of a script: true ends the script there
  // (Ctrl-C pressed). Empty: never.
  std::function<bool()> Interrupted;
  // Whether the run should stop (a failure without Force).
  bool Stopped() const { return failures_ > 0 && !force_; }
  int Failures() const { return failures_; }

  // The columns and rows of an open dataset, values as the server sent them.
  static ResultTable TableOf(const TMySQLDatasetBase& Dataset);
  // An error text for the terminal (CR LF line breaks become LF).
  static std::string MessageText(const std::exception& E);
  // Whether E carries the server's (or client library's) own error report.
  static bool FromServer(const std::exception& E);
  // The error line: "ERROR 1146 (42S02)" + Where + ": " + the server's text
  // when FromServer(E), else "ERROR" + Where + ": " + MessageText(E).
  static std::string ErrorText(const std::exception& E, const std::string& Where);

 private:
  // Sends Sql and prints every result of its answer. Raises.
  void Run(const std::string& Sql);
  void Print(MySQLResultHandle& Result);
  void Fail(const std::exception& E, const std::string& Where);
  static std::string Where(const std::string& Name, int64_t Line);
  // After a failure: makes the connection again when it was lost outside a
  // transaction; true when it did and the statement may be run again.
  bool Recover(const EMySQLError& E);
  // Follows the session's transaction and current database by the
  // statement's first words (for Recover).
  void Track(std::string_view Sql);
  // Whether backslashes escape in strings in the session now (false under
  // NO_BACKSLASH_ESCAPES); scripts are split accordingly.
  bool BackslashEscapes();
  // After Statements[Done] has run: when the session's escape mode is no
  // longer the splitter's, the splitter takes the new mode and, if
  // statements after Done were handed out, takes them back (Statements is
  // emptied) to hand them out split anew; true then.
  bool Resplit(TScriptSplitter& Splitter, std::vector<TScriptStatement>& Statements, size_t Done);

  TMySQLServer& server_;
  Printer& out_;
  FILE* err_;
  bool force_;
  int failures_ = 0;
  bool in_transaction_ = false;
  bool autocommit_off_ = false;
  bool lost_in_transaction_ = false;  // said so once
  std::string database_;  // the current database, as far as known
  // The connection reads go to in replication mode; nullptr until needed.
  MySQLHandle read_ = nullptr;
  bool last_on_read_ = false;  // the last statement ran on read_
  // The connection Sql runs on: the replica connection for a read outside a
  // transaction in replication mode, else the main one.
  MySQLHandle ConnectionFor(const std::string& Sql);
};

}  // namespace rowset::cli

#endif  // ROWSET_TOOLS_ROWSET_RUNNER_H_
