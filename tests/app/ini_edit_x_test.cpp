// CIniEditX: reading and rewriting the settings file, byte for byte, and a
// failed rewrite that leaves the old file alone.
#include "app/ini_edit_x.h"

#include <signal.h>
#include <unistd.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/codepage.h"
#include "tests/common/temp_dir.h"

namespace {

using qev::test::TempDir;

// UTF-16 little-endian bytes of a UTF-8 text, after a byte order mark.
std::string Utf16File(std::string_view utf8, bool bom = true) {
  std::string out = bom ? "\xFF\xFE" : "";
  for (char16_t u : qev::Utf8ToUtf16(utf8)) {
    out += char(u & 0xFF);
    out += char(u >> 8);
  }
  return out;
}

// A setting as UTF-8, or "<none>" when GetSetting finds nothing.
std::string Setting(CIniEditX& ini, const char16_t* key) {
  char16_t buffer[260];
  std::fill(std::begin(buffer), std::end(buffer), u'#');
  if (!ini.GetSetting(key, buffer)) return "<none>";
  return qev::Utf16ToUtf8(buffer);
}

// What the file holds after a run that read `before` and set PMDFILE to x.
std::string Rewritten(const std::string& before) {
  TempDir dir;
  dir.WriteFile("QEVTest.ini", before);
  {
    CIniEditX ini(dir.Path());
    ini.SetSetting(u"PMDFILE", u"x");
  }
  return dir.ReadFile("QEVTest.ini");
}

TEST(IniEditX, MissingFileIsCreatedAtExitHoldingOnlyTheMark) {
  TempDir dir;
  {
    CIniEditX ini(dir.Path());
    EXPECT_EQ(ini.Modified(), 1);
    EXPECT_EQ(Setting(ini, u"PMDFILE"), "<none>");
    EXPECT_EQ(ini.FilePath(), dir.Path("QEVTest.ini"));
  }
  EXPECT_EQ(dir.ReadFile("QEVTest.ini"), "\xFF\xFE");
  EXPECT_EQ(dir.List(), std::vector<std::string>{"QEVTest.ini"});
}

TEST(IniEditX, ThreePathsAreWrittenAndReadBack) {
  TempDir dir;
  {
    CIniEditX ini(dir.Path());
    ini.SetSetting(u"PMDFILE", u"/home/u/モデル/a.pmd");
    ini.SetSetting(u"VPDFILE", u"");
    ini.SetSetting(u"VMDFILE", u"/m.vmd");
  }
  EXPECT_EQ(dir.ReadFile("QEVTest.ini"),
            Utf16File("[QEVTest]\r\nPMDFILE=/home/u/モデル/a.pmd\r\nVPDFILE=\r\nVMDFILE=/m.vmd\r\n\r\n"));
  CIniEditX ini(dir.Path());
  EXPECT_EQ(ini.Modified(), 0);
  EXPECT_EQ(Setting(ini, u"PMDFILE"), "/home/u/モデル/a.pmd");
  EXPECT_EQ(Setting(ini, u"VPDFILE"), "");
  EXPECT_EQ(Setting(ini, u"VMDFILE"), "/m.vmd");
}

TEST(IniEditX, UnchangedSettingsAreNotRewritten) {
  TempDir dir;
  // not in the writer's own form: a rewrite would show
  const std::string before = Utf16File("[QEVTest]\r\nPMDFILE=a");
  dir.WriteFile("QEVTest.ini", before);
  {
    CIniEditX ini(dir.Path());
    EXPECT_EQ(Setting(ini, u"PMDFILE"), "a");
    EXPECT_EQ(ini.Save(), 0);
  }
  EXPECT_EQ(dir.ReadFile("QEVTest.ini"), before);
}

TEST(IniEditX, ReadingRules) {
  struct Case {
    const char* what;
    std::string file;
    const char16_t* key;
    std::string value;
  };
  const Case cases[] = {
      {"lower-case names", Utf16File("[qevtest]\r\npmdfile=a\r\n"), u"PMDFILE", "a"},
      {"mixed case", Utf16File("[QevTest]\r\nPmdFile=a\r\n"), u"pmdFILE", "a"},
      {"full-width letters differ", Utf16File("[QEVTest]\r\nＰMDFILE=a\r\n"), u"ｐMDFILE", "<none>"},
      {"accented letters differ", Utf16File("[QEVTest]\r\nÉ=a\r\n"), u"é", "<none>"},
      {"second '=' ends the value", Utf16File("[QEVTest]\r\nPMDFILE=/a=b=c\r\n"), u"PMDFILE", "/a"},
      {"blanks belong to names", Utf16File("[QEVTest]\r\nPMDFILE = a\r\n"), u"PMDFILE", "<none>"},
      {"blanks belong to values", Utf16File("[QEVTest]\r\nPMDFILE= a \r\n"), u"PMDFILE", " a "},
      {"first section wins", Utf16File("[QEVTest]\r\nA=1\r\n[Other]\r\n[qevtest]\r\nA=2\r\n"), u"A", "2"},
      {"no line end at all", Utf16File("[QEVTest]\r\nA=1"), u"A", "1"},
      {"a lone LF ends no line", Utf16File("[QEVTest]\nA=1\r\n"), u"A", "<none>"},
      {"a key before any section", Utf16File("A=1\r\n[QEVTest]\r\n"), u"A", "<none>"},
      {"quotes hide the separator", Utf16File("[QEVTest]\r\nA=\"x=y\"\r\n"), u"A", "x=y"},
      {"an empty key is dropped", Utf16File("[QEVTest]\r\n=1\r\n"), u"", "<none>"},
      {"mark only", "\xFF\xFE", u"A", "<none>"},
      {"empty file", "", u"A", "<none>"},
      {"odd byte count", Utf16File("[QEVTest]\r\nA=1\r\n") + "x", u"A", "1"},
      {"ANSI file", qev::Sjis("[QEVTest]\r\nA=C:\\表示\\ソ.pmd\r\n"), u"A", "C:\\表示\\ソ.pmd"},
      {"UTF-16 without the mark", Utf16File("[QEVTest]\r\nA=1\r\n", false), u"A", "<none>"},
      {"ANSI text cut at a NUL", std::string("[QEVTest]\r\nA=1\0\r\nB=2\r\n", 21), u"B", "<none>"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    dir.WriteFile("QEVTest.ini", c.file);
    CIniEditX ini(dir.Path());
    EXPECT_EQ(Setting(ini, c.key), c.value) << c.what;
  }
}

TEST(IniEditX, RewriteRules) {
  struct Case {
    const char* what;
    std::string before;
    std::string after;  // UTF-8, written as UTF-16 with the mark
  };
  const Case cases[] = {
      {"names keep their first spelling", Utf16File("[qevtest]\r\npmdfile=a\r\n"), "[qevtest]\r\npmdfile=x\r\n\r\n"},
      {"a comment line becomes a key", Utf16File("[QEVTest]\r\n;note\r\nPMDFILE=a\r\n"),
       "[QEVTest]\r\n;note=\r\nPMDFILE=x\r\n\r\n"},
      {"lines before the first section go", Utf16File("lost=1\r\n;lost\r\n[QEVTest]\r\n"),
       "[QEVTest]\r\nPMDFILE=x\r\n\r\n"},
      {"other sections and keys stay in order",
       Utf16File("[A]\r\nk=1\r\n\r\n[QEVTest]\r\nVMDFILE=v\r\n[B]\r\n[]\r\n"),
       "[A]\r\nk=1\r\n\r\n[QEVTest]\r\nVMDFILE=v\r\nPMDFILE=x\r\n\r\n[B]\r\n\r\n[]\r\n\r\n"},
      {"a cut value is written cut", Utf16File("[QEVTest]\r\nVPDFILE=a=b\r\n"),
       "[QEVTest]\r\nVPDFILE=a\r\nPMDFILE=x\r\n\r\n"},
      {"an ANSI file comes back as UTF-16", qev::Sjis("[QEVTest]\r\nVMDFILE=モーション.vmd\r\n"),
       "[QEVTest]\r\nVMDFILE=モーション.vmd\r\nPMDFILE=x\r\n\r\n"},
      {"a UTF-16 file without the mark yields nothing", Utf16File("[QEVTest]\r\nVMDFILE=v\r\n", false),
       "[QEVTest]\r\nPMDFILE=x\r\n\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(Rewritten(c.before), Utf16File(c.after)) << c.what;
}

TEST(IniEditX, LongValuesComeBackCutTo127Units) {
  struct Case {
    size_t length;
    size_t expected;
  };
  const Case cases[] = {{0, 0}, {126, 126}, {127, 127}, {128, 127}, {300, 127}};
  for (const Case& c : cases) {
    TempDir dir;
    CIniEditX ini(dir.Path());
    std::u16string value;
    for (size_t i = 0; i < c.length; ++i) value += char16_t(u'a' + i % 26);
    ini.SetSetting(u"PMDFILE", value.c_str());
    char16_t buffer[260];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    ASSERT_EQ(ini.GetSetting(u"PMDFILE", buffer), 1);
    EXPECT_EQ(std::u16string(buffer), value.substr(0, c.expected)) << c.length;
    // the first 128 units are zero-filled, nothing past them is touched
    for (size_t i = c.expected; i < 128; ++i) EXPECT_EQ(buffer[i], 0) << c.length << " at " << i;
    EXPECT_EQ(buffer[128], u'#') << c.length;
  }
}

TEST(IniEditX, GetSettingLeavesTheBufferAloneWhenItFindsNothing) {
  TempDir dir;
  CIniEditX ini(dir.Path());
  char16_t buffer[4] = {u'k', u'e', u'e', u'p'};
  EXPECT_EQ(ini.GetSetting(u"PMDFILE", buffer), 0);  // no section
  ini.SetSetting(u"VMDFILE", u"v");
  EXPECT_EQ(ini.GetSetting(u"PMDFILE", buffer), 0);  // no key
  EXPECT_EQ(std::u16string(buffer, 4), u"keep");
  EXPECT_EQ(ini.GetSetting(u"VMDFILE", nullptr), 0);
}

TEST(IniEditX, EditingOperations) {
  TempDir dir;
  CIniEditX ini(dir.Path());
  ASSERT_EQ(ini.Load(), 0);  // no file
  ini.Save();
  ASSERT_EQ(ini.Modified(), 0);
  CIniEditX::Section* a = ini.AddSection(u"Alpha");
  EXPECT_EQ(ini.Modified(), 1);
  EXPECT_EQ(ini.AddSection(u"ALPHA"), a);
  EXPECT_EQ(ini.FindSection(u"alpha"), a);
  EXPECT_EQ(ini.FindSection(u"beta"), nullptr);
  // sections stay where they are while others are added
  for (int i = 0; i < 1000; ++i) ini.AddSection(qev::Utf8ToUtf16("s" + std::to_string(i)).c_str());
  EXPECT_EQ(ini.FindSection(u"ALPHA"), a);
  EXPECT_EQ(ini.SectionCount(), 1001u);
  EXPECT_EQ(a->name, u"Alpha");

  ini.Save();
  EXPECT_EQ(ini.SetValue(a, u"Key", u"1"), 1);
  EXPECT_EQ(ini.Modified(), 1);
  ini.Save();
  EXPECT_EQ(ini.SetValue(a, u"KEY", u"1"), 1);  // the same value still counts as a change
  EXPECT_EQ(ini.Modified(), 1);
  ASSERT_EQ(a->keys.size(), 1u);
  EXPECT_EQ(a->keys[0].name, u"Key");
  EXPECT_EQ(ini.FindKey(a, u"kEy")->value, u"1");
  EXPECT_EQ(ini.FindKey(a, u"other"), nullptr);
  EXPECT_EQ(ini.FindKey(nullptr, u"Key"), nullptr);

  ini.Clear();
  EXPECT_EQ(ini.SectionCount(), 0u);
  EXPECT_EQ(ini.FindSection(u"Alpha"), nullptr);
  EXPECT_EQ(ini.Modified(), 1);
}

TEST(IniEditX, TheStartingDirectoryHoldsTheFile) {
  TempDir start, later;
  start.WriteFile("QEVTest.ini", Utf16File("[QEVTest]\r\nPMDFILE=a\r\n"));
  {
    std::unique_ptr<CIniEditX> ini;
    {
      qev::test::ChangeDir in(start.Path());
      ini = std::make_unique<CIniEditX>();
    }
    qev::test::ChangeDir away(later.Path());
    EXPECT_EQ(ini->Folder(), std::filesystem::canonical(start.Path()).string());
    EXPECT_EQ(Setting(*ini, u"PMDFILE"), "a");
    ini->SetSetting(u"PMDFILE", u"b");
  }
  EXPECT_EQ(start.ReadFile("QEVTest.ini"), Utf16File("[QEVTest]\r\nPMDFILE=b\r\n\r\n"));
  EXPECT_TRUE(later.List().empty());
}

TEST(IniEditX, FolderNames) {
  struct Case {
    std::string folder;
    std::string expectedFolder;
    std::string expectedPath;
  };
  const Case cases[] = {
      {"/nonexistent/a", "/nonexistent/a", "/nonexistent/a/QEVTest.ini"},
      {"/nonexistent/a/", "/nonexistent/a", "/nonexistent/a/QEVTest.ini"},
      {"", "", ""},  // no folder: no file
  };
  for (const Case& c : cases) {
    CIniEditX ini(c.folder);
    EXPECT_EQ(ini.Folder(), c.expectedFolder) << c.folder;
    EXPECT_EQ(ini.FilePath(), c.expectedPath) << c.folder;
    ini.SetSetting(u"PMDFILE", u"x");
    EXPECT_EQ(ini.Save(), 0) << c.folder;
  }
  // The root loses its slash and the file lies directly in it. Checked in a
  // child that ends without destructors, so nothing is written to the root.
  EXPECT_EXIT(
      {
        CIniEditX* ini = new CIniEditX("/");
        _exit(ini->Folder().empty() && ini->FilePath() == "/QEVTest.ini" ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

// A failed rewrite keeps the old file and leaves no temporary file behind.
void ExpectOldFileKept(const TempDir& dir, const std::string& old, CIniEditX& ini) {
  qev::test::LogCapture log;
  EXPECT_EQ(ini.Save(), 0);
  EXPECT_EQ(ini.Modified(), 1);
  EXPECT_EQ(dir.ReadFile("QEVTest.ini"), old);
  EXPECT_EQ(dir.List(), std::vector<std::string>{"QEVTest.ini"});
  EXPECT_TRUE(log.Contains("settings file")) << log.Text();
}

TEST(IniEditX, FullDiskKeepsTheOldFile) {
  TempDir dir;
  const std::string old = Utf16File("[QEVTest]\r\nPMDFILE=/old/model.pmd\r\n\r\n");
  dir.WriteFile("QEVTest.ini", old);
  CIniEditX ini(dir.Path());
  std::u16string big(4000, u'z');
  ini.SetSetting(u"VMDFILE", big.c_str());
  // a file size limit stands in for a full disk: writes past it fail
  struct rlimit saved {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct sigaction ignore {}, previous {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(sigaction(SIGXFSZ, &ignore, &previous), 0);
  struct rlimit small = saved;
  small.rlim_cur = 100;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  ExpectOldFileKept(dir, old, ini);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
  sigaction(SIGXFSZ, &previous, nullptr);
  // with room again the same settings are written
  EXPECT_EQ(ini.Save(), 1);
  EXPECT_NE(dir.ReadFile("QEVTest.ini"), old);
}

TEST(IniEditX, ALinkedFileIsRewrittenWhereItLivesWithItsPermissions) {
  TempDir dir;
  std::filesystem::create_directory(dir.Path("kept"));
  const std::string real = dir.Path("kept/settings.ini");
  dir.WriteFile("kept/settings.ini", Utf16File("[QEVTest]\r\nPMDFILE=a\r\n"));
  ASSERT_EQ(chmod(real.c_str(), 0600), 0);
  std::filesystem::create_symlink("kept/settings.ini", dir.Path("QEVTest.ini"));
  {
    CIniEditX ini(dir.Path());
    EXPECT_EQ(Setting(ini, u"PMDFILE"), "a");
    ini.SetSetting(u"PMDFILE", u"b");
    EXPECT_EQ(ini.Save(), 1);
  }
  // the link still names the file, which holds the new settings
  EXPECT_TRUE(std::filesystem::is_symlink(dir.Path("QEVTest.ini")));
  EXPECT_EQ(dir.ReadFile("kept/settings.ini"), Utf16File("[QEVTest]\r\nPMDFILE=b\r\n\r\n"));
  EXPECT_EQ(std::filesystem::status(real).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_EQ(dir.List(), (std::vector<std::string>{"QEVTest.ini", "kept"}));
}

// A settings file made read-only is left as it is, by the superuser too.
TEST(IniEditX, ReadOnlyFileIsNotRewritten) {
  TempDir dir;
  const std::string old = Utf16File("[QEVTest]\r\nPMDFILE=/old/model.pmd\r\n\r\n");
  dir.WriteFile("QEVTest.ini", old);
  ASSERT_EQ(chmod(dir.Path("QEVTest.ini").c_str(), 0444), 0);
  CIniEditX ini(dir.Path());
  ini.SetSetting(u"PMDFILE", u"/new/model.pmd");
  qev::test::LogCapture log;
  EXPECT_EQ(ini.Save(), 0);
  EXPECT_EQ(log.Text(),
            "settings file " + dir.Path("QEVTest.ini") + " not written: not writable (Permission denied)\n");
  EXPECT_EQ(dir.ReadFile("QEVTest.ini"), old);
  EXPECT_EQ(dir.List(), std::vector<std::string>{"QEVTest.ini"});
}

TEST(IniEditX, UnreplaceableOrVanishedFileIsNotWritten) {
  {
    // the settings name is taken by a folder: the rename fails
    TempDir dir;
    std::filesystem::create_directory(dir.Path("QEVTest.ini"));
    CIniEditX ini(dir.Path());
    ini.SetSetting(u"PMDFILE", u"x");
    qev::test::LogCapture log;
    EXPECT_EQ(ini.Save(), 0);
    EXPECT_TRUE(std::filesystem::is_directory(dir.Path("QEVTest.ini")));
    EXPECT_EQ(dir.List(), std::vector<std::string>{"QEVTest.ini"});
    EXPECT_TRUE(log.Contains("settings file")) << log.Text();
  }
  {
    // the folder is gone by exit time
    TempDir dir;
    const std::string folder = dir.Path("gone");
    std::filesystem::create_directory(folder);
    CIniEditX ini(folder);
    ini.SetSetting(u"PMDFILE", u"x");
    std::filesystem::remove(folder);
    EXPECT_EQ(ini.Save(), 0);
    EXPECT_FALSE(std::filesystem::exists(folder));
  }
}

}  // namespace
