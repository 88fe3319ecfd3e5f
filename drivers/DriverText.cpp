#include "drivers/DriverText.h"

#include <charconv>

#include "util/MySQLStrUtils.h"
#include "wire/uMysqlHelpers.h"

namespace rowset::drivers_text {

std::string Word(uint8_t n, const std::string& s, const std::string& separators) {
  return WordInStr(n, s, separators);
}

int32_t StrToIntDef(const std::string& s, int32_t fallback) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  const char* first = s.data() + i;
  const char* last = s.data() + s.size();
  if (first != last && *first == '+') ++first;
  int32_t value = 0;
  auto [end, ec] = std::from_chars(first, last, value);
  if (ec != std::errc() || end != last || first == last) return fallback;
  return value;
}

std::string EscapeBuiltIn(const std::string& s) { return ::rowset::EscapeStr(s); }

}  // namespace rowset::drivers_text
