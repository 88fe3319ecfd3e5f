// A real dump, split into statements and replayed: a database is filled
// with awkward values (quotes, semicolons, line breaks, backslashes, comment
// markers, NUL bytes, UTF-8), dumped with the mariadb-dump client, split by
// ParseScript and replayed statement by statement through the MariaDB
// client library into an empty database. Every table must come out with the
// same checksum.
#include <gtest/gtest.h>
#include <mysql.h>

#include <array>
#include <cstdio>
#include <memory>
#include <string>

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

const char* kTables[] = {"items", "we;ird -- name", "empty"};

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

  TStringList lines;
  lines.SetText(dump);
  ParseScript(lines);
  ASSERT_GT(lines.Count(), 10);

  MYSQL* conn = ::mysql_init(nullptr);
  ASSERT_NE(conn, nullptr);
  std::unique_ptr<MYSQL, void (*)(MYSQL*)> guard(conn, ::mysql_close);
  ::mysql_options(conn, MYSQL_SET_CHARSET_NAME, "utf8mb4");
  ASSERT_NE(::mysql_real_connect(conn, "localhost", server.user.c_str(), "", dst.c_str(), 0,
                                 server.socket.c_str(), 0),
            nullptr)
      << ::mysql_error(conn);
  // The session settings a dump makes in its version comments, which the
  // splitter drops as comments.
  for (const char* sql : {"SET time_zone='+00:00'", "SET sql_mode='NO_AUTO_VALUE_ON_ZERO'",
                          "SET foreign_key_checks=0", "SET unique_checks=0"})
    ASSERT_EQ(::mysql_query(conn, sql), 0) << ::mysql_error(conn);

  int inserts = 0;
  for (int i = 0; i < lines.Count(); ++i) {
    const std::string stmt = lines.Get(i);
    ASSERT_EQ(stmt.find('\n'), std::string::npos);  // one statement per line
    ASSERT_EQ(::mysql_real_query(conn, stmt.data(), stmt.size()), 0)
        << ::mysql_error(conn) << "\nin statement " << i << ": " << stmt.substr(0, 500);
    if (MYSQL_RES* res = ::mysql_store_result(conn)) ::mysql_free_result(res);
    if (stmt.rfind("INSERT INTO", 0) == 0) ++inserts;
  }
  EXPECT_EQ(inserts, 2);

  for (const char* table : kTables) {
    SCOPED_TRACE(table);
    const std::string expected = Checksum(src, table);
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(Checksum(dst, table), expected);
  }
  EXPECT_EQ(test::RootSql("SELECT COUNT(*) FROM `" + dst + "`.items;"), "3007\n");
  EXPECT_EQ(test::RootSql("SELECT HEX(data) FROM `" + dst + "`.items WHERE id=1;"),
            "00275C0A3B22\n");

  test::RootSql("DROP DATABASE `" + src + "`; DROP DATABASE `" + dst + "`;");
}

}  // namespace
}  // namespace rowset
