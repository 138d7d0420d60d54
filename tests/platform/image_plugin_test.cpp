// Memory handles shared between plug-ins and the viewer.
#include "platform/image_plugin.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>

namespace {

TEST(ImagePluginHandles, AllocateSizeLockUnlockFree) {
  HLOCAL h = LocalAlloc(LHND, 100);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(LocalSize(h), 100u);
  auto* p = static_cast<uint8_t*>(LocalLock(h));
  EXPECT_EQ(p, h) << "a handle is also the address of its bytes";
  for (int i = 0; i < 100; ++i) ASSERT_EQ(p[i], 0) << "zero-initialised";
  EXPECT_EQ(LocalLock(h), p);
  EXPECT_EQ(LocalUnlock(h), 1) << "still locked once";
  EXPECT_EQ(LocalUnlock(h), 0);
  EXPECT_EQ(LocalUnlock(h), 0) << "unlocking an unlocked block changes nothing";
  EXPECT_EQ(LocalFree(h), nullptr);

  HLOCAL empty = LocalAlloc(LMEM_FIXED, 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(LocalSize(empty), 0u);
  EXPECT_EQ(LocalFree(empty), nullptr);
}

TEST(ImagePluginHandles, NullAndForeignBlocks) {
  EXPECT_EQ(LocalSize(nullptr), 0u);
  EXPECT_EQ(LocalLock(nullptr), nullptr);
  EXPECT_EQ(LocalUnlock(nullptr), 0);
  EXPECT_EQ(LocalFree(nullptr), nullptr);
  // memory that did not come from LocalAlloc is neither sized nor locked
  auto* foreign = static_cast<uint8_t*>(std::calloc(64, 1));
  HLOCAL h = foreign + 32;
  EXPECT_EQ(LocalSize(h), 0u);
  EXPECT_EQ(LocalLock(h), nullptr);
  std::free(foreign);
  EXPECT_EQ(LocalAlloc(LMEM_FIXED, SIZE_MAX), nullptr);
}

TEST(ImagePluginHandles, RecordLayoutsMatchTheInterface) {
  EXPECT_EQ(sizeof(BITMAPINFOHEADER), 40u);
  EXPECT_EQ(offsetof(BITMAPINFOHEADER, biBitCount), 14u);
  EXPECT_EQ(offsetof(PictureInfo, colorDepth), 20u);
  EXPECT_EQ(offsetof(PictureInfo, hInfo), 24u);
  EXPECT_TRUE(IMAGE_PLUGIN_IS_FILE(reinterpret_cast<void*>(intptr_t(5))));
  int local = 0;
  EXPECT_FALSE(IMAGE_PLUGIN_IS_FILE(&local));
}

}  // namespace
