// The keyboard as the frame loop polls it: 256 virtual-key bytes, bit 7 set
// while the key is down. Tests script it.
#pragma once
#include <cstdint>

namespace qev {

class PlatformKeyboard {
 public:
  virtual ~PlatformKeyboard() = default;
  virtual void GetKeyboardState(uint8_t keys[256]);
};

PlatformKeyboard& SystemKeyboard();

}  // namespace qev
