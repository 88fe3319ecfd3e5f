// Locate, Lookup and LocateRecordOption against the test server: prefix and
// substring rules, letter case, where a failing search leaves the cursor,
// the walk options, text search over two fields, NULL keys, and an
// incremental result read only as far as a search goes.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "host/Variants.h"
#include "tests/dataset/DatasetTestUtil.h"

namespace rowset::test {
namespace {

class LocateTest : public DatasetTest {
 protected:
  void SetUp() override {
    DatasetTest::SetUp();
    Sql("DROP TABLE IF EXISTS p, big;"
        "CREATE TABLE p (id INT PRIMARY KEY, first VARCHAR(20), last VARCHAR(20), note TEXT, n INT);"
        "INSERT INTO p VALUES (1, 'Ann', 'Goldsmith', 'x', 10), (2, 'Bob', 'Smith', NULL, 20),"
        " (3, 'Smith', 'Jones', '', 30), (4, 'Cy', NULL, 'memo', 40), (5, 'Dee', '', 'y', 50);"
        "CREATE TABLE big (id INT PRIMARY KEY, k VARCHAR(10));"
        "INSERT INTO big SELECT seq, CONCAT('k', seq) FROM seq_0_to_199;");
    ds_ = NewDataset<TMySQLDataset>("select id, first, last, note, n from p order by id");
    ds_->Open();
  }

  int Id() { return ds_->FieldByName("id")->AsInteger(); }
  bool Option(const Variant& Key, TLocateOptions Options, TMySQLLocateOptions Walk,
              const std::string& Fields = "last") {
    return ds_->LocateRecordOption(Fields, Key, Options, true, Walk, matched_);
  }

