// Authentication methods of the login: how the client proves it knows the
// account's password to a server that names a method ("plugin") in its
// greeting or in a request to switch methods.
//
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
// `TAuthPlugin` runs one method's side of the exchange without touching the
// transport: the session sends what it answers and passes on what the server
// sends back, so that every step can be tested on its own.
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

// What the session knows when the method runs.
struct TAuthContext {
  std::string password;
  // TLS is active or the transport is the local socket: the password may
  // travel in clear.
  bool secure_transport = false;
  // A PEM file with the server's RSA public key (caching_sha2_password);
  // empty to ask the server for it.
  std::string server_public_key_file;
  // Whether the server may be asked for its key when no file is given.
  bool get_server_public_key = true;
};

enum class TAuthNext {
  kSend,  // send `answer`, then read the server's next packet
  kWait,  // send nothing, read the server's next packet
  kFail,  // give up; `error` says why
};

class TAuthPlugin {
 public:
  virtual ~TAuthPlugin() = default;
  const std::string& Name() const { return name_; }
  // The first answer to the server's challenge (the greeting's or a switch
  // request's data).
  virtual TAuthNext Start(std::string_view challenge, std::string& answer,
                          std::string& error) = 0;
  // A further packet of the method (the payload after its 0x01 marker).
  virtual TAuthNext More(std::string_view data, std::string& answer, std::string& error);

 protected:
  TAuthPlugin(std::string name, TAuthContext context)
      : name_(std::move(name)), context_(std::move(context)) {}
  std::string name_;
  TAuthContext context_;
};

// The method named `name`; nullptr for a method this client does not know.
std::unique_ptr<TAuthPlugin> CreateAuthPlugin(std::string_view name,
                                              const TAuthContext& context);

}  // namespace rowset

#endif  // ROWSET_WIRE_UMYSQLAUTH_H_
