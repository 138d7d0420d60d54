// Collects what the log is told while alive (stamp-less), so a command can
// print a reader's summary or tell why a load failed.
#pragma once
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

class SummaryCapture {
 public:
  SummaryCapture();
  ~SummaryCapture();
  SummaryCapture(const SummaryCapture&) = delete;
  SummaryCapture& operator=(const SummaryCapture&) = delete;

  // The summary on stdout in UTF-8. Bytes that are no code page 932 text
  // (a name cut inside a double-byte character) print as a replacement
  // character; the reader's own bytes are left as they are.
  void Print() const;
  // Why a load failed: the file cannot be read, or the reader's last log
  // line, or the fallback.
  std::string Reason(const char* path, const char* fallback) const;

 private:
  std::vector<std::string> m_lines;
};
