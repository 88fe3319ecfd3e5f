// The direct driver: the entry-point table filled with the built-in wire
// client's flat functions.
#include "drivers/MySQLDrivers.h"

namespace rowset {

void TViVURIzodor::Bind() {
  // The client version stays as Open computed it: the built-in client's
  // version never changes.
  api_ = ViVURIzodorEntryPoints();
}

}  // namespace rowset
