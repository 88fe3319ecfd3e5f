// Background threads: statements and dataset opens run on worker threads so
// that the main thread stays responsive. A worker runs one task on a
// connection of its own (its dataset never shares the component's main
// connection) and reports to the main thread only by posting messages
// 1211-1217 to a receiver (host/Messages.h); TMySQLThreaded turns those
// messages into events on the main thread.
//
// Flow: create a TMySQLThreadedSQL or TMySQLThreadedOpen (suspended), call
// its ThreadExecute, which starts it; the worker does GetEvent (the work)
// and HandleEvent (status 0, completion event, message 1214, terminate),
// then ends. The free functions below wrap these steps.
//
// Threads. Only the status (under the status lock) and the completion
// event are shared between a worker and other threads; everything else
// reaches the main thread as posted messages. Text payloads (1211, 1212) are
// heap copies owned by the receiver: take them with TakeMySQLThreadText,
// which frees them; a message dropped undelivered (its receiver freed)
// frees its payload itself, so no message reaches a freed receiver and no
// payload leaks. The finish callback runs on the main thread (the host's
// OnTerminate), so a thread that frees itself ends only once the main
// thread pumps (Application.ProcessMessages or CheckSynchronize).
//
// REQUIRES: the connection component (and the dataset handed to an open
// thread) outlives the thread; the caller does not touch a dataset handed
// to an open thread until the open has finished (wait, or the finish
// callback).
//
// Sound behaviour kept over the plain rules:
// - The free functions connect the component on the calling thread before
//   the worker starts: a worker never connects (or disconnects) the
//   component; it only opens and closes connections of its own.
// - The worker's dataset is bound to the component without registering with
//   it (a dataset bound on a worker thread is never registered), so the
//   component's connect events, close-on-children check and dataset list
//   stay with the main thread. With soCloseOnChildren the component's check
//   runs on the main thread when the worker ends.
// - Statements a dataset hands to workers with doThreadedUpdate (ExecSQL)
//   reach the server in the order the dataset issued them: each waits for
//   the one before it from the same dataset (ThreadSQLFreeOrdered). Started
//   independently they could overtake one another and, say, apply an older
//   UPDATE after a newer one.
// - A transaction the dataset brackets ("start transaction" ... "commit",
//   as a post with doTransactions does) goes to one worker as a whole and
//   runs there on one connection, so the bracket holds its statements; a
//   bracket that ends in "rollback" is never sent. A failing statement of
//   such a script makes the worker send "rollback" on that connection and
//   drop the rest. Every failure of a dataset's threaded statement reaches
//   the application's exception handler (ApplicationHandleException, sender
//   the thread) on the main thread when the worker ends, after the finish
//   callback (ThreadSQLScriptOrdered).
// - ThreadWaitSQLFree and ThreadSQLAnswer take optional settings text (the
//   default is the fixed "[MySQL]\r\nTimeOut=30000\r\n").
// - A failed pass sets the shared status to 0 as well (without 1213), so
//   GetStatus does not report a failed thread as still running.
// - TMySQLThreaded's OnError gets the failing thread's id (wParam of 1211)
//   as ID, so that a failure can be told apart from others.
// - ThreadDatasetOpen calls its callback with the dataset as sender, as an
//   open on the calling thread does (Execute), not with the thread.
// - A failure is never lost. A failed pass keeps its exception (Failure);
//   an open that a caller waits for (ThreadDatasetOpen or
//   TMySQLThreadedOpen::ThreadExecute with Wait) raises it to that caller
//   after the finish callback ran. A failure no message can carry (window
//   handle 0) and no waiting caller receives goes to the application's
//   exception handler (ApplicationHandleException) on the main thread once
//   the thread ends, after OnFinish; OnFinish itself sees it as the
//   thread's Failure. An exception raised by OnFinish (or OnTerminate) goes
//   to that handler too: it has no caller to reach.
// - A running statement can be cancelled: CancelStatement sends "KILL QUERY
//   <id>" for the worker's connection on a second connection of the same
//   component. TerminateAndWait gives a running statement the thread's
//   TimeOut to end, then cancels it, so freeing a thread never waits a
//   statement out; ThreadWaitSQLFree cancels its statement once the
//   time-out has passed. A cancelled statement ends with the server's error
//   (1317 "Query execution was interrupted"), reported like any other; one
//   that had not started yet is not sent at all (a silent abort).
#ifndef ROWSET_COMPONENTS_MYSQLTHREADS_H_
#define ROWSET_COMPONENTS_MYSQLTHREADS_H_

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "components/MySQLDataset.h"
#include "components/MySQLServer.h"
#include "host/Classes.h"
#include "host/Exceptions.h"
#include "host/Messages.h"
#include "host/Threads.h"