  std::unique_ptr<TMySQLDataset> ds_;
  TField* matched_ = nullptr;
};

TEST_F(LocateTest, LocateIsAPrefixSearchFromTheFirstRecord) {
  const TLocateOptions loose{loCaseInsensitive, loPartialKey};
  EXPECT_TRUE(ds_->Locate("last", Variant("sm"), loose));
  EXPECT_EQ(Id(), 2);  // Smith, not Goldsmith
  EXPECT_TRUE(ds_->Locate("last", Variant("smith"), TLocateOptions{loCaseInsensitive}));
  EXPECT_EQ(Id(), 2);
  // Exact letter case: nothing; a failing Locate leaves the first record.
  ds_->Last();
  EXPECT_FALSE(ds_->Locate("last", Variant("smith"), TLocateOptions{}));
  EXPECT_EQ(Id(), 1);
  EXPECT_FALSE(ds_->Locate("last", Variant("Smit"), TLocateOptions{}));

  // Several key fields, a number among them (compared as a number).
  EXPECT_TRUE(ds_->Locate("first;n", VarArrayOf({Variant("Cy"), Variant(40)}), TLocateOptions{}));
  EXPECT_EQ(Id(), 4);
  EXPECT_TRUE(ds_->Locate("n", Variant("50"), TLocateOptions{}));
  EXPECT_EQ(Id(), 5);
  // Bad keys raise before anything moves.
  EXPECT_THROW(ds_->Locate("first;n", Variant("Cy"), TLocateOptions{}), EVariantError);
  EXPECT_THROW(ds_->Locate("nosuch", Variant("x"), TLocateOptions{}), EDatabaseError);
}

// Numbers are found by their value, whatever the text of the key or the
// column; letters in any case by Unicode simple case folding.
TEST_F(LocateTest, NumbersByValueAndLettersInAnyCase) {
  Sql("DROP TABLE IF EXISTS num;"
      "CREATE TABLE num (id INT PRIMARY KEY, d DECIMAL(10,2), u BIGINT UNSIGNED, f DOUBLE,"
      " z INT(4) ZEROFILL, t VARCHAR(20)) DEFAULT CHARSET=utf8mb4;"
      "INSERT INTO num VALUES (1, 12.50, 18446744073709551615, 0.1, 7, _utf8mb4 X'C389636C616972'),"
      " (2, 7.00, 9223372036854775808, 2.5, 12, _utf8mb4 X'C39C626572'),"
      " (3, -0.5, 1, 1e20, 0, _utf8mb4 X'7374726FC39F65');");
  auto ds = NewDataset<TMySQLDataset>("select * from num order by id");
  ds->Open();
  auto found = [&](const std::string& Field, const Variant& Key, TLocateOptions Options = {}) {
    return ds->Locate(Field, Key, Options) ? ds->FieldByName("id")->AsInteger() : 0;
  };
  EXPECT_EQ(found("d", Variant(12.5)), 1);
  EXPECT_EQ(found("d", Variant("12.5")), 1);
  EXPECT_EQ(found("d", Variant(7)), 2);
  EXPECT_EQ(found("d", Variant("7")), 2);
  EXPECT_EQ(found("d", Variant("-.50")), 3);
  EXPECT_EQ(found("d", Variant("12.51")), 0);
  EXPECT_EQ(found("u", Variant(uint64_t{18446744073709551615u})), 1);
  EXPECT_EQ(found("u", Variant(uint64_t{9223372036854775808u})), 2);
  EXPECT_EQ(found("u", Variant("18446744073709551615")), 1);
  EXPECT_EQ(found("u", Variant(-1)), 0);
  EXPECT_EQ(found("f", Variant(0.1)), 1);
  EXPECT_EQ(found("f", Variant("1e20")), 3);
  EXPECT_EQ(found("f", Variant(2.5)), 2);
  EXPECT_EQ(found("z", Variant(7)), 1);  // held as "0007"
  EXPECT_EQ(found("z", Variant(0)), 3);
  EXPECT_EQ(found("id", Variant(3)), 3);
  EXPECT_EQ(found("id", Variant("2.0")), 2);

  const TLocateOptions nocase{loCaseInsensitive};
  EXPECT_EQ(found("t", Variant("\xC3\xA9" "CLAIR"), nocase), 1);   // éCLAIR
  EXPECT_EQ(found("t", Variant("\xC3\xBC" "ber"), nocase), 2);     // über
  EXPECT_EQ(found("t", Variant("STRO\xC3\x9F" "E"), nocase), 3);   // STROßE
  EXPECT_EQ(found("t", Variant("\xC3\xBC" "B"), TLocateOptions{loCaseInsensitive, loPartialKey}), 2);
  EXPECT_EQ(found("t", Variant("\xC3\xA9" "clair")), 0);  // letter case counts without the option
  TField* matched = nullptr;
  ds->First();
  EXPECT_TRUE(ds->LocateRecordOption("t", Variant("\xC3\x9C" "BER"), TLocateOptions{loCaseInsensitive, loPartialKey},
                                     true, TMySQLLocateOptions{loFirst, loNext}, matched));
  EXPECT_EQ(ds->FieldByName("id")->AsInteger(), 2);
}

TEST_F(LocateTest, NullKeyMatchesNullOrEmpty) {
  EXPECT_TRUE(ds_->Locate("last", Null(), TLocateOptions{}));
  EXPECT_EQ(Id(), 4);  // NULL
  ds_->Next();
  EXPECT_TRUE(Option(Null(), TLocateOptions{}, TMySQLLocateOptions{loNext}));
  EXPECT_EQ(Id(), 5);  // empty
  EXPECT_TRUE(ds_->Locate("note", Null(), TLocateOptions{}));
  EXPECT_EQ(Id(), 2);  // a NULL memo
}

TEST_F(LocateTest, LookupMovesToTheRecordFound) {
  Variant v = ds_->Lookup("last", Variant("Smith"), "first;n");
  ASSERT_TRUE(v.IsArray());
  EXPECT_EQ(v.ArrayItem(0).AsString(), "Bob");
  EXPECT_EQ(v.ArrayItem(1).AsInteger(), 20);
  EXPECT_EQ(Id(), 2);
  EXPECT_EQ(ds_->Lookup("first", Variant("Dee"), "note").AsString(), "y");
  EXPECT_EQ(Id(), 5);
  EXPECT_TRUE(ds_->Lookup("first", Variant("Nobody"), "id").IsNull());
  EXPECT_EQ(Id(), 5);
}

TEST_F(LocateTest, LocateRecordOptionWalks) {
  const TLocateOptions loose{loCaseInsensitive, loPartialKey};
  // "Contains": Goldsmith comes first.
  ds_->Last();
  EXPECT_TRUE(Option(Variant("sm"), loose, TMySQLLocateOptions{loFirst, loNext}));
  EXPECT_EQ(Id(), 1);
  EXPECT_EQ(matched_, ds_->FieldByName("last"));
  // loNext alone starts at, and may return, the current record.
  EXPECT_TRUE(Option(Variant("sm"), loose, TMySQLLocateOptions{loNext}));
  EXPECT_EQ(Id(), 1);
  ds_->Next();
  EXPECT_TRUE(Option(Variant("sm"), loose, TMySQLLocateOptions{loNext}));
  EXPECT_EQ(Id(), 2);
  // A failing search stays where it began and names no field.
  ds_->Next();
  EXPECT_FALSE(Option(Variant("sm"), loose, TMySQLLocateOptions{loNext}));
  EXPECT_EQ(Id(), 3);
  EXPECT_EQ(matched_, nullptr);
  // Neither direction: nothing is tested.
  EXPECT_FALSE(Option(Variant("Jones"), TLocateOptions{}, TMySQLLocateOptions{loFirst}));
  EXPECT_EQ(Id(), 3);
  // Backwards from the last record.
  EXPECT_TRUE(Option(Variant("Ann"), TLocateOptions{}, TMySQLLocateOptions{loLast, loPrior}, "first"));
  EXPECT_EQ(Id(), 1);
  // Forward and back together end, walking forward only.
  ds_->MoveBy(2);
  EXPECT_FALSE(Option(Variant("Ann"), TLocateOptions{}, TMySQLLocateOptions{loNext, loPrior}, "first"));
  EXPECT_EQ(Id(), 3);
  EXPECT_TRUE(Option(Variant("Dee"), TLocateOptions{}, TMySQLLocateOptions{loNext, loPrior}, "first"));
  EXPECT_EQ(Id(), 5);
}

TEST_F(LocateTest, TextSearchOverTwoFieldsReportsTheField) {
  const TMySQLLocateOptions text{loFirst, loNext, loTextSearch};
  EXPECT_TRUE(Option(Variant("Smith"), TLocateOptions{}, text, "first;last"));
  EXPECT_EQ(Id(), 2);
  EXPECT_EQ(matched_, ds_->FieldByName("last"));
  ds_->Next();
  EXPECT_TRUE(Option(Variant("Smith"), TLocateOptions{}, TMySQLLocateOptions{loNext, loTextSearch},
                     "first;last"));
  EXPECT_EQ(Id(), 3);
  EXPECT_EQ(matched_, ds_->FieldByName("first"));
  // Every field must hold it: none does.
  EXPECT_FALSE(Option(Variant("Smith"), TLocateOptions{}, text + TMySQLLocateOptions{loMatchAll},
                      "first;last"));
  EXPECT_EQ(Id(), 3);
  // Without loTextSearch each field has its own value; any one suffices,
  // all with loMatchAll.
  Variant pair = VarArrayOf({Variant("Nobody"), Variant("Jones")});
  EXPECT_TRUE(Option(pair, TLocateOptions{}, TMySQLLocateOptions{loFirst, loNext}, "first;last"));
  EXPECT_EQ(Id(), 3);
  EXPECT_FALSE(Option(pair, TLocateOptions{}, TMySQLLocateOptions{loFirst, loNext, loMatchAll},
                      "first;last"));
}

TEST_F(LocateTest, IncrementalResultIsReadOnlyAsFarAsNeeded) {
  for (const char* fields : {"k", "id"}) {  // compared on the rows, and by walking
    auto ds = NewDataset<TMySQLDataset>("select id, k from big order by id");
    ds->SetResultType(rtIncremental);
    ds->Open();
    const int64_t at_open = ds->FetchedCount();
    EXPECT_LT(at_open, 5);
    const Variant key = std::string(fields) == "k" ? Variant("k20") : Variant(20);
    EXPECT_TRUE(ds->Locate(fields, key, TLocateOptions{}));
    EXPECT_EQ(ds->FieldByName("id")->AsInteger(), 20);
    EXPECT_LE(ds->FetchedCount(), 24) << fields;
    EXPECT_FALSE(ds->AllFetched());
    // A failing search reads the whole result.
    EXPECT_FALSE(ds->Locate(fields, Variant("none"), TLocateOptions{}));
    EXPECT_EQ(ds->FetchedCount(), 200);
    EXPECT_EQ(ds->FieldByName("id")->AsInteger(), 0);
  }
}

}  // namespace
}  // namespace rowset::test
