// CBullet: the physics of the loaded model: its world, the list of bodies
// (a body's index is its position here, the ground after the model's) and of
// joints, and the callback through which simulated bodies report back.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

// The whole library: whoever works with the world here sees its bodies and
// constraints complete.
#include <btBulletDynamicsCommon.h>

#include "physics/bullet_world.h"
#include "physics/rigid_body.h"

class btTypedConstraint;
class CBullet;

// A joint between two bodies of the list. Frames are each body's own space;
// limits are model units and radians.
struct JointParams {
  int32_t bodyA = 0;
  btTransform frameA = btTransform::getIdentity();
  int32_t bodyB = 0;
  btTransform frameB = btTransform::getIdentity();
  float linearLower[3] = {0, 0, 0};
  float linearUpper[3] = {0, 0, 0};
  float angularLower[3] = {0, 0, 0};
  float angularUpper[3] = {0, 0, 0};
  float stiffness[6] = {0, 0, 0, 0, 0, 0};  // linear x, y, z, angular x, y, z
};

struct BulletJoint {
  char name[256] = {};
  int32_t kind = 0;  // 0: six degrees of freedom with springs, the only kind made
  btTypedConstraint* constraint = nullptr;  // owned
};

using BulletTransformCallback = void (*)(int index, const btTransform& transform, CBullet* owner);

class CBullet {
 public:
  CBullet() = default;
  CBullet(const CBullet&) = delete;
  CBullet& operator=(const CBullet&) = delete;
  virtual ~CBullet();

  // Every body, joint and library object goes; the callback is cleared.
  void Clear();
  // The relay every body is given: forwards to the owner's callback when set.
  static void OnBodyTransform(int index, const btTransform& transform, void* owner);
  // A new empty body at the end of the list, its index and relay set.
  CRigidBody* AppendBody();
  // A spring joint between two bodies of the list; 1, or 0 when the indices
  // are equal, out of the list, or name an empty entry (logged).
  int CreateJoint(const JointParams& p, const char* name);

  // One step of the world by timeStep seconds (0: no step, but every active
  // simulated body reports its transform); nothing without a world.
  void Step(float timeStep);
  // Part `part` (1 to parts) of a step of timeStep seconds cut into `parts`
  // equal steps: every body that follows its bone is first set along its
  // path (CRigidBody::MoveAlongPath), then the world steps timeStep / parts;
  // the callback hears of the moving bodies in the last part only. One part
  // of one is exactly Step(timeStep); nothing without a world.
  void StepPart(float timeStep, int part, int parts);
  // How far apart a joint's two anchor points are: the joint's place as
  // body A's frame puts it and as body B's frame puts it, model units. 0
  // for a held-together joint; its translation limits may allow more.
  float JointGap(int index) const;
  // The world's shapes through its debug drawer; nothing without either.
  void DebugDraw();

  int BodyCount() const { return static_cast<int>(m_bodies.size()); }
  CRigidBody* Body(int index) const { return m_bodies[index].get(); }
  int JointCount() const { return static_cast<int>(m_joints.size()); }
  const BulletJoint& Joint(int index) const { return m_joints[index]; }

  BulletTransformCallback m_pCallback = nullptr;
  void* m_pCallbackUser = nullptr;  // what the callback works on; cleared with it
  CBulletWorld m_world;

 private:
  std::vector<std::unique_ptr<CRigidBody>> m_bodies;
  std::vector<BulletJoint> m_joints;
};
