#include "platform/font_handle.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <cstring>
#include <vector>

namespace qev {

// Each handle owns its FreeType library so handles can live on any thread.
struct FontHandle {
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  std::string file;
  int height = 0;
  int ascent = 0;  // pixels above the baseline within the cell
};

namespace {

// Faces the program names after its home platform, and the installed faces
// that stand in for them (fixed-pitch Gothic, proportional Gothic).
struct FaceAlias {
  const char* name;
  const char* installed;
};
constexpr FaceAlias kFaceAliases[] = {
    {"ＭＳ ゴシック", "IPAGothic"},
    {"MS Gothic", "IPAGothic"},
    {"メイリオ", "IPAPGothic"},
    {"Meiryo", "IPAPGothic"},
};

// Characters a face must have to count as covering Japanese: kana and kanji.
constexpr FcChar32 kJapaneseProbe[] = {0x3042, 0x30A2, 0x6F22};

bool CoversJapanese(FcPattern* font) {
  FcCharSet* set = nullptr;
  if (FcPatternGetCharSet(font, FC_CHARSET, 0, &set) != FcResultMatch || !set) return false;
  for (FcChar32 c : kJapaneseProbe)
    if (!FcCharSetHasChar(set, c)) return false;
  return true;
}

bool FileOf(FcPattern* font, std::string& file, int& index) {
  FcChar8* path = nullptr;
  if (FcPatternGetString(font, FC_FILE, 0, &path) != FcResultMatch || !path) return false;
  file = reinterpret_cast<const char*>(path);
  if (FcPatternGetInteger(font, FC_INDEX, 0, &index) != FcResultMatch) index = 0;
  return true;
}

const FaceAlias* AliasOf(std::string_view family) {
  for (const FaceAlias& alias : kFaceAliases)
    if (family == alias.name) return &alias;
  return nullptr;
}

FcPattern* NewPattern(std::string_view family, bool japanese) {
  FcPattern* pattern = FcPatternCreate();
  const std::string name(family);
  if (const FaceAlias* alias = AliasOf(family))
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(alias->installed));
  if (!name.empty()) FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(name.c_str()));
  if (japanese) FcPatternAddString(pattern, FC_LANG, reinterpret_cast<const FcChar8*>("ja"));
  FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  return pattern;
}

// The first face of fontconfig's ordering for Japanese text that really has
// the glyphs.
bool MatchAnyJapanese(std::string& file, int& index) {
  FcPattern* pattern = NewPattern({}, true);
  FcResult result = FcResultNoMatch;
  FcFontSet* sorted = FcFontSort(nullptr, pattern, FcFalse, nullptr, &result);
  bool found = false;
  for (int i = 0; sorted && i < sorted->nfont && !found; ++i)
    found = CoversJapanese(sorted->fonts[i]) && FileOf(sorted->fonts[i], file, index);
  if (sorted) FcFontSetDestroy(sorted);
  FcPatternDestroy(pattern);
  return found;
}

// The font file fontconfig matches for a family name, with its face index.
bool MatchFile(std::string_view family, int charset, std::string& file, int& index) {
  // the process-wide configuration, loaded once
  if (!FcInit()) return false;
  const bool japanese = charset == SHIFTJIS_CHARSET;
  FcPattern* pattern = NewPattern(family, japanese);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  bool found = false;
  if (match) {
    found = (!japanese || CoversJapanese(match)) && FileOf(match, file, index);
    // A family without Japanese glyphs is no answer for Japanese text; the
    // closest match serves when no installed face has them either.
    if (!found) found = MatchAnyJapanese(file, index) || FileOf(match, file, index);
    FcPatternDestroy(match);
  }
  FcPatternDestroy(pattern);
  return found;
}

// Scales the face so that its cell (the ascent and descent the window system
// lays text out with) is height pixels; the ascent in whole pixels.
bool SizeToCell(FT_Face face, int height, int& ascent) {
  const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  FT_Size_RequestRec request{};
  request.width = 0;
  const long cell = os2 && os2->version != 0xFFFF ? long(os2->usWinAscent) + long(os2->usWinDescent) : 0;
  if (FT_IS_SCALABLE(face) && cell > 0) {
    request.type = FT_SIZE_REQUEST_TYPE_NOMINAL;
    request.height = long(height) * 64 * face->units_per_EM / cell;  // 26.6 pixels of the em
    if (FT_Request_Size(face, &request) != 0) return false;
    ascent = int((long(height) * os2->usWinAscent * 2 + cell) / (2 * cell));
  } else {
    request.type = FT_SIZE_REQUEST_TYPE_REAL_DIM;
    request.height = long(height) * 64;
    if (FT_Request_Size(face, &request) != 0) return false;
    ascent = int((face->size->metrics.ascender + 32) >> 6);
  }
  if (ascent < 0) ascent = 0;
  if (ascent > height) ascent = height;
  return true;
}

