#include "model/pmx_file.h"

#include <cinttypes>
#include <cstring>
#include <string_view>

#include "model/read_cursor.h"
#include "platform/codepage.h"
#include "support/buffer.h"
#include "support/debug.h"

namespace {

// The summary's texts in the system's code page, converted once; the labels
// the PMD summary also has are the same bytes, so the two line up in the log.
struct Texts {
  std::string version = qev::Sjis("バージョン           : %f\n");
  std::string name = qev::Sjis("モデル名             : %s\n");
  std::string comment = qev::Sjis("コメント             : %s\n");
  std::string vertices = qev::Sjis("頂点数                 : %d\n");
  std::string faces = qev::Sjis("フェース数             : %d(面数=%d)\n");
  std::string textures = qev::Sjis("テクスチャ数           : %d\n");
  std::string materials = qev::Sjis("マテリアル数           : %d\n");
  std::string totalFaces = qev::Sjis("  トータルフェース数   : %d\n");
  std::string bones = qev::Sjis("ボーン数               : %d\n");
  std::string ikLists = qev::Sjis("IKリスト数             : %d\n");
  std::string morphs = qev::Sjis("表情データ数           : %d\n");
  std::string frames = qev::Sjis("表示枠数               : %d\n");
  std::string rigidBodies = qev::Sjis("剛体数                 : %d\n");
  std::string joints = qev::Sjis("ジョイント数 : %d\n");
};

const Texts& Text() {
  static const Texts texts;
  return texts;
}

const char* IndexName(int which) {
  static const char* const names[] = {"vertex", "texture", "material", "bone", "morph", "rigid body"};
  return names[which];
}

bool IsAscii(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i] >= 0x80) return false;
  return true;
}

// Reads the blocks in file order. Every failure logs exactly one line: a
// refusal of its own where one was found, else "cut short" with the section,
// the record and the offset.
class Reader {
 public:
  Reader(CReadCursor& in, CPmxFile& m) : m_in(in), m_m(m), m_h(m.m_Header) {}

  int Read();

 private:
  int Header();
  int Info();
  int Vertices();
  int Faces();
  int Textures();
  int Materials();
  int Bones();
  int Morphs();
  int Frames();
  int RigidBodies();
  int Joints();
  int SoftBodies();

  void Section(const char* name) {
    m_section = name;
    m_record = -1;
  }
  // A failure: the refusal when one was logged, else where the bytes ran out.
  int Fail() {
    if (m_logged) return 0;
    if (m_record >= 0)
      DebugPrintf("PMX error : %s [%" PRId64 "] cut short at offset %zu\n", m_section, m_record, m_in.Offset());
    else
      DebugPrintf("PMX error : %s cut short at offset %zu\n", m_section, m_in.Offset());
    m_logged = true;
    return 0;
  }
  template <class... A>
  int Refuse(const char* format, A... args) {
    DebugPrintf(format, args...);
    m_logged = true;
    return 0;
  }

  template <class T>
  bool Get(T& v) {
    return m_in.Get(v);
  }
  bool Floats(float* dst, int n) { return m_in.Read(dst, size_t(n) * 4); }
  // A signed index of the given width (-1 for none).
  bool Index(uint8_t width, int32_t& out) {
    if (width == 1) {
      int8_t v;
      if (!Get(v)) return false;
      out = v;
    } else if (width == 2) {
      int16_t v;
      if (!Get(v)) return false;
      out = v;
    } else {
      return Get(out);
    }
    return true;
  }
  // A vertex index: 1 and 2 bytes unsigned, 4 bytes signed.
  bool VertexIndex(int32_t& out) {
    if (m_h.vertexIndex == 1) {
      uint8_t v;
      if (!Get(v)) return false;
      out = v;
    } else if (m_h.vertexIndex == 2) {
      uint16_t v;
      if (!Get(v)) return false;
      out = v;
    } else {
      return Get(out);
    }
    return true;
  }
  // A block's record count: negative counts are refused, and the records
  // must fit in the bytes left at their smallest size before anything is kept.
  // Counts inside a record name their field.
  bool Count(int32_t& n, size_t minSize, const char* field = nullptr) {
    if (!Get(n)) return false;
    if (n < 0) {
      if (field)
        Refuse("PMX error : %s [%" PRId64 "] %s count %d at offset %zu is negative\n", m_section, m_record, field,
               int(n), m_in.Offset() - 4);
      else
        Refuse("PMX error : %s count %d at offset %zu is negative\n", m_section, int(n), m_in.Offset() - 4);
      return false;
    }
    return m_in.Has(uint64_t(n), minSize);
  }
  bool TextField(std::string& out);
  // How many offsets of the array a morph of this kind adds to are already read.
  size_t OffsetsOfKind(uint8_t kind) const {
    switch (kind) {
      case kPmxMorphGroup:
      case kPmxMorphFlip: return m_m.m_GroupOffsets.size();
      case kPmxMorphVertex: return m_m.m_VertexOffsets.size();
      case kPmxMorphBone: return m_m.m_BoneOffsets.size();
      case kPmxMorphMaterial: return m_m.m_MaterialOffsets.size();
      case kPmxMorphImpulse: return m_m.m_ImpulseOffsets.size();
      default: return m_m.m_UvOffsets.size();
    }
  }

