// Unicode simple case folding for comparing UTF-8 texts without regard to
// letter case (é = É, ü = Ü, σ = ς = Σ), as the "C" and "S" mappings of the
// Unicode case folding data (version 14): one code point to one code point,
// so a folded text compares position by position. Multi-character
// foldings (ß to "ss") are not made.
//
// Texts are taken as UTF-8: a byte that does not start a well-formed
// sequence stands for itself and is folded only when it is an ASCII letter,
// so texts of other character sets still compare exactly apart from a-z.
#ifndef ROWSET_UTIL_MYSQLCASEFOLD_H_
#define ROWSET_UTIL_MYSQLCASEFOLD_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace rowset {

// The simple case folding of one code point (itself when it has none).
uint32_t FoldCodePoint(uint32_t C);

// S with every well-formed UTF-8 character replaced by its folding (encoded
// as UTF-8), other bytes as they are, ASCII letters lower-cased.
std::string FoldUtf8(std::string_view S);
// Appends FoldUtf8(S) to Out after clearing it (reuses Out's storage).
void FoldUtf8Into(std::string_view S, std::string& Out);

// S with only the ASCII letters lower-cased.
std::string FoldAscii(std::string_view S);

}  // namespace rowset

#endif  // ROWSET_UTIL_MYSQLCASEFOLD_H_
