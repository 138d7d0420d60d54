// CFile: line-ending rules, the UTF-16 mode with its conversions, and write
// failures reported as 0.
#include "support/file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/codepage.h"
#include "tests/common/temp_dir.h"

namespace {

std::string Utf16Bytes(std::u16string_view text) {
  std::string out;
  for (char16_t u : text) {
    out += char(u & 0xFF);
    out += char(u >> 8);
  }
  return out;
}

struct LineCase {
  std::string in;
  std::string out;
};

// A LF gains a CR unless one is before it; a LF at the very start gains one too.
const LineCase kLineCases[] = {
    {"\r\n", "\r\n"},
    {"\n", "\r\n"},
    {"a\nb", "a\r\nb"},
    {"a\r\nb", "a\r\nb"},
    {"\n\n", "\r\n\r\n"},
    {"\nab", "\r\nab"},
    {"\r", "\r"},
    {"\r\r\n", "\r\r\n"},
    {"a\n\r\n\n", "a\r\n\r\n\r\n"},
    {"no line end", "no line end"},
};

TEST(File, NarrowLineEndings) {
  qev::test::TempDir dir;
  for (const LineCase& c : kLineCases) {
    CFile file;
    ASSERT_EQ(file.Create(dir.Path("a.txt").c_str()), 1);
    EXPECT_EQ(file.WriteTextA(c.in.c_str()), int64_t(c.out.size()));
    file.Close();
    EXPECT_EQ(dir.ReadFile("a.txt"), c.out);
  }
}

TEST(File, WideLineEndingsInUtf16Mode) {
  qev::test::TempDir dir;
  for (const LineCase& c : kLineCases) {
    CFile file;
    ASSERT_EQ(file.Create(dir.Path("w.txt").c_str()), 1);
    file.SetUtf16();
    const std::u16string in = qev::Utf8ToUtf16(c.in);
    const std::string expected = Utf16Bytes(qev::Utf8ToUtf16(c.out));
    EXPECT_EQ(file.WriteTextW(in.c_str()), int64_t(expected.size()));
    file.Close();
    EXPECT_EQ(dir.ReadFile("w.txt"), expected);
  }
}

TEST(File, ConversionsBetweenTheModes) {
  qev::test::TempDir dir;
  const std::string narrow = qev::Sjis("モデル\n");
  {
    // narrow text into a UTF-16 file: converted from code page 932
    CFile file;
    ASSERT_EQ(file.Create(dir.Path("a.txt").c_str()), 1);
    file.SetUtf16();
    EXPECT_EQ(file.WriteTextA(narrow.c_str()), 10);
    file.Close();
    EXPECT_EQ(dir.ReadFile("a.txt"), Utf16Bytes(u"モデル\r\n"));
  }
  {
    // wide text into a narrow file: converted to code page 932
    CFile file;
    ASSERT_EQ(file.Create(dir.Path("b.txt").c_str()), 1);
    EXPECT_EQ(file.WriteTextW(u"モデル\n"), 8);
    file.Close();
    EXPECT_EQ(dir.ReadFile("b.txt"), qev::Sjis("モデル\r\n"));
  }
}

TEST(File, LargeTextIsWrittenWhole) {
  qev::test::TempDir dir;
  std::string text;
  for (int i = 0; i < 60000; ++i) text += "line\n";  // 300000 bytes in, 360000 out
  CFile file;
  ASSERT_EQ(file.Create(dir.Path("big.txt").c_str()), 1);
  EXPECT_EQ(file.WriteTextA(text.c_str()), 360000);
  file.Close();
  const std::string out = dir.ReadFile("big.txt");
  ASSERT_EQ(out.size(), 360000u);
  EXPECT_EQ(out.substr(0, 12), "line\r\nline\r\n");
}

TEST(File, FlagsAndClosedFile) {
  qev::test::TempDir dir;
  CFile file;
  EXPECT_EQ(file.m_hFile, -1);
  EXPECT_EQ(file.m_nFlags, 0u);
  EXPECT_EQ(file.WriteTextA("x"), 0);
  EXPECT_EQ(file.WriteTextW(u"x"), 0);
  file.SetUtf16();  // nothing to set on a closed file
  EXPECT_EQ(file.m_nFlags, 0u);
  ASSERT_EQ(file.Create(dir.Path("f.txt").c_str()), 1);
  EXPECT_EQ(file.m_nFlags, 0x09u);
  file.SetUtf16();
  EXPECT_EQ(file.m_nFlags, 0x19u);
  EXPECT_EQ(file.WriteTextA(nullptr), 0);
  EXPECT_EQ(file.WriteTextA(""), 0);
  EXPECT_EQ(file.Close(), 1);
  EXPECT_EQ(file.m_hFile, -1);
  EXPECT_EQ(file.m_nFlags, 0u);
  EXPECT_EQ(file.WriteTextA("x"), 0);
  EXPECT_EQ(dir.ReadFile("f.txt"), "");
}

TEST(File, FailuresAreReported) {
  qev::test::TempDir dir;
  CFile file;
  EXPECT_EQ(file.Create(dir.Path("missing/f.txt").c_str()), 0);
  EXPECT_EQ(file.Create(dir.Path("").c_str()), 0);  // a folder
  EXPECT_EQ(file.Create(nullptr), 0);
  EXPECT_EQ(file.m_nFlags, 0u);
  // a device that is always full: every write fails
  ASSERT_EQ(file.Create("/dev/full"), 1);
  EXPECT_EQ(file.WriteTextA("data\n"), 0);
  file.SetUtf16();
  EXPECT_EQ(file.WriteTextW(u"data\n"), 0);
  EXPECT_EQ(file.Write("ab", 2), 0);
}

TEST(File, TemporaryFileBesideItsTarget) {
  qev::test::TempDir dir;
  const std::string target = dir.Path("settings.ini");
  CFile a, b;
  ASSERT_EQ(a.CreateTemp(target.c_str()), 1);
  ASSERT_EQ(b.CreateTemp(target.c_str()), 1);
  EXPECT_NE(a.TempPath(), b.TempPath());
  // a dot file in the same folder: ".settings.ini." and six letters
  EXPECT_EQ(a.TempPath().rfind(dir.Path(".settings.ini."), 0), 0u) << a.TempPath();
  EXPECT_EQ(a.TempPath().size(), dir.Path(".settings.ini.").size() + 6) << a.TempPath();
  EXPECT_EQ(a.Write("xy", 2), 1);
  EXPECT_EQ(a.Sync(), 1);
  EXPECT_EQ(a.Close(), 1);
  EXPECT_EQ(dir.List().size(), 2u);
  // the same permissions as a file made the plain way
  CFile plain;
  ASSERT_EQ(plain.Create(target.c_str()), 1);
  struct stat tempStat {}, plainStat {};
  ASSERT_EQ(stat(a.TempPath().c_str(), &tempStat), 0);
  ASSERT_EQ(stat(target.c_str(), &plainStat), 0);
  EXPECT_EQ(tempStat.st_mode, plainStat.st_mode);
  EXPECT_EQ(a.CreateTemp(dir.Path("missing/settings.ini").c_str()), 0);
  EXPECT_EQ(errno, ENOENT);
}

// The temporary name never outgrows the folder's name limit where the
// target's own name fits: a long name is cut, between characters.
TEST(File, TemporaryNameOfALongTargetFitsTheFolder) {
  qev::test::TempDir dir;
  std::string kana;
  for (int i = 0; i < 85; ++i) kana += "\xE3\x81\x82";  // 3 bytes each, 255 in all
  struct Case {
    std::string name;
    size_t kept;  // bytes of the name in the temporary one
  };
  const Case cases[] = {
      {std::string(253, 'a') + ".x", 247},
      {std::string(247, 'b'), 247},
      {std::string(248, 'c'), 247},
      {kana, 246},  // 247 would split the 83rd character
      {"a", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name.size());
    CFile file;
    ASSERT_EQ(file.CreateTemp(dir.Path(c.name).c_str()), 1) << strerror(errno);
    const std::string name = file.TempPath().substr(dir.Path().size() + 1);
    EXPECT_LE(name.size(), 255u);
    EXPECT_EQ(name, "." + c.name.substr(0, c.kept) + "." + name.substr(name.size() - 6));
    EXPECT_EQ(file.Close(), 1);
    EXPECT_EQ(unlink(file.TempPath().c_str()), 0);
  }
}

}  // namespace
