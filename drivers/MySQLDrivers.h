// Drivers: the one object through which the connection component, datasets
// and worker threads reach a MySQL server.
//
// `TMySQLBase` holds a table of 28 entry points of the MySQL C client
// interface and wraps each in an operation that loads the back end on
// demand, checks its handle, calls the entry point and turns a failure into
// an `EMySQLError`. The back ends differ only in how the table is filled:
// `TViVURIzodor` binds the built-in wire client, `TMySQLLibrary` and
// `TMySQLEmbedded` look the functions up in a client library or an embedded
// server library loaded at run time. The driver also owns the identifier
// rules (reserved words, back-quoting), string escaping, the client and
// server version numbers and `MySQLError`, which composes every message the
// components raise.
//
// Handles are opaque: a connection handle is what `mysql_init` returned, a
// result handle what `mysql_use_result` returned. A nil handle is never an
// error: each operation then returns its empty value. Results are read
// unbuffered; free one before the next statement on its connection, and
// close every other connection before the main one (closing the main
// connection unloads the driver).
//
// Threads: worker threads open, use and close connections of their own
// through the driver of the main thread. Loading publishes the filled
// entry-point table before the loaded flag; the server version is taken from
// the main connection's own handle; a handle in use by an operation of
// another thread is never closed under it (an unload waits for that
// operation, then closes the handle; the thread's next use of it is refused).
// One connection handle (and its results) must not be used by two threads
// at once.
//
// Where this departs from the plain reading of the interface, for safety:
// - `RetrieveRow` raises through MySQLError when the rows end because of an
//   error (a server error within the rows, a lost connection): the end of a
//   result is only a nil row with error number 0.
// - `EscapeStr` escapes as the main connection's session requires (with
//   NO_BACKSLASH_ESCAPES only `'` is doubled) and keeps every byte the back
//   end wrote, NUL included.
// - The direct back end sends exactly the statement's length, NUL bytes
//   included; the statement is never cut at its first NUL.
// - `ServerVer` of a MariaDB server announcing "5.5.5-10.x..." is that of
//   the real version after the marker, on every back end.
// - A failed `Open` adds the back end's error number and text to the
//   connect message, after the fixed text.
// - `FormatIdentifier` keeps a back-quoted part of a dotted name whole, and
//   doubles back-quotes inside a name it quotes.
// - The destructor closes every connection the driver still holds open.
// - A handle the driver does not hold open is refused (EMySQLError -1).
#ifndef ROWSET_DRIVERS_MYSQLDRIVERS_H_
#define ROWSET_DRIVERS_MYSQLDRIVERS_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <condition_variable>
#include <deque>
#include <map>
#include <set>
#include <thread>
#include <string>
#include <vector>

#include "host/Classes.h"
#include "host/DynLib.h"
#include "host/Exceptions.h"
#include "drivers/MySQLEntryPoints.h"
#include "wire/uMysqlCT.h"
#include "wire/uMysqlNet.h"

