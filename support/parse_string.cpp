#include "support/parse_string.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

template <typename Ch>
void FreeTokens(Ch**& tokens, int& count) {
  for (int i = 0; i < count; ++i) std::free(tokens[i]);
  std::free(tokens);
  tokens = nullptr;
  count = 0;
}

// Appends text[0, n) as a new token; a token of two or more characters that
// both starts and ends with a double quote loses that pair.
template <typename Ch>
bool AppendToken(Ch**& tokens, int& count, const Ch* text, size_t n) {
  if (count == INT_MAX) return false;
  Ch** grown = static_cast<Ch**>(std::realloc(tokens, (size_t(count) + 1) * sizeof(Ch*)));
  if (!grown) return false;
  tokens = grown;
  if (n >= 2 && text[0] == Ch('"') && text[n - 1] == Ch('"')) {
    ++text;
    n -= 2;
  }
  Ch* token = static_cast<Ch*>(std::calloc(n + 1, sizeof(Ch)));
  if (!token) return false;
  std::memcpy(token, text, n * sizeof(Ch));
  tokens[count++] = token;
  return true;
}

template <typename Ch>
int SplitText(Ch**& tokens, int& count, const Ch* textIn, const Ch* separatorIn) {
  if (!textIn || !separatorIn || !separatorIn[0]) {
    FreeTokens(tokens, count);
    return 0;
  }
  // copied before the old tokens go: a caller may split one of them again
  const std::basic_string<Ch> textCopy(textIn), separatorCopy(separatorIn);
  FreeTokens(tokens, count);
  const Ch* text = textCopy.c_str();
  const Ch* separator = separatorCopy.c_str();
  const size_t length = textCopy.size();
  const size_t sepLength = separatorCopy.size();
  size_t p = 0;
  while (p < length) {
    size_t i = p;
    bool quoted = false;
    for (; i < length; ++i) {
      if (!quoted && text[i] == separator[0] && sepLength <= length - i &&
          std::memcmp(text + i, separator, sepLength * sizeof(Ch)) == 0)
        break;
      if (text[i] == Ch('"')) quoted = !quoted;
    }
    if (!AppendToken(tokens, count, text + p, i - p)) {
      FreeTokens(tokens, count);
      return 0;
    }
    p = i + sepLength;
  }
  return 1;
}

}  // namespace

CParseStringA::~CParseStringA() { Clear(); }

int CParseStringA::Split(const char* text, const char* separator) {
  return SplitText(m_ppToken, m_nCount, text, separator);
}

int CParseStringA::Clear() {
  FreeTokens(m_ppToken, m_nCount);
  return 1;
}

CParseStringW::~CParseStringW() { Clear(); }

int CParseStringW::Split(const char16_t* text, const char16_t* separator) {
  return SplitText(m_ppToken, m_nCount, text, separator);
}

int CParseStringW::Clear() {
  FreeTokens(m_ppToken, m_nCount);
  return 1;
}
