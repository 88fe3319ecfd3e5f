#include "wire/uMysqlNet.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "wire/uMysqlErrors.h"

namespace rowset {

namespace {

constexpr uint32_t kInitialBuffer = 8192;
constexpr uint32_t kMaxPayload = 0xFFFFFF;      // not sendable from here on
constexpr size_t kMaxBuffer = 0x1000000;        // 16 MiB
constexpr size_t kCompressThreshold = 50;
// The most bytes one write sends straight from a caller's data.
constexpr size_t kDirectWrite = 1024 * 1024;
constexpr size_t kMaxErrorMessage = 199;

void Store3(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
}

uint32_t Load3(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16);
}

// Compresses the body at block[7..7+length) in place when that saves space.
// Returns the body length as sent; `uncompressed` is the length before
// compression, or 0 when the body goes out as it is.
size_t CompressBody(std::vector<uint8_t>& block, size_t length, size_t& uncompressed) {
  uncompressed = 0;
  if (length < kCompressThreshold) return length;
  uLongf scratch_size = static_cast<uLongf>(static_cast<double>(length) * 120 / 100 + 12);
  std::vector<uint8_t> scratch;
  try {
    scratch.resize(scratch_size);
  } catch (const std::bad_alloc&) {
    return length;
  }
  uLongf out = scratch_size;
  if (::compress(scratch.data(), &out, block.data() + 7, static_cast<uLong>(length)) != Z_OK ||
      out >= length)
    return length;
  std::memcpy(block.data() + 7, scratch.data(), out);
  uncompressed = length;
  return out;
}

}  // namespace

int TMysqlNet::net_open(TEnumVioType type, const std::string& host,
                        const std::string& pipe_name, uint32_t port,
                        uint32_t timeout, bool try_sock) {
  if (NetConnected()) return 0;
  int rc = vio.vio_open(type, host, pipe_name, port, timeout, try_sock);
  if (rc != 0 || !NetConnected()) return rc;
  try {
    buff.assign(kInitialBuffer, 0);
  } catch (const std::bad_alloc&) {
    vio.vio_close();
    vio.set_error(CR_OUT_OF_MEMORY, ClientErrorText(CR_OUT_OF_MEMORY));
    return -1;
  }
  buff_size = kInitialBuffer;
  write_pos = read_pos = 0;
  seq_nr = 0;
  compress = false;
  fill_length = kInitialBuffer;
  read_start = 0;
  remaining = 0;
  saved_byte = 0;
  io_state = 0;
  protocol_version = 10;
  protocol41 = false;
  return 0;
}

int TMysqlNet::net_close() {
  if (!NetConnected()) return 0;
  int rc = vio.vio_close();
  std::vector<uint8_t>().swap(buff);
  buff_size = 0;
  write_pos = read_pos = 0;
  remaining = 0;
  read_start = 0;
  io_state = 0;
  return rc;
}

void TMysqlNet::net_clear() {
  seq_nr = 0;
  write_pos = 0;
}

int TMysqlNet::net_flush() {
  if (write_pos == 0) return 0;
  size_t n = write_pos;
  write_pos = 0;
  return net_real_write(buff.data(), n);
}

int TMysqlNet::net_buffer_append(const uint8_t* data, size_t length) {
  if (buff_size == 0) return 1;
  if (length > buff_size - write_pos && write_pos > 0) {
    size_t part = buff_size - write_pos;
    std::memcpy(buff.data() + write_pos, data, part);
    write_pos = 0;
    if (net_real_write(buff.data(), buff_size) != 0) return 1;
    data += part;
    length -= part;
  }
  // With the buffer empty, whole buffers' worth go out straight from the
  // caller's bytes in large writes instead of one buffer at a time.
  while (length >= buff_size) {
    size_t part = std::min(length, kDirectWrite);
    part -= part % buff_size;
    if (net_real_write(data, part) != 0) return 1;
    data += part;
    length -= part;
  }
  if (length > 0) std::memcpy(buff.data() + write_pos, data, length);
  write_pos += length;
  return 0;
}

