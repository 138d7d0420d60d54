#include "export/x_number.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace qev::xfile {

namespace {

// Digits of v (below 10^19) written backwards from end; returns the first.
char* DigitsBackward(char* end, uint64_t v) {
  do {
    *--end = char('0' + v % 10);
    v /= 10;
  } while (v);
  return end;
}

}  // namespace

char* FormatFixed(char* out, double value) {
  if (std::isnan(value)) {
    // the C library prints the sign bit of a NaN as well
    if (std::signbit(value)) *out++ = '-';
    std::memcpy(out, "nan", 3);
    return out + 3;
  }
  if (std::isinf(value)) {
    if (value < 0) *out++ = '-';
    std::memcpy(out, "inf", 3);
    return out + 3;
  }
  // Exact fast path for every value a float holds: its 24 significant bits
  // times 10^6 (2^6 x 15625, 14 more bits) fit a double's 53, so the product
  // is exact, and rounding it half to even (the current rounding mode, as
  // printf uses) gives the very digits "%f" prints. Past 2^62 units, or with
  // more bits than a float has, the general routine takes over.
  const double magnitude = std::fabs(value) * 1e6;
  if (magnitude < 4.6e18 && double(float(value)) == value) {
    const uint64_t units = uint64_t(std::nearbyint(magnitude));
    if (std::signbit(value)) *out++ = '-';
    char digits[24];
    char* end = digits + sizeof(digits);
    // six decimals, then the whole part (at least "0")
    uint64_t whole = units / 1000000, fraction = units % 1000000;
    char* p = end;
    for (int i = 0; i < 6; ++i) {
      *--p = char('0' + fraction % 10);
      fraction /= 10;
    }
    *--p = '.';
    p = DigitsBackward(p, whole);
    const size_t n = size_t(end - p);
    std::memcpy(out, p, n);
    return out + n;
  }
  // Anything else (doubles with more bits, huge floats): the standard
  // library's exact fixed formatting, which rounds as printf does.
  return std::to_chars(out, out + kMaxNumberText, value, std::chars_format::fixed, 6).ptr;
}

char* FormatInt(char* out, int64_t value) { return std::to_chars(out, out + 20, value).ptr; }

}  // namespace qev::xfile
