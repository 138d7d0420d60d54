// Open and save file dialogs and message boxes. The file dialogs run the
// desktop's own dialog program (zenity, else kdialog); message boxes are
// SDL's, or stderr when there is no display. Tests script all three.
#pragma once
#include <string>
#include <string_view>

#include "platform/win_types.h"

namespace qev {

// One filter of a file dialog: a description and a pattern such as "*.pmd".
struct FileFilter {
  std::u16string description;
  std::u16string pattern;
};

constexpr UINT MB_OK = 0x0;
constexpr UINT MB_ICONERROR = 0x10;
constexpr int IDOK = 1;

class PlatformDialogs {
 public:
  virtual ~PlatformDialogs() = default;
  // path: in, the file the dialog opens on; out, the chosen file (native).
  // False on cancel, leaving path unchanged.
  virtual bool GetOpenFileName(HWND owner, std::string* path, const FileFilter& filter);
  virtual bool GetSaveFileName(HWND owner, std::string* path, const FileFilter& filter);
  // Text and caption are the system's narrow text (code page 932).
  virtual int MessageBox(HWND owner, std::string_view text, std::string_view caption, UINT type);
};

PlatformDialogs& SystemDialogs();

}  // namespace qev
