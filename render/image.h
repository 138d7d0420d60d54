// CImage: a picture with an optional mask that a window paints as its
// background. Without a picture, Draw does nothing and the window erases its
// background the default way.
#pragma once
#include <cstdint>
#include <vector>

// What a picture is drawn onto: 32-bit pixels, rows top-down, `pitch` bytes apart.
struct ImageTarget {
  int width = 0;
  int height = 0;
  int pitch = 0;
  uint8_t* bits = nullptr;
};

class CImage {
 public:
  CImage() = default;
  virtual ~CImage();

  // Holds a copy of a width x height picture (32-bit pixels, rows top-down)
  // and, when `mask` is not null, a mask of the same size. 0 for an empty size.
  int Set(int width, int height, const uint32_t* picture, const uint32_t* mask = nullptr);
  // 0 when there is no picture. With a mask: the mask is combined into the
  // target at (0, 0) with AND, then the picture with OR (the mask keeps the
  // background where the picture is black); without one the picture is copied.
  // Clipped to the target.
  int Draw(const ImageTarget& target) const;
  // Drops the picture and the mask; width, height and the further value become 0.
  void Clear();

  std::vector<uint32_t> m_picture;
  std::vector<uint32_t> m_mask;
  int m_nWidth = 0;
  int m_nHeight = 0;
  int m_nValue = 0;  // free for the owner's use
};
