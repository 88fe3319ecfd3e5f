// Datasets: Locate, Lookup, LocateRecord and LocateRecordOption (rules in
// components/MySQLDataset.h).
//
// Key fields whose text is the stored value itself (string, memo and blob
// data fields, and number columns compared as numbers) are compared straight
// on the held rows, row by row in navigation order, reading an incremental
// result one row at a time as the search goes; the record found is then
// made current once. Other fields (dates, calculated fields) and
// unidirectional results walk the records through the navigation and
// compare each field's AsString.
//
// Numbers are compared as numbers, not as their texts: an integer or
// DECIMAL column by its exact decimal value (12.50 = 12.5, 7.00 = 7, BIGINT
// UNSIGNED over its whole range), a FLOAT or DOUBLE column as a double.
// Letter case is ignored by Unicode simple case folding when the connection
// speaks UTF-8 (by a-z only otherwise).
#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>

#include "components/MySQLDataset.h"
#include "host/Variants.h"
#include "util/MySQLCaseFold.h"

namespace rowset {

namespace {

using namespace mysql_column;

// The column flag of ZEROFILL columns ("0007").
constexpr uint32_t kZerofillFlag = 64;

// The text a key value is compared as: Null and empty give "", an array its
// first element.
std::string KeyText(const Variant& V) {
  if (V.IsArray()) return V.ArrayCount() > 0 ? KeyText(V.ArrayItem(0)) : std::string();
  return VarToStr(V);
}

const Variant& KeyScalar(const Variant& V) {
  if (V.IsArray() && V.ArrayCount() > 0) return KeyScalar(V.ArrayItem(0));
  return V;
}

std::string_view TrimBlanks(std::string_view S) {
  while (!S.empty() && (S.front() == ' ' || S.front() == '\t')) S.remove_prefix(1);
  while (!S.empty() && (S.back() == ' ' || S.back() == '\t')) S.remove_suffix(1);
  return S;
}

// The canonical text of a decimal number: "-" for a negative one, the
// integer digits without leading zeros ("0" for none), then "." and the
// fraction digits without trailing zeros when there are any; an exponent is
// applied. nullopt when S is not a number (or its exponent is absurd).
std::optional<std::string> CanonicalDecimal(std::string_view S) {
  S = TrimBlanks(S);
  bool negative = false;
  if (!S.empty() && (S[0] == '-' || S[0] == '+')) {
    negative = S[0] == '-';
    S.remove_prefix(1);
  }
  std::string digits;
  int64_t point = -1;  // digits before the point
  size_t i = 0;
  for (; i < S.size(); ++i) {
    const char c = S[i];
    if (c >= '0' && c <= '9') {
      digits += c;
    } else if (c == '.' && point < 0) {
      point = static_cast<int64_t>(digits.size());
    } else {
      break;
    }
  }
  if (digits.empty()) return std::nullopt;
  if (point < 0) point = static_cast<int64_t>(digits.size());
  if (i < S.size()) {
    if (S[i] != 'e' && S[i] != 'E') return std::nullopt;
    int exponent = 0;
    std::string_view rest = S.substr(i + 1);
    if (!rest.empty() && rest[0] == '+') rest.remove_prefix(1);
    auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), exponent);
    if (error != std::errc() || end != rest.data() + rest.size() || rest.empty()) return std::nullopt;
    if (exponent > 400 || exponent < -400) return std::nullopt;
    point += exponent;
  }
  // Digits before the point, padded with zeros where the point lies outside.
  if (point < 0) {
    digits.insert(0, static_cast<size_t>(-point), '0');
    point = 0;
  } else if (point > static_cast<int64_t>(digits.size())) {
    digits.append(static_cast<size_t>(point) - digits.size(), '0');
  }
  std::string whole = digits.substr(0, static_cast<size_t>(point));
  std::string fraction = digits.substr(static_cast<size_t>(point));
  const size_t lead = whole.find_first_not_of('0');
  whole = lead == std::string::npos ? "0" : whole.substr(lead);
  const size_t last = fraction.find_last_not_of('0');
  fraction = last == std::string::npos ? std::string() : fraction.substr(0, last + 1);
  std::string out;
  if (negative && (whole != "0" || !fraction.empty())) out += '-';
  out += whole;
  if (!fraction.empty()) out += "." + fraction;
  return out;
}

std::optional<double> ParseDouble(std::string_view S) {
  S = TrimBlanks(S);
  if (!S.empty() && S[0] == '+') S.remove_prefix(1);
  double value = 0;
  auto [end, error] = std::from_chars(S.data(), S.data() + S.size(), value);
  if (S.empty() || error != std::errc() || end != S.data() + S.size()) return std::nullopt;
  return value;
}

