// The expressions' cost per frame: a 30,000-vertex model whose face (a base
// of 3,000 vertices) carries morphs of 300 entries each, the given number of
// them active with weights that change every frame: their weights sampled
// from a motion and the positions skinning starts from brought up to date.
#include <benchmark/benchmark.h>

#include <string>

#include "model/model_description.h"
#include "model/morph.h"
#include "model/vmd_file.h"
#include "tools/bench/allocation_count.h"
#include "tools/fixtures/pmd_fixture.h"
#include "tools/fixtures/vmd_fixture.h"

namespace {

constexpr int kVertices = 30000;
constexpr int kBase = 3000;
constexpr int kEntries = 300;
constexpr int kMorphs = 40;
constexpr uint32_t kMotionFrames = 120;

std::string Model() {
  qev::fixture::PmdDesc d = qev::fixture::LargePmd(kVertices, 3, 1, 0, 0);
  qev::fixture::PmdMorphDesc base;
  base.name = "base";
  for (int k = 0; k < kBase; ++k) base.vertices.push_back({uint32_t(k * 7 % kVertices), {0, 0, 0}});
  d.morphs = {base};
  for (int i = 1; i <= kMorphs; ++i) {
    qev::fixture::PmdMorphDesc m;
    m.name = "m" + std::to_string(i);
    m.kind = 1;
    for (int k = 0; k < kEntries; ++k)
      m.vertices.push_back({uint32_t((i * 131 + k * 9) % kBase), {0.01f * float(k % 7), -0.02f, 0.005f}});
    d.morphs.push_back(m);
  }
  return qev::fixture::BuildPmd(d);
}

// The first `active` morphs rise from 0 to 1 and fall back over the motion.
std::string Motion(int active) {
  qev::fixture::VmdDesc d;
  d.extent = qev::fixture::VmdExtent::kMorphs;
  for (int i = 1; i <= active; ++i) {
    const std::string name = "m" + std::to_string(i);
    d.morphs.push_back({name, 0, 0.0f});
    d.morphs.push_back({name, kMotionFrames / 2, 1.0f});
    d.morphs.push_back({name, kMotionFrames, 0.0f});
  }
  return qev::fixture::BuildVmd(d);
}

void BM_MorphFrame(benchmark::State& state) {
  const std::string model = Model(), motion = Motion(int(state.range(0)));
  CModelDescription pmd;
  CVmdFile vmd;
  if (!pmd.LoadFromMemory(model.data(), model.size()) || !vmd.LoadFromMemory(motion.data(), motion.size())) {
    state.SkipWithError("the benchmark's files did not load");
    return;
  }
  CMorph morph;
  morph.Build(pmd);
  morph.AttachMotion(vmd);
  float frame = 1.0f;  // never 0 or the middle twice in a row: every frame a weight changes
  long long frames = 0;
  const long before = AllocationCount();
  for (auto _ : state) {
    morph.SampleMotion(frame);
    benchmark::DoNotOptimize(morph.Positions());
    frame = frame + 1.0f < float(kMotionFrames) ? frame + 1.0f : 1.0f;
    ++frames;
  }
  const long allocations = AllocationCount() - before;
  state.counters["allocations_per_frame"] = frames ? double(allocations) / double(frames) : 0.0;
}
BENCHMARK(BM_MorphFrame)->ArgName("active")->Arg(0)->Arg(1)->Arg(30)->Unit(benchmark::kMicrosecond);

}  // namespace
