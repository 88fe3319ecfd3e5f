// The rowset program against the test server: scripts with errors, the
// output formats read back and compared with what the server holds, a
// mariadb-dump file loaded, the connection options, and the table editor
// driven on a real terminal (tmux).
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/common/TestServer.h"
#include "tests/tools/RowsetRun.h"

namespace rowset::test {
namespace {

using Value = std::optional<std::string>;
using Rows = std::vector<std::vector<Value>>;

std::string Login(const std::string& Driver = "direct") {
  const auto& s = Server();
  return "--driver " + Driver + " --host " + s.host + " --port " + std::to_string(s.port) +
         " --user " + s.user;
}

std::string Unhex(const std::string& Hex) {
  std::string r;
  for (size_t i = 0; i + 1 < Hex.size(); i += 2) r += static_cast<char>(std::stoi(Hex.substr(i, 2), nullptr, 16));
  return r;
}

// ---- readers of the three formats

// RFC 4180 with CRLF records; an unquoted empty field is NULL.
Rows ReadCsv(const std::string& Text) {
  Rows rows;
  std::vector<Value> row;
  size_t i = 0;
  while (i < Text.size()) {
    Value v;
    if (Text[i] == '"') {
      std::string s;
      for (++i; i < Text.size(); ++i) {
        if (Text[i] == '"') {
          if (i + 1 < Text.size() && Text[i + 1] == '"') {
            s += '"';
            ++i;
          } else {
            ++i;
            break;
          }
        } else {
          s += Text[i];
        }
      }
      v = s;
    } else {
      size_t end = Text.find_first_of(",\r", i);
      if (end == std::string::npos) end = Text.size();
      if (end > i) v = Text.substr(i, end - i);
      i = end;
    }
    row.push_back(v);
    if (i < Text.size() && Text[i] == ',') {
      ++i;
    } else {
      if (Text.compare(i, 2, "\r\n") == 0) i += 2;
      rows.push_back(row);
      row.clear();
    }
  }
  return rows;
}

Rows ReadTsv(const std::string& Text) {
  Rows rows;
  std::istringstream in(Text);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<Value> row;
    size_t start = 0;
    while (true) {
      size_t tab = line.find('\t', start);
      std::string f = line.substr(start, tab == std::string::npos ? std::string::npos : tab - start);
      if (f == "\\N") {
        row.emplace_back();
      } else {
        std::string s;
        for (size_t k = 0; k < f.size(); ++k) {
          if (f[k] == '\\' && k + 1 < f.size()) {
            char e = f[++k];
            s += e == 't' ? '\t' : e == 'n' ? '\n' : e == 'r' ? '\r' : e == '0' ? '\0' : e;
          } else {
            s += f[k];
          }
        }
        row.emplace_back(s);
      }
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    rows.push_back(row);
  }
  return rows;
}

// Just enough JSON for the program's lines: objects, arrays, strings, null.
class JsonReader {
 public:
  explicit JsonReader(const std::string& Text) : t_(Text) {}
  // {"columns":[...],"rows":[[...]]}: the columns first, then the rows.
  Rows Result() {
    Rows out;
    Expect('{');
    while (true) {
      std::string key = *String();
      Expect(':');
      Expect('[');
      if (key == "columns") {
        std::vector<Value> names;
        while (Peek() != ']') {
          names.push_back(Val());
          if (Peek() == ',') ++i_;
        }
        out.insert(out.begin(), names);
      } else {
        while (Peek() != ']') {
          Expect('[');
          std::vector<Value> row;
          while (Peek() != ']') {
            row.push_back(Val());
            if (Peek() == ',') ++i_;
          }
          ++i_;
          out.push_back(row);
          if (Peek() == ',') ++i_;
        }
      }
      ++i_;
      if (Peek() == ',') {
        ++i_;
        continue;
      }
      Expect('}');
      return out;
    }
  }

