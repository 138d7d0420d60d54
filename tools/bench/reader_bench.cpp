// Reader speed: loading a large synthetic model and motion from memory (with
// the log written to a file or switched off), from a file, and, for scale,
// only reading the same file into memory.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "model/pmd_file.h"
#include "model/pmx_file.h"
#include "model/vmd_file.h"
#include "support/buffer.h"
#include "support/debug.h"
#include "tools/fixtures/pmd_fixture.h"
#include "tools/fixtures/pmx_fixture.h"
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
  std::string Path(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

const BenchDir& Dir() {
  static const BenchDir dir;
  return dir;
}

// 200,000 vertices, 600,000 indices, 500 bones, 100 morphs, 200 rigid bodies.
const std::string& LargeModel() {
  static const std::string bytes = qev::fixture::BuildPmd(qev::fixture::LargePmd(200000, 600000, 500, 100, 200));
  return bytes;
}

// 1,000,000 bone keys over 500 bones, frames out of order.
const std::string& LargeMotion() {
  static const std::string bytes = qev::fixture::BuildVmd(qev::fixture::LargeVmd(1000000, 500));
  return bytes;
}

// 1,000,000 bone keys on one bone: the worst case for keeping keys in order.
const std::string& OneBoneMotion() {
  static const std::string bytes = qev::fixture::BuildVmd(qev::fixture::LargeVmd(1000000, 1));
  return bytes;
}

// The global log for one benchmark: writing DEBUG.TXT, or switched off.
void SetLog(bool on) {
  CDebug::Global().SetTap(nullptr);
  if (on) {
    CDebug::Global().Open(Dir().Path("DEBUG.TXT").c_str());
    CDebug::Global().Clear();
  } else {
    CDebug::Global().Disable();
  }
}

void BM_PmdLoadFromMemory(benchmark::State& state) {
  const std::string& bytes = LargeModel();
  SetLog(state.range(0) != 0);
  for (auto _ : state) {
    CPmdFile pmd;
    if (!pmd.LoadFromMemory(bytes.data(), bytes.size())) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(pmd.m_pVertex.get());
  }
  SetLog(false);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}
BENCHMARK(BM_PmdLoadFromMemory)->ArgName("log")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// 30,000 vertices (a third of them SDEF), 90,000 indices, 200 bones with
// IK every 20, 50 morphs, 100 rigid bodies; Japanese names in UTF-16.
const std::string& LargePmxModel() {
  static const std::string bytes = qev::fixture::BuildPmx(qev::fixture::LargePmx(30000, 90000, 200, 50, 100));
  return bytes;
}

void BM_PmxLoadFromMemory(benchmark::State& state) {
  const std::string& bytes = LargePmxModel();
  SetLog(state.range(0) != 0);
  for (auto _ : state) {
    CPmxFile pmx;
    if (!pmx.LoadFromMemory(bytes.data(), bytes.size())) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(pmx.m_Vertices.data());
  }
  SetLog(false);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}
BENCHMARK(BM_PmxLoadFromMemory)->ArgName("log")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_PmdLoadFile(benchmark::State& state) {
  const std::string path = Dir().Write("large.pmd", LargeModel());
  SetLog(false);
  for (auto _ : state) {
    CPmdFile pmd;
    if (!pmd.Load(path.c_str())) state.SkipWithError("load failed");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(LargeModel().size()));
}
BENCHMARK(BM_PmdLoadFile)->Unit(benchmark::kMillisecond);

void BM_PmdReadFileOnly(benchmark::State& state) {
  const std::string path = Dir().Write("large.pmd", LargeModel());
  for (auto _ : state) {
    CBuffer buffer;
    if (!buffer.LoadFile(path.c_str())) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(buffer.m_pData);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(LargeModel().size()));
}
BENCHMARK(BM_PmdReadFileOnly)->Unit(benchmark::kMillisecond);

void BM_VmdLoadFromMemory(benchmark::State& state) {
  const std::string& bytes = LargeMotion();
  SetLog(state.range(0) != 0);
  for (auto _ : state) {
    CVmdFile vmd;
    if (!vmd.LoadFromMemory(bytes.data(), bytes.size())) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(vmd.m_pBoneTrack.get());
  }
  SetLog(false);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}
BENCHMARK(BM_VmdLoadFromMemory)->ArgName("log")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_VmdLoadOneBone(benchmark::State& state) {
  const std::string& bytes = OneBoneMotion();
  SetLog(false);
  for (auto _ : state) {
    CVmdFile vmd;
    if (!vmd.LoadFromMemory(bytes.data(), bytes.size())) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(vmd.m_pBoneTrack.get());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}
BENCHMARK(BM_VmdLoadOneBone)->Unit(benchmark::kMillisecond);

void BM_VmdLoadFile(benchmark::State& state) {
  const std::string path = Dir().Write("large.vmd", LargeMotion());
  SetLog(false);
  for (auto _ : state) {
    CVmdFile vmd;
    if (!vmd.Load(path.c_str())) state.SkipWithError("load failed");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(LargeMotion().size()));
}
BENCHMARK(BM_VmdLoadFile)->Unit(benchmark::kMillisecond);

void BM_VmdReadFileOnly(benchmark::State& state) {
  const std::string path = Dir().Write("large.vmd", LargeMotion());
  for (auto _ : state) {
    CBuffer buffer;
    if (!buffer.LoadFile(path.c_str())) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(buffer.m_pData);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(LargeMotion().size()));
}
BENCHMARK(BM_VmdReadFileOnly)->Unit(benchmark::kMillisecond);

// Sampling one track of a long motion at every frame of its range.
void BM_VmdSampleTrack(benchmark::State& state) {
  CVmdFile vmd;
  SetLog(false);
  vmd.LoadFromMemory(LargeMotion().data(), LargeMotion().size());
  const VmdBoneTrack& track = vmd.m_pBoneTrack[0];
  float frame = 0.0f;
  D3DXVECTOR3 pos;
  D3DXQUATERNION rot;
  for (auto _ : state) {
    SampleBoneKeys(track.pKey.get(), track.nKey, frame, &pos, &rot);
    benchmark::DoNotOptimize(rot);
    frame = frame > 100000.0f ? 0.0f : frame + 0.5f;
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_VmdSampleTrack);

}  // namespace
