#include "app/player.h"

#include <algorithm>

#include "app/scene.h"
#include "platform/codepage.h"
#include "support/debug.h"

CWallClockSource::CWallClockSource(qev::PlatformClock& clock) : m_clock(clock) {
  int64_t frequency = 0;
  if (m_clock.QueryPerformanceFrequency(&frequency) && frequency > 0) m_nFrequency = frequency;
  else m_nLastMs = m_clock.TimeGetTime();
}

double CWallClockSource::Seconds() {
  if (m_nFrequency) {
    int64_t count = 0;
    // a failed reading repeats the last one: no time passed for this call
    if (m_clock.QueryPerformanceCounter(&count)) m_fLast = double(count) / double(m_nFrequency);
    return m_fLast;
  }
  const uint32_t ms = m_clock.TimeGetTime();
  if (ms < m_nLastMs) ++m_nMsWraps;
  m_nLastMs = ms;
  return (double(m_nMsWraps) * 4294967296.0 + double(ms)) / 1000.0;
}

CPlayer::CPlayer(qev::PlatformClock& clock, qev::PlatformMusic& music)
    : m_music(music), m_wall(clock), m_musicClock(music), m_clock(m_wall) {}

namespace {

// The last frame a motion shows: its highest frame wraps to 0.
int64_t LastFrame(const CScene& scene) {
  return scene.m_motion && scene.m_motion->m_nMaxFrame > 0 ? scene.m_motion->m_nMaxFrame - 1 : 0;
}

}  // namespace

bool CPlayer::MusicHeard() const {
  return m_bMusic && m_music.HasDevice() && !m_bMusicStalled && m_clock.Playing() && m_clock.Speed() == 1.0 &&
         !m_bDragging;
}

void CPlayer::WatchMusic() {
  if (!MusicHeard()) return;
  const double music = m_music.Seconds(), wall = m_wall.Seconds();
  // not watched since it was last silent: the watch starts now
  if (music != m_fMusicSeen || m_fMusicSeenAt < 0.0) {
    m_fMusicSeen = music;
    m_fMusicSeenAt = wall;
    return;
  }
  if (wall - m_fMusicSeenAt < kMusicStallSeconds) return;
  DebugPrintf("the sound device stopped playing: music is not heard, playback goes on on the wall clock\n");
  m_bMusicStalled = true;
  SyncMusic();
}

void CPlayer::SyncMusic() {
  if (!m_bMusic) return;
  if (MusicHeard()) {
    m_music.Seek(double(m_nShown - m_nAudioOffset) / CFrameClock::kFramesPerSecond);
    m_music.Play(true);
    m_clock.SetSource(m_musicClock);
    m_clock.Seek(double(m_nShown));
    m_fMusicSeen = m_music.Seconds();
    m_fMusicSeenAt = m_wall.Seconds();
  } else {
    // paused, dragged, or at another speed: silent, on the wall clock, and
    // moved to the frame shown once it is heard again
    m_music.Play(false);
    m_clock.SetSource(m_wall);
    m_fMusicSeenAt = -1.0;
  }
}

void CPlayer::Restart(int64_t frame) {
  m_nShown = frame;
  m_clock.Seek(double(frame));
  SyncMusic();
}

void CPlayer::GoTo(CScene& scene, int64_t frame) {
  const int64_t ahead = frame - m_nShown;
  if (ahead > 0 && ahead <= kMaxPlayedFrames) {
    for (int64_t i = 0; i < ahead; ++i) scene.PlayFrame();
  } else if (ahead != 0) {
    scene.SeekMotion(int32_t(frame));
  }
  m_nStarts = scene.m_nStarts;
  m_nShown = int64_t(scene.m_fFrame);
}

