#include "wire/uMysqlAuth.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <cstring>
#include <fstream>
#include <new>
#include <sstream>

#include "wire/uMysqlNewPassword.h"

namespace rowset {

namespace {

template <size_t N>
std::array<uint8_t, N> Digest(const EVP_MD* md, std::string_view a,
                              std::string_view b = {}, std::string_view c = {}) {
  std::array<uint8_t, N> out{};
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(),
                                                              &EVP_MD_CTX_free);
  unsigned int n = 0;
  if (!ctx || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1 ||
      EVP_DigestUpdate(ctx.get(), a.data(), a.size()) != 1 ||
      EVP_DigestUpdate(ctx.get(), b.data(), b.size()) != 1 ||
      EVP_DigestUpdate(ctx.get(), c.data(), c.size()) != 1 ||
      EVP_DigestFinal_ex(ctx.get(), out.data(), &n) != 1 || n != N)
    throw std::bad_alloc();
  return out;
}

template <size_t N>
std::string_view View(const std::array<uint8_t, N>& a) {
  return std::string_view(reinterpret_cast<const char*>(a.data()), N);
}

std::string OpenSslError(const char* what) {
  unsigned long e = ERR_get_error();
  ERR_clear_error();
  std::string text = what;
  if (e != 0) {
    char buf[256];
    ERR_error_string_n(e, buf, sizeof buf);
    text += ": ";
    text += buf;
  }
  return text;
}

// ---- Ed25519 -------------------------------------------------------------
// Field elements modulo p = 2^255 - 19 in five limbs of 51 bits.

using Fe = std::array<uint64_t, 5>;
constexpr uint64_t kMask51 = (uint64_t{1} << 51) - 1;

void Carry(Fe& r) {
  for (int i = 0; i < 4; ++i) {
    r[i + 1] += r[i] >> 51;
    r[i] &= kMask51;
  }
  r[0] += 19 * (r[4] >> 51);
  r[4] &= kMask51;
  r[1] += r[0] >> 51;
  r[0] &= kMask51;
}

Fe FeAdd(const Fe& a, const Fe& b) {
  Fe r;
  for (int i = 0; i < 5; ++i) r[i] = a[i] + b[i];
  Carry(r);
  return r;
}

Fe FeSub(const Fe& a, const Fe& b) {
  // a + 4p - b: every limb stays positive for carried inputs.
  static constexpr uint64_t k4p0 = 0x1FFFFFFFFFFFB4, k4pi = 0x1FFFFFFFFFFFFC;
  Fe r;
  r[0] = a[0] + k4p0 - b[0];
  for (int i = 1; i < 5; ++i) r[i] = a[i] + k4pi - b[i];
  Carry(r);
  return r;
}

Fe FeMul(const Fe& a, const Fe& b) {
  using u128 = unsigned __int128;
  const uint64_t b1 = b[1] * 19, b2 = b[2] * 19, b3 = b[3] * 19, b4 = b[4] * 19;
  u128 t0 = (u128)a[0] * b[0] + (u128)a[1] * b4 + (u128)a[2] * b3 + (u128)a[3] * b2 +
            (u128)a[4] * b1;
  u128 t1 = (u128)a[0] * b[1] + (u128)a[1] * b[0] + (u128)a[2] * b4 + (u128)a[3] * b3 +
            (u128)a[4] * b2;
  u128 t2 = (u128)a[0] * b[2] + (u128)a[1] * b[1] + (u128)a[2] * b[0] + (u128)a[3] * b4 +
            (u128)a[4] * b3;
  u128 t3 = (u128)a[0] * b[3] + (u128)a[1] * b[2] + (u128)a[2] * b[1] + (u128)a[3] * b[0] +
            (u128)a[4] * b4;
  u128 t4 = (u128)a[0] * b[4] + (u128)a[1] * b[3] + (u128)a[2] * b[2] + (u128)a[3] * b[1] +
            (u128)a[4] * b[0];
  Fe r;
  t1 += t0 >> 51;
  r[0] = static_cast<uint64_t>(t0) & kMask51;
  t2 += t1 >> 51;
  r[1] = static_cast<uint64_t>(t1) & kMask51;
  t3 += t2 >> 51;
  r[2] = static_cast<uint64_t>(t2) & kMask51;
  t4 += t3 >> 51;
  r[3] = static_cast<uint64_t>(t3) & kMask51;
  r[4] = static_cast<uint64_t>(t4) & kMask51;
  r[0] += static_cast<uint64_t>(t4 >> 51) * 19;
  r[1] += r[0] >> 51;
  r[0] &= kMask51;
  return r;
}

Fe FeFromInt(uint64_t v) { return Fe{v, 0, 0, 0, 0}; }

// a^e, e given as 32 little-endian bytes (public exponents only).
Fe FePow(const Fe& a, const uint8_t* e) {
  Fe r = FeFromInt(1);
  for (int bit = 255; bit >= 0; --bit) {
    r = FeMul(r, r);
    if ((e[bit / 8] >> (bit % 8)) & 1) r = FeMul(r, a);
  }
  return r;
}

// Exponents of the form x, 30 bytes of 0xFF, y (little-endian).
std::array<uint8_t, 32> Exponent(uint8_t low, uint8_t high) {
  std::array<uint8_t, 32> e;
  e.fill(0xFF);
  e[0] = low;
  e[31] = high;
  return e;
}

Fe FeInvert(const Fe& a) {
  static const auto kPMinus2 = Exponent(0xEB, 0x7F);
  return FePow(a, kPMinus2.data());
}

void FeToBytes(Fe r, uint8_t out[32]) {
  Carry(r);
  Carry(r);
  // Subtract p once when r >= p.
  uint64_t q = (r[0] + 19) >> 51;
  for (int i = 1; i < 5; ++i) q = (r[i] + q) >> 51;
  r[0] += 19 * q;
  for (int i = 0; i < 4; ++i) {
    r[i + 1] += r[i] >> 51;
    r[i] &= kMask51;
  }
  r[4] &= kMask51;
  std::memset(out, 0, 32);
  for (int bit = 0; bit < 255; ++bit)
    if ((r[bit / 51] >> (bit % 51)) & 1) out[bit / 8] |= static_cast<uint8_t>(1 << (bit % 8));
}

bool FeEqual(const Fe& a, const Fe& b) {
  uint8_t x[32], y[32];
  FeToBytes(a, x);
  FeToBytes(b, y);
  return std::memcmp(x, y, 32) == 0;
}

// Points in extended coordinates (X:Y:Z:T), x = X/Z, y = Y/Z, xy = T/Z.
struct Point {
  Fe x, y, z, t;
};

struct Curve {
  Fe d2;  // 2d
  Point base;
};

const Curve& TheCurve() {
  static const Curve curve = [] {
    Curve c;
    // d = -121665 / 121666.
    const Fe d = FeSub(FeFromInt(0), FeMul(FeFromInt(121665), FeInvert(FeFromInt(121666))));
    c.d2 = FeAdd(d, d);
    // The base point: y = 4/5 and the even x with x^2 = (y^2 - 1)/(d y^2 + 1).
    const Fe y = FeMul(FeFromInt(4), FeInvert(FeFromInt(5)));
    const Fe yy = FeMul(y, y);
    const Fe u = FeMul(FeSub(yy, FeFromInt(1)), FeInvert(FeAdd(FeMul(d, yy), FeFromInt(1))));
    static const auto kSqrtExp = Exponent(0xFE, 0x0F);    // (p + 3) / 8
    static const auto kSqrtM1Exp = Exponent(0xFB, 0x1F);  // (p - 1) / 4
    Fe x = FePow(u, kSqrtExp.data());
    if (!FeEqual(FeMul(x, x), u)) x = FeMul(x, FePow(FeFromInt(2), kSqrtM1Exp.data()));
    uint8_t bytes[32];
    FeToBytes(x, bytes);
    if (bytes[0] & 1) x = FeSub(FeFromInt(0), x);
    c.base = Point{x, y, FeFromInt(1), FeMul(x, y)};
    return c;
  }();
  return curve;
}

// The unified addition of twisted Edwards curves with a = -1; complete, so
// it also doubles.
Point Add(const Point& p, const Point& q, const Fe& d2) {
  const Fe a = FeMul(FeSub(p.y, p.x), FeSub(q.y, q.x));
  const Fe b = FeMul(FeAdd(p.y, p.x), FeAdd(q.y, q.x));
  const Fe c = FeMul(FeMul(p.t, d2), q.t);
  const Fe zz = FeMul(p.z, q.z);
  const Fe dd = FeAdd(zz, zz);
  const Fe e = FeSub(b, a), f = FeSub(dd, c), g = FeAdd(dd, c), h = FeAdd(b, a);
  return Point{FeMul(e, f), FeMul(g, h), FeMul(f, g), FeMul(e, h)};
}

void Select(Point& r, const Point& a, uint64_t take) {
  const uint64_t mask = 0 - take;
  auto sel = [mask](Fe& x, const Fe& y) {
    for (int i = 0; i < 5; ++i) x[i] ^= mask & (x[i] ^ y[i]);
  };
  sel(r.x, a.x);
  sel(r.y, a.y);
  sel(r.z, a.z);
  sel(r.t, a.t);
}

// scalar (32 little-endian bytes) times the base point, in constant time.
std::string BaseMul(const uint8_t scalar[32]) {
  const Curve& c = TheCurve();
  Point q{FeFromInt(0), FeFromInt(1), FeFromInt(1), FeFromInt(0)};
  for (int bit = 255; bit >= 0; --bit) {
    q = Add(q, q, c.d2);
    const Point r = Add(q, c.base, c.d2);
    Select(q, r, (scalar[bit / 8] >> (bit % 8)) & 1);
  }
  const Fe zi = FeInvert(q.z);
  uint8_t x[32], y[32];
  FeToBytes(FeMul(q.x, zi), x);
  FeToBytes(FeMul(q.y, zi), y);
  y[31] |= static_cast<uint8_t>((x[0] & 1) << 7);
  return std::string(reinterpret_cast<const char*>(y), 32);
}

// Scalars modulo the group order L = 2^252 + 27742317777372353535851937790883648493.
struct BnDeleter {
  void operator()(BIGNUM* b) const { BN_clear_free(b); }
  void operator()(BN_CTX* c) const { BN_CTX_free(c); }
};
using Bn = std::unique_ptr<BIGNUM, BnDeleter>;

Bn LeToBn(std::string_view bytes) {
  Bn b(BN_lebin2bn(reinterpret_cast<const unsigned char*>(bytes.data()),
                   static_cast<int>(bytes.size()), nullptr));
  if (!b) throw std::bad_alloc();
  return b;
}

std::string BnToLe32(const BIGNUM* b) {
  std::string out(32, '\0');
  if (BN_bn2lebinpad(b, reinterpret_cast<unsigned char*>(out.data()), 32) != 32)
    throw std::bad_alloc();
  return out;
}

const BIGNUM* Order() {
  static const Bn order = [] {
    BIGNUM* b = nullptr;
    BN_hex2bn(&b, "1000000000000000000000000000000014DEF9DEA2F79CD65812631A5CF5D3ED");
    if (b == nullptr) throw std::bad_alloc();
    return Bn(b);
  }();
  return order.get();
}

struct TEd25519Key {
  std::array<uint8_t, 32> scalar;  // clamped
  std::string prefix;              // second half of the hash
  std::string public_key;
};

TEd25519Key MakeKey(std::string_view password) {
  std::array<uint8_t, 64> h = Sha512(password);
  TEd25519Key key;
  std::memcpy(key.scalar.data(), h.data(), 32);
  key.scalar[0] &= 248;
  key.scalar[31] &= 127;
  key.scalar[31] |= 64;
  key.prefix.assign(reinterpret_cast<const char*>(h.data()) + 32, 32);
  OPENSSL_cleanse(h.data(), h.size());
  key.public_key = BaseMul(key.scalar.data());
  return key;
}

}  // namespace

