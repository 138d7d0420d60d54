// CModelDescription: a loaded model as every later stage sees it, whatever
// file it came from. The PMD and PMX readers keep their files' records; this
// holds the same model in the viewer's right-handed space (z mirrored,
// triangles wound to suit), names as code page 932 bytes for matching
// against motions and poses and as UTF-8 for display. Scene assembly,
// physics, drawing and the exporters read only this.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CPmdFile;
class CPmxFile;

// How a vertex follows its bones (the PMX numbering).
enum ModelSkinning : uint8_t {
  kSkinBdef1 = 0,  // one bone
  kSkinBdef2 = 1,  // two bones, linear
  kSkinBdef4 = 2,  // four bones, linear
  kSkinSdef = 3,   // two bones, spherical with the C / R0 / R1 correction
  kSkinQdef = 4,   // four bones, dual quaternion
};

// The bone slots a kind of skinning uses.
inline int SkinningBones(uint8_t skinning) {
  return skinning == kSkinBdef2 || skinning == kSkinSdef ? 2 : skinning == kSkinBdef4 || skinning == kSkinQdef ? 4 : 1;
}

struct ModelVertex {
  float pos[3];     // model space, z mirrored
  float normal[3];  // z mirrored
  float uv[2];
  // Slots past the kind's bone count hold the file's value or -1, weight 0.
  // Bones are kept as read: scene assembly refuses a weighted bone that is
  // not in the skeleton. Weights of four-bone kinds sum to 1 (normalised on
  // fill when the file's do not); a PMD vertex keeps its percent / 100 and
  // (100 - percent) / 100, so a one-bone PMD vertex may carry weight[0] > 1.
  int32_t bone[4];
  float weight[4];
  uint8_t skinning;  // ModelSkinning
  float sdefC[3];    // SDEF only (z mirrored), else 0
  float sdefR0[3];
  float sdefR1[3];
  float edgeScale;  // PMD: 0 or 1 from its edge byte (0 draws an edge there)
};

// Material flag bits (the PMX numbering; PMD's edge byte 0 sets kMaterialEdge).
enum : uint8_t {
  kMaterialDoubleSided = 0x01,
  kMaterialGroundShadow = 0x02,
  kMaterialCastsShadow = 0x04,
  kMaterialReceivesShadow = 0x08,
  kMaterialEdge = 0x10,
  kMaterialVertexColour = 0x20,
  kMaterialPoints = 0x40,
  kMaterialLines = 0x80,
};

struct ModelMaterial {
  std::string name;  // UTF-8; PMD materials have none
  float diffuse[4];  // r, g, b, a
  float specular[3];
  float specularPower;
  float ambient[3];
  uint8_t flags;
  float edgeColour[4];
  float edgeSize;
  // The texture as the file names it, code page 932: PMD's whole field
  // ("name" or "name*sphere"), PMX's table entry. Written to X files.
  std::string texture;
  // The file of the texture drawn, relative to the model's folder, UTF-8,
  // "\" separators kept: PMD's name before any "*"; empty for none.
  std::string texturePath;
  std::string spherePath;  // same form; empty for none
  uint8_t sphereMode;      // 0 none, 1 multiply, 2 add, 3 sub-texture
  uint8_t sharedToon;      // 1: toon is a shared toon number, 0: toonPath is its own
  int32_t toon;            // shared toon number (PMD: 255 for none); -1 for none
  std::string toonPath;    // own toon texture, same form as texturePath
  uint32_t indexCount;     // face indices drawn with this material
  uint32_t firstIndex;     // indices drawn by all earlier materials
};

// Bone flag bits (the PMX numbering; a PMD bone's type maps onto them).
enum : uint16_t {
  kBoneTailIsBone = 0x0001,
  kBoneRotatable = 0x0002,
  kBoneMovable = 0x0004,
  kBoneVisible = 0x0008,
  kBoneEnabled = 0x0010,
  kBoneIk = 0x0020,  // an IK goal: animated in the goal tree, not the skeleton
  kBoneLocalGrant = 0x0080,
  kBoneGrantRotation = 0x0100,
  kBoneGrantTranslation = 0x0200,
  kBoneFixedAxis = 0x0400,
  kBoneLocalAxes = 0x0800,
  kBoneAfterPhysics = 0x1000,
  kBoneExternalParent = 0x2000,
};

struct ModelBone {
  std::string name;      // code page 932, what motions and poses name it by
  std::string nameUtf8;  // for display
  float head[3];         // model space, z mirrored
  int32_t parent;        // -1 for none; kept as read (scene assembly checks it)
  int32_t layer;         // deform layer; 0 for PMD
  uint16_t flags;
  uint8_t pmdType;       // PMD's type byte; 0 for PMX bones
  int32_t tailBone;      // -1 for none (a PMD tail of 0, or one past the bones)
  float tailOffset[3];   // without a tail bone: the tail's offset from the head (z mirrored)
  int32_t grantParent;   // kBoneGrantRotation / Translation; -1 for none
  float grantRatio;
  float fixedAxis[3];    // kBoneFixedAxis, z mirrored
  float localX[3];       // kBoneLocalAxes, z mirrored
  float localZ[3];
};

struct ModelIkLink {
  int32_t bone;  // below the bone count
  uint8_t hasLimits;
  float lower[3];  // radians, in our space (x and y mirrored: lower and upper swap)
  float upper[3];
};

// One IK list: turn the links so the target reaches the goal bone.
struct ModelIk {
  int32_t goal;    // the IK bone, below the bone count
  int32_t target;  // the end effector, below the bone count
  int32_t loops;
  float limitAngle;  // largest turn of one solver step, radians
  std::vector<ModelIkLink> links;  // end effector side first
};

