// The checks made before a bake plays its first frame: the frame limit,
// the free space where the file goes, and the memory of the machine.
#include "export/bake_limits.h"

#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "tests/common/temp_dir.h"

namespace {

using qev::bake::BakeSize;
using qev::bake::CheckBake;

BakeSize Frames(int64_t frames, uint64_t fileBytesPerFrame = 0, uint64_t memoryPerFrame = 0) {
  BakeSize size;
  size.frames = frames;
  size.fileBytesPerFrame = fileBytesPerFrame;
  size.memoryPerFrame = memoryPerFrame;
  return size;
}

// "" when allowed, else the reason.
std::string Check(const BakeSize& size, const std::string& target, int64_t maxFrames) {
  std::string why = "untouched";
  return CheckBake(size, target.c_str(), maxFrames, &why) ? "" : why;
}

TEST(BakeLimits, FramesUpToTheLimit) {
  struct Case {
    int64_t frames, maxFrames;
    const char* refusal;
  };
  const Case cases[] = {
      {0, 1, ""},
      {1000000, qev::bake::kDefaultMaxFrames, ""},
      {1000001, qev::bake::kDefaultMaxFrames, "the motion is 1000001 frames long, more than the limit of 1000000 frames"},
      {2147483648, qev::bake::kDefaultMaxFrames,
       "the motion is 2147483648 frames long, more than the limit of 1000000 frames"},
      {2147483648, 2147483648, ""},
      {41, 40, "the motion is 41 frames long, more than the limit of 40 frames"},
  };
  qev::test::TempDir dir;
  for (const Case& c : cases) EXPECT_EQ(Check(Frames(c.frames), dir.Path("out.x"), c.maxFrames), c.refusal) << c.frames;
}

TEST(BakeLimits, TheFileMustFitWhereItGoes) {
  qev::test::TempDir dir;
  struct statvfs fs {};
  ASSERT_EQ(::statvfs(dir.Path().c_str(), &fs), 0);
  const double free = double(fs.f_bavail) * double(fs.f_frsize);
  const int64_t frames = 1000;
  const uint64_t twice = uint64_t(2 * free / frames) + 1048576, half = uint64_t(free / 2 / frames);
  dir.WriteFile("old.x", "old");
  ASSERT_EQ(::symlink(dir.Path("old.x").c_str(), dir.Path("link.x").c_str()), 0);
  struct Case {
    const char* what;
    std::string target;
    uint64_t perFrame;
    bool refused;
  };
  const Case cases[] = {
      {"a new file, twice the free space", dir.Path("new.x"), twice, true},
      {"a new file, half of it", dir.Path("new.x"), half, false},
      {"a file replaced, twice", dir.Path("old.x"), twice, true},
      {"through a link, twice", dir.Path("link.x"), twice, true},
      {"a name in the working folder, twice", "new.x", twice, true},
      // a device takes no space, and a folder that is not there is for
      // opening the file to report
      {"a device", "/dev/null", twice, false},
      {"no such folder", dir.Path("gone/new.x"), twice, false},
  };
  qev::test::ChangeDir into(dir.Path());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string why = Check(Frames(frames, c.perFrame), c.target, qev::bake::kDefaultMaxFrames);
    EXPECT_EQ(why.empty(), !c.refused) << why;
    if (c.refused) {
      EXPECT_EQ(why.rfind("the file needs at least " + std::to_string((frames * c.perFrame + 1048575) / 1048576) +
                              " MiB, more than the ",
                          0),
                0u)
          << why;
      const std::string end = " MiB free where it goes";
      EXPECT_EQ(why.substr(why.size() - std::min(why.size(), end.size())), end) << why;
    }
  }
}

TEST(BakeLimits, MemoryUpToHalfTheMachines) {
  const double memory = double(::sysconf(_SC_PHYS_PAGES)) * double(::sysconf(_SC_PAGESIZE));
  ASSERT_GT(memory, 0);
  const int64_t frames = 1024;
  // whole MiB per frame, so the total is whole MiB
  const uint64_t threeQuarters = uint64_t(memory * 0.75 / frames) / 1024 * 1024;
  const uint64_t quarter = uint64_t(memory * 0.25 / frames);
  qev::test::TempDir dir;
  EXPECT_EQ(Check(Frames(frames, 0, quarter), dir.Path("out.x"), qev::bake::kDefaultMaxFrames), "");
  EXPECT_EQ(Check(Frames(frames, 0, threeQuarters), "/dev/null", qev::bake::kDefaultMaxFrames),
            "the bake needs " + std::to_string(frames * threeQuarters / 1048576) +
                " MiB of memory, more than half the memory");
  // the frame limit is checked first: a refusal names the first rule broken
  EXPECT_EQ(Check(Frames(frames, 0, threeQuarters), "/dev/null", 1000),
            "the motion is 1024 frames long, more than the limit of 1000 frames");
}

}  // namespace
