// The rowset program against the test server: scripts with errors, the
// output formats read back and compared with what the server holds, a
// mariadb-dump file loaded, the connection options, and the table editor
// driven on a real terminal (tmux).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
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
  // The server's SQL state, as the mariadb client shows it.
  EXPECT_EQ(r.err.rfind("ERROR 1064 (42000) at line 4 in file: '" + script + "': You have an error", 0), 0u)
      << r.err;
  EXPECT_NE(r.err.find("near 'selec oops'"), std::string::npos) << r.err;
  EXPECT_EQ(RootSql("SELECT GROUP_CONCAT(a ORDER BY a) FROM " + db_ + ".e1;"), "1\n");

  r = RunRowset(Login() + " -D " + db_ + " --force " + ShellQuote(script));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("ERROR 1064 (42000) at line 4"), std::string::npos) << r.err;
  EXPECT_EQ(RootSql("SELECT GROUP_CONCAT(a ORDER BY a) FROM " + db_ + ".e1;"), "1,2\n");

  // An error that the server sends after some rows is raised, not read as
  // the end of the rows.
  r = RunRowset(Login() + " -D " + db_ +
                " -e 'select id, if(id < 3, id, (select 1 union select 2)) from vals order by id'");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("ERROR 1242 (21000) at line 1: Subquery returns more than 1 row"), std::string::npos) << r.err;
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
  EXPECT_EQ(wrong.err.rfind("ERROR 1045 (28000): Access denied for user '" + s.pw_user + "'@", 0), 0u) << wrong.err;
  EXPECT_EQ(std::count(wrong.err.begin(), wrong.err.end(), '\n'), 1) << wrong.err;
  EXPECT_EQ(wrong.out, "");

  RowsetResult sock = RunRowset("--socket " + ShellQuote(s.socket) + " --user " + s.user +
                                " --format tsv -e 'select @@socket'");
  ASSERT_EQ(sock.exit_code, 0) << sock.err;
  EXPECT_EQ(sock.out, "@@socket\n" + s.socket + "\n");
}

// The first line of Text that starts with "ERROR".
std::string ErrorLine(const std::string& Text) {
  std::istringstream in(Text);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("ERROR", 0) == 0) return line;
  return "";
}

TEST_F(RowsetServerTest, ErrorLinesAreThoseOfTheMariadbClient) {
  const auto& s = Server();
  const std::string mariadb = "mariadb --no-defaults -h " + s.host + " -P " + std::to_string(s.port) + " -u ";
  TempDir dir;
  const std::string script = (dir.Path() / "bad.sql").string();
  WriteText(script, "select 1;\n\n-- a comment\nselect\n *\n from nonexist;\nselect 2;\n");

  // Piped input: the line on which the failing statement starts.
  const std::string expected = ErrorLine(Shell(mariadb + s.user + " " + db_ + " < " + ShellQuote(script)).out);
  ASSERT_EQ(expected, "ERROR 1146 (42S02) at line 4: Table '" + db_ + ".nonexist' doesn't exist");
  RowsetResult piped = RunRowset(Login("library") + " -D " + db_, ReadText(script));
  EXPECT_EQ(piped.exit_code, 1);
  EXPECT_EQ(piped.err, expected + "\n");
  // A script file is named as the mysql client names a sourced file.
  RowsetResult file = RunRowset(Login("library") + " -D " + db_ + " " + ShellQuote(script));
  EXPECT_EQ(file.err, "ERROR 1146 (42S02) at line 4 in file: '" + script + "': Table '" + db_ +
                          ".nonexist' doesn't exist\n");
  // -e texts count their own lines.
  const std::string two = ShellQuote("select 1;\nselect * from nonexist");
  const std::string expected_e = ErrorLine(Shell(mariadb + s.user + " " + db_ + " -e " + two).out);
  ASSERT_EQ(expected_e.rfind("ERROR 1146 (42S02) at line 2: ", 0), 0u) << expected_e;
  EXPECT_EQ(RunRowset(Login("library") + " -D " + db_ + " -e " + two).err, expected_e + "\n");
  // The built-in client gives the same line.
  EXPECT_EQ(RunRowset(Login("direct") + " -D " + db_ + " -e " + two).err, expected_e + "\n");

  // A refused login: the server's one line, no connection advice.
  const std::string login = " -h " + s.host + " -P " + std::to_string(s.port) + " -u " + s.pw_user;
  const std::string refused = ErrorLine(Shell("MYSQL_PWD=wrong " + mariadb.substr(0, mariadb.find(" -h")) + login + " -e 'select 1'").out);
  ASSERT_EQ(refused.rfind("ERROR 1045 (28000): Access denied for user '" + s.pw_user + "'@", 0), 0u) << refused;
  RowsetResult denied = RunRowset("--driver library" + login + " -e 'select 1'", "", "MYSQL_PWD=wrong");
  EXPECT_EQ(denied.exit_code, 1);
  EXPECT_EQ(denied.err, refused + "\n");
}

