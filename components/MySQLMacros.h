// SQL templates and macros of the datasets.
//
// Every statement a dataset sends is a template: its select text (SQL) and
// its change templates (SQLUpdate, SQLInsert, SQLDelete, SQLBatch) hold
// macros, names between MacroStart and MacroEnd ("[" and "]" by default).
// SQLPopulate replaces each macro by its text (GetMacroValue) just before
// the statement is sent, and inserts the master/filter condition into a
// select. The member functions live on TMySQLDatasetBase
// (components/MySQLDataset.h); this unit adds the literal functions.
//
// Macros are found by the SQL tokenizer (parser/MySQLParser.h), so a
// delimiter inside a string literal, a back-quoted name or a comment is no
// macro. A macro's name is its first word; names starting with "$" are the
// built-in macros, compared with letter case ("$tablename" is a user macro).
// Unknown names expand to nothing; macros never raise.
//
// Values. Every value taken from a record, the master dataset or a typed
// user macro is written as a literal escaped by the connection (so it
// follows the session's NO_BACKSLASH_ESCAPES state), or in hexadecimal. The
// tokenizer reads the templates' literals by the same session state. A
// user macro of a string type is raw SQL by design (see Macros in
// MySQLDataset.h).
//
// Where this departs from the obvious literal reading, for soundness:
// - An empty value (blob, memo or text) is written '' ; only NULL is NULL.
// - A NULL old value in a key condition is written "(col IS NULL)", so rows
//   holding NULLs in a table without a primary key can still be matched.
// - Key conditions take every type (FLOAT and DOUBLE compared as the
//   server's text, blobs and memos by value, binary values over 1 KiB by
//   LENGTH and CRC32 so that the condition does not double the statement,
//   BIT as b'...'), and
//   "$PRIMARYFIELDS&VALUES" is built from a complete key only, with the
//   held values of the columns an edit changed; "$TABLENAME" is the edited
//   table's own name, never an alias. See the editing notes in
//   MySQLDataset.h.
// - Binary blobs (and blob macros) are written as _binary'...' literals
//   escaped for the session (with NO_BACKSLASH_ESCAPES only quotes are
//   doubled and other bytes, NUL included, go as they are), so a statement
//   is about as long as its values; hexadecimal would double it (a 40 MiB
//   blob would not fit a 64 MiB max_allowed_packet). Hexadecimal only where
//   the connection's character set cannot carry arbitrary bytes in a
//   literal (big5, cp932, gbk, gb18030, sjis: a lead byte there can take
//   the escaping backslash or the closing quote as its second byte) or is
//   not known. Statements are therefore never cut at a NUL byte. Memo (text
//   blob) values are escaped strings like other texts, so the server
//   converts their character set back as it converted them for reading.
// - A text holding a NUL byte is written in hexadecimal: no escaping mode
//   can then cut it or hand the server a raw NUL. (Its bytes are then taken
//   without character set conversion.)
// - A line comment copied by the expansion would swallow the rest of the
//   statement once its line break became a blank; line comments are
//   dropped instead (block comments are kept).
// - The condition is inserted only at the outer level of a select (never
//   into a subquery), before a ";" that ends the statement, and an existing
//   where condition is put in parentheses: "where C and (a=1 or b=2)", so an
//   OR in it cannot bypass the master or filter condition. When the
//   outer level is never found again (unbalanced parentheses, a string the
//   tokenizer reads longer than the server does) the condition is appended
//   at the end, so the server rejects the statement rather than run it
//   without the condition.
// - Changing MacroDel rewrites the delimiters of macro tokens only, both in
//   one pass, so swapped delimiters stay distinct and literals stay as they
//   are.
// - Typed user macros: Largeint through 64 bits, currency and BCD like
//   floats ("." and the shortest exact digits whatever the locale), dates
//   and times in ISO form whatever the locale's separators, a variant's
//   text escaped before it is quoted, and a NULL typed value as NULL.
// - The lists take a text that differs from the current one only in letter
//   case (a changed literal is a change), and are stored whenever they
//   differ from their default in any way.
// - The detail names of the master condition are quoted as identifiers
//   where the identifier rules require it (a plain name stays as written).
#ifndef ROWSET_COMPONENTS_MYSQLMACROS_H_
#define ROWSET_COMPONENTS_MYSQLMACROS_H_

#include <string>
#include <string_view>

namespace rowset {

// "0x" and two upper-case hexadecimal digits per byte, in byte order;
// "NULL" for an empty Data.
std::string HexStr(std::string_view Data);
// As above, for Length bytes at Data ("NULL" when Length is below 1).
inline std::string HexStr(const char* Data, long Length) {
  return Length < 1 || Data == nullptr ? std::string("NULL")
                                       : HexStr(std::string_view(Data, static_cast<size_t>(Length)));
}
// "'" + S + "'"; escapes nothing (escape first).
std::string QuoteStr(const std::string& S);

// The default select template for the delimiters S and E.
std::string DefaultSelectText(const std::string& S, const std::string& E);
// The default update template: the table, the changed columns, the key.
std::string DefaultUpdateText(const std::string& S, const std::string& E);
// The default insert template: the table and the changed columns.
std::string DefaultInsertText(const std::string& S, const std::string& E);
// The default delete template: the table and the key.
std::string DefaultDeleteText(const std::string& S, const std::string& E);

// The placeholders a statement carries where a table name or a key
// condition cannot be built; the server then rejects the statement.
inline constexpr const char* kNoTableNamePlaceholder = "PleaseSpecifyATableNameProperty";
// The placeholder for a key condition (see above).
inline constexpr const char* kNoKeyPlaceholder =
    "PleaseMakeSureYourTableHasAPrimaryKeyWhichIsPartOfTheSelectORSpecifyTheFieldNamePropertyForTheDataset";

}  // namespace rowset

#endif  // ROWSET_COMPONENTS_MYSQLMACROS_H_
