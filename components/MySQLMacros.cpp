// Datasets: SQL templates, macro collection and expansion, value literals.
#include "components/MySQLMacros.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <initializer_list>
#include <memory>

#include <zlib.h>

#include "components/MySQLDataset.h"
#include "drivers/DriverText.h"
#include "host/SysUtils.h"
#include "host/Variants.h"
#include "parser/MySQLParser.h"
#include "util/MySQLStrUtils.h"
#include "util/MySQLValueText.h"

namespace rowset {

namespace {

constexpr const char* kExpandOperators = "+,-,*,/,=,||,&&,&,<>,<<,>>,>,|,<,~,!,%";
constexpr const char* kCollectOperators = "+,-,*,/,=,||,&&,&,<>,<<,|,>>,>,<,~,!,%";

void FillMarkers(TBasicParser& Parser, const std::string& Start, const std::string& End,
                 const char* Operators) {
  Parser.Operators.SetCommaText(Operators);
  Parser.HexPrefix = "0x";
  Parser.LineComments.Add("-- ");
  Parser.LineComments.Add("#");
  Parser.CommentStarts.Add("/*");
  Parser.CommentEnds.Add("*/");
  Parser.MacroStarts.Add(Start);
  Parser.MacroEnds.Add(End);
}

// Sets the markers up. Each posted record expands its statement templates
// with the same markers, so the calling thread keeps them prepared for its
// last few delimiter pairs.
void ConfigureParser(TBasicParser& Parser, const std::string& Start, const std::string& End,
                     const char* Operators, bool BackslashEscapes = true) {
  struct Configured {
    std::string start, end;
    const char* operators = nullptr;
    std::unique_ptr<TBasicParser> parser;
  };
  thread_local Configured kept[4];
  thread_local unsigned next = 0;
  Configured* found = nullptr;
  for (Configured& c : kept) {
    if (c.parser && c.operators == Operators && c.start == Start && c.end == End) {
      found = &c;
      break;
    }
  }
  if (found == nullptr) {
    auto parser = std::make_unique<TBasicParser>();
    FillMarkers(*parser, Start, End, Operators);
    parser->NextToken(false);  // prepares the markers
    found = &kept[next++ % 4];
    found->start = Start;
    found->end = End;
    found->operators = Operators;
    found->parser = std::move(parser);
  }
  Parser.UseMarkersOf(*found->parser);
  Parser.BackslashEscapes = BackslashEscapes;
}

std::string MacroName(const std::string& Token, const std::string& Start, const std::string& End) {
  return WordInStr(1, Token, Start + End + " \r\n");
}

std::string UpperTrim(const std::string& S) {
  size_t b = 0, e = S.size();
  while (b < e && static_cast<unsigned char>(S[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(S[e - 1]) <= ' ') --e;
  std::string out = S.substr(b, e - b);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return out;
}

bool IsOneOf(const std::string& Word, std::initializer_list<const char*> Words) {
  for (const char* w : Words) {
    if (Word == w) return true;
  }
  return false;
}

// Words before which the condition goes when the select has no WHERE.
bool IsInsertionWord(const std::string& Upper) {
  return IsOneOf(Upper, {"GROUP", "HAVING", "ORDER", "LIMIT", "PROCEDURE"});
}

// Words that end a select's own where condition at the outer level.
bool EndsWhereCondition(const std::string& Upper) {
  return IsInsertionWord(Upper) ||
         IsOneOf(Upper, {"WINDOW", "FOR", "LOCK", "INTO", "UNION", "EXCEPT", "INTERSECT"});
}

bool SameAt(const std::string& S, size_t At, const std::string& Marker) {
  if (Marker.empty() || S.size() - At < Marker.size()) return false;
  for (size_t k = 0; k < Marker.size(); ++k) {
    if (std::toupper(static_cast<unsigned char>(S[At + k])) !=
        std::toupper(static_cast<unsigned char>(Marker[k]))) {
      return false;
    }
  }
  return true;
}

// The delimiters of the macro tokens of Text replaced, both in one pass;
// everything else (strings, quoted names, comments, layout) as it was.
std::string RewriteDelimiters(const std::string& Text, const std::string& OldStart,
                              const std::string& OldEnd, const std::string& NewStart,
                              const std::string& NewEnd) {
  TBasicParser parser(Text);
  ConfigureParser(parser, OldStart, OldEnd, kExpandOperators);
  std::string out;
  size_t copied = 0;
  while (parser.NextToken(false) != tkEnd) {
    if (parser.Token.Kind != tkMacro) continue;
    size_t at = static_cast<size_t>(parser.Token.Position);
    size_t end = at + parser.Token.Text.size();
    out.append(Text, copied, at - copied);
    // A macro token is a start delimiter, the name and an end delimiter
    // (either may be missing); only those two places change.
    size_t b = at, e = end;
    std::string suffix;
    if (SameAt(Text, b, OldStart)) {
      out += NewStart;
      b += OldStart.size();
    }
    if (!OldEnd.empty() && e >= b + OldEnd.size() && SameAt(Text, e - OldEnd.size(), OldEnd)) {
      suffix = NewEnd;
      e -= OldEnd.size();
    }
    out.append(Text, b, e - b);
    out += suffix;
    copied = end;
  }
  out.append(Text, copied, std::string::npos);
  return out;
}

std::string DateText(TDateTime Value, bool Date, bool Time) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
  DecodeDateTime(Value, y, mo, d, h, mi, s, ms);
  char buffer[64];
  if (Date && Time) {
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
  } else if (Date) {
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", y, mo, d);
  } else {
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", h, mi, s);
  }
  return buffer;
}

// Blob fields whose values are written as binary literals. Memos hold text in
// the connection's character set as they were read, so they are written as
// escaped strings for the server to convert back as it converted them.
// Binary values longer than this are matched in a condition by length and
// checksum instead of by value.
constexpr size_t kLongBinaryMatch = 1024;

bool WrittenInHex(const TField* Field) {
  if (Field == nullptr || !Field->IsBlob()) return false;
  TFieldType type = Field->DataType();
  return type != ftMemo && type != ftFmtMemo && type != ftOraClob;
}

// Character sets in which the second byte of a character may be the byte
// of `\` or `'` (big5, cp932, gbk, gb18030, sjis): the server reads such a
// byte after a lead byte as part of the character, so an escaped literal
// cannot carry arbitrary bytes; binary values then go in hexadecimal. An
// unknown character set counts as one of them.
bool BinaryNeedsHex(const std::string& Charset) {
  if (Charset.empty()) return true;
  std::string name;
  for (char c : Charset) name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return IsOneOf(name, {"big5", "cp932", "gbk", "gb18030", "sjis"});
}

// Types that never enter a key condition built from a key list.
bool ExcludedFromKeys(TFieldType Type) { return Type == ftFloat || Type == ftBlob || Type == ftMemo; }

// b'...' with every bit of the bytes, most significant first.
std::string BitLiteral(std::string_view Bytes) {
  std::string out = "b'";
  for (unsigned char c : Bytes) {
    for (int bit = 7; bit >= 0; --bit) out += ((c >> bit) & 1) ? '1' : '0';
  }
  if (Bytes.empty()) out += '0';
  return out + "'";
}

// Whether a key list (words separated by "," or ";") holds Name as a whole
// word, letter case ignored.
bool ListHasName(const std::string& List, const std::string& Name) {
  for (uint8_t n = 1; n < 255; ++n) {
    std::string word = WordInStr(n, List, ",;");
    if (word.empty()) return false;
    if (SameText(word, Name)) return true;
  }
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// Literal functions

std::string HexStr(std::string_view Data) {
  if (Data.empty()) return "NULL";
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(2 + 2 * Data.size());
  out += "0x";
  for (unsigned char c : Data) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

std::string QuoteStr(const std::string& S) { return "'" + S + "'"; }

std::string DefaultSelectText(const std::string& S, const std::string& E) {
  return "select " + S + "$FIELDS" + E + " from " + S + "$TABLENAME" + E + " " + S + "JOIN" + E +
         " " + S + "WHERE" + E + " " + S + "GROUPBY" + E + " " + S + "ORDER" + E + " " + S +
         "LIMIT" + E;
}

std::string DefaultUpdateText(const std::string& S, const std::string& E) {
  return "update " + S + "$TABLENAME" + E + " set " + S + "$MODIFIED$FIELDS&VALUES" + E + " where " +
         S + "$PRIMARYFIELDS&VALUES" + E;
}

std::string DefaultInsertText(const std::string& S, const std::string& E) {
  return "insert into " + S + "$TABLENAME" + E + " set " + S + "$MODIFIED$FIELDS&VALUES" + E;
}

std::string DefaultDeleteText(const std::string& S, const std::string& E) {
  return "delete from " + S + "$TABLENAME" + E + " where " + S + "$PRIMARYFIELDS&VALUES" + E;
}

std::string TMySQLDatasetBase::EscapeText(const std::string& S) const {
  if (server_ != nullptr && server_->GetDriver() != nullptr) return server_->EscapeStr(S);
  return drivers_text::EscapeBuiltIn(S);
}

bool TMySQLDatasetBase::BackslashEscapes() const {
  if (server_ == nullptr || server_->GetDriver() == nullptr || server_->Connection() == nullptr) return true;
  // The connection's escaping follows the session: it doubles a backslash
  // only while backslashes escape.
  return EscapeText("\\") != "\\";
}

std::string TMySQLDatasetBase::StringLiteral(const std::string& S) const {
  if (S.find('\0') != std::string::npos) return HexStr(S);
  return QuoteStr(EscapeText(S));
}

std::string TMySQLDatasetBase::BinaryLiteral(std::string_view Bytes) const {
  if (Bytes.empty()) return "''";
  TMySQLBase* driver = server_ != nullptr ? server_->GetDriver() : nullptr;
  if (driver == nullptr || server_->Connection() == nullptr) return HexStr(Bytes);
  std::string charset;
  try {
    charset = driver->CharacterSetName();
  } catch (const EDatabaseError&) {
    // A back end without the function: its character set is unknown.
  }
  if (BinaryNeedsHex(charset)) return HexStr(Bytes);
  // Escaped as the session reads it (so about the value's own size, where
  // hexadecimal doubles it); the introducer keeps the bytes out of any
  // character set conversion.
  std::string escaped = driver->EscapeStr(std::string(Bytes));
  std::string out;
  out.reserve(escaped.size() + 10);
  if (server_->ServerVer() >= 40100) out += "_binary";
  out += '\'';
  out += escaped;
  out += '\'';
  return out;
}

std::string TMySQLDatasetBase::BlobOrStringLiteral(const TField* Field, const std::string& Text) const {
  if (Text.empty()) return "''";
  return WrittenInHex(Field) ? BinaryLiteral(Text) : StringLiteral(Text);
}

std::string TMySQLDatasetBase::FormatIdentifier(const std::string& S) const {
  return server_ != nullptr ? server_->FormatIdentifier(S) : S;
}

// ---------------------------------------------------------------------------
// Template lists

namespace {

void AssignList(TStringList& List, const TStrings* Value) {
  std::string text = Value != nullptr ? Value->Text() : std::string();
  if (text == List.Text()) return;
  if (Value != nullptr) {
    List.Assign(const_cast<TStrings*>(Value));
  } else {
    List.Clear();
  }
}

}  // namespace

void TMySQLDatasetBase::SetSQL(const TStrings* Value) {
  std::string text = Value != nullptr ? Value->Text() : std::string();
  if (text == sql_->Text()) return;
  if (Active()) Close();
  AssignList(*sql_, Value);
}

void TMySQLDatasetBase::SetSQLUpdate(const TStrings* Value) { AssignList(*sql_update_, Value); }
void TMySQLDatasetBase::SetSQLInsert(const TStrings* Value) { AssignList(*sql_insert_, Value); }
void TMySQLDatasetBase::SetSQLDelete(const TStrings* Value) { AssignList(*sql_delete_, Value); }
void TMySQLDatasetBase::SetSQLBatch(const TStrings* Value) { AssignList(*sql_batch_, Value); }
void TMySQLDatasetBase::SetSQLCached(const TStrings* Value) { AssignList(*sql_cached_, Value); }

bool TMySQLDatasetBase::SQLStored() const {
  return sql_->Text() != DefaultSelectText(macro_start_, macro_end_) + "\r\n";
}
bool TMySQLDatasetBase::SQLUpdateStored() const {
  return sql_update_->Text() != DefaultUpdateText(macro_start_, macro_end_) + "\r\n";
}
bool TMySQLDatasetBase::SQLInsertStored() const {
  return sql_insert_->Text() != DefaultInsertText(macro_start_, macro_end_) + "\r\n";
}
bool TMySQLDatasetBase::SQLDeleteStored() const {
  return sql_delete_->Text() != DefaultDeleteText(macro_start_, macro_end_) + "\r\n";
}
bool TMySQLDatasetBase::MacroDelStored() const { return !SameText(MacroDel(), "[,]"); }
bool TMySQLDatasetBase::MacrosStored() const {
  return options_.Contains(doMacrosEnabled) && !options_.Contains(doMacroCheck) &&
         macros_->Count() > 0;
}

// ---------------------------------------------------------------------------
// The macro collection

void TMySQLDatasetBase::SetMacros(const TParams& Value) { macros_->AssignValues(Value); }

TParam* TMySQLDatasetBase::MacroByName(const std::string& Name) const {
  return macros_->ParamByName(Name);
}

int TMySQLDatasetBase::GetMacroCount() const { return macros_->Count(); }

void TMySQLDatasetBase::ClearMacros() {
  for (int i = 0; i < macros_->Count(); ++i) macros_->Items(i)->SetAsString("");
}

void TMySQLDatasetBase::ParseSQL(const std::string& Text) {
  if (options_.Contains(doMacrosEnabled)) ParseMacros(Text, macro_start_, macro_end_, true);
}

void TMySQLDatasetBase::ParseAllSQL() {
  if (!options_.Contains(doMacrosEnabled)) return;
  if (options_.Contains(doMacroCheck)) macros_->Clear();
  ParseSQL(Filter());
  for (auto* list : {&sql_, &sql_update_, &sql_insert_, &sql_delete_, &sql_batch_}) {
    if (*list) ParseSQL((*list)->Text());
  }
}

TMySQLDatasetBase::TReadTemplate* TMySQLDatasetBase::ReadTemplate(const std::string& Text,
                                                                  const std::string& Start,
                                                                  const std::string& End) {
  // Templates are short; a long text (a statement with its values in it)
  // is read each time rather than kept.
  constexpr size_t kLongest = 64 * 1024;
  constexpr size_t kKept = 8;
  if (Text.size() > kLongest) return nullptr;
  const bool backslash = BackslashEscapes();
  for (TReadTemplate& t : read_templates_) {
    if (t.BackslashEscapes == backslash && t.Text == Text && t.Start == Start && t.End == End)
      return &t;
  }
  TReadTemplate fresh;
  fresh.Text = Text;
  fresh.Start = Start;
  fresh.End = End;
  fresh.BackslashEscapes = backslash;
  if (read_templates_.size() < kKept) {
    read_templates_.reserve(kKept);
    read_templates_.push_back(std::move(fresh));
    return &read_templates_.back();
  }
  TReadTemplate& slot = read_templates_[next_read_template_++ % kKept];
  slot = std::move(fresh);
  return &slot;
}

void TMySQLDatasetBase::ParseMacros(const std::string& Text, const std::string& StartDelimiter,
                                    const std::string& EndDelimiter, bool Add) {
  if (!Add || Text.empty()) return;
  TReadTemplate* read = ReadTemplate(Text, StartDelimiter, EndDelimiter);
  std::shared_ptr<const std::vector<std::string>> names = read ? read->MacroNames : nullptr;
  if (!names) {
    auto found = std::make_shared<std::vector<std::string>>();
    TBasicParser parser(Text);
    ConfigureParser(parser, StartDelimiter, EndDelimiter, kCollectOperators, BackslashEscapes());
    while (parser.NextToken(false) != tkEnd) {
      if (parser.Token.Kind != tkMacro) continue;
      std::string name = MacroName(parser.TokenString(), StartDelimiter, EndDelimiter);
      if (!name.empty()) found->push_back(std::move(name));
    }
    names = found;
    if (read != nullptr) read->MacroNames = names;
  }
  for (const std::string& name : *names) {
    if (macros_->FindParam(name) == nullptr) macros_->Add()->SetName(name);
  }
}

void TMySQLDatasetBase::SetMacroString(const std::string& Value) {
  if (Value == MacroDel()) return;
  std::string start = WordInStr(1, Value, ",;");
  std::string end = WordInStr(2, Value, ",;");
  if (start.empty()) start = "[";
  if (end.empty()) end = "]";
  bool enabled = options_.Contains(doMacrosEnabled);
  options_.Exclude(doMacrosEnabled);
  try {
    for (auto* list : {&sql_, &sql_update_, &sql_insert_, &sql_delete_}) {
      if (!*list) continue;
      std::string text = (*list)->Text();
      std::string rewritten = RewriteDelimiters(text, macro_start_, macro_end_, start, end);
      if (rewritten != text) (*list)->SetText(rewritten);
    }
  } catch (...) {
    if (enabled) options_.Include(doMacrosEnabled);
    throw;
  }
  macro_start_ = start;
  macro_end_ = end;
  if (enabled) options_.Include(doMacrosEnabled);
  ParseAllSQL();
}

// ---------------------------------------------------------------------------
// Expansion

std::string TMySQLDatasetBase::SQLPopulate(const std::string& Text, bool FirstPass, bool NoFilter,
                                           const std::string& DatabaseArg,
                                           const std::string& TableArg) {
  // The template's tokens: read once for a template (the first pass),
  // each time for a text with values in it.
  TReadTemplate* read = FirstPass ? ReadTemplate(Text, macro_start_, macro_end_) : nullptr;
  std::shared_ptr<const std::vector<TTemplateToken>> tokens = read ? read->Tokens : nullptr;
  if (!tokens) {
    auto found = std::make_shared<std::vector<TTemplateToken>>();
    TBasicParser parser(Text);
    ConfigureParser(parser, macro_start_, macro_end_, kExpandOperators, BackslashEscapes());
    for (;;) {
      TTokenKind kind = parser.NextToken(false);
      found->push_back(TTemplateToken{kind, kind != tkEnd && parser.BlankAfterToken(), parser.TokenString()});
      if (kind == tkEnd) break;
    }
    tokens = found;
    if (read != nullptr) read->Tokens = tokens;
  }
  std::string out;
  out.reserve(Text.size() + 32);
  bool counted = false;    // the first word was seen
  bool is_select = false;
  bool inserted = false;
  bool wrapped = false;    // "and (" opened before the select's own condition
  int depth = 0;           // parentheses open at the current token
  std::string condition;   // master and filter condition, unexpanded
  std::string expanded;    // the same with its macros expanded, on first use
  const TTemplateToken* at = nullptr;
  auto blank = [&] {
    if (at->BlankAfter) out += ' ';
  };
  auto expanded_condition = [&]() -> const std::string& {
    if (expanded.empty()) expanded = SQLPopulate(condition, false, true, "", "");
    return expanded;
  };
  auto open_where = [&] {
    if (!out.empty() && out.back() != ' ') out += ' ';
    out += "where " + expanded_condition();
    inserted = true;
  };
  auto close_wrap = [&] {
    while (!out.empty() && out.back() == ' ') out.pop_back();
    out += ')';
    wrapped = false;
  };

  for (const TTemplateToken& t : *tokens) {
    at = &t;
    const TTokenKind kind = static_cast<TTokenKind>(t.Kind);
    const std::string& token = t.Text;
    if ((kind == tkSymbol || kind == tkEnd) && !counted) {
      counted = true;
      is_select = kind == tkSymbol && UpperTrim(token) == "SELECT";
      if (!NoFilter) condition = GetMasterAndFilter();
    }
    // At the end of the statement the condition goes in even when the
    // parentheses do not balance: a statement the server then rejects is
    // better than one that runs without the condition.
    bool must_insert = !FirstPass && !NoFilter && is_select && !condition.empty() && !inserted;
    bool can_insert = must_insert && depth == 0;
    if (kind == tkEnd) {
      if (wrapped) close_wrap();
      if (must_insert) open_where();
      break;
    }
    switch (kind) {
      case tkSemicolon:
        if (wrapped) {
          close_wrap();
          out += ' ';
        }
        if (must_insert) {
          open_where();
          out += ' ';
        }
        out += token;
        blank();
        break;
      case tkSymbol: {
        std::string word = UpperTrim(token);
        if (wrapped && depth == 0 && EndsWhereCondition(word)) {
          close_wrap();
          out += ' ';
        }
        if (can_insert && word == "WHERE") {
          open_where();
          out += " and (";
          wrapped = true;
        } else if (can_insert && IsInsertionWord(word)) {
          open_where();
          out += " " + token;
          blank();
        } else {
          out += token;
          blank();
        }
        break;
      }
      case tkMacro:
        out += GetMacroValue(MacroName(token, macro_start_, macro_end_), DatabaseArg, TableArg);
        blank();
        break;
      case tkLineBreak:
        out += ' ';
        break;
      case tkLineComment:
        // Dropped: copied, it would comment out what follows once its line
        // break has become a blank.
        blank();
        break;
      default:
        if (kind == TTokenKind('(')) {
          ++depth;
        } else if (kind == TTokenKind(')') && depth > 0) {
          --depth;
        }
        out += token;
        blank();
        break;
    }
  }
  // Only a select takes the condition; other statements are not read again
  // (their expanded values must not be taken for macros).
  if (FirstPass && !NoFilter && is_select && !condition.empty() && !inserted) {
    return SQLPopulate(out, false, false, "", "");
  }
  return out;
}

// ---------------------------------------------------------------------------
// Macro values

TField* TMySQLDatasetBase::FieldOfColumn(int Column) const {
  for (TField* field : const_cast<TMySQLDatasetBase*>(this)->Fields()) {
    if (field->FieldKind() == fkData && field->FieldNo() == Column + 1) return field;
  }
  return nullptr;
}

bool TMySQLDatasetBase::InTable(int Column, const std::string& TableArg) const {
  if (TableArg.empty()) return true;
  // The table's name followed by "." where a name part starts, so that
  // table "t" does not take the columns of table "kt".
  const std::string& name = field_infos_[Column]->FullName;
  const std::string part = TableArg + ".";
  for (size_t at = name.find(part); at != std::string::npos; at = name.find(part, at + 1)) {
    if (at == 0 || name[at - 1] == '.') return true;
  }
  return false;
}

std::string TMySQLDatasetBase::ColumnSQLName(int Column) const {
  TField* field = FieldOfColumn(Column);
  if (field != nullptr && !field->Origin().empty()) return field->Origin();
  return field_infos_[Column]->FullName;
}

std::string TMySQLDatasetBase::ColumnLiteral(int Column, bool Old) {
  const TRowValues* data = nullptr;
  if (Old && old_values_) {
    data = &old_values_->Data;
  } else {
    TRecInfo* rec = nullptr;
    if (!GetActiveRecBuf(rec)) return "NULL";
    data = &rec->Data;
  }
  std::optional<std::string_view> value = data->Get(Column);
  if (!value) return "NULL";
  // A BIT value is held as its bytes: written as a bit literal, which the
  // server reads as that number (in a string it would be text).
  if (field_infos_[Column]->ServerType == mysql_column::kBit) return BitLiteral(*value);
  if (value->empty()) return "''";
  TField* field = FieldOfColumn(Column);
  bool hex = field != nullptr ? WrittenInHex(field)
                              : (field_infos_[Column]->Flags & mysql_column::kBinaryFlag) != 0 &&
                                    (field_infos_[Column]->Flags & mysql_column::kBlobFlag) != 0;
  if (hex) return BinaryLiteral(*value);
  return StringLiteral(std::string(*value));
}

bool TMySQLDatasetBase::FieldValueText(TField* Field, std::string& Text) {
  auto* dataset = dynamic_cast<TMySQLDatasetBase*>(Field->DataSet());
  if (dataset != nullptr && Field->FieldKind() == fkData && dataset->ColumnOf(Field) >= 0) {
    std::optional<std::string> text = dataset->GetFieldText(Field);
    if (!text) return false;
    Text = std::move(*text);
    return true;
  }
  if (Field->IsNull()) return false;
  switch (Field->DataType()) {
    case ftFloat: case ftCurrency: case ftBCD: case ftFMTBcd:
      Text = MySQLFloatToStr(Field->AsFloat());
      break;
    case ftDate:
      Text = DateText(Field->AsDateTime(), true, false);
      break;
    case ftTime:
      Text = DateText(Field->AsDateTime(), false, true);
      break;
    case ftDateTime:
      Text = DateText(Field->AsDateTime(), true, true);
      break;
    case ftBoolean:
      Text = Field->AsBoolean() ? "1" : "0";
      break;
    default:
      Text = Field->AsString();
      break;
  }
  return true;
}

std::string TMySQLDatasetBase::MacroParamLiteral(TParam* Param) const {
  TFieldType type = Param->DataType();
  switch (type) {
    case ftString: case ftFixedChar: case ftWideString: case ftUnknown:
      return Param->AsString();
    default:
      break;
  }
  if (Param->IsNull()) return "NULL";
  switch (type) {
    case ftSmallint: case ftInteger: case ftWord: case ftAutoInc:
      return std::to_string(Param->AsInteger());
    case ftLargeint:
      return std::to_string(Param->AsLargeInt());
    case ftBoolean:
      return Param->AsBoolean() ? "1" : "0";
    case ftFloat: case ftCurrency: case ftBCD: case ftFMTBcd:
      return MySQLFloatToStr(Param->AsFloat());
    case ftDate:
      return QuoteStr(DateText(Param->AsDateTime(), true, false));
    case ftTime:
      return QuoteStr(DateText(Param->AsDateTime(), false, true));
    case ftDateTime:
      return QuoteStr(DateText(Param->AsDateTime(), true, true));
    case ftVariant:
      return StringLiteral(VarToStr(Param->Value()));
    default:
      break;
  }
  if (IsBlobType(type)) {
    std::string bytes = Param->AsString();
    return BinaryLiteral(bytes);
  }
  return Param->AsString();
}

std::string TMySQLDatasetBase::ColumnMatch(int Column) {
  TRecInfo* rec = nullptr;
  const TRowValues* values = nullptr;
  if (old_values_) {
    values = &old_values_->Data;
  } else if (GetActiveRecBuf(rec)) {
    values = &rec->Data;
  }
  const std::string name = ColumnSQLName(Column);
  if (values == nullptr || Column >= values->Count() || values->IsNull(Column)) {
    return "(" + name + " IS NULL)";
  }
  const uint8_t type = field_infos_[Column]->ServerType;
  if (type == mysql_column::kFloat || type == mysql_column::kDouble) {
    // The held text is the server's rounded text of the stored number: as a
    // number it would not equal the stored one, as the server's text it does.
    return "(CONCAT(" + name + ")=" + StringLiteral(std::string(values->Value(Column))) + ")";
  }
  // A long binary value is matched by its length and checksum: written out
  // it would double the statement (a large blob then no longer fits the
  // server's packet limit). The bytes of a binary column are the held
  // bytes, so the server's CRC32 of the column is the checksum of the value.
  const std::string_view held = values->Value(Column);
  if (held.size() > kLongBinaryMatch && WrittenInHex(FieldOfColumn(Column))) {
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(held.data()),
                            static_cast<uInt>(held.size()));
    return "(LENGTH(" + name + ")=" + std::to_string(held.size()) + " AND CRC32(" + name +
           ")=" + std::to_string(crc) + ")";
  }
  return "(" + name + "=" + ColumnLiteral(Column, true) + ")";
}

void TMySQLDatasetBase::AddRowCheck(const std::string& Table, const std::string& Condition,
                                    const std::string& KeyCondition, bool Verified,
                                    const std::vector<int>& Columns) {
  TRowCheck check;
  check.Table = Table;
  check.Condition = Condition;
  check.KeyCondition = KeyCondition;
  check.Verified = Verified;
  TRecInfo* rec = nullptr;
  const bool has_rec = GetActiveRecBuf(rec);
  for (int column : Columns) {
    check.Columns.push_back(field_infos_.Key(column));
    check.SqlNames.push_back(ColumnSQLName(column));
    std::optional<std::string> posted;
    if (has_rec && column < rec->Data.Count() && !rec->Data.IsNull(column)) {
      posted = std::string(rec->Data.Value(column));
    }
    std::optional<std::string> held = posted;
    if (old_values_) {
      held.reset();
      if (column < old_values_->Data.Count() && !old_values_->Data.IsNull(column)) {
        held = std::string(old_values_->Data.Value(column));
      }
    }
    check.Held.push_back(std::move(held));
    check.Posted.push_back(std::move(posted));
  }
  row_checks_.push_back(std::move(check));
}

const std::vector<int>& TMySQLDatasetBase::TableKeyColumns(TTableInfo* Table) {
  if (Table->KeysLearnt) return Table->KeyColumns;
  if (connection_handle_ == nullptr || server_ == nullptr) return Table->KeyColumns;
  // An unfinished result holds the connection; a change statement would
  // read it to its end first anyway.
  if (result_handle_ != nullptr) ClearRest();
  Table->KeysLearnt = true;
  // Table, Non_unique, Key_name, Seq_in_index, Column_name, Collation,
  // Cardinality, Sub_part, Packed, Null
  auto answer = MetadataRows("show index from " + Table->QualifiedName, 10);
  if (!answer) return Table->KeyColumns;
  struct Key {
    std::string name;
    bool complete = true;
    std::vector<int> columns;
  };
  std::vector<Key> keys;
  for (const auto& r : *answer) {
    if (!r[1] || !r[2] || !r[4] || *r[1] != "0") continue;
    Key* key = nullptr;
    for (Key& k : keys) {
      if (k.name == *r[2]) key = &k;
    }
    if (key == nullptr) {
      keys.push_back(Key{*r[2], true, {}});
      key = &keys.back();
    }
    // The column of this table occurrence (not of another alias of the
    // same table in a self-join).
    int column = -1;
    for (int i = 0; i < server_columns_ && column < 0; ++i) {
      TFieldInfo* info = field_infos_[i];
      if (SameText(info->Table, Table->Table) && SameText(info->OrgName, *r[4])) column = i;
    }
    if (column < 0 || (r[9] && *r[9] == "YES")) {
      key->complete = false;
    } else {
      key->columns.push_back(column);
    }
  }
  // The primary key when it is complete, else the first complete unique key.
  const Key* chosen = nullptr;
  for (const Key& k : keys) {
    if (!k.complete || k.columns.empty()) continue;
    if (chosen == nullptr || (k.name == "PRIMARY" && chosen->name != "PRIMARY")) chosen = &k;
  }
  if (chosen != nullptr) Table->KeyColumns = chosen->columns;
  return Table->KeyColumns;
}

TTableInfo* TMySQLDatasetBase::EditTable() const {
  if (!table_name_.empty()) {
    for (int t = 0; t < table_infos_.Count(); ++t) {
      TTableInfo* table = table_infos_[t];
      if (SameText(table->Table, table_name_) || SameText(table->OrgTable, table_name_) ||
          SameText(table->Database + "." + table->OrgTable, table_name_)) {
        return table;
      }
    }
  }
  for (int i = 0; i < server_columns_; ++i) {
    const std::string& alias = field_infos_[i]->Table;
    if (alias.empty()) continue;
    if (TTableInfo* table = table_infos_.Find(alias)) return table;
  }
  return nullptr;
}

std::string TMySQLDatasetBase::RowCondition(const std::string& TableArg) {
  TRecInfo* rec = nullptr;
  if (!GetActiveRecBuf(rec)) return std::string();
  // The tables the condition covers: the one named, else every table of the
  // result (one statement over all of them).
  std::vector<TTableInfo*> tables;
  for (int t = 0; t < table_infos_.Count(); ++t) {
    TTableInfo* table = table_infos_[t];
    if (TableArg.empty() || table->QualifiedName == TableArg) tables.push_back(table);
  }
  std::string out;
  auto part = [&](const std::string& TableText, const std::vector<int>& Scope, TTableInfo* Table) {
    std::vector<int> key;
    bool verified = false;
    if (Table != nullptr) {
      key = TableKeyColumns(Table);
      verified = !key.empty();
    }
    if (!verified && !field_name_.empty()) {
      for (int column : Scope) {
        if (ListHasName(field_name_, field_infos_.Key(column)) ||
            ListHasName(field_name_, field_infos_[column]->Name)) {
          key.push_back(column);
        }
      }
    }
    // No key: every column of the table, so that the values held identify
    // the row (and the check below refuses when they do not).
    if (key.empty()) key = Scope;
    if (key.empty()) return;
    std::string key_text;
    for (int column : key) {
      if (!key_text.empty()) key_text += " AND ";
      key_text += ColumnMatch(column);
    }
    std::string text = key_text;
    // While editing: the changed columns must still hold what the edit
    // started from, or another user's change would be overwritten.
    if (old_values_) {
      for (int column : Scope) {
        if (!field_infos_[column]->Modified) continue;
        if (std::find(key.begin(), key.end(), column) != key.end()) continue;
        text += " AND " + ColumnMatch(column);
      }
    }
    AddRowCheck(TableText, text, verified ? key_text : std::string(), verified, Scope);
    if (!out.empty()) out += " AND ";
    out += text;
  };
  auto scope_of = [&](TTableInfo* Table) {
    std::vector<int> scope;
    for (int i = 0; i < server_columns_; ++i) {
      TFieldInfo* info = field_infos_[i];
      if (!info->IsServerColumn || FieldOfColumn(i) == nullptr) continue;
      if (Table != nullptr ? !SameText(info->Table, Table->Table) : !InTable(i, TableArg)) continue;
      scope.push_back(i);
    }
    return scope;
  };
  if (tables.empty()) {
    std::string table_text = TableArg;
    if (table_text.empty()) BuiltInMacro("$TABLENAME", "", "", table_text);
    part(table_text, scope_of(nullptr), nullptr);
  } else {
    for (TTableInfo* table : tables) part(table->QualifiedName, scope_of(table), table);
  }
  return out.empty() ? std::string(kNoKeyPlaceholder) : out;
}

std::string TMySQLDatasetBase::KeyCondition(const std::string& KeyList, bool AllTypes,
                                            const std::string& TableArg) {
  TRecInfo* rec = nullptr;
  if (!GetActiveRecBuf(rec)) return std::string();
  std::vector<int> columns;
  if (KeyList.empty()) {
    for (int i = 0; i < field_infos_.Count(); ++i) {
      TField* field = FieldOfColumn(i);
      if (field == nullptr || !field_infos_[i]->IsServerColumn) continue;
      if (!AllTypes && ExcludedFromKeys(field->DataType())) continue;
      if (!InTable(i, TableArg)) continue;
      columns.push_back(i);
    }
  } else {
    for (uint8_t n = 1; n < 255; ++n) {
      std::string word = WordInStr(n, KeyList, ",;");
      if (word.empty()) break;
      TField* field = FindField(word);
      int column = ColumnOf(field);
      if (field == nullptr || column < 0 || field->FieldKind() != fkData) continue;
      if (!AllTypes && ExcludedFromKeys(field->DataType())) continue;
      if (!InTable(column, TableArg)) continue;
      columns.push_back(column);
    }
  }
  std::string out;
  for (int column : columns) {
    if (!out.empty()) out += " AND ";
    out += ColumnMatch(column);
  }
  if (out.empty()) return std::string(kNoKeyPlaceholder);
  // Not known to identify one row: checked before a change runs.
  std::string table_text = TableArg;
  if (table_text.empty()) BuiltInMacro("$TABLENAME", "", "", table_text);
  AddRowCheck(table_text, out, std::string(), false, columns);
  return out;
}

std::string TMySQLDatasetBase::ModifiedList(bool Modified, int What, const std::string& TableArg) {
  TRecInfo* rec = nullptr;
  if (!GetActiveRecBuf(rec)) return std::string();
  std::string out;
  for (int i = 0; i < field_infos_.Count(); ++i) {
    TFieldInfo* info = field_infos_[i];
    if (info->Modified != Modified || !info->IsServerColumn) continue;
    TField* field = FieldOfColumn(i);
    if (field == nullptr || field->ReadOnly() || !InTable(i, TableArg)) continue;
    if (!out.empty()) out += ",";
    switch (What) {
      case 0: out += ColumnSQLName(i) + "=" + ColumnLiteral(i, false); break;
      case 1: out += info->FullName; break;
      default: out += ColumnLiteral(i, false); break;
    }
  }
  // A new record with nothing set: every column takes the server's default
  // ("set" needs one assignment; DEFAULT of the first column is that).
  if (out.empty() && What == 0 && Modified && State() == dsInsert) {
    for (int i = 0; i < server_columns_; ++i) {
      if (!field_infos_[i]->IsServerColumn || field_infos_[i]->Table.empty()) continue;
      if (FieldOfColumn(i) == nullptr || !InTable(i, TableArg)) continue;
      return ColumnSQLName(i) + "=DEFAULT";
    }
  }
  return out;
}

bool TMySQLDatasetBase::BuiltInMacro(const std::string& Name, const std::string& DatabaseArg,
                                     const std::string& TableArg, std::string& Value) {
  if (Name == "$DATABASENAME") {
    Value = FormatIdentifier(DatabaseArg.empty() ? database_name_ : DatabaseArg);
  } else if (Name == "$TABLENAME") {
    if (!TableArg.empty()) {
      Value = TableArg;
    } else if (!table_name_.empty()) {
      Value = FormatIdentifier(table_name_);
    } else if (TTableInfo* table = EditTable()) {
      // The table's own name (and database), never its alias in the select.
      Value = table->QualifiedName;
    } else {
      Value = kNoTableNamePlaceholder;
    }
  } else if (Name == "$FIELDNAME") {
    Value = FormatIdentifier(WordInStr(1, field_name_, ",;"));
  } else if (Name == "$FIELDS") {
    Value = GetSelectFields();
  } else if (Name == "$WHERE") {
    std::string condition = GetMasterAndFilter();
    Value = condition.empty() ? std::string() : "where " + SQLPopulate(condition, false, true, "", "");
  } else if (Name == "$MODIFIED$FIELDS&VALUES") {
    Value = ModifiedList(true, 0, TableArg);
  } else if (Name == "$UNMODIFIED$FIELDS&VALUES") {
    Value = ModifiedList(false, 0, TableArg);
  } else if (Name == "$MODIFIED$FIELD$NAMES") {
    Value = ModifiedList(true, 1, TableArg);
  } else if (Name == "$UNMODIFIED$FIELD$NAMES") {
    Value = ModifiedList(false, 1, TableArg);
  } else if (Name == "$MODIFIED$FIELD$VALUES") {
    Value = ModifiedList(true, 2, TableArg);
  } else if (Name == "$UNMODIFIED$FIELD$VALUES") {
    Value = ModifiedList(false, 2, TableArg);
  } else if (Name == "$OLD$FIELDS&VALUES") {
    Value = KeyCondition("", true, TableArg);
  } else if (Name == "$PRIMARYFIELDS&VALUES") {
    Value = RowCondition(TableArg);
  } else if (Name == "$FIELDNAMES&VALUES") {
    Value = KeyCondition(field_name_, false, TableArg);
  } else if (Name == "$UNIQUEFIELDS&VALUES") {
    Value = KeyCondition(unique_key_fields_, false, TableArg);
  } else if (Name == "$MULTIFIELDS&VALUES") {
    Value = KeyCondition(index_key_fields_, false, TableArg);
  } else if (Name == "$FIELDNAMES&VALUES$COMMA") {
    Value.clear();
    TRecInfo* rec = nullptr;
    if (!GetActiveRecBuf(rec)) return true;
    for (uint8_t n = 1; n < 255; ++n) {
      std::string word = WordInStr(n, field_name_, ",;");
      if (word.empty()) break;
      int column = ColumnOf(FindField(word));
      if (column < 0 || !InTable(column, TableArg)) continue;
      if (!Value.empty()) Value += ",";
      Value += ColumnSQLName(column) + "=" + ColumnLiteral(column, false);
    }
  } else if (Name == "$FIELDNAME$VALUE") {
    Value = ValueByName(UpperCase(WordInStr(1, field_name_, ",;")), TableArg);
  } else {
    return false;
  }
  return true;
}

std::string TMySQLDatasetBase::ValueByName(std::string Name, const std::string& TableArg) {
  bool old = false;
  if (Name.size() > 5 && Name.compare(0, 5, "$OLD$") == 0) {
    Name.erase(0, 5);
    old = true;
  }
  if (Name.empty()) return std::string();
  if (FieldCount() > 0) {
    if (TField* field = FindField(Name)) {
      TRecInfo* rec = nullptr;
      if (!GetActiveRecBuf(rec)) return std::string();
      int column = ColumnOf(field);
      if (column >= 0 && field->FieldKind() == fkData) {
        if (!InTable(column, TableArg)) return std::string();
        return ColumnLiteral(column, old);
      }
      std::string text;
      return FieldValueText(field, text) ? StringLiteral(text) : std::string("NULL");
    }
  }
  TDataSource* source = master_link_->DataSource();
  TDataSet* master = source != nullptr ? source->DataSet() : nullptr;
  if (master != nullptr) {
    if (TField* field = master->FindField(Name)) {
      std::string text;
      if (!master_link_->Active() || !master->Active() || master->IsEmpty() ||
          !FieldValueText(field, text)) {
        return "NULL";
      }
      return BlobOrStringLiteral(field, text);
    }
  }
  if (TParam* param = macros_->FindParam(Name)) return MacroParamLiteral(param);
  return std::string();
}

std::string TMySQLDatasetBase::GetMacroValue(const std::string& Name, const std::string& DatabaseArg,
                                             const std::string& TableArg) {
  if (Name.empty()) return std::string();
  if (OnMacro) {
    std::string value;
    bool use_default = true;
    OnMacro(this, Name, value, use_default);
    if (!use_default) return value;
  }
  if (Name[0] == '$') {
    std::string value;
    if (BuiltInMacro(Name, DatabaseArg, TableArg, value)) return value;
  }
  return ValueByName(Name, TableArg);
}

}  // namespace rowset
