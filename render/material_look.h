// MaterialLook: how one material of a model is shaded, whatever file format
// described it: colours, the files of its texture, sphere map and toon ramp,
// its outline and its faces. The scene fills one per material when a model
// loads; the shaded draw reads nothing else of the material.
#pragma once
#include <string>

struct MaterialLook {
  float diffuse[4] = {1, 1, 1, 1};  // r, g, b, alpha (alpha < 1: drawn with the semi-transparent ones)
  float ambient[3] = {0, 0, 0};
  float specular[3] = {0, 0, 0};
  float power = 0;  // specular exponent
  // File names relative to the model's folder, '/' separated, native text;
  // empty when the material has none.
  std::string texture;
  std::string sphere;
  int sphereMode = 0;  // 0 none, 1 multiplied (.sph), 2 added (.spa)
  // The toon ramp: its own file when named, else (or when that file is
  // missing) the built-in ramp of the shared index; no ramp at all when
  // both are absent (toonFile empty, sharedToon -1).
  std::string toonFile;
  int sharedToon = -1;  // 0..9
  bool edge = false;
  float edgeColour[4] = {0, 0, 0, 1};
  float edgeSize = 1;  // width in pixels at edge scale 1
  bool doubleSided = false;  // both faces drawn (culling off)
};

// How far an outline stands out, in pixels, for an edge size of 1.
constexpr float kEdgePixelsPerSize = 2.0f;

// A sphere map's mode from its file name: 2 for ".spa", 1 for ".sph" (any
// case), 0 for anything else.
inline int SphereModeOf(const std::string& name) {
  auto endsWith = [&](const char* ext) {
    if (name.size() < 4) return false;
    for (size_t i = 0; i < 4; ++i) {
      char c = name[name.size() - 4 + i];
      if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
      if (c != ext[i]) return false;
    }
    return true;
  };
  return endsWith(".spa") ? 2 : endsWith(".sph") ? 1 : 0;
}
