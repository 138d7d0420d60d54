// The recording's sound source: samples exactly as the file holds them, cut
// at the start asked for and followed by silence; channels mixed and rates
// converted; broken, lying and hostile files refused or played as far as
// they go, each with one log line.
#include "export/music_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/picture_encoder.h"
#include "tests/common/media.h"
#include "tests/common/temp_dir.h"
#include "tools/fixtures/sound_fixture.h"

namespace {

using qev::test::TempDir;

// Reads n samples of every channel at once.
std::vector<std::vector<float>> ReadPlanes(CMusicReader& reader, int channels, int n) {
  std::vector<std::vector<float>> planes(size_t(channels), std::vector<float>(size_t(n), 99.0f));
  std::vector<float*> pointers;
  for (auto& p : planes) pointers.push_back(p.data());
  reader.Read(pointers.data(), n);
  return planes;
}

TEST(MusicReader, SamplesComeAsStoredFromTheStartThenSilence) {
  TempDir dir;
  dir.WriteFile("ramp.wav", qev::fixture::BuildWav(48000, 1, qev::fixture::Ramp(1, 30000)));  // sample i is 1000 + i
  struct Case {
    double start;  // seconds
    int first;     // the file's sample that comes first
  };
  const Case cases[] = {{0.0, 0}, {0.25, 12000}, {0.5, 24000}, {1.0, 48000 /* past the end */},
                        {-0.1, -4800 /* a tenth of a second of silence first */}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start);
    CMusicReader reader;
    std::string why;
    ASSERT_EQ(reader.Open(dir.Path("ramp.wav").c_str(), &why), 1) << why;
    EXPECT_EQ(reader.SourceRate(), 48000);
    EXPECT_EQ(reader.SourceChannels(), 1);
    ASSERT_EQ(reader.Start(48000, 1, c.start, &why), 1) << why;
    // Read in pieces that do not line up with the file's packets.
    std::vector<float> all;
    for (int piece : {1, 1000, 4095, 40000}) {
      const auto planes = ReadPlanes(reader, 1, piece);
      all.insert(all.end(), planes[0].begin(), planes[0].end());
    }
    const int quiet = std::max(0, -c.first), music = std::max(0, 30000 - std::max(c.first, 0));
    EXPECT_EQ(reader.MusicSamples(), music);
    for (int i = 0; i < int(all.size()); ++i) {
      const bool heard = i >= quiet && i < quiet + music;
      const float expected = heard ? float(1000 + c.first + i) / 32768.0f : 0.0f;
      if (all[size_t(i)] != expected) {
        ADD_FAILURE() << "sample " << i << ": " << all[size_t(i)] << " instead of " << expected;
        break;
      }
    }
  }
}

TEST(MusicReader, ChannelsAreMixedOrSpreadAndRatesConverted) {
  TempDir dir;
  struct Case {
    int rate, channels;    // of the file
    int outRate, outChannels;
    double level;  // the tone's root mean square in each channel given
  };
  const double half = 0.5 / std::sqrt(2.0);  // a sine of half the full scale
  const Case cases[] = {
      {48000, 2, 48000, 1, half},                    // stereo mixed to one channel, no louder
      {48000, 6, 48000, 2, half},                    // 5.1 mixed to stereo, no louder
      {48000, 1, 48000, 2, half / std::sqrt(2.0)},  // mono into both, 3 dB down in each
      {44100, 2, 48000, 2, half},                    // resampled
      {22050, 1, 44100, 1, half},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.rate) + " Hz x" + std::to_string(c.channels) + " -> " + std::to_string(c.outRate) +
                 " Hz x" + std::to_string(c.outChannels));
    // one second: half a second quiet, then the tone
    dir.WriteFile("tone.wav", qev::fixture::BuildWav(c.rate, c.channels, qev::test::QuietThenTone(c.rate, c.channels, 1.0, 0.5)));
    CMusicReader reader;
    std::string why;
    ASSERT_EQ(reader.Open(dir.Path("tone.wav").c_str(), &why), 1) << why;
    ASSERT_EQ(reader.Start(c.outRate, c.outChannels, 0.0, &why), 1) << why;
    const auto planes = ReadPlanes(reader, c.outChannels, 2 * c.outRate);
    // the length converts with the rate, within the converter's few samples of filter
    EXPECT_NEAR(double(reader.MusicSamples()), double(c.outRate), 64.0);
    for (const auto& p : planes) {
      auto rms = [&](double from, double to) {
        double sum = 0;
        const size_t a = size_t(from * c.outRate), b = size_t(to * c.outRate);
        for (size_t i = a; i < b; ++i) sum += double(p[i]) * p[i];
        return std::sqrt(sum / double(b - a));
      };
      EXPECT_LT(rms(0.05, 0.45), 0.001) << "the quiet half";
      EXPECT_NEAR(rms(0.55, 0.95), c.level, 0.01) << "the tone";
      EXPECT_EQ(rms(1.05, 2.0), 0.0) << "silence after the music";
    }
  }
}

