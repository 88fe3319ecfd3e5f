// The direct driver: the entry-point table filled with the built-in wire
// client's flat functions.
#include "drivers/MySQLDrivers.h"

namespace rowset {

void TViVURIzodor::Bind() {
  // The built-in client is not bound yet: every entry raises the
  // not-implemented error until it is.
  api_ = StubTable();
}

}  // namespace rowset
