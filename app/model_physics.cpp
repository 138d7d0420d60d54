// The model's physics. Until the physics world is built on the physics
// library, a model has no world: every pass below has nothing to move.
#include "app/model_physics.h"

struct CModelPhysics::Impl {
  CBulletDebugDraw* drawer = nullptr;
};

CModelPhysics::CModelPhysics() : m_impl(std::make_unique<Impl>()) {}
CModelPhysics::~CModelPhysics() = default;

void CModelPhysics::Clear() {}
void CModelPhysics::Build(CScene&) {}
void CModelPhysics::SyncKinematicBodies(CScene&) {}
void CModelPhysics::ResetDynamicBodies(CScene&) {}
void CModelPhysics::Step(float) {}
int CModelPhysics::HasWorld() const { return 0; }
void CModelPhysics::SetDebugDrawer(CBulletDebugDraw* drawer) { m_impl->drawer = drawer; }
void CModelPhysics::DebugDraw() {}
