// The viewer's rendering steps on the recording device: start-up order of
// device, camera and locator, one frame's calls, and the mouse camera.
#include <gtest/gtest.h>

#include <cmath>

#include "app/grid.h"
#include "app/ini_edit_x.h"
#include "app/viewer.h"
#include "physics/bullet_debug_draw.h"
#include "platform/recording_device.h"
#include "tests/common/fake_platform.h"
#include "tests/common/temp_dir.h"
#include "tools/fixtures/sample_character.h"

namespace {

struct RenderRig {
  qev::test::TempDir dir;
  qev::test::FakeClock clock{false};
  qev::test::ScriptedKeyboard keyboard;
  qev::test::ScriptedDialogs dialogs;
  CIniEditX settings{dir.Path()};
  CViewer viewer{settings, ViewerServices{&clock, &keyboard, &dialogs}};

  RenderRig() { EXPECT_EQ(viewer.StartDevice(DeviceBackend::kRecording), 1); }
  qev::RecordingDevice& Device() { return *static_cast<qev::RecordingDevice*>(viewer.m_frame.m_pDevice); }
};

void ExpectNear(const D3DXVECTOR3& got, const D3DXVECTOR3& want) {
  EXPECT_NEAR(got.x, want.x, 1e-4f);
  EXPECT_NEAR(got.y, want.y, 1e-4f);
  EXPECT_NEAR(got.z, want.z, 1e-4f);
}

TEST(ViewerRender, StartDeviceSetsCameraAndLocatorAfterTheDefaultStates) {
  RenderRig rig;
  const auto texts = rig.Device().Texts();
  ASSERT_GE(texts.size(), 3u);
  EXPECT_EQ(texts[texts.size() - 3], "SetTransform(D3DTS_PROJECTION)");
  EXPECT_EQ(texts[texts.size() - 2], "SetTransform(D3DTS_VIEW)");
  // then the physics debug drawer's text atlas
  EXPECT_EQ(texts.back(), "CreateTexture(1024, 512, 1, 0, 21, 1)");
  EXPECT_EQ(rig.viewer.m_pDebugDraw->m_pDevice, rig.viewer.m_frame.m_pDevice);
  EXPECT_EQ(rig.viewer.m_pDebugDraw->getDebugMode(), 9);
  EXPECT_EQ(rig.viewer.m_camera.m_pDevice, rig.viewer.m_frame.m_pDevice);
  EXPECT_EQ(rig.viewer.m_camera.m_bRightHanded, 1);
  EXPECT_FLOAT_EQ(rig.viewer.m_camera.m_fAspect, 1.6f);
  ExpectNear(rig.viewer.m_camera.m_vPosition, {10, 20, 20});
  ExpectNear(rig.viewer.m_camera.m_vTarget, {0, 10, 0});
  EXPECT_EQ(rig.viewer.m_ikGoalLocator.m_nMode, 1);
  EXPECT_EQ(rig.viewer.m_ikGoalLocator.m_fSize, 5.0f);
}

TEST(ViewerRender, AFrameClearsDarkGreyDrawsTheGridAndPresents) {
  RenderRig rig;
  BuildGrid(&rig.viewer.m_grid);
  rig.Device().ClearCalls();
  rig.viewer.RunFrame();
  const auto texts = rig.Device().Texts();
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.front(), "Clear(3, 0x00202020, 1, 0)");
  EXPECT_EQ(texts[1], "BeginScene()");
  EXPECT_EQ(rig.Device().Find("DrawPrimitiveUP(D3DPT_LINELIST, 43, 16)").size(), 1u);
  EXPECT_EQ(rig.Device().Find("SetRenderState(D3DRS_FILLMODE, 2)").size(), 1u);  // wireframe at start
  EXPECT_EQ(texts[texts.size() - 2], "EndScene()");
  EXPECT_EQ(texts.back(), "Present()");
  EXPECT_EQ(rig.Device().Find("SetTransform(D3DTS_VIEW)")[0]->matrix, rig.viewer.m_camera.m_mView);
}

