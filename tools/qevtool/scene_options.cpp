#include "tools/qevtool/scene_options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/scene.h"
#include "platform/codepage.h"
#include "tools/qevtool/summary_capture.h"

namespace {

// The message box text the viewer would show, with what the log said last
// when it says more (the reader's own reason, or why the file cannot be read).
std::string Why(const std::string& path, const std::string& box, const SummaryCapture& log) {
  const std::string boxText = qev::Cp932ToUtf8(box), said = log.Reason(path.c_str(), "");
  if (said.empty()) return path + ": " + boxText;
  if (said.compare(0, boxText.size(), boxText) == 0) return path + ": " + said;
  return path + ": " + boxText + ": " + said;
}

}  // namespace

int TakePhysicsSubsteps(int argc, char** argv, int* i, int* substeps, std::string* error) {
  if (std::strcmp(argv[*i], "--physics-substeps")) return 0;
  if (*i + 1 >= argc) {
    *error = "--physics-substeps needs a count";
    return -1;
  }
  const char* text = argv[++*i];
  if (!ParsePhysicsSubsteps(text, substeps)) {
    *error = "--physics-substeps takes a whole number from 1 to " + std::to_string(kMaxPhysicsSubsteps) + ", not '" +
             text + "'";
    return -1;
  }
  return 1;
}

int TakeSceneArgument(int argc, char** argv, int* i, SceneOptions* o, std::string* error) {
  const char* arg = argv[*i];
  if (const int taken = TakePhysicsSubsteps(argc, argv, i, &o->physicsSubsteps, error)) return taken;
  auto value = [&](const char* what) -> const char* {
    if (*i + 1 >= argc) {
      *error = std::string(arg) + " needs " + what;
      return nullptr;
    }
    return argv[++*i];
  };
  if (!std::strcmp(arg, "--pose") || !std::strcmp(arg, "--motion")) {
    const char* file = value("a file");
    if (!file) return -1;
    std::string& slot = arg[2] == 'p' ? o->pose : o->motion;
    if (!slot.empty()) {
      *error = std::string(arg) + " given twice";
      return -1;
    }
    slot = file;
    return 1;
  }
  if (!std::strcmp(arg, "--frame")) {
    const char* text = value("a frame number");
    if (!text) return -1;
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(text, &end, 10);
    if (errno || end == text || *end || n < 0 || n > kMaxPlayedFrame) {
      *error = "--frame takes a whole number from 0 to " + std::to_string(kMaxPlayedFrame) + ", not '" + text + "'";
      return -1;
    }
    o->frame = n;
    o->frameGiven = true;
    return 1;
  }
  if (!std::strcmp(arg, "--no-ik")) {
    o->ik = false;
    return 1;
  }
  if (!std::strcmp(arg, "--no-physics")) {
    o->physics = false;
    return 1;
  }
  if (arg[0] == '-' && arg[1]) return 0;
  if (!o->model.empty()) {
    *error = "one model only ('" + o->model + "' and '" + arg + "')";
    return -1;
  }
  o->model = arg;
  return 1;
}

int CheckSceneOptions(const SceneOptions& o, std::string* error) {
  if (o.model.empty()) {
    *error = "no model given";
    return 0;
  }
  if (!o.pose.empty() && !o.motion.empty()) {
    *error = "--pose and --motion exclude each other";
    return 0;
  }
  if (o.frameGiven && o.motion.empty()) {
    *error = "--frame needs --motion";
    return 0;
  }
  return 1;
}

int PoseScene(const SceneOptions& o, IDirect3DDevice9* device, CScene* scene, std::string* why) {
  scene->CalcIK = o.ik ? 1 : 0;
  scene->CalcBullet = o.physics ? 1 : 0;
  scene->m_physics.SetSubsteps(o.physicsSubsteps);
  std::string box;
  {
    SummaryCapture log;
    if (!scene->LoadModel(o.model.c_str(), device, &box)) {
      *why = Why(o.model, box, log);
      return 0;
    }
  }
  if (!o.pose.empty()) {
    SummaryCapture log;
    if (!scene->LoadPose(o.pose.c_str(), &box)) {
      *why = Why(o.pose, box, log);
      return 0;
    }
  }
  if (!o.motion.empty()) {
    SummaryCapture log;
    if (!scene->LoadMotion(o.motion.c_str(), &box)) {
      *why = Why(o.motion, box, log);
      return 0;
    }
    // The viewer shows frame 0 on loading and advances one frame per update.
    for (long f = 0; f < o.frame; ++f) scene->UpdateFrame(false);
  }
  return 1;
}
