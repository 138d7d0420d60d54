#include "support/base_window_ex.h"

#include "platform/sdl_window.h"

CBaseWindowEx::~CBaseWindowEx() { Destroy(); }

int CBaseWindowEx::Create(HINSTANCE instance, const std::u16string& className, const std::u16string& title,
                          uint32_t style, int x, int y, int width, int height) {
  Destroy();
  m_hInstance = instance;
  WindowCreateParams params;
  params.owner = this;
  params.classStyle = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS | CS_BYTEALIGNCLIENT;
  params.iconId = IDI_APPLICATION;
  params.className = className;
  params.title = title;
  params.style = style;
  params.x = x;
  params.y = y;
  params.width = width;
  params.height = height;
  params.instance = instance;
  if (!PreCreate(params)) return 0;
  m_szClassName = params.className;

  qev::WindowCreateParams platform;
  platform.title = params.title;
  platform.x = params.x;
  platform.y = params.y;
  platform.width = params.width;
  platform.height = params.height;
  platform.style = params.style;
  platform.proc = &CBaseWindowEx::SharedWindowProc;
  platform.createData = &params;
  m_hWnd = qev::CreateWindowEx(platform);
  if (!m_hWnd) return 0;
  return OnCreate(params) ? 1 : 0;
}

int CBaseWindowEx::Destroy() {
  OnDestroy();
  if (m_hWnd) {
    HWND window = m_hWnd;
    qev::DestroyWindow(window);
    m_szClassName.clear();
    m_hWnd = nullptr;
  }
  m_font.Delete();
  m_hInstance = nullptr;
  return 1;
}

int CBaseWindowEx::OnCreate(WindowCreateParams&) { return 1; }
int CBaseWindowEx::OnDestroy() { return 1; }

LRESULT CBaseWindowEx::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) qev::PostQuitMessage(0);
  return qev::DefWindowProc(window, message, wParam, lParam);
}

int CBaseWindowEx::Enable() {
  if (!m_hWnd) return 0;
  qev::EnableWindow(m_hWnd, true);
  return 1;
}

int CBaseWindowEx::Disable() {
  if (!m_hWnd) return 0;
  qev::EnableWindow(m_hWnd, false);
  return 1;
}

int CBaseWindowEx::IsEnabled() { return m_hWnd && qev::IsWindowEnabled(m_hWnd) ? 1 : 0; }

int CBaseWindowEx::Show(int flag) { return qev::ShowWindow(m_hWnd, flag != 0) ? 1 : 0; }

int CBaseWindowEx::SetText(const std::u16string& text) { return qev::SetWindowText(m_hWnd, text) ? 1 : 0; }

LRESULT CBaseWindowEx::SharedWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CREATE) {
    auto* params = reinterpret_cast<WindowCreateParams*>(lParam);
    qev::SetWindowUserData(window, params ? params->owner : nullptr);
  }
  auto* owner = static_cast<CBaseWindowEx*>(qev::GetWindowUserData(window));
  if (!owner) return qev::DefWindowProc(window, message, wParam, lParam);
  // the handle is known from the first message on, before creation returns
  if (!owner->m_hWnd) owner->m_hWnd = window;
  return owner->WindowProc(window, message, wParam, lParam);
}

int CBaseWindowEx::ReplaceFont(std::string_view face, int height) {
  if (!m_hWnd) return 0;
  m_font.Delete();
  return m_font.Create(face, height);
}

int CBaseWindowEx::SetFont(std::string_view face, int height, int, int) {
  if (!ReplaceFont(face, height)) return 0;
  qev::SendMessage(m_hWnd, WM_SETFONT, WPARAM(reinterpret_cast<uintptr_t>(m_font.m_hFont)), 1);
  return 1;
}