// How a key field is compared.
enum class TKeyKind { kText, kExact, kFloat };

TKeyKind NumberKind(TFieldType Type) {
  switch (Type) {
    case ftSmallint: case ftInteger: case ftWord: case ftAutoInc: case ftLargeint:
    case ftBCD: case ftFMTBcd:
      return TKeyKind::kExact;
    case ftFloat: case ftCurrency:
      return TKeyKind::kFloat;
    default:
      return TKeyKind::kText;
  }
}

TKeyKind ColumnKind(uint8_t ColumnType) {
  switch (ColumnType) {
    case kTiny: case kShort: case kLong: case kLongLong: case kInt24: case kYear:
    case kDecimal: case kNewDecimal:
      return TKeyKind::kExact;
    case kFloat: case kDouble:
      return TKeyKind::kFloat;
    default:
      return TKeyKind::kText;
  }
}

// The exact decimal text of a key value; nullopt when it is no number.
std::optional<std::string> ExactKey(const Variant& V) {
  switch (V.VarType()) {
    case varUInt64:
    case varInt64: case varInteger: case varSmallint: case varShortInt: case varByte:
    case varWord: case varLongWord:
      return CanonicalDecimal(V.AsString());
    case varSingle: case varDouble: case varCurrency: {
      const double d = V.AsFloat();
      if (!std::isfinite(d)) return std::nullopt;
      char buffer[64];
      auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, d);
      if (error != std::errc()) return std::nullopt;
      return CanonicalDecimal(std::string_view(buffer, static_cast<size_t>(end - buffer)));
    }
    case varString:
      return CanonicalDecimal(V.AsString());
    default:
      return std::nullopt;
  }
}

std::optional<double> FloatKey(const Variant& V) {
  if (V.VarType() == varString) return ParseDouble(V.AsString());
  if (V.IsNumeric()) return V.AsFloat();
  return std::nullopt;
}

// Whether a number's text may differ from its canonical form (a point, an
// exponent, a sign or leading zeros); otherwise the texts are compared.
bool MaybeNonCanonical(std::string_view S) {
  if (S.empty()) return false;
  if (S[0] == '+' || S[0] == ' ' || S.back() == ' ') return true;
  const size_t digits = S[0] == '-' ? 1 : 0;
  if (S.size() > digits + 1 && S[digits] == '0') return true;
  if (S.size() == digits + 1 && S[digits] == '0' && digits == 1) return true;  // "-0"
  return S.find_first_of(".eE") != std::string_view::npos;
}

// Restores the controls on every way out.
class TControlsScope {
 public:
  explicit TControlsScope(TDataSet& D) : d_(D) { d_.DisableControls(); }
  ~TControlsScope() { d_.EnableControls(); }
  TControlsScope(const TControlsScope&) = delete;
  TControlsScope& operator=(const TControlsScope&) = delete;

 private:
  TDataSet& d_;
};

}  // namespace

