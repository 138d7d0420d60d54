#include "app/viewer.h"

#include "app/ini_edit_x.h"

CViewer* CViewer::s_pViewer = nullptr;

CViewer::CViewer(CIniEditX& settings, const ViewerServices& services)
    : m_settings(settings), m_services(services), m_timer(*services.clock), m_keys(*services.keyboard) {
  s_pViewer = this;
}

CViewer::~CViewer() {
  if (s_pViewer == this) s_pViewer = nullptr;
}
