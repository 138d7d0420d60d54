#include "tests/common/temp_dir.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/debug.h"

namespace qev::test {

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "qevtest-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  m_path = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(m_path, ec);
}

std::vector<std::string> TempDir::List() const {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(m_path)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

void TempDir::WriteFile(std::string_view name, std::string_view bytes) const {
  std::ofstream out(Path(name), std::ios::binary);
  out.write(bytes.data(), std::streamsize(bytes.size()));
}

std::string TempDir::ReadFile(std::string_view name) const {
  std::ifstream in(Path(name), std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

ChangeDir::ChangeDir(const std::string& path) {
  char buf[4096];
  m_old = getcwd(buf, sizeof buf) ? buf : "/";
  if (chdir(path.c_str()) != 0) throw std::runtime_error("chdir failed");
}

ChangeDir::~ChangeDir() {
  if (chdir(m_old.c_str()) != 0) std::abort();
}

CommandRun RunIn(const TempDir& dir, const std::string& commandLine) {
  const std::string command = "cd '" + dir.Path() + "' && " + commandLine + " 2>'" + dir.Path("stderr.txt") + "'";
  CommandRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) run.out.append(buf, n);
  const int raw = pclose(pipe);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.err = dir.ReadFile("stderr.txt");
  return run;
}

LogCapture::LogCapture() {
  CDebug::Global().SetTap([this](std::string_view line) { m_lines.emplace_back(line); });
}

LogCapture::~LogCapture() { CDebug::Global().SetTap(nullptr); }

std::string LogCapture::Text() const {
  std::string all;
  for (const auto& l : m_lines) all += l;
  return all;
}

}  // namespace qev::test
