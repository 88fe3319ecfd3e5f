// Macro collection and expansion, delimiter changes, condition insertion
// and typed macro literals of a dataset without a server (escaping by the
// built-in rule; fields and master values are covered by it_macros_test).
#include <gtest/gtest.h>

#include <string>

#include "components/MySQLDataset.h"
#include "components/MySQLMacros.h"
#include "host/SysUtils.h"
#include "host/Variants.h"

namespace rowset::test {
namespace {

std::string Expand(TMySQLDatasetBase& ds, const std::string& text, bool first_pass = false) {
  return ds.SQLPopulate(text, first_pass, false, "", "");
}

std::string Names(TParams* macros) {
  std::string out;
  for (int i = 0; i < macros->Count(); ++i) out += (i ? "," : "") + macros->Items(i)->Name();
  return out;
}

TEST(MacroCollection, DefaultTemplatesAndCaseSensitiveBuiltIns) {
  TMySQLDataset ds;
  // The default templates' macros are there to be given values.
  EXPECT_EQ(Names(ds.Macros()),
            "$FIELDS,$TABLENAME,JOIN,WHERE,GROUPBY,ORDER,LIMIT,$MODIFIED$FIELDS&VALUES,"
            "$PRIMARYFIELDS&VALUES");
  ds.MacroByName("WHERE")->SetAsString("where a=1");
  EXPECT_EQ(Expand(ds, ds.SQL()->Text()), "select * from PleaseSpecifyATableNameProperty  where a=1    ");
  EXPECT_THROW(ds.MacroByName("nothing"), EDatabaseError);

  // doMacroCheck: a template change collects from scratch.
  ds.SQL()->SetText("select [$tablename] from t where x=[X][Y] and [] = 1");
  // (names compare ignoring case, so $TABLENAME is not added again)
  EXPECT_EQ(Names(ds.Macros()), "$tablename,X,Y,$MODIFIED$FIELDS&VALUES,$PRIMARYFIELDS&VALUES");
  ds.MacroByName("X")->SetAsString("1");
  ds.MacroByName("Y")->SetAsString("2");
  // Lower case is no built-in; an empty macro is nothing; adjacent ones both
  // expand.
  EXPECT_EQ(Expand(ds, ds.SQL()->Text()), "select  from t where x=12 and  = 1 ");
  ds.ClearMacros();
  EXPECT_EQ(ds.GetMacroCount(), 5);
  EXPECT_EQ(ds.MacroByName("X")->AsString(), "");

  // Without doMacroCheck names and values are kept across changes.
  ds.SetParamCheck(false);
  ds.MacroByName("X")->SetAsString("kept");
  ds.SQL()->SetText("select [Z]");
  EXPECT_EQ(ds.MacroByName("X")->AsString(), "kept");
  EXPECT_NE(ds.Macros()->FindParam("Z"), nullptr);
  EXPECT_TRUE(ds.MacrosStored());
}

TEST(MacroCollection, DelimitersInLiteralsNamesAndCommentsAreNoMacros) {
  TMySQLDataset ds;
  ds.SQL()->SetText("select '[A]', `[B]`, \"[C]\" /* [D] */ from t # [E]\nwhere [F]=1");
  EXPECT_EQ(ds.Macros()->FindParam("A"), nullptr);
  EXPECT_EQ(ds.Macros()->FindParam("B"), nullptr);
  EXPECT_NE(ds.Macros()->FindParam("F"), nullptr);
  EXPECT_EQ(ds.Macros()->FindParam("D"), nullptr);
  EXPECT_EQ(ds.Macros()->FindParam("E"), nullptr);
  ds.MacroByName("F")->SetAsString("x");
  EXPECT_EQ(Expand(ds, ds.SQL()->Text()), "select '[A]', `[B]`, \"[C]\" /* [D] */ from t  where x=1 ");
}

TEST(MacroExpansion, LineCommentsNeverSwallowTheRest) {
  TMySQLDataset ds;
  ds.SQLDelete()->SetText("delete from t -- all of them?\nwhere [K] # really\n and 1=1");
  ds.MacroByName("K")->SetAsString("id=3");
  std::string sql = Expand(ds, ds.SQLDelete()->Text());
  EXPECT_EQ(sql.find("--"), std::string::npos);
  EXPECT_EQ(sql.find('#'), std::string::npos);
  EXPECT_NE(sql.find("where id=3"), std::string::npos);
  EXPECT_NE(sql.find("and 1=1"), std::string::npos);
}

TEST(MacroDelimiters, RewriteTheFourTemplatesOutsideLiteralsOnly) {
  TMySQLDataset ds;
  ds.SQL()->SetText("select [A] from t where name='[x]' and `[y]`=1 /* [z] */");
  ds.SQLBatch()->SetText("insert into log values ([A])");
  ds.SetMacroDel("{,}");
  EXPECT_EQ(ds.MacroDel(), "{,}");
  EXPECT_EQ(ds.SQL()->Text(), "select {A} from t where name='[x]' and `[y]`=1 /* [z] */\r\n");
  EXPECT_EQ(ds.SQLUpdate()->Text(), DefaultUpdateText("{", "}") + "\r\n");
  EXPECT_EQ(ds.SQLInsert()->Text(), DefaultInsertText("{", "}") + "\r\n");
  EXPECT_EQ(ds.SQLDelete()->Text(), DefaultDeleteText("{", "}") + "\r\n");
  EXPECT_EQ(ds.SQLBatch()->Text(), "insert into log values ([A])\r\n");
  EXPECT_TRUE(ds.MacroDelStored());
  EXPECT_FALSE(ds.SQLUpdateStored());  // still the default, with the new delimiters
  EXPECT_TRUE(ds.SQLStored());

  // Swapped delimiters stay distinct.
  ds.SetMacroDel("},{");
  EXPECT_EQ(ds.SQL()->Text(), "select }A{ from t where name='[x]' and `[y]`=1 /* [z] */\r\n");
  ds.SetMacroDel("[");  // the missing end is "]"
  EXPECT_EQ(ds.MacroDel(), "[,]");
  EXPECT_EQ(ds.SQL()->Text(), "select [A] from t where name='[x]' and `[y]`=1 /* [z] */\r\n");
  EXPECT_FALSE(ds.MacroDelStored());
  ds.MacroByName("A")->SetAsString("a");
  EXPECT_EQ(Expand(ds, ds.SQL()->Text()), "select a from t where name='[x]' and `[y]`=1 /* [z] */ ");
}

TEST(TemplateLists, AChangeOfLetterCaseIsAChange) {
  TMySQLDataset ds;
  EXPECT_FALSE(ds.SQLStored());
  EXPECT_FALSE(ds.SQLBatchStored());
  EXPECT_TRUE(ds.SQLCachedStored());
  TStringList text;
  text.SetText("select * from t where name='abc'");
  ds.SetSQL(&text);
  text.SetText("select * from t where name='ABC'");
  ds.SetSQL(&text);
  EXPECT_EQ(ds.SQL()->Text(), "select * from t where name='ABC'\r\n");
  text.SetText(DefaultUpdateText("[", "]"));
  ds.SetSQLUpdate(&text);
  EXPECT_FALSE(ds.SQLUpdateStored());
  text.SetText("update [$tablename] set [$MODIFIED$FIELDS&VALUES] where [$PRIMARYFIELDS&VALUES]");
  ds.SetSQLUpdate(&text);
  EXPECT_TRUE(ds.SQLUpdateStored());
  EXPECT_NE(ds.Macros()->FindParam("$tablename"), nullptr);
}

class Condition : public ::testing::Test {
 protected:
  void SetUp() override {
    ds.SetFilter("a=[V]");
    ds.SetFiltered(true);
    ds.MacroByName("V")->SetAsString("5");
  }
  TMySQLDataset ds;
};

TEST_F(Condition, InsertedAtTheOuterLevelOfSelectsOnly) {
  EXPECT_EQ(ds.GetMasterAndFilter(), "(a=[V])");
  EXPECT_EQ(Expand(ds, "select * from t order by x"), "select * from t where (a=5) order by x");
  EXPECT_EQ(Expand(ds, "SELECT x, count(*) FROM t GROUP BY x"),
            "SELECT x, count(*) FROM t where (a=5) GROUP BY x");
  EXPECT_EQ(Expand(ds, "select * from t limit 3"), "select * from t where (a=5) limit 3");
  EXPECT_EQ(Expand(ds, "select * from t"), "select * from t where (a=5)");
  EXPECT_EQ(Expand(ds, "select * from t;"), "select * from t where (a=5) ;");
  // Only selects; not in a subquery or a string.
  EXPECT_EQ(Expand(ds, "update t set b=1 where c=2"), "update t set b=1 where c=2");
  EXPECT_EQ(Expand(ds, "select * from (select * from u where y=1 order by y) s where 'where'=b"),
            "select * from (select * from u where y=1 order by y) s where (a=5) and ('where'=b)");
  EXPECT_EQ(Expand(ds, "select (select max(y) from u where u.k=t.k) m from t"),
            "select (select max(y) from u where u.k=t.k) m from t where (a=5)");
  // The select's own condition is kept whole: an OR in it cannot bypass C.
  EXPECT_EQ(Expand(ds, "select * from t where b=1 or c=2 order by x"),
            "select * from t where (a=5) and (b=1 or c=2) order by x");
  EXPECT_EQ(Expand(ds, "select * from t where b=1 or c=2"),
            "select * from t where (a=5) and (b=1 or c=2)");
  // Once only.
  EXPECT_EQ(Expand(ds, "select * from t group by x order by x"),
            "select * from t where (a=5) group by x order by x");
  // No condition: unchanged but for the layout.
  ds.SetFiltered(false);
  EXPECT_EQ(Expand(ds, "select *\nfrom t  order by x"), "select * from t order by x");
}

TEST_F(Condition, FirstPassInsertsAfterExpandingMacroText) {
  // The first pass expands [W] first; the words it brings are seen next.
  ds.SQL()->SetText("select * from t [W] [O]");
  ds.MacroByName("V")->SetAsString("5");
  ds.MacroByName("W")->SetAsString("where b=1 or c=2");
  ds.MacroByName("O")->SetAsString("order by x");
  EXPECT_EQ(Expand(ds, ds.SQL()->Text(), true),
            "select * from t where (a=5) and (b=1 or c=2) order by x ");
  EXPECT_EQ(ds.SQLPopulate("select * from t", true, true, "", ""), "select * from t");
  // Other statements are expanded once: a value is never read as a macro.
  ds.SQLUpdate()->SetText("update t set a=[S]");
  ds.MacroByName("V")->SetAsString("5");
  ds.MacroByName("S")->SetAsString("[V]");
  EXPECT_EQ(Expand(ds, ds.SQLUpdate()->Text(), true), "update t set a=[V] ");
  EXPECT_EQ(ds.GetMacroValue("$WHERE", "", ""), "where (a=5)");
}

TEST_F(Condition, MalformedTextNeverLosesTheCondition) {
  const std::string texts[] = {"select '",          "select * from t where x='abc",
                               "select [",          "select ]]] [[[ ]",
                               "select * from (((", "select ))) where",
                               "select -- ",        "select /* open",
                               "select `open",      "select \"open",
                               std::string("select \0 from t\0", 17),
                               "select * from t where [V"};
  for (const std::string& text : texts) {
    std::string sql;
    ASSERT_NO_THROW(sql = Expand(ds, text, true)) << text;
    size_t at = sql.find("(a=5)");
    EXPECT_NE(at, std::string::npos) << text;
    EXPECT_EQ(sql.find("(a=5)", at + 1), std::string::npos) << text;
  }
}

TEST(MacroDelimiters, MultiCharacterAndRepeatedDelimitersRoundTrip) {
  TMySQLDataset ds;
  const std::string original = "select [A],[B] from t where c='[' and d=']' -- [\n";
  ds.SQL()->SetText(original);
  std::string text = ds.SQL()->Text();
  for (const char* del : {"{{,}}", "%,%", ";", "<<,>>", "[,]"}) ds.SetMacroDel(del);
  EXPECT_EQ(ds.SQL()->Text(), text);
  ds.SetMacroDel("%,%");
  // The text keeps its own line end (a literal could hold one).
  EXPECT_EQ(ds.SQL()->Text(), "select %A%,%B% from t where c='[' and d=']' -- [\n");
  ds.MacroByName("A")->SetAsString("1");
  ds.MacroByName("B")->SetAsString("2");
  EXPECT_EQ(Expand(ds, ds.SQL()->Text()), "select 1,2 from t where c='[' and d=']'  ");
}

TEST(MacroValues, TypedMacrosKeepTheirValueAndAreEscaped) {
  TFormatSettings comma;
  comma.DecimalSeparator = ',';
  comma.TimeSeparator = '.';
  comma.DateSeparator = '.';
  TFormatSettingsScope locale(comma);
  TMySQLDataset ds;
  TParams* m = ds.Macros();
  auto value = [&](const char* name) { return ds.GetMacroValue(name, "", ""); };
  m->CreateParam(ftUnknown, "BIG", ptInput)->SetAsLargeInt(int64_t{1} << 40);
  EXPECT_EQ(value("BIG"), "1099511627776");
  m->CreateParam(ftUnknown, "INT", ptInput)->SetAsInteger(-7);
  EXPECT_EQ(value("INT"), "-7");
  m->CreateParam(ftUnknown, "F", ptInput)->SetAsFloat(0.1);
  EXPECT_EQ(value("F"), "0.1");
  m->CreateParam(ftUnknown, "C", ptInput)->SetAsCurrency(2.5);
  EXPECT_EQ(value("C"), "2.5");
  m->CreateParam(ftUnknown, "B", ptInput)->SetAsBoolean(true);
  EXPECT_EQ(value("B"), "1");
  m->CreateParam(ftUnknown, "D", ptInput)->SetAsDate(EncodeDate(2004, 5, 6));
  EXPECT_EQ(value("D"), "'2004-05-06'");
  m->CreateParam(ftUnknown, "T", ptInput)->SetAsTime(EncodeTime(7, 8, 9, 0));
  EXPECT_EQ(value("T"), "'07:08:09'");
  m->CreateParam(ftUnknown, "DT", ptInput)->SetAsDateTime(EncodeDateTime(1999, 12, 31, 23, 59, 58, 0));
  EXPECT_EQ(value("DT"), "'1999-12-31 23:59:58'");
  TParam* v = m->CreateParam(ftVariant, "VAR", ptInput);
  v->SetValue(Variant(std::string("it's\\'; drop table t; --")));
  EXPECT_EQ(value("VAR"), "'it\\'s\\\\\\'; drop table t; --'");
  v->SetValue(Variant(std::string("a\0b", 3)));
  EXPECT_EQ(value("VAR"), "0x610062");
  m->CreateParam(ftUnknown, "BLOB", ptInput)->SetAsBlob(std::string("\x00\xff", 2));
  EXPECT_EQ(value("BLOB"), "0x00FF");
  m->CreateParam(ftUnknown, "EMPTY", ptInput)->SetAsBlob("");
  EXPECT_EQ(value("EMPTY"), "''");
  TParam* null_int = m->CreateParam(ftInteger, "NI", ptInput);
  null_int->Clear();
  EXPECT_EQ(value("NI"), "NULL");
  // String macros are SQL text by design.
  m->CreateParam(ftUnknown, "S", ptInput)->SetAsString("a 'raw' fragment");
  EXPECT_EQ(value("S"), "a 'raw' fragment");
  EXPECT_EQ(value("$OLD$nothing"), "");

  ds.OnMacro = [](TMySQLDatasetBase*, const std::string& name, std::string& text, bool& use_default) {
    if (name == "S") {
      text = "replaced";
      use_default = false;
    }
  };
  EXPECT_EQ(value("S"), "replaced");
  EXPECT_EQ(value("INT"), "-7");
}

TEST(MacroValues, LiteralFunctions) {
  EXPECT_EQ(HexStr(std::string("\x01\xAB\x00", 3)), "0x01AB00");
  EXPECT_EQ(HexStr("", 0), "NULL");
  EXPECT_EQ(QuoteStr("a'b"), "'a'b'");
}

}  // namespace
}  // namespace rowset::test
