// Windows destroyed by another X client. When some other program destroys
// one of our windows, every later request the program makes on it fails, and
// Xlib's default answer to such an error is to end the process at once. The
// watch takes those errors, and the window's DestroyNotify, as word that the
// window is gone, so the window system can close it the ordinary way.
// Nothing happens on other window systems.
#pragma once

struct SDL_Window;
union SDL_Event;

namespace qev::x11 {

// Watches an SDL window (the first call sets up the X error handler when
// SDL's video runs on X11). Its X window id; 0 when it is not an X window.
unsigned long WatchWindow(SDL_Window* window);
// Whether the X window of that id was destroyed by someone else.
bool WindowGone(unsigned long xid);
// The program destroys the window itself now: its DestroyNotify is no news,
// and errors of requests that still meet it are taken quietly.
void Forget(unsigned long xid);
// Learns from an SDL_SYSWMEVENT (a raw X event) when a watched window is destroyed.
void NoteEvent(const SDL_Event& event);
// Waits until the X server has answered every request made so far, so errors
// still on their way (from destroying a window that was already gone) arrive
// while the watch still takes them.
void Settle();

}  // namespace qev::x11
