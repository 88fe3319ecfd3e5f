// Password scrambling for the login and change-user packets.
//
// The password never travels in clear: the client answers the server's random
// challenge with a text computed from the password and the challenge. Two
// answers exist. The pre-4.1 one (`hashPassword`, `mysql_scramble`) answers
// the 8-character challenge of old servers and of old-password accounts. The
// secure one (`mysql_scramble_native`) answers the 20-byte challenge of newer
// servers for native-password accounts; it rests on SHA1 (`TSha1`, OpenSSL's
// digest).
#ifndef ROWSET_WIRE_UMYSQLNEWPASSWORD_H_
#define ROWSET_WIRE_UMYSQLNEWPASSWORD_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// OpenSSL's digest context.
struct evp_md_ctx_st;

namespace rowset {

// The old two-word password hash of a zero-terminated text. Blanks and tabs
// in the text are skipped. Only the low 31 bits of each word are kept.
void hashPassword(const char* text, uint32_t& result0, uint32_t& result1);

// Length of the pre-4.1 challenge and answer.
constexpr size_t SCRAMBLE_LENGTH_323 = 8;

// The pre-4.1 answer to `message` (the server's challenge; only its first 8
// characters are used). Returns a newly allocated zero-terminated text with as
// many characters as the (clipped) message, none of them zero, or nullptr when
// the password or the message is empty (the caller then sends an empty
// answer).
std::unique_ptr<char[]> mysql_scramble(const char* password,
                                       const char* message);

// SHA1 over a byte stream, fed in pieces (OpenSSL's digest).
class TSha1 {
 public:
  using TDigest = std::array<uint8_t, 20>;

  TSha1();
  void Update(const void* data, size_t length);
  void Update(std::string_view data) { Update(data.data(), data.size()); }
  // Finishes the digest; the object is reset for a new stream afterwards.
  // Throws std::bad_alloc when OpenSSL could not make its context.
  TDigest Final();

  static TDigest Digest(std::string_view data);

 private:
  void Reset();
  struct TContextDeleter {
    void operator()(evp_md_ctx_st* context) const;
  };
  std::unique_ptr<evp_md_ctx_st, TContextDeleter> context_;
};

// Length of the secure challenge and answer.
constexpr size_t SCRAMBLE_LENGTH = 20;

// The secure answer: SHA1(password) XOR SHA1(challenge + SHA1(SHA1(password))),
// 20 bytes. `challenge` is the server's 20-byte challenge (a longer one is
// used up to its first 20 bytes). An empty password gives an empty answer.
std::string mysql_scramble_native(std::string_view password,
                                  std::string_view challenge);

}  // namespace rowset

#endif  // ROWSET_WIRE_UMYSQLNEWPASSWORD_H_
