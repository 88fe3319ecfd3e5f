#include "tests/common/ScriptedPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <zlib.h>

#include <chrono>
#include <cstring>
#include <stdexcept>

namespace rowset::test {

std::string Packet(uint8_t seq, const std::string& payload) {
  std::string out;
  uint32_t n = static_cast<uint32_t>(payload.size());
  out += static_cast<char>(n & 0xFF);
  out += static_cast<char>((n >> 8) & 0xFF);
  out += static_cast<char>((n >> 16) & 0xFF);
  out += static_cast<char>(seq);
  return out + payload;
}

std::string Frame(uint8_t seq, const std::string& body, uint32_t uncompressed_length) {
  std::string out = Packet(seq, "").substr(0, 4);
  uint32_t n = static_cast<uint32_t>(body.size());
  out[0] = static_cast<char>(n & 0xFF);
  out[1] = static_cast<char>((n >> 8) & 0xFF);
  out[2] = static_cast<char>((n >> 16) & 0xFF);
  out += static_cast<char>(uncompressed_length & 0xFF);
  out += static_cast<char>((uncompressed_length >> 8) & 0xFF);
  out += static_cast<char>((uncompressed_length >> 16) & 0xFF);
  return out + body;
}

std::string Zip(const std::string& data) {
  uLongf n = compressBound(data.size());
  std::string out(n, '\0');
  compress(reinterpret_cast<Bytef*>(out.data()), &n,
           reinterpret_cast<const Bytef*>(data.data()), data.size());
  out.resize(n);
  return out;
}

std::string Greeting(uint32_t thread_id, uint16_t capabilities, uint8_t protocol,
                     const std::string& challenge, const std::string& version) {
  std::string g(1, static_cast<char>(protocol));
  g += version;
  g += '\0';
  for (int i = 0; i < 4; ++i) g += static_cast<char>((thread_id >> (8 * i)) & 0xFF);
  g += challenge;
  g += '\0';
  g += static_cast<char>(capabilities & 0xFF);
  g += static_cast<char>(capabilities >> 8);
  g += static_cast<char>(8);
  g += static_cast<char>(2);
  g += '\0';
  g.append(13, '\0');
  return g;
}

std::string OkPayload() { return std::string("\0\0\0\2\0", 5); }

ScriptedPeer::ScriptedPeer() {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
      ::listen(listener_, 4) != 0)
    throw std::runtime_error("ScriptedPeer: cannot listen");
  socklen_t len = sizeof sa;
  ::getsockname(listener_, reinterpret_cast<sockaddr*>(&sa), &len);
  port_ = ntohs(sa.sin_port);
}

ScriptedPeer::ScriptedPeer(const std::string& unix_path) : unix_path_(unix_path) {
  listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un sa{};
  sa.sun_family = AF_UNIX;
  std::strncpy(sa.sun_path, unix_path.c_str(), sizeof sa.sun_path - 1);
  ::unlink(unix_path.c_str());
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
      ::listen(listener_, 4) != 0)
    throw std::runtime_error("ScriptedPeer: cannot listen on " + unix_path);
}

ScriptedPeer::~ScriptedPeer() {
  if (thread_.joinable()) thread_.join();
  EndTls();
  if (listener_ >= 0) ::close(listener_);
  if (!unix_path_.empty()) ::unlink(unix_path_.c_str());
}

ScriptedPeer& ScriptedPeer::Send(const std::string& bytes) {
  steps_.push_back([this, bytes](int fd) {
    size_t done = 0;
    while (done < bytes.size()) {
      long n = SendSome(fd, bytes.data() + done, bytes.size() - done);
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  });
  return *this;
}

bool ScriptedPeer::ReadExact(int fd, size_t n) {
  std::string buf(n, '\0');
  size_t done = 0;
  while (done < n) {
    if (!WaitReadable(fd, 10000)) return false;
    long r = RecvSome(fd, buf.data() + done, n - done);
    if (r <= 0) return false;
    done += static_cast<size_t>(r);
  }
  std::lock_guard<std::mutex> g(mutex_);
  received_ += buf;
  return true;
}

ScriptedPeer& ScriptedPeer::Read(size_t n) {
  steps_.push_back([this, n](int fd) { return ReadExact(fd, n); });
  return *this;
}

ScriptedPeer& ScriptedPeer::ReadPacket() {
  steps_.push_back([this](int fd) {
    if (!ReadExact(fd, 4)) return false;
    std::string r = Received();
    const auto* h = reinterpret_cast<const uint8_t*>(r.data() + r.size() - 4);
    return ReadExact(fd, h[0] | (h[1] << 8) | (h[2] << 16));
  });
  return *this;
}

ScriptedPeer& ScriptedPeer::ReadFrame() {
  steps_.push_back([this](int fd) {
    if (!ReadExact(fd, 7)) return false;
    std::string r = Received();
    const auto* h = reinterpret_cast<const uint8_t*>(r.data() + r.size() - 7);
    return ReadExact(fd, h[0] | (h[1] << 8) | (h[2] << 16));
  });
  return *this;
}

ScriptedPeer& ScriptedPeer::Pause(int milliseconds) {
  steps_.push_back([milliseconds](int) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    return true;
  });
  return *this;
}

