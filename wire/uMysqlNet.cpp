#include "wire/uMysqlNet.h"

#include <zlib.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <cstring>
#include <new>

#include "wire/uMysqlErrors.h"

namespace rowset {

namespace {

constexpr uint32_t kInitialBuffer = 8192;
// A packet of this length says "more of the same follows".
constexpr uint32_t kMaxPayload = 0xFFFFFF;
// The buffer holds one packet of the largest size, or (compressed) the
// unread rest of one frame and the next frame.
constexpr size_t kMaxBuffer = 2 * size_t{kMaxPayload} + 0x10000;
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

constexpr uint32_t kAdlerBase = 65521;
// The most bytes whose sums fit 32 bits before they must be reduced.
constexpr size_t kAdlerMax = 5552;

uint32_t Adler32Tail(uint32_t s1, uint32_t s2, const uint8_t* data, size_t length) {
  while (length > 0) {
    size_t n = std::min(length, kAdlerMax);
    length -= n;
    while (n-- > 0) {
      s1 += *data++;
      s2 += s1;
    }
    s1 %= kAdlerBase;
    s2 %= kAdlerBase;
  }
  return (s2 << 16) | s1;
}

#if defined(__x86_64__)
// 32 bytes a step: the byte sums by SAD, the position-weighted sums by
// multiply-add against the weights 32..1.
__attribute__((target("ssse3"))) uint32_t Adler32Ssse3(uint32_t adler, const uint8_t* data,
                                                       size_t length) {
  uint32_t s1 = adler & 0xFFFF;
  uint32_t s2 = adler >> 16;
  constexpr size_t kBlock = 32;
  size_t blocks = length / kBlock;
  length -= blocks * kBlock;
  const __m128i tap1 =
      _mm_setr_epi8(32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17);
  const __m128i tap2 = _mm_setr_epi8(16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1);
  const __m128i zero = _mm_setzero_si128();
  const __m128i ones = _mm_set1_epi16(1);
  while (blocks > 0) {
    size_t n = std::min(blocks, kAdlerMax / kBlock);
    blocks -= n;
    __m128i v_ps = _mm_set_epi32(0, 0, 0, static_cast<int>(s1 * n));
    __m128i v_s2 = _mm_set_epi32(0, 0, 0, static_cast<int>(s2));
    __m128i v_s1 = _mm_setzero_si128();
    do {
      const __m128i bytes1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
      const __m128i bytes2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16));
      v_ps = _mm_add_epi32(v_ps, v_s1);
      v_s1 = _mm_add_epi32(v_s1, _mm_sad_epu8(bytes1, zero));
      v_s2 = _mm_add_epi32(v_s2, _mm_madd_epi16(_mm_maddubs_epi16(bytes1, tap1), ones));
      v_s1 = _mm_add_epi32(v_s1, _mm_sad_epu8(bytes2, zero));
      v_s2 = _mm_add_epi32(v_s2, _mm_madd_epi16(_mm_maddubs_epi16(bytes2, tap2), ones));
      data += kBlock;
    } while (--n > 0);
    v_s2 = _mm_add_epi32(v_s2, _mm_slli_epi32(v_ps, 5));
    v_s1 = _mm_add_epi32(v_s1, _mm_shuffle_epi32(v_s1, _MM_SHUFFLE(2, 3, 0, 1)));
    v_s1 = _mm_add_epi32(v_s1, _mm_shuffle_epi32(v_s1, _MM_SHUFFLE(1, 0, 3, 2)));
    s1 += static_cast<uint32_t>(_mm_cvtsi128_si32(v_s1));
    v_s2 = _mm_add_epi32(v_s2, _mm_shuffle_epi32(v_s2, _MM_SHUFFLE(2, 3, 0, 1)));
    v_s2 = _mm_add_epi32(v_s2, _mm_shuffle_epi32(v_s2, _MM_SHUFFLE(1, 0, 3, 2)));
    s2 = static_cast<uint32_t>(_mm_cvtsi128_si32(v_s2));
    s1 %= kAdlerBase;
    s2 %= kAdlerBase;
  }
  return Adler32Tail(s1, s2, data, length);
}
#endif

}  // namespace

uint32_t Adler32(uint32_t adler, const uint8_t* data, size_t length) {
#if defined(__x86_64__)
  static const bool ssse3 = __builtin_cpu_supports("ssse3");
  if (ssse3) return Adler32Ssse3(adler, data, length);
#endif
  return static_cast<uint32_t>(::adler32(adler, data, static_cast<uInt>(length)));
}

