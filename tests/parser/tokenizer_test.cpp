// The tokenizer: token kinds, marker lists, positions, lines, errors and
// its behaviour on malformed text.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "parser/MySQLParser.h"

namespace rowset {
namespace {

using Tokens = std::vector<std::pair<int, std::string>>;

// A parser set up the way scripts are read.
void Configure(TBasicParser& p) {
  p.Operators.SetCommaText("+,-,*,/,=,||,&&,&,<>,|,<<,>>,>,<,~,!,%");
  p.HexPrefix = "0x";
  p.LineComments.SetCommaText("\"-- \",#");
  p.CommentStarts.Add("/*");
  p.CommentEnds.Add("*/");
  p.MacroStarts.Add("[");
  p.MacroEnds.Add("]");
}

Tokens Scan(const std::string& text, bool skip_breaks = false) {
  TBasicParser p(text);
  Configure(p);
  Tokens out;
  while (p.NextToken(skip_breaks) != tkEnd) out.emplace_back(p.Token.Kind, p.Token.Text);
  return out;
}

TEST(Tokenizer, FreshParserAndRestart) {
  TBasicParser p("select");
  EXPECT_EQ(p.Token.Kind, TTokenKind('c'));
  EXPECT_EQ(p.Token.Position, 0);
  EXPECT_EQ(p.Operators.Count(), 0);
  EXPECT_EQ(p.HexPrefix, "");
  EXPECT_EQ(p.NextToken(true), tkSymbol);
  EXPECT_EQ(p.NextToken(true), tkEnd);
  EXPECT_EQ(p.NextToken(true), tkEnd);  // stays at the end
  EXPECT_EQ(p.Token.Position, 6);
  p.Restart("a\nb");
  EXPECT_EQ(p.Token.Kind, TTokenKind('c'));
  p.NextToken(true);
  p.NextToken(true);
  EXPECT_EQ(p.Line, 1);
  p.Restart("x");
  EXPECT_EQ(p.Line, 0);
  EXPECT_EQ(TBasicParser("").NextToken(false), tkEnd);
}

TEST(Tokenizer, OperatorsInListOrder) {
  EXPECT_EQ(Scan("a<>b"), (Tokens{{tkSymbol, "a"}, {tkOperator, "<>"}, {tkSymbol, "b"}}));
  EXPECT_EQ(Scan("a<=b"),
            (Tokens{{tkSymbol, "a"}, {tkOperator, "<"}, {tkOperator, "="}, {tkSymbol, "b"}}));
  EXPECT_EQ(Scan("x||y"), (Tokens{{tkSymbol, "x"}, {tkOperator, "||"}, {tkSymbol, "y"}}));
  // "<" listed before "<<" would win over it.
  TBasicParser p("1<<2");
  p.Operators.SetCommaText("<,<<");
  p.NextToken(false);
  EXPECT_EQ(p.NextToken(false), tkOperator);
  EXPECT_EQ(p.Token.Text, "<");
  // Without operators, & and | start words and other characters are their
  // own kind.
  EXPECT_EQ(Scan("(a)"), (Tokens{{'(', "("}, {tkSymbol, "a"}, {')', ")"}}));
  TBasicParser q("&x|y +");
  EXPECT_EQ(q.NextToken(false), tkSymbol);
  EXPECT_EQ(q.Token.Text, "&x|y");
  EXPECT_EQ(q.NextToken(false), TTokenKind('+'));
  // Inside a word too, & and | belong to the word only when no operator
  // starts there.
  EXPECT_EQ(Scan("a&&b$c_1|d"), (Tokens{{tkSymbol, "a"}, {tkOperator, "&&"}, {tkSymbol, "b$c_1"},
                                        {tkOperator, "|"}, {tkSymbol, "d"}}));
}

TEST(Tokenizer, ListsMayChangeBetweenTokens) {
  TBasicParser p("a<>b<>c");
  p.NextToken(false);
  EXPECT_EQ(p.NextToken(false), TTokenKind('<'));
  p.Operators.Add("<>");
  EXPECT_EQ(p.NextToken(false), TTokenKind('>'));
  EXPECT_EQ(p.NextToken(false), tkSymbol);
  EXPECT_EQ(p.NextToken(false), tkOperator);
  EXPECT_EQ(p.Token.Text, "<>");
  // An empty marker matches nothing (it would consume nothing).
  TBasicParser q("ab");
  q.Operators.Add("");
  q.LineComments.Add("");
  q.CommentStarts.Add("");
  q.MacroStarts.Add("");
  q.MacroEnds.Add("");
  EXPECT_EQ(q.NextToken(false), tkSymbol);
  EXPECT_EQ(q.NextToken(false), tkEnd);
}

// A parser reading with another's markers tokenizes as that one does, also
// after the other is gone, until a list of its own changes.
TEST(Tokenizer, MarkersOfAnotherParser) {
  const std::string text = "select [m] -- c\n/* b */ x<<1, 0x1F || 'it''s' # e";
  const Tokens expected = Scan(text);
  auto configured = std::make_unique<TBasicParser>();
  Configure(*configured);
  for (bool read_first : {false, true}) {
    if (read_first) configured->NextToken(false);  // its own markers prepared
    TBasicParser p(text);
    p.UseMarkersOf(*configured);
    Tokens got;
    while (p.NextToken(false) != tkEnd) got.emplace_back(p.Token.Kind, p.Token.Text);
    EXPECT_EQ(got, expected);
  }
  TBasicParser p(text);
  p.UseMarkersOf(*configured);
  configured.reset();
  EXPECT_EQ(p.NextToken(false), tkSymbol);
  EXPECT_EQ(p.NextToken(false), tkMacro);
  // Its own lists (empty but for this one) are the markers from here on.
  p.Operators.Add("-");
  EXPECT_EQ(p.NextToken(false), tkOperator);
  EXPECT_EQ(p.Token.Text, "-");
  EXPECT_EQ(p.NextToken(false), tkOperator);
  EXPECT_EQ(p.NextToken(false), tkSymbol);  // "c": no line comments any more
}

TEST(Tokenizer, Numbers) {
  EXPECT_EQ(Scan("0x1F 0xg"),
            (Tokens{{tkHex, "0x1F"}, {tkHex, "0x"}, {tkSymbol, "g"}}));
  EXPECT_EQ(Scan("12.5e-3"), (Tokens{{tkFloat, "12.5e-3"}}));
  EXPECT_EQ(Scan("1e-5-3"), (Tokens{{tkFloat, "1e-5"}, {tkOperator, "-"}, {tkInteger, "3"}}));
  EXPECT_EQ(Scan("42 1-2"), (Tokens{{tkInteger, "42"}, {tkInteger, "1"}, {tkOperator, "-"},
                                    {tkInteger, "2"}}));

  TBasicParser p("10d 2.5 7 3S");
  Configure(p);
  EXPECT_EQ(p.NextToken(false), tkFloat);
  EXPECT_EQ(p.Token.Text, "10d");
  EXPECT_EQ(p.FloatType, 'd');
  EXPECT_DOUBLE_EQ(p.TokenFloat(), 10.0);
  EXPECT_EQ(p.NextToken(false), tkFloat);
  EXPECT_EQ(p.FloatType, 0);
  EXPECT_DOUBLE_EQ(p.TokenFloat(), 2.5);
  EXPECT_EQ(p.NextToken(false), tkInteger);
  EXPECT_EQ(p.TokenInt(), 7);
  EXPECT_EQ(p.NextToken(false), tkFloat);
  EXPECT_EQ(p.FloatType, 'S');

  // A one-character hexadecimal prefix; a longer one is never recognised.
  TBasicParser h("$ff $");
  h.HexPrefix = "$";
  EXPECT_EQ(h.NextToken(false), tkHex);
  EXPECT_EQ(h.TokenInt(), 255);
  EXPECT_EQ(h.NextToken(false), tkHex);
  TBasicParser l("0xx1");
  l.HexPrefix = "0xx";
  EXPECT_EQ(l.NextToken(false), tkInteger);
}

TEST(Tokenizer, ValueConversions) {
  TBasicParser p("9223372036854775807 9223372036854775808 1.2.3 0x10 abc");
  Configure(p);
  p.NextToken(false);
  EXPECT_EQ(p.TokenInt(), INT64_MAX);
  p.NextToken(false);
  EXPECT_THROW(p.TokenInt(), EConvertError);
  p.NextToken(false);
  EXPECT_THROW(p.TokenFloat(), EConvertError);
  p.NextToken(false);
  EXPECT_EQ(p.TokenInt(), 16);
  p.NextToken(false);
  try {
    p.TokenInt();
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'abc' is not a valid integer value");
  }
  // Words the number conversion would otherwise read as infinities or NaN.
  for (const char* text : {"inf", "nan", "infinity", "-inf", "+nan", "0x1p3"}) {
    SCOPED_TRACE(text);
    p.Restart(text);
    p.NextToken(false);
    EXPECT_THROW(p.TokenFloat(), EConvertError);
  }
  p.Restart("1e308 12.5d");
  p.NextToken(false);
  EXPECT_EQ(p.TokenFloat(), 1e308);
  p.NextToken(false);
  EXPECT_EQ(p.TokenFloat(), 12.5);
}

// With BackslashEscapes off (a NO_BACKSLASH_ESCAPES session) a backslash
// is an ordinary character inside a string: the quote after it ends it.
TEST(Tokenizer, StringsWithoutBackslashEscapes) {
  auto scan = [](const std::string& text) {
    TBasicParser p(text);
    Configure(p);
    p.BackslashEscapes = false;
    Tokens out;
    while (p.NextToken(false) != tkEnd) out.emplace_back(p.Token.Kind, p.Token.Text);
    return out;
  };
  EXPECT_EQ(scan(R"('a\' [m] 'b''c')"),
            (Tokens{{tkString, R"('a\')"}, {tkMacro, "[m]"}, {tkString, "'b'"}, {tkString, "'c'"}}));
  EXPECT_EQ(scan(R"("x\" y)"), (Tokens{{tkString, R"("x\")"}, {tkSymbol, "y"}}));
  // The same text with backslash escapes is one unterminated string.
  EXPECT_EQ(Scan(R"('a\' [m])"), (Tokens{{tkString, R"('a\' [m])"}}));
}

TEST(Tokenizer, Strings) {
  EXPECT_EQ(Scan(R"('it\'s' "a""b")"),
            (Tokens{{tkString, R"('it\'s')"}, {tkString, "\"a\""}, {tkString, "\"b\""}}));
  // A doubled backslash is one escaped backslash: the quote after it ends.
  EXPECT_EQ(Scan(R"('a\\' x)"), (Tokens{{tkString, R"('a\\')"}, {tkSymbol, "x"}}));
  // Semicolons and comment markers inside strings are string text.
  EXPECT_EQ(Scan("'a;-- b#/*'"), (Tokens{{tkString, "'a;-- b#/*'"}}));
  // Unterminated: ends at the line break, or at the end of the text.
  EXPECT_EQ(Scan("'abc\nx"), (Tokens{{tkString, "'abc"}, {tkLineBreak, " "}, {tkSymbol, "x"}}));
  EXPECT_EQ(Scan("'abc\r\nx"),
            (Tokens{{tkString, "'abc"}, {tkLineBreak, " "}, {tkSymbol, "x"}}));
  EXPECT_EQ(Scan("\"abc"), (Tokens{{tkString, "\"abc"}}));
  // A lone backslash at the very end.
  EXPECT_EQ(Scan("'ab\\"), (Tokens{{tkString, "'ab\\"}}));
  // A string closed on a later line keeps its line breaks.
  EXPECT_EQ(Scan("'a\nb;' c"), (Tokens{{tkString, "'a\nb;'"}, {tkSymbol, "c"}}));
  // Several open strings in a row, each ending at its own line.
  EXPECT_EQ(Scan("'a\n\\'b\n\\'c"),
            (Tokens{{tkString, "'a"}, {tkLineBreak, " "}, {'\\', "\\"}, {tkString, "'b"},
                    {tkLineBreak, " "}, {'\\', "\\"}, {tkString, "'c"}}));
}

// Every later string of a quote that was once found open to the end of the
// text is open too; finding that again for each of them would make the scan
// quadratic.
TEST(Tokenizer, ManyOpenStringsStayLinear) {
  std::string text = "'";
  for (int i = 0; i < 200000; ++i) text += "\\'x\n";
  auto start = std::chrono::steady_clock::now();
  TBasicParser p(text);
  size_t strings = 0;
  while (p.NextToken(false) != tkEnd) strings += p.Token.Kind == tkString;
  EXPECT_EQ(strings, 200000u);  // the first one takes in "\\'x"
  TStringList lines;
  lines.SetText(text);
  ParseScript(lines);
  EXPECT_EQ(lines.Count(), 1);
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 10.0);
}

TEST(Tokenizer, NamesAndMacros) {
  EXPECT_EQ(Scan("`a b;c` `open"), (Tokens{{tkSymbol, "`a b;c`"}, {tkSymbol, "`open"}}));
  EXPECT_EQ(Scan("[a b]"), (Tokens{{tkMacro, "[a"}, {tkSymbol, "b"}, {tkMacro, "]"}}));
  EXPECT_EQ(Scan("[$FIELDS][x;y] [open"),
            (Tokens{{tkMacro, "[$FIELDS]"}, {tkMacro, "[x;y]"}, {tkMacro, "[open"}}));
  // Paired by index; a start without an end runs to the next blank.
  TBasicParser p("{{a}} <<b");
  p.MacroStarts.SetCommaText("{{,<<");
  p.MacroEnds.SetCommaText("}}");
  EXPECT_EQ(p.NextToken(false), tkMacro);
  EXPECT_EQ(p.Token.Text, "{{a}}");
  EXPECT_EQ(p.NextToken(false), tkMacro);
  EXPECT_EQ(p.Token.Text, "<<b");
}

TEST(Tokenizer, Comments) {
  EXPECT_EQ(Scan("-- note"), (Tokens{{tkLineComment, "-- note"}}));
  EXPECT_EQ(Scan("--note"),
            (Tokens{{tkOperator, "-"}, {tkOperator, "-"}, {tkSymbol, "note"}}));
  EXPECT_EQ(Scan("a # x;y\r\nb"),
            (Tokens{{tkSymbol, "a"}, {tkLineComment, "# x;y"}, {tkLineBreak, " "},
                    {tkSymbol, "b"}}));
  // "--" right before a line break, a tab or the end is a comment as well.
  EXPECT_EQ(Scan("--\nx --\ty --"),
            (Tokens{{tkLineComment, "--"}, {tkLineBreak, " "}, {tkSymbol, "x"},
                    {tkLineComment, "--\ty --"}}));
  EXPECT_EQ(Scan("a/* x;\n y */b */"), (Tokens{{tkSymbol, "a"}, {tkBlockComment, "/* x;\n y */"},
                                             {tkSymbol, "b"}, {tkCommentEnd, "*/"}}));
  EXPECT_EQ(Scan("/* open"), (Tokens{{tkBlockComment, "/* open"}}));
  // A block comment does not count its lines; skipped line feeds do.
  TBasicParser p("/*\n*/\n\nx");
  Configure(p);
  p.NextToken(true);
  p.NextToken(true);
  EXPECT_EQ(p.Line, 2);
}

TEST(Tokenizer, LineBreaks) {
  TBasicParser p("a\nb");
  EXPECT_EQ(p.NextToken(false), tkSymbol);
  EXPECT_EQ(p.NextToken(false), tkLineBreak);
  EXPECT_EQ(p.Token.Text, " ");
  EXPECT_EQ(p.Token.Position, 1);
  EXPECT_EQ(p.NextToken(false), tkSymbol);
  EXPECT_EQ(p.Line, 0);
  p.Restart("a\r\nb");
  p.NextToken(true);
  EXPECT_EQ(p.NextToken(true), tkSymbol);
  EXPECT_EQ(p.Line, 1);
  EXPECT_EQ(p.Token.Position, 3);
}

TEST(Tokenizer, ControlCharactersAndNul) {
  // NUL and other control characters between tokens are blanks; inside
  // strings they are kept.
  const std::string text("a\0b\t'x\0y'\x01", 10);
  Tokens t = Scan(text);
  EXPECT_EQ(t, (Tokens{{tkSymbol, "a"}, {tkSymbol, "b"}, {tkString, std::string("'x\0y'", 5)}}));
  // Bytes above 127 are single-character tokens of their own kind.
  TBasicParser p("\xC3\xA9");
  EXPECT_EQ(p.NextToken(false), TTokenKind(0xC3));
  EXPECT_EQ(p.NextToken(false), TTokenKind(0xA9));
  EXPECT_EQ(p.NextToken(false), tkEnd);
}

TEST(Tokenizer, BlankAfterToken) {
  TBasicParser p("a b\tc\nd\re\r\nf");
  std::vector<bool> blanks;
  while (p.NextToken(false) != tkEnd)
    if (p.Token.Kind == tkSymbol) blanks.push_back(p.BlankAfterToken());
  EXPECT_EQ(blanks, (std::vector<bool>{true, true, false, true, false, false}));
}

TEST(Tokenizer, TokenAtPosition) {
  TBasicParser p("select a, bb from t");
  Configure(p);
  p.TokenAtPosition(11);  // inside "bb"
  EXPECT_EQ(p.GetTokenInRegion(tpPrevious).Text, ",");
  EXPECT_EQ(p.GetTokenInRegion(tpCurrent).Text, "bb");
  EXPECT_EQ(p.GetTokenInRegion(tpCurrent).Position, 10);
  EXPECT_EQ(p.GetTokenInRegion(tpNext).Text, "from");

  p.Restart("select a");
  p.TokenAtPosition(0);
  EXPECT_EQ(p.GetTokenInRegion(tpPrevious).Kind, TTokenKind('c'));
  EXPECT_EQ(p.GetTokenInRegion(tpCurrent).Text, "select");
  EXPECT_EQ(p.GetTokenInRegion(tpNext).Text, "a");

  // At the end: no next token.
  p.Restart("ab");
  p.TokenAtPosition(100);
  EXPECT_EQ(p.GetTokenInRegion(tpPrevious).Text, "ab");
  EXPECT_EQ(p.GetTokenInRegion(tpCurrent).Kind, tkEnd);
  EXPECT_EQ(p.GetTokenInRegion(tpNext).Kind, TTokenKind('c'));

  // A position before the current token leaves the region empty.
  p.Restart("a b c");
  p.NextToken(true);
  p.NextToken(true);
  p.TokenAtPosition(0);
  EXPECT_EQ(p.GetTokenInRegion(tpCurrent).Kind, TTokenKind('c'));
}

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EBasicParserError& e) {
    return e.Message();
  }
  return "(no error)";
}

