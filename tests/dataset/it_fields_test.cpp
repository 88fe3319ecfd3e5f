// Column descriptions, keys, field definitions and value conversions
// against the test server.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/dataset/DatasetTestUtil.h"

namespace rowset::test {
namespace {

class FieldsTest : public DatasetTest {
 protected:
  static void SetUpTestSuite() {
    DatasetTest::SetUpTestSuite();
    Sql("CREATE TABLE a (id INT NOT NULL AUTO_INCREMENT PRIMARY KEY, name VARCHAR(20) NOT NULL,"
        " code INT, UNIQUE KEY code_key (code), KEY name_key (name)) CHARSET latin1;"
        "CREATE TABLE b (id INT NOT NULL PRIMARY KEY, a_id INT, note VARCHAR(10)) CHARSET latin1;"
        "INSERT INTO a (name, code) VALUES ('one', 1), ('two', 2);"
        "INSERT INTO b VALUES (10, 1, 'x'), (20, 2, NULL);"
        "CREATE TABLE num (big BIGINT UNSIGNED, sbig BIGINT, ui INT UNSIGNED, ut TINYINT UNSIGNED,"
        " t TINYINT, yn ENUM('Y','N'), ny ENUM('N','Y'), tri ENUM('a','b','c'),"
        " s SET('red','green','blue') DEFAULT 'green', y YEAR, m MEDIUMINT) CHARSET latin1;"
        "INSERT INTO num VALUES (18446744073709551615, -9223372036854775808, 4294967295, 255, -5,"
        " 'Y', 'N', 'b', 'red,blue', 2004, -7),"
        " (1, 1, 1, 1, 0, 'N', 'Y', 'a', '', 1999, 8);"
        "CREATE TABLE txt (v3000 VARCHAR(3000), tx TEXT, tt TINYTEXT, bl BLOB, vb VARBINARY(16))"
        " CHARSET latin1;"
        "INSERT INTO txt VALUES ('long', 'text', 'tiny', 'blob', 0x610062);"
        "CREATE TABLE dates (d DATE, t TIME, dt DATETIME, ts TIMESTAMP NULL DEFAULT NULL) CHARSET latin1;"
        "INSERT INTO dates VALUES ('2004-05-06', '07:08:09', '2004-05-06 07:08:09',"
        " '2004-05-06 07:08:09');");
  }

