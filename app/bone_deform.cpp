// The richer deformation of PMX models, wired into the scene: bones
// evaluated in deform-layer order with their grants (the bones after physics
// once more after the physics step), and the constants of spherical
// vertices. PMD models never come here: their skeleton is posed by the bone
// tree alone, as it always was.
#include <span>

#include "app/scene.h"
#include "model/bone_pose.h"
#include "support/debug.h"

namespace {

bool HasGrant(const DeformBone& b) { return b.grantRotation || b.grantTranslation; }

}  // namespace

void CScene::BuildDeform() {
  m_deformBones.clear();
  m_deformOrder.clear();
  m_firstAfterPhysics = 0;
  m_boneKey.clear();
  m_boneMotion.clear();
  m_sdef.clear();
  m_skinRot.clear();
  m_skinDualQuat.clear();
  if (m_model.m_format != kModelPmx) return;

  const size_t bones = m_model.m_bones.size();
  m_deformBones.resize(bones);
  for (size_t j = 0; j < bones; ++j) {
    const ModelBone& rec = m_model.m_bones[j];
    DeformBone& d = m_deformBones[j];
    d.parent = rec.parent;
    d.head = BoneHead(rec);
    d.layer = rec.layer;
    d.afterPhysics = (rec.flags & kBoneAfterPhysics) != 0;
    d.grantParent = rec.grantParent;
    d.grantRatio = rec.grantRatio;
    d.grantRotation = (rec.flags & kBoneGrantRotation) != 0;
    d.grantTranslation = (rec.flags & kBoneGrantTranslation) != 0;
    d.grantLocal = (rec.flags & kBoneLocalGrant) != 0;
  }
  const int refused = RefuseBadGrants(m_deformBones);
  if (refused) DebugPrintf("PMX bones : %d grants refused, their grant parent is out of range or leads back round\n", refused);
  // A bone outside the skeleton (an IK goal, a left-out eye) is never posed
  // there: granting from it would read a world matrix of zeros.
  int outside = 0;
  for (DeformBone& d : m_deformBones) {
    if (!HasGrant(d) || BoneNode(d.grantParent)) continue;
    d.grantParent = -1;
    d.grantRotation = d.grantTranslation = false;
    ++outside;
  }
  if (outside) DebugPrintf("PMX bones : %d grants refused, their grant parent is not in the skeleton\n", outside);

  // Without a grant, a bone after physics or a second deform layer, the
  // order changes nothing: the bone tree poses the model alone, as it poses
  // a PMD model (parents first, so no child lags a frame behind).
  bool needed = false;
  for (const DeformBone& d : m_deformBones)
    needed = needed || HasGrant(d) || d.afterPhysics || d.layer != m_deformBones.front().layer;
  if (!needed) {
    m_deformBones.clear();
  } else {
    size_t firstAfter = 0;
    const std::vector<int32_t> order = DeformOrder(m_deformBones, &firstAfter);
    m_deformOrder.reserve(order.size());
    for (size_t k = 0; k < order.size(); ++k) {
      if (k == firstAfter) m_firstAfterPhysics = m_deformOrder.size();
      if (BoneNode(order[k])) m_deformOrder.push_back(order[k]);
    }
    if (firstAfter >= order.size()) m_firstAfterPhysics = m_deformOrder.size();
    m_boneKey.resize(bones);
    m_boneMotion.resize(bones);
    m_deformScratch.reserve(bones);
  }

  bool sdef = false, qdef = false;
  for (const ModelVertex& v : m_model.m_vertices) {
    sdef = sdef || v.skinning == kSkinSdef;
    qdef = qdef || v.skinning == kSkinQdef;
  }
  if (sdef) {
    m_sdef.resize(m_model.m_vertices.size());
    for (size_t i = 0; i < m_sdef.size(); ++i) {
      const ModelVertex& v = m_model.m_vertices[i];
      if (v.skinning != kSkinSdef) continue;
      m_sdef[i] = MakeSdefVertex(v.weight[0], D3DXVECTOR3(v.sdefC[0], v.sdefC[1], v.sdefC[2]),
                                 D3DXVECTOR3(v.sdefR0[0], v.sdefR0[1], v.sdefR0[2]),
                                 D3DXVECTOR3(v.sdefR1[0], v.sdefR1[1], v.sdefR1[2]));
    }
    m_skinRot.resize(bones);
  }
  if (qdef) m_skinDualQuat.resize(bones);
}

namespace {

// Each bone of `order` evaluated from its node's animation, and the nodes'
// kept world and pose matrices brought up to date, so that the IK solver and
// the physics write-back (which walk the bone tree) start from this pose.
void EvaluateStretch(CScene& scene, std::span<const int32_t> order, bool resetMotion) {
  for (const int32_t b : order) {
    const D3DXMATRIX& anim = scene.BoneNode(b)->m_mAnim;  // R(q) x T(t): rotation rows, then t
    BoneMotion& key = scene.m_boneKey[size_t(b)];
    D3DXQuaternionRotationMatrix(&key.rot, &anim);
    key.pos = D3DXVECTOR3(anim._41, anim._42, anim._43);
  }
  const size_t bones = scene.m_deformBones.size();
  EvaluateBones(scene.m_deformBones, order, scene.m_boneKey, scene.m_boneMotion,
                std::span<D3DXMATRIX>(scene.W(), bones), resetMotion, &scene.m_deformScratch);
  for (const int32_t b : order) {
    CPmdBone* node = scene.BoneNode(b);
    const BoneMotion& m = scene.m_boneMotion[size_t(b)];
    D3DXMATRIX pose = PoseMatrix(m.rot, m.pos);
    D3DXMatrixMultiply(&node->m_mPose, &pose, &node->m_mLocal);
    node->m_mWorld = scene.W()[b];
  }
}

}  // namespace

void CScene::EvaluateDeform() { EvaluateStretch(*this, m_deformOrder, true); }

void CScene::EvaluateAfterPhysics() {
  if (!UsesDeformOrder() || m_firstAfterPhysics >= m_deformOrder.size()) return;
  EvaluateStretch(*this, std::span<const int32_t>(m_deformOrder).subspan(m_firstAfterPhysics), false);
}
