// CEdgeFont32: a string image with a soft outline: the anti-aliased white
// text laid over a blur of its coverage in an edge colour, e pixels wider on
// every side.
#pragma once
#include <cstdint>

class CEdgeFont32 {
 public:
  CEdgeFont32() = default;
  CEdgeFont32(const CEdgeFont32&) = delete;
  CEdgeFont32& operator=(const CEdgeFont32&) = delete;
  virtual ~CEdgeFont32();

  // Renders text (UTF-16) in a face (UTF-16, or null) with an outline of
  // radius edge pixels in the colour's low 24 bits (RGB). 0 when the text
  // cannot be rendered or the image not allocated.
  int Make(const char16_t* text, const char16_t* face, uint32_t color, int edge);
  void Free();

  uint8_t* m_pBits = nullptr;  // blue, green, red, alpha; rows top-down
  int m_nWidth = 0;
  int m_nHeight = 0;
  int m_nPitch = 0;  // width x 4
};

// Share of one source pixel's coverage in the outline's alpha.
constexpr float kEdgeCoverage = 0.45f;
