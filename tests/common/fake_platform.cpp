#include "tests/common/fake_platform.h"

#include <algorithm>

namespace qev::test {

bool FakeClock::QueryPerformanceFrequency(int64_t* frequency) {
  if (!m_highResolution) return false;
  *frequency = m_frequency;
  return true;
}

bool FakeClock::QueryPerformanceCounter(int64_t* count) {
  if (!m_highResolution || m_counterFails) return false;
  *count = m_micros * m_frequency / 1000000;
  return true;
}

void FakeClock::Sleep(uint32_t ms) {
  m_micros += int64_t(ms) * 1000;
  if (m_onSleep) m_onSleep();
}

void ScriptedKeyboard::GetKeyboardState(uint8_t keys[256]) {
  ++m_polls;
  std::fill(keys, keys + 256, uint8_t(0));
  if (m_script.empty()) return;
  for (int vk : m_script.front()) keys[vk & 0xFF] = 0x80;
  m_script.pop_front();
}

bool ScriptedDialogs::Next(std::string* path, const FileFilter& filter, bool save) {
  m_asked.push_back({filter.description, *path, save});
  if (m_answers.empty()) return false;
  std::optional<std::string> answer = m_answers.front();
  m_answers.pop_front();
  if (!answer) return false;
  *path = *answer;
  return true;
}

bool ScriptedDialogs::GetOpenFileName(HWND, std::string* path, const FileFilter& filter) {
  return Next(path, filter, false);
}

bool ScriptedDialogs::GetSaveFileName(HWND, std::string* path, const FileFilter& filter) {
  return Next(path, filter, true);
}

int ScriptedDialogs::MessageBox(HWND, std::string_view text, std::string_view caption, UINT) {
  m_boxes.emplace_back(std::string(text), std::string(caption));
  return IDOK;
}

bool ScriptedMusic::Open(DecodedSound sound, std::string* why) {
  ++m_opens;
  m_sound = std::move(sound);
  m_opened = true;
  m_playing = false;
  m_seconds = 0.0;
  if (!m_device && why) *why = "no scripted device";
  return m_device;
}

void ScriptedMusic::Seek(double seconds) {
  m_seconds = seconds;
  m_seeks.push_back(seconds);
}

}  // namespace qev::test
