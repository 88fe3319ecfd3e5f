// The client session against a scripted server: greeting checks, the exact
// login packet, password-switch requests, and command rules that a real
// server cannot be made to exercise.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>

#include "tests/common/ScriptedPeer.h"
#include "wire/uMysqlClient.h"
#include "wire/uMysqlNewPassword.h"

namespace rowset {
namespace {

using test::Greeting;
using test::OkPayload;
using test::Packet;
using test::ScriptedPeer;

std::string ErrorPayload(uint16_t number, const std::string& text) {
  std::string p("\xff");
  p += static_cast<char>(number & 0xFF);
  p += static_cast<char>(number >> 8);
  return p + text;
}

bool Connect(TMysqlClient& c, ScriptedPeer& peer, const std::string& user = "u",
             const std::string& password = "", const std::string& db = "") {
  c.auto_reconnect = false;
  peer.Start();
  return c.connect("127.0.0.1", user, password, db, peer.port(), "", false, 0);
}

// The login packet's payload as the peer received it (after the greeting).
std::string LoginPayload(ScriptedPeer& peer) {
  auto packets = peer.ReceivedPackets();
  return packets.empty() ? std::string() : packets[0].substr(4);
}

TEST(ClientGreeting, Version9AcceptedAnd8Refused) {
  {
    ScriptedPeer peer;
    peer.Send(Packet(0, Greeting(7, 0x200C, 9))).ReadPacket().Send(Packet(2, OkPayload()));
    TMysqlClient c;
    ASSERT_TRUE(Connect(c, peer)) << c.GetLastError();
    EXPECT_EQ(c.GetProtocol_version(), 9u);
    EXPECT_EQ(c.thread_id, 7u);
    EXPECT_EQ(c.server_version, "3.23.99-scripted");
    EXPECT_EQ(c.scramble_buff, "abcdefgh");
    EXPECT_EQ(c.server_capabilities, 0x200Cu);
    c.close();
    peer.Join();
  }
  {
    ScriptedPeer peer;
    peer.Send(Packet(0, Greeting(7, 0x200C, 8)));
    TMysqlClient c;
    EXPECT_FALSE(Connect(c, peer));
    EXPECT_EQ(c.GetLastErrorNo(), 2007u);
    EXPECT_EQ(c.GetLastError(), "Protocol mismatch. Server Version = 8 Client Version = 10");
    EXPECT_FALSE(c.GetConnected());
    peer.Join();
    EXPECT_EQ(peer.Received(), "");  // no login sent
  }
}

TEST(ClientGreeting, MalformedGreetingsFailWithHandshakeError) {
  const std::string cases[] = {
      std::string("\x0a", 1),                         // nothing after the version byte
      std::string("\x0a" "5.0-no-terminator"),        // version never ends
      std::string("\x0a" "5.0\0\1\0\0\0abc", 12),     // challenge cut short
  };
  for (const auto& greeting : cases) {
    ScriptedPeer peer;
    peer.Send(Packet(0, greeting));
    TMysqlClient c;
    EXPECT_FALSE(Connect(c, peer));
    EXPECT_EQ(c.GetLastErrorNo(), 2012u);
    EXPECT_EQ(c.GetLastError(), "Error in server handshake");
    EXPECT_FALSE(c.GetConnected());
    peer.Join();
    EXPECT_EQ(peer.Received(), "");
  }
}

TEST(ClientLogin, ShortGreetingMeansNoCapabilitiesAndInitDb) {
  // Protocol, version, thread id, challenge and its zero byte: nothing more.
  std::string greeting = Greeting(3).substr(0, 1 + 16 + 1 + 4 + 8 + 1);
  ScriptedPeer peer;
  peer.Send(Packet(0, greeting))
      .ReadPacket()
      .Send(Packet(2, OkPayload()))
      .ReadPacket()
      .Send(Packet(1, OkPayload()));
  TMysqlClient c;
  ASSERT_TRUE(Connect(c, peer, "u", "", "mydb")) << c.GetLastError();
  EXPECT_EQ(c.server_capabilities, 0u);
  EXPECT_FALSE(c.net.compress);
  EXPECT_EQ(c.db, "mydb");
  c.close();
  peer.Join();
  auto packets = peer.ReceivedPackets();
  ASSERT_GE(packets.size(), 3u);
  const std::string login = packets[0].substr(4);
  uint16_t flags = static_cast<uint8_t>(login[0]) | (static_cast<uint8_t>(login[1]) << 8);
  EXPECT_EQ(flags & 32, 0);  // no compression
  EXPECT_EQ(flags & 8, 8);   // a database was given...
  EXPECT_EQ(login.substr(5), std::string("u\0\0\0", 4));  // ...but not sent
  EXPECT_EQ(packets[1], Packet(0, "\x02mydb"));           // COM_INIT_DB
  EXPECT_EQ(packets[2], Packet(0, "\x01"));               // COM_QUIT
}

TEST(ClientLogin, PacketLayoutUserCutEmptyPasswordAndDatabase) {
  ScriptedPeer peer;
  peer.Send(Packet(0, Greeting(3, 0x200C))).ReadPacket().Send(Packet(2, OkPayload()));
  TMysqlClient c;
  c.setfcompress(false);
  std::string user(40, 'u');
  ASSERT_TRUE(Connect(c, peer, user, "", "thedb")) << c.GetLastError();
  c.close();
  peer.Join();
  std::string login = LoginPayload(peer);
  EXPECT_EQ(static_cast<uint8_t>(login[0]), 0x8D);  // 0x2085 | CONNECTWITHDB
  EXPECT_EQ(static_cast<uint8_t>(login[1]), 0x20);
  EXPECT_EQ(login.substr(2, 3), std::string(3, '\0'));
  EXPECT_EQ(login.substr(5), std::string(32, 'u') + std::string("\0\0thedb\0", 8));
}

TEST(ClientLogin, OldScrambleAndCompressionWhenOffered) {
  ScriptedPeer peer;
  peer.Send(Packet(0, Greeting(3, 0x200C | 32))).ReadPacket().Send(Packet(2, OkPayload()));
  TMysqlClient c;
  ASSERT_TRUE(Connect(c, peer, "u", "secret")) << c.GetLastError();
  EXPECT_TRUE(c.net.compress);
  c.close();
  peer.Join();
  std::string login = LoginPayload(peer);
  EXPECT_EQ(static_cast<uint8_t>(login[0]) & 32, 32);
  auto scramble = mysql_scramble("secret", "abcdefgh");
  EXPECT_EQ(login.substr(5), std::string("u\0", 2) + scramble.get() + std::string("\0\0", 2));
}

// A greeting of a newer server: secure-connection capability and the second
// part of the challenge after the reserved bytes.
std::string SecureGreeting() {
  std::string g = Greeting(4, 0x200C | 0x8000, 10, "ABCDEFGH");
  return g + "IJKLMNOPQRST" + std::string(1, '\0');
}

TEST(ClientLogin, SecureAnswerWhenTheServerOffersIt) {
  ScriptedPeer peer;
  peer.Send(Packet(0, SecureGreeting())).ReadPacket().Send(Packet(2, OkPayload()));
  TMysqlClient c;
  ASSERT_TRUE(Connect(c, peer, "u", "secret", "d")) << c.GetLastError();
  c.close();
  peer.Join();
  std::string login = LoginPayload(peer);
  EXPECT_EQ(static_cast<uint8_t>(login[1]) & 0x80, 0x80);
  EXPECT_EQ(static_cast<uint8_t>(login[1]) & 0x02, 0);  // 512 stays off
  std::string answer = mysql_scramble_native("secret", "ABCDEFGHIJKLMNOPQRST");
  ASSERT_EQ(answer.size(), 20u);
  EXPECT_EQ(login.substr(5), std::string("u\0\x14", 3) + answer + std::string("d\0", 2));
}

TEST(ClientLogin, PasswordSwitchRequests) {
  struct Case {
    std::string request;
    std::string expected_answer;  // empty: the login fails with 2012, nothing sent
  } cases[] = {
      {std::string("\xfe" "mysql_old_password\0" "12345678901234567890\0", 41),
       std::string(mysql_scramble("secret", "12345678").get()) + std::string(1, '\0')},
      {std::string("\xfe" "mysql_native_password\0" "12345678901234567890", 43),
       mysql_scramble_native("secret", "12345678901234567890")},
      {std::string("\xfe", 1),
       std::string(mysql_scramble("secret", "ABCDEFGH").get()) + std::string(1, '\0')},
      {std::string("\xfe" "dialog\0" "12345678901234567890", 28), ""},
      {std::string("\xfe" "mysql_old_password", 19), ""},
      {std::string("\xfe" "mysql_native_password\0" "1234567890", 33), ""},
      {std::string("\xfe" "mysql_old_password\0" "1234", 24), ""},
  };
  for (const auto& k : cases) {
    ScriptedPeer peer;
    peer.Send(Packet(0, SecureGreeting())).ReadPacket().Send(Packet(2, k.request));
    if (!k.expected_answer.empty()) peer.ReadPacket().Send(Packet(4, OkPayload()));
    TMysqlClient c;
    bool ok = Connect(c, peer, "u", "secret");
    EXPECT_EQ(ok, !k.expected_answer.empty());
    if (ok) c.close();
    else {
      EXPECT_EQ(c.GetLastErrorNo(), 2012u);
      EXPECT_FALSE(c.GetConnected());
    }
    peer.Join();
    auto packets = peer.ReceivedPackets();
    if (k.expected_answer.empty()) {
      EXPECT_EQ(packets.size(), 1u);  // the login only
    } else {
      ASSERT_GE(packets.size(), 2u);
      EXPECT_EQ(packets[1], Packet(3, k.expected_answer));
    }
  }
}

TEST(ClientLogin, RefusedLoginKeepsTheServerText) {
  ScriptedPeer peer;
  peer.Send(Packet(0, Greeting(3))).ReadPacket().Send(
      Packet(2, ErrorPayload(1045, "Access denied for user 'u'")));
  TMysqlClient c;
  EXPECT_FALSE(Connect(c, peer));
  EXPECT_EQ(c.GetLastErrorNo(), 1045u);
  EXPECT_EQ(c.GetLastError(), "Access denied for user 'u'");
  EXPECT_FALSE(c.GetConnected());
  peer.Join();
}

TEST(ClientCommands, ShutdownClosesEvenWhenRefused) {
  ScriptedPeer peer;
  peer.Send(Packet(0, Greeting(3)))
      .ReadPacket()
      .Send(Packet(2, OkPayload()))
      .ReadPacket()
      .Send(Packet(1, ErrorPayload(1227, "Access denied; you need the SHUTDOWN privilege")));
  TMysqlClient c;
  ASSERT_TRUE(Connect(c, peer));
  EXPECT_FALSE(c.shutdown());
  EXPECT_FALSE(c.GetConnected());
  EXPECT_EQ(c.GetLastErrorNo(), 1227u);
  peer.Join();
  auto packets = peer.ReceivedPackets();
  ASSERT_EQ(packets.size(), 3u);
  EXPECT_EQ(packets[1], Packet(0, "\x08"));
  EXPECT_EQ(packets[2], Packet(0, "\x01"));
}

TEST(ClientCommands, PendingResultRefusesCommandsAndPingPrecedesQueries) {
  std::string column = std::string("\x01t\x01" "a\x03\x0b\0\0\x01\x03\x02\0\0", 13);
  ScriptedPeer peer;
  peer.Send(Packet(0, Greeting(3)))
      .ReadPacket()
      .Send(Packet(2, OkPayload()))
      .ReadPacket()  // ping
      .Send(Packet(1, OkPayload()))
      .ReadPacket()  // the query
      .Send(Packet(1, "\x01") + Packet(2, column) + Packet(3, "\xfe"));
  TMysqlClient c;
  ASSERT_TRUE(Connect(c, peer));
  c.auto_reconnect = true;
  EXPECT_EQ(c.realquery("select a from t"), 0);
  EXPECT_EQ(c.status, MYSQL_STATUS_GET_RESULT);
  c.auto_reconnect = false;
  EXPECT_FALSE(c.ping());
  EXPECT_EQ(c.GetLastErrorNo(), 2014u);
  EXPECT_EQ(c.GetLastError(), "Commands out of sync;  You can't run this command now");
  EXPECT_FALSE(c.select_db("x"));
  EXPECT_EQ(c.GetLastErrorNo(), 2014u);
  EXPECT_TRUE(c.GetConnected());
  c.close();
  peer.Join();
  auto packets = peer.ReceivedPackets();
  ASSERT_EQ(packets.size(), 4u);  // login, ping, query, quit: nothing else
  EXPECT_EQ(packets[1], Packet(0, "\x0e"));
  EXPECT_EQ(packets[2], Packet(0, "\x03select a from t"));
}

TEST(ClientCommands, EmptyNamesAndStatementsSendNothing) {
  ScriptedPeer peer;
  peer.Send(Packet(0, Greeting(3))).ReadPacket().Send(Packet(2, OkPayload()));
  TMysqlClient c;
  ASSERT_TRUE(Connect(c, peer));
  EXPECT_FALSE(c.select_db(""));
  EXPECT_FALSE(c.create_db(""));
  EXPECT_FALSE(c.drop_db(""));
  EXPECT_EQ(c.realquery(""), 0);
  c.close();
  peer.Join();
  EXPECT_EQ(peer.ReceivedPackets().size(), 2u);  // login and quit
}

TEST(ClientLocalFile, RequestsOutsideLoadDataLocalAreRefused) {
  char path[] = "/tmp/rowset-secret-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "secret data", 11), 11);
  close(fd);
  ScriptedPeer peer;
  peer.Send(Packet(0, Greeting(3)))
      .ReadPacket()
      .Send(Packet(2, OkPayload()))
      .ReadPacket()
      .Send(Packet(1, std::string("\xfb") + path))
      .ReadPacket()
      .Send(Packet(3, OkPayload()));
  TMysqlClient c;
  ASSERT_TRUE(Connect(c, peer));
  EXPECT_EQ(c.realquery("select * from t"), -1);
  EXPECT_EQ(c.GetLastErrorNo(), 0u);
  EXPECT_EQ(c.GetLastError(),
            std::string("File '") + path + "' not requested by LOAD DATA LOCAL");
  EXPECT_TRUE(c.GetConnected());
  c.close();
  peer.Join();
  auto packets = peer.ReceivedPackets();
  ASSERT_EQ(packets.size(), 4u);
  EXPECT_EQ(packets[2], Packet(2, ""));  // one empty packet, nothing of the file
  EXPECT_EQ(peer.Received().find("secret data"), std::string::npos);
  unlink(path);
}

TEST(ClientLocalFile, LoadDataLocalSendsTheFileAndMissingFilesAnEmptyPacket) {
  char path[] = "/tmp/rowset-load-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  std::string content(70000, 'x');  // more than one block
  ASSERT_EQ(write(fd, content.data(), content.size()), 70000);
  close(fd);
  const std::string missing = std::string(path) + "-missing";
  ScriptedPeer peer;
  peer.Send(Packet(0, Greeting(3)))
      .ReadPacket()
      .Send(Packet(2, OkPayload()))
      .ReadPacket()
      .Send(Packet(1, std::string("\xfb") + path))
      .ReadPacket()
      .ReadPacket()
      .ReadPacket()
      .Send(Packet(5, std::string("\0\x01\0\2\0", 5)))
      .ReadPacket()
      .Send(Packet(1, std::string("\xfb") + missing))
      .ReadPacket()
      .Send(Packet(3, OkPayload()));
  TMysqlClient c;
  ASSERT_TRUE(Connect(c, peer));
  EXPECT_EQ(c.realquery(std::string("  load data local infile '") + path + "' into table t"),
            0)
      << c.GetLastError();
  EXPECT_EQ(c.affected_rows, 1u);
  EXPECT_EQ(c.realquery("LOAD DATA LOW_PRIORITY LOCAL INFILE '" + missing + "' INTO TABLE t"),
            -1);
  EXPECT_EQ(c.GetLastErrorNo(), 0u);
  EXPECT_EQ(c.GetLastError(), "File '" + missing + "' not found (Errcode: 2)");
  EXPECT_TRUE(c.GetConnected());
  c.close();
  peer.Join();
  auto packets = peer.ReceivedPackets();
  ASSERT_EQ(packets.size(), 8u);
  EXPECT_EQ(packets[2], Packet(2, content.substr(0, 61440)));
  EXPECT_EQ(packets[3], Packet(3, content.substr(61440)));
  EXPECT_EQ(packets[4], Packet(4, ""));
  EXPECT_EQ(packets[6], Packet(2, ""));
  unlink(path);
}

// The server may only have the file the statement names: a request for any
// other file gets the empty packet and none of its bytes.
TEST(ClientLocalFile, OnlyTheFileTheStatementNamesIsSent) {
  char secret[] = "/tmp/rowset-other-XXXXXX";
  int fd = mkstemp(secret);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "secret data", 11), 11);
  close(fd);
  ScriptedPeer peer;
  peer.Send(Packet(0, Greeting(3)))
      .ReadPacket()
      .Send(Packet(2, OkPayload()))
      .ReadPacket()
      .Send(Packet(1, std::string("\xfb") + secret))
      .ReadPacket()
      .Send(Packet(3, OkPayload()));
  TMysqlClient c;
  ASSERT_TRUE(Connect(c, peer));
  EXPECT_EQ(c.realquery("load data local infile 'a.txt' into table t"), -1);
  EXPECT_EQ(c.GetLastError(),
            std::string("File '") + secret + "' not requested by LOAD DATA LOCAL");
  EXPECT_TRUE(c.GetConnected());
  c.close();
  peer.Join();
  auto packets = peer.ReceivedPackets();
  ASSERT_EQ(packets.size(), 4u);
  EXPECT_EQ(packets[2], Packet(2, ""));
  EXPECT_EQ(peer.Received().find("secret data"), std::string::npos);
  unlink(secret);
}

