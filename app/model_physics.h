// CModelPhysics: the loaded model's rigid bodies and joints in their physics
// world, and the passes that exchange transforms between bodies and bones:
// follow-bone bodies are put on their bones, simulated ones write back into
// them during a step.
#pragma once
#include <memory>

class CBullet;
class CBulletDebugDraw;
class CScene;

class CModelPhysics {
 public:
  CModelPhysics();
  CModelPhysics(const CModelPhysics&) = delete;
  CModelPhysics& operator=(const CModelPhysics&) = delete;
  virtual ~CModelPhysics();

  // The world with every body and joint goes; the step does nothing after it.
  void Clear();
  // A new world for the scene's model: bodies placed at their bones' bind
  // pose, the ground, the joints. The scene's skeleton and arrays are built.
  void Build(CScene& scene);
  // Bodies that follow their bones are placed on them.
  void SyncKinematicBodies(CScene& scene);
  // Simulated bodies are put back on their bones and stopped.
  void ResetDynamicBodies(CScene& scene);
  // One step of the world (when there is one) by timeStep seconds; simulated
  // bodies that move write their bones back during it.
  void Step(float timeStep);
  // 1 while a world exists.
  int HasWorld() const;
  // The drawer every new world gets (it outlives the worlds; null: none).
  void SetDebugDrawer(CBulletDebugDraw* drawer);
  // The world's debug view through that drawer (nothing without a world).
  void DebugDraw();
  // The world, its bodies (one per rigid body record, then the ground) and
  // its joints, for qevtool and the tests to look into.
  CBullet& Bullet();

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};
