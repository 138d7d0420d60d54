#include "model/model_description.h"

#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

#include "model/pmd_file.h"
#include "model/pmx_file.h"
#include "platform/codepage.h"
#include "support/buffer.h"
#include "support/debug.h"

namespace {

void Copy3(float (&dst)[3], const float* src) { std::memcpy(dst, src, sizeof dst); }

// A left-handed position or direction in our right-handed space.
void Mirror3(float (&dst)[3], const float* src) {
  dst[0] = src[0];
  dst[1] = src[1];
  dst[2] = -src[2];
}

// Euler angles (radians) in our space: the turns about x and y reverse.
void MirrorAngles(float (&dst)[3], const float* src) {
  dst[0] = -src[0];
  dst[1] = -src[1];
  dst[2] = src[2];
}

// Angle limits mirrored: for x and y the range reverses, so lower and upper swap.
void MirrorLimits(float (&lower)[3], float (&upper)[3], const float* fileLower, const float* fileUpper) {
  for (int a = 0; a < 2; ++a) {
    lower[a] = -fileUpper[a];
    upper[a] = -fileLower[a];
  }
  lower[2] = fileLower[2];
  upper[2] = fileUpper[2];
}

// A PMX texture table index as a path; out of the table is none, logged once per field.
std::string TexturePath(const CPmxFile& pmx, int32_t index, int material, const char* field) {
  if (index < 0) return std::string();
  if (size_t(index) >= pmx.m_Textures.size()) {
    DebugPrintf("PMX : material [%d] %s texture %d is not in the texture list; none\n", material, field, int(index));
    return std::string();
  }
  return pmx.m_Textures[size_t(index)];
}

}  // namespace

void CModelDescription::Clear() { *this = CModelDescription(); }

bool CModelDescription::IsPmx(const char* path, const void* data, size_t size) {
  if (size >= 4 && std::memcmp(data, "PMX ", 4) == 0) return true;
  const size_t n = path ? std::strlen(path) : 0;
  return n >= 4 && strcasecmp(path + n - 4, ".pmx") == 0;
}

int CModelDescription::Load(const char* path) {
  Clear();
  CBuffer file;
  if (!file.LoadFile(path)) return 0;
  return LoadFromMemory(file.m_pData, file.m_nUsed, path);
}

int CModelDescription::LoadFromMemory(const void* data, size_t size, const char* path) {
  Clear();
  // the reader's records are given up once this holds them
  if (IsPmx(path, data, size)) {
    CPmxFile pmx;
    if (!pmx.LoadFromMemory(data, size)) return 0;
    FillFromPmx(pmx);
  } else {
    CPmdFile pmd;
    if (!pmd.LoadFromMemory(data, size)) return 0;
    FillFromPmd(pmd);
  }
  return 1;
}

