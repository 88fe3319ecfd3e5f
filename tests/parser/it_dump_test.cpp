// A real dump, split into statements and replayed: a database is filled
// with awkward values (quotes, semicolons, line breaks, backslashes, comment
// markers, NUL bytes, UTF-8 in utf8mb4), a trigger and a view, dumped with
// the mariadb-dump client, split by SplitScript exactly as the dump was
// written and replayed statement by statement through the MariaDB client
// library into an empty database on a connection with the server's default
// settings. Every table must come out with the same checksum, and the
// trigger and the view as they were.
#include <gtest/gtest.h>
#include <mysql.h>

#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "parser/MySQLParser.h"
#include "tests/common/TestServer.h"

namespace rowset {
namespace {

std::string Shell(const std::string& cmd) {
  std::string out;
  std::unique_ptr<FILE, int (*)(FILE*)> p(popen(cmd.c_str(), "r"), pclose);
  if (!p) return out;
  std::array<char, 65536> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p.get())) > 0) out.append(buf.data(), n);
  return out;
}

// The checksum column of CHECKSUM TABLE.
std::string Checksum(const std::string& db, const std::string& table) {
  std::string out = test::RootSql("CHECKSUM TABLE `" + db + "`.`" + table + "`;");
  size_t tab = out.rfind('\t');
  return tab == std::string::npos ? out : out.substr(tab + 1);
}

const char* kTables[] = {"items", "we;ird -- name", "empty", "audit"};

// The statement part of SHOW CREATE TRIGGER (between the name and the
// session settings that follow it).
std::string ShowCreateTrigger(const std::string& db) {
  std::string out = test::RootSql("SHOW CREATE TRIGGER `" + db + "`.items_ai;");
  size_t from = out.find("CREATE ");
  size_t to = out.find('\t', from);
  return from == std::string::npos ? out : out.substr(from, to - from);
}

