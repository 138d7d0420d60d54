#include "tools/qevtool/bake.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/gltf_export.h"
#include "app/scene.h"
#include "app/x_export.h"
#include "tools/qevtool/scene_options.h"

namespace {

// "\rbaking frame n/F [####......]" on a terminal, redrawn as the bake goes.
class ProgressBar {
 public:
  ProgressBar() : m_bShown(isatty(STDERR_FILENO) == 1) {}
  ~ProgressBar() {
    if (m_bDrawn) std::fputc('\n', stderr);
  }
  void Show(int32_t frame, int32_t frames) {
    if (!m_bShown || frames <= 0) return;
    const int width = 40;
    const int filled = int(int64_t(frame + 1) * width / frames);
    if (m_bDrawn && filled == m_nFilled && frame + 1 != frames && frame % 50 != 0) return;
    m_nFilled = filled;
    m_bDrawn = true;
    std::fprintf(stderr, "\rbaking frame %d/%d [%s%s]", frame + 1, frames, std::string(size_t(filled), '#').c_str(),
                 std::string(size_t(width - filled), '.').c_str());
    std::fflush(stderr);
  }

 private:
  bool m_bShown;
  bool m_bDrawn = false;
  int m_nFilled = -1;
};

// A positive decimal count; no sign, no blanks, nothing after it.
bool ParseFrameCount(const char* text, int64_t* out) {
  if (!std::isdigit(static_cast<unsigned char>(text[0]))) return false;
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text, &end, 10);
  if (errno == ERANGE || *end || value < 1) return false;
  *out = int64_t(value);
  return true;
}

}  // namespace

void BakeUsage(FILE* out) {
  std::fputs(
      "usage: qevtool bake MODEL [MOTION.vmd] [--no-ik] [--no-physics] [--max-frames N]\n"
      "                    -o OUT.x|OUT.glb|OUT.gltf\n"
      "                    [--physics-substeps N]\n"
      "Writes the model as a skinned DirectX text file (mesh, skin weights, bones\n"
      "as nested frames), exactly as the viewer's F9 does. With a motion, the\n"
      "motion is played from frame 0 up to the frame before its last key, frame by\n"
      "frame as the viewer plays it, and every bone's matrix of every frame is\n"
      "written as an animation key (640 ticks a frame at 4800 ticks a second);\n"
      "a motion whose keys are all at frame 0 gives one key, its pose.\n"
      "OUT.glb or OUT.gltf: glTF 2.0 instead (as qevtool convert writes it), the\n"
      "motion as one animation of the same frames at 30 a second: every\n"
      "bone's translation and rotation, and the morphs' weights; a key that\n"
      "never changes is written once.\n"
      "  --no-ik       the IK chains are not solved (F4 off)\n"
      "  --no-physics  the model's rigid bodies are left out\n"
      QEV_PHYSICS_SUBSTEPS_USAGE
      "  --max-frames N  bake motions of up to N frames (frame 0 to the last\n"
      "                key); longer ones are refused. 1000000 (over nine hours)\n"
      "                unless given.\n"
      "Before the first frame is played, a bake whose file would not fit in the\n"
      "free space where OUT.x goes, or whose keys would need more than half the\n"
      "memory, is refused as well. An existing OUT.x is replaced, but only once\n"
      "the new file is completely written. A progress bar is drawn on stderr\n"
      "when it is a terminal.\n"
      "exit status: 0 written, 1 a file could not be read or written (the reason\n"
      "on stderr), 2 bad usage.\n",
      out);
}

int RunBake(int argc, char** argv) {
  const char* model = nullptr;
  const char* motion = nullptr;
  const char* output = nullptr;
  bool ik = true, physics = true;
  int64_t maxFrames = qev::bake::kDefaultMaxFrames;
  int substeps = kDefaultPhysicsSubsteps;
  for (int i = 0; i < argc; ++i) {
    std::string error;
    if (const int taken = TakePhysicsSubsteps(argc, argv, &i, &substeps, &error)) {
      if (taken > 0) continue;
      std::fprintf(stderr, "qevtool bake: %s\n", error.c_str());
      BakeUsage(stderr);
      return 2;
    }
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
      BakeUsage(stdout);
      return 0;
    }
    if (!std::strcmp(argv[i], "-o") && i + 1 < argc && !output) {
      output = argv[++i];
    } else if (!std::strcmp(argv[i], "--no-ik")) {
      ik = false;
    } else if (!std::strcmp(argv[i], "--no-physics")) {
      physics = false;
    } else if (!std::strcmp(argv[i], "--max-frames")) {
      if (i + 1 >= argc || !ParseFrameCount(argv[i + 1], &maxFrames)) {
        std::fprintf(stderr, "qevtool bake: --max-frames wants a whole number of frames from 1 on\n");
        BakeUsage(stderr);
        return 2;
      }
      ++i;
    } else if (argv[i][0] == '-' && argv[i][1]) {
      std::fprintf(stderr, "qevtool bake: unknown option '%s'\n", argv[i]);
      BakeUsage(stderr);
      return 2;
    } else if (!model) {
      model = argv[i];
    } else if (!motion) {
      motion = argv[i];
    } else {
      std::fprintf(stderr, "qevtool bake: more than a model and a motion given\n");
      BakeUsage(stderr);
      return 2;
    }
  }
  if (!model || !output || !output[0]) {
    BakeUsage(stderr);
    return 2;
  }

  // loaded as the viewer loads them: the motion started at frame 0
  SceneOptions options;
  options.model = model;
  if (motion) options.motion = motion;
  options.ik = ik;
  options.physicsSubsteps = substeps;
  CScene scene;
  std::string failure;
  if (!PoseScene(options, nullptr, &scene, &failure)) {
    std::fprintf(stderr, "qevtool bake: %s\n", failure.c_str());
    return 1;
  }
  // the bake steps every world there is, so leaving the bodies out is the
  // only way to bake without physics
  if (!physics) scene.m_physics.Clear();
  int written;
  {
    ProgressBar bar;
    const BakeProgress progress = [&bar](int32_t n, int32_t frames) { bar.Show(n, frames); };
    written = qev::gltf::ContainerOf(output) != qev::gltf::Container::kNone
                  ? ExportGltf(scene, model, output, true, progress, &failure, maxFrames)
                  : ExportXSkin(scene, output, progress, &failure, maxFrames);
  }
  if (!written) {
    std::fprintf(stderr, "qevtool bake: %s: %s\n", output, failure.c_str());
    return 1;
  }
  return 0;
}
