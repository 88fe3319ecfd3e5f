// The real client library, loaded at run time, as the reference that the
// flat interface's tests and benchmark compare against. It is loaded local
// (RTLD_LOCAL) so that its own mysql_* symbols never meet ours. Its header is
// not included: its macros (CLIENT_*, NUM_FLAG, ...) would clash with the wire
// client's constants; the few entry points used are declared here.
#ifndef ROWSET_TESTS_WIRE_FLAT_LIBMARIADB_H_
#define ROWSET_TESTS_WIRE_FLAT_LIBMARIADB_H_

#include <dlfcn.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace rowset::test {

using MYSQL = struct st_mysql;
using MYSQL_RES = struct st_mysql_res;
using MYSQL_ROW = char**;
// Values of the library's option enumeration.
constexpr int kLibOptCompress = 1;
constexpr int kLibSetCharsetName = 7;
constexpr int kLibOptSslCa = 27;

class LibMariaDb {
 public:
  // The process-wide loaded library; throws std::runtime_error when it
  // cannot be loaded.
  static const LibMariaDb& Get() {
    static LibMariaDb lib;
    return lib;
  }

  MYSQL* (*mysql_init)(MYSQL*) = nullptr;
  int (*mysql_options)(MYSQL*, int, const void*) = nullptr;
  MYSQL* (*mysql_real_connect)(MYSQL*, const char*, const char*, const char*,
                               const char*, unsigned int, const char*,
                               unsigned long) = nullptr;
  void (*mysql_close)(MYSQL*) = nullptr;
  unsigned int (*mysql_errno)(MYSQL*) = nullptr;
  const char* (*mysql_error)(MYSQL*) = nullptr;
  int (*mysql_real_query)(MYSQL*, const char*, unsigned long) = nullptr;
  MYSQL_RES* (*mysql_use_result)(MYSQL*) = nullptr;
  MYSQL_RES* (*mysql_store_result)(MYSQL*) = nullptr;
  void (*mysql_free_result)(MYSQL_RES*) = nullptr;
  unsigned int (*mysql_num_fields)(MYSQL_RES*) = nullptr;
  MYSQL_ROW (*mysql_fetch_row)(MYSQL_RES*) = nullptr;
  unsigned long* (*mysql_fetch_lengths)(MYSQL_RES*) = nullptr;
  unsigned long long (*mysql_affected_rows)(MYSQL*) = nullptr;
  unsigned long long (*mysql_insert_id)(MYSQL*) = nullptr;
  // The library's MYSQL_FIELD (the 4.1 field record).
  const void* (*mysql_fetch_field)(MYSQL_RES*) = nullptr;
  const char* (*mysql_sqlstate)(MYSQL*) = nullptr;
  unsigned int (*mysql_warning_count)(MYSQL*) = nullptr;

 private:
  LibMariaDb() {
    handle_ = dlopen("libmariadb.so.3", RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr)
      throw std::runtime_error(std::string("libmariadb.so.3: ") + dlerror());
#define ROWSET_LIBMARIADB_BIND(name) Bind(name, #name);
    ROWSET_LIBMARIADB_BIND(mysql_init)
    ROWSET_LIBMARIADB_BIND(mysql_options)
    ROWSET_LIBMARIADB_BIND(mysql_real_connect)
    ROWSET_LIBMARIADB_BIND(mysql_close)
    ROWSET_LIBMARIADB_BIND(mysql_errno)
    ROWSET_LIBMARIADB_BIND(mysql_error)
    ROWSET_LIBMARIADB_BIND(mysql_real_query)
    ROWSET_LIBMARIADB_BIND(mysql_use_result)
    ROWSET_LIBMARIADB_BIND(mysql_store_result)
    ROWSET_LIBMARIADB_BIND(mysql_free_result)
    ROWSET_LIBMARIADB_BIND(mysql_num_fields)
    ROWSET_LIBMARIADB_BIND(mysql_fetch_row)
    ROWSET_LIBMARIADB_BIND(mysql_fetch_lengths)
    ROWSET_LIBMARIADB_BIND(mysql_affected_rows)
    ROWSET_LIBMARIADB_BIND(mysql_insert_id)
    ROWSET_LIBMARIADB_BIND(mysql_fetch_field)
    ROWSET_LIBMARIADB_BIND(mysql_sqlstate)
    ROWSET_LIBMARIADB_BIND(mysql_warning_count)
#undef ROWSET_LIBMARIADB_BIND
  }

