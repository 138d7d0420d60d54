// CPngSequence: a recording as numbered PNG pictures in a folder, 000000.png
// on, each written through CSafeFile: a run that stops leaves whole pictures
// only. The folder is made when missing (its parent must exist).
#pragma once
#include "export/video_sink.h"

class CPngSequence : public CVideoSink {
 public:
  // Any sides; the options' music is not for pictures and is passed over.
  int Open(const std::string& path, const VideoOptions& options) override;
  int Add(std::vector<uint32_t>& pixels) override;
  int Finish() override;
  // The pictures already written stay: each is whole.
  void Abandon() override;

  // The file name of picture n, "000042.png".
  static std::string PictureName(int64_t n);

 private:
  std::string m_folder;  // with a trailing "/"
  VideoOptions m_options;
  int64_t m_nWritten = 0;
  bool m_bOpen = false;
};
