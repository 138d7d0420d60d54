// CVideoFile: a recording as one video file, H.264 pictures and, with music,
// AAC sound cut to the pictures' span, in an MP4 or a Matroska container,
// encoded and muxed by FFmpeg's libraries and written through CSafeFile (a
// temporary file renamed over the target when complete; a device or a FIFO
// gets a stream that never goes back).
#pragma once
#include <memory>

#include "export/video_sink.h"

enum class VideoContainer { kMp4, kMatroska };

class CVideoFile : public CVideoSink {
 public:
  explicit CVideoFile(VideoContainer container);
  ~CVideoFile() override;

  // Even sides only: the pictures are stored with half-size colour planes.
  int Open(const std::string& path, const VideoOptions& options) override;
  int Add(std::vector<uint32_t>& pixels) override;
  int Finish() override;
  void Abandon() override;

 private:
  // The file given up for a reason, logged; 0.
  int Fail(const std::string& why);

  struct Impl;
  VideoContainer m_container;
  std::unique_ptr<Impl> m;
};
