#include "physics/rigid_body.h"

#include <btBulletDynamicsCommon.h>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "physics/bullet_world.h"
#include "platform/codepage.h"
#include "platform/d3dx9_math.h"

namespace {

constexpr float kFrame = 1.0f / 30.0f;
constexpr float kSubStep = 1.0f / 60.0f;

struct Report {
  int index;
  btTransform transform;
  void* user;
};

void Record(int index, const btTransform& transform, void* user) {
  static_cast<std::vector<Report>*>(user)->push_back({index, transform, user});
}

// A sphere of radius r at a height, simulated with the given mass.
void MakeSphere(CRigidBody& body, float r, float height, float mass, int dynamic = 1) {
  body.m_pShape = new btSphereShape(r);
  RigidBodyParams p;
  p.pos[1] = height;
  p.dynamic = dynamic;
  p.friction = 0.5f;
  body.Create(p, mass);
}

TEST(RigidBody, CreateStartsAtTheParametersWithTheirSurfaceValues) {
  CRigidBody body;
  body.m_pShape = new btBoxShape(btVector3(1, 2, 3));
  RigidBodyParams p;
  p.pos[0] = 1;
  p.pos[1] = 2;
  p.pos[2] = 3;
  const float s = std::sqrt(0.5f);
  p.rot[1] = s;  // a quarter turn about Y
  p.rot[3] = s;
  p.restitution = 0.25f;
  p.friction = 0.75f;
  p.linearDamping = 0.5f;
  p.angularDamping = 0.125f;
  EXPECT_EQ(body.Create(p, 2.0f), 1);
  ASSERT_NE(body.m_pBody, nullptr);
  const btTransform& t = body.m_pBody->getCenterOfMassTransform();
  EXPECT_EQ(t.getOrigin(), btVector3(1, 2, 3));
  EXPECT_NEAR(t.getRotation().y(), s, 1e-6f);
  EXPECT_NEAR(t.getRotation().w(), s, 1e-6f);
  EXPECT_EQ(body.m_startWorldTrans.getOrigin(), btVector3(1, 2, 3));
  EXPECT_FLOAT_EQ(body.m_pBody->getRestitution(), 0.25f);
  EXPECT_FLOAT_EQ(body.m_pBody->getFriction(), 0.75f);
  EXPECT_FLOAT_EQ(body.m_pBody->getLinearDamping(), 0.5f);
  EXPECT_FLOAT_EQ(body.m_pBody->getAngularDamping(), 0.125f);
  EXPECT_FLOAT_EQ(body.m_pBody->getInvMass(), 0.5f);
  EXPECT_EQ(body.m_bDynamic, 1);
  EXPECT_FALSE(body.m_pBody->isKinematicObject());
}

TEST(RigidBody, MassAndModeDecideStaticKinematicOrSimulated) {
  struct Case {
    int dynamic;
    float mass;
    bool isStatic, isKinematic, neverSleeps;
  } cases[] = {
      // mass 0 is static to the library; the kinematic flag lets it be moved
      {0, 0.0f, true, true, true},  // follows its bone
      {1, 0.0f, true, false, false},  // simulated record of mass 0: never moves
      {1, 3.0f, false, false, true},  // simulated: never put to sleep either
  };
  for (const Case& c : cases) {
    CRigidBody body;
    MakeSphere(body, 1, 0, c.mass, c.dynamic);
    SCOPED_TRACE(c.dynamic * 10 + c.mass);
    EXPECT_EQ(body.m_bDynamic, c.dynamic);
    EXPECT_EQ(body.m_pBody->isStaticObject(), c.isStatic);
    EXPECT_EQ(body.m_pBody->isKinematicObject(), c.isKinematic);
    EXPECT_EQ(body.m_pBody->getActivationState() == DISABLE_DEACTIVATION, c.neverSleeps);
  }
}

TEST(RigidBody, CreateWithoutAShapeBuildsNothing) {
  CRigidBody body;
  EXPECT_EQ(body.Create(RigidBodyParams(), 1.0f), 0);
  EXPECT_EQ(body.m_pBody, nullptr);
}

TEST(RigidBody, GroupAndMaskGoInOnlyWhenBothAreSet) {
  CBulletWorld world;
  world.Create(-98.0f, nullptr);
  struct Case {
    int group, mask, dynamic;
    int wantGroup, wantMask;
  } cases[] = {
      {4, 0x00F0, 1, 4, 0x00F0},
      {1 << 15, 0xFFFF, 1, 1 << 15, 0xFFFF},
      // group 0 (a group number of 16 or more) or mask 0: the default filter
      {0, 0xFFFF, 1, btBroadphaseProxy::DefaultFilter, btBroadphaseProxy::AllFilter},
      {8, 0, 1, btBroadphaseProxy::DefaultFilter, btBroadphaseProxy::AllFilter},
      {0, 0, 0, btBroadphaseProxy::StaticFilter, btBroadphaseProxy::AllFilter ^ btBroadphaseProxy::StaticFilter},
  };
  for (const Case& c : cases) {
    CRigidBody body;
    MakeSphere(body, 1, 0, c.dynamic ? 1.0f : 0.0f, c.dynamic);
    body.AddTo(world.m_pWorld, c.group, c.mask);
    SCOPED_TRACE(c.group);
    const btBroadphaseProxy* proxy = body.m_pBody->getBroadphaseHandle();
    ASSERT_NE(proxy, nullptr);
    EXPECT_EQ(proxy->m_collisionFilterGroup, c.wantGroup);
    EXPECT_EQ(proxy->m_collisionFilterMask, c.wantMask);
    EXPECT_EQ(body.m_pWorld, world.m_pWorld);
    body.Release();
    EXPECT_EQ(world.m_pWorld->getNumCollisionObjects(), 0);
  }
}

TEST(RigidBody, ReleaseEmptiesTheBody) {
  CBulletWorld world;
  world.Create(-98.0f, nullptr);
  CRigidBody body;
  std::snprintf(body.m_szName, sizeof body.m_szName, "hair");
  MakeSphere(body, 1, 0, 1.0f, 0);
  body.AddTo(world.m_pWorld, 1, 1);
  EXPECT_EQ(world.m_pWorld->getNumCollisionObjects(), 1);
  body.Release();
  EXPECT_EQ(world.m_pWorld->getNumCollisionObjects(), 0);
  EXPECT_EQ(body.m_pBody, nullptr);
  EXPECT_EQ(body.m_pShape, nullptr);
  EXPECT_EQ(body.m_pWorld, nullptr);
  EXPECT_EQ(body.m_bDynamic, 1);
  EXPECT_EQ(body.m_szName[0], 0);
  body.Release();  // again: nothing left to do
}

TEST(RigidBody, GroundIsANamedStaticPlaneWithAUnitNormal) {
  CRigidBody ground;
  RigidBodyParams p;
  p.restitution = 0.5f;
  EXPECT_EQ(ground.CreateGround(0, 2, 0, p), 1);
  EXPECT_STREQ(ground.m_szName, qev::Sjis("地面").c_str());
  ASSERT_NE(ground.m_pBody, nullptr);
  EXPECT_TRUE(ground.m_pBody->isStaticObject());
  auto* plane = static_cast<btStaticPlaneShape*>(ground.m_pShape);
  EXPECT_EQ(plane->getShapeType(), STATIC_PLANE_PROXYTYPE);
  EXPECT_EQ(plane->getPlaneNormal(), btVector3(0, 1, 0));
  EXPECT_EQ(plane->getPlaneConstant(), 0);
}

TEST(RigidBody, AFreeSphereFallsAsTheIntegratorSaysAndRestsOnTheGround) {
  CBulletWorld world;
  world.Create(-98.0f, nullptr);
  CRigidBody ground;
  RigidBodyParams g;
  g.restitution = 0.5f;
  g.friction = 0.5f;
  g.angularDamping = 0.8f;
  ground.CreateGround(0, 1, 0, g);
  ground.AddTo(world.m_pWorld, 0, 0);
  CRigidBody ball;
  MakeSphere(ball, 1.0f, 20.0f, 1.0f);
  ball.AddTo(world.m_pWorld, 0, 0);

  // Velocity first, then position: after n frames of dt the fall is
  // g dt^2 n (n + 1) / 2.
  for (int n = 1; n <= 5; ++n) {
    world.m_pWorld->stepSimulation(kFrame, 0, kSubStep);
    const float want = 20.0f - 98.0f * kFrame * kFrame * n * (n + 1) / 2.0f;
    EXPECT_NEAR(ball.m_graphicsWorldTrans.getOrigin().y(), want, 1e-4f) << n;
  }
  for (int n = 0; n < 300; ++n) world.m_pWorld->stepSimulation(kFrame, 0, kSubStep);
  EXPECT_NEAR(ball.m_graphicsWorldTrans.getOrigin().y(), 1.0f, 0.05f);
  EXPECT_NEAR(ball.m_pBody->getLinearVelocity().length(), 0.0f, 0.1f);
}

TEST(RigidBody, OneCallIsOneWholeStepWhateverTheSubStep) {
  float heights[3];
  const float subSteps[3] = {kSubStep, 1.0f / 240.0f, 1.0f};
  for (int i = 0; i < 3; ++i) {
    CBulletWorld world;
    world.Create(-98.0f, nullptr);
    CRigidBody ball;
    MakeSphere(ball, 1.0f, 0.0f, 1.0f);
    ball.AddTo(world.m_pWorld, 0, 0);
    world.m_pWorld->stepSimulation(kFrame, 0, subSteps[i]);
    heights[i] = ball.m_graphicsWorldTrans.getOrigin().y();
  }
  EXPECT_NEAR(heights[0], -98.0f * kFrame * kFrame, 1e-5f);
  EXPECT_EQ(heights[1], heights[0]);
  EXPECT_EQ(heights[2], heights[0]);
}

TEST(RigidBody, AStepReportsEachMovingBodyThroughItsCallback) {
  CBulletWorld world;
  world.Create(-98.0f, nullptr);
  std::vector<Report> reports;
  CRigidBody moving, still, follower;
  for (CRigidBody* b : {&moving, &still, &follower}) {
    b->m_pCallback = &Record;
    b->m_pUser = &reports;
  }
  moving.m_nIndex = 7;
  still.m_nIndex = 8;
  follower.m_nIndex = 9;
  MakeSphere(moving, 1, 10, 1.0f);
  MakeSphere(still, 1, -10, 0.0f);
  MakeSphere(follower, 1, 30, 0.0f, 0);
  for (CRigidBody* b : {&moving, &still, &follower}) b->AddTo(world.m_pWorld, 0, 0);

  // A step of 0 moves nothing but still reports the simulated body.
  world.m_pWorld->stepSimulation(0, 0, kSubStep);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].index, 7);
  EXPECT_EQ(reports[0].user, &reports);
  EXPECT_EQ(reports[0].transform.getOrigin(), btVector3(0, 10, 0));
  EXPECT_EQ(moving.m_pBody->getCenterOfMassPosition(), btVector3(0, 10, 0));

  reports.clear();
  world.m_pWorld->stepSimulation(kFrame, 0, kSubStep);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].index, 7);
  EXPECT_LT(reports[0].transform.getOrigin().y(), 10.0f);
  EXPECT_EQ(moving.m_graphicsWorldTrans.getOrigin(), reports[0].transform.getOrigin());
  EXPECT_EQ(still.m_pBody->getCenterOfMassPosition(), btVector3(0, -10, 0));
}

