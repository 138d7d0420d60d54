// Music through SDL's own audio drivers, no sound card needed: the disk
// driver writes what the device was handed to a file, so the test reads
// back which samples were played from where; the clock runs smoothly and
// never backwards while playing, holds when stopped and runs on past the
// sound's end; an unknown driver is no sound device.
#include "platform/music.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/common/temp_dir.h"
#include "tools/fixtures/sound_fixture.h"

namespace {

// The audio driver (and the disk driver's file) for one test; the old
// environment comes back at the end.
class AudioDriver {
 public:
  AudioDriver(const char* driver, const std::string& file = {}) {
    Keep("SDL_AUDIODRIVER", driver);
    Keep("SDL_DISKAUDIOFILE", file.empty() ? nullptr : file.c_str());
  }
  ~AudioDriver() {
    for (const auto& [name, value] : m_old)
      if (value.empty()) unsetenv(name.c_str());
      else setenv(name.c_str(), value.c_str(), 1);
  }

 private:
  void Keep(const char* name, const char* value) {
    const char* old = std::getenv(name);
    m_old.emplace_back(name, old ? old : "");
    if (value) setenv(name, value, 1);
    else unsetenv(name);
  }
  std::vector<std::pair<std::string, std::string>> m_old;
};

constexpr int kRate = 48000;
constexpr int kStep = 4;  // ramp frames per value: value 1000 + frame / 4

qev::DecodedSound RampSound(int frames) {
  qev::DecodedSound s;
  s.rate = kRate;
  s.channels = 1;
  s.samples = qev::fixture::Ramp(1, frames, kStep);
  return s;
}

std::vector<int16_t> ReadSamples(const std::string& bytes) {
  std::vector<int16_t> out(bytes.size() / 2);
  std::memcpy(out.data(), bytes.data(), out.size() * 2);
  return out;
}

void Wait(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

TEST(Music, TheDiskDriverGetsTheSoundFromWhereItWasMovedTo) {
  qev::test::TempDir dir;
  AudioDriver driver("disk", dir.Path("out.raw"));
  {
    std::unique_ptr<qev::PlatformMusic> music = qev::CreateSystemMusic();
    std::string why;
    ASSERT_TRUE(music->Open(RampSound(2 * kRate), &why)) << why;
    EXPECT_TRUE(music->HasDevice());
    EXPECT_EQ(music->Seconds(), 0.0);
    music->Seek(0.5);
    EXPECT_EQ(music->Seconds(), 0.5);
    Wait(100);
    EXPECT_EQ(music->Seconds(), 0.5) << "not playing yet";
    music->Play(true);
    // the clock moves on smoothly and never back
    double last = music->Seconds();
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(300)) {
      const double now = music->Seconds();
      ASSERT_GE(now, last);
      last = now;
      Wait(2);
    }
    EXPECT_GT(last, 0.6);
    EXPECT_LT(last, 1.1);
    music->Play(false);
    const double stopped = music->Seconds();
    Wait(100);
    EXPECT_EQ(music->Seconds(), stopped);
    EXPECT_LT(stopped, last + 0.05);
  }
  // Silence while stopped, then the ramp from frame 24000 (0.5 s) on, frame
  // after frame.
  const std::vector<int16_t> out = ReadSamples(dir.ReadFile("out.raw"));
  size_t first = 0;
  while (first < out.size() && out[first] == 0) ++first;
  ASSERT_LT(first + 2000, out.size());
  EXPECT_EQ(out[first], 1000 + 24000 / kStep);
  for (size_t i = 0; i < 2000; ++i) ASSERT_EQ(out[first + i], 1000 + (24000 + int(i)) / kStep) << i;
}

TEST(Music, BeforeItsStartAndPastItsEndTheClockRunsOnInSilence) {
  qev::test::TempDir dir;
  AudioDriver driver("disk", dir.Path("out.raw"));
  {
    std::unique_ptr<qev::PlatformMusic> music = qev::CreateSystemMusic();
    std::string why;
    ASSERT_TRUE(music->Open(RampSound(kRate / 10), &why)) << why;  // a tenth of a second
    music->Seek(-0.05);
    music->Play(true);
    Wait(400);
    EXPECT_GT(music->Seconds(), 0.2);  // past the end, still counting
    music->Play(false);
  }
  // the lead-in is silence, then the whole ramp from its first frame, then silence
  const std::vector<int16_t> out = ReadSamples(dir.ReadFile("out.raw"));
  size_t first = 0;
  while (first < out.size() && out[first] == 0) ++first;
  ASSERT_LE(first + kRate / 10, out.size());
  for (size_t i = 0; i < size_t(kRate / 10); ++i) ASSERT_EQ(out[first + i], 1000 + int(i) / kStep) << i;
  for (size_t i = first + kRate / 10; i < out.size(); ++i) ASSERT_EQ(out[i], 0) << i;
}

TEST(Music, WithoutADriverThereIsNoDeviceAndTheClockStaysPut) {
  AudioDriver driver("no-such-driver");
  std::unique_ptr<qev::PlatformMusic> music = qev::CreateSystemMusic();
  std::string why;
  EXPECT_FALSE(music->Open(RampSound(kRate), &why));
  EXPECT_FALSE(why.empty());
  EXPECT_FALSE(music->HasDevice());
  music->Seek(1.5);
  music->Play(true);
  Wait(50);
  EXPECT_EQ(music->Seconds(), 1.5);
}

}  // namespace
