// The window system over SDL2: top-level windows with a window procedure and
// user data, a message queue that turns SDL events into the program's
// messages (same ids, same wParam/lParam packing), the 256 virtual-key states,
// mouse capture and the screen size.
#pragma once
#include <cstdint>
#include <string>

#include "platform/win_types.h"

struct SDL_Window;

struct MSG {
  HWND hwnd = nullptr;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

namespace qev {

struct WindowCreateParams {
  std::u16string title;
  int x = 0, y = 0, width = 0, height = 0;  // outer rectangle, screen pixels
  uint32_t style = 0;
  WNDPROC proc = nullptr;
  void* createData = nullptr;  // handed to WM_CREATE as lParam
};

// Creates the window and sends it WM_CREATE (lParam = createData) before
// returning; null when the window system or the window cannot be created.
HWND CreateWindowEx(const WindowCreateParams& params);
void DestroyWindow(HWND window);
bool IsWindow(HWND window);

void SetWindowUserData(HWND window, void* data);
void* GetWindowUserData(HWND window);
LRESULT DefWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Takes the next message: posted ones first, then window-system events, and
// WM_QUIT last, once nothing else is waiting. False when the queue is empty.
bool PeekMessage(MSG* msg);
LRESULT DispatchMessage(const MSG& msg);
void PostQuitMessage(int exitCode);
void PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// A file dropped on a window arrives as WM_DROPFILES; its handler takes the
// native path here (false when none is waiting). Posting one is for tests.
bool TakeDroppedFile(std::string* path);
void PostDroppedFile(HWND window, const std::string& path);

bool SetWindowText(HWND window, const std::u16string& text);
std::u16string GetWindowText(HWND window);
bool ShowWindow(HWND window, bool show);
bool EnableWindow(HWND window, bool enable);
bool IsWindowEnabled(HWND window);
void SetImeOpenStatus(HWND window, bool open);
bool GetImeOpenStatus(HWND window);
void SetCapture(HWND window);
void ReleaseCapture();

// Whether the display may blank or start its screen saver now.
bool ScreenSaverAllowed();

// Size of the primary display; false without a window system.
bool GetScreenSize(int* width, int* height);

// Virtual-key states as GetKeyboardState gives them: bit 7 set while down.
void GetKeyboardState(uint8_t keys[256]);

// The SDL window behind a handle, for the OpenGL device.
SDL_Window* SdlWindowFromHwnd(HWND window);

}  // namespace qev
