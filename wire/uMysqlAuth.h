// Authentication plugins of the 4.1 login: how the client answers the
// server's challenge for the plugin the server names (in its greeting or in
// a request to switch plugins), and what it sends when the server asks the
// plugin for more (a packet starting with 0x01).
//
//  - mysql_old_password: the pre-4.1 answer to the first 8 challenge bytes.
//  - mysql_native_password: SHA1 answer to a 20-byte challenge.
//  - client_ed25519 (MariaDB): an Ed25519 signature of the 32-byte challenge
//    with a key made from the password: the password as a whole takes the
//    place of the 32-byte seed (SHA-512 of it gives the secret scalar and the
//    nonce prefix). The curve arithmetic is this unit's own; SHA-512 and the
//    scalar arithmetic modulo the group order come from OpenSSL.
//  - caching_sha2_password (MySQL 8): the fast answer
//    SHA256(pw) XOR SHA256(SHA256(SHA256(pw)) + nonce); when the server asks
//    for the full exchange, the password in clear over a secure transport
//    (TLS or the local socket), else RSA-OAEP of (password + NUL) XOR nonce
//    with the server's public key (a configured file, or asked of the server).
//
// A plugin runs its side of the exchange without touching the transport: the
// session's login loop sends what it answers and passes on what the server
// sends back, so that every step can be tested on its own. A name no plugin
// here knows ends the login with CR_AUTH_PLUGIN_CANNOT_LOAD and a text
// naming it.
#ifndef ROWSET_WIRE_UMYSQLAUTH_H_
#define ROWSET_WIRE_UMYSQLAUTH_H_

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace rowset {

// Digests (OpenSSL).
std::array<uint8_t, 32> Sha256(std::string_view data);
std::array<uint8_t, 64> Sha512(std::string_view data);

// The caching_sha2_password fast answer (32 bytes); empty for an empty
// password. Only the first 20 bytes of `nonce` are used.
std::string CachingSha2Scramble(std::string_view password, std::string_view nonce);

// RSA-OAEP (SHA-1, as the servers expect) of (password + NUL) XOR nonce
// (repeated) with the PEM public key `pem`. False with `error` set when the
// key cannot be read or the text is too long for it.
bool CachingSha2Encrypt(std::string_view password, std::string_view nonce,
                        std::string_view pem, std::string& out, std::string& error);

// The Ed25519 public key (32 bytes) of the key made from `password`.
std::string Ed25519PublicKey(std::string_view password);
// The 64-byte Ed25519 signature of `message` with the key made from
// `password`.
std::string Ed25519Sign(std::string_view password, std::string_view message);

// What a plugin may know of the session it answers for.
struct TAuthParams {
  std::string user;
  std::string password;
  // The transport is encrypted or local (TLS, Unix socket), so a plugin may
  // send the password itself.
  bool secure_transport = false;
  // caching_sha2_password: a PEM file with the server's RSA public key;
  // empty to ask the server for it (when get_server_public_key allows).
  std::string server_public_key_file;
  bool get_server_public_key = true;
};

class TAuthPlugin {
 public:
  virtual ~TAuthPlugin() = default;
  // The answer to the server's challenge (the bytes after the plugin name,
  // a trailing zero byte removed where the plugin's challenge has one).
  // False when the challenge cannot be answered (too short); `error` then
  // says why.
  virtual bool Answer(std::string_view challenge, std::string& answer,
                      std::string& error) = 0;
  // The server's "more data" packet (without its 0x01 byte). `send` tells
  // whether `answer` goes to the server; false with `error` when the plugin
  // cannot go on.
  virtual bool MoreData(std::string_view data, std::string& answer, bool& send,
                        std::string& error);
};

// The plugin named `name`; nullptr when none here knows it.
std::unique_ptr<TAuthPlugin> CreateAuthPlugin(const std::string& name,
                                              const TAuthParams& params);

// The text of the error for a plugin nobody knows.
std::string UnknownAuthPluginText(const std::string& name);

}  // namespace rowset

#endif  // ROWSET_WIRE_UMYSQLAUTH_H_
