// The viewer's rendering steps: bringing up the device, camera and IK goal
// locator at start, and drawing one frame.
#include "app/draw_frame.h"
#include "app/viewer.h"

int CViewer::StartDevice(DeviceBackend backend) {
  if (!m_frame.Init(m_window.GetHandle(), backend)) return 0;
  m_camera.m_pDevice = m_frame.m_pDevice;
  m_camera.m_fFov = 0.7853982f;  // pi / 4
  m_camera.m_bRightHanded = 1;
  m_camera.m_fAspect = 1.6f;  // the 1280 x 800 back buffer
  m_camera.m_fNear = 0.1f;
  m_camera.m_fFar = 1000.0f;
  m_camera.SetProjection(m_frame.m_pDevice);
  const D3DXVECTOR3 eye(10, 20, 20), up(0, 1, 0), target(0, 10, 0);
  m_camera.LookAt(&eye, &up, target);
  m_ikGoalLocator.m_nMode = 1;
  m_ikGoalLocator.m_fSize = 5.0f;
  return 1;
}

void CViewer::DrawScene() {
  m_frame.m_dwClearColor = 0x00202020;
  m_frame.BeginDraw();  // drawn whatever it says: a lost device ignores the calls
  // Only a viewer without any device (tests of the loop) has nothing to draw on.
  if (m_frame.m_pDevice) {
    FrameDrawing frame;
    frame.device = m_frame.m_pDevice;
    frame.camera = &m_camera;
    frame.grid = &m_grid;
    frame.ikGoalLocator = &m_ikGoalLocator;
    frame.CalcIK = CalcIK;
    frame.DrawRigid = DrawRigid;
    frame.DrawBone = DrawBone;
    frame.DrawType = DrawType;
    DrawFrame(frame);
  }
  m_frame.EndDraw();
}
