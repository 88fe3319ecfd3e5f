// Small functions over the wire client's bit sets: a test and a set function
// per capability bit, a test per column flag bit, one refresh call per refresh
// option bit, and the escaping of text put into SQL statements.
#ifndef ROWSET_WIRE_UMYSQLHELPERS_H_
#define ROWSET_WIRE_UMYSQLHELPERS_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "wire/uMysqlCT.h"

namespace rowset {

struct TMysql_FieldDef;
class TMysqlClient;

namespace detail {
constexpr uint32_t SetBit(uint32_t flags, uint32_t bit, bool on) {
  return on ? (flags | bit) : (flags & ~bit);
}
}  // namespace detail

#define ROWSET_CAPABILITY(NAME, BIT)                                  \
  constexpr bool Has##NAME(uint32_t flags) { return (flags & (BIT)) != 0; } \
  constexpr uint32_t Set##NAME(uint32_t flags, bool on) {            \
    return detail::SetBit(flags, (BIT), on);                          \
  }
ROWSET_CAPABILITY(LONGPASSWORD, CLIENT_LONG_PASSWORD)
ROWSET_CAPABILITY(FOUNDROWS, CLIENT_FOUND_ROWS)
ROWSET_CAPABILITY(LONGFLAG, CLIENT_LONG_FLAG)
ROWSET_CAPABILITY(CONNECTWITHDB, CLIENT_CONNECT_WITH_DB)
ROWSET_CAPABILITY(NOSCHEMA, CLIENT_NO_SCHEMA)
ROWSET_CAPABILITY(COMPRESS, CLIENT_COMPRESS)
ROWSET_CAPABILITY(ODBC, CLIENT_ODBC)
ROWSET_CAPABILITY(LOCALFILES, CLIENT_LOCAL_FILES)
ROWSET_CAPABILITY(IGNORESPACE, CLIENT_IGNORE_SPACE)
ROWSET_CAPABILITY(CHANGEUSER, CLIENT_CHANGE_USER)
ROWSET_CAPABILITY(INTERACTIVE, CLIENT_INTERACTIVE)
ROWSET_CAPABILITY(SSL, CLIENT_SSL)
ROWSET_CAPABILITY(IGNORESIGPIPE, CLIENT_IGNORE_SIGPIPE)
ROWSET_CAPABILITY(TRANSACTIONS, CLIENT_TRANSACTIONS)
ROWSET_CAPABILITY(SECURECONNECTION, CLIENT_SECURE_CONNECTION)
ROWSET_CAPABILITY(PROTOCOL41, CLIENT_PROTOCOL_41)
ROWSET_CAPABILITY(PLUGINAUTH, CLIENT_PLUGIN_AUTH)
ROWSET_CAPABILITY(MULTIRESULTS, CLIENT_MULTI_RESULTS)
#undef ROWSET_CAPABILITY

// Column flag tests: false for an absent field description.
bool IsNOTNULL(const TMysql_FieldDef* field);
bool IsPRIKEY(const TMysql_FieldDef* field);
bool IsUNIQUEKEY(const TMysql_FieldDef* field);
bool IsMULTIPLEKEY(const TMysql_FieldDef* field);
bool IsBLOB(const TMysql_FieldDef* field);
bool IsUNSIGNED(const TMysql_FieldDef* field);
bool IsZEROFILL(const TMysql_FieldDef* field);
bool IsBINARY(const TMysql_FieldDef* field);
bool IsENUM(const TMysql_FieldDef* field);
bool IsAUTOINCREMENT(const TMysql_FieldDef* field);
bool IsTIMESTAMP(const TMysql_FieldDef* field);
bool IsSET(const TMysql_FieldDef* field);
bool IsPARTKEY(const TMysql_FieldDef* field);
bool IsNUM(const TMysql_FieldDef* field);
bool IsGROUP(const TMysql_FieldDef* field);
bool IsUNIQUE(const TMysql_FieldDef* field);

// Refresh calls: the session's `refresh` with one option bit; false for an
// absent session.
bool REF_GRANT(TMysqlClient* client);
bool REF_LOG(TMysqlClient* client);
bool REF_TABLES(TMysqlClient* client);
bool REF_HOSTS(TMysqlClient* client);
bool REF_STATUS(TMysqlClient* client);
bool REF_THREADS(TMysqlClient* client);
bool REF_SLAVE(TMysqlClient* client);
bool REF_MASTER(TMysqlClient* client);
bool REF_READ_LOCK(TMysqlClient* client);
bool REF_FAST(TMysqlClient* client);

// Escapes NUL, tab, line feed, carriage return, both quotes and backslash
// with a backslash, for use inside a quoted SQL string. Other bytes are
// copied unchanged.
std::string EscapeStr(std::string_view text);
// Escaping for a session whose status has SERVER_STATUS_NO_BACKSLASH_ESCAPES:
// there a backslash escapes nothing, so only `'` is doubled and every other
// byte (backslash and NUL included) is copied unchanged.
std::string EscapeQuotes(std::string_view text);
// The escaping that fits a session with server status `server_status`.
std::string EscapeFor(uint32_t server_status, std::string_view text);

}  // namespace rowset

#endif  // ROWSET_WIRE_UMYSQLHELPERS_H_
