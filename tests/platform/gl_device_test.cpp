// The OpenGL device, offscreen: what the program relies on shows in pixels
// (pixel centres, culling by on-screen winding, depth 0..1, blending, texture
// modulation, fill modes, transforms in the row-vector convention).
#include "platform/gl_device.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

constexpr unsigned kW = 64, kH = 48;
constexpr D3DCOLOR kBack = 0xFF000000, kRed = 0xFFFF0000, kGreen = 0xFF00FF00;

struct ScreenVertex {  // 0x144
  float x, y, z, rhw;
  D3DCOLOR color;
  float u, v;
};
struct LineVertex {  // 0x42
  float x, y, z;
  D3DCOLOR color;
};

class GlDeviceTest : public testing::Test {
 protected:
  void SetUp() override {
    d3d = qev::CreateGlDirect3D(qev::GlSurface::kOffscreen);
    D3DPRESENT_PARAMETERS pp{};
    pp.BackBufferWidth = kW;
    pp.BackBufferHeight = kH;
    ASSERT_EQ(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, nullptr, 0, &pp, &dev), D3D_OK)
        << "offscreen OpenGL (EGL surfaceless) is needed";
    dev->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    dev->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    dev->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    dev->Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kBack, 1.0f, 0);
    ASSERT_EQ(dev->BeginScene(), D3D_OK);
  }
  void TearDown() override {
    if (dev) dev->Release();
    if (d3d) d3d->Release();
  }

  D3DCOLOR Pixel(unsigned x, unsigned y) {
    std::vector<D3DCOLOR> pixels;
    unsigned w = 0, h = 0;
    EXPECT_EQ(dev->ReadBackBuffer(&pixels, &w, &h), D3D_OK);
    EXPECT_EQ(w, kW);
    EXPECT_EQ(h, kH);
    return pixels.at(size_t(y) * w + x);
  }

  // A screen-space rectangle [x0, x1) x [y0, y1) as a strip.
  void Rect(float x0, float y0, float x1, float y1, D3DCOLOR color, float z = 0.5f) {
    const ScreenVertex v[4] = {{x0, y0, z, 1, color, 0, 0}, {x1, y0, z, 1, color, 1, 0},
                               {x0, y1, z, 1, color, 0, 1}, {x1, y1, z, 1, color, 1, 1}};
    ASSERT_EQ(dev->SetFVF(0x144), D3D_OK);
    ASSERT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(ScreenVertex)), D3D_OK);
  }

  IDirect3D9* d3d = nullptr;
  IDirect3DDevice9* dev = nullptr;
};

TEST_F(GlDeviceTest, ClearFillsTheWholeBufferWithTheArgbColour) {
  dev->Clear(D3DCLEAR_TARGET, 0x00202020, 1.0f, 0);
  EXPECT_EQ(Pixel(0, 0), 0x00202020u);
  EXPECT_EQ(Pixel(kW - 1, kH - 1), 0x00202020u);
  dev->Clear(D3DCLEAR_TARGET, 0xFF123456, 1.0f, 0);
  EXPECT_EQ(Pixel(kW / 2, kH / 3), 0xFF123456u);
}

TEST_F(GlDeviceTest, ScreenVerticesUseIntegerPixelCentresTopDown) {
  Rect(10, 20, 20, 30, kRed);
  const struct {
    unsigned x, y;
    D3DCOLOR want;
  } probes[] = {{10, 20, kRed}, {19, 29, kRed}, {9, 20, kBack}, {20, 20, kBack}, {10, 19, kBack}, {10, 30, kBack}};
  for (const auto& p : probes) EXPECT_EQ(Pixel(p.x, p.y), p.want) << p.x << "," << p.y;
}

TEST_F(GlDeviceTest, CullModesFollowTheOnScreenWinding) {
  // top-left, top-right, bottom-left: clockwise as seen on screen
  const LineVertex cw[3] = {{-1, 1, 0.5f, kRed}, {1, 1, 0.5f, kRed}, {-1, -1, 0.5f, kRed}};
  const LineVertex ccw[3] = {cw[0], cw[2], cw[1]};
  D3DMATRIX id;
  D3DXMatrixIdentity(&id);
  dev->SetTransform(D3DTS_WORLD, &id);
  dev->SetTransform(D3DTS_VIEW, &id);
  dev->SetTransform(D3DTS_PROJECTION, &id);
  dev->SetFVF(0x42);
  const struct {
    D3DCULL cull;
    const LineVertex* tri;
    bool drawn;
  } cases[] = {{D3DCULL_CW, cw, false}, {D3DCULL_CW, ccw, true}, {D3DCULL_CCW, cw, true},
               {D3DCULL_CCW, ccw, false}, {D3DCULL_NONE, cw, true}, {D3DCULL_NONE, ccw, true}};
  for (const auto& c : cases) {
    dev->Clear(D3DCLEAR_TARGET, kBack, 1, 0);
    dev->SetRenderState(D3DRS_CULLMODE, c.cull);
    ASSERT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, c.tri, sizeof(LineVertex)), D3D_OK);
    EXPECT_EQ(Pixel(4, 4), c.drawn ? kRed : kBack) << "cull " << c.cull;
  }
}

