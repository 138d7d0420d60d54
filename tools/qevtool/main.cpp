// qevtool: the headless companion of the viewer. Each subcommand builds only
// the objects it needs; nothing here opens a window.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "export/safe_file.h"
#include "tools/qevtool/bake.h"
#include "tools/qevtool/camera.h"
#include "tools/qevtool/convert.h"
#include "tools/qevtool/info.h"
#include "tools/qevtool/morphs.h"
#include "tools/qevtool/pose.h"
#include "tools/qevtool/render.h"
#include "tools/qevtool/standard_output.h"
#include "tools/qevtool/video.h"

namespace {

struct Command {
  const char* name;
  const char* arguments;
  const char* summary;
  int (*run)(int argc, char** argv);  // the arguments after the command's name
};

const Command kCommands[] = {
    {"info", "FILE...", "what the readers make of models, motions and poses", RunInfo},
    {"render", "MODEL ... -o OUT.png", "one frame drawn as the viewer draws it, offscreen", RunRender},
    {"pose", "MODEL ...", "where every bone's head stands, posed as in the viewer", RunPose},
    {"morphs", "MODEL ...", "every morph's weight at a frame, played as in the viewer", RunMorphs},
    {"convert", "MODEL -o OUT.x", "the plain mesh as a DirectX text file (F10), or .glb/.gltf", RunConvert},
    {"bake", "MODEL [MOTION.vmd] ... -o OUT.x", "the skinned model, a motion baked in (F9), or .glb/.gltf", RunBake},
    {"camera", "CAM.vmd [--frame N]", "where a camera motion puts the view at a frame", RunCamera},
    {"video", "MODEL MOTION ... -o OUT.mp4", "the motion recorded as a video or pictures (V)", RunVideo},
};

void Usage(FILE* out) {
  std::fputs(
      "usage: qevtool COMMAND [ARGS...]\n"
      "commands:\n",
      out);
  for (const Command& c : kCommands) std::fprintf(out, "  %-6s %-10s %s\n", c.name, c.arguments, c.summary);
  std::fputs(
      "  --help            show this text\n"
      "'qevtool COMMAND --help' explains a command.\n",
      out);
}

// A standard stream the tool was started without gets /dev/null, opened
// for reading only: no file the tool opens later can take its number and
// receive what is printed, and printing to stdout still fails, as it must.
void HoldClosedStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int held = ::open("/dev/null", fd == 2 ? O_WRONLY : O_RDONLY);
    if (held >= 0 && held != fd) {
      ::dup2(held, fd);
      ::close(held);
    }
  }
}

int Run(int argc, char** argv) {
  if (argc < 2) {
    Usage(stderr);
    return 2;
  }
  if (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
    Usage(stdout);
    return 0;
  }
  for (const Command& c : kCommands)
    if (!std::strcmp(argv[1], c.name)) return c.run(argc - 2, argv + 2);
  std::fprintf(stderr, "qevtool: unknown command '%s'\n", argv[1]);
  Usage(stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  HoldClosedStandardStreams();
  // A file-size limit fails the write that passes it, which is reported,
  // instead of ending the tool with a half-written temporary file behind.
  std::signal(SIGXFSZ, SIG_IGN);
  // An interrupted bake, convert, render or video leaves no temporary file.
  CSafeFile::RemoveTemporaryFilesOnSignals();
  return CloseStandardOutput(Run(argc, argv));
}
