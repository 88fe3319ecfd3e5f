// Stress: 8 lanes of 200 statements each, every statement on a worker
// thread of its own with a connection of its own, 8 running at any time,
// while the main thread pumps messages. Every effect reaches the server
// exactly once, every failure text arrives with the id of its thread, and a
// receiver freed in the middle gets nothing more (ASan and LeakSanitizer
// watch the payloads in the sanitizer build).
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/threads/ThreadTestUtil.h"

namespace rowset::test {
namespace {

constexpr int kLanes = 8;
constexpr int kStatements = 200;

class StressTest : public ThreadTest {
 protected:
  void SetUp() override {
    ThreadTest::SetUp();
    Sql("DROP TABLE IF EXISTS st;"
        "CREATE TABLE st (lane INT, seq INT, PRIMARY KEY (lane, seq)) ENGINE=InnoDB;");
  }
};

TEST_F(StressTest, EightWorkersTwoHundredStatementsEach) {
  server_->Connect();
  TMySQLThreaded threaded;
  std::map<int32_t, int> lane_of;      // thread id -> lane
  std::vector<int> next(kLanes, 0);    // next statement of each lane
  std::vector<int> finished(kLanes, 0);
  std::vector<int> errors(kLanes, 0);
  int foreign_errors = 0, tasks = 0;
  threaded.OnError = [&](TObject*, int32_t ID, int32_t, const std::string& Text, bool&) {
    auto it = lane_of.find(ID);
    if (it == lane_of.end()) {
      ++foreign_errors;
      return;
    }
    const std::string key = "'" + std::to_string(it->second) + "-0'";
    if (Text.find("[1062]") != std::string::npos && Text.find(key) != std::string::npos)
      ++errors[it->second];
    else
      ++foreign_errors;
  };
  threaded.OnTask = [&](TObject*, int32_t, int32_t, const std::string&, bool&) { ++tasks; };

  // A second receiver that lane 0 reports to for a while, then freed with
  // messages still queued for it.
  auto doomed = std::make_unique<TMySQLThreaded>();
  auto doomed_alive = std::make_shared<bool>(true);
  int doomed_events = 0;
  doomed->OnStatus = [&, doomed_alive](TObject*, int32_t, int32_t, const std::string&, bool&) {
    EXPECT_TRUE(*doomed_alive);
    ++doomed_events;
  };

  std::function<void(int)> start = [&](int lane) {
    const int k = next[lane]++;
    // Every tenth statement repeats the lane's first key and fails.
    const int seq = k % 10 == 9 ? 0 : k;
    const std::string sql = "insert into st (lane, seq) values (" + std::to_string(lane) + ", " +
                            std::to_string(seq) + ")";
    HWND to = lane == 0 && k >= 50 && k < 100 && doomed ? doomed->Handle() : threaded.Handle();
    int32_t id = ThreadSQLFree(server_.get(), sql,
                               [&, lane](TObject*) {
                                 ++finished[lane];
                                 if (next[lane] < kStatements) start(lane);
                               },
                               to);
    lane_of[id] = lane;
  };
  for (int lane = 0; lane < kLanes; ++lane) start(lane);

  auto all_done = [&] {
    for (int lane = 0; lane < kLanes; ++lane)
      if (finished[lane] < kStatements) return false;
    return MySQLThreadCount() == 0;
  };
  ASSERT_TRUE(Application.ProcessMessagesUntil(
      [&] {
        if (doomed && next[0] >= 100) {
          doomed.reset();
          *doomed_alive = false;
        }
        return all_done();
      },
      600000));
  Application.ProcessMessages();

  // Each effect exactly once (the key forbids doubles; the count, gaps).
  EXPECT_EQ(Read("select count(*) from st"), std::to_string(kLanes * kStatements * 9 / 10));
  EXPECT_EQ(Read("select count(distinct lane) from st where seq = 198"), std::to_string(kLanes));
  for (int lane = 0; lane < kLanes; ++lane) {
    // Lane 0 reported to the freed receiver for statements 50 to 99.
    EXPECT_EQ(errors[lane], lane == 0 ? kStatements / 10 - 5 : kStatements / 10) << lane;
  }
  EXPECT_EQ(foreign_errors, 0);
  EXPECT_EQ(tasks, kLanes * kStatements * 9 / 10 - 45);
  EXPECT_GT(doomed_events, 0);
  // The workers' releases left the component and its main connection alone.
  EXPECT_TRUE(server_->GetConnected());
  EXPECT_TRUE(server_->Ping());
}

}  // namespace
}  // namespace rowset::test
