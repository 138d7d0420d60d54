#include "physics/rigid_body.h"

#include <btBulletDynamicsCommon.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/codepage.h"
#include "platform/d3dx9_math.h"

CRigidBody::~CRigidBody() { Release(); }

int CRigidBody::Create(const RigidBodyParams& p, float mass) {
  if (!m_pShape) return 0;  // nothing to build the body on
  m_bDynamic = p.dynamic;
  btTransform start(btQuaternion(p.rot[0], p.rot[1], p.rot[2], p.rot[3]),
                    btVector3(p.pos[0], p.pos[1], p.pos[2]));
  m_graphicsWorldTrans = start;
  m_startWorldTrans = start;
  m_pathStart = m_pathEnd = start;

  btVector3 inertia(0, 0, 0);
  m_pShape->calculateLocalInertia(mass, inertia);
  btRigidBody::btRigidBodyConstructionInfo info(mass, this, m_pShape, inertia);
  m_pBody = new btRigidBody(info);
  m_pBody->setRestitution(p.restitution);
  m_pBody->setFriction(p.friction);
  m_pBody->setDamping(p.linearDamping, p.angularDamping);
  if (p.dynamic == 0) {
    m_pBody->setCollisionFlags(m_pBody->getCollisionFlags() | btCollisionObject::CF_KINEMATIC_OBJECT);
    m_pBody->setActivationState(DISABLE_DEACTIVATION);
  } else if (mass > 0) {
    // A simulated body never sleeps: the library wakes a sleeping body only
    // when something touches it, not when the body it is jointed to moves,
    // so a hem or a strand put to sleep would be left hanging in the air.
    m_pBody->setActivationState(DISABLE_DEACTIVATION);
  }
  return 1;
}

int CRigidBody::SetShape(int kind, const float size[3]) {
  const float x = std::max(size[0], kSmallestShapeSize);
  const float y = std::max(size[1], kSmallestShapeSize);
  const float z = std::max(size[2], kSmallestShapeSize);
  btCollisionShape* shape = nullptr;
  switch (kind) {
    case 0: shape = new btSphereShape(x); break;
    case 1: shape = new btBoxShape(btVector3(x, y, z)); break;
    case 2: shape = new btCapsuleShape(x, y); break;
    default: return 0;
  }
  delete m_pShape;
  m_pShape = shape;
  return 1;
}

int CRigidBody::CreateGround(float nx, float ny, float nz, const RigidBodyParams& p) {
  Release();
  static const std::string kGround = qev::Sjis("地面");
  std::memcpy(m_szName, kGround.c_str(), kGround.size() + 1);
  const float length = std::sqrt(nx * nx + ny * ny + nz * nz);
  m_pShape = new btStaticPlaneShape(btVector3(nx / length, ny / length, nz / length), 0);
  return Create(p, 0.0f);
}

void CRigidBody::AddTo(btDiscreteDynamicsWorld* world, int group, int mask) {
  if (!m_pBody || !world) return;
  m_pWorld = world;
  if (group != 0 && mask != 0)
    world->addRigidBody(m_pBody, group, mask);
  else
    world->addRigidBody(m_pBody);
}

void CRigidBody::Release() {
  if (m_pBody && m_pWorld) m_pWorld->removeRigidBody(m_pBody);
  m_pWorld = nullptr;
  delete m_pBody;
  m_pBody = nullptr;
  delete m_pShape;
  m_pShape = nullptr;
  std::memset(m_szName, 0, sizeof m_szName);
  m_bDynamic = 1;
}

void CRigidBody::ResetTransform(const btTransform& transform) {
  btDefaultMotionState::setWorldTransform(transform);
  if (!m_pBody) return;
  const btVector3 zero(0, 0, 0);
  m_pBody->setCenterOfMassTransform(transform);
  m_pBody->setLinearVelocity(zero);
  m_pBody->setAngularVelocity(zero);
  m_pBody->setInterpolationLinearVelocity(zero);
  m_pBody->setInterpolationAngularVelocity(zero);
  m_pBody->clearForces();
}

void CRigidBody::FollowTo(const btTransform& transform) {
  // A place that is no number (a hostile model's) is no place to start from.
  m_pathStart = IsFinite(m_graphicsWorldTrans) ? m_graphicsWorldTrans : transform;
  ResetTransform(transform);
}

