#include "model/pmd_bone.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>

#include "model/bone_pose.h"
#include "model/model_description.h"
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
const std::string& Knee() {
  static const std::string s = qev::Sjis("ひざ");
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
  D3DXMatrixIdentity(&m_mPose);
  D3DXMatrixIdentity(&m_mMarkerScale);
  D3DXMatrixIdentity(&m_mMarkerRot);
  m_marker.m_nMode = 0;
  m_marker.m_fSize = 1.0f;
}

CPmdBone::~CPmdBone() { DeleteDescendants(&m_children); }

TreeWalk<CPmdBone>& CPmdBone::Walk() const {
  CPmdBone& top = *m_pTop;
  if (!top.m_pWalk) top.m_pWalk = std::make_unique<TreeWalk<CPmdBone>>();
  if (top.m_pWalk->stale) top.m_pWalk->Rebuild(&top);
  return *top.m_pWalk;
}

std::span<CPmdBone* const> CPmdBone::Subtree() const {
  const TreeWalk<CPmdBone>& walk = Walk();
  return std::span<CPmdBone* const>(walk.nodes).subspan(size_t(m_nWalk), size_t(m_nSubtree));
}

void CPmdBone::WalkChanged() {
  if (m_pTop->m_pWalk) m_pTop->m_pWalk->stale = true;
}

CPmdBone* CPmdBone::AddChild(int index, const CModelDescription& model) {
  auto child = std::make_unique<CPmdBone>();
  CPmdBone* node = child.get();
  m_children.push_back(std::move(child));
  WalkChanged();
  const ModelBone& rec = model.m_bones[size_t(index)];
  node->m_nIndex = index;
  node->m_pRecord = &rec;
  node->m_pParent = this;
  node->m_pTop = m_pTop;

  const D3DXVECTOR3 head = BoneHead(rec);
  D3DXMatrixTranslation(&node->m_mInvBind, -head.x, -head.y, -head.z);
  node->m_mLocal = LocalMatrix(rec, m_pRecord);
  node->m_bKnee = rec.name.find(Knee()) != std::string::npos;

  // The marker points at the tail: a bone (none when the tail points
  // nowhere), or an offset from the head where the model gives one.
  D3DXVECTOR3 d(0, 0, 0);
  bool tail = false;
  if (rec.tailBone >= 0) {
    d = BoneHead(model.m_bones[size_t(rec.tailBone)]) - head;
    tail = true;
  } else if (!(rec.flags & kBoneTailIsBone)) {
    d = D3DXVECTOR3(rec.tailOffset[0], rec.tailOffset[1], rec.tailOffset[2]);
    tail = d.x != 0.0f || d.y != 0.0f || d.z != 0.0f;
  }
  if (tail) {
    D3DXVECTOR3 n;
    D3DXVec3Normalize(&n, &d);
    node->m_mMarkerRot = MarkerRotation(n);
    D3DXMatrixScaling(&node->m_mMarkerScale, D3DXVec3Length(&d), 1.0f, 1.0f);
    node->m_bMarker = 1;
  }
  return node;
}

CPmdBone* CPmdBone::FindByIndex(int index) {
  const std::span<CPmdBone* const> nodes = Subtree();
  for (size_t i = 1; i < nodes.size(); ++i)
    if (nodes[i]->m_nIndex == index) return nodes[i];
  return nullptr;
}

void CPmdBone::Clear() {
  ResetPose();
  DeleteDescendants(&m_children);
  WalkChanged();
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
  for (CPmdBone* node : Subtree()) node->ResetOwnPose();
}

