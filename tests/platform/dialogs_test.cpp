// File dialogs through the desktop's dialog program: a stand-in program first
// on PATH answers, and what it was asked is checked.
#include "platform/dialogs.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/sdl_window.h"
#include "tests/common/temp_dir.h"

namespace {

// A folder holding a stand-in "zenity" that records its arguments and answers
// with the given output and exit status; it is the only program on PATH while
// the object lives.
class StubDialogProgram {
 public:
  StubDialogProgram(const std::string& answer, int status, const char* seconds = "0") {
    const std::string script = "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > '" + m_dir.Path("args") +
                               "'\nsleep " + seconds + "\nprintf '" + answer + "'\nexit " +
                               std::to_string(status) + "\n";
    m_dir.WriteFile("zenity", script);
    chmod(m_dir.Path("zenity").c_str(), 0755);
    const char* path = std::getenv("PATH");
    m_oldPath = path ? path : "";
    setenv("PATH", (m_dir.Path() + ":/usr/bin:/bin").c_str(), 1);
  }
  ~StubDialogProgram() { setenv("PATH", m_oldPath.c_str(), 1); }
  std::string Args() const { return m_dir.ReadFile("args"); }

 private:
  qev::test::TempDir m_dir;
  std::string m_oldPath;
};

const qev::FileFilter kFilter{u"QEV用モデルファイル(*.pmd)", u"*.pmd"};

TEST(Dialogs, OpenDialogAnswersAndCancels) {
  struct Case {
    const char* what;
    std::string answer;
    int status;
    bool chosen;
    std::string path;
  };
  const Case cases[] = {
      {"a chosen file", "/picked/モデル.pmd\\n", 0, true, "/picked/モデル.pmd"},
      {"cancelled", "", 1, false, "/old/a.pmd"},
      {"closed without an answer", "", 0, false, "/old/a.pmd"},
  };
  for (const Case& c : cases) {
    StubDialogProgram stub(c.answer, c.status);
    qev::PlatformDialogs dialogs;
    std::string path = "/old/a.pmd";
    EXPECT_EQ(dialogs.GetOpenFileName(nullptr, &path, kFilter), c.chosen) << c.what;
    EXPECT_EQ(path, c.path) << c.what;
    // opened on the remembered file, the pattern matching any letter case
    const std::string args = stub.Args();
    EXPECT_NE(args.find("--filename=/old/a.pmd\n"), std::string::npos) << args;
    EXPECT_NE(args.find("*.[pP][mM][dD]"), std::string::npos) << args;
    EXPECT_EQ(args.find("--save"), std::string::npos) << args;
  }
}

TEST(Dialogs, SaveDialogProposesTheNameAndAsksNothingBeforeReplacing) {
  StubDialogProgram stub("/picked/out.x\\n", 0);
  qev::PlatformDialogs dialogs;
  std::string path = "/m/model.x";
  EXPECT_TRUE(dialogs.GetSaveFileName(nullptr, &path, qev::FileFilter{u"Xファイル(*.x)", u"*.x"}));
  EXPECT_EQ(path, "/picked/out.x");
  const std::string args = stub.Args();
  EXPECT_NE(args.find("--save\n"), std::string::npos) << args;
  EXPECT_NE(args.find("--filename=/m/model.x\n"), std::string::npos) << args;
  EXPECT_NE(args.find("--title=Xファイル(*.x)\n"), std::string::npos) << args;
  EXPECT_EQ(args.find("--confirm-overwrite"), std::string::npos) << args;
}

TEST(Dialogs, AChildReapedForUsStillAnswers) {
  // A program started with child exits ignored (inherited from whatever
  // launched it) never sees the dialog's exit status; the dialog must still
  // return, its answer taken from what it printed.
  EXPECT_EXIT(
      {
        signal(SIGCHLD, SIG_IGN);
        alarm(10);  // a hang fails the test instead of stalling it
        StubDialogProgram stub("/picked/b.pmd\\n", 0);
        qev::PlatformDialogs dialogs;
        std::string path;
        const bool chosen = dialogs.GetOpenFileName(nullptr, &path, kFilter);
        _exit(chosen && path == "/picked/b.pmd" ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

int g_dispatched = 0;
LRESULT CountingProc(HWND, UINT message, WPARAM, LPARAM) {
  if (message == 0x0401) ++g_dispatched;
  return 0;
}

TEST(Dialogs, WindowsKeepTheirMessagesWhileTheDialogIsUp) {
  setenv("SDL_VIDEODRIVER", "dummy", 1);  // before the window system starts
  qev::WindowCreateParams params;
  params.width = 64;
  params.height = 64;
  params.proc = &CountingProc;
  HWND window = qev::CreateWindowEx(params);
  ASSERT_NE(window, nullptr);
  MSG msg;
  while (qev::PeekMessage(&msg)) {
  }
  g_dispatched = 0;
  qev::PostMessage(window, 0x0401, 0, 0);
  qev::PostQuitMessage(7);
  {
    StubDialogProgram stub("/picked/c.pmd\\n", 0, "0.3");
    qev::PlatformDialogs dialogs;
    std::string path;
    EXPECT_TRUE(dialogs.GetOpenFileName(window, &path, kFilter));
    EXPECT_EQ(path, "/picked/c.pmd");
  }
  EXPECT_EQ(g_dispatched, 1);  // handled while the dialog was open
  // the quit request waits for the frame loop
  ASSERT_TRUE(qev::PeekMessage(&msg));
  EXPECT_EQ(msg.message, WM_QUIT);
  EXPECT_EQ(msg.wParam, 7u);
  EXPECT_FALSE(qev::PeekMessage(&msg));
  qev::DestroyWindow(window);
}

}  // namespace
