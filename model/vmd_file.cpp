#include "model/vmd_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "model/read_cursor.h"
#include "platform/codepage.h"
#include "support/buffer.h"
#include "support/debug.h"

namespace {

struct Texts {
  std::string model = qev::Sjis("モデル : %s\n");
  std::string boneKeys = qev::Sjis("ボーン数 : %d\n");
  std::string morphTracks = qev::Sjis("表情数 : %d\n");
  std::string before = qev::Sjis("QEVv?.??以前 OK\n");
  std::string cameraKeys = qev::Sjis("カメラキーフレーム数 : %d\n");
  std::string lightKeys = qev::Sjis("照明キーフレーム数 : %d\n");
  std::string before619 = qev::Sjis("QEVv6.19以前 OK\n");
  std::string shadowKeys = qev::Sjis("セルフ影キーフレーム数 : %d\n");
  std::string before739 = qev::Sjis("QEVv7.39.x64以前 OK\n");
  std::string showIkKeys = qev::Sjis("モデル表示・IKキーフレーム数 : %d\n");
  std::string showIkKey = qev::Sjis("  [%d] %dfrm (%d個)\n");
  std::string maxFrame = qev::Sjis("最大フレーム数 : %d\n");
};

const Texts& Text() {
  static const Texts texts;
  return texts;
}

constexpr size_t kBoneKeySize = 111, kMorphKeySize = 23, kCameraKeySize = 61, kLightKeySize = 28,
                 kShadowKeySize = 9, kShowIkHeadSize = 9;

int CutShort(const char* section, const CReadCursor& in) {
  DebugPrintf("VMD error : %s cut short at offset %zu\n", section, in.Offset());
  return 0;
}

// A name field: the bytes up to the first zero, at most the field's width.
std::string_view FieldName(const uint8_t* p, size_t width) {
  size_t n = 0;
  while (n < width && p[n]) ++n;
  return std::string_view(reinterpret_cast<const char*>(p), n);
}

template <class T>
T Field(const uint8_t* p) {
  T value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

// One light channel as a byte: the file value x 255 truncated toward zero.
// Values outside 0..1 (or not numbers) would not fit the byte; they saturate.
uint32_t ColourByte(float value) {
  const double scaled = double(value) * 255.0;
  if (!(scaled > 0.0)) return 0;
  if (scaled >= 255.0) return 255;
  return uint32_t(scaled);
}

// Tracks in order of first appearance of their names, with each key's track.
struct TrackIndex {
  std::vector<std::string_view> names;
  std::vector<uint32_t> keyTrack;
  std::vector<int32_t> keyCount;

  void Add(std::string_view name, std::unordered_map<std::string_view, uint32_t>& byName) {
    auto [it, added] = byName.try_emplace(name, uint32_t(names.size()));
    if (added) {
      names.push_back(name);
      keyCount.push_back(0);
    }
    keyTrack.push_back(it->second);
    ++keyCount[it->second];
  }
};

TrackIndex IndexTracks(const uint8_t* p, uint32_t count, size_t recordSize, size_t nameWidth) {
  TrackIndex index;
  std::unordered_map<std::string_view, uint32_t> byName;
  index.keyTrack.reserve(count);
  for (uint32_t i = 0; i < count; ++i) index.Add(FieldName(p + size_t(i) * recordSize, nameWidth), byName);
  return index;
}

}  // namespace

CVmdFile::~CVmdFile() { Clear(); }

void CVmdFile::Clear() {
  m_pBoneTrack.reset();
  m_pMorphTrack.reset();
  m_pCameraKey.reset();
  m_pLightKey.reset();
  m_pShadowKey.reset();
  m_pShowIkKey.reset();
  m_nBoneTrack = m_nMorphTrack = m_nCameraKey = m_nLightKey = m_nShadowKey = m_nShowIkKey = 0;
  m_nMaxFrame = 0;
  std::memset(m_szModel, 0, sizeof m_szModel);
}

const VmdBoneTrack* CVmdFile::FindBoneTrack(const char* name) const {
  if (!name) return nullptr;
  for (int32_t i = 0; i < m_nBoneTrack; ++i)
    if (!std::strcmp(m_pBoneTrack[i].name, name)) return &m_pBoneTrack[i];
  return nullptr;
}

void CVmdFile::RaiseMaxFrame(uint32_t frame) { m_nMaxFrame = std::max(m_nMaxFrame, int32_t(frame)); }

int CVmdFile::Load(const char* path) {
  Clear();
  CBuffer file;
  if (!file.LoadFile(path)) return 0;
  return LoadFromMemory(file.m_pData, file.m_nUsed);
}

int CVmdFile::LoadFromMemory(const void* data, size_t size) {
  Clear();
  const Texts& t = Text();
  CReadCursor in(data, size);
  char header[31] = {};
  if (!in.Read(header, 30) || !in.Read(m_szModel, 20)) {
    Clear();
    return CutShort("header", in);
  }
  DebugPrintf("HEADER : %s\n", header);
  DebugPrintf(t.model.c_str(), m_szModel);
  if (!ReadBoneKeys(in) || !ReadMorphKeys(in)) {
    Clear();
    return 0;
  }
  // each later section is there only if the file goes on and holds it whole
  const std::string* closing = &t.before;
  if (ReadCameraAndLight(in)) {
    closing = &t.before619;
    if (ReadShadow(in)) {
      closing = &t.before739;
      if (ReadShowIk(in)) closing = nullptr;
    }
  }
  if (closing) DebugPrintf("%s", closing->c_str());
  DebugPrintf(t.maxFrame.c_str(), m_nMaxFrame);
  return 1;
}

int CVmdFile::ReadBoneKeys(CReadCursor& in) {
  uint32_t count = 0;
  const uint8_t* p = nullptr;
  if (!in.Get(count) || !in.Take(count, kBoneKeySize, p)) return CutShort("bone keys", in);
  DebugPrintf(Text().boneKeys.c_str(), int(count));

  const TrackIndex index = IndexTracks(p, count, kBoneKeySize, 15);
  m_nBoneTrack = int32_t(index.names.size());
  m_pBoneTrack = NewArray<VmdBoneTrack>(index.names.size());
  for (int32_t i = 0; i < m_nBoneTrack; ++i) {
    VmdBoneTrack& track = m_pBoneTrack[i];
    std::memset(track.name, 0, sizeof track.name);
    std::memcpy(track.name, index.names[size_t(i)].data(), index.names[size_t(i)].size());
    track.nKey = index.keyCount[size_t(i)];
    track.pKey = NewArray<VmdBoneKey>(size_t(track.nKey));
  }
  // Keys are placed in reverse read order and then stably sorted by frame:
  // ascending frames, and among equal frames the key read last comes first,
  // the motion format's own convention, without a quadratic insertion. (The
  // keys are sorted whole: each track's keys lie together, which measured
  // faster than sorting compact keys and gathering from the file.)
  std::vector<int32_t> fill(index.keyCount.begin(), index.keyCount.end());
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* r = p + size_t(i) * kBoneKeySize;
    const uint32_t ti = index.keyTrack[i];
    VmdBoneKey& k = m_pBoneTrack[ti].pKey[--fill[ti]];
    k.frame = Field<uint32_t>(r + 15);
    k.pos = D3DXVECTOR3(Field<float>(r + 19), Field<float>(r + 23), -Field<float>(r + 27));
    k.rot = D3DXQUATERNION(-Field<float>(r + 31), -Field<float>(r + 35), Field<float>(r + 39), Field<float>(r + 43));
    // the file interleaves by value (x1 of X, Y, Z, R, then y1 ...); keys hold them by channel
    for (int c = 0; c < 4; ++c)
      for (int v = 0; v < 4; ++v) k.interp[c * 4 + v] = int8_t(r[47 + v * 4 + c]);
    RaiseMaxFrame(k.frame);
  }
  for (int32_t i = 0; i < m_nBoneTrack; ++i) {
    VmdBoneTrack& track = m_pBoneTrack[i];
    std::stable_sort(track.pKey.get(), track.pKey.get() + track.nKey,
                     [](const VmdBoneKey& a, const VmdBoneKey& b) { return a.frame < b.frame; });
  }
  return 1;
}

