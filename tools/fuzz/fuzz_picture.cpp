// Fuzz target: any bytes as a picture. The first byte picks the reader: the
// direct decoders (both format sets, DDS among them), the plug-in loader's
// bitmap path, the conversion of a plug-in's bitmap blocks, and the texture
// manager's memory route onto the recording device.
#include <dirent.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/picture_decoder.h"
#include "platform/picture_encoder.h"
#include "platform/recording_device.h"
#include "render/dd_tex_pro90.h"
#include "render/susie.h"
#include "tools/fixtures/picture_fixtures.h"

namespace {

// No plug-ins: the loader's own reading is what is under test.
constexpr const char* kNoPlugins = "/nonexistent/FILES";

void WriteFile(const std::string& path, const std::string& bytes) {
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
}

bool EmptyFolder(const char* path) {
  DIR* dir = opendir(path);
  if (!dir) return false;
  bool empty = true;
  while (dirent* entry = readdir(dir))
    if (entry->d_name[0] != '.') empty = false;
  closedir(dir);
  return empty;
}

std::string Le16(uint16_t v) { return {char(v & 0xFF), char(v >> 8)}; }

void Seed(const std::string& corpus) {
  namespace fx = qev::fixtures;
  const std::vector<uint8_t> pixels = fx::RampPicture(13, 7);
  const std::string gif("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\x00\x00\x00\x00\x00"
                        ",\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;",
                        35);
  const std::string block(16, '\x5A');
  const std::vector<std::pair<std::string, std::string>> files = {
      {"png", qev::EncodePicture(qev::PictureFileType::kPng, 13, 7, pixels.data())},
      {"bmp", qev::EncodePicture(qev::PictureFileType::kBmp, 13, 7, pixels.data(), false)},
      {"bmp32", qev::EncodePicture(qev::PictureFileType::kBmp, 13, 7, pixels.data(), true)},
      {"tga", qev::EncodePicture(qev::PictureFileType::kTga, 13, 7, pixels.data())},
      {"tga_rle", qev::EncodePicture(qev::PictureFileType::kTgaRle, 13, 7, pixels.data())},
      {"jpg", qev::EncodePicture(qev::PictureFileType::kJpg, 13, 7, pixels.data(), false)},
      {"gif", gif},
      {"dxt1", fx::DdsHeader(5, 3, "DXT1") + block},
      {"dxt3", fx::DdsHeader(4, 4, "DXT3") + block},
      {"dxt5", fx::DdsHeader(4, 4, "DXT5") + block},
      {"dds32", fx::DdsHeader(2, 2, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u) + block},
      {"dds24", fx::DdsHeader(2, 2, 24, 0xFF0000, 0xFF00, 0xFF, 0) + block.substr(0, 12)},
  };
  for (const auto& [name, bytes] : files)
    for (char mode = 0; mode < 4; ++mode) {
      if (mode == 2) continue;  // the conversion has seeds of its own
      WriteFile(corpus + "/" + name + "_" + char('0' + mode), std::string(1, mode) + bytes);
    }
  // Conversion seeds: mode 2, flags, info length, the info block, the rows.
  const std::vector<uint32_t> palette = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
  for (int bits : {4, 8, 24, 32}) {
    const std::string rows = fx::DibRows(5, 3, bits, [](int x, int y) { return uint32_t(x + y) * 0x01010101u & 0xFF0F0F03u; });
    const std::string bmp = fx::BitmapFile(5, 3, bits, rows, bits <= 8 ? palette : std::vector<uint32_t>{});
    const std::string info = bmp.substr(14, bmp.size() - 14 - rows.size());
    WriteFile(corpus + "/convert" + std::to_string(bits),
              std::string(1, '\2') + char(bits == 8) + Le16(uint16_t(info.size())) + info + rows);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  for (int i = 1; i < *argc; ++i)
    if ((*argv)[i][0] != '-' && EmptyFolder((*argv)[i])) Seed((*argv)[i]);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0] % 4;
  const uint8_t* body = data + 1;
  const size_t bytes = size - 1;
  switch (mode) {
    case 0: {
      qev::DecodedPicture picture;
      std::string why;
      for (qev::PictureFormats set : {qev::PictureFormats::kTextureFiles, qev::PictureFormats::kAll})
        if (qev::DecodePicture(body, bytes, set, picture, &why) &&
            picture.pixels.size() != size_t(picture.width) * picture.height * 4)
          __builtin_trap();
      break;
    }
    case 1: {
      CSusie plugins;
      plugins.SetFolder(kNoPlugins);
      if (plugins.LoadMemory(body, int64_t(bytes)) &&
          int64_t(plugins.m_nRowBytes) * plugins.m_nHeight != plugins.m_nPixelBytes)
        __builtin_trap();
      break;
    }
    case 2: {
      if (bytes < 3) break;
      const size_t infoBytes = std::min<size_t>(body[1] | body[2] << 8, bytes - 3);
      // the blocks are copied so that reading past either one is caught
      const std::vector<uint8_t> info(body + 3, body + 3 + infoBytes);
      const std::vector<uint8_t> rows(body + 3 + infoBytes, body + bytes);
      CSusie plugins;
      plugins.Convert(info.data(), info.size(), rows.data(), rows.size(), body[0] & 1);
      break;
    }
    default: {
      qev::RecordingDevice device;
      CDDTexPro90 texture;
      texture.m_pluginFolder = kNoPlugins;
      texture.LoadMemory(&device, body, int64_t(bytes));
      break;
    }
  }
  return 0;
}
