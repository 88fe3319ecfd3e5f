// Variant: a value of one of the host's simple types, null or empty, or an
// array of variants. Parameters, field values and lookups carry values this
// way. Conversions between the kinds follow the host's rules: texts convert
// through the locale-aware parsers; empty becomes "", 0, false or the date
// 0; null refuses to become a number or text (EVariantError) unless the
// caller uses VarToStr or a default.
#ifndef ROWSET_HOST_VARIANTS_H_
#define ROWSET_HOST_VARIANTS_H_

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "host/Exceptions.h"
#include "host/SysUtils.h"

namespace rowset {

enum TVarType : uint16_t {
  varEmpty = 0x0000,
  varNull = 0x0001,
  varSmallint = 0x0002,
  varInteger = 0x0003,
  varSingle = 0x0004,
  varDouble = 0x0005,
  varCurrency = 0x0006,
  varDate = 0x0007,
  varBoolean = 0x000B,
  varShortInt = 0x0010,
  varByte = 0x0011,
  varWord = 0x0012,
  varLongWord = 0x0013,
  varInt64 = 0x0014,
  varUInt64 = 0x0015,
  varString = 0x0100,
  varArray = 0x2000
};

class Variant {
 public:
  Variant() = default;  // empty
  Variant(bool B) : type_(varBoolean), i_(B ? 1 : 0) {}
  // Integers: 32-bit and smaller kinds become varInteger (unsigned 32-bit
  // varLongWord), wider ones varInt64; an unsigned 64-bit value above the
  // signed range becomes varUInt64, so that it keeps its value.
  template <typename T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>, int> = 0>
  Variant(T I) : i_(static_cast<int64_t>(I)) {
    if constexpr (sizeof(T) < 4 || (sizeof(T) == 4 && std::is_signed_v<T>))
      type_ = varInteger;
    else if constexpr (sizeof(T) == 4)
      type_ = varLongWord;
    else if constexpr (std::is_unsigned_v<T>)
      type_ = I > static_cast<T>(INT64_MAX) ? varUInt64 : varInt64;
    else
      type_ = varInt64;
  }
  Variant(double D) : type_(varDouble), d_(D) {}
  Variant(const std::string& S) : type_(varString), s_(S) {}
  Variant(std::string&& S) : type_(varString), s_(std::move(S)) {}
  Variant(const char* S) : type_(varString), s_(S ? S : "") {}

  static Variant Null();
  static Variant FromDateTime(TDateTime D);
  static Variant FromCurrency(double C);
  static Variant FromSmallint(int16_t I);
  static Variant FromWord(uint16_t I);
  static Variant Array(std::vector<Variant> Items);

  TVarType VarType() const { return type_; }
  bool IsEmpty() const { return type_ == varEmpty; }
  bool IsNull() const { return type_ == varNull; }
  bool IsArray() const { return type_ == varArray; }
  bool IsString() const { return type_ == varString; }
  bool IsNumeric() const;  // integer or float kinds (not boolean, not date)

  // Array access; raises EVariantError for a non-array or a bad index.
  int ArrayCount() const;
  const Variant& ArrayItem(int Index) const;
  const std::vector<Variant>& ArrayItems() const;

  // Conversions. Empty gives "", 0, false or 0; null and arrays raise
  // EVariantError; a text that is not a number, date or boolean raises
  // EConvertError.
  std::string AsString() const;
  int32_t AsInteger() const;
  int64_t AsInt64() const;
  double AsFloat() const;
  bool AsBoolean() const;
  TDateTime AsDateTime() const;

  // Same kind and same value (arrays element by element).
  bool operator==(const Variant& Other) const;
  bool operator!=(const Variant& Other) const { return !(*this == Other); }

 private:
  [[noreturn]] void CastError(const char* Target) const;

  TVarType type_ = varEmpty;
  int64_t i_ = 0;
  double d_ = 0;
  std::string s_;
  std::vector<Variant> a_;
};

inline Variant Null() { return Variant::Null(); }
inline Variant Unassigned() { return Variant(); }
inline bool VarIsNull(const Variant& V) { return V.IsNull(); }
inline bool VarIsEmpty(const Variant& V) { return V.IsEmpty(); }
inline bool VarIsArray(const Variant& V) { return V.IsArray(); }
// The text of V; empty for null and empty.
std::string VarToStr(const Variant& V);
Variant VarArrayOf(std::vector<Variant> Values);
// A readable kind name for messages ("Null", "String", "Integer", ...).
std::string VarTypeName(TVarType T);

}  // namespace rowset

#endif  // ROWSET_HOST_VARIANTS_H_
