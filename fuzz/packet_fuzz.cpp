// libFuzzer target for the packet layer: the input, after its first byte, is
// the byte stream a server sends; the first byte's bit 0 switches the
// compressed protocol on. Every packet read must lie inside the buffer and
// be followed by a 0 byte, and the stream must end in a lost connection
// rather than a hang or a read outside the buffer.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "wire/uMysqlNet.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) std::abort();
  // The whole stream is waiting before the first read, then the server's end
  // is closed (inputs are far smaller than the socket's buffer).
  size_t at = 1;
  while (at < size) {
    ssize_t n = ::send(fds[1], data + at, size - at, MSG_NOSIGNAL);
    if (n <= 0) break;
    at += static_cast<size_t>(n);
  }
  ::close(fds[1]);

  rowset::TMysqlNet net;
  net.vio.sock = fds[0];
  net.vio.vio_type = rowset::VIO_TYPE_SOCKET;
  net.vio.timeout = 1;
  net.setcompress(data[0] & 1);
  for (size_t reads = 0; reads <= size; ++reads) {
    uint32_t n = (data[0] & 2) ? net.my_net_read() : net.net_safe_read();
    if (n == rowset::packet_error) {
      if (!net.NetConnected()) break;
      continue;  // an error packet keeps the connection
    }
    Check(net.read_pos + n < net.buff.size());
    Check(net.read_ptr()[n] == 0);
  }
  Check(!net.NetConnected() || (data[0] & 2));
  return 0;
}
