// The DDS reader: block colours and alphas against values worked out by hand,
// mask-described pixels, edge blocks, and hostile headers.
#include "platform/dds_decoder.h"

#include <gtest/gtest.h>

#include "tools/fixtures/picture_fixtures.h"

namespace {

using qev::DecodedPicture;
using qev::fixtures::DdsHeader;

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

std::string Le16(uint16_t v) { return {char(v & 0xFF), char(v >> 8)}; }
std::string Le32(uint32_t v) { return Le16(uint16_t(v)) + Le16(uint16_t(v >> 16)); }

// Pixel i (0..15, row by row) of a 4 x 4 block gets index indices[i].
uint32_t Indices(const int (&indices)[16]) {
  uint32_t v = 0;
  for (int i = 0; i < 16; ++i) v |= uint32_t(indices[i]) << (2 * i);
  return v;
}

std::vector<uint8_t> Pixel(const DecodedPicture& p, int x, int y) {
  const uint8_t* q = &p.pixels[(size_t(y) * p.width + x) * 4];
  return {q[0], q[1], q[2], q[3]};
}

using Bgra = std::vector<uint8_t>;

TEST(DdsDecoder, ColourBlocksInBothModes) {
  const int indices[16] = {0, 1, 2, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  struct Case {
    const char* name;
    uint16_t c0, c1;
    Bgra expected[4];
  };
  const Case cases[] = {
      // c0 > c1: four colours, thirds between them
      {"four colours", 0xF800, 0x001F, {{0, 0, 255, 255}, {255, 0, 0, 255}, {85, 0, 170, 255}, {170, 0, 85, 255}}},
      // c0 <= c1: three colours and transparent black
      {"three colours", 0x001F, 0xF800, {{255, 0, 0, 255}, {0, 0, 255, 255}, {127, 0, 127, 255}, {0, 0, 0, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = DdsHeader(4, 4, "DXT1") + Le16(c.c0) + Le16(c.c1) + Le32(Indices(indices));
    DecodedPicture p;
    std::string why;
    ASSERT_EQ(qev::DecodeDds(Bytes(file), file.size(), p, why), 1) << why;
    EXPECT_EQ(p.format, "DDS DXT1");
    for (int i = 0; i < 4; ++i) EXPECT_EQ(Pixel(p, i, 0), c.expected[i]) << "index " << i;
    EXPECT_EQ(Pixel(p, 3, 3), c.expected[0]);
  }
}

TEST(DdsDecoder, ExplicitAndInterpolatedAlpha) {
  const int zero[16] = {};
  const std::string colour = Le16(0xFFFF) + Le16(0x0000) + Le32(Indices(zero));  // all white
  // DXT3: 4 bits per pixel, pixel i in nibble i
  std::string alpha3;
  for (int i = 0; i < 8; ++i) alpha3 += char(((2 * i + 1) << 4) | (2 * i));
  const std::string dxt3 = DdsHeader(4, 4, "DXT3") + alpha3 + colour;
  DecodedPicture p;
  std::string why;
  ASSERT_EQ(qev::DecodeDds(Bytes(dxt3), dxt3.size(), p, why), 1) << why;
  for (int i = 0; i < 16; ++i) EXPECT_EQ(p.pixels[size_t(i) * 4 + 3], i * 17) << "pixel " << i;
  EXPECT_EQ(Pixel(p, 0, 0), (Bgra{255, 255, 255, 0}));

  // DXT5: a0 = 200 > a1 = 60 gives eight levels; a0 <= a1 gives six plus 0 and 255
  struct Case {
    uint8_t a0, a1;
    int levels[8];
  };
  const Case cases[] = {
      {200, 60, {200, 60, 180, 160, 140, 120, 100, 80}},
      {60, 200, {60, 200, 88, 116, 144, 172, 0, 255}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.a0));
    // pixel i uses level i % 8
    uint64_t bits = 0;
    for (int i = 0; i < 16; ++i) bits |= uint64_t(i % 8) << (3 * i);
    std::string alpha5 = {char(c.a0), char(c.a1)};
    for (int i = 0; i < 6; ++i) alpha5 += char(bits >> (8 * i));
    const std::string dxt5 = DdsHeader(4, 4, "DXT5") + alpha5 + colour;
    ASSERT_EQ(qev::DecodeDds(Bytes(dxt5), dxt5.size(), p, why), 1) << why;
    for (int i = 0; i < 16; ++i) EXPECT_EQ(p.pixels[size_t(i) * 4 + 3], c.levels[i % 8]) << "pixel " << i;
  }
}

TEST(DdsDecoder, EdgeBlocksOfSizesNotMultiplesOfFour) {
  // 5 x 3: two blocks across, one down; the second block is red, the first blue
  const int zero[16] = {};
  const std::string blue = Le16(0x001F) + Le16(0) + Le32(Indices(zero));
  const std::string red = Le16(0xF800) + Le16(0) + Le32(Indices(zero));
  const std::string file = DdsHeader(5, 3, "DXT1") + blue + red;
  DecodedPicture p;
  std::string why;
  ASSERT_EQ(qev::DecodeDds(Bytes(file), file.size(), p, why), 1) << why;
  ASSERT_EQ(p.width, 5);
  ASSERT_EQ(p.height, 3);
  ASSERT_EQ(p.pixels.size(), 5u * 3 * 4);
  EXPECT_EQ(Pixel(p, 3, 2), (Bgra{255, 0, 0, 255}));
  EXPECT_EQ(Pixel(p, 4, 0), (Bgra{0, 0, 255, 255}));
  EXPECT_EQ(Pixel(p, 4, 2), (Bgra{0, 0, 255, 255}));
}

TEST(DdsDecoder, UncompressedPixelsThroughTheirMasks) {
  struct Case {
    const char* name;
    std::string file;
    Bgra expected;
  };
  const Case cases[] = {
      {"A8R8G8B8", DdsHeader(1, 1, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u) + Le32(0x80112233), {0x33, 0x22, 0x11, 0x80}},
      {"X8R8G8B8", DdsHeader(1, 1, 32, 0xFF0000, 0xFF00, 0xFF, 0) + Le32(0x00112233), {0x33, 0x22, 0x11, 255}},
      {"A8B8G8R8", DdsHeader(1, 1, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000u) + Le32(0x40112233), {0x11, 0x22, 0x33, 0x40}},
      {"R8G8B8", DdsHeader(1, 1, 24, 0xFF0000, 0xFF00, 0xFF, 0) + std::string("\x33\x22\x11", 3), {0x33, 0x22, 0x11, 255}},
      {"A2R10G10B10", DdsHeader(1, 1, 32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000u) + Le32(0x40000000u | (1023u << 20)),
       {0, 0, 255, 85}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DecodedPicture p;
    std::string why;
    ASSERT_EQ(qev::DecodeDds(Bytes(c.file), c.file.size(), p, why), 1) << why;
    EXPECT_EQ(Pixel(p, 0, 0), c.expected);
  }
}

TEST(DdsDecoder, HostileHeadersAreRefused) {
  const std::string block(8, '\0');
  struct Case {
    const char* name;
    std::string file;
    const char* why;
  };
  const Case cases[] = {
      {"no magic", "XDS " + DdsHeader(4, 4, "DXT1").substr(4) + block, "not a DDS file"},
      {"header cut short", DdsHeader(4, 4, "DXT1").substr(0, 127), "header cut short"},
      {"zero width", DdsHeader(0, 4, "DXT1") + block, "out of range"},
      {"sizes that overflow", DdsHeader(0xFFFFFFFFu, 0xFFFFFFFFu, "DXT1") + block, "out of range"},
      {"too many pixels", DdsHeader(16384, 16384, "DXT5") + block, "out of range"},
      {"blocks cut short", DdsHeader(8, 4, "DXT1") + block, "pixel data cut short"},
      {"rows cut short", DdsHeader(2, 2, 32, 0xFF0000, 0xFF00, 0xFF, 0) + std::string(15, '\0'), "pixel data cut short"},
      {"premultiplied blocks", DdsHeader(4, 4, "DXT2") + block + block, "compression not read"},
      {"16-bit pixels", DdsHeader(1, 1, 16, 0xF800, 0x7E0, 0x1F, 0) + block, "pixel format not read"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DecodedPicture p;
    p.width = 3;
    std::string why;
    EXPECT_EQ(qev::DecodeDds(Bytes(c.file), c.file.size(), p, why), 0);
    EXPECT_NE(why.find(c.why), std::string::npos) << why;
    EXPECT_EQ(p.width, 0);
    EXPECT_TRUE(p.pixels.empty());
  }
}

}  // namespace
