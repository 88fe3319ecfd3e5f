// Provider hooks against the test server: statements with positional
// parameters, key fields and table names, transactions seen from a second
// connection, index fields.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/dataset/DatasetTestUtil.h"

namespace rowset::test {
namespace {

class ProviderTest : public DatasetTest {
 protected:
  void SetUp() override {
    DatasetTest::SetUp();
    Sql("DROP TABLE IF EXISTS p, k2, zz, aa, ix;"
        "CREATE TABLE p (id INT PRIMARY KEY, s VARCHAR(60), n INT) ENGINE=InnoDB;"
        "INSERT INTO p SELECT seq, CONCAT('v', seq), seq FROM seq_1_to_5;"
        "CREATE TABLE k2 (a INT, b INT, c INT, PRIMARY KEY (a, b));"
        "CREATE TABLE zz (z INT); CREATE TABLE aa (a INT);"
        "CREATE TABLE ix (id INT, userid INT, name VARCHAR(5), KEY (userid), UNIQUE KEY (name));");
  }
  // One value read as root, over a connection of its own.
  static std::string Read(const std::string& sql) {
    std::string out = RootSql("USE `" + Database() + "`; " + sql);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
  }
  std::unique_ptr<TMySQLDataset> Dataset(const std::string& sql = "select 1") {
    return NewDataset<TMySQLDataset>(sql);
  }
  static int ErrorOf(TMySQLDataset& ds, const std::string& sql, TParams* params) {
    try {
      ds.PSExecuteStatement(sql, params);
    } catch (const EMySQLError& e) {
      return e.ErrorCode();
    }
    return 0;
  }
};

TEST_F(ProviderTest, StatementWithTwoPositionalParameters) {
  auto ds = Dataset();
  TParams params;
  const std::string hostile = "it's a ? and [2] and \\' ;--";
  params.CreateParam(ftString, "first", ptUnknown)->SetAsString(hostile);
  params.CreateParam(ftInteger, "second", ptUnknown)->SetAsInteger(2);
  // The "?" in the literal, the quoted name and the comments are text.
  const std::string sql =
      "update p set s = ? where n > ? and s <> '?' and `n` is not null /* ? */ -- ?\n"
      "# ?\n";
  EXPECT_EQ(ds->PSExecuteStatement(sql, &params), 3);
  EXPECT_EQ(params[0]->Name(), "1");
  EXPECT_EQ(params[1]->Name(), "2");
  EXPECT_EQ(ds->MacroByName("1")->ParamType(), ptInput);
  EXPECT_EQ(Read("SELECT GROUP_CONCAT(id ORDER BY id) FROM p WHERE s = '" +
                 std::string("it\\'s a ? and [2] and \\\\\\' ;--") + "'"),
            "3,4,5");
  EXPECT_EQ(Read("SELECT GROUP_CONCAT(s ORDER BY id) FROM p WHERE id < 3"), "v1,v2");

  // The same text again runs again.
  params[1]->SetAsInteger(4);
  params[0]->SetAsString("again");
  EXPECT_EQ(ds->PSExecuteStatement(sql, &params), 1);
  EXPECT_EQ(Read("SELECT s FROM p WHERE id = 5"), "again");
}

TEST_F(ProviderTest, SessionWithoutBackslashEscapes) {
  server_->Open();
  server_->ExecSQL("SET SESSION sql_mode = 'NO_BACKSLASH_ESCAPES'");
  auto ds = Dataset();
  TParams params;
  params.CreateParam(ftString, "", ptUnknown)->SetAsString("back\\slash 'q'");
  params.CreateParam(ftInteger, "", ptUnknown)->SetAsInteger(1);
  EXPECT_EQ(ds->PSExecuteStatement("update p set s = ? where id = ?", &params), 1);
  EXPECT_EQ(Read("SELECT HEX(s) FROM p WHERE id = 1"), "6261636B5C736C61736820277127");
}

TEST_F(ProviderTest, ParametersOfOtherTypesAndNull) {
  auto ds = Dataset();
  TParams params;
  params.CreateParam(ftUnknown, "", ptUnknown);  // no value: NULL
  params.CreateParam(ftFloat, "", ptUnknown)->SetAsFloat(2.5);
  EXPECT_EQ(ds->PSExecuteStatement("update p set s = ?, n = ? where id = 2", &params), 1);
  EXPECT_EQ(Read("SELECT CONCAT(ISNULL(s), ',', n) FROM p WHERE id = 2"), "1,3");
}

TEST_F(ProviderTest, DelimitersHoldingQuestionMarks) {
  auto ds = Dataset();
  ds->SetMacroDel("<?,?>");
  TParams params;
  params.CreateParam(ftInteger, "", ptUnknown)->SetAsInteger(40);
  params.CreateParam(ftInteger, "", ptUnknown)->SetAsInteger(4);
  EXPECT_EQ(ds->PSExecuteStatement("update p set n = ? where id = ?", &params), 1);
  EXPECT_EQ(Read("SELECT n FROM p WHERE id = 4"), "40");
}

TEST_F(ProviderTest, WithoutMacrosTheStatementFailsOnTheServer) {
  auto ds = Dataset();
  ds->SetOptions(ds->Options() - TMySQLDatasetOptions{doMacrosEnabled});
  TParams params;
  params.CreateParam(ftInteger, "", ptUnknown)->SetAsInteger(1);
  EXPECT_EQ(ErrorOf(*ds, "delete from p where id = ?", &params), 1064);
  EXPECT_EQ(Read("SELECT COUNT(*) FROM p"), "5");
}

TEST_F(ProviderTest, KeyFieldsTableNameAndIndexFields) {
  auto keys = Dataset("select * from k2");
  keys->Open();
  EXPECT_EQ(keys->PSGetKeyFields(), "a;b;");
  EXPECT_EQ(keys->PSGetTableName(), "k2");
  keys->SetTableName("named");
  EXPECT_EQ(keys->PSGetTableName(), "named");

  auto join = Dataset("select * from zz, aa");
  join->Open();
  // The table of the first column: the one an edit changes.
  EXPECT_EQ(join->PSGetTableName(), "zz");
  EXPECT_EQ(join->PSGetKeyFields(), "");
  auto none = Dataset("select 1 as one");
  none->Open();
  EXPECT_EQ(none->PSGetTableName(), "PleaseSpecifyATableNameProperty");

  auto ix = Dataset("select id, userid, name from ix");
  ix->Open();
  EXPECT_EQ(ix->PSGetQuoteChar(), "`");
  EXPECT_FALSE(ix->GetIsIndexField(ix->FieldByName("id")));  // not because of "userid"
  EXPECT_TRUE(ix->GetIsIndexField(ix->FieldByName("userid")));
  EXPECT_FALSE(ix->GetIsIndexField(ix->FieldByName("name")));  // unique: not an index field
}

TEST_F(ProviderTest, TransactionsSeenFromASecondConnection) {
  for (bool share : {true, false}) {
  SCOPED_TRACE(share ? "shared connection" : "own connection");
  Sql("DELETE FROM p WHERE id > 5;");
  auto ds = Dataset();
  ds->SetShareConnection(share);
  ds->SetOptions(ds->Options() + TMySQLDatasetOptions{doTransactions});
  TParams params;
  params.CreateParam(ftInteger, "", ptUnknown)->SetAsInteger(6);
  ds->PSStartTransaction();
  EXPECT_TRUE(ds->PSInTransaction());
  EXPECT_EQ(ds->PSExecuteStatement("insert into p (id, s, n) values (?, 'new', 6)", &params), 1);
  EXPECT_EQ(Read("SELECT COUNT(*) FROM p"), "5");
  ds->PSEndTransaction(true);
  EXPECT_FALSE(ds->PSInTransaction());
  EXPECT_EQ(Read("SELECT COUNT(*) FROM p"), "6");

  params[0]->SetAsInteger(7);
  ds->PSStartTransaction();
  EXPECT_EQ(ds->PSExecuteStatement("insert into p (id, s, n) values (?, 'gone', 7)", &params), 1);
  ds->PSEndTransaction(false);
  EXPECT_EQ(Read("SELECT COUNT(*) FROM p"), "6");
  }
}

TEST_F(ProviderTest, CommandTextParamsOrderAndReset) {
  auto ds = Dataset();
  ds->PSSetCommandText("");
  EXPECT_EQ(ds->SQL()->Text(), "select 1\r\n");
  ds->PSSetCommandText("select id, s from p where id <= [LIMIT] order by id");
  EXPECT_NE(ds->PSGetParams()->FindParam("LIMIT"), nullptr);
  TParams params;
  params.CreateParam(ftInteger, "LIMIT", ptInput)->SetAsInteger(2);
  ds->PSSetParams(&params);
  EXPECT_EQ(ds->MacroByName("LIMIT")->AsInteger(), 2);
  int opened = 0;
  ds->OnThreadOpened = [&](TObject*) { ++opened; };
  ds->PSExecute();
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(ds->RecordCount(), 2);
  Sql("DELETE FROM p WHERE id = 1;");
  ds->PSReset();
  EXPECT_EQ(ds->RecordCount(), 1);

  EXPECT_EQ(ds->PSGetDefaultOrder(), nullptr);
  ds->IndexDefs()->Add("first", "id", {ixPrimary});
  EXPECT_EQ(ds->PSGetDefaultOrder(), ds->IndexDefs()->Items(0));
  EXPECT_EQ(ds->PSGetIndexDefs({ixUnique}), ds->IndexDefs());
  EXPECT_TRUE(ds->PSIsSQLBased());
  EXPECT_TRUE(ds->PSIsSQLSupported());
  EXPECT_FALSE(ds->PSUpdateRecord(ukModify, nullptr));
}

}  // namespace
}  // namespace rowset::test
