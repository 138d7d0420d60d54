#include "app/video_export.h"

#include <chrono>
#include <string>

#include "app/scene.h"
#include "export/video_encoder.h"
#include "support/debug.h"

int32_t LastShownFrame(const CScene& scene) {
  if (!scene.m_motion || scene.m_motion->m_nMaxFrame <= 0) return 0;
  return scene.m_motion->m_nMaxFrame - 1;
}

int64_t VideoFrameCount(int32_t from, int32_t to, int fps) {
  if (to < from || fps <= 0) return 0;
  return (int64_t(to) - from + 1) * fps / 30;
}

void StepVideoFrame(CScene& scene, int fps) {
  if (scene.m_nMode == kMotionPlayback && scene.m_motion) scene.AdvanceMotion(30.0f / float(fps));
  if (scene.CalcBullet && scene.m_physics.HasWorld()) scene.m_physics.Step(1.0f / float(fps));
}

std::string ProposedVideoPath(const std::string& motionPath) {
  // Only the file's own name is looked at: a dot in a folder's name is no
  // extension, and a name that starts with its only dot has none.
  const size_t slash = motionPath.rfind('/');
  const size_t name = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = motionPath.rfind('.');
  if (dot == std::string::npos || dot <= name) return motionPath + ".mp4";
  return motionPath.substr(0, dot) + ".mp4";
}

int RecordVideo(CScene& scene, int fps, int64_t frames, const DrawPicture& draw, CVideoEncoder& encoder,
                const RecordProgress& progress, RecordFigures* figures, std::string* failure) {
  using Clock = std::chrono::steady_clock;
  auto seconds = [](Clock::duration d) { return std::chrono::duration<double>(d).count(); };
  RecordFigures f;
  const Clock::time_point begun = Clock::now();
  std::vector<uint32_t> pixels;
  bool drawn = true, handed = true, stopped = false;
  for (int64_t n = 0; n < frames && drawn && handed; ++n) {
    if (n > 0) StepVideoFrame(scene, fps);
    const Clock::time_point start = Clock::now();
    const int result = draw(&pixels);
    stopped = result == kRecordingStopped;
    drawn = result == 1;
    if (!drawn) break;
    f.drawSeconds += seconds(Clock::now() - start);
    handed = encoder.Push(&pixels) != 0;
    if (!handed) break;
    f.handed = n + 1;
    f.wholeSeconds = seconds(Clock::now() - begun);
    if (progress) progress(frames, f);
  }
  int written = 0;
  if (stopped) {
    encoder.Abandon();
    *failure = "stopped after " + std::to_string(f.handed) + " of " + std::to_string(frames) + " pictures";
    DebugPrintf("video not written: %s\n", failure->c_str());
  } else if (!drawn) {
    encoder.Abandon();
    *failure = "the picture could not be read back";
    DebugPrintf("video not written: %s\n", failure->c_str());
  } else {
    // A failed encoder has logged why; Finish gives its reason back.
    written = encoder.Finish();
    if (!written) *failure = encoder.Reason();
  }
  f.wholeSeconds = seconds(Clock::now() - begun);
  if (figures) *figures = f;
  return written;
}
