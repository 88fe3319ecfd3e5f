// The SQL tokenizer and the script splitter.
//
// TBasicParser cuts SQL text into tokens: words, quoted strings, numbers,
// hexadecimal literals, operators, comments, delimited macro tokens,
// semicolons, line breaks and single characters. Its operators, comment
// markers and macro delimiters are lists that each user fills; the script
// functions below and the datasets' SQL templates configure it differently.
// The tokenizer never fails on input and never reads outside its text:
// unterminated strings, comments, names and macros simply end. Only the
// Check*/Error* calls raise, always EBasicParserError ("... on line N").
//
// How a few hard cases read, as the server reads them:
// - A quoted string runs to its closing quote, across line breaks; one that
//   is never closed ends at its first line break.
// - A line-comment marker that ends in a blank ("-- ") also matches when a
//   line break, another control character or the end of the text stands in
//   place of that blank.
// - Between tokens, NUL and the other control characters are blanks.
//
// SplitScript cuts a script text into its statements; ParseScript does the
// same for a string list (one statement per entry); GetScriptType
// classifies a script by its first words.
#ifndef ROWSET_PARSER_MYSQLPARSER_H_
#define ROWSET_PARSER_MYSQLPARSER_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/Classes.h"
#include "host/Exceptions.h"

namespace rowset {

class EBasicParserError : public Exception {
 public:
  using Exception::Exception;
};

// A token kind is one byte. The named kinds are below; a character that
// starts no other token is its own kind (so '(' has kind 40 and a byte of
// 0xC3 has kind 0xC3). Compare bytes above 127 as TTokenKind(uint8_t(c)).
// Before the first token (after Restart) the kind is the character 'c' (99).
enum TTokenKind : uint8_t {
  tkEnd = 0,           // end of the text
  tkSymbol = 1,        // word or back-quoted name
  tkString = 2,        // single- or double-quoted string, quotes included
  tkInteger = 3,       // digits
  tkFloat = 4,         // number with fraction, exponent or type suffix
  tkWideString = 5,    // never produced; only named by CheckToken
  tkHex = 6,           // hexadecimal prefix and the digits after it
  tkOperator = 7,      // an entry of Operators
  tkLineComment = 8,   // a line comment, without its line break
  tkBlockComment = 9,  // a block comment, both markers included
  tkLineBreak = 10,    // a line feed when breaks are not skipped; text " "
  tkCommentEnd = 11,   // a block-comment end marker standing alone
  tkSemicolon = 12,    // ";"
  tkMacro = 13,        // a delimited macro, or a macro end marker alone
};

struct TTokenProps {
  int64_t Position = 0;  // offset of the first character, from 0
  std::string Text;
  TTokenKind Kind = TTokenKind('c');

  void Assign(const TTokenProps& Source) { *this = Source; }
};

enum TTokenPosition { tpPrevious, tpCurrent, tpNext };

// A string list that tells its parser when it changes, so that the parser
// can keep a prepared copy of its markers instead of reading the lists
// entry by entry for every token.
class TParserStrings : public TStringList {
 public:
  explicit TParserStrings(uint64_t* generation) : generation_(generation) {}

 protected:
  void Changing() override;
  void Changed() override;

 private:
  uint64_t* generation_;
};

class TBasicParser {
 public:
  explicit TBasicParser(std::string Text = std::string());
  TBasicParser(const TBasicParser&) = delete;
  TBasicParser& operator=(const TBasicParser&) = delete;
  ~TBasicParser();

  // Starts over on a new text: position 0, Line 0, Token = (0, "", 'c').
  void Restart(std::string Text);

  // Reads with the markers of Configured (its marker lists and HexPrefix as
  // they stand now), so that parsers made often with the same markers
  // prepare them once: the prepared form is shared when Configured has read
  // a token since its lists last changed, else prepared here. This parser's
  // own lists are not filled: they stay as they are, unused until one of
  // them changes, which makes them the markers again. Configured may be
  // destroyed afterwards.
  // REQUIRES: no other thread changes Configured meanwhile.
  void UseMarkersOf(const TBasicParser& Configured);

  // Reads the next token into Token and returns its kind. With
  // SkipLineBreaks false a line feed is a token of its own (tkLineBreak).
  TTokenKind NextToken(bool SkipLineBreaks);
  // Advances over blanks and control characters (codes 0 to 32); a line feed
  // stops it unless SkipLineBreaks, in which case Line counts it.
  void SkipBlanks(bool SkipLineBreaks);

  const std::string& TokenString() const { return Token.Text; }
  // The token as a 64-bit integer (decimal, or hexadecimal after "0x" or
  // "$"); EConvertError when it is none.
  int64_t TokenInt() const;
  // The token without its type suffix as a floating-point number;
  // EConvertError when it is none.
  double TokenFloat() const;
  // True when the token is a word equal to S, ignoring letter case.
  bool TokenSymbolIs(const std::string& S) const;
  int64_t SourcePos() const { return Token.Position; }

