// `qevtool video`, run as a user runs it on the sample character: files that
// FFmpeg's own reader finds with the right frames, size, rate, length and
// sound; pictures byte for byte those of `qevtool render`, at half frames
// at 60 a second; a run stopped by a signal leaves nothing; failures and bad
// usage told apart.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/picture_decoder.h"
#include "tests/common/child_process.h"
#include "tests/common/media.h"
#include "tests/common/temp_dir.h"
#include "tools/fixtures/sound_fixture.h"
#include "tools/fixtures/sample_character.h"

namespace {

using qev::test::TempDir;

qev::test::CommandRun Qevtool(const TempDir& dir, const std::string& args) {
  return qev::test::RunIn(dir, "'" QEV_BINARY_DIR "/qevtool' " + args);
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The sample character and, as music, a tone that starts after a third of
// a second (ten frames) of silence, four seconds long.
void WriteSample(const TempDir& dir) {
  std::string error;
  ASSERT_EQ(qev::fixture::WriteSampleCharacter(dir.Path(), &error), 1) << error;
  dir.WriteFile("tone.wav", qev::fixture::BuildWav(48000, 1, qev::test::QuietThenTone(48000, 1, 4.0, 10.0 / 30.0)));
}

TEST(QevtoolVideo, SampleWalkIsReadBackWithItsFramesSizeRateLengthAndSound) {
  TempDir dir;
  WriteSample(dir);
  struct Case {
    std::string args;
    const char* file;
    int width, height, fps, frames;
    bool sound;
    bool loudAtOnce;  // the tone's silence was cut off by --from
  };
  const Case cases[] = {
      {"--size 320x200", "walk.mp4", 320, 200, 30, 60, false, false},
      {"--fps 60 --size 160x100", "walk60.mkv", 160, 100, 60, 120, false, false},
      {"--from 10 --to 39 --audio tone.wav --size 160x100", "part.mp4", 160, 100, 30, 30, true, true},
      {"--to 29 --audio tone.wav --size 160x100", "start.mkv", 160, 100, 30, 30, true, false},
      {"--to 29 --audio tone.wav --audio-offset -10 --size 160x100", "early.mp4", 160, 100, 30, 30, true, true},
      {"--fps 60 --from 40 --audio tone.wav --size 160x100", "end.mp4", 160, 100, 60, 40, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const auto run = Qevtool(dir, "video sample.pmd walk.vmd " + c.args + " -o " + c.file);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "") << "nothing said when stderr is no terminal";
    const qev::test::ProbedMedia media = qev::test::ProbeMedia(dir.Path(c.file));
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
    EXPECT_EQ(audio != nullptr, c.sound);
    // an MP4 says each stream's length; Matroska starts both streams after
    // the AAC encoder's priming of 1024 samples
    const bool mp4 = std::string(c.file).ends_with(".mp4");
    EXPECT_NEAR(media.duration, seconds + (audio && !mp4 ? 1024.0 / 48000 : 0.0), 0.5 / c.fps);
    if (mp4) {
      EXPECT_NEAR(video->duration, seconds, 1e-6);
      // FFmpeg's AAC encoder gives the last packet a few dozen samples
      // short of what it was handed (its own command line does the same)
      if (audio) {
        EXPECT_NEAR(audio->duration, seconds, 64.0 / 48000);
      }
    }
    if (!audio) continue;
    EXPECT_EQ(audio->codec, "aac");
    EXPECT_EQ(audio->sampleRate, 48000);
    // decoded: the span, then what fills the last AAC frame (and the priming)
    const std::vector<int16_t> sound = qev::test::DecodeSound(dir.Path(c.file));
    EXPECT_GE(sound.size(), size_t(std::lround(seconds * 48000)));
    EXPECT_LT(sound.size(), size_t(std::lround(seconds * 48000)) + (mp4 ? 1024 : 2048));
    // The tone from the start when the span starts after its silence; else
    // silence for the first third of a second.
    const double opening = qev::test::Loudness(sound, 2400, 12000);  // 0.05 to 0.25 s
    const double later = qev::test::Loudness(sound, 18000, 24000);   // 0.375 to 0.5 s
    if (c.loudAtOnce) {
      EXPECT_GT(opening, 0.3);
    } else {
      EXPECT_LT(opening, 0.005);
    }
    EXPECT_GT(later, 0.3);
  }
}

TEST(QevtoolVideo, PicturesAreThoseOfRenderAndHalfFramesAt60) {
  TempDir dir;
  WriteSample(dir);
  const std::string common = "sample.pmd --size 160x100 --solid";
  ASSERT_EQ(Qevtool(dir, "video sample.pmd walk.vmd --size 160x100 --solid -o all/").status, 0);
  ASSERT_EQ(Qevtool(dir, "video sample.pmd walk.vmd --size 160x100 --solid --from 20 --to 25 -o part/").status, 0);
  ASSERT_EQ(Qevtool(dir, "video sample.pmd walk.vmd --size 160x100 --solid --fps 60 --no-physics -o half/").status, 0);
  ASSERT_EQ(Qevtool(dir, "video sample.pmd walk.vmd --size 160x100 --solid --camera camera.vmd --from 5 --to 8 -o cam/")
                .status,
            0);
  ASSERT_EQ(Qevtool(dir, "video sample.pmd walk.vmd --size 320x200 --solid --hud --from 40 --to 41 -o hud/").status, 0);
  ASSERT_EQ(Qevtool(dir, "video sample.pmx walk.vmd --size 160x100 --solid --from 20 --to 25 -o pmx/").status, 0);
  // The folder's names: exactly 000000.png to the count's.
  auto count = [&](const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path(folder)))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    for (size_t i = 0; i < names.size(); ++i) {
      char expected[32];
      std::snprintf(expected, sizeof expected, "%06zu.png", i);
      if (names[i] != expected) return -1;
    }
    return int(names.size());
  };
  EXPECT_EQ(count("all"), 60);
  EXPECT_EQ(count("part"), 6);
  EXPECT_EQ(count("half"), 120);
  EXPECT_EQ(count("cam"), 4);
  EXPECT_EQ(count("pmx"), 6);
  auto picture = [&](const std::string& folder, int n) {
    char name[32];
    std::snprintf(name, sizeof name, "/%06d.png", n);
    return dir.ReadFile(folder + name);
  };
  auto render = [&](int frame, const char* extra) {
    const auto run = Qevtool(dir, "render " + common + " --motion walk.vmd --frame " + std::to_string(frame) + extra +
                                      " -o r.png");
    EXPECT_EQ(run.status, 0) << run.err;
    return dir.ReadFile("r.png");
  };
  // with the physics of playback: the ponytail swings alike
  for (int frame : {0, 1, 33, 59}) EXPECT_EQ(picture("all", frame), render(frame, "")) << "frame " << frame;
  EXPECT_EQ(picture("part", 0), render(20, ""));
  EXPECT_EQ(picture("part", 5), render(25, ""));
  // the camera motion's view at the motion's frame
  EXPECT_EQ(picture("cam", 0), render(5, " --camera camera.vmd"));
  EXPECT_EQ(picture("cam", 3), render(8, " --camera camera.vmd"));
  EXPECT_NE(picture("cam", 0), picture("all", 5)) << "the camera moved the view";
  // the PMX twin as render draws it, physics played from frame 0 alike
  for (int frame : {20, 25}) {
    const auto run = Qevtool(dir, "render sample.pmx --size 160x100 --solid --motion walk.vmd --frame " +
                                      std::to_string(frame) + " -o x.png");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(picture("pmx", frame - 20), dir.ReadFile("x.png")) << "PMX frame " << frame;
  }
  // the timeline as render draws it, its counter at the motion's frame
  const std::string hud = "render sample.pmd --motion walk.vmd --size 320x200 --solid --hud -o h.png --frame ";
  ASSERT_EQ(Qevtool(dir, hud + "41").status, 0);
  EXPECT_EQ(picture("hud", 1), dir.ReadFile("h.png"));
  EXPECT_NE(picture("hud", 0), dir.ReadFile("h.png"));
  // at 60 a second every other picture is a whole frame, and those between
  // are sampled between them
  for (int frame : {0, 7, 59}) EXPECT_EQ(picture("half", 2 * frame), render(frame, " --no-physics")) << frame;
  for (int frame : {3, 40}) {
    SCOPED_TRACE(frame);
    const std::string between = picture("half", 2 * frame + 1);
    EXPECT_NE(between, picture("half", 2 * frame));
    EXPECT_NE(between, picture("half", 2 * frame + 2));
  }
}

