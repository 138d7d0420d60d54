#include "render/anti_font32.h"

#include <algorithm>
#include <new>
#include <vector>

#include "platform/codepage.h"
#include "support/font.h"

CAntiFont32::~CAntiFont32() { Free(); }

void CAntiFont32::Free() {
  delete[] m_pBits;
  m_pBits = nullptr;
  m_nWidth = m_nHeight = m_nPitch = 0;
}

int CAntiFont32::Make(const char16_t* face, const char16_t* text) {
  Free();
  const std::u16string faceName = face ? std::u16string(face) : std::u16string(u"メイリオ");
  CFont font;
  if (!font.Create(qev::Utf16ToUtf8(faceName), kGlyphFontHeight, qev::SHIFTJIS_CHARSET)) return 0;
  qev::TEXTMETRICW tm;
  qev::GetFontTextMetrics(font.m_hFont, &tm);
  const std::u16string_view chars = text ? std::u16string_view(text) : std::u16string_view();

  // Width: each character takes its advance, or its black box when that
  // reaches further. A text past the widest image is refused as soon as it is.
  int64_t width = 0;
  for (size_t k = 0; k < chars.size(); ++k) {
    qev::GLYPHMETRICS gm;
    if (qev::GetGlyphGray8(font.m_hFont, chars[k], &gm, 0, nullptr, m_mat2) == qev::GDI_ERROR) gm = {};
    width += std::max<int64_t>(int64_t(gm.gmptGlyphOrigin.x) + gm.gmBlackBoxX, gm.gmCellIncX);
    if (width > kMaxGlyphImageWidth) return 0;
  }
  if (width < 0) return 0;
  const int w = int(width), h = tm.tmHeight;
  const size_t bytes = size_t(w) * size_t(h) * 4;
  auto* bits = new (std::nothrow) uint8_t[bytes ? bytes : 1];
  if (!bits) return 0;
  // white everywhere, fully transparent
  for (size_t i = 0; i < bytes; i += 4) {
    bits[i] = bits[i + 1] = bits[i + 2] = 255;
    bits[i + 3] = 0;
  }
  m_pBits = bits;
  m_nWidth = w;
  m_nHeight = h;
  m_nPitch = w * 4;

  std::vector<uint8_t> levels;
  int pen = 0;
  for (size_t k = 0; k < chars.size(); ++k) {
    qev::GLYPHMETRICS gm;  // zero for a glyph that cannot be made, as in the width pass
    const uint32_t size = qev::GetGlyphGray8(font.m_hFont, chars[k], &gm, 0, nullptr, m_mat2);
    if (size == qev::GDI_ERROR) gm = {};
    if (size != 0 && size != qev::GDI_ERROR) {
      levels.assign(size, 0);
      const uint32_t rowBytes = (gm.gmBlackBoxX * 8 + 31) / 32 * 4;
      // A glyph that does not come back whole is not drawn rather than read past its buffer.
      if (qev::GetGlyphGray8(font.m_hFont, chars[k], &gm, size, levels.data(), m_mat2) == size &&
          uint64_t(rowBytes) * gm.gmBlackBoxY <= size) {
        for (uint32_t r = 0; r < gm.gmBlackBoxY; ++r) {
          const int y = tm.tmAscent - gm.gmptGlyphOrigin.y + int(r);
          if (y < 0 || y >= h) continue;  // outside the image: clipped
          for (uint32_t i = 0; i < gm.gmBlackBoxX; ++i) {
            const int x = pen + gm.gmptGlyphOrigin.x + int(i);
            if (x < 0 || x >= w) continue;
            const int level = std::min<int>(levels[size_t(r) * rowBytes + i], qev::kGlyphGrayLevels);
            uint8_t* p = bits + size_t(y) * size_t(m_nPitch) + size_t(x) * 4;
            p[0] = p[1] = p[2] = 255;
            p[3] = GlyphLevelAlpha(level);
          }
        }
      }
    }
    pen += gm.gmCellIncX;
  }
  return 1;
}
