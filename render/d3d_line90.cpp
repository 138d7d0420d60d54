#include "render/d3d_line90.h"

#include <cstdlib>

CD3DLine90::~CD3DLine90() { Clear(); }

int CD3DLine90::Push(float x, float y, float z, D3DCOLOR color) {
  auto* grown = static_cast<LineVertex*>(std::realloc(m_pVertices, sizeof(LineVertex) * size_t(m_nCount + 1)));
  if (!grown) return 0;
  m_pVertices = grown;
  m_pVertices[m_nCount] = LineVertex{x, y, z, color};
  ++m_nCount;
  return 1;
}

void CD3DLine90::Clear() {
  std::free(m_pVertices);
  m_pVertices = nullptr;
  m_nCount = 0;
}

int CD3DLine90::Draw(IDirect3DDevice9* device) {
  if (m_nCount < 2) return 0;
  device->SetTexture(0, nullptr);
  device->SetFVF(kLineVertexFvf);
  return SUCCEEDED(device->DrawPrimitiveUP(D3DPT_LINELIST, unsigned(m_nCount / 2), m_pVertices,
                                           sizeof(LineVertex)))
             ? 1
             : 0;
}
