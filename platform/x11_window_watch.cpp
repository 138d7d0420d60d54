#include "platform/x11_window_watch.h"

#include <SDL.h>
#include <SDL_syswm.h>

#include <X11/Xproto.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace qev::x11 {
namespace {

struct Watch {
  Display* display = nullptr;
  int (*previous)(Display*, XErrorEvent*) = nullptr;
  int glxErrorBase = -1;                 // -1 without the GLX extension
  std::vector<unsigned long> windows;    // X ids of the windows watched
  std::vector<unsigned long> gone;       // of those, the ones destroyed by someone else
  std::vector<unsigned long> forgotten;  // destroyed by the program itself
};

Watch& State() {
  static Watch w;
  return w;
}

bool Holds(const std::vector<unsigned long>& ids, unsigned long xid) {
  return xid && std::find(ids.begin(), ids.end(), xid) != ids.end();
}

bool Watched(unsigned long xid) { return Holds(State().windows, xid); }

void MarkGone(unsigned long xid) {
  Watch& w = State();
  if (Holds(w.gone, xid)) return;
  w.gone.push_back(xid);
  std::fprintf(stderr, "the window was destroyed by another program: it closes\n");
}

// An error saying that a drawable or window of ours no longer exists: the
// core errors, or GLX's own for a drawable (GLXBadDrawable,
// GLXBadCurrentDrawable, GLXBadWindow).
bool SaysGone(const XErrorEvent& e) {
  if (e.error_code == BadWindow || e.error_code == BadDrawable) return true;
  const int glx = State().glxErrorBase;
  if (glx < 0) return false;
  const int code = int(e.error_code) - glx;
  return code == 2 || code == 11 || code == 12;
}

// Called by Xlib with the display locked: no requests from here.
int OnXError(Display* display, XErrorEvent* e) {
  if (SaysGone(*e)) {
    if (Watched(e->resourceid)) {
      MarkGone(e->resourceid);
      return 0;
    }
    if (Holds(State().forgotten, e->resourceid)) return 0;
  }
  Watch& w = State();
  return w.previous ? w.previous(display, e) : 0;
}

}  // namespace

unsigned long WatchWindow(SDL_Window* window) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!window || !SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return 0;
  Watch& w = State();
  if (!w.display) {
    w.display = info.info.x11.display;
    int opcode = 0, event = 0, error = 0;
    if (XQueryExtension(w.display, "GLX", &opcode, &event, &error)) w.glxErrorBase = error;
    w.previous = XSetErrorHandler(OnXError);
    // the raw X events, for DestroyNotify
    SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
  }
  const unsigned long xid = info.info.x11.window;
  if (!Watched(xid)) w.windows.push_back(xid);
  return xid;
}

bool WindowGone(unsigned long xid) { return Holds(State().gone, xid); }

void Forget(unsigned long xid) {
  Watch& w = State();
  if (!Watched(xid)) return;
  std::erase(w.windows, xid);
  std::erase(w.gone, xid);
  w.forgotten.push_back(xid);
}

void NoteEvent(const SDL_Event& event) {
  if (event.type != SDL_SYSWMEVENT || !event.syswm.msg || event.syswm.msg->subsystem != SDL_SYSWM_X11) return;
  const XEvent& x = event.syswm.msg->msg.x11.event;
  if (x.type == DestroyNotify && Watched(x.xdestroywindow.window)) MarkGone(x.xdestroywindow.window);
}

void Settle() {
  if (State().display) XSync(State().display, False);
}

}  // namespace qev::x11
