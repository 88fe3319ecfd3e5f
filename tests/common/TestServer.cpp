#include "tests/common/TestServer.h"

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <stdexcept>

namespace rowset::test {
namespace {

std::map<std::string, std::string> ReadEnv() {
  std::map<std::string, std::string> vars;
  if (const char* file = std::getenv("ROWSET_TEST_SERVER_ENV")) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
      auto eq = line.find('=');
      if (eq != std::string::npos) vars[line.substr(0, eq)] = line.substr(eq + 1);
    }
  }
  for (const char* name :
       {"ROWSET_TEST_HOST", "ROWSET_TEST_PORT", "ROWSET_TEST_SOCKET", "ROWSET_TEST_USER",
        "ROWSET_TEST_PW_USER", "ROWSET_TEST_PW_PASSWORD", "ROWSET_TEST_OLD_USER",
        "ROWSET_TEST_OLD_PASSWORD", "ROWSET_TEST_DATABASE", "ROWSET_TEST_ROOT_CLIENT",
        "ROWSET_TEST_ED_USER", "ROWSET_TEST_ED_PASSWORD", "ROWSET_TEST_TLS_USER",
        "ROWSET_TEST_TLS_PASSWORD", "ROWSET_TEST_X509_USER", "ROWSET_TEST_X509_PASSWORD",
        "ROWSET_TEST_SSL_CA", "ROWSET_TEST_SSL_CERT", "ROWSET_TEST_SSL_KEY",
        "ROWSET_TEST_SSL_WRONG_CA"}) {
    if (const char* v = std::getenv(name)) vars[name] = v;
  }
  return vars;
}

TestServer Load() {
  auto vars = ReadEnv();
  if (vars.find("ROWSET_TEST_PORT") == vars.end())
    throw std::runtime_error(
        "test server not found: run through ctest (fixture testserver_start) or set ROWSET_TEST_*");
  TestServer s;
  s.host = vars["ROWSET_TEST_HOST"];
  s.port = static_cast<uint16_t>(std::stoi(vars["ROWSET_TEST_PORT"]));
  s.socket = vars["ROWSET_TEST_SOCKET"];
  s.user = vars["ROWSET_TEST_USER"];
  s.pw_user = vars["ROWSET_TEST_PW_USER"];
  s.pw_password = vars["ROWSET_TEST_PW_PASSWORD"];
  s.old_user = vars["ROWSET_TEST_OLD_USER"];
  s.old_password = vars["ROWSET_TEST_OLD_PASSWORD"];
  s.database = vars["ROWSET_TEST_DATABASE"];
  s.root_client = vars["ROWSET_TEST_ROOT_CLIENT"];
  s.ed_user = vars["ROWSET_TEST_ED_USER"];
  s.ed_password = vars["ROWSET_TEST_ED_PASSWORD"];
  s.tls_user = vars["ROWSET_TEST_TLS_USER"];
  s.tls_password = vars["ROWSET_TEST_TLS_PASSWORD"];
  s.x509_user = vars["ROWSET_TEST_X509_USER"];
  s.x509_password = vars["ROWSET_TEST_X509_PASSWORD"];
  s.ssl_ca = vars["ROWSET_TEST_SSL_CA"];
  s.ssl_cert = vars["ROWSET_TEST_SSL_CERT"];
  s.ssl_key = vars["ROWSET_TEST_SSL_KEY"];
  s.ssl_wrong_ca = vars["ROWSET_TEST_SSL_WRONG_CA"];
  return s;
}

}  // namespace

const TestServer& Server() {
  static const TestServer server = Load();
  return server;
}

std::string RootSql(const std::string& sql) {
  char path[] = "/tmp/rowset_sqlXXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  ::close(fd);
  {
    std::ofstream out(path);
    out << sql;
  }
  std::string cmd = Server().root_client + " -N -B < " + path + " 2>&1";
  std::string output;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) throw std::runtime_error("popen failed");
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) output.append(buf.data(), n);
  int rc = pclose(p);
  unlink(path);
  if (rc != 0) throw std::runtime_error("mariadb client failed: " + output);
  return output;
}

std::string FreshDatabase(const std::string& stem) {
  std::string name = stem + "_" + std::to_string(getpid());
  RootSql("DROP DATABASE IF EXISTS `" + name + "`; CREATE DATABASE `" + name + "`;");
  return name;
}

}  // namespace rowset::test
