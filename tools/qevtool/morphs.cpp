#include "tools/qevtool/morphs.h"

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

void MorphsUsage(FILE* out) {
  std::fputs(
      "usage: qevtool morphs MODEL [--pose P.vpd | --motion M.vmd [--frame N]]\n"
      "Loads the model as the viewer's F1 does, then the pose (F2) or the motion\n"
      "(F3) played from frame 0 to frame N (default 0) one frame at a time, and\n"
      "prints one line per morph of the model, in model order:\n"
      "  INDEX<TAB>NAME<TAB>WEIGHT\n"
      "the morph's index in the model, its name in UTF-8 and the weight it plays\n"
      "with at that frame, 6 decimals: its own plus what the groups it belongs\n"
      "to hand on. A PMD model's morph 0, the base the others are relative to,\n"
      "is listed with 0 so the indices match the model; so is a morph left out\n"
      "at load (its entries point outside the model). A pose carries no morphs:\n"
      "every weight is 0. A motion wraps at its highest frame as in the viewer.\n"
      "exit status: 0 printed, 1 a file could not be read (the reason on stderr),\n"
      "2 bad usage.\n",
      out);
}

int RunMorphs(int argc, char** argv) {
  SceneOptions options;
  std::string error;
  for (int i = 0; i < argc && error.empty(); ++i) {
    const char* arg = argv[i];
    if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h")) {
      MorphsUsage(stdout);
      return 0;
    }
    // Of the shared options only those that choose the frame: IK and physics
    // move bones, never weights.
    const bool shared = arg[0] != '-' || !std::strcmp(arg, "--pose") || !std::strcmp(arg, "--motion") ||
                        !std::strcmp(arg, "--frame");
    if (!shared || TakeSceneArgument(argc, argv, &i, &options, &error) == 0)
      error = std::string("unknown option '") + arg + "'";
  }
  if (error.empty()) CheckSceneOptions(options, &error);
  if (!error.empty()) {
    std::fprintf(stderr, "qevtool morphs: %s\n", error.c_str());
    MorphsUsage(stderr);
    return 2;
  }

  // The weights come from the motion alone, so the frames are played
  // without IK and physics, which would only cost time.
  options.ik = false;
  options.physics = false;
  CScene scene;
  std::string why;
  if (!PoseScene(options, nullptr, &scene, &why)) {
    std::fprintf(stderr, "qevtool morphs: %s\n", why.c_str());
    return 1;
  }
  const int32_t morphs = int32_t(scene.m_model.m_morphs.size());
  for (int32_t i = 0; i < morphs; ++i) {
    const std::string& name = scene.m_model.m_morphs[size_t(i)].nameUtf8;
    std::printf("%d\t%s\t%s\n", int(i), name.c_str(), Fixed6(scene.m_morph.Weight(int(i))).c_str());
  }
  return 0;
}
