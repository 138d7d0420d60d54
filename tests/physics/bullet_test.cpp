#include "physics/bullet.h"

#include <btBulletDynamicsCommon.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "tests/common/temp_dir.h"

namespace {

constexpr float kFrame = 1.0f / 30.0f;
constexpr float kSubStep = 1.0f / 60.0f;

// Bodies appended to a CBullet: spheres at the given heights (mass 0: static),
// then optionally one empty entry (a record that made no body).
void AddSpheres(CBullet& bullet, const std::vector<std::pair<float, float>>& heightAndMass) {
  for (auto [height, mass] : heightAndMass) {
    CRigidBody* body = bullet.AppendBody();
    body->m_pShape = new btSphereShape(0.5f);
    RigidBodyParams p;
    p.pos[1] = height;
    body->Create(p, mass);
    body->AddTo(bullet.m_world.m_pWorld, 0, 0);
  }
}

struct Seen {
  std::vector<int> indices;
};

void CountReports(int index, const btTransform&, CBullet* owner) {
  static_cast<Seen*>(owner->m_pCallbackUser)->indices.push_back(index);
}

TEST(Bullet, ClearOnAnEmptyBulletDoesNothingAndMayBeRepeated) {
  CBullet bullet;
  bullet.Clear();
  bullet.Clear();
  EXPECT_EQ(bullet.BodyCount(), 0);
  EXPECT_EQ(bullet.JointCount(), 0);
  EXPECT_EQ(bullet.m_world.m_pWorld, nullptr);
  EXPECT_EQ(bullet.m_pCallback, nullptr);
}

TEST(Bullet, AppendedBodiesRelayThroughTheOwnersCallbackUntilClear) {
  CBullet bullet;
  bullet.m_world.Create(-98.0f, nullptr);
  Seen seen;
  bullet.m_pCallback = &CountReports;
  bullet.m_pCallbackUser = &seen;
  AddSpheres(bullet, {{5, 1}, {9, 0}, {2, 1}});
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(bullet.Body(i)->m_nIndex, i);
    EXPECT_EQ(bullet.Body(i)->m_pUser, &bullet);
  }
  bullet.m_world.m_pWorld->stepSimulation(kFrame, 0, kSubStep);
  EXPECT_EQ(seen.indices, (std::vector<int>{0, 2}));

  // After Clear a late transform finds no callback and is ignored.
  bullet.Clear();
  EXPECT_EQ(bullet.m_pCallback, nullptr);
  EXPECT_EQ(bullet.m_pCallbackUser, nullptr);
  CBullet::OnBodyTransform(0, btTransform::getIdentity(), &bullet);
  EXPECT_EQ(seen.indices.size(), 2u);
  EXPECT_EQ(bullet.BodyCount(), 0);
  EXPECT_EQ(bullet.m_world.m_pWorld, nullptr);
}

TEST(Bullet, JointsAreCheckedBeforeAnythingIsBuilt) {
  struct Case {
    int a, b;
    int result;
    const char* log;  // UTF-8; empty: nothing logged
  } cases[] = {
      {99, 99, 0, "剛体1と2が同一 : 99\n"},  // equal comes first, even out of range
      {-1, -1, 0, "剛体1と2が同一 : -1\n"},
      {-1, 0, 0, "剛体1の指定が範囲外 : -1\n"},
      {4, 0, 0, "剛体1の指定が範囲外 : 4\n"},
      {0, 4, 0, "剛体2の指定が範囲外 : 4\n"},
      {0, -7, 0, "剛体2の指定が範囲外 : -7\n"},
      {3, 0, 0, "剛体1が作成されていない : 3\n"},  // the empty entry
      {1, 3, 0, "剛体2が作成されていない : 3\n"},
      {0, 1, 1, ""},
      {2, 1, 1, ""},  // the last body (the ground in a model's world)
  };
  for (const Case& c : cases) {
    CBullet bullet;
    bullet.m_world.Create(-98.0f, nullptr);
    AddSpheres(bullet, {{5, 0}, {4, 1}, {3, 1}});
    bullet.AppendBody();  // empty entry: index 3
    qev::test::LogCapture log;
    JointParams p;
    p.bodyA = c.a;
    p.bodyB = c.b;
    SCOPED_TRACE(std::to_string(c.a) + "," + std::to_string(c.b));
    EXPECT_EQ(bullet.CreateJoint(p, "joint"), c.result);
    EXPECT_EQ(log.Text(), qev::Sjis(c.log));
    EXPECT_EQ(bullet.JointCount(), c.result);
    EXPECT_EQ(bullet.m_world.m_pWorld->getNumConstraints(), c.result);
  }
}

