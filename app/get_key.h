// CGetKey: the keyboard state machine. Each poll moves every key to
// 1 (pressed), 2 (held), 3 (released) or 0 (up); commands fire on 1 only.
#pragma once
#include <cstdint>

#include "platform/keyboard.h"

class CGetKey {
 public:
  enum State : uint8_t { kUp = 0, kPressed = 1, kHeld = 2, kReleased = 3 };

  explicit CGetKey(qev::PlatformKeyboard& keyboard = qev::SystemKeyboard());
  virtual ~CGetKey() = default;

  void Update();
  uint8_t State(int vk) const { return m_state[vk & 0xFF]; }

  uint8_t m_raw[256] = {};
  uint8_t m_state[256] = {};

 private:
  qev::PlatformKeyboard& m_keyboard;
};
