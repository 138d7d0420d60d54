// Fuzz target for the sound file decoder: any bytes decode or fail cleanly,
// and what decodes is whole 16-bit frames of one or two channels within the
// sample limit.
#include <cstdint>

#include "platform/sound_file.h"
#include "tools/fixtures/sound_fixture.h"
#include "tools/fuzz/seed_corpus.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  using namespace qev::fixture;
  qev::fuzz::SeedCorpus(*argc, *argv,
                        {{"mono.wav", BuildWav(8000, 1, Tone(8000, 1, 0.05, 440, 8000))},
                         {"stereo.wav", BuildWav(22050, 2, Ramp(2, 300))},
                         {"four.wav", BuildWav(11025, 4, Ramp(4, 100))},
                         {"lying.wav", BuildWav(8000, 1, Ramp(1, 64), 0x7FFFFFF0)}});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qev::DecodedSound sound;
  std::string why;
  if (!qev::DecodeSound(data, size, &sound, &why)) {
    if (why.empty() || !sound.samples.empty()) __builtin_trap();
    return 0;
  }
  if (sound.channels < 1 || sound.channels > 2 || sound.samples.size() % size_t(sound.channels) != 0 ||
      sound.samples.size() > qev::kMaxSoundSamples || sound.rate < qev::kMinSoundRate ||
      sound.rate > qev::kMaxSoundRate)
    __builtin_trap();
  return 0;
}
