// rowset-demo: the library's main program. Opens a connection component on a
// server, makes a small database, fills a table through a script and shows
// it through a query dataset.
//
//   rowset-demo                      embedded server in a fresh data directory
//   rowset-demo --datadir DIR        embedded server on DIR (kept)
//   rowset-demo --host H [--port P] [--user U] [--password PW] [--compress]
//                                    a server over TCP/IP, built-in client
//   add --library to use libmariadb.so.3 instead of the built-in client
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>

#include "components/MySQLDataset.h"
#include "components/MySQLServer.h"

namespace {

using namespace rowset;

void Usage() {
  std::fprintf(stderr,
               "usage: rowset-demo [--datadir DIR]\n"
               "       rowset-demo --host H [--port P] [--user U]\n"
               "                   [--password PW] [--compress] [--library]\n");
}

struct Settings {
  std::string datadir, host, user = "root", password;
  uint16_t port = 3306;
  bool compress = false, library = false, remote = false;
};

bool ParseArgs(int argc, char** argv, Settings& s) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string text;
    if (arg == "--datadir") {
      if (!value(s.datadir)) return false;
    } else if (arg == "--host") {
      if (!value(s.host)) return false;
      s.remote = true;
    } else if (arg == "--user") {
      if (!value(s.user)) return false;
    } else if (arg == "--password") {
      if (!value(s.password)) return false;
    } else if (arg == "--port") {
      if (!value(text)) return false;
      char* end = nullptr;
      unsigned long port = std::strtoul(text.c_str(), &end, 10);
      if (text.empty() || *end != '\0' || port == 0 || port > 65535) return false;
      s.port = static_cast<uint16_t>(port);
      s.remote = true;
    } else if (arg == "--compress") {
      s.compress = true;
    } else if (arg == "--library") {
      s.library = true;
    } else {
      return false;
    }
  }
  return true;
}

// A data directory that is removed when the demo ends, unless the user named it.
class DataDir {
 public:
  explicit DataDir(std::string named) : path_(std::move(named)) {
    if (path_.empty()) {
      char pattern[] = "/tmp/rowset-demo-XXXXXX";
      if (const char* made = mkdtemp(pattern)) {
        path_ = made;
        temporary_ = true;
      }
    } else {
      std::filesystem::create_directories(path_);
      path_ = std::filesystem::absolute(path_).string();
    }
  }
  ~DataDir() {
    std::error_code ignored;
    if (temporary_) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  bool temporary_ = false;
};

void Configure(TMySQLServer& server, const Settings& s, const std::string& datadir) {
  if (!s.remote) {
    server.SetParams("[embedded]\r\ndatadir=" + datadir +
                     "\r\nlc-messages-dir=/usr/share/mysql\r\n"
                     "innodb-buffer-pool-size=16M\r\ninnodb-log-file-size=4M\r\n"
                     "innodb-buffer-pool-dump-at-shutdown=0\r\n");
    server.SetDriverType(dtEmbedded);
    return;
  }
  server.SetDriverType(s.library ? dtLibrary : dtDirect);
  server.SetHost(s.host.empty() ? "127.0.0.1" : s.host);
  server.SetPort(s.port);
  server.SetUserName(s.user);
  server.SetPassword(s.password);
  server.SetCompression(s.compress);
}

void PrintDataset(TMySQLQuery& query) {
  const int count = query.FieldCount();
  for (int i = 0; i < count; ++i)
    std::printf("%s%-16s", i ? " | " : "", query.Fields()[i]->FieldName().c_str());
  std::printf("\n");
  for (int i = 0; i < count; ++i) std::printf("%s----------------", i ? "-+-" : "");
  std::printf("\n");
  for (query.First(); !query.Eof(); query.Next()) {
    for (int i = 0; i < count; ++i) {
      TField* field = query.Fields()[i];
      std::string text = field->IsNull() ? "NULL" : field->AsString();
      std::printf("%s%-16s", i ? " | " : "", text.c_str());
    }
    std::printf("\n");
  }
  std::printf("(%d rows)\n", query.RecordCount());
}

int Run(const Settings& s) {
  DataDir datadir(s.remote ? std::string() : s.datadir);
  if (!s.remote && datadir.Path().empty()) {
    std::fprintf(stderr, "rowset-demo: cannot make a data directory\n");
    return 1;
  }

  TMySQLServer server;
  Configure(server, s, datadir.Path());
  server.SetDatabaseName("rowset_demo");
  server.SetOptions(server.Options() + soAutoCreate);
  server.Connect();
  std::printf("client: %s\nserver: %s\ndatabase: %s\n\n", server.ClientVersion().c_str(),
              server.ServerVersion().c_str(), server.ConnectionDatabase().c_str());

  TStringList script;
  script.SetText(
      "drop table if exists fruit;\r\n"
      "create table fruit (\r\n"
      "  id int auto_increment primary key, -- key\r\n"
      "  name varchar(40) not null,\r\n"
      "  price decimal(6,2),\r\n"
      "  picked date\r\n"
      ");\r\n"
      "insert into fruit (name, price, picked) values\r\n"
      "  ('apple', 0.40, '2026-09-14'), ('pear; conference', 0.55, '2026-09-30'),\r\n"
      "  ('quince', null, null), ('it''s a plum', 1.20, '2026-08-02');\r\n");
  server.ExecSQLBatch(script);

  TMySQLQuery query;
  query.SetServer(&server);
  query.SQL()->SetText("select id, name, price, picked from fruit order by id");
  query.Open();
  PrintDataset(query);
  query.Close();

  TStringList tables;
  server.GetTableNames("rowset_demo", &tables);
  std::printf("\ntables in rowset_demo: %s\n", tables.CommaText().c_str());
  server.Disconnect();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  if (!ParseArgs(argc, argv, settings)) {
    Usage();
    return 2;
  }
  try {
    return Run(settings);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "rowset-demo: %s\n", e.what());
    return 1;
  }
}
