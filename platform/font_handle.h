// A font face chosen by family name and pixel height: the stand-in for the
// window system's font handle. fontconfig picks the file, FreeType opens it.
#pragma once
#include <string>
#include <string_view>

namespace qev {

struct FontHandle;

// The face that best matches a family name (UTF-8) at a pixel height, or null
// when the height is not positive or no face can be opened. Like the window
// system, an unknown family falls back to the closest installed face.
FontHandle* CreateFontHandle(std::string_view family, int height);
// Releases the face; 1 when one was released, 0 for null.
int DeleteFontHandle(FontHandle* font);

// The file the face was opened from, and its family and height as opened.
std::string FontHandleFile(const FontHandle* font);
std::string FontHandleFamily(const FontHandle* font);
int FontHandleHeight(const FontHandle* font);

}  // namespace qev
