// The character's cost per frame and per load: one frame of a synthetic
// 30,000-vertex, 224-bone model with 6 IK lists playing a motion (sampling,
// matrices, IK, skinning into the drawing buffer; nothing drawn), with the
// allocations it makes; one frame of a 130-bone model with 7 IK lists and a
// face playing a long dance without skinning (sampling, matrices, IK,
// morphs); loading the large model with its scene assembly against the
// reader alone; and loading a 30,000-vertex, 200-bone model with its scene
// assembly from a PMD file and from the same model's PMX twin; and one frame
// of that model against its PMX twin with grants, IK limits and SDEF vertices.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/scene.h"
#include "model/model_description.h"
#include "tools/bench/allocation_count.h"
#include "tools/fixtures/pmx_fixture.h"
#include "tools/fixtures/synthetic_character.h"

namespace {

using Shape = qev::fixture::SyntheticShape;
constexpr Shape kLarge = qev::fixture::kSyntheticLarge;
constexpr Shape kDancer = qev::fixture::kSyntheticDancer;
constexpr Shape kTwin = {30000, 200, 6, 90000, 120, 0};
using qev::fixture::SyntheticCharacter;
using qev::fixture::SyntheticMotion;

// The PMX twin given what PMX models deform with: every `every`-th two-bone
// vertex spherical (centre and reference points on its second bone's head),
// every tenth bone with a parent granted half its parent's turn and move
// from a later layer (every other one from its parent's full pose), and
// every IK link limited (a knee's range on the first of each list, the whole
// turn on the others, so that the clamp runs on every step).
qev::fixture::PmxDesc DeformingTwin(const qev::fixture::PmdDesc& pmd, int every) {
  qev::fixture::PmxDesc d = qev::fixture::PmxTwin(pmd);
  for (size_t i = 0; i < d.vertices.size(); ++i) {
    qev::fixture::PmxVertexDesc& v = d.vertices[i];
    if (v.deform != 1 || i % size_t(every) != 0 || v.bone[1] < 0 || size_t(v.bone[1]) >= d.bones.size()) continue;
    v.deform = 3;
    for (int a = 0; a < 3; ++a) v.sdefC[a] = v.sdefR0[a] = v.sdefR1[a] = d.bones[size_t(v.bone[1])].pos[a];
  }
  int granted = 0;
  for (size_t j = 0; j < d.bones.size(); ++j) {
    qev::fixture::PmxBoneDesc& b = d.bones[j];
    if (b.parent < 0 || (b.flags & 0x0020) || j % 10 != 0) continue;
    b.flags |= 0x0300 | (granted++ % 2 ? 0x0080 : 0);
    b.grantParent = b.parent;
    b.grantRatio = 0.5f;
    b.layer = 1;
  }
  for (qev::fixture::PmxBoneDesc& b : d.bones) {
    for (size_t k = 0; k < b.ikLinks.size(); ++k) {
      qev::fixture::PmxIkLinkDesc& l = b.ikLinks[k];
      l.hasLimits = 1;
      const float lower[3] = {-3.14159f, k ? -1.5f : 0.0f, k ? -3.14159f : 0.0f};
      const float upper[3] = {k ? 3.14159f : -0.00873f, k ? 1.5f : 0.0f, k ? 3.14159f : 0.0f};
      for (int a = 0; a < 3; ++a) {
        l.lower[a] = lower[a];
        l.upper[a] = upper[a];
      }
    }
  }
  return d;
}

// The model and motion files in a folder removed at exit.
class Files {
 public:
  Files() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "qevbench-XXXXXX").string();
    if (mkdtemp(tmpl.data())) m_folder = tmpl;
    for (const Shape* shape : {&kLarge, &kDancer}) {
      const qev::fixture::PmdDesc model = SyntheticCharacter(*shape);
      Write(Model(*shape), qev::fixture::BuildPmd(model));
      Write(Motion(*shape), qev::fixture::BuildVmd(SyntheticMotion(model, *shape)));
    }
    const qev::fixture::PmdDesc twin = SyntheticCharacter(kTwin);
    Write(Twin(false), qev::fixture::BuildPmd(twin));
    Write(Twin(true), qev::fixture::BuildPmx(qev::fixture::PmxTwin(twin)));
    Write(TwinMotion(), qev::fixture::BuildVmd(SyntheticMotion(twin, kTwin)));
    Write(Deforming(3), qev::fixture::BuildPmx(DeformingTwin(twin, 3)));
    Write(Deforming(10), qev::fixture::BuildPmx(DeformingTwin(twin, 10)));
  }
  ~Files() {
    std::error_code ec;
    if (!m_folder.empty()) std::filesystem::remove_all(m_folder, ec);
  }
  std::string Model(const Shape& shape = kLarge) const { return m_folder + "/" + Name(shape) + ".pmd"; }
  std::string Motion(const Shape& shape = kLarge) const { return m_folder + "/" + Name(shape) + ".vmd"; }
  // the 200-bone model as PMD or as its PMX twin
  std::string Twin(bool pmx) const { return m_folder + "/twin" + (pmx ? ".pmx" : ".pmd"); }
  std::string TwinMotion() const { return m_folder + "/twin.vmd"; }
  // the PMX twin with grant bones, limited IK links and spherical vertices
  std::string Deforming(int every) const { return m_folder + "/deforming" + std::to_string(every) + ".pmx"; }

 private:
  static std::string Name(const Shape& shape) { return "synthetic" + std::to_string(shape.bones); }
  static void Write(const std::string& path, const std::string& bytes) {
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
      std::fwrite(bytes.data(), 1, bytes.size(), f);
      std::fclose(f);
    }
  }
  std::string m_folder;
};

