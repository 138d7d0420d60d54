// What the skeleton and the IK goal tree share: a bone's name as a string,
// the pose matrix R(q) x T(t), and a node's own copy of its motion track and
// its sampling at a frame.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "platform/d3dx9_math.h"

class CVmdFile;
struct ModelBone;
struct VmdBoneKey;

// The name motions and poses know the bone by (code page 932).
const std::string& BoneName(const ModelBone& rec);

// The head position of a bone (model space).
D3DXVECTOR3 BoneHead(const ModelBone& rec);

// The bind-pose offset of a bone from its parent's head: T(head - parent
// head), or T(head) when the parent stands for no bone.
D3DXMATRIX LocalMatrix(const ModelBone& rec, const ModelBone* parent);

// R(q) x T(t): a bone's pose in its own space.
D3DXMATRIX PoseMatrix(const D3DXQUATERNION& q, const D3DXVECTOR3& t);

// The keys of the motion's track of that bone's name, copied; none when the
// motion has no such track.
void CopyTrack(const CVmdFile& motion, const ModelBone& rec, std::unique_ptr<VmdBoneKey[]>* keys, int32_t* count);

// The animation from n keys at a frame (clamped below at 0); the identity
// without keys. `last` remembers the interval for the next frame.
D3DXMATRIX SampleTrack(const VmdBoneKey* keys, int32_t n, float frame, int32_t* last);
