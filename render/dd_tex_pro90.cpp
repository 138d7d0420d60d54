#include "render/dd_tex_pro90.h"

#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/picture_decoder.h"
#include "render/susie.h"
#include "support/buffer.h"
#include "support/debug.h"

namespace {

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The path as written when it exists; else each missing part replaced by the
// one entry of its folder that matches it ignoring case (the first in name
// order when several do). Unchanged when some part has no match.
std::string ResolveIgnoringCase(const std::string& path) {
  if (path.empty() || Exists(path)) return path;
  std::string resolved = path[0] == '/' ? "/" : "";
  size_t at = path[0] == '/' ? 1 : 0;
  while (at <= path.size()) {
    const size_t end = std::min(path.find('/', at), path.size());
    const std::string part = path.substr(at, end - at);
    at = end + 1;
    if (part.empty()) continue;
    std::string next = resolved + part;
    if (!Exists(next)) {
      std::vector<std::string> matches;
      std::error_code error;
      const std::string folder = resolved.empty() ? "." : resolved;
      for (std::filesystem::directory_iterator it(folder, error), last; !error && it != last; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (strcasecmp(name.c_str(), part.c_str()) == 0) matches.push_back(name);
      }
      if (matches.empty()) return path;
      next = resolved + *std::min_element(matches.begin(), matches.end());
    }
    resolved = next + (end < path.size() ? "/" : "");
  }
  return resolved;
}

// The six extensions the direct decoders take by name, ignoring case.
bool HasDirectExtension(const char* path) {
  const size_t n = std::strlen(path);
  if (n < 4) return false;
  for (const char* ext : {".BMP", ".TGA", ".DDS", ".DIB", ".JPG", ".PNG"})
    if (strcasecmp(path + n - 4, ext) == 0) return true;
  return false;
}

// The smallest power of two not below n (1 for n <= 1), at most 2^30.
unsigned PowerOfTwo(unsigned n) {
  unsigned p = 1;
  while (p < n && p < (1u << 30)) p <<= 1;
  return p;
}

void LogRefusal(const std::string& why) {
  if (!why.empty()) DebugPrintf("picture refused: %s\n", why.c_str());
}

}  // namespace

CDDTexPro90::~CDDTexPro90() { Release(); }

void CDDTexPro90::Release() {
  if (m_pTexture) {
    if (m_bLocked) m_pTexture->UnlockRect(0);
    m_pTexture->Release();
    m_pTexture = nullptr;
  }
  m_bLocked = 0;
  m_nImageWidth = m_nImageHeight = m_nTextureWidth = m_nTextureHeight = 0;
  m_route.clear();
  m_decoder.clear();
  m_nSourceBits = 0;
  m_info.clear();
}

int CDDTexPro90::CreateBlank(IDirect3DDevice9* device, int width, int height) {
  Release();
  m_nImageWidth = width;
  m_nImageHeight = height;
  m_nTextureWidth = int(PowerOfTwo(unsigned(width)));
  m_nTextureHeight = int(PowerOfTwo(unsigned(height)));
  if (!device) return 0;
  IDirect3DTexture9* texture = nullptr;
  if (FAILED(device->CreateTexture(unsigned(m_nTextureWidth), unsigned(m_nTextureHeight), 1, 0, D3DFMT_A8R8G8B8,
                                   D3DPOOL_MANAGED, &texture)) ||
      !texture)
    return 0;
  m_pTexture = texture;
  return 1;
}

int CDDTexPro90::Lock(int* pitch, void** bits) {
  if (m_bLocked || !m_pTexture) return 0;
  D3DLOCKED_RECT locked;
  if (FAILED(m_pTexture->LockRect(0, &locked, 0))) return 0;
  m_bLocked = 1;
  if (pitch) *pitch = locked.Pitch;
  if (bits) *bits = locked.pBits;
  return 1;
}

int CDDTexPro90::Unlock() {
  if (!m_bLocked) return 0;
  m_bLocked = 0;
  return m_pTexture && SUCCEEDED(m_pTexture->UnlockRect(0)) ? 1 : 0;
}

int CDDTexPro90::TakeDecoded(IDirect3DDevice9* device, int width, int height, const uint8_t* pixels) {
  // Beyond the device's largest side the picture is scaled down to it.
  const unsigned textureWidth = std::min(PowerOfTwo(unsigned(width)), qev::kMaxTextureSide);
  const unsigned textureHeight = std::min(PowerOfTwo(unsigned(height)), qev::kMaxTextureSide);
  if (!CreateBlank(device, int(textureWidth), int(textureHeight))) {
    Release();
    return 0;
  }
  int pitch = 0;
  void* bits = nullptr;
  if (!Lock(&pitch, &bits)) {
    Release();
    return 0;
  }
  // Nearest pixel by centres: texture pixel x shows picture pixel
  // floor((x + 1/2) * width / textureWidth).
  std::vector<uint32_t> columns(textureWidth);
  for (unsigned x = 0; x < textureWidth; ++x) columns[x] = uint32_t((uint64_t(2 * x + 1) * unsigned(width)) / (2 * textureWidth));
  for (unsigned y = 0; y < textureHeight; ++y) {
    const uint64_t sy = (uint64_t(2 * y + 1) * unsigned(height)) / (2 * textureHeight);
    const uint8_t* src = pixels + sy * unsigned(width) * 4;
    uint8_t* dst = static_cast<uint8_t*>(bits) + size_t(y) * pitch;
    if (textureWidth == unsigned(width)) {
      std::memcpy(dst, src, size_t(width) * 4);
      continue;
    }
    for (unsigned x = 0; x < textureWidth; ++x) std::memcpy(dst + x * 4, src + columns[x] * 4, 4);
  }
  Unlock();
  // The direct loaders report the picture's own size for both.
  m_nImageWidth = m_nTextureWidth = width;
  m_nImageHeight = m_nTextureHeight = height;
  return 1;
}

