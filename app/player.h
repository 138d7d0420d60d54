// CPlayer: the viewer's playback controls over the scene. A frame clock
// (wall time, or the music's time while music is heard) says which motion
// frame is due; every displayed frame the scene is played up to it, one
// motion frame and one 1/30 s physics step at a time, so frames are skipped
// or repeated to stay on time. Play/pause, steps, seeks and speed move the
// clock and the music together; a motion restarted anywhere (F3, SPACE, the
// F9 bake) starts the music with it.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "app/frame_clock.h"
#include "platform/clock.h"
#include "platform/music.h"

class CScene;

// Seconds of the process's clock: the high-resolution counter, or the
// millisecond clock when there is none.
class CWallClockSource : public CClockSource {
 public:
  explicit CWallClockSource(qev::PlatformClock& clock);
  double Seconds() override;

 private:
  qev::PlatformClock& m_clock;
  int64_t m_nFrequency = 0;  // counts per second; 0: the millisecond clock
  double m_fLast = 0.0;      // the last counter reading, seconds
  uint32_t m_nLastMs = 0;    // the millisecond clock wraps at 2^32
  int64_t m_nMsWraps = 0;
};

// Seconds of the music where the listener is.
class CMusicClockSource : public CClockSource {
 public:
  explicit CMusicClockSource(qev::PlatformMusic& music) : m_music(music) {}
  double Seconds() override { return m_music.Seconds(); }

 private:
  qev::PlatformMusic& m_music;
};

class CPlayer {
 public:
  // A move forward of up to this many frames plays them (motion and physics
  // as playback would); any other move is a seek (CScene::SeekMotion).
  static constexpr int64_t kMaxPlayedFrames = 30;
  // The farthest --audio-offset, in frames either way (about 55 minutes).
  static constexpr int64_t kMaxAudioOffset = 100000;
  // Wall seconds the music's clock may stand still while heard before the
  // sound device counts as gone (unplugged, stopped by its server).
  static constexpr double kMusicStallSeconds = 1.0;

  CPlayer(qev::PlatformClock& clock, qev::PlatformMusic& music);
  CPlayer(const CPlayer&) = delete;
  CPlayer& operator=(const CPlayer&) = delete;
  virtual ~CPlayer() = default;

  // One displayed frame, after the commands: SPACE restarts the motion (or
  // re-applies the pose), then a pending move, then playback up to the
  // clock's frame. In pose playback only the physics steps, one step per
  // frame of the clock.
  void Update(CScene& scene, bool spacePressed);

  // Play/pause (Return). Paused, neither the motion nor the physics moves.
  void TogglePlay();
  void SetPlaying(bool playing);
  bool Playing() const { return m_clock.Playing(); }
  // 0.5, 1 or 2 (keys 1, 2, 3); the music is heard at 1 only.
  void SetSpeed(double speed);
  double Speed() const { return m_clock.Speed(); }
  // Moves land at the next Update, clamped to the motion: by frames from
  // the frame shown (or from a move still pending), or to a frame.
  void Move(int64_t frames);
  void MoveTo(int64_t frame);
  // A drag on the timeline holds playback while it lasts.
  void BeginDrag();
  void EndDrag();
  bool Dragging() const { return m_bDragging; }

  // Reads a sound file and plays it with the motion from frame 0 on the next
  // Update. 0 with the reason (ASCII) in *why when it cannot be read; the
  // music held before plays on. Without a sound device the viewer says so
  // once in the log and plays silently on the wall clock.
  int OpenMusic(const std::string& path, std::string* why);
  bool HasMusic() const { return m_bMusic; }
  // The file of the music held, as it was opened (a recording reads it again).
  const std::string& MusicPath() const { return m_musicPath; }
  // Heard now: music loaded on a working device, playing at 1x, not held
  // by a drag.
  bool MusicHeard() const;
  // Frames the music lies after the motion: frame N plays with the music's
  // start (negative: the motion's frame 0 plays -N frames into the music).
  void SetAudioOffset(int64_t frames) { m_nAudioOffset = frames; }
  int64_t AudioOffset() const { return m_nAudioOffset; }

  // The frame shown: the motion frame, or in pose playback the clock's frame.
  int64_t Shown() const { return m_nShown; }
  CFrameClock& Clock() { return m_clock; }

 private:
  // The music follows the state: heard from the shown frame's time, or
  // stopped; the clock runs on the music while it is heard.
  void SyncMusic();
  // Playback continues from this frame: the clock and the music go there.
  void Restart(int64_t frame);
  // The scene moved to a frame of its motion, played or sought.
  void GoTo(CScene& scene, int64_t frame);
  // While heard, a music clock that stands still for kMusicStallSeconds of
  // wall time means the device stopped: said once, then the wall clock.
  void WatchMusic();

  qev::PlatformMusic& m_music;
  CWallClockSource m_wall;
  CMusicClockSource m_musicClock;
  CFrameClock m_clock;
  int64_t m_nShown = 0;
  uint32_t m_nStarts = 0;  // the scene's StartMotion count last seen
  std::optional<int64_t> m_pendingFrame;
  bool m_bRestartPending = false;
  bool m_bDragging = false;
  bool m_bPlayingBeforeDrag = false;
  bool m_bMusic = false;
  bool m_bToldNoDevice = false;
  bool m_bMusicStalled = false;  // the device stopped asking for sound
  double m_fMusicSeen = 0.0;     // the music's clock when last seen moving...
  double m_fMusicSeenAt = -1.0;  // ...and the wall clock then (-1: not watched yet)
  int64_t m_nAudioOffset = 0;
  std::string m_musicPath;
};
