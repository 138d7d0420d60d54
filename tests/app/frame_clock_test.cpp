// The frame clock against a source the test moves: 30 frames a second while
// playing, held while paused, speed and source changes that keep the
// position, seeks and steps from the nearest whole frame.
#include "app/frame_clock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace {

struct FakeSource : CClockSource {
  double now = 0.0;
  double Seconds() override { return now; }
};

TEST(FrameClock, PlayPauseSpeedSeekAndStepMoveThePosition) {
  // Each row acts on the clock, then moves the source on by `later`
  // seconds; the position is then expected where `want` says.
  struct Row {
    const char* what;
    std::function<void(CFrameClock&)> act;
    double later;
    double want;
  };
  FakeSource source;
  source.now = 1000.0;  // any origin: only differences count
  CFrameClock clock(source);
  const std::vector<Row> rows = {
      {"a new clock plays from frame 0", [](CFrameClock&) {}, 0.0, 0.0},
      {"one second is 30 frames", [](CFrameClock&) {}, 1.0, 30.0},
      {"a tenth more is 3 frames more", [](CFrameClock&) {}, 0.1, 33.0},
      {"paused, time passes without the position", [](CFrameClock& c) { c.Pause(); }, 5.0, 33.0},
      {"pausing twice changes nothing", [](CFrameClock& c) { c.Pause(); }, 1.0, 33.0},
      {"playing again does not count the pause", [](CFrameClock& c) { c.Play(); }, 0.5, 48.0},
      {"half speed: 15 frames a second", [](CFrameClock& c) { c.SetSpeed(0.5); }, 2.0, 78.0},
      {"double speed: 60 frames a second", [](CFrameClock& c) { c.SetSpeed(2.0); }, 0.25, 93.0},
      {"a seek while playing moves on from there", [](CFrameClock& c) { c.Seek(10.0); }, 0.5, 40.0},
      {"back to 1x", [](CFrameClock& c) { c.SetSpeed(1.0); }, 0.1, 43.0},
      {"paused, a step forward", [](CFrameClock& c) { c.Pause(); c.Step(1); }, 3.0, 44.0},
      {"a step back from a position between frames starts at the nearest",
       [](CFrameClock& c) { c.Seek(43.6); c.Step(-1); }, 1.0, 43.0},
      {"30 frames on", [](CFrameClock& c) { c.Step(30); }, 0.0, 73.0},
      {"a seek while paused stays put", [](CFrameClock& c) { c.Seek(0.0); }, 9.0, 0.0},
      {"speed changes while paused keep the position", [](CFrameClock& c) { c.SetSpeed(2.0); }, 1.0, 0.0},
      {"and take effect once playing", [](CFrameClock& c) { c.Play(); }, 1.0, 60.0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    r.act(clock);
    source.now += r.later;
    EXPECT_NEAR(clock.Position(), r.want, 1e-6);
  }
  EXPECT_TRUE(clock.Playing());
  EXPECT_EQ(clock.Speed(), 2.0);
}

TEST(FrameClock, FrameIsTheNearestWholeFrame) {
  // The displayed frames sample the clock a hair either side of frame
  // boundaries: rounding gives one step per displayed frame either way.
  FakeSource source;
  CFrameClock clock(source);
  const struct {
    double seconds;
    int64_t frame;
  } rows[] = {{0.0, 0}, {0.0166, 0}, {0.0167, 1}, {1.0 / 30 - 0.0005, 1}, {1.0 / 30 + 0.0005, 1},
              {2.0 / 30 - 0.001, 2}, {10.0, 300}, {-1.0 / 30, -1}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.seconds);
    source.now = r.seconds;
    EXPECT_EQ(clock.Frame(), r.frame);
  }
  // a source that answers no number holds the frame at 0 instead of
  // handing an undefined conversion to the player
  source.now = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(clock.Frame(), 0);
  source.now = std::numeric_limits<double>::infinity();
  EXPECT_EQ(clock.Frame(), 0);
}

TEST(FrameClock, AnotherSourceCarriesThePositionOn) {
  FakeSource wall, music;
  wall.now = 50.0;
  music.now = 3.0;
  CFrameClock clock(wall);
  wall.now += 1.0;  // 30 frames on the wall clock
  clock.SetSource(music);
  EXPECT_EQ(&clock.Source(), &music);
  EXPECT_NEAR(clock.Position(), 30.0, 1e-9);
  wall.now += 100.0;  // the old source no longer counts
  music.now += 0.5;
  EXPECT_NEAR(clock.Position(), 45.0, 1e-9);
  clock.Pause();
  clock.SetSource(wall);
  music.now += 7.0;
  wall.now += 7.0;
  EXPECT_NEAR(clock.Position(), 45.0, 1e-9);
}

}  // namespace
