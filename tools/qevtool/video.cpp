#include "tools/qevtool/video.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/draw_frame.h"
#include "app/grid.h"
#include "app/player.h"
#include "app/scene.h"
#include "app/start_up_view.h"
#include "app/timeline.h"
#include "app/video_export.h"
#include "export/bake_limits.h"
#include "export/video_encoder.h"
#include "model/camera_track.h"
#include "physics/bullet_debug_draw.h"
#include "render/d3d_camera.h"
#include "render/d3d_line90.h"
#include "render/d3d_locater.h"
#include "render/dd_pro90.h"
#include "tools/qevtool/camera.h"
#include "tools/qevtool/render.h"
#include "tools/qevtool/scene_options.h"

namespace {

// "\rvideo 120/600 [########....] 24.1 fps, 0:20 left" on a terminal, redrawn
// a few times a second, and the run's figures once it is done.
class ProgressBar {
 public:
  ProgressBar() : m_bShown(isatty(STDERR_FILENO) == 1) {}

  void Show(int64_t frames, const RecordFigures& f) {
    if (!m_bShown || frames <= 0) return;
    if (f.handed != frames && m_bDrawn && f.wholeSeconds - m_fDrawnAt < 0.2) return;
    m_bDrawn = true;
    m_fDrawnAt = f.wholeSeconds;
    const int width = 40;
    const int filled = int(f.handed * width / frames);
    const double rate = f.wholeSeconds > 0 ? double(f.handed) / f.wholeSeconds : 0.0;
    const long left = rate > 0 ? long(double(frames - f.handed) / rate + 0.5) : 0;
    std::fprintf(stderr, "\rvideo %lld/%lld [%s%s] %.1f fps, %ld:%02ld left ", static_cast<long long>(f.handed),
                 static_cast<long long>(frames), std::string(size_t(filled), '#').c_str(),
                 std::string(size_t(width - filled), '.').c_str(), rate, left / 60, left % 60);
    std::fflush(stderr);
  }

  // The figures of the whole run: pictures a second overall, drawing alone
  // and encoding alone (on its own thread, side by side with the drawing).
  void Done(const RecordFigures& f, double encodingSeconds, bool written) {
    if (!m_bShown || !m_bDrawn) return;
    std::fputc('\n', stderr);
    if (!written) return;
    auto rate = [&](double seconds) { return seconds > 0 ? double(f.handed) / seconds : 0.0; };
    std::fprintf(stderr, "%lld pictures in %.1f s: %.1f fps; drawing %.1f fps, encoding %.1f fps\n",
                 static_cast<long long>(f.handed), f.wholeSeconds, rate(f.wholeSeconds), rate(f.drawSeconds),
                 rate(encodingSeconds));
  }

 private:
  bool m_bShown;
  bool m_bDrawn = false;
  double m_fDrawnAt = 0;
};

// The highest frame --from and --to take: the highest a motion file can hold.
constexpr long long kHighestFrame = 2147483646;

// A decimal whole number from `least` to `most`; no sign, no blanks.
bool ParseWhole(const char* text, long long least, long long most, long long* out) {
  if (!std::isdigit(static_cast<unsigned char>(text[0]))) return false;
  char* end = nullptr;
  errno = 0;
  const long long n = std::strtoll(text, &end, 10);
  if (errno || *end || n < least || n > most) return false;
  *out = n;
  return true;
}

}  // namespace

