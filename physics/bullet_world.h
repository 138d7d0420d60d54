// CBulletWorld: the five physics library objects that make up one discrete
// dynamics world, built and torn down in a fixed order, with gravity along Y
// and the debug drawer the world draws through.
#pragma once

class btBroadphaseInterface;
class btCollisionConfiguration;
class btCollisionDispatcher;
class btConstraintSolver;
class btDiscreteDynamicsWorld;
class btIDebugDraw;

class CBulletWorld {
 public:
  CBulletWorld() = default;
  CBulletWorld(const CBulletWorld&) = delete;
  CBulletWorld& operator=(const CBulletWorld&) = delete;
  virtual ~CBulletWorld();

  // Drops any world there is and builds a new one with gravity (0, g, 0) in
  // model units per second squared (-Y is down), attached to the drawer
  // (null: the world draws nothing). Always 1.
  int Create(float gravity, btIDebugDraw* drawer);
  // Deletes the library objects, world first, broadphase last.
  void Destroy();

  btBroadphaseInterface* m_pBroadphase = nullptr;
  btCollisionConfiguration* m_pConfiguration = nullptr;
  btCollisionDispatcher* m_pDispatcher = nullptr;
  btConstraintSolver* m_pSolver = nullptr;
  btDiscreteDynamicsWorld* m_pWorld = nullptr;
  btIDebugDraw* m_pDrawer = nullptr;  // not owned; the one given to the last Create
};