// F7 on the sample character: its bodies and the ground as lines in one
// draw after the identity world transform, in every world a load builds.
TEST(ViewerRender, DrawRigidDrawsTheBodiesInOneCall) {
  RenderRig rig;
  std::string error;
  ASSERT_EQ(qev::fixture::WriteSampleCharacter(rig.dir.Path(), &error), 1) << error;
  BuildGrid(&rig.viewer.m_grid);
  for (int load = 0; load < 2; ++load) {
    SCOPED_TRACE(load);
    ASSERT_EQ(rig.viewer.OpenModel(rig.dir.Path("sample.pmd")), 1);
    for (int drawRigid : {0, 1}) {
      rig.viewer.DrawRigid = drawRigid;
      rig.Device().ClearCalls();
      rig.viewer.RunFrame();
      const auto texts = rig.Device().Texts();
      std::vector<size_t> views;  // the line lists other than the grid's
      for (size_t i = 0; i < texts.size(); ++i)
        if (texts[i].rfind("DrawPrimitiveUP(D3DPT_LINELIST", 0) == 0 && texts[i] != "DrawPrimitiveUP(D3DPT_LINELIST, 43, 16)" &&
            texts[i] != "DrawPrimitiveUP(D3DPT_LINELIST, 15, 16)")  // IK goal markers
          views.push_back(i);
      if (!drawRigid) {
        EXPECT_TRUE(views.empty());
        continue;
      }
      ASSERT_EQ(views.size(), 1u);
      const qev::RecordedCall& draw = rig.Device().calls[views[0]];
      EXPECT_GT(draw.vertices.size() / 32, 100u);  // lines of 2 x 16 bytes
      size_t world = views[0];
      while (world > 0 && texts[world] != "SetTransform(D3DTS_WORLD)") --world;
      D3DXMATRIX identity;
      D3DXMatrixIdentity(&identity);
      EXPECT_EQ(rig.Device().calls[world].matrix, identity);
      EXPECT_EQ(texts[views[0] - 2], "SetTexture(0, null)");
      EXPECT_EQ(texts[views[0] - 1], "SetFVF(0x42)");
    }
  }
}

TEST(ViewerRender, MouseDragsDriveTheCamera) {
  struct Case {
    const char* what;
    UINT down;
    int dx, dy;
    float x, y;  // the Operate arguments the drag must give
    int mode;
  };
  const Case cases[] = {
      {"left: orbit a quarter degree per pixel", WM_LBUTTONDOWN, -4, 8, 1.0f, 2.0f, 0},
      {"right up: zoom toward the target", WM_RBUTTONDOWN, 3, -16, 3.0f, 1.0f, 3},
      {"middle: pan a twentieth per pixel", WM_MBUTTONDOWN, 10, -20, -0.5f, -1.0f, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RenderRig rig;
    CD3DCamera want = rig.viewer.m_camera;
    want.Operate(c.x, c.y, c.mode);
    want.UpdateView();
    const LPARAM at = MakeMouseLParam(100, 100), to = MakeMouseLParam(100 + c.dx, 100 + c.dy);
    if (c.down == WM_LBUTTONDOWN) CViewer::OnLButtonDown(nullptr, 0, at);
    if (c.down == WM_RBUTTONDOWN) CViewer::OnRButtonDown(nullptr, 0, at);
    if (c.down == WM_MBUTTONDOWN) CViewer::OnMButtonDown(nullptr, 0, at);
    CViewer::OnMouseMove(nullptr, 0, to);
    ExpectNear(rig.viewer.m_camera.m_vPosition, want.m_vPosition);
    ExpectNear(rig.viewer.m_camera.m_vTarget, want.m_vTarget);
    ExpectNear(rig.viewer.m_camera.m_vUp, want.m_vUp);
    EXPECT_EQ(rig.viewer.m_camera.m_mView, want.m_mView);
    // released: later moves leave the camera alone
    CViewer::OnLButtonUp(nullptr, 0, to);
    CViewer::OnRButtonUp(nullptr, 0, to);
    CViewer::OnMButtonUp(nullptr, 0, to);
    CViewer::OnMouseMove(nullptr, 0, at);
    EXPECT_EQ(rig.viewer.m_camera.m_mView, want.m_mView);
  }
}

TEST(ViewerRender, ZoomStopsShortOfTheTarget) {
  RenderRig rig;
  const D3DXVECTOR3 before = rig.viewer.m_camera.m_vPosition;
  CViewer::OnRButtonDown(nullptr, 0, MakeMouseLParam(0, 1000));
  // 1000 pixels up would be 62.5 units, past the target 24.5 away: refused
  CViewer::OnMouseMove(nullptr, 0, MakeMouseLParam(0, 0));
  ExpectNear(rig.viewer.m_camera.m_vPosition, before);
  // dragging down moves away without limit
  CViewer::OnMouseMove(nullptr, 0, MakeMouseLParam(0, 1600));
  const D3DXVECTOR3 d = rig.viewer.m_camera.m_vTarget - rig.viewer.m_camera.m_vPosition;
  EXPECT_NEAR(D3DXVec3Length(&d), std::sqrt(600.0f) + 100.0f, 1e-3f);
  CViewer::OnRButtonUp(nullptr, 0, 0);
}

}  // namespace