void CPmdBone::ApplyOwnPose(const CVpdFile& pose) {
  // Every node is reset, so the whole tree starts unposed.
  ResetOwnPose();
  if (!m_pRecord) return;
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

void CPmdBone::ApplyPose(const CVpdFile& pose) {
  for (CPmdBone* node : Subtree()) node->ApplyOwnPose(pose);
}

void CPmdBone::AttachMotion(const CVmdFile& motion) {
  for (CPmdBone* node : Subtree()) {
    node->ResetOwnPose();
    if (node->m_pRecord) CopyTrack(motion, *node->m_pRecord, &node->m_pKey, &node->m_nKey);
  }
}

void CPmdBone::SampleMotion(float frame) {
  if (!(frame >= 0.0f)) frame = 0.0f;
  for (CPmdBone* node : Subtree()) node->m_mAnim = SampleTrack(node->m_pKey.get(), node->m_nKey, frame, &node->m_nLastKey);
}

int CPmdBone::UpdateMatrices(D3DXMATRIX* W, D3DXMATRIX* B) {
  if (!W) return 0;
  // parents come first, so every parent's world is already this pass's
  for (CPmdBone* node : Subtree()) {
    D3DXMatrixMultiply(&node->m_mPose, &node->m_mAnim, &node->m_mLocal);
    node->UpdateWorld(W, B);
  }
  return 1;
}

void CPmdBone::UpdateTurned(D3DXMATRIX* W) {
  D3DXMatrixMultiply(&m_mPose, &m_mAnim, &m_mLocal);
  for (CPmdBone* node : Subtree()) node->UpdateWorld(W, nullptr);
}

void CPmdBone::UpdateWorld(D3DXMATRIX* W, D3DXMATRIX* B) {
  if (m_pParent)
    D3DXMatrixMultiply(&m_mWorld, &m_mPose, &m_pParent->m_mWorld);
  else
    m_mWorld = m_mPose;
  if (m_nIndex >= 0) {
    W[m_nIndex] = m_mWorld;
    if (B) B[m_nIndex] = m_mInvBind;
  }
}

void CPmdBone::Draw(IDirect3DDevice9* device, const D3DXMATRIX* parent) {
  TreeWalk<CPmdBone>& walk = Walk();
  const size_t first = size_t(m_nWalk), end = first + size_t(m_nSubtree);
  // Each node's pose (animation x local x its parent's pose) is kept in its
  // slot for its children; this node's parent is the matrix given.
  for (size_t i = first; i < end; ++i) {
    CPmdBone& node = *walk.nodes[i];
    D3DXMATRIX& pose = walk.matrices[i];
    const D3DXMATRIX* above = i == first ? parent : &walk.matrices[size_t(walk.parent[i])];
    D3DXMatrixMultiply(&pose, &node.m_mAnim, &node.m_mLocal);
    if (above) D3DXMatrixMultiply(&pose, &pose, above);
    if (node.m_nIndex >= 0 && node.m_bMarker) {
      D3DXMATRIX world;
      D3DXMatrixMultiply(&world, &node.m_mMarkerScale, &node.m_mMarkerRot);
      D3DXMatrixMultiply(&world, &world, &pose);
      node.m_marker.Draw(device, world);
    }
  }
}

void CPmdBone::Dump(int depth) const {
  static const std::string format = qev::Sjis("%s[%s(%s)] : 位置(%6.2f,%6.2f,%6.2f)\n");
  // The log keeps no more of a message than its first kDebugMaxMessage
  // bytes, so blanks past that many can never show: a deep tree's lines stop
  // growing there and the log reads the same.
  constexpr int64_t kLongestIndent = int64_t(kDebugMaxMessage) + 1;
  const TreeWalk<CPmdBone>& walk = Walk();
  const size_t first = size_t(m_nWalk), end = first + size_t(m_nSubtree);
  std::string indent;
  for (size_t i = first; i < end; ++i) {
    const CPmdBone& node = *walk.nodes[i];
    const int64_t level = std::max<int64_t>(int64_t(depth) + walk.depth[i] - walk.depth[first], 0);
    indent.assign(size_t(std::min(level * 2, kLongestIndent)), ' ');
    if (!node.m_pRecord) {
      DebugPrintf("%s[ROOT]\n", indent.c_str());
    } else {
      const D3DXVECTOR3 h = BoneHead(*node.m_pRecord);
      DebugPrintf(format.c_str(), indent.c_str(), BoneName(*node.m_pRecord).c_str(), "", h.x, h.y, h.z);
    }
  }
}