TEST_F(RowsetServerTest, TlsOptionsOnBothClientDrivers) {
  const auto& s = Server();
  const std::string status =
      " --format tsv -e \"select variable_value from information_schema.session_status where "
      "variable_name = 'SSL_VERSION'\"";
  for (const char* driver : {"direct", "library"}) {
    SCOPED_TRACE(driver);
    // The client library takes "localhost" for its Unix socket.
    const std::string host = std::string(driver) == "direct" ? "localhost" : "127.0.0.1";
    const std::string login = std::string("--driver ") + driver + " -h " + host + " -P" +
                              std::to_string(s.port) + " -u" + s.tls_user + " -p" +
                              ShellQuote(s.tls_password);
    RowsetResult r = RunRowset(login + " --ssl-mode VERIFY_IDENTITY --ssl-ca " +
                               ShellQuote(s.ssl_ca) + status);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out.rfind("variable_value\nTLSv1.", 0), 0u) << r.out;
    // A certificate of another authority fails the check, with the reason.
    r = RunRowset(login + " --ssl-mode=VERIFY_IDENTITY --ssl-ca=" + ShellQuote(s.ssl_wrong_ca) +
                  status);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("2026"), std::string::npos) << r.err;
  }
  // A client certificate for the account that requires one.
  RowsetResult r = RunRowset("--driver direct -h 127.0.0.1 -P" + std::to_string(s.port) + " -u" +
                             s.x509_user + " -p" + ShellQuote(s.x509_password) + " --ssl-ca " +
                             ShellQuote(s.ssl_ca) + " --ssl-cert " + ShellQuote(s.ssl_cert) +
                             " --ssl-key " + ShellQuote(s.ssl_key) + status);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out.rfind("variable_value\nTLSv1.", 0), 0u) << r.out;
}

TEST_F(RowsetServerTest, MariadbStyleOptionsWithAttachedValues) {
  const auto& s = Server();
  RowsetResult r = RunRowset("-h" + s.host + " -P" + std::to_string(s.port) + " -u" + s.pw_user + " -p" +
                             ShellQuote(s.pw_password) + " -D" + db_ + " --format=tsv -e 'select current_user()'");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out.rfind("current_user()\n" + s.pw_user + "@", 0), 0u) << r.out;
  r = RunRowset("--host=" + s.host + " --port=" + std::to_string(s.port) + " --user=" + s.pw_user +
                " --password=" + ShellQuote(s.pw_password) + " --database=" + db_ +
                " --format tsv -e 'select database()'");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "database()\n" + db_ + "\n");
  // A wrong password given so is refused by the server, not by the program.
  r = RunRowset("-h" + s.host + " -P" + std::to_string(s.port) + " -u" + s.pw_user + " -pwrong -e 'select 1'");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("ERROR 1045"), std::string::npos) << r.err;

  // The password does not show in the process list while the program runs.
  const std::string cmd = ShellQuote(RowsetBinary()) + " -h" + s.host + " -P" + std::to_string(s.port) + " -u" +
                          s.pw_user + " -p" + ShellQuote(s.pw_password) + " -e 'select sleep(2)' >/dev/null & " +
                          "sleep 1; tr '\\0' ' ' < /proc/$!/cmdline; wait";
  ShellResult ps = Shell(cmd);
  EXPECT_NE(ps.out.find("-u" + s.pw_user + " -p" + std::string(s.pw_password.size(), 'x')), std::string::npos) << ps.out;
  EXPECT_EQ(ps.out.find(s.pw_password), std::string::npos) << ps.out;
}

