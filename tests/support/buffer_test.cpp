// Growable buffer: step growth, whole-file loads, trimmed text.
#include "support/buffer.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>

#include "tests/common/temp_dir.h"

namespace {

TEST(Buffer, GrowsInWholeSteps) {
  struct Case {
    uint32_t step, elementSize;
    std::vector<int64_t> appends;  // -1: one element
    uint32_t used, allocated;
  };
  const Case cases[] = {
      {102400, 1, {1}, 1, 102400},
      {102400, 1, {1, 102400}, 102401, 204800},
      {102400, 1, {102400}, 102400, 102400},
      {102400, 1, {0}, 0, 0},
      {102400, 8, {-1, -1, -1}, 24, 102400},
      {10, 1, {3, 8}, 11, 20},
      {10, 24, {-1}, 24, 30},
  };
  for (const Case& c : cases) {
    CBuffer b;
    b.m_nStep = c.step;
    b.m_nElementSize = c.elementSize;
    for (int64_t n : c.appends) ASSERT_EQ(b.Append(n, nullptr), 1);
    EXPECT_EQ(b.m_nUsed, c.used);
    EXPECT_EQ(b.m_nAllocated, c.allocated);
  }
}

TEST(Buffer, AppendCopiesOrZeroes) {
  CBuffer b;
  ASSERT_EQ(b.Append(3, "abc"), 1);
  ASSERT_EQ(b.Append(2, nullptr), 1);
  ASSERT_EQ(b.Append(1, "z"), 1);
  EXPECT_EQ(std::memcmp(b.m_pData, "abc\0\0z", 6), 0);
}

TEST(Buffer, ImpossibleGrowthFailsAndEmptiesTheBookkeeping) {
  CBuffer b;
  ASSERT_EQ(b.Append(10, "0123456789"), 1);
  EXPECT_EQ(b.Append(int64_t(1) << 32, nullptr), 0);  // past what 32-bit sizes hold
  EXPECT_EQ(b.m_nUsed, 0u);
  EXPECT_EQ(b.m_nAllocated, 0u);
  EXPECT_EQ(b.Append(-5, nullptr), 0);
}

TEST(Buffer, LoadFile) {
  qev::test::TempDir dir;
  dir.WriteFile("empty", "");
  std::string big(3 * 1024 * 1024 + 17, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = char(i * 7);
  dir.WriteFile("big", big);

  CBuffer empty;
  EXPECT_EQ(empty.LoadFile(dir.Path("empty").c_str()), 1);
  EXPECT_EQ(empty.m_nUsed, 0u);

  CBuffer b;
  ASSERT_EQ(b.Append(2, "hd"), 1);  // loads append after what is there
  ASSERT_EQ(b.LoadFile(dir.Path("big").c_str()), 1);
  ASSERT_EQ(b.m_nUsed, big.size() + 2);
  EXPECT_EQ(std::memcmp(b.m_pData + 2, big.data(), big.size()), 0);

  CBuffer missing;
  EXPECT_EQ(missing.LoadFile(dir.Path("none").c_str()), 0);
  EXPECT_EQ(missing.LoadFile(dir.Path().c_str()), 0);  // a folder is no file
  EXPECT_EQ(missing.LoadFile(nullptr), 0);

  // a named pipe with no writer would block a plain open for ever
  ASSERT_EQ(mkfifo(dir.Path("pipe").c_str(), 0600), 0);
  EXPECT_EQ(missing.LoadFile(dir.Path("pipe").c_str()), 0);
  EXPECT_EQ(missing.m_nUsed, 0u);
}

TEST(Buffer, SetTrimmedText) {
  struct Case {
    std::u16string in, out;
  };
  const Case cases[] = {
      {u" \t\u3000abc \u3000\t", u"abc"},
      {u" \t\u3000 ", u""},
      {u"", u""},
      {u"a b", u"a b"},
      {u"\u3000全角\u3000", u"全角"},
  };
  for (const Case& c : cases) {
    CBuffer b;
    ASSERT_EQ(b.Append(4, "junk"), 1);
    ASSERT_EQ(b.SetTrimmedText(c.in.c_str()), 1);
    ASSERT_EQ(b.m_nUsed, (c.out.size() + 1) * 2);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(b.m_pData)), c.out);
  }
}

}  // namespace
