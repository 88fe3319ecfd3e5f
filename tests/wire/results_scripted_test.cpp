// Answers a real server never sends: 8-byte counters, and malformed result
// packets, which must fail cleanly without reading past the payload.
#include <gtest/gtest.h>

#include <string>

#include "tests/common/ScriptedPeer.h"
#include "wire/ViVURIzodor.h"

namespace rowset {
namespace {

// A statement of the flat interface, passed with its length.
int Query(ViVURIzodorHandle h, std::string_view sql) {
  return mysql_real_query(h, sql.data(), static_cast<unsigned long>(sql.size()));
}

using test::Packet;
using test::ScriptedPeer;

std::string Lcs(const std::string& s) {
  // Length-coded string (short forms only; enough for these tests).
  if (s.size() < 251) return std::string(1, static_cast<char>(s.size())) + s;
  std::string out("\xfc");
  out += static_cast<char>(s.size() & 0xFF);
  out += static_cast<char>(s.size() >> 8);
  return out + s;
}

std::string Le(uint64_t v, int width) {
  std::string out;
  for (int i = 0; i < width; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
  return out;
}

// A column packet of the old layout with 2-byte flags and decimals.
std::string Column(const std::string& name, uint8_t type, uint32_t length = 11,
                   uint16_t flags = 0) {
  return Lcs("t") + Lcs(name) + Lcs(Le(length, 3)) +
         Lcs(std::string(1, static_cast<char>(type))) + Lcs(Le(flags, 2) + '\0');
}

const std::string kEnd("\xfe", 1);

// A peer that takes the login and then answers one statement with `answer`
// (packets numbered from 1).
class Session {
 public:
  explicit Session(const std::vector<std::string>& answer,
                   uint16_t capabilities = 0x2C) {
    peer_.Send(Packet(0, test::Greeting(7, capabilities)))
        .ReadPacket()
        .Send(Packet(2, test::OkPayload()));
    peer_.ReadPacket();
    std::string bytes;
    uint8_t seq = 1;
    for (const auto& p : answer) bytes += Packet(seq++, p);
    peer_.Send(bytes);
    peer_.Start();
    h_ = mysql_init(nullptr);
    connected_ = mysql_real_connect(h_, "127.0.0.1", "u", "", "", peer_.port(),
                                    nullptr, 0) == 1;
  }
  ~Session() {
    mysql_close(h_);
    peer_.Join();
  }
  ViVURIzodorHandle h() { return h_; }
  bool connected() const { return connected_; }

 private:
  ScriptedPeer peer_;
  ViVURIzodorHandle h_ = nullptr;
  bool connected_ = false;
};

TEST(ResultsScriptedTest, OkPacketWithWideCounters) {
  // Affected rows with the 2-byte marker, insert id with the 8-byte marker.
  std::string ok = std::string("\0", 1) + "\xfc" + Le(0x1234, 2) + "\xfe" +
                   Le(0x0807060504030201ull, 8) + Le(2, 2);
  Session s({ok});
  ASSERT_TRUE(s.connected()) << mysql_error(s.h());
  ASSERT_EQ(Query(s.h(), "update t set a = 1"), 0) << mysql_error(s.h());
  EXPECT_EQ(mysql_affected_rows(s.h()), 0x1234u);
  EXPECT_EQ(mysql_insert_id(s.h()), 0x0807060504030201ull);
  EXPECT_EQ(mysql_use_result(s.h()), nullptr);
}

TEST(ResultsScriptedTest, ValuesKeepZeroBytesAndNullDiffersFromEmpty) {
  std::string zero("a\0b\0", 4);
  Session s({"\x03", Column("a", 253), Column("b", 253), Column("c", 253), kEnd,
             Lcs(zero) + Lcs("") + "\xfb", kEnd});
  ASSERT_TRUE(s.connected());
  ASSERT_EQ(Query(s.h(), "select"), 0) << mysql_error(s.h());
  ViVURIzodorResultHandle r = mysql_use_result(s.h());
  ASSERT_NE(r, nullptr);
  MYSQL_ROW row = mysql_fetch_row(r);
  ASSERT_NE(row, nullptr);
  unsigned long* len = mysql_fetch_lengths(r);
  EXPECT_EQ(std::string(row[0], len[0]), zero);
  ASSERT_NE(row[1], nullptr);
  EXPECT_EQ(len[1], 0u);
  EXPECT_STREQ(row[1], "");
  EXPECT_EQ(row[2], nullptr);
  EXPECT_EQ(len[2], 0u);
  EXPECT_EQ(mysql_fetch_row(r), nullptr);
  EXPECT_EQ(mysql_errno(s.h()), 0u);
  mysql_free_result(r);
}

// Each malformed answer fails the statement or ends the rows with an error,
// and leaves the session closed rather than out of step.
struct Malformed {
  const char* what;
  std::vector<std::string> answer;
  bool fails_at_query;  // else the rows end with an error
};

void PrintTo(const Malformed& m, std::ostream* os) { *os << m.what; }

class ResultsMalformedTest : public ::testing::TestWithParam<Malformed> {};

TEST_P(ResultsMalformedTest, FailsCleanly) {
  const Malformed& m = GetParam();
  Session s(m.answer);
  ASSERT_TRUE(s.connected());
  int rc = Query(s.h(), "select");
  if (m.fails_at_query) {
    EXPECT_NE(rc, 0) << m.what;
    EXPECT_EQ(mysql_errno(s.h()), CR_MALFORMED_PACKET) << m.what;
    EXPECT_EQ(mysql_use_result(s.h()), nullptr);
  } else {
    ASSERT_EQ(rc, 0) << m.what << ": " << mysql_error(s.h());
    ViVURIzodorResultHandle r = mysql_use_result(s.h());
    ASSERT_NE(r, nullptr) << m.what;
    int rows = 0;
    while (mysql_fetch_row(r) != nullptr) ++rows;
    EXPECT_EQ(rows, 1) << m.what;  // the good first row only
    EXPECT_TRUE(r->HadErrors()) << m.what;
    EXPECT_EQ(mysql_errno(s.h()), CR_MALFORMED_PACKET) << m.what;
    mysql_free_result(r);
  }
  EXPECT_FALSE(s.h()->GetConnected()) << m.what;
  // The session is not left waiting for a result.
  EXPECT_EQ(s.h()->status, MYSQL_STATUS_READY) << m.what;
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ResultsMalformedTest,
    ::testing::Values(
        Malformed{"row with fewer values than columns",
                  {"\x02", Column("a", 3), Column("b", 3), kEnd, Lcs("1") + Lcs("2"),
                   Lcs("1"), kEnd},
                  false},
        Malformed{"value running past the packet end",
                  {"\x01", Column("a", 253), kEnd, Lcs("ok"), "\x0a" "abc", kEnd},
                  false},
        Malformed{"value length with a cut 3-byte marker",
                  {"\x01", Column("a", 253), kEnd, Lcs("ok"), "\xfd\x01", kEnd},
                  false},
        Malformed{"value length with the 255 marker",
                  {"\x02", Column("a", 253), Column("b", 253), kEnd, Lcs("ok") + Lcs("ok"),
                   Lcs("x") + "\xff\x01\x00", kEnd},
                  false},
        Malformed{"column packet too short for its length field",
                  {"\x01",
                   Lcs("t") + Lcs("a") + Lcs(Le(11, 2)) + Lcs("\x03") + Lcs(Le(0, 3)),
                   kEnd},
                  true},
        Malformed{"column packet without the type",
                  {"\x01", Lcs("t") + Lcs("a") + Lcs(Le(11, 3)) + Lcs("") + Lcs(Le(0, 3)),
                   kEnd},
                  true},
        Malformed{"column packet with the type cut off",
                  {"\x01", Lcs("t") + Lcs("a") + Lcs(Le(11, 3)) + "\x01", kEnd},
                  true},
        Malformed{"column packet with fewer values than five",
                  {"\x01", Lcs("t") + Lcs("a") + Lcs(Le(11, 3)), kEnd},
                  true},
        Malformed{"fewer column packets than announced",
                  {"\x03", Column("a", 3), Column("b", 3), kEnd},
                  true},
        Malformed{"more column packets than announced",
                  {"\x01", Column("a", 3), Column("b", 3), kEnd},
                  true},
        Malformed{"absurd column count",
                  {std::string("\xfe", 1) + Le(1ull << 40, 8), kEnd},
                  true},
        Malformed{"column count cut short",
                  {"\xfd\x01"},
                  true},
        // Eight bytes of all ones: neither NULL nor a local-file request.
        Malformed{"value length of all ones",
                  {"\x01", Column("a", 253), kEnd, Lcs("ok"),
                   std::string("\xfe") + std::string(8, '\xff'), kEnd},
                  false},
        Malformed{"column count of all ones",
                  {std::string("\xfe") + std::string(8, '\xff') + "/etc/passwd", kEnd},
                  true}));

TEST(ResultsScriptedTest, ServerErrorInsteadOfARowEndsTheRows) {
  std::string error = std::string("\xff") + Le(1317, 2) + "Query execution was interrupted";
  Session s({"\x01", Column("a", 3), kEnd, Lcs("1"), error});
  ASSERT_TRUE(s.connected());
  ASSERT_EQ(Query(s.h(), "select"), 0);
  ViVURIzodorResultHandle r = mysql_use_result(s.h());
  ASSERT_NE(r, nullptr);
  ASSERT_NE(mysql_fetch_row(r), nullptr);
  EXPECT_EQ(mysql_fetch_row(r), nullptr);
  EXPECT_TRUE(r->HadErrors());
  EXPECT_EQ(mysql_errno(s.h()), 1317u);
  EXPECT_STREQ(mysql_error(s.h()), "Query execution was interrupted");
  // The error ended the answer: the session is ready and still connected.
  EXPECT_EQ(s.h()->status, MYSQL_STATUS_READY);
  EXPECT_TRUE(s.h()->GetConnected());
  mysql_free_result(r);
}

TEST(ResultsScriptedTest, StoredResultFailsWholeAndLeavesTheSessionReady) {
  {
    // A malformed row: nothing partial is returned, the connection is closed.
    Session s({"\x02", Column("a", 3), Column("b", 3), kEnd, Lcs("1") + Lcs("2"),
               Lcs("3"), kEnd});
    ASSERT_TRUE(s.connected());
    ASSERT_EQ(s.h()->realquery("select"), 0);
    EXPECT_EQ(s.h()->store_result(), nullptr);
    EXPECT_EQ(s.h()->GetLastErrorNo(), CR_MALFORMED_PACKET);
    EXPECT_EQ(s.h()->status, MYSQL_STATUS_READY);
    EXPECT_EQ(s.h()->fields, nullptr);
    EXPECT_FALSE(s.h()->GetConnected());
  }
  {
    // An error packet among the rows: the server's error; still connected.
    std::string error = std::string("\xff") + Le(1028, 2) + "Sort aborted";
    Session s({"\x01", Column("a", 3), kEnd, Lcs("1"), error});
    ASSERT_TRUE(s.connected());
    ASSERT_EQ(s.h()->realquery("select"), 0);
    EXPECT_EQ(s.h()->store_result(), nullptr);
    EXPECT_EQ(s.h()->GetLastErrorNo(), 1028u);
    EXPECT_EQ(s.h()->status, MYSQL_STATUS_READY);
    EXPECT_TRUE(s.h()->GetConnected());
  }
  {
    // A good one, with max_length kept during the single pass.
    Session s({"\x02", Column("a", 253), Column("b", 253), kEnd,
               Lcs("abc") + "\xfb", Lcs("z") + Lcs("hello"), kEnd});
    ASSERT_TRUE(s.connected());
    ASSERT_EQ(s.h()->realquery("select"), 0);
    auto r = s.h()->store_result();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->row_count, 2u);
    EXPECT_EQ(r->FieldDef(0)->max_length, 3u);
    EXPECT_EQ(r->FieldDef(1)->max_length, 5u);
    EXPECT_EQ(r->FieldValue(1), nullptr);
    r->Next();
    EXPECT_STREQ(r->FieldValue(1), "hello");
    EXPECT_EQ(s.h()->affected_rows, 2u);
  }
}

TEST(ResultsScriptedTest, ColumnFlagsAndNumericTypes) {
  // The greeting has LONGFLAG: flags take 2 bytes, then the decimals.
  Session s({"\x06", Column("i", 3, 11, 0x0003), Column("ts14", 7, 14),
             Column("ts19", 7, 19), Column("y", 13, 4),
             Lcs("t") + Lcs("f") + Lcs(Le(8, 3)) + Lcs("\xfd") + Lcs(Le(0x0421, 2)),
             Lcs("t") + Lcs("g") + Lcs(Le(8, 3)) + Lcs("\xfd") + "\xfb", kEnd, kEnd});
  ASSERT_TRUE(s.connected());
  ASSERT_EQ(Query(s.h(), "select"), 0);
  ViVURIzodorResultHandle r = mysql_use_result(s.h());
  ASSERT_NE(r, nullptr);
  TMysql_FieldDef* f = mysql_fetch_field(r);
  ASSERT_NE(f, nullptr);
  EXPECT_STREQ(f->name, "i");
  EXPECT_STREQ(f->table, "t");
  EXPECT_EQ(f->def, nullptr);
  EXPECT_EQ(f->flags, 0x0003u | NUM_FLAG);
  EXPECT_EQ(f->length, 11u);
  EXPECT_TRUE(mysql_fetch_field(r)->flags & NUM_FLAG);     // timestamp(14)
  EXPECT_FALSE(mysql_fetch_field(r)->flags & NUM_FLAG);    // datetime-like text
  f = mysql_fetch_field(r);                                // year
  EXPECT_TRUE(f->flags & NUM_FLAG);
  EXPECT_EQ(f->decimals, 0u);
  // Flags without decimals, and no flags at all, read as far as present.
  f = mysql_fetch_field(r);
  EXPECT_EQ(f->flags, 0x0421u);
  EXPECT_EQ(f->decimals, 0u);
  f = mysql_fetch_field(r);
  EXPECT_EQ(f->flags, 0u);
  EXPECT_EQ(f->type, 253);
  EXPECT_EQ(mysql_fetch_field(r), nullptr);
  EXPECT_EQ(mysql_fetch_field(r), nullptr);
  EXPECT_EQ(mysql_fetch_row(r), nullptr);
  EXPECT_FALSE(r->HadErrors());
  mysql_free_result(r);
}

TEST(ResultsScriptedTest, OneByteFlagsWithoutLongFlag) {
  // Without LONGFLAG the last value is one byte of flags and the decimals.
  Session s({"\x01",
             Lcs("t") + Lcs("d") + Lcs(Le(10, 3)) + Lcs(std::string(1, '\0')) + Lcs("\x23\x02"),
             kEnd, kEnd},
            0x28);
  ASSERT_TRUE(s.connected());
  ASSERT_EQ(Query(s.h(), "select"), 0);
  ViVURIzodorResultHandle r = mysql_use_result(s.h());
  ASSERT_NE(r, nullptr);
  TMysql_FieldDef* f = mysql_fetch_field(r);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->flags, 0x23u | NUM_FLAG);  // type 0, the old decimal
  EXPECT_EQ(f->decimals, 2u);
  mysql_free_result(r);
}

}  // namespace
}  // namespace rowset
