#include "support/font.h"

#include "platform/font_handle.h"

CFont::~CFont() { Delete(); }

int CFont::Create(std::string_view family, int height, int charset) {
  Delete();
  m_hFont = qev::CreateFontHandle(family, height, charset);
  if (!m_hFont) return 0;
  m_nHeight = height;
  return 1;
}

int CFont::Delete() {
  if (!m_hFont) return 0;
  const int result = qev::DeleteFontHandle(m_hFont);
  m_hFont = nullptr;
  m_nHeight = 0;
  return result;
}