int CVmdFile::ReadMorphKeys(CReadCursor& in) {
  uint32_t count = 0;
  const uint8_t* p = nullptr;
  if (!in.Get(count) || !in.Take(count, kMorphKeySize, p)) return CutShort("morph keys", in);
  const TrackIndex index = IndexTracks(p, count, kMorphKeySize, 15);
  m_nMorphTrack = int32_t(index.names.size());
  m_pMorphTrack = NewArray<VmdMorphTrack>(index.names.size());
  for (int32_t i = 0; i < m_nMorphTrack; ++i) {
    VmdMorphTrack& track = m_pMorphTrack[i];
    std::memset(track.name, 0, sizeof track.name);
    std::memcpy(track.name, index.names[size_t(i)].data(), index.names[size_t(i)].size());
    track.pKey = NewArray<VmdMorphKey>(size_t(index.keyCount[size_t(i)]));
  }
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* r = p + size_t(i) * kMorphKeySize;
    VmdMorphTrack& track = m_pMorphTrack[index.keyTrack[i]];
    VmdMorphKey& k = track.pKey[track.nKey++];
    k.frame = Field<uint32_t>(r + 15);
    k.weight = Field<float>(r + 19);
    RaiseMaxFrame(k.frame);
  }
  DebugPrintf(Text().morphTracks.c_str(), m_nMorphTrack);
  return 1;
}

