// The glTF writer on descriptions made in the test: what it refuses, the
// index width, keys that never change written once, values glTF forbids
// repaired, and the validator's verdict on each.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <limits>
#include <string>
#include <vector>

#include "export/gltf_writer.h"
#include "tests/common/temp_dir.h"
#include "tests/export/gltf_check.h"

namespace {

using qev::gltf::Scene;
using qev::test::TempDir;

// One triangle on two joints (the second below the first) with one morph.
Scene Triangle() {
  Scene s;
  s.name = "tri";
  for (int i = 0; i < 3; ++i) {
    qev::gltf::Vertex v;
    v.pos[0] = float(i == 1);
    v.pos[1] = float(i == 2);
    v.normal[1] = 0;
    v.normal[2] = 1;
    v.joints[0] = uint16_t(i == 2);
    s.vertices.push_back(v);
  }
  qev::gltf::Material m;
  m.indices = {0, 1, 2};
  s.materials.push_back(m);
  s.joints.resize(2);
  s.joints[0].name = "a";
  s.joints[1].name = "b";
  s.joints[1].parent = 0;
  s.joints[1].translation[1] = 1;
  s.joints[1].inverseBind[13] = -1;
  s.morphs.push_back({"up", {2}, {0, 0.5f, 0}});
  return s;
}

// The triangle with an animation of `frames` frames: joint a still, joint
// b turning about z, the morph opening.
Scene Animated(int frames) {
  Scene s = Triangle();
  s.animated = true;
  s.animation.frames = frames;
  for (int f = 0; f < frames; ++f) {
    const float half = 0.05f * float(f);
    s.animation.translations.insert(s.animation.translations.end(), {0, 0, 0, 0, 1, 0});
    s.animation.rotations.insert(s.animation.rotations.end(), {0, 0, 0, 1, 0, 0, std::sin(half), std::cos(half)});
    s.animation.weights.push_back(float(f) / float(frames));
  }
  return s;
}

TEST(GltfWriter, ContainerByExtension) {
  using qev::gltf::Container;
  const struct {
    const char* path;
    Container kind;
  } cases[] = {
      {"a.glb", Container::kBinary}, {"dir/A.GLB", Container::kBinary}, {"a.gltf", Container::kText},
      {"a.GlTf", Container::kText},  {".glb", Container::kNone},        {"a.x", Container::kNone},
      {"a.glb/b", Container::kNone}, {"a.glbx", Container::kNone},      {"", Container::kNone},
  };
  for (const auto& c : cases) EXPECT_EQ(qev::gltf::ContainerOf(c.path), c.kind) << c.path;
}

TEST(GltfWriter, RefusesWhatItCannotWriteFaithfullyAndWritesNothing) {
  const struct {
    const char* why;
    std::function<void(Scene&)> spoil;
  } cases[] = {
      {"a triangle index past the vertices", [](Scene& s) { s.materials[0].indices[2] = 3; }},
      {"a triangle index past the vertices", [](Scene& s) { s.materials[0].indices.push_back(0); }},
      {"a triangle index past the vertices", [](Scene& s) { s.unlit = {0, 1, 7}; }},
      {"a material's picture past the pictures", [](Scene& s) { s.materials[0].picture = 0; }},
      {"a picture whose pixels do not match its size", [](Scene& s) { s.pictures.push_back({2, 2, {1, 2, 3}}); }},
      {"a picture whose pixels do not match its size", [](Scene& s) { s.pictures.push_back({0, 0, {}}); }},
      {"a joint whose parent does not come before it", [](Scene& s) { s.joints[0].parent = 1; }},
      {"a joint whose parent does not come before it", [](Scene& s) { s.joints[1].parent = 1; }},
      {"a vertex on a joint past the joints", [](Scene& s) { s.vertices[1].joints[3] = 2; }},
      {"a morph offset past the vertices", [](Scene& s) { s.morphs[0].vertices[0] = 3; }},
      {"a morph offset past the vertices", [](Scene& s) { s.morphs[0].offsets.pop_back(); }},
      {"an animation without frames", [](Scene& s) { s.animated = true; }},
      {"animation samples that do not match the frames",
       [](Scene& s) {
         s = Animated(3);
         s.animation.weights.pop_back();
       }},
      {"animation samples that do not match the frames",
       [](Scene& s) {
         s = Animated(3);
         s.animation.frames = 4;
       }},
      {"more than 65536 joints", [](Scene& s) { s.joints.resize(65537); }},
  };
  TempDir dir;
  for (const auto& c : cases) {
    for (const char* name : {"t.glb", "t.gltf"}) {
      SCOPED_TRACE(std::string(c.why) + " " + name);
      Scene s = Triangle();
      c.spoil(s);
      std::string failure;
      qev::test::LogCapture log;
      EXPECT_EQ(qev::gltf::WriteGltf(s, dir.Path(name).c_str(), &failure), 0);
      EXPECT_EQ(failure, c.why);
      EXPECT_TRUE(log.Contains(std::string(" not written: ") + c.why)) << log.Text();
      EXPECT_TRUE(dir.List().empty());
    }
  }
}

TEST(GltfWriter, IndicesAreSixteenBitsWhileEveryVertexFits) {
  for (const size_t vertices : {size_t(3), size_t(65535), size_t(65536)}) {
    SCOPED_TRACE(vertices);
    Scene s = Triangle();
    s.vertices.resize(vertices, s.vertices[0]);
    s.materials[0].indices = {0, 1, uint32_t(vertices - 1)};
    TempDir dir;
    std::string failure;
    ASSERT_EQ(qev::gltf::WriteGltf(s, dir.Path("t.glb").c_str(), &failure), 1) << failure;
    EXPECT_GLTF_VALID(dir.Path("t.glb"));
    tinygltf::Model m;
    ASSERT_TRUE(qev::test::ReadGltf(dir.Path("t.glb"), &m, &failure)) << failure;
    const auto& indices = m.accessors[size_t(m.meshes[0].primitives[0].indices)];
    EXPECT_EQ(indices.componentType, vertices > 65535 ? TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT
                                                       : TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT);
  }
}

TEST(GltfWriter, KeysThatNeverChangeAreWrittenOnce) {
  for (const int frames : {1, 2, 50}) {
    SCOPED_TRACE(frames);
    TempDir dir;
    std::string failure;
    ASSERT_EQ(qev::gltf::WriteGltf(Animated(frames), dir.Path("t.gltf").c_str(), &failure), 1) << failure;
    EXPECT_GLTF_VALID(dir.Path("t.gltf"));
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"t.bin", "t.gltf"}));
    tinygltf::Model m;
    ASSERT_TRUE(qev::test::ReadGltf(dir.Path("t.gltf"), &m, &failure)) << failure;
    ASSERT_EQ(m.animations.size(), 1u);
    // joint a: nodes 1 (after the mesh's node 0); joint b: node 2
    std::map<std::string, size_t> keys;
    for (const auto& c : m.animations[0].channels) {
      const auto& sampler = m.animations[0].samplers[size_t(c.sampler)];
      const auto times = qev::test::Floats(m, sampler.input);
      keys[std::to_string(c.target_node) + " " + c.target_path] = times.size();
      for (size_t k = 0; k < times.size(); ++k) EXPECT_FLOAT_EQ(times[k], float(k) / 30.0f);
    }
    const size_t moving = frames > 1 ? size_t(frames) : 1;
    std::map<std::string, size_t> expected{{"1 rotation", 1}, {"1 translation", 1}, {"2 rotation", moving},
                                           {"2 translation", 1}};
    // a morph whose weight stays 0 throughout gets no channel at all
    if (frames > 1) expected["0 weights"] = moving;
    EXPECT_EQ(keys, expected);
  }
}