int CDDTexPro90::TakePlugin(IDirect3DDevice9* device, const CSusie& picture) {
  if (!CreateBlank(device, picture.m_nWidth, picture.m_nHeight)) {
    Release();
    return 0;
  }
  int pitch = 0;
  void* bits = nullptr;
  if (!Lock(&pitch, &bits)) {
    Release();
    return 0;
  }
  auto* rows = static_cast<uint8_t*>(bits);
  for (int y = 0; y < m_nTextureHeight; ++y) std::memset(rows + size_t(y) * pitch, 0, size_t(m_nTextureWidth) * 4);
  // The picture is held bottom row first: row i lands on texture row height - 1 - i.
  const size_t rowBytes = std::min<size_t>(size_t(picture.m_nRowBytes), size_t(m_nTextureWidth) * 4);
  for (int i = 0; i < picture.m_nHeight; ++i)
    std::memcpy(rows + size_t(picture.m_nHeight - 1 - i) * pitch, picture.m_pPixels + size_t(i) * picture.m_nRowBytes,
                rowBytes);
  Unlock();
  m_route = "plug-in";
  m_decoder = picture.m_decoder;
  m_nSourceBits = picture.m_nSourceBits;
  m_info = picture.m_szInfo;
  return 1;
}

int CDDTexPro90::LoadMemory(IDirect3DDevice9* device, const void* data, int64_t count) {
  Release();
  if (!data || count <= 0) return 0;
  qev::DecodedPicture decoded;
  std::string why;
  if (qev::DecodePicture(static_cast<const uint8_t*>(data), size_t(count), qev::PictureFormats::kAll, decoded, &why)) {
    if (!TakeDecoded(device, decoded.width, decoded.height, decoded.pixels.data())) return 0;
    m_route = "decoder";
    m_decoder = decoded.format;
    m_nSourceBits = decoded.bits;
    return 1;
  }
  LogRefusal(why);
  CSusie plugins;
  plugins.SetFolder(m_pluginFolder.c_str());
  plugins.SetExtension(m_pluginExtension.c_str());
  if (!plugins.LoadMemory(data, count)) return 0;
  return TakePlugin(device, plugins);
}

int CDDTexPro90::ReadPicture(const char* path, qev::DecodedPicture* out) const {
  *out = {};
  if (!path) return 0;
  const std::string file = ResolveIgnoringCase(path);
  CBuffer bytes;
  const bool read = IsRegularFile(file) && bytes.LoadFile(file.c_str()) == 1;
  std::string why;
  const bool direct = HasDirectExtension(path);
  if (read && bytes.m_nUsed > 0 && qev::DecodePicture(bytes.m_pData, bytes.m_nUsed,
                                 direct ? qev::PictureFormats::kTextureFiles : qev::PictureFormats::kAll, *out, &why))
    return 1;
  LogRefusal(why);
  if (direct) return 0;
  CSusie plugins;
  plugins.SetFolder(m_pluginFolder.c_str());
  plugins.SetExtension(m_pluginExtension.c_str());
  if (!(read && bytes.m_nUsed > 0 && plugins.LoadMemory(bytes.m_pData, int64_t(bytes.m_nUsed))) &&
      !plugins.LoadFile(file.c_str()))
    return 0;
  // The plug-ins' rows come bottom row first.
  out->width = plugins.m_nWidth;
  out->height = plugins.m_nHeight;
  out->pixels.resize(size_t(plugins.m_nWidth) * size_t(plugins.m_nHeight) * 4);
  const size_t row = size_t(plugins.m_nWidth) * 4;
  for (int i = 0; i < plugins.m_nHeight; ++i)
    std::memcpy(out->pixels.data() + size_t(plugins.m_nHeight - 1 - i) * row,
                plugins.m_pPixels + size_t(i) * size_t(plugins.m_nRowBytes), std::min(row, size_t(plugins.m_nRowBytes)));
  out->format = plugins.m_decoder;
  out->bits = plugins.m_nSourceBits;
  return 1;
}

int CDDTexPro90::LoadFile(const char* path, IDirect3DDevice9* device) {
  Release();
  if (!path) return 0;
  const std::string file = ResolveIgnoringCase(path);
  // Only regular files are opened: a named pipe would stall the load.
  CBuffer bytes;
  const bool read = IsRegularFile(file) && bytes.LoadFile(file.c_str()) == 1;
  if (HasDirectExtension(path)) {
    // A file under one of these names is the decoders' alone.
    qev::DecodedPicture decoded;
    std::string why;
    if (!read || !qev::DecodePicture(bytes.m_pData, bytes.m_nUsed, qev::PictureFormats::kTextureFiles, decoded, &why)) {
      LogRefusal(why);
      return 0;
    }
    if (!TakeDecoded(device, decoded.width, decoded.height, decoded.pixels.data())) return 0;
    m_route = "decoder";
    m_decoder = decoded.format;
    m_nSourceBits = decoded.bits;
    return 1;
  }
  if (read && LoadMemory(device, bytes.m_pData, bytes.m_nUsed)) return 1;
  bytes.Free();
  CSusie plugins;
  plugins.SetFolder(m_pluginFolder.c_str());
  plugins.SetExtension(m_pluginExtension.c_str());
  if (!plugins.LoadFile(file.c_str())) return 0;
  return TakePlugin(device, plugins);
}
