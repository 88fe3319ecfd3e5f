// One MySQL client session: connection parameters, the login handshake over
// the packet layer, and the protocol's commands. Operations return status
// values and record the last error on the session (GetLastErrorNo,
// GetLastError); nothing here throws.
//
// The session owns its packet layer, which owns its transport. Its public
// commands take the session's re-entrant lock, so that concurrent callers are
// serialised; `realquery`, `simple_command`, `reconnect` and the reading of
// results do not take it.
#ifndef ROWSET_WIRE_UMYSQLCLIENT_H_
#define ROWSET_WIRE_UMYSQLCLIENT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "wire/uMysqlAuth.h"
#include "wire/uMysqlCT.h"
#include "wire/uMysqlNet.h"
#include "wire/uMysqlTls.h"

namespace rowset {

class TMysqlClient;

// ---- Result sets -------------------------------------------------------

// One column description, in the layout of the 4.1 client interface's field
// record (the one libmariadb hands out), so the flat interface can hand it
// out as it is. The texts belong to the `TMysql_FieldDefs` holding it and
// are never nullptr except `def`. Under the old protocol the server sends no
// original names, database or catalog: those are empty, and charsetnr is 0.
struct TMysql_FieldDef {
  char* name;       // the column's name or alias
  char* org_name;   // the column's name in its table
  char* table;      // the table's name or alias
  char* org_table;  // the table's name
  char* db;         // the table's database
  char* catalog;    // "def"
  char* def;        // default value; nullptr for query results
  unsigned long length;      // display length
  unsigned long max_length;  // longest value in a stored result, else 0
  unsigned int name_length;
  unsigned int org_name_length;
  unsigned int table_length;
  unsigned int org_table_length;
  unsigned int db_length;
  unsigned int catalog_length;
  unsigned int def_length;
  unsigned int flags;     // column flag bits
  unsigned int decimals;
  unsigned int charsetnr;  // collation number of the column's character set
  enum_field_types type;
  void* extension;  // always nullptr
};

// The column descriptions of one result with the texts they point at.
class TMysql_FieldDefs {
 public:
  explicit TMysql_FieldDefs(size_t count) : defs_(count) {}
  TMysql_FieldDefs(const TMysql_FieldDefs&) = delete;
  TMysql_FieldDefs& operator=(const TMysql_FieldDefs&) = delete;

  size_t size() const { return defs_.size(); }
  TMysql_FieldDef& operator[](size_t i) { return defs_[i]; }
  const TMysql_FieldDef& operator[](size_t i) const { return defs_[i]; }
  TMysql_FieldDef* data() { return defs_.data(); }

  // A zero-terminated copy of `length` bytes, owned by this object.
  char* KeepText(const char* text, size_t length);

 private:
  std::vector<TMysql_FieldDef> defs_;
  std::vector<std::unique_ptr<char[]>> texts_;
};

// Value storage of a stored result: rows × fields value pointers (nullptr for
// NULL) and lengths, the values themselves zero-terminated copies held in
// large blocks. A value may contain zero bytes; its length is the truth.
struct TMYSQL_DATA {
  uint64_t rows = 0;
  uint32_t fields = 0;
  std::vector<char*> values;
  std::vector<unsigned long> lengths;

  char** Row(uint64_t index) { return values.data() + index * fields; }
  unsigned long* Lengths(uint64_t index) {
    return lengths.data() + index * fields;
  }
  // Room for a zero-terminated copy of `length` bytes.
  char* Allocate(size_t length);

 private:
  std::vector<std::unique_ptr<char[]>> blocks_;
  char* free_ = nullptr;
  size_t left_ = 0;
};

enum TResultType { rtUsed = 0, rtStored = 1 };

// A result set: all rows in memory (rtStored, navigable both ways), or rows
// read one at a time from the session (rtUsed, forward only; the session can
// run no other command until the rows are read or the result is freed).
// Values are zero-terminated copies of the bytes the server sent; their
// lengths (FieldLenght, FetchLengths) are what counts, since values may hold
// zero bytes. A NULL value is nullptr; an empty value is "".
class TMysqlResult {
 public:
  TMysqlResult(TMysqlClient* client, TResultType type);
  virtual ~TMysqlResult();
  TMysqlResult(const TMysqlResult&) = delete;
  static std::unique_ptr<TMysqlResult> Create(TMysqlClient* client,
                                              TResultType type);
  TMysqlResult& operator=(const TMysqlResult&) = delete;

  void First();
  void Last();
  void Next();
  void Prior();
  int32_t RecNo() const { return rec_no; }
  void SetRecNo(int32_t value);

