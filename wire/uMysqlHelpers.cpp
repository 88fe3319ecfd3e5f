#include "wire/uMysqlHelpers.h"

#include "wire/uMysqlClient.h"

namespace rowset {

namespace {
bool FieldFlag(const TMysql_FieldDef* field, uint32_t bit) {
  return field != nullptr && (field->flags & bit) != 0;
}
}  // namespace

bool IsNOTNULL(const TMysql_FieldDef* f) { return FieldFlag(f, NOT_NULL_FLAG); }
bool IsPRIKEY(const TMysql_FieldDef* f) { return FieldFlag(f, PRI_KEY_FLAG); }
bool IsUNIQUEKEY(const TMysql_FieldDef* f) { return FieldFlag(f, UNIQUE_KEY_FLAG); }
bool IsMULTIPLEKEY(const TMysql_FieldDef* f) { return FieldFlag(f, MULTIPLE_KEY_FLAG); }
bool IsBLOB(const TMysql_FieldDef* f) { return FieldFlag(f, BLOB_FLAG); }
bool IsUNSIGNED(const TMysql_FieldDef* f) { return FieldFlag(f, UNSIGNED_FLAG); }
bool IsZEROFILL(const TMysql_FieldDef* f) { return FieldFlag(f, ZEROFILL_FLAG); }
bool IsBINARY(const TMysql_FieldDef* f) { return FieldFlag(f, BINARY_FLAG); }
bool IsENUM(const TMysql_FieldDef* f) { return FieldFlag(f, ENUM_FLAG); }
bool IsAUTOINCREMENT(const TMysql_FieldDef* f) { return FieldFlag(f, AUTO_INCREMENT_FLAG); }
bool IsTIMESTAMP(const TMysql_FieldDef* f) { return FieldFlag(f, TIMESTAMP_FLAG); }
bool IsSET(const TMysql_FieldDef* f) { return FieldFlag(f, SET_FLAG); }
bool IsPARTKEY(const TMysql_FieldDef* f) { return FieldFlag(f, PART_KEY_FLAG); }
bool IsNUM(const TMysql_FieldDef* f) { return FieldFlag(f, NUM_FLAG); }
bool IsGROUP(const TMysql_FieldDef* f) { return FieldFlag(f, GROUP_FLAG); }
bool IsUNIQUE(const TMysql_FieldDef* f) { return FieldFlag(f, UNIQUE_FLAG); }

std::string EscapeStr(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (char c : text) {
    switch (c) {
      case '\0': out += "\\0"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '"': out += "\\\""; break;
      case '\'': out += "\\'"; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
  return out;
}

std::string EscapeQuotes(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

std::string EscapeFor(uint32_t server_status, std::string_view text) {
  return (server_status & SERVER_STATUS_NO_BACKSLASH_ESCAPES) != 0 ? EscapeQuotes(text)
                                                                  : EscapeStr(text);
}

}  // namespace rowset
