#include "tools/qevtool/info_picture.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/codepage.h"
#include "platform/recording_device.h"
#include "render/dd_tex_pro90.h"
#include "support/debug.h"

namespace {

// The FILES folder beside the executable; the viewer makes the program folder
// its working directory, the tool keeps the user's.
std::string PluginFolder() {
  std::error_code error;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string("./FILES") : (exe.parent_path() / "FILES").string();
}

void Line(const char* what, const std::string& value) { std::printf("  %-22s %s\n", what, value.c_str()); }

std::string Size(int width, int height) { return std::to_string(width) + " x " + std::to_string(height); }

}  // namespace

int InfoPicture(const char* path, std::string* why) {
  std::vector<std::string> log;
  CDebug::Global().SetTap([&log](std::string_view line) { log.emplace_back(line); });
  // Headless: the recording device holds the texture in plain memory.
  qev::RecordingDevice device;
  CDDTexPro90 texture;
  texture.m_pluginFolder = PluginFolder();
  const int loaded = texture.LoadFile(path, &device);
  CDebug::Global().SetTap(nullptr);
  for (const std::string& line : log) std::fputs(qev::Cp932ToUtf8(line).c_str(), stdout);
  if (!loaded) {
    struct stat st {};
    if (stat(path, &st) != 0)
      *why = std::strerror(errno);
    else if (!S_ISREG(st.st_mode))
      *why = "not a regular file";
    else
      *why = "not a picture that the decoders or the plug-ins in " + texture.m_pluginFolder + " read";
    return 0;
  }
  D3DSURFACE_DESC surface;
  texture.m_pTexture->GetLevelDesc(0, &surface);
  std::printf("picture:\n");
  Line("route", texture.m_route + ": " + texture.m_decoder);
  Line("image size", Size(texture.m_nImageWidth, texture.m_nImageHeight));
  Line("texture size", Size(texture.m_nTextureWidth, texture.m_nTextureHeight));
  Line("surface size", Size(int(surface.Width), int(surface.Height)));
  Line("bits per pixel", std::to_string(texture.m_nSourceBits) + " in the file, 32 in the texture");
  if (texture.m_route == "plug-in") Line("plug-in information", qev::Cp932ToUtf8(texture.m_info));
  return 1;
}
