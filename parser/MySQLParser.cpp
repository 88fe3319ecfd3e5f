#include "parser/MySQLParser.h"
#include "host/SysUtils.h"

#include <algorithm>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string_view>

namespace rowset {

namespace {

bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsLetter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsHexDigit(unsigned char c) {
  return IsDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}
bool IsWordStart(unsigned char c) {
  return IsLetter(c) || c == '_' || c == '$' || c == '&' || c == '|';
}
bool IsWordChar(unsigned char c) { return IsWordStart(c) || IsDigit(c); }
unsigned char Upper(unsigned char c) { return (c >= 'a' && c <= 'z') ? c - 32 : c; }

// A kind as a reader would name it in a message: the character itself when
// it is printable, else the kind's name (never a control byte).
std::string KindText(TTokenKind Kind) {
  switch (Kind) {
    case tkEnd: return "end of text";
    case tkHex: return "hexadecimal number";
    case tkOperator: return "operator";
    case tkLineComment: return "line comment";
    case tkBlockComment: return "comment";
    case tkLineBreak: return "line break";
    case tkCommentEnd: return "end of comment";
    case tkSemicolon: return ";";
    case tkMacro: return "macro";
    default: break;
  }
  const unsigned char c = Kind;
  if (c > ' ' && c < 127) return std::string(1, static_cast<char>(c));
  char code[8];
  std::snprintf(code, sizeof code, "#%u", static_cast<unsigned>(c));
  return code;
}

}  // namespace

// ----------------------------------------------------------------------------
// Marker lists

void TParserStrings::Changing() {
  ++*generation_;
  TStringList::Changing();
}

void TParserStrings::Changed() {
  ++*generation_;
  TStringList::Changed();
}

// A prepared copy of the marker lists. Empty entries are left out: a marker
// of no characters would match everywhere and consume nothing.
struct TBasicParser::Markers {
  struct Pair {
    std::string start, end;  // end empty: runs to the end of the text
  };
  std::vector<std::string> operators;
  std::vector<std::string> line_comments;
  std::vector<Pair> comments;
  std::vector<std::string> comment_ends;
  std::vector<Pair> macros;
  std::vector<std::string> macro_ends;
  bool starts[256] = {};  // first bytes of all markers above

  void Mark(const std::string& m) { starts[static_cast<unsigned char>(m[0])] = true; }

  void AddList(std::vector<std::string>& to, const TStrings& from) {
    for (int i = 0; i < from.Count(); ++i) {
      std::string m = from.Get(i);
      if (m.empty()) continue;
      Mark(m);
      to.push_back(std::move(m));
    }
  }

