// Music through the sound device (SDL2's audio): one decoded sound, a play
// position that may lie before the sound's start or past its end (silence
// there, the clock runs on), and the clock of what the listener hears now.
// Tests hand in a scripted one.
#pragma once
#include <memory>
#include <string>

#include "platform/sound_file.h"

namespace qev {

class PlatformMusic {
 public:
  virtual ~PlatformMusic() = default;
  // Takes a sound in place of the one held, stopped at its start, and opens
  // the sound device for it. False when there is no sound device (the reason
  // in *why): nothing is heard then, and Seconds stays where Seek put it.
  virtual bool Open(DecodedSound sound, std::string* why) = 0;
  virtual bool HasDevice() const = 0;
  // Starts or stops the sound where the position is.
  virtual void Play(bool playing) = 0;
  // Moves the position, in seconds from the sound's start (negative: that
  // long before it).
  virtual void Seek(double seconds) = 0;
  // Where the listener is, in seconds from the sound's start; between the
  // device's requests it moves on with the time passed since the last one.
  virtual double Seconds() = 0;
};

// Music on the system's sound device (SDL_AUDIODRIVER chooses the driver).
std::unique_ptr<PlatformMusic> CreateSystemMusic();

}  // namespace qev
