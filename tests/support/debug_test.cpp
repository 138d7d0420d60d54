// Log: stamping, clearing, length cut and the tap.
#include "support/debug.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "tests/common/temp_dir.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

const std::regex kStamp(R"(\[\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\.\d{3}\] )");

TEST(DebugLog, WriteAndClearBeforeOpenAreRefusedAndCreateNothing) {
  qev::test::TempDir dir;
  CDebug log;
  EXPECT_EQ(log.Write("x\n"), 0);
  EXPECT_EQ(log.Clear(), 0);
  EXPECT_TRUE(dir.List().empty());
}

TEST(DebugLog, ClearLeavesOnlyTheStampedClearLine) {
  qev::test::TempDir dir;
  CDebug log;
  const std::string path = dir.Path("DEBUG.TXT");
  ASSERT_EQ(log.Open(path.c_str()), 1);
  ASSERT_EQ(log.Write("old\n"), 1);
  ASSERT_EQ(log.Clear(), 1);
  const std::string text = ReadAll(path);
  EXPECT_TRUE(std::regex_match(text, std::regex(R"(\[\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\.\d{3}\] << Log Clear >>\r\n)")))
      << text;
}

TEST(DebugLog, LengthCutAndLineEndings) {
  struct Case {
    size_t length;
    bool newline;
    std::string expectedTail;
    size_t expectedBody;
  };
  const Case cases[] = {
      {2044, false, "", 2044},     // stored whole
      {2045, false, "...\r\n", 2044},  // cut to 2044 bytes plus "...\n"
      {5000, false, "...\r\n", 2044},
      {10, true, "\r\n", 10},      // line feed lands as CR LF
  };
  for (const Case& c : cases) {
    qev::test::TempDir dir;
    CDebug log;
    const std::string path = dir.Path("log.txt");
    log.Open(path.c_str());
    std::string msg(c.length, 'a');
    if (c.newline) msg += '\n';
    ASSERT_EQ(log.Write(msg.c_str()), 1);
    std::string text = ReadAll(path);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(text, m, kStamp)) << c.length;
    ASSERT_EQ(m.position(0), 0);
    text = text.substr(m.length(0));
    EXPECT_EQ(text.size(), c.expectedBody + c.expectedTail.size()) << c.length;
    EXPECT_EQ(text.substr(c.expectedBody), c.expectedTail) << c.length;
  }
}

TEST(DebugLog, MessageWithoutLineFeedRunsIntoTheNextStamp) {
  qev::test::TempDir dir;
  CDebug log;
  const std::string path = dir.Path("log.txt");
  log.Open(path.c_str());
  log.Write("first");
  log.Write("second\n");
  const std::string text = ReadAll(path);
  EXPECT_NE(text.find("] first["), std::string::npos) << text;
}

TEST(DebugLog, OpenWithoutPathStartsADatedFileInLog) {
  qev::test::TempDir dir;
  qev::test::ChangeDir cd(dir.Path());
  CDebug log;
  log.Open(nullptr);
  EXPECT_TRUE(std::regex_match(log.Path(), std::regex(".*/LOG/\\d{8}_\\d{6}\\.LOG"))) << log.Path();
  const std::string text = ReadAll(log.Path());
  EXPECT_TRUE(std::regex_search(text, std::regex(R"(^\[[^\]]+\] <<<<<< LOG START >>>>>>\r\n$)"))) << text;
}

TEST(DebugLog, PrintfFamilyFormatsAndConverts) {
  qev::test::LogCapture capture;
  DebugPrintf("%s=%d\n", "n", 42);
  DebugPrintfW(u"%s:%5.2f:%d:%S\n", u"\u30DC\u30FC\u30F3", 1.5, -3, "ab");
  ASSERT_EQ(capture.Lines().size(), 2u);
  EXPECT_EQ(capture.Lines()[0], "n=42\n");
  // the katakana arrive as code page 932 bytes
  EXPECT_EQ(capture.Lines()[1], "\x83\x7B\x81\x5B\x83\x93: 1.50:-3:ab\n");
}

TEST(DebugLog, WidePrintfShapesArgumentsOfAnyLength) {
  struct Case {
    const char* what;
    std::string got;
    std::string expected;
  };
  qev::test::LogCapture capture;
  const std::u16string longWide(600, u'w');
  const std::string longNarrow(700, 'n');
  DebugPrintfW(u"%s\n", longWide.c_str());
  DebugPrintfW(u"[%S]\n", longNarrow.c_str());
  DebugPrintfW(u"[%600s]\n", u"ab");
  DebugPrintfW(u"[%-4s|%.2s|%3s]\n", u"ab", u"abcdef", u"abcd");
  DebugPrintfW(u"[%600d]\n", 7);
  ASSERT_EQ(capture.Lines().size(), 5u);
  const Case cases[] = {
      {"a long wide string is kept whole", capture.Lines()[0], std::string(600, 'w') + "\n"},
      {"a long narrow string is kept whole", capture.Lines()[1], "[" + longNarrow + "]\n"},
      {"a wide field", capture.Lines()[2], "[" + std::string(598, ' ') + "ab]\n"},
      {"left, precision, overlong", capture.Lines()[3], "[ab  |ab|abcd]\n"},
      {"a wide number field", capture.Lines()[4], "[" + std::string(599, ' ') + "7]\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.expected) << c.what;
}

TEST(DebugLog, DebuggerOutputCutsAt2048Bytes) {
  struct Case {
    size_t length;
    std::string expected;
  };
  const Case cases[] = {
      {2047, std::string(2047, 'a')},              // passed whole
      {2048, std::string(2044, 'a') + "...\n"},  // cut to 2044 bytes plus "...\n"
      {4000, std::string(2044, 'a') + "...\n"},
  };
  for (const Case& c : cases) {
    const std::string message(c.length, 'a');
    testing::internal::CaptureStderr();
    DebugOutputf("%s", message.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.expected) << c.length;
  }
}

}  // namespace
