#include "wire/uMysqlNewPassword.h"

#include <cmath>
#include <cstring>
#include <new>

#include <openssl/evp.h>

namespace rowset {

void hashPassword(const char* text, uint32_t& result0, uint32_t& result1) {
  uint32_t nr = 1345345333u, add = 7, nr2 = 0x12345671u;
  if (text != nullptr) {
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
         *p != 0; ++p) {
      uint32_t b = *p;
      if (b == ' ' || b == '\t') continue;
      nr ^= (((nr & 63) + add) * b) + (nr << 8);
      nr2 += (nr2 << 8) ^ nr;
      add += b;
    }
  }
  result0 = nr & 0x7FFFFFFFu;
  result1 = nr2 & 0x7FFFFFFFu;
}

namespace {

// The old client's pseudo-random sequence, seeded from the two hashes.
class TRandom {
 public:
  TRandom(int64_t seed1, int64_t seed2)
      : seed1_(seed1 % kMax), seed2_(seed2 % kMax) {}

  double Next() {
    seed1_ = (seed1_ * 3 + seed2_) % kMax;
    seed2_ = (seed1_ + seed2_ + 33) % kMax;
    return static_cast<double>(seed1_) / static_cast<double>(kMax);
  }

 private:
  static constexpr int64_t kMax = 0x3FFFFFFF;
  int64_t seed1_, seed2_;
};

}  // namespace

std::unique_ptr<char[]> mysql_scramble(const char* password,
                                       const char* message) {
  if (password == nullptr || message == nullptr || *password == 0 ||
      *message == 0)
    return nullptr;
  // Only the first 8 characters of the challenge count; newer servers send a
  // longer one whose head is the old challenge.
  char head[SCRAMBLE_LENGTH_323 + 1] = {};
  size_t count = strnlen(message, SCRAMBLE_LENGTH_323);
  memcpy(head, message, count);

  auto result = std::make_unique<char[]>(SCRAMBLE_LENGTH_323 + 1);
  uint32_t p0, p1, m0, m1;
  hashPassword(password, p0, p1);
  hashPassword(head, m0, m1);
  TRandom random(static_cast<int64_t>(p0 ^ m0), static_cast<int64_t>(p1 ^ m1));
  for (size_t i = 0; i < count; ++i)
    result[i] = static_cast<char>(std::floor(random.Next() * 31) + 64);
  char extra = static_cast<char>(std::floor(random.Next() * 31));
  for (size_t i = 0; i < count; ++i) result[i] ^= extra;
  result[count] = 0;
  return result;
}

// --- SHA1, from OpenSSL ---

void TSha1::TContextDeleter::operator()(evp_md_ctx_st* context) const {
  EVP_MD_CTX_free(context);
}

TSha1::TSha1() : context_(EVP_MD_CTX_new()) { Reset(); }

void TSha1::Reset() {
  // Without a context (out of memory) every digest is refused below.
  if (context_ && EVP_DigestInit_ex(context_.get(), EVP_sha1(), nullptr) != 1)
    context_.reset();
}

void TSha1::Update(const void* data, size_t length) {
  if (context_ && length > 0) EVP_DigestUpdate(context_.get(), data, length);
}

TSha1::TDigest TSha1::Final() {
  TDigest digest{};
  if (!context_) throw std::bad_alloc();
  unsigned int n = 0;
  EVP_DigestFinal_ex(context_.get(), digest.data(), &n);
  Reset();
  return digest;
}

TSha1::TDigest TSha1::Digest(std::string_view data) {
  TSha1 sha;
  sha.Update(data);
  return sha.Final();
}

std::string mysql_scramble_native(std::string_view password,
                                  std::string_view challenge) {
  if (password.empty()) return std::string();
  challenge = challenge.substr(0, SCRAMBLE_LENGTH);
  TSha1::TDigest stage1 = TSha1::Digest(password);
  TSha1::TDigest stage2 = TSha1::Digest(std::string_view(
      reinterpret_cast<const char*>(stage1.data()), stage1.size()));
  TSha1 sha;
  sha.Update(challenge);
  sha.Update(stage2.data(), stage2.size());
  TSha1::TDigest mix = sha.Final();
  std::string answer(SCRAMBLE_LENGTH, '\0');
  for (size_t i = 0; i < SCRAMBLE_LENGTH; ++i)
    answer[i] = static_cast<char>(stage1[i] ^ mix[i]);
  return answer;
}

}  // namespace rowset
