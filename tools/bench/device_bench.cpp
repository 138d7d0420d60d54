// Vertex throughput of the two device backends: 100,000 line segments (the
// physics debug view at its busiest) and 1,000,000 triangle-list vertices in
// the model's format, each one frame: clear, draw, present. The OpenGL frames
// end by reading the back buffer back, so the GPU work is inside the timing;
// BM_GlFrameOnly is that frame without the draw. Rates are per wall-clock
// second: the OpenGL work runs partly on the driver's own threads.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "platform/recording_device.h"
#include "render/d3d_camera.h"
#include "render/d3d_line90.h"
#include "render/dd_pro90.h"

namespace {

struct ModelVertex {  // 0x152: position, normal, diffuse, texture coordinates
  float x, y, z, nx, ny, nz;
  D3DCOLOR color;
  float u, v;
};

constexpr DWORD kModelFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1;

// Short segments, as the debug shapes of rigid bodies are made of, spread
// over the floor the start-up camera looks at.
std::vector<LineVertex> Lines(int segments) {
  std::vector<LineVertex> v;
  v.reserve(size_t(segments) * 2);
  for (int i = 0; i < segments; ++i) {
    const float a = float(i) * 0.618f, r = 10.0f * float(i % 1000) / 1000.0f;
    const float x = r * std::cos(a), y = float(i % 37) * 0.3f, z = r * std::sin(a);
    v.push_back({x, y, z, 0xff808080});
    v.push_back({x + 0.2f, y + 0.1f, z, 0xffff0000});
  }
  return v;
}

// Small triangles filling a 20 x 20 x 20 box in front of the camera.
std::vector<ModelVertex> Triangles(int vertices) {
  std::vector<ModelVertex> v;
  v.reserve(size_t(vertices));
  for (int i = 0; i < vertices / 3; ++i) {
    const float x = float(i % 100) * 0.2f - 10, y = float((i / 100) % 100) * 0.2f, z = float(i / 10000) * 0.6f - 10;
    v.push_back({x, y, z, 0, 0, 1, 0xffc0c0c0, 0, 0});
    v.push_back({x + 0.1f, y, z, 0, 0, 1, 0xffc0c0c0, 1, 0});
    v.push_back({x, y + 0.1f, z, 0, 0, 1, 0xffc0c0c0, 0, 1});
  }
  return v;
}

struct Frame {
  CDDPro90 frame;
  CD3DCamera camera;
  explicit Frame(DeviceBackend backend) {
    frame.Init(nullptr, backend);
    if (!frame.m_pDevice) return;
    camera.m_pDevice = frame.m_pDevice;
    camera.m_bRightHanded = 1;
    camera.m_fAspect = 1.6f;
    camera.SetProjection(frame.m_pDevice);
    const D3DXVECTOR3 eye(10, 20, 20), up(0, 1, 0), target(0, 10, 0);
    camera.LookAt(&eye, &up, target);
  }
  IDirect3DDevice9* Device() { return frame.m_pDevice; }
  void End(bool readBack) {
    frame.EndDraw();
    if (readBack) {
      std::vector<D3DCOLOR> pixels;
      frame.m_pDevice->ReadBackBuffer(&pixels, nullptr, nullptr);
      benchmark::DoNotOptimize(pixels.data());
    }
    if (auto* rec = dynamic_cast<qev::RecordingDevice*>(frame.m_pDevice)) rec->ClearCalls();
  }
};

void LineFrames(benchmark::State& state, DeviceBackend backend) {
  Frame f(backend);
  if (!f.Device()) {
    state.SkipWithError("no device");
    return;
  }
  const std::vector<LineVertex> lines = Lines(100000);
  D3DXMATRIX id;
  D3DXMatrixIdentity(&id);
  for (auto _ : state) {
    f.frame.BeginDraw();
    f.Device()->SetTransform(D3DTS_WORLD, &id);
    f.Device()->SetFVF(kLineVertexFvf);
    f.Device()->DrawPrimitiveUP(D3DPT_LINELIST, 100000, lines.data(), sizeof(LineVertex));
    f.End(backend != DeviceBackend::kRecording);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(lines.size()));
}

// range(0): vertices; range(1): 1 wireframe (the viewer's start-up mode), 0 solid.
void TriangleFrames(benchmark::State& state, DeviceBackend backend) {
  Frame f(backend);
  if (!f.Device()) {
    state.SkipWithError("no device");
    return;
  }
  const std::vector<ModelVertex> tris = Triangles(int(state.range(0)));
  f.Device()->SetRenderState(D3DRS_FILLMODE, state.range(1) ? D3DFILL_WIREFRAME : D3DFILL_SOLID);
  D3DXMATRIX id;
  D3DXMatrixIdentity(&id);
  for (auto _ : state) {
    f.frame.BeginDraw();
    f.Device()->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    f.Device()->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    f.Device()->SetTransform(D3DTS_WORLD, &id);
    f.Device()->SetFVF(kModelFvf);
    f.Device()->DrawPrimitiveUP(D3DPT_TRIANGLELIST, unsigned(tris.size() / 3), tris.data(), sizeof(ModelVertex));
    f.End(backend != DeviceBackend::kRecording);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(tris.size()));
}

void BM_RecordingLines(benchmark::State& state) { LineFrames(state, DeviceBackend::kRecording); }
void BM_GlLines(benchmark::State& state) { LineFrames(state, DeviceBackend::kOffscreenGl); }
void BM_RecordingTriangles(benchmark::State& state) { TriangleFrames(state, DeviceBackend::kRecording); }
void BM_GlTriangles(benchmark::State& state) { TriangleFrames(state, DeviceBackend::kOffscreenGl); }

void BM_GlFrameOnly(benchmark::State& state) {
  Frame f(DeviceBackend::kOffscreenGl);
  if (!f.Device()) {
    state.SkipWithError("no device");
    return;
  }
  for (auto _ : state) {
    f.frame.BeginDraw();
    f.End(true);
  }
}

BENCHMARK(BM_RecordingLines)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GlLines)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RecordingTriangles)->Args({1000000, 0})->Unit(benchmark::kMillisecond)->UseRealTime();
// 1,000,000 vertices solid, and a model-sized 30,000 in wireframe.
BENCHMARK(BM_GlTriangles)->Args({1000000, 0})->Args({30000, 1})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GlFrameOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
