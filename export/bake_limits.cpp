#include "export/bake_limits.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cmath>

namespace qev::bake {

namespace {

std::string MiB(double bytes) { return std::to_string(int64_t(std::ceil(bytes / 1048576.0))); }

// Bytes that can still be written on the file system the target goes to;
// a negative value when that is unknown or does not matter: a target that
// is a device or a pipe, or a folder that cannot be looked at (opening the
// file will say why).
double FreeBytesFor(const char* target) {
  struct stat st {};
  std::string probe = target;
  if (::stat(target, &st) == 0) {
    if (!S_ISREG(st.st_mode)) return -1;
  } else {
    // not there yet: the folder it will be created in
    const size_t slash = probe.rfind('/');
    probe = slash == std::string::npos ? "." : slash == 0 ? "/" : probe.substr(0, slash);
  }
  struct statvfs fs {};
  if (::statvfs(probe.c_str(), &fs) != 0) return -1;
  // what df calls available: the blocks kept back for the superuser are
  // not counted, even for him
  return double(fs.f_bavail) * double(fs.f_frsize);
}

// Half the memory of the machine: a hostile motion's last frame must not
// take the program down with it.
double MemoryLimit() {
  const long pages = ::sysconf(_SC_PHYS_PAGES), pageSize = ::sysconf(_SC_PAGESIZE);
  return pages > 0 && pageSize > 0 ? double(pages) * double(pageSize) / 2 : 4e9;
}

}  // namespace

int CheckBake(const BakeSize& size, const char* target, int64_t maxFrames, std::string* why) {
  if (size.frames > maxFrames) {
    *why = "the motion is " + std::to_string(size.frames) + " frames long, more than the limit of " +
           std::to_string(maxFrames) + " frames";
    return 0;
  }
  const double frames = double(size.frames > 0 ? size.frames : 0);
  const double file = frames * double(size.fileBytesPerFrame);
  if (file > 0 && target && target[0]) {
    const double free = FreeBytesFor(target);
    if (free >= 0 && file > free) {
      *why = "the file needs at least " + MiB(file) + " MiB, more than the " +
             std::to_string(int64_t(free / 1048576.0)) + " MiB free where it goes";
      return 0;
    }
  }
  const double memory = frames * double(size.memoryPerFrame);
  if (memory > MemoryLimit()) {
    *why = "the bake needs " + MiB(memory) + " MiB of memory, more than half the memory";
    return 0;
  }
  return 1;
}

}  // namespace qev::bake
