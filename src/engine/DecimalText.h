// Decimal numbers read from text as the C library's base-10 conversions
// read them.
#pragma once

#include <cstdint>

namespace wf {

// Reads text as a C library base-10 conversion does: leading white space, an
// optional sign, then digits up to the first other character; no digits
// give 0. The unsigned form gives 4294967295 beyond 32 bits.
int64_t ParseDecimalSigned(const char16_t* text);
uint32_t ParseDecimalUnsigned(const char16_t* text);

}  // namespace wf
