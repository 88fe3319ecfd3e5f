// Datasets: Locate, Lookup, LocateRecord and LocateRecordOption (rules in
// components/MySQLDataset.h).
//
// Key fields whose text is the stored value itself (string, memo and blob
// data fields) are compared straight on the held rows, row by row in
// navigation order, reading an incremental result one row at a time as the
// search goes; the record found is then made current once. Other fields
// (numbers, dates, calculated fields) and unidirectional results walk the
// records through the navigation and compare each field's AsString.
#include <algorithm>
#include <optional>

#include "components/MySQLDataset.h"
#include "host/Variants.h"

namespace rowset {

namespace {

char Upper(char C) { return C >= 'a' && C <= 'z' ? static_cast<char>(C - 'a' + 'A') : C; }

bool EqualsAt(std::string_view Text, size_t At, std::string_view Value, bool IgnoreCase) {
  if (!IgnoreCase) return Text.compare(At, Value.size(), Value) == 0;
  for (size_t i = 0; i < Value.size(); ++i)
    if (Upper(Text[At + i]) != Upper(Value[i])) return false;
  return true;
}

// The text a key value is compared as: Null and empty give "", an array its
// first element.
std::string KeyText(const Variant& V) {
  if (V.IsArray()) return V.ArrayCount() > 0 ? KeyText(V.ArrayItem(0)) : std::string();
  return VarToStr(V);
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

// One search: the key fields, the text each is compared with and the rule.
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
    // Every key text is taken before the search moves (a missing element
    // raises the variant error here).
    for (size_t k = 0; k < fields_.size(); ++k) {
      if (fields_.size() == 1 || (OptionRule && MySQLOptions.Contains(loTextSearch)))
        keys_.push_back(KeyText(KeyValues));
      else
        keys_.push_back(KeyText(KeyValues.ArrayItem(static_cast<int>(k))));
    }
    fast_ = Dataset.ResultType() != rtUnidirectional && Dataset.row_base_ == 0;
    for (TField* f : fields_) {
      int column = Dataset.ColumnOf(f);
      Source s{column, -1};
      if (column < 0 || f->FieldKind() != fkData) {
        fast_ = false;
      } else if (f->IsBlob() && dynamic_cast<TBlobField*>(f) != nullptr) {
        s.limit = -1;
      } else if (f->DataType() == ftString && dynamic_cast<TMySQLStringField*>(f) != nullptr) {
        s.limit = std::max(f->Size(), 0);
      } else {
        fast_ = false;
      }
      sources_.push_back(s);
    }
    // The common case, one string field compared exactly with a text that
    // is not all blanks, is tested on the bytes alone.
    single_exact_ = fast_ && fields_.size() == 1 && !partial_ && !ignore_case_ &&
                    sources_[0].limit >= 0 && keys_[0].find_first_not_of(' ') != std::string::npos &&
                    keys_[0].size() <= static_cast<size_t>(sources_[0].limit);
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
      const std::vector<TRowValues>& rows = *D.rows_;
      // The held rows, compared in place until the next read is needed.
      const int64_t end = Step > 0 ? D.FetchedCount() : -1;
      for (; i != end; i += Step) {
        const TRowValues& row = rows[static_cast<size_t>(i - D.row_base_)];
        if (single_exact_ ? ExactRow(row) : MatchRow(row, Matched)) return i;
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
          scratch_ = fields_[K]->AsString();
          return std::string_view(scratch_);
        },
        Matched);
  }

 private:
  struct Source {
    int column;
    int limit;  // string fields: their size; -1 for blobs (whole value)
  };

  // A value of a string field equals a key that is not all blanks and fits
  // the field exactly when the bytes are the same (a blank value, which
  // reads as empty, cannot have the same bytes).
  bool ExactRow(const TRowValues& Row) const {
    std::string_view v = Row.Value(sources_[0].column);
    const size_t limit = static_cast<size_t>(sources_[0].limit);
    return (v.size() <= limit ? v : v.substr(0, limit)) == keys_[0];
  }

  // What the field's AsString gives for that row: a string field reads a
  // blank value as NULL and at most its size; a blob its bytes.
  std::string_view RowText(const TRowValues& Row, size_t K) const {
    std::string_view v = Row.Value(sources_[K].column);
    int limit = sources_[K].limit;
    if (limit < 0) return v;
    if (v.find_first_not_of(' ') == std::string_view::npos) return {};
    if (v.size() > static_cast<size_t>(limit)) v = v.substr(0, static_cast<size_t>(limit));
    return v;
  }

  bool FieldMatch(std::string_view Text, const std::string& Key) const {
    if (partial_) {
      if (!option_rule_) return Text.size() >= Key.size() && EqualsAt(Text, 0, Key, ignore_case_);
      if (Key.empty()) return true;
      for (size_t at = 0; at + Key.size() <= Text.size(); ++at)
        if (EqualsAt(Text, at, Key, ignore_case_)) return true;
      return false;
    }
    return Text.size() == Key.size() && EqualsAt(Text, 0, Key, ignore_case_);
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

  std::vector<TField*> fields_;
  std::vector<std::string> keys_;
  std::vector<Source> sources_;
  std::string scratch_;
  bool ignore_case_, partial_, option_rule_, match_all_;
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