TEST(Bullet, AJointKeepsItsLimitsAndStiffnessWithTheSpringsOff) {
  CBullet bullet;
  bullet.m_world.Create(-98.0f, nullptr);
  AddSpheres(bullet, {{5, 0}, {4, 1}});
  JointParams p;
  p.bodyA = 0;
  p.bodyB = 1;
  p.frameA.setOrigin(btVector3(0, -0.5f, 0));
  p.frameB.setOrigin(btVector3(0, 0.5f, 0));
  const float linear[2][3] = {{-1, -2, -3}, {1, 2, 3}};
  const float angular[2][3] = {{-0.5f, -0.25f, -4.0f}, {0.5f, 0.25f, 4.0f}};
  for (int i = 0; i < 3; ++i) {
    p.linearLower[i] = linear[0][i];
    p.linearUpper[i] = linear[1][i];
    p.angularLower[i] = angular[0][i];
    p.angularUpper[i] = angular[1][i];
  }
  for (int i = 0; i < 6; ++i) p.stiffness[i] = 10.0f * (i + 1);
  ASSERT_EQ(bullet.CreateJoint(p, "joint"), 1);

  const BulletJoint& joint = bullet.Joint(0);
  EXPECT_STREQ(joint.name, "joint");
  EXPECT_EQ(joint.kind, 0);
  auto* c = static_cast<btGeneric6DofSpringConstraint*>(joint.constraint);
  EXPECT_EQ(c->getConstraintType(), D6_SPRING_CONSTRAINT_TYPE);
  EXPECT_EQ(&c->getRigidBodyA(), bullet.Body(0)->m_pBody);
  EXPECT_EQ(&c->getRigidBodyB(), bullet.Body(1)->m_pBody);
  EXPECT_EQ(c->getFrameOffsetA().getOrigin(), btVector3(0, -0.5f, 0));
  EXPECT_EQ(c->getFrameOffsetB().getOrigin(), btVector3(0, 0.5f, 0));
  btVector3 v;
  c->getLinearLowerLimit(v);
  EXPECT_EQ(v, btVector3(-1, -2, -3));
  c->getLinearUpperLimit(v);
  EXPECT_EQ(v, btVector3(1, 2, 3));
  c->getAngularLowerLimit(v);
  EXPECT_FLOAT_EQ(v.x(), -0.5f);
  EXPECT_FLOAT_EQ(v.y(), -0.25f);
  EXPECT_NEAR(v.z(), -4.0f + 2 * SIMD_PI, 1e-5f);  // wrapped into [-pi, pi]
  for (int i = 0; i < 6; ++i) {
    EXPECT_FALSE(c->isSpringEnabled(i)) << i;
    EXPECT_EQ(c->getStiffness(i), 10.0f * (i + 1)) << i;
    EXPECT_FLOAT_EQ(c->getDamping(i), 0.1f) << i;
  }
}

// A pendulum: a body hanging by a joint from a fixed one, free to turn only
// about Z within [-limit, limit], pulled sideways by a gravity of (40, -98, 0)
// (a free pendulum settles near atan(40 / 98) = 0.39). Its angle seen from
// the pivot after 4 s, and its x frame by frame.
float SettledAngle(float limit, float stiffness, std::vector<float>* trace) {
  CBullet bullet;
  bullet.m_world.Create(-98.0f, nullptr);
  AddSpheres(bullet, {{10, 0}, {8, 1}});
  JointParams p;
  p.bodyA = 0;
  p.bodyB = 1;
  p.frameA.setOrigin(btVector3(0, -1, 0));
  p.frameB.setOrigin(btVector3(0, 1, 0));
  p.angularLower[2] = -limit;
  p.angularUpper[2] = limit;
  for (float& s : p.stiffness) s = stiffness;
  bullet.CreateJoint(p, "pendulum");
  bullet.m_world.m_pWorld->setGravity(btVector3(40, -98, 0));
  bullet.Body(1)->m_pBody->setDamping(0.9f, 0.9f);
  float angle = 0;
  for (int i = 0; i < 120; ++i) {
    bullet.Step(kFrame);
    const btVector3 at = bullet.Body(1)->m_graphicsWorldTrans.getOrigin();
    angle = std::atan2(at.x(), 9 - at.y());
    if (trace) trace->push_back(at.x());
  }
  return angle;
}

