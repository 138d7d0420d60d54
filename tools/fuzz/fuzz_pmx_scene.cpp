// Fuzz target for the whole PMX model path: any bytes go through LoadModel as
// a .pmx file (the reader, the fill of the model description, scene
// assembly, physics); a model that loads plays a few frames of a motion with
// IK, morphs and physics, is drawn on the recording device and written as
// both X files (posed, no bake). Nothing may read outside an array, and the world's bodies
// never become NaN.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/scene.h"
#include "app/x_export.h"
#include "physics/bullet.h"
#include "platform/recording_device.h"
#include "support/debug.h"
#include "tools/fixtures/pmx_fixture.h"
#include "tools/fixtures/sample_character.h"
#include "tools/fixtures/vmd_fixture.h"
#include "tools/fuzz/seed_corpus.h"

namespace {

std::string g_folder;
std::string g_model;   // where each input is written for LoadModel
std::string g_motion;  // the sample walk, written once

using qev::fuzz::WriteFile;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  using namespace qev::fixture;
  CDebug::Global().Disable();
  g_folder = "/tmp/qev_fuzz_pmx_scene_" + std::to_string(getpid());
  mkdir(g_folder.c_str(), 0700);
  g_model = g_folder + "/model.pmx";
  g_motion = g_folder + "/walk.vmd";
  const std::string walk = BuildVmd(SampleWalk());
  WriteFile(g_motion, walk.data(), walk.size());
  PmxDesc narrow = SamplePmx();
  narrow.encoding = 1;
  narrow.vertexIndex = narrow.boneIndex = 2;
  qev::fuzz::SeedCorpus(*argc, *argv,
                        {{"sample.pmx", BuildPmx(SamplePmx())},
                         {"narrow.pmx", BuildPmx(narrow)},
                         {"character.pmx", BuildPmx(PmxTwin(SampleCharacter()))}});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WriteFile(g_model, data, size);
  qev::RecordingDevice device;
  device.BeginScene();
  CScene scene;
  std::string failure;
  if (!scene.LoadModel(g_model.c_str(), &device, &failure)) return 0;
  scene.DrawModel(&device);
  if (!scene.LoadMotion(g_motion.c_str(), &failure)) return 0;
  for (int f = 0; f < 3; ++f) {
    scene.UpdateFrame(f == 1);
    scene.DrawModel(&device);
    scene.DrawBones(&device);
  }
  scene.m_physics.Step(0);
  CBullet& bullet = scene.m_physics.Bullet();
  for (int b = 0; b < bullet.BodyCount(); ++b) {
    const CRigidBody* body = bullet.Body(b);
    if (body->m_pBody && !IsFinite(body->m_pBody->getCenterOfMassTransform())) std::abort();
  }
  // both writers over whatever the model holds (the skinned one as posed,
  // without a bake)
  scene.m_nMode = kPosePlayback;
  if (!ExportXMesh(scene, (g_folder + "/m.x").c_str(), &failure)) std::abort();
  if (!ExportXSkin(scene, (g_folder + "/s.x").c_str(), nullptr, &failure)) std::abort();
  return 0;
}
