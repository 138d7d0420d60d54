#include "export/x_text.h"

#include <cstring>

#include "export/safe_file.h"

namespace {
// Room behind the chunk: one number, or a piece of text cut to this size.
constexpr size_t kSlack = 4096;
}  // namespace

CXText::CXText(CSafeFile& file) : m_file(file), m_pText(new char[kChunk + kSlack]) {
  m_pEnd = m_pText.get();
  m_pLimit = m_pText.get() + kChunk + kSlack;
}

CXText::~CXText() = default;

int CXText::Flush() {
  const size_t n = size_t(m_pEnd - m_pText.get());
  m_pEnd = m_pText.get();
  return m_file.Write(m_pText.get(), n);
}

CXText& CXText::PutLong(std::string_view text) {
  // in pieces small enough that their expansion always fits the slack
  while (!text.empty()) {
    const size_t n = text.size() < kSlack / 2 ? text.size() : kSlack / 2;
    Reserve(2 * n);
    for (size_t i = 0; i < n; ++i) {
      if (text[i] == '\n') *m_pEnd++ = '\r';
      *m_pEnd++ = text[i];
    }
    text.remove_prefix(n);
  }
  return *this;
}

CXText& CXText::FrameName(std::string_view name) {
  static const char kHex[] = "0123456789ABCDEF";
  Reserve(1);
  *m_pEnd++ = '_';
  for (size_t i = 0; i < name.size(); ++i) {
    Reserve(2);
    const unsigned char c = static_cast<unsigned char>(name[i]);
    *m_pEnd++ = kHex[c >> 4];
    *m_pEnd++ = kHex[c & 15];
  }
  return *this;
}

CXText& CXText::LongBlanks(int n) {
  while (n > 0) {
    const int k = n < int(kSlack) ? n : int(kSlack);
    Reserve(size_t(k));
    std::memset(m_pEnd, ' ', size_t(k));
    m_pEnd += k;
    n -= k;
  }
  return *this;
}
