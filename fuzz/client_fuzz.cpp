// libFuzzer target for the client session: a server whose every byte is the
// fuzzer's, from the greeting through the login, a query's result (stored or
// read row by row) and a request for a local file after a LOAD DATA LOCAL
// statement. The first input byte chooses: bit 0 a stored result, bit 1 the
// compressed protocol, bit 2 the LOAD DATA statement first, bit 3 a
// password. The session must end every stream with a result or a recorded
// error, never touch memory outside what it received, and keep values
// inside their lengths.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz/FuzzPeer.h"
#include "wire/uMysqlClient.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

const char* LocalFile() {
  static const char* path = [] {
    static char name[] = "/tmp/rowset-fuzz-localXXXXXX";
    int fd = ::mkstemp(name);
    if (fd >= 0) {
      (void)!::write(fd, "1\tone\n2\ttwo\n", 12);
      ::close(fd);
    }
    return name;
  }();
  return path;
}

void ReadRows(rowset::TMysqlResult& r) {
  for (int guard = 0; guard < 100000; ++guard) {
    if (r.result_type == rowset::rtStored) {
      if (guard == 0) r.First(); else r.Next();
    } else {
      r.Next();
    }
    if (r.eof || r.row == nullptr) break;
    r.FetchLengths();
    for (uint32_t c = 0; c < r.field_count; ++c) {
      const char* v = r.FieldValue(static_cast<int>(c));
      unsigned long len = r.FieldLenght(static_cast<int>(c));
      if (v != nullptr) Check(v[len] == '\0');
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  rowset::fuzz::FuzzPeer& peer = rowset::fuzz::FuzzPeer::Instance();
  peer.Serve(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));

  rowset::TMysqlClient c;
  c.auto_reconnect = false;
  c.connect_timeout = 5;
  c.read_timeout = 5;
  c.setfcompress((mode & 2) != 0);
  uint32_t flags = (mode & 2) ? rowset::CLIENT_COMPRESS : 0;
  if (!c.connect("127.0.0.1", "fuzz", (mode & 8) ? "secret" : "", "db", peer.port(), "", false,
                 flags)) {
    Check(!c.GetConnected() && c.GetLastErrorNo() != 0);
    return 0;
  }
  if (mode & 4) {
    std::string load = std::string("LOAD DATA LOCAL INFILE '") + LocalFile() + "' INTO TABLE t";
    (void)c.realquery(load);
  }
  bool completed = false;
  auto result = c.query("select a, b from t", (mode & 1) != 0, completed);
  if (result) ReadRows(*result);
  result.reset();
  if (c.GetConnected()) (void)c.ping();
  c.close();
  return 0;
}
