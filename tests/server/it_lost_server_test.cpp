// A server that vanishes or stops answering, met by the connection component
// and a query dataset on the real server through a loopback proxy: a read
// time-out set in Params is honoured (no hang), a result cut anywhere ends in
// EMySQLError (never in a short row set) and leaves a component that
// reconnects, and a killed session comes back by itself unless a transaction
// was open on it. A cut at the proxy stands in for the server killed in the
// middle of a result (the test server is shared by the test programs and is
// not restarted under them).
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "components/MySQLDataset.h"
#include "tests/common/LoopbackProxy.h"
#include "tests/server/ServerTestUtil.h"

namespace rowset::test {
namespace {

class LostServerTest : public ::testing::TestWithParam<TMySQLDriverType> {
 protected:
  static void SetUpTestSuite() {
    database_ = new std::string(FreshDatabase("lost"));
    RootSql("USE `" + *database_ + "`; CREATE TABLE big (id INT PRIMARY KEY, v VARCHAR(40));"
            "INSERT INTO big SELECT seq, CONCAT('value number ', seq) FROM seq_1_to_3000;");
  }
  static void TearDownTestSuite() {
    RootSql("DROP DATABASE IF EXISTS `" + *database_ + "`;");
    delete database_;
  }
  void SetUp() override {
    proxy_ = std::make_unique<LoopbackProxy>(Server().host, Server().port);
    server_ = TestComponent(GetParam());
    server_->SetPort(proxy_->port());
    server_->SetDatabaseName(*database_);
  }
  void TearDown() override {
    ds_.reset();
    server_.reset();
    proxy_.reset();
  }
  void CutAnywhere(bool compress);
  TMySQLQuery& Query(const std::string& sql) {
    ds_ = std::make_unique<TMySQLQuery>();
    ds_->SetServer(server_.get());
    ds_->SQL()->SetText(sql);
    return *ds_;
  }

  static inline std::string* database_ = nullptr;
  std::unique_ptr<LoopbackProxy> proxy_;
  std::unique_ptr<TMySQLServer> server_;
  std::unique_ptr<TMySQLQuery> ds_;
};

TEST_P(LostServerTest, ReadTimeOutEndsAStalledQuery) {
  server_->SetParams("[direct]\r\nread_timeout=1\r\n[client]\r\nread_timeout=1\r\n");
  server_->Open();
  TMySQLQuery& q = Query("select count(*) from big");
  q.Open();
  EXPECT_EQ(q.Fields()[0]->AsString(), "3000");
  q.Close();
  proxy_->Stall(true);
  // The server's answer never arrives: the time-out ends the wait.
  EXPECT_THROW(q.Open(), EMySQLError);
  EXPECT_FALSE(q.Active());
  proxy_->Stall(false);
}

TEST_P(LostServerTest, ResultCutAnywhereRaises) { CutAnywhere(false); }

// The same inside compressed frames: cuts fall mid-frame.
TEST_P(LostServerTest, CompressedResultCutAnywhereRaises) { CutAnywhere(true); }

void LostServerTest::CutAnywhere(bool compress) {
  if (compress) server_->SetOptions(server_->Options() + TMySQLServerOptions{coCompress});
  server_->Open();
  TMySQLQuery& q = Query("select id, v from big order by id");
  const uint64_t before = proxy_->Forwarded();
  q.Open();
  ASSERT_EQ(q.RecordCount(), 3000);
  q.Close();
  const int64_t length = static_cast<int64_t>(proxy_->Forwarded() - before);
  server_->Close();
  // Cut points through the statement, the column descriptions, the rows and
  // the end packet (every 997th byte and the last few).
  std::vector<int64_t> cuts;
  for (int64_t c = 0; c < length; c += 997) cuts.push_back(c);
  for (int64_t c = std::max<int64_t>(0, length - 6); c < length; ++c) cuts.push_back(c);
  int failures = 0;
  for (int64_t cut : cuts) {
    SCOPED_TRACE("cut after " + std::to_string(cut) + " of " + std::to_string(length));
    proxy_->DropAfter(-1);
    server_->Open();
    TMySQLQuery& cq = Query("select id, v from big order by id");
    proxy_->DropAfter(cut);
    // Either the whole result arrived (a cut after its last byte) or the
    // open fails: never a short row set.
    try {
      cq.Open();
      EXPECT_EQ(cq.RecordCount(), 3000);
    } catch (const EMySQLError&) {
      EXPECT_FALSE(cq.Active());
      ++failures;
    }
    proxy_->DropAfter(-1);
    // The component closes cleanly and connects again.
    ds_.reset();
    server_->Close();
    server_->Open();
    TMySQLQuery& again = Query("select count(*) from big");
    again.Open();
    EXPECT_EQ(again.Fields()[0]->AsString(), "3000");
    again.Close();
    server_->Close();
  }
  EXPECT_GE(failures, static_cast<int>(cuts.size()) - 6);
}

// A session killed on the server (the built-in client reconnects only when
// asked to, as the client library does): the next statement raises, also
// inside a transaction (whose work the server threw away), and the
// component connects again.
TEST(LostServerDirect, KilledSessionRaisesAndTheComponentReconnects) {
  auto server = TestComponent(dtDirect);
  server->Open();
  auto killer = TestComponent(dtDirect);
  killer->Open();
  for (bool in_transaction : {false, true}) {
    SCOPED_TRACE(in_transaction ? "inside a transaction" : "outside a transaction");
    if (in_transaction) server->ExecSQL("start transaction");
    const std::string id = Scalar(*server, "select connection_id()");
    killer->ExecSQL("KILL " + id);
    EXPECT_THROW(Scalar(*server, "select 8"), EMySQLError);
    server->Close();
    EXPECT_FALSE(server->Connected());
    server->Open();
    EXPECT_NE(Scalar(*server, "select connection_id()"), id);
    EXPECT_EQ(Scalar(*server, "select 9"), "9");
  }
  server->Close();
  killer->Close();
}

INSTANTIATE_TEST_SUITE_P(Drivers, LostServerTest, ::testing::Values(dtDirect, dtLibrary),
                         [](const ::testing::TestParamInfo<TMySQLDriverType>& i) {
                           return std::string(i.param == dtDirect ? "direct" : "library");
                         });

}  // namespace
}  // namespace rowset::test
