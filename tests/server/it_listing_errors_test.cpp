// The connection component's listings raise when their answer breaks off,
// instead of handing back a short list as if it were complete.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "components/MySQLServer.h"
#include "host/Classes.h"
#include "tests/common/ScriptedPeer.h"
#include "tests/common/TestServer.h"
#include "tests/server/ServerTestUtil.h"

namespace rowset {
namespace {

using test::Packet;

std::string Lcs(const std::string& s) { return std::string(1, static_cast<char>(s.size())) + s; }

// A column description of the old protocol: table, name, length, type, flags.
std::string Column(const std::string& name) {
  return Lcs("t") + Lcs(name) + Lcs(std::string("\x40\0\0", 3)) + Lcs("\xfd") +
         Lcs(std::string("\0\0\0", 3));
}

// Stands in for a server whose listing breaks off with an error after two
// rows, which a real server cannot be made to do on demand.
TEST(ListingErrors, TableNamesRaiseWhenTheAnswerBreaksOff) {
  test::ScriptedPeer peer;
  const std::string error = std::string("\xff") + std::string("\x25\x05", 2) +
                            "Query execution was interrupted";
  peer.Send(Packet(0, test::Greeting(9)))
      .ReadPacket()
      .Send(Packet(2, test::OkPayload()))
      .ReadPacket()
      .Send(Packet(1, "\x01") + Packet(2, Column("Tables_in_x")) + Packet(3, "\xfe") +
            Packet(4, Lcs("alpha")) + Packet(5, Lcs("beta")) + Packet(6, error));
  peer.Start();
  TMySQLServer server;
  server.SetDriverType(dtDirect);
  server.SetHost("127.0.0.1");
  server.SetPort(peer.port());
  server.SetUserName("u");
  server.Connect();
  ASSERT_TRUE(server.Connected());
  TStringList names;
  try {
    server.GetTableNames("", &names);
    ADD_FAILURE() << "a short list came back as complete: " << names.Count() << " names";
  } catch (const EMySQLError& e) {
    EXPECT_EQ(e.ErrorCode(), 1317) << e.Message();
  }
  server.Disconnect();
  peer.Join();
}

// On the real server, on every back end that reaches it, the same listing is
// complete and quiet.
TEST(ListingErrors, TableNamesCompleteOnTheRealServer) {
  const std::string db = test::FreshDatabase("listing");
  test::RootSql("create table " + db + ".one (v int); create table " + db + ".two (v int)");
  for (TMySQLDriverType kind : {dtDirect, dtLibrary}) {
    std::unique_ptr<TMySQLServer> server = test::TestComponent(kind);
    server->Connect();
    TStringList names;
    server->GetTableNames(db, &names);
    ASSERT_EQ(names.Count(), 2) << kind;
    EXPECT_EQ(names[0], "one");
    EXPECT_EQ(names[1], "two");
    server->Disconnect();
  }
}

}  // namespace
}  // namespace rowset
