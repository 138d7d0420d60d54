// The glTF exports of the scene, checked by independent consumers: the
// Khronos validator passes every file, the Open Asset Import Library reads
// our counts, the joints stand where the viewer's bones stand frame by
// frame, the morph weights are the viewer's, the pictures are the decoded
// textures, and a refused or failed export leaves nothing.
#include <assimp/Importer.hpp>
#include <assimp/scene.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/gltf_export.h"
#include "app/scene.h"
#include "platform/codepage.h"
#include "platform/picture_decoder.h"
#include "platform/picture_encoder.h"
#include "tests/common/temp_dir.h"
#include "tests/export/gltf_check.h"
#include "tools/fixtures/picture_fixtures.h"
#include "tools/fixtures/pmd_fixture.h"
#include "tools/fixtures/pmx_fixture.h"
#include "tools/fixtures/sample_character.h"
#include "tools/fixtures/vmd_fixture.h"

namespace {

using qev::Sjis;
using qev::fixture::PmdDesc;
using qev::fixture::VmdDesc;
using qev::test::TempDir;

qev::test::CommandRun Qevtool(const TempDir& dir, const std::string& args) {
  return qev::test::RunIn(dir, "'" QEV_BINARY_DIR "/qevtool' " + args);
}

// Three bones listed child first: "tip" hangs below "mid", which hangs
// below "root", listed last; a quad on them and one material.
PmdDesc ChildFirstPmd() {
  PmdDesc d;
  d.name = "order";
  const auto bone = [&](const char* name, int16_t parent, float y) {
    qev::fixture::PmdBoneDesc b;
    b.name = name;
    b.parent = parent;
    b.head[1] = y;
    d.bones.push_back(b);
  };
  bone("tip", 1, 4);
  bone("mid", 2, 2);
  bone("root", -1, 0);
  for (int i = 0; i < 4; ++i) {
    qev::fixture::PmdVertexDesc v;
    v.pos[0] = float(i % 2);
    v.pos[1] = float(i / 2) * 4;
    v.normal[2] = -1;
    v.normal[1] = 0;
    v.bone[0] = uint16_t(i < 2 ? 2 : 0);
    v.bone[1] = 1;
    v.weight = uint8_t(i % 2 ? 100 : 60);
    d.vertices.push_back(v);
  }
  d.indices = {0, 1, 2, 2, 1, 3};
  qev::fixture::PmdMaterialDesc m;
  m.indexCount = 6;
  d.materials = {m};
  return d;
}

// A motion whose every key is at frame 0.
VmdDesc StillVmd() {
  VmdDesc d;
  qev::fixture::VmdBoneKeyDesc k;
  k.name = Sjis("センター");
  k.pos[1] = 2;
  d.bones = {k};
  d.morphs = {{Sjis("笑い"), 0, 0.5f}};
  return d;
}

// The triangles a model draws: those of its materials, or all of them.
size_t DrawnTriangles(const PmdDesc& d) {
  if (d.materials.empty()) return d.indices.size() / 3;
  size_t n = 0;
  for (const auto& m : d.materials) n += m.indexCount / 3;
  return n;
}

struct Export {
  TempDir dir;
  CScene scene;
  std::string failure;
  // Loads the model (and motion) files of the folder and exports them.
  int Run(const std::string& model, const std::string& motion, const std::string& out, bool physics = true,
          int64_t maxFrames = qev::bake::kDefaultMaxFrames) {
    EXPECT_EQ(scene.LoadModel(dir.Path(model).c_str(), nullptr, &failure), 1) << failure;
    if (!physics) scene.m_physics.Clear();
    if (!motion.empty()) {
      EXPECT_EQ(scene.LoadMotion(dir.Path(motion).c_str(), &failure), 1) << failure;
    }
    return ExportGltf(scene, dir.Path(model), dir.Path(out).c_str(), !motion.empty(), nullptr, &failure, maxFrames);
  }
};

TEST(GltfExport, EveryKindOfModelPassesTheValidatorAndReadsBackWithOurCounts) {
  struct Case {
    const char* what;
    std::function<PmdDesc()> model;
    const VmdDesc* motion;
    const char* out;
    int32_t frames;  // baked frames; 0 without a motion
  };
  const VmdDesc sampleVmd = qev::fixture::SampleVmd(), still = StillVmd();
  const Case cases[] = {
      {"the small model", qev::fixture::SamplePmd, nullptr, "m.glb", 0},
      {"as .gltf", qev::fixture::SamplePmd, nullptr, "m.gltf", 0},
      {"a motion with morphs", qev::fixture::SamplePmd, &sampleVmd, "m.glb", 40},
      {"a motion with morphs, .gltf", qev::fixture::SamplePmd, &sampleVmd, "m.gltf", 40},
      {"a motion whose highest frame is 0", qev::fixture::SamplePmd, &still, "m.glb", 1},
      {"no materials",
       [] {
         PmdDesc d = qev::fixture::SamplePmd();
         d.materials.clear();
         return d;
       },
       &sampleVmd, "m.glb", 40},
      {"no bones, no vertices",
       [] {
         PmdDesc d;
         d.name = "empty";
         return d;
       },
       &sampleVmd, "m.glb", 40},
      {"bones listed before their parents", ChildFirstPmd, nullptr, "m.glb", 0},
      {"a texture that is missing",
       [] {
         PmdDesc d = qev::fixture::SamplePmd();
         d.materials[0].texture = "missing.bmp";
         return d;
       },
       nullptr, "m.gltf", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Export e;
    const PmdDesc desc = c.model();
    e.dir.WriteFile("m.pmd", qev::fixture::BuildPmd(desc));
    e.dir.WriteFile("skin.bmp", qev::fixture::SampleTexture());
    if (c.motion) e.dir.WriteFile("m.vmd", qev::fixture::BuildVmd(*c.motion));
    ASSERT_EQ(e.Run("m.pmd", c.motion ? "m.vmd" : "", c.out), 1) << e.failure;
    EXPECT_GLTF_VALID(e.dir.Path(c.out));

    Assimp::Importer importer;
    const aiScene* read = importer.ReadFile(e.dir.Path(c.out), 0);
    ASSERT_NE(read, nullptr) << importer.GetErrorString();
    // one mesh per material that draws (or one for a model without), a
    // triangle per three indices drawn, every bone of the skeleton a bone
    const size_t joints = size_t(std::count_if(e.scene.m_nodes.begin(), e.scene.m_nodes.end(), [](auto* n) { return n; }));
    size_t meshes = 0;
    for (const auto& m : desc.materials) meshes += m.indexCount > 0;
    if (desc.materials.empty() && !desc.indices.empty()) meshes = 1;
    EXPECT_EQ(read->mNumMeshes, meshes);
    size_t faces = 0;
    for (unsigned m = 0; m < read->mNumMeshes; ++m) {
      faces += read->mMeshes[m]->mNumFaces;
      EXPECT_EQ(read->mMeshes[m]->mNumBones, joints);
    }
    EXPECT_EQ(faces, DrawnTriangles(desc));
    for (size_t b = 0; b < desc.bones.size(); ++b) {
      if (!e.scene.m_nodes[b]) continue;
      EXPECT_NE(qev::test::FindAiNode(read->mRootNode, qev::Cp932ToUtf8(desc.bones[b].name)), nullptr)
          << desc.bones[b].name;
    }
    if (c.frames == 0 || joints == 0) {
      EXPECT_EQ(read->mNumAnimations, 0u);
      continue;
    }
    ASSERT_EQ(read->mNumAnimations, 1u);
    const aiAnimation* anim = read->mAnimations[0];
    // every joint is keyed (translation and rotation), keys frame / 30 s apart
    EXPECT_EQ(anim->mNumChannels, joints);
    ASSERT_GT(anim->mTicksPerSecond, 0.0);
    EXPECT_NEAR(anim->mDuration / anim->mTicksPerSecond, (c.frames - 1) / 30.0, 1e-6);
    unsigned longest = 0;
    for (unsigned ch = 0; ch < anim->mNumChannels; ++ch) {
      const aiNodeAnim* a = anim->mChannels[ch];
      EXPECT_TRUE(a->mNumRotationKeys == 1 || a->mNumRotationKeys == unsigned(c.frames));
      EXPECT_TRUE(a->mNumPositionKeys == 1 || a->mNumPositionKeys == unsigned(c.frames));
      longest = std::max({longest, a->mNumRotationKeys, a->mNumPositionKeys});
      for (unsigned k = 0; k < a->mNumPositionKeys; ++k)
        EXPECT_NEAR(a->mPositionKeys[k].mTime / anim->mTicksPerSecond, k / 30.0, 1e-6);
    }
    // something moves in every motion that has more than one frame
    EXPECT_EQ(longest, c.frames > 1 ? unsigned(c.frames) : 1u);
  }
}

// A PMX model with every weight kind (BDEF1/2/4, SDEF, QDEF): each vertex
// goes out with its bones and shares as linear weights, read back by Assimp
// per bone; the validator passes it.
TEST(GltfExport, APmxModelsEveryWeightKindGoesOutAsLinearWeights) {
  Export e;
  e.dir.WriteFile("m.pmx", qev::fixture::BuildPmx(qev::fixture::SamplePmx()));
  ASSERT_EQ(e.Run("m.pmx", "", "m.glb"), 1) << e.failure;
  EXPECT_GLTF_VALID(e.dir.Path("m.glb"));
  const CModelDescription& model = e.scene.m_model;
  bool kinds[5] = {};
  for (const ModelVertex& v : model.m_vertices) kinds[v.skinning] = true;
  for (bool k : kinds) EXPECT_TRUE(k) << "the fixture carries every weight kind";

  Assimp::Importer importer;
  const aiScene* read = importer.ReadFile(e.dir.Path("m.glb"), 0);
  ASSERT_NE(read, nullptr) << importer.GetErrorString();
  // each model vertex's share per bone name, as the description has it
  std::vector<std::map<std::string, double>> want(model.m_vertices.size());
  for (size_t i = 0; i < model.m_vertices.size(); ++i) {
    const ModelVertex& v = model.m_vertices[i];
    const int bones = v.skinning == kSkinBdef1 ? 1 : SkinningBones(v.skinning);
    for (int k = 0; k < bones; ++k)
      if (v.weight[k] > 0 || bones == 1) want[i][model.m_bones[size_t(v.bone[k])].nameUtf8] += bones == 1 ? 1.0 : v.weight[k];
  }
  // Assimp splits the mesh by material; its vertices are the drawn corners,
  // matched to the model's by position.
  size_t checked = 0;
  for (unsigned m = 0; m < read->mNumMeshes; ++m) {
    const aiMesh* mesh = read->mMeshes[m];
    std::vector<std::map<std::string, double>> got(mesh->mNumVertices);
    for (unsigned b = 0; b < mesh->mNumBones; ++b)
      for (unsigned w = 0; w < mesh->mBones[b]->mNumWeights; ++w)
        got[mesh->mBones[b]->mWeights[w].mVertexId][mesh->mBones[b]->mName.C_Str()] +=
            mesh->mBones[b]->mWeights[w].mWeight;
    for (unsigned k = 0; k < mesh->mNumVertices; ++k) {
      const aiVector3D& p = mesh->mVertices[k];
      for (size_t i = 0; i < model.m_vertices.size(); ++i) {
        const ModelVertex& v = model.m_vertices[i];
        if (std::fabs(p.x - v.pos[0]) > 1e-6 || std::fabs(p.y - v.pos[1]) > 1e-6 || std::fabs(p.z - v.pos[2]) > 1e-6)
          continue;
        double total = 0;
        for (const auto& [name, share] : got[k]) total += share;
        EXPECT_NEAR(total, 1.0, 1e-5) << "vertex " << i;
        for (const auto& [name, share] : want[i]) EXPECT_NEAR(got[k][name], share, 1e-5) << "vertex " << i << " " << name;
        ++checked;
        break;
      }
    }
  }
  EXPECT_GT(checked, model.m_vertices.size() / 2);
}

// The lines of `qevtool pose` or `qevtool morphs`: the second column (a
// name) to the numbers after it.
std::map<std::string, std::vector<double>> Table(const std::string& out) {
  std::map<std::string, std::vector<double>> rows;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream cells(line);
    std::string index, name, cell;
    std::getline(cells, index, '\t');
    std::getline(cells, name, '\t');
    while (std::getline(cells, cell, '\t')) rows[name].push_back(std::atof(cell.c_str()));
  }
  return rows;
}

TEST(GltfExport, JointsStandWhereTheViewersBonesStandAtEveryCheckedFrame) {
  TempDir dir;
  std::string error;
  ASSERT_EQ(qev::fixture::WriteSampleCharacter(dir.Path(), &error), 1) << error;
  // the character and its PMX twin
  for (const std::string model : {"sample.pmd", "sample.pmx"})
  for (const char* physics : {"", " --no-physics"}) {
    SCOPED_TRACE(model + (physics[0] ? " without physics" : " with physics"));
    const auto bake = Qevtool(dir, "bake " + model + " walk.vmd -o w.glb" + physics);
    ASSERT_EQ(bake.status, 0) << bake.err;
    EXPECT_GLTF_VALID(dir.Path("w.glb"));
    Assimp::Importer importer;
    const aiScene* read = importer.ReadFile(dir.Path("w.glb"), 0);
    ASSERT_NE(read, nullptr) << importer.GetErrorString();
    ASSERT_EQ(read->mNumAnimations, 1u);
    // the walk's highest frame is 60: frames 0 .. 59 are baked
    for (int frame : {0, 30, 59}) {
      SCOPED_TRACE(frame);
      const auto pose = Qevtool(dir, "pose " + model + " --motion walk.vmd --frame " + std::to_string(frame) + physics);
      ASSERT_EQ(pose.status, 0) << pose.err;
      const auto bones = Table(pose.out);
      ASSERT_GT(bones.size(), 20u);
      for (const auto& [name, at] : bones) {
        const aiNode* node = qev::test::FindAiNode(read->mRootNode, name);
        ASSERT_NE(node, nullptr) << name;
        const aiVector3D got = qev::test::WorldOrigin(read, node, unsigned(frame));
        EXPECT_NEAR(got.x, at[0], 1e-4) << name;
        EXPECT_NEAR(got.y, at[1], 1e-4) << name;
        EXPECT_NEAR(got.z, at[2], 1e-4) << name;
      }
    }
  }
}

// A PMX bone granted half of another's turn: the baked joints stand where
// the viewer's bones stand, the granted bone's child turned with it.
TEST(GltfExport, AGrantedBoneIsBakedWithItsGrant) {
  TempDir dir;
  qev::fixture::PmxDesc d;
  d.encoding = 1;
  auto bone = [&](const char* name, float x, float y, int32_t parent) {
    qev::fixture::PmxBoneDesc b;
    b.name = name;
    b.pos[0] = x;
    b.pos[1] = y;
    b.parent = parent;
    b.flags = 0x001E;  // rotatable, movable, visible, enabled; tail as an offset
    d.bones.push_back(b);
  };
  bone("root", 0, 0, -1);
  bone("arm", 1, 0, 0);
  bone("copy", 0, 1, 0);
  bone("tip", 0, 2, 2);
  d.bones[2].flags |= 0x0100;  // the rotation granted
  d.bones[2].grantParent = 1;
  d.bones[2].grantRatio = 0.5f;
  d.vertices.resize(3);
  for (int i = 0; i < 3; ++i) {
    d.vertices[size_t(i)].pos[0] = float(i);
    d.vertices[size_t(i)].bone[0] = i == 2 ? 3 : 0;
  }
  d.indices = {0, 1, 2};
  d.materials.resize(1);
  d.materials[0].indexCount = 3;
  dir.WriteFile("m.pmx", qev::fixture::BuildPmx(d));
  VmdDesc motion;
  for (uint32_t frame : {0u, 10u}) {
    qev::fixture::VmdBoneKeyDesc k;
    k.name = "arm";
    k.frame = frame;
    k.rot[2] = std::sin(0.7853982f);  // 90 degrees about z
    k.rot[3] = std::cos(0.7853982f);
    motion.bones.push_back(k);
  }
  dir.WriteFile("m.vmd", qev::fixture::BuildVmd(motion));
  const auto bake = Qevtool(dir, "bake m.pmx m.vmd -o m.glb");
  ASSERT_EQ(bake.status, 0) << bake.err;
  EXPECT_GLTF_VALID(dir.Path("m.glb"));
  Assimp::Importer importer;
  const aiScene* read = importer.ReadFile(dir.Path("m.glb"), 0);
  ASSERT_NE(read, nullptr) << importer.GetErrorString();
  const auto pose = Qevtool(dir, "pose m.pmx --motion m.vmd --frame 5");
  ASSERT_EQ(pose.status, 0) << pose.err;
  const auto bones = Table(pose.out);
  ASSERT_EQ(bones.count("tip"), 1u);
  // the tip turned with its granted parent: 45 degrees about (0, 1, 0)
  EXPECT_GT(std::fabs(bones.at("tip")[0]), 0.5) << "the grant turns the tip";
  for (const auto& [name, at] : bones) {
    const aiNode* node = qev::test::FindAiNode(read->mRootNode, name);
    ASSERT_NE(node, nullptr) << name;
    const aiVector3D got = qev::test::WorldOrigin(read, node, 5u);
    EXPECT_NEAR(got.x, at[0], 1e-4) << name;
    EXPECT_NEAR(got.y, at[1], 1e-4) << name;
    EXPECT_NEAR(got.z, at[2], 1e-4) << name;
  }
}

TEST(GltfExport, MorphWeightsAreTheViewersAtEveryCheckedFrame) {
  TempDir dir;
  dir.WriteFile("m.pmd", qev::fixture::BuildPmd(qev::fixture::SamplePmd()));
  dir.WriteFile("m.vmd", qev::fixture::BuildVmd(qev::fixture::SampleVmd()));
  ASSERT_EQ(Qevtool(dir, "bake m.pmd m.vmd -o m.glb").status, 0);
  tinygltf::Model m;
  std::string err;
  ASSERT_TRUE(qev::test::ReadGltf(dir.Path("m.glb"), &m, &err)) << err;
  ASSERT_EQ(m.meshes.size(), 1u);
  // the two morphs that move vertices are the targets, by their names
  const auto& names = m.meshes[0].extras.Get("targetNames");
  ASSERT_TRUE(names.IsArray());
  ASSERT_EQ(names.ArrayLen(), 2u);
  EXPECT_EQ(names.Get(0).Get<std::string>(), "笑い");
  EXPECT_EQ(names.Get(1).Get<std::string>(), "まばたき");
  for (const auto& p : m.meshes[0].primitives) EXPECT_EQ(p.targets.size(), 2u);
  ASSERT_EQ(m.animations.size(), 1u);
  const tinygltf::AnimationSampler* weights = nullptr;
  for (const auto& c : m.animations[0].channels)
    if (c.target_path == "weights") weights = &m.animations[0].samplers[size_t(c.sampler)];
  ASSERT_NE(weights, nullptr);
  const std::vector<float> values = qev::test::Floats(m, weights->output);
  ASSERT_EQ(values.size(), 40u * 2);
  for (int frame : {0, 7, 20, 39}) {
    SCOPED_TRACE(frame);
    const auto run = Qevtool(dir, "morphs m.pmd --motion m.vmd --frame " + std::to_string(frame));
    ASSERT_EQ(run.status, 0) << run.err;
    const auto viewer = Table(run.out);
    EXPECT_NEAR(values[size_t(frame) * 2], viewer.at("笑い")[0], 1e-6);
    EXPECT_NEAR(values[size_t(frame) * 2 + 1], viewer.at("まばたき")[0], 1e-6);
  }
}

// glTF's assets face +z with their left at +x, as the viewer holds them: the
// sample's eyes stand out in front (+z) and its left hand at +x, where they
// are in the viewer, and no reader mirrors them.
TEST(GltfExport, TheFigureFacesPlusZWithItsLeftHandAtPlusX) {
  TempDir dir;
  std::string error;
  ASSERT_EQ(qev::fixture::WriteSampleCharacter(dir.Path(), &error), 1) << error;
  ASSERT_EQ(Qevtool(dir, "convert sample.pmd -o s.glb").status, 0);
  Assimp::Importer importer;
  const aiScene* read = importer.ReadFile(dir.Path("s.glb"), 0);
  ASSERT_NE(read, nullptr) << importer.GetErrorString();
  const aiVector3D hand = qev::test::WorldOrigin(read, qev::test::FindAiNode(read->mRootNode, "左手首"), 0);
  const aiVector3D eye = qev::test::WorldOrigin(read, qev::test::FindAiNode(read->mRootNode, "左目"), 0);
  const aiVector3D head = qev::test::WorldOrigin(read, qev::test::FindAiNode(read->mRootNode, "頭"), 0);
  EXPECT_GT(hand.x, 4.0f);
  EXPECT_GT(eye.z, head.z + 0.5f);
  EXPECT_GT(eye.x, 0.0f);

  // every triangle turns its counter-clockwise side the way its normals
  // point: the side glTF readers draw as the front
  size_t agree = 0, disagree = 0;
  for (unsigned m = 0; m < read->mNumMeshes; ++m) {
    const aiMesh* mesh = read->mMeshes[m];
    for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
      const unsigned* i = mesh->mFaces[f].mIndices;
      const aiVector3D n = (mesh->mVertices[i[1]] - mesh->mVertices[i[0]]) ^ (mesh->mVertices[i[2]] - mesh->mVertices[i[0]]);
      const aiVector3D normals = mesh->mNormals[i[0]] + mesh->mNormals[i[1]] + mesh->mNormals[i[2]];
      (n * normals > 0 ? agree : disagree) += 1;
    }
  }
  EXPECT_GT(agree, 100u);
  EXPECT_EQ(disagree, 0u);
}

