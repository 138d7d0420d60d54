// CWindowEx: the application window. It carries a table of per-message
// handlers the application fills, and the viewer's message policy: closing
// ends the message loop (the window stays until shutdown), no screen saver
// while it runs, the input method kept closed.
#pragma once
#include "support/base_window_ex.h"
#include "support/buffer.h"

// A handler of the table: (window, wParam, lParam) -> message result.
using MessageHandler = LRESULT (*)(HWND, WPARAM, LPARAM);

class CWindowEx : public CBaseWindowEx {
 public:
  CWindowEx();
  ~CWindowEx() override;

  // Creates the window with a 1280 x 800 client area centred on the screen.
  int Create(HINSTANCE instance, const std::u16string& title);
  int AddHandler(UINT message, MessageHandler handler);
  int HandlerCount() const;

  int PreCreate(WindowCreateParams& params) override;
  // The font is only kept, not handed to the window.
  int SetFont(std::string_view face, int height, int charSet, int weight) override;
  LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

  static constexpr int kClientWidth = 1280;
  static constexpr int kClientHeight = 800;

  uint32_t m_dwStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  int m_nIconId = IDI_APPLICATION;
  int m_nMenuId = 0;
  int m_bDoubleClick = 1;

 private:
  struct HandlerEntry {
    UINT message;
    MessageHandler handler;
  };
  CBuffer m_handlers;
};
