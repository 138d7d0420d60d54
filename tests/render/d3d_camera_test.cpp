// The camera: set-up, the six moves against hand-worked positions, and the
// matrices it hands to the device.
#include "render/d3d_camera.h"

#include <gtest/gtest.h>

#include <cmath>

#include "platform/recording_device.h"

namespace {

void ExpectNear(const D3DXVECTOR3& got, const D3DXVECTOR3& want, float eps = 1e-4f) {
  EXPECT_NEAR(got.x, want.x, eps);
  EXPECT_NEAR(got.y, want.y, eps);
  EXPECT_NEAR(got.z, want.z, eps);
}

float Distance(const CD3DCamera& c) {
  const D3DXVECTOR3 d = c.m_vTarget - c.m_vPosition;
  return D3DXVec3Length(&d);
}

// The program's own set-up once the device exists.
void SetUpLikeTheViewer(CD3DCamera& cam, IDirect3DDevice9* device) {
  cam.m_pDevice = device;
  cam.m_fFov = 0.7853982f;
  cam.m_fAspect = 1.6f;
  cam.m_bRightHanded = 1;
  cam.m_fNear = 0.1f;
  cam.m_fFar = 1000.0f;
  cam.SetProjection(device);
  const D3DXVECTOR3 eye(10, 20, 20), up(0, 1, 0), target(0, 10, 0);
  cam.LookAt(&eye, &up, target);
}

TEST(D3DCamera, ConstructedResetLeftHandedWithItsMatrices) {
  CD3DCamera cam;
  EXPECT_EQ(cam.m_pDevice, nullptr);
  EXPECT_EQ(cam.m_bRightHanded, 0);
  EXPECT_FLOAT_EQ(cam.m_fAspect, 1.3333334f);
  ExpectNear(cam.m_vPosition, {0, 0, -10});
  D3DXMATRIX view, proj;
  const D3DXVECTOR3 eye(0, 0, -10), at(0, 0, -9), up(0, 1, 0);
  D3DXMatrixLookAtLH(&view, &eye, &at, &up);
  D3DXMatrixPerspectiveFovLH(&proj, 0.7853982f, 1.3333334f, 0.1f, 1000.0f);
  EXPECT_EQ(cam.m_mView, view);
  EXPECT_EQ(cam.m_mProjection, proj);
}

TEST(D3DCamera, ViewerSetUpWritesProjectionThenView) {
  qev::RecordingDevice dev;
  CD3DCamera cam;
  SetUpLikeTheViewer(cam, &dev);
  ASSERT_EQ(dev.Texts(), (std::vector<std::string>{"SetTransform(D3DTS_PROJECTION)", "SetTransform(D3DTS_VIEW)"}));
  D3DXMATRIX proj, view;
  D3DXMatrixPerspectiveFovRH(&proj, 0.7853982f, 1.6f, 0.1f, 1000.0f);
  EXPECT_EQ(dev.calls[0].matrix, proj);
  EXPECT_EQ(dev.calls[1].matrix, cam.m_mView);
  const float len = std::sqrt(600.0f);
  ExpectNear(cam.m_vDirection, {-10 / len, -10 / len, -20 / len});
  // The target lies straight ahead, sqrt(600) away down the right-handed -z.
  D3DXVECTOR3 seen;
  D3DXVec3TransformCoord(&seen, &cam.m_vTarget, &cam.m_mView);
  ExpectNear(seen, {0, 0, -len});
}

TEST(D3DCamera, NoDeviceMeansNoDeviceCalls) {
  qev::RecordingDevice dev;
  CD3DCamera cam;
  cam.SetProjection(nullptr);
  const D3DXVECTOR3 target(1, 2, 3);
  cam.LookAt(nullptr, nullptr, target);  // camera device still null
  EXPECT_TRUE(dev.calls.empty());
  // Eye kept; up derived as (direction x Y) x direction, unnormalised.
  ExpectNear(cam.m_vPosition, {0, 0, -10});
  D3DXVECTOR3 side, up;
  const D3DXVECTOR3 y(0, 1, 0);
  D3DXVec3Cross(&side, &cam.m_vDirection, &y);
  D3DXVec3Cross(&up, &side, &cam.m_vDirection);
  ExpectNear(cam.m_vUp, up);
}

TEST(D3DCamera, MovesFromTheResetViewpoint) {
  struct Case {
    const char* what;
    float x, y;
    int mode;
    D3DXVECTOR3 position, direction, up, target;
  };
  const Case cases[] = {
      {"orbit -90 about Y", 90, 0, 0, {-10, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 0}},
      {"orbit 90 about right: from above", 0, 90, 0, {0, 10, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, 0}},
      {"pan along right (-x) and up", 2, 3, 1, {-2, 3, -10}, {0, 0, 1}, {0, 1, 0}, {-2, 3, 0}},
      {"dolly moves both, x ignored", 7, 2, 2, {0, 0, -8}, {0, 0, 1}, {0, 1, 0}, {0, 0, 2}},
      {"zoom short of the target", 0, 9.5f, 3, {0, 0, -0.5f}, {0, 0, 1}, {0, 1, 0}, {0, 0, 0}},
      {"zoom reaching the target refused", 0, 10, 3, {0, 0, -10}, {0, 0, 1}, {0, 1, 0}, {0, 0, 0}},
      {"zoom past the target refused", 0, 50, 3, {0, 0, -10}, {0, 0, 1}, {0, 1, 0}, {0, 0, 0}},
      {"zoom away always applies", 0, -100, 3, {0, 0, -110}, {0, 0, 1}, {0, 1, 0}, {0, 0, 0}},
      {"unknown mode does nothing", 5, 5, 6, {0, 0, -10}, {0, 0, 1}, {0, 1, 0}, {0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CD3DCamera cam;
    cam.Operate(c.x, c.y, c.mode);
    ExpectNear(cam.m_vPosition, c.position);
    ExpectNear(cam.m_vDirection, c.direction);
    ExpectNear(cam.m_vUp, c.up);
    ExpectNear(cam.m_vTarget, c.target);
  }
}

TEST(D3DCamera, OrbitKeepsTheDistanceAndTurnsUpWithTheDirection) {
  CD3DCamera cam;
  SetUpLikeTheViewer(cam, nullptr);
  const float distance = Distance(cam);
  const float upDotDir = D3DXVec3Dot(&cam.m_vUp, &cam.m_vDirection);
  const float drags[][2] = {{3, -2}, {-40, 17}, {0.25f, 0.25f}, {120, -60}, {-7, 33}};
  for (const auto& d : drags) {
    cam.Operate(d[0], d[1], 0);
    cam.UpdateView();
    EXPECT_NEAR(Distance(cam), distance, 1e-3f);
    EXPECT_NEAR(D3DXVec3Dot(&cam.m_vUp, &cam.m_vDirection), upDotDir, 1e-4f);
    D3DXVECTOR3 seen;
    D3DXVec3TransformCoord(&seen, &cam.m_vTarget, &cam.m_mView);
    EXPECT_NEAR(seen.x, 0, 1e-3f);
    EXPECT_NEAR(seen.y, 0, 1e-3f);
  }
}

TEST(D3DCamera, FourPixelsOfLeftDragTurnTheViewOneDegree) {
  CD3DCamera cam;
  SetUpLikeTheViewer(cam, nullptr);
  const D3DXVECTOR3 before = cam.m_vDirection;
  // the mouse handler's step: 0.25 * (lx - x) for a drag 4 pixels left
  cam.Operate(0.25f * 4, 0, 0);
  const float a0 = std::atan2(before.z, before.x), a1 = std::atan2(cam.m_vDirection.z, cam.m_vDirection.x);
  EXPECT_NEAR((a1 - a0) * 57.29578f, -1.0f, 1e-3f);
  EXPECT_NEAR(cam.m_vDirection.y, before.y, 1e-6f);
}

TEST(D3DCamera, ResetModes) {
  CD3DCamera cam;
  SetUpLikeTheViewer(cam, nullptr);
  cam.Operate(0, 0, 5);  // viewpoint only
  EXPECT_EQ(cam.m_bRightHanded, 1);
  EXPECT_FLOAT_EQ(cam.m_fAspect, 1.6f);
  ExpectNear(cam.m_vPosition, {0, 0, -10});
  cam.Operate(0, 0, 4);  // everything: back to left-handed 4:3
  EXPECT_EQ(cam.m_bRightHanded, 0);
  EXPECT_FLOAT_EQ(cam.m_fAspect, 1.3333334f);
  EXPECT_FLOAT_EQ(cam.m_fFov, 0.7853982f);
  EXPECT_FLOAT_EQ(cam.m_fNear, 0.1f);
  EXPECT_FLOAT_EQ(cam.m_fFar, 1000.0f);
}

}  // namespace
