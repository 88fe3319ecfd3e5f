// Authentication methods: answers checked the way a server checks them, with
// OpenSSL's own Ed25519 and RSA in the test as the reference.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>

#include <memory>
#include <string>

#include "wire/uMysqlAuth.h"

namespace rowset {
namespace {

std::string Bytes(const uint8_t* p, size_t n) { return std::string(reinterpret_cast<const char*>(p), n); }

std::string Random(size_t n) {
  std::string s(n, '\0');
  RAND_bytes(reinterpret_cast<unsigned char*>(s.data()), static_cast<int>(n));
  return s;
}

std::string Hex(const std::string& s) {
  static const char* d = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out += d[c >> 4];
    out += d[c & 15];
  }
  return out;
}

using PKey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

// OpenSSL's Ed25519 signature with a 32-byte seed.
std::string ReferenceSign(const std::string& seed, const std::string& message, std::string& pub) {
  PKey key(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr,
                                        reinterpret_cast<const unsigned char*>(seed.data()), 32),
           &EVP_PKEY_free);
  EXPECT_TRUE(key);
  size_t n = 32;
  pub.assign(32, '\0');
  EVP_PKEY_get_raw_public_key(key.get(), reinterpret_cast<unsigned char*>(pub.data()), &n);
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key.get());
  std::string sig(64, '\0');
  n = 64;
  EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(sig.data()), &n,
                 reinterpret_cast<const unsigned char*>(message.data()), message.size());
  return sig;
}

bool ReferenceVerify(const std::string& pub, const std::string& message, const std::string& sig) {
  PKey key(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                       reinterpret_cast<const unsigned char*>(pub.data()), 32),
           &EVP_PKEY_free);
  if (!key) return false;
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get());
  return EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(sig.data()), sig.size(),
                          reinterpret_cast<const unsigned char*>(message.data()),
                          message.size()) == 1;
}

TEST(Ed25519Test, PublishedVectorOfAThirtyTwoByteSeed) {
  // The first test vector of the Ed25519 definition (empty message).
  std::string seed;
  const char* hex = "9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60";
  for (int i = 0; i < 64; i += 2) seed += static_cast<char>(std::stoi(std::string(hex + i, 2), nullptr, 16));
  EXPECT_EQ(Hex(Ed25519PublicKey(seed)),
            "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a");
  EXPECT_EQ(Hex(Ed25519Sign(seed, "")),
            "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e06522490155"
            "5fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24655141438e7a100b");
}

TEST(Ed25519Test, EqualsOpenSslForThirtyTwoByteSeeds) {
  for (int i = 0; i < 20; ++i) {
    const std::string seed = Random(32), message = Random(32);
    std::string pub;
    const std::string sig = ReferenceSign(seed, message, pub);
    EXPECT_EQ(Hex(Ed25519PublicKey(seed)), Hex(pub));
    EXPECT_EQ(Hex(Ed25519Sign(seed, message)), Hex(sig));
  }
}

TEST(Ed25519Test, PasswordsOfAnyLengthGiveValidSignatures) {
  for (const std::string& password :
       {std::string(), std::string("secret"), std::string(100, 'x'), std::string("p\0w", 3),
        Random(7), Random(33), Random(200)}) {
    const std::string challenge = Random(32);
    const std::string pub = Ed25519PublicKey(password);
    const std::string sig = Ed25519Sign(password, challenge);
    ASSERT_EQ(sig.size(), 64u);
    EXPECT_TRUE(ReferenceVerify(pub, challenge, sig)) << Hex(password);
    // Another password's key does not verify it, nor does another message.
    EXPECT_FALSE(ReferenceVerify(Ed25519PublicKey(password + "x"), challenge, sig));
    EXPECT_FALSE(ReferenceVerify(pub, Random(32), sig));
  }
}

