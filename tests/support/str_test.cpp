// CStr: both encodings of one text, lengths in bytes and in UTF-16 units.
#include "support/str.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/codepage.h"

namespace {

TEST(Str, NarrowAndWideLengths) {
  struct Case {
    std::string narrow;  // code page 932
    std::u16string wide;
  };
  const Case cases[] = {
      {"", u""},
      {"abc", u"abc"},
      {qev::Sjis("日本"), u"日本"},  // 4 bytes, 2 units
      {qev::Sjis("ｱ"), u"ｱ"},      // half-width kana: 1 byte, 1 unit
      {qev::Sjis("a表b"), u"a表b"},  // second byte of 表 is a backslash
  };
  for (const Case& c : cases) {
    CStr fromA;
    ASSERT_EQ(fromA.SetA(c.narrow.c_str()), 1);
    EXPECT_EQ(std::string(fromA.m_pszA), c.narrow);
    EXPECT_EQ(fromA.m_nLengthA, int(c.narrow.size()));
    EXPECT_EQ(std::u16string(fromA.m_pszW), c.wide);
    EXPECT_EQ(fromA.m_nLengthW, int(c.wide.size()));

    CStr fromW;
    ASSERT_EQ(fromW.SetW(c.wide.c_str()), 1);
    EXPECT_EQ(std::string(fromW.m_pszA), c.narrow);
    EXPECT_EQ(fromW.m_nLengthA, int(c.narrow.size()));
    EXPECT_EQ(std::u16string(fromW.m_pszW), c.wide);
    EXPECT_EQ(fromW.m_nLengthW, int(c.wide.size()));
  }
}

TEST(Str, NewIsEmptyAndNullIsRefusedWithoutChange) {
  CStr s;
  EXPECT_EQ(s.m_pszA, nullptr);
  EXPECT_EQ(s.m_pszW, nullptr);
  EXPECT_EQ(s.m_nLengthA, 0);
  EXPECT_EQ(s.m_nLengthW, 0);
  ASSERT_EQ(s.SetA("keep"), 1);
  EXPECT_EQ(s.SetA(nullptr), 0);
  EXPECT_EQ(s.SetW(nullptr), 0);
  EXPECT_STREQ(s.m_pszA, "keep");
  EXPECT_EQ(std::u16string(s.m_pszW), u"keep");
}

TEST(Str, SettingFromItsOwnTextKeepsIt) {
  CStr s("a fairly long text that must survive being set from itself");
  ASSERT_EQ(s.SetA(s.m_pszA), 1);
  EXPECT_STREQ(s.m_pszA, "a fairly long text that must survive being set from itself");
  ASSERT_EQ(s.SetW(s.m_pszW + 2), 1);
  EXPECT_STREQ(s.m_pszA, "fairly long text that must survive being set from itself");
  EXPECT_EQ(s.m_nLengthW, s.m_nLengthA);
}

TEST(Str, CharactersOutsideTheCodePage) {
  CStr s;
  // U+00E9 has no code page 932 form: the narrow side gets a stand-in
  ASSERT_EQ(s.SetW(u"caf\u00e9"), 1);
  EXPECT_STREQ(s.m_pszA, "caf?");
  EXPECT_EQ(s.m_nLengthW, 4);
  // a lead byte with no trail byte cannot be converted and becomes U+FFFD
  ASSERT_EQ(s.SetA("a\x82"), 1);
  EXPECT_EQ(std::u16string(s.m_pszW), u"a\uFFFD");
  EXPECT_EQ(s.m_nLengthA, 2);
}

}  // namespace
