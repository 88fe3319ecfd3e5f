// A fixed script run through any driver, written down as a transcript that
// every driver must reproduce: column descriptions after normalisation
// (name, table, type, length, flags, decimals), every value with its exact
// bytes, and the affected-row and insert-id texts of statements without a
// result. The library, embedded and direct drivers are tested in separate
// programs (the client and embedded libraries must not share a process), so
// each compares with the one expected transcript below.
//
// Differences between the back ends that the script avoids, and why:
// - Character set: libmariadb announces utf8mb4 at login, the built-in
//   client's old-protocol login announces none (the server's default applies), and
//   the embedded server has its own default. Lengths of text columns are
//   given in the result's character set, so the script first sets latin1.
// - Flags: only the bits every back end reports the same are compared
//   (NUM_FLAG, 32768, is computed by some client libraries and not sent by
//   the server, so it is masked out).
// - Column lengths through the built-in client on the old protocol (asked
//   for): the pre-4.1 protocol gives a column's length in 3 bytes, so the server reports LONGTEXT and
//   LONGBLOB as 16777215 long instead of 4294967295
//   (ExpectedTranscriptOldProtocol).
// - max_length is 0 for unbuffered results in every back end and is left
//   out; org_name, org_table and db exist only from the 4.1 layouts on.
#ifndef ROWSET_TESTS_DRIVERS_DRIVERSCRIPT_H_
#define ROWSET_TESTS_DRIVERS_DRIVERSCRIPT_H_

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "drivers/MySQLDrivers.h"

