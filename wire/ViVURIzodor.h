// The wire client as plain functions named and shaped after the MySQL client
// library's (handle in, values out), so that the driver layer can use the
// built-in client exactly like an external client library.
//
// A session handle is a `TViVURIzodorClient*` made by mysql_init and freed by
// mysql_close; a result handle a `TViVURIzodorResult*` made by
// mysql_use_result and freed by mysql_free_result. Results are always read
// unbuffered: read or free one before the next statement on its session.
// Texts are zero-terminated; a row is an array of value pointers (nullptr for
// NULL) whose byte lengths come from mysql_fetch_lengths, since a value may
// hold zero bytes. Functions given an absent (null) handle do nothing and
// return 1 (status functions) or 0/nullptr (value functions).
//
// These are C++ functions in namespace rowset, never C symbols: the process
// may also load the real client library, whose mysql_* must stay its own.
#ifndef ROWSET_WIRE_VIVURIZODOR_H_
#define ROWSET_WIRE_VIVURIZODOR_H_

#include <cstdint>
#include <string>

#include "wire/uMysqlClient.h"

namespace rowset {

// A session of the flat interface: keeps the last error text alive for
// mysql_error.
class TViVURIzodorClient : public TMysqlClient {
 public:
  TViVURIzodorClient();
  std::string error_text;
  std::string sql_state_text;
  std::string cipher_text;
  // Whether MYSQL_OPT_SSL_MODE was given (then a CA, certificate or key no
  // longer changes the mode).
  bool ssl_mode_set = false;
};

// A result of the flat interface: remembers the column last handed out by
// mysql_fetch_field.
class TViVURIzodorResult : public TMysqlResult {
 public:
  TViVURIzodorResult(TMysqlClient* client, TResultType type)
      : TMysqlResult(client, type) {}
  static std::unique_ptr<TMysqlResult> Create(TMysqlClient* client,
                                              TResultType type);
  int32_t field_cursor = -1;
};

// Handles of the flat interface. They are named apart from the drivers'
// opaque MySQLHandle/MySQLResultHandle so that both headers can be used in
// one file.
using ViVURIzodorHandle = TViVURIzodorClient*;
using ViVURIzodorResultHandle = TViVURIzodorResult*;
using MYSQL_ROW = char**;

enum mysql_option : uint8_t {
  MYSQL_OPT_CONNECT_TIMEOUT,
  MYSQL_OPT_COMPRESS,
  MYSQL_OPT_NAMED_PIPE,
  MYSQL_INIT_COMMAND,
  MYSQL_READ_DEFAULT_FILE,
  MYSQL_READ_DEFAULT_GROUP,
  MYSQL_SET_CHARSET_DIR,
  MYSQL_SET_CHARSET_NAME,
  MYSQL_OPT_LOCAL_INFILE,
  MYSQL_OPT_PROTOCOL,
  MYSQL_SHARED_MEMORY_BASE_NAME,
  MYSQL_OPT_READ_TIMEOUT,
  MYSQL_OPT_WRITE_TIMEOUT,
  MYSQL_OPT_USE_RESULT,
  MYSQL_OPT_USE_REMOTE_CONNECTION,
  MYSQL_OPT_USE_EMBEDDED_CONNECTION,
  MYSQL_OPT_GUESS_CONNECTION,
  MYSQL_SET_CLIENT_IP,
  MYSQL_SECURE_AUTH,
  // The numbers below are the client library's own.
  MYSQL_OPT_SSL_VERIFY_SERVER_CERT = 21,
  MYSQL_OPT_SSL_KEY = 25,
  MYSQL_OPT_SSL_CERT = 26,
  MYSQL_OPT_SSL_CA = 27,
  MYSQL_OPT_SSL_CAPATH = 28,
  MYSQL_OPT_SSL_CIPHER = 29,
  MYSQL_SERVER_PUBLIC_KEY = 35,
  // This client's own (the client library has no such option): the TLS mode,
  // an unsigned int of mysql_ssl_mode.
  MYSQL_OPT_SSL_MODE = 200,
};


// A new session (the argument is ignored); no automatic reconnect, no
// compression unless asked for through mysql_options.
ViVURIzodorHandle mysql_init(ViVURIzodorHandle mysql);
// Connect time-out (unsigned int seconds), compression, the named-pipe
// fallback flag, and the read/write time-outs (unsigned int seconds; 0 waits
// without limit), TLS (MYSQL_OPT_SSL_MODE; MYSQL_OPT_SSL_KEY, _CERT, _CA,
// _CAPATH, _CIPHER texts, which also turn a disabled mode into "required"
// unless a mode was given; MYSQL_OPT_SSL_VERIFY_SERVER_CERT, a my_bool
// (char): on, "verify identity"; off, back to "required" from a verify mode)
// and MYSQL_SERVER_PUBLIC_KEY (a PEM file for caching_sha2_password). A
// null text clears it. Every time-out belongs to this session alone: the read and
// write time-outs are not process-wide (NET_READ_TIMEOUT only gives new
// sessions their connect time-out), and the connect time-out bounds only
// connecting and the login, never the wait for an answer. Other options are
// ignored. Returns 0.
int mysql_options(ViVURIzodorHandle mysql, mysql_option option, const void* arg);
// The character set of the connection ("utf8mb4" by default on servers from
// 5.5.3 on; "latin1" before the session chose one); valid until the next
// connect or mysql_close. mysql_charset_number is its collation number (45
// for utf8mb4, 0 when not known).
const char* mysql_character_set_name(ViVURIzodorHandle mysql);
// Sets the TLS key, certificate, CA file, CA folder and cipher list (null
// for none) as the MYSQL_OPT_SSL_* options do. Returns 0.
int mysql_ssl_set(ViVURIzodorHandle mysql, const char* key, const char* cert, const char* ca,
                  const char* capath, const char* cipher);
// The cipher of the connection's TLS session; nullptr without TLS. Valid
// until the next call on the session.
const char* mysql_get_ssl_cipher(ViVURIzodorHandle mysql);
unsigned int mysql_charset_number(ViVURIzodorHandle mysql);
// 1 when connected, 0 otherwise (not the handle). A server that offers the
// 4.1 protocol is spoken to in it; CLIENT_PROTOCOL_323 in `client_flag`
// keeps the old (3.23) protocol, and CLIENT_MULTI_STATEMENTS allows several
// statements in one query (4.1 only).
int mysql_real_connect(ViVURIzodorHandle mysql, const char* host, const char* user,
                       const char* passwd, const char* db, unsigned int port,
                       const char* unix_socket, unsigned long client_flag);
// Sends quit, closes and frees the session.
void mysql_close(ViVURIzodorHandle mysql);
unsigned int mysql_errno(ViVURIzodorHandle mysql);
// Valid until the next call on the session.
const char* mysql_error(ViVURIzodorHandle mysql);
// Always nullptr: the built-in client keeps no host description.
const char* mysql_get_host_info(ViVURIzodorHandle mysql);
const char* mysql_get_client_info();
const char* mysql_get_server_info(ViVURIzodorHandle mysql);
unsigned int mysql_get_proto_info(ViVURIzodorHandle mysql);
int mysql_ping(ViVURIzodorHandle mysql);
unsigned long mysql_thread_id(ViVURIzodorHandle mysql);
int mysql_kill(ViVURIzodorHandle mysql, unsigned long pid);
int mysql_create_db(ViVURIzodorHandle mysql, const char* db);
int mysql_select_db(ViVURIzodorHandle mysql, const char* db);
int mysql_drop_db(ViVURIzodorHandle mysql, const char* db);
// Sends exactly `length` bytes of `query` (zero bytes included, so a cut
// statement can never run as a shorter one); a null query is the empty
// statement. 0 on success.
int mysql_real_query(ViVURIzodorHandle mysql, const char* query,
                     unsigned long length);
// The unbuffered result of the last statement; nullptr for a statement
// without rows or on failure (see mysql_errno).
ViVURIzodorResultHandle mysql_use_result(ViVURIzodorHandle mysql);
// Frees the result, first reading and dropping rows not yet fetched.
void mysql_free_result(ViVURIzodorResultHandle result);
unsigned int mysql_num_fields(ViVURIzodorResultHandle result);
// Rows fetched so far.
uint64_t mysql_num_rows(ViVURIzodorResultHandle result);
unsigned long* mysql_fetch_lengths(ViVURIzodorResultHandle result);
// The next column description (in the 4.1 field record layout, as the
// client library's MYSQL_FIELD), nullptr past the last one.
TMysql_FieldDef* mysql_fetch_field(ViVURIzodorResultHandle result);
// The next row, nullptr at the end. After nullptr, mysql_errno tells an
// error from the end of the rows.
MYSQL_ROW mysql_fetch_row(ViVURIzodorResultHandle result);
// Escapes `length` bytes of `from` into `to` (which must hold 2 × length + 1
// bytes), zero-terminated; returns the escaped length. When the session's
// status has SERVER_STATUS_NO_BACKSLASH_ESCAPES only `'` is doubled (a NUL
// then stays in the output: use the returned length), as the client library
// does; otherwise EscapeStr's backslash escapes.
unsigned long mysql_real_escape_string(ViVURIzodorHandle mysql, char* to,
                                       const char* from, unsigned long length);
uint64_t mysql_insert_id(ViVURIzodorHandle mysql);
// Sends the refresh command with `options`; 0 on success, 1 on failure or
// for an absent handle.
int mysql_refresh(ViVURIzodorHandle mysql, unsigned int options);
uint64_t mysql_affected_rows(ViVURIzodorHandle mysql);
// The info text of the last statement's OK packet ("Rows matched: 1  Changed:
// 0  Warnings: 0"); nullptr when there is none or for an absent handle.
const char* mysql_info(ViVURIzodorHandle mysql);
// The SQL state of the last error: the server's (4.1 protocol), "HY000" for
// a client error or a server error without one, "00000" after success;
// nullptr for an absent handle. Valid until the next call on the session.
const char* mysql_sqlstate(ViVURIzodorHandle mysql);
// Warnings of the last statement (4.1 protocol; 0 before).
unsigned int mysql_warning_count(ViVURIzodorHandle mysql);
// Multiple results (4.1 protocol; asked for at every 4.1 login, several
// statements in one query only with CLIENT_MULTI_STATEMENTS): true when
// another result of the last statement follows the current one. Read or
// free the current result first; mysql_next_result then reads the next
// one's head (mysql_use_result gives its rows, or mysql_affected_rows its
// count): 0 on success, -1 when there is none, above 0 on an error (the
// statement's answer ends there). No other statement can be sent while
// results are pending (2014).
bool mysql_more_results(ViVURIzodorHandle mysql);
int mysql_next_result(ViVURIzodorHandle mysql);
// Resets the session to its state after the login (TMysqlClient::
// reset_connection); 0 on success, 1 on failure or for an absent handle.
int mysql_reset_connection(ViVURIzodorHandle mysql);
// Changes the session's user and database (logging in again); 0 on
// success, 1 on failure (the old user stays) or for an absent handle.
int mysql_change_user(ViVURIzodorHandle mysql, const char* user, const char* passwd,
                      const char* db);

}  // namespace rowset

#endif  // ROWSET_WIRE_VIVURIZODOR_H_
