// TLS and the authentication plugins of the built-in client against the
// real test server: each TLS mode, certificate and host checks that fail,
// accounts that require TLS or a client certificate, compression inside TLS,
// Ed25519 accounts, and the options of the flat interface.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/common/TestServer.h"
#include "wire/ViVURIzodor.h"
#include "wire/uMysqlClient.h"

namespace rowset {
namespace {

using test::Server;

struct Login {
  std::string user, password;
};
Login Tls() { return {Server().tls_user, Server().tls_password}; }
Login Ed() { return {Server().ed_user, Server().ed_password}; }
Login X509() { return {Server().x509_user, Server().x509_password}; }
Login Native() { return {Server().pw_user, Server().pw_password}; }

TSslOptions Ssl(mysql_ssl_mode mode, const std::string& ca = Server().ssl_ca) {
  TSslOptions o;
  o.mode = mode;
  o.ca = ca;
  return o;
}

std::unique_ptr<TMysqlClient> Open(const Login& login, const TSslOptions& ssl,
                                   const std::string& host = Server().host,
                                   bool compress = false) {
  auto c = std::make_unique<TMysqlClient>();
  c->auto_reconnect = false;
  c->setfcompress(compress);
  c->ssl = ssl;
  c->connect(host, login.user, login.password, "", Server().port, "", false, 0);
  return c;
}

// The first value of the first row of `sql`; "<error>" on failure.
std::string Value(TMysqlClient& c, const std::string& sql) {
  bool completed = false;
  std::unique_ptr<TMysqlResult> r = c.query(sql, true, completed);
  if (!r || r->row_count == 0) return "<error> " + c.GetLastError();
  r->First();
  r->FetchLengths();
  const char* v = r->FieldValue(0);
  return v != nullptr ? std::string(v, r->FieldLenght(0)) : "NULL";
}

std::string SslVersion(TMysqlClient& c) {
  return Value(c, "SELECT VARIABLE_VALUE FROM information_schema.SESSION_STATUS "
                  "WHERE VARIABLE_NAME = 'SSL_VERSION'");
}

TEST(TlsLogin, EveryModeLogsInOverTlsByAddressAndByName) {
  for (mysql_ssl_mode mode : {SSL_MODE_PREFERRED, SSL_MODE_REQUIRED, SSL_MODE_VERIFY_CA,
                              SSL_MODE_VERIFY_IDENTITY}) {
    for (const char* host : {"127.0.0.1", "localhost"}) {
      SCOPED_TRACE(std::string(SslModeName(mode)) + " " + host);
      auto c = Open(Tls(), Ssl(mode), host);
      ASSERT_TRUE(c->GetConnected()) << c->GetLastError();
      EXPECT_FALSE(c->GetSslCipher().empty());
      EXPECT_EQ(SslVersion(*c).rfind("TLSv1.", 0), 0u) << SslVersion(*c);
      EXPECT_EQ(Value(*c, "SELECT CURRENT_USER()"), Tls().user + "@%");
      c->close();
    }
  }
}

TEST(TlsLogin, DisabledModeSpeaksInClearAndAnAccountRequiringTlsRefuses) {
  auto c = Open(Native(), Ssl(SSL_MODE_DISABLED));
  ASSERT_TRUE(c->GetConnected()) << c->GetLastError();
  EXPECT_EQ(c->GetSslCipher(), "");
  EXPECT_EQ(SslVersion(*c), "");
  c->close();

  c = Open(Tls(), Ssl(SSL_MODE_DISABLED));
  EXPECT_FALSE(c->GetConnected());
  EXPECT_EQ(c->GetLastErrorNo(), 1045u) << c->GetLastError();
}

TEST(TlsLogin, AWrongAuthorityFailsVerificationNamingWhy) {
  for (mysql_ssl_mode mode : {SSL_MODE_VERIFY_CA, SSL_MODE_VERIFY_IDENTITY}) {
    auto c = Open(Tls(), Ssl(mode, Server().ssl_wrong_ca));
    EXPECT_FALSE(c->GetConnected());
    EXPECT_EQ(c->GetLastErrorNo(), CR_SSL_CONNECTION_ERROR);
    EXPECT_NE(c->GetLastError().find("certificate verify failed"), std::string::npos)
        << c->GetLastError();
  }
  // The unverified modes do not look at the authority.
  auto c = Open(Tls(), Ssl(SSL_MODE_REQUIRED, Server().ssl_wrong_ca));
  EXPECT_TRUE(c->GetConnected()) << c->GetLastError();
}

TEST(TlsLogin, ClientCertificateForAnAccountThatRequiresOne) {
  TSslOptions ssl = Ssl(SSL_MODE_VERIFY_IDENTITY);
  auto c = Open(X509(), ssl);
  EXPECT_FALSE(c->GetConnected());  // no certificate shown
  EXPECT_EQ(c->GetLastErrorNo(), 1045u) << c->GetLastError();

  ssl.cert = Server().ssl_cert;
  ssl.key = Server().ssl_key;
  c = Open(X509(), ssl);
  ASSERT_TRUE(c->GetConnected()) << c->GetLastError();
  EXPECT_EQ(Value(*c, "SELECT CURRENT_USER()"), X509().user + "@%");
}

TEST(TlsLogin, CompressionInsideTls) {
  auto c = Open(Tls(), Ssl(SSL_MODE_VERIFY_IDENTITY), Server().host, true);
  ASSERT_TRUE(c->GetConnected()) << c->GetLastError();
  EXPECT_TRUE(c->net.compress);
  EXPECT_EQ(Value(*c, "SELECT VARIABLE_VALUE FROM information_schema.SESSION_STATUS "
                      "WHERE VARIABLE_NAME = 'COMPRESSION'"),
            "ON");
  EXPECT_EQ(SslVersion(*c).rfind("TLSv1.", 0), 0u);
  // Large values both ways: a statement and a result over many frames and
  // records.
  std::string text;
  for (int i = 0; i < 30000; ++i) text += static_cast<char>('a' + (i * 7919) % 26);
  EXPECT_EQ(Value(*c, "SELECT '" + text + "'"), text);
  EXPECT_EQ(Value(*c, "SELECT LENGTH(REPEAT('xyz', 200000))"), "600000");
  EXPECT_EQ(Value(*c, "SELECT MD5(REPEAT('xyz', 200000)) = MD5(CONCAT(REPEAT('xyz', 100000), "
                      "REPEAT('xyz', 100000)))"),
            "1");
}

TEST(Ed25519Login, RightAndWrongPassword) {
  for (mysql_ssl_mode mode : {SSL_MODE_DISABLED, SSL_MODE_VERIFY_IDENTITY}) {
    SCOPED_TRACE(SslModeName(mode));
    // Each login signs a fresh challenge.
    for (int i = 0; i < 8; ++i) {
      auto c = Open(Ed(), Ssl(mode));
      ASSERT_TRUE(c->GetConnected()) << c->GetLastError();
      EXPECT_EQ(Value(*c, "SELECT CURRENT_USER()"), Ed().user + "@%");
    }
    auto c = Open({Ed().user, Ed().password + "x"}, Ssl(mode));
    EXPECT_FALSE(c->GetConnected());
    EXPECT_EQ(c->GetLastErrorNo(), 1045u) << c->GetLastError();
    c = Open({Ed().user, ""}, Ssl(mode));
    EXPECT_FALSE(c->GetConnected());
    EXPECT_EQ(c->GetLastErrorNo(), 1045u) << c->GetLastError();
  }
}

TEST(TlsFlatInterface, OptionsAndCipher) {
  ViVURIzodorHandle m = mysql_init(nullptr);
  ASSERT_NE(m, nullptr);
  mysql_ssl_set(m, nullptr, nullptr, Server().ssl_ca.c_str(), nullptr, nullptr);
  const char on = 1;
  mysql_options(m, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &on);
  ASSERT_EQ(mysql_real_connect(m, "localhost", Tls().user.c_str(), Tls().password.c_str(), "",
                               Server().port, nullptr, 0),
            1)
      << mysql_error(m);
  ASSERT_NE(mysql_get_ssl_cipher(m), nullptr);
  EXPECT_NE(std::string(mysql_get_ssl_cipher(m)), "");
  mysql_close(m);

  m = mysql_init(nullptr);
  mysql_ssl_set(m, nullptr, nullptr, Server().ssl_wrong_ca.c_str(), nullptr, nullptr);
  mysql_options(m, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &on);
  EXPECT_EQ(mysql_real_connect(m, "127.0.0.1", Tls().user.c_str(), Tls().password.c_str(), "",
                               Server().port, nullptr, 0),
            0);
  EXPECT_EQ(mysql_errno(m), CR_SSL_CONNECTION_ERROR);
  mysql_close(m);
}

}  // namespace
}  // namespace rowset