  TFieldDef* Def(TDataSet& ds, const std::string& name) {
    int i = ds.FieldDefs()->IndexOf(name);
    return i < 0 ? nullptr : ds.FieldDefs()->Items(i);
  }
};

TEST_F(FieldsTest, JoinKeysRepeatedNamesByDisplayName) {
  auto q = NewDataset<TMySQLQuery>("select a.id, b.id, name from a join b on b.a_id = a.id order by a.id");
  q->Open();
  ASSERT_EQ(q->FieldCount(), 3);
  // Keyed by database (when the client reports it), table alias and name.
  const std::string a_id = q->FieldInfos()[0]->DisplayName;
  const std::string b_id = q->FieldInfos()[1]->DisplayName;
  std::string db = q->FieldInfos()[0]->Database;
  EXPECT_EQ(a_id, (db.empty() ? "" : db + ".") + "a.id");
  EXPECT_EQ(b_id, (db.empty() ? "" : db + ".") + "b.id");
  EXPECT_EQ(q->Fields()[0]->FieldName(), a_id);
  EXPECT_EQ(q->Fields()[1]->FieldName(), b_id);
  EXPECT_EQ(q->Fields()[2]->FieldName(), "name");
  EXPECT_EQ(q->FieldByName(b_id)->AsInteger(), 10);
  EXPECT_EQ(q->TableInfos().Count(), 2);
  // Two tables: the table part stays in the generated names.
  EXPECT_EQ(q->FieldInfos()[2]->FullName, "a.name");
  EXPECT_EQ(q->PrimaryKeyFields(), a_id + "," + b_id);
}

TEST_F(FieldsTest, SingleTableKeepsBareNames) {
  auto q = NewDataset<TMySQLQuery>("select id, name, code from a");
  q->Open();
  EXPECT_EQ(q->Fields()[0]->FieldName(), "id");
  EXPECT_EQ(q->FieldInfos()[0]->FullName, "id");
  std::string db = q->FieldInfos()[0]->Database;
  EXPECT_EQ(q->FieldInfos()[0]->DisplayName, (db.empty() ? "" : db + ".") + "a.id");
  EXPECT_EQ(q->FieldByName("name")->Origin(), "name");
  EXPECT_EQ(q->PrimaryKeyFields(), "id");
  EXPECT_EQ(q->UniqueKeyFields(), "code");
  EXPECT_EQ(q->IndexKeyFields(), "name");
  ASSERT_EQ(q->TableInfos().Count(), 1);
  EXPECT_EQ(q->TableInfos()[0]->QualifiedName, "a");
  EXPECT_EQ(q->TableInfos()[0]->PrimaryKeyFields, "id");
  EXPECT_TRUE(q->FieldByName("name")->Required());
  EXPECT_FALSE(q->FieldByName("id")->Required());
  EXPECT_TRUE(q->FieldByName("id")->ReadOnly());
  EXPECT_FALSE(q->FieldByName("code")->Required());
}

TEST_F(FieldsTest, RepeatedComputedNamesGetPositions) {
  auto q = NewDataset<TMySQLQuery>("select 1 as x, 2 as x, id from a");
  q->Open();
  EXPECT_EQ(q->Fields()[0]->FieldName(), "x_1");
  EXPECT_EQ(q->Fields()[1]->FieldName(), "x_2");
  EXPECT_EQ(q->FieldByName("x_2")->AsInteger(), 2);
}

TEST_F(FieldsTest, ComputedColumnIsReadOnlyUnlessEditCalcFields) {
  auto q = NewDataset<TMySQLDataset>("select id, code * 2 as twice from a order by id");
  q->Open();
  EXPECT_TRUE(q->FieldByName("twice")->ReadOnly());
  EXPECT_TRUE(Def(*q, "twice")->InternalCalcField());
  EXPECT_EQ(q->FieldByName("twice")->AsInteger(), 2);
  q->SetOptions(q->Options() + doEditCalcFields);
  EXPECT_FALSE(q->Active());
  q->Open();
  EXPECT_FALSE(q->FieldByName("twice")->ReadOnly());
  EXPECT_FALSE(Def(*q, "twice")->InternalCalcField());
}

TEST_F(FieldsTest, IntegerKinds) {
  auto q = NewDataset<TMySQLDataset>("select * from num order by y desc");
  q->Open();
  EXPECT_EQ(q->FieldByName("big")->DataType(), ftString);
  EXPECT_EQ(q->FieldByName("big")->Size(), 20);
  EXPECT_EQ(q->FieldByName("big")->AsString(), "18446744073709551615");
  EXPECT_EQ(q->FieldByName("sbig")->DataType(), ftLargeint);
  EXPECT_EQ(q->FieldByName("sbig")->AsLargeInt(), INT64_MIN);
  EXPECT_EQ(q->FieldByName("ui")->DataType(), ftLargeint);
  EXPECT_EQ(q->FieldByName("ui")->AsLargeInt(), 4294967295LL);
  EXPECT_EQ(q->FieldByName("ut")->DataType(), ftWord);
  EXPECT_EQ(q->FieldByName("ut")->AsInteger(), 255);
  EXPECT_EQ(q->FieldByName("t")->DataType(), ftSmallint);
  EXPECT_EQ(q->FieldByName("t")->AsInteger(), -5);
  EXPECT_EQ(q->FieldByName("y")->DataType(), ftWord);
  EXPECT_EQ(q->FieldByName("m")->DataType(), ftInteger);
  EXPECT_EQ(q->FieldByName("m")->AsInteger(), -7);
  EXPECT_EQ(q->FieldByName("yn")->DataType(), ftString);
  q->Close();
  q->SetOptions(q->Options() + doTinyIntToBool);
  q->Open();
  EXPECT_EQ(q->FieldByName("ut")->DataType(), ftBoolean);
  EXPECT_TRUE(q->FieldByName("ut")->AsBoolean());
  q->Last();
  EXPECT_FALSE(q->FieldByName("t")->AsBoolean());
}

TEST_F(FieldsTest, EnumIsBooleanOnlyWithKnownMembers) {
  auto q = NewDataset<TMySQLDataset>("select yn, ny, tri from num order by y desc");
  q->SetOptions(q->Options() + doEnumToBool);
  q->Open();
  // Members are not known without asking the server.
  EXPECT_EQ(q->FieldByName("yn")->DataType(), ftString);
  EXPECT_EQ(q->GetStringType(q->FieldByName("yn")), stEnum);
  EXPECT_EQ(q->GetStringValues(q->FieldByName("yn")), "");
  q->Close();
  q->SetOptions(q->Options() + doRetrieveFieldValues);
  q->Open();
  EXPECT_EQ(q->FieldByName("yn")->DataType(), ftBoolean);
  EXPECT_EQ(q->FieldByName("ny")->DataType(), ftBoolean);
  EXPECT_EQ(q->FieldByName("tri")->DataType(), ftString);
  EXPECT_EQ(q->GetStringValues(q->FieldByName("yn")), "\"Y\",\"N\"");
  EXPECT_TRUE(q->FieldByName("yn")->AsBoolean());   // Y
  EXPECT_TRUE(q->FieldByName("ny")->AsBoolean());   // N is the first member
  q->Next();
  EXPECT_FALSE(q->FieldByName("yn")->AsBoolean());  // N
  EXPECT_FALSE(q->FieldByName("ny")->AsBoolean());  // Y
  // Writing goes back to the member texts.
  q->Edit();
  q->FieldByName("yn")->SetAsBoolean(true);
  EXPECT_EQ(*q->GetFieldText(q->FieldByName("yn")), "Y");
  q->FieldByName("ny")->SetAsBoolean(false);
  EXPECT_EQ(*q->GetFieldText(q->FieldByName("ny")), "Y");
  q->Cancel();
  EXPECT_EQ(*q->GetFieldText(q->FieldByName("yn")), "N");
}

TEST_F(FieldsTest, SetToWordBeforeAndAfterTheLastRow) {
  auto q = NewDataset<TMySQLDataset>("select s, y from num order by y desc");
  q->SetOptions(q->Options() + doSetToWord + doRetrieveFieldValues);
  q->SetResultType(rtIncremental);
  q->Open();
  EXPECT_EQ(q->FieldByName("s")->DataType(), ftWord);
  // Read before the last row: still the member text.
  EXPECT_FALSE(q->AllFetched());
  EXPECT_EQ(std::string((*q->Rows())[0].Value(0)), "red,blue");
  q->Last();
  EXPECT_TRUE(q->AllFetched());
  EXPECT_EQ(std::string((*q->Rows())[0].Value(0)), "5");
  EXPECT_EQ(std::string((*q->Rows())[1].Value(0)), "0");
  EXPECT_EQ(q->FieldInfos()[0]->DefaultValue, "2");
  q->Close();
  q->SetResultType(rtLocal);
  q->SetShareConnection(true);
  q->Open();
  EXPECT_EQ(q->FieldByName("s")->AsInteger(), 5);
}

TEST_F(FieldsTest, LongStringsTextAndBlobs) {
  auto q = NewDataset<TMySQLDataset>("select * from txt");
  q->Open();
  EXPECT_EQ(q->FieldByName("v3000")->DataType(), ftMemo);
  EXPECT_EQ(q->FieldByName("tx")->DataType(), ftMemo);
  EXPECT_EQ(q->FieldByName("bl")->DataType(), ftBlob);
  EXPECT_EQ(q->FieldByName("vb")->DataType(), ftString);
  // The value keeps its NUL byte.
  EXPECT_EQ(q->FieldByName("vb")->AsString(), std::string("a\0b", 3));
  EXPECT_EQ(*q->GetFieldText(q->FieldByName("bl")), "blob");
  EXPECT_FALSE(q->FieldByName("bl")->IsNull());
  q->Close();
  q->SetOptions(q->Options() + doSmallMemoToStr);
  q->Open();
  // Small memos become strings of their length; a TEXT column sent in a
  // multi-byte character set is longer than 65535 and stays a memo.
  EXPECT_EQ(q->FieldByName("tt")->DataType(), ftString);
  EXPECT_EQ(q->FieldByName("tt")->AsString(), "tiny");
  // (A string field holds at most 8192 bytes; a longer one is a memo.)
  EXPECT_EQ(q->FieldByName("tx")->DataType(),
            q->FieldInfos()[1]->Length <= 8192 ? ftString : ftMemo);
  EXPECT_EQ(q->FieldByName("bl")->DataType(), ftBlob);
  q->Close();
  q->SetOptions(q->Options() - do2KStrToMemo - doSmallMemoToStr);
  q->Open();
  // A string column too long for a string field is shown as a memo.
  EXPECT_EQ(q->FieldByName("v3000")->DataType(),
            q->FieldInfos()[0]->Length <= 8192 ? ftString : ftMemo);
  EXPECT_EQ(*q->GetFieldText(q->FieldByName("v3000")), "long");
}

TEST_F(FieldsTest, FieldsAsString) {
  auto q = NewDataset<TMySQLDataset>("select id, code, name from a order by id");
  q->SetRawData(true);
  EXPECT_TRUE(q->Options().Contains(doFieldsAsString));
  q->Open();
  // Each string keeps its column's length.
  for (int i = 0; i < q->FieldCount(); ++i) {
    TField* f = q->Fields()[i];
    EXPECT_EQ(f->DataType(), ftString) << f->FieldName();
    EXPECT_EQ(static_cast<uint32_t>(f->Size()), q->FieldInfos()[i]->Length) << f->FieldName();
  }
  EXPECT_FALSE(q->FieldByName("id")->ReadOnly());
  EXPECT_EQ(q->FieldByName("code")->AsString(), "1");
  q->SetRawData(false);
  EXPECT_FALSE(q->Active());
  EXPECT_EQ(q->FieldDefs()->Count(), 0);
}

TEST_F(FieldsTest, IndexDefsOfOneTableButNotOfAJoin) {
  auto t = std::make_unique<TMySQLTable>();
  t->SetServer(server_.get());
  t->SQL()->SetText("select * from a");
  t->Open();
  TIndexDefs* defs = t->IndexDefs();
  ASSERT_EQ(defs->Count(), 3);
  TIndexDef* primary = defs->Items(defs->IndexOf("PRIMARY"));
  EXPECT_EQ(primary->Fields(), "id");
  EXPECT_TRUE(primary->Options().Contains(ixPrimary));
  EXPECT_TRUE(primary->Options().Contains(ixUnique));
  TIndexDef* code = defs->Items(defs->IndexOf("code_key"));
  EXPECT_TRUE(code->Options().Contains(ixUnique));
  EXPECT_FALSE(code->Options().Contains(ixPrimary));
  EXPECT_FALSE(defs->Items(defs->IndexOf("name_key"))->Options().Contains(ixUnique));
  t->Close();
  t->SQL()->SetText("select a.id, b.id from a join b on b.a_id = a.id");
  t->Open();
  EXPECT_EQ(t->IndexDefs()->Count(), 0);
}

TEST_F(FieldsTest, ColumnsHaveChangedAfterAlterTable) {
  Sql("CREATE TABLE grow (id INT PRIMARY KEY); INSERT INTO grow VALUES (1);");
  auto q = NewDataset<TMySQLQuery>("select * from grow");
  q->Open();
  q->Refresh();  // same columns: fine
  EXPECT_EQ(q->RecordCount(), 1);
  Sql("ALTER TABLE grow ADD COLUMN extra INT;");
  try {
    q->Refresh();
    FAIL();
  } catch (const EMySQLError& e) {
    EXPECT_EQ(std::string(e.what()), "Columns have changed. Please close and reopen.");
  }
  EXPECT_FALSE(q->Active());
  q->Open();
  EXPECT_EQ(q->FieldCount(), 2);
}

TEST_F(FieldsTest, CustomValuesFillNullsAndCustomColumns) {
  auto q = NewDataset<TMySQLDataset>("select id, note from b order by id");
  q->CustomFieldDefs()->Add("label", ftString, 12);
  q->CustomFieldDefs()->Add("weight", ftInteger);
  q->OnCustomValue = [](TMySQLDatasetBase*, const std::string& field, int64_t index, std::string& value) {
    if (field == "note") value = "filled";
    if (field == "label") value = "row" + std::to_string(index);
    if (field == "weight") value = std::to_string(index * 10 + 5);
  };
  q->Open();
  ASSERT_EQ(q->FieldCount(), 4);
  EXPECT_EQ(q->FieldByName("note")->AsString(), "x");
  EXPECT_EQ(q->FieldByName("label")->AsString(), "row0");
  EXPECT_EQ(q->FieldByName("weight")->AsInteger(), 5);
  q->Next();
  EXPECT_EQ(q->FieldByName("note")->AsString(), "filled");
  EXPECT_EQ(q->FieldByName("label")->AsString(), "row1");
  EXPECT_EQ(q->FieldByName("weight")->DataType(), ftInteger);
  EXPECT_EQ(q->FieldByName("weight")->AsInteger(), 15);
}

TEST_F(FieldsTest, DatesAndTimesRoundTripThroughFieldValues) {
  auto q = NewDataset<TMySQLDataset>("select * from dates");
  q->Open();
  TDateTime instant = EncodeDateTime(2004, 5, 6, 7, 8, 9, 0);
  EXPECT_EQ(q->FieldByName("d")->DataType(), ftDate);
  EXPECT_EQ(q->FieldByName("t")->DataType(), ftTime);
  EXPECT_EQ(q->FieldByName("ts")->DataType(), ftDateTime);
  EXPECT_DOUBLE_EQ(q->FieldByName("d")->AsDateTime(), EncodeDate(2004, 5, 6));
  EXPECT_NEAR(q->FieldByName("t")->AsDateTime(), EncodeTime(7, 8, 9, 0), 1e-9);
  EXPECT_NEAR(q->FieldByName("dt")->AsDateTime(), instant, 1e-9);
  EXPECT_NEAR(q->FieldByName("ts")->AsDateTime(), instant, 1e-9);
  TDateTime other = EncodeDateTime(1999, 12, 31, 23, 59, 58, 0);
  q->Edit();
  q->FieldByName("d")->SetAsDateTime(EncodeDate(1999, 12, 31));
  q->FieldByName("t")->SetAsDateTime(EncodeTime(23, 59, 58, 0));
  q->FieldByName("dt")->SetAsDateTime(other);
  q->FieldByName("ts")->SetAsDateTime(other);
  EXPECT_EQ(*q->GetFieldText(q->FieldByName("d")), "1999-12-31");
  EXPECT_EQ(*q->GetFieldText(q->FieldByName("t")), "23:59:58");
  EXPECT_EQ(*q->GetFieldText(q->FieldByName("dt")), "1999-12-31 23:59:58");
  EXPECT_NEAR(q->FieldByName("dt")->AsDateTime(), other, 1e-9);
  EXPECT_NEAR(q->FieldByName("ts")->AsDateTime(), other, 1e-9);
  EXPECT_NEAR(q->FieldByName("t")->AsDateTime(), EncodeTime(23, 59, 58, 0), 1e-9);
  // A value that cannot be written leaves the old text in place (it is
  // built before the old one is replaced).
  double bad = -5;
  EXPECT_THROW(q->FieldByName("dt")->SetData(&bad), EConvertError);
  EXPECT_EQ(*q->GetFieldText(q->FieldByName("dt")), "1999-12-31 23:59:58");
  // The held row shows the edit at once; cancel restores it.
  EXPECT_EQ(std::string((*q->Rows())[0].Value(2)), "1999-12-31 23:59:58");
  q->Cancel();
  EXPECT_EQ(std::string((*q->Rows())[0].Value(2)), "2004-05-06 07:08:09");
  EXPECT_NEAR(q->FieldByName("dt")->AsDateTime(), instant, 1e-9);
}

TEST_F(FieldsTest, TooLongAssignmentsAndFailuresKeepTheValue) {
  auto q = NewDataset<TMySQLDataset>("select id, name from a order by id");
  q->Open();
  q->Edit();
  // The column length is in bytes of the connection's character set; a
  // longer value is refused, never cut.
  size_t length = q->FieldInfos()[1]->Length;
  EXPECT_THROW(q->FieldByName("name")->SetAsString(std::string(length + 10, 'z')), EDatabaseError);
  EXPECT_EQ(q->FieldByName("name")->AsString(), "one");
  EXPECT_FALSE(q->FieldInfos()[1]->Modified);
  q->FieldByName("name")->SetAsString(std::string(length, 'z'));
  EXPECT_EQ(q->FieldByName("name")->AsString(), std::string(length, 'z'));
  EXPECT_TRUE(q->FieldInfos()[1]->Modified);
  q->Cancel();
  EXPECT_FALSE(q->FieldInfos()[1]->Modified);
  EXPECT_EQ(q->FieldByName("name")->AsString(), "one");
  q->Edit();
  q->FieldByName("name")->OnValidate = [](TField*) { throw EConvertError("no"); };
  // The validation error itself reaches the caller (not a silent abort).
  EXPECT_THROW(q->FieldByName("name")->SetAsString("other"), EConvertError);
  EXPECT_EQ(q->FieldByName("name")->AsString(), "one");
  EXPECT_FALSE(q->FieldInfos()[1]->Modified);
  q->Cancel();
}

}  // namespace
}  // namespace rowset::test

