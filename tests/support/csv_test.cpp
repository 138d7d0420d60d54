// CCsv: cell rendering, growth of the grid, and positions it refuses.
#include "support/csv.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

// 2001-02-03 04:05:06.789 as a file time (100 ns units since 1601-01-01)
constexpr int64_t kFileTime2001 = INT64_C(126256467067890000);

TEST(Csv, Rendering) {
  struct Case {
    int type;
    int64_t integer;
    float real;
    const char* text;
    std::string expected;
  };
  const Case cases[] = {
      {CCsv::kEmpty, 5, 1.0f, "x", "<NULL>"},
      {CCsv::kNull, 5, 1.0f, "x", "<NULL>"},
      {CCsv::kInteger, -1234567890123, 0, nullptr, "-1234567890123"},
      {CCsv::kInteger, INT64_MAX, 0, nullptr, "9223372036854775807"},
      {CCsv::kDateTime, kFileTime2001, 0, nullptr, "2001/02/03 04:05:06"},
      {CCsv::kDateTime, 0, 0, nullptr, "1601/01/01 00:00:00"},
      {CCsv::kFloat, 0, 1.5f, nullptr, "1.500000"},
      {CCsv::kFloat, 0, -0.25f, nullptr, "-0.250000"},
      {CCsv::kFloat, 0, 3.0e38f, nullptr, "300000000549775575777803994281145270272.000000"},
      {CCsv::kText, 0, 0, "plain", "plain"},
      {CCsv::kText, 0, 0, "a\r\nb\rc\nd\r\r\n", "a\nb\nc\nd\n\n"},
      {CCsv::kText, 0, 0, nullptr, ""},
      {99, 7, 7.0f, "x", "<NULL>"},  // a type the grid does not know renders as empty
  };
  for (const Case& c : cases) {
    CCsv csv;
    ASSERT_EQ(csv.SetCell(2, 3, c.type, c.integer, c.real, c.text), 1) << c.expected;
    EXPECT_EQ(std::string(csv.GetText(2, 3)), c.expected);
    // rendering again gives the same text
    EXPECT_EQ(std::string(csv.GetText(2, 3)), c.expected);
  }
}

TEST(Csv, ReadingOutsideTheUsedAreaMakesTheCellUsed) {
  CCsv csv;
  ASSERT_EQ(csv.SetCell(0, 0, CCsv::kInteger, 1), 1);
  EXPECT_EQ(csv.m_nColumns, 1);
  EXPECT_EQ(csv.m_nRows, 1);
  EXPECT_STREQ(csv.GetText(3, 5), "<NULL>");  // inside the capacity, never set
  EXPECT_EQ(csv.m_nColumns, 4);
  EXPECT_EQ(csv.m_nRows, 6);
  EXPECT_STREQ(csv.GetText(-1, 0), "<NULL>");
  EXPECT_STREQ(csv.GetText(0, -1), "<NULL>");
  EXPECT_EQ(csv.m_nColumns, 4);
  EXPECT_EQ(csv.SetCell(-1, 0, CCsv::kInteger, 1), 0);
  EXPECT_EQ(csv.SetCell(0, -1, CCsv::kInteger, 1), 0);
}

TEST(Csv, CapacityGrowsInBlocksAndKeepsCells) {
  struct Step {
    int x, y;
    int columnCapacity, rowCapacity;
  };
  const Step steps[] = {
      {0, 0, 64, 2048},
      {63, 2047, 64, 2048},
      {64, 0, 128, 2048},
      {5, 2048, 128, 4096},
      {200, 5000, 256, 6144},
  };
  CCsv csv;
  for (const Step& s : steps) {
    ASSERT_EQ(csv.SetCell(s.x, s.y, CCsv::kInteger, int64_t(s.x) * 100000 + s.y), 1);
    EXPECT_EQ(csv.m_nColumnCapacity, s.columnCapacity) << s.x << "," << s.y;
    EXPECT_EQ(csv.m_nRowCapacity, s.rowCapacity) << s.x << "," << s.y;
  }
  // every cell set before a growth is still where it was put
  for (const Step& s : steps)
    EXPECT_EQ(std::string(csv.GetText(s.x, s.y)), std::to_string(int64_t(s.x) * 100000 + s.y));
}

TEST(Csv, TextCellsSurviveGrowthAndReplacement) {
  CCsv csv;
  ASSERT_EQ(csv.SetCell(1, 1, CCsv::kText, 0, 0, "kept"), 1);
  ASSERT_EQ(csv.SetCell(100, 3000, CCsv::kText, 0, 0, "far"), 1);
  EXPECT_STREQ(csv.GetText(1, 1), "kept");
  EXPECT_STREQ(csv.GetText(100, 3000), "far");
  ASSERT_EQ(csv.SetCell(1, 1, CCsv::kFloat, 0, 2.0f), 1);
  EXPECT_STREQ(csv.GetText(1, 1), "2.000000");
}

TEST(Csv, PositionsTooFarOutAreRefusedWithoutHarm) {
  CCsv csv;
  ASSERT_EQ(csv.SetCell(1, 1, CCsv::kText, 0, 0, "kept"), 1);
  EXPECT_EQ(csv.SetCell(INT_MAX, 0, CCsv::kInteger, 1), 0);
  EXPECT_EQ(csv.SetCell(0, INT_MAX, CCsv::kInteger, 1), 0);
  EXPECT_EQ(csv.SetCell(100000, 100000, CCsv::kInteger, 1), 0);
  EXPECT_STREQ(csv.GetText(INT_MAX, INT_MAX), "<NULL>");
  EXPECT_STREQ(csv.GetText(1, 1), "kept");
  EXPECT_EQ(csv.m_nColumns, 2);
  EXPECT_EQ(csv.m_nRows, 2);
}

TEST(Csv, ClearEmptiesEverything) {
  CCsv csv;
  ASSERT_EQ(csv.SetCell(3, 4, CCsv::kText, 0, 0, "x"), 1);
  EXPECT_EQ(csv.Clear(), 1);
  EXPECT_EQ(csv.m_nColumns, 0);
  EXPECT_EQ(csv.m_nRows, 0);
  EXPECT_EQ(csv.m_nColumnCapacity, 0);
  EXPECT_EQ(csv.m_nRowCapacity, 0);
  EXPECT_STREQ(csv.GetText(0, 0), "<NULL>");
  EXPECT_EQ(csv.m_nColumnCapacity, 64);
}

}  // namespace
