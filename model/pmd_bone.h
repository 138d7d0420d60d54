// CPmdBone: one node of the model's skeleton. The tree holds each bone's bind
// pose, its current animation (from a pose or a motion track), and computes
// every bone's world and inverse-bind matrix into arrays indexed by bone index.
// It also draws the bones as arrow markers and dumps itself to the log. The
// walks run over the tree's nodes in one array (model/tree_walk.h), so a
// skeleton of any depth is posed, drawn, dumped and deleted in steps per node.
#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "model/tree_walk.h"
#include "platform/d3d9.h"
#include "render/d3d_locater.h"

class CModelDescription;
class CVmdFile;
class CVpdFile;
struct ModelBone;
struct VmdBoneKey;

// A vertex this bone moves and with what share of it.
struct BoneInfluence {
  int32_t vertex;
  float weight;
};

class CPmdBone {
 public:
  CPmdBone();
  CPmdBone(const CPmdBone&) = delete;
  CPmdBone& operator=(const CPmdBone&) = delete;
  virtual ~CPmdBone();

  // Appends a node for bone `index` of the model (below the bone count) to
  // this node's children and sets up its bind pose and marker. The tree
  // changes only through AddChild and Clear (the walk order follows them).
  CPmdBone* AddChild(int index, const CModelDescription& model);
  // Depth-first over the descendants (not this node): the first match.
  CPmdBone* FindByIndex(int index);
  // Back to an empty root: pose reset, descendants deleted, index -1.
  void Clear();
  // This node and all below: identity animation, motion keys freed.
  void ResetPose();
  // The pose's bones by name onto the whole tree, with the shared-eye rule.
  void ApplyPose(const CVpdFile& pose);
  // Every bone's own copy of its track from the motion.
  void AttachMotion(const CVmdFile& motion);
  // Every bone's animation from its track at the frame (clamped at 0).
  void SampleMotion(float frame);
  // World matrices of this node and everything below into W (and the
  // inverse-bind matrices into B when given). 0 when W is null.
  int UpdateMatrices(D3DXMATRIX* W, D3DXMATRIX* B);
  // The same after only this node's animation has changed since the last
  // UpdateMatrices over it (an IK turn): the nodes below reuse the
  // animation x local products that update kept. B is left as that update
  // wrote it: an inverse bind depends on the rest pose alone.
  void UpdateTurned(D3DXMATRIX* W);
  // Bone markers of the tree below a parent matrix (null: none).
  void Draw(IDirect3DDevice9* device, const D3DXMATRIX* parent);
  // The tree to the log, two blanks of indentation per level.
  void Dump(int depth) const;

  int32_t m_nIndex = -1;                    // bone index in the model; -1 for the root
  const ModelBone* m_pRecord = nullptr;     // the model's bone, not owned; null for the root
  std::vector<BoneInfluence> m_influences;  // filled by scene assembly
  D3DXMATRIX m_mInvBind;                    // T(-head)
  D3DXMATRIX m_mLocal;                      // T(head - parent head), T(head) below the root
  D3DXMATRIX m_mAnim;                       // the pose in the bone's own space
  int32_t m_nKey = 0;
  std::unique_ptr<VmdBoneKey[]> m_pKey;     // own copy of the motion track
  int32_t m_nLastKey = -1;                  // the interval the last frame was sampled in
  D3DXMATRIX m_mWorld;                      // animation x local x parent's world
  D3DXMATRIX m_mPose;                       // animation x local, as the last update worked it out
  CPmdBone* m_pParent = nullptr;
  std::vector<std::unique_ptr<CPmdBone>> m_children;  // in the order added
  CD3DLocater m_marker;                     // the arrow, mode 0 size 1
  int m_bMarker = 0;                        // the tail points at a bone: the marker is drawn
  int m_bKnee = 0;                          // the name holds "ひざ": IK turns it about its own X only
  D3DXMATRIX m_mMarkerScale;                // scaling (bone length, 1, 1)
  D3DXMATRIX m_mMarkerRot;                  // turns +X onto the direction to the tail

 private:
  friend struct TreeWalk<CPmdBone>;
  void ResetOwnPose();
  // The world from the kept pose and the parent's world, into W (and B).
  void UpdateWorld(D3DXMATRIX* W, D3DXMATRIX* B);
  void ApplyOwnPose(const CVpdFile& pose);
  // This node and all below it in walk order (this node first).
  std::span<CPmdBone* const> Subtree() const;
  // The walk order of the whole tree, refilled when the tree has changed.
  TreeWalk<CPmdBone>& Walk() const;
  void WalkChanged();

  CPmdBone* m_pTop = this;  // the node at the top of this node's tree
  mutable int32_t m_nWalk = 0;     // place in the top's walk order
  mutable int32_t m_nSubtree = 1;  // this node and all below it
  mutable std::unique_ptr<TreeWalk<CPmdBone>> m_pWalk;  // held by the top node only
};
