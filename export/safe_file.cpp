#include "export/safe_file.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#include "platform/codepage.h"
#include "support/debug.h"

namespace {

// Links followed before a name counts as a loop: the kernel's own limit.
constexpr int kMaxLinks = 40;

// The temporary names the signal handlers remove. Slots are claimed and
// released through lock-free atomics, so that a handler may read them at
// any moment: only an armed slot holds a whole name. They come in blocks
// made as more files are open at once (a .gltf has one for each picture);
// a block, once published, stays for the life of the process.
constexpr int kSlotsPerBlock = 16;
constexpr int kBlocks = 256;
enum SlotState : int { kFree, kFilling, kArmed };
struct TempSlot {
  std::atomic<int> state{kFree};
  char path[PATH_MAX];
};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler reads the slots");
static_assert(std::atomic<TempSlot*>::is_always_lock_free, "a signal handler reads the blocks");
std::atomic<TempSlot*> g_blocks[kBlocks];

TempSlot& SlotAt(int slot) { return g_blocks[slot / kSlotsPerBlock].load()[slot % kSlotsPerBlock]; }

int ArmSlot(const std::string& path) {
  if (path.size() >= PATH_MAX) return -1;
  for (int b = 0; b < kBlocks; ++b) {
    TempSlot* block = g_blocks[b].load();
    if (!block) {
      // the first free place gets a new block; another thread may have put one there first
      TempSlot* made = new (std::nothrow) TempSlot[kSlotsPerBlock];
      if (!made) return -1;
      if (g_blocks[b].compare_exchange_strong(block, made)) {
        block = made;
      } else {
        delete[] made;
      }
    }
    for (int i = 0; i < kSlotsPerBlock; ++i) {
      int expected = kFree;
      if (!block[i].state.compare_exchange_strong(expected, kFilling)) continue;
      std::memcpy(block[i].path, path.c_str(), path.size() + 1);
      block[i].state.store(kArmed);
      return b * kSlotsPerBlock + i;
    }
  }
  return -1;  // more files open at once than slots: the rest are written all the same
}

// A temporary file exists a moment before its name is armed. The thread
// making it keeps the signals away from itself, but a signal may land on
// any other thread of the process: the handler then waits out the files
// being made (each takes an open and a copy of the name), and once it has
// begun no file is made any more. Sequentially consistent, so one side
// always sees the other.
std::atomic<int> g_making{0};
std::atomic<bool> g_ending{false};

// One temporary file being made and armed, the signals held off this thread.
class MakingTempFile {
 public:
  MakingTempFile() {
    g_making.fetch_add(1);
    m_allowed = !g_ending.load();
  }
  ~MakingTempFile() { g_making.fetch_sub(1); }
  bool Allowed() const { return m_allowed; }

 private:
  bool m_allowed;
};

void WaitForFilesBeingMade() {
  g_ending.store(true);
  // the other threads run on; a few milliseconds at most, a second at worst
  for (int i = 0; i < 1000 && g_making.load() != 0; ++i) {
    const timespec ms{0, 1000000};
    ::nanosleep(&ms, nullptr);
  }
}

void ReleaseSlot(int* slot) {
  if (*slot >= 0) SlotAt(*slot).state.store(kFree);
  *slot = -1;
}

void RemoveTemporaryFilesAndEnd(int sig) {
  WaitForFilesBeingMade();
  for (std::atomic<TempSlot*>& b : g_blocks) {
    TempSlot* block = b.load();
    if (!block) break;  // blocks are made in order
    for (int i = 0; i < kSlotsPerBlock; ++i)
      if (block[i].state.load() == kArmed) ::unlink(block[i].path);
  }
  struct sigaction byDefault {};
  byDefault.sa_handler = SIG_DFL;
  sigemptyset(&byDefault.sa_mask);
  ::sigaction(sig, &byDefault, nullptr);
  // pending until the handler returns, then it ends the process as usual
  ::raise(sig);
}

// Keeps the three signals away while a temporary file is made and its name
// armed, so no handler runs between the two.
class HoldSignals {
 public:
  HoldSignals() {
    sigset_t held;
    sigemptyset(&held);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&held, sig);
    ::pthread_sigmask(SIG_BLOCK, &held, &m_old);
  }
  ~HoldSignals() { ::pthread_sigmask(SIG_SETMASK, &m_old, nullptr); }

