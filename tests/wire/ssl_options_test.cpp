// TLS options of the flat interface: what each sets on the session, and
// that the option numbers shared with the client library mean the same
// there (read back from libmariadb.so.3 with mysql_get_optionv).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "wire/ViVURIzodor.h"

namespace rowset {
namespace {

TEST(SslOptions, NumbersMeanTheSameInTheClientLibrary) {
  void* lib = dlopen("libmariadb.so.3", RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  auto init = reinterpret_cast<void* (*)(void*)>(dlsym(lib, "mysql_init"));
  auto close = reinterpret_cast<void (*)(void*)>(dlsym(lib, "mysql_close"));
  auto ssl_set = reinterpret_cast<int (*)(void*, const char*, const char*, const char*,
                                          const char*, const char*)>(dlsym(lib, "mysql_ssl_set"));
  auto options = reinterpret_cast<int (*)(void*, int, const void*)>(dlsym(lib, "mysql_options"));
  auto get = reinterpret_cast<int (*)(void*, int, void*)>(dlsym(lib, "mysql_get_optionv"));
  ASSERT_TRUE(init && close && ssl_set && options && get);
  void* m = init(nullptr);
  ASSERT_NE(m, nullptr);
  ssl_set(m, "key.pem", "cert.pem", "ca.pem", "capath", "cipher");
  options(m, MYSQL_SERVER_PUBLIC_KEY, "public.pem");
  const char on = 1;
  options(m, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &on);
  const struct {
    mysql_option option;
    const char* value;
  } texts[] = {{MYSQL_OPT_SSL_KEY, "key.pem"},   {MYSQL_OPT_SSL_CERT, "cert.pem"},
               {MYSQL_OPT_SSL_CA, "ca.pem"},     {MYSQL_OPT_SSL_CAPATH, "capath"},
               {MYSQL_OPT_SSL_CIPHER, "cipher"}, {MYSQL_SERVER_PUBLIC_KEY, "public.pem"}};
  for (const auto& t : texts) {
    const char* value = nullptr;
    ASSERT_EQ(get(m, t.option, &value), 0) << t.option;
    ASSERT_NE(value, nullptr) << t.option;
    EXPECT_STREQ(value, t.value) << t.option;
  }
  char verify = 0;
  ASSERT_EQ(get(m, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &verify), 0);
  EXPECT_EQ(verify, 1);
  close(m);
}

TEST(SslOptions, SetTheSessionsTlsSettings) {
  ViVURIzodorHandle m = mysql_init(nullptr);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->ssl.mode, SSL_MODE_DISABLED);
  // A file asks for TLS.
  EXPECT_EQ(mysql_ssl_set(m, "k", "c", "a", nullptr, nullptr), 0);
  EXPECT_EQ(m->ssl.key, "k");
  EXPECT_EQ(m->ssl.cert, "c");
  EXPECT_EQ(m->ssl.ca, "a");
  EXPECT_EQ(m->ssl.capath, "");
  EXPECT_EQ(m->ssl.mode, SSL_MODE_REQUIRED);
  const char on = 1, off = 0;
  mysql_options(m, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &on);
  EXPECT_EQ(m->ssl.mode, SSL_MODE_VERIFY_IDENTITY);
  mysql_options(m, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &off);
  EXPECT_EQ(m->ssl.mode, SSL_MODE_REQUIRED);
  // An explicit mode stays, whatever files come later.
  unsigned int mode = SSL_MODE_PREFERRED;
  mysql_options(m, MYSQL_OPT_SSL_MODE, &mode);
  mysql_options(m, MYSQL_OPT_SSL_CA, "other");
  EXPECT_EQ(m->ssl.mode, SSL_MODE_PREFERRED);
  EXPECT_EQ(m->ssl.ca, "other");
  mode = 99;  // not a mode: ignored
  mysql_options(m, MYSQL_OPT_SSL_MODE, &mode);
  EXPECT_EQ(m->ssl.mode, SSL_MODE_PREFERRED);
  mysql_options(m, MYSQL_OPT_SSL_CA, nullptr);
  EXPECT_EQ(m->ssl.ca, "");
  mysql_options(m, MYSQL_SERVER_PUBLIC_KEY, "rsa.pem");
  EXPECT_EQ(m->ssl.server_public_key, "rsa.pem");
  EXPECT_EQ(mysql_get_ssl_cipher(m), nullptr);  // not connected
  EXPECT_EQ(mysql_get_ssl_cipher(nullptr), nullptr);
  EXPECT_EQ(mysql_ssl_set(nullptr, "k", nullptr, nullptr, nullptr, nullptr), 0);
  mysql_close(m);
}

}  // namespace
}  // namespace rowset
