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

  // Several key fields, a number among them (compared as its text).
  EXPECT_TRUE(ds_->Locate("first;n", VarArrayOf({Variant("Cy"), Variant(40)}), TLocateOptions{}));
  EXPECT_EQ(Id(), 4);
  EXPECT_TRUE(ds_->Locate("n", Variant("50"), TLocateOptions{}));
  EXPECT_EQ(Id(), 5);
  // Bad keys raise before anything moves.
  EXPECT_THROW(ds_->Locate("first;n", Variant("Cy"), TLocateOptions{}), EVariantError);
  EXPECT_THROW(ds_->Locate("nosuch", Variant("x"), TLocateOptions{}), EDatabaseError);
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