  CReadCursor& m_in;
  CPmxFile& m_m;
  PmxHeader& m_h;
  const char* m_section = "header";
  int64_t m_record = -1;
  bool m_logged = false;
};

// A text: a byte length, then UTF-16LE or UTF-8 bytes; kept as UTF-8 with
// invalid units or bytes as U+FFFD (a UTF-16 text of odd length loses its
// last byte).
bool Reader::TextField(std::string& out) {
  int32_t len = 0;
  if (!Get(len)) return false;
  if (len < 0) {
    if (m_record >= 0)
      Refuse("PMX error : %s [%" PRId64 "] text length %d at offset %zu is negative\n", m_section, m_record,
             int(len), m_in.Offset() - 4);
    else
      Refuse("PMX error : %s text length %d at offset %zu is negative\n", m_section, int(len), m_in.Offset() - 4);
    return false;
  }
  const uint8_t* p = nullptr;
  if (!m_in.Take(uint64_t(len), 1, p)) return false;
  if (m_h.encoding == 1) {
    if (IsAscii(p, size_t(len))) out.assign(reinterpret_cast<const char*>(p), size_t(len));
    else out = qev::Utf16ToUtf8(qev::Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(p), size_t(len))));
    return true;
  }
  std::u16string wide(size_t(len) / 2, u'\0');
  if (!wide.empty()) std::memcpy(wide.data(), p, wide.size() * 2);
  bool ascii = true;
  for (char16_t c : wide) ascii = ascii && c < 0x80;
  if (ascii) out.assign(wide.begin(), wide.end());
  else out = qev::Utf16ToUtf8(wide);
  return true;
}

int Reader::Read() {
  if (!Header() || !Info() || !Vertices() || !Faces() || !Textures() || !Materials() || !Bones() || !Morphs() ||
      !Frames() || !RigidBodies() || !Joints() || !SoftBodies())
    return 0;
  return 1;
}

int Reader::Header() {
  Section("header");
  uint8_t globals = 0;
  if (!Get(m_h.version) || !Get(globals)) return Fail();
  if (m_h.version != 2.0f && m_h.version != 2.1f)
    return Refuse("PMX error : header version %f is not 2.0 or 2.1\n", double(m_h.version));
  if (globals < 8) return Refuse("PMX error : header holds %u settings, fewer than 8\n", unsigned(globals));
  uint8_t g[8];
  // settings past the eighth belong to later versions: skipped
  if (!m_in.Read(g, 8) || !m_in.Skip(globals - 8u)) return Fail();
  if (g[0] > 1) return Refuse("PMX error : header text encoding %u is neither 0 (UTF-16) nor 1 (UTF-8)\n", unsigned(g[0]));
  if (g[1] > 4) return Refuse("PMX error : header additional uv count %u is more than 4\n", unsigned(g[1]));
  for (int i = 0; i < 6; ++i)
    if (g[2 + i] != 1 && g[2 + i] != 2 && g[2 + i] != 4)
      return Refuse("PMX error : header %s index size %u is not 1, 2 or 4\n", IndexName(i), unsigned(g[2 + i]));
  m_h.encoding = g[0];
  m_h.additionalUv = g[1];
  m_h.vertexIndex = g[2];
  m_h.textureIndex = g[3];
  m_h.materialIndex = g[4];
  m_h.boneIndex = g[5];
  m_h.morphIndex = g[6];
  m_h.bodyIndex = g[7];
  DebugPrintf(Text().version.c_str(), double(m_h.version));
  DebugPrintf("PMX : text %s, additional uv %u, index sizes vertex %u texture %u material %u bone %u morph %u "
              "rigid body %u\n",
              m_h.encoding ? "UTF-8" : "UTF-16LE", unsigned(m_h.additionalUv), unsigned(m_h.vertexIndex),
              unsigned(m_h.textureIndex), unsigned(m_h.materialIndex), unsigned(m_h.boneIndex),
              unsigned(m_h.morphIndex), unsigned(m_h.bodyIndex));
  return 1;
}

