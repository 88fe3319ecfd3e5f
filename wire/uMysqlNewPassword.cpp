#include "wire/uMysqlNewPassword.h"

#include <cmath>
#include <cstring>

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

// --- SHA1 ---

namespace {

inline uint32_t Rol(uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }

}  // namespace

TSha1::TSha1() { Reset(); }

void TSha1::Reset() {
  h_[0] = 0x67452301u;
  h_[1] = 0xEFCDAB89u;
  h_[2] = 0x98BADCFEu;
  h_[3] = 0x10325476u;
  h_[4] = 0xC3D2E1F0u;
  length_ = 0;
  used_ = 0;
}

void TSha1::Block(const uint8_t* block) {
  uint32_t w[80];
  for (int i = 0; i < 16; ++i)
    w[i] = (uint32_t{block[4 * i]} << 24) | (uint32_t{block[4 * i + 1]} << 16) |
           (uint32_t{block[4 * i + 2]} << 8) | uint32_t{block[4 * i + 3]};
  for (int i = 16; i < 80; ++i)
    w[i] = Rol(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4];
  for (int i = 0; i < 80; ++i) {
    uint32_t f, k;
    if (i < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999u;
    } else if (i < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1u;
    } else if (i < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDCu;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6u;
    }
    uint32_t t = Rol(a, 5) + f + e + k + w[i];
    e = d;
    d = c;
    c = Rol(b, 30);
    b = a;
    a = t;
  }
  h_[0] += a;
  h_[1] += b;
  h_[2] += c;
  h_[3] += d;
  h_[4] += e;
}

void TSha1::Update(const void* data, size_t length) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  length_ += length;
  while (length > 0) {
    if (used_ == 0 && length >= 64) {
      Block(p);
      p += 64;
      length -= 64;
      continue;
    }
    size_t take = std::min(length, sizeof buffer_ - used_);
    memcpy(buffer_ + used_, p, take);
    used_ += take;
    p += take;
    length -= take;
    if (used_ == sizeof buffer_) {
      Block(buffer_);
      used_ = 0;
    }
  }
}

TSha1::TDigest TSha1::Final() {
  uint64_t bits = length_ * 8;
  uint8_t pad[72] = {0x80};
  // Pad to 56 bytes modulo 64, then the bit length, big-endian.
  size_t padLength = (used_ < 56) ? 56 - used_ : 120 - used_;
  uint8_t tail[8];
  for (int i = 0; i < 8; ++i) tail[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
  Update(pad, padLength);
  Update(tail, 8);
  TDigest digest;
  for (int i = 0; i < 5; ++i)
    for (int j = 0; j < 4; ++j)
      digest[4 * i + j] = static_cast<uint8_t>(h_[i] >> (24 - 8 * j));
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
