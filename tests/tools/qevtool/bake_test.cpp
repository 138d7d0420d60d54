// `qevtool bake`, run as a user runs it: the file F9 writes for the same
// scene, the switches, failures and usage.
#include <gtest/gtest.h>

#include <string>

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
      {"bake m.pmd", 2, "usage: qevtool bake MODEL.pmd [MOTION.vmd] [--no-ik] [--no-physics] -o OUT.x"},
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

TEST(QevtoolBake, AMotionTooLongForMemoryIsRefusedBeforeItPlays) {
  Files f;
  // one key at frame 2,000,000,000: keys for every bone of every frame would
  // take terabytes
  qev::fixture::VmdDesc motion;
  qev::fixture::VmdBoneKeyDesc key;
  key.name = qev::fixture::SamplePmd().bones[0].name;
  key.frame = 2000000000u;
  motion.bones = {key};
  f.dir.WriteFile("long.vmd", qev::fixture::BuildVmd(motion));
  f.dir.WriteFile("keep.x", "old");
  const auto run = Qevtool(f.dir, "bake m.pmd long.vmd -o keep.x");
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Has(run.err, "qevtool bake: keep.x: the baked keys need ")) << run.err;
  EXPECT_TRUE(Has(run.err, " MiB, more than half the memory\n")) << run.err;
  EXPECT_EQ(f.dir.ReadFile("keep.x"), "old");
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
