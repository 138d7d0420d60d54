// PMD reader: the summary, the mirror, optional blocks, index checks and
// broken files.
#include "model/pmd_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "platform/codepage.h"
#include "tests/common/temp_dir.h"
#include "tools/fixtures/pmd_fixture.h"

namespace {

using qev::Sjis;
using qev::fixture::BuildPmd;
using qev::fixture::PmdDesc;
using qev::fixture::PmdExtent;
using qev::fixture::SamplePmd;

std::vector<std::string> SjisLines(const std::vector<std::string>& utf8) {
  std::vector<std::string> out;
  for (const std::string& s : utf8) out.push_back(Sjis(s));
  return out;
}

int LoadBytes(CPmdFile& pmd, const std::string& bytes) { return pmd.LoadFromMemory(bytes.data(), bytes.size()); }

void PatchU32(std::string& bytes, size_t offset, uint32_t value) { std::memcpy(bytes.data() + offset, &value, 4); }
void PatchU16(std::string& bytes, size_t offset, uint16_t value) { std::memcpy(bytes.data() + offset, &value, 2); }

void ExpectEmpty(const CPmdFile& pmd) {
  EXPECT_EQ(pmd.m_nVertex, 0);
  EXPECT_EQ(pmd.m_nIndex, 0);
  EXPECT_EQ(pmd.m_nMaterial, 0);
  EXPECT_EQ(pmd.m_nBone, 0u);
  EXPECT_EQ(pmd.m_nIk, 0);
  EXPECT_EQ(pmd.m_nMorph, 0);
  EXPECT_EQ(pmd.m_nMorphDisp, 0);
  EXPECT_EQ(pmd.m_nFrameName, 0);
  EXPECT_EQ(pmd.m_nBoneDisp, 0);
  EXPECT_EQ(pmd.m_nRigidBody, 0);
  EXPECT_EQ(pmd.m_nJoint, 0);
  EXPECT_EQ(pmd.m_fVersion, 0.0f);
  EXPECT_EQ(pmd.m_szName[0], '\0');
  EXPECT_EQ(pmd.m_szComment[0], '\0');
  EXPECT_EQ(pmd.m_EnglishHeader.flag, 0);
  EXPECT_EQ(pmd.m_szToon[0][0], '\0');
  EXPECT_EQ(pmd.m_pVertex, nullptr);
  EXPECT_EQ(pmd.m_pBone, nullptr);
}

TEST(PmdFile, SampleSummaryIsWrittenByteForByte) {
  qev::test::TempDir dir;
  dir.WriteFile("m.pmd", BuildPmd(SamplePmd()));
  CPmdFile pmd;
  qev::test::LogCapture log;
  ASSERT_EQ(pmd.Load(dir.Path("m.pmd").c_str()), 1);

  struct Bone {
    const char* name;
    int parent;
    const char* type;
    int tail, ik;
    const char* head;
  };
  const Bone bones[] = {
      {"センター", -1, "00000001", 1, 0, "(  0.000,  8.000, -0.000)"},
      {"左足", 0, "00000000", 2, 0, "(  1.000, 10.000, -0.500)"},
      {"左ひざ", 1, "00000100", 3, 0, "(  1.000,  5.000,  0.500)"},
      {"左足首", 2, "00000110", 0, 7, "(  1.000,  1.000, -0.250)"},
      {"右足", 0, "00000000", 5, 0, "( -1.000, 10.000, -0.500)"},
      {"右ひざ", 4, "00000100", 6, 0, "( -1.000,  5.000,  0.500)"},
      {"右足首", 5, "00000110", 0, 8, "( -1.000,  1.000, -0.250)"},
      {"左足ＩＫ", 0, "00000010", 0, 3, "(  1.000,  1.000, -0.250)"},
      {"右足ＩＫ", 0, "00000010", 0, 6, "( -1.000,  1.000, -0.250)"},
  };
  std::vector<std::string> expected = {
      "バージョン           : 1.000000\n",
      "モデル名             : テストモデル\n",
      "コメント             : 試験用のモデル\n二行目\n",
      "頂点数                 : 8\n",
      "フェース数             : 12(面数=4)\n",
      "マテリアル数           : 2\n",
      "  トータルフェース数   : 4\n",
      "ボーン数               : 9\n",
  };
  for (int i = 0; i < 9; ++i) {
    const Bone& b = bones[i];
    expected.push_back("  [" + std::to_string(i) + "] " + b.name + "\n");
    expected.push_back("       親ボーン         : " + std::to_string(b.parent) + "\n");
    expected.push_back(std::string("       ボーンタイプ     : ") + b.type + "\n");
    expected.push_back("       tailボーン       : " + std::to_string(b.tail) + "\n");
    expected.push_back("       IKボーン         : " + std::to_string(b.ik) + "\n");
    expected.push_back(std::string("       ボーンヘッド位置 : ") + b.head + "\n");
  }
  for (const char* line : {"IKリスト数             : 2\n", "表情データ数           : 3\n",
                           "表情データ数           : 2\n", "ボーン枠用の枠名数     : 2\n",
                           "ボーン枠用表示リスト数 : 6\n", "ヘッダ(英語)           : あり\n",
                           "剛体数                 : 3\n", "ジョイント数 : 2\n"})
    expected.push_back(line);
  EXPECT_EQ(log.Lines(), SjisLines(expected));
}

TEST(PmdFile, SampleIsMirroredAndKeptInFileLayout) {
  CPmdFile pmd;
  ASSERT_EQ(LoadBytes(pmd, BuildPmd(SamplePmd())), 1);
  EXPECT_EQ(pmd.m_fVersion, 1.0f);
  EXPECT_EQ(std::string(pmd.m_szName), Sjis("テストモデル"));
  ASSERT_EQ(pmd.m_nVertex, 8);
  // vertex 4 is (-1, 5, 1) with normal (0, 0, -1) in the file
  EXPECT_EQ(pmd.m_pVertex[4].pos[0], -1.0f);
  EXPECT_EQ(pmd.m_pVertex[4].pos[2], -1.0f);
  EXPECT_EQ(pmd.m_pVertex[4].normal[2], 1.0f);
  EXPECT_EQ(pmd.m_pVertex[5].bone[0], 4);
  EXPECT_EQ(pmd.m_pVertex[5].weight, 60);
  // triangles (a, b, c) become (b, a, c)
  const uint16_t indices[] = {1, 0, 2, 1, 2, 3, 5, 4, 6, 5, 6, 7};
  ASSERT_EQ(pmd.m_nIndex, 12);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(pmd.m_pIndex[i], indices[i]) << i;
  ASSERT_EQ(pmd.m_nMaterial, 2);
  EXPECT_EQ(pmd.m_pMaterial[0].firstIndex, 0u);
  EXPECT_EQ(pmd.m_pMaterial[1].firstIndex, 6u);
  EXPECT_EQ(pmd.m_pMaterial[1].toon, 1);
  EXPECT_EQ(PmdName(pmd.m_pMaterial[1].texture), "cloth.png*sphere.sph");
  ASSERT_EQ(pmd.m_nBone, 9u);
  EXPECT_EQ(PmdName(pmd.m_pBone[7].name), Sjis("左足ＩＫ"));
  EXPECT_EQ(pmd.m_pBone[2].head[2], 0.5f);
  EXPECT_EQ(PmdName(pmd.m_pBone[2].englishName), "knee_L");
  ASSERT_EQ(pmd.m_nIk, 2);
  EXPECT_EQ(pmd.m_pIk[1].head.ikBone, 8);
  EXPECT_EQ(pmd.m_pIk[1].head.target, 6);
  EXPECT_EQ(pmd.m_pIk[1].head.iterations, 40);
  EXPECT_EQ(pmd.m_pIk[1].head.weight, 0.5f);
  ASSERT_EQ(pmd.m_pIk[1].head.chainLength, 2);
  EXPECT_EQ(pmd.m_pIk[1].chain[0], 5);
  EXPECT_EQ(pmd.m_pIk[1].chain[1], 4);
  // every morph entry is mirrored, base morph included; English names for morphs 1 onwards
  ASSERT_EQ(pmd.m_nMorph, 3);
  EXPECT_EQ(pmd.m_pMorph[0].vertices[0].pos[2], -1.0f);
  EXPECT_EQ(pmd.m_pMorph[2].vertices[0].pos[2], -0.125f);
  EXPECT_EQ(PmdName(pmd.m_pMorph[0].englishName), "");
  EXPECT_EQ(PmdName(pmd.m_pMorph[1].englishName), "smile");
  EXPECT_EQ(PmdName(pmd.m_pMorph[2].englishName), "blink");
  ASSERT_EQ(pmd.m_nMorphDisp, 2);
  EXPECT_EQ(pmd.m_pMorphDisp[1], 2);
  ASSERT_EQ(pmd.m_nFrameName, 2);
  EXPECT_EQ(PmdName(pmd.m_pFrameName[0].name), Sjis("足"));
  EXPECT_EQ(PmdName(pmd.m_pFrameName[1].englishName), "IK\n");  // only the name itself loses its line feed
  ASSERT_EQ(pmd.m_nBoneDisp, 6);
  EXPECT_EQ(pmd.m_pBoneDisp[4].bone, 7);
  EXPECT_EQ(pmd.m_pBoneDisp[4].frame, 2);
  EXPECT_EQ(pmd.m_EnglishHeader.flag, 1);
  EXPECT_EQ(PmdName(pmd.m_EnglishHeader.name), "Test model");
  EXPECT_EQ(PmdName(pmd.m_szToon[9]), "toon10.bmp");
  ASSERT_EQ(pmd.m_nRigidBody, 3);
  EXPECT_EQ(pmd.m_pRigidBody[0].pos[2], -0.5f);
  EXPECT_EQ(pmd.m_pRigidBody[0].rot[0], -0.1f);
  EXPECT_EQ(pmd.m_pRigidBody[0].rot[1], -0.2f);
  EXPECT_EQ(pmd.m_pRigidBody[0].rot[2], 0.3f);
  EXPECT_EQ(pmd.m_pRigidBody[2].bone, 0xFFFF);
  EXPECT_EQ(pmd.m_pRigidBody[1].mode, 1);
  ASSERT_EQ(pmd.m_nJoint, 2);
  EXPECT_EQ(pmd.m_pJoint[1].bodyB, 2u);
  EXPECT_EQ(pmd.m_pJoint[0].pos[2], -1.5f);
  EXPECT_EQ(pmd.m_pJoint[0].rot[0], -0.25f);
  EXPECT_EQ(pmd.m_pJoint[0].rot[1], 0.5f);
  EXPECT_EQ(pmd.m_pJoint[0].rot[2], 0.75f);
  EXPECT_EQ(pmd.m_pJoint[0].rotUpper[0], 0.5f);
}

TEST(PmdFile, OptionalBlocksAbsentOrCut) {
  const std::string noExt1 = Sjis("拡張1に対応していない\n");
  const std::string noExt2 = Sjis("拡張2に対応していない\n");
  const std::string noExt3 = Sjis("拡張3に対応していない\n");
  const std::string with = Sjis("ヘッダ(英語)           : あり\n");
  const std::string without = Sjis("ヘッダ(英語)           : なし\n");
  struct Case {
    const char* what;
    PmdExtent extent;
    uint8_t flag;
    size_t cut;  // bytes taken off the end
    std::vector<std::string> tail;
    bool english, toon, physics;
  };
  const Case cases[] = {
      {"body only", PmdExtent::kBody, 1, 0, {noExt1}, false, false, false},
      {"English names only", PmdExtent::kEnglish, 1, 0, {with, noExt2}, true, false, false},
      {"English names cut", PmdExtent::kEnglish, 1, 1, {noExt1}, false, false, false},
      {"English flag 0, toon names follow the flag", PmdExtent::kToon, 0, 0, {without, noExt3}, false, true, false},
      {"English flag 0 alone", PmdExtent::kEnglish, 0, 0, {without, noExt2}, false, false, false},
      {"English flag 2 counts as there, names absent", PmdExtent::kToon, 2, 0, {with, noExt3}, false, true, false},
      {"toon names cut", PmdExtent::kToon, 1, 1, {with, noExt2}, true, false, false},
      {"up to toon names", PmdExtent::kToon, 1, 0, {with, noExt3}, true, true, false},
      {"physics cut", PmdExtent::kPhysics, 1, 1, {with, noExt3}, true, true, false},
      {"physics", PmdExtent::kPhysics, 1, 0, {with, Sjis("剛体数                 : 3\n"), Sjis("ジョイント数 : 2\n")},
       true, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PmdDesc d = SamplePmd();
    d.extent = c.extent;
    d.englishFlag = c.flag;
    std::string bytes = BuildPmd(d);
    bytes.resize(bytes.size() - c.cut);
    CPmdFile pmd;
    qev::test::LogCapture log;
    ASSERT_EQ(LoadBytes(pmd, bytes), 1);
    const auto& lines = log.Lines();
    ASSERT_GE(lines.size(), c.tail.size());
    EXPECT_EQ(std::vector<std::string>(lines.end() - long(c.tail.size()), lines.end()), c.tail);
    EXPECT_EQ(PmdName(pmd.m_pBone[0].englishName), c.english ? "center" : "");
    EXPECT_EQ(PmdName(pmd.m_pMorph[1].englishName), c.english ? "smile" : "");
    EXPECT_EQ(PmdName(pmd.m_pFrameName[0].englishName), c.english ? "Legs\n" : "");
    EXPECT_EQ(PmdName(pmd.m_szToon[0]), c.toon ? "toon01.bmp" : "");
    EXPECT_EQ(pmd.m_nRigidBody, c.physics ? 3 : 0);
    EXPECT_EQ(pmd.m_nJoint, c.physics ? 2 : 0);
    EXPECT_EQ(pmd.m_nBone, 9u);  // the body is kept whatever follows
  }
}

TEST(PmdFile, NonFiniteNormalsAreRepairedAndLogged) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    float normal[3];
    float expected[3];  // after the repair and the mirror
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {{nan, 1, 0}, {0, 1, -0.0f}, {"  X法線修正 : 1\n"}},
      {{0, -inf, 0.5f}, {0, 0, -0.5f}, {"  Y法線修正 : 1\n"}},
      {{1, 0, nan}, {1, 0, 0}, {"  Z法線修正 : 1\n"}},
      {{inf, nan, -inf}, {0, 0, 0}, {"  X法線修正 : 1\n", "  Y法線修正 : 1\n", "  Z法線修正 : 1\n"}},
      {{0, 1, 0}, {0, 1, 0}, {}},
  };
  for (const Case& c : cases) {
    PmdDesc d;
    d.vertices.resize(2);
    std::memcpy(d.vertices[1].normal, c.normal, sizeof c.normal);
    CPmdFile pmd;
    qev::test::LogCapture log;
    ASSERT_EQ(LoadBytes(pmd, BuildPmd(d)), 1);
    for (int a = 0; a < 3; ++a) EXPECT_EQ(pmd.m_pVertex[1].normal[a], c.expected[a]) << a;
    std::vector<std::string> fixes;
    for (const std::string& l : log.Lines())
      if (l.find(Sjis("法線修正")) != std::string::npos) fixes.push_back(l);
    EXPECT_EQ(fixes, SjisLines(c.lines));
  }
}

