// rowset-demo: connects to a MySQL-protocol server and shows what it says.
//   rowset-demo [--host H] [--port P] [--socket PATH] [--user U]
//               [--password PW] [--database DB] [--compress]
// With --socket the local server connection is used instead of TCP/IP.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/Sockets.h"
#include "wire/uMysqlClient.h"

namespace {

void Usage() {
  std::fprintf(stderr,
               "usage: rowset-demo [--host H] [--port P] [--socket PATH] [--user U]\n"
               "                   [--password PW] [--database DB] [--compress]\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::string host = "127.0.0.1", socket, user, password, database;
  unsigned long port = 3306;
  bool compress = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string text;
    bool ok = true;
    if (arg == "--host") ok = value(host);
    else if (arg == "--socket") ok = value(socket);
    else if (arg == "--user") ok = value(user);
    else if (arg == "--password") ok = value(password);
    else if (arg == "--database") ok = value(database);
    else if (arg == "--compress") compress = true;
    else if (arg == "--port") {
      ok = value(text);
      char* end = nullptr;
      port = ok ? std::strtoul(text.c_str(), &end, 10) : 0;
      ok = ok && end != nullptr && *end == '\0' && port < 65536;
    } else if (arg == "--help" || arg == "-h") {
      Usage();
      return 0;
    } else {
      ok = false;
    }
    if (!ok) {
      Usage();
      return 2;
    }
  }

  rowset::TMysqlClient client;
  client.setfcompress(compress);
  if (!socket.empty()) {
    rowset::host::SetLocalServerSocket(socket);
    client.SetNamedPipe(true);
  }
  if (!client.connect(host, user, password, database, static_cast<uint32_t>(port), "",
                      false, 0)) {
    if (client.server_version.empty()) {
      std::fprintf(stderr, "connect failed: [%u] %s\n", client.GetLastErrorNo(),
                   client.GetLastError().c_str());
      return 1;
    }
  }
  std::printf("server version: %s\n", client.server_version.c_str());
  std::printf("thread id: %u\n", client.thread_id);
  std::printf("protocol: %u\n", client.GetProtocol_version());
  if (!client.GetConnected()) {
    std::printf("login: failed: [%u] %s\n", client.GetLastErrorNo(),
                client.GetLastError().c_str());
    return 1;
  }
  std::printf("login: ok as '%s'%s%s\n", user.c_str(),
              client.net.compress ? " (compressed)" : "",
              client.net.VioType() == rowset::VIO_TYPE_NAMEDPIPE ? " (local socket)" : "");
  std::string stat = client.stat();
  if (!stat.empty()) std::printf("status: %s\n", stat.c_str());
  client.close();
  return 0;
}
