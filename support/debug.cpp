#include "support/debug.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/codepage.h"
#include "support/date_time.h"

namespace {

// Text-mode append: every line feed lands in the file as CR LF.
bool AppendText(const char* path, const char* mode, std::string_view text) {
  FILE* f = std::fopen(path, mode);
  if (!f) return false;
  std::string out;
  out.reserve(text.size() + 8);
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  const bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
  return std::fclose(f) == 0 && ok;
}

std::string CutMessage(std::string_view text) {
  if (text.size() <= kDebugMaxMessage) return std::string(text);
  std::string cut(text.substr(0, kDebugMaxMessage));
  cut += "...\n";
  return cut;
}

std::string FormatV(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n < 0) return {};
  std::string out(size_t(n) + 1, '\0');
  std::vsnprintf(out.data(), out.size(), format, args);
  out.resize(size_t(n));
  return out;
}

}  // namespace

CDebug& CDebug::Global() {
  static CDebug log;
  return log;
}

CDebug::~CDebug() {
  m_bEnabled = 0;
  m_bListening = false;
}

std::string CDebug::Stamp() {
  CDateTime dt;
  dt.SetFileTime(CDateTime::NowLocalFileTime());
  std::snprintf(dt.m_szText, sizeof dt.m_szText, "%04d/%02d/%02d %02d:%02d:%02d.%03d", dt.m_wYear,
                dt.m_wMonth, dt.m_wDay, dt.m_wHour, dt.m_wMinute, dt.m_wSecond, dt.m_wMilliseconds);
  return dt.m_szText;
}

int CDebug::Open(const char* path) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  if (path) {
    m_path = path;
  } else {
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd)) cwd[0] = '\0';
    std::string folder = std::string(cwd) + "/LOG";
    mkdir(folder.c_str(), 0777);  // may exist already
    CDateTime dt;
    dt.SetFileTime(CDateTime::NowLocalFileTime());
    char name[64];
    std::snprintf(name, sizeof name, "/%04d%02d%02d_%02d%02d%02d.LOG", dt.m_wYear, dt.m_wMonth,
                  dt.m_wDay, dt.m_wHour, dt.m_wMinute, dt.m_wSecond);
    m_path = folder + name;
    AppendText(m_path.c_str(), "wb", "[" + Stamp() + "] <<<<<< LOG START >>>>>>\n");
  }
  m_bEnabled = 1;
  m_bListening = true;
  return 1;
}

void CDebug::Disable() {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  m_bEnabled = 0;
  m_bListening = bool(m_tap);
}

void CDebug::SetTap(std::function<void(std::string_view)> tap) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  m_tap = std::move(tap);
  m_bListening = m_bEnabled || m_tap;
}

int CDebug::Write(const char* text) {
  if (!text) return 0;
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  if (!m_bEnabled && !m_tap) return 0;
  const std::string message = CutMessage(text);
  if (m_tap) m_tap(message);
  if (!m_bEnabled) return 0;
  return AppendText(m_path.c_str(), "ab", "[" + Stamp() + "] " + message) ? 1 : 0;
}

int CDebug::Clear() {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  if (!m_bEnabled) return 0;
  return AppendText(m_path.c_str(), "wb", "[" + Stamp() + "] << Log Clear >>\n") ? 1 : 0;
}

void DebugPrintf(const char* format, ...) {
  if (!CDebug::Global().Listening()) return;
  va_list args;
  va_start(args, format);
  const std::string text = FormatV(format, args);
  va_end(args);
  CDebug::Global().Write(text.c_str());
}

namespace {

// One narrow printf conversion of one value, however long its result.
template <typename T>
std::string FormatOne(const std::string& format, T value) {
  const int n = std::snprintf(nullptr, 0, format.c_str(), value);
  if (n < 0) return {};
  std::string out(size_t(n) + 1, '\0');
  std::snprintf(out.data(), out.size(), format.c_str(), value);
  out.resize(size_t(n));
  return out;
}

// printf over a UTF-16 format: literal units are copied, each conversion is
// formatted by the narrow printf (strings converted as they are taken).
std::u16string FormatW(const char16_t* format, va_list args) {
  std::u16string out;
  for (const char16_t* p = format; *p;) {
    if (*p != u'%') {
      out += *p++;
      continue;
    }
    if (p[1] == u'%') {
      out += u'%';
      p += 2;
      continue;
    }
    std::string piece = "%";
    ++p;
    while (*p && std::strchr("-+ #0123456789.*", char(*p) & 0x7F) && *p < 0x80) {
      if (*p == u'*') piece += std::to_string(va_arg(args, int));
      else piece += char(*p);
      ++p;
    }
    std::string length;
    while (*p && *p < 0x80 && std::strchr("hlLqjzt", char(*p))) length += char(*p++);
    const char16_t conv = *p ? *p++ : u'\0';
    switch (conv) {
      case u's':
      case u'S': {
        const bool narrow = conv == u'S' || length == "h";
        std::u16string s;
        if (narrow) {
          const char* a = va_arg(args, const char*);
          s = a ? qev::Cp932ToUtf16(a) : u"(null)";
        } else {
          const char16_t* a = va_arg(args, const char16_t*);
          s = a ? std::u16string(a) : u"(null)";
        }
        // width and precision count UTF-16 units
        const std::string probe(s.size(), 'x');
        const size_t shaped = FormatOne(piece + "s", probe.c_str()).size();
        const size_t kept = std::min(s.size(), shaped);
        const size_t pad = shaped - kept;
        if (piece.find('-') != std::string::npos) out += s.substr(0, kept) + std::u16string(pad, u' ');
        else out += std::u16string(pad, u' ') + s.substr(0, kept);
        break;
      }
      case u'c':
      case u'C':
        out += char16_t(va_arg(args, int));
        break;
      case u'd': case u'i': case u'u': case u'x': case u'X': case u'o': {
        const std::string s = piece + length + char(conv);
        if (length == "ll" || length == "q" || length == "j") out += qev::Utf8ToUtf16(FormatOne(s, va_arg(args, long long)));
        else if (length == "l" || length == "z" || length == "t") out += qev::Utf8ToUtf16(FormatOne(s, va_arg(args, long)));
        else out += qev::Utf8ToUtf16(FormatOne(s, va_arg(args, int)));
        break;
      }
      case u'f': case u'F': case u'e': case u'E': case u'g': case u'G': case u'a': case u'A': {
        out += qev::Utf8ToUtf16(FormatOne(piece + char(conv), va_arg(args, double)));
        break;
      }
      case u'p':
        out += qev::Utf8ToUtf16(FormatOne("%p", va_arg(args, void*)));
        break;
      default:
        break;  // unknown conversion: dropped
    }
  }
  return out;
}

}  // namespace

void DebugPrintfW(const char16_t* format, ...) {
  if (!format || !CDebug::Global().Listening()) return;
  va_list args;
  va_start(args, format);
  const std::u16string text = FormatW(format, args);
  va_end(args);
  // the narrow form goes through a 2048-byte buffer; what does not fit is cut
  std::string narrow = qev::Utf16ToCp932(text);
  if (narrow.size() > 2047) narrow.resize(2047);
  CDebug::Global().Write(narrow.c_str());
}

void DebugOutputf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatV(format, args);
  va_end(args);
  if (text.size() >= 2048) text = text.substr(0, kDebugMaxMessage) + "...\n";
  std::fwrite(text.data(), 1, text.size(), stderr);
}
