// The viewer's player: its keys (Return, Left/Right, Page Up/Down, Home,
// 1/2/3, M, F12), music chosen in a dialog, and the timeline's bar under the
// mouse.
#include <algorithm>

#include "app/viewer.h"
#include "platform/codepage.h"
#include "platform/sdl_window.h"
#include "support/debug.h"

namespace {

struct PlayerKey {
  int vk;
  void (CViewer::*run)();
  bool repeats;  // held down, fires again every frame after kRepeatDelay
};

// Tested in this order every frame, after the title's commands.
const PlayerKey kPlayerKeys[] = {
    {VK_RETURN, &CViewer::TogglePlay, false},  {VK_LEFT, &CViewer::FrameBack, true},
    {VK_RIGHT, &CViewer::FrameForward, true},  {VK_PRIOR, &CViewer::PageBack, false},
    {VK_NEXT, &CViewer::PageForward, false},   {VK_HOME, &CViewer::ToFrameZero, false},
    {'1', &CViewer::HalfSpeed, false},         {'2', &CViewer::NormalSpeed, false},
    {'3', &CViewer::DoubleSpeed, false},       {'M', &CViewer::LoadMusic, false},
    {VK_F12, &CViewer::ToggleTimeline, false},
};

// Frames a key is held before it repeats: a third of a second.
constexpr uint16_t kRepeatDelay = 10;
// Frames Page Up and Page Down move.
constexpr int64_t kPageFrames = 30;

const qev::FileFilter kMusicFilter{u"音楽ファイル(*.wav *.flac *.ogg *.mp3)", u"*.wav *.flac *.ogg *.mp3"};

}  // namespace

void CViewer::RunPlayerCommands() {
  for (const PlayerKey& k : kPlayerKeys) {
    const uint8_t state = m_keys.State(k.vk);
    bool fire = state == CGetKey::kPressed;
    if (k.repeats) {
      uint16_t& held = m_nHeldFrames[k.vk & 0xFF];
      held = state == CGetKey::kHeld ? uint16_t(std::min<int>(held + 1, kRepeatDelay)) : 0;
      fire = fire || held >= kRepeatDelay;
    }
    if (fire) (this->*k.run)();
  }
}

void CViewer::TogglePlay() { m_player.TogglePlay(); }
void CViewer::FrameBack() {
  if (!m_player.Playing()) m_player.Move(-1);
}
void CViewer::FrameForward() {
  if (!m_player.Playing()) m_player.Move(1);
}
void CViewer::PageBack() { m_player.Move(-kPageFrames); }
void CViewer::PageForward() { m_player.Move(kPageFrames); }
void CViewer::ToFrameZero() { m_player.MoveTo(0); }
void CViewer::HalfSpeed() { m_player.SetSpeed(0.5); }
void CViewer::NormalSpeed() { m_player.SetSpeed(1.0); }
void CViewer::DoubleSpeed() { m_player.SetSpeed(2.0); }
void CViewer::ToggleTimeline() { DrawTimeline = !DrawTimeline; }

void CViewer::LoadMusic() {
  // the first time, the dialog opens in the motion's folder
  if (m_szMusicPath.empty() && !m_szMotionPath.empty()) {
    const size_t slash = m_szMotionPath.rfind('/');
    if (slash != std::string::npos) m_szMusicPath = m_szMotionPath.substr(0, slash + 1);
  }
  if (ChooseFile(&m_szMusicPath, kMusicFilter)) OpenMusic(m_szMusicPath);
}

int CViewer::OpenMusic(const std::string& path) {
  std::string why;
  if (m_player.OpenMusic(path, &why)) return 1;
  DebugPrintf("music not opened: %s: %s\n", qev::Utf8ToCp932(path).c_str(), why.c_str());
  static const std::string caption = qev::Sjis("エラー");
  m_services.dialogs->MessageBox(m_window.GetHandle(), qev::Sjis("音楽データ解析失敗"), caption, qev::MB_OK);
  return 0;
}

TimelineState CViewer::TimelineNow() const {
  TimelineState s = SceneTimeline(m_scene);
  if (s.motion) s.frame = m_player.Shown();
  s.playing = m_player.Playing();
  s.speed = m_player.Speed();
  return s;
}

bool CViewer::TimelineButtonDown(HWND window, LPARAM lParam) {
  const TimelineState state = TimelineNow();
  if (!DrawTimeline || !state.motion) return false;
  // the picture fills the window one to one (the window is not resizable)
  const TimelineLayout layout = CTimeline::Layout(m_frame.m_nWidth, m_frame.m_nHeight);
  if (!CTimeline::OnBar(layout, MouseX(lParam), MouseY(lParam))) return false;
  qev::SetCapture(window);
  m_bTimelineDrag = true;
  m_player.BeginDrag();
  m_player.MoveTo(CTimeline::FrameAt(layout, MouseX(lParam), state.last));
  return true;
}

bool CViewer::TimelineMouseMove(LPARAM lParam) {
  if (!m_bTimelineDrag) return false;
  const TimelineLayout layout = CTimeline::Layout(m_frame.m_nWidth, m_frame.m_nHeight);
  m_player.MoveTo(CTimeline::FrameAt(layout, MouseX(lParam), TimelineNow().last));
  return true;
}

bool CViewer::TimelineButtonUp() {
  if (!m_bTimelineDrag) return false;
  m_bTimelineDrag = false;
  qev::ReleaseCapture();
  m_player.EndDrag();
  return true;
}
