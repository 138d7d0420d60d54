// The device frame on the recording device: creation settings, the default
// state table, the per-frame bracket and the lost state.
#include "render/dd_pro90.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/recording_device.h"

namespace {

using qev::RecordingDevice;
using qev::RecordingDirect3D;
using Texts = std::vector<std::string>;

HWND FakeWindow() { return reinterpret_cast<HWND>(0x1234); }

// Inits the frame on a recorder that the test may script first.
struct Recorded {
  CDDPro90 frame;
  RecordingDirect3D* d3d = new RecordingDirect3D();
  RecordingDevice* Device() { return static_cast<RecordingDevice*>(frame.m_pDevice); }
  int Init() {
    return frame.Init(FakeWindow(), [this] { return d3d; });
  }
};

const Texts kDefaultStates = {
    "SetRenderState(D3DRS_LIGHTING, 0)",
    "SetRenderState(D3DRS_SRCBLEND, 5)",
    "SetRenderState(D3DRS_DESTBLEND, 6)",
    "SetRenderState(D3DRS_ALPHABLENDENABLE, 1)",
    "SetRenderState(D3DRS_ZENABLE, 0)",
    "SetRenderState(D3DRS_CULLMODE, 2)",
    "SetTextureStageState(0, D3DTSS_COLOROP, 4)",
    "SetTextureStageState(0, D3DTSS_COLORARG1, 2)",
    "SetTextureStageState(0, D3DTSS_COLORARG2, 0)",
    "SetTextureStageState(0, D3DTSS_ALPHAOP, 4)",
    "SetTextureStageState(0, D3DTSS_ALPHAARG1, 2)",
    "SetTextureStageState(0, D3DTSS_ALPHAARG2, 0)",
    "SetTextureStageState(1, D3DTSS_COLOROP, 1)",
    "SetTextureStageState(1, D3DTSS_COLORARG1, 2)",
    "SetTextureStageState(1, D3DTSS_COLORARG2, 0)",
    "SetTextureStageState(1, D3DTSS_ALPHAOP, 1)",
    "SetTextureStageState(1, D3DTSS_ALPHAARG1, 2)",
    "SetTextureStageState(1, D3DTSS_ALPHAARG2, 0)",
};

const Texts kFrameStates = {
    "SetRenderState(D3DRS_SRCBLEND, 5)",
    "SetRenderState(D3DRS_DESTBLEND, 6)",
    "SetRenderState(D3DRS_ALPHABLENDENABLE, 1)",
    "SetSamplerState(0, D3DSAMP_MINFILTER, 1)",
    "SetSamplerState(0, D3DSAMP_MAGFILTER, 1)",
    "SetRenderState(D3DRS_CULLMODE, 2)",
    "SetRenderState(D3DRS_ZENABLE, 0)",
    "SetRenderState(D3DRS_INDEXEDVERTEXBLENDENABLE, 0)",
};

Texts Concat(Texts a, const Texts& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(DDPro90, ConstructionDefaults) {
  CDDPro90 frame;
  EXPECT_EQ(frame.m_pDevice, nullptr);
  EXPECT_EQ(frame.m_nWidth, 640);
  EXPECT_EQ(frame.m_nHeight, 480);
  EXPECT_EQ(frame.m_dwClearColor, 0u);
  EXPECT_EQ(frame.BeginDraw(), 0);
  EXPECT_EQ(frame.EndDraw(), 0);
  EXPECT_EQ(frame.SetDefaultStates(), 0);
  EXPECT_EQ(frame.SelectBackBufferFormat(), 0);
  EXPECT_EQ(frame.ReleaseTextures(), 1);
}

TEST(DDPro90, InitCreatesTheDeviceWithFixedSettingsAndDefaultStates) {
  Recorded r;
  r.d3d->displayMode.Format = D3DFMT_A8R8G8B8;
  ASSERT_EQ(r.Init(), 1);
  EXPECT_EQ(r.frame.m_hWnd, FakeWindow());
  EXPECT_EQ(r.frame.m_nWidth, 1280);
  EXPECT_EQ(r.frame.m_nHeight, 800);
  EXPECT_EQ(r.d3d->createdWindow, FakeWindow());
  EXPECT_EQ(r.d3d->createdFlags, 0x86u);
  const D3DPRESENT_PARAMETERS& pp = r.d3d->createdParams;
  EXPECT_EQ(pp.BackBufferWidth, 1280u);
  EXPECT_EQ(pp.BackBufferHeight, 800u);
  EXPECT_EQ(pp.BackBufferFormat, D3DFMT_A8R8G8B8) << "the desktop's format";
  EXPECT_EQ(pp.BackBufferCount, 1u);
  EXPECT_EQ(pp.MultiSampleType, D3DMULTISAMPLE_NONE);
  EXPECT_EQ(pp.SwapEffect, D3DSWAPEFFECT_DISCARD);
  EXPECT_EQ(pp.hDeviceWindow, 0u);
  EXPECT_EQ(pp.Windowed, 1);
  EXPECT_EQ(pp.EnableAutoDepthStencil, 1);
  EXPECT_EQ(pp.AutoDepthStencilFormat, D3DFMT_D24S8);
  EXPECT_EQ(pp.Flags, 0u);
  EXPECT_EQ(pp.PresentationInterval, 0x80000000u);
  EXPECT_EQ(r.Device()->Texts(), kDefaultStates);
}

TEST(DDPro90, CreationVariants) {
  {
    SCOPED_TRACE("no hardware transform and lighting: software vertex processing");
    Recorded r;
    r.d3d->caps.DevCaps = 0;
    ASSERT_EQ(r.Init(), 1);
    EXPECT_EQ(r.d3d->createdFlags, 0x26u);
  }
  {
    SCOPED_TRACE("display mode unreadable: format left unknown, device still made");
    Recorded r;
    r.d3d->failDisplayMode = true;
    ASSERT_EQ(r.Init(), 1);
    EXPECT_EQ(r.d3d->createdParams.BackBufferFormat, D3DFMT_UNKNOWN);
  }
  {
    SCOPED_TRACE("capabilities unreadable");
    Recorded r;
    r.d3d->failCaps = true;
    EXPECT_EQ(r.Init(), 0);
    EXPECT_EQ(r.frame.m_pDevice, nullptr);
  }
  {
    SCOPED_TRACE("device refused: the interface stays until Term");
    Recorded r;
    r.d3d->failCreateDevice = true;
    EXPECT_EQ(r.Init(), 0);
    EXPECT_EQ(r.frame.m_pDevice, nullptr);
    EXPECT_EQ(r.frame.m_pD3D, r.d3d);
    r.frame.Term();
    EXPECT_EQ(r.frame.m_pD3D, nullptr);
  }
  {
    SCOPED_TRACE("no interface at all");
    CDDPro90 frame;
    EXPECT_EQ(frame.Init(FakeWindow(), []() -> IDirect3D9* { return nullptr; }), 0);
    EXPECT_EQ(frame.m_hWnd, nullptr);
  }
}

TEST(DDPro90, BeginDrawTwiceClearsOnceAndReappliesTheFrameStates) {
  Recorded r;
  ASSERT_EQ(r.Init(), 1);
  r.Device()->ClearCalls();
  r.frame.m_dwClearColor = 0x00202020;
  EXPECT_EQ(r.frame.BeginDraw(), 1);
  EXPECT_EQ(r.frame.m_bInScene, 1);
  EXPECT_EQ(r.frame.BeginDraw(), 1);
  EXPECT_EQ(r.frame.EndDraw(), 1);
  EXPECT_EQ(r.Device()->Texts(),
            Concat(Concat(Concat({"Clear(3, 0x00202020, 1, 0)", "BeginScene()"}, kFrameStates), kFrameStates),
                   {"EndScene()", "Present()"}));
  EXPECT_EQ(r.frame.m_bInScene, 0);
}

TEST(DDPro90, EndDrawWithoutAScenePresentsNothing) {
  Recorded r;
  ASSERT_EQ(r.Init(), 1);
  r.Device()->ClearCalls();
  EXPECT_EQ(r.frame.EndDraw(), 0);
  EXPECT_TRUE(r.Device()->calls.empty());

  // A refused BeginScene opens no scene either.
  r.Device()->failBeginScene = true;
  EXPECT_EQ(r.frame.BeginDraw(), 0);
  EXPECT_EQ(r.frame.m_bInScene, 0);
  EXPECT_EQ(r.frame.EndDraw(), 0);
  EXPECT_EQ(r.Device()->presentCount, 0);
  EXPECT_EQ(r.Device()->Texts(), (Texts{"Clear(3, 0x00000000, 1, 0)", "BeginScene()"}));
}

TEST(DDPro90, AFailedPresentStopsEveryLaterFrame) {
  Recorded r;
  ASSERT_EQ(r.Init(), 1);
  r.Device()->failPresent = true;
  ASSERT_EQ(r.frame.BeginDraw(), 1);
  EXPECT_EQ(r.frame.EndDraw(), 0);
  EXPECT_EQ(r.frame.m_bDeviceLost, 1);
  r.Device()->failPresent = false;  // even if the device would work again
  r.Device()->ClearCalls();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(r.frame.BeginDraw(), 0);
    EXPECT_EQ(r.frame.EndDraw(), 0);
  }
  EXPECT_TRUE(r.Device()->calls.empty());
  // Term resets the flags for a later Init.
  r.frame.Term();
  EXPECT_EQ(r.frame.m_bDeviceLost, 0);
  EXPECT_EQ(r.frame.m_pDevice, nullptr);
}

TEST(DDPro90, SecondInitStartsOver) {
  Recorded r;
  ASSERT_EQ(r.Init(), 1);
  ASSERT_EQ(r.frame.BeginDraw(), 1);
  auto* second = new RecordingDirect3D();
  ASSERT_EQ(r.frame.Init(FakeWindow(), [second] { return second; }), 1);
  EXPECT_EQ(r.frame.m_pD3D, second);
  EXPECT_EQ(r.frame.m_bInScene, 0);
  EXPECT_EQ(static_cast<RecordingDevice*>(r.frame.m_pDevice)->Texts(), kDefaultStates);
}

TEST(DDPro90, OffscreenBackendDrawsTheClearColour) {
  CDDPro90 frame;
  ASSERT_EQ(frame.Init(nullptr, DeviceBackend::kOffscreenGl), 1);
  frame.m_dwClearColor = 0x00202020;
  ASSERT_EQ(frame.BeginDraw(), 1);
  ASSERT_EQ(frame.EndDraw(), 1);
  std::vector<D3DCOLOR> pixels;
  unsigned w = 0, h = 0;
  ASSERT_EQ(frame.m_pDevice->ReadBackBuffer(&pixels, &w, &h), D3D_OK);
  EXPECT_EQ(w, 1280u);
  EXPECT_EQ(h, 800u);
  EXPECT_EQ(pixels[640 * 1280 + 400], 0x00202020u);
}

TEST(DDPro90, BackBufferTakesTheSizeAskedFor) {
  struct Case {
    int width, height;
    int made;
  };
  const Case cases[] = {{64, 48, 1}, {1, 1, 1}, {8192, 2, 1}, {0, 48, 0}, {8193, 48, 0}, {64, -1, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
    CDDPro90 frame;
    ASSERT_EQ(frame.Init(nullptr, DeviceBackend::kOffscreenGl, c.width, c.height), c.made);
    if (!c.made) {
      EXPECT_EQ(frame.m_pDevice, nullptr);
      continue;
    }
    frame.m_dwClearColor = 0x00405060;
    ASSERT_EQ(frame.BeginDraw(), 1);
    ASSERT_EQ(frame.EndDraw(), 1);
    std::vector<D3DCOLOR> pixels;
    unsigned w = 0, h = 0;
    ASSERT_EQ(frame.m_pDevice->ReadBackBuffer(&pixels, &w, &h), D3D_OK);
    EXPECT_EQ(w, unsigned(c.width));
    EXPECT_EQ(h, unsigned(c.height));
    ASSERT_EQ(pixels.size(), size_t(c.width) * size_t(c.height));
    EXPECT_EQ(pixels.back(), 0x00405060u);
  }
}

}  // namespace
