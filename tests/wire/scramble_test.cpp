#include "wire/uMysqlNewPassword.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace rowset {
namespace {

std::string Hex(const uint8_t* data, size_t length) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    out += digits[data[i] >> 4];
    out += digits[data[i] & 15];
  }
  return out;
}

std::string Hex(const TSha1::TDigest& d) { return Hex(d.data(), d.size()); }
std::string Hex(const std::string& s) {
  return Hex(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

TEST(HashPasswordTest, KnownHashesAndBlanksSkipped) {
  uint32_t a, b;
  hashPassword("secret", a, b);
  // The stored old-password hash the server keeps for "secret".
  EXPECT_EQ(a, 0x428567f4u);
  EXPECT_EQ(b, 0x08994404u);

  uint32_t c, d;
  hashPassword("se cr\tet", c, d);
  EXPECT_EQ(c, a);
  EXPECT_EQ(d, b);

  hashPassword("", a, b);
  EXPECT_EQ(a, 1345345333u);
  EXPECT_EQ(b, 305419889u);

  // High bytes must go through the arithmetic as unsigned values.
  hashPassword("\xff\xfe", a, b);
  EXPECT_EQ(a & 0x80000000u, 0u);
  EXPECT_EQ(b & 0x80000000u, 0u);
}

TEST(OldScrambleTest, FixedVectorsAndShape) {
  auto s = mysql_scramble("secret", "ABCDEFGH");
  ASSERT_NE(s, nullptr);
  EXPECT_STREQ(s.get(), "UCAMOWSF");
  auto t = mysql_scramble("secret", "ABCDEFGI");
  ASSERT_NE(t, nullptr);
  EXPECT_STREQ(t.get(), "QGEIKRQU");
  EXPECT_STREQ(mysql_scramble("sec ret", "12345678").get(), "VW^]EMZL");
  // As many characters as the challenge.
  EXPECT_STREQ(mysql_scramble("x", "abc").get(), "[GZ");
  // Repeatable.
  EXPECT_STREQ(mysql_scramble("secret", "ABCDEFGH").get(), "UCAMOWSF");
}

TEST(OldScrambleTest, EmptyInputsGiveNone) {
  EXPECT_EQ(mysql_scramble("", "ABCDEFGH"), nullptr);
  EXPECT_EQ(mysql_scramble("secret", ""), nullptr);
  EXPECT_EQ(mysql_scramble(nullptr, "ABCDEFGH"), nullptr);
  EXPECT_EQ(mysql_scramble("secret", nullptr), nullptr);
}

TEST(OldScrambleTest, LongChallengeUsesItsFirstEightCharacters) {
  // Newer servers send a 20-character challenge; the old answer uses its head.
  auto s = mysql_scramble("secret", "ABCDEFGH0123456789ab");
  ASSERT_NE(s, nullptr);
  EXPECT_STREQ(s.get(), "UCAMOWSF");
  for (const char* pw : {"a", "secret", "a much longer password \x80\xff"}) {
    auto r = mysql_scramble(pw, "zzzzzzzzzzzzzzzzzzzzzzz");
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(strlen(r.get()), 8u);  // no zero byte inside
    for (int i = 0; i < 8; ++i) {
      EXPECT_GE(static_cast<unsigned char>(r[i]), 64) << pw;
      EXPECT_LE(static_cast<unsigned char>(r[i]), 127) << pw;
    }
  }
}

TEST(Sha1Test, KnownVectors) {
  EXPECT_EQ(Hex(TSha1::Digest("")), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(Hex(TSha1::Digest("abc")),
            "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(Hex(TSha1::Digest(
                "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
            "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  // Lengths around the padding boundary.
  EXPECT_EQ(Hex(TSha1::Digest(std::string(55, 'x'))),
            "cef734ba81a024479e09eb5a75b6ddae62e6abf1");
  EXPECT_EQ(Hex(TSha1::Digest(std::string(56, 'x'))),
            "901305367c259952f4e7af8323f480d59f81335b");
  EXPECT_EQ(Hex(TSha1::Digest(std::string(63, 'x'))),
            "0ddc4e0cccd9a12850deb5abb0853a4425559fec");
  EXPECT_EQ(Hex(TSha1::Digest(std::string(64, 'x'))),
            "bb2fa3ee7afb9f54c6dfb5d021f14b1ffe40c163");
}

TEST(Sha1Test, PiecewiseFeedEqualsWhole) {
  // A million 'a' fed in uneven pieces; the object is reusable after Final.
  TSha1 sha;
  std::string chunk(997, 'a');
  size_t left = 1000000;
  while (left > 0) {
    size_t n = std::min(left, chunk.size());
    sha.Update(chunk.data(), n);
    left -= n;
  }
  EXPECT_EQ(Hex(sha.Final()), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
  sha.Update("ab");
  sha.Update("c");
  EXPECT_EQ(Hex(sha.Final()), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

TEST(NativeScrambleTest, AnswerTheServerAccepts) {
  std::string challenge;
  for (int i = 1; i <= 20; ++i) challenge += static_cast<char>(i);
  std::string answer = mysql_scramble_native("secret", challenge);
  ASSERT_EQ(answer.size(), 20u);
  EXPECT_EQ(Hex(answer), "b32bb3a583e1340c0a1108d58b1be49781ad8c2f");

  // The server's check: answer XOR SHA1(challenge + stored) gives a text
  // whose SHA1 is the stored hash (the stored hash of "secret" below).
  TSha1::TDigest stored = TSha1::Digest(std::string(
      reinterpret_cast<const char*>(TSha1::Digest("secret").data()), 20));
  EXPECT_EQ(Hex(stored), "14e65567abdb5135d0cfd9a70b3032c179a49ee7");
  TSha1 sha;
  sha.Update(challenge);
  sha.Update(stored.data(), stored.size());
  TSha1::TDigest mix = sha.Final();
  std::string stage1(20, '\0');
  for (int i = 0; i < 20; ++i)
    stage1[i] = static_cast<char>(static_cast<uint8_t>(answer[i]) ^ mix[i]);
  EXPECT_EQ(TSha1::Digest(stage1), stored);

  // A trailing zero after the challenge (as the greeting carries) is ignored.
  EXPECT_EQ(mysql_scramble_native("secret", challenge + std::string(1, '\0')),
            answer);
  EXPECT_EQ(mysql_scramble_native("", challenge), "");
}

}  // namespace
}  // namespace rowset
