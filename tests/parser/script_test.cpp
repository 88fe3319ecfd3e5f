// Script splitting and classification.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "parser/MySQLParser.h"

namespace rowset {
namespace {

std::vector<std::string> Split(const std::vector<std::string>& lines) {
  TStringList l;
  for (const std::string& s : lines) l.Add(s);
  ParseScript(l);
  return l.ToVector();
}

using V = std::vector<std::string>;

std::string TypeOf(const std::vector<std::string>& lines) {
  TStringList l;
  for (const std::string& s : lines) l.Add(s);
  return GetScriptType(l);
}

TEST(ParseScript, StatementsPerLineWithoutComments) {
  EXPECT_EQ(Split({"select * from t; -- all", "update t set a=1;"}),
            (V{"select * from t;", "update t set a=1;"}));
  EXPECT_EQ(Split({"insert into t values ('a;b', \"c;\\\"d\");", "select 1"}),
            (V{"insert into t values ('a;b', \"c;\\\"d\");", "select 1"}));
  EXPECT_EQ(Split({"select `a;b` from t where [x;y]=1; /* ; */ # ;", "select 2 -- ;"}),
            (V{"select `a;b` from t where [x;y]=1;", "select 2"}));
  EXPECT_EQ(Split({"-- only", "/* comments", "here */", "# and here"}), V{});
  EXPECT_EQ(Split({}), V{});
  EXPECT_EQ(Split({"   ", ""}), V{});
}

TEST(ParseScript, JoinsLinesAndBlanks) {
  EXPECT_EQ(Split({"SELECT", "a,", "b", "FROM t"}), V{"SELECT a, b FROM t"});
  // Blanks after a line break are kept: indentation adds them.
  EXPECT_EQ(Split({"SELECT", "  a", "FROM t"}), V{"SELECT  a FROM t"});
  // Runs of blanks between tokens become one.
  EXPECT_EQ(Split({"select    1  ,2"}), V{"select 1 ,2"});
  EXPECT_EQ(Split({"  select 1 ;  select 2;  "}), (V{"select 1 ;", "select 2;"}));
  // Token texts are kept as they are.
  EXPECT_EQ(Split({"select 0x1F,1.5e-3,'x' 'y',\"q\\\\\"from`t`"}),
            V{"select 0x1F,1.5e-3,'x' 'y',\"q\\\\\"from`t`"});
  // Tabs and comments between tokens still separate them.
  EXPECT_EQ(Split({"select\t1\tfrom/**/t/* x */where a=1"}), V{"select 1 from t where a=1"});
  // A string closed on a later line keeps its line break.
  EXPECT_EQ(Split({"insert into t values ('a", "b;c');"}),
            V{"insert into t values ('a\r\nb;c');"});
}

TEST(SplitScript, KeepsTheBytesOfStrings) {
  // Each line end inside a literal stays the one the script holds.
  EXPECT_EQ(SplitScript("insert into t values ('a\nb');\ninsert into t values ('c\rd')"),
            (V{"insert into t values ('a\nb');", "insert into t values ('c\rd')"}));
  EXPECT_EQ(SplitScript("select 'x\r\n;y',\n\"q\n\";"), V{"select 'x\r\n;y', \"q\n\";"});
  // A list item holding a line feed keeps it through ParseScript too.
  EXPECT_EQ(Split({"insert into t values ('a\nb');"}), V{"insert into t values ('a\nb');"});
  // NUL and high bytes inside a literal pass unchanged.
  const std::string odd = std::string("select '\0\xff\x01';", 13);
  EXPECT_EQ(SplitScript(odd), V{odd});
  EXPECT_EQ(SplitScript(""), V{});
}

TEST(SplitScript, ExecutableCommentsAreStatementText) {
  EXPECT_EQ(SplitScript("/*!40101 SET NAMES utf8mb4 */;\n"
                        "/* dropped */ select /*+ MAX_EXECUTION_TIME(1) */ 1;\n"
                        "CREATE TABLE /*!32312 IF NOT EXISTS*/ t (a int);\n"
                        "/*M!100616 SET @x=1 */;"),
            (V{"/*!40101 SET NAMES utf8mb4 */;", "select /*+ MAX_EXECUTION_TIME(1) */ 1;",
               "CREATE TABLE /*!32312 IF NOT EXISTS*/ t (a int);", "/*M!100616 SET @x=1 */;"}));
  // A comment holding ";" is one token and splits nothing.
  EXPECT_EQ(SplitScript("/*!50003 CREATE TRIGGER tr BEFORE INSERT ON t FOR EACH ROW SET NEW.a=';' */;"),
            V{"/*!50003 CREATE TRIGGER tr BEFORE INSERT ON t FOR EACH ROW SET NEW.a=';' */;"});
}

TEST(SplitScript, DelimiterCommand) {
  const std::string script =
      "DELIMITER ;;\n"
      "/*!50003 CREATE*/ /*!50003 TRIGGER tr BEFORE INSERT ON t FOR EACH ROW\n"
      "BEGIN SET NEW.a = 1; SET NEW.b = 2; END */;;\n"
      "DELIMITER ;\n"
      "select 1; delimiter //\n"
      "create procedure p() begin select 1; end//\n"
      "delimiter ;\n"
      "select 2;";
  EXPECT_EQ(SplitScript(script),
            (V{"/*!50003 CREATE*/ /*!50003 TRIGGER tr BEFORE INSERT ON t FOR EACH ROW\nBEGIN SET NEW.a = 1; "
               "SET NEW.b = 2; END */",
               "select 1;", "create procedure p() begin select 1; end", "select 2;"}));
  // Only at the start of a statement, and only with a word after it.
  EXPECT_EQ(SplitScript("select delimiter ;;\nselect 1"), (V{"select delimiter ;", "select 1"}));
  EXPECT_EQ(SplitScript("delimiter;"), V{"delimiter;"});
}

TEST(SplitScript, StartLinesOfTheStatements) {
  // Line of each statement's first token: after blank lines and comments,
  // after a string that spans lines, behind a DELIMITER command.
  const std::string script =
      "select 1;\n"
      "\n"
      "-- a comment\n"
      "/* a block\n   comment */ select\n"
      " 'two\nlines' ; select 3;\n"
      "DELIMITER //\n"
      "select 4//\n"
      "\n"
      "  select 5";
  std::vector<int64_t> lines;
  const V statements = SplitScript(script, &lines);
  EXPECT_EQ(statements, SplitScript(script));
  ASSERT_EQ(statements.size(), 5u);
  EXPECT_EQ(lines, (std::vector<int64_t>{1, 5, 7, 9, 11}));
  SplitScript("", &lines);
  EXPECT_TRUE(lines.empty());
}

// The statements of Script fed to a splitter in pieces of Size bytes.
std::vector<std::string> SplitInPieces(const std::string& Script, size_t Size, bool TokenizeAll = false,
                                       bool BackslashEscapes = true) {
  TScriptSplitter splitter(TokenizeAll);
  splitter.SetBackslashEscapes(BackslashEscapes);
  std::vector<TScriptStatement> found;
  for (size_t i = 0; i < Script.size(); i += Size)
    splitter.Feed(std::string_view(Script).substr(i, Size), found);
  splitter.Finish(found);
  std::vector<std::string> texts;
  for (const TScriptStatement& s : found) texts.push_back(s.Text);
  return texts;
}

TEST(TScriptSplitter, PiecesGiveTheStatementsOfTheWholeText) {
  const std::vector<std::string> scripts = {
      "select * from t; -- all\nupdate t set a=1;",
      "insert into t values ('a;b', \"c;\\\"d\");\nselect 1",
      "insert into t values ('a\nb');\ninsert into t values ('c\rd')",
      "select 'x\r\n;y',\n\"q\n\";",
      "select 'open; select 2;\nselect 3; select \"x;\";",  // never closed: ends at its line break
      "DELIMITER ;;\n/*!50003 CREATE*/ /*!50003 TRIGGER tr BEFORE INSERT ON t FOR EACH ROW\n"
      "BEGIN SET NEW.a = 1; SET NEW.b = 2; END */;;\nDELIMITER ;\nselect 1; delimiter //\n"
      "create procedure p() begin select 1; end//\ndelimiter ;\nselect 2;",
      "select delimiter ;;\nselect 1",
      "; ; /* x */;select 1;;\n-- c\n#d\nselect 2 -- e",
      "select `a;b` from t; select [m;] ; select 1 /* ; */; select 2 --",
      "select 'a\\'; select 1;' ; select 3;",
      "select 1e-5; select 0x1f;select 'z'",
      // Plain statements and the near misses of the quick scan.
      "insert into t values (1,'a''b;',\"x\\\"y;\"),(2,`c``d;`); select 2;select 3 ;",
      "select  1; select\t2; select 3 \n; select 4 -1; select 5--1; select 6 --x\n;",
      "select 7 */ 1; select 8/*c*/; select 9 # c\n; select [m]; DELIMITER $\nselect 1$",
      "select 'a\nb;'; select \"\\\";\"; select 'x",
      "select 'open;\nselect 'closed;'; select 1;",
      "delimiter;\nselect 1;\n;;\n  ;select 2;",
  };
  for (const std::string& script : scripts) {
    const std::vector<std::string> whole = SplitInPieces(script, script.size() + 1, true);
    EXPECT_EQ(SplitScript(script), whole) << script;
    for (size_t size = 1; size <= script.size(); ++size)
      EXPECT_EQ(SplitInPieces(script, size), whole) << "pieces of " << size << " of: " << script;
  }
}

TEST(TScriptSplitter, QuickScanAgreesWithTheTokenizerOnRandomScripts) {
  // Scripts made of the pieces where the two could part: quotes, escapes,
  // names, comment markers, blanks, line breaks, delimiters.
  static const char* const kParts[] = {"select", " ", "  ", "\t", "\n", "\r\n", ";", "'", "\"", "`", "\\",
                                       "a", "1", "--", "-- ", "#", "/*", "*/", "/*!4 x*/", "[", "]", "-",
                                       "*", "/", ",", "(", ")", "delimiter ", "DELIMITER $$\n", "$$", "\xc3\xa9"};
  uint32_t seed = 12345;
  auto next = [&] {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) & 0x7fff;
  };
  for (int round = 0; round < 3000; ++round) {
    std::string script;
    const int parts = 1 + static_cast<int>(next() % 40);
    for (int i = 0; i < parts; ++i) script += kParts[next() % (sizeof kParts / sizeof *kParts)];
    for (const bool escapes : {true, false}) {
      const std::vector<std::string> reference = SplitInPieces(script, script.size() + 1, true, escapes);
      ASSERT_EQ(SplitScript(script, nullptr, escapes), reference) << script;
      const size_t size = 1 + next() % 8;
      ASSERT_EQ(SplitInPieces(script, size, false, escapes), reference)
          << "pieces of " << size << " of: " << script << (escapes ? "" : " (no backslash escapes)");
    }
  }
}

TEST(SplitScript, BackslashesFollowTheSessionsEscapeMode) {
  // With backslash escapes a backslash keeps the quote that follows it in
  // the string; under NO_BACKSLASH_ESCAPES the quote ends the string, and
  // the statement after it is a statement of its own.
  const std::string script = "insert into t values ('a\\'); insert into t values ('b');\nselect 'c\\\\';";
  EXPECT_EQ(SplitScript("select 'a\\';b'; select 2;"), (V{"select 'a\\';b';", "select 2;"}));
  EXPECT_EQ(SplitScript(script, nullptr, false),
            (V{"insert into t values ('a\\');", "insert into t values ('b');", "select 'c\\\\';"}));
  for (size_t size = 1; size <= script.size(); ++size)
    EXPECT_EQ(SplitInPieces(script, size, false, false), SplitScript(script, nullptr, false)) << size;
  // Doubled quotes stand for a quote in both modes.
  EXPECT_EQ(SplitScript("select 'x'';y'; select 2", nullptr, false), (V{"select 'x'';y';", "select 2"}));
}

TEST(TScriptSplitter, RewindSplitsTheRestAgainInTheNewMode) {
  const std::string script =
      "set sql_mode = 'NO_BACKSLASH_ESCAPES';\nDELIMITER //\nselect 'a\\'//\nselect 'b'//\n"
      "select 'c\\'//select 'd'//\n";
  for (size_t size : {script.size(), size_t{7}}) {
    TScriptSplitter splitter;
    std::vector<TScriptStatement> run, found;
    for (size_t i = 0; i < script.size(); i += size) {
      splitter.Feed(std::string_view(script).substr(i, size), found);
      for (size_t k = 0; k < found.size(); ++k) {
        run.push_back(found[k]);
        // The first statement changes the mode: the rest is split again.
        if (run.size() == 1) {
          splitter.SetBackslashEscapes(false);
          splitter.Rewind(found[k]);
          found.clear();
          splitter.Feed({}, found);
          k = static_cast<size_t>(-1);
        }
      }
      found.clear();
    }
    splitter.Finish(found);
    run.insert(run.end(), found.begin(), found.end());
    std::vector<std::string> texts;
    std::vector<int64_t> lines;
    for (const TScriptStatement& s : run) {
      texts.push_back(s.Text);
      lines.push_back(s.Line);
    }
    EXPECT_EQ(texts, (V{"set sql_mode = 'NO_BACKSLASH_ESCAPES';", "select 'a\\'", "select 'b'", "select 'c\\'",
                        "select 'd'"}))
        << size;
    EXPECT_EQ(lines, (std::vector<int64_t>{1, 3, 4, 5, 5})) << size;
    EXPECT_EQ(splitter.Held(), 0u);
    // Only a statement of the last split can be gone back to.
    EXPECT_THROW(splitter.Rewind(run[0]), std::logic_error);
  }
}

TEST(TScriptSplitter, HandsOutSettledStatementsAndHoldsOnlyTheRest) {
  TScriptSplitter splitter;
  std::vector<TScriptStatement> found;
  splitter.Feed("select 1;\nselect\n 2; sel", found);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].Text, "select 1;");
  EXPECT_EQ(found[0].Line, 1);
  EXPECT_EQ(found[1].Text, "select  2;");
  EXPECT_EQ(found[1].Line, 2);
  EXPECT_LE(splitter.Held(), 5u);
  // A string not closed yet holds its statement back until its quote comes.
  splitter.Feed("ect 'a;\nb'; select 'c;", found);
  EXPECT_EQ(found.size(), 3u);
  splitter.Feed("';\n", found);
  ASSERT_EQ(found.size(), 4u);
  EXPECT_EQ(found[2].Text, "select 'a;\nb';");
  EXPECT_EQ(found[2].Line, 3);
  EXPECT_EQ(found[3].Text, "select 'c;';");
  EXPECT_EQ(found[3].Line, 4);
  // A DELIMITER line counts once its line break is read.
  splitter.Feed("delimiter $", found);
  splitter.Feed("$\nselect 5; select 6$$", found);
  ASSERT_EQ(found.size(), 5u);
  EXPECT_EQ(found[4].Text, "select 5; select 6");
  EXPECT_EQ(found[4].Line, 6);
  splitter.Finish(found);
  EXPECT_EQ(found.size(), 5u);
}

