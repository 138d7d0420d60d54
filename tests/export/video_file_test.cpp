// Recordings written to video files and picture folders, read back by
// FFmpeg's own tools: the frame count, size, rate and length they find, the
// sound cut to the pictures' span; and the targets
// that refuse them, cannot go back, or fill up, leaving nothing behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "export/png_sequence.h"
#include "export/video_encoder.h"
#include "export/video_file.h"
#include "platform/picture_encoder.h"
#include "tests/common/media.h"
#include "tests/common/temp_dir.h"
#include "tools/fixtures/sound_fixture.h"

namespace {

using qev::test::TempDir;

// Picture n: dark grey, a red band across the top third, and a white
// square of 16 pixels that moves right by 4 pixels a picture.
std::vector<uint32_t> Picture(int width, int height, int n) {
  std::vector<uint32_t> p(size_t(width) * size_t(height), 0x00202020u);
  for (int y = 0; y < height / 3; ++y)
    for (int x = 0; x < width; ++x) p[size_t(y) * size_t(width) + size_t(x)] = 0x00FF0000u;
  for (int y = height / 2; y < height / 2 + 16 && y < height; ++y)
    for (int x = 4 * n; x < 4 * n + 16 && x < width; ++x) p[size_t(y) * size_t(width) + size_t(x)] = 0x00FFFFFFu;
  return p;
}

// Encodes `frames` pictures into the target; 1 when finished, else 0 with why.
int Record(const std::string& target, const VideoOptions& o, std::string* why, int pictures = -1) {
  CVideoEncoder encoder;
  if (!encoder.Open(target, o)) {
    *why = encoder.Reason();
    return 0;
  }
  for (int n = 0; n < (pictures < 0 ? int(o.frames) : pictures); ++n) {
    std::vector<uint32_t> p = Picture(o.width, o.height, n);
    if (!encoder.Push(&p)) break;
  }
  const int done = encoder.Finish();
  *why = encoder.Reason();
  return done;
}

VideoOptions Options(int width, int height, int fps, int64_t frames) {
  VideoOptions o;
  o.width = width;
  o.height = height;
  o.fps = fps;
  o.frames = frames;
  return o;
}

// Names in the folder other than the test's own inputs.
bool OnlyInputs(const TempDir& dir, const std::vector<std::string>& inputs) {
  for (const std::string& name : dir.List())
    if (std::find(inputs.begin(), inputs.end(), name) == inputs.end()) {
      ADD_FAILURE() << "left behind: " << name;
      return false;
    }
  return true;
}

TEST(VideoFile, FfprobeFindsTheFramesSizeRateAndLength) {
  TempDir dir;
  dir.WriteFile("tone.wav", qev::fixture::BuildWav(44100, 2, qev::fixture::Tone(44100, 2, 10.0, 440.0, 16384)));
  dir.WriteFile("mono.wav", qev::fixture::BuildWav(22050, 1, qev::fixture::Tone(22050, 1, 10.0, 440.0, 16384)));
  dir.WriteFile("odd.wav", qev::fixture::BuildWav(37000, 1, qev::fixture::Tone(37000, 1, 10.0, 440.0, 16384)));
  struct Case {
    const char* name;
    int width, height, fps, frames;
    const char* music;
    int rate, channels;  // of the sound written
  };
  const Case cases[] = {
      {"plain.mp4", 320, 200, 30, 45, nullptr, 0, 0},
      {"plain.mkv", 160, 120, 60, 61, nullptr, 0, 0},
      {"tone.mp4", 320, 200, 30, 20, "tone.wav", 44100, 2},
      {"tone.mkv", 320, 200, 60, 90, "tone.wav", 44100, 2},
      {"mono.mp4", 64, 48, 30, 7, "mono.wav", 22050, 1},
      {"odd.mp4", 64, 48, 30, 30, "odd.wav", 48000, 1},  // no AAC rate: resampled
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VideoOptions o = Options(c.width, c.height, c.fps, c.frames);
    if (c.music) o.music = dir.Path(c.music);
    std::string why;
    ASSERT_EQ(Record(dir.Path(c.name), o, &why), 1) << why;
    const qev::test::ProbedMedia media = qev::test::ProbeMedia(dir.Path(c.name));
    ASSERT_TRUE(media.read);
    const qev::test::ProbedStream* video = media.Find("video");
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->codec, "h264");
    EXPECT_EQ(video->width, c.width);
    EXPECT_EQ(video->height, c.height);
    EXPECT_EQ(video->frameRate, std::to_string(c.fps) + "/1");
    EXPECT_EQ(video->frames, c.frames);
    const double seconds = double(c.frames) / c.fps;
    const qev::test::ProbedStream* audio = media.Find("audio");
    // Both streams last the pictures' span. A Matroska file has no place for
    // the AAC encoder's 1024 samples of priming: its streams start that much
    // later and the container is that much longer.
    const bool mp4 = std::string(c.name).ends_with(".mp4");
    const double priming = audio && !mp4 ? 1024.0 / c.rate : 0.0;
    EXPECT_NEAR(media.duration, seconds + priming, 0.5 / c.fps);
    if (mp4) {
      EXPECT_NEAR(video->duration, seconds, 1e-6);
      // FFmpeg's AAC encoder gives the last packet a few dozen samples
      // short of what it was handed (its own command line does the same)
      if (audio) {
        EXPECT_NEAR(audio->duration, seconds, 64.0 / c.rate);
      }
    }
    if (!c.music) {
      EXPECT_EQ(audio, nullptr);
      EXPECT_EQ(media.streams.size(), 1u);
      continue;
    }
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->codec, "aac");
    EXPECT_EQ(audio->sampleRate, c.rate);
    EXPECT_EQ(audio->channels, c.channels);
    // Decoded, the sound is as long as the pictures and then as much as the
    // last AAC frame of 1024 samples (and in Matroska the priming) adds.
    const std::vector<int16_t> sound = qev::test::DecodeSound(dir.Path(c.name));
    const int64_t span = int64_t(c.frames) * c.rate / c.fps;
    EXPECT_GE(int64_t(sound.size()), span);
    EXPECT_LT(int64_t(sound.size()), span + (mp4 ? 1024 : 2048));
  }
  EXPECT_TRUE(OnlyInputs(dir, {"tone.wav", "mono.wav", "odd.wav", "plain.mp4", "plain.mkv", "tone.mp4", "tone.mkv",
                               "mono.mp4", "odd.mp4"}));
}