// A zlib stream reset for every frame instead of set up anew, its checksum
// taken by Adler32 after the frame is inflated.
struct TMysqlNet::TInflater {
  z_stream stream{};
  bool ready = false;
  TInflater() { ready = inflateInit(&stream) == Z_OK; }
  ~TInflater() {
    if (ready) inflateEnd(&stream);
  }
  TInflater(const TInflater&) = delete;
  TInflater& operator=(const TInflater&) = delete;

  // Exactly `length` bytes from the zlib stream in `body`, which must end
  // with it; false for anything else (as uncompress would refuse it).
  bool Inflate(const uint8_t* body, uint32_t body_length, uint8_t* to, uint32_t length) {
    if (!ready || inflateReset(&stream) != Z_OK) return false;
    // The checksum is compared below, faster than zlib takes it.
    const bool own_check = inflateValidate(&stream, 0) == Z_OK;
    stream.next_in = const_cast<uint8_t*>(body);
    stream.avail_in = body_length;
    stream.next_out = to;
    stream.avail_out = length;
    const int rc = inflate(&stream, Z_FINISH);
    if (rc != Z_STREAM_END || stream.total_out != length) return false;
    if (!own_check) return true;
    // The stream's last four bytes: the Adler-32 of the data, high byte first.
    const size_t used = body_length - stream.avail_in;
    if (used < 6) return false;
    const uint8_t* t = body + used - 4;
    const uint32_t sent = (uint32_t{t[0]} << 24) | (uint32_t{t[1]} << 16) |
                          (uint32_t{t[2]} << 8) | uint32_t{t[3]};
    return sent == Adler32(1, to, length);
  }
};

TMysqlNet::TMysqlNet() = default;
TMysqlNet::~TMysqlNet() = default;

int TMysqlNet::net_open(TEnumVioType type, const std::string& host,
                        const std::string& pipe_name, uint32_t port,
                        uint32_t timeout, bool try_sock) {
  if (NetConnected()) return 0;
  int rc = vio.vio_open(type, host, pipe_name, port, timeout, try_sock);
  if (rc != 0 || !NetConnected()) return rc;
  try {
    buff.assign(kInitialBuffer, 0);
    out_.assign(kInitialBuffer, 0);
  } catch (const std::bad_alloc&) {
    vio.vio_close();
    vio.set_error(CR_OUT_OF_MEMORY, ClientErrorText(CR_OUT_OF_MEMORY));
    return -1;
  }
  buff_size = kInitialBuffer;
  write_pos = read_pos = 0;
  seq_nr = 0;
  compress = false;
  fill_length = 0;
  read_start = 0;
  remaining = 0;
  saved_byte = 0;
  io_state = 0;
  protocol_version = 10;
  protocol41 = false;
  return 0;
}

int TMysqlNet::net_close() {
  big_active_ = false;
  std::vector<uint8_t>().swap(big_);
  if (!NetConnected()) return 0;
  int rc = vio.vio_close();
  std::vector<uint8_t>().swap(buff);
  std::vector<uint8_t>().swap(out_);
  std::vector<uint8_t>().swap(zbody_);
  inflater_.reset();
  buff_size = 0;
  write_pos = read_pos = 0;
  remaining = 0;
  fill_length = 0;
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
  return net_real_write(out_.data(), n);
}

int TMysqlNet::net_buffer_append(const uint8_t* data, size_t length) {
  const size_t out_size = out_.size();
  if (out_size == 0) return 1;
  if (length > out_size - write_pos && write_pos > 0) {
    size_t part = out_size - write_pos;
    std::memcpy(out_.data() + write_pos, data, part);
    write_pos = 0;
    if (net_real_write(out_.data(), out_size) != 0) return 1;
    data += part;
    length -= part;
  }
  // With the buffer empty, whole buffers' worth go out straight from the
  // caller's bytes in large writes instead of one buffer at a time.
  while (length >= out_size) {
    size_t part = std::min(length, kDirectWrite);
    part -= part % out_size;
    if (net_real_write(data, part) != 0) return 1;
    data += part;
    length -= part;
  }
  if (length > 0) std::memcpy(out_.data() + write_pos, data, length);
  write_pos += length;
  return 0;
}

