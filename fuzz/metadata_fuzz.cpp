// libFuzzer target for what a table dataset learns from the server after its
// last row: the answers to "show columns" (defaults, enum and set members)
// and "show index" (index definitions) are the fuzzer's bytes, after a fixed
// login and a fixed result of four columns (int, varchar, enum, set). The
// first input byte's bit 0 turns doSetToWord on. Opening must succeed or end
// in EMySQLError; the dataset must stay readable and close cleanly.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "components/MySQLDataset.h"
#include "components/MySQLServer.h"
#include "fuzz/FuzzPeer.h"

namespace {

using rowset::fuzz::Packet;

std::string Lcs(const std::string& s) { return std::string(1, static_cast<char>(s.size())) + s; }

// A column description of 3.23 servers (table "t"), flags and decimals.
std::string Column(const std::string& name, uint8_t type, uint32_t length) {
  std::string len;
  for (int i = 0; i < 3; ++i) len += static_cast<char>((length >> (8 * i)) & 0xFF);
  return Lcs("t") + Lcs(name) + Lcs(len) + Lcs(std::string(1, static_cast<char>(type))) +
         Lcs(std::string("\0\0\0", 3));
}

const std::string& FixedPart() {
  static const std::string bytes = [] {
    std::string b = rowset::fuzz::Greeting(0x0C) + rowset::fuzz::LoginOk();
    const std::string end("\xfe", 1);
    uint8_t seq = 1;
    b += Packet(seq++, std::string(1, '\x04'));
    b += Packet(seq++, Column("id", 3, 11));
    b += Packet(seq++, Column("name", 253, 20));
    b += Packet(seq++, Column("e", 247, 1));
    b += Packet(seq++, Column("s", 248, 5));
    b += Packet(seq++, end);
    b += Packet(seq++, Lcs("1") + Lcs("ann") + Lcs("a") + Lcs("x,y"));
    b += Packet(seq++, Lcs("2") + std::string("\xfb", 1) + Lcs("b") + Lcs(""));
    b += Packet(seq++, end);
    return b;
  }();
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  rowset::fuzz::FuzzPeer& peer = rowset::fuzz::FuzzPeer::Instance();
  peer.Serve(FixedPart() + std::string(reinterpret_cast<const char*>(data) + 1, size - 1));

  rowset::TMySQLServer server;
  server.SetDriverType(rowset::dtDirect);
  server.SetHost("127.0.0.1");
  server.SetPort(peer.port());
  server.SetUserName("u");
  rowset::TMySQLTable table;
  table.SetServer(&server);
  if (data[0] & 1) {
    rowset::TMySQLDatasetOptions options = table.Options();
    options.Include(rowset::doSetToWord);
    table.SetOptions(options);
  }
  table.SQL()->SetText("select id, name, e, s from t");
  try {
    table.Open();
    for (table.First(); !table.Eof(); table.Next()) {
      for (int i = 0; i < table.FieldCount(); ++i) (void)table.Fields()[i]->AsString();
    }
    for (int i = 0; i < table.IndexDefs()->Count(); ++i) (void)table.IndexDefs()->Items(i)->Fields();
  } catch (const rowset::EMySQLError&) {
  }
  try {
    table.Close();
    server.Close();
  } catch (const rowset::EMySQLError&) {
  }
  return 0;
}