std::array<uint8_t, 32> Sha256(std::string_view data) { return Digest<32>(EVP_sha256(), data); }
std::array<uint8_t, 64> Sha512(std::string_view data) { return Digest<64>(EVP_sha512(), data); }

std::string Ed25519PublicKey(std::string_view password) {
  TEd25519Key key = MakeKey(password);
  OPENSSL_cleanse(key.scalar.data(), key.scalar.size());
  OPENSSL_cleanse(key.prefix.data(), key.prefix.size());
  return key.public_key;
}

std::string Ed25519Sign(std::string_view password, std::string_view message) {
  TEd25519Key key = MakeKey(password);
  std::unique_ptr<BN_CTX, BnDeleter> ctx(BN_CTX_new());
  if (!ctx) throw std::bad_alloc();
  // r = SHA512(prefix + message) mod L; R = rB.
  Bn r = LeToBn(View(Digest<64>(EVP_sha512(), key.prefix, message)));
  BN_nnmod(r.get(), r.get(), Order(), ctx.get());
  const std::string r_bytes = BnToLe32(r.get());
  const std::string big_r = BaseMul(reinterpret_cast<const uint8_t*>(r_bytes.data()));
  // k = SHA512(R + A + message) mod L; S = r + k a mod L.
  Bn k = LeToBn(View(Digest<64>(EVP_sha512(), big_r, key.public_key, message)));
  Bn a = LeToBn(std::string_view(reinterpret_cast<const char*>(key.scalar.data()), 32));
  Bn s(BN_new());
  if (!s) throw std::bad_alloc();
  BN_mod_mul(s.get(), k.get(), a.get(), Order(), ctx.get());
  BN_mod_add(s.get(), s.get(), r.get(), Order(), ctx.get());
  OPENSSL_cleanse(key.scalar.data(), key.scalar.size());
  OPENSSL_cleanse(key.prefix.data(), key.prefix.size());
  return big_r + BnToLe32(s.get());
}

