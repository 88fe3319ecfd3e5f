// The connection of the rowset program (see Session.h).
#include "tools/rowset/Session.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "design/MySQLLoginDlg.h"
#include "host/Exceptions.h"
#include "parser/MySQLParser.h"

namespace rowset::cli {

namespace {

FILE* g_error_stream = nullptr;
bool g_error_terminal = false;

// Points file descriptor 2 at Log (appending) for the rest of the process.
void SendStandardErrorTo(const std::string& Log) {
  int fd = ::open(Log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return;  // the messages then reach the terminal, nothing worse
  ::dup2(fd, 2);
  ::close(fd);
}

// The name a process runs under ("" when it cannot be read).
std::string ProcessName(pid_t Pid) {
  std::ifstream in("/proc/" + std::to_string(Pid) + "/cmdline", std::ios::binary);
  std::string first;
  std::getline(in, first, '\0');
  const size_t slash = first.rfind('/');
  return slash == std::string::npos ? first : first.substr(slash + 1);
}

// The process holding a write lock on File (the locks the embedded
// server's storage engines take on their files, as any MariaDB server
// does), or 0 when none does.
pid_t LockHolder(const std::string& File) {
  const int fd = ::open(File.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  struct flock l {};
  l.l_type = F_WRLCK;
  l.l_whence = SEEK_SET;
  pid_t pid = 0;
  if (::fcntl(fd, F_GETLK, &l) == 0 && l.l_type != F_UNLCK) pid = l.l_pid;
  ::close(fd);  // this process holds no lock on it yet: nothing of ours is released
  return pid;
}

[[noreturn]] void InUse(const std::string& Home, pid_t Pid) {
  std::string who = Pid > 0 ? "process " + std::to_string(Pid) : "another process";
  const std::string name = Pid > 0 ? ProcessName(Pid) : "";
  if (!name.empty()) who += " (" + name + ")";
  throw Exception("the data directory " + Home + " is in use by " + who +
                  ": one embedded server per data directory; end that program or give another --datadir");
}

// One process at a time runs the embedded server on a data directory: the
// server itself would wait for its files' locks and then fail without a
// reason. The program holds an flock on "rowset.lock" in the data
// directory (with its process id in it) for the rest of its run, and
// refuses at once when another process holds that lock or the locks of the
// server's files.
void LockDataDirectory(const std::filesystem::path& Home, const std::filesystem::path& Db) {
  static int held = -1;  // kept open (and locked) until the process ends
  if (held >= 0) return;
  const std::string file = (Home / "rowset.lock").string();
  const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) throw Exception("cannot open " + file + ": " + std::strerror(errno));
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    char text[32] = {};
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    ::close(fd);
    InUse(Home.string(), n > 0 ? static_cast<pid_t>(std::atol(text)) : 0);
  }
  for (const char* f : {"aria_log_control", "ibdata1"}) {
    if (pid_t other = LockHolder((Db / f).string())) {
      ::close(fd);
      InUse(Home.string(), other);
    }
  }
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) == 0 && ::pwrite(fd, pid.data(), pid.size(), 0) < 0) {
    // the process id is a courtesy for the message of another process
  }
  held = fd;
}

void ConfigureEmbedded(TMySQLServer& Server, const Options& Opts) {
  namespace fs = std::filesystem;
  const fs::path home = fs::absolute(DataDirectory(Opts));
  const fs::path db = home / "db";
  std::error_code ec;
  fs::create_directories(db, ec);
  if (ec) throw Exception("cannot make the data directory " + db.string() + ": " + ec.message());
  LockDataDirectory(home, db);
  const std::string log = (home / "server.log").string();
  if (!Opts.verbose) SendStandardErrorTo(log);
  // Small buffers: the embedded server lives inside an interactive program.
  Server.SetParams("[embedded]\r\ndatadir=" + db.string() +
                   "\r\nlc-messages-dir=/usr/share/mysql\r\n"
                   "innodb-buffer-pool-size=32M\r\ninnodb-log-file-size=16M\r\n"
                   "innodb-buffer-pool-dump-at-shutdown=0\r\n"
                   "innodb-buffer-pool-load-at-startup=0\r\n");
  Server.SetDriverType(dtEmbedded);
  if (!Opts.database.empty()) {
    // The embedded server is the user's own: a database named on the
    // command line is made on first use.
    Server.SetOptions(Server.Options() + soAutoCreate);
  }
}

// The embedded server starts on an empty folder without the mysql system
// tables (no stored procedures, time zones or plugins then). On first use
// they are made from the server package's own script, on a connection of
// their own; a failure leaves the folder without them (tried again on the
// next start) and only warns.
void MakeSystemTables(TMySQLServer& Server) {
  std::string text;
  for (const char* path : {"/usr/share/mariadb/mysql_system_tables.sql", "/usr/share/mysql/mysql_system_tables.sql"}) {
    std::ifstream in(path, std::ios::binary);
    if (in) {
      text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      break;
    }
  }
  if (text.empty()) return;
  TMySQLBase* driver = Server.GetDriver();
  MySQLHandle handle = Server.AllocConnection();
  auto run = [&](const std::string& Sql) {
    MySQLResultHandle result = driver->OpenQuery(handle, Sql);
    driver->CloseQuery(result);
  };
  try {
    run("create database if not exists mysql");
    run("use mysql");
    for (const std::string& statement : SplitScript(text)) run(statement);
  } catch (const std::exception& e) {
    std::fprintf(ErrorStream(), "rowset: the embedded server's system tables could not be made: %s\n", e.what());
    try {
      run("drop database if exists mysql");
    } catch (...) {
    }
  }
  Server.FreeConnection(handle);
}

