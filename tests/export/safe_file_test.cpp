// The replace-only-when-whole file: what a full disk, a file-size limit, a
// caller's failure and a link leave behind.
#include "export/safe_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/common/temp_dir.h"

namespace {

using qev::test::TempDir;

// A file-size limit for this process while alive, with the signal that
// would end the process ignored, so writes past it fail with EFBIG.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &m_old);
    m_oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit limit = m_old;
    limit.rlim_cur = bytes;
    m_ok = setrlimit(RLIMIT_FSIZE, &limit) == 0;
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &m_old);
    signal(SIGXFSZ, m_oldHandler);
  }
  bool Ok() const { return m_ok; }

 private:
  rlimit m_old{};
  sighandler_t m_oldHandler;
  bool m_ok = false;
};

TEST(SafeFile, ReplacesTheTargetOnlyWhenCommitted) {
  TempDir dir;
  dir.WriteFile("a.x", "old");
  {
    CSafeFile file;
    ASSERT_EQ(file.Open(dir.Path("a.x").c_str()), 1);
    ASSERT_EQ(file.Write("new text", 8), 1);
    EXPECT_EQ(dir.ReadFile("a.x"), "old") << "replaced before the commit";
    EXPECT_EQ(dir.List().size(), 2u) << "the new text goes to a file beside the target";
    ASSERT_EQ(file.Commit(), 1);
  }
  EXPECT_EQ(dir.ReadFile("a.x"), "new text");
  EXPECT_EQ(dir.List(), std::vector<std::string>{"a.x"});
}

TEST(SafeFile, EveryFailureKeepsTheOldFileAndLeavesNoTemporary) {
  struct Case {
    const char* what;
    void (*run)(CSafeFile& file);
    const char* reason;
  };
  const Case cases[] = {
      {"the caller gives up", [](CSafeFile& f) { f.Write("partial", 7); f.Fail("stopped"); }, "stopped"},
      {"abandoned", [](CSafeFile& f) { f.Write("partial", 7); f.Abandon(); }, "not open"},
      {"file-size limit",
       [](CSafeFile& f) {
         FileSizeLimit limit(4096);
         ASSERT_TRUE(limit.Ok());
         const std::string block(1000, 'x');
         int ok = 1;
         for (int i = 0; i < 10; ++i) ok &= f.Write(block.data(), block.size());
         EXPECT_EQ(ok, 0);
         EXPECT_EQ(f.Write("y", 1), 0) << "writes go on after a failure";
       },
       "write failed (File too large)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    dir.WriteFile("a.x", "old contents");
    qev::test::LogCapture log;
    CSafeFile file;
    ASSERT_EQ(file.Open(dir.Path("a.x").c_str()), 1);
    c.run(file);
    EXPECT_EQ(file.Commit(), 0);
    EXPECT_EQ(file.Reason(), c.reason);
    EXPECT_EQ(dir.ReadFile("a.x"), "old contents");
    EXPECT_EQ(dir.List(), std::vector<std::string>{"a.x"});
    if (std::string(c.what) != "abandoned") {
      ASSERT_EQ(log.Lines().size(), 1u) << log.Text();
      EXPECT_EQ(log.Lines()[0], "X file " + dir.Path("a.x") + " not written: " + c.reason + "\n");
    }
  }
}

TEST(SafeFile, TargetFolderRemovedBeforeTheCommit) {
  TempDir dir;
  const std::string folder = dir.Path("sub");
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  CSafeFile file;
  ASSERT_EQ(file.Open((folder + "/a.x").c_str()), 1);
  ASSERT_EQ(file.Write("text", 4), 1);
  // the temporary file goes with its folder: nothing is left to rename
  ASSERT_EQ(system(("rm -rf '" + folder + "'").c_str()), 0);
  EXPECT_EQ(file.Commit(), 0);
  EXPECT_EQ(file.Reason(), "replace failed (No such file or directory)");
  EXPECT_EQ(dir.List(), std::vector<std::string>{});
}

TEST(SafeFile, ALinkIsReplacedWhereItPointsAndPermissionsStay) {
  TempDir dir;
  dir.WriteFile("real.x", "old");
  ASSERT_EQ(chmod(dir.Path("real.x").c_str(), 0640), 0);
  ASSERT_EQ(symlink("real.x", dir.Path("link.x").c_str()), 0);
  CSafeFile file;
  ASSERT_EQ(file.Open(dir.Path("link.x").c_str()), 1);
  ASSERT_EQ(file.Write("new", 3), 1);
  ASSERT_EQ(file.Commit(), 1);
  struct stat st {};
  ASSERT_EQ(lstat(dir.Path("link.x").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(dir.ReadFile("real.x"), "new");
  ASSERT_EQ(stat(dir.Path("real.x").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

}  // namespace
