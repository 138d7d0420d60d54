#include "export/x_number.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace qev::xfile {

namespace {

// "00" .. "99": two digits per step.
constexpr char kPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Digits of v written backwards from end; returns the first.
char* DigitsBackward(char* end, uint64_t v) {
  while (v >= 100) {
    const unsigned pair = unsigned(v % 100);
    v /= 100;
    *--end = kPairs[2 * pair + 1];
    *--end = kPairs[2 * pair];
  }
  if (v >= 10) {
    *--end = kPairs[2 * v + 1];
    *--end = kPairs[2 * v];
  } else {
    *--end = char('0' + v);
  }
  return end;
}

// The nearest whole number, ties to even, as the default rounding mode
// (which printf heeds too) rounds: adding and taking away 2^52 leaves no
// fraction bits. Magnitudes from 2^52 up are whole already.
double RoundHalfEven(double magnitude) {
  constexpr double k2p52 = 4503599627370496.0;
  return magnitude < k2p52 ? (magnitude + k2p52) - k2p52 : magnitude;
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
    const uint64_t units = uint64_t(RoundHalfEven(magnitude));
    if (std::signbit(value)) *out++ = '-';
    char digits[24];
    char* const end = digits + sizeof(digits);
    // six decimals, then the whole part (at least "0")
    unsigned fraction = unsigned(units % 1000000);
    char* p = end;
    for (int i = 0; i < 3; ++i) {
      const unsigned pair = fraction % 100;
      fraction /= 100;
      *--p = kPairs[2 * pair + 1];
      *--p = kPairs[2 * pair];
    }
    *--p = '.';
    p = DigitsBackward(p, units / 1000000);
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
