#include "tests/common/TestCerts.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>

namespace rowset::test {

namespace {

struct Folder {
  std::string path;
  ~Folder() {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
  }
};

}  // namespace

const TestCerts& Certs() {
  static Folder folder;
  static TestCerts certs;
  if (!certs.dir.empty()) return certs;
  const char* source = std::getenv("ROWSET_SOURCE_DIR");
  const std::string script =
      std::string(source != nullptr ? source : ROWSET_TEST_SOURCE_DIR) + "/scripts/testcerts.sh";
  char pattern[] = "/tmp/rowset-certs-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    ADD_FAILURE() << "no temporary folder for the certificates";
    return certs;
  }
  folder.path = pattern;
  const std::string command = "'" + script + "' '" + folder.path + "'";
  if (std::system(command.c_str()) != 0) {
    ADD_FAILURE() << command << " failed";
    return certs;
  }
  const std::string d = folder.path + "/";
  certs.ca = d + "ca.pem";
  certs.server_cert = d + "server.pem";
  certs.server_key = d + "server-key.pem";
  certs.other_cert = d + "other.pem";
  certs.other_key = d + "other-key.pem";
  certs.client_cert = d + "client.pem";
  certs.client_key = d + "client-key.pem";
  certs.wrong_ca = d + "wrong-ca.pem";
  certs.dir = folder.path;
  return certs;
}

}  // namespace rowset::test
