#include "app/frame_clock.h"

#include <cmath>

CFrameClock::CFrameClock(CClockSource& source) : m_pSource(&source) { m_fAnchorSeconds = source.Seconds(); }

void CFrameClock::Anchor() {
  const double now = m_pSource->Seconds();
  if (m_bPlaying) m_fAnchorFrame += (now - m_fAnchorSeconds) * kFramesPerSecond * m_fSpeed;
  m_fAnchorSeconds = now;
}

void CFrameClock::SetSource(CClockSource& source) {
  Anchor();
  m_pSource = &source;
  m_fAnchorSeconds = source.Seconds();
}

void CFrameClock::Play() {
  if (m_bPlaying) return;
  m_fAnchorSeconds = m_pSource->Seconds();  // the time paused does not count
  m_bPlaying = true;
}

void CFrameClock::Pause() {
  if (!m_bPlaying) return;
  Anchor();
  m_bPlaying = false;
}

void CFrameClock::SetSpeed(double speed) {
  Anchor();
  m_fSpeed = speed;
}

void CFrameClock::Seek(double frame) {
  m_fAnchorFrame = frame;
  m_fAnchorSeconds = m_pSource->Seconds();
}

void CFrameClock::Step(int64_t frames) { Seek(double(Frame() + frames)); }

double CFrameClock::Position() {
  if (!m_bPlaying) return m_fAnchorFrame;
  return m_fAnchorFrame + (m_pSource->Seconds() - m_fAnchorSeconds) * kFramesPerSecond * m_fSpeed;
}

int64_t CFrameClock::Frame() {
  const double p = std::floor(Position() + 0.5);
  // a source that answers no number (or an absurd one) holds the frame at 0
  if (!(p > -9.0e15 && p < 9.0e15)) return 0;
  return int64_t(p);
}