TEST(CachingSha2Test, FastAnswerPassesTheServersCheck) {
  // The server keeps SHA256(SHA256(pw)); the answer XOR SHA256(stored + nonce)
  // must be a text whose SHA256 is the stored value.
  for (const std::string& password : {std::string("secret"), std::string(80, 'q'), Random(12)}) {
    const std::string nonce = Random(20);
    const auto p1 = Sha256(password);
    const auto stored = Sha256(Bytes(p1.data(), 32));
    const auto mix = Sha256(Bytes(stored.data(), 32) + nonce);
    const std::string answer = CachingSha2Scramble(password, nonce + std::string(1, '\0'));
    ASSERT_EQ(answer.size(), 32u);
    std::string candidate(32, '\0');
    for (int i = 0; i < 32; ++i) candidate[i] = static_cast<char>(answer[i] ^ mix[i]);
    EXPECT_EQ(Sha256(candidate), stored);
    // A different nonce gives a different answer.
    EXPECT_NE(CachingSha2Scramble(password, Random(20)), answer);
  }
  EXPECT_EQ(CachingSha2Scramble("", Random(20)), "");
}

struct RsaKey {
  PKey key{nullptr, &EVP_PKEY_free};
  std::string public_pem;

  RsaKey() {
    key.reset(EVP_RSA_gen(2048));
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
    PEM_write_bio_PUBKEY(bio.get(), key.get());
    char* data = nullptr;
    long n = BIO_get_mem_data(bio.get(), &data);
    public_pem.assign(data, static_cast<size_t>(n));
  }

  std::string Decrypt(const std::string& cipher) const {
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(
        EVP_PKEY_CTX_new(key.get(), nullptr), &EVP_PKEY_CTX_free);
    EVP_PKEY_decrypt_init(ctx.get());
    EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_OAEP_PADDING);
    size_t n = 0;
    const auto* in = reinterpret_cast<const unsigned char*>(cipher.data());
    if (EVP_PKEY_decrypt(ctx.get(), nullptr, &n, in, cipher.size()) != 1) return "<failed>";
    std::string out(n, '\0');
    if (EVP_PKEY_decrypt(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &n, in,
                         cipher.size()) != 1)
      return "<failed>";
    out.resize(n);
    return out;
  }
};

const RsaKey& TestKey() {
  static const RsaKey key;
  return key;
}

std::string Unmask(std::string text, const std::string& nonce) {
  for (size_t i = 0; i < text.size(); ++i) text[i] ^= nonce[i % nonce.size()];
  return text;
}

TEST(CachingSha2Test, RsaAnswerDecryptsToThePasswordWithTheNonce) {
  const std::string nonce = Random(20);
  std::string cipher, error;
  // Longer than the nonce, so the nonce repeats.
  const std::string password = "a password longer than twenty bytes";
  ASSERT_TRUE(CachingSha2Encrypt(password, nonce, TestKey().public_pem, cipher, error)) << error;
  EXPECT_EQ(cipher.size(), 256u);
  EXPECT_EQ(Unmask(TestKey().Decrypt(cipher), nonce), password + std::string(1, '\0'));

  EXPECT_FALSE(CachingSha2Encrypt(password, nonce, "not a key", cipher, error));
  EXPECT_NE(error.find("RSA public key"), std::string::npos) << error;
  // Too long for the key: refused with a message, nothing sent.
  EXPECT_FALSE(CachingSha2Encrypt(std::string(300, 'p'), nonce, TestKey().public_pem, cipher, error));
  EXPECT_TRUE(cipher.empty());
  EXPECT_FALSE(error.empty());
}

