#include "render/dd_edge_font_mng.h"

#include <algorithm>
#include <cstring>

#include "render/edge_font32.h"

namespace {

// The atlas's clear colour: mid grey, transparent.
constexpr uint32_t kAtlasClear = 0x808080;

}  // namespace

CDDEdgeFontMng::~CDDEdgeFontMng() { Reset(); }

int CDDEdgeFontMng::Init(IDirect3DDevice9* device) {
  Reset();
  m_nTexWidth = kAtlasWidth;
  m_nTexHeight = kAtlasHeight;
  m_pDevice = device;
  if (!device) return 0;
  if (FAILED(device->CreateTexture(unsigned(m_nTexWidth), unsigned(m_nTexHeight), 1, 0, D3DFMT_A8R8G8B8,
                                   D3DPOOL_MANAGED, &m_pTexture)))
    return 0;
  FillRect(0, 0, m_nTexWidth, m_nTexHeight, kAtlasClear);
  return 1;
}

void CDDEdgeFontMng::Reset() {
  std::memset(m_slot, 0, sizeof m_slot);
  if (m_pTexture) {
    FillRect(0, 0, m_nTexWidth, m_nTexHeight, kAtlasClear);
    m_pTexture->Release();
    m_pTexture = nullptr;
  }
  m_nAnchor = 0;
  m_dwVertexColor = 0xFFFFFF;
  m_dwEdgeColor = 0;
  m_nEdgeWidth = 1;
}

int CDDEdgeFontMng::MakeText(const char16_t* face, const char16_t* text) {
  EdgeFontSlot& slot = m_slot[0];
  slot.used = 0;
  CEdgeFont32 image;
  if (!image.Make(text, face, m_dwEdgeColor, m_nEdgeWidth)) return 0;
  slot.anchor = m_nAnchor;
  // the smallest even size at least 2 larger: room for the transparent border
  const int w = (image.m_nWidth + 3) / 2 * 2, h = (image.m_nHeight + 3) / 2 * 2;
  if (w > m_nTexWidth || h > m_nTexHeight) return 0;
  if (!FindPlace(w, h)) return 0;
  FillRect(slot.x, slot.y, slot.width, slot.height, 0);

  D3DLOCKED_RECT locked;
  if (m_pTexture && SUCCEEDED(m_pTexture->LockRect(0, &locked, 0))) {
    // one pixel in from the region's top and left: a transparent border
    auto* atlas = static_cast<uint8_t*>(locked.pBits);
    for (int r = 0; r < image.m_nHeight; ++r)
      std::memcpy(atlas + size_t(slot.y + r + 1) * size_t(locked.Pitch) + size_t(slot.x + 1) * 4,
                  image.m_pBits + size_t(r) * size_t(image.m_nPitch), size_t(image.m_nPitch));
    m_pTexture->UnlockRect(0);
  }
  return 1;
}

int CDDEdgeFontMng::FindPlace(int w, int h) {
  for (int y = 0; y < m_nTexHeight; y += 32) {
    for (int x = 0; x < m_nTexWidth; x += 64) {
      const int x2 = x + w, y2 = y + h;
      bool rejected = false;
      for (int k = 1; k < kSlots && !rejected; ++k) {
        const EdgeFontSlot& s = m_slot[k];
        if (!s.used) continue;
        if (x2 > m_nTexWidth - 1 || y2 > m_nTexHeight - 1) {
          rejected = true;
          continue;
        }
        // the used region widened by 2, bounds included: any overlap collides
        const int sx = s.x, sy = s.y, sx2 = s.x + s.width + 2, sy2 = s.y + s.height + 2;
        rejected = x <= sx2 && x2 >= sx && y <= sy2 && y2 >= sy;
      }
      if (rejected) continue;
      m_slot[0] = EdgeFontSlot{1, x, y, w, h, m_slot[0].anchor};
      return 1;
    }
  }
  return 0;
}

int CDDEdgeFontMng::FillRect(int x, int y, int w, int h, uint32_t color) {
  if (!m_pTexture) return 0;
  D3DLOCKED_RECT locked;
  if (FAILED(m_pTexture->LockRect(0, &locked, 0))) return 0;
  const int x0 = std::max(x, 0), y0 = std::max(y, 0);
  const int x1 = int(std::min<int64_t>(int64_t(x) + w, m_nTexWidth));
  const int y1 = int(std::min<int64_t>(int64_t(y) + h, m_nTexHeight));
  const uint32_t pixel = color & 0x00FFFFFF;  // alpha 0
  for (int row = y0; row < y1; ++row) {
    auto* p = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.pBits) + size_t(row) * size_t(locked.Pitch));
    for (int col = x0; col < x1; ++col) std::memcpy(p + col, &pixel, 4);
  }
  m_pTexture->UnlockRect(0);
  return 1;
}

int CDDEdgeFontMng::DrawSlot(int index, float x, float y, float opacity, float scaleX, float scaleY) {
  if (index < 0 || index >= kSlots || !m_slot[index].used) return 0;
  // Without an atlas the quad would show as a blank box.
  if (!m_pDevice || !m_pTexture) return 0;
  const EdgeFontSlot& s = m_slot[index];
  const float ox = 0.0f, oy = 0.0f;  // anchor 0: top-left
  const float W = float(m_nTexWidth), H = float(m_nTexHeight);
  const float sw = float(s.width), sh = float(s.height);
  // an opacity outside 0..1 (or not a number) is held to the range, not wrapped into the colour
  const float alpha = opacity >= 0.0f ? std::min(opacity, 1.0f) : 0.0f;
  const D3DCOLOR diffuse = (D3DCOLOR(int(alpha * 255.0f)) << 24) | (m_dwVertexColor & 0xFFFFFF);
  SpriteVertex v[4] = {
      {ox, oy, 0, 1, diffuse, float(s.x) / W, float(s.y) / H},
      {ox, oy + sh, 0, 1, diffuse, float(s.x) / W, float(s.y + s.height) / H},
      {ox + sw, oy, 0, 1, diffuse, float(s.x + s.width) / W, float(s.y) / H},
      {ox + sw, oy + sh, 0, 1, diffuse, float(s.x + s.width) / W, float(s.y + s.height) / H},
  };
  // scaled, then moved so that pixel centres fall on the texel centres
  for (SpriteVertex& p : v) {
    p.x = p.x * scaleX + (x - 0.5f);
    p.y = p.y * scaleY + (y - 0.5f);
  }
  m_pDevice->SetTexture(0, m_pTexture);
  m_pDevice->SetFVF(kSpriteVertexFvf);
  m_pDevice->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(SpriteVertex));
  return 1;
}
