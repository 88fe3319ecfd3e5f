#include "util/MySQLStrUtils.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>

namespace rowset {
namespace {

TEST(WordInStrTest, VersionTextWords) {
  EXPECT_EQ(WordInStr(1, "4.0.18-nt", ".- "), "4");
  EXPECT_EQ(WordInStr(2, "4.0.18-nt", ".- "), "0");
  EXPECT_EQ(WordInStr(3, "4.0.18-nt", ".- "), "18");
  EXPECT_EQ(WordInStr(4, "4.0.18-nt", ".- "), "nt");
  EXPECT_EQ(WordInStr(5, "4.0.18-nt", ".- "), "");
}

TEST(WordInStrTest, RunsOfSeparatorsCountAsOne) {
  EXPECT_EQ(WordInStr(1, "..a..b", "."), "a");
  EXPECT_EQ(WordInStr(2, "..a..b", "."), "b");
  EXPECT_EQ(WordInStr(3, "..a..b", "."), "");
  EXPECT_EQ(WordInStr(2, "a..b..", "."), "b");
  EXPECT_EQ(WordInStr(1, "db..tbl", "."), "db");
  EXPECT_EQ(WordInStr(2, "db..tbl", "."), "tbl");
}

TEST(WordInStrTest, DegenerateInputs) {
  EXPECT_EQ(WordInStr(0, "a b", " "), "");
  EXPECT_EQ(WordInStr(1, "", " "), "");
  EXPECT_EQ(WordInStr(1, "   ", " "), "");
  EXPECT_EQ(WordInStr(1, "abc", ""), "abc");  // no separators: one word
  EXPECT_EQ(WordInStr(2, "abc", ""), "");
  EXPECT_EQ(WordInStr(255, "a", "."), "");
  // Bytes above 127 and NUL are ordinary characters.
  std::string s("x\0y \xE9t\xE9", 7);
  EXPECT_EQ(WordInStr(1, s, " "), std::string("x\0y", 3));
  EXPECT_EQ(WordInStr(2, s, " "), "\xE9t\xE9");
}

TEST(WordInStrTest, ManyWordsUpTo255) {
  std::string s;
  for (int i = 1; i <= 300; ++i) s += std::to_string(i) + ",";
  EXPECT_EQ(WordInStr(255, s, ","), "255");
  EXPECT_EQ(WordInStr(1, s, ",;"), "1");
}

TEST(WordInStrTest, LettersAsSeparatorsCutPatchNumber) {
  std::string letters;
  for (char c = 'a'; c <= 'z'; ++c) letters += c;
  for (char c = 'A'; c <= 'Z'; ++c) letters += c;
  EXPECT_EQ(WordInStr(3, "4.1.1-alpha", ".- " + letters), "1");
  EXPECT_EQ(WordInStr(3, "5.0.96a", ".- " + letters), "96");
}

TEST(ChangeWordInStrTest, ReplacesOnlyTheWordAndKeepsSeparators) {
  std::string s = "..a..bb.c";
  ChangeWordInStr(2, s, "XYZ", ".");
  EXPECT_EQ(s, "..a..XYZ.c");
  ChangeWordInStr(3, s, "", ".");
  EXPECT_EQ(s, "..a..XYZ.");
  ChangeWordInStr(1, s, "q.r", ".");
  EXPECT_EQ(s, "..q.r..XYZ.");
}

TEST(ChangeWordInStrTest, FewerWordsOrZeroLeavesTextUnchanged) {
  std::string s = "a b";
  ChangeWordInStr(3, s, "z", " ");
  EXPECT_EQ(s, "a b");
  ChangeWordInStr(0, s, "z", " ");
  EXPECT_EQ(s, "a b");
  std::string e;
  ChangeWordInStr(1, e, "z", " ");
  EXPECT_EQ(e, "");
}

TEST(ChangeWordInStrTest, AgreesWithWordInStrOnRandomTexts) {
  std::mt19937 rng(7);
  const std::string alphabet = "ab.- ";
  for (int iter = 0; iter < 2000; ++iter) {
    std::string s;
    int len = rng() % 12;
    for (int i = 0; i < len; ++i) s += alphabet[rng() % alphabet.size()];
    uint8_t n = static_cast<uint8_t>(rng() % 5);
    std::string changed = s;
    ChangeWordInStr(n, changed, "W", ".- ");
    if (WordInStr(n, s, ".- ").empty()) {
      EXPECT_EQ(changed, s);
    } else {
      EXPECT_EQ(WordInStr(n, changed, ".- "), "W") << s;
      for (uint8_t k = 1; k < 6; ++k)
        if (k != n) {
          EXPECT_EQ(WordInStr(k, changed, ".- "), WordInStr(k, s, ".- ")) << s;
        }
    }
  }
}

TEST(FieldInStrTest, SingleCharacterDelimiter) {
  EXPECT_EQ(FieldInStr(1, "a,b,c", ",", ""), "a");
  EXPECT_EQ(FieldInStr(2, "a,b,c", ",", ""), "b");
  EXPECT_EQ(FieldInStr(3, "a,b,c", ",", ""), "c");
  EXPECT_EQ(FieldInStr(9, "a,b,c", ",", ""), "c");  // beyond: the last field
  EXPECT_EQ(FieldInStr(2, "a,,c", ",", ""), "");
  EXPECT_EQ(FieldInStr(0, "a,b", ",", ""), "");
  EXPECT_EQ(FieldInStr(2, "a,b", "", ""), "a,b");
}

TEST(FieldInStrTest, MultiCharacterDelimiterDropsOnlyItsFirstCharacter) {
  EXPECT_EQ(FieldInStr(1, "a::b::c", "::", ""), "a");
  EXPECT_EQ(FieldInStr(2, "a::b::c", "::", ""), ":b");
  EXPECT_EQ(FieldInStr(3, "a::b::c", "::", ""), ":c");
}

TEST(FieldInStrTest, CleanSetTrimsTheResult) {
  EXPECT_EQ(FieldInStr(2, "a,  b ,c", ",", " "), "b");
  EXPECT_EQ(FieldInStr(1, "'x' ,y", ",", " '"), "x");
}

TEST(GetWordTest, FieldsByMultiCharacterDelimiter) {
  EXPECT_EQ(GetWord("a::b::c", "::", 1), "a");
  EXPECT_EQ(GetWord("a::b::c", "::", 2), "b");
  EXPECT_EQ(GetWord("a::b::c", "::", 3), "c");
  EXPECT_EQ(GetWord("a::b::c", "::", 4), "");
  EXPECT_EQ(GetWord("a::", "::", 2), "");
  EXPECT_EQ(GetWord("::a", "::", 1), "");
  EXPECT_EQ(GetWord("::a", "::", 2), "a");
  EXPECT_EQ(GetWord("", "::", 1), "");
  EXPECT_EQ(GetWord("abc", "", 1), "");
  EXPECT_EQ(GetWord("abc", ",", 0), "");
  EXPECT_EQ(GetWord("abc", ",", -3), "");
  EXPECT_EQ(GetStrWord(2, "x;y;z", ";"), "y");
}

TEST(GetPrefixWordTest, LeadingFields) {
  EXPECT_EQ(GetPrefixWord(1, "a.b.c", "."), "a");
  EXPECT_EQ(GetPrefixWord(2, "a.b.c", "."), "a.b");
  EXPECT_EQ(GetPrefixWord(3, "a.b.c", "."), "a.b.c");
  EXPECT_EQ(GetPrefixWord(7, "a.b.c", "."), "a.b.c");
  EXPECT_EQ(GetPrefixWord(2, "a.b.", "."), "a.b");
  EXPECT_EQ(GetPrefixWord(2, "a<>b<>c", "<>"), "a<>b");
  EXPECT_EQ(GetPrefixWord(0, "a.b", "."), "");
  EXPECT_EQ(GetPrefixWord(1, "", "."), "");
  EXPECT_EQ(GetPrefixWord(1, "a.b", ""), "");
}

TEST(CleanTest, TrimsAndRemovesSetCharacters) {
  EXPECT_EQ(PreStrClean(" \t x y \t", " \t"), "x y \t");
  EXPECT_EQ(PostStrClean(" \t x y \t", " \t"), " \t x y");
  EXPECT_EQ(PrePostStrClean(" \t x y \t", " \t"), "x y");
  EXPECT_EQ(PrePostStrClean("    ", " "), "");
  EXPECT_EQ(PrePostStrClean("", " "), "");
  EXPECT_EQ(PrePostStrClean("abc", ""), "abc");
  EXPECT_EQ(InStrClean("a-b_c-", "-_"), "abc");
  EXPECT_EQ(OneStr("a\r\nb\tc", "\r\n\t"), "a  b c");
}

TEST(ReplaceSubStrTest, EachCharacterReplacedOnce) {
  EXPECT_EQ(ReplaceSubStr("a'b'c", "'", "''"), "a''b''c");
  EXPECT_EQ(ReplaceSubStr("x.y", ".", ""), "xy");
  EXPECT_EQ(ReplaceSubStr("", "a", "b"), "");
  // A replacement holding set characters must not loop forever.
  EXPECT_EQ(ReplaceSubStr("ab", "ab", "ba"), "baba");
}

TEST(CountSubStrTest, CountsOccurrencesFormedByRemovals) {
  EXPECT_EQ(CountSubStr("abcabc", "abc"), 2);
  EXPECT_EQ(CountSubStr("ABCabc", "aBc"), 2);
  EXPECT_EQ(CountSubStr("aabb", "ab"), 2);        // "aabb" -> "ab" -> ""
  EXPECT_EQ(CountSubStr("aaabbb", "ab"), 3);
  EXPECT_EQ(CountSubStr("xabababy", "aba"), 1);   // leaves "xbaby"
  EXPECT_EQ(CountSubStr("aaaa", "aa"), 2);
  EXPECT_EQ(CountSubStr("", "a"), 0);
  EXPECT_EQ(CountSubStr("a", ""), 0);
  EXPECT_EQ(CountSubStr("a", "ab"), 0);
}

TEST(CountSubStrTest, MatchesNaiveRemovalLoop) {
  std::mt19937 rng(11);
  for (int iter = 0; iter < 3000; ++iter) {
    std::string s, sub;
    int len = rng() % 30, sl = 1 + rng() % 5;
    for (int i = 0; i < len; ++i) s += "abA"[rng() % 3];
    for (int i = 0; i < sl; ++i) sub += "ab"[rng() % 2];
    // Naive: lower-case copy, remove the first occurrence until none.
    std::string t = s;
    for (char& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    int expect = 0;
    for (size_t p; (p = t.find(sub)) != std::string::npos; ++expect) t.erase(p, sub.size());
    EXPECT_EQ(CountSubStr(s, sub), expect) << s << " / " << sub;
  }
}

// Work grows with the text: doubling it must not much more than double the
// time (best of three runs each).
double CountSeconds(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += "aab"[i % 3];
  s += std::string(n, 'b');
  std::string text;
  for (size_t i = 0; i < n; ++i) text += 'a';
  text += std::string(n, 'b');  // "a...ab...b": every removal forms the next one
  double best = 1e9;
  for (int run = 0; run < 3; ++run) {
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(CountSubStr(text, "ab"), static_cast<int32_t>(n));
    EXPECT_GE(CountSubStr(s, "Ab"), 0);
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

TEST(CountSubStrTest, ScalesLinearly) {
  // Up to six attempts, so that a burst of load elsewhere cannot fail it;
  // a cost that grows faster than the input fails every one.
  double ratio = 1e9;
  for (int attempt = 0; attempt < 6 && ratio >= 3.0; ++attempt) {
    const double small = CountSeconds(400000);
    const double large = CountSeconds(800000);
    ratio = std::min(ratio, large / small);
  }
  EXPECT_LT(ratio, 3.0);
}

TEST(MiscTest, IFStrAndZeroFilled) {
  EXPECT_EQ(IFStr(true, "a", "b"), "a");
  EXPECT_EQ(IFStr(false, "a", "b"), "b");
  EXPECT_EQ(ZeroFilled("7", 3), "007");
  EXPECT_EQ(ZeroFilled("123", 3), "123");
  EXPECT_EQ(ZeroFilled("12345", 3), "123");
  EXPECT_EQ(ZeroFilled("", 2), "00");
  EXPECT_EQ(ZeroFilled("5", 0), "");
  EXPECT_EQ(ZeroFilled("5", -4), "");
}

TEST(SplitCommaTextTest, QuotedItemsAndBlanks) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitCommaText("a, \"b,c\", d"), (V{"a", "b,c", "d"}));
  EXPECT_EQ(SplitCommaText("\"-- \",#"), (V{"-- ", "#"}));
  EXPECT_EQ(SplitCommaText("+,-,*,/,=,||,&&,&,<>"),
            (V{"+", "-", "*", "/", "=", "||", "&&", "&", "<>"}));
  EXPECT_EQ(SplitCommaText("  first item , second"), (V{"first item ", "second"}));
  EXPECT_EQ(SplitCommaText("\"say \"\"hi\"\"\""), (V{"say \"hi\""}));
}

TEST(SplitCommaTextTest, EmptyItemsControlCharactersAndEnds) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitCommaText(""), V{});
  EXPECT_EQ(SplitCommaText(" \t\r\n"), V{});
  EXPECT_EQ(SplitCommaText("a,,b"), (V{"a", "", "b"}));
  EXPECT_EQ(SplitCommaText(",a"), (V{"", "a"}));
  EXPECT_EQ(SplitCommaText("a,"), (V{"a"}));
  EXPECT_EQ(SplitCommaText("a\tb"), (V{"a", "b"}));  // control char ends an item
  EXPECT_EQ(SplitCommaText("\"abc"), (V{"abc"}));    // unterminated quote
  EXPECT_EQ(SplitCommaText("\"a\"b"), (V{"a", "b"}));
  EXPECT_EQ(SplitCommaText(std::string("a,b\0,c", 6)), (V{"a", "b"}));
}

}  // namespace
}  // namespace rowset
