#include "platform/sdl_window.h"

#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <vector>

#include "platform/codepage.h"
#include "platform/x11_window_watch.h"

struct PlatformWindow {
  SDL_Window* sdl = nullptr;
  uint32_t id = 0;
  WNDPROC proc = nullptr;
  void* userData = nullptr;
  bool enabled = true;
  bool imeOpen = false;
  unsigned long xid = 0;    // the X window behind it; 0 on other window systems
  bool closeAsked = false;  // destroyed from outside, and asked to close once
};

namespace qev {
namespace {

struct WindowSystem {
  bool videoUp = false;
  bool videoFailed = false;
  std::vector<HWND> windows;
  std::deque<MSG> posted;
  bool quitPosted = false;
  int quitCode = 0;
  HWND capture = nullptr;
  std::deque<std::string> dropped;  // paths of WM_DROPFILES not yet taken
};

WindowSystem& System() {
  static WindowSystem s;
  return s;
}

bool EnsureVideo() {
  WindowSystem& s = System();
  if (s.videoUp) return true;
  if (s.videoFailed) return false;
  // closing the last window must not end the program behind its back:
  // the window procedure decides what a close means
  SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
  SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
  if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
    std::fprintf(stderr, "video could not start: %s\n", SDL_GetError());
    s.videoFailed = true;
    return false;
  }
  s.videoUp = true;
  return true;
}

HWND FindById(uint32_t id) {
  for (HWND w : System().windows)
    if (w->id == id) return w;
  return nullptr;
}

int VirtualKeyOfScancode(SDL_Scancode sc) {
  if (sc >= SDL_SCANCODE_A && sc <= SDL_SCANCODE_Z) return 'A' + (sc - SDL_SCANCODE_A);
  if (sc >= SDL_SCANCODE_1 && sc <= SDL_SCANCODE_9) return '1' + (sc - SDL_SCANCODE_1);
  if (sc >= SDL_SCANCODE_F1 && sc <= SDL_SCANCODE_F12) return VK_F1 + (sc - SDL_SCANCODE_F1);
  if (sc >= SDL_SCANCODE_KP_1 && sc <= SDL_SCANCODE_KP_9) return 0x61 + (sc - SDL_SCANCODE_KP_1);
  switch (sc) {
    case SDL_SCANCODE_0: return '0';
    case SDL_SCANCODE_KP_0: return 0x60;
    case SDL_SCANCODE_SPACE: return VK_SPACE;
    case SDL_SCANCODE_RETURN: return VK_RETURN;
    case SDL_SCANCODE_ESCAPE: return VK_ESCAPE;
    case SDL_SCANCODE_BACKSPACE: return VK_BACK;
    case SDL_SCANCODE_TAB: return VK_TAB;
    case SDL_SCANCODE_PAUSE: return VK_PAUSE;
    case SDL_SCANCODE_CAPSLOCK: return VK_CAPITAL;
    case SDL_SCANCODE_PAGEUP: return VK_PRIOR;
    case SDL_SCANCODE_PAGEDOWN: return VK_NEXT;
    case SDL_SCANCODE_END: return VK_END;
    case SDL_SCANCODE_HOME: return VK_HOME;
    case SDL_SCANCODE_LEFT: return VK_LEFT;
    case SDL_SCANCODE_UP: return VK_UP;
    case SDL_SCANCODE_RIGHT: return VK_RIGHT;
    case SDL_SCANCODE_DOWN: return VK_DOWN;
    case SDL_SCANCODE_INSERT: return VK_INSERT;
    case SDL_SCANCODE_DELETE: return VK_DELETE;
    case SDL_SCANCODE_LSHIFT: return VK_LSHIFT;
    case SDL_SCANCODE_RSHIFT: return VK_RSHIFT;
    case SDL_SCANCODE_LCTRL: return VK_LCONTROL;
    case SDL_SCANCODE_RCTRL: return VK_RCONTROL;
    case SDL_SCANCODE_LALT: return VK_LMENU;
    case SDL_SCANCODE_RALT: return VK_RMENU;
    default: return 0;
  }
}

WPARAM MouseKeyFlags() {
  const uint32_t buttons = SDL_GetMouseState(nullptr, nullptr);
  const SDL_Keymod mod = SDL_GetModState();
  WPARAM flags = 0;
  if (buttons & SDL_BUTTON_LMASK) flags |= MK_LBUTTON;
  if (buttons & SDL_BUTTON_RMASK) flags |= MK_RBUTTON;
  if (buttons & SDL_BUTTON_MMASK) flags |= MK_MBUTTON;
  if (mod & KMOD_SHIFT) flags |= MK_SHIFT;
  if (mod & KMOD_CTRL) flags |= MK_CONTROL;
  return flags;
}

// A window that another program destroyed is asked to close, once, as if
// its close button had been pressed; false when there is none.
bool CloseOfGoneWindow(MSG* msg) {
  for (HWND w : System().windows) {
    if (w->closeAsked || !x11::WindowGone(w->xid)) continue;
    w->closeAsked = true;
    *msg = {w, WM_SYSCOMMAND, SC_CLOSE, 0};
    return true;
  }
  return false;
}

// One SDL event as the program's message; false for events it has no use for.
bool Translate(const SDL_Event& e, MSG* msg) {
  WindowSystem& s = System();
  switch (e.type) {
    case SDL_SYSWMEVENT:
      x11::NoteEvent(e);
      return CloseOfGoneWindow(msg);
    case SDL_QUIT:
      // asked to end from outside (a signal, the session closing): the same
      // as the close button of the first window
      if (s.windows.empty()) return false;
      *msg = {s.windows.front(), WM_SYSCOMMAND, SC_CLOSE, 0};
      return true;
    case SDL_WINDOWEVENT: {
      HWND w = FindById(e.window.windowID);
      if (!w) return false;
      if (e.window.event == SDL_WINDOWEVENT_CLOSE) {
        *msg = {w, WM_SYSCOMMAND, SC_CLOSE, 0};
        return true;
      }
      if (e.window.event == SDL_WINDOWEVENT_EXPOSED) {
        *msg = {w, WM_PAINT, 0, 0};
        return true;
      }
      return false;
    }
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
      HWND w = FindById(e.button.windowID);
      if (!w) return false;
      const bool down = e.type == SDL_MOUSEBUTTONDOWN;
      UINT id = 0;
      if (e.button.button == SDL_BUTTON_LEFT) id = down ? WM_LBUTTONDOWN : WM_LBUTTONUP;
      else if (e.button.button == SDL_BUTTON_RIGHT) id = down ? WM_RBUTTONDOWN : WM_RBUTTONUP;
      else if (e.button.button == SDL_BUTTON_MIDDLE) id = down ? WM_MBUTTONDOWN : WM_MBUTTONUP;
      else return false;
      *msg = {w, id, MouseKeyFlags(), MakeMouseLParam(e.button.x, e.button.y)};
      return true;
    }
    case SDL_MOUSEMOTION: {
      HWND w = FindById(e.motion.windowID);
      if (!w) return false;
      *msg = {w, WM_MOUSEMOVE, MouseKeyFlags(), MakeMouseLParam(e.motion.x, e.motion.y)};
      return true;
    }
    case SDL_MOUSEWHEEL: {
      HWND w = FindById(e.wheel.windowID);
      if (!w) return false;
      *msg = {w, WM_MOUSEWHEEL, (WPARAM(uint16_t(int16_t(e.wheel.y * 120))) << 16) | MouseKeyFlags(), 0};
      return true;
    }
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
      HWND w = FindById(e.key.windowID);
      const int vk = VirtualKeyOfScancode(e.key.keysym.scancode);
      if (!w || !vk) return false;
      *msg = {w, e.type == SDL_KEYDOWN ? WM_KEYDOWN : WM_KEYUP, WPARAM(vk), e.key.repeat ? 1 : 0};
      return true;
    }
    case SDL_DROPFILE: {
      // one message per file; the handler takes the path with TakeDroppedFile
      HWND w = FindById(e.drop.windowID);
      if (!w && !s.windows.empty()) w = s.windows.front();
      if (e.drop.file) {
        if (w) s.dropped.emplace_back(e.drop.file);
        SDL_free(e.drop.file);
      }
      if (!w) return false;
      *msg = {w, WM_DROPFILES, 0, 0};
      return true;
    }
    case SDL_TEXTEDITING: {
      // the input method opened on the window: tell it, as the system would
      HWND w = FindById(e.edit.windowID);
      if (!w) return false;
      w->imeOpen = true;
      *msg = {w, WM_IME_NOTIFY, IMN_SETOPENSTATUS, 0};
      return true;
    }
    default:
      return false;
  }
}

}  // namespace