int Reader::Info() {
  Section("model info");
  if (!TextField(m_m.m_Name) || !TextField(m_m.m_EnglishName) || !TextField(m_m.m_Comment) ||
      !TextField(m_m.m_EnglishComment))
    return Fail();
  DebugPrintf(Text().name.c_str(), qev::Utf8ToCp932(m_m.m_Name).c_str());
  DebugPrintf(Text().comment.c_str(), qev::Utf8ToCp932(m_m.m_Comment).c_str());
  return 1;
}

int Reader::Vertices() {
  Section("vertices");
  const size_t floats = 8 + 4 * size_t(m_h.additionalUv);
  int32_t n = 0;
  // smallest vertex: its floats, the kind, one bone, the edge scale
  if (!Count(n, floats * 4 + 1 + m_h.boneIndex + 4)) return Fail();
  m_m.m_Vertices.resize(size_t(n));
  for (int32_t i = 0; i < n; ++i) {
    m_record = i;
    PmxVertex& v = m_m.m_Vertices[size_t(i)];
    float f[24];
    if (!Floats(f, int(floats)) || !Get(v.deform)) return Fail();
    std::memcpy(v.pos, f, 12);
    std::memcpy(v.normal, f + 3, 12);
    std::memcpy(v.uv, f + 6, 8);
    for (int k = 0; k < m_h.additionalUv; ++k) std::memcpy(v.addUv[k], f + 8 + 4 * k, 16);
    for (int k = 0; k < 4; ++k) v.bone[k] = -1;
    switch (v.deform) {
      case kPmxBdef1:
        if (!Index(m_h.boneIndex, v.bone[0])) return Fail();
        v.weight[0] = 1.0f;
        break;
      case kPmxBdef2:
      case kPmxSdef:
        if (!Index(m_h.boneIndex, v.bone[0]) || !Index(m_h.boneIndex, v.bone[1]) || !Floats(v.weight, 1))
          return Fail();
        v.weight[1] = 1.0f - v.weight[0];
        if (v.deform == kPmxSdef && (!Floats(v.sdefC, 3) || !Floats(v.sdefR0, 3) || !Floats(v.sdefR1, 3)))
          return Fail();
        break;
      case kPmxBdef4:
      case kPmxQdef:
        for (int k = 0; k < 4; ++k)
          if (!Index(m_h.boneIndex, v.bone[k])) return Fail();
        if (!Floats(v.weight, 4)) return Fail();
        break;
      default:
        return Refuse("PMX error : vertex [%d] weight kind %u at offset %zu is unknown\n", int(i), unsigned(v.deform),
                      m_in.Offset() - 1);
    }
    if (!Floats(&v.edgeScale, 1)) return Fail();
  }
  DebugPrintf(Text().vertices.c_str(), int(n));
  return 1;
}

int Reader::Faces() {
  Section("faces");
  int32_t n = 0;
  if (!Count(n, m_h.vertexIndex)) return Fail();
  if (n % 3) return Refuse("PMX error : face index count %d is not a multiple of 3\n", int(n));
  const uint8_t* p = nullptr;
  m_in.Take(uint64_t(n), m_h.vertexIndex, p);  // Count made sure they are all there
  m_m.m_Indices.resize(size_t(n));
  const uint32_t vertices = uint32_t(m_m.m_Vertices.size());
  for (int32_t i = 0; i < n; ++i) {
    uint32_t v = 0;
    if (m_h.vertexIndex == 1) {
      v = p[i];
    } else if (m_h.vertexIndex == 2) {
      uint16_t s;
      std::memcpy(&s, p + size_t(i) * 2, 2);
      v = s;
    } else {
      std::memcpy(&v, p + size_t(i) * 4, 4);  // a negative index reads as one past every count
    }
    if (v >= vertices)
      return Refuse("PMX error : face index [%d] = %lld is not below the vertex count %u\n", int(i),
                    m_h.vertexIndex == 4 ? (long long)int32_t(v) : (long long)v, vertices);
    m_m.m_Indices[size_t(i)] = v;
  }
  DebugPrintf(Text().faces.c_str(), int(n), int(n / 3));
  return 1;
}