void CPlayer::Update(CScene& scene, bool spacePressed) {
  WatchMusic();
  const bool motion = scene.m_nMode == kMotionPlayback && scene.m_motion;
  if (spacePressed || m_bRestartPending) {
    m_bRestartPending = false;
    m_pendingFrame.reset();
    if (motion) scene.StartMotion();
    else scene.RefreshPose();
    m_nStarts = scene.m_nStarts;
    Restart(0);
    return;
  }

  if (!motion) {
    // Pose playback: only the physics moves, one step per frame of the clock.
    m_pendingFrame.reset();
    const int64_t due = m_clock.Frame();
    int64_t steps = due - m_nShown;
    if (steps <= 0) return;
    int64_t shown = due;
    if (steps > kMaxPlayedFrames) {
      if (MusicHeard()) {
        steps = kMaxPlayedFrames;  // the music is ahead: catch up as far as one update goes
      } else {
        shown = m_nShown + 1;  // a stall (a dialog, a load) counts as time that stood still
        m_clock.Seek(double(shown));
        steps = 1;
      }
    }
    for (int64_t i = 0; i < steps; ++i) scene.PlayFrame();
    m_nShown = shown;
    return;
  }

  // A motion started or moved elsewhere (F3, the F9 bake): playback goes on
  // from where the scene is, the music with it.
  if (scene.m_nStarts != m_nStarts || int64_t(scene.m_fFrame) != m_nShown) {
    m_nStarts = scene.m_nStarts;
    m_pendingFrame.reset();
    Restart(int64_t(scene.m_fFrame));
    return;
  }

  const int64_t last = LastFrame(scene);
  if (m_pendingFrame) {
    const int64_t target = std::clamp<int64_t>(*m_pendingFrame, 0, last);
    m_pendingFrame.reset();
    GoTo(scene, target);
    Restart(m_nShown);
    return;
  }

  const int64_t due = m_clock.Frame();
  int64_t ahead = due - m_nShown;
  if (ahead <= 0) return;  // the frame is repeated until the clock reaches the next
  if (ahead > kMaxPlayedFrames) {
    if (MusicHeard()) {
      // The music is the master: playback goes where it is, past the
      // motion's end back to frame 0.
      if (due > last) {
        scene.SeekMotion(0);
        m_nStarts = scene.m_nStarts;
        Restart(0);
      } else {
        GoTo(scene, due);
      }
      return;
    }
    m_clock.Seek(double(m_nShown + 1));  // a stall (a dialog, a load) counts as time that stood still
    ahead = 1;
  }
  for (int64_t i = 0; i < ahead; ++i) {
    if (!scene.PlayFrame()) {
      // wrapped to frame 0: the clock and the music start over with it (a
      // motion of one frame wraps every frame; its music just plays on)
      m_nShown = 0;
      m_clock.Seek(0.0);
      if (last > 0) SyncMusic();
      return;
    }
  }
  m_nShown = int64_t(scene.m_fFrame);
}

void CPlayer::TogglePlay() { SetPlaying(!Playing()); }

void CPlayer::SetPlaying(bool playing) {
  if (m_bDragging) {
    m_bPlayingBeforeDrag = playing;  // takes effect when the drag ends
    return;
  }
  if (playing) m_clock.Play();
  else m_clock.Pause();
  SyncMusic();
}

void CPlayer::SetSpeed(double speed) {
  m_clock.SetSpeed(speed);
  SyncMusic();
}

void CPlayer::Move(int64_t frames) { m_pendingFrame = m_pendingFrame.value_or(m_nShown) + frames; }

void CPlayer::MoveTo(int64_t frame) { m_pendingFrame = frame; }

void CPlayer::BeginDrag() {
  if (m_bDragging) return;
  m_bPlayingBeforeDrag = Playing();
  m_clock.Pause();
  m_bDragging = true;
  SyncMusic();
}

void CPlayer::EndDrag() {
  if (!m_bDragging) return;
  m_bDragging = false;
  if (m_bPlayingBeforeDrag) m_clock.Play();
  SyncMusic();
}

int CPlayer::OpenMusic(const std::string& path, std::string* why) {
  qev::DecodedSound sound;
  if (!qev::LoadSoundFile(path, &sound, why)) return 0;
  DebugPrintf("music: %s (%d Hz, %d channels, %.2f s)\n", qev::Utf8ToCp932(path).c_str(), sound.rate,
              sound.channels, sound.Seconds());
  // the clock leaves the old music before it is replaced
  m_clock.SetSource(m_wall);
  std::string noDevice;
  if (!m_music.Open(std::move(sound), &noDevice) && !m_bToldNoDevice) {
    DebugPrintf("no sound device (%s): music is not heard, playback keeps the wall clock\n", noDevice.c_str());
    m_bToldNoDevice = true;
  }
  m_bMusic = true;
  m_musicPath = path;
  m_bMusicStalled = false;
  m_bRestartPending = true;  // the motion starts with the music
  return 1;
}
