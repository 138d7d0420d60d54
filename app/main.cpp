// Entry point: the settings are read from the directory the program was
// started from, before the viewer moves into its own folder, and written back
// after it has shut down.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/ini_edit_x.h"
#include "app/viewer.h"
#include "export/safe_file.h"

int main(int argc, char** argv) {
  // A file-size limit fails the write that passes it (the export or the
  // settings file is then not replaced) instead of ending the program.
  std::signal(SIGXFSZ, SIG_IGN);
  // SIGINT and SIGTERM reach the window as a close request (the settings are
  // written); a hang-up ends the viewer at once, and takes the temporary file
  // of an export or recording under way with it.
  CSafeFile::RemoveTemporaryFilesOnSignal(SIGHUP);
  // qevtest [--solid] [--audio-offset N] [MODEL.pmd | MODEL.pmx] [POSE.vpd | MOTION.vmd] [CAMERA.vmd]
  // [MUSIC]:
  // read before anything starts, so that bad usage leaves no settings file;
  // files are named before the viewer moves into its own folder, so relative
  // names are made whole here.
  long long audioOffset = 0;
  bool solid = false;  // start in solid drawing instead of wireframe
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--solid")) {
      solid = true;
      continue;
    }
    if (!std::strcmp(argv[i], "--audio-offset")) {
      char* end = nullptr;
      errno = 0;
      if (i + 1 < argc) audioOffset = std::strtoll(argv[i + 1], &end, 10);
      if (i + 1 >= argc || errno || end == argv[i + 1] || *end || audioOffset < -CPlayer::kMaxAudioOffset ||
          audioOffset > CPlayer::kMaxAudioOffset) {
        std::fprintf(stderr, "qevtest: --audio-offset takes a whole number of frames from %lld to %lld\n"
                             "usage: qevtest [--solid] [--audio-offset N] [MODEL.pmd | MODEL.pmx] [POSE.vpd | MOTION.vmd] [CAMERA.vmd] [MUSIC]\n",
                     static_cast<long long>(-CPlayer::kMaxAudioOffset), static_cast<long long>(CPlayer::kMaxAudioOffset));
        return 2;
      }
      ++i;
      continue;
    }
    std::error_code error;
    const std::filesystem::path whole = std::filesystem::absolute(argv[i], error);
    files.push_back(error ? std::string(argv[i]) : whole.string());
  }

  CIniEditX settings;
  int result = 0;
  {
    CViewer viewer(settings);
    viewer.m_player.SetAudioOffset(audioOffset);
    if (solid) viewer.DrawType = 2;
    viewer.SetStartupFiles(std::move(files));
    result = viewer.WinMain();
  }
  return result;
}