 private:
  char Peek() {
    while (i_ < t_.size() && std::isspace(static_cast<unsigned char>(t_[i_]))) ++i_;
    return i_ < t_.size() ? t_[i_] : '\0';
  }
  void Expect(char C) {
    ASSERT_EQ(Peek(), C) << "at " << i_ << " of " << t_;
    ++i_;
  }
  Value Val() {
    char c = Peek();
    if (c == 'n') {
      i_ += 4;
      return std::nullopt;
    }
    if (c == '{') {  // {"hex":"..."}
      ++i_;
      String();
      Expect(':');
      std::string hex = *String();
      Expect('}');
      return Unhex(hex);
    }
    return String();
  }
  Value String() {
    if (Peek() != '"') return std::nullopt;
    std::string s;
    for (++i_; i_ < t_.size() && t_[i_] != '"'; ++i_) {
      if (t_[i_] != '\\') {
        s += t_[i_];
        continue;
      }
      char e = t_[++i_];
      switch (e) {
        case 'n': s += '\n'; break;
        case 'r': s += '\r'; break;
        case 't': s += '\t'; break;
        case 'b': s += '\b'; break;
        case 'f': s += '\f'; break;
        case 'u': {
          unsigned cp = static_cast<unsigned>(std::stoul(t_.substr(i_ + 1, 4), nullptr, 16));
          i_ += 4;
          if (cp < 0x80) {
            s += static_cast<char>(cp);
          } else if (cp < 0x800) {
            s += static_cast<char>(0xC0 | (cp >> 6));
            s += static_cast<char>(0x80 | (cp & 0x3F));
          } else {
            s += static_cast<char>(0xE0 | (cp >> 12));
            s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (cp & 0x3F));
          }
          break;
        }
        default: s += e;
      }
    }
    ++i_;
    return s;
  }
  const std::string& t_;
  size_t i_ = 0;
};

class RowsetServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    db_ = FreshDatabase("rowset_cli");
    RootSql("SET NAMES utf8mb4; USE " + db_ + ";"
            "CREATE TABLE vals (id INT PRIMARY KEY, t TEXT CHARACTER SET utf8mb4, b VARBINARY(32),"
            " d DATE, n DECIMAL(10,3));"
            "INSERT INTO vals VALUES (1, NULL, NULL, NULL, NULL), (2, '', '', '2026-02-28', 0),"
            " (3, 'it''s \"quoted\", with comma', 0x00ff80, '1999-12-31', -1.5),"
            " (4, 'two\\nlines\\r\\nand crlf', 0x0a0d2c22, NULL, 12345.678),"
            " (5, 'tab\\there back\\\\slash', 'plain', NULL, NULL),"
            " (6, 'Ñandú € 😀', 0xc3, NULL, NULL), (7, 'NULL', '\\\\N', NULL, NULL);");
  }
  // What the server holds: every value's bytes (through HEX), NULL as NULL.
  static Rows ServerRows() {
    std::string out = RootSql("SELECT CONCAT_WS(',', id, IFNULL(HEX(t),'-'), IFNULL(HEX(b),'-'),"
                              " IFNULL(HEX(d),'-'), IFNULL(HEX(CAST(n AS CHAR)),'-')) FROM " + db_ + ".vals ORDER BY id;");
    Rows rows;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
      std::vector<Value> row;
      std::istringstream fields(line);
      std::string f;
      bool first = true;
      while (std::getline(fields, f, ',')) {
        if (first) row.emplace_back(f);
        else if (f == "-") row.emplace_back();
        else row.emplace_back(Unhex(f));
        first = false;
      }
      rows.push_back(row);
    }
    return rows;
  }
  static RowsetResult Select(const std::string& Format, const std::string& Driver = "direct") {
    return RunRowset(Login(Driver) + (Driver == "library" ? " --compress" : "") + " -D " + db_ + " --format " + Format +
                     " -e 'select id, t, b, d, n from vals order by id'");
  }
  static std::string db_;
};
std::string RowsetServerTest::db_;

