#include "support/window_ex.h"

#include "platform/sdl_window.h"

CWindowEx::CWindowEx() { m_handlers.m_nElementSize = sizeof(HandlerEntry); }

CWindowEx::~CWindowEx() {
  m_handlers.Free();
  Destroy();
}

int CWindowEx::Create(HINSTANCE instance, const std::u16string& title) {
  // The window system sizes the client area itself and adds its own frame, so
  // the window rectangle here is the client rectangle.
  const int width = kClientWidth;
  const int height = kClientHeight;
  int screenWidth = 0, screenHeight = 0;
  if (!qev::GetScreenSize(&screenWidth, &screenHeight)) return 0;
  m_dwStyle |= WS_VISIBLE;
  const int x = (screenWidth - width) / 2;
  const int y = (screenHeight - height) / 2;
  return CBaseWindowEx::Create(instance, title, title, m_dwStyle, x, y, width, height);
}

int CWindowEx::PreCreate(WindowCreateParams& params) {
  m_handlers.Free();  // handlers are added after creation
  params.style = m_dwStyle;
  params.iconId = m_nIconId;
  params.menuId = m_nMenuId;
  if (m_bDoubleClick) params.classStyle |= CS_DBLCLKS;
  else params.classStyle &= ~CS_DBLCLKS;
  return 1;
}

int CWindowEx::SetFont(std::string_view face, int height, int, int) { return ReplaceFont(face, height); }

int CWindowEx::AddHandler(UINT message, MessageHandler handler) {
  const HandlerEntry entry{message, handler};
  return m_handlers.Append(-1, &entry);
}

int CWindowEx::HandlerCount() const { return int(m_handlers.m_nUsed / sizeof(HandlerEntry)); }

LRESULT CWindowEx::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const auto* entries = reinterpret_cast<const HandlerEntry*>(m_handlers.m_pData);
  for (int i = 0, n = HandlerCount(); i < n; ++i)
    if (entries[i].message == message) return entries[i].handler(window, wParam, lParam);

  switch (message) {
    case WM_DESTROY:
      qev::PostQuitMessage(0);
      break;
    case WM_SYSCOMMAND:
      // closing ends the loop; the application destroys the window at shutdown
      if (wParam == SC_CLOSE) {
        qev::PostQuitMessage(0);
        return 0;
      }
      if (wParam == SC_SCREENSAVE || wParam == SC_MONITORPOWER) return 0;
      break;
    case WM_IME_NOTIFY:
      if (wParam == IMN_SETOPENSTATUS) qev::SetImeOpenStatus(window, false);
      break;
    default:
      break;
  }
  return qev::DefWindowProc(window, message, wParam, lParam);
}
