// Unicode simple case folding of UTF-8 texts: letters of several scripts,
// the foldings that are not lower-casing, the multi-character ones that are
// not made, and bytes that are not UTF-8.
#include <gtest/gtest.h>

#include <string>

#include "util/MySQLCaseFold.h"

namespace rowset {
namespace {

TEST(CaseFold, CodePoints) {
  EXPECT_EQ(FoldCodePoint('A'), static_cast<uint32_t>('a'));
  EXPECT_EQ(FoldCodePoint('z'), static_cast<uint32_t>('z'));
  EXPECT_EQ(FoldCodePoint(0x00C9), 0x00E9u);  // É
  EXPECT_EQ(FoldCodePoint(0x00DC), 0x00FCu);  // Ü
  EXPECT_EQ(FoldCodePoint(0x00D7), 0x00D7u);  // × has no case
  EXPECT_EQ(FoldCodePoint(0x0178), 0x00FFu);  // Ÿ
  EXPECT_EQ(FoldCodePoint(0x0100), 0x0101u);  // Ā, every second code point
  EXPECT_EQ(FoldCodePoint(0x0101), 0x0101u);
  EXPECT_EQ(FoldCodePoint(0x03A3), 0x03C3u);  // Σ
  EXPECT_EQ(FoldCodePoint(0x03C2), 0x03C3u);  // final ς folds to σ
  EXPECT_EQ(FoldCodePoint(0x00B5), 0x03BCu);  // micro sign to μ
  EXPECT_EQ(FoldCodePoint(0x017F), 0x0073u);  // long s to s
  EXPECT_EQ(FoldCodePoint(0x0416), 0x0436u);  // Ж
  EXPECT_EQ(FoldCodePoint(0x0401), 0x0451u);  // Ё
  EXPECT_EQ(FoldCodePoint(0x212A), 0x006Bu);  // Kelvin sign to k
  EXPECT_EQ(FoldCodePoint(0x1E9E), 0x00DFu);  // capital sharp s to ß
  EXPECT_EQ(FoldCodePoint(0x00DF), 0x00DFu);  // ß stays (its folding "ss" is not simple)
  EXPECT_EQ(FoldCodePoint(0x0130), 0x0130u);  // İ has no simple folding
  EXPECT_EQ(FoldCodePoint(0xFF21), 0xFF41u);  // fullwidth A
  EXPECT_EQ(FoldCodePoint(0x10400), 0x10428u);  // Deseret
  EXPECT_EQ(FoldCodePoint(0x10FFFF), 0x10FFFFu);
}

TEST(CaseFold, Utf8Texts) {
  EXPECT_EQ(FoldUtf8("\xC3\x89" "CLAIR"), "\xC3\xA9" "clair");
  EXPECT_EQ(FoldUtf8("\xC3\x9C" "BER"), FoldUtf8("\xC3\xBC" "ber"));
  EXPECT_EQ(FoldUtf8("\xCE\xA3\xCE\xBF\xCF\x86\xCE\xAF\xCE\xB1"), "\xCF\x83\xCE\xBF\xCF\x86\xCE\xAF\xCE\xB1");
  EXPECT_EQ(FoldUtf8("\xE2\x84\xAA"), "k");  // a 3-byte letter folds to a 1-byte one
  // Bytes that are not UTF-8 stand for themselves; ASCII letters still fold.
  EXPECT_EQ(FoldUtf8(std::string("\xC9X\xFF\0Y", 5)), std::string("\xC9x\xFF\0y", 5));
  EXPECT_EQ(FoldUtf8("\xE0\x80\x80"), "\xE0\x80\x80");  // overlong
  EXPECT_EQ(FoldUtf8("\xC3"), "\xC3");                  // cut short
  EXPECT_EQ(FoldAscii("\xC3\x89" "Ab"), "\xC3\x89" "ab");
}

}  // namespace
}  // namespace rowset
