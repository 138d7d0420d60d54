// The replace-only-when-whole file: what a full disk, a file-size limit, a
// caller's failure and a link leave behind; devices, FIFOs, read-only files,
// dangling and looping links, long names and signals.
#include "export/safe_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/common/child_process.h"
#include "tests/common/temp_dir.h"

namespace {

using qev::test::Reap;
using qev::test::TempDir;

bool IsKind(const std::string& path, mode_t kind) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == kind;
}

std::string LinkTarget(const std::string& path) {
  char buf[4096];
  const ssize_t n = readlink(path.c_str(), buf, sizeof buf);
  return n < 0 ? std::string() : std::string(buf, size_t(n));
}

// Every name under the folder (links not followed), relative, sorted.
std::vector<std::string> Tree(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir.Path()))
    names.push_back(e.path().lexically_relative(dir.Path()).string());
  std::sort(names.begin(), names.end());
  return names;
}

// A character device node, major 1: the system's own for a user who cannot
// make one; for the superuser, who could replace the system's, a twin made
// in the folder. Empty when no node can be made.
std::string CharDevice(const TempDir& dir, const char* name, unsigned minor) {
  if (geteuid() != 0) return std::string("/dev/") + name;
  const std::string path = dir.Path(name);
  return mknod(path.c_str(), S_IFCHR | 0666, makedev(1, minor)) == 0 ? path : std::string();
}

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
      EXPECT_EQ(log.Lines()[0], dir.Path("a.x") + " not written: " + c.reason + "\n");
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