int TMysqlNet::my_net_write(const void* payload, size_t length) {
  if (length >= kMaxPayload) {
    vio.last_errorno = ER_NET_PACKET_TOO_LARGE;
    return 1;
  }
  uint8_t header[4];
  Store3(header, static_cast<uint32_t>(length));
  header[3] = compress ? 0 : seq_nr++;
  if (net_buffer_append(header, 4) != 0) return 1;
  return net_buffer_append(static_cast<const uint8_t*>(payload), length) != 0 ? 1 : 0;
}

int TMysqlNet::net_write_command(uint8_t command, const void* argument, size_t length) {
  if (length >= kMaxPayload) {
    vio.last_errorno = ER_NET_PACKET_TOO_LARGE;
    return 1;
  }
  uint8_t header[5];
  Store3(header, static_cast<uint32_t>(length + 1));
  header[3] = compress ? 0 : seq_nr++;
  header[4] = command;
  if (net_buffer_append(header, 5) != 0) return 1;
  if (length > 0 && net_buffer_append(static_cast<const uint8_t*>(argument), length) != 0)
    return 1;
  if (length + 1 == kMaxPayload) {
    // A packet of the largest size says "more follows": the empty packet
    // ends the command, else the server would wait for its rest.
    uint8_t end[4] = {0, 0, 0, static_cast<uint8_t>(compress ? 0 : seq_nr++)};
    if (net_buffer_append(end, 4) != 0) return 1;
  }
  return net_flush() != 0 ? 1 : 0;
}

int TMysqlNet::net_real_write(const uint8_t* data, size_t length) {
  if (!NetConnected()) return -1;
  const bool was_blocking = (vio.nonblocking & 1) == 0;
  io_state = 2;
  std::vector<uint8_t> block;
  if (compress) {
    if (length >= kMaxBuffer) {
      io_state = 0;
      return 1;
    }
    try {
      block.resize(length + 7);
    } catch (const std::bad_alloc&) {
      io_state = 0;
      return 1;
    }
    std::memcpy(block.data() + 7, data, length);
    size_t uncompressed = 0;
    size_t body = CompressBody(block, length, uncompressed);
    Store3(block.data(), static_cast<uint32_t>(body));
    block[3] = seq_nr++;
    Store3(block.data() + 4, static_cast<uint32_t>(uncompressed));
    data = block.data();
    length = body + 7;
  }
  int retries = 0;
  while (length > 0) {
    long n = vio.vio_write(data, length);
    if (n > 0) {
      data += n;
      length -= static_cast<size_t>(n);
      continue;
    }
    if ((vio.nonblocking & 1) != 0) {
      vio.vio_blocking(true);
      if (++retries <= 2) continue;
    } else if (vio.vio_should_retry()) {
      if (++retries <= 2) continue;
    } else if (vio.vio_intrerupted()) {
      continue;
    }
    break;
  }
  if (NetConnected()) vio.vio_blocking(was_blocking);
  io_state = 0;
  return length == 0 ? 0 : 2;
}

bool TMysqlNet::read_fully(uint8_t* to, size_t length, int& retries) {
  while (length > 0) {
    long n = vio.vio_read(to, length);
    if (n > 0) {
      to += n;
      length -= static_cast<size_t>(n);
      continue;
    }
    if (vio.vio_should_retry() && ++retries <= 2) continue;
    if (vio.vio_intrerupted()) continue;
    return false;
  }
  return true;
}

uint32_t TMysqlNet::my_real_read(uint32_t& uncompressed_length) {
  uncompressed_length = 0;
  if (!NetConnected()) return packet_error;
  io_state = 1;
  const size_t header = compress ? 7 : 4;
  int retries = 0;
  auto fail = [this] {
    io_state = 0;
    return packet_error;
  };
  if (size_t{read_start} + header >= buff_size && !net_realloc(read_start + header + 1))
    return fail();
  uint8_t* h = buff.data() + read_start;
  if (!read_fully(h, header, retries)) return fail();
  if (h[3] != seq_nr) return fail();
  ++seq_nr;
  uint32_t length = Load3(h);
  if (compress) uncompressed_length = Load3(h + 4);
  size_t need = size_t{std::max(length, uncompressed_length)} + read_start;
  if (need >= buff_size && !net_realloc(need + 1)) return fail();
  if (!read_fully(buff.data() + read_start, length, retries)) return fail();
  io_state = 0;
  return length;
}

