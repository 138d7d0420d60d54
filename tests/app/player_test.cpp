// The player over the sample character's scene, on a scripted wall clock and
// a scripted music clock: the frame shown follows the clock (skipping and
// repeating frames), physics steps once per motion frame advanced (so the
// swinging ponytail comes out bit for bit as frame-by-frame playback leaves
// it), pause, moves and seeks, speed, the music moved with it all, and the
// wall clock when there is no sound device.
#include "app/player.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "app/scene.h"
#include "tests/common/fake_platform.h"
#include "tests/common/temp_dir.h"
#include "tools/fixtures/pmx_fixture.h"
#include "tools/fixtures/sample_character.h"
#include "tools/fixtures/sound_fixture.h"

namespace {

using namespace qev::fixture;
using qev::test::FakeClock;
using qev::test::ScriptedMusic;

// The sample walk over and over, to a highest frame of 2040: the head keeps
// moving, so the ponytail keeps swinging.
VmdDesc LongWalk() {
  const VmdDesc once = SampleWalk();
  VmdDesc walk = once;
  walk.bones.clear();
  for (uint32_t loop = 0; loop < 34; ++loop)
    for (VmdBoneKeyDesc key : once.bones) {
      key.frame += 60 * loop;
      walk.bones.push_back(key);
    }
  return walk;
}

// The sample character (or its PMX twin) with a motion, as F1 and F3 leave it.
struct SceneRig {
  qev::test::TempDir dir;
  CScene scene;
  explicit SceneRig(const VmdDesc& motion, bool pmx = false) {
    std::string failure;
    const char* model = pmx ? "sample.pmx" : "sample.pmd";
    dir.WriteFile(model, pmx ? BuildPmx(PmxTwin(SampleCharacter())) : BuildPmd(SampleCharacter()));
    dir.WriteFile("motion.vmd", BuildVmd(motion));
    EXPECT_EQ(scene.LoadModel(dir.Path(model).c_str(), nullptr, &failure), 1) << failure;
    EXPECT_EQ(scene.LoadMotion(dir.Path("motion.vmd").c_str(), &failure), 1) << failure;
  }
  // The bone world matrices as bytes: equal bits, equal poses.
  std::string Pose() {
    return std::string(reinterpret_cast<const char*>(scene.W()), size_t(scene.m_model.BoneCount()) * sizeof(D3DXMATRIX));
  }
};

// The pose playback from frame 0 leaves at a frame, one PlayFrame at a time.
std::string PlayedTo(const VmdDesc& motion, int frame, int calcBullet = 1, bool pmx = false) {
  SceneRig rig(motion, pmx);
  rig.scene.CalcBullet = calcBullet;
  for (int f = 0; f < frame; ++f) rig.scene.PlayFrame();
  EXPECT_EQ(rig.scene.m_fFrame, float(frame));
  return rig.Pose();
}

struct PlayerRig : SceneRig {
  FakeClock clock{true, 1000000};
  ScriptedMusic music;
  CPlayer player{clock, music};
  explicit PlayerRig(const VmdDesc& motion = SampleWalk(), bool pmx = false) : SceneRig(motion, pmx) {
    player.Update(scene, false);  // playback picks up the motion started by the load
  }
  // One displayed frame, `ms` after the last.
  int64_t After(double ms) {
    clock.AdvanceMs(ms);
    player.Update(scene, false);
    if (scene.m_nMode == kMotionPlayback) {
      EXPECT_EQ(float(player.Shown()), scene.m_fFrame);
    }
    return player.Shown();
  }
  // The music's clock moves to `seconds`; the wall clock moves twice as far
  // (and a millisecond), which must not matter while the music is heard.
  int64_t AtMusic(double seconds) {
    const double wallMs = 2000.0 * std::fabs(seconds - music.m_seconds) + 1.0;
    music.m_seconds = seconds;
    return After(wallMs);
  }
  int OpenTone(const char* name = "tone.wav") {
    dir.WriteFile(name, BuildWav(8000, 1, Tone(8000, 1, 1.0, 440, 8000)));
    std::string why;
    return player.OpenMusic(dir.Path(name), &why);
  }
};

constexpr double kFrameMs = 1000.0 / 30.0;

TEST(Player, AtOneSpeedTheFrameFollowsWallTimeSkippingAndRepeating) {
  PlayerRig rig;
  EXPECT_EQ(rig.player.Shown(), 0);
  // Displayed frames come early, late and on time; the frame shown is the
  // one due at each (time x 30, nearest).
  const struct {
    double ms;  // since the last displayed frame
    int64_t frame;
  } frames[] = {{kFrameMs, 1}, {kFrameMs, 2}, {5, 2}, {3 * kFrameMs - 5, 5}, {kFrameMs + 10, 6}, {kFrameMs - 10, 7},
                {0.4 * kFrameMs, 7}, {2.6 * kFrameMs, 10}};
  for (const auto& f : frames) EXPECT_EQ(rig.After(f.ms), f.frame) << "after " << f.ms << " ms";
  // Ten displayed frames but ten motion frames: the physics stepped once per
  // motion frame, skipped ones included, none for the repeats.
  EXPECT_EQ(rig.Pose(), PlayedTo(SampleWalk(), 10));
}

TEST(Player, PausedNeitherTheMotionNorThePhysicsMoves) {
  PlayerRig rig;
  for (int i = 0; i < 12; ++i) rig.After(kFrameMs);
  rig.player.TogglePlay();
  EXPECT_FALSE(rig.player.Playing());
  const std::string held = rig.Pose();
  for (int i = 0; i < 20; ++i) EXPECT_EQ(rig.After(kFrameMs), 12);
  EXPECT_EQ(rig.Pose(), held) << "the ponytail kept swinging while paused";
  // playing again goes on from frame 12, the paused time not counted
  rig.player.TogglePlay();
  EXPECT_EQ(rig.After(kFrameMs), 13);
  EXPECT_EQ(rig.Pose(), PlayedTo(SampleWalk(), 13));
}

TEST(Player, ForwardMovesPlayAndOtherMovesSeek) {
  // Paused at frame 10 of the walk (highest frame 60, so frame 59 is the
  // last shown); each move lands at the next displayed frame. Where physics
  // replays or plays on, the pose is exactly playback's from frame 0.
  PlayerRig rig;
  for (int i = 0; i < 10; ++i) rig.After(kFrameMs);
  rig.player.TogglePlay();
  struct Row {
    const char* what;
    int64_t move;  // frames, or a frame with `to`
    bool to;
    int64_t frame;
  };
  const Row rows[] = {
      {"one frame on", 1, false, 11},         {"thirty frames on", 30, false, 41},
      {"one frame back replays", -1, false, 40}, {"thirty back", -30, false, 10},
      {"to frame 0", 0, true, 0},               {"before frame 0 stays at 0", -5, false, 0},
      {"past the end stops at the last", 500, true, 59}, {"to frame 20", 20, true, 20},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    if (r.to) rig.player.MoveTo(r.move);
    else rig.player.Move(r.move);
    EXPECT_EQ(rig.After(kFrameMs), r.frame);
    EXPECT_EQ(rig.Pose(), PlayedTo(SampleWalk(), int(r.frame)));
    EXPECT_FALSE(rig.player.Playing());
  }
  // moves made in one frame add up from the frame shown
  rig.player.Move(1);
  rig.player.Move(1);
  rig.player.Move(-5);
  EXPECT_EQ(rig.After(kFrameMs), 17);
}

TEST(Player, ASeekPastNineHundredFramesPutsTheBodiesBackAtTheFrame) {
  const VmdDesc motion = LongWalk();
  PlayerRig rig(motion);
  rig.player.TogglePlay();
  // Within 900 frames the physics replays from frame 0: the ponytail swings
  // as playback leaves it, not as the motion alone puts it.
  rig.player.MoveTo(900);
  EXPECT_EQ(rig.After(kFrameMs), 900);
  EXPECT_EQ(rig.Pose(), PlayedTo(motion, 900));
  EXPECT_NE(rig.Pose(), PlayedTo(motion, 900, 0));
  // Past 900 the bodies are put back on their bones at the frame: the pose is
  // the motion's alone, as with physics off. Both ways: a jump on, and a step
  // back that lands past 900.
  for (int64_t frame : {1500, 901}) {
    rig.player.MoveTo(frame);
    EXPECT_EQ(rig.After(kFrameMs), frame);
    SceneRig off(motion);
    off.scene.CalcBullet = 0;
    off.scene.SeekMotion(int32_t(frame));
    EXPECT_EQ(rig.Pose(), off.Pose()) << frame;
  }
  // A frame on from there is played, not sought: the bodies swing on from
  // where they were put.
  rig.player.Move(1);
  EXPECT_EQ(rig.After(kFrameMs), 902);
  SceneRig on(motion);
  on.scene.SeekMotion(901);
  on.scene.PlayFrame();
  EXPECT_EQ(rig.Pose(), on.Pose());
  SceneRig reset(motion);
  reset.scene.SeekMotion(902);
  EXPECT_NE(rig.Pose(), reset.Pose());
  // With physics off (F8) any seek only samples the motion.
  rig.scene.CalcBullet = 0;
  rig.player.MoveTo(300);
  EXPECT_EQ(rig.After(kFrameMs), 300);
  EXPECT_EQ(rig.Pose(), PlayedTo(motion, 300, 0));
}

TEST(Player, SpeedChangesHowFastFramesComeNotWhatEachShows) {
  PlayerRig rig;
  rig.player.SetSpeed(0.5);
  for (int i = 0; i < 8; ++i) rig.After(kFrameMs);
  EXPECT_EQ(rig.player.Shown(), 4);
  rig.player.SetSpeed(2.0);
  for (int i = 0; i < 8; ++i) rig.After(kFrameMs);
  EXPECT_EQ(rig.player.Shown(), 20);
  // every frame on the way was played, physics and all
  EXPECT_EQ(rig.Pose(), PlayedTo(SampleWalk(), 20));
}

TEST(Player, TheWalkLoopsAndAStallWithoutMusicCountsAsTimeStandingStill) {
  PlayerRig rig;
  for (int i = 0; i < 59; ++i) rig.After(kFrameMs);
  EXPECT_EQ(rig.player.Shown(), 59);
  EXPECT_EQ(rig.After(kFrameMs), 0);  // frame 60 is never shown
  EXPECT_EQ(rig.After(kFrameMs), 1);  // the clock started over with the motion
  // a dialog held the loop for five seconds: playback goes on by one frame
  EXPECT_EQ(rig.After(5000), 2);
  EXPECT_EQ(rig.After(kFrameMs), 3);
}

TEST(Player, WithMusicTheFrameFollowsTheMusicsClock) {
  const VmdDesc motion = LongWalk();
  PlayerRig rig(motion);
  for (int i = 0; i < 5; ++i) rig.After(kFrameMs);
  ASSERT_EQ(rig.OpenTone(), 1);
  EXPECT_EQ(rig.music.m_opens, 1);
  EXPECT_EQ(rig.music.m_sound.rate, 8000);
  // the motion starts with the music, at the next frame
  rig.After(kFrameMs);
  EXPECT_EQ(rig.player.Shown(), 0);
  EXPECT_TRUE(rig.music.m_playing);
  ASSERT_FALSE(rig.music.m_seeks.empty());
  EXPECT_EQ(rig.music.m_seeks.back(), 0.0);
  EXPECT_TRUE(rig.player.MusicHeard());
  const struct {
    double seconds;
    int64_t frame;
  } rows[] = {{0.0, 0}, {1.0 / 30 + 0.001, 1}, {1.0 / 30 + 0.002, 1}, {4.0 / 30, 4},
              {4.0 / 30 + 0.01, 4}, {0.33, 10}, {1.0, 30}, {1.0 + 1.0 / 30, 31}};
  for (const auto& r : rows) EXPECT_EQ(rig.AtMusic(r.seconds), r.frame) << r.seconds << " s";
  EXPECT_EQ(rig.Pose(), PlayedTo(motion, 31));
  // Far ahead (the loop was held up): playback goes where the music is, by
  // a seek, and the frames come from the music again.
  EXPECT_EQ(rig.AtMusic(10.0), 300);
  EXPECT_EQ(rig.Pose(), PlayedTo(motion, 300));
  EXPECT_EQ(rig.AtMusic(10.0 + 1.0 / 30), 301);
}

TEST(Player, PauseMovesAndSpeedTakeTheMusicAlong) {
  PlayerRig rig;
  rig.player.SetAudioOffset(15);  // the music starts at motion frame 15
  ASSERT_EQ(rig.OpenTone(), 1);
  rig.After(kFrameMs);
  EXPECT_EQ(rig.music.m_seeks.back(), -0.5);  // frame 0: half a second before the music
  EXPECT_TRUE(rig.music.m_playing);
  rig.AtMusic(-0.5 + 10.0 / 30);
  EXPECT_EQ(rig.player.Shown(), 10);

  struct Row {
    const char* what;
    std::function<void(CPlayer&)> act;
    bool playing;  // the music heard afterwards
    double seek;   // where the music was last moved to
    int64_t frame;
  };
  const Row rows[] = {
      {"paused: the music stops", [](CPlayer& p) { p.TogglePlay(); }, false, -0.5, 10},
      {"a move while paused waits", [](CPlayer& p) { p.Move(30); }, false, -0.5, 40},
      {"playing: the music from the frame shown", [](CPlayer& p) { p.TogglePlay(); }, true, (40 - 15) / 30.0, 40},
      {"double speed: muted", [](CPlayer& p) { p.SetSpeed(2.0); }, false, (40 - 15) / 30.0, 40},
      {"a seek at double speed", [](CPlayer& p) { p.MoveTo(20); }, false, (40 - 15) / 30.0, 20},
      {"1x again: heard from the frame shown", [](CPlayer& p) { p.SetSpeed(1.0); }, true, (20 - 15) / 30.0, 20},
      {"a seek while heard moves the music", [](CPlayer& p) { p.MoveTo(5); }, true, (5 - 15) / 30.0, 5},
      {"half speed: muted", [](CPlayer& p) { p.SetSpeed(0.5); }, false, (5 - 15) / 30.0, 5},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    r.act(rig.player);
    rig.clock.AdvanceMs(1);
    rig.player.Update(rig.scene, false);
    EXPECT_EQ(rig.music.m_playing, r.playing);
    EXPECT_DOUBLE_EQ(rig.music.m_seeks.back(), r.seek);
    EXPECT_EQ(rig.player.Shown(), r.frame);
  }
  // At half speed the music's clock no longer drives: the wall clock does.
  rig.music.m_seconds += 100.0;
  EXPECT_EQ(rig.After(2000), 35);
  // A drag holds playback and the music; its end picks both up again.
  rig.player.SetSpeed(1.0);
  rig.player.BeginDrag();
  EXPECT_FALSE(rig.music.m_playing);
  rig.player.MoveTo(44);
  rig.After(kFrameMs);
  rig.player.MoveTo(45);
  EXPECT_EQ(rig.After(kFrameMs), 45);
  rig.player.EndDrag();
  EXPECT_TRUE(rig.music.m_playing);
  EXPECT_DOUBLE_EQ(rig.music.m_seeks.back(), (45 - 15) / 30.0);
}

TEST(Player, SpaceAndRestartsElsewhereStartTheMusicWithTheMotion) {
  PlayerRig rig;
  ASSERT_EQ(rig.OpenTone(), 1);
  rig.After(kFrameMs);
  rig.AtMusic(0.5);
  EXPECT_EQ(rig.player.Shown(), 15);
  const size_t seeks = rig.music.m_seeks.size();
  rig.clock.AdvanceMs(kFrameMs);
  rig.player.Update(rig.scene, true);  // SPACE
  EXPECT_EQ(rig.player.Shown(), 0);
  ASSERT_EQ(rig.music.m_seeks.size(), seeks + 1);
  EXPECT_EQ(rig.music.m_seeks.back(), 0.0);
  EXPECT_EQ(rig.Pose(), PlayedTo(SampleWalk(), 0));
  rig.AtMusic(0.5);
  // F3 or the F9 bake start the motion over behind the player's back
  rig.scene.StartMotion();
  rig.After(kFrameMs);
  EXPECT_EQ(rig.player.Shown(), 0);
  EXPECT_EQ(rig.music.m_seeks.size(), seeks + 2);
  EXPECT_EQ(rig.music.m_seeks.back(), 0.0);
  // and the motion's end starts the music over as well
  EXPECT_EQ(rig.AtMusic(59.0 / 30), 59);
  rig.music.m_seconds = 60.0 / 30;
  EXPECT_EQ(rig.After(kFrameMs), 0);
  EXPECT_EQ(rig.music.m_seeks.back(), 0.0);
}

TEST(Player, WithoutASoundDeviceItSaysSoOnceAndPlaysOnTheWallClock) {
  PlayerRig rig;
  rig.music.m_device = false;
  qev::test::LogCapture log;
  ASSERT_EQ(rig.OpenTone("a.wav"), 1);
  ASSERT_EQ(rig.OpenTone("b.wav"), 1);
  EXPECT_EQ(rig.music.m_opens, 2);
  const std::string noDevice = "no sound device (no scripted device): music is not heard, playback keeps the wall clock\n";
  int told = 0;
  for (const std::string& line : log.Lines()) told += line == noDevice;
  EXPECT_EQ(told, 1) << log.Text();
  EXPECT_TRUE(log.Contains("music: " + rig.dir.Path("b.wav") + " (8000 Hz, 1 channels, 1.00 s)\n")) << log.Text();
  EXPECT_FALSE(rig.player.MusicHeard());
  rig.After(kFrameMs);
  EXPECT_EQ(rig.player.Shown(), 0);  // started over with the (silent) music
  rig.music.m_seconds = 5.0;
  EXPECT_EQ(rig.After(kFrameMs), 1);
  EXPECT_EQ(rig.After(kFrameMs), 2);
}

TEST(Player, AMusicClockThatStandsStillMeansTheDeviceStopped) {
  PlayerRig rig;
  ASSERT_EQ(rig.OpenTone(), 1);
  rig.After(kFrameMs);
  EXPECT_EQ(rig.AtMusic(0.5), 15);
  qev::test::LogCapture log;
  // a moment without news from the device: the frame waits for the music
  EXPECT_EQ(rig.After(500), 15);
  EXPECT_TRUE(rig.player.MusicHeard());
  // more than a second: the device is taken as gone, and the wall clock leads
  EXPECT_EQ(rig.After(600), 15);
  EXPECT_FALSE(rig.player.MusicHeard());
  EXPECT_FALSE(rig.music.m_playing);
  EXPECT_EQ(rig.After(kFrameMs), 16);
  EXPECT_EQ(rig.After(kFrameMs), 17);
  EXPECT_EQ(log.Text(), "the sound device stopped playing: music is not heard, playback goes on on the wall clock\n");
  // music opened again tries the device again
  ASSERT_EQ(rig.OpenTone("again.wav"), 1);
  rig.After(kFrameMs);
  EXPECT_TRUE(rig.player.MusicHeard());
  EXPECT_EQ(rig.AtMusic(0.2), 6);
}

TEST(Player, ASoundFileThatCannotBeReadKeepsTheMusicThatPlays) {
  PlayerRig rig;
  ASSERT_EQ(rig.OpenTone(), 1);
  const std::string wav = BuildWav(8000, 1, Tone(8000, 1, 0.1, 440, 8000));
  rig.dir.WriteFile("empty.wav", "");
  rig.dir.WriteFile("text.mp3", "this is not a sound at all, only some words of text\n");
  rig.dir.WriteFile("cut.wav", wav.substr(0, 30));
  struct Row {
    const char* name;
    const char* why;  // the start of the reason
  };
  const Row rows[] = {{"missing.ogg", "No such file or directory"},
                      {"empty.wav", "empty file"},
                      {"text.mp3", "not a sound file the decoder knows"},
                      {"cut.wav", "not a sound file the decoder knows"},
                      {"", "not a regular file"}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::string why;
    EXPECT_EQ(rig.player.OpenMusic(rig.dir.Path(r.name), &why), 0);
    EXPECT_EQ(why.rfind(r.why, 0), 0u) << why;
  }
  EXPECT_EQ(rig.music.m_opens, 1);
  EXPECT_TRUE(rig.player.HasMusic());
}

TEST(Player, InPosePlaybackOnlyThePhysicsMovesWithTheClock) {
  PlayerRig rig;
  rig.dir.WriteFile("p.vpd", BuildVpd(SamplePose()));
  std::string failure;
  ASSERT_EQ(rig.scene.LoadPose(rig.dir.Path("p.vpd").c_str(), &failure), 1);
  SceneRig reference(SampleWalk());
  ASSERT_EQ(reference.scene.LoadPose(rig.dir.Path("p.vpd").c_str(), &failure), 1);
  rig.After(kFrameMs);
  reference.scene.PlayFrame();
  rig.After(3 * kFrameMs);  // three steps due
  for (int i = 0; i < 3; ++i) reference.scene.PlayFrame();
  EXPECT_EQ(rig.Pose(), reference.Pose());
  rig.player.TogglePlay();
  rig.After(10 * kFrameMs);
  EXPECT_EQ(rig.Pose(), reference.Pose()) << "paused, the physics held still";
}

// The PMX twin through the player: skipped frames, steps, a seek within 900
// frames and frames following the music leave exactly the pose of its own
// playback from frame 0, physics and all.
TEST(Player, ThePmxTwinPlaysStepsAndSeeksAsItsOwnPlayback) {
  const VmdDesc motion = LongWalk();
  PlayerRig rig(motion, true);
  ASSERT_EQ(rig.scene.m_model.BoneCount(), SceneRig(motion).scene.m_model.BoneCount());
  struct Row {
    const char* what;
    std::function<int64_t(PlayerRig&)> act;
    int64_t frame;
  };
  const Row rows[] = {
      {"three frames due at once", [](PlayerRig& r) { return r.After(3 * kFrameMs); }, 3},
      {"paused, one on", [](PlayerRig& r) { r.player.TogglePlay(); r.player.Move(1); return r.After(kFrameMs); }, 4},
      {"one back replays", [](PlayerRig& r) { r.player.Move(-1); return r.After(kFrameMs); }, 3},
      {"a seek to 700", [](PlayerRig& r) { r.player.MoveTo(700); return r.After(kFrameMs); }, 700},
      {"playing on", [](PlayerRig& r) { r.player.TogglePlay(); return r.After(2 * kFrameMs); }, 702},
      {"music from frame 0", [](PlayerRig& r) { r.OpenTone(); return r.After(kFrameMs); }, 0},
      {"the music's clock", [](PlayerRig& r) { return r.AtMusic(0.5); }, 15},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(r.act(rig), r.frame);
    EXPECT_EQ(rig.Pose(), PlayedTo(motion, int(r.frame), 1, true));
  }
  EXPECT_NE(rig.Pose(), PlayedTo(motion, 15, 0, true)) << "the ponytail swings";
}

}  // namespace
