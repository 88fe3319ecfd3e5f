// What the dataset keeps between calls gives the same answers as reading
// anew: a field's text taken straight from the held value equals the text
// of its native value, and statement templates read once follow every
// change of the template, of the macro markers and of the session's
// backslash rule.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/SysUtils.h"
#include "tests/dataset/DatasetTestUtil.h"

namespace rowset::test {
namespace {

class ReadOnceTest : public DatasetTest {
 protected:
  static void SetUpTestSuite() {
    DatasetTest::SetUpTestSuite();
    Sql("CREATE TABLE nums (k INT NOT NULL PRIMARY KEY, i INT, z INT(6) ZEROFILL, s SMALLINT, "
        "b BIGINT, d DOUBLE, f FLOAT, v VARCHAR(12));"
        "INSERT INTO nums VALUES "
        "(1, 0, 0, 0, 0, 0, 0, 'plain'),"
        "(2, -2147483648, 42, -32768, -9223372036854775808, 0.1, 0.1, ' blank'),"
        "(3, 2147483647, 999999, 32767, 9223372036854775807, -1e-5, 1e20, ''),"
        "(4, NULL, NULL, NULL, NULL, NULL, NULL, NULL),"
        "(5, 7, 7, 7, 7, 123456789012345678, 3.25, 'twelve bytes'),"
        "(6, -7, 100, -7, -1, 0.0001, -0.5, '   '),"
        "(7, 10, 10, 10, 10, 100000000000000, 1.5e-7, 'x'),"
        "(8, 1, 1, 1, 1, 2.5e15, 1, 'y'),"
        "(9, 1, 1, 1, 1, -0.0, 1, 'y'),"
        "(10, 1, 1, 1, 1, 0.123456789012345, 1, 'y'),"
        "(11, 1, 1, 1, 1, 0.30000000000000004, 1, 'y');"
        "CREATE TABLE posted (id INT NOT NULL PRIMARY KEY, t VARCHAR(40), note VARCHAR(40));");
  }
};

// The text each field type gives through its native value.
std::string NativeText(TField* f) {
  if (f->IsNull()) return "";
  switch (f->DataType()) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
      return IntToStr(f->AsInteger());
    case ftLargeint:
      return IntToStr(f->AsLargeInt());
    case ftFloat:
      return FloatToStr(f->AsFloat());
    default:
      return f->AsVariant().IsNull() ? std::string() : f->AsVariant().AsString();
  }
}

TEST_F(ReadOnceTest, FieldTextEqualsTheTextOfTheNativeValue) {
  for (char separator : {'.', ','}) {
    TFormatSettings fs = GetFormatSettings();
    fs.DecimalSeparator = separator;
    TFormatSettingsScope scope(fs);
    auto q = NewDataset<TMySQLQuery>("select * from nums order by k");
    q->Open();
    int rows = 0;
    for (q->First(); !q->Eof(); q->Next()) {
      ++rows;
      for (TField* f : q->Fields()) {
        SCOPED_TRACE(f->FieldName() + " of row " + q->FieldByName("k")->AsString() + " with '" +
                     separator + "'");
        EXPECT_EQ(f->AsString(), NativeText(f));
      }
    }
    EXPECT_EQ(rows, 11);
  }
}

TEST_F(ReadOnceTest, HeldTextCasesAnswerAsTheServerSentThem) {
  auto q = NewDataset<TMySQLQuery>("select * from nums order by k");
  q->Open();
  q->Locate("k", Variant(2), TLocateOptions{});
  EXPECT_EQ(q->FieldByName("z")->AsString(), "42");  // "000042" on the wire
  EXPECT_EQ(q->FieldByName("i")->AsString(), "-2147483648");
  EXPECT_EQ(q->FieldByName("b")->AsString(), "-9223372036854775808");
  EXPECT_EQ(q->FieldByName("d")->AsString(), "0.1");
  EXPECT_EQ(q->FieldByName("v")->AsString(), " blank");
  q->Locate("k", Variant(3), TLocateOptions{});
  EXPECT_EQ(q->FieldByName("d")->AsString(), "-1E-5");
  EXPECT_EQ(q->FieldByName("f")->AsString(), "1E20");
  // An empty string and one of blanks read as no value, as through the
  // field's buffer.
  EXPECT_EQ(q->FieldByName("v")->AsString(), "");
  EXPECT_TRUE(q->FieldByName("v")->IsNull() || q->FieldByName("v")->AsString().empty());
  q->Locate("k", Variant(5), TLocateOptions{});
  EXPECT_EQ(q->FieldByName("d")->AsString(), "1.23456789012346E17");
  q->Locate("k", Variant(9), TLocateOptions{});
  EXPECT_EQ(q->FieldByName("d")->AsString(), "0");
  q->Locate("k", Variant(11), TLocateOptions{});
  EXPECT_EQ(q->FieldByName("d")->AsString(), "0.3");
}

// While OnValidate runs, reading the field gives the value being validated,
// not the held one.
TEST_F(ReadOnceTest, ValidationSeesTheNewValue) {
  auto t = NewDataset<TMySQLTable>("select k, i, v from nums order by k");
  t->SetTableName("nums");
  t->Open();
  std::vector<std::string> seen;
  t->FieldByName("i")->OnValidate = [&](TField* f) { seen.push_back(f->AsString()); };
  t->FieldByName("v")->OnValidate = [&](TField* f) { seen.push_back(f->AsString()); };
  t->Edit();
  t->FieldByName("i")->SetAsInteger(31);
  t->FieldByName("v")->SetAsString("changed");
  t->Cancel();
  EXPECT_EQ(seen, (std::vector<std::string>{"31", "changed"}));
}

TEST_F(ReadOnceTest, PostsFollowTemplateMarkerAndSessionChanges) {
  Sql("DELETE FROM posted;");
  auto t = NewDataset<TMySQLDataset>("select * from posted");
  t->Open();
  auto append = [&](int id, const std::string& text) {
    t->Append();
    t->FieldByName("id")->SetAsInteger(id);
    t->FieldByName("t")->SetAsString(text);
    t->Post();
  };
  append(1, "first");
  // A template of its own, then the default again.
  t->SQLInsert()->SetText("insert into posted set [$MODIFIED$FIELDS&VALUES], note = 'own'");
  append(2, "second");
  append(3, "third");
  t->SQLInsert()->SetText("insert into [$TABLENAME] set [$MODIFIED$FIELDS&VALUES]");
  append(4, "fourth");
  // Other markers: the same templates rewritten with them.
  t->SetMacroDel("{,}");
  append(5, "fifth");
  t->SetMacroDel("[,]");
  // A backslash in a value: the literal follows the session's rule, and
  // so does the reading of the template's own literals.
  t->SQLInsert()->SetText("insert into posted set [$MODIFIED$FIELDS&VALUES], note = 'a\\\\b'");
  append(6, "back\\slash");
  server_->ExecSQL("SET SESSION sql_mode = CONCAT(@@sql_mode, ',NO_BACKSLASH_ESCAPES')");
  append(7, "back\\slash");
  server_->ExecSQL("SET SESSION sql_mode = REPLACE(@@sql_mode, 'NO_BACKSLASH_ESCAPES', '')");
  append(8, "back\\slash");
  t->Close();
  auto q = NewDataset<TMySQLQuery>("select id, t, note from posted order by id");
  q->Open();
  std::vector<std::string> rows;
  for (q->First(); !q->Eof(); q->Next())
    rows.push_back(q->FieldByName("id")->AsString() + "=" + q->FieldByName("t")->AsString() + "/" +
                   (q->FieldByName("note")->IsNull() ? "-" : q->FieldByName("note")->AsString()));
  EXPECT_EQ(rows, (std::vector<std::string>{"1=first/-", "2=second/own", "3=third/own", "4=fourth/-",
                                            "5=fifth/-", "6=back\\slash/a\\b",
                                            "7=back\\slash/a\\\\b", "8=back\\slash/a\\b"}));
}

// A macro the template names is there again after the macro list was
// emptied, though the template was read before.
TEST_F(ReadOnceTest, MacroNamesComeBackAfterTheListIsCleared) {
  auto q = NewDataset<TMySQLDataset>("select 1");
  q->ExecSQL("select 1 [one][two]", true, false, "", "");
  ASSERT_NE(q->Macros()->FindParam("one"), nullptr);
  q->Macros()->Clear();
  q->ExecSQL("select 1 [one][two]", true, false, "", "");
  EXPECT_NE(q->Macros()->FindParam("one"), nullptr);
  EXPECT_NE(q->Macros()->FindParam("two"), nullptr);
}

}  // namespace
}  // namespace rowset::test
