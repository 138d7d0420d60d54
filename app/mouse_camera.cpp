// Mouse camera control: left drag orbits, right drag zooms, middle drag pans.
#include "app/viewer.h"
#include "platform/sdl_window.h"
#include "support/debug.h"

namespace {
constexpr uint32_t kLeft = 1, kRight = 2, kMiddle = 4;
}

void CViewer::AddMouseHandlers() {
  if (m_bHandlersAdded) return;  // entered once; a second attempt does nothing
  m_window.AddHandler(WM_LBUTTONDOWN, &CViewer::OnLButtonDown);
  m_window.AddHandler(WM_LBUTTONUP, &CViewer::OnLButtonUp);
  m_window.AddHandler(WM_RBUTTONDOWN, &CViewer::OnRButtonDown);
  m_window.AddHandler(WM_RBUTTONUP, &CViewer::OnRButtonUp);
  m_window.AddHandler(WM_MBUTTONDOWN, &CViewer::OnMButtonDown);
  m_window.AddHandler(WM_MBUTTONUP, &CViewer::OnMButtonUp);
  m_window.AddHandler(WM_MOUSEMOVE, &CViewer::OnMouseMove);
  m_bHandlersAdded = 1;
}

void CViewer::ButtonDown(HWND window, uint32_t bit, LPARAM lParam) {
  qev::SetCapture(window);
  m_nMouseButtons |= bit;
  m_nLastX = MouseX(lParam);
  m_nLastY = MouseY(lParam);
}

void CViewer::ButtonUp(uint32_t bit) {
  qev::ReleaseCapture();
  m_nMouseButtons &= ~bit;
}

void CViewer::MouseMove(LPARAM lParam) {
  const int x = MouseX(lParam);
  const int y = MouseY(lParam);
  const int lx = m_nLastX, ly = m_nLastY;
  // a drag takes the view back from a playing camera, from where it stands
  if (m_bCameraPlaying && (m_nMouseButtons & (kLeft | kRight | kMiddle)) && (x != lx || y != ly)) {
    m_bCameraPlaying = 0;
    DebugPrintf("camera : off, the view is the mouse's\n");
  }
  // Orbit a quarter degree per pixel; zoom toward the target a sixteenth
  // per pixel dragged up; pan a twentieth per pixel.
  if (m_nMouseButtons & kLeft) {
    m_camera.Operate(0.25f * float(lx - x), 0.25f * float(y - ly), 0);
    m_camera.UpdateView();
  }
  if (m_nMouseButtons & kRight) {
    m_camera.Operate(float(x - lx), 0.0625f * float(ly - y), 3);
    m_camera.UpdateView();
  }
  if (m_nMouseButtons & kMiddle) {
    m_camera.Operate(float(lx - x) / 20, float(y - ly) / 20, 1);
    m_camera.UpdateView();
  }
  m_nLastX = x;
  m_nLastY = y;
}

// A left button on the timeline's bar seeks instead of orbiting.
LRESULT CViewer::OnLButtonDown(HWND w, WPARAM, LPARAM l) {
  if (!s_pViewer->TimelineButtonDown(w, l)) s_pViewer->ButtonDown(w, kLeft, l);
  return 0;
}
LRESULT CViewer::OnLButtonUp(HWND, WPARAM, LPARAM) {
  if (!s_pViewer->TimelineButtonUp()) s_pViewer->ButtonUp(kLeft);
  return 0;
}
LRESULT CViewer::OnRButtonDown(HWND w, WPARAM, LPARAM l) { s_pViewer->ButtonDown(w, kRight, l); return 0; }
LRESULT CViewer::OnRButtonUp(HWND, WPARAM, LPARAM) { s_pViewer->ButtonUp(kRight); return 0; }
LRESULT CViewer::OnMButtonDown(HWND w, WPARAM, LPARAM l) { s_pViewer->ButtonDown(w, kMiddle, l); return 0; }
LRESULT CViewer::OnMButtonUp(HWND, WPARAM, LPARAM) { s_pViewer->ButtonUp(kMiddle); return 0; }
LRESULT CViewer::OnMouseMove(HWND, WPARAM, LPARAM l) {
  if (!s_pViewer->TimelineMouseMove(l)) s_pViewer->MouseMove(l);
  return 0;
}
