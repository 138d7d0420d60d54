// CAntiFont32: a string rendered once into a 32-bit image, white with the
// glyphs' grey coverage as alpha, from the 16-pixel face's grey bitmaps.
#pragma once
#include <cstdint>

#include "platform/font_handle.h"

class CAntiFont32 {
 public:
  CAntiFont32() = default;
  CAntiFont32(const CAntiFont32&) = delete;
  CAntiFont32& operator=(const CAntiFont32&) = delete;
  virtual ~CAntiFont32();

  // Renders the text (UTF-16, NUL-terminated) in a face (UTF-16; null picks
  // the program's proportional Gothic). 0 when the face cannot be made or
  // the image cannot be allocated; the old image is gone either way.
  int Make(const char16_t* face, const char16_t* text);
  // Frees the image; sizes become 0.
  void Free();

  qev::MAT2 m_mat2;             // glyph transform, the identity
  uint8_t* m_pBits = nullptr;   // blue, green, red, alpha; rows top-down
  int m_nWidth = 0;             // pixels
  int m_nHeight = 0;            // pixels: the face's cell height
  int m_nPitch = 0;             // bytes a row: width x 4
};

// The widest string image made, in pixels: far past the atlas and any label
// of 2047 characters, small enough that outlining it stays quick.
constexpr int kMaxGlyphImageWidth = 1 << 16;
// The cell height every string is rendered at, in pixels.
constexpr int kGlyphFontHeight = 16;
// Alpha of a grey level: 65 steps, so the densest level (64) gives 251.
constexpr uint8_t GlyphLevelAlpha(int level) { return uint8_t(level * 255 / 65); }
