#include "wire/uMysqlErrors.h"

#include <cstdarg>
#include <cstdio>

#include "wire/uMysqlCT.h"

namespace rowset {

const char* const client_errors[21] = {
    "Unknown MySQL error",
    "Can't create UNIX socket (%d)",
    "Can't connect to local MySQL server through socket '%-.64s' (%d)",
    "Can't connect to MySQL server on '%-.64s' (%d)",
    "Can't create TCP/IP socket (%d)",
    "Unknown MySQL Server Host '%-.64s' (%d)",
    "MySQL server has gone away",
    "Protocol mismatch. Server Version = %d Client Version = %d",
    "MySQL client run out of memory",
    "Wrong host info",
    "Localhost via UNIX socket",
    "%-.64s via TCP/IP",
    "Error in server handshake",
    "Lost connection to MySQL server during query",
    "Commands out of sync;  You can't run this command now",
    "%-.64s via named pipe",
    "Can't wait for named pipe to host: %-.64s  pipe: %-.32s (%lu)",
    "Can't open named pipe to host: %-.64s  pipe: %-.32s (%u)",
    "Can't set state of named pipe to host: %-.64s  pipe: %-.32s (%lu)",
    "Can't initialize character set %-.64s (path: %-.64s)",
    "Got packet bigger than 'max_allowed_packet'",
};

const char* ClientErrorText(uint32_t number) {
  if (number < CR_MIN_ERROR || number > CR_MAX_ERROR) return client_errors[0];
  return client_errors[number - CR_MIN_ERROR];
}

std::string FormatClientError(uint32_t number, ...) {
  char text[512];
  va_list args;
  va_start(args, number);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  int n = std::vsnprintf(text, sizeof text, ClientErrorText(number), args);
#pragma GCC diagnostic pop
  va_end(args);
  if (n < 0) return ClientErrorText(number);
  return std::string(text);
}

}  // namespace rowset
