// A font face chosen by family name and cell height: the stand-in for the
// window system's font handle and its glyph queries. fontconfig picks the
// file, FreeType opens it and renders grey glyph bitmaps.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace qev {

struct FontHandle;

// Character sets a face is asked for. SHIFTJIS_CHARSET asks for a face that
// covers Japanese: any installed one is taken when the family has none.
constexpr int DEFAULT_CHARSET = 1;
constexpr int SHIFTJIS_CHARSET = 128;

// The face that best matches a family name (UTF-8) at a cell height in pixels
// (ascent + descent, as the window system reads a positive height), or null
// when the height is not positive or no face can be opened. Like the window
// system, an unknown family falls back to the closest installed face; the
// Japanese faces of the program's home platform map to installed Gothic ones.
FontHandle* CreateFontHandle(std::string_view family, int height, int charset = DEFAULT_CHARSET);
// Releases the face; 1 when one was released, 0 for null.
int DeleteFontHandle(FontHandle* font);

// The file the face was opened from, and its family and height as opened.
std::string FontHandleFile(const FontHandle* font);
std::string FontHandleFamily(const FontHandle* font);
int FontHandleHeight(const FontHandle* font);
// Whether the face has a glyph for a character (UTF-32).
bool FontHandleCovers(const FontHandle* font, char32_t c);

// Pixels of the face's text cell: height = ascent + descent.
struct TEXTMETRICW {
  int tmHeight = 0;
  int tmAscent = 0;
  int tmDescent = 0;
};

// A glyph's box and pen advance in pixels. The black box is the bitmap;
// its top-left corner lies gmptGlyphOrigin from the pen on the baseline
// (x to the right, y upward).
struct GLYPHMETRICS {
  uint32_t gmBlackBoxX = 0;
  uint32_t gmBlackBoxY = 0;
  struct {
    int32_t x = 0, y = 0;
  } gmptGlyphOrigin;
  int16_t gmCellIncX = 0;
  int16_t gmCellIncY = 0;
};

// A 2 x 2 transform of the glyph outline, 16.16 fixed point: eM11 eM12 on
// the first row. The identity is {65536, 0, 0, 65536}.
struct MAT2 {
  int32_t eM11 = 65536, eM12 = 0, eM21 = 0, eM22 = 65536;
};

constexpr uint32_t GDI_ERROR = 0xFFFFFFFFu;
// The grey bitmap's densest level: levels run 0..64.
constexpr int kGlyphGrayLevels = 64;

// 1 with the face's cell metrics, 0 for null.
int GetFontTextMetrics(const FontHandle* font, TEXTMETRICW* metrics);

// The grey glyph of one character: fills *metrics and, when the buffer holds
// the whole bitmap, the bitmap: gmBlackBoxY rows top-down, each of
// ((gmBlackBoxX * 8 + 31) / 32) * 4 bytes (padded to 4), one level 0..64 a
// pixel. Returns the bitmap's byte size (0 for a blank glyph such as a space,
// whose box is 1 x 1), or GDI_ERROR when the glyph cannot be made or a buffer
// is given that is too small. With no buffer (size 0) only the size and the
// metrics are answered.
uint32_t GetGlyphGray8(FontHandle* font, char32_t c, GLYPHMETRICS* metrics, uint32_t bufferSize,
                       void* buffer, const MAT2& matrix);

}  // namespace qev
