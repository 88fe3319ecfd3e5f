// Positional parameters turned into numbered macros, as exact text, without
// a server.
#include <gtest/gtest.h>

#include <string>

#include "components/MySQLDataset.h"

namespace rowset {
namespace {

TEST(ProviderTextTest, OnlyBareQuestionMarksAreParameters) {
  TMySQLDataset ds;
  ds.SetMacroDel("[,]");
  TParams params;
  params.CreateParam(ftInteger, "x", ptUnknown);
  EXPECT_EQ(ds.PositionalToMacros("a=? and b='?' and c=\"it\\\"?\" and `?``?`=? and d='x''?'", &params),
            "a=[1] and b='?' and c=\"it\\\"?\" and `?``?`=[2] and d='x''?'");
  EXPECT_EQ(params[0]->Name(), "1");  // only as many names as there are entries
  EXPECT_EQ(ds.PositionalToMacros("x=? /* ? */ -- ?\n# ?\ny=? --?", nullptr),
            "x=[1] /* ? */ -- ?\n# ?\ny=[2] --[3]");
  // Unclosed quotes and comments run to the end.
  EXPECT_EQ(ds.PositionalToMacros("?'?", nullptr), "[1]'?");
  EXPECT_EQ(ds.PositionalToMacros("? /* ?", nullptr), "[1] /* ?");
  EXPECT_EQ(ds.PositionalToMacros("", nullptr), "");
}

TEST(ProviderTextTest, DelimitersHoldingQuestionMarksEnd) {
  TMySQLDataset ds;
  ds.SetMacroDel("<?,?>");
  EXPECT_EQ(ds.PositionalToMacros("a=? and b=?", nullptr), "a=<?1?> and b=<?2?>");
}

TEST(ProviderTextTest, KeyFieldsAndTableNameWhileClosed) {
  TMySQLDataset ds;
  EXPECT_EQ(ds.PSGetKeyFields(), "");
  EXPECT_EQ(ds.PSGetTableName(), "PleaseSpecifyATableNameProperty");
  ds.SetTableName("t");
  EXPECT_EQ(ds.PSGetTableName(), "t");
  EXPECT_EQ(ds.PSGetParams(), ds.Macros());
  EXPECT_FALSE(ds.PSInTransaction());
}

}  // namespace
}  // namespace rowset