namespace rowset {

// Opaque handles: whatever the back end's mysql_init and mysql_use_result
// gave out. (The built-in client's flat interface has its own typed handles,
// ViVURIzodorHandle and ViVURIzodorResultHandle in wire/ViVURIzodor.h.)
using MySQLHandle = void*;
// A result handle: what the back end's mysql_use_result gave out.
using MySQLResultHandle = void*;
// A row: one zero-terminated value per column, nullptr for SQL NULL.
using MySQLRow = char**;
// Byte lengths of the current row's values, one per column.
using MySQLLengths = unsigned long*;

// packet_error, the value by which the client interface signals a failed
// packet read, comes with the wire client's packet layer.

// A column description as the driver hands it to datasets, the same
// whatever the back end (see TMySQLBase::RetrieveField). Texts point into
// the result they came from and stay valid until it is freed.
struct MYSQL_FIELD {
  char* name = nullptr;  // the column's name or alias
  char* org_name = nullptr;  // the column's name in its table
  char* table = nullptr;  // the table's name or alias
  char* org_table = nullptr;  // the table's name
  char* db = nullptr;  // the table's database
  char* catalog = nullptr;  // the catalog ("def")
  char* def = nullptr;  // the default value (field lists only)
  unsigned long length = 0;  // the column's display width
  unsigned long max_length = 0;  // the longest value of a buffered result
  unsigned int name_length = 0;  // bytes of name
  unsigned int org_name_length = 0;  // bytes of org_name
  unsigned int table_length = 0;  // bytes of table
  unsigned int org_table_length = 0;  // bytes of org_table
  unsigned int db_length = 0;  // bytes of db
  unsigned int catalog_length = 0;  // bytes of catalog
  unsigned int def_length = 0;  // bytes of def
  unsigned int flags = 0;  // column flag bits (NOT_NULL_FLAG, PRI_KEY_FLAG, ...)
  unsigned int decimals = 0;  // digits after the decimal point
  unsigned int charsetnr = 0;  // the character set number
  enum_field_types type = 0;  // column type code
};

// The error of the components: the server's or the client's error number
// (-1 when the failure did not come from a connection) and the composed
// message. Beside them, when the failure came from a back end's connection
// (also a failed connect, whose ErrorCode is -1), the back end's own report
// as it stands: its error number, its bare text and the SQLSTATE, so that a
// program can print the error in the form users know from the mysql client.
class EMySQLError : public EDatabaseError {
 public:
  // The error number (-1 for none from a connection) and composed message.
  EMySQLError(int32_t error_code, const std::string& message)
      : EDatabaseError(message), error_code_(error_code) {}
  // The server's or client's error number; -1 when none.
  int32_t ErrorCode() const { return error_code_; }

  // The back end's error number; 0 when the error did not come from one.
  uint32_t ServerErrorCode() const { return server_code_; }
  // The back end's error text alone, without the component's additions.
  const std::string& ServerMessage() const { return server_message_; }
  // The five-character SQLSTATE; empty when the back end gave none (the
  // built-in client under the old protocol gives "HY000").
  const std::string& SqlState() const { return sql_state_; }
  // Whether running the whole transaction again may succeed: a deadlock or
  // a Galera certification failure (1213, also at COMMIT) and a cluster
  // node that is not ready (1047 "WSREP has not yet prepared node for
  // application use"). The transaction was rolled back by the server.
  bool Retryable() const {
    const int64_t code = server_code_ != 0 ? server_code_ : error_code_;
    return code == 1213 || code == 1047;
  }
  // Records the back end's error number, text and SQLSTATE
  // (ServerErrorCode, ServerMessage, SqlState).
  void SetServerError(uint32_t code, const std::string& message, const std::string& sql_state) {
    server_code_ = code;
    server_message_ = message;
    sql_state_ = sql_state;
  }

 private:
  int32_t error_code_;
  uint32_t server_code_ = 0;
  std::string server_message_;
  std::string sql_state_;
};

// Texts of the load and missing-function failures (plain `Exception`s).
extern const char* const kNotImplementedMessage;

// The driver: the entry points of one back end and the checked operations
// over them, with identifier rules, escaping and version numbers, described
// at the top of this header. Made as one of its back ends: TViVURIzodor,
// TMySQLLibrary or TMySQLEmbedded.
class TMySQLBase : public TPersistent {
 public:
  // The option text holds one line name=value each ("connect_timeout",
  // "read_timeout", "write_timeout"; the embedded driver passes every line
  // to the server). TLS: "ssl_mode" (DISABLED, PREFERRED, REQUIRED,
  // VERIFY_CA, VERIFY_IDENTITY), "ssl_ca", "ssl_capath", "ssl_cert",
  // "ssl_key", "ssl_cipher", and "server_public_key" (a PEM file for
  // caching_sha2_password). The direct driver takes them all; the library
  // driver the files, the cipher and VERIFY_IDENTITY (the client library
  // turns TLS on when a file is given); the embedded driver none.
  explicit TMySQLBase(const std::string& options = std::string());
  // Closes every connection it still holds open (the main one last) and
  // unloads.
  ~TMySQLBase() override;

  // A new driver of the same class with the option text `options`.
  virtual std::unique_ptr<TMySQLBase> Create(const std::string& options) const;

  // The version number of a version text: major * 10000 + minor * 100 +
  // patch, so "4.0.18-nt" is 40018. MariaDB announces itself to old clients
  // as "5.5.5-" followed by its real version; when the rest is a version of
  // 10 or higher that version counts ("5.5.5-10.11.19-MariaDB" is 101119).
  static int32_t VersionNumber(const std::string& text);