TEST(VideoFile, SoundIsCutAtTheStartAndEndsInSilence) {
  // Two seconds of music: silent for the first, a tone in the second.
  TempDir dir;
  dir.WriteFile("music.wav", qev::fixture::BuildWav(48000, 1, qev::test::QuietThenTone(48000, 1, 2.0, 1.0)));
  struct Case {
    double start;         // seconds into the music
    int frames;           // at 30 a second
    double loudFrom, loudTo;  // seconds of the video the tone covers
  };
  const Case cases[] = {
      {0.0, 60, 1.0, 2.0},
      {1.0, 30, 0.0, 1.0},
      {1.5, 60, 0.0, 0.5},  // the music ends halfway: silence after
      {3.0, 15, 0.0, 0.0},  // past its end: silence throughout
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start);
    VideoOptions o = Options(64, 48, 30, c.frames);
    o.music = dir.Path("music.wav");
    o.musicStart = c.start;
    std::string why;
    ASSERT_EQ(Record(dir.Path("out.mp4"), o, &why), 1) << why;
    const std::vector<int16_t> sound = qev::test::DecodeSound(dir.Path("out.mp4"));
    ASSERT_GE(sound.size(), size_t(c.frames) * 1600);
    // a tenth of a second inside each part, away from the codec's blur at a change
    for (double t = 0.05; t + 0.1 < double(c.frames) / 30; t += 0.1) {
      const bool loud = t > c.loudFrom + 0.03 && t + 0.1 < c.loudTo - 0.03;
      const bool quiet = t + 0.1 < c.loudFrom - 0.03 || t > c.loudTo + 0.03;
      const double level = qev::test::Loudness(sound, size_t(t * 48000), size_t((t + 0.1) * 48000));
      if (loud) {
        EXPECT_NEAR(level, 0.5 / std::sqrt(2.0), 0.03) << "at " << t;
      }
      if (quiet) {
        EXPECT_LT(level, 0.005) << "at " << t;
      }
    }
  }
}

