// Datasets: column descriptions to field infos and keys, field definitions,
// and the conversion of the stored texts to and from the fields' native
// layouts.
#include <charconv>
#include <cstdio>
#include <initializer_list>
#include <limits>
#include <cstring>

#include "components/MySQLDataset.h"
#include "host/SysUtils.h"
#include "host/Variants.h"
#include "parser/MySQLParser.h"
#include "util/MySQLStrUtils.h"
#include "util/MySQLValueText.h"

namespace rowset {

using namespace mysql_column;

namespace {

constexpr int kMaxStringFieldSize = 8192;

std::string Text(const char* S) { return S != nullptr ? std::string(S) : std::string(); }

// Removes the first occurrence of What (ASCII letter case ignored).
void RemoveFirst(std::string& S, const std::string& What) {
  if (What.empty() || What.size() > S.size()) return;
  for (size_t i = 0; i + What.size() <= S.size(); ++i) {
    bool same = true;
    for (size_t k = 0; k < What.size() && same; ++k) {
      same = std::toupper(static_cast<unsigned char>(S[i + k])) ==
             std::toupper(static_cast<unsigned char>(What[k]));
    }
    if (same) {
      S.erase(i, What.size());
      return;
    }
  }
}

// Replaces every item of the comma list S that equals From (ASCII letter
// case ignored) by To. Whole items only: "jt.k" must not change "kjt.kid".
std::string ReplaceListItems(const std::string& S, const std::string& From, const std::string& To) {
  std::string out;
  size_t at = 0;
  while (at < S.size()) {
    size_t comma = S.find(',', at);
    if (comma == std::string::npos) comma = S.size();
    std::string item = S.substr(at, comma - at);
    out += SameText(item, From) ? To : item;
    if (comma < S.size()) out += ',';
    at = comma + 1;
  }
  return out;
}

void DropTrailingComma(std::string& S) {
  if (!S.empty() && S.back() == ',') S.pop_back();
}

// The value with blanks removed at both ends.
std::string_view TrimBlanks(std::string_view S) {
  size_t b = 0, e = S.size();
  while (b < e && S[b] == ' ') ++b;
  while (e > b && S[e - 1] == ' ') --e;
  return S.substr(b, e - b);
}

// Enum or set member N (1-based) of a Values text.
std::string Member(const std::string& Values, uint8_t N) { return WordInStr(N, Values, ",\""); }

int MemberCount(const std::string& Values) {
  int n = 0;
  while (n < 255 && !WordInStr(static_cast<uint8_t>(n + 1), Values, ",\"").empty()) ++n;
  return n;
}

// Fast reading of the canonical forms the server sends ("yyyy-mm-dd",
// "hh:mm:ss", "yyyy-mm-dd hh:mm:ss"); the results equal those of the general
// conversions, which read every other form.
bool Digits(std::string_view S, size_t At, size_t N, int& Value) {
  Value = 0;
  for (size_t i = At; i < At + N; ++i) {
    if (S[i] < '0' || S[i] > '9') return false;
    Value = Value * 10 + (S[i] - '0');
  }
  return true;
}

bool FastDate(std::string_view S, TTimeStamp& Result) {
  int y, m, d;
  if (S.size() < 10 || S[4] != '-' || S[7] != '-' || !Digits(S, 0, 4, y) || !Digits(S, 5, 2, m) ||
      !Digits(S, 8, 2, d)) {
    return false;
  }
  TDateTime date;
  if (!TryEncodeDate(y == 0 ? 1 : y, m == 0 ? 1 : m, d == 0 ? 1 : d, date)) {
    Result = TTimeStamp{0, 0};
  } else {
    Result.Date = static_cast<int32_t>(date) + DateDelta;
  }
  return true;
}

bool FastTime(std::string_view S, TTimeStamp& Result) {
  int h, m, s;
  if (S.size() != 8 || S[2] != ':' || S[5] != ':' || !Digits(S, 0, 2, h) || !Digits(S, 3, 2, m) ||
      !Digits(S, 6, 2, s)) {
    return false;
  }
  TDateTime time;
  if (!TryEncodeTime(h, m, s, 0, time)) {
    Result = TTimeStamp{0, 0};
  } else {
    Result.Time = ((h * 60 + m) * 60 + s) * 1000;
  }
  return true;
}

TTimeStamp ReadDate(std::string_view S) {
  TTimeStamp ts{0, 0};
  if (S.size() == 10 && FastDate(S, ts)) return ts;
  return MySQLDateStrToTimeStamp(S);
}

TTimeStamp ReadTime(std::string_view S) {
  TTimeStamp ts{0, 0};
  if (FastTime(S, ts)) return ts;
  return MySQLTimeStrToTimeStamp(S);
}

TTimeStamp ReadDateTime(std::string_view S) {
  TTimeStamp ts{0, 0};
  if (S.size() == 19 && S[10] == ' ' && FastDate(S.substr(0, 10), ts)) {
    if (ts.Date == 0) return ts;
    if (FastTime(S.substr(11), ts)) return ts;
  }
  return MySQLDateTimeStrToTimeStamp(S);
}

template <typename T>
bool ReadInteger(std::string_view S, T& Value) {
  const char* end = S.data() + S.size();
  auto [ptr, ec] = std::from_chars(S.data(), end, Value);
  if (ec == std::errc() && ptr == end) return true;
  int64_t wide = 0;
  if (!TryStrToInt64(std::string(S), wide)) return false;
  if (wide < std::numeric_limits<T>::min() || wide > std::numeric_limits<T>::max()) return false;
  Value = static_cast<T>(wide);
  return true;
}

double ReadFloat(std::string_view S) {
  double value = 0;
  const char* end = S.data() + S.size();
  auto [ptr, ec] = std::from_chars(S.data(), end, value);
  if (ec == std::errc() && ptr == end) return value;
  try {
    return MySQLStrToFloat(std::string(S));
  } catch (const EConvertError&) {
    return 0;
  }
}

// A BIT value: its bytes, most significant first.
int64_t BitValue(std::string_view Bytes) {
  uint64_t v = 0;
  for (char c : Bytes) v = (v << 8) | static_cast<unsigned char>(c);
  return static_cast<int64_t>(v);
}

// The bytes of a BIT(Bits) value, most significant first.
std::string BitBytes(int64_t Value, uint32_t Bits) {
  size_t n = std::max<size_t>((Bits + 7u) / 8u, 1);
  std::string out(n, '\0');
  uint64_t v = static_cast<uint64_t>(Value);
  for (size_t i = n; i-- > 0; v >>= 8) out[i] = static_cast<char>(v & 0xFF);
  return out;
}

// Whether a TIME text is a time of day (00:00:00 to 23:59:59.999999); the
// server's TIME spans -838:59:59 to 838:59:59.
bool IsTimeOfDay(std::string_view S) {
  size_t colon = S.find(':');
  if (colon == std::string_view::npos || colon == 0) return true;  // not the server's form
  if (S[0] == '-') return false;
  int hours = 0;
  for (size_t i = 0; i < colon; ++i) {
    if (S[i] < '0' || S[i] > '9') return true;
    hours = hours * 10 + (S[i] - '0');
    if (hours > 99) return false;
  }
  return hours < 24;
}

std::string DateText(int32_t Day) {
  int y, m, d;
  DecodeDate(TimeStampToDateTime(TTimeStamp{0, Day}), y, m, d);
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", y, m, d);
  return text;
}

std::string TimeText(int64_t MSecs) {
  int64_t secs = MSecs / 1000;
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(secs / 3600),
                static_cast<long long>(secs / 60 % 60), static_cast<long long>(secs % 60));
  return text;
}

// A name token without its back-quotes (doubled ones inside undone).
std::string Unquoted(const std::string& Token) {
  if (Token.size() < 2 || Token.front() != '`') return Token;
  std::string out;
  for (size_t i = 1; i + 1 < Token.size(); ++i) {
    out += Token[i];
    if (Token[i] == '`' && Token[i + 1] == '`') ++i;
  }
  return out;
}

bool IsWordIn(const std::string& Upper, std::initializer_list<const char*> Words) {
  for (const char* w : Words) {
    if (Upper == w) return true;
  }
  return false;
}

struct TFromTable {
  std::string alias, database, table;
};

// The tables of a select's outer FROM clause with their aliases (a table
// without one is its own alias). Derived tables are skipped. For back ends
// whose column descriptions carry no original table name.
std::vector<TFromTable> FromClauseTables(const std::string& Statement) {
  TBasicParser parser(Statement);
  parser.HexPrefix = "0x";
  parser.LineComments.Add("-- ");
  parser.LineComments.Add("#");
  parser.CommentStarts.Add("/*");
  parser.CommentEnds.Add("*/");
  std::vector<std::pair<TTokenKind, std::string>> tokens;
  for (TTokenKind kind; (kind = parser.NextToken(true)) != tkEnd;) {
    if (kind == tkLineComment || kind == tkBlockComment || kind == tkLineBreak) continue;
    tokens.emplace_back(kind, parser.TokenString());
  }
  std::vector<TFromTable> out;
  auto upper = [&](size_t i) { return i < tokens.size() && tokens[i].first == tkSymbol ? UpperCase(tokens[i].second) : std::string(); };
  size_t i = 0;
  int depth = 0;
  for (; i < tokens.size(); ++i) {
    if (tokens[i].first == TTokenKind('(')) ++depth;
    if (tokens[i].first == TTokenKind(')')) --depth;
    if (depth == 0 && upper(i) == "FROM") break;
  }
  if (i >= tokens.size()) return out;
  ++i;
  auto ends_clause = [&](const std::string& w) {
    return IsWordIn(w, {"WHERE", "GROUP", "HAVING", "ORDER", "LIMIT", "PROCEDURE", "INTO", "FOR",
                        "LOCK", "UNION", "WINDOW", "EXCEPT", "INTERSECT"});
  };
  auto joins = [&](const std::string& w) {
    return IsWordIn(w, {"JOIN", "INNER", "LEFT", "RIGHT", "OUTER", "CROSS", "NATURAL",
                        "STRAIGHT_JOIN", "ON", "USING", "FULL"});
  };
  bool expect_table = true;
  while (i < tokens.size()) {
    const TTokenKind kind = tokens[i].first;
    const std::string w = upper(i);
    if (kind == tkSemicolon || (!w.empty() && ends_clause(w))) break;
    if (kind == TTokenKind('(')) {
      // A derived table or a condition: skipped whole.
      int d = 0;
      do {
        if (tokens[i].first == TTokenKind('(')) ++d;
        if (tokens[i].first == TTokenKind(')')) --d;
        ++i;
      } while (i < tokens.size() && d > 0);
      expect_table = false;
      continue;
    }
    if (kind == TTokenKind(',')) {
      expect_table = true;
      ++i;
      continue;
    }
    if (!w.empty() && joins(w)) {
      // ON/USING start a condition: nothing is a table until the next join.
      expect_table = w != "ON" && w != "USING";
      ++i;
      continue;
    }
    if (expect_table && kind == tkSymbol) {
      TFromTable t;
      t.table = Unquoted(tokens[i].second);
      ++i;
      if (i + 1 < tokens.size() && tokens[i].first == TTokenKind('.') && tokens[i + 1].first == tkSymbol) {
        t.database = t.table;
        t.table = Unquoted(tokens[i + 1].second);
        i += 2;
      }
      t.alias = t.table;
      if (upper(i) == "AS") ++i;
      if (i < tokens.size() && tokens[i].first == tkSymbol) {
        const std::string a = upper(i);
        if (!joins(a) && !ends_clause(a) && a != "PARTITION" && a != "USE" && a != "IGNORE" &&
            a != "FORCE") {
          t.alias = Unquoted(tokens[i].second);
          ++i;
        }
      }
      out.push_back(std::move(t));
      expect_table = false;
      continue;
    }
    ++i;
  }
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// Column descriptions

std::string TMySQLDatasetBase::Quote(const std::string& Name) const {
  return server_ != nullptr ? server_->FormatIdentifier(Name) : Name;
}

void TMySQLDatasetBase::ReadColumns() {
  TMySQLBase* driver = server_->GetDriver();
  field_infos_.Clear();
  table_infos_.Clear();
  databases_->Clear();
  primary_key_fields_.clear();
  unique_key_fields_.clear();
  index_key_fields_.clear();
  uint64_t offset = 0;

  // Master values give a detail's linked columns their default.
  TDataSet* master = nullptr;
  if (TDataSource* source = master_link_->DataSource()) master = source->DataSet();
  if (master != nullptr && (!master->Active() || master->IsEmpty())) master = nullptr;

  // The result's own column count decides how many descriptions there are
  // (a column may well have an empty name).
  uint32_t count = driver->RetrieveColCount(result_handle_);
  bool any_org_table = false;
  for (uint32_t c = 0; c < count; ++c) {
    MYSQL_FIELD f = driver->RetrieveField(result_handle_);
    auto info = std::make_unique<TFieldInfo>();
    info->IsServerColumn = true;
    info->Name = Text(f.name);
    info->OrgName = f.org_name != nullptr && *f.org_name ? Text(f.org_name) : info->Name;
    info->Table = Text(f.table);
    info->OrgTable = f.org_table != nullptr && *f.org_table ? Text(f.org_table) : info->Table;
    if (f.org_table != nullptr && *f.org_table) any_org_table = true;
    info->Database = Text(f.db);
    info->Flags = f.flags;
    info->FullName = (info->Database.empty() ? "" : Quote(info->Database) + ".") +
                     (info->OrgTable.empty() ? "" : Quote(info->OrgTable) + ".") + Quote(info->OrgName);
    info->DisplayName = (info->Database.empty() ? "" : info->Database + ".") +
                        (info->Table.empty() ? "" : info->Table + ".") + info->Name;
    if (!info->Table.empty() && info->Table.find('#') == std::string::npos) {
      TTableInfo* table = table_infos_.Obtain(info->Table);
      table->Table = info->Table;
      table->OrgTable = info->OrgTable;
      table->Database = info->Database;
      table->QualifiedName = (info->Database.empty() ? "" : Quote(info->Database) + ".") +
                             (info->OrgTable.empty() ? "" : Quote(info->OrgTable));
      if (info->Flags & kPriKeyFlag) table->PrimaryKeyFields += info->Name + ",";
      if (info->Flags & kUniqueKeyFlag) table->UniqueKeyFields += info->Name + ",";
      if (info->Flags & kMultipleKeyFlag) table->IndexKeyFields += info->Name + ",";
    }
    if (info->Flags & kPriKeyFlag) primary_key_fields_ += info->DisplayName + ",";
    if (info->Flags & kUniqueKeyFlag) unique_key_fields_ += info->DisplayName + ",";
    if (info->Flags & kMultipleKeyFlag) index_key_fields_ += info->DisplayName + ",";
    if (!info->Database.empty() && info->Database.find('#') == std::string::npos) {
      databases_->Add(info->Database);
    }
    info->DefaultValue = Text(f.def);
    info->ServerDefault = !info->DefaultValue.empty();
    if (master != nullptr) {
      for (int p = 0; p < master_field_pairs_->Count(); ++p) {
        std::string detail_name = master_field_pairs_->Names(p);
        std::string master_name = master_field_pairs_->ValueFromIndex(p);
        if (detail_name.empty()) detail_name = master_name = master_field_pairs_->Get(p);
        if (!SameText(detail_name, info->Name)) continue;
        TField* mf = master->FindField(master_name);
        // The master's text as its server sent it (a memo has no AsString
        // without a blob stream).
        std::string text;
        if (mf != nullptr && FieldValueText(mf, text)) {
          info->DefaultValue = text;
          info->ServerDefault = false;
        }
        break;
      }
    }
    info->ColumnType = f.type;
    info->ServerType = f.type;
    info->Length = static_cast<uint32_t>(f.length);
    if (info->Flags & kEnumFlag) info->ColumnType = kEnum;
    if (info->Flags & kSetFlag) info->ColumnType = kSet;
    info->Modified = false;
    offset += info->Length + 1u;
    if (options_.Contains(do2KStrToMemo) &&
        (info->ColumnType == kVarString || info->ColumnType == kString) && info->Length > 2048) {
      info->ColumnType = kBlob;
      info->Flags |= kBlobFlag;
    }
    // Every other column becomes a string of the column's own length (a
    // fixed 255 would cut longer values).
    if (options_.Contains(doFieldsAsString) &&
        !(info->ColumnType >= kTinyBlob && info->ColumnType <= kBlob)) {
      info->ColumnType = kVarString;
    }
    if (options_.Contains(doSmallMemoToStr) && (info->Flags & kBlobFlag) &&
        !(info->Flags & kBinaryFlag) && info->Length <= 65535) {
      info->ColumnType = kVarString;
      info->Flags &= ~kBlobFlag;
    }
    std::string key = info->Name;
    field_infos_.Add(key, std::move(info));
  }
  server_columns_ = field_infos_.Count();
  ResolveTableNames(any_org_table);

  // Custom columns: values come from OnCustomValue.
  for (int i = 0; i < custom_field_defs_->Count(); ++i) {
    TFieldDef* def = custom_field_defs_->Items(i);
    auto info = std::make_unique<TFieldInfo>();
    info->Name = def->Name();
    info->OrgName = def->Name();
    info->Table = "MyDatasetCustomTable";
    info->OrgTable = info->Table;
    info->DisplayName = info->Table + "." + info->Name;
    info->FullName = Quote(info->Name);
    info->Length = static_cast<uint32_t>(std::max(def->Size(), 0));
    info->IsServerColumn = false;
    switch (def->DataType()) {
      case ftSmallint: case ftInteger: case ftWord: case ftAutoInc: case ftLargeint:
        info->ColumnType = kInt24; break;
      case ftBoolean: info->ColumnType = kTiny; break;
      case ftFloat: case ftCurrency: case ftBCD: info->ColumnType = kFloat; break;
      case ftDate: info->ColumnType = kDate; break;
      case ftTime: info->ColumnType = kTime; break;
      case ftDateTime: info->ColumnType = kDateTime; break;
      case ftBlob: info->ColumnType = kBlob; info->Flags = kBlobFlag | kBinaryFlag; break;
      case ftMemo: info->ColumnType = kBlob; info->Flags = kBlobFlag; break;
      default: info->ColumnType = kVarString; break;
    }
    info->ServerType = info->ColumnType;
    std::string key = info->Name;
    field_infos_.Add(key, std::move(info));
  }

  // Keys: a name unique in the result is its own key; a repeated one is
  // keyed by its display name (or name, "_" and position).
  auto rename = [this](int index) {
    TFieldInfo* info = field_infos_[index];
    const std::string& key = field_infos_.Key(index);
    if (SameText(info->DisplayName, key)) {
      field_infos_.SetKey(index, key + "_" + std::to_string(index + 1));
    } else {
      field_infos_.SetKey(index, info->DisplayName);
    }
  };
  // A dataset that shares the component's connection but names a database
  // of its own keeps the database in generated names: its statements may run
  // while the component's database is selected.
  bool one_database = databases_->Count() == 1 && !UsesForeignDatabase() &&
                      (database_name_.empty() || SameText(database_name_, databases_->Get(0)));
  bool one_table = (one_database || databases_->Count() == 0) && table_infos_.Count() == 1;
  for (int i = 0; i < field_infos_.Count(); ++i) {
    TFieldInfo* info = field_infos_[i];
    if (!SameText(field_infos_.Key(i), info->Name)) continue;
    rename(i);
    int j = field_infos_.IndexOf(info->Name);
    bool unique = j < 0;
    while (j >= 0) {
      rename(j);
      j = field_infos_.IndexOf(info->Name);
    }
    if (unique) {
      field_infos_.SetKey(i, info->Name);
      primary_key_fields_ = ReplaceListItems(primary_key_fields_, info->DisplayName, info->Name);
      unique_key_fields_ = ReplaceListItems(unique_key_fields_, info->DisplayName, info->Name);
      index_key_fields_ = ReplaceListItems(index_key_fields_, info->DisplayName, info->Name);
    }
    if (!info->IsServerColumn) continue;
    if (one_database) RemoveFirst(info->FullName, Quote(info->Database) + ".");
    if (one_table) RemoveFirst(info->FullName, Quote(info->OrgTable) + ".");
  }
  for (int t = 0; t < table_infos_.Count(); ++t) {
    TTableInfo* table = table_infos_[t];
    DropTrailingComma(table->PrimaryKeyFields);
    DropTrailingComma(table->UniqueKeyFields);
    DropTrailingComma(table->IndexKeyFields);
    if (one_database && !table->Database.empty()) {
      std::string prefix = Quote(table->Database) + ".";
      if (table->QualifiedName.compare(0, prefix.size(), prefix) == 0) {
        table->QualifiedName.erase(0, prefix.size());
      }
    }
  }
  DropTrailingComma(primary_key_fields_);
  DropTrailingComma(unique_key_fields_);
  DropTrailingComma(index_key_fields_);
  offset += offset <= 1 ? 2 : 3;
  offset += sizeof(TRecInfo);
  record_size_ = static_cast<uint32_t>(std::min<uint64_t>(offset, UINT32_MAX));
}

void TMySQLDatasetBase::ResolveTableNames(bool FromDriver) {
  if (FromDriver || table_infos_.Count() == 0) return;
  // The back end gave only the aliases: the select's FROM clause tells the
  // tables they stand for, so that generated statements name the table.
  const std::vector<TFromTable> from = FromClauseTables(statement_text_);
  for (int t = 0; t < table_infos_.Count(); ++t) {
    TTableInfo* table = table_infos_[t];
    const TFromTable* match = nullptr;
    for (const TFromTable& f : from) {
      if (SameText(f.alias, table->Table)) match = &f;
    }
    if (match == nullptr) continue;
    table->OrgTable = match->table;
    if (table->Database.empty()) table->Database = match->database;
    table->QualifiedName = (table->Database.empty() ? "" : Quote(table->Database) + ".") +
                           Quote(table->OrgTable);
    if (!table->Database.empty() && table->Database.find('#') == std::string::npos) {
      databases_->Add(table->Database);
    }
    for (int i = 0; i < server_columns_; ++i) {
      TFieldInfo* info = field_infos_[i];
      if (!SameText(info->Table, table->Table)) continue;
      info->OrgTable = table->OrgTable;
      if (info->Database.empty()) info->Database = table->Database;
      info->FullName = (info->Database.empty() ? "" : Quote(info->Database) + ".") +
                       Quote(info->OrgTable) + "." + Quote(info->OrgName);
    }
  }
}

// ---------------------------------------------------------------------------
// Field definitions

bool TMySQLDatasetBase::PersistentBoolean(const std::string& Name) const {
  if (DefaultFields()) return false;
  TField* field = FindField(Name);
  return field != nullptr && field->FieldKind() == fkData && field->DataType() == ftBoolean;
}

void TMySQLDatasetBase::InternalInitFieldDefs() {
  if (!IsCursorOpen()) {
    ActivateConnection();
    InternalOpenResult();
  }
  if (!IsCursorOpen()) return;
  KeepCreationFieldDefs();
  TFieldDefs* defs = FieldDefs();
  defs->BeginUpdate();
  try {
    defs->Clear();
    for (int i = 0; i < field_infos_.Count(); ++i) {
      TFieldInfo* info = field_infos_[i];
      TFieldDef* def = defs->AddFieldDef();
      def->SetName(field_infos_.Key(i));
      def->SetFieldNo(i + 1);
      TFieldAttributes attributes;
      if (info->Table.empty() && !options_.Contains(doEditCalcFields)) {
        attributes.Include(faReadonly);
        def->SetInternalCalcField(true);
      } else {
        def->SetInternalCalcField(false);
      }
      bool is_unsigned = info->Flags & kUnsignedFlag;
      TFieldType type = ftUnknown;
      int size = 0;
      if (!info->IsServerColumn) {
        TFieldDef* custom = custom_field_defs_->Find(info->Name);
        type = custom->DataType();
        size = custom->Size();
      } else {
        switch (info->ColumnType) {
          case kFloat: case kDouble:
            type = ftFloat; break;
          case kDecimal: case kNewDecimal:
            // Exact: the text goes back as read (AsFloat still converts).
            type = ftString;
            size = static_cast<int>(std::min<uint32_t>(info->Length, kMaxStringFieldSize - 1)) + 1;
            break;
          case kBit:
            // A bit field up to 63 bits is its number; a wider one its bytes.
            if (info->Length <= 63) {
              type = ftLargeint;
            } else {
              type = ftBlob;
            }
            break;
          case kTiny:
            // A persistent boolean field over a TINYINT (the tinyint(1) a
            // created table gives a boolean definition) reads it as one.
            type = options_.Contains(doTinyIntToBool) || PersistentBoolean(field_infos_.Key(i))
                       ? ftBoolean
                       : is_unsigned ? ftWord : ftSmallint;
            break;
          case kShort: type = is_unsigned ? ftWord : ftSmallint; break;
          case kLong: type = is_unsigned ? ftLargeint : ftInteger; break;
          case kNull: type = ftVariant; break;
          case kTimestamp: type = ftDateTime; break;
          case kLongLong:
            if (is_unsigned) {
              type = ftString;
              size = 20;
            } else {
              type = ftLargeint;
            }
            break;
          case kInt24: type = ftInteger; break;
          case kDate: type = ftDate; break;
          case kTime: type = ftTime; break;
          case kDateTime: case kNewDate: type = ftDateTime; break;
          case kYear: type = ftWord; break;
          case kEnum:
            if (options_.Contains(doEnumToBool) && MemberCount(info->Values) == 2) {
              type = ftBoolean;
            } else {
              type = ftString;
              size = static_cast<int>(info->Length);
            }
            break;
          case kSet:
            if (options_.Contains(doSetToWord)) {
              type = ftWord;
            } else {
              type = ftString;
              size = static_cast<int>(info->Length);
            }
            break;
          case kTinyBlob: case kMediumBlob: case kLongBlob: case kBlob:
            type = (info->Flags & kBinaryFlag) ? ftBlob : ftMemo;
            size = static_cast<int>(std::min<uint32_t>(info->Length, INT32_MAX));
            break;
          case kVarString: case kString: case kVarChar:
            type = ftString;
            size = static_cast<int>(std::min<uint32_t>(info->Length, INT32_MAX));
            break;
          default:
            // A type without a field of its own (GEOMETRY, JSON, newer
            // kinds) is shown by its bytes rather than refusing the result.
            if ((info->Flags & kBlobFlag) || info->ColumnType == kGeometry) {
              type = (info->Flags & kBinaryFlag) || info->ColumnType == kGeometry ? ftBlob : ftMemo;
              size = static_cast<int>(std::min<uint32_t>(info->Length, INT32_MAX));
            } else {
              type = ftString;
              size = static_cast<int>(std::min<uint32_t>(info->Length, INT32_MAX));
            }
            break;
        }
      }
      if (type == ftString && size < 1) size = 1;
      // A string field holds at most 8192 bytes; a longer column (a long
      // VARCHAR in a multi-byte character set) is shown as a memo rather
      // than refused or cut.
      if (type == ftString && size > kMaxStringFieldSize) {
        type = (info->Flags & kBinaryFlag) ? ftBlob : ftMemo;
      }
      def->SetDataType(type);
      def->SetSize(size);
      if (!options_.Contains(doFieldsAsString) && (info->Flags & kAutoIncrementFlag)) {
        attributes.Include(faReadonly);
        // The 32-bit auto-increment field only where every value fits; a
        // BIGINT or INT UNSIGNED key keeps its wider field (read-only too).
        if (type == ftSmallint || type == ftInteger || type == ftWord) def->SetDataType(ftAutoInc);
      }
      bool required = (info->Flags & kNotNullFlag) && def->DataType() != ftAutoInc &&
                      !attributes.Contains(faReadonly);
      if (required) attributes.Include(faRequired);
      def->SetAttributes(attributes);
      def->SetRequired(required);
    }
  } catch (...) {
    defs->EndUpdate();
    throw;
  }
  defs->EndUpdate();
  NoteDerivedFieldDefs();
}

TFieldClass TMySQLDatasetBase::GetFieldClass(TFieldType FieldType) {
  if (FieldType == ftString) return &NewField<TMySQLStringField>;
  return TDataSet::GetFieldClass(FieldType);
}

int TMySQLDatasetBase::ColumnOf(TField* Field) const {
  if (Field == nullptr || Field->FieldNo() < 1) return -1;
  int column = Field->FieldNo() - 1;
  return column < field_infos_.Count() ? column : -1;
}

TMySQLStringTypes TMySQLDatasetBase::GetStringType(TField* Field) {
  int column = ColumnOf(Field);
  if (column < 0) return stNone;
  uint8_t type = field_infos_[column]->ColumnType;
  return type == kEnum ? stEnum : type == kSet ? stSet : stNormal;
}

std::string TMySQLDatasetBase::GetStringValues(TField* Field) {
  int column = ColumnOf(Field);
  return column < 0 ? std::string() : field_infos_[column]->Values;
}

// ---------------------------------------------------------------------------
// Field values

bool TMySQLDatasetBase::GetActiveRecBuf(TRecInfo*& RecBuf) {
  switch (State()) {
    case dsBrowse:
    case dsBlockRead:
      RecBuf = IsEmpty() ? nullptr : RecInfo(ActiveBuffer());
      break;
    case dsEdit:
    case dsInsert:
    case dsFilter:
      RecBuf = RecInfo(ActiveBuffer());
      break;
    case dsCalcFields:
      RecBuf = RecInfo(CalcBuffer());
      break;
    default:
      RecBuf = nullptr;
  }
  return RecBuf != nullptr;
}

bool TMySQLDatasetBase::GetFieldData(TField* Field, void* Buffer) {
  TRecInfo* rec = nullptr;
  if (Field == nullptr || !GetActiveRecBuf(rec)) return false;
  if (Field->FieldNo() < 1) {
    // Calculated and lookup fields: a flag byte, then the value, at the
    // field's offset.
    TDataSetState state = State();
    if (state != dsBrowse && state != dsEdit && state != dsInsert && state != dsCalcFields &&
        state != dsBlockRead) {
      return false;
    }
    if (!rec->CalcBuffer) return false;
    int size = Field->DataSize();
    if (Field->Offset() < 0 || Field->Offset() + size + 1 > CalcFieldsSize() + 1) return false;
    const char* area = rec->CalcBuffer.get() + Field->Offset();
    bool has_value = area[0] != 0;
    if (has_value && Buffer != nullptr) std::memcpy(Buffer, area + 1, static_cast<size_t>(size));
    return has_value;
  }
  int column = ColumnOf(Field);
  if (column < 0) return false;
  if (Field->IsBlob()) return !rec->Data.Value(column).empty();
  std::optional<std::string_view> value = rec->Data.Get(column);
  if (!value) return false;
  TFieldInfo* info = field_infos_[column];
  if (info->ColumnType == kBit && Field->DataType() == ftLargeint) {
    // Bytes, not text: a 0x20 byte is a value, not a blank.
    if (value->empty()) return false;
    if (Buffer != nullptr) {
      int64_t v = BitValue(*value);
      std::memcpy(Buffer, &v, sizeof v);
    }
    return true;
  }
  if (Buffer == nullptr) return true;
  std::string_view trimmed = TrimBlanks(*value);
  if (trimmed.empty()) return false;
  std::string_view t = trimmed;
  switch (Field->DataType()) {
    case ftString:
      TStringField::StringToBuffer(Field, Buffer, *value);
      break;
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc: {
      int32_t v = 0;
      if (!ReadInteger(t, v)) v = 0;
      std::memcpy(Buffer, &v, sizeof v);
      break;
    }
    case ftLargeint: {
      int64_t v = 0;
      if (!ReadInteger(t, v)) v = 0;
      std::memcpy(Buffer, &v, sizeof v);
      break;
    }
    case ftBoolean: {
      bool b;
      if (info->ColumnType == kTiny) {
        int64_t v = 0;
        b = ReadInteger(t, v) && v != 0;
      } else {
        b = SameText(std::string(t), Member(info->Values, 1));
      }
      int16_t v = b ? -1 : 0;
      std::memcpy(Buffer, &v, sizeof v);
      break;
    }
    case ftFloat:
    case ftCurrency: {
      double v = ReadFloat(t);
      std::memcpy(Buffer, &v, sizeof v);
      break;
    }
    case ftDate: {
      int32_t v = ReadDate(t).Date;
      std::memcpy(Buffer, &v, sizeof v);
      break;
    }
    case ftTime: {
      // A time field holds a time of day; a duration outside it is never
      // turned into another time.
      if (!IsTimeOfDay(t)) {
        MySQLError(nullptr, nullptr, -1,
                   "Value '" + std::string(t) + "' of field '" + Field->FieldName() +
                       "' is outside the range of a time field",
                   -1, -1);
      }
      int32_t v = ReadTime(t).Time;
      std::memcpy(Buffer, &v, sizeof v);
      break;
    }
    case ftDateTime: {
      TTimeStamp ts = info->ColumnType == kTimestamp && server_ != nullptr && server_->ServerVer() < 41000
                          ? MySQLTimeStampStrToTimeStamp(t)
                          : ReadDateTime(t);
      double v = static_cast<double>(ts.Date) * MSecsPerDay + ts.Time;
      std::memcpy(Buffer, &v, sizeof v);
      break;
    }
    case ftVariant:
      *static_cast<Variant*>(Buffer) = Variant(std::string(t));
      break;
    default:
      break;
  }
  return true;
}

bool TMySQLDatasetBase::GetHeldFieldText(TField* Field, std::string_view& Text, bool& IsNull) {
  // The cases GetFieldData converts from the text alone; calculated, blob
  // and BIT fields go through it.
  // Called for every field of every record read: the checks are inline.
  if (Field == nullptr) return false;
  const int column = Field->FieldNo() - 1;
  if (column < 0 || column >= field_infos_.Count() || Field->IsBlob()) return false;
  TRecInfo* rec = nullptr;
  if (State() == dsBrowse) {
    if (IsEmpty() || (rec = RecInfo(ActiveBuffer())) == nullptr) return false;
  } else if (!GetActiveRecBuf(rec)) {
    return false;
  }
  const TFieldInfo* info = field_infos_[column];
  if (info->ColumnType == kBit && Field->DataType() == ftLargeint) return false;
  // The old servers' TIMESTAMP forms are read by a conversion of their own.
  if (info->ColumnType == kTimestamp && server_ != nullptr && server_->ServerVer() < 41000) return false;
  std::optional<std::string_view> value = rec->Data.Get(column);
  std::string_view trimmed;
  if (value && !value->empty())
    trimmed = value->front() != ' ' && value->back() != ' ' ? *value : TrimBlanks(*value);
  IsNull = trimmed.empty();
  if (!IsNull) Text = Field->DataType() == ftString ? *value : trimmed;
  return true;
}

bool TMySQLDatasetBase::GetRawFieldData(TField* Field, void* Buffer) {
  if (Field != nullptr && Buffer != nullptr && Field->FieldNo() >= 1 && !Field->IsBlob() &&
      dynamic_cast<TStringField*>(Field) != nullptr) {
    // A string field's own layout, its DataSize bytes.
    TRecInfo* rec = nullptr;
    int column = ColumnOf(Field);
    if (column < 0 || !GetActiveRecBuf(rec)) return false;
    std::optional<std::string_view> value = rec->Data.Get(column);
    if (!value || TrimBlanks(*value).empty()) return false;
    TStringField::StringToBuffer(Field, Buffer, *value);
    return true;
  }
  size_t size = Field != nullptr ? static_cast<size_t>(std::max(Field->DataSize(), 1)) : 0;
  return GetRawFieldData(Field, Buffer, size);
}

bool TMySQLDatasetBase::GetRawFieldData(TField* Field, void* Buffer, size_t BufferSize) {
  TRecInfo* rec = nullptr;
  if (Field == nullptr || !GetActiveRecBuf(rec)) return false;
  if (Field->FieldNo() < 1 || Field->IsBlob()) {
    // The native value, bounded by the caller's buffer.
    if (Buffer == nullptr || BufferSize == 0) return GetFieldData(Field, nullptr);
    std::vector<char> native(static_cast<size_t>(std::max(Field->DataSize(), 1)) + 1, '\0');
    bool has_value = GetFieldData(Field, native.data());
    if (has_value) std::memcpy(Buffer, native.data(), std::min(BufferSize, native.size()));
    return has_value;
  }
  int column = ColumnOf(Field);
  if (column < 0) return false;
  std::optional<std::string_view> value = rec->Data.Get(column);
  if (!value) return false;
  if (Buffer == nullptr) return true;
  if (TrimBlanks(*value).empty()) return false;
  if (BufferSize > 0) {
    // Bounded by the caller's buffer: text and a NUL.
    size_t n = std::min(value->size(), BufferSize - 1);
    std::memcpy(Buffer, value->data(), n);
    static_cast<char*>(Buffer)[n] = '\0';
  }
  return true;
}

std::optional<std::string> TMySQLDatasetBase::GetFieldText(TField* Field) {
  TRecInfo* rec = nullptr;
  int column = ColumnOf(Field);
  if (column < 0 || !GetActiveRecBuf(rec)) return std::nullopt;
  std::optional<std::string_view> value = rec->Data.Get(column);
  if (!value) return std::nullopt;
  return std::string(*value);
}

void TMySQLDatasetBase::SetFieldData(TField* Field, const void* Buffer) {
  TRecInfo* rec = nullptr;
  if (Field == nullptr || !GetActiveRecBuf(rec)) return;
  if (Field->FieldNo() < 1) {
    if (rec->CalcBuffer) {
      int size = Field->DataSize();
      if (Field->Offset() >= 0 && Field->Offset() + size + 1 <= CalcFieldsSize() + 1) {
        char* area = rec->CalcBuffer.get() + Field->Offset();
        if (Buffer != nullptr) {
          area[0] = 1;
          std::memcpy(area + 1, Buffer, static_cast<size_t>(size));
        } else {
          std::memset(area, 0, static_cast<size_t>(size) + 1);
        }
      }
    }
  } else {
    int column = ColumnOf(Field);
    if (column < 0) return;
    TFieldInfo* info = field_infos_[column];
    // A failure (a validation error included) is raised as it is; the value
    // is replaced only once the new one is built, so it leaves the old one.
    {
      Field->Validate(Buffer);
      // The new text is built completely before anything is replaced, so a
      // failure leaves the old value in place.
      std::optional<std::string> text;
      if (Buffer != nullptr) {
        std::string t;
        switch (Field->DataType()) {
          case ftString:
            t = TStringField::BufferToString(Field, Buffer);
            // A decimal's text is never cut (that would change the number);
            // the server judges it.
            if (info->ColumnType != kDecimal && info->ColumnType != kNewDecimal &&
                t.size() > info->Length) {
              t.resize(info->Length);
            }
            break;
          case ftSmallint:
          case ftInteger:
          case ftWord:
          case ftAutoInc: {
            int32_t v;
            std::memcpy(&v, Buffer, sizeof v);
            t = std::to_string(v);
            break;
          }
          case ftLargeint: {
            int64_t v;
            std::memcpy(&v, Buffer, sizeof v);
            t = info->ColumnType == kBit ? BitBytes(v, info->Length) : std::to_string(v);
            break;
          }
          case ftFloat:
          case ftCurrency: {
            double v;
            std::memcpy(&v, Buffer, sizeof v);
            t = MySQLFloatToStr(v);
            break;
          }
          case ftDate: {
            int32_t v;
            std::memcpy(&v, Buffer, sizeof v);
            t = DateText(v);
            break;
          }
          case ftTime: {
            int32_t v;
            std::memcpy(&v, Buffer, sizeof v);
            t = TimeText(v);
            break;
          }
          case ftDateTime: {
            double v;
            std::memcpy(&v, Buffer, sizeof v);
            TTimeStamp ts = MSecsToTimeStamp(v);
            std::string date = DateText(ts.Date);
            std::string time = TimeText(ts.Time);
            // The compact TIMESTAMP form only where it is also read back
            // that way (servers before 4.1 send it).
            if (info->ColumnType == kTimestamp && server_ != nullptr && server_->ServerVer() < 41000) {
              t = date.substr(0, 4) + date.substr(5, 2) + date.substr(8, 2) + time.substr(0, 2) +
                  time.substr(3, 2) + time.substr(6, 2);
            } else {
              t = date + " " + time;
            }
            break;
          }
          case ftBoolean: {
            int16_t v;
            std::memcpy(&v, Buffer, sizeof v);
            if (info->ColumnType == kTiny) {
              t = v != 0 ? "1" : "0";
            } else {
              t = Member(info->Values, v != 0 ? 1 : 2);
            }
            break;
          }
          case ftVariant:
            t = VarToStr(*static_cast<const Variant*>(Buffer));
            break;
          default:
            break;
        }
        text = std::move(t);
      }
      std::optional<std::string_view> view;
      if (text) view = *text;
      TRowValues buffer_values = rec->Data;
      buffer_values.Set(column, view);
      TRowValues* row = nullptr;
      TRowValues row_values;
      if (State() == dsEdit) {
        // The row the edited record holds (its bookmark): the current index
        // follows every fetch of the record window.
        row = GetIndexRecord(rec->Bookmark);
        if (row != nullptr && !row->Released()) {
          row_values = *row;
          row_values.Set(column, view);
        } else {
          row = nullptr;
        }
      }
      rec->Data = std::move(buffer_values);
      if (row != nullptr) *row = std::move(row_values);
      info->Modified = info->IsServerColumn;
    }
  }
  TDataSetState state = State();
  if (state != dsCalcFields && state != dsFilter && state != dsNewValue) {
    DataEvent(deFieldChange, reinterpret_cast<intptr_t>(Field));
  }
}

}  // namespace rowset
