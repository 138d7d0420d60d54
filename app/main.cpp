// Entry point: the settings are read from the directory the program was
// started from, before the viewer moves into its own folder, and written back
// after it has shut down.
#include "app/ini_edit_x.h"
#include "app/viewer.h"

int main() {
  CIniEditX settings;
  int result = 0;
  {
    CViewer viewer(settings);
    result = viewer.WinMain();
  }
  return result;
}