TEST(VideoFile, TargetsThatRefuseItLeaveNothingAndKeepTheOldFile) {
  TempDir dir;
  dir.WriteFile("garbage.wav", std::string(3000, '\x33'));
  dir.WriteFile("old.mp4", "old");
  dir.WriteFile("ro.mp4", "old");
  ASSERT_EQ(chmod(dir.Path("ro.mp4").c_str(), 0444), 0);
  ASSERT_EQ(symlink("/dev/full", dir.Path("full.mkv").c_str()), 0);
  ASSERT_EQ(mkdir(dir.Path("folder.mp4").c_str(), 0777), 0);
  struct Case {
    const char* target;
    int width, height;
    const char* music;
    int pictures;  // handed over, of 10 announced
    const char* why;
  };
  const Case cases[] = {
      {"odd.mp4", 65, 48, nullptr, 10, "an H.264 picture needs even sides, not 65x48"},
      {"old.mp4", 64, 48, "garbage.wav", 10, "garbage.wav: Invalid data found when processing input"},
      {"old.mp4", 64, 48, "missing.wav", 10, "missing.wav: No such file or directory"},
      {"old.mp4", 64, 48, nullptr, 7, "7 pictures of 10 came"},
      {"ro.mp4", 64, 48, nullptr, 10, "not writable (Permission denied)"},
      {"full.mkv", 64, 48, nullptr, 10, "write failed (No space left on device)"},
      {"no/such/out.mp4", 64, 48, nullptr, 10, "cannot create the file (No such file or directory)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    qev::test::LogCapture log;
    VideoOptions o = Options(c.width, c.height, 30, 10);
    if (c.music) o.music = dir.Path(c.music);
    std::string why;
    EXPECT_EQ(Record(dir.Path(c.target), o, &why, c.pictures), 0);
    EXPECT_NE(why.find(c.why), std::string::npos) << why;
    EXPECT_TRUE(log.Contains("video file " + dir.Path(c.target) + " not written: " + why + "\n")) << log.Text();
  }
  // a folder named like a video file is no file to write
  CVideoFile file(VideoContainer::kMp4);
  EXPECT_EQ(file.Open(dir.Path("folder.mp4"), Options(64, 48, 30, 1)), 0);
  EXPECT_EQ(file.Reason(), "a folder has that name (Is a directory)");
  EXPECT_EQ(dir.ReadFile("old.mp4"), "old");
  EXPECT_EQ(dir.ReadFile("ro.mp4"), "old");
  EXPECT_TRUE(OnlyInputs(dir, {"garbage.wav", "old.mp4", "ro.mp4", "full.mkv", "folder.mp4"}));
}

TEST(VideoFile, OldFileStaysUntilTheNewOneIsWhole) {
  TempDir dir;
  dir.WriteFile("out.mkv", "old");
  CVideoEncoder encoder;
  const VideoOptions o = Options(64, 48, 30, 20);
  ASSERT_EQ(encoder.Open(dir.Path("out.mkv"), o), 1);
  for (int n = 0; n < 20; ++n) {
    std::vector<uint32_t> p = Picture(64, 48, n);
    ASSERT_EQ(encoder.Push(&p), 1);
  }
  EXPECT_EQ(dir.ReadFile("out.mkv"), "old");
  ASSERT_EQ(encoder.Finish(), 1) << encoder.Reason();
  EXPECT_EQ(qev::test::ProbeMedia(dir.Path("out.mkv")).Find("video")->frames, 20);
  EXPECT_EQ(dir.List(), std::vector<std::string>{"out.mkv"});
}

TEST(VideoFile, FifoGetsAStreamThatNeverGoesBack) {
  for (const char* name : {"pipe.mp4", "pipe.mkv"}) {
    SCOPED_TRACE(name);
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.Path(name).c_str(), 0666), 0);
    std::string received;
    std::thread reader([&] {
      const int fd = open(dir.Path(name).c_str(), O_RDONLY);
      char buf[65536];
      ssize_t n;
      while (fd >= 0 && (n = read(fd, buf, sizeof buf)) > 0) received.append(buf, size_t(n));
      if (fd >= 0) close(fd);
    });
    VideoOptions o = Options(64, 48, 30, 40);
    std::string why;
    const int written = Record(dir.Path(name), o, &why);
    reader.join();
    ASSERT_EQ(written, 1) << why;
    const std::string copy = std::string("copy") + (name + 4);
    dir.WriteFile(copy, received);
    const qev::test::ProbedMedia media = qev::test::ProbeMedia(dir.Path(copy));
    ASSERT_TRUE(media.read);
    ASSERT_NE(media.Find("video"), nullptr);
    EXPECT_EQ(media.Find("video")->frames, 40);
  }
}

