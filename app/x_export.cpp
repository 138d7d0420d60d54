#include "app/x_export.h"

#include "app/scene.h"
#include "export/x_mesh_writer.h"
#include "export/x_skin_writer.h"
#include "support/debug.h"

namespace {

// One frame of playback time in seconds, and the step that takes no time but
// hands every moving body's transform to its bone.
constexpr float kFrameSeconds = 1.0f / 30.0f;

int NoModel(std::string* failure) {
  DebugPrintf("X file not written: no model is loaded\n");
  if (failure) *failure = "no model is loaded";
  return 0;
}

}  // namespace

std::string ProposedXPath(const std::string& modelPath) {
  // Only the file's own name is looked at: a dot in a folder's name is no
  // extension, and a name that starts with its only dot has none.
  const size_t slash = modelPath.rfind('/');
  const size_t name = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = modelPath.rfind('.');
  if (dot == std::string::npos || dot <= name) return modelPath;
  return modelPath.substr(0, dot) + ".x";
}

int ExportXMesh(CScene& scene, const char* path, std::string* failure) {
  if (!scene.Loaded()) return NoModel(failure);
  return qev::xfile::WriteXMesh(scene.m_model, path, failure);
}

int ExportXSkin(CScene& scene, const char* path, const BakeProgress& progress, std::string* failure,
                int64_t maxFrames) {
  if (!scene.Loaded()) return NoModel(failure);
  if (scene.m_nMode != kMotionPlayback || !scene.m_motion)
    return qev::xfile::WriteXSkin(scene.m_model, scene.m_skeleton, nullptr, path, failure);

  // Frame 0 is the restart, as loading the motion does; every later frame
  // is one frame of playback: advance by one, then the physics step.
  const int32_t highest = scene.m_motion->m_nMaxFrame > 0 ? scene.m_motion->m_nMaxFrame : 0;
  const int32_t frames = qev::xfile::BakedFrames(highest);
  int32_t shown = -1;
  qev::xfile::XBake bake;
  bake.frames = highest;
  bake.maxFrames = maxFrames;
  bake.start = [&] {
    scene.StartMotion();
    if (scene.m_physics.HasWorld()) scene.m_physics.Step(0.0f);
    return 1;
  };
  bake.ready = [&](int32_t n) {
    if (n > 0) {
      scene.AdvanceMotion(1.0f);
      if (scene.m_physics.HasWorld()) scene.m_physics.Step(kFrameSeconds);
    }
    shown = n;
    if (progress) progress(n, frames);
    return 1;
  };
  const int written = qev::xfile::WriteXSkin(scene.m_model, scene.m_skeleton, &bake, path, failure);
  // After the last frame playback goes on once more, which wraps it to 0.
  if (shown == frames - 1) {
    scene.AdvanceMotion(1.0f);
    if (scene.m_physics.HasWorld()) scene.m_physics.Step(kFrameSeconds);
  }
  return written;
}
