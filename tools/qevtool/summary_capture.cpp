#include "tools/qevtool/summary_capture.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/codepage.h"
#include "support/debug.h"

SummaryCapture::SummaryCapture() {
  CDebug::Global().SetTap([this](std::string_view line) { m_lines.emplace_back(line); });
}

SummaryCapture::~SummaryCapture() { CDebug::Global().SetTap(nullptr); }

void SummaryCapture::Print() const {
  for (const std::string& line : m_lines) std::fputs(qev::Cp932ToUtf8(line).c_str(), stdout);
}

std::string SummaryCapture::Reason(const char* path, const char* fallback) const {
  struct stat st {};
  if (stat(path, &st) != 0) return std::strerror(errno);
  if (!S_ISREG(st.st_mode)) return "not a regular file";
  if (m_lines.empty()) return fallback;
  std::string last = qev::Cp932ToUtf8(m_lines.back());
  while (!last.empty() && (last.back() == '\n' || last.back() == '\r')) last.pop_back();
  return last;
}
