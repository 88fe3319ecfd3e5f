// Runs SQL for the rowset program: single statements and whole scripts (cut
// by the script splitter), through datasets bound to the session's
// connection component. A statement that returns rows is opened as a query
// and its rows printed; any other runs through the dataset's ExecSQL and
// prints its affected rows and insert id. A failure prints one line on the
// error stream in the mysql client's form, "ERROR 1146 (42S02) at line 3:
// Table 't1.nonexist' doesn't exist" (the server's own number, SQLSTATE and
// text; HY000 where the back end has no SQL states); a script stops at it
// unless Force.
//
// Statements reach the server exactly as written (no macro expansion, line
// breaks inside strings kept).
//
// Flow: construct over a connected TMySQLServer, call Statement / Script,
// read Failures() for the exit code. Not thread-safe.
#ifndef ROWSET_TOOLS_ROWSET_RUNNER_H_
#define ROWSET_TOOLS_ROWSET_RUNNER_H_

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "components/MySQLDataset.h"
#include "tools/rowset/Output.h"

namespace rowset::cli {

class Runner {
 public:
  Runner(TMySQLServer& Server, Printer& Out, FILE* Err, bool Force);

  // Runs one statement; false when it failed (the message is printed).
  // Where follows "ERROR n (state)" in the message (" at line 3"; "" for
  // none).
  bool Statement(const std::string& Sql, const std::string& Where = "");
  // Splits Text into statements and runs them in order; stops at the first
  // failure unless Force. ShowProgress draws statements done / total, MB/s
  // and the time left on the error stream. False when any statement failed.
  // Name says where the text comes from: "" typed at the terminal (errors
  // without a line), "-e" or "standard input" (errors "at line N"), or a
  // file name (errors "at line N in file: 'NAME'").
  bool Script(const std::string& Text, const std::string& Name, bool ShowProgress);
  // Asked before each statement of a script: true ends the script there
  // (Ctrl-C pressed). Empty: never.
  std::function<bool()> Interrupted;
  // Whether the run should stop (a failure without Force).
  bool Stopped() const { return failures_ > 0 && !force_; }
  int Failures() const { return failures_; }

  // Whether a statement returns rows, by its first word.
  static bool ReturnsRows(std::string_view Sql);
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
  void Fail(const std::exception& E, const std::string& Where);

  TMySQLServer& server_;
  Printer& out_;
  FILE* err_;
  bool force_;
  int failures_ = 0;
  std::unique_ptr<TMySQLQuery> exec_;   // runs statements without rows
  std::unique_ptr<TMySQLQuery> query_;  // opens statements with rows
  std::string exact_;  // the statement being opened, as written
};

}  // namespace rowset::cli

#endif  // ROWSET_TOOLS_ROWSET_RUNNER_H_
