#include "wire/uMysqlTls.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <mutex>

namespace rowset {

bool ParseSslMode(const std::string& text, mysql_ssl_mode& mode) {
  std::string name;
  for (char c : text)
    name += c == '-' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  static const struct {
    const char* name;
    mysql_ssl_mode mode;
  } kModes[] = {{"DISABLED", SSL_MODE_DISABLED},
                {"PREFERRED", SSL_MODE_PREFERRED},
                {"REQUIRED", SSL_MODE_REQUIRED},
                {"VERIFY_CA", SSL_MODE_VERIFY_CA},
                {"VERIFY_IDENTITY", SSL_MODE_VERIFY_IDENTITY}};
  for (const auto& m : kModes)
    if (name == m.name) {
      mode = m.mode;
      return true;
    }
  return false;
}

const char* SslModeName(mysql_ssl_mode mode) {
  switch (mode) {
    case SSL_MODE_DISABLED: return "DISABLED";
    case SSL_MODE_PREFERRED: return "PREFERRED";
    case SSL_MODE_REQUIRED: return "REQUIRED";
    case SSL_MODE_VERIFY_CA: return "VERIFY_CA";
    case SSL_MODE_VERIFY_IDENTITY: return "VERIFY_IDENTITY";
  }
  return "UNKNOWN";
}

namespace {

// The most recent OpenSSL error of this thread as text (the queue is
// emptied); `fallback` when there is none.
std::string TakeOpenSslError(const std::string& fallback) {
  unsigned long e = 0, last = 0;
  while ((e = ERR_get_error()) != 0) last = e;
  if (last == 0) return fallback;
  const char* reason = ERR_reason_error_string(last);
  return reason != nullptr ? std::string(reason) : fallback;
}

// A BIO that reads and writes through the transport.
int BioWrite(BIO* bio, const char* data, int length) {
  BIO_clear_retry_flags(bio);
  auto* socket = static_cast<TTlsSocket*>(BIO_get_data(bio));
  if (socket == nullptr || length <= 0) return -1;
  long n = socket->RawWrite(data, static_cast<size_t>(length));
  return n > 0 ? static_cast<int>(n) : -1;
}

int BioRead(BIO* bio, char* data, int length) {
  BIO_clear_retry_flags(bio);
  auto* socket = static_cast<TTlsSocket*>(BIO_get_data(bio));
  if (socket == nullptr || length <= 0) return -1;
  long n = socket->RawRead(data, static_cast<size_t>(length));
  return n > 0 ? static_cast<int>(n) : -1;
}

long BioCtrl(BIO*, int command, long, void*) {
  return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int BioCreate(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

BIO_METHOD* SocketBioMethod() {
  static BIO_METHOD* method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "rowset transport");
    if (m != nullptr) {
      BIO_meth_set_write(m, BioWrite);
      BIO_meth_set_read(m, BioRead);
      BIO_meth_set_ctrl(m, BioCtrl);
      BIO_meth_set_create(m, BioCreate);
    }
    return m;
  }();
  return method;
}

bool IsIpAddress(const std::string& host) {
  unsigned char buffer[16];
  return inet_pton(AF_INET, host.c_str(), buffer) == 1 ||
         inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

}  // namespace

struct TMysqlTls::TImpl {
  SSL_CTX* ctx = nullptr;
  SSL* ssl = nullptr;  // owns its BIO
  bool failed = false;
  bool shut = false;