namespace rowset::test {
namespace {

TEST_F(FieldsTest, CalculatedFieldsKeepZeroAndLargeValues) {
  auto q = NewDataset<TMySQLDataset>("select id from a order by id");
  auto* id = new TIntegerField(q.get());  // owned by the dataset
  id->SetFieldName("id");
  id->SetDataSet(q.get());
  auto* calc = new TIntegerField(q.get());
  calc->SetFieldName("calc");
  calc->SetFieldKind(fkCalculated);
  calc->SetDataSet(q.get());
  q->OnCalcFields = [](TDataSet* ds) {
    int v = ds->FieldByName("id")->AsInteger();
    ds->FieldByName("calc")->SetAsInteger(v == 1 ? 0 : 256);
  };
  q->Open();
  EXPECT_FALSE(calc->IsNull());
  EXPECT_EQ(calc->AsInteger(), 0);
  q->Next();
  EXPECT_EQ(calc->AsInteger(), 256);
  q->Close();
}

TEST_F(FieldsTest, NewRecordsStartWithServerDefaults) {
  Sql("CREATE TABLE defs (id INT NOT NULL AUTO_INCREMENT PRIMARY KEY, code INT DEFAULT 7,"
      " name VARCHAR(10), b BLOB);");
  auto t = std::make_unique<TMySQLTable>();
  t->SetServer(server_.get());
  t->SQL()->SetText("select * from defs");
  int calls = 0;
  t->OnDefaultValue = [&](TMySQLDatasetBase*, const std::string& field, int64_t, std::string& value) {
    ++calls;
    if (field == "name") value = "anon";
  };
  t->Open();
  EXPECT_TRUE(t->IsEmpty());
  EXPECT_EQ(t->FieldInfos()[1]->DefaultValue, "7");
  t->Append();
  EXPECT_EQ(t->FieldByName("code")->AsInteger(), 7);
  // The server's own default is shown but left to the server; the one the
  // application gave takes part.
  EXPECT_FALSE(t->FieldInfos()[1]->Modified);
  EXPECT_EQ(t->FieldByName("name")->AsString(), "anon");
  EXPECT_TRUE(t->FieldInfos()[2]->Modified);
  EXPECT_EQ(calls, 3);  // not for the blob
  // An unset key is left to the server (here its auto-increment id).
  EXPECT_FALSE(t->FieldInfos()[0]->Modified);
  EXPECT_TRUE(t->FieldByName("id")->IsNull());
  EXPECT_TRUE(t->FieldByName("b")->IsNull());
  t->Post();
  EXPECT_EQ(RootSql("USE `" + Database() + "`; SELECT id, code, name FROM defs"), "1\t7\tanon\n");
  EXPECT_TRUE(t->FieldByName("id")->AsInteger() == 1);
}

}  // namespace
}  // namespace rowset::test

