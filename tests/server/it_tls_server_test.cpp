// The connection component over TLS: the direct and library drivers take
// the TLS option lines of their Params sections, and a dataset reads through
// the encrypted connection.
#include <gtest/gtest.h>

#include <string>

#include "tests/server/ServerTestUtil.h"

namespace rowset {
namespace {

using test::Scalar;
using test::Server;
using test::TestComponent;

const char* kSslVersion =
    "SELECT VARIABLE_VALUE FROM information_schema.SESSION_STATUS WHERE VARIABLE_NAME = "
    "'SSL_VERSION'";

TEST(TlsServerComponent, DirectDriverOptionLines) {
  auto server = TestComponent(dtDirect);
  server->SetHost("localhost");
  server->SetUserName(Server().ed_user);
  server->SetPassword(Server().ed_password);
  server->SetParams("[direct]\r\nssl_mode=VERIFY_IDENTITY\r\nssl_ca=" + Server().ssl_ca + "\r\n");
  server->SetConnected(true);
  ASSERT_TRUE(server->GetConnected());
  EXPECT_EQ(Scalar(*server, kSslVersion).rfind("TLSv1.", 0), 0u);
  EXPECT_EQ(Scalar(*server, "SELECT CURRENT_USER()"), Server().ed_user + "@%");
  server->SetConnected(false);

  server->SetParams("[direct]\r\nssl_mode=VERIFY_IDENTITY\r\nssl_ca=" + Server().ssl_wrong_ca +
                    "\r\n");
  try {
    server->SetConnected(true);
    ADD_FAILURE() << "connected with a CA that did not issue the server's certificate";
  } catch (const EMySQLError& e) {
    EXPECT_NE(std::string(e.what()).find("certificate verify failed"), std::string::npos)
        << e.what();
  }
  EXPECT_FALSE(server->GetConnected());
  server->SetParams("[direct]\r\nssl_mode=sometimes\r\n");
  EXPECT_THROW(server->SetConnected(true), EMySQLError);
  EXPECT_FALSE(server->GetConnected());
}

TEST(TlsServerComponent, LibraryDriverOptionLines) {
  auto server = TestComponent(dtLibrary);
  server->SetUserName(Server().tls_user);
  server->SetPassword(Server().tls_password);
  server->SetParams("[client]\r\nssl_mode=VERIFY_IDENTITY\r\nssl_ca=" + Server().ssl_ca + "\r\n");
  server->SetConnected(true);
  ASSERT_TRUE(server->GetConnected());
  EXPECT_EQ(Scalar(*server, kSslVersion).rfind("TLSv1.", 0), 0u);
  server->SetConnected(false);
}

}  // namespace
}  // namespace rowset
