// Small models for the `render` and `pose` tests, with known places: a
// textured quad facing the camera, and two boxes one above the other, each
// on its own bone, with a pose and a motion that turn the upper one.
// Positions are file positions (z is mirrored on load; these are symmetric
// in z or at z = 0, so file and viewer places agree).
#pragma once
#include <cmath>
#include <string>

#include "platform/codepage.h"
#include "tools/fixtures/picture_fixtures.h"
#include "tools/fixtures/pmd_fixture.h"
#include "tools/fixtures/vmd_fixture.h"
#include "tools/fixtures/vpd_fixture.h"

namespace qev::test {

// The quad spans x -4..4 and y 6..14 at z = 0; its texture "quad.bmp" has
// four quarters: red top left, green top right, blue bottom left, yellow
// bottom right (as the camera sees them).
inline fixture::PmdDesc TexturedQuad() {
  fixture::PmdDesc d;
  fixture::PmdBoneDesc root;
  root.name = Sjis("センター");
  d.bones = {root};
  const float corners[4][4] = {{-4, 14, 0, 0}, {4, 14, 1, 0}, {4, 6, 1, 1}, {-4, 6, 0, 1}};  // x, y, u, v
  for (const auto& c : corners) {
    fixture::PmdVertexDesc v;
    v.pos[0] = c[0];
    v.pos[1] = c[1];
    v.uv[0] = c[2];
    v.uv[1] = c[3];
    d.vertices.push_back(v);
  }
  d.indices = {0, 1, 2, 0, 2, 3};
  fixture::PmdMaterialDesc m;
  m.diffuse[0] = m.diffuse[1] = m.diffuse[2] = 1.0f;
  m.indexCount = 6;
  m.texture = "quad.bmp";
  d.materials = {m};
  d.extent = fixture::PmdExtent::kBody;
  return d;
}

inline std::string QuadTexture() {
  auto value = [](int x, int y) -> uint32_t {
    const bool right = x >= 8, bottom = y >= 8;
    return bottom ? (right ? 0xFFFFFF00u : 0xFF0000FFu) : (right ? 0xFF00FF00u : 0xFFFF0000u);
  };
  return fixtures::BitmapFile(16, 16, 24, fixtures::DibRows(16, 16, 24, value));
}

// Bone 0 "下" with its head at (0, 2, 0) carries a red box (x, z -1..1, y
// 2..7); bone 1 "上" at (0, 7, 0) below it a green box (y 7..12); bone 2
// "先" marks the top at (0, 12, 0).
inline fixture::PmdDesc TwoBoneBox() {
  fixture::PmdDesc d;
  auto bone = [&](const char* name, int16_t parent, uint16_t tail, float y) {
    fixture::PmdBoneDesc b;
    b.name = Sjis(name);
    b.parent = parent;
    b.tail = tail;
    b.head[1] = y;
    d.bones.push_back(b);
  };
  bone("下", -1, 1, 2);
  bone("上", 0, 2, 7);
  bone("先", 1, 0, 12);
  for (int part = 0; part < 2; ++part) {
    const float y0 = part ? 7.0f : 2.0f, y1 = part ? 12.0f : 7.0f;
    const uint16_t first = uint16_t(d.vertices.size());
    for (int i = 0; i < 8; ++i) {
      fixture::PmdVertexDesc v;
      v.pos[0] = i & 1 ? 1.0f : -1.0f;
      v.pos[1] = i & 2 ? y1 : y0;
      v.pos[2] = i & 4 ? 1.0f : -1.0f;
      v.bone[0] = v.bone[1] = uint16_t(part);
      d.vertices.push_back(v);
    }
    // the six faces, two triangles each, as corner numbers (bit 0 x, 1 y, 2 z)
    const int faces[6][4] = {{0, 1, 3, 2}, {4, 6, 7, 5}, {0, 2, 6, 4}, {1, 5, 7, 3}, {0, 4, 5, 1}, {2, 3, 7, 6}};
    for (const auto& f : faces)
      for (int k : {0, 1, 2, 0, 2, 3}) d.indices.push_back(uint16_t(first + f[k]));
    fixture::PmdMaterialDesc m;
    m.diffuse[0] = part ? 0.0f : 1.0f;
    m.diffuse[1] = part ? 1.0f : 0.0f;
    m.diffuse[2] = 0.0f;
    m.indexCount = 36;
    d.materials.push_back(m);
  }
  d.extent = fixture::PmdExtent::kBody;
  return d;
}

// The upper bone turned by `angle` radians about z (the file's z, which the
// mirror keeps): a quarter turn lays the green box along -x.
inline fixture::VpdDesc TurnUpper(float angle) {
  fixture::VpdDesc d;
  d.bones = {{Sjis("上"), {0, 0, 0}, {0, 0, std::sin(angle / 2), std::cos(angle / 2)}}};
  return d;
}

// The upper bone upright at frame 0 and turned a quarter from frame 10 to
// the highest frame, 20 (which is never shown: the motion wraps to 0).
inline fixture::VmdDesc TurnUpperMotion() {
  fixture::VmdDesc d;
  d.extent = fixture::VmdExtent::kMorphs;
  const float s = std::sin(0.7853982f), c = std::cos(0.7853982f);
  for (uint32_t frame : {0u, 10u, 20u}) {
    fixture::VmdBoneKeyDesc k;
    k.name = Sjis("上");
    k.frame = frame;
    if (frame) {
      k.rot[2] = s;
      k.rot[3] = c;
    }
    d.bones.push_back(k);
  }
  return d;
}

}  // namespace qev::test
