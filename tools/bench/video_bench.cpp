// `qevtool video` of the 30,000-vertex synthetic character at 1280 x 720,
// solid, on the offscreen OpenGL device: pictures a second for the drawing
// alone (a frame of playback, the frame drawn and read back), the encoding
// alone (H.264 of pictures drawn beforehand, through the encoder's thread
// and queue) and the whole recording with both side by side. Rates are per
// wall-clock second; "encode_busy_fps" counts only the encoding thread's
// working time.
// The character's triangles join vertices of bones far apart, so they
// sprawl across the figure and the software rasteriser fills each pixel
// many times over; /compact:1 draws the same vertices and skeleton with
// each triangle kept on one bone, as a modelled character's are. /shaded:1
// draws as `--solid` does (lit, toon, outlines, 4 samples a pixel), /shaded:0
// as `--solid --unlit`.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/draw_frame.h"
#include "app/grid.h"
#include "app/scene.h"
#include "app/start_up_view.h"
#include "app/video_export.h"
#include "export/video_encoder.h"
#include "render/d3d_camera.h"
#include "render/d3d_line90.h"
#include "render/d3d_locater.h"
#include "render/dd_pro90.h"
#include "tools/fixtures/synthetic_character.h"

namespace {

constexpr int kWidth = 1280, kHeight = 720, kFps = 30;

// The character, its motion and the videos, in a folder removed at exit.
class Folder {
 public:
  Folder() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "qevbench-XXXXXX").string();
    if (mkdtemp(tmpl.data())) m_path = tmpl;
    const qev::fixture::PmdDesc model = qev::fixture::SyntheticCharacter(qev::fixture::kSyntheticLarge);
    Write("synthetic.pmd", qev::fixture::BuildPmd(model));
    Write("synthetic.vmd", qev::fixture::BuildVmd(qev::fixture::SyntheticMotion(model, qev::fixture::kSyntheticLarge)));
    // Vertices i, i + n and i + 2n hang on the same bone, n being the count
    // of bones that carry vertices (near the end: i, i - n, i - 2n).
    qev::fixture::PmdDesc compact = model;
    int carriers = 0;
    for (const qev::fixture::PmdBoneDesc& b : model.bones) carriers += b.type != 2;
    const int vertices = int(model.vertices.size());
    for (size_t t = 0; t + 2 < compact.indices.size(); t += 3) {
      const int first = int(t / 3) % vertices, step = first + 2 * carriers < vertices ? carriers : -carriers;
      for (int k = 0; k < 3; ++k) compact.indices[t + size_t(k)] = uint16_t(first + k * step);
    }
    Write("compact.pmd", qev::fixture::BuildPmd(compact));
  }
  ~Folder() {
    std::error_code ec;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
  }
  std::string Path(const char* name) const { return m_path + "/" + name; }

 private:
  void Write(const char* name, const std::string& bytes) {
    if (FILE* f = std::fopen(Path(name).c_str(), "wb")) {
      std::fwrite(bytes.data(), 1, bytes.size(), f);
      std::fclose(f);
    }
  }
  std::string m_path;
};

const Folder& BenchFolder() {
  static const Folder folder;
  return folder;
}

// What `qevtool video --solid [--unlit] --size 1280x720` sets up: device,
// camera, grid, IK goal markers, the character playing its motion.
struct Studio {
  CDDPro90 deviceFrame;
  CD3DCamera camera;
  CD3DLocater ikGoalLocator;
  CD3DLine90 grid;
  CScene scene;
  FrameDrawing frame;
  bool ready = false;

