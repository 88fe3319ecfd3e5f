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

// All guarded by detail::LoopMutex().
std::unordered_map<HWND, Receiver>& Receivers() { return Immortal<std::unordered_map<HWND, Receiver>>(); }
std::deque<Queued>& Queue() { return Immortal<std::deque<Queued>>(); }
HWND g_next_handle = 0x1000;

bool HasWorkLocked(uint32_t thread, bool main) {
  if (main && detail::HasSyncCallsLocked()) return true;
  for (const Queued& q : Queue()) {
    auto it = Receivers().find(q.wnd);
    if (it != Receivers().end() && it->second.thread == thread) return true;
  }
  return false;
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
    if (Receivers().erase(Wnd) == 0) return;
    auto& q = Queue();
    for (auto it = q.begin(); it != q.end();) {
      if (it->wnd == Wnd) {
        dropped.push_back(std::move(*it));
        it = q.erase(it);
      } else {
        ++it;
      }
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
  if (Wnd == 0 || Receivers().count(Wnd) == 0) return false;
  Queue().push_back(Queued{Wnd, TMessage{Msg, WParam, LParam, 0}, std::move(Dispose)});
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
    auto& q = Queue();
    auto it = q.begin();
    TWndMethod method;
    for (; it != q.end(); ++it) {
      auto r = Receivers().find(it->wnd);
      if (r != Receivers().end() && r->second.thread == me) {
        method = r->second.method;
        break;
      }
    }
    if (it == q.end()) break;
    TMessage msg = it->msg;
    q.erase(it);
    lock.unlock();
    ++dispatched;
    if (method) method(msg);  // may throw; the lock is released already
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
  const uint32_t me = GetCurrentThreadId();
  std::lock_guard<std::mutex> lock(detail::LoopMutex());
  int n = 0;
  for (const Queued& q : Queue()) {
    auto it = Receivers().find(q.wnd);
    if (it != Receivers().end() && it->second.thread == me) ++n;
  }
  return n;
}

}  // namespace rowset
