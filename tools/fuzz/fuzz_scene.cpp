// Fuzz target for scene assembly: any model bytes go through LoadModel; a
// model that loads plays a few frames of a motion with IK and physics and is
// drawn on the recording device, the physics view of F7 too, which must
// never read outside an array or make the world NaN (checked on every body
// after a few more frames).
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/scene.h"
#include "physics/bullet.h"
#include "physics/bullet_debug_draw.h"
#include "platform/recording_device.h"
#include "tools/fixtures/pmd_fixture.h"
#include "tools/fixtures/sample_character.h"
#include "tools/fixtures/vmd_fixture.h"
#include "tools/fuzz/seed_corpus.h"

namespace {

std::string g_model;   // where each input is written for LoadModel
std::string g_motion;  // the sample walk, written once

using qev::fuzz::WriteFile;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  using namespace qev::fixture;
  const std::string folder = "/tmp/qev_fuzz_scene_" + std::to_string(getpid());
  mkdir(folder.c_str(), 0700);
  g_model = folder + "/model.pmd";
  g_motion = folder + "/walk.vmd";
  const std::string walk = BuildVmd(SampleWalk());
  WriteFile(g_motion, walk.data(), walk.size());
  qev::fuzz::SeedCorpus(*argc, *argv,
                        {{"sample.pmd", BuildPmd(SamplePmd())}, {"character.pmd", BuildPmd(SampleCharacter())}});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WriteFile(g_model, data, size);
  // The debug drawer and its device are made once (its atlas is 2 MB); the
  // drawer outlives every scene's world.
  static qev::RecordingDevice viewDevice;
  static CBulletDebugDraw debugDraw;
  if (!debugDraw.m_pDevice) {
    viewDevice.BeginScene();
    debugDraw.Attach(&viewDevice);
  }
  viewDevice.ClearCalls();
  qev::RecordingDevice device;
  device.BeginScene();
  CScene scene;
  scene.m_physics.SetDebugDrawer(&debugDraw);
  std::string failure;
  if (!scene.LoadModel(g_model.c_str(), &device, &failure)) return 0;
  scene.DrawModel(&device);
  if (!scene.LoadMotion(g_motion.c_str(), &failure)) return 0;
  for (int f = 0; f < 3; ++f) {
    scene.UpdateFrame(f == 1);
    scene.DrawModel(&device);
    scene.DrawBones(&device);
    scene.m_physics.DebugDraw();
  }
  // A few more frames of physics, the last one of them after a reset; the
  // model's own bones may be no number, the world's bodies never.
  for (int f = 0; f < 6; ++f) scene.UpdateFrame(f == 4);
  scene.m_physics.Step(0);
  CBullet& bullet = scene.m_physics.Bullet();
  for (int b = 0; b < bullet.BodyCount(); ++b) {
    const CRigidBody* body = bullet.Body(b);
    if (body->m_pBody && !IsFinite(body->m_pBody->getCenterOfMassTransform())) std::abort();
  }
  return 0;
}
