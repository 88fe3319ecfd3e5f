// libFuzzer target for the literal conversions between MySQL's texts and
// native values. The input is the text. Every conversion must finish without
// touching memory outside the text; a float read from the text is written
// and read back to the same value.
#include <cmath>
#include <cstring>
#include <cstddef>
#include <cstdint>
#include <string>

#include "util/MySQLValueText.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

template <typename F>
void Tolerant(F f) {
  try {
    f();
  } catch (const rowset::EConvertError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string s(reinterpret_cast<const char*>(data), size);
  (void)rowset::MySQLStrToDate(s);
  (void)rowset::MySQLStrToTime(s);
  (void)rowset::MySQLStrToDateTime(s);
  (void)rowset::MySQLTimeStampToDate(s);
  (void)rowset::MySQLTimeStampToTime(s);
  (void)rowset::MySQLTimeStampToDateTime(s);
  rowset::TTimeStamp ts{};
  rowset::MySQLDateStrToTimeStamp(s, ts);
  rowset::MySQLTimeStrToTimeStamp(s, ts);
  rowset::MySQLDateTimeStrToTimeStamp(s, ts);
  rowset::MySQLTimeStampStrToTimeStamp(s, ts);
  Check(ts.Time >= 0 && ts.Time < 86400000 && ts.Date >= 0);
  (void)rowset::MySQLDateTimeStrToTimeStamp(std::string_view(s));
  Tolerant([&] { (void)rowset::StrFloatToDateTime(s); });
  Tolerant([&] { (void)rowset::StrFloatToDate(s); });
  Tolerant([&] { (void)rowset::StrFloatToTime(s); });
  Tolerant([&] { (void)rowset::StrToDateTimeFmt(s); });
  (void)rowset::IsValidInt(s);
  (void)rowset::IsValidFloat(s);
  Tolerant([&] {
    double x = rowset::MySQLStrToFloat(s);
    if (std::isfinite(x)) Check(rowset::MySQLStrToFloat(rowset::MySQLFloatToStr(x)) == x);
  });
  if (size == sizeof(double)) {
    double x;
    std::memcpy(&x, data, sizeof x);
    if (std::isfinite(x)) Check(rowset::MySQLStrToFloat(rowset::MySQLFloatToStr(x)) == x);
  }
  return 0;
}