  // Continues reading at Position, a place at or after the current token's
  // start; positions beyond the text read as its end.
  void SkipTo(int64_t Position);
  // Moves to the next line feed (which stays unread) or the end of the text.
  void SkipLine();

  // True when a blank follows the current token in the text: the rule by
  // which token texts are joined back into statements. A blank is a space,
  // or a control character other than a line break (a lone carriage return,
  // not followed by a line feed, separates as well).
  bool BlankAfterToken() const;

  void CheckToken(TTokenKind Kind);
  void CheckTokenSymbol(const std::string& S);
  [[noreturn]] void Error(const std::string& Message);
  [[noreturn]] void ErrorStr(const std::string& Message);
  [[noreturn]] void ErrorFmt(const char* Format, ...)
      __attribute__((format(printf, 2, 3)));

  // Fills Region with the tokens before, at and after the text position P,
  // reading on from the current token (skipping line breaks).
  void TokenAtPosition(int64_t P);
  const TTokenProps& GetTokenInRegion(TTokenPosition Which) const {
    return Region[Which];
  }

  // The text being tokenized.
  const std::string& Text() const { return text_; }
  // Gives the text back (the parser is then at the end of an empty text).
  std::string TakeText() {
    std::string t = std::move(text_);
    Restart(std::string());
    return t;
  }
  // Where the first quoted string that found no closing quote up to the end
  // of the text starts; SIZE_MAX when every string read so far was closed.
  // Such a string's extent depends on the end of the text (more text may
  // close it), which a reader of a partial text needs to know.
  size_t OpenStringStart() const { return open_single_ < open_double_ ? open_single_ : open_double_; }

 private:
  uint64_t generation_ = 1;  // bumped by every change of the lists below

 public:
  // Markers, filled by the user; all empty after construction. Entries are
  // tried in list order, so an earlier operator wins over a longer later
  // one. CommentStarts/CommentEnds and MacroStarts/MacroEnds pair by index.
  // Empty entries are ignored.
  TParserStrings Operators{&generation_};
  std::string HexPrefix;  // 1 or 2 characters are recognised
  TParserStrings LineComments{&generation_};
  TParserStrings CommentStarts{&generation_};
  TParserStrings CommentEnds{&generation_};
  TParserStrings MacroStarts{&generation_};
  TParserStrings MacroEnds{&generation_};

  // Whether a backslash inside a quoted string escapes the next character,
  // as it does unless the session has NO_BACKSLASH_ESCAPES (then it is an
  // ordinary character and only a doubled quote stands for a quote).
  bool BackslashEscapes = true;

  TTokenProps Token;
  TTokenProps Region[3];
  int64_t Line = 0;     // line feeds skipped so far
  char FloatType = 0;   // type suffix of the last number token, or 0

 private:
  struct Markers;
  void Prepare();
  static std::shared_ptr<const Markers> PrepareFrom(const TBasicParser& P);
  bool At(size_t P, const std::string& Marker) const;
  size_t OperatorAt(size_t P) const;
  bool LineCommentAt(size_t P, const std::string& Marker, size_t& From) const;
  void ScanString(char Quote);