void VideoUsage(FILE* out) {
  std::fputs(
      "usage: qevtool video MODEL MOTION [--camera CAM.vmd] [--audio MUSIC [--audio-offset N]] [--from A]\n"
      "                     [--to B] [--size WxH] [--fps 30|60] [--solid | --wire] [--unlit] [--no-ik] [--no-physics]\n"
      "                     [--physics-substeps N] [--hud] [--max-frames N] -o OUT.mp4 | OUT.mkv | FOLDER/\n"
      "Records the motion picture by picture, each drawn offscreen exactly as\n"
      "`qevtool render` draws it (the start-up camera or the camera motion's view,\n"
      "the floor grid, the IK goal markers unless --no-ik, the model in wireframe\n"
      "or --solid, shaded unless --unlit). The motion plays from frame 0 as in the viewer, with its\n"
      "physics unless --no-physics, and the video shows frames A (default 0) to B\n"
      "(default the motion's last: its highest key frame wraps to 0 and is never\n"
      "shown), both included.\n"
      "  --fps 30   (the default) each picture is one frame of playback\n"
      "  --fps 60   the motion and the camera are sampled at half frames, the\n"
      "             physics steps 1/60 s a picture\n"
      "  --camera   the view follows the camera motion at the motion's frame\n"
      "  --audio    the music as AAC sound, from A/30 s into it for as long as the\n"
      "             pictures last (silence where the music ends first)\n"
      "  --audio-offset N  the music starts with frame N, as the viewer's option\n"
      "             says (negative: frame 0 is -N frames into it); silence before\n"
      "  --hud      the player's timeline along the bottom, as `render --hud`\n"
      QEV_PHYSICS_SUBSTEPS_USAGE
      "  --max-frames N  record motions played up to N frames (frame 0 to B);\n"
      "             longer ones are refused before the first picture. 1000000\n"
      "             (over nine hours) unless given.\n"
      "OUT.mp4 and OUT.mkv get H.264 pictures, whose sides must be even; a folder\n"
      "(named with a trailing '/', or one that exists) gets numbered PNG pictures\n"
      "000000.png, 000001.png, ... and is made when missing. The size is 1280x800 as\n"
      "in the viewer unless --size says otherwise (each side 1 to 4096).\n"
      "A video file replaces OUT only once it is completely written; a run that is\n"
      "interrupted leaves nothing, and in a folder only whole pictures. A progress\n"
      "bar with pictures a second and the time left is drawn on stderr when it is a\n"
      "terminal, and the run's figures when it is done.\n"
      "exit status: 0 written, 1 a file could not be read or written or no offscreen\n"
      "device could be made (the reason on stderr), 2 bad usage.\n",
      out);
}

