// V in the viewer: the save dialog on the motion's name, the motion from
// the frame shown to its last recorded in the window's size, and a cancel,
// no model, no motion or a failed write. Scripted dialogs, an offscreen
// device; the file is read back by FFmpeg's own reader.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/grid.h"
#include "app/ini_edit_x.h"
#include "app/viewer.h"
#include "platform/codepage.h"
#include "platform/sdl_window.h"
#include "tests/common/fake_platform.h"
#include "tests/common/media.h"
#include "tests/common/temp_dir.h"
#include "tools/fixtures/sample_character.h"
#include "tools/fixtures/sound_fixture.h"

namespace {

using qev::Sjis;

// The scripted keys, and a close request (as a signal or the session
// ending sends one) posted at the given poll of the keyboard.
class RecordingKeyboard : public qev::test::ScriptedKeyboard {
 public:
  void GetKeyboardState(uint8_t keys[256]) override {
    ScriptedKeyboard::GetKeyboardState(keys);
    if (Polls() == quitAtPoll) qev::PostQuitMessage(0);
  }
  int quitAtPoll = -1;
};

struct VideoRig {
  qev::test::TempDir dir;
  qev::test::FakeClock clock{false};
  RecordingKeyboard keyboard;
  qev::test::ScriptedDialogs dialogs;
  qev::test::ScriptedMusic music;
  CIniEditX settings{dir.Path()};
  CViewer viewer{settings, ViewerServices{&clock, &keyboard, &dialogs, &music}};