TEST(TScriptSplitter, ALongScriptIsHeldOneStatementAtATime) {
  std::string script;
  for (int i = 0; i < 20000; ++i) script += "insert into t values (" + std::to_string(i) + ",'x;y');\n";
  TScriptSplitter splitter;
  std::vector<TScriptStatement> found;
  size_t most = 0, count = 0;
  for (size_t i = 0; i < script.size(); i += 4096) {
    splitter.Feed(std::string_view(script).substr(i, 4096), found);
    most = std::max(most, splitter.Held());
    count += found.size();
    found.clear();
  }
  splitter.Finish(found);
  count += found.size();
  EXPECT_EQ(count, 20000u);
  EXPECT_LT(most, 2 * 4096u);
}

TEST(ParseScript, EmptyStatementsAreDropped) {
  EXPECT_EQ(Split({";", " ; ;", "/* x */;", "select 1;;"}), V{"select 1;"});
}

TEST(ParseScript, DumpHeaders) {
  EXPECT_EQ(Split({"--", "-- Host: localhost", "--", "", "DROP TABLE IF EXISTS `t`;",
                   "/*!40101 SET @saved_cs_client     = @@character_set_client */;",
                   "CREATE TABLE `t` (", "  `id` int(11) NOT NULL,",
                   "  PRIMARY KEY (`id`)", ") ENGINE=InnoDB;"}),
            (V{"DROP TABLE IF EXISTS `t`;", "/*!40101 SET @saved_cs_client     = @@character_set_client */;",
               "CREATE TABLE `t` (  `id` int(11) NOT NULL,  PRIMARY KEY (`id`) ) ENGINE=InnoDB;"}));
}

