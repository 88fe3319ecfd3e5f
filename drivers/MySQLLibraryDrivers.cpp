// The library and embedded drivers: the entry-point table filled by name
// from a library loaded at run time.
#include <dlfcn.h>

#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "drivers/MySQLDrivers.h"
#include "wire/uMysqlTls.h"

namespace rowset {

namespace {

const char* const kClientLibrary = "libmariadb.so.3";
const char* const kEmbeddedLibrary = "libmariadbd.so.19";

std::string LoadFailureMessage(const std::string& name,
                               const std::string& loader_text) {
  std::string source;
  if (name == kClientLibrary) {
    source = "it is provided by the Debian package libmariadb3";
  } else if (name == kEmbeddedLibrary) {
    source = "it is provided by the Debian package libmariadbd19";
  } else {
    source =
        "the MySQL or MariaDB client library comes with the server's client "
        "packages";
  }
  return "Could not load MySQL library " + name + " (" + source +
         "; the loader said: " + loader_text + "). Please place " + name +
         " in your program's directory or alternatively in your system32 "
         "folder or a system folder (included in your PATH).";
}

// The embedded servers of this process, one per loaded library. A server
// cannot be started again after it has ended, so each runs from its first
// start until the process exits; the library stays loaded that long.
class EmbeddedServers {
 public:
  struct Server {
    TDynLib library;  // keeps the library loaded for the process life
    bool started = false;
    bool failed = false;
    std::vector<std::string> arguments;
    std::vector<std::string> groups;
    std::vector<char*> argv;
    std::vector<char*> groupv;
    void (*end)() = nullptr;
  };

  static EmbeddedServers& Instance() {
    static EmbeddedServers servers;
    return servers;
  }

  std::mutex mutex;
  std::map<void*, std::unique_ptr<Server>> servers;

 private:
  EmbeddedServers() = default;
  ~EmbeddedServers() {
    // Normal process exit: end every running server so that its storage
    // engines shut down cleanly. The libraries stay mapped; the process is
    // going away.
    for (auto& [handle, server] : servers) {
      if (server->started && server->end != nullptr) server->end();
      server->library.Detach();
    }
  }
};

// Keeps a client library mapped for the rest of the process once loaded:
// its one-time initialisation runs once and its memory stays its own, so
// connecting and disconnecting again and again neither repeats it nor leaks
// what it allocated each time. The driver still loads and releases its own
// reference as before.
void PinLibrary(const std::string& name) {
  static std::mutex mutex;
  static std::set<std::string> pinned;
  std::lock_guard<std::mutex> lock(mutex);
  if (pinned.count(name) != 0) return;
  if (dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE) != nullptr) pinned.insert(name);
}

}  // namespace

// ---------------------------------------------------------------------------
// TMySQLLibrary

TMySQLLibrary::TMySQLLibrary(const std::string& options)
    : TMySQLBase(options) {
  SetGuardResults(true);
}

std::unique_ptr<TMySQLBase> TMySQLLibrary::Create(const std::string& options) const {
  return std::make_unique<TMySQLLibrary>(options);
}

std::unique_ptr<TMySQLBase> TMySQLEmbedded::Create(const std::string& options) const {
  return std::make_unique<TMySQLEmbedded>(options);
}

TMySQLLibrary::~TMySQLLibrary() {
  try {
    MySQLHandle main = GetConnection();
    if (main != nullptr && Loaded()) Close(main);
    if (Loaded()) TMySQLLibrary::UnLoad();
  } catch (...) {
  }
}

std::string TMySQLLibrary::DefaultLibraryName() const { return kClientLibrary; }

std::string TMySQLLibrary::GetClientDLL() const {
  return client_dll_.empty() ? DefaultLibraryName() : client_dll_;
}

void TMySQLLibrary::PrepareConnection(MySQLHandle handle) {
  // The client library's option numbers.
  static const struct {
    const char* name;
    int option;
  } kFiles[] = {{"ssl_key", 25}, {"ssl_cert", 26}, {"ssl_ca", 27}, {"ssl_capath", 28},
                {"ssl_cipher", 29}};
  constexpr int kOptSslVerifyServerCert = 21;
  const TStrings& lines = Options();
  int index = lines.IndexOfName("ssl_mode");
  mysql_ssl_mode mode = SSL_MODE_PREFERRED;
  if (index >= 0 && !ParseSslMode(lines.ValueFromIndex(index), mode))
    MySQLError(this, nullptr, -1,
               "Unknown ssl_mode '" + lines.ValueFromIndex(index) +
                   "' (DISABLED, PREFERRED, REQUIRED, VERIFY_CA or VERIFY_IDENTITY).",
               -1, -1);
  if (mode == SSL_MODE_DISABLED) return;
  for (const auto& f : kFiles) {
    index = lines.IndexOfName(f.name);
    if (index < 0) continue;
    const std::string value = lines.ValueFromIndex(index);
    if (!value.empty()) api_.mysql_options(handle, f.option, value.c_str());
  }
  if (mode == SSL_MODE_VERIFY_IDENTITY) {
    const char on = 1;
    api_.mysql_options(handle, kOptSslVerifyServerCert, &on);
  }
}

