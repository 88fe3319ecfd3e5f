// The packet layer: turns a transport's byte stream into the protocol's
// packets (3-byte length, sequence number, payload) and back, optionally
// inside compressed frames, and decodes the server's error packets.
//
// Reads take from the transport as much as the buffer has room for and cut
// packets out of it in place; a packet already received costs no system call
// and no copy. Writes go through a buffer of their own, so bytes received
// but not yet read survive a command sent meanwhile. After every successful
// read the byte after the payload is 0 (the byte it covers is put back
// before the next read), so a payload can be read as zero-terminated text.
// Everything from the server is treated as untrusted: a length that does not
// fit what was received ends the read with `packet_error`.
#ifndef ROWSET_WIRE_UMYSQLNET_H_
#define ROWSET_WIRE_UMYSQLNET_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "wire/uMysqlVio.h"

namespace rowset {

constexpr uint32_t packet_error = 0xFFFFFFFF;
// The longest payload sent or taken, over as many packets as it needs
// (the largest max_allowed_packet a server has).
constexpr size_t kMaxLogicalPacket = 0x40000000;

// Adler-32 of `data` continuing `adler` (1 to start), as zlib computes it.
uint32_t Adler32(uint32_t adler, const uint8_t* data, size_t length);

class TMysqlNet {
 public:
  TMysqlNet();
  ~TMysqlNet();
  TMysqlNet(const TMysqlNet&) = delete;
  TMysqlNet& operator=(const TMysqlNet&) = delete;

  // The transport's open result; 0 without doing anything when open already.
  int net_open(TEnumVioType type, const std::string& host,
               const std::string& pipe_name, uint32_t port, uint32_t timeout,
               bool try_sock);
  int net_close();
  void net_clear();
  int net_flush();
  // Appends one payload to the send buffer (no flush); 0 or 1. A payload of
  // 0xFFFFFF bytes or more goes as packets of that size followed by a
  // shorter one (empty when nothing is left), as the protocol has it.
  int my_net_write(const void* payload, size_t length);
  // Appends one command (its byte and argument, split as my_net_write
  // splits) and flushes; 0 or 1. An argument longer than kMaxLogicalPacket
  // is refused before anything is sent (1, with ER_NET_PACKET_TOO_LARGE
  // recorded), so the connection stays usable.
  int net_write_command(uint8_t command, const void* argument, size_t length);
  // Payload length of the next payload or `packet_error`; the payload starts
  // at read_ptr(). A payload sent as several packets (0xFFFFFF bytes each
  // but the last) is returned joined.
  uint32_t my_net_read();
  // As my_net_read, and decodes error packets. A failed read (or an empty
  // packet) closes the transport and records 2013 (2020 for a packet too
  // large); an error packet records the server's number and text and keeps
  // the connection. An error packet numbered 0 is recorded as
  // CR_UNKNOWN_ERROR with its text, so that it can never pass for success.
  // Under the 4.1 protocol the SQL state after the number goes to
  // vio.sql_state.
  uint32_t net_safe_read() {
    // The common case inline: a whole ordinary packet already received
    // (inflated). Packets inside compressed frames have no sequence of
    // their own.
    if (remaining >= 4 && vio.vio_type != VIO_CLOSED) {
      uint8_t* h = buff.data() + (fill_length - remaining);
      h[0] = saved_byte;
      const uint32_t length = uint32_t{h[0]} | (uint32_t{h[1]} << 8) | (uint32_t{h[2]} << 16);
      if ((compress || h[3] == seq_nr) && size_t{length} + 4 <= remaining && length != 0 &&
          length < 0xFFFFFF && h[4] != 255) {
        if (!compress) ++seq_nr;
        remaining -= length + 4;
        read_pos = fill_length - remaining - length;
        big_active_ = false;
        saved_byte = h[4 + length];
        h[4 + length] = 0;
        return length;
      }
    }
    return net_safe_read_slow();
  }
  bool net_realloc(size_t size);
  bool net_pack();
  // Switching compression on hands bytes received but not yet read back to
  // the transport: from then on they are read as compressed frames.
  void setcompress(bool on);
  // Starts TLS on the connection (TMysqlVio::vio_start_tls); bytes received
  // but not yet read go back to the transport first, as the start of the
  // TLS stream.
  int net_start_tls(const TSslOptions& options, const std::string& host);

  uint8_t* read_ptr() { return big_active_ ? big_.data() : buff.data() + read_pos; }

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
  // Received bytes (inflated ones when compressed): [0, fill_length) hold
  // data, the last `remaining` of them not yet read. saved_byte is the byte
  // the last payload's terminating 0 covers.
  std::vector<uint8_t> buff;
  uint32_t buff_size = 0;
  uint8_t seq_nr = 0;
  size_t write_pos = 0;  // bytes waiting in the write buffer
  size_t read_pos = 0;   // the last payload's offset in buff
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
  int send_bytes(const uint8_t* data, size_t length);
  int write_packets(uint8_t command, bool with_command, const void* payload, size_t length);
  uint32_t net_safe_read_slow();
  uint32_t my_net_read_one();
  uint32_t my_net_read_plain();
  // Gives unread plain bytes back to the transport.
  bool give_back_unread();
  // One compressed frame into buff at read_start (inflated); its length
  // there or packet_error.
  uint32_t read_frame();
  bool read_fully(uint8_t* to, size_t length, int& retries);
  uint32_t my_net_read_compressed();

  // A payload joined from several packets, handed out by read_ptr() until
  // the next read.
  std::vector<uint8_t> big_;
  bool big_active_ = false;
  // Commands being written.
  std::vector<uint8_t> out_;
  // A compressed frame's body before it is inflated into `buff`.
  std::vector<uint8_t> zbody_;
  // The zlib stream, kept from frame to frame.
  struct TInflater;
  std::unique_ptr<TInflater> inflater_;
};

}  // namespace rowset

#endif  // ROWSET_WIRE_UMYSQLNET_H_
