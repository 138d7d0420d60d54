#include "platform/dialogs.h"

#include <SDL.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/codepage.h"
#include "platform/sdl_window.h"

extern char** environ;

namespace qev {
namespace {

std::string FindOnPath(const char* program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = dirs.substr(start, end - start) + "/" + program;
    if (end > start && access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return {};
}

// While a dialog program is up the windows keep receiving their messages, as
// under a modal dialog; a quit request is kept for the frame loop.
void PumpWindowMessages() {
  MSG msg;
  while (PeekMessage(&msg)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(int(msg.wParam));
      return;
    }
    DispatchMessage(msg);
  }
}

// Runs a program and returns its standard output; false when it could not
// run or ended with a non-zero status (a cancelled dialog).
bool RunAndRead(const std::vector<std::string>& args, std::string* out) {
  int fds[2];
  if (pipe(fds) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    return false;
  }
  char buf[4096];
  for (;;) {
    pollfd ready{fds[0], POLLIN, 0};
    const int polled = poll(&ready, 1, 30);
    if (polled == 0) {
      PumpWindowMessages();
      continue;
    }
    if (polled < 0) {
      if (errno == EINTR) continue;
      break;
    }
    const ssize_t n = read(fds[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out->append(buf, size_t(n));
  }
  close(fds[0]);
  int status = 0;
  pid_t reaped = -1;
  do reaped = waitpid(pid, &status, 0);
  while (reaped < 0 && errno == EINTR);
  // with child exits ignored (a disposition inherited from our launcher) the
  // child is reaped for us and its status is lost: what it printed decides
  if (reaped < 0) return errno == ECHILD;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// "*.pmd" matches in any letter case, as on the file systems the files come from.
std::string CaseFreePattern(const std::string& pattern) {
  std::string out;
  for (char c : pattern) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
      out += '[';
      out += char(c | 0x20);
      out += char(c & ~0x20);
      out += ']';
    } else {
      out += c;
    }
  }
  return out;
}

bool RunFileDialog(HWND owner, std::string* path, const FileFilter& filter, bool save) {
  const std::string description = Utf16ToUtf8(filter.description);
  const std::string pattern = Utf16ToUtf8(filter.pattern);
  std::vector<std::string> args;
  const std::string zenity = FindOnPath("zenity");
  const std::string kdialog = zenity.empty() ? FindOnPath("kdialog") : std::string();
  if (!zenity.empty()) {
    args = {zenity, "--file-selection", "--title=" + description,
            "--file-filter=" + description + " | " + CaseFreePattern(pattern)};
    // no question before an existing file is replaced: the exports replace it
    if (save) args.push_back("--save");
    if (!path->empty()) args.push_back("--filename=" + *path);
  } else if (!kdialog.empty()) {
    args = {kdialog, save ? "--getsavefilename" : "--getopenfilename", path->empty() ? "." : *path,
            pattern + "|" + description};
  } else {
    SystemDialogs().MessageBox(
        owner, "No file dialog program was found: install the package zenity (or kdialog).",
        Sjis("エラー"), MB_OK | MB_ICONERROR);
    return false;
  }
  std::string chosen;
  if (!RunAndRead(args, &chosen)) return false;
  while (!chosen.empty() && (chosen.back() == '\n' || chosen.back() == '\r')) chosen.pop_back();
  if (chosen.empty()) return false;
  *path = chosen;
  return true;
}

}  // namespace

bool PlatformDialogs::GetOpenFileName(HWND owner, std::string* path, const FileFilter& filter) {
  return RunFileDialog(owner, path, filter, false);
}

bool PlatformDialogs::GetSaveFileName(HWND owner, std::string* path, const FileFilter& filter) {
  return RunFileDialog(owner, path, filter, true);
}

int PlatformDialogs::MessageBox(HWND owner, std::string_view text, std::string_view caption, UINT type) {
  const std::string utf8Text = Cp932ToUtf8(text);
  const std::string utf8Caption = Cp932ToUtf8(caption);
  const uint32_t flags = (type & MB_ICONERROR) ? SDL_MESSAGEBOX_ERROR : SDL_MESSAGEBOX_INFORMATION;
  if (SDL_ShowSimpleMessageBox(flags, utf8Caption.c_str(), utf8Text.c_str(), SdlWindowFromHwnd(owner)) != 0)
    std::fprintf(stderr, "%s: %s\n", utf8Caption.c_str(), utf8Text.c_str());
  return IDOK;
}

PlatformDialogs& SystemDialogs() {
  static PlatformDialogs dialogs;
  return dialogs;
}

}  // namespace qev
