// Test helpers: a temporary directory removed at the end of the test, a
// scoped change of the working directory, and a capture of log messages.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace qev::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return m_path; }
  std::string Path(std::string_view name) const { return m_path + "/" + std::string(name); }
  // Names in the directory, sorted.
  std::vector<std::string> List() const;
  void WriteFile(std::string_view name, std::string_view bytes) const;
  std::string ReadFile(std::string_view name) const;

 private:
  std::string m_path;
};

class ChangeDir {
 public:
  explicit ChangeDir(const std::string& path);
  ~ChangeDir();

 private:
  std::string m_old;
};

// What a command line printed and how it ended.
struct CommandRun {
  int status = -1;  // exit status, -1 when it did not exit normally
  std::string out;
  std::string err;
};

// Runs a shell command line in a folder, collecting both output streams.
CommandRun RunIn(const TempDir& dir, const std::string& commandLine);

// Collects the messages written to the global log (stamp-less) while alive.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  const std::vector<std::string>& Lines() const { return m_lines; }
  // All messages joined.
  std::string Text() const;
  bool Contains(std::string_view fragment) const { return Text().find(fragment) != std::string::npos; }

 private:
  std::vector<std::string> m_lines;
};

}  // namespace qev::test
