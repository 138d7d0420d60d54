// The model description as the two readers fill it: PMD records taken over
// as read, PMX records mirrored into our space the way the PMD reader
// mirrors its own, names converted for matching, and indices that point
// nowhere made "none".
#include "model/model_description.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "model/pmd_file.h"
#include "model/pmx_file.h"
#include "platform/codepage.h"
#include "tests/common/temp_dir.h"
#include "tools/fixtures/pmd_fixture.h"
#include "tools/fixtures/pmx_fixture.h"
#include "tools/fixtures/sample_character.h"

namespace {

using qev::Sjis;
using qev::fixture::BuildPmd;
using qev::fixture::BuildPmx;
using qev::fixture::PmxDesc;

CModelDescription FromPmx(const PmxDesc& d) {
  const std::string bytes = BuildPmx(d);
  CPmxFile pmx;
  EXPECT_EQ(pmx.LoadFromMemory(bytes.data(), bytes.size()), 1);
  CModelDescription m;
  m.FillFromPmx(pmx);
  return m;
}

CModelDescription FromPmd(const qev::fixture::PmdDesc& d) {
  const std::string bytes = BuildPmd(d);
  CModelDescription m;
  EXPECT_EQ(m.LoadFromMemory(bytes.data(), bytes.size()), 1);
  return m;
}

void Expect3(const float* got, float x, float y, float z) {
  EXPECT_EQ(got[0], x);
  EXPECT_EQ(got[1], y);
  EXPECT_EQ(got[2], z);
}

TEST(ModelDescription, PmdRecordsAreTakenOverAsRead) {
  qev::fixture::PmdDesc d = qev::fixture::SamplePmd();
  d.vertices[0].weight = 150;  // past 100: the first bone alone, its share kept
  d.vertices[1].weight = 30;
  d.bones[1].tail = 0;         // PMD's "no tail"
  d.bones[2].tail = 999;       // past the bones: none
  d.rigidBodies[0].bone = 0xFFFF;
  const CModelDescription m = FromPmd(d);
  EXPECT_EQ(m.m_format, kModelPmd);
  EXPECT_EQ(m.m_name, d.name);

  const ModelVertex& heavy = m.m_vertices[0];
  EXPECT_EQ(heavy.skinning, kSkinBdef1);
  EXPECT_EQ(heavy.weight[0], 1.5f);
  EXPECT_EQ(heavy.bone[1], d.vertices[0].bone[1]) << "kept for the X writer";
  const ModelVertex& blend = m.m_vertices[1];
  EXPECT_EQ(blend.skinning, kSkinBdef2);
  EXPECT_EQ(blend.weight[0], 30.0f / 100.0f);
  EXPECT_EQ(blend.weight[1], 70.0f / 100.0f);
  Expect3(blend.pos, d.vertices[1].pos[0], d.vertices[1].pos[1], -d.vertices[1].pos[2]);

  // the reader's winding (b, a, c) of the file's (a, b, c)
  ASSERT_EQ(m.m_indices.size(), d.indices.size());
  EXPECT_EQ(m.m_indices[0], d.indices[1]);
  EXPECT_EQ(m.m_indices[1], d.indices[0]);
  EXPECT_EQ(m.m_indices[2], d.indices[2]);

  EXPECT_EQ(m.m_bones[1].tailBone, -1);
  EXPECT_EQ(m.m_bones[2].tailBone, -1);
  for (size_t i = 0; i < d.bones.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(m.m_bones[i].name, d.bones[i].name);
    EXPECT_EQ(m.m_bones[i].nameUtf8, qev::Cp932ToUtf8(d.bones[i].name));
    EXPECT_EQ((m.m_bones[i].flags & kBoneIk) != 0, d.bones[i].type == 2);
    EXPECT_EQ(m.m_bones[i].parent, d.bones[i].parent);
  }
  ASSERT_EQ(m.m_iks.size(), d.iks.size());
  EXPECT_EQ(m.m_iks[0].goal, d.iks[0].ikBone);
  EXPECT_EQ(m.m_iks[0].loops, d.iks[0].iterations);
  EXPECT_EQ(m.m_iks[0].limitAngle, d.iks[0].weight);
  ASSERT_EQ(m.m_iks[0].links.size(), d.iks[0].chain.size());
  EXPECT_EQ(m.m_iks[0].links[0].bone, d.iks[0].chain[0]);
  EXPECT_EQ(m.m_iks[0].links[0].hasLimits, 0);

  // morph 0 the base, the others indexing its entries
  ASSERT_EQ(m.m_morphs.size(), d.morphs.size());
  EXPECT_EQ(m.m_morphs[0].kind, kMorphPmdBase);
  EXPECT_EQ(m.m_morphs[1].kind, kMorphVertex);
  EXPECT_EQ(m.m_vertexOffsets[m.m_morphs[1].first].vertex, d.morphs[1].vertices[0].vertex);

  EXPECT_EQ(m.m_bodies[0].bone, -1);
  EXPECT_EQ(m.m_bodies[1].bone, d.rigidBodies[1].bone);
  EXPECT_EQ(m.m_bodies[1].rot[0], -d.rigidBodies[1].rot[0]);
  EXPECT_EQ(m.m_joints.size(), d.joints.size());
}

// Every field of the PMX sample, read with each index width and encoding:
// the same description each time.
TEST(ModelDescription, PmxIsMirroredAndNamedAsThePmdReaderWould) {
  struct Variant {
    const char* what;
    uint8_t encoding;
    uint8_t width;
  };
  const Variant variants[] = {
      {"UTF-16, 1-byte indices", 0, 1}, {"UTF-8, 1-byte indices", 1, 1}, {"UTF-16, 2-byte indices", 0, 2},
      {"UTF-8, 4-byte indices", 1, 4},
  };
  for (const Variant& variant : variants) {
    SCOPED_TRACE(variant.what);
    PmxDesc d = qev::fixture::SamplePmx();
    d.encoding = variant.encoding;
    d.vertexIndex = d.textureIndex = d.materialIndex = d.boneIndex = d.morphIndex = d.bodyIndex = variant.width;
    const CModelDescription m = FromPmx(d);
    EXPECT_EQ(m.m_format, kModelPmx);
    EXPECT_EQ(m.m_name, Sjis("試験モデル"));
    EXPECT_EQ(m.m_nameUtf8, "試験モデル");
    EXPECT_EQ(m.m_nAddUv, 2);

    ASSERT_EQ(m.m_vertices.size(), 6u);
    Expect3(m.m_vertices[3].pos, -1, 5, -1);
    Expect3(m.m_vertices[3].normal, 0, 0, 1);
    Expect3(m.m_vertices[3].sdefC, 1, 2, -3);
    Expect3(m.m_vertices[3].sdefR0, 4, 5, -6);
    Expect3(m.m_vertices[3].sdefR1, 7, 8, -9);
    EXPECT_EQ(m.m_vertices[3].skinning, kSkinSdef);
    EXPECT_EQ(m.m_vertices[1].weight[1], 0.25f) << "BDEF2's second weight is 1 minus the first";
    ASSERT_EQ(m.m_addUvs.size(), 6u * 2 * 4);
    EXPECT_EQ(m.m_addUvs[(3 * 2 + 0) * 4 + 0], 3.0f) << "vertex 3, first additional uv, x";
    EXPECT_EQ(m.m_addUvs[(3 * 2 + 1) * 4 + 3], -3.0f) << "vertex 3, second additional uv, w";
    // BDEF4 weights summing to 1.75 are normalised; QDEF's already sum to 1
    const ModelVertex& four = m.m_vertices[2];
    EXPECT_FLOAT_EQ(four.weight[0] + four.weight[1] + four.weight[2] + four.weight[3], 1.0f);
    EXPECT_FLOAT_EQ(four.weight[3], 0.625f / 1.75f);
    EXPECT_EQ(m.m_vertices[4].weight[2], 0.25f);
    EXPECT_EQ(m.m_vertices[1].bone[2], -1);

    // triangles wound back after the mirror, as the PMD reader winds them
    EXPECT_EQ(m.m_indices, (std::vector<uint32_t>{1, 0, 2, 4, 3, 5}));

    ASSERT_EQ(m.m_materials.size(), 2u);
    const ModelMaterial& body = m.m_materials[0];
    EXPECT_EQ(body.texturePath, "tex\\body.png");
    EXPECT_EQ(body.texture, "tex\\body.png");
    EXPECT_EQ(body.spherePath, "sphere.sph");
    EXPECT_EQ(body.sphereMode, 1);
    EXPECT_EQ(body.sharedToon, 1);
    EXPECT_EQ(body.toon, 3);
    const ModelMaterial& cloth = m.m_materials[1];
    EXPECT_EQ(cloth.texturePath, "") << "texture -1: none";
    EXPECT_EQ(cloth.toonPath, "toon_own.bmp");
    EXPECT_EQ(cloth.toon, -1);
    EXPECT_EQ(cloth.flags, 0x11);
    EXPECT_EQ(cloth.edgeSize, 0.5f);
    EXPECT_EQ(cloth.firstIndex, 3u);

    ASSERT_EQ(m.m_bones.size(), 7u);
    EXPECT_EQ(m.m_bones[2].name, Sjis("左ひざ")) << "code page 932 bytes, what motions name it by";
    EXPECT_EQ(m.m_bones[2].nameUtf8, "左ひざ");
    Expect3(m.m_bones[2].head, 1, 5, 0.5f);
    EXPECT_EQ(m.m_bones[0].parent, -1);
    EXPECT_EQ(m.m_bones[0].tailBone, 1);
    EXPECT_EQ(m.m_bones[3].tailBone, -1) << "a tail given as an offset";
    Expect3(m.m_bones[3].tailOffset, 0, 0, 1);
    EXPECT_EQ(m.m_bones[5].grantParent, 0);
    EXPECT_EQ(m.m_bones[5].grantRatio, 0.5f);
    EXPECT_EQ(m.m_bones[5].flags & (kBoneLocalGrant | kBoneGrantRotation | kBoneGrantTranslation),
              kBoneLocalGrant | kBoneGrantRotation | kBoneGrantTranslation);
    Expect3(m.m_bones[5].localX, 1, 1, 0);
    Expect3(m.m_bones[5].localZ, -1, 0, -1);
    EXPECT_EQ(m.m_bones[6].layer, 2);
    EXPECT_NE(m.m_bones[6].flags & kBoneAfterPhysics, 0);
    Expect3(m.m_bones[6].fixedAxis, 1, 0, 0);

    ASSERT_EQ(m.m_iks.size(), 1u);
    const ModelIk& ik = m.m_iks[0];
    EXPECT_EQ(ik.goal, 4);
    EXPECT_EQ(ik.target, 3);
    EXPECT_EQ(ik.loops, 40);
    EXPECT_EQ(ik.limitAngle, 2.0f);
    ASSERT_EQ(ik.links.size(), 2u);
    EXPECT_EQ(ik.links[0].bone, 2);
    EXPECT_EQ(ik.links[0].hasLimits, 1);
    // about x the mirror reverses the turn: [-pi, -0.5 degrees] becomes [0.5 degrees, pi]
    EXPECT_EQ(ik.links[0].lower[0], 0.008727f);
    EXPECT_EQ(ik.links[0].upper[0], 3.14159f);
    EXPECT_EQ(ik.links[1].hasLimits, 0);

    ASSERT_EQ(m.m_morphs.size(), 11u);
    EXPECT_EQ(m.m_morphs[1].name, Sjis("あ"));
    EXPECT_EQ(m.m_morphs[1].kind, kMorphVertex);
    EXPECT_EQ(m.m_morphs[1].count, 2u);
    const ModelVertexOffset& v = m.m_vertexOffsets[m.m_morphs[1].first];
    EXPECT_EQ(v.vertex, 5u);
    Expect3(v.pos, 0.25f, 1.25f, -2.25f);
    const ModelBoneOffset& b = m.m_boneOffsets[m.m_morphs[2].first];
    EXPECT_EQ(b.bone, 5);
    Expect3(b.pos, 1, 2, -3);
    EXPECT_EQ(b.rot[0], -4.0f);
    EXPECT_EQ(b.rot[1], -5.0f);
    EXPECT_EQ(b.rot[2], 6.0f);
    EXPECT_EQ(b.rot[3], 7.0f);
    EXPECT_EQ(m.m_groupOffsets.size(), 3u) << "the group's two and the flip's one";
    EXPECT_EQ(m.m_materialOffsets[0].material, -1);
    EXPECT_EQ(m.m_materialOffsets[0].op, 1);
    const ModelImpulseOffset& impulse = m.m_impulseOffsets[0];
    Expect3(impulse.velocity, 2, 3, -4);
    Expect3(impulse.torque, -5, -6, 7);

    ASSERT_EQ(m.m_bodies.size(), 2u);
    const ModelRigidBody& hips = m.m_bodies[0];
    EXPECT_EQ(hips.name, Sjis("下半身"));
    Expect3(hips.pos, 0, 0, 0);  // model space (0, 8, 0) less its bone's head (0, 8, 0)
    EXPECT_EQ(hips.rot[0], -0.1f);
    EXPECT_EQ(hips.mask, 0xFFFE);
    const ModelRigidBody& skirt = m.m_bodies[1];
    Expect3(skirt.pos, 0, 0, 0.5f);  // (0, 9, 0.5) mirrored, less (0, 9, 0)
    EXPECT_EQ(skirt.mode, 2);
    ASSERT_EQ(m.m_joints.size(), 2u);
    Expect3(m.m_joints[0].pos, 0, 8.5f, 0);
    EXPECT_EQ(m.m_joints[0].rotLower[0], -0.5f) << "limits kept as read, as for PMD";
    EXPECT_EQ(m.m_joints[0].rotSpring[2], 10.0f);
    EXPECT_EQ(m.m_joints[1].kind, 1);
  }
}

TEST(ModelDescription, PmxIndicesThatPointNowhereBecomeNone) {
  PmxDesc d = qev::fixture::SamplePmx();
  d.materials[0].texture = 9;   // past the three textures
  d.materials[0].sphere = -1;
  d.materials[1].toon = 3;      // own toon past the table
  d.bones[1].tailBone = 40;     // past the bones
  d.bones[2].tailBone = -1;
  d.rigidBodies[0].bone = -1;   // a body on no bone stays where the file puts it
  d.rigidBodies[0].pos[2] = 2.0f;
  d.joints[1].kind = 3;
  qev::test::LogCapture log;
  const CModelDescription m = FromPmx(d);
  EXPECT_EQ(m.m_materials[0].texturePath, "");
  EXPECT_EQ(m.m_materials[0].texture, "");
  EXPECT_EQ(m.m_materials[0].spherePath, "");
  EXPECT_EQ(m.m_materials[0].sphereMode, 0) << "no sphere, no sphere mode";
  EXPECT_EQ(m.m_materials[1].toonPath, "");
  EXPECT_EQ(m.m_bones[1].tailBone, -1);
  EXPECT_EQ(m.m_bones[2].tailBone, -1);
  EXPECT_EQ(m.m_bodies[0].bone, -1);
  Expect3(m.m_bodies[0].pos, 0, 8, -2);
  EXPECT_TRUE(log.Contains("PMX : material [0] colour texture 9 is not in the texture list; none\n")) << log.Text();
  EXPECT_TRUE(log.Contains("PMX : material [1] toon texture 3 is not in the texture list; none\n")) << log.Text();
  EXPECT_TRUE(log.Contains("PMX : joint [1] " + Sjis("ばね") + " of kind 3 is made a 6-DOF spring\n")) << log.Text();
}

// The sample character and its PMX twin describe one model: everything the
// scene reads agrees, exactly where both files hold the same numbers.
TEST(ModelDescription, PmxTwinDescribesThePmdModel) {
  const qev::fixture::PmdDesc pmdDesc = qev::fixture::SampleCharacter();
  const CModelDescription pmd = FromPmd(pmdDesc);
  const CModelDescription pmx = FromPmx(qev::fixture::PmxTwin(pmdDesc));
  ASSERT_EQ(pmx.m_vertices.size(), pmd.m_vertices.size());
  for (size_t i = 0; i < pmd.m_vertices.size(); ++i) {
    const ModelVertex &a = pmd.m_vertices[i], &b = pmx.m_vertices[i];
    SCOPED_TRACE(i);
    for (int k = 0; k < 3; ++k) {
      ASSERT_EQ(a.pos[k], b.pos[k]);
      ASSERT_EQ(a.normal[k], b.normal[k]);
    }
    ASSERT_EQ(a.skinning, b.skinning);
    ASSERT_EQ(a.bone[0], b.bone[0]);
    ASSERT_EQ(a.weight[0], b.weight[0]);
    if (a.skinning == kSkinBdef2) {
      ASSERT_NEAR(a.weight[1], b.weight[1], 1e-7f);
    }
  }
  EXPECT_EQ(pmx.m_indices, pmd.m_indices);
  ASSERT_EQ(pmx.m_materials.size(), pmd.m_materials.size());
  for (size_t i = 0; i < pmd.m_materials.size(); ++i) {
    EXPECT_EQ(pmx.m_materials[i].texturePath, pmd.m_materials[i].texturePath) << i;
    EXPECT_EQ(pmx.m_materials[i].firstIndex, pmd.m_materials[i].firstIndex) << i;
    EXPECT_EQ(pmx.m_materials[i].diffuse[1], pmd.m_materials[i].diffuse[1]) << i;
  }
  ASSERT_EQ(pmx.m_bones.size(), pmd.m_bones.size());
  for (size_t i = 0; i < pmd.m_bones.size(); ++i) {
    const ModelBone &a = pmd.m_bones[i], &b = pmx.m_bones[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.parent, b.parent);
    EXPECT_EQ(a.tailBone, b.tailBone);
    EXPECT_EQ(a.flags & kBoneIk, b.flags & kBoneIk);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(a.head[k], b.head[k]);
  }
  // PMX lists its IK by bone, PMD in its own order: matched by goal
  ASSERT_EQ(pmx.m_iks.size(), pmd.m_iks.size());
  for (const ModelIk& a : pmd.m_iks) {
    SCOPED_TRACE(a.goal);
    const ModelIk* b = nullptr;
    for (const ModelIk& ik : pmx.m_iks)
      if (ik.goal == a.goal) b = &ik;
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->target, a.target);
    EXPECT_EQ(b->loops, a.loops);
    EXPECT_EQ(b->limitAngle, a.limitAngle);
    ASSERT_EQ(b->links.size(), a.links.size());
    for (size_t j = 0; j < a.links.size(); ++j) EXPECT_EQ(b->links[j].bone, a.links[j].bone);
  }
  ASSERT_EQ(pmx.m_morphs.size() + 1, pmd.m_morphs.size()) << "all but the PMD base";
  for (size_t i = 0; i < pmx.m_morphs.size(); ++i) {
    const ModelMorph &a = pmd.m_morphs[i + 1], &b = pmx.m_morphs[i];
    EXPECT_EQ(a.name, b.name);
    ASSERT_EQ(a.count, b.count);
    const ModelVertexOffset* base = &pmd.m_vertexOffsets[pmd.m_morphs[0].first];
    for (uint32_t j = 0; j < a.count; ++j) {
      const ModelVertexOffset &x = pmd.m_vertexOffsets[a.first + j], &y = pmx.m_vertexOffsets[b.first + j];
      EXPECT_EQ(base[x.vertex].vertex, y.vertex);
      for (int k = 0; k < 3; ++k) EXPECT_EQ(x.pos[k], y.pos[k]);
    }
  }
  ASSERT_EQ(pmx.m_bodies.size(), pmd.m_bodies.size());
  for (size_t n = 0; n < pmd.m_bodies.size(); ++n) {
    const ModelRigidBody &a = pmd.m_bodies[n], &b = pmx.m_bodies[n];
    SCOPED_TRACE(n);
    EXPECT_EQ(a.bone, b.bone);
    for (int k = 0; k < 3; ++k) {
      EXPECT_NEAR(a.pos[k], b.pos[k], 1e-5f) << "through model space and back";
      EXPECT_EQ(a.rot[k], b.rot[k]);
    }
    EXPECT_EQ(a.mode, b.mode);
  }
  ASSERT_EQ(pmx.m_joints.size(), pmd.m_joints.size());
  for (size_t k = 0; k < pmd.m_joints.size(); ++k)
    for (int a = 0; a < 3; ++a) {
      EXPECT_EQ(pmx.m_joints[k].pos[a], pmd.m_joints[k].pos[a]);
      EXPECT_EQ(pmx.m_joints[k].rot[a], pmd.m_joints[k].rot[a]);
    }
}