  // The first connection this driver opened successfully; nullptr when none.
  virtual MySQLHandle GetConnection();
  // Whether the entry-point table is filled; any thread may ask.
  bool Loaded() const { return loaded_.load(std::memory_order_acquire); }
  // The back end's client version number (0 while unloaded).
  int32_t ClientVer() const { return client_ver_; }
  // The version number of the main connection's server (see VersionNumber).
  int32_t ServerVer() const { return server_ver_; }
  // The words FormatIdentifier back-quotes, comma-separated.
  const std::string& ReservedWords() const { return reserved_words_; }
  // The option lines (name=value); owned by the driver.
  TStrings& Options() { return *options_; }
  // As above, read only.
  const TStrings& Options() const { return *options_; }
  // Takes a copy of value as the option lines.
  virtual void SetOptions(const TStrings& value);

  // Fills the entry-point table (reloading when already loaded).
  virtual void Load();
  // Forgets the main connection and marks the driver unloaded.
  virtual void UnLoad();
  // Frees what a loaded client or embedded library keeps for the calling
  // thread (mysql_thread_end). A worker thread that used the driver calls it
  // before it ends; its connections stay usable from other threads. Nothing
  // for the built-in client or an unloaded back end.
  virtual void ThreadEnd() {}

  // The handle's last error number; 0 for none or a nil handle.
  virtual uint32_t ErrorNo(MySQLHandle handle);
  // The handle's last error text; empty for none or a nil handle.
  virtual std::string ErrorMsg(MySQLHandle handle);
  // The SQLSTATE of the handle's last error ("00000" after success); empty
  // for a nil handle or a back end without SQL states.
  std::string SqlState(MySQLHandle handle);
  // Connects; the first successful handle becomes the main connection.
  // Raises the connect message on failure, followed by the back end's error
  // number and text ("\r\n[1045] Access denied ..."); a failed Open never
  // disturbs an existing main connection.
  virtual MySQLHandle Open(const std::string& host, const std::string& user,
                   const std::string& password, int32_t port,
                   int32_t client_flag, const std::string& db);
  // The back end's client version text (as ClientInfo).
  virtual std::string Info();
  // Closes the handle and sets it to nullptr. Closing the main connection
  // unloads the driver. Does nothing (the variable is left) when the driver
  // is not loaded or the handle is not one of its open connections.
  virtual void Close(MySQLHandle& handle);
  // The back end's client version text.
  virtual std::string ClientInfo();
  // How the connection was made; "No server connection" for a nil handle.
  virtual std::string HostInfo(MySQLHandle handle);
  // "-1" for a nil handle or an unloaded driver.
  virtual std::string ServerInfo(MySQLHandle handle);
  // The protocol version of the connection; 0 for a nil handle.
  virtual uint32_t ProtoInfo(MySQLHandle handle);
  // True when the server answers; raises when it does not; false for a nil
  // handle.
  virtual bool Ping(MySQLHandle handle);
  // The server's id of the connection (what KILL takes); 0 for a nil handle
  // and where the back end keeps none (the embedded server).
  virtual uint32_t ThreadID(MySQLHandle handle);
  // Ends the server connection pid (mysql_kill); raises on failure.
  virtual void Kill(MySQLHandle handle, uint32_t pid);
  // Creates the database name (mysql_create_db); raises on failure; false
  // for a nil handle.
  virtual bool CreateDatabase(MySQLHandle handle, const std::string& name);
  // Selects the database name; raises on failure; false for a nil handle.
  virtual bool SelectDatabase(MySQLHandle handle, const std::string& name);
  // Drops the database name (mysql_drop_db); raises on failure; false for a
  // nil handle.
  virtual bool DropDatabase(MySQLHandle handle, const std::string& name);
  // Sends the statement (all of its bytes); returns its unbuffered result,
  // or nullptr for a statement without one. Raises when the statement fails,
  // also when the failure shows only as a missing result.
  virtual MySQLResultHandle OpenQuery(MySQLHandle handle, const std::string& sql);
  // Frees the result. A result whose library was released since (the main
  // connection closed) was freed then and is only forgotten.
  virtual void CloseQuery(MySQLResultHandle& result);
  // The result's column count; 0 for a nil result.
  virtual uint32_t RetrieveColCount(MySQLResultHandle result);
  // Rows read from the result so far; 0 for a nil result.
  virtual uint64_t RetrieveRowCount(MySQLResultHandle result);
  // Reads the next column description into `field`, converted from the back
  // end's layout. Writes name, org_name, table, org_table, db, def, length,
  // max_length, flags, decimals, type and (4.1.1 layout) charsetnr as the
  // back end's version has them;
  // the other members keep what `field` held. Past the last column only
  // `name` is written (an empty text). A nil result writes nothing.
  virtual void RetrieveField(MySQLResultHandle result, MYSQL_FIELD& field);
  // As above, into an empty description.
  MYSQL_FIELD RetrieveField(MySQLResultHandle result);
  // The next row; nullptr at the end of the rows. Raises through MySQLError
  // when the rows ended because of an error (the back end's error number of
  // the result's connection is not 0).
  virtual MySQLRow RetrieveRow(MySQLResultHandle result);
  // Byte lengths of the current row's values, valid until the next row;
  // nullptr for a nil result.
  virtual MySQLLengths RetrieveRowFieldLenghts(MySQLResultHandle result);
  // RetrieveRow and RetrieveRowFieldLenghts in one step, for a reader of
  // many rows: the result is checked and marked in use once. Lengths is
  // nullptr when there is no row.
  MySQLRow RetrieveRowWithLengths(MySQLResultHandle result, MySQLLengths& lengths);
  // Escapes for the main connection (without one, by the built-in rule),
  // keeping every byte the back end wrote (NUL included).
  virtual std::string EscapeStr(const std::string& s);
  // Back-quotes the name where the identifier rules require it. Each part
  // of a dotted name is treated by itself; a back-quoted run is one part,
  // kept as it is.
  virtual std::string FormatIdentifier(const std::string& s);
  // Whether s is one of ReservedWords (letter case ignored).
  virtual bool IsReservedWord(const std::string& s) const;
  // The last AUTO_INCREMENT value, as decimal text; empty for a nil handle.
  virtual std::string LastInsertID(MySQLHandle handle);
  // The last statement's row count as decimal text, "-1" when it had none
  // (a select); empty for a nil handle.
  virtual std::string AffectedRows(MySQLHandle handle);
  // The info text of the last statement ("Rows matched: 1  Changed: 0
  // Warnings: 0" after an UPDATE); empty when there is none.
  virtual std::string StatementInfo(MySQLHandle handle);
  // The character set of the main connection as its back end knows it
  // ("utf8mb4"); empty without a main connection.
  virtual std::string CharacterSetName();
  // Flushes the server caches named by options (mysql_refresh); raises on
  // failure; false for a nil handle.
  virtual bool Refresh(MySQLHandle handle, int32_t options);

