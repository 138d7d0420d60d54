// CD3DLine90: a growable batch of coloured line vertices, filled point by
// point and drawn as a line list (the floor grid, the physics debug lines).
#pragma once
#include "platform/d3d9.h"

// One line vertex as the device reads it (format 0x42): model-space
// position, then the ARGB colour.
struct LineVertex {
  float x, y, z;
  D3DCOLOR color;
};
static_assert(sizeof(LineVertex) == 16, "line vertices are 16 bytes");
constexpr DWORD kLineVertexFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE;

class CD3DLine90 {
 public:
  CD3DLine90() = default;
  CD3DLine90(const CD3DLine90&) = delete;
  CD3DLine90& operator=(const CD3DLine90&) = delete;
  virtual ~CD3DLine90();

  // Appends one vertex, re-allocating the block to the exact new size; 0 (the
  // batch unchanged) when memory runs out.
  int Push(float x, float y, float z, D3DCOLOR color);
  void Clear();
  // One line per pair of vertices (an odd last vertex is not drawn), in the
  // world transform the caller set. 0 with fewer than two vertices.
  int Draw(IDirect3DDevice9* device);

  int m_nCount = 0;
  LineVertex* m_pVertices = nullptr;
};
