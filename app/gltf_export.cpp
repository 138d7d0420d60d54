#include "app/gltf_export.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "app/scene.h"
#include "platform/codepage.h"
#include "platform/picture_decoder.h"
#include "render/dd_tex_pro90.h"
#include "support/debug.h"

namespace {

constexpr float kFrameSeconds = 1.0f / 30.0f;

// The skeleton's nodes, each after its parent (depth first, children in
// their order), without recursion.
std::vector<const CPmdBone*> JointOrder(const CPmdBone& root) {
  std::vector<const CPmdBone*> order, pending;
  for (auto it = root.m_children.rbegin(); it != root.m_children.rend(); ++it) pending.push_back(it->get());
  while (!pending.empty()) {
    const CPmdBone* node = pending.back();
    pending.pop_back();
    order.push_back(node);
    for (auto it = node->m_children.rbegin(); it != node->m_children.rend(); ++it) pending.push_back(it->get());
  }
  return order;
}

// The morphs that become targets: those that play and move a vertex.
std::vector<int> TargetMorphs(const CMorph& morph) {
  std::vector<int> out;
  for (int i = 0; i < morph.Count(); ++i) {
    const auto offsets = morph.Offsets(i);
    if (std::any_of(offsets.begin(), offsets.end(), [](const CMorph::Entry& e) {
          return e.offset.x != 0.0f || e.offset.y != 0.0f || e.offset.z != 0.0f;
        }))
      out.push_back(i);
  }
  return out;
}

// The local translation and rotation of a bone's node as its current
// animation and bind offset make it (the matrix the X bake keys).
void LocalPose(const CPmdBone& node, bool evaluatedPose, float translation[3], float rotation[4]) {
  // A PMX bone's pose is its evaluation's (grants included), not its animation alone.
  const D3DXMATRIX local = evaluatedPose ? node.m_mPose : node.m_mAnim * node.m_mLocal;
  translation[0] = local._41;
  translation[1] = local._42;
  translation[2] = local._43;
  D3DXQUATERNION q;
  D3DXQuaternionRotationMatrix(&q, &local);
  rotation[0] = q.x;
  rotation[1] = q.y;
  rotation[2] = q.z;
  rotation[3] = q.w;
}

}  // namespace

void FillGltfModel(const CScene& scene, const std::string& modelPath, qev::gltf::Scene* out) {
  *out = {};
  if (!scene.Loaded()) return;
  const CModelDescription& model = scene.m_model;
  out->name = model.m_nameUtf8;

  // Joints: the skeleton's bones, parents first.
  const std::vector<const CPmdBone*> order = JointOrder(scene.m_skeleton);
  const int32_t boneCount = model.BoneCount();
  std::vector<int32_t> jointOfBone(size_t(boneCount), -1);
  for (size_t j = 0; j < order.size(); ++j) jointOfBone[size_t(order[j]->m_nIndex)] = int32_t(j);
  for (const CPmdBone* node : order) {
    qev::gltf::Joint joint;
    joint.name = node->m_pRecord->nameUtf8;
    joint.parent = node->m_pParent && node->m_pParent->m_nIndex >= 0 ? jointOfBone[size_t(node->m_pParent->m_nIndex)] : -1;
    joint.translation[0] = node->m_mLocal._41;
    joint.translation[1] = node->m_mLocal._42;
    joint.translation[2] = node->m_mLocal._43;
    std::copy(&node->m_mInvBind._11, &node->m_mInvBind._11 + 16, joint.inverseBind);
    out->joints.push_back(joint);
  }

  // Vertices: up to four bones with their shares (one bone takes all; a
  // bone named twice is one joint); a share of 0 is no influence. Spherical
  // and dual-quaternion vertices go out as the linear blend of their bones.
  out->vertices.resize(model.m_vertices.size());
  for (size_t i = 0; i < model.m_vertices.size(); ++i) {
    const ModelVertex& v = model.m_vertices[i];
    qev::gltf::Vertex& o = out->vertices[i];
    std::copy(v.pos, v.pos + 3, o.pos);
    std::copy(v.normal, v.normal + 3, o.normal);
    std::copy(v.uv, v.uv + 2, o.uv);
    o.weights[0] = 0.0f;
    int slot = 0;
    const auto add = [&](int32_t bone, float share) {
      if (!(share > 0.0f) || bone < 0 || bone >= boneCount || jointOfBone[size_t(bone)] < 0) return;
      const uint16_t joint = uint16_t(jointOfBone[size_t(bone)]);
      for (int k = 0; k < slot; ++k)
        if (o.joints[k] == joint) {
          o.weights[k] += share;
          return;
        }
      o.joints[slot] = joint;
      o.weights[slot++] = share;
    };
    if (v.skinning == kSkinBdef1) {
      add(v.bone[0], 1.0f);
    } else {
      for (int k = 0; k < SkinningBones(v.skinning); ++k) add(v.bone[k], v.weight[k]);
    }
  }

  // Materials and their pictures, each picture file read once.
  std::vector<std::string> picturePaths;
  CDDTexPro90 reader;
  const size_t slash = modelPath.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : modelPath.substr(0, slash + 1);
  const int32_t materials = int32_t(model.m_materials.size());
  for (int32_t m = 0; m < materials; ++m) {
    const ModelMaterial& rec = model.m_materials[size_t(m)];
    // the material as the shaded draw sees it: colour, texture, sides
    const MaterialLook& look = scene.m_looks.at(size_t(m));
    qev::gltf::Material mat;
    mat.name = rec.name.empty() ? "material " + std::to_string(m) : rec.name;
    std::copy(look.diffuse, look.diffuse + 4, mat.diffuse);
    mat.doubleSided = look.doubleSided;
    // The triangles as the reader turned them: counter-clockwise seen from
    // the side their normals point to, as glTF has it.
    for (uint32_t k = 0; k + 2 < rec.indexCount; k += 3) {
      const uint32_t* t = &model.m_indices[rec.firstIndex + k];
      mat.indices.insert(mat.indices.end(), {t[0], t[1], t[2]});
    }
    const std::string picture = look.texture.empty() ? std::string() : folder + look.texture;
    if (!picture.empty()) {
      const auto known = std::find(picturePaths.begin(), picturePaths.end(), picture);
      if (known != picturePaths.end()) {
        mat.picture = int32_t(known - picturePaths.begin());
      } else {
        qev::DecodedPicture decoded;
        if (reader.ReadPicture(picture.c_str(), &decoded)) {
          picturePaths.push_back(picture);
          out->pictures.push_back({decoded.width, decoded.height, std::move(decoded.pixels)});
          mat.picture = int32_t(out->pictures.size()) - 1;
        } else {
          DebugPrintf("glTF : picture %s not read; material %d has none\n", qev::Utf8ToCp932(picture).c_str(), m);
        }
      }
    }
    out->materials.push_back(std::move(mat));
  }
  if (materials == 0)
    for (size_t k = 0; k + 2 < model.m_indices.size(); k += 3)
      out->unlit.insert(out->unlit.end(), {model.m_indices[k], model.m_indices[k + 1], model.m_indices[k + 2]});

  for (int i : TargetMorphs(scene.m_morph)) {
    qev::gltf::Morph morph;
    morph.name = qev::Cp932ToUtf8(scene.m_morph.Name(i));
    for (const CMorph::Entry& e : scene.m_morph.Offsets(i)) {
      morph.vertices.push_back(e.vertex);
      morph.offsets.insert(morph.offsets.end(), {e.offset.x, e.offset.y, e.offset.z});
    }
    out->morphs.push_back(std::move(morph));
  }
}

