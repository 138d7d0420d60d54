#include "physics/bullet_world.h"

#include <btBulletDynamicsCommon.h>
#include <gtest/gtest.h>

namespace {

// A debug drawer that draws nothing: only its identity matters here.
class NullDraw : public btIDebugDraw {
 public:
  void drawLine(const btVector3&, const btVector3&, const btVector3&) override {}
  void drawContactPoint(const btVector3&, const btVector3&, btScalar, int, const btVector3&) override {}
  void reportErrorWarning(const char*) override {}
  void draw3dText(const btVector3&, const char*) override {}
  void setDebugMode(int mode) override { m_mode = mode; }
  int getDebugMode() const override { return m_mode; }
  int m_mode = 0;
};

TEST(BulletWorld, CreateBuildsTheWorldWithGravityAndDrawer) {
  CBulletWorld world;
  NullDraw drawer;
  EXPECT_EQ(world.Create(-98.0f, &drawer), 1);
  ASSERT_NE(world.m_pWorld, nullptr);
  EXPECT_NE(world.m_pBroadphase, nullptr);
  EXPECT_NE(world.m_pConfiguration, nullptr);
  EXPECT_NE(world.m_pDispatcher, nullptr);
  EXPECT_NE(world.m_pSolver, nullptr);
  EXPECT_EQ(world.m_pWorld->getGravity(), btVector3(0, -98.0f, 0));
  EXPECT_EQ(world.m_pWorld->getDebugDrawer(), &drawer);
  EXPECT_EQ(world.m_pWorld->getBroadphase(), world.m_pBroadphase);
  EXPECT_EQ(world.m_pWorld->getDispatcher(), world.m_pDispatcher);
  EXPECT_EQ(world.m_pWorld->getConstraintSolver(), world.m_pSolver);
}

TEST(BulletWorld, CreateAgainReplacesTheWorldAndDestroyEmptiesIt) {
  CBulletWorld world;
  world.Create(-98.0f, nullptr);
  world.Create(-9.8f, nullptr);
  EXPECT_EQ(world.m_pWorld->getGravity(), btVector3(0, -9.8f, 0));
  EXPECT_EQ(world.m_pWorld->getDebugDrawer(), nullptr);

  world.Destroy();
  EXPECT_EQ(world.m_pWorld, nullptr);
  EXPECT_EQ(world.m_pSolver, nullptr);
  EXPECT_EQ(world.m_pDispatcher, nullptr);
  EXPECT_EQ(world.m_pConfiguration, nullptr);
  EXPECT_EQ(world.m_pBroadphase, nullptr);
  world.Destroy();  // twice is harmless
}

}  // namespace
