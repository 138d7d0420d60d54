// What the tests that open our X files with an independent reader (the Open
// Asset Import Library) check alike: the mesh it finds is the model's.
#pragma once
#include <assimp/scene.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "model/model_description.h"

namespace qev::test {

// Six decimals were written: what comes back is within half a unit of the last.
inline void ExpectNear(const aiVector3D& got, const aiVector3D& wrote) {
  EXPECT_NEAR(got.x, wrote.x, 6e-7f * std::max(1.0f, std::fabs(wrote.x)));
  EXPECT_NEAR(got.y, wrote.y, 6e-7f * std::max(1.0f, std::fabs(wrote.y)));
  EXPECT_NEAR(got.z, wrote.z, 6e-7f * std::max(1.0f, std::fabs(wrote.z)));
}

// Every corner of every face carries our vertex. The reader turns what it
// reads into its own conventions: z negated, every face's corners in
// reverse order, texture rows counted from the bottom; its meshes follow
// the material order, one per material that draws. faces: where each face
// the file should hold starts in the model's index list, in file order;
// materials: how many materials it should hold.
inline void ExpectSameMesh(const aiScene* scene, const CModelDescription& model, const std::vector<uint32_t>& faces,
                           unsigned materials) {
  unsigned face = 0;
  for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
    const aiMesh* mesh = scene->mMeshes[m];
    ASSERT_TRUE(mesh->HasNormals());
    ASSERT_TRUE(mesh->HasTextureCoords(0));
    for (unsigned f = 0; f < mesh->mNumFaces; ++f, ++face) {
      ASSERT_EQ(mesh->mFaces[f].mNumIndices, 3u);
      ASSERT_LT(face, faces.size());
      for (unsigned k = 0; k < 3; ++k) {
        const unsigned corner = mesh->mFaces[f].mIndices[k];
        const ModelVertex& v = model.m_vertices[model.m_indices[faces[face] + 2 - k]];
        SCOPED_TRACE(testing::Message() << "face " << face << " corner " << k);
        ExpectNear(mesh->mVertices[corner], aiVector3D(v.pos[0], v.pos[1], -v.pos[2]));
        ExpectNear(mesh->mNormals[corner], aiVector3D(v.normal[0], v.normal[1], -v.normal[2]));
        ExpectNear(mesh->mTextureCoords[0][corner], aiVector3D(v.uv[0], 1.0f - v.uv[1], 0));
      }
    }
  }
  EXPECT_EQ(face, faces.size());
  EXPECT_EQ(scene->mNumMaterials, materials);
}

// A model whose materials draw every triangle of its index list in order.
inline void ExpectSameMesh(const aiScene* scene, const CModelDescription& model) {
  std::vector<uint32_t> faces;
  for (size_t f = 0; f < model.m_indices.size() / 3; ++f) faces.push_back(uint32_t(3 * f));
  ExpectSameMesh(scene, model, faces, unsigned(model.m_materials.size()));
}

}  // namespace qev::test