  void AddPairs(std::vector<Pair>& to, const TStrings& starts_list, const TStrings& ends_list) {
    for (int i = 0; i < starts_list.Count(); ++i) {
      Pair p{starts_list.Get(i), i < ends_list.Count() ? ends_list.Get(i) : std::string()};
      if (p.start.empty()) continue;
      Mark(p.start);
      to.push_back(std::move(p));
    }
  }
};

std::shared_ptr<const TBasicParser::Markers> TBasicParser::PrepareFrom(const TBasicParser& P) {
  auto m = std::make_shared<Markers>();
  m->AddList(m->line_comments, P.LineComments);
  m->AddPairs(m->comments, P.CommentStarts, P.CommentEnds);
  m->AddList(m->comment_ends, P.CommentEnds);
  m->AddPairs(m->macros, P.MacroStarts, P.MacroEnds);
  m->AddList(m->macro_ends, P.MacroEnds);
  m->AddList(m->operators, P.Operators);
  return m;
}

void TBasicParser::Prepare() {
  if (markers_ && prepared_generation_ == generation_) return;
  markers_ = PrepareFrom(*this);
  prepared_generation_ = generation_;
}

void TBasicParser::UseMarkersOf(const TBasicParser& Configured) {
  if (Configured.markers_ && Configured.prepared_generation_ == Configured.generation_)
    markers_ = Configured.markers_;
  else
    markers_ = PrepareFrom(Configured);
  HexPrefix = Configured.HexPrefix;
  prepared_generation_ = generation_;
}

// ----------------------------------------------------------------------------
// Scanner

TBasicParser::TBasicParser(std::string Text) { Restart(std::move(Text)); }

TBasicParser::~TBasicParser() = default;

void TBasicParser::Restart(std::string Text) {
  text_ = std::move(Text);
  pos_ = 0;
  token_start_ = 0;
  token_end_ = 0;
  open_single_ = SIZE_MAX;
  open_double_ = SIZE_MAX;
  Line = 0;
  Token = TTokenProps{0, std::string(), TTokenKind('c')};
}

void TBasicParser::SkipBlanks(bool SkipLineBreaks) {
  const size_t n = text_.size();
  const char* s = text_.data();
  while (pos_ < n) {
    unsigned char c = s[pos_];
    if (c > ' ') break;
    if (c == '\n') {
      if (!SkipLineBreaks) break;
      ++Line;
    }
    ++pos_;
  }
}

void TBasicParser::SkipTo(int64_t Position) {
  const size_t to = Position < 0 ? 0 : static_cast<size_t>(Position);
  if (to > pos_ || to >= token_start_) pos_ = to < text_.size() ? to : text_.size();
}

void TBasicParser::SkipLine() {
  const size_t found = text_.find('\n', pos_);
  pos_ = found == std::string::npos ? text_.size() : found;
}

bool TBasicParser::At(size_t p, const std::string& m) const {
  // The first byte decides most comparisons without a call.
  if (m.empty()) return true;
  return text_.size() - p >= m.size() && text_[p] == m[0] &&
         std::memcmp(text_.data() + p, m.data(), m.size()) == 0;
}

// The length of the first operator that stands at P, or 0.
size_t TBasicParser::OperatorAt(size_t P) const {
  for (const std::string& m : markers_->operators)
    if (At(P, m)) return m.size();
  return 0;
}

// A line-comment marker ending in a blank ("-- ") also stands before any
// other control character, a line break or the end of the text, as the
// server reads it; a bare "--" line therefore is a comment too. On a match,
// From is where the search for the end of the line starts.
bool TBasicParser::LineCommentAt(size_t p, const std::string& m, size_t& From) const {
  const size_t n = text_.size();
  if (m.back() == ' ') {
    const size_t k = m.size() - 1;
    if (n - p < k || std::memcmp(text_.data() + p, m.data(), k) != 0) return false;
    if (p + k < n && static_cast<unsigned char>(text_[p + k]) > ' ') return false;
    From = p + k;
    return true;
  }
  if (!At(p, m)) return false;
  From = p + m.size();
  return true;
}

// A quoted string: up to the same quote character; a backslash escapes the
// character after it. A string that is never closed ends at its first line
// break (or the end of the text). A closed string may span lines: its line
// breaks are part of the value.
void TBasicParser::ScanString(char Quote) {
  const size_t n = text_.size();
  const char* s = text_.data();
  const size_t start = pos_;
  size_t& open = Quote == '\'' ? open_single_ : open_double_;
  // When an earlier string of this quote was found open to the end of the
  // text, this one is open too: it starts on a character that the earlier
  // search passed as escaped, so both searches agree from here on.
  const bool known_open = open != SIZE_MAX && start > open;
  size_t first_break = SIZE_MAX;
  size_t i = start + 1;
  while (i < n) {
    char c = s[i];
    if (c == Quote) {
      pos_ = i + 1;
      return;
    }
    if (c == '\\' && BackslashEscapes) {
      i += 2;
      continue;
    }
    if (c == '\n' || c == '\r') {
      if (known_open) {
        pos_ = i;
        return;
      }
      if (first_break == SIZE_MAX) first_break = i;
    }
    ++i;
  }
  if (open == SIZE_MAX) open = start;
  pos_ = first_break < n ? first_break : n;
}

TTokenKind TBasicParser::NextToken(bool SkipLineBreaks) {
  if (!markers_ || prepared_generation_ != generation_) Prepare();
  SkipBlanks(SkipLineBreaks);
  token_start_ = pos_;
  const size_t n = text_.size();
  const char* s = text_.data();
  const Markers& mk = *markers_;
  TTokenKind kind = tkEnd;

  if (pos_ >= n) {
    kind = tkEnd;
  } else {
    const unsigned char c = s[pos_];
    const size_t hex_len = HexPrefix.size();
    bool done = true;
    if (c == '\n' && !SkipLineBreaks) {
      ++pos_;
      kind = tkLineBreak;
    } else if (c == ';') {
      ++pos_;
      kind = tkSemicolon;
    } else if ((hex_len == 1 || hex_len == 2) && At(pos_, HexPrefix)) {
      pos_ += hex_len;
      while (pos_ < n && IsHexDigit(s[pos_])) ++pos_;
      kind = tkHex;
    } else if (mk.starts[c]) {
      done = false;
      size_t from = 0;
      for (const std::string& m : mk.line_comments) {
        if (LineCommentAt(pos_, m, from)) {
          size_t i = from;
          while (i < n && s[i] != '\n' && s[i] != '\r') ++i;
          pos_ = i;
          kind = tkLineComment;
          done = true;
          break;
        }
      }
      if (!done) {
        for (const Markers::Pair& p : mk.comments) {
          if (!At(pos_, p.start)) continue;
          pos_ += p.start.size();
          size_t e = p.end.empty() ? std::string_view::npos
                                   : std::string_view(text_).find(p.end, pos_);
          pos_ = e == std::string_view::npos ? n : e + p.end.size();
          kind = tkBlockComment;
          done = true;
          break;
        }
      }
      if (!done) {
        for (const std::string& m : mk.comment_ends) {
          if (!At(pos_, m)) continue;
          pos_ += m.size();
          kind = tkCommentEnd;
          done = true;
          break;
        }
      }
      if (!done) {
        for (const Markers::Pair& p : mk.macros) {
          if (!At(pos_, p.start)) continue;
          size_t i = pos_ + p.start.size();
          while (i < n) {
            if (!p.end.empty() && At(i, p.end)) {
              i += p.end.size();
              break;
            }
            if (static_cast<unsigned char>(s[i]) <= ' ') break;
            ++i;
          }
          pos_ = i;
          kind = tkMacro;
          done = true;
          break;
        }
      }
      if (!done) {
        for (const std::string& m : mk.macro_ends) {
          if (!At(pos_, m)) continue;
          pos_ += m.size();
          kind = tkMacro;
          done = true;
          break;
        }
      }
      if (!done) {
        if (size_t len = OperatorAt(pos_)) {
          pos_ += len;
          kind = tkOperator;
          done = true;
        }
      }
    } else {
      done = false;
    }

    if (!done) {
      if (IsWordStart(c)) {
        // "&" and "|" belong to a word only where no operator claims them.
        ++pos_;
        while (pos_ < n && IsWordChar(s[pos_])) {
          if ((s[pos_] == '&' || s[pos_] == '|') && OperatorAt(pos_)) break;
          ++pos_;
        }
        kind = tkSymbol;
      } else if (c == '`') {
        const void* q = std::memchr(s + pos_ + 1, '`', n - pos_ - 1);
        pos_ = q ? static_cast<const char*>(q) - s + 1 : n;
        kind = tkSymbol;
      } else if (c == '\'' || c == '"') {
        ScanString(static_cast<char>(c));
        kind = tkString;
      } else if (IsDigit(c)) {
        while (pos_ < n && IsDigit(s[pos_])) ++pos_;
        kind = tkInteger;
        if (pos_ < n && (s[pos_] == '.' || s[pos_] == 'E' || s[pos_] == 'e')) {
          kind = tkFloat;
          bool signed_already = false;
          while (pos_ < n) {
            char d = s[pos_];
            if (IsDigit(d) || d == '.' || d == 'E' || d == 'e') {
              ++pos_;
            } else if ((d == '+' || d == '-') && !signed_already) {
              signed_already = true;
              ++pos_;
            } else {
              break;
            }
          }
        }
        FloatType = 0;
        if (pos_ < n) {
          switch (s[pos_]) {
            case 'c': case 'C': case 'd': case 'D': case 's': case 'S':
              FloatType = s[pos_];
              ++pos_;
              kind = tkFloat;
              break;
            default:
              break;
          }
        }
      } else {
        ++pos_;
        kind = static_cast<TTokenKind>(c);
      }
    }
  }

  token_end_ = pos_;
  Token.Position = static_cast<int64_t>(token_start_);
  Token.Kind = kind;
  if (kind == tkLineBreak)
    Token.Text.assign(1, ' ');
  else
    Token.Text.assign(s + token_start_, pos_ - token_start_);
  return kind;
}

bool TBasicParser::BlankAfterToken() const {
  const size_t n = text_.size();
  if (token_end_ >= n) return false;
  const unsigned char c = text_[token_end_];
  if (c == ' ') return true;
  if (c == '\n') return false;
  if (c == '\r') return !(token_end_ + 1 < n && text_[token_end_ + 1] == '\n');
  return c < ' ';
}

// ----------------------------------------------------------------------------
// Token values and checks

int64_t TBasicParser::TokenInt() const {
  const std::string& t = Token.Text;
  const char* p = t.data();
  const char* e = p + t.size();
  bool negative = false;
  if (p < e && (*p == '-' || *p == '+')) negative = *p++ == '-';
  int base = 10;
  if (e - p > 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    base = 16;
    p += 2;
  } else if (e - p > 1 && p[0] == '$') {
    base = 16;
    p += 1;
  }
  uint64_t magnitude = 0;
  auto r = std::from_chars(p, e, magnitude, base);
  const uint64_t limit = negative ? uint64_t(INT64_MAX) + 1 : uint64_t(INT64_MAX);
  if (p == e || r.ec != std::errc() || r.ptr != e || magnitude > limit)
    throw EConvertError("'" + t + "' is not a valid integer value");
  return negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
}

double TBasicParser::TokenFloat() const {
  std::string_view t = Token.Text;
  if (FloatType != 0 && !t.empty() && t.back() == FloatType) t.remove_suffix(1);
  std::string_view v = t;
  if (!v.empty() && v[0] == '+') v.remove_prefix(1);
  // Only digits, a point, an exponent and signs make a number here: the
  // conversion below would also take "inf", "nan" and hexadecimal floats.
  const bool plain = v.find_first_not_of("0123456789.eE+-") == std::string_view::npos;
  double d = 0;
  auto r = std::from_chars(v.data(), v.data() + v.size(), d);
  if (v.empty() || !plain || r.ec != std::errc() || r.ptr != v.data() + v.size())
    throw EConvertError("'" + Token.Text + "' is not a valid floating point value");
  return d;
}

bool TBasicParser::TokenSymbolIs(const std::string& S) const {
  return Token.Kind == tkSymbol && SameText(Token.Text, S);
}

void TBasicParser::CheckToken(TTokenKind Kind) {
  if (Token.Kind == Kind) return;
  switch (Kind) {
    case tkSymbol:
      Error("Identifier expected");
    case tkString:
    case tkWideString:
      Error("String expected");
    case tkInteger:
    case tkFloat:
      Error("Number expected");
    default:
      Error("''" + KindText(Kind) + "'' expected");
  }
}

void TBasicParser::CheckTokenSymbol(const std::string& S) {
  if (!TokenSymbolIs(S)) Error(S + " expected");
}

void TBasicParser::Error(const std::string& Message) { ErrorStr(Message); }

void TBasicParser::ErrorStr(const std::string& Message) {
  throw EBasicParserError(Message + " on line " + std::to_string(Line + 1));
}

void TBasicParser::ErrorFmt(const char* Format, ...) {
  va_list args;
  va_start(args, Format);
  va_list again;
  va_copy(again, args);
  int len = std::vsnprintf(nullptr, 0, Format, args);
  va_end(args);
  std::string message;
  if (len > 0) {
    message.resize(static_cast<size_t>(len) + 1);
    std::vsnprintf(message.data(), message.size(), Format, again);
    message.resize(static_cast<size_t>(len));
  }
  va_end(again);
  ErrorStr(message);
}

// ----------------------------------------------------------------------------
// Region around a position

void TBasicParser::TokenAtPosition(int64_t P) {
  for (TTokenProps& t : Region) t = TTokenProps{0, std::string(), TTokenKind('c')};
  for (;;) {
    if (P < Token.Position) break;
    Region[tpPrevious].Assign(Token);
    NextToken(true);
    Region[tpCurrent].Assign(Token);
    const int64_t start = Token.Position;
    const int64_t len = static_cast<int64_t>(Token.Text.size());
    if (P == start || (start < P && P <= start + len) || Token.Kind == tkEnd) break;
  }
  if (Token.Kind != tkEnd) {
    NextToken(true);
    Region[tpNext].Assign(Token);
  }
}

// ----------------------------------------------------------------------------
// Scripts

namespace {

void ConfigureForScripts(TBasicParser& P);

// The script markers, prepared once per thread.
void UseScriptMarkers(TBasicParser& P) {
  thread_local const std::unique_ptr<TBasicParser> configured = [] {
    auto c = std::make_unique<TBasicParser>();
    ConfigureForScripts(*c);
    c->NextToken(false);  // prepares the markers
    return c;
  }();
  P.UseMarkersOf(*configured);
}

void ConfigureForScripts(TBasicParser& P) {
  // The operator list "+,-,*,/,=,||,&&,&,<>,|,<<,>>,>,<,~,!,%", the line
  // comments "-- " and "#", block comments /* */ and macros [ ].
  static const char* const kOperators[] = {"+",  "-",  "*",  "/", "=", "||", "&&", "&", "<>",
                                           "|",  "<<", ">>", ">", "<", "~",  "!",  "%"};
  P.Operators.BeginUpdate();
  for (const char* op : kOperators) P.Operators.Add(op);
  P.Operators.EndUpdate();
  P.HexPrefix = "0x";
  P.LineComments.Add("-- ");
  P.LineComments.Add("#");
  P.CommentStarts.Add("/*");
  P.CommentEnds.Add("*/");
  P.MacroStarts.Add("[");
  P.MacroEnds.Add("]");
}

// The text without blanks and control characters at either end.
std::string_view TrimControls(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

}  // namespace

namespace {

// Comments the server runs: version comments and optimizer hints.
bool IsExecutableComment(std::string_view Text) {
  return Text.starts_with("/*!") || Text.starts_with("/*M!") || Text.starts_with("/*+");
}

// The word after "DELIMITER" on its line, or empty when the token is not
// such a command.
std::string DelimiterCommand(const TBasicParser& P) {
  if (!P.TokenSymbolIs("DELIMITER")) return std::string();
  const std::string& text = P.Text();
  size_t i = static_cast<size_t>(P.Token.Position) + P.Token.Text.size();
  if (i >= text.size() || (text[i] != ' ' && text[i] != '\t')) return std::string();
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  size_t e = i;
  while (e < text.size() && static_cast<unsigned char>(text[e]) > ' ') ++e;
  return text.substr(i, e - i);
}

}  // namespace

void TScriptSplitter::Feed(std::string_view Piece, std::vector<TScriptStatement>& Out) {
  Drop();
  window_.append(Piece.data(), Piece.size());
  // The window is split again when it has doubled since the last try, or
  // when the piece holds the delimiter (it may end the statement) while the
  // window is not large: a long statement is then scanned a bounded number
  // of times, not once per piece, yet a statement ended by a small piece (a
  // pipe fed line by line) runs at once.
  constexpr size_t kSmallWindow = 8u << 20;
  const bool may_end = Piece.find(delimiter_[0]) != std::string_view::npos ||
                       Piece.find(';') != std::string_view::npos;
  if (window_.size() < 2 * tried_ && !(may_end && window_.size() <= kSmallWindow)) return;
  Split(false, Out);
}

void TScriptSplitter::Finish(std::vector<TScriptStatement>& Out) { Finish({}, Out); }

void TScriptSplitter::Finish(std::string_view Last, std::vector<TScriptStatement>& Out) {
  Drop();
  window_.append(Last.data(), Last.size());
  Split(true, Out);
  tried_ = 0;
}

void TScriptSplitter::Drop() {
  if (consumed_ == 0) return;
  window_.erase(0, consumed_);
  base_ += consumed_;
  consumed_ = 0;
}

void TScriptSplitter::Rewind(const TScriptStatement& After) {
  if (After.End < base_ || After.End > base_ + consumed_)
    throw std::logic_error("TScriptSplitter::Rewind: the statement was not handed out by the last split");
  const size_t pos = static_cast<size_t>(After.End - base_);
  line_ -= std::count(window_.begin() + static_cast<std::ptrdiff_t>(pos),
                      window_.begin() + static_cast<std::ptrdiff_t>(consumed_), '\n');
  consumed_ = pos;
  delimiter_ = After.Delimiter;
  tried_ = 0;
}

namespace {

// Whether the statement starting at From (a non-blank byte) is plain and
// ends with ";" within Text: outside quoted strings and back-quoted names
// it holds no control character other than a line feed between two
// non-blank bytes, no two blanks in a row, no comment or comment end, no
// macro bracket, and it is no DELIMITER command. Its tokens joined give
// then exactly its text with each of those line feeds (their positions go
// to Breaks) made a blank. End is the position of its ";". Strings follow
// the tokenizer's rules (a backslash escapes the next byte; a name runs to
// the next back-quote); a string not closed before the end of Text makes
// the statement not plain. kUnended: nothing in the way up to the end of
// Text, where the statement is not ended yet.
enum PlainResult { kPlain, kNotPlain, kUnended };
PlainResult PlainStatement(const std::string& Text, size_t From, size_t& End, std::vector<size_t>& Breaks,
                           bool BackslashEscapes) {
  Breaks.clear();
  const size_t n = Text.size();
  const char* s = Text.data();
  if (n - From > 9 && (s[From + 9] == ' ' || s[From + 9] == '\t')) {
    static const char kWord[] = "DELIMITER";
    size_t k = 0;
    while (k < 9 && Upper(static_cast<unsigned char>(s[From + k])) == static_cast<unsigned char>(kWord[k])) ++k;
    if (k == 9) return kNotPlain;
  }
  for (size_t p = From; p < n; ++p) {
    const char c = s[p];
    switch (c) {
      case '\'':
      case '"':
        for (++p; p < n && s[p] != c; ++p)
          if (s[p] == '\\' && BackslashEscapes) ++p;
        if (p >= n) return kUnended;
        break;
      case '`': {
        const void* q = std::memchr(s + p + 1, '`', n - p - 1);
        if (q == nullptr) return kUnended;
        p = static_cast<size_t>(static_cast<const char*>(q) - s);
        break;
      }
      case ';':
        End = p;
        return kPlain;
      case ' ':
        if (p + 1 >= n) return kUnended;
        if (static_cast<unsigned char>(s[p + 1]) <= ' ') return kNotPlain;
        break;
      case '#': case '[': case ']':
        return kNotPlain;
      case '-':
        if (p + 1 >= n) return kUnended;
        if (s[p + 1] == '-') return kNotPlain;
        break;
      case '/':
        if (p + 1 >= n) return kUnended;
        if (s[p + 1] == '*') return kNotPlain;
        break;
      case '*':
        if (p + 1 >= n) return kUnended;
        if (s[p + 1] == '/') return kNotPlain;
        break;
      case '\n':
        if (p + 1 >= n) return kUnended;
        if (static_cast<unsigned char>(s[p + 1]) <= ' ' || static_cast<unsigned char>(s[p - 1]) <= ' ')
          return kNotPlain;
        Breaks.push_back(p);
        break;
      default:
        if (static_cast<unsigned char>(c) < ' ') return kNotPlain;
    }
  }
  return kUnended;
}

}  // namespace

void TScriptSplitter::Split(bool Final, std::vector<TScriptStatement>& Out) {
  if (window_.empty()) return;
  const uint64_t base = base_;
  // The window is lent to the tokenizer and taken back at the end.
  TBasicParser P{std::move(window_)};
  UseScriptMarkers(P);
  P.BackslashEscapes = backslash_escapes_;
  const std::string& text = P.Text();
  std::string& acc = acc_;
  acc.clear();
  std::string delimiter = delimiter_;
  // A dropped block comment still separates the tokens around it.
  bool comment_gap = false;
  size_t taken = 0;            // window bytes settled so far
  int64_t first = -1;          // position of the statement's first token
  size_t counted = 0;          // line feeds are counted up to here
  int64_t line = line_;
  auto line_at = [&](size_t Position) {
    for (const char* p = text.data() + counted, *e = text.data() + Position;
         (p = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(e - p)))) != nullptr; ++p)
      ++line;
    counted = Position;
    return line;
  };
  // Ends the statement at End (the first byte after its end); false when
  // it is not settled yet.
  auto finish = [&](size_t End) {
    if (!Final && P.OpenStringStart() != SIZE_MAX) return false;
    std::string_view statement = TrimControls(acc);
    // A lone ";" is no statement: the server would refuse it as empty.
    if (!statement.empty() && statement != ";")
      Out.push_back(TScriptStatement{std::string(statement), line_at(static_cast<size_t>(first)), base + End,
                                     delimiter});
    acc.clear();
    first = -1;
    taken = End;
    delimiter_ = delimiter;
    return true;
  };
  // Takes the plain statements that follow (see PlainStatement) as they
  // stand. Not after a string that runs to the end of the text: the
  // tokenizer then reads later strings of its quote differently.
  // A statement that is plain as far as the window goes is not settled yet,
  // and the tokenizer would not settle it either: the split ends there.
  bool unended = false;
  auto plain = [&] {
    if (tokenize_all_ || delimiter != ";" || P.OpenStringStart() != SIZE_MAX) return;
    const size_t from = taken;
    std::vector<size_t> breaks;
    for (;;) {
      size_t i = taken, end = 0;
      while (i < text.size() && static_cast<unsigned char>(text[i]) <= ' ') ++i;
      if (i >= text.size()) break;
      const PlainResult r = PlainStatement(text, i, end, breaks, backslash_escapes_);
      if (r == kUnended && !Final) unended = true;
      if (r != kPlain) break;
      // A lone ";" is no statement.
      if (end > i) {
        Out.push_back(TScriptStatement{text.substr(i, end + 1 - i), line_at(i), base + end + 1, delimiter});
        for (size_t b : breaks) Out.back().Text[b - i] = ' ';
      }
      taken = end + 1;
    }
    if (taken != from) P.SkipTo(static_cast<int64_t>(taken));
  };
  plain();
  while (!unended) {
    TTokenKind kind = P.NextToken(false);
    if (kind == tkBlockComment && IsExecutableComment(P.Token.Text)) kind = tkSymbol;
    if (kind == tkEnd && !Final) break;
    // Only blanks so far (no token of the statement yet): a command may start.
    if (first < 0 && kind == tkSymbol) {
      // Whether a DELIMITER word is the command depends on the rest of its
      // line: wait for the line break.
      if (!Final && P.TokenSymbolIs("DELIMITER") &&
          text.find('\n', static_cast<size_t>(P.Token.Position)) == std::string::npos)
        break;
      std::string next = DelimiterCommand(P);
      if (!next.empty()) {
        P.SkipLine();
        // The command's word is settled by its line break.
        const size_t end = static_cast<size_t>(P.SourcePos()) + P.TokenString().size();
        if (!Final && text.find('\n', end) == std::string::npos) break;
        delimiter = std::move(next);
        acc.clear();
        first = -1;
        if (!Final && P.OpenStringStart() != SIZE_MAX) break;
        taken = text.find('\n', end);
        if (taken == std::string::npos) taken = text.size();
        delimiter_ = delimiter;
        continue;
      }
    }
    if (delimiter != ";" && kind != tkEnd && kind != tkLineBreak &&
        text.compare(static_cast<size_t>(P.Token.Position), delimiter.size(), delimiter) == 0) {
      const size_t end = static_cast<size_t>(P.Token.Position) + delimiter.size();
      if (!finish(end)) break;
      comment_gap = false;
      P.SkipTo(static_cast<int64_t>(end));
      continue;
    }
    if (kind == tkLineComment) {
      // dropped; the line break after it joins the lines
    } else if (kind == tkBlockComment || kind == tkCommentEnd) {
      comment_gap = true;
    } else {
      if (comment_gap && !acc.empty() && acc.back() != ' ' && kind != tkSemicolon &&
          kind != tkLineBreak && kind != tkEnd)
        acc += ' ';
      comment_gap = false;
      if (first < 0 && kind != tkLineBreak && kind != tkEnd) first = P.Token.Position;
      acc += P.Token.Text;
      if (P.BlankAfterToken()) acc += ' ';
    }
    if (((kind == tkSemicolon && delimiter == ";") || kind == tkEnd) && !acc.empty()) {
      if (first < 0) first = P.Token.Position;
      const size_t end = static_cast<size_t>(P.Token.Position) + P.Token.Text.size();
      if (!finish(kind == tkEnd ? text.size() : end)) break;
      if (kind == tkSemicolon) plain();
      if (unended) break;
    }
    if (kind == tkEnd) break;
  }
  if (Final) taken = text.size();
  line_at(taken);
  line_ = line;
  const size_t size = text.size();
  window_ = P.TakeText();
  // The text handed out stays until the next piece, for Rewind.
  consumed_ = taken;
  tried_ = size - taken;  // the rest was read without settling anything
}