TEST(ParseScript, ChangesTheListOnce) {
  TStringList l;
  l.Add("select 1; select 2");
  int changes = 0;
  l.OnChange = [&](TObject*) { ++changes; };
  ParseScript(l);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(l.Count(), 2);
}

TEST(ParseScript, RefusesASortedList) {
  TStringList l;
  l.SetSorted(true);
  l.Add("select 2; select 1; select 2;");
  EXPECT_THROW(ParseScript(l), EStringListError);
  EXPECT_EQ(l.ToVector(), V{"select 2; select 1; select 2;"});
}

TEST(GetScriptType, EachForm) {
  EXPECT_EQ(TypeOf({"select 1"}), "SELECT");
  EXPECT_EQ(TypeOf({"select 1;"}), "SCRIPT");
  EXPECT_EQ(TypeOf({"/* x */ update t set a=1"}), "UPDATE");
  EXPECT_EQ(TypeOf({"show tables"}), "NONE");
  EXPECT_EQ(TypeOf({"show tables; delete from t"}), "DELETE");
  EXPECT_EQ(TypeOf({"delete from t; show tables"}), "SCRIPT");
  EXPECT_EQ(TypeOf({"Insert into t values (1)"}), "INSERT");
  EXPECT_EQ(TypeOf({"replace t values (1)"}), "REPLACE");
  EXPECT_EQ(TypeOf({"load data infile 'x' into table t"}), "LOAD");
  EXPECT_EQ(TypeOf({"set @a=1"}), "SCRIPT");
  EXPECT_EQ(TypeOf({"create table t (a int)"}), "SCRIPT");
  EXPECT_EQ(TypeOf({"-- c", "drop table t"}), "SCRIPT");
  EXPECT_EQ(TypeOf({}), "NONE");
  EXPECT_EQ(TypeOf({"(select 1)"}), "SELECT");
  EXPECT_EQ(TypeOf({"`select` 1"}), "NONE");
}

}  // namespace
}  // namespace rowset
