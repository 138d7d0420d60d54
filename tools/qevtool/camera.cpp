#include "tools/qevtool/camera.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "model/camera_track.h"
#include "model/vmd_file.h"
#include "platform/codepage.h"
#include "tools/qevtool/scene_options.h"
#include "tools/qevtool/summary_capture.h"

namespace {

// 6 decimals; a value that rounds to zero prints without a minus sign.
std::string Fixed6(float value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.6f", double(value));
  return std::strcmp(text, "-0.000000") ? text : "0.000000";
}

}  // namespace

int LoadCameraTrack(const std::string& path, CCameraTrack* track, std::string* why) {
  SummaryCapture log;
  CVmdFile motion;
  // the viewer's box text, then what the log said last (the reader's reason,
  // or why the motion is no camera)
  const std::string box = qev::Cp932ToUtf8(qev::Sjis("カメラデータ解析失敗"));
  if (!motion.Load(path.c_str())) {
    *why = path + ": " + box + ": " + log.Reason(path.c_str(), "not a motion file");
    return 0;
  }
  if (!track->Attach(motion)) {
    *why = path + ": " + box + ": " + log.Reason(path.c_str(), "not a camera motion");
    return 0;
  }
  return 1;
}

void CameraUsage(FILE* out) {
  std::fputs(
      "usage: qevtool camera CAM.vmd [--frame N]\n"
      "Reads a camera motion (a motion file with camera keys and no bone keys)\n"
      "and prints where it puts the view at frame N (default 0), as the viewer\n"
      "shows it, on one line:\n"
      "  EYE_X EYE_Y EYE_Z TARGET_X TARGET_Y TARGET_Z UP_X UP_Y UP_Z ANGLE\n"
      "tab-separated with 6 decimals: the eye, the point it looks at and the\n"
      "unit up vector in the viewer's space (right-handed, y up, the file's z\n"
      "mirrored), and the vertical view angle in degrees. Between keys each\n"
      "channel eases along the curve of the later key; before the first key the\n"
      "first key holds, after the last key the last one.\n"
      "exit status: 0 printed, 1 the file could not be read or holds no camera\n"
      "motion (the reason on stderr), 2 bad usage.\n",
      out);
}

int RunCamera(int argc, char** argv) {
  const char* file = nullptr;
  long frame = 0;
  std::string error;
  for (int i = 0; i < argc && error.empty(); ++i) {
    const char* arg = argv[i];
    if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h")) {
      CameraUsage(stdout);
      return 0;
    }
    if (!std::strcmp(arg, "--frame")) {
      if (i + 1 >= argc) {
        error = "--frame needs a frame number";
        break;
      }
      const char* text = argv[++i];
      char* end = nullptr;
      errno = 0;
      const long n = std::strtol(text, &end, 10);
      if (errno || end == text || *end || n < 0 || n > kMaxPlayedFrame)
        error = "--frame takes a whole number from 0 to " + std::to_string(kMaxPlayedFrame) + ", not '" + text + "'";
      frame = n;
    } else if (arg[0] == '-' && arg[1]) {
      error = std::string("unknown option '") + arg + "'";
    } else if (file) {
      error = std::string("one camera file only ('") + file + "' and '" + arg + "')";
    } else {
      file = arg;
    }
  }
  if (error.empty() && !file) error = "no camera file given";
  if (!error.empty()) {
    std::fprintf(stderr, "qevtool camera: %s\n", error.c_str());
    CameraUsage(stderr);
    return 2;
  }

  CCameraTrack track;
  std::string why;
  if (!LoadCameraTrack(file, &track, &why)) {
    std::fprintf(stderr, "qevtool camera: %s\n", why.c_str());
    return 1;
  }
  const CameraValues values = track.Sample(float(frame));
  const CameraView view = ViewFromCamera(values);
  const float fields[10] = {view.eye.x,  view.eye.y, view.eye.z, view.target.x, view.target.y,
                            view.target.z, view.up.x,  view.up.y,  view.up.z,     values.viewAngle};
  for (int i = 0; i < 10; ++i) std::printf("%s%c", Fixed6(fields[i]).c_str(), i < 9 ? '\t' : '\n');
  return 0;
}
