// Small text helpers of the drivers: the word splitter of version texts,
// integer conversion of option values, and the built-in escaping used when
// there is no connection to escape for.
#ifndef ROWSET_DRIVERS_DRIVERTEXT_H_
#define ROWSET_DRIVERS_DRIVERTEXT_H_

#include <cstdint>
#include <string>

namespace rowset::drivers_text {

// The n-th word of `s` between characters of `separators`.
std::string Word(uint8_t n, const std::string& s, const std::string& separators);

// The decimal integer of `s` (leading blanks and a sign allowed, nothing
// after the digits); `fallback` when it is not one or out of 32-bit range.
int32_t StrToIntDef(const std::string& s, int32_t fallback);

// The built-in client's escaping of a value for use inside quotes.
std::string EscapeBuiltIn(const std::string& s);

}  // namespace rowset::drivers_text

#endif  // ROWSET_DRIVERS_DRIVERTEXT_H_