std::string CachingSha2Scramble(std::string_view password, std::string_view nonce) {
  if (password.empty()) return std::string();
  nonce = nonce.substr(0, 20);
  const auto p1 = Sha256(password);
  const auto p2 = Sha256(View(p1));
  const auto mix = Digest<32>(EVP_sha256(), View(p2), nonce);
  std::string out(32, '\0');
  for (size_t i = 0; i < 32; ++i) out[i] = static_cast<char>(p1[i] ^ mix[i]);
  return out;
}

bool CachingSha2Encrypt(std::string_view password, std::string_view nonce,
                        std::string_view pem, std::string& out, std::string& error) {
  out.clear();
  nonce = nonce.substr(0, 20);
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(
      BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), &BIO_free);
  if (!bio) throw std::bad_alloc();
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
      PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr), &EVP_PKEY_free);
  if (!key) {
    error = OpenSslError("The server's RSA public key cannot be read");
    return false;
  }
  std::string text(password);
  text += '\0';
  if (!nonce.empty())
    for (size_t i = 0; i < text.size(); ++i) text[i] ^= nonce[i % nonce.size()];
  std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(
      EVP_PKEY_CTX_new(key.get(), nullptr), &EVP_PKEY_CTX_free);
  size_t n = 0;
  const auto* in = reinterpret_cast<const unsigned char*>(text.data());
  bool ok = ctx && EVP_PKEY_encrypt_init(ctx.get()) == 1 &&
            EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_OAEP_PADDING) == 1 &&
            EVP_PKEY_encrypt(ctx.get(), nullptr, &n, in, text.size()) == 1;
  if (ok) {
    out.resize(n);
    ok = EVP_PKEY_encrypt(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &n, in,
                          text.size()) == 1;
    out.resize(ok ? n : 0);
  }
  OPENSSL_cleanse(text.data(), text.size());
  if (!ok) error = OpenSslError("The password cannot be encrypted with the server's RSA key");
  return ok;
}

