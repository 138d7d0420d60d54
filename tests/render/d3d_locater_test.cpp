// Locator markers: the three shape tables, scaling by size, highlighting.
#include "render/d3d_locater.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/recording_device.h"
#include "render/d3d_line90.h"

namespace {

struct Drawn {
  std::vector<std::string> texts;
  std::vector<LineVertex> vertices;
  D3DXMATRIX world;
  int result = 0;
};

Drawn DrawWith(int mode, float size, const D3DXMATRIX& world, bool highlighted) {
  CD3DLocater loc;
  loc.m_nMode = mode;
  loc.m_fSize = size;
  qev::RecordingDevice dev;
  dev.BeginScene();
  dev.ClearCalls();
  Drawn out;
  out.result = highlighted ? loc.DrawHighlighted(&dev, world) : loc.Draw(&dev, world);
  out.texts = dev.Texts();
  out.world = dev.Transform(D3DTS_WORLD);
  if (!dev.calls.empty() && !dev.calls.back().vertices.empty()) {
    const auto& bytes = dev.calls.back().vertices;
    out.vertices.resize(bytes.size() / sizeof(LineVertex));
    std::memcpy(out.vertices.data(), bytes.data(), bytes.size());
  }
  return out;
}

// Longest extent of the drawn shape along each axis, after the world transform.
D3DXVECTOR3 Extent(const Drawn& d) {
  D3DXVECTOR3 lo(1e9f, 1e9f, 1e9f), hi(-1e9f, -1e9f, -1e9f);
  for (const LineVertex& v : d.vertices) {
    D3DXVECTOR3 p;
    const D3DXVECTOR3 in(v.x, v.y, v.z);
    D3DXVec3TransformCoord(&p, &in, &d.world);
    lo = D3DXVECTOR3(std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z));
    hi = D3DXVECTOR3(std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z));
  }
  return hi - lo;
}

D3DXMATRIX Identity() {
  D3DXMATRIX m;
  return *D3DXMatrixIdentity(&m);
}