void TMySQLLibrary::Load() {
  std::lock_guard<std::recursive_mutex> lock(LoadMutex());
  if (Loaded()) UnLoad();
  std::string name = GetClientDLL();
  if (!library_.Open(name)) {
    throw Exception(LoadFailureMessage(name, library_.LastError()));
  }
  PinLibrary(name);
  // Other threads read the table once they see the flag: fill it first.
  Bind();
  SetLoaded(true);
}

void TMySQLLibrary::UnLoad() {
  std::lock_guard<std::recursive_mutex> lock(LoadMutex());
  if (!Loaded()) return;
  // Connections left open would point into the released library.
  CloseOrphans();
  SetLoaded(false);
  api_ = StubTable();
  mysql_thread_end_ = nullptr;
  mysql_sqlstate_ = nullptr;
  library_.Close();
  SetConnectionField(nullptr);
  SetClientVer(0);
  SetServerVer(0);
}

void TMySQLLibrary::ThreadEnd() {
  std::lock_guard<std::recursive_mutex> lock(LoadMutex());
  if (Loaded() && mysql_thread_end_ != nullptr) mysql_thread_end_();
}

void TMySQLLibrary::Bind() {
  TMySQLBase::Bind();
  BindProc(mysql_thread_end_, library_, "mysql_thread_end");
  BindProc(api_.mysql_init, library_, "mysql_init");
  BindProc(api_.mysql_options, library_, "mysql_options");
  BindProc(api_.mysql_real_connect, library_, "mysql_real_connect");
  BindProc(api_.mysql_close, library_, "mysql_close");
  BindProc(api_.mysql_errno, library_, "mysql_errno");
  BindProc(api_.mysql_error, library_, "mysql_error");
  BindProc(api_.mysql_get_client_info, library_, "mysql_get_client_info");
  BindProc(api_.mysql_get_server_info, library_, "mysql_get_server_info");
  BindProc(api_.mysql_get_host_info, library_, "mysql_get_host_info");
  BindProc(api_.mysql_get_proto_info, library_, "mysql_get_proto_info");
  BindProc(api_.mysql_ping, library_, "mysql_ping");
  BindProc(api_.mysql_thread_id, library_, "mysql_thread_id");
  BindProc(api_.mysql_kill, library_, "mysql_kill");
  BindProc(api_.mysql_create_db, library_, "mysql_create_db");
  BindProc(api_.mysql_select_db, library_, "mysql_select_db");
  BindProc(api_.mysql_drop_db, library_, "mysql_drop_db");
  BindProc(api_.mysql_real_query, library_, "mysql_real_query");
  BindProc(api_.mysql_use_result, library_, "mysql_use_result");
  BindProc(api_.mysql_free_result, library_, "mysql_free_result");
  BindProc(api_.mysql_num_fields, library_, "mysql_num_fields");
  BindProc(api_.mysql_num_rows, library_, "mysql_num_rows");
  BindProc(api_.mysql_fetch_lengths, library_, "mysql_fetch_lengths");
  BindProc(api_.mysql_fetch_field, library_, "mysql_fetch_field");
  BindProc(api_.mysql_fetch_row, library_, "mysql_fetch_row");
  BindProc(api_.mysql_real_escape_string, library_, "mysql_real_escape_string");
  BindProc(api_.mysql_insert_id, library_, "mysql_insert_id");
  BindProc(api_.mysql_refresh, library_, "mysql_refresh");
  BindProc(api_.mysql_affected_rows, library_, "mysql_affected_rows");
  BindProc(api_.mysql_info, library_, "mysql_info");
  BindProc(api_.mysql_character_set_name, library_, "mysql_character_set_name");
  // Libraries from before multiple results have none to give.
  api_.mysql_more_results = [](void*) -> char { return 0; };
  api_.mysql_next_result = [](void*) { return -1; };
  if (library_.Symbol("mysql_more_results") != nullptr && library_.Symbol("mysql_next_result") != nullptr) {
    BindProc(api_.mysql_more_results, library_, "mysql_more_results");
    BindProc(api_.mysql_next_result, library_, "mysql_next_result");
  }
  // Optional: older libraries cannot reset a session.
  api_.mysql_reset_connection =
      reinterpret_cast<int (*)(void*)>(library_.Symbol("mysql_reset_connection"));
  connector_c_ = library_.Symbol("mariadb_get_infov") != nullptr;
  // Optional: a library without it reports no SQL states.
  mysql_sqlstate_ = reinterpret_cast<const char* (*)(void*)>(library_.Symbol("mysql_sqlstate"));
}