  Studio(bool compact, bool shaded) {
    if (shaded) deviceFrame.m_multiSampleType = D3DMULTISAMPLE_4_SAMPLES;
    if (!deviceFrame.Init(nullptr, DeviceBackend::kOffscreenGl, kWidth, kHeight)) return;
    SetStartUpCamera(&camera, deviceFrame.m_pDevice, float(kWidth) / float(kHeight));
    SetUpIkGoalLocator(&ikGoalLocator);
    BuildGrid(&grid);
    std::string failure;
    const char* model = compact ? "compact.pmd" : "synthetic.pmd";
    if (!scene.LoadModel(BenchFolder().Path(model).c_str(), deviceFrame.m_pDevice, &failure) ||
        !scene.LoadMotion(BenchFolder().Path("synthetic.vmd").c_str(), &failure))
      return;
    frame.device = deviceFrame.m_pDevice;
    frame.camera = &camera;
    frame.grid = &grid;
    frame.ikGoalLocator = &ikGoalLocator;
    frame.DrawType = 2;
    frame.Shaded = shaded ? 1 : 0;
    AddSceneSteps(&frame, &scene);
    ready = true;
  }
  int Draw(std::vector<uint32_t>* pixels) {
    DrawWholeFrame(&deviceFrame, frame);
    return SUCCEEDED(deviceFrame.m_pDevice->ReadBackBuffer(pixels, nullptr, nullptr)) ? 1 : 0;
  }
};

VideoOptions Options(int64_t frames) {
  VideoOptions o;
  o.width = kWidth;
  o.height = kHeight;
  o.fps = kFps;
  o.frames = frames;
  return o;
}

// One picture: a frame of playback, drawn and read back.
void BM_VideoDraw(benchmark::State& state) {
  Studio studio(state.range(0) != 0, state.range(1) != 0);
  if (!studio.ready) return state.SkipWithError("no offscreen device or no character");
  std::vector<uint32_t> pixels;
  for (auto _ : state) {
    StepVideoFrame(studio.scene, kFps);
    if (!studio.Draw(&pixels)) return state.SkipWithError("nothing read back");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_VideoDraw)
    ->ArgNames({"compact", "shaded"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A video of pictures drawn beforehand (a second of the motion, repeated):
// each iteration hands one over, waiting while the queue is full, so the
// rate is the encoder's.
void BM_VideoEncode(benchmark::State& state) {
  std::vector<std::vector<uint32_t>> drawn(kFps);
  {
    Studio studio(true, false);
    if (!studio.ready) return state.SkipWithError("no offscreen device or no character");
    for (auto& p : drawn) {
      StepVideoFrame(studio.scene, kFps);
      studio.Draw(&p);
    }
  }
  const std::string target = BenchFolder().Path("encode.mp4");
  const int64_t frames = int64_t(state.max_iterations);
  CVideoEncoder encoder;
  if (!encoder.Open(target, Options(frames))) return state.SkipWithError(encoder.Reason().c_str());
  int64_t n = 0;
  std::vector<uint32_t> pixels;
  for (auto _ : state) {
    pixels = drawn[size_t(n++ % kFps)];
    encoder.Push(&pixels);
  }
  if (!encoder.Finish()) return state.SkipWithError(encoder.Reason().c_str());
  state.SetItemsProcessed(state.iterations());
  state.counters["encode_busy_fps"] = double(encoder.Encoded()) / encoder.EncodingSeconds();
}
BENCHMARK(BM_VideoEncode)->Iterations(300)->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole recording of 120 pictures (four seconds of video) as the tool
// runs it: drawing here, encoding on the encoder's thread.
void BM_VideoWhole(benchmark::State& state) {
  constexpr int64_t kFrames = 120;
  Studio studio(state.range(0) != 0, state.range(1) != 0);
  if (!studio.ready) return state.SkipWithError("no offscreen device or no character");
  RecordFigures figures;
  double encodeBusy = 0;
  for (auto _ : state) {
    CVideoEncoder encoder;
    if (!encoder.Open(BenchFolder().Path("whole.mp4"), Options(kFrames)))
      return state.SkipWithError(encoder.Reason().c_str());
    std::string failure;
    if (!RecordVideo(
            studio.scene, kFps, kFrames, [&studio](std::vector<uint32_t>* p) { return studio.Draw(p); }, encoder,
            nullptr, &figures, &failure))
      return state.SkipWithError(failure.c_str());
    encodeBusy = encoder.EncodingSeconds();
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
  state.counters["draw_fps"] = double(kFrames) / figures.drawSeconds;
  state.counters["encode_busy_fps"] = double(kFrames) / encodeBusy;
  state.counters["whole_fps"] = double(kFrames) / figures.wholeSeconds;
}
// (the sprawling character shaded takes seconds a picture: left to
// BM_VideoDraw)
BENCHMARK(BM_VideoWhole)
    ->ArgNames({"compact", "shaded"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