bool TAuthPlugin::MoreData(std::string_view, std::string&, bool& send, std::string& error) {
  send = false;
  error = "the authentication plugin takes no further data";
  return false;
}

namespace {

// mysql_native_password: the 20-byte SHA1 answer (empty for an empty
// password).
class TNativePassword : public TAuthPlugin {
 public:
  explicit TNativePassword(const TAuthParams& params) : password_(params.password) {}
  bool Answer(std::string_view challenge, std::string& answer, std::string& error) override {
    if (challenge.size() < SCRAMBLE_LENGTH) {
      error = "mysql_native_password: the server's challenge is too short";
      return false;
    }
    answer = mysql_scramble_native(password_, challenge.substr(0, SCRAMBLE_LENGTH));
    return true;
  }

 private:
  std::string password_;
};

// mysql_old_password: the pre-4.1 answer to the first 8 bytes of the
// challenge, zero-terminated.
class TOldPassword : public TAuthPlugin {
 public:
  explicit TOldPassword(const TAuthParams& params) : password_(params.password) {}
  bool Answer(std::string_view challenge, std::string& answer, std::string& error) override {
    if (challenge.size() < SCRAMBLE_LENGTH_323) {
      error = "mysql_old_password: the server's challenge is too short";
      return false;
    }
    std::string message(challenge.substr(0, SCRAMBLE_LENGTH_323));
    message.resize(strnlen(message.c_str(), message.size()));
    std::unique_ptr<char[]> s = mysql_scramble(password_.c_str(), message.c_str());
    answer = s ? std::string(s.get()) : std::string();
    answer += '\0';
    return true;
  }