TEST_F(RowsetServerTest, FormatsReadBackAsTheServerHoldsThem) {
  const Rows expected = ServerRows();
  ASSERT_EQ(expected.size(), 7u);
  const std::vector<Value> header = {"id", "t", "b", "d", "n"};

  RowsetResult csv = Select("csv");
  ASSERT_EQ(csv.exit_code, 0) << csv.err;
  Rows rows = ReadCsv(csv.out);
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows[0], header);
  EXPECT_EQ(Rows(rows.begin() + 1, rows.end()), expected) << csv.out;

  RowsetResult tsv = Select("tsv");
  ASSERT_EQ(tsv.exit_code, 0) << tsv.err;
  rows = ReadTsv(tsv.out);
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows[0], header);
  EXPECT_EQ(Rows(rows.begin() + 1, rows.end()), expected) << tsv.out;

  for (const char* driver : {"direct", "library"}) {
    RowsetResult json = Select("json", driver);
    ASSERT_EQ(json.exit_code, 0) << json.err;
    rows = JsonReader(json.out).Result();
    ASSERT_FALSE(rows.empty()) << json.out;
    EXPECT_EQ(rows[0], header);
    EXPECT_EQ(Rows(rows.begin() + 1, rows.end()), expected) << driver << ": " << json.out;
    // Invalid UTF-8 (the single byte 0xc3) is given in hex, valid text as a string.
    EXPECT_NE(json.out.find("{\"hex\":\"c3\"}"), std::string::npos) << json.out;
  }

  // The table: ISO dates, NULL distinct from the text NULL, numbers right-aligned.
  RowsetResult table = RunRowset(Login() + " -D " + db_ + " -e 'select id, d, n from vals where id < 5 order by id'");
  ASSERT_EQ(table.exit_code, 0) << table.err;
  EXPECT_NE(table.out.find("|  1 | NULL       | NULL      |"), std::string::npos) << table.out;
  EXPECT_NE(table.out.find("|  2 | 2026-02-28 |     0.000 |"), std::string::npos) << table.out;
  EXPECT_NE(table.out.find("|  3 | 1999-12-31 |    -1.500 |"), std::string::npos) << table.out;
  EXPECT_NE(table.out.find("(4 rows)"), std::string::npos) << table.out;
}

TEST_F(RowsetServerTest, AffectedRowsAndInsertIds) {
  RowsetResult r = RunRowset(Login() + " -D " + db_ + " --format json",
                             "create table ai (id int auto_increment primary key, v int);\n"
                             "insert into ai (v) values (1), (2), (3);\n"
                             "update ai set v = v + 1 where id > 1;\n");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out,
            "{\"affected_rows\":0,\"insert_id\":0}\n"
            "{\"affected_rows\":3,\"insert_id\":1}\n"
            "{\"affected_rows\":2,\"insert_id\":0}\n");
}

TEST_F(RowsetServerTest, ScriptWithErrorsStopsUnlessForced) {
  TempDir dir;
  const std::string script = (dir.Path() / "broken.sql").string();
  WriteText(script,
            "drop table if exists e1;\ncreate table e1 (a int);\ninsert into e1 values (1);\n"
            "selec oops;\ninsert into e1 values (2);\n");
  RowsetResult r = RunRowset(Login() + " -D " + db_ + " " + ShellQuote(script));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("ERROR in statement 4 of " + script + ": [1064]"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("near 'selec oops'"), std::string::npos) << r.err;
  EXPECT_EQ(RootSql("SELECT GROUP_CONCAT(a ORDER BY a) FROM " + db_ + ".e1;"), "1\n");

  r = RunRowset(Login() + " -D " + db_ + " --force " + ShellQuote(script));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("ERROR in statement 4"), std::string::npos) << r.err;
  EXPECT_EQ(RootSql("SELECT GROUP_CONCAT(a ORDER BY a) FROM " + db_ + ".e1;"), "1,2\n");

  // An error that the server sends after some rows is raised, not read as
  // the end of the rows.
  r = RunRowset(Login() + " -D " + db_ +
                " -e 'select id, if(id < 3, id, (select 1 union select 2)) from vals order by id'");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("[1242]"), std::string::npos) << r.err;
}

