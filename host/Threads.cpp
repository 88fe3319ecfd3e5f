#include "host/Threads.h"
#include "host/Immortal.h"

#include <chrono>
#include <deque>
#include <memory>

namespace rowset {

// ---------------------------------------------------------------------------
// Thread identity

namespace {

std::atomic<uint32_t> g_next_thread_id{1};
thread_local uint32_t t_thread_id = 0;

uint32_t NewThreadId() {
  uint32_t id = g_next_thread_id.fetch_add(1);
  if (id == 0) id = g_next_thread_id.fetch_add(1);  // wrapped
  return id;
}

// Set during static initialisation, which runs on the process's first
// thread.
const uint32_t g_main_thread_id = GetCurrentThreadId();

}  // namespace

uint32_t GetCurrentThreadId() {
  if (t_thread_id == 0) t_thread_id = NewThreadId();
  return t_thread_id;
}

uint32_t MainThreadID() { return g_main_thread_id; }
bool IsMainThread() { return GetCurrentThreadId() == g_main_thread_id; }

void Sleep(uint32_t Milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(Milliseconds));
}

// ---------------------------------------------------------------------------
// Synchronized calls

namespace {

struct SyncCall {
  std::function<void()> method;
  bool done = false;
  std::exception_ptr error;
};

std::deque<std::shared_ptr<SyncCall>>& SyncQueue() { return Immortal<std::deque<std::shared_ptr<SyncCall>>>(); }

}  // namespace

namespace detail {

struct LoopTag {};
std::mutex& LoopMutex() { return Immortal<std::mutex, LoopTag>(); }
std::condition_variable& LoopCv() { return Immortal<std::condition_variable, LoopTag>(); }

bool HasSyncCallsLocked() { return !SyncQueue().empty(); }

bool RunSyncCallsLocked(std::unique_lock<std::mutex>& Lock) {
  bool ran = false;
  while (!SyncQueue().empty()) {
    std::shared_ptr<SyncCall> call = SyncQueue().front();
    SyncQueue().pop_front();
    Lock.unlock();
    try {
      call->method();
    } catch (...) {
      call->error = std::current_exception();
    }
    Lock.lock();
    call->done = true;
    ran = true;
  }
  if (ran) LoopCv().notify_all();
  return ran;
}

}  // namespace detail

bool CheckSynchronize(uint32_t TimeoutMs) {
  if (!IsMainThread()) return false;
  std::unique_lock<std::mutex> lock(detail::LoopMutex());
  if (TimeoutMs > 0 && !detail::HasSyncCallsLocked()) {
    auto pred = [] { return detail::HasSyncCallsLocked(); };
    if (TimeoutMs == INFINITE)
      detail::LoopCv().wait(lock, pred);
    else
      detail::LoopCv().wait_for(lock, std::chrono::milliseconds(TimeoutMs), pred);
  }
  return detail::RunSyncCallsLocked(lock);
}

// ---------------------------------------------------------------------------
// TThread

TThread::TThread() : id_(NewThreadId()) {}

TThread::~TThread() {
  if (thread_.joinable() && std::this_thread::get_id() == thread_.get_id()) {
    // A FreeOnTerminate thread deleting itself.
    thread_.detach();
    return;
  }
  try {
    TerminateAndWait();
  } catch (...) {
    // Never throw from a destructor; the thread has ended in any case.
  }
  if (thread_.joinable()) thread_.join();
}

void TThread::Run() {
  t_thread_id = id_;
  try {
    Execute();
  } catch (...) {
    fatal_exception_ = std::current_exception();
  }
  try {
    DoTerminate();
  } catch (...) {
    if (!fatal_exception_) fatal_exception_ = std::current_exception();
  }
  bool free_self = false;
  {
    // Who frees the object is decided here, once, under the lock that
    // TerminateAndWait takes to claim it: either it claimed it before this
    // point (and waits), or the thread frees itself and nobody may wait.
    std::lock_guard<std::mutex> lock(mu_);
    free_self = free_on_terminate_.load();
    finished_ = true;
    cv_.notify_all();
  }
  // Wake a main thread waiting in WaitFor; touches no member.
  {
    std::lock_guard<std::mutex> loop(detail::LoopMutex());
    detail::LoopCv().notify_all();
  }
  if (free_self) delete this;
}

