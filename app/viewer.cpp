#include "app/viewer.h"

#include "app/ini_edit_x.h"
#include "physics/bullet_debug_draw.h"

CViewer* CViewer::s_pViewer = nullptr;

CViewer::CViewer(CIniEditX& settings, const ViewerServices& services)
    : m_settings(settings), m_services(services), m_timer(*services.clock), m_keys(*services.keyboard),
      m_pDebugDraw(std::make_unique<CBulletDebugDraw>()),
      m_pOwnMusic(services.music ? nullptr : qev::CreateSystemMusic()),
      m_player(*services.clock, services.music ? *services.music : *m_pOwnMusic) {
  s_pViewer = this;
  m_scene.m_physics.SetDebugDrawer(m_pDebugDraw.get());
}

CViewer::~CViewer() {
  if (s_pViewer == this) s_pViewer = nullptr;
}
