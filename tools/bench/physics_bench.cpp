// One displayed frame of a synthetic character with 90 rigid bodies and 90
// joints, as the viewer runs it: motion sampled, bone matrices, IK, bodies
// onto their bones, one physics step, and 30,000 face indices skinned. The
// physics step alone gives its share of the frame. Every heap allocation of
// the process is counted (the physics library's too, which bypasses
// operator new) and reported per frame after 100 warm-up frames.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/scene.h"
#include "tools/bench/allocation_count.h"
#include "tools/fixtures/pmd_fixture.h"
#include "tools/fixtures/vmd_fixture.h"

namespace {

using namespace qev::fixture;

constexpr int kBodies = 90;
constexpr int kBones = 120;
constexpr int kIndices = 30000;

// 120 bones in a chain, two IK chains near the end, 90 bodies (every tenth
// follows its bone, the rest hang from it in modes 1 and 2) joined in a
// strand, the last also to the ground: 90 joints.
PmdDesc Character() {
  PmdDesc d = LargePmd(10000, kIndices, kBones, 0, kBodies);
  MakeBodyStrand(&d, 20);

  // IK goals hang from the root; each pulls the end of a short chain.
  for (int k = 0; k < 2; ++k) {
    PmdBoneDesc goal;
    goal.name = "goal" + std::to_string(k);
    goal.parent = 0;
    goal.type = 2;
    goal.head[0] = 2.0f + k;
    goal.head[1] = 5.0f;
    d.bones.push_back(goal);
    PmdIkDesc ik;
    ik.ikBone = uint16_t(kBones + k);
    ik.target = uint16_t(12 + 4 * k);
    ik.chain = {uint16_t(11 + 4 * k), uint16_t(10 + 4 * k)};
    ik.iterations = 15;
    d.iks.push_back(ik);
  }
  return d;
}

VmdDesc Motion() {
  VmdDesc m;
  for (int b = 0; b < kBones; b += 7) {
    for (uint32_t f = 0; f <= 60; f += 10) {
      VmdBoneKeyDesc k;
      k.name = "bone" + std::to_string(b);
      k.frame = f;
      const float half = 0.1f * float(f % 20) / 20.0f;
      k.rot[2] = half;
      k.rot[3] = 1.0f;
      m.bones.push_back(k);
    }
  }
  for (uint32_t f : {0u, 30u, 60u}) {
    VmdBoneKeyDesc k;
    k.name = "goal0";
    k.frame = f;
    k.pos[1] = f == 30 ? 2.0f : 0.0f;
    m.bones.push_back(k);
  }
  return m;
}

// The scene loaded from files written once into a temporary folder.
struct Loaded {
  CScene scene;
  Loaded() {
    std::string dir = (std::filesystem::temp_directory_path() / "qevphys-XXXXXX").string();
    if (!mkdtemp(dir.data())) return;
    const std::string pmd = dir + "/bench.pmd", vmd = dir + "/bench.vmd";
    Write(pmd, BuildPmd(Character()));
    Write(vmd, BuildVmd(Motion()));
    std::string failure;
    ok = scene.LoadModel(pmd.c_str(), nullptr, &failure) && scene.LoadMotion(vmd.c_str(), &failure);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  static void Write(const std::string& path, const std::string& bytes) {
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
      std::fwrite(bytes.data(), 1, bytes.size(), f);
      std::fclose(f);
    }
  }
  void Frame() {
    scene.UpdateFrame(false);
    scene.UpdateSkin();
    for (int m = 0; m < scene.m_model.m_nMaterial; ++m) benchmark::DoNotOptimize(scene.SkinMaterial(m));
  }
  bool ok = false;
};

// Runs the frame; reports allocations per frame after 100 warm-up frames.
template <typename F>
void Measure(benchmark::State& state, Loaded& rig, F frame) {
  if (!rig.ok) {
    state.SkipWithError("the synthetic character did not load");
    return;
  }
  for (int i = 0; i < 100; ++i) frame();
  const long before = AllocationCount();
  for (auto _ : state) frame();
  const long allocations = AllocationCount() - before;
  state.counters["allocs_per_frame"] = double(allocations) / double(state.iterations());
  // The library's constraint solver now and then re-grows its scratch pools
  // when the bodies' islands change (a few allocations in hundreds of
  // frames); an allocation in every frame is a fault.
  if (allocations >= state.iterations()) state.SkipWithError("every frame allocated memory");
}

void BM_CharacterFrame(benchmark::State& state) {
  Loaded rig;
  rig.scene.CalcBullet = int(state.range(0));
  Measure(state, rig, [&] { rig.Frame(); });
  state.SetLabel(state.range(0) ? "physics on" : "physics off");
}
BENCHMARK(BM_CharacterFrame)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

void BM_PhysicsStep(benchmark::State& state) {
  Loaded rig;
  Measure(state, rig, [&] { rig.scene.m_physics.Step(1.0f / 30.0f); });
}
BENCHMARK(BM_PhysicsStep)->Unit(benchmark::kMicrosecond);

}  // namespace
