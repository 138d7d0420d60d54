#include "export/safe_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/codepage.h"
#include "support/debug.h"

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
  DebugPrintf("X file %s not written: %s\n", qev::Utf8ToCp932(m_path).c_str(), m_reason.c_str());
}

int CSafeFile::Open(const char* path) {
  Abandon();
  m_bFailed = false;
  m_reason.clear();
  m_path = path ? path : "";
  if (m_path.empty()) {
    SetFailure("no file name", 0);
    LogFailure();
    return 0;
  }
  // A file that is a link is replaced where it lives, and keeps its
  // permissions: the replacement must look like the file it replaces.
  m_target = m_path;
  if (char* real = ::realpath(m_path.c_str(), nullptr)) {
    m_target = real;
    std::free(real);
  }
  struct stat old {};
  const bool existed = ::stat(m_target.c_str(), &old) == 0;
  if (existed && S_ISDIR(old.st_mode)) {
    SetFailure("a folder has that name", EISDIR);
    LogFailure();
    return 0;
  }
  if (!m_file.CreateTemp(m_target.c_str())) {
    SetFailure("cannot create the file", errno);
    LogFailure();
    return 0;
  }
  m_bOpen = true;
  if (existed && ::fchmod(m_file.m_hFile, old.st_mode & 07777) != 0) {
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

int CSafeFile::Commit() {
  if (!m_bOpen) {
    if (!m_bFailed) SetFailure("not open", 0);
    return 0;
  }
  if (!m_bFailed && !m_file.Sync()) SetFailure("flush failed", errno);
  if (!m_file.Close() && !m_bFailed) SetFailure("close failed", errno);
  if (!m_bFailed && std::rename(m_file.TempPath().c_str(), m_target.c_str()) != 0)
    SetFailure("replace failed", errno);
  if (m_bFailed) {
    LogFailure();
    Abandon();
    return 0;
  }
  m_bOpen = false;
  return 1;
}

void CSafeFile::Abandon() {
  if (!m_bOpen) return;
  m_file.Close();
  ::unlink(m_file.TempPath().c_str());
  m_bOpen = false;
}
