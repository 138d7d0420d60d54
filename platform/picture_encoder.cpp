#include "platform/picture_encoder.h"

#include <vector>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#endif
#include <stb/stb_image_write.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace qev {
namespace {

void Append(void* context, void* data, int size) {
  static_cast<std::string*>(context)->append(static_cast<const char*>(data), size_t(size));
}

}  // namespace

std::string EncodePicture(PictureFileType type, int width, int height, const uint8_t* bgra, bool alpha) {
  std::string file;
  if (width <= 0 || height <= 0 || !bgra) return file;
  const int channels = alpha ? 4 : 3;
  std::vector<uint8_t> rgb(size_t(width) * height * channels);
  for (size_t i = 0; i < size_t(width) * height; ++i) {
    rgb[i * channels + 0] = bgra[i * 4 + 2];
    rgb[i * channels + 1] = bgra[i * 4 + 1];
    rgb[i * channels + 2] = bgra[i * 4 + 0];
    if (alpha) rgb[i * channels + 3] = bgra[i * 4 + 3];
  }
  int ok = 0;
  switch (type) {
    case PictureFileType::kPng:
      ok = stbi_write_png_to_func(Append, &file, width, height, channels, rgb.data(), width * channels);
      break;
    case PictureFileType::kBmp:
      ok = stbi_write_bmp_to_func(Append, &file, width, height, channels, rgb.data());
      break;
    case PictureFileType::kTga:
    case PictureFileType::kTgaRle:
      // the writer keeps this switch in a variable of its own, private to this file
      stbi_write_tga_with_rle = type == PictureFileType::kTgaRle;
      ok = stbi_write_tga_to_func(Append, &file, width, height, channels, rgb.data());
      break;
    case PictureFileType::kJpg:
      ok = stbi_write_jpg_to_func(Append, &file, width, height, channels, rgb.data(), 95);
      break;
  }
  if (!ok) file.clear();
  return file;
}

}  // namespace qev
