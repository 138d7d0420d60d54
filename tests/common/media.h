// Recordings read back by FFmpeg's own tools (ffprobe and ffmpeg), not by
// the code under test, and pictures compared.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace qev::test {

// `seconds` of sound: `silence` seconds of quiet, then a sine of 440 Hz at
// half the full scale, in every channel.
std::vector<int16_t> QuietThenTone(int rate, int channels, double seconds, double silence);

struct ProbedStream {
  std::string type;  // "video" or "audio"
  std::string codec;
  int width = 0, height = 0;
  std::string frameRate;  // "30/1"
  long long frames = -1;  // frames the reader decoded (pictures, or sound packets)
  int sampleRate = 0, channels = 0;
  double duration = -1.0;  // seconds, when the container says (an MP4 does, a Matroska file does not)
};
struct ProbedMedia {
  bool read = false;       // ffprobe read the file
  double duration = -1.0;  // the container's, in seconds
  std::vector<ProbedStream> streams;
  const ProbedStream* Find(const std::string& type) const;
};
// What ffprobe makes of a file, every frame counted.
ProbedMedia ProbeMedia(const std::string& path);
// The file's sound decoded by ffmpeg, mixed to one channel at its own rate.
std::vector<int16_t> DecodeSound(const std::string& path);
// Picture n of a video decoded by ffmpeg into a PNG file; true when written.
bool ExtractPicture(const std::string& video, long long n, const std::string& png);
// How far two picture files (PNG, BMP, ...) of one size are apart: the mean
// difference of their red, green and blue values (0 to 255) and the share
// of those values more than 24 apart. False when either cannot be read or
// their sizes differ.
struct PictureDistance {
  double mean = 0.0;
  double farShare = 0.0;
};
bool ComparePictures(const std::string& a, const std::string& b, PictureDistance* distance);
// Root mean square of samples [from, to), full scale 1.
double Loudness(const std::vector<int16_t>& samples, size_t from, size_t to);

}  // namespace qev::test
