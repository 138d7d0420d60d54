// The deformation math the richer model format needs beyond the plain
// skeleton: spherical (SDEF) and dual-quaternion (QDEF) skinning of one vertex
// beside the linear kind, grant bones, IK link angle limits and the deform
// layer order of a skeleton. Plain inputs only (matrices, vectors, small
// records), so scene assembly can feed it from the model description.
//
// Space: everything here works in the viewer's space, where the readers have
// already mirrored z (positions (x, y, -z), rotations with x and y negated).
// Matrices are row-vector matrices as everywhere (p' = p x M). A skinning
// matrix is the bone's inverse bind x its world matrix, as scene assembly
// makes them. The one input still in the file's space is an IK link's limits:
// MirrorIkLimits brings them over.
#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "platform/d3dx9_math.h"

// ---- skinning of one vertex ----------------------------------------------

// A skinned position and normal (the normal unit length unless the input
// normal was zero).
struct SkinnedPoint {
  D3DXVECTOR3 pos;
  D3DXVECTOR3 normal;
};

// Linear blend of up to 4 bones: the weighted sum of the skinning matrices
// applied to the point. `bone` indexes `skin`; weights that do not sum to 1
// are scaled to do so (all zero: the first bone alone).
SkinnedPoint SkinLinear(const D3DXMATRIX* skin, const int32_t* bone, const float* weight, int count,
                        const D3DXVECTOR3& pos, const D3DXVECTOR3& normal);

// The per-vertex constants of a spherical vertex, worked out once at load
// from the file's centre C and reference points R0 and R1 (model space, z
// mirrored): R0 and R1 are moved together so that w0 R0 + w1 R1 = C, and
// each bone then carries the midpoint of C and its corrected point.
struct SdefVertex {
  float w0 = 1;         // weight of the first bone, within 0..1; w1 = 1 - w0
  D3DXVECTOR3 c;        // the centre the vertex turns about
  D3DXVECTOR3 cr0;      // (C + corrected R0) / 2, carried by the first bone
  D3DXVECTOR3 cr1;      // (C + corrected R1) / 2, carried by the second bone
};
SdefVertex MakeSdefVertex(float w0, const D3DXVECTOR3& c, const D3DXVECTOR3& r0, const D3DXVECTOR3& r1);

// The rotation of a rigid skinning matrix as a unit quaternion: worked out
// once a frame for every bone, not once a vertex.
D3DXQUATERNION SkinRotation(const D3DXMATRIX& skin);

// Spherical deformation by two bones (skinning matrices and their
// SkinRotation): the offset from C turns by the two bones' rotations blended
// along the sphere (slerp, w0 at the first), then lands on the weighted
// centre the two bones carry. Under pure translations this is exactly linear
// blending; under a bend it keeps the vertex's distance from the joint where
// linear blending pulls it in.
SkinnedPoint SkinSdef(const D3DXMATRIX& skin0, const D3DXMATRIX& skin1, const D3DXQUATERNION& rot0,
                      const D3DXQUATERNION& rot1, const SdefVertex& v, const D3DXVECTOR3& pos,
                      const D3DXVECTOR3& normal);

// SkinSdef's position alone, the same bits, for a frame that draws no normals.
D3DXVECTOR3 SkinSdefPosition(const D3DXMATRIX& skin0, const D3DXMATRIX& skin1, const D3DXQUATERNION& rot0,
                             const D3DXQUATERNION& rot1, const SdefVertex& v, const D3DXVECTOR3& pos);

// A rigid skinning matrix as a unit dual quaternion (real: the rotation;
// dual: half the translation times it), worked out once a frame per bone.
struct DualQuat {
  D3DXQUATERNION real;
  D3DXQUATERNION dual;
};
DualQuat SkinDualQuat(const D3DXMATRIX& skin);

// Dual-quaternion blend of up to 4 bones: the bones' dual quaternions summed
// by weight with every one turned into the first one's hemisphere,
// normalised and applied. `bone` indexes `dq`; weights as SkinLinear.
SkinnedPoint SkinQdef(const DualQuat* dq, const int32_t* bone, const float* weight, int count,
                      const D3DXVECTOR3& pos, const D3DXVECTOR3& normal);