// The camera and light sections come as a pair: both wholly present, or the
// pair counts as absent.
int CVmdFile::ReadCameraAndLight(CReadCursor& in) {
  const Texts& t = Text();
  uint32_t cameras = 0, lights = 0;
  const uint8_t* pc = nullptr;
  const uint8_t* pl = nullptr;
  if (!in.Get(cameras) || !in.Take(cameras, kCameraKeySize, pc) || !in.Get(lights) ||
      !in.Take(lights, kLightKeySize, pl))
    return 0;

  DebugPrintf(t.cameraKeys.c_str(), int(cameras));
  m_nCameraKey = int32_t(cameras);
  m_pCameraKey = NewArray<VmdCameraKey>(cameras);
  for (uint32_t i = 0; i < cameras; ++i) {
    const uint8_t* r = pc + size_t(i) * kCameraKeySize;
    VmdCameraKey& k = m_pCameraKey[i];
    k.frame = Field<uint32_t>(r);
    k.distance = Field<float>(r + 4);
    for (int a = 0; a < 3; ++a) {
      k.pos[a] = Field<float>(r + 8 + a * 4);
      k.rot[a] = Field<float>(r + 20 + a * 4);
    }
    static constexpr int kOrder[4] = {0, 2, 1, 3};
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 4; ++b) k.interp[g * 4 + b] = int8_t(r[32 + g * 4 + kOrder[b]]);
    k.viewAngle = Field<uint32_t>(r + 56);
    k.perspective = r[60];
    RaiseMaxFrame(k.frame);
  }

  DebugPrintf(t.lightKeys.c_str(), int(lights));
  m_nLightKey = int32_t(lights);
  m_pLightKey = NewArray<VmdLightKey>(lights);
  for (uint32_t i = 0; i < lights; ++i) {
    const uint8_t* r = pl + size_t(i) * kLightKeySize;
    VmdLightKey& k = m_pLightKey[i];
    k.frame = Field<uint32_t>(r);
    k.colour = 0xFF000000u | ColourByte(Field<float>(r + 4)) << 16 | ColourByte(Field<float>(r + 8)) << 8 |
               ColourByte(Field<float>(r + 12));
    for (int a = 0; a < 3; ++a) k.dir[a] = Field<float>(r + 16 + a * 4);
    RaiseMaxFrame(k.frame);
    DebugPrintf("  [%d] %d (%08X)\n", int(i), int(k.frame), unsigned(k.colour));
  }
  return 1;
}

int CVmdFile::ReadShadow(CReadCursor& in) {
  uint32_t count = 0;
  const uint8_t* p = nullptr;
  if (!in.Get(count) || !in.Take(count, kShadowKeySize, p)) return 0;
  DebugPrintf(Text().shadowKeys.c_str(), int(count));
  m_nShadowKey = int32_t(count);
  m_pShadowKey = NewArray<VmdShadowKey>(count);
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* r = p + size_t(i) * kShadowKeySize;
    VmdShadowKey& k = m_pShadowKey[i];
    k.frame = Field<uint32_t>(r);
    k.mode = int8_t(r[4]);
    k.distance = Field<float>(r + 5);
    RaiseMaxFrame(k.frame);
    DebugPrintf("  [%d] %d %d(%f)\n", int(i), int(k.frame), int(k.mode), double(k.distance));
  }
  return 1;
}

