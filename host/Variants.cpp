#include "host/Variants.h"

#include <cmath>
#include <limits>

namespace rowset {

Variant Variant::Null() {
  Variant v;
  v.type_ = varNull;
  return v;
}

Variant Variant::FromDateTime(TDateTime D) {
  Variant v(D);
  v.type_ = varDate;
  return v;
}

Variant Variant::FromCurrency(double C) {
  Variant v(C);
  v.type_ = varCurrency;
  return v;
}

Variant Variant::FromSmallint(int16_t I) {
  Variant v(static_cast<int32_t>(I));
  v.type_ = varSmallint;
  return v;
}

Variant Variant::FromWord(uint16_t I) {
  Variant v(static_cast<int32_t>(I));
  v.type_ = varWord;
  return v;
}

Variant Variant::Array(std::vector<Variant> Items) {
  Variant v;
  v.type_ = varArray;
  v.a_ = std::move(Items);
  return v;
}

Variant VarArrayOf(std::vector<Variant> Values) { return Variant::Array(std::move(Values)); }

namespace {

bool IsIntKind(TVarType t) {
  switch (t) {
    case varSmallint:
    case varInteger:
    case varShortInt:
    case varByte:
    case varWord:
    case varLongWord:
    case varInt64:
    case varUInt64:
      return true;
    default:
      return false;
  }
}

bool IsFloatKind(TVarType t) {
  return t == varSingle || t == varDouble || t == varCurrency || t == varDate;
}

}  // namespace

std::string VarTypeName(TVarType T) {
  switch (T) {
    case varEmpty: return "Empty";
    case varNull: return "Null";
    case varSmallint: return "Smallint";
    case varInteger: return "Integer";
    case varSingle: return "Single";
    case varDouble: return "Double";
    case varCurrency: return "Currency";
    case varDate: return "Date";
    case varBoolean: return "Boolean";
    case varShortInt: return "ShortInt";
    case varByte: return "Byte";
    case varWord: return "Word";
    case varLongWord: return "LongWord";
    case varInt64: return "Int64";
    case varUInt64: return "UInt64";
    case varString: return "String";
    case varArray: return "Array";
  }
  return "Unknown";
}

bool Variant::IsNumeric() const {
  return IsIntKind(type_) || type_ == varSingle || type_ == varDouble || type_ == varCurrency;
}

void Variant::CastError(const char* Target) const {
  throw EVariantError("Could not convert variant of type (" + VarTypeName(type_) + ") into type (" +
                      Target + ")");
}

int Variant::ArrayCount() const {
  if (type_ != varArray) throw EVariantError("Variant is not an array");
  return static_cast<int>(a_.size());
}

const Variant& Variant::ArrayItem(int Index) const {
  if (type_ != varArray) throw EVariantError("Variant is not an array");
  if (Index < 0 || Index >= static_cast<int>(a_.size()))
    throw EVariantError("Variant array index out of bounds (" + std::to_string(Index) + ")");
  return a_[Index];
}

const std::vector<Variant>& Variant::ArrayItems() const {
  if (type_ != varArray) throw EVariantError("Variant is not an array");
  return a_;
}

std::string Variant::AsString() const {
  if (type_ == varEmpty) return std::string();
  if (type_ == varString) return s_;
  if (type_ == varBoolean) return BoolToStr(i_ != 0);
  if (type_ == varUInt64) return std::to_string(static_cast<uint64_t>(i_));
  if (IsIntKind(type_)) return IntToStr(i_);
  if (type_ == varDate) return DateTimeToStr(d_);
  if (IsFloatKind(type_)) return FloatToStr(d_);
  CastError("String");
}

int64_t Variant::AsInt64() const {
  if (type_ == varEmpty) return 0;
  if (type_ == varBoolean) return i_ != 0 ? -1 : 0;
  if (type_ == varUInt64) throw EVariantError("Variant overflow converting to Int64");
  if (IsIntKind(type_)) return i_;
  double d;
  if (IsFloatKind(type_)) {
    d = d_;
  } else if (type_ == varString) {
    int64_t v;
    if (TryStrToInt64(s_, v)) return v;
    if (!TryStrToFloat(s_, d, GetFormatSettings().DecimalSeparator))
      throw EConvertError("'" + s_ + "' is not a valid integer value");
  } else {
    CastError("Int64");
  }
  // Floats round to the nearest integer, halves to even.
  double r = std::nearbyint(d);
  if (!(r >= -9223372036854775808.0 && r < 9223372036854775808.0))
    throw EVariantError("Variant overflow converting to Int64");
  return static_cast<int64_t>(r);
}

int32_t Variant::AsInteger() const {
  if (type_ == varNull || type_ == varArray) CastError("Integer");
  int64_t v = AsInt64();
  if (type_ == varLongWord) return static_cast<int32_t>(static_cast<uint32_t>(v));
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
    throw EVariantError("Variant overflow converting to Integer");
  return static_cast<int32_t>(v);
}

double Variant::AsFloat() const {
  if (type_ == varEmpty) return 0;
  if (type_ == varBoolean) return i_ != 0 ? -1 : 0;
  if (type_ == varUInt64) return static_cast<double>(static_cast<uint64_t>(i_));
  if (IsIntKind(type_)) return static_cast<double>(i_);
  if (IsFloatKind(type_)) return d_;
  if (type_ == varString) return StrToFloat(s_);
  CastError("Double");
}

bool Variant::AsBoolean() const {
  if (type_ == varEmpty) return false;
  if (type_ == varBoolean || IsIntKind(type_)) return i_ != 0;
  if (IsFloatKind(type_)) return d_ != 0;
  if (type_ == varString) return StrToBool(s_);
  CastError("Boolean");
}

TDateTime Variant::AsDateTime() const {
  if (type_ == varEmpty) return 0;
  if (IsIntKind(type_)) return static_cast<double>(i_);
  if (IsFloatKind(type_)) return d_;
  if (type_ == varString) return StrToDateTime(s_);
  CastError("Date");
}

bool Variant::operator==(const Variant& Other) const {
  if (type_ != Other.type_) return false;
  switch (type_) {
    case varEmpty:
    case varNull:
      return true;
    case varString:
      return s_ == Other.s_;
    case varArray:
      return a_ == Other.a_;
    default:
      return IsFloatKind(type_) ? d_ == Other.d_ : i_ == Other.i_;
  }
}

std::string VarToStr(const Variant& V) {
  if (V.IsNull() || V.IsEmpty()) return std::string();
  return V.AsString();
}

}  // namespace rowset