TEST(ClientLocalFile, FileNameOfTheStatement) {
  std::string file;
  EXPECT_TRUE(LoadDataLocalFile("LOAD DATA LOCAL INFILE 'a.txt' INTO TABLE t", false, file));
  EXPECT_EQ(file, "a.txt");
  EXPECT_TRUE(LoadDataLocalFile("load data local\ninfile\"b''c\\\\d\\'e\" into table t",
                                false, file));
  EXPECT_EQ(file, "b''c\\d'e");
  EXPECT_TRUE(LoadDataLocalFile("load data local infile 'x\\y''z' into table t", true, file));
  EXPECT_EQ(file, "x\\y'z");
  EXPECT_FALSE(LoadDataLocalFile("load data infile 'a' into table t", false, file));
  EXPECT_EQ(file, "");
}

TEST(ClientLocalFile, RecognisesLoadDataLocal) {
  EXPECT_TRUE(IsLoadDataLocal("LOAD DATA LOCAL INFILE 'a' INTO TABLE t"));
  EXPECT_TRUE(IsLoadDataLocal("\n load  data\tlocal infile 'a' into table t"));
  EXPECT_TRUE(IsLoadDataLocal("load data concurrent local infile 'a' into table t"));
  EXPECT_FALSE(IsLoadDataLocal("LOAD DATA INFILE 'a' INTO TABLE t"));
  EXPECT_FALSE(IsLoadDataLocal("select 'load data local'"));
  EXPECT_FALSE(IsLoadDataLocal("load xml local infile 'a' into table t"));
  EXPECT_FALSE(IsLoadDataLocal(""));
}