void CModelDescription::FillFromPmd(const CPmdFile& pmd) {
  Clear();
  m_format = kModelPmd;
  m_name = pmd.m_szName;
  m_nameUtf8 = qev::Cp932ToUtf8(m_name);
  m_comment = qev::Cp932ToUtf8(pmd.m_szComment);

  m_vertices.resize(size_t(std::max(pmd.m_nVertex, 0)));
  for (size_t i = 0; i < m_vertices.size(); ++i) {
    const PmdVertex& s = pmd.m_pVertex[i];
    ModelVertex& v = m_vertices[i];  // zeroed by the resize
    std::memcpy(v.pos, reinterpret_cast<const char*>(&s) + offsetof(PmdVertex, pos), sizeof v.pos);
    std::memcpy(v.normal, reinterpret_cast<const char*>(&s) + offsetof(PmdVertex, normal), sizeof v.normal);
    std::memcpy(v.uv, reinterpret_cast<const char*>(&s) + offsetof(PmdVertex, uv), sizeof v.uv);
    // A percent of 100 or more is the first bone alone; the second is
    // kept (the X writer lists what is left of it).
    const int w = s.weight;
    v.skinning = w >= 100 ? kSkinBdef1 : kSkinBdef2;
    v.bone[0] = s.bone[0];
    v.bone[1] = s.bone[1];
    v.bone[2] = v.bone[3] = -1;
    v.weight[0] = float(w) / 100.0f;
    v.weight[1] = w >= 100 ? 0.0f : float(100 - w) / 100.0f;
    v.edgeScale = s.edge ? 0.0f : 1.0f;  // the edge byte set: no edge at this vertex
  }

  m_indices.assign(pmd.m_pIndex.get(), pmd.m_pIndex.get() + std::max(pmd.m_nIndex, 0));

  m_materials.resize(size_t(std::max(pmd.m_nMaterial, 0)));
  for (size_t m = 0; m < m_materials.size(); ++m) {
    const PmdMaterial& s = pmd.m_pMaterial[m];
    ModelMaterial& d = m_materials[m];
    std::memcpy(d.diffuse, s.diffuse, sizeof d.diffuse);
    std::memcpy(d.specular, s.specular, sizeof d.specular);
    d.specularPower = s.specularPower;
    std::memcpy(d.ambient, s.ambient, sizeof d.ambient);
    d.flags = s.edge ? kMaterialEdge : 0;
    d.edgeColour[0] = d.edgeColour[1] = d.edgeColour[2] = 0.0f;
    d.edgeColour[3] = 1.0f;
    d.edgeSize = 1.0f;
    d.texture = std::string(PmdName(s.texture));
    const size_t star = d.texture.find('*');
    d.texturePath = qev::Cp932ToUtf8(std::string_view(d.texture).substr(0, star));
    d.spherePath = star == std::string::npos ? std::string() : qev::Cp932ToUtf8(d.texture.substr(star + 1));
    d.sphereMode = d.spherePath.empty() ? 0 : 1;
    d.sharedToon = 1;
    d.toon = s.toon;
    d.indexCount = s.indexCount;
    d.firstIndex = s.firstIndex;
  }

  m_bones.resize(pmd.m_nBone);
  for (uint32_t i = 0; i < pmd.m_nBone; ++i) {
    const PmdBoneRec& s = pmd.m_pBone[i];
    ModelBone& b = m_bones[i];
    b.name = std::string(PmdName(s.name));
    b.nameUtf8 = qev::Cp932ToUtf8(b.name);
    std::memcpy(b.head, reinterpret_cast<const char*>(&s) + offsetof(PmdBoneRec, head), sizeof b.head);
    b.parent = s.parent;
    b.pmdType = s.type;
    b.flags = kBoneTailIsBone | kBoneRotatable | kBoneEnabled;
    if (s.type != 7) b.flags |= kBoneVisible;
    if (s.type == 1 || s.type == 2) b.flags |= kBoneMovable;
    if (s.type == 2) b.flags |= kBoneIk;
    // a tail of 0 (the first bone) is PMD's "none", as is one past the bones
    b.tailBone = s.tail != 0 && s.tail < pmd.m_nBone ? int32_t(s.tail) : -1;
    b.grantParent = -1;
  }

  m_iks.resize(size_t(std::max(pmd.m_nIk, 0)));
  for (size_t k = 0; k < m_iks.size(); ++k) {
    const PmdIkRec& s = pmd.m_pIk[k];
    ModelIk& ik = m_iks[k];
    ik.goal = s.head.ikBone;
    ik.target = s.head.target;
    ik.loops = s.head.iterations;
    ik.limitAngle = s.head.weight;
    ik.links.resize(s.head.chainLength);
    for (size_t j = 0; j < ik.links.size(); ++j) ik.links[j] = ModelIkLink{s.chain[j], 0, {}, {}};
  }

  // Morph 0 is the base: its entries are mesh vertices, every other morph's
  // entries index the base.
  m_morphs.resize(size_t(std::max(pmd.m_nMorph, 0)));
  size_t entries = 0;
  for (size_t i = 0; i < m_morphs.size(); ++i) entries += pmd.m_pMorph[i].head.vertexCount;
  m_vertexOffsets.reserve(entries);
  for (size_t i = 0; i < m_morphs.size(); ++i) {
    const PmdMorph& s = pmd.m_pMorph[i];
    ModelMorph& m = m_morphs[i];
    m.name = std::string(PmdName(s.head.name));
    m.nameUtf8 = qev::Cp932ToUtf8(m.name);
    m.panel = s.head.kind;
    m.kind = i == 0 ? kMorphPmdBase : kMorphVertex;
    m.first = uint32_t(m_vertexOffsets.size());
    m.count = s.head.vertexCount;
    for (uint32_t j = 0; j < s.head.vertexCount; ++j) {
      ModelVertexOffset o;
      std::memcpy(&o, &s.vertices[j], sizeof o);
      m_vertexOffsets.push_back(o);
    }
  }

  for (int t = 0; t < 10; ++t) m_sharedToon[t] = std::string(pmd.m_szToon[t], strnlen(pmd.m_szToon[t], 100));

  m_bodies.resize(size_t(std::max(pmd.m_nRigidBody, 0)));
  for (size_t n = 0; n < m_bodies.size(); ++n) {
    const PmdRigidBody& s = pmd.m_pRigidBody[n];
    ModelRigidBody& r = m_bodies[n];
    r.name = std::string(PmdName(s.name));
    r.bone = s.bone == 0xFFFF ? -1 : int32_t(s.bone);
    r.group = s.group;
    r.mask = s.mask;
    r.shape = s.shape;
    std::memcpy(r.size, reinterpret_cast<const char*>(&s) + offsetof(PmdRigidBody, size), sizeof r.size);
    std::memcpy(r.pos, reinterpret_cast<const char*>(&s) + offsetof(PmdRigidBody, pos), sizeof r.pos);
    std::memcpy(r.rot, reinterpret_cast<const char*>(&s) + offsetof(PmdRigidBody, rot), sizeof r.rot);
    r.mass = s.mass;
    r.linearDamping = s.linearDamping;
    r.angularDamping = s.angularDamping;
    r.restitution = s.restitution;
    r.friction = s.friction;
    r.mode = s.mode;
  }

  m_joints.resize(size_t(std::max(pmd.m_nJoint, 0)));
  for (size_t k = 0; k < m_joints.size(); ++k) {
    const PmdJoint& s = pmd.m_pJoint[k];
    ModelJoint& j = m_joints[k];
    j.name = std::string(PmdName(s.name));
    j.kind = 0;
    j.bodyA = int32_t(s.bodyA);
    j.bodyB = int32_t(s.bodyB);
    const char* base = reinterpret_cast<const char*>(&s);
    std::memcpy(j.pos, base + offsetof(PmdJoint, pos), sizeof j.pos);
    std::memcpy(j.rot, base + offsetof(PmdJoint, rot), sizeof j.rot);
    std::memcpy(j.posLower, base + offsetof(PmdJoint, posLower), sizeof j.posLower);
    std::memcpy(j.posUpper, base + offsetof(PmdJoint, posUpper), sizeof j.posUpper);
    std::memcpy(j.rotLower, base + offsetof(PmdJoint, rotLower), sizeof j.rotLower);
    std::memcpy(j.rotUpper, base + offsetof(PmdJoint, rotUpper), sizeof j.rotUpper);
    std::memcpy(j.posSpring, base + offsetof(PmdJoint, posSpring), sizeof j.posSpring);
    std::memcpy(j.rotSpring, base + offsetof(PmdJoint, rotSpring), sizeof j.rotSpring);
  }
}

