#include "app/model_physics.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "app/scene.h"
#include "physics/bullet.h"
#include "platform/codepage.h"
#include "platform/d3dx9_math.h"
#include "tests/common/temp_dir.h"
#include "tools/fixtures/dance_fixture.h"
#include "tools/fixtures/pmd_fixture.h"
#include "tools/fixtures/sample_character.h"
#include "tools/fixtures/vmd_fixture.h"

namespace {

using namespace qev::fixture;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// A strand of hair: "base" at y 20 with "hair1", "hair2" and "tip" hanging
// below it two units apart. Bodies: 0 "head" follows base (mode 0), 1 "h1"
// on hair1 (mode 1) and 2 "h2" on hair2 (mode 2), each centred one unit
// below its bone; joints head-h1 at hair1 and h1-h2 at hair2.
PmdDesc Strand() {
  PmdDesc d;
  d.name = "strand";
  const char* names[] = {"base", "hair1", "hair2", "tip"};
  for (int i = 0; i < 4; ++i) {
    PmdBoneDesc b;
    b.name = names[i];
    b.parent = int16_t(i - 1);
    b.tail = uint16_t(i < 3 ? i + 1 : 0);
    b.head[1] = 20.0f - 2.0f * i;
    d.bones.push_back(b);
  }
  PmdVertexDesc v;
  v.bone[0] = 3;
  d.vertices = {v, v, v};
  d.indices = {0, 1, 2};
  PmdMaterialDesc m;
  m.indexCount = 3;
  d.materials = {m};

  PmdRigidBodyDesc head;
  head.name = "head";
  head.bone = 0;
  head.shape = 0;
  head.size[0] = 0.5f;
  head.mode = 0;
  head.group = 0;
  head.mask = 0xFFFE;  // not with itself
  PmdRigidBodyDesc h1 = head;
  h1.name = "h1";
  h1.bone = 1;
  h1.shape = 2;
  h1.size[0] = 0.3f;
  h1.size[1] = 1.0f;
  h1.pos[1] = -1.0f;
  h1.group = 1;
  h1.mask = 0xFFFC;  // hair does not collide with hair
  h1.mode = 1;
  PmdRigidBodyDesc h2 = h1;
  h2.name = "h2";
  h2.bone = 2;
  h2.mode = 2;
  d.rigidBodies = {head, h1, h2};

  PmdJointDesc j0;
  j0.name = "j0";
  j0.bodyA = 0;
  j0.bodyB = 1;
  j0.pos[1] = 18.0f;
  for (int a = 0; a < 3; ++a) {
    j0.rotLower[a] = -0.5f;
    j0.rotUpper[a] = 0.5f;
  }
  PmdJointDesc j1 = j0;
  j1.name = "j1";
  j1.bodyA = 1;
  j1.bodyB = 2;
  j1.pos[1] = 16.0f;
  d.joints = {j0, j1};
  return d;
}

// A motion that carries the strand's base sideways and turns it.
VmdDesc Sway() {
  VmdDesc m;
  for (uint32_t f : {0u, 15u, 30u}) {
    VmdBoneKeyDesc k;
    k.name = "base";
    k.frame = f;
    k.pos[0] = f == 15 ? 6.0f : 0.0f;
    const float half = f == 15 ? 0.4f : 0.0f;
    k.rot[1] = std::sin(half);
    k.rot[3] = std::cos(half);
    m.bones.push_back(k);
  }
  return m;
}

// A scene loaded from a model description (and a motion when given).
struct Rig {
  qev::test::TempDir dir;
  CScene scene;
  std::string failure;

