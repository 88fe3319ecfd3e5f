// Nothing lost when the connection drops: post, insert, delete and the
// applying of cached updates in a transaction, with the connection cut
// through a loopback proxy after every byte count of their exchange with the
// real server. Each either reaches the server with the local rows agreeing,
// or raises EMySQLError and leaves the local rows, Modified flags and
// held-back statements as they were; a retry then completes it once.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/common/LoopbackProxy.h"
#include "tests/dataset/DatasetTestUtil.h"

namespace rowset::test {
namespace {

class LostConnectionTest : public DatasetTest {
 protected:
  void SetUp() override {
    DatasetTest::SetUp();
    proxy_ = std::make_unique<LoopbackProxy>(Server().host, Server().port);
    Sql("DROP TABLE IF EXISTS lc;"
        "CREATE TABLE lc (id INT PRIMARY KEY, a VARCHAR(20)) ENGINE=InnoDB;"
        "INSERT INTO lc VALUES (1, 'one'), (2, 'two'), (3, 'three');");
    // Reads back over a connection of its own, not through the proxy.
    check_ = NewDataset<TMySQLQuery>("select id, a from lc order by id");
  }
  void TearDown() override {
    check_.reset();
    DatasetTest::TearDown();
  }

  // The server's rows as "id=a" texts.
  std::vector<std::string> ServerRows() {
    check_->Close();
    check_->Open();
    std::vector<std::string> rows;
    for (check_->First(); !check_->Eof(); check_->Next())
      rows.push_back(check_->FieldByName("id")->AsString() + "=" + check_->FieldByName("a")->AsString());
    check_->Close();
    return rows;
  }
  static std::vector<std::string> LocalRows(TMySQLDatasetBase& ds) {
    std::vector<std::string> rows;
    for (const TRowValues& r : *ds.Rows())
      rows.push_back(std::string(r.Value(0)) + "=" + std::string(r.Value(1)));
    return rows;
  }
  static std::vector<bool> ModifiedFlags(TMySQLDatasetBase& ds) {
    std::vector<bool> flags;
    for (int i = 0; i < ds.FieldInfos().Count(); ++i) flags.push_back(ds.FieldInfos()[i]->Modified);
    return flags;
  }