  template <typename F>
  void Bind(F& entry, const char* name) {
    entry = reinterpret_cast<F>(dlsym(handle_, name));
    if (entry == nullptr)
      throw std::runtime_error(std::string("libmariadb.so.3 lacks ") + name);
  }

  void* handle_ = nullptr;  // kept loaded for the life of the process
};

// One connection through the real library.
class MariaDbConnection {
 public:
  MariaDbConnection() : lib_(LibMariaDb::Get()) {}
  ~MariaDbConnection() {
    if (mysql_ != nullptr) lib_.mysql_close(mysql_);
  }
  MariaDbConnection(const MariaDbConnection&) = delete;
  MariaDbConnection& operator=(const MariaDbConnection&) = delete;

  // Connects; the latin1 character set matches what the server assumes for
  // clients that announce none. With `ssl_ca`, over TLS. Throws on failure.
  void Connect(const std::string& host, unsigned port, const std::string& user,
               const std::string& password, const std::string& db,
               bool compress = false, const std::string& ssl_ca = "") {
    mysql_ = lib_.mysql_init(nullptr);
    if (mysql_ == nullptr) throw std::runtime_error("mysql_init failed");
    lib_.mysql_options(mysql_, kLibSetCharsetName, "latin1");
    if (compress) lib_.mysql_options(mysql_, kLibOptCompress, nullptr);
    if (!ssl_ca.empty()) lib_.mysql_options(mysql_, kLibOptSslCa, ssl_ca.c_str());
    if (lib_.mysql_real_connect(mysql_, host.c_str(), user.c_str(),
                                password.c_str(), db.c_str(), port, nullptr,
                                0) == nullptr)
      throw std::runtime_error(std::string("connect: ") +
                               lib_.mysql_error(mysql_));
  }

  void Exec(const std::string& sql) {
    if (lib_.mysql_real_query(mysql_, sql.data(), sql.size()) != 0)
      throw std::runtime_error("query '" + sql.substr(0, 200) +
                               "': " + lib_.mysql_error(mysql_));
    MYSQL_RES* res = lib_.mysql_store_result(mysql_);
    if (res != nullptr) lib_.mysql_free_result(res);
  }

  // All rows of a query, each value exactly as sent (nullopt for NULL).
  using Row = std::vector<std::optional<std::string>>;
  std::vector<Row> Rows(const std::string& sql) {
    if (lib_.mysql_real_query(mysql_, sql.data(), sql.size()) != 0)
      throw std::runtime_error("query '" + sql.substr(0, 200) +
                               "': " + lib_.mysql_error(mysql_));
    MYSQL_RES* res = lib_.mysql_use_result(mysql_);
    std::vector<Row> rows;
    if (res == nullptr) return rows;
    unsigned n = lib_.mysql_num_fields(res);
    while (MYSQL_ROW r = lib_.mysql_fetch_row(res)) {
      unsigned long* len = lib_.mysql_fetch_lengths(res);
      Row row(n);
      for (unsigned i = 0; i < n; ++i)
        if (r[i] != nullptr) row[i] = std::string(r[i], len[i]);
      rows.push_back(std::move(row));
    }
    lib_.mysql_free_result(res);
    return rows;
  }

  MYSQL* Handle() const { return mysql_; }
  const LibMariaDb& Lib() const { return lib_; }

 private:
  const LibMariaDb& lib_;
  MYSQL* mysql_ = nullptr;
};

}  // namespace rowset::test

#endif  // ROWSET_TESTS_WIRE_FLAT_LIBMARIADB_H_
