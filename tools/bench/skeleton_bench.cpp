// Skeletons from hostile files: a chain as deep as a model file allows
// (32,769 bones deep) loaded, played, dumped to the log and discarded, and the
// largest file whose parent chains all loop. Each cost should grow with the
// bone count, not with its square.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "app/scene.h"
#include "support/debug.h"
#include "tools/fixtures/pmd_fixture.h"
#include "tools/fixtures/vmd_fixture.h"

namespace {

// A folder for the benchmark's files, removed at exit.
class BenchDir {
 public:
  BenchDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "qevbench-XXXXXX").string();
    if (mkdtemp(tmpl.data())) m_path = tmpl;
  }
  ~BenchDir() {
    std::error_code ec;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
  }
  std::string Write(const std::string& name, const std::string& bytes) const {
    const std::string path = m_path + "/" + name;
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
      std::fwrite(bytes.data(), 1, bytes.size(), f);
      std::fclose(f);
    }
    return path;
  }

 private:
  std::string m_path;
};

const BenchDir& Dir() {
  static const BenchDir dir;
  return dir;
}

std::string ChainFile(int bones) {
  return Dir().Write("chain" + std::to_string(bones) + ".pmd", qev::fixture::BuildPmd(qev::fixture::DeepChainPmd(bones)));
}

// The first bone of the chain swings over 30 frames; every bone below follows.
std::string ChainMotionFile() {
  qev::fixture::VmdDesc d;
  qev::fixture::VmdBoneKeyDesc k0, k30;
  k0.name = k30.name = "c0";
  k30.frame = 30;
  k30.pos[0] = 3;
  k30.rot[0] = 0.2588190f;
  k30.rot[3] = 0.9659258f;
  d.bones = {k0, k30};
  return Dir().Write("chain.vmd", qev::fixture::BuildVmd(d));
}

// Loading the chain with its scene (the log off, so the tree is dumped to nowhere).
void BM_DeepChainLoad(benchmark::State& state) {
  const std::string path = ChainFile(int(state.range(0)));
  CDebug::Global().Disable();
  CScene scene;
  std::string failure;
  for (auto _ : state) {
    if (!scene.LoadModel(path.c_str(), nullptr, &failure)) state.SkipWithError("the chain did not load");
    state.PauseTiming();
    scene.DiscardModel();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_DeepChainLoad)->ArgName("bones")->Arg(28000)->Arg(40000)->Unit(benchmark::kMillisecond);

// Deleting the chain's skeleton and goal tree.
void BM_DeepChainDiscard(benchmark::State& state) {
  const std::string path = ChainFile(int(state.range(0)));
  CDebug::Global().Disable();
  CScene scene;
  std::string failure;
  for (auto _ : state) {
    state.PauseTiming();
    if (!scene.LoadModel(path.c_str(), nullptr, &failure)) state.SkipWithError("the chain did not load");
    state.ResumeTiming();
    scene.DiscardModel();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_DeepChainDiscard)->ArgName("bones")->Arg(28000)->Arg(40000)->Unit(benchmark::kMillisecond);

// The skeleton dumped to a log that only counts what reaches it.
void BM_DeepChainDump(benchmark::State& state) {
  const std::string path = ChainFile(int(state.range(0)));
  CDebug::Global().Disable();
  CScene scene;
  std::string failure;
  if (!scene.LoadModel(path.c_str(), nullptr, &failure)) {
    state.SkipWithError("the chain did not load");
    return;
  }
  int64_t logged = 0;
  CDebug::Global().SetTap([&logged](std::string_view message) { logged += int64_t(message.size()); });
  for (auto _ : state) scene.m_skeleton.Dump(0);
  CDebug::Global().SetTap(nullptr);
  state.SetBytesProcessed(logged);
}
BENCHMARK(BM_DeepChainDump)->ArgName("bones")->Arg(32769)->Unit(benchmark::kMillisecond);

// One frame of the chain's motion: every bone sampled and its world matrix made.
void BM_DeepChainMotionFrame(benchmark::State& state) {
  const std::string path = ChainFile(int(state.range(0)));
  const std::string motion = ChainMotionFile();
  CDebug::Global().Disable();
  CScene scene;
  scene.CalcBullet = 0;
  std::string failure;
  if (!scene.LoadModel(path.c_str(), nullptr, &failure) || !scene.LoadMotion(motion.c_str(), &failure)) {
    state.SkipWithError("the chain or its motion did not load");
    return;
  }
  for (auto _ : state) {
    scene.AdvanceMotion(1.0f);
    benchmark::DoNotOptimize(scene.W());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_DeepChainMotionFrame)->ArgName("bones")->Arg(40000)->Unit(benchmark::kMillisecond);

// Loading a file of 65,535 bones whose parent chains all run into one ring.
void BM_ParentLoopLoad(benchmark::State& state) {
  const std::string path =
      Dir().Write("loop.pmd", qev::fixture::BuildPmd(qev::fixture::ParentLoopPmd(int(state.range(0)))));
  CDebug::Global().Disable();
  CScene scene;
  std::string failure;
  for (auto _ : state)
    if (!scene.LoadModel(path.c_str(), nullptr, &failure)) state.SkipWithError("the file did not load");
  state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_ParentLoopLoad)->ArgName("bones")->Arg(65535)->Unit(benchmark::kMillisecond);

}  // namespace
