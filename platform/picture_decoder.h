// Decoding of picture files into 32-bit blue-green-red-alpha pixels: the
// texture loader's direct route. Formats are told by content, never by name;
// the caller picks which set of formats it accepts.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qev {

// Largest picture side and pixel count taken; beyond them a picture is refused
// before anything is allocated for it.
constexpr int kMaxPictureSide = 16384;
constexpr int64_t kMaxPicturePixels = int64_t(1) << 26;

struct DecodedPicture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;  // width * 4 bytes a row, top row first
  std::string format;           // "PNG", "BMP", "DDS DXT1", ... of the decoded picture
  int bits = 0;                 // bits per pixel of the file's own pixels, as far as the decoder tells
};

enum class PictureFormats {
  kTextureFiles,  // BMP (and DIB), TGA, DDS, JPG, PNG
  kAll,           // those and GIF
};

// 1 and `out` filled when the bytes are a whole picture of an accepted format;
// 0 and `out` emptied otherwise. `why` gets the reason of a refusal: empty when
// no accepted format recognised the bytes, a text when a recognised picture was
// damaged, cut short or too large.
int DecodePicture(const uint8_t* data, size_t size, PictureFormats formats, DecodedPicture& out,
                  std::string* why = nullptr);

}  // namespace qev