int Reader::Textures() {
  Section("textures");
  int32_t n = 0;
  if (!Count(n, 4)) return Fail();
  m_m.m_Textures.resize(size_t(n));
  for (int32_t i = 0; i < n; ++i) {
    m_record = i;
    if (!TextField(m_m.m_Textures[size_t(i)])) return Fail();
  }
  DebugPrintf(Text().textures.c_str(), int(n));
  return 1;
}

int Reader::Materials() {
  Section("materials");
  int32_t n = 0;
  // two empty names, 16 floats, flags, the texture and sphere indices, sphere
  // mode, toon flag and a one-byte toon, an empty memo and the face count
  if (!Count(n, 8 + 16 * 4 + 1 + 2 * size_t(m_h.textureIndex) + 3 + 4 + 4)) return Fail();
  m_m.m_Materials.resize(size_t(n));
  uint64_t first = 0;
  for (int32_t i = 0; i < n; ++i) {
    m_record = i;
    PmxMaterial& m = m_m.m_Materials[size_t(i)];
    if (!TextField(m.name) || !TextField(m.englishName) || !Floats(m.diffuse, 4) || !Floats(m.specular, 3) ||
        !Floats(&m.specularPower, 1) || !Floats(m.ambient, 3) || !Get(m.flags) || !Floats(m.edgeColour, 4) ||
        !Floats(&m.edgeSize, 1) || !Index(m_h.textureIndex, m.texture) || !Index(m_h.textureIndex, m.sphere) ||
        !Get(m.sphereMode) || !Get(m.sharedToon))
      return Fail();
    if (m.sharedToon > 1)
      return Refuse("PMX error : material [%d] toon flag %u at offset %zu is neither 0 nor 1\n", int(i),
                    unsigned(m.sharedToon), m_in.Offset() - 1);
    if (m.sharedToon) {
      uint8_t shared = 0;
      if (!Get(shared)) return Fail();
      m.toon = shared;
    } else if (!Index(m_h.textureIndex, m.toon)) {
      return Fail();
    }
    if (!TextField(m.memo) || !Get(m.indexCount)) return Fail();
    m.firstIndex = uint32_t(first);
    first += m.indexCount;
    if (first > m_m.m_Indices.size())
      return Refuse("PMX error : material [%d] face count %u from index %u runs past the index count %zu\n", int(i),
                    unsigned(m.indexCount), unsigned(m.firstIndex), m_m.m_Indices.size());
  }
  DebugPrintf(Text().materials.c_str(), int(n));
  DebugPrintf(Text().totalFaces.c_str(), int(first / 3));
  return 1;
}