void Fill(const std::string& db) {
  test::RootSql("USE `" + db + "`;\n" + R"sql(
CREATE TABLE items (
  id INT NOT NULL AUTO_INCREMENT PRIMARY KEY,
  name VARCHAR(200) CHARACTER SET utf8mb4,
  note TEXT CHARACTER SET utf8mb4 COMMENT 'free text; may hold anything',
  amount DECIMAL(10,2),
  created DATETIME,
  kind ENUM('plain', 'semi;colon', 'it''s') DEFAULT 'plain',
  data VARBINARY(64)
);
CREATE TABLE audit (id INT AUTO_INCREMENT PRIMARY KEY, what VARCHAR(100) CHARACTER SET utf8mb4);
DELIMITER //
CREATE TRIGGER items_ai AFTER INSERT ON items FOR EACH ROW
BEGIN
  INSERT INTO audit (what) VALUES (CONCAT('naïve;', NEW.id));
  INSERT INTO audit (what) VALUES ('✓ -- done');
END//
DELIMITER ;
INSERT INTO items (name, note, amount, created, kind, data) VALUES
  ('it''s', 'say "hi"; then -- leave', 1.50, '2024-01-02 03:04:05', 'it''s', 0x00275C0A3B22),
  ('semi;colon;', 'line one\nline two\r\nline three', -2.25, NULL, 'semi;colon', ''),
  ('back\\slash\\', 'ends in a backslash \\', 0, '1999-12-31 23:59:59', 'plain', NULL),
  ('# not a comment', '/* nor this */ */ nor [this]', NULL, NULL, NULL, 0x2F2A),
  ('`ticks`', 'tab\there; NUL \0 inside', 3, NULL, 'plain', 0xFF00FF),
  ('naïve café', 'ünïcödé ✓;', 4, NULL, 'plain', 0xC3A9),
  ('', '', 0, NULL, 'plain', X'');
INSERT INTO items (name, note, amount, kind)
  SELECT CONCAT('row;', seq, '''q'), CONCAT(REPEAT('x;\n', seq MOD 50), '-- ', seq), seq / 7,
         ELT(1 + seq MOD 3, 'plain', 'semi;colon', 'it''s')
  FROM seq_1_to_3000;
CREATE TABLE `we;ird -- name` (`col;1` INT PRIMARY KEY, `# c` VARCHAR(20));
INSERT INTO `we;ird -- name` VALUES (1, 'a;b'), (2, NULL), (3, '-- x');
CREATE TABLE empty (a INT);
CREATE VIEW pricey AS SELECT id, name FROM items WHERE amount > 3;
)sql");
}

TEST(DumpReplay, SplitDumpRecreatesTables) {
  const test::TestServer& server = test::Server();
  const std::string src = test::FreshDatabase("parser_dump_src");
  const std::string dst = test::FreshDatabase("parser_dump_dst");
  Fill(src);

  const std::string errors = "/tmp/rowset_dump_errors_" + src;
  std::string dump = Shell("mariadb-dump --no-defaults -S " + server.socket + " -uroot " + src +
                           " 2>" + errors);
  ASSERT_NE(dump.find("INSERT INTO `items`"), std::string::npos)
      << dump.substr(0, 2000) << Shell("cat " + errors);
  std::remove(errors.c_str());

  ASSERT_NE(dump.find("DELIMITER ;;"), std::string::npos);
  ASSERT_NE(dump.find("/*!50003 CREATE*/"), std::string::npos);
  const std::vector<std::string> lines = SplitScript(dump);
  ASSERT_GT(lines.size(), 10u);

  MYSQL* conn = ::mysql_init(nullptr);
  ASSERT_NE(conn, nullptr);
  std::unique_ptr<MYSQL, void (*)(MYSQL*)> guard(conn, ::mysql_close);
  // A client that starts in latin1: the dump's own settings must switch it.
  ::mysql_options(conn, MYSQL_SET_CHARSET_NAME, "latin1");
  ASSERT_NE(::mysql_real_connect(conn, "localhost", server.user.c_str(), "", dst.c_str(), 0,
                                 server.socket.c_str(), 0),
            nullptr)
      << ::mysql_error(conn);

  int inserts = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& stmt = lines[i];
    ASSERT_EQ(::mysql_real_query(conn, stmt.data(), stmt.size()), 0)
        << ::mysql_error(conn) << "\nin statement " << i << ": " << stmt.substr(0, 500);
    if (MYSQL_RES* res = ::mysql_store_result(conn)) ::mysql_free_result(res);
    if (stmt.rfind("INSERT INTO", 0) == 0) ++inserts;
  }
  EXPECT_EQ(inserts, 3);  // items, the odd table and the audit rows

  for (const char* table : kTables) {
    SCOPED_TRACE(table);
    const std::string expected = Checksum(src, table);
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(Checksum(dst, table), expected);
  }
  EXPECT_EQ(test::RootSql("SELECT COUNT(*) FROM `" + dst + "`.items;"), "3007\n");
  // The trigger came across and still writes through (its text in utf8mb4).
  EXPECT_EQ(ShowCreateTrigger(dst), ShowCreateTrigger(src));
  EXPECT_NE(ShowCreateTrigger(dst).find("naïve;"), std::string::npos);
  test::RootSql("INSERT INTO `" + dst + "`.items (name) VALUES ('x');");
  EXPECT_EQ(test::RootSql("SELECT what FROM `" + dst + "`.audit ORDER BY id DESC LIMIT 1;"),
            "✓ -- done\n");
  EXPECT_EQ(test::RootSql("SELECT COUNT(*) FROM `" + dst + "`.pricey;"),
            test::RootSql("SELECT COUNT(*) FROM `" + src + "`.pricey;"));
  EXPECT_EQ(test::RootSql("SELECT name FROM `" + dst + "`.items WHERE id = 6;"), "naïve café\n");
  EXPECT_EQ(test::RootSql("SELECT HEX(data) FROM `" + dst + "`.items WHERE id=1;"),
            "00275C0A3B22\n");

  test::RootSql("DROP DATABASE `" + src + "`; DROP DATABASE `" + dst + "`;");
}

}  // namespace
}  // namespace rowset
