#include "model/pmd_bone.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "model/bone_pose.h"
#include "model/pmd_file.h"
#include "model/vmd_file.h"
#include "model/vpd_file.h"
#include "platform/codepage.h"
#include "support/debug.h"

namespace {

const std::string& RightEye() {
  static const std::string s = qev::Sjis("右目");
  return s;
}
const std::string& LeftEye() {
  static const std::string s = qev::Sjis("左目");
  return s;
}
const std::string& BothEyes() {
  static const std::string s = qev::Sjis("両目");
  return s;
}

// Turns +X onto the unit direction n. Straight along +X or -X the axis
// X x n vanishes, so those two get fixed rotations.
D3DXMATRIX MarkerRotation(const D3DXVECTOR3& n) {
  constexpr float kDegrees = 57.295776f;
  D3DXMATRIX rot;
  const float angle = std::acos(std::clamp(n.x, -1.0f, 1.0f));
  const D3DXVECTOR3 zAxis(0, 0, 1);
  if (angle * kDegrees < 0.01f) {
    D3DXMatrixRotationAxis(&rot, &zAxis, 0.0f);
  } else if (angle * kDegrees > 179.99f) {
    D3DXMatrixRotationAxis(&rot, &zAxis, 3.1415927f);
  } else {
    const D3DXVECTOR3 axis(0, -n.z, n.y);  // (1, 0, 0) x n
    D3DXMatrixRotationAxis(&rot, &axis, angle);
  }
  return rot;
}

}  // namespace

CPmdBone::CPmdBone() {
  D3DXMatrixIdentity(&m_mInvBind);
  D3DXMatrixIdentity(&m_mLocal);
  D3DXMatrixIdentity(&m_mAnim);
  D3DXMatrixIdentity(&m_mWorld);
  D3DXMatrixIdentity(&m_mMarkerScale);
  D3DXMatrixIdentity(&m_mMarkerRot);
  m_marker.m_nMode = 0;
  m_marker.m_fSize = 1.0f;
}

CPmdBone::~CPmdBone() { Clear(); }

CPmdBone* CPmdBone::AddChild(int index, const CPmdFile& model) {
  auto child = std::make_unique<CPmdBone>();
  CPmdBone* node = child.get();
  m_children.push_back(std::move(child));
  const PmdBoneRec& rec = model.m_pBone[index];
  node->m_nIndex = index;
  node->m_pRecord = &rec;
  node->m_pParent = this;

  const D3DXVECTOR3 head = BoneHead(rec);
  D3DXMatrixTranslation(&node->m_mInvBind, -head.x, -head.y, -head.z);
  node->m_mLocal = LocalMatrix(rec, m_pRecord);

  // A tail past the bone array points nowhere: no marker rather than a read
  // outside the records.
  if (rec.tail != 0 && rec.tail < model.m_nBone) {
    const D3DXVECTOR3 d = BoneHead(model.m_pBone[rec.tail]) - head;
    D3DXVECTOR3 n;
    D3DXVec3Normalize(&n, &d);
    node->m_mMarkerRot = MarkerRotation(n);
    D3DXMatrixScaling(&node->m_mMarkerScale, D3DXVec3Length(&d), 1.0f, 1.0f);
    node->m_bMarker = 1;
  }
  return node;
}

CPmdBone* CPmdBone::FindByIndex(int index) {
  for (auto& child : m_children) {
    if (child->m_nIndex == index) return child.get();
    if (CPmdBone* found = child->FindByIndex(index)) return found;
  }
  return nullptr;
}

void CPmdBone::Clear() {
  ResetPose();
  m_children.clear();
  m_influences.clear();
  m_influences.shrink_to_fit();
  m_nIndex = -1;
  m_pRecord = nullptr;
}

void CPmdBone::ResetOwnPose() {
  D3DXMatrixIdentity(&m_mAnim);
  m_pKey.reset();
  m_nKey = 0;
}

void CPmdBone::ResetPose() {
  ResetOwnPose();
  for (auto& child : m_children) child->ResetPose();
}

void CPmdBone::ApplyPose(const CVpdFile& pose) {
  // Every node is reset on the way down, so the whole tree starts unposed.
  ResetOwnPose();
  if (m_pRecord) {
    const std::string name = BoneName(*m_pRecord);
    if (const VpdPoseBone* bone = pose.FindPoseBone(name.c_str())) m_mAnim = PoseMatrix(bone->rot, bone->pos);
    // The shared eye rotation acts first, then the eye's own pose; the
    // shared bone's translation is not used.
    if (name == RightEye() || name == LeftEye()) {
      if (const VpdPoseBone* both = pose.FindPoseBone(BothEyes().c_str())) {
        D3DXMATRIX r, out;
        D3DXMatrixRotationQuaternion(&r, &both->rot);
        D3DXMatrixMultiply(&out, &r, &m_mAnim);
        m_mAnim = out;
      }
    }
  }
  for (auto& child : m_children) child->ApplyPose(pose);
}

void CPmdBone::AttachMotion(const CVmdFile& motion) {
  ResetOwnPose();
  if (m_pRecord) CopyTrack(motion, *m_pRecord, &m_pKey, &m_nKey);
  for (auto& child : m_children) child->AttachMotion(motion);
}

void CPmdBone::SampleMotion(float frame) {
  if (!(frame >= 0.0f)) frame = 0.0f;
  m_mAnim = SampleTrack(m_pKey.get(), m_nKey, frame);
  for (auto& child : m_children) child->SampleMotion(frame);
}

int CPmdBone::UpdateMatrices(D3DXMATRIX* W, D3DXMATRIX* B) {
  if (!W) return 0;
  D3DXMatrixMultiply(&m_mWorld, &m_mAnim, &m_mLocal);
  if (m_pParent) D3DXMatrixMultiply(&m_mWorld, &m_mWorld, &m_pParent->m_mWorld);
  if (m_nIndex >= 0) {
    W[m_nIndex] = m_mWorld;
    if (B) B[m_nIndex] = m_mInvBind;
  }
  for (auto& child : m_children) child->UpdateMatrices(W, B);
  return 1;
}

void CPmdBone::Draw(IDirect3DDevice9* device, const D3DXMATRIX* parent) {
  D3DXMATRIX pose;
  D3DXMatrixMultiply(&pose, &m_mAnim, &m_mLocal);
  if (parent) D3DXMatrixMultiply(&pose, &pose, parent);
  if (m_nIndex >= 0 && m_bMarker) {
    D3DXMATRIX world;
    D3DXMatrixMultiply(&world, &m_mMarkerScale, &m_mMarkerRot);
    D3DXMatrixMultiply(&world, &world, &pose);
    m_marker.Draw(device, world);
  }
  for (auto& child : m_children) child->Draw(device, &pose);
}

void CPmdBone::Dump(int depth) const {
  const std::string indent(size_t(std::max(depth, 0)) * 2, ' ');
  if (!m_pRecord) {
    DebugPrintf("%s[ROOT]\n", indent.c_str());
  } else {
    static const std::string format = qev::Sjis("%s[%s(%s)] : 位置(%6.2f,%6.2f,%6.2f)\n");
    const D3DXVECTOR3 h = BoneHead(*m_pRecord);
    DebugPrintf(format.c_str(), indent.c_str(), BoneName(*m_pRecord).c_str(), "", h.x, h.y, h.z);
  }
  for (const auto& child : m_children) child->Dump(depth + 1);
}
