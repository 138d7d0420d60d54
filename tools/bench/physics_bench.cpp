// One displayed frame of a synthetic character with 90 rigid bodies and 90
// joints, as the viewer runs it: motion sampled, bone matrices, IK, bodies
// onto their bones, the physics step (in 1 or 4 sub-steps), and 30,000 face
// indices skinned. The physics step alone gives its share of the frame.
// Every heap allocation of the process is counted (the physics library's
// too, which bypasses operator new) and reported per frame after 100
// warm-up frames. The dancer (91 bodies on hair and skirt strands) gives the
// frame of a dance, and how far its joints open, by sub-step count.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/scene.h"
#include "physics/bullet.h"
#include "tools/bench/allocation_count.h"
#include "tools/fixtures/dance_fixture.h"
#include "tools/fixtures/pmd_fixture.h"
#include "tools/fixtures/sample_character.h"
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
  Loaded() : Loaded(Character(), Motion()) {}
  Loaded(const PmdDesc& model, const VmdDesc& motion) {
    std::string dir = (std::filesystem::temp_directory_path() / "qevphys-XXXXXX").string();
    if (!mkdtemp(dir.data())) return;
    const std::string pmd = dir + "/bench.pmd", vmd = dir + "/bench.vmd";
    Write(pmd, BuildPmd(model));
    Write(vmd, BuildVmd(motion));
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
    for (int m = 0; m < int(scene.m_model.m_materials.size()); ++m) benchmark::DoNotOptimize(scene.SkinMaterial(m));
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

std::string SubstepLabel(int64_t substeps) {
  return std::to_string(substeps) + (substeps == 1 ? " sub-step" : " sub-steps");
}

// Arguments: physics on (1) or off (0), sub-steps.
void BM_CharacterFrame(benchmark::State& state) {
  Loaded rig;
  rig.scene.CalcBullet = int(state.range(0));
  rig.scene.m_physics.SetSubsteps(int(state.range(1)));
  Measure(state, rig, [&] { rig.Frame(); });
  state.SetLabel(state.range(0) ? "physics on, " + SubstepLabel(state.range(1)) : "physics off");
}
BENCHMARK(BM_CharacterFrame)->Args({1, 1})->Args({1, 4})->Args({0, 4})->Unit(benchmark::kMicrosecond);

void BM_PhysicsStep(benchmark::State& state) {
  Loaded rig;
  rig.scene.m_physics.SetSubsteps(int(state.range(0)));
  Measure(state, rig, [&] { rig.scene.m_physics.Step(1.0f / 30.0f); });
  state.SetLabel(SubstepLabel(state.range(0)));
}
BENCHMARK(BM_PhysicsStep)->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMicrosecond);

// A frame of the dance (motion, matrices, bodies onto bones, the physics
// step) with 91 bodies on 80 joints; the dance loops over its 3,000 frames.
void BM_DancerFrame(benchmark::State& state) {
  Loaded rig(DancerPmd(), DanceVmd());
  rig.scene.m_physics.SetSubsteps(int(state.range(0)));
  Measure(state, rig, [&] { rig.scene.UpdateFrame(false); });
  state.SetLabel(SubstepLabel(state.range(0)));
}
BENCHMARK(BM_DancerFrame)->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMicrosecond);

// How far the joints open over a whole play, by sub-step count: the gap of
// a joint is the distance between its place as each of its two bodies puts
// it, model units, after every frame. Counters: the widest gap of the play,
// the mean over every joint and frame, and the 99th percentile of the
// frames' widest gaps. Arguments: the play (0 the sample character walking
// for 600 frames, 1 the 3,000-frame dance), sub-steps.
void BM_JointGap(benchmark::State& state) {
  const bool dance = state.range(0) != 0;
  const int frames = dance ? 3000 : 600;
  for (auto _ : state) {
    state.PauseTiming();
    Loaded rig(dance ? DancerPmd() : SampleCharacter(), dance ? DanceVmd(frames) : SampleWalk());
    state.ResumeTiming();
    if (!rig.ok) {
      state.SkipWithError("the scene did not load");
      return;
    }
    rig.scene.m_physics.SetSubsteps(int(state.range(1)));
    CBullet& bullet = rig.scene.m_physics.Bullet();
    std::vector<float> widest(size_t(frames), 0.0f);
    double sum = 0;
    for (int f = 0; f < frames; ++f) {
      rig.scene.UpdateFrame(false);
      for (int j = 0; j < bullet.JointCount(); ++j) {
        const float gap = bullet.JointGap(j);
        sum += gap;
        widest[size_t(f)] = std::max(widest[size_t(f)], gap);
      }
    }
    const float worst = *std::max_element(widest.begin(), widest.end());
    std::nth_element(widest.begin(), widest.begin() + frames * 99 / 100, widest.end());
    state.counters["worst_gap"] = worst;
    state.counters["mean_gap"] = sum / (double(frames) * std::max(1, bullet.JointCount()));
    state.counters["p99_gap"] = widest[size_t(frames * 99 / 100)];
  }
  state.SetLabel(std::string(dance ? "dance, " : "sample walk, ") + SubstepLabel(state.range(1)));
}
BENCHMARK(BM_JointGap)
    ->ArgsProduct({{0, 1}, {1, 2, 4}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