TEST_F(RowsetServerTest, LoadsAMariadbDumpFile) {
  const std::string src = FreshDatabase("rowset_cli_dump_src");
  RootSql("SET NAMES utf8mb4; USE " + src + ";"
          "CREATE TABLE big (id INT PRIMARY KEY, t TEXT, b BLOB, d DATETIME) DEFAULT CHARSET=utf8mb4;"
          "INSERT INTO big SELECT seq, CONCAT('row ', seq, ' it''s; \"x\" \\\\ ', IF(seq % 7 = 0, '\\n', '')),"
          " IF(seq % 5 = 0, NULL, UNHEX(MD5(seq))), '2026-01-01' + INTERVAL seq MINUTE FROM seq_1_to_20000;"
          "INSERT INTO big VALUES (0, 'Ñandú 😀', 0x00, NULL);"
          "CREATE TRIGGER big_ins BEFORE INSERT ON big FOR EACH ROW SET NEW.t = CONCAT(NEW.t, '');");
  TempDir dir;
  const std::string dump = (dir.Path() / "dump.sql").string();
  ASSERT_EQ(Shell("mariadb-dump --no-defaults -S " + ShellQuote(Server().socket) + " -uroot --triggers " +
                  src + " > " + ShellQuote(dump)).exit_code, 0);
  const std::string dst = FreshDatabase("rowset_cli_dump_dst");
  RowsetResult r = RunRowset(Login() + " -D " + dst + " " + ShellQuote(dump));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");  // no progress display when standard error is no terminal
  auto checksum = [](const std::string& Db) {
    std::string out = RootSql("CHECKSUM TABLE " + Db + ".big;");
    return out.substr(out.find('\t') + 1);
  };
  EXPECT_EQ(checksum(dst), checksum(src));
  EXPECT_EQ(RootSql("SELECT COUNT(*) FROM information_schema.triggers WHERE trigger_schema = '" + dst + "';"),
            "1\n");
}

TEST_F(RowsetServerTest, PasswordFromTheEnvironmentAndTheSocket) {
  const auto& s = Server();
  const std::string login = "--host " + s.host + " --port " + std::to_string(s.port) + " --user " + s.pw_user;
  RowsetResult ok = RunRowset(login + " --format tsv -e 'select current_user()'", "",
                              "MYSQL_PWD=" + ShellQuote(s.pw_password));
  ASSERT_EQ(ok.exit_code, 0) << ok.err;
  EXPECT_NE(ok.out.find(s.pw_user + "@"), std::string::npos) << ok.out;
  RowsetResult wrong = RunRowset(login + " -e 'select 1'", "", "MYSQL_PWD=wrong");
  EXPECT_EQ(wrong.exit_code, 1);
  EXPECT_NE(wrong.err.find("[1045]"), std::string::npos) << wrong.err;
  EXPECT_EQ(wrong.out, "");

  RowsetResult sock = RunRowset("--socket " + ShellQuote(s.socket) + " --user " + s.user +
                                " --format tsv -e 'select @@socket'");
  ASSERT_EQ(sock.exit_code, 0) << sock.err;
  EXPECT_EQ(sock.out, "@@socket\n" + s.socket + "\n");
}

// ---- the interactive client on a real terminal

// One tmux server of our own (its own socket), one window running rowset.
class Terminal {
 public:
  explicit Terminal(const std::string& Command) {
    socket_ = "rowset-cli-" + std::to_string(::getpid());
    Tmux("new-session -d -s cli -x 160 -y 50 " + ShellQuote(Command + "; sleep 30"));
  }
  ~Terminal() { Tmux("kill-server"); }
  std::string Tmux(const std::string& Args) {
    return Shell("tmux -L " + socket_ + " -f /dev/null " + Args).out;
  }
  std::string Screen() { return Tmux("capture-pane -p -S -200 -t cli"); }
  void Line(const std::string& Text) {
    // tmux reads a ";" that ends an argument as its command separator, so
    // a final one goes as its character code.
    const bool semicolon = !Text.empty() && Text.back() == ';';
    const std::string body = semicolon ? Text.substr(0, Text.size() - 1) : Text;
    if (!body.empty()) Tmux("send-keys -t cli -l " + ShellQuote(body));
    if (semicolon) Tmux("send-keys -t cli -H 3b");
    Tmux("send-keys -t cli Enter");
  }
  // Polls until the screen shows Text N times; false at the deadline.
  bool WaitFor(const std::string& Text, int Times = 1) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    do {
      std::string s = Screen();
      int n = 0;
      for (size_t at = s.find(Text); at != std::string::npos; at = s.find(Text, at + 1)) ++n;
      if (n >= Times) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
  }

