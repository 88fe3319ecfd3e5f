// Result sets of the client session: the first packet of a statement's
// answer, column descriptions, rows read all at once or one at a time, and
// the result object's navigation and value access.
//
// Everything the server sends is checked against the packet it came in: a
// length-coded value running past the payload, a row with fewer values than
// columns, or a column packet too short for its fields is a malformed answer.
// The read fails with CR_MALFORMED_PACKET and the connection is closed, since
// the rest of the answer can no longer be trusted to be in step. So is a
// length coded as 0xFE and eight 0xFF bytes: it is neither NULL nor a
// local-file request.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <new>

#include "wire/uMysqlClient.h"
#include "wire/uMysqlErrors.h"
#include "wire/uMysqlHelpers.h"

namespace rowset {

// The flat interface hands column descriptions out as 4.1 field records.
static_assert(offsetof(TMysql_FieldDef, catalog) == 5 * sizeof(char*));
static_assert(offsetof(TMysql_FieldDef, length) == 7 * sizeof(char*));
static_assert(offsetof(TMysql_FieldDef, name_length) == 7 * sizeof(char*) + 2 * sizeof(long));
static_assert(offsetof(TMysql_FieldDef, flags) == offsetof(TMysql_FieldDef, name_length) + 28);
static_assert(offsetof(TMysql_FieldDef, type) == offsetof(TMysql_FieldDef, name_length) + 40);
static_assert(offsetof(TMysql_FieldDef, extension) == offsetof(TMysql_FieldDef, name_length) + 48);

namespace {

constexpr uint64_t kNullLength = ~uint64_t{0};
// More columns than any server allows; a header announcing more is malformed.
constexpr uint64_t kMaxColumns = 65535;
constexpr size_t kDataBlock = 64 * 1024;

// Reads length-coded numbers and strings from one payload, never past it.
class TPacketReader {
 public:
  TPacketReader(const uint8_t* data, size_t length)
      : p_(data), end_(data + length) {}

  size_t Left() const { return static_cast<size_t>(end_ - p_); }
  const uint8_t* Position() const { return p_; }

  // A length-coded number; kNullLength for the NULL marker. False when the
  // number runs past the payload.
  bool Number(uint64_t& value) {
    if (p_ >= end_) return false;
    uint8_t b = *p_;
    size_t width;
    if (b < 251) {
      value = b;
      ++p_;
      return true;
    }
    if (b == 251) {
      value = kNullLength;
      ++p_;
      return true;
    }
    width = b == 252 ? 2 : b == 253 ? 3 : 8;  // 255 never starts a value
    if (b == 255 || Left() < width + 1) return false;
    value = 0;
    for (size_t i = 0; i < width; ++i) value |= uint64_t{p_[1 + i]} << (8 * i);
    // Eight bytes of all ones is no length any packet can hold, and must not
    // pass for the NULL marker (a NULL value, or a local-file request).
    if (value == kNullLength) return false;
    p_ += width + 1;
    return true;
  }

  // A length-coded string: `data` is nullptr for NULL. False when it runs
  // past the payload.
  bool String(const uint8_t*& data, size_t& length) {
    uint64_t n;
    if (!Number(n)) return false;
    if (n == kNullLength) {
      data = nullptr;
      length = 0;
      return true;
    }
    if (n > Left()) return false;
    data = p_;
    length = static_cast<size_t>(n);
    p_ += length;
    return true;
  }