// One search: the key fields, the key each is compared with and the rule.
class TLocateSearch {
 public:
  // Substring: the option rule ("contains" for a partial key, any/all of
  // the fields); else the prefix rule with every field needed.
  TLocateSearch(TMySQLDatasetBase& Dataset, const std::string& KeyFields, const Variant& KeyValues,
                TLocateOptions Options, bool OptionRule, TMySQLLocateOptions MySQLOptions)
      : ignore_case_(Options.Contains(loCaseInsensitive)),
        partial_(Options.Contains(loPartialKey)),
        option_rule_(OptionRule),
        match_all_(!OptionRule || MySQLOptions.Contains(loMatchAll)) {
    Dataset.GetFieldList(fields_, KeyFields);
    if (ignore_case_) {
      TMySQLServer* server = Dataset.Server();
      std::string charset;
      try {
        if (server != nullptr && server->GetDriver() != nullptr && server->Connection() != nullptr)
          charset = server->GetDriver()->CharacterSetName();
      } catch (const EDatabaseError&) {
      }
      utf8_ = charset.rfind("utf8", 0) == 0;
    }
    // Every key is taken before the search moves (a missing element raises
    // the variant error here).
    for (size_t k = 0; k < fields_.size(); ++k) {
      const Variant& value = fields_.size() == 1 || (OptionRule && MySQLOptions.Contains(loTextSearch))
                                 ? KeyValues
                                 : KeyValues.ArrayItem(static_cast<int>(k));
      Key key;
      key.text = KeyText(value);
      if (ignore_case_) key.folded = Fold(key.text);
      key.kind = FieldKind(Dataset, fields_[k]);
      const Variant& scalar = KeyScalar(value);
      // A partial key and an absent key (which matches NULL) keep the text
      // rule; so does a key that is no number.
      if (partial_ || scalar.IsNull() || scalar.IsEmpty()) key.kind = TKeyKind::kText;
      if (key.kind == TKeyKind::kExact) {
        if (std::optional<std::string> exact = ExactKey(scalar)) {
          key.exact = std::move(*exact);
        } else {
          key.kind = TKeyKind::kText;
        }
      } else if (key.kind == TKeyKind::kFloat) {
        if (std::optional<double> number = FloatKey(scalar)) {
          key.number = *number;
        } else {
          key.kind = TKeyKind::kText;
        }
      }
      keys_.push_back(std::move(key));
    }
    fast_ = Dataset.ResultType() != rtUnidirectional && Dataset.row_base_ == 0;
    for (size_t k = 0; k < fields_.size(); ++k) {
      TField* f = fields_[k];
      int column = Dataset.ColumnOf(f);
      Source s{column, -1, false, false};
      if (column < 0 || f->FieldKind() != fkData) {
        fast_ = false;
      } else if (keys_[k].kind != TKeyKind::kText &&
                 ColumnKind(Dataset.field_infos_[column]->ColumnType) != TKeyKind::kText) {
        // The server's text of the number is the value compared.
        s.raw = true;
        const TFieldInfo* info = Dataset.field_infos_[column];
        // An integer column without ZEROFILL is always sent in canonical
        // form: its text equals the key's exactly or not at all.
        s.canonical = keys_[k].kind == TKeyKind::kExact && !(info->Flags & kZerofillFlag) &&
                      info->ColumnType != kDecimal && info->ColumnType != kNewDecimal;
      } else if (f->IsBlob() && dynamic_cast<TBlobField*>(f) != nullptr) {
        s.limit = -1;
      } else if (f->DataType() == ftString && dynamic_cast<TMySQLStringField*>(f) != nullptr &&
                 keys_[k].kind == TKeyKind::kText) {
        s.limit = std::max(f->Size(), 0);
      } else {
        fast_ = false;
      }
      sources_.push_back(s);
    }
    // The common case, one string field compared exactly with a text that
    // is not all blanks, is tested on the bytes alone.
    single_exact_ = fast_ && fields_.size() == 1 && !partial_ && !ignore_case_ &&
                    keys_[0].kind == TKeyKind::kText && !sources_[0].raw && sources_[0].limit >= 0 &&
                    keys_[0].text.find_first_not_of(' ') != std::string::npos &&
                    keys_[0].text.size() <= static_cast<size_t>(sources_[0].limit);
  }

  size_t Count() const { return fields_.size(); }
  // Rows can be compared without moving to them.
  bool Fast() const { return fast_; }

  // Fast only: the bookmark of the first row from From on (stepping by
  // Step, +1 or -1) that matches; -1 when none does. An incremental result
  // is read one row at a time as the scan reaches its end.
  int64_t Scan(TMySQLDatasetBase& D, int64_t From, int Step, TField*& Matched) {
    for (int64_t i = From; i >= 0; i += Step) {
      if (i >= D.FetchedCount()) {
        if (D.LocateRow(i) == nullptr) return -1;
      }
      const TRowList& rows = *D.rows_;
      // The held rows, compared in place until the next read is needed.
      const int64_t end = Step > 0 ? D.FetchedCount() : -1;
      if (single_exact_) {
        for (; i != end; i += Step) {
          if (ExactRow(rows[static_cast<size_t>(i - D.row_base_)])) return i;
        }
      } else if (fields_.size() == 1 && keys_[0].kind == TKeyKind::kExact && sources_[0].canonical) {
        // One integer column: the held texts compared straight.
        const int column = sources_[0].column;
        const std::string& key = keys_[0].exact;
        for (; i != end; i += Step) {
          if (rows[static_cast<size_t>(i - D.row_base_)].Value(column) == key) return i;
        }
      } else if (fields_.size() == 1 && keys_[0].kind == TKeyKind::kExact) {
        // One number column: the direct compare of each held value.
        const int column = sources_[0].column;
        for (; i != end; i += Step) {
          if (SameExact(rows[static_cast<size_t>(i - D.row_base_)].Value(column), keys_[0].exact)) return i;
        }
      } else {
        for (; i != end; i += Step) {
          if (MatchRow(rows[static_cast<size_t>(i - D.row_base_)], Matched)) return i;
        }
      }
      if (Step < 0) return -1;
      i -= Step;
    }
    return -1;
  }