 private:
  std::string socket_;
};

TEST_F(RowsetServerTest, EditorChangesARowOnATerminal) {
  if (Shell("command -v tmux").exit_code != 0) GTEST_SKIP() << "tmux is not installed";
  RootSql("USE " + db_ + "; CREATE TABLE fruit (id INT PRIMARY KEY, name VARCHAR(40), qty INT);"
          "INSERT INTO fruit VALUES (1, 'apple', 3), (2, 'pear', 5), (3, 'plum', 7);");
  TempDir home;
  const auto& s = Server();
  // The password is asked for through the login form.
  Terminal t("XDG_DATA_HOME=" + ShellQuote(home.Path().string()) + " " + ShellQuote(RowsetBinary()) +
             " --host " + s.host + " --port " + std::to_string(s.port) + " --user " + s.pw_user +
             " --password -D " + db_);
  ASSERT_TRUE(t.WaitFor("Password:")) << t.Screen();
  t.Tmux("send-keys -t cli C-u");
  t.Line(s.pw_password);
  ASSERT_TRUE(t.WaitFor("rowset>")) << t.Screen();

  // A statement over two lines.
  t.Line("select name");
  t.Line("from fruit where id = 3;");
  ASSERT_TRUE(t.WaitFor("| plum |")) << t.Screen();

  t.Line("\\edit fruit where id >= 2");
  ASSERT_TRUE(t.WaitFor("editing fruit: 2 records")) << t.Screen();
  t.Line("set name pear 'conference'");
  t.Line("post");
  ASSERT_TRUE(t.WaitFor("SQL> update fruit set name='pear \\'conference\\'' where (id='2')")) << t.Screen();
  EXPECT_EQ(RootSql("SELECT name FROM " + db_ + ".fruit WHERE id = 2;"), "pear 'conference'\n");

  // Cached: nothing reaches the server before \apply.
  t.Line("\\cache on");
  t.Line("n");
  ASSERT_TRUE(t.WaitFor("-- record 2 of 2")) << t.Screen();
  t.Line("set qty 70");
  t.Line("post");
  ASSERT_TRUE(t.WaitFor("held: update fruit set qty='70' where (id='3');")) << t.Screen();
  EXPECT_EQ(RootSql("SELECT qty FROM " + db_ + ".fruit WHERE id = 3;"), "7\n");
  t.Line("\\apply");
  ASSERT_TRUE(t.WaitFor("applied 1 statements")) << t.Screen();
  EXPECT_EQ(RootSql("SELECT qty FROM " + db_ + ".fruit WHERE id = 3;"), "70\n");

  // Insert, delete; \cancel drops what is held back.
  t.Line("\\cache off");
  t.Line("insert");
  t.Line("set id 4");
  t.Line("set name kiwi");
  t.Line("post");
  ASSERT_TRUE(t.WaitFor("SQL> insert into fruit")) << t.Screen();
  t.Line("f");
  t.Line("delete");
  ASSERT_TRUE(t.WaitFor("SQL> delete from fruit where (id='2')")) << t.Screen();
  t.Line("\\cache on");
  t.Line("set qty 0");
  t.Line("post");
  ASSERT_TRUE(t.WaitFor("held: ")) << t.Screen();
  t.Line("\\cancel");
  ASSERT_TRUE(t.WaitFor("dropped 1 held-back statements")) << t.Screen();
  t.Line("\\q");
  ASSERT_TRUE(t.WaitFor("rowset>", 2)) << t.Screen();
  t.Line("\\q");
  EXPECT_EQ(RootSql("SELECT GROUP_CONCAT(CONCAT(id, ':', name, ':', IFNULL(qty, 'NULL')) ORDER BY id) FROM " +
                    db_ + ".fruit;"),
            "1:apple:3,3:plum:70,4:kiwi:NULL\n");
}

}  // namespace
}  // namespace rowset::test
