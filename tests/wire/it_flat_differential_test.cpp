// The values and lengths the flat interface returns equal those of the real
// client library on the same server, for every column type the server has.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/common/TestServer.h"
#include "wire/ViVURIzodor.h"
// The reference library last: its header is not used, but keep the order
// that lets the wire constants stand.
#include "tests/wire/flat_libmariadb.h"

namespace rowset {
namespace {

using Row = test::MariaDbConnection::Row;

class FlatDifferentialTest : public ::testing::TestWithParam<bool> {
 protected:
  static void SetUpTestSuite() {
    db_ = test::FreshDatabase("flatdiff");
    test::RootSql(
        "create table " + db_ + ".every (k int primary key, "
        "ti tinyint, tiu tinyint unsigned, si smallint, siu smallint unsigned, "
        "mi mediumint, miu mediumint unsigned, i int, iu int unsigned, "
        "bi bigint, biu bigint unsigned, de decimal(30,10), deu decimal(5,2) unsigned, "
        "fl float, dbl double, da date, tm time, tm3 time(3), dt datetime, "
        "dt6 datetime(6), ts timestamp null default null, yr year, "
        "ch char(5), vc varchar(300), tx text, lt longtext, bl blob, "
        "bn binary(4), vb varbinary(10), en enum('a','bb',''), st set('x','y','z'), "
        "b1 bit(1), b10 bit(10), b64 bit(64), zf int(6) zerofill)");
    test::RootSql(
        "insert into " + db_ + ".every values "
        "(1, -128, 255, -32768, 65535, -8388608, 16777215, -2147483648, "
        "4294967295, -9223372036854775808, 18446744073709551615, "
        "-12345678901234567890.0123456789, 999.99, -1.17549e-38, "
        "-1.7976931348623157e308, '1000-01-01', '-838:59:59', '12:34:56.789', "
        "'9999-12-31 23:59:59', '2020-02-29 01:02:03.000004', "
        "'2038-01-19 03:14:07', 1901, 'ab', repeat('v', 300), 'text\\n\\ttabs', "
        "repeat('L', 70000), 0x00ff00fe0001, 0x00000000, 0x0000, 'bb', 'x,z', "
        "b'1', b'1010101010', 18446744073709551615, 42), "
        "(2, 127, 0, 32767, 0, 8388607, 0, 2147483647, 0, 9223372036854775807, "
        "0, 0.0000000001, 0, 3.40282e38, 2.2250738585072014e-308, '2024-06-30', "
        "'00:00:00', '-00:00:00.001', '2000-01-01 00:00:00', "
        "'1970-01-01 00:00:01.5', '1970-01-01 00:00:01', 2155, '', '', '', '', '', "
        "'', '', '', '', b'0', b'0', 0, 0), "
        "(3, null, null, null, null, null, null, null, null, null, null, null, "
        "null, null, null, null, null, null, null, null, null, null, null, null, "
        "null, null, null, null, null, null, null, null, null, null, null)");
  }

  void SetUp() override {
    const auto& s = test::Server();
    ref_.Connect(s.host, s.port, s.user, "", db_, GetParam());
    h_ = mysql_init(nullptr);
    // The reference's character set, so that lengths and character set
    // numbers of the column descriptions can be compared.
    mysql_options(h_, MYSQL_SET_CHARSET_NAME, "latin1");
    if (GetParam()) mysql_options(h_, MYSQL_OPT_COMPRESS, nullptr);
    ASSERT_EQ(mysql_real_connect(h_, s.host.c_str(), s.user.c_str(), "",
                                 db_.c_str(), s.port, nullptr, 0),
              1)
        << mysql_error(h_);
    ASSERT_EQ(h_->net.compress, GetParam());
  }
  void TearDown() override { mysql_close(h_); }

