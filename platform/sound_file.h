// Sound files (WAV, FLAC, OGG, MP3) decoded whole into 16-bit samples by
// libsndfile. The file is read into memory first and decoded from there, so
// a damaged or hostile file is read within the bytes it holds, and what it
// decodes to is bounded whatever its header claims.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qev {

struct DecodedSound {
  int rate = 0;      // sample frames per second
  int channels = 0;  // 1 or 2: a file of more channels keeps its first two
  std::vector<int16_t> samples;  // interleaved, channels per frame
  int64_t Frames() const { return channels > 0 ? int64_t(samples.size()) / channels : 0; }
  double Seconds() const { return rate > 0 ? double(Frames()) / rate : 0.0; }
};

// The largest sound file read (bytes), and the most samples a sound may
// decode to (all channels counted): 2^27 samples are 256 MiB, about 25
// minutes of 44.1 kHz stereo.
constexpr size_t kMaxSoundFileBytes = size_t(1) << 30;
constexpr size_t kMaxSoundSamples = size_t(1) << 27;
// Sample rates taken, frames per second.
constexpr int kMinSoundRate = 1000;
constexpr int kMaxSoundRate = 384000;

// Decodes a whole file held in memory; false with the reason (ASCII) in *why,
// *out then empty.
bool DecodeSound(const void* bytes, size_t size, DecodedSound* out, std::string* why);
// Reads a file at a native path and decodes it.
bool LoadSoundFile(const std::string& path, DecodedSound* out, std::string* why);

}  // namespace qev