int CVmdFile::ReadShowIk(CReadCursor& in) {
  const Texts& t = Text();
  uint32_t count = 0;
  if (!in.Get(count) || !in.Has(count, kShowIkHeadSize)) return 0;
  // walk the variable records once to know the section is whole before keeping any
  CReadCursor scan = in;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t entries = 0;
    if (!scan.Skip(5) || !scan.Get(entries) || !scan.Has(entries, sizeof(VmdIkEntry)) ||
        !scan.Skip(size_t(entries) * sizeof(VmdIkEntry)))
      return 0;
  }
  DebugPrintf(t.showIkKeys.c_str(), int(count));
  m_nShowIkKey = int32_t(count);
  m_pShowIkKey = NewArray<VmdShowIkKey>(count);
  for (uint32_t i = 0; i < count; ++i) {
    VmdShowIkKey& k = m_pShowIkKey[i];
    uint32_t entries = 0;
    const uint8_t* p = nullptr;
    in.Get(k.frame);
    in.Get(k.show);
    in.Get(entries);
    in.Take(entries, sizeof(VmdIkEntry), p);
    k.nIk = int32_t(entries);
    k.pIk = NewArray<VmdIkEntry>(entries);
    if (entries) std::memcpy(k.pIk.get(), p, size_t(entries) * sizeof(VmdIkEntry));
    RaiseMaxFrame(k.frame);
    DebugPrintf(t.showIkKey.c_str(), int(i), int(k.frame), k.nIk);
    for (int32_t e = 0; e < k.nIk; ++e) {
      const std::string_view name = FieldName(reinterpret_cast<const uint8_t*>(k.pIk[e].name), 20);
      DebugPrintf("    %d %.*s [%d]\n", int(e), int(name.size()), name.data(), int(k.pIk[e].enabled));
    }
  }
  return 1;
}

float Ease(int x1, int y1, int x2, int y2, float t) {
  const float ax = float(x1) / 127.0f, bx = float(x2) / 127.0f;
  const float ay = float(y1) / 127.0f, by = float(y2) / 127.0f;
  auto curve = [](float a, float b, float s) {
    const float r = 1.0f - s;
    return 3.0f * r * r * s * a + 3.0f * r * s * s * b + s * s * s;
  };
  float s = 0.5f;
  float step = 0.25f;
  for (int k = 0; k < 15; ++k, step *= 0.5f) {
    const float e = curve(ax, bx, s) - t;
    if (std::fabs(e) < 0.00001f) break;
    s = e > 0.0f ? s - step : s + step;
  }
  return curve(ay, by, s);
}

int SampleBoneKeys(const VmdBoneKey* keys, int n, float frame, D3DXVECTOR3* pos, D3DXQUATERNION* rot, int32_t* last) {
  if (!keys || n <= 0) return 0;
  // the first key past the frame; the interval starts one before it. While
  // a motion plays the frame stays in the last interval or moves to the next
  // one, so those two are tried before the search (each is the search's own
  // answer when the frame lies in it: equal frames never make an interval).
  auto inside = [&](int32_t i) {
    return i >= -1 && i < n && (i < 0 || float(keys[i].frame) <= frame) && (i + 1 >= n || frame < float(keys[i + 1].frame));
  };
  const VmdBoneKey* next;
  if (last && inside(*last)) {
    next = keys + *last + 1;
  } else if (last && inside(*last + 1)) {
    next = keys + *last + 2;
  } else {
    next = std::upper_bound(keys, keys + n, frame, [](float f, const VmdBoneKey& k) { return f < float(k.frame); });
  }
  if (last) *last = int32_t(next - keys) - 1;
  if (next == keys || next == keys + n) {
    // before the first key its pose holds; from the last key on, the last one's
    const VmdBoneKey& held = next == keys ? keys[0] : keys[n - 1];
    *pos = held.pos;
    *rot = held.rot;
    return 1;
  }
  const VmdBoneKey& a = next[-1];
  const VmdBoneKey& b = next[0];
  const float t = (frame - float(a.frame)) / float(b.frame - a.frame);
  // the curves stored on the key that ends the interval shape it; channels
  // sharing a curve (most keys give all four the same) share its value
  float w[4];
  for (int c = 0; c < 4; ++c) {
    const int32_t* v = &b.interp[c * 4];
    int same = 0;
    while (same < c && std::memcmp(&b.interp[same * 4], v, 4 * sizeof *v)) ++same;
    w[c] = same < c ? w[same] : Ease(v[0], v[1], v[2], v[3], t);
  }
  *pos = D3DXVECTOR3(a.pos.x + w[0] * (b.pos.x - a.pos.x), a.pos.y + w[1] * (b.pos.y - a.pos.y),
                     a.pos.z + w[2] * (b.pos.z - a.pos.z));
  D3DXQuaternionSlerp(rot, &a.rot, &b.rot, w[3]);
  return 1;
}
