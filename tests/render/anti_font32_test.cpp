// String images from grey glyphs: the width rule, the 65 levels, and every
// covered pixel inside its glyph's black box.
#include "render/anti_font32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "support/font.h"

namespace {

uint8_t AlphaAt(const CAntiFont32& image, int x, int y) { return image.m_pBits[y * image.m_nPitch + x * 4 + 3]; }

TEST(AntiFont32, LevelsMapOntoSixtyFiveSteps) {
  const struct {
    int level;
    int alpha;
  } cases[] = {{0, 0}, {1, 3}, {32, 125}, {63, 247}, {64, 251}};
  for (const auto& c : cases) EXPECT_EQ(GlyphLevelAlpha(c.level), c.alpha) << c.level;
}

TEST(AntiFont32, JapaneseTextLiesInsideTheBlackBoxes) {
  const std::u16string text = u"剛体ABCgjあ・";
  const char16_t* face = u"ＭＳ ゴシック";
  CAntiFont32 image;
  ASSERT_EQ(image.Make(face, text.c_str()), 1);
  EXPECT_EQ(image.m_nHeight, kGlyphFontHeight);
  EXPECT_EQ(image.m_nPitch, image.m_nWidth * 4);

  // The same face as the platform answers for it: boxes placed along the pen.
  CFont font;
  ASSERT_EQ(font.Create("ＭＳ ゴシック", kGlyphFontHeight, qev::SHIFTJIS_CHARSET), 1);
  qev::TEXTMETRICW tm;
  qev::GetFontTextMetrics(font.m_hFont, &tm);
  std::vector<bool> inBox(size_t(image.m_nWidth) * image.m_nHeight, false);
  int pen = 0, width = 0;
  for (char16_t c : text) {
    qev::GLYPHMETRICS gm;
    ASSERT_NE(qev::GetGlyphGray8(font.m_hFont, c, &gm, 0, nullptr, qev::MAT2{}), qev::GDI_ERROR);
    width += std::max(gm.gmptGlyphOrigin.x + int(gm.gmBlackBoxX), int(gm.gmCellIncX));
    for (int r = 0; r < int(gm.gmBlackBoxY); ++r)
      for (int i = 0; i < int(gm.gmBlackBoxX); ++i) {
        const int x = pen + gm.gmptGlyphOrigin.x + i, y = tm.tmAscent - gm.gmptGlyphOrigin.y + r;
        if (x >= 0 && x < image.m_nWidth && y >= 0 && y < image.m_nHeight) inBox[size_t(y) * image.m_nWidth + x] = true;
      }
    pen += gm.gmCellIncX;
  }
  EXPECT_EQ(image.m_nWidth, width);

  std::set<int> steps;
  for (int l = 0; l <= 64; ++l) steps.insert(GlyphLevelAlpha(l));
  int covered = 0, densest = 0;
  for (int y = 0; y < image.m_nHeight; ++y)
    for (int x = 0; x < image.m_nWidth; ++x) {
      const uint8_t* p = image.m_pBits + y * image.m_nPitch + x * 4;
      ASSERT_EQ(p[0], 255);  // white everywhere, coverage in alpha only
      ASSERT_EQ(p[1], 255);
      ASSERT_EQ(p[2], 255);
      ASSERT_TRUE(steps.count(p[3])) << int(p[3]);
      if (p[3] == 0) continue;
      ++covered;
      densest = std::max<int>(densest, p[3]);
      EXPECT_TRUE(inBox[size_t(y) * image.m_nWidth + x]) << x << "," << y;
    }
  EXPECT_GT(covered, 200);
  EXPECT_EQ(densest, 251);
  // Something is drawn in every glyph's advance, and the kanji reach the cell's top rows.
  int topRows = 0;
  for (int x = 0; x < 32; ++x) topRows += AlphaAt(image, x, 1) > 0;
  EXPECT_GT(topRows, 0);
}

TEST(AntiFont32, EmptyAndDefaultFace) {
  CAntiFont32 image;
  ASSERT_EQ(image.Make(u"ＭＳ ゴシック", u""), 1);
  EXPECT_EQ(image.m_nWidth, 0);
  EXPECT_EQ(image.m_nHeight, 16);
  EXPECT_EQ(image.m_nPitch, 0);
  ASSERT_EQ(image.Make(u"ＭＳ ゴシック", nullptr), 1);
  EXPECT_EQ(image.m_nWidth, 0);

  // No face named: the proportional Gothic. Its "i" is narrower than the
  // fixed-pitch face's.
  CAntiFont32 proportional, fixed;
  ASSERT_EQ(proportional.Make(nullptr, u"iiii"), 1);
  ASSERT_EQ(fixed.Make(u"ＭＳ ゴシック", u"iiii"), 1);
  EXPECT_EQ(fixed.m_nWidth, 32);
  EXPECT_LT(proportional.m_nWidth, fixed.m_nWidth);
  // A new Make replaces the image.
  ASSERT_EQ(fixed.Make(u"ＭＳ ゴシック", u"i"), 1);
  EXPECT_EQ(fixed.m_nWidth, 8);
}

TEST(AntiFont32, HostileTextsStayInsideTheImage) {
  // Combining marks and characters no face has, lone surrogates, control
  // characters, a very long line: drawn or skipped, never outside.
  const std::u16string cases[] = {
      u"\u0301\u0301\u0301", u"\xD800\xDC00\xDFFF", u"\x0001\x0009\x000A", std::u16string(3000, u'漢'),
      u"\uFFFF\uFFFE",
  };
  for (const std::u16string& text : cases) {
    CAntiFont32 image;
    ASSERT_EQ(image.Make(u"ＭＳ ゴシック", text.c_str()), 1);
    EXPECT_EQ(image.m_nHeight, 16);
    EXPECT_GE(image.m_nWidth, 0);
  }
  // Wider than any label can be: refused, not allocated.
  CAntiFont32 image;
  const std::u16string tooWide(kMaxGlyphImageWidth / 15 + 1, u'漢');
  EXPECT_EQ(image.Make(u"ＭＳ ゴシック", tooWide.c_str()), 0);
  EXPECT_EQ(image.m_pBits, nullptr);
  EXPECT_EQ(image.m_nWidth, 0);
}

}  // namespace
