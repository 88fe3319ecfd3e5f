// Certificates for the TLS tests, made once per test program by
// scripts/testcerts.sh into a private temporary folder (removed at exit).
#ifndef ROWSET_TESTS_COMMON_TESTCERTS_H_
#define ROWSET_TESTS_COMMON_TESTCERTS_H_

#include <string>

namespace rowset::test {

struct TestCerts {
  std::string dir;
  std::string ca;            // the authority that issued the three below
  std::string server_cert;   // localhost and 127.0.0.1
  std::string server_key;
  std::string other_cert;    // elsewhere.invalid only
  std::string other_key;
  std::string client_cert;
  std::string client_key;
  std::string wrong_ca;      // an unrelated authority
};

// Fails the calling test when the certificates cannot be made.
const TestCerts& Certs();

}  // namespace rowset::test

#endif  // ROWSET_TESTS_COMMON_TESTCERTS_H_