uint32_t TMysqlNet::my_net_read() {
  if (compress) return my_net_read_compressed();
  uint32_t unused;
  uint32_t length = my_real_read(unused);
  read_pos = read_start;
  if (length != packet_error) buff[read_pos + length] = 0;
  return length;
}

uint32_t TMysqlNet::my_net_read_compressed() {
  if (remaining > 0) buff[fill_length - remaining] = saved_byte;
  uint32_t length;
  for (;;) {
    if (remaining > 0) {
      uint32_t p = fill_length - remaining;
      if (remaining >= 4) {
        uint32_t l = Load3(buff.data() + p);
        if (l <= remaining - 4) {
          remaining -= l + 4;
          read_pos = p + 4;
          length = l;
          break;
        }
      }
      if (remaining != fill_length) {
        std::memmove(buff.data(), buff.data() + p, remaining);
        fill_length = remaining;
      }
      read_start = fill_length;
    }
    if (remaining == 0) {
      read_start = 0;
      fill_length = 0;
    }
    uint32_t uncompressed = 0;
    uint32_t body = my_real_read(uncompressed);
    if (body == packet_error) return packet_error;
    if (uncompressed != 0) {
      std::vector<uint8_t> scratch;
      try {
        scratch.resize(uncompressed);
      } catch (const std::bad_alloc&) {
        return packet_error;
      }
      uLongf out = uncompressed;
      if (::uncompress(scratch.data(), &out, buff.data() + read_start, body) != Z_OK ||
          out != uncompressed)
        return packet_error;
      std::memcpy(buff.data() + read_start, scratch.data(), uncompressed);
      body = uncompressed;
    }
    fill_length += body;
    remaining += body;
  }
  saved_byte = buff[read_pos + length];
  buff[read_pos + length] = 0;
  return length;
}

uint32_t TMysqlNet::net_safe_read() {
  uint32_t length = NetConnected() ? my_net_read() : packet_error;
  if (length == packet_error || length == 0) {
    uint32_t number = vio.last_errorno == ER_NET_PACKET_TOO_LARGE ? CR_NET_PACKET_TOO_LARGE
                                                                  : CR_SERVER_LOST;
    net_close();
    vio.set_error(number, ClientErrorText(number));
    return packet_error;
  }
  const uint8_t* p = read_ptr();
  if (p[0] != 255) return length;
  if (length > 3) {
    uint32_t number = CR_UNKNOWN_ERROR;
    size_t offset = 1;
    if (protocol_version > 9) {
      number = uint32_t{p[1]} | (uint32_t{p[2]} << 8);
      offset = 3;
      // An error numbered 0 would read as no error at all, and a failed
      // command or a broken result as a success or the end of the rows.
      if (number == 0) number = CR_UNKNOWN_ERROR;
    }
    std::string state;
    if (protocol41 && length >= offset + 6 && p[offset] == '#') {
      state.assign(reinterpret_cast<const char*>(p + offset + 1), 5);
      offset += 6;
    }
    const char* text = reinterpret_cast<const char*>(p + offset);
    size_t n = strnlen(text, length - offset);
    vio.set_error(number, std::string(text, std::min(n, kMaxErrorMessage)));
    vio.sql_state = state;
  } else {
    vio.set_error(CR_UNKNOWN_ERROR, ClientErrorText(CR_UNKNOWN_ERROR));
  }
  return packet_error;
}

bool TMysqlNet::net_realloc(size_t size) {
  if (size >= kMaxBuffer) {
    vio.last_errorno = ER_NET_PACKET_TOO_LARGE;
    return false;
  }
  size_t rounded = (size + 4095) & ~size_t{4095};
  try {
    buff.resize(rounded);
  } catch (const std::bad_alloc&) {
    return false;
  }
  write_pos = read_pos = 0;
  buff_size = static_cast<uint32_t>(rounded);
  return true;
}

bool TMysqlNet::net_pack() {
  // Compressed data not yet handed out stays where it is.
  if (io_state != 0 || buff_size <= kInitialBuffer || (compress && remaining > 0))
    return true;
  try {
    std::vector<uint8_t> smaller(buff.begin(), buff.begin() + kInitialBuffer);
    buff.swap(smaller);
  } catch (const std::bad_alloc&) {
    return false;
  }
  write_pos = read_pos = 0;
  buff_size = kInitialBuffer;
  return true;
}

}  // namespace rowset
