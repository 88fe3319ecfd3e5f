// A hostile or broken server: random and mangled packets, frames and
// greetings never make the client read or write outside its buffers; every
// read either succeeds within the data received or ends in a lost connection.
#include <gtest/gtest.h>

#include <random>

#include "tests/common/ScriptedPeer.h"
#include "wire/uMysqlClient.h"

namespace rowset {
namespace {

using test::Frame;
using test::Greeting;
using test::Packet;
using test::ScriptedPeer;
using test::Zip;

std::string RandomBytes(std::mt19937& gen, size_t n) {
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(gen());
  return s;
}

// Plausible headers with random lengths and bodies, sometimes compressed.
std::string HostileStream(std::mt19937& gen, bool compressed) {
  std::string out;
  uint8_t seq = 0;
  for (int i = 0; i < 6; ++i) {
    std::string body = RandomBytes(gen, gen() % 300);
    uint32_t choice = gen() % 4;
    if (!compressed) {
      std::string p = Packet(seq++, body);
      if (choice == 0) p[0] = static_cast<char>(gen());  // lie about the length
      out += p;
    } else if (choice == 0) {
      out += Frame(seq++, Zip(body), static_cast<uint32_t>(gen() % 600));  // wrong size
    } else if (choice == 1) {
      out += Frame(seq++, Zip(body), static_cast<uint32_t>(body.size()));
    } else {
      out += Frame(seq++, body, 0);
    }
  }
  return out;
}

TEST(HostileServer, RandomPacketsAndFramesEndCleanly) {
  std::mt19937 gen(12345);
  for (int round = 0; round < 60; ++round) {
    const bool compressed = round % 2 == 1;
    ScriptedPeer peer;
    peer.Send("x").Send(HostileStream(gen, compressed)).Pause(20).Drop();
    peer.Start();
    TMysqlNet net;
    ASSERT_EQ(net.net_open(VIO_TYPE_TCPIP, "127.0.0.1", "", peer.port(), 5, true), 0);
    char first;
    ASSERT_EQ(net.vio.vio_read(&first, 1), 1);
    net.setcompress(compressed);
    for (int reads = 0; reads < 100; ++reads) {
      uint32_t n = net.net_safe_read();
      if (n == packet_error && !net.NetConnected()) break;
      if (n != packet_error) {
        ASSERT_LE(net.read_pos + n, net.buff.size());
        EXPECT_EQ(net.read_ptr()[n], 0);
      }
    }
    EXPECT_FALSE(net.NetConnected());
    peer.Join();
  }
}

TEST(HostileServer, MangledGreetingsAndAnswersNeverCrashTheLogin) {
  std::mt19937 gen(777);
  const std::string good = Greeting(9, 0x200C | 0x8000, 10, "ABCDEFGH") + "IJKLMNOPQRST" +
                           std::string(1, '\0');
  for (int round = 0; round < 80; ++round) {
    std::string greeting = good.substr(0, gen() % (good.size() + 1));
    if (greeting.empty()) greeting = "\x0a";
    if (round % 3 == 0 && greeting.size() > 1)
      greeting[gen() % greeting.size()] = static_cast<char>(gen());
    std::string answer = std::string("\xfe") + RandomBytes(gen, gen() % 40);
    if (round % 4 == 0) answer = "\xfe" "mysql_old_password" + RandomBytes(gen, gen() % 12);
    ScriptedPeer peer;
    peer.Send(Packet(0, greeting)).Pause(30).Send(Packet(2, answer)).Pause(30).Drop();
    peer.Start();
    TMysqlClient c;
    c.auto_reconnect = false;
    bool ok = c.connect("127.0.0.1", "u", "pw", "db", peer.port(), "", false, 0);
    if (!ok) {
      EXPECT_FALSE(c.GetConnected());
      EXPECT_NE(c.GetLastErrorNo(), 0u);
    }
    c.close();
    peer.Join();
  }
}

}  // namespace
}  // namespace rowset
