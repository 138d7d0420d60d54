// Writing 32-bit blue-green-red-alpha pixels as picture files: the fixtures of
// the tests, the benchmark and the fuzz seeds are made with it.
#pragma once
#include <cstdint>
#include <string>

namespace qev {

enum class PictureFileType { kPng, kBmp, kTga, kTgaRle, kJpg };  // kTga: uncompressed

// The file image of a width x height picture (rows of width * 4 bytes, top row
// first); BMP, TGA and JPG drop alpha when `alpha` is false. Empty on failure.
std::string EncodePicture(PictureFileType type, int width, int height, const uint8_t* bgra,
                          bool alpha = true);

}  // namespace qev
