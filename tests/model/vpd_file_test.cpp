// VPD reader: blocks, the mirror, line endings, lookups and broken files.
#include "model/vpd_file.h"

#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "tests/common/temp_dir.h"
#include "tools/fixtures/vpd_fixture.h"

namespace {

using qev::Sjis;
using qev::fixture::BuildVpd;
using qev::fixture::SampleVpd;
using qev::fixture::VpdDesc;

int LoadText(CVpdFile& vpd, const std::string& text) { return vpd.LoadFromMemory(text.data(), text.size(), "p.vpd"); }

TEST(VpdFile, SamplePoseIsMirroredAndLogged) {
  qev::test::TempDir dir;
  dir.WriteFile("p.vpd", BuildVpd(SampleVpd()));
  CVpdFile vpd;
  qev::test::LogCapture log;
  ASSERT_EQ(vpd.Load(dir.Path("p.vpd").c_str()), 1);
  const std::vector<std::string> expected = {
      Sjis("親ファイル名     : テストモデル.osm\n"),
      Sjis("総ポーズボーン数 : 3\n"),
      Sjis("■左足ＩＫ : (0.500000,1.000000,-2.000000)\n"),
      Sjis("■右足ＩＫ : (-0.500000,0.250000,1.000000)\n"),
  };
  EXPECT_EQ(log.Lines(), expected);
  ASSERT_EQ(vpd.m_nPoseBone, 3);
  const VpdPoseBone* ik = vpd.FindPoseBone(Sjis("左足ＩＫ").c_str());
  ASSERT_EQ(ik, &vpd.m_pPoseBone[0]);
  EXPECT_EQ(ik->pos, D3DXVECTOR3(0.5f, 1.0f, -2.0f));
  EXPECT_EQ(ik->rot, D3DXQUATERNION(-0.1f, -0.2f, 0.3f, 0.9f));
  EXPECT_EQ(vpd.FindPoseBone(Sjis("右足ＩＫ").c_str()), &vpd.m_pPoseBone[2]);
  EXPECT_EQ(vpd.FindPoseBone("none"), nullptr);
  EXPECT_EQ(vpd.FindPoseBone(nullptr), nullptr);
}

TEST(VpdFile, LineEndings) {
  struct Case {
    const char* what;
    std::string newline;
    int result;
  };
  const Case cases[] = {
      {"CR LF", "\r\n", 1},
      {"bare LF, as files moved between systems often are", "\n", 1},
      {"bare CR: one line", "\r", 0},
  };
  for (const Case& c : cases) {
    VpdDesc d = SampleVpd();
    d.newline = c.newline;
    CVpdFile vpd;
    qev::test::LogCapture log;
    EXPECT_EQ(LoadText(vpd, BuildVpd(d)), c.result) << c.what;
    EXPECT_EQ(vpd.m_nPoseBone, c.result ? 3 : 0) << c.what;
    if (c.result) EXPECT_EQ(vpd.m_pPoseBone[2].pos, D3DXVECTOR3(-0.5f, 0.25f, 1.0f)) << c.what;
    else EXPECT_EQ(log.Lines(), std::vector<std::string>{"Header error : p.vpd\n"}) << c.what;
  }
  // with any CR LF in the file, lines end only there: a bare LF stays inside its line
  const std::string mixed = "Vocaloid Pose Data file\r\n\r\nm;\r\n1;\r\n\r\nBone0{a\n1,2,3;\r\n0,0,0,1;\r\n}\r\n";
  CVpdFile vpd;
  ASSERT_EQ(LoadText(vpd, mixed), 1);
  ASSERT_EQ(vpd.m_nPoseBone, 1);
  EXPECT_EQ(std::string(vpd.m_pPoseBone[0].name), "a\n1,2,3;");
  EXPECT_EQ(vpd.m_pPoseBone[0].pos, D3DXVECTOR3(0, 0, 0));  // read from the "0,0,0,1;" line
  EXPECT_EQ(vpd.m_pPoseBone[0].rot, D3DXQUATERNION(0, 0, 0, 0));  // and the rotation from "}"
}

TEST(VpdFile, WrongFirstLineIsAHeaderError) {
  const std::string rest = "\r\n\r\nm;\r\n1;\r\n\r\nBone0{a\r\n1,2,3;\r\n0,0,0,1;\r\n}\r\n";
  for (const std::string first : {"vocaloid pose data file", "Vocaloid Pose Data file ", "", "\xEF\xBB\xBFVocaloid Pose Data file",
                                  "Vocaloid Motion Data 0002"}) {
    CVpdFile vpd;
    ASSERT_EQ(LoadText(vpd, BuildVpd(SampleVpd())), 1);
    qev::test::LogCapture log;
    EXPECT_EQ(LoadText(vpd, first + rest), 0) << first;
    EXPECT_EQ(log.Lines(), std::vector<std::string>{"Header error : p.vpd\n"}) << first;
    EXPECT_EQ(vpd.m_nPoseBone, 0);
    EXPECT_EQ(vpd.m_pPoseBone, nullptr);
  }
}

TEST(VpdFile, BlocksAndTheirLines) {
  const std::string head = "Vocaloid Pose Data file\r\n\r\nm;\r\n7;\r\n\r\n";
  struct Case {
    const char* what;
    std::string body;
    std::vector<std::string> names;
    D3DXVECTOR3 firstPos;
    D3DXQUATERNION firstRot;
  };
  const Case cases[] = {
      {"lower-case word", "bone0{a\r\n1,2,3;\r\n0.5,0.5,0.5,0.5;\r\n}\r\n", {"a"}, {1, 2, -3}, {-0.5f, -0.5f, 0.5f, 0.5f}},
      {"upper-case word and comments", "BONE9{b\r\n 1 , 2 ,3;// x,y,z\r\n0,0,1,0;// q\r\n}\r\n", {"b"}, {1, 2, -3}, {0, 0, 1, 0}},
      {"not the word", "Bon0{a\r\n1,2,3;\r\n0,0,0,1;\r\n}\r\n", {}, {}, {}},
      {"malformed numbers read as 0", "Bone0{a\r\nx,2e1,;\r\n1,,abc,-1;\r\n}\r\n", {"a"}, {0, 20, -0.0f}, {-1, -0.0f, 0, -1}},
      {"missing lines give zeros", "Bone0{a", {"a"}, {0, 0, -0.0f}, {-0.0f, -0.0f, 0, 0}},
      {"no name", "Bone0\r\n1,2,3;\r\n0,0,0,1;\r\n}\r\n", {""}, {1, 2, -3}, {-0.0f, -0.0f, 0, 1}},
      {"quoted name loses its quotes", "Bone0{\"a b\"\r\n0,0,0;\r\n0,0,0,1;\r\n}\r\n", {"a b"}, {0, 0, 0}, {0, 0, 0, 1}},
      {"the four lines of a block are taken whatever they hold",
       "Bone0{a\r\nBone1{b\r\n0,0,0,1;\r\n}\r\nBone2{c\r\n", {"a", "c"}, {0, 0, 0}, {0, 0, 0, 1}},
      {"declared count differs: the blocks win",
       "Bone0{a\r\n0,0,0;\r\n0,0,0,1;\r\n}\r\n\r\nBone1{b\r\n0,0,0;\r\n0,0,0,1;\r\n}\r\n", {"a", "b"}, {0, 0, 0}, {0, 0, 0, 1}},
  };
  for (const Case& c : cases) {
    CVpdFile vpd;
    ASSERT_EQ(LoadText(vpd, head + c.body), 1) << c.what;
    std::vector<std::string> names;
    for (int i = 0; i < vpd.m_nPoseBone; ++i) names.push_back(vpd.m_pPoseBone[i].name);
    EXPECT_EQ(names, c.names) << c.what;
    if (!names.empty()) {
      EXPECT_EQ(vpd.m_pPoseBone[0].pos, c.firstPos) << c.what;
      EXPECT_EQ(vpd.m_pPoseBone[0].rot, c.firstRot) << c.what;
    }
  }
}

TEST(VpdFile, DuplicateNamesAreBothKeptAndTheFirstIsFound) {
  VpdDesc d;
  d.bones = {{"a", {1, 0, 0}}, {"b", {2, 0, 0}}, {"a", {3, 0, 0}}};
  CVpdFile vpd;
  ASSERT_EQ(LoadText(vpd, BuildVpd(d)), 1);
  ASSERT_EQ(vpd.m_nPoseBone, 3);
  EXPECT_EQ(vpd.FindPoseBone("a"), &vpd.m_pPoseBone[0]);
  EXPECT_EQ(vpd.m_pPoseBone[2].pos.x, 3.0f);
}

TEST(VpdFile, LongNamesAreCutWithoutSplittingACharacter) {
  struct Case {
    std::string name;
    std::string stored;
  };
  const std::string kana = Sjis("あ");  // two bytes
  std::string kanas;
  for (int i = 0; i < 130; ++i) kanas += kana;
  const Case cases[] = {
      {std::string(255, 'x'), std::string(255, 'x')},
      {std::string(300, 'x'), std::string(255, 'x')},
      {kanas, kanas.substr(0, 254)},  // 127 characters; the 128th would end at byte 256
      {"x" + kanas, ("x" + kanas).substr(0, 255)},
  };
  for (const Case& c : cases) {
    VpdDesc d;
    d.bones = {{c.name}};
    CVpdFile vpd;
    ASSERT_EQ(LoadText(vpd, BuildVpd(d)), 1);
    EXPECT_EQ(std::string(vpd.m_pPoseBone[0].name), c.stored);
  }
}

TEST(VpdFile, EveryPrefixLoadsOrFailsCleanly) {
  const std::string whole = BuildVpd(SampleVpd());
  const size_t signature = std::string("Vocaloid Pose Data file").size();
  for (size_t n = 0; n <= whole.size(); ++n) {
    CVpdFile vpd;
    qev::test::LogCapture log;
    const int result = LoadText(vpd, whole.substr(0, n));
    // cut right after the CR, the file has no CR LF and its first line keeps the CR
    EXPECT_EQ(result, n >= signature && n != signature + 1 ? 1 : 0) << n;
    EXPECT_LE(vpd.m_nPoseBone, 3) << n;
  }
}

TEST(VpdFile, UnreadableOversizedOrBinaryFiles) {
  qev::test::TempDir dir;
  CVpdFile vpd;
  ASSERT_EQ(LoadText(vpd, BuildVpd(SampleVpd())), 1);
  {
    qev::test::LogCapture log;
    EXPECT_EQ(vpd.Load(dir.Path("missing.vpd").c_str()), 0);
    EXPECT_EQ(log.Lines(), std::vector<std::string>{"File not found : " + dir.Path("missing.vpd") + "\n"});
    EXPECT_EQ(vpd.m_nPoseBone, 0);
  }
  {
    std::string big = BuildVpd(SampleVpd());
    big.resize(CVpdFile::kMaxFileSize + 1, '\n');
    qev::test::LogCapture log;
    EXPECT_EQ(LoadText(vpd, big), 0);
    EXPECT_EQ(log.Lines(), std::vector<std::string>{"VPD error : 16777217 bytes is more than a pose file holds : p.vpd\n"});
  }
  // bytes that are no text at all, a zero byte ending the text early, quotes left open
  const std::string sig = "Vocaloid Pose Data file\n";
  struct Case {
    const char* what;
    std::string text;
    int result;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"no text at all", std::string("\x81\xFF\x00\x80", 4), 0, {}},
      {"a zero byte ends the text inside a block", sig + std::string("\n\n\n\nBone0{a\0b\n", 19), 1, {"a"}},
      {"an open quote joins the lines up to the next one", sig + "\n\"\n\n\nBone0{\"a\n1,2,3;\n0,0,0,1;\n}\n", 1, {}},
      {"a block word before the fifth line", sig + "Bone\xFF\xFF{\x82\n", 1, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LoadText(vpd, c.text), c.result) << c.what;
    std::vector<std::string> names;
    for (int i = 0; i < vpd.m_nPoseBone; ++i) names.push_back(vpd.m_pPoseBone[i].name);
    EXPECT_EQ(names, c.names) << c.what;
  }
  EXPECT_EQ(vpd.LoadFromMemory(nullptr, 0, nullptr), 0);
}

}  // namespace
