// MySQL 8's login against a scripted server: its greeting naming
// caching_sha2_password, the fast path, the full path with the server's RSA
// key and over TLS, TLS required of a server that offers none, and a plugin
// this client does not know. Expected answers are computed here from the
// published algorithm; the RSA answer is decrypted with the key the peer
// holds.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/common/ScriptedPeer.h"
#include "tests/common/TestCerts.h"
#include "wire/uMysqlClient.h"
#include "wire/uMysqlTls.h"

namespace rowset {
namespace {

using test::Certs;
using test::Packet;
using test::ScriptedPeer;

constexpr uint32_t kCapabilities = 1 | 4 | 8 | 512 | 8192 | 32768 | (1u << 19);
constexpr uint32_t kClientSsl = 2048;
const std::string kNonce = "0123456789abcdefghij";  // 20 bytes
const std::string kOk("\0\0\0\2\0\0\0", 7);

std::string Greeting8(uint32_t capabilities, const std::string& plugin = "caching_sha2_password") {
  std::string g(1, '\x0a');
  g += "8.0.36";
  g += '\0';
  g += std::string("\x07\0\0\0", 4);  // thread id
  g += kNonce.substr(0, 8);
  g += '\0';
  g += static_cast<char>(capabilities & 0xFF);
  g += static_cast<char>((capabilities >> 8) & 0xFF);
  g += static_cast<char>(255);  // utf8mb4_0900_ai_ci
  g += std::string("\2\0", 2);
  g += static_cast<char>((capabilities >> 16) & 0xFF);
  g += static_cast<char>((capabilities >> 24) & 0xFF);
  g += static_cast<char>(21);
  g.append(10, '\0');
  g += kNonce.substr(8);
  g += '\0';
  g += plugin;
  g += '\0';
  return g;
}

std::string Sha256(const std::string& data) {
  unsigned char out[32];
  unsigned int n = 0;
  EVP_Digest(data.data(), data.size(), out, &n, EVP_sha256(), nullptr);
  return std::string(reinterpret_cast<char*>(out), 32);
}

// XOR(SHA256(pw), SHA256(SHA256(SHA256(pw)) + nonce)).
std::string FastAnswer(const std::string& password) {
  const std::string a = Sha256(password);
  const std::string b = Sha256(Sha256(a) + kNonce);
  std::string out(32, '\0');
  for (int i = 0; i < 32; ++i) out[i] = static_cast<char>(a[i] ^ b[i]);
  return out;
}

// The auth response of a 4.1 login packet (length-prefixed after the user).
std::string AuthResponse(const std::string& packet, const std::string& user) {
  const size_t at = 4 + 32 + user.size() + 1;
  if (packet.size() <= at) return "<short>";
  const size_t n = static_cast<uint8_t>(packet[at]);
  return packet.substr(at + 1, n);
}

uint32_t Flags(const std::string& packet) {
  if (packet.size() < 8) return 0;
  const auto* p = reinterpret_cast<const uint8_t*>(packet.data()) + 4;
  return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24);
}

struct RsaKey {
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key{EVP_RSA_gen(2048), &EVP_PKEY_free};
  std::string Pem() const {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
    PEM_write_bio_PUBKEY(bio.get(), key.get());
    char* data = nullptr;
    long n = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(n));
  }
  std::string Decrypt(const std::string& cipher) const {
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(
        EVP_PKEY_CTX_new(key.get(), nullptr), &EVP_PKEY_CTX_free);
    EVP_PKEY_decrypt_init(ctx.get());
    EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_OAEP_PADDING);
    size_t n = 512;
    std::string out(n, '\0');
    if (EVP_PKEY_decrypt(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &n,
                         reinterpret_cast<const unsigned char*>(cipher.data()), cipher.size()) != 1)
      return "<failed>";
    out.resize(n);
    for (size_t i = 0; i < out.size(); ++i) out[i] ^= kNonce[i % kNonce.size()];
    return out;
  }
};

bool Connect(TMysqlClient& c, uint16_t port, const std::string& password) {
  c.connect_timeout = 5;
  c.fcompress = false;
  return c.connect("127.0.0.1", "u8", password, "", port, "", false, 0);
}

TEST(MySql8Login, CachingSha2FastPath) {
  ScriptedPeer peer;
  peer.Send(Packet(0, Greeting8(kCapabilities)))
      .ReadPacket()
      .Send(Packet(2, "\x01\x03"))  // fast authentication passed
      .Send(Packet(3, kOk))
      .ReadPacket()  // SET NAMES
      .Send(Packet(1, kOk));
  peer.Start();
  TMysqlClient c;
  ASSERT_TRUE(Connect(c, peer.port(), "pw 8")) << c.GetLastError();
  EXPECT_EQ(c.server_version, "8.0.36");
  c.close();
  peer.Join();
  const auto packets = peer.ReceivedPackets();
  ASSERT_GE(packets.size(), 2u);
  EXPECT_EQ(AuthResponse(packets[0], "u8"), FastAnswer("pw 8"));
  EXPECT_NE(packets[0].find(std::string("caching_sha2_password\0", 22)), std::string::npos);
  EXPECT_EQ(Flags(packets[0]) & kClientSsl, 0u);
}

