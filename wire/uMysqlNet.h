// The packet layer: turns a transport's byte stream into the protocol's
// packets (3-byte length, sequence number, payload) and back, optionally
// inside compressed frames, and decodes the server's error packets.
//
// One buffer serves reading and writing. After every successful read the byte
// after the payload is 0, so a payload can be read as zero-terminated text.
// Everything from the server is treated as untrusted: a length that does not
// fit what was received ends the read with `packet_error`.
#ifndef ROWSET_WIRE_UMYSQLNET_H_
#define ROWSET_WIRE_UMYSQLNET_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "wire/uMysqlVio.h"

namespace rowset {

constexpr uint32_t packet_error = 0xFFFFFFFF;

class TMysqlNet {
 public:
  TMysqlNet() = default;
  ~TMysqlNet() = default;
  TMysqlNet(const TMysqlNet&) = delete;
  TMysqlNet& operator=(const TMysqlNet&) = delete;

  // The transport's open result; 0 without doing anything when open already.
  int net_open(TEnumVioType type, const std::string& host,
               const std::string& pipe_name, uint32_t port, uint32_t timeout,
               bool try_sock);
  int net_close();
  void net_clear();
  int net_flush();
  // Appends one packet to the send buffer (no flush); 0 or 1.
  int my_net_write(const void* payload, size_t length);
  // Appends one command packet and flushes; 0 or 1. A command whose packet
  // has the largest size (0xFFFFFF) is followed by the empty packet that ends
  // it. A longer argument is refused before anything is sent (1, with
  // ER_NET_PACKET_TOO_LARGE recorded), so the connection stays usable.
  int net_write_command(uint8_t command, const void* argument, size_t length);
  // Payload length of the next packet or `packet_error`; the payload starts
  // at read_ptr().
  uint32_t my_net_read();
  // As my_net_read, and decodes error packets. A failed read (or an empty
  // packet) closes the transport and records 2013 (2020 for a packet too
  // large); an error packet records the server's number and text and keeps
  // the connection. An error packet numbered 0 is recorded as
  // CR_UNKNOWN_ERROR with its text, so that it can never pass for success.
  // Under the 4.1 protocol the SQL state after the number goes to
  // vio.sql_state.
  uint32_t net_safe_read();
  bool net_realloc(size_t size);
  bool net_pack();
  void setcompress(bool on) { compress = on; }

  uint8_t* read_ptr() { return buff.data() + read_pos; }

  const std::string& last_error() const { return vio.last_error(); }
  void set_last_error(const std::string& text) { vio.set_last_error(text); }
  uint32_t last_errorno() const { return vio.last_errorno; }
  void set_last_errorno(uint32_t number) { vio.last_errorno = number; }
  void set_error(uint32_t number, const std::string& text) { vio.set_error(number, text); }
  bool NetConnected() const { return vio.vio_type != VIO_CLOSED; }
  TEnumVioType VioType() const { return vio.vio_type; }
  bool NoTimeOut() const { return vio.NoTimeOut(); }
  void SetNoTimeOut(bool value) { vio.SetNoTimeOut(value); }

  TMysqlVio vio;
  bool compress = false;
  uint8_t io_state = 0;  // 0 idle, 1 reading, 2 writing
  std::vector<uint8_t> buff;
  uint32_t buff_size = 0;
  uint8_t seq_nr = 0;
  size_t write_pos = 0;
  size_t read_pos = 0;
  uint32_t fill_length = 0;
  uint32_t read_start = 0;
  uint32_t remaining = 0;
  uint8_t saved_byte = 0;
  uint32_t protocol_version = 10;
  // Error packets carry "#" and a five-character SQL state before their
  // text (set once a 4.1 login has been sent).
  bool protocol41 = false;

 private:
  int net_buffer_append(const uint8_t* data, size_t length);
  int net_real_write(const uint8_t* data, size_t length);
  uint32_t my_real_read(uint32_t& uncompressed_length);
  bool read_fully(uint8_t* to, size_t length, int& retries);
  uint32_t my_net_read_compressed();
};

}  // namespace rowset

#endif  // ROWSET_WIRE_UMYSQLNET_H_
