// The byte transport under the packet layer: a TCP/IP socket or the local
// server connection (the "named pipe"). Reads wait for data up to a time-out
// unless `NoTimeOut` is set; the last error is kept as a number and a text.
// It knows nothing of packets.
#ifndef ROWSET_WIRE_UMYSQLVIO_H_
#define ROWSET_WIRE_UMYSQLVIO_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "host/Sockets.h"
#include "wire/uMysqlCT.h"

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
  long vio_read(void* buffer, size_t size);
  long vio_write(const void* buffer, size_t size);
  bool vio_poll_read(uint32_t timeout);
  int vio_blocking(bool blocking);
  bool vio_should_retry() const;
  bool vio_intrerupted() const;
  int fastsend();
  int keepalive(bool on);

  bool NoTimeOut() const { return no_timeout_; }
  void SetNoTimeOut(bool value);

  const std::string& last_error() const { return last_error_; }
  // Keeps at most the first 200 characters.
  void set_last_error(const std::string& text);
  void set_error(uint32_t number, const std::string& text) {
    last_errorno = number;
    set_last_error(text);
  }

  host::SocketHandle sock = -1;
  host::SocketHandle pipe_handle = -1;
  uint32_t nonblocking = 0;  // bit 0: socket in non-blocking mode
  TEnumVioType vio_type = VIO_CLOSED;
  uint32_t last_errorno = 0;
  uint32_t timeout = 0;  // seconds

 private:
  int open_pipe(const std::string& host, const std::string& pipe_name);

  std::string last_error_;
  bool no_timeout_ = false;
};

}  // namespace rowset

#endif  // ROWSET_WIRE_UMYSQLVIO_H_