TEST(Bullet, AJointHoldsItsAngularLimits) {
  // The library's limits give a little under a steady pull at one step per
  // frame; what matters is that the joint, not the pull, decides the angle.
  const float free = SettledAngle(1.5f, 0, nullptr);
  EXPECT_NEAR(free, std::atan2(40.0f, 98.0f), 0.05f);
  for (float limit : {0.0f, 0.1f, 0.2f}) {
    const float held = SettledAngle(limit, 0, nullptr);
    EXPECT_LT(held, limit + 0.15f) << limit;
    EXPECT_LT(held, free - 0.05f) << limit;
    EXPECT_GT(held, 0.0f) << limit;
  }
  EXPECT_LT(SettledAngle(0.0f, 0, nullptr), SettledAngle(0.2f, 0, nullptr));
}

TEST(Bullet, SpringValuesChangeNothing) {
  std::vector<float> soft, stiff;
  SettledAngle(0.2f, 0, &soft);
  SettledAngle(0.2f, 5000, &stiff);
  ASSERT_EQ(soft.size(), 120u);
  EXPECT_EQ(soft, stiff);
}

TEST(Bullet, StepIsOneWholeFrameAndZeroOnlyReports) {
  CBullet bullet;
  bullet.Step(kFrame);  // no world: nothing to do
  bullet.m_world.Create(-98.0f, nullptr);
  Seen seen;
  bullet.m_pCallback = &CountReports;
  bullet.m_pCallbackUser = &seen;
  AddSpheres(bullet, {{0, 1}});
  bullet.Step(0);
  EXPECT_EQ(seen.indices, std::vector<int>{0});
  EXPECT_EQ(bullet.Body(0)->m_pBody->getCenterOfMassPosition(), btVector3(0, 0, 0));
  bullet.Step(kFrame);
  bullet.Step(kFrame);
  // velocity first, then position: 98 dt^2 (1 + 2)
  EXPECT_NEAR(bullet.Body(0)->m_graphicsWorldTrans.getOrigin().y(), -98.0f * kFrame * kFrame * 3, 1e-4f);
  EXPECT_EQ(seen.indices.size(), 3u);
}

// A world with a follower sphere at the origin (body 0) and a free falling
// sphere at height 50 (body 1), both reporting.
void FollowerAndFaller(CBullet& bullet) {
  bullet.m_world.Create(-98.0f, nullptr);
  CRigidBody* follower = bullet.AppendBody();
  follower->m_pShape = new btSphereShape(0.5f);
  RigidBodyParams p;
  p.dynamic = 0;
  follower->Create(p, 0.0f);
  follower->AddTo(bullet.m_world.m_pWorld, 0, 0);
  AddSpheres(bullet, {{50, 1}});
}

TEST(Bullet, AStepInPartsCarriesFollowersAlongTheirPaths) {
  CBullet bullet;
  FollowerAndFaller(bullet);
  CRigidBody* follower = bullet.Body(0);
  // From the origin, upright, to (4, 8, 0) turned a quarter about Y.
  const btTransform target(btQuaternion(btVector3(0, 1, 0), SIMD_HALF_PI), btVector3(4, 8, 0));
  follower->FollowTo(target);
  Seen seen;
  bullet.m_pCallback = &CountReports;
  bullet.m_pCallbackUser = &seen;
  const float part = kFrame / 4;
  for (int k = 1; k <= 4; ++k) {
    SCOPED_TRACE(k);
    bullet.StepPart(kFrame, k, 4);
    // the moving body is handed on after the last part only
    EXPECT_EQ(seen.indices, k < 4 ? std::vector<int>{} : std::vector<int>{1});
    EXPECT_EQ(bullet.m_pCallback, &CountReports);
    const btTransform& at = follower->m_pBody->getCenterOfMassTransform();
    EXPECT_NEAR(at.getOrigin().x(), k, 1e-5f);
    EXPECT_NEAR(at.getOrigin().y(), 2 * k, 1e-5f);
    EXPECT_NEAR(at.getRotation().getAngle(), SIMD_HALF_PI * k / 4, 1e-5f);
    // with the speed of the part's move, for the joints and contacts to see
    EXPECT_NEAR(follower->m_pBody->getLinearVelocity().x(), 1 / part, 1e-2f);
    EXPECT_NEAR(follower->m_pBody->getLinearVelocity().y(), 2 / part, 1e-2f);
    EXPECT_NEAR(follower->m_pBody->getAngularVelocity().y(), SIMD_HALF_PI / 4 / part, 1e-2f);
    // the free sphere fell through k steps of a quarter frame
    EXPECT_NEAR(bullet.Body(1)->m_graphicsWorldTrans.getOrigin().y(), 50 - 98.0f * part * part * k * (k + 1) / 2,
                1e-4f);
  }
  // The path ends exactly where its bone put it, and the next step starts there.
  EXPECT_TRUE(follower->m_pBody->getCenterOfMassTransform() == target);
  bullet.StepPart(kFrame, 1, 4);
  EXPECT_TRUE(follower->m_pBody->getCenterOfMassTransform() == target);
  EXPECT_EQ(follower->m_pBody->getLinearVelocity(), btVector3(0, 0, 0));
}

