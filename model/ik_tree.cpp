#include "model/ik_tree.h"

#include <algorithm>
#include <cmath>

#include "model/bone_pose.h"
#include "model/model_description.h"
#include "model/pmd_bone.h"
#include "model/vmd_file.h"
#include "model/vpd_file.h"

namespace {

// Solver constants
constexpr float kReached = 0.02f;       // effector this close to the goal: the list is done
constexpr float kSmallestAngle = 0.003f;  // radians; smaller corrections are skipped
constexpr float kKneeMin = 0.002f;       // a knee always bends forward a little
constexpr float kKneeMax = 3.14159f;

// The origin carried through a x b: the fourth row of the product, alone,
// summed in the order the whole product sums it.
D3DXVECTOR3 OriginThrough(const D3DXMATRIX& a, const D3DXMATRIX& b) {
  float r[3];
  for (int j = 0; j < 3; ++j) r[j] = a._41 * b.m[0][j] + a._42 * b.m[1][j] + a._43 * b.m[2][j] + a._44 * b.m[3][j];
  return D3DXVECTOR3(r[0], r[1], r[2]);
}

CPmdBone* FindNode(const IkSolveTarget& t, int index) {
  if (t.nodes) return t.nodes[index];
  return t.skeleton ? t.skeleton->FindByIndex(index) : nullptr;
}

}  // namespace

CIKTree::CIKTree() {
  D3DXMatrixIdentity(&m_mLocal);
  D3DXMatrixIdentity(&m_mAnim);
}

CIKTree::~CIKTree() { DeleteDescendants(&m_children); }

TreeWalk<CIKTree>& CIKTree::Walk() const {
  CIKTree& top = *m_pTop;
  if (!top.m_pWalk) top.m_pWalk = std::make_unique<TreeWalk<CIKTree>>();
  if (top.m_pWalk->stale) top.m_pWalk->Rebuild(&top);
  return *top.m_pWalk;
}

std::span<CIKTree* const> CIKTree::Subtree() const {
  const TreeWalk<CIKTree>& walk = Walk();
  return std::span<CIKTree* const>(walk.nodes).subspan(size_t(m_nWalk), size_t(m_nSubtree));
}

void CIKTree::WalkChanged() {
  if (m_pTop->m_pWalk) m_pTop->m_pWalk->stale = true;
}

CIKTree* CIKTree::AddChild(int ik, int index, const CModelDescription& model) {
  auto child = std::make_unique<CIKTree>();
  CIKTree* node = child.get();
  m_children.push_back(std::move(child));
  WalkChanged();
  node->m_pTop = m_pTop;
  node->m_nIk = ik;
  node->m_nIndex = index;
  node->m_pRecord = &model.m_bones[size_t(index)];
  node->m_pIkRec = &model.m_iks[size_t(ik)];
  node->m_mLocal = LocalMatrix(*node->m_pRecord, m_pRecord);
  return node;
}

CIKTree* CIKTree::FindByIndex(int index) {
  for (CIKTree* node : Subtree())
    if (node->m_nIndex == index) return node;
  return nullptr;
}

void CIKTree::Clear() {
  ResetPose();
  DeleteDescendants(&m_children);
  WalkChanged();
  m_nIk = -1;
  m_nIndex = -1;
  m_pRecord = nullptr;
  m_pIkRec = nullptr;
}

void CIKTree::ResetPose() {
  D3DXMatrixIdentity(&m_mAnim);
  m_pKey.reset();
  m_nKey = 0;
}

void CIKTree::ApplyPose(const CVpdFile& pose) {
  for (CIKTree* node : Subtree()) {
    node->ResetPose();
    if (node->m_pRecord)
      if (const VpdPoseBone* bone = pose.FindPoseBone(BoneName(*node->m_pRecord).c_str()))
        node->m_mAnim = PoseMatrix(bone->rot, bone->pos);
  }
}

void CIKTree::AttachMotion(const CVmdFile& motion) {
  for (CIKTree* node : Subtree()) {
    node->ResetPose();
    if (node->m_pRecord) CopyTrack(motion, *node->m_pRecord, &node->m_pKey, &node->m_nKey);
  }
}

void CIKTree::SampleMotion(float frame) {
  if (!(frame >= 0.0f)) frame = 0.0f;
  for (CIKTree* node : Subtree()) node->m_mAnim = SampleTrack(node->m_pKey.get(), node->m_nKey, frame, &node->m_nLastKey);
}