enum ModelMorphKind : uint8_t {
  kMorphGroup = 0,
  kMorphVertex = 1,
  kMorphBone = 2,
  kMorphUv = 3,
  kMorphAddUv1 = 4,  // to kMorphAddUv1 + 3
  kMorphMaterial = 8,
  kMorphFlip = 9,
  kMorphImpulse = 10,
  kMorphPmdBase = 255,  // PMD's morph 0: the mesh vertices the others index
};

// Offsets of the morphs, each kind in its own array; indices kept as read
// (the morph stage checks them).
struct ModelGroupOffset {  // group and flip
  int32_t morph;
  float ratio;
};
struct ModelVertexOffset {
  // A mesh vertex; in a PMD model an entry of the base morph (the base's
  // own entries are mesh vertices).
  uint32_t vertex;
  float pos[3];  // z mirrored
};
struct ModelBoneOffset {
  int32_t bone;
  float pos[3];  // z mirrored
  float rot[4];  // quaternion x, y, z, w; x and y mirrored
};
struct ModelUvOffset {
  uint32_t vertex;
  float uv[4];
};
struct ModelMaterialOffset {
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
struct ModelImpulseOffset {
  int32_t body;
  uint8_t local;
  float velocity[3];  // z mirrored
  float torque[3];    // x and y mirrored
};

struct ModelMorph {
  std::string name;      // code page 932, what motions name it by
  std::string nameUtf8;  // for display
  uint8_t panel;         // PMD's kind byte, PMX's panel: display grouping only
  uint8_t kind;          // ModelMorphKind
  uint32_t first;        // its offsets in the array of its kind
  uint32_t count;
};

struct ModelRigidBody {
  std::string name;  // code page 932, as the log names it
  int32_t bone;      // -1 for none; kept as read (physics treats out-of-range as none)
  uint8_t group;
  uint16_t mask;  // one bit per group it does not collide with
  uint8_t shape;  // 0 sphere, 1 box, 2 capsule
  float size[3];
  // Relative to the bone's head when the bone is one of the model's (as PMD
  // stores it; a PMX body's model-space position less that head), else as
  // the file gives it. z mirrored.
  float pos[3];
  float rot[3];  // radians; x and y mirrored
  float mass;
  float linearDamping;
  float angularDamping;
  float restitution;
  float friction;
  uint8_t mode;  // 0 follows the bone, 1 simulated, 2 simulated and pinned to the bone's position
};

struct ModelJoint {
  std::string name;  // code page 932
  uint8_t kind;      // 0: 6-DOF spring (every kind is made one)
  int32_t bodyA;     // kept as read: joint creation checks them
  int32_t bodyB;
  float pos[3];  // model space, z mirrored
  float rot[3];  // x and y mirrored
  float posLower[3];
  float posUpper[3];
  float rotLower[3];
  float rotUpper[3];
  float posSpring[3];
  float rotSpring[3];
};

enum ModelFormat : uint8_t { kModelNone = 0, kModelPmd = 1, kModelPmx = 2 };

class CModelDescription {
 public:
  // Reads the model at a native path through its own reader (a PMX file by
  // its "PMX " mark, or by a ".pmx" extension so that its reader says why it
  // is refused; anything else is read as PMD), which logs its summary and
  // refusals, and fills this from it. 1 when read; 0, and empty, when the
  // file cannot be read or its reader refuses it.
  int Load(const char* path);
  // The same over a file's bytes already in memory; path (may be null) only
  // lends its extension.
  int LoadFromMemory(const void* data, size_t size, const char* path = nullptr);
  // Everything the PMD reader read, as it read it (already mirrored).
  void FillFromPmd(const CPmdFile& pmd);
  // The PMX reader's records mirrored into our space as the PMD reader
  // mirrors its own, names converted; texture indices that point nowhere
  // become none with one log line.
  void FillFromPmx(const CPmxFile& pmx);
  void Clear();

  int32_t BoneCount() const { return int32_t(m_bones.size()); }
  int32_t IkCount() const { return int32_t(m_iks.size()); }

  // Whether a file (its path, may be null, and bytes) is taken as a PMX model.
  static bool IsPmx(const char* path, const void* data, size_t size);

  ModelFormat m_format = kModelNone;
  std::string m_name;      // code page 932
  std::string m_nameUtf8;  // for display
  std::string m_comment;   // UTF-8
  int32_t m_nAddUv = 0;    // additional uvs per vertex (0-4)
  std::vector<ModelVertex> m_vertices;
  // The additional uvs apart (most models have none): m_nAddUv x 4 floats
  // per vertex, in vertex order.
  std::vector<float> m_addUvs;
  std::vector<uint32_t> m_indices;  // below the vertex count; triangles wound for our space
  std::vector<ModelMaterial> m_materials;  // ranges lie within the index list
  std::vector<ModelBone> m_bones;
  std::vector<ModelIk> m_iks;
  std::vector<ModelMorph> m_morphs;
  std::vector<ModelGroupOffset> m_groupOffsets;
  std::vector<ModelVertexOffset> m_vertexOffsets;
  std::vector<ModelBoneOffset> m_boneOffsets;
  std::vector<ModelUvOffset> m_uvOffsets;
  std::vector<ModelMaterialOffset> m_materialOffsets;
  std::vector<ModelImpulseOffset> m_impulseOffsets;
  std::string m_sharedToon[10];  // PMD's toon names, code page 932
  std::vector<ModelRigidBody> m_bodies;
  std::vector<ModelJoint> m_joints;
};
