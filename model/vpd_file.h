// CVpdFile: reads a VPD pose file (text: per bone a translation and a
// rotation) into a list of pose bones mirrored into the viewer's space, which
// the bone and IK goal trees look up by name.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/d3dx9_math.h"

struct VpdPoseBone {
  char name[256];      // code page 932, as written in the file, cut to 255 bytes
  D3DXVECTOR3 pos;     // z mirrored
  D3DXQUATERNION rot;  // x and y mirrored
};

class CVpdFile {
 public:
  CVpdFile() = default;
  CVpdFile(const CVpdFile&) = delete;
  CVpdFile& operator=(const CVpdFile&) = delete;
  virtual ~CVpdFile();

  // Reads the pose at a native path. 1 when read; 0 when the file cannot be
  // read, is larger than any pose file (kMaxFileSize) or its first line is
  // not the signature. The previous list is freed first in every case.
  int Load(const char* path);
  // The same over bytes in memory; name stands for the file in the log.
  int LoadFromMemory(const void* data, size_t size, const char* name);
  void Clear();
  // The first pose bone of that name (byte comparison), or null.
  const VpdPoseBone* FindPoseBone(const char* name) const;

  int32_t m_nPoseBone = 0;
  std::unique_ptr<VpdPoseBone[]> m_pPoseBone;  // in file order

  // Real pose files are a few kilobytes; the cap bounds what a hostile file
  // (one pose bone for every few bytes) can make the reader hold.
  static constexpr size_t kMaxFileSize = 16u << 20;
};
