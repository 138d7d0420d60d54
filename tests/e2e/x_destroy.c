/* Destroys a window from another client, as a crashing or hostile program
   (or a window manager tearing down) might. Usage: x_destroy WINDOW-ID */
#include <X11/Xlib.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: x_destroy WINDOW-ID\n");
    return 2;
  }
  Display* d = XOpenDisplay(NULL);
  if (!d) {
    fprintf(stderr, "x_destroy: no display\n");
    return 1;
  }
  XDestroyWindow(d, (Window)strtoul(argv[1], NULL, 0));
  XSync(d, False);
  XCloseDisplay(d);
  return 0;
}
