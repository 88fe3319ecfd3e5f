// String helpers used across the library: word splitting (version texts,
// qualified identifiers, macro names and key lists all rely on WordInStr),
// field cutting by delimiters, trimming and cleaning of character sets, and
// comma-text splitting. INI text held in strings (util/MySQLIniText.h) and the
// MySQL value text conversions (util/MySQLValueText.h) are included here, so
// this header is the one to include.
//
// All functions work on byte strings: no encoding conversion, comparisons
// byte-wise unless a function says otherwise. Positions and word numbers are
// 1-based; a number of 0 (or below) gives the empty result and nothing is
// ever read outside the string. "Set" arguments are texts whose characters
// form the set; their order and repetitions do not matter.
#ifndef ROWSET_UTIL_MYSQLSTRUTILS_H_
#define ROWSET_UTIL_MYSQLSTRUTILS_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/Classes.h"
#include "util/MySQLIniText.h"
#include "util/MySQLValueText.h"

namespace rowset {

// --- Words: maximal runs of characters none of which is in Separators ---

// The N-th word of S. Runs of separators count as one; leading and trailing
// separators are ignored. Empty when S has fewer than N words, and for N = 0.
std::string WordInStr(uint8_t N, std::string_view S, std::string_view Separators);

// Replaces the N-th word of S (counted as WordInStr counts) by NewWord; every
// separator stays where it is. S is unchanged when it has fewer than N words
// or N is 0.
void ChangeWordInStr(uint8_t N, std::string& S, std::string_view NewWord,
                     std::string_view Separators);

// --- Fields: texts between occurrences of a (multi-character) delimiter ---

// Skips N - 1 occurrences of Delimiter, each time dropping S up to and
// including the first character of the found delimiter only, then cuts S at
// the next occurrence. A field number beyond the last field gives the last
// field. When CleanSet is not empty, PrePostStrClean(result, CleanSet) is
// returned. Empty for N = 0; an empty delimiter never occurs.
std::string FieldInStr(uint8_t N, std::string_view S, std::string_view Delimiter,
                       std::string_view CleanSet);

// The N-th field of S separated by Delimiter: after removing N - 1 fields with
// their delimiters, the text up to the next delimiter, or the rest when none
// follows. Empty when S or Delimiter is empty, N < 1, or S has fewer fields.
std::string GetWord(std::string_view S, std::string_view Delimiter, int N);

// GetWord(S, Delimiter, N) with the arguments in word-function order.
std::string GetStrWord(int N, std::string_view S, std::string_view Delimiter);

// The first N fields of S with the delimiters between them and no final
// delimiter; the whole of S when it holds fewer than N delimiters. Empty when
// S or Delimiter is empty, or N < 1.
std::string GetPrefixWord(int N, std::string_view S, std::string_view Delimiter);

// --- Cleaning and replacing characters of a set ---

// S without its leading characters that are in Set.
std::string PreStrClean(std::string_view S, std::string_view Set);
// S without its trailing characters that are in Set.
std::string PostStrClean(std::string_view S, std::string_view Set);
// Both of the above.
std::string PrePostStrClean(std::string_view S, std::string_view Set);
// S with every character that is in Set removed.
std::string InStrClean(std::string_view S, std::string_view Set);
// S with every character that is in Set replaced by a blank.
std::string OneStr(std::string_view S, std::string_view Set);
// S with every character that is in Set replaced by Replacement. Each
// character of S is looked at once, so a replacement holding characters of
// the set is inserted as it stands and never replaced again.
std::string ReplaceSubStr(std::string_view S, std::string_view Set,
                          std::string_view Replacement);

// Repeatedly finds the first occurrence of Sub in S (ASCII letter case
// ignored), removes it and counts, until none is left: occurrences that only
// form after a removal count too ("aabb" holds "ab" twice). 0 for an empty S
// or Sub.
int32_t CountSubStr(std::string_view S, std::string_view Sub);

// A when Condition holds, else B.
std::string IFStr(bool Condition, std::string_view A, std::string_view B);

// S right-aligned in a field of Length zeros ("7", 3 gives "007"); when S is
// longer than Length, its first Length characters. Empty for Length <= 0.
std::string ZeroFilled(std::string_view S, int Length);

// --- Comma text ---

// Splits comma text into its items. Leading characters with codes 1 to 32 are
// skipped. An item beginning with a double quote is a quoted string in which
// two double quotes stand for one (an unterminated quote runs to the end);
// any other item runs up to the next comma or control character, blanks
// included. After each item, characters with codes 1 to 32, then one comma and
// the characters with codes 1 to 32 after it, are skipped; empty items between
// commas count. The text ends at its first NUL.
std::vector<std::string> SplitCommaText(std::string_view Text);

// A new string list holding the items of SplitCommaText(Text).
std::unique_ptr<TStringList> NvCommaText(std::string_view Text);

// --- String list with its own line separator ---

// A string list whose Text joins and splits lines at Separator ("\r\n" after
// construction) instead of the usual line breaks.
//  - Reading Text gives each line followed by Separator; with an empty
//    Separator the lines are simply concatenated (an accumulator of pieces).
//  - Setting Text replaces the lines: a line runs up to the first character
//    that is a NUL or occurs in Separator, and every following character of
//    Separator (or NUL) is skipped. So runs of separator characters make no
//    empty lines, and any single character of Separator ends a line (a lone
//    line feed as well as a carriage return). A NUL ends a line rather than
//    the text, so nothing after it is lost.
class TNvStringList : public TStringList {
 public:
  TNvStringList() = default;

  const std::string& Separator() const { return separator_; }
  void SetSeparator(std::string Value) { separator_ = std::move(Value); }

  std::string Text() const override;
  void SetText(const std::string& Value) override;

 private:
  std::string separator_ = "\r\n";
};

}  // namespace rowset

#endif  // ROWSET_UTIL_MYSQLSTRUTILS_H_
