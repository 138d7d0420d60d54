// CRigidBody: one body of the physics world and, at the same time, its motion
// state, so every new transform the library gives a simulated body during a
// step is handed on through the body's transform callback. A body that
// follows its bone also keeps the path it takes through a step cut in parts.
#pragma once
#include <cstdint>

#include <LinearMath/btDefaultMotionState.h>

class btCollisionShape;
class btDiscreteDynamicsWorld;
class btRigidBody;

// What a body starts as. Position and rotation are world space (model units,
// right-handed); dynamic 0 is a body that follows its bone.
struct RigidBodyParams {
  float pos[3] = {0, 0, 0};
  float rot[4] = {0, 0, 0, 1};  // unit quaternion x, y, z, w
  int32_t dynamic = 1;
  float restitution = 0;
  float friction = 0;
  float linearDamping = 0;
  float angularDamping = 0;
};

// A body's index in its owner's list, its new world transform, and the owner.
using BodyTransformCallback = void (*)(int index, const btTransform& transform, void* user);

// The least size a shape gets, model units.
constexpr float kSmallestShapeSize = 1e-3f;

class CRigidBody : public btDefaultMotionState {
 public:
  CRigidBody() = default;
  CRigidBody(const CRigidBody&) = delete;
  CRigidBody& operator=(const CRigidBody&) = delete;
  ~CRigidBody() override;

  // The shape of a model's record: 0 sphere (radius x), 1 box (half extents
  // x, y, z), 2 capsule along Y (radius x, height y). A size at or below zero
  // (which would turn the shape inside out) counts as kSmallestShapeSize.
  // 0 for any other kind: no shape.
  int SetShape(int kind, const float size[3]);
  // The library body over the shape set beforehand, starting at the
  // parameters' transform; not yet in a world. 1, or 0 when no shape is set.
  int Create(const RigidBodyParams& p, float mass);
  // A static plane through the origin facing the normal (any length but 0),
  // named "地面"; the result of Create.
  int CreateGround(float nx, float ny, float nz, const RigidBodyParams& p);
  // Into the world: with the group and mask when both are non-zero, with the
  // library's default filter otherwise. Nothing without a library body.
  void AddTo(btDiscreteDynamicsWorld* world, int group, int mask);
  // Out of its world; library body and shape deleted, name zeroed, dynamic 1.
  void Release();
  // Puts the body at a transform, still: both velocities, the interpolation
  // velocities, forces and torques are zeroed. No callback.
  void ResetTransform(const btTransform& transform);

  // A body that follows its bone is put on its bone's new place
  // (ResetTransform); where it stood before becomes the start of the path it
  // takes through the parts of the next step.
  void FollowTo(const btTransform& transform);
  // The next step's path starts where the body stands now: after a reset
  // the body jumped and must not sweep through the space it left.
  void HoldPath();
  // Part `part` (1 to parts) of a step cut in `parts`: the body is put
  // part/parts of the way along its path (position along the line, rotation
  // along the shortest arc; exactly the path's end at the last part). The
  // library's next step gives it the speed of that move.
  void MoveAlongPath(int part, int parts);

  // Whether the library took the body out of the simulation (it does so for
  // a body whose bounds overflowed), and putting it back in.
  bool OutOfSimulation() const;
  void ReturnToSimulation();
  // A simulated body given the velocities weight x (velocity, spin): model
  // units a second and radians a second, in world space or, with local set,
  // in the body's own axes. Set, not added, so a push held over many frames
  // keeps its speed rather than gaining some every frame. Nothing for a
  // body that follows its bone or an empty entry.
  void Drive(const float velocity[3], const float spin[3], bool local, float weight);
  // Whether the body's transform and velocities are all finite (also true
  // for an empty entry).
  bool HasFiniteState() const;

  // From the library during a step: stored, then handed to the callback.
  void setWorldTransform(const btTransform& transform) override;

  BodyTransformCallback m_pCallback = nullptr;
  char m_szName[256] = {};
  int32_t m_nIndex = 0;
  void* m_pUser = nullptr;
  btDiscreteDynamicsWorld* m_pWorld = nullptr;  // the world it was added to
  btCollisionShape* m_pShape = nullptr;         // owned
  btRigidBody* m_pBody = nullptr;               // owned; null: an empty entry
  int32_t m_bDynamic = 1;
  // A follower's path through the step cut in parts: where it stood when the
  // world last advanced (or was reset), and where its bone puts it now.
  btTransform m_pathStart = btTransform::getIdentity();
  btTransform m_pathEnd = btTransform::getIdentity();
};

struct D3DXMATRIX;

// A row-vector matrix as a library transform: basis the transpose of the
// upper 3x3, origin the fourth row.
btTransform TransformFromMatrix(const D3DXMATRIX& m);
// The same with the rotation taken as the matrix's quaternion (so a matrix
// that is only nearly orthonormal gives an exact rotation).
btTransform TransformFromMatrixRotation(const D3DXMATRIX& m);
// Whether every number of the transform is finite.
bool IsFinite(const btTransform& t);
// A library transform as a row-vector matrix, 0 0 0 1 in the fourth column.
D3DXMATRIX MatrixFromTransform(const btTransform& t);
