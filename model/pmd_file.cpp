#include "model/pmd_file.h"

#include <cmath>
#include <cstring>
#include <string>

#include "model/read_cursor.h"
#include "platform/codepage.h"
#include "support/buffer.h"
#include "support/debug.h"

namespace {

// The summary's texts in the system's code page, converted once. The runs of
// blanks line the colons up in a fixed-width Japanese font.
struct Texts {
  std::string version = qev::Sjis("バージョン           : %f\n");
  std::string name = qev::Sjis("モデル名             : %s\n");
  std::string comment = qev::Sjis("コメント             : %s\n");
  std::string vertices = qev::Sjis("頂点数                 : %d\n");
  std::string normalFix[3] = {qev::Sjis("  X法線修正 : %d\n"), qev::Sjis("  Y法線修正 : %d\n"),
                              qev::Sjis("  Z法線修正 : %d\n")};
  std::string faces = qev::Sjis("フェース数             : %d(面数=%d)\n");
  std::string materials = qev::Sjis("マテリアル数           : %d\n");
  std::string totalFaces = qev::Sjis("  トータルフェース数   : %d\n");
  std::string bones = qev::Sjis("ボーン数               : %d\n");
  std::string boneName = "  [%d] %.*s\n";
  std::string boneParent = qev::Sjis("       親ボーン         : %d\n");
  std::string boneType = qev::Sjis("       ボーンタイプ     : %d%d%d%d%d%d%d%d\n");
  std::string boneTail = qev::Sjis("       tailボーン       : %d\n");
  std::string boneIk = qev::Sjis("       IKボーン         : %d\n");
  std::string boneHead = qev::Sjis("       ボーンヘッド位置 : (%7.3f,%7.3f,%7.3f)\n");
  std::string ikLists = qev::Sjis("IKリスト数             : %d\n");
  std::string morphs = qev::Sjis("表情データ数           : %d\n");
  std::string frameNames = qev::Sjis("ボーン枠用の枠名数     : %d\n");
  std::string boneDisps = qev::Sjis("ボーン枠用表示リスト数 : %d\n");
  std::string noExtension1 = qev::Sjis("拡張1に対応していない\n");
  std::string englishHeader = qev::Sjis("ヘッダ(英語)           : %s\n");
  std::string present = qev::Sjis("あり");
  std::string absent = qev::Sjis("なし");
  std::string noExtension2 = qev::Sjis("拡張2に対応していない\n");
  std::string noExtension3 = qev::Sjis("拡張3に対応していない\n");
  std::string rigidBodies = qev::Sjis("剛体数                 : %d\n");
  std::string joints = qev::Sjis("ジョイント数 : %d\n");
};

const Texts& Text() {
  static const Texts texts;
  return texts;
}

// A body that ends early fails the whole load with one line saying where.
int CutShort(const char* section, const CReadCursor& in) {
  DebugPrintf("PMD error : %s cut short at offset %zu\n", section, in.Offset());
  return 0;
}

// Copies a fixed-width name up to its terminator; the rest of dst stays zero.
template <size_t N>
void CopyName(char (&dst)[N], const uint8_t* src, size_t width) {
  size_t n = 0;
  while (n < width && n < N && src[n]) ++n;
  std::memcpy(dst, src, n);
}

// An owned array for a block copied whole from the file right away, so not
// zeroed first; none at all for an empty block.
template <class T>
std::unique_ptr<T[]> NewBlock(size_t n) {
  return n ? std::make_unique_for_overwrite<T[]>(n) : nullptr;
}

// Copies a block of records; an empty block has no array to copy into.
void CopyBlock(void* dst, const uint8_t* src, size_t bytes) {
  if (bytes) std::memcpy(dst, src, bytes);
}

}  // namespace

CPmdFile::~CPmdFile() { Clear(); }

void CPmdFile::Clear() {
  // the per-record chain and morph-vertex arrays go with their records
  m_pIk.reset();
  m_pMorph.reset();
  m_pVertex.reset();
  m_pIndex.reset();
  m_pMaterial.reset();
  m_pBone.reset();
  m_pMorphDisp.reset();
  m_pFrameName.reset();
  m_pBoneDisp.reset();
  m_pRigidBody.reset();
  m_pJoint.reset();
  m_nVertex = m_nIndex = m_nMaterial = m_nIk = m_nMorph = 0;
  m_nMorphDisp = m_nFrameName = m_nBoneDisp = m_nRigidBody = m_nJoint = 0;
  m_nBone = 0;
  m_fVersion = 0.0f;
  std::memset(m_szName, 0, sizeof m_szName);
  std::memset(m_szComment, 0, sizeof m_szComment);
  std::memset(&m_EnglishHeader, 0, sizeof m_EnglishHeader);
  std::memset(m_szToon, 0, sizeof m_szToon);
}

