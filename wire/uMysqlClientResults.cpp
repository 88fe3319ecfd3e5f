// Reading the answer to a statement: OK packets, the server's request for a
// local file, and result headers with their column packets.
#include <cstring>

#include "wire/uMysqlClient.h"
#include "wire/uMysqlHelpers.h"

namespace rowset {

namespace {

constexpr uint8_t kNullLength = 251;

// Reads a length-coded number at p, never past end; false when it does not
// fit. `is_null` tells the NULL marker.
bool ReadLength(const uint8_t*& p, const uint8_t* end, uint64_t& value, bool& is_null) {
  is_null = false;
  if (p >= end) return false;
  uint8_t b = *p++;
  size_t bytes = 0;
  if (b < kNullLength) {
    value = b;
    return true;
  }
  if (b == kNullLength) {
    is_null = true;
    value = ~uint64_t{0};
    return true;
  }
  if (b == 252) bytes = 2;
  else if (b == 253) bytes = 3;
  else if (b == 254) bytes = 8;
  else return false;
  if (static_cast<size_t>(end - p) < bytes) return false;
  value = 0;
  for (size_t i = 0; i < bytes; ++i) value |= uint64_t{p[i]} << (8 * i);
  p += bytes;
  return true;
}

bool IsEndPacket(const uint8_t* p, uint32_t length) { return p[0] == 254 && length < 8; }

}  // namespace

void TMysqlClient::free_old_query() { field_count = 0; }

void TMysqlClient::detach_result() {}

int TMysqlClient::read_query_result() {
  uint32_t length = net.net_safe_read();
  if (length == packet_error) return -1;
  free_old_query();
  const uint8_t* p = net.read_ptr();
  const uint8_t* end = p + length;
  uint64_t first = 0;
  bool is_null = false;
  if (!ReadLength(p, end, first, is_null)) return -1;
  while (is_null) {
    std::string file_name(reinterpret_cast<const char*>(p), strnlen(reinterpret_cast<const char*>(p), end - p));
    int sent = send_file_to_server(file_name);
    length = net.net_safe_read();
    if (length == packet_error || sent != 0) return -1;
    p = net.read_ptr();
    end = p + length;
    if (!ReadLength(p, end, first, is_null)) return -1;
  }
  if (first == 0) {
    bool unused;
    uint64_t rows = 0, id = 0;
    ReadLength(p, end, rows, unused);
    ReadLength(p, end, id, unused);
    affected_rows = rows;
    insert_id = id;
    if (HasTRANSACTIONS(server_capabilities) && end - p >= 2) {
      server_status = static_cast<uint32_t>(p[0] | (p[1] << 8));
      p += 2;
    }
    uint64_t info_length = 0;
    if (p < end && ReadLength(p, end, info_length, unused) && info_length != 0 && p < end)
      info.assign(reinterpret_cast<const char*>(p), strnlen(reinterpret_cast<const char*>(p), end - p));
    return 0;
  }
  if ((server_status & SERVER_STATUS_AUTOCOMMIT) == 0) server_status |= SERVER_STATUS_IN_TRANS;
  uint64_t extra = 0;
  if (!ReadLength(p, end, extra, is_null)) extra = 0;
  extra_info = extra;
  // Column packets up to the end packet.
  for (;;) {
    length = net.net_safe_read();
    if (length == packet_error) return -1;
    if (IsEndPacket(net.read_ptr(), length)) break;
  }
  status = MYSQL_STATUS_GET_RESULT;
  field_count = static_cast<uint32_t>(first);
  return 0;
}

}  // namespace rowset
