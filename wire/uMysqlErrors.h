// The client's own error numbers 2000 to 2020 and their message templates.
// Templates take printf arguments: %d/%u an int, %lu an unsigned long, %-.64s
// and %-.32s a text (cut to 64 or 32 characters).
#ifndef ROWSET_WIRE_UMYSQLERRORS_H_
#define ROWSET_WIRE_UMYSQLERRORS_H_

#include <cstdint>
#include <string>

namespace rowset {

// Entry n - 2000 is the template of error number n.
extern const char* const client_errors[21];

// The template of `number`, or that of 2000 for a number outside the table.
const char* ClientErrorText(uint32_t number);

// The template of `number` filled with the arguments that follow; the
// arguments must match the template's conversions.
std::string FormatClientError(uint32_t number, ...);

}  // namespace rowset

#endif  // ROWSET_WIRE_UMYSQLERRORS_H_
