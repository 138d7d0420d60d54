// Clocks and sleeping: the high-resolution counter, the millisecond clock and
// the local wall time. The frame clock reads them through PlatformClock so a
// test can script time.
#pragma once
#include <cstdint>

namespace qev {

class PlatformClock {
 public:
  virtual ~PlatformClock() = default;
  // Counts per second of the high-resolution counter; false when there is none.
  virtual bool QueryPerformanceFrequency(int64_t* frequency);
  virtual bool QueryPerformanceCounter(int64_t* count);
  // Milliseconds since an arbitrary start, wrapping at 2^32.
  virtual uint32_t TimeGetTime();
  // Sleeps the thread; a scripted clock advances itself instead.
  virtual void Sleep(uint32_t ms);
};

// The process's real clock.
PlatformClock& SystemClock();

// Local wall time as 100 ns units since 1601-01-01.
int64_t LocalTimeAsFileTime();
void SleepMs(uint32_t ms);

}  // namespace qev
