#include "platform/dds_decoder.h"

#include <cstring>

namespace qev {
namespace {

constexpr size_t kHeaderBytes = 128;  // magic + the 124-byte surface description
constexpr uint32_t kPixelFormatFourCc = 0x4;
constexpr uint32_t kPixelFormatRgb = 0x40;
constexpr uint32_t kPixelFormatAlphaPixels = 0x1;

uint32_t Read32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint16_t Read16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
constexpr uint32_t FourCc(char a, char b, char c, char d) {
  return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 | uint32_t(uint8_t(d)) << 24;
}

// A channel described by a mask: where it starts and how wide it is.
struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  int bits = 0;
  uint8_t Get(uint32_t pixel, uint8_t absent) const {
    if (!mask) return absent;
    const uint32_t v = (pixel & mask) >> shift;
    if (bits >= 8) return uint8_t(v >> (bits - 8));
    const uint32_t max = (1u << bits) - 1;
    return uint8_t((v * 255 + max / 2) / max);
  }
};

Channel MakeChannel(uint32_t mask) {
  Channel c;
  c.mask = mask;
  if (!mask) return c;
  while (!(mask & 1)) {
    mask >>= 1;
    ++c.shift;
  }
  while (mask & 1) {
    mask >>= 1;
    ++c.bits;
  }
  return c;
}

// 565 colour to blue, green, red.
void Expand565(uint16_t c, uint8_t out[3]) {
  const uint32_t r = c >> 11, g = (c >> 5) & 0x3F, b = c & 0x1F;
  out[0] = uint8_t((b << 3) | (b >> 2));
  out[1] = uint8_t((g << 2) | (g >> 4));
  out[2] = uint8_t((r << 3) | (r >> 2));
}

// The four colours of a colour block. DXT1 blocks with c0 <= c1 have three
// colours and transparent black; DXT3/5 colour blocks always have four.
void BlockPalette(const uint8_t* block, bool dxt1, uint8_t palette[4][4]) {
  const uint16_t c0 = Read16(block), c1 = Read16(block + 2);
  uint8_t a[3], b[3];
  Expand565(c0, a);
  Expand565(c1, b);
  for (int k = 0; k < 3; ++k) {
    palette[0][k] = a[k];
    palette[1][k] = b[k];
    if (!dxt1 || c0 > c1) {
      palette[2][k] = uint8_t((2 * a[k] + b[k] + 1) / 3);
      palette[3][k] = uint8_t((a[k] + 2 * b[k] + 1) / 3);
    } else {
      palette[2][k] = uint8_t((a[k] + b[k]) / 2);
      palette[3][k] = 0;
    }
  }
  palette[0][3] = palette[1][3] = palette[2][3] = 255;
  palette[3][3] = (!dxt1 || c0 > c1) ? 255 : 0;
}

// The eight alpha levels of a DXT5 alpha block.
void AlphaLevels(const uint8_t* block, uint8_t levels[8]) {
  const int a0 = block[0], a1 = block[1];
  levels[0] = uint8_t(a0);
  levels[1] = uint8_t(a1);
  if (a0 > a1) {
    for (int i = 1; i < 7; ++i) levels[i + 1] = uint8_t(((7 - i) * a0 + i * a1 + 3) / 7);
  } else {
    for (int i = 1; i < 5; ++i) levels[i + 1] = uint8_t(((5 - i) * a0 + i * a1 + 2) / 5);
    levels[6] = 0;
    levels[7] = 255;
  }
}

void DecodeBlocks(const uint8_t* src, int width, int height, uint32_t fourCc, uint8_t* out) {
  const bool dxt1 = fourCc == FourCc('D', 'X', 'T', '1');
  const size_t blockBytes = dxt1 ? 8 : 16;
  const int blocksWide = (width + 3) / 4, blocksHigh = (height + 3) / 4;
  for (int by = 0; by < blocksHigh; ++by) {
    for (int bx = 0; bx < blocksWide; ++bx, src += blockBytes) {
      const uint8_t* colour = dxt1 ? src : src + 8;
      uint8_t palette[4][4];
      BlockPalette(colour, dxt1, palette);
      const uint32_t indices = Read32(colour + 4);
      uint8_t levels[8];
      uint64_t alphaBits = 0;
      if (fourCc == FourCc('D', 'X', 'T', '5')) {
        AlphaLevels(src, levels);
        for (int i = 0; i < 6; ++i) alphaBits |= uint64_t(src[2 + i]) << (8 * i);
      }
      for (int py = 0; py < 4; ++py) {
        const int y = by * 4 + py;
        if (y >= height) break;
        for (int px = 0; px < 4; ++px) {
          const int x = bx * 4 + px;
          if (x >= width) break;
          const int i = py * 4 + px;
          uint8_t* d = out + (size_t(y) * width + x) * 4;
          std::memcpy(d, palette[(indices >> (2 * i)) & 3], 4);
          if (fourCc == FourCc('D', 'X', 'T', '3')) {
            const int a = (src[i / 2] >> (4 * (i & 1))) & 0xF;
            d[3] = uint8_t(a * 17);
          } else if (fourCc == FourCc('D', 'X', 'T', '5')) {
            d[3] = levels[(alphaBits >> (3 * i)) & 7];
          }
        }
      }
    }
  }
}

}  // namespace