HWND CreateWindowEx(const WindowCreateParams& p) {
  if (!EnsureVideo()) return nullptr;
  const std::string title = Utf16ToUtf8(p.title);
  const uint32_t visible = (p.style & WS_VISIBLE) ? SDL_WINDOW_SHOWN : SDL_WINDOW_HIDDEN;
  SDL_Window* sdl = SDL_CreateWindow(title.c_str(), p.x, p.y, p.width, p.height, visible | SDL_WINDOW_OPENGL);
  if (!sdl)  // no OpenGL here: a plain window still carries messages and keys
    sdl = SDL_CreateWindow(title.c_str(), p.x, p.y, p.width, p.height, visible);
  if (!sdl) {
    std::fprintf(stderr, "window could not be created: %s\n", SDL_GetError());
    return nullptr;
  }
  auto* w = new PlatformWindow;
  w->sdl = sdl;
  w->id = SDL_GetWindowID(sdl);
  w->xid = x11::WatchWindow(sdl);
  w->proc = p.proc;
  System().windows.push_back(w);
  SDL_StopTextInput();
  if (w->proc) {
    w->proc(w, WM_CREATE, 0, LPARAM(reinterpret_cast<intptr_t>(p.createData)));
    // the screen saver asks the window first; a window that answers 0 keeps
    // the display awake for as long as it exists
    if (IsWindow(w) && w->proc(w, WM_SYSCOMMAND, SC_SCREENSAVE, 0) == 0) SDL_DisableScreenSaver();
  }
  return IsWindow(w) ? w : nullptr;
}

