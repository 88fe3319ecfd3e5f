// Worker threads on the embedded server library, started inside this test
// program on a fresh data directory (once per process, hence a program of
// its own): statements and opens on workers' own connections, failure
// texts, a dataset's threaded posting in order, and cancelling a statement
// past its time-out.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "tests/server/ServerTestUtil.h"
#include "tests/threads/ThreadTestUtil.h"

namespace rowset::test {
namespace {

std::string DataDir() {
  static const std::string dir = [] {
    char pattern[] = "/tmp/rowset_embedded_threads_XXXXXX";
    const char* made = mkdtemp(pattern);
    return std::string(made ? made : "");
  }();
  return dir;
}

class EmbeddedThreadsTest : public ::testing::Test {
 protected:
  static void TearDownTestSuite() {
    std::error_code ignored;
    std::filesystem::remove_all(DataDir(), ignored);
  }
};

TEST_F(EmbeddedThreadsTest, WorkersRunStatementsAndOpensOnTheEmbeddedServer) {
  ASSERT_FALSE(DataDir().empty());
  TMySQLServer server;
  server.SetParams("[embedded]\r\ndatadir=" + DataDir() +
                   "\r\nlc-messages-dir=/usr/share/mysql\r\n"
                   "innodb-log-file-size=4M\r\ninnodb-buffer-pool-size=16M\r\n"
                   "innodb-buffer-pool-size-max=64M\r\n"
                   "innodb-buffer-pool-dump-at-shutdown=0\r\n"
                   // Workers are ordinary threads with 8 MB stacks; the
                   // sanitizer builds need more than the server's default.
                   "thread-stack=2M\r\n");
  server.SetDriverType(dtEmbedded);
  server.SetOptions({coInteractive, soAutoCreate});
  server.SetDatabaseName("emb_thr");
  server.Connect();
  ASSERT_TRUE(server.ExecSQL("create table lg (n int auto_increment primary key, v int)"));

  Recorder rec;
  EXPECT_TRUE(ThreadWaitSQLFree(&server, "insert into lg (v) values (1)", rec.Handle()));
  EXPECT_TRUE(ThreadWaitSQLFree(&server, "insert into nope values (1)", rec.Handle()));
  Application.ProcessMessages();
  ASSERT_NE(rec.First(WM_MYSQL_THREAD_EXCEPTION), nullptr);
  EXPECT_NE(rec.First(WM_MYSQL_THREAD_EXCEPTION)->text.find("nope"), std::string::npos)
      << rec.First(WM_MYSQL_THREAD_EXCEPTION)->text;
  EXPECT_EQ(Scalar(server, "select count(*) from lg"), "1");

  TMySQLDataset ds;
  ds.SetServer(&server);
  ds.SQL()->SetText("select n, v from lg");
  ds.SetOptions(ds.Options() + TMySQLDatasetOptions{doThreadedUpdate});
  int opened = 0;
  ds.OnThreadOpened = [&](TObject*) { ++opened; };
  ds.Execute(true);
  EXPECT_EQ(opened, 1);
  ASSERT_TRUE(ds.Active());
  EXPECT_EQ(ds.RecordCount(), 1);

  int posted = 0;
  ds.OnThreadPosted = [&](TObject*) { ++posted; };
  for (int i = 2; i <= 20; ++i)
    ds.ExecSQL("insert into lg (v) values (" + std::to_string(i) + ")", false, false, "", "");
  ASSERT_TRUE(Application.ProcessMessagesUntil([] { return MySQLThreadCount() == 0; }, 60000));
  EXPECT_EQ(posted, 19);
  EXPECT_EQ(Scalar(server, "select group_concat(v order by n) from lg"),
            "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20");
  ds.Close();

  // A statement past the time-out is cancelled with KILL QUERY on another
  // embedded connection, not waited out.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(ThreadWaitSQLFree(&server, "select sleep(6)", rec.Handle(),
                                 "[MySQL]\r\nTimeOut=300\r\n"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  server.Close();
}

}  // namespace
}  // namespace rowset::test
