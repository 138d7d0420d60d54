// CBaseWindowEx: a top-level window owned by an object. Every message of the
// window is routed to the owner's virtual WindowProc; derived classes decide
// the creation parameters in PreCreate.
#pragma once
#include <cstdint>
#include <string>

#include "platform/win_types.h"
#include "support/font.h"

class CBaseWindowEx;

// What creation is made of; CBaseWindowEx::Create fills it, PreCreate adjusts it.
struct WindowCreateParams {
  CBaseWindowEx* owner = nullptr;  // first member: the shared procedure reads it on WM_CREATE
  uint32_t classStyle = 0;
  int iconId = 0;
  int menuId = 0;
  std::u16string className;
  std::u16string title;
  uint32_t exStyle = 0;
  uint32_t style = 0;
  int x = 0, y = 0, width = 0, height = 0;
  HINSTANCE instance = nullptr;
};

// Class styles
constexpr uint32_t CS_VREDRAW = 0x0001;
constexpr uint32_t CS_HREDRAW = 0x0002;
constexpr uint32_t CS_DBLCLKS = 0x0008;
constexpr uint32_t CS_BYTEALIGNCLIENT = 0x1000;
constexpr int IDI_APPLICATION = 32512;

class CBaseWindowEx {
 public:
  CBaseWindowEx() = default;
  CBaseWindowEx(const CBaseWindowEx&) = delete;
  CBaseWindowEx& operator=(const CBaseWindowEx&) = delete;
  virtual ~CBaseWindowEx();

  int Create(HINSTANCE instance, const std::u16string& className, const std::u16string& title,
             uint32_t style, int x, int y, int width, int height);
  int Destroy();

  virtual int PreCreate(WindowCreateParams& params) = 0;
  virtual int OnCreate(WindowCreateParams& params);
  virtual int OnDestroy();
  virtual LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  virtual int Enable();
  virtual int Disable();
  virtual int IsEnabled();
  virtual int Show(int flag);
  virtual int SetText(const std::u16string& text);
  // Replaces the window's font and hands it to the window (WM_SETFONT).
  // Character set and weight are kept for the request; the face is chosen by
  // family and height.
  virtual int SetFont(std::string_view face, int height, int charSet, int weight);

  HWND GetHandle() const { return m_hWnd; }

  // The procedure every window of this family is created with.
  static LRESULT SharedWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

 protected:
  std::u16string m_szClassName;
  HWND m_hWnd = nullptr;
  HINSTANCE m_hInstance = nullptr;
  CFont m_font;

  // Makes m_font; 0 without a window or when no face matched.
  int ReplaceFont(std::string_view face, int height);
};