namespace rowset {

inline const std::vector<std::string>& DriverScript() {
  static const std::vector<std::string> script = {
      "set names latin1",
      "drop table if exists dtypes, dparent, dchild",
      "create table dtypes (id int not null auto_increment primary key, "
      "ti tinyint, si smallint unsigned, mi mediumint, bi bigint, "
      "de decimal(10,2), fl float, do double, bt bit(8), "
      "da date, dt datetime, ts timestamp null default null, tm time, yr year, "
      "ch char(5), vc varchar(20), bn binary(4), vb varbinary(10), "
      "tt tinytext, tx text, mt mediumtext, lt longtext, "
      "tb tinyblob, bl blob, mb mediumblob, lb longblob, "
      "en enum('red','green'), st set('x','y','z')) character set latin1",
      "insert into dtypes (ti, si, mi, bi, de, fl, do, bt, da, dt, ts, tm, yr, "
      "ch, vc, bn, vb, tt, tx, mt, lt, tb, bl, mb, lb, en, st) values "
      "(-128, 65535, -8388608, -9223372036854775808, -12345678.90, 1.5, "
      "-2.25e100, b'10100101', '2004-02-29', '1999-12-31 23:59:59', "
      "'2020-01-02 03:04:05', '-838:59:59', 2155, 'ab', 'it''s \"q\"', "
      "0x00ff00ff, 0x610062, 'tiny', 'line1\\nline2', 'medium', 'long', "
      "0x00, 0xdeadbeef, '', 0x0a0d, 'green', 'x,z')",
      "insert into dtypes (ti) values (null)",
      "insert into dtypes (ti, vc) values (127, '')",
      "select * from dtypes order by id",
      "update dtypes set mi = 1 where id > 1",
      "delete from dtypes where id = 3",
      "select id, ti, vc from dtypes where id > 100",
      "create table dparent (pid int primary key, name varchar(10)) character set latin1",
      "create table dchild (cid int auto_increment primary key, pid int, "
      "qty int) character set latin1",
      "insert into dparent values (1, 'one'), (2, 'two'), (3, null)",
      "insert into dchild (pid, qty) values (1, 10), (1, 20), (2, null), (9, 5)",
      "select p.name, c.qty, c.cid from dparent p join dchild c on c.pid = p.pid "
      "order by c.cid",
      "select p.pid, count(c.cid) as n, sum(c.qty) as total from dparent p "
      "left join dchild c on c.pid = p.pid group by p.pid order by p.pid",
      "select 1 + 1 as two, null as nothing, 'text' as lit",
      "drop table dtypes, dparent, dchild",
  };
  return script;
}

inline std::string DriverScriptValue(const char* value, unsigned long length) {
  if (value == nullptr) return "NULL";
  std::string out = "'";
  for (unsigned long i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(value[i]);
    if (c >= 32 && c < 127 && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out + "'";
}

// Runs the script on `handle` and returns its transcript.
inline std::string RunDriverScript(TMySQLBase& driver, MySQLHandle handle) {
  std::string out;
  for (const std::string& sql : DriverScript()) {
    out += "> " + sql.substr(0, 40) + "\n";
    MySQLResultHandle result = driver.OpenQuery(handle, sql);
    if (result == nullptr) {
      out += "affected " + driver.AffectedRows(handle) + " id " + driver.LastInsertID(handle) +
             "\n";
      continue;
    }
    uint32_t columns = driver.RetrieveColCount(result);
    for (;;) {
      MYSQL_FIELD f = driver.RetrieveField(result);
      if (f.name == nullptr || f.name[0] == '\0') break;
      out += "  field " + std::string(f.name) + " table=" + (f.table ? f.table : "(nil)") +
             " type=" + std::to_string(f.type) + " length=" + std::to_string(f.length) +
             " flags=" + std::to_string(f.flags & ~32768u) +
             " decimals=" + std::to_string(f.decimals) + "\n";
    }
    while (MySQLRow row = driver.RetrieveRow(result)) {
      MySQLLengths lengths = driver.RetrieveRowFieldLenghts(result);
      out += "  row";
      for (uint32_t i = 0; i < columns; ++i) out += " " + DriverScriptValue(row[i], lengths[i]);
      out += "\n";
    }
    out += "rows " + std::to_string(driver.RetrieveRowCount(result)) + "\n";
    driver.CloseQuery(result);
  }
  return out;
}

// With ROWSET_DRIVER_TRANSCRIPT set, the transcript is also written to
// that file (to inspect a difference).
inline void DumpTranscript(const std::string& transcript) {
  if (const char* path = std::getenv("ROWSET_DRIVER_TRANSCRIPT")) {
    std::ofstream(path, std::ios::binary) << transcript;
  }
}

inline const std::string& ExpectedTranscript() {
  static const std::string expected = R"--(> set names latin1
affected 0 id 0
> drop table if exists dtypes, dparent, dc
affected 0 id 0
> create table dtypes (id int not null aut
affected 0 id 0
> insert into dtypes (ti, si, mi, bi, de, 
affected 1 id 1
> insert into dtypes (ti) values (null)
affected 1 id 2
> insert into dtypes (ti, vc) values (127,
affected 1 id 3
> select * from dtypes order by id
  field id table=dtypes type=3 length=11 flags=16899 decimals=0
  field ti table=dtypes type=1 length=4 flags=0 decimals=0
  field si table=dtypes type=2 length=5 flags=32 decimals=0
  field mi table=dtypes type=9 length=9 flags=0 decimals=0
  field bi table=dtypes type=8 length=20 flags=0 decimals=0
  field de table=dtypes type=246 length=12 flags=0 decimals=2
  field fl table=dtypes type=4 length=12 flags=0 decimals=31
  field do table=dtypes type=5 length=22 flags=0 decimals=31
  field bt table=dtypes type=16 length=8 flags=32 decimals=0
  field da table=dtypes type=10 length=10 flags=128 decimals=0
  field dt table=dtypes type=12 length=19 flags=128 decimals=0
  field ts table=dtypes type=7 length=19 flags=160 decimals=0
  field tm table=dtypes type=11 length=10 flags=128 decimals=0
  field yr table=dtypes type=13 length=4 flags=96 decimals=0
  field ch table=dtypes type=254 length=5 flags=0 decimals=0
  field vc table=dtypes type=253 length=20 flags=0 decimals=0
  field bn table=dtypes type=254 length=4 flags=128 decimals=0
  field vb table=dtypes type=253 length=10 flags=128 decimals=0
  field tt table=dtypes type=252 length=255 flags=16 decimals=0
  field tx table=dtypes type=252 length=65535 flags=16 decimals=0
  field mt table=dtypes type=252 length=16777215 flags=16 decimals=0
  field lt table=dtypes type=252 length=4294967295 flags=16 decimals=0
  field tb table=dtypes type=252 length=255 flags=144 decimals=0
  field bl table=dtypes type=252 length=65535 flags=144 decimals=0
  field mb table=dtypes type=252 length=16777215 flags=144 decimals=0
  field lb table=dtypes type=252 length=4294967295 flags=144 decimals=0
  field en table=dtypes type=254 length=5 flags=256 decimals=0
  field st table=dtypes type=254 length=5 flags=2048 decimals=0
  row '1' '-128' '65535' '-8388608' '-9223372036854775808' '-12345678.90' '1.5' '-2.25e100' '\xa5' '2004-02-29' '1999-12-31 23:59:59' '2020-01-02 03:04:05' '-838:59:59' '2155' 'ab' 'it's "q"' '\x00\xff\x00\xff' 'a\x00b' 'tiny' 'line1\x0aline2' 'medium' 'long' '\x00' '\xde\xad\xbe\xef' '' '\x0a\x0d' 'green' 'x,z'
  row '2' NULL NULL NULL NULL NULL NULL NULL NULL NULL NULL NULL NULL NULL NULL NULL NULL NULL NULL NULL NULL NULL NULL NULL NULL NULL NULL NULL
  row '3' '127' NULL NULL NULL NULL NULL NULL NULL NULL NULL NULL NULL NULL NULL '' NULL NULL NULL NULL NULL NULL NULL NULL NULL NULL NULL NULL
rows 3
> update dtypes set mi = 1 where id > 1
affected 2 id 0
> delete from dtypes where id = 3
affected 1 id 0
> select id, ti, vc from dtypes where id >
  field id table=dtypes type=3 length=11 flags=16899 decimals=0
  field ti table=dtypes type=1 length=4 flags=0 decimals=0
  field vc table=dtypes type=253 length=20 flags=0 decimals=0
rows 0
> create table dparent (pid int primary ke
affected 0 id 0
> create table dchild (cid int auto_increm
affected 0 id 0
> insert into dparent values (1, 'one'), (
affected 3 id 0
> insert into dchild (pid, qty) values (1,
affected 4 id 1
> select p.name, c.qty, c.cid from dparent
  field name table=p type=253 length=10 flags=0 decimals=0
  field qty table=c type=3 length=11 flags=0 decimals=0
  field cid table=c type=3 length=11 flags=1 decimals=0
  row 'one' '10' '1'
  row 'one' '20' '2'
  row 'two' NULL '3'
rows 3
> select p.pid, count(c.cid) as n, sum(c.q
  field pid table=p type=3 length=11 flags=4097 decimals=0
  field n table= type=8 length=21 flags=1 decimals=0
  field total table= type=246 length=33 flags=0 decimals=0
  row '1' '2' '30'
  row '2' '1' NULL
  row '3' '0' NULL
rows 3
> select 1 + 1 as two, null as nothing, 't
  field two table= type=3 length=3 flags=129 decimals=0
  field nothing table= type=6 length=0 flags=128 decimals=0
  field lit table= type=253 length=4 flags=1 decimals=39
  row '2' NULL 'text'
rows 1
> drop table dtypes, dparent, dchild
affected 0 id 0
)--";
  return expected;
}

// The transcript through the pre-4.1 protocol: the same but for the lengths
// of the two long types, which that protocol cannot carry.
inline std::string ExpectedTranscriptOldProtocol() {
  std::string text = ExpectedTranscript();
  for (const char* column : {"lt", "lb"}) {
    std::string field = std::string("  field ") + column + " table=dtypes type=252 length=";
    size_t at = text.find(field + "4294967295 ");
    if (at != std::string::npos) text.replace(at + field.size(), 10, "16777215");
  }
  return text;
}

}  // namespace rowset

#endif  // ROWSET_TESTS_DRIVERS_DRIVERSCRIPT_H_
