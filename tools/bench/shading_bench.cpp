// The cost of shading: one whole solid frame of the synthetic 30,000-vertex
// character (grid, skinning, the model's draws, the picture read back so the
// driver has finished it) drawn unlit and shaded, on the offscreen OpenGL
// device (shaded with and without 4x multisampling: `qevtool render` draws
// with it, the window of a software renderer without) and on the recording
// device (the processor's share alone).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/draw_frame.h"
#include "app/grid.h"
#include "app/scene.h"
#include "app/start_up_view.h"
#include "platform/recording_device.h"
#include "render/d3d_camera.h"
#include "render/d3d_line90.h"
#include "render/d3d_locater.h"
#include "render/dd_pro90.h"
#include "tools/fixtures/synthetic_character.h"

namespace {

// The character's file in a folder removed afterwards.
struct CharacterFile {
  CharacterFile() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "qevshade-XXXXXX").string();
    if (mkdtemp(tmpl.data())) folder = tmpl;
    path = folder + "/synthetic.pmd";
    const std::string bytes =
        qev::fixture::BuildPmd(qev::fixture::SyntheticCharacter(qev::fixture::kSyntheticLarge));
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
      std::fwrite(bytes.data(), 1, bytes.size(), f);
      std::fclose(f);
    }
  }
  ~CharacterFile() {
    std::error_code ec;
    if (!folder.empty()) std::filesystem::remove_all(folder, ec);
  }
  std::string folder, path;
};

// range(0): 1 shaded, 0 unlit; range(1): 1 with 4 samples a pixel when shaded.
void SolidFrames(benchmark::State& state, DeviceBackend backend) {
  static const CharacterFile file;
  const bool shaded = state.range(0) != 0;
  CDDPro90 deviceFrame;
  if (shaded && state.range(1)) deviceFrame.m_multiSampleType = D3DMULTISAMPLE_4_SAMPLES;
  if (!deviceFrame.Init(nullptr, backend)) {
    state.SkipWithError("no device");
    return;
  }
  CD3DCamera camera;
  SetStartUpCamera(&camera, deviceFrame.m_pDevice, 1280.0f / 800.0f);
  CD3DLocater locator;
  SetUpIkGoalLocator(&locator);
  CD3DLine90 grid;
  BuildGrid(&grid);
  CScene scene;
  std::string failure;
  if (!scene.LoadModel(file.path.c_str(), deviceFrame.m_pDevice, &failure)) {
    state.SkipWithError("the character did not load");
    return;
  }
  FrameDrawing frame;
  frame.device = deviceFrame.m_pDevice;
  frame.camera = &camera;
  frame.grid = &grid;
  frame.ikGoalLocator = &locator;
  frame.DrawType = 2;
  frame.Shaded = shaded ? 1 : 0;
  AddSceneSteps(&frame, &scene);
  auto* recording = dynamic_cast<qev::RecordingDevice*>(deviceFrame.m_pDevice);
  std::vector<D3DCOLOR> pixels;
  for (auto _ : state) {
    DrawWholeFrame(&deviceFrame, frame);
    if (recording) {
      recording->ClearCalls();
    } else {
      deviceFrame.m_pDevice->ReadBackBuffer(&pixels, nullptr, nullptr);
      benchmark::DoNotOptimize(pixels.data());
    }
  }
}

void BM_GlSolidCharacterFrame(benchmark::State& state) { SolidFrames(state, DeviceBackend::kOffscreenGl); }
void BM_RecordingSolidCharacterFrame(benchmark::State& state) { SolidFrames(state, DeviceBackend::kRecording); }

}  // namespace

BENCHMARK(BM_GlSolidCharacterFrame)
    ->ArgNames({"shaded", "msaa"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_RecordingSolidCharacterFrame)
    ->ArgNames({"shaded", "msaa"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
