#include "app/draw_frame.h"
#include "app/scene.h"

void AddSceneDrawing(FrameDrawing* frame, CScene* scene) {
  IDirect3DDevice9* device = frame->device;
  frame->ikGoals = scene->G();
  frame->ikGoalCount = scene->IkCount();
  frame->CalcIK = scene->CalcIK;
  frame->drawPhysics = [scene] { scene->m_physics.DebugDraw(); };
  frame->drawBones = [scene, device] { scene->DrawBones(device); };
  frame->drawModel = [scene, device] { scene->DrawModel(device); };
}