TEST(ClientSession, AccessorsAndLock) {
  TMysqlClient c;
  EXPECT_EQ(c.GetClientInfo(), "3.23.38");
  EXPECT_EQ(c.client_flag, 0x2085u);
  EXPECT_EQ(c.port, 3306u);
  EXPECT_EQ(c.connect_timeout, 30u);
  EXPECT_TRUE(c.auto_reconnect);
  ASSERT_NE(c.lock, nullptr);
  c.SetUseSSL(true);
  EXPECT_FALSE(c.use_ssl);
  EXPECT_FALSE(c.connect());  // no host at all
  EXPECT_FALSE(c.ping());
  EXPECT_EQ(c.GetLastErrorNo(), 2006u);  // nothing to reconnect to
}

TEST(ClientSession, ChangedParameterClosesTheConnection) {
  ScriptedPeer peer;
  peer.Send(Packet(0, Greeting(3))).ReadPacket().Send(Packet(2, OkPayload()));
  TMysqlClient c;
  ASSERT_TRUE(Connect(c, peer));
  c.SetUser("u");  // unchanged
  EXPECT_TRUE(c.GetConnected());
  c.SetUnixSocket("other");  // only matters for named pipes
  EXPECT_TRUE(c.GetConnected());
  c.SetPort(1);
  EXPECT_FALSE(c.GetConnected());
  peer.Join();
}

}  // namespace
}  // namespace rowset
