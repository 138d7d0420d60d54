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
#include "tests/export/x_test_util.h"
#include "tools/fixtures/sample_character.h"

namespace {

using qev::fixture::PmdDesc;

// Six decimals were written: what comes back is within half a unit of the last.
void ExpectNear(const aiVector3D& got, const aiVector3D& wrote) {
  EXPECT_NEAR(got.x, wrote.x, 6e-7f * std::max(1.0f, std::fabs(wrote.x)));
  EXPECT_NEAR(got.y, wrote.y, 6e-7f * std::max(1.0f, std::fabs(wrote.y)));
  EXPECT_NEAR(got.z, wrote.z, 6e-7f * std::max(1.0f, std::fabs(wrote.z)));
}

// Every corner of every face carries our vertex. The reader turns what it
// reads into its own conventions: z negated, every face's corners in
// reverse order, texture rows counted from the bottom; its meshes follow
// the material order, one per material that draws.
void ExpectSameMesh(const aiScene* scene, const CPmdFile& model) {
  unsigned face = 0;
  for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
    const aiMesh* mesh = scene->mMeshes[m];
    ASSERT_TRUE(mesh->HasNormals());
    ASSERT_TRUE(mesh->HasTextureCoords(0));
    for (unsigned f = 0; f < mesh->mNumFaces; ++f, ++face) {
      ASSERT_EQ(mesh->mFaces[f].mNumIndices, 3u);
      ASSERT_LT(face, unsigned(model.m_nIndex / 3));
      for (unsigned k = 0; k < 3; ++k) {
        const unsigned corner = mesh->mFaces[f].mIndices[k];
        const PmdVertex& v = model.m_pVertex[model.m_pIndex[3 * face + 2 - k]];
        SCOPED_TRACE(testing::Message() << "face " << face << " corner " << k);
        ExpectNear(mesh->mVertices[corner], aiVector3D(v.pos[0], v.pos[1], -v.pos[2]));
        ExpectNear(mesh->mNormals[corner], aiVector3D(v.normal[0], v.normal[1], -v.normal[2]));
        ExpectNear(mesh->mTextureCoords[0][corner], aiVector3D(v.uv[0], 1.0f - v.uv[1], 0));
      }
    }
  }
  EXPECT_EQ(face, unsigned(model.m_nIndex / 3));
  EXPECT_EQ(scene->mNumMaterials, unsigned(model.m_nMaterial));
}

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
