// The model's physics: its rigid body and joint records become bodies and
// constraints of a fresh world on every load, and every frame the bodies that
// follow bones are put on them while the simulated ones write their bones
// back from inside the step (the last of its sub-steps).
#include "app/model_physics.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "app/scene.h"
#include "physics/bullet.h"
#include "physics/bullet_debug_draw.h"
#include "platform/codepage.h"
#include "platform/d3dx9_math.h"
#include "support/debug.h"

namespace {

constexpr float kGravity = -98.0f;           // model units per second squared
constexpr int32_t kNoBone = -1;  // a body on no bone

// The largest size or distance from the origin a body may have, model units
// (a character is about 20). Past it the library's own arithmetic (squares of
// sizes, distances between bodies) overflows, and it drops moving bodies
// whose bounds are wider than this anyway.
constexpr float kLargestExtent = 1e6f;

// Three floats of a record. The records are packed as in the file, so a
// float pointer into one may be misaligned: the numbers are copied out.
struct Float3 {
  float v[3];
};

Float3 Get3(const void* field) {
  Float3 f;
  std::memcpy(f.v, field, sizeof f.v);
  return f;
}

bool Finite(const float* v, int n) {
  for (int i = 0; i < n; ++i)
    if (!std::isfinite(v[i])) return false;
  return true;
}

bool Finite(const D3DXMATRIX& m) { return Finite(&m._11, 16); }
bool Finite(const Float3& f) { return Finite(f.v, 3); }

bool WithinReach(const float* v, int n) {
  for (int i = 0; i < n; ++i)
    if (!(std::fabs(v[i]) <= kLargestExtent)) return false;
  return true;
}

bool WithinReach(const Float3& f) { return WithinReach(f.v, 3); }

D3DXMATRIX Identity() {
  D3DXMATRIX m;
  D3DXMatrixIdentity(&m);
  return m;
}

// rotation(yaw = y, pitch = x, roll = z) x translation(pos): how a record's
// Euler angles and position place it.
D3DXMATRIX RotationThenTranslation(const Float3& rot, const Float3& pos) {
  D3DXMATRIX r, t, m;
  D3DXMatrixRotationYawPitchRoll(&r, rot.v[1], rot.v[0], rot.v[2]);
  D3DXMatrixTranslation(&t, pos.v[0], pos.v[1], pos.v[2]);
  D3DXMatrixMultiply(&m, &r, &t);
  return m;
}

// Every number of a record that the world would take in, sizes and position
// within reach.
bool SoundRecord(const ModelRigidBody& r) {
  return WithinReach(Get3(&r.size)) && WithinReach(Get3(&r.pos)) && Finite(Get3(&r.rot)) &&
         std::isfinite(r.mass) && r.mass >= 0 && std::isfinite(r.linearDamping) &&
         std::isfinite(r.angularDamping) && std::isfinite(r.restitution) && std::isfinite(r.friction);
}

// The same for a joint; the spring values are left out: they are stored but
// never act.
bool SoundRecord(const ModelJoint& j) {
  return WithinReach(Get3(&j.pos)) && Finite(Get3(&j.rot)) && Finite(Get3(&j.posLower)) &&
         Finite(Get3(&j.posUpper)) && Finite(Get3(&j.rotLower)) && Finite(Get3(&j.rotUpper));
}

}  // namespace

// What each rigid body record became.
struct BodyLink {
  CPmdBone* node = nullptr;  // the bone it is tied to; null: none
  int bone = -1;             // its index, for the world matrix array
  uint8_t mode = 0;          // 0 follows the bone, 1 sets it, 2 sets its rotation only
};

struct CModelPhysics::Impl {
  CBullet bullet;
  CBulletDebugDraw* drawer = nullptr;
  CScene* scene = nullptr;  // the scene the bodies write back into
  // By rigid body record: its transform relative to its bone (identity
  // without one), the inverse of that, and what it is tied to.
  std::vector<D3DXMATRIX> offsets;
  std::vector<D3DXMATRIX> inverseOffsets;
  std::vector<BodyLink> links;
  bool nonFiniteReported = false;  // one line per load, not per frame
  int substeps = kDefaultPhysicsSubsteps;  // a setting: kept by Clear

  // Body n back onto its bone (or where it started without one), still.
  void ResetToBone(int n);
  // The log line for a body repaired so, once per load.
  void ReportRepair(int n);
  // Bodies whose numbers overflowed in the last (sub-)step go back and stop.
  void RepairOverflows();
  void PlaceBodies(bool simulated);
  static void ApplyBodyToBone(int index, const btTransform& transform, CBullet* owner);
};

CModelPhysics::CModelPhysics() : m_impl(std::make_unique<Impl>()) {}
CModelPhysics::~CModelPhysics() = default;

