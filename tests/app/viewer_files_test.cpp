// The viewer's file commands: F1-F3 through the dialogs into the scene, the
// message boxes of failed loads, files opened by extension from the command
// line or a drop, and F4/F8 re-evaluating a pose at once.
#include <gtest/gtest.h>

#include "app/ini_edit_x.h"
#include "app/viewer.h"
#include "platform/codepage.h"
#include "platform/sdl_window.h"
#include "tests/common/fake_platform.h"
#include "tests/common/temp_dir.h"
#include "tools/fixtures/pmd_fixture.h"
#include "tools/fixtures/pmx_fixture.h"
#include "tools/fixtures/vmd_fixture.h"
#include "tools/fixtures/vpd_fixture.h"

namespace {

using qev::Sjis;
using namespace qev::fixture;

struct FilesRig {
  qev::test::TempDir dir;
  qev::test::FakeClock clock{false};
  qev::test::ScriptedKeyboard keyboard;
  qev::test::ScriptedDialogs dialogs;
  CIniEditX settings{dir.Path()};
  CViewer viewer{settings, ViewerServices{&clock, &keyboard, &dialogs}};
  FilesRig() {
    dir.WriteFile("m.pmd", BuildPmd(SamplePmd()));
    dir.WriteFile("w.vmd", BuildVmd(SampleVmd()));
    dir.WriteFile("p.vpd", BuildVpd(SampleVpd()));
    dir.WriteFile("bad.pmd", "nothing");
  }
  // One frame with these keys down, then one with every key up again.
  void Press(std::set<int> keys) {
    keyboard.Then(std::move(keys));
    keyboard.Then({});
    viewer.m_timer.Start(30);
    for (int i = 0; i < 2; ++i) {
      clock.AdvanceMs(34);
      viewer.RunPass();
    }
  }
};

TEST(ViewerFiles, TheDialogsLoadIntoTheSceneAndFailuresShowTheirBox) {
  FilesRig rig;
  rig.dialogs.Answer(rig.dir.Path("bad.pmd"));
  rig.Press({VK_F1});
  ASSERT_EQ(rig.dialogs.m_boxes.size(), 1u);
  EXPECT_EQ(rig.dialogs.m_boxes[0], std::make_pair(Sjis("モデルデータ解析失敗"), Sjis("エラー")));
  EXPECT_EQ(rig.viewer.m_szModelPath, rig.dir.Path("bad.pmd"));  // remembered even so

  rig.dialogs.Answer(rig.dir.Path("m.pmd"));
  rig.dialogs.Answer(rig.dir.Path("w.vmd"));
  rig.Press({VK_F1, VK_F3});  // both in one frame, in table order
  EXPECT_TRUE(rig.viewer.m_scene.Loaded());
  EXPECT_EQ(rig.viewer.m_scene.m_nMode, kMotionPlayback);
  // the frame that loaded it shows frame 0; the next, 34 ms later, frame 1
  EXPECT_EQ(rig.viewer.m_scene.m_fFrame, 1.0f);

  rig.dialogs.Answer(std::nullopt);  // cancel changes nothing
  rig.Press({VK_F2});
  EXPECT_EQ(rig.viewer.m_scene.m_nMode, kMotionPlayback);
  rig.dialogs.Answer(rig.dir.Path("bad.pmd"));
  rig.Press({VK_F2});
  EXPECT_EQ(rig.dialogs.m_boxes.back().first, Sjis("ポーズデータ解析失敗"));
  rig.dialogs.Answer(rig.dir.Path("bad.pmd"));
  rig.Press({VK_F3});
  EXPECT_EQ(rig.dialogs.m_boxes.back().first, Sjis("モーションデータ解析失敗"));
  EXPECT_EQ(rig.viewer.m_scene.m_nMode, kMotionPlayback);
}

TEST(ViewerFiles, PmxModelsOpenFromTheDialogTheCommandLineAndADrop) {
  FilesRig rig;
  rig.dir.WriteFile("twin.PMX", BuildPmx(PmxTwin(SamplePmd())));
  rig.dir.WriteFile("bad.pmx", "PMX broken");
  rig.dialogs.Answer(rig.dir.Path("twin.PMX"));
  rig.Press({VK_F1});
  EXPECT_TRUE(rig.dialogs.m_boxes.empty());
  EXPECT_TRUE(rig.viewer.m_scene.Loaded());
  EXPECT_EQ(rig.viewer.m_scene.m_model.m_format, kModelPmx);
  EXPECT_EQ(rig.viewer.m_szModelPath, rig.dir.Path("twin.PMX"));

  // a damaged one: the model's box, as for PMD
  rig.dialogs.Answer(rig.dir.Path("bad.pmx"));
  rig.Press({VK_F1});
  ASSERT_EQ(rig.dialogs.m_boxes.size(), 1u);
  EXPECT_EQ(rig.dialogs.m_boxes[0].first, Sjis("モデルデータ解析失敗"));
  EXPECT_FALSE(rig.viewer.m_scene.Loaded());

  // named on the command line after its pose, it still opens first
  rig.viewer.SetStartupFiles({rig.dir.Path("p.vpd"), rig.dir.Path("twin.PMX")});
  ASSERT_EQ(rig.viewer.m_startupFiles.size(), 2u);
  EXPECT_EQ(rig.viewer.m_startupFiles[0], rig.dir.Path("twin.PMX"));
  for (const std::string& path : rig.viewer.m_startupFiles) EXPECT_EQ(rig.viewer.OpenFile(path), 1) << path;
  EXPECT_TRUE(rig.viewer.m_scene.Loaded());

  // dropped
  rig.viewer.m_scene.DiscardModel();
  qev::PostDroppedFile(nullptr, rig.dir.Path("twin.PMX"));
  CViewer::OnDropFiles(nullptr, 0, 0);
  EXPECT_TRUE(rig.viewer.m_scene.Loaded());
}

TEST(ViewerFiles, FilesOpenByTheirExtensionInAnyCaseAndAreRemembered) {
  FilesRig rig;
  rig.dir.WriteFile("UP.PMD", BuildPmd(SamplePmd()));
  rig.dir.WriteFile("Pose.Vpd", BuildVpd(SampleVpd()));
  rig.dir.WriteFile("notes.txt", "hello");
  // a pose named before its model still applies to it: models open first
  rig.viewer.SetStartupFiles({rig.dir.Path("Pose.Vpd"), rig.dir.Path("UP.PMD"), rig.dir.Path("notes.txt")});
  qev::test::LogCapture log;
  int opened = 0;
  for (const std::string& path : rig.viewer.m_startupFiles) opened += rig.viewer.OpenFile(path);
  EXPECT_EQ(opened, 2);
  EXPECT_TRUE(log.Contains("file not opened, its extension is not .pmd, .pmx, .vpd, .vmd, .wav, .flac, .ogg or .mp3: " +
                           rig.dir.Path("notes.txt")));
  EXPECT_TRUE(rig.viewer.m_scene.Loaded());
  EXPECT_EQ(rig.viewer.m_szModelPath, rig.dir.Path("UP.PMD"));
  EXPECT_EQ(rig.viewer.m_szPosePath, rig.dir.Path("Pose.Vpd"));
  EXPECT_EQ(rig.viewer.m_scene.m_pose->m_nPoseBone, 3);
  EXPECT_TRUE(rig.dialogs.m_boxes.empty());

  // a dropped motion, taken by the window's handler
  qev::PostDroppedFile(nullptr, rig.dir.Path("w.vmd"));
  CViewer::OnDropFiles(nullptr, 0, 0);
  EXPECT_EQ(rig.viewer.m_scene.m_nMode, kMotionPlayback);
  EXPECT_EQ(rig.viewer.m_szMotionPath, rig.dir.Path("w.vmd"));
  MSG msg;
  while (qev::PeekMessage(&msg)) {
  }
}

TEST(ViewerFiles, CalcIkAndCalcBulletReapplyAPoseAtOnceButWaitInAMotion) {
  FilesRig rig;
  ASSERT_EQ(rig.viewer.OpenModel(rig.dir.Path("m.pmd")), 1);
  ASSERT_EQ(rig.viewer.OpenPose(rig.dir.Path("p.vpd")), 1);
  CScene& scene = rig.viewer.m_scene;
  scene.CalcBullet = 0;  // the sample's bodies would move bones between frames
  const D3DXMATRIX withIk = scene.W()[3];
  rig.Press({VK_F4});
  EXPECT_EQ(scene.CalcIK, 0);
  EXPECT_FALSE(scene.W()[3] == withIk);  // the ankle went back to where the thigh puts it
  rig.Press({VK_F4});
  EXPECT_TRUE(scene.W()[3] == withIk);

  ASSERT_EQ(rig.viewer.OpenMotion(rig.dir.Path("w.vmd")), 1);
  rig.Press({});  // playing: frames 0 and 1
  const float frame = scene.m_fFrame;
  rig.Press({VK_F8});
  EXPECT_EQ(scene.CalcBullet, 1);
  EXPECT_EQ(scene.m_fFrame, frame + 2.0f);  // no restart: only the updates heed it
}

}  // namespace
