// Result printing of the rowset program (see Output.h).
#include "tools/rowset/Output.h"

#include <wchar.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace rowset::cli {

namespace {

// The length of the valid UTF-8 sequence at S[I], or 0 when none starts
// there.
size_t Utf8At(std::string_view S, size_t I) {
  unsigned char c = static_cast<unsigned char>(S[I]);
  size_t n;
  uint32_t cp;
  if (c < 0x80) return 1;
  if ((c & 0xE0) == 0xC0) { n = 1; cp = c & 0x1F; }
  else if ((c & 0xF0) == 0xE0) { n = 2; cp = c & 0x0F; }
  else if ((c & 0xF8) == 0xF0) { n = 3; cp = c & 0x07; }
  else return 0;
  if (I + n >= S.size()) return 0;
  for (size_t k = 1; k <= n; ++k) {
    unsigned char d = static_cast<unsigned char>(S[I + k]);
    if ((d & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (d & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
  if ((n == 1 && cp < 0x80) || (n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) ||
      (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
    return 0;
  return n + 1;
}

bool ValidUtf8(std::string_view S) {
  for (size_t i = 0; i < S.size();) {
    size_t n = Utf8At(S, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

const char kHex[] = "0123456789abcdef";

void JsonHex(OutBuffer& W, std::string_view Bytes) {
  W.Put("{\"hex\":\"");
  for (char c : Bytes) {
    W.Put(kHex[static_cast<unsigned char>(c) >> 4]);
    W.Put(kHex[static_cast<unsigned char>(c) & 15]);
  }
  W.Put("\"}");
}

// A JSON string of text; a byte that is no part of valid UTF-8 becomes
// U+FFFD (a text column of a server speaking UTF-8 holds none).
void JsonString(OutBuffer& W, std::string_view Bytes) {
  W.Put('"');
  size_t plain = 0;  // start of the run not written yet
  for (size_t i = 0; i < Bytes.size();) {
    unsigned char u = static_cast<unsigned char>(Bytes[i]);
    if (u >= 0x20 && u != '"' && u != '\\' && u < 0x7F) {
      ++i;
      continue;
    }
    size_t n = u >= 0x80 ? Utf8At(Bytes, i) : 1;
    if (u >= 0x80 && n > 0) {
      i += n;
      continue;
    }
    W.Put(Bytes.substr(plain, i - plain));
    switch (u) {
      case '"': W.Put("\\\""); break;
      case '\\': W.Put("\\\\"); break;
      case '\n': W.Put("\\n"); break;
      case '\r': W.Put("\\r"); break;
      case '\t': W.Put("\\t"); break;
      default:
        if (u >= 0x80) {
          W.Put("\xEF\xBF\xBD");
        } else {
          char e[6] = {'\\', 'u', '0', '0', kHex[u >> 4], kHex[u & 15]};
          W.Put(std::string_view(e, 6));
        }
    }
    ++i;
    plain = i;
  }
  W.Put(Bytes.substr(plain));
  W.Put('"');
}

void CsvField(OutBuffer& W, std::string_view V) {
  if (!V.empty() && V.find_first_of(",\"\r\n") == std::string_view::npos) {
    W.Put(V);
    return;
  }
  W.Put('"');
  for (size_t q; (q = V.find('"')) != std::string_view::npos; V.remove_prefix(q + 1)) {
    W.Put(V.substr(0, q + 1));
    W.Put('"');
  }
  W.Put(V);
  W.Put('"');
}

void TsvField(OutBuffer& W, std::string_view V) {
  size_t plain = 0;
  for (size_t i = 0; i < V.size(); ++i) {
    const char* e;
    switch (V[i]) {
      case '\t': e = "\\t"; break;
      case '\n': e = "\\n"; break;
      case '\r': e = "\\r"; break;
      case '\\': e = "\\\\"; break;
      case '\0': e = "\\0"; break;
      default: continue;
    }
    W.Put(V.substr(plain, i - plain));
    W.Put(std::string_view(e, 2));
    plain = i + 1;
  }
  W.Put(V.substr(plain));
}

}  // namespace

size_t DisplayWidth(std::string_view Text) {
  size_t n = 0;
  for (size_t i = 0; i < Text.size();) {
    const unsigned char c = static_cast<unsigned char>(Text[i]);
    if (c < 0x80) {
      ++n;
      ++i;
      continue;
    }
    // One UTF-8 character: its columns as the terminal shows it (East Asian
    // wide characters take two, combining marks none). A byte that starts
    // no valid sequence, or a character the locale cannot measure, takes one.
    size_t len = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 1;
    char32_t cp = len == 2 ? c & 0x1F : len == 3 ? c & 0x0F : c & 0x07;
    bool valid = len > 1 && i + len <= Text.size();
    for (size_t k = 1; valid && k < len; ++k) {
      const unsigned char d = static_cast<unsigned char>(Text[i + k]);
      valid = (d & 0xC0) == 0x80;
      cp = (cp << 6) | (d & 0x3F);
    }
    if (!valid) {
      ++n;
      ++i;
      continue;
    }
    const int w = ::wcwidth(static_cast<wchar_t>(cp));
    n += w < 0 ? 1 : static_cast<size_t>(w);
    i += len;
  }
  return n;
}

std::string JsonValue(std::string_view Bytes) {
  std::string r;
  static const auto escape = [](std::string_view B, std::string& R) {
    R += '"';
    for (char c : B) {
      unsigned char u = static_cast<unsigned char>(c);
      switch (c) {
        case '"': R += "\\\""; break;
        case '\\': R += "\\\\"; break;
        case '\n': R += "\\n"; break;
        case '\r': R += "\\r"; break;
        case '\t': R += "\\t"; break;
        default:
          if (u < 0x20 || u == 0x7F) {
            R += "\\u00";
            R += kHex[u >> 4];
            R += kHex[u & 15];
          } else {
            R += c;
          }
      }
    }
    R += '"';
  };
  if (!ValidUtf8(Bytes)) {
    r = "{\"hex\":\"";
    for (char c : Bytes) {
      r += kHex[static_cast<unsigned char>(c) >> 4];
      r += kHex[static_cast<unsigned char>(c) & 15];
    }
    return r + "\"}";
  }
  escape(Bytes, r);
  return r;
}

void Printer::Begin(std::vector<OutColumn> Columns) {
  cols_ = std::move(Columns);
  rows_ = 0;
  open_ = true;
  held_.clear();
  ends_.clear();
  const size_t n = cols_.size();
  switch (kind_) {
    case Format::kTable:
      width_.assign(n, 0);
      for (size_t c = 0; c < n; ++c) {
        width_[c] = DisplayWidth(cols_[c].name);
        // Room for NULL; a declared length can be huge (LONGTEXT): a longer
        // value then passes the rule.
        if (quick_) width_[c] = std::max({width_[c], std::min<size_t>(cols_[c].length, 256), size_t{4}});
      }
      if (quick_) {
        TableRule();
        std::vector<std::string_view> names(n);
        std::unique_ptr<bool[]> null(new bool[n]());
        for (size_t c = 0; c < n; ++c) names[c] = cols_[c].name;
        TableCells(names.data(), null.get(), true);
        TableRule();
      }
      break;
    case Format::kCsv:
      if (!csv_first_) w_.Put("\r\n");
      csv_first_ = false;
      for (size_t c = 0; c < n; ++c) {
        if (c) w_.Put(',');
        CsvField(w_, cols_[c].name);
      }
      w_.Put("\r\n");
      break;
    case Format::kTsv:
      for (size_t c = 0; c < n; ++c) {
        if (c) w_.Put('\t');
        TsvField(w_, cols_[c].name);
      }
      w_.Put('\n');
      break;
    case Format::kJson:
      w_.Put("{\"columns\":[");
      for (size_t c = 0; c < n; ++c) {
        if (c) w_.Put(',');
        JsonString(w_, cols_[c].name);
      }
      w_.Put("],\"rows\":[");
      break;
  }
}

void Printer::Row(const char* const* Values, const unsigned long* Lengths) {
  const size_t n = cols_.size();
  switch (kind_) {
    case Format::kTable:
      if (quick_) {
        std::vector<std::string_view> texts(n);
        std::unique_ptr<bool[]> null(new bool[n]());
        for (size_t c = 0; c < n; ++c) {
          null[c] = Values[c] == nullptr;
          texts[c] = null[c] ? std::string_view("NULL") : std::string_view(Values[c], Lengths[c]);
        }
        TableCells(texts.data(), null.get(), false);
      } else {
        for (size_t c = 0; c < n; ++c) {
          if (Values[c] == nullptr) {
            ends_.push_back(kNull);
            width_[c] = std::max<size_t>(width_[c], 4);
            continue;
          }
          std::string_view v(Values[c], Lengths[c]);
          held_.append(v.data(), v.size());
          ends_.push_back(held_.size());
          width_[c] = std::max(width_[c], DisplayWidth(v));
        }
      }
      break;
    case Format::kCsv:
      for (size_t c = 0; c < n; ++c) {
        if (c) w_.Put(',');
        // NULL: an empty field without quotes
        if (Values[c] != nullptr) CsvField(w_, std::string_view(Values[c], Lengths[c]));
      }
      w_.Put("\r\n");
      break;
    case Format::kTsv:
      for (size_t c = 0; c < n; ++c) {
        if (c) w_.Put('\t');
        if (Values[c] != nullptr) TsvField(w_, std::string_view(Values[c], Lengths[c]));
        else w_.Put("\\N");
      }
      w_.Put('\n');
      break;
    case Format::kJson:
      w_.Put(rows_ == 0 ? "[" : ",[");
      for (size_t c = 0; c < n; ++c) {
        if (c) w_.Put(',');
        if (Values[c] == nullptr) {
          w_.Put("null");
          continue;
        }
        std::string_view v(Values[c], Lengths[c]);
        if (cols_[c].binary) JsonHex(w_, v);
        else if (json_numbers_ && cols_[c].numeric && !v.empty()) w_.Put(v);
        else JsonString(w_, v);
      }
      w_.Put(']');
      break;
  }
  ++rows_;
}

void Printer::End() {
  if (!open_) return;
  open_ = false;
  if (kind_ == Format::kTable) {
    if (!quick_) TableHeld();
    else if (rows_ > 0) TableRule();
    char line[64];
    std::snprintf(line, sizeof line, "(%llu %s)\n", static_cast<unsigned long long>(rows_),
                  rows_ == 1 ? "row" : "rows");
    w_.Put(line);
  } else if (kind_ == Format::kJson) {
    w_.Put("]}\n");
  }
  w_.Flush();
}

void Printer::Abort() {
  if (!open_) return;
  open_ = false;
  held_.clear();
  held_.shrink_to_fit();
  ends_.clear();
  ends_.shrink_to_fit();
  // An unfinished json line is left unfinished, so that no reader takes it
  // for the whole result; the next output starts on a line of its own.
  if (kind_ == Format::kJson) w_.Put('\n');
  w_.Flush();
}

void Printer::TableRule() {
  w_.Put('+');
  for (size_t w : width_) {
    w_.Fill('-', w + 2);
    w_.Put('+');
  }
  w_.Put('\n');
}

void Printer::TableCells(const std::string_view* Texts, const bool* Null, bool Heading) {
  w_.Put('|');
  for (size_t c = 0; c < width_.size(); ++c) {
    const size_t pad = width_[c] - std::min(width_[c], DisplayWidth(Texts[c]));
    const bool right = !Heading && !Null[c] && cols_[c].numeric;
    w_.Put(' ');
    if (right) w_.Fill(' ', pad);
    w_.Put(Texts[c]);
    if (!right) w_.Fill(' ', pad);
    w_.Put(" |");
  }
  w_.Put('\n');
}

void Printer::TableHeld() {
  const size_t n = cols_.size();
  TableRule();
  std::vector<std::string_view> texts(n);
  std::unique_ptr<bool[]> null(new bool[n]());
  for (size_t c = 0; c < n; ++c) texts[c] = cols_[c].name;
  TableCells(texts.data(), null.get(), true);
  TableRule();
  uint64_t start = 0;
  for (size_t i = 0; i + n <= ends_.size(); i += n) {
    for (size_t c = 0; c < n; ++c) {
      const uint64_t end = ends_[i + c];
      null[c] = end == kNull;
      if (null[c]) {
        texts[c] = "NULL";
      } else {
        texts[c] = std::string_view(held_).substr(start, end - start);
        start = end;
      }
    }
    TableCells(texts.data(), null.get(), false);
  }
  if (rows_ > 0) TableRule();
  held_.clear();
  held_.shrink_to_fit();
  ends_.clear();
  ends_.shrink_to_fit();
}

void Printer::Result(const ResultTable& T) {
  std::vector<OutColumn> cols(T.columns.size());
  for (size_t c = 0; c < cols.size(); ++c) {
    cols[c].name = T.columns[c];
    cols[c].numeric = c < T.numeric.size() && T.numeric[c];
  }
  const bool quick = quick_;
  quick_ = false;  // the editor's few rows are aligned on their own widths
  Begin(std::move(cols));
  std::vector<const char*> values(T.columns.size());
  std::vector<unsigned long> lengths(T.columns.size());
  for (const auto& row : T.rows) {
    for (size_t c = 0; c < values.size(); ++c) {
      const bool has = c < row.size() && row[c].has_value();
      values[c] = has ? row[c]->data() : nullptr;
      lengths[c] = has ? static_cast<unsigned long>(row[c]->size()) : 0;
    }
    Row(values.data(), lengths.data());
  }
  End();
  quick_ = quick;
}

void Printer::Done(const std::string& AffectedRows, const std::string& InsertId) {
  const bool has_id = !InsertId.empty() && InsertId != "0";
  if (kind_ == Format::kTable) {
    w_.Put("Query OK, ");
    w_.Put(AffectedRows);
    w_.Put(AffectedRows == "1" ? " row affected" : " rows affected");
    if (has_id) {
      w_.Put(", insert id ");
      w_.Put(InsertId);
    }
    w_.Put('\n');
  } else if (kind_ == Format::kJson) {
    w_.Put("{\"affected_rows\":");
    w_.Put(AffectedRows.empty() || AffectedRows[0] == '-' ? std::string_view("0") : std::string_view(AffectedRows));
    w_.Put(",\"insert_id\":");
    w_.Put(has_id ? std::string_view(InsertId) : std::string_view("0"));
    w_.Put("}\n");
  }
  w_.Flush();
}

void Printer::Record(const ResultTable& T, size_t Row) {
  size_t w = 0;
  for (const auto& c : T.columns) w = std::max(w, DisplayWidth(c));
  for (size_t c = 0; c < T.columns.size(); ++c) {
    w_.Fill(' ', w - DisplayWidth(T.columns[c]));
    w_.Put(T.columns[c]);
    w_.Put(": ");
    const auto& v = Row < T.rows.size() && c < T.rows[Row].size() ? T.rows[Row][c] : std::nullopt;
    w_.Put(v ? std::string_view(*v) : std::string_view("NULL"));
    w_.Put('\n');
  }
  w_.Flush();
}

}  // namespace rowset::cli
