#include "drivers/DriverText.h"

#include <charconv>

#include "util/MySQLStrUtils.h"

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

// TEMPORARY until wire/uMysqlHelpers.h (EscapeStr) is on main.
std::string EscapeBuiltIn(const std::string& s) {
  std::string out;
  out.reserve(s.size() * 2);
  for (char c : s) {
    switch (c) {
      case '\0': out += "\\0"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '"': out += "\\\""; break;
      case '\'': out += "\\'"; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace rowset::drivers_text
