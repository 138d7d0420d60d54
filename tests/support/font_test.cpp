// CFont: one face held at a time, released exactly once.
#include "support/font.h"

#include <gtest/gtest.h>

#include "platform/font_handle.h"

namespace {

TEST(Font, CreateAndDelete) {
  CFont font;
  EXPECT_EQ(font.Delete(), 0);  // nothing held
  ASSERT_EQ(font.Create("IPAGothic", 16), 1);
  ASSERT_NE(font.m_hFont, nullptr);
  EXPECT_EQ(font.m_nHeight, 16);
  EXPECT_EQ(qev::FontHandleFamily(font.m_hFont), "IPAGothic");
  EXPECT_EQ(qev::FontHandleHeight(font.m_hFont), 16);
  EXPECT_EQ(font.Delete(), 1);
  EXPECT_EQ(font.m_hFont, nullptr);
  EXPECT_EQ(font.m_nHeight, 0);
  EXPECT_EQ(font.Delete(), 0);
}

TEST(Font, UnknownFamilyFallsBackAndBadHeightsAreRefused) {
  CFont font;
  ASSERT_EQ(font.Create("no such family at all", 12), 1);
  EXPECT_FALSE(qev::FontHandleFile(font.m_hFont).empty());
  // a failed create leaves nothing held
  EXPECT_EQ(font.Create("IPAGothic", 0), 0);
  EXPECT_EQ(font.m_hFont, nullptr);
  EXPECT_EQ(font.Create("IPAGothic", -3), 0);
  EXPECT_EQ(font.Delete(), 0);
}

}  // namespace