TEST(PngSequence, NumberedWholePicturesInAFolderItMakes) {
  TempDir dir;
  VideoOptions o = Options(33, 17, 60, 12);  // any sides will do
  o.music = dir.Path("ignored.wav");
  std::string why;
  ASSERT_EQ(Record(dir.Path("frames") + "/", o, &why), 1) << why;
  std::vector<std::string> names;
  for (int n = 0; n < 12; ++n) names.push_back(CPngSequence::PictureName(n));
  EXPECT_EQ(names.front(), "000000.png");
  std::vector<std::string> found;
  for (const auto& e : std::filesystem::directory_iterator(dir.Path("frames")))
    found.push_back(e.path().filename().string());
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, names);
  // Each picture is exactly the one handed over, made opaque.
  for (int n : {0, 5, 11}) {
    std::vector<uint32_t> p = Picture(33, 17, n);
    for (uint32_t& px : p) px |= 0xFF000000u;
    EXPECT_EQ(dir.ReadFile("frames/" + names[size_t(n)]),
              qev::EncodePicture(qev::PictureFileType::kPng, 33, 17, reinterpret_cast<const uint8_t*>(p.data())));
  }
  // an existing folder is written into as it is
  ASSERT_EQ(Record(dir.Path("frames"), Options(8, 8, 30, 2), &why), 1) << why;
}

TEST(PngSequence, FolderThatCannotBeMadeOrFilled) {
  TempDir dir;
  dir.WriteFile("file", "a file");
  ASSERT_EQ(mkdir(dir.Path("frames").c_str(), 0777), 0);
  ASSERT_EQ(mkdir(dir.Path("frames/000003.png").c_str(), 0777), 0);  // picture 3 cannot be written
  struct Case {
    std::string target;
    int pictures;
    const char* why;
  };
  const Case cases[] = {
      {dir.Path("file") + "/", 5, "the folder cannot be made (Not a directory)"},
      {dir.Path("no/such/frames/"), 5, "the folder cannot be made (No such file or directory)"},
      {dir.Path("frames/"), 5, "frames/000003.png: a folder has that name (Is a directory)"},
      {dir.Path("frames/"), 2, "2 pictures of 5 came"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    qev::test::LogCapture log;
    std::string why;
    EXPECT_EQ(Record(c.target, Options(8, 8, 30, 5), &why, c.pictures), 0);
    EXPECT_NE(why.find(c.why), std::string::npos) << why;
    EXPECT_FALSE(log.Lines().empty()) << "a failure is logged";
  }
}

}  // namespace
