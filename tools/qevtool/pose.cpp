#include "tools/qevtool/pose.h"

#include <cstring>
#include <string>

#include "app/scene.h"
#include "platform/codepage.h"
#include "tools/qevtool/scene_options.h"

namespace {

// 6 decimals; a value that rounds to zero prints without a minus sign.
std::string Fixed6(float value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.6f", double(value));
  return std::strcmp(text, "-0.000000") ? text : "0.000000";
}

}  // namespace

void PoseUsage(FILE* out) {
  std::fputs(
      "usage: qevtool pose MODEL [--pose P.vpd | --motion M.vmd [--frame N]] [--no-ik] [--no-physics]\n"
      "                    [--physics-substeps N]\n"
      "Loads the model as the viewer's F1 does, then the pose (F2) or the motion\n"
      "(F3) played from frame 0 to frame N (default 0) one frame at a time, with\n"
      "IK unless --no-ik and physics unless --no-physics (the simulated bodies\n"
      "then stay on their bones), and prints one line per bone of the\n"
      "skeleton (bones the viewer leaves out, such as IK goals and the shared eye\n"
      "bone, have none):\n"
      "  INDEX<TAB>NAME<TAB>X<TAB>Y<TAB>Z\n"
      "the bone's index in the model, its name in UTF-8, and where its head\n"
      "stands in the posed skeleton, in the viewer's space (right-handed, y up,\n"
      "the file's z mirrored), with 6 decimals. A motion wraps at its highest\n"
      "frame as in the viewer.\n"
      QEV_PHYSICS_SUBSTEPS_USAGE
      "exit status: 0 printed, 1 a file could not be read (the reason on stderr),\n"
      "2 bad usage.\n",
      out);
}

int RunPose(int argc, char** argv) {
  SceneOptions options;
  std::string error;
  for (int i = 0; i < argc && error.empty(); ++i) {
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
      PoseUsage(stdout);
      return 0;
    }
    const int taken = TakeSceneArgument(argc, argv, &i, &options, &error);
    if (taken == 0) error = std::string("unknown option '") + argv[i] + "'";
  }
  if (error.empty()) CheckSceneOptions(options, &error);
  if (!error.empty()) {
    std::fprintf(stderr, "qevtool pose: %s\n", error.c_str());
    PoseUsage(stderr);
    return 2;
  }

  CScene scene;
  std::string why;
  if (!PoseScene(options, nullptr, &scene, &why)) {
    std::fprintf(stderr, "qevtool pose: %s\n", why.c_str());
    return 1;
  }
  const D3DXMATRIX* W = scene.W();
  const uint32_t bones = uint32_t(scene.m_model.BoneCount());
  for (uint32_t i = 0; i < bones; ++i) {
    if (!scene.BoneNode(int(i))) continue;
    const std::string& name = scene.m_model.m_bones[i].nameUtf8;
    // The head is the bone's origin carried through W: its fourth row.
    std::printf("%u\t%s\t%s\t%s\t%s\n", i, name.c_str(), Fixed6(W[i]._41).c_str(), Fixed6(W[i]._42).c_str(),
                Fixed6(W[i]._43).c_str());
  }
  return 0;
}
