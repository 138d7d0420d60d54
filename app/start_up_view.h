// The view every frame starts from: the start-up camera (its projection and
// viewpoint) and the IK goal locator's look. The viewer and `qevtool render`
// set them up through these, so a rendered frame is the viewer's frame.
#pragma once
#include "platform/d3d9.h"

class CD3DCamera;
class CD3DLocater;
struct CameraView;

// Eye (10, 20, 20) looking at (0, 10, 0), 45 degrees vertically, right-handed,
// near 0.1, far 1000; `aspect` is the back buffer's width over its height.
void SetStartUpCamera(CD3DCamera* camera, IDirect3DDevice9* device, float aspect);
// The camera put where a camera track's view says: eye, target, up and the
// vertical angle (aspect, near and far kept); projection and view rebuilt,
// and set on the camera's device when it has one.
void ViewThroughCamera(CD3DCamera* camera, const CameraView& view);
// Mode 1 (axes and squares), size 5.
void SetUpIkGoalLocator(CD3DLocater* locator);