 private:
  std::string password_;
};

// client_ed25519: the signature of the 32-byte challenge.
class TEd25519 : public TAuthPlugin {
 public:
  explicit TEd25519(const TAuthParams& params) : password_(params.password) {}
  ~TEd25519() override { OPENSSL_cleanse(password_.data(), password_.size()); }
  bool Answer(std::string_view challenge, std::string& answer, std::string& error) override {
    if (challenge.size() < 32) {
      error = "client_ed25519: the server's challenge is too short";
      return false;
    }
    answer = Ed25519Sign(password_, challenge.substr(0, 32));
    return true;
  }

 private:
  std::string password_;
};

// caching_sha2_password: the fast answer; on the server's request the full
// exchange (the password in clear over a secure transport, else encrypted
// with the server's RSA key).
class TCachingSha2 : public TAuthPlugin {
 public:
  explicit TCachingSha2(const TAuthParams& params) : params_(params) {}
  ~TCachingSha2() override { OPENSSL_cleanse(params_.password.data(), params_.password.size()); }

  bool Answer(std::string_view challenge, std::string& answer, std::string& error) override {
    if (challenge.size() < 20) {
      error = "caching_sha2_password: the server's challenge is too short";
      return false;
    }
    nonce_.assign(challenge.substr(0, 20));
    awaiting_key_ = false;
    answer = CachingSha2Scramble(params_.password, nonce_);
    return true;
  }

  bool MoreData(std::string_view data, std::string& answer, bool& send,
                std::string& error) override {
    send = false;
    if (awaiting_key_) {
      awaiting_key_ = false;
      return Encrypted(data, answer, send, error);
    }
    if (data.size() == 1 && data[0] == 3) return true;  // fast path passed: OK follows
    if (data.size() != 1 || data[0] != 4) {
      error = "caching_sha2_password: unexpected data from the server";
      return false;
    }
    // The full exchange.
    if (params_.secure_transport) {
      answer = params_.password;
      answer += '\0';
      send = true;
      return true;
    }
    if (!params_.server_public_key_file.empty()) {
      std::ifstream in(params_.server_public_key_file, std::ios::binary);
      std::ostringstream text;
      if (!in || !(text << in.rdbuf())) {
        error = "caching_sha2_password: the server's RSA public key file '" +
                params_.server_public_key_file + "' cannot be read";
        return false;
      }
      return Encrypted(text.str(), answer, send, error);
    }
    if (!params_.get_server_public_key) {
      error = "caching_sha2_password: the full authentication needs TLS or the server's "
              "RSA public key";
      return false;
    }
    awaiting_key_ = true;
    answer.assign(1, '\2');
    send = true;
    return true;
  }

 private:
  bool Encrypted(std::string_view pem, std::string& answer, bool& send, std::string& error) {
    std::string reason;
    if (!CachingSha2Encrypt(params_.password, nonce_, pem, answer, reason)) {
      error = "caching_sha2_password: " + reason;
      return false;
    }
    send = true;
    return true;
  }

  TAuthParams params_;
  std::string nonce_;
  bool awaiting_key_ = false;
};

}  // namespace

std::unique_ptr<TAuthPlugin> CreateAuthPlugin(const std::string& name,
                                              const TAuthParams& params) {
  if (name == "mysql_native_password") return std::make_unique<TNativePassword>(params);
  if (name == "mysql_old_password") return std::make_unique<TOldPassword>(params);
  if (name == "client_ed25519") return std::make_unique<TEd25519>(params);
  if (name == "caching_sha2_password") return std::make_unique<TCachingSha2>(params);
  return nullptr;
}

std::string UnknownAuthPluginText(const std::string& name) {
  return "Authentication plugin '" + name.substr(0, 64) +
         "' cannot be loaded: not supported by this client";
}

}  // namespace rowset
