// Where the integration tests find the private MariaDB test server that the
// CTest fixture starts (scripts/testserver.sh): host, port, socket, accounts.
#ifndef ROWSET_TESTS_COMMON_TESTSERVER_H_
#define ROWSET_TESTS_COMMON_TESTSERVER_H_

#include <cstdint>
#include <string>

namespace rowset::test {

struct TestServer {
  std::string host;          // 127.0.0.1
  uint16_t port = 0;
  std::string socket;        // the server's Unix socket
  std::string user;          // account without a password
  std::string pw_user;       // account with a native password
  std::string pw_password;
  std::string old_user;      // account with an old-style password
  std::string old_password;
  std::string database;      // an existing, empty database
  std::string ed_user;       // account with an Ed25519 password (client_ed25519)
  std::string ed_password;
  std::string tls_user;      // account that must come over TLS
  std::string tls_password;
  std::string x509_user;     // account that must show a certificate of the CA
  std::string x509_password;
  std::string ssl_ca;        // the CA that issued the server's certificate
  std::string ssl_cert;      // a client certificate of that CA, and its key
  std::string ssl_key;
  std::string ssl_wrong_ca;  // an unrelated CA
  std::string root_client;   // shell command of the mariadb client as root
};

// The running test server. Reads ROWSET_TEST_* variables, else the file named
// by ROWSET_TEST_SERVER_ENV. Fails the calling test (GTEST_SKIP is not used:
// a missing server is a broken set-up) when neither is there.
const TestServer& Server();

// Runs SQL through the mariadb command-line client as root (for set-up that
// must not depend on the code under test). Returns the client's output.
std::string RootSql(const std::string& sql);

// A database name unique to this test program run, created empty.
std::string FreshDatabase(const std::string& stem);

}  // namespace rowset::test

#endif  // ROWSET_TESTS_COMMON_TESTSERVER_H_
