// CVmdFile: reads a VMD motion file into bone and morph tracks and the camera,
// light, self-shadow and visibility / IK keys, mirrored into the viewer's
// space, and samples a bone track at a frame with the format's Bezier easing.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/d3dx9_math.h"

class CReadCursor;

struct VmdBoneKey {
  uint32_t frame;
  D3DXVECTOR3 pos;     // offset from the bind pose, z mirrored
  D3DXQUATERNION rot;  // x and y mirrored
  // Bezier control values (0..127 in real files) per channel X, Y, Z, R, each
  // as x1, y1, x2, y2; they shape the interval that ends at this key, the
  // way motion files are authored.
  int32_t interp[16];
};

struct VmdBoneTrack {
  char name[256];  // at most 15 bytes from the file, zero-filled
  int32_t nKey = 0;
  std::unique_ptr<VmdBoneKey[]> pKey;  // ascending frames; among equal frames the key read last comes first
};

struct VmdMorphKey {
  uint32_t frame;
  float weight;
};

struct VmdMorphTrack {
  char name[256];
  int32_t nKey = 0;
  std::unique_ptr<VmdMorphKey[]> pKey;  // in file order
};

struct VmdCameraKey {
  uint32_t frame;
  float distance;
  float pos[3];
  float rot[3];       // as read
  int32_t interp[24];  // each file group b0 b1 b2 b3 stored as b0 b2 b1 b3
  uint32_t viewAngle;
  uint8_t perspective;
};

struct VmdLightKey {
  uint32_t frame;
  uint32_t colour;  // 0xAARRGGBB, alpha 0xFF
  float dir[3];     // as read
};

struct VmdShadowKey {
  uint32_t frame;
  int32_t mode;
  float distance;
};

#pragma pack(push, 1)
struct VmdIkEntry {
  char name[20];
  uint8_t enabled;
};
static_assert(sizeof(VmdIkEntry) == 21);
#pragma pack(pop)

struct VmdShowIkKey {
  uint32_t frame;
  uint8_t show;
  int32_t nIk = 0;
  std::unique_ptr<VmdIkEntry[]> pIk;
};

class CVmdFile {
 public:
  CVmdFile() = default;
  CVmdFile(const CVmdFile&) = delete;
  CVmdFile& operator=(const CVmdFile&) = delete;
  virtual ~CVmdFile();

  // Reads the motion at a native path. 1 when read (also when the later
  // sections are missing); 0 when the file cannot be read or its bone or
  // morph keys are cut short. The object is empty after a failure.
  int Load(const char* path);
  int LoadFromMemory(const void* data, size_t size);
  void Clear();
  // The first bone track of that name (bytes up to the terminator), or null.
  const VmdBoneTrack* FindBoneTrack(const char* name) const;

  char m_szModel[256] = {};
  int32_t m_nBoneTrack = 0;
  std::unique_ptr<VmdBoneTrack[]> m_pBoneTrack;
  int32_t m_nMorphTrack = 0;
  std::unique_ptr<VmdMorphTrack[]> m_pMorphTrack;
  int32_t m_nCameraKey = 0;
  std::unique_ptr<VmdCameraKey[]> m_pCameraKey;
  int32_t m_nLightKey = 0;
  std::unique_ptr<VmdLightKey[]> m_pLightKey;
  int32_t m_nShadowKey = 0;
  std::unique_ptr<VmdShadowKey[]> m_pShadowKey;
  int32_t m_nShowIkKey = 0;
  std::unique_ptr<VmdShowIkKey[]> m_pShowIkKey;
  int32_t m_nMaxFrame = 0;  // largest frame of any key (signed), 0 for an empty motion

 private:
  int ReadBoneKeys(CReadCursor& in);
  int ReadMorphKeys(CReadCursor& in);
  int ReadCameraAndLight(CReadCursor& in);
  int ReadShadow(CReadCursor& in);
  int ReadShowIk(CReadCursor& in);
  void RaiseMaxFrame(uint32_t frame);
};

// The y of the cubic Bezier from (0, 0) to (1, 1) with control points
// (x1/127, y1/127) and (x2/127, y2/127) where its x is t, found by fifteen
// bisection steps in single precision.
float Ease(int x1, int y1, int x2, int y2, float t);

// The pose of n keys (ascending frames) at a frame. 0 when there are no keys
// (the caller keeps the identity). Between two keys the later key's curves
// ease the way; before the first key the first key's pose holds, from the
// last key on the last key's. `last`, when given, remembers the interval
// between calls (-1 before the first key, n-1 from the last one on; any
// value is safe) and makes the frames of playback, one after another, cheap.
int SampleBoneKeys(const VmdBoneKey* keys, int n, float frame, D3DXVECTOR3* pos, D3DXQUATERNION* rot,
                   int32_t* last = nullptr);