TEST(QevtoolVideo, FirstAndLastPicturesOfTheVideoLookLikeRender) {
  TempDir dir;
  WriteSample(dir);
  ASSERT_EQ(Qevtool(dir, "video sample.pmd walk.vmd --size 320x200 --solid -o walk.mp4").status, 0);
  for (int frame : {0, 59}) {
    SCOPED_TRACE(frame);
    ASSERT_EQ(Qevtool(dir, "render sample.pmd --motion walk.vmd --size 320x200 --solid --frame " +
                               std::to_string(frame) + " -o r.png")
                  .status,
              0);
    ASSERT_TRUE(qev::test::ExtractPicture(dir.Path("walk.mp4"), frame, dir.Path("v.png")));
    // H.264 at this quality and half-size colour planes: close on average;
    // only the colour of thin lines and edges spreads farther.
    qev::test::PictureDistance distance;
    ASSERT_TRUE(qev::test::ComparePictures(dir.Path("r.png"), dir.Path("v.png"), &distance));
    EXPECT_LT(distance.mean, 3.0);
    EXPECT_LT(distance.farShare, 0.02);
  }
}

// A run stopped by a signal once it is writing: a video file's temporary file
// goes and the old file stays; a folder keeps whole pictures only.
TEST(QevtoolVideo, InterruptedRunLeavesNothing) {
  // The walk with a last key far away: about eleven minutes of video.
  qev::fixture::VmdDesc motion = qev::fixture::SampleWalk();
  qev::fixture::VmdBoneKeyDesc last = motion.bones.front();
  last.frame = 20000;
  motion.bones.push_back(last);
  struct Case {
    int sig;
    const char* target;
  };
  const Case cases[] = {{SIGINT, "keep.mp4"}, {SIGTERM, "keep.mkv"}, {SIGHUP, "frames/"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    TempDir dir;
    WriteSample(dir);
    dir.WriteFile("long.vmd", qev::fixture::BuildVmd(motion));
    dir.WriteFile("keep.mp4", "old");
    dir.WriteFile("keep.mkv", "old");
    const std::vector<std::string> files = dir.List();
    // with music into a video file; a folder takes none
    std::vector<std::string> args = {"video", "sample.pmd", "long.vmd", "--size", "320x200", "-o", c.target};
    if (c.target[std::strlen(c.target) - 1] != '/') args.insert(args.end(), {"--audio", "tone.wav"});
    const pid_t tool = qev::test::StartTool(dir.Path(), args);
    ASSERT_NE(tool, -1);
    // caught once pictures are being written: a temporary file that has
    // grown, or the third picture in the folder
    const qev::test::Interrupted run = qev::test::InterruptAtWork(tool, c.sig, [&] {
      for (const std::string& name : dir.List()) {
        std::error_code gone;  // a temporary file may be renamed between the two looks
        if (name[0] == '.' && std::filesystem::file_size(dir.Path(name), gone) > 0 && !gone) return true;
      }
      return std::ifstream(dir.Path("frames/000002.png")).good();
    });
    EXPECT_TRUE(run.caughtAtWork) << "the video ended or never began: " << run.status;
    EXPECT_TRUE(WIFSIGNALED(run.status)) << run.status;
    EXPECT_EQ(WTERMSIG(run.status), c.sig);
    EXPECT_EQ(dir.ReadFile("keep.mp4"), "old");
    EXPECT_EQ(dir.ReadFile("keep.mkv"), "old");
    std::vector<std::string> now = dir.List();
    if (c.target[0] == 'f') {
      ASSERT_EQ(now.size(), files.size() + 1);
      int whole = 0;
      for (const auto& e : std::filesystem::directory_iterator(dir.Path("frames"))) {
        const std::string name = e.path().filename().string();
        EXPECT_NE(name[0], '.') << "a temporary picture is left";
        const std::string bytes = dir.ReadFile("frames/" + name);
        qev::DecodedPicture p;
        EXPECT_EQ(qev::DecodePicture(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                                     qev::PictureFormats::kTextureFiles, p),
                  1)
            << name;
        ++whole;
      }
      EXPECT_GE(whole, 3);
      now.erase(std::find(now.begin(), now.end(), "frames"));
    }
    EXPECT_EQ(now, files);
  }
}

TEST(QevtoolVideo, FailuresAndUsage) {
  TempDir dir;
  WriteSample(dir);
  dir.WriteFile("bad.wav", "RIFF\x10\0\0\0WAVEjunkjunkjunkjunk");
  dir.WriteFile("keep.mp4", "old");
  dir.WriteFile("ro.mp4", "old");
  ASSERT_EQ(chmod(dir.Path("ro.mp4").c_str(), 0444), 0);
  struct Case {
    std::string args;
    int status;
    std::string err;  // a part of stderr
  };
  const Case cases[] = {
      {"video missing.pmd walk.vmd -o out.mp4", 1, "qevtool video: missing.pmd: "},
      {"video sample.pmd missing.vmd -o out.mp4", 1, "qevtool video: missing.vmd: "},
      {"video sample.pmd walk.vmd --audio bad.wav -o keep.mp4", 1, "qevtool video: keep.mp4: "},
      {"video sample.pmd walk.vmd --audio missing.wav -o out.mp4", 1,
       "qevtool video: out.mp4: missing.wav: No such file or directory"},
      {"video sample.pmd walk.vmd --to 60 -o out.mp4", 1, "qevtool video: --to 60 is past the motion's last frame 59"},
      {"video sample.pmd walk.vmd --from 70 -o out.mp4", 1, "qevtool video: --from 70 is past the motion's last frame 59"},
      {"video sample.pmd walk.vmd --max-frames 59 -o out.mp4", 1,
       "qevtool video: out.mp4: the motion is 60 frames long, more than the limit of 59 frames"},
      {"video sample.pmd walk.vmd --to 30 --max-frames 31 -o out.mp4", 0, ""},
      {"video sample.pmd walk.vmd --camera missing.vmd -o out.mp4", 1, "qevtool video: missing.vmd: "},
      {"video sample.pmd walk.vmd --camera walk.vmd -o out.mp4", 1, "not a camera motion"},
      {"video sample.pmd camera.vmd -o out.mp4", 1, "qevtool video: camera.vmd: "},
      {"video sample.pmd walk.vmd -o ro.mp4", 1, "qevtool video: ro.mp4: not writable (Permission denied)\n"},
      {"video sample.pmd walk.vmd -o no/such/out.mp4", 1, "qevtool video: no/such/out.mp4: cannot create the file"},
      {"video sample.pmd walk.vmd -o no/such/frames/", 1, "qevtool video: no/such/frames/: the folder cannot be made"},
      {"video sample.pmd walk.vmd", 2, "no output (-o OUT.mp4, OUT.mkv or FOLDER/)"},
      {"video sample.pmd -o out.mp4", 2, "no motion given"},
      {"video -o out.mp4", 2, "no model given"},
      {"video sample.pmd walk.vmd pose.vpd -o out.mp4", 2, "more than a model and a motion given"},
      {"video sample.pmd walk.vmd -o out.avi", 2, "'out.avi' is no .mp4 or .mkv file nor a folder (FOLDER/)"},
      {"video sample.pmd walk.vmd --audio tone.wav -o frames/", 2, "--audio needs a video file, not a folder"},
      {"video sample.pmd walk.vmd --size 321x200 -o out.mp4", 2, "a video file's sides must be even"},
      {"video sample.pmd walk.vmd --size 0x200 -o out.mp4", 2, "--size takes WxH, each side from 1 to 4096"},
      {"video sample.pmd walk.vmd --fps 24 -o out.mp4", 2, "--fps takes 30 or 60"},
      {"video sample.pmd walk.vmd --fps -o out.mp4", 2, "--fps takes 30 or 60"},
      {"video sample.pmd walk.vmd --from 20 --to 10 -o out.mp4", 2, "--from is after --to"},
      {"video sample.pmd walk.vmd --from -1 -o out.mp4", 2, "--from takes a whole number from 0 to 2147483646"},
      {"video sample.pmd walk.vmd --to 2147483647 -o out.mp4", 2, "--to takes a whole number from 0 to 2147483646"},
      {"video sample.pmd walk.vmd --max-frames 0 -o out.mp4", 2, "--max-frames takes a whole number of frames from 1"},
      {"video sample.pmd walk.vmd --physics-substeps 17 -o out.mp4", 2, "--physics-substeps"},
      {"video sample.pmd walk.vmd --camera a.vmd --camera b.vmd -o out.mp4", 2, "--camera given twice"},
      {"video sample.pmd walk.vmd --to", 2, "--to takes a whole number"},
      {"video sample.pmd walk.vmd --audio a.wav --audio b.wav -o out.mp4", 2, "--audio given twice"},
      {"video sample.pmd walk.vmd --audio-offset 5 -o out.mp4", 2, "--audio-offset needs --audio"},
      {"video sample.pmd walk.vmd --audio tone.wav --audio-offset 100001 -o out.mp4", 2,
       "--audio-offset takes a whole number of frames from -100000 to 100000"},
      {"video sample.pmd walk.vmd --audio tone.wav --audio-offset 1x -o out.mp4", 2, "--audio-offset takes"},
      {"video sample.pmd walk.vmd -o a.mp4 -o b.mp4", 2, "-o given twice"},
      {"video sample.pmd walk.vmd --frame 3 -o out.mp4", 2, "unknown option '--frame'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const auto run = Qevtool(dir, c.args);
    EXPECT_EQ(run.status, c.status);
    EXPECT_TRUE(Has(run.err, c.err)) << run.err;
    EXPECT_EQ(Has(run.err, "usage: qevtool video MODEL MOTION"), c.status == 2) << run.err;
  }
  EXPECT_EQ(dir.ReadFile("keep.mp4"), "old") << "a failed video leaves the old file";
  EXPECT_EQ(dir.ReadFile("ro.mp4"), "old");
  for (const std::string& name : dir.List()) {
    EXPECT_NE(name, "frames");
    EXPECT_NE(name[0], '.') << name;
  }
  // out.mp4 is there once, from the run the limit let through: 31 frames
  const qev::test::ProbedMedia allowed = qev::test::ProbeMedia(dir.Path("out.mp4"));
  ASSERT_NE(allowed.Find("video"), nullptr);
  EXPECT_EQ(allowed.Find("video")->frames, 31);
  const auto help = Qevtool(dir, "video --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(Has(help.out, "usage: qevtool video MODEL MOTION"));
}

}  // namespace