 private:
  sigset_t m_old;
};

// Where a file made under the path lands: the path itself, or for a link
// the end of its chain, which need not exist yet. A relative link is read
// from the link's folder (the kernel walks any ".." in it). 0 with errno
// when a step fails or the chain does not end.
int FollowLinks(std::string* path) {
  for (int hops = 0;; ++hops) {
    struct stat st {};
    if (::lstat(path->c_str(), &st) != 0) return errno == ENOENT ? 1 : 0;
    if (!S_ISLNK(st.st_mode)) return 1;
    if (hops == kMaxLinks) {
      errno = ELOOP;
      return 0;
    }
    // the size lstat tells may be 0 (kernel files) or stale: grow until it fits
    std::string link(std::max<size_t>(size_t(st.st_size) + 1, 256), '\0');
    for (;;) {
      const ssize_t n = ::readlink(path->c_str(), link.data(), link.size());
      if (n < 0) return 0;
      if (size_t(n) < link.size()) {
        link.resize(size_t(n));
        break;
      }
      if (link.size() > PATH_MAX) {
        errno = ENAMETOOLONG;
        return 0;
      }
      link.resize(link.size() * 2);
    }
    if (link.empty()) {
      errno = ENOENT;
      return 0;
    }
    const size_t slash = path->rfind('/');
    if (link[0] != '/' && slash != std::string::npos) link = path->substr(0, slash + 1) + link;
    *path = link;
  }
}

// Why a name leads nowhere a file can be made.
const char* Unreachable(int error) { return error == ELOOP ? "cannot follow the name" : "cannot create the file"; }

}  // namespace

CSafeFile::~CSafeFile() { Abandon(); }

void CSafeFile::SetFailure(const char* what, int error) {
  if (m_bFailed) return;
  m_bFailed = true;
  m_reason = what;
  if (error) {
    m_reason += " (";
    m_reason += std::strerror(error);
    m_reason += ")";
  }
}

void CSafeFile::Fail(const std::string& reason) {
  if (m_bFailed) return;
  m_bFailed = true;
  m_reason = reason;
}

void CSafeFile::LogFailure() const {
  const std::string path = m_path.empty() ? std::string("\"\"") : qev::Utf8ToCp932(m_path);
  if (m_kind.empty())
    DebugPrintf("%s not written: %s\n", path.c_str(), m_reason.c_str());
  else
    DebugPrintf("%s %s not written: %s\n", m_kind.c_str(), path.c_str(), m_reason.c_str());
}

int CSafeFile::Refuse(const char* what, int error) {
  SetFailure(what, error);
  LogFailure();
  return 0;
}

int CSafeFile::Open(const char* path) {
  Abandon();
  m_bFailed = false;
  m_bInPlace = false;
  m_reason.clear();
  m_path = path ? path : "";
  m_target = m_path;
  if (m_path.empty()) return Refuse("no file name", 0);

  struct stat st {};
  if (::stat(m_path.c_str(), &st) != 0) {
    // nothing there, or a link to nothing: the file is made where the name
    // leads (a missing folder on the way fails the create)
    if (errno != ENOENT || !FollowLinks(&m_target)) return Refuse(Unreachable(errno), errno);
    return OpenBeside(m_target, -1);
  }
  if (S_ISDIR(st.st_mode)) return Refuse("a folder has that name", EISDIR);
  // A file no one may write is refused as a plain open would refuse it; the
  // superuser, whom access() lets through, is held to the mode bits.
  if ((st.st_mode & 0222) == 0) return Refuse("not writable", EACCES);
  if (::faccessat(AT_FDCWD, m_path.c_str(), W_OK, AT_EACCESS) != 0) return Refuse("not writable", errno);
  // A device or a FIFO is no file to replace: it takes the bytes as they come.
  if (!S_ISREG(st.st_mode)) return OpenInPlace();
  // The rename replaces the name the links end at. A regular file that no
  // name reaches any more (a descriptor's link to a deleted file) can only
  // be written in place.
  if (!FollowLinks(&m_target)) return Refuse(Unreachable(errno), errno);
  struct stat end {};
  if (::stat(m_target.c_str(), &end) != 0 || end.st_dev != st.st_dev || end.st_ino != st.st_ino)
    return OpenInPlace();
  return OpenBeside(m_target, int(st.st_mode & 07777));
}