// ---- bones: grant and deform order ----------------------------------------

// What the bone evaluation needs of one bone.
struct DeformBone {
  int32_t parent = -1;   // -1: hangs from the model
  D3DXVECTOR3 head;      // bind position, model space, z mirrored
  int32_t layer = 0;     // deform layer: lower layers first
  bool afterPhysics = false;
  // Grant: this bone also takes `ratio` of the grant parent's rotation
  // and / or translation. Without `grantLocal` the amount is the grant
  // parent's own motion (its key with its own grant, so grants chain); with
  // it, the grant parent's full pose in the model (rotation and displacement
  // of its world matrix from the bind pose).
  int32_t grantParent = -1;
  float grantRatio = 0;
  bool grantRotation = false;
  bool grantTranslation = false;
  bool grantLocal = false;
};

// A bone's motion relative to its bind pose: the rotation acts first, then
// the translation (model space directions, z mirrored).
struct BoneMotion {
  D3DXQUATERNION rot{0, 0, 0, 1};
  D3DXVECTOR3 pos;
};

// Clears the grant of every bone whose grant parent is out of range or
// leads back round to itself (itself included), so a hostile file can never
// make a grant chase its own tail. Returns how many grants were cleared.
int RefuseBadGrants(std::span<DeformBone> bones);

// The evaluation order: bones before the physics step by layer then index,
// then (from *firstAfter on) the bones after it, again by layer then index.
// Parents are not moved ahead of their children (see EvaluateBones for a
// child that comes first).
std::vector<int32_t> DeformOrder(std::span<const DeformBone> bones, size_t* firstAfter);

// Evaluates the bones of `order` (DeformOrder's, or a stretch of it) one by
// one: the bone's effective motion (its key with its grant) into `motion`,
// and its world matrix, motion x T(head - parent head) x parent's world,
// into `world`. A frame calls it for the bones before the physics step and
// again for those after it, or stretch by stretch to run the IK solver
// after each IK bone; `resetMotion` (the first call of a frame only) first
// sets every bone's motion to its key. The solver may change `motion` and
// `world` of the links it turns; bones evaluated later see the turned pose.
//
// A bone evaluated before its parent hangs under the parent's world matrix
// as it stood when the pass began (what `world` held on entry: the last
// frame's pose, the bind pose before the first), so such a child lags one
// frame behind its parent; nothing is evaluated twice. A grant from a bone
// still waiting in this stretch takes that bone's key only (non-local) or
// its world matrix as it stands (local); from any other bone, its `motion`.
//
// `key`, `motion` and `world` hold one entry per bone (shorter: nothing is
// done); order entries, parents and grant parents past the bones are
// ignored. `scratch`, when given, is working space the caller keeps from
// frame to frame, so that a frame allocates nothing.
void EvaluateBones(std::span<const DeformBone> bones, std::span<const int32_t> order,
                   std::span<const BoneMotion> key, std::span<BoneMotion> motion,
                   std::span<D3DXMATRIX> world, bool resetMotion = true,
                   std::vector<uint8_t>* scratch = nullptr);

// ---- IK link angle limits -------------------------------------------------

// Lower and upper Euler angles of an IK link, radians, about x, y and z.
struct IkLimits {
  D3DXVECTOR3 lower;
  D3DXVECTOR3 upper;
};

// The file's limits (left-handed, z not mirrored) in the viewer's space: a
// turn about x or y changes its sign under the z mirror, so those two
// ranges are negated and swap ends; z keeps its range. The classic knee,
// x from -pi to -0.5 degrees in the file, becomes x from 0.5 degrees to pi.
IkLimits MirrorIkLimits(const float lower[3], const float upper[3]);

// The link rotation clamped into its limits: decomposed into Euler angles
// in the order the limits are given (about x first, then y, then z, each
// about the fixed axes), each angle clamped, and put back together. The y
// angle lies within +-90 degrees, x and z cover the whole turn.
D3DXQUATERNION ClampToLimits(const D3DXQUATERNION& q, const IkLimits& limits);

// The Euler angles ClampToLimits works with: q = Rx(x) then Ry(y) then Rz(z).
D3DXVECTOR3 EulerXyz(const D3DXQUATERNION& q);