// Every picture format the texture loader takes is stored as a PNG that
// decodes to the very pixels the loader decodes from the file.
TEST(GltfExport, EmbeddedPicturesAreTheDecodedTextures) {
  const std::vector<uint8_t> ramp = qev::fixtures::RampPicture(20, 12);
  std::string dds = qev::fixtures::DdsHeader(20, 12, 32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000);
  dds.append(reinterpret_cast<const char*>(ramp.data()), ramp.size());
  const struct {
    const char* name;
    std::string bytes;
  } pictures[] = {
      {"p.bmp", qev::fixture::SampleTexture()},
      {"p.tga", qev::EncodePicture(qev::PictureFileType::kTga, 20, 12, ramp.data())},
      {"p.dds", dds},
      {"p.png", qev::EncodePicture(qev::PictureFileType::kPng, 20, 12, ramp.data())},
  };
  for (const auto& p : pictures) {
    for (const char* out : {"m.glb", "m.gltf"}) {
      SCOPED_TRACE(std::string(p.name) + " into " + out);
      Export e;
      PmdDesc d = qev::fixture::SamplePmd();
      d.materials[0].texture = p.name;
      d.materials[1].texture = std::string("sub\\") + p.name + "*sphere.sph";  // the same file, by another way
      e.dir.WriteFile("m.pmd", qev::fixture::BuildPmd(d));
      e.dir.WriteFile(p.name, p.bytes);
      ASSERT_EQ(std::system(("mkdir -p '" + e.dir.Path("sub") + "'").c_str()), 0);
      e.dir.WriteFile(std::string("sub/") + p.name, p.bytes);
      ASSERT_EQ(e.Run("m.pmd", "", out), 1) << e.failure;
      EXPECT_GLTF_VALID(e.dir.Path(out));

      tinygltf::Model m;
      std::string err;
      ASSERT_TRUE(qev::test::ReadGltf(e.dir.Path(out), &m, &err)) << err;
      ASSERT_EQ(m.materials.size(), 2u);
      ASSERT_EQ(m.images.size(), 2u);
      qev::DecodedPicture source;
      ASSERT_EQ(qev::DecodePicture(reinterpret_cast<const uint8_t*>(p.bytes.data()), p.bytes.size(),
                                   qev::PictureFormats::kTextureFiles, source),
                1);
      for (const auto& image : m.images) {
        std::string png;
        if (image.bufferView >= 0) {
          const auto& v = m.bufferViews[size_t(image.bufferView)];
          png.assign(reinterpret_cast<const char*>(m.buffers[size_t(v.buffer)].data.data()) + v.byteOffset, v.byteLength);
          EXPECT_EQ(image.mimeType, "image/png");
        } else {
          png = e.dir.ReadFile(image.uri);
        }
        qev::DecodedPicture stored;
        ASSERT_EQ(qev::DecodePicture(reinterpret_cast<const uint8_t*>(png.data()), png.size(),
                                     qev::PictureFormats::kTextureFiles, stored),
                  1);
        EXPECT_EQ(stored.format, "PNG");
        EXPECT_EQ(stored.width, source.width);
        EXPECT_EQ(stored.height, source.height);
        EXPECT_TRUE(stored.pixels == source.pixels);
      }
      EXPECT_EQ(m.materials[0].pbrMetallicRoughness.baseColorTexture.index, 0);
      EXPECT_EQ(m.materials[1].pbrMetallicRoughness.baseColorTexture.index, 1);
    }
  }
}