bool IsWindow(HWND window) {
  auto& ws = System().windows;
  return window && std::find(ws.begin(), ws.end(), window) != ws.end();
}

void DestroyWindow(HWND window) {
  WindowSystem& s = System();
  if (!IsWindow(window)) return;
  if (window->proc) window->proc(window, WM_DESTROY, 0, 0);
  s.windows.erase(std::find(s.windows.begin(), s.windows.end(), window));
  if (s.capture == window) ReleaseCapture();
  std::erase_if(s.posted, [window](const MSG& m) { return m.hwnd == window; });
  x11::Forget(window->xid);
  SDL_DestroyWindow(window->sdl);
  // destroying a window someone else destroyed first fails: the error is
  // taken now, while the watch still expects it
  if (window->xid) x11::Settle();
  delete window;
  if (s.windows.empty()) SDL_EnableScreenSaver();
}

void SetWindowUserData(HWND window, void* data) {
  if (IsWindow(window)) window->userData = data;
}

void* GetWindowUserData(HWND window) { return IsWindow(window) ? window->userData : nullptr; }

LRESULT DefWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
  // what the system does when a window leaves a message to it
  if (message == WM_SYSCOMMAND && wParam == SC_CLOSE) PostMessage(window, WM_CLOSE, 0, 0);
  else if (message == WM_CLOSE) DestroyWindow(window);
  return 0;
}

LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!IsWindow(window) || !window->proc) return 0;
  return window->proc(window, message, wParam, lParam);
}

void PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  System().posted.push_back({window, message, wParam, lParam});
}

void PostQuitMessage(int exitCode) {
  System().quitPosted = true;
  System().quitCode = exitCode;
}

bool PeekMessage(MSG* msg) {
  WindowSystem& s = System();
  if (!s.posted.empty()) {
    *msg = s.posted.front();
    s.posted.pop_front();
    return true;
  }
  if (s.videoUp) {
    // errors met since the last look may have found a window gone
    if (CloseOfGoneWindow(msg)) return true;
    SDL_Event e;
    while (SDL_PollEvent(&e))
      if (Translate(e, msg)) return true;
  }
  if (s.quitPosted) {
    s.quitPosted = false;
    *msg = {nullptr, WM_QUIT, WPARAM(s.quitCode), 0};
    return true;
  }
  return false;
}

