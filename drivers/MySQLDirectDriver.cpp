// The direct driver: the entry-point table filled with the built-in wire
// client's flat functions.
#include "drivers/MySQLDrivers.h"
#include "wire/ViVURIzodor.h"

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
  const int index = Options().IndexOfName("old_protocol");
  if (index < 0) return;
  const std::string value = Options().ValueFromIndex(index);
  static_cast<TViVURIzodorClient*>(handle)->old_protocol =
      !value.empty() && value != "0" && value != "false";
}

}  // namespace rowset