  // Resets the connection's session: session variables, user variables,
  // temporary tables, locks and an open transaction (rolled back) go, the
  // login and the connection stay. The library and embedded back ends send
  // mysql_reset_connection, as does the built-in client on the 4.1
  // protocol (it names its character set again when the reset dropped it);
  // on the old protocol it logs in again with the same account and database
  // (a change of user to itself), which the server answers with a fresh
  // session too. On the library and embedded back ends the character set
  // returns to the login's: set it again where it matters. Raises on failure (the
  // connection is then best closed) and where the back end has no way to
  // reset; nothing for a nil handle.
  virtual void ResetConnection(MySQLHandle handle);

  // Watches the default database of a connection for a pool that gives the
  // connection back reset (a reset keeps the database the borrower chose).
  // From now on the driver marks the connection whenever something sent on
  // it could have changed that database: SelectDatabase, DropDatabase, or a
  // statement with one of the words USE, EXECUTE, CALL, DATABASE or SCHEMA
  // anywhere in its text (a word in a string or comment marks it too: a mark
  // too many only costs the pool one selection). Forgotten when the
  // connection closes; nothing for a nil handle.
  void WatchDatabase(MySQLHandle handle);
  // Whether the watched connection was marked since the last call; clears
  // the mark. True for a connection that is not watched.
  bool TakeDatabaseMark(MySQLHandle handle);

