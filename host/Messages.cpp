#include "host/Messages.h"
#include "host/Immortal.h"

#include <chrono>
#include <deque>
#include <unordered_map>
#include <vector>

#include "host/Threads.h"

namespace rowset {

TApplication Application;

namespace {

struct Receiver {
  TWndMethod method;
  uint32_t thread;
};

struct Queued {
  HWND wnd;
  TMessage msg;
  TMessageDisposer dispose;
};

// All guarded by detail::LoopMutex(). Each receiving thread has a queue of
// its own, so dispatching never passes over other threads' messages; a
// queued message always has a live receiver (freeing one drops its
// messages).
std::unordered_map<HWND, Receiver>& Receivers() { return Immortal<std::unordered_map<HWND, Receiver>>(); }
std::unordered_map<uint32_t, std::deque<Queued>>& Queues() {
  return Immortal<std::unordered_map<uint32_t, std::deque<Queued>>>();
}
HWND g_next_handle = 0x1000;

std::deque<Queued>* QueueOf(uint32_t thread) {
  auto it = Queues().find(thread);
  return it == Queues().end() ? nullptr : &it->second;
}

bool HasWorkLocked(uint32_t thread, bool main) {
  if (main && detail::HasSyncCallsLocked()) return true;
  const std::deque<Queued>* q = QueueOf(thread);
  return q != nullptr && !q->empty();
}

}  // namespace

HWND AllocateHWnd(TWndMethod Method) {
  std::lock_guard<std::mutex> lock(detail::LoopMutex());
  HWND h = g_next_handle++;
  Receivers()[h] = Receiver{std::move(Method), GetCurrentThreadId()};
  return h;
}

void DeallocateHWnd(HWND Wnd) {
  std::vector<Queued> dropped;
  {
    std::lock_guard<std::mutex> lock(detail::LoopMutex());
    auto r = Receivers().find(Wnd);
    if (r == Receivers().end()) return;
    const uint32_t thread = r->second.thread;
    Receivers().erase(r);
    if (std::deque<Queued>* q = QueueOf(thread)) {
      std::deque<Queued> kept;
      for (Queued& m : *q) (m.wnd == Wnd ? dropped.emplace_back(std::move(m)) : kept.emplace_back(std::move(m)));
      if (kept.empty())
        Queues().erase(thread);
      else
        *q = std::move(kept);
    }
  }
  for (Queued& d : dropped) {
    if (!d.dispose) continue;
    try {
      d.dispose(d.msg.LParam);
    } catch (...) {
      // A disposer must not stop the others from running.
    }
  }
}

bool IsWindow(HWND Wnd) {
  std::lock_guard<std::mutex> lock(detail::LoopMutex());
  return Receivers().count(Wnd) != 0;
}

bool PostMessage(HWND Wnd, uint32_t Msg, uintptr_t WParam, intptr_t LParam, TMessageDisposer Dispose) {
  std::lock_guard<std::mutex> lock(detail::LoopMutex());
  auto r = Receivers().find(Wnd);
  if (Wnd == 0 || r == Receivers().end()) return false;
  Queues()[r->second.thread].push_back(Queued{Wnd, TMessage{Msg, WParam, LParam, 0}, std::move(Dispose)});
  detail::LoopCv().notify_all();
  return true;
}

bool PostMessage(HWND Wnd, uint32_t Msg, uintptr_t WParam, intptr_t LParam) {
  return PostMessage(Wnd, Msg, WParam, LParam, nullptr);
}

intptr_t SendMessage(HWND Wnd, uint32_t Msg, uintptr_t WParam, intptr_t LParam) {
  TWndMethod method;
  {
    std::lock_guard<std::mutex> lock(detail::LoopMutex());
    auto it = Receivers().find(Wnd);
    if (it == Receivers().end() || it->second.thread != GetCurrentThreadId()) return 0;
    method = it->second.method;
  }
  TMessage m{Msg, WParam, LParam, 0};
  if (method) method(m);
  return m.Result;
}

int TApplication::ProcessMessages() {
  const uint32_t me = GetCurrentThreadId();
  const bool main = IsMainThread();
  int dispatched = 0;
  std::unique_lock<std::mutex> lock(detail::LoopMutex());
  if (main) detail::RunSyncCallsLocked(lock);
  // Take the messages one at a time: a handler may post, free receivers or
  // pump again.
  while (true) {
    std::deque<Queued>* q = QueueOf(me);
    if (q == nullptr || q->empty()) break;
    Queued next = std::move(q->front());
    q->pop_front();
    if (q->empty()) Queues().erase(me);
    auto r = Receivers().find(next.wnd);
    TWndMethod method = r != Receivers().end() ? r->second.method : TWndMethod();
    lock.unlock();
    ++dispatched;
    if (method) method(next.msg);  // may throw; the lock is released already
    lock.lock();
    if (main) detail::RunSyncCallsLocked(lock);
  }
  return dispatched;
}

bool TApplication::WaitAndDispatch(uint32_t TimeoutMs) {
  const uint32_t me = GetCurrentThreadId();
  const bool main = IsMainThread();
  {
    std::unique_lock<std::mutex> lock(detail::LoopMutex());
    auto pred = [&] { return HasWorkLocked(me, main); };
    if (TimeoutMs == INFINITE)
      detail::LoopCv().wait(lock, pred);
    else if (!detail::LoopCv().wait_for(lock, std::chrono::milliseconds(TimeoutMs), pred))
      return false;
    if (main && detail::RunSyncCallsLocked(lock)) {
      lock.unlock();
      ProcessMessages();
      return true;
    }
  }
  return ProcessMessages() > 0;
}

bool TApplication::ProcessMessagesUntil(const std::function<bool()>& Done, uint32_t TimeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  while (true) {
    ProcessMessages();
    if (Done()) return true;
    auto now = std::chrono::steady_clock::now();
    if (TimeoutMs != INFINITE && now >= deadline) return false;
    uint32_t left = TimeoutMs == INFINITE
                        ? 10
                        : static_cast<uint32_t>(
                              std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count());
    // Wake at least every 10 ms: Done may depend on things that post nothing.
    WaitAndDispatch(std::min<uint32_t>(left + 1, 10));
    if (Done()) return true;
  }
}

int TApplication::PendingMessages() {
  std::lock_guard<std::mutex> lock(detail::LoopMutex());
  const std::deque<Queued>* q = QueueOf(GetCurrentThreadId());
  return q == nullptr ? 0 : static_cast<int>(q->size());
}

}  // namespace rowset
