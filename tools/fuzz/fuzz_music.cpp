// Fuzz target for the recording's music reader: any bytes as a sound file
// open or fail cleanly, and an opened one gives a second of samples at
// 48 kHz in two channels, every one a number within full scale.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "export/music_reader.h"
#include "tools/fixtures/sound_fixture.h"
#include "tools/fuzz/seed_corpus.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  using namespace qev::fixture;
  qev::fuzz::SeedCorpus(*argc, *argv,
                        {{"tone.wav", BuildWav(48000, 1, Tone(48000, 1, 0.05, 440.0, 16384))},
                         {"stereo.wav", BuildWav(44100, 2, Tone(44100, 2, 0.05, 440.0, 16384))},
                         {"longer.wav", BuildWav(22050, 1, Tone(22050, 1, 0.05, 440.0, 16384), 1 << 30)},
                         {"float.wav", BuildFloatWav(48000, 2, {0.5f, -0.5f, 2.0f, -1e30f, 0.0f, 1.0f})}});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The reader opens files by name: the bytes go into a file in memory.
  const int fd = memfd_create("music", MFD_CLOEXEC);
  if (fd < 0) return 0;
  for (size_t done = 0; done < size;) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) break;
    done += size_t(n);
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  CMusicReader reader;
  std::string why;
  if (reader.Open(path.c_str(), &why) && reader.Start(48000, 2, 0.01, &why)) {
    std::vector<float> left(48000), right(48000);
    float* planes[2] = {left.data(), right.data()};
    reader.Read(planes, 48000);
    for (int c = 0; c < 2; ++c)
      for (float v : c ? right : left)
        if (!(v >= -1.0f && v <= 1.0f)) __builtin_trap();
  }
  close(fd);
  return 0;
}
