#include "render/susie.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/picture_decoder.h"
#include "platform/shared_library.h"
#include "support/debug.h"

namespace {

// Plug-ins may look at this much of the file's beginning in memory.
constexpr size_t kProbeBytes = 2048;

uint32_t Read32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint16_t Read16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

bool EndsWithNoCase(const char* text, const char* tail) {
  const size_t n = std::strlen(text), m = std::strlen(tail);
  return n >= m && strcasecmp(text + n - m, tail) == 0;
}

// The whole file, zero padded to at least kProbeBytes; `length` gets the
// file's own length. Files whose length a plug-in call cannot carry are refused.
bool ReadWhole(const char* name, std::vector<uint8_t>& buffer, size_t& length) {
  // non-blocking: a named pipe under a picture's name must not stall the load
  const int fd = ::open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > INT32_MAX - int64_t(kProbeBytes)) {
    ::close(fd);
    return false;
  }
  length = size_t(st.st_size);
  buffer.assign(std::max(length, kProbeBytes), 0);
  size_t done = 0;
  while (done < length) {
    const ssize_t got = ::read(fd, buffer.data() + done, length - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // the file shrank under us: the rest stays zero
    done += size_t(got);
  }
  ::close(fd);
  return true;
}

std::vector<std::string> PluginLibraries(const std::string& folder, const std::string& extension) {
  std::vector<std::string> names;
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (it->is_directory(error)) continue;
    const std::string name = it->path().filename().string();
    const size_t dot = name.rfind('.');
    // the pattern "*.ext" of a case-insensitive file system
    if (dot != std::string::npos && strcasecmp(name.c_str() + dot + 1, extension.c_str()) == 0) names.push_back(name);
  }
  // a fixed order, so the same folder always gives the same plug-in the first try
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

CSusie::~CSusie() { Clear(); }

void CSusie::SetFolder(const char* folder) {
  m_folder = folder ? folder : "";
  if (!m_folder.empty() && (m_folder.back() == '/' || m_folder.back() == '\\')) m_folder.pop_back();
}

void CSusie::SetExtension(const char* extension) {
  m_extension = extension ? std::string(extension).substr(0, 31) : "spi";
}

void CSusie::Clear() {
  std::free(m_pPixels);
  m_pPixels = nullptr;
  m_nWidth = m_nHeight = m_nBitsPerPixel = m_nRowBytes = m_nPixelBytes = 0;
  m_nSourceBits = 0;
  m_szInfo[0] = '\0';
  m_decoder.clear();
}

int CSusie::Allocate(int width, int height) {
  if (width <= 0 || height <= 0 || width > qev::kMaxPictureSide || height > qev::kMaxPictureSide ||
      int64_t(width) * height > qev::kMaxPicturePixels)
    return 0;
  m_nRowBytes = width * 4;
  m_pPixels = static_cast<uint8_t*>(std::calloc(size_t(m_nRowBytes) * height, 1));
  if (!m_pPixels) return 0;
  m_nWidth = width;
  m_nHeight = height;
  m_nBitsPerPixel = 32;
  m_nPixelBytes = m_nRowBytes * height;
  return 1;
}

int CSusie::TakeBitmap(const uint8_t* data, size_t bytes) {
  if (bytes < 54) return 0;
  const int bits = Read16(data + 28);
  if (bits != 24 && bits != 32) return 0;
  const uint32_t offset = Read32(data + 10), headerSize = Read32(data + 14), compression = Read32(data + 30);
  const int32_t width = int32_t(Read32(data + 18)), height = int32_t(Read32(data + 22));
  // Rows stored as they are only; the pixel offset is the file's own, which is
  // 54 for the plain 40-byte header and further on for the longer headers.
  if (headerSize < 40 || (compression != 0 && compression != 3) || offset < uint64_t(14) + headerSize || offset > bytes ||
      width <= 0 || height == 0 || height == INT32_MIN) {
    DebugPrintf("bitmap refused: header not read\n");
    return 0;
  }
  const int rows = height < 0 ? -height : height;
  const uint64_t stride = ((uint64_t(bits) * uint32_t(width) + 31) / 32) * 4;
  if (stride * uint64_t(rows) > bytes - offset) {
    DebugPrintf("bitmap refused: pixel data shorter than its header implies\n");
    return 0;
  }
  if (!Allocate(width, rows)) {
    DebugPrintf("bitmap refused: %d x %d out of range\n", width, rows);
    return 0;
  }
  for (int y = 0; y < rows; ++y) {
    // held bottom row first; a negative height means the file's rows run top down
    const uint8_t* s = data + offset + stride * uint64_t(height < 0 ? rows - 1 - y : y);
    uint8_t* d = m_pPixels + size_t(y) * m_nRowBytes;
    if (bits == 32) {
      std::memcpy(d, s, size_t(m_nRowBytes));
    } else {
      for (int x = 0; x < width; ++x, s += 3, d += 4) {
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
        d[3] = 255;
      }
    }
  }
  BITMAPINFOHEADER header{};
  header.biSize = 40;
  header.biWidth = width;
  header.biHeight = rows;
  header.biPlanes = 1;
  header.biBitCount = 32;
  std::memset(m_header, 0, sizeof m_header);
  std::memcpy(m_header, &header, sizeof header);
  m_nSourceBits = bits;
  m_decoder = "bitmap";
  return 1;
}

int CSusie::Convert(const uint8_t* info, size_t infoBytes, const uint8_t* bits, size_t bitsBytes, bool gifFile) {
  std::free(m_pPixels);
  m_pPixels = nullptr;
  m_nWidth = m_nHeight = m_nBitsPerPixel = m_nRowBytes = m_nPixelBytes = 0;
  if (!info || !bits || infoBytes < sizeof(BITMAPINFOHEADER)) {
    DebugPrintf("plug-in picture refused: no bitmap header\n");
    return 0;
  }
  BITMAPINFOHEADER header;
  std::memcpy(&header, info, sizeof header);
  const int b = header.biBitCount;
  if (b != 4 && b != 8 && b != 24 && b != 32) return 0;  // not read: the next plug-in may do better
  const int32_t width = header.biWidth, height = header.biHeight;
  if (width <= 0 || height == 0 || height == INT32_MIN || (header.biCompression != 0 && header.biCompression != 3)) {
    DebugPrintf("plug-in picture refused: header not read\n");
    return 0;
  }
  const int rows = height < 0 ? -height : height;
  const uint64_t stride = ((uint64_t(uint32_t(width)) * b + 31) / 32) * 4;
  if (stride * uint64_t(rows) > bitsBytes) {
    DebugPrintf("plug-in picture refused: %d x %d at %d bits is larger than its pixel block\n", width, rows, b);
    return 0;
  }
  // The palette follows the header; entries the info block does not hold
  // give black.
  const uint8_t* palette = nullptr;
  size_t entries = 0;
  if (b <= 8) {
    const size_t at = std::max<size_t>(header.biSize, sizeof header);
    if (at < infoBytes) {
      palette = info + at;
      entries = std::min<size_t>((infoBytes - at) / 4, header.biClrUsed ? header.biClrUsed : size_t(1) << b);
    }
  }
  if (!Allocate(width, rows)) {
    DebugPrintf("plug-in picture refused: %d x %d out of range\n", width, rows);
    return 0;
  }
  auto source = [&](int y) { return bits + stride * uint64_t(height < 0 ? rows - 1 - y : y); };
  auto index = [&](const uint8_t* row, int x) { return b == 8 ? row[x] : (row[x / 2] >> ((x & 1) ? 0 : 4)) & 0xF; };
  if (b <= 8) {
    // The highest index in the picture is its transparent colour.
    int highest = 0;
    for (int y = 0; y < rows; ++y)
      for (int x = 0; x < width; ++x) highest = std::max(highest, index(source(y), x));
    int transparent = highest;
    // Pictures of the ".gif" form keep their background as index 0 unless the
    // first pixel already carries the highest index.
    const int first = b == 8 ? bits[0] : bits[0] >> 4;
    if (gifFile && first != highest) transparent = 0;
    for (int y = 0; y < rows; ++y) {
      const uint8_t* s = source(y);
      uint8_t* d = m_pPixels + size_t(y) * m_nRowBytes;
      for (int x = 0; x < width; ++x, d += 4) {
        const int i = index(s, x);
        if (size_t(i) < entries) std::memcpy(d, palette + size_t(i) * 4, 3);
        d[3] = i == transparent ? 0 : 255;
      }
    }
  } else {
    for (int y = 0; y < rows; ++y) {
      const uint8_t* s = source(y);
      uint8_t* d = m_pPixels + size_t(y) * m_nRowBytes;
      if (b == 32) {
        std::memcpy(d, s, size_t(m_nRowBytes));
        continue;
      }
      for (int x = 0; x < width; ++x, s += 3, d += 4) {
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
        d[3] = 255;
      }
    }
  }
  std::memset(m_header, 0, sizeof m_header);
  std::memcpy(m_header, info, std::min(infoBytes, sizeof m_header));
  BITMAPINFOHEADER held = header;
  held.biHeight = rows;
  held.biBitCount = 32;
  std::memcpy(m_header, &held, sizeof held);
  m_nSourceBits = b;
  return 1;
}

void CSusie::ReleasePicture(HLOCAL info, HLOCAL bits) {
  if (m_pFreePicture) {
    m_pFreePicture(info, bits);
    return;
  }
  LocalFree(info);
  LocalFree(bits);
}

int CSusie::TryPlugin(const std::string& library, const char* name, int fd, const uint8_t* data, size_t dataBytes) {
  const std::string path = m_folder + "/" + library;
  HMODULE module = LoadLibraryA(path.c_str());
  if (!module) return 0;
  m_pGetPluginInfo = reinterpret_cast<GetPluginInfoProc>(GetProcAddress(module, "GetPluginInfo"));
  m_pIsSupported = reinterpret_cast<IsSupportedProc>(GetProcAddress(module, "IsSupported"));
  m_pGetPictureInfo = reinterpret_cast<GetPictureInfoProc>(GetProcAddress(module, "GetPictureInfo"));
  m_pGetPicture = reinterpret_cast<GetPictureProc>(GetProcAddress(module, "GetPicture"));
  m_pFreePicture = reinterpret_cast<FreePictureProc>(GetProcAddress(module, "FreePicture"));
  auto done = [&](int result) {
    FreeLibrary(module);
    m_pGetPluginInfo = nullptr;
    m_pIsSupported = nullptr;
    m_pGetPictureInfo = nullptr;
    m_pGetPicture = nullptr;
    m_pFreePicture = nullptr;
    return result;
  };
  if (!m_pGetPluginInfo || !m_pIsSupported || !m_pGetPictureInfo || !m_pGetPicture) return done(0);

  // Only import filters ("..IN") are offered pictures.
  char version[8] = {};
  if (m_pGetPluginInfo(0, version, sizeof version) < 4 || version[2] != 'I' || version[3] != 'N') return done(0);

  const char* buffer = reinterpret_cast<const char*>(data);
  const int32_t length = int32_t(dataBytes);
  if (name) {
    ::lseek(fd, 0, SEEK_SET);
    if (!m_pIsSupported(name, reinterpret_cast<void*>(intptr_t(fd))) &&
        !m_pIsSupported(name, const_cast<uint8_t*>(data)))
      return done(0);
  } else if (!m_pIsSupported("", const_cast<uint8_t*>(data))) {
    return done(0);
  }

  PictureInfo record{};
  if ((!name || m_pGetPictureInfo(name, 0, 0, &record) != 0) && m_pGetPictureInfo(buffer, length, 1, &record) != 0)
    return done(0);
  if (record.hInfo) {
    const size_t n = std::min<size_t>(LocalSize(record.hInfo), sizeof m_szInfo - 1);
    if (n > 0) {
      const char* text = static_cast<const char*>(LocalLock(record.hInfo));
      std::memcpy(m_szInfo, text, n);
      m_szInfo[n] = '\0';
      LocalUnlock(record.hInfo);
    }
    LocalFree(record.hInfo);
  }

  HLOCAL info = nullptr, bits = nullptr;
  int got = name ? m_pGetPicture(name, 0, 0, &info, &bits, nullptr, 0) : -1;
  if (got != 0) {
    if (info || bits) ReleasePicture(info, bits);
    info = bits = nullptr;
    got = m_pGetPicture(buffer, length, 1, &info, &bits, nullptr, 0);
  }
  if (got != 0) {
    if (info || bits) ReleasePicture(info, bits);
    return done(0);
  }
  // Both blocks are read no further than the sizes their handles carry.
  const auto* infoBytes = static_cast<const uint8_t*>(LocalLock(info));
  const auto* bitsBytes = static_cast<const uint8_t*>(LocalLock(bits));
  const int converted = Convert(infoBytes, LocalSize(info), bitsBytes, LocalSize(bits),
                                name && EndsWithNoCase(name, ".gif"));
  if (infoBytes) LocalUnlock(info);
  if (bitsBytes) LocalUnlock(bits);
  ReleasePicture(info, bits);
  if (!converted) return done(0);
  char description[256] = {};
  m_decoder = library;
  if (m_pGetPluginInfo(1, description, sizeof description - 1) > 0) m_decoder += std::string(" (") + description + ")";
  return done(1);
}

int CSusie::TryPlugins(const char* name, int fd, const uint8_t* data, size_t dataBytes) {
  for (const std::string& library : PluginLibraries(m_folder, m_extension))
    if (TryPlugin(library, name, fd, data, dataBytes)) return 1;
  return 0;
}

int CSusie::LoadFile(const char* name) {
  Clear();
  if (!name) return 0;
  std::vector<uint8_t> buffer;
  size_t length = 0;
  if (!ReadWhole(name, buffer, length)) return 0;
  if (length >= 2 && buffer[0] == 'B' && buffer[1] == 'M') return TakeBitmap(buffer.data(), length);
  // the file-handle form of the plug-ins' support test
  const int fd = ::open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return 0;
  const int result = TryPlugins(name, fd, buffer.data(), buffer.size());
  ::close(fd);
  return result;
}

int CSusie::LoadMemory(const void* data, int64_t count) {
  Clear();
  if (!data || count <= 0 || count > INT32_MAX) return 0;
  const auto* bytes = static_cast<const uint8_t*>(data);
  if (count >= 2 && bytes[0] == 'B' && bytes[1] == 'M') return TakeBitmap(bytes, size_t(count));
  // Plug-ins may read the probe's length from the block: a shorter one is
  // offered through a zero-padded copy.
  std::vector<uint8_t> padded;
  if (size_t(count) < kProbeBytes) {
    padded.assign(kProbeBytes, 0);
    std::memcpy(padded.data(), bytes, size_t(count));
    bytes = padded.data();
  }
  return TryPlugins(nullptr, -1, bytes, size_t(count));
}
