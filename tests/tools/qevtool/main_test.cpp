// What qevtool does for every command: a standard output that cannot be
// written fails the run, and a signal in the middle of a write leaves no
// temporary file behind.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/common/child_process.h"
#include "tests/common/temp_dir.h"
#include "tools/fixtures/pmd_fixture.h"
#include "tools/fixtures/sample_character.h"
#include "tools/fixtures/vmd_fixture.h"

namespace {

using qev::test::TempDir;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(QevtoolMain, StandardOutputThatCannotBeWrittenFailsTheRun) {
  TempDir dir;
  dir.WriteFile("m.pmd", qev::fixture::BuildPmd(qev::fixture::SamplePmd()));
  const char* commands[] = {"pose m.pmd", "info m.pmd", "--help", "pose --help", "info --help"};
  struct Output {
    const char* redirect;
    const char* why;
  };
  const Output outputs[] = {
      {">/dev/full", "qevtool: standard output not written: No space left on device\n"},
      {">&-", "qevtool: standard output not written: Bad file descriptor\n"},
  };
  for (const char* command : commands) {
    const std::string tool = "'" QEV_BINARY_DIR "/qevtool' " + std::string(command);
    const auto fine = qev::test::RunIn(dir, tool);
    EXPECT_EQ(fine.status, 0) << command << "\n" << fine.err;
    EXPECT_FALSE(fine.out.empty()) << command;
    for (const Output& o : outputs) {
      const auto run = qev::test::RunIn(dir, tool + " " + o.redirect);
      EXPECT_EQ(run.status, 1) << command << " " << o.redirect;
      EXPECT_TRUE(Has(run.err, o.why)) << command << " " << o.redirect << "\n" << run.err;
    }
  }
}

// Frames of a bake long enough to be caught at work: seconds of playing
// and about 115 MB of text for the sample model, were it not stopped.
constexpr uint32_t kLongMotionFrames = 100000;

// The signal arrives once the bake's temporary file is there, and must take
// the file with it.
TEST(QevtoolMain, ASignalDuringABakeLeavesNoTemporaryFile) {
  qev::fixture::VmdDesc motion = qev::fixture::SampleVmd();
  qev::fixture::VmdBoneKeyDesc last = motion.bones.front();
  last.frame = kLongMotionFrames;
  motion.bones.push_back(last);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(sig));
    TempDir dir;
    dir.WriteFile("m.pmd", qev::fixture::BuildPmd(qev::fixture::SamplePmd()));
    dir.WriteFile("m.vmd", qev::fixture::BuildVmd(motion));
    dir.WriteFile("keep.x", "old");
    const std::vector<std::string> files = dir.List();
    const pid_t tool = qev::test::StartTool(dir.Path(), {"bake", "m.pmd", "m.vmd", "-o", "keep.x"});
    ASSERT_NE(tool, -1);
    // caught once the temporary file is there, a name that is not one of ours
    const qev::test::Interrupted run =
        qev::test::InterruptAtWork(tool, sig, [&] { return dir.List().size() > files.size(); });
    EXPECT_TRUE(run.caughtAtWork) << "the bake ended or never began: " << run.status;
    EXPECT_TRUE(WIFSIGNALED(run.status)) << run.status;
    EXPECT_EQ(WTERMSIG(run.status), sig);
    EXPECT_EQ(dir.List(), files);
    EXPECT_EQ(dir.ReadFile("keep.x"), "old");
  }
}

// A .gltf of a model with many pictures has a temporary file for each of
// them and for its .bin while the file itself waits to be opened (a FIFO
// nobody reads yet): the signal must take every one of them.
TEST(QevtoolMain, ASignalWhileManyFilesAreUnderWayLeavesNoTemporaryFile) {
  constexpr int kPictures = 20;
  qev::fixture::PmdDesc model = qev::fixture::SamplePmd();
  const qev::fixture::PmdMaterialDesc material = model.materials.front();
  model.materials.clear();
  model.indices.clear();
  for (int k = 0; k < kPictures; ++k) {
    model.indices.insert(model.indices.end(), {0, 1, 2});
    model.materials.push_back(material);
    model.materials.back().indexCount = 3;
    model.materials.back().texture = "t" + std::to_string(k) + ".bmp";
  }
  TempDir dir;
  dir.WriteFile("m.pmd", qev::fixture::BuildPmd(model));
  for (int k = 0; k < kPictures; ++k) dir.WriteFile("t" + std::to_string(k) + ".bmp", qev::fixture::SampleTexture());
  ASSERT_EQ(mkfifo(dir.Path("T.gltf").c_str(), 0644), 0);
  const std::vector<std::string> files = dir.List();
  const pid_t tool = qev::test::StartTool(dir.Path(), {"convert", "m.pmd", "-o", "T.gltf"});
  ASSERT_NE(tool, -1);
  // the .bin's and every picture's temporary file, then the wait on the FIFO
  const size_t underWay = files.size() + 1 + kPictures;
  const qev::test::Interrupted run =
      qev::test::InterruptAtWork(tool, SIGTERM, [&] { return dir.List().size() == underWay; });
  EXPECT_TRUE(run.caughtAtWork) << "the files never were all under way: " << dir.List().size() << " names";
  EXPECT_TRUE(WIFSIGNALED(run.status) && WTERMSIG(run.status) == SIGTERM) << run.status;
  EXPECT_EQ(dir.List(), files);
}

}  // namespace
