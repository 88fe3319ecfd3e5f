// The entry-point table of the drivers: the 28 functions of the MySQL C
// client interface through which every back end is reached. Handles are
// opaque pointers here (MySQLHandle and MySQLResultHandle in
// drivers/MySQLDrivers.h); this header needs nothing else so that a back
// end with handle types of its own can fill the table.
#ifndef ROWSET_DRIVERS_MYSQLENTRYPOINTS_H_
#define ROWSET_DRIVERS_MYSQLENTRYPOINTS_H_

namespace rowset {

// The 28 entry points, in this order, then two more the datasets need
// (mysql_info for the matched-rows count, mysql_character_set_name for how
// binary values may be written). Each has the arguments and result of
// the MySQL C client function of the same name; the library back ends store
// the library's functions here as they are, the direct back end adapters of
// the built-in client.
struct TMySQLEntryPoints {
  void* (*mysql_init)(void* mysql);  // a new connection handle (mysql nullptr)
  // Sets an option before connecting; 0 on success.
  int (*mysql_options)(void* mysql, int option, const void* arg);
  // Returns the handle on success, nullptr on failure.
  void* (*mysql_real_connect)(void* mysql, const char* host, const char* user,
                              const char* passwd, const char* db,
                              unsigned int port, const char* unix_socket,
                              unsigned long client_flag);
  void (*mysql_close)(void* mysql);  // closes and frees the handle
  unsigned int (*mysql_errno)(void* mysql);  // the last error number; 0 for none
  const char* (*mysql_error)(void* mysql);  // the last error text, owned by the handle
  const char* (*mysql_get_host_info)(void* mysql);  // how the connection was made
  const char* (*mysql_get_client_info)();  // the client's version text
  const char* (*mysql_get_server_info)(void* mysql);  // the server's version text
  unsigned int (*mysql_get_proto_info)(void* mysql);  // the protocol version
  int (*mysql_ping)(void* mysql);  // 0 when the server answers
  unsigned long (*mysql_thread_id)(void* mysql);  // the server's id of the connection
  // Ends the server connection pid; 0 on success.
  int (*mysql_kill)(void* mysql, unsigned long pid);
  int (*mysql_create_db)(void* mysql, const char* db);  // creates a database; 0 on success
  int (*mysql_select_db)(void* mysql, const char* db);  // selects a database; 0 on success
  int (*mysql_drop_db)(void* mysql, const char* db);  // drops a database; 0 on success
  // Sends length bytes of statement; 0 on success.
  int (*mysql_real_query)(void* mysql, const char* q, unsigned long length);
  void* (*mysql_use_result)(void* mysql);  // the unbuffered result; nullptr for none or an error
  void (*mysql_free_result)(void* result);  // reads what is left and frees the result
  unsigned int (*mysql_num_fields)(void* result);  // the result's column count
  unsigned long long (*mysql_num_rows)(void* result);  // rows read so far
  unsigned long* (*mysql_fetch_lengths)(void* result);  // byte lengths of the current row's values
  // The back end's own column description, in the layout of its version.
  const void* (*mysql_fetch_field)(void* result);
  char** (*mysql_fetch_row)(void* result);  // the next row; nullptr at the end or on an error
  // Escapes length bytes at from into to; the escaped length.
  unsigned long (*mysql_real_escape_string)(void* mysql, char* to,
                                            const char* from, unsigned long length);
  unsigned long long (*mysql_insert_id)(void* mysql);  // the last AUTO_INCREMENT value
  int (*mysql_refresh)(void* mysql, unsigned int options);  // flushes server caches; 0 on success
  unsigned long long (*mysql_affected_rows)(void* mysql);  // the last statement's row count
  const char* (*mysql_info)(void* mysql);  // the last statement's info text; nullptr for none
  // The connection's character set name (the client library's view, which
  // follows SET NAMES sent through it).
  const char* (*mysql_character_set_name)(void* mysql);
  // Multiple results (a CALL of a procedure that returns result sets): true
  // when another result follows the current one; mysql_next_result moves to
  // it (0), finds none (-1) or fails (above 0). A back end without them
  // has none: false and -1.
  char (*mysql_more_results)(void* mysql);
  // Moves to the next result: 0, -1 for none, above 0 on failure (above).
  int (*mysql_next_result)(void* mysql);
  // Resets the session (variables, temporary tables, locks, an open
  // transaction) and keeps the login; 0 on success. nullptr where the back
  // end has no such call.
  int (*mysql_reset_connection)(void* mysql);
};

// The table of the built-in wire client: its flat functions behind small
// adapters that turn the opaque handles into its own.
TMySQLEntryPoints ViVURIzodorEntryPoints();

}  // namespace rowset

#endif  // ROWSET_DRIVERS_MYSQLENTRYPOINTS_H_