int Reader::Bones() {
  Section("bones");
  int32_t n = 0;
  const uint8_t bi = m_h.boneIndex;
  // two empty names, position, parent, layer, flags and a tail bone
  if (!Count(n, 8 + 12 + bi + 4 + 2 + bi)) return Fail();
  m_m.m_Bones.resize(size_t(n));
  for (int32_t i = 0; i < n; ++i) {
    m_record = i;
    PmxBone& b = m_m.m_Bones[size_t(i)];
    b.tailBone = b.grantParent = b.ikTarget = -1;
    if (!TextField(b.name) || !TextField(b.englishName) || !Floats(b.pos, 3) || !Index(bi, b.parent) ||
        !Get(b.layer) || !Get(b.flags))
      return Fail();
    if (b.flags & kPmxBoneTailIsBone) {
      if (!Index(bi, b.tailBone)) return Fail();
    } else if (!Floats(b.tailOffset, 3)) {
      return Fail();
    }
    if ((b.flags & (kPmxBoneGrantRotation | kPmxBoneGrantTranslation)) &&
        (!Index(bi, b.grantParent) || !Floats(&b.grantRatio, 1)))
      return Fail();
    if ((b.flags & kPmxBoneFixedAxis) && !Floats(b.fixedAxis, 3)) return Fail();
    if ((b.flags & kPmxBoneLocalAxes) && (!Floats(b.localX, 3) || !Floats(b.localZ, 3))) return Fail();
    if ((b.flags & kPmxBoneExternalParent) && !Get(b.externalKey)) return Fail();
    if (!(b.flags & kPmxBoneIk)) continue;
    int32_t links = 0;
    if (!Index(bi, b.ikTarget) || !Get(b.ikLoops) || !Floats(&b.ikLimitAngle, 1) || !Count(links, size_t(bi) + 1, "IK link"))
      return Fail();
    if (b.ikTarget < 0 || b.ikTarget >= n)
      return Refuse("PMX error : bone [%d] IK target %d is not one of the %d bones\n", int(i), int(b.ikTarget), int(n));
    b.ikFirstLink = uint32_t(m_m.m_IkLinks.size());
    b.ikLinkCount = uint32_t(links);
    ++m_m.m_nIk;
    for (int32_t j = 0; j < links; ++j) {
      PmxIkLink& l = m_m.m_IkLinks.emplace_back();
      if (!Index(bi, l.bone) || !Get(l.hasLimits)) return Fail();
      if (l.bone < 0 || l.bone >= n)
        return Refuse("PMX error : bone [%d] IK link [%d] bone %d is not one of the %d bones\n", int(i), int(j),
                      int(l.bone), int(n));
      if (l.hasLimits > 1)
        return Refuse("PMX error : bone [%d] IK link [%d] limit flag %u at offset %zu is neither 0 nor 1\n", int(i),
                      int(j), unsigned(l.hasLimits), m_in.Offset() - 1);
      if (l.hasLimits && (!Floats(l.lower, 3) || !Floats(l.upper, 3))) return Fail();
    }
  }
  DebugPrintf(Text().bones.c_str(), int(n));
  DebugPrintf(Text().ikLists.c_str(), int(m_m.m_nIk));
  return 1;
}

int Reader::Morphs() {
  Section("morphs");
  int32_t n = 0;
  // two empty names, panel, kind, offset count
  if (!Count(n, 8 + 1 + 1 + 4)) return Fail();
  m_m.m_Morphs.resize(size_t(n));
  for (int32_t i = 0; i < n; ++i) {
    m_record = i;
    PmxMorph& m = m_m.m_Morphs[size_t(i)];
    if (!TextField(m.name) || !TextField(m.englishName) || !Get(m.panel) || !Get(m.kind)) return Fail();
    size_t size = 0;
    switch (m.kind) {
      case kPmxMorphGroup:
      case kPmxMorphFlip: size = m_h.morphIndex + 4u; break;
      case kPmxMorphVertex: size = m_h.vertexIndex + 12u; break;
      case kPmxMorphBone: size = m_h.boneIndex + 28u; break;
      case kPmxMorphUv:
      case kPmxMorphAddUv1:
      case kPmxMorphAddUv1 + 1:
      case kPmxMorphAddUv1 + 2:
      case kPmxMorphAddUv1 + 3: size = m_h.vertexIndex + 16u; break;
      case kPmxMorphMaterial: size = m_h.materialIndex + 1u + 28 * 4u; break;
      case kPmxMorphImpulse: size = m_h.bodyIndex + 1u + 24u; break;
      default:
        return Refuse("PMX error : morph [%d] kind %u at offset %zu is unknown\n", int(i), unsigned(m.kind),
                      m_in.Offset() - 1);
    }
    int32_t count = 0;
    if (!Count(count, size, "offset")) return Fail();
    m.first = uint32_t(OffsetsOfKind(m.kind));
    m.count = uint32_t(count);
    for (int32_t j = 0; j < count; ++j) {
      bool ok = false;
      switch (m.kind) {
        case kPmxMorphGroup:
        case kPmxMorphFlip: {
          PmxGroupOffset& o = m_m.m_GroupOffsets.emplace_back();
          ok = Index(m_h.morphIndex, o.morph) && Floats(&o.ratio, 1);
          break;
        }
        case kPmxMorphVertex: {
          PmxVertexOffset& o = m_m.m_VertexOffsets.emplace_back();
          ok = VertexIndex(o.vertex) && Floats(o.pos, 3);
          break;
        }
        case kPmxMorphBone: {
          PmxBoneOffset& o = m_m.m_BoneOffsets.emplace_back();
          ok = Index(m_h.boneIndex, o.bone) && Floats(o.pos, 3) && Floats(o.rot, 4);
          break;
        }
        case kPmxMorphMaterial: {
          PmxMaterialOffset& o = m_m.m_MaterialOffsets.emplace_back();
          ok = Index(m_h.materialIndex, o.material) && Get(o.op) && Floats(o.diffuse, 4) && Floats(o.specular, 3) &&
               Floats(&o.specularPower, 1) && Floats(o.ambient, 3) && Floats(o.edgeColour, 4) &&
               Floats(&o.edgeSize, 1) && Floats(o.textureTint, 4) && Floats(o.sphereTint, 4) && Floats(o.toonTint, 4);
          break;
        }
        case kPmxMorphImpulse: {
          PmxImpulseOffset& o = m_m.m_ImpulseOffsets.emplace_back();
          ok = Index(m_h.bodyIndex, o.body) && Get(o.local) && Floats(o.velocity, 3) && Floats(o.torque, 3);
          break;
        }
        default: {  // uv and additional uv
          PmxUvOffset& o = m_m.m_UvOffsets.emplace_back();
          ok = VertexIndex(o.vertex) && Floats(o.uv, 4);
          break;
        }
      }
      if (!ok) return Fail();
    }
  }
  DebugPrintf(Text().morphs.c_str(), int(n));
  return 1;
}

