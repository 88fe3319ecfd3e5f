// TLS for the wire client (OpenSSL): the options a session takes and the
// encrypted stream that the transport (`TMysqlVio`) switches to after the
// server's greeting, when the server offers TLS and the mode wants it.
//
// The TLS session reads and writes the transport's socket through a BIO of
// its own, so reads keep the transport's time-out and bytes the transport
// had already read ahead are not lost. Everything above the transport
// (packets, compressed frames) runs over the encrypted stream unchanged.
//
// Modes: disabled (never TLS), preferred (TLS when the server offers it, no
// certificate check), required (TLS or fail, no certificate check), verify
// CA (the server's chain must lead to the CA file/folder, or the system's
// roots when none is given), verify identity (as verify CA, and the host
// name or address connected to must be in the certificate's subjectAltName,
// or its common name when it has none).
#ifndef ROWSET_WIRE_UMYSQLTLS_H_
#define ROWSET_WIRE_UMYSQLTLS_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "host/Sockets.h"

namespace rowset {

// The client's error number for a failed TLS set-up; its text is
// "SSL connection error: " and the reason.
constexpr uint32_t CR_SSL_CONNECTION_ERROR = 2026;

enum mysql_ssl_mode : uint32_t {
  SSL_MODE_DISABLED = 1,
  SSL_MODE_PREFERRED = 2,
  SSL_MODE_REQUIRED = 3,
  SSL_MODE_VERIFY_CA = 4,
  SSL_MODE_VERIFY_IDENTITY = 5,
};

struct TSslOptions {
  mysql_ssl_mode mode = SSL_MODE_DISABLED;
  std::string ca;       // PEM file of trusted certificates
  std::string capath;   // folder of hashed trusted certificates
  std::string cert;     // the client's certificate (PEM, chain allowed)
  std::string key;      // the client's private key (PEM)
  std::string cipher;   // OpenSSL cipher list for TLS 1.2; empty: default
  // caching_sha2_password: PEM file of the server's RSA public key.
  std::string server_public_key;

  bool Wanted() const { return mode != SSL_MODE_DISABLED; }
  bool Verifies() const { return mode >= SSL_MODE_VERIFY_CA; }
};

// The mode named by `text` ("DISABLED", "PREFERRED", "REQUIRED", "VERIFY_CA",
// "VERIFY_IDENTITY", any case, '-' for '_'); false for another text.
bool ParseSslMode(const std::string& text, mysql_ssl_mode& mode);
const char* SslModeName(mysql_ssl_mode mode);

// Raw socket I/O below the TLS session, provided by the transport.
class TTlsSocket {
 public:
  virtual ~TTlsSocket() = default;
  // Bytes read (> 0), or -1 at the end, on an error or after the time-out.
  virtual long RawRead(void* buffer, size_t size) = 0;
  // Bytes written (> 0) or -1.
  virtual long RawWrite(const void* buffer, size_t size) = 0;
};

// One TLS client session over a connected socket.
class TMysqlTls {
 public:
  ~TMysqlTls();
  TMysqlTls(const TMysqlTls&) = delete;
  TMysqlTls& operator=(const TMysqlTls&) = delete;

  // Runs the TLS handshake over `socket` (which must outlive the session)
  // and, in the verify modes, checks the server's certificate; `host` is the
  // name or address connected to. nullptr with `error` set to the reason.
  static std::unique_ptr<TMysqlTls> Connect(TTlsSocket& socket, const TSslOptions& options,
                                            const std::string& host, std::string& error);

  long Read(void* buffer, size_t size);
  long Write(const void* buffer, size_t size);
  // Decrypted bytes waiting to be read.
  size_t Pending() const;
  // Sends the closing alert (once; nothing after a failure).
  void Shutdown();
  // The protocol version and cipher in use ("TLSv1.3", "TLS_AES_256_GCM_SHA384").
  std::string Version() const;
  std::string Cipher() const;

 private:
  TMysqlTls() = default;
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

}  // namespace rowset

#endif  // ROWSET_WIRE_UMYSQLTLS_H_
