// Opening, fetching and navigating datasets against the test server.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/dataset/DatasetTestUtil.h"

namespace rowset::test {
namespace {

class OpenTest : public DatasetTest {
 protected:
  static void SetUpTestSuite() {
    DatasetTest::SetUpTestSuite();
    Sql("CREATE TABLE t (id INT NOT NULL AUTO_INCREMENT PRIMARY KEY, n INT, s VARCHAR(40),"
        " d DOUBLE, dt DATETIME);"
        "INSERT INTO t (n, s, d, dt) VALUES (10, 'ten', 1.5, '2004-05-06 07:08:09'),"
        " (20, 'twenty', -2.25, '1999-12-31 23:59:59'), (NULL, '', NULL, NULL);"
        "CREATE TABLE many (id INT PRIMARY KEY, v INT);"
        "INSERT INTO many SELECT seq, seq * 2 FROM seq_0_to_999;");
  }
};

std::vector<std::string> Column(TDataSet& ds, const std::string& name) {
  std::vector<std::string> out;
  ds.First();
  while (!ds.Eof()) {
    out.push_back(ds.FieldByName(name)->IsNull() ? "(null)" : ds.FieldByName(name)->AsString());
    ds.Next();
  }
  return out;
}

TEST_F(OpenTest, LocalResultIsReadCompletelyAtOpen) {
  auto q = NewDataset<TMySQLQuery>("select * from t order by id");
  q->Open();
  EXPECT_TRUE(q->AllFetched());
  EXPECT_EQ(q->ResultHandle(), nullptr);
  EXPECT_EQ(q->RecordCount(), 3);
  ASSERT_EQ(q->FieldCount(), 5);
  EXPECT_EQ(q->FieldByName("id")->DataType(), ftAutoInc);
  EXPECT_EQ(q->FieldByName("n")->DataType(), ftInteger);
  EXPECT_EQ(q->FieldByName("s")->DataType(), ftString);
  EXPECT_EQ(q->FieldByName("d")->DataType(), ftFloat);
  EXPECT_EQ(q->FieldByName("dt")->DataType(), ftDateTime);
  EXPECT_EQ(Column(*q, "n"), (std::vector<std::string>{"10", "20", "(null)"}));
  EXPECT_EQ(Column(*q, "s"), (std::vector<std::string>{"ten", "twenty", ""}));
  q->First();
  EXPECT_DOUBLE_EQ(q->FieldByName("d")->AsFloat(), 1.5);
  EXPECT_EQ(q->FieldByName("dt")->AsString(), DateTimeToStr(EncodeDateTime(2004, 5, 6, 7, 8, 9, 0)));
  EXPECT_EQ(q->RecNo(), 0);
  q->Close();
  EXPECT_EQ(q->Rows(), nullptr);
  EXPECT_EQ(q->ConnectionHandle(), nullptr);
}

TEST_F(OpenTest, EmptyVarcharReadsAsNullThroughTheValueButHasAValue) {
  auto q = NewDataset<TMySQLQuery>("select s from t where id = 3");
  q->Open();
  TField* s = q->FieldByName("s");
  EXPECT_FALSE(s->IsNull());        // the null test passes no buffer
  EXPECT_FALSE(s->GetData(nullptr) == false);
  std::vector<char> buffer(static_cast<size_t>(s->DataSize()));
  EXPECT_FALSE(s->GetData(buffer.data()));  // the value itself reads as NULL
  EXPECT_EQ(s->AsString(), "");
}

TEST_F(OpenTest, RecordNumbersAndBookmarks) {
  auto q = NewDataset<TMySQLQuery>("select id, v from many order by id");
  q->Open();
  EXPECT_EQ(q->RecordCount(), 1000);
  q->SetRecNo(5);
  EXPECT_EQ(q->FieldByName("id")->AsInteger(), 5);
  EXPECT_EQ(q->RecNo(), 5);
  TBookmark b5 = q->GetBookmark();
  q->Last();
  EXPECT_EQ(q->FieldByName("id")->AsInteger(), 999);
  TBookmark last = q->GetBookmark();
  EXPECT_EQ(q->CompareBookmarks(b5, last), -1);
  EXPECT_EQ(q->CompareBookmarks(last, b5), 1);
  EXPECT_EQ(q->CompareBookmarks(b5, b5), 0);
  TBookmark beyond(8, 0);
  int64_t big = 1000;
  std::memcpy(beyond.data(), &big, 8);
  EXPECT_FALSE(q->BookmarkValid(beyond));
  EXPECT_EQ(q->CompareBookmarks(beyond, b5), -1);
  EXPECT_EQ(q->CompareBookmarks(b5, beyond), 1);
  EXPECT_EQ(q->CompareBookmarks(TBookmark(), TBookmark()), -1);
  q->GotoBookmark(b5);
  EXPECT_EQ(q->FieldByName("v")->AsInteger(), 10);
  q->Prior();
  EXPECT_EQ(q->FieldByName("id")->AsInteger(), 4);
}

TEST_F(OpenTest, EmptyResult) {
  auto q = NewDataset<TMySQLQuery>("select * from t where id < 0");
  q->Open();
  EXPECT_EQ(q->RecordCount(), 0);
  EXPECT_TRUE(q->IsEmpty());
  EXPECT_TRUE(q->Eof());
  TBookmark zero(8, 0);
  EXPECT_FALSE(q->BookmarkValid(zero));
}

TEST_F(OpenTest, IncrementalCountGrowsAndCloseDrainsTheRest) {
  auto q = NewDataset<TMySQLDataset>("select id, v from many order by id");
  q->SetResultType(rtIncremental);
  EXPECT_FALSE(q->ShareConnection());
  q->Open();
  EXPECT_FALSE(q->AllFetched());
  EXPECT_NE(q->ResultHandle(), nullptr);
  int first = q->RecordCount();
  EXPECT_LT(first, 1000);
  EXPECT_EQ(first, static_cast<int>(q->Rows()->size()) + 1);
  for (int i = 0; i < 100; ++i) q->Next();
  EXPECT_EQ(q->FieldByName("id")->AsInteger(), 100);
  EXPECT_GT(q->RecordCount(), first);
  q->Close();
  EXPECT_EQ(q->ResultHandle(), nullptr);
  // The connection is usable again right away.
  q->Open();
  q->Last();
  EXPECT_TRUE(q->AllFetched());
  EXPECT_EQ(q->RecordCount(), 1000);
  EXPECT_EQ(q->FieldByName("id")->AsInteger(), 999);
  // Back to the shared connection.
  q->SetShareConnection(true);
  EXPECT_EQ(q->ResultType(), rtLocal);
}

TEST_F(OpenTest, UnidirectionalPriorStaysOnTheRow) {
  auto q = NewDataset<TMySQLDataset>("select id from many order by id");
  q->SetResultType(rtUnidirectional);
  q->Open();
  q->Next();
  q->Next();
  EXPECT_EQ(q->FieldByName("id")->AsInteger(), 2);
  q->Prior();
  EXPECT_EQ(q->FieldByName("id")->AsInteger(), 2);
  // Only the newest row is held; a counter keeps the numbering.
  EXPECT_EQ(q->Rows()->size(), 1u);
  EXPECT_EQ(q->FetchedCount(), 3);
  EXPECT_EQ(q->RecNo(), 2);
  q->Last();
  EXPECT_TRUE(q->AllFetched());
  EXPECT_EQ(q->Rows()->size(), 1u);
  EXPECT_EQ(q->FetchedCount(), 1000);
  EXPECT_EQ(q->RecordCount(), 1000);
  EXPECT_EQ(q->RecNo(), 999);
  EXPECT_EQ(q->FieldByName("id")->AsInteger(), 999);
}

TEST_F(OpenTest, UpdateThenSelectShowsTheRows) {
  auto q = NewDataset<TMySQLQuery>("update t set n = n where id = 1; select id from t order by id;");
  q->Open();
  EXPECT_EQ(q->RecordCount(), 3);
  EXPECT_EQ(q->LastStatement(), "select id from t order by id;");
}

TEST_F(OpenTest, SelectThenUpdateOpensWithoutColumns) {
  auto q = NewDataset<TMySQLQuery>("select id from t; update t set n = n where id = 1;");
  q->Open();
  EXPECT_TRUE(q->Active());
  EXPECT_EQ(q->FieldCount(), 0);
  EXPECT_EQ(q->RecordCount(), 0);
  EXPECT_EQ(q->AffectedRowsText(), "0");
}

TEST_F(OpenTest, ErrorsLeaveTheDatasetClosed) {
  auto q = NewDataset<TMySQLQuery>("select * from no_such_table");
  EXPECT_THROW(q->Open(), EMySQLError);
  EXPECT_FALSE(q->Active());
  EXPECT_EQ(q->ConnectionHandle(), nullptr);
  TMySQLQuery lonely;
  lonely.SQL()->SetText("select 1");
  try {
    lonely.Open();
    FAIL();
  } catch (const EMySQLError& e) {
    EXPECT_EQ(std::string(e.what()), "No dataset server selected for open");
  }
  q->SQL()->Clear();
  try {
    q->Open();
    FAIL();
  } catch (const EMySQLError& e) {
    EXPECT_EQ(std::string(e.what()), "Must have SQL");
  }
}

TEST_F(OpenTest, OnExecSQLRewritesOrStops) {
  auto q = NewDataset<TMySQLQuery>("select id from t");
  q->OnExecSQL = [](TMySQLDatasetBase*, std::string& sql, bool&) { sql += " where id = 2"; };
  q->Open();
  EXPECT_EQ(q->RecordCount(), 1);
  q->Close();
  q->OnExecSQL = [](TMySQLDatasetBase*, std::string&, bool& go_on) { go_on = false; };
  EXPECT_THROW(q->Open(), EAbort);
  EXPECT_FALSE(q->Active());
}

TEST_F(OpenTest, ServerDisconnectClosesTheDataset) {
  auto q = NewDataset<TMySQLQuery>("select id from many");
  q->SetResultType(rtIncremental);
  q->Open();
  server_->Close();
  EXPECT_FALSE(q->Active());
  EXPECT_EQ(q->ConnectionHandle(), nullptr);
  q->Open();
  EXPECT_TRUE(server_->Connected());
}

}  // namespace
}  // namespace rowset::test

