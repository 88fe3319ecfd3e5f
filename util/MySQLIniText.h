// INI settings held in a string rather than a file: the connection's Params
// (sections "client", "direct", "embedded"), driver option text and worker
// thread settings are all read and written through these functions.
//
// Reading model. The text is split into lines at carriage returns, line feeds
// or both. An empty line or one starting with ";" is a comment and is
// dropped. A line starting with "[" opens a section; the whole line, brackets
// included and untrimmed, is its header. Other lines belong to the section
// opened last; lines before the first header are dropped. A section is found
// by comparing its header with "[" + name + "]", ASCII letter case ignored;
// among sections with the same header only the first counts. Within a
// section a key is the part of a line before its first "=" (case ignored, not
// trimmed) and its value everything after that "=".
//
// Writing rebuilds the whole text: every section's header, then its lines,
// each followed by "\r\n". Comments, empty lines and lines before the first
// header do not survive a write.
//
// No function changes its arguments; each returns the result.
#ifndef ROWSET_UTIL_MYSQLINITEXT_H_
#define ROWSET_UTIL_MYSQLINITEXT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "host/Exceptions.h"
#include "host/SysUtils.h"

namespace rowset {

// Raised by the writing functions for a section, key or value that the text
// could not hold: a line break anywhere, a key holding "=" or starting with
// ";" or "[" (it would be read back as another key, a comment or a header).
class EIniError : public Exception {
 public:
  using Exception::Exception;
};

// The key's value in the section; Default when the section or the key is
// missing. A present key with nothing after "=" gives the empty string.
std::string ReadIniString(std::string_view Text, std::string_view Section,
                          std::string_view Key, std::string_view Default);

// The section's lines (no header, comments or empty lines), each followed by
// "\r\n"; Default when the section is missing.
std::string ReadIniSection(std::string_view Text, std::string_view Section,
                           std::string_view Default);

// The text rebuilt with Key=Value in Section: a missing section is appended
// as "[" + Section + "]", a missing key is appended to its section, an
// existing key's line is replaced, or deleted when Value is empty (every
// line of the key in the section, so that a key written by hand twice does
// not read back after its deletion).
std::string WriteIniString(std::string_view Text, std::string_view Section,
                           std::string_view Key, std::string_view Value);

// The text rebuilt without the (first) section of that name; the text
// unchanged when there is no such section.
std::string EraseIniSection(std::string_view Text, std::string_view Section);

// The value as a 32-bit integer (decimal, or hexadecimal after "$" or "0x");
// Default when the key is missing or its value is not such an integer.
int32_t ReadIniInteger(std::string_view Text, std::string_view Section,
                       std::string_view Key, int32_t Default);
std::string WriteIniInteger(std::string_view Text, std::string_view Section,
                            std::string_view Key, int32_t Value);

// True exactly when the value equals "True", letter case ignored (so "1",
// "yes" and "on" are false); Default when the key is missing.
bool ReadIniBoolean(std::string_view Text, std::string_view Section,
                    std::string_view Key, bool Default);
// Writes "True" or "False".
std::string WriteIniBoolean(std::string_view Text, std::string_view Section,
                            std::string_view Key, bool Value);

// Float values are written with "." whatever the locale, and with the
// fewest digits that read back exactly, so a text written under one locale
// reads the same under every other. Reading tries "." first and then the
// locale's decimal separator (texts written by older versions); a value
// that is neither raises EConvertError. A missing key gives Default.
double ReadIniFloat(std::string_view Text, std::string_view Section,
                    std::string_view Key, double Default);
std::string WriteIniFloat(std::string_view Text, std::string_view Section,
                          std::string_view Key, double Value);

// Date-time values handled as their floats.
TDateTime ReadIniDateTime(std::string_view Text, std::string_view Section,
                          std::string_view Key, TDateTime Default);
std::string WriteIniDateTime(std::string_view Text, std::string_view Section,
                             std::string_view Key, TDateTime Value);

}  // namespace rowset

#endif  // ROWSET_UTIL_MYSQLINITEXT_H_
