// Outlined string images: sizes, the outline's coverage sum and its
// saturation, the face blended over the edge colour.
#include "render/edge_font32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "render/anti_font32.h"

namespace {

const char16_t* const kFace = u"ＭＳ ゴシック";

TEST(EdgeFont32, WidthZeroKeepsTheSizeAndScalesTheAlpha) {
  CAntiFont32 anti;
  ASSERT_EQ(anti.Make(kFace, u"剛体"), 1);
  CEdgeFont32 edge;
  ASSERT_EQ(edge.Make(u"剛体", kFace, 0xFF000000, 0), 1);
  ASSERT_EQ(edge.m_nWidth, anti.m_nWidth);
  ASSERT_EQ(edge.m_nHeight, anti.m_nHeight);
  bool sawDensest = false;
  for (int i = 0; i < anti.m_nWidth * anti.m_nHeight; ++i) {
    const uint8_t a = anti.m_pBits[i * 4 + 3];
    const uint8_t* p = edge.m_pBits + i * 4;
    // black blended toward white by the coverage; alpha 0.45 of it
    EXPECT_EQ(p[3], uint8_t(float(a) * 0.45f)) << i;
    EXPECT_EQ(p[0], a);
    EXPECT_EQ(p[1], a);
    EXPECT_EQ(p[2], a);
    if (a == 251) {
      sawDensest = true;
      EXPECT_EQ(p[3], 112);
    }
  }
  EXPECT_TRUE(sawDensest);
}

TEST(EdgeFont32, OutlineSumsTheNeighbourhoodUpAndLeftOfTheFace) {
  for (int e : {1, 2, 3}) {
    SCOPED_TRACE(e);
    CAntiFont32 anti;
    ASSERT_EQ(anti.Make(kFace, u"A漢"), 1);
    CEdgeFont32 edge;
    ASSERT_EQ(edge.Make(u"A漢", kFace, 0x00123456, e), 1);
    ASSERT_EQ(edge.m_nWidth, anti.m_nWidth + 2 * e);
    ASSERT_EQ(edge.m_nHeight, anti.m_nHeight + 2 * e);
    ASSERT_EQ(edge.m_nPitch, edge.m_nWidth * 4);
    auto source = [&](int x, int y) {
      return x < 0 || y < 0 || x >= anti.m_nWidth || y >= anti.m_nHeight ? 0 : anti.m_pBits[(y * anti.m_nWidth + x) * 4 + 3];
    };
    int saturated = 0;
    for (int y = 0; y < edge.m_nHeight; ++y)
      for (int x = 0; x < edge.m_nWidth; ++x) {
        double sum = 0;
        for (int sy = y - 2 * e; sy <= y; ++sy)
          for (int sx = x - 2 * e; sx <= x; ++sx) sum += 0.45 * source(sx, sy);
        const int expected = int(std::min(sum, 255.0));
        const uint8_t* p = edge.m_pBits + (y * edge.m_nWidth + x) * 4;
        ASSERT_NEAR(p[3], expected, 1) << x << "," << y;
        saturated += p[3] == 255;
        const bool face = x >= e && y >= e && x < e + anti.m_nWidth && y < e + anti.m_nHeight;
        if (!face || source(x - e, y - e) == 0) {
          // outside the face (or where it is empty) the edge colour alone
          EXPECT_EQ(p[0], 0x56);
          EXPECT_EQ(p[1], 0x34);
          EXPECT_EQ(p[2], 0x12);
        }
      }
    EXPECT_GT(saturated, 0);
    // The top-left pixel sees the face's own top-left pixel alone.
    EXPECT_EQ(edge.m_pBits[3], uint8_t(0.45f * float(source(0, 0))));
  }
}

TEST(EdgeFont32, OneCharacterHasATransparentRimAndEmptyTextIsTwoWide) {
  CAntiFont32 anti;
  ASSERT_EQ(anti.Make(kFace, u"・"), 1);
  CEdgeFont32 edge;
  ASSERT_EQ(edge.Make(u"・", kFace, 0x0000FF, 1), 1);
  EXPECT_EQ(edge.m_nWidth, anti.m_nWidth + 2);
  EXPECT_EQ(edge.m_nHeight, anti.m_nHeight + 2);
  // the middle dot leaves the image's rim uncovered
  for (int x = 0; x < edge.m_nWidth; ++x)
    for (int y : {0, edge.m_nHeight - 1}) {
      const uint8_t* p = edge.m_pBits + (y * edge.m_nWidth + x) * 4;
      EXPECT_EQ(p[3], 0);
      EXPECT_EQ(p[0], 0xFF);  // blue
      EXPECT_EQ(p[2], 0x00);
    }

  ASSERT_EQ(edge.Make(u"", kFace, 0, 1), 1);
  EXPECT_EQ(edge.m_nWidth, 2);
  EXPECT_EQ(edge.m_nHeight, 18);
  for (int i = 0; i < 2 * 18; ++i) EXPECT_EQ(edge.m_pBits[i * 4 + 3], 0);
}

TEST(EdgeFont32, RefusesRadiiItCannotMake) {
  CEdgeFont32 edge;
  ASSERT_EQ(edge.Make(u"a", kFace, 0, 1), 1);
  for (int e : {-1, -100000, 17, 100000}) {
    EXPECT_EQ(edge.Make(u"a", kFace, 0, e), 0) << e;
    EXPECT_EQ(edge.m_pBits, nullptr);
    EXPECT_EQ(edge.m_nWidth, 0);
  }
}

}  // namespace
