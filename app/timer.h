// CTimer: the frame clock. Tick answers how many frame periods passed since
// the last tick that answered non-zero; the loop runs one frame whenever it
// is non-zero, so frames the program was too slow for are dropped.
#pragma once
#include <cstdint>

#include "platform/clock.h"

class CTimer {
 public:
  explicit CTimer(qev::PlatformClock& clock = qev::SystemClock());
  virtual ~CTimer() = default;

  void Start(int framesPerSecond);
  int Tick();

  int m_bHighResolution = 0;
  int64_t m_nFrequency = 1000;
  int64_t m_nStartCount = 0;
  int m_nFrameRate = 60;
  int m_nLastIndex = 0;

 private:
  bool Now(int64_t* now);
  qev::PlatformClock& m_clock;
};
