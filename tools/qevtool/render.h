// `qevtool render MODEL [--pose P.vpd | --motion M.vmd --frame N] [--no-ik]
// [--camera CAM.vmd] [--size WxH] [--solid|--wire] [--rigid] [--bones] -o
// OUT.png`: one frame drawn exactly as the viewer draws it (its camera, or a
// camera motion's view, grid, IK goal markers, physics view, bone markers
// and model), offscreen.
#pragma once
#include <cstdio>
#include <string>

#include "physics/bullet_debug_draw.h"
#include "render/d3d_camera.h"
#include "render/d3d_line90.h"
#include "render/d3d_locater.h"
#include "render/dd_pro90.h"

struct FrameDrawing;
struct SceneOptions;
class CCameraTrack;
class CScene;

// The largest picture side asked for: far beyond any thumbnail, well inside
// what the device takes.
constexpr int kMaxSide = 4096;

// "WxH" with both sides from 1 to kMaxSide.
bool ParseSize(const char* text, int* width, int* height);

// How a picture is drawn, as `render` and `video` both take it:
// --size WxH, --solid | --wire, --unlit, --camera CAM.vmd, --hud.
struct PictureOptions {
  int width = 1280, height = 800;
  int drawType = 1;  // the viewer starts in wireframe; 2 solid
  bool shaded = true;
  bool hud = false;
  std::string cameraFile;
};
// Takes argv[*i] when it is one of those options, moving *i past its value.
// 1 when taken, 0 when it is none of them, -1 when it is one but wrong (the
// message in *error).
int TakePictureArgument(int argc, char** argv, int* i, PictureOptions* picture, std::string* error);

// The viewer's start-up, offscreen: device, camera, IK goal locator, physics
// debug drawer, grid. Its parts let go in reverse order, the device last; a
// scene made after it goes before it.
struct OffscreenView {
  CDDPro90 deviceFrame;
  CD3DCamera camera;
  CD3DLocater ikGoalLocator;
  CBulletDebugDraw debugDraw;  // outlives the scene's world, lets go before the device
  CD3DLine90 grid;
  // 1 when the offscreen device of the picture's size was made, else 0.
  int Open(const PictureOptions& picture);
  // The frame's fixed parts: this view's device, camera, grid and markers,
  // and the picture's drawing mode.
  void Describe(const PictureOptions& picture, FrameDrawing* frame);
};

// The start of every offscreen picture: the camera motion the picture names
// read (its failure comes before any drawing is set up), the view opened and
// the scene posed in it. The scene must be made after the view. 1, or 0 with
// the reason on stderr after "qevtool COMMAND: ".
int SetUpPicture(const char* command, const PictureOptions& picture, const SceneOptions& options,
                 CCameraTrack* cameraTrack, OffscreenView* view, CScene* scene);

// Exit status: 0 written, 1 a file failed or no offscreen device could be
// made (why on stderr), 2 bad usage.
int RunRender(int argc, char** argv);
void RenderUsage(FILE* out);
