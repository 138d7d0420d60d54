// The recording device: vertex sizes and counts, what a draw keeps, the
// checks a real device makes, and textures held in memory.
#include "platform/recording_device.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using qev::RecordingDevice;

TEST(DeviceFormats, VertexSizesOfTheFormatsInUse) {
  const struct {
    DWORD fvf;
    unsigned size;
  } cases[] = {
      {D3DFVF_XYZ | D3DFVF_DIFFUSE, 16},                                 // lines
      {D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1, 36},   // model
      {D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1, 28},                // glyphs
      {D3DFVF_XYZ, 12},
      {0, 0},                                    // no position
      {D3DFVF_XYZ | D3DFVF_XYZRHW, 0},           // two positions
      {D3DFVF_XYZRHW | D3DFVF_NORMAL, 0},        // transformed with normal
      {D3DFVF_XYZ | 0x200, 0},                   // a second texture set
  };
  for (const auto& c : cases) EXPECT_EQ(qev::FvfVertexSize(c.fvf), c.size) << std::hex << c.fvf;
}

TEST(DeviceFormats, VerticesReadPerPrimitiveType) {
  const struct {
    D3DPRIMITIVETYPE type;
    unsigned primitives, vertices;
  } cases[] = {
      {D3DPT_POINTLIST, 5, 5},      {D3DPT_LINELIST, 43, 86},         {D3DPT_LINESTRIP, 3, 4},
      {D3DPT_TRIANGLELIST, 4, 12},  {D3DPT_TRIANGLESTRIP, 2, 4},      {D3DPT_TRIANGLEFAN, 3, 5},
      {D3DPT_LINELIST, 0, 0},       {D3DPRIMITIVETYPE(9), 3, 0},
      {D3DPT_TRIANGLELIST, qev::kMaxPrimitiveCount + 1, 0},  // would overflow the count
  };
  for (const auto& c : cases) EXPECT_EQ(qev::PrimitiveVertexCount(c.type, c.primitives), c.vertices);
}

TEST(RecordingDevice, DrawKeepsExactlyTheVerticesReadAndChecksLikeADevice) {
  RecordingDevice dev;
  const float verts[] = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0};  // three 16-byte vertices
  ASSERT_EQ(dev.SetFVF(0x42), D3D_OK);
  EXPECT_EQ(dev.DrawPrimitiveUP(D3DPT_LINELIST, 1, verts, 16), D3DERR_INVALIDCALL) << "outside a scene";
  ASSERT_EQ(dev.BeginScene(), D3D_OK);
  EXPECT_EQ(dev.BeginScene(), D3DERR_INVALIDCALL) << "scenes do not nest";
  EXPECT_EQ(dev.DrawPrimitiveUP(D3DPT_LINELIST, 1, verts, 16), D3D_OK);
  EXPECT_EQ(dev.calls.back().vertices.size(), 32u);
  EXPECT_EQ(std::memcmp(dev.calls.back().vertices.data(), verts, 32), 0);
  EXPECT_EQ(dev.DrawPrimitiveUP(D3DPT_LINELIST, 1, verts, 12), D3DERR_INVALIDCALL) << "stride too small";
  EXPECT_EQ(dev.DrawPrimitiveUP(D3DPT_LINELIST, 1, nullptr, 16), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev.EndScene(), D3D_OK);
  EXPECT_EQ(dev.Texts(), (std::vector<std::string>{
                             "SetFVF(0x42)", "DrawPrimitiveUP(D3DPT_LINELIST, 1, 16)", "BeginScene()",
                             "BeginScene()", "DrawPrimitiveUP(D3DPT_LINELIST, 1, 16)",
                             "DrawPrimitiveUP(D3DPT_LINELIST, 1, 12)", "DrawPrimitiveUP(D3DPT_LINELIST, 1, 16)",
                             "EndScene()"}));
}

TEST(RecordingDevice, TexturesAreMemoryWithWholeLevelLocks) {
  RecordingDevice dev;
  IDirect3DTexture9* tex = nullptr;
  ASSERT_EQ(dev.CreateTexture(4, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex), D3D_OK);
  D3DSURFACE_DESC desc;
  ASSERT_EQ(tex->GetLevelDesc(0, &desc), D3D_OK);
  EXPECT_EQ(desc.Width, 4u);
  EXPECT_EQ(desc.Height, 2u);
  D3DLOCKED_RECT lr;
  ASSERT_EQ(tex->LockRect(0, &lr, 0), D3D_OK);
  EXPECT_EQ(lr.Pitch, 16);
  EXPECT_EQ(tex->LockRect(0, &lr, 0), D3DERR_INVALIDCALL) << "already locked";
  static_cast<uint8_t*>(lr.pBits)[31] = 0xAB;
  ASSERT_EQ(tex->UnlockRect(0), D3D_OK);
  EXPECT_EQ(tex->UnlockRect(0), D3DERR_INVALIDCALL);
  EXPECT_EQ(static_cast<qev::RecordingTexture*>(tex)->Bits()[31], 0xAB);
  EXPECT_EQ(tex->Release(), 0u);

  const struct {
    unsigned w, h, levels;
    D3DFORMAT format;
  } refused[] = {{0, 4, 1, D3DFMT_A8R8G8B8},
                 {4, 0, 1, D3DFMT_A8R8G8B8},
                 {qev::kMaxTextureSide + 1, 4, 1, D3DFMT_A8R8G8B8},
                 {0xFFFFFFFFu, 0xFFFFFFFFu, 1, D3DFMT_A8R8G8B8},
                 {4, 4, 2, D3DFMT_A8R8G8B8},
                 {4, 4, 1, D3DFMT_D24S8}};
  for (const auto& r : refused) {
    IDirect3DTexture9* t = reinterpret_cast<IDirect3DTexture9*>(1);
    EXPECT_EQ(dev.CreateTexture(r.w, r.h, r.levels, 0, r.format, D3DPOOL_MANAGED, &t), D3DERR_INVALIDCALL);
    EXPECT_EQ(t, nullptr);
  }
  dev.failCreateTexture = true;
  EXPECT_EQ(dev.CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex), E_OUTOFMEMORY);
}

}  // namespace
