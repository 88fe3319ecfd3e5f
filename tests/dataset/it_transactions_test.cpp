// Transactions of a dataset whose connection component is not connected
// yet: the server's version decides whether doTransactions applies, so the
// dataset connects before deciding instead of running the change outside a
// transaction; a connect that fails raises.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/dataset/DatasetTestUtil.h"

namespace rowset::test {
namespace {

class TransactionsTest : public DatasetTest {
 protected:
  static std::string Read(const std::string& sql) {
    std::string out = RootSql("USE `" + Database() + "`; " + sql);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
  }
};

TEST_F(TransactionsTest, StartTransactionConnectsFirst) {
  Sql("DROP TABLE IF EXISTS tx; CREATE TABLE tx (id INT PRIMARY KEY, v INT) ENGINE=InnoDB;"
      "INSERT INTO tx VALUES (1, 1);");
  auto ds = NewDataset<TMySQLDataset>("select * from tx");
  ds->SetOptions(ds->Options() + TMySQLDatasetOptions{doTransactions});
  ASSERT_FALSE(server_->Connected());
  ds->StartTransaction();
  EXPECT_TRUE(server_->Connected());
  EXPECT_TRUE(ds->InTransaction());
  ds->ExecSQL("update tx set v = 2", false, false, "", "");
  ds->RollbackTransaction();
  EXPECT_FALSE(ds->InTransaction());
  EXPECT_EQ(Read("select v from tx"), "1");

  // Held back with cached updates: the brackets are held as well.
  server_->Close();
  ds->SetCachedUpdates(true);
  ds->StartTransaction();
  ds->ExecSQL("update tx set v = 3", false, true, "", "");
  ds->CommitTransaction();
  ASSERT_EQ(ds->SQLCached()->Count(), 3);
  EXPECT_EQ(ds->SQLCached()->Get(0), "start transaction;;");
  EXPECT_EQ(ds->SQLCached()->Get(2), "commit;;");
  ds->ApplyUpdates();
  EXPECT_EQ(Read("select v from tx"), "3");
}

TEST_F(TransactionsTest, StartTransactionRaisesWhenTheConnectFails) {
  auto ds = NewDataset<TMySQLDataset>("select 1");
  ds->SetOptions(ds->Options() + TMySQLDatasetOptions{doTransactions});
  server_->SetHost("127.0.0.1");
  server_->SetPort(1);  // nothing listens there
  EXPECT_THROW(ds->StartTransaction(), EDatabaseError);
  EXPECT_FALSE(ds->InTransaction());
}

}  // namespace
}  // namespace rowset::test