  // A connection component and dataset reaching the server through the proxy.
  struct Client {
    std::unique_ptr<TMySQLServer> server;
    std::unique_ptr<TMySQLDataset> ds;
  };
  Client Connect(TMySQLDatasetOptions extra = TMySQLDatasetOptions{}) {
    Client c;
    c.server = std::make_unique<TMySQLServer>();
    c.server->SetDriverType(DriverKind());
    c.server->SetHost("127.0.0.1");
    c.server->SetPort(proxy_->port());
    c.server->SetUserName(Server().user);
    c.server->SetPassword("");
    c.server->SetDatabaseName(Database());
    c.ds = std::make_unique<TMySQLDataset>();
    c.ds->SetServer(c.server.get());
    c.ds->SQL()->SetText("select id, a from lc order by id");
    c.ds->SetOptions(c.ds->Options() + extra);
    c.ds->Open();
    return c;
  }
  // Closes a client whose connection was cut and waits until the server has
  // let go of it, so what it received has been done or undone.
  void Settle(Client& c) {
    try {
      c.ds->SQLCached()->Clear();
      c.ds->Close();
    } catch (const EMySQLError&) {
    }
    c.server->Close();
    auto probe = NewDataset<TMySQLQuery>(
        "select count(*) from information_schema.processlist where db = '" + Database() +
        "' and id <> connection_id()");
    for (int i = 0; i < 1000; ++i) {
      probe->Open();
      const bool gone = probe->Fields()[0]->AsInteger() == 0;
      probe->Close();
      if (gone) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    FAIL() << "the cut connection stays on the server";
  }

  static void Restore() {
    Sql("DELETE FROM lc; INSERT INTO lc VALUES (1, 'one'), (2, 'two'), (3, 'three');");
  }

  // Runs `prepare` then `change` on a fresh client with the connection cut
  // after `cut` bytes of the change's exchange (unlimited when negative).
  // Returns the bytes the change exchanged, or -1 when it raised
  // EMySQLError; `check` then looks at the state left behind.
  int64_t Run(TMySQLDatasetOptions options, int64_t cut,
              const std::function<void(TMySQLDataset&)>& prepare,
              const std::function<void(TMySQLDataset&)>& change,
              const std::function<void(Client&, bool failed)>& check) {
    proxy_->DropAfter(-1);
    Client c = Connect(options);
    prepare(*c.ds);
    const uint64_t before = proxy_->Forwarded();
    proxy_->DropAfter(cut);
    bool failed = false;
    try {
      change(*c.ds);
    } catch (const EMySQLError&) {
      failed = true;
    }
    const int64_t used = static_cast<int64_t>(proxy_->Forwarded() - before);
    proxy_->DropAfter(-1);
    check(c, failed);
    try {
      c.ds->Close();
    } catch (const EMySQLError&) {
    }
    c.server->Close();
    return failed ? -1 : used;
  }

  // Cuts the change's exchange after every byte count in turn. `failed`
  // checks what a failure left behind and retries; a change that passes
  // must have reached the server with the local rows agreeing.
  void EveryByte(TMySQLDatasetOptions options, const std::function<void(TMySQLDataset&)>& prepare,
                 const std::function<void(TMySQLDataset&)>& change,
                 const std::vector<std::string>& after,
                 const std::function<void(Client&, int64_t cut)>& failed) {
    const int64_t length = Run(options, -1, prepare, change, [&](Client& c, bool f) {
      ASSERT_FALSE(f);
      EXPECT_EQ(ServerRows(), after);
    });
    ASSERT_GT(length, 0);
    Restore();
    int failures = 0;
    for (int64_t cut = 0; cut < length; ++cut) {
      SCOPED_TRACE("cut after " + std::to_string(cut) + " of " + std::to_string(length) + " bytes");
      Run(options, cut, prepare, change, [&](Client& c, bool f) {
        if (!f) {
          EXPECT_EQ(ServerRows(), after);
          EXPECT_EQ(Sorted(LocalRows(*c.ds)), after);
        } else {
          ++failures;
          failed(c, cut);
        }
      });
      Restore();
      if (HasFatalFailure()) return;
    }
    // The cut must have hit the change itself at least once.
    EXPECT_GT(failures, 0);
  }
  // Makes the change again on a new connection: it must take effect once.
  void Retry(TMySQLDatasetOptions options, const std::function<void(TMySQLDataset&)>& change,
             const std::vector<std::string>& after) {
    Client fresh = Connect(options);
    change(*fresh.ds);
    EXPECT_EQ(ServerRows(), after);
    EXPECT_EQ(Sorted(LocalRows(*fresh.ds)), after);
    fresh.ds->Close();
    fresh.server->Close();
  }
  static std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
  }

