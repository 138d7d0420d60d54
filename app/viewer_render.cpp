// The viewer's rendering steps: bringing up the device, camera and IK goal
// locator at start, and drawing one frame.
#include "app/draw_frame.h"
#include "app/start_up_view.h"
#include "app/viewer.h"
#include "physics/bullet_debug_draw.h"

int CViewer::StartDevice(DeviceBackend backend) {
  if (!m_frame.Init(m_window.GetHandle(), backend)) return 0;
  SetStartUpCamera(&m_camera, m_frame.m_pDevice, float(m_frame.m_nWidth) / float(m_frame.m_nHeight));
  SetUpIkGoalLocator(&m_ikGoalLocator);
  m_pDebugDraw->Attach(m_frame.m_pDevice);  // without its text atlas the lines still draw
  return 1;
}

void CViewer::DrawScene() {
  FrameDrawing frame;
  frame.device = m_frame.m_pDevice;
  frame.camera = &m_camera;
  frame.grid = &m_grid;
  frame.ikGoalLocator = &m_ikGoalLocator;
  frame.DrawRigid = DrawRigid;
  frame.DrawBone = DrawBone;
  frame.DrawType = DrawType;
  frame.Shaded = Shaded;
  AddSceneSteps(&frame, &m_scene);
  if (DrawTimeline)
    frame.drawOverlay = [this] {
      m_timeline.Draw(m_frame.m_pDevice, m_frame.m_nWidth, m_frame.m_nHeight, TimelineNow());
    };
  DrawWholeFrame(&m_frame, frame);
}