void TThread::DoTerminate() {
  if (OnTerminate) Synchronize([this] { OnTerminate(this); });
}

void TThread::Synchronize(const std::function<void()>& Method) {
  if (IsMainThread()) {
    Method();
    return;
  }
  auto call = std::make_shared<SyncCall>();
  call->method = Method;
  std::unique_lock<std::mutex> lock(detail::LoopMutex());
  SyncQueue().push_back(call);
  detail::LoopCv().notify_all();
  detail::LoopCv().wait(lock, [&] { return call->done; });
  if (call->error) std::rethrow_exception(call->error);
}

void TThread::Resume() {
  if (finished_) throw EThread("Cannot resume a finished thread");
  std::unique_lock<std::mutex> lock(mu_);
  if (!started_) {
    started_ = true;
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error& e) {
      started_ = false;
      throw EThread(std::string("Thread creation error: ") + e.what());
    }
    return;
  }
  if (suspended_) {
    resume_flag_ = true;
    cv_.notify_all();
  }
}

void TThread::Suspend() {
  if (GetCurrentThreadId() != id_ || !started_)
    throw EThread("Only the thread itself can suspend");
  std::unique_lock<std::mutex> lock(mu_);
  if (terminated_) return;
  suspended_ = true;
  resume_flag_ = false;
  cv_.wait(lock, [this] { return resume_flag_ || terminated_.load(); });
  suspended_ = false;
  resume_flag_ = false;
}

bool TThread::Suspended() const {
  std::lock_guard<std::mutex> lock(mu_);
  return !started_ || suspended_;
}

void TThread::Terminate() {
  std::lock_guard<std::mutex> lock(mu_);
  terminated_ = true;
  cv_.notify_all();
}

int TThread::WaitFor() {
  if (GetCurrentThreadId() == id_) throw EThread("A thread cannot wait for itself");
  if (!started_) throw EThread("Cannot wait for a thread that was never started");
  if (free_on_terminate_) throw EThread("Cannot wait for a thread that frees itself");
  if (IsMainThread()) {
    // Keep running synchronized calls: the thread may need one (OnTerminate)
    // to finish. Run wakes this wait when the thread finishes.
    std::unique_lock<std::mutex> lock(detail::LoopMutex());
    while (!finished_.load()) {
      if (detail::HasSyncCallsLocked())
        detail::RunSyncCallsLocked(lock);
      else
        detail::LoopCv().wait(lock);
    }
  } else {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait(lock, [this] { return finished_.load(); });
  }
  if (thread_.joinable()) thread_.join();
  return return_value_;
}

bool TThread::TerminateAndClaim() {
  std::lock_guard<std::mutex> lock(mu_);
  terminated_ = true;
  cv_.notify_all();
  if (!started_ || GetCurrentThreadId() == id_) return false;
  if (finished_ && !thread_.joinable()) return false;
  // The caller waits, so the caller owns the object from here on: a
  // thread that has not finished yet will see this under the same lock.
  if (!finished_) free_on_terminate_ = false;
  return true;
}

void TThread::TerminateAndWait() {
  if (TerminateAndClaim()) WaitFor();
}

void TThread::SetFreeOnTerminate(bool Value) {
  std::lock_guard<std::mutex> lock(mu_);
  free_on_terminate_ = Value;
}

// ---------------------------------------------------------------------------
// TEvent

void TEvent::SetEvent() {
  std::lock_guard<std::mutex> lock(mu_);
  signaled_ = true;
  if (manual_reset_)
    cv_.notify_all();
  else
    cv_.notify_one();
}

void TEvent::ResetEvent() {
  std::lock_guard<std::mutex> lock(mu_);
  signaled_ = false;
}

bool TEvent::IsSet() const {
  std::lock_guard<std::mutex> lock(mu_);
  return signaled_;
}

TWaitResult TEvent::WaitFor(uint32_t Timeout) {
  std::unique_lock<std::mutex> lock(mu_);
  auto pred = [this] { return signaled_; };
  if (Timeout == INFINITE) {
    cv_.wait(lock, pred);
  } else if (!cv_.wait_for(lock, std::chrono::milliseconds(Timeout), pred)) {
    return wrTimeout;
  }
  if (!manual_reset_) signaled_ = false;
  return wrSignaled;
}

}  // namespace rowset