  ~TImpl() {
    if (ssl != nullptr) SSL_free(ssl);
    if (ctx != nullptr) SSL_CTX_free(ctx);
  }
};

TMysqlTls::~TMysqlTls() = default;

std::unique_ptr<TMysqlTls> TMysqlTls::Connect(TTlsSocket& socket, const TSslOptions& options,
                                              const std::string& host, std::string& error) {
  ERR_clear_error();
  std::unique_ptr<TMysqlTls> tls(new TMysqlTls());
  tls->impl_ = std::make_unique<TImpl>();
  TImpl& t = *tls->impl_;
  auto fail = [&error](const std::string& text) {
    error = text;
    ERR_clear_error();
    return nullptr;
  };
  t.ctx = SSL_CTX_new(TLS_client_method());
  if (t.ctx == nullptr) return fail(TakeOpenSslError("cannot create the TLS context"));
  SSL_CTX_set_min_proto_version(t.ctx, TLS1_2_VERSION);
  if (!options.cipher.empty() && SSL_CTX_set_cipher_list(t.ctx, options.cipher.c_str()) != 1)
    return fail("no usable cipher in '" + options.cipher + "'");
  if (!options.ca.empty() || !options.capath.empty()) {
    if (SSL_CTX_load_verify_locations(t.ctx, options.ca.empty() ? nullptr : options.ca.c_str(),
                                      options.capath.empty() ? nullptr : options.capath.c_str()) != 1)
      return fail("cannot read the CA file '" + options.ca + "'" +
                  (options.capath.empty() ? "" : " or folder '" + options.capath + "'") + ": " +
                  TakeOpenSslError("unreadable"));
  } else if (options.Verifies()) {
    SSL_CTX_set_default_verify_paths(t.ctx);
  }
  if (!options.cert.empty() || !options.key.empty()) {
    const std::string& cert = options.cert.empty() ? options.key : options.cert;
    const std::string& key = options.key.empty() ? options.cert : options.key;
    if (SSL_CTX_use_certificate_chain_file(t.ctx, cert.c_str()) != 1)
      return fail("cannot read the certificate file '" + cert + "': " +
                  TakeOpenSslError("unreadable"));
    if (SSL_CTX_use_PrivateKey_file(t.ctx, key.c_str(), SSL_FILETYPE_PEM) != 1)
      return fail("cannot use the key file '" + key + "' with the certificate '" + cert +
                  "': " + TakeOpenSslError("unreadable"));
    if (SSL_CTX_check_private_key(t.ctx) != 1)
      return fail("the key in '" + key + "' does not match the certificate in '" + cert + "'");
  }
  SSL_CTX_set_verify(t.ctx, options.Verifies() ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, nullptr);

  t.ssl = SSL_new(t.ctx);
  BIO_METHOD* method = SocketBioMethod();
  BIO* bio = method != nullptr ? BIO_new(method) : nullptr;
  if (t.ssl == nullptr || bio == nullptr) {
    if (bio != nullptr) BIO_free(bio);
    return fail(TakeOpenSslError("out of memory"));
  }
  BIO_set_data(bio, &socket);
  SSL_set_bio(t.ssl, bio, bio);
  const bool ip = IsIpAddress(host);
  if (!host.empty() && !ip) SSL_set_tlsext_host_name(t.ssl, host.c_str());
  if (options.mode == SSL_MODE_VERIFY_IDENTITY) {
    X509_VERIFY_PARAM* param = SSL_get0_param(t.ssl);
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    const bool set = ip ? X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) == 1
                        : SSL_set1_host(t.ssl, host.c_str()) == 1;
    if (host.empty() || !set) return fail("cannot check the identity of host '" + host + "'");
  }
  if (SSL_connect(t.ssl) != 1) {
    const long verify = SSL_get_verify_result(t.ssl);
    t.failed = true;
    if (options.Verifies() && verify != X509_V_OK)
      return fail(std::string("certificate verify failed: ") +
                  X509_verify_cert_error_string(verify) + " (host '" + host + "')");
    return fail(TakeOpenSslError("the TLS handshake failed"));
  }
  return tls;
}

long TMysqlTls::Read(void* buffer, size_t size) {
  if (impl_->failed || size == 0) return -1;
  int n = SSL_read(impl_->ssl, buffer, static_cast<int>(std::min<size_t>(size, INT_MAX)));
  if (n > 0) return n;
  const int e = SSL_get_error(impl_->ssl, n);
  if (e != SSL_ERROR_ZERO_RETURN) impl_->failed = true;
  ERR_clear_error();
  return -1;
}

long TMysqlTls::Write(const void* buffer, size_t size) {
  if (impl_->failed || size == 0) return -1;
  int n = SSL_write(impl_->ssl, buffer, static_cast<int>(std::min<size_t>(size, INT_MAX)));
  if (n > 0) return n;
  impl_->failed = true;
  ERR_clear_error();
  return -1;
}

size_t TMysqlTls::Pending() const {
  int n = SSL_pending(impl_->ssl);
  return n > 0 ? static_cast<size_t>(n) : 0;
}

void TMysqlTls::Shutdown() {
  if (impl_->failed || impl_->shut) return;
  impl_->shut = true;
  SSL_shutdown(impl_->ssl);
  ERR_clear_error();
}

std::string TMysqlTls::Version() const { return SSL_get_version(impl_->ssl); }

std::string TMysqlTls::Cipher() const {
  const char* name = SSL_get_cipher_name(impl_->ssl);
  return name != nullptr ? name : "";
}

}  // namespace rowset