TEST(GltfWriter, RotationKeysStayOnOneSideAndForbiddenValuesBecomeZero) {
  Scene s = Animated(3);
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  // frame 1 of joint b the same turn as its neighbours, written the other way round
  for (int c = 4; c < 8; ++c) s.animation.rotations[8 + size_t(c)] = -s.animation.rotations[8 + size_t(c)];
  s.animation.translations[4] = nan;  // frame 0, joint b, y
  s.vertices[0].pos[0] = inf;
  s.vertices[1].normal[2] = 0;  // no direction at all
  s.vertices[2].normal[2] = 4;  // too long
  s.morphs[0].offsets[1] = nan;
  TempDir dir;
  std::string failure;
  ASSERT_EQ(qev::gltf::WriteGltf(s, dir.Path("t.glb").c_str(), &failure), 1) << failure;
  EXPECT_GLTF_VALID(dir.Path("t.glb"));
  tinygltf::Model m;
  ASSERT_TRUE(qev::test::ReadGltf(dir.Path("t.glb"), &m, &failure)) << failure;
  const auto& p = m.meshes[0].primitives[0];
  EXPECT_EQ(qev::test::Floats(m, p.attributes.at("POSITION"))[0], 0.0f);
  EXPECT_EQ(qev::test::Floats(m, p.attributes.at("NORMAL")),
            (std::vector<float>{0, 0, 1, 0, 1, 0, 0, 0, 1}));  // unit length, +y for none
  EXPECT_EQ(qev::test::Floats(m, p.targets[0].at("POSITION")), (std::vector<float>{0, 0, 0, 0, 0, 0, 0, 0, 0}));
  for (const auto& c : m.animations[0].channels) {
    if (c.target_node != 2) continue;
    const auto values = qev::test::Floats(m, m.animations[0].samplers[size_t(c.sampler)].output);
    if (c.target_path == "translation") {
      EXPECT_EQ(values, (std::vector<float>{0, 0, 0, 0, 1, 0, 0, 1, 0}));
      continue;
    }
    ASSERT_EQ(values.size(), 12u);
    for (int k = 1; k < 3; ++k) {
      float dot = 0;
      for (int i = 0; i < 4; ++i) dot += values[size_t(k * 4 + i)] * values[size_t(k * 4 - 4 + i)];
      EXPECT_GT(dot, 0.9f) << k;
    }
  }
}

// A scene of nothing but a name, and one of joints without a mesh, are
// valid files too.
TEST(GltfWriter, ScenesWithoutAMeshAreValid) {
  Scene joints = Animated(4);
  joints.vertices.clear();
  joints.materials.clear();
  joints.morphs.clear();
  joints.animation.weights.clear();
  Scene nothing;
  nothing.name = "名前";
  for (const Scene* s : {&nothing, &joints}) {
    TempDir dir;
    std::string failure;
    ASSERT_EQ(qev::gltf::WriteGltf(*s, dir.Path("t.gltf").c_str(), &failure), 1) << failure;
    EXPECT_GLTF_VALID(dir.Path("t.gltf"));
    ASSERT_EQ(qev::gltf::WriteGltf(*s, dir.Path("t.glb").c_str(), &failure), 1) << failure;
    EXPECT_GLTF_VALID(dir.Path("t.glb"));
  }
}

}  // namespace
