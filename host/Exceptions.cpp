#include "host/Exceptions.h"

namespace rowset {

void Abort() { throw EAbort(); }

void DatabaseError(const std::string& message) { throw EDatabaseError(message); }

}  // namespace rowset
