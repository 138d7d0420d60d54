// Our X files opened by an independent reader (the Open Asset Import
// Library): the counts and values it finds are the ones we wrote.
#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "export/x_mesh_writer.h"
#include "export/x_shared.h"
#include "export/x_skin_writer.h"
#include "model/pmd_bone.h"
#include "tests/common/temp_dir.h"
#include "tests/export/assimp_check.h"
#include "tests/export/x_test_util.h"
#include "tools/fixtures/sample_character.h"

namespace {

using qev::fixture::PmdDesc;
using qev::test::ExpectNear;
using qev::test::ExpectSameMesh;

TEST(XAssimp, PlainMeshOfFixtureModels) {
  const std::pair<const char*, PmdDesc> models[] = {
      {"fixture model", qev::fixture::SamplePmd()},
      {"sample character", qev::fixture::SampleCharacter()},
      {"one triangle", qev::test::OneTriangle()},
  };
  for (const auto& [what, desc] : models) {
    SCOPED_TRACE(what);
    CModelDescription model;
    ASSERT_TRUE(qev::test::LoadModel(model, desc));
    qev::test::TempDir dir;
    ASSERT_EQ(qev::xfile::WriteXMesh(model, dir.Path("m.x").c_str(), nullptr), 1);
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(dir.Path("m.x"), 0);
    ASSERT_NE(scene, nullptr) << importer.GetErrorString();
    EXPECT_EQ(scene->mNumAnimations, 0u);
    for (unsigned m = 0; m < scene->mNumMeshes; ++m) EXPECT_EQ(scene->mMeshes[m]->mNumBones, 0u);
    ExpectSameMesh(scene, model);
    // the texture name before the "*"
    aiString texture;
    ASSERT_EQ(scene->mMaterials[0]->GetTexture(aiTextureType_DIFFUSE, 0, &texture), aiReturn_SUCCESS);
    EXPECT_EQ(std::string(texture.C_Str()),
              qev::xfile::TextureName(model.m_materials[0].texture.c_str(), model.m_materials[0].texture.size()));
  }
}

// The two writers' files of a model: the plain mesh, and the skinned model
// (its bones as scene assembly hangs them) with the given bake.
struct BothFiles {
  qev::test::TempDir dir;
  CModelDescription model;
  CPmdBone root;
  explicit BothFiles(const PmdDesc& desc, const qev::xfile::XBake* bake = nullptr) {
    EXPECT_TRUE(qev::test::LoadModel(model, desc));
    for (uint32_t i = 0; i < uint32_t(model.BoneCount()); ++i) {
      const int parent = model.m_bones[i].parent;
      CPmdBone* node = parent < 0 ? &root : root.FindByIndex(parent);
      if (node) node->AddChild(int(i), model);
    }
    std::string failure;
    EXPECT_EQ(qev::xfile::WriteXMesh(model, dir.Path("plain.x").c_str(), &failure), 1) << failure;
    EXPECT_EQ(qev::xfile::WriteXSkin(model, root, bake, dir.Path("skin.x").c_str(), &failure), 1) << failure;
  }
};

// Read as strictly as the reader reads: every count checked against the
// lists it counts, every animation channel must have keys.
constexpr unsigned kValidate = aiProcess_ValidateDataStructure;

TEST(XAssimp, FacesNoMaterialDrawsAreLeftOutAndNoMaterialsGetOne) {
  struct Case {
    const char* what;
    std::vector<uint32_t> indexCounts;  // per material
    std::vector<uint32_t> faces;        // where each face read should start in the index list
    unsigned materials;
  };
  const Case cases[] = {
      {"no materials", {}, {0, 3}, 1},
      {"a material over the first triangle only", {3}, {0}, 1},
      {"the second triangle after materials of none", {1, 2, 3}, {3}, 3},
      {"a triangle across the two, as the viewer draws it", {1, 3}, {1}, 2},
      {"a material that draws nothing", {2}, {}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PmdDesc desc = qev::test::TwoTriangles();
    const auto material = desc.materials[0];
    desc.materials.clear();
    for (uint32_t n : c.indexCounts) {
      desc.materials.push_back(material);
      desc.materials.back().indexCount = n;
    }
    BothFiles files(desc);
    for (const char* name : {"plain.x", "skin.x"}) {
      SCOPED_TRACE(name);
      Assimp::Importer importer;
      // a file of no faces holds no mesh, which validation takes for an error
      const aiScene* scene = importer.ReadFile(files.dir.Path(name), c.faces.empty() ? 0 : kValidate);
      ASSERT_NE(scene, nullptr) << importer.GetErrorString();
      ExpectSameMesh(scene, files.model, c.faces, c.materials);
    }
  }
}

TEST(XAssimp, MotionOfHighestFrameZeroGivesOneKeyAtTimeZero) {
  qev::xfile::XBake bake;
  bake.frames = 0;
  CPmdBone* moved = nullptr;
  bake.ready = [&moved](int32_t) {
    D3DXMatrixTranslation(&moved->m_mAnim, 0.25f, 0.5f, 0.75f);
    return 1;
  };
  PmdDesc desc = qev::test::TwoTriangles();
  desc.bones = {{"A", -1, 0, 0, 0, {1, 2, 3}, ""}, {"B", 0, 0, 0, 0, {1, 3, 3}, ""}};
  qev::test::TempDir dir;
  CModelDescription model;
  ASSERT_TRUE(qev::test::LoadModel(model, desc));
  CPmdBone root;
  root.AddChild(0, model);
  root.FindByIndex(0)->AddChild(1, model);
  moved = root.FindByIndex(0);
  std::string failure;
  ASSERT_EQ(qev::xfile::WriteXSkin(model, root, &bake, dir.Path("skin.x").c_str(), &failure), 1) << failure;

  Assimp::Importer importer;
  const aiScene* scene = importer.ReadFile(dir.Path("skin.x"), kValidate);
  ASSERT_NE(scene, nullptr) << importer.GetErrorString();
  ExpectSameMesh(scene, model);
  ASSERT_EQ(scene->mNumAnimations, 1u);
  const aiAnimation* anim = scene->mAnimations[0];
  ASSERT_EQ(anim->mNumChannels, 2u);
  for (unsigned c = 0; c < anim->mNumChannels; ++c) {
    const aiNodeAnim* channel = anim->mChannels[c];
    SCOPED_TRACE(channel->mNodeName.C_Str());
    ASSERT_EQ(channel->mNumPositionKeys, 1u);
    ASSERT_EQ(channel->mNumRotationKeys, 1u);
    EXPECT_EQ(channel->mPositionKeys[0].mTime, 0.0);
    // A: its head moved by the pose of frame 0; B: its offset from A, unposed
    // (the reader's z is ours negated)
    const bool isA = std::string(channel->mNodeName.C_Str()) == "_41";
    ExpectNear(channel->mPositionKeys[0].mValue, isA ? aiVector3D(1.25f, 2.5f, 2.25f) : aiVector3D(0, 1, 0));
  }
}

}  // namespace