  std::string text_;
  size_t pos_ = 0;          // current position
  size_t token_start_ = 0;  // start of the token being read
  size_t token_end_ = 0;    // end of the current token
  // Start of the earliest string (per quote character) found to have no
  // closing quote up to the end of the text: every later string of that
  // quote character has none either, so it is not searched for again.
  size_t open_single_ = SIZE_MAX;
  size_t open_double_ = SIZE_MAX;
  std::shared_ptr<const Markers> markers_;
  uint64_t prepared_generation_ = 0;
};

// Cuts a script into its statements, each with its own ";" (the last one
// may lack it), without comments. The token texts are joined: a line break
// between tokens becomes one blank, and one blank follows each token that a
// blank follows in the script (so an indented line adds two); a comment
// between two tokens leaves one blank. Every byte inside a token is kept as
// it stands, so a line break inside a quoted string stays exactly the line
// break the script holds (LF, CR or CRLF). Semicolons inside strings,
// back-quoted names, macros and comments do not split statements. Empty
// statements (a lone ";") are not kept.
//
// Two things a plain reading of "drop comments" would lose are kept, so that
// a script written by mariadb-dump replays as it was dumped:
// - Comments that the server executes ("/*!", "/*M!" version comments and
//   "/*+" optimizer hints) are statement text like any other token; standing
//   alone before ";" they are a statement of their own.
// - A line "DELIMITER xx" at the start of a statement is the client command
//   of that name: it is not sent, and until the next such line a statement
//   ends where a token starts with "xx" instead of at ";" (the delimiter
//   itself is then not part of the statement; ";" is ordinary text).
std::vector<std::string> SplitScript(std::string_view Script);
// The same, and in StartLines the line (from 1) on which each statement's
// first token stands in the script, one entry per statement.
std::vector<std::string> SplitScript(std::string_view Script, std::vector<int64_t>* StartLines);
// The same for a session in which backslashes in strings escape or not
// (false under NO_BACKSLASH_ESCAPES: a string then ends at its first
// single quote even after a backslash).
std::vector<std::string> SplitScript(std::string_view Script, std::vector<int64_t>* StartLines,
                                     bool BackslashEscapes);

// One statement of a script as TScriptSplitter hands it out: its text as
// SplitScript gives it, and the line (from 1) of the script on which it
// starts.
struct TScriptStatement {
  std::string Text;
  int64_t Line = 0;
  // Where the statement's end lies in the text fed so far (the offset of
  // the byte after its delimiter), and the delimiter in force after it.
  uint64_t End = 0;
  std::string Delimiter = ";";
};

// SplitScript over a script that arrives in pieces (a file or a pipe read
// block by block): each statement is handed out as soon as the text read so
// far settles it, and only the text from the start of the first unfinished
// statement is held (the window), never the whole script. The statements
// and their texts are exactly those SplitScript gives for the whole text.
//
// A statement is settled when its end (";" or the DELIMITER word) has been
// read and nothing before that end could change with more text: a quoted
// string that finds no closing quote in the window holds everything from
// it back until the quote arrives (or the script ends), and a DELIMITER line
// counts only once its line break has been read. A statement that runs
// over many pieces is split again only when the window has doubled, or when
// a piece holds the delimiter while the window is below 8 MB, so that the
// work stays linear in the script's length.
//
// A plain statement (outside its quoted strings and names only single
// blanks or single line feeds between words, no other control characters,
// comments or macros) joins to its own text with those line feeds made
// blanks, so it is taken so after a quick scan; the tokenizer handles every
// other statement.
//
// Flow: Feed each piece in order, then Finish once. Not thread-safe.
class TScriptSplitter {
 public:
  // TokenizeAll: every statement through the tokenizer, without the quick
  // scan (the reference that the quick scan agrees with).
  explicit TScriptSplitter(bool TokenizeAll = false) : tokenize_all_(TokenizeAll) {}

  // Whether a backslash escapes the next byte inside a string, as the
  // session's NO_BACKSLASH_ESCAPES state says (default true). Applies to
  // the text not yet handed out; a caller that runs the statements sets it
  // again when a statement changes the session's sql_mode.
  void SetBackslashEscapes(bool Value) { backslash_escapes_ = Value; }
  bool BackslashEscapes() const { return backslash_escapes_; }

  // Adds the next piece of the script; appends to Out each statement that
  // the text so far settles, in order.
  void Feed(std::string_view Piece, std::vector<TScriptStatement>& Out);
  // The end of the script: appends the statements still held.
  void Finish(std::vector<TScriptStatement>& Out);
  // Feeds Last, the script's last piece, and finishes: the statements of a
  // whole script in one split.
  void Finish(std::string_view Last, std::vector<TScriptStatement>& Out);
  // Splits again after the statement After, one that the last Feed or
  // Finish handed out: the statements it handed out after that one are
  // taken back, and the next Feed (an empty piece will do) or Finish hands
  // them out again as the splitter's settings now say. For a caller that
  // runs each statement before the next and finds that one changed how
  // strings end (SetBackslashEscapes). Raises std::logic_error for any
  // other statement.
  void Rewind(const TScriptStatement& After);
  // Bytes of the script not handed out yet.
  size_t Held() const { return window_.size() - consumed_; }

 private:
  // Splits the window; with Final false only settled statements are taken.
  // Drops the text taken from the window.
  void Split(bool Final, std::vector<TScriptStatement>& Out);
  // Forgets the text handed out by the last split.
  void Drop();

  std::string window_;   // from the end of the last statement handed out
                         // before the last split
  size_t consumed_ = 0;  // bytes of the window that split handed out
  uint64_t base_ = 0;    // offset of the window's first byte in the script
  std::string acc_;  // the statement being joined; its room is kept
  std::string delimiter_ = ";";
  bool tokenize_all_;
  bool backslash_escapes_ = true;
  int64_t line_ = 1;    // line of the first byte not handed out
  size_t tried_ = 0;    // window size at the last split that settled nothing
};

// Replaces the lines by the statements of the script they hold (their text,
// lines joined with "\r\n"), one per entry, as SplitScript cuts them. The
// list changes only when the whole script has been split. A sorted list is
// refused with EStringListError and left as it was: sorting would reorder
// the statements and drop repeated ones.
void ParseScript(TStrings& Lines);

// "NONE", "SELECT", "DELETE", "INSERT", "REPLACE", "LOAD", "UPDATE" or
// "SCRIPT". A statement's type is its first word when that is one of these
// ("SCRIPT" for SET, CREATE and DROP), else "NONE". The script's type is
// that of its first statement with a type other than "NONE", or "SCRIPT"
// when any statement follows that one. The text after the last ";" counts
// as a statement too, so "select 1;" is "SCRIPT".
std::string GetScriptType(const TStrings& Lines);

}  // namespace rowset

#endif  // ROWSET_PARSER_MYSQLPARSER_H_
