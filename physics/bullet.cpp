#include "physics/bullet.h"

#include <btBulletDynamicsCommon.h>

#include <cstring>

#include "support/debug.h"

CBullet::~CBullet() { Clear(); }

void CBullet::Clear() {
  // Constraints leave the world before their bodies do, so no body is ever
  // deleted while a constraint still points at it.
  for (BulletJoint& joint : m_joints) {
    if (joint.kind >= 0 && joint.kind <= 5) {
      if (m_world.m_pWorld) m_world.m_pWorld->removeConstraint(joint.constraint);
      delete joint.constraint;
      joint.constraint = nullptr;
    }
  }
  std::vector<BulletJoint>().swap(m_joints);
  for (std::unique_ptr<CRigidBody>& body : m_bodies) body.reset();
  std::vector<std::unique_ptr<CRigidBody>>().swap(m_bodies);
  m_world.Destroy();
  m_pCallback = nullptr;
  m_pCallbackUser = nullptr;
}

void CBullet::OnBodyTransform(int index, const btTransform& transform, void* owner) {
  CBullet* self = static_cast<CBullet*>(owner);
  if (self && self->m_pCallback) self->m_pCallback(index, transform, self);
}

CRigidBody* CBullet::AppendBody() {
  auto body = std::make_unique<CRigidBody>();
  body->m_pCallback = &CBullet::OnBodyTransform;
  body->m_nIndex = BodyCount();
  body->m_pUser = this;
  m_bodies.push_back(std::move(body));
  return m_bodies.back().get();
}

int CBullet::CreateJoint(const JointParams& p, const char* name) {
  const int count = BodyCount();
  if (p.bodyA == p.bodyB) {
    DebugPrintfW(u"剛体1と2が同一 : %d\n", p.bodyA);
    return 0;
  }
  if (p.bodyA < 0 || p.bodyA > count - 1) {
    DebugPrintfW(u"剛体1の指定が範囲外 : %d\n", p.bodyA);
    return 0;
  }
  if (p.bodyB < 0 || p.bodyB > count - 1) {
    DebugPrintfW(u"剛体2の指定が範囲外 : %d\n", p.bodyB);
    return 0;
  }
  // A record that made no body keeps its place in the list as an empty entry.
  btRigidBody* a = m_bodies[p.bodyA]->m_pBody;
  btRigidBody* b = m_bodies[p.bodyB]->m_pBody;
  if (!a) {
    DebugPrintfW(u"剛体1が作成されていない : %d\n", p.bodyA);
    return 0;
  }
  if (!b) {
    DebugPrintfW(u"剛体2が作成されていない : %d\n", p.bodyB);
    return 0;
  }

  BulletJoint joint;
  std::strncpy(joint.name, name ? name : "", sizeof joint.name - 1);
  joint.kind = 0;
  auto* constraint = new btGeneric6DofSpringConstraint(*a, *b, p.frameA, p.frameB, true);
  joint.constraint = constraint;
  m_joints.push_back(joint);

  constraint->setLinearLowerLimit(btVector3(p.linearLower[0], p.linearLower[1], p.linearLower[2]));
  constraint->setLinearUpperLimit(btVector3(p.linearUpper[0], p.linearUpper[1], p.linearUpper[2]));
  constraint->setAngularLowerLimit(btVector3(p.angularLower[0], p.angularLower[1], p.angularLower[2]));
  constraint->setAngularUpperLimit(btVector3(p.angularUpper[0], p.angularUpper[1], p.angularUpper[2]));
  // The springs stay off: the stiffness is kept in the constraint only.
  for (int axis = 0; axis < 6; ++axis) {
    constraint->enableSpring(axis, false);
    constraint->setStiffness(axis, p.stiffness[axis]);
    constraint->setDamping(axis, 0.1f);
  }
  constraint->setEquilibriumPoint();
  if (m_world.m_pWorld) m_world.m_pWorld->addConstraint(constraint, false);
  return 1;
}

void CBullet::Step(float timeStep) {
  // No sub-steps: the library takes the whole step at once, without
  // interpolation or left-over time, so one call is one displayed frame.
  if (m_world.m_pWorld) m_world.m_pWorld->stepSimulation(timeStep, 0, 1.0f / 60.0f);
}

void CBullet::StepPart(float timeStep, int part, int parts) {
  if (parts <= 1 || !(timeStep > 0)) {  // no time to cut up
    Step(timeStep);
    return;
  }
  if (!m_world.m_pWorld) return;
  for (const std::unique_ptr<CRigidBody>& body : m_bodies)
    if (body->m_pBody && body->m_pBody->isKinematicObject()) body->MoveAlongPath(part, parts);
  // The same single internal step as Step, of the part's length. The
  // library gives a follower the speed of its last move (from where it
  // stood to where it was put), and a joint pulls its simulated partner
  // after it by the distance it sees between them: moving the followers a
  // part of the way at a time cuts the gap that opens in a step as much.
  const float partStep = timeStep / float(parts);
  // Only the last part's transforms are handed on: the places the bodies
  // pass through before it are never shown, and nothing in the world reads
  // what the callback writes.
  const BulletTransformCallback callback = m_pCallback;
  if (part < parts) m_pCallback = nullptr;
  m_world.m_pWorld->stepSimulation(partStep, 0, partStep);
  m_pCallback = callback;
}

float CBullet::JointGap(int index) const {
  const btTypedConstraint* constraint = m_joints[index].constraint;
  if (!constraint) return 0.0f;
  const auto* joint = static_cast<const btGeneric6DofSpringConstraint*>(constraint);
  const btVector3 a = joint->getRigidBodyA().getCenterOfMassTransform() * joint->getFrameOffsetA().getOrigin();
  const btVector3 b = joint->getRigidBodyB().getCenterOfMassTransform() * joint->getFrameOffsetB().getOrigin();
  return (a - b).length();
}

void CBullet::DebugDraw() {
  if (m_world.m_pWorld && m_world.m_pWorld->getDebugDrawer()) m_world.m_pWorld->debugDrawWorld();
}