TEST_F(GlDeviceTest, DepthRunsFromZeroToOneAndTheSwitchesWork) {
  D3DMATRIX id;
  D3DXMatrixIdentity(&id);
  dev->SetTransform(D3DTS_WORLD, &id);
  dev->SetTransform(D3DTS_VIEW, &id);
  dev->SetTransform(D3DTS_PROJECTION, &id);
  dev->SetFVF(0x42);
  auto quad = [&](float z, D3DCOLOR c) {
    const LineVertex v[4] = {{-1, 1, z, c}, {1, 1, z, c}, {-1, -1, z, c}, {1, -1, z, c}};
    ASSERT_EQ(dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(LineVertex)), D3D_OK);
  };
  // Clip depth below 0 is in front of the near plane: nothing drawn.
  quad(-0.1f, kRed);
  EXPECT_EQ(Pixel(5, 5), kBack);
  quad(0.05f, kRed);
  EXPECT_EQ(Pixel(5, 5), kRed);

  dev->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
  dev->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
  dev->Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kBack, 1, 0);
  quad(0.2f, kRed);
  quad(0.8f, kGreen);  // behind: hidden
  EXPECT_EQ(Pixel(5, 5), kRed);
  dev->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
  quad(0.8f, kGreen);  // test off: drawn over
  EXPECT_EQ(Pixel(5, 5), kGreen);

  // With writes off the depth buffer keeps 0.2 from before; a clear still resets it.
  dev->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
  dev->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
  dev->Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kBack, 1, 0);
  quad(0.5f, kGreen);
  quad(0.7f, kRed);  // not hidden: the green quad wrote no depth
  EXPECT_EQ(Pixel(5, 5), kRed);
}

TEST_F(GlDeviceTest, TextureModulatesVertexColourAndAlphaBlends) {
  IDirect3DTexture9* tex = nullptr;
  ASSERT_EQ(dev->CreateTexture(2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex), D3D_OK);
  D3DLOCKED_RECT lr;
  ASSERT_EQ(tex->LockRect(0, &lr, 0), D3D_OK);
  for (int y = 0; y < 2; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch);
    row[0] = row[1] = 0xFF4080FF;  // bytes FF 80 40 FF: blue, green, red, alpha
  }
  ASSERT_EQ(tex->UnlockRect(0), D3D_OK);
  dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
  dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  dev->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
  dev->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
  dev->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
  ASSERT_EQ(dev->SetTexture(0, tex), D3D_OK);
  tex->Release();  // the device keeps it while bound
  Rect(0, 0, 8, 8, 0xFFFFFFFF);
  EXPECT_EQ(Pixel(3, 3), 0xFF4080FFu);
  Rect(8, 0, 16, 8, 0xFF808080);  // half of each channel
  const D3DCOLOR half = Pixel(11, 3);
  EXPECT_NEAR(int((half >> 16) & 0xFF), 0x20, 1);
  EXPECT_NEAR(int((half >> 8) & 0xFF), 0x40, 1);
  EXPECT_NEAR(int(half & 0xFF), 0x80, 1);

  // Without a texture the vertex colour alone shows; blended by its alpha.
  dev->SetTexture(0, nullptr);
  dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  Rect(20, 0, 28, 8, 0xFFFF0000);
  EXPECT_EQ(Pixel(23, 3) & 0x00FFFFFF, 0x00FF0000u);
  Rect(20, 0, 28, 8, 0x8000FF00);  // half green over red
  const D3DCOLOR mix = Pixel(23, 3);
  EXPECT_NEAR(int((mix >> 16) & 0xFF), 0x7F, 2);
  EXPECT_NEAR(int((mix >> 8) & 0xFF), 0x80, 2);
}

