// The built-in wire client's flat functions behind the drivers' entry-point
// table. The adapters only turn the table's opaque handles into the wire
// client's own and its connect status into the handle.
#include "drivers/MySQLEntryPoints.h"
#include "wire/ViVURIzodor.h"

namespace rowset {

namespace {
TViVURIzodorClient* Session(void* handle) {
  return static_cast<TViVURIzodorClient*>(handle);
}
TViVURIzodorResult* Result(void* handle) {
  return static_cast<TViVURIzodorResult*>(handle);
}
}  // namespace

TMySQLEntryPoints ViVURIzodorEntryPoints() {
  TMySQLEntryPoints t;
  t.mysql_init = [](void* h) -> void* { return rowset::mysql_init(Session(h)); };
  t.mysql_options = [](void* h, int option, const void* arg) {
    return rowset::mysql_options(Session(h), static_cast<mysql_option>(option), arg);
  };
  t.mysql_real_connect = [](void* h, const char* host, const char* user,
                            const char* passwd, const char* db, unsigned int port,
                            const char* unix_socket, unsigned long client_flag) -> void* {
    return rowset::mysql_real_connect(Session(h), host, user, passwd, db, port,
                                      unix_socket, client_flag) != 0
               ? h
               : nullptr;
  };
  t.mysql_close = [](void* h) { rowset::mysql_close(Session(h)); };
  t.mysql_errno = [](void* h) { return rowset::mysql_errno(Session(h)); };
  t.mysql_error = [](void* h) { return rowset::mysql_error(Session(h)); };
  t.mysql_get_host_info = [](void* h) { return rowset::mysql_get_host_info(Session(h)); };
  t.mysql_get_client_info = []() { return rowset::mysql_get_client_info(); };
  t.mysql_get_server_info = [](void* h) { return rowset::mysql_get_server_info(Session(h)); };
  t.mysql_get_proto_info = [](void* h) { return rowset::mysql_get_proto_info(Session(h)); };
  t.mysql_ping = [](void* h) { return rowset::mysql_ping(Session(h)); };
  t.mysql_thread_id = [](void* h) { return rowset::mysql_thread_id(Session(h)); };
  t.mysql_kill = [](void* h, unsigned long pid) { return rowset::mysql_kill(Session(h), pid); };
  t.mysql_create_db = [](void* h, const char* db) {
    return rowset::mysql_create_db(Session(h), db);
  };
  t.mysql_select_db = [](void* h, const char* db) {
    return rowset::mysql_select_db(Session(h), db);
  };
  t.mysql_drop_db = [](void* h, const char* db) { return rowset::mysql_drop_db(Session(h), db); };
  t.mysql_real_query = [](void* h, const char* q, unsigned long length) {
    return rowset::mysql_real_query(Session(h), q, length);
  };
  t.mysql_use_result = [](void* h) -> void* { return rowset::mysql_use_result(Session(h)); };
  t.mysql_free_result = [](void* r) { rowset::mysql_free_result(Result(r)); };
  t.mysql_num_fields = [](void* r) { return rowset::mysql_num_fields(Result(r)); };
  t.mysql_num_rows = [](void* r) -> unsigned long long {
    return rowset::mysql_num_rows(Result(r));
  };
  t.mysql_fetch_lengths = [](void* r) { return rowset::mysql_fetch_lengths(Result(r)); };
  t.mysql_fetch_field = [](void* r) -> const void* {
    return rowset::mysql_fetch_field(Result(r));
  };
  t.mysql_fetch_row = [](void* r) -> char** { return rowset::mysql_fetch_row(Result(r)); };
  t.mysql_real_escape_string = [](void* h, char* to, const char* from, unsigned long length) {
    return rowset::mysql_real_escape_string(Session(h), to, from, length);
  };
  t.mysql_insert_id = [](void* h) -> unsigned long long {
    return rowset::mysql_insert_id(Session(h));
  };
  t.mysql_refresh = [](void* h, unsigned int options) {
    return rowset::mysql_refresh(Session(h), options);
  };
  t.mysql_affected_rows = [](void* h) -> unsigned long long {
    return rowset::mysql_affected_rows(Session(h));
  };
  t.mysql_info = [](void* h) -> const char* { return rowset::mysql_info(Session(h)); };
  t.mysql_character_set_name = [](void* h) -> const char* {
    return rowset::mysql_character_set_name(Session(h));
  };
  t.mysql_more_results = [](void* h) -> char {
    return rowset::mysql_more_results(Session(h)) ? 1 : 0;
  };
  t.mysql_next_result = [](void* h) { return rowset::mysql_next_result(Session(h)); };
  // COM_RESET_CONNECTION on the 4.1 protocol. The old protocol has no
  // such command: a new login with the same account and database gives the
  // server's fresh session (variables, temporary tables, locks and any open
  // transaction go), as a reset would.
  t.mysql_reset_connection = [](void* h) {
    TViVURIzodorClient* s = Session(h);
    if (s->protocol41()) return rowset::mysql_reset_connection(s);
    return s->change_user(s->user, s->passwd, s->db) ? 0 : 1;
  };
  return t;
}

}  // namespace rowset