void CModelPhysics::Clear() {
  m_impl->bullet.Clear();
  std::vector<D3DXMATRIX>().swap(m_impl->offsets);
  std::vector<D3DXMATRIX>().swap(m_impl->inverseOffsets);
  std::vector<BodyLink>().swap(m_impl->links);
  m_impl->scene = nullptr;
  m_impl->nonFiniteReported = false;
}

void CModelPhysics::Build(CScene& scene) {
  Clear();
  Impl& s = *m_impl;
  CBullet& bullet = s.bullet;
  if (bullet.m_world.Create(kGravity, s.drawer)) {
    bullet.m_pCallback = &Impl::ApplyBodyToBone;
    bullet.m_pCallbackUser = &s;
  }
  btDiscreteDynamicsWorld* world = bullet.m_world.m_pWorld;  // null only if Create failed
  s.scene = &scene;

  const CModelDescription& model = scene.m_model;
  const int bodyCount = int(model.m_bodies.size());
  s.offsets.assign(bodyCount, Identity());
  s.inverseOffsets.assign(bodyCount, Identity());
  s.links.assign(bodyCount, BodyLink());
  std::vector<D3DXMATRIX> placements(bodyCount, Identity());  // world transforms at creation

  static const std::string kPlaced = qev::Sjis("剛体配置 : %s (%f,%f,%f)\n");
  static const std::string kUnknown = qev::Sjis("不明な剛体\n");
  static const std::string kBadBone = qev::Sjis("剛体のボーン指定が不正 : %s (%d)\n");
  static const std::string kBadNumber = qev::Sjis("剛体の数値が不正 : %s\n");
  static const std::string kBadJoint = qev::Sjis("ジョイントの数値が不正 : %s\n");

  for (int n = 0; n < bodyCount; ++n) {
    const ModelRigidBody& r = model.m_bodies[size_t(n)];
    const std::string& name = r.name;
    if (!SoundRecord(r)) {
      DebugPrintf(kBadNumber.c_str(), name.c_str());
      bullet.AppendBody();  // keeps the later records' indices
      continue;
    }
    // A bone past the list, or one the skeleton left out (eye bones, IK
    // bones), places the body as if it had none.
    CPmdBone* node = nullptr;
    if (r.bone != kNoBone) {
      node = r.bone >= 0 && r.bone < model.BoneCount() ? scene.BoneNode(r.bone) : nullptr;
      if (!node) DebugPrintf(kBadBone.c_str(), name.c_str(), int(r.bone));
    }
    if (node) {
      const Float3 head = Get3(&model.m_bones[size_t(r.bone)].head);
      D3DXMATRIX atHead;
      D3DXMatrixTranslation(&atHead, head.v[0], head.v[1], head.v[2]);
      s.offsets[n] = RotationThenTranslation(Get3(&r.rot), Get3(&r.pos));
      D3DXMatrixInverse(&s.inverseOffsets[n], nullptr, &s.offsets[n]);
      D3DXMatrixMultiply(&placements[n], &s.offsets[n], &atHead);
      DebugPrintf(kPlaced.c_str(), name.c_str(), placements[n]._41, placements[n]._42, placements[n]._43);
      if (!Finite(placements[n]) || !WithinReach(&placements[n]._41, 3)) {  // a bone head out of reach
        DebugPrintf(kBadNumber.c_str(), name.c_str());
        s.offsets[n] = s.inverseOffsets[n] = Identity();
        bullet.AppendBody();
        continue;
      }
    }
    s.links[n].node = node;
    s.links[n].bone = node ? r.bone : -1;
    s.links[n].mode = r.mode;

    RigidBodyParams p;
    const D3DXMATRIX& P = placements[n];
    p.pos[0] = P._41;
    p.pos[1] = P._42;
    p.pos[2] = P._43;
    D3DXQUATERNION q;
    D3DXQuaternionRotationMatrix(&q, &P);
    p.rot[0] = q.x;
    p.rot[1] = q.y;
    p.rot[2] = q.z;
    p.rot[3] = q.w;
    p.dynamic = r.mode != 0 ? 1 : 0;
    p.restitution = r.restitution;
    p.friction = r.friction;
    p.linearDamping = r.linearDamping;
    p.angularDamping = r.angularDamping;
    const float mass = r.mode != 0 ? r.mass : 0.0f;
    const int group = uint16_t(1u << (r.group & 31));
    const int mask = r.mask;

    CRigidBody* body = bullet.AppendBody();
    if (!body->SetShape(r.shape, Get3(&r.size).v)) {
      DebugPrintf("%s", kUnknown.c_str());
      continue;  // an empty entry: every pass and joint skips it
    }
    // a PMX name may be longer than the field; the last byte stays the terminator
    std::memcpy(body->m_szName, name.data(), std::min(name.size(), sizeof body->m_szName - 1));
    body->Create(p, mass);
    body->AddTo(world, group, mask);
  }

  CRigidBody* ground = bullet.AppendBody();
  RigidBodyParams g;
  g.dynamic = 1;
  g.restitution = 0.5f;
  g.friction = 0.5f;
  g.linearDamping = 0.0f;
  g.angularDamping = 0.8f;
  ground->CreateGround(0, 1, 0, g);
  ground->AddTo(world, 0, 0);

  const int count = bullet.BodyCount();
  // The ground and anything out of range have no entry in the placement
  // table: the ground's own transform is the identity, and out-of-range
  // joints are refused by CreateJoint before their frames matter.
  auto placementOf = [&](int i) { return i >= 0 && i < bodyCount ? placements[i] : Identity(); };
  const int joints = int(model.m_joints.size());
  for (int k = 0; k < joints; ++k) {
    const ModelJoint& j = model.m_joints[size_t(k)];
    const std::string& name = j.name;
    JointParams p;
    p.bodyA = j.bodyA;
    p.bodyB = j.bodyB;
    const bool indicesOk = p.bodyA != p.bodyB && p.bodyA >= 0 && p.bodyA < count && p.bodyB >= 0 && p.bodyB < count;
    if (indicesOk) {
      const D3DXMATRIX J = RotationThenTranslation(Get3(&j.rot), Get3(&j.pos));
      D3DXMATRIX inverse, frame;
      const D3DXMATRIX placeA = placementOf(p.bodyA), placeB = placementOf(p.bodyB);
      D3DXMatrixInverse(&inverse, nullptr, &placeA);
      D3DXMatrixMultiply(&frame, &J, &inverse);
      p.frameA = TransformFromMatrixRotation(frame);
      D3DXMatrixInverse(&inverse, nullptr, &placeB);
      D3DXMatrixMultiply(&frame, &J, &inverse);
      p.frameB = TransformFromMatrixRotation(frame);
      if (!SoundRecord(j) || !IsFinite(p.frameA) || !IsFinite(p.frameB)) {
        DebugPrintf(kBadJoint.c_str(), name.c_str());
        continue;
      }
    }
    for (int a = 0; a < 3; ++a) {
      p.linearLower[a] = j.posLower[a];
      p.linearUpper[a] = j.posUpper[a];
      p.angularLower[a] = j.rotLower[a];
      p.angularUpper[a] = j.rotUpper[a];
      p.stiffness[a] = j.posSpring[a];
      p.stiffness[3 + a] = j.rotSpring[a];
    }
    bullet.CreateJoint(p, name.c_str());
  }
}

