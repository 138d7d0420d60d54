// Our X files opened by an independent reader (the Open Asset Import
// Library): the counts and values it finds are the ones we wrote.
#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <gtest/gtest.h>

#include <string>

#include "export/x_mesh_writer.h"
#include "tests/common/temp_dir.h"
#include "tests/export/x_test_util.h"

namespace {

using qev::fixture::PmdDesc;

struct Totals {
  unsigned faces = 0;
  unsigned vertices = 0;
  unsigned bones = 0;
};

Totals Count(const aiScene* scene) {
  Totals t;
  for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
    t.faces += scene->mMeshes[m]->mNumFaces;
    t.vertices += scene->mMeshes[m]->mNumVertices;
    t.bones += scene->mMeshes[m]->mNumBones;
  }
  return t;
}

// Six decimals were written: what comes back is within half a unit of the last.
void ExpectNear(const aiVector3D& got, const aiVector3D& wrote) {
  EXPECT_NEAR(got.x, wrote.x, 6e-7f);
  EXPECT_NEAR(got.y, wrote.y, 6e-7f);
  EXPECT_NEAR(got.z, wrote.z, 6e-7f);
}

TEST(XAssimp, PlainMeshOfTheSampleModel) {
  CPmdFile model;
  ASSERT_TRUE(qev::test::LoadModel(model, qev::fixture::SamplePmd()));
  qev::test::TempDir dir;
  ASSERT_EQ(qev::xfile::WriteXMesh(model, dir.Path("m.x").c_str(), nullptr), 1);
  Assimp::Importer importer;
  const aiScene* scene = importer.ReadFile(dir.Path("m.x"), 0);
  ASSERT_NE(scene, nullptr) << importer.GetErrorString();
  const Totals t = Count(scene);
  EXPECT_EQ(t.faces, unsigned(model.m_nIndex / 3));
  EXPECT_EQ(scene->mNumMaterials, unsigned(model.m_nMaterial));
  EXPECT_EQ(t.bones, 0u);
  EXPECT_EQ(scene->mNumAnimations, 0u);
  // Every corner of every face carries our vertex. The reader turns what it
  // reads into its own right-handed space: z negated and every face's
  // corners in reverse order; the meshes follow the material order.
  unsigned face = 0;
  for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
    const aiMesh* mesh = scene->mMeshes[m];
    ASSERT_TRUE(mesh->HasNormals());
    ASSERT_TRUE(mesh->HasTextureCoords(0));
    for (unsigned f = 0; f < mesh->mNumFaces; ++f, ++face) {
      ASSERT_EQ(mesh->mFaces[f].mNumIndices, 3u);
      for (unsigned k = 0; k < 3; ++k) {
        const unsigned corner = mesh->mFaces[f].mIndices[k];
        const PmdVertex& v = model.m_pVertex[model.m_pIndex[3 * face + 2 - k]];
        SCOPED_TRACE(testing::Message() << "face " << face << " corner " << k);
        ExpectNear(mesh->mVertices[corner], aiVector3D(v.pos[0], v.pos[1], -v.pos[2]));
        ExpectNear(mesh->mNormals[corner], aiVector3D(v.normal[0], v.normal[1], -v.normal[2]));
        // texture rows counted from the bottom
        ExpectNear(mesh->mTextureCoords[0][corner], aiVector3D(v.uv[0], 1.0f - v.uv[1], 0));
      }
    }
  }
}

}  // namespace
