#include "tools/qevtool/render.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/draw_frame.h"
#include "app/grid.h"
#include "app/scene.h"
#include "app/start_up_view.h"
#include "app/timeline.h"
#include "export/safe_file.h"
#include "model/camera_track.h"
#include "platform/picture_encoder.h"
#include "tools/qevtool/camera.h"
#include "tools/qevtool/scene_options.h"

bool ParseSize(const char* text, int* width, int* height) {
  char* end = nullptr;
  errno = 0;
  const long w = std::strtol(text, &end, 10);
  if (errno || end == text || (*end != 'x' && *end != 'X')) return false;
  const char* rest = end + 1;
  const long h = std::strtol(rest, &end, 10);
  if (errno || end == rest || *end || w < 1 || h < 1 || w > kMaxSide || h > kMaxSide) return false;
  *width = int(w);
  *height = int(h);
  return true;
}

int TakePictureArgument(int argc, char** argv, int* i, PictureOptions* picture, std::string* error) {
  const char* arg = argv[*i];
  const char* value = *i + 1 < argc ? argv[*i + 1] : nullptr;
  if (!std::strcmp(arg, "--solid") || !std::strcmp(arg, "--wire")) {
    picture->drawType = arg[2] == 's' ? 2 : 1;
  } else if (!std::strcmp(arg, "--unlit")) {
    picture->shaded = false;
  } else if (!std::strcmp(arg, "--hud")) {
    picture->hud = true;
  } else if (!std::strcmp(arg, "--camera")) {
    ++*i;
    if (!value || !value[0]) {
      *error = "--camera needs a file";
      return -1;
    }
    if (!picture->cameraFile.empty()) {
      *error = "--camera given twice";
      return -1;
    }
    picture->cameraFile = value;
  } else if (!std::strcmp(arg, "--size")) {
    ++*i;
    if (!value || !ParseSize(value, &picture->width, &picture->height)) {
      *error = "--size takes WxH, each side from 1 to " + std::to_string(kMaxSide);
      return -1;
    }
  } else {
    return 0;
  }
  return 1;
}

void RenderUsage(FILE* out) {
  std::fputs(
      "usage: qevtool render MODEL [--pose P.vpd | --motion M.vmd [--frame N]] [--no-ik] [--no-physics]\n"
      "                     [--camera CAM.vmd] [--physics-substeps N] [--size WxH] [--solid | --wire]\n"
      "                     [--unlit] [--rigid] [--bones] [--hud] -o OUT.png\n"
      "Draws one frame exactly as the viewer draws it, offscreen (OpenGL through\n"
      "EGL, no display needed): the start-up camera, the floor grid, the IK goal\n"
      "markers (unless --no-ik) and the model with its textures, in wireframe (the\n"
      "viewer's start, or --wire) or solid (--solid). Solid is shaded: a\n"
      "directional light (the motion's light keys change it), toon ramps, sphere\n"
      "maps, outlines, 4x multisampling; --unlit draws it flat with its material\n"
      "colours and textures alone, as the viewer's unshaded solid mode does.\n"
      "The model is posed as\n"
      "`qevtool pose` says: the pose, or the motion played from frame 0 to frame N\n"
      "(default 0) one frame at a time, with its physics. --rigid adds the physics\n"
      "view of F7: every rigid body, the ground and the contact points as lines.\n"
      "--bones adds the bone markers of F6: an arrow from each bone's head to the\n"
      "bone its tail names.\n"
      "--camera draws the frame through a camera motion instead of the start-up\n"
      "camera: its view at the motion's frame (the frame the motion shows after N\n"
      "frames, wrapped as the viewer wraps it; frame 0 without a motion).\n"
      "--hud adds the player's timeline along the bottom, as the viewer shows it\n"
      "while playing: the frame counter, the time, the speed and the bar.\n"
      "The picture is 1280x800 as in the viewer unless --size says otherwise\n"
      "(each side 1 to 4096; the vertical view angle stays as the camera has it).\n"
      "OUT.png is replaced only once the new picture is completely written.\n"
      QEV_PHYSICS_SUBSTEPS_USAGE
      "exit status: 0 written, 1 a file could not be read or written or no\n"
      "offscreen device could be made (the reason on stderr), 2 bad usage.\n",
      out);
}

int OffscreenView::Open(const PictureOptions& picture) {
  // samples for the shaded solid model alone: every other picture stays as drawn without
  if (picture.shaded && picture.drawType == 2) deviceFrame.m_multiSampleType = D3DMULTISAMPLE_4_SAMPLES;
  if (!deviceFrame.Init(nullptr, DeviceBackend::kOffscreenGl, picture.width, picture.height)) return 0;
  SetStartUpCamera(&camera, deviceFrame.m_pDevice, float(picture.width) / float(picture.height));
  SetUpIkGoalLocator(&ikGoalLocator);
  debugDraw.Attach(deviceFrame.m_pDevice);
  BuildGrid(&grid);
  return 1;
}

