// glTF export speed: a large character (30,000 vertices, 200 bones, twelve
// morphs) with a 5,000-frame motion baked to .glb with physics off, and the
// same bake to .x beside it; the counters give each file's size.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/gltf_export.h"
#include "app/scene.h"
#include "app/x_export.h"
#include "support/debug.h"
#include "tools/fixtures/synthetic_character.h"

namespace {

constexpr qev::fixture::SyntheticShape kShape = {30000, 200, 6, 90000, 5000, 12};

// The files in memory when the machine has a memory file system, so the
// figures are the bake's and not the disk's.
struct BenchDir {
  std::string path;
  BenchDir() {
    const std::filesystem::path base =
        std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
    std::string tmpl = (base / "qevgltf-XXXXXX").string();
    if (mkdtemp(tmpl.data())) path = tmpl;
  }
  ~BenchDir() {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
  }
};

const BenchDir& Dir() {
  static const BenchDir dir;
  return dir;
}

// The character and its motion, loaded into a scene without physics.
std::unique_ptr<CScene> LargeScene() {
  CDebug::Global().Disable();
  const qev::fixture::PmdDesc model = qev::fixture::SyntheticCharacter(kShape);
  const std::string pmd = Dir().path + "/large.pmd", vmd = Dir().path + "/large.vmd";
  std::FILE* f = std::fopen(pmd.c_str(), "wb");
  const std::string bytes = qev::fixture::BuildPmd(model);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  f = std::fopen(vmd.c_str(), "wb");
  const std::string motion = qev::fixture::BuildVmd(qev::fixture::SyntheticMotion(model, kShape));
  std::fwrite(motion.data(), 1, motion.size(), f);
  std::fclose(f);
  auto scene = std::make_unique<CScene>();
  std::string failure;
  if (!scene->LoadModel(pmd.c_str(), nullptr, &failure) || !scene->LoadMotion(vmd.c_str(), &failure)) return nullptr;
  scene->m_physics.Clear();
  return scene;
}

void Bake(benchmark::State& state, bool gltf) {
  std::unique_ptr<CScene> scene = LargeScene();
  if (!scene) {
    state.SkipWithError("the character did not load");
    return;
  }
  const std::string out = Dir().path + (gltf ? "/large.glb" : "/large.x");
  const std::string model = Dir().path + "/large.pmd";
  for (auto _ : state) {
    std::string failure;
    const int written = gltf ? ExportGltf(*scene, model, out.c_str(), true, nullptr, &failure)
                             : ExportXSkin(*scene, out.c_str(), nullptr, &failure);
    if (!written) state.SkipWithError(failure.c_str());
  }
  state.counters["frames"] = double(scene->m_motion->m_nMaxFrame);
  state.counters["file_MiB"] = double(std::filesystem::file_size(out)) / 1048576.0;
}

void BM_BakeLargeToGlb(benchmark::State& state) { Bake(state, true); }
BENCHMARK(BM_BakeLargeToGlb)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_BakeLargeToX(benchmark::State& state) { Bake(state, false); }
BENCHMARK(BM_BakeLargeToX)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
