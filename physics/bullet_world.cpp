#include "physics/bullet_world.h"

#include <btBulletDynamicsCommon.h>

CBulletWorld::~CBulletWorld() { Destroy(); }

void CBulletWorld::Destroy() {
  delete m_pWorld;
  m_pWorld = nullptr;
  delete m_pSolver;
  m_pSolver = nullptr;
  delete m_pDispatcher;
  m_pDispatcher = nullptr;
  delete m_pConfiguration;
  m_pConfiguration = nullptr;
  delete m_pBroadphase;
  m_pBroadphase = nullptr;
}

int CBulletWorld::Create(float gravity, btIDebugDraw* drawer) {
  Destroy();
  m_pBroadphase = new btDbvtBroadphase();
  btDefaultCollisionConstructionInfo info;
  info.m_persistentManifoldPool = nullptr;
  info.m_collisionAlgorithmPool = nullptr;
  info.m_defaultMaxPersistentManifoldPoolSize = 4096;
  info.m_defaultMaxCollisionAlgorithmPoolSize = 4096;
  info.m_customCollisionAlgorithmMaxElementSize = 0;
  info.m_useEpaPenetrationAlgorithm = 1;
  m_pConfiguration = new btDefaultCollisionConfiguration(info);
  m_pDispatcher = new btCollisionDispatcher(m_pConfiguration);
  m_pSolver = new btSequentialImpulseConstraintSolver();
  m_pWorld = new btDiscreteDynamicsWorld(m_pDispatcher, m_pBroadphase, m_pSolver, m_pConfiguration);
  m_pWorld->setGravity(btVector3(0, gravity, 0));
  m_pDrawer = drawer;
  m_pWorld->setDebugDrawer(drawer);
  return 1;
}
