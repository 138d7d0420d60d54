// The skinned X files of the scene opened by an independent reader (the
// Open Asset Import Library): mesh, bones, weights and animation keys come
// back as we wrote them.
#include <assimp/Importer.hpp>
#include <assimp/scene.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "app/scene.h"
#include "app/x_export.h"
#include "platform/codepage.h"
#include "tests/common/temp_dir.h"
#include "tests/export/assimp_check.h"
#include "tests/export/x_test_util.h"
#include "tools/fixtures/pmx_fixture.h"
#include "tools/fixtures/sample_character.h"

namespace {

using qev::test::ExpectNear;
using qev::test::ExpectSameMesh;

// A name as the writers name frames: "_" and each byte in hex.
std::string Encoded(const std::string& name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = "_";
  for (unsigned char c : name) {
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out;
}

// Per SkinWeights block of our text: its name and vertex indices.
std::map<std::string, std::vector<int>> WrittenWeights(const std::string& text) {
  std::map<std::string, std::vector<int>> out;
  const std::string head = "  SkinWeights {\r\n   \"";
  for (size_t at = text.find(head); at != std::string::npos; at = text.find(head, at + 1)) {
    const size_t name = at + head.size();
    std::vector<int>& list = out[text.substr(name, text.find('"', name) - name)];
    const char* p = text.c_str() + text.find('\n', name) + 1;
    const int n = std::atoi(p);
    for (int i = 0; i < n; ++i) {
      p = std::strchr(p, '\n') + 1;
      list.push_back(std::atoi(p));
    }
  }
  return out;
}

const aiNode* FindNode(const aiNode* node, const std::string& name) {
  if (name == node->mName.C_Str()) return node;
  for (unsigned i = 0; i < node->mNumChildren; ++i)
    if (const aiNode* found = FindNode(node->mChildren[i], name)) return found;
  return nullptr;
}

// The sample character (or its PMX twin) in the scene, skinned, with or
// without its walk.
void ExpectSkinnedSampleReadsBack(bool walk, const char* model = "sample.pmd") {
  qev::test::TempDir dir;
  std::string error;
  ASSERT_EQ(qev::fixture::WriteSampleCharacter(dir.Path(), &error), 1) << error;
  CScene scene;
  ASSERT_EQ(scene.LoadModel(dir.Path(model).c_str(), nullptr, &error), 1) << error;
  if (walk) {
    ASSERT_EQ(scene.LoadMotion(dir.Path("walk.vmd").c_str(), &error), 1) << error;
  }
  ASSERT_EQ(ExportXSkin(scene, dir.Path("s.x").c_str(), nullptr, &error), 1) << error;
  const std::string text = dir.ReadFile("s.x");

  Assimp::Importer importer;
  const aiScene* read = importer.ReadFile(dir.Path("s.x"), 0);
  ASSERT_NE(read, nullptr) << importer.GetErrorString();
  ExpectSameMesh(read, scene.m_model);

  // Every bone with weights comes back with one weight per face corner of
  // each of its vertices (the reader gives every corner its own vertex).
  const auto written = WrittenWeights(text);
  const auto keys = qev::test::ReadKeys(text);
  size_t records = 0, weighted = 0;
  std::map<std::string, unsigned> expected, got;
  for (const auto& [name, vertices] : written) {
    ++records;
    if (vertices.empty()) continue;
    ++weighted;
    std::vector<int> uses(scene.m_model.m_vertices.size(), 0);
    for (uint32_t index : scene.m_model.m_indices) ++uses[index];
    for (int v : vertices) expected[name] += unsigned(uses[size_t(v)]);
    EXPECT_NE(FindNode(read->mRootNode, name), nullptr) << name;
  }
  for (unsigned m = 0; m < read->mNumMeshes; ++m)
    for (unsigned b = 0; b < read->mMeshes[m]->mNumBones; ++b)
      got[read->mMeshes[m]->mBones[b]->mName.C_Str()] += read->mMeshes[m]->mBones[b]->mNumWeights;
  EXPECT_EQ(got, expected);
  EXPECT_GE(weighted, 10u);

  if (!walk) {
    EXPECT_EQ(read->mNumAnimations, 0u);
    return;
  }
  ASSERT_EQ(read->mNumAnimations, 1u);
  const aiAnimation* anim = read->mAnimations[0];
  EXPECT_EQ(anim->mTicksPerSecond, 4800.0);
  EXPECT_EQ(anim->mNumChannels, records);
  const unsigned frames = unsigned(scene.m_motion->m_nMaxFrame);
  for (unsigned c = 0; c < anim->mNumChannels; ++c) {
    const aiNodeAnim* channel = anim->mChannels[c];
    SCOPED_TRACE(channel->mNodeName.C_Str());
    EXPECT_EQ(written.count(channel->mNodeName.C_Str()), 1u);
    ASSERT_EQ(channel->mNumPositionKeys, frames);
    ASSERT_EQ(channel->mNumRotationKeys, frames);
    EXPECT_EQ(channel->mPositionKeys[1].mTime, 640.0);
    EXPECT_EQ(channel->mPositionKeys[frames - 1].mTime, 640.0 * (frames - 1));
    // each key's translation is the fourth row of the matrix we wrote, in
    // the reader's space (z negated)
    const auto& ours = keys.at(channel->mNodeName.C_Str());
    for (unsigned k = 0; k < frames; k += 7) {
      const D3DXMATRIX& m = ours[k];
      ExpectNear(channel->mPositionKeys[k].mValue, aiVector3D(m._41, m._42, -m._43));
    }
  }
}

TEST(XAssimp, SkinnedSampleCharacterStanding) { ExpectSkinnedSampleReadsBack(false); }
TEST(XAssimp, SkinnedSampleCharacterWalking) { ExpectSkinnedSampleReadsBack(true); }
TEST(XAssimp, SkinnedPmxTwinWalking) { ExpectSkinnedSampleReadsBack(true, "sample.pmx"); }

// The PMX sample's every weight kind: a four-bone vertex is listed under
// each of its bones, and the mesh reads back as drawn.
TEST(XAssimp, SkinnedPmxOfEveryWeightKind) {
  qev::test::TempDir dir;
  dir.WriteFile("m.pmx", qev::fixture::BuildPmx(qev::fixture::SamplePmx()));
  CScene scene;
  std::string error;
  ASSERT_EQ(scene.LoadModel(dir.Path("m.pmx").c_str(), nullptr, &error), 1) << error;
  ASSERT_EQ(ExportXSkin(scene, dir.Path("s.x").c_str(), nullptr, &error), 1) << error;
  ASSERT_EQ(ExportXMesh(scene, dir.Path("m.x").c_str(), &error), 1) << error;
  for (const char* file : {"s.x", "m.x"}) {
    SCOPED_TRACE(file);
    Assimp::Importer importer;
    const aiScene* read = importer.ReadFile(dir.Path(file), 0);
    ASSERT_NE(read, nullptr) << importer.GetErrorString();
    ExpectSameMesh(read, scene.m_model);
  }
  // vertex 2 (BDEF4 on bones 0-3) under all four, vertex 4 (QDEF) too
  const auto written = WrittenWeights(dir.ReadFile("s.x"));
  for (const char* bone : {"センター", "左足", "左ひざ", "左足首"}) {
    const auto found = written.find(Encoded(qev::Sjis(bone)));
    ASSERT_NE(found, written.end()) << bone;
    EXPECT_NE(std::find(found->second.begin(), found->second.end(), 2), found->second.end()) << bone;
    EXPECT_NE(std::find(found->second.begin(), found->second.end(), 4), found->second.end()) << bone;
  }
}

}  // namespace
