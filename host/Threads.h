// Threads and synchronisation objects of the host framework.
//
// TThread is created suspended: the descendant's constructor finishes
// before Execute can run, and Resume (or Start) starts it. Suspend is
// cooperative: only the thread itself may suspend, and it sleeps until
// another thread calls Resume. OnTerminate runs on the main thread (through
// Synchronize) after Execute returns; a FreeOnTerminate thread then deletes
// itself.
//
// Destruction: the base destructor terminates the thread, resumes it if
// suspended and waits for it. Because a descendant's members are gone by
// then, a descendant whose Execute uses its own members calls
// TerminateAndWait() first in its own destructor.
#ifndef ROWSET_HOST_THREADS_H_
#define ROWSET_HOST_THREADS_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

#include "host/Classes.h"
#include "host/Exceptions.h"

namespace rowset {

constexpr uint32_t INFINITE = 0xFFFFFFFFu;

// A process-unique number of the calling thread (TThread threads report
// their ThreadID); never 0.
uint32_t GetCurrentThreadId();
// The main thread is the one that initialised the library (the process's
// first thread); OnTerminate and Synchronize calls run there.
bool IsMainThread();
uint32_t MainThreadID();

void Sleep(uint32_t Milliseconds);

// Runs the calls that other threads queued with Synchronize. Only the main
// thread runs them (elsewhere this returns false at once). Waits up to
// TimeoutMs for a first call to arrive; true when any call ran.
bool CheckSynchronize(uint32_t TimeoutMs = 0);

namespace detail {
// The main loop's lock and wake-up, shared by synchronized calls and posted
// messages so that one wait sees both.
std::mutex& LoopMutex();
std::condition_variable& LoopCv();
// With LoopMutex held: whether calls are queued, and running them (the lock
// is released while each runs). Main thread only.
bool HasSyncCallsLocked();
bool RunSyncCallsLocked(std::unique_lock<std::mutex>& Lock);
}  // namespace detail

class TThread : public TObject {
 public:
  TThread();
  ~TThread() override;

  // Starts a thread that has not run yet, or wakes it from Suspend.
  // Raises EThread for a thread that has finished.
  void Resume();
  void Start() { Resume(); }
  // Only from the thread itself (raises EThread otherwise): sleeps until
  // Resume or Terminate.
  void Suspend();
  // Sets Terminated; Execute is expected to look at it and return. A
  // suspended thread is woken so that it can see it.
  void Terminate();
  // Waits until Execute has returned and OnTerminate has run, running
  // synchronized calls meanwhile when called on the main thread. Returns
  // ReturnValue. Raises EThread when called from the thread itself, for a
  // thread that was never started, or for a FreeOnTerminate thread (which
  // may be gone by the time it ends).
  int WaitFor();
  // Terminates, wakes and waits (nothing to wait for when it never ran);
  // safe to call more than once. On a FreeOnTerminate thread that is still
  // running it takes the object over: the thread no longer frees itself,
  // and the caller deletes it afterwards. Virtual so that a descendant can
  // first stop work that does not look at Terminated (a running statement).
  virtual void TerminateAndWait();

  bool Terminated() const { return terminated_.load(); }
  bool Suspended() const;
  bool Started() const { return started_.load(); }
  bool Finished() const { return finished_.load(); }
  uint32_t ThreadID() const { return id_; }
  bool FreeOnTerminate() const { return free_on_terminate_.load(); }
  void SetFreeOnTerminate(bool Value);
  int ReturnValue() const { return return_value_.load(); }
  // The exception that escaped Execute, if any.
  std::exception_ptr FatalException() const { return fatal_exception_; }

  TNotifyEvent OnTerminate;

 protected:
  virtual void Execute() = 0;
  // Called on the thread after Execute; runs OnTerminate on the main thread.
  virtual void DoTerminate();
  // Runs Method on the main thread and waits for it (directly when called
  // on the main thread). An exception in Method is raised here again.
  void Synchronize(const std::function<void()>& Method);
  void SetReturnValue(int Value) { return_value_ = Value; }
  // The first half of TerminateAndWait: sets Terminated, wakes the thread
  // and, when it is running, takes the object over as TerminateAndWait
  // does. True when there is a thread to wait for (then call WaitFor).
  bool TerminateAndClaim();

 private:
  void Run();

  std::thread thread_;
  uint32_t id_;
  mutable std::mutex mu_;
  std::condition_variable cv_;
  bool suspended_ = false;  // sleeping in Suspend
  bool resume_flag_ = false;
  std::atomic<bool> started_{false};
  std::atomic<bool> finished_{false};
  std::atomic<bool> terminated_{false};
  std::atomic<bool> free_on_terminate_{false};
  std::atomic<int> return_value_{0};
  std::exception_ptr fatal_exception_;
};

// A re-entrant lock.
class TCriticalSection : public TObject {
 public:
  void Acquire() { mu_.lock(); }
  void Release() { mu_.unlock(); }
  void Enter() { Acquire(); }
  void Leave() { Release(); }
  bool TryEnter() { return mu_.try_lock(); }
  // For std::lock_guard / std::unique_lock.
  void lock() { Acquire(); }
  void unlock() { Release(); }

 private:
  std::recursive_mutex mu_;
};

enum TWaitResult { wrSignaled, wrTimeout, wrAbandoned, wrError };

// An event object: manual reset (stays set until ResetEvent) or automatic
// (one waiter consumes the signal).
class TEvent : public TObject {
 public:
  TEvent(bool ManualReset, bool InitialState)
      : manual_reset_(ManualReset), signaled_(InitialState) {}
  void SetEvent();
  void ResetEvent();
  // Waits up to Timeout ms (INFINITE: no limit).
  TWaitResult WaitFor(uint32_t Timeout);
  bool IsSet() const;

 private:
  const bool manual_reset_;
  mutable std::mutex mu_;
  std::condition_variable cv_;
  bool signaled_;
};

// A manual-reset event, created reset.
class TSimpleEvent : public TEvent {
 public:
  TSimpleEvent() : TEvent(true, false) {}
};

}  // namespace rowset

#endif  // ROWSET_HOST_THREADS_H_
