// The rowset program with a host list: a host that does not answer is
// passed over, and in replication mode reads go to a replica while writes
// stay on the primary. Each "host" is a loopback proxy in front of the one
// real test server, so the test sees where the program's connections went.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/common/LoopbackProxy.h"
#include "tests/common/TestServer.h"
#include "tests/tools/RowsetRun.h"

namespace rowset::test {
namespace {

class RowsetHostsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    db_ = FreshDatabase("rowset_hosts");
    RootSql("CREATE TABLE " + db_ + ".h (a INT);");
  }
  static void TearDownTestSuite() { RootSql("DROP DATABASE IF EXISTS " + db_ + ";"); }

  void SetUp() override {
    a_ = std::make_unique<LoopbackProxy>(Server().host, Server().port);
    b_ = std::make_unique<LoopbackProxy>(Server().host, Server().port);
  }
  std::string Hosts() const {
    return "127.0.0.1:" + std::to_string(a_->port()) + ",127.0.0.1:" + std::to_string(b_->port());
  }
  std::string Login(const std::string& Driver) const {
    return "--driver " + Driver + " --host " + Hosts() + " -u " + Server().user + " -D " + db_;
  }

  std::unique_ptr<LoopbackProxy> a_, b_;
  static inline std::string db_;
};

TEST_F(RowsetHostsTest, AHostThatDoesNotAnswerIsPassedOver) {
  a_->DropAfter(0);
  for (const char* driver : {"direct", "library"}) {
    RowsetResult r = RunRowset(Login(driver) + " --format tsv -e 'select 40 + 2 as v'");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "v\n42\n") << driver;
  }
  EXPECT_GE(b_->Accepted(), 2);
}

TEST_F(RowsetHostsTest, ReplicationModeReadsFromAReplicaAndWritesToThePrimary) {
  for (const char* driver : {"direct", "library"}) {
    SCOPED_TRACE(driver);
    const int a_before = a_->Accepted(), b_before = b_->Accepted();
    RowsetResult r = RunRowset(Login(driver) + " --mode replication --format tsv -e "
                               "'insert into h values (1); select count(*) as c from h'");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("c\n"), std::string::npos) << r.out;
    EXPECT_EQ(a_->Accepted() - a_before, 1);  // the primary: the main session
    EXPECT_EQ(b_->Accepted() - b_before, 1);  // the replica: the read
  }
  EXPECT_EQ(RootSql("SELECT COUNT(*) FROM " + db_ + ".h;"), "2\n");
}

TEST_F(RowsetHostsTest, AnUnknownModeIsRefused) {
  RowsetResult r = RunRowset(Login("direct") + " --mode roundrobin -e 'select 1'");
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("unknown mode 'roundrobin' (sequential, loadbalance or replication)"),
            std::string::npos)
      << r.err;
}

}  // namespace
}  // namespace rowset::test
