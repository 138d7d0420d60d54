// `qevtool morphs`, run as a user runs it: the weight of every morph of a
// fixture model and of the sample character at motion frames, with a pose
// and with nothing playing, morphs left out at load, failures and usage.
#include <gtest/gtest.h>

#include <string>

#include "platform/codepage.h"
#include "tests/common/temp_dir.h"
#include "tools/fixtures/pmd_fixture.h"
#include "tools/fixtures/pmx_fixture.h"
#include "tools/fixtures/sample_character.h"
#include "tools/fixtures/vmd_fixture.h"
#include "tools/fixtures/vpd_fixture.h"

namespace {

using qev::test::TempDir;

qev::test::CommandRun Qevtool(const TempDir& dir, const std::string& args) {
  return qev::test::RunIn(dir, "'" QEV_BINARY_DIR "/qevtool' " + args);
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The fixture model's morphs are 0 "base", 1 "笑い", 2 "まばたき"; its motion
// keys "笑い" once at frame 10 (1.0 everywhere) and "まばたき" at frames 0
// (0.0) and 5 (1.0), listed out of order; its highest frame is 40.
TEST(QevtoolMorphs, PrintsEveryMorphsWeightAtTheFrame) {
  TempDir dir;
  dir.WriteFile("m.pmd", qev::fixture::BuildPmd(qev::fixture::SamplePmd()));
  dir.WriteFile("m.vmd", qev::fixture::BuildVmd(qev::fixture::SampleVmd()));
  dir.WriteFile("p.vpd", qev::fixture::BuildVpd(qev::fixture::SampleVpd()));
  auto lines = [](const char* smile, const char* blink) {
    return std::string("0\tbase\t0.000000\n1\t笑い\t") + smile + "\n2\tまばたき\t" + blink + "\n";
  };
  struct Case {
    std::string args;
    std::string out;
  };
  const Case cases[] = {
      {"m.pmd", lines("0.000000", "0.000000")},
      {"m.pmd --pose p.vpd", lines("0.000000", "0.000000")},
      {"m.pmd --motion m.vmd", lines("1.000000", "0.000000")},
      {"m.pmd --motion m.vmd --frame 2", lines("1.000000", "0.400000")},
      {"--frame 3 --motion m.vmd m.pmd", lines("1.000000", "0.600000")},
      {"m.pmd --motion m.vmd --frame 5", lines("1.000000", "1.000000")},
      {"m.pmd --motion m.vmd --frame 39", lines("1.000000", "1.000000")},
      {"m.pmd --motion m.vmd --frame 40", lines("1.000000", "0.000000")},  // wrapped to frame 0
      {"m.pmd --motion m.vmd --frame 42", lines("1.000000", "0.400000")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const auto run = Qevtool(dir, "morphs " + c.args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, c.out);
  }
}

TEST(QevtoolMorphs, AMorphLeftOutAtLoadIsListedWithoutWeight) {
  TempDir dir;
  qev::fixture::PmdDesc d = qev::fixture::SamplePmd();
  d.morphs[1].vertices[0].vertex = 2;  // the base has two entries
  dir.WriteFile("m.pmd", qev::fixture::BuildPmd(d));
  dir.WriteFile("m.vmd", qev::fixture::BuildVmd(qev::fixture::SampleVmd()));
  const auto run = Qevtool(dir, "morphs m.pmd --motion m.vmd --frame 7");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "0\tbase\t0.000000\n1\t笑い\t0.000000\n2\tまばたき\t1.000000\n");
}

// The PMX sample has a morph of every kind: 0 a group handing 0.5 to "あ"
// (1) and 1 to "追加UV1" (4), 9 a flip of one member, "あ" at 1. A key on
// the group and one on the flip drive the members; every morph is listed.
TEST(QevtoolMorphs, EveryKindIsListedAndAGroupKeyDrivesItsMembers) {
  TempDir dir;
  dir.WriteFile("m.pmx", qev::fixture::BuildPmx(qev::fixture::SamplePmx()));
  qev::fixture::VmdDesc motion;
  motion.extent = qev::fixture::VmdExtent::kMorphs;
  motion.morphs = {{qev::Sjis("まとめ"), 0, 1.0f}, {qev::Sjis("反転"), 0, 0.5f}};
  dir.WriteFile("m.vmd", qev::fixture::BuildVmd(motion));
  const auto run = Qevtool(dir, "morphs m.pmx --motion m.vmd");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "0\tまとめ\t1.000000\n1\tあ\t1.500000\n2\t骨\t0.000000\n3\tUV\t0.000000\n"
            "4\t追加UV1\t1.000000\n5\t追加UV2\t0.000000\n6\t追加UV3\t0.000000\n7\t追加UV4\t0.000000\n"
            "8\t材質\t0.000000\n9\t反転\t0.500000\n10\t衝撃\t0.000000\n");
}

TEST(QevtoolMorphs, TheSampleWalkOpensTheMouthAndBlinks) {
  TempDir dir;
  std::string error;
  ASSERT_EQ(qev::fixture::WriteSampleCharacter(dir.Path(), &error), 1) << error;
  struct Case {
    int frame;
    const char* out;
  };
  const Case cases[] = {
      {0, "0\tbase\t0.000000\n1\tまばたき\t0.000000\n2\tあ\t0.000000\n"},
      {10, "0\tbase\t0.000000\n1\tまばたき\t0.000000\n2\tあ\t1.000000\n"},
      {20, "0\tbase\t0.000000\n1\tまばたき\t0.000000\n2\tあ\t0.333333\n"},
      {43, "0\tbase\t0.000000\n1\tまばたき\t1.000000\n2\tあ\t0.000000\n"},
      {59, "0\tbase\t0.000000\n1\tまばたき\t0.000000\n2\tあ\t0.000000\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.frame);
    const auto run = Qevtool(dir, "morphs sample.pmd --motion walk.vmd --frame " + std::to_string(c.frame));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, c.out);
  }
}

TEST(QevtoolMorphs, FailuresAndUsage) {
  TempDir dir;
  const std::string model = qev::fixture::BuildPmd(qev::fixture::SamplePmd());
  dir.WriteFile("m.pmd", model);
  dir.WriteFile("cut.pmd", model.substr(0, 300));
  dir.WriteFile("bad.vmd", "Vocaloid Motion Data 0002");
  struct Case {
    std::string args;
    int status;
    std::string err;  // a part of stderr
  };
  const Case cases[] = {
      {"morphs missing.pmd", 1, "qevtool morphs: missing.pmd: "},
      {"morphs cut.pmd", 1, "qevtool morphs: cut.pmd: モデルデータ解析失敗: PMD error : "},
      {"morphs m.pmd --motion bad.vmd", 1, "qevtool morphs: bad.vmd: モーションデータ解析失敗"},
      {"morphs", 2, "no model given"},
      {"morphs m.pmd --frame 2", 2, "--frame needs --motion"},
      {"morphs m.pmd --motion", 2, "--motion needs a file"},
      {"morphs m.pmd --no-ik", 2, "unknown option '--no-ik'"},
      {"morphs m.pmd --no-physics", 2, "unknown option '--no-physics'"},
      {"morphs m.pmd other.pmd", 2, "one model only"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const auto run = Qevtool(dir, c.args);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(Has(run.err, c.err)) << run.err;
    if (c.status == 2) {
      EXPECT_TRUE(Has(run.err, "usage: qevtool morphs MODEL")) << run.err;
    }
  }
  const auto help = Qevtool(dir, "morphs --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(Has(help.out, "INDEX<TAB>NAME<TAB>WEIGHT"));
  EXPECT_TRUE(Has(Qevtool(dir, "--help").out, "morphs"));
}

}  // namespace
