// The start-up view: the camera the viewer and `qevtool render` share, for
// the viewer's 1280 x 800 and for other picture sizes.
#include "app/start_up_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "model/camera_track.h"
#include "platform/recording_device.h"
#include "render/d3d_camera.h"
#include "render/d3d_locater.h"

namespace {

// Where a point lands on a width x height picture through the camera.
void Project(const CD3DCamera& camera, const D3DXVECTOR3& p, int width, int height, float* x, float* y) {
  D3DXMATRIX viewProjection;
  D3DXMatrixMultiply(&viewProjection, &camera.m_mView, &camera.m_mProjection);
  D3DXVECTOR4 clip;
  D3DXVec3Transform(&clip, &p, &viewProjection);
  *x = (clip.x / clip.w + 1) * 0.5f * float(width);
  *y = (1 - clip.y / clip.w) * 0.5f * float(height);
}

TEST(StartUpView, CameraLooksAtTheTargetWithTheAspectGiven) {
  struct Case {
    int width, height;
  };
  for (const Case& c : {Case{1280, 800}, Case{400, 400}, Case{320, 640}}) {
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
    qev::RecordingDevice device;
    CD3DCamera camera;
    SetStartUpCamera(&camera, &device, float(c.width) / float(c.height));
    EXPECT_EQ(camera.m_pDevice, &device);
    EXPECT_EQ(device.Find("SetTransform(D3DTS_PROJECTION)").size(), 1u);
    EXPECT_EQ(device.Find("SetTransform(D3DTS_VIEW)").size(), 1u);
    float x, y;
    Project(camera, {0, 10, 0}, c.width, c.height, &x, &y);  // the target: the middle
    EXPECT_NEAR(x, c.width / 2.0f, 0.01f);
    EXPECT_NEAR(y, c.height / 2.0f, 0.01f);
    // 45 degrees from top to bottom whatever the width: a point straight
    // below the target on the view's vertical reaches the bottom edge at
    // tan(22.5 degrees) of its distance.
    const D3DXVECTOR3 eye(10, 20, 20), target(0, 10, 0);
    D3DXVECTOR3 forward = target - eye, right, down;
    D3DXVec3Normalize(&forward, &forward);
    const D3DXVECTOR3 up(0, 1, 0);
    D3DXVec3Cross(&right, &forward, &up);
    D3DXVec3Cross(&down, &forward, &right);
    D3DXVec3Normalize(&down, &down);
    const D3DXVECTOR3 toTarget = target - eye;
    const float distance = D3DXVec3Length(&toTarget);
    const D3DXVECTOR3 edge = target + down * (distance * std::tan(0.3926991f));
    Project(camera, edge, c.width, c.height, &x, &y);
    EXPECT_NEAR(x, c.width / 2.0f, 0.05f);
    EXPECT_NEAR(std::min(y, float(c.height) - y), 0.0f, 0.05f) << "at the top or bottom edge";
  }
}

TEST(StartUpView, ACameraKeyOfTheStartUpViewDrawsTheSameFrame) {
  // Target (0, 10, 0), distance sqrt(600), 45 degrees, and the pitch and yaw
  // that put the eye at (10, 20, 20) (worked out in the camera track test).
  CameraValues key;
  key.target = D3DXVECTOR3(0, 10, 0);
  key.rotation = D3DXVECTOR3(std::atan2(10.0f, std::sqrt(500.0f)), std::atan2(-10.0f, 20.0f), 0);
  key.distance = -std::sqrt(600.0f);
  key.viewAngle = 45;
  qev::RecordingDevice startDevice, keyDevice;
  CD3DCamera start, through;
  SetStartUpCamera(&start, &startDevice, 1.6f);
  SetStartUpCamera(&through, &keyDevice, 1.6f);
  through.LookAt(nullptr, nullptr, D3DXVECTOR3(5, 5, 5));  // somewhere else first
  keyDevice.ClearCalls();
  ViewThroughCamera(&through, ViewFromCamera(key));
  EXPECT_TRUE(through.m_mProjection == start.m_mProjection);
  EXPECT_EQ(through.m_vTarget, start.m_vTarget);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(through.m_mView(r, c), start.m_mView(r, c), 2e-5f) << r << c;
  // both set on the camera's device, as the start-up does
  EXPECT_EQ(keyDevice.Find("SetTransform(D3DTS_PROJECTION)").size(), 1u);
  EXPECT_EQ(keyDevice.Find("SetTransform(D3DTS_VIEW)").size(), 1u);
}

TEST(StartUpView, IkGoalLocatorIsTheLargeAxesWithSquares) {
  CD3DLocater locator;
  SetUpIkGoalLocator(&locator);
  EXPECT_EQ(locator.m_nMode, 1);
  EXPECT_EQ(locator.m_fSize, 5.0f);
}

}  // namespace
