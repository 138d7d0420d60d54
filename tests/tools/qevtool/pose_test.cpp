// `qevtool pose`, run as a user runs it: the posed heads of fixture models
// and of the sample character (pose, IK on and off, motion frames and the
// wrap), the bones the skeleton leaves out, failures and usage.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>

#include "tests/common/temp_dir.h"
#include "tests/tools/qevtool/posed_models.h"
#include "tools/fixtures/sample_character.h"

namespace {

using qev::test::TempDir;

qev::test::CommandRun Qevtool(const TempDir& dir, const std::string& args) {
  return qev::test::RunIn(dir, "'" QEV_BINARY_DIR "/qevtool' " + args);
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

struct Head {
  int index;
  float x, y, z;
};

// The printed lines by bone name; every line must have the five fields.
std::map<std::string, Head> Heads(const std::string& out) {
  std::map<std::string, Head> heads;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    Head h{};
    char name[256];
    EXPECT_EQ(std::sscanf(line.c_str(), "%d\t%255[^\t]\t%f\t%f\t%f", &h.index, name, &h.x, &h.y, &h.z), 5) << line;
    heads[name] = h;
  }
  return heads;
}

TEST(QevtoolPose, TwoBoneBoxPrintsEveryHead) {
  TempDir dir;
  dir.WriteFile("box.pmd", qev::fixture::BuildPmd(qev::test::TwoBoneBox()));
  dir.WriteFile("quarter.vpd", qev::fixture::BuildVpd(qev::test::TurnUpper(1.5707964f)));
  dir.WriteFile("turn.vmd", qev::fixture::BuildVmd(qev::test::TurnUpperMotion()));
  // The exact text of the bind pose.
  const auto bind = Qevtool(dir, "pose box.pmd");
  EXPECT_EQ(bind.status, 0) << bind.err;
  EXPECT_EQ(bind.err, "");
  EXPECT_EQ(bind.out,
            "0\t下\t0.000000\t2.000000\t0.000000\n"
            "1\t上\t0.000000\t7.000000\t0.000000\n"
            "2\t先\t0.000000\t12.000000\t0.000000\n");
  // Only the tip moves: upright at (0, 12, 0), turned at (-5, 7, 0). The
  // motion's curve starts a hair's breadth off its key (the easing at t = 0
  // is near 0, not 0), hence the tolerance.
  struct Case {
    std::string args;
    bool turned;
  };
  const Case cases[] = {
      {"box.pmd --pose quarter.vpd", true},
      {"--no-ik box.pmd --pose quarter.vpd", true},
      {"box.pmd --motion turn.vmd", false},
      {"box.pmd --motion turn.vmd --frame 0", false},
      {"box.pmd --motion turn.vmd --frame 10", true},
      {"box.pmd --motion turn.vmd --frame 19", true},
      {"box.pmd --motion turn.vmd --frame 20", false},  // frame 20 is never shown
      {"box.pmd --motion turn.vmd --frame 30", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const auto run = Qevtool(dir, "pose " + c.args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const auto heads = Heads(run.out);
    ASSERT_EQ(heads.size(), 3u) << run.out;
    EXPECT_EQ(heads.at("下").index, 0);
    EXPECT_EQ(heads.at("上").index, 1);
    EXPECT_EQ(heads.at("先").index, 2);
    EXPECT_NEAR(heads.at("下").y, 2.0f, 1e-5f);
    EXPECT_NEAR(heads.at("上").y, 7.0f, 1e-5f);
    const Head tip = heads.at("先");
    EXPECT_NEAR(tip.x, c.turned ? -5.0f : 0.0f, 1e-3f);
    EXPECT_NEAR(tip.y, c.turned ? 7.0f : 12.0f, 1e-3f);
    EXPECT_NEAR(tip.z, 0.0f, 1e-5f);
  }
  // Half way through the turn: the tip on the circle about the upper head.
  const auto half = Heads(Qevtool(dir, "pose box.pmd --motion turn.vmd --frame 5").out);
  ASSERT_EQ(half.count("先"), 1u);
  const Head tip = half.at("先");
  EXPECT_NEAR(std::hypot(tip.x, tip.y - 7), 5.0f, 1e-4f);
  EXPECT_LT(tip.x, -0.5f);
  EXPECT_GT(tip.x, -4.5f);
}

TEST(QevtoolPose, SampleCharacterReachesForItsIkGoalsAndLeavesOutGoalsAndSharedEye) {
  TempDir dir;
  std::string error;
  ASSERT_EQ(qev::fixture::WriteSampleCharacter(dir.Path(), &error), 1) << error;
  const auto bind = Qevtool(dir, "pose sample.pmd");
  ASSERT_EQ(bind.status, 0) << bind.err;
  const auto heads = Heads(bind.out);
  for (const char* out : {"両目", "右足ＩＫ", "左足ＩＫ", "右つま先ＩＫ", "左つま先ＩＫ"}) EXPECT_EQ(heads.count(out), 0u) << out;
  for (const char* in : {"センター", "頭", "右目", "左目", "右ひざ", "左足首", "髪3"}) EXPECT_EQ(heads.count(in), 1u) << in;
  // The bind pose: the heads as the file has them, z mirrored.
  EXPECT_NEAR(heads.at("右足首").x, -1.0f, 1e-5f);
  EXPECT_NEAR(heads.at("右足首").y, 1.1f, 1e-5f);
  EXPECT_NEAR(heads.at("右足首").z, -0.15f, 1e-5f);
  EXPECT_NEAR(heads.at("右目").z, 1.1f, 1e-5f);

  // The pose lifts the right leg goal by 3 and brings it 1.5 forward (the
  // viewer's +z): with IK the ankle follows it, the knee comes forward; the
  // raised arm's wrist goes above the shoulder.
  const auto posed = Heads(Qevtool(dir, "pose sample.pmd --pose pose.vpd").out);
  const auto noIk = Heads(Qevtool(dir, "pose sample.pmd --pose pose.vpd --no-ik").out);
  ASSERT_EQ(posed.count("右足首"), 1u);
  ASSERT_EQ(noIk.count("右足首"), 1u);
  const Head ankle = posed.at("右足首");
  EXPECT_NEAR(ankle.x, -1.0f, 0.1f);
  EXPECT_NEAR(ankle.y, 4.1f, 0.1f);
  EXPECT_NEAR(ankle.z, 1.35f, 0.1f);
  EXPECT_GT(posed.at("右ひざ").z, heads.at("右ひざ").z + 1.0f);
  EXPECT_NEAR(noIk.at("右足首").y, 1.1f, 1e-4f) << "without IK the leg keeps its bind pose";
  EXPECT_NEAR(noIk.at("右足首").z, -0.15f, 1e-4f);
  EXPECT_GT(posed.at("右手首").y, posed.at("右腕").y);
  EXPECT_LT(posed.at("右手首").x, posed.at("右腕").x) << "raised out to the side";
  EXPECT_NEAR(posed.at("左手首").y, heads.at("左手首").y, 1e-5f) << "the other arm stays";
}

TEST(QevtoolPose, SampleWalkMovesTheFeetAndLoops) {
  TempDir dir;
  std::string error;
  ASSERT_EQ(qev::fixture::WriteSampleCharacter(dir.Path(), &error), 1) << error;
  auto at = [&](int frame) { return Heads(Qevtool(dir, "pose sample.pmd --motion walk.vmd --frame " + std::to_string(frame)).out); };
  const auto f0 = at(0), f30 = at(30), f45 = at(45), f60 = at(60);
  // Frame 0: the right foot in front (+z), the left behind; frame 30 the other way.
  EXPECT_GT(f0.at("右足首").z, f0.at("左足首").z + 2.0f);
  EXPECT_LT(f30.at("右足首").z, f30.at("左足首").z - 2.0f);
  // Frame 45: the right foot swings through the air.
  EXPECT_GT(f45.at("右足首").y, f0.at("右足首").y + 0.8f);
  // Frame 60 is frame 0 again (physics moves only the hair).
  for (const char* bone : {"センター", "右足首", "左足首", "右手首", "頭"})
    for (int a = 0; a < 3; ++a) {
      const Head& p = f0.at(bone);
      const Head& q = f60.at(bone);
      EXPECT_NEAR((&p.x)[a], (&q.x)[a], 1e-4f) << bone << " axis " << a;
    }
}

TEST(QevtoolPose, NoPhysicsLeavesTheHairOnTheMotion) {
  TempDir dir;
  std::string error;
  ASSERT_EQ(qev::fixture::WriteSampleCharacter(dir.Path(), &error), 1) << error;
  const auto on = Qevtool(dir, "pose sample.pmd --motion walk.vmd --frame 30");
  const auto off = Qevtool(dir, "pose --no-physics sample.pmd --motion walk.vmd --frame 30");
  ASSERT_EQ(on.status, 0) << on.err;
  ASSERT_EQ(off.status, 0) << off.err;
  const auto swung = Heads(on.out), still = Heads(off.out);
  ASSERT_EQ(swung.size(), still.size());
  const std::string hair[] = {"髪2", "髪3", "髪先"};  // below the first hair body
  for (const auto& [name, head] : still) {
    const Head& other = swung.at(name);
    const float moved = std::hypot(head.x - other.x, head.y - other.y, head.z - other.z);
    if (std::find(std::begin(hair), std::end(hair), name) != std::end(hair)) {
      EXPECT_GT(moved, 0.05f) << name;  // the ponytail swings only with physics
    } else if (name != "髪1") {  // its head is the body's joint: it barely moves
      EXPECT_LT(moved, 1e-5f) << name;
    }
  }
  // The same frame twice: physics is deterministic.
  EXPECT_EQ(Qevtool(dir, "pose sample.pmd --motion walk.vmd --frame 30").out, on.out);
}

TEST(QevtoolPose, ModelWithoutBonesPrintsNothing) {
  TempDir dir;
  qev::fixture::PmdDesc empty;
  empty.extent = qev::fixture::PmdExtent::kBody;
  dir.WriteFile("empty.pmd", qev::fixture::BuildPmd(empty));
  const auto run = Qevtool(dir, "pose empty.pmd");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
}

TEST(QevtoolPose, FailuresAndUsage) {
  TempDir dir;
  const std::string box = qev::fixture::BuildPmd(qev::test::TwoBoneBox());
  dir.WriteFile("box.pmd", box);
  dir.WriteFile("cut.pmd", box.substr(0, 290));
  dir.WriteFile("bad.vpd", "Vocaloid Pose\r\n");
  struct Case {
    std::string args;
    int status;
    std::string err;  // a part of stderr
  };
  const Case cases[] = {
      {"pose missing.pmd", 1, "qevtool pose: missing.pmd: "},
      {"pose cut.pmd", 1, "qevtool pose: cut.pmd: モデルデータ解析失敗: PMD error : "},
      {"pose box.pmd --pose bad.vpd", 1, "qevtool pose: bad.vpd: ポーズデータ解析失敗: Header error"},
      {"pose box.pmd --pose missing.vpd", 1, "qevtool pose: missing.vpd: "},
      {"pose box.pmd --motion .", 1, "qevtool pose: .: "},
      {"pose", 2, "no model given"},
      {"pose box.pmd --motion", 2, "--motion needs a file"},
      {"pose box.pmd --pose a.vpd --pose b.vpd", 2, "--pose given twice"},
      {"pose box.pmd --frame 2", 2, "--frame needs --motion"},
      {"pose box.pmd -o x", 2, "unknown option '-o'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const auto run = Qevtool(dir, c.args);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, "") << "nothing printed for a pose that was not made";
    EXPECT_TRUE(Has(run.err, c.err)) << run.err;
    if (c.status == 2) {
      EXPECT_TRUE(Has(run.err, "usage: qevtool pose MODEL")) << run.err;
    }
  }
  const auto help = Qevtool(dir, "pose --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(Has(help.out, "INDEX<TAB>NAME<TAB>X<TAB>Y<TAB>Z"));
}

}  // namespace
