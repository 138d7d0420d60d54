// CDDPro90: the one rendering device of the program and the bracket of every
// frame: creates the device with fixed presentation settings, puts it into
// the standard state, begins and clears a scene, ends and presents it.
#pragma once
#include <functional>

#include "platform/d3d9.h"

// Which device Init creates: the window's OpenGL one (the program), an
// offscreen OpenGL one (tests and the headless tool read its pixels), or a
// recorder (tests assert its calls).
enum class DeviceBackend { kWindowGl, kOffscreenGl, kRecording };

class CDDPro90 {
 public:
  CDDPro90() = default;
  CDDPro90(const CDDPro90&) = delete;
  CDDPro90& operator=(const CDDPro90&) = delete;
  virtual ~CDDPro90();

  // Creates the device for the window with a back buffer of width x height
  // pixels (the program's is 1280 x 800; the headless tool picks others);
  // 1 on success. A second call first releases what the first made.
  int Init(HWND window, DeviceBackend backend = DeviceBackend::kWindowGl, int width = 1280, int height = 800);
  // The same with the Direct3D object made by a caller's factory (tests
  // script adapters and failures this way); the frame owns what it returns.
  int Init(HWND window, const std::function<IDirect3D9*()>& createDirect3D, int width = 1280, int height = 800);
  // Multisampled drawing on or off from the next BeginDraw (a device made
  // without samples ignores it); the state is only sent when it changes.
  void SetMultiSample(int on);
  int BeginDraw();
  int EndDraw();
  int SetDefaultStates();
  int SelectBackBufferFormat();
  int ReleaseTextures();
  void Term();

  HWND m_hWnd = nullptr;
  IDirect3D9* m_pD3D = nullptr;
  IDirect3DDevice9* m_pDevice = nullptr;  // drawn on by every part of the program
  D3DCAPS9 m_caps{};
  int m_nWidth = 640;  // back buffer; Init sets its size
  int m_nHeight = 480;
  D3DCOLOR m_dwClearColor = 0x00000000;
  D3DPRESENT_PARAMETERS m_pp{};
  int m_bInScene = 0;
  int m_bDeviceLost = 0;  // set by a failed Present; no frame runs after it
  // Samples per pixel the next Init asks for: none, or 4 for shaded drawing.
  D3DMULTISAMPLE_TYPE m_multiSampleType = D3DMULTISAMPLE_NONE;
  int m_bMultiSampleOn = 0;
};