TEST(RigidBody, ResetTransformPutsTheBodyThereStillAndSilently) {
  CBulletWorld world;
  world.Create(-98.0f, nullptr);
  std::vector<Report> reports;
  CRigidBody ball;
  ball.m_pCallback = &Record;
  ball.m_pUser = &reports;
  MakeSphere(ball, 1, 0, 1.0f);
  ball.AddTo(world.m_pWorld, 0, 0);
  for (int i = 0; i < 10; ++i) world.m_pWorld->stepSimulation(kFrame, 0, kSubStep);
  ball.m_pBody->applyTorqueImpulse(btVector3(1, 2, 3));
  ball.m_pBody->applyCentralForce(btVector3(0, 50, 0));
  reports.clear();

  const btTransform there(btQuaternion(btVector3(1, 0, 0), 0.5f), btVector3(3, 4, 5));
  ball.ResetTransform(there);
  EXPECT_TRUE(reports.empty());
  EXPECT_EQ(ball.m_graphicsWorldTrans.getOrigin(), there.getOrigin());
  EXPECT_EQ(ball.m_pBody->getCenterOfMassPosition(), there.getOrigin());
  EXPECT_EQ(ball.m_pBody->getLinearVelocity(), btVector3(0, 0, 0));
  EXPECT_EQ(ball.m_pBody->getAngularVelocity(), btVector3(0, 0, 0));
  EXPECT_EQ(ball.m_pBody->getInterpolationLinearVelocity(), btVector3(0, 0, 0));
  EXPECT_EQ(ball.m_pBody->getInterpolationAngularVelocity(), btVector3(0, 0, 0));
  EXPECT_EQ(ball.m_pBody->getTotalForce(), btVector3(0, 0, 0));
  EXPECT_EQ(ball.m_pBody->getTotalTorque(), btVector3(0, 0, 0));
}