const Files& BenchFiles() {
  static const Files files;
  return files;
}

// The timed loop of a displayed frame without the drawing: the motion
// advanced and evaluated, then every material skinned into the drawing
// buffer; with the allocations each frame made.
void PlaySkinnedFrames(benchmark::State& state, CScene& scene) {
  long long frames = 0;
  const long before = AllocationCount();
  for (auto _ : state) {
    scene.UpdateFrame(false);
    scene.UpdateSkin();
    int skinned = 0;
    for (int m = 0; m < int(scene.m_model.m_materials.size()); ++m) skinned += scene.SkinMaterial(m);
    benchmark::DoNotOptimize(skinned);
    benchmark::DoNotOptimize(scene.m_drawBuffer.m_pData);
    ++frames;
  }
  const long allocations = AllocationCount() - before;
  state.counters["allocations_per_frame"] = frames ? double(allocations) / double(frames) : 0.0;
}

// One displayed frame without the drawing: the motion advanced and
// evaluated (sampling, matrices, IK), then every material skinned into the
// drawing buffer. Physics is off: the model has no bodies.
void BM_CharacterMotionFrame(benchmark::State& state) {
  CScene scene;
  std::string failure;
  scene.CalcBullet = 0;
  scene.CalcIK = int(state.range(0));
  if (!scene.LoadModel(BenchFiles().Model().c_str(), nullptr, &failure) ||
      !scene.LoadMotion(BenchFiles().Motion().c_str(), &failure)) {
    state.SkipWithError("the synthetic character did not load");
    return;
  }
  PlaySkinnedFrames(state, scene);
  state.counters["vertices_skinned"] = double(kLarge.indices);
}
BENCHMARK(BM_CharacterMotionFrame)->ArgName("ik")->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