  // Multiple results. A statement may answer with several results (a CALL
  // of a procedure that returns result sets answers with each of them and a
  // final count); every back end asks for them at connect (the built-in
  // client on the 4.1 protocol; on the old one the server refuses such a
  // CALL with 1312). MoreResults tells whether another result follows the
  // last one OpenQuery or NextResult gave (free that one first); NextResult
  // moves to it and returns it as OpenQuery would (nullptr for a count:
  // AffectedRows and LastInsertID then give it), raising the server's
  // error when that result failed. Results nobody asked for are read and
  // dropped before the next statement on the connection (OpenQuery,
  // SelectDatabase); an error among them is raised there.
  virtual bool MoreResults(MySQLHandle handle);
  // Moves to the next result and returns it (see MoreResults).
  virtual MySQLResultHandle NextResult(MySQLHandle handle);

 protected:
  // Fills the table. The base only resets ClientVer.
  virtual void Bind();
  // Stores in `proc` the function exported as `name`, or a stub that raises
  // kNotImplementedMessage when the module has none.
  template <typename F>
  static void BindProc(F& proc, const TDynLib& module, const char* name);
  // Called by Open between mysql_init and mysql_real_connect.
  virtual void PrepareConnection(MySQLHandle handle) {}
  // The version whose layout RetrieveField reads the back end's column
  // descriptions in: ClientVer, unless a back end knows better.
  virtual int32_t FieldLayoutVer() const { return client_ver_; }
  // Every entry a stub that raises kNotImplementedMessage.
  static TMySQLEntryPoints StubTable();
  // Set by back ends whose unload closes the connections still open (their
  // memory goes with the library): result operations then hold the result
  // so that an unload on another thread waits for them.
  void SetGuardResults(bool value) { guard_results_ = value; }

  // Held while loading or unloading (re-entrant).
  std::recursive_mutex& LoadMutex() { return load_mutex_; }
  // Store true only after the table is filled (release).
  void SetLoaded(bool value) { loaded_.store(value, std::memory_order_release); }
  void SetConnectionField(MySQLHandle value) { connection_ = value; }
  void SetClientVer(int32_t value) { client_ver_ = value; }
  void SetServerVer(int32_t value) { server_ver_ = value; }
  // Handles opened through this driver and not yet closed.
  bool KnowsHandle(MySQLHandle handle) const;
  // Forgets every open handle and result, freeing and closing each through
  // the back end first (used before a library is released under them).
  // Waits for operations of other threads that are using a handle or a
  // result, or opening a handle, to end first.
  void CloseOrphans();

  TMySQLEntryPoints api_;
  // mysql_sqlstate of a back end that has it (not one of the 28 entry
  // points); nullptr otherwise. Set and cleared with the table.
  const char* (*mysql_sqlstate_)(void* mysql) = nullptr;

 private:
  void CheckLoaded() {
    if (!loaded_.load(std::memory_order_acquire)) {
      std::lock_guard<std::recursive_mutex> lock(load_mutex_);
      if (!loaded_.load(std::memory_order_acquire)) Load();
    }
  }
  // Marks a known handle as in use for the life of the guard; raises for a
  // non-nil handle this driver does not hold open.
  class HandleUse {
   public:
    HandleUse(const TMySQLBase& driver, MySQLHandle handle);
    ~HandleUse();
    HandleUse(const HandleUse&) = delete;
    HandleUse& operator=(const HandleUse&) = delete;

   private:
    const TMySQLBase& driver_;
    MySQLHandle handle_;
  };
  struct ResultEntry;
  // Marks a result as being read for the life of the guard, where an unload
  // closes connections (and so results) under other threads; raises for a
  // result this driver did not open or whose back end has been released.
  class ResultUse {
   public:
    ResultUse(const TMySQLBase& driver, MySQLResultHandle result);
    ~ResultUse();
    ResultUse(const ResultUse&) = delete;
    ResultUse& operator=(const ResultUse&) = delete;

