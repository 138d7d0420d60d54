// The rendering device over OpenGL 3.3 core. It draws into its own back
// buffer (the size the device was created with, 1280 x 800 in this program)
// and either shows it scaled to a window or keeps it offscreen (EGL without
// any display) for tests and the headless tool to read back. Asked for 4
// samples a pixel it keeps a multisampled buffer too, drawn into while
// D3DRS_MULTISAMPLEANTIALIAS is on; a window on a software rasteriser
// declines it.
#pragma once
#include "platform/d3d9.h"

namespace qev {

enum class GlSurface {
  kWindow,     // the focus window given to CreateDevice (an SDL OpenGL window)
  kOffscreen,  // no window: the device renders into memory only
};

// A new Direct3D-like object whose devices use OpenGL on the given surface;
// owned by the caller (Release).
IDirect3D9* CreateGlDirect3D(GlSurface surface);

}  // namespace qev

// The program's own entry point: devices for windows.
IDirect3D9* Direct3DCreate9(unsigned sdkVersion);
