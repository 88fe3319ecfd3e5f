#include "util/MySQLStrUtils.h"

#include <algorithm>
#include <bitset>
#include <cctype>

namespace rowset {
namespace {

// The characters of a set text, looked up in constant time.
class CharSet {
 public:
  explicit CharSet(std::string_view chars) {
    for (unsigned char c : chars) bits_.set(c);
  }
  bool Has(char c) const { return bits_.test(static_cast<unsigned char>(c)); }

 private:
  std::bitset<256> bits_;
};

// Start and length of the N-th word of S; found is false when S has fewer
// words. The walk is the one WordInStr documents.
struct WordSpan {
  bool found = false;
  size_t start = 0;
  size_t length = 0;
};

WordSpan FindWord(uint8_t n, std::string_view s, std::string_view separators) {
  WordSpan span;
  if (n == 0) return span;
  CharSet sep(separators);
  unsigned count = 0;
  bool in_word = false;
  size_t start = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if (!sep.Has(s[i])) {
      if (!in_word) {
        in_word = true;
        start = i;
        ++count;
      }
    } else if (in_word) {
      in_word = false;
      if (count == n) return {true, start, i - start};
    }
  }
  if (in_word && count == n) return {true, start, s.size() - start};
  return span;
}

bool IsBlankOrControl(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return u >= 1 && u <= 32;
}

}  // namespace

std::string WordInStr(uint8_t N, std::string_view S, std::string_view Separators) {
  WordSpan w = FindWord(N, S, Separators);
  return w.found ? std::string(S.substr(w.start, w.length)) : std::string();
}

void ChangeWordInStr(uint8_t N, std::string& S, std::string_view NewWord,
                     std::string_view Separators) {
  WordSpan w = FindWord(N, S, Separators);
  if (w.found) S.replace(w.start, w.length, NewWord);
}

std::string FieldInStr(uint8_t N, std::string_view S, std::string_view Delimiter,
                       std::string_view CleanSet) {
  if (N == 0) return std::string();
  std::string_view rest = S;
  if (!Delimiter.empty()) {
    for (unsigned i = 1; i < N; ++i) {
      size_t p = rest.find(Delimiter);
      if (p == std::string_view::npos) break;  // beyond the last field
      rest.remove_prefix(p + 1);
    }
    size_t p = rest.find(Delimiter);
    if (p != std::string_view::npos) rest = rest.substr(0, p);
  }
  if (!CleanSet.empty()) return PrePostStrClean(rest, CleanSet);
  return std::string(rest);
}

std::string GetWord(std::string_view S, std::string_view Delimiter, int N) {
  if (S.empty() || Delimiter.empty() || N < 1) return std::string();
  std::string_view rest = S;
  for (int i = 1; i < N; ++i) {
    size_t p = rest.find(Delimiter);
    if (p == std::string_view::npos) return std::string();  // fewer fields
    rest.remove_prefix(p + Delimiter.size());
  }
  return std::string(rest.substr(0, rest.find(Delimiter)));
}

std::string GetStrWord(int N, std::string_view S, std::string_view Delimiter) {
  return GetWord(S, Delimiter, N);
}

std::string GetPrefixWord(int N, std::string_view S, std::string_view Delimiter) {
  if (S.empty() || Delimiter.empty() || N < 1) return std::string();
  size_t from = 0;
  for (int i = 1;; ++i) {
    size_t p = S.find(Delimiter, from);
    if (p == std::string_view::npos) return std::string(S);
    if (i == N) return std::string(S.substr(0, p));
    from = p + Delimiter.size();
  }
}

std::string PreStrClean(std::string_view S, std::string_view Set) {
  CharSet set(Set);
  size_t b = 0;
  while (b < S.size() && set.Has(S[b])) ++b;
  return std::string(S.substr(b));
}

std::string PostStrClean(std::string_view S, std::string_view Set) {
  CharSet set(Set);
  size_t e = S.size();
  while (e > 0 && set.Has(S[e - 1])) --e;
  return std::string(S.substr(0, e));
}

std::string PrePostStrClean(std::string_view S, std::string_view Set) {
  CharSet set(Set);
  size_t b = 0, e = S.size();
  while (b < e && set.Has(S[b])) ++b;
  while (e > b && set.Has(S[e - 1])) --e;
  return std::string(S.substr(b, e - b));
}

