// One label made into the text atlas: the face opened, the glyphs rendered,
// the outline pass and the copy into the atlas (on the recording device, so
// the processor's share alone). range(0): outline radius; 0 is the physics
// view's labels.
#include <benchmark/benchmark.h>

#include "platform/recording_device.h"
#include "render/dd_edge_font_mng.h"

namespace {

void BM_MakeText(benchmark::State& state) {
  qev::RecordingDevice device;
  CDDEdgeFontMng fonts;
  if (!fonts.Init(&device)) {
    state.SkipWithError("no atlas");
    return;
  }
  fonts.m_nEdgeWidth = int(state.range(0));
  for (auto _ : state) {
    if (!fonts.MakeText(u"ＭＳ ゴシック", u"剛体 head 頭 0.50")) state.SkipWithError("no text");
  }
  state.SetLabel("16 characters");
}

}  // namespace

BENCHMARK(BM_MakeText)->Arg(0)->Arg(1)->Arg(3)->Unit(benchmark::kMicrosecond);
