// CIKTree: the model's IK goal bones arranged by parent, each animated by its
// own pose or motion track like an ordinary bone; its world matrices say where
// every IK list's goal is. Solve then turns the chain bones of the skeleton
// towards those goals (cyclic coordinate descent, with the knee rule, or a
// PMX link's angle limits where it has them).
#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "model/tree_walk.h"
#include "platform/d3dx9_math.h"

class CPmdBone;
class CModelDescription;
class CVmdFile;
class CVpdFile;
struct ModelBone;
struct ModelIk;
struct VmdBoneKey;

class CIKTree {
 public:
  CIKTree();
  CIKTree(const CIKTree&) = delete;
  CIKTree& operator=(const CIKTree&) = delete;
  virtual ~CIKTree();

  // Appends the goal node of IK list `ik`, whose IK bone is `index`. The
  // tree changes only through AddChild and Clear (the walk order follows them).
  CIKTree* AddChild(int ik, int index, const CModelDescription& model);
  // This node itself when its bone matches, else the first match below.
  CIKTree* FindByIndex(int index);
  void Clear();
  // This node only: identity animation, keys freed.
  void ResetPose();
  void ApplyPose(const CVpdFile& pose);
  void AttachMotion(const CVmdFile& motion);
  void SampleMotion(float frame);
  // G[ik] = local x animation (x parent) for every node below; 0 when G is null.
  int UpdateMatrices(D3DXMATRIX* G, const D3DXMATRIX* parent);

  int32_t m_nIk = -1;     // IK list index; -1 for the root
  int32_t m_nIndex = -1;  // the IK bone's index; -1 for the root
  const ModelBone* m_pRecord = nullptr;
  const ModelIk* m_pIkRec = nullptr;
  D3DXMATRIX m_mLocal;
  D3DXMATRIX m_mAnim;
  int32_t m_nKey = 0;
  std::unique_ptr<VmdBoneKey[]> m_pKey;
  int32_t m_nLastKey = -1;  // the interval the last frame was sampled in
  std::vector<std::unique_ptr<CIKTree>> m_children;

 private:
  friend struct TreeWalk<CIKTree>;
  // This node and all below it in walk order (this node first).
  std::span<CIKTree* const> Subtree() const;
  TreeWalk<CIKTree>& Walk() const;
  void WalkChanged();

  CIKTree* m_pTop = this;  // the node at the top of this node's tree
  mutable int32_t m_nWalk = 0;
  mutable int32_t m_nSubtree = 1;
  mutable std::unique_ptr<TreeWalk<CIKTree>> m_pWalk;  // held by the top node only
};

// What Solve works on. `nodes` finds the skeleton node of a bone index (null
// for bones not in the skeleton); with none given the tree is searched.
struct IkSolveTarget {
  CIKTree* goals = nullptr;
  CPmdBone* skeleton = nullptr;
  const CModelDescription* model = nullptr;
  D3DXMATRIX* W = nullptr;
  D3DXMATRIX* B = nullptr;
  D3DXMATRIX* G = nullptr;
  CPmdBone* const* nodes = nullptr;  // one per bone of the model, or null
  const uint8_t* ikOn = nullptr;     // one per IK list, 0 where the motion switched it off; null: all on
};

// One pass of every IK list that is on, in file order.
void Solve(const IkSolveTarget& target);

// Columns x, y and z of the inverse of a bone's world matrix: all the solver
// reads of it (it carries points, whose w stays 1). Equal to those of
// D3DXMatrixInverse, worked out with less: false where that finds the
// matrix singular.
struct BoneWorldInverse {
  float m[4][3];
};
bool InverseOfBoneWorld(const D3DXMATRIX& w, BoneWorldInverse* out);
