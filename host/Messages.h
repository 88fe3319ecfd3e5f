// Posted messages to hidden receivers, in place of window messages.
//
// AllocateHWnd registers a handler and gives its handle. PostMessage, from
// any thread, queues a message for a handle; the thread that allocated the
// receiver dispatches its messages, in the order they were posted, when it
// pumps (Application.ProcessMessages, or the blocking WaitAndDispatch).
// DeallocateHWnd drops the receiver together with its queued messages: a
// message to a freed receiver is never delivered. A message may carry a
// disposer that frees its payload when it is dropped undelivered.
#ifndef ROWSET_HOST_MESSAGES_H_
#define ROWSET_HOST_MESSAGES_H_

#include <cstdint>
#include <functional>

namespace rowset {

using HWND = uintptr_t;  // 0: no receiver
constexpr uint32_t WM_USER = 1024;

struct TMessage {
  uint32_t Msg;
  uintptr_t WParam;
  intptr_t LParam;
  intptr_t Result;
};

using TWndMethod = std::function<void(TMessage& Message)>;
// Frees a message's payload (given its LParam) when the message is dropped.
using TMessageDisposer = std::function<void(intptr_t LParam)>;

// The receiver belongs to the calling thread. Handles are never reused.
HWND AllocateHWnd(TWndMethod Method);
// Drops the receiver and every message queued for it (their disposers run
// here). Unknown handles and 0 are ignored.
void DeallocateHWnd(HWND Wnd);
bool IsWindow(HWND Wnd);

// Queues a message; false (nothing queued, the caller keeps the payload)
// for 0 or a handle that is not allocated.
bool PostMessage(HWND Wnd, uint32_t Msg, uintptr_t WParam, intptr_t LParam);
bool PostMessage(HWND Wnd, uint32_t Msg, uintptr_t WParam, intptr_t LParam,
                 TMessageDisposer Dispose);
// Calls the receiver at once on the calling thread, which must own it;
// returns the handler's Result (0 for an unknown handle).
intptr_t SendMessage(HWND Wnd, uint32_t Msg, uintptr_t WParam, intptr_t LParam);

class TApplication {
 public:
  // Dispatches every message queued for the calling thread's receivers and,
  // on the main thread, runs queued synchronized calls. Returns the number
  // of messages dispatched. An exception from a handler propagates after
  // the message is taken off the queue.
  int ProcessMessages();
  // Waits up to TimeoutMs (INFINITE: no limit) for work, then does
  // ProcessMessages. True when a message was dispatched or a call ran.
  bool WaitAndDispatch(uint32_t TimeoutMs);
  // Pumps until Done() is true or TimeoutMs has passed; returns Done().
  bool ProcessMessagesUntil(const std::function<bool()>& Done, uint32_t TimeoutMs);
  // Messages waiting for the calling thread's receivers.
  int PendingMessages();
};

extern TApplication Application;

}  // namespace rowset

#endif  // ROWSET_HOST_MESSAGES_H_