int Reader::Frames() {
  Section("display frames");
  int32_t n = 0;
  if (!Count(n, 8 + 1 + 4)) return Fail();
  m_m.m_DisplayFrames.resize(size_t(n));
  const uint8_t smallest = m_h.boneIndex < m_h.morphIndex ? m_h.boneIndex : m_h.morphIndex;
  for (int32_t i = 0; i < n; ++i) {
    m_record = i;
    PmxDisplayFrame& f = m_m.m_DisplayFrames[size_t(i)];
    int32_t count = 0;
    if (!TextField(f.name) || !TextField(f.englishName) || !Get(f.special) || !Count(count, 1u + smallest, "entry"))
      return Fail();
    for (int32_t j = 0; j < count; ++j) {
      uint8_t target = 0;
      int32_t index = 0;
      if (!Get(target)) return Fail();
      if (target > 1)
        return Refuse("PMX error : display frame [%d] entry [%d] kind %u at offset %zu is neither 0 nor 1\n", int(i),
                      int(j), unsigned(target), m_in.Offset() - 1);
      if (!Index(target ? m_h.morphIndex : m_h.boneIndex, index)) return Fail();
      ++(target ? f.morphs : f.bones);
    }
  }
  DebugPrintf(Text().frames.c_str(), int(n));
  return 1;
}

int Reader::RigidBodies() {
  Section("rigid bodies");
  int32_t n = 0;
  if (!Count(n, 8 + size_t(m_h.boneIndex) + 1 + 2 + 1 + 14 * 4 + 1)) return Fail();
  m_m.m_RigidBodies.resize(size_t(n));
  for (int32_t i = 0; i < n; ++i) {
    m_record = i;
    PmxRigidBody& b = m_m.m_RigidBodies[size_t(i)];
    if (!TextField(b.name) || !TextField(b.englishName) || !Index(m_h.boneIndex, b.bone) || !Get(b.group) ||
        !Get(b.mask) || !Get(b.shape) || !Floats(b.size, 3) || !Floats(b.pos, 3) || !Floats(b.rot, 3) ||
        !Floats(&b.mass, 1) || !Floats(&b.linearDamping, 1) || !Floats(&b.angularDamping, 1) ||
        !Floats(&b.restitution, 1) || !Floats(&b.friction, 1) || !Get(b.mode))
      return Fail();
  }
  DebugPrintf(Text().rigidBodies.c_str(), int(n));
  return 1;
}

