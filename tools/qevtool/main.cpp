// qevtool: the headless companion of the viewer. Each subcommand builds only
// the objects it needs; nothing here opens a window.
#include <cstdio>
#include <cstring>

namespace {

void Usage(FILE* out) {
  std::fputs(
      "usage: qevtool COMMAND [ARGS...]\n"
      "commands:\n"
      "  --help            show this text\n",
      out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    Usage(stderr);
    return 2;
  }
  if (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
    Usage(stdout);
    return 0;
  }
  std::fprintf(stderr, "qevtool: unknown command '%s'\n", argv[1]);
  Usage(stderr);
  return 2;
}
