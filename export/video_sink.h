// What a recording is written to: a video file or a folder of numbered
// pictures. Both take the same pictures one after the other; neither draws.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Told before the first picture.
struct VideoOptions {
  int width = 1280;  // pixels of every picture
  int height = 800;
  int fps = 30;         // pictures per second of video time
  int64_t frames = 0;   // how many pictures will come; the sound lasts frames / fps seconds
  std::string music;    // a sound file to go with the pictures, or empty
  double musicStart = 0.0;  // seconds into the music at the first picture; before 0, silence until it starts
};

class CVideoSink {
 public:
  virtual ~CVideoSink() = default;
  // Starts the file or folder at a native path. 1, or 0 with Reason().
  virtual int Open(const std::string& path, const VideoOptions& options) = 0;
  // The next picture: width x height pixels, top row first, each pixel's
  // bytes blue, green, red and one the sink may overwrite. 0 once failed.
  virtual int Add(std::vector<uint32_t>& pixels) = 0;
  // Completes what was opened. 1 when all of it is in place; 0 with
  // Reason(), nothing left behind.
  virtual int Finish() = 0;
  // Gives up: what was started goes.
  virtual void Abandon() = 0;
  // Why the last call failed; ASCII text for the terminal.
  const std::string& Reason() const { return m_reason; }

 protected:
  std::string m_reason;
};