int RunVideo(int argc, char** argv) {
  SceneOptions options;
  PictureOptions picture;
  std::string music;
  int fps = 30;
  long long from = 0, to = 0, maxFrames = qev::bake::kDefaultMaxFrames, audioOffset = 0;
  bool toGiven = false, offsetGiven = false;
  const char* output = nullptr;
  std::string error;
  for (int i = 0; i < argc && error.empty(); ++i) {
    const char* arg = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h")) {
      VideoUsage(stdout);
      return 0;
    }
    if (const int taken = TakePhysicsSubsteps(argc, argv, &i, &options.physicsSubsteps, &error)) {
      if (taken > 0) continue;
    } else if (const int taken = TakePictureArgument(argc, argv, &i, &picture, &error)) {
      if (taken > 0) continue;
    } else if (!std::strcmp(arg, "--no-ik")) {
      options.ik = false;
    } else if (!std::strcmp(arg, "--no-physics")) {
      options.physics = false;
    } else if (!std::strcmp(arg, "--audio")) {
      const char* file = value();
      if (!file || !file[0])
        error = "--audio needs a file";
      else if (!music.empty())
        error = "--audio given twice";
      else
        music = file;
    } else if (!std::strcmp(arg, "--from") || !std::strcmp(arg, "--to")) {
      const char* text = value();
      long long* slot = arg[2] == 'f' ? &from : &to;
      if (!text || !ParseWhole(text, 0, kHighestFrame, slot))
        error = std::string(arg) + " takes a whole number from 0 to " + std::to_string(kHighestFrame);
      if (arg[2] == 't') toGiven = true;
    } else if (!std::strcmp(arg, "--audio-offset")) {
      const char* text = value();
      const bool negative = text && text[0] == '-';
      long long size = 0;
      if (!text || !ParseWhole(text + negative, 0, CPlayer::kMaxAudioOffset, &size))
        error = "--audio-offset takes a whole number of frames from -" + std::to_string(CPlayer::kMaxAudioOffset) +
                " to " + std::to_string(CPlayer::kMaxAudioOffset);
      audioOffset = negative ? -size : size;
      offsetGiven = true;
    } else if (!std::strcmp(arg, "--max-frames")) {
      const char* text = value();
      if (!text || !ParseWhole(text, 1, INT64_MAX, &maxFrames))
        error = "--max-frames takes a whole number of frames from 1 on";
    } else if (!std::strcmp(arg, "--fps")) {
      const char* text = value();
      if (text && !std::strcmp(text, "30"))
        fps = 30;
      else if (text && !std::strcmp(text, "60"))
        fps = 60;
      else
        error = "--fps takes 30 or 60";
    } else if (!std::strcmp(arg, "-o")) {
      const char* file = value();
      if (!file || !file[0])
        error = "-o needs a file or a folder";
      else if (output)
        error = "-o given twice";
      else
        output = file;
    } else if (arg[0] == '-' && arg[1]) {
      error = std::string("unknown option '") + arg + "'";
    } else if (options.model.empty()) {
      options.model = arg;
    } else if (options.motion.empty()) {
      options.motion = arg;
    } else {
      error = "more than a model and a motion given";
    }
  }
  VideoTarget target = VideoTarget::kUnknown;
  if (error.empty() && options.model.empty()) error = "no model given";
  if (error.empty() && options.motion.empty()) error = "no motion given";
  if (error.empty() && !output) error = "no output (-o OUT.mp4, OUT.mkv or FOLDER/)";
  if (error.empty() && toGiven && from > to) error = "--from is after --to";
  if (error.empty() && offsetGiven && music.empty()) error = "--audio-offset needs --audio";
  if (error.empty()) {
    target = ClassifyVideoTarget(output);
    if (target == VideoTarget::kUnknown)
      error = std::string("'") + output + "' is no .mp4 or .mkv file nor a folder (FOLDER/)";
    else if (target == VideoTarget::kPictures && !music.empty())
      error = "--audio needs a video file, not a folder";
    else if (target != VideoTarget::kPictures && (picture.width % 2 || picture.height % 2))
      error = "a video file's sides must be even";
  }
  if (!error.empty()) {
    std::fprintf(stderr, "qevtool video: %s\n", error.c_str());
    VideoUsage(stderr);
    return 2;
  }
  const int width = picture.width, height = picture.height;
  const bool hud = picture.hud;
  CCameraTrack cameraTrack;
  OffscreenView view;  // the start-up of `qevtool render`, offscreen
  CScene scene;
  if (!SetUpPicture("video", picture, options, &cameraTrack, &view, &scene)) return 1;
  std::string why;
  CDDPro90& deviceFrame = view.deviceFrame;
  const int32_t last = LastShownFrame(scene);
  if (!toGiven) to = last;
  if (to > last || from > to) {
    std::fprintf(stderr, "qevtool video: --%s %lld is past the motion's last frame %d\n", to > last ? "to" : "from",
                 to > last ? to : from, int(last));
    return 1;
  }
  // The checks of a bake, on the frames played from 0 to the last picture's.
  qev::bake::BakeSize size;
  size.frames = to + 1;
  if (!qev::bake::CheckBake(size, output, maxFrames, &why)) {
    std::fprintf(stderr, "qevtool video: %s: %s\n", output, why.c_str());
    return 1;
  }

  VideoOptions video;
  video.width = width;
  video.height = height;
  video.fps = fps;
  video.frames = VideoFrameCount(int32_t(from), int32_t(to), fps);
  video.music = music;
  video.musicStart = double(from - audioOffset) / 30.0;
  CVideoEncoder encoder;
  if (!encoder.Open(output, video)) {
    std::fprintf(stderr, "qevtool video: %s: %s\n", output, encoder.Reason().c_str());
    return 1;
  }
  // Played from frame 0 to the first picture at the video's own rate, so the
  // physics has stepped as it steps through the video.
  for (int64_t k = 0, n = int64_t(from) * fps / 30; k < n; ++k) StepVideoFrame(scene, fps);

  FrameDrawing frame;
  view.Describe(picture, &frame);
  AddSceneSteps(&frame, &scene);
  CTimeline timeline;  // lets go of its atlas before the device goes
  if (hud) frame.drawOverlay = [&] { timeline.Draw(deviceFrame.m_pDevice, width, height, SceneTimeline(scene)); };
  auto draw = [&](std::vector<uint32_t>* pixels) {
    // the camera follows the motion's frame counter, as in the viewer
    if (!cameraTrack.Empty()) ViewThroughCamera(&view.camera, cameraTrack.View(scene.m_fFrame));
    DrawWholeFrame(&deviceFrame, frame);
    unsigned w = 0, h = 0;
    return SUCCEEDED(deviceFrame.m_pDevice->ReadBackBuffer(pixels, &w, &h)) && int(w) == width && int(h) == height;
  };
  ProgressBar bar;
  RecordFigures figures;
  const int written = RecordVideo(
      scene, fps, video.frames, draw, encoder, [&bar](int64_t frames, const RecordFigures& f) { bar.Show(frames, f); },
      &figures, &why);
  bar.Done(figures, encoder.EncodingSeconds(), written);
  if (!written) {
    std::fprintf(stderr, "qevtool video: %s: %s\n", output, why.c_str());
    return 1;
  }
  return 0;
}
