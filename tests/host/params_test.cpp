#include "host/Params.h"

#include <gtest/gtest.h>

namespace rowset {
namespace {

TEST(VariantTest, KindsAndConversions) {
  EXPECT_TRUE(Variant().IsEmpty());
  EXPECT_TRUE(Null().IsNull());
  EXPECT_EQ(Variant(5).VarType(), varInteger);
  EXPECT_EQ(Variant(int64_t{5}).VarType(), varInt64);
  EXPECT_EQ(Variant(5LL).VarType(), varInt64);
  EXPECT_EQ(Variant(uint32_t{5}).VarType(), varLongWord);
  EXPECT_EQ(Variant(true).VarType(), varBoolean);
  EXPECT_EQ(Variant("x").VarType(), varString);

  EXPECT_EQ(Variant("42").AsInteger(), 42);
  EXPECT_EQ(Variant(2.5).AsInteger(), 2);  // halves to even
  EXPECT_EQ(Variant(3.5).AsInteger(), 4);
  EXPECT_EQ(Variant(true).AsString(), "True");
  EXPECT_EQ(Variant(true).AsInteger(), -1);
  EXPECT_EQ(Variant(1.5).AsString(), "1.5");
  EXPECT_EQ(Variant(int64_t{1} << 40).AsString(), "1099511627776");
  EXPECT_THROW(Variant(int64_t{1} << 40).AsInteger(), EVariantError);
  EXPECT_THROW(Variant("abc").AsInteger(), EConvertError);
  EXPECT_THROW(Variant("abc").AsFloat(), EConvertError);
  EXPECT_THROW(Null().AsInteger(), EVariantError);
  EXPECT_THROW(Null().AsString(), EVariantError);
  EXPECT_EQ(VarToStr(Null()), "");
  EXPECT_EQ(Variant().AsInteger(), 0);
  EXPECT_TRUE(Variant("true").AsBoolean());
  EXPECT_EQ(Variant::FromDateTime(EncodeDate(2004, 3, 15)).AsFloat(), 38061.0);

  Variant arr = VarArrayOf({1, "two", Null()});
  EXPECT_EQ(arr.ArrayCount(), 3);
  EXPECT_EQ(arr.ArrayItem(1).AsString(), "two");
  EXPECT_THROW(arr.ArrayItem(3), EVariantError);
  EXPECT_THROW(arr.AsString(), EVariantError);
  EXPECT_THROW(Variant(1).ArrayCount(), EVariantError);
  EXPECT_EQ(arr, VarArrayOf({1, "two", Null()}));
  EXPECT_NE(Variant(1), Variant("1"));
}

TEST(VariantTest, TextConversionsFollowTheLocale) {
  TFormatSettings fs;
  fs.DecimalSeparator = ',';
  fs.ShortDateFormat = "dd.MM.yyyy";
  fs.DateSeparator = '.';
  TFormatSettingsScope scope(fs);
  EXPECT_EQ(Variant(1.5).AsString(), "1,5");
  EXPECT_EQ(Variant("2,25").AsFloat(), 2.25);
  EXPECT_EQ(Variant("15.03.2004").AsDateTime(), EncodeDate(2004, 3, 15));
  EXPECT_EQ(Variant::FromDateTime(EncodeDate(2004, 3, 15)).AsString(), "15.03.2004");
}

TEST(ParamsTest, LookupIsCaseInsensitiveAndMissingNamesRaise) {
  TParams params;
  params.CreateParam(ftString, "WHERE", ptInput);
  params.CreateParam(ftInteger, "Limit", ptInput);
  EXPECT_EQ(params.FindParam("where"), params[0]);
  EXPECT_EQ(params.FindParam("nope"), nullptr);
  EXPECT_EQ(params.ParamByName("LIMIT"), params[1]);
  try {
    params.ParamByName("ORDER");
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Parameter 'ORDER' not found");
  }
  EXPECT_EQ(params.Count(), 2);
  delete params[0];  // a parameter freed directly leaves its collection
  EXPECT_EQ(params.Count(), 1);
}

TEST(ParamsTest, TypedValuesAndConversion) {
  TParams params;
  TParam* p = params.Add();
  p->SetName("p");
  EXPECT_TRUE(p->IsNull());
  EXPECT_EQ(p->AsString(), "");
  EXPECT_EQ(p->AsInteger(), 0);
  EXPECT_FALSE(p->AsBoolean());
  EXPECT_EQ(p->DataType(), ftUnknown);

  p->SetValue(Variant(12));  // type follows the value while unknown
  EXPECT_EQ(p->DataType(), ftInteger);
  EXPECT_TRUE(p->Bound());
  p->SetAsString("123");
  EXPECT_EQ(p->DataType(), ftString);
  EXPECT_EQ(p->AsInteger(), 123);
  EXPECT_EQ(p->AsFloat(), 123.0);
  EXPECT_EQ(p->GetDataSize(), 4);  // text plus its closing NUL
  p->SetAsFloat(2.5);
  EXPECT_EQ(p->AsString(), "2.5");
  p->SetAsBoolean(true);
  EXPECT_EQ(p->AsString(), "True");
  p->SetAsDateTime(EncodeDate(2004, 3, 15));
  EXPECT_EQ(p->DataType(), ftDateTime);
  EXPECT_EQ(p->AsDateTime(), 38061.0);
  p->SetAsBlob(std::string("a\0b", 3));
  EXPECT_EQ(p->GetDataSize(), 3);
  EXPECT_EQ(p->AsBlob(), std::string("a\0b", 3));
  p->SetAsString("x1");
  EXPECT_THROW(p->AsInteger(), EConvertError);
  // A type change converts the value, or clears it when it does not fit.
  p->SetAsString("77");
  p->SetDataType(ftInteger);
  EXPECT_EQ(p->Value().VarType(), varInteger);
  p->SetAsString("x");
  p->SetDataType(ftInteger);
  EXPECT_TRUE(p->IsNull());
  p->Clear();
  p->SetDataType(ftUnknown);
  EXPECT_THROW(p->GetDataSize(), EDatabaseError);
}

TEST(ParamsTest, AssignValuesByNameAndAssign) {
  TParams a, b;
  a.CreateParam(ftUnknown, "x", ptInput)->SetAsString("1");
  a.CreateParam(ftUnknown, "y", ptInput)->SetAsInteger(2);
  a.CreateParam(ftUnknown, "only_in_a", ptInput)->SetAsInteger(3);
  b.CreateParam(ftUnknown, "Y", ptUnknown);
  b.CreateParam(ftUnknown, "x", ptUnknown);
  b.AssignValues(a);
  EXPECT_EQ(b.Count(), 2);
  EXPECT_EQ(b.ParamByName("x")->AsString(), "1");
  EXPECT_EQ(b.ParamByName("y")->AsInteger(), 2);
  EXPECT_EQ(b.ParamByName("y")->DataType(), ftInteger);

  TParams c;
  c.Assign(&a);
  EXPECT_TRUE(c.IsEqual(a));
  c.ParamByName("x")->SetAsString("changed");
  EXPECT_FALSE(c.IsEqual(a));

  Variant both = a.ParamValues("x;y");
  ASSERT_TRUE(both.IsArray());
  EXPECT_EQ(both.ArrayItem(1).AsInteger(), 2);
  a.SetParamValues("x;y", VarArrayOf({"p", "q"}));
  EXPECT_EQ(a.ParamByName("y")->AsString(), "q");
  EXPECT_THROW(a.SetParamValues("x;y", VarArrayOf({"p"})), EDatabaseError);
  EXPECT_THROW(a.ParamValues("x;nope"), EDatabaseError);

  TParam* moved = c.Items(0);
  c.RemoveParam(moved);
  EXPECT_EQ(c.Count(), 2);
  a.AddParam(moved);
  EXPECT_EQ(a.Count(), 4);
  EXPECT_EQ(FieldTypeName(ftFMTBcd), "FMTBcd");
  EXPECT_EQ(FieldTypeName(ftLargeint), "Largeint");
}

}  // namespace
}  // namespace rowset