int CSafeFile::OpenInPlace() {
  if (!m_file.Create(m_path.c_str())) return Refuse("cannot open the file", errno);
  m_bOpen = true;
  m_bInPlace = true;
  return 1;
}

int CSafeFile::OpenBeside(const std::string& target, int keepMode) {
  {
    HoldSignals hold;
    const MakingTempFile making;
    if (!making.Allowed()) return Refuse("the process is ending", EINTR);
    if (!m_file.CreateTemp(target.c_str())) return Refuse("cannot create the file", errno);
    m_slot = ArmSlot(m_file.TempPath());
  }
  m_bOpen = true;
  // the replacement must look like the file it replaces
  if (keepMode >= 0 && ::fchmod(m_file.m_hFile, mode_t(keepMode)) != 0) {
    SetFailure("permissions not kept", errno);
    LogFailure();
    Abandon();
    return 0;
  }
  return 1;
}

int CSafeFile::Write(const void* data, size_t size) {
  if (!m_bOpen || m_bFailed) return 0;
  if (size == 0) return 1;
  errno = 0;
  if (!m_file.Write(data, size)) {
    // a short write without an error is a full disk as well
    SetFailure("write failed", errno ? errno : ENOSPC);
    return 0;
  }
  return 1;
}

int64_t CSafeFile::Seek(int64_t offset, int whence) {
  if (!Seekable()) return -1;
  const off_t at = ::lseek(m_file.m_hFile, off_t(offset), whence);
  if (at < 0) {
    SetFailure("seek failed", errno);
    return -1;
  }
  return int64_t(at);
}

int CSafeFile::WriteTextW(const char16_t* text) {
  if (!m_bOpen || m_bFailed) return 0;
  if (!text || !text[0]) return 1;
  m_file.SetUtf16();
  errno = 0;
  if (!m_file.WriteTextW(text)) {
    SetFailure("write failed", errno ? errno : ENOSPC);
    return 0;
  }
  return 1;
}

int CSafeFile::Commit() {
  if (!m_bOpen) {
    if (!m_bFailed) SetFailure("not open", 0);
    return 0;
  }
  // a device or a FIFO has nothing to flush to a disk
  if (!m_bFailed && !m_bInPlace && !m_file.Sync()) SetFailure("flush failed", errno);
  if (!m_file.Close() && !m_bFailed) SetFailure("close failed", errno);
  if (!m_bFailed && !m_bInPlace && std::rename(m_file.TempPath().c_str(), m_target.c_str()) != 0)
    SetFailure("replace failed", errno);
  if (m_bFailed) {
    LogFailure();
    Abandon();
    return 0;
  }
  ReleaseSlot(&m_slot);
  m_bOpen = false;
  return 1;
}

void CSafeFile::Abandon() {
  if (!m_bOpen) return;
  m_file.Close();
  if (!m_bInPlace) ::unlink(m_file.TempPath().c_str());
  ReleaseSlot(&m_slot);
  m_bOpen = false;
}

void CSafeFile::RemoveTemporaryFilesOnSignals() {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) RemoveTemporaryFilesOnSignal(sig);
}

void CSafeFile::RemoveTemporaryFilesOnSignal(int sig) {
  struct sigaction old {};
  if (::sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) return;
  struct sigaction action {};
  action.sa_handler = RemoveTemporaryFilesAndEnd;
  sigfillset(&action.sa_mask);  // one handler at a time
  ::sigaction(sig, &action, nullptr);
}