namespace rowset::test {
namespace {

TEST_F(OpenTest, LostConnectionDuringFetchRaisesAndKeepsTheRows) {
  auto q = NewDataset<TMySQLDataset>("select a.id from many a, many b");
  q->SetResultType(rtIncremental);
  q->Open();
  q->Next();
  uint32_t id = server_->GetDriver()->ThreadID(q->ConnectionHandle());
  RootSql("KILL " + std::to_string(id) + ";");
  EXPECT_THROW(q->Last(), EMySQLError);
  EXPECT_GE(q->Rows()->size(), 2u);
  EXPECT_TRUE(q->AllFetched());
  EXPECT_EQ(q->ResultHandle(), nullptr);
  q->Close();
  EXPECT_FALSE(q->Active());
}

TEST_F(OpenTest, DestroyingAnOpenDatasetNeverThrows) {
  std::vector<std::string> handled;
  SetApplicationExceptionHandler([&](TObject*, std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      handled.push_back(e.what());
    }
  });
  {
    auto q = NewDataset<TMySQLDataset>("select a.id from many a, many b");
    q->SetResultType(rtIncremental);
    q->Open();
    q->Next();
  }
  {
    auto q = NewDataset<TMySQLQuery>("select id from many");
    q->Open();
    server_.reset();  // the component goes first: the dataset is detached
    EXPECT_FALSE(q->Active());
    EXPECT_EQ(q->Server(), nullptr);
  }
  SetApplicationExceptionHandler(nullptr);
}

}  // namespace
}  // namespace rowset::test