TEST(AuthPluginTest, CachingSha2Exchanges) {
  const std::string nonce = Random(20);
  std::string answer, error;
  bool send = false;
  TAuthParams params;
  params.password = "pw";

  // Fast path: the server accepts the scramble and then sends OK.
  auto plugin = CreateAuthPlugin("caching_sha2_password", params);
  ASSERT_TRUE(plugin);
  ASSERT_TRUE(plugin->Answer(nonce, answer, error)) << error;
  EXPECT_EQ(answer, CachingSha2Scramble("pw", nonce));
  ASSERT_TRUE(plugin->MoreData("\3", answer, send, error)) << error;
  EXPECT_FALSE(send);

  // Full path, insecure transport: asks for the key, then sends RSA.
  plugin = CreateAuthPlugin("caching_sha2_password", params);
  ASSERT_TRUE(plugin->Answer(nonce, answer, error));
  ASSERT_TRUE(plugin->MoreData("\4", answer, send, error)) << error;
  EXPECT_TRUE(send);
  EXPECT_EQ(answer, "\2");
  ASSERT_TRUE(plugin->MoreData(TestKey().public_pem, answer, send, error)) << error;
  EXPECT_TRUE(send);
  EXPECT_EQ(Unmask(TestKey().Decrypt(answer), nonce), std::string("pw\0", 3));

  // Full path over a secure transport: the password in clear.
  params.secure_transport = true;
  plugin = CreateAuthPlugin("caching_sha2_password", params);
  ASSERT_TRUE(plugin->Answer(nonce, answer, error));
  ASSERT_TRUE(plugin->MoreData("\4", answer, send, error)) << error;
  EXPECT_TRUE(send);
  EXPECT_EQ(answer, std::string("pw\0", 3));

  // Insecure, no key file and asking the server not allowed: a clear error.
  params.secure_transport = false;
  params.get_server_public_key = false;
  plugin = CreateAuthPlugin("caching_sha2_password", params);
  ASSERT_TRUE(plugin->Answer(nonce, answer, error));
  EXPECT_FALSE(plugin->MoreData("\4", answer, send, error));
  EXPECT_NE(error.find("TLS or the server's RSA public key"), std::string::npos) << error;

  // A missing key file is named.
  params.server_public_key_file = "/nonexistent/key.pem";
  plugin = CreateAuthPlugin("caching_sha2_password", params);
  ASSERT_TRUE(plugin->Answer(nonce, answer, error));
  EXPECT_FALSE(plugin->MoreData("\4", answer, send, error));
  EXPECT_NE(error.find("/nonexistent/key.pem"), std::string::npos) << error;

  // Something else than the two markers fails; so does a short challenge.
  plugin = CreateAuthPlugin("caching_sha2_password", params);
  ASSERT_TRUE(plugin->Answer(nonce, answer, error));
  EXPECT_FALSE(plugin->MoreData("\7\7", answer, send, error));
  EXPECT_FALSE(plugin->Answer("short", answer, error));
}

TEST(AuthPluginTest, KnownAndUnknownPlugins) {
  TAuthParams params;
  params.password = "secret";
  std::string answer, error;
  bool send = true;
  auto native = CreateAuthPlugin("mysql_native_password", params);
  ASSERT_TRUE(native);
  EXPECT_TRUE(native->Answer(std::string(20, 'c'), answer, error));
  EXPECT_EQ(answer.size(), 20u);
  EXPECT_FALSE(native->Answer("short", answer, error));
  EXPECT_FALSE(native->MoreData("x", answer, send, error));
  EXPECT_FALSE(send);

  auto ed = CreateAuthPlugin("client_ed25519", params);
  ASSERT_TRUE(ed);
  const std::string challenge = Random(32);
  EXPECT_TRUE(ed->Answer(challenge, answer, error));
  EXPECT_TRUE(ReferenceVerify(Ed25519PublicKey("secret"), challenge, answer));
  EXPECT_FALSE(ed->Answer(Random(31), answer, error));

  EXPECT_EQ(CreateAuthPlugin("auth_gssapi_client", params), nullptr);
  EXPECT_EQ(CreateAuthPlugin("", params), nullptr);
  EXPECT_NE(UnknownAuthPluginText("auth_gssapi_client").find("'auth_gssapi_client'"),
            std::string::npos);
}

}  // namespace
}  // namespace rowset