int TMysqlNet::write_packets(uint8_t command, bool with_command, const void* payload,
                             size_t length) {
  if (length + (with_command ? 1 : 0) > kMaxLogicalPacket) {
    vio.last_errorno = ER_NET_PACKET_TOO_LARGE;
    return 1;
  }
  // Packets of the largest size, then a shorter (possibly empty) one: that
  // is how the receiver knows where the payload ends.
  const uint8_t* data = static_cast<const uint8_t*>(payload);
  size_t left = length + (with_command ? 1 : 0);
  bool first = true;
  for (;;) {
    const size_t chunk = std::min<size_t>(left, kMaxPayload);
    uint8_t header[5];
    Store3(header, static_cast<uint32_t>(chunk));
    header[3] = compress ? 0 : seq_nr++;
    size_t bytes = chunk;
    if (first && with_command) {
      header[4] = command;
      if (net_buffer_append(header, 5) != 0) return 1;
      --bytes;
    } else if (net_buffer_append(header, 4) != 0) {
      return 1;
    }
    if (bytes > 0 && net_buffer_append(data, bytes) != 0) return 1;
    data += bytes;
    left -= chunk;
    first = false;
    if (chunk < kMaxPayload) return 0;
  }
}

int TMysqlNet::my_net_write(const void* payload, size_t length) {
  return write_packets(0, false, payload, length);
}

int TMysqlNet::net_write_command(uint8_t command, const void* argument, size_t length) {
  if (write_packets(command, true, argument, length) != 0) return 1;
  return net_flush() != 0 ? 1 : 0;
}

int TMysqlNet::net_real_write(const uint8_t* data, size_t length) {
  if (!NetConnected()) return -1;
  if (compress) {
    // A frame's lengths have three bytes: longer writes go as several.
    while (length > 0) {
      const size_t piece = std::min<size_t>(length, kMaxPayload);
      const int rc = send_bytes(data, piece);
      if (rc != 0) return rc;
      data += piece;
      length -= piece;
    }
    return 0;
  }
  return send_bytes(data, length);
}