std::string InStrClean(std::string_view S, std::string_view Set) {
  CharSet set(Set);
  std::string out;
  out.reserve(S.size());
  for (char c : S)
    if (!set.Has(c)) out.push_back(c);
  return out;
}

std::string OneStr(std::string_view S, std::string_view Set) {
  return ReplaceSubStr(S, Set, " ");
}

std::string ReplaceSubStr(std::string_view S, std::string_view Set,
                          std::string_view Replacement) {
  CharSet set(Set);
  std::string out;
  out.reserve(S.size());
  for (char c : S) {
    if (set.Has(c))
      out.append(Replacement);
    else
      out.push_back(c);
  }
  return out;
}

int32_t CountSubStr(std::string_view S, std::string_view Sub) {
  if (S.empty() || Sub.empty()) return 0;
  // One pass: the characters read so far, minus every occurrence already
  // removed, are kept on a stack together with the pattern matcher's state
  // after each of them. An occurrence completes only at the top, and
  // removing it takes the matcher back to the state below it: the same
  // removals as searching the shortened text from its start again.
  auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
  const size_t m = Sub.size();
  std::string pat(m, '\0');
  for (size_t i = 0; i < m; ++i) pat[i] = fold(Sub[i]);
  std::vector<size_t> fail(m + 1, 0);  // longest proper border of pat[0, i)
  for (size_t i = 1, k = 0; i < m; ++i) {
    while (k > 0 && pat[i] != pat[k]) k = fail[k];
    if (pat[i] == pat[k]) ++k;
    fail[i + 1] = k;
  }
  std::vector<size_t> states;  // matcher state after each kept character
  states.reserve(S.size());
  int32_t count = 0;
  for (char raw : S) {
    const char c = fold(raw);
    size_t k = states.empty() ? 0 : states.back();
    if (k == m) k = fail[m];
    while (k > 0 && c != pat[k]) k = fail[k];
    if (c == pat[k]) ++k;
    states.push_back(k);
    if (k == m) {
      states.resize(states.size() - m);
      ++count;
    }
  }
  return count;
}

std::string IFStr(bool Condition, std::string_view A, std::string_view B) {
  return std::string(Condition ? A : B);
}

std::string ZeroFilled(std::string_view S, int Length) {
  if (Length <= 0) return std::string();
  size_t len = static_cast<size_t>(Length);
  if (S.size() >= len) return std::string(S.substr(0, len));
  return std::string(len - S.size(), '0') + std::string(S);
}

std::vector<std::string> SplitCommaText(std::string_view Text) {
  std::string_view t = Text.substr(0, Text.find('\0'));
  std::vector<std::string> items;
  size_t p = 0;
  const size_t n = t.size();
  while (p < n && IsBlankOrControl(t[p])) ++p;
  while (p < n) {
    std::string item;
    if (t[p] == '"') {
      ++p;
      while (p < n) {
        if (t[p] == '"') {
          if (p + 1 < n && t[p + 1] == '"') {
            item.push_back('"');
            p += 2;
            continue;
          }
          ++p;  // closing quote
          break;
        }
        item.push_back(t[p++]);
      }
    } else {
      size_t b = p;
      while (p < n && t[p] != ',' && static_cast<unsigned char>(t[p]) >= 32) ++p;
      item.assign(t.substr(b, p - b));
    }
    items.push_back(std::move(item));
    while (p < n && IsBlankOrControl(t[p])) ++p;
    if (p < n && t[p] == ',') {
      ++p;
      while (p < n && IsBlankOrControl(t[p])) ++p;
    }
  }
  return items;
}

std::unique_ptr<TStringList> NvCommaText(std::string_view Text) {
  auto list = std::make_unique<TStringList>();
  for (std::string& item : SplitCommaText(Text)) list->Add(item);
  return list;
}

std::string TNvStringList::Text() const {
  std::string out;
  for (int i = 0; i < Count(); ++i) {
    out += Get(i);
    out += separator_;
  }
  return out;
}

void TNvStringList::SetText(const std::string& Value) {
  CharSet ends(separator_);
  auto is_end = [&](char c) { return c == '\0' || ends.Has(c); };
  Lines lines;
  size_t p = 0;
  const size_t n = Value.size();
  while (p < n) {
    size_t b = p;
    while (p < n && !is_end(Value[p])) ++p;
    lines.emplace_back(Value.substr(b, p - b), nullptr);
    while (p < n && is_end(Value[p])) ++p;
  }
  ReplaceLines(std::move(lines));
}

}  // namespace rowset
