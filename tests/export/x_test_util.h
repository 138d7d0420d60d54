// Helpers of the X writer tests: small models built in code and loaded as
// the viewer loads them, and expected texts written with plain line feeds.
#pragma once
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "model/model_description.h"
#include "platform/d3dx9_math.h"
#include "tools/fixtures/pmd_fixture.h"

namespace qev::test {

// The fixture's bytes through the model reader; false when it refuses them.
inline bool LoadModel(CModelDescription& model, const qev::fixture::PmdDesc& desc) {
  const std::string bytes = qev::fixture::BuildPmd(desc);
  return model.LoadFromMemory(bytes.data(), bytes.size()) == 1;
}

// A text written with "\n" as the file stores it, with CR LF.
inline std::string Crlf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// One triangle (0,0,0) (1,0,0) (0,1,0.5) as the file stores it, the first
// two sharing the normal (0,0,-1), one material over it with texture
// "a.bmp*b.sph".
inline qev::fixture::PmdDesc OneTriangle() {
  qev::fixture::PmdDesc d;
  d.name = "tri";
  d.vertices.resize(3);
  d.vertices[0] = {{0, 0, 0}, {0, 0, -1}, {0, 0}, {0, 0}, 100, 0};
  d.vertices[1] = {{1, 0, 0}, {0, 0, -1}, {1, 0}, {0, 0}, 100, 0};
  d.vertices[2] = {{0, 1, 0.5f}, {0, 1, 0}, {0, 1}, {0, 0}, 100, 0};
  d.indices = {0, 1, 2};
  qev::fixture::PmdMaterialDesc m;
  m.diffuse[0] = 0.8f, m.diffuse[1] = 0.8f, m.diffuse[2] = 0.8f, m.diffuse[3] = 1.0f;
  m.specularPower = 5.0f;
  m.specular[0] = 0.25f, m.specular[1] = 0.5f, m.specular[2] = 0.75f;
  m.indexCount = 3;
  m.texture = "a.bmp*b.sph";
  d.materials = {m};
  d.bones = {{"center", -1, 0, 0, 0, {0, 0, 0}, ""}};
  return d;
}

// Two triangles over four vertices, each vertex with a normal of its own:
// OneTriangle and (0,1,0.5) (1,0,0) (1,1,0.25), under its one material.
inline qev::fixture::PmdDesc TwoTriangles() {
  qev::fixture::PmdDesc d = OneTriangle();
  d.vertices[1].normal[0] = 1, d.vertices[1].normal[2] = 0;
  d.vertices.push_back({{1, 1, 0.25f}, {0, 0.6f, -0.8f}, {1, 1}, {0, 0}, 100, 0});
  d.indices = {0, 1, 2, 2, 1, 3};
  d.materials[0].indexCount = 6;
  return d;
}

// The keys of every animation of a written file, by encoded frame name.
inline std::map<std::string, std::vector<D3DXMATRIX>> ReadKeys(const std::string& text) {
  std::map<std::string, std::vector<D3DXMATRIX>> keys;
  for (size_t at = text.find(" Animation {\r\n  { "); at != std::string::npos;
       at = text.find(" Animation {\r\n  { ", at + 1)) {
    const size_t nameAt = at + 18;
    std::vector<D3DXMATRIX>& list = keys[text.substr(nameAt, text.find(' ', nameAt) - nameAt)];
    const size_t end = text.find("  }\r\n }\r\n", nameAt);
    for (size_t key = text.find(";16;", nameAt); key < end; key = text.find(";16;", key + 1)) {
      const char* p = text.c_str() + key + 4;
      float m[16];
      for (float& f : m) {
        char* next;
        f = std::strtof(p, &next);
        p = next + 1;  // the "," or the first ";"
      }
      list.emplace_back(m);
    }
  }
  return keys;
}

}  // namespace qev::test