void ConfigureRemote(TMySQLServer& Server, const Options& Opts, Driver Kind) {
  Server.SetDriverType(Kind == Driver::kLibrary ? dtLibrary : dtDirect);
  if (!Opts.socket.empty()) {
    // The client library connects to "localhost" through the socket that
    // MYSQL_UNIX_PORT names.
    ::setenv("MYSQL_UNIX_PORT", Opts.socket.c_str(), 1);
    Server.SetHost("localhost");
  } else {
    Server.SetHost(Opts.host.empty() ? "127.0.0.1" : Opts.host);
  }
  Server.SetPort(Opts.port != 0 ? Opts.port : 3306);
  if (Opts.mode == "loadbalance") Server.SetHostMode(hmLoadBalance);
  else if (Opts.mode == "replication") Server.SetHostMode(hmReplication);
  Server.SetUserName(Opts.user.empty() ? "root" : Opts.user);
  if (Opts.has_password) Server.SetPassword(Opts.password);
  else if (const char* pwd = std::getenv("MYSQL_PWD")) Server.SetPassword(pwd);
  Server.SetCompression(Opts.compress);
  if (Opts.NamesTls()) {
    // The same option lines for the built-in client and the client library.
    std::string lines;
    if (!Opts.ssl_mode.empty()) lines += "ssl_mode=" + Opts.ssl_mode + "\r\n";
    if (!Opts.ssl_ca.empty()) lines += "ssl_ca=" + Opts.ssl_ca + "\r\n";
    if (!Opts.ssl_cert.empty()) lines += "ssl_cert=" + Opts.ssl_cert + "\r\n";
    if (!Opts.ssl_key.empty()) lines += "ssl_key=" + Opts.ssl_key + "\r\n";
    Server.SetParams("[direct]\r\n" + lines + "[client]\r\n" + lines);
  }
}

}  // namespace

void SaveErrorStream() {
  int fd = ::fcntl(2, F_DUPFD_CLOEXEC, 3);
  g_error_terminal = ::isatty(2) == 1;
  g_error_stream = fd >= 0 ? ::fdopen(fd, "w") : nullptr;
  if (g_error_stream == nullptr) g_error_stream = stderr;
  std::setvbuf(g_error_stream, nullptr, _IONBF, 0);
}

FILE* ErrorStream() { return g_error_stream != nullptr ? g_error_stream : stderr; }
bool ErrorIsTerminal() { return g_error_terminal; }

std::string DataDirectory(const Options& Opts) {
  if (!Opts.datadir.empty()) return Opts.datadir;
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg != nullptr && xdg[0] == '/') return std::string(xdg) + "/rowset";
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr && home[0] != '\0' ? home : ".") + "/.local/share/rowset";
}

std::unique_ptr<TMySQLServer> Connect(const Options& Opts, bool& Cancelled) {
  Cancelled = false;
  Driver kind = Opts.driver;
  if (kind == Driver::kDefault) {
    if (!Opts.socket.empty()) kind = Driver::kLibrary;
    else kind = Opts.NamesServer() ? Driver::kDirect : Driver::kEmbedded;
  }
  auto server = std::make_unique<TMySQLServer>();
  if (kind == Driver::kEmbedded) {
    ConfigureEmbedded(*server, Opts);
  } else {
    ConfigureRemote(*server, Opts, kind);
    if (Opts.prompt_password) {
      std::string host = server->Host(), port = std::to_string(server->Port());
      std::string user = server->UserName(), password = server->Password();
      if (!MySQLLoginDialog(host, port, user, password)) {
        Cancelled = true;
        return server;
      }
      server->SetHost(host);
      char* end = nullptr;
      unsigned long n = std::strtoul(port.c_str(), &end, 10);
      if (!port.empty() && *end == '\0' && n > 0 && n <= 65535) server->SetPort(static_cast<uint16_t>(n));
      server->SetUserName(user);
      server->SetPassword(password);
    }
  }
  server->SetDatabaseName(Opts.database);
  const bool fresh = kind == Driver::kEmbedded &&
                     !std::filesystem::exists(std::filesystem::path(DataDirectory(Opts)) / "db" / "mysql");
  try {
    server->Connect();
    if (fresh) MakeSystemTables(*server);
  } catch (const EMySQLError& e) {
    // The embedded server's reasons are in its log, not in the error.
    if (kind != Driver::kEmbedded || Opts.verbose) throw;
    const std::string where = "(the embedded server's messages are in " + DataDirectory(Opts) + "/server.log)";
    EMySQLError error(e.ErrorCode(), std::string(e.what()) + "\r\n" + where);
    if (e.ServerErrorCode() != 0) error.SetServerError(e.ServerErrorCode(), e.ServerMessage() + " " + where, e.SqlState());
    throw error;
  }
  // Text is exchanged as UTF-8 (all of it, emoji included) where the server
  // knows utf8mb4 (5.5.3 and later), as terminals and files expect today.
  if (server->ServerVer() >= 50503) server->ExecSQL("set names utf8mb4");
  return server;
}

}  // namespace rowset::cli