  // The record at Row (Fast only); Matched as for Match.
  bool MatchRow(const TRowValues& Row, TField*& Matched) {
    return Match([&](size_t K) { return RowText(Row, K); }, Matched);
  }
  // The active record.
  bool MatchActive(TField*& Matched) {
    return Match(
        [&](size_t K) {
          TField* f = fields_[K];
          if (keys_[K].kind == TKeyKind::kFloat && !f->IsNull() && NumberKind(f->DataType()) == TKeyKind::kFloat) {
            // The field's own number, not its text in the locale's format.
            char buffer[64];
            auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, f->AsFloat());
            scratch_.assign(buffer, error == std::errc() ? static_cast<size_t>(end - buffer) : 0);
          } else {
            scratch_ = f->AsString();
          }
          return std::string_view(scratch_);
        },
        Matched);
  }

 private:
  struct Source {
    int column;
    int limit;  // string fields: their size; -1 for blobs (whole value)
    bool raw;   // a number column: the server's text as it is
    bool canonical;  // an integer column: its text is the canonical one
  };
  struct Key {
    std::string text;
    std::string folded;  // the text with its letter case folded
    TKeyKind kind = TKeyKind::kText;
    std::string exact;  // kExact: canonical decimal text
    double number = 0;  // kFloat
  };

  std::string Fold(std::string_view S) const { return utf8_ ? FoldUtf8(S) : FoldAscii(S); }

  static bool SameExact(std::string_view Value, const std::string& Key) {
    if (Value == Key) return true;
    if (!MaybeNonCanonical(Value)) return false;
    std::optional<std::string> canonical = CanonicalDecimal(Value);
    return canonical && *canonical == Key;
  }

  // A value of a string field equals a key that is not all blanks and fits
  // the field exactly when the bytes are the same (a blank value, which
  // reads as empty, cannot have the same bytes).
  bool ExactRow(const TRowValues& Row) const {
    std::string_view v = Row.Value(sources_[0].column);
    const size_t limit = static_cast<size_t>(sources_[0].limit);
    return (v.size() <= limit ? v : v.substr(0, limit)) == keys_[0].text;
  }

  // What the field's AsString gives for that row: a string field reads a
  // blank value as NULL and at most its size; a blob its bytes; a number
  // column the server's text.
  std::string_view RowText(const TRowValues& Row, size_t K) const {
    std::string_view v = Row.Value(sources_[K].column);
    if (sources_[K].raw) return v;
    int limit = sources_[K].limit;
    if (limit < 0) return v;
    if (v.find_first_not_of(' ') == std::string_view::npos) return {};
    if (v.size() > static_cast<size_t>(limit)) v = v.substr(0, static_cast<size_t>(limit));
    return v;
  }

  bool FieldMatch(std::string_view Text, const Key& K) {
    switch (K.kind) {
      case TKeyKind::kExact:
        return SameExact(Text, K.exact);
      case TKeyKind::kFloat: {
        std::optional<double> value = ParseDouble(Text);
        return value && *value == K.number;
      }
      case TKeyKind::kText:
        break;
    }
    std::string_view key = K.text;
    if (ignore_case_) {
      folded_ = Fold(Text);
      Text = folded_;
      key = K.folded;
    }
    if (partial_) {
      if (!option_rule_) return Text.substr(0, key.size()) == key;
      return Text.find(key) != std::string_view::npos;
    }
    return Text == key;
  }

  template <typename TextOf>
  bool Match(TextOf Text, TField*& Matched) {
    if (!option_rule_) {
      for (size_t k = 0; k < fields_.size(); ++k)
        if (!FieldMatch(Text(k), keys_[k])) return false;
      return true;
    }
    bool result = match_all_;
    for (size_t k = 0; k < fields_.size(); ++k) {
      // A field is not compared once the outcome is settled.
      if (match_all_ ? result : !result) result = FieldMatch(Text(k), keys_[k]);
      if (result && Matched == nullptr) Matched = fields_[k];
    }
    return result;
  }

  static TKeyKind FieldKind(TMySQLDatasetBase& Dataset, TField* Field) {
    const int column = Dataset.ColumnOf(Field);
    if (column >= 0 && Field->FieldKind() == fkData) {
      const uint8_t type = Dataset.field_infos_[column]->ColumnType;
      // BIT columns hold bytes; their field gives the number.
      if (type == kBit) return NumberKind(Field->DataType());
      return ColumnKind(type);
    }
    return NumberKind(Field->DataType());
  }

  std::vector<TField*> fields_;
  std::vector<Key> keys_;
  std::vector<Source> sources_;
  std::string scratch_;
  std::string folded_;
  bool ignore_case_, partial_, option_rule_, match_all_;
  bool utf8_ = false;
  bool fast_ = false;
  bool single_exact_ = false;
};