namespace rowset {

// Message numbers.
constexpr uint32_t WM_MYSQL_THREAD_EXCEPTION = WM_USER + 187;  // 1211: wParam id, lParam text
constexpr uint32_t WM_MYSQL_THREAD_NOTIFY = WM_USER + 188;     // 1212: wParam 0, lParam text
constexpr uint32_t WM_MYSQL_THREAD_STATUS = WM_USER + 189;     // 1213: id, new status
constexpr uint32_t WM_MYSQL_THREAD_TASK = WM_USER + 190;       // 1214: id, shared status
constexpr uint32_t WM_MYSQL_THREAD_TOTAL = WM_USER + 191;      // 1215: id, total (sent last)
constexpr uint32_t WM_MYSQL_THREAD_CURRENT = WM_USER + 192;    // 1216: id, current
constexpr uint32_t WM_MYSQL_THREAD_SPEED = WM_USER + 193;      // 1217: id, speed truncated

// Status values.
constexpr uint8_t MYSQL_THREAD_FINISHED = 0;  // finished or failed
constexpr uint8_t MYSQL_THREAD_IDLE = 1;      // suspends between passes
constexpr uint8_t MYSQL_THREAD_STOP = 17;     // ends the work loop
constexpr uint8_t MYSQL_THREAD_RUNNING = 32;  // set when a task starts

// The settings text the free functions use.
inline constexpr const char* kMySQLThreadSettings = "[MySQL]\r\nTimeOut=30000\r\n";

// Declared for thread errors; the library itself does not raise it.
class EMySQLThreadException : public Exception {
 public:
  // The constructors of Exception.
  using Exception::Exception;
};

// Takes the text payload of a 1211 or 1212 message and frees it.
// REQUIRES: LParam is the payload of such a message, taken once.
std::string TakeMySQLThreadText(intptr_t LParam);
// Takes the dataset posted as an answer (ThreadSQLAnswer); the caller owns it.
std::unique_ptr<TMySQLDataset> TakeMySQLThreadDataset(intptr_t LParam);

// Worker threads alive now (started or not); for shutdown and tests.
int MySQLThreadCount();

// The worker base. Created suspended; ThreadExecute starts it.
class TMySQLThread : public TThread {
 public:
  // Settings: INI text ("MySQL"/"TimeOut", the "Main" switches). Handle:
  // where messages go (0: none). OnFinish (set before ThreadExecute) runs on
  // the main thread when the thread ends.
  TMySQLThread(const std::string& Settings, HWND Handle, bool FreeOnTerminate);
  // Stops the thread as TerminateAndWait does.
  ~TMySQLThread() override;

  // Terminates; a statement still running gets TimeOut ms to end by itself
  // and is then cancelled (CancelStatement, repeated until it ends); then
  // waits for the thread as the base class does.
  void TerminateAndWait() override;
  // Sends "KILL QUERY" for the statement the worker is running now, on a
  // second connection of the same component, and keeps a statement that has
  // not started yet from being sent. True when a statement was running.
  // Any thread but the worker may call it. Raises when the second
  // connection cannot be opened.
  bool CancelStatement();
  // Waits up to WaitMs for the running statement to end by itself, then
  // cancels it, again and again until it has ended (or the second
  // connection cannot be opened). Nothing is sent after it. Any thread but
  // the worker may call it; on the main thread it runs synchronized calls
  // while it waits.
  void StopStatement(uint32_t WaitMs);

