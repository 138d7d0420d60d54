// qevtool: the headless companion of the viewer. Each subcommand builds only
// the objects it needs; nothing here opens a window.
#include <csignal>
#include <cstdio>
#include <cstring>

#include "tools/qevtool/bake.h"
#include "tools/qevtool/camera.h"
#include "tools/qevtool/convert.h"
#include "tools/qevtool/info.h"
#include "tools/qevtool/pose.h"
#include "tools/qevtool/render.h"

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
    {"convert", "MODEL.pmd -o OUT.x", "the plain mesh as a DirectX text file (F10)", RunConvert},
    {"bake", "MODEL.pmd [MOTION.vmd] ... -o OUT.x", "the skinned model, a motion baked in (F9)", RunBake},
    {"camera", "CAM.vmd [--frame N]", "where a camera motion puts the view at a frame", RunCamera},
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

}  // namespace

int main(int argc, char** argv) {
  // A file-size limit fails the write that passes it, which is reported,
  // instead of ending the tool with a half-written temporary file behind.
  std::signal(SIGXFSZ, SIG_IGN);
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