// ---------------------------------------------------------------------------

const TRowValues* TMySQLDatasetBase::LocateRow(int64_t Index) {
  if (Index < 0) return nullptr;
  // An incremental result is read one row at a time, only as far as needed.
  while (Index >= FetchedCount() && !all_fetched_) GetNextRow();
  const TRowValues* row = GetIndexRecord(Index);
  return row != nullptr && !row->Released() ? row : nullptr;
}

int64_t TMySQLDatasetBase::ActiveRow() {
  TRecInfo* rec = nullptr;
  return GetActiveRecBuf(rec) ? rec->Bookmark : -1;
}

void TMySQLDatasetBase::GotoRow(int64_t Index) {
  if (Index == ActiveRow()) return;
  if (BeforeScroll) BeforeScroll(this);
  current_rec_ = Index;
  CursorPosChanged();
  Resync({});
  if (AfterScroll) AfterScroll(this);
}

bool TMySQLDatasetBase::Locate(const std::string& KeyFields, const Variant& KeyValues,
                               TLocateOptions Options) {
  First();
  return LocateRecord(KeyFields, KeyValues, Options, true);
}

Variant TMySQLDatasetBase::Lookup(const std::string& KeyFields, const Variant& KeyValues,
                                  const std::string& ResultFields) {
  if (!LocateRecord(KeyFields, KeyValues, TLocateOptions{}, false)) return Null();
  std::vector<TField*> fields;
  GetFieldList(fields, ResultFields);
  if (fields.size() == 1) return fields[0]->Value();
  std::vector<Variant> values;
  for (TField* f : fields) values.push_back(f->Value());
  return VarArrayOf(std::move(values));
}

bool TMySQLDatasetBase::LocateRecord(const std::string& KeyFields, const Variant& KeyValues,
                                     TLocateOptions Options, bool SyncCursor) {
  CheckBrowseMode();
  if (Bof() && Eof()) return false;
  TLocateSearch search(*this, KeyFields, KeyValues, Options, false, TMySQLLocateOptions{});
  TField* unused = nullptr;
  if (search.Fast()) {
    const int64_t start = ActiveRow();
    if (const TRowValues* row = LocateRow(start); row != nullptr && search.MatchRow(*row, unused)) return true;
    const int64_t found = search.Scan(*this, 0, 1, unused);
    if (found < 0) return false;
    GotoRow(found);
    return true;
  }
  if (search.MatchActive(unused)) return true;
  TControlsScope controls(*this);
  TBookmark start = GetBookmark();
  First();
  while (!Eof()) {
    if (search.MatchActive(unused)) return true;
    Next();
  }
  GotoBookmark(start);
  return false;
}

bool TMySQLDatasetBase::LocateRecordOption(const std::string& KeyFields, const Variant& KeyValues,
                                           TLocateOptions Options, bool SyncCursor,
                                           TMySQLLocateOptions MySQLOptions, TField*& Field) {
  CheckBrowseMode();
  Field = nullptr;
  if (Bof() && Eof()) return false;
  TLocateSearch search(*this, KeyFields, KeyValues, Options, true, MySQLOptions);
  TControlsScope controls(*this);
  TBookmark start = GetBookmark();
  if (MySQLOptions.Contains(loFirst)) First();
  if (MySQLOptions.Contains(loLast)) Last();
  // Forward and back together would never end: forward wins.
  const bool forward = MySQLOptions.Contains(loNext);
  const bool backward = !forward && MySQLOptions.Contains(loPrior);
  bool found = false;
  if (search.Fast()) {
    // The walk below, on the rows: from the current record while not at
    // the end (beginning) the navigation would stand at.
    if ((forward && !Eof()) || (backward && !Bof())) {
      const int64_t at = search.Scan(*this, ActiveRow(), forward ? 1 : -1, Field);
      if (at >= 0) {
        GotoRow(at);
        found = true;
      }
    }
  } else {
    while ((forward && !Eof()) || (backward && !Bof())) {
      if (search.MatchActive(Field)) {
        found = true;
        break;
      }
      if (forward)
        Next();
      else
        Prior();
    }
  }
  if (!found) {
    // No field of a record that did not match is reported.
    Field = nullptr;
    GotoBookmark(start);
  }
  return found;
}

}  // namespace rowset
