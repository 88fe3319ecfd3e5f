// Result printing of the rowset program (see Output.h).
#include "tools/rowset/Output.h"

#include <wchar.h>

#include <algorithm>

namespace rowset::cli {

namespace {

bool ValidUtf8(std::string_view S) {
  size_t i = 0;
  while (i < S.size()) {
    unsigned char c = static_cast<unsigned char>(S[i]);
    size_t n;
    uint32_t cp;
    if (c < 0x80) { ++i; continue; }
    if ((c & 0xE0) == 0xC0) { n = 1; cp = c & 0x1F; }
    else if ((c & 0xF0) == 0xE0) { n = 2; cp = c & 0x0F; }
    else if ((c & 0xF8) == 0xF0) { n = 3; cp = c & 0x07; }
    else return false;
    if (i + n >= S.size()) return false;
    for (size_t k = 1; k <= n; ++k) {
      unsigned char d = static_cast<unsigned char>(S[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if ((n == 1 && cp < 0x80) || (n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) ||
        (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
      return false;
    i += n + 1;
  }
  return true;
}

void Put(FILE* Out, std::string_view S) { std::fwrite(S.data(), 1, S.size(), Out); }

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
  static const char kHex[] = "0123456789abcdef";
  std::string r;
  if (!ValidUtf8(Bytes)) {
    r = "{\"hex\":\"";
    for (char c : Bytes) {
      r += kHex[static_cast<unsigned char>(c) >> 4];
      r += kHex[static_cast<unsigned char>(c) & 15];
    }
    return r + "\"}";
  }
  r.reserve(Bytes.size() + 2);
  r += '"';
  for (char c : Bytes) {
    unsigned char u = static_cast<unsigned char>(c);
    switch (c) {
      case '"': r += "\\\""; break;
      case '\\': r += "\\\\"; break;
      case '\n': r += "\\n"; break;
      case '\r': r += "\\r"; break;
      case '\t': r += "\\t"; break;
      default:
        if (u < 0x20 || u == 0x7F) {
          r += "\\u00";
          r += kHex[u >> 4];
          r += kHex[u & 15];
        } else {
          r += c;
        }
    }
  }
  r += '"';
  return r;
}

void Printer::Result(const ResultTable& T) {
  switch (kind_) {
    case Format::kTable: Table(T); break;
    case Format::kCsv: Csv(T); break;
    case Format::kTsv: Tsv(T); break;
    case Format::kJson: Json(T); break;
  }
  std::fflush(out_);
}

void Printer::Done(const std::string& AffectedRows, const std::string& InsertId) {
  const bool has_id = !InsertId.empty() && InsertId != "0";
  if (kind_ == Format::kTable) {
    std::fprintf(out_, "Query OK, %s %s affected", AffectedRows.c_str(),
                 AffectedRows == "1" ? "row" : "rows");
    if (has_id) std::fprintf(out_, ", insert id %s", InsertId.c_str());
    std::fprintf(out_, "\n");
  } else if (kind_ == Format::kJson) {
    std::fprintf(out_, "{\"affected_rows\":%s,\"insert_id\":%s}\n",
                 AffectedRows.empty() || AffectedRows[0] == '-' ? "0" : AffectedRows.c_str(),
                 has_id ? InsertId.c_str() : "0");
  }
  std::fflush(out_);
}

void Printer::Table(const ResultTable& T) {
  const size_t n = T.columns.size();
  std::vector<size_t> width(n);
  for (size_t c = 0; c < n; ++c) width[c] = DisplayWidth(T.columns[c]);
  for (const auto& row : T.rows)
    for (size_t c = 0; c < n && c < row.size(); ++c)
      width[c] = std::max(width[c], row[c] ? DisplayWidth(*row[c]) : 4);
  std::string rule = "+";
  for (size_t c = 0; c < n; ++c) rule += std::string(width[c] + 2, '-') + "+";
  rule += "\n";
  auto line = [&](auto&& cell) {
    std::string s = "|";
    for (size_t c = 0; c < n; ++c) {
      std::string_view text;
      bool right = false;
      cell(c, text, right);
      std::string pad(width[c] - std::min(width[c], DisplayWidth(text)), ' ');
      s += " ";
      if (right) s += pad;
      s.append(text.data(), text.size());
      if (!right) s += pad;
      s += " |";
    }
    s += "\n";
    Put(out_, s);
  };
  Put(out_, rule);
  line([&](size_t c, std::string_view& text, bool& right) { text = T.columns[c]; });
  Put(out_, rule);
  for (const auto& row : T.rows) {
    line([&](size_t c, std::string_view& text, bool& right) {
      if (c < row.size() && row[c]) {
        text = *row[c];
        right = T.numeric[c];
      } else {
        text = "NULL";
      }
    });
  }
  if (!T.rows.empty()) Put(out_, rule);
  std::fprintf(out_, "(%zu %s)\n", T.rows.size(), T.rows.size() == 1 ? "row" : "rows");
}

void Printer::Csv(const ResultTable& T) {
  if (!csv_first_) Put(out_, "\n");
  csv_first_ = false;
  auto field = [&](std::string_view v) {
    if (v.empty() || v.find_first_of(",\"\r\n") != std::string_view::npos) {
      std::string q = "\"";
      for (char c : v) {
        if (c == '"') q += '"';
        q += c;
      }
      q += '"';
      Put(out_, q);
    } else {
      Put(out_, v);
    }
  };
  for (size_t c = 0; c < T.columns.size(); ++c) {
    if (c) Put(out_, ",");
    field(T.columns[c]);
  }
  Put(out_, "\r\n");
  for (const auto& row : T.rows) {
    for (size_t c = 0; c < row.size(); ++c) {
      if (c) Put(out_, ",");
      if (row[c]) field(*row[c]);  // NULL: an empty field without quotes
    }
    Put(out_, "\r\n");
  }
}

void Printer::Tsv(const ResultTable& T) {
  auto field = [&](std::string_view v) {
    std::string s;
    s.reserve(v.size());
    for (char c : v) {
      switch (c) {
        case '\t': s += "\\t"; break;
        case '\n': s += "\\n"; break;
        case '\r': s += "\\r"; break;
        case '\\': s += "\\\\"; break;
        case '\0': s += "\\0"; break;
        default: s += c;
      }
    }
    Put(out_, s);
  };
  for (size_t c = 0; c < T.columns.size(); ++c) {
    if (c) Put(out_, "\t");
    field(T.columns[c]);
  }
  Put(out_, "\n");
  for (const auto& row : T.rows) {
    for (size_t c = 0; c < row.size(); ++c) {
      if (c) Put(out_, "\t");
      if (row[c]) field(*row[c]);
      else Put(out_, "\\N");
    }
    Put(out_, "\n");
  }
}

void Printer::Json(const ResultTable& T) {
  std::string s = "{\"columns\":[";
  for (size_t c = 0; c < T.columns.size(); ++c) {
    if (c) s += ",";
    s += JsonValue(T.columns[c]);
  }
  s += "],\"rows\":[";
  for (size_t r = 0; r < T.rows.size(); ++r) {
    if (r) s += ",";
    s += "[";
    for (size_t c = 0; c < T.rows[r].size(); ++c) {
      if (c) s += ",";
      s += T.rows[r][c] ? JsonValue(*T.rows[r][c]) : "null";
    }
    s += "]";
    if (s.size() > (1u << 20)) {
      Put(out_, s);
      s.clear();
    }
  }
  s += "]}\n";
  Put(out_, s);
}

void Printer::Record(const ResultTable& T, size_t Row) {
  size_t w = 0;
  for (const auto& c : T.columns) w = std::max(w, DisplayWidth(c));
  for (size_t c = 0; c < T.columns.size(); ++c) {
    std::string s(w - DisplayWidth(T.columns[c]), ' ');
    s += T.columns[c] + ": ";
    const auto& v = Row < T.rows.size() && c < T.rows[Row].size() ? T.rows[Row][c] : std::nullopt;
    s += v ? *v : "NULL";
    s += "\n";
    Put(out_, s);
  }
  std::fflush(out_);
}

}  // namespace rowset::cli
