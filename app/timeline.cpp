#include "app/timeline.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/scene.h"

const char16_t* const CTimeline::kFace = u"ＭＳ ゴシック";

namespace {

// A pre-transformed coloured corner (format 0x44): screen pixels, depth, 1/w.
struct BarVertex {
  float x, y, z, rhw;
  D3DCOLOR color;
};
static_assert(sizeof(BarVertex) == 20, "bar vertices are 20 bytes");
constexpr DWORD kBarFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE;

// Two triangles covering the pixels [x0, x1) x [y0, y1): pixel centres lie
// on whole coordinates, so the edges lie half a pixel before them.
void PushRect(BarVertex* v, int* n, float x0, float y0, float x1, float y1, D3DCOLOR color) {
  x0 -= 0.5f, y0 -= 0.5f, x1 -= 0.5f, y1 -= 0.5f;
  const BarVertex a{x0, y0, 0, 1, color}, b{x0, y1, 0, 1, color}, c{x1, y0, 0, 1, color}, d{x1, y1, 0, 1, color};
  v[(*n)++] = a, v[(*n)++] = b, v[(*n)++] = c;
  v[(*n)++] = c, v[(*n)++] = b, v[(*n)++] = d;
}

// Pixels between the strip's parts and the picture's edges.
constexpr int kMargin = 12;
constexpr int kBandHeight = 52;

}  // namespace

TimelineLayout CTimeline::Layout(int width, int height) {
  TimelineLayout l;
  l.bandTop = height - kBandHeight;
  l.textLeft = kMargin;
  l.textTop = l.bandTop + 6;
  l.barLeft = kMargin;
  l.barRight = std::max(width - kMargin, l.barLeft);
  l.barTop = height - 22;
  l.barBottom = height - 12;
  l.knobHalfWidth = 3;
  l.knobReach = 4;
  return l;
}

std::string CTimeline::CounterText(const TimelineState& s) {
  const int64_t frame = s.motion ? s.frame : 0, last = s.motion ? s.last : 0;
  // the frame's time: 30 frames a second, hundredths cut, not rounded
  const int64_t hundredths = frame >= 0 ? frame * 100 / 30 : 0;
  const char* speed = s.speed == 0.5 ? "0.5x" : s.speed == 2.0 ? "2x" : "1x";
  char text[160];
  std::snprintf(text, sizeof text, "%s  %lld / %lld  %02lld:%02lld.%02lld  %s", s.playing ? "Play" : "Pause",
                static_cast<long long>(frame), static_cast<long long>(last),
                static_cast<long long>(hundredths / 6000), static_cast<long long>(hundredths / 100 % 60),
                static_cast<long long>(hundredths % 100), speed);
  return text;
}

std::u16string CTimeline::KeyHelpText() {
  return u"[Enter]Play/Pause [←][→]Step [PgUp][PgDn]30 [Home]Top [1][2][3]Speed [M]Music [F12]Timeline";
}

float CTimeline::KnobX(const TimelineLayout& l, int64_t frame, int64_t last) {
  if (last <= 0) return float(l.barLeft);
  const double t = std::clamp(double(frame) / double(last), 0.0, 1.0);
  return float(l.barLeft + (l.barRight - l.barLeft) * t);
}

int64_t CTimeline::FrameAt(const TimelineLayout& l, int x, int64_t last) {
  if (last <= 0 || l.barRight <= l.barLeft) return 0;
  const double t = std::clamp(double(x - l.barLeft) / double(l.barRight - l.barLeft), 0.0, 1.0);
  return int64_t(std::floor(t * double(last) + 0.5));
}

bool CTimeline::OnBar(const TimelineLayout& l, int x, int y) {
  constexpr int kSpare = 8;  // pixels around the bar that still catch a click
  return x >= l.barLeft - kSpare && x < l.barRight + kSpare && y >= l.barTop - kSpare && y < l.barBottom + kSpare;
}

void CTimeline::Draw(IDirect3DDevice9* device, int width, int height, const TimelineState& state) {
  if (!device) return;
  const TimelineLayout l = Layout(width, height);
  // over everything, whatever the model's drawing left set
  device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
  device->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
  device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);

  BarVertex v[24];
  int n = 0;
  PushRect(v, &n, 0, float(l.bandTop), float(width), float(height), kBandColor);
  const float knob = std::floor(KnobX(l, state.frame, state.last));
  const bool progress = state.motion && state.last > 0;
  const float played = progress ? knob : float(l.barLeft);
  PushRect(v, &n, float(l.barLeft), float(l.barTop), played, float(l.barBottom), kPlayedColor);
  PushRect(v, &n, played, float(l.barTop), float(l.barRight), float(l.barBottom), kTrackColor);
  if (state.motion)
    PushRect(v, &n, knob - float(l.knobHalfWidth), float(l.barTop - l.knobReach), knob + float(l.knobHalfWidth),
             float(l.barBottom + l.knobReach), kKnobColor);
  device->SetTexture(0, nullptr);
  device->SetFVF(kBarFvf);
  device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, unsigned(n / 3), v, sizeof(BarVertex));

  if (m_pFontDevice != device) {
    m_pFontDevice = device;
    m_lastCounter.clear();
    m_nHelpSlot = -1;
    // Without an atlas the text is left out; the bar still shows. The key
    // help is made first and kept in slot 1; slot 0 takes each new counter
    // in a place of its own.
    if (m_font.Init(device) && m_font.MakeText(kFace, KeyHelpText().c_str())) {
      m_font.m_slot[1] = m_font.m_slot[0];
      m_font.m_slot[0].used = 0;
      m_nHelpSlot = 1;
    }
  }
  const std::string counter = CounterText(state);
  if (counter != m_lastCounter) {
    const std::u16string text(counter.begin(), counter.end());  // ASCII
    m_lastCounter = m_font.MakeText(kFace, text.c_str()) ? counter : std::string();
  }
  m_font.DrawSlot(0, float(l.textLeft), float(l.textTop), 1.0f, 1.0f, 1.0f);

  if (state.keyHelp && m_nHelpSlot == 1) {
    // right-aligned, and left out when it would run into the counter
    const EdgeFontSlot& help = m_font.m_slot[1];
    const int x = width - kMargin - help.width;
    const int counterRight = l.textLeft + (m_font.m_slot[0].used ? m_font.m_slot[0].width : 0);
    if (x >= counterRight + kMargin) m_font.DrawSlot(1, float(x), float(l.textTop), 1.0f, 1.0f, 1.0f);
  }
}

void CTimeline::Release() {
  m_font.Reset();
  m_pFontDevice = nullptr;
  m_lastCounter.clear();
  m_nHelpSlot = -1;
}

TimelineState SceneTimeline(const CScene& scene) {
  TimelineState s;
  s.motion = scene.m_nMode == kMotionPlayback && scene.m_motion;
  if (s.motion) {
    s.frame = int64_t(scene.m_fFrame);
    s.last = scene.m_motion->m_nMaxFrame > 0 ? scene.m_motion->m_nMaxFrame - 1 : 0;
  }
  return s;
}
