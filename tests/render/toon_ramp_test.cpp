// The built-in toon ramps: white at the lit top, each its own soft shade at
// the bottom, never darkening upwards, and the same pixels in the texture.
#include "render/toon_ramp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "platform/recording_device.h"
#include "render/dd_tex_pro90.h"

namespace {

int Channel(D3DCOLOR c, int shift) { return int((c >> shift) & 0xFF); }

TEST(ToonRamp, WhiteOnTopAGentleShadeBelowAndNeverDarkerUpwards) {
  std::set<D3DCOLOR> bottoms;
  for (int i = 0; i < kToonRampCount; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(ToonRampColour(i, 0), 0xFFFFFFFFu);
    EXPECT_EQ(ToonRampColour(i, kToonRampHeight / 3), 0xFFFFFFFFu);  // the lit half is untouched
    const D3DCOLOR bottom = ToonRampColour(i, kToonRampHeight - 1);
    bottoms.insert(bottom);
    EXPECT_NE(bottom, 0xFFFFFFFFu);  // a shade, not white
    for (int shift : {0, 8, 16}) {
      EXPECT_GE(Channel(bottom, shift), 160);  // soft: no black shadows
      for (int y = 1; y < kToonRampHeight; ++y)
        EXPECT_LE(Channel(ToonRampColour(i, y), shift), Channel(ToonRampColour(i, y - 1), shift)) << y;
    }
    // neutral: no channel strays far from the others
    const int r = Channel(bottom, 16), g = Channel(bottom, 8), b = Channel(bottom, 0);
    EXPECT_LE(std::max({r, g, b}) - std::min({r, g, b}), 45);
    EXPECT_EQ(bottom >> 24, 0xFFu);
  }
  EXPECT_EQ(bottoms.size(), size_t(kToonRampCount));  // ten different ramps
  // outside the ten: ramp 0, rows clamped
  EXPECT_EQ(ToonRampColour(-1, kToonRampHeight - 1), ToonRampColour(0, kToonRampHeight - 1));
  EXPECT_EQ(ToonRampColour(10, 1000), ToonRampColour(0, kToonRampHeight - 1));
}

TEST(ToonRamp, TextureHoldsTheRampInEveryColumn) {
  qev::RecordingDevice device;
  CDDTexPro90 texture;
  ASSERT_EQ(MakeToonRamp(&texture, &device, 4), 1);
  auto* recorded = dynamic_cast<qev::RecordingTexture*>(texture.m_pTexture);
  ASSERT_NE(recorded, nullptr);
  EXPECT_FALSE(recorded->Locked());
  ASSERT_EQ(texture.m_nTextureHeight, kToonRampHeight);
  const auto& bits = recorded->Bits();
  const size_t width = size_t(texture.m_nTextureWidth);
  for (int y = 0; y < kToonRampHeight; ++y)
    for (size_t x = 0; x < width; ++x) {
      const uint8_t* p = &bits[(size_t(y) * width + x) * 4];
      const D3DCOLOR c = D3DCOLOR(p[3]) << 24 | D3DCOLOR(p[2]) << 16 | D3DCOLOR(p[1]) << 8 | p[0];
      ASSERT_EQ(c, ToonRampColour(4, y)) << x << "," << y;
    }
  // no device: no texture
  CDDTexPro90 none;
  EXPECT_EQ(MakeToonRamp(&none, nullptr, 0), 0);
}

}  // namespace
