// Small text conversions of the socket's property setters; portable.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

// Skips leading blanks, then reads decimal digits up to the first non-digit
// or the end. No digits give 0. Too many digits wrap around modulo 2^32
// instead of overflowing.
std::int32_t ParseLeadingNumber(std::string_view Text);

// Text without leading and trailing blanks and control characters (bytes up
// to and including the space).
std::string TrimText(std::string_view Text);

} // namespace qm
