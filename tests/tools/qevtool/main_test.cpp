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

// Waits for a child; one still running after twenty seconds is killed, so a
// tool that ignores the signal fails the test instead of hanging it.
int Reap(pid_t child) {
  int status = 0;
  for (int i = 0; i < 2000; ++i) {
    if (waitpid(child, &status, WNOHANG) == child) return status;
    usleep(10000);
  }
  kill(child, SIGKILL);
  waitpid(child, &status, 0);
  return status;
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
    const pid_t tool = fork();
    ASSERT_NE(tool, -1);
    if (tool == 0) {
      // as a shell would start it, whatever ran the tests
      for (int s : {SIGINT, SIGTERM, SIGHUP}) signal(s, SIG_DFL);
      if (chdir(dir.Path().c_str()) != 0) _exit(126);
      execl(QEV_BINARY_DIR "/qevtool", "qevtool", "bake", "m.pmd", "m.vmd", "-o", "keep.x", nullptr);
      _exit(127);
    }
    // wait for the temporary file, a name that is not one of ours
    bool writing = false;
    int status = 0;
    bool ended = false;
    for (int i = 0; i < 2000 && !writing && !ended; ++i) {
      writing = dir.List().size() > files.size();
      if (!writing) {
        ended = waitpid(tool, &status, WNOHANG) == tool;
        usleep(5000);
      }
    }
    EXPECT_TRUE(writing) << "the bake ended or never began: " << status;
    if (!ended) {
      kill(tool, sig);
      status = Reap(tool);
    }
    EXPECT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), sig);
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
  const pid_t tool = fork();
  ASSERT_NE(tool, -1);
  if (tool == 0) {
    for (int s : {SIGINT, SIGTERM, SIGHUP}) signal(s, SIG_DFL);
    if (chdir(dir.Path().c_str()) != 0) _exit(126);
    execl(QEV_BINARY_DIR "/qevtool", "qevtool", "convert", "m.pmd", "-o", "T.gltf", nullptr);
    _exit(127);
  }
  // the .bin's and every picture's temporary file, then the wait on the FIFO
  const size_t underWay = files.size() + 1 + kPictures;
  bool waiting = false, ended = false;
  int status = 0;
  for (int i = 0; i < 2000 && !waiting && !ended; ++i) {
    waiting = dir.List().size() == underWay;
    if (!waiting) {
      ended = waitpid(tool, &status, WNOHANG) == tool;
      usleep(5000);
    }
  }
  EXPECT_TRUE(waiting) << "the files never were all under way: " << dir.List().size() << " names";
  if (!ended) {
    kill(tool, SIGTERM);
    status = Reap(tool);
  }
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  EXPECT_EQ(dir.List(), files);
}

}  // namespace