// Load picks the reader by the file's mark, or by its extension when the
// mark is wrong; a refused file leaves the description empty.
TEST(ModelDescription, LoadPicksTheReader) {
  qev::test::TempDir dir;
  dir.WriteFile("m.pmd", BuildPmd(qev::fixture::SamplePmd()));
  dir.WriteFile("pmx-named.pmd", BuildPmx(qev::fixture::SamplePmx()));
  dir.WriteFile("pmd-named.PMX", BuildPmd(qev::fixture::SamplePmd()));
  dir.WriteFile("cut.pmx", BuildPmx(qev::fixture::SamplePmx()).substr(0, 300));
  struct Case {
    const char* file;
    int loaded;
    ModelFormat format;
    const char* log;
  };
  const Case cases[] = {
      {"m.pmd", 1, kModelPmd, ""},
      {"pmx-named.pmd", 1, kModelPmx, ""},
      {"pmd-named.PMX", 0, kModelNone, "PMX error : no \"PMX \" mark at the start of the file\n"},
      {"cut.pmx", 0, kModelNone, "cut short"},
      {"missing.pmx", 0, kModelNone, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    CModelDescription m = FromPmd(qev::fixture::SamplePmd());  // something to lose
    qev::test::LogCapture log;
    EXPECT_EQ(m.Load(dir.Path(c.file).c_str()), c.loaded);
    EXPECT_EQ(m.m_format, c.format);
    if (!c.loaded) {
      EXPECT_TRUE(m.m_vertices.empty() && m.m_bones.empty());
    }
    EXPECT_TRUE(log.Contains(c.log)) << log.Text();
  }
}

}  // namespace
