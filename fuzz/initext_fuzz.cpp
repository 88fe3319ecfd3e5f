// libFuzzer target for the INI text functions. The input holds the text, a
// section, a key and a value separated by byte 1. Every reader and writer
// must finish; a write that succeeds must read back: the value written is
// the value read, and writing it again changes nothing.
#include <cmath>
#include <functional>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "util/MySQLIniText.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t i = 0; i <= input.size() && parts.size() < 3; ++i) {
    if (i < input.size() && input[i] != '\x01') continue;
    parts.push_back(input.substr(start, i - start));
    start = i + 1;
  }
  parts.push_back(start <= input.size() ? input.substr(start) : std::string());
  while (parts.size() < 4) parts.emplace_back();
  const std::string& text = parts[0];
  const std::string& section = parts[1];
  const std::string& key = parts[2];
  const std::string& value = parts[3];

  (void)rowset::ReadIniString(text, section, key, "default");
  (void)rowset::ReadIniSection(text, section, "default");
  (void)rowset::ReadIniInteger(text, section, key, 7);
  (void)rowset::ReadIniBoolean(text, section, key, true);
  try {
    (void)rowset::ReadIniFloat(text, section, key, 1.5);
  } catch (const rowset::EConvertError&) {
  }
  (void)rowset::EraseIniSection(text, section);

  std::string written;
  try {
    written = rowset::WriteIniString(text, section, key, value);
  } catch (const rowset::EIniError&) {
    return 0;
  }
  const std::string marker("\x02" "absent" "\x02");
  std::string back = rowset::ReadIniString(written, section, key, marker);
  Check(value.empty() ? back == marker : back == value);
  // Writing the same again changes nothing.
  Check(rowset::WriteIniString(written, section, key, value) == written);
  // (Erasing is not checked this way: it removes the first section of the
  // name only, and a later one of the same name may hold the key too.)
  (void)rowset::EraseIniSection(written, section);

  int32_t number = static_cast<int32_t>(std::hash<std::string>{}(value));
  Check(rowset::ReadIniInteger(rowset::WriteIniInteger(text, section, key, number), section, key,
                               number + 1) == number);
  double real = static_cast<double>(number) / 7.0;
  Check(rowset::ReadIniFloat(rowset::WriteIniFloat(text, section, key, real), section, key, 0) ==
        real);
  return 0;
}