TEST(GltfExport, MaterialsKeepColourAlphaAndSides) {
  Export e;
  PmdDesc d = qev::fixture::SamplePmd();
  d.materials[0].diffuse[3] = 0.5f;
  d.materials[1].texture = "shine.sph";  // a sphere map alone is no texture
  e.dir.WriteFile("m.pmd", qev::fixture::BuildPmd(d));
  ASSERT_EQ(e.Run("m.pmd", "", "m.glb"), 1) << e.failure;
  tinygltf::Model m;
  std::string err;
  ASSERT_TRUE(qev::test::ReadGltf(e.dir.Path("m.glb"), &m, &err)) << err;
  ASSERT_EQ(m.materials.size(), 2u);
  for (int i = 0; i < 2; ++i) {
    const auto& got = m.materials[size_t(i)];
    for (int c = 0; c < 4; ++c)
      EXPECT_FLOAT_EQ(float(got.pbrMetallicRoughness.baseColorFactor[size_t(c)]), d.materials[size_t(i)].diffuse[c]);
  }
  // semi-transparent materials show both faces, as the shaded view draws them
  EXPECT_TRUE(m.materials[0].doubleSided);
  EXPECT_FALSE(m.materials[1].doubleSided);
  EXPECT_EQ(m.materials[0].alphaMode, "BLEND");
  EXPECT_EQ(m.materials[1].alphaMode, "OPAQUE");
  EXPECT_EQ(m.materials[1].pbrMetallicRoughness.baseColorTexture.index, -1);
}

