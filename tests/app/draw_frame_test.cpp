// One frame's drawing: the order of transforms, states and steps on the
// recording device, and the grid's pixels from the start-up camera offscreen.
#include "app/draw_frame.h"

#include <gtest/gtest.h>

#include <cmath>

#include "app/grid.h"
#include "platform/recording_device.h"
#include "render/d3d_camera.h"
#include "render/d3d_line90.h"
#include "render/d3d_locater.h"
#include "render/dd_pro90.h"

namespace {

using Texts = std::vector<std::string>;

void StartUpCamera(CD3DCamera& cam, IDirect3DDevice9* device) {
  cam.m_pDevice = device;
  cam.m_fFov = 0.7853982f;
  cam.m_bRightHanded = 1;
  cam.m_fAspect = 1.6f;
  cam.m_fNear = 0.1f;
  cam.m_fFar = 1000.0f;
  cam.SetProjection(device);
  const D3DXVECTOR3 eye(10, 20, 20), up(0, 1, 0), target(0, 10, 0);
  cam.LookAt(&eye, &up, target);
}

struct Scene {
  CD3DCamera camera;
  CD3DLine90 grid;
  CD3DLocater goalLocator;
  D3DXMATRIX goals[2];
  Scene() {
    BuildGrid(&grid);
    goalLocator.m_nMode = 1;
    goalLocator.m_fSize = 5.0f;
    StartUpCamera(camera, nullptr);
    D3DXMatrixTranslation(&goals[0], 1, 2, 3);
    D3DXMatrixTranslation(&goals[1], -1, 0, 0);
  }
  FrameDrawing Frame(IDirect3DDevice9* device) {
    FrameDrawing f;
    f.device = device;
    f.camera = &camera;
    f.grid = &grid;
    f.ikGoalLocator = &goalLocator;
    f.ikGoals = goals;
    f.ikGoalCount = 2;
    return f;
  }
};

const Texts kHead = {"SetTransform(D3DTS_VIEW)", "SetTransform(D3DTS_PROJECTION)",
                     "SetRenderState(D3DRS_ZENABLE, 1)", "SetRenderState(D3DRS_ZWRITEENABLE, 1)",
                     "SetTransform(D3DTS_WORLD)", "SetTexture(0, null)", "SetFVF(0x42)",
                     "DrawPrimitiveUP(D3DPT_LINELIST, 43, 16)"};
const Texts kGoal = {"SetTexture(0, null)", "SetFVF(0x42)", "SetTransform(D3DTS_WORLD)",
                     "DrawPrimitiveUP(D3DPT_LINELIST, 15, 16)"};

Texts Concat(std::initializer_list<Texts> parts) {
  Texts out;
  for (const Texts& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(DrawFrame, StepsInOrderForEachSwitchSetting) {
  const struct {
    const char* what;
    int calcIK, drawRigid, drawBone, drawType;
    Texts tail;
    const char* steps;
  } cases[] = {
      {"start-up switches", 1, 0, 0, 1,
       Concat({kGoal, kGoal, {"SetRenderState(D3DRS_FILLMODE, 2)", "SetRenderState(D3DRS_CULLMODE, 1)"}}), "M"},
      {"IK off, model hidden", 0, 0, 0, 0, {}, ""},
      {"solid", 0, 0, 0, 2, {"SetRenderState(D3DRS_FILLMODE, 3)", "SetRenderState(D3DRS_CULLMODE, 1)"}, "M"},
      {"everything", 1, 1, 1, 2,
       Concat({kGoal, kGoal,
               {"SetTransform(D3DTS_WORLD)", "SetTransform(D3DTS_WORLD)", "SetRenderState(D3DRS_FILLMODE, 3)",
                "SetRenderState(D3DRS_CULLMODE, 1)"}}),
       "PBM"},
      {"bodies and bones only", 0, 1, 1, 0, {"SetTransform(D3DTS_WORLD)", "SetTransform(D3DTS_WORLD)"}, "PB"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Scene scene;
    qev::RecordingDevice dev;
    dev.BeginScene();
    dev.ClearCalls();
    std::string steps;
    FrameDrawing f = scene.Frame(&dev);
    f.CalcIK = c.calcIK;
    f.DrawRigid = c.drawRigid;
    f.DrawBone = c.drawBone;
    f.DrawType = c.drawType;
    f.drawPhysics = [&] { steps += "P"; };
    f.drawBones = [&] { steps += "B"; };
    f.drawModel = [&] { steps += "M"; };
    DrawFrame(f);
    EXPECT_EQ(dev.Texts(), Concat({kHead, c.tail}));
    EXPECT_EQ(steps, c.steps);
    EXPECT_EQ(dev.calls[0].matrix, scene.camera.m_mView);
    EXPECT_EQ(dev.calls[1].matrix, scene.camera.m_mProjection);
    D3DXMATRIX id;
    EXPECT_EQ(dev.calls[4].matrix, *D3DXMatrixIdentity(&id));
  }
}

TEST(DrawFrame, IkGoalsAreTheHighlightedGoalLocatorAtEachGoal) {
  Scene scene;
  qev::RecordingDevice dev;
  dev.BeginScene();
  dev.ClearCalls();
  DrawIkGoals(&dev, &scene.goalLocator, scene.goals, 2);
  const auto worlds = dev.Find("SetTransform(D3DTS_WORLD)");
  ASSERT_EQ(worlds.size(), 2u);
  for (int k = 0; k < 2; ++k) {
    D3DXMATRIX want;
    D3DXMatrixScaling(&want, 5, 5, 5);
    want *= scene.goals[k];
    EXPECT_EQ(worlds[k]->matrix, want);
  }
  const auto draws = dev.Find("DrawPrimitiveUP");
  ASSERT_EQ(draws.size(), 2u);
  const auto* lines = reinterpret_cast<const LineVertex*>(draws[0]->vertices.data());
  EXPECT_EQ(lines[6].color, 0xffff00ffu);
  EXPECT_EQ(lines[0].color, 0xffff0000u);

  dev.ClearCalls();
  DrawIkGoals(&dev, &scene.goalLocator, nullptr, 0);  // no model: no lists
  EXPECT_TRUE(dev.calls.empty());
}

// Where a world point lands on the 1280 x 800 back buffer, pixel centres on
// integers.
void Project(const CD3DCamera& cam, const D3DXVECTOR3& p, int* x, int* y) {
  const D3DXMATRIX vp = cam.m_mView * cam.m_mProjection;
  D3DXVECTOR3 ndc;
  D3DXVec3TransformCoord(&ndc, &p, &vp);
  *x = int(std::lround((ndc.x + 1) / 2 * 1280));
  *y = int(std::lround((1 - ndc.y) / 2 * 800));
}

// The colour found within a pixel of (x, y), or the colour at (x, y).
D3DCOLOR Near(const std::vector<D3DCOLOR>& px, int x, int y, D3DCOLOR want) {
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx)
      if (px[size_t(y + dy) * 1280 + size_t(x + dx)] == want) return want;
  return px[size_t(y) * 1280 + size_t(x)];
}

TEST(DrawFrame, GridPixelsFromTheStartUpCamera) {
  CDDPro90 frame;
  ASSERT_EQ(frame.Init(nullptr, DeviceBackend::kOffscreenGl), 1);
  Scene scene;
  StartUpCamera(scene.camera, frame.m_pDevice);
  frame.m_dwClearColor = 0x00202020;
  ASSERT_EQ(frame.BeginDraw(), 1);
  FrameDrawing f = scene.Frame(frame.m_pDevice);
  f.ikGoalCount = 0;
  DrawFrame(f);
  ASSERT_EQ(frame.EndDraw(), 1);
  std::vector<D3DCOLOR> px;
  ASSERT_EQ(frame.m_pDevice->ReadBackBuffer(&px, nullptr, nullptr), D3D_OK);

  const struct {
    const char* what;
    D3DXVECTOR3 at;
    D3DCOLOR want;
  } probes[] = {
      {"red X axis", {5, 0, 0}, 0xffff0000},
      {"red X axis, far end", {-7.5f, 0, 0}, 0xffff0000},
      {"blue Z axis", {0, 0, -2}, 0xff0000ff},
      {"blue Z axis, far end", {0, 0, -6.5f}, 0xff0000ff},
      {"grey line x = 3", {3, 0, -1.5f}, 0xff808080},
      {"grey line z = -4", {-5.5f, 0, -4}, 0xff808080},
      {"green Y mark", {0, 0.6f, 0}, 0xff00ff00},
      {"inside a square", {2.5f, 0, -2.5f}, 0x00202020},
      {"beyond the floor", {15, 0, -15}, 0x00202020},
  };
  for (const auto& p : probes) {
    int x = 0, y = 0;
    Project(scene.camera, p.at, &x, &y);
    ASSERT_TRUE(x > 0 && x < 1279 && y > 0 && y < 799) << p.what;
    EXPECT_EQ(Near(px, x, y, p.want), p.want) << p.what << " at " << x << "," << y;
  }
  EXPECT_EQ(px[10 * 1280 + 10], 0x00202020u) << "top-left corner is background";
}

}  // namespace