TEST(SafeFile, ACharacterDeviceIsWrittenInPlace) {
  struct Case {
    const char* name;
    unsigned minor;
    int committed;
    const char* reason;
  };
  const Case cases[] = {
      {"null", 3, 1, ""},
      {"full", 7, 0, "write failed (No space left on device)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string device = CharDevice(dir, c.name, c.minor);
    if (device.empty()) GTEST_SKIP() << "no device node can be made here";
    const auto before = dir.List();
    qev::test::LogCapture log;
    CSafeFile file;
    ASSERT_EQ(file.Open(device.c_str()), 1) << file.Reason();
    file.Write("some text", 9);
    EXPECT_EQ(file.Commit(), c.committed);
    EXPECT_EQ(file.Reason(), c.reason);
    EXPECT_TRUE(IsKind(device, S_IFCHR)) << "the device was replaced";
    EXPECT_EQ(dir.List(), before) << "a temporary file was left";
    if (!c.committed) {
      EXPECT_EQ(log.Text(), device + " not written: " + c.reason + "\n");
    }
  }
}

// Muxers go back to fill in sizes once they know them.
TEST(SafeFile, SeekGoesBackInTheTemporaryFileButNeverInADevice) {
  TempDir dir;
  dir.WriteFile("a.bin", "old");
  {
    CSafeFile file;
    ASSERT_EQ(file.Open(dir.Path("a.bin").c_str()), 1);
    EXPECT_TRUE(file.Seekable());
    file.Write("size?...body", 12);
    EXPECT_EQ(file.Seek(0, SEEK_SET), 0);
    file.Write("SIZE!", 5);
    EXPECT_EQ(file.Seek(0, SEEK_END), 12);
    file.Write("+", 1);
    ASSERT_EQ(file.Commit(), 1) << file.Reason();
    EXPECT_FALSE(file.Seekable()) << "nothing is open after the commit";
  }
  EXPECT_EQ(dir.ReadFile("a.bin"), "SIZE!...body+");
  {
    qev::test::LogCapture log;
    CSafeFile file;
    ASSERT_EQ(file.Open(dir.Path("a.bin").c_str()), 1);
    file.Write("new", 3);
    EXPECT_EQ(file.Seek(-5, SEEK_SET), -1);
    EXPECT_FALSE(file.Seekable());
    EXPECT_EQ(file.Commit(), 0);
    EXPECT_EQ(file.Reason(), "seek failed (Invalid argument)");
  }
  EXPECT_EQ(dir.ReadFile("a.bin"), "SIZE!...body+") << "a failed seek costs the new file, not the old";
  EXPECT_EQ(dir.List(), std::vector<std::string>{"a.bin"});
  const std::string device = CharDevice(dir, "null", 3);
  if (device.empty()) GTEST_SKIP() << "no device node can be made here";
  CSafeFile file;
  ASSERT_EQ(file.Open(device.c_str()), 1);
  EXPECT_FALSE(file.Seekable());
  EXPECT_EQ(file.Seek(0, SEEK_SET), -1);
  file.Write("text", 4);
  EXPECT_EQ(file.Commit(), 1) << "a device that is not moved is written on: " << file.Reason();
}

TEST(SafeFile, AFifoGetsTheBytesAsTheyAreWritten) {
  TempDir dir;
  const std::string fifo = dir.Path("pipe.x");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  std::string text;  // more than a pipe holds, so writer and reader take turns
  for (int i = 0; text.size() < 200000; ++i) text += "line " + std::to_string(i) + "\n";
  // The reader is a child that says whether all of the text came through; a
  // writer that never opens the FIFO leaves it waiting for its alarm.
  const pid_t reader = fork();
  ASSERT_NE(reader, -1);
  if (reader == 0) {
    alarm(10);
    const int fd = open(fifo.c_str(), O_RDONLY);
    std::string got;
    char buf[65536];
    ssize_t n;
    while (fd >= 0 && (n = read(fd, buf, sizeof buf)) > 0) got.append(buf, size_t(n));
    _exit(got == text ? 0 : 1);
  }
  CSafeFile file;
  EXPECT_EQ(file.Open(fifo.c_str()), 1) << file.Reason();
  file.Write(text.data(), text.size());
  EXPECT_EQ(file.Commit(), 1) << file.Reason();
  const int status = Reap(reader);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the reader did not get the text: " << status;
  EXPECT_TRUE(IsKind(fifo, S_IFIFO)) << "the FIFO was replaced";
  EXPECT_EQ(dir.List(), std::vector<std::string>{"pipe.x"});
}

// A plain open would refuse these; so does the superuser's, held to the
// mode bits.
TEST(SafeFile, AReadOnlyTargetIsRefusedAndStaysAsItWas) {
  struct Case {
    const char* what;
    void (*make)(const TempDir& dir);
    const char* target;
  };
  const Case cases[] = {
      {"a file of mode 0444",
       [](const TempDir& dir) {
         dir.WriteFile("a.x", "old");
         ASSERT_EQ(chmod(dir.Path("a.x").c_str(), 0444), 0);
       },
       "a.x"},
      {"a link to one",
       [](const TempDir& dir) {
         dir.WriteFile("a.x", "old");
         ASSERT_EQ(chmod(dir.Path("a.x").c_str(), 0444), 0);
         ASSERT_EQ(symlink("a.x", dir.Path("link.x").c_str()), 0);
       },
       "link.x"},
      {"a FIFO of mode 0444", [](const TempDir& dir) { ASSERT_EQ(mkfifo(dir.Path("p.x").c_str(), 0444), 0); },
       "p.x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    c.make(dir);
    const auto before = dir.List();
    qev::test::LogCapture log;
    CSafeFile file("X file");
    EXPECT_EQ(file.Open(dir.Path(c.target).c_str()), 0);
    EXPECT_EQ(file.Reason(), "not writable (Permission denied)");
    EXPECT_EQ(log.Text(), "X file " + dir.Path(c.target) + " not written: not writable (Permission denied)\n");
    EXPECT_EQ(file.Write("new", 3), 0);
    EXPECT_EQ(file.Commit(), 0);
    EXPECT_EQ(dir.List(), before);
    struct stat st {};
    ASSERT_EQ(stat(dir.Path(c.target).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
    if (S_ISREG(st.st_mode)) {
      EXPECT_EQ(dir.ReadFile(c.target), "old");
    }
  }
}

// The file is made or replaced where the links end, as a plain open would
// make it; the links themselves are never replaced.
TEST(SafeFile, LinksAreFollowedToTheirEndAndStayLinks) {
  struct Link {
    std::string name;
    std::string to;
  };
  struct Case {
    const char* what;
    std::vector<std::string> folders;
    std::vector<Link> links;
    const char* open;     // the name given
    const char* written;  // where the text lands; nullptr: refused
    const char* reason;
  };
  const std::string loop = "cannot follow the name (Too many levels of symbolic links)";
  const Case cases[] = {
      {"a link to nothing", {}, {{"l.x", "real.x"}}, "l.x", "real.x", ""},
      {"a chain to nothing", {}, {{"l1.x", "l2.x"}, {"l2.x", "real.x"}}, "l1.x", "real.x", ""},
      {"a link to an absolute name", {"out"}, {{"l.x", "{dir}/out/real.x"}}, "l.x", "out/real.x", ""},
      {"relative to the link's folder", {"sub", "out"}, {{"sub/l.x", "../out/real.x"}}, "sub/l.x", "out/real.x", ""},
      // ".." is taken from where the link's folder really is
      {"a link inside a linked folder",
       {"sub", "sub/inner"},
       {{"via", "sub/inner"}, {"sub/inner/l.x", "../real.x"}},
       "via/l.x",
       "sub/real.x",
       ""},
      {"a link into a missing folder", {}, {{"l.x", "nowhere/real.x"}}, "l.x", nullptr,
       "cannot create the file (No such file or directory)"},
      {"a loop of two", {}, {{"a.x", "b.x"}, {"b.x", "a.x"}}, "a.x", nullptr, loop.c_str()},
      {"a link to itself", {}, {{"s.x", "s.x"}}, "s.x", nullptr, loop.c_str()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    std::vector<std::string> expected = c.folders;
    for (const std::string& folder : c.folders) ASSERT_EQ(mkdir(dir.Path(folder).c_str(), 0755), 0);
    for (const Link& link : c.links) {
      std::string to = link.to;
      if (to.rfind("{dir}", 0) == 0) to = dir.Path() + to.substr(5);
      ASSERT_EQ(symlink(to.c_str(), dir.Path(link.name).c_str()), 0);
      expected.push_back(link.name);
    }
    CSafeFile file;
    EXPECT_EQ(file.Open(dir.Path(c.open).c_str()), c.written ? 1 : 0) << file.Reason();
    file.Write("text", 4);
    EXPECT_EQ(file.Commit(), c.written ? 1 : 0);
    if (c.written) {
      EXPECT_EQ(dir.ReadFile(c.written), "text");
      expected.push_back(c.written);
    } else {
      EXPECT_EQ(file.Reason(), c.reason);
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Tree(dir), expected) << "a link replaced or a temporary file left";
    for (const Link& link : c.links) {
      std::string to = link.to;
      if (to.rfind("{dir}", 0) == 0) to = dir.Path() + to.substr(5);
      EXPECT_EQ(LinkTarget(dir.Path(link.name)), to) << link.name;
    }
  }
}

// Where the target's own name fits, so does the temporary file's.
TEST(SafeFile, NamesOfTheLongestLengthAreWritten) {
  std::string kana;
  for (int i = 0; i < 85; ++i) kana += "\xE3\x81\x82";  // 3 bytes each, 255 in all
  for (const std::string& name : {std::string(253, 'a') + ".x", kana}) {
    for (bool existing : {false, true}) {
      SCOPED_TRACE(existing ? "replaced" : "new");
      TempDir dir;
      if (existing) dir.WriteFile(name, "old");
      CSafeFile file;
      ASSERT_EQ(file.Open(dir.Path(name).c_str()), 1) << file.Reason();
      ASSERT_EQ(file.Write("new", 3), 1);
      const auto names = dir.List();
      EXPECT_EQ(names.size(), existing ? 2u : 1u);
      for (const std::string& n : names) EXPECT_LE(n.size(), 255u);
      ASSERT_EQ(file.Commit(), 1) << file.Reason();
      EXPECT_EQ(dir.ReadFile(name), "new");
      EXPECT_EQ(dir.List(), std::vector<std::string>{name});
    }
  }
}

// A child with the signals as a program started from a terminal finds them
// (whatever ran the tests), the clean-up installed, and files being written
// by `write`; it says when it is writing and then waits. The child's pid,
// -1 when it could not be started or never got writing.
pid_t StartWritingChild(const std::function<void()>& write) {
  int ready[2];
  if (pipe(ready) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    close(ready[0]);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) signal(s, SIG_DFL);
    CSafeFile::RemoveTemporaryFilesOnSignals();
    write();
    if (::write(ready[1], "r", 1) != 1) _exit(4);
    for (;;) pause();
  }
  close(ready[1]);
  char r = 0;
  const bool writing = child > 0 && read(ready[0], &r, 1) == 1;
  close(ready[0]);
  if (child > 0 && !writing) Reap(child);
  return writing ? child : -1;
}

// Sends the signal and expects the child to end by it, as its default does.
void ExpectEndedBy(pid_t child, int sig) {
  kill(child, sig);
  const int status = Reap(child);
  EXPECT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), sig);
}

// A child writes two files; the signal must take both temporary files with it.
TEST(SafeFile, ASignalRemovesTheTemporaryFilesAndEndsTheProcess) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(sig));
    TempDir dir;
    dir.WriteFile("a.x", "old");
    CSafeFile a, b;
    const pid_t child = StartWritingChild([&] {
      if (!a.Open(dir.Path("a.x").c_str()) || !b.Open(dir.Path("b.x").c_str())) _exit(3);
      a.Write("partial", 7);
      b.Write("partial", 7);
    });
    ASSERT_NE(child, -1);
    EXPECT_EQ(dir.List().size(), 3u) << "the two files are being written beside a.x";
    ExpectEndedBy(child, sig);
    EXPECT_EQ(dir.List(), std::vector<std::string>{"a.x"});
    EXPECT_EQ(dir.ReadFile("a.x"), "old");
  }
}

