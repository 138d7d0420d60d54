// iconv-backed code page conversion. Conversion descriptors are opened per
// call: conversions are rare (file loads, log lines with names) and this keeps
// the functions safe from any thread.
#include "platform/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace qev {
namespace {

// Converts in steps; on an invalid or unconvertible sequence, skips `skip`
// input bytes (one character's worth) and emits `replacement` instead.
std::string Convert(const char* to, const char* from, const char* in, size_t inLen,
                    size_t unit, const std::string& replacement) {
  std::string out;
  if (inLen == 0) return out;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return out;
  std::vector<char> buf(inLen * 4 + 16);
  char* src = const_cast<char*>(in);
  size_t left = inLen;
  while (left > 0) {
    char* dst = buf.data();
    size_t room = buf.size();
    size_t r = iconv(cd, &src, &left, &dst, &room);
    out.append(buf.data(), dst - buf.data());
    if (r != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL (cut sequence at the end): replace one unit
    out += replacement;
    size_t step = unit <= left ? unit : left;
    src += step;
    left -= step;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  iconv_close(cd);
  return out;
}

const std::string kReplacement16("\xFD\xFF", 2);  // U+FFFD, little-endian
const std::string kReplacement8("\xEF\xBF\xBD");

std::u16string FromBytes(const std::string& bytes) {
  std::u16string s(bytes.size() / 2, u'\0');
  std::memcpy(s.data(), bytes.data(), s.size() * 2);
  return s;
}

}  // namespace

std::u16string Cp932ToUtf16(std::string_view text) {
  return FromBytes(Convert("UTF-16LE", "CP932", text.data(), text.size(), 1, kReplacement16));
}

std::string Cp932ToUtf8(std::string_view text) {
  return Convert("UTF-8", "CP932", text.data(), text.size(), 1, kReplacement8);
}

std::string Utf16ToCp932(std::u16string_view text) {
  return Convert("CP932", "UTF-16LE", reinterpret_cast<const char*>(text.data()),
                 text.size() * 2, 2, "?");
}

std::string Utf8ToCp932(std::string_view text) {
  return Convert("CP932", "UTF-8", text.data(), text.size(), 1, "?");
}

std::string Utf16ToUtf8(std::u16string_view text) {
  return Convert("UTF-8", "UTF-16LE", reinterpret_cast<const char*>(text.data()),
                 text.size() * 2, 2, kReplacement8);
}

std::u16string Utf8ToUtf16(std::string_view text) {
  return FromBytes(Convert("UTF-16LE", "UTF-8", text.data(), text.size(), 1, kReplacement16));
}

}  // namespace qev
