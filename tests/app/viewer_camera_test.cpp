// The viewer's camera track: a camera file from the command line, a drop,
// F3 or F11 drives the view at the motion's frame, a mouse drag hands the
// view back until F11, F11 switches it off and on, and camera and model
// motions never take each other's place.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "app/ini_edit_x.h"
#include "app/viewer.h"
#include "platform/codepage.h"
#include "platform/sdl_window.h"
#include "tests/common/fake_platform.h"
#include "tests/common/temp_dir.h"
#include "tools/fixtures/sample_character.h"

namespace {

using qev::Sjis;

struct CameraRig {
  qev::test::TempDir dir;
  qev::test::FakeClock clock{false};
  qev::test::ScriptedKeyboard keyboard;
  qev::test::ScriptedDialogs dialogs;
  CIniEditX settings{dir.Path()};
  CViewer viewer{settings, ViewerServices{&clock, &keyboard, &dialogs}};
  bool started = false;

  CameraRig() {
    std::string error;
    EXPECT_EQ(qev::fixture::WriteSampleCharacter(dir.Path(), &error), 1) << error;
    EXPECT_EQ(viewer.StartDevice(DeviceBackend::kRecording), 1);
    viewer.m_scene.CalcBullet = 0;  // nothing here needs the bodies
  }
  // Frames with these keys down in the first one.
  void Frames(int n, std::set<int> keys = {}) {
    if (!started) viewer.m_timer.Start(30);
    started = true;
    keyboard.Then(std::move(keys));
    for (int i = 0; i < n; ++i) {
      if (i) keyboard.Then({});
      clock.AdvanceMs(34);
      viewer.RunPass();
    }
  }
  // The view the track gives at the scene's frame.
  CameraView Expected() const { return viewer.m_cameraTrack.View(viewer.m_scene.m_fFrame); }
};

void ExpectNear(const D3DXVECTOR3& got, const D3DXVECTOR3& want, float tolerance = 1e-5f) {
  EXPECT_NEAR(got.x, want.x, tolerance);
  EXPECT_NEAR(got.y, want.y, tolerance);
  EXPECT_NEAR(got.z, want.z, tolerance);
}

void ExpectFollows(const CameraRig& rig) {
  const CameraView want = rig.Expected();
  ExpectNear(rig.viewer.m_camera.m_vPosition, want.eye);
  ExpectNear(rig.viewer.m_camera.m_vTarget, want.target);
  ExpectNear(rig.viewer.m_camera.m_vUp, want.up);
  EXPECT_EQ(rig.viewer.m_camera.m_fFov, want.fov);
}

TEST(ViewerCamera, CommandLineCameraFollowsTheMotionsFrameAndWrapsWithIt) {
  CameraRig rig;
  for (const char* file : {"sample.pmd", "walk.vmd", "camera.vmd"})
    ASSERT_EQ(rig.viewer.OpenFile(rig.dir.Path(file)), 1) << file;
  EXPECT_EQ(rig.viewer.m_szMotionPath, rig.dir.Path("walk.vmd"));
  EXPECT_EQ(rig.viewer.m_szCameraPath, rig.dir.Path("camera.vmd"));
  EXPECT_EQ(rig.viewer.m_cameraTrack.KeyCount(), 3);
  EXPECT_EQ(rig.viewer.m_bCameraPlaying, 1);
  // the camera file left the model's walk playing
  EXPECT_GT(rig.viewer.m_scene.m_motion->m_nBoneTrack, 0);

  // the player's clock starts with the first pass, which shows frame 0
  rig.Frames(1);
  EXPECT_EQ(rig.viewer.m_scene.m_fFrame, 0.0f);
  ExpectFollows(rig);
  const D3DXVECTOR3 early = rig.viewer.m_camera.m_vPosition;
  rig.Frames(29);
  EXPECT_EQ(rig.viewer.m_scene.m_fFrame, 30.0f);
  ExpectFollows(rig);
  const D3DXVECTOR3 moved = rig.viewer.m_camera.m_vPosition - early;
  EXPECT_GT(D3DXVec3Length(&moved), 10.0f) << "the orbit swings the eye round";
  // the walk's highest frame is 60: frame 59, then 0 for the camera as well
  rig.Frames(30);
  EXPECT_LT(rig.viewer.m_scene.m_fFrame, 30.0f) << "the motion wrapped";
  ExpectFollows(rig);
  ExpectNear(rig.viewer.m_camera.m_vPosition, rig.viewer.m_cameraTrack.View(rig.viewer.m_scene.m_fFrame).eye);
}

TEST(ViewerCamera, ADragTakesTheViewUntilF11AndF11SwitchesItOffAndOn) {
  CameraRig rig;
  for (const char* file : {"sample.pmd", "walk.vmd", "camera.vmd"}) ASSERT_EQ(rig.viewer.OpenFile(rig.dir.Path(file)), 1);
  rig.Frames(5);
  ExpectFollows(rig);
  // a button down alone changes nothing; the drag orbits from the camera's view
  CViewer::OnLButtonDown(nullptr, 0, MakeMouseLParam(100, 100));
  EXPECT_EQ(rig.viewer.m_bCameraPlaying, 1);
  CD3DCamera want = rig.viewer.m_camera;
  want.Operate(10.0f, 0.0f, 0);
  CViewer::OnMouseMove(nullptr, 0, MakeMouseLParam(60, 100));
  CViewer::OnLButtonUp(nullptr, 0, MakeMouseLParam(60, 100));
  EXPECT_EQ(rig.viewer.m_bCameraPlaying, 0);
  ExpectNear(rig.viewer.m_camera.m_vPosition, want.m_vPosition, 1e-4f);
  const D3DXVECTOR3 held = rig.viewer.m_camera.m_vPosition;
  rig.Frames(10);  // the walk goes on, the view stays the user's
  EXPECT_EQ(rig.viewer.m_scene.m_fFrame, 15.0f);
  EXPECT_EQ(rig.viewer.m_camera.m_vPosition, held);

  rig.Frames(1, {VK_F11});  // the camera again, from this frame on
  EXPECT_EQ(rig.viewer.m_bCameraPlaying, 1);
  ExpectFollows(rig);
  rig.Frames(2);
  rig.Frames(1, {VK_F11});  // off: the view stays where the camera left it
  EXPECT_EQ(rig.viewer.m_bCameraPlaying, 0);
  const D3DXVECTOR3 left = rig.viewer.m_camera.m_vPosition;
  rig.Frames(5);
  EXPECT_EQ(rig.viewer.m_camera.m_vPosition, left);
  rig.Frames(1, {VK_F11});
  ExpectFollows(rig);
  EXPECT_TRUE(rig.dialogs.m_asked.empty()) << "F11 asks for a file only without a track";
}

TEST(ViewerCamera, F11AsksForACameraAndAModelMotionIsNeverOne) {
  CameraRig rig;
  ASSERT_EQ(rig.viewer.OpenFile(rig.dir.Path("sample.pmd")), 1);
  ASSERT_EQ(rig.viewer.OpenFile(rig.dir.Path("walk.vmd")), 1);
  const CVmdFile* walk = rig.viewer.m_scene.m_motion.get();
  rig.dialogs.Answer(rig.dir.Path("walk.vmd"));
  rig.Frames(1, {VK_F11});
  ASSERT_EQ(rig.dialogs.m_asked.size(), 1u);
  EXPECT_EQ(rig.dialogs.m_asked[0].description, u"QEV用カメラファイル(*.vmd)");
  ASSERT_EQ(rig.dialogs.m_boxes.size(), 1u);
  EXPECT_EQ(rig.dialogs.m_boxes[0], std::make_pair(Sjis("カメラデータ解析失敗"), Sjis("エラー")));
  EXPECT_TRUE(rig.viewer.m_cameraTrack.Empty());
  EXPECT_EQ(rig.viewer.m_bCameraPlaying, 0);
  EXPECT_EQ(rig.viewer.m_scene.m_motion.get(), walk);

  rig.Frames(1);  // F11 up again
  rig.dialogs.Answer(rig.dir.Path("camera.vmd"));
  rig.Frames(1, {VK_F11});
  EXPECT_EQ(rig.dialogs.m_asked.size(), 2u);
  EXPECT_EQ(rig.dialogs.m_asked[1].startPath, rig.dir.Path("walk.vmd"));  // the file chosen last
  EXPECT_EQ(rig.viewer.m_szCameraPath, rig.dir.Path("camera.vmd"));
  EXPECT_EQ(rig.viewer.m_bCameraPlaying, 1);
  EXPECT_EQ(rig.viewer.m_scene.m_motion.get(), walk);
  ExpectFollows(rig);

  // F3 with a camera file: the view takes it, the walk plays on, the motion
  // dialog's file stays the walk
  rig.viewer.m_cameraTrack.Clear();
  rig.dialogs.Answer(rig.dir.Path("camera.vmd"));
  rig.Frames(1, {VK_F3});
  EXPECT_EQ(rig.viewer.m_cameraTrack.KeyCount(), 3);
  EXPECT_EQ(rig.viewer.m_scene.m_motion.get(), walk);
  EXPECT_EQ(rig.viewer.m_scene.m_nMode, kMotionPlayback);
  EXPECT_EQ(rig.viewer.m_szMotionPath, rig.dir.Path("walk.vmd"));
  EXPECT_EQ(rig.dialogs.m_boxes.size(), 1u);

  // the scene itself refuses a camera as the model's motion
  std::string failure;
  qev::test::LogCapture log;
  EXPECT_EQ(rig.viewer.m_scene.LoadMotion(rig.dir.Path("camera.vmd").c_str(), &failure), 0);
  EXPECT_EQ(failure, Sjis("モーションデータ解析失敗"));
  EXPECT_TRUE(log.Contains("VMD : a camera motion (3 camera keys, no bone keys) does not play on a model")) << log.Text();
  EXPECT_EQ(rig.viewer.m_scene.m_motion.get(), walk);
}

TEST(ViewerCamera, ADroppedCameraReplacesTheTrackAndTheCameraFileIsRemembered) {
  CameraRig rig;
  ASSERT_EQ(rig.viewer.OpenFile(rig.dir.Path("camera.vmd")), 1);
  EXPECT_EQ(rig.viewer.m_scene.m_nMode, kPosePlayback);  // no motion: the camera shows its frame 0
  rig.Frames(3);
  EXPECT_EQ(rig.viewer.m_scene.m_fFrame, 0.0f);
  ExpectNear(rig.viewer.m_camera.m_vPosition, rig.viewer.m_cameraTrack.View(0).eye);

  qev::fixture::VmdDesc other = qev::fixture::SampleCamera();
  other.cameras.resize(1);
  rig.dir.WriteFile("one.vmd", qev::fixture::BuildVmd(other));
  qev::PostDroppedFile(nullptr, rig.dir.Path("one.vmd"));
  CViewer::OnDropFiles(nullptr, 0, 0);
  MSG msg;
  while (qev::PeekMessage(&msg)) {
  }
  EXPECT_EQ(rig.viewer.m_cameraTrack.KeyCount(), 1);
  EXPECT_EQ(rig.viewer.m_szCameraPath, rig.dir.Path("one.vmd"));

  rig.viewer.StoreRememberedPaths();
  rig.viewer.m_szCameraPath.clear();
  rig.viewer.ReadRememberedPaths();
  EXPECT_EQ(rig.viewer.m_szCameraPath, rig.dir.Path("one.vmd"));
  char16_t value[260] = {};
  ASSERT_EQ(rig.settings.GetSetting(u"CAMERAFILE", value), 1);
  EXPECT_EQ(qev::Utf16ToUtf8(value), rig.dir.Path("one.vmd"));
}

}  // namespace