  TMysql_FieldDef* FieldDef(int index);
  const char* FieldValue(int index);
  unsigned long FieldLenght(int index);
  int FieldIndexByName(std::string_view name, bool case_sensitive);
  TMysql_FieldDef* FieldDefByName(std::string_view name, bool case_sensitive);
  const char* FieldValueByName(std::string_view name, bool case_sensitive);
  void FetchLengths();
  bool HasLengths() const { return lengths_valid; }
  void SetHasLengths(bool value);
  bool HadErrors() const { return last_read < 0; }
  bool LastRowRead() const { return last_read != 0; }

  uint32_t field_count = 0;
  uint64_t row_count = 0;
  std::unique_ptr<TMysql_FieldDefs> fields;
  TMysqlClient* client = nullptr;
  TResultType result_type;
  std::vector<unsigned long> lengths;
  // rtUsed: the current row's values (pointers into row_data_).
  std::vector<char*> row_buffer;
  std::unique_ptr<TMYSQL_DATA> data;  // rtStored
  int64_t current = -1;               // rtStored: index of the current row
  int32_t rec_no = -1;
  char** row = nullptr;
  bool eof = false;
  bool bof = true;
  bool lengths_valid = false;
  int32_t last_read = 0;  // 0 a row, 1 end reached, -1 error

 private:
  friend class TMysqlClient;
  void GoTo(int64_t index);
  void ReleaseClient();

  std::vector<char> row_data_;  // rtUsed: the current row's value bytes
};

// Creates the result object a session hands out; a descendant session may
// substitute its own result class.
using TResultClass = std::unique_ptr<TMysqlResult> (*)(TMysqlClient* client,
                                                       TResultType type);

// Number recorded for an answer that breaks the protocol's format.
constexpr uint32_t CR_MALFORMED_PACKET = 2027;


class TMysqlClient {
 public:
  TMysqlClient();
  virtual ~TMysqlClient();
  TMysqlClient(const TMysqlClient&) = delete;
  TMysqlClient& operator=(const TMysqlClient&) = delete;

  // Opens the transport, reads the greeting and logs in. True when connected
  // (at once when connected already). The parameters are stored even when
  // the connect fails. A server offering the 4.1 protocol (CLIENT_PROTOCOL_41
  // with the 20-byte challenge) is spoken to in it, unless `client_flags`
  // holds CLIENT_PROTOCOL_323, which keeps the old protocol; older servers
  // get the old protocol anyway.
  bool connect(std::string host, std::string user, std::string password,
               std::string database, uint32_t port, std::string pipe_name,
               bool try_socket, uint32_t client_flags);
  bool connect();
  bool reconnect();
  // Sends quit, closes and resets the session state.
  void close();

  // Sends one command. With `skip_check` the caller reads the answer;
  // otherwise the answer has been read and its payload is at the packet
  // layer's read_ptr(). 0 on success, -1 on failure. A command longer than
  // kMaxLogicalPacket is refused with CR_NET_PACKET_TOO_LARGE before anything
  // is sent and keeps the connection (one the server's max_allowed_packet
  // refuses gets the server's error); on a closed session that cannot (or may
  // not) reconnect the error is CR_SERVER_GONE_ERROR.
  int simple_command(TEnumServerCommand command, const void* argument,
                     size_t length, bool skip_check, bool retry);
  // Sends a statement and reads the head of its answer (read_query_result).
  // 0 on success, 1 or -1 on failure; an empty statement sends nothing.
  int realquery(std::string_view statement);

  bool select_db(const std::string& name);
  bool create_db(const std::string& name);
  bool drop_db(const std::string& name);
  bool ping();
  bool kill(uint32_t process_id);
  bool refresh(uint32_t options);
  // The session is closed afterwards whatever the outcome.
  bool shutdown();
  bool dump_debug_info();
  // The server's statistics text; empty on failure.
  std::string stat();
  // Changes the session's user (and database), logging in again; on the
  // 4.1 protocol in its 4.1 form, answering a plugin switch as the login
  // does. The old user stays when the server refuses.
  bool change_user(const std::string& user, const std::string& password,
                   const std::string& database);
  // Resets the session on the server to the state right after the login
  // (COM_RESET_CONNECTION, servers from MySQL 5.7 and MariaDB 10.2 on):
  // variables, temporary tables, locks, prepared statements and an open
  // transaction (rolled back) go; the user and the database stay, and so
  // does the connection's character set. False with the server's error
  // when it refuses (older servers: unknown command).
  bool reset_connection();
  // Sends a statement and opens its result: stored (every row read, the
  // packet buffer shrunk back) or unbuffered. `completed` turns true when the
  // call ran to its end. nullptr for a statement without rows or on failure.
  std::unique_ptr<TMysqlResult> query(std::string_view statement, bool store,
                                      bool& completed);
  // The server's process list as a stored result; nullptr on failure.
  std::unique_ptr<TMysqlResult> list_processes();
  // Answers the server's request for a local file. The file is sent only when
  // the statement just sent is a LOAD DATA LOCAL statement and `file_name` is
  // the file that statement names; any other request gets the empty packet
  // and none of the file's bytes. 0 or -1.
  int send_file_to_server(const std::string& file_name);
  // Multiple results (4.1: a CALL of a procedure returning rows, or several
  // statements when the caller asked for CLIENT_MULTI_STATEMENTS): true when
  // another result of the last statement follows the one just read. Until
  // it is read (next_result) no other command may be sent
  // (CR_COMMANDS_OUT_OF_SYNC).
  bool more_results() const {
    return (server_status & SERVER_MORE_RESULTS_EXISTS) != 0;
  }
  // Reads the head of the next result as read_query_result does: 0 on
  // success, -1 when there is none, 1 on failure (the error recorded).
  // The current result must have been read or freed first.
  int next_result();
  // Reads the answer to a login or change of user, following the server's
  // requests to switch the authentication plugin or to give the plugin more
  // data. True unless the server refused or the plugin is unknown
  // (CR_AUTH_PLUGIN_CANNOT_LOAD).
  bool mysql_autenticate();
  // The session speaks the 4.1 protocol (it logged in with it).
  bool protocol41() const { return (sent_flags_ & CLIENT_PROTOCOL_41) != 0; }

