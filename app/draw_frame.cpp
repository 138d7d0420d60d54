#include "app/draw_frame.h"

#include "app/scene.h"
#include "render/d3d_camera.h"
#include "render/d3d_line90.h"
#include "render/d3d_locater.h"
#include "render/dd_pro90.h"

void DrawIkGoals(IDirect3DDevice9* device, CD3DLocater* locator, const D3DXMATRIX* goals, int count) {
  for (int k = 0; k < count; ++k) locator->DrawHighlighted(device, goals[k]);
}

void DrawFrame(const FrameDrawing& frame) {
  IDirect3DDevice9* device = frame.device;
  D3DXMATRIX identity;
  D3DXMatrixIdentity(&identity);

  device->SetTransform(D3DTS_VIEW, &frame.camera->m_mView);
  device->SetTransform(D3DTS_PROJECTION, &frame.camera->m_mProjection);
  device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
  device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);

  device->SetTransform(D3DTS_WORLD, &identity);
  frame.grid->Draw(device);

  if (frame.CalcIK) DrawIkGoals(device, frame.ikGoalLocator, frame.ikGoals, frame.ikGoalCount);

  if (frame.DrawRigid) {
    device->SetTransform(D3DTS_WORLD, &identity);
    if (frame.drawPhysics) frame.drawPhysics();
  }
  if (frame.DrawBone) {
    device->SetTransform(D3DTS_WORLD, &identity);
    if (frame.drawBones) frame.drawBones();
  }
  if (frame.DrawType != 0) {
    // The fill mode stays set afterwards; lines do not heed it. The cull
    // mode is reset by the next BeginDraw.
    device->SetRenderState(D3DRS_FILLMODE, frame.DrawType == 1 ? D3DFILL_WIREFRAME : D3DFILL_SOLID);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    if (frame.DrawType == 2 && frame.Shaded && frame.drawShadedModel)
      frame.drawShadedModel();
    else if (frame.drawModel)
      frame.drawModel();
  }
  if (frame.drawOverlay) frame.drawOverlay();
}

void DrawWholeFrame(CDDPro90* deviceFrame, const FrameDrawing& frame) {
  deviceFrame->m_dwClearColor = 0x00202020;
  deviceFrame->SetMultiSample(frame.DrawType == 2 && frame.Shaded);
  deviceFrame->BeginDraw();  // drawn whatever it says: a lost device ignores the calls
  if (deviceFrame->m_pDevice) DrawFrame(frame);
  deviceFrame->EndDraw();
}

void AddSceneSteps(FrameDrawing* frame, CScene* scene) {
  IDirect3DDevice9* device = frame->device;
  frame->ikGoals = scene->G();
  frame->ikGoalCount = scene->IkCount();
  frame->CalcIK = scene->CalcIK;
  frame->drawPhysics = [scene] { scene->m_physics.DebugDraw(); };
  frame->drawBones = [scene, device] { scene->DrawBones(device); };
  frame->drawModel = [scene, device] { scene->DrawModel(device); };
  frame->drawShadedModel = [scene, device] { scene->DrawShadedModel(device); };
}
