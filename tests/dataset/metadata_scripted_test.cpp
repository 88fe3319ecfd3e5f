// What a table dataset learns after its last row, when the server answers
// "show columns" and "show index" with fewer columns than those statements
// have: the answers are passed over, never indexed past their width.
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

std::string Le(uint64_t v, int width) {
  std::string out;
  for (int i = 0; i < width; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
  return out;
}

// A column description in the layout of 3.23 servers (table "t").
std::string Column(const std::string& name, uint8_t type, uint32_t length = 11) {
  return Lcs("t") + Lcs(name) + Lcs(Le(length, 3)) + Lcs(std::string(1, static_cast<char>(type))) +
         Lcs(Le(0, 2) + '\0');
}

const std::string kEnd("\xfe", 1);

// One result: the column count, the columns, the rows, numbered from 1.
std::string Result(const std::vector<std::string>& columns, const std::vector<std::string>& rows) {
  std::string bytes;
  uint8_t seq = 1;
  bytes += Packet(seq++, std::string(1, static_cast<char>(columns.size())));
  for (const auto& c : columns) bytes += Packet(seq++, c);
  bytes += Packet(seq++, kEnd);
  for (const auto& r : rows) bytes += Packet(seq++, r);
  bytes += Packet(seq++, kEnd);
  return bytes;
}

TEST(MetadataScriptedTest, NarrowShowAnswersArePassedOver) {
  // Stands in for a server (or proxy) whose "show" answers lack columns.
  ScriptedPeer peer;
  peer.Send(Packet(0, test::Greeting(7, 0x2C))).ReadPacket().Send(Packet(2, test::OkPayload()));
  peer.ReadPacket().Send(Result({Column("id", 3), Column("name", 253, 20)},
                                {Lcs("1") + Lcs("ann"), Lcs("2") + Lcs("bob")}));
  // show columns from t: two columns instead of six.
  peer.ReadPacket().Send(Result({Column("Field", 253), Column("Type", 253)},
                                {Lcs("id") + Lcs("int(11)"), Lcs("name") + Lcs("varchar(20)")}));
  // show index from t: three columns instead of thirteen.
  peer.ReadPacket().Send(Result({Column("Table", 253), Column("Non_unique", 3), Column("Key_name", 253)},
                                {Lcs("t") + Lcs("0") + Lcs("PRIMARY")}));
  peer.Start();

  {
    TMySQLServer server;
    server.SetDriverType(dtDirect);
    server.SetHost("127.0.0.1");
    server.SetPort(peer.port());
    server.SetUserName("u");
    TMySQLTable table;
    table.SetServer(&server);
    table.IndexDefs()->Add("kept", "id", {});
    ASSERT_TRUE(table.Options().Contains(doRetrieveFieldValues));
    ASSERT_TRUE(table.Options().Contains(doRetrieveIndexDefs));
    table.SQL()->SetText("select id, name from t");
    table.Open();
    EXPECT_EQ(table.RecordCount(), 2);
    EXPECT_EQ(table.FieldByName("name")->AsString(), "ann");
    // Nothing was learned from the narrow answers; the definitions stay.
    EXPECT_EQ(table.FieldInfos()[1]->DefaultValue, "");
    ASSERT_EQ(table.IndexDefs()->Count(), 1);
    EXPECT_EQ(table.IndexDefs()->Items(0)->Name(), "kept");
    table.Close();
    server.Close();
  }
  peer.Join();
  EXPECT_FALSE(peer.ScriptFailed());
  std::vector<std::string> sent = peer.ReceivedPackets();
  ASSERT_GE(sent.size(), 4u);
  EXPECT_NE(sent[2].find("show columns from"), std::string::npos);
  EXPECT_NE(sent[3].find("show index from"), std::string::npos);
}

}  // namespace
}  // namespace rowset
