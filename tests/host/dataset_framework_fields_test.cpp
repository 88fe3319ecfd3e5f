// Fields of the dataset framework: value conversions in the native layouts,
// exact string bytes, ranges, validation, blobs, calculated and lookup
// fields, and the field and index definitions.
#include <gtest/gtest.h>

#include <string>

#include "host/DB.h"
#include "host/SysUtils.h"
#include "tests/common/MemDataset.h"

namespace rowset {
namespace {

using test::TMemDataset;

std::unique_ptr<TMemDataset> MakeTyped() {
  auto ds = std::make_unique<TMemDataset>();
  auto* d = ds->FieldDefs();
  d->Add("s", ftString, 8);
  d->Add("si", ftSmallint);
  d->Add("i", ftInteger);
  d->Add("w", ftWord);
  d->Add("big", ftLargeint);
  d->Add("f", ftFloat);
  d->Add("b", ftBoolean);
  d->Add("d", ftDate);
  d->Add("t", ftTime);
  d->Add("dt", ftDateTime);
  d->Add("blob", ftBlob);
  d->Add("memo", ftMemo);
  d->Add("v", ftVariant);
  ds->AddRow({});
  return ds;
}

TEST(DatasetFrameworkFields, NativeLayoutSizesAndClasses) {
  auto ds = MakeTyped();
  ds->Open();
  EXPECT_EQ(ds->FieldByName("s")->DataSize(), 8 + 5);
  EXPECT_EQ(ds->FieldByName("si")->DataSize(), 4);
  EXPECT_EQ(ds->FieldByName("w")->DataSize(), 4);
  EXPECT_EQ(ds->FieldByName("big")->DataSize(), 8);
  EXPECT_EQ(ds->FieldByName("f")->DataSize(), 8);
  EXPECT_EQ(ds->FieldByName("b")->DataSize(), 2);
  EXPECT_EQ(ds->FieldByName("d")->DataSize(), 4);
  EXPECT_EQ(ds->FieldByName("t")->DataSize(), 4);
  EXPECT_EQ(ds->FieldByName("dt")->DataSize(), 8);
  EXPECT_NE(dynamic_cast<TSmallintField*>(ds->FieldByName("si")), nullptr);
  EXPECT_NE(dynamic_cast<TMemoField*>(ds->FieldByName("memo")), nullptr);
  EXPECT_NE(dynamic_cast<TVariantField*>(ds->FieldByName("v")), nullptr);
  EXPECT_EQ(ds->FieldByName("memo")->DataType(), ftMemo);
  EXPECT_TRUE(ds->FieldByName("blob")->IsBlob());
}

TEST(DatasetFrameworkFields, ValuesRoundTripThroughTheDataset) {
  auto ds = MakeTyped();
  ds->Open();
  ds->Edit();
  ds->FieldByName("si")->SetAsInteger(-32768);
  ds->FieldByName("i")->SetAsString("123456");
  ds->FieldByName("w")->SetAsInteger(65535);
  ds->FieldByName("big")->SetAsLargeInt(INT64_MIN);
  ds->FieldByName("f")->SetAsFloat(2.5);
  ds->FieldByName("b")->SetAsBoolean(true);
  TDateTime when = EncodeDateTime(2004, 5, 6, 7, 8, 9, 0);
  ds->FieldByName("d")->SetAsDateTime(when);
  ds->FieldByName("t")->SetAsDateTime(when);
  ds->FieldByName("dt")->SetAsDateTime(when);
  ds->FieldByName("v")->SetValue(Variant("any"));
  ds->Post();

  EXPECT_EQ(ds->FieldByName("si")->AsInteger(), -32768);
  EXPECT_EQ(ds->FieldByName("i")->AsInteger(), 123456);
  EXPECT_EQ(ds->FieldByName("i")->AsString(), "123456");
  EXPECT_EQ(ds->FieldByName("w")->AsInteger(), 65535);
  EXPECT_EQ(ds->FieldByName("big")->AsLargeInt(), INT64_MIN);
  EXPECT_EQ(ds->FieldByName("big")->AsString(), "-9223372036854775808");
  EXPECT_DOUBLE_EQ(ds->FieldByName("f")->AsFloat(), 2.5);
  EXPECT_TRUE(ds->FieldByName("b")->AsBoolean());
  EXPECT_EQ(ds->FieldByName("b")->AsString(), "True");
  EXPECT_DOUBLE_EQ(ds->FieldByName("d")->AsDateTime(), EncodeDate(2004, 5, 6));
  EXPECT_NEAR(ds->FieldByName("t")->AsDateTime(), EncodeTime(7, 8, 9, 0), 1e-9);
  EXPECT_NEAR(ds->FieldByName("dt")->AsDateTime(), when, 1e-9);
  EXPECT_EQ(ds->FieldByName("v")->AsString(), "any");
  EXPECT_EQ(ds->FieldByName("i")->Value(), Variant(123456));
  EXPECT_EQ(ds->FieldByName("dt")->Value().VarType(), varDate);

  // The dataset received the documented layouts: 16-bit all-bits true,
  // day numbers, milliseconds.
  const auto& row = ds->Rows()[0].values;
  EXPECT_TRUE(row[6].AsBoolean());
  EXPECT_DOUBLE_EQ(row[7].AsDateTime(), EncodeDate(2004, 5, 6));

  // Null handling.
  ds->Edit();
  ds->FieldByName("i")->Clear();
  ds->FieldByName("f")->SetAsString("");
  ds->FieldByName("dt")->SetValue(Null());
  ds->Post();
  EXPECT_TRUE(ds->FieldByName("i")->IsNull());
  EXPECT_EQ(ds->FieldByName("i")->AsInteger(), 0);
  EXPECT_EQ(ds->FieldByName("i")->AsString(), "");
  EXPECT_TRUE(ds->FieldByName("i")->Value().IsNull());
  EXPECT_TRUE(ds->FieldByName("f")->IsNull());
  EXPECT_TRUE(ds->FieldByName("dt")->IsNull());
  EXPECT_EQ(ds->FieldByName("dt")->AsString(), "");
}

TEST(DatasetFrameworkFields, StringsKeepExactBytesAndRefuseLongValues) {
  auto ds = MakeTyped();
  ds->Open();
  ds->Edit();
  std::string binary("a\0b\0", 4);
  ds->FieldByName("s")->SetAsString(binary);
  EXPECT_EQ(ds->FieldByName("s")->AsString(), binary);
  ds->Post();
  EXPECT_EQ(ds->Rows()[0].values[0].AsString(), binary);
  EXPECT_EQ(ds->FieldByName("s")->AsString(), binary);
  // A value longer than the field is refused, never cut; the field keeps
  // its value, also for a UTF-8 text whose cut would split a character.
  ds->Edit();
  EXPECT_THROW(ds->FieldByName("s")->SetAsString("0123456789"), EDatabaseError);
  EXPECT_THROW(ds->FieldByName("s")->SetAsString("abcdefg\xC3\xA9"), EDatabaseError);
  EXPECT_THROW(ds->FieldByName("s")->SetAsInteger(1234567890), EDatabaseError);
  EXPECT_EQ(ds->FieldByName("s")->AsString(), binary);
  ds->FieldByName("s")->SetAsString("01234567");  // exactly the size
  ds->Post();
  EXPECT_EQ(ds->FieldByName("s")->AsString(), "01234567");

  // The buffer helpers: a length-free NUL-terminated text still reads.
  TStringField f;
  f.SetSize(4);
  std::vector<char> buf(static_cast<size_t>(f.DataSize()), 0);
  std::memcpy(buf.data(), "ab", 3);
  EXPECT_EQ(TStringField::BufferToString(&f, buf.data()), "ab");
  TStringField::StringToBuffer(&f, buf.data(), std::string("\0\0xyz", 5));
  EXPECT_EQ(TStringField::BufferToString(&f, buf.data()), std::string("\0\0xy", 4));
  EXPECT_THROW(f.SetSize(0), EDatabaseError);
  EXPECT_THROW(f.SetSize(9000), EDatabaseError);
}

TEST(DatasetFrameworkFields, BadValuesGiveClearErrors) {
  auto ds = MakeTyped();
  ds->Open();
  ds->Edit();
  EXPECT_THROW(ds->FieldByName("si")->SetAsInteger(40000), EDatabaseError);
  EXPECT_THROW(ds->FieldByName("w")->SetAsInteger(-1), EDatabaseError);
  EXPECT_THROW(ds->FieldByName("i")->SetAsLargeInt(int64_t{1} << 40), EDatabaseError);
  EXPECT_THROW(ds->FieldByName("i")->SetAsFloat(1e300), EDatabaseError);
  EXPECT_THROW(ds->FieldByName("i")->SetAsString("12x"), EConvertError);
  EXPECT_THROW(ds->FieldByName("f")->SetAsString("abc"), EConvertError);
  EXPECT_THROW(ds->FieldByName("b")->SetAsString("maybe"), EDatabaseError);
  EXPECT_THROW(ds->FieldByName("d")->SetAsString("2004-13-45"), EConvertError);
  EXPECT_THROW(ds->FieldByName("big")->SetAsFloat(1e19), EDatabaseError);
  EXPECT_THROW(ds->FieldByName("b")->AsDateTime(), EDatabaseError);
  // Nothing was stored by the refused assignments.
  EXPECT_TRUE(ds->FieldByName("si")->IsNull());
  EXPECT_TRUE(ds->FieldByName("i")->IsNull());
  ds->FieldByName("big")->SetAsLargeInt(int64_t{1} << 40);
  EXPECT_THROW(ds->FieldByName("big")->AsInteger(), EDatabaseError);
  ds->FieldByName("b")->SetAsString("f");
  EXPECT_FALSE(ds->FieldByName("b")->AsBoolean());
  ds->Cancel();

  // A field without dataset.
  TIntegerField loose;
  EXPECT_THROW(loose.AsInteger(), EDatabaseError);
}

TEST(DatasetFrameworkFields, ValidationSeesTheNewValueAndCanRefuse) {
  auto ds = MakeTyped();
  ds->Open();
  TField* i = ds->FieldByName("i");
  std::string seen;
  i->OnValidate = [&](TField* f) {
    seen = f->AsString();
    if (f->AsInteger() < 0) throw EDatabaseError("negative");
  };
  int changes = 0;
  i->OnChange = [&](TField*) { ++changes; };
  ds->Edit();
  i->SetAsInteger(5);
  EXPECT_EQ(seen, "5");
  EXPECT_EQ(changes, 1);
  EXPECT_THROW(i->SetAsInteger(-3), EDatabaseError);
  EXPECT_EQ(seen, "-3");
  EXPECT_EQ(i->AsInteger(), 5);
  EXPECT_EQ(changes, 1);
  i->Clear();
  EXPECT_EQ(seen, "");
  ds->Cancel();
}

TEST(DatasetFrameworkFields, BlobFieldsUseStreamsAndTrackModified) {
  auto ds = MakeTyped();
  ds->Open();
  auto* blob = dynamic_cast<TBlobField*>(ds->FieldByName("blob"));
  ASSERT_NE(blob, nullptr);
  EXPECT_TRUE(blob->IsNull());
  EXPECT_EQ(blob->AsString(), "");
  EXPECT_THROW(blob->SetAsString("x"), EDatabaseError);  // browse mode
  ds->Edit();
  std::string bytes(100000, '\0');
  for (size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<char>(k * 7);
  blob->SetAsString(bytes);
  EXPECT_TRUE(blob->Modified());
  EXPECT_EQ(blob->AsString(), bytes);
  ds->Post();
  EXPECT_FALSE(blob->Modified());
  EXPECT_EQ(blob->AsString(), bytes);
  EXPECT_EQ(blob->Value().AsString(), bytes);

  TMemoryStream out;
  blob->SaveToStream(out);
  EXPECT_EQ(out.DataString(), bytes);
  ds->Edit();
  blob->Clear();
  EXPECT_TRUE(blob->IsNull());
  out.SetPosition(0);
  blob->LoadFromStream(out);
  ds->Post();
  EXPECT_EQ(blob->AsString(), bytes);
  EXPECT_THROW(blob->SetSize(-1), EDatabaseError);
}

TEST(DatasetFrameworkFields, CalculatedFieldsLiveInTheCalcArea) {
  auto ds = std::make_unique<TMemDataset>();
  ds->FieldDefs()->Add("a", ftInteger);
  ds->FieldDefs()->Add("b", ftInteger);
  ds->AddRow({Variant(2), Variant(3)});
  ds->AddRow({Variant(10), Null()});
  // Persistent fields: two data fields and two calculated ones.
  auto* a = new TIntegerField(ds.get());
  a->SetFieldName("a");
  a->SetDataSet(ds.get());
  auto* b = new TIntegerField(ds.get());
  b->SetFieldName("b");
  b->SetDataSet(ds.get());
  auto* sum = new TIntegerField(ds.get());
  sum->SetFieldName("sum");
  sum->SetFieldKind(fkCalculated);
  sum->SetDataSet(ds.get());
  auto* label = new TStringField(ds.get());
  label->SetFieldName("label");
  label->SetSize(10);
  label->SetFieldKind(fkCalculated);
  label->SetDataSet(ds.get());
  int calcs = 0;
  ds->OnCalcFields = [&](TDataSet* d) {
    ++calcs;
    EXPECT_EQ(d->State(), dsCalcFields);
    if (!d->FieldByName("b")->IsNull())
      d->FieldByName("sum")->SetAsInteger(d->FieldByName("a")->AsInteger() + d->FieldByName("b")->AsInteger());
    d->FieldByName("label")->SetAsString("row " + d->FieldByName("a")->AsString());
  };
  ds->Open();
  EXPECT_FALSE(ds->DefaultFields());
  EXPECT_EQ(sum->FieldNo(), -1);
  EXPECT_EQ(sum->Offset(), 0);
  EXPECT_EQ(label->Offset(), sum->DataSize() + 1);
  EXPECT_EQ(ds->CalcFieldsSize(), sum->DataSize() + 1 + label->DataSize() + 1);
  EXPECT_GT(calcs, 0);
  EXPECT_EQ(sum->AsInteger(), 5);
  EXPECT_EQ(label->AsString(), "row 2");
  ds->Next();
  EXPECT_TRUE(sum->IsNull());
  EXPECT_EQ(label->AsString(), "row 10");
  // Changing a data field in edit mode recalculates.
  ds->Edit();
  b->SetAsInteger(1);
  EXPECT_EQ(sum->AsInteger(), 11);
  ds->Post();
  EXPECT_EQ(sum->AsInteger(), 11);
  // Persistent fields survive close and reopen.
  ds->Close();
  EXPECT_EQ(ds->FieldCount(), 4);
  ds->Open();
  EXPECT_EQ(sum->AsInteger(), 5);
  // A calculated field may not be set outside the calculation, and data
  // fields may not be set inside it.
  ds->OnCalcFields = [](TDataSet* d) { d->FieldByName("a")->SetAsInteger(1); };
  EXPECT_THROW(ds->Refresh(), EDatabaseError);
}

TEST(DatasetFrameworkFields, LookupFieldsTakeValuesFromAnotherDataset) {
  TMemDataset cities;
  cities.FieldDefs()->Add("code", ftString, 3);
  cities.FieldDefs()->Add("city", ftString, 20);
  cities.AddRow({Variant("BER"), Variant("Berlin")});
  cities.AddRow({Variant("PAR"), Variant("Paris")});
  cities.Open();

  TMemDataset people;
  people.FieldDefs()->Add("name", ftString, 10);
  people.FieldDefs()->Add("code", ftString, 3);
  people.AddRow({Variant("ann"), Variant("PAR")});
  people.AddRow({Variant("bob"), Variant("XXX")});
  for (const char* n : {"name", "code"}) {
    auto* f = new TStringField(&people);
    f->SetFieldName(n);
    f->SetSize(n[0] == 'n' ? 10 : 3);
    f->SetDataSet(&people);
  }
  auto* city = new TStringField(&people);
  city->SetFieldName("city");
  city->SetFieldKind(fkLookup);
  city->SetLookupDataSet(&cities);
  city->SetKeyFields("code");
  city->SetLookupKeyFields("code");
  city->SetLookupResultField("city");
  city->SetDataSet(&people);
  people.Open();
  EXPECT_EQ(city->AsString(), "Paris");
  people.Next();
  EXPECT_TRUE(city->IsNull());
  // The lookup dataset going away drops the reference.
  people.Close();
  cities.Close();
  {
    TMemDataset gone;
    city->SetLookupDataSet(&gone);
  }
  EXPECT_EQ(city->LookupDataSet(), nullptr);
}

TEST(DatasetFrameworkFields, FieldAndIndexDefinitions) {
  TMemDataset ds;
  TFieldDefs* defs = ds.FieldDefs();
  TFieldDef* a = defs->Add("a", ftString, 30, true);
  EXPECT_EQ(a->FieldNo(), 1);
  EXPECT_TRUE(a->Required());
  EXPECT_TRUE(a->Attributes().Contains(faRequired));
  EXPECT_THROW(defs->Add("A", ftInteger), EDatabaseError);
  EXPECT_THROW(defs->Add("", ftInteger), EDatabaseError);
  TFieldDef* c = defs->AddFieldDef();
  c->SetName("c");
  c->SetDataType(ftInteger);
  c->SetFieldNo(7);
  c->SetAttributes(TFieldAttributes{faReadonly});
  c->SetInternalCalcField(true);
  EXPECT_FALSE(c->Required());
  EXPECT_EQ(c->FieldNo(), 7);
  EXPECT_EQ(defs->Find("C"), c);
  EXPECT_THROW(defs->Find("zz"), EDatabaseError);
  TFieldDef* u = defs->AddFieldDef();
  u->SetName("u");
  u->SetDataType(ftCursor);
  EXPECT_EQ(u->FieldClass(), nullptr);
  try {
    u->CreateField();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("unknown type"), std::string::npos);
  }
  delete u;
  ds.AddRow({Variant("x"), Variant(4)});
  ds.Open();
  TField* fc = ds.FieldByName("c");
  EXPECT_EQ(fc->FieldNo(), 7);
  EXPECT_TRUE(fc->ReadOnly());
  EXPECT_EQ(fc->FieldKind(), fkInternalCalc);
  EXPECT_EQ(ds.FieldByName("a")->Size(), 30);
  EXPECT_THROW(defs->Items(5), Exception);

  TIndexDefs* idx = ds.IndexDefs();
  idx->Add("PRIMARY", "a", TIndexOptions{ixPrimary, ixUnique});
  idx->Add("by_ac", "a;c", TIndexOptions{});
  EXPECT_EQ(idx->Find("primary")->Fields(), "a");
  EXPECT_TRUE(idx->Find("PRIMARY")->Options().Contains(ixPrimary));
  EXPECT_EQ(idx->FindIndexForFields("a;c"), idx->Items(1));
  EXPECT_EQ(idx->FindIndexForFields("A"), idx->Items(0));
  EXPECT_EQ(idx->FindIndexForFields("c"), nullptr);
  EXPECT_THROW(idx->Add("by_ac", "c", {}), EDatabaseError);

  TCheckConstraint* k = ds.Constraints()->Add();
  k->SetCustomConstraint("a <> ''");
  k->SetErrorMessage("a is empty");
  EXPECT_EQ(ds.Constraints()->Count(), 1);
}

TEST(DatasetFrameworkFields, DuplicateAndMisplacedFields) {
  TMemDataset ds;
  ds.FieldDefs()->Add("a", ftInteger);
  auto* f1 = new TIntegerField(&ds);
  f1->SetFieldName("a");
  f1->SetDataSet(&ds);
  auto* f2 = new TIntegerField(&ds);
  f2->SetFieldName("A");
  EXPECT_THROW(f2->SetDataSet(&ds), EDatabaseError);
  EXPECT_EQ(ds.FieldCount(), 1);
  ds.Open();
  EXPECT_THROW(f1->SetFieldName("b"), EDatabaseError);  // open dataset
  EXPECT_THROW(f2->SetDataSet(&ds), EDatabaseError);
  ds.Close();
  // A field deleted by its owner leaves the dataset's list.
  delete f1;
  EXPECT_EQ(ds.FieldCount(), 0);
  // A field whose name has no definition stops the open.
  f2->SetFieldName("nope");
  f2->SetDataSet(&ds);
  EXPECT_THROW(ds.Open(), EDatabaseError);
  EXPECT_FALSE(ds.Active());
}

}  // namespace
}  // namespace rowset