  bool Fixed(uint64_t& value, size_t width) {
    if (Left() < width) return false;
    value = 0;
    for (size_t i = 0; i < width; ++i) value |= uint64_t{p_[i]} << (8 * i);
    p_ += width;
    return true;
  }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
};

bool IsEndPacket(const uint8_t* payload, uint32_t length) {
  return length < 8 && payload[0] == 254;
}

uint64_t LittleEndian(const char* p, size_t width) {
  uint64_t v = 0;
  for (size_t i = 0; i < width; ++i)
    v |= uint64_t{static_cast<uint8_t>(p[i])} << (8 * i);
  return v;
}

bool SameName(std::string_view a, const char* b, bool case_sensitive) {
  size_t n = strlen(b);
  if (a.size() != n) return false;
  if (case_sensitive) return memcmp(a.data(), b, n) == 0;
  for (size_t i = 0; i < n; ++i)
    if (toupper(static_cast<unsigned char>(a[i])) !=
        toupper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

}  // namespace

// ---- Storage -----------------------------------------------------------

char* TMysql_FieldDefs::KeepText(const char* text, size_t length) {
  auto copy = std::make_unique<char[]>(length + 1);
  if (length > 0) memcpy(copy.get(), text, length);
  copy[length] = 0;
  texts_.push_back(std::move(copy));
  return texts_.back().get();
}

char* TMYSQL_DATA::Allocate(size_t length) {
  size_t need = length + 1;
  if (need > left_) {
    // Large values get a block of their own; small ones share blocks.
    size_t size = std::max(need, kDataBlock);
    blocks_.push_back(std::make_unique<char[]>(size));
    if (size > kDataBlock) return blocks_.back().get();
    free_ = blocks_.back().get();
    left_ = size;
  }
  char* at = free_;
  free_ += need;
  left_ -= need;
  return at;
}

// ---- Session side -------------------------------------------------------

std::unique_ptr<TMysqlResult> TMysqlResult::Create(TMysqlClient* client,
                                                   TResultType type) {
  return std::make_unique<TMysqlResult>(client, type);
}

int TMysqlClient::malformed_answer() {
  answer_failed();
  net.net_close();
  net.set_error(CR_MALFORMED_PACKET, "Malformed packet");
  return -1;
}

void TMysqlClient::detach_result() {
  if (current_result == nullptr) return;
  current_result->client = nullptr;
  current_result = nullptr;
}

void TMysqlClient::free_old_query() {
  fields.reset();
  field_count = 0;
}

void TMysqlClient::read_ok_packet(const uint8_t* payload, uint32_t length) {
  // Counters, status, warnings and an optional message, as far as present.
  TPacketReader reader(payload + 1, length - 1);
  uint64_t value;
  affected_rows = reader.Number(value) && value != kNullLength ? value : 0;
  insert_id = reader.Number(value) && value != kNullLength ? value : 0;
  if ((protocol41() || HasTRANSACTIONS(server_capabilities)) && reader.Fixed(value, 2))
    server_status = static_cast<uint32_t>(value);
  warning_count = protocol41() && reader.Fixed(value, 2) ? static_cast<uint32_t>(value) : 0;
  info.clear();
  if (reader.Left() > 0 && reader.Number(value) && value != 0 && value != kNullLength) {
    const char* text = reinterpret_cast<const char*>(reader.Position());
    size_t n = static_cast<size_t>(std::min<uint64_t>(value, reader.Left()));
    info.assign(text, strnlen(text, n));
  }
}

int TMysqlClient::answer_failed() {
  // An error ends the statement's answer: no result follows it.
  server_status &= ~SERVER_MORE_RESULTS_EXISTS;
  return -1;
}

void TMysqlClient::read_end_packet(const uint8_t* payload, uint32_t length) {
  if (!protocol41() || length < 5) return;
  warning_count = uint32_t{payload[1]} | (uint32_t{payload[2]} << 8);
  server_status = uint32_t{payload[3]} | (uint32_t{payload[4]} << 8);
}

int TMysqlClient::read_query_result() {
  uint32_t length = net.net_safe_read();
  if (length == packet_error) return answer_failed();
  free_old_query();
  for (;;) {
    TPacketReader reader(net.read_ptr(), length);
    uint64_t first;
    if (!reader.Number(first)) return malformed_answer();
    if (first == kNullLength) {
      // The server asks for a local file; the rest of the payload names it.
      std::string file(reinterpret_cast<const char*>(reader.Position()),
                       strnlen(reinterpret_cast<const char*>(reader.Position()),
                               reader.Left()));
      int sent = send_file_to_server(file);
      length = net.net_safe_read();
      if (length == packet_error || sent != 0) return answer_failed();
      continue;
    }
    if (first == 0) {
      read_ok_packet(net.read_ptr(), length);
      return 0;
    }
    // A result header: the column count, then the column descriptions.
    if (first > kMaxColumns) return malformed_answer();
    if ((server_status & SERVER_STATUS_AUTOCOMMIT) == 0)
      server_status |= SERVER_STATUS_IN_TRANS;
    uint64_t extra = 0;
    if (reader.Left() > 0 && (!reader.Number(extra) || extra == kNullLength))
      extra = 0;
    extra_info = extra;
    bool incomplete;
    std::unique_ptr<TMYSQL_DATA> columns =
        read_rows(nullptr, protocol41() ? 7 : 5, incomplete);
    if (!columns) return -1;
    uint32_t count = static_cast<uint32_t>(first);
    if (columns->rows != count) return malformed_answer();
    fields = unpack_fields(std::move(columns), count,
                           HasLONGFLAG(server_capabilities));
    if (!fields) return -1;
    status = MYSQL_STATUS_GET_RESULT;
    field_count = count;
    return 0;
  }
}

namespace {

// Numeric columns, whatever the server said. Newer servers send decimal
// columns as type 246, which is as numeric as the old 0.
void MarkNumeric(TMysql_FieldDef& f) {
  if ((f.type <= 9 && (f.type != 7 || f.length == 14 || f.length == 8)) ||
      f.type == 13 || f.type == 246)
    f.flags |= NUM_FLAG;
}

}  // namespace

std::unique_ptr<TMysql_FieldDefs> TMysqlClient::unpack_fields(
    std::unique_ptr<TMYSQL_DATA> data, uint32_t count, bool long_flag) {
  const bool v41 = protocol41();
  if (!data || data->rows < count || data->fields < (v41 ? 7u : 5u)) {
    malformed_answer();
    return nullptr;
  }
  std::unique_ptr<TMysql_FieldDefs> defs;
  try {
    defs = std::make_unique<TMysql_FieldDefs>(count);
    for (uint32_t i = 0; i < count; ++i) {
      char** row = data->Row(i);
      unsigned long* len = data->Lengths(i);
      TMysql_FieldDef& f = (*defs)[i];
      f = TMysql_FieldDef{};
      auto keep = [&](size_t k, char*& text, unsigned int& length) {
        length = row[k] ? static_cast<unsigned int>(len[k]) : 0;
        text = defs->KeepText(row[k] ? row[k] : "", length);
      };
      if (v41) {
        // catalog, database, table, original table, name, original name,
        // then the fixed part: character set (2), length (4), type (1),
        // flags (2), decimals (1) and two filler bytes.
        if (row[6] == nullptr || len[6] < 10) {
          malformed_answer();
          return nullptr;
        }
        keep(0, f.catalog, f.catalog_length);
        keep(1, f.db, f.db_length);
        keep(2, f.table, f.table_length);
        keep(3, f.org_table, f.org_table_length);
        keep(4, f.name, f.name_length);
        keep(5, f.org_name, f.org_name_length);
        const char* fixed = row[6];
        f.charsetnr = static_cast<unsigned int>(LittleEndian(fixed, 2));
        f.length = static_cast<unsigned long>(LittleEndian(fixed + 2, 4));
        f.type = static_cast<enum_field_types>(fixed[6]);
        f.flags = static_cast<unsigned int>(LittleEndian(fixed + 7, 2));
        f.decimals = static_cast<uint8_t>(fixed[9]);
        MarkNumeric(f);
        if (data->fields >= 8 && row[7] != nullptr) {
          f.def = defs->KeepText(row[7], len[7]);
          f.def_length = static_cast<unsigned int>(len[7]);
        }
        continue;
      }
      // Length and type are required. Flags and decimals are taken as far
      // as they are present (an absent value means 0).
      if (row[2] == nullptr || len[2] < 3 || row[3] == nullptr || len[3] < 1) {
        malformed_answer();
        return nullptr;
      }
      keep(0, f.table, f.table_length);
      keep(1, f.name, f.name_length);
      f.org_table = defs->KeepText("", 0);
      f.org_name = f.db = f.catalog = f.org_table;
      f.length = static_cast<unsigned long>(LittleEndian(row[2], 3));
      f.type = static_cast<enum_field_types>(row[3][0]);
      size_t flag_width = long_flag ? 2 : 1;
      size_t present = row[4] != nullptr ? len[4] : 0;
      if (present > 0)
        f.flags = static_cast<uint32_t>(
            LittleEndian(row[4], std::min(present, flag_width)));
      if (present > flag_width)
        f.decimals = static_cast<uint8_t>(row[4][flag_width]);
      MarkNumeric(f);
      if (data->fields >= 6 && row[5] != nullptr) {
        f.def = defs->KeepText(row[5], len[5]);
        f.def_length = static_cast<unsigned int>(len[5]);
      }
      f.max_length = 0;
    }
  } catch (const std::bad_alloc&) {
    net.set_error(CR_OUT_OF_MEMORY, ClientErrorText(CR_OUT_OF_MEMORY));
    return nullptr;
  }
  return defs;
}

std::unique_ptr<TMYSQL_DATA> TMysqlClient::read_rows(TMysql_FieldDefs* defs,
                                                     uint32_t count,
                                                     bool& incomplete) {
  incomplete = true;
  uint32_t length = net.net_safe_read();
  if (length == packet_error) {
    answer_failed();
    return nullptr;
  }
  std::unique_ptr<TMYSQL_DATA> data;
  try {
    data = std::make_unique<TMYSQL_DATA>();
    data->fields = count;
    while (!IsEndPacket(net.read_ptr(), length)) {
      TPacketReader reader(net.read_ptr(), length);
      size_t base = data->values.size();
      data->values.resize(base + count);
      data->lengths.resize(base + count);
      for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* value;
        size_t n;
        if (!reader.String(value, n)) {
          malformed_answer();
          return nullptr;
        }
        if (value == nullptr) {
          data->values[base + i] = nullptr;
          data->lengths[base + i] = 0;
          continue;
        }
        char* copy = data->Allocate(n);
        memcpy(copy, value, n);
        copy[n] = 0;
        data->values[base + i] = copy;
        data->lengths[base + i] = n;
        if (defs != nullptr && i < defs->size() && n > (*defs)[i].max_length)
          (*defs)[i].max_length = static_cast<uint32_t>(n);
      }
      ++data->rows;
      length = net.net_safe_read();
      if (length == packet_error) {
        answer_failed();
        return nullptr;
      }
    }
    read_end_packet(net.read_ptr(), length);
  } catch (const std::bad_alloc&) {
    net.set_error(CR_OUT_OF_MEMORY, ClientErrorText(CR_OUT_OF_MEMORY));
    return nullptr;
  }
  incomplete = false;
  return data;
}

int TMysqlClient::read_one_row(uint32_t count, char** values,
                               unsigned long* lengths,
                               std::vector<char>& storage) {
  const uint32_t length = net.net_safe_read();
  if (length == packet_error) return answer_failed();
  const uint8_t* payload = net.read_ptr();
  if (IsEndPacket(payload, length)) {
    read_end_packet(payload, length);
    return 1;
  }
  // The payload and its terminating 0 are copied whole and the values cut
  // out of the copy in place: each value's terminating 0 goes where the
  // next value's length began (read first), the last one's is the payload's.
  if (storage.size() <= length) {
    try {
      storage.resize(size_t{length} + 1);
    } catch (const std::bad_alloc&) {
      net.set_error(CR_OUT_OF_MEMORY, ClientErrorText(CR_OUT_OF_MEMORY));
      return -1;
    }
  }
  uint8_t* p = reinterpret_cast<uint8_t*>(storage.data());
  memcpy(p, payload, size_t{length} + 1);
  const uint8_t* const end = p + length;
  for (uint32_t i = 0; i < count; ++i) {
    if (p >= end) return malformed_row(count, values, lengths);
    const uint8_t b = *p;
    *p = 0;
    uint64_t n;
    if (b < 251) {
      n = b;
      ++p;
    } else if (b == 251) {
      values[i] = nullptr;
      lengths[i] = 0;
      ++p;
      continue;
    } else {
      // 252: two bytes follow, 253: three, 254: eight; 255 starts no value.
      const size_t width = b == 252 ? 2 : b == 253 ? 3 : 8;
      if (b == 255 || static_cast<size_t>(end - p) < width + 1)
        return malformed_row(count, values, lengths);
      n = 0;
      for (size_t k = 0; k < width; ++k) n |= uint64_t{p[1 + k]} << (8 * k);
      // Eight bytes of all ones is no length any packet can hold, and must
      // not pass for the NULL marker.
      if (n == kNullLength) return malformed_row(count, values, lengths);
      p += width + 1;
    }
    if (n > static_cast<uint64_t>(end - p)) return malformed_row(count, values, lengths);
    values[i] = reinterpret_cast<char*>(p);
    lengths[i] = static_cast<unsigned long>(n);
    p += n;
  }
  *p = 0;  // bytes after the last value are no part of it
  return 0;
}

int TMysqlClient::malformed_row(uint32_t count, char** values, unsigned long* lengths) {
  for (uint32_t j = 0; j < count; ++j) {
    values[j] = nullptr;
    lengths[j] = 0;
  }
  return malformed_answer();
}

std::unique_ptr<TMysqlResult> TMysqlClient::store_result() {
  if (!fields) return nullptr;
  if (status != MYSQL_STATUS_GET_RESULT) {
    net.set_error(CR_COMMANDS_OUT_OF_SYNC,
                  ClientErrorText(CR_COMMANDS_OUT_OF_SYNC));
    return nullptr;
  }
  std::unique_ptr<TMysqlResult> result;
  try {
    result = result_class(this, rtStored);
    result->lengths.assign(field_count, 0);
  } catch (const std::bad_alloc&) {
    net.set_error(CR_OUT_OF_MEMORY, ClientErrorText(CR_OUT_OF_MEMORY));
    return nullptr;
  }
  bool incomplete;
  std::unique_ptr<TMYSQL_DATA> rows =
      read_rows(fields.get(), field_count, incomplete);
  if (!rows) {
    // The answer is over (error packet) or the connection is gone either
    // way; the session must not stay waiting for a result.
    free_old_query();
    status = MYSQL_STATUS_READY;
    return nullptr;
  }
  result->data = std::move(rows);
  result->fields = std::move(fields);
  result->field_count = field_count;
  result->row_count = result->data->rows;
  result->last_read = 1;
  result->First();
  // A stored result needs the session no more.
  result->client = nullptr;
  affected_rows = result->row_count;
  field_count = 0;
  status = MYSQL_STATUS_READY;
  net.net_pack();
  return result;
}

std::unique_ptr<TMysqlResult> TMysqlClient::use_result() {
  if (!fields) return nullptr;
  if (status != MYSQL_STATUS_GET_RESULT) {
    net.set_error(CR_COMMANDS_OUT_OF_SYNC,
                  ClientErrorText(CR_COMMANDS_OUT_OF_SYNC));
    return nullptr;
  }
  std::unique_ptr<TMysqlResult> result;
  try {
    result = result_class(this, rtUsed);
    result->lengths.assign(field_count, 0);
    result->row_buffer.assign(field_count, nullptr);
  } catch (const std::bad_alloc&) {
    net.set_error(CR_OUT_OF_MEMORY, ClientErrorText(CR_OUT_OF_MEMORY));
    return nullptr;
  }
  result->row = result->row_buffer.data();
  result->fields = std::move(fields);
  result->field_count = field_count;
  result->row_count = 0;
  field_count = 0;
  status = MYSQL_STATUS_USE_RESULT;
  current_result = result.get();
  result->Next();
  result->bof = true;
  return result;
}

// ---- Result side ----------------------------------------------------------

TMysqlResult::TMysqlResult(TMysqlClient* client, TResultType type)
    : client(client), result_type(type) {}

TMysqlResult::~TMysqlResult() {
  if (client == nullptr) return;
  if (client->current_result == this) {
    client->current_result = nullptr;
    if (client->status == MYSQL_STATUS_USE_RESULT) {
      // Read and drop the rest of the rows so the session can go on.
      for (;;) {
        uint32_t length = client->net.net_safe_read();
        if (length == packet_error) {
          client->answer_failed();
          break;
        }
        if (IsEndPacket(client->net.read_ptr(), length)) {
          client->read_end_packet(client->net.read_ptr(), length);
          break;
        }
      }
      client->status = MYSQL_STATUS_READY;
      client->net.net_pack();
      client->affected_rows = row_count;
    }
  }
}

void TMysqlResult::ReleaseClient() {
  if (client == nullptr) return;
  if (client->current_result == this) {
    client->current_result = nullptr;
    client->status = MYSQL_STATUS_READY;
    client->net.net_pack();
    client->affected_rows = row_count;
  }
  client = nullptr;
}

void TMysqlResult::GoTo(int64_t index) {
  current = index;
  row = data->Row(static_cast<uint64_t>(index));
  lengths_valid = false;
}

void TMysqlResult::First() {
  if (result_type == rtUsed) {
    bof = true;
    eof = row_count == 0;
    return;
  }
  bof = true;
  if (data && data->rows > 0) {
    GoTo(0);
    rec_no = 0;
    eof = false;
  } else {
    eof = true;
    rec_no = -1;
  }
}

void TMysqlResult::Next() {
  if (result_type == rtStored) {
    if (data && current >= 0 && static_cast<uint64_t>(current) + 1 < data->rows) {
      GoTo(current + 1);
      ++rec_no;
      eof = false;
    } else {
      eof = true;
    }
    bof = row_count == 0;
    return;
  }
  bof = row_count == 0;
  eof = false;
  lengths_valid = true;
  if (client == nullptr) {
    if (last_read == 0) last_read = -1;
    eof = true;
    return;
  }
  last_read = client->read_one_row(field_count, row_buffer.data(),
                                   lengths.data(), row_data_);
  if (last_read == 0) {
    rec_no = static_cast<int32_t>(row_count);
    ++row_count;
    return;
  }
  eof = true;
  ReleaseClient();
}

void TMysqlResult::Prior() {
  if (result_type == rtUsed) {
    bof = true;
    eof = row_count == 0;
    return;
  }
  if (current > 0) {
    GoTo(current - 1);
    --rec_no;
    bof = false;
  } else {
    bof = true;
  }
  eof = row_count == 0;
}

void TMysqlResult::Last() {
  if (result_type == rtStored) {
    if (current >= 0 && !eof && data) GoTo(static_cast<int64_t>(data->rows) - 1);
    eof = true;
    bof = row_count == 0;
    rec_no = static_cast<int32_t>(row_count) - 1;
    return;
  }
  eof = true;
  bof = row_count == 0;
  if (client == nullptr) {
    if (last_read == 0) last_read = -1;
    return;
  }
  while ((last_read = client->read_one_row(field_count, row_buffer.data(),
                                           lengths.data(), row_data_)) == 0)
    ++row_count;
  lengths_valid = true;
  rec_no = static_cast<int32_t>(row_count) - 1;
  ReleaseClient();
}

void TMysqlResult::SetRecNo(int32_t value) {
  if (result_type != rtStored || value < 0 ||
      static_cast<uint64_t>(value) >= row_count || !data)
    return;
  GoTo(value);
  bof = false;
  eof = false;
  rec_no = value;
}

TMysql_FieldDef* TMysqlResult::FieldDef(int index) {
  if (index < 0 || static_cast<uint32_t>(index) >= field_count || !fields)
    return nullptr;
  return &(*fields)[index];
}

const char* TMysqlResult::FieldValue(int index) {
  if (index < 0 || static_cast<uint32_t>(index) >= field_count) return nullptr;
  if (result_type == rtUsed) return row_buffer[index];
  if (current < 0 || row == nullptr) return nullptr;
  return row[index];
}

unsigned long TMysqlResult::FieldLenght(int index) {
  if (index < 0 || static_cast<uint32_t>(index) >= field_count || !lengths_valid)
    return 0;
  return lengths[index];
}

void TMysqlResult::FetchLengths() {
  lengths_valid = true;
  if (result_type != rtStored) return;
  for (uint32_t i = 0; i < field_count; ++i)
    lengths[i] = current >= 0 && data
                     ? data->Lengths(static_cast<uint64_t>(current))[i]
                     : 0;
}

void TMysqlResult::SetHasLengths(bool value) {
  if (value && !lengths_valid) FetchLengths();
}

int TMysqlResult::FieldIndexByName(std::string_view name, bool case_sensitive) {
  if (name.empty() || !fields) return -1;
  for (uint32_t i = 0; i < field_count; ++i)
    if (SameName(name, (*fields)[i].name, case_sensitive))
      return static_cast<int>(i);
  return -1;
}

TMysql_FieldDef* TMysqlResult::FieldDefByName(std::string_view name,
                                              bool case_sensitive) {
  return FieldDef(FieldIndexByName(name, case_sensitive));
}

const char* TMysqlResult::FieldValueByName(std::string_view name,
                                           bool case_sensitive) {
  return FieldValue(FieldIndexByName(name, case_sensitive));
}

}  // namespace rowset
