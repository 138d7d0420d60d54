// CStr: one text held at once as code page 932 bytes and as UTF-16, so code
// that sits between the data files and the wide-text side can take either.
#pragma once
#include <cstddef>

class CStr {
 public:
  CStr() = default;
  // An empty CStr followed by SetA.
  explicit CStr(const char* text);
  CStr(const CStr&) = delete;
  CStr& operator=(const CStr&) = delete;
  virtual ~CStr();

  // Sets both texts from a narrow (code page 932) text. 1, or 0 on a null
  // text or a failed allocation (the object is then empty). The text may be
  // this object's own.
  int SetA(const char* text);
  // The same from a UTF-16 text.
  int SetW(const char16_t* text);

  char* m_pszA = nullptr;      // NUL-terminated, owned
  int m_nLengthA = 0;          // bytes
  char16_t* m_pszW = nullptr;  // NUL-terminated, owned
  int m_nLengthW = 0;          // UTF-16 units

 private:
  void Empty();
  // Replaces both texts with copies of the given pair; 0 on failure.
  int Store(const char* a, size_t lengthA, const char16_t* w, size_t lengthW);
};