  VideoRig() {
    EXPECT_EQ(viewer.StartDevice(DeviceBackend::kOffscreenGl), 1) << "offscreen OpenGL is needed";
    BuildGrid(&viewer.m_grid);  // as the start-up builds it
    viewer.m_timer.Start(30);
    std::string error;
    EXPECT_EQ(qev::fixture::WriteSampleCharacter(dir.Path(), &error), 1) << error;
  }
  void Open(const char* name) { EXPECT_EQ(viewer.OpenFile(dir.Path(name)), 1); }
  // Frames of playback without a key.
  void Play(int frames) {
    for (int i = 0; i < frames; ++i) {
      clock.AdvanceMs(34);
      viewer.RunPass();
    }
  }
  // One frame with the key pressed, then one without.
  void Press(int vk) {
    keyboard.Then({vk});
    Play(1);
    keyboard.Then({});
    Play(1);
  }
  std::vector<std::pair<std::string, std::string>> Box(const char* text) {
    return {{Sjis(text), Sjis("エラー")}};
  }
};

TEST(ViewerVideo, VRecordsFromTheFrameShownToTheLastBesideTheMotion) {
  VideoRig rig;
  rig.Open("sample.pmd");
  rig.Open("walk.vmd");
  rig.Play(50);
  const int shown = int(rig.viewer.m_scene.m_fFrame);
  ASSERT_GT(shown, 40);
  rig.dialogs.Answer(rig.dir.Path("walk.mp4"));
  rig.Press('V');
  ASSERT_EQ(rig.dialogs.m_asked.size(), 1u);
  EXPECT_EQ(rig.dialogs.m_asked[0].description, u"動画ファイル(*.mp4)");
  EXPECT_EQ(rig.dialogs.m_asked[0].startPath, rig.dir.Path("walk.mp4"));
  EXPECT_TRUE(rig.dialogs.m_asked[0].save);
  EXPECT_TRUE(rig.dialogs.m_boxes.empty());
  const qev::test::ProbedMedia media = qev::test::ProbeMedia(rig.dir.Path("walk.mp4"));
  ASSERT_NE(media.Find("video"), nullptr);
  EXPECT_EQ(media.Find("video")->frames, 60 - shown);
  EXPECT_EQ(media.Find("video")->width, 1280);
  EXPECT_EQ(media.Find("video")->height, 800);
  EXPECT_EQ(media.Find("video")->frameRate, "30/1");
  EXPECT_EQ(media.Find("audio"), nullptr);
  // playback goes on from the last recorded frame: it wraps to 0
  EXPECT_LT(rig.viewer.m_scene.m_fFrame, 5.0f);
}

TEST(ViewerVideo, PlayingCameraIsRecordedPictureByPicture) {
  VideoRig rig;
  rig.Open("sample.pmd");
  rig.Open("walk.vmd");
  rig.Open("camera.vmd");  // a camera motion: it takes the view over
  rig.Play(30);
  const int shown = int(rig.viewer.m_scene.m_fFrame);
  rig.dialogs.Answer(rig.dir.Path("cam.mp4"));
  rig.Press('V');
  // The last picture, frame 59: the camera's view there, not where it
  // stood when the recording began.
  ASSERT_TRUE(qev::test::ExtractPicture(rig.dir.Path("cam.mp4"), 59 - shown, rig.dir.Path("v.png")));
  auto render = [&](int frame, const char* name) {
    return std::system(("cd '" + rig.dir.Path() + "' && '" QEV_BINARY_DIR "/qevtool' render sample.pmd --motion " +
                        "walk.vmd --camera camera.vmd --frame " + std::to_string(frame) + " -o " + name)
                           .c_str());
  };
  ASSERT_EQ(render(59, "last.png"), 0);
  ASSERT_EQ(render(shown, "first.png"), 0);
  qev::test::PictureDistance last, first;
  ASSERT_TRUE(qev::test::ComparePictures(rig.dir.Path("v.png"), rig.dir.Path("last.png"), &last));
  ASSERT_TRUE(qev::test::ComparePictures(rig.dir.Path("v.png"), rig.dir.Path("first.png"), &first));
  EXPECT_LT(last.mean, 3.0);
  EXPECT_GT(first.mean, 2 * last.mean);
}

TEST(ViewerVideo, ThePlayersMusicIsCutToTheSpan) {
  // The music: a third of a second (ten frames) of silence, then a tone.
  struct Case {
    int64_t offset;   // --audio-offset
    bool loudAtOnce;  // frame 0 plays where the tone is
  };
  for (const Case& c : {Case{0, false}, Case{-10, true}}) {
    SCOPED_TRACE(c.offset);
    VideoRig rig;
    rig.dir.WriteFile("song.wav", qev::fixture::BuildWav(48000, 1, qev::test::QuietThenTone(48000, 1, 3.0, 1.0 / 3)));
    rig.Open("sample.pmd");
    rig.Open("walk.vmd");
    ASSERT_EQ(rig.viewer.OpenMusic(rig.dir.Path("song.wav")), 1);
    rig.viewer.m_player.SetAudioOffset(c.offset);
    rig.dialogs.Answer(rig.dir.Path("song.mp4"));
    rig.Press('V');  // at frame 0: the whole motion, two seconds
    EXPECT_TRUE(rig.dialogs.m_boxes.empty());
    const qev::test::ProbedMedia media = qev::test::ProbeMedia(rig.dir.Path("song.mp4"));
    ASSERT_NE(media.Find("audio"), nullptr);
    EXPECT_EQ(media.Find("video")->frames, 60);
    EXPECT_NEAR(media.Find("audio")->duration, 2.0, 0.002);
    const std::vector<int16_t> sound = qev::test::DecodeSound(rig.dir.Path("song.mp4"));
    const double opening = qev::test::Loudness(sound, 2400, 12000);  // 0.05 to 0.25 s
    const double later = qev::test::Loudness(sound, 24000, 48000);   // 0.5 to 1 s
    if (c.loudAtOnce) {
      EXPECT_GT(opening, 0.3);
    } else {
      EXPECT_LT(opening, 0.005);
    }
    EXPECT_GT(later, 0.3);
  }
}

TEST(ViewerVideo, NameWithoutEndingGetsMp4) {
  VideoRig rig;
  rig.Open("sample.pmd");
  rig.Open("walk.vmd");
  rig.Play(55);
  rig.dialogs.Answer(rig.dir.Path("clip"));
  rig.Press('V');
  EXPECT_TRUE(rig.dialogs.m_boxes.empty());
  ASSERT_NE(qev::test::ProbeMedia(rig.dir.Path("clip.mp4")).Find("video"), nullptr);
}

TEST(ViewerVideo, NothingToRecordOrNowhereToWriteIsSaid) {
  {
    SCOPED_TRACE("no model");
    VideoRig rig;
    rig.Press('V');
    EXPECT_TRUE(rig.dialogs.m_asked.empty());
    EXPECT_EQ(rig.dialogs.m_boxes, rig.Box("モデルが読み込まれていません"));
  }
  {
    SCOPED_TRACE("a pose, no motion");
    VideoRig rig;
    rig.Open("sample.pmd");
    rig.Open("pose.vpd");
    rig.Press('V');
    EXPECT_TRUE(rig.dialogs.m_asked.empty());
    EXPECT_EQ(rig.dialogs.m_boxes, rig.Box("モーションが読み込まれていません"));
  }
  {
    SCOPED_TRACE("cancel");
    VideoRig rig;
    rig.Open("sample.pmd");
    rig.Open("walk.vmd");
    const auto before = rig.dir.List();
    rig.dialogs.Answer(std::nullopt);
    rig.Press('V');
    EXPECT_EQ(rig.dialogs.m_asked.size(), 1u);
    EXPECT_TRUE(rig.dialogs.m_boxes.empty());
    EXPECT_EQ(rig.dir.List(), before);
  }
  {
    SCOPED_TRACE("read-only file");
    VideoRig rig;
    rig.Open("sample.pmd");
    rig.Open("walk.vmd");
    rig.dir.WriteFile("ro.mp4", "old");
    ASSERT_EQ(chmod(rig.dir.Path("ro.mp4").c_str(), 0444), 0);
    const auto before = rig.dir.List();
    rig.dialogs.Answer(rig.dir.Path("ro.mp4"));
    rig.Press('V');
    EXPECT_EQ(rig.dialogs.m_boxes, rig.Box("動画を書き込めませんでした\nnot writable (Permission denied)"));
    EXPECT_EQ(rig.dir.ReadFile("ro.mp4"), "old");
    EXPECT_EQ(rig.dir.List(), before);
  }
}

// A recording under way can be stopped: the file is given up (an older one
// at the name stays), no box is shown, and playback goes on from the frame
// reached; a close request that stopped it still closes the viewer.
TEST(ViewerVideo, EscapeOrACloseRequestStopsTheRecording) {
  struct Case {
    const char* name;
    bool escape;  // else a close request
  };
  for (const Case& c : {Case{"escape", true}, Case{"close request", false}}) {
    SCOPED_TRACE(c.name);
    VideoRig rig;
    rig.Open("sample.pmd");
    rig.Open("walk.vmd");
    rig.dir.WriteFile("walk.mp4", "older");
    const auto before = rig.dir.List();
    qev::test::LogCapture log;
    rig.dialogs.Answer(rig.dir.Path("walk.mp4"));
    // the poll that presses V, then one poll before each picture: ten
    // pictures are recorded, and the eleventh poll stops the recording
    rig.keyboard.Then({'V'});
    for (int i = 0; i < 10; ++i) rig.keyboard.Then({});
    if (c.escape)
      rig.keyboard.Then({VK_ESCAPE});
    else
      rig.keyboard.quitAtPoll = rig.keyboard.Polls() + 11;
    rig.clock.AdvanceMs(34);
    EXPECT_TRUE(rig.viewer.RunPass());
    EXPECT_TRUE(log.Contains("video not written: stopped after 10 of 60 pictures\n")) << log.Text();
    EXPECT_TRUE(rig.dialogs.m_boxes.empty());
    EXPECT_EQ(rig.dir.List(), before);
    EXPECT_EQ(rig.dir.ReadFile("walk.mp4"), "older");
    EXPECT_EQ(int(rig.viewer.m_scene.m_fFrame), 10);
    rig.clock.AdvanceMs(34);
    EXPECT_EQ(rig.viewer.RunPass(), c.escape) << "the close request is handed back to the loop";
  }
}

}  // namespace
