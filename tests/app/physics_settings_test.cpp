// PHYSICSSUBSTEPS in QEVTest.ini: read into the physics at start-up, bad
// values refused with a log line, written back only where the file has it.
#include "app/physics_settings.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "app/ini_edit_x.h"
#include "app/model_physics.h"
#include "platform/codepage.h"
#include "tests/common/temp_dir.h"

namespace {

using qev::test::TempDir;

// UTF-16 little-endian bytes of a UTF-8 text, after a byte order mark.
std::string Utf16File(std::string_view utf8) {
  std::string out = "\xFF\xFE";
  for (char16_t u : qev::Utf8ToUtf16(utf8)) {
    out += char(u & 0xFF);
    out += char(u >> 8);
  }
  return out;
}

TEST(PhysicsSettings, TheKeyIsReadCheckedAndWrittenBackWhereItStands) {
  const std::string kBad = "QEVTest.ini: PHYSICSSUBSTEPS=%s is not a whole number from 1 to 16; 4 sub-steps are used\n";
  auto bad = [&](const std::string& value) {
    std::string line = kBad;
    return line.replace(line.find("%s"), 2, value);
  };
  const std::string longValue(200, '1');
  struct Case {
    const char* what;
    std::optional<std::string> file;  // UTF-8 text of the file; none: no file
    int substeps;
    std::string log;    // the whole log of the read, UTF-8
    std::string after;  // the file's text after the run
  } cases[] = {
      {"no file", std::nullopt, 4, "", ""},
      // untouched, not even rewritten
      {"no key", "[QEVTest]\r\nPMDFILE=a.pmd\r\n", 4, "", "[QEVTest]\r\nPMDFILE=a.pmd\r\n"},
      {"the single step", "[QEVTest]\r\nPHYSICSSUBSTEPS=1\r\n", 1, "", "[QEVTest]\r\nPHYSICSSUBSTEPS=1\r\n\r\n"},
      {"the most", "[QEVTest]\r\nPHYSICSSUBSTEPS=16\r\n", 16, "", "[QEVTest]\r\nPHYSICSSUBSTEPS=16\r\n\r\n"},
      {"name in any case, blanks around the number", "[qevtest]\r\nPhysicsSubsteps= 2 \r\n", 2, "",
       "[qevtest]\r\nPhysicsSubsteps=2\r\n\r\n"},
      {"zero", "[QEVTest]\r\nPHYSICSSUBSTEPS=0\r\n", 4, bad("0"), "[QEVTest]\r\nPHYSICSSUBSTEPS=4\r\n\r\n"},
      {"too many", "[QEVTest]\r\nPHYSICSSUBSTEPS=17\r\n", 4, bad("17"), "[QEVTest]\r\nPHYSICSSUBSTEPS=4\r\n\r\n"},
      {"negative", "[QEVTest]\r\nPHYSICSSUBSTEPS=-4\r\n", 4, bad("-4"), "[QEVTest]\r\nPHYSICSSUBSTEPS=4\r\n\r\n"},
      {"a word", "[QEVTest]\r\nPHYSICSSUBSTEPS=many\r\n", 4, bad("many"), "[QEVTest]\r\nPHYSICSSUBSTEPS=4\r\n\r\n"},
      {"empty", "[QEVTest]\r\nPHYSICSSUBSTEPS\r\n", 4, bad(""), "[QEVTest]\r\nPHYSICSSUBSTEPS=4\r\n\r\n"},
      {"full-width digit", "[QEVTest]\r\nPHYSICSSUBSTEPS=４\r\n", 4, bad("４"),
       "[QEVTest]\r\nPHYSICSSUBSTEPS=4\r\n\r\n"},
      {"a number and more", "[QEVTest]\r\nPHYSICSSUBSTEPS=4;8\r\n", 4, bad("4;8"),
       "[QEVTest]\r\nPHYSICSSUBSTEPS=4\r\n\r\n"},
      // read cut to 127 characters, and far past the range anyway
      {"a long run of digits", "[QEVTest]\r\nPHYSICSSUBSTEPS=" + longValue + "\r\n", 4, bad(longValue.substr(0, 127)),
       "[QEVTest]\r\nPHYSICSSUBSTEPS=4\r\n\r\n"},
      {"in another section", "[Other]\r\nPHYSICSSUBSTEPS=2\r\n", 4, "", "[Other]\r\nPHYSICSSUBSTEPS=2\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    if (c.file) dir.WriteFile("QEVTest.ini", Utf16File(*c.file));
    {
      CIniEditX settings(dir.Path());
      CModelPhysics physics;
      qev::test::LogCapture log;
      ReadPhysicsSettings(settings, physics);
      EXPECT_EQ(physics.Substeps(), c.substeps);
      EXPECT_EQ(log.Text(), qev::Sjis(c.log));
      StorePhysicsSettings(settings, physics);
    }
    EXPECT_EQ(dir.ReadFile("QEVTest.ini"), Utf16File(c.after));
  }
}

TEST(PhysicsSettings, TheCountInUseIsWhatIsWritten) {
  // Whatever set the count last is what the file gets.
  TempDir dir;
  dir.WriteFile("QEVTest.ini", Utf16File("[QEVTest]\r\nPHYSICSSUBSTEPS=3\r\n"));
  {
    CIniEditX settings(dir.Path());
    CModelPhysics physics;
    ReadPhysicsSettings(settings, physics);
    ASSERT_EQ(physics.Substeps(), 3);
    physics.SetSubsteps(9);
    StorePhysicsSettings(settings, physics);
  }
  EXPECT_EQ(dir.ReadFile("QEVTest.ini"), Utf16File("[QEVTest]\r\nPHYSICSSUBSTEPS=9\r\n\r\n"));
}

}  // namespace
