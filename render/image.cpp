#include "render/image.h"

#include <algorithm>
#include <cstring>

CImage::~CImage() { Clear(); }

void CImage::Clear() {
  m_picture.clear();
  m_mask.clear();
  m_nWidth = m_nHeight = m_nValue = 0;
}

int CImage::Set(int width, int height, const uint32_t* picture, const uint32_t* mask) {
  Clear();
  if (width <= 0 || height <= 0 || !picture) return 0;
  const size_t count = size_t(width) * size_t(height);
  m_picture.assign(picture, picture + count);
  if (mask) m_mask.assign(mask, mask + count);
  m_nWidth = width;
  m_nHeight = height;
  return 1;
}

int CImage::Draw(const ImageTarget& target) const {
  if (m_picture.empty()) return 0;
  if (!target.bits) return 1;
  const int width = std::min(m_nWidth, target.width), height = std::min(m_nHeight, target.height);
  for (int y = 0; y < height; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(target.bits + size_t(y) * target.pitch);
    const uint32_t* picture = m_picture.data() + size_t(y) * m_nWidth;
    if (m_mask.empty()) {
      std::memcpy(row, picture, size_t(width) * 4);
      continue;
    }
    const uint32_t* mask = m_mask.data() + size_t(y) * m_nWidth;
    for (int x = 0; x < width; ++x) row[x] = (row[x] & mask[x]) | picture[x];
  }
  return 1;
}