bool IsDds(const uint8_t* data, size_t size) { return size >= 4 && std::memcmp(data, "DDS ", 4) == 0; }

int DecodeDds(const uint8_t* data, size_t size, DecodedPicture& out, std::string& why) {
  out = DecodedPicture();
  if (!IsDds(data, size)) {
    why = "not a DDS file";
    return 0;
  }
  if (size < kHeaderBytes) {
    why = "DDS header cut short";
    return 0;
  }
  const uint32_t height = Read32(data + 12), width = Read32(data + 16);
  const uint32_t flags = Read32(data + 80), fourCc = Read32(data + 84);
  const uint32_t bitCount = Read32(data + 88);
  if (width == 0 || height == 0 || width > uint32_t(kMaxPictureSide) || height > uint32_t(kMaxPictureSide) ||
      int64_t(width) * height > kMaxPicturePixels) {
    why = "DDS size " + std::to_string(width) + " x " + std::to_string(height) + " out of range";
    return 0;
  }
  const uint8_t* body = data + kHeaderBytes;
  const size_t bodyBytes = size - kHeaderBytes;
  if (flags & kPixelFormatFourCc) {
    if (fourCc != FourCc('D', 'X', 'T', '1') && fourCc != FourCc('D', 'X', 'T', '3') &&
        fourCc != FourCc('D', 'X', 'T', '5')) {
      why = "DDS compression not read";
      return 0;
    }
    const uint64_t blocks = uint64_t((width + 3) / 4) * ((height + 3) / 4);
    const uint64_t need = blocks * (fourCc == FourCc('D', 'X', 'T', '1') ? 8 : 16);
    if (need > bodyBytes) {
      why = "DDS pixel data cut short";
      return 0;
    }
    out.pixels.resize(size_t(width) * height * 4);
    DecodeBlocks(body, int(width), int(height), fourCc, out.pixels.data());
    out.bits = fourCc == FourCc('D', 'X', 'T', '1') ? 4 : 8;
    out.format = std::string("DDS ") + char(fourCc) + char(fourCc >> 8) + char(fourCc >> 16) + char(fourCc >> 24);
  } else if ((flags & kPixelFormatRgb) && (bitCount == 24 || bitCount == 32)) {
    const size_t bytesPerPixel = bitCount / 8;
    const uint64_t need = uint64_t(width) * height * bytesPerPixel;
    if (need > bodyBytes) {
      why = "DDS pixel data cut short";
      return 0;
    }
    const Channel red = MakeChannel(Read32(data + 92)), green = MakeChannel(Read32(data + 96));
    const Channel blue = MakeChannel(Read32(data + 100));
    const Channel alpha = MakeChannel((flags & kPixelFormatAlphaPixels) ? Read32(data + 104) : 0);
    out.pixels.resize(size_t(width) * height * 4);
    const uint8_t* s = body;
    uint8_t* d = out.pixels.data();
    const size_t count = size_t(width) * height;
    if (bytesPerPixel == 4 && red.mask == 0xFF0000 && green.mask == 0xFF00 && blue.mask == 0xFF &&
        (alpha.mask == 0xFF000000u || alpha.mask == 0)) {
      // already blue, green, red, alpha in memory
      std::memcpy(d, s, count * 4);
      if (!alpha.mask)
        for (size_t i = 0; i < count; ++i) d[i * 4 + 3] = 255;
    } else {
      for (size_t i = 0; i < count; ++i, s += bytesPerPixel, d += 4) {
        const uint32_t pixel = bytesPerPixel == 4 ? Read32(s) : uint32_t(s[0] | s[1] << 8 | s[2] << 16);
        d[0] = blue.Get(pixel, 0);
        d[1] = green.Get(pixel, 0);
        d[2] = red.Get(pixel, 0);
        d[3] = alpha.Get(pixel, 255);
      }
    }
    out.bits = int(bitCount);
    out.format = "DDS " + std::to_string(bitCount) + "-bit";
  } else {
    why = "DDS pixel format not read";
    return 0;
  }
  out.width = int(width);
  out.height = int(height);
  return 1;
}

}  // namespace qev