bool TakeDroppedFile(std::string* path) {
  WindowSystem& s = System();
  if (s.dropped.empty()) return false;
  *path = std::move(s.dropped.front());
  s.dropped.pop_front();
  return true;
}

void PostDroppedFile(HWND window, const std::string& path) {
  System().dropped.push_back(path);
  PostMessage(window, WM_DROPFILES, 0, 0);
}

LRESULT DispatchMessage(const MSG& msg) { return SendMessage(msg.hwnd, msg.message, msg.wParam, msg.lParam); }

bool SetWindowText(HWND window, const std::u16string& text) {
  if (!IsWindow(window)) return false;
  SDL_SetWindowTitle(window->sdl, Utf16ToUtf8(text).c_str());
  return true;
}

std::u16string GetWindowText(HWND window) {
  return IsWindow(window) ? Utf8ToUtf16(SDL_GetWindowTitle(window->sdl)) : std::u16string();
}

bool ShowWindow(HWND window, bool show) {
  if (!IsWindow(window)) return false;
  const bool wasVisible = SDL_GetWindowFlags(window->sdl) & SDL_WINDOW_SHOWN;
  if (show) SDL_ShowWindow(window->sdl);
  else SDL_HideWindow(window->sdl);
  return wasVisible;
}

bool EnableWindow(HWND window, bool enable) {
  if (!IsWindow(window)) return false;
  const bool wasDisabled = !window->enabled;
  window->enabled = enable;
  return wasDisabled;
}

bool IsWindowEnabled(HWND window) { return IsWindow(window) && window->enabled; }

void SetImeOpenStatus(HWND window, bool open) {
  if (!IsWindow(window)) return;
  window->imeOpen = open;
  if (open) SDL_StartTextInput();
  else SDL_StopTextInput();
}

bool GetImeOpenStatus(HWND window) { return IsWindow(window) && window->imeOpen; }

void SetCapture(HWND window) {
  if (!IsWindow(window)) return;
  System().capture = window;
  if (System().videoUp) SDL_CaptureMouse(SDL_TRUE);
}

void ReleaseCapture() {
  System().capture = nullptr;
  if (System().videoUp) SDL_CaptureMouse(SDL_FALSE);
}

bool ScreenSaverAllowed() { return !System().videoUp || SDL_IsScreenSaverEnabled(); }

bool GetScreenSize(int* width, int* height) {
  if (!EnsureVideo()) return false;
  SDL_DisplayMode mode;
  if (SDL_GetCurrentDisplayMode(0, &mode) != 0) return false;
  *width = mode.w;
  *height = mode.h;
  return true;
}

void GetKeyboardState(uint8_t keys[256]) {
  std::fill(keys, keys + 256, uint8_t(0));
  if (!System().videoUp) return;
  int count = 0;
  const uint8_t* state = SDL_GetKeyboardState(&count);
  for (int sc = 0; sc < count; ++sc) {
    if (!state[sc]) continue;
    const int vk = VirtualKeyOfScancode(SDL_Scancode(sc));
    if (vk) keys[vk] = 0x80;
  }
  // the generic modifier keys are down when either side is
  if (keys[VK_LSHIFT] | keys[VK_RSHIFT]) keys[VK_SHIFT] = 0x80;
  if (keys[VK_LCONTROL] | keys[VK_RCONTROL]) keys[VK_CONTROL] = 0x80;
  if (keys[VK_LMENU] | keys[VK_RMENU]) keys[VK_MENU] = 0x80;
  const uint32_t buttons = SDL_GetMouseState(nullptr, nullptr);
  if (buttons & SDL_BUTTON_LMASK) keys[VK_LBUTTON] = 0x80;
  if (buttons & SDL_BUTTON_RMASK) keys[VK_RBUTTON] = 0x80;
  if (buttons & SDL_BUTTON_MMASK) keys[VK_MBUTTON] = 0x80;
}

SDL_Window* SdlWindowFromHwnd(HWND window) { return IsWindow(window) ? window->sdl : nullptr; }

}  // namespace qev
