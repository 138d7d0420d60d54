// CXText: the text of an X file as it is built, in one large buffer that
// goes to a CSafeFile whenever it fills. Every line feed is stored as CR LF,
// the line end these files are read with everywhere.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "export/x_number.h"

class CSafeFile;

class CXText {
 public:
  // Bytes gathered before they are handed to the file.
  static constexpr size_t kChunk = size_t(1) << 20;

  explicit CXText(CSafeFile& file);
  CXText(const CXText&) = delete;
  CXText& operator=(const CXText&) = delete;
  virtual ~CXText();

  // Text as it stands, each "\n" written as CR LF.
  CXText& Put(std::string_view text) {
    if (text.size() > kShortText) return PutLong(text);
    Reserve(2 * kShortText);
    for (char c : text) {
      if (c == '\n') *m_pEnd++ = '\r';
      *m_pEnd++ = c;
    }
    return *this;
  }
  // "%f" of the value.
  CXText& Float(double value) {
    Reserve(qev::xfile::kMaxNumberText);
    m_pEnd = qev::xfile::FormatFixed(m_pEnd, value);
    return *this;
  }
  // "%d" of the value.
  CXText& Int(int64_t value) {
    Reserve(24);
    m_pEnd = qev::xfile::FormatInt(m_pEnd, value);
    return *this;
  }
  // A name as a frame name: "_" and every byte as two upper-case hex digits.
  CXText& FrameName(std::string_view name);
  // n blanks.
  CXText& Blanks(int n) {
    if (n > int(kShortText)) return LongBlanks(n);
    Reserve(kShortText);
    for (int i = 0; i < n; ++i) *m_pEnd++ = ' ';
    return *this;
  }
  // Hands the gathered bytes to the file; 0 once the file has failed.
  int Flush();

 private:
  // Literals and indentation up to this long take the inline path.
  static constexpr size_t kShortText = 64;
  CXText& PutLong(std::string_view text);
  CXText& LongBlanks(int n);
  void Reserve(size_t n) {
    if (size_t(m_pLimit - m_pEnd) < n) Flush();
  }

  CSafeFile& m_file;
  std::unique_ptr<char[]> m_pText;  // kChunk and some slack
  char* m_pEnd;
  char* m_pLimit;  // the buffer's end: an item that would pass it sends the buffer to the file first
};
