#include "platform/music.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace qev {
namespace {

// Sample frames the device asks for at a time: about 23 ms at 44.1 kHz.
constexpr int kDeviceFrames = 1024;

class SdlMusic : public PlatformMusic {
 public:
  SdlMusic() = default;
  ~SdlMusic() override {
    Close();
    if (m_audioUp) SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }

  bool Open(DecodedSound sound, std::string* why) override {
    Close();
    m_sound = std::move(sound);
    m_position = 0;
    m_playing = false;
    if (!m_audioUp) {
      if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return NoDevice(why);
      m_audioUp = true;
    }
    if (m_sound.channels < 1 || m_sound.rate <= 0) return NoDevice(why, "no sound");
    SDL_AudioSpec want{}, have{};
    want.freq = m_sound.rate;
    want.format = AUDIO_S16SYS;
    want.channels = Uint8(m_sound.channels);
    want.samples = kDeviceFrames;
    want.callback = &SdlMusic::Fill;
    want.userdata = this;
    // no changes allowed: SDL converts to whatever the hardware takes
    m_device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (m_device == 0) return NoDevice(why);
    return true;
  }

  bool HasDevice() const override { return m_device != 0; }

  void Play(bool playing) override {
    if (!m_device) {
      m_playing = playing;
      return;
    }
    SDL_LockAudioDevice(m_device);
    if (playing && !m_playing) {
      Stamp(m_position);
    } else if (!playing && m_playing) {
      m_position = HeardFrame();  // what was handed but not yet heard is played again
    }
    m_playing = playing;
    SDL_UnlockAudioDevice(m_device);
    SDL_PauseAudioDevice(m_device, playing ? 0 : 1);
  }

  void Seek(double seconds) override {
    const double frames = seconds * m_sound.rate;
    const double limit = 9.0e15;  // far beyond any sound, inside int64
    const int64_t frame = std::isfinite(frames) ? int64_t(std::llround(std::clamp(frames, -limit, limit))) : 0;
    if (m_device) SDL_LockAudioDevice(m_device);
    m_position = frame;
    Stamp(frame);
    if (m_device) SDL_UnlockAudioDevice(m_device);
  }

  double Seconds() override {
    if (m_sound.rate <= 0) return 0.0;
    if (!m_device) return double(m_position) / m_sound.rate;
    SDL_LockAudioDevice(m_device);
    const int64_t frame = m_playing ? HeardFrame() : m_position;
    SDL_UnlockAudioDevice(m_device);
    return double(frame) / m_sound.rate;
  }

 private:
  bool NoDevice(std::string* why, const char* reason = nullptr) {
    if (why) *why = reason ? reason : SDL_GetError();
    return false;
  }

  void Close() {
    if (m_device) SDL_CloseAudioDevice(m_device);
    m_device = 0;
  }

  // Under the device lock: the frame being heard from this moment on, for
  // a span of frames. After a seek or a start the span is 0: the clock waits
  // at the frame until the device asks for it.
  void Stamp(int64_t frame, int64_t span = 0) {
    m_stampFrame = frame;
    m_stampCounter = SDL_GetPerformanceCounter();
    m_span = span;
  }

  // Under the device lock: the last buffer's first frame plus the time since
  // it was handed over, never past that buffer's end, so the clock moves
  // smoothly between requests and never goes back at the next one.
  int64_t HeardFrame() const {
    const double elapsed = double(SDL_GetPerformanceCounter() - m_stampCounter) / double(SDL_GetPerformanceFrequency());
    const int64_t moved = int64_t(elapsed * m_sound.rate);
    return m_stampFrame + std::clamp<int64_t>(moved, 0, m_span);
  }

  // The device's request, on SDL's audio thread under the device lock.
  static void Fill(void* user, Uint8* stream, int bytes) {
    auto* self = static_cast<SdlMusic*>(user);
    std::memset(stream, 0, size_t(bytes));
    if (!self->m_playing) return;
    const int channels = self->m_sound.channels;
    const int64_t frames = bytes / int(sizeof(int16_t)) / channels;
    const int64_t total = self->m_sound.Frames();
    const int64_t first = self->m_position;
    // the part of [first, first + frames) that lies inside the sound
    const int64_t from = std::clamp<int64_t>(first, 0, total), to = std::clamp<int64_t>(first + frames, 0, total);
    if (to > from)
      std::memcpy(stream + (from - first) * channels * int64_t(sizeof(int16_t)),
                  self->m_sound.samples.data() + from * channels, size_t((to - from) * channels) * sizeof(int16_t));
    self->Stamp(first, frames);
    self->m_position = first + frames;
  }

  DecodedSound m_sound;
  SDL_AudioDeviceID m_device = 0;
  bool m_audioUp = false;
  // Shared with the audio thread, under the device lock.
  bool m_playing = false;
  int64_t m_position = 0;     // the next frame to hand to the device
  int64_t m_stampFrame = 0;   // the frame being heard at m_stampCounter
  uint64_t m_stampCounter = 0;
  int64_t m_span = 0;         // frames the clock may move on from m_stampFrame
};

}  // namespace

std::unique_ptr<PlatformMusic> CreateSystemMusic() { return std::make_unique<SdlMusic>(); }

}  // namespace qev