TEST_F(RowsetServerTest, WideCharactersKeepTheTableAligned) {
  RowsetResult r = RunRowset(Login() + " -e " + ShellQuote("select '日本 tab' as a, 'x' as b, 'e\xcc\x81' as c"));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  // Two columns for each of the wide characters, none for the combining accent.
  EXPECT_EQ(r.out,
            "+----------+---+---+\n"
            "| a        | b | c |\n"
            "+----------+---+---+\n"
            "| 日本 tab | x | e\xcc\x81 |\n"
            "+----------+---+---+\n"
            "(1 row)\n");
}

// ---- the interactive client on a real terminal

// One tmux server of our own (its own socket), one window running rowset.
class Terminal {
 public:
  explicit Terminal(const std::string& Command) {
    static int count = 0;  // a server of its own for each terminal
    socket_ = "rowset-cli-" + std::to_string(::getpid()) + "-" + std::to_string(++count);
    // The shell outlives a Ctrl-C sent to the program (the whole foreground
    // group receives it) and reports how the program ended.
    Tmux("new-session -d -s cli -x 160 -y 50 " +
         ShellQuote("trap true INT; " + Command + "; while :; do sleep 1; done"));
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
  ASSERT_TRUE(t.WaitFor("held: update fruit set qty='70' where (id='3') AND (qty='7');")) << t.Screen();
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

// The interactive client on the direct back end in a tmux window, with a
// data directory (and so a history) of its own; "EXITED n" shows once the
// program has ended with code n.
class InteractiveTest : public RowsetServerTest {
 protected:
  void SetUp() override {
    if (Shell("command -v tmux").exit_code != 0) GTEST_SKIP() << "tmux is not installed";
  }
  std::string Command(const std::string& Extra = "") {
    return "XDG_DATA_HOME=" + ShellQuote(home_.Path().string()) + " " + ShellQuote(RowsetBinary()) + " " +
           Login() + " -D " + db_ + Extra + "; echo EXITED $?";
  }
  TempDir home_;
};

TEST_F(InteractiveTest, NonAsciiInputReachesTheServer) {
  RootSql("USE " + db_ + "; CREATE TABLE words (id INT PRIMARY KEY, s VARCHAR(40)) CHARACTER SET utf8mb4;"
          "INSERT INTO words VALUES (1, 'plain');");
  Terminal t(Command());
  ASSERT_TRUE(t.WaitFor("rowset>")) << t.Screen();
  t.Line("select '日本 tab' as w;");
  ASSERT_TRUE(t.WaitFor("| 日本 tab |")) << t.Screen();
  EXPECT_NE(t.Screen().find("+----------+"), std::string::npos) << t.Screen();
  t.Line("\\edit words");
  ASSERT_TRUE(t.WaitFor("editing words: 1 records")) << t.Screen();
  t.Line("set s 日本 tab é");
  t.Line("post");
  ASSERT_TRUE(t.WaitFor("SQL> update words")) << t.Screen();
  t.Line("\\q");
  t.Line("\\q");
  ASSERT_TRUE(t.WaitFor("EXITED 0")) << t.Screen();
  EXPECT_EQ(RootSql("SELECT HEX(s) FROM " + db_ + ".words;"), "E697A5E69CAC2074616220C3A9\n");
}

TEST_F(InteractiveTest, HalfTypedStatementsAreDroppedByBackslashCAndCtrlC) {
  RootSql("USE " + db_ + "; CREATE TABLE half (v INT);");
  Terminal t(Command());
  ASSERT_TRUE(t.WaitFor("rowset>")) << t.Screen();
  t.Line("insert into half");
  t.Line("values (1) \\c");
  ASSERT_TRUE(t.WaitFor("rowset>", 2)) << t.Screen();
  // A "\c" inside a string is text (the server reads "\\" as one backslash).
  t.Line("select 'a\\\\c' as k;");
  ASSERT_TRUE(t.WaitFor("| a\\c |")) << t.Screen();
  // Ctrl-C on a continuation line ends it and drops the statement.
  t.Line("insert into half");
  ASSERT_TRUE(t.WaitFor("     ->")) << t.Screen();
  t.Tmux("send-keys -t cli -l 'values (2)'");
  t.Tmux("send-keys -t cli C-c");
  ASSERT_TRUE(t.WaitFor("^C")) << t.Screen();
  t.Line(";");
  t.Line("select count(*) as n from half;");
  ASSERT_TRUE(t.WaitFor("| 0 |")) << t.Screen();
  EXPECT_EQ(t.Screen().find("ERROR"), std::string::npos) << t.Screen();
  // \q quits from a continuation line too.
  t.Line("select");
  t.Line("\\q");
  ASSERT_TRUE(t.WaitFor("EXITED 0")) << t.Screen();
  EXPECT_EQ(RootSql("SELECT COUNT(*) FROM " + db_ + ".half;"), "0\n");
}

TEST_F(InteractiveTest, DelimiterTypedAtThePrompt) {
  Terminal t(Command());
  ASSERT_TRUE(t.WaitFor("rowset>")) << t.Screen();
  t.Line("delimiter //");
  t.Line("create function answer() returns int deterministic");
  t.Line("begin declare x int; set x = 41; return x + 1; end//");
  ASSERT_TRUE(t.WaitFor("Query OK")) << t.Screen();
  // Two statements on one line; the text after the last delimiter waits.
  t.Line("select answer() as a// select 'second' as b// select");
  ASSERT_TRUE(t.WaitFor("| second |")) << t.Screen();
  EXPECT_NE(t.Screen().find("| 42 |"), std::string::npos) << t.Screen();
  t.Line("'third' as c//");
  ASSERT_TRUE(t.WaitFor("| third |")) << t.Screen();
  t.Line("delimiter ;");
  t.Line("select answer() + 1 as a;");
  ASSERT_TRUE(t.WaitFor("| 43 |")) << t.Screen();
  EXPECT_EQ(t.Screen().find("ERROR"), std::string::npos) << t.Screen();
  t.Line("\\q");
  ASSERT_TRUE(t.WaitFor("EXITED 0")) << t.Screen();
}

TEST_F(InteractiveTest, CtrlCKillsTheRunningStatementThenTwiceQuits) {
  Terminal t(Command());
  ASSERT_TRUE(t.WaitFor("rowset>")) << t.Screen();
  t.Line("select sleep(30) as slept; select 'not run' as x;");
  // The statement is running on the server.
  const std::string running = "SELECT COUNT(*) FROM information_schema.processlist WHERE info LIKE 'select sleep(30)%';";
  for (int i = 0; i < 100 && RootSql(running) != "1\n"; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_EQ(RootSql(running), "1\n");
  const auto start = std::chrono::steady_clock::now();
  t.Tmux("send-keys -t cli C-c");
  ASSERT_TRUE(t.WaitFor("Ctrl-C -- query killed.")) << t.Screen();
  ASSERT_TRUE(t.WaitFor("rowset>", 2)) << t.Screen();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  const std::string screen = t.Screen();
  // The server stopped it; the rest of the line was not run.
  // (SLEEP ends early with 1 when its statement is killed.)
  EXPECT_TRUE(screen.find("(1 row)") != std::string::npos ||
              screen.find("ERROR 1317 (70100): Query execution was interrupted") != std::string::npos)
      << screen;
  EXPECT_EQ(screen.find("| not run |"), std::string::npos) << screen;
  EXPECT_EQ(RootSql(running), "0\n");
  EXPECT_NE(screen.find("sending \"KILL QUERY "), std::string::npos) << screen;
  // Still usable; then Ctrl-C twice quickly at the prompt ends the program,
  // with the history saved.
  t.Line("select 'alive' as a;");
  ASSERT_TRUE(t.WaitFor("| alive |")) << t.Screen();
  t.Tmux("send-keys -t cli C-c");
  t.Tmux("send-keys -t cli C-c");
  ASSERT_TRUE(t.WaitFor("EXITED 0")) << t.Screen();
  const std::string history = ReadText(home_.Path() / "rowset" / "history");
  // (libedit's history file writes blanks as \040.)
  EXPECT_NE(history.find("'alive'"), std::string::npos) << history;
}

TEST_F(InteractiveTest, CtrlCTwiceWhileAStatementRunsEndsTheProgramAndKillsIt) {
  Terminal t(Command());
  ASSERT_TRUE(t.WaitFor("rowset>")) << t.Screen();
  t.Line("select sleep(31) as slept;");
  const std::string running = "SELECT COUNT(*) FROM information_schema.processlist WHERE info LIKE 'select sleep(31)%';";
  for (int i = 0; i < 100 && RootSql(running) != "1\n"; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_EQ(RootSql(running), "1\n");
  t.Tmux("send-keys -t cli C-c");
  t.Tmux("send-keys -t cli C-c");
  // 130 when the second press came while the statement still ran, 0 when
  // it came at the prompt the kill had already brought back.
  ASSERT_TRUE(t.WaitFor("EXITED ")) << t.Screen();
  EXPECT_TRUE(t.Screen().find("EXITED 130") != std::string::npos || t.Screen().find("EXITED 0") != std::string::npos)
      << t.Screen();
  for (int i = 0; i < 100 && RootSql(running) != "0\n"; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(RootSql(running), "0\n");
  const std::string history = ReadText(home_.Path() / "rowset" / "history");
  EXPECT_NE(history.find("sleep(31)"), std::string::npos) << history;
}

TEST_F(InteractiveTest, TerminateAndHangUpSaveTheHistory) {
  for (const std::string signal : {"TERM", "HUP"}) {
    Terminal t(Command());
    ASSERT_TRUE(t.WaitFor("rowset>")) << t.Screen();
    t.Line("select 'before " + signal + "' as a;");
    ASSERT_TRUE(t.WaitFor("| before " + signal + " |")) << t.Screen();
    // The program of this test: the one whose environment names its data
    // directory.
    Shell("for p in $(pgrep -x rowset); do grep -qz '^XDG_DATA_HOME=" + home_.Path().string() +
          "$' /proc/$p/environ && kill -" + signal + " $p; done");
    ASSERT_TRUE(t.WaitFor(signal == "TERM" ? "EXITED 143" : "EXITED 129")) << t.Screen();
    // (libedit's history file writes blanks as \040.)
    const std::string history = ReadText(home_.Path() / "rowset" / "history");
    EXPECT_NE(history.find("'before\\040" + signal + "'"), std::string::npos) << history;
  }
}

TEST_F(InteractiveTest, CtrlCStopsAPipedScriptAndItsRunningStatement) {
  RootSql("USE " + db_ + "; CREATE TABLE piped (v INT);");
  TempDir dir;
  WriteText(dir.Path() / "in.sql", "insert into piped values (1);\nselect sleep(32);\ninsert into piped values (2);\n");
  Terminal t(ShellQuote(RowsetBinary()) + " " + Login() + " -D " + db_ + " --force < " +
             ShellQuote((dir.Path() / "in.sql").string()) + "; echo EXITED $?");
  const std::string running = "SELECT COUNT(*) FROM information_schema.processlist WHERE info LIKE 'select sleep(32)%';";
  for (int i = 0; i < 100 && RootSql(running) != "1\n"; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_EQ(RootSql(running), "1\n") << t.Screen();
  t.Tmux("send-keys -t cli C-c");
  ASSERT_TRUE(t.WaitFor("EXITED 1")) << t.Screen();
  EXPECT_NE(t.Screen().find("Ctrl-C -- query killed."), std::string::npos) << t.Screen();
  EXPECT_EQ(RootSql(running), "0\n");
  // Even with --force the script ends there.
  EXPECT_EQ(RootSql("SELECT GROUP_CONCAT(v) FROM " + db_ + ".piped;"), "1\n");
}

TEST_F(InteractiveTest, EditorSaysWhenItPostsInsideAnOpenTransaction) {
  RootSql("USE " + db_ + "; CREATE TABLE stock (id INT PRIMARY KEY, qty INT) ENGINE=InnoDB;"
          "INSERT INTO stock VALUES (1, 5);");
  Terminal t(Command());
  ASSERT_TRUE(t.WaitFor("rowset>")) << t.Screen();
  t.Line("\\edit stock");
  ASSERT_TRUE(t.WaitFor("editing stock")) << t.Screen();
  t.Line("set qty 6");
  t.Line("post");
  ASSERT_TRUE(t.WaitFor("SQL> update stock")) << t.Screen();
  EXPECT_EQ(t.Screen().find("transaction is open"), std::string::npos) << t.Screen();
  t.Line("\\q");
  t.Line("start transaction;");
  t.Line("\\edit stock");
  ASSERT_TRUE(t.WaitFor("editing stock", 2)) << t.Screen();
  t.Line("set qty 7");
  t.Line("post");
  ASSERT_TRUE(t.WaitFor("SQL> update stock", 2)) << t.Screen();
  EXPECT_NE(t.Screen().find("note: a transaction is open on this connection"), std::string::npos) << t.Screen();
  t.Line("\\q");
  t.Line("rollback;");
  t.Line("\\q");
  ASSERT_TRUE(t.WaitFor("EXITED 0")) << t.Screen();
  EXPECT_EQ(RootSql("SELECT qty FROM " + db_ + ".stock;"), "6\n");
}

TEST_F(InteractiveTest, EditorShowsBothVersionsWhenAnotherUserChangedTheRecord) {
  RootSql("USE " + db_ + "; CREATE TABLE lot (id INT PRIMARY KEY, qty INT, note VARCHAR(10)) ENGINE=InnoDB;"
          "INSERT INTO lot VALUES (1, 5, 'a');");
  Terminal t(Command());
  ASSERT_TRUE(t.WaitFor("rowset>")) << t.Screen();
  t.Line("\\edit lot");
  ASSERT_TRUE(t.WaitFor("editing lot")) << t.Screen();
  // Another connection changes the same column after the editor read it.
  RootSql("UPDATE " + db_ + ".lot SET qty = 99 WHERE id = 1;");
  t.Line("set qty 31");
  t.Line("post");
  ASSERT_TRUE(t.WaitFor("nothing was written")) << t.Screen();
  ASSERT_TRUE(t.WaitFor("server now")) << t.Screen();
  const std::string screen = t.Screen();
  EXPECT_NE(screen.find("changed by another user"), std::string::npos) << screen;
  // The row: column, the value read, the value posted, the server's value.
  EXPECT_NE(screen.find("| qty    | 5         | 31    | 99         |"), std::string::npos) << screen;
  EXPECT_EQ(RootSql("SELECT qty FROM " + db_ + ".lot;"), "99\n");
  // Cancel shows the record as the server has it now.
  t.Line("cancel");
  ASSERT_TRUE(t.WaitFor(" qty: 99")) << t.Screen();
  t.Line("\\q");
  t.Line("\\q");
  ASSERT_TRUE(t.WaitFor("EXITED 0")) << t.Screen();
  EXPECT_EQ(RootSql("SELECT qty FROM " + db_ + ".lot;"), "99\n");
}

TEST_F(InteractiveTest, PasswordIsAskedOnTheTerminalWhenInputIsPiped) {
  const auto& s = Server();
  Terminal t("echo 'select current_user() as u;' | " + ShellQuote(RowsetBinary()) + " -h " + s.host + " -P " +
             std::to_string(s.port) + " -u " + s.pw_user + " -p --format tsv; echo EXITED $?");
  ASSERT_TRUE(t.WaitFor("Enter password:")) << t.Screen();
  t.Line(s.pw_password);
  ASSERT_TRUE(t.WaitFor("EXITED 0")) << t.Screen();
  EXPECT_NE(t.Screen().find(s.pw_user + "@"), std::string::npos) << t.Screen();
  EXPECT_EQ(t.Screen().find(s.pw_password), std::string::npos) << t.Screen();
}

TEST_F(InteractiveTest, ProgressLineNeverSharesALineWithOutput) {
  TempDir dir;
  const std::string script = (dir.Path() / "many.sql").string();
  std::string text;
  for (int i = 0; i < 300; ++i) text += "do sleep(0.005);\n";
  text += "select 'last' as l;\n";
  WriteText(script, text);
  Terminal t(ShellQuote(RowsetBinary()) + " " + Login() + " -D " + db_ + " " + ShellQuote(script) + "; echo EXITED $?");
  ASSERT_TRUE(t.WaitFor("EXITED 0")) << t.Screen();
  std::istringstream in(t.Screen());
  std::string line;
  while (std::getline(in, line)) {
    // The progress line was cleared before each output and at the end.
    EXPECT_EQ(line.find("statements"), std::string::npos) << t.Screen();
  }
  EXPECT_NE(t.Screen().find("| last |"), std::string::npos) << t.Screen();
}

}  // namespace
}  // namespace rowset::test
