#include "host/Threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "host/Dialogs.h"
#include "host/Messages.h"

namespace rowset {
namespace {

class TCounterThread : public TThread {
 public:
  explicit TCounterThread(std::atomic<int>* alive) : alive_(alive) { ++*alive_; }
  ~TCounterThread() override {
    TerminateAndWait();
    --*alive_;
  }
  std::atomic<int> passes{0};
  std::atomic<uint32_t> seen_id{0};
  bool suspend_when_idle = false;

 protected:
  void Execute() override {
    seen_id = GetCurrentThreadId();
    while (!Terminated()) {
      ++passes;
      if (suspend_when_idle) Suspend();
      Sleep(1);
      if (passes >= 3 && !suspend_when_idle) break;
    }
    SetReturnValue(passes);
  }

 private:
  std::atomic<int>* alive_;
};

TEST(ThreadTest, CreatedSuspendedThenRunsAndIsWaitedFor) {
  std::atomic<int> alive{0};
  TCounterThread t(&alive);
  EXPECT_TRUE(t.Suspended());
  Sleep(5);
  EXPECT_EQ(t.passes.load(), 0);
  t.Resume();
  EXPECT_EQ(t.WaitFor(), 3);
  EXPECT_TRUE(t.Finished());
  EXPECT_EQ(t.seen_id.load(), t.ThreadID());
  EXPECT_NE(t.ThreadID(), GetCurrentThreadId());
  EXPECT_THROW(t.Resume(), EThread);
}

TEST(ThreadTest, SuspendIsCooperativeAndResumeWakes) {
  std::atomic<int> alive{0};
  TCounterThread t(&alive);
  t.suspend_when_idle = true;
  EXPECT_THROW(t.WaitFor(), EThread);  // never started
  t.Resume();
  while (!t.Suspended() || t.passes.load() < 1) Sleep(1);
  EXPECT_THROW(t.Suspend(), EThread);  // not from another thread
  int before = t.passes.load();
  t.Resume();
  while (t.passes.load() == before) Sleep(1);
  // Destroying a suspended thread wakes it with Terminated set.
}

TEST(ThreadTest, NeverStartedThreadIsSimplyFreed) {
  std::atomic<int> alive{0};
  { TCounterThread t(&alive); }
  EXPECT_EQ(alive.load(), 0);
}

TEST(ThreadTest, FreeOnTerminateRunsOnTerminateOnMainThread) {
  std::atomic<int> alive{0};
  std::atomic<bool> on_main{false};
  std::atomic<int> terminated{0};
  auto* t = new TCounterThread(&alive);
  t->SetFreeOnTerminate(true);
  t->OnTerminate = [&](TObject* sender) {
    on_main = IsMainThread();
    EXPECT_EQ(sender, t);
    ++terminated;
  };
  t->Resume();
  EXPECT_THROW(t->WaitFor(), EThread);  // it frees itself: not waitable
  // OnTerminate needs the main thread to pump.
  EXPECT_TRUE(Application.ProcessMessagesUntil([&] { return alive.load() == 0; }, 5000));
  EXPECT_EQ(terminated.load(), 1);
  EXPECT_TRUE(on_main.load());
}

class TThrowingThread : public TThread {
 protected:
  void Execute() override { throw EDatabaseError("worker failed"); }
};

// A thread that runs until it is told to stop.
class TUntilTerminated : public TThread {
 protected:
  void Execute() override {
    while (!Terminated()) std::this_thread::yield();
  }
};

// TerminateAndWait on a thread set to free itself takes the object over:
// the thread must not delete it while the caller waits (run this under the
// sanitizer build to see a use-after-free).
TEST(ThreadTest, TerminateAndWaitClaimsAFreeOnTerminateThread) {
  for (int round = 0; round < 20000; ++round) {
    auto t = std::make_unique<TUntilTerminated>();
    t->SetFreeOnTerminate(true);
    t->Resume();
    t->TerminateAndWait();
    ASSERT_TRUE(t->Finished());
    ASSERT_FALSE(t->FreeOnTerminate());
  }
}

// The main thread waiting for a worker still runs the worker's
// synchronized calls, and wakes when the worker ends, not by polling.
TEST(ThreadTest, MainThreadWaitServesSynchronizedCalls) {
  class TSyncing : public TThread {
   protected:
    void Execute() override {
      for (int i = 0; i < 200; ++i) Synchronize([this] { ++calls; });
      SetReturnValue(7);
    }

   public:
    int calls = 0;  // touched only on the main thread
  };
  TSyncing t;
  t.Resume();
  EXPECT_EQ(t.WaitFor(), 7);
  EXPECT_EQ(t.calls, 200);
}

TEST(ThreadTest, ExceptionInExecuteIsKeptNotFatal) {
  TThrowingThread t;
  t.Resume();
  t.WaitFor();
  ASSERT_TRUE(t.FatalException());
  EXPECT_THROW(std::rethrow_exception(t.FatalException()), EDatabaseError);
}

TEST(SyncTest, CriticalSectionIsReentrantAndEventsTimeOut) {
  TCriticalSection cs;
  cs.Enter();
  cs.Enter();
  cs.Leave();
  cs.Leave();
  int counter = 0;
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&] {
      for (int k = 0; k < 10000; ++k) {
        std::lock_guard<TCriticalSection> g(cs);
        ++counter;
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(counter, 40000);

  TSimpleEvent ev;
  EXPECT_EQ(ev.WaitFor(20), wrTimeout);
  std::thread setter([&] {
    Sleep(10);
    ev.SetEvent();
  });
  EXPECT_EQ(ev.WaitFor(5000), wrSignaled);
  setter.join();
  EXPECT_EQ(ev.WaitFor(0), wrSignaled);  // manual reset: stays set
  ev.ResetEvent();
  EXPECT_EQ(ev.WaitFor(0), wrTimeout);

  TEvent autoev(false, true);
  EXPECT_EQ(autoev.WaitFor(0), wrSignaled);
  EXPECT_EQ(autoev.WaitFor(0), wrTimeout);
}

// ---------------------------------------------------------------------------

TEST(MessageTest, PostedFromSeveralThreadsArriveInOrderOnTheOwningThread) {
  std::vector<std::pair<uintptr_t, intptr_t>> got;
  bool all_on_main = true;
  HWND h = AllocateHWnd([&](TMessage& m) {
    all_on_main = all_on_main && IsMainThread();
    if (m.Msg == WM_USER + 187) got.emplace_back(m.WParam, m.LParam);
  });
  std::vector<std::thread> posters;
  for (uintptr_t t = 0; t < 4; ++t)
    posters.emplace_back([h, t] {
      for (intptr_t i = 0; i < 500; ++i) ASSERT_TRUE(PostMessage(h, WM_USER + 187, t, i));
    });
  for (auto& th : posters) th.join();
  EXPECT_EQ(got.size(), 0u);  // nothing before the main thread pumps
  EXPECT_TRUE(Application.ProcessMessagesUntil([&] { return got.size() == 2000; }, 5000));
  EXPECT_TRUE(all_on_main);
  std::vector<intptr_t> last(4, -1);
  for (auto& [thread, seq] : got) {
    EXPECT_EQ(seq, last[thread] + 1);
    last[thread] = seq;
  }
  DeallocateHWnd(h);
}

TEST(MessageTest, NothingIsDeliveredAfterTheReceiverIsFreed) {
  int delivered = 0, disposed = 0;
  HWND h = AllocateHWnd([&](TMessage&) { ++delivered; });
  ASSERT_TRUE(PostMessage(h, WM_USER + 188, 0, 1));
  ASSERT_TRUE(PostMessage(h, WM_USER + 188, 0, 2, [&](intptr_t l) { disposed += static_cast<int>(l); }));
  DeallocateHWnd(h);
  EXPECT_EQ(disposed, 2);  // the payload of the dropped message was freed
  EXPECT_FALSE(PostMessage(h, WM_USER + 188, 0, 3));
  EXPECT_FALSE(PostMessage(0, WM_USER + 188, 0, 3));
  Application.ProcessMessages();
  EXPECT_EQ(delivered, 0);
  EXPECT_FALSE(IsWindow(h));

  // A handler that frees its own receiver stops the rest of its queue.
  HWND h2 = 0;
  h2 = AllocateHWnd([&](TMessage&) {
    ++delivered;
    DeallocateHWnd(h2);
  });
  PostMessage(h2, 1, 0, 0);
  PostMessage(h2, 2, 0, 0);
  EXPECT_EQ(Application.ProcessMessages(), 1);
  EXPECT_EQ(delivered, 1);
}

TEST(MessageTest, WaitAndDispatchTimesOutAndWakesOnPost) {
  int delivered = 0;
  HWND h = AllocateHWnd([&](TMessage& m) {
    ++delivered;
    m.Result = 42;
  });
  EXPECT_FALSE(Application.WaitAndDispatch(20));
  std::thread poster([h] {
    Sleep(10);
    PostMessage(h, 5, 0, 0);
  });
  EXPECT_TRUE(Application.WaitAndDispatch(5000));
  poster.join();
  EXPECT_EQ(delivered, 1);
  EXPECT_EQ(SendMessage(h, 6, 0, 0), 42);
  DeallocateHWnd(h);
}

// ---------------------------------------------------------------------------

class TScripted : public TDialogProvider {
 public:
  int answer = mrNo;
  std::string last;
  int MessageDlg(const std::string& Msg, TMsgDlgType, TMsgDlgButtons) override {
    last = Msg;
    return answer;
  }
  bool LoginForm(TLoginFormData& Data) override {
    Data.Password = "secret";
    return true;
  }
};

// Messages waiting for another thread's receiver must not slow down the
// dispatch of this thread's messages: work grows with the messages, not
// with their product.
double DispatchSeconds(int n) {
  HWND mine = AllocateHWnd([](TMessage&) {});
  HWND foreign = 0;
  std::thread other([&] { foreign = AllocateHWnd([](TMessage&) {}); });
  other.join();
  double best = 1e9;
  for (int run = 0; run < 3; ++run) {
    for (int i = 0; i < n; ++i) PostMessage(foreign, WM_USER, 0, 0);
    for (int i = 0; i < n; ++i) PostMessage(mine, WM_USER, 0, 0);
    auto start = std::chrono::steady_clock::now();
    int got = Application.ProcessMessages();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    EXPECT_EQ(got, n);
    DeallocateHWnd(foreign);  // drops the foreign messages
    std::thread again([&] { foreign = AllocateHWnd([](TMessage&) {}); });
    again.join();
  }
  DeallocateHWnd(foreign);
  DeallocateHWnd(mine);
  return best;
}

TEST(MessageTest, DispatchScalesWithTheMessages) {
  // Up to three attempts, so that a burst of load elsewhere cannot fail it;
  // a cost that grows faster than the input fails every one.
  double ratio = 1e9;
  for (int attempt = 0; attempt < 3 && ratio >= 3.0; ++attempt) {
    const double small = DispatchSeconds(20000);
    const double large = DispatchSeconds(40000);
    ratio = std::min(ratio, large / small);
  }
  EXPECT_LT(ratio, 3.0);
}

TEST(DialogTest, ProviderIsReplaceableAndDefaultNeverWaits) {
  // With no one to ask, the declining button answers.
  SetDialogInteractive(0);
  EXPECT_EQ(MessageDlg("Proceed?", mtWarning, {mbYes, mbAbort}), mrAbort);
  EXPECT_EQ(MessageDlg("Sure?", mtConfirmation, {mbYes, mbNo, mbOK}), mrNo);
  EXPECT_EQ(MessageDlg("Drop?", mtConfirmation, {mbYes, mbNo, mbCancel}), mrNo);
  EXPECT_EQ(MessageDlg("Again?", mtError, {mbRetry, mbCancel}), mrCancel);
  EXPECT_EQ(MessageDlg("Stop?", mtWarning, {mbOK, mbAbort}), mrAbort);
  EXPECT_EQ(MessageDlg("Note", mtInformation, {mbOK}), mrOk);
  EXPECT_EQ(MessageDlg("Note", mtInformation, {}), mrOk);
  EXPECT_EQ(MessageDlg("Retry?", mtError, {mbRetry, mbIgnore}), mrRetry);
  TLoginFormData login;
  login.UserName = "root";
  EXPECT_TRUE(ShowLoginForm(login));
  EXPECT_EQ(login.UserName, "root");

  auto old = SetDialogProvider(std::make_unique<TScripted>());
  EXPECT_EQ(old, nullptr);
  EXPECT_EQ(MessageDlg("Drop it?", mtConfirmation, {mbYes, mbNo}), mrNo);
  EXPECT_EQ(static_cast<TScripted&>(DialogProvider()).last, "Drop it?");
  EXPECT_TRUE(ShowLoginForm(login));
  EXPECT_EQ(login.Password, "secret");
  SetDialogProvider(nullptr);
  SetDialogInteractive(-1);

  {
    TCursorScope busy(crSQLWait);
    EXPECT_EQ(Screen.Cursor(), crSQLWait);
  }
  EXPECT_EQ(Screen.Cursor(), crDefault);
}

}  // namespace
}  // namespace rowset
