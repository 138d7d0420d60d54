// CPmxFile: reads a PMX model file (versions 2.0 and 2.1) into records that
// keep the file's fields, its coordinate space (left-handed, z not mirrored)
// and its triangle winding; the step that fills the format-neutral model
// description converts them. Texts are kept as UTF-8; the log gets CP932.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CReadCursor;

// How a vertex follows its bones.
enum PmxDeform : uint8_t {
  kPmxBdef1 = 0,  // one bone
  kPmxBdef2 = 1,  // two bones, linear
  kPmxBdef4 = 2,  // four bones, linear
  kPmxSdef = 3,   // two bones, spherical with the C / R0 / R1 correction
  kPmxQdef = 4,   // four bones, dual quaternion (2.1)
};

struct PmxVertex {
  float pos[3];
  float normal[3];
  float uv[2];
  float addUv[4][4];  // only the header's additional uv count of them are read; the rest stay 0
  uint8_t deform;     // PmxDeform
  // Unused slots hold bone -1 and weight 0. Weights are kept as read (no
  // normalisation); the file stores only the first weight of BDEF2 and SDEF,
  // the second is 1 minus it. Bones are kept as read: scene assembly checks them.
  int32_t bone[4];
  float weight[4];
  float sdefC[3];  // SDEF only, else 0
  float sdefR0[3];
  float sdefR1[3];
  float edgeScale;
};

// Material flag bits.
enum : uint8_t {
  kPmxMaterialDoubleSided = 0x01,
  kPmxMaterialGroundShadow = 0x02,
  kPmxMaterialCastsShadow = 0x04,
  kPmxMaterialReceivesShadow = 0x08,
  kPmxMaterialEdge = 0x10,
  kPmxMaterialVertexColour = 0x20,  // 2.1
  kPmxMaterialPoints = 0x40,        // 2.1
  kPmxMaterialLines = 0x80,         // 2.1
};

struct PmxMaterial {
  std::string name;
  std::string englishName;
  float diffuse[4];  // r, g, b, a
  float specular[3];
  float specularPower;
  float ambient[3];
  uint8_t flags;
  float edgeColour[4];
  float edgeSize;
  int32_t texture;     // texture list index, -1 for none; kept as read
  int32_t sphere;      // texture list index, -1 for none; kept as read
  uint8_t sphereMode;  // 0 none, 1 multiply, 2 add, 3 sub-texture; kept as read
  uint8_t sharedToon;  // 1: toon is a shared toon number (0-9), 0: a texture list index
  int32_t toon;
  std::string memo;
  uint32_t indexCount;  // face indices drawn with this material
  // Not in the file: indices drawn by all earlier materials.
  uint32_t firstIndex;
};

// Bone flag bits.
enum : uint16_t {
  kPmxBoneTailIsBone = 0x0001,  // tail given as a bone, else as an offset
  kPmxBoneRotatable = 0x0002,
  kPmxBoneMovable = 0x0004,
  kPmxBoneVisible = 0x0008,
  kPmxBoneEnabled = 0x0010,
  kPmxBoneIk = 0x0020,
  kPmxBoneLocalGrant = 0x0080,  // grant from the grant parent's full pose, not its local motion
  kPmxBoneGrantRotation = 0x0100,
  kPmxBoneGrantTranslation = 0x0200,
  kPmxBoneFixedAxis = 0x0400,
  kPmxBoneLocalAxes = 0x0800,
  kPmxBoneAfterPhysics = 0x1000,
  kPmxBoneExternalParent = 0x2000,
};

struct PmxIkLink {
  int32_t bone;  // checked below the bone count
  uint8_t hasLimits;
  float lower[3];  // radians, per axis; 0 without limits
  float upper[3];
};

// Fields whose flag is clear hold -1 / 0.
struct PmxBone {
  std::string name;
  std::string englishName;
  float pos[3];
  int32_t parent;  // -1 for none; kept as read
  int32_t layer;   // deform layer
  uint16_t flags;
  int32_t tailBone;     // kPmxBoneTailIsBone: -1 for none; kept as read
  float tailOffset[3];  // otherwise: offset from pos
  int32_t grantParent;  // kPmxBoneGrantRotation / Translation; kept as read
  float grantRatio;
  float fixedAxis[3];  // kPmxBoneFixedAxis
  float localX[3];     // kPmxBoneLocalAxes
  float localZ[3];
  int32_t externalKey;  // kPmxBoneExternalParent
  int32_t ikTarget;     // kPmxBoneIk: the end effector, checked below the bone count
  int32_t ikLoops;
  float ikLimitAngle;  // largest rotation of one solver step, radians
  uint32_t ikFirstLink;  // the links in CPmxFile::m_IkLinks, end effector side first
  uint32_t ikLinkCount;
};

enum PmxMorphKind : uint8_t {
  kPmxMorphGroup = 0,
  kPmxMorphVertex = 1,
  kPmxMorphBone = 2,
  kPmxMorphUv = 3,
  kPmxMorphAddUv1 = 4,  // to kPmxMorphAddUv1 + 3
  kPmxMorphMaterial = 8,
  kPmxMorphFlip = 9,      // 2.1
  kPmxMorphImpulse = 10,  // 2.1
};

