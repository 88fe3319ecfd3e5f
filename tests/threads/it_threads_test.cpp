// Worker threads against the test server: what a statement thread posts
// (failure text, status, task, answer dataset), the settings switches and
// time-out, the free functions, TMySQLThreaded's events, and the dataset's
// threaded open and threaded posting.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/threads/ThreadTestUtil.h"

namespace rowset::test {
namespace {

class ThreadsTest : public ThreadTest {
 protected:
  void SetUp() override {
    ThreadTest::SetUp();
    Sql("DROP TABLE IF EXISTS t, lg;"
        "CREATE TABLE t (id INT PRIMARY KEY, v VARCHAR(20)) ENGINE=InnoDB;"
        "INSERT INTO t VALUES (1,'a'),(2,'b'),(3,'c');"
        "CREATE TABLE lg (n INT AUTO_INCREMENT PRIMARY KEY, v INT) ENGINE=InnoDB;");
  }
  // Statements in this test's database the server runs now whose text starts
  // with Prefix: the library and built-in client runs of these tests may run
  // the same statements at the same time, each in a database of its own.
  static int Running(const std::string& Prefix) {
    return std::stoi(RootSql(
        "select count(*) from information_schema.processlist where info like '" + Prefix +
        "%' and command = 'Query' and db = '" + Database() + "';"));
  }