// One frame of the dancer as playback makes it, without skinning: bone
// sampling, matrices, IK and the face's positions. Frames run through the
// whole dance and wrap, as they do while it plays.
void BM_DancerFrameNoSkin(benchmark::State& state) {
  CScene scene;
  std::string failure;
  scene.CalcBullet = 0;
  scene.CalcIK = int(state.range(0));
  if (!scene.LoadModel(BenchFiles().Model(kDancer).c_str(), nullptr, &failure) ||
      !scene.LoadMotion(BenchFiles().Motion(kDancer).c_str(), &failure)) {
    state.SkipWithError("the synthetic dancer did not load");
    return;
  }
  long long frames = 0;
  const long before = AllocationCount();
  for (auto _ : state) {
    scene.UpdateFrame(false);
    benchmark::DoNotOptimize(scene.m_morph.Positions());
    benchmark::DoNotOptimize(scene.W());
    ++frames;
  }
  const long allocations = AllocationCount() - before;
  state.counters["allocations_per_frame"] = frames ? double(allocations) / double(frames) : 0.0;
}
BENCHMARK(BM_DancerFrameNoSkin)->ArgName("ik")->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

// Loading the model and assembling its scene (no device: no textures).
void BM_CharacterLoadWithScene(benchmark::State& state) {
  CScene scene;
  std::string failure;
  long long loads = 0;
  const long before = AllocationCount();
  for (auto _ : state) {
    if (!scene.LoadModel(BenchFiles().Model().c_str(), nullptr, &failure)) {
      state.SkipWithError("the synthetic character did not load");
      return;
    }
    ++loads;
  }
  // A load allocates; the count shows the counting works.
  state.counters["allocations_per_load"] = loads ? double(AllocationCount() - before) / double(loads) : 0.0;
}
BENCHMARK(BM_CharacterLoadWithScene)->Unit(benchmark::kMillisecond);

// The reader alone on the same file.
void BM_CharacterLoadReaderOnly(benchmark::State& state) {
  CModelDescription model;
  for (auto _ : state) {
    if (!model.Load(BenchFiles().Model().c_str())) {
      state.SkipWithError("the synthetic character did not load");
      return;
    }
  }
}
BENCHMARK(BM_CharacterLoadReaderOnly)->Unit(benchmark::kMillisecond);

// Loading a 30,000-vertex, 200-bone model and assembling its scene (no
// device: no textures), from PMD (0) or from its PMX twin (1): the PMX
// reader, the fill of the model description and the same assembly.
void BM_ModelLoadWithScene(benchmark::State& state) {
  const std::string path = BenchFiles().Twin(state.range(0) != 0);
  CScene scene;
  std::string failure;
  for (auto _ : state) {
    if (!scene.LoadModel(path.c_str(), nullptr, &failure)) {
      state.SkipWithError("the model did not load");
      return;
    }
  }
}
BENCHMARK(BM_ModelLoadWithScene)->ArgName("pmx")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// One character frame of the 200-bone model playing a motion, IK on, as
// BM_CharacterMotionFrame makes it: from the PMD file (sdef_every 0), its
// plain PMX twin (-1), or from the PMX twin with grant bones, limited IK links and every third or every
// tenth two-bone vertex spherical.
void BM_DeformingFrame(benchmark::State& state) {
  const int every = int(state.range(0));
  const std::string path = every > 0 ? BenchFiles().Deforming(every) : BenchFiles().Twin(every < 0);
  CScene scene;
  std::string failure;
  scene.CalcBullet = 0;
  if (!scene.LoadModel(path.c_str(), nullptr, &failure) || !scene.LoadMotion(BenchFiles().TwinMotion().c_str(), &failure)) {
    state.SkipWithError("the 200-bone model did not load");
    return;
  }
  PlaySkinnedFrames(state, scene);
  int sdef = 0;
  for (const ModelVertex& v : scene.m_model.m_vertices) sdef += v.skinning == kSkinSdef;
  state.counters["sdef_vertices"] = sdef;
}
BENCHMARK(BM_DeformingFrame)->ArgName("sdef_every")->Arg(0)->Arg(-1)->Arg(3)->Arg(10)->Unit(benchmark::kMicrosecond);

}  // namespace