std::vector<std::string> SplitScript(std::string_view Script) { return SplitScript(Script, nullptr); }

std::vector<std::string> SplitScript(std::string_view Script, std::vector<int64_t>* StartLines) {
  return SplitScript(Script, StartLines, true);
}

std::vector<std::string> SplitScript(std::string_view Script, std::vector<int64_t>* StartLines,
                                     bool BackslashEscapes) {
  TScriptSplitter splitter;
  splitter.SetBackslashEscapes(BackslashEscapes);
  std::vector<TScriptStatement> found;
  splitter.Finish(Script, found);
  std::vector<std::string> statements;
  statements.reserve(found.size());
  if (StartLines != nullptr) {
    StartLines->clear();
    StartLines->reserve(found.size());
  }
  for (TScriptStatement& s : found) {
    statements.push_back(std::move(s.Text));
    if (StartLines != nullptr) StartLines->push_back(s.Line);
  }
  return statements;
}

void ParseScript(TStrings& Lines) {
  if (auto* list = dynamic_cast<TStringList*>(&Lines); list && list->Sorted())
    throw EStringListError("A script cannot be split into a sorted list");
  const std::vector<std::string> statements = SplitScript(Lines.Text());
  // The list changes only once the whole script is split.
  Lines.BeginUpdate();
  try {
    Lines.Clear();
    for (const std::string& s : statements) Lines.Add(s);
  } catch (...) {
    Lines.EndUpdate();
    throw;
  }
  Lines.EndUpdate();
}

std::string GetScriptType(const TStrings& Lines) {
  TBasicParser P(Lines.Text());
  UseScriptMarkers(P);
  std::string result = "NONE";
  for (;;) {
    TTokenKind kind;
    do {
      kind = P.NextToken(false);
    } while (kind != tkSymbol && kind != tkEnd);
    std::string type = "NONE";
    if (kind == tkSymbol) {
      std::string word = P.Token.Text;
      for (char& ch : word) ch = static_cast<char>(Upper(ch));
      if (word == "SELECT" || word == "DELETE" || word == "INSERT" || word == "REPLACE" ||
          word == "LOAD" || word == "UPDATE")
        type = word;
      else if (word == "SET" || word == "CREATE" || word == "DROP")
        type = "SCRIPT";
    }
    if (result != "NONE") return "SCRIPT";
    result = type;
    while (kind != tkSemicolon && kind != tkEnd) kind = P.NextToken(false);
    if (kind == tkEnd) return result;
  }
}

}  // namespace rowset
