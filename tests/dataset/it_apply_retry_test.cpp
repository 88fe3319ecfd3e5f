// ApplyUpdates against a transaction the server rolls back as a deadlock (a
// Galera certification failure reports the same error): with retries set
// on the connection component the whole held list runs again and lands
// once; without, the retryable error is raised and the list stays held.
// The deadlock comes from a trigger that fails the first attempts, counted
// in a table outside the transaction (MyISAM keeps the count across the
// rollback).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/dataset/DatasetTestUtil.h"

namespace rowset::test {
namespace {

class ApplyRetryTest : public DatasetTest {
 protected:
  static std::string Read(const std::string& sql) {
    std::string out = RootSql("USE `" + Database() + "`; " + sql);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
  }
  // Inserts into rt fail with 1213 until Failures attempts have been made.
  static void Prepare(int Failures) {
    Sql("DROP TABLE IF EXISTS rt; DROP TABLE IF EXISTS rt_attempts;"
        "CREATE TABLE rt (id INT PRIMARY KEY, v INT) ENGINE=InnoDB;"
        "CREATE TABLE rt_attempts (n INT AUTO_INCREMENT PRIMARY KEY) ENGINE=MyISAM;\n"
        "DELIMITER //\n"
        "CREATE TRIGGER rt_fail BEFORE INSERT ON rt FOR EACH ROW BEGIN "
        "  INSERT INTO rt_attempts VALUES (NULL);"
        "  IF NEW.id = 2 AND (SELECT COUNT(*) FROM rt_attempts WHERE n > 0) <= " +
        std::to_string(2 * Failures) +
        " THEN SIGNAL SQLSTATE '40001' SET MYSQL_ERRNO = 1213,"
        "  MESSAGE_TEXT = 'Deadlock found when trying to get lock'; END IF; END//\n"
        "DELIMITER ;\n");
  }
};

TEST_F(ApplyRetryTest, ARetryableFailureRunsTheWholeTransactionAgain) {
  Prepare(2);
  server_->SetTransactionRetries(3);
  auto ds = NewDataset<TMySQLDataset>("select * from rt");
  ds->SetCachedUpdates(true);
  ds->ExecSQL("insert into rt values (1, 10)", false, true, "", "");
  ds->ExecSQL("insert into rt values (2, 20)", false, true, "", "");
  ds->ApplyUpdates();
  EXPECT_EQ(ds->SQLCached()->Count(), 0);
  EXPECT_EQ(Read("SELECT COUNT(*), SUM(v) FROM rt"), "2\t30");
  // Two failed runs of two inserts, then the one that went through.
  EXPECT_EQ(Read("SELECT COUNT(*) FROM rt_attempts"), "6");
}

TEST_F(ApplyRetryTest, WithoutRetriesTheErrorIsRaisedAndTheListKept) {
  Prepare(1);
  auto ds = NewDataset<TMySQLDataset>("select * from rt");
  ds->SetCachedUpdates(true);
  ds->ExecSQL("insert into rt values (1, 10)", false, true, "", "");
  ds->ExecSQL("insert into rt values (2, 20)", false, true, "", "");
  try {
    ds->ApplyUpdates();
    ADD_FAILURE() << "a rolled-back transaction was reported applied";
  } catch (const EMySQLError& e) {
    EXPECT_TRUE(e.Retryable()) << e.what();
    EXPECT_EQ(e.ErrorCode(), 1213);
  }
  EXPECT_EQ(ds->SQLCached()->Count(), 2);
  EXPECT_EQ(Read("SELECT COUNT(*) FROM rt"), "0");
  // The application's own retry lands the list once.
  ds->ApplyUpdates();
  EXPECT_EQ(Read("SELECT COUNT(*), SUM(v) FROM rt"), "2\t30");
}

TEST_F(ApplyRetryTest, AFailureThatIsNotRetryableIsNotRunAgain) {
  Sql("DROP TABLE IF EXISTS rt; CREATE TABLE rt (id INT PRIMARY KEY, v INT) ENGINE=InnoDB;"
      "INSERT INTO rt VALUES (2, 0);");
  server_->SetTransactionRetries(5);
  auto ds = NewDataset<TMySQLDataset>("select * from rt");
  ds->SetCachedUpdates(true);
  ds->ExecSQL("insert into rt values (1, 10)", false, true, "", "");
  ds->ExecSQL("insert into rt values (2, 20)", false, true, "", "");  // duplicate key
  try {
    ds->ApplyUpdates();
    ADD_FAILURE() << "a duplicate key was reported applied";
  } catch (const EMySQLError& e) {
    EXPECT_FALSE(e.Retryable());
    EXPECT_EQ(e.ErrorCode(), 1062);
  }
  EXPECT_EQ(Read("SELECT COUNT(*) FROM rt"), "1");
  EXPECT_EQ(ds->SQLCached()->Count(), 2);
}

}  // namespace
}  // namespace rowset::test
