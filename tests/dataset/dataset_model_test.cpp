// Row storage, option sets, defaults and property setters of the datasets,
// without a server.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "components/MySQLDataset.h"

namespace rowset {
namespace {

TEST(RowValuesTest, KeepsExactBytesAndNulls) {
  const char a[] = {'x', '\0', 'y'};
  const char* values[] = {a, nullptr, "", "tail"};
  unsigned long lengths[] = {3, 0, 0, 4};
  TRowValues row = TRowValues::FromRow(4, values, lengths);
  ASSERT_EQ(row.Count(), 4);
  EXPECT_EQ(row.Value(0), std::string_view(a, 3));
  EXPECT_TRUE(row.IsNull(1));
  EXPECT_FALSE(row.IsNull(2));  // an empty text is a value, not NULL
  EXPECT_EQ(row.Value(2), "");
  EXPECT_EQ(row.Value(3), "tail");
  EXPECT_TRUE(row.IsNull(4));   // out of range reads as NULL
  EXPECT_TRUE(row.IsNull(-1));

  row.Set(1, std::string_view("now set"));
  row.Set(0, std::nullopt);
  row.Set(3, std::string_view(std::string(1000, 'q')));
  EXPECT_TRUE(row.IsNull(0));
  EXPECT_EQ(row.Value(1), "now set");
  EXPECT_EQ(row.Value(2), "");
  EXPECT_EQ(row.Value(3).size(), 1000u);
  row.Set(7, std::string_view("ignored"));
  EXPECT_EQ(row.Count(), 4);

  TRowValues copy = row;
  row.Set(1, std::string_view("changed"));
  EXPECT_EQ(copy.Value(1), "now set");
  TRowValues small(4);
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(small.IsNull(i));
  small = copy;  // grows
  EXPECT_EQ(small.Value(3).size(), 1000u);
  TRowValues big = copy;
  big = TRowValues::FromRow(4, values, lengths);  // reuses its storage
  EXPECT_EQ(big.Value(3), "tail");
  EXPECT_TRUE(big.IsNull(1));
  big.ClearValues();
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(big.IsNull(i));
  big.Release();
  EXPECT_TRUE(big.Released());
  EXPECT_EQ(big.Count(), 0);
  EXPECT_TRUE(big.IsNull(0));
}

TEST(RowArenaTest, StartsSmallAndGrowsGeometrically) {
  TRowArena arena;
  arena.Allocate(40);
  // One small row does not cost a huge page.
  EXPECT_LE(arena.AllocatedSize(), 64u * 1024);
  // Many rows: blocks double, so the waste stays bounded and the number of
  // blocks small.
  size_t used = 40;
  for (int i = 0; i < 100000; ++i) {
    char* p = arena.Allocate(100);
    std::memset(p, 'x', 100);  // writable, inside a block
    used += 104;
  }
  EXPECT_LE(arena.AllocatedSize(), used + (size_t{4} << 20));
  // A row larger than the next block gets one of its own.
  char* large = arena.Allocate(size_t{5} << 20);
  std::memset(large, 'y', size_t{5} << 20);
  arena.Clear();
  EXPECT_EQ(arena.AllocatedSize(), 0u);
  arena.Allocate(8);
  EXPECT_LE(arena.AllocatedSize(), 64u * 1024);
}

TEST(RowValuesTest, ManyColumns) {
  std::vector<std::string> texts;
  std::vector<const char*> values;
  std::vector<unsigned long> lengths;
  for (int i = 0; i < 70; ++i) texts.push_back(std::to_string(i * 7));
  for (int i = 0; i < 70; ++i) {
    values.push_back(i % 9 == 0 ? nullptr : texts[i].c_str());
    lengths.push_back(texts[i].size());
  }
  TRowValues row = TRowValues::FromRow(70, values.data(), lengths.data());
  for (int i = 0; i < 70; ++i) {
    if (i % 9 == 0) {
      EXPECT_TRUE(row.IsNull(i));
    } else {
      EXPECT_EQ(row.Value(i), texts[i]);
    }
  }
  row.Set(63, std::nullopt);
  EXPECT_TRUE(row.IsNull(63));
  EXPECT_EQ(row.Value(64), texts[64]);
}

// Rows whose values need wider offsets (past 255 and 65535 bytes) and
// narrower ones again after a change, in an arena and on their own.
TEST(RowValuesTest, OffsetWidthsFollowTheValueBytes) {
  const std::string small(100, 's'), medium(300, 'm'), large(70000, 'l');
  TRowArena arena;
  for (const std::string* middle : {&small, &medium, &large}) {
    SCOPED_TRACE(middle->size());
    const char* values[] = {"a", nullptr, middle->data(), "", "z"};
    unsigned long lengths[] = {1, 0, middle->size(), 0, 1};
    for (TRowArena* where : {static_cast<TRowArena*>(nullptr), &arena}) {
      TRowValues row = TRowValues::FromRow(5, values, lengths, where);
      EXPECT_EQ(row.Value(0), "a");
      EXPECT_TRUE(row.IsNull(1));
      EXPECT_EQ(row.Value(2), *middle);
      EXPECT_FALSE(row.IsNull(3));
      EXPECT_EQ(row.Value(3), "");
      EXPECT_EQ(row.Value(4), "z");
      TRowValues copy = row;
      EXPECT_EQ(copy.Value(2), *middle);
      EXPECT_EQ(copy.Value(4), "z");
      // Grows past and shrinks below each width.
      for (const std::string* next : {&large, &small, &medium}) {
        row.Set(2, std::string_view(*next));
        EXPECT_EQ(row.Value(2), *next);
        EXPECT_EQ(row.Value(0), "a");
        EXPECT_TRUE(row.IsNull(1));
        EXPECT_EQ(row.Value(3), "");
        EXPECT_EQ(row.Value(4), "z");
        copy = row;  // reuses the copy's storage when it fits
        EXPECT_EQ(copy.Value(2), *next);
        EXPECT_EQ(copy.Value(4), "z");
      }
      row.Set(1, std::string_view("one"));
      EXPECT_EQ(row.Value(1), "one");
      EXPECT_EQ(row.Value(2), medium);
      copy.ClearValues();
      for (int i = 0; i < 5; ++i) EXPECT_TRUE(copy.IsNull(i));
      EXPECT_EQ(copy.Count(), 5);
    }
  }
  // Rows carved without padding between them.
  const char* values[] = {"abc"};
  unsigned long lengths[] = {3};
  TRowArena packed;
  TRowValues first = TRowValues::FromRow(1, values, lengths, &packed);
  TRowValues second = TRowValues::FromRow(1, values, lengths, &packed);
  EXPECT_EQ(first.AllocatedSize(), 4u + 1u + 1u + 3u);
  EXPECT_EQ(second.Value(0), "abc");
}

TEST(DatasetModelTest, OptionWordsAndDefaults) {
  EXPECT_EQ(kDefaultDatasetOptions.Word(), 0x83801u);
  EXPECT_EQ(kDefaultTableOptions.Word(), 0x83E01u);
  TMySQLDataset d;
  TMySQLQuery q;
  TMySQLTable t;
  EXPECT_EQ(d.Options().Word(), 0x83801u);
  EXPECT_EQ(q.Options().Word(), 0x83801u);
  EXPECT_EQ(t.Options().Word(), 0x83E01u);
  EXPECT_EQ(d.ResultType(), rtLocal);
  EXPECT_TRUE(d.ShareConnection());
  EXPECT_TRUE(d.UseCursor());
  EXPECT_TRUE(d.ParamCheck());
  EXPECT_FALSE(d.RawData());
  EXPECT_FALSE(d.ReadOnly());
  EXPECT_FALSE(d.CachedUpdates());
  EXPECT_EQ(d.Cursor(), -17);
  EXPECT_EQ(d.Server(), nullptr);
  EXPECT_EQ(d.MacroDel(), "[,]");
  EXPECT_EQ(q.ParamDelimiters(), "[,]");
  EXPECT_EQ(d.AffectedRowsText(), "0");
  EXPECT_EQ(d.InsertIDText(), "0");
  EXPECT_EQ(d.CurrentRec(), -1);
  EXPECT_EQ(d.Rows(), nullptr);
  EXPECT_EQ(d.SQL()->Text(),
            "select [$FIELDS] from [$TABLENAME] [JOIN] [WHERE] [GROUPBY] [ORDER] [LIMIT]\r\n");
  EXPECT_EQ(d.SQLUpdate()->Text(),
            "update [$TABLENAME] set [$MODIFIED$FIELDS&VALUES] where [$PRIMARYFIELDS&VALUES]\r\n");
  EXPECT_EQ(d.SQLInsert()->Text(), "insert into [$TABLENAME] set [$MODIFIED$FIELDS&VALUES]\r\n");
  EXPECT_EQ(d.SQLDelete()->Text(), "delete from [$TABLENAME] where [$PRIMARYFIELDS&VALUES]\r\n");
  EXPECT_EQ(d.SQLBatch()->Count(), 0);
  EXPECT_EQ(d.SQLCached()->Count(), 0);
}

TEST(DatasetModelTest, SetterCouplings) {
  TMySQLDataset d;
  d.SetResultType(rtIncremental);
  EXPECT_FALSE(d.ShareConnection());
  EXPECT_FALSE(d.Options().Contains(doShareConnection));
  d.SetShareConnection(true);
  EXPECT_EQ(d.ResultType(), rtLocal);
  d.SetResultType(rtUnidirectional);
  EXPECT_FALSE(d.ShareConnection());
  // Options set as a whole follow the same coupling.
  d.SetOptions(d.Options() + doShareConnection);
  EXPECT_EQ(d.ResultType(), rtLocal);
  d.SetResultType(rtIncremental);
  d.SetOptions(d.Options() - doRetrieveIndexDefs);
  EXPECT_EQ(d.ResultType(), rtIncremental);
  EXPECT_FALSE(d.ShareConnection());
  d.SetParamCheck(false);
  EXPECT_FALSE(d.Options().Contains(doMacroCheck));
  d.SetUseCursor(false);
  EXPECT_FALSE(d.Options().Contains(doUseCursor));
  d.SetRawData(true);
  EXPECT_TRUE(d.Options().Contains(doFieldsAsString));
  d.SetCachedUpdates(true);
  EXPECT_TRUE(d.Options().Contains(doCachedUpdates));
  d.SetCachedUpdates(false);
  EXPECT_FALSE(d.CachedUpdates());
  d.SetFieldName("ID");
  d.SetFieldName("id");  // differs only in case: kept
  EXPECT_EQ(d.FieldName(), "ID");
  TMySQLTable t;
  t.SetIndexFieldNames("a;b");
  EXPECT_EQ(t.IndexFieldNames(), "a;b");
  t.ExcludeRetrieveOptions();
  EXPECT_EQ(t.Options().Word(), 0x83801u);
}

TEST(DatasetModelTest, StoredFormsAndLegacyProperties) {
  TMySQLDataset d;
  EXPECT_FALSE(d.ConstraintsStored());
  EXPECT_FALSE(d.CustomFieldDefsStored());
  d.CustomFieldDefs()->Add("extra", ftString, 10);
  EXPECT_TRUE(d.CustomFieldDefsStored());
  d.FieldDefs()->Add("id", ftInteger);
  EXPECT_FALSE(d.FieldDefsStored());
  d.SetOptions(d.Options() + doAutoCreate);
  EXPECT_FALSE(d.FieldDefsStored());
  d.SetTableName("people");
  EXPECT_TRUE(d.FieldDefsStored());
  EXPECT_FALSE(d.IndexDefsStored());

  TStoredValues old_form{{"AllFieldValues", Variant(true)}, {"MacrosEnabled", Variant(false)}};
  TReader reader(old_form);
  EXPECT_TRUE(reader.ReadProperties(&d).empty());
  EXPECT_TRUE(d.Options().Contains(doRetrieveFieldValues));
  EXPECT_FALSE(d.Options().Contains(doMacrosEnabled));
  TWriter writer;
  EXPECT_TRUE(writer.WriteProperties(&d).empty());
}

TEST(DatasetModelTest, MacroDelimitersRewriteTheTemplates) {
  TMySQLDataset d;
  d.SetMacroDel("{,}");
  EXPECT_EQ(d.MacroDel(), "{,}");
  EXPECT_EQ(d.SQLInsert()->Text(), "insert into {$TABLENAME} set {$MODIFIED$FIELDS&VALUES}\r\n");
  d.SetMacroDel(";");
  EXPECT_EQ(d.MacroDel(), "[,]");
  EXPECT_EQ(d.SQLDelete()->Text(), "delete from [$TABLENAME] where [$PRIMARYFIELDS&VALUES]\r\n");
}

TEST(DatasetModelTest, ClosedDatasetAnswersNeutrally) {
  TMySQLQuery q;
  EXPECT_EQ(q.RecordCount(), 0);
  EXPECT_EQ(q.RecNo(), -1);
  EXPECT_FALSE(q.BookmarkValid(TBookmark(8, 0)));
  EXPECT_EQ(q.CompareBookmarks(TBookmark(), TBookmark()), -1);
  q.SQL()->SetText("select 1");
  EXPECT_THROW(q.Open(), EMySQLError);
  EXPECT_FALSE(q.Active());
}

TEST(DatasetModelTest, NamedDatasetsAreMySQLDatasets) {
  TMySQLServer server;
  TDataSet* ds = server.DatasetFrom("people", "select 1");
  auto* named = dynamic_cast<TMySQLDataset*>(ds);
  ASSERT_NE(named, nullptr);
  EXPECT_EQ(named->Server(), &server);
  EXPECT_EQ(named->SQL()->Text(), "select 1\r\n");
  EXPECT_FALSE(named->Options().Contains(doRetrieveIndexDefs));
  EXPECT_EQ(server.Dataset("People"), ds);
}

}  // namespace
}  // namespace rowset
