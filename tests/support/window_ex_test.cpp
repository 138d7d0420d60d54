// Window framework: handler table, message policy, and a real window on the
// window system's display-less driver.
#include "support/window_ex.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/sdl_window.h"

namespace {

// Drains the queue; true when a WM_QUIT was in it.
bool QuitWasPosted() {
  bool quit = false;
  MSG msg;
  while (qev::PeekMessage(&msg))
    if (msg.message == WM_QUIT) quit = true;
  return quit;
}

int g_calls = 0;
LRESULT CountingHandler(HWND, WPARAM, LPARAM) { return ++g_calls; }
LRESULT OtherHandler(HWND, WPARAM, LPARAM) { return 1000; }

TEST(WindowEx, MessagePolicy) {
  struct Case {
    const char* name;
    UINT message;
    WPARAM wParam;
    bool quits;
  };
  const Case cases[] = {
      {"close button ends the loop", WM_SYSCOMMAND, SC_CLOSE, true},
      {"screen saver refused", WM_SYSCOMMAND, SC_SCREENSAVE, false},
      {"monitor power-off refused", WM_SYSCOMMAND, SC_MONITORPOWER, false},
      {"wParam compared whole", WM_SYSCOMMAND, SC_CLOSE | 0x10000, false},
      {"destroy posts quit", WM_DESTROY, 0, true},
      {"other messages", WM_PAINT, 0, false},
  };
  QuitWasPosted();
  for (const Case& c : cases) {
    CWindowEx w;
    const LRESULT r = w.WindowProc(nullptr, c.message, c.wParam, 0);
    EXPECT_EQ(r, 0) << c.name;
    EXPECT_EQ(QuitWasPosted(), c.quits) << c.name;
  }
}

TEST(WindowEx, FirstMatchingHandlerWinsAndReplacesBuiltIns) {
  QuitWasPosted();
  CWindowEx w;
  g_calls = 0;
  ASSERT_EQ(w.AddHandler(WM_DESTROY, &CountingHandler), 1);
  ASSERT_EQ(w.AddHandler(WM_DESTROY, &OtherHandler), 1);
  EXPECT_EQ(w.WindowProc(nullptr, WM_DESTROY, 0, 0), 1);
  EXPECT_EQ(g_calls, 1);
  EXPECT_FALSE(QuitWasPosted());  // the handler replaced the quit posting
  // the table grows in whole steps and keeps every entry
  for (int i = 0; i < 20000; ++i) ASSERT_EQ(w.AddHandler(0x400 + i, &OtherHandler), 1);
  EXPECT_EQ(w.HandlerCount(), 20002);
  EXPECT_EQ(w.WindowProc(nullptr, 0x400 + 19999, 0, 0), 1000);
}

TEST(WindowEx, RealWindowOnTheDisplaylessDriver) {
  // the display-less driver must be chosen before the window system starts
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  QuitWasPosted();
  CWindowEx w;
  w.m_bDoubleClick = 0;
  ASSERT_EQ(w.Create(nullptr, u"タイトル title"), 1);
  ASSERT_NE(w.GetHandle(), nullptr);
  EXPECT_EQ(qev::GetWindowText(w.GetHandle()), u"タイトル title");
  EXPECT_EQ(w.m_dwStyle & WS_VISIBLE, WS_VISIBLE);
  // the window refuses the screen saver, so none starts while it exists
  EXPECT_FALSE(qev::ScreenSaverAllowed());
  ASSERT_EQ(w.AddHandler(0x0401u, &CountingHandler), 1);
  g_calls = 0;
  qev::PostMessage(w.GetHandle(), 0x0401u, 0, 0);
  MSG msg;
  while (qev::PeekMessage(&msg)) qev::DispatchMessage(msg);
  EXPECT_EQ(g_calls, 1);
  // the input method is closed again as soon as it opens; other messages
  // leave it alone
  qev::SetImeOpenStatus(w.GetHandle(), true);
  qev::SendMessage(w.GetHandle(), WM_PAINT, 0, 0);
  EXPECT_TRUE(qev::GetImeOpenStatus(w.GetHandle()));
  qev::SendMessage(w.GetHandle(), WM_IME_NOTIFY, IMN_SETOPENSTATUS, 0);
  EXPECT_FALSE(qev::GetImeOpenStatus(w.GetHandle()));
  // closing from the window system ends the loop without destroying the window
  qev::SendMessage(w.GetHandle(), WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_TRUE(qev::IsWindow(w.GetHandle()));
  EXPECT_TRUE(QuitWasPosted());
  EXPECT_EQ(w.Destroy(), 1);
  EXPECT_EQ(w.GetHandle(), nullptr);
  EXPECT_TRUE(QuitWasPosted());  // WM_DESTROY reached the window: quit posted
  EXPECT_TRUE(qev::ScreenSaverAllowed());
}

}  // namespace
