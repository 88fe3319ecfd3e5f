// A loopback server for the fuzz targets: for each client that connects it
// sends the bytes of the current input at once, closes its sending side and
// reads until the client closes. The client under test then meets a server
// whose every answer is the fuzzer's, and every read ends at the input's end
// instead of waiting.
#ifndef ROWSET_FUZZ_FUZZPEER_H_
#define ROWSET_FUZZ_FUZZPEER_H_

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace rowset::fuzz {

class FuzzPeer {
 public:
  FuzzPeer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      std::abort();
    port_ = ntohs(a.sin_port);
    std::thread([this] { Run(); }).detach();  // lives as long as the process
  }

  uint16_t port() const { return port_; }

  // The bytes the next client gets; a client after that one gets nothing.
  void Serve(std::string bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    script_ = std::move(bytes);
  }

  // The one peer of the process.
  static FuzzPeer& Instance() {
    static FuzzPeer* peer = new FuzzPeer;  // never destroyed: its thread runs on
    return *peer;
  }

 private:
  void Run() {
    for (;;) {
      int fd = ::accept(listener_, nullptr, nullptr);
      if (fd < 0) continue;
      std::string bytes;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        bytes.swap(script_);
      }
      size_t at = 0;
      while (at < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (n <= 0) break;
        at += static_cast<size_t>(n);
      }
      ::shutdown(fd, SHUT_WR);
      char sink[4096];
      while (::recv(fd, sink, sizeof sink, 0) > 0) {
      }
      ::close(fd);
    }
  }

  int listener_ = -1;
  uint16_t port_ = 0;
  std::mutex mutex_;
  std::string script_;
};

// Bytes of the protocol's framing, for fixed parts of a server's answer.
inline std::string Packet(uint8_t seq, const std::string& payload) {
  std::string p;
  p += static_cast<char>(payload.size() & 0xFF);
  p += static_cast<char>((payload.size() >> 8) & 0xFF);
  p += static_cast<char>((payload.size() >> 16) & 0xFF);
  p += static_cast<char>(seq);
  return p + payload;
}

// A 3.23-style greeting (protocol 10, challenge "abcdefgh") with the given
// capabilities, and the OK that accepts the login.
inline std::string Greeting(uint16_t capabilities) {
  std::string g("\x0a" "3.23.99-fuzz", 13);
  g += '\0';
  g += std::string("\x07\x00\x00\x00", 4);
  g += "abcdefgh";
  g += '\0';
  g += static_cast<char>(capabilities & 0xFF);
  g += static_cast<char>(capabilities >> 8);
  g += '\x08';
  g += std::string("\x02\x00", 2);
  g += std::string(13, '\0');
  return Packet(0, g);
}
inline std::string LoginOk() { return Packet(2, std::string("\x00\x00\x00\x02\x00", 5)); }

}  // namespace rowset::fuzz

#endif  // ROWSET_FUZZ_FUZZPEER_H_
