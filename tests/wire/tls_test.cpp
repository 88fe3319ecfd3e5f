// The transport's switch to TLS against a scripted TLS peer: each mode's
// certificate checks, the reasons given when they fail, and plain bytes in
// both directions over the encrypted stream.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/common/ScriptedPeer.h"
#include "tests/common/TestCerts.h"
#include "wire/uMysqlTls.h"
#include "wire/uMysqlVio.h"

namespace rowset {
namespace {

using test::Certs;
using test::ScriptedPeer;

std::string ReadBytes(TMysqlVio& vio, size_t n) {
  std::string out;
  std::vector<char> buf(n);
  while (out.size() < n) {
    long got = vio.vio_read(buf.data(), n - out.size());
    if (got <= 0) break;
    out.append(buf.data(), static_cast<size_t>(got));
  }
  return out;
}

TSslOptions Options(mysql_ssl_mode mode, const std::string& ca = "") {
  TSslOptions o;
  o.mode = mode;
  o.ca = ca;
  return o;
}

// A peer that greets in clear, then serves TLS with `cert`, sends `reply`
// and reads 5 bytes.
struct TlsPeer {
  ScriptedPeer peer;
  TlsPeer(const std::string& cert, const std::string& key, const std::string& reply) {
    peer.Send("hi").StartTls(cert, key).Send(reply).Read(5);
    peer.Start();
  }
};

// Opens, takes the greeting and starts TLS; the result of vio_start_tls.
int Start(TMysqlVio& vio, uint16_t port, const TSslOptions& options, const std::string& host) {
  if (vio.vio_open(VIO_TYPE_TCPIP, "127.0.0.1", "", port, 5, true) != 0) return -100;
  if (ReadBytes(vio, 2) != "hi") return -101;
  return vio.vio_start_tls(options, host);
}

TEST(Tls, EveryModeCarriesBytesBothWaysWhenTheCertificateFits) {
  for (mysql_ssl_mode mode : {SSL_MODE_PREFERRED, SSL_MODE_REQUIRED, SSL_MODE_VERIFY_CA,
                              SSL_MODE_VERIFY_IDENTITY}) {
    for (const char* host : {"127.0.0.1", "localhost"}) {
      SCOPED_TRACE(std::string(SslModeName(mode)) + " " + host);
      // Long enough to span several TLS records and reads.
      const std::string reply(100000, 'r');
      TlsPeer p(Certs().server_cert, Certs().server_key, reply);
      TMysqlVio vio;
      ASSERT_EQ(Start(vio, p.peer.port(), Options(mode, Certs().ca), host), 0)
          << vio.last_error();
      EXPECT_TRUE(vio.vio_tls());
      EXPECT_TRUE(vio.vio_poll_read(5));
      EXPECT_EQ(ReadBytes(vio, reply.size()), reply);
      EXPECT_EQ(vio.vio_write("hello", 5), 5);
      vio.vio_close();
      p.peer.Join();
      EXPECT_EQ(p.peer.Received(), "hello");
      EXPECT_FALSE(vio.vio_tls());
    }
  }
}

TEST(Tls, UnverifiedModesAcceptAnyCertificate) {
  for (mysql_ssl_mode mode : {SSL_MODE_PREFERRED, SSL_MODE_REQUIRED}) {
    TlsPeer p(Certs().other_cert, Certs().other_key, "ok");
    TMysqlVio vio;
    ASSERT_EQ(Start(vio, p.peer.port(), Options(mode, Certs().wrong_ca), "127.0.0.1"), 0)
        << vio.last_error();
    EXPECT_EQ(ReadBytes(vio, 2), "ok");
    EXPECT_EQ(vio.vio_write("hello", 5), 5);
    vio.vio_close();
  }
}

TEST(Tls, AnotherAuthorityFailsVerification) {
  for (mysql_ssl_mode mode : {SSL_MODE_VERIFY_CA, SSL_MODE_VERIFY_IDENTITY}) {
    TlsPeer p(Certs().server_cert, Certs().server_key, "never");
    TMysqlVio vio;
    EXPECT_EQ(Start(vio, p.peer.port(), Options(mode, Certs().wrong_ca), "127.0.0.1"), -1);
    EXPECT_EQ(vio.last_errorno, CR_SSL_CONNECTION_ERROR);
    EXPECT_NE(vio.last_error().find("certificate verify failed"), std::string::npos)
        << vio.last_error();
    EXPECT_NE(vio.last_error().find("local issuer"), std::string::npos) << vio.last_error();
    EXPECT_FALSE(vio.vio_tls());
    vio.vio_close();
  }
}

TEST(Tls, IdentityFailsForANameOrAddressNotInTheCertificate) {
  // Issued by the trusted authority, but for elsewhere.invalid only.
  for (const char* host : {"127.0.0.1", "localhost"}) {
    SCOPED_TRACE(host);
    {
      TlsPeer p(Certs().other_cert, Certs().other_key, "ok");
      TMysqlVio vio;
      EXPECT_EQ(Start(vio, p.peer.port(), Options(SSL_MODE_VERIFY_CA, Certs().ca), host), 0)
          << vio.last_error();
      EXPECT_EQ(ReadBytes(vio, 2), "ok");
      EXPECT_EQ(vio.vio_write("hello", 5), 5);
      vio.vio_close();
    }
    TlsPeer p(Certs().other_cert, Certs().other_key, "never");
    TMysqlVio vio;
    EXPECT_EQ(Start(vio, p.peer.port(), Options(SSL_MODE_VERIFY_IDENTITY, Certs().ca), host), -1);
    EXPECT_EQ(vio.last_errorno, CR_SSL_CONNECTION_ERROR);
    EXPECT_NE(vio.last_error().find("mismatch"), std::string::npos) << vio.last_error();
    EXPECT_NE(vio.last_error().find(host), std::string::npos) << vio.last_error();
    vio.vio_close();
  }
}

TEST(Tls, UnreadableFilesAreNamed) {
  TSslOptions o = Options(SSL_MODE_REQUIRED, "/nonexistent/ca.pem");
  TlsPeer p(Certs().server_cert, Certs().server_key, "never");
  TMysqlVio vio;
  EXPECT_EQ(Start(vio, p.peer.port(), o, "127.0.0.1"), -1);
  EXPECT_EQ(vio.last_errorno, CR_SSL_CONNECTION_ERROR);
  EXPECT_NE(vio.last_error().find("/nonexistent/ca.pem"), std::string::npos) << vio.last_error();
  vio.vio_close();

  TlsPeer p2(Certs().server_cert, Certs().server_key, "never");
  TMysqlVio vio2;
  o = Options(SSL_MODE_REQUIRED);
  o.cert = Certs().client_cert;
  o.key = Certs().other_key;  // not the certificate's key
  EXPECT_EQ(Start(vio2, p2.peer.port(), o, "127.0.0.1"), -1);
  EXPECT_NE(vio2.last_error().find("mismatch"), std::string::npos) << vio2.last_error();
  EXPECT_NE(vio2.last_error().find(Certs().other_key), std::string::npos) << vio2.last_error();
  vio2.vio_close();
}

TEST(Tls, PeerThatBreaksOffTheHandshakeFailsWithoutHanging) {
  ScriptedPeer peer;
  peer.Send("hi").Read(5).Drop();  // takes the start of the client hello, then goes
  peer.Start();
  TMysqlVio vio;
  EXPECT_EQ(Start(vio, peer.port(), Options(SSL_MODE_REQUIRED), "127.0.0.1"), -1);
  EXPECT_EQ(vio.last_errorno, CR_SSL_CONNECTION_ERROR);
  EXPECT_FALSE(vio.vio_tls());
  EXPECT_EQ(vio.vio_read(nullptr, 0), -1);
  vio.vio_close();
}

TEST(Tls, ModeNames) {
  mysql_ssl_mode m = SSL_MODE_DISABLED;
  EXPECT_TRUE(ParseSslMode("verify-identity", m));
  EXPECT_EQ(m, SSL_MODE_VERIFY_IDENTITY);
  EXPECT_TRUE(ParseSslMode("Verify_CA", m));
  EXPECT_EQ(m, SSL_MODE_VERIFY_CA);
  for (mysql_ssl_mode mode : {SSL_MODE_DISABLED, SSL_MODE_PREFERRED, SSL_MODE_REQUIRED,
                              SSL_MODE_VERIFY_CA, SSL_MODE_VERIFY_IDENTITY}) {
    EXPECT_TRUE(ParseSslMode(SslModeName(mode), m));
    EXPECT_EQ(m, mode);
  }
  EXPECT_FALSE(ParseSslMode("", m));
  EXPECT_FALSE(ParseSslMode("on", m));
  EXPECT_EQ(m, SSL_MODE_VERIFY_IDENTITY);  // unchanged by a failed parse
}

}  // namespace
}  // namespace rowset