ScriptedPeer& ScriptedPeer::Drop() {
  steps_.push_back([](int fd) {
    ::shutdown(fd, SHUT_RDWR);
    return false;
  });
  drop_step_ = steps_.size() - 1;
  return *this;
}

void ScriptedPeer::Start() { thread_ = std::thread([this] { Run(); }); }

void ScriptedPeer::Join() {
  if (thread_.joinable()) thread_.join();
}

void ScriptedPeer::Run() {
  pollfd p{listener_, POLLIN, 0};
  if (::poll(&p, 1, 10000) != 1) {
    failed_ = true;
    return;
  }
  int fd = ::accept(listener_, nullptr, nullptr);
  if (fd < 0) {
    failed_ = true;
    return;
  }
  bool dropped = false;
  for (size_t i = 0; i < steps_.size(); ++i) {
    if (!steps_[i](fd)) {
      dropped = true;
      if (i != drop_step_) failed_ = true;  // only Drop may end the script early
      break;
    }
  }
  if (!dropped) {
    // Capture whatever else the client sends until it closes.
    char buf[4096];
    for (;;) {
      if (!WaitReadable(fd, 10000)) break;
      long r = RecvSome(fd, buf, sizeof buf);
      if (r <= 0) break;
      std::lock_guard<std::mutex> g(mutex_);
      received_.append(buf, static_cast<size_t>(r));
    }
  }
  EndTls();
  ::close(fd);
}

ScriptedPeer& ScriptedPeer::StartTls(const std::string& cert_file, const std::string& key_file) {
  steps_.push_back([this, cert_file, key_file](int fd) {
    ssl_ctx_ = SSL_CTX_new(TLS_server_method());
    if (ssl_ctx_ == nullptr ||
        SSL_CTX_use_certificate_chain_file(ssl_ctx_, cert_file.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(ssl_ctx_, key_file.c_str(), SSL_FILETYPE_PEM) != 1)
      return false;
    ssl_ = SSL_new(ssl_ctx_);
    if (ssl_ == nullptr || SSL_set_fd(ssl_, fd) != 1) return false;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 10000) != 1) return false;
    if (SSL_accept(ssl_) != 1) {
      ERR_clear_error();
      tls_failed_ = true;
      return false;
    }
    return true;
  });
  return *this;
}

void ScriptedPeer::EndTls() {
  if (ssl_ != nullptr) SSL_free(ssl_);
  if (ssl_ctx_ != nullptr) SSL_CTX_free(ssl_ctx_);
  ssl_ = nullptr;
  ssl_ctx_ = nullptr;
}

long ScriptedPeer::SendSome(int fd, const char* data, size_t n) {
  if (ssl_ != nullptr) {
    int r = SSL_write(ssl_, data, static_cast<int>(n));
    return r > 0 ? r : -1;
  }
  return ::send(fd, data, n, MSG_NOSIGNAL);
}

long ScriptedPeer::RecvSome(int fd, char* data, size_t n) {
  if (ssl_ != nullptr) {
    int r = SSL_read(ssl_, data, static_cast<int>(n));
    return r > 0 ? r : -1;
  }
  return ::recv(fd, data, n, 0);
}

bool ScriptedPeer::WaitReadable(int fd, int ms) {
  if (ssl_ != nullptr && SSL_pending(ssl_) > 0) return true;
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, ms) == 1;
}

std::string ScriptedPeer::Received() {
  std::lock_guard<std::mutex> g(mutex_);
  return received_;
}

std::vector<std::string> ScriptedPeer::ReceivedPackets() {
  std::string r = Received();
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos + 4 <= r.size()) {
    const auto* h = reinterpret_cast<const uint8_t*>(r.data() + pos);
    size_t n = h[0] | (h[1] << 8) | (h[2] << 16);
    if (pos + 4 + n > r.size()) break;
    out.push_back(r.substr(pos, 4 + n));
    pos += 4 + n;
  }
  return out;
}

}  // namespace rowset::test
