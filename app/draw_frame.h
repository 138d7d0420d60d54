// One frame's drawing, between BeginDraw and EndDraw, in its fixed order:
// camera matrices, depth on, the grid, the IK goal markers, then the physics
// shapes, the bone markers and the model when they are switched on, and last
// the overlay in screen space.
#pragma once
#include <functional>

#include "platform/d3d9.h"

class CDDPro90;
class CD3DCamera;
class CD3DLine90;
class CD3DLocater;
class CScene;

struct FrameDrawing {
  IDirect3DDevice9* device = nullptr;
  const CD3DCamera* camera = nullptr;
  CD3DLine90* grid = nullptr;
  CD3DLocater* ikGoalLocator = nullptr;
  const D3DXMATRIX* ikGoals = nullptr;  // G, one matrix per IK list of the model
  int ikGoalCount = 0;
  // The application's switches
  int CalcIK = 1;
  int DrawRigid = 0;
  int DrawBone = 0;
  int DrawType = 1;  // 0 model hidden, 1 wireframe, 2 solid
  int Shaded = 0;    // solid drawing lit and toon-shaded, multisampled; 0: unlit
  // The steps other parts draw, each run after its world transform and
  // states are set; empty while there is nothing to draw (no physics world,
  // no skeleton, no model).
  std::function<void()> drawPhysics;
  std::function<void()> drawBones;
  std::function<void()> drawModel;
  std::function<void()> drawShadedModel;  // solid and Shaded: instead of drawModel
  // Screen-space drawing over the finished picture (the player's timeline);
  // empty when there is none.
  std::function<void()> drawOverlay;
};

void DrawFrame(const FrameDrawing& frame);

// The scene's part of a frame: its IK goals and CalcIK, and the steps that
// draw its physics view, bone markers and model on the frame's device.
void AddSceneSteps(FrameDrawing* frame, CScene* scene);

// One highlighted IK goal marker per IK list, in file order.
void DrawIkGoals(IDirect3DDevice9* device, CD3DLocater* locator, const D3DXMATRIX* goals, int count);

// A whole frame on the device frame: the dark grey clear colour,
// multisampling on for a shaded solid frame (off otherwise), then DrawFrame
// between BeginDraw and EndDraw (skipped without a device).
void DrawWholeFrame(CDDPro90* deviceFrame, const FrameDrawing& frame);
