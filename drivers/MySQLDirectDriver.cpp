// The direct driver: the entry-point table filled with the built-in wire
// client's flat functions.
#include "drivers/MySQLDrivers.h"

#include "wire/ViVURIzodor.h"
#include "wire/uMysqlTls.h"

namespace rowset {

void TViVURIzodor::Bind() {
  // The client version stays as Open computed it: the built-in client's
  // version never changes.
  api_ = ViVURIzodorEntryPoints();
  mysql_sqlstate_ = [](void* h) -> const char* {
    return rowset::mysql_sqlstate(static_cast<TViVURIzodorClient*>(h));
  };
}

int32_t TViVURIzodor::FieldLayoutVer() const { return 40101; }

void TViVURIzodor::PrepareConnection(MySQLHandle handle) {
  const TStrings& lines = Options();
  int index = lines.IndexOfName("old_protocol");
  if (index >= 0) {
    const std::string value = lines.ValueFromIndex(index);
    static_cast<TViVURIzodorClient*>(handle)->old_protocol =
        !value.empty() && value != "0" && value != "false";
  }
  index = lines.IndexOfName("ssl_mode");
  if (index >= 0) {
    mysql_ssl_mode mode = SSL_MODE_DISABLED;
    const std::string text = lines.ValueFromIndex(index);
    if (!ParseSslMode(text, mode))
      MySQLError(this, nullptr, -1,
                 "Unknown ssl_mode '" + text +
                     "' (DISABLED, PREFERRED, REQUIRED, VERIFY_CA or VERIFY_IDENTITY).",
                 -1, -1);
    unsigned int value = mode;
    api_.mysql_options(handle, MYSQL_OPT_SSL_MODE, &value);
  }
  static const struct {
    const char* name;
    mysql_option option;
  } kFiles[] = {{"ssl_key", MYSQL_OPT_SSL_KEY},       {"ssl_cert", MYSQL_OPT_SSL_CERT},
                {"ssl_ca", MYSQL_OPT_SSL_CA},         {"ssl_capath", MYSQL_OPT_SSL_CAPATH},
                {"ssl_cipher", MYSQL_OPT_SSL_CIPHER}, {"server_public_key", MYSQL_SERVER_PUBLIC_KEY}};
  for (const auto& f : kFiles) {
    index = lines.IndexOfName(f.name);
    if (index < 0) continue;
    const std::string value = lines.ValueFromIndex(index);
    if (!value.empty()) api_.mysql_options(handle, f.option, value.c_str());
  }
}

}  // namespace rowset
