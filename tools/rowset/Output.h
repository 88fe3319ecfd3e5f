// How the rowset program prints results: aligned tables, CSV, TSV or JSON
// lines (the formats are described in the --help text, Options.cpp). Values
// are printed as the server sent them, byte for byte; only the escaping of
// the format is added. Writes to one stdio stream; not thread-safe.
#ifndef ROWSET_TOOLS_ROWSET_OUTPUT_H_
#define ROWSET_TOOLS_ROWSET_OUTPUT_H_

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/rowset/Options.h"

namespace rowset::cli {

// One result as printed: column names, whether each column is numeric
// (right-aligned in tables), and the rows (std::nullopt for NULL).
struct ResultTable {
  std::vector<std::string> columns;
  std::vector<bool> numeric;
  std::vector<std::vector<std::optional<std::string>>> rows;
};

class Printer {
 public:
  Printer(Format Kind, FILE* Out) : kind_(Kind), out_(Out) {}

  void Result(const ResultTable& Table);
  // A statement without a result: affected rows and, when not "0", the
  // insert id (table and json formats; csv and tsv print nothing).
  void Done(const std::string& AffectedRows, const std::string& InsertId);
  // A record shown field by field ("name: value" lines), for the editor.
  void Record(const ResultTable& Table, size_t Row);

 private:
  void Table(const ResultTable& T);
  void Csv(const ResultTable& T);
  void Tsv(const ResultTable& T);
  void Json(const ResultTable& T);

  Format kind_;
  FILE* out_;
  bool csv_first_ = true;
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
