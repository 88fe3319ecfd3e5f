// Shared set-up of the background-thread tests: a connection component on
// the test server (client library, or the built-in client when
// ROWSET_DATASET_DRIVER is "direct"), a database per test program, and a
// message receiver on the main thread that records what workers post.
#ifndef ROWSET_TESTS_THREADS_THREADTESTUTIL_H_
#define ROWSET_TESTS_THREADS_THREADTESTUTIL_H_

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "components/MySQLDataset.h"
#include "components/MySQLServer.h"
#include "components/MySQLThreads.h"
#include "host/Messages.h"
#include "host/Threads.h"
#include "tests/common/TestServer.h"

namespace rowset::test {

// One posted message as the receiver saw it; texts taken (and freed).
struct Posted {
  uint32_t msg;
  uintptr_t wparam;
  intptr_t lparam;
  std::string text;
  bool on_main;
};

// A receiver owned by the main thread that records every message.
class Recorder {
 public:
  Recorder() {
    handle_ = AllocateHWnd([this](TMessage& M) {
      Posted p{M.Msg, M.WParam, M.LParam, "", IsMainThread()};
      if (M.Msg == WM_MYSQL_THREAD_EXCEPTION || M.Msg == WM_MYSQL_THREAD_NOTIFY)
        p.text = TakeMySQLThreadText(M.LParam);
      if (M.Msg >= WM_USER + 2000) datasets.push_back(TakeMySQLThreadDataset(M.LParam));
      messages.push_back(p);
    });
  }
  ~Recorder() { DeallocateHWnd(handle_); }
  HWND Handle() const { return handle_; }
  int Count(uint32_t Msg) const {
    int n = 0;
    for (const Posted& p : messages) n += p.msg == Msg;
    return n;
  }
  const Posted* First(uint32_t Msg) const {
    for (const Posted& p : messages)
      if (p.msg == Msg) return &p;
    return nullptr;
  }

  std::vector<Posted> messages;
  std::vector<std::unique_ptr<TMySQLDataset>> datasets;

 private:
  HWND handle_ = 0;
};

class ThreadTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { database_ = new std::string(FreshDatabase("thr")); }
  static void TearDownTestSuite() {
    RootSql("DROP DATABASE IF EXISTS `" + *database_ + "`;");
    delete database_;
    database_ = nullptr;
  }

  void SetUp() override { server_ = NewServer(); }
  void TearDown() override {
    // Threads that free themselves end only once the main thread pumps.
    Pump([] { return MySQLThreadCount() == 0; });
    EXPECT_EQ(MySQLThreadCount(), 0);
    if (server_) server_->Close();
  }

  static std::unique_ptr<TMySQLServer> NewServer() {
    auto server = std::make_unique<TMySQLServer>();
    server->SetDriverType(DriverKind());
    const TestServer& ts = Server();
    server->SetHost(ts.host);
    server->SetPort(ts.port);
    server->SetUserName(ts.user);
    server->SetPassword("");
    server->SetDatabaseName(*database_);
    return server;
  }

  static TMySQLDriverType DriverKind() {
    const char* kind = std::getenv("ROWSET_DATASET_DRIVER");
    return kind != nullptr && std::string(kind) == "direct" ? dtDirect : dtLibrary;
  }

  // Pumps messages and synchronized calls until Done (at most 60 s, so a
  // fault fails the test instead of hanging it).
  static bool Pump(const std::function<bool()>& Done) {
    return Application.ProcessMessagesUntil(Done, 60000);
  }

  static void Sql(const std::string& sql) { RootSql("USE `" + *database_ + "`; " + sql); }
  // One value read back as root.
  static std::string Read(const std::string& sql) {
    std::string out = RootSql("USE `" + *database_ + "`; " + sql);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
  }
  static const std::string& Database() { return *database_; }

  std::unique_ptr<TMySQLServer> server_;
  static inline std::string* database_ = nullptr;
};

}  // namespace rowset::test

#endif  // ROWSET_TESTS_THREADS_THREADTESTUTIL_H_