// Every body that is simulated (any mode but 0, so also the modes past 2 that
// files may hold) goes back with the others: one left behind would pull its
// chain off the bones after each reset.
void CModelPhysics::Impl::PlaceBodies(bool simulated) {
  if (!scene) return;
  const D3DXMATRIX* W = scene->W();
  const int n = static_cast<int>(links.size());
  for (int i = 0; i < n; ++i) {
    const BodyLink& link = links[i];
    if (!link.node || (link.mode != 0) != simulated) continue;
    CRigidBody* body = bullet.Body(i);
    if (!body->m_pBody) continue;
    D3DXMATRIX m;
    D3DXMatrixMultiply(&m, &offsets[i], &W[link.bone]);
    // A bone gone non-finite (from a hostile model) keeps the body where it
    // was rather than bring the numbers into the world.
    if (!Finite(m)) continue;
    if (simulated)
      body->ResetTransform(TransformFromMatrix(m));
    else
      body->FollowTo(TransformFromMatrix(m));
  }
}

void CModelPhysics::SyncKinematicBodies(CScene&) { m_impl->PlaceBodies(false); }

void CModelPhysics::ResetDynamicBodies(CScene&) {
  m_impl->PlaceBodies(true);
  // A reset is a jump for every body: the followers start the next step
  // where they stand, not sweeping over from where they stood before.
  CBullet& bullet = m_impl->bullet;
  for (int i = 0; i < bullet.BodyCount(); ++i) {
    CRigidBody* body = bullet.Body(i);
    if (body->m_pBody && body->m_pBody->isKinematicObject()) body->HoldPath();
  }
}

void CModelPhysics::Impl::ResetToBone(int n) {
  CRigidBody* body = bullet.Body(n);
  if (n < static_cast<int>(links.size()) && links[n].node && scene) {
    D3DXMATRIX m;
    D3DXMatrixMultiply(&m, &offsets[n], &scene->W()[links[n].bone]);
    if (Finite(m)) {
      body->ResetTransform(TransformFromMatrix(m));
      return;
    }
  }
  body->ResetTransform(body->m_startWorldTrans);
}

