// Line batches: growth, clearing, and the draw call they make.
#include "render/d3d_line90.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/recording_device.h"

namespace {

TEST(D3DLine90, DrawsPairsAsALineListAndIgnoresAnOddLastVertex) {
  const struct {
    int vertices;
    int result;
    const char* drawn;  // the draw call, or null for none
  } cases[] = {
      {0, 0, nullptr},
      {1, 0, nullptr},
      {2, 1, "DrawPrimitiveUP(D3DPT_LINELIST, 1, 16)"},
      {3, 1, "DrawPrimitiveUP(D3DPT_LINELIST, 1, 16)"},
      {86, 1, "DrawPrimitiveUP(D3DPT_LINELIST, 43, 16)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.vertices);
    CD3DLine90 batch;
    for (int i = 0; i < c.vertices; ++i) ASSERT_EQ(batch.Push(float(i), 0, 0, 0xFF000000u + i), 1);
    qev::RecordingDevice dev;
    dev.BeginScene();
    dev.ClearCalls();
    EXPECT_EQ(batch.Draw(&dev), c.result);
    if (!c.drawn) {
      EXPECT_TRUE(dev.calls.empty());
      continue;
    }
    EXPECT_EQ(dev.Texts(), (std::vector<std::string>{"SetTexture(0, null)", "SetFVF(0x42)", c.drawn}));
    const std::vector<uint8_t>& bytes = dev.calls.back().vertices;
    ASSERT_EQ(bytes.size(), size_t(c.vertices / 2 * 2 * 16));
    EXPECT_EQ(std::memcmp(bytes.data(), batch.m_pVertices, bytes.size()), 0);
  }
}

TEST(D3DLine90, PushStoresPositionAndColourAndClearStartsOver) {
  CD3DLine90 batch;
  batch.Clear();  // harmless when empty
  EXPECT_EQ(batch.m_nCount, 0);
  ASSERT_EQ(batch.Push(1.5f, -2, 3, 0xFF808080), 1);
  ASSERT_EQ(batch.Push(4, 5, 6, 0xFFFF0000), 1);
  ASSERT_EQ(batch.m_nCount, 2);
  EXPECT_EQ(batch.m_pVertices[0].x, 1.5f);
  EXPECT_EQ(batch.m_pVertices[0].y, -2.0f);
  EXPECT_EQ(batch.m_pVertices[1].z, 6.0f);
  EXPECT_EQ(batch.m_pVertices[1].color, 0xFFFF0000u);
  batch.Clear();
  EXPECT_EQ(batch.m_nCount, 0);
  EXPECT_EQ(batch.m_pVertices, nullptr);
  ASSERT_EQ(batch.Push(7, 8, 9, 1), 1);
  EXPECT_EQ(batch.m_nCount, 1);
  EXPECT_EQ(batch.m_pVertices[0].x, 7.0f);
}

TEST(D3DLine90, AFailedDrawReportsZero) {
  CD3DLine90 batch;
  batch.Push(0, 0, 0, 0);
  batch.Push(1, 0, 0, 0);
  qev::RecordingDevice dev;  // no scene open: the device refuses the draw
  EXPECT_EQ(batch.Draw(&dev), 0);
}

}  // namespace
