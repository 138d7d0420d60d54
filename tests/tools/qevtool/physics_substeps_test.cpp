// --physics-substeps of `qevtool pose`, `render` and `bake`, run as a user
// runs them: the count reaches the scene (the same result as the viewer
// with that count), bad counts are bad usage.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/scene.h"
#include "app/x_export.h"
#include "tests/common/temp_dir.h"
#include "tools/fixtures/sample_character.h"

namespace {

using qev::test::TempDir;

qev::test::CommandRun Qevtool(const TempDir& dir, const std::string& args) {
  return qev::test::RunIn(dir, "'" QEV_BINARY_DIR "/qevtool' " + args);
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

struct Sample {
  TempDir dir;
  Sample() {
    std::string error;
    EXPECT_EQ(qev::fixture::WriteSampleCharacter(dir.Path(), &error), 1) << error;
  }
  // What the viewer's F9 writes for the sample walking, with a sub-step count.
  std::string ViewerBake(int substeps) {
    CScene scene;
    scene.m_physics.SetSubsteps(substeps);
    std::string failure;
    EXPECT_EQ(scene.LoadModel(dir.Path("sample.pmd").c_str(), nullptr, &failure), 1);
    EXPECT_EQ(scene.LoadMotion(dir.Path("walk.vmd").c_str(), &failure), 1);
    EXPECT_EQ(ExportXSkin(scene, dir.Path("viewer.x").c_str(), nullptr, &failure), 1);
    return dir.ReadFile("viewer.x");
  }
};

TEST(QevtoolPhysicsSubsteps, BadCountsAreBadUsage) {
  Sample s;
  const std::string kRange = "--physics-substeps takes a whole number from 1 to 16, not ";
  struct Case {
    const char* args;
    std::string error;
  } cases[] = {
      {"0", kRange + "'0'"},   {"17", kRange + "'17'"}, {"-2", kRange + "'-2'"},
      {"4x", kRange + "'4x'"}, {"''", kRange + "''"},   {"99999999999999999999", kRange + "'99999999999999999999'"},
  };
  for (const char* command : {"pose", "render", "bake"}) {
    const std::string tail = std::string(command) == "pose" ? "" : " -o out";
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(command) + " " + c.args);
      const auto run = Qevtool(s.dir, std::string(command) + " sample.pmd --physics-substeps " + c.args + tail);
      EXPECT_EQ(run.status, 2);
      EXPECT_EQ(FirstLine(run.err), "qevtool " + std::string(command) + ": " + c.error);
      EXPECT_EQ(run.out, "");
    }
    const auto missing = Qevtool(s.dir, std::string(command) + " sample.pmd --physics-substeps");
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(FirstLine(missing.err), "qevtool " + std::string(command) + ": --physics-substeps needs a count");
  }
  for (const std::string& name : s.dir.List()) EXPECT_NE(name, "out");  // nothing written
}

TEST(QevtoolPhysicsSubsteps, TheCountReachesTheScene) {
  Sample s;
  // The hair swings differently with another count; the default is 4.
  const std::string walk = "pose sample.pmd --motion walk.vmd --frame 45";
  const auto byDefault = Qevtool(s.dir, walk);
  const auto four = Qevtool(s.dir, walk + " --physics-substeps 4");
  const auto one = Qevtool(s.dir, "pose --physics-substeps 1 sample.pmd --motion walk.vmd --frame 45");
  ASSERT_EQ(byDefault.status, 0) << byDefault.err;
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_EQ(four.out, byDefault.out);
  EXPECT_NE(one.out, four.out);

  // bake writes what F9 writes with the same count
  const auto baked = Qevtool(s.dir, "bake sample.pmd walk.vmd --physics-substeps 1 -o one.x");
  ASSERT_EQ(baked.status, 0) << baked.err;
  const auto bakedDefault = Qevtool(s.dir, "bake sample.pmd walk.vmd -o four.x");
  ASSERT_EQ(bakedDefault.status, 0) << bakedDefault.err;
  EXPECT_EQ(s.dir.ReadFile("one.x"), s.ViewerBake(1));
  EXPECT_EQ(s.dir.ReadFile("four.x"), s.ViewerBake(4));
  EXPECT_NE(s.dir.ReadFile("one.x"), s.dir.ReadFile("four.x"));
}

}  // namespace
