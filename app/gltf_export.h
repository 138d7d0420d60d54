// The glTF exports of the loaded scene: the model as the viewer holds it
// (mesh, materials and their pictures, the skeleton as a skin, the morphs
// that move vertices as morph targets), and with a motion baked in, sampled
// frame by frame exactly as the X bake plays it.
#pragma once
#include <cstdint>
#include <string>

#include "app/x_export.h"
#include "export/bake_limits.h"
#include "export/gltf_writer.h"

class CScene;

// The model of the scene in the writer's terms. Pictures are read from the
// model file's folder (modelPath) as the texture loader reads them; a
// picture that cannot be read leaves its material without one (a log
// line says which). Bones of the skeleton become joints, parents first.
// Nothing without a model loaded.
void FillGltfModel(const CScene& scene, const std::string& modelPath, qev::gltf::Scene* out);

// Plays the scene's motion from frame 0 to the frame before its highest
// (frame 0 alone when that is 0), as ExportXSkin plays it, and keeps every
// joint's local translation and rotation and every morph target's weight
// of every frame in out->animation. The bake limits are checked first for
// the file at path; playback is left back at frame 0 after the last frame.
// 1, or 0 with the reason in *failure and nothing played. `out` must hold
// FillGltfModel's model of this scene.
int SampleGltfBake(CScene& scene, const char* path, const BakeProgress& progress, int64_t maxFrames,
                   qev::gltf::Scene* out, std::string* failure);

// The whole export to a .glb or .gltf path: the model alone, or, with bake
// set and the scene in motion playback, the model with its motion. Results
// as ExportXSkin.
int ExportGltf(CScene& scene, const std::string& modelPath, const char* path, bool bake,
               const BakeProgress& progress, std::string* failure,
               int64_t maxFrames = qev::bake::kDefaultMaxFrames);