TEST(D3DLocater, ShapesLineCountsAndCalls) {
  const struct {
    int mode;
    unsigned lines;
  } cases[] = {{0, 11}, {1, 15}, {2, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    const Drawn d = DrawWith(c.mode, 5.0f, Identity(), false);
    EXPECT_EQ(d.result, 1);
    EXPECT_EQ(d.texts, (std::vector<std::string>{"SetTexture(0, null)", "SetFVF(0x42)", "SetTransform(D3DTS_WORLD)",
                                                 "DrawPrimitiveUP(D3DPT_LINELIST, " + std::to_string(c.lines) +
                                                     ", 16)"}));
    EXPECT_EQ(d.vertices.size(), c.lines * 2);
  }
  const Drawn unknown = DrawWith(3, 5.0f, Identity(), false);
  EXPECT_EQ(unknown.result, 0);
  EXPECT_EQ(unknown.texts, (std::vector<std::string>{"SetTexture(0, null)", "SetFVF(0x42)"}));
}

TEST(D3DLocater, SizeScalesModesOneAndTwoOnlyAndActsBeforeTheWorld) {
  D3DXMATRIX world;
  D3DXMatrixTranslation(&world, 3, 4, 5);
  // mode 1 at size 5: axes 0.3 -> 1.5 long, squares 0.2 -> 1.0 wide
  const Drawn goal = DrawWith(1, 5.0f, world, false);
  const D3DXVECTOR3 e = Extent(goal);
  EXPECT_NEAR(e.x, 1.5f + 0.5f, 1e-5f);  // from -0.5 (square) to 1.5 (axis)
  EXPECT_NEAR(goal.world._41, 3.0f, 1e-6f) << "translation not scaled";
  EXPECT_NEAR(goal.world._11, 5.0f, 1e-6f);
  D3DXVECTOR3 axisEnd;
  const D3DXVECTOR3 xEnd(goal.vertices[1].x, goal.vertices[1].y, goal.vertices[1].z);
  D3DXVec3TransformCoord(&axisEnd, &xEnd, &goal.world);
  EXPECT_NEAR(axisEnd.x - 3.0f, 1.5f, 1e-5f);
  const float squareWidth = (goal.vertices[9].x - goal.vertices[8].x) * goal.world._11;
  EXPECT_NEAR(squareWidth, 1.0f, 1e-5f);

  // mode 0 ignores the size: the world matrix is used as given
  const Drawn arrow = DrawWith(0, 5.0f, world, false);
  EXPECT_EQ(arrow.world, world);
  EXPECT_NEAR(Extent(arrow).x, 1.0f, 1e-6f);
  // mode 2 scales its unit axes
  EXPECT_NEAR(Extent(DrawWith(2, 2.5f, world, false)).y, 2.5f, 1e-5f);
}

TEST(D3DLocater, TablesInTheirOrderAndColours) {
  const Drawn arrow = DrawWith(0, 1.0f, Identity(), false);
  ASSERT_EQ(arrow.vertices.size(), 22u);
  EXPECT_EQ(arrow.vertices[1].x, 1.0f);
  EXPECT_EQ(arrow.vertices[1].color, 0xFFFF0000u);
  EXPECT_EQ(arrow.vertices[3].y, 0.3f);
  EXPECT_EQ(arrow.vertices[5].z, 0.3f);
  EXPECT_EQ(arrow.vertices[5].color, 0xFF0000FFu);
  EXPECT_EQ(arrow.vertices[7].x, 0.3f);
  EXPECT_EQ(arrow.vertices[7].y, -0.2f);
  EXPECT_EQ(arrow.vertices[15].z, -0.2f);
  for (size_t i = 6; i < 22; ++i) EXPECT_EQ(arrow.vertices[i].color, 0xFFFFFFFFu);

  const Drawn goal = DrawWith(1, 1.0f, Identity(), false);
  // the three squares: red in XY, blue in XZ, green in YZ, each a closed loop
  const struct {
    size_t first;
    D3DCOLOR color;
    int flatAxis;  // 0 x, 1 y, 2 z
  } squares[] = {{6, 0xFFFF0000, 2}, {14, 0xFF0000FF, 1}, {22, 0xFF00FF00, 0}};
  for (const auto& sq : squares) {
    for (size_t i = sq.first; i < sq.first + 8; ++i) {
      EXPECT_EQ(goal.vertices[i].color, sq.color);
      const float flat[] = {goal.vertices[i].x, goal.vertices[i].y, goal.vertices[i].z};
      EXPECT_EQ(flat[sq.flatAxis], 0.0f);
    }
    // consecutive lines join and the last returns to the first corner
    for (size_t k = 1; k < 4; ++k) {
      EXPECT_EQ(std::memcmp(&goal.vertices[sq.first + 2 * k - 1], &goal.vertices[sq.first + 2 * k], 12), 0);
    }
    EXPECT_EQ(std::memcmp(&goal.vertices[sq.first + 7], &goal.vertices[sq.first], 12), 0);
  }
}

TEST(D3DLocater, HighlightingTurnsAllButTheAxesMagenta) {
  const struct {
    int mode;
  } cases[] = {{0}, {1}, {2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    const Drawn plain = DrawWith(c.mode, 5.0f, Identity(), false);
    const Drawn lit = DrawWith(c.mode, 5.0f, Identity(), true);
    ASSERT_EQ(plain.vertices.size(), lit.vertices.size());
    for (size_t i = 0; i < lit.vertices.size(); ++i) {
      EXPECT_EQ(std::memcmp(&lit.vertices[i], &plain.vertices[i], 12), 0);
      EXPECT_EQ(lit.vertices[i].color, i < 6 ? plain.vertices[i].color : 0xFFFF00FFu) << i;
    }
  }
  // the tables themselves keep their colours
  EXPECT_EQ(DrawWith(1, 5.0f, Identity(), false).vertices[6].color, 0xFFFF0000u);
}

}  // namespace
