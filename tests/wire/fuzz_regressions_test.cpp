// Inputs found by the fuzz targets (fuzz/), kept as plain tests so that the
// faults they showed stay fixed.
#include <gtest/gtest.h>

#include <string>

#include "tests/common/ScriptedPeer.h"
#include "wire/uMysqlClient.h"

namespace rowset {
namespace {

using test::Packet;
using test::ScriptedPeer;

// An error packet numbered 0 stands in for a broken server: it must still be
// an error (CR_UNKNOWN_ERROR with the server's text), never a silent failure
// whose number says "no error", which the layers above read as success or as
// the end of the rows.
TEST(FuzzRegressions, ErrorNumberedZeroAnsweringTheLogin) {
  ScriptedPeer peer;
  peer.Send(Packet(0, test::Greeting(7, 0x200C)))
      .ReadPacket()
      .Send(Packet(2, std::string("\xff\x00\x00", 3) + "refused"));
  peer.Start();
  TMysqlClient c;
  c.auto_reconnect = false;
  EXPECT_FALSE(c.connect("127.0.0.1", "u", "", "", peer.port(), "", false, 0));
  EXPECT_FALSE(c.GetConnected());
  EXPECT_EQ(c.GetLastErrorNo(), CR_UNKNOWN_ERROR);
  EXPECT_EQ(c.GetLastError(), "refused");
  c.close();
  peer.Join();
}

TEST(FuzzRegressions, ErrorNumberedZeroInsteadOfARow) {
  ScriptedPeer peer;
  const std::string column = std::string("\x01t\x01" "a\x03\x0b\x00\x00\x01\x03\x03\x00\x00\x00", 14);
  peer.Send(Packet(0, test::Greeting(7, 0x200C)))
      .ReadPacket()
      .Send(Packet(2, test::OkPayload()))
      .ReadPacket()
      .Send(Packet(1, "\x01") + Packet(2, column) + Packet(3, "\xfe") + Packet(4, "\x01" "1") +
            Packet(5, std::string("\xff\x00\x00", 3) + "broken"));
  peer.Start();
  TMysqlClient c;
  c.auto_reconnect = false;
  ASSERT_TRUE(c.connect("127.0.0.1", "u", "", "", peer.port(), "", false, 0));
  bool completed = false;
  auto r = c.query("select a from t", false, completed);
  ASSERT_NE(r, nullptr);
  r->Next();
  ASSERT_NE(r->row, nullptr);
  r->Next();
  EXPECT_TRUE(r->HadErrors());
  EXPECT_EQ(c.GetLastErrorNo(), CR_UNKNOWN_ERROR);
  r.reset();
  c.close();
  peer.Join();
}

}  // namespace
}  // namespace rowset
