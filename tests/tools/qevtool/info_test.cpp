// `qevtool info`, run as a user runs it: output, exit status and errors.
#include <gtest/gtest.h>

#include <string>

#include "platform/codepage.h"
#include "tests/common/temp_dir.h"
#include "tools/fixtures/pmd_fixture.h"
#include "tools/fixtures/pmx_fixture.h"
#include "tools/fixtures/vmd_fixture.h"
#include "tools/fixtures/vpd_fixture.h"

namespace {

using ToolRun = qev::test::CommandRun;

ToolRun Qevtool(const qev::test::TempDir& dir, const std::string& args) {
  return qev::test::RunIn(dir, "'" QEV_BINARY_DIR "/qevtool' " + args);
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(QevtoolInfo, PrintsSummaryAndCountsOfEveryKind) {
  qev::test::TempDir dir;
  dir.WriteFile("m.PMD", qev::fixture::BuildPmd(qev::fixture::SamplePmd()));
  dir.WriteFile("m.vmd", qev::fixture::BuildVmd(qev::fixture::SampleVmd()));
  dir.WriteFile("p.Vpd", qev::fixture::BuildVpd(qev::fixture::SampleVpd()));
  const ToolRun run = Qevtool(dir, "info m.PMD m.vmd p.Vpd");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  for (const char* part : {"file: m.PMD\n", "モデル名             : テストモデル\n", "コメント             : 試験用のモデル\n二行目\n",
                           "  [7] 左足ＩＫ\n", "  vertices               8\n", "  indices                12\n",
                           "  bones                  9\n", "  IK lists               2\n", "  rigid bodies           3\n",
                           "  joints                 2\n", "file: m.vmd\n", "最大フレーム数 : 40\n",
                           "  bone keys              5\n", "  左ひざ: 3 keys, frames 0..30\n", "  まばたき: 2 keys\n",
                           "  highest frame          40\n", "file: p.Vpd\n", "■左足ＩＫ : (0.500000,1.000000,-2.000000)\n",
                           "  pose bones             3\n"})
    EXPECT_TRUE(Has(run.out, part)) << part << "\n" << run.out;
}

// A PMX model gets the rows a PMD model gets, and a damaged one its reader's reason.
TEST(QevtoolInfo, PmxModelsPrintTheSameCounts) {
  qev::test::TempDir dir;
  const std::string pmx = qev::fixture::BuildPmx(qev::fixture::SamplePmx());
  dir.WriteFile("m.Pmx", pmx);
  dir.WriteFile("cut.pmx", pmx.substr(0, 40));
  dir.WriteFile("foreign.pmx", qev::fixture::BuildPmd(qev::fixture::SamplePmd()));
  const ToolRun run = Qevtool(dir, "info m.Pmx");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const std::string counts =
      "counts:\n"
      "  vertices               6\n"
      "  indices                6\n"
      "  materials              2\n"
      "  bones                  7\n"
      "  IK lists               1\n"
      "  morphs                 11\n"
      "  morph display entries  2\n"
      "  display frames         2\n"
      "  bone display entries   2\n"
      "  rigid bodies           2\n"
      "  joints                 2\n"
      "  textures               3\n"
      "  soft bodies            1\n";
  for (const std::string& part : {std::string("file: m.Pmx\n"), std::string("モデル名             : 試験モデル\n"),
                                  std::string("PMX : soft bodies read and skipped, not simulated : 1\n"), counts})
    EXPECT_TRUE(Has(run.out, part)) << part << "\n" << run.out;

  const ToolRun cut = Qevtool(dir, "info cut.pmx foreign.pmx m.Pmx");
  EXPECT_EQ(cut.status, 1);
  EXPECT_TRUE(Has(cut.err, "qevtool info: cut.pmx: PMX error : model info cut short at offset 35\n")) << cut.err;
  EXPECT_TRUE(Has(cut.err, "qevtool info: foreign.pmx: PMX error : no \"PMX \" mark at the start of the file\n"))
      << cut.err;
  EXPECT_TRUE(Has(cut.out, counts)) << cut.out;  // the good file after the bad ones still prints
}

TEST(QevtoolInfo, NamesCutInsideACharacterPrintWithAReplacement) {
  qev::test::TempDir dir;
  qev::fixture::VmdDesc d;
  d.bones = {{qev::Sjis("右腕捩れ１２３４"), 3}};  // cut at 15 bytes, inside the last character
  dir.WriteFile("cut.vmd", qev::fixture::BuildVmd(d));
  const ToolRun run = Qevtool(dir, "info cut.vmd");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(Has(run.out, "  右腕捩れ１２３\xEF\xBF\xBD: 1 keys, frames 3..3\n")) << run.out;
}

TEST(QevtoolInfo, ExitStatusAndErrors) {
  qev::test::TempDir dir;
  const std::string pmd = qev::fixture::BuildPmd(qev::fixture::SamplePmd());
  dir.WriteFile("good.pmd", pmd);
  dir.WriteFile("cut.pmd", pmd.substr(0, 300));
  dir.WriteFile("foreign.pmd", "not a model");
  dir.WriteFile("bad.vpd", "Vocaloid Pose\r\n");
  dir.WriteFile("picture.xyz", "?");
  struct Case {
    std::string args;
    int status;
    std::string err;     // a part of stderr
    std::string out;     // a part of stdout
  };
  const Case cases[] = {
      {"info cut.pmd good.pmd", 1, "qevtool info: cut.pmd: PMD error : vertices cut short at offset 287\n",
       "  vertices               8\n"},
      {"info foreign.pmd", 1, "qevtool info: foreign.pmd: not a PMD model\n", "file: foreign.pmd\n"},
      {"info missing.vmd", 1, "qevtool info: missing.vmd: No such file or directory\n", ""},
      {"info bad.vpd", 1, "qevtool info: bad.vpd: Header error : bad.vpd\n", ""},
      {"info missing.vpd", 1, "qevtool info: missing.vpd: No such file or directory\n", ""},
      {"info . ..pmd", 1, "qevtool info: ..pmd: No such file or directory\n", ""},
      {"info picture.xyz", 1, "qevtool info: picture.xyz: not a picture that the decoders or the plug-ins in ", ""},
      {"info", 2, "usage: qevtool info FILE...", ""},
      {"info --bogus good.pmd", 2, "unknown option '--bogus'", ""},
      {"info --help", 0, "", "usage: qevtool info FILE..."},
      {"info -- good.pmd", 0, "", "  bones                  9\n"},
      {"", 2, "usage: qevtool COMMAND", ""},
      {"nonsense", 2, "unknown command 'nonsense'", ""},
      {"--help", 0, "", "  info   FILE..."},
  };
  for (const Case& c : cases) {
    const ToolRun run = Qevtool(dir, c.args);
    EXPECT_EQ(run.status, c.status) << c.args << "\n" << run.err;
    EXPECT_TRUE(Has(run.err, c.err)) << c.args << "\n" << run.err;
    EXPECT_TRUE(Has(run.out, c.out)) << c.args << "\n" << run.out;
    if (c.status == 0) {
      EXPECT_EQ(run.err, "") << c.args;
    }
  }
}

}  // namespace
