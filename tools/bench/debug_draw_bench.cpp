// The physics debug view of a model with 90 rigid bodies (spheres, boxes,
// capsules as a model's hair, limbs and skirt use them) on the ground, drawn
// on the offscreen OpenGL device from the start-up camera: one draw call per
// line against the lines of the frame collected into one. Each frame is
// cleared, drawn, presented and read back, so the rendering is inside the
// timing; BM_DebugViewFrameOnly is that frame without the view. Counters:
// lines and draw calls per frame.
#include <benchmark/benchmark.h>

#include <vector>

#include "app/start_up_view.h"
#include "physics/bullet.h"
#include "physics/bullet_debug_draw.h"
#include "platform/recording_device.h"
#include "render/d3d_camera.h"
#include "render/dd_pro90.h"

namespace {

// 90 bodies in a block 10 wide and 9 high around the model's height, and
// the ground, in the program's physics with its debug drawer.
void AddBodies(CBullet* physics, CBulletDebugDraw* drawer) {
  physics->m_world.Create(-98.0f, drawer);
  for (int i = 0; i < 90; ++i) {
    const float sizes[3][3] = {{0.6f, 0, 0}, {0.5f, 0.8f, 0.4f}, {0.4f, 1.2f, 0}};
    CRigidBody* body = physics->AppendBody();
    body->SetShape(i % 3, sizes[i % 3]);
    RigidBodyParams p;
    p.pos[0] = float(i % 10) * 1.8f - 8.1f;
    p.pos[1] = 2.0f + float(i / 10) * 2.0f;
    body->Create(p, 1.0f);
    body->AddTo(physics->m_world.m_pWorld, 0, 0);
  }
  CRigidBody* ground = physics->AppendBody();
  ground->CreateGround(0, 1, 0, RigidBodyParams{});
  ground->AddTo(physics->m_world.m_pWorld, 0, 0);
  physics->Step(1.0f / 30);
}

// range(0): 1 collects the frame's lines, 0 draws each at once; range(1): 1
// draws the view, 0 only the frame around it.
void DebugView(benchmark::State& state) {
  CDDPro90 frame;
  if (!frame.Init(nullptr, DeviceBackend::kOffscreenGl)) {
    state.SkipWithError("no offscreen OpenGL device");
    return;
  }
  CD3DCamera camera;
  SetStartUpCamera(&camera, frame.m_pDevice, float(frame.m_nWidth) / float(frame.m_nHeight));
  CBulletDebugDraw drawer;
  drawer.Attach(frame.m_pDevice);
  CBullet physics;
  AddBodies(&physics, &drawer);
  const bool collect = state.range(0) != 0, view = state.range(1) != 0;

  // lines and draw calls of one frame, counted on the recorder
  qev::RecordingDevice recorder;
  recorder.BeginScene();
  drawer.Attach(&recorder);
  if (collect) drawer.Begin();
  physics.DebugDraw();
  if (collect) drawer.Flush();
  size_t lines = 0;
  for (const auto* call : recorder.Find("DrawPrimitiveUP")) lines += call->vertices.size() / sizeof(LineVertex) / 2;
  state.counters["lines"] = double(lines);
  state.counters["draws"] = double(recorder.Find("DrawPrimitiveUP").size());
  drawer.Attach(frame.m_pDevice);

  D3DXMATRIX identity;
  D3DXMatrixIdentity(&identity);
  std::vector<D3DCOLOR> pixels;
  for (auto _ : state) {
    frame.m_dwClearColor = 0x00202020;
    frame.BeginDraw();
    IDirect3DDevice9* device = frame.m_pDevice;
    device->SetTransform(D3DTS_VIEW, &camera.m_mView);
    device->SetTransform(D3DTS_PROJECTION, &camera.m_mProjection);
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    device->SetTransform(D3DTS_WORLD, &identity);
    if (view) {
      if (collect) drawer.Begin();
      physics.DebugDraw();
      if (collect) drawer.Flush();
    }
    frame.EndDraw();
    device->ReadBackBuffer(&pixels, nullptr, nullptr);
    benchmark::DoNotOptimize(pixels.data());
  }
  drawer.Detach();
}

void BM_DebugViewOneCallPerLine(benchmark::State& state) { DebugView(state); }
void BM_DebugViewCollected(benchmark::State& state) { DebugView(state); }
void BM_DebugViewFrameOnly(benchmark::State& state) { DebugView(state); }

}  // namespace

BENCHMARK(BM_DebugViewOneCallPerLine)->Args({0, 1})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DebugViewCollected)->Args({1, 1})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DebugViewFrameOnly)->Args({1, 0})->Unit(benchmark::kMillisecond)->UseRealTime();
