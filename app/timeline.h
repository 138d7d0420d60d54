// CTimeline: the player's strip along the bottom of the picture, drawn
// through the device over everything else: the frame counter (play state,
// frame shown / last frame, time mm:ss.ff, speed) and the key help in the
// glyph fonts, and a bar that shows how far the motion has played and that
// the mouse clicks or drags to seek.
#pragma once
#include <cstdint>
#include <string>

#include "platform/d3d9.h"
#include "render/dd_edge_font_mng.h"

class CScene;

struct TimelineState {
  bool motion = false;  // a motion plays: the bar shows how far it is
  int64_t frame = 0;    // the frame shown
  int64_t last = 0;     // the last frame playback shows (the highest frame - 1)
  bool playing = true;
  double speed = 1.0;
  bool keyHelp = true;  // the player's keys on the right of the counter
};

// Where things lie in a picture of width x height pixels. Rectangles cover
// the pixels from left/top up to, not including, right/bottom.
struct TimelineLayout {
  int bandTop;                     // a half-dark band from here to the bottom
  int textLeft, textTop;           // the counter's top-left pixel
  int barLeft, barRight;           // the bar's ends
  int barTop, barBottom;
  int knobHalfWidth, knobReach;    // the knob sticks out this far above and below the bar
};

class CTimeline {
 public:
  // Opaque colours of the bar: the part not yet played, the part played, the knob.
  static constexpr D3DCOLOR kTrackColor = 0xFF505050;
  static constexpr D3DCOLOR kPlayedColor = 0xFF3C8CFF;
  static constexpr D3DCOLOR kKnobColor = 0xFFFFFFFF;
  // The band behind it all: black at this alpha.
  static constexpr D3DCOLOR kBandColor = 0xA0000000;
  // The face the text is drawn in (the same as the physics view's labels).
  static const char16_t* const kFace;

  CTimeline() = default;
  CTimeline(const CTimeline&) = delete;
  CTimeline& operator=(const CTimeline&) = delete;
  virtual ~CTimeline() = default;

  static TimelineLayout Layout(int width, int height);
  // "Play  20 / 59  00:00.66  1x": the state, the frame shown and the last,
  // the frame's time in minutes, seconds and hundredths, the speed.
  static std::string CounterText(const TimelineState& state);
  static std::u16string KeyHelpText();
  // The bar's x for a frame, and the frame nearest an x (both clamped).
  static float KnobX(const TimelineLayout& layout, int64_t frame, int64_t last);
  static int64_t FrameAt(const TimelineLayout& layout, int x, int64_t last);
  // Whether a click at (x, y) lands on the bar (with a few pixels to spare).
  static bool OnBar(const TimelineLayout& layout, int x, int y);

  // Draws the strip on a picture of width x height; the text atlas is made
  // on the device the first time.
  void Draw(IDirect3DDevice9* device, int width, int height, const TimelineState& state);
  // The atlas goes (before its device does).
  void Release();

  CDDEdgeFontMng m_font;

 private:
  IDirect3DDevice9* m_pFontDevice = nullptr;  // the device the atlas was made on
  std::string m_lastCounter;                  // the text in slot 0
  int m_nHelpSlot = -1;                       // the key help's slot, -1 when not made
};

// The timeline as a still frame of the scene shows it (`qevtool render`):
// the motion's frame, playing at 1x.
TimelineState SceneTimeline(const CScene& scene);
