// Ctrl-C handling of the rowset program (see Interrupt.h).
#include "tools/rowset/Interrupt.h"

#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <string>

#include "tools/rowset/Runner.h"

namespace rowset::cli {

namespace {

// Shared with the signal handler: lock-free atomics only.
std::atomic<bool> g_executing{false};
std::atomic<bool> g_in_prompt{false};
pthread_t g_main_thread;
pthread_t g_watcher_thread;
std::atomic<bool> g_watcher_started{false};
std::atomic<uint32_t> g_connection{0};
std::atomic<bool> g_prompt_hit{false};
std::atomic<bool> g_statement_hit{false};
std::atomic<bool> g_quit{false};
std::atomic<bool> g_stopping{false};
std::atomic<int64_t> g_last_ms{0};
// SIGHUP and SIGTERM, when the program did not start with them ignored:
// taken by the watcher too, so that the history is saved before leaving.
sigset_t g_ending_set;

constexpr int64_t kTwiceMs = 1000;  // two presses within this end the program

int64_t NowMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Records a press; true when it is the second within kTwiceMs.
bool Press() {
  const int64_t now = NowMs();
  const int64_t last = g_last_ms.exchange(now);
  const bool twice = last != 0 && now - last < kTwiceMs;
  if (twice) g_quit = true;
  return twice;
}

// Runs on the main thread while it waits at the prompt: the read ends with
// EINTR and the caller looks at the flags. A thread that unblocked the
// signal for itself (the embedded server starts such threads) hands it on to
// the watcher.
extern "C" void OnPromptInterrupt(int) {
  const int saved = errno;
  if (!::pthread_equal(::pthread_self(), g_main_thread)) {
    if (g_watcher_started) ::pthread_kill(g_watcher_thread, SIGINT);
    errno = saved;
    return;
  }
  Press();
  g_prompt_hit = true;
  errno = saved;
}

// A thread that unblocked an ending signal for itself (the embedded
// server's) hands it on to the watcher.
extern "C" void OnEndingSignal(int Signal) {
  const int saved = errno;
  if (g_watcher_started) ::pthread_kill(g_watcher_thread, Signal);
  errno = saved;
}

void InstallEndingHandlers() {
  for (int signal : {SIGHUP, SIGTERM}) {
    if (!sigismember(&g_ending_set, signal)) continue;
    struct sigaction sa {};
    sa.sa_handler = OnEndingSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(signal, &sa, nullptr);
  }
}

sigset_t InterruptSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  return set;
}

// SIGINT and the ending signals: what the watcher waits for.
sigset_t WatchedSet() {
  sigset_t set = InterruptSet();
  for (int signal : {SIGHUP, SIGTERM})
    if (sigismember(&g_ending_set, signal)) sigaddset(&set, signal);
  return set;
}

struct sigaction g_previous {};

}  // namespace

