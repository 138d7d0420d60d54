// CDebug: the one process-wide log. Every diagnostic of the program lands in
// DEBUG.TXT as a stamped line "[yyyy/mm/dd hh:mm:ss.mmm] message"; the file is
// opened and closed for every line so it is complete after each one.
#pragma once
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

class CDebug {
 public:
  CDebug() = default;
  virtual ~CDebug();

  // Switches the log to a native path (not touched here), or, without one, to
  // a new dated file in LOG/ under the current directory. Always 1.
  int Open(const char* path);
  // Appends one stamped line; 0 when disabled or the file cannot be opened.
  int Write(const char* text);
  // Truncates the file and writes the "Log Clear" line.
  int Clear();
  // Stops logging until the next Open.
  void Disable();
  // Every message that Write accepts (after the length cut) is also handed to
  // the tap, stamp-less, even while the log is disabled. qevtool prints the
  // readers' summaries through it; tests read log lines through it.
  void SetTap(std::function<void(std::string_view)> tap);
  // Whether a message written now would go anywhere; the printf functions
  // skip formatting when it would not.
  bool Listening() const { return m_bListening.load(std::memory_order_relaxed); }

  const std::string& Path() const { return m_path; }
  // The stamp of the local time now, "yyyy/mm/dd hh:mm:ss.mmm".
  static std::string Stamp();

  // The log the free functions below write to.
  static CDebug& Global();

 private:
  int m_bEnabled = 0;
  std::recursive_mutex m_lock;
  std::string m_path;  // native path
  std::function<void(std::string_view)> m_tap;
  std::atomic<bool> m_bListening{false};  // enabled or tapped
};

// Narrow printf-style message (code page 932 bytes) to the log.
void DebugPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// UTF-16 printf-style message, converted to code page 932. In the format, %s
// takes a UTF-16 string and %S / %hs a narrow one; the rest is as in printf.
void DebugPrintfW(const char16_t* format, ...);
// Narrow printf-style message to the debugger output (stderr) only.
void DebugOutputf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The longest message stored whole; longer ones are cut and get "...\n".
constexpr size_t kDebugMaxMessage = 2044;