// FreeType's 256 grey levels onto 0..64, rounded.
uint8_t GrayLevel(unsigned value) { return uint8_t((value * kGlyphGrayLevels + 127) / 255); }

// Bitmaps larger than this are refused rather than allocated by callers.
constexpr uint64_t kMaxGlyphBytes = 16u << 20;

}  // namespace

FontHandle* CreateFontHandle(std::string_view family, int height, int charset) {
  if (height <= 0) return nullptr;
  std::string file;
  int index = 0;
  if (!MatchFile(family, charset, file, index)) return nullptr;
  auto* font = new FontHandle;
  font->file = file;
  font->height = height;
  if (FT_Init_FreeType(&font->library) != 0 || FT_New_Face(font->library, file.c_str(), index, &font->face) != 0 ||
      !SizeToCell(font->face, height, font->ascent)) {
    DeleteFontHandle(font);
    return nullptr;
  }
  return font;
}

int DeleteFontHandle(FontHandle* font) {
  if (!font) return 0;
  if (font->face) FT_Done_Face(font->face);
  if (font->library) FT_Done_FreeType(font->library);
  delete font;
  return 1;
}

std::string FontHandleFile(const FontHandle* font) { return font ? font->file : std::string(); }

std::string FontHandleFamily(const FontHandle* font) {
  return font && font->face && font->face->family_name ? font->face->family_name : std::string();
}

int FontHandleHeight(const FontHandle* font) { return font ? font->height : 0; }

bool FontHandleCovers(const FontHandle* font, char32_t c) {
  return font && font->face && FT_Get_Char_Index(font->face, FT_ULong(c)) != 0;
}

int GetFontTextMetrics(const FontHandle* font, TEXTMETRICW* metrics) {
  if (!font || !metrics) return 0;
  metrics->tmHeight = font->height;
  metrics->tmAscent = font->ascent;
  metrics->tmDescent = font->height - font->ascent;
  return 1;
}

uint32_t GetGlyphGray8(FontHandle* font, char32_t c, GLYPHMETRICS* metrics, uint32_t bufferSize, void* buffer,
                       const MAT2& matrix) {
  if (!font || !font->face || !metrics) return GDI_ERROR;
  FT_Face face = font->face;
  // A character the face lacks draws its missing-glyph box, as on the home platform.
  const FT_UInt glyph = FT_Get_Char_Index(face, FT_ULong(c));
  // FreeType's matrix multiplies column vectors; MAT2 is written row by row.
  FT_Matrix transform{matrix.eM11, matrix.eM21, matrix.eM12, matrix.eM22};
  FT_Set_Transform(face, &transform, nullptr);
  const bool rendered = FT_Load_Glyph(face, glyph, FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_NORMAL) == 0 &&
                        FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL) == 0;
  FT_Set_Transform(face, nullptr, nullptr);
  if (!rendered) return GDI_ERROR;

  const FT_GlyphSlot slot = face->glyph;
  const FT_Bitmap& bitmap = slot->bitmap;
  const long advance = (slot->advance.x + 32) >> 6;
  metrics->gmCellIncX = int16_t(advance < -32768 ? -32768 : advance > 32767 ? 32767 : advance);
  metrics->gmCellIncY = 0;
  metrics->gmptGlyphOrigin.x = slot->bitmap_left;
  metrics->gmptGlyphOrigin.y = slot->bitmap_top;
  if (bitmap.width == 0 || bitmap.rows == 0) {
    metrics->gmBlackBoxX = metrics->gmBlackBoxY = 1;
    return 0;
  }
  metrics->gmBlackBoxX = bitmap.width;
  metrics->gmBlackBoxY = bitmap.rows;
  const uint64_t pitch = (uint64_t(bitmap.width) * 8 + 31) / 32 * 4;
  const uint64_t size = pitch * bitmap.rows;
  if (size > kMaxGlyphBytes) return GDI_ERROR;
  if (!buffer || bufferSize == 0) return uint32_t(size);
  if (bufferSize < size) return GDI_ERROR;

  auto* out = static_cast<uint8_t*>(buffer);
  std::memset(out, 0, size_t(size));
  const unsigned sourcePitch = unsigned(bitmap.pitch < 0 ? -bitmap.pitch : bitmap.pitch);
  for (unsigned r = 0; r < bitmap.rows; ++r) {
    const uint8_t* row = bitmap.buffer + size_t(r) * sourcePitch;
    uint8_t* levels = out + size_t(r) * pitch;
    for (unsigned i = 0; i < bitmap.width; ++i) {
      if (bitmap.pixel_mode == FT_PIXEL_MODE_MONO) {
        levels[i] = (row[i / 8] & (0x80 >> (i % 8))) ? kGlyphGrayLevels : 0;
      } else if (bitmap.pixel_mode == FT_PIXEL_MODE_GRAY) {
        levels[i] = GrayLevel(bitmap.num_grays > 1 ? row[i] * 255u / (bitmap.num_grays - 1u) : row[i]);
      }
    }
  }
  return uint32_t(size);
}

}  // namespace qev
