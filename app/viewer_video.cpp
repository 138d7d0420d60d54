// V: the motion recorded from the frame shown to its last frame, with the
// music the player plays, into a video beside the motion (the save dialog
// proposes its name). The window shows each picture as it is recorded and
// its title how far the recording is; the viewer's loop waits meanwhile, and
// the player goes on from the last one. Escape or a close request stops the
// recording and gives the file up.
#include <unistd.h>

#include "app/video_export.h"
#include "app/viewer.h"
#include "export/bake_limits.h"
#include "export/video_encoder.h"
#include "platform/codepage.h"
#include "support/debug.h"

namespace {

const qev::FileFilter kVideoFilter{u"動画ファイル(*.mp4)", u"*.mp4"};
constexpr int kViewerFps = 30;  // the viewer's own frame rate

}  // namespace

void CViewer::SaveVideo() {
  static const std::string caption = qev::Sjis("エラー");
  const HWND owner = m_window.GetHandle();
  if (!m_scene.Loaded()) {
    m_services.dialogs->MessageBox(owner, qev::Sjis("モデルが読み込まれていません"), caption, qev::MB_OK);
    return;
  }
  if (m_scene.m_nMode != kMotionPlayback || !m_scene.m_motion) {
    m_services.dialogs->MessageBox(owner, qev::Sjis("モーションが読み込まれていません"), caption, qev::MB_OK);
    return;
  }
  std::string path = ProposedVideoPath(m_szMotionPath);
  const bool chosen = m_services.dialogs->GetSaveFileName(owner, &path, kVideoFilter);
  if (!m_szProgramFolder.empty() && chdir(m_szProgramFolder.c_str()) != 0) {
  }
  if (!chosen) return;
  // A name typed without an ending gets the one the dialog offered.
  if (ClassifyVideoTarget(path) == VideoTarget::kUnknown) path += ".mp4";

  VideoOptions options;
  options.width = m_frame.m_nWidth;
  options.height = m_frame.m_nHeight;
  options.fps = kViewerFps;
  const int32_t from = int32_t(m_scene.m_fFrame), last = LastShownFrame(m_scene);
  options.frames = VideoFrameCount(from, last, kViewerFps);
  // the music the player plays with the motion, from where it stands at the frame shown
  if (m_player.HasMusic()) {
    options.music = m_player.MusicPath();
    options.musicStart = double(from - m_player.AudioOffset()) / kViewerFps;
  }
  // The checks of a bake, on the frames to be played.
  qev::bake::BakeSize size;
  size.frames = options.frames;
  CVideoEncoder encoder;
  std::string failure;
  int written = 0;
  if (!qev::bake::CheckBake(size, path.c_str(), qev::bake::kDefaultMaxFrames, &failure)) {
    DebugPrintf("video not written: %s\n", failure.c_str());
  } else if (!(written = encoder.Open(path, options))) {
    failure = encoder.Reason();
  } else {
    // The clip is the dance, not the player: the timeline stays out of it.
    const int timeline = DrawTimeline;
    DrawTimeline = 0;
    std::vector<MSG> held;
    bool stopped = false;
    int64_t recorded = 0;
    auto draw = [&](std::vector<uint32_t>* pixels) {
      if (!RecordingGoesOn(&held)) {
        stopped = true;
        return kRecordingStopped;
      }
      qev::SetWindowText(owner, qev::Cp932ToUtf16(qev::Sjis("録画中 ") + std::to_string(recorded + 1) + " / " +
                                                   std::to_string(options.frames) + qev::Sjis("  [Esc]中止")));
      FollowCamera();
      DrawScene();
      ++recorded;
      return m_frame.m_pDevice && SUCCEEDED(m_frame.m_pDevice->ReadBackBuffer(pixels, nullptr, nullptr)) ? 1 : 0;
    };
    written = RecordVideo(m_scene, kViewerFps, options.frames, draw, encoder, nullptr, nullptr, &failure);
    DrawTimeline = timeline;
    qev::SetWindowText(owner, Title());
    // what came meanwhile, the close request too, takes its course now
    for (const MSG& msg : held) {
      if (msg.message == WM_QUIT)
        qev::PostQuitMessage(int(msg.wParam));
      else
        qev::PostMessage(msg.hwnd, msg.message, msg.wParam, msg.lParam);
    }
    if (stopped) return;  // the user's own choice: no box
  }
  if (!written)
    m_services.dialogs->MessageBox(owner, qev::Sjis("動画を書き込めませんでした\n") + qev::Utf8ToCp932(failure),
                                   caption, qev::MB_OK);
}

bool CViewer::RecordingGoesOn(std::vector<MSG>* held) {
  bool close = false;
  MSG msg;
  while (qev::PeekMessage(&msg)) {
    held->push_back(msg);
    if (msg.message == WM_SYSCOMMAND && (msg.wParam & 0xFFF0) == SC_CLOSE) close = true;
    if (msg.message == WM_QUIT) {
      close = true;
      break;  // the last message there is
    }
  }
  m_keys.Update();
  return !close && m_keys.State(VK_ESCAPE) != CGetKey::kPressed;
}
