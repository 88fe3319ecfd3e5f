#include "host/Sockets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include <cstring>

namespace rowset::host {

namespace {

thread_local int last_error = 0;

std::mutex& SocketPathMutex() {
  static std::mutex m;
  return m;
}
std::string& SocketPath() {
  static std::string path = "/run/mysqld/mysqld.sock";
  return path;
}

int MapErrno(int e) {
  if (e == EAGAIN || e == EWOULDBLOCK) return kErrWouldBlock;
  if (e == EINPROGRESS || e == EALREADY) return kErrInProgress;
  if (e == EINTR) return kErrInterrupted;
  if (e == ETIMEDOUT) return kErrTimedOut;
  return e;
}

int Fail() {
  last_error = MapErrno(errno);
  return -1;
}

}  // namespace

bool SocketsStartup() { return true; }
void SocketsCleanup() {}

int SocketLastError() { return last_error; }
void SetSocketLastError(int error) { last_error = error; }

SocketHandle SocketCreateInet() {
  int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) {
    Fail();
    return kInvalidSocket;
  }
  last_error = 0;
  return s;
}

bool SocketResolveHost(const std::string& host, uint32_t& address) {
  in_addr a{};
  if (::inet_pton(AF_INET, host.c_str(), &a) == 1) {
    address = a.s_addr;
    last_error = 0;
    return true;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &res);
  if (rc != 0 || res == nullptr) {
    last_error = rc == EAI_AGAIN ? kErrTryAgain
                 : (rc == EAI_NONAME || rc == EAI_NODATA) ? kErrHostNotFound
                                                          : kErrNoRecovery;
    if (res) ::freeaddrinfo(res);
    return false;
  }
  address = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr;
  ::freeaddrinfo(res);
  last_error = 0;
  return true;
}

int SocketConnectInet(SocketHandle s, uint32_t address, uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = address;
  if (::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return Fail();
  last_error = 0;
  return 0;
}

int SocketFinishConnect(SocketHandle s, int timeout_ms) {
  pollfd p{s, POLLOUT, 0};
  int rc;
  do {
    rc = ::poll(&p, 1, timeout_ms);
  } while (rc < 0 && errno == EINTR);
  if (rc < 0) {
    Fail();
    return last_error;
  }
  if (rc == 0) return last_error = kErrTimedOut;
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
    Fail();
    return last_error;
  }
  return last_error = MapErrno(err);
}

int SocketSetNonBlocking(SocketHandle s, bool non_blocking) {
  int flags = ::fcntl(s, F_GETFL, 0);
  if (flags < 0) return Fail();
  flags = non_blocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  if (::fcntl(s, F_SETFL, flags) != 0) return Fail();
  last_error = 0;
  return 0;
}

long SocketSend(SocketHandle s, const void* data, size_t length) {
  ssize_t n = ::send(s, data, length, MSG_NOSIGNAL);
  if (n < 0) return Fail();
  last_error = 0;
  return n;
}

long SocketRecv(SocketHandle s, void* data, size_t length) {
  ssize_t n = ::recv(s, data, length, 0);
  if (n < 0) return Fail();
  last_error = 0;
  return n;
}

long SocketRecvNow(SocketHandle s, void* data, size_t length) {
  ssize_t n = ::recv(s, data, length, MSG_DONTWAIT);
  if (n < 0) return Fail();
  last_error = 0;
  return n;
}

int SocketWaitReadable(SocketHandle s, int timeout_ms) {
  pollfd p{s, POLLIN, 0};
  int rc = ::poll(&p, 1, timeout_ms);
  if (rc < 0) return Fail();
  if (rc == 0) {
    last_error = kErrTimedOut;
    return 0;
  }
  last_error = 0;
  return 1;
}

int SocketSetOption(SocketHandle s, SocketOption option, bool on) {
  int value = on ? 1 : 0;
  int rc;
  switch (option) {
    case SocketOption::kIpTypeOfServiceEmpty:
      rc = ::setsockopt(s, IPPROTO_IP, IP_TOS, &value, 0);
      break;
    case SocketOption::kTcpNoDelay:
      rc = ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &value, sizeof value);
      break;
    case SocketOption::kKeepAlive:
      rc = ::setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, &value, sizeof value);
      break;
    default:
      errno = EINVAL;
      rc = -1;
  }
  if (rc != 0) return Fail();
  last_error = 0;
  return 0;
}

int SocketSetSendTimeout(SocketHandle s, int timeout_ms) {
  timeval tv{};
  if (timeout_ms > 0) {
    tv.tv_sec = timeout_ms / 1000;
    tv.tv_usec = (timeout_ms % 1000) * 1000;
  }
  if (::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) != 0) return Fail();
  last_error = 0;
  return 0;
}

bool SocketNoDelay(SocketHandle s) {
  int value = 0;
  socklen_t len = sizeof value;
  return ::getsockopt(s, IPPROTO_TCP, TCP_NODELAY, &value, &len) == 0 && value != 0;
}

int SocketShutdown(SocketHandle s) {
  if (::shutdown(s, SHUT_RDWR) != 0) return Fail();
  last_error = 0;
  return 0;
}

int SocketClose(SocketHandle s) {
  if (::close(s) != 0) return Fail();
  last_error = 0;
  return 0;
}

void SetLocalServerSocket(const std::string& path) {
  std::lock_guard<std::mutex> guard(SocketPathMutex());
  SocketPath() = path;
}

std::string LocalServerSocket() {
  std::lock_guard<std::mutex> guard(SocketPathMutex());
  return SocketPath();
}

SocketHandle PipeOpen(const std::string& pipe_path) {
  // Every pipe path names the one local server.
  (void)pipe_path;
  std::string path = LocalServerSocket();
  sockaddr_un sa{};
  sa.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof sa.sun_path) {
    last_error = ENAMETOOLONG;
    return kInvalidSocket;
  }
  std::memcpy(sa.sun_path, path.data(), path.size());
  int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) {
    Fail();
    return kInvalidSocket;
  }
  int rc;
  do {
    rc = ::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    int e = errno;
    ::close(s);
    last_error = (e == EAGAIN) ? kErrPipeBusy : (e == ENOENT ? 2 : e);
    return kInvalidSocket;
  }
  last_error = 0;
  return s;
}

bool PipeWait(const std::string& pipe_path, int timeout_ms) {
  (void)pipe_path;
  struct stat st{};
  if (::stat(LocalServerSocket().c_str(), &st) != 0) return Fail(), false;
  int pause = timeout_ms < 50 ? (timeout_ms < 1 ? 1 : timeout_ms) : 50;
  std::this_thread::sleep_for(std::chrono::milliseconds(pause));
  last_error = 0;
  return true;
}

int PipeSetByteMode(SocketHandle h) { return SocketSetNonBlocking(h, false); }

}  // namespace rowset::host
