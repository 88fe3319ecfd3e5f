#include "tests/common/LoopbackProxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

namespace rowset::test {

namespace {

int ConnectTo(const std::string& host, uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  if (::inet_pton(AF_INET, host.c_str(), &sa.sin_addr) != 1 ||
      ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    ::close(fd);
    return -1;
  }
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

void Cut(int& fd) {
  if (fd < 0) return;
  ::shutdown(fd, SHUT_RDWR);
  ::close(fd);
  fd = -1;
}

}  // namespace

LoopbackProxy::LoopbackProxy(const std::string& host, uint16_t port)
    : host_(host == "localhost" ? "127.0.0.1" : host), target_port_(port) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sa;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
      ::listen(listener_, 8) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&sa), &len) != 0 ||
      ::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
    if (listener_ >= 0) ::close(listener_);
    throw std::runtime_error("LoopbackProxy: cannot listen");
  }
  port_ = ntohs(sa.sin_port);
  thread_ = std::thread([this] { Run(); });
}

LoopbackProxy::~LoopbackProxy() {
  stop_ = true;
  Wake();
  if (thread_.joinable()) thread_.join();
  CloseAll();
  ::close(listener_);
  ::close(wake_[0]);
  ::close(wake_[1]);
}

void LoopbackProxy::DropAfter(int64_t bytes) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    budget_ = bytes;
  }
  Wake();
}

void LoopbackProxy::DropNow() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    drop_now_ = true;
  }
  Wake();
}

void LoopbackProxy::Stall(bool on) {
  stalled_ = on;
  Wake();
}

std::string LoopbackProxy::FromServer() {
  std::lock_guard<std::mutex> lock(mutex_);
  return from_server_;
}

void LoopbackProxy::Wake() {
  char b = 1;
  (void)!::write(wake_[1], &b, 1);
}

void LoopbackProxy::CloseAll() {
  for (Pair& p : pairs_) {
    Cut(p.client);
    Cut(p.server);
  }
  pairs_.clear();
}

void LoopbackProxy::Run() {
  std::vector<char> buffer(64 * 1024);
  while (!stop_) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (drop_now_ || budget_ == 0) CloseAll();
      drop_now_ = false;
    }
    const bool stalled = stalled_;
    std::vector<pollfd> fds;
    fds.push_back({wake_[0], POLLIN, 0});
    fds.push_back({listener_, POLLIN, 0});
    for (const Pair& p : pairs_) {
      fds.push_back({p.client, static_cast<short>(stalled ? 0 : POLLIN), 0});
      fds.push_back({p.server, static_cast<short>(stalled ? 0 : POLLIN), 0});
    }
    if (::poll(fds.data(), fds.size(), 1000) < 0) continue;
    if (fds[0].revents & POLLIN) {
      char sink[64];
      while (::read(wake_[0], sink, sizeof sink) > 0) {
      }
    }
    if (fds[1].revents & POLLIN) {
      int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client >= 0) {
        ++accepted_;
        int one = 1;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        bool cut;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          cut = budget_ == 0;
        }
        int server = cut ? -1 : ConnectTo(host_, target_port_);
        if (server < 0) {
          Cut(client);
        } else {
          pairs_.push_back({client, server});
        }
      }
    }
    if (stalled) continue;
    for (size_t i = 0; i < pairs_.size() && 2 + 2 * i + 1 < fds.size(); ++i) {
      for (int side = 0; side < 2; ++side) {
        const pollfd& pf = fds[2 + 2 * i + side];
        if (!(pf.revents & (POLLIN | POLLHUP | POLLERR))) continue;
        Pair& p = pairs_[i];
        int from = side == 0 ? p.client : p.server;
        int to = side == 0 ? p.server : p.client;
        if (from < 0 || to < 0) continue;
        size_t want = buffer.size();
        {
          std::lock_guard<std::mutex> lock(mutex_);
          if (budget_ == 0) break;
          if (budget_ > 0) want = std::min<size_t>(want, static_cast<size_t>(budget_));
        }
        ssize_t n = ::recv(from, buffer.data(), want, 0);
        if (n <= 0) {
          Cut(p.client);
          Cut(p.server);
          continue;
        }
        size_t at = 0;
        while (at < static_cast<size_t>(n)) {
          ssize_t w = ::send(to, buffer.data() + at, static_cast<size_t>(n) - at, MSG_NOSIGNAL);
          if (w <= 0) break;
          at += static_cast<size_t>(w);
        }
        forwarded_ += at;
        std::lock_guard<std::mutex> lock(mutex_);
        if (side == 1) from_server_.append(buffer.data(), at);
        if (budget_ > 0) budget_ -= static_cast<int64_t>(std::min<size_t>(at, budget_));
        if (budget_ == 0) {
          CloseAll();
          break;
        }
      }
      if (pairs_.empty()) break;
    }
    pairs_.erase(std::remove_if(pairs_.begin(), pairs_.end(),
                                [](const Pair& p) { return p.client < 0 && p.server < 0; }),
                 pairs_.end());
  }
}

}  // namespace rowset::test
