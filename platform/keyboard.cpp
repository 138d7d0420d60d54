#include "platform/keyboard.h"

#include "platform/sdl_window.h"

namespace qev {

void PlatformKeyboard::GetKeyboardState(uint8_t keys[256]) { qev::GetKeyboardState(keys); }

PlatformKeyboard& SystemKeyboard() {
  static PlatformKeyboard keyboard;
  return keyboard;
}

}  // namespace qev
