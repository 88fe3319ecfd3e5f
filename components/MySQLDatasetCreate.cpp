// Table auto-creation of TMySQLDatasetBase: the script that creates the
// dataset's table from its field and index definitions (the rules are
// described in components/MySQLDataset.h, "Table auto-creation").
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "components/MySQLDataset.h"
#include "components/MySQLScriptNames.h"

namespace rowset {

namespace {

std::string Trimmed(std::string_view S) {
  size_t b = 0, e = S.size();
  while (b < e && (S[b] == ' ' || S[b] == '\t')) ++b;
  while (e > b && (S[e - 1] == ' ' || S[e - 1] == '\t')) --e;
  return std::string(S.substr(b, e - b));
}

// One definition as text, to tell whether FieldDefs were changed.
std::string DefsSignature(const TFieldDefs& Defs) {
  std::string out;
  for (int i = 0; i < Defs.Count(); ++i) {
    const TFieldDef* def = Defs.Items(i);
    out += def->Name() + '\x01' + std::to_string(def->DataType()) + ',' + std::to_string(def->Size()) +
           ',' + std::to_string(def->Precision()) + ',' + std::to_string(def->Attributes().Word()) +
           '\x02';
  }
  return out;
}

// A wide string holds any character: its column is utf8mb4 whatever the
// table's default character set (Size counts characters).
std::string WideType(const TFieldDef* Def) {
  const int size = Def->Size();
  std::string type;
  if (size > 16777215 / 4) {
    type = " longtext";
  } else if (size > 65535 / 4) {
    type = " mediumtext";
  } else if (size > 255) {
    type = " text";
  } else if (Def->Attributes().Contains(faFixed)) {
    type = " char(" + std::to_string(size) + ")";
  } else {
    type = " varchar(" + std::to_string(size) + ")";
  }
  return type + " character set utf8mb4 ";
}

// " decimal(P,S) " that the server accepts: S (the definition's Size, the
// digits after the point) within 0..30, P (its Precision) within S..65 and
// at least 1, DefaultPrecision when the definition has none.
std::string DecimalType(int Precision, int Scale, int DefaultPrecision) {
  const int s = std::clamp(Scale, 0, 30);
  int p = Precision > 0 ? Precision : DefaultPrecision;
  p = std::clamp(std::max(p, s), 1, 65);
  return " decimal(" + std::to_string(p) + "," + std::to_string(s) + ") ";
}

// The column type of one definition, without the "not null" part. Each
// type reads back as the field type it was made from where the datasets
// have that field type (decimals read back as exact text).
std::string ColumnType(const TFieldDef* Def) {
  const int size = Def->Size();
  const TFieldType type = Def->DataType();
  switch (type) {
    case ftSmallint: return " smallint ";
    // A 16-bit unsigned field: every value fits, and it reads back as one.
    case ftWord: return " smallint unsigned ";
    case ftInteger: return " int ";
    case ftLargeint: return " bigint ";
    // A double-precision field: FLOAT would keep only about 7 digits.
    case ftFloat: return " double ";
    // Currency keeps 4 decimals in 19 digits when no precision is given.
    case ftCurrency: return DecimalType(Def->Precision(), size, 19);
    case ftBCD: case ftFMTBcd: return DecimalType(Def->Precision(), size, 32);
    case ftDate: return " date ";
    case ftTime: return " time ";
    case ftDateTime: return " datetime ";
    case ftTimeStamp: return " timestamp ";
    case ftBoolean: return " tinyint(1) ";
    case ftUnknown: case ftString: case ftMemo: case ftFmtMemo: case ftFixedChar:
    case ftWideString: case ftVariant:
      // A memo of size 0 has no limit: a text column, not varchar(0).
      if (size == 0 && (type == ftMemo || type == ftFmtMemo)) return " text ";
      if (type == ftWideString) return WideType(Def);
      if (size > 16777215) return " longtext ";
      if (size > 65535) return " mediumtext ";
      if (size > 255) return " text ";
      if (type == ftFixedChar || Def->Attributes().Contains(faFixed)) {
        return " char(" + std::to_string(size) + ") ";
      }
      return " varchar(" + std::to_string(size) + ") ";
    case ftBytes: case ftVarBytes: case ftBlob: case ftGraphic:
      // A blob of size 0 has no limit: a blob column, not a 255-byte one.
      if (size == 0 && (type == ftBlob || type == ftGraphic)) return " blob ";
      // Bytes of a fixed or a varying length up to 255 keep that kind.
      if (size > 0 && size <= 255 && type == ftBytes) return " binary(" + std::to_string(size) + ") ";
      if (size > 0 && size <= 255 && type == ftVarBytes) {
        return " varbinary(" + std::to_string(size) + ") ";
      }
      if (size > 16777215) return " longblob ";
      if (size > 65535) return " mediumblob ";
      if (size > 255) return " blob ";
      return " tinyblob ";
    default:
      return " varchar(255) ";
  }
}

}  // namespace

std::string TMySQLDatasetBase::ScriptIdentifier(const std::string& Name, bool Dotted) const {
  return rowset::ScriptIdentifier(Driver(), Name, Dotted);
}

void TMySQLDatasetBase::KeepCreationFieldDefs() {
  const std::string signature = DefsSignature(*FieldDefs());
  // Definitions that are not the ones the last open derived are the
  // application's: they are what the table is created from.
  if (!derived_defs_signature_ || *derived_defs_signature_ != signature) {
    auto copy = std::make_unique<TFieldDefs>(this);
    copy->Assign(FieldDefs());
    creation_field_defs_ = std::move(copy);
  }
}

void TMySQLDatasetBase::NoteDerivedFieldDefs() { derived_defs_signature_ = DefsSignature(*FieldDefs()); }

TFieldDefs* TMySQLDatasetBase::CreationFieldDefs() {
  if (creation_field_defs_ && derived_defs_signature_ &&
      *derived_defs_signature_ == DefsSignature(*FieldDefs())) {
    return creation_field_defs_.get();
  }
  return FieldDefs();
}

std::string TMySQLDatasetBase::CreateTable(bool Execute) {
  if (table_name_.empty()) return std::string();
  std::string database = database_name_;
  if (database.empty() && server_ != nullptr) database = server_->DatabaseName();
  if (database.empty()) return std::string();

  TStringList lines;
  const std::string table = ScriptIdentifier(table_name_, true);
  lines.Add("use " + ScriptIdentifier(database, true) + ";");
  if (options_.Contains(doDropIfExists)) lines.Add("drop table if exists " + table + ";");
  lines.Add(std::string("create ") + (options_.Contains(doCreateTemp) ? "temporary " : " ") +
            "table if not exists " + table + " (");
  TFieldDefs* defs = CreationFieldDefs();
  if (defs->Count() == 0) {
    lines.Add("ID int not null auto_increment,primary key (ID)");
  } else {
    for (int i = 0; i < defs->Count(); ++i) {
      const TFieldDef* def = defs->Items(i);
      lines.Add(ScriptIdentifier(def->Name(), false));
      if (def->DataType() == ftAutoInc) {
        lines.Add(" int not null auto_increment,");
      } else {
        lines.Add(ColumnType(def) + (def->Required() ? "not null" : "") + ",");
      }
    }
    TIndexDefs* indexes = IndexDefs();
    for (int i = 0; i < indexes->Count(); ++i) {
      const TIndexDef* index = indexes->Items(i);
      if (index->Options().Contains(ixPrimary)) {
        lines.Add(" primary key (");
      } else if (index->Options().Contains(ixUnique)) {
        lines.Add(" unique index " + ScriptIdentifier(index->Name(), false) + " (");
      } else {
        lines.Add(" index " + ScriptIdentifier(index->Name(), false) + " (");
      }
      std::string fields;
      std::string list = index->Fields();
      for (char& c : list) {
        if (c == ';') c = ',';
      }
      size_t at = 0;
      while (at <= list.size()) {
        size_t comma = list.find(',', at);
        if (comma == std::string::npos) comma = list.size();
        std::string name = Trimmed(std::string_view(list).substr(at, comma - at));
        if (!name.empty()) {
          if (!fields.empty()) fields += ',';
          fields += ScriptIdentifier(name, false);
        }
        at = comma + 1;
      }
      lines.Add(fields + "),");
    }
    std::string last = lines.Get(lines.Count() - 1);
    last.pop_back();
    lines.Put(lines.Count() - 1, last);
  }
  lines.Add(");");

  if (Execute) {
    // On the shared connection the script's "use" would leave the component
    // in the dataset's database: the component's is selected again.
    const bool restore = UsesForeignDatabase();
    try {
      ExecSQLBatch(&lines, false, false, false, "", "");
    } catch (...) {
      if (restore && connection_handle_ != nullptr) {
        try {
          server_->SelectDatabase(server_->DatabaseName(), connection_handle_);
        } catch (...) {
          // The script's error is the one to report.
        }
      }
      throw;
    }
    if (restore && connection_handle_ != nullptr) {
      server_->SelectDatabase(server_->DatabaseName(), connection_handle_);
    }
  }
  return lines.Text();
}

}  // namespace rowset