TEST(MySql8Login, CachingSha2FullPathWithTheServersRsaKey) {
  const RsaKey key;
  ScriptedPeer peer;
  peer.Send(Packet(0, Greeting8(kCapabilities)))
      .ReadPacket()
      .Send(Packet(2, "\x01\x04"))  // full authentication
      .ReadPacket()                 // the request for the key
      .Send(Packet(4, "\x01" + key.Pem()))
      .ReadPacket()  // the encrypted password
      .Send(Packet(6, kOk))
      .ReadPacket()
      .Send(Packet(1, kOk));
  peer.Start();
  TMysqlClient c;
  ASSERT_TRUE(Connect(c, peer.port(), "full secret")) << c.GetLastError();
  c.close();
  peer.Join();
  const auto packets = peer.ReceivedPackets();
  ASSERT_GE(packets.size(), 3u);
  EXPECT_EQ(packets[1], Packet(3, "\x02"));
  ASSERT_EQ(packets[2].size(), 4u + 256u);
  EXPECT_EQ(static_cast<uint8_t>(packets[2][3]), 5);
  EXPECT_EQ(key.Decrypt(packets[2].substr(4)), std::string("full secret\0", 12));
  // The password itself never went out in clear.
  EXPECT_EQ(peer.Received().find("full secret"), std::string::npos);
}

TEST(MySql8Login, CachingSha2FullPathOverTls) {
  ScriptedPeer peer;
  peer.Send(Packet(0, Greeting8(kCapabilities | kClientSsl)))
      .ReadPacket()  // the TLS request
      .StartTls(Certs().server_cert, Certs().server_key)
      .ReadPacket()  // the login, encrypted
      .Send(Packet(3, "\x01\x04"))
      .ReadPacket()  // the password in the TLS stream
      .Send(Packet(5, kOk))
      .ReadPacket()
      .Send(Packet(1, kOk));
  peer.Start();
  TMysqlClient c;
  c.ssl.mode = SSL_MODE_VERIFY_IDENTITY;
  c.ssl.ca = Certs().ca;
  ASSERT_TRUE(Connect(c, peer.port(), "tls secret")) << c.GetLastError();
  EXPECT_FALSE(c.GetSslCipher().empty());
  c.close();
  peer.Join();
  const auto packets = peer.ReceivedPackets();
  ASSERT_GE(packets.size(), 3u);
  // The TLS request: the login's first 32 bytes with CLIENT_SSL, sequence 1.
  EXPECT_EQ(packets[0].size(), 4u + 32u);
  EXPECT_EQ(static_cast<uint8_t>(packets[0][3]), 1);
  EXPECT_NE(Flags(packets[0]) & kClientSsl, 0u);
  EXPECT_NE(Flags(packets[0]) & 512u, 0u);
  // The login goes on with the next sequence number, same flags.
  EXPECT_EQ(static_cast<uint8_t>(packets[1][3]), 2);
  EXPECT_EQ(Flags(packets[1]), Flags(packets[0]));
  EXPECT_EQ(packets[1].substr(4, 32), packets[0].substr(4, 32));
  EXPECT_EQ(AuthResponse(packets[1], "u8"), FastAnswer("tls secret"));
  EXPECT_EQ(packets[2], Packet(4, std::string("tls secret\0", 11)));
}

TEST(MySql8Login, TlsRequiredOfAServerWithoutItFailsBeforeTheLogin) {
  for (mysql_ssl_mode mode : {SSL_MODE_REQUIRED, SSL_MODE_VERIFY_CA, SSL_MODE_VERIFY_IDENTITY}) {
    ScriptedPeer peer;
    peer.Send(Packet(0, Greeting8(kCapabilities)));
    peer.Start();
    TMysqlClient c;
    c.ssl.mode = mode;
    c.ssl.ca = Certs().ca;
    EXPECT_FALSE(Connect(c, peer.port(), "pw"));
    EXPECT_EQ(c.GetLastErrorNo(), CR_SSL_CONNECTION_ERROR);
    EXPECT_NE(c.GetLastError().find("does not support"), std::string::npos) << c.GetLastError();
    EXPECT_FALSE(c.GetConnected());
    peer.Join();
    // Not even the password's scramble was sent.
    EXPECT_EQ(peer.Received(), "");
  }
}

TEST(MySql8Login, PreferredGoesOnInClearWhenTheServerHasNoTls) {
  ScriptedPeer peer;
  peer.Send(Packet(0, Greeting8(kCapabilities)))
      .ReadPacket()
      .Send(Packet(2, "\x01\x03"))
      .Send(Packet(3, kOk))
      .ReadPacket()
      .Send(Packet(1, kOk));
  peer.Start();
  TMysqlClient c;
  c.ssl.mode = SSL_MODE_PREFERRED;
  ASSERT_TRUE(Connect(c, peer.port(), "pw")) << c.GetLastError();
  EXPECT_EQ(c.GetSslCipher(), "");
  c.close();
  peer.Join();
}

TEST(MySql8Login, UnknownPluginIsNamed) {
  ScriptedPeer peer;
  std::string sw("\xfe");
  sw += "authentication_kerberos_client";
  sw += '\0';
  sw += kNonce;
  peer.Send(Packet(0, Greeting8(kCapabilities))).ReadPacket().Send(Packet(2, sw));
  peer.Start();
  TMysqlClient c;
  EXPECT_FALSE(Connect(c, peer.port(), "pw"));
  EXPECT_NE(c.GetLastError().find("authentication_kerberos_client"), std::string::npos)
      << c.GetLastError();
  EXPECT_FALSE(c.GetConnected());
  peer.Join();
}

}  // namespace
}  // namespace rowset