  std::unique_ptr<LoopbackProxy> proxy_;
  std::unique_ptr<TMySQLQuery> check_;
};

const std::vector<std::string> kBefore = {"1=one", "2=two", "3=three"};

// Either the server took the change or it did not; never anything else.
void ExpectBeforeOrAfter(const std::vector<std::string>& server,
                         const std::vector<std::string>& after) {
  EXPECT_TRUE(server == kBefore || server == after) << ::testing::PrintToString(server);
}

TEST_F(LostConnectionTest, PostAtEveryByte) {
  const std::vector<std::string> after = {"1=uno", "2=two", "3=three"};
  for (TMySQLDatasetOptions options : {TMySQLDatasetOptions{}, TMySQLDatasetOptions{doTransactions}}) {
    std::vector<bool> modified;
    EveryByte(
        options,
        [&](TMySQLDataset& ds) {
          ds.First();
          ds.Edit();
          ds.FieldByName("a")->SetAsString("uno");
          modified = ModifiedFlags(ds);
        },
        [](TMySQLDataset& ds) { ds.Post(); }, after,
        [&](Client& c, int64_t) {
          // Still editing, the edit and the values before it kept.
          EXPECT_EQ(c.ds->State(), dsEdit);
          EXPECT_EQ(ModifiedFlags(*c.ds), modified);
          EXPECT_EQ(c.ds->FieldByName("a")->AsString(), "uno");
          c.ds->Cancel();
          EXPECT_EQ(LocalRows(*c.ds), kBefore);
          Settle(c);
          std::vector<std::string> server = ServerRows();
          ExpectBeforeOrAfter(server, after);
          if (server == kBefore) Retry(options, [](TMySQLDataset& ds) {
            ds.First();
            ds.Edit();
            ds.FieldByName("a")->SetAsString("uno");
            ds.Post();
          }, after);
        });
  }
}

TEST_F(LostConnectionTest, InsertAtEveryByte) {
  const std::vector<std::string> after = {"1=one", "2=two", "3=three", "4=four"};
  for (TMySQLDatasetOptions options : {TMySQLDatasetOptions{}, TMySQLDatasetOptions{doTransactions}}) {
    EveryByte(
        options,
        [&](TMySQLDataset& ds) {
          ds.Append();
          ds.FieldByName("id")->SetAsInteger(4);
          ds.FieldByName("a")->SetAsString("four");
        },
        [](TMySQLDataset& ds) { ds.Post(); }, after,
        [&](Client& c, int64_t) {
          EXPECT_EQ(LocalRows(*c.ds), kBefore);
          EXPECT_EQ(c.ds->State(), dsInsert);
          EXPECT_EQ(c.ds->FieldByName("a")->AsString(), "four");
          Settle(c);
          std::vector<std::string> server = ServerRows();
          ExpectBeforeOrAfter(server, after);
          if (server == kBefore) Retry(options, [](TMySQLDataset& ds) {
            ds.Append();
            ds.FieldByName("id")->SetAsInteger(4);
            ds.FieldByName("a")->SetAsString("four");
            ds.Post();
          }, after);
        });
  }
}

TEST_F(LostConnectionTest, DeleteAtEveryByte) {
  const std::vector<std::string> after = {"2=two", "3=three"};
  for (TMySQLDatasetOptions options : {TMySQLDatasetOptions{}, TMySQLDatasetOptions{doTransactions}}) {
    EveryByte(
        options, [](TMySQLDataset& ds) { ds.First(); }, [](TMySQLDataset& ds) { ds.Delete(); },
        after, [&](Client& c, int64_t) {
          EXPECT_EQ(LocalRows(*c.ds), kBefore);
          Settle(c);
          std::vector<std::string> server = ServerRows();
          ExpectBeforeOrAfter(server, after);
          if (server == kBefore) Retry(options, [](TMySQLDataset& ds) {
            ds.First();
            ds.Delete();
          }, after);
        });
  }
}

// Three held-back changes applied in one transaction: a cut leaves the
// server with all of them or none, the held-back statements all kept, and a
// retry never applies one twice.
TEST_F(LostConnectionTest, ApplyUpdatesInTransactionsAtEveryByte) {
  const std::vector<std::string> after = {"1=uno", "2=two", "4=four"};
  std::vector<std::string> cached;
  EveryByte(
      TMySQLDatasetOptions{doTransactions, doCachedUpdates},
      [&](TMySQLDataset& ds) {
        ds.First();
        ds.Edit();
        ds.FieldByName("a")->SetAsString("uno");
        ds.Post();
        ds.Last();
        ds.Delete();
        ds.Append();
        ds.FieldByName("id")->SetAsInteger(4);
        ds.FieldByName("a")->SetAsString("four");
        ds.Post();
        cached.clear();
        for (int i = 0; i < ds.SQLCached()->Count(); ++i) cached.push_back(ds.SQLCached()->Get(i));
        ASSERT_EQ(cached.size(), 9u);
      },
      [](TMySQLDataset& ds) { ds.ApplyUpdates(); }, after,
      [&](Client& c, int64_t) {
        std::vector<std::string> left;
        for (int i = 0; i < c.ds->SQLCached()->Count(); ++i) left.push_back(c.ds->SQLCached()->Get(i));
        Settle(c);
        std::vector<std::string> server = ServerRows();
        // All or nothing; a commit whose answer was lost may have taken
        // effect. Either way the held-back statements are all kept.
        ASSERT_TRUE(server == kBefore || server == after) << ::testing::PrintToString(server);
        EXPECT_EQ(left, cached);
        // The held-back statements are the component's stored state: a
        // component on a new connection takes them over and applies them.
        Client fresh = Connect(TMySQLDatasetOptions{doTransactions, doCachedUpdates});
        for (const std::string& line : left) fresh.ds->SQLCached()->Add(line);
        try {
          fresh.ds->ApplyUpdates();
          EXPECT_EQ(fresh.ds->SQLCached()->Count(), 0);
        } catch (const EMySQLError&) {
          // Only when the lost commit took effect: the insert fails again
          // (duplicate key) and the retry is rolled back; nothing twice.
          EXPECT_EQ(server, after);
          fresh.ds->SQLCached()->Clear();
        }
        fresh.ds->Close();
        fresh.server->Close();
        EXPECT_EQ(ServerRows(), after);
      });
}


}  // namespace
}  // namespace rowset::test
