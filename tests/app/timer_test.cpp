// Frame clock: periods on both clocks, no catching up, a failing counter.
#include "app/timer.h"

#include <gtest/gtest.h>

#include "tests/common/fake_platform.h"

namespace {

using qev::test::FakeClock;

TEST(Timer, MillisecondClockTicksEvery33Ms) {
  FakeClock clock(false);
  CTimer timer(clock);
  EXPECT_EQ(timer.m_bHighResolution, 0);
  EXPECT_EQ(timer.m_nFrequency, 1000);
  timer.Start(30);
  struct Step {
    double advanceMs;
    int expected;
  };
  // 1000 / 30 truncates to 33 ms; the result counts the periods since the last
  // non-zero tick, however many there were
  const Step steps[] = {{0, 0}, {32, 0}, {1, 1}, {0, 0}, {32, 0}, {1, 1}, {100, 3}, {33, 1}, {1, 0}};
  for (size_t i = 0; i < std::size(steps); ++i) {
    clock.AdvanceMs(steps[i].advanceMs);
    EXPECT_EQ(timer.Tick(), steps[i].expected) << "step " << i;
  }
}

TEST(Timer, HighResolutionPeriodIsFrequencyOverRateTruncated) {
  FakeClock clock(true, 1000000);
  CTimer timer(clock);
  EXPECT_EQ(timer.m_bHighResolution, 1);
  timer.Start(30);
  clock.AdvanceMs(33.332);  // 33332 counts: one short of 1000000 / 30
  EXPECT_EQ(timer.Tick(), 0);
  clock.AdvanceMs(0.001);
  EXPECT_EQ(timer.Tick(), 1);
}

TEST(Timer, FailingCounterRunsNoFrameAndKeepsTheStart) {
  FakeClock clock(true, 1000);
  CTimer timer(clock);
  timer.Start(30);
  clock.AdvanceMs(500);
  clock.m_counterFails = true;
  EXPECT_EQ(timer.Tick(), 0);
  timer.Start(30);  // fails: start count and last index stay
  clock.m_counterFails = false;
  EXPECT_EQ(timer.Tick(), 15);
}

}  // namespace