namespace rowset::test {
namespace {

TEST_F(OpenTest, ExecuteOpensAndReports) {
  auto q = NewDataset<TMySQLQuery>("select id from t");
  int opened = 0;
  q->OnThreadOpened = [&](TObject* sender) {
    ++opened;
    EXPECT_EQ(sender, q.get());
  };
  q->Execute(true);
  EXPECT_TRUE(q->Active());
  EXPECT_EQ(opened, 1);
}

TEST_F(OpenTest, DatabaseNameIsSelectedOnTheConnection) {
  RootSql("CREATE DATABASE IF NOT EXISTS `" + Database() + "_other`;"
          "CREATE TABLE IF NOT EXISTS `" + Database() + "_other`.only_here (x INT);"
          "INSERT INTO `" + Database() + "_other`.only_here VALUES (42);");
  auto q = NewDataset<TMySQLDataset>("select x from only_here");
  q->SetDatabaseName(Database() + "_other");
  q->SetShareConnection(false);
  q->Open();
  EXPECT_EQ(q->FieldByName("x")->AsInteger(), 42);
  // Its own connection: the component's stays on its database.
  EXPECT_EQ(server_->ConnectionDatabase(), Database());
  q->Close();
  RootSql("DROP DATABASE `" + Database() + "_other`;");
}

}  // namespace
}  // namespace rowset::test

namespace rowset::test {
namespace {

TEST_F(OpenTest, BadPositionsGiveErrorsNotCrashes) {
  auto q = NewDataset<TMySQLQuery>("select id from many order by id");
  q->Open();
  TBookmark beyond(8, 0);
  int64_t big = 5000;
  std::memcpy(beyond.data(), &big, 8);
  EXPECT_THROW(q->GotoBookmark(beyond), EDatabaseError);
  TBookmark negative(8, 0xFF);
  EXPECT_THROW(q->GotoBookmark(negative), EDatabaseError);
  EXPECT_THROW(q->GotoBookmark(TBookmark(3, 0)), EDatabaseError);
  q->First();
  EXPECT_EQ(q->FieldByName("id")->AsInteger(), 0);
  // Numbers off the rows are ignored: the record stays where it was.
  q->SetRecNo(-3);
  EXPECT_EQ(q->RecNo(), 0);
  EXPECT_EQ(q->CurrentRec(), 0);
  q->SetRecNo(100000);
  EXPECT_EQ(q->RecNo(), 0);
  EXPECT_FALSE(q->IsEmpty());
  EXPECT_EQ(q->FieldByName("id")->AsInteger(), 0);
  q->SetRecNo(999);
  EXPECT_EQ(q->FieldByName("id")->AsInteger(), 999);
}

}  // namespace
}  // namespace rowset::test
