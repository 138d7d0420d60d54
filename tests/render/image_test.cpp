// The background picture holder: nothing drawn without a picture, copy or
// mask-and-paint with one, clipped to the target.
#include "render/image.h"

#include <gtest/gtest.h>

namespace {

TEST(Image, DrawsNothingWithoutAPicture) {
  CImage image;
  std::vector<uint32_t> target(4, 0x12345678);
  const ImageTarget t{2, 2, 8, reinterpret_cast<uint8_t*>(target.data())};
  EXPECT_EQ(image.Draw(t), 0);
  EXPECT_EQ(image.Set(0, 3, target.data()), 0);
  EXPECT_EQ(image.Draw(t), 0);
  EXPECT_EQ(target, std::vector<uint32_t>(4, 0x12345678));
}

TEST(Image, CopyOrMaskThenPaintClippedToTheTarget) {
  // a 3 x 1 picture onto a 2 x 2 target: the third column and the second row stay
  const uint32_t picture[3] = {0xFF0000FF, 0x00000000, 0xFFFFFFFF};
  const uint32_t mask[3] = {0x00000000, 0xFFFFFFFF, 0x00000000};
  struct Case {
    const uint32_t* mask;
    std::vector<uint32_t> expected;
  };
  const Case cases[] = {
      {nullptr, {0xFF0000FF, 0x00000000, 0x11111111, 0x11111111}},
      {mask, {0xFF0000FF, 0x11111111, 0x11111111, 0x11111111}},  // black with a white mask shows the background
  };
  for (const Case& c : cases) {
    CImage image;
    ASSERT_EQ(image.Set(3, 1, picture, c.mask), 1);
    std::vector<uint32_t> target(4, 0x11111111);
    EXPECT_EQ(image.Draw({2, 2, 8, reinterpret_cast<uint8_t*>(target.data())}), 1);
    EXPECT_EQ(target, c.expected);
  }
  CImage image;
  image.Set(3, 1, picture, mask);
  image.m_nValue = 7;
  image.Clear();
  EXPECT_EQ(image.m_nWidth + image.m_nHeight + image.m_nValue, 0);
  EXPECT_TRUE(image.m_picture.empty());
  EXPECT_TRUE(image.m_mask.empty());
}

}  // namespace
