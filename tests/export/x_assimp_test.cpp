// Our X files opened by an independent reader (the Open Asset Import
// Library): the counts and values it finds are the ones we wrote.
#include <assimp/Importer.hpp>
#include <assimp/scene.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "export/x_mesh_writer.h"
#include "export/x_shared.h"
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
    CPmdFile model;
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
              qev::xfile::TextureName(model.m_pMaterial[0].texture, sizeof(model.m_pMaterial[0].texture)));
  }
}

}  // namespace