TEST(MusicReader, FloatMusicIsHeldToFullScaleAndNumbers) {
  TempDir dir;
  dir.WriteFile("float.wav", qev::fixture::BuildFloatWav(
                                48000, 1, {0.25f, -0.5f, 3.0f, -1e30f, std::nanf(""), INFINITY, -INFINITY, 1.0f}));
  CMusicReader reader;
  std::string why;
  ASSERT_EQ(reader.Open(dir.Path("float.wav").c_str(), &why), 1) << why;
  ASSERT_EQ(reader.Start(48000, 1, 0.0, &why), 1) << why;
  const auto planes = ReadPlanes(reader, 1, 10);
  EXPECT_EQ(planes[0], (std::vector<float>{0.25f, -0.5f, 1.0f, -1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f}));
}

TEST(MusicReader, BrokenAndHostileFiles) {
  TempDir dir;
  using qev::fixture::BuildWav;
  const std::vector<int16_t> half = qev::fixture::Tone(48000, 1, 0.5, 440.0, 16384);
  const std::vector<int16_t> tenth = qev::fixture::Tone(48000, 1, 0.1, 440.0, 16384);
  const std::string good = BuildWav(48000, 1, half);
  const uint8_t kPixel[4] = {1, 2, 3, 255};
  std::string midwayGarbage = good;
  for (size_t i = 20000; i < 30000; ++i) midwayGarbage[i] = char(i * 7);

  struct Case {
    const char* name;
    std::string bytes;  // empty with `missing`: no file at all
    bool missing;
    bool opens;             // Open and Start succeed
    double musicSeconds;    // then: the music that comes before the silence
    const char* why;        // else: a part of the reason
  };
  const Case cases[] = {
      {"missing.wav", "", true, false, 0, "No such file or directory"},
      {"empty.wav", "", false, false, 0, ""},
      {"garbage.wav", std::string(5000, '\x5A'), false, false, 0, ""},
      {"header-only.wav", good.substr(0, 44), false, true, 0.0, nullptr},
      {"cut.wav", good.substr(0, 44 + 4800 * 2), false, true, 0.1, nullptr},
      {"longer.wav", BuildWav(48000, 1, half, 48000 * 2 * 100), false, true, 0.5, nullptr},  // says 100 s
      {"huge-data.wav", BuildWav(48000, 1, tenth, 0xFFFFFFF0), false, true, 0.1, nullptr},  // says 4 GB
      {"midway-garbage.wav", midwayGarbage, false, true, 0.5, nullptr},  // PCM: noise, not an error
      {"no-rate.wav", BuildWav(0, 1, tenth), false, false, 0, ""},
      {"slow-rate.wav", BuildWav(8, 1, tenth), false, false, 0, "out of reach"},  // a sample would become thousands
      {"many-channels.wav", BuildWav(48000, 1000, tenth), false, false, 0, ""},
      {"text.wav", "RIFF this is no sound at all", false, false, 0, ""},
      {"picture.wav", qev::EncodePicture(qev::PictureFileType::kPng, 1, 1, kPixel), false, false, 0,
       "no sound in the file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.missing) dir.WriteFile(c.name, c.bytes);
    qev::test::LogCapture log;
    CMusicReader reader;
    std::string why;
    int opened = reader.Open(dir.Path(c.name).c_str(), &why);
    if (opened) opened = reader.Start(48000, 1, 0.0, &why);
    ASSERT_EQ(opened, c.opens ? 1 : 0) << why;
    if (!c.opens) {
      EXPECT_FALSE(why.empty());
      EXPECT_NE(why.find(c.why), std::string::npos) << why;
      EXPECT_TRUE(log.Contains("music " + dir.Path(c.name) + " not read: " + why)) << log.Text();
      // a refused reader gives silence, not a crash
      const auto planes = ReadPlanes(reader, 1, 100);
      EXPECT_EQ(planes[0], std::vector<float>(100, 0.0f));
      continue;
    }
    const auto planes = ReadPlanes(reader, 1, 48000);
    EXPECT_NEAR(double(reader.MusicSamples()), c.musicSeconds * 48000, 1.0);
    for (size_t i = size_t(reader.MusicSamples()); i < planes[0].size(); ++i)
      if (planes[0][i] != 0.0f) {
        ADD_FAILURE() << "sample " << i << " after the music is " << planes[0][i];
        break;
      }
  }
}

}  // namespace
