// `qevtool convert`, run as a user runs it: the file F10 writes, failures
// and usage.
#include <gtest/gtest.h>

#include <string>

#include "export/x_mesh_writer.h"
#include "tests/common/temp_dir.h"
#include "tests/export/x_test_util.h"
#include "tools/fixtures/pmd_fixture.h"

namespace {

qev::test::CommandRun Qevtool(const qev::test::TempDir& dir, const std::string& args) {
  return qev::test::RunIn(dir, "'" QEV_BINARY_DIR "/qevtool' " + args);
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(QevtoolConvert, WritesTheFileOfTheViewersWriter) {
  qev::test::TempDir dir;
  dir.WriteFile("m.pmd", qev::fixture::BuildPmd(qev::fixture::SamplePmd()));
  dir.WriteFile("out.x", "an older export");
  const auto run = Qevtool(dir, "convert m.pmd -o out.x");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  CPmdFile model;
  ASSERT_TRUE(qev::test::LoadModel(model, qev::fixture::SamplePmd()));
  ASSERT_EQ(qev::xfile::WriteXMesh(model, dir.Path("direct.x").c_str(), nullptr), 1);
  EXPECT_EQ(dir.ReadFile("out.x"), dir.ReadFile("direct.x"));
  EXPECT_EQ(dir.ReadFile("out.x").rfind("xof 0303txt 0032\r\n\r\nMesh {\r\n 8;\r\n", 0), 0u);
}

TEST(QevtoolConvert, AFileSizeLimitFailsTheWriteAndKeepsTheOldFile) {
  qev::test::TempDir dir;
  dir.WriteFile("m.pmd", qev::fixture::BuildPmd(qev::fixture::SamplePmd()));
  ASSERT_EQ(Qevtool(dir, "convert m.pmd -o whole.x").status, 0);
  ASSERT_GT(dir.ReadFile("whole.x").size(), 512u);
  dir.WriteFile("keep.x", "old");
  // a limit of one 512-byte block: the tool lives on to say why
  const auto run = qev::test::RunIn(dir, "ulimit -f 1; '" QEV_BINARY_DIR "/qevtool' convert m.pmd -o keep.x");
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_TRUE(Has(run.err, "qevtool convert: keep.x: write failed (File too large)\n")) << run.err;
  EXPECT_EQ(dir.ReadFile("keep.x"), "old");
  EXPECT_EQ(dir.List(), (std::vector<std::string>{"keep.x", "m.pmd", "stderr.txt", "whole.x"}));
}

TEST(QevtoolConvert, FailuresAndUsage) {
  qev::test::TempDir dir;
  dir.WriteFile("m.pmd", qev::fixture::BuildPmd(qev::fixture::SamplePmd()));
  dir.WriteFile("bad.pmd", "Pmd and then nothing");
  dir.WriteFile("keep.x", "old");
  ASSERT_EQ(::system(("mkdir '" + dir.Path("folder.x") + "'").c_str()), 0);
  struct Case {
    const char* args;
    int status;
    const char* err;
  };
  const Case cases[] = {
      {"convert missing.pmd -o keep.x", 1, "qevtool convert: missing.pmd: No such file or directory\n"},
      {"convert bad.pmd -o keep.x", 1, "qevtool convert: bad.pmd: "},
      {"convert m.pmd -o folder.x", 1, "qevtool convert: folder.x: a folder has that name"},
      {"convert m.pmd -o gone/out.x", 1, "qevtool convert: gone/out.x: cannot create the file"},
      {"convert m.pmd", 2, "usage: qevtool convert MODEL.pmd -o OUT.x"},
      {"convert -o keep.x", 2, "usage: qevtool convert"},
      {"convert m.pmd m.pmd -o keep.x", 2, "more than one model"},
      {"convert m.pmd -o keep.x --bogus", 2, "unknown option '--bogus'"},
      {"convert m.pmd -o", 2, "unknown option '-o'"},
  };
  for (const Case& c : cases) {
    const auto run = Qevtool(dir, c.args);
    EXPECT_EQ(run.status, c.status) << c.args << "\n" << run.err;
    EXPECT_TRUE(Has(run.err, c.err)) << c.args << "\n" << run.err;
  }
  EXPECT_EQ(dir.ReadFile("keep.x"), "old");
  EXPECT_EQ(dir.List(), (std::vector<std::string>{"bad.pmd", "folder.x", "keep.x", "m.pmd", "stderr.txt"}));
  const auto help = Qevtool(dir, "convert --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(Has(help.out, "usage: qevtool convert MODEL.pmd -o OUT.x")) << help.out;
}

}  // namespace
