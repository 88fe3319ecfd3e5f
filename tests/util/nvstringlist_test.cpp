#include <gtest/gtest.h>

#include "util/MySQLStrUtils.h"

namespace rowset {
namespace {

std::vector<std::string> LinesOf(const TStrings& list) { return list.ToVector(); }

TEST(TNvStringListTest, DefaultSeparatorSplitsAtAnyBreakCharacter) {
  TNvStringList list;
  EXPECT_EQ(list.Separator(), "\r\n");
  list.SetText("a\r\n\r\nb");
  EXPECT_EQ(LinesOf(list), (std::vector<std::string>{"a", "b"}));
  list.SetText("a\nb\rc\r\n");
  EXPECT_EQ(LinesOf(list), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(list.Text(), "a\r\nb\r\nc\r\n");
  // Only a leading separator run yields an (empty) first line.
  list.SetText("\r\nx");
  EXPECT_EQ(LinesOf(list), (std::vector<std::string>{"", "x"}));
  list.SetText("");
  EXPECT_EQ(list.Count(), 0);
}

TEST(TNvStringListTest, EmptySeparatorAccumulatesPieces) {
  TNvStringList acc;
  acc.SetSeparator("");
  acc.Add("select ");
  acc.Add("1");
  acc.Add(";");
  EXPECT_EQ(acc.Text(), "select 1;");
  acc.Clear();
  EXPECT_EQ(acc.Text(), "");
  acc.SetText("a\r\nb");  // nothing splits: one line
  EXPECT_EQ(LinesOf(acc), (std::vector<std::string>{"a\r\nb"}));
}

TEST(TNvStringListTest, CustomSeparatorAndNulBytes) {
  TNvStringList list;
  list.SetSeparator(";|");
  list.SetText("a;b||c|;");
  EXPECT_EQ(LinesOf(list), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(list.Text(), "a;|b;|c;|");
  list.SetText(std::string("x\0y;z", 5));
  EXPECT_EQ(LinesOf(list), (std::vector<std::string>{"x", "y", "z"}));
}

TEST(TNvStringListTest, WorksThroughTheBaseClass) {
  TNvStringList list;
  list.SetSeparator(",");
  TStrings& base = list;
  base.SetText("p,q");
  EXPECT_EQ(base.Count(), 2);
  EXPECT_EQ(base.Text(), "p,q,");
}

TEST(NvCommaTextTest, GivesAnOwnedList) {
  std::unique_ptr<TStringList> list = NvCommaText("a, \"b,c\", d");
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(LinesOf(*list), (std::vector<std::string>{"a", "b,c", "d"}));
  EXPECT_EQ(NvCommaText("")->Count(), 0);
}

}  // namespace
}  // namespace rowset
