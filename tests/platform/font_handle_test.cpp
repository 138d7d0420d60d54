// The glyph source: which installed face a requested name becomes, the cell
// metrics of the 16-pixel face, and the grey bitmaps in their padded layout.
#include "platform/font_handle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

struct HandleDeleter {
  void operator()(qev::FontHandle* font) const { qev::DeleteFontHandle(font); }
};
using Handle = std::unique_ptr<qev::FontHandle, HandleDeleter>;

Handle Open(const char* family, int charset = qev::SHIFTJIS_CHARSET) {
  return Handle(qev::CreateFontHandle(family, 16, charset));
}

TEST(FontHandle, NamesOfTheHomePlatformBecomeInstalledJapaneseFaces) {
  const struct {
    const char* requested;
    const char* family;  // the installed face, or null: any face with Japanese
  } cases[] = {
      {"ＭＳ ゴシック", "IPAGothic"},
      {"MS Gothic", "IPAGothic"},
      {"メイリオ", "IPAPGothic"},
      {"IPAGothic", "IPAGothic"},
      {"no such family at all", nullptr},
      {"DejaVu Sans", nullptr},  // installed, but without Japanese glyphs
      {"", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.requested);
    Handle font = Open(c.requested);
    ASSERT_NE(font, nullptr);
    if (c.family) {
      EXPECT_EQ(qev::FontHandleFamily(font.get()), c.family);
    }
    EXPECT_TRUE(qev::FontHandleCovers(font.get(), U'あ'));
    EXPECT_TRUE(qev::FontHandleCovers(font.get(), U'漢'));
  }
}

TEST(FontHandle, CellMetricsSplitTheHeight) {
  for (int height : {8, 16, 33}) {
    SCOPED_TRACE(height);
    Handle font(qev::CreateFontHandle("IPAGothic", height, qev::SHIFTJIS_CHARSET));
    ASSERT_NE(font, nullptr);
    qev::TEXTMETRICW tm;
    ASSERT_EQ(qev::GetFontTextMetrics(font.get(), &tm), 1);
    EXPECT_EQ(tm.tmHeight, height);
    EXPECT_EQ(tm.tmAscent + tm.tmDescent, height);
    EXPECT_GT(tm.tmAscent, height / 2);
    EXPECT_GT(tm.tmDescent, 0);
  }
  // A stand-in lays text out by its own cell, as the window system does
  // for any face: IPA Gothic's em is 2048 units, its cell 1802 up and 401
  // down, so 16 pixels hold an em of 14.87 with 13 above the baseline.
  for (const char* family : {"ＭＳ ゴシック", "IPAGothic"}) {
    SCOPED_TRACE(family);
    Handle font(qev::CreateFontHandle(family, 16, qev::SHIFTJIS_CHARSET));
    ASSERT_NE(font, nullptr);
    qev::TEXTMETRICW tm;
    qev::GetFontTextMetrics(font.get(), &tm);
    EXPECT_EQ(tm.tmAscent, 13);
    qev::GLYPHMETRICS gm;
    qev::GetGlyphGray8(font.get(), U'　', &gm, 0, nullptr, qev::MAT2{});
    EXPECT_EQ(gm.gmCellIncX, 15);
  }
  qev::TEXTMETRICW tm;
  EXPECT_EQ(qev::GetFontTextMetrics(nullptr, &tm), 0);
}