TEST(GltfExport, ABakeOverTheFrameLimitIsRefusedBeforeItPlays) {
  Export e;
  e.dir.WriteFile("m.pmd", qev::fixture::BuildPmd(qev::fixture::SamplePmd()));
  e.dir.WriteFile("m.vmd", qev::fixture::BuildVmd(qev::fixture::SampleVmd()));
  qev::test::LogCapture log;
  // frames 0 .. 40 are 41 frames
  ASSERT_EQ(e.scene.LoadModel(e.dir.Path("m.pmd").c_str(), nullptr, &e.failure), 1);
  ASSERT_EQ(e.scene.LoadMotion(e.dir.Path("m.vmd").c_str(), &e.failure), 1);
  const uint32_t starts = e.scene.m_nStarts;
  EXPECT_EQ(ExportGltf(e.scene, e.dir.Path("m.pmd"), e.dir.Path("m.glb").c_str(), true, nullptr, &e.failure, 40), 0);
  EXPECT_EQ(e.failure, "the motion is 41 frames long, more than the limit of 40 frames");
  EXPECT_TRUE(log.Contains("glTF file")) << log.Text();
  EXPECT_EQ(e.scene.m_nStarts, starts);  // nothing was played
  EXPECT_EQ(e.dir.List(), (std::vector<std::string>{"m.pmd", "m.vmd"}));
  EXPECT_EQ(ExportGltf(e.scene, e.dir.Path("m.pmd"), e.dir.Path("m.glb").c_str(), true, nullptr, &e.failure, 41), 1);
}