  // Status 32, suspend flag, event reset, thread started or resumed; true.
  virtual bool ThreadExecute();

  // Sets the status to S; when it changes, also the shared status (under
  // the status lock), and posts 1213 (switch "SilentStatus").
  void SetStatus(uint8_t S);
  // The shared status, read under the status lock; any thread may call it.
  uint8_t GetStatus() const;
  // Posts 1211 with a copy of the text (switch "SilentExceptions").
  void NotifyException(const std::string& Message);
  // Posts 1212 with a copy of the text (switch "SilentNotifies").
  void NotifyClient(const std::string& Text);
  // Posts 1216, 1217, then 1215 (switch "SilentProgress").
  void Progress(TObject* Sender, int32_t Total, int32_t Current, float Speed);
  // Sets the event; posts 1214 with GetStatus (switch "SilentTasks").
  void SetNotifyTask();

  // The settings text given at construction.
  const std::string& Settings() const { return settings_; }
  // "TimeOut" of section "MySQL" of the settings, in milliseconds (30000).
  int32_t TimeOut() const { return time_out_; }
  // Where messages are posted; 0 for none.
  HWND Handle() const { return handle_; }
  // The completion event: reset when a task starts, set when it ends (also
  // by failing). The reference lives as long as the thread object.
  TEvent& Event() { return event_; }
  // The text of the exception last reported (empty when none); read it once
  // the thread has finished.
  const std::string& LastException() const { return last_exception_; }
  // The exception of a failed pass (nullptr when none; a silent abort is
  // not kept); read it once the thread has finished, or in OnFinish.
  std::exception_ptr Failure() const;
  // Whether the message of that "Main" switch is posted.
  bool Switch(const char* Key) const;

  // Runs on the main thread when the thread ends, with the thread as
  // sender; an exception it raises goes to the application's handler.
  TNotifyEvent OnFinish;

 protected:
  void Execute() override;
  void DoTerminate() override;
  virtual void Idle();
  virtual bool GetEvent();
  virtual void HandleEvent();
  // The component whose close-on-children check runs when the thread ends.
  TMySQLServer* check_server_ = nullptr;
  // The driver whose per-thread state the worker frees when it ends.
  TMySQLBase* thread_driver_ = nullptr;
  // False when a waiting caller receives the failure (raised to it).
  bool report_failure_ = true;
  // Worker side, around the task's statements, given the OnExecSQL event of
  // the dataset that runs them on a connection of its own: the hook notes
  // that connection for CancelStatement before each statement is sent (and
  // refuses to send one once a cancel was asked for), keeping a handler
  // already there; StatementsDone forgets it and puts the handler back.
  void StatementsStarting(TMySQLEvent& OnExecSQL);
  void StatementsDone(TMySQLEvent& OnExecSQL);

 private:
  bool StatementRunning() const;
  bool Post(const char* Key, uint32_t Msg, uintptr_t WParam, intptr_t LParam);
  bool PostText(const char* Key, uint32_t Msg, uintptr_t WParam, const std::string& Text);

  TSimpleEvent event_;
  mutable TCriticalSection status_lock_;
  const std::string settings_;
  std::string last_exception_;
  std::exception_ptr failure_;  // under status_lock_
  // The statement being run: its component, server-side connection id (0:
  // none) and connection, and whether a cancel was asked for; under cancel_lock_.
  mutable std::mutex cancel_lock_;
  TMySQLServer* running_server_ = nullptr;
  uint32_t running_id_ = 0;
  MySQLHandle running_connection_ = nullptr;
  bool cancel_requested_ = false;
  TMySQLEvent saved_on_exec_sql_;
  uint8_t status_ = MYSQL_THREAD_FINISHED;  // shared, under status_lock_
  uint8_t own_status_ = MYSQL_THREAD_FINISHED;
  bool suspend_when_idle_ = false;
  const int32_t time_out_;
  const HWND handle_;
};

// Ticket order of the statements one dataset hands to workers.
class TMySQLThreadOrder;

// Runs one statement (or, with an answer message, opens it as a dataset and
// posts that) on a dataset of its own.
class TMySQLThreadedSQL : public TMySQLThread {
 public:
  // As TMySQLThread's. With AnswerMessage above 0 and a window handle the
  // statement is opened as a dataset and posted as that message, with
  // AnswerWord as wParam (the receiver owns it: TakeMySQLThreadDataset).
  TMySQLThreadedSQL(const std::string& Settings, HWND Handle, bool FreeOnTerminate,
                    uint32_t AnswerMessage = 0, int32_t AnswerWord = 0);
  // Stops the thread as TerminateAndWait does; a statement that never ran
  // no longer holds up those ordered after it.
  ~TMySQLThreadedSQL() override;

