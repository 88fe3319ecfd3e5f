// Checks that every back end must pass alike, run by the direct, library and
// embedded driver tests on a connection that is the driver's main one, in a
// database of the test's own.
#ifndef ROWSET_TESTS_DRIVERS_DRIVERCHECKS_H_
#define ROWSET_TESTS_DRIVERS_DRIVERCHECKS_H_

#include <gtest/gtest.h>

#include <string>

#include "drivers/MySQLDrivers.h"

namespace rowset::test {

// The first value of a one-row statement, exact bytes; "<null>" for NULL.
inline std::string Scalar(TMySQLBase& driver, MySQLHandle h, const std::string& sql) {
  MySQLResultHandle r = driver.OpenQuery(h, sql);
  if (r == nullptr) return "<no result>";
  MySQLRow row = driver.RetrieveRow(r);
  std::string value = "<no row>";
  if (row != nullptr)
    value = row[0] == nullptr ? "<null>"
                              : std::string(row[0], driver.RetrieveRowFieldLenghts(r)[0]);
  while (driver.RetrieveRow(r) != nullptr) {
  }
  driver.CloseQuery(r);
  return value;
}

// A statement is sent with all of its bytes: cut at the zero byte, this
// delete would empty the table.
inline void ExpectStatementNotCutAtNul(TMySQLBase& driver, MySQLHandle h) {
  driver.OpenQuery(h, "drop table if exists chk_nul");
  driver.OpenQuery(h, "create table chk_nul (id int)");
  driver.OpenQuery(h, "insert into chk_nul values (1), (2), (3)");
  try {
    driver.OpenQuery(h, std::string("delete from chk_nul\0 where id = 2", 33));
    ADD_FAILURE() << "the statement with a zero byte ran";
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.ErrorCode(), 1064) << e.Message();
  }
  EXPECT_EQ(Scalar(driver, h, "select count(*) from chk_nul"), "3");
  driver.OpenQuery(h, "drop table chk_nul");
}

// In a NO_BACKSLASH_ESCAPES session EscapeStr doubles quotes only: every byte
// value round-trips and injected text deletes nothing.
inline void ExpectEscapingFollowsSqlMode(TMySQLBase& driver, MySQLHandle h) {
  ASSERT_EQ(driver.GetConnection(), h);
  driver.OpenQuery(h, "drop table if exists chk_esc");
  driver.OpenQuery(h, "create table chk_esc (id int, v varbinary(700))");
  driver.OpenQuery(h, "set sql_mode = 'NO_BACKSLASH_ESCAPES'");
  std::string value = "quote ' backslash \\ both \\' nul ";
  value += '\0';
  for (int b = 0; b < 256; ++b) value += static_cast<char>(b);
  const std::string values[] = {value, std::string("a\0b", 3), "\\", "'"};
  for (int i = 0; i < 4; ++i) {
    driver.OpenQuery(h, "insert into chk_esc values (" + std::to_string(i) + ", '" +
                            driver.EscapeStr(values[i]) + "')");
  }
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(Scalar(driver, h, "select v from chk_esc where id = " + std::to_string(i)) ==
                values[i])
        << i;
  }
  driver.OpenQuery(h, "delete from chk_esc where v = '" + driver.EscapeStr("' or 1=1 -- ") + "'");
  EXPECT_EQ(driver.AffectedRows(h), "0");
  EXPECT_EQ(Scalar(driver, h, "select count(*) from chk_esc"), "4");
  // Back in the default mode, backslashes escape again.
  driver.OpenQuery(h, "set sql_mode = ''");
  driver.OpenQuery(h, "insert into chk_esc values (9, '" + driver.EscapeStr(values[0]) + "')");
  EXPECT_TRUE(Scalar(driver, h, "select v from chk_esc where id = 9") == values[0]);
  driver.OpenQuery(h, "drop table chk_esc");
}

// A server error within the rows raises (through RetrieveRow, or
// RetrieveRowWithLengths, where the rows are streamed) instead of ending the
// rows as if complete.
inline void ExpectErrorWithinRowsRaises(TMySQLBase& driver, MySQLHandle h) {
  driver.OpenQuery(h, "drop table if exists chk_rows");
  driver.OpenQuery(h, "create table chk_rows (id int)");
  driver.OpenQuery(h, "insert into chk_rows values (1), (2), (3), (4), (5)");
  for (bool with_lengths : {false, true}) {
    SCOPED_TRACE(with_lengths ? "RetrieveRowWithLengths" : "RetrieveRow");
    auto next = [&](MySQLResultHandle r) {
      MySQLLengths lengths = nullptr;
      if (!with_lengths) return driver.RetrieveRow(r);
      MySQLRow row = driver.RetrieveRowWithLengths(r, lengths);
      EXPECT_EQ(row == nullptr, lengths == nullptr);
      return row;
    };
    MySQLResultHandle r = nullptr;
    int rows = 0;
    try {
      // The embedded server runs the whole statement before the first row:
      // there the error comes with the statement itself.
      r = driver.OpenQuery(
          h, "select if(id = 3, (select 1 union select 2), id) from chk_rows order by id");
      ASSERT_NE(r, nullptr);
      while (next(r) != nullptr) ++rows;
      ADD_FAILURE() << "the rows ended without an error after " << rows;
    } catch (const EMySQLError& e) {
      EXPECT_EQ(e.ErrorCode(), 1242) << e.Message();
    }
    EXPECT_LT(rows, 5);
    driver.CloseQuery(r);
    // A complete result still ends quietly, and the connection goes on.
    EXPECT_EQ(Scalar(driver, h, "select count(*) from chk_rows"), "5");
    r = driver.OpenQuery(h, "select repeat('x', id) from chk_rows order by id");
    rows = 0;
    MySQLLengths lengths = nullptr;
    while (MySQLRow row = driver.RetrieveRowWithLengths(r, lengths)) {
      ++rows;
      EXPECT_EQ(std::string(row[0], lengths[0]), std::string(static_cast<size_t>(rows), 'x'));
    }
    EXPECT_EQ(rows, 5);
    driver.CloseQuery(r);
  }
  driver.OpenQuery(h, "drop table chk_rows");
}

// ServerVer is the server's real version, whatever the greeting's marker.
inline void ExpectRealServerVersion(TMySQLBase& driver, MySQLHandle h) {
  const std::string version = Scalar(driver, h, "select version()");
  EXPECT_EQ(driver.ServerVer(), TMySQLBase::VersionNumber(version)) << version;
  EXPECT_GE(driver.ServerVer(), 100000);
}

}  // namespace rowset::test

#endif  // ROWSET_TESTS_DRIVERS_DRIVERCHECKS_H_
