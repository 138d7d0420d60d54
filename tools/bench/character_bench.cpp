// The character's cost per frame and per load: one frame of a synthetic
// 30,000-vertex, 224-bone model with 6 IK lists playing a motion (sampling,
// matrices, IK, skinning into the drawing buffer; nothing drawn), with the
// allocations it makes; one frame of a 130-bone model with 7 IK lists and a
// face playing a long dance without skinning (sampling, matrices, IK,
// morphs); and loading the large model with its scene assembly against the
// reader alone.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/scene.h"
#include "model/pmd_file.h"
#include "platform/codepage.h"
#include "tools/bench/allocation_count.h"
#include "tools/fixtures/pmd_fixture.h"
#include "tools/fixtures/vmd_fixture.h"

namespace {

constexpr int kMaterials = 10;

// A character's size and its motion's length.
struct Shape {
  int vertices;
  int bones;
  int limbs;  // each: hip, knee, ankle and an IK goal
  int indices;
  uint32_t motionFrames;
  int morphs;  // besides the base; the motion plays the first two
};
constexpr Shape kLarge = {30000, 224, 6, 90000, 120, 0};
// the size of a real dancer's skeleton, without a mesh to skin
constexpr Shape kDancer = {3000, 130, 7, 3000, 2800, 12};

// A trunk of bones up from the centre with six legs around it, each solved
// by its own IK list (knee then hip); every skeleton bone carries vertices,
// half of them blended with the bone's parent.
qev::fixture::PmdDesc SyntheticCharacter(const Shape& shape) {
  qev::fixture::PmdDesc d;
  d.name = "synthetic";
  auto bone = [&](const std::string& name, int parent, uint8_t type, float x, float y, float z) {
    qev::fixture::PmdBoneDesc b;
    b.name = qev::Sjis(name);
    b.parent = int16_t(parent);
    b.type = type;
    b.head[0] = x;
    b.head[1] = y;
    b.head[2] = z;
    d.bones.push_back(b);
    return int(d.bones.size() - 1);
  };
  bone("センター", -1, 1, 0, 10, 0);
  for (int l = 0; l < shape.limbs; ++l) {
    const float a = float(l) * 1.0471976f, x = 2 * std::cos(a), z = 2 * std::sin(a);
    const int hip = bone("足" + std::to_string(l), 0, 0, x, 10, z);
    const int knee = bone("ひざ" + std::to_string(l), hip, 0, x, 5.5f, z - 0.2f);
    const int ankle = bone("足首" + std::to_string(l), knee, 0, x, 1, z);
    const int goal = bone("足ＩＫ" + std::to_string(l), -1, 2, x, 1, z);
    qev::fixture::PmdIkDesc ik;
    ik.ikBone = uint16_t(goal);
    ik.target = uint16_t(ankle);
    ik.iterations = 40;
    ik.weight = 0.5f;
    ik.chain = {uint16_t(knee), uint16_t(hip)};
    d.iks.push_back(ik);
  }
  // The trunk: chains of eight bones, each chain starting at the centre.
  int parent = 0;
  for (int i = int(d.bones.size()); i < shape.bones; ++i) {
    if (i % 8 == 0) parent = 0;
    parent = bone("幹" + std::to_string(i), parent, 0, float(i % 8) * 0.3f, 10.5f + float(i % 8), float(i / 8) * 0.1f);
  }
  for (qev::fixture::PmdBoneDesc& b : d.bones) b.tail = 0;

  std::vector<int> skeleton;  // bones that carry vertices: not the IK goals
  for (int i = 0; i < shape.bones; ++i)
    if (d.bones[size_t(i)].type != 2) skeleton.push_back(i);
  d.vertices.resize(shape.vertices);
  for (int i = 0; i < shape.vertices; ++i) {
    qev::fixture::PmdVertexDesc& v = d.vertices[size_t(i)];
    const int b = skeleton[size_t(i) % skeleton.size()];
    const qev::fixture::PmdBoneDesc& rec = d.bones[size_t(b)];
    v.pos[0] = rec.head[0] + float(i % 7) * 0.1f;
    v.pos[1] = rec.head[1] - float(i % 5) * 0.2f;
    v.pos[2] = rec.head[2] + float(i % 3) * 0.1f;
    v.bone[0] = uint16_t(b);
    v.bone[1] = uint16_t(rec.parent >= 0 ? rec.parent : b);
    v.weight = uint8_t(i % 2 ? 100 : 30 + i % 60);
  }
  d.indices.resize(shape.indices);
  for (int i = 0; i < shape.indices; ++i) d.indices[size_t(i)] = uint16_t((i * 7 + i / 3) % shape.vertices);
  for (int m = 0; m < kMaterials; ++m) {
    qev::fixture::PmdMaterialDesc mat;
    mat.indexCount = shape.indices / kMaterials;
    d.materials.push_back(mat);
  }
  if (shape.morphs) {
    // a face on the first 300 vertices, each morph moving 60 of them
    qev::fixture::PmdMorphDesc base;
    base.name = "base";
    for (int k = 0; k < 300; ++k) {
      const qev::fixture::PmdVertexDesc& v = d.vertices[size_t(k)];
      base.vertices.push_back({uint32_t(k), {v.pos[0], v.pos[1], v.pos[2]}});
    }
    d.morphs = {base};
    for (int i = 1; i <= shape.morphs; ++i) {
      qev::fixture::PmdMorphDesc m;
      m.name = "f" + std::to_string(i);
      m.kind = 1;
      for (int k = 0; k < 60; ++k) m.vertices.push_back({uint32_t((i * 37 + k * 5) % 300), {0.01f, -0.02f, 0.005f}});
      d.morphs.push_back(m);
    }
  }
  d.extent = qev::fixture::PmdExtent::kToon;
  return d;
}

// Every bone turns back and forth on eased curves, a key every 15 frames;
// the centre bobs and the IK goals lift and swing; two morphs blink.
qev::fixture::VmdDesc SyntheticMotion(const qev::fixture::PmdDesc& model, const Shape& shape) {
  qev::fixture::VmdDesc d;
  d.extent = qev::fixture::VmdExtent::kMorphs;
  for (size_t b = 0; b < model.bones.size(); ++b) {
    const bool goal = model.bones[b].type == 2;
    for (uint32_t f = 0; f <= shape.motionFrames; f += 15) {
      qev::fixture::VmdBoneKeyDesc k;
      k.name = model.bones[b].name;
      k.frame = f;
      const float phase = float(f) / float(shape.motionFrames) * 6.2831853f + float(b);
      if (goal) {
        k.pos[1] = 1.5f + std::sin(phase);
        k.pos[2] = 2 * std::cos(phase);
      } else {
        const float angle = 0.2f * std::sin(phase);
        k.rot[0] = std::sin(angle / 2);
        k.rot[3] = std::cos(angle / 2);
        if (b == 0) k.pos[1] = 0.3f * std::sin(phase);
      }
      for (auto& channel : k.interp) {
        channel[0] = 50;
        channel[1] = 0;
        channel[2] = 77;
        channel[3] = 127;
      }
      d.bones.push_back(k);
    }
  }
  for (int i = 1; i <= std::min(shape.morphs, 2); ++i)
    for (uint32_t f = 0; f <= shape.motionFrames; f += 10)
      d.morphs.push_back({"f" + std::to_string(i), f, float((f / 10 + uint32_t(i)) % 2)});
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
  }
  ~Files() {
    std::error_code ec;
    if (!m_folder.empty()) std::filesystem::remove_all(m_folder, ec);
  }
  std::string Model(const Shape& shape = kLarge) const { return m_folder + "/" + Name(shape) + ".pmd"; }
  std::string Motion(const Shape& shape = kLarge) const { return m_folder + "/" + Name(shape) + ".vmd"; }

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
  long long frames = 0;
  const long before = AllocationCount();
  for (auto _ : state) {
    scene.UpdateFrame(false);
    scene.UpdateSkin();
    int skinned = 0;
    for (int m = 0; m < scene.m_model.m_nMaterial; ++m) skinned += scene.SkinMaterial(m);
    benchmark::DoNotOptimize(skinned);
    benchmark::DoNotOptimize(scene.m_drawBuffer.m_pData);
    ++frames;
  }
  const long allocations = AllocationCount() - before;
  state.counters["allocations_per_frame"] = frames ? double(allocations) / double(frames) : 0.0;
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
  CPmdFile model;
  for (auto _ : state) {
    if (!model.Load(BenchFiles().Model().c_str())) {
      state.SkipWithError("the synthetic character did not load");
      return;
    }
  }
}
BENCHMARK(BM_CharacterLoadReaderOnly)->Unit(benchmark::kMillisecond);

}  // namespace
