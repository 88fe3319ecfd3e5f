#include "wire/uMysqlCT.h"

namespace rowset {

uint32_t NET_READ_TIMEOUT = 30;

}  // namespace rowset
