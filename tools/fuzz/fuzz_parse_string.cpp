// Fuzz target: any bytes split by the narrow and the wide splitter at a
// separator taken from the input's head, and held by CStr in both encodings.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "support/parse_string.h"
#include "support/str.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // first byte: separator length 1-4, then the separator, then the text
  const size_t sepLength = 1 + data[0] % 4;
  if (size < 1 + sepLength) return 0;
  const std::string separator(reinterpret_cast<const char*>(data + 1), sepLength);
  const std::string text(reinterpret_cast<const char*>(data + 1 + sepLength), size - 1 - sepLength);

  CParseStringA narrow;
  const int split = narrow.Split(text.c_str(), separator.c_str());
  // a separator cut short by a NUL may be empty, and that alone is refused
  if (split != (separator.c_str()[0] != '\0')) abort();
  if (size_t(narrow.m_nCount) > text.size() + 1) abort();

  CStr str(text.c_str());
  CStr sep(separator.c_str());
  if (str.m_pszW && sep.m_pszW) {
    CParseStringW wide;
    wide.Split(str.m_pszW, sep.m_pszW);
    if (wide.m_nCount > str.m_nLengthW + 1) abort();
    CStr back;
    for (int i = 0; i < wide.m_nCount; ++i) back.SetW(wide.m_ppToken[i]);
  }
  return 0;
}