TEST(GltfExport, AFailedWriteLeavesNothingBehind) {
  Export e;
  e.dir.WriteFile("m.pmd", qev::fixture::BuildPmd(qev::fixture::SamplePmd()));
  e.dir.WriteFile("skin.bmp", qev::fixture::SampleTexture());
  // the picture's name is taken by a folder: the .bin was already under
  // way, and goes with the rest
  ASSERT_EQ(std::system(("mkdir '" + e.dir.Path("m_0.png") + "'").c_str()), 0);
  EXPECT_EQ(e.Run("m.pmd", "", "m.gltf"), 0);
  EXPECT_FALSE(e.failure.empty());
  EXPECT_EQ(e.dir.List(), (std::vector<std::string>{"m.pmd", "m_0.png", "skin.bmp"}));
  // a folder that is not there
  EXPECT_EQ(ExportGltf(e.scene, e.dir.Path("m.pmd"), e.dir.Path("none/m.glb").c_str(), false, nullptr, &e.failure), 0);
  EXPECT_EQ(ExportGltf(e.scene, e.dir.Path("m.pmd"), e.dir.Path("m.obj").c_str(), false, nullptr, &e.failure), 0);
  EXPECT_EQ(e.failure, "the file name ends neither in .glb nor in .gltf");
  EXPECT_EQ(e.dir.List(), (std::vector<std::string>{"m.pmd", "m_0.png", "skin.bmp"}));
  // no model, no file
  CScene empty;
  EXPECT_EQ(ExportGltf(empty, "", e.dir.Path("m.glb").c_str(), false, nullptr, &e.failure), 0);
  EXPECT_EQ(e.failure, "no model is loaded");
}

// Cut short by a file size limit, every file of a .gltf goes, and the old
// files under those names stay as they were.
TEST(GltfExport, AFileSizeLimitLeavesTheOldFilesAndNoNewOnes) {
  TempDir dir;
  std::string error;
  ASSERT_EQ(qev::fixture::WriteSampleCharacter(dir.Path(), &error), 1) << error;
  dir.WriteFile("w.glb", "old");
  dir.WriteFile("w.gltf", "old");
  dir.WriteFile("stderr.txt", "");  // where the runs below put their stderr
  const std::vector<std::string> before = dir.List();
  for (const char* out : {"w.glb", "w.gltf"}) {
    SCOPED_TRACE(out);
    const auto run =
        qev::test::RunIn(dir, std::string("ulimit -f 8; '" QEV_BINARY_DIR "/qevtool' bake sample.pmd walk.vmd -o ") + out);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("write failed (File too large)"), std::string::npos) << run.err;
    EXPECT_EQ(dir.ReadFile(out), "old");
  }
  EXPECT_EQ(dir.List(), before);
}

}  // namespace
