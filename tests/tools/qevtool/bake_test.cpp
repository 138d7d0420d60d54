// `qevtool bake`, run as a user runs it: the file F9 writes for the same
// scene, the switches, failures and usage.
#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/scene.h"
#include "app/x_export.h"
#include "tests/common/temp_dir.h"
#include "tools/fixtures/pmd_fixture.h"
#include "tools/fixtures/vmd_fixture.h"

namespace {

qev::test::CommandRun Qevtool(const qev::test::TempDir& dir, const std::string& args) {
  return qev::test::RunIn(dir, "'" QEV_BINARY_DIR "/qevtool' " + args);
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

struct Files {
  qev::test::TempDir dir;
  Files() {
    dir.WriteFile("m.pmd", qev::fixture::BuildPmd(qev::fixture::SamplePmd()));
    dir.WriteFile("m.vmd", qev::fixture::BuildVmd(qev::fixture::SampleVmd()));
  }
  // What the viewer's F9 writes for the same files and switches.
  std::string Viewer(bool motion, int calcIK, bool physics) {
    CScene scene;
    scene.CalcIK = calcIK;
    std::string failure;
    EXPECT_EQ(scene.LoadModel(dir.Path("m.pmd").c_str(), nullptr, &failure), 1);
    if (!physics) scene.m_physics.Clear();
    if (motion) {
      EXPECT_EQ(scene.LoadMotion(dir.Path("m.vmd").c_str(), &failure), 1);
    }
    EXPECT_EQ(ExportXSkin(scene, dir.Path("viewer.x").c_str(), nullptr, &failure), 1);
    return dir.ReadFile("viewer.x");
  }
};

TEST(QevtoolBake, WritesWhatTheViewerWrites) {
  Files f;
  struct Case {
    const char* args;
    bool motion;
    int calcIK;
    bool physics;
  };
  const Case cases[] = {
      {"bake m.pmd -o out.x", false, 1, true},
      {"bake m.pmd m.vmd -o out.x", true, 1, true},
      {"bake -o out.x --no-ik m.pmd m.vmd", true, 0, true},
      {"bake m.pmd m.vmd --no-physics -o out.x", true, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const auto run = Qevtool(f.dir, c.args);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "") << "no progress bar when stderr is no terminal";
    const std::string text = f.dir.ReadFile("out.x");
    EXPECT_EQ(text, f.Viewer(c.motion, c.calcIK, c.physics));
    EXPECT_EQ(Has(text, "AnimationSet default {\r\n"), c.motion);
  }
  // IK changes what the legs do
  EXPECT_NE(f.Viewer(true, 1, true), f.Viewer(true, 0, true));
}

TEST(QevtoolBake, FailuresAndUsage) {
  Files f;
  f.dir.WriteFile("bad.pmd", "Pmd");
  f.dir.WriteFile("bad.vmd", "not a motion");
  f.dir.WriteFile("keep.x", "old");
  struct Case {
    const char* args;
    int status;
    const char* err;
  };
  const Case cases[] = {
      {"bake missing.pmd -o keep.x", 1, ": No such file or directory\n"},
      {"bake bad.pmd -o keep.x", 1, "qevtool bake: bad.pmd: "},
      {"bake m.pmd missing.vmd -o keep.x", 1, "qevtool bake: missing.vmd: "},
      {"bake m.pmd bad.vmd -o keep.x", 1, "qevtool bake: bad.vmd: "},
      {"bake m.pmd m.vmd -o gone/out.x", 1, "qevtool bake: gone/out.x: cannot create the file"},
      {"bake m.pmd", 2,
       "usage: qevtool bake MODEL [MOTION.vmd] [--no-ik] [--no-physics] [--max-frames N]\n"
       "                    -o OUT.x|OUT.glb|OUT.gltf\n"},
      {"bake m.pmd m.vmd -o gone/out.glb", 1, "qevtool bake: gone/out.glb: cannot create the file"},
      {"bake m.pmd m.vmd --max-frames 40 -o out.gltf", 1,
       "qevtool bake: out.gltf: the motion is 41 frames long, more than the limit of 40 frames\n"},
      {"bake m.pmd m.vmd -o keep.x --max-frames", 2, "--max-frames wants a whole number of frames from 1 on"},
      {"bake m.pmd m.vmd --max-frames 0 -o keep.x", 2, "--max-frames wants a whole number"},
      {"bake m.pmd m.vmd --max-frames -5 -o keep.x", 2, "--max-frames wants a whole number"},
      {"bake m.pmd m.vmd --max-frames +5 -o keep.x", 2, "--max-frames wants a whole number"},
      {"bake m.pmd m.vmd --max-frames 12x -o keep.x", 2, "--max-frames wants a whole number"},
      {"bake m.pmd m.vmd --max-frames 99999999999999999999 -o keep.x", 2, "--max-frames wants a whole number"},
      {"bake m.pmd m.vmd m.vmd -o keep.x", 2, "more than a model and a motion"},
      {"bake m.pmd --fast -o keep.x", 2, "unknown option '--fast'"},
  };
  for (const Case& c : cases) {
    const auto run = Qevtool(f.dir, c.args);
    EXPECT_EQ(run.status, c.status) << c.args << "\n" << run.err;
    EXPECT_TRUE(Has(run.err, c.err)) << c.args << "\n" << run.err;
  }
  // the viewer's message and the reason behind it
  const auto missing = Qevtool(f.dir, "bake missing.pmd -o keep.x");
  EXPECT_EQ(missing.err.rfind("qevtool bake: missing.pmd: ", 0), 0u) << missing.err;
  EXPECT_TRUE(Has(missing.err, "No such file or directory\n")) << missing.err;
  EXPECT_EQ(f.dir.ReadFile("keep.x"), "old");
  const auto help = Qevtool(f.dir, "bake --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(Has(help.out, "--no-physics")) << help.out;
}

// A motion of one key, at the given frame.
std::string OneKeyAt(uint32_t frame) {
  qev::fixture::VmdDesc motion;
  qev::fixture::VmdBoneKeyDesc key;
  key.name = qev::fixture::SamplePmd().bones[0].name;
  key.frame = frame;
  motion.bones = {key};
  return qev::fixture::BuildVmd(motion);
}

TEST(QevtoolBake, LongMotionsAreRefusedBeforeTheyPlay) {
  // Played, the first would take minutes and the others terabytes.
  Files f;
  qev::fixture::PmdDesc empty;  // no vertices, no bones: the bake writes no keys
  empty.name = "empty";
  f.dir.WriteFile("empty.pmd", qev::fixture::BuildPmd(empty));
  f.dir.WriteFile("last.vmd", OneKeyAt(2147483647u));
  f.dir.WriteFile("million.vmd", OneKeyAt(1000000u));
  f.dir.WriteFile("long.vmd", OneKeyAt(2000000000u));
  f.dir.WriteFile("keep.x", "old");
  struct statvfs fs {};
  ASSERT_EQ(::statvfs(f.dir.Path().c_str(), &fs), 0);
  // the sample's keys: 2,000,000,000 frames of 156 bytes at least per bone
  const bool diskTooSmall =
      double(fs.f_bavail) * double(fs.f_frsize) < 2e9 * 156.0 * double(qev::fixture::SamplePmd().bones.size());
  struct Case {
    const char* args;
    const char* err;
  };
  const Case cases[] = {
      {"bake empty.pmd last.vmd -o keep.x",
       "qevtool bake: keep.x: the motion is 2147483648 frames long, more than the limit of 1000000 frames\n"},
      {"bake m.pmd million.vmd -o keep.x",
       "qevtool bake: keep.x: the motion is 1000001 frames long, more than the limit of 1000000 frames\n"},
      {"bake m.pmd long.vmd --max-frames 3000000000 -o keep.x", "qevtool bake: keep.x: the file needs at least "},
      // a device takes no space: the keys in memory are what is too much
      {"bake m.pmd long.vmd --max-frames 3000000000 -o /dev/null", "qevtool bake: /dev/null: the bake needs "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    if (!diskTooSmall && Has(c.err, "file needs")) continue;
    const auto run = Qevtool(f.dir, c.args);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.rfind(c.err, 0), 0u) << run.err;
    EXPECT_EQ(f.dir.ReadFile("keep.x"), "old");
    EXPECT_EQ(f.dir.List(),
              (std::vector<std::string>{"empty.pmd", "keep.x", "last.vmd", "long.vmd", "m.pmd", "m.vmd", "million.vmd",
                                        "stderr.txt"}))
        << "nothing written beside the old file";
  }
}

TEST(QevtoolBake, MaxFramesRaisesTheLimit) {
  // the sample motion's last key is at frame 40: 41 frames from 0
  Files f;
  f.dir.WriteFile("keep.x", "old");
  const auto refused = Qevtool(f.dir, "bake m.pmd m.vmd --max-frames 40 -o keep.x");
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "qevtool bake: keep.x: the motion is 41 frames long, more than the limit of 40 frames\n");
  EXPECT_EQ(f.dir.ReadFile("keep.x"), "old");
  const auto written = Qevtool(f.dir, "bake m.pmd m.vmd --max-frames 41 -o keep.x");
  ASSERT_EQ(written.status, 0) << written.err;
  EXPECT_EQ(f.dir.ReadFile("keep.x"), f.Viewer(true, 1, true));
}

TEST(QevtoolBake, ProgressBarOnATerminal) {
  Files f;
  // script(1) gives the tool a terminal for its stderr
  const auto run = qev::test::RunIn(
      f.dir, "script -qec \"'" QEV_BINARY_DIR "/qevtool' bake m.pmd m.vmd -o out.x\" /dev/null");
  if (run.status == 127) GTEST_SKIP() << "no script(1) on this machine";
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_TRUE(Has(run.out, "\rbaking frame 40/40 [########################################]")) << run.out;
}

}  // namespace
