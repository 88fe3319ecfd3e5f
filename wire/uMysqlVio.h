// The byte transport under the packet layer: a TCP/IP socket or the local
// server connection (the "named pipe"). Reads wait for data up to a time-out
// unless `NoTimeOut` is set; the last error is kept as a number and a text.
// It knows nothing of packets. The TCP socket and the local server socket
// wait alike: connecting and the greeting within the open's time-out, each
// read within `timeout` (0 set after the open waits without limit).
//
// Reads go through a read-ahead buffer: one receive takes whatever the peer
// has sent (up to 64 KB), and the packet layer's reads are served from it
// without a system call. Only an empty buffer waits for the socket, so the
// read time-out applies as before. The buffer is emptied whenever the
// connection closes.
//
// After the greeting the session may switch the connection to TLS
// (vio_start_tls); from then on vio_read and vio_write carry plain bytes over
// the encrypted stream, which itself reads through the read-ahead buffer and
// keeps the read time-out; decrypted bytes have a read-ahead buffer of their
// own, so the packet layer's small reads stay cheap under TLS too. The socket
// stays in blocking mode under TLS (its reads still wait with the time-out
// first).
#ifndef ROWSET_WIRE_UMYSQLVIO_H_
#define ROWSET_WIRE_UMYSQLVIO_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/Sockets.h"
#include "wire/uMysqlCT.h"
#include "wire/uMysqlTls.h"

namespace rowset {

class TMysqlVio {
 public:
  TMysqlVio() = default;
  ~TMysqlVio();
  TMysqlVio(const TMysqlVio&) = delete;
  TMysqlVio& operator=(const TMysqlVio&) = delete;

  // 0 on success (or, for a type other than the named pipe with `try_sock`
  // false, when nothing was attempted); negative on failure: -1 sockets
  // unavailable, -2 SSL asked for, -6 connect failed, -7 host unknown or no
  // greeting in time, -8 no socket, -9 named pipe failed, -20 already open.
  int vio_open(TEnumVioType type, const std::string& host,
               const std::string& pipe_name, uint32_t port, uint32_t timeout,
               bool try_sock);
  int vio_close();
  // Bytes read or written (> 0), or -1 (also at the end of the stream).
  // A read returns buffered bytes first and never waits while any are left.
  long vio_read(void* buffer, size_t size);
  long vio_write(const void* buffer, size_t size);
  // As vio_read, for a reader that buffers on its own and asks for as much as
  // it has room for: under TLS decrypted bytes not read ahead go straight
  // into `buffer`.
  long vio_read_some(void* buffer, size_t size);
  // Puts bytes a reader took but did not use back in front of the unread
  // ones (decrypted ones under TLS), so the next read returns them first.
  // False when there is no memory for them.
  bool vio_unread(const uint8_t* data, size_t size);
  // True at once while received bytes wait in the read-ahead buffer.
  bool vio_poll_read(uint32_t timeout);
  // Bytes received but not yet handed out by vio_read (decrypted ones
  // under TLS).
  size_t vio_pending() const;
  // Runs the TLS handshake on the open connection; `host` is the name or
  // address connected to (checked in SSL_MODE_VERIFY_IDENTITY). 0, or -1
  // with CR_SSL_CONNECTION_ERROR recorded (the connection is then unusable).
  int vio_start_tls(const TSslOptions& options, const std::string& host);
  // True while the connection runs over TLS.
  bool vio_tls() const { return tls_ != nullptr; }
  // The TLS session, nullptr without TLS.
  const TMysqlTls* tls() const { return tls_.get(); }
  int vio_blocking(bool blocking);
  bool vio_should_retry() const;
  bool vio_intrerupted() const;
  // Sets TCP_NODELAY; 0 or -1.
  int fastsend();
  // Bounds each blocking send to `seconds` (0: no bound); 0 or -1.
  int set_write_timeout(uint32_t seconds);
  int keepalive(bool on);

  bool NoTimeOut() const { return no_timeout_; }
  void SetNoTimeOut(bool value);

  const std::string& last_error() const { return last_error_; }
  // Keeps at most the first 200 characters.
  void set_last_error(const std::string& text);
  void set_error(uint32_t number, const std::string& text) {
    last_errorno = number;
    set_last_error(text);
    sql_state.clear();
  }

  host::SocketHandle sock = -1;
  host::SocketHandle pipe_handle = -1;
  uint32_t nonblocking = 0;  // bit 0: socket in non-blocking mode
  TEnumVioType vio_type = VIO_CLOSED;
  uint32_t last_errorno = 0;
  // The SQL state of the last error when a 4.1 error packet gave one (five
  // characters), else empty.
  std::string sql_state;
  // Seconds a read waits for data. vio_open stores its time-out here
  // (NET_READ_TIMEOUT for 0); a 0 set afterwards waits without limit.
  uint32_t timeout = 0;

 private:
  int open_pipe(const std::string& host, const std::string& pipe_name);
  long take_buffered(void* buffer, size_t size);
  // The socket's own bytes, without TLS.
  long raw_read(void* buffer, size_t size);
  // Waits for the socket (with the read time-out) and receives into
  // `buffer`; the read-ahead must be empty.
  long raw_receive(void* buffer, size_t size);
  long raw_write(const void* buffer, size_t size);
  long tls_read(void* buffer, size_t size);
  void discard_buffered() { read_begin_ = read_end_ = 0; }

  std::string last_error_;
  bool no_timeout_ = false;
  // Read-ahead: bytes [read_begin_, read_end_) of read_buffer_ are unread.
  // Allocated on the first small read and kept across reconnects.
  std::vector<uint8_t> read_buffer_;
  size_t read_begin_ = 0;
  size_t read_end_ = 0;
  // The last receive filled its buffer.
  bool more_likely_ = false;
  // The TLS session's way to the socket.
  struct TRawSocket : TTlsSocket {
    explicit TRawSocket(TMysqlVio& v) : vio(v) {}
    long RawRead(void* buffer, size_t size) override { return vio.raw_read(buffer, size); }
    long RawWrite(const void* buffer, size_t size) override { return vio.raw_write(buffer, size); }
    TMysqlVio& vio;
  };
  TRawSocket raw_{*this};
  std::unique_ptr<TMysqlTls> tls_;
  // Decrypted bytes read ahead: [tls_begin_, tls_end_) of tls_buffer_.
  std::vector<uint8_t> tls_buffer_;
  size_t tls_begin_ = 0;
  size_t tls_end_ = 0;
};

}  // namespace rowset

#endif  // ROWSET_WIRE_UMYSQLVIO_H_
