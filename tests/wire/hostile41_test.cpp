// A hostile or broken server speaking the 4.1 protocol: malformed greetings,
// plugin switches and column descriptions, truncated OK, end and error
// packets, wrong sequence numbers and answers cut into pieces. Every case
// ends with a clear error (or the sound reading of what arrived), never a
// read outside the packet.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/common/ScriptedPeer.h"
#include "wire/ViVURIzodor.h"
#include "wire/uMysqlHelpers.h"
#include "wire/uMysqlNewPassword.h"

namespace rowset {
namespace {

using test::Packet;
using test::ScriptedPeer;

std::string Le(uint64_t v, int width) {
  std::string out;
  for (int i = 0; i < width; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
  return out;
}

std::string Lcs(const std::string& s) {
  return std::string(1, static_cast<char>(s.size())) + s;
}

constexpr uint32_t kCaps41 = CLIENT_LONG_PASSWORD | CLIENT_LONG_FLAG | CLIENT_CONNECT_WITH_DB |
                             CLIENT_PROTOCOL_41 | CLIENT_TRANSACTIONS | CLIENT_SECURE_CONNECTION |
                             CLIENT_MULTI_RESULTS | CLIENT_PLUGIN_AUTH;

// A 4.1 greeting with the 20-byte challenge "abcdefghijklmnopqrst".
std::string Greeting41(const std::string& plugin = "mysql_native_password",
                       uint32_t caps = kCaps41, uint8_t auth_length = 21) {
  std::string g("\x0a", 1);
  g += "4.0.99-scripted";  // below 4.1: no SET NAMES after the login
  g += '\0';
  g += Le(9, 4) + "abcdefgh" + '\0' + Le(caps & 0xFFFF, 2) + '\x08' + Le(2, 2) +
       Le(caps >> 16, 2) + static_cast<char>(auth_length) + std::string(10, '\0') +
       "ijklmnopqrst" + '\0';
  g += plugin;
  g += '\0';
  return g;
}

std::string Ok41(uint16_t status = 2, uint16_t warnings = 0) {
  return std::string("\0\0\0", 3) + Le(status, 2) + Le(warnings, 2);
}

std::string Eof41(uint16_t status = 2, uint16_t warnings = 0) {
  return "\xfe" + Le(warnings, 2) + Le(status, 2);
}

std::string Column41(const std::string& name, uint8_t type = 3) {
  return Lcs("def") + Lcs("db") + Lcs("t") + Lcs("t") + Lcs(name) + Lcs(name) + "\x0c" +
         Le(8, 2) + Le(11, 4) + static_cast<char>(type) + Le(0, 2) + '\0' + std::string(2, '\0');
}

// A client connected to a peer that plays `login` after the greeting (the
// peer first reads the login packet), then answers one statement with
// `answer` (packets numbered from 1), given as raw bytes.
class Session41 {
 public:
  Session41(const std::string& greeting, const std::vector<std::string>& login,
            const std::string& answer_bytes = std::string()) {
    peer_.Send(Packet(0, greeting)).ReadPacket();
    uint8_t seq = 2;
    for (const auto& p : login) {
      if (p == "<read>") {
        peer_.ReadPacket();
        ++seq;
        continue;
      }
      peer_.Send(Packet(seq++, p));
    }
    if (!answer_bytes.empty()) peer_.ReadPacket().Send(answer_bytes);
    peer_.Pause(50).Drop();
    peer_.Start();
    h_ = mysql_init(nullptr);
    connected_ = mysql_real_connect(h_, "127.0.0.1", "u", "pw", "", peer_.port(), nullptr, 0) == 1;
  }
  ~Session41() {
    mysql_close(h_);
    peer_.Join();
  }
  ViVURIzodorHandle h() { return h_; }
  bool connected() const { return connected_; }
  ScriptedPeer& peer() { return peer_; }

 private:
  ScriptedPeer peer_;
  ViVURIzodorHandle h_ = nullptr;
  bool connected_ = false;
};

std::string Answer(const std::vector<std::string>& packets, uint8_t first_seq = 1) {
  std::string bytes;
  for (const auto& p : packets) bytes += Packet(first_seq++, p);
  return bytes;
}

// Reads every row of the statement's result; the number of rows, or -1
// when the rows ended with an error.
int ReadAll(ViVURIzodorHandle h, const std::string& sql) {
  if (mysql_real_query(h, sql.data(), sql.size()) != 0) return -1;
  ViVURIzodorResultHandle r = mysql_use_result(h);
  if (r == nullptr) return mysql_errno(h) == 0 ? 0 : -1;
  int rows = 0;
  while (mysql_fetch_row(r) != nullptr) ++rows;
  mysql_free_result(r);
  return mysql_errno(h) == 0 ? rows : -1;
}

TEST(Hostile41, TheLoginPacketHasThe41Form) {
  Session41 s(Greeting41(), {Ok41()});
  ASSERT_TRUE(s.connected()) << mysql_error(s.h());
  EXPECT_TRUE(s.h()->protocol41());
  const std::vector<std::string> packets = s.peer().ReceivedPackets();
  ASSERT_GE(packets.size(), 1u);
  const std::string& login = packets[0];
  ASSERT_GT(login.size(), 4u + 32);
  EXPECT_EQ(static_cast<uint8_t>(login[3]), 1);  // sequence number
  const uint32_t flags = static_cast<uint8_t>(login[4]) | (static_cast<uint8_t>(login[5]) << 8) |
                         (static_cast<uint8_t>(login[6]) << 16) |
                         (static_cast<uint32_t>(static_cast<uint8_t>(login[7])) << 24);
  EXPECT_TRUE(flags & CLIENT_PROTOCOL_41);
  EXPECT_TRUE(flags & CLIENT_SECURE_CONNECTION);
  EXPECT_TRUE(flags & CLIENT_PLUGIN_AUTH);
  EXPECT_TRUE(flags & CLIENT_MULTI_RESULTS);
  EXPECT_FALSE(flags & CLIENT_MULTI_STATEMENTS);
  EXPECT_FALSE(flags & CLIENT_SSL);
  EXPECT_FALSE(flags & CLIENT_PROTOCOL_323);
  EXPECT_EQ(login.substr(13, 23), std::string(23, '\0'));
  EXPECT_EQ(login.substr(36, 2), std::string("u\0", 2));
  EXPECT_EQ(static_cast<uint8_t>(login[38]), 20);  // answer length
  EXPECT_EQ(login.substr(59), std::string("mysql_native_password\0", 22));
  // The mysql_native_password answer to the 20-byte challenge.
  EXPECT_EQ(login.substr(39, 20),
            mysql_scramble_native("pw", "abcdefghijklmnopqrst"));
}

TEST(Hostile41, MalformedGreetingsAndSwitchesEndTheLogin) {
  // The plugin's name runs to the end of the packet without its zero.
  {
    std::string g = Greeting41();
    g.pop_back();
    Session41 s(g, {Ok41()});
    EXPECT_TRUE(s.connected()) << mysql_error(s.h());
  }
  // An absurd challenge length: the name is looked for past the packet.
  {
    Session41 s(Greeting41("mysql_native_password", kCaps41, 255), {Ok41()});
    EXPECT_TRUE(s.connected()) << mysql_error(s.h());
  }
  // A plugin this client does not know in the greeting: the native answer
  // goes, and the server's switch to a known one is followed.
  {
    Session41 s(Greeting41("some_future_plugin"),
                {"\xfe" "mysql_native_password" + std::string(1, '\x00') + "ABCDEFGHIJKLMNOPQRST" +
                     std::string(1, '\x00'),
                 "<read>", Ok41()});
    EXPECT_TRUE(s.connected()) << mysql_error(s.h());
    EXPECT_EQ(s.h()->auth_plugin, "mysql_native_password");
    const std::vector<std::string> packets = s.peer().ReceivedPackets();
    ASSERT_GE(packets.size(), 2u);
    EXPECT_EQ(packets[1].substr(4), mysql_scramble_native("pw", "ABCDEFGHIJKLMNOPQRST"));
    EXPECT_EQ(static_cast<uint8_t>(packets[1][3]), 3);
  }
  // A switch to a plugin nobody here knows.
  {
    Session41 s(Greeting41(), {"\xfe" "dialog" + std::string(1, '\x00') + "x"});
    EXPECT_FALSE(s.connected());
    EXPECT_EQ(mysql_errno(s.h()), CR_AUTH_PLUGIN_CANNOT_LOAD);
    EXPECT_NE(std::string(mysql_error(s.h())).find("'dialog'"), std::string::npos);
  }
  // A switch without the zero after the name, with a short challenge, a
  // second switch, more data for a plugin that takes none, and an answer
  // that is none of OK, switch, more data or error.
  const std::vector<std::vector<std::string>> broken = {
      {"\xfe" "mysql_native_password"},
      {"\xfe" "mysql_native_password" + std::string(1, '\x00') + "short"},
      {"\xfe" "mysql_native_password" + std::string(1, '\x00') + std::string(20, 'x'), "<read>",
       "\xfe" "mysql_native_password" + std::string(1, '\x00') + std::string(20, 'y')},
      {"\x01" "more"},
      {"\x07" "what"},
  };
  for (const auto& login : broken) {
    Session41 s(Greeting41(), login);
    EXPECT_FALSE(s.connected());
    EXPECT_EQ(mysql_errno(s.h()), CR_SERVER_HANDSHAKE_ERR) << mysql_error(s.h());
    EXPECT_FALSE(s.h()->GetConnected());
  }
  // The server's refusal, with its SQL state.
  {
    Session41 s(Greeting41(), {"\xff" + Le(1045, 2) + "#28000denied"});
    EXPECT_FALSE(s.connected());
    EXPECT_EQ(mysql_errno(s.h()), 1045u);
    EXPECT_STREQ(mysql_sqlstate(s.h()), "28000");
    EXPECT_STREQ(mysql_error(s.h()), "denied");
  }
}

TEST(Hostile41, MalformedColumnDescriptionsFailCleanly) {
  std::string no_fixed = Column41("a");
  no_fixed.resize(no_fixed.size() - 13);  // the fixed part left out
  std::string short_fixed = Column41("a");
  short_fixed.resize(short_fixed.size() - 12);
  short_fixed += "\x05" "abcde";  // five bytes instead of twelve
  std::string long_name = Column41("a");
  long_name[4 + 3 + 2] = 'p';  // a name longer than the packet
  std::string null_fixed = Column41("a");
  null_fixed[null_fixed.size() - 13] = '\xfb';
  for (const std::string& column : {no_fixed, short_fixed, long_name, null_fixed,
                                    std::string("\x03" "def"), std::string()}) {
    Session41 s(Greeting41(), {Ok41()}, Answer({"\x01", column, Eof41(), "\x01" "1", Eof41()}));
    ASSERT_TRUE(s.connected()) << mysql_error(s.h());
    EXPECT_EQ(ReadAll(s.h(), "select a"), -1);
    EXPECT_TRUE(mysql_errno(s.h()) == CR_MALFORMED_PACKET || mysql_errno(s.h()) == CR_SERVER_LOST)
        << mysql_errno(s.h());
    EXPECT_FALSE(s.h()->GetConnected());
  }
}

TEST(Hostile41, TruncatedOkEndAndErrorPackets) {
  // An OK packet cut short keeps what arrived.
  {
    Session41 s(Greeting41(), {Ok41()}, Answer({std::string("\x00\x05", 2)}));
    ASSERT_TRUE(s.connected());
    EXPECT_EQ(ReadAll(s.h(), "update t"), 0);
    EXPECT_EQ(mysql_affected_rows(s.h()), 5u);
    EXPECT_EQ(mysql_warning_count(s.h()), 0u);
  }
  // A counter running past the packet.
  {
    Session41 s(Greeting41(), {Ok41()}, Answer({std::string("\x00\xfe\x01\x02", 4)}));
    ASSERT_TRUE(s.connected());
    EXPECT_EQ(ReadAll(s.h(), "update t"), 0);
    EXPECT_EQ(mysql_affected_rows(s.h()), 0u);
  }
  // End packets without warnings and status end the rows all the same.
  for (const std::string& end : {std::string("\xfe"), std::string("\xfe\x01\x00", 3)}) {
    Session41 s(Greeting41(), {Ok41()},
                Answer({"\x01", Column41("a"), end, "\x01" "1", "\x01" "2", end}));
    ASSERT_TRUE(s.connected());
    EXPECT_EQ(ReadAll(s.h(), "select a"), 2);
    EXPECT_FALSE(mysql_more_results(s.h()));
  }
  // Error packets cut before, inside and right after the SQL state.
  struct Case {
    std::string packet;
    unsigned number;
    const char* state;
  };
  for (const Case& c : {Case{"\xff", CR_UNKNOWN_ERROR, "HY000"},
                        Case{"\xff\x10\x04", CR_UNKNOWN_ERROR, "HY000"},
                        Case{"\xff\x10\x04#42", 1040, "HY000"},
                        Case{"\xff\x10\x04#42S02", 1040, "42S02"},
                        Case{std::string("\xff\x00\x00#42S02gone", 11), CR_UNKNOWN_ERROR, "42S02"}}) {
    Session41 s(Greeting41(), {Ok41()}, Answer({c.packet}));
    ASSERT_TRUE(s.connected());
    EXPECT_EQ(ReadAll(s.h(), "select a"), -1);
    EXPECT_EQ(mysql_errno(s.h()), c.number);
    EXPECT_STREQ(mysql_sqlstate(s.h()), c.state);
  }
  // An error within the rows is raised, not read as their end.
  {
    Session41 s(Greeting41(), {Ok41()},
                Answer({"\x01", Column41("a"), Eof41(), "\x01" "1", "\xff\x0a\x05#HY001no memory"}));
    ASSERT_TRUE(s.connected());
    EXPECT_EQ(ReadAll(s.h(), "select a"), -1);
    EXPECT_EQ(mysql_errno(s.h()), 1290u);
    EXPECT_STREQ(mysql_sqlstate(s.h()), "HY001");
  }
}

TEST(Hostile41, MoreResultsThatNeverComeOrEndBadly) {
  // The end packet promises another result; the connection then drops.
  {
    Session41 s(Greeting41(), {Ok41()},
                Answer({"\x01", Column41("a"), Eof41(), "\x01" "1", Eof41(2 | 8)}));
    ASSERT_TRUE(s.connected());
    EXPECT_EQ(ReadAll(s.h(), "call p()"), 1);
    EXPECT_TRUE(mysql_more_results(s.h()));
    EXPECT_GT(mysql_next_result(s.h()), 0);
    EXPECT_EQ(mysql_errno(s.h()), CR_SERVER_LOST);
    EXPECT_FALSE(mysql_more_results(s.h()));
  }
  // An OK packet promising more, then an error: the answer ends there.
  {
    Session41 s(Greeting41(), {Ok41()},
                Answer({Ok41(2 | 8), "\xffz\x04#42S02no table"}));
    ASSERT_TRUE(s.connected());
    EXPECT_EQ(ReadAll(s.h(), "call p()"), 0);
    EXPECT_TRUE(mysql_more_results(s.h()));
    EXPECT_GT(mysql_next_result(s.h()), 0);
    EXPECT_EQ(mysql_errno(s.h()), 1146u);
    EXPECT_FALSE(mysql_more_results(s.h()));
    EXPECT_EQ(mysql_next_result(s.h()), -1);
  }
}

TEST(Hostile41, BadSequenceNumbersAndSplitAnswers) {
  // A packet out of sequence within the answer is a lost connection.
  {
    std::string bytes = Answer({"\x01", Column41("a"), Eof41()}) + Packet(9, "\x01" "1");
    Session41 s(Greeting41(), {Ok41()}, bytes);
    ASSERT_TRUE(s.connected());
    EXPECT_EQ(ReadAll(s.h(), "select a"), -1);
    EXPECT_EQ(mysql_errno(s.h()), CR_SERVER_LOST);
  }
  // The same answer arriving a few bytes at a time reads as a whole.
  {
    const std::string bytes = Answer({"\x01", Column41("a"), Eof41(), "\x01" "1", Eof41()});
    ScriptedPeer peer;
    peer.Send(Packet(0, Greeting41())).ReadPacket().Send(Packet(2, Ok41())).ReadPacket();
    for (size_t at = 0; at < bytes.size(); at += 3) peer.Send(bytes.substr(at, 3)).Pause(1);
    peer.Pause(50).Drop();
    peer.Start();
    ViVURIzodorHandle h = mysql_init(nullptr);
    ASSERT_EQ(mysql_real_connect(h, "127.0.0.1", "u", "", "", peer.port(), nullptr, 0), 1);
    EXPECT_EQ(ReadAll(h, "select a"), 1);
    mysql_close(h);
    peer.Join();
  }
}

// Valid 4.1 answers with random damage: bytes changed, packets cut short or
// lengthened. Whatever the outcome, nothing is read outside a packet (the
// sanitizer build checks) and a failure leaves an error recorded.
TEST(Hostile41, DamagedAnswersNeverReadOutsideThePacket) {
  std::mt19937 gen(4141);
  const std::vector<std::string> answer = {"\x02",           Column41("a"), Column41("b", 253),
                                           Eof41(),          "\x01" "1\x03" "abc",
                                           "\x01" "2\xfb",   Eof41(2 | 8),
                                           Ok41(2, 1)};
  for (int round = 0; round < 80; ++round) {
    std::vector<std::string> damaged = answer;
    std::string& p = damaged[gen() % damaged.size()];
    switch (gen() % 3) {
      case 0:
        if (!p.empty()) p[gen() % p.size()] = static_cast<char>(gen());
        break;
      case 1:
        p.resize(p.size() > 0 ? gen() % p.size() : 0);
        break;
      default:
        p += std::string(gen() % 5, static_cast<char>(gen()));
    }
    Session41 s(Greeting41(), {Ok41()}, Answer(damaged));
    ASSERT_TRUE(s.connected());
    const int rows = ReadAll(s.h(), "call p()");
    if (rows < 0) {
      EXPECT_NE(mysql_errno(s.h()), 0u);
    }
    while (mysql_more_results(s.h()) && mysql_next_result(s.h()) == 0) {
      ViVURIzodorResultHandle r = mysql_use_result(s.h());
      if (r != nullptr) {
        while (mysql_fetch_row(r) != nullptr) {
        }
        mysql_free_result(r);
      }
    }
  }
}

}  // namespace
}  // namespace rowset