TEST(RigidBody, AFollowersPathStartsWhereItStoodUnlessThatIsNoPlace) {
  CRigidBody body;
  MakeSphere(body, 1, 0, 0.0f, 0);
  const btTransform a(btQuaternion::getIdentity(), btVector3(1, 0, 0));
  const btTransform b(btQuaternion::getIdentity(), btVector3(2, 0, 0));
  const btTransform start = body.m_graphicsWorldTrans;
  body.FollowTo(a);
  EXPECT_EQ(body.m_pathStart, start);
  EXPECT_EQ(body.m_pBody->getCenterOfMassTransform(), a);
  body.FollowTo(b);
  EXPECT_EQ(body.m_pathStart, a);  // where it stood before the last move
  body.HoldPath();
  EXPECT_EQ(body.m_pathStart, b);

  // Standing nowhere (no number): the path starts where the bone puts it.
  const float nan = std::nanf("");
  body.ResetTransform(btTransform(btQuaternion::getIdentity(), btVector3(nan, 0, 0)));
  body.FollowTo(a);
  EXPECT_EQ(body.m_pathStart, a);
  // Put nowhere since: the path stays at its start. A start that is no
  // number is skipped: the body goes straight to the end.
  body.ResetTransform(btTransform(btQuaternion::getIdentity(), btVector3(0, nan, 0)));
  body.MoveAlongPath(1, 2);
  EXPECT_EQ(body.m_pBody->getCenterOfMassTransform(), a);
  body.MoveAlongPath(2, 2);
  EXPECT_EQ(body.m_pBody->getCenterOfMassTransform(), a);
  body.m_pathStart.setOrigin(btVector3(nan, nan, nan));
  body.ResetTransform(b);
  for (int part = 1; part <= 3; ++part) {
    body.MoveAlongPath(part, 3);
    EXPECT_EQ(body.m_pBody->getCenterOfMassTransform(), b) << part;
  }
  // Neither end a place: the body is left as it is.
  body.m_pathStart.setOrigin(btVector3(nan, nan, nan));
  body.ResetTransform(body.m_pathStart);
  body.MoveAlongPath(1, 2);
  EXPECT_FALSE(IsFinite(body.m_pBody->getCenterOfMassTransform()));

  CRigidBody empty;
  empty.MoveAlongPath(1, 2);  // an empty entry: nothing to move
}

TEST(RigidBody, MatrixAndTransformConvertBothWays) {
  D3DXMATRIX r, t, m;
  D3DXMatrixRotationYawPitchRoll(&r, 0.3f, -1.1f, 2.0f);
  D3DXMatrixTranslation(&t, 1, -2, 3);
  D3DXMatrixMultiply(&m, &r, &t);
  const D3DXVECTOR3 p(0.5f, 7, -3);
  D3DXVECTOR3 want;
  D3DXVec3TransformCoord(&want, &p, &m);  // row vector: p x M

  for (const btTransform& x : {TransformFromMatrix(m), TransformFromMatrixRotation(m)}) {
    const btVector3 got = x * btVector3(p.x, p.y, p.z);
    EXPECT_NEAR(got.x(), want.x, 1e-5f);
    EXPECT_NEAR(got.y(), want.y, 1e-5f);
    EXPECT_NEAR(got.z(), want.z, 1e-5f);
    const D3DXMATRIX back = MatrixFromTransform(x);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(back.m[i / 4][i % 4], m.m[i / 4][i % 4], 1e-6f) << i;
  }
  EXPECT_TRUE(MatrixFromTransform(TransformFromMatrix(m)) == m);  // transposition is exact
}

}  // namespace
