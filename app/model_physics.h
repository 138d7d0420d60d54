// CModelPhysics: the loaded model's rigid bodies and joints in their physics
// world, and the passes that exchange transforms between bodies and bones:
// follow-bone bodies are put on their bones, simulated ones write back into
// them during a step. A frame's step may be cut into equal sub-steps.
#pragma once
#include <memory>

class CBullet;
class CBulletDebugDraw;
class CScene;

// How many equal sub-steps a frame's step is cut into unless a setting says
// otherwise, and the most a setting may ask for (the cost of a frame's
// physics grows with the count).
constexpr int kDefaultPhysicsSubsteps = 4;
constexpr int kMaxPhysicsSubsteps = 16;

// A sub-step count as written in the settings file or on a command line: a
// whole number from 1 to kMaxPhysicsSubsteps in decimal digits, blanks
// around it allowed. 1 with the count in *substeps; 0, *substeps untouched,
// for anything else.
int ParsePhysicsSubsteps(const char* text, int* substeps);

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
  // One step of the world (when there is one) by timeStep seconds, in the
  // set number of equal sub-steps; simulated bodies that move write their
  // bones back during the last. The follow-bone bodies move from where they
  // stood at the last step to where their bones are now in as many equal
  // parts, so the joints see them move rather than jump. A step of 0 takes
  // no time: every moving body only reports where it is.
  void Step(float timeStep);
  // The sub-step count, 1 (the whole step at once) to kMaxPhysicsSubsteps,
  // outside that range held to it; it outlives the loads.
  void SetSubsteps(int substeps);
  int Substeps() const;
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
