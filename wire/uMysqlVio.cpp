#include "wire/uMysqlVio.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include "wire/uMysqlErrors.h"

namespace rowset {

namespace {

constexpr size_t kMaxErrorLength = 200;
constexpr int kPipeAttempts = 101;
// Reads of this size or more go straight to the caller's buffer.
constexpr size_t kReadAheadSize = 16384;
// The read-ahead buffer: many rows of an ordinary result, or several TLS
// records, per receive.
constexpr size_t kReadAheadAlloc = 65536;

std::atomic<bool> sockets_started{false};

bool StartSockets() {
  if (sockets_started.load()) return true;
  if (!host::SocketsStartup()) return false;
  sockets_started.store(true);
  return true;
}

int TimeoutMs(uint32_t seconds) {
  uint64_t ms = uint64_t{seconds} * 1000;
  return ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(ms);
}

}  // namespace

TMysqlVio::~TMysqlVio() {
  if (vio_type != VIO_CLOSED) vio_close();
}

void TMysqlVio::set_last_error(const std::string& text) {
  last_error_ = text.size() > kMaxErrorLength ? text.substr(0, kMaxErrorLength)
                                              : text;
}

void TMysqlVio::SetNoTimeOut(bool value) {
  no_timeout_ = value;
  if (!value) {
    if (timeout == 0) timeout = NET_READ_TIMEOUT;
  } else if (vio_type == VIO_TYPE_TCPIP) {
    vio_blocking(true);
  }
}

int TMysqlVio::open_pipe(const std::string& host, const std::string& pipe_name) {
  const std::string path = "\\\\" + host + "\\pipe\\" + pipe_name;
  host::SocketHandle h = host::kInvalidSocket;
  bool failed = false;
  for (int attempt = 0; attempt < kPipeAttempts; ++attempt) {
    h = host::PipeOpen(path);
    if (h != host::kInvalidSocket) break;
    int err = host::SocketLastError();
    if (err != host::kErrPipeBusy) {
      set_error(CR_NAMEDPIPEOPEN_ERROR,
                FormatClientError(CR_NAMEDPIPEOPEN_ERROR, host.c_str(),
                                  pipe_name.c_str(), static_cast<unsigned>(err)));
      failed = true;
      break;
    }
    if (!host::PipeWait(path, TimeoutMs(timeout))) {
      set_error(CR_NAMEDPIPEWAIT_ERROR,
                FormatClientError(CR_NAMEDPIPEWAIT_ERROR, host.c_str(),
                                  pipe_name.c_str(),
                                  static_cast<unsigned long>(host::SocketLastError())));
      failed = true;
      break;
    }
  }
  if (h == host::kInvalidSocket) {
    if (!failed) {
      set_error(CR_NAMEDPIPEOPEN_ERROR,
                FormatClientError(CR_NAMEDPIPEOPEN_ERROR, host.c_str(),
                                  pipe_name.c_str(),
                                  static_cast<unsigned>(host::SocketLastError())));
    }
    return -1;
  }
  if (host::PipeSetByteMode(h) != 0) {
    unsigned long err = static_cast<unsigned long>(host::SocketLastError());
    host::SocketClose(h);
    set_error(CR_NAMEDPIPESETSTATE_ERROR,
              FormatClientError(CR_NAMEDPIPESETSTATE_ERROR, host.c_str(),
                                pipe_name.c_str(), err));
    return -1;
  }
  vio_type = VIO_TYPE_NAMEDPIPE;
  sock = 0;
  pipe_handle = h;
  nonblocking = 0;
  return 0;
}

int TMysqlVio::vio_open(TEnumVioType type, const std::string& host,
                        const std::string& pipe_name, uint32_t port,
                        uint32_t timeout_seconds, bool try_sock) {
  if (vio_type != VIO_CLOSED) return -20;
  discard_buffered();
  timeout = timeout_seconds;
  if (timeout == 0 && !no_timeout_) timeout = NET_READ_TIMEOUT;
  if (type == VIO_TYPE_SSL) return -2;
  if ((type == VIO_TYPE_TCPIP || try_sock) && !StartSockets()) return -1;

  const std::string given_host = host;
  const std::string given_pipe = pipe_name;

  if (type == VIO_TYPE_NAMEDPIPE) {
    if (open_pipe(".", "MySQL") == 0) {
      // The greeting must come within the time-out, as over TCP.
      if (timeout != 0 && !no_timeout_ && !vio_poll_read(timeout)) {
        vio_close();
        set_error(CR_CONN_HOST_ERROR,
                  FormatClientError(CR_CONN_HOST_ERROR, "localhost", host::kErrTimedOut));
        return -7;
      }
      return 0;
    }
    if (!try_sock) return -9;
  }
  if (!try_sock) {
    last_errorno = 0;
    last_error_.clear();
    return 0;
  }

  const uint16_t tcp_port = port == 0 ? 3306 : static_cast<uint16_t>(port);
  const std::string tcp_host = given_host.empty() ? "localhost" : given_host;

  host::SocketHandle s = host::SocketCreateInet();
  if (s == host::kInvalidSocket) {
    set_error(CR_IPSOCK_ERROR,
              FormatClientError(CR_IPSOCK_ERROR, host::SocketLastError()));
    return -8;
  }
  // Every failure below releases the socket before returning.
  auto fail = [&](uint32_t number, int code, int err) {
    host::SocketClose(s);
    sock = -1;
    vio_type = VIO_CLOSED;
    nonblocking = 0;
    set_error(number, FormatClientError(number, tcp_host.c_str(), err));
    return code;
  };

  uint32_t address = 0;
  if (!host::SocketResolveHost(tcp_host, address))
    return fail(CR_UNKNOWN_HOST, -7, host::SocketLastError());

  sock = s;
  vio_type = VIO_TYPE_TCPIP;
  nonblocking = 0;
  vio_blocking(false);
  if (host::SocketConnectInet(s, address, tcp_port) != 0) {
    int err = host::SocketLastError();
    if (err != host::kErrWouldBlock && err != host::kErrInProgress)
      return fail(CR_CONN_HOST_ERROR, -6, err);
    // The connect runs on; its outcome decides between connected and 2003.
    err = host::SocketFinishConnect(s, timeout == 0 ? -1 : TimeoutMs(timeout));
    if (err == host::kErrTimedOut) return fail(CR_CONN_HOST_ERROR, -7, err);
    if (err != 0) return fail(CR_CONN_HOST_ERROR, -6, err);
  }
  fastsend();
  keepalive(true);
  if (timeout != 0 && !vio_poll_read(timeout))
    return fail(CR_CONN_HOST_ERROR, -7, host::SocketLastError());
  if (no_timeout_) vio_blocking(true);
  last_errorno = 0;
  last_error_.clear();
  return 0;
}

int TMysqlVio::vio_close() {
  int result = 0;
  if (tls_) {
    tls_->Shutdown();
    tls_.reset();
  }
  tls_begin_ = tls_end_ = 0;
  if (vio_type == VIO_TYPE_NAMEDPIPE) {
    if (pipe_handle >= 0 && host::SocketClose(pipe_handle) != 0) result = -1;
  } else if (vio_type != VIO_CLOSED && sock >= 0) {
    if (host::SocketShutdown(sock) != 0) result = -1;
    if (host::SocketClose(sock) != 0) result = -1;
  }
  vio_type = VIO_CLOSED;
  sock = -1;
  pipe_handle = -1;
  nonblocking = 0;
  // Bytes of the old connection must never reach a later one.
  discard_buffered();
  more_likely_ = false;
  return result;
}

size_t TMysqlVio::vio_pending() const {
  return read_end_ - read_begin_ + (tls_ ? tls_end_ - tls_begin_ + tls_->Pending() : 0);
}

int TMysqlVio::vio_start_tls(const TSslOptions& options, const std::string& host) {
  if (vio_type == VIO_CLOSED || tls_) return -1;
  vio_blocking(true);
  std::string error;
  tls_ = TMysqlTls::Connect(raw_, options, host, error);
  if (!tls_) {
    set_error(CR_SSL_CONNECTION_ERROR, "SSL connection error: " + error);
    return -1;
  }
  return 0;
}

bool TMysqlVio::vio_poll_read(uint32_t timeout_seconds) {
  if (vio_type == VIO_CLOSED) return false;
  if (vio_pending() > 0) return true;
  const host::SocketHandle h = vio_type == VIO_TYPE_NAMEDPIPE ? pipe_handle : sock;
  return host::SocketWaitReadable(h, TimeoutMs(timeout_seconds)) == 1;
}

long TMysqlVio::take_buffered(void* buffer, size_t size) {
  size_t n = std::min(size, read_end_ - read_begin_);
  if (n == 0) return -1;
  std::memcpy(buffer, read_buffer_.data() + read_begin_, n);
  read_begin_ += n;
  if (read_begin_ == read_end_) discard_buffered();
  return static_cast<long>(n);
}

long TMysqlVio::vio_read(void* buffer, size_t size) {
  if (vio_type == VIO_CLOSED || size == 0) return -1;
  if (tls_) return tls_read(buffer, size);
  return raw_read(buffer, size);
}

long TMysqlVio::tls_read(void* buffer, size_t size) {
  // Small reads are served from decrypted bytes read ahead, as below TLS.
  if (tls_end_ > tls_begin_) {
    size_t n = std::min(size, tls_end_ - tls_begin_);
    std::memcpy(buffer, tls_buffer_.data() + tls_begin_, n);
    tls_begin_ += n;
    if (tls_begin_ == tls_end_) tls_begin_ = tls_end_ = 0;
    return static_cast<long>(n);
  }
  if (size >= kReadAheadSize) return tls_->Read(buffer, size);
  if (tls_buffer_.empty()) {
    try {
      tls_buffer_.resize(kReadAheadSize);
    } catch (const std::bad_alloc&) {
      return tls_->Read(buffer, size);
    }
  }
  long n = tls_->Read(tls_buffer_.data(), tls_buffer_.size());
  if (n <= 0) return -1;
  tls_begin_ = 0;
  tls_end_ = static_cast<size_t>(n);
  return tls_read(buffer, size);
}

long TMysqlVio::raw_read(void* buffer, size_t size) {
  if (vio_type == VIO_CLOSED || size == 0) return -1;
  if (read_end_ > read_begin_) return take_buffered(buffer, size);
  if (size < kReadAheadSize && read_buffer_.empty()) {
    try {
      read_buffer_.resize(kReadAheadAlloc);
    } catch (const std::bad_alloc&) {
      // Without the buffer every read simply goes to the socket.
    }
  }
  if (size >= kReadAheadSize || read_buffer_.empty()) return raw_receive(buffer, size);
  long n = raw_receive(read_buffer_.data(), read_buffer_.size());
  if (n <= 0) return -1;
  read_begin_ = 0;
  read_end_ = static_cast<size_t>(n);
  return take_buffered(buffer, size);
}

long TMysqlVio::raw_receive(void* buffer, size_t size) {
  const host::SocketHandle h = vio_type == VIO_TYPE_NAMEDPIPE ? pipe_handle : sock;
  if (!no_timeout_) {
    // The local server connection waits exactly like TCP: a stalled server
    // must not block the caller for ever. After a receive that filled its
    // buffer more has most likely arrived: it is taken without waiting
    // first, and only an empty socket is waited for.
    if (more_likely_) {
      const long n = host::SocketRecvNow(h, buffer, size);
      if (n > 0) {
        more_likely_ = static_cast<size_t>(n) == size;
        return n;
      }
      more_likely_ = false;
      if (n == 0 || (host::SocketLastError() != host::kErrWouldBlock &&
                     host::SocketLastError() != host::kErrInterrupted))
        return -1;
    }
    if (host::SocketWaitReadable(h, timeout == 0 ? -1 : TimeoutMs(timeout)) != 1) return -1;
  }
  const long n = host::SocketRecv(h, buffer, size);
  more_likely_ = n > 0 && static_cast<size_t>(n) == size;
  return n > 0 ? n : -1;
}

long TMysqlVio::vio_read_some(void* buffer, size_t size) {
  if (vio_type == VIO_CLOSED || size == 0) return -1;
  if (tls_) {
    if (tls_end_ > tls_begin_) return tls_read(buffer, size);
    return tls_->Read(buffer, size);
  }
  // Small reads fill the read-ahead: fewer receives for one more copy.
  return raw_read(buffer, size);
}

bool TMysqlVio::vio_unread(const uint8_t* data, size_t size) {
  if (size == 0) return true;
  std::vector<uint8_t>& buffer = tls_ ? tls_buffer_ : read_buffer_;
  size_t& begin = tls_ ? tls_begin_ : read_begin_;
  size_t& end = tls_ ? tls_end_ : read_end_;
  try {
    std::vector<uint8_t> joined;
    const size_t least = tls_ ? kReadAheadSize : kReadAheadAlloc;
    joined.reserve(std::max(size + (end - begin), least));
    joined.assign(data, data + size);
    joined.insert(joined.end(), buffer.begin() + static_cast<std::ptrdiff_t>(begin),
                  buffer.begin() + static_cast<std::ptrdiff_t>(end));
    begin = 0;
    end = joined.size();
    joined.resize(std::max(end, least));
    buffer.swap(joined);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

long TMysqlVio::vio_write(const void* buffer, size_t size) {
  if (vio_type == VIO_CLOSED) return -1;
  if (tls_) return tls_->Write(buffer, size);
  return raw_write(buffer, size);
}

long TMysqlVio::raw_write(const void* buffer, size_t size) {
  if (vio_type == VIO_CLOSED) return -1;
  long n = host::SocketSend(vio_type == VIO_TYPE_NAMEDPIPE ? pipe_handle : sock,
                            buffer, size);
  return n > 0 ? n : -1;
}

int TMysqlVio::vio_blocking(bool blocking) {
  if (vio_type == VIO_CLOSED) return -1;
  if (vio_type == VIO_TYPE_NAMEDPIPE) return 0;
  // The TLS session needs whole reads and writes: its socket stays blocking.
  if (tls_ && !blocking) return 0;
  uint32_t wanted = blocking ? (nonblocking & ~1u) : (nonblocking | 1u);
  if (wanted == nonblocking) return 0;
  nonblocking = wanted;
  return host::SocketSetNonBlocking(sock, !blocking);
}

bool TMysqlVio::vio_should_retry() const {
  if (vio_type == VIO_CLOSED) return false;
  int e = host::SocketLastError();
  return e == host::kErrInProgress || e == host::kErrInterrupted ||
         e == host::kErrWouldBlock;
}

bool TMysqlVio::vio_intrerupted() const {
  return host::SocketLastError() == host::kErrInterrupted;
}

int TMysqlVio::fastsend() {
  // TCP_NODELAY always: without it every statement larger than a segment
  // waits for the peer's delayed acknowledgement. (An empty IP_TOS call
  // succeeds on Linux, so it cannot stand in for it.)
  return host::SocketSetOption(sock, host::SocketOption::kTcpNoDelay, true) == 0 ? 0 : -1;
}

int TMysqlVio::set_write_timeout(uint32_t seconds) {
  if (vio_type == VIO_CLOSED) return -1;
  return host::SocketSetSendTimeout(vio_type == VIO_TYPE_NAMEDPIPE ? pipe_handle : sock,
                                    seconds == 0 ? 0 : TimeoutMs(seconds));
}

int TMysqlVio::keepalive(bool on) {
  return host::SocketSetOption(sock, host::SocketOption::kKeepAlive, on);
}

}  // namespace rowset