  using TMySQLThread::ThreadExecute;
  // Starts the statement; with Wait, waits up to TimeOut ms for it and
  // returns whether it finished in time (otherwise true at once).
  bool ThreadExecute(TMySQLServer* Server, const std::string& SQL, bool Wait);
  // Makes the statement wait for those started before it with the same
  // order. REQUIRES: called before ThreadExecute.
  void SetOrder(std::shared_ptr<TMySQLThreadOrder> Order);
  // Runs Statements in order on the one connection instead of the SQL of
  // ThreadExecute (which is then ignored). When the first one starts a
  // transaction, a failure sends "rollback" before the rest is dropped.
  // REQUIRES: called before ThreadExecute.
  void SetScript(std::vector<std::string> Statements);

 protected:
  bool GetEvent() override;
  void HandleEvent() override;

 private:
  std::string sql_;
  TMySQLServer* server_ = nullptr;
  std::string database_;
  uint32_t answer_message_;
  int32_t answer_word_;
  std::shared_ptr<TMySQLThreadOrder> order_;
  std::vector<std::string> script_;
  uint64_t ticket_ = 0;
  bool ticket_taken_ = false;
};

// Opens one dataset on the worker thread.
class TMySQLThreadedOpen : public TMySQLThread {
 public:
  // As TMySQLThread's.
  TMySQLThreadedOpen(const std::string& Settings, HWND Handle, bool FreeOnTerminate);
  // Stops the thread as TerminateAndWait does.
  ~TMySQLThreadedOpen() override;

  using TMySQLThread::ThreadExecute;
  // Starts the open; with Wait, returns once the thread has finished and
  // raises the open's failure, if any (after the finish callback ran).
  // REQUIRES: not a FreeOnTerminate thread when Wait is set.
  bool ThreadExecute(TMySQLDatasetBase* Dataset, bool Wait);

 protected:
  bool GetEvent() override;
  void HandleEvent() override;