MySQLHandle TMySQLLibrary::Open(const std::string& host, const std::string& user,
                                const std::string& password, int32_t port,
                                int32_t client_flag, const std::string& db) {
  constexpr int32_t kClientMultiResults = 1 << 17;
  return TMySQLBase::Open(host, user, password, port, client_flag | kClientMultiResults, db);
}

int32_t TMySQLLibrary::FieldLayoutVer() const {
  return connector_c_ && ClientVer() < 40101 ? 40101 : ClientVer();
}

// ---------------------------------------------------------------------------
// TMySQLEmbedded

TMySQLEmbedded::TMySQLEmbedded(const std::string& options)
    : TMySQLLibrary(options) {}

std::string TMySQLEmbedded::DefaultLibraryName() const { return kEmbeddedLibrary; }

void TMySQLEmbedded::Bind() {
  TMySQLLibrary::Bind();
  BindProc(mysql_server_init_, library_, "mysql_server_init");
  BindProc(mysql_server_end_, library_, "mysql_server_end");
}

std::vector<std::string> TMySQLEmbedded::ServerArguments() const {
  std::vector<std::string> arguments;
  arguments.push_back(ExecutablePath());
  for (int i = 0; i < Options().Count(); ++i) {
    arguments.push_back("--" + Options()[i]);
  }
  return arguments;
}

std::vector<std::string> TMySQLEmbedded::ServerGroups() {
  return {ExecutablePath() + "_SERVER", "embedded", "server"};
}

void TMySQLEmbedded::PrepareConnection(MySQLHandle handle) {
  constexpr int kOptReadDefaultGroup = 5;
  std::string group = ExecutablePath() + "_SERVER";
  api_.mysql_options(handle, kOptReadDefaultGroup, group.c_str());
}

void TMySQLEmbedded::Load() {
  std::lock_guard<std::recursive_mutex> outer(LoadMutex());
  TMySQLLibrary::Load();
  if (!Loaded()) return;
  try {
    EmbeddedServers& registry = EmbeddedServers::Instance();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto& slot = registry.servers[library_.Handle()];
    if (!slot) {
      slot = std::make_unique<EmbeddedServers::Server>();
      slot->library.Open(GetClientDLL());  // one more reference: never unloaded
    }
    EmbeddedServers::Server& server = *slot;
    std::vector<std::string> arguments = ServerArguments();
    if (server.failed) {
      MySQLError(this, nullptr, -1,
                 "The embedded server failed to start earlier and cannot be "
                 "started again in this process.",
                 -1, -1);
    }
    if (server.started) {
      if (server.arguments != arguments) {
        MySQLError(this, nullptr, -1,
                   "The embedded server is already running in this process "
                   "with other options; it can be started only once per "
                   "process.",
                   -1, -1);
      }
      return;
    }
    // The argument and group texts stay allocated for the process life.
    server.arguments = arguments;
    server.groups = ServerGroups();
    for (std::string& a : server.arguments) server.argv.push_back(a.data());
    server.argv.push_back(nullptr);
    for (std::string& g : server.groups) server.groupv.push_back(g.data());
    server.groupv.push_back(nullptr);
    int status = mysql_server_init_(static_cast<int>(server.arguments.size()),
                                    server.argv.data(), server.groupv.data());
    if (status != 0) {
      server.failed = true;
      MySQLError(this, nullptr, -1, "", -1, -1);
    }
    server.started = true;
    server.end = mysql_server_end_;
  } catch (...) {
    TMySQLLibrary::UnLoad();
    throw;
  }
}

void TMySQLEmbedded::UnLoad() {
  // The server keeps running (see the class comment); only the driver's
  // reference to the library goes.
  TMySQLLibrary::UnLoad();
}

}  // namespace rowset