int CPmdFile::Load(const char* path) {
  Clear();
  CBuffer file;
  if (!file.LoadFile(path)) return 0;
  return LoadFromMemory(file.m_pData, file.m_nUsed);
}

int CPmdFile::LoadFromMemory(const void* data, size_t size) {
  Clear();
  CReadCursor in(data, size);
  char magic[3];
  if (!in.Read(magic, sizeof magic) || std::memcmp(magic, "Pmd", 3) != 0) return 0;
  if (!ReadBody(in)) {
    Clear();
    return 0;
  }
  ReadExtensions(in);
  return 1;
}

int CPmdFile::ReadBody(CReadCursor& in) {
  const Texts& t = Text();
  const uint8_t* p = nullptr;

  if (!in.Take(1, 4 + 20 + 256, p)) return CutShort("header", in);
  std::memcpy(&m_fVersion, p, 4);
  CopyName(m_szName, p + 4, 20);
  CopyName(m_szComment, p + 24, 256);
  DebugPrintf(t.version.c_str(), double(m_fVersion));
  DebugPrintf(t.name.c_str(), m_szName);
  DebugPrintf(t.comment.c_str(), m_szComment);

  uint32_t count = 0;
  if (!in.Get(count) || !in.Take(count, sizeof(PmdVertex), p)) return CutShort("vertices", in);
  m_nVertex = int32_t(count);  // fits: the bytes left bound it
  m_pVertex = NewBlock<PmdVertex>(count);
  CopyBlock(m_pVertex.get(), p, size_t(count) * sizeof(PmdVertex));
  DebugPrintf(t.vertices.c_str(), m_nVertex);
  for (int32_t i = 0; i < m_nVertex; ++i) {
    PmdVertex& v = m_pVertex[i];
    for (int a = 0; a < 3; ++a) {
      if (!std::isfinite(v.normal[a])) {
        v.normal[a] = 0.0f;
        DebugPrintf(t.normalFix[a].c_str(), i);
      }
    }
    v.pos[2] = -v.pos[2];
    v.normal[2] = -v.normal[2];
  }

  if (!in.Get(count) || !in.Take(count, 2, p)) return CutShort("faces", in);
  m_nIndex = int32_t(count);
  m_pIndex = NewBlock<uint16_t>(count);
  CopyBlock(m_pIndex.get(), p, size_t(count) * 2);
  for (int32_t i = 0; i < m_nIndex; ++i) {
    if (m_pIndex[i] >= uint32_t(m_nVertex)) {
      DebugPrintf("PMD error : face index [%d] = %u is not below the vertex count %d\n", i,
                  unsigned(m_pIndex[i]), m_nVertex);
      return 0;
    }
  }
  // the Z mirror reverses the winding; swapping restores it (complete triangles only)
  for (int32_t i = 0; i + 2 < m_nIndex; i += 3) std::swap(m_pIndex[i], m_pIndex[i + 1]);
  DebugPrintf(t.faces.c_str(), m_nIndex, m_nIndex / 3);

  constexpr size_t kMaterialSize = offsetof(PmdMaterial, firstIndex);
  if (!in.Get(count) || !in.Take(count, kMaterialSize, p)) return CutShort("materials", in);
  m_nMaterial = int32_t(count);
  m_pMaterial = NewArray<PmdMaterial>(count);
  uint64_t first = 0;
  for (uint32_t i = 0; i < count; ++i) {
    PmdMaterial& m = m_pMaterial[i];
    std::memcpy(&m, p + size_t(i) * kMaterialSize, kMaterialSize);
    m.firstIndex = uint32_t(first);
    first += m.indexCount;
    if (first > uint64_t(m_nIndex)) {
      DebugPrintf("PMD error : material [%u] face count %u from index %u runs past the index count %d\n", i,
                  unsigned(m.indexCount), unsigned(m.firstIndex), m_nIndex);
      return 0;
    }
  }
  DebugPrintf(t.materials.c_str(), m_nMaterial);
  DebugPrintf(t.totalFaces.c_str(), int(first / 3));

  constexpr size_t kBoneSize = offsetof(PmdBoneRec, englishName);
  uint16_t count16 = 0;
  if (!in.Get(count16) || !in.Take(count16, kBoneSize, p)) return CutShort("bones", in);
  m_nBone = count16;
  m_pBone = NewArray<PmdBoneRec>(count16);
  DebugPrintf(t.bones.c_str(), int(m_nBone));
  for (uint32_t i = 0; i < m_nBone; ++i) {
    PmdBoneRec& b = m_pBone[i];
    std::memcpy(&b, p + size_t(i) * kBoneSize, kBoneSize);
    b.head[2] = -b.head[2];
    const std::string_view name = PmdName(b.name);
    DebugPrintf(t.boneName.c_str(), int(i), int(name.size()), name.data());
    DebugPrintf(t.boneParent.c_str(), int(b.parent));
    const unsigned type = b.type;
    DebugPrintf(t.boneType.c_str(), (type >> 7) & 1, (type >> 6) & 1, (type >> 5) & 1, (type >> 4) & 1,
                (type >> 3) & 1, (type >> 2) & 1, (type >> 1) & 1, type & 1);
    DebugPrintf(t.boneTail.c_str(), int(b.tail));
    DebugPrintf(t.boneIk.c_str(), int(b.ikBone));
    DebugPrintf(t.boneHead.c_str(), double(b.head[0]), double(b.head[1]), double(b.head[2]));
  }

  if (!in.Get(count16) || !in.Has(count16, sizeof(PmdIkHead))) return CutShort("IK lists", in);
  m_pIk = NewArray<PmdIkRec>(count16);
  m_nIk = count16;
  for (int32_t i = 0; i < m_nIk; ++i) {
    PmdIkRec& ik = m_pIk[i];
    if (!in.Get(ik.head) || !in.Take(ik.head.chainLength, 2, p)) return CutShort("IK lists", in);
    ik.chain = NewBlock<uint16_t>(ik.head.chainLength);
    CopyBlock(ik.chain.get(), p, size_t(ik.head.chainLength) * 2);
    auto refuse = [&](const char* field, unsigned value) {
      DebugPrintf("PMD error : IK list [%d] %s %u is not below the bone count %u\n", i, field, value, m_nBone);
      return 0;
    };
    if (ik.head.ikBone >= m_nBone) return refuse("IK bone", ik.head.ikBone);
    if (ik.head.target >= m_nBone) return refuse("target bone", ik.head.target);
    for (unsigned j = 0; j < ik.head.chainLength; ++j)
      if (ik.chain[j] >= m_nBone) return refuse("chain bone", ik.chain[j]);
  }
  DebugPrintf(t.ikLists.c_str(), m_nIk);

  if (!in.Get(count16) || !in.Has(count16, sizeof(PmdMorphHead))) return CutShort("morphs", in);
  m_pMorph = NewArray<PmdMorph>(count16);
  m_nMorph = count16;
  for (int32_t i = 0; i < m_nMorph; ++i) {
    PmdMorph& m = m_pMorph[i];
    if (!in.Get(m.head) || !in.Take(m.head.vertexCount, sizeof(PmdMorphVertex), p)) return CutShort("morphs", in);
    m.vertices = NewBlock<PmdMorphVertex>(m.head.vertexCount);
    CopyBlock(m.vertices.get(), p, size_t(m.head.vertexCount) * sizeof(PmdMorphVertex));
    for (uint32_t j = 0; j < m.head.vertexCount; ++j) m.vertices[j].pos[2] = -m.vertices[j].pos[2];
  }
  DebugPrintf(t.morphs.c_str(), m_nMorph);

  uint8_t count8 = 0;
  if (!in.Get(count8) || !in.Take(count8, 2, p)) return CutShort("morph display list", in);
  m_nMorphDisp = count8;
  m_pMorphDisp = NewBlock<uint16_t>(count8);
  CopyBlock(m_pMorphDisp.get(), p, size_t(count8) * 2);
  DebugPrintf(t.morphs.c_str(), m_nMorphDisp);

  if (!in.Get(count8) || !in.Take(count8, 50, p)) return CutShort("frame names", in);
  m_nFrameName = count8;
  m_pFrameName = NewArray<PmdFrameName>(count8);
  for (int32_t i = 0; i < m_nFrameName; ++i) {
    char* name = m_pFrameName[i].name;
    CopyName(m_pFrameName[i].name, p + size_t(i) * 50, 50);
    // frame names commonly end in a line feed that is no part of the name
    const size_t len = PmdName(m_pFrameName[i].name).size();
    if (len && name[len - 1] == '\n') name[len - 1] = '\0';
  }
  DebugPrintf(t.frameNames.c_str(), m_nFrameName);

  if (!in.Get(count) || !in.Take(count, sizeof(PmdBoneDisp), p)) return CutShort("bone display list", in);
  m_nBoneDisp = int32_t(count);
  m_pBoneDisp = NewBlock<PmdBoneDisp>(count);
  CopyBlock(m_pBoneDisp.get(), p, size_t(count) * sizeof(PmdBoneDisp));
  DebugPrintf(t.boneDisps.c_str(), m_nBoneDisp);
  return 1;
}

