// Code page conversion between the data files' narrow text (code page 932),
// UTF-16 (settings file, window text) and UTF-8 (native paths, terminal).
// Everything above platform/ converts through these functions only.
#pragma once
#include <string>
#include <string_view>

namespace qev {

// Bytes that are not valid code page 932 become U+FFFD; never fails.
std::u16string Cp932ToUtf16(std::string_view text);
std::string Cp932ToUtf8(std::string_view text);
// Characters code page 932 cannot hold become '?'; never fails.
std::string Utf16ToCp932(std::u16string_view text);
std::string Utf8ToCp932(std::string_view text);
// Invalid units or bytes become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);

// A literal written in UTF-8 source, as the system's narrow text.
inline std::string Sjis(std::string_view utf8) { return Utf8ToCp932(utf8); }

}  // namespace qev
