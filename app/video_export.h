// Recording the scene's motion as a video, as `qevtool video` and the
// viewer's V key run it: the motion played at the video's rate (at 60
// pictures a second it is sampled at half frames and the physics steps
// 1/60 s at a time), each picture drawn by the caller and handed to the
// encoder's thread.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class CScene;
class CVideoEncoder;

// The last frame the scene's motion shows: its highest frame wraps to 0 and
// is never shown. 0 without a motion.
int32_t LastShownFrame(const CScene& scene);
// Pictures from motion frame `from` to `to`, both shown, at fps pictures a
// second: the span lasts (to - from + 1) / 30 s whatever the rate.
int64_t VideoFrameCount(int32_t from, int32_t to, int fps);
// One picture's time of playback: the motion advanced by 30 / fps frames,
// then, when physics is on, the world stepped by 1 / fps s. At 30 it is the
// viewer's own update.
void StepVideoFrame(CScene& scene, int fps);
// The name the save dialog proposes: the motion's path with the extension
// of its file name replaced by ".mp4".
std::string ProposedVideoPath(const std::string& motionPath);

// Draws the scene as it stands and reads the picture back (top row first,
// 32-bit pixels as the device holds them). 1, or 0 when nothing came back,
// or kRecordingStopped when the user stopped the recording.
using DrawPicture = std::function<int(std::vector<uint32_t>* pixels)>;
constexpr int kRecordingStopped = -1;

// How a recording went, for a progress bar and the figures of a run.
struct RecordFigures {
  int64_t handed = 0;        // pictures handed to the encoder
  double drawSeconds = 0;    // spent drawing and reading back
  double wholeSeconds = 0;   // since the first picture was begun
};
using RecordProgress = std::function<void(int64_t frames, const RecordFigures& figures)>;

// Records `frames` pictures into an opened encoder: the scene as it stands
// first, then one StepVideoFrame before each further picture; then the
// encoder finishes the file. 1 when written; 0 with the reason (ASCII) in
// *failure, the file given up. The scene is left at its last picture.
int RecordVideo(CScene& scene, int fps, int64_t frames, const DrawPicture& draw, CVideoEncoder& encoder,
                const RecordProgress& progress, RecordFigures* figures, std::string* failure);
