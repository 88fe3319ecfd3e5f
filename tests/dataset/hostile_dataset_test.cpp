// A hostile or broken server met by a query dataset and by the driver under
// it (the built-in client): every malformed answer to the dataset's select
// ends in EMySQLError, never in a crash, a hang or a short row set taken for
// the whole, and leaves a component that closes cleanly and connects again.
// The scripted peer stands in for servers that send what a real one never
// does.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "components/MySQLDataset.h"
#include "components/MySQLServer.h"
#include "tests/common/ScriptedPeer.h"

namespace rowset {
namespace {

using test::Packet;
using test::ScriptedPeer;

std::string Lcs(const std::string& s) { return std::string(1, static_cast<char>(s.size())) + s; }

std::string Column(const std::string& name, uint8_t type) {
  return Lcs("t") + Lcs(name) + Lcs(std::string("\x0b\x00\x00", 3)) +
         Lcs(std::string(1, static_cast<char>(type))) + Lcs(std::string("\0\0\0", 3));
}

const std::string kEnd("\xfe", 1);

struct Hostile {
  const char* name;
  std::vector<std::string> answer;  // packets numbered from 1
  std::string raw;                  // bytes sent after them as they stand
};

std::vector<Hostile> Cases() {
  const std::string a = Column("a", 3), b = Column("b", 253);
  return {
      {"no column count", {""}, ""},
      {"column count larger than the columns sent", {"\x05", a, b, kEnd}, ""},
      {"truncated column packet", {"\x02", a, a.substr(0, 5)}, ""},
      {"column packet with a length past its end", {"\x01", Lcs("t") + "\x40" "ab"}, ""},
      {"row with a value longer than the packet", {"\x02", a, b, kEnd, Lcs("1") + "\x30" "xy"}, ""},
      {"row with fewer values than columns", {"\x02", a, b, kEnd, Lcs("1")}, ""},
      {"server error numbered 0 after a row",
       {"\x02", a, b, kEnd, Lcs("1") + Lcs("x"), std::string("\xff\x00\x00", 3) + "gone"}, ""},
      {"server error after a row",
       {"\x02", a, b, kEnd, Lcs("1") + Lcs("x"), std::string("\xff\x25\x05", 3) + "killed"}, ""},
      {"rows without an end", {"\x02", a, b, kEnd, Lcs("1") + Lcs("x")}, ""},
      {"packet header cut short", {"\x02", a, b, kEnd}, std::string("\x09\x00", 2)},
      {"wrong sequence number", {"\x02", a, b, kEnd}, Packet(42, Lcs("1") + Lcs("x"))},
      {"huge packet length announced", {"\x02", a, b, kEnd}, std::string("\xff\xff\xff\x05", 4)},
      {"column count of eight bytes", {std::string("\xfe") + std::string(8, '\x7f')}, ""},
  };
}

class HostileDatasetTest : public ::testing::TestWithParam<size_t> {};

TEST_P(HostileDatasetTest, MalformedAnswerRaisesAndTheComponentRecovers) {
  const Hostile h = Cases()[GetParam()];
  SCOPED_TRACE(h.name);
  // The first connection gets the hostile answer; the second a good one.
  ScriptedPeer first;
  std::string bytes;
  uint8_t seq = 1;
  for (const auto& p : h.answer) bytes += Packet(seq++, p);
  first.Send(Packet(0, test::Greeting(7, 0x0C))).ReadPacket().Send(Packet(2, test::OkPayload()));
  first.ReadPacket().Send(bytes + h.raw).Pause(50).Drop();
  first.Start();

  TMySQLServer server;
  server.SetDriverType(dtDirect);
  server.SetHost("127.0.0.1");
  server.SetPort(first.port());
  server.SetUserName("u");
  {
    TMySQLQuery q;
    q.SetServer(&server);
    q.SQL()->SetText("select a, b from t");
    EXPECT_THROW(q.Open(), EMySQLError);
    EXPECT_FALSE(q.Active());
  }
  first.Join();
  EXPECT_NO_THROW(server.Close());
  EXPECT_FALSE(server.Connected());

  ScriptedPeer second;
  second.Send(Packet(0, test::Greeting(8, 0x0C))).ReadPacket().Send(Packet(2, test::OkPayload()));
  second.ReadPacket().Send(Packet(1, "\x02") + Packet(2, Column("a", 3)) + Packet(3, Column("b", 253)) +
                           Packet(4, kEnd) + Packet(5, Lcs("1") + Lcs("x")) + Packet(6, kEnd));
  second.Start();
  server.SetPort(second.port());
  {
    TMySQLQuery q;
    q.SetServer(&server);
    q.SQL()->SetText("select a, b from t");
    q.Open();
    EXPECT_EQ(q.RecordCount(), 1);
    EXPECT_EQ(q.FieldByName("b")->AsString(), "x");
    q.Close();
  }
  server.Close();
  second.Join();
}

INSTANTIATE_TEST_SUITE_P(Answers, HostileDatasetTest, ::testing::Range<size_t>(0, Cases().size()));

// The driver under the dataset: the same answers through OpenQuery and
// RetrieveRow raise, or end the rows with the error recorded.
TEST(HostileDriverTest, MalformedAnswersRaiseOrRecordTheError) {
  for (const Hostile& h : Cases()) {
    SCOPED_TRACE(h.name);
    ScriptedPeer peer;
    std::string bytes;
    uint8_t seq = 1;
    for (const auto& p : h.answer) bytes += Packet(seq++, p);
    peer.Send(Packet(0, test::Greeting(7, 0x0C))).ReadPacket().Send(Packet(2, test::OkPayload()));
    peer.ReadPacket().Send(bytes + h.raw).Pause(50).Drop();
    peer.Start();
    TMySQLServer server;
    server.SetDriverType(dtDirect);
    server.SetHost("127.0.0.1");
    server.SetPort(peer.port());
    server.SetUserName("u");
    server.Open();
    TMySQLBase* driver = server.GetDriver();
    MySQLResultHandle r = nullptr;
    try {
      r = driver->OpenQuery(server.Connection(), "select a, b from t");
      if (r != nullptr) {
        int rows = 0;
        while (driver->RetrieveRow(r) != nullptr && rows < 1000) ++rows;
        EXPECT_NE(driver->ErrorNo(server.Connection()), 0u);
      } else {
        EXPECT_NE(driver->ErrorNo(server.Connection()), 0u);
      }
    } catch (const EMySQLError&) {
      // Raised: as good as the error recorded.
    }
    // The result stays the caller's to close, also after a raised row.
    if (r != nullptr) driver->CloseQuery(r);
    EXPECT_NO_THROW(server.Close());
    peer.Join();
  }
}

}  // namespace
}  // namespace rowset
