#include "host/Params.h"

namespace rowset {

std::string FieldTypeName(TFieldType Type) {
  static const char* const kNames[kFieldTypeCount] = {
      "Unknown",   "String",    "Smallint",  "Integer",    "Word",      "Boolean",   "Float",
      "Currency",  "BCD",       "Date",      "Time",       "DateTime",  "Bytes",     "VarBytes",
      "AutoInc",   "Blob",      "Memo",      "Graphic",    "FmtMemo",   "ParadoxOle", "DBaseOle",
      "TypedBinary", "Cursor",  "FixedChar", "WideString", "Largeint",  "ADT",       "Array",
      "Reference", "DataSet",   "OraBlob",   "OraClob",    "Variant",   "Interface", "IDispatch",
      "Guid",      "TimeStamp", "FMTBcd"};
  if (Type < 0 || Type >= kFieldTypeCount) return "Unknown";
  return kNames[Type];
}

// ---------------------------------------------------------------------------
// TParam

TParam::TParam(TCollection* ACollection) : TCollectionItem(ACollection) {}

TParam::TParam(TParams* AParams, TParamType AParamType) : TCollectionItem(AParams) {
  param_type_ = AParamType;
}

namespace {

// The variant kind a field type's values are held as (varEmpty: keep).
TVarType VarTypeOf(TFieldType t) {
  switch (t) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
    case ftMemo:
    case ftFmtMemo:
    case ftBlob:
    case ftGraphic:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
    case ftOraBlob:
    case ftOraClob:
    case ftGuid:
      return varString;
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
      return varInteger;
    case ftLargeint:
      return varInt64;
    case ftBoolean:
      return varBoolean;
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftFMTBcd:
      return varDouble;
    case ftDate:
    case ftTime:
    case ftDateTime:
    case ftTimeStamp:
      return varDate;
    default:
      return varEmpty;
  }
}

Variant ConvertTo(const Variant& v, TVarType t) {
  switch (t) {
    case varString:
      return Variant(v.AsString());
    case varInteger:
      return Variant(v.AsInteger());
    case varInt64:
      return Variant(v.AsInt64());
    case varBoolean:
      return Variant(v.AsBoolean());
    case varDouble:
      return Variant(v.AsFloat());
    case varDate:
      return Variant::FromDateTime(v.AsDateTime());
    default:
      return v;
  }
}

}  // namespace

void TParam::SetDataType(TFieldType Value) {
  if (!IsNull() && Value != data_type_) {
    TVarType t = VarTypeOf(Value);
    if (t != varEmpty && t != value_.VarType()) {
      try {
        value_ = ConvertTo(value_, t);
      } catch (const Exception&) {
        value_ = Variant::Null();
      }
    }
  }
  data_type_ = Value;
}

void TParam::SetValue(const Variant& Value) {
  bound_ = !Value.IsEmpty();
  if (data_type_ == ftUnknown) {
    switch (Value.VarType()) {
      case varSmallint:
      case varShortInt:
      case varByte:
        data_type_ = ftSmallint;
        break;
      case varWord:
        data_type_ = ftWord;
        break;
      case varInteger:
      case varLongWord:
        data_type_ = ftInteger;
        break;
      case varInt64:
        data_type_ = ftLargeint;
        break;
      case varCurrency:
        data_type_ = ftBCD;
        break;
      case varSingle:
      case varDouble:
        data_type_ = ftFloat;
        break;
      case varDate:
        data_type_ = ftDateTime;
        break;
      case varBoolean:
        data_type_ = ftBoolean;
        break;
      case varString:
        data_type_ = ftString;
        break;
      default:
        break;
    }
  }
  value_ = Value;
}

std::string TParam::AsString() const {
  if (IsNull()) return std::string();
  return value_.AsString();
}

void TParam::SetAsString(const std::string& Value) {
  if (data_type_ != ftFixedChar) data_type_ = ftString;
  SetValue(Variant(Value));
}

int32_t TParam::AsInteger() const { return IsNull() ? 0 : value_.AsInteger(); }
void TParam::SetAsInteger(int32_t Value) {
  data_type_ = ftInteger;
  SetValue(Variant(Value));
}
void TParam::SetAsSmallInt(int16_t Value) {
  data_type_ = ftSmallint;
  SetValue(Variant::FromSmallint(Value));
}
void TParam::SetAsWord(uint16_t Value) {
  data_type_ = ftWord;
  SetValue(Variant::FromWord(Value));
}
int64_t TParam::AsLargeInt() const { return IsNull() ? 0 : value_.AsInt64(); }
void TParam::SetAsLargeInt(int64_t Value) {
  data_type_ = ftLargeint;
  SetValue(Variant(Value));
}
double TParam::AsFloat() const { return IsNull() ? 0.0 : value_.AsFloat(); }
void TParam::SetAsFloat(double Value) {
  data_type_ = ftFloat;
  SetValue(Variant(Value));
}
void TParam::SetAsCurrency(double Value) {
  data_type_ = ftCurrency;
  SetValue(Variant::FromCurrency(Value));
}
bool TParam::AsBoolean() const { return IsNull() ? false : value_.AsBoolean(); }
void TParam::SetAsBoolean(bool Value) {
  data_type_ = ftBoolean;
  SetValue(Variant(Value));
}
TDateTime TParam::AsDateTime() const { return IsNull() ? 0.0 : value_.AsDateTime(); }
void TParam::SetAsDateTime(TDateTime Value) {
  data_type_ = ftDateTime;
  SetValue(Variant::FromDateTime(Value));
}
void TParam::SetAsDate(TDateTime Value) {
  data_type_ = ftDate;
  SetValue(Variant::FromDateTime(Value));
}
void TParam::SetAsTime(TDateTime Value) {
  data_type_ = ftTime;
  SetValue(Variant::FromDateTime(Value));
}
void TParam::SetAsMemo(const std::string& Value) {
  data_type_ = ftMemo;
  SetValue(Variant(Value));
}
void TParam::SetAsBlob(const std::string& Value) {
  data_type_ = ftBlob;
  SetValue(Variant(Value));
}

