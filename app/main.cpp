// Entry point: the settings are read from the directory the program was
// started from, before the viewer moves into its own folder, and written back
// after it has shut down.
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "app/ini_edit_x.h"
#include "app/viewer.h"

int main(int argc, char** argv) {
  // A file-size limit fails the write that passes it (the export or the
  // settings file is then not replaced) instead of ending the program.
  std::signal(SIGXFSZ, SIG_IGN);
  CIniEditX settings;
  int result = 0;
  {
    CViewer viewer(settings);
    // qevtest [MODEL.pmd] [POSE.vpd | MOTION.vmd] [CAMERA.vmd]: named before the viewer
    // moves into its own folder, so relative names are made whole here.
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
      std::error_code error;
      const std::filesystem::path whole = std::filesystem::absolute(argv[i], error);
      files.push_back(error ? std::string(argv[i]) : whole.string());
    }
    viewer.SetStartupFiles(std::move(files));
    result = viewer.WinMain();
  }
  return result;
}
