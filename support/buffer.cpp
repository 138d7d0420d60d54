#include "support/buffer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

CBuffer::~CBuffer() { Free(); }

void CBuffer::Free() {
  std::free(m_pData);
  m_pData = nullptr;
  m_nUsed = 0;
  m_nAllocated = 0;
}

int CBuffer::Append(int64_t n, const void* src) {
  if (n == -1) n = m_nElementSize;
  if (n < 0) return 0;
  const uint64_t need = uint64_t(m_nUsed) + uint64_t(n);
  if (need > m_nAllocated) {
    const uint64_t step = m_nStep ? m_nStep : 1;
    const uint64_t size = step * ((m_nUsed + step + uint64_t(n) - 1) / step);
    void* grown = size <= UINT32_MAX ? std::realloc(m_pData, size) : nullptr;
    if (!grown) {
      // the bookkeeping is emptied, as callers expect of a failed growth
      Free();
      return 0;
    }
    m_pData = static_cast<uint8_t*>(grown);
    m_nAllocated = uint32_t(size);
  }
  if (n == 0) return 1;
  if (src)
    std::memcpy(m_pData + m_nUsed, src, size_t(n));
  else
    std::memset(m_pData + m_nUsed, 0, size_t(n));
  m_nUsed = uint32_t(need);
  return 1;
}

int CBuffer::LoadFile(const char* path) {
  if (!path) return 0;
  // Opened without blocking so a named pipe or a device cannot hang the
  // load; only regular files are read.
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return 0;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || uint64_t(st.st_size) >= (uint64_t(1) << 32)) {
    ::close(fd);
    return 0;
  }
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  const uint32_t size = uint32_t(st.st_size);
  const uint32_t start = m_nUsed;
  if (!Append(size, nullptr)) {
    ::close(fd);
    return 0;
  }
  uint32_t done = 0;
  while (done < size) {
    const uint32_t want = size - done < 0x800000u ? size - done : 0x800000u;
    const ssize_t got = ::read(fd, m_pData + start + done, want);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {  // failed, or the file shrank under us
      ::close(fd);
      return 0;
    }
    done += uint32_t(got);
  }
  ::close(fd);
  return 1;
}

int CBuffer::SetTrimmedText(const char16_t* text) {
  Free();
  auto blank = [](char16_t c) { return c == u'\t' || c == u' ' || c == u'\x3000'; };
  if (text) {
    size_t len = 0;
    while (text[len]) ++len;
    size_t b = 0, e = len;
    while (b < e && blank(text[b])) ++b;
    while (e > b && blank(text[e - 1])) --e;
    if (e > b) Append(int64_t(e - b) * 2, text + b);
  }
  const char16_t nul = 0;
  Append(2, &nul);
  return 1;
}
