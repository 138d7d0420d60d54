#include "support/file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>

#include "platform/codepage.h"
#include "support/buffer.h"

namespace {

template <typename Ch>
size_t Length(const Ch* s) {
  size_t n = 0;
  while (s[n]) ++n;
  return n;
}

// Output size of a text once every LF that does not follow a CR gains one.
// A LF at the very start counts as not following a CR.
template <typename Ch>
size_t ExpandedLength(const Ch* text, size_t length) {
  size_t n = length;
  for (size_t i = 0; i < length; ++i)
    if (text[i] == Ch('\n') && (i == 0 || text[i - 1] != Ch('\r'))) ++n;
  return n;
}

// The dot, the dot before the suffix and the six letters of a temporary name.
constexpr size_t kTempExtra = 8;

// Six letters and digits, from the kernel's random source when it answers
// at once, else from the process id, a counter and the clock.
std::string RandomLetters() {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static std::atomic<unsigned> counter{0};
  uint64_t bits = 0;
  if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != ssize_t(sizeof bits)) {
    const uint64_t now = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
    bits = now * 0x9E3779B97F4A7C15ull ^ (uint64_t(::getpid()) << 32) ^ counter.fetch_add(1);
  }
  std::string letters(6, 'A');
  for (char& c : letters) {
    c = kAlphabet[bits % 62];
    bits /= 62;
  }
  return letters;
}

}  // namespace

CFile::~CFile() { Close(); }

int CFile::Open(int fd) {
  if (fd < 0) return 0;
  m_hFile = fd;
  m_nFlags = kWritable | kOpenedForWrite;
  return 1;
}

int CFile::Create(const char* path) {
  Close();
  if (!path) return 0;
  // a terminal named as the file must not become the controlling one
  return Open(::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666));
}

int CFile::CreateTemp(const char* path) {
  Close();
  if (!path || !path[0]) {
    errno = ENOENT;
    return 0;
  }
  // A dot file beside the target, "." + the target's name + "." + six random
  // letters, with the name cut (at a character boundary, names are UTF-8)
  // so the whole fits the folder's name limit: the temporary name must never
  // be what fails when the target's own name would do.
  const std::string full(path);
  const size_t slash = full.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : full.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? full : full.substr(slash + 1);
  long nameMax = ::pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
  if (nameMax <= 0 || nameMax > NAME_MAX) nameMax = NAME_MAX;
  const size_t room = size_t(nameMax) > kTempExtra ? size_t(nameMax) - kTempExtra : 0;
  if (name.size() > room) {
    size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    name.resize(cut);
  }
  // O_EXCL: an existing file is never taken over. The mode is a plain
  // create's (the umask applies).
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string temp = folder + "." + name + "." + RandomLetters();
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      m_tempPath = temp;
      return Open(fd);
    }
    if (errno != EEXIST) return 0;
  }
  return 0;
}

int CFile::Write(const void* data, size_t size) {
  if (!(m_nFlags & kWritable)) return 0;
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(m_hFile, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 0;  // a full disk shows as an error or a zero write
    p += n;
    size -= size_t(n);
  }
  return 1;
}

int64_t CFile::WriteTextA(const char* text) {
  if (!text || !(m_nFlags & kWritable)) return 0;
  if (m_nFlags & kUtf16) return WriteTextW(qev::Cp932ToUtf16(text).c_str());
  const size_t length = Length(text);
  CBuffer block;
  if (!block.Append(int64_t(ExpandedLength(text, length)), nullptr)) return 0;
  char* out = reinterpret_cast<char*>(block.m_pData);
  for (size_t i = 0; i < length; ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) *out++ = '\r';
    *out++ = text[i];
  }
  return Write(block.m_pData, block.m_nUsed) ? int64_t(block.m_nUsed) : 0;
}

int64_t CFile::WriteTextW(const char16_t* text) {
  if (!text || !(m_nFlags & kWritable)) return 0;
  if (!(m_nFlags & kUtf16)) return WriteTextA(qev::Utf16ToCp932(text).c_str());
  const size_t length = Length(text);
  CBuffer block;
  if (!block.Append(int64_t(ExpandedLength(text, length)) * 2, nullptr)) return 0;
  uint8_t* out = block.m_pData;
  auto put = [&out](char16_t unit) {
    *out++ = uint8_t(unit & 0xFF);
    *out++ = uint8_t(unit >> 8);
  };
  for (size_t i = 0; i < length; ++i) {
    if (text[i] == u'\n' && (i == 0 || text[i - 1] != u'\r')) put(u'\r');
    put(text[i]);
  }
  return Write(block.m_pData, block.m_nUsed) ? int64_t(block.m_nUsed) : 0;
}

int CFile::Sync() {
  if (m_hFile < 0) return 0;
  return ::fsync(m_hFile) == 0 ? 1 : 0;
}

int CFile::Close() {
  int result = 1;
  if (m_hFile >= 0 && ::close(m_hFile) != 0) result = 0;
  m_hFile = -1;
  m_nFlags = 0;
  return result;
}