void CModelDescription::FillFromPmx(const CPmxFile& pmx) {
  Clear();
  m_format = kModelPmx;
  m_name = qev::Utf8ToCp932(pmx.m_Name);
  m_nameUtf8 = pmx.m_Name;
  m_comment = pmx.m_Comment;
  m_nAddUv = std::min<int32_t>(pmx.m_Header.additionalUv, 4);  // the reader holds no more

  m_vertices.resize(pmx.m_Vertices.size());
  m_addUvs.reserve(pmx.m_Vertices.size() * size_t(m_nAddUv) * 4);
  for (size_t i = 0; i < m_vertices.size(); ++i) {
    const PmxVertex& s = pmx.m_Vertices[i];
    ModelVertex& v = m_vertices[i];
    Mirror3(v.pos, s.pos);
    Mirror3(v.normal, s.normal);
    for (int a = 0; a < 3; ++a)
      if (!std::isfinite(v.normal[a])) v.normal[a] = 0.0f;  // as the PMD reader repairs its normals
    v.uv[0] = s.uv[0];
    v.uv[1] = s.uv[1];
    for (int32_t k = 0; k < m_nAddUv; ++k) m_addUvs.insert(m_addUvs.end(), s.addUv[k], s.addUv[k] + 4);
    v.skinning = s.deform;
    std::memcpy(v.bone, s.bone, sizeof v.bone);
    std::memcpy(v.weight, s.weight, sizeof v.weight);
    if (s.deform == kPmxBdef4 || s.deform == kPmxQdef) {
      const float sum = v.weight[0] + v.weight[1] + v.weight[2] + v.weight[3];
      if (sum > 0.0f && std::isfinite(sum) && sum != 1.0f)
        for (float& w : v.weight) w /= sum;
    }
    Mirror3(v.sdefC, s.sdefC);
    Mirror3(v.sdefR0, s.sdefR0);
    Mirror3(v.sdefR1, s.sdefR1);
    v.edgeScale = s.edgeScale;
  }

  // The z mirror reverses the winding; swapping the first two of each
  // triangle restores it, as the PMD reader does.
  m_indices = pmx.m_Indices;
  for (size_t i = 0; i + 2 < m_indices.size(); i += 3) std::swap(m_indices[i], m_indices[i + 1]);

  m_materials.resize(pmx.m_Materials.size());
  for (size_t m = 0; m < m_materials.size(); ++m) {
    const PmxMaterial& s = pmx.m_Materials[m];
    ModelMaterial& d = m_materials[m];
    d.name = s.name;
    std::memcpy(d.diffuse, s.diffuse, sizeof d.diffuse);
    std::memcpy(d.specular, s.specular, sizeof d.specular);
    d.specularPower = s.specularPower;
    std::memcpy(d.ambient, s.ambient, sizeof d.ambient);
    d.flags = s.flags;
    std::memcpy(d.edgeColour, s.edgeColour, sizeof d.edgeColour);
    d.edgeSize = s.edgeSize;
    d.texturePath = TexturePath(pmx, s.texture, int(m), "colour");
    d.texture = qev::Utf8ToCp932(d.texturePath);
    d.spherePath = TexturePath(pmx, s.sphere, int(m), "sphere");
    d.sphereMode = d.spherePath.empty() ? 0 : s.sphereMode;
    d.sharedToon = s.sharedToon;
    if (s.sharedToon) {
      d.toon = s.toon;
    } else {
      d.toon = -1;
      d.toonPath = TexturePath(pmx, s.toon, int(m), "toon");
    }
    d.indexCount = s.indexCount;
    d.firstIndex = s.firstIndex;
  }

  const int32_t boneCount = int32_t(pmx.m_Bones.size());
  m_bones.resize(pmx.m_Bones.size());
  for (size_t i = 0; i < m_bones.size(); ++i) {
    const PmxBone& s = pmx.m_Bones[i];
    ModelBone& b = m_bones[i];
    b.name = qev::Utf8ToCp932(s.name);
    b.nameUtf8 = s.name;
    Mirror3(b.head, s.pos);
    b.parent = s.parent;
    b.layer = s.layer;
    b.flags = s.flags;
    b.pmdType = 0;
    b.tailBone = (s.flags & kPmxBoneTailIsBone) && s.tailBone >= 0 && s.tailBone < boneCount ? s.tailBone : -1;
    Mirror3(b.tailOffset, s.tailOffset);
    b.grantParent = s.grantParent;
    b.grantRatio = s.grantRatio;
    Mirror3(b.fixedAxis, s.fixedAxis);
    Mirror3(b.localX, s.localX);
    Mirror3(b.localZ, s.localZ);
    if (!(s.flags & kPmxBoneIk)) continue;
    ModelIk ik;
    ik.goal = int32_t(i);
    ik.target = s.ikTarget;
    ik.loops = s.ikLoops;
    ik.limitAngle = s.ikLimitAngle;
    ik.links.resize(s.ikLinkCount);
    for (uint32_t j = 0; j < s.ikLinkCount; ++j) {
      const PmxIkLink& l = pmx.m_IkLinks[s.ikFirstLink + j];
      ModelIkLink& link = ik.links[j];
      link.bone = l.bone;
      link.hasLimits = l.hasLimits;
      MirrorLimits(link.lower, link.upper, l.lower, l.upper);
    }
    m_iks.push_back(std::move(ik));
  }

  m_morphs.resize(pmx.m_Morphs.size());
  for (size_t i = 0; i < m_morphs.size(); ++i) {
    const PmxMorph& s = pmx.m_Morphs[i];
    ModelMorph& m = m_morphs[i];
    m.name = qev::Utf8ToCp932(s.name);
    m.nameUtf8 = s.name;
    m.panel = s.panel;
    m.kind = s.kind;
    m.first = s.first;
    m.count = s.count;
  }
  m_groupOffsets.reserve(pmx.m_GroupOffsets.size());
  for (const PmxGroupOffset& s : pmx.m_GroupOffsets) m_groupOffsets.push_back({s.morph, s.ratio});
  m_vertexOffsets.reserve(pmx.m_VertexOffsets.size());
  for (const PmxVertexOffset& s : pmx.m_VertexOffsets) {
    ModelVertexOffset o;
    o.vertex = uint32_t(s.vertex);  // a negative index lands past the mesh: the morph stage refuses it
    Mirror3(o.pos, s.pos);
    m_vertexOffsets.push_back(o);
  }
  m_boneOffsets.reserve(pmx.m_BoneOffsets.size());
  for (const PmxBoneOffset& s : pmx.m_BoneOffsets) {
    ModelBoneOffset o;
    o.bone = s.bone;
    Mirror3(o.pos, s.pos);
    // a rotation in our space: the quaternion's x and y reverse, as Euler angles do
    o.rot[0] = -s.rot[0];
    o.rot[1] = -s.rot[1];
    o.rot[2] = s.rot[2];
    o.rot[3] = s.rot[3];
    m_boneOffsets.push_back(o);
  }
  m_uvOffsets.reserve(pmx.m_UvOffsets.size());
  for (const PmxUvOffset& s : pmx.m_UvOffsets) {
    ModelUvOffset o;
    o.vertex = uint32_t(s.vertex);
    std::memcpy(o.uv, s.uv, sizeof o.uv);
    m_uvOffsets.push_back(o);
  }
  m_materialOffsets.reserve(pmx.m_MaterialOffsets.size());
  for (const PmxMaterialOffset& s : pmx.m_MaterialOffsets) {
    ModelMaterialOffset o;
    static_assert(sizeof(ModelMaterialOffset) == sizeof(PmxMaterialOffset), "the same fields in the same order");
    std::memcpy(&o, &s, sizeof o);
    m_materialOffsets.push_back(o);
  }
  m_impulseOffsets.reserve(pmx.m_ImpulseOffsets.size());
  for (const PmxImpulseOffset& s : pmx.m_ImpulseOffsets) {
    ModelImpulseOffset o;
    o.body = s.body;
    o.local = s.local;
    Mirror3(o.velocity, s.velocity);
    MirrorAngles(o.torque, s.torque);
    m_impulseOffsets.push_back(o);
  }

  m_bodies.resize(pmx.m_RigidBodies.size());
  for (size_t n = 0; n < m_bodies.size(); ++n) {
    const PmxRigidBody& s = pmx.m_RigidBodies[n];
    ModelRigidBody& r = m_bodies[n];
    r.name = qev::Utf8ToCp932(s.name);
    r.bone = s.bone;
    r.group = s.group;
    r.mask = s.mask;
    r.shape = s.shape;
    Copy3(r.size, s.size);
    Mirror3(r.pos, s.pos);
    // PMX places a body in model space; the physics places it from its
    // bone's head, as PMD stores it
    if (s.bone >= 0 && s.bone < boneCount)
      for (int a = 0; a < 3; ++a) r.pos[a] -= m_bones[size_t(s.bone)].head[a];
    MirrorAngles(r.rot, s.rot);
    r.mass = s.mass;
    r.linearDamping = s.linearDamping;
    r.angularDamping = s.angularDamping;
    r.restitution = s.restitution;
    r.friction = s.friction;
    r.mode = s.mode;
  }

  m_joints.resize(pmx.m_Joints.size());
  for (size_t k = 0; k < m_joints.size(); ++k) {
    const PmxJoint& s = pmx.m_Joints[k];
    ModelJoint& j = m_joints[k];
    j.name = qev::Utf8ToCp932(s.name);
    j.kind = s.kind;
    if (s.kind != 0)
      DebugPrintf("PMX : joint [%d] %s of kind %u is made a 6-DOF spring\n", int(k), j.name.c_str(),
                  unsigned(s.kind));
    j.bodyA = s.bodyA;
    j.bodyB = s.bodyB;
    Mirror3(j.pos, s.pos);
    MirrorAngles(j.rot, s.rot);
    // the limits and springs are kept as read, as the PMD reader keeps its own
    Copy3(j.posLower, s.posLower);
    Copy3(j.posUpper, s.posUpper);
    Copy3(j.rotLower, s.rotLower);
    Copy3(j.rotUpper, s.rotUpper);
    Copy3(j.posSpring, s.posSpring);
    Copy3(j.rotSpring, s.rotSpring);
  }
}
