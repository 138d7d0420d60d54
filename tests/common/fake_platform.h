// Scripted stand-ins for the outside world: a clock that moves only when told
// (or when slept on), a keyboard that plays back key sets poll by poll, file
// dialogs and message boxes that answer from a script and remember what they
// were asked, and music whose clock the test moves.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/keyboard.h"
#include "platform/music.h"

namespace qev::test {

class FakeClock : public PlatformClock {
 public:
  explicit FakeClock(bool highResolution, int64_t frequency = 1000000)
      : m_highResolution(highResolution), m_frequency(frequency) {}
  bool QueryPerformanceFrequency(int64_t* frequency) override;
  bool QueryPerformanceCounter(int64_t* count) override;
  uint32_t TimeGetTime() override { return uint32_t(m_micros / 1000); }
  void Sleep(uint32_t ms) override;

  void AdvanceMs(double ms) { m_micros += int64_t(ms * 1000); }
  int64_t Micros() const { return m_micros; }
  bool m_counterFails = false;
  // called after every Sleep, with the time slept so far
  std::function<void()> m_onSleep;

 private:
  bool m_highResolution;
  int64_t m_frequency;
  int64_t m_micros = 0;
};

class ScriptedKeyboard : public PlatformKeyboard {
 public:
  // The keys held down at each coming poll; after the script, all keys are up.
  void Then(std::set<int> down) { m_script.push_back(std::move(down)); }
  void GetKeyboardState(uint8_t keys[256]) override;
  int Polls() const { return m_polls; }

 private:
  std::deque<std::set<int>> m_script;
  int m_polls = 0;
};

class ScriptedDialogs : public PlatformDialogs {
 public:
  struct Asked {
    std::u16string description;
    std::string startPath;
    bool save;
  };
  // The next dialog's answer: a path, or nullopt for cancel.
  void Answer(std::optional<std::string> path) { m_answers.push_back(std::move(path)); }
  bool GetOpenFileName(HWND owner, std::string* path, const FileFilter& filter) override;
  bool GetSaveFileName(HWND owner, std::string* path, const FileFilter& filter) override;
  int MessageBox(HWND owner, std::string_view text, std::string_view caption, UINT type) override;

  std::vector<Asked> m_asked;
  std::vector<std::pair<std::string, std::string>> m_boxes;  // text, caption (code page 932)

 private:
  bool Next(std::string* path, const FileFilter& filter, bool save);
  std::deque<std::optional<std::string>> m_answers;
};

// A sound device whose listener is wherever the test says (m_seconds); it
// remembers how it was driven.
class ScriptedMusic : public PlatformMusic {
 public:
  bool Open(DecodedSound sound, std::string* why) override;
  bool HasDevice() const override { return m_opened && m_device; }
  void Play(bool playing) override { m_playing = playing; }
  void Seek(double seconds) override;
  double Seconds() override { return m_seconds; }

  bool m_device = true;  // false: Open finds no device
  bool m_opened = false;
  int m_opens = 0;
  DecodedSound m_sound;
  bool m_playing = false;
  double m_seconds = 0.0;
  std::vector<double> m_seeks;
};

}  // namespace qev::test
