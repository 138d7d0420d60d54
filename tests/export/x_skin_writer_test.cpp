// The skinned X file, byte for byte: skin records in tree order, weights,
// inverse-bind and local matrices, nested frames and baked matrix keys.
#include "export/x_skin_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "model/pmd_bone.h"
#include "platform/codepage.h"
#include "tests/common/temp_dir.h"
#include "tests/export/x_test_util.h"

namespace {

using qev::fixture::PmdDesc;
using qev::test::Crlf;
using qev::xfile::WriteXSkin;
using qev::xfile::XBake;

// The tree as scene assembly builds it: every bone under its parent's node.
void BuildTree(const CModelDescription& model, CPmdBone& root) {
  for (uint32_t i = 0; i < uint32_t(model.BoneCount()); ++i) {
    const int parent = model.m_bones[i].parent;
    CPmdBone* node = parent < 0 ? &root : root.FindByIndex(parent);
    if (node) node->AddChild(int(i), model);
  }
}

// The one triangle under bones A (root), B (root) and A1 (below A), heads
// as stored: A (0.5, 1, 0.25), B (2, 0.5, -1), A1 (0.5, 3, 0.75).
// Vertex 0: weight 100 for A, bone 1 set to B (never listed under B).
// Vertex 1: both bones A1, weight 40 (listed once, 1.0).
// Vertex 2: 25 for B, the rest for A.
PmdDesc ThreeBones() {
  PmdDesc d = qev::test::OneTriangle();
  d.bones = {{"A", -1, 0, 0, 0, {0.5f, 1, 0.25f}, ""},
             {"B", -1, 0, 0, 0, {2, 0.5f, -1}, ""},
             {"A1", 0, 0, 0, 0, {0.5f, 3, 0.75f}, ""}};
  d.vertices[0].bone[0] = 0, d.vertices[0].bone[1] = 1, d.vertices[0].weight = 100;
  d.vertices[1].bone[0] = 2, d.vertices[1].bone[1] = 2, d.vertices[1].weight = 40;
  d.vertices[2].bone[0] = 1, d.vertices[2].bone[1] = 0, d.vertices[2].weight = 25;
  return d;
}

const char* const kIdentityRows = "1.000000,0.000000,0.000000,0.000000,0.000000,1.000000,0.000000,0.000000,"
                                  "0.000000,0.000000,1.000000,0.000000,";

// Everything up to the end of the bone frames for ThreeBones.
std::string ThreeBonesText() {
  const std::string id = kIdentityRows;
  return "xof 0303txt 0032\n"
         "\n"
         "AnimTicksPerSecond {\n"
         " 4800;\n"
         "}\n"
         "\n"
         "Frame _747269 {\n"
         " FrameTransformMatrix {\n"
         "  " + id + "0.000000,0.000000,0.000000,1.000000;;\n"
         " }\n"
         "\n"
         " Mesh {\n"
         "  3;\n"
         "  0.000000;0.000000;-0.000000;,\n"
         "  1.000000;0.000000;-0.000000;,\n"
         "  0.000000;1.000000;-0.500000;;\n"
         "  1;\n"
         "  3;1,0,2;;\n"
         "\n"
         "  MeshNormals {\n"
         "   2;\n"
         "   0.000000,0.000000,1.000000;,\n"
         "   0.000000,1.000000,-0.000000;;\n"
         "   1;\n"
         "   3;0,0,1;;\n"
         "  }\n"
         "\n"
         "  MeshTextureCoords {\n"
         "   3;\n"
         "   0.000000;0.000000;,\n"
         "   1.000000;0.000000;,\n"
         "   0.000000;1.000000;;\n"
         "  }\n"
         "\n"
         "  MeshMaterialList {\n"
         "   1;\n"
         "   1;\n"
         "   0;\n"
         "   Material {\n"
         "    0.800000;0.800000;0.800000;1.000000;;\n"
         "    0.050000;\n"
         "    0.250000;0.500000;0.750000;;\n"
         "    0;0;0;;\n"
         "    TextureFilename {\n"
         "     \"a.bmp\";\n"
         "    }\n"
         "   }\n"
         "  }\n"
         "\n"
         "  XSkinMeshHeader {\n"
         "   2;\n"
         "   0;\n"
         "   3;\n"
         "  }\n"
         "\n"
         "  SkinWeights {\n"
         "   \"_41\";\n"
         "   2;\n"
         "   0,\n"
         "   2;\n"
         "   1.000000,\n"
         "   0.750000;\n"
         "   " + id + "-0.500000,-1.000000,0.250000,1.000000;;\n"
         "  }\n"
         "\n"
         "  SkinWeights {\n"
         "   \"_42\";\n"
         "   1;\n"
         "   2;\n"
         "   0.250000;\n"
         "   " + id + "-2.000000,-0.500000,-1.000000,1.000000;;\n"
         "  }\n"
         "\n"
         "  SkinWeights {\n"
         "   \"_4131\";\n"
         "   1;\n"
         "   1;\n"
         "   1.000000;\n"
         "   " + id + "-0.500000,-3.000000,0.750000,1.000000;;\n"
         "  }\n"
         "\n"
         " }\n"
         "}\n"
         "\n"
         "Frame _41 {\n"
         "\n"
         " FrameTransformMatrix {\n"
         "  " + id + "0.500000,1.000000,-0.250000,1.000000;;\n"
         " }\n"
         " Frame _4131 {\n"
         "\n"
         "  FrameTransformMatrix {\n"
         "   " + id + "0.000000,2.000000,-0.500000,1.000000;;\n"
         "  }\n"
         " }\n"
         "}\n"
         "Frame _42 {\n"
         "\n"
         " FrameTransformMatrix {\n"
         "  " + id + "2.000000,0.500000,1.000000,1.000000;;\n"
         " }\n"
         "}\n";
}

struct Rig {
  qev::test::TempDir dir;
  CModelDescription model;
  CPmdBone root;
  explicit Rig(const PmdDesc& desc) {
    EXPECT_TRUE(qev::test::LoadModel(model, desc));
    BuildTree(model, root);
  }
  std::string Write(const XBake* bake) {
    std::string failure;
    if (!WriteXSkin(model, root, bake, dir.Path("out.x").c_str(), &failure)) return "not written: " + failure;
    return dir.ReadFile("out.x");
  }
};

TEST(XSkinWriter, PosePlaybackEndsAfterTheFrames) {
  Rig rig(ThreeBones());
  EXPECT_EQ(rig.Write(nullptr), Crlf(ThreeBonesText()));
}

TEST(XSkinWriter, MotionOfHighestFrameThreeGivesKeysAt0_640_1280) {
  Rig rig(ThreeBones());
  qev::test::LogCapture log;
  std::string calls;
  XBake bake;
  bake.frames = 3;
  bake.start = [&] {
    calls += "start ";
    return 1;
  };
  // frame n: every bone moved by (n, 0, 0) in its own space
  bake.ready = [&](int32_t n) {
    calls += std::to_string(n) + " ";
    for (CPmdBone* node : {rig.root.FindByIndex(0), rig.root.FindByIndex(1), rig.root.FindByIndex(2)})
      D3DXMatrixTranslation(&node->m_mAnim, float(n), 0, 0);
    return 1;
  };
  const std::string id = kIdentityRows;
  auto keys = [&](const char* name, const char* x0, const char* x1, const char* x2, const char* rest) {
    return std::string(" Animation {\n  { ") + name + " }\n  AnimationKey {\n   4;\n   3;\n" +
           "   0;16;" + id + x0 + rest + ";;,\n" +
           "   640;16;" + id + x1 + rest + ";;,\n" +
           "   1280;16;" + id + x2 + rest + ";;;\n" +
           "  }\n }\n";
  };
  EXPECT_EQ(rig.Write(&bake),
            Crlf(ThreeBonesText() + "AnimationSet default {\n" +
                 keys("_41", "0.500000", "1.500000", "2.500000", ",1.000000,-0.250000,1.000000") +
                 keys("_42", "2.000000", "3.000000", "4.000000", ",0.500000,1.000000,1.000000") +
                 keys("_4131", "0.000000", "1.000000", "2.000000", ",2.000000,-0.500000,1.000000") + "}\n"));
  EXPECT_EQ(calls, "start 0 1 2 ");
  EXPECT_TRUE(log.Contains(qev::Sjis("最大フレーム数 : 3\n"))) << log.Text();
}

TEST(XSkinWriter, MotionOfHighestFrameZeroWritesThePoseOfFrameZero) {
  // A channel without keys is no animation a reader takes: frame 0 is baked
  // and written as the one key.
  Rig rig(ThreeBones());
  qev::test::LogCapture log;
  std::string calls;
  XBake bake;
  bake.frames = 0;
  bake.start = [&] {
    calls += "start ";
    return 1;
  };
  bake.ready = [&](int32_t n) {
    calls += std::to_string(n) + " ";
    D3DXMatrixTranslation(&rig.root.FindByIndex(1)->m_mAnim, 0, 0, 4);
    return 1;
  };
  const std::string id = kIdentityRows;
  auto key = [&](const char* name, const char* row) {
    return std::string(" Animation {\n  { ") + name + " }\n  AnimationKey {\n   4;\n   1;\n" + "   0;16;" + id + row +
           ";;;\n" + "  }\n }\n";
  };
  EXPECT_EQ(rig.Write(&bake),
            Crlf(ThreeBonesText() + "AnimationSet default {\n" + key("_41", "0.500000,1.000000,-0.250000,1.000000") +
                 key("_42", "2.000000,0.500000,5.000000,1.000000") + key("_4131", "0.000000,2.000000,-0.500000,1.000000") +
                 "}\n"));
  EXPECT_EQ(calls, "start 0 ");
  EXPECT_TRUE(log.Contains(qev::Sjis("最大フレーム数 : 0\n"))) << log.Text();
}

TEST(XSkinWriter, ABakeOverTheLimitIsRefusedBeforeItStarts) {
  // frames 0 to F counted against the limit; with or without bones (a
  // model without bones writes no keys, yet would play every frame)
  struct Case {
    const char* what;
    bool bones;
    int32_t highest;
    int64_t maxFrames;
    const char* refusal;  // empty: written
  };
  const Case cases[] = {
      {"the last frame past the limit", true, 5, 5, "the motion is 6 frames long, more than the limit of 5 frames"},
      {"the limit raised by one", true, 5, 6, ""},
      {"no bones, the longest motion", false, 2147483647, qev::bake::kDefaultMaxFrames,
       "the motion is 2147483648 frames long, more than the limit of 1000000 frames"},
      {"no bones, a key at frame 1,000,000", false, 1000000, qev::bake::kDefaultMaxFrames,
       "the motion is 1000001 frames long, more than the limit of 1000000 frames"},
      {"no bones, within the limit", false, 5, 6, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PmdDesc desc = ThreeBones();
    if (!c.bones) {
      desc.bones.clear();
      for (auto& v : desc.vertices) v.bone[0] = v.bone[1] = 0;
    }
    Rig rig(desc);
    rig.dir.WriteFile("out.x", "old");
    int played = 0;
    XBake bake;
    bake.frames = c.highest;
    bake.maxFrames = c.maxFrames;
    bake.start = [&] { return 1; };
    bake.ready = [&](int32_t) { return ++played; };
    qev::test::LogCapture log;
    const std::string text = rig.Write(&bake);
    if (c.refusal[0]) {
      EXPECT_EQ(text, std::string("not written: ") + c.refusal);
      EXPECT_EQ(played, 0);
      EXPECT_EQ(rig.dir.ReadFile("out.x"), "old");
      EXPECT_EQ(log.Text(), "X file " + rig.dir.Path("out.x") + " not written: " + c.refusal + "\n");
    } else {
      EXPECT_EQ(played, c.highest);
      EXPECT_NE(text.find("AnimationSet default {"), std::string::npos) << text;
    }
    EXPECT_EQ(rig.dir.List(), std::vector<std::string>{"out.x"});
  }
}

TEST(XSkinWriter, RecordsFollowEachNodesChildrenThenTheirLists) {
  // root: P, Q; P: P1, P2; P1: P11; Q: Q1. Each node's list is its children
  // and then its children's lists: P Q P1 P2 P11 Q1 (not breadth-first,
  // which would put Q1 before P11).
  PmdDesc d = qev::test::OneTriangle();
  d.bones = {{"P", -1, 0, 0, 0, {0, 0, 0}, ""},   {"Q", -1, 0, 0, 0, {0, 0, 0}, ""},
             {"P1", 0, 0, 0, 0, {0, 0, 0}, ""},   {"P2", 0, 0, 0, 0, {0, 0, 0}, ""},
             {"P11", 2, 0, 0, 0, {0, 0, 0}, ""},  {"Q1", 1, 0, 0, 0, {0, 0, 0}, ""}};
  Rig rig(d);
  const std::string text = rig.Write(nullptr);
  std::string order;
  for (size_t at = text.find("SkinWeights {\r\n   \""); at != std::string::npos;
       at = text.find("SkinWeights {\r\n   \"", at + 1))
    order += text.substr(at + 19, text.find('"', at + 19) - at - 19) + " ";
  EXPECT_EQ(order, "_50 _51 _5031 _5032 _503131 _5131 ");
  // the frame lines after the model's frame, with their indentation
  std::string frames;
  size_t at = text.find(" }\r\n}\r\n\r\n");
  ASSERT_NE(at, std::string::npos);
  while ((at = text.find("Frame _", at)) != std::string::npos) {
    const size_t line = text.rfind('\n', at) + 1;
    frames += text.substr(line, text.find(" {", at) - line) + "|";
    at += 7;
  }
  EXPECT_EQ(frames, "Frame _50| Frame _5031|  Frame _503131| Frame _5032|Frame _51| Frame _5131|");
}

// A chain deeper than any real skeleton: the frames nest as deep as the
// bones, but their indentation stops growing, so the file grows with the
// bones and not with their square (a 100,000-bone chain once made 25 GB).
TEST(XSkinWriter, FramesOfADeepChainAreIndentedNoFurtherThanTheCap) {
  constexpr int kBones = 1000;
  constexpr int kCap = 256;
  PmdDesc d = qev::test::OneTriangle();  // its vertices on bone 0
  d.bones.clear();
  for (int j = 0; j < kBones; ++j) d.bones.push_back({"c", int16_t(j - 1), 0, 0, 0, {0, 0, 0}, ""});
  Rig rig(d);
  const std::string text = rig.Write(nullptr);
  // every frame line of the bones with its blanks, and every closing line
  std::vector<int> frames, closes;
  const size_t first = text.find(" }\r\n}\r\n\r\n");
  ASSERT_NE(first, std::string::npos);
  for (size_t line = text.find('\n', first + 4) + 1; line < text.size(); line = text.find('\n', line) + 1) {
    const size_t blanks = text.find_first_not_of(' ', line) - line;
    if (text.compare(line + blanks, 10, "Frame _63 ") == 0) frames.push_back(int(blanks));
    if (text.compare(line + blanks, 3, "}\r\n") == 0) closes.push_back(int(blanks));
    if (text.compare(line, 13, "AnimationSet ") == 0 || text.find('\n', line) == std::string::npos) break;
  }
  ASSERT_EQ(frames.size(), size_t(kBones));
  for (int j = 0; j < kBones; ++j) ASSERT_EQ(frames[size_t(j)], std::min(j, kCap)) << "bone " << j;
  // each frame's matrix closed one blank in, then the frames themselves,
  // innermost first
  std::vector<int> expected;
  for (int j = 0; j < kBones; ++j) expected.push_back(std::min(j, kCap) + 1);
  for (int j = 0; j < kBones; ++j) expected.push_back(std::min(kBones - 1 - j, kCap));
  EXPECT_EQ(closes, expected);
  EXPECT_LT(text.size(), size_t(kBones) * 1600) << "grows with the square of the depth";
}

TEST(XSkinWriter, JapaneseNamesAreWrittenAsHexBytes) {
  PmdDesc d = qev::test::OneTriangle();
  d.name = qev::Sjis("モデル");
  d.bones = {{qev::Sjis("セ"), -1, 0, 0, 0, {0, 0, 0}, ""}};
  Rig rig(d);
  const std::string text = rig.Write(nullptr);
  EXPECT_NE(text.find("Frame _83828366838B {\r\n FrameTransformMatrix"), std::string::npos) << text;
  EXPECT_NE(text.find("   \"_835A\";\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\r\nFrame _835A {\r\n"), std::string::npos) << text;
}

TEST(XSkinWriter, GivingTheBakeUpKeepsTheOldFile) {
  Rig rig(ThreeBones());
  rig.dir.WriteFile("out.x", "old");
  for (int stopAt : {-1, 0, 2}) {
    SCOPED_TRACE(stopAt);
    XBake bake;
    bake.frames = 3;
    bake.start = [&] { return stopAt == -1 ? 0 : 1; };
    bake.ready = [&](int32_t n) { return n == stopAt ? 0 : 1; };
    qev::test::LogCapture log;
    EXPECT_EQ(rig.Write(&bake).rfind("not written: the bake was given up", 0), 0u);
    EXPECT_EQ(rig.dir.ReadFile("out.x"), "old");
    EXPECT_EQ(rig.dir.List(), std::vector<std::string>{"out.x"});
  }
}

}  // namespace