int TMysqlNet::send_bytes(const uint8_t* data, size_t length) {
  const bool was_blocking = (vio.nonblocking & 1) == 0;
  io_state = 2;
  std::vector<uint8_t> block;
  if (compress) {
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

uint32_t TMysqlNet::read_frame() {
  if (!NetConnected()) return packet_error;
  io_state = 1;
  int retries = 0;
  auto fail = [this] {
    io_state = 0;
    return packet_error;
  };
  uint8_t h[7];
  if (!read_fully(h, sizeof h, retries)) return fail();
  if (h[3] != seq_nr) return fail();
  ++seq_nr;
  const uint32_t length = Load3(h);
  const uint32_t uncompressed = Load3(h + 4);
  size_t need = size_t{std::max(length, uncompressed)} + read_start;
  if (need >= buff_size && !net_realloc(need + 1)) return fail();
  if (uncompressed == 0) {
    // Sent as it is.
    if (!read_fully(buff.data() + read_start, length, retries)) return fail();
    io_state = 0;
    return length;
  }
  // Inflated straight behind the bytes not yet read.
  if (zbody_.size() < length) {
    try {
      zbody_.resize(length);
    } catch (const std::bad_alloc&) {
      return fail();
    }
  }
  if (!read_fully(zbody_.data(), length, retries)) return fail();
  if (!inflater_) {
    try {
      inflater_ = std::make_unique<TInflater>();
    } catch (const std::bad_alloc&) {
      return fail();
    }
  }
  if (!inflater_->Inflate(zbody_.data(), length, buff.data() + read_start, uncompressed))
    return fail();
  io_state = 0;
  return uncompressed;
}

uint32_t TMysqlNet::my_net_read_plain() {
  if (!NetConnected()) return packet_error;
  if (remaining > 0) buff[fill_length - remaining] = saved_byte;
  io_state = 1;
  int retries = 0;
  for (;;) {
    if (remaining == 0) fill_length = 0;
    uint32_t p = fill_length - remaining;
    // Bytes from p the packet needs in the buffer: its header, then all of it.
    size_t need = 4;
    if (remaining >= 4) {
      const uint8_t* h = buff.data() + p;
      if (h[3] != seq_nr) break;
      const uint32_t length = Load3(h);
      if (size_t{length} + 4 <= remaining) {
        ++seq_nr;
        remaining -= length + 4;
        read_pos = p + 4;
        saved_byte = buff[read_pos + length];
        buff[read_pos + length] = 0;
        io_state = 0;
        return length;
      }
      need = size_t{length} + 4;
    }
    // Room for the packet and its terminating 0: move it to the front,
    // grow when it is larger than the buffer.
    if (p + need >= buff_size) {
      if (p > 0) {
        std::memmove(buff.data(), buff.data() + p, remaining);
        fill_length = remaining;
        p = 0;
      }
      if (need >= buff_size && !net_realloc(need + 1)) break;
    }
    // As much as has arrived and fits (one byte stays free for the 0).
    const long n = vio.vio_read_some(buff.data() + fill_length, buff_size - 1 - fill_length);
    if (n > 0) {
      fill_length += static_cast<uint32_t>(n);
      remaining += static_cast<uint32_t>(n);
      continue;
    }
    if (vio.vio_should_retry() && ++retries <= 2) continue;
    if (vio.vio_intrerupted()) continue;
    break;
  }
  io_state = 0;
  return packet_error;
}

bool TMysqlNet::give_back_unread() {
  if (remaining == 0) return true;
  const uint32_t p = fill_length - remaining;
  buff[p] = saved_byte;
  const bool kept = vio.vio_unread(buff.data() + p, remaining);
  remaining = 0;
  fill_length = 0;
  return kept;
}

void TMysqlNet::setcompress(bool on) {
  // Unread plain bytes are the start of the compressed stream.
  if (on && !compress && !give_back_unread()) net_close();
  compress = on;
}

int TMysqlNet::net_start_tls(const TSslOptions& options, const std::string& host) {
  if (!give_back_unread()) {
    vio.set_error(CR_OUT_OF_MEMORY, ClientErrorText(CR_OUT_OF_MEMORY));
    return -1;
  }
  return vio.vio_start_tls(options, host);
}

uint32_t TMysqlNet::my_net_read_one() {
  return compress ? my_net_read_compressed() : my_net_read_plain();
}

uint32_t TMysqlNet::my_net_read() {
  big_active_ = false;
  uint32_t length = my_net_read_one();
  if (length != kMaxPayload) return length;
  // A payload of several packets: joined in a buffer of its own.
  try {
    big_.assign(buff.data() + read_pos, buff.data() + read_pos + length);
    for (;;) {
      const uint32_t more = my_net_read_one();
      if (more == packet_error) return packet_error;
      if (big_.size() + more > kMaxLogicalPacket) {
        vio.last_errorno = ER_NET_PACKET_TOO_LARGE;
        return packet_error;
      }
      big_.insert(big_.end(), buff.data() + read_pos, buff.data() + read_pos + more);
      if (more < kMaxPayload) break;
    }
    big_.push_back(0);
  } catch (const std::bad_alloc&) {
    std::vector<uint8_t>().swap(big_);
    return packet_error;
  }
  big_active_ = true;
  return static_cast<uint32_t>(big_.size() - 1);
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
    uint32_t body = read_frame();
    if (body == packet_error) return packet_error;
    fill_length += body;
    remaining += body;
  }
  saved_byte = buff[read_pos + length];
  buff[read_pos + length] = 0;
  return length;
}

uint32_t TMysqlNet::net_safe_read_slow() {
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
  read_pos = 0;
  buff_size = static_cast<uint32_t>(rounded);
  return true;
}

bool TMysqlNet::net_pack() {
  if (io_state == 0 && !big_active_) std::vector<uint8_t>().swap(big_);
  if (io_state == 0 && zbody_.size() > kInitialBuffer) std::vector<uint8_t>().swap(zbody_);
  // Bytes received but not yet read move along when they fit, else the
  // buffer stays as it is.
  if (io_state != 0 || buff_size <= kInitialBuffer || remaining >= kInitialBuffer) return true;
  try {
    std::vector<uint8_t> smaller(kInitialBuffer);
    if (remaining > 0) {
      const uint32_t p = fill_length - remaining;
      buff[p] = saved_byte;
      std::memcpy(smaller.data(), buff.data() + p, remaining);
    }
    buff.swap(smaller);
  } catch (const std::bad_alloc&) {
    return false;
  }
  fill_length = remaining;
  read_pos = 0;
  buff_size = kInitialBuffer;
  return true;
}

}  // namespace rowset