TEST(FontHandle, GreyGlyphsArePaddedRowsOfLevelsUpTo64) {
  Handle font = Open("ＭＳ ゴシック");
  ASSERT_NE(font, nullptr);
  qev::TEXTMETRICW tm;
  qev::GetFontTextMetrics(font.get(), &tm);
  const qev::MAT2 identity;
  int densest = 0;
  for (char32_t c : {U'A', U'g', U'漢', U'あ', U'|'}) {
    SCOPED_TRACE(int(c));
    qev::GLYPHMETRICS gm;
    const uint32_t size = qev::GetGlyphGray8(font.get(), c, &gm, 0, nullptr, identity);
    ASSERT_NE(size, qev::GDI_ERROR);
    const uint32_t pitch = (gm.gmBlackBoxX * 8 + 31) / 32 * 4;
    ASSERT_EQ(size, pitch * gm.gmBlackBoxY);
    EXPECT_GT(gm.gmCellIncX, 0);

    // The buffer is filled whole: a marker byte past it stays.
    std::vector<uint8_t> bits(size + 1, 0xEE);
    ASSERT_EQ(qev::GetGlyphGray8(font.get(), c, &gm, size, bits.data(), identity), size);
    EXPECT_EQ(bits[size], 0xEE);
    for (uint32_t r = 0; r < gm.gmBlackBoxY; ++r) {
      for (uint32_t i = 0; i < pitch; ++i) {
        const int level = bits[r * pitch + i];
        if (i >= gm.gmBlackBoxX) {
          EXPECT_EQ(level, 0) << "padding byte " << i << " of row " << r;
        } else {
          EXPECT_LE(level, qev::kGlyphGrayLevels);
          densest = std::max(densest, level);
        }
      }
    }
    // too small a buffer is refused, untouched
    std::vector<uint8_t> small(size - 1, 0xEE);
    EXPECT_EQ(qev::GetGlyphGray8(font.get(), c, &gm, size - 1, small.data(), identity), qev::GDI_ERROR);
    EXPECT_EQ(std::count(small.begin(), small.end(), 0xEE), ptrdiff_t(small.size()));
  }
  EXPECT_EQ(densest, qev::kGlyphGrayLevels) << "some stem pixel is fully covered";
}

TEST(FontHandle, BlankGlyphsHaveNoBitmapButAnAdvance) {
  Handle font = Open("ＭＳ ゴシック");
  ASSERT_NE(font, nullptr);
  qev::GLYPHMETRICS gm;
  EXPECT_EQ(qev::GetGlyphGray8(font.get(), U' ', &gm, 0, nullptr, qev::MAT2{}), 0u);
  EXPECT_EQ(gm.gmBlackBoxX, 1u);
  EXPECT_EQ(gm.gmBlackBoxY, 1u);
  EXPECT_EQ(gm.gmCellIncX, 8);
  EXPECT_EQ(qev::GetGlyphGray8(nullptr, U'A', &gm, 0, nullptr, qev::MAT2{}), qev::GDI_ERROR);
  EXPECT_EQ(qev::GetGlyphGray8(font.get(), U'A', nullptr, 0, nullptr, qev::MAT2{}), qev::GDI_ERROR);
}

TEST(FontHandle, EveryGlyphFitsInTheCell) {
  // Descenders, the underscore and accents included: nothing a string image
  // of the cell's height would cut off.
  Handle font = Open("ＭＳ ゴシック");
  ASSERT_NE(font, nullptr);
  qev::TEXTMETRICW tm;
  qev::GetFontTextMetrics(font.get(), &tm);
  std::u32string chars;
  for (char32_t c = 0x21; c < 0x7F; ++c) chars += c;
  chars += U"ÅÉçあぁアー漢字剛体＿｜（）「」、。";
  for (char32_t c : chars) {
    qev::GLYPHMETRICS gm;
    ASSERT_NE(qev::GetGlyphGray8(font.get(), c, &gm, 0, nullptr, qev::MAT2{}), qev::GDI_ERROR);
    const int top = tm.tmAscent - gm.gmptGlyphOrigin.y;
    EXPECT_GE(top, 0) << "U+" << std::hex << unsigned(c);
    EXPECT_LE(top + int(gm.gmBlackBoxY), tm.tmHeight) << "U+" << std::hex << unsigned(c);
  }
}

TEST(FontHandle, TheMatrixTransformsTheOutline) {
  Handle font = Open("ＭＳ ゴシック");
  ASSERT_NE(font, nullptr);
  qev::GLYPHMETRICS plain, wide;
  qev::GetGlyphGray8(font.get(), U'漢', &plain, 0, nullptr, qev::MAT2{});
  qev::MAT2 stretch;
  stretch.eM11 = 2 * 65536;  // x doubled
  qev::GetGlyphGray8(font.get(), U'漢', &wide, 0, nullptr, stretch);
  EXPECT_NEAR(double(wide.gmBlackBoxX), 2.0 * plain.gmBlackBoxX, 2.0);
  EXPECT_NEAR(double(wide.gmBlackBoxY), double(plain.gmBlackBoxY), 1.0);
  EXPECT_EQ(wide.gmCellIncX, 2 * plain.gmCellIncX);
  // the next query is untransformed again
  qev::GLYPHMETRICS again;
  qev::GetGlyphGray8(font.get(), U'漢', &again, 0, nullptr, qev::MAT2{});
  EXPECT_EQ(again.gmBlackBoxX, plain.gmBlackBoxX);
}

}  // namespace
