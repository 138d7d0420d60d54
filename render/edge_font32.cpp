#include "render/edge_font32.h"

#include <new>

#include "render/anti_font32.h"

namespace {

// Outline radii beyond this are refused: the pass reads (2e + 1)^2 pixels each.
constexpr int kMaxEdge = 16;

}  // namespace

CEdgeFont32::~CEdgeFont32() { Free(); }

void CEdgeFont32::Free() {
  delete[] m_pBits;
  m_pBits = nullptr;
  m_nWidth = m_nHeight = m_nPitch = 0;
}

int CEdgeFont32::Make(const char16_t* text, const char16_t* face, uint32_t color, int edge) {
  Free();
  if (edge < 0 || edge > kMaxEdge) return 0;
  CAntiFont32 anti;
  if (!anti.Make(face, text)) return 0;
  const int aw = anti.m_nWidth, ah = anti.m_nHeight;
  const int w = aw + 2 * edge, h = ah + 2 * edge;
  const size_t bytes = size_t(w) * size_t(h) * 4;
  auto* bits = new (std::nothrow) uint8_t[bytes ? bytes : 1];
  if (!bits) return 0;
  m_pBits = bits;
  m_nWidth = w;
  m_nHeight = h;
  m_nPitch = w * 4;

  const uint8_t edgeBlue = uint8_t(color & 0xFF), edgeGreen = uint8_t((color >> 8) & 0xFF),
                edgeRed = uint8_t((color >> 16) & 0xFF);
  auto sourceAlpha = [&](int x, int y) { return anti.m_pBits[size_t(y) * size_t(anti.m_nPitch) + size_t(x) * 4 + 3]; };

  // Outline: the coverage of the neighbourhood reaching e up and left of the
  // face pixel, saturated. The scan gives up on a row at the right border and
  // on the whole neighbourhood at the bottom one.
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      float sum = 0.0f;
      for (int dy = -edge; dy <= edge; ++dy) {
        const int sy = y + dy - edge;
        if (sy < 0) continue;
        if (sy >= ah) break;
        bool saturated = false;
        for (int dx = -edge; dx <= edge; ++dx) {
          const int sx = x + dx - edge;
          if (sx < 0) continue;
          if (sx >= aw) break;
          sum += float(sourceAlpha(sx, sy)) * kEdgeCoverage;
          if (sum > 255.0f) {
            sum = 255.0f;
            saturated = true;
            break;
          }
        }
        if (saturated) break;
      }
      uint8_t* p = bits + size_t(y) * size_t(m_nPitch) + size_t(x) * 4;
      p[0] = edgeBlue;
      p[1] = edgeGreen;
      p[2] = edgeRed;
      p[3] = uint8_t(sum);
    }
  }

  // Face: the text's colour blended over the edge colour by its coverage;
  // the alpha stays the outline's.
  for (int r = 0; r < ah; ++r) {
    for (int c = 0; c < aw; ++c) {
      const uint8_t* s = anti.m_pBits + size_t(r) * size_t(anti.m_nPitch) + size_t(c) * 4;
      const float a = float(s[3]) / 255.0f;
      uint8_t* p = bits + size_t(r + edge) * size_t(m_nPitch) + size_t(c + edge) * 4;
      p[0] = uint8_t(float(edgeBlue) + float(int(s[0]) - int(edgeBlue)) * a);
      p[1] = uint8_t(float(edgeGreen) + float(int(s[1]) - int(edgeGreen)) * a);
      p[2] = uint8_t(float(edgeRed) + float(int(s[2]) - int(edgeRed)) * a);
    }
  }
  return 1;
}
