// CParseStringA / CParseStringW: splitting at a separator with double quotes
// suspending it, in both widths.
#include "support/parse_string.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/codepage.h"

namespace {

std::vector<std::string> TokensA(const CParseStringA& p) {
  return std::vector<std::string>(p.m_ppToken, p.m_ppToken + p.m_nCount);
}

std::vector<std::u16string> TokensW(const CParseStringW& p) {
  return std::vector<std::u16string>(p.m_ppToken, p.m_ppToken + p.m_nCount);
}

struct SplitCase {
  std::string text;
  std::string separator;
  std::vector<std::string> tokens;
};

const SplitCase kSplitCases[] = {
    {"a,b,", ",", {"a", "b"}},      // a trailing separator adds nothing
    {",a", ",", {"", "a"}},
    {"a,,b", ",", {"a", "", "b"}},
    {",", ",", {""}},
    {"", ",", {}},
    {"abc", ",", {"abc"}},
    {"x,\"1,2\",y", ",", {"x", "1,2", "y"}},  // quotes suspend the split and are dropped
    {"\"", ",", {"\""}},                      // one character is never stripped
    {"\"\"", ",", {""}},                      // a bare pair strips to nothing
    {"a\"b,c\"d,e", ",", {"a\"b,c\"d", "e"}},  // inner quotes stay
    {"\"a\"\"b\",c", ",", {"a\"\"b", "c"}},    // a doubled quote is no escape
    {"\"open,never,closed", ",", {"\"open,never,closed"}},
    {"a::b:c", "::", {"a", "b:c"}},  // only the whole separator splits
    {"a:", "::", {"a:"}},            // a separator cut off by the end does not match
    {"a::::b", "::", {"a", "", "b"}},
    {"a\r\nb\r\n\r\nc", "\r\n", {"a", "b", "", "c"}},
    {"a\nb\r\nc", "\r\n", {"a\nb", "c"}},
};

TEST(ParseString, SplitNarrow) {
  for (const SplitCase& c : kSplitCases) {
    CParseStringA p;
    ASSERT_EQ(p.Split(c.text.c_str(), c.separator.c_str()), 1) << c.text;
    EXPECT_EQ(TokensA(p), c.tokens) << c.text;
  }
}

TEST(ParseString, SplitWide) {
  for (const SplitCase& c : kSplitCases) {
    CParseStringW p;
    const std::u16string text = qev::Utf8ToUtf16(c.text);
    ASSERT_EQ(p.Split(text.c_str(), qev::Utf8ToUtf16(c.separator).c_str()), 1) << c.text;
    std::vector<std::u16string> expected;
    for (const std::string& t : c.tokens) expected.push_back(qev::Utf8ToUtf16(t));
    EXPECT_EQ(TokensW(p), expected) << c.text;
  }
}

TEST(ParseString, RefusalsLeaveNoTokens) {
  CParseStringA a;
  ASSERT_EQ(a.Split("a,b", ","), 1);
  EXPECT_EQ(a.Split("a,b", ""), 0);
  EXPECT_EQ(a.m_nCount, 0);
  EXPECT_EQ(a.m_ppToken, nullptr);
  ASSERT_EQ(a.Split("a,b", ","), 1);
  EXPECT_EQ(a.Split(nullptr, ","), 0);
  EXPECT_EQ(a.m_nCount, 0);
  EXPECT_EQ(a.Split("a", nullptr), 0);

  CParseStringW w;
  ASSERT_EQ(w.Split(u"a,b", u","), 1);
  EXPECT_EQ(w.Split(u"a,b", u""), 0);
  EXPECT_EQ(w.m_nCount, 0);
  EXPECT_EQ(w.Split(nullptr, u","), 0);
  EXPECT_EQ(w.Split(u"a", nullptr), 0);
  EXPECT_EQ(w.Clear(), 1);
}

TEST(ParseString, JapaneseNarrowText) {
  // trail bytes such as the 0x5C of ソ and 表 pass through untouched
  const std::string text = qev::Sjis("ソ表,\"頭 先\",a");
  CParseStringA p;
  ASSERT_EQ(p.Split(text.c_str(), ","), 1);
  EXPECT_EQ(TokensA(p), std::vector<std::string>({qev::Sjis("ソ表"), qev::Sjis("頭 先"), "a"}));
}

TEST(ParseString, SplittingOneOfItsOwnTokens) {
  CParseStringA p;
  ASSERT_EQ(p.Split("a b|c", "|"), 1);
  ASSERT_EQ(p.Split(p.m_ppToken[0], " "), 1);
  EXPECT_EQ(TokensA(p), std::vector<std::string>({"a", "b"}));
  CParseStringW w;
  ASSERT_EQ(w.Split(u"a b|c", u"|"), 1);
  ASSERT_EQ(w.Split(w.m_ppToken[0], u" "), 1);
  EXPECT_EQ(TokensW(w), std::vector<std::u16string>({u"a", u"b"}));
}

TEST(ParseString, ManyTokens) {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += std::to_string(i) + "\n";
  CParseStringA p;
  ASSERT_EQ(p.Split(text.c_str(), "\n"), 1);
  ASSERT_EQ(p.m_nCount, 20000);
  EXPECT_STREQ(p.m_ppToken[0], "0");
  EXPECT_STREQ(p.m_ppToken[19999], "19999");
}

}  // namespace
