// CFrameClock: where playback stands, in motion frames (30 a second), as a
// clock source runs: play, pause, step, seek and speed. The position is
// anchored at the last change and moves by the source's seconds x 30 x speed
// while playing; nothing is counted between calls, so a caller that comes
// late still gets the frame of the time it comes (the player then skips or
// repeats frames to keep up).
#pragma once
#include <cstdint>

// Seconds from any origin; only differences count. The wall clock, or the
// music's clock while music plays.
class CClockSource {
 public:
  virtual ~CClockSource() = default;
  virtual double Seconds() = 0;
};

class CFrameClock {
 public:
  static constexpr double kFramesPerSecond = 30.0;

  explicit CFrameClock(CClockSource& source);
  virtual ~CFrameClock() = default;

  // Another source from now on; the position carries over.
  void SetSource(CClockSource& source);
  CClockSource& Source() const { return *m_pSource; }

  void Play();
  void Pause();
  bool Playing() const { return m_bPlaying; }
  // Frames per second are 30 x speed; the position carries over.
  void SetSpeed(double speed);
  double Speed() const { return m_fSpeed; }
  // The position becomes this frame now.
  void Seek(double frame);
  // Moves by whole frames from the frame the position rounds to.
  void Step(int64_t frames);

  // The position now, in frames (fractional).
  double Position();
  // The whole frame nearest the position. Nearest rather than the one
  // started: the position is sampled at displayed frames that fall a hair
  // either side of the frame boundaries, and rounding keeps one step each.
  int64_t Frame();

 private:
  // The position now becomes the anchor.
  void Anchor();

  CClockSource* m_pSource;
  bool m_bPlaying = true;
  double m_fSpeed = 1.0;
  double m_fAnchorFrame = 0.0;    // the position at m_fAnchorSeconds
  double m_fAnchorSeconds = 0.0;  // the source's time of the last change
};
