// How the rowset program prints results: aligned tables, CSV, TSV or JSON
// lines (the formats are described in the --help text, Options.cpp). Values
// are printed as the server sent them, byte for byte; only the escaping of
// the format is added.
//
// Results are printed as they are read: Begin with the columns, one Row per
// row, End. The csv, tsv and json formats write each row at once; the table
// format needs the widths first, so it holds the rows (compactly, one block
// of bytes) until End, unless Quick, where the widths come from the
// columns' declared lengths and each row is written at once. Everything
// goes through one buffered writer, flushed at the end of each result and
// statement. Not thread-safe.
#ifndef ROWSET_TOOLS_ROWSET_OUTPUT_H_
#define ROWSET_TOOLS_ROWSET_OUTPUT_H_

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/rowset/Options.h"

namespace rowset::cli {

// One result as printed: column names, whether each column is numeric
// (right-aligned in tables), and the rows (std::nullopt for NULL). Used by
// the editor for the few rows it shows.
struct ResultTable {
  std::vector<std::string> columns;
  std::vector<bool> numeric;
  std::vector<std::vector<std::optional<std::string>>> rows;
};

// A column of a result being printed.
struct OutColumn {
  std::string name;
  bool numeric = false;  // right-aligned; a JSON number with json numbers on
  bool binary = false;   // bytes, not text: {"hex":...} in json
  size_t length = 0;     // declared display length (table widths with Quick)
};

// A buffered writer over a stdio stream: values are copied into one block
// and written when it is full or on Flush.
class OutBuffer {
 public:
  explicit OutBuffer(FILE* Out) : out_(Out) { buf_.reserve(kSize); }
  ~OutBuffer() { Flush(); }
  void Put(std::string_view S) {
    if (buf_.size() + S.size() > kSize) {
      Flush();
      if (S.size() > kSize) {
        std::fwrite(S.data(), 1, S.size(), out_);
        return;
      }
    }
    buf_.append(S.data(), S.size());
  }
  void Put(char C) {
    if (buf_.size() >= kSize) Flush();
    buf_.push_back(C);
  }
  void Fill(char C, size_t N) {
    while (N > 0) {
      if (buf_.size() >= kSize) Flush();
      size_t n = std::min(N, kSize - buf_.size());
      buf_.append(n, C);
      N -= n;
    }
  }
  void Flush() {
    if (!buf_.empty()) std::fwrite(buf_.data(), 1, buf_.size(), out_);
    buf_.clear();
    std::fflush(out_);
  }
  FILE* Stream() const { return out_; }

 private:
  static constexpr size_t kSize = 1 << 16;
  FILE* out_;
  std::string buf_;
};

class Printer {
 public:
  Printer(Format Kind, FILE* Out, bool Quick = false, bool JsonNumbers = false)
      : kind_(Kind), w_(Out), out_(Out), quick_(Quick), json_numbers_(JsonNumbers) {}

  // A result: Begin, Row for each row, End. Values[i] is nullptr for NULL;
  // Lengths[i] its byte length. An Abort instead of End ends what was
  // written (the result failed while being read).
  void Begin(std::vector<OutColumn> Columns);
  void Row(const char* const* Values, const unsigned long* Lengths);
  void End();
  void Abort();

  void Result(const ResultTable& Table);
  // A statement without a result: affected rows and, when not "0", the
  // insert id (table and json formats; csv and tsv print nothing).
  void Done(const std::string& AffectedRows, const std::string& InsertId);
  // A record shown field by field ("name: value" lines), for the editor.
  void Record(const ResultTable& Table, size_t Row);
  void Flush() { w_.Flush(); }

 private:
  void Value(size_t Column, std::string_view V);
  void TableRule();
  void TableCells(const std::string_view* Texts, const bool* Null, bool Heading);
  void TableHeld();

  Format kind_;
  OutBuffer w_;
  FILE* out_;
  bool quick_;
  bool json_numbers_;
  bool csv_first_ = true;
  std::vector<OutColumn> cols_;
  std::vector<size_t> width_;
  uint64_t rows_ = 0;
  bool open_ = false;
  // Held rows of a table: the values' bytes one after another; per value
  // its end offset, or kNull.
  std::string held_;
  std::vector<uint64_t> ends_;
  static constexpr uint64_t kNull = UINT64_MAX;

 public:
  Printer(const Printer&) = delete;
  Printer& operator=(const Printer&) = delete;
};

// A JSON string literal for valid UTF-8 text; {"hex":"..."} for any other
// bytes, so that every value can be read back exactly.
std::string JsonValue(std::string_view Bytes);
// Display width of a UTF-8 text in terminal columns (wcwidth: two for East
// Asian wide characters, none for combining marks; one for any byte that is
// not UTF-8). Needs a UTF-8 character locale (the program sets one).
size_t DisplayWidth(std::string_view Text);

}  // namespace rowset::cli

#endif  // ROWSET_TOOLS_ROWSET_OUTPUT_H_