  std::vector<Row> Ours(const std::string& sql, unsigned& fields) {
    std::vector<Row> rows;
    EXPECT_EQ(mysql_real_query(h_, sql.c_str(), sql.size()), 0) << mysql_error(h_);
    ViVURIzodorResultHandle r = mysql_use_result(h_);
    if (r == nullptr) return rows;
    fields = mysql_num_fields(r);
    while (MYSQL_ROW row = mysql_fetch_row(r)) {
      unsigned long* len = mysql_fetch_lengths(r);
      Row out(fields);
      for (unsigned i = 0; i < fields; ++i)
        if (row[i] != nullptr) out[i] = std::string(row[i], len[i]);
      rows.push_back(std::move(out));
    }
    EXPECT_EQ(mysql_errno(h_), 0u) << mysql_error(h_);
    mysql_free_result(r);
    return rows;
  }

  // Compares and returns the number of rows.
  size_t Compare(const std::string& sql) {
    unsigned fields = 0;
    std::vector<Row> ours = Ours(sql, fields);
    std::vector<Row> theirs = ref_.Rows(sql);
    EXPECT_EQ(ours.size(), theirs.size()) << sql;
    if (ours.size() != theirs.size()) return 0;
    for (size_t r = 0; r < ours.size(); ++r) {
      EXPECT_EQ(ours[r].size(), theirs[r].size()) << sql;
      if (ours[r].size() != theirs[r].size()) return 0;
      for (size_t c = 0; c < ours[r].size(); ++c) {
        EXPECT_EQ(ours[r][c].has_value(), theirs[r][c].has_value())
            << sql << " row " << r << " column " << c;
        if (ours[r][c] && theirs[r][c]) {
          EXPECT_EQ(ours[r][c]->size(), theirs[r][c]->size())
              << sql << " row " << r << " column " << c;
          EXPECT_TRUE(*ours[r][c] == *theirs[r][c])
              << sql << " row " << r << " column " << c << ": '" << *ours[r][c]
              << "' vs '" << *theirs[r][c] << "'";
        }
      }
    }
    return ours.size();
  }

