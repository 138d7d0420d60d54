#include "support/str.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/codepage.h"

CStr::CStr(const char* text) { SetA(text); }

CStr::~CStr() { Empty(); }

void CStr::Empty() {
  std::free(m_pszA);
  std::free(m_pszW);
  m_pszA = nullptr;
  m_pszW = nullptr;
  m_nLengthA = 0;
  m_nLengthW = 0;
}

int CStr::Store(const char* a, size_t lengthA, const char16_t* w, size_t lengthW) {
  // lengths are kept as 32-bit ints; a longer text is refused like a failed allocation
  if (lengthA >= INT_MAX || lengthW >= INT_MAX) {
    Empty();
    return 0;
  }
  char* newA = static_cast<char*>(std::realloc(m_pszA, lengthA + 1));
  if (!newA) {
    Empty();
    return 0;
  }
  m_pszA = newA;
  char16_t* newW = static_cast<char16_t*>(std::realloc(m_pszW, (lengthW + 1) * sizeof(char16_t)));
  if (!newW) {
    Empty();
    return 0;
  }
  m_pszW = newW;
  std::memcpy(m_pszA, a, lengthA);
  m_pszA[lengthA] = '\0';
  std::memcpy(m_pszW, w, lengthW * sizeof(char16_t));
  m_pszW[lengthW] = u'\0';
  m_nLengthA = int(lengthA);
  m_nLengthW = int(lengthW);
  return 1;
}

int CStr::SetA(const char* text) {
  if (!text) return 0;
  // copied before anything is freed: the text may be our own
  const std::string a(text);
  const std::u16string w = qev::Cp932ToUtf16(a);
  return Store(a.data(), a.size(), w.data(), w.size());
}

int CStr::SetW(const char16_t* text) {
  if (!text) return 0;
  const std::u16string w(text);
  const std::string a = qev::Utf16ToCp932(w);
  return Store(a.data(), a.size(), w.data(), w.size());
}