   private:
    // Lowers the entry's busy count, waking a waiting closer at 0.
    void Release(ResultEntry* entry);
    const TMySQLBase& driver_;
    // The result's entry while it is marked; entries are not erased while
    // marked (see results_).
    ResultEntry* entry_ = nullptr;
  };
  // The connection a result came from; nullptr when unknown.
  MySQLHandle ResultConnection(MySQLResultHandle result) const;
  // Raises through MySQLError when `status` is not 0.
  void Check(MySQLHandle handle, int status);
  // The result the back end has after a statement or mysql_next_result,
  // registered; nullptr for a count. Raises the back end's error.
  MySQLResultHandle TakeResult(MySQLHandle handle);
  // Reads and drops the results still pending on the connection.
  void DropPendingResults(MySQLHandle handle);

  // Worker threads open and close their own connections through the
  // driver of the main thread: the state is atomic, and loading, unloading
  // and the choice of the main connection are serialised.
  std::atomic<MySQLHandle> connection_{nullptr};
  std::atomic<bool> loaded_{false};
  std::atomic<int32_t> client_ver_{0};
  std::atomic<int32_t> server_ver_{0};
  std::recursive_mutex load_mutex_;
  std::string reserved_words_;
  std::unique_ptr<TStringList> options_;
  // Open handles with the threads whose operations are using each; the
  // threads with an open under way; results with their connection. All under
  // handles_mutex_. Waits skip the waiting thread's own uses.
  mutable std::mutex handles_mutex_;
  mutable std::condition_variable handles_idle_;
  mutable std::map<MySQLHandle, std::multiset<std::thread::id>> handles_;
  std::multiset<std::thread::id> opening_;
  bool closing_ = false;
  bool guard_results_ = false;
  struct ResultEntry {
    // The result it stands for; nullptr once the result is being closed or
    // the entry is free. A reader that raised busy without the lock checks
    // it afterwards; a closer clears it before it tests busy.
    std::atomic<MySQLResultHandle> result{nullptr};
    MySQLHandle connection = nullptr;
    // Operations reading it now. Raised under handles_mutex_, or without it
    // by a thread's reader of the same result as its last one (then checked
    // against result); lowered without it (once per row read), so that a
    // waiter for it counts itself in result_waiters_ first and the reader
    // wakes it only then.
    std::atomic<int> busy{0};
  };
  // An entry stays where it is until no operation reads it: CloseQuery and
  // CloseOrphans wait for that before erasing. Entries live in entries_ for
  // the driver's life and are reused through free_entries_, so that a
  // thread's remembered entry is never freed memory.
  mutable std::map<MySQLResultHandle, ResultEntry*> results_;
  std::deque<ResultEntry> entries_;
  std::vector<ResultEntry*> free_entries_;
  // Tells drivers apart in the threads' memory of their last result, where
  // an address could be reused by a later driver.
  const uint64_t id_;
  // Takes the result's entry off the map and frees it for reuse
  // (REQUIRES handles_mutex_).
  void ForgetResult(MySQLResultHandle result);
  // Watched connections with their marks (see WatchDatabase), under
  // handles_mutex_; the count spares unwatched statements the lookup.
  std::map<MySQLHandle, bool> watched_;
  std::atomic<int> watched_count_{0};
  // Marks a watched connection (REQUIRES no handles_mutex_).
  void MarkDatabase(MySQLHandle handle);
  // Threads waiting (under handles_mutex_) for a result's reads to end.
  mutable std::atomic<int> result_waiters_{0};
};

// The driver of the built-in wire client. It reports client version
// 3.23.38 and hands out column descriptions in the 4.1 layout (under the old
// protocol without original names); its connections outlive an unload of
// the driver (nothing is released). It speaks the 4.1 protocol with servers
// that offer it; the option line "old_protocol=1" (or the client flag
// CLIENT_PROTOCOL_323 given to Open) keeps the old one.
class TViVURIzodor : public TMySQLBase {
 public:
  // A driver with the option text options, not loaded yet.
  explicit TViVURIzodor(const std::string& options = std::string())
      : TMySQLBase(options) {}
  std::unique_ptr<TMySQLBase> Create(const std::string& options) const override;

