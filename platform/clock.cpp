#include "platform/clock.h"

#include <time.h>

namespace qev {

bool PlatformClock::QueryPerformanceFrequency(int64_t* frequency) {
  *frequency = 1000000000;  // CLOCK_MONOTONIC in nanoseconds
  return true;
}

bool PlatformClock::QueryPerformanceCounter(int64_t* count) {
  timespec ts{};
  if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0) return false;
  *count = int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
  return true;
}

uint32_t PlatformClock::TimeGetTime() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return uint32_t(uint64_t(ts.tv_sec) * 1000 + uint64_t(ts.tv_nsec) / 1000000);
}

void PlatformClock::Sleep(uint32_t ms) { SleepMs(ms); }

PlatformClock& SystemClock() {
  static PlatformClock clock;
  return clock;
}

int64_t LocalTimeAsFileTime() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  localtime_r(&ts.tv_sec, &local);
  const int64_t localSeconds = int64_t(ts.tv_sec) + local.tm_gmtoff;
  // 11644473600 s lie between 1601-01-01 and 1970-01-01
  return (localSeconds + 11644473600LL) * 10000000LL + ts.tv_nsec / 100;
}

void SleepMs(uint32_t ms) {
  timespec ts{time_t(ms / 1000), long(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0) {
  }
}

}  // namespace qev
