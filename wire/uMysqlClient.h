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

#include "wire/uMysqlCT.h"
#include "wire/uMysqlNet.h"

namespace rowset {

// One column description of a result.
struct TMysql_FieldDef {
  std::string name;
  std::string table;
  std::unique_ptr<std::string> def;  // default value; absent for query results
  enum_field_types type = 0;
  uint32_t length = 0;
  uint32_t max_length = 0;
  uint32_t flags = 0;
  uint32_t decimals = 0;
};

class TMysqlResult;

class TMysqlClient {
 public:
  TMysqlClient();
  virtual ~TMysqlClient();
  TMysqlClient(const TMysqlClient&) = delete;
  TMysqlClient& operator=(const TMysqlClient&) = delete;

  // Opens the transport, reads the greeting and logs in. True when connected
  // (at once when connected already). The parameters are stored even when
  // the connect fails.
  bool connect(std::string host, std::string user, std::string password,
               std::string database, uint32_t port, std::string pipe_name,
               bool try_socket, uint32_t client_flags);
  bool connect();
  bool reconnect();
  // Sends quit, closes and resets the session state.
  void close();

  // Sends one command. With `skip_check` the caller reads the answer;
  // otherwise the answer has been read and its payload is at the packet
  // layer's read_ptr(). 0 on success, -1 on failure.
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
  bool change_user(const std::string& user, const std::string& password,
                   const std::string& database);
  // Answers the server's request for a local file. The file is sent only when
  // the statement just sent is a LOAD DATA LOCAL statement. 0 or -1.
  int send_file_to_server(const std::string& file_name);
  // Reads the answer to a login or change of user, following a request of
  // the server to answer with another password scramble. True unless the
  // server refused.
  bool mysql_autenticate();

  // Reading of answers (the results unit).
  int read_query_result();
  void free_old_query();

  // Accessors; a changed connection parameter closes an open connection.
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
  uint32_t thread_id = 0;
  uint64_t affected_rows = 0;
  uint64_t insert_id = 0;
  TMysql_Status status = MYSQL_STATUS_READY;
  bool auto_reconnect = true;
  bool named_pipe = false;
  bool try_sock = false;
  uint32_t connect_timeout;
  bool fcompress = true;
  uint32_t client_flag = 0x2085;
  std::string server_version;
  uint32_t server_capabilities = 0;
  uint32_t server_status = SERVER_STATUS_AUTOCOMMIT;
  uint32_t server_language = 0;
  uint64_t extra_info = 0;
  std::string info;
  uint32_t field_count = 0;
  bool use_ssl = false;
  std::unique_ptr<std::recursive_mutex> lock;

 protected:
  // Records an error on the packet layer.
  void set_error(uint32_t number, const std::string& text) { net.set_error(number, text); }
  // Called by close: the linked result loses its session.
  void detach_result();

 private:
  bool send_login();
  // The password answer for the login or a change of user, as sent.
  std::string password_answer(const std::string& password) const;
  void reset_session_state();

  std::string challenge_;       // full challenge of the greeting (8 or 20 bytes)
  uint32_t sent_flags_ = 0;     // client flags of the last login
  bool local_load_sent_ = false;  // last statement was LOAD DATA LOCAL
};

// True when `statement` is a LOAD DATA ... LOCAL INFILE statement.
bool IsLoadDataLocal(std::string_view statement);

}  // namespace rowset

#endif  // ROWSET_WIRE_UMYSQLCLIENT_H_