  // ---- Reading of answers ----
  // Reads the head of a statement's answer: an OK packet (counters, info),
  // local file requests, or a result header with its column descriptions
  // (then `status` is MYSQL_STATUS_GET_RESULT). 0 on success, -1 on failure.
  int read_query_result();
  // Column packets or rows up to the end packet; nullptr on failure. With
  // `defs`, raises their max_length to the longest value of each column.
  std::unique_ptr<TMYSQL_DATA> read_rows(TMysql_FieldDefs* defs, uint32_t count,
                                         bool& incomplete);
  // One row into `values`/`lengths`, the bytes copied into `storage` (reused
  // from row to row). 0 a row, 1 the end packet, -1 an error.
  int read_one_row(uint32_t count, char** values, unsigned long* lengths,
                   std::vector<char>& storage);
  // Column descriptions from column packets; nullptr when malformed.
  std::unique_ptr<TMysql_FieldDefs> unpack_fields(
      std::unique_ptr<TMYSQL_DATA> data, uint32_t count, bool long_flag);
  // All rows of the announced result in memory; nullptr when none is
  // announced (no error) or on failure.
  std::unique_ptr<TMysqlResult> store_result();
  // The announced result, read row by row; the session is busy with it until
  // its rows are read or it is freed. nullptr as for store_result.
  std::unique_ptr<TMysqlResult> use_result();
  // Frees the announced column descriptions.
  void free_old_query();
  // Records that the statement's answer ended in an error (no further
  // result follows); returns -1.
  int answer_failed();
  // Reads an end packet's warnings and status (4.1; nothing before).
  void read_end_packet(const uint8_t* payload, uint32_t length);

  // Accessors; a changed connection parameter closes an open connection
  // through close(), so that an unbuffered result still linked to it ends at
  // once instead of reading the next connection.
  void SetHost(const std::string& value);
  void SetUser(const std::string& value);
  void SetPasswd(const std::string& value);
  void SetPort(uint32_t value);
  void SetClientFlag(uint32_t value);
  void SetNamedPipe(bool value);
  void setfcompress(bool value);
  void SetUnixSocket(const std::string& value);
  void SetDb(const std::string& value);
  void SetTrySock(bool value) { try_sock = value; }
  void SetUseSSL(bool) { use_ssl = false; }
  void SetNoTimeOut(bool value) { net.SetNoTimeOut(value); }
  bool GetNoTimeOut() const { return net.NoTimeOut(); }
  bool GetConnected() const { return net.NetConnected(); }
  const std::string& GetLastError() const { return net.last_error(); }
  uint32_t GetLastErrorNo() const { return net.last_errorno(); }
  std::string GetClientInfo() const { return MYSQL_CLIENT_VERSION; }
  uint32_t GetProtocol_version() const { return net.protocol_version; }

