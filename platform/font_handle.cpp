#include "platform/font_handle.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

namespace qev {

// Each handle owns its FreeType library so handles can live on any thread.
struct FontHandle {
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  std::string file;
  int height = 0;
};

namespace {

// The font file fontconfig matches for a family name, with its face index.
bool MatchFile(std::string_view family, std::string& file, int& index) {
  // the process-wide configuration, loaded once
  if (!FcInit()) return false;
  FcConfig* config = nullptr;
  const std::string name(family);
  FcPattern* pattern = FcPatternCreate();
  if (!name.empty()) FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(name.c_str()));
  FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(config, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(config, pattern, &result);
  bool found = false;
  if (match) {
    FcChar8* path = nullptr;
    if (FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch && path) {
      file = reinterpret_cast<const char*>(path);
      if (FcPatternGetInteger(match, FC_INDEX, 0, &index) != FcResultMatch) index = 0;
      found = true;
    }
    FcPatternDestroy(match);
  }
  FcPatternDestroy(pattern);
  return found;
}

}  // namespace

FontHandle* CreateFontHandle(std::string_view family, int height) {
  if (height <= 0) return nullptr;
  std::string file;
  int index = 0;
  if (!MatchFile(family, file, index)) return nullptr;
  auto* font = new FontHandle;
  font->file = file;
  font->height = height;
  if (FT_Init_FreeType(&font->library) != 0 ||
      FT_New_Face(font->library, file.c_str(), index, &font->face) != 0 ||
      FT_Set_Pixel_Sizes(font->face, 0, FT_UInt(height)) != 0) {
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

}  // namespace qev