void CRigidBody::HoldPath() { m_pathStart = m_graphicsWorldTrans; }

void CRigidBody::MoveAlongPath(int part, int parts) {
  if (!m_pBody) return;
  if (part <= 1) {
    // The body stands where the last step or reset left it, or where
    // FollowTo has put it since: that is the path's end.
    m_pathEnd = m_graphicsWorldTrans;
    if (!IsFinite(m_pathEnd)) m_pathEnd = m_pathStart;
    if (!IsFinite(m_pathStart)) m_pathStart = m_pathEnd;
  }
  if (!IsFinite(m_pathEnd)) return;  // nowhere sound to go: left as it is
  // The library takes a follower's speed from where the body was before it
  // was last put somewhere: the first part's move is from the path's start.
  if (part <= 1) ResetTransform(m_pathStart);
  btTransform at = m_pathEnd;
  if (part < parts) {
    const btScalar t = btScalar(part) / btScalar(parts);
    at.setOrigin(m_pathStart.getOrigin().lerp(m_pathEnd.getOrigin(), t));
    at.setRotation(m_pathStart.getRotation().slerp(m_pathEnd.getRotation(), t));
  }
  ResetTransform(at);
  if (part >= parts) m_pathStart = m_pathEnd;
}

bool CRigidBody::OutOfSimulation() const {
  return m_pBody && m_pBody->getActivationState() == DISABLE_SIMULATION;
}

void CRigidBody::ReturnToSimulation() {
  // Back into the simulation as never sleeping, as every moving body is made.
  if (m_pBody && !(m_pBody->isStaticObject() && !m_pBody->isKinematicObject()))
    m_pBody->forceActivationState(DISABLE_DEACTIVATION);
}

void CRigidBody::Drive(const float velocity[3], const float spin[3], bool local, float weight) {
  if (!m_pBody || !m_bDynamic) return;
  btVector3 v(velocity[0], velocity[1], velocity[2]);
  btVector3 w(spin[0], spin[1], spin[2]);
  v *= weight;
  w *= weight;
  if (local) {
    const btMatrix3x3& basis = m_pBody->getWorldTransform().getBasis();
    v = basis * v;
    w = basis * w;
  }
  m_pBody->setLinearVelocity(v);
  m_pBody->setAngularVelocity(w);
  m_pBody->activate(true);
}

bool CRigidBody::HasFiniteState() const {
  if (!m_pBody) return true;
  const btVector3& v = m_pBody->getLinearVelocity();
  const btVector3& w = m_pBody->getAngularVelocity();
  for (int i = 0; i < 3; ++i)
    if (!std::isfinite(v[i]) || !std::isfinite(w[i])) return false;
  return IsFinite(m_pBody->getCenterOfMassTransform());
}

void CRigidBody::setWorldTransform(const btTransform& transform) {
  btDefaultMotionState::setWorldTransform(transform);
  if (m_pCallback) m_pCallback(m_nIndex, transform, m_pUser);
}

btTransform TransformFromMatrix(const D3DXMATRIX& m) {
  const btMatrix3x3 basis(m._11, m._21, m._31,  //
                          m._12, m._22, m._32,  //
                          m._13, m._23, m._33);
  return btTransform(basis, btVector3(m._41, m._42, m._43));
}

btTransform TransformFromMatrixRotation(const D3DXMATRIX& m) {
  D3DXQUATERNION q;
  D3DXQuaternionRotationMatrix(&q, &m);
  return btTransform(btQuaternion(q.x, q.y, q.z, q.w), btVector3(m._41, m._42, m._43));
}

bool IsFinite(const btTransform& t) {
  const btMatrix3x3& b = t.getBasis();
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      if (!std::isfinite(b[r][c])) return false;
  for (int c = 0; c < 3; ++c)
    if (!std::isfinite(t.getOrigin()[c])) return false;
  return true;
}

D3DXMATRIX MatrixFromTransform(const btTransform& t) {
  const btMatrix3x3& b = t.getBasis();
  const btVector3& o = t.getOrigin();
  return D3DXMATRIX(b[0][0], b[1][0], b[2][0], 0,  //
                    b[0][1], b[1][1], b[2][1], 0,  //
                    b[0][2], b[1][2], b[2][2], 0,  //
                    o.x(), o.y(), o.z(), 1);
}
