// The floor grid's segments: order, ends and colours.
#include "app/grid.h"

#include <gtest/gtest.h>

#include "render/d3d_line90.h"

namespace {

TEST(Grid, FortyThreeSegmentsInOrder) {
  CD3DLine90 grid;
  BuildGrid(&grid);
  ASSERT_EQ(grid.m_nCount, 86);
  const LineVertex* v = grid.m_pVertices;
  for (int i = 0; i <= 20; ++i) {
    SCOPED_TRACE(i);
    const LineVertex& a = v[2 * i];
    const LineVertex& b = v[2 * i + 1];
    EXPECT_EQ(a.x, -10.0f);
    EXPECT_EQ(b.x, 10.0f);
    EXPECT_EQ(a.z, float(i - 10));
    EXPECT_EQ(b.z, a.z);
    EXPECT_EQ(a.y, 0.0f);
    EXPECT_EQ(a.color, i == 10 ? 0xffff0000u : 0xff808080u);
    EXPECT_EQ(b.color, a.color);
  }
  for (int j = 0; j <= 20; ++j) {
    SCOPED_TRACE(j);
    const LineVertex& a = v[42 + 2 * j];
    const LineVertex& b = v[42 + 2 * j + 1];
    EXPECT_EQ(a.z, -10.0f);
    EXPECT_EQ(b.z, 10.0f);
    EXPECT_EQ(a.x, float(j - 10));
    EXPECT_EQ(b.x, a.x);
    EXPECT_EQ(a.color, j == 10 ? 0xff0000ffu : 0xff808080u);
  }
  EXPECT_EQ(v[84].y, 0.0f);
  EXPECT_EQ(v[85].y, 1.0f);
  EXPECT_EQ(v[85].x, 0.0f);
  EXPECT_EQ(v[85].color, 0xff00ff00u);
}

}  // namespace
