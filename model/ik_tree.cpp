#include "model/ik_tree.h"

#include <algorithm>
#include <cmath>

#include "model/bone_pose.h"
#include "model/model_description.h"
#include "model/pmd_bone.h"
#include "model/pmx_deform.h"
#include "model/vmd_file.h"
#include "model/vpd_file.h"

namespace {

// Solver constants
constexpr float kReached = 0.02f;       // effector this close to the goal: the list is done
constexpr float kSmallestAngle = 0.003f;  // radians; smaller corrections are skipped
constexpr float kKneeMin = 0.002f;       // a knee always bends forward a little
constexpr float kKneeMax = 3.14159f;

// The origin carried through a x inv: the fourth row of the product, alone,
// summed in the order the whole product sums it.
D3DXVECTOR3 OriginThrough(const D3DXMATRIX& a, const BoneWorldInverse& inv) {
  float r[3];
  for (int j = 0; j < 3; ++j) r[j] = a._41 * inv.m[0][j] + a._42 * inv.m[1][j] + a._43 * inv.m[2][j] + a._44 * inv.m[3][j];
  return D3DXVECTOR3(r[0], r[1], r[2]);
}

CPmdBone* FindNode(const IkSolveTarget& t, int index) {
  if (t.nodes) return t.nodes[index];
  return t.skeleton ? t.skeleton->FindByIndex(index) : nullptr;
}

}  // namespace

// The general inverse works in double by cofactors. A bone's world matrix
// (last column exactly 0, 0, 0, 1, every entry finite) makes most of its
// products zeros that cannot change a sum, so only the rest is worked out
// here: the same values, in the same order, with the same roundings.
bool InverseOfBoneWorld(const D3DXMATRIX& w, BoneWorldInverse* out) {
  const float(&e)[4][4] = w.m;
  float spread = 0.0f;  // not 0 (but NaN) once any entry is infinite or NaN
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 3; ++c) spread += e[r][c] * 0.0f;
  if (e[0][3] != 0.0f || e[1][3] != 0.0f || e[2][3] != 0.0f || e[3][3] != 1.0f || spread != 0.0f) {
    D3DXMATRIX inv;
    if (!D3DXMatrixInverse(&inv, nullptr, &w)) return false;
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 3; ++c) out->m[r][c] = inv.m[r][c];
    return true;
  }
  // a[4 r + c] = row r, column c, as the general inverse names them;
  // a[3], a[7], a[11] are 0 and a[15] is 1
  const double a0 = e[0][0], a1 = e[0][1], a2 = e[0][2];
  const double a4 = e[1][0], a5 = e[1][1], a6 = e[1][2];
  const double a8 = e[2][0], a9 = e[2][1], a10 = e[2][2];
  const double a12 = e[3][0], a13 = e[3][1], a14 = e[3][2];
  const double s0 = a0 * a5 - a4 * a1, s1 = a0 * a6 - a4 * a2, s3 = a1 * a6 - a5 * a2;
  const double c3 = a9 * a14 - a13 * a10, c1 = a8 * a14 - a12 * a10, c0 = a8 * a13 - a12 * a9;
  // s2, s4, s5 are 0; c5, c4, c2 are a10, a9, a8
  const double d = s0 * a10 - s1 * a9 + s3 * a8;
  if (d == 0.0 || !std::isfinite(d)) return false;
  const double k = 1.0 / d;
  const double r[4][3] = {
      {(a5 * a10 - a6 * a9) * k, (-a1 * a10 + a2 * a9) * k, s3 * k},
      {(-a4 * a10 + a6 * a8) * k, (a0 * a10 - a2 * a8) * k, -s1 * k},
      {(a4 * a9 - a5 * a8) * k, (-a0 * a9 + a1 * a8) * k, s0 * k},
      {(-a4 * c3 + a5 * c1 - a6 * c0) * k, (a0 * c3 - a1 * c1 + a2 * c0) * k, (-a12 * s3 + a13 * s1 - a14 * s0) * k}};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 3; ++j) out->m[i][j] = float(r[i][j]);
  return true;
}

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
  const bool pmx = model.m_format == kModelPmx;

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
        const ModelIkLink& link = ik.links[size_t(i)];
        const int b = link.bone;
        CPmdBone* node = FindNode(t, b);
        if (!node) continue;  // a bone scene assembly left out

        BoneWorldInverse inv;
        if (!InverseOfBoneWorld(W[b], &inv)) continue;
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

        // A PMX link with limits keeps within them instead of the knee rule.
        const bool limited = pmx && link.hasLimits;
        if (node->m_bKnee && !limited) {
          // A knee turns about its own +X only, by the quaternion's x
          // component (the sine of half the angle times the axis's x), never
          // backwards: a correction along -X or across X shrinks to the minimum.
          // The turn about X by a is (sin a/2, 0, 0, cos a/2), normalised,
          // exactly as the yaw-pitch-roll quaternion of (0, a, 0) comes out.
          const float a = std::clamp(q.x, kKneeMin, kKneeMax);
          const float s = std::sin(a / 2), c = std::cos(a / 2);
          const float len = std::sqrt(s * s + c * c);
          q = D3DXQUATERNION(s / len, 0.0f, 0.0f, c / len);
        }

        // the correction acts before the pose the bone already has
        D3DXMATRIX r, anim;
        D3DXMatrixRotationQuaternion(&r, &q);
        D3DXMatrixMultiply(&anim, &r, &node->m_mAnim);
        if (limited) {
          // the link's whole turn, its own pose and every correction so far
          // (limits are already in our space: the description mirrors them)
          D3DXQUATERNION turn;
          D3DXQuaternionRotationMatrix(&turn, &anim);
          turn = ClampToLimits(turn, IkLimits{D3DXVECTOR3(link.lower[0], link.lower[1], link.lower[2]),
                                              D3DXVECTOR3(link.upper[0], link.upper[1], link.upper[2])});
          anim = PoseMatrix(turn, D3DXVECTOR3(anim._41, anim._42, anim._43));
        }
        node->m_mAnim = anim;
        node->UpdateTurned(W);
        turned = true;
      }
    }
  }
}
