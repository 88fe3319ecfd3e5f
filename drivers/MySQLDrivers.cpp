#include "drivers/MySQLDrivers.h"

#include <charconv>
#include <cstring>
#include <iterator>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "drivers/DriverText.h"

namespace rowset {

const char* const kNotImplementedMessage =
    "This MySQL API call is not implemented in the library you are using.  "
    "Please update your library, or contact its supplier for a version that "
    "offers it.";

namespace drivers_internal {
void RaiseNotImplemented() { throw Exception(kNotImplementedMessage); }
}  // namespace drivers_internal

namespace {

// Whether a statement could change the session's default database: it has
// one of the words USE, EXECUTE (of a prepared USE), CALL (a procedure may
// run one), DATABASE or SCHEMA (one dropped) in any letter case. Words in
// strings and comments count too; they only cost a needless selection.
bool MayChangeDatabase(std::string_view sql) {
  auto word_char = [](unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '_' || c == '$' || c >= 0x80;
  };
  static constexpr std::string_view kWords[] = {"use", "execute", "call", "database", "schema"};
  const size_t n = sql.size();
  size_t i = 0;
  while (i < n) {
    if (!word_char(static_cast<unsigned char>(sql[i]))) {
      ++i;
      continue;
    }
    const size_t start = i;
    while (i < n && word_char(static_cast<unsigned char>(sql[i]))) ++i;
    const size_t length = i - start;
    if (length < 3 || length > 8) continue;
    for (std::string_view word : kWords) {
      if (word.size() != length) continue;
      size_t k = 0;
      while (k < length && (static_cast<unsigned char>(sql[start + k]) | 0x20) == word[k]) ++k;
      if (k == length) return true;
    }
  }
  return false;
}

// Option numbers of mysql_options that the driver passes.
constexpr int kOptConnectTimeout = 0;
constexpr int kOptReadTimeout = 11;
constexpr int kOptWriteTimeout = 12;

const char* const kReservedWords[] = {
    "ACTION", "ADD", "ALL", "ALTER", "ANALYZE", "AND", "AS", "ASC",
    "ASENSITIVE", "AUTO_INCREMENT", "BDB", "BEFORE", "BERKELEYDB", "BETWEEN",
    "BIGINT", "BINARY", "BIT", "BLOB", "BOTH", "BY", "CALL", "CASCADE", "CASE",
    "CHANGE", "CHAR", "CHARACTER", "CHECK", "COLLATE", "COLUMN", "COLUMNS",
    "CONDITION", "CONNECTION", "CONSTRAINT", "CONTINUE", "CREATE", "CROSS",
    "CURRENT_DATE", "CURRENT_TIME", "CURRENT_TIMESTAMP", "CURSOR", "DATABASE",
    "DATABASES", "DATE", "DAY_HOUR", "DAY_MICROSECOND", "DAY_MINUTE",
    "DAY_SECOND", "DEC", "DECIMAL", "DECLARE", "DEFAULT", "DELAYED", "DELETE",
    "DESC", "DESCRIBE", "DETERMINISTIC", "DISTINCT", "DISTINCTROW", "DIV",
    "DOUBLE", "DROP", "ELSE", "ELSEIF", "ENCLOSED", "ENUM", "ESCAPED",
    "EXISTS", "EXIT", "EXPLAIN", "FALSE", "FETCH", "FIELDS", "FLOAT", "FOR",
    "FORCE", "FOREIGN", "FOUND", "FRAC_SECOND", "FROM", "FULLTEXT", "GRANT",
    "GROUP", "HAVING", "HIGH_PRIORITY", "HOUR_MICROSECOND", "HOUR_MINUTE",
    "HOUR_SECOND", "IF", "IGNORE", "IN", "INDEX", "INFILE", "INNER", "INNODB",
    "INOUT", "INSENSITIVE", "INSERT", "INT", "INTEGER", "INTERVAL", "INTO",
    "IO_THREAD", "IS", "ITERATE", "JOIN", "KEY", "KEYS", "KILL", "LEADING",
    "LEAVE", "LEFT", "LIKE", "LIMIT", "LINES", "LOAD", "LOCALTIME",
    "LOCALTIMESTAMP", "LOCK", "LONG", "LONGBLOB", "LONGTEXT", "LOOP",
    "LOW_PRIORITY", "MASTER_SERVER_ID", "MATCH", "MEDIUMBLOB", "MEDIUMINT",
    "MEDIUMTEXT", "MIDDLEINT", "MINUTE_MICROSECOND", "MINUTE_SECOND", "MOD",
    "NATURAL", "NOT", "NO", "NO_WRITE_TO_BINLOG", "NULL", "NUMERIC", "ON",
    "OPTIMIZE", "OPTION", "OPTIONALLY", "OR", "ORDER", "OUT", "OUTER",
    "OUTFILE", "PRECISION", "PRIMARY", "PRIVILEGES", "PROCEDURE", "PURGE",
    "READ", "REAL", "REFERENCES", "REGEXP", "RENAME", "REPEAT", "REPLACE",
    "REQUIRE", "RESTRICT", "RETURN", "REVOKE", "RIGHT", "RLIKE",
    "SECOND_MICROSECOND", "SELECT", "SENSITIVE", "SEPARATOR", "SET", "SHOW",
    "SMALLINT", "SOME", "SONAME", "SPATIAL", "SPECIFIC", "SQL", "SQLEXCEPTION",
    "SQLSTATE", "SQLWARNING", "SQL_BIG_RESULT", "SQL_CALC_FOUND_ROWS",
    "SQL_SMALL_RESULT", "SQL_TSI_DAY", "SQL_TSI_FRAC_SECOND", "SQL_TSI_HOUR",
    "SQL_TSI_MINUTE", "SQL_TSI_MONTH", "SQL_TSI_QUARTER", "SQL_TSI_SECOND",
    "SQL_TSI_WEEK", "SQL_TSI_YEAR", "SSL", "STARTING", "STRAIGHT_JOIN",
    "STRIPED", "TABLE", "TABLES", "TERMINATED", "TEXT", "THEN", "TIME",
    "TIMESTAMP", "TIMESTAMPADD", "TIMESTAMPDIFF", "TINYBLOB", "TINYINT",
    "TINYTEXT", "TO", "TRAILING", "TRUE", "TYPE", "UNDO", "UNION", "UNIQUE",
    "UNLOCK", "UNSIGNED", "UPDATE", "USAGE", "USE", "USER_RESOURCES", "USING",
    "UTC_DATE", "UTC_TIME", "UTC_TIMESTAMP", "VALUES", "VARBINARY", "VARCHAR",
    "VARCHARACTER", "VARYING", "WHEN", "WHERE", "WHILE", "WITH", "WRITE",
    "XOR", "YEAR_MONTH", "ZEROFILL"};

std::string BuildReservedWords() {
  std::string text = ",";
  for (const char* word : kReservedWords) {
    text += word;
    text += ',';
  }
  return text;
}

// Column description layouts of the client libraries by version class, as
// they lie in memory on this platform.
struct Field323 {  // 3.23
  char* name;
  char* table;
  char* def;
  // An enum in the C library, one byte in the built-in client: only the
  // first (low) byte is read either way.
  uint8_t type;
  unsigned int length;
  unsigned int max_length;
  unsigned int flags;
  unsigned int decimals;
};

struct Field40 {  // 4.0
  char* name;
  char* table;
  char* org_table;
  char* db;
  char* def;
  unsigned long length;
  unsigned long max_length;
  unsigned int flags;
  unsigned int decimals;
  int type;
};

struct Field410 {  // 4.1.0
  char* name;
  char* org_name;
  char* table;
  char* org_table;
  char* db;
  char* def;
  unsigned long length;
  unsigned long max_length;
  unsigned int name_length;
  unsigned int org_name_length;
  unsigned int table_length;
  unsigned int org_table_length;
  unsigned int db_length;
  unsigned int def_length;
  unsigned int flags;
  unsigned int decimals;
  unsigned int charsetnr;
  int type;
};

struct Field411 {  // 4.1.1 and later (MariaDB Connector/C, libmariadbd)
  char* name;
  char* org_name;
  char* table;
  char* org_table;
  char* db;
  char* catalog;
  char* def;
  unsigned long length;
  unsigned long max_length;
  unsigned int name_length;
  unsigned int org_name_length;
  unsigned int table_length;
  unsigned int org_table_length;
  unsigned int db_length;
  unsigned int catalog_length;
  unsigned int def_length;
  unsigned int flags;
  unsigned int decimals;
  unsigned int charsetnr;
  int type;
  void* extension;
};

uint8_t LowByte(int type) { return static_cast<uint8_t>(type & 0xFF); }

// The timeout options the driver passes to every new connection.
struct TimeoutOption {
  const char* name;
  int option;
  int fallback;
};
constexpr TimeoutOption kTimeouts[] = {
    {"connect_timeout", kOptConnectTimeout, 60},
    {"read_timeout", kOptReadTimeout, 300},
    {"write_timeout", kOptWriteTimeout, 300},
};

bool IsIdentifierChar(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
         (c >= 'a' && c <= 'z') || c == '_';
}

// Encloses a name in back-quotes, doubling any back-quote inside, so that
// no name can end the quoting early.
std::string BackQuote(const std::string& s) {
  std::string result = "`";
  for (char c : s) {
    result += c;
    if (c == '`') result += '`';
  }
  result += '`';
  return result;
}

uint64_t NextDriverId() {
  static std::atomic<uint64_t> next{1};
  return next.fetch_add(1);
}

}  // namespace

// ---------------------------------------------------------------------------
// TMySQLBase

TMySQLBase::TMySQLBase(const std::string& options)
    : api_(StubTable()),
      reserved_words_(BuildReservedWords()),
      options_(std::make_unique<TStringList>()),
      id_(NextDriverId()) {
  options_->SetText(options);
}

TMySQLBase::~TMySQLBase() {
  // Derived drivers release their back end in their own destructors; what is
  // left here are the built-in client's connections, which outlive an
  // unload: every one still open is closed, the main one last.
  try {
    MySQLHandle main = connection_;
    std::vector<MySQLHandle> others;
    {
      std::lock_guard<std::mutex> lock(handles_mutex_);
      for (const auto& [h, users] : handles_)
        if (h != main) others.push_back(h);
    }
    for (MySQLHandle h : others) Close(h);
    if (main != nullptr && KnowsHandle(main)) Close(main);
    if (loaded_) TMySQLBase::UnLoad();
  } catch (...) {
  }
}

std::unique_ptr<TMySQLBase> TMySQLBase::Create(const std::string& options) const {
  return std::make_unique<TMySQLBase>(options);
}

std::unique_ptr<TMySQLBase> TViVURIzodor::Create(const std::string& options) const {
  return std::make_unique<TViVURIzodor>(options);
}

TMySQLEntryPoints TMySQLBase::StubTable() {
  using drivers_internal::Stub;
  TMySQLEntryPoints t;
#define ROWSET_STUB(f) t.f = &Stub<decltype(t.f)>::Call
  ROWSET_STUB(mysql_init);
  ROWSET_STUB(mysql_options);
  ROWSET_STUB(mysql_real_connect);
  ROWSET_STUB(mysql_close);
  ROWSET_STUB(mysql_errno);
  ROWSET_STUB(mysql_error);
  ROWSET_STUB(mysql_get_host_info);
  ROWSET_STUB(mysql_get_client_info);
  ROWSET_STUB(mysql_get_server_info);
  ROWSET_STUB(mysql_get_proto_info);
  ROWSET_STUB(mysql_ping);
  ROWSET_STUB(mysql_thread_id);
  ROWSET_STUB(mysql_kill);
  ROWSET_STUB(mysql_create_db);
  ROWSET_STUB(mysql_select_db);
  ROWSET_STUB(mysql_drop_db);
  ROWSET_STUB(mysql_real_query);
  ROWSET_STUB(mysql_use_result);
  ROWSET_STUB(mysql_free_result);
  ROWSET_STUB(mysql_num_fields);
  ROWSET_STUB(mysql_num_rows);
  ROWSET_STUB(mysql_fetch_lengths);
  ROWSET_STUB(mysql_fetch_field);
  ROWSET_STUB(mysql_fetch_row);
  ROWSET_STUB(mysql_real_escape_string);
  ROWSET_STUB(mysql_insert_id);
  ROWSET_STUB(mysql_refresh);
  ROWSET_STUB(mysql_affected_rows);
  ROWSET_STUB(mysql_info);
  ROWSET_STUB(mysql_character_set_name);
  ROWSET_STUB(mysql_more_results);
  ROWSET_STUB(mysql_next_result);
  t.mysql_reset_connection = nullptr;
#undef ROWSET_STUB
  return t;
}

int32_t TMySQLBase::VersionNumber(const std::string& text) {
  // MariaDB's marker for old clients: the real version follows it.
  static const std::string kMariaDBMarker = "5.5.5-";
  if (text.compare(0, kMariaDBMarker.size(), kMariaDBMarker) == 0) {
    std::string rest = text.substr(kMariaDBMarker.size());
    int32_t real = VersionNumber(rest);
    if (!rest.empty() && rest[0] >= '0' && rest[0] <= '9' && real >= 100000) return real;
  }
  static const std::string kSeparators = ".- ";
  static const std::string kPatchSeparators =
      ".- ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  int32_t major = drivers_text::StrToIntDef(drivers_text::Word(1, text, kSeparators), 3);
  int32_t minor = drivers_text::StrToIntDef(drivers_text::Word(2, text, kSeparators), 21);
  int32_t patch = drivers_text::StrToIntDef(drivers_text::Word(3, text, kPatchSeparators), 0);
  // Wraps like the 32-bit arithmetic it stands for instead of overflowing.
  return static_cast<int32_t>(static_cast<uint32_t>(major) * 10000u +
                              static_cast<uint32_t>(minor) * 100u +
                              static_cast<uint32_t>(patch));
}

MySQLHandle TMySQLBase::GetConnection() { return connection_; }

void TMySQLBase::SetOptions(const TStrings& value) {
  auto copy = std::make_unique<TStringList>();
  copy->SetText(value.Text());
  options_ = std::move(copy);
}

void TMySQLBase::Load() {
  std::lock_guard<std::recursive_mutex> lock(load_mutex_);
  if (loaded_) UnLoad();
  // Other threads read the table once they see the flag: fill it first.
  Bind();
  SetLoaded(true);
}

void TMySQLBase::UnLoad() {
  std::lock_guard<std::recursive_mutex> lock(load_mutex_);
  if (loaded_) {
    loaded_ = false;
    connection_ = nullptr;
    client_ver_ = 0;
  }
}

void TMySQLBase::Bind() { client_ver_ = 0; }

bool TMySQLBase::KnowsHandle(MySQLHandle handle) const {
  std::lock_guard<std::mutex> lock(handles_mutex_);
  return handles_.count(handle) != 0;
}

TMySQLBase::HandleUse::HandleUse(const TMySQLBase& driver, MySQLHandle handle)
    : driver_(driver), handle_(handle) {
  std::lock_guard<std::mutex> lock(driver_.handles_mutex_);
  auto it = driver_.handles_.find(handle);
  if (it == driver_.handles_.end()) {
    throw EMySQLError(-1,
                      "Invalid connection handle: it was not opened by this "
                      "driver or has been closed.");
  }
  it->second.insert(std::this_thread::get_id());
}

namespace {
// The result a thread read last, with its entry: a row loop reads the same
// result again and again, and finds it here without the driver's lock.
struct LastResultUse {
  uint64_t driver = 0;
  MySQLResultHandle result = nullptr;
  void* entry = nullptr;
};
thread_local LastResultUse t_last_result;
}  // namespace

TMySQLBase::ResultUse::ResultUse(const TMySQLBase& driver, MySQLResultHandle result)
    : driver_(driver) {
  if (!driver_.guard_results_) return;
  LastResultUse& last = t_last_result;
  if (last.driver == driver_.id_ && last.result == result) {
    // Raise busy first, then check that the entry still stands for the
    // result: a closer clears it before it tests busy (both sequentially
    // consistent), so either this sees the clearing or the closer waits.
    auto* entry = static_cast<ResultEntry*>(last.entry);
    entry->busy.fetch_add(1);
    if (entry->result.load() == result) {
      entry_ = entry;
      return;
    }
    Release(entry);
  }
  std::lock_guard<std::mutex> lock(driver_.handles_mutex_);
  auto it = driver_.results_.find(result);
  if (it == driver_.results_.end()) {
    throw EMySQLError(-1,
                      "Invalid result handle: it was not opened by this driver or has "
                      "been freed.");
  }
  it->second->busy.fetch_add(1);
  entry_ = it->second;
  last = LastResultUse{driver_.id_, result, entry_};
}

TMySQLBase::ResultUse::~ResultUse() {
  if (entry_ != nullptr) Release(entry_);
}

void TMySQLBase::ResultUse::Release(ResultEntry* entry) {
  // Once per row read: no lock unless a thread waits for the reads to end.
  // The waiter counts itself before it tests busy (both sequentially
  // consistent), so either it sees 0 or this sees it; locking before the
  // notification makes sure it is asleep in the wait by then.
  if (entry->busy.fetch_sub(1) == 1 && driver_.result_waiters_.load() > 0) {
    std::lock_guard<std::mutex> lock(driver_.handles_mutex_);
    driver_.handles_idle_.notify_all();
  }
}

TMySQLBase::HandleUse::~HandleUse() {
  std::lock_guard<std::mutex> lock(driver_.handles_mutex_);
  auto it = driver_.handles_.find(handle_);
  if (it == driver_.handles_.end()) return;
  auto user = it->second.find(std::this_thread::get_id());
  if (user != it->second.end()) it->second.erase(user);
  driver_.handles_idle_.notify_all();
}

namespace {
// True when a thread other than the calling one is among `users`.
bool OtherThreadIn(const std::multiset<std::thread::id>& users) {
  const std::thread::id self = std::this_thread::get_id();
  for (const std::thread::id& id : users)
    if (id != self) return true;
  return false;
}
}  // namespace

MySQLHandle TMySQLBase::ResultConnection(MySQLResultHandle result) const {
  std::lock_guard<std::mutex> lock(handles_mutex_);
  auto it = results_.find(result);
  return it == results_.end() ? nullptr : it->second->connection;
}

void TMySQLBase::ForgetResult(MySQLResultHandle result) {
  auto it = results_.find(result);
  if (it == results_.end()) return;
  it->second->result.store(nullptr);
  free_entries_.push_back(it->second);
  results_.erase(it);
}

void TMySQLBase::CloseOrphans() {
  std::map<MySQLHandle, std::multiset<std::thread::id>> orphans;
  std::vector<MySQLResultHandle> orphan_results;
  {
    std::unique_lock<std::mutex> lock(handles_mutex_);
    // No new open starts, and none of the handles is closed while another
    // thread's operation is using it. Readers that skip the lock see the
    // entries cleared and take the lock instead.
    closing_ = true;
    for (const auto& [r, entry] : results_) entry->result.store(nullptr);
    result_waiters_.fetch_add(1);
    handles_idle_.wait(lock, [this] {
      if (OtherThreadIn(opening_)) return false;
      for (const auto& [h, users] : handles_)
        if (OtherThreadIn(users)) return false;
      for (const auto& [r, entry] : results_)
        if (entry->busy.load() > 0) return false;
      return true;
    });
    result_waiters_.fetch_sub(1);
    orphans.swap(handles_);
    watched_.clear();
    watched_count_ = 0;
    for (const auto& [r, entry] : results_) {
      orphan_results.push_back(r);
      free_entries_.push_back(entry);
    }
    results_.clear();
  }
  // Results first: their memory belongs to the back end too.
  for (MySQLResultHandle r : orphan_results) {
    try {
      api_.mysql_free_result(r);
    } catch (...) {
    }
  }
  for (const auto& [h, users] : orphans) {
    try {
      api_.mysql_close(h);
    } catch (...) {
    }
  }
  std::lock_guard<std::mutex> lock(handles_mutex_);
  closing_ = false;
  handles_idle_.notify_all();
}

void TMySQLBase::Check(MySQLHandle handle, int status) {
  if (status != 0) MySQLError(this, handle, -1, "", -1, -1);
}

uint32_t TMySQLBase::ErrorNo(MySQLHandle handle) {
  if (handle == nullptr) return 0;
  CheckLoaded();
  HandleUse use(*this, handle);
  return api_.mysql_errno(handle);
}

std::string TMySQLBase::ErrorMsg(MySQLHandle handle) {
  if (handle == nullptr) return std::string();
  CheckLoaded();
  HandleUse use(*this, handle);
  const char* text = api_.mysql_error(handle);
  return text != nullptr ? std::string(text) : std::string();
}

std::string TMySQLBase::SqlState(MySQLHandle handle) {
  if (handle == nullptr) return std::string();
  CheckLoaded();
  HandleUse use(*this, handle);
  const char* text = mysql_sqlstate_ != nullptr ? mysql_sqlstate_(handle) : nullptr;
  return text != nullptr ? std::string(text) : std::string();
}

MySQLHandle TMySQLBase::Open(const std::string& host, const std::string& user,
                             const std::string& password, int32_t port,
                             int32_t client_flag, const std::string& db) {
  // An open under way holds the back end: an unload waits for it to end.
  {
    std::unique_lock<std::mutex> lock(handles_mutex_);
    handles_idle_.wait(lock, [this] { return !closing_; });
    opening_.insert(std::this_thread::get_id());
  }
  struct OpeningDone {
    TMySQLBase& driver;
    ~OpeningDone() {
      std::lock_guard<std::mutex> lock(driver.handles_mutex_);
      auto self = driver.opening_.find(std::this_thread::get_id());
      if (self != driver.opening_.end()) driver.opening_.erase(self);
      driver.handles_idle_.notify_all();
    }
  } opening_done{*this};
  CheckLoaded();
  MySQLHandle handle = api_.mysql_init(nullptr);
  if (handle == nullptr) {
    MySQLError(this, nullptr, -1, "Could not initialize mysql driver.", -1, -1);
  }
  try {
    MySQLHandle none = nullptr;
    connection_.compare_exchange_strong(none, handle);
    if (client_ver_ == 0) client_ver_ = VersionNumber(ClientInfo());
    PrepareConnection(handle);
    for (const TimeoutOption& t : kTimeouts) {
      int index = options_->IndexOfName(t.name);
      if (index < 0) continue;
      int32_t value = drivers_text::StrToIntDef(options_->ValueFromIndex(index), -1);
      // A negative number of seconds is no timeout either.
      if (value < 0) value = t.fallback;
      unsigned int seconds = static_cast<unsigned int>(value);
      api_.mysql_options(handle, t.option, &seconds);
    }
    if (api_.mysql_real_connect(handle, host.c_str(), user.c_str(),
                                password.c_str(), db.c_str(),
                                static_cast<unsigned int>(port), nullptr,
                                static_cast<unsigned long>(
                                    static_cast<uint32_t>(client_flag))) ==
        nullptr) {
      MySQLHandle self = handle;
      connection_.compare_exchange_strong(self, nullptr);
      // The back end's reason (a wrong password, an unknown database) goes
      // after the fixed text.
      std::string reason, bare, state;
      uint32_t number = 0;
      try {
        const char* text = api_.mysql_error(handle);
        number = api_.mysql_errno(handle);
        bare = text != nullptr ? std::string(text) : std::string();
        reason = "\r\n[" + std::to_string(number) + "] " + bare;
        const char* s = mysql_sqlstate_ != nullptr ? mysql_sqlstate_(handle) : nullptr;
        if (s != nullptr) state = s;
      } catch (...) {
      }
      try {
        MySQLError(this, nullptr, -1,
                   "Could not connect to mysql server using:\r\nUser: " + user +
                       "\r\nHost:" + host + "\r\n" + "Port:" +
                       std::to_string(port) + "\r\nDB:" + db + "\r\n" +
                       "Please check the following:\r\n" +
                       "> MySQL Server is running on the host and port "
                       "specified and that you can access it through possible "
                       "firewalls\r\n" +
                       "> If the server is available and on a remote machine, "
                       "check that this username (with password) may access it "
                       "from a remote IP, see MySQL Manual (Security)" + reason,
                   -1, -1);
      } catch (EMySQLError& e) {
        // The back end's own report travels beside the composed message.
        if (number != 0) e.SetServerError(number, bare, state);
        throw;
      }
    }
  } catch (...) {
    api_.mysql_close(handle);
    MySQLHandle self = handle;
    connection_.compare_exchange_strong(self, nullptr);
    throw;
  }
  {
    std::lock_guard<std::mutex> lock(handles_mutex_);
    handles_.emplace(handle, std::multiset<std::thread::id>());
  }
  // The version of the main connection, read from this very handle when it
  // is the main one (another thread's handle may still be connecting).
  if (connection_.load() == handle) {
    const char* text = api_.mysql_get_server_info(handle);
    server_ver_ = VersionNumber(text != nullptr ? std::string(text) : std::string());
  }
  return handle;
}

std::string TMySQLBase::Info() {
  CheckLoaded();
  return ClientInfo();
}

void TMySQLBase::Close(MySQLHandle& handle) {
  if (handle == nullptr) return;
  // A handle this driver does not hold open (closed before, or never its
  // own) is left alone: closing it again would free foreign memory.
  if (!KnowsHandle(handle)) return;
  // The built-in client's connections outlive an unload of the driver;
  // load again to close them instead of leaking them.
  CheckLoaded();
  {
    // Waits for operations of other threads on this handle to end.
    std::unique_lock<std::mutex> lock(handles_mutex_);
    handles_idle_.wait(lock, [this, handle] {
      auto it = handles_.find(handle);
      return it == handles_.end() || !OtherThreadIn(it->second);
    });
    if (handles_.erase(handle) == 0) return;
    if (watched_.erase(handle) != 0) --watched_count_;
  }
  api_.mysql_close(handle);
  MySQLHandle self = handle;
  if (connection_.compare_exchange_strong(self, nullptr)) {
    std::lock_guard<std::recursive_mutex> lock(load_mutex_);
    UnLoad();
    server_ver_ = 0;
  }
  handle = nullptr;
}

std::string TMySQLBase::ClientInfo() {
  CheckLoaded();
  const char* text = api_.mysql_get_client_info();
  return text != nullptr ? std::string(text) : std::string();
}

std::string TMySQLBase::HostInfo(MySQLHandle handle) {
  if (handle == nullptr) return "No server connection";
  CheckLoaded();
  HandleUse use(*this, handle);
  const char* text = api_.mysql_get_host_info(handle);
  return text != nullptr ? std::string(text) : std::string();
}

std::string TMySQLBase::ServerInfo(MySQLHandle handle) {
  if (handle == nullptr || !loaded_) return "-1";
  HandleUse use(*this, handle);
  const char* text = api_.mysql_get_server_info(handle);
  return text != nullptr ? std::string(text) : std::string();
}

uint32_t TMySQLBase::ProtoInfo(MySQLHandle handle) {
  if (handle == nullptr) return 0;
  CheckLoaded();
  HandleUse use(*this, handle);
  return api_.mysql_get_proto_info(handle);
}

bool TMySQLBase::Ping(MySQLHandle handle) {
  if (handle == nullptr) return false;
  CheckLoaded();
  HandleUse use(*this, handle);
  Check(handle, api_.mysql_ping(handle));
  return true;
}

uint32_t TMySQLBase::ThreadID(MySQLHandle handle) {
  if (handle == nullptr) return 0;
  CheckLoaded();
  HandleUse use(*this, handle);
  return static_cast<uint32_t>(api_.mysql_thread_id(handle));
}

void TMySQLBase::Kill(MySQLHandle handle, uint32_t pid) {
  if (handle == nullptr) return;
  CheckLoaded();
  HandleUse use(*this, handle);
  Check(handle, api_.mysql_kill(handle, pid));
}

bool TMySQLBase::CreateDatabase(MySQLHandle handle, const std::string& name) {
  if (handle == nullptr) return false;
  CheckLoaded();
  HandleUse use(*this, handle);
  Check(handle, api_.mysql_create_db(handle, name.c_str()));
  return true;
}

bool TMySQLBase::SelectDatabase(MySQLHandle handle, const std::string& name) {
  if (handle == nullptr) return false;
  CheckLoaded();
  HandleUse use(*this, handle);
  DropPendingResults(handle);
  MarkDatabase(handle);
  Check(handle, api_.mysql_select_db(handle, name.c_str()));
  return true;
}

bool TMySQLBase::DropDatabase(MySQLHandle handle, const std::string& name) {
  if (handle == nullptr) return false;
  CheckLoaded();
  HandleUse use(*this, handle);
  MarkDatabase(handle);
  Check(handle, api_.mysql_drop_db(handle, name.c_str()));
  return true;
}

MySQLResultHandle TMySQLBase::OpenQuery(MySQLHandle handle,
                                        const std::string& sql) {
  if (handle == nullptr) return nullptr;
  CheckLoaded();
  HandleUse use(*this, handle);
  DropPendingResults(handle);
  if (watched_count_.load(std::memory_order_relaxed) > 0 && MayChangeDatabase(sql))
    MarkDatabase(handle);
  Check(handle, api_.mysql_real_query(handle, sql.data(),
                                      static_cast<unsigned long>(sql.size())));
  return TakeResult(handle);
}

MySQLResultHandle TMySQLBase::TakeResult(MySQLHandle handle) {
  MySQLResultHandle result = api_.mysql_use_result(handle);
  if (result == nullptr) {
    // No result set, or one that failed on its way (the embedded server
    // runs the whole statement first): only the error number tells.
    if (api_.mysql_errno(handle) != 0) MySQLError(this, handle, -1, "", -1, -1);
    return nullptr;
  }
  {
    std::lock_guard<std::mutex> lock(handles_mutex_);
    auto it = results_.find(result);
    if (it == results_.end()) {
      ResultEntry* entry = nullptr;
      if (free_entries_.empty()) {
        entry = &entries_.emplace_back();
      } else {
        entry = free_entries_.back();
        free_entries_.pop_back();
      }
      it = results_.emplace(result, entry).first;
    }
    // busy is left as it is: a reader that found the entry by its old
    // result lowers it again itself.
    it->second->connection = handle;
    it->second->result.store(result);
  }
  return result;
}

void TMySQLBase::DropPendingResults(MySQLHandle handle) {
  while (api_.mysql_more_results(handle)) {
    const int status = api_.mysql_next_result(handle);
    if (status > 0) MySQLError(this, handle, -1, "", -1, -1);
    if (status < 0) break;
    MySQLResultHandle result = TakeResult(handle);
    CloseQuery(result);
  }
}

bool TMySQLBase::MoreResults(MySQLHandle handle) {
  if (handle == nullptr) return false;
  CheckLoaded();
  HandleUse use(*this, handle);
  return api_.mysql_more_results(handle) != 0;
}

MySQLResultHandle TMySQLBase::NextResult(MySQLHandle handle) {
  if (handle == nullptr) return nullptr;
  CheckLoaded();
  HandleUse use(*this, handle);
  const int status = api_.mysql_next_result(handle);
  if (status > 0) MySQLError(this, handle, -1, "", -1, -1);
  if (status < 0) return nullptr;
  return TakeResult(handle);
}

void TMySQLBase::CloseQuery(MySQLResultHandle& result) {
  if (result == nullptr) return;
  CheckLoaded();
  if (guard_results_ && ResultConnection(result) == nullptr) {
    // Freed with its back end when that was released (or never this
    // driver's): nothing to free here.
    result = nullptr;
    return;
  }
  {
    ResultUse use(*this, result);
    api_.mysql_free_result(result);
  }
  std::unique_lock<std::mutex> lock(handles_mutex_);
  // Another thread still inside an operation on it keeps its entry until
  // that operation ends; readers that skip the lock see the entry cleared
  // and take the lock instead.
  auto found = results_.find(result);
  if (found != results_.end()) found->second->result.store(nullptr);
  result_waiters_.fetch_add(1);
  handles_idle_.wait(lock, [this, result] {
    auto it = results_.find(result);
    return it == results_.end() || it->second->busy.load() == 0;
  });
  result_waiters_.fetch_sub(1);
  ForgetResult(result);
  result = nullptr;
}

uint32_t TMySQLBase::RetrieveColCount(MySQLResultHandle result) {
  if (result == nullptr) return 0;
  CheckLoaded();
  ResultUse use(*this, result);
  return api_.mysql_num_fields(result);
}

uint64_t TMySQLBase::RetrieveRowCount(MySQLResultHandle result) {
  if (result == nullptr) return 0;
  CheckLoaded();
  ResultUse use(*this, result);
  return api_.mysql_num_rows(result);
}

void TMySQLBase::RetrieveField(MySQLResultHandle result, MYSQL_FIELD& field) {
  if (result == nullptr) return;
  CheckLoaded();
  ResultUse use(*this, result);
  const void* p = api_.mysql_fetch_field(result);
  static char kEmpty[] = "";
  if (p == nullptr) {
    field.name = kEmpty;
    return;
  }
  const int32_t layout = FieldLayoutVer();
  if (layout >= 40101) {
    const auto* f = static_cast<const Field411*>(p);
    field.name = f->name;
    field.org_name = f->org_name;
    field.table = f->table;
    field.org_table = f->org_table;
    field.db = f->db;
    field.def = f->def;
    field.length = f->length;
    field.max_length = f->max_length;
    field.flags = f->flags;
    field.decimals = f->decimals;
    field.type = LowByte(f->type);
    field.charsetnr = f->charsetnr;
  } else if (layout >= 40100) {
    const auto* f = static_cast<const Field410*>(p);
    field.name = f->name;
    field.org_name = f->org_name;
    field.table = f->table;
    field.org_table = nullptr;
    field.def = f->def;
    field.length = f->length;
    field.max_length = f->max_length;
    field.flags = f->flags;
    field.decimals = f->decimals;
    field.type = LowByte(f->type);
  } else if (layout >= 40000) {
    const auto* f = static_cast<const Field40*>(p);
    field.name = f->name;
    field.table = f->table;
    field.org_table = nullptr;
    field.db = nullptr;
    field.def = f->def;
    field.length = f->length;
    field.max_length = f->max_length;
    field.flags = f->flags;
    field.decimals = f->decimals;
    field.type = LowByte(f->type);
  } else {
    const auto* f = static_cast<const Field323*>(p);
    field.name = f->name;
    field.table = f->table;
    field.org_table = nullptr;
    field.db = nullptr;
    field.def = f->def;
    field.length = f->length;
    field.max_length = f->max_length;
    field.flags = f->flags;
    field.decimals = f->decimals;
    field.type = f->type;
  }
}

MYSQL_FIELD TMySQLBase::RetrieveField(MySQLResultHandle result) {
  MYSQL_FIELD field;
  RetrieveField(result, field);
  return field;
}

MySQLRow TMySQLBase::RetrieveRow(MySQLResultHandle result) {
  if (result == nullptr) return nullptr;
  CheckLoaded();
  MySQLHandle handle = nullptr;
  {
    ResultUse use(*this, result);
    MySQLRow row = api_.mysql_fetch_row(result);
    if (row != nullptr) return row;
    handle = ResultConnection(result);
  }
  // A nil row is the end of the rows only when the connection has no error:
  // a server error within the rows (or a lost connection) must not read as
  // a complete result.
  if (handle != nullptr && KnowsHandle(handle) && ErrorNo(handle) != 0)
    MySQLError(this, handle, -1, "", -1, -1);
  return nullptr;
}

MySQLRow TMySQLBase::RetrieveRowWithLengths(MySQLResultHandle result, MySQLLengths& lengths) {
  lengths = nullptr;
  if (result == nullptr) return nullptr;
  CheckLoaded();
  MySQLHandle handle = nullptr;
  {
    ResultUse use(*this, result);
    MySQLRow row = api_.mysql_fetch_row(result);
    if (row != nullptr) {
      lengths = api_.mysql_fetch_lengths(result);
      return row;
    }
    handle = ResultConnection(result);
  }
  // As in RetrieveRow: a nil row after an error is no end of the rows.
  if (handle != nullptr && KnowsHandle(handle) && ErrorNo(handle) != 0)
    MySQLError(this, handle, -1, "", -1, -1);
  return nullptr;
}

MySQLLengths TMySQLBase::RetrieveRowFieldLenghts(MySQLResultHandle result) {
  if (result == nullptr) return nullptr;
  CheckLoaded();
  ResultUse use(*this, result);
  return api_.mysql_fetch_lengths(result);
}

std::string TMySQLBase::EscapeStr(const std::string& s) {
  CheckLoaded();
  // The library back ends need a live connection for its character set and
  // crash on a nil one; without a main connection escape by the built-in
  // client's rule, which needs none.
  if (connection_ == nullptr) return drivers_text::EscapeBuiltIn(s);
  std::vector<char> buffer(2 * s.size() + 1, '\0');
  unsigned long written = api_.mysql_real_escape_string(
      connection_, buffer.data(), s.data(), static_cast<unsigned long>(s.size()));
  // The written length counts: with NO_BACKSLASH_ESCAPES a back end leaves
  // NUL bytes in, and a value must not end at the first of them.
  size_t length = written <= 2 * s.size() ? written : 2 * s.size();
  return std::string(buffer.data(), length);
}

namespace {

// Splits a dotted name into its parts: runs of dots count as one, and a
// back-quoted run (with `` inside for a back-quote) belongs to its part,
// dots included; an unclosed one runs to the end.
void SplitDotted(const std::string& s, std::vector<std::string>& parts) {
  std::string part;
  bool quoted = false;
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (quoted) {
      part += c;
      if (c == '`') {
        if (i + 1 < s.size() && s[i + 1] == '`') {
          part += s[++i];
        } else {
          quoted = false;
        }
      }
    } else if (c == '.') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      if (c == '`') quoted = true;
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(part);
}

}  // namespace

std::string TMySQLBase::FormatIdentifier(const std::string& s) {
  CheckLoaded();
  if (server_ver_ < 32306 || s.empty()) return s;
  std::vector<std::string> parts;
  SplitDotted(s, parts);
  if (parts.size() > 1 || (parts.size() == 1 && parts[0] != s)) {
    // Each part of a qualified name by itself.
    std::string result;
    for (const std::string& part : parts) result += FormatIdentifier(part) + ".";
    if (!result.empty()) result.pop_back();
    return result;
  }
  // A name already in back-quotes stays as it is (an unclosed one too: it
  // is not a name this driver can repair).
  if (s[0] == '`') return s;
  if (IsReservedWord(s)) return BackQuote(s);
  for (char c : s) {
    if (!IsIdentifierChar(c)) return BackQuote(s);
  }
  return s;
}

bool TMySQLBase::IsReservedWord(const std::string& s) const {
  std::string probe = s;
  for (char& c : probe) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (probe.find(',') == std::string::npos) {
    // Every name a generated statement holds comes here: a hash lookup.
    static const std::unordered_set<std::string_view> kSet(std::begin(kReservedWords),
                                                           std::end(kReservedWords));
    return kSet.count(probe) != 0;
  }
  // A text with commas matches where it is a run of the list's words.
  return reserved_words_.find("," + probe + ",") != std::string::npos;
}

std::string TMySQLBase::LastInsertID(MySQLHandle handle) {
  if (handle == nullptr) return std::string();
  CheckLoaded();
  HandleUse use(*this, handle);
  return std::to_string(static_cast<uint64_t>(api_.mysql_insert_id(handle)));
}

std::string TMySQLBase::AffectedRows(MySQLHandle handle) {
  if (handle == nullptr) return std::string();
  CheckLoaded();
  HandleUse use(*this, handle);
  // All bits set means "no count"; it reads as -1.
  return std::to_string(static_cast<int64_t>(api_.mysql_affected_rows(handle)));
}

std::string TMySQLBase::StatementInfo(MySQLHandle handle) {
  if (handle == nullptr) return std::string();
  CheckLoaded();
  HandleUse use(*this, handle);
  const char* text = api_.mysql_info(handle);
  return text == nullptr ? std::string() : std::string(text);
}

std::string TMySQLBase::CharacterSetName() {
  CheckLoaded();
  MySQLHandle handle = connection_;
  if (handle == nullptr) return std::string();
  HandleUse use(*this, handle);
  const char* name = api_.mysql_character_set_name(handle);
  return name == nullptr ? std::string() : std::string(name);
}

void TMySQLBase::WatchDatabase(MySQLHandle handle) {
  if (handle == nullptr) return;
  std::lock_guard<std::mutex> lock(handles_mutex_);
  if (handles_.count(handle) == 0) return;
  if (watched_.emplace(handle, false).second) ++watched_count_;
}

bool TMySQLBase::TakeDatabaseMark(MySQLHandle handle) {
  std::lock_guard<std::mutex> lock(handles_mutex_);
  auto it = watched_.find(handle);
  if (it == watched_.end()) return true;
  return std::exchange(it->second, false);
}

void TMySQLBase::MarkDatabase(MySQLHandle handle) {
  if (watched_count_.load(std::memory_order_relaxed) == 0) return;
  std::lock_guard<std::mutex> lock(handles_mutex_);
  auto it = watched_.find(handle);
  if (it != watched_.end()) it->second = true;
}

void TMySQLBase::ResetConnection(MySQLHandle handle) {
  if (handle == nullptr) return;
  CheckLoaded();
  HandleUse use(*this, handle);
  if (api_.mysql_reset_connection == nullptr)
    MySQLError(this, nullptr, -1, "Resetting a connection is not supported by this client", -1, -1);
  DropPendingResults(handle);
  Check(handle, api_.mysql_reset_connection(handle));
}

bool TMySQLBase::Refresh(MySQLHandle handle, int32_t options) {
  if (handle == nullptr) return false;
  CheckLoaded();
  HandleUse use(*this, handle);
  Check(handle, api_.mysql_refresh(handle, static_cast<unsigned int>(options)));
  return true;
}

// ---------------------------------------------------------------------------
// MySQLError

void MySQLError(TMySQLBase* driver, MySQLHandle handle, int32_t err_no,
                const std::string& msg, int32_t server_ver,
                int32_t client_ver) {
  std::string client_text = std::to_string(client_ver);
  std::string server_text = std::to_string(server_ver);
  int32_t number = err_no;
  std::string text = msg;
  uint32_t server_code = 0;
  std::string server_message, sql_state;
  if (driver != nullptr) {
    // The error being reported must not be lost to a second one raised
    // while asking the driver for the details.
    try {
      client_text = driver->ClientInfo();
    } catch (...) {
    }
    try {
      MySQLHandle main = driver->GetConnection();
      if (main != nullptr) server_text = driver->ServerInfo(main);
      MySQLHandle source = handle != nullptr ? handle : main;
      if (source != nullptr) {
        int32_t source_number = static_cast<int32_t>(driver->ErrorNo(source));
        std::string bare = driver->ErrorMsg(source);
        std::string source_text = bare + ": " + msg;
        number = source_number;
        text = std::move(source_text);
        if (source_number != 0) {
          server_code = static_cast<uint32_t>(source_number);
          server_message = std::move(bare);
          sql_state = driver->SqlState(source);
        }
      }
    } catch (...) {
    }
  }
  std::string suffix;
  if (client_text != "-1" && server_text != "-1") {
    suffix = "\r\nClient:" + client_text + "\r\nServer:" + server_text;
  } else if (client_text.compare("-1") > 0) {
    suffix = "\r\nClient:" + client_text;
  }
  std::string message;
  if (number >= 0) {
    message = "[" + std::to_string(number) + "] " + text + suffix;
  } else {
    message = text + suffix;
  }
  EMySQLError error(number, message);
  if (server_code != 0) error.SetServerError(server_code, server_message, sql_state);
  throw error;
}

}  // namespace rowset