  explicit Rig(const PmdDesc& model, const VmdDesc* motion = nullptr) {
    dir.WriteFile("model.pmd", BuildPmd(model));
    EXPECT_EQ(scene.LoadModel(dir.Path("model.pmd").c_str(), nullptr, &failure), 1) << failure;
    if (motion) {
      dir.WriteFile("motion.vmd", BuildVmd(*motion));
      EXPECT_EQ(scene.LoadMotion(dir.Path("motion.vmd").c_str(), &failure), 1) << failure;
    }
  }
  CBullet& Bullet() { return scene.m_physics.Bullet(); }
  CRigidBody* Body(int i) { return Bullet().Body(i); }
  D3DXMATRIX W(int bone) { return scene.W()[bone]; }
  D3DXMATRIX BodyMatrix(int i) { return MatrixFromTransform(Body(i)->m_pBody->getCenterOfMassTransform()); }
};

D3DXMATRIX Translation(float x, float y, float z) {
  D3DXMATRIX m;
  D3DXMatrixTranslation(&m, x, y, z);
  return m;
}

void ExpectNear(const D3DXMATRIX& got, const D3DXMATRIX& want, float tolerance, const char* what) {
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(got.m[i / 4][i % 4], want.m[i / 4][i % 4], tolerance) << what << " [" << i << "]";
}

bool AllFinite(CScene& scene) {
  const float* w = &scene.W()[0]._11;
  for (uint32_t i = 0; i < uint32_t(scene.m_model.BoneCount()) * 16; ++i)
    if (!std::isfinite(w[i])) return false;
  return true;
}

TEST(ModelPhysics, BuildsBodiesThenGroundThenJoints) {
  qev::test::LogCapture log;
  Rig rig(Strand());
  CBullet& bullet = rig.Bullet();
  ASSERT_EQ(rig.scene.m_physics.HasWorld(), 1);
  ASSERT_EQ(bullet.BodyCount(), 4);
  EXPECT_STREQ(bullet.Body(0)->m_szName, "head");
  EXPECT_STREQ(bullet.Body(2)->m_szName, "h2");
  EXPECT_STREQ(bullet.Body(3)->m_szName, qev::Sjis("地面").c_str());
  EXPECT_EQ(bullet.Body(3)->m_pShape->getShapeType(), STATIC_PLANE_PROXYTYPE);
  EXPECT_EQ(bullet.JointCount(), 2);
  EXPECT_STREQ(bullet.Joint(1).name, "j1");
  EXPECT_EQ(bullet.m_world.m_pWorld->getNumCollisionObjects(), 4);
  EXPECT_EQ(bullet.m_world.m_pWorld->getNumConstraints(), 2);
  EXPECT_EQ(bullet.m_world.m_pWorld->getGravity(), btVector3(0, -98.0f, 0));
  EXPECT_TRUE(log.Contains(qev::Sjis("剛体配置 : h1 (0.000000,17.000000,0.000000)\n")));

  // Placed at their bones: the offset, then the bone's head.
  EXPECT_EQ(rig.Body(0)->m_pBody->getCenterOfMassPosition(), btVector3(0, 20, 0));
  EXPECT_EQ(rig.Body(1)->m_pBody->getCenterOfMassPosition(), btVector3(0, 17, 0));
  EXPECT_EQ(rig.Body(2)->m_pBody->getCenterOfMassPosition(), btVector3(0, 15, 0));
  // Mode 0 never sleeps and has no mass; the hair has the record's.
  EXPECT_TRUE(rig.Body(0)->m_pBody->isKinematicObject());
  EXPECT_EQ(rig.Body(0)->m_pBody->getInvMass(), 0);
  EXPECT_EQ(rig.Body(1)->m_pBody->getInvMass(), 1);
  EXPECT_EQ(rig.Body(1)->m_pBody->getBroadphaseHandle()->m_collisionFilterGroup, 2);
  EXPECT_EQ(rig.Body(1)->m_pBody->getBroadphaseHandle()->m_collisionFilterMask, 0xFFFC);

  // Joint frames: the joint's place seen from each body.
  auto* c = static_cast<btGeneric6DofSpringConstraint*>(bullet.Joint(1).constraint);
  EXPECT_NEAR(c->getFrameOffsetA().getOrigin().y(), -1.0f, 1e-5f);
  EXPECT_NEAR(c->getFrameOffsetB().getOrigin().y(), 1.0f, 1e-5f);
}

TEST(ModelPhysics, RecordValuesBecomeTheBodysOwn) {
  struct Case {
    const char* what;
    std::function<void(PmdRigidBodyDesc&)> edit;
    std::function<void(const btRigidBody&)> check;
  } cases[] = {
      {"mode 0 has no mass whatever the record says", [](PmdRigidBodyDesc& b) { b.mode = 0, b.mass = 5; },
       [](const btRigidBody& b) { EXPECT_EQ(b.getInvMass(), 0); }},
      {"mode 1 of mass 0 is static", [](PmdRigidBodyDesc& b) { b.mass = 0; },
       [](const btRigidBody& b) {
         EXPECT_TRUE(b.isStaticObject());
         EXPECT_FALSE(b.isKinematicObject());
       }},
      {"group 16 or more is group 0: default filter", [](PmdRigidBodyDesc& b) { b.group = 16; },
       [](const btRigidBody& b) { EXPECT_EQ(b.getBroadphaseHandle()->m_collisionFilterGroup, 1); }},
      {"mask 0: default filter", [](PmdRigidBodyDesc& b) { b.mask = 0; },
       [](const btRigidBody& b) { EXPECT_EQ(b.getBroadphaseHandle()->m_collisionFilterMask, -1); }},
      {"group 15 is the top bit", [](PmdRigidBodyDesc& b) { b.group = 15; },
       [](const btRigidBody& b) { EXPECT_EQ(b.getBroadphaseHandle()->m_collisionFilterGroup, 0x8000); }},
      {"surface values", [](PmdRigidBodyDesc& b) { b.restitution = 0.25f, b.friction = 0.75f, b.linearDamping = 0.5f; },
       [](const btRigidBody& b) {
         EXPECT_EQ(b.getRestitution(), 0.25f);
         EXPECT_EQ(b.getFriction(), 0.75f);
         EXPECT_EQ(b.getLinearDamping(), 0.5f);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PmdDesc d = Strand();
    c.edit(d.rigidBodies[1]);
    Rig rig(d);
    c.check(*rig.Body(1)->m_pBody);
  }
}

TEST(ModelPhysics, AFollowingBodyIsExactlyOnItsBone) {
  const VmdDesc sway = Sway();
  for (int substeps : {1, 4}) {
    SCOPED_TRACE(substeps);
    Rig rig(Strand(), &sway);
    rig.scene.m_physics.SetSubsteps(substeps);
    for (int f = 0; f < 20; ++f) {
      rig.scene.UpdateFrame(false);
      // the head body sits on the base bone (no offset): not one bit off,
      // also after the sub-steps carried it there
      EXPECT_TRUE(rig.BodyMatrix(0) == rig.W(0)) << f;
    }
    EXPECT_GT(rig.W(0)._41, 3.0f);  // the motion did carry the base away
  }
}

TEST(ModelPhysics, SimulatedBodiesWriteTheirBonesBack) {
  Rig rig(Strand());
  // Put h1 somewhere else, turned about Z; h2 turned about X far away.
  D3DXMATRIX r1, r2;
  D3DXMatrixRotationZ(&r1, 0.3f);
  D3DXMatrixRotationX(&r2, 0.2f);
  const D3DXMATRIX at1 = r1 * Translation(1, 17, 0);
  const D3DXMATRIX at2 = r2 * Translation(5, 5, 5);
  rig.Body(1)->ResetTransform(TransformFromMatrix(at1));
  rig.Body(2)->ResetTransform(TransformFromMatrix(at2));
  rig.scene.m_physics.Step(0);  // no motion, only the reports

  // Mode 1: the bone goes where the body says, offset removed.
  const D3DXMATRIX bone1 = Translation(0, 1, 0) * at1;
  ExpectNear(rig.W(1), bone1, 1e-5f, "hair1");
  // Mode 2: the body's rotation, the parent chain's position.
  const D3DXMATRIX rest2 = Translation(0, -2, 0) * bone1;
  D3DXMATRIX bone2 = Translation(0, 1, 0) * at2;
  bone2._41 = rest2._41, bone2._42 = rest2._42, bone2._43 = rest2._43;
  ExpectNear(rig.W(2), bone2, 1e-5f, "hair2");
  // The bone below moves with them; the base is untouched.
  ExpectNear(rig.W(3), Translation(0, -2, 0) * bone2, 1e-5f, "tip");
  EXPECT_TRUE(rig.W(0) == Translation(0, 20, 0));
}

TEST(ModelPhysics, ABodyWithoutABoneStartsAtTheOriginAndNeverWrites) {
  PmdDesc d = Strand();
  d.rigidBodies.resize(1);
  d.joints.clear();
  PmdRigidBodyDesc loose;
  loose.name = "loose";
  loose.bone = 0xFFFF;
  loose.pos[0] = 7;
  loose.rot[2] = 1;
  loose.mode = 1;
  loose.shape = 0;
  loose.size[0] = 0.5f;
  d.rigidBodies.push_back(loose);
  Rig rig(d);
  EXPECT_TRUE(rig.BodyMatrix(1) == Translation(0, 0, 0));  // no turn either
  std::vector<D3DXMATRIX> before(rig.scene.W(), rig.scene.W() + 4);
  for (int f = 0; f < 30; ++f) rig.scene.UpdateFrame(false);
  EXPECT_GT(rig.Body(1)->m_pBody->getCenterOfMassPosition().y(), 0.0f);  // pushed out of the ground
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(rig.W(i) == before[size_t(i)]) << i;
}

TEST(ModelPhysics, ResetAndSwitchingPhysicsOff) {
  // Any simulated mode is reset, not only 1 and 2: a body of mode 3 left
  // where it was would drag its chain off the bones after every reset.
  for (uint8_t mode : {1, 3}) {
    SCOPED_TRACE(int(mode));
    PmdDesc d = Strand();
    d.rigidBodies[1].mode = mode;
    for (PmdJointDesc& j : d.joints)
      for (int a = 0; a < 3; ++a) j.rotLower[a] = -1.5f, j.rotUpper[a] = 1.5f;
    Rig rig(d);
    // Tip the hair out of line and let it swing.
    rig.Body(1)->m_pBody->setLinearVelocity(btVector3(30, 0, 0));
    float swing = 0;
    for (int f = 0; f < 10; ++f) {
      rig.scene.UpdateFrame(false);
      swing = std::max(swing, std::fabs(rig.W(1)._41));
    }
    EXPECT_GT(swing, 0.1f);

    // Switched off: the frames leave every body where it is.
    rig.scene.CalcBullet = 0;
    const btTransform held = rig.Body(1)->m_pBody->getCenterOfMassTransform();
    const D3DXMATRIX bone = rig.W(1);
    for (int f = 0; f < 5; ++f) rig.scene.UpdateFrame(false);
    EXPECT_EQ(rig.Body(1)->m_pBody->getCenterOfMassTransform(), held);
    EXPECT_TRUE(rig.W(1) == bone);

    // SPACE: the pose again, the simulated bodies back on their bones, still.
    rig.scene.UpdateFrame(true);
    for (int b : {1, 2}) {
      ExpectNear(rig.BodyMatrix(b), Translation(0, -1, 0) * rig.W(b), 1e-6f, "reset");
      EXPECT_EQ(rig.Body(b)->m_pBody->getLinearVelocity(), btVector3(0, 0, 0));
      EXPECT_EQ(rig.Body(b)->m_pBody->getAngularVelocity(), btVector3(0, 0, 0));
    }
    EXPECT_TRUE(rig.W(1) == Translation(0, 18, 0));
  }
}

TEST(ModelPhysics, TheSampleCharactersPonytailSwingsAndNothingElse) {
  const PmdDesc model = SampleCharacter();
  const VmdDesc walk = SampleWalk();
  Rig on(model, &walk), off(model, &walk);
  off.scene.CalcBullet = 0;
  for (int f = 0; f < 45; ++f) {
    on.scene.UpdateFrame(false);
    off.scene.UpdateFrame(false);
  }
  std::vector<bool> hair(model.bones.size());
  for (const PmdRigidBodyDesc& b : model.rigidBodies)
    if (b.mode != 0) hair[b.bone] = true;
  int swinging = 0;
  for (size_t i = 0; i < model.bones.size(); ++i) {
    const D3DXMATRIX a = on.W(int(i)), b = off.W(int(i));
    if (!hair[i]) {
      // no bone is driven from below: a hair bone's children could move, and
      // the sample's hair chain ends in a tip bone
      if (model.bones[i].parent >= 0 && hair[size_t(model.bones[i].parent)]) continue;
      EXPECT_TRUE(a == b) << i;
      continue;
    }
    const float moved = std::hypot(a._41 - b._41, a._42 - b._42, a._43 - b._43) +
                        std::fabs(a._11 - b._11) + std::fabs(a._22 - b._22) + std::fabs(a._33 - b._33);
    swinging += moved > 0.01f;
  }
  EXPECT_EQ(swinging, 3);  // the three hair bones
}

TEST(ModelPhysics, ASecondLoadLeavesOnlyTheSecondModel) {
  qev::test::TempDir dir;
  PmdDesc small = Strand();
  small.rigidBodies.resize(1);
  small.joints.clear();
  small.rigidBodies[0].name = "only";
  dir.WriteFile("a.pmd", BuildPmd(Strand()));
  dir.WriteFile("b.pmd", BuildPmd(small));
  CScene scene;
  std::string failure;
  ASSERT_EQ(scene.LoadModel(dir.Path("a.pmd").c_str(), nullptr, &failure), 1);
  ASSERT_EQ(scene.LoadModel(dir.Path("b.pmd").c_str(), nullptr, &failure), 1);
  CBullet& bullet = scene.m_physics.Bullet();
  ASSERT_EQ(bullet.BodyCount(), 2);
  EXPECT_STREQ(bullet.Body(0)->m_szName, "only");
  EXPECT_EQ(bullet.JointCount(), 0);
  EXPECT_EQ(bullet.m_world.m_pWorld->getNumCollisionObjects(), 2);
  EXPECT_EQ(bullet.m_world.m_pWorld->getNumConstraints(), 0);

  scene.DiscardModel();
  EXPECT_EQ(scene.m_physics.HasWorld(), 0);
  EXPECT_EQ(bullet.BodyCount(), 0);
  EXPECT_EQ(bullet.m_pCallback, nullptr);
  scene.m_physics.Step(1.0f / 30.0f);  // nothing to step
  scene.m_physics.Clear();
}

TEST(ModelPhysics, AJointNamingTheGroundIsPlacedFromTheOrigin) {
  PmdDesc d = Strand();
  d.joints[1].bodyB = 3;  // the ground, right after the model's three bodies
  d.joints[1].pos[0] = 2;
  qev::test::LogCapture log;
  Rig rig(d);
  ASSERT_EQ(rig.Bullet().JointCount(), 2);
  auto* c = static_cast<btGeneric6DofSpringConstraint*>(rig.Bullet().Joint(1).constraint);
  EXPECT_EQ(&c->getRigidBodyB(), rig.Body(3)->m_pBody);
  const btVector3 inGround = c->getFrameOffsetB().getOrigin();
  EXPECT_NEAR(inGround.x(), 2.0f, 1e-5f);
  EXPECT_NEAR(inGround.y(), 16.0f, 1e-5f);
  EXPECT_FALSE(log.Contains(qev::Sjis("範囲外")));
}

// Hostile records: each one is refused or repaired with its log line; the
// other bodies keep their indices, joints link the right ones, and frames
// of playback leave every bone matrix finite.
// Whether the skeleton alone places every bone with finite numbers: each
// head and its offset from its parent.
bool Finite(const std::vector<PmdBoneDesc>& bones) {
  for (const PmdBoneDesc& b : bones)
    for (int a = 0; a < 3; ++a) {
      const float parent = b.parent >= 0 ? bones[size_t(b.parent)].head[a] : 0.0f;
      if (!std::isfinite(b.head[a]) || !std::isfinite(b.head[a] - parent)) return false;
    }
  return true;
}

TEST(ModelPhysics, HostileRecordsNeitherCrashNorPoisonTheWorld) {
  struct Case {
    const char* what;
    std::function<void(PmdDesc&)> edit;
    const char* log;  // UTF-8 fragment expected in the log
    bool body1;       // body 1 has a library body
    int joints;
  } cases[] = {
      {"unknown shape", [](PmdDesc& d) { d.rigidBodies[1].shape = 7; }, "不明な剛体\n", false, 0},
      {"bone past the list", [](PmdDesc& d) { d.rigidBodies[1].bone = 999; }, "剛体のボーン指定が不正 : h1 (999)\n",
       true, 2},
      {"bone left out of the skeleton",
       [](PmdDesc& d) {
         PmdBoneDesc eyes;
         eyes.name = qev::Sjis("両目");
         eyes.parent = 0;
         d.bones.push_back(eyes);
         d.rigidBodies[1].bone = 4;
       },
       "剛体のボーン指定が不正 : h1 (4)\n", true, 2},
      {"NaN position", [](PmdDesc& d) { d.rigidBodies[1].pos[1] = kNaN; }, "剛体の数値が不正 : h1\n", false, 0},
      {"infinite rotation", [](PmdDesc& d) { d.rigidBodies[1].rot[2] = -kInf; }, "剛体の数値が不正 : h1\n", false, 0},
      {"NaN size", [](PmdDesc& d) { d.rigidBodies[1].size[0] = kNaN; }, "剛体の数値が不正 : h1\n", false, 0},
      {"infinite mass", [](PmdDesc& d) { d.rigidBodies[1].mass = kInf; }, "剛体の数値が不正 : h1\n", false, 0},
      {"negative mass", [](PmdDesc& d) { d.rigidBodies[1].mass = -1; }, "剛体の数値が不正 : h1\n", false, 0},
      {"NaN damping", [](PmdDesc& d) { d.rigidBodies[1].linearDamping = kNaN; }, "剛体の数値が不正 : h1\n", false, 0},
      {"zero and negative sizes", [](PmdDesc& d) { d.rigidBodies[1].size[0] = 0, d.rigidBodies[1].size[1] = -5; },
       "", true, 2},
      {"NaN joint limit", [](PmdDesc& d) { d.joints[0].rotUpper[1] = kNaN; }, "ジョイントの数値が不正 : j0\n", true, 1},
      {"infinite joint place", [](PmdDesc& d) { d.joints[1].pos[0] = kInf; }, "ジョイントの数値が不正 : j1\n", true, 1},
      {"joint index wraps negative", [](PmdDesc& d) { d.joints[0].bodyA = 0xFFFFFFFF; }, "剛体1の指定が範囲外 : -1\n",
       true, 1},
      {"joint past the ground", [](PmdDesc& d) { d.joints[0].bodyB = 4; }, "剛体2の指定が範囲外 : 4\n", true, 1},
      {"joint to itself", [](PmdDesc& d) { d.joints[1].bodyA = d.joints[1].bodyB = 70000; }, "剛体1と2が同一 : 70000\n",
       true, 1},
      {"bone head overflows the placement", [](PmdDesc& d) { d.bones[1].head[0] = kInf; }, "剛体の数値が不正 : h1\n",
       false, 0},
      {"bone matrices that overflow while playing",
       [](PmdDesc& d) {
         d.bones[1].head[0] = 3e38f;   // out of reach for a body: h1 has none
         d.bones[2].head[0] = -3e38f;  // its offset from its parent is no number
         d.rigidBodies[0].bone = 3;    // the tip below it is followed
       },
       "剛体の数値が不正 : h1\n", false, 0},
      {"size out of reach", [](PmdDesc& d) { d.rigidBodies[1].size[0] = 1e30f; }, "剛体の数値が不正 : h1\n", false, 0},
      {"position out of reach", [](PmdDesc& d) { d.rigidBodies[1].pos[2] = -2e6f; }, "剛体の数値が不正 : h1\n", false, 0},
      {"joint out of reach", [](PmdDesc& d) { d.joints[1].pos[1] = 3e38f; }, "ジョイントの数値が不正 : j1\n", true, 1},
      {"large but sound numbers",
       [](PmdDesc& d) {
         d.rigidBodies[1].size[0] = 1e5f;
         d.rigidBodies[1].mass = 1e-30f;
         d.rigidBodies[2].mass = 1e30f;
         d.rigidBodies[2].pos[0] = 9e5f;
         d.joints[0].posUpper[0] = 3e38f;
         d.joints[0].rotUpper[0] = 1e30f;
       },
       "", true, 2},
  };
  const VmdDesc sway = Sway();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PmdDesc d = Strand();
    c.edit(d);
    qev::test::LogCapture log;
    Rig rig(d, &sway);
    EXPECT_TRUE(log.Contains(qev::Sjis(c.log)));
    CBullet& bullet = rig.Bullet();
    ASSERT_EQ(bullet.BodyCount(), 4);  // every record keeps its place
    EXPECT_EQ(rig.Body(1)->m_pBody != nullptr, c.body1);
    EXPECT_EQ(rig.Body(2)->m_nIndex, 2);
    if (rig.Body(2)->m_pBody) {
      EXPECT_STREQ(rig.Body(2)->m_szName, "h2");
    }
    EXPECT_EQ(bullet.JointCount(), c.joints);
    for (int f = 0; f < 60; ++f) rig.scene.UpdateFrame(f == 40);
    // A bone of the model itself may be non-finite; the world never is.
    for (int b = 0; b < bullet.BodyCount(); ++b) {
      if (rig.Body(b)->m_pBody) {
        EXPECT_TRUE(IsFinite(rig.Body(b)->m_pBody->getCenterOfMassTransform())) << b;
      }
    }
    if (Finite(d.bones)) {
      EXPECT_TRUE(AllFinite(rig.scene));
    }
  }
}

TEST(ModelPhysics, ABodyGoneNonFiniteIsPutBackOnItsBoneWithOneLogLine) {
  Rig rig(Strand());
  qev::test::LogCapture log;
  // Overflowing velocities: the library takes the body out of the
  // simulation; it comes back on its bone, still.
  for (int f = 0; f < 10; ++f) {
    rig.Body(1)->m_pBody->setLinearVelocity(btVector3(kNaN, 0, 0));
    rig.scene.UpdateFrame(false);
    ASSERT_TRUE(AllFinite(rig.scene)) << f;
    ASSERT_TRUE(IsFinite(rig.Body(1)->m_pBody->getCenterOfMassTransform())) << f;
    EXPECT_FALSE(rig.Body(1)->OutOfSimulation()) << f;
  }
  const std::string line = qev::Sjis("剛体の姿勢が不正になったため戻した : h1\n");
  EXPECT_EQ(log.Text(), line);
  const size_t firstLoad = log.Lines().size();
  ExpectNear(rig.BodyMatrix(1), Translation(0, 17, 0), 1e-3f, "back on hair1");
  // and it swings again
  rig.Body(1)->m_pBody->setLinearVelocity(btVector3(5, 0, 0));
  rig.scene.UpdateFrame(false);
  EXPECT_GT(rig.BodyMatrix(1)._41, 0.01f);

  // A non-finite transform reported by the library never reaches the bone.
  // The line is written once per load: a new load may write it again.
  std::string failure;
  rig.scene.LoadModel(rig.dir.Path("model.pmd").c_str(), nullptr, &failure);
  btTransform bad = btTransform::getIdentity();
  bad.setOrigin(btVector3(0, kInf, 0));
  CBullet::OnBodyTransform(2, bad, &rig.Bullet());
  CBullet::OnBodyTransform(1, bad, &rig.Bullet());
  EXPECT_TRUE(AllFinite(rig.scene));
  ExpectNear(rig.BodyMatrix(2), Translation(0, 15, 0), 1e-6f, "back on hair2");
  EXPECT_EQ(log.Lines().back(), qev::Sjis("剛体の姿勢が不正になったため戻した : h2\n"));
  size_t repairs = 0;
  for (size_t i = firstLoad; i < log.Lines().size(); ++i)
    repairs += log.Lines()[i].find(qev::Sjis("剛体の姿勢")) != std::string::npos;
  EXPECT_EQ(repairs, 1u);

  // A body that follows its bone, left with no number (as the solver may
  // leave it), is back on its bone after the step.
  rig.Body(0)->ResetTransform(bad);
  rig.scene.m_physics.Step(1.0f / 30.0f);
  EXPECT_TRUE(rig.Body(0)->HasFiniteState());
  ExpectNear(rig.BodyMatrix(0), Translation(0, 20, 0), 1e-6f, "back on base");
}

// Every bone matrix of every frame of a model played with physics.
std::vector<D3DXMATRIX> Play(const PmdDesc& model, const VmdDesc& motion, int frames) {
  Rig rig(model, &motion);
  std::vector<D3DXMATRIX> all;
  for (int f = 0; f < frames; ++f) {
    rig.scene.UpdateFrame(f == frames / 2);
    all.insert(all.end(), rig.scene.W(), rig.scene.W() + rig.scene.m_model.BoneCount());
  }
  return all;
}

TEST(ModelPhysics, PlayingTwiceGivesTheSameBitsFrameByFrame) {
  const std::vector<D3DXMATRIX> first = Play(Strand(), Sway(), 200);
  const std::vector<D3DXMATRIX> second = Play(Strand(), Sway(), 200);
  ASSERT_EQ(first.size(), second.size());
  EXPECT_EQ(std::memcmp(first.data(), second.data(), first.size() * sizeof(D3DXMATRIX)), 0);
  // and the hair did swing: the result is not just the motion
  EXPECT_NE(first[4 * 10 + 2]._41, first[4 * 10 + 0]._41);

  // The joints' springs stay off: other spring values change no bit.
  PmdDesc springy = Strand();
  for (PmdJointDesc& j : springy.joints)
    for (int a = 0; a < 3; ++a) j.posSpring[a] = 500.0f, j.rotSpring[a] = 80.0f + a;
  const std::vector<D3DXMATRIX> sprung = Play(springy, Sway(), 200);
  EXPECT_EQ(std::memcmp(first.data(), sprung.data(), first.size() * sizeof(D3DXMATRIX)), 0);
}

// FNV-1a over every bone matrix of every frame of a play (SPACE pressed at
// frame `space`), with the given sub-step count.
uint64_t PlayDigest(const PmdDesc& model, const VmdDesc& motion, int frames, int space, int substeps) {
  Rig rig(model, &motion);
  rig.scene.m_physics.SetSubsteps(substeps);
  uint64_t hash = 14695981039346656037ull;
  for (int f = 0; f < frames; ++f) {
    rig.scene.UpdateFrame(f == space);
    const auto* bytes = reinterpret_cast<const unsigned char*>(rig.scene.W());
    for (size_t i = 0; i < sizeof(D3DXMATRIX) * size_t(rig.scene.m_model.BoneCount()); ++i) hash = (hash ^ bytes[i]) * 1099511628211ull;
  }
  return hash;
}

TEST(ModelPhysicsSubsteps, OneSubstepIsTheSingleStepOfBefore) {
  // Digests captured from the viewer as it was before steps could be cut up
  // (one library step of 1/30 s per frame). No body of these plays comes to
  // rest long enough to be put to sleep, so bodies that never sleep give
  // the same bits.
  struct Case {
    const char* what;
    PmdDesc model;
    VmdDesc motion;
    int frames, space;
    uint64_t digest;
  } cases[] = {
      {"sample walk, SPACE halfway", SampleCharacter(), SampleWalk(), 300, 150, 0x462cf53cc0cd742full},
      {"sample walk, 3000 frames", SampleCharacter(), SampleWalk(), 3000, -1, 0xb8f8e99798b06bd9ull},
      {"strand swaying", Strand(), Sway(), 200, 100, 0x6e93b30c26fcbe7aull},
      {"dancer, SPACE halfway", DancerPmd(), DanceVmd(300), 300, 150, 0xd3b27752d8f6c97dull},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(PlayDigest(c.model, c.motion, c.frames, c.space, 1), c.digest);
  }
}

TEST(ModelPhysicsSubsteps, SameInputSameBitsWhateverTheCount) {
  const PmdDesc dancer = DancerPmd();
  const VmdDesc dance = DanceVmd(150);
  const uint64_t single = PlayDigest(dancer, dance, 150, 75, 1);
  for (int substeps : {2, 4, kMaxPhysicsSubsteps}) {
    SCOPED_TRACE(substeps);
    const uint64_t first = PlayDigest(dancer, dance, 150, 75, substeps);
    EXPECT_EQ(PlayDigest(dancer, dance, 150, 75, substeps), first);
    EXPECT_NE(first, single);  // the count does change the simulation
  }
}

TEST(ModelPhysicsSubsteps, TheCountIsASettingHeldToItsRange) {
  CModelPhysics physics;
  EXPECT_EQ(physics.Substeps(), kDefaultPhysicsSubsteps);
  EXPECT_EQ(kDefaultPhysicsSubsteps, 4);
  const int cases[][2] = {{1, 1}, {2, 2}, {16, 16}, {0, 1}, {-5, 1}, {17, 16}, {1 << 30, 16}};
  for (const auto& c : cases) {
    physics.SetSubsteps(c[0]);
    EXPECT_EQ(physics.Substeps(), c[1]) << c[0];
  }
  // a load keeps it
  physics.SetSubsteps(3);
  Rig rig(Strand());
  rig.scene.m_physics.SetSubsteps(3);
  std::string failure;
  ASSERT_EQ(rig.scene.LoadModel(rig.dir.Path("model.pmd").c_str(), nullptr, &failure), 1);
  EXPECT_EQ(rig.scene.m_physics.Substeps(), 3);
}

TEST(ModelPhysicsSubsteps, ParsingACount) {
  struct Case {
    const char* text;
    int result, substeps;
  } cases[] = {
      {"1", 1, 1},       {"4", 1, 4},        {"16", 1, 16},     {" 8\t", 1, 8},   {"0004", 1, 4},
      {"0", 0, -1},      {"17", 0, -1},      {"-1", 0, -1},     {"+4", 0, -1},    {"", 0, -1},
      {"  ", 0, -1},     {"4x", 0, -1},      {"4 4", 0, -1},    {"0x4", 0, -1},   {"3.0", 0, -1},
      {"99999999999999999999999", 0, -1},    {"１", 0, -1},     {nullptr, 0, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text ? c.text : "(null)");
    int substeps = -1;
    EXPECT_EQ(ParsePhysicsSubsteps(c.text, &substeps), c.result);
    EXPECT_EQ(substeps, c.substeps);
  }
}

// The strand's base stands still for ten seconds, then is carried 8 units
// sideways in a third of a second and stays there.
VmdDesc RestThenMove() {
  VmdDesc m;
  for (uint32_t f : {0u, 300u, 310u, 400u}) {
    VmdBoneKeyDesc k;
    k.name = "base";
    k.frame = f;
    k.pos[0] = f >= 310 ? 8.0f : 0.0f;
    m.bones.push_back(k);
  }
  return m;
}

TEST(ModelPhysicsSubsteps, ABodyJointedToAMovingBodyIsNeverLeftAsleep) {
  // The library puts a body to sleep after two seconds at rest and wakes it
  // only when something touches it: the strand used to stay where it hung
  // while the head went off without it (8 units of gap for good).
  const VmdDesc motion = RestThenMove();
  for (int substeps : {1, 4}) {
    SCOPED_TRACE(substeps);
    Rig rig(Strand(), &motion);
    rig.scene.m_physics.SetSubsteps(substeps);
    for (int f = 0; f < 390; ++f) {
      rig.scene.UpdateFrame(false);
      for (int b : {1, 2}) ASSERT_EQ(rig.Body(b)->m_pBody->getActivationState(), DISABLE_DEACTIVATION) << f;
      if (f == 299) {
        // at rest before the move: hanging under the base
        EXPECT_NEAR(rig.Body(1)->m_pBody->getCenterOfMassPosition().x(), 0.0f, 1e-3f);
      }
    }
    // followed its partner (still swinging a little under it)
    EXPECT_NEAR(rig.Body(1)->m_pBody->getCenterOfMassPosition().x(), 8.0f, 0.5f);
    EXPECT_NEAR(rig.W(1)._41, 8.0f, 0.5f);
    for (int j = 0; j < 2; ++j) EXPECT_LT(rig.Bullet().JointGap(j), 0.05f) << j;
  }
}

TEST(ModelPhysicsSubsteps, FollowersSweepFromTheirLastPlaceButJumpOnAReset) {
  // Where the head body's path through the next step starts.
  const VmdDesc sway = Sway();
  Rig rig(Strand(), &sway);
  rig.scene.m_physics.SetSubsteps(4);
  CRigidBody* head = rig.Body(0);
  for (int f = 0; f < 5; ++f) rig.scene.UpdateFrame(false);
  // A frame's pose: from where the last step left it to its bone.
  btTransform last = head->m_graphicsWorldTrans;
  rig.scene.AdvanceMotion(1.0f);
  EXPECT_EQ(head->m_pathStart, last);
  EXPECT_FALSE(head->m_pathStart == head->m_graphicsWorldTrans);  // the base did move
  rig.scene.m_physics.Step(1.0f / 30.0f);
  EXPECT_TRUE(rig.BodyMatrix(0) == rig.W(0));

  // Physics off for a while: the path starts at the last frame's place,
  // not where the world last stepped.
  rig.scene.CalcBullet = 0;
  for (int f = 0; f < 3; ++f) rig.scene.UpdateFrame(false);
  last = head->m_graphicsWorldTrans;
  rig.scene.AdvanceMotion(1.0f);
  EXPECT_EQ(head->m_pathStart, last);

  // SPACE takes the motion back to frame 0, a pose applied likewise: a jump.
  rig.scene.StartMotion();
  EXPECT_EQ(head->m_pathStart, head->m_graphicsWorldTrans);
  rig.scene.RefreshPose();
  EXPECT_EQ(head->m_pathStart, head->m_graphicsWorldTrans);
}

TEST(ModelPhysicsSubsteps, SubstepsShortenTheLagBehindAMovingFollower) {
  // The base glides sideways at 6 units a second; the strand hanging from
  // it trails by what the head body moved in one (sub-)step.
  VmdDesc glide;
  for (uint32_t f : {0u, 300u}) {
    VmdBoneKeyDesc k;
    k.name = "base";
    k.frame = f;
    k.pos[0] = 0.2f * float(f);
    glide.bones.push_back(k);
  }
  float lag[2];
  for (int i = 0; i < 2; ++i) {
    Rig rig(Strand(), &glide);
    rig.scene.m_physics.SetSubsteps(i ? 4 : 1);
    for (int f = 0; f < 120; ++f) rig.scene.UpdateFrame(false);
    lag[i] = rig.Bullet().JointGap(0);
  }
  EXPECT_NEAR(lag[0], 0.2f, 0.02f);  // a whole frame's move
  EXPECT_LT(lag[1], lag[0] * 0.3f);
}

// The widest any joint opened after any frame of a play.
float WorstGap(const PmdDesc& model, const VmdDesc& motion, int frames, int substeps) {
  Rig rig(model, &motion);
  rig.scene.m_physics.SetSubsteps(substeps);
  float worst = 0;
  for (int f = 0; f < frames; ++f) {
    rig.scene.UpdateFrame(false);
    for (int j = 0; j < rig.Bullet().JointCount(); ++j) worst = std::max(worst, rig.Bullet().JointGap(j));
  }
  return worst;
}

TEST(ModelPhysicsSubsteps, SubstepsHoldTheDancersJointsTogether) {
  // The first 20 seconds of the dance (the full figures are in the
  // benchmark): the widest gap with four sub-steps is at most a third of
  // the single step's.
  const PmdDesc dancer = DancerPmd();
  const VmdDesc dance = DanceVmd(600);
  const float single = WorstGap(dancer, dance, 600, 1);
  const float four = WorstGap(dancer, dance, 600, 4);
  EXPECT_GT(single, 1.0f);  // the dance does pull joints apart in one step
  EXPECT_LE(four, single / 3) << single << " " << four;
  // and no joint opens wider than one of the strands' segments
  EXPECT_LT(four, 0.9f);
}

// A hundred bones in a strand, each with a body (one in ten following its
// bone, the rest simulated in modes 1 and 2), joined by a hundred joints (one
// to the ground).
PmdDesc HundredBodies() {
  PmdDesc d = LargePmd(30, 30, 100, 0, 100);
  MakeBodyStrand(&d, 0);
  return d;
}

VmdDesc Walk(const std::vector<std::string>& bones) {
  VmdDesc m;
  for (const std::string& name : bones) {
    for (uint32_t f = 0; f <= 60; f += 15) {
      VmdBoneKeyDesc k;
      k.name = name;
      k.frame = f;
      const float a = 0.5f * std::sin(f * 0.1f);
      k.rot[0] = std::sin(a / 2);
      k.rot[3] = std::cos(a / 2);
      k.pos[2] = f * 0.2f;
      m.bones.push_back(k);
    }
  }
  return m;
}

// Frames with physics on: no bone matrix ever holds a NaN, and the heap
// grows by at most the allowance after the first frames. (The physics
// library keeps its contact and pair arrays at their high-water mark, which
// may rise while bodies find new neighbours; a block lost every frame would
// cost far more than any allowance here.)
void Soak(const PmdDesc& model, const VmdDesc& motion, int frames, size_t allowance) {
  Rig rig(model, &motion);
  for (int f = 0; f < 100; ++f) rig.scene.UpdateFrame(false);
  const size_t heap = mallinfo2().uordblks;
  for (int f = 0; f < frames; ++f) {
    rig.scene.UpdateFrame(f % 3000 == 2999);
    if (!AllFinite(rig.scene)) {
      ADD_FAILURE() << "non-finite bone matrix at frame " << f;
      return;
    }
  }
  EXPECT_LE(mallinfo2().uordblks, heap + allowance);
  EXPECT_EQ(rig.Bullet().BodyCount(), int(model.rigidBodies.size()) + 1);
}

TEST(ModelPhysicsSoak, TheSampleWalksTenThousandFrames) {
  // a block lost per frame would be 10,000 blocks of at least 32 bytes; the
  // allowance leaves room for arrays that grow once while other tests of the
  // same process have left the heap in another shape
  Soak(SampleCharacter(), SampleWalk(), 10000, 64 * 1024);
}

TEST(ModelPhysicsSoak, AHundredBodiesAndJoints) {
  const PmdDesc d = HundredBodies();
  Rig rig(d);
  EXPECT_EQ(rig.Bullet().JointCount(), 100);
  // With four sub-steps the library's contact arrays reach their high-water
  // mark a little later and higher (measured: about 18 KB after 12,000
  // frames, flat from frame 6,000); a block lost every frame would still be
  // 64 KB over these 2,000.
  Soak(d, Walk({"bone0", "bone10", "bone50"}), 2000, 32 * 1024);
}

}  // namespace