int TParam::GetDataSize() const {
  switch (data_type_) {
    case ftUnknown:
      throw EDatabaseError("Field '" + name_ + "' is of an unknown type");
    case ftString:
    case ftFixedChar:
    case ftMemo:
    case ftADT:
    case ftWideString:
      return static_cast<int>(VarToStr(value_).size()) + 1;
    case ftBoolean:
      return 2;
    case ftBCD:
    case ftFMTBcd:
      return 34;
    case ftDateTime:
    case ftCurrency:
    case ftFloat:
      return 8;
    case ftTime:
    case ftDate:
    case ftAutoInc:
    case ftInteger:
      return 4;
    case ftSmallint:
    case ftWord:
      return 2;
    case ftLargeint:
      return 8;
    case ftTimeStamp:
      return 16;
    case ftBytes:
    case ftVarBytes:
      if (value_.IsArray()) return value_.ArrayCount();
      return static_cast<int>(VarToStr(value_).size());
    case ftBlob:
    case ftGraphic:
    case ftFmtMemo:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
    case ftOraBlob:
    case ftOraClob:
      return static_cast<int>(VarToStr(value_).size());
    default:
      return 0;
  }
}

void TParam::Assign(TPersistent* Source) {
  if (auto* p = dynamic_cast<TParam*>(Source)) {
    if (p == this) return;
    name_ = p->name_;
    data_type_ = p->data_type_;
    param_type_ = p->param_type_;
    value_ = p->value_;
    bound_ = p->bound_;
    return;
  }
  TCollectionItem::Assign(Source);
}

std::string TParam::DisplayName() const { return name_.empty() ? TCollectionItem::DisplayName() : name_; }

// ---------------------------------------------------------------------------
// TParams

TParams::TParams(TPersistent* AOwner)
    : TCollection([](TCollection* c) { return new TParam(c); }, AOwner) {}

void TParams::AddParam(TParam* Value) {
  if (Value != nullptr) Value->SetCollection(this);
}

void TParams::RemoveParam(TParam* Value) {
  if (Value != nullptr && Value->Collection() == this) Value->SetCollection(nullptr);
}

TParam* TParams::CreateParam(TFieldType FldType, const std::string& ParamName, TParamType ParamType) {
  TParam* p = Add();
  p->SetName(ParamName);
  p->SetDataType(FldType);
  p->SetParamType(ParamType);
  return p;
}

TParam* TParams::FindParam(const std::string& Value) const {
  for (int i = 0; i < Count(); ++i)
    if (SameText(Items(i)->Name(), Value)) return Items(i);
  return nullptr;
}

TParam* TParams::ParamByName(const std::string& Value) const {
  TParam* p = FindParam(Value);
  if (p == nullptr) throw EDatabaseError("Parameter '" + Value + "' not found");
  return p;
}

void TParams::AssignValues(const TParams& Value) {
  if (&Value == this) return;
  for (int i = 0; i < Value.Count(); ++i) {
    TParam* p = FindParam(Value.Items(i)->Name());
    if (p != nullptr) p->Assign(Value.Items(i));
  }
}

bool TParams::IsEqual(const TParams& Value) const {
  if (Count() != Value.Count()) return false;
  for (int i = 0; i < Count(); ++i) {
    const TParam* a = Items(i);
    const TParam* b = Value.Items(i);
    if (a->Name() != b->Name() || a->DataType() != b->DataType() || a->ParamType() != b->ParamType() ||
        a->Bound() != b->Bound() || !(a->Value() == b->Value()))
      return false;
  }
  return true;
}

void TParams::GetParamList(std::vector<TParam*>& List, const std::string& ParamNames) const {
  size_t start = 0;
  while (start <= ParamNames.size()) {
    size_t end = ParamNames.find(';', start);
    if (end == std::string::npos) end = ParamNames.size();
    std::string name = Trim(ParamNames.substr(start, end - start));
    if (!name.empty()) List.push_back(ParamByName(name));
    start = end + 1;
  }
}

Variant TParams::ParamValues(const std::string& ParamName) const {
  if (ParamName.find(';') == std::string::npos) return ParamByName(ParamName)->Value();
  std::vector<TParam*> list;
  GetParamList(list, ParamName);
  std::vector<Variant> values;
  for (TParam* p : list) values.push_back(p->Value());
  return Variant::Array(std::move(values));
}

void TParams::SetParamValues(const std::string& ParamName, const Variant& Value) {
  if (ParamName.find(';') == std::string::npos) {
    ParamByName(ParamName)->SetValue(Value);
    return;
  }
  std::vector<TParam*> list;
  GetParamList(list, ParamName);
  if (!Value.IsArray() || Value.ArrayCount() != static_cast<int>(list.size()))
    throw EDatabaseError("Wrong number of values for parameters " + ParamName);
  for (size_t i = 0; i < list.size(); ++i) list[i]->SetValue(Value.ArrayItem(static_cast<int>(i)));
}

}  // namespace rowset
