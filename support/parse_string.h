// CParseStringA / CParseStringW: cut a narrow (code page 932) or UTF-16 text
// into tokens at a separator string. Double quotes suspend the separator, and
// a token wrapped in a pair of them loses the pair.
#pragma once

class CParseStringA {
 public:
  CParseStringA() = default;
  CParseStringA(const CParseStringA&) = delete;
  CParseStringA& operator=(const CParseStringA&) = delete;
  virtual ~CParseStringA();

  // 1 when split; 0 for a null argument, an empty separator or a failed
  // allocation (no tokens are then kept).
  int Split(const char* text, const char* separator);
  int Clear();

  char** m_ppToken = nullptr;  // m_nCount NUL-terminated tokens, all owned
  int m_nCount = 0;
};

class CParseStringW {
 public:
  CParseStringW() = default;
  CParseStringW(const CParseStringW&) = delete;
  CParseStringW& operator=(const CParseStringW&) = delete;
  virtual ~CParseStringW();

  int Split(const char16_t* text, const char16_t* separator);
  int Clear();

  char16_t** m_ppToken = nullptr;
  int m_nCount = 0;
};
