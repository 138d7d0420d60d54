// Sound files decoded whole: WAV exactly, FLAC exactly, OGG and MP3 to the
// same tone within what lossy coding keeps (the test encodes them itself with
// the decoder library's own writer), more than two channels cut to two, and
// truncated, lying and hostile files refused or read within their bytes.
#include "platform/sound_file.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/common/temp_dir.h"
#include "tools/fixtures/sound_fixture.h"

namespace {

using namespace qev::fixture;

// A file of the given format written by the library from 16-bit samples,
// handed over as they are or (for the lossy encoders, whose 16-bit input is
// not scaled as their float input is) as floats from -1 to 1.
std::string Encode(const qev::test::TempDir& dir, int format, int rate, int channels,
                   const std::vector<int16_t>& samples, bool asFloat = false) {
  const std::string path = dir.Path("encoded");
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = format;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  EXPECT_NE(f, nullptr) << sf_strerror(nullptr);
  if (!f) return {};
  const sf_count_t frames = sf_count_t(samples.size()) / channels;
  if (asFloat) {
    std::vector<float> scaled(samples.begin(), samples.end());
    for (float& x : scaled) x /= 32768.0f;
    EXPECT_EQ(sf_writef_float(f, scaled.data(), frames), frames);
  } else {
    EXPECT_EQ(sf_writef_short(f, samples.data(), frames), frames);
  }
  sf_close(f);
  return dir.ReadFile("encoded");
}

double Rms(const std::vector<int16_t>& s, size_t from, size_t to) {
  double sum = 0;
  for (size_t i = from; i < to; ++i) sum += double(s[i]) * s[i];
  return std::sqrt(sum / double(to - from));
}

TEST(SoundFile, EveryFormatDecodesToItsSamples) {
  qev::test::TempDir dir;
  const std::vector<int16_t> ramp = Ramp(2, 20000, 1);
  const std::vector<int16_t> tone = Tone(44100, 2, 1.0, 440, 10000);
  struct Row {
    const char* what;
    std::string bytes;
    int rate, channels;
    const std::vector<int16_t>* want;
    bool exact;
  };
  const Row rows[] = {
      {"WAV mono", BuildWav(8000, 1, Ramp(1, 8000)), 8000, 1, nullptr, true},
      {"WAV stereo", BuildWav(22050, 2, ramp), 22050, 2, &ramp, true},
      {"FLAC", Encode(dir, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2, tone), 44100, 2, &tone, true},
      {"OGG", Encode(dir, SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 2, tone, true), 44100, 2, &tone, false},
      {"MP3", Encode(dir, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100, 2, tone, true), 44100, 2, &tone, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    ASSERT_FALSE(r.bytes.empty());
    qev::DecodedSound sound;
    std::string why;
    ASSERT_TRUE(qev::DecodeSound(r.bytes.data(), r.bytes.size(), &sound, &why)) << why;
    EXPECT_EQ(sound.rate, r.rate);
    EXPECT_EQ(sound.channels, r.channels);
    const std::vector<int16_t> mono = Ramp(1, 8000);
    const std::vector<int16_t>& want = r.want ? *r.want : mono;
    if (r.exact) {
      EXPECT_EQ(sound.samples, want);
      continue;
    }
    // Lossy: about the tone's length (the encoder may pad a frame or so)
    // and its loudness in the middle.
    EXPECT_NEAR(double(sound.Frames()), 44100.0, 3000.0);
    ASSERT_GT(sound.samples.size(), 60000u);
    EXPECT_NEAR(Rms(sound.samples, 20000, 60000), Rms(want, 20000, 60000), Rms(want, 20000, 60000) * 0.1);
  }
}

TEST(SoundFile, FloatSamplesAndMoreChannelsComeOutAsSixteenBitStereo) {
  qev::test::TempDir dir;
  // float data: half scale is 16384, full scale and beyond held at the ends
  const std::string path = dir.Path("f.wav");
  SF_INFO info{};
  info.samplerate = 8000;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr);
  const float values[] = {0.5f, -0.5f, 1.0f, -1.0f, 1.5f, -3.0f, 0.0f};
  ASSERT_EQ(sf_writef_float(f, values, 7), 7);
  sf_close(f);
  qev::DecodedSound sound;
  std::string why;
  ASSERT_TRUE(qev::LoadSoundFile(path, &sound, &why)) << why;
  EXPECT_EQ(sound.samples, (std::vector<int16_t>{16384, -16384, 32767, -32768, 32767, -32768, 0}));

  // four channels: the first two are kept, frame by frame
  std::vector<int16_t> four;
  for (int frame = 0; frame < 100; ++frame)
    for (int c = 0; c < 4; ++c) four.push_back(int16_t(frame * 10 + c));
  const std::string wav = BuildWav(8000, 4, four);
  ASSERT_TRUE(qev::DecodeSound(wav.data(), wav.size(), &sound, &why)) << why;
  EXPECT_EQ(sound.channels, 2);
  ASSERT_EQ(sound.Frames(), 100);
  for (int frame = 0; frame < 100; ++frame) {
    ASSERT_EQ(sound.samples[size_t(frame) * 2], frame * 10);
    ASSERT_EQ(sound.samples[size_t(frame) * 2 + 1], frame * 10 + 1);
  }
  EXPECT_DOUBLE_EQ(sound.Seconds(), 100.0 / 8000);
}

// A WAV header with one field changed: (offset, bytes).
std::string Patched(std::string bytes, size_t at, const void* value, size_t n) {
  std::memcpy(bytes.data() + at, value, n);
  return bytes;
}

TEST(SoundFile, DamagedAndHostileFilesFailOrDecodeWithinTheirBytes) {
  const std::string good = BuildWav(8000, 1, Ramp(1, 400));
  const uint32_t zero = 0, ten = 10, huge = 0xFFFFFFF0u, million = 1000000;
  const uint16_t noChannels = 0;
  std::mt19937 random(19);
  std::string noise(4096, '\0');
  for (char& c : noise) c = char(random());
  struct Row {
    const char* what;
    std::string bytes;
    bool ok;
    const char* why;   // the start of the reason when it fails
    size_t maxSamples;  // when it decodes: never more than the file's bytes hold
  };
  const Row rows[] = {
      {"nothing", "", false, "empty file", 0},
      {"RIFF alone", "RIFF", false, "not a sound file the decoder knows", 0},
      {"header cut before the data", good.substr(0, 40), false, "", 0},
      {"data cut mid-sample", good.substr(0, 44 + 401), true, "", 200},
      {"data size claims 4 GiB", BuildWav(8000, 1, Ramp(1, 50), huge), true, "", 50},
      {"sample rate 0", Patched(good, 24, &zero, 4), false, "", 0},
      {"sample rate 10", Patched(good, 24, &ten, 4), false, "sample rate out of range (10)", 0},
      {"sample rate a million", Patched(good, 24, &million, 4), false, "sample rate out of range (1000000)", 0},
      {"no channels", Patched(good, 22, &noChannels, 2), false, "", 0},
      {"noise", noise, false, "not a sound file the decoder knows", 0},
      {"noise after a RIFF header", good.substr(0, 44) + noise, true, "", 2048},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    qev::DecodedSound sound;
    std::string why;
    const bool ok = qev::DecodeSound(r.bytes.data(), r.bytes.size(), &sound, &why);
    EXPECT_EQ(ok, r.ok) << why;
    if (ok) {
      EXPECT_GT(sound.samples.size(), 0u);
      EXPECT_LE(sound.samples.size(), r.maxSamples);
    } else {
      EXPECT_EQ(why.rfind(r.why, 0), 0u) << why;
      EXPECT_FALSE(why.empty());
      EXPECT_TRUE(sound.samples.empty());
      EXPECT_EQ(sound.rate, 0);
    }
  }
}

TEST(SoundFile, FilesThatCannotBeReadSayWhy) {
  qev::test::TempDir dir;
  dir.WriteFile("tone.wav", BuildWav(8000, 1, Tone(8000, 1, 0.25, 440, 8000)));
  qev::DecodedSound sound;
  std::string why;
  EXPECT_TRUE(qev::LoadSoundFile(dir.Path("tone.wav"), &sound, &why)) << why;
  EXPECT_EQ(sound.Frames(), 2000);
  EXPECT_FALSE(qev::LoadSoundFile(dir.Path("missing.wav"), &sound, &why));
  EXPECT_EQ(why, "No such file or directory");
  EXPECT_TRUE(sound.samples.empty());
  EXPECT_FALSE(qev::LoadSoundFile(dir.Path(), &sound, &why));
  EXPECT_EQ(why, "not a regular file");
}

}  // namespace