TEST_F(GlDeviceTest, TextureRowZeroIsTheTopAndXrgbReadsOpaque) {
  IDirect3DTexture9* tex = nullptr;
  ASSERT_EQ(dev->CreateTexture(2, 2, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &tex), D3D_OK);
  D3DLOCKED_RECT lr;
  ASSERT_EQ(tex->LockRect(0, &lr, 0), D3D_OK);
  auto* rows = static_cast<uint8_t*>(lr.pBits);
  reinterpret_cast<uint32_t*>(rows)[0] = reinterpret_cast<uint32_t*>(rows)[1] = 0x00FF0000;  // red, no alpha byte
  reinterpret_cast<uint32_t*>(rows + lr.Pitch)[0] = reinterpret_cast<uint32_t*>(rows + lr.Pitch)[1] = 0x0000FF00;
  ASSERT_EQ(tex->UnlockRect(0), D3D_OK);
  dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  dev->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
  dev->SetTexture(0, tex);
  Rect(0, 0, 16, 16, 0xFFFFFFFF);  // v runs 0 at the top to 1 at the bottom
  EXPECT_EQ(Pixel(8, 2), kRed);
  EXPECT_EQ(Pixel(8, 13), kGreen);
  dev->SetTexture(0, nullptr);
  tex->Release();
}

TEST_F(GlDeviceTest, WireframeLeavesTheInsideEmpty) {
  dev->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);
  Rect(10, 10, 40, 40, kRed);
  EXPECT_EQ(Pixel(25, 30), kBack);
  dev->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
  Rect(10, 10, 40, 40, kRed);
  EXPECT_EQ(Pixel(25, 30), kRed);
}

TEST_F(GlDeviceTest, WorldViewProjectionComposeInRowVectorOrder) {
  // World moves +1 in x, then the view scales by 0.5: the point lands at
  // x = 0.5 (had the order been reversed it would land at 1.25).
  D3DMATRIX world, view, proj;
  D3DXMatrixTranslation(&world, 1, 0, 0);
  D3DXMatrixScaling(&view, 0.5f, 0.5f, 1);
  D3DXMatrixIdentity(&proj);
  dev->SetTransform(D3DTS_WORLD, &world);
  dev->SetTransform(D3DTS_VIEW, &view);
  dev->SetTransform(D3DTS_PROJECTION, &proj);
  dev->SetFVF(0x42);
  const LineVertex v[2] = {{0, -2, 0.5f, kGreen}, {0, 2, 0.5f, kGreen}};  // vertical line x = 0
  ASSERT_EQ(dev->DrawPrimitiveUP(D3DPT_LINELIST, 1, v, sizeof(LineVertex)), D3D_OK);
  // ndc 0.5 -> pixel column 0.75 * 64 = 48
  EXPECT_EQ(Pixel(48, kH / 2), kGreen);
  EXPECT_EQ(Pixel(40, kH / 2), kBack);
}

TEST_F(GlDeviceTest, RefusesBadCallsInsteadOfReadingPastTheCaller) {
  const LineVertex v[2] = {};
  dev->SetFVF(0x42);
  EXPECT_EQ(dev->DrawPrimitiveUP(D3DPT_LINELIST, 1, v, 8), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->DrawPrimitiveUP(D3DPT_LINELIST, 0, v, 16), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->DrawPrimitiveUP(D3DPT_LINELIST, 1, nullptr, 16), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->SetFVF(0x1234), D3DERR_INVALIDCALL);
  IDirect3DTexture9* tex = nullptr;
  EXPECT_EQ(dev->CreateTexture(100000, 100000, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(tex, nullptr);
  ASSERT_EQ(dev->EndScene(), D3D_OK);
  EXPECT_EQ(dev->DrawPrimitiveUP(D3DPT_LINELIST, 1, v, 16), D3DERR_INVALIDCALL) << "outside a scene";
  EXPECT_EQ(dev->Present(), D3D_OK);
}

}  // namespace

namespace {

TEST(GlDirect3D, AdapterQueriesAndRefusals) {
  EXPECT_EQ(Direct3DCreate9(31), nullptr) << "another interface version";
  IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
  ASSERT_NE(d3d, nullptr);
  D3DCAPS9 caps;
  ASSERT_EQ(d3d->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps), D3D_OK);
  EXPECT_TRUE(caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT);
  D3DPRESENT_PARAMETERS pp{};
  pp.BackBufferWidth = 1280;
  pp.BackBufferHeight = 800;
  IDirect3DDevice9* dev = reinterpret_cast<IDirect3DDevice9*>(1);
  // A window surface needs an OpenGL window.
  EXPECT_EQ(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, nullptr, 0, &pp, &dev), D3DERR_NOTAVAILABLE);
  EXPECT_EQ(dev, nullptr);
  d3d->Release();

  IDirect3D9* off = qev::CreateGlDirect3D(qev::GlSurface::kOffscreen);
  const struct {
    unsigned w, h;
  } sizes[] = {{0, 800}, {1280, 0}, {qev::kMaxTextureSide + 1, 800}};
  for (const auto& s : sizes) {
    pp.BackBufferWidth = s.w;
    pp.BackBufferHeight = s.h;
    EXPECT_EQ(off->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, nullptr, 0, &pp, &dev), D3DERR_INVALIDCALL);
  }
  off->Release();
}

}  // namespace