TEST(PmdFile, OnlyCompleteTrianglesAreReordered) {
  PmdDesc d;
  d.vertices.resize(5);
  d.indices = {0, 1, 2, 3, 4};
  CPmdFile pmd;
  qev::test::LogCapture log;
  ASSERT_EQ(LoadBytes(pmd, BuildPmd(d)), 1);
  const uint16_t expected[] = {1, 0, 2, 3, 4};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(pmd.m_pIndex[i], expected[i]);
  EXPECT_TRUE(log.Contains(Sjis("フェース数             : 5(面数=1)\n")));
}

TEST(PmdFile, FrameNamesLoseOneTrailingLineFeed) {
  PmdDesc d;
  d.frameNames = {"a\n", "b", "c\n\n", "\n", std::string(49, 'x') + "\n", std::string(50, 'y')};
  CPmdFile pmd;
  ASSERT_EQ(LoadBytes(pmd, BuildPmd(d)), 1);
  ASSERT_EQ(pmd.m_nFrameName, 6);
  EXPECT_EQ(PmdName(pmd.m_pFrameName[0].name), "a");
  EXPECT_EQ(PmdName(pmd.m_pFrameName[1].name), "b");
  EXPECT_EQ(PmdName(pmd.m_pFrameName[2].name), "c\n");
  EXPECT_EQ(PmdName(pmd.m_pFrameName[3].name), "");
  EXPECT_EQ(PmdName(pmd.m_pFrameName[4].name), std::string(49, 'x'));
  EXPECT_EQ(PmdName(pmd.m_pFrameName[5].name), std::string(50, 'y'));
}