namespace rowset::test {
namespace {

TEST_F(FieldsTest, RawTextsVariantsAndTinyBooleans) {
  auto q = NewDataset<TMySQLDataset>("select t, ut, null as nothing, ' ' as blank, 'a\\0b' as nul from num order by y desc");
  q->SetOptions(q->Options() + doTinyIntToBool);
  q->Open();
  EXPECT_EQ(q->FieldByName("nothing")->DataType(), ftVariant);
  EXPECT_TRUE(q->FieldByName("nothing")->IsNull());
  // The raw text of a boolean column, bounded by the field's buffer.
  TField* t = q->FieldByName("t");
  char raw[64] = {};
  EXPECT_TRUE(q->GetRawFieldData(t, raw, sizeof raw));
  EXPECT_STREQ(raw, "-5");
  EXPECT_TRUE(q->GetRawFieldData(t, raw));  // the field's own two bytes
  EXPECT_STREQ(raw, "-");
  EXPECT_TRUE(t->AsBoolean());
  // A text of blanks is a value, but reads as NULL through a buffer.
  TField* blank = q->FieldByName("blank");
  EXPECT_FALSE(blank->IsNull());
  std::vector<char> buffer(static_cast<size_t>(blank->DataSize()));
  EXPECT_FALSE(q->GetRawFieldData(blank, buffer.data()));
  EXPECT_TRUE(q->GetRawFieldData(blank, nullptr));
  EXPECT_EQ(q->FieldByName("nul")->AsString(), std::string("a\0b", 3));
  q->Edit();
  t->SetAsBoolean(true);
  EXPECT_EQ(*q->GetFieldText(t), "1");
  t->SetAsBoolean(false);
  EXPECT_EQ(*q->GetFieldText(t), "0");
  t->Clear();
  EXPECT_FALSE(q->GetFieldText(t).has_value());
  q->Cancel();
  EXPECT_EQ(*q->GetFieldText(t), "-5");
}

}  // namespace
}  // namespace rowset::test
