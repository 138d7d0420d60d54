// CFont: owns one platform font handle, a face chosen by family name and
// cell height, and releases it when deleted or destroyed.
#pragma once
#include <string_view>

#include "platform/font_handle.h"

class CFont {
 public:
  CFont() = default;
  CFont(const CFont&) = delete;
  CFont& operator=(const CFont&) = delete;
  virtual ~CFont();

  // Replaces the held face with the best match for a family (UTF-8) at a
  // cell height in pixels, covering a character set; 1, or 0 when none could
  // be made (nothing is then held).
  int Create(std::string_view family, int height, int charset = qev::DEFAULT_CHARSET);
  // The result of releasing the held face, or 0 when none is held.
  int Delete();

  qev::FontHandle* m_hFont = nullptr;
  int m_nHeight = 0;  // the height the face was made for, cleared with it
};
