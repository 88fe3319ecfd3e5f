// Worker threads for statements and dataset opens, and the component that
// turns their messages into events. See MySQLThreads.h.
#include "components/MySQLThreads.h"

#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

#include "host/DB.h"
#include "util/MySQLIniText.h"

namespace rowset {

namespace {

std::atomic<int> g_thread_count{0};

// Text payloads travel as NUL-terminated heap copies; the receiver (or the
// queue, when the message is dropped) frees them.
void FreeText(intptr_t LParam) { std::unique_ptr<char[]>(reinterpret_cast<char*>(LParam)); }

void FreeDataset(intptr_t LParam) {
  std::unique_ptr<TMySQLDataset>(reinterpret_cast<TMySQLDataset*>(LParam));
}

// Starts a thread that frees itself once it has run. Until it has started
// the caller owns it: a failure before that frees it here.
template <typename T, typename Start>
void StartFree(std::unique_ptr<T> Thread, Start&& Run) {
  T* raw = Thread.release();
  try {
    Run(raw);
  } catch (...) {
    if (!raw->Started()) std::unique_ptr<T> owned(raw);
    throw;
  }
}

// Runs a call when the scope ends, however it ends.
class OnScopeExit {
 public:
  explicit OnScopeExit(std::function<void()> Call) : call_(std::move(Call)) {}
  ~OnScopeExit() { call_(); }
  OnScopeExit(const OnScopeExit&) = delete;
  OnScopeExit& operator=(const OnScopeExit&) = delete;

 private:
  std::function<void()> call_;
};

// Hands an exception to the application's handler (which needs it as the
// exception being handled).
void ReportFailure(TObject* Sender, std::exception_ptr Error) {
  try {
    std::rethrow_exception(Error);
  } catch (...) {
    ApplicationHandleException(Sender);
  }
}

// A connection of the component's own on which "KILL QUERY" is sent; opened
// on first use, closed with the object.
class TKillConnection {
 public:
  explicit TKillConnection(TMySQLServer* Server) : server_(Server) {}
  ~TKillConnection() {
    if (handle_ == nullptr) return;
    try {
      // Closed through the driver: releasing it is no reason for the
      // component's close-on-children check.
      server_->GetDriver()->Close(handle_);
    } catch (...) {
    }
  }
  TKillConnection(const TKillConnection&) = delete;
  TKillConnection& operator=(const TKillConnection&) = delete;

  void KillQuery(uint32_t Id) {
    if (handle_ == nullptr) handle_ = server_->AllocConnection();
    TMySQLBase* driver = server_->GetDriver();
    try {
      MySQLResultHandle result = driver->OpenQuery(handle_, "KILL QUERY " + std::to_string(Id));
      driver->CloseQuery(result);
    } catch (const EMySQLError& e) {
      // 1094 "Unknown thread id": the connection has ended meanwhile.
      if (e.ErrorCode() != 1094) throw;
    }
  }

