// CPmdFile: reads a PMD model file into flat arrays of records, mirrors it from
// the file's left-handed space into the viewer's right-handed one, and dumps a
// summary to the log. The model description is filled from the public arrays.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

class CReadCursor;

// The name held in a fixed-width text field: the bytes up to the first zero,
// or the whole field when it has none (code page 932).
template <size_t N>
std::string_view PmdName(const char (&field)[N]) {
  size_t n = 0;
  while (n < N && field[n]) ++n;
  return std::string_view(field, n);
}

#pragma pack(push, 1)
// File records, byte for byte as stored; a block of them is copied in one piece.
struct PmdVertex {
  float pos[3];     // model space, z mirrored on load
  float normal[3];  // z mirrored on load; non-finite components repaired to 0
  float uv[2];
  uint16_t bone[2];  // kept as read: scene assembly refuses bad ones
  uint8_t weight;    // percent of bone[0]; bone[1] gets the rest
  uint8_t edge;
};
static_assert(sizeof(PmdVertex) == 38);

struct PmdMaterial {
  float diffuse[4];  // r, g, b, a
  float specularPower;
  float specular[3];
  float ambient[3];
  uint8_t toon;
  uint8_t edge;
  uint32_t indexCount;  // face indices drawn with this material
  char texture[20];     // "name" or "name*second"
  // Not in the file: indices drawn by all earlier materials.
  uint32_t firstIndex;
};
static_assert(offsetof(PmdMaterial, firstIndex) == 70);

struct PmdBoneRec {
  char name[20];
  int16_t parent;    // -1 for none
  uint16_t tail;     // 0 for none; kept as read
  uint8_t type;      // 2: an IK goal
  uint16_t ikBone;   // only stored and dumped; real files hold out-of-range values here
  float head[3];     // model space, z mirrored on load
  // Not in the file: the English name, zero-filled when the file has none.
  char englishName[20];
};
static_assert(offsetof(PmdBoneRec, englishName) == 39);

struct PmdIkHead {
  uint16_t ikBone;  // the goal the chain reaches for (checked below the bone count)
  uint16_t target;  // the end effector (checked below the bone count)
  uint8_t chainLength;
  uint16_t iterations;
  float weight;  // largest rotation of one solver step, radians
};
static_assert(sizeof(PmdIkHead) == 11);

struct PmdMorphVertex {
  uint32_t vertex;  // kept as read: CMorph checks it when the scene builds the morphs
  float pos[3];     // z mirrored on load
};
static_assert(sizeof(PmdMorphVertex) == 16);

struct PmdMorphHead {
  char name[20];
  uint32_t vertexCount;
  uint8_t kind;  // 0: the base morph
};
static_assert(sizeof(PmdMorphHead) == 25);

struct PmdFrameName {
  char name[50];         // one trailing line feed removed on load
  char englishName[50];  // zero-filled when the file has none
};

struct PmdBoneDisp {
  uint16_t bone;
  uint8_t frame;
};
static_assert(sizeof(PmdBoneDisp) == 3);

struct PmdEnglishHeader {
  uint8_t flag;  // 1: English names follow
  char name[20];
  char comment[256];
};
static_assert(sizeof(PmdEnglishHeader) == 277);

struct PmdRigidBody {
  char name[20];
  uint16_t bone;  // 0xFFFF for none; kept as read (later stages treat out-of-range as none)
  uint8_t group;
  uint16_t mask;  // one bit per group
  uint8_t shape;
  float size[3];
  float pos[3];  // z mirrored on load
  float rot[3];  // radians; x and y mirrored on load
  float mass;
  float linearDamping;
  float angularDamping;
  float restitution;
  float friction;
  uint8_t mode;
};
static_assert(sizeof(PmdRigidBody) == 83);

struct PmdJoint {
  char name[20];
  uint32_t bodyA;  // kept as read: joint creation checks them
  uint32_t bodyB;
  float pos[3];  // z mirrored on load
  float rot[3];  // x and y mirrored on load
  float posLower[3];
  float posUpper[3];
  float rotLower[3];
  float rotUpper[3];
  float posSpring[3];
  float rotSpring[3];
};
static_assert(sizeof(PmdJoint) == 124);
#pragma pack(pop)

// An IK list: the file's head and its own chain of bone indices (all checked
// below the bone count), solved in this order.
struct PmdIkRec {
  PmdIkHead head;
  std::unique_ptr<uint16_t[]> chain;
};

// A morph: the file's head, its own vertex entries and its English name.
struct PmdMorph {
  PmdMorphHead head;
  std::unique_ptr<PmdMorphVertex[]> vertices;
  char englishName[20];
};

class CPmdFile {
 public:
  CPmdFile() = default;
  CPmdFile(const CPmdFile&) = delete;
  CPmdFile& operator=(const CPmdFile&) = delete;
  virtual ~CPmdFile();

  // Reads the model at a native path. 1 when the model was read (also when
  // optional trailing blocks are missing); 0 when the file cannot be read, the
  // magic is wrong, the body is cut short or an index that later stages follow
  // is out of range. The object is empty after a failure.
  int Load(const char* path);
  // The same over bytes already in memory.
  int LoadFromMemory(const void* data, size_t size);
  void Clear();

  float m_fVersion = 0.0f;
  char m_szName[21] = {};      // always terminated
  char m_szComment[257] = {};  // always terminated; may hold line breaks

  int32_t m_nVertex = 0;
  std::unique_ptr<PmdVertex[]> m_pVertex;
  int32_t m_nIndex = 0;
  std::unique_ptr<uint16_t[]> m_pIndex;  // every index below m_nVertex; triangles (b, a, c) of the file's (a, b, c)
  int32_t m_nMaterial = 0;
  std::unique_ptr<PmdMaterial[]> m_pMaterial;  // ranges lie within the index list
  uint32_t m_nBone = 0;
  std::unique_ptr<PmdBoneRec[]> m_pBone;
  int32_t m_nIk = 0;
  std::unique_ptr<PmdIkRec[]> m_pIk;
  int32_t m_nMorph = 0;
  std::unique_ptr<PmdMorph[]> m_pMorph;
  int32_t m_nMorphDisp = 0;
  std::unique_ptr<uint16_t[]> m_pMorphDisp;
  int32_t m_nFrameName = 0;
  std::unique_ptr<PmdFrameName[]> m_pFrameName;
  int32_t m_nBoneDisp = 0;
  std::unique_ptr<PmdBoneDisp[]> m_pBoneDisp;
  PmdEnglishHeader m_EnglishHeader = {};
  char m_szToon[10][100] = {};
  int32_t m_nRigidBody = 0;
  std::unique_ptr<PmdRigidBody[]> m_pRigidBody;
  int32_t m_nJoint = 0;
  std::unique_ptr<PmdJoint[]> m_pJoint;

 private:
  int ReadBody(CReadCursor& in);
  void ReadExtensions(CReadCursor& in);
};