void OffscreenView::Describe(const PictureOptions& picture, FrameDrawing* frame) {
  frame->device = deviceFrame.m_pDevice;
  frame->camera = &camera;
  frame->grid = &grid;
  frame->ikGoalLocator = &ikGoalLocator;
  frame->DrawType = picture.drawType;
  frame->Shaded = picture.shaded ? 1 : 0;
}

int SetUpPicture(const char* command, const PictureOptions& picture, const SceneOptions& options,
                 CCameraTrack* cameraTrack, OffscreenView* view, CScene* scene) {
  std::string why;
  if (!picture.cameraFile.empty() && !LoadCameraTrack(picture.cameraFile, cameraTrack, &why)) {
    std::fprintf(stderr, "qevtool %s: %s\n", command, why.c_str());
    return 0;
  }
  if (!view->Open(picture)) {
    std::fprintf(stderr, "qevtool %s: no offscreen OpenGL 3.3 device (EGL without a display)\n", command);
    return 0;
  }
  scene->m_physics.SetDebugDrawer(&view->debugDraw);
  if (!PoseScene(options, view->deviceFrame.m_pDevice, scene, &why)) {
    std::fprintf(stderr, "qevtool %s: %s\n", command, why.c_str());
    return 0;
  }
  return 1;
}

int RunRender(int argc, char** argv) {
  SceneOptions options;
  PictureOptions picture;
  int drawRigid = 0;
  int drawBone = 0;
  const char* output = nullptr;
  std::string error;
  for (int i = 0; i < argc && error.empty(); ++i) {
    const char* arg = argv[i];
    if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h")) {
      RenderUsage(stdout);
      return 0;
    }
    if (TakeSceneArgument(argc, argv, &i, &options, &error)) continue;
    if (TakePictureArgument(argc, argv, &i, &picture, &error)) continue;
    if (!std::strcmp(arg, "--rigid")) {
      drawRigid = 1;
    } else if (!std::strcmp(arg, "--bones")) {
      drawBone = 1;
    } else if (!std::strcmp(arg, "-o")) {
      if (i + 1 >= argc || !argv[i + 1][0])
        error = "-o needs a file";
      else if (output)
        error = "-o given twice";
      else
        output = argv[++i];
    } else {
      error = std::string("unknown option '") + arg + "'";
    }
  }
  if (error.empty()) CheckSceneOptions(options, &error);
  if (error.empty() && !output) error = "no output file (-o OUT.png)";
  if (!error.empty()) {
    std::fprintf(stderr, "qevtool render: %s\n", error.c_str());
    RenderUsage(stderr);
    return 2;
  }
  const int width = picture.width, height = picture.height;
  const bool hud = picture.hud;
  CCameraTrack cameraTrack;
  OffscreenView view;
  CScene scene;
  if (!SetUpPicture("render", picture, options, &cameraTrack, &view, &scene)) return 1;
  CDDPro90& deviceFrame = view.deviceFrame;
  // the camera follows the motion's frame counter, as in the viewer
  if (!cameraTrack.Empty()) ViewThroughCamera(&view.camera, cameraTrack.View(scene.m_fFrame));

  FrameDrawing frame;
  view.Describe(picture, &frame);
  frame.DrawRigid = drawRigid;
  frame.DrawBone = drawBone;
  AddSceneSteps(&frame, &scene);
  CTimeline timeline;  // lets go of its atlas before the device goes
  if (hud) frame.drawOverlay = [&] { timeline.Draw(deviceFrame.m_pDevice, width, height, SceneTimeline(scene)); };
  DrawWholeFrame(&deviceFrame, frame);

  std::vector<D3DCOLOR> pixels;
  unsigned w = 0, h = 0;
  if (FAILED(deviceFrame.m_pDevice->ReadBackBuffer(&pixels, &w, &h))) {
    std::fprintf(stderr, "qevtool render: the picture could not be read back\n");
    return 1;
  }
  // The window shows the back buffer opaque whatever its alpha (the clear
  // colour has none); so does the picture. ARGB values in memory are the
  // encoder's blue-green-red-alpha bytes.
  for (D3DCOLOR& p : pixels) p |= 0xFF000000u;
  const std::string png =
      qev::EncodePicture(qev::PictureFileType::kPng, int(w), int(h), reinterpret_cast<const uint8_t*>(pixels.data()));
  if (png.empty()) {
    std::fprintf(stderr, "qevtool render: the picture could not be encoded\n");
    return 1;
  }
  CSafeFile file;
  if (file.Open(output)) {
    file.Write(png.data(), png.size());  // a failure is reported by Commit
    if (file.Commit()) return 0;
  }
  std::fprintf(stderr, "qevtool render: %s: %s\n", output, file.Reason().c_str());
  return 1;
}