// Offsets, kept as read (indices included: the morph stage checks them).
struct PmxGroupOffset {  // group and flip
  int32_t morph;
  float ratio;
};
struct PmxVertexOffset {
  int32_t vertex;
  float pos[3];
};
struct PmxBoneOffset {
  int32_t bone;
  float pos[3];
  float rot[4];  // quaternion x, y, z, w
};
struct PmxUvOffset {  // uv and additional uv
  int32_t vertex;
  float uv[4];
};
struct PmxMaterialOffset {
  int32_t material;  // -1: every material
  uint8_t op;        // 0 multiply, 1 add
  float diffuse[4];
  float specular[3];
  float specularPower;
  float ambient[3];
  float edgeColour[4];
  float edgeSize;
  float textureTint[4];
  float sphereTint[4];
  float toonTint[4];
};
struct PmxImpulseOffset {
  int32_t body;
  uint8_t local;
  float velocity[3];
  float torque[3];
};

struct PmxMorph {
  std::string name;
  std::string englishName;
  uint8_t panel;
  uint8_t kind;  // PmxMorphKind
  // The offsets in the CPmxFile array of this kind.
  uint32_t first;
  uint32_t count;
};

// Display frames are kept as counts only.
struct PmxDisplayFrame {
  std::string name;
  std::string englishName;
  uint8_t special;
  uint32_t bones;
  uint32_t morphs;
};

struct PmxRigidBody {
  std::string name;
  std::string englishName;
  int32_t bone;  // -1 for none; kept as read
  uint8_t group;
  uint16_t mask;  // one bit per group that does not collide
  uint8_t shape;  // 0 sphere, 1 box, 2 capsule
  float size[3];
  float pos[3];  // model space (not relative to the bone)
  float rot[3];  // radians
  float mass;
  float linearDamping;
  float angularDamping;
  float restitution;
  float friction;
  uint8_t mode;  // 0 follows the bone, 1 simulated, 2 simulated and pinned to the bone's position
};

struct PmxJoint {
  std::string name;
  std::string englishName;
  uint8_t kind;    // 0: 6-DOF spring; 2.1's other kinds kept as read
  int32_t bodyA;   // kept as read: joint creation checks them
  int32_t bodyB;
  float pos[3];
  float rot[3];
  float posLower[3];
  float posUpper[3];
  float rotLower[3];
  float rotUpper[3];
  float posSpring[3];
  float rotSpring[3];
};

struct PmxHeader {
  float version;
  uint8_t encoding;  // 0 UTF-16LE, 1 UTF-8
  uint8_t additionalUv;
  // Index widths in bytes (1, 2 or 4): vertex indices of 1 and 2 bytes are
  // unsigned, every other index is signed with -1 for none.
  uint8_t vertexIndex;
  uint8_t textureIndex;
  uint8_t materialIndex;
  uint8_t boneIndex;
  uint8_t morphIndex;
  uint8_t bodyIndex;
};

class CPmxFile {
 public:
  CPmxFile() = default;
  CPmxFile(const CPmxFile&) = delete;
  CPmxFile& operator=(const CPmxFile&) = delete;

  // Reads the model at a native path. 1 when the model was read; 0 when the
  // file cannot be read, is no PMX 2.0 / 2.1 file, is cut short, or holds an
  // index that later stages follow out of range (one log line says where).
  // The object is empty after a failure.
  int Load(const char* path);
  // The same over bytes already in memory.
  int LoadFromMemory(const void* data, size_t size);
  void Clear();

  PmxHeader m_Header = {};
  std::string m_Name;
  std::string m_EnglishName;
  std::string m_Comment;
  std::string m_EnglishComment;
  std::vector<PmxVertex> m_Vertices;
  std::vector<uint32_t> m_Indices;  // every index below the vertex count; triangles as stored
  std::vector<std::string> m_Textures;  // paths as stored ("\" separators kept)
  std::vector<PmxMaterial> m_Materials;  // ranges lie within the index list
  std::vector<PmxBone> m_Bones;
  std::vector<PmxIkLink> m_IkLinks;
  int32_t m_nIk = 0;  // bones with kPmxBoneIk
  std::vector<PmxMorph> m_Morphs;
  std::vector<PmxGroupOffset> m_GroupOffsets;
  std::vector<PmxVertexOffset> m_VertexOffsets;
  std::vector<PmxBoneOffset> m_BoneOffsets;
  std::vector<PmxUvOffset> m_UvOffsets;
  std::vector<PmxMaterialOffset> m_MaterialOffsets;
  std::vector<PmxImpulseOffset> m_ImpulseOffsets;
  std::vector<PmxDisplayFrame> m_DisplayFrames;
  std::vector<PmxRigidBody> m_RigidBodies;
  std::vector<PmxJoint> m_Joints;
  int32_t m_nSoftBody = 0;  // 2.1 soft bodies: read past, not kept
};