TEST(Bullet, OnePartOfOneIsTheWholeStep) {
  // The same world stepped both ways gives the same bits; the follower is
  // where its bone put it from the start, as the single step always had it.
  CBullet whole, parts;
  FollowerAndFaller(whole);
  FollowerAndFaller(parts);
  const btTransform target(btQuaternion(btVector3(1, 0, 0), 0.3f), btVector3(1, 2, 3));
  whole.Body(0)->FollowTo(target);
  parts.Body(0)->FollowTo(target);
  for (int f = 0; f < 3; ++f) {
    whole.Step(kFrame);
    parts.StepPart(kFrame, 1, 1);
  }
  EXPECT_TRUE(parts.Body(1)->m_pBody->getCenterOfMassTransform() == whole.Body(1)->m_pBody->getCenterOfMassTransform());
  EXPECT_TRUE(parts.Body(0)->m_pBody->getCenterOfMassTransform() == target);
  // A step of no time is never cut up: it only reports.
  Seen seen;
  parts.m_pCallback = &CountReports;
  parts.m_pCallbackUser = &seen;
  parts.StepPart(0, 1, 4);
  EXPECT_EQ(seen.indices, std::vector<int>{1});
  EXPECT_TRUE(parts.Body(1)->m_pBody->getCenterOfMassTransform() == whole.Body(1)->m_pBody->getCenterOfMassTransform());
  CBullet empty;
  empty.StepPart(kFrame, 2, 4);  // no world: nothing to do
}

TEST(Bullet, AJointsGapIsTheDistanceBetweenItsTwoAnchors) {
  CBullet bullet;
  bullet.m_world.Create(-98.0f, nullptr);
  AddSpheres(bullet, {{5, 1}, {3, 1}});
  JointParams p;
  p.bodyA = 0;
  p.bodyB = 1;
  p.frameA.setOrigin(btVector3(0, -1, 0));  // the joint at y = 4, between them
  p.frameB.setOrigin(btVector3(0, 1, 0));
  ASSERT_EQ(bullet.CreateJoint(p, "j"), 1);
  EXPECT_EQ(bullet.JointGap(0), 0.0f);
  // B moved by (3, -4, 0) and turned half about Z: its anchor is now 1 below it
  bullet.Body(1)->ResetTransform(btTransform(btQuaternion(btVector3(0, 0, 1), SIMD_PI), btVector3(3, -1, 0)));
  EXPECT_NEAR(bullet.JointGap(0), std::hypot(3.0f, 6.0f), 1e-5f);
}

TEST(Bullet, ClearEmptiesWorldBodiesAndJoints) {
  CBullet bullet;
  for (int load = 0; load < 2; ++load) {
    bullet.Clear();
    bullet.m_world.Create(-98.0f, nullptr);
    AddSpheres(bullet, {{5, 0}, {4, 1}, {3, 1}});
    JointParams p;
    p.bodyA = 0;
    p.bodyB = 1 + load;
    ASSERT_EQ(bullet.CreateJoint(p, "j"), 1);
    EXPECT_EQ(bullet.m_world.m_pWorld->getNumCollisionObjects(), 3);
    EXPECT_EQ(bullet.m_world.m_pWorld->getNumConstraints(), 1);
    EXPECT_EQ(bullet.BodyCount(), 3);
    EXPECT_EQ(bullet.JointCount(), 1);
  }
  bullet.Clear();
  EXPECT_EQ(bullet.BodyCount(), 0);
  EXPECT_EQ(bullet.JointCount(), 0);
  EXPECT_EQ(bullet.m_world.m_pWorld, nullptr);
}

}  // namespace