int Reader::Joints() {
  Section("joints");
  int32_t n = 0;
  if (!Count(n, 8 + 1 + 2 * size_t(m_h.bodyIndex) + 24 * 4)) return Fail();
  m_m.m_Joints.resize(size_t(n));
  for (int32_t i = 0; i < n; ++i) {
    m_record = i;
    PmxJoint& j = m_m.m_Joints[size_t(i)];
    if (!TextField(j.name) || !TextField(j.englishName) || !Get(j.kind) || !Index(m_h.bodyIndex, j.bodyA) ||
        !Index(m_h.bodyIndex, j.bodyB) || !Floats(j.pos, 3) || !Floats(j.rot, 3) || !Floats(j.posLower, 3) ||
        !Floats(j.posUpper, 3) || !Floats(j.rotLower, 3) || !Floats(j.rotUpper, 3) || !Floats(j.posSpring, 3) ||
        !Floats(j.rotSpring, 3))
      return Fail();
  }
  DebugPrintf(Text().joints.c_str(), int(n));
  return 1;
}

// 2.1 soft bodies are read past record by record (their layout is checked
// like every other block) and not kept: nothing simulates them.
int Reader::SoftBodies() {
  if (m_h.version != 2.1f) return 1;
  Section("soft bodies");
  if (m_in.AtEnd()) {
    DebugPrintf("PMX : no soft body block after the joints\n");
    return 1;
  }
  int32_t n = 0;
  // two empty names, shape, material, group, mask, flags, link distance,
  // clusters, mass, margin, aerodynamics, 25 settings and two empty lists
  const size_t fixed = 1 + size_t(m_h.materialIndex) + 1 + 2 + 1 + 5 * 4 + 25 * 4;
  if (!Count(n, 8 + fixed + 4 + 4)) return Fail();
  for (int32_t i = 0; i < n; ++i) {
    m_record = i;
    std::string name;
    int32_t anchors = 0, pins = 0;
    if (!TextField(name) || !TextField(name) || !m_in.Skip(fixed) ||
        !Count(anchors, size_t(m_h.bodyIndex) + m_h.vertexIndex + 1, "anchor") ||
        !m_in.Skip(size_t(anchors) * (size_t(m_h.bodyIndex) + m_h.vertexIndex + 1)) ||
        !Count(pins, m_h.vertexIndex, "pinned vertex") || !m_in.Skip(size_t(pins) * m_h.vertexIndex))
      return Fail();
  }
  m_m.m_nSoftBody = n;
  DebugPrintf("PMX : soft bodies read and skipped, not simulated : %d\n", int(n));
  return 1;
}

}  // namespace

void CPmxFile::Clear() {
  m_Header = {};
  m_Name.clear();
  m_EnglishName.clear();
  m_Comment.clear();
  m_EnglishComment.clear();
  // swapped out rather than cleared, so a failed load gives its memory back
  std::vector<PmxVertex>().swap(m_Vertices);
  std::vector<uint32_t>().swap(m_Indices);
  std::vector<std::string>().swap(m_Textures);
  std::vector<PmxMaterial>().swap(m_Materials);
  std::vector<PmxBone>().swap(m_Bones);
  std::vector<PmxIkLink>().swap(m_IkLinks);
  m_nIk = 0;
  std::vector<PmxMorph>().swap(m_Morphs);
  std::vector<PmxGroupOffset>().swap(m_GroupOffsets);
  std::vector<PmxVertexOffset>().swap(m_VertexOffsets);
  std::vector<PmxBoneOffset>().swap(m_BoneOffsets);
  std::vector<PmxUvOffset>().swap(m_UvOffsets);
  std::vector<PmxMaterialOffset>().swap(m_MaterialOffsets);
  std::vector<PmxImpulseOffset>().swap(m_ImpulseOffsets);
  std::vector<PmxDisplayFrame>().swap(m_DisplayFrames);
  std::vector<PmxRigidBody>().swap(m_RigidBodies);
  std::vector<PmxJoint>().swap(m_Joints);
  m_nSoftBody = 0;
}

int CPmxFile::Load(const char* path) {
  Clear();
  CBuffer file;
  if (!file.LoadFile(path)) return 0;
  return LoadFromMemory(file.m_pData, file.m_nUsed);
}

int CPmxFile::LoadFromMemory(const void* data, size_t size) {
  Clear();
  CReadCursor in(data, size);
  char magic[4];
  if (!in.Read(magic, sizeof magic) || std::memcmp(magic, "PMX ", 4) != 0) {
    DebugPrintf("PMX error : no \"PMX \" mark at the start of the file\n");
    return 0;
  }
  Reader reader(in, *this);
  if (!reader.Read()) {
    Clear();
    return 0;
  }
  return 1;
}