TEST(PmdFile, FullWidthNamesAreKeptWhole) {
  PmdDesc d;
  d.name = std::string(20, 'n');  // no terminator inside the field
  d.comment = std::string(256, 'c');
  CPmdFile pmd;
  qev::test::LogCapture log;
  ASSERT_EQ(LoadBytes(pmd, BuildPmd(d)), 1);
  EXPECT_EQ(std::string(pmd.m_szName), std::string(20, 'n'));
  EXPECT_EQ(std::string(pmd.m_szComment), std::string(256, 'c'));
  EXPECT_EQ(log.Lines().at(1), Sjis("モデル名             : ") + std::string(20, 'n') + "\n");
}

TEST(PmdFile, IndicesThatLaterStagesFollowAreRefused) {
  struct Case {
    const char* what;
    void (*spoil)(PmdDesc&);
    const char* line;
  };
  const Case cases[] = {
      {"face index at the vertex count", [](PmdDesc& d) { d.indices[5] = 8; },
       "PMD error : face index [5] = 8 is not below the vertex count 8\n"},
      {"materials past the index list", [](PmdDesc& d) { d.materials[1].indexCount = 9; },
       "PMD error : material [1] face count 9 from index 6 runs past the index count 12\n"},
      {"material count that wraps around",
       [](PmdDesc& d) {
         d.materials[0].indexCount = 0xFFFFFFFFu;
         d.materials[1].indexCount = 1;
       },
       "PMD error : material [0] face count 4294967295 from index 0 runs past the index count 12\n"},
      {"IK bone", [](PmdDesc& d) { d.iks[0].ikBone = 9; }, "PMD error : IK list [0] IK bone 9 is not below the bone count 9\n"},
      {"IK target", [](PmdDesc& d) { d.iks[1].target = 0xFFFF; },
       "PMD error : IK list [1] target bone 65535 is not below the bone count 9\n"},
      {"IK chain bone", [](PmdDesc& d) { d.iks[1].chain[1] = 100; },
       "PMD error : IK list [1] chain bone 100 is not below the bone count 9\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PmdDesc d = SamplePmd();
    c.spoil(d);
    CPmdFile pmd;
    qev::test::LogCapture log;
    EXPECT_EQ(LoadBytes(pmd, BuildPmd(d)), 0);
    ASSERT_FALSE(log.Lines().empty());
    EXPECT_EQ(log.Lines().back(), c.line);
    ExpectEmpty(pmd);
  }
}

TEST(PmdFile, IndicesThatAreOnlyStoredAreKept) {
  PmdDesc d = SamplePmd();
  d.vertices[0].bone[1] = 500;
  d.bones[3].ikBone = 0xFFFF;
  d.bones[3].tail = 77;
  d.bones[4].parent = 40;
  d.morphs[1].vertices[0].vertex = 123456;
  d.morphDisp[0] = 999;
  d.boneDisp[0].bone = 999;
  d.rigidBodies[1].bone = 300;
  d.joints[0].bodyB = 1000;
  CPmdFile pmd;
  ASSERT_EQ(LoadBytes(pmd, BuildPmd(d)), 1);
  EXPECT_EQ(pmd.m_pVertex[0].bone[1], 500);
  EXPECT_EQ(pmd.m_pBone[3].ikBone, 0xFFFF);
  EXPECT_EQ(pmd.m_pBone[3].tail, 77);
  EXPECT_EQ(pmd.m_pBone[4].parent, 40);
  EXPECT_EQ(pmd.m_pMorph[1].vertices[0].vertex, 123456u);
  EXPECT_EQ(pmd.m_pMorphDisp[0], 999);
  EXPECT_EQ(pmd.m_pBoneDisp[0].bone, 999);
  EXPECT_EQ(pmd.m_pRigidBody[1].bone, 300);
  EXPECT_EQ(pmd.m_pJoint[0].bodyB, 1000u);
}

TEST(PmdFile, EveryPrefixLoadsOrFailsCleanly) {
  PmdDesc d = SamplePmd();
  d.extent = PmdExtent::kBody;
  const size_t body = BuildPmd(d).size();
  const std::string whole = BuildPmd(SamplePmd());
  for (size_t n = 0; n <= whole.size(); ++n) {
    const std::string prefix = whole.substr(0, n);
    CPmdFile pmd;
    qev::test::LogCapture log;
    const int result = LoadBytes(pmd, prefix);
    if (n < 3) {
      EXPECT_EQ(result, 0) << n;
      EXPECT_TRUE(log.Lines().empty()) << n;
    } else if (n < body) {
      ASSERT_EQ(result, 0) << n;
      ASSERT_FALSE(log.Lines().empty()) << n;
      EXPECT_NE(log.Lines().back().find(" cut short at offset "), std::string::npos) << n << log.Lines().back();
      ExpectEmpty(pmd);
    } else {
      EXPECT_EQ(result, 1) << n;
      EXPECT_EQ(pmd.m_nBone, 9u) << n;
    }
  }
}

// An empty body: header, then the counts at these offsets.
constexpr size_t kVertexCount = 283, kIndexCount = 287, kMaterialCount = 291, kBoneCount = 295, kIkCount = 297,
                 kMorphCount = 299, kMorphDispCount = 301, kFrameCount = 302, kBoneDispCount = 303;

TEST(PmdFile, HostileCountsFailAtOnceNamingSectionAndOffset) {
  struct Case {
    size_t offset;
    int width;
    uint32_t value;
    const char* line;
  };
  const Case cases[] = {
      {kVertexCount, 4, 0xFFFFFFFFu, "PMD error : vertices cut short at offset 287\n"},
      {kIndexCount, 4, 0x80000000u, "PMD error : faces cut short at offset 291\n"},
      {kMaterialCount, 4, 0xFFFFFFFFu, "PMD error : materials cut short at offset 295\n"},
      {kBoneCount, 2, 0xFFFF, "PMD error : bones cut short at offset 297\n"},
      {kIkCount, 2, 0xFFFF, "PMD error : IK lists cut short at offset 299\n"},
      {kMorphCount, 2, 0xFFFF, "PMD error : morphs cut short at offset 301\n"},
      {kMorphDispCount, 1, 0xFF, "PMD error : morph display list cut short at offset 302\n"},
      {kFrameCount, 1, 0xFF, "PMD error : frame names cut short at offset 303\n"},
      {kBoneDispCount, 4, 0xFFFFFFFFu, "PMD error : bone display list cut short at offset 307\n"},
  };
  PmdDesc none;
  none.extent = PmdExtent::kBody;
  const std::string empty = BuildPmd(none);
  ASSERT_EQ(empty.size(), 307u);
  for (const Case& c : cases) {
    std::string bytes = empty;
    if (c.width == 4) PatchU32(bytes, c.offset, c.value);
    else if (c.width == 2) PatchU16(bytes, c.offset, uint16_t(c.value));
    else bytes[c.offset] = char(c.value);
    CPmdFile pmd;
    qev::test::LogCapture log;
    EXPECT_EQ(LoadBytes(pmd, bytes), 0);
    ASSERT_FALSE(log.Lines().empty());
    EXPECT_EQ(log.Lines().back(), c.line);
    ExpectEmpty(pmd);
  }
}

TEST(PmdFile, HostileCountsInsideRecordsAndOptionalBlocks) {
  // a morph that claims 0xFFFFFFFF vertex entries
  PmdDesc one;
  one.morphs.resize(1);
  one.extent = PmdExtent::kBody;
  std::string bytes = BuildPmd(one);
  PatchU32(bytes, kMorphCount + 2 + 20, 0xFFFFFFFFu);
  CPmdFile pmd;
  {
    qev::test::LogCapture log;
    EXPECT_EQ(LoadBytes(pmd, bytes), 0);
    EXPECT_EQ(log.Lines().back(), "PMD error : morphs cut short at offset 326\n");  // after the morph's head
  }
  // a rigid body count no file could hold: the physics block is absent, the model loads
  PmdDesc d = SamplePmd();
  bytes = BuildPmd(d);
  d.extent = PmdExtent::kToon;
  PatchU32(bytes, BuildPmd(d).size(), 0xFFFFFFFFu);
  qev::test::LogCapture log;
  EXPECT_EQ(LoadBytes(pmd, bytes), 1);
  EXPECT_EQ(pmd.m_nRigidBody, 0);
  EXPECT_EQ(pmd.m_nJoint, 0);
  EXPECT_EQ(log.Lines().back(), Sjis("拡張3に対応していない\n"));
}

TEST(PmdFile, UnreadableOrForeignFilesFailSilently) {
  qev::test::TempDir dir;
  dir.WriteFile("foreign.pmd", "PMX " + std::string(400, '\0'));
  dir.WriteFile("short.pmd", "Pm");
  CPmdFile pmd;
  ASSERT_EQ(LoadBytes(pmd, BuildPmd(SamplePmd())), 1);
  for (const char* name : {"missing.pmd", "foreign.pmd", "short.pmd", ""}) {
    qev::test::LogCapture log;
    EXPECT_EQ(pmd.Load(dir.Path(name).c_str()), 0) << name;  // "" names the folder itself
    EXPECT_TRUE(log.Lines().empty()) << name;
    ExpectEmpty(pmd);
    ASSERT_EQ(LoadBytes(pmd, BuildPmd(SamplePmd())), 1);
  }
}

TEST(PmdFile, SecondLoadLeavesNoTraceOfTheFirst) {
  CPmdFile pmd;
  ASSERT_EQ(LoadBytes(pmd, BuildPmd(SamplePmd())), 1);
  PmdDesc small;
  small.name = "b";
  small.extent = PmdExtent::kBody;
  ASSERT_EQ(LoadBytes(pmd, BuildPmd(small)), 1);
  EXPECT_EQ(std::string(pmd.m_szName), "b");
  pmd.m_szName[0] = '\0';
  pmd.m_fVersion = 0.0f;
  ExpectEmpty(pmd);
  // a failed load after a good one empties the object as well
  ASSERT_EQ(LoadBytes(pmd, BuildPmd(SamplePmd())), 1);
  const std::string whole = BuildPmd(SamplePmd());
  EXPECT_EQ(LoadBytes(pmd, whole.substr(0, 400)), 0);
  ExpectEmpty(pmd);
}

}  // namespace
