// CMusicReader: the sound track of a recording, decoded from a music file
// (WAV, FLAC, OGG, MP3 and whatever else FFmpeg's readers know) and turned
// into planar float samples at the rate and channel count the AAC encoder
// takes, starting a given number of seconds into the music.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

class CMusicReader {
 public:
  CMusicReader();
  CMusicReader(const CMusicReader&) = delete;
  CMusicReader& operator=(const CMusicReader&) = delete;
  virtual ~CMusicReader();

  // Opens the file and finds its sound. 1, or 0 with the reason (ASCII) in
  // *failure: the file cannot be read, holds no sound, or its rate or
  // channel count is out of reach.
  int Open(const char* path, std::string* failure);
  // The music's own sample rate and channel count (after Open).
  int SourceRate() const;
  int SourceChannels() const;
  // From here on Read gives `rate` samples a second in `channels` channels
  // (1 or 2), the first one `startSeconds` into the music (a start before
  // the music's gives silence until it begins). 1, or 0 with the reason when
  // the converter cannot be made.
  int Start(int rate, int channels, double startSeconds, std::string* failure);
  // Fills planes[c][0 .. count) for every channel with samples from -1 to 1
  // (what is no number in a float file is silence, more is held to full
  // scale). Past the end of the music, and after a part that cannot be
  // decoded (said once in the log), silence.
  void Read(float* const* planes, int count);
  // Samples of music given so far, silence not counted.
  int64_t MusicSamples() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> m;
};
