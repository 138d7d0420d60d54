// PMX reader: the summary, every block at every index width and encoding,
// 2.1 blocks, index checks and broken files.
#include "model/pmx_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "tests/common/temp_dir.h"
#include "tools/fixtures/pmx_fixture.h"

namespace {

using qev::Sjis;
using qev::fixture::BuildPmx;
using qev::fixture::PmxDesc;
using qev::fixture::SamplePmx;

int LoadBytes(CPmxFile& pmx, const std::string& bytes) { return pmx.LoadFromMemory(bytes.data(), bytes.size()); }

void PatchI32(std::string& bytes, size_t offset, int32_t value) { std::memcpy(bytes.data() + offset, &value, 4); }

void ExpectEmpty(const CPmxFile& pmx) {
  EXPECT_EQ(pmx.m_Header.version, 0.0f);
  EXPECT_TRUE(pmx.m_Name.empty());
  EXPECT_TRUE(pmx.m_Comment.empty());
  EXPECT_TRUE(pmx.m_Vertices.empty());
  EXPECT_TRUE(pmx.m_Indices.empty());
  EXPECT_TRUE(pmx.m_Textures.empty());
  EXPECT_TRUE(pmx.m_Materials.empty());
  EXPECT_TRUE(pmx.m_Bones.empty());
  EXPECT_TRUE(pmx.m_IkLinks.empty());
  EXPECT_EQ(pmx.m_nIk, 0);
  EXPECT_TRUE(pmx.m_Morphs.empty());
  EXPECT_TRUE(pmx.m_GroupOffsets.empty());
  EXPECT_TRUE(pmx.m_VertexOffsets.empty());
  EXPECT_TRUE(pmx.m_DisplayFrames.empty());
  EXPECT_TRUE(pmx.m_RigidBodies.empty());
  EXPECT_TRUE(pmx.m_Joints.empty());
  EXPECT_EQ(pmx.m_nSoftBody, 0);
}

// The sample with every index at the given width.
PmxDesc Sample(uint8_t encoding, uint8_t width) {
  PmxDesc d = SamplePmx();
  d.encoding = encoding;
  d.vertexIndex = d.textureIndex = d.materialIndex = d.boneIndex = d.morphIndex = d.bodyIndex = width;
  return d;
}

TEST(PmxFile, SampleSummaryIsWrittenByteForByte) {
  qev::test::TempDir dir;
  dir.WriteFile("m.pmx", BuildPmx(SamplePmx()));
  CPmxFile pmx;
  qev::test::LogCapture log;
  ASSERT_EQ(pmx.Load(dir.Path("m.pmx").c_str()), 1);
  std::vector<std::string> expected;
  for (const char* line :
       {"バージョン           : 2.100000\n",
        "PMX : text UTF-16LE, additional uv 2, index sizes vertex 1 texture 1 material 1 bone 1 morph 1 rigid body 1\n",
        "モデル名             : 試験モデル\n", "コメント             : 試験用\n二行目\n", "頂点数                 : 6\n",
        "フェース数             : 6(面数=2)\n", "テクスチャ数           : 3\n", "マテリアル数           : 2\n",
        "  トータルフェース数   : 2\n", "ボーン数               : 7\n", "IKリスト数             : 1\n",
        "表情データ数           : 11\n", "表示枠数               : 2\n", "剛体数                 : 2\n",
        "ジョイント数 : 2\n", "PMX : soft bodies read and skipped, not simulated : 1\n"})
    expected.push_back(Sjis(line));
  EXPECT_EQ(log.Lines(), expected);
}

// Every field of the sample, read back at each index width and in each encoding.
TEST(PmxFile, EveryBlockReadsAtEveryIndexWidthAndEncoding) {
  struct Case {
    uint8_t encoding, width;
  };
  const Case cases[] = {{0, 1}, {0, 2}, {0, 4}, {1, 1}, {1, 2}, {1, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "encoding " << int(c.encoding) << " width " << int(c.width));
    CPmxFile pmx;
    ASSERT_EQ(LoadBytes(pmx, BuildPmx(Sample(c.encoding, c.width))), 1);
    EXPECT_EQ(pmx.m_Header.version, 2.1f);
    EXPECT_EQ(pmx.m_Header.encoding, c.encoding);
    EXPECT_EQ(pmx.m_Header.boneIndex, c.width);
    EXPECT_EQ(pmx.m_Name, "試験モデル");
    EXPECT_EQ(pmx.m_EnglishName, "Test model");
    EXPECT_EQ(pmx.m_Comment, "試験用\n二行目");
    EXPECT_EQ(pmx.m_EnglishComment, "for tests");

    ASSERT_EQ(pmx.m_Vertices.size(), 6u);
    const PmxVertex& v0 = pmx.m_Vertices[0];
    EXPECT_EQ(v0.deform, kPmxBdef1);
    EXPECT_EQ(v0.pos[0], -1.0f);
    EXPECT_EQ(v0.normal[2], -1.0f);  // as stored: no mirror here
    EXPECT_EQ(v0.bone[0], 1);
    EXPECT_EQ(v0.bone[1], -1);
    EXPECT_EQ(v0.weight[0], 1.0f);
    const PmxVertex& v1 = pmx.m_Vertices[1];
    EXPECT_EQ(v1.deform, kPmxBdef2);
    EXPECT_EQ(v1.bone[1], 2);
    EXPECT_EQ(v1.weight[0], 0.75f);
    EXPECT_EQ(v1.weight[1], 0.25f);
    EXPECT_EQ(v1.addUv[0][0], 1.0f);
    EXPECT_EQ(v1.addUv[1][3], -1.0f);
    EXPECT_EQ(v1.edgeScale, 1.0f + 1.0f / 10.0f);
    const PmxVertex& v2 = pmx.m_Vertices[2];
    EXPECT_EQ(v2.deform, kPmxBdef4);
    EXPECT_EQ(v2.bone[3], 3);
    EXPECT_EQ(v2.weight[3], 0.625f);  // weights kept as read, not normalised
    const PmxVertex& v3 = pmx.m_Vertices[3];
    EXPECT_EQ(v3.deform, kPmxSdef);
    EXPECT_EQ(v3.weight[1], 0.5f);
    EXPECT_EQ(v3.sdefC[2], 3.0f);
    EXPECT_EQ(v3.sdefR0[0], 4.0f);
    EXPECT_EQ(v3.sdefR1[2], 9.0f);
    EXPECT_EQ(v3.edgeScale, 1.0f + 3.0f / 10.0f);
    const PmxVertex& v4 = pmx.m_Vertices[4];
    EXPECT_EQ(v4.deform, kPmxQdef);
    EXPECT_EQ(v4.bone[0], 3);
    EXPECT_EQ(v4.bone[3], 0);
    EXPECT_EQ(v4.weight[2], 0.25f);
    EXPECT_EQ(v4.sdefC[0], 0.0f);

    EXPECT_EQ(pmx.m_Indices, (std::vector<uint32_t>{0, 1, 2, 3, 4, 5}));  // winding as stored
    EXPECT_EQ(pmx.m_Textures, (std::vector<std::string>{"tex\\body.png", "sphere.sph", "toon_own.bmp"}));

    ASSERT_EQ(pmx.m_Materials.size(), 2u);
    const PmxMaterial& body = pmx.m_Materials[0];
    EXPECT_EQ(body.name, "体");
    EXPECT_EQ(body.englishName, "body");
    EXPECT_EQ(body.texture, 0);
    EXPECT_EQ(body.sphere, 1);
    EXPECT_EQ(body.sphereMode, 1);
    EXPECT_EQ(body.sharedToon, 1);
    EXPECT_EQ(body.toon, 3);
    EXPECT_EQ(body.memo, "メモ");
    EXPECT_EQ(body.flags, 0x1F);
    EXPECT_EQ(body.specularPower, 5.0f);
    EXPECT_EQ(body.ambient[2], 0.4f);
    const PmxMaterial& cloth = pmx.m_Materials[1];
    EXPECT_EQ(cloth.diffuse[3], 0.5f);
    EXPECT_EQ(cloth.texture, -1);
    EXPECT_EQ(cloth.sharedToon, 0);
    EXPECT_EQ(cloth.toon, 2);
    EXPECT_EQ(cloth.sphereMode, 2);
    EXPECT_EQ(cloth.edgeSize, 0.5f);
    EXPECT_EQ(cloth.edgeColour[3], 1.0f);
    EXPECT_EQ(cloth.firstIndex, 3u);
    EXPECT_EQ(cloth.indexCount, 3u);

    ASSERT_EQ(pmx.m_Bones.size(), 7u);
    const PmxBone& centre = pmx.m_Bones[0];
    EXPECT_EQ(centre.name, "センター");
    EXPECT_EQ(centre.englishName, "center");
    EXPECT_EQ(centre.parent, -1);
    EXPECT_EQ(centre.tailBone, 1);
    EXPECT_EQ(centre.grantParent, -1);
    EXPECT_EQ(centre.ikTarget, -1);
    const PmxBone& ankle = pmx.m_Bones[3];
    EXPECT_EQ(ankle.tailBone, -1);
    EXPECT_EQ(ankle.tailOffset[2], -1.0f);
    const PmxBone& ik = pmx.m_Bones[4];
    EXPECT_EQ(ik.layer, 1);
    EXPECT_EQ(ik.flags, 0x003E);
    EXPECT_EQ(ik.ikTarget, 3);
    EXPECT_EQ(ik.ikLoops, 40);
    EXPECT_EQ(ik.ikLimitAngle, 2.0f);
    ASSERT_EQ(ik.ikLinkCount, 2u);
    ASSERT_EQ(pmx.m_IkLinks.size(), 2u);
    const PmxIkLink& knee = pmx.m_IkLinks[ik.ikFirstLink];
    EXPECT_EQ(knee.bone, 2);
    EXPECT_EQ(knee.hasLimits, 1);
    EXPECT_EQ(knee.lower[0], -3.14159f);
    EXPECT_EQ(knee.upper[0], -0.008727f);
    EXPECT_EQ(pmx.m_IkLinks[ik.ikFirstLink + 1].bone, 1);
    EXPECT_EQ(pmx.m_IkLinks[ik.ikFirstLink + 1].hasLimits, 0);
    EXPECT_EQ(pmx.m_nIk, 1);
    const PmxBone& eye = pmx.m_Bones[5];
    EXPECT_EQ(eye.flags & (kPmxBoneLocalGrant | kPmxBoneGrantRotation | kPmxBoneGrantTranslation), 0x0380);
    EXPECT_EQ(eye.grantParent, 0);
    EXPECT_EQ(eye.grantRatio, 0.5f);
    EXPECT_EQ(eye.localX[1], 1.0f);
    EXPECT_EQ(eye.localZ[0], -1.0f);
    const PmxBone& skirt = pmx.m_Bones[6];
    EXPECT_EQ(skirt.flags & kPmxBoneAfterPhysics, kPmxBoneAfterPhysics);
    EXPECT_EQ(skirt.fixedAxis[0], 1.0f);
    EXPECT_EQ(skirt.externalKey, 7);
    EXPECT_EQ(skirt.layer, 2);

    // one morph of every kind, each offset in the array of its kind
    ASSERT_EQ(pmx.m_Morphs.size(), 11u);
    for (size_t i = 0; i < 11; ++i) EXPECT_EQ(pmx.m_Morphs[i].kind, i) << i;
    const PmxMorph& group = pmx.m_Morphs[0];
    ASSERT_EQ(group.count, 2u);
    EXPECT_EQ(pmx.m_GroupOffsets[group.first].morph, 1);
    EXPECT_EQ(pmx.m_GroupOffsets[group.first].ratio, 0.5f);
    EXPECT_EQ(pmx.m_GroupOffsets[group.first + 1].morph, 4);
    const PmxMorph& vertex = pmx.m_Morphs[1];
    ASSERT_EQ(vertex.count, 2u);
    EXPECT_EQ(pmx.m_VertexOffsets[vertex.first + 1].vertex, 2);
    EXPECT_EQ(pmx.m_VertexOffsets[vertex.first].pos[2], 2.25f);
    const PmxBoneOffset& bone = pmx.m_BoneOffsets[pmx.m_Morphs[2].first];
    EXPECT_EQ(pmx.m_Morphs[2].panel, 0);
    EXPECT_EQ(bone.bone, 5);
    EXPECT_EQ(bone.pos[0], 1.0f);
    EXPECT_EQ(bone.rot[3], 7.0f);
    ASSERT_EQ(pmx.m_UvOffsets.size(), 5u);  // uv and the four additional uv
    for (uint32_t k = 0; k < 5; ++k) {
      EXPECT_EQ(pmx.m_Morphs[3 + k].first, k);
      EXPECT_EQ(pmx.m_UvOffsets[k].vertex, int32_t(k));
      EXPECT_EQ(pmx.m_UvOffsets[k].uv[3], 3.5f);
    }
    const PmxMaterialOffset& mat = pmx.m_MaterialOffsets[pmx.m_Morphs[8].first];
    EXPECT_EQ(mat.material, -1);
    EXPECT_EQ(mat.op, 1);
    EXPECT_EQ(mat.diffuse[0], 0.0f);
    EXPECT_EQ(mat.specularPower, 7.0f);
    EXPECT_EQ(mat.edgeSize, 15.0f);
    EXPECT_EQ(mat.toonTint[3], 27.0f);
    const PmxMorph& flip = pmx.m_Morphs[9];
    EXPECT_EQ(flip.kind, kPmxMorphFlip);
    EXPECT_EQ(pmx.m_GroupOffsets[flip.first].morph, 1);
    EXPECT_EQ(pmx.m_GroupOffsets[flip.first].ratio, 1.0f);
    const PmxImpulseOffset& impulse = pmx.m_ImpulseOffsets[pmx.m_Morphs[10].first];
    EXPECT_EQ(impulse.body, 1);
    EXPECT_EQ(impulse.local, 1);
    EXPECT_EQ(impulse.velocity[0], 2.0f);
    EXPECT_EQ(impulse.torque[2], 7.0f);

    ASSERT_EQ(pmx.m_DisplayFrames.size(), 2u);
    EXPECT_EQ(pmx.m_DisplayFrames[1].name, "表情");
    EXPECT_EQ(pmx.m_DisplayFrames[1].special, 1);
    EXPECT_EQ(pmx.m_DisplayFrames[1].morphs, 2u);
    EXPECT_EQ(pmx.m_DisplayFrames[1].bones, 1u);
    EXPECT_EQ(pmx.m_DisplayFrames[0].bones, 1u);

    ASSERT_EQ(pmx.m_RigidBodies.size(), 2u);
    EXPECT_EQ(pmx.m_RigidBodies[0].name, "下半身");
    EXPECT_EQ(pmx.m_RigidBodies[0].mask, 0xFFFE);
    EXPECT_EQ(pmx.m_RigidBodies[0].shape, 1);
    EXPECT_EQ(pmx.m_RigidBodies[0].rot[0], 0.1f);
    EXPECT_EQ(pmx.m_RigidBodies[1].bone, 6);
    EXPECT_EQ(pmx.m_RigidBodies[1].mode, 2);
    EXPECT_EQ(pmx.m_RigidBodies[1].pos[2], -0.5f);  // model space, as stored
    EXPECT_EQ(pmx.m_RigidBodies[1].friction, 0.5f);
    ASSERT_EQ(pmx.m_Joints.size(), 2u);
    EXPECT_EQ(pmx.m_Joints[0].kind, 0);
    EXPECT_EQ(pmx.m_Joints[0].bodyB, 1);
    EXPECT_EQ(pmx.m_Joints[0].pos[1], 8.5f);
    EXPECT_EQ(pmx.m_Joints[0].rotUpper[0], 0.5f);
    EXPECT_EQ(pmx.m_Joints[0].rotSpring[2], 10.0f);
    EXPECT_EQ(pmx.m_Joints[1].kind, 1);
    EXPECT_EQ(pmx.m_Joints[1].name, "ばね");
    EXPECT_EQ(pmx.m_nSoftBody, 1);
  }
}

// Vertex indices of 1 and 2 bytes are unsigned; every other index is signed.
TEST(PmxFile, NarrowVertexIndicesAreUnsignedAndOthersSigned) {
  struct Case {
    uint8_t width;
    int vertices;
  };
  for (const Case& c : {Case{1, 256}, Case{2, 65536}}) {
    SCOPED_TRACE(int(c.width));
    PmxDesc d;
    d.vertexIndex = c.width;
    d.boneIndex = c.width;
    d.vertices.resize(size_t(c.vertices));
    d.vertices[0].bone[0] = -1;
    d.indices = {c.vertices - 1, 0, c.vertices - 2};
    qev::fixture::PmxMorphDesc m;
    m.offsets.resize(1);
    m.offsets[0].index = c.vertices - 1;
    d.morphs = {m};
    CPmxFile pmx;
    ASSERT_EQ(LoadBytes(pmx, BuildPmx(d)), 1);
    EXPECT_EQ(pmx.m_Indices[0], uint32_t(c.vertices - 1));
    EXPECT_EQ(pmx.m_VertexOffsets[0].vertex, c.vertices - 1);
    EXPECT_EQ(pmx.m_Vertices[0].bone[0], -1);  // all ones at the narrow width: none
  }
}

TEST(PmxFile, VersionsAndHeaderSettings) {
  struct Case {
    const char* what;
    void (*change)(PmxDesc&);
    int result;
    const char* line;  // the last log line
  };
  const Case cases[] = {
      {"2.0 file ends after the joints", [](PmxDesc& d) { d.version = 2.0f; }, 1, "ジョイント数 : 2\n"},
      {"2.1 file without the soft body block", [](PmxDesc& d) { d.softBodyBlock = false; }, 1,
       "PMX : no soft body block after the joints\n"},
      {"longer header settings are skipped", [](PmxDesc& d) { d.globals = 12; }, 1,
       "PMX : soft bodies read and skipped, not simulated : 1\n"},
      {"version 1.0", [](PmxDesc& d) { d.version = 1.0f; }, 0, "PMX error : header version 1.000000 is not 2.0 or 2.1\n"},
      {"version 2.2", [](PmxDesc& d) { d.version = 2.2f; }, 0, "PMX error : header version 2.200000 is not 2.0 or 2.1\n"},
      {"seven settings", [](PmxDesc& d) { d.globals = 7; }, 0, "PMX error : header holds 7 settings, fewer than 8\n"},
      {"encoding 2", [](PmxDesc& d) { d.encoding = 2; }, 0,
       "PMX error : header text encoding 2 is neither 0 (UTF-16) nor 1 (UTF-8)\n"},
      {"five additional uv", [](PmxDesc& d) { d.additionalUv = 5; }, 0,
       "PMX error : header additional uv count 5 is more than 4\n"},
      {"vertex index size 3", [](PmxDesc& d) { d.vertexIndex = 3; }, 0,
       "PMX error : header vertex index size 3 is not 1, 2 or 4\n"},
      {"texture index size 0", [](PmxDesc& d) { d.textureIndex = 0; }, 0,
       "PMX error : header texture index size 0 is not 1, 2 or 4\n"},
      {"material index size 8", [](PmxDesc& d) { d.materialIndex = 8; }, 0,
       "PMX error : header material index size 8 is not 1, 2 or 4\n"},
      {"bone index size 3", [](PmxDesc& d) { d.boneIndex = 3; }, 0,
       "PMX error : header bone index size 3 is not 1, 2 or 4\n"},
      {"morph index size 5", [](PmxDesc& d) { d.morphIndex = 5; }, 0,
       "PMX error : header morph index size 5 is not 1, 2 or 4\n"},
      {"rigid body index size 255", [](PmxDesc& d) { d.bodyIndex = 255; }, 0,
       "PMX error : header rigid body index size 255 is not 1, 2 or 4\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PmxDesc d = SamplePmx();
    c.change(d);
    CPmxFile pmx;
    qev::test::LogCapture log;
    EXPECT_EQ(LoadBytes(pmx, BuildPmx(d)), c.result);
    ASSERT_FALSE(log.Lines().empty());
    EXPECT_EQ(log.Lines().back(), Sjis(c.line));
    if (c.result) {
      EXPECT_EQ(pmx.m_Bones.size(), 7u);
      EXPECT_EQ(pmx.m_Joints.size(), 2u);
    } else {
      ExpectEmpty(pmx);
    }
  }
}

TEST(PmxFile, UnknownKindsAndFlagsThatDecideTheLayoutAreRefused) {
  struct Case {
    const char* what;
    void (*spoil)(PmxDesc&);
    const char* line;
  };
  const Case cases[] = {
      {"weight kind 5", [](PmxDesc& d) { d.vertices[2].deform = 5; }, "PMX error : vertex [2] weight kind 5 at offset"},
      {"face count not a multiple of 3", [](PmxDesc& d) { d.indices.pop_back(); },
       "PMX error : face index count 5 is not a multiple of 3\n"},
      {"toon flag 2", [](PmxDesc& d) { d.materials[1].sharedToon = 2; },
       "PMX error : material [1] toon flag 2 at offset"},
      {"IK limit flag 3", [](PmxDesc& d) { d.bones[4].ikLinks[1].hasLimits = 3; },
       "PMX error : bone [4] IK link [1] limit flag 3 at offset"},
      {"morph kind 11", [](PmxDesc& d) { d.morphs[10].kind = 11; }, "PMX error : morph [10] kind 11 at offset"},
      {"display entry kind 2", [](PmxDesc& d) { d.frames[1].entries[2].target = 2; },
       "PMX error : display frame [1] entry [2] kind 2 at offset"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PmxDesc d = SamplePmx();
    c.spoil(d);
    CPmxFile pmx;
    qev::test::LogCapture log;
    EXPECT_EQ(LoadBytes(pmx, BuildPmx(d)), 0);
    ASSERT_FALSE(log.Lines().empty());
    EXPECT_EQ(log.Lines().back().rfind(c.line, 0), 0u) << log.Lines().back();
    ExpectEmpty(pmx);
  }
}

TEST(PmxFile, IndicesThatLaterStagesFollowAreRefused) {
  struct Case {
    const char* what;
    uint8_t width;
    void (*spoil)(PmxDesc&);
    const char* line;
  };
  const Case cases[] = {
      {"face index at the vertex count", 1, [](PmxDesc& d) { d.indices[4] = 6; },
       "PMX error : face index [4] = 6 is not below the vertex count 6\n"},
      {"face index 255 read unsigned", 1, [](PmxDesc& d) { d.indices[0] = 255; },
       "PMX error : face index [0] = 255 is not below the vertex count 6\n"},
      {"negative face index", 4, [](PmxDesc& d) { d.indices[1] = -1; },
       "PMX error : face index [1] = -1 is not below the vertex count 6\n"},
      {"materials past the index list", 2, [](PmxDesc& d) { d.materials[1].indexCount = 4; },
       "PMX error : material [1] face count 4 from index 3 runs past the index count 6\n"},
      {"negative material face count", 2, [](PmxDesc& d) { d.materials[0].indexCount = -3; },
       "PMX error : material [0] face count 4294967293 from index 0 runs past the index count 6\n"},
      {"IK target past the bones", 1, [](PmxDesc& d) { d.bones[4].ikTarget = 7; },
       "PMX error : bone [4] IK target 7 is not one of the 7 bones\n"},
      {"IK target none", 2, [](PmxDesc& d) { d.bones[4].ikTarget = -1; },
       "PMX error : bone [4] IK target -1 is not one of the 7 bones\n"},
      {"IK link past the bones", 4, [](PmxDesc& d) { d.bones[4].ikLinks[1].bone = 1000; },
       "PMX error : bone [4] IK link [1] bone 1000 is not one of the 7 bones\n"},
      {"IK link negative", 1, [](PmxDesc& d) { d.bones[4].ikLinks[0].bone = -5; },
       "PMX error : bone [4] IK link [0] bone -5 is not one of the 7 bones\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PmxDesc d = Sample(1, c.width);
    c.spoil(d);
    CPmxFile pmx;
    qev::test::LogCapture log;
    EXPECT_EQ(LoadBytes(pmx, BuildPmx(d)), 0);
    ASSERT_FALSE(log.Lines().empty());
    EXPECT_EQ(log.Lines().back(), c.line);
    ExpectEmpty(pmx);
  }
}

TEST(PmxFile, IndicesThatAreOnlyStoredAreKept) {
  PmxDesc d = Sample(0, 2);
  d.vertices[0].bone[0] = 500;
  d.materials[0].texture = 99;
  d.materials[1].toon = -7;
  d.bones[1].parent = 40;
  d.bones[0].tailBone = 300;
  d.bones[5].grantParent = 77;
  d.morphs[0].offsets[0].index = 1234;
  d.morphs[1].offsets[0].index = 60000;
  d.rigidBodies[0].bone = 300;
  d.joints[0].bodyB = -1;
  CPmxFile pmx;
  ASSERT_EQ(LoadBytes(pmx, BuildPmx(d)), 1);
  EXPECT_EQ(pmx.m_Vertices[0].bone[0], 500);
  EXPECT_EQ(pmx.m_Materials[0].texture, 99);
  EXPECT_EQ(pmx.m_Materials[1].toon, -7);
  EXPECT_EQ(pmx.m_Bones[1].parent, 40);
  EXPECT_EQ(pmx.m_Bones[0].tailBone, 300);
  EXPECT_EQ(pmx.m_Bones[5].grantParent, 77);
  EXPECT_EQ(pmx.m_GroupOffsets[0].morph, 1234);
  EXPECT_EQ(pmx.m_VertexOffsets[0].vertex, 60000);
  EXPECT_EQ(pmx.m_RigidBodies[0].bone, 300);
  EXPECT_EQ(pmx.m_Joints[0].bodyB, -1);
}

TEST(PmxFile, EveryPrefixFailsCleanlyNamingWhereItEnds) {
  for (uint8_t encoding : {0, 1}) {
    for (uint8_t width : {1, 2, 4}) {
      SCOPED_TRACE(testing::Message() << "encoding " << int(encoding) << " width " << int(width));
      PmxDesc d = Sample(encoding, width);
      const std::string whole = BuildPmx(d);
      d.softBodyBlock = false;
      const size_t joints = BuildPmx(d).size();  // a 2.1 file may end after its joints
      for (size_t n = 0; n < whole.size(); ++n) {
        CPmxFile pmx;
        qev::test::LogCapture log;
        const int result = LoadBytes(pmx, whole.substr(0, n));
        ASSERT_FALSE(log.Lines().empty()) << n;
        const std::string& last = log.Lines().back();
        if (n == joints) {
          EXPECT_EQ(result, 1) << n;
          EXPECT_EQ(last, "PMX : no soft body block after the joints\n");
          continue;
        }
        ASSERT_EQ(result, 0) << n;
        if (n < 4) EXPECT_EQ(last, "PMX error : no \"PMX \" mark at the start of the file\n") << n;
        else {
          const size_t at = last.find(" cut short at offset ");
          ASSERT_NE(at, std::string::npos) << n << " " << last;
          EXPECT_LE(std::stoul(last.substr(at + 21)), n) << last;  // where the last whole read began
        }
        ExpectEmpty(pmx);
      }
      CPmxFile pmx;
      ASSERT_EQ(LoadBytes(pmx, whole), 1);
    }
  }
}

// An empty 2.1 model with UTF-16 texts: the block counts lie one after
// another from the vertex count on.
constexpr size_t kVertexCount = 33;
const char* const kSections[] = {"vertices", "faces", "textures", "materials", "bones", "morphs",
                                 "display frames", "rigid bodies", "joints", "soft bodies"};

TEST(PmxFile, HostileBlockCountsFailBeforeAnyAllocation) {
  PmxDesc empty;
  empty.version = 2.1f;
  const std::string base = BuildPmx(empty);
  ASSERT_EQ(base.size(), kVertexCount + 4 * 10);
  for (size_t s = 0; s < 10; ++s) {
    for (int32_t value : {0x7FFFFFFF, 1 << 24, -1, int32_t(0x80000000)}) {
      SCOPED_TRACE(testing::Message() << kSections[s] << " " << value);
      std::string bytes = base;
      const size_t at = kVertexCount + 4 * s;
      PatchI32(bytes, at, value);
      CPmxFile pmx;
      qev::test::LogCapture log;
      EXPECT_EQ(LoadBytes(pmx, bytes), 0);
      ASSERT_FALSE(log.Lines().empty());
      const std::string expected =
          value < 0 ? std::string("PMX error : ") + kSections[s] + " count " + std::to_string(value) + " at offset " +
                          std::to_string(at) + " is negative\n"
                    : std::string("PMX error : ") + kSections[s] + " cut short at offset " + std::to_string(at + 4) + "\n";
      EXPECT_EQ(log.Lines().back(), expected);
      ExpectEmpty(pmx);
    }
  }
}

TEST(PmxFile, HostileCountsAndLengthsInsideRecords) {
  // a one-of-each model in UTF-8 with 4-byte indices, every text "x"
  struct Case {
    const char* what;
    void (*build)(PmxDesc&);
    const char* section;  // the record whose field is spoiled
    size_t back;          // the field's offset counted from the end of the file
    int32_t value;
    const char* line;
  };
  const Case cases[] = {
      {"IK link count",
       [](PmxDesc& d) {
         d.bones.resize(1);
         d.bones[0].flags = 0x0020;
         d.bones[0].ikTarget = 0;
       },
       "bones", 4 + 4 * 5, 0x7FFFFFFF, "PMX error : bones [0] cut short at offset "},
      {"negative IK link count",
       [](PmxDesc& d) {
         d.bones.resize(1);
         d.bones[0].flags = 0x0020;
       },
       "bones", 4 + 4 * 5, -2, "PMX error : bones [0] IK link count -2 at offset "},
      {"morph offset count", [](PmxDesc& d) { d.morphs.resize(1); }, "morphs", 4 + 4 * 4, 0x7FFFFFFF,
       "PMX error : morphs [0] cut short at offset "},
      {"negative morph offset count", [](PmxDesc& d) { d.morphs.resize(1); }, "morphs", 4 + 4 * 4, -1,
       "PMX error : morphs [0] offset count -1 at offset "},
      {"display entry count", [](PmxDesc& d) { d.frames.resize(1); }, "frames", 4 + 4 * 3, 0x40000000,
       "PMX error : display frames [0] cut short at offset "},
      {"negative text length", [](PmxDesc& d) { d.textures = {"x"}; }, "textures", 4 * 7 + 5, -100,
       "PMX error : textures [0] text length -100 at offset "},
      {"text longer than the file", [](PmxDesc& d) { d.textures = {"x"}; }, "textures", 4 * 7 + 5, 0x7FFFFFFF,
       "PMX error : textures [0] cut short at offset "},
      {"soft body anchors",
       [](PmxDesc& d) { d.softBodies.resize(1); },
       "soft bodies", 8, 0x7FFFFFFF, "PMX error : soft bodies [0] cut short at offset "},
      {"negative soft body pins", [](PmxDesc& d) { d.softBodies.resize(1); }, "soft bodies", 4, -9,
       "PMX error : soft bodies [0] pinned vertex count -9 at offset "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PmxDesc d;
    d.version = 2.1f;
    d.encoding = 1;
    c.build(d);
    std::string bytes = BuildPmx(d);
    // the counts after the spoiled block are 0, so the field lies at a fixed distance from the end
    PatchI32(bytes, bytes.size() - c.back, c.value);
    CPmxFile pmx;
    qev::test::LogCapture log;
    EXPECT_EQ(LoadBytes(pmx, bytes), 0);
    ASSERT_FALSE(log.Lines().empty());
    EXPECT_EQ(log.Lines().back().rfind(c.line, 0), 0u) << log.Lines().back();
    ExpectEmpty(pmx);
  }
}

TEST(PmxFile, TextsAreKeptAsUtf8AndLoggedInCodePage932) {
  struct Case {
    uint8_t encoding;
    std::string stored;  // the name's bytes in the file
    std::string kept;
    std::string logged;  // the converter gives one '?' per UTF-8 byte it cannot map
  };
  const Case cases[] = {
      {1, "桜花", "桜花", Sjis("桜花")},
      {1, "a\xFF" "b", "a\xEF\xBF\xBD" "b", "a???b"},  // a byte that is no UTF-8
      {0, std::string("\x3D\xD8\x00\xDE", 4), "\xF0\x9F\x98\x80", "????"},  // a surrogate pair CP932 cannot hold
      {0, std::string("A\0B", 3), "A", "A"},  // odd length: the last byte is no whole unit
      {0, std::string("\x00\xD8", 2), "\xEF\xBF\xBD", "???"},  // a lone surrogate
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kept);
    PmxDesc d;
    d.encoding = c.encoding;
    d.name = "#";
    std::string bytes = BuildPmx(d);
    // the name is the first text: a length of 1 (UTF-8) or 2 (UTF-16), then its bytes
    const size_t at = 17;
    const size_t oldLength = c.encoding ? 1 : 2;
    std::string text(4, '\0');
    const int32_t length = int32_t(c.stored.size());
    std::memcpy(text.data(), &length, 4);
    bytes.replace(at, 4 + oldLength, text + c.stored);
    CPmxFile pmx;
    qev::test::LogCapture log;
    ASSERT_EQ(LoadBytes(pmx, bytes), 1);
    EXPECT_EQ(pmx.m_Name, c.kept);
    EXPECT_TRUE(log.Contains(Sjis("モデル名             : ") + c.logged + "\n")) << log.Text();
  }
}

// The benchmarks' model is a valid file with the counts it was asked for.
TEST(PmxFile, LargeModelLoadsWithItsCounts) {
  CPmxFile pmx;
  ASSERT_EQ(LoadBytes(pmx, BuildPmx(qev::fixture::LargePmx(3000, 9001, 60, 5, 10))), 1);
  EXPECT_EQ(pmx.m_Vertices.size(), 3000u);
  EXPECT_EQ(pmx.m_Indices.size(), 9000u);
  EXPECT_EQ(pmx.m_Bones.size(), 60u);
  EXPECT_EQ(pmx.m_nIk, 3);
  EXPECT_EQ(pmx.m_IkLinks.size(), 6u);
  EXPECT_EQ(pmx.m_Bones[59].name, "ボーン59");
  EXPECT_EQ(pmx.m_VertexOffsets.size(), 500u);
  EXPECT_EQ(pmx.m_RigidBodies.size(), 10u);
  EXPECT_EQ(pmx.m_Joints.size(), 9u);
  EXPECT_EQ(pmx.m_Vertices[1].deform, kPmxSdef);
}

TEST(PmxFile, UnreadableForeignOrSecondFilesLeaveNoTrace) {
  qev::test::TempDir dir;
  dir.WriteFile("foreign.pmx", "Pmd" + std::string(400, '\0'));
  CPmxFile pmx;
  for (const char* name : {"missing.pmx", "foreign.pmx"}) {
    ASSERT_EQ(LoadBytes(pmx, BuildPmx(SamplePmx())), 1);
    EXPECT_EQ(pmx.Load(dir.Path(name).c_str()), 0) << name;
    ExpectEmpty(pmx);
  }
  // a small second model keeps nothing of the first
  ASSERT_EQ(LoadBytes(pmx, BuildPmx(SamplePmx())), 1);
  PmxDesc small;
  small.name = "b";
  ASSERT_EQ(LoadBytes(pmx, BuildPmx(small)), 1);
  EXPECT_EQ(pmx.m_Name, "b");
  EXPECT_EQ(pmx.m_Header.version, 2.0f);
  pmx.m_Name.clear();
  pmx.m_Header.version = 0.0f;
  ExpectEmpty(pmx);
}

}  // namespace
