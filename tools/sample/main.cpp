// qev_sample FOLDER: writes the sample character (model, walk, camera, pose
// and texture) into FOLDER, creating it when missing. The build runs it.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/fixtures/sample_character.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: qev_sample FOLDER\n", stderr);
    return 2;
  }
  if (mkdir(argv[1], 0777) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "qev_sample: %s: %s\n", argv[1], std::strerror(errno));
    return 1;
  }
  std::string error;
  if (!qev::fixture::WriteSampleCharacter(argv[1], &error)) {
    std::fprintf(stderr, "qev_sample: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