// Threads that open and give up files as fast as they can, as the video's
// encoder thread writes its pictures beside the drawing thread: wherever the
// signal lands, no temporary file may outlive the process.
TEST(SafeFile, ASignalAmongWritingThreadsLeavesNoTemporaryFile) {
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    TempDir dir;
    std::vector<std::thread> writers;
    const pid_t child = StartWritingChild([&] {
      for (int t = 0; t < 4; ++t)
        writers.emplace_back([&dir, t] {
          const std::string path = dir.Path("picture" + std::to_string(t) + ".png");
          for (;;) {
            CSafeFile file;
            if (file.Open(path.c_str())) file.Write("partial", 7);
          }
        });
    });
    ASSERT_NE(child, -1);
    usleep(useconds_t(2000 + 1000 * round));
    ExpectEndedBy(child, SIGTERM);
    EXPECT_EQ(dir.List(), std::vector<std::string>{});
  }
}

// A signal the program was started to ignore (nohup) stays ignored; the
// others get the handler. Run in a child: 0 when so.
int HandlersAsInstalled() {
  signal(SIGHUP, SIG_IGN);
  signal(SIGTERM, SIG_DFL);
  CSafeFile::RemoveTemporaryFilesOnSignals();
  struct sigaction hup {};
  struct sigaction term {};
  sigaction(SIGHUP, nullptr, &hup);
  sigaction(SIGTERM, nullptr, &term);
  return hup.sa_handler == SIG_IGN && term.sa_handler != SIG_DFL && term.sa_handler != SIG_IGN ? 0 : 1;
}

TEST(SafeFile, AnIgnoredSignalStaysIgnored) {
  EXPECT_EXIT(_exit(HandlersAsInstalled()), testing::ExitedWithCode(0), "");
}

// The viewer takes over the hang-up alone: an interrupt or a termination
// stays with whoever handled it before (the window system's quit). Run in a
// child: 0 when so.
int OneHandlerAsInstalled() {
  for (int s : {SIGINT, SIGTERM, SIGHUP}) signal(s, SIG_DFL);
  CSafeFile::RemoveTemporaryFilesOnSignal(SIGHUP);
  struct sigaction hup {};
  struct sigaction in {};
  struct sigaction term {};
  sigaction(SIGHUP, nullptr, &hup);
  sigaction(SIGINT, nullptr, &in);
  sigaction(SIGTERM, nullptr, &term);
  const bool taken = hup.sa_handler != SIG_DFL && hup.sa_handler != SIG_IGN;
  return taken && in.sa_handler == SIG_DFL && term.sa_handler == SIG_DFL ? 0 : 1;
}

TEST(SafeFile, OneSignalAloneCanBeTakenOver) {
  EXPECT_EXIT(_exit(OneHandlerAsInstalled()), testing::ExitedWithCode(0), "");
}

}  // namespace