int SampleGltfBake(CScene& scene, const char* path, const BakeProgress& progress, int64_t maxFrames,
                   qev::gltf::Scene* out, std::string* failure) {
  const int32_t highest = scene.m_motion && scene.m_motion->m_nMaxFrame > 0 ? scene.m_motion->m_nMaxFrame : 0;
  std::string why;
  if (!qev::gltf::CheckBake(highest, out->joints.size(), out->morphs.size(), path, maxFrames, &why)) {
    DebugPrintf("glTF file %s not written: %s\n", qev::Utf8ToCp932(path ? path : "").c_str(), why.c_str());
    if (failure) *failure = why;
    return 0;
  }
  const std::vector<const CPmdBone*> order = JointOrder(scene.m_skeleton);
  const bool evaluatedPose = scene.m_model.m_format == kModelPmx;
  const std::vector<int> targets = TargetMorphs(scene.m_morph);
  const int32_t frames = highest > 0 ? highest : 1;  // frame 0 alone when the highest is 0
  qev::gltf::Animation& a = out->animation;
  a.frames = frames;
  a.translations.assign(size_t(frames) * order.size() * 3, 0.0f);
  a.rotations.assign(size_t(frames) * order.size() * 4, 0.0f);
  a.weights.assign(size_t(frames) * targets.size(), 0.0f);
  out->animated = true;

  // Frame 0 is the restart, every later frame one frame of playback: the
  // motion advanced by one, then the physics step (the X bake's loop).
  scene.StartMotion();
  if (scene.m_physics.HasWorld()) scene.m_physics.Step(0.0f);
  for (int32_t n = 0; n < frames; ++n) {
    if (n > 0) {
      scene.AdvanceMotion(1.0f);
      if (scene.m_physics.HasWorld()) scene.m_physics.Step(kFrameSeconds);
    }
    for (size_t j = 0; j < order.size(); ++j) {
      const size_t at = size_t(n) * order.size() + j;
      LocalPose(*order[j], evaluatedPose, &a.translations[at * 3], &a.rotations[at * 4]);
    }
    for (size_t t = 0; t < targets.size(); ++t)
      a.weights[size_t(n) * targets.size() + t] = scene.m_morph.Weight(targets[t]);
    if (progress) progress(n, frames);
  }
  // After the last frame playback goes on once more, which wraps it to 0.
  scene.AdvanceMotion(1.0f);
  if (scene.m_physics.HasWorld()) scene.m_physics.Step(kFrameSeconds);
  return 1;
}

int ExportGltf(CScene& scene, const std::string& modelPath, const char* path, bool bake,
               const BakeProgress& progress, std::string* failure, int64_t maxFrames) {
  if (!scene.Loaded()) {
    DebugPrintf("glTF file not written: no model is loaded\n");
    if (failure) *failure = "no model is loaded";
    return 0;
  }
  qev::gltf::Scene out;
  FillGltfModel(scene, modelPath, &out);
  if (bake && scene.m_nMode == kMotionPlayback && scene.m_motion &&
      !SampleGltfBake(scene, path, progress, maxFrames, &out, failure))
    return 0;
  return qev::gltf::WriteGltf(out, path, failure);
}
