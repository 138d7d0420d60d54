// The glTF 2.0 writer: one plain description of a skinned model (mesh,
// materials with their pictures, joints, morph targets and an optional
// animation sampled frame by frame) written as one binary .glb, or as a
// .gltf with its .bin and PNG pictures beside it. Every file goes through
// CSafeFile: all of them are written, or none is left.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "export/bake_limits.h"

namespace qev::gltf {

// Animation keys are frame / 30 seconds apart: the viewer's frame rate.
constexpr float kFramesPerSecond = 30.0f;

// Space of every position, normal and transform below: right-handed, +y up,
// the model facing +z (the viewer's own space, so nothing is mirrored).
struct Vertex {
  float pos[3] = {0, 0, 0};
  float normal[3] = {0, 1, 0};  // made unit length on writing; a zero normal becomes +y
  float uv[2] = {0, 0};         // top-left origin, as glTF counts it
  uint16_t joints[4] = {0, 0, 0, 0};  // indices into Scene::joints
  float weights[4] = {1, 0, 0, 0};    // summing to 1; unused slots 0
};

// A picture to store as PNG: width x height pixels, rows of width * 4 bytes
// blue-green-red-alpha, top row first.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> bgra;
};

struct Material {
  std::string name;  // UTF-8
  float diffuse[4] = {1, 1, 1, 1};  // r, g, b, a; alpha below 1 blends
  bool doubleSided = false;
  int32_t picture = -1;           // index into Scene::pictures, -1 for none
  std::vector<uint32_t> indices;  // triangles, counter-clockwise seen from the front
};

struct Joint {
  std::string name;     // UTF-8
  int32_t parent = -1;  // an earlier joint, or -1 at the top
  float translation[3] = {0, 0, 0};  // rest pose, relative to the parent
  float rotation[4] = {0, 0, 0, 1};  // rest pose, x y z w
  // Model space to the joint's space at rest, column-major (a D3DX matrix's
  // sixteen floats in their own order are exactly that).
  float inverseBind[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
};

// A morph target: position offsets of the vertices it moves.
struct Morph {
  std::string name;                // UTF-8
  std::vector<uint32_t> vertices;  // a vertex listed twice gets both offsets
  std::vector<float> offsets;      // 3 floats per listed vertex
};

// Every joint's local translation and rotation and every morph's weight at
// every frame 0 .. frames - 1.
struct Animation {
  int32_t frames = 0;
  std::vector<float> translations;  // frames x joints x 3
  std::vector<float> rotations;     // frames x joints x 4 (x y z w)
  std::vector<float> weights;       // frames x morphs
};

struct Scene {
  std::string name;  // UTF-8; the top node's
  std::vector<Vertex> vertices;
  std::vector<Material> materials;  // none: every vertex index in `unlit` is drawn without one
  std::vector<uint32_t> unlit;      // triangles of a model without materials
  std::vector<Picture> pictures;
  std::vector<Joint> joints;  // at most 65,536
  std::vector<Morph> morphs;
  bool animated = false;
  Animation animation;
};

enum class Container { kNone, kBinary, kText };
// ".glb" or ".gltf" at the end of a path, ignoring case; kNone otherwise.
Container ContainerOf(const std::string& path);

// Whether a bake of frames 0 .. highest (0 .. highest - 1 played, at least
// one) may start, before anything is played: the bake limits of
// bake_limits.h for this many joints and morphs. 1, or 0 with the reason.
int CheckBake(int32_t highest, size_t joints, size_t morphs, const char* path, int64_t maxFrames,
              std::string* why);

// Writes the scene to a native path ending in .glb or .gltf. A .gltf gets
// NAME.bin and NAME_N.png (N from 0) beside it, NAME being the file's name
// without its extension. 1 when every file is written; 0 with the reason
// (ASCII) in *failure and one log line, nothing new left behind.
int WriteGltf(const Scene& scene, const char* path, std::string* failure);

}  // namespace qev::gltf