void Interrupts::BlockInThisThread() {
  const sigset_t set = InterruptSet();
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

Interrupts::Interrupts(bool Interactive, FILE* Err) : interactive_(Interactive), err_(Err) {
  g_main_thread = ::pthread_self();
  BlockInThisThread();
  // A hang-up or a request to terminate ends the program as a second
  // Ctrl-C does (the history saved), unless started with it ignored
  // (nohup). They are blocked here, before any server thread starts, so
  // that only the watcher takes them.
  sigemptyset(&g_ending_set);
  for (int signal : {SIGHUP, SIGTERM}) {
    struct sigaction current {};
    ::sigaction(signal, nullptr, &current);
    if (current.sa_handler != SIG_IGN) sigaddset(&g_ending_set, signal);
  }
  ::pthread_sigmask(SIG_BLOCK, &g_ending_set, nullptr);
  // A program started with Ctrl-C ignored (in the background of a shell
  // without job control) keeps ignoring it.
  struct sigaction current {};
  ::sigaction(SIGINT, nullptr, &current);
  if (current.sa_handler != SIG_IGN) {
    struct sigaction sa {};
    sa.sa_handler = OnPromptInterrupt;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: the prompt's read must end
    ::sigaction(SIGINT, &sa, &g_previous);
    sigint_handled_ = true;
  }
  InstallEndingHandlers();
  watcher_ = std::thread([this] { Watch(); });
  g_watcher_thread = watcher_.native_handle();
  g_watcher_started = true;
}

Interrupts::~Interrupts() {
  if (!watcher_.joinable()) return;
  g_stopping = true;
  ::pthread_kill(watcher_.native_handle(), SIGINT);
  watcher_.join();
  g_watcher_started = false;
  if (sigint_handled_) ::sigaction(SIGINT, &g_previous, nullptr);
  g_stopping = false;
  // An ending signal that arrives from here on has its default effect.
  for (int signal : {SIGHUP, SIGTERM})
    if (sigismember(&g_ending_set, signal)) ::signal(signal, SIG_DFL);
  ::pthread_sigmask(SIG_UNBLOCK, &g_ending_set, nullptr);
}

void Interrupts::SetServer(TMySQLServer* Server) {
  server_ = Server;
  // The embedded server installs handlers of its own when it starts, and
  // starts threads that let signals through: ours goes back in place.
  InstallEndingHandlers();
  if (sigint_handled_) {
    struct sigaction sa {};
    sa.sa_handler = OnPromptInterrupt;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;
    ::sigaction(SIGINT, &sa, nullptr);
  }
}

void Interrupts::Watch() {
  const sigset_t set = WatchedSet();
  while (true) {
    int signal = 0;
    if (::sigwait(&set, &signal) != 0) continue;
    if (g_stopping) break;
    if (signal != SIGINT) {
      // Hang-up or terminate: the running statement is killed, the history
      // saved, and the program ends with the shell's code for the signal.
      const uint32_t id = g_connection;
      if (g_executing && id != 0 && server_ != nullptr) {
        try {
          KillQuery(id);
        } catch (...) {
        }
      }
      Exit(128 + signal);
    }
    if (g_in_prompt) {
      // Meant for the read at the prompt, which only the main thread can end.
      ::pthread_kill(g_main_thread, SIGINT);
      continue;
    }
    const bool twice = Press();
    TMySQLServer* server = server_;
    if (server == nullptr || (!interactive_ && !g_executing)) Exit();
    if (!g_executing) {
      // At the prompt the main thread reads with the signal let through, so
      // this press came while it was busy elsewhere (printing, a dialog);
      // a second one ends the program at the next prompt.
      continue;
    }
    g_statement_hit = true;
    const uint32_t id = g_connection;
    if (twice) {
      if (id != 0) {
        try {
          KillQuery(id);
        } catch (...) {
        }
      }
      Exit();
    }
    if (id == 0) continue;
    const std::string kill = "KILL QUERY " + std::to_string(id);
    std::fprintf(err_, "Ctrl-C -- sending \"%s\" to server ...\n", kill.c_str());
    try {
      KillQuery(id);
      std::fprintf(err_, "Ctrl-C -- query killed.\n");
    } catch (const std::exception& e) {
      std::fprintf(err_, "Ctrl-C -- the query could not be killed: %s\n", Runner::MessageText(e).c_str());
    }
    std::fflush(err_);
  }
  if (TMySQLServer* server = server_) server->GetDriver()->ThreadEnd();
}

void Interrupts::KillQuery(uint32_t Id) {
  TMySQLServer* server = server_;
  TMySQLBase* driver = server->GetDriver();
  MySQLHandle handle = server->AllocConnection();
  try {
    MySQLResultHandle result = driver->OpenQuery(handle, "KILL QUERY " + std::to_string(Id));
    driver->CloseQuery(result);
  } catch (...) {
    server->FreeConnection(handle);
    throw;
  }
  server->FreeConnection(handle);
}

void Interrupts::Exit(int Code) {
  if (!exiting_.exchange(true) && OnExit) {
    try {
      OnExit();
    } catch (...) {
    }
  }
  std::fflush(err_);
  ::_exit(Code);
}

Interrupts::Running::Running(Interrupts&, uint32_t ConnectionId) {
  g_connection = ConnectionId;
  g_statement_hit = false;
  g_executing = true;
}

Interrupts::Running::~Running() { g_executing = false; }

Interrupts::PromptWindow::PromptWindow() {
  g_in_prompt = true;
  const sigset_t set = InterruptSet();
  ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

Interrupts::PromptWindow::~PromptWindow() {
  const sigset_t set = InterruptSet();
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
  g_in_prompt = false;
}

bool Interrupts::TakePromptInterrupt() { return g_prompt_hit.exchange(false); }
bool Interrupts::StatementInterrupted() const { return g_statement_hit; }
bool Interrupts::QuitRequested() const { return g_quit; }

uint32_t ConnectionId(TMySQLServer& Server) {
  // The embedded server's connections report no thread id through the
  // client call: it is asked for (in process, so cheaply). Not kept: a
  // connection made again may have the same handle and another id.
  try {
    TMySQLBase* driver = Server.GetDriver();
    MySQLHandle handle = Server.Connection();
    if (handle == nullptr) return 0;
    uint32_t id = driver->ThreadID(handle);
    if (id == 0) {
      MySQLResultHandle result = driver->OpenQuery(handle, "select connection_id()");
      if (MySQLRow row = driver->RetrieveRow(result); row != nullptr && row[0] != nullptr)
        id = static_cast<uint32_t>(std::strtoul(row[0], nullptr, 10));
      while (driver->RetrieveRow(result) != nullptr) {
      }
      driver->CloseQuery(result);
    }
    return id;
  } catch (...) {
    return 0;
  }
}

}  // namespace rowset::cli
