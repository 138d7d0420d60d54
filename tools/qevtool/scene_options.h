// The part of `qevtool render` and `qevtool pose` that both share: the model
// and its animation as given on the command line, and the scene posed from
// them exactly as the viewer poses it (the same CScene operations).
#pragma once
#include <string>

#include "app/model_physics.h"
#include "platform/d3d9.h"

class CScene;

struct SceneOptions {
  std::string model;
  std::string pose;    // a pose file, or empty
  std::string motion;  // a motion file, or empty
  long frame = 0;      // the motion frame, reached by playing from frame 0
  bool frameGiven = false;
  bool ik = true;
  bool physics = true;  // the viewer's F8: the world steps with every frame
  int physicsSubsteps = kDefaultPhysicsSubsteps;  // each frame's step in this many parts
};

// The most frames a motion is played for: a bound on the work a command
// line can ask for (about 55 minutes of motion).
constexpr long kMaxPlayedFrame = 100000;

// Takes argv[*i] when it is the model or one of the shared options
// (--pose FILE, --motion FILE, --frame N, --no-ik, --no-physics,
// --physics-substeps N), moving *i past an option's value. 1 when taken, 0
// when it is none of them, -1 when it is one but wrong (the message in *error).
int TakeSceneArgument(int argc, char** argv, int* i, SceneOptions* options, std::string* error);
// The same for --physics-substeps N alone (N from 1 to kMaxPhysicsSubsteps),
// for commands that parse their own arguments.
int TakePhysicsSubsteps(int argc, char** argv, int* i, int* substeps, std::string* error);
// The usage lines of --physics-substeps, for every command that takes it (a
// literal, to be joined to a command's own usage text).
#define QEV_PHYSICS_SUBSTEPS_USAGE                                                     \
  "  --physics-substeps N  each frame's 1/30 s of physics in N equal steps, 1 to 16\n" \
  "                (default 4, the viewer's own; 1: the whole step at once)\n"
static_assert(kMaxPhysicsSubsteps == 16 && kDefaultPhysicsSubsteps == 4, "the usage text names both");
// Once every argument is taken: 1 when the options go together, else 0
// with the message in *error.
int CheckSceneOptions(const SceneOptions& options, std::string* error);
// Loads the model (its textures on the device; none without one), then the
// pose, or the motion played to its frame with one UpdateFrame per frame,
// IK and physics as the options say. 1, or 0 with "FILE: reason" in *why.
int PoseScene(const SceneOptions& options, IDirect3DDevice9* device, CScene* scene, std::string* why);
