#include "app/timer.h"

CTimer::CTimer(qev::PlatformClock& clock) : m_clock(clock) {
  int64_t frequency = 0;
  if (m_clock.QueryPerformanceFrequency(&frequency) && frequency > 0) {
    m_nFrequency = frequency;
    m_bHighResolution = 1;
  }
}

bool CTimer::Now(int64_t* now) {
  if (m_bHighResolution) return m_clock.QueryPerformanceCounter(now);
  *now = int64_t(m_clock.TimeGetTime());  // high part 0
  return true;
}

void CTimer::Start(int framesPerSecond) {
  m_nFrameRate = framesPerSecond;
  int64_t now = 0;
  if (!Now(&now)) return;
  m_nStartCount = now;
  m_nLastIndex = 0;
}

int CTimer::Tick() {
  int64_t now = 0;
  if (!Now(&now)) return 0;
  if (m_nFrameRate <= 0) return 0;
  int64_t period = m_nFrequency / m_nFrameRate;
  if (period <= 0) period = 1;  // a clock slower than the frame rate ticks every call
  const int index = int(int32_t((now - m_nStartCount) / period));
  if (index == m_nLastIndex) return 0;
  const int result = index - m_nLastIndex;
  m_nLastIndex = index;
  return result;
}