int CIKTree::UpdateMatrices(D3DXMATRIX* G, const D3DXMATRIX* parent) {
  if (!G) return 0;
  TreeWalk<CIKTree>& walk = Walk();
  const size_t first = size_t(m_nWalk), end = first + size_t(m_nSubtree);
  for (size_t i = first; i < end; ++i) {
    const CIKTree& node = *walk.nodes[i];
    // local x animation: the goal's own rotation turns its offset from the
    // parent; the node's matrix stays in its slot for its children
    D3DXMATRIX& m = walk.matrices[i];
    const D3DXMATRIX* above = i == first ? parent : &walk.matrices[size_t(walk.parent[i])];
    D3DXMatrixMultiply(&m, &node.m_mLocal, &node.m_mAnim);
    if (above) D3DXMatrixMultiply(&m, &m, above);
    if (node.m_nIk >= 0) G[node.m_nIk] = m;
  }
  return 1;
}

void Solve(const IkSolveTarget& t) {
  if (!t.goals || !t.model || !t.W) return;
  if (!t.goals->UpdateMatrices(t.G, nullptr)) return;
  const CModelDescription& model = *t.model;
  D3DXMATRIX* W = t.W;

  const int lists = model.IkCount();
  for (int k = 0; k < lists; ++k) {
    if (t.ikOn && !t.ikOn[k]) continue;
    const ModelIk& ik = model.m_iks[size_t(k)];
    const int tb = ik.target;
    // the largest turn of one step: a negative limit in the file limits as
    // much as its size (a clamp to [-limit, limit] needs limit >= 0)
    const float limit = std::fabs(ik.limitAngle);
    bool reached = false;
    bool turned = true;
    // A pass that turns no bone leaves everything as it found it, so every
    // later pass would repeat it to the bit: the list is done.
    const int links = int(ik.links.size());
    for (int pass = 0; pass < ik.loops && !reached && turned; ++pass) {
      turned = false;
      for (int i = 0; i < links; ++i) {
        const int b = ik.links[size_t(i)].bone;
        CPmdBone* node = FindNode(t, b);
        if (!node) continue;  // a bone scene assembly left out

        D3DXMATRIX inv;
        if (!D3DXMatrixInverse(&inv, nullptr, &W[b])) continue;
        D3DXVECTOR3 goal = OriginThrough(t.G[k], inv);
        D3DXVECTOR3 eff = OriginThrough(W[tb], inv);
        const D3DXVECTOR3 gap = goal - eff;
        if (D3DXVec3Length(&gap) < kReached) {
          reached = true;
          break;
        }
        // Either end at the bone's own head has no direction to turn by.
        if (D3DXVec3Length(&goal) == 0.0f || D3DXVec3Length(&eff) == 0.0f) continue;
        D3DXVec3Normalize(&goal, &goal);
        D3DXVec3Normalize(&eff, &eff);
        // a dot product a rounding step past 1 would make acos NaN
        float angle = std::acos(std::clamp(D3DXVec3Dot(&eff, &goal), -1.0f, 1.0f));
        if (std::fabs(angle) <= kSmallestAngle) continue;
        angle = std::clamp(angle, -limit, limit);
        D3DXVECTOR3 axis;
        D3DXVec3Cross(&axis, &eff, &goal);
        if (D3DXVec3Length(&axis) == 0.0f) continue;  // opposite directions: no single axis
        D3DXQUATERNION q;
        D3DXQuaternionRotationAxis(&q, &axis, angle);

        if (node->m_bKnee) {
          // A knee turns about its own +X only, by the quaternion's x
          // component (the sine of half the angle times the axis's x), never
          // backwards: a correction along -X or across X shrinks to the minimum.
          D3DXVECTOR3 qAxis;
          D3DXQuaternionToAxisAngle(&q, &qAxis, nullptr);  // the angle is not needed
          const float a = std::clamp(qAxis.x, kKneeMin, kKneeMax);
          D3DXQuaternionRotationYawPitchRoll(&q, 0.0f, a, 0.0f);
          D3DXQuaternionNormalize(&q, &q);
        }

        // the correction acts before the pose the bone already has
        D3DXMATRIX r, anim;
        D3DXMatrixRotationQuaternion(&r, &q);
        D3DXMatrixMultiply(&anim, &r, &node->m_mAnim);
        node->m_mAnim = anim;
        node->UpdateMatrices(W, t.B);
        turned = true;
      }
    }
  }
}