 protected:
  void Bind() override;
  int32_t FieldLayoutVer() const override;
  void PrepareConnection(MySQLHandle handle) override;
};

// The driver of a MySQL client library loaded at run time.
class TMySQLLibrary : public TMySQLBase {
 public:
  // A driver with the option text options, not loaded yet.
  explicit TMySQLLibrary(const std::string& options = std::string());
  // Closes its connections and releases the library.
  ~TMySQLLibrary() override;
  std::unique_ptr<TMySQLBase> Create(const std::string& options) const override;

  // The library file to load; empty means the default of the class.
  const std::string& ClientDLL() const { return client_dll_; }
  // Sets ClientDLL for the next load.
  void SetClientDLL(const std::string& value) { client_dll_ = value; }
  // ClientDLL, or the default name when it is empty.
  virtual std::string GetClientDLL() const;

  // Loads the library; raises a plain Exception (and stays unloaded) when
  // it cannot be loaded.
  void Load() override;
  // Releases the library. Connections still open through it are closed
  // first, since their memory belongs to the library.
  void UnLoad() override;
  void ThreadEnd() override;
  // Connects asking also for multiple results (CLIENT_MULTI_RESULTS), so
  // that a CALL of a procedure returning result sets is answered.
  MySQLHandle Open(const std::string& host, const std::string& user,
                   const std::string& password, int32_t port,
                   int32_t client_flag, const std::string& db) override;

 protected:
  void Bind() override;
  virtual std::string DefaultLibraryName() const;
  // MariaDB Connector/C reports its own release number (3.x) as client
  // version, yet lays out column descriptions as every client from 4.1.1
  // on; it is known by its mariadb_* functions.
  int32_t FieldLayoutVer() const override;
  // Passes the TLS option lines the client library knows.
  void PrepareConnection(MySQLHandle handle) override;

  TDynLib library_;
  bool connector_c_ = false;
  void (*mysql_thread_end_)() = nullptr;  // under LoadMutex()

 private:
  std::string client_dll_;
};

// The driver of the embedded server library: loading it starts a MySQL
// server inside the process. The library cannot restart its server once
// ended, so the server started by the first load runs until the process
// exits (it is ended then); later loads of the same library reuse it and
// unloading leaves it running. A load whose option lines differ from those
// the running server started with raises an EMySQLError (-1).
class TMySQLEmbedded : public TMySQLLibrary {
 public:
  // A driver with the option lines options (the server's arguments), not
  // loaded yet.
  explicit TMySQLEmbedded(const std::string& options = std::string());
  std::unique_ptr<TMySQLBase> Create(const std::string& options) const override;

  void Load() override;
  void UnLoad() override;

  // The argument vector the server is started with: the executable path,
  // then "--" + each option line.
  std::vector<std::string> ServerArguments() const;
  // The option-file groups the server reads.
  static std::vector<std::string> ServerGroups();

 protected:
  void Bind() override;
  std::string DefaultLibraryName() const override;
  void PrepareConnection(MySQLHandle handle) override;

 private:
  int (*mysql_server_init_)(int argc, char** argv, char** groups) = nullptr;
  void (*mysql_server_end_)() = nullptr;
};

// Composes the message of a component error and raises it as EMySQLError.
// With a driver, the versions are its client text and the server text of
// its main connection; the error number and server text come from `handle`
// when given, else from the driver's main connection, else `err_no` and
// `msg` alone. Callers pass -1 for `server_ver` and `client_ver`.
[[noreturn]] void MySQLError(TMySQLBase* driver, MySQLHandle handle,
                             int32_t err_no, const std::string& msg,
                             int32_t server_ver, int32_t client_ver);

// ---------------------------------------------------------------------------

namespace drivers_internal {
[[noreturn]] void RaiseNotImplemented();

template <typename F>
struct Stub;
template <typename R, typename... A>
struct Stub<R (*)(A...)> {
  static R Call(A...) { RaiseNotImplemented(); }
};
}  // namespace drivers_internal

template <typename F>
void TMySQLBase::BindProc(F& proc, const TDynLib& module, const char* name) {
  void* address = module.Symbol(name);
  if (address != nullptr) {
    proc = reinterpret_cast<F>(address);
  } else {
    proc = &drivers_internal::Stub<F>::Call;
  }
}

}  // namespace rowset

#endif  // ROWSET_DRIVERS_MYSQLDRIVERS_H_