  TMysqlNet net;
  std::string host;
  std::string user;
  std::string passwd;
  std::string unix_socket;
  std::string db;
  uint32_t port = 3306;
  std::string scramble_buff;  // the greeting's challenge, at most 8 characters
  // The authentication plugin the greeting named (4.1 servers).
  std::string auth_plugin;
  uint32_t thread_id = 0;
  uint64_t affected_rows = 0;
  uint64_t insert_id = 0;
  uint32_t warning_count = 0;  // of the last OK or end packet (4.1)
  TMysql_Status status = MYSQL_STATUS_READY;
  bool auto_reconnect = true;
  bool named_pipe = false;
  bool try_sock = false;
  // Seconds that connecting, the greeting and the login may take.
  uint32_t connect_timeout;
  // Seconds a read of an answer may wait once connected; 0 waits without
  // limit. Seconds a send may block; 0 without limit. Both per session,
  // applied when the session connects.
  uint32_t read_timeout = 0;
  uint32_t write_timeout = 0;
  bool fcompress = true;
  // Keeps the old (3.23) protocol whatever the client flags say (as
  // CLIENT_PROTOCOL_323 in them does).
  bool old_protocol = false;
  uint32_t client_flag = 0x2085;
  std::string server_version;
  uint32_t server_capabilities = 0;
  uint32_t server_status = SERVER_STATUS_AUTOCOMMIT;
  uint32_t server_language = 0;
  // The connection's character set. The old login packet has no
  // character-set byte (the 4.1 one sends the number when known), so after
  // the login the session sends
  // "SET NAMES" with charset_name when that is set (MYSQL_SET_CHARSET_NAME),
  // else with utf8mb4 (utf8 on servers 4.1 to 5.5.2; nothing before 4.1),
  // as the client library does by default. A name the server refuses fails
  // the connect with 2019. charset_nr is the collation number of the
  // character set in use (45 for utf8mb4; 0 while unknown or before 4.1).
  std::string charset_name;
  std::string charset_in_use;
  uint32_t charset_nr = 0;
  uint64_t extra_info = 0;
  std::string info;
  uint32_t field_count = 0;
  std::unique_ptr<TMysql_FieldDefs> fields;  // of the announced result
  TMysqlResult* current_result = nullptr;     // unbuffered result being read
  bool use_ssl = false;
  // TLS for the next connect: mode, CA, client certificate and key, and the
  // server's RSA public key file for caching_sha2_password (see
  // wire/uMysqlTls.h). TLS runs only with the 4.1 login.
  TSslOptions ssl;
  // The cipher of the connection's TLS session; empty without TLS.
  std::string GetSslCipher() const {
    return net.vio.tls() != nullptr ? net.vio.tls()->Cipher() : std::string();
  }
  std::unique_ptr<std::recursive_mutex> lock;
  TResultClass result_class = &TMysqlResult::Create;

 protected:
  // Records an error on the packet layer.
  void set_error(uint32_t number, const std::string& text) { net.set_error(number, text); }
  // Called by close: the linked result loses its session.
  void detach_result();

 private:
  bool send_login();
  // The 4.1 login packet (HandshakeResponse41) answering with `plugin`.
  bool send_login41();
  // The 4.1 form of mysql_autenticate.
  bool authenticate41();
  // Reads an OK packet's counters, status, warnings and info.
  void read_ok_packet(const uint8_t* payload, uint32_t length);

  // Sends "SET NAMES" for the connection's character set (see
  // charset_name); false with the error recorded.
  bool set_character_set();
  // The password answer for the login or a change of user, as sent.
  std::string password_answer(const std::string& password) const;
  void reset_session_state();
  // Closes the connection after an answer that breaks the protocol's format
  // and records CR_MALFORMED_PACKET; returns -1.
  int malformed_answer();
  // Clears the row's values and lengths, then as malformed_answer.
  int malformed_row(uint32_t count, char** values, unsigned long* lengths);

  std::string challenge_;       // full challenge of the greeting (8 or 20 bytes)
  // The 4.1 login's head: flags, maximum packet, character set, 23 zeros
  // (also the whole TLS request). Records the character set number it
  // names (login_charset_nr_).
  std::string login_head41();
  // What the authentication plugins may know of this session.
  TAuthParams auth_params() const;
  std::unique_ptr<TAuthPlugin> login_plugin_;  // answered the login, may go on
  std::string plugin_answer_;   // the login's answer for auth_plugin
  uint32_t sent_flags_ = 0;     // client flags of the last login
  uint32_t login_charset_nr_ = 0;  // character set number the 4.1 login sent
  bool local_load_sent_ = false;  // last statement was LOAD DATA LOCAL
  std::string local_load_file_;   // the file that statement names
  uint32_t answer_length_ = 0;    // payload length of the answer last read
};

// True when `statement` is a LOAD DATA ... LOCAL INFILE statement.
bool IsLoadDataLocal(std::string_view statement);
// True when `statement` is a LOAD DATA ... LOCAL INFILE statement; `file` is
// then the file name it gives (the quoted string after INFILE, unescaped as
// the server reads it), else empty.
bool LoadDataLocalFile(std::string_view statement, bool no_backslash_escapes,
                       std::string& file);

}  // namespace rowset

#endif  // ROWSET_WIRE_UMYSQLCLIENT_H_
