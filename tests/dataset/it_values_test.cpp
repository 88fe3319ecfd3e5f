// Column kinds whose values must come through exactly: wide auto-increment
// keys, decimals, bits and geometry, durations, long strings as text, and
// raw reads bounded by the caller's buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/dataset/DatasetTestUtil.h"

namespace rowset::test {
namespace {

class ValuesTest : public DatasetTest {
 protected:
  static void SetUpTestSuite() {
    DatasetTest::SetUpTestSuite();
    Sql("CREATE TABLE big_ai (id BIGINT NOT NULL AUTO_INCREMENT PRIMARY KEY, v INT);"
        "INSERT INTO big_ai VALUES (5000000000, 1);"
        "CREATE TABLE uint_ai (id INT UNSIGNED NOT NULL AUTO_INCREMENT PRIMARY KEY, v INT);"
        "INSERT INTO uint_ai VALUES (3000000000, 1);"
        "CREATE TABLE small_ai (id INT NOT NULL AUTO_INCREMENT PRIMARY KEY);"
        "INSERT INTO small_ai VALUES (7);"
        "CREATE TABLE dec_t (d DECIMAL(20,2), z DECIMAL(5,0));"
        "INSERT INTO dec_t VALUES (123456789012345678.91, -12345);"
        "CREATE TABLE bits (flag BIT(1), wide BIT(12), blank BIT(8), g GEOMETRY, j JSON);"
        "INSERT INTO bits VALUES (b'1', b'101000000001', 32, POINT(1, 2), '{\"a\": 1}');"
        "CREATE TABLE times (t TIME);"
        "INSERT INTO times VALUES ('25:00:00'), ('-01:00:00'), ('07:08:09'), ('838:59:59');"
        "CREATE TABLE stamps (k INT, d DATE, dt DATETIME, ts TIMESTAMP NULL, f DATETIME(3));"
        "INSERT INTO stamps VALUES (1, '0001-01-01', '0001-01-01 00:00:00', NULL, '2004-03-05 07:08:09.045'),"
        " (2, '1899-12-29', '1899-12-29 23:59:59', '2004-03-05 12:00:00', NULL),"
        " (3, '2000-02-29', '2000-02-29 12:00:00', '2038-01-19 03:14:07', '2000-02-29 00:00:00.000'),"
        " (4, '9999-12-31', '9999-12-31 23:59:59', '1970-01-02 00:00:00', '9999-12-31 23:59:59.999'),"
        " (5, '2020-01-01', '2020-01-01 00:00:00', NULL, NULL),"
        " (6, NULL, NULL, NULL, NULL);"
        "SET SESSION sql_mode = '';"
        "INSERT INTO stamps VALUES (7, '0000-00-00', '0000-00-00 00:00:00', NULL, '0000-00-00 00:00:00.000'),"
        " (8, '2020-00-00', '2020-01-00 10:11:12', NULL, NULL);"
        "CREATE TABLE longs (v VARCHAR(300), i INT);"
        "INSERT INTO longs VALUES (REPEAT('x', 300), 12345);");
  }
};

TEST_F(ValuesTest, AutoIncrementKeysKeepTheirWidth) {
  auto q = NewDataset<TMySQLQuery>("select id from big_ai");
  q->Open();
  TField* id = q->FieldByName("id");
  EXPECT_EQ(id->DataType(), ftLargeint);
  EXPECT_EQ(id->AsLargeInt(), 5000000000LL);
  EXPECT_TRUE(id->ReadOnly());
  q->Close();
  q->SQL()->SetText("select id from uint_ai");
  q->Open();
  EXPECT_EQ(q->FieldByName("id")->AsLargeInt(), 3000000000LL);
  EXPECT_TRUE(q->FieldByName("id")->ReadOnly());
  q->Close();
  // A key that fits 32 bits stays an auto-increment field.
  q->SQL()->SetText("select id from small_ai");
  q->Open();
  EXPECT_EQ(q->FieldByName("id")->DataType(), ftAutoInc);
  EXPECT_EQ(q->FieldByName("id")->AsInteger(), 7);
}

TEST_F(ValuesTest, DecimalsAreExact) {
  auto q = NewDataset<TMySQLDataset>("select d, z from dec_t");
  q->Open();
  TField* d = q->FieldByName("d");
  EXPECT_EQ(d->AsString(), "123456789012345678.91");
  EXPECT_NEAR(d->AsFloat(), 123456789012345678.91, 1e3);
  EXPECT_EQ(q->FieldByName("z")->AsString(), "-12345");
  q->Edit();
  // Writing its own text back keeps every digit; a longer text is not cut.
  d->SetAsString(d->AsString());
  EXPECT_EQ(*q->GetFieldText(d), "123456789012345678.91");
  d->SetAsString("-123456789012345678.99");
  EXPECT_EQ(*q->GetFieldText(d), "-123456789012345678.99");
  d->SetAsFloat(2.5);
  EXPECT_DOUBLE_EQ(d->AsFloat(), 2.5);
  q->Cancel();
  EXPECT_EQ(d->AsString(), "123456789012345678.91");
}

TEST_F(ValuesTest, BitAndGeometryColumnsOpen) {
  auto q = NewDataset<TMySQLDataset>("select flag, wide, blank, g, j from bits");
  q->Open();
  EXPECT_EQ(q->FieldByName("flag")->DataType(), ftLargeint);
  EXPECT_EQ(q->FieldByName("flag")->AsInteger(), 1);
  EXPECT_EQ(q->FieldByName("wide")->AsInteger(), 0xA01);
  // A byte of value 32 is a number, not a blank.
  EXPECT_FALSE(q->FieldByName("blank")->IsNull());
  EXPECT_EQ(q->FieldByName("blank")->AsInteger(), 32);
  EXPECT_TRUE(q->FieldByName("g")->IsBlob());
  EXPECT_FALSE(q->FieldByName("g")->IsNull());
  EXPECT_NE(q->FieldByName("j")->DataType(), ftUnknown);
  // Written back as the column's bytes.
  q->Edit();
  q->FieldByName("wide")->SetAsInteger(0x123);
  EXPECT_EQ(*q->GetFieldText(q->FieldByName("wide")), std::string("\x01\x23", 2));
  EXPECT_EQ(q->FieldByName("wide")->AsInteger(), 0x123);
  q->Cancel();
}

TEST_F(ValuesTest, DurationsOutsideADayAreNeverChanged) {
  auto q = NewDataset<TMySQLDataset>("select t from times");
  q->Open();
  for (const char* text : {"25:00:00", "-01:00:00"}) {
    SCOPED_TRACE(text);
    // The stored text stays exact; reading it as a time of day is refused.
    EXPECT_EQ(*q->GetFieldText(q->FieldByName("t")), text);
    EXPECT_THROW(q->FieldByName("t")->AsDateTime(), EMySQLError);
    q->Next();
  }
  EXPECT_NEAR(q->FieldByName("t")->AsDateTime(), EncodeTime(7, 8, 9, 0), 1e-9);
  q->Next();
  EXPECT_EQ(*q->GetFieldText(q->FieldByName("t")), "838:59:59");
  EXPECT_THROW(q->FieldByName("t")->AsString(), EMySQLError);
}

// Dates and date-times read as text are what formatting their values
// gives, in two locales; NULL reads as empty.
TEST_F(ValuesTest, DateTextsAreTheFormattedValues) {
  for (const char* order : {"m/d/yyyy", "dd.MM.yyyy"}) {
    TFormatSettings fs;
    fs.ShortDateFormat = order;
    fs.DateSeparator = order[1] == '/' ? '/' : '.';
    TFormatSettingsScope scope(fs);
    auto q = NewDataset<TMySQLQuery>("select k, d, dt, ts, f from stamps order by k");
    q->Open();
    int rows = 0;
    for (; !q->Eof(); q->Next(), ++rows) {
      SCOPED_TRACE(std::string(order) + " row " + q->FieldByName("k")->AsString());
      TField* d = q->FieldByName("d");
      EXPECT_EQ(d->AsString(), d->IsNull() ? "" : DateToStr(d->AsDateTime()));
      for (const char* name : {"dt", "ts", "f"}) {
        TField* f = q->FieldByName(name);
        EXPECT_EQ(f->AsString(), f->IsNull() ? "" : DateTimeToStr(f->AsDateTime())) << name;
      }
    }
    EXPECT_EQ(rows, 8);
    q->First();
    EXPECT_EQ(q->FieldByName("dt")->AsString(), DateTimeToStr(EncodeDate(1, 1, 1)));
    q->Next();
    EXPECT_EQ(q->FieldByName("dt")->AsString(), DateTimeToStr(EncodeDateTime(1899, 12, 29, 23, 59, 59, 0)));
  }
}

TEST_F(ValuesTest, FieldsAsStringKeepTheColumnsLength) {
  auto q = NewDataset<TMySQLDataset>("select v, i from longs");
  q->SetRawData(true);
  q->Open();
  EXPECT_EQ(q->FieldByName("v")->DataType(), ftString);
  EXPECT_EQ(q->FieldByName("v")->AsString(), std::string(300, 'x'));
  EXPECT_EQ(q->FieldByName("i")->AsString(), "12345");
}

TEST_F(ValuesTest, RawReadsStayInsideTheCallersBuffer) {
  auto q = NewDataset<TMySQLDataset>("select v, i from longs");
  auto* i = new TIntegerField(q.get());
  i->SetFieldName("i");
  i->SetDataSet(q.get());
  auto* calc = new TStringField(q.get());
  calc->SetFieldName("calc");
  calc->SetSize(100);
  calc->SetFieldKind(fkCalculated);
  calc->SetDataSet(q.get());
  q->OnCalcFields = [](TDataSet* ds) { ds->FieldByName("calc")->SetAsString(std::string(90, 'c')); };
  q->Open();
  // Guard bytes after an 8-byte buffer must stay untouched.
  std::vector<char> memory(64, '#');
  EXPECT_TRUE(q->GetRawFieldData(calc, memory.data(), 8));
  EXPECT_EQ(std::string(memory.data(), 8), std::string(8, 'c'));
  EXPECT_EQ(std::string(memory.data() + 8, 56), std::string(56, '#'));
  memory.assign(64, '#');
  EXPECT_TRUE(q->GetRawFieldData(i, memory.data(), 4));
  EXPECT_EQ(std::string(memory.data(), 4), std::string("123\0", 4));
  EXPECT_EQ(memory[4], '#');
  // A zero-size buffer gets nothing.
  memory.assign(64, '#');
  EXPECT_TRUE(q->GetRawFieldData(calc, memory.data(), 0));
  EXPECT_EQ(memory[0], '#');
}

}  // namespace
}  // namespace rowset::test
