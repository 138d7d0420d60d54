// Numbers as the X text writes them: "%f" (six decimals, the C library's own
// digits, "nan"/"-nan"/"inf"/"-inf" included) and "%d", formatted straight into
// a caller's buffer without the C library's locale and stream machinery.
#pragma once
#include <cstdint>

namespace qev::xfile {

// Longest text of one number: "%f" of the largest double is 309 digits, a
// sign, a point and six decimals.
constexpr int kMaxNumberText = 320;

// "%f" of the value (a float is widened to double exactly as printf does).
// Writes at most kMaxNumberText bytes, no terminator; returns the end.
char* FormatFixed(char* out, double value);
// "%d" (and wider) of the value; at most 20 bytes, no terminator.
char* FormatInt(char* out, int64_t value);

}  // namespace qev::xfile