  static std::string db_;
  test::MariaDbConnection ref_;
  ViVURIzodorHandle h_ = nullptr;
};

std::string FlatDifferentialTest::db_;

TEST_P(FlatDifferentialTest, EveryColumnType) {
  EXPECT_EQ(Compare("select * from every order by k"), 3u);
}

TEST_P(FlatDifferentialTest, ExpressionsAndFunctions) {
  Compare("select 1, -1, 1.5, 1e10, 'x', null, '', 0x00414200, "
          "cast(-1 as unsigned), 1/3, pi(), now() = now(), date'2020-01-02', "
          "cast('10:11:12' as time), concat('a', char(0), 'b'), "
          "repeat('z', 65536), group_concat(k) from every");
  Compare("select k, hex(bl), length(lt), bit_count(b64), en + 0, st + 0 "
          "from every order by k");
  Compare("select * from every where k < 0");
}

// Every member of the 4.1 column descriptions equals the library's (the
// record has the library's layout, so its pointer is read as ours).
void CompareFields(ViVURIzodorHandle h, test::MariaDbConnection& ref, const std::string& sql) {
  SCOPED_TRACE(sql);
  const test::LibMariaDb& lib = ref.Lib();
  ASSERT_EQ(lib.mysql_real_query(ref.Handle(), sql.data(), sql.size()), 0);
  test::MYSQL_RES* theirs = lib.mysql_use_result(ref.Handle());
  ASSERT_EQ(mysql_real_query(h, sql.data(), sql.size()), 0) << mysql_error(h);
  ViVURIzodorResultHandle ours = mysql_use_result(h);
  ASSERT_NE(theirs, nullptr);
  ASSERT_NE(ours, nullptr);
  ASSERT_EQ(mysql_num_fields(ours), lib.mysql_num_fields(theirs));
  auto text = [](const char* p, unsigned n) {
    return p == nullptr ? std::string("(null)") : std::string(p, n);
  };
  for (unsigned i = 0; i < mysql_num_fields(ours); ++i) {
    const TMysql_FieldDef* a = mysql_fetch_field(ours);
    const auto* b = static_cast<const TMysql_FieldDef*>(lib.mysql_fetch_field(theirs));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    SCOPED_TRACE(b->name);
    EXPECT_EQ(text(a->name, a->name_length), text(b->name, b->name_length));
    EXPECT_EQ(text(a->org_name, a->org_name_length), text(b->org_name, b->org_name_length));
    EXPECT_EQ(text(a->table, a->table_length), text(b->table, b->table_length));
    EXPECT_EQ(text(a->org_table, a->org_table_length), text(b->org_table, b->org_table_length));
    EXPECT_EQ(text(a->db, a->db_length), text(b->db, b->db_length));
    EXPECT_EQ(text(a->catalog, a->catalog_length), text(b->catalog, b->catalog_length));
    EXPECT_EQ(a->def == nullptr, b->def == nullptr);
    EXPECT_EQ(a->length, b->length);
    EXPECT_EQ(a->max_length, b->max_length);
    EXPECT_EQ(a->flags, b->flags);
    EXPECT_EQ(a->decimals, b->decimals);
    EXPECT_EQ(a->charsetnr, b->charsetnr);
    EXPECT_EQ(a->type, b->type);  // the low byte of the library's enum
  }
  EXPECT_EQ(mysql_fetch_field(ours), nullptr);
  while (mysql_fetch_row(ours) != nullptr) {
  }
  while (lib.mysql_fetch_row(theirs) != nullptr) {
  }
  mysql_free_result(ours);
  lib.mysql_free_result(theirs);
}

TEST_P(FlatDifferentialTest, FieldDescriptions) {
  CompareFields(h_, ref_, "select * from every");
  CompareFields(h_, ref_, "select k as kk, e.vc as alias, 1 + 1, null, 'x', 1.5, now(), "
                          "group_concat(en), count(*) from every e group by k");
  CompareFields(h_, ref_, "select a.k, b.tx from every a join every b on a.k = b.k");
  CompareFields(h_, ref_, "select * from (select k, bl from every) d");
  CompareFields(h_, ref_, "show tables");
}

TEST_P(FlatDifferentialTest, StatusWarningsAndSqlStates) {
  const test::LibMariaDb& lib = ref_.Lib();
  for (const std::string sql : {"selec 1", "select * from nonexist", "select 1 from every where k = (select k from every)",
                                "insert into every (k) values (1)"}) {
    SCOPED_TRACE(sql);
    EXPECT_NE(mysql_real_query(h_, sql.data(), sql.size()), 0);
    EXPECT_NE(lib.mysql_real_query(ref_.Handle(), sql.data(), sql.size()), 0);
    EXPECT_EQ(mysql_errno(h_), lib.mysql_errno(ref_.Handle()));
    EXPECT_STREQ(mysql_sqlstate(h_), lib.mysql_sqlstate(ref_.Handle()));
    EXPECT_STREQ(mysql_error(h_), lib.mysql_error(ref_.Handle()));
  }
  const std::string sql = "select cast('1x' as signed), cast('2y' as signed)";
  ASSERT_EQ(Compare(sql), 1u);
  EXPECT_EQ(mysql_warning_count(h_), lib.mysql_warning_count(ref_.Handle()));
  EXPECT_EQ(mysql_warning_count(h_), 2u);
  EXPECT_STREQ(mysql_sqlstate(h_), "00000");
}

TEST_P(FlatDifferentialTest, ManyRows) {
  EXPECT_EQ(Compare("select a.k, b.vc, c.bn from every a, every b, every c, "
                    "every d order by 1, 2, 3"),
            81u);
  EXPECT_EQ(Compare("select seq, seq * 1.5, concat('row', seq) from seq_1_to_20000"),
            20000u);
}

INSTANTIATE_TEST_SUITE_P(Protocols, FlatDifferentialTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Compressed" : "Plain";
                         });

}  // namespace
}  // namespace rowset