TEST(Tokenizer, Errors) {
  TBasicParser p("'s'\nx\n;");
  Configure(p);
  p.NextToken(true);
  p.CheckToken(tkString);
  // A string token is never tkWideString: that kind is only a message.
  EXPECT_EQ(p.Token.Kind, tkString);
  EXPECT_EQ(ErrorOf([&] { p.CheckToken(tkString); }), "(no error)");
  EXPECT_EQ(ErrorOf([&] { p.CheckToken(tkSymbol); }), "Identifier expected on line 1");
  EXPECT_EQ(ErrorOf([&] { p.CheckToken(tkWideString); }), "String expected on line 1");
  EXPECT_EQ(ErrorOf([&] { p.CheckToken(tkFloat); }), "Number expected on line 1");
  EXPECT_EQ(ErrorOf([&] { p.CheckToken(TTokenKind('(')); }), "''('' expected on line 1");
  // Kinds stored as control bytes are named, never printed as the byte.
  EXPECT_EQ(ErrorOf([&] { p.CheckToken(tkSemicolon); }), "'';'' expected on line 1");
  EXPECT_EQ(ErrorOf([&] { p.CheckToken(tkEnd); }), "''end of text'' expected on line 1");
  EXPECT_EQ(ErrorOf([&] { p.CheckToken(tkLineBreak); }), "''line break'' expected on line 1");
  EXPECT_EQ(ErrorOf([&] { p.CheckToken(TTokenKind(0xC3)); }), "''#195'' expected on line 1");
  p.NextToken(true);
  EXPECT_TRUE(p.TokenSymbolIs("X"));
  p.CheckTokenSymbol("x");
  EXPECT_EQ(ErrorOf([&] { p.CheckTokenSymbol("FROM"); }), "FROM expected on line 2");
  p.NextToken(true);
  EXPECT_FALSE(p.TokenSymbolIs(";"));
  EXPECT_EQ(ErrorOf([&] { p.Error("Bad"); }), "Bad on line 3");
  EXPECT_EQ(ErrorOf([&] { p.ErrorStr("Worse"); }), "Worse on line 3");
  EXPECT_EQ(ErrorOf([&] { p.ErrorFmt("%s %d", "n", 7); }), "n 7 on line 3");
  // The common base of the library's exceptions.
  EXPECT_THROW(p.Error("x"), Exception);
}

}  // namespace
}  // namespace rowset