 private:
  TMySQLServer* server_;
  MySQLHandle handle_ = nullptr;
};

// The server-side id of a connection, for KILL QUERY: the client's record of
// it, or, where the back end keeps none (the embedded server says 0), the
// server's answer. REQUIRES: no result pending on the connection.
uint32_t ConnectionID(TMySQLServer* Server, MySQLHandle Connection) {
  if (Server == nullptr || Connection == nullptr) return 0;
  TMySQLBase* driver = Server->GetDriver();
  const uint32_t id = driver->ThreadID(Connection);
  if (id != 0) return id;
  MySQLResultHandle result = driver->OpenQuery(Connection, "SELECT CONNECTION_ID()");
  uint32_t answer = 0;
  try {
    MySQLRow row = driver->RetrieveRow(result);
    if (row != nullptr && row[0] != nullptr) answer = static_cast<uint32_t>(std::strtoul(row[0], nullptr, 10));
    while (driver->RetrieveRow(result) != nullptr) {
    }
  } catch (...) {
    driver->CloseQuery(result);
    throw;
  }
  driver->CloseQuery(result);
  return answer;
}

// Waits Ms milliseconds; on the main thread it runs synchronized calls
// meanwhile (a worker may need one to end).
void WaitSlice(uint32_t Ms) {
  if (IsMainThread())
    CheckSynchronize(Ms);
  else
    Sleep(Ms);
}

}  // namespace

std::string TakeMySQLThreadText(intptr_t LParam) {
  std::unique_ptr<char[]> text(reinterpret_cast<char*>(LParam));
  return text ? std::string(text.get()) : std::string();
}

std::unique_ptr<TMySQLDataset> TakeMySQLThreadDataset(intptr_t LParam) {
  return std::unique_ptr<TMySQLDataset>(reinterpret_cast<TMySQLDataset*>(LParam));
}

int MySQLThreadCount() { return g_thread_count.load(); }

// ---------------------------------------------------------------------------
// Statement order of one dataset

class TMySQLThreadOrder {
 public:
  uint64_t Take() {
    std::lock_guard<std::mutex> lock(mu_);
    return next_++;
  }
  // Waits until every ticket before Ticket is done.
  void WaitTurn(uint64_t Ticket) {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait(lock, [&] { return serving_ == Ticket; });
  }
  // A ticket is done when its statement ran, failed or was never started.
  void Done(uint64_t Ticket) {
    std::lock_guard<std::mutex> lock(mu_);
    done_.insert(Ticket);
    while (done_.erase(serving_) != 0) ++serving_;
    cv_.notify_all();
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  uint64_t next_ = 0;
  uint64_t serving_ = 0;
  std::set<uint64_t> done_;
};

namespace {

// The first word of a statement, lower-cased.
std::string FirstWordLower(const std::string& Text) {
  size_t i = 0;
  while (i < Text.size() && std::isspace(static_cast<unsigned char>(Text[i]))) ++i;
  size_t j = i;
  while (j < Text.size() && std::isalpha(static_cast<unsigned char>(Text[j]))) ++j;
  std::string word = Text.substr(i, j - i);
  for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return word;
}

std::shared_ptr<TMySQLThreadOrder> OrderFor(const void* Key) {
  static std::mutex mu;
  static std::map<const void*, std::weak_ptr<TMySQLThreadOrder>> orders;
  std::lock_guard<std::mutex> lock(mu);
  for (auto it = orders.begin(); it != orders.end();) {
    if (it->second.expired())
      it = orders.erase(it);
    else
      ++it;
  }
  std::shared_ptr<TMySQLThreadOrder> order = orders[Key].lock();
  if (!order) {
    order = std::make_shared<TMySQLThreadOrder>();
    orders[Key] = order;
  }
  return order;
}

bool StartsTransaction(const std::string& Text) {
  const std::string word = FirstWordLower(Text);
  return word == "start" || word == "begin";
}

}  // namespace

// ---------------------------------------------------------------------------
// TMySQLThread

TMySQLThread::TMySQLThread(const std::string& Settings, HWND Handle, bool FreeOnTerminate)
    : settings_(Settings),
      time_out_(ReadIniInteger(Settings, "MySQL", "TimeOut", 30000)),
      handle_(Handle) {
  ++g_thread_count;
  SetFreeOnTerminate(FreeOnTerminate);
}

TMySQLThread::~TMySQLThread() {
  own_status_ = MYSQL_THREAD_FINISHED;
  TerminateAndWait();
  --g_thread_count;
}

void TMySQLThread::TerminateAndWait() {
  if (!TerminateAndClaim()) return;
  StopStatement(time_out_ < 0 ? 0 : static_cast<uint32_t>(time_out_));
  WaitFor();
}

std::exception_ptr TMySQLThread::Failure() const {
  std::lock_guard<TCriticalSection> lock(status_lock_);
  return failure_;
}

bool TMySQLThread::StatementRunning() const {
  std::lock_guard<std::mutex> lock(cancel_lock_);
  return running_id_ != 0;
}

bool TMySQLThread::CancelStatement() {
  TMySQLServer* server;
  uint32_t id;
  {
    std::lock_guard<std::mutex> lock(cancel_lock_);
    cancel_requested_ = true;
    server = running_server_;
    id = running_id_;
  }
  if (id == 0) return false;
  TKillConnection(server).KillQuery(id);
  return true;
}

void TMySQLThread::StopStatement(uint32_t WaitMs) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(WaitMs);
  while (StatementRunning() && Clock::now() < deadline) WaitSlice(5);
  {
    std::lock_guard<std::mutex> lock(cancel_lock_);
    cancel_requested_ = true;  // nothing more is sent
    if (running_id_ == 0) return;
  }
  // A KILL that reaches the server before the statement has started there
  // is forgotten when it starts, so it is sent again until the statement
  // has ended, less often as time goes on.
  std::unique_ptr<TKillConnection> killer;
  uint32_t pause = 20;
  while (true) {
    TMySQLServer* server;
    uint32_t id;
    {
      std::lock_guard<std::mutex> lock(cancel_lock_);
      server = running_server_;
      id = running_id_;
    }
    if (id == 0) return;
    try {
      if (!killer) killer = std::make_unique<TKillConnection>(server);
      killer->KillQuery(id);
    } catch (...) {
      // No second connection: the statement is waited out after all.
      return;
    }
    for (uint32_t waited = 0; waited < pause && StatementRunning(); waited += 5) WaitSlice(5);
    if (pause < 1000) pause *= 2;
  }
}

void TMySQLThread::StatementsStarting(TMySQLEvent& OnExecSQL) {
  saved_on_exec_sql_ = OnExecSQL;
  TMySQLEvent user = saved_on_exec_sql_;
  OnExecSQL = [this, user](TMySQLDatasetBase* DS, std::string& SQL, bool& Continue) {
    if (user) {
      user(DS, SQL, Continue);
      if (!Continue) return;
    }
    TMySQLServer* server = DS->Server();
    const MySQLHandle connection = DS->ConnectionHandle();
    uint32_t id = 0;
    {
      std::lock_guard<std::mutex> lock(cancel_lock_);
      // Cancelled before it was sent: it is not sent at all.
      if (cancel_requested_) Abort();
      if (connection == running_connection_) id = running_id_;
    }
    if (id == 0) id = ConnectionID(server, connection);
    std::lock_guard<std::mutex> lock(cancel_lock_);
    if (cancel_requested_) Abort();
    running_connection_ = connection;
    running_server_ = server;
    running_id_ = id;
  };
}

void TMySQLThread::StatementsDone(TMySQLEvent& OnExecSQL) {
  {
    std::lock_guard<std::mutex> lock(cancel_lock_);
    running_server_ = nullptr;
    running_id_ = 0;
    running_connection_ = nullptr;
  }
  OnExecSQL = std::move(saved_on_exec_sql_);
  saved_on_exec_sql_ = nullptr;
}

bool TMySQLThread::Switch(const char* Key) const {
  return ReadIniBoolean(settings_, "Main", Key, true);
}

bool TMySQLThread::Post(const char* Key, uint32_t Msg, uintptr_t WParam, intptr_t LParam) {
  if (handle_ == 0 || !Switch(Key)) return false;
  return PostMessage(handle_, Msg, WParam, LParam);
}

bool TMySQLThread::PostText(const char* Key, uint32_t Msg, uintptr_t WParam,
                            const std::string& Text) {
  if (handle_ == 0 || !Switch(Key)) return false;
  auto copy = std::make_unique<char[]>(Text.size() + 1);
  std::memcpy(copy.get(), Text.c_str(), Text.size() + 1);
  if (!PostMessage(handle_, Msg, WParam, reinterpret_cast<intptr_t>(copy.get()), FreeText))
    return false;  // not queued: the copy is freed here
  copy.release();  // the receiver owns it now
  return true;
}

bool TMySQLThread::ThreadExecute() {
  SetStatus(MYSQL_THREAD_RUNNING);
  suspend_when_idle_ = true;
  event_.ResetEvent();
  if (Suspended()) Resume();
  return true;
}

void TMySQLThread::SetStatus(uint8_t S) {
  if (S == own_status_) return;
  own_status_ = S;
  {
    std::lock_guard<TCriticalSection> lock(status_lock_);
    status_ = S;
  }
  Post("SilentStatus", WM_MYSQL_THREAD_STATUS, ThreadID(), S);
}

uint8_t TMySQLThread::GetStatus() const {
  std::lock_guard<TCriticalSection> lock(status_lock_);
  return status_;
}

void TMySQLThread::NotifyException(const std::string& Message) {
  last_exception_ = Message;
  PostText("SilentExceptions", WM_MYSQL_THREAD_EXCEPTION, ThreadID(), Message);
}

void TMySQLThread::NotifyClient(const std::string& Text) {
  PostText("SilentNotifies", WM_MYSQL_THREAD_NOTIFY, 0, Text);
}

void TMySQLThread::Progress(TObject* Sender, int32_t Total, int32_t Current, float Speed) {
  if (handle_ == 0 || !Switch("SilentProgress")) return;
  PostMessage(handle_, WM_MYSQL_THREAD_CURRENT, ThreadID(), Current);
  PostMessage(handle_, WM_MYSQL_THREAD_SPEED, ThreadID(), static_cast<intptr_t>(Speed));
  PostMessage(handle_, WM_MYSQL_THREAD_TOTAL, ThreadID(), Total);
}

void TMySQLThread::SetNotifyTask() {
  event_.SetEvent();
  Post("SilentTasks", WM_MYSQL_THREAD_TASK, ThreadID(), GetStatus());
}

void TMySQLThread::Idle() { Sleep(1); }
bool TMySQLThread::GetEvent() { return false; }
void TMySQLThread::HandleEvent() {}

void TMySQLThread::Execute() {
  while (!Terminated() && own_status_ != MYSQL_THREAD_FINISHED &&
         own_status_ != MYSQL_THREAD_STOP) {
    try {
      GetEvent();
      HandleEvent();
      Idle();
    } catch (...) {
      // A failed pass ends the task. The shared status follows, so that
      // GetStatus does not go on saying "running" (no 1213 for it).
      own_status_ = MYSQL_THREAD_FINISHED;
      {
        std::lock_guard<TCriticalSection> lock(status_lock_);
        status_ = MYSQL_THREAD_FINISHED;
      }
      try {
        throw;
      } catch (const EAbort&) {
      } catch (const std::exception& e) {
        {
          std::lock_guard<TCriticalSection> lock(status_lock_);
          failure_ = std::current_exception();
        }
        NotifyException(e.what());
      } catch (...) {
        {
          std::lock_guard<TCriticalSection> lock(status_lock_);
          failure_ = std::current_exception();
        }
        NotifyException("Unknown exception in a worker thread");
      }
      event_.SetEvent();
    }
    if (suspend_when_idle_ && !Terminated() && own_status_ == MYSQL_THREAD_IDLE) Suspend();
  }
  // A client or embedded library keeps state per thread that used it.
  if (thread_driver_ != nullptr) {
    try {
      thread_driver_->ThreadEnd();
    } catch (...) {
    }
  }
  event_.SetEvent();
}

void TMySQLThread::DoTerminate() {
  TMySQLServer* server = check_server_;
  // A failure no message carried and no waiting caller receives.
  std::exception_ptr unseen = handle_ == 0 && report_failure_ ? Failure() : nullptr;
  if (server == nullptr && !OnFinish && !OnTerminate && !unseen) return;
  // On the main thread nothing raised here has a caller to reach: it goes
  // to the application's handler.
  Synchronize([&] {
    if (server != nullptr) {
      // The close-on-children check the worker's connection release would
      // have made, on the thread that owns the component.
      try {
        MySQLHandle none = nullptr;
        server->FreeConnection(none);
      } catch (...) {
        ApplicationHandleException(this);
      }
    }
    try {
      if (OnFinish) OnFinish(this);
    } catch (...) {
      ApplicationHandleException(this);
    }
    try {
      if (OnTerminate) OnTerminate(this);
    } catch (...) {
      ApplicationHandleException(this);
    }
    if (unseen) ReportFailure(this, unseen);
  });
}

// ---------------------------------------------------------------------------
// TMySQLThreadedSQL

TMySQLThreadedSQL::TMySQLThreadedSQL(const std::string& Settings, HWND Handle,
                                     bool FreeOnTerminate, uint32_t AnswerMessage,
                                     int32_t AnswerWord)
    : TMySQLThread(Settings, Handle, FreeOnTerminate),
      answer_message_(AnswerMessage),
      answer_word_(AnswerWord) {}

TMySQLThreadedSQL::~TMySQLThreadedSQL() {
  TerminateAndWait();
  // A statement that never ran must not hold up those after it.
  if (order_ && ticket_taken_) order_->Done(ticket_);
}

void TMySQLThreadedSQL::SetOrder(std::shared_ptr<TMySQLThreadOrder> Order) {
  order_ = std::move(Order);
}

void TMySQLThreadedSQL::SetScript(std::vector<std::string> Statements) {
  script_ = std::move(Statements);
}

bool TMySQLThreadedSQL::ThreadExecute(TMySQLServer* Server, const std::string& SQL, bool Wait) {
  sql_ = SQL;
  server_ = Server;
  if (Server != nullptr) {
    Server->ActivateConnection();
    database_ = Server->DatabaseName();
    thread_driver_ = Server->GetDriver();
    check_server_ = Server->Options().Contains(soCloseOnChildren) ? Server : nullptr;
  }
  if (order_) {
    ticket_ = order_->Take();
    ticket_taken_ = true;
  }
  if (!TMySQLThread::ThreadExecute()) return false;
  // A thread that frees itself may be gone from here on.
  if (!Wait) return true;
  return Event().WaitFor(static_cast<uint32_t>(TimeOut())) == wrSignaled;
}

bool TMySQLThreadedSQL::GetEvent() {
  struct TurnDone {
    TMySQLThreadedSQL& self;
    ~TurnDone() {
      if (self.order_) {
        self.order_->Done(self.ticket_);
        self.order_.reset();
      }
    }
  };
  if (order_) order_->WaitTurn(ticket_);
  TurnDone turn{*this};

  auto dataset = std::make_unique<TMySQLDataset>();
  dataset->SetShareConnection(false);
  dataset->SetUseCursor(false);
  dataset->SetCursor(-19);
  dataset->SetServer(server_);
  dataset->SetDatabaseName(database_);
  TMySQLDatasetOptions options = dataset->Options();
  options.Exclude(doThreadedUpdate);
  dataset->SetOptions(options);

  if (!script_.empty()) {
    StatementsStarting(dataset->OnExecSQL);
    OnScopeExit done([&] { StatementsDone(dataset->OnExecSQL); });
    try {
      for (const std::string& statement : script_) dataset->ExecSQL(statement, false, false, "", "");
    } catch (...) {
      // The worker records the failure (Failure()) and reports it.
      if (StartsTransaction(script_.front())) {
        try {
          dataset->ExecSQL("rollback;", false, false, "", "");
        } catch (...) {
          // The connection is gone: the server undoes the transaction.
        }
      }
      throw;
    }
    return true;
  }

  const bool answer = answer_message_ > 0 && Handle() != 0;
  bool result = true;
  {
    StatementsStarting(dataset->OnExecSQL);
    OnScopeExit done([&] { StatementsDone(dataset->OnExecSQL); });
    if (answer) {
      dataset->SQL()->SetText(sql_);
      dataset->Open();
    } else {
      result = dataset->ExecSQL(sql_, false, false, "", "");
    }
  }
  if (answer && Switch("SilentProgress")) {
    if (PostMessage(Handle(), answer_message_, static_cast<uintptr_t>(answer_word_),
                    reinterpret_cast<intptr_t>(dataset.get()), FreeDataset))
      dataset.release();  // the receiver owns it now
  }
  return result;
}

void TMySQLThreadedSQL::HandleEvent() {
  SetStatus(MYSQL_THREAD_FINISHED);
  SetNotifyTask();
  Terminate();
}

// ---------------------------------------------------------------------------
// TMySQLThreadedOpen

TMySQLThreadedOpen::TMySQLThreadedOpen(const std::string& Settings, HWND Handle,
                                       bool FreeOnTerminate)
    : TMySQLThread(Settings, Handle, FreeOnTerminate) {}

TMySQLThreadedOpen::~TMySQLThreadedOpen() { TerminateAndWait(); }

bool TMySQLThreadedOpen::ThreadExecute(TMySQLDatasetBase* Dataset, bool Wait) {
  dataset_ = Dataset;
  if (Dataset != nullptr && Dataset->Server() != nullptr) {
    TMySQLServer* server = Dataset->Server();
    server->ActivateConnection();
    thread_driver_ = server->GetDriver();
    check_server_ = server->Options().Contains(soCloseOnChildren) ? server : nullptr;
  }
  // A waiting caller receives the failure itself.
  report_failure_ = !Wait;
  if (!TMySQLThread::ThreadExecute()) return false;
  if (!Wait) return true;
  WaitFor();
  if (std::exception_ptr failure = Failure()) std::rethrow_exception(failure);
  return true;
}

bool TMySQLThreadedOpen::GetEvent() {
  if (dataset_ == nullptr) return false;
  dataset_->SetShareConnection(false);
  dataset_->SetUseCursor(false);
  dataset_->SetCursor(-19);
  StatementsStarting(dataset_->OnExecSQL);
  OnScopeExit done([&] { StatementsDone(dataset_->OnExecSQL); });
  dataset_->Open();
  return true;
}

void TMySQLThreadedOpen::HandleEvent() {
  SetStatus(MYSQL_THREAD_FINISHED);
  SetNotifyTask();
  Terminate();
}

// ---------------------------------------------------------------------------
// Free functions

bool ThreadWaitSQLFree(TMySQLServer* Server, const std::string& SQL, HWND Handle,
                       const std::string& Settings) {
  auto thread = std::make_unique<TMySQLThreadedSQL>(Settings, Handle, false);
  if (thread->ThreadExecute(Server, SQL, true)) return true;
  // The time-out has passed: the statement is not waited out.
  thread->StopStatement(0);
  return false;
  // Freeing the thread waits for it.
}

namespace {

int32_t StartSQL(TMySQLServer* Server, const std::string& SQL, TNotifyEvent OnFinish,
                 HWND Handle, std::shared_ptr<TMySQLThreadOrder> Order) {
  auto thread = std::make_unique<TMySQLThreadedSQL>(kMySQLThreadSettings, Handle, true);
  thread->OnFinish = std::move(OnFinish);
  if (Order) thread->SetOrder(std::move(Order));
  const int32_t id = static_cast<int32_t>(thread->ThreadID());
  StartFree(std::move(thread),
            [&](TMySQLThreadedSQL* T) { T->ThreadExecute(Server, SQL, false); });
  return id;
}

}  // namespace

int32_t ThreadSQLFree(TMySQLServer* Server, const std::string& SQL, TNotifyEvent OnFinish,
                      HWND Handle) {
  return StartSQL(Server, SQL, std::move(OnFinish), Handle, nullptr);
}

int32_t ThreadSQLFreeOrdered(TMySQLServer* Server, const std::string& SQL,
                             TNotifyEvent OnFinish, HWND Handle, const void* OrderKey) {
  return StartSQL(Server, SQL, std::move(OnFinish), Handle, OrderFor(OrderKey));
}

int32_t ThreadSQLScriptOrdered(TMySQLServer* Server, std::vector<std::string> Statements,
                               TNotifyEvent OnFinish, HWND Handle, const void* OrderKey) {
  auto thread = std::make_unique<TMySQLThreadedSQL>(kMySQLThreadSettings, Handle, true);
  // A failure without a window to post to reaches the application's
  // handler when the thread ends (TMySQLThread::DoTerminate).
  thread->OnFinish = std::move(OnFinish);
  thread->SetOrder(OrderFor(OrderKey));
  thread->SetScript(std::move(Statements));
  const int32_t id = static_cast<int32_t>(thread->ThreadID());
  StartFree(std::move(thread),
            [&](TMySQLThreadedSQL* T) { T->ThreadExecute(Server, "", false); });
  return id;
}

// ---------------------------------------------------------------------------
// Statements of a dataset with doThreadedUpdate

void TMySQLDatasetBase::HandToWorker(const std::string& Text) {
  const std::string word = FirstWordLower(Text);
  if (word == "start" || word == "begin") {
    // A bracket left open is committed by the next start, as the server
    // itself would.
    if (!threaded_script_.empty()) {
      std::vector<std::string> script;
      script.swap(threaded_script_);
      script.push_back("commit;");
      ThreadSQLScriptOrdered(server_, std::move(script), OnThreadPosted, 0, this);
    }
    threaded_script_.assign(1, Text);
    return;
  }
  if (threaded_script_.empty()) {
    ThreadSQLScriptOrdered(server_, {Text}, OnThreadPosted, 0, this);
    return;
  }
  if (word == "rollback") {
    // Nothing of the bracket has reached the server.
    threaded_script_.clear();
    return;
  }
  threaded_script_.push_back(Text);
  if (word == "commit") {
    std::vector<std::string> script;
    script.swap(threaded_script_);
    ThreadSQLScriptOrdered(server_, std::move(script), OnThreadPosted, 0, this);
  }
}

bool ThreadSQLAnswer(TMySQLServer* Server, const std::string& SQL, HWND Handle,
                     int32_t AnswerMessage, int32_t AnswerWord, const std::string& Settings) {
  auto thread = std::make_unique<TMySQLThreadedSQL>(
      Settings, Handle, true, static_cast<uint32_t>(AnswerMessage < 0 ? 0 : AnswerMessage),
      AnswerWord);
  StartFree(std::move(thread),
            [&](TMySQLThreadedSQL* T) { T->ThreadExecute(Server, SQL, false); });
  return true;
}

void ThreadDatasetOpen(TMySQLDatasetBase* Dataset, TNotifyEvent OnOpened, bool Wait) {
  auto thread = std::make_unique<TMySQLThreadedOpen>(kMySQLThreadSettings, 0, !Wait);
  if (OnOpened) {
    // The handler sees the dataset, as after an open on the calling thread.
    thread->OnFinish = [OnOpened, Dataset](TObject*) { OnOpened(Dataset); };
  }
  if (Wait) {
    thread->ThreadExecute(Dataset, true);
    return;  // freeing the finished thread
  }
  StartFree(std::move(thread),
            [&](TMySQLThreadedOpen* T) { T->ThreadExecute(Dataset, false); });
}

// ---------------------------------------------------------------------------
// TMySQLThreaded

TMySQLThreaded::TMySQLThreaded(TComponent* AOwner) : TComponent(AOwner) {
  handle_ = AllocateHWnd([this](TMessage& Message) { OwnProc(Message); });
}

TMySQLThreaded::~TMySQLThreaded() { DeallocateHWnd(handle_); }

void TMySQLThreaded::ExecSQL(TMySQLServer* Server, const std::string& SQL) {
  const std::string settings = "[MySQL]\r\nTimeOut=" + std::to_string(time_out_) + "\r\n";
  auto thread = std::make_unique<TMySQLThreadedSQL>(settings, handle_, true);
  StartFree(std::move(thread),
            [&](TMySQLThreadedSQL* T) { T->ThreadExecute(Server, SQL, false); });
}

void TMySQLThreaded::OwnProc(TMessage& Message) {
  const auto id = static_cast<int32_t>(Message.WParam);
  const auto value = static_cast<int32_t>(Message.LParam);
  switch (Message.Msg) {
    case WM_MYSQL_THREAD_EXCEPTION: {
      const std::string text = TakeMySQLThreadText(Message.LParam);
      if (OnError) OnError(this, id, 2, text, continue_);
      break;
    }
    case WM_MYSQL_THREAD_NOTIFY: {
      const std::string text = TakeMySQLThreadText(Message.LParam);
      if (OnNotify) OnNotify(this, 0, text, continue_);
      break;
    }
    case WM_MYSQL_THREAD_STATUS:
      if (OnStatus) OnStatus(this, id, value, "", continue_);
      break;
    case WM_MYSQL_THREAD_TASK:
      if (OnTask) OnTask(this, id, value, "", continue_);
      break;
    case WM_MYSQL_THREAD_TOTAL:
      total_ = value;
      if (OnProgress) OnProgress(this, id, total_, current_, speed_, continue_);
      break;
    case WM_MYSQL_THREAD_CURRENT:
      current_ = value;
      break;
    case WM_MYSQL_THREAD_SPEED:
      speed_ = static_cast<float>(value);
      break;
    default:
      break;
  }
}

}  // namespace rowset