  // Whether the server stops running the statement by Deadline: a killed
  // statement stays in the process list until the server notices the kill,
  // which takes a moment on a busy machine.
  static bool GoneBy(const std::string& Prefix, std::chrono::steady_clock::time_point Deadline) {
    while (Running(Prefix) != 0) {
      if (std::chrono::steady_clock::now() > Deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
  }
};

TEST_F(ThreadsTest, FailingStatementPostsItsTextSetsStatusZeroAndTheEvent) {
  Recorder rec;
  {
    TMySQLThreadedSQL thread(kMySQLThreadSettings, rec.Handle(), false);
    EXPECT_TRUE(thread.ThreadExecute(server_.get(), "insert into no_such_table values (1)", true));
    EXPECT_EQ(thread.GetStatus(), MYSQL_THREAD_FINISHED);
    EXPECT_TRUE(thread.Event().IsSet());
    EXPECT_NE(thread.LastException().find("no_such_table"), std::string::npos);
  }
  Application.ProcessMessages();
  const Posted* error = rec.First(WM_MYSQL_THREAD_EXCEPTION);
  ASSERT_NE(error, nullptr);
  EXPECT_NE(error->text.find("[1146]"), std::string::npos) << error->text;
  EXPECT_NE(error->text.find("no_such_table"), std::string::npos) << error->text;
  EXPECT_NE(error->wparam, 0u);
  EXPECT_TRUE(error->on_main);
  // Started (status 32), then failed: no task-finished message.
  ASSERT_NE(rec.First(WM_MYSQL_THREAD_STATUS), nullptr);
  EXPECT_EQ(rec.First(WM_MYSQL_THREAD_STATUS)->lparam, MYSQL_THREAD_RUNNING);
  EXPECT_EQ(rec.Count(WM_MYSQL_THREAD_TASK), 0);

  // The wrapper: true because the event was set, failure or not.
  EXPECT_TRUE(ThreadWaitSQLFree(server_.get(), "select * from no_such_table", rec.Handle()));
  Application.ProcessMessages();
  EXPECT_EQ(rec.Count(WM_MYSQL_THREAD_EXCEPTION), 2);
}

TEST_F(ThreadsTest, SuccessfulStatementPostsStatusAndTask) {
  Recorder rec;
  EXPECT_TRUE(ThreadWaitSQLFree(server_.get(), "insert into lg (v) values (7)", rec.Handle()));
  EXPECT_EQ(Read("select group_concat(v) from lg"), "7");
  Application.ProcessMessages();
  ASSERT_EQ(rec.Count(WM_MYSQL_THREAD_STATUS), 2);
  EXPECT_EQ(rec.messages[0].lparam, MYSQL_THREAD_RUNNING);
  const Posted* task = rec.First(WM_MYSQL_THREAD_TASK);
  ASSERT_NE(task, nullptr);
  EXPECT_EQ(task->lparam, MYSQL_THREAD_FINISHED);
  EXPECT_EQ(rec.Count(WM_MYSQL_THREAD_EXCEPTION), 0);
}

TEST_F(ThreadsTest, StatementLongerThanTheTimeOutIsNotWaitedFor) {
  Recorder rec;
  const int before = MySQLThreadCount();
  EXPECT_FALSE(ThreadWaitSQLFree(server_.get(), "select sleep(2)", rec.Handle(),
                                 "[MySQL]\r\nTimeOut=50\r\n"));
  // Freeing the thread waited for it.
  EXPECT_EQ(MySQLThreadCount(), before);
  Application.ProcessMessages();
  EXPECT_EQ(rec.Count(WM_MYSQL_THREAD_TASK), 1);
  // Within the time-out it is waited for.
  EXPECT_TRUE(ThreadWaitSQLFree(server_.get(), "select sleep(0.1)", 0, "[MySQL]\r\nTimeOut=60000\r\n"));
}

TEST_F(ThreadsTest, WindowZeroPostsNothingAndStillFinishes) {
  const int pending = Application.PendingMessages();
  EXPECT_TRUE(ThreadWaitSQLFree(server_.get(), "insert into lg (v) values (1)", 0));
  EXPECT_TRUE(ThreadWaitSQLFree(server_.get(), "insert into nope values (1)", 0));
  EXPECT_EQ(Application.PendingMessages(), pending);
  EXPECT_EQ(Read("select count(*) from lg"), "1");
}

TEST_F(ThreadsTest, SettingsSwitchesSilenceTheirMessages) {
  struct Case {
    const char* settings;
    int status, task;
  } cases[] = {
      {"[MySQL]\r\nTimeOut=30000\r\n[Main]\r\nSilentStatus=False\r\n", 0, 1},
      {"[Main]\r\nSilentStatus=1\r\n", 0, 1},  // only "True" is true
      {"[main]\r\nSilentStatus=TRUE\r\nSilentTasks=no\r\n", 2, 0},
  };
  for (const Case& c : cases) {
    Recorder rec;
    EXPECT_TRUE(ThreadWaitSQLFree(server_.get(), "select 1", rec.Handle(), c.settings));
    Application.ProcessMessages();
    EXPECT_EQ(rec.Count(WM_MYSQL_THREAD_STATUS), c.status) << c.settings;
    EXPECT_EQ(rec.Count(WM_MYSQL_THREAD_TASK), c.task) << c.settings;
  }
  Recorder rec;
  EXPECT_TRUE(ThreadWaitSQLFree(server_.get(), "select * from nope", rec.Handle(),
                                "[Main]\r\nSilentExceptions=False\r\n"));
  Application.ProcessMessages();
  EXPECT_EQ(rec.Count(WM_MYSQL_THREAD_EXCEPTION), 0);
}

TEST_F(ThreadsTest, ThreadSQLFreeRunsAndCallsBackOnTheMainThread) {
  std::vector<TObject*> senders;
  bool on_main = true;
  int32_t id = ThreadSQLFree(server_.get(), "insert into lg (v) values (5)",
                             [&](TObject* Sender) {
                               senders.push_back(Sender);
                               on_main = on_main && IsMainThread();
                             },
                             0);
  EXPECT_NE(id, 0);
  ASSERT_TRUE(Pump([&] { return MySQLThreadCount() == 0; }));
  EXPECT_EQ(senders.size(), 1u);
  EXPECT_TRUE(on_main);
  EXPECT_EQ(Read("select v from lg"), "5");
}

TEST_F(ThreadsTest, AnswerPostsTheOpenDatasetToItsReceiver) {
  Recorder rec;
  const uint32_t answer = WM_USER + 2001;
  EXPECT_TRUE(ThreadSQLAnswer(server_.get(), "select id, v from t order by id", rec.Handle(),
                              static_cast<int32_t>(answer), 77));
  ASSERT_TRUE(Pump([&] { return rec.Count(answer) == 1 && MySQLThreadCount() == 0; }));
  const Posted* p = rec.First(answer);
  EXPECT_EQ(p->wparam, 77u);
  ASSERT_EQ(rec.datasets.size(), 1u);
  TMySQLDataset& ds = *rec.datasets[0];
  EXPECT_TRUE(ds.Active());
  EXPECT_EQ(ds.RecordCount(), 3);
  ds.Last();
  EXPECT_EQ(ds.FieldByName("v")->AsString(), "c");
  // The receiver frees it on the main thread, with its connection.
  rec.datasets.clear();

  // SilentProgress False: nothing posted, the dataset is freed on the worker.
  EXPECT_TRUE(ThreadSQLAnswer(server_.get(), "select 1", rec.Handle(), static_cast<int32_t>(answer),
                              1, "[Main]\r\nSilentProgress=False\r\n"));
  ASSERT_TRUE(Pump([&] { return MySQLThreadCount() == 0; }));
  Application.ProcessMessages();
  EXPECT_EQ(rec.Count(answer), 1);
}

TEST_F(ThreadsTest, ThreadedComponentRaisesItsEventsOnTheMainThread) {
  TMySQLThreaded threaded;
  std::vector<int32_t> statuses, tasks;
  std::vector<std::string> errors;
  std::vector<int32_t> error_ids;
  bool on_main = true;
  threaded.OnStatus = [&](TObject* S, int32_t ID, int32_t Status, const std::string&, bool&) {
    EXPECT_EQ(S, &threaded);
    statuses.push_back(Status);
    on_main = on_main && IsMainThread();
  };
  threaded.OnTask = [&](TObject*, int32_t, int32_t Status, const std::string&, bool&) {
    tasks.push_back(Status);
    on_main = on_main && IsMainThread();
  };
  threaded.OnError = [&](TObject*, int32_t ID, int32_t Status, const std::string& Text, bool&) {
    EXPECT_EQ(Status, 2);
    errors.push_back(Text);
    error_ids.push_back(ID);
    on_main = on_main && IsMainThread();
  };
  threaded.ExecSQL(server_.get(), "insert into lg (v) values (3)");
  ASSERT_TRUE(Pump([&] { return tasks.size() == 1; }));
  EXPECT_EQ(statuses, (std::vector<int32_t>{MYSQL_THREAD_RUNNING, MYSQL_THREAD_FINISHED}));
  EXPECT_EQ(tasks, (std::vector<int32_t>{MYSQL_THREAD_FINISHED}));
  EXPECT_EQ(Read("select v from lg"), "3");

  threaded.ExecSQL(server_.get(), "insert into lg (n, v) values (1, 4)");  // duplicate key
  ASSERT_TRUE(Pump([&] { return errors.size() == 1; }));
  EXPECT_NE(errors[0].find("[1062]"), std::string::npos) << errors[0];
  EXPECT_NE(error_ids[0], 0);
  EXPECT_TRUE(on_main);
  EXPECT_EQ(tasks.size(), 1u);

  // A handler that raises still frees the text; the error reaches the pump.
  threaded.OnError = [](TObject*, int32_t, int32_t, const std::string&, bool&) {
    throw Exception("handler failed");
  };
  threaded.ExecSQL(server_.get(), "select * from nope");
  bool raised = false;
  for (int i = 0; i < 6000 && !raised; ++i) {
    try {
      Application.WaitAndDispatch(10);
    } catch (const Exception& e) {
      raised = std::string(e.what()) == "handler failed";
    }
  }
  EXPECT_TRUE(raised);
}

TEST_F(ThreadsTest, ProgressAndNotifyArriveAsEvents) {
  // A worker of its own that reports progress and a note.
  class Reporter : public TMySQLThread {
   public:
    using TMySQLThread::TMySQLThread;
    ~Reporter() override { TerminateAndWait(); }

   protected:
    bool GetEvent() override {
      NotifyClient("half way");
      Progress(this, 10, 4, 2.9f);
      return true;
    }
    void HandleEvent() override {
      SetStatus(MYSQL_THREAD_FINISHED);
      SetNotifyTask();
      Terminate();
    }
  };
  TMySQLThreaded threaded;
  std::string note;
  int32_t total = 0, current = 0;
  float speed = 0;
  threaded.OnNotify = [&](TObject*, int32_t, const std::string& V, bool&) { note = V; };
  threaded.OnProgress = [&](TObject*, int32_t, int32_t T, int32_t C, float S, bool&) {
    total = T;
    current = C;
    speed = S;
  };
  Reporter reporter(kMySQLThreadSettings, threaded.Handle(), false);
  reporter.ThreadExecute();
  reporter.WaitFor();
  Application.ProcessMessages();
  EXPECT_EQ(note, "half way");
  EXPECT_EQ(total, 10);
  EXPECT_EQ(current, 4);
  EXPECT_EQ(speed, 2.0f);  // truncated toward zero
}

TEST_F(ThreadsTest, FreedReceiverGetsNothingAndItsTextsAreFreed) {
  bool delivered = false;
  {
    TMySQLThreaded threaded;
    threaded.OnError = [&](TObject*, int32_t, int32_t, const std::string&, bool&) {
      delivered = true;
    };
    TMySQLThreadedSQL thread(kMySQLThreadSettings, threaded.Handle(), false);
    thread.ThreadExecute(server_.get(), "select * from nope", true);
  }
  Application.ProcessMessages();
  EXPECT_FALSE(delivered);
}

TEST_F(ThreadsTest, ExecuteWithThreadedUpdateOpensOnAWorker) {
  auto ds = std::make_unique<TMySQLDataset>();
  ds->SetServer(server_.get());
  ds->SQL()->SetText("select id, v from t order by id");
  ds->SetOptions(ds->Options() + TMySQLDatasetOptions{doThreadedUpdate});
  std::vector<TObject*> opened;
  bool on_main = true;
  ds->OnThreadOpened = [&](TObject* Sender) {
    opened.push_back(Sender);
    on_main = on_main && IsMainThread();
  };
  ds->Execute(true);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], ds.get());
  EXPECT_TRUE(on_main);
  EXPECT_TRUE(ds->Active());
  EXPECT_FALSE(ds->ShareConnection());
  EXPECT_NE(ds->ConnectionHandle(), server_->Connection());
  EXPECT_EQ(ds->RecordCount(), 3);
  ds->Close();

