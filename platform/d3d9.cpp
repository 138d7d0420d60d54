#include "platform/d3d9.h"

unsigned RefCounted::Release() {
  const unsigned left = --m_refs;
  if (left == 0) delete this;
  return left;
}

namespace qev {

unsigned FvfVertexSize(DWORD fvf) {
  constexpr DWORD kKnown = D3DFVF_XYZ | D3DFVF_XYZRHW | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1;
  if (fvf & ~kKnown) return 0;
  unsigned size = 0;
  switch (fvf & (D3DFVF_XYZ | D3DFVF_XYZRHW)) {
    case D3DFVF_XYZ: size = 12; break;
    case D3DFVF_XYZRHW: size = 16; break;
    default: return 0;  // exactly one position form
  }
  if (fvf & D3DFVF_NORMAL) {
    // transformed vertices carry no normal
    if (fvf & D3DFVF_XYZRHW) return 0;
    size += 12;
  }
  if (fvf & D3DFVF_DIFFUSE) size += 4;
  if (fvf & D3DFVF_TEX1) size += 8;
  return size;
}

unsigned PrimitiveVertexCount(D3DPRIMITIVETYPE type, unsigned primitiveCount) {
  if (primitiveCount == 0 || primitiveCount > kMaxPrimitiveCount) return 0;
  switch (type) {
    case D3DPT_POINTLIST: return primitiveCount;
    case D3DPT_LINELIST: return primitiveCount * 2;
    case D3DPT_LINESTRIP: return primitiveCount + 1;
    case D3DPT_TRIANGLELIST: return primitiveCount * 3;
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN: return primitiveCount + 2;
  }
  return 0;
}

}  // namespace qev