// The optional trailing blocks. One that is not wholly present counts as
// absent, and so does everything after it.
void CPmdFile::ReadExtensions(CReadCursor& in) {
  const Texts& t = Text();
  const uint8_t* p = nullptr;

  if (in.AtEnd()) {
    DebugPrintf("%s", t.noExtension1.c_str());
    return;
  }
  if (in.Peek() == 1) {
    const uint64_t names = uint64_t(m_nBone) * 20 + uint64_t(m_nMorph > 0 ? m_nMorph - 1 : 0) * 20 +
                           uint64_t(m_nFrameName) * 50;
    if (!in.Has(1, sizeof(PmdEnglishHeader) + names)) {
      DebugPrintf("%s", t.noExtension1.c_str());
      return;
    }
    in.Get(m_EnglishHeader);
    DebugPrintf(t.englishHeader.c_str(), t.present.c_str());
    for (uint32_t i = 0; i < m_nBone; ++i) in.Read(m_pBone[i].englishName, 20);
    // the base morph (morph 0) has no English name
    for (int32_t i = 1; i < m_nMorph; ++i) in.Read(m_pMorph[i].englishName, 20);
    for (int32_t i = 0; i < m_nFrameName; ++i) in.Read(m_pFrameName[i].englishName, 50);
  } else {
    // only the flag byte belongs to the block; the rest is kept as stored for reference
    in.PeekBytes(&m_EnglishHeader, sizeof m_EnglishHeader);
    DebugPrintf(t.englishHeader.c_str(), m_EnglishHeader.flag ? t.present.c_str() : t.absent.c_str());
    in.Skip(1);
  }

  if (!in.Take(1, sizeof m_szToon, p)) {
    DebugPrintf("%s", t.noExtension2.c_str());
    return;
  }
  std::memcpy(m_szToon, p, sizeof m_szToon);

  uint32_t bodies = 0, joints = 0;
  const uint8_t* pBodies = nullptr;
  const uint8_t* pJoints = nullptr;
  if (!in.Get(bodies) || !in.Take(bodies, sizeof(PmdRigidBody), pBodies) || !in.Get(joints) ||
      !in.Take(joints, sizeof(PmdJoint), pJoints)) {
    DebugPrintf("%s", t.noExtension3.c_str());
    return;
  }
  m_nRigidBody = int32_t(bodies);
  m_pRigidBody = NewBlock<PmdRigidBody>(bodies);
  CopyBlock(m_pRigidBody.get(), pBodies, size_t(bodies) * sizeof(PmdRigidBody));
  for (uint32_t i = 0; i < bodies; ++i) {
    PmdRigidBody& b = m_pRigidBody[i];
    b.pos[2] = -b.pos[2];
    b.rot[0] = -b.rot[0];
    b.rot[1] = -b.rot[1];
  }
  m_nJoint = int32_t(joints);
  m_pJoint = NewBlock<PmdJoint>(joints);
  CopyBlock(m_pJoint.get(), pJoints, size_t(joints) * sizeof(PmdJoint));
  for (uint32_t i = 0; i < joints; ++i) {
    PmdJoint& j = m_pJoint[i];
    j.pos[2] = -j.pos[2];
    j.rot[0] = -j.rot[0];
    j.rot[1] = -j.rot[1];
  }
  DebugPrintf(t.rigidBodies.c_str(), m_nRigidBody);
  DebugPrintf(t.joints.c_str(), m_nJoint);
}