void CModelPhysics::Impl::ReportRepair(int n) {
  if (nonFiniteReported) return;
  static const std::string kReset = qev::Sjis("剛体の姿勢が不正になったため戻した : %s\n");
  DebugPrintf(kReset.c_str(), bullet.Body(n)->m_szName);
  nonFiniteReported = true;
}

void CModelPhysics::Impl::ApplyBodyToBone(int index, const btTransform& transform, CBullet* owner) {
  Impl& s = *static_cast<Impl*>(owner->m_pCallbackUser);
  if (index < 0 || index >= owner->BodyCount()) return;
  if (!IsFinite(transform)) {
    // Overflowing numbers must not spread through the world or into the
    // bones: the body goes back and stands still.
    s.ReportRepair(index);
    s.ResetToBone(index);
    return;
  }
  if (index >= static_cast<int>(s.links.size()) || !s.links[index].node || !s.scene) return;
  CPmdBone* node = s.links[index].node;

  // The bone world matrix that puts the body at the transform.
  const D3DXMATRIX m = MatrixFromTransform(transform);
  D3DXMATRIX world;
  D3DXMatrixMultiply(&world, &s.inverseOffsets[index], &m);
  // The bone's world without its animation (the root's world is the identity).
  D3DXMATRIX rest = node->m_mLocal;
  if (node->m_pParent) D3DXMatrixMultiply(&rest, &node->m_mLocal, &node->m_pParent->m_mWorld);
  if (s.links[index].mode == 2) {
    // The body turns the bone but leaves it where its parents put it.
    world._41 = rest._41;
    world._42 = rest._42;
    world._43 = rest._43;
  }
  D3DXMATRIX inverseRest;
  if (!D3DXMatrixInverse(&inverseRest, nullptr, &rest)) return;  // a bone scaled flat: left as posed
  D3DXMatrixMultiply(&node->m_mAnim, &world, &inverseRest);
  node->UpdateMatrices(s.scene->W(), s.scene->B());
}

CBullet& CModelPhysics::Bullet() { return m_impl->bullet; }

void CModelPhysics::Impl::RepairOverflows() {
  // Numbers that overflowed in the step (a body the library took out of the
  // simulation for its overflowing bounds, or any body left with a place or
  // a speed that is no number) go no further: the body goes back and stops.
  const int count = bullet.BodyCount();
  for (int i = 0; i < count; ++i) {
    CRigidBody* body = bullet.Body(i);
    if (!body->OutOfSimulation() && body->HasFiniteState()) continue;
    ReportRepair(i);
    ResetToBone(i);
    body->ReturnToSimulation();
  }
}

void CModelPhysics::Step(float timeStep) {
  // Impulse morphs drive their simulated bodies at the start of every frame
  // they play in.
  if (m_impl->scene && timeStep > 0) {
    CBullet& bullet = m_impl->bullet;
    for (const CMorph::Impulse& i : m_impl->scene->m_morph.Impulses()) {
      const ModelImpulseOffset& o = *i.offset;
      // the body was checked against the model's records at load; the world
      // holds one body per record
      if (o.body < bullet.BodyCount()) bullet.Body(o.body)->Drive(o.velocity, o.torque, o.local != 0, i.weight);
    }
  }
  // A step of no time is not cut up: it only reports, once.
  const int parts = timeStep > 0 ? m_impl->substeps : 1;
  for (int part = 1; part <= parts; ++part) {
    m_impl->bullet.StepPart(timeStep, part, parts);
    // after every part, so overflowing numbers never reach the next one
    m_impl->RepairOverflows();
  }
  // the bones that follow the simulated ones, on the pose it left
  if (m_impl->scene) m_impl->scene->EvaluateAfterPhysics();
}

void CModelPhysics::SetSubsteps(int substeps) { m_impl->substeps = std::clamp(substeps, 1, kMaxPhysicsSubsteps); }

int CModelPhysics::Substeps() const { return m_impl->substeps; }

int ParsePhysicsSubsteps(const char* text, int* substeps) {
  if (!text) return 0;
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (blank(*text)) ++text;
  if (*text < '0' || *text > '9') return 0;  // no sign, no empty value
  int n = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    n = n * 10 + (*text - '0');
    if (n > kMaxPhysicsSubsteps) return 0;  // also keeps long digit runs from overflowing
  }
  while (blank(*text)) ++text;
  if (*text || n < 1) return 0;
  *substeps = n;
  return 1;
}

int CModelPhysics::HasWorld() const { return m_impl->bullet.m_world.m_pWorld ? 1 : 0; }

void CModelPhysics::SetDebugDrawer(CBulletDebugDraw* drawer) { m_impl->drawer = drawer; }

void CModelPhysics::DebugDraw() {
  // The world's lines reach the device together, not in a draw call each.
  CBulletDebugDraw* drawer = m_impl->drawer;
  if (drawer) drawer->Begin();
  m_impl->bullet.DebugDraw();
  if (drawer) drawer->Flush();
}
