// The physics debug view of a model with 90 rigid bodies (spheres, boxes,
// capsules as a model's hair, limbs and skirt use them) on the ground, drawn
// on the offscreen OpenGL device from the start-up camera: one draw call per
// line against the lines of the frame collected into one. Each frame is
// cleared, drawn, presented and read back, so the rendering is inside the
// timing; BM_DebugViewFrameOnly is that frame without the view. Counters:
// lines and draw calls per frame.
#include <benchmark/benchmark.h>
#include <btBulletDynamicsCommon.h>

#include <memory>
#include <vector>

#include "app/start_up_view.h"
#include "physics/bullet_debug_draw.h"
#include "platform/recording_device.h"
#include "render/d3d_camera.h"
#include "render/dd_pro90.h"

namespace {

struct Bodies {
  btDefaultCollisionConfiguration configuration;
  btCollisionDispatcher dispatcher{&configuration};
  btDbvtBroadphase broadphase;
  btSequentialImpulseConstraintSolver solver;
  btDiscreteDynamicsWorld world{&dispatcher, &broadphase, &solver, &configuration};
  std::vector<std::unique_ptr<btCollisionShape>> shapes;
  std::vector<std::unique_ptr<btDefaultMotionState>> states;
  std::vector<std::unique_ptr<btRigidBody>> bodies;

  explicit Bodies(int count) {
    world.setGravity(btVector3(0, -98, 0));
    for (int i = 0; i < count; ++i) {
      btCollisionShape* shape = nullptr;
      if (i % 3 == 0) {
        shape = new btSphereShape(0.6f);
      } else if (i % 3 == 1) {
        shape = new btBoxShape(btVector3(0.5f, 0.8f, 0.4f));
      } else {
        shape = new btCapsuleShape(0.4f, 1.2f);
      }
      // a column of bodies 10 wide, 9 high, around the model's height
      Add(shape, btVector3(float(i % 10) * 1.8f - 8.1f, 2.0f + float(i / 10) * 2.0f, 0), 1);
    }
    Add(new btStaticPlaneShape(btVector3(0, 1, 0), 0), btVector3(0, 0, 0), 0);
    world.stepSimulation(1.0f / 30, 0, 1.0f / 60);
  }
  ~Bodies() {
    for (auto& body : bodies) world.removeRigidBody(body.get());
  }
  void Add(btCollisionShape* shape, const btVector3& at, btScalar mass) {
    shapes.emplace_back(shape);
    btVector3 inertia(0, 0, 0);
    if (mass > 0) shape->calculateLocalInertia(mass, inertia);
    states.emplace_back(new btDefaultMotionState(btTransform(btQuaternion::getIdentity(), at)));
    bodies.emplace_back(new btRigidBody(mass, states.back().get(), shape, inertia));
    world.addRigidBody(bodies.back().get());
  }
};

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
  Bodies bodies(90);
  bodies.world.setDebugDrawer(&drawer);
  const bool collect = state.range(0) != 0, view = state.range(1) != 0;

  // lines and draw calls of one frame, counted on the recorder
  qev::RecordingDevice recorder;
  recorder.BeginScene();
  drawer.Attach(&recorder);
  if (collect) drawer.Begin();
  bodies.world.debugDrawWorld();
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
      bodies.world.debugDrawWorld();
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
