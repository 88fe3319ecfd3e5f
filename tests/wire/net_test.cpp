// Packet framing, sequence numbers, compressed frames and untrusted lengths,
// against a scripted peer that checks the exact bytes.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <thread>

#include "tests/common/ScriptedPeer.h"
#include "wire/uMysqlNet.h"

namespace rowset {
namespace {

using test::Frame;
using test::Packet;
using test::ScriptedPeer;
using test::Zip;

// Opens `net` to the peer, which must send something first (the transport
// waits for the server's first bytes).
void Open(TMysqlNet& net, ScriptedPeer& peer) {
  peer.Start();
  ASSERT_EQ(net.net_open(VIO_TYPE_TCPIP, "127.0.0.1", "", peer.port(), 5, true), 0);
  ASSERT_TRUE(net.NetConnected());
  ASSERT_EQ(net.buff_size, 8192u);
}

std::string Payload(TMysqlNet& net, uint32_t length) {
  return std::string(reinterpret_cast<char*>(net.read_ptr()), length);
}

std::string Random(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(gen());
  return s;
}

TEST(Net, CommandAndPacketFramingWithSequence) {
  ScriptedPeer peer;
  peer.Send(Packet(0, "greet")).ReadPacket().ReadPacket().ReadPacket();
  TMysqlNet net;
  Open(net, peer);
  uint32_t n = net.net_safe_read();
  ASSERT_EQ(n, 5u);
  EXPECT_EQ(Payload(net, n), "greet");
  EXPECT_EQ(net.read_ptr()[n], 0);  // terminated
  EXPECT_EQ(net.my_net_write("login", 5), 0);
  EXPECT_EQ(net.net_flush(), 0);
  net.net_clear();
  EXPECT_EQ(net.net_write_command(3, "select 1", 8), 0);
  EXPECT_EQ(net.net_write_command(14, nullptr, 0), 0);
  net.net_close();
  peer.Join();
  auto packets = peer.ReceivedPackets();
  ASSERT_EQ(packets.size(), 3u);
  EXPECT_EQ(packets[0], Packet(1, "login"));
  EXPECT_EQ(packets[1], Packet(0, "\x03select 1"));
  EXPECT_EQ(packets[2], Packet(1, "\x0e"));
}

TEST(Net, SequenceWrapsAndMismatchLosesConnection) {
  ScriptedPeer peer;
  std::string script;
  for (int i = 0; i < 300; ++i) script += Packet(static_cast<uint8_t>(i), "p" + std::to_string(i));
  script += Packet(7, "wrong");  // expected 44
  peer.Send(script);
  TMysqlNet net;
  Open(net, peer);
  for (int i = 0; i < 300; ++i) {
    uint32_t n = net.net_safe_read();
    ASSERT_NE(n, packet_error) << i;
    EXPECT_EQ(Payload(net, n), "p" + std::to_string(i));
  }
  EXPECT_EQ(net.net_safe_read(), packet_error);
  EXPECT_EQ(net.last_errorno(), 2013u);
  EXPECT_EQ(net.last_error(), "Lost connection to MySQL server during query");
  EXPECT_FALSE(net.NetConnected());
  peer.Join();
}

TEST(Net, ErrorPackets) {
  ScriptedPeer peer;
  std::string long_message(250, 'm');
  peer.Send(Packet(0, "\xff\x28\x04Table gone") + Packet(1, "\xff\x01\x02") +
            Packet(2, "\xff\x10\x04" + long_message) + Packet(3, "\xff\x01\x02old text") +
            Packet(4, "\xff\x28\x04no terminator"));
  TMysqlNet net;
  Open(net, peer);
  EXPECT_EQ(net.net_safe_read(), packet_error);
  EXPECT_EQ(net.last_errorno(), 1064u);
  EXPECT_EQ(net.last_error(), "Table gone");
  EXPECT_TRUE(net.NetConnected());
  EXPECT_EQ(net.net_safe_read(), packet_error);
  EXPECT_EQ(net.last_errorno(), 2000u);
  EXPECT_EQ(net.last_error(), "Unknown MySQL error");
  EXPECT_EQ(net.net_safe_read(), packet_error);
  EXPECT_EQ(net.last_error(), std::string(199, 'm'));
  net.protocol_version = 9;
  EXPECT_EQ(net.net_safe_read(), packet_error);
  EXPECT_EQ(net.last_errorno(), 2000u);
  EXPECT_EQ(net.last_error(), "\x01\x02old text");
  net.protocol_version = 10;
  EXPECT_EQ(net.net_safe_read(), packet_error);
  EXPECT_EQ(net.last_error(), "no terminator");
  EXPECT_TRUE(net.NetConnected());
  net.net_close();
  peer.Join();
}

TEST(Net, ZeroLengthAndDroppedPacketsLoseTheConnection) {
  {
    ScriptedPeer peer;
    peer.Send(Packet(0, ""));
    TMysqlNet net;
    Open(net, peer);
    EXPECT_EQ(net.net_safe_read(), packet_error);
    EXPECT_EQ(net.last_errorno(), 2013u);
    EXPECT_FALSE(net.NetConnected());
    peer.Join();
  }
  {
    ScriptedPeer peer;
    peer.Send(Packet(0, "complete").substr(0, 7)).Drop();  // cut in the payload
    TMysqlNet net;
    Open(net, peer);
    EXPECT_EQ(net.net_safe_read(), packet_error);
    EXPECT_EQ(net.last_errorno(), 2013u);
    EXPECT_FALSE(net.NetConnected());
    peer.Join();
  }
}

TEST(Net, LargestPacketWithoutItsBytesIsALostConnection) {
  ScriptedPeer peer;
  peer.Send(std::string("\xff\xff\xff\x00", 4) + "abc").Pause(100).Drop();
  TMysqlNet net;
  Open(net, peer);
  EXPECT_EQ(net.net_safe_read(), packet_error);
  EXPECT_EQ(net.last_errorno(), 2013u);
  EXPECT_FALSE(net.NetConnected());
  peer.Join();
}

// A payload of 0xFFFFFF bytes or more arrives as packets of that size and a
// shorter last one (empty when nothing is left); the reader joins them.
TEST(Net, PayloadsOverSeveralPacketsAreJoined) {
  for (bool compressed : {false, true}) {
    SCOPED_TRACE(compressed ? "compressed" : "plain");
    std::string first(0xFFFFFF, 'a');
    first[0] = 'A';
    std::string stream = Packet(0, first) + Packet(1, "tail") +
                         Packet(2, std::string(0xFFFFFF, 'b')) + Packet(3, "") +
                         Packet(4, "after");
    ScriptedPeer peer;
    if (compressed) {
      // Frames cut the packet stream anywhere.
      uint8_t seq = 0;
      for (size_t at = 0; at < stream.size(); at += 5000000) {
        std::string part = stream.substr(at, 5000000);
        peer.Send(Frame(seq++, Zip(part), static_cast<uint32_t>(part.size())));
      }
    } else {
      peer.Send(stream);
    }
    peer.Pause(200).Drop();
    peer.Start();
    TMysqlNet net;
    ASSERT_EQ(net.net_open(VIO_TYPE_TCPIP, "127.0.0.1", "", peer.port(), 5, true), 0);
    net.setcompress(compressed);
    uint32_t n = net.my_net_read();
    ASSERT_EQ(n, 0xFFFFFFu + 4);
    std::string got(reinterpret_cast<const char*>(net.read_ptr()), n);
    EXPECT_EQ(got.substr(0, 2), "Aa");
    EXPECT_EQ(got.substr(0xFFFFFF), "tail");
    EXPECT_EQ(net.read_ptr()[n], 0);
    n = net.my_net_read();
    ASSERT_EQ(n, 0xFFFFFFu);
    EXPECT_EQ(net.read_ptr()[n - 1], 'b');
    n = net.my_net_read();
    ASSERT_EQ(n, 5u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(net.read_ptr()), n), "after");
    net.net_close();
    peer.Join();
  }
}

TEST(Net, GrowsForLargePacketsAndPacksBack) {
  std::string big = Random(20000, 1);
  ScriptedPeer peer;
  peer.Send(Packet(0, big) + Packet(1, "small"));
  TMysqlNet net;
  Open(net, peer);
  uint32_t n = net.net_safe_read();
  ASSERT_EQ(n, 20000u);
  EXPECT_EQ(Payload(net, n), big);
  EXPECT_EQ(net.buff_size, 20480u);
  net.io_state = 1;
  EXPECT_TRUE(net.net_pack());
  EXPECT_EQ(net.buff_size, 20480u);  // busy: left alone
  net.io_state = 0;
  EXPECT_TRUE(net.net_pack());
  EXPECT_EQ(net.buff_size, 8192u);
  EXPECT_TRUE(net.net_pack());
  EXPECT_EQ(net.buff_size, 8192u);
  n = net.net_safe_read();
  EXPECT_EQ(Payload(net, n), "small");
  net.net_close();
  peer.Join();
}

// A long answer arrives in one go: packets cross the transport's read-ahead
// at every offset, some are larger than it, sequence numbers wrap; every
// payload comes out whole and the end of the stream is a lost connection.
TEST(Net, BurstOfPacketsReadsBackExactly) {
  for (bool compressed : {false, true}) {
    std::mt19937 gen(compressed ? 11 : 10);
    std::vector<std::string> payloads;
    for (int i = 0; i < 700; ++i) {
      size_t n = i % 97 == 5 ? 17000 + gen() % 3000 : 1 + gen() % 120;
      payloads.push_back(Random(n, static_cast<unsigned>(i)));
      payloads.back()[0] = 'r';  // 255 would make it an error packet
    }
    std::string stream;
    uint8_t seq = 0;
    if (!compressed) {
      for (const auto& p : payloads) stream += Packet(seq++, p);
    } else {
      std::string pending;
      for (size_t i = 0; i < payloads.size(); ++i) {
        pending += Packet(0, payloads[i]);
        if (i % 5 == 4 || i + 1 == payloads.size()) {
          if (i % 2 == 0)
            stream += Frame(seq++, Zip(pending), static_cast<uint32_t>(pending.size()));
          else
            stream += Frame(seq++, pending, 0);
          pending.clear();
        }
      }
    }
    ScriptedPeer peer;
    peer.Send("g").Send(stream).Drop();
    TMysqlNet net;
    Open(net, peer);
    char g;
    ASSERT_EQ(net.vio.vio_read(&g, 1), 1);
    net.setcompress(compressed);
    for (size_t i = 0; i < payloads.size(); ++i) {
      uint32_t n = net.net_safe_read();
      ASSERT_NE(n, packet_error) << compressed << " packet " << i;
      ASSERT_TRUE(Payload(net, n) == payloads[i]) << compressed << " packet " << i;
      EXPECT_EQ(net.read_ptr()[n], 0);
    }
    EXPECT_EQ(net.net_safe_read(), packet_error);
    EXPECT_EQ(net.last_errorno(), 2013u);
    EXPECT_FALSE(net.NetConnected());
    peer.Join();
  }
}

TEST(Net, BufferFilledExactlyWaitsForFlush) {
  ScriptedPeer peer;
  peer.Send("g").Read(8192).Read(8192).Read(18);
  TMysqlNet net;
  Open(net, peer);
  std::string fill(8192 - 4, 'f');
  ASSERT_EQ(net.my_net_write(fill.data(), fill.size()), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(peer.Received(), "");  // exactly full: still buffered
  // The next append sends the full buffer, then the rest waits for a flush.
  std::string more(8192, 'm');
  ASSERT_EQ(net.my_net_write(more.data(), more.size()), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(peer.Received().size(), 8192u * 2);
  ASSERT_EQ(net.my_net_write("0123456789", 10), 0);
  EXPECT_EQ(net.net_flush(), 0);
  net.net_close();
  peer.Join();
  std::string r = peer.Received();
  EXPECT_EQ(r.size(), 8192u * 2 + 4 + 14);
  EXPECT_EQ(r.substr(0, 4), std::string("\xfc\x1f\x00\x00", 4));
  EXPECT_EQ(r.substr(8192, 4), std::string("\x00\x20\x00\x01", 4));
}

// A command longer than one packet goes as packets of the largest size and
// a shorter last one; a command that fills packets exactly ends with the
// empty packet (else the server waits for more).
TEST(Net, LongCommandsAreSplitIntoPackets) {
  ScriptedPeer peer;
  peer.Send("g").Read(4 + 0xFFFFFF + 4).Read(4 + 0xFFFFFF + 4 + 2).Drop();
  TMysqlNet net;
  Open(net, peer);
  std::string arg(0xFFFFFE, 'a');
  EXPECT_EQ(net.net_write_command(3, arg.data(), arg.size()), 0);
  net.net_clear();
  arg.push_back('b');
  arg.push_back('c');
  EXPECT_EQ(net.net_write_command(3, arg.data(), arg.size()), 0);
  peer.Join();  // everything read before the close
  net.net_close();
  std::string r = peer.Received();
  ASSERT_EQ(r.size(), 2 * (4u + 0xFFFFFF + 4u) + 2);
  EXPECT_EQ(r.substr(0, 5), std::string("\xff\xff\xff\x00\x03", 5));
  EXPECT_EQ(r.substr(4 + 0xFFFFFF, 4), std::string("\0\0\0\x01", 4));
  const std::string second = r.substr(4 + 0xFFFFFF + 4);
  EXPECT_EQ(second.substr(0, 5), std::string("\xff\xff\xff\x00\x03", 5));
  EXPECT_EQ(second.substr(4 + 0xFFFFFF), std::string("\x02\0\0\x01", 4) + "bc");
}

TEST(NetCompressed, SmallAndIncompressibleBodiesGoOutPlain) {
  ScriptedPeer peer;
  peer.Send("g").ReadFrame().ReadFrame().ReadFrame();
  TMysqlNet net;
  Open(net, peer);
  net.setcompress(true);
  std::string p45(45, 'x');       // 49-byte body
  std::string p46 = Random(46, 2);  // 50 bytes that do not shrink
  std::string p200(200, 'y');     // shrinks
  net.net_clear();
  ASSERT_EQ(net.my_net_write(p45.data(), p45.size()), 0);
  ASSERT_EQ(net.net_flush(), 0);
  ASSERT_EQ(net.my_net_write(p46.data(), p46.size()), 0);
  ASSERT_EQ(net.net_flush(), 0);
  ASSERT_EQ(net.my_net_write(p200.data(), p200.size()), 0);
  ASSERT_EQ(net.net_flush(), 0);
  net.net_close();
  peer.Join();
  std::string r = peer.Received();
  EXPECT_EQ(r.substr(0, 56), Frame(0, Packet(0, p45), 0));
  EXPECT_EQ(r.substr(56, 57), Frame(1, Packet(0, p46), 0));
  std::string third = r.substr(113);
  ASSERT_GT(third.size(), 7u);
  EXPECT_EQ(static_cast<uint8_t>(third[3]), 2);
  EXPECT_EQ(third.substr(4, 3), std::string("\xcc\x00\x00", 3));  // 204 before compression
  EXPECT_EQ(third, Frame(2, Zip(Packet(0, p200)), 204));
}

TEST(NetCompressed, SeveralPacketsInOneFrameAndOneSplitOverTwo) {
  std::string three = Packet(0, "one") + Packet(1, "two") + Packet(2, "three");
  std::string big = Packet(3, std::string(300, 'z'));
  std::string zipped = Zip(big);
  ScriptedPeer peer;
  peer.Send(Frame(0, three, 0))
      .Pause(300)
      .Send(Frame(1, big.substr(0, 100), 0))
      .Pause(100)
      .Send(Frame(2, Zip(big.substr(100)), static_cast<uint32_t>(big.size() - 100)));
  TMysqlNet net;
  Open(net, peer);
  net.setcompress(true);
  for (const char* expected : {"one", "two", "three"}) {
    uint32_t n = net.net_safe_read();
    ASSERT_NE(n, packet_error);
    EXPECT_EQ(Payload(net, n), expected);
    EXPECT_EQ(net.read_ptr()[n], 0);
  }
  uint32_t n = net.net_safe_read();
  ASSERT_EQ(n, 300u);
  EXPECT_EQ(Payload(net, n), std::string(300, 'z'));
  net.net_close();
  peer.Join();
}

TEST(NetCompressed, MalformedFramesLoseTheConnection) {
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"garbage body", Frame(0, "this is not zlib data at all", 100)},
      {"short decompression", Frame(0, Zip(Packet(0, std::string(60, 'a'))), 1000)},
      {"long decompression", Frame(0, Zip(Packet(0, std::string(60, 'a'))), 20)},
      {"inner length past the data", Frame(0, std::string("\xff\xff\x00\x00" "abc", 7), 0) +
                                          std::string()},
      {"huge uncompressed length", Frame(0, "abc", 0xFFFFFF)},
  };
  for (const auto& c : cases) {
    ScriptedPeer peer;
    peer.Send(c.bytes).Pause(200).Drop();
    TMysqlNet net;
    Open(net, peer);
    net.setcompress(true);
    EXPECT_EQ(net.net_safe_read(), packet_error) << c.name;
    EXPECT_TRUE(net.last_errorno() == 2013u || net.last_errorno() == 2020u) << c.name;
    EXPECT_FALSE(net.NetConnected()) << c.name;
    peer.Join();
  }
}

// The checksum that guards every inflated frame equals zlib's for every
// length, alignment and starting value, and for the worst-case bytes.
TEST(NetCompressed, Adler32EqualsZlib) {
  std::string data = Random(40000, 3);
  std::string ones(40000, '\xff');
  for (const std::string* d : {&data, &ones}) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(d->data());
    for (size_t length : {0, 1, 15, 31, 32, 33, 63, 64, 100, 5551, 5552, 5553, 5600, 11104,
                          16384, 19999}) {
      for (size_t offset : {0, 1, 7}) {
        for (uint32_t start : {1u, 0xFFF0FFF0u % 65521u, (65520u << 16) | 65520u}) {
          EXPECT_EQ(Adler32(start, bytes + offset, length),
                    ::adler32(start, bytes + offset, static_cast<uInt>(length)))
              << length << " " << offset << " " << start;
        }
      }
    }
  }
}

}  // namespace
}  // namespace rowset
