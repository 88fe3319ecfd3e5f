// Ctrl-C in the rowset program, as in the mysql client:
// - while a statement runs, the first Ctrl-C sends "KILL QUERY <id>" for the
//   statement's connection on a second connection of its own and says so on
//   the error stream ("Ctrl-C -- query killed."); the statement then fails
//   with the server's "Query execution was interrupted", and the rest of the
//   script or line is not run;
// - at the prompt it ends the line being typed (the caller drops it);
// - a second Ctrl-C within a second of the one before ends the program: at
//   the prompt the caller leaves as on \q; while a statement runs it is
//   killed first, OnExit (which saves the history) runs and the process
//   exits with code 130;
// - before the connection is made, and in a script run with no statement
//   running, it ends the program the same way.
// A program started with SIGINT ignored (in the background of a shell
// without job control) keeps ignoring it.
// SIGHUP (the terminal closed) and SIGTERM end the program like a second
// Ctrl-C, with the history saved, exiting with 128 + the signal's number;
// one started with them ignored (nohup) keeps ignoring them.
//
// SIGINT is blocked in every thread (BlockInThisThread, first thing in main,
// so that threads started later, the embedded server's too, inherit it) and
// taken by a watcher thread with sigwait: no statement is ever cut short by
// an interrupted system call. Only while the main thread waits at the prompt
// (PromptWindow) is it let through there, so that the line being read ends.
//
// Flow: BlockInThisThread() early in main; one Interrupts before connecting;
// SetServer once connected; a Running guard around each statement; a
// PromptWindow around each read of a line, then TakePromptInterrupt() when
// the read ended early; QuitRequested() tells the caller to leave.
#ifndef ROWSET_TOOLS_ROWSET_INTERRUPT_H_
#define ROWSET_TOOLS_ROWSET_INTERRUPT_H_

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <thread>

#include "components/MySQLServer.h"

namespace rowset::cli {

class Interrupts {
 public:
  // Interactive: Ctrl-C at the prompt ends the line (else it ends the
  // program). Err receives the messages. One per process.
  Interrupts(bool Interactive, FILE* Err);
  // Puts the previous handler back and ends the watcher.
  ~Interrupts();
  Interrupts(const Interrupts&) = delete;
  Interrupts& operator=(const Interrupts&) = delete;

  // Blocks SIGINT in the calling thread (and in threads it starts later).
  static void BlockInThisThread();

  // The connected component whose statements Ctrl-C kills; nullptr before.
  void SetServer(TMySQLServer* Server);

  // Called before the program exits on a second Ctrl-C (on the watcher
  // thread, while the main thread may be waiting for the server).
  std::function<void()> OnExit;

  // A statement running on the connection whose server thread is
  // ConnectionId, for the life of the guard.
  class Running {
   public:
    Running(Interrupts& Owner, uint32_t ConnectionId);
    ~Running();
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;
  };

  // Lets Ctrl-C through to the calling (main) thread for the life of the
  // guard, so that a read of the terminal returns early (EINTR).
  class PromptWindow {
   public:
    PromptWindow();
    ~PromptWindow();
    PromptWindow(const PromptWindow&) = delete;
    PromptWindow& operator=(const PromptWindow&) = delete;
  };

  // Whether Ctrl-C was pressed at the prompt since the last call.
  bool TakePromptInterrupt();
  // Whether Ctrl-C was pressed while the last statement ran (cleared when
  // the next statement starts): the rest of the line is not run.
  bool StatementInterrupted() const;
  // Whether the program should end (Ctrl-C twice within a second).
  bool QuitRequested() const;

 private:
  void Watch();
  void KillQuery(uint32_t Id);
  // Runs OnExit once and ends the process with Code.
  [[noreturn]] void Exit(int Code = 130);

  std::atomic<TMySQLServer*> server_{nullptr};
  bool interactive_;
  FILE* err_;
  std::atomic<bool> exiting_{false};
  bool sigint_handled_ = false;  // false when started with SIGINT ignored
  std::thread watcher_;
};

// The connection's server thread id, for a Running guard (0 when unknown).
uint32_t ConnectionId(TMySQLServer& Server);

}  // namespace rowset::cli

#endif  // ROWSET_TOOLS_ROWSET_INTERRUPT_H_
