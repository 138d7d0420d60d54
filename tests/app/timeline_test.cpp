// The timeline: its counter text, where the bar and knob lie and which frame
// a click means, and what it draws on the recording device (the band and
// bar in one call, the counter's and the key help's sprites where they
// belong, the text rasterised once per change).
#include "app/timeline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "platform/recording_device.h"
#include "render/dd_pro90.h"
#include "render/edge_font32.h"

namespace {

TEST(Timeline, CounterTextShowsStateFramesTimeAndSpeed) {
  const struct {
    TimelineState state;
    const char* text;
  } rows[] = {
      {{true, 20, 59, true, 1.0, true}, "Play  20 / 59  00:00.66  1x"},
      {{true, 30, 59, true, 1.0, true}, "Play  30 / 59  00:01.00  1x"},
      {{true, 1799, 1799, false, 0.5, true}, "Pause  1799 / 1799  00:59.96  0.5x"},
      {{true, 5400, 9000, true, 2.0, true}, "Play  5400 / 9000  03:00.00  2x"},
      {{true, 216000, 300000, true, 1.0, true}, "Play  216000 / 300000  120:00.00  1x"},
      {{false, 7, 9, false, 1.0, true}, "Pause  0 / 0  00:00.00  1x"},  // no motion: nothing counts
  };
  for (const auto& r : rows) EXPECT_EQ(CTimeline::CounterText(r.state), r.text);
}

TEST(Timeline, TheBarMapsFramesToPixelsBothWays) {
  const TimelineLayout l = CTimeline::Layout(1280, 800);
  EXPECT_EQ(l.barLeft, 12);
  EXPECT_EQ(l.barRight, 1268);
  EXPECT_EQ(l.barTop, 778);
  EXPECT_EQ(l.barBottom, 788);
  EXPECT_EQ(l.bandTop, 748);
  const struct {
    int x;
    int64_t last, frame;
  } clicks[] = {{12, 59, 0},    {1268, 59, 59}, {640, 59, 30},  {0, 59, 0}, {5000, 59, 59},
                {-300, 59, 0},  {33, 59, 1},    {22, 59, 0},    {640, 0, 0}, {640, 1, 1}};
  for (const auto& c : clicks) EXPECT_EQ(CTimeline::FrameAt(l, c.x, c.last), c.frame) << c.x << " of " << c.last;
  // Every frame's knob, clicked, is that frame again while the bar has a
  // pixel for every frame; longer motions share pixels, and a click lands
  // within half a pixel's frames.
  for (int64_t last : {1, 59, 1256, 1799, 100000}) {
    const double perPixel = double(last) / 1256.0;
    const int64_t slack = perPixel <= 1.0 ? 0 : int64_t(std::ceil(perPixel / 2));
    for (int64_t f = 0; f <= last; f += 1 + last / 300) {
      const int64_t clicked = CTimeline::FrameAt(l, int(std::lround(CTimeline::KnobX(l, f, last))), last);
      ASSERT_LE(std::llabs(clicked - f), slack) << f << " of " << last;
    }
  }
  EXPECT_FLOAT_EQ(CTimeline::KnobX(l, 20, 59), 12.0f + 1256.0f * 20 / 59);
  EXPECT_FLOAT_EQ(CTimeline::KnobX(l, 80, 59), 1268.0f);
  EXPECT_FLOAT_EQ(CTimeline::KnobX(l, 5, 0), 12.0f);

  const struct {
    int x, y;
    bool on;
  } points[] = {{640, 783, true},  {640, 770, true},  {640, 769, false}, {640, 795, true},  {640, 796, false},
                {4, 783, true},    {3, 783, false},   {1275, 783, true}, {1276, 783, false}, {640, 760, false}};
  for (const auto& p : points) EXPECT_EQ(CTimeline::OnBar(l, p.x, p.y), p.on) << p.x << ", " << p.y;
}

struct DrawRig {
  CDDPro90 frame;
  DrawRig() { EXPECT_EQ(frame.Init(nullptr, DeviceBackend::kRecording), 1); }
  qev::RecordingDevice& Device() { return *static_cast<qev::RecordingDevice*>(frame.m_pDevice); }
};

struct Corner {
  float x, y, z, rhw;
  D3DCOLOR color;
};

// The rectangles of a triangle list of two triangles each, as
// (left, top, right, bottom, colour) with the half-pixel shift undone.
std::vector<std::vector<float>> Rects(const qev::RecordedCall& call) {
  std::vector<Corner> v(call.vertices.size() / sizeof(Corner));
  std::memcpy(v.data(), call.vertices.data(), v.size() * sizeof(Corner));
  std::vector<std::vector<float>> out;
  for (size_t i = 0; i + 6 <= v.size(); i += 6) {
    EXPECT_EQ(v[i].color, v[i + 5].color);
    out.push_back({v[i].x + 0.5f, v[i].y + 0.5f, v[i + 5].x + 0.5f, v[i + 5].y + 0.5f, float(v[i].color)});
  }
  return out;
}

// The top-left corner of a sprite draw, with the half-pixel shift undone.
std::pair<float, float> SpriteAt(const qev::RecordedCall& call) {
  float xy[2];
  std::memcpy(xy, call.vertices.data(), sizeof xy);
  return {xy[0] + 0.5f, xy[1] + 0.5f};
}

TEST(Timeline, DrawsBandBarKnobAndTextOverEverything) {
  DrawRig rig;
  CTimeline timeline;
  const TimelineState state{true, 20, 59, true, 1.0, true};
  rig.frame.BeginDraw();
  rig.Device().ClearCalls();
  timeline.Draw(rig.frame.m_pDevice, 1280, 800, state);
  const auto texts = rig.Device().Texts();
  ASSERT_GE(texts.size(), 6u);
  EXPECT_EQ(texts[0], "SetRenderState(D3DRS_ZENABLE, 0)");
  EXPECT_EQ(texts[1], "SetRenderState(D3DRS_FILLMODE, 3)");
  EXPECT_EQ(texts[2], "SetRenderState(D3DRS_CULLMODE, 1)");
  EXPECT_EQ(texts[3], "SetTexture(0, null)");
  EXPECT_EQ(texts[4], "SetFVF(0x44)");
  const auto lists = rig.Device().Find("DrawPrimitiveUP(D3DPT_TRIANGLELIST");
  ASSERT_EQ(lists.size(), 1u);
  EXPECT_EQ(lists[0]->text, "DrawPrimitiveUP(D3DPT_TRIANGLELIST, 8, 20)");
  const float knob = std::floor(12.0f + 1256.0f * 20 / 59);  // 437
  const std::vector<std::vector<float>> want = {
      {0, 748, 1280, 800, float(CTimeline::kBandColor)},
      {12, 778, knob, 788, float(CTimeline::kPlayedColor)},
      {knob, 778, 1268, 788, float(CTimeline::kTrackColor)},
      {knob - 3, 774, knob + 3, 792, float(CTimeline::kKnobColor)},
  };
  EXPECT_EQ(Rects(*lists[0]), want);

  // The counter at the text's corner, the key help right-aligned on the
  // same line; both from the atlas made on this device.
  const auto sprites = rig.Device().Find("DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, 28)");
  ASSERT_EQ(sprites.size(), 2u);
  EXPECT_EQ(SpriteAt(*sprites[0]), std::make_pair(12.0f, 754.0f));
  const EdgeFontSlot& help = timeline.m_font.m_slot[1];
  ASSERT_EQ(help.used, 1);
  EXPECT_EQ(SpriteAt(*sprites[1]), std::make_pair(float(1280 - 12 - help.width), 754.0f));
  EXPECT_EQ(rig.Device().Find("CreateTexture(1024, 512").size(), 1u);

  // The counter's region holds the counter's text: the same outlined image
  // the glyph fonts make of it, one pixel in.
  CEdgeFont32 image;
  const std::string counter = CTimeline::CounterText(state);
  ASSERT_EQ(image.Make(std::u16string(counter.begin(), counter.end()).c_str(), CTimeline::kFace, 0, 1), 1);
  const EdgeFontSlot& slot = timeline.m_font.m_slot[0];
  EXPECT_EQ(slot.width, (image.m_nWidth + 3) / 2 * 2);
  const auto& atlas = static_cast<qev::RecordingTexture*>(timeline.m_font.m_pTexture)->Bits();
  int differing = 0;
  for (int r = 0; r < image.m_nHeight; ++r)
    differing += std::memcmp(&atlas[(size_t(slot.y + 1 + r) * 1024 + size_t(slot.x + 1)) * 4],
                             image.m_pBits + size_t(r) * size_t(image.m_nPitch), size_t(image.m_nPitch)) != 0;
  EXPECT_EQ(differing, 0);

  // The same counter next frame is not made again (a mark left in its region
  // stays); a new one is, over the mark.
  const EdgeFontSlot first = slot;
  auto* bits = const_cast<uint8_t*>(atlas.data());
  uint8_t* mark = &bits[(size_t(first.y) * 1024 + size_t(first.x)) * 4];
  std::memset(mark, 0x5A, 4);
  rig.Device().ClearCalls();
  timeline.Draw(rig.frame.m_pDevice, 1280, 800, state);
  EXPECT_EQ(mark[0], 0x5A);
  TimelineState next = state;
  next.frame = 21;
  timeline.Draw(rig.frame.m_pDevice, 1280, 800, next);
  EXPECT_EQ(timeline.m_font.m_slot[0].used, 1);
  EXPECT_EQ(timeline.m_font.m_slot[0].x, first.x);
  EXPECT_EQ(mark[0], 0);
  EXPECT_EQ(rig.Device().Find("CreateTexture").size(), 0u);
}

TEST(Timeline, WithoutAMotionTheBarIsEmptyAndNarrowPicturesDropTheKeyHelp) {
  DrawRig rig;
  CTimeline timeline;
  rig.frame.BeginDraw();
  rig.Device().ClearCalls();
  timeline.Draw(rig.frame.m_pDevice, 1280, 800, TimelineState{false, 0, 0, true, 1.0, true});
  const auto lists = rig.Device().Find("DrawPrimitiveUP(D3DPT_TRIANGLELIST");
  ASSERT_EQ(lists.size(), 1u);
  const auto rects = Rects(*lists[0]);
  ASSERT_EQ(rects.size(), 3u);  // no knob
  EXPECT_EQ(rects[1][0], rects[1][2]) << "nothing played";
  EXPECT_EQ(rects[2], (std::vector<float>{12, 778, 1268, 788, float(CTimeline::kTrackColor)}));

  // 400 pixels wide: the key help would run into the counter, so it is left out
  rig.Device().ClearCalls();
  timeline.Draw(rig.frame.m_pDevice, 400, 300, TimelineState{true, 3, 9, false, 2.0, true});
  EXPECT_EQ(rig.Device().Find("DrawPrimitiveUP(D3DPT_TRIANGLESTRIP").size(), 1u);
  // and a state that asks for no key help gets none
  rig.Device().ClearCalls();
  timeline.Draw(rig.frame.m_pDevice, 1280, 800, TimelineState{true, 3, 9, false, 2.0, false});
  EXPECT_EQ(rig.Device().Find("DrawPrimitiveUP(D3DPT_TRIANGLESTRIP").size(), 1u);
  // nothing at all without a device
  timeline.Draw(nullptr, 1280, 800, TimelineState{});
}

}  // namespace
