// A listing service whose answer ends with a server error after some rows:
// the error is raised and the caller's list stays as it was.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "components/MySQLServer.h"
#include "tests/common/ScriptedPeer.h"

namespace rowset {
namespace {

using test::Packet;
using test::ScriptedPeer;

std::string Lcs(const std::string& s) { return std::string(1, static_cast<char>(s.size())) + s; }

TEST(ListingScriptedTest, ErrorAfterSomeRowsIsRaisedAndTheListKept) {
  // Stands in for a server that fails in the middle of a listing (a real
  // one does so only under load or lost privileges).
  ScriptedPeer peer;
  peer.Send(Packet(0, test::Greeting(7, 0x2C))).ReadPacket().Send(Packet(2, test::OkPayload()));
  std::string column = Lcs("t") + Lcs("Tables") + Lcs(std::string("\x40\0\0", 3)) +
                       Lcs(std::string(1, '\xfd')) + Lcs(std::string(3, '\0'));
  std::string error = std::string("\xff", 1) + std::string("\xe2\x04", 2) + "Out of sort memory";
  peer.ReadPacket().Send(Packet(1, "\x01") + Packet(2, column) + Packet(3, "\xfe") +
                         Packet(4, Lcs("first")) + Packet(5, Lcs("second")) + Packet(6, error));
  peer.Start();
  {
    TMySQLServer server;
    server.SetDriverType(dtDirect);
    server.SetHost("127.0.0.1");
    server.SetPort(peer.port());
    server.SetUserName("u");
    TStringList list;
    list.Add("before");
    try {
      server.GetTableNames("", &list);
      ADD_FAILURE() << "a short list read as complete";
    } catch (const EMySQLError& e) {
      EXPECT_EQ(e.ErrorCode(), 1250) << e.what();
    }
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Get(0), "before");
    server.Close();
  }
  peer.Join();
  EXPECT_FALSE(peer.ScriptFailed());
}

}  // namespace
}  // namespace rowset