  // Without waiting: the callback tells when it is open.
  ds->Execute(false);
  ASSERT_TRUE(Pump([&] { return opened.size() == 2; }));
  EXPECT_TRUE(ds->Active());
  EXPECT_EQ(ds->RecordCount(), 3);
  ds->Close();

  // A failing open leaves the dataset closed, still calls back, and raises
  // its error to the waiting caller.
  ds->SQL()->SetText("select * from nope");
  try {
    ds->Execute(true);
    ADD_FAILURE() << "a failed threaded open raised nothing";
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.ErrorCode(), 1146) << e.what();
  }
  EXPECT_EQ(opened.size(), 3u);
  EXPECT_FALSE(ds->Active());
}

// Collects what reaches the application's exception handler while alive.
class HandledErrors {
 public:
  HandledErrors() {
    SetApplicationExceptionHandler([this](TObject*, std::exception_ptr error) {
      try {
        std::rethrow_exception(error);
      } catch (const std::exception& e) {
        texts.push_back(e.what());
      }
    });
  }
  ~HandledErrors() { SetApplicationExceptionHandler(nullptr); }
  std::vector<std::string> texts;
};

TEST_F(ThreadsTest, FailedOpenReachesTheWaitingCallerOrTheApplicationHandler) {
  HandledErrors handled;
  TMySQLQuery q;
  q.SetServer(server_.get());
  q.SQL()->SetText("select * from nope");
  int calls = 0;
  TNotifyEvent count = [&](TObject* Sender) {
    EXPECT_EQ(Sender, &q);
    ++calls;
  };
  // Waited for: raised to the caller, after the callback, and only there.
  EXPECT_THROW(ThreadDatasetOpen(&q, count, true), EMySQLError);
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(q.Active());
  EXPECT_TRUE(handled.texts.empty());

  // Not waited for: the callback, then the application's handler.
  ThreadDatasetOpen(&q, count, false);
  ASSERT_TRUE(Pump([&] { return calls == 2 && MySQLThreadCount() == 0; }));
  ASSERT_EQ(handled.texts.size(), 1u);
  EXPECT_NE(handled.texts[0].find("[1146]"), std::string::npos) << handled.texts[0];
  EXPECT_FALSE(q.Active());

  // A successful open reports nothing.
  q.SQL()->SetText("select id from t");
  ThreadDatasetOpen(&q, count, false);
  ASSERT_TRUE(Pump([&] { return calls == 3 && MySQLThreadCount() == 0; }));
  EXPECT_TRUE(q.Active());
  EXPECT_EQ(handled.texts.size(), 1u);
  q.Close();
}

TEST_F(ThreadsTest, StatementFailureIsTheThreadsAndNeverLost) {
  HandledErrors handled;
  // The finish callback's sender is the thread: its Failure tells.
  int32_t code = 0;
  ThreadSQLFree(server_.get(), "insert into nope values (1)",
                [&](TObject* Sender) {
                  std::exception_ptr failure = static_cast<TMySQLThread*>(Sender)->Failure();
                  try {
                    if (failure) std::rethrow_exception(failure);
                  } catch (const EMySQLError& e) {
                    code = e.ErrorCode();
                  }
                },
                0);
  ASSERT_TRUE(Pump([&] { return MySQLThreadCount() == 0; }));
  EXPECT_EQ(code, 1146);
  // No window to carry it and nobody waiting: the application's handler
  // has it too.
  ASSERT_EQ(handled.texts.size(), 1u);
  EXPECT_NE(handled.texts[0].find("nope"), std::string::npos) << handled.texts[0];

  // With a window the message carries it; nothing more.
  Recorder rec;
  ThreadSQLFree(server_.get(), "insert into nope values (1)", nullptr, rec.Handle());
  ASSERT_TRUE(Pump([&] { return MySQLThreadCount() == 0 && rec.Count(WM_MYSQL_THREAD_EXCEPTION); }));
  EXPECT_EQ(handled.texts.size(), 1u);

  // A success leaves Failure empty.
  bool failed = true;
  ThreadSQLFree(server_.get(), "insert into lg (v) values (1)",
                [&](TObject* Sender) { failed = !!static_cast<TMySQLThread*>(Sender)->Failure(); },
                0);
  ASSERT_TRUE(Pump([&] { return MySQLThreadCount() == 0; }));
  EXPECT_FALSE(failed);
  EXPECT_EQ(handled.texts.size(), 1u);
}

TEST_F(ThreadsTest, ExceptionInTheFinishCallbackGoesToTheApplicationHandler) {
  HandledErrors handled;
  auto raise = [](TObject*) { throw Exception("finish failed"); };
  ThreadSQLFree(server_.get(), "select 1", raise, 0);
  // The pump itself sees nothing raised.
  EXPECT_NO_THROW(Pump([&] { return MySQLThreadCount() == 0; }));
  ASSERT_EQ(handled.texts.size(), 1u);
  EXPECT_EQ(handled.texts[0], "finish failed");

  TMySQLQuery q;
  q.SetServer(server_.get());
  q.SQL()->SetText("select id from t");
  ThreadDatasetOpen(&q, raise, false);
  EXPECT_NO_THROW(Pump([&] { return MySQLThreadCount() == 0; }));
  ASSERT_EQ(handled.texts.size(), 2u);
  EXPECT_EQ(handled.texts[1], "finish failed");
  EXPECT_TRUE(q.Active());
  q.Close();

  EXPECT_NO_THROW(ThreadDatasetOpen(&q, raise, true));
  ASSERT_EQ(handled.texts.size(), 3u);
  EXPECT_TRUE(q.Active());
}

TEST_F(ThreadsTest, StatementPastTheTimeOutIsCancelledOnTheServer) {
  Recorder rec;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(ThreadWaitSQLFree(server_.get(), "select sleep(6.1)", rec.Handle(),
                                 "[MySQL]\r\nTimeOut=300\r\n"));
  const auto took = std::chrono::steady_clock::now() - start;
  // Not waited out: the server no longer runs it.
  EXPECT_LT(took, std::chrono::seconds(4));
  // Well before the sleep would end by itself.
  EXPECT_TRUE(GoneBy("select sleep(6.1)", start + std::chrono::seconds(4)));
  Application.ProcessMessages();
  EXPECT_EQ(rec.Count(WM_MYSQL_THREAD_TASK) + rec.Count(WM_MYSQL_THREAD_EXCEPTION), 1);
}

TEST_F(ThreadsTest, FreeingAThreadCancelsItsStatementOnlyAfterTheTimeOut) {
  HandledErrors handled;
  // A statement that takes longer than the time-out is cancelled.
  {
    const auto start = std::chrono::steady_clock::now();
    {
      TMySQLThreadedSQL thread("[MySQL]\r\nTimeOut=200\r\n", 0, false);
      thread.ThreadExecute(server_.get(), "update t set v = sleep(6) where id = 1", false);
      ASSERT_TRUE(Pump([&] { return Running("update t set v = sleep(6)") == 1; }));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    EXPECT_TRUE(GoneBy("update t set v = sleep(6)", start + std::chrono::seconds(4)));
    // The killed update changed nothing, and its failure was not lost.
    EXPECT_EQ(Read("select v from t where id = 1"), "a");
    ASSERT_EQ(handled.texts.size(), 1u);
    EXPECT_NE(handled.texts[0].find("[1317]"), std::string::npos) << handled.texts[0];
  }
  // One that ends within the time-out is waited for, not cancelled.
  {
    TMySQLThreadedSQL thread("[MySQL]\r\nTimeOut=60000\r\n", 0, false);
    thread.ThreadExecute(server_.get(), "insert into lg (v) select sleep(0.5) + 41", false);
    ASSERT_TRUE(Pump([&] { return Running("insert into lg (v) select sleep(0.5)") == 1; }));
  }
  EXPECT_EQ(Read("select v from lg"), "41");
  EXPECT_EQ(handled.texts.size(), 1u);
}

TEST_F(ThreadsTest, CancelStatementStopsARunningOpen) {
  HandledErrors handled;
  TMySQLQuery q;
  q.SetServer(server_.get());
  q.SQL()->SetText("select sleep(6.2)");
  TMySQLThreadedOpen opener(kMySQLThreadSettings, 0, false);
  opener.ThreadExecute(&q, false);
  ASSERT_TRUE(Pump([&] { return Running("select sleep(6.2)") == 1; }));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(opener.CancelStatement());
  opener.WaitFor();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  EXPECT_FALSE(q.Active());
  EXPECT_NE(opener.LastException().find("[1317]"), std::string::npos) << opener.LastException();
  ASSERT_EQ(handled.texts.size(), 1u);

  // Cancelled before it started: the open is not sent at all, silently.
  q.SQL()->SetText("select 1");
  TMySQLThreadedOpen early(kMySQLThreadSettings, 0, false);
  EXPECT_FALSE(early.CancelStatement());
  EXPECT_NO_THROW(early.ThreadExecute(&q, true));
  EXPECT_FALSE(q.Active());
  EXPECT_EQ(handled.texts.size(), 1u);
}


TEST_F(ThreadsTest, ThreadedPostingSendsEveryStatementInOrder) {
  auto ds = std::make_unique<TMySQLDataset>();
  ds->SetServer(server_.get());
  ds->SQL()->SetText("select id, v from t order by id");
  ds->SetOptions(ds->Options() + TMySQLDatasetOptions{doThreadedUpdate});
  ds->Open();
  std::atomic<int> posted{0};
  ds->OnThreadPosted = [&](TObject*) { ++posted; };
  const int kStatements = 40;
  for (int i = 1; i <= kStatements; ++i)
    ds->ExecSQL("insert into lg (v) values (" + std::to_string(i) + ")", false, false, "", "");
  // Edits of one row: the last one must win on the server.
  for (int i = 0; i < 10; ++i) {
    ds->First();
    ds->Edit();
    ds->FieldByName("v")->SetAsString("e" + std::to_string(i));
    ds->Post();
  }
  ASSERT_TRUE(Pump([&] { return MySQLThreadCount() == 0; }));
  EXPECT_EQ(posted.load(), kStatements + 10);
  std::string expected;
  for (int i = 1; i <= kStatements; ++i) expected += (i > 1 ? "," : "") + std::to_string(i);
  EXPECT_EQ(Read("select group_concat(v order by n) from lg"), expected);
  EXPECT_EQ(Read("select v from t where id = 1"), "e9");
  EXPECT_EQ(ds->FieldByName("v")->AsString(), "e9");
}

// With doTransactions a post's statements run on one worker connection
// inside their transaction: when a later statement of the post fails, the
// earlier one is rolled back with it, and the failure reaches the
// application's exception handler on the main thread.
TEST_F(ThreadsTest, ThreadedPostRunsItsTransactionOnOneConnection) {
  std::vector<std::string> failures;
  bool failure_on_main = false;
  const auto main_thread = std::this_thread::get_id();
  SetApplicationExceptionHandler([&](TObject*, std::exception_ptr error) {
    failure_on_main = std::this_thread::get_id() == main_thread;
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      failures.push_back(e.what());
    }
  });
  struct Reset {
    ~Reset() { SetApplicationExceptionHandler(nullptr); }
  } reset;
  auto ds = std::make_unique<TMySQLDataset>();
  ds->SetServer(server_.get());
  ds->SQL()->SetText("select id, v from t order by id");
  ds->SetOptions(ds->Options() + TMySQLDatasetOptions{doThreadedUpdate, doTransactions});
  ds->Open();
  std::atomic<int> posted{0};
  ds->OnThreadPosted = [&](TObject*) { ++posted; };

  // A post that succeeds: one worker, committed.
  ds->First();
  ds->Edit();
  ds->FieldByName("v")->SetAsString("ok");
  ds->Post();
  ASSERT_TRUE(Pump([&] { return MySQLThreadCount() == 0; }));
  EXPECT_EQ(posted.load(), 1);
  EXPECT_EQ(Read("select v from t where id = 1"), "ok");
  EXPECT_TRUE(failures.empty());

  // A post whose second statement fails: the first is undone.
  ds->SQLUpdate()->SetText(
      "update t set [$MODIFIED$FIELDS&VALUES] where [$PRIMARYFIELDS&VALUES];\n"
      "insert into no_such_table values (1);");
  ds->Edit();
  ds->FieldByName("v")->SetAsString("undone");
  ds->Post();
  ASSERT_TRUE(Pump([&] { return MySQLThreadCount() == 0; }));
  EXPECT_EQ(posted.load(), 2);
  EXPECT_EQ(Read("select v from t where id = 1"), "ok");
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_NE(failures[0].find("no_such_table"), std::string::npos) << failures[0];
  EXPECT_TRUE(failure_on_main);
}

TEST_F(ThreadsTest, WorkersCopyTheParametersWhileTheMainThreadChangesThem) {
  const std::string other = FreshDatabase("thr_other");
  server_->Connect();
  std::atomic<bool> stop{false};
  std::atomic<int> opened{0};
  std::vector<std::string> seen_bad;
  std::mutex bad_mu;
  auto work = [&] {
    while (!stop) {
      MySQLHandle h = server_->AllocConnection();
      MySQLHandle copy = h;
      TMySQLBase* driver = server_->GetDriver();
      MySQLResultHandle r = driver->OpenQuery(h, "select database()");
      MySQLRow row = driver->RetrieveRow(r);
      std::string db = row && row[0] ? row[0] : "(null)";
      driver->CloseQuery(r);
      server_->FreeConnection(h);
      EXPECT_EQ(h, nullptr);
      (void)copy;
      if (db != Database() && db != other) {
        std::lock_guard<std::mutex> lock(bad_mu);
        seen_bad.push_back(db);
      }
      ++opened;
    }
  };
  std::thread a(work), b(work);
  for (int i = 0; i < 200 || opened < 20; ++i)
    server_->SetDatabaseName(i % 2 ? other : Database());
  stop = true;
  a.join();
  b.join();
  server_->SetDatabaseName(Database());
  EXPECT_TRUE(seen_bad.empty());
  EXPECT_GE(opened.load(), 20);
  // The worker's releases did not disconnect the component.
  EXPECT_TRUE(server_->GetConnected());
  RootSql("DROP DATABASE IF EXISTS `" + other + "`;");
}

TEST_F(ThreadsTest, WorkerReleaseLeavesCloseOnChildrenToTheMainThread) {
  server_->SetOptions(server_->Options() + TMySQLServerOptions{soCloseOnChildren});
  server_->Connect();
  bool connected_in_callback = false;
  ThreadSQLFree(server_.get(), "insert into lg (v) values (9)",
                [&](TObject*) { connected_in_callback = server_->GetConnected(); }, 0);
  ASSERT_TRUE(Pump([&] { return MySQLThreadCount() == 0; }));
  EXPECT_EQ(Read("select v from lg"), "9");
  // The check ran on the main thread when the worker ended: no dataset is
  // open, so the component closed.
  EXPECT_FALSE(connected_in_callback);
  EXPECT_FALSE(server_->GetConnected());
}

}  // namespace
}  // namespace rowset::test
