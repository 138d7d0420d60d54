// The DirectDraw surface reader: the top level of a DDS file with DXT1, DXT3
// or DXT5 blocks, or uncompressed 24- or 32-bit pixels described by masks.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/picture_decoder.h"

namespace qev {

// True when the bytes start with the DDS magic.
bool IsDds(const uint8_t* data, size_t size);
// 1 and `out` filled, or 0 with the reason in `why`.
int DecodeDds(const uint8_t* data, size_t size, DecodedPicture& out, std::string& why);

}  // namespace qev
