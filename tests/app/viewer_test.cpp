// The viewer's loop and commands, driven by a scripted clock, keyboard and
// dialogs; no window is needed.
#include "app/viewer.h"

#include <gtest/gtest.h>

#include "app/ini_edit_x.h"
#include "platform/sdl_window.h"
#include "tests/common/fake_platform.h"
#include "tests/common/temp_dir.h"

namespace {

using qev::test::FakeClock;
using qev::test::ScriptedDialogs;
using qev::test::ScriptedKeyboard;

struct ViewerRig {
  qev::test::TempDir dir;
  FakeClock clock{false};
  ScriptedKeyboard keyboard;
  ScriptedDialogs dialogs;
  CIniEditX settings{dir.Path()};
  CViewer viewer{settings, ViewerServices{&clock, &keyboard, &dialogs}};

  // Runs frames by moving the clock one period per frame.
  void Frames(int n) {
    for (int i = 0; i < n; ++i) {
      clock.AdvanceMs(33);
      viewer.RunPass();
    }
  }
};

TEST(Viewer, LoopRuns30FramesASecondOnTheMillisecondClockAndEndsOnQuit) {
  ViewerRig rig;
  qev::test::LogCapture log;
  rig.viewer.m_timer.Start(30);
  rig.clock.m_onSleep = [&] {
    if (rig.clock.Micros() == 1000000) qev::PostQuitMessage(0);
  };
  int passes = 0;
  while (rig.viewer.RunPass()) ++passes;
  EXPECT_EQ(rig.keyboard.Polls(), 30);  // frames at 33, 66, ... 990 ms
  EXPECT_EQ(passes, 1000);              // one 1 ms sleep per pass
  EXPECT_EQ(log.Text(), "WM_QUIT\n");
}

TEST(Viewer, FramesAreNeverCaughtUp) {
  ViewerRig rig;
  rig.viewer.m_timer.Start(30);
  rig.clock.AdvanceMs(1000);  // thirty periods late
  rig.viewer.RunPass();
  EXPECT_EQ(rig.keyboard.Polls(), 1);
  rig.viewer.RunPass();  // nothing has ticked since
  EXPECT_EQ(rig.keyboard.Polls(), 1);
}

TEST(Viewer, HeldKeyFiresOnceAndDrawTypeCycles) {
  ViewerRig rig;
  rig.viewer.m_timer.Start(30);
  for (int i = 0; i < 5; ++i) rig.keyboard.Then({VK_F5});  // held five frames
  rig.keyboard.Then({});
  rig.keyboard.Then({VK_F5});  // pressed right after the release: held, no command
  rig.keyboard.Then({});
  rig.keyboard.Then({});
  rig.keyboard.Then({VK_F5});
  rig.keyboard.Then({});
  rig.keyboard.Then({VK_F5});
  std::vector<int> seen;
  for (int i = 0; i < 12; ++i) {
    rig.Frames(1);
    seen.push_back(rig.viewer.DrawType);
  }
  // wireframe -> solid (held, once) -> not drawn -> wireframe
  EXPECT_EQ(seen, (std::vector<int>{2, 2, 2, 2, 2, 2, 2, 2, 2, 0, 0, 1, }));
}

TEST(Viewer, TogglesFlipTheirFlags) {
  ViewerRig rig;
  rig.viewer.m_timer.Start(30);
  rig.keyboard.Then({VK_F4, VK_F6, VK_F7, VK_F8});
  rig.Frames(1);
  EXPECT_EQ(rig.viewer.m_scene.CalcIK, 0);
  EXPECT_EQ(rig.viewer.DrawBone, 1);
  EXPECT_EQ(rig.viewer.DrawRigid, 1);
  EXPECT_EQ(rig.viewer.m_scene.CalcBullet, 0);
  EXPECT_EQ(rig.viewer.DrawType, 1);
}

TEST(Viewer, CommandsOfOneFrameRunInTableOrder) {
  ViewerRig rig;
  rig.viewer.m_timer.Start(30);
  rig.viewer.m_szPosePath = "/data/old.vpd";
  rig.dialogs.Answer("/data/a.pmd");
  rig.dialogs.Answer(std::nullopt);  // the pose dialog is cancelled
  rig.dialogs.Answer("/data/c.vmd");
  rig.keyboard.Then({VK_F3, VK_F2, VK_F1});
  rig.Frames(1);
  ASSERT_EQ(rig.dialogs.m_asked.size(), 3u);
  EXPECT_EQ(rig.dialogs.m_asked[0].description, u"QEV用モデルファイル(*.pmd)");
  EXPECT_EQ(rig.dialogs.m_asked[1].description, u"QEV用ポーズファイル(*.vpd)");
  EXPECT_EQ(rig.dialogs.m_asked[1].startPath, "/data/old.vpd");  // opens on the remembered file
  EXPECT_EQ(rig.dialogs.m_asked[2].description, u"QEV用モーションファイル(*.vmd)");
  EXPECT_EQ(rig.viewer.m_szModelPath, "/data/a.pmd");
  EXPECT_EQ(rig.viewer.m_szPosePath, "/data/old.vpd");  // cancel keeps the remembered path
  EXPECT_EQ(rig.viewer.m_szMotionPath, "/data/c.vmd");
}

TEST(Viewer, RememberedPathsGoThroughTheSettings) {
  ViewerRig rig;
  rig.viewer.m_szModelPath = "/models/人形.pmd";
  rig.viewer.m_szMotionPath = std::string(200, 'm');
  rig.viewer.StoreRememberedPaths();
  rig.viewer.m_szModelPath.clear();
  rig.viewer.m_szMotionPath.clear();
  rig.viewer.ReadRememberedPaths();
  EXPECT_EQ(rig.viewer.m_szModelPath, "/models/人形.pmd");
  EXPECT_EQ(rig.viewer.m_szPosePath, "");
  EXPECT_EQ(rig.viewer.m_szMotionPath, std::string(127, 'm'));  // cut to 127 units
}

TEST(Viewer, ShadingKeyFlipsSolidShadingAndTheSettingRemembersIt) {
  struct Case {
    const char16_t* stored;  // SHADING in the file before start-up; null: none
    int presses;             // S pressed this many times (one frame apart)
    int shaded;              // the switch afterwards
    const char16_t* written;  // SHADING after shutdown; null: not written
  };
  const Case cases[] = {
      {nullptr, 0, 1, nullptr},  // a file that never named it stays as it was
      {nullptr, 1, 0, u"0"},     {u"0", 0, 0, u"0"}, {u"0", 1, 1, u"1"},
      {u"1", 2, 1, u"1"},        {u"yes", 0, 1, u"1"},  // not 0 or 1: on, and put right
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.presses);
    ViewerRig rig;
    if (c.stored) rig.settings.SetSetting(kShadingKey, c.stored);
    rig.viewer.ReadShadingSetting();
    rig.viewer.m_timer.Start(30);
    for (int i = 0; i < c.presses; ++i) {
      rig.keyboard.Then({'S'});
      rig.keyboard.Then({});
    }
    rig.Frames(2 * c.presses);
    EXPECT_EQ(rig.viewer.Shaded, c.shaded);
    EXPECT_EQ(rig.viewer.DrawType, 1);  // the draw type is left alone
    rig.viewer.StoreShadingSetting();
    char16_t value[260] = {};
    const bool found = rig.settings.GetSetting(kShadingKey, value);
    EXPECT_EQ(found, c.written != nullptr);
    if (c.written) {
      EXPECT_EQ(std::u16string(value), std::u16string(c.written));
    }
  }
  EXPECT_NE(CViewer::Title().find(u"[F5]DrawType [S]Shading [F6]DrawBone"), std::u16string::npos);
}

TEST(Viewer, MouseHandlersAreEnteredOnceAndTrackButtons) {
  ViewerRig rig;
  rig.viewer.AddMouseHandlers();
  rig.viewer.AddMouseHandlers();
  EXPECT_EQ(rig.viewer.m_window.HandlerCount(), 7);
  CWindowEx& w = rig.viewer.m_window;
  w.WindowProc(nullptr, WM_LBUTTONDOWN, MK_LBUTTON, MakeMouseLParam(100, -5));
  w.WindowProc(nullptr, WM_MBUTTONDOWN, MK_MBUTTON, MakeMouseLParam(110, 20));
  EXPECT_EQ(rig.viewer.m_nMouseButtons, 5u);
  EXPECT_EQ(rig.viewer.m_nLastX, 110);
  w.WindowProc(nullptr, WM_LBUTTONUP, 0, MakeMouseLParam(0, 0));
  EXPECT_EQ(rig.viewer.m_nMouseButtons, 4u);
  w.WindowProc(nullptr, WM_MOUSEMOVE, 0, MakeMouseLParam(-30, 40));
  EXPECT_EQ(rig.viewer.m_nLastX, -30);
  EXPECT_EQ(rig.viewer.m_nLastY, 40);
}

}  // namespace
