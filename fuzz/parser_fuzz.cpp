// libFuzzer target for the tokenizer and the script functions.
//
// The input is the text. When its first byte is odd, the bytes up to the
// first line feed (at most 64) are marker lists of the fuzzer's choosing:
// pieces separated by byte 1, handed round-robin to the operators, line
// comments, block-comment starts and ends, macro starts and ends and the
// hexadecimal prefix (empty pieces included). Otherwise the parser is set up
// as for scripts.
//
// Checked: every token lies inside the text and is its text there, tokens
// advance, the end is reached within one token per byte, TokenAtPosition
// and the script functions finish and produce trimmed, non-empty
// statements.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "host/Classes.h"
#include "parser/MySQLParser.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

void ScriptMarkers(rowset::TBasicParser& p) {
  p.Operators.SetCommaText("+,-,*,/,=,||,&&,&,<>,|,<<,>>,>,<,~,!,%");
  p.HexPrefix = "0x";
  p.LineComments.SetCommaText("\"-- \",#");
  p.CommentStarts.Add("/*");
  p.CommentEnds.Add("*/");
  p.MacroStarts.Add("[");
  p.MacroEnds.Add("]");
}

void FuzzMarkers(rowset::TBasicParser& p, const std::string& layout) {
  rowset::TStrings* lists[] = {&p.Operators,   &p.LineComments, &p.CommentStarts,
                               &p.CommentEnds, &p.MacroStarts,  &p.MacroEnds};
  size_t n = 0, start = 0;
  for (size_t i = 0; i <= layout.size(); ++i) {
    if (i < layout.size() && layout[i] != '\x01') continue;
    std::string piece = layout.substr(start, i - start);
    start = i + 1;
    if (n % 7 == 6)
      p.HexPrefix = piece;
    else
      lists[n % 7]->Add(piece);
    ++n;
  }
}

void Tokenize(const std::string& text, const std::string* markers, bool skip) {
  rowset::TBasicParser p(text);
  if (markers)
    FuzzMarkers(p, *markers);
  else
    ScriptMarkers(p);
  int64_t last_end = 0;
  size_t count = 0;
  for (;;) {
    rowset::TTokenKind kind = p.NextToken(skip);
    const rowset::TTokenProps& t = p.Token;
    Check(t.Position >= last_end && static_cast<size_t>(t.Position) <= text.size());
    if (kind == rowset::tkEnd) {
      Check(t.Text.empty() && static_cast<size_t>(t.Position) == text.size());
      break;
    }
    if (kind == rowset::tkLineBreak) {
      Check(t.Text == " " && text[t.Position] == '\n' && !skip);
      last_end = t.Position + 1;
    } else {
      Check(!t.Text.empty());
      Check(text.compare(t.Position, t.Text.size(), t.Text) == 0);
      last_end = t.Position + static_cast<int64_t>(t.Text.size());
    }
    (void)p.BlankAfterToken();
    if (kind == rowset::tkInteger || kind == rowset::tkFloat || kind == rowset::tkHex) {
      try {
        (void)p.TokenInt();
      } catch (const rowset::EConvertError&) {
      }
      try {
        (void)p.TokenFloat();
      } catch (const rowset::EConvertError&) {
      }
    }
    Check(++count <= text.size());
  }
  // The region around a position given by the text itself.
  int64_t where = text.empty() ? 0 : static_cast<unsigned char>(text[0]) * 7 % (text.size() + 2);
  p.Restart(text);
  p.TokenAtPosition(where);
  for (int i = 0; i < 3; ++i) {
    const rowset::TTokenProps& t = p.GetTokenInRegion(static_cast<rowset::TTokenPosition>(i));
    Check(t.Position >= 0 && static_cast<size_t>(t.Position) <= text.size());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  std::string markers;
  bool custom = size > 0 && (data[0] & 1);
  std::string text = input;
  if (custom) {
    size_t nl = input.find('\n', 1);
    size_t end = nl == std::string::npos ? std::min<size_t>(size, 65) : std::min<size_t>(nl, 65);
    markers = input.substr(1, end - 1);
    text = input.substr(end);
  }
  Tokenize(text, custom ? &markers : nullptr, false);
  Tokenize(text, custom ? &markers : nullptr, true);

  rowset::TStringList lines;
  lines.SetText(text);
  (void)rowset::GetScriptType(lines);
  rowset::ParseScript(lines);
  for (int i = 0; i < lines.Count(); ++i) {
    std::string s = lines.Get(i);
    Check(!s.empty() && s != ";");
    Check(static_cast<unsigned char>(s.front()) > ' ' && static_cast<unsigned char>(s.back()) > ' ');
  }
  // The script's own text, with its line ends and DELIMITER lines: every
  // statement is trimmed and never empty, and none is longer than the text.
  for (const std::string& s : rowset::SplitScript(text)) {
    Check(!s.empty() && s != ";" && s.size() <= text.size() + 1);
    Check(static_cast<unsigned char>(s.front()) > ' ' && static_cast<unsigned char>(s.back()) > ' ');
  }
  return 0;
}