 private:
  TMySQLDatasetBase* dataset_ = nullptr;
};

// Runs SQL with Wait, then frees the thread (waiting for it); true when the
// statement finished within the time-out (also when it failed). Past the
// time-out the statement is cancelled (KILL QUERY) and false returned.
bool ThreadWaitSQLFree(TMySQLServer* Server, const std::string& SQL, HWND Handle,
                       const std::string& Settings = kMySQLThreadSettings);
// Starts a thread that frees itself; OnFinish runs on the main thread at its
// end. Returns the thread's id.
int32_t ThreadSQLFree(TMySQLServer* Server, const std::string& SQL, TNotifyEvent OnFinish,
                      HWND Handle);
// As ThreadSQLFree, in the order of Order (see the top of this header).
int32_t ThreadSQLFreeOrdered(TMySQLServer* Server, const std::string& SQL,
                             TNotifyEvent OnFinish, HWND Handle, const void* OrderKey);
// Runs Statements on one worker connection, in order, after those handed
// over before with the same OrderKey (see the top of this header); a
// failure goes to the application's exception handler on the main thread
// after OnFinish. Returns the thread's id.
int32_t ThreadSQLScriptOrdered(TMySQLServer* Server, std::vector<std::string> Statements,
                               TNotifyEvent OnFinish, HWND Handle, const void* OrderKey);
// Opens SQL on a worker and posts the dataset to Handle as message
// AnswerMessage with AnswerWord as wParam (the receiver owns the dataset:
// TakeMySQLThreadDataset). Returns true.
bool ThreadSQLAnswer(TMySQLServer* Server, const std::string& SQL, HWND Handle,
                     int32_t AnswerMessage, int32_t AnswerWord,
                     const std::string& Settings = kMySQLThreadSettings);
// Opens Dataset on a worker (window 0). OnOpened runs on the main thread
// when it ends, also when the open failed (the dataset is then closed).
// With Wait, returns once it has finished and raises the open's failure;
// without, the failure goes to the application's exception handler after
// OnOpened ran.
void ThreadDatasetOpen(TMySQLDatasetBase* Dataset, TNotifyEvent OnOpened, bool Wait);

// A note from a worker (message 1212): its text.
using TMySQLThreadNotifyEvent =
    std::function<void(TObject* Sender, int32_t ID, const std::string& Value, bool& Continue)>;
// Progress of a worker (messages 1215-1217): total, current value, speed.
using TMySQLThreadProgressEvent = std::function<void(TObject* Sender, int32_t ID, int32_t Total,
                                                     int32_t Current, float Speed, bool& Continue)>;
// A worker's error, status change or finished task: its id, a status and,
// for an error, the text.
using TMySQLThreadStatusEvent = std::function<void(TObject* Sender, int32_t ID, int32_t Status,
                                                   const std::string& Value, bool& Continue)>;

// Turns the messages of the statement threads it starts into events, on the
// thread that created it (the main thread). Continue is one flag handed to
// every event by reference; it is not read back.
class TMySQLThreaded : public TComponent {
 public:
  // TimeOut 30000, Intervals 100, and a receiver of its own for the
  // workers' messages.
  explicit TMySQLThreaded(TComponent* AOwner = nullptr);
  // Frees the receiver: messages still queued are dropped with their texts.
  ~TMySQLThreaded() override;

  // Starts a statement thread that frees itself, with "[MySQL]\r\nTimeOut="
  // TimeOut and this component's receiver; does not wait.
  void ExecSQL(TMySQLServer* Server, const std::string& SQL);
  // The message handler (1211-1217).
  void OwnProc(TMessage& Message);

  // The time-out (ms) written into the settings of each thread it starts.
  int32_t TimeOut() const { return time_out_; }
  // Sets TimeOut for the threads started from now on.
  void SetTimeOut(int32_t Value) { time_out_ = Value; }
  // Stored only.
  uint16_t Intervals() const { return intervals_; }
  // Stores Intervals.
  void SetIntervals(uint16_t Value) { intervals_ = Value; }
  // The receiver the workers post to; valid while the component lives.
  HWND Handle() const { return handle_; }
  // The last progress total received (message 1215).
  int32_t Total() const { return total_; }
  // The last progress value received (message 1216).
  int32_t Current() const { return current_; }
  // The last speed received (message 1217), truncated toward zero.
  float Speed() const { return speed_; }

  TMySQLThreadNotifyEvent OnNotify;      // message 1212, ID 0
  TMySQLThreadProgressEvent OnProgress;  // message 1215 (after 1216 and 1217)
  TMySQLThreadStatusEvent OnError;       // message 1211: the thread's id, status 2, the text
  TMySQLThreadStatusEvent OnStatus;      // message 1213: the thread's id and new status
  TMySQLThreadStatusEvent OnTask;        // message 1214: the thread's id and status
  TMySQLThreadStatusEvent OnTimeOut;  // no message fires it
  TMySQLThreadStatusEvent OnIdle;     // no message fires it

 private:
  int32_t time_out_ = 30000;
  uint16_t intervals_ = 100;
  int32_t total_ = 0;
  int32_t current_ = 0;
  float speed_ = 0;
  bool continue_ = true;
  HWND handle_ = 0;
};

}  // namespace rowset

#endif  // ROWSET_COMPONENTS_MYSQLTHREADS_H_
