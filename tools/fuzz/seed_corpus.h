// Seeds a fuzz target's corpus from the fixture builder: when the first
// corpus folder named on the command line is empty, the given files are
// written into it before fuzzing starts.
#pragma once
#include <dirent.h>

#include <cstddef>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace qev::fuzz {

// The bytes as the whole file at path; nothing when it cannot be made.
inline void WriteFile(const std::string& path, const void* data, size_t size) {
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
}

inline bool EmptyFolder(const std::string& path) {
  DIR* dir = opendir(path.c_str());
  if (!dir) return false;
  bool empty = true;
  while (dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") {
      empty = false;
      break;
    }
  }
  closedir(dir);
  return empty;
}

inline void SeedCorpus(int argc, char** argv, const std::vector<std::pair<std::string, std::string>>& seeds) {
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] == '-') continue;  // libFuzzer's own flags
    const std::string folder = argv[i];
    if (!EmptyFolder(folder)) return;
    for (const auto& [name, bytes] : seeds) WriteFile(folder + "/" + name, bytes.data(), bytes.size());
    return;
  }
}

}  // namespace qev::fuzz
