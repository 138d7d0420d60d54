// The player's keys and mouse through the viewer's own loop and window
// messages, on a scripted clock, keyboard, dialogs and music, drawing on the
// recording device: Return, Left/Right (repeating when held), Page Up/Down,
// Home, 1/2/3, F12, M and music files by name, the bar clicked and dragged.
#include <gtest/gtest.h>

#include <cmath>

#include "app/ini_edit_x.h"
#include "app/viewer.h"
#include "platform/codepage.h"
#include "platform/recording_device.h"
#include "platform/sdl_window.h"
#include "tests/common/fake_platform.h"
#include "tests/common/temp_dir.h"
#include "tools/fixtures/sample_character.h"
#include "tools/fixtures/sound_fixture.h"

namespace {

using namespace qev::fixture;

struct PlayerViewerRig {
  qev::test::TempDir dir;
  qev::test::FakeClock clock{false};
  qev::test::ScriptedKeyboard keyboard;
  qev::test::ScriptedDialogs dialogs;
  qev::test::ScriptedMusic music;
  CIniEditX settings{dir.Path()};
  CViewer viewer{settings, ViewerServices{&clock, &keyboard, &dialogs, &music}};

  PlayerViewerRig() {
    EXPECT_EQ(viewer.StartDevice(DeviceBackend::kRecording), 1);
    std::string error;
    EXPECT_EQ(WriteSampleCharacter(dir.Path(), &error), 1) << error;
    dir.WriteFile("tone.wav", BuildWav(8000, 1, Tone(8000, 1, 2.0, 440, 8000)));
    EXPECT_EQ(viewer.OpenModel(dir.Path("sample.pmd")), 1);
    viewer.m_szMotionPath = dir.Path("walk.vmd");
    EXPECT_EQ(viewer.OpenMotion(viewer.m_szMotionPath), 1);
    viewer.m_timer.Start(30);
    Frames(1);  // the player takes up the motion at frame 0
  }
  // Displayed frames, one period apart, each with these keys down.
  void Frames(int n, std::set<int> keys = {}) {
    for (int i = 0; i < n; ++i) {
      keyboard.Then(keys);
      clock.AdvanceMs(1000.0 / 30 + 0.01);
      viewer.RunPass();
    }
  }
  int Frame() const { return int(viewer.m_scene.m_fFrame); }
  qev::RecordingDevice& Device() { return *static_cast<qev::RecordingDevice*>(viewer.m_frame.m_pDevice); }
  // A mouse message as the window procedure gets it.
  void Mouse(UINT message, int x, int y) { viewer.m_window.WindowProc(nullptr, message, 0, MakeMouseLParam(x, y)); }
  int BarX(int64_t frame) {
    return int(std::lround(CTimeline::KnobX(CTimeline::Layout(1280, 800), frame, 59)));
  }
};

TEST(ViewerPlayer, KeysPlayPauseStepSeekAndChangeSpeed) {
  PlayerViewerRig rig;
  EXPECT_EQ(rig.Frame(), 0);
  rig.Frames(5);
  EXPECT_EQ(rig.Frame(), 5);
  struct Row {
    const char* what;
    std::set<int> keys;
    int frames;  // displayed frames with the keys down (then one with none)
    int frame;   // the frame shown afterwards
    bool playing;
  };
  // A key acts in the frame it goes down, before that frame's update: Return
  // stops the clock at that frame's time, whose frame is still shown.
  const Row rows[] = {
      {"Return pauses", {VK_RETURN}, 1, 6, false},
      {"paused, time passes without a frame", {}, 10, 6, false},
      {"Right: one frame on", {VK_RIGHT}, 1, 7, false},
      {"Left: one frame back", {VK_LEFT}, 1, 6, false},
      {"Right held: once, then every frame from the tenth", {VK_RIGHT}, 15, 12, false},
      {"Page Down: thirty on", {VK_NEXT}, 1, 42, false},
      {"Page Up: thirty back", {VK_PRIOR}, 1, 12, false},
      {"Home: frame 0", {VK_HOME}, 1, 0, false},
      {"Left at frame 0 stays", {VK_LEFT}, 1, 0, false},
      {"Return plays again, from the frame shown", {VK_RETURN}, 1, 1, true},
      {"playing, Right does nothing but play on", {VK_RIGHT}, 1, 3, true},
      {"3: double speed, two frames a frame", {'3'}, 1, 6, true},
      {"1: half speed (frame 9.5 then: not looked at)", {'1'}, 3, -1, true},
      {"2: back to 1x", {'2'}, 1, 11, true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    rig.Frames(r.frames, r.keys);
    rig.Frames(1);
    if (r.frame >= 0) {
      EXPECT_EQ(rig.Frame(), r.frame);
    }
    EXPECT_EQ(rig.viewer.m_player.Playing(), r.playing);
  }
  EXPECT_EQ(rig.viewer.m_player.Speed(), 1.0);
}

TEST(ViewerPlayer, F12HidesAndShowsTheTimeline) {
  PlayerViewerRig rig;
  auto overlayDraws = [&] {
    rig.Device().ClearCalls();
    rig.Frames(1);
    return rig.Device().Find("SetFVF(0x44)").size() + rig.Device().Find("DrawPrimitiveUP(D3DPT_TRIANGLESTRIP").size();
  };
  EXPECT_EQ(overlayDraws(), 3u);  // the bar, the counter, the key help
  rig.Frames(1, {VK_F12});
  EXPECT_EQ(rig.viewer.DrawTimeline, 0);
  EXPECT_EQ(overlayDraws(), 0u);
  rig.Frames(1, {VK_F12});
  EXPECT_EQ(overlayDraws(), 3u);
}

TEST(ViewerPlayer, MusicComesFromTheDialogTheCommandLineOrADrop) {
  PlayerViewerRig rig;
  rig.Frames(10);
  rig.dialogs.Answer(rig.dir.Path("tone.wav"));
  rig.Frames(1, {'M'});
  ASSERT_EQ(rig.dialogs.m_asked.size(), 1u);
  EXPECT_EQ(rig.dialogs.m_asked[0].description, u"音楽ファイル(*.wav *.flac *.ogg *.mp3)");
  EXPECT_EQ(rig.dialogs.m_asked[0].startPath, rig.dir.Path(""));  // the motion's folder
  EXPECT_EQ(rig.music.m_opens, 1);
  EXPECT_EQ(rig.Frame(), 0);  // the motion started over with the music
  EXPECT_TRUE(rig.music.m_playing);
  rig.music.m_seconds = 0.5;
  rig.Frames(1);
  EXPECT_EQ(rig.Frame(), 15);  // the music's clock leads

  // named like a sound file (any case): opened as music, remembered for the dialog
  rig.dir.WriteFile("Song.WAV", BuildWav(8000, 2, Tone(8000, 2, 0.5, 220, 4000)));
  EXPECT_EQ(rig.viewer.OpenFile(rig.dir.Path("Song.WAV")), 1);
  EXPECT_EQ(rig.music.m_opens, 2);
  EXPECT_EQ(rig.music.m_sound.channels, 2);
  EXPECT_EQ(rig.viewer.m_szMusicPath, rig.dir.Path("Song.WAV"));
  // dropped, and not a sound at all: its box and a log line; the music plays on
  rig.dir.WriteFile("fake.ogg", "OggS but nothing after");
  qev::test::LogCapture log;
  qev::PostDroppedFile(nullptr, rig.dir.Path("fake.ogg"));
  CViewer::OnDropFiles(nullptr, 0, 0);
  ASSERT_EQ(rig.dialogs.m_boxes.size(), 1u);
  EXPECT_EQ(rig.dialogs.m_boxes[0], std::make_pair(qev::Sjis("音楽データ解析失敗"), qev::Sjis("エラー")));
  EXPECT_TRUE(log.Contains("music not opened: " + rig.dir.Path("fake.ogg") + ": not a sound file")) << log.Text();
  EXPECT_EQ(rig.music.m_opens, 2);
  MSG msg;
  while (qev::PeekMessage(&msg)) {
  }
}

TEST(ViewerPlayer, TheBarIsClickedAndDraggedToSeek) {
  PlayerViewerRig rig;
  rig.viewer.AddMouseHandlers();
  const D3DXMATRIX view = rig.viewer.m_camera.m_mView;
  rig.Frames(3);
  rig.Mouse(WM_LBUTTONDOWN, rig.BarX(30), 783);
  EXPECT_FALSE(rig.viewer.m_player.Playing()) << "held while dragged";
  rig.Frames(1);
  EXPECT_EQ(rig.Frame(), 30);
  rig.Mouse(WM_MOUSEMOVE, rig.BarX(44), 700);  // off the bar, still dragging
  rig.Mouse(WM_MOUSEMOVE, rig.BarX(45), 650);
  rig.Frames(1);
  EXPECT_EQ(rig.Frame(), 45);
  rig.Frames(3);
  EXPECT_EQ(rig.Frame(), 45);
  rig.Mouse(WM_LBUTTONUP, rig.BarX(45), 650);
  EXPECT_TRUE(rig.viewer.m_player.Playing());
  rig.Frames(1);
  EXPECT_EQ(rig.Frame(), 46);
  EXPECT_EQ(rig.viewer.m_camera.m_mView, view) << "the camera stayed out of it";
  EXPECT_EQ(rig.viewer.m_nMouseButtons, 0u);

  // above the bar the left button orbits the camera as before
  rig.Mouse(WM_LBUTTONDOWN, 640, 400);
  rig.Mouse(WM_MOUSEMOVE, 600, 400);
  rig.Mouse(WM_LBUTTONUP, 600, 400);
  EXPECT_FALSE(rig.viewer.m_camera.m_mView == view);
  // with the timeline hidden the bar's place is the camera's too
  rig.Frames(1, {VK_F12});
  const D3DXMATRIX turned = rig.viewer.m_camera.m_mView;
  const int frame = rig.Frame();
  rig.Mouse(WM_LBUTTONDOWN, rig.BarX(10), 783);
  EXPECT_EQ(rig.viewer.m_nMouseButtons, 1u);
  rig.Mouse(WM_MOUSEMOVE, rig.BarX(10) + 40, 783);
  rig.Mouse(WM_LBUTTONUP, rig.BarX(10) + 40, 783);
  EXPECT_FALSE(rig.viewer.m_camera.m_mView == turned);
  rig.Frames(1);
  EXPECT_EQ(rig.Frame(), frame + 1);
}

}  // namespace
