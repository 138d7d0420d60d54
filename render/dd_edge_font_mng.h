// CDDEdgeFontMng: outlined strings packed into one 1024 x 512 atlas texture
// and drawn as screen-space sprites with a scale and an opacity. Slot 0
// receives each newly made string.
#pragma once
#include <cstdint>

#include "platform/d3d9.h"

// One region of the atlas; x, y is its top-left pixel.
struct EdgeFontSlot {
  int32_t used;
  int32_t x, y;
  int32_t width, height;
  int32_t anchor;  // 0: the region's top-left corner sits at the draw position
};

// A sprite corner as the device reads it (format 0x144): screen pixels,
// depth 0..1, 1/w, colour, atlas coordinates.
struct SpriteVertex {
  float x, y, z, rhw;
  D3DCOLOR diffuse;
  float u, v;
};
static_assert(sizeof(SpriteVertex) == 28, "sprite vertices are 28 bytes");
constexpr DWORD kSpriteVertexFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

class CDDEdgeFontMng {
 public:
  static constexpr int kSlots = 32;
  static constexpr int kAtlasWidth = 1024;
  static constexpr int kAtlasHeight = 512;

  CDDEdgeFontMng() = default;
  CDDEdgeFontMng(const CDDEdgeFontMng&) = delete;
  CDDEdgeFontMng& operator=(const CDDEdgeFontMng&) = delete;
  virtual ~CDDEdgeFontMng();

  // Empties the manager, keeps the device and makes the cleared atlas; 0
  // when there is no device or the texture cannot be made.
  int Init(IDirect3DDevice9* device);
  // Slots emptied, atlas cleared and released, settings back to their defaults.
  void Reset();
  // Renders a string (UTF-16) in a face (UTF-16, or null) with the edge
  // settings into a free region; it becomes slot 0. 0 when it cannot be
  // rendered or placed (slot 0 is then unused).
  int MakeText(const char16_t* face, const char16_t* text);
  // Draws a slot at screen pixel (x, y), its size scaled, the opacity (0..1)
  // in the vertex alpha. 0 for an index outside 0..31, an unused slot, or
  // nothing to draw with.
  int DrawSlot(int index, float x, float y, float opacity, float scaleX, float scaleY);
  // Finds a place for a w x h region and makes it slot 0; 0 when none fits.
  int FindPlace(int w, int h);
  // Fills a rectangle of the atlas with an RGB colour (low 24 bits) and alpha
  // 0, clipped to the atlas; 0 without an atlas or when it cannot be locked.
  int FillRect(int x, int y, int w, int h, uint32_t color);

  EdgeFontSlot m_slot[kSlots] = {};
  IDirect3DDevice9* m_pDevice = nullptr;   // not owned
  IDirect3DTexture9* m_pTexture = nullptr;  // the atlas, owned
  int m_nTexWidth = 0;
  int m_nTexHeight = 0;
  int m_nAnchor = 0;
  uint32_t m_dwVertexColor = 0xFFFFFF;  // RGB the atlas is modulated by
  uint32_t m_dwEdgeColor = 0x000000;    // outline RGB (low 24 bits)
  int m_nEdgeWidth = 1;                 // outline radius, pixels
};
