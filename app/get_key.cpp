#include "app/get_key.h"

CGetKey::CGetKey(qev::PlatformKeyboard& keyboard) : m_keyboard(keyboard) {}

void CGetKey::Update() {
  m_keyboard.GetKeyboardState(m_raw);
  for (int i = 0; i < 256; ++i) {
    const bool down = (m_raw[i] & 0x80) != 0;
    const uint8_t previous = m_state[i];
    if (down) m_state[i] = previous == kUp ? kPressed : kHeld;
    // a key down for one poll only goes 1 -> 0, never through 3
    else m_state[i] = previous == kHeld ? kReleased : kUp;
  }
}
