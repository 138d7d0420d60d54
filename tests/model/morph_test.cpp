// Morphs: offsets through the base onto the mesh, mirrored like positions,
// morphs adding in model order and undone exactly, weights sampled between
// and outside the keys, names matched byte for byte (a motion for another
// model matches fewer), and entries pointing outside refused at load.
#include "model/morph.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "model/model_description.h"
#include "model/vmd_file.h"
#include "platform/codepage.h"
#include "tests/common/temp_dir.h"
#include "tools/fixtures/pmd_fixture.h"
#include "tools/fixtures/vmd_fixture.h"

namespace {

using qev::Sjis;
using namespace qev::fixture;

struct V {
  float x, y, z;
};

// Four vertices (file space). The base takes vertices 2, 0 and 3 as its
// entries 0, 1 and 2; "a" moves entries 0 and 2, "b" entries 0 and 1.
PmdDesc FourVertices() {
  PmdDesc d;
  const V at[4] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 1}, {2, 2, 2}};
  for (const V& p : at) {
    PmdVertexDesc v;
    v.pos[0] = p.x;
    v.pos[1] = p.y;
    v.pos[2] = p.z;
    d.vertices.push_back(v);
  }
  PmdBoneDesc root;
  root.name = "root";
  d.bones = {root};
  PmdMorphDesc base, a, b;
  base.name = "base";
  base.vertices = {{2, {0, 1, 1}}, {0, {0, 0, 0}}, {3, {2, 2, 2}}};
  a.name = "a";
  a.kind = 1;
  a.vertices = {{0, {0, 0.5f, 0.25f}}, {2, {1, 0, 0}}};
  b.name = "b";
  b.kind = 2;
  b.vertices = {{0, {0.5f, 0, 0}}, {1, {0, 0, -1}}};
  d.morphs = {base, a, b};
  return d;
}

bool LoadModel(CModelDescription* model, const PmdDesc& d) {
  const std::string bytes = BuildPmd(d);
  return model->LoadFromMemory(bytes.data(), bytes.size()) == 1;
}

bool LoadMotion(CVmdFile* motion, const std::vector<VmdMorphKeyDesc>& keys) {
  VmdDesc d;
  d.extent = VmdExtent::kMorphs;
  d.morphs = keys;
  const std::string bytes = BuildVmd(d);
  return motion->LoadFromMemory(bytes.data(), bytes.size()) == 1;
}

// Weights held from frame 0 by one key per morph, sampled there.
void PlayWeights(CMorph* morph, const std::vector<std::pair<const char*, float>>& weights) {
  std::vector<VmdMorphKeyDesc> keys;
  for (const auto& [name, w] : weights) keys.push_back({name, 0, w});
  CVmdFile motion;
  ASSERT_TRUE(LoadMotion(&motion, keys));
  morph->AttachMotion(motion);
  morph->SampleMotion(0.0f);
}

void ExpectAt(const D3DXVECTOR3* p, const V (&want)[4]) {
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    // exact: every sum below is exact in binary
    EXPECT_EQ(p[i].x, want[i].x);
    EXPECT_EQ(p[i].y, want[i].y);
    EXPECT_EQ(p[i].z, want[i].z);
  }
}

TEST(Morph, OffsetsGoThroughTheBaseAddInModelOrderAndAreUndoneExactly) {
  CModelDescription model;
  ASSERT_TRUE(LoadModel(&model, FourVertices()));
  CMorph morph;
  morph.Build(model);
  ASSERT_EQ(morph.Count(), 3);
  EXPECT_FALSE(morph.Plays(0)) << "the base has no weight of its own";
  EXPECT_TRUE(morph.Plays(1));
  EXPECT_TRUE(morph.Plays(2));

  // Viewer space: the file's z negated, for the bind positions and the
  // offsets alike. Bind: (0,0,0) (1,0,0) (0,1,-1) (2,2,-2).
  struct Case {
    const char* what;
    std::vector<std::pair<const char*, float>> weights;
    V want[4];
  };
  // One after the other on the same morphs: each case starts from what the
  // one before left, so offsets that are not taken back show.
  const Case cases[] = {
      {"no motion yet", {}, {{0, 0, 0}, {1, 0, 0}, {0, 1, -1}, {2, 2, -2}}},
      {"a whole: entries 0 and 2 (vertices 2 and 3)",
       {{"a", 1}},
       {{0, 0, 0}, {1, 0, 0}, {0, 1.5f, -1.25f}, {3, 2, -2}}},
      {"a half", {{"a", 0.5f}}, {{0, 0, 0}, {1, 0, 0}, {0, 1.25f, -1.125f}, {2.5f, 2, -2}}},
      {"a back to 0", {{"a", 0}}, {{0, 0, 0}, {1, 0, 0}, {0, 1, -1}, {2, 2, -2}}},
      {"b whole: entries 0 and 1 (vertices 2 and 0)", {{"b", 1}}, {{0, 0, 1}, {1, 0, 0}, {0.5f, 1, -1}, {2, 2, -2}}},
      {"a and b add on vertex 2",
       {{"a", 1}, {"b", 0.5f}},
       {{0, 0, 0.5f}, {1, 0, 0}, {0.25f, 1.5f, -1.25f}, {3, 2, -2}}},
      {"a negative", {{"a", -1}}, {{0, 0, 0}, {1, 0, 0}, {0, 0.5f, -0.75f}, {1, 2, -2}}},
      {"above 1", {{"b", 2}}, {{0, 0, 2}, {1, 0, 0}, {1, 1, -1}, {2, 2, -2}}},
      {"nothing", {}, {{0, 0, 0}, {1, 0, 0}, {0, 1, -1}, {2, 2, -2}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PlayWeights(&morph, c.weights);
    ExpectAt(morph.Positions(), c.want);
    ExpectAt(morph.Positions(), c.want);  // asked again without a change: the same
  }
  morph.ResetWeights();
  EXPECT_EQ(morph.Weight(1), 0.0f);
  ExpectAt(morph.Positions(), cases[0].want);
}

TEST(Morph, WeightsAreLinearBetweenKeysAndHoldTheNearestKeyOutsideThem) {
  CModelDescription model;
  ASSERT_TRUE(LoadModel(&model, FourVertices()));
  CMorph morph;
  morph.Build(model);
  CVmdFile motion;
  // "a" out of frame order in the file; "b" a single key.
  ASSERT_TRUE(LoadMotion(&motion, {{"a", 20, 1.0f}, {"a", 40, 0.0f}, {"a", 10, 0.2f}, {"b", 30, 0.7f}}));
  morph.AttachMotion(motion);
  struct Case {
    float frame;
    float a, b;
  };
  const Case cases[] = {
      {0, 0.2f, 0.7f},   // before the first key: its weight
      {10, 0.2f, 0.7f},  // on a key
      {15, 0.6f, 0.7f},  // half way from 0.2 to 1.0
      {17.5f, 0.8f, 0.7f},
      {20, 1.0f, 0.7f},
      {25, 0.75f, 0.7f},  // a quarter of the way from 1.0 down to 0
      {30, 0.5f, 0.7f},
      {39, 0.05f, 0.7f},
      {40, 0.0f, 0.7f},  // the last key
      {1000, 0.0f, 0.7f},
      {-5, 0.2f, 0.7f},  // below 0 counts as 0
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.frame);
    morph.SampleMotion(c.frame);
    EXPECT_NEAR(morph.Weight(1), c.a, 1e-6f);
    EXPECT_NEAR(morph.Weight(2), c.b, 1e-6f);
    // vertex 3 moves by a's weight along x
    EXPECT_NEAR(morph.Positions()[3].x, 2.0f + c.a, 1e-6f);
  }
}

TEST(Morph, KeysOnOneFrameFollowTheBoneKeyConvention) {
  // Among keys of equal frames the one read last comes first, as in a bone
  // track: the interval before the frame runs towards it, and from the
  // frame on the key read first holds.
  const std::vector<VmdMorphKeyDesc> file = {{"a", 10, 0.2f}, {"a", 20, 1.0f}, {"a", 20, 0.4f}};
  CVmdFile motion;
  ASSERT_TRUE(LoadMotion(&motion, file));
  CModelDescription model;
  ASSERT_TRUE(LoadModel(&model, FourVertices()));
  CMorph morph;
  morph.Build(model);
  morph.AttachMotion(motion);
  morph.SampleMotion(15);
  EXPECT_NEAR(morph.Weight(1), 0.3f, 1e-6f);
  morph.SampleMotion(20);
  EXPECT_EQ(morph.Weight(1), 1.0f);
  morph.SampleMotion(25);
  EXPECT_EQ(morph.Weight(1), 1.0f);

  // The bare sampler over keys already in order.
  const VmdMorphKey keys[] = {{10, 0.2f}, {20, 1.0f}};
  EXPECT_EQ(SampleMorphKeys(nullptr, 0, 5), 0.0f);
  EXPECT_EQ(SampleMorphKeys(keys, 0, 5), 0.0f);
  EXPECT_EQ(SampleMorphKeys(keys, 1, 50), 0.2f);
  EXPECT_NEAR(SampleMorphKeys(keys, 2, 12.5f), 0.4f, 1e-6f);
}

TEST(Morph, AMotionForAnotherModelMatchesOnlyTheNamesItShares) {
  PmdDesc d = FourVertices();
  d.morphs[1].name = Sjis("まばたき");
  d.morphs[2].name = "fifteen_bytes_x";  // fills the motion's name field, no terminator there
  PmdMorphDesc smile = d.morphs[1];
  smile.name = Sjis("笑い");
  d.morphs.push_back(smile);
  CModelDescription model;
  ASSERT_TRUE(LoadModel(&model, d));
  CMorph morph;
  morph.Build(model);
  ASSERT_EQ(morph.Count(), 4);
  CVmdFile motion;
  ASSERT_TRUE(LoadMotion(&motion, {{Sjis("まばたき"), 0, 0.25f},
                                   {"fifteen_bytes_x", 0, 0.5f},
                                   {Sjis("ウィンク"), 0, 1.0f},    // no such morph here
                                   {Sjis("笑い右"), 0, 1.0f},     // longer than the model's name
                                   {Sjis("笑"), 0, 1.0f},         // shorter
                                   {"base", 0, 1.0f}}));          // the base never plays
  morph.AttachMotion(motion);
  morph.SampleMotion(0);
  EXPECT_EQ(morph.Weight(0), 0.0f);
  EXPECT_EQ(morph.Weight(1), 0.25f);
  EXPECT_EQ(morph.Weight(2), 0.5f);
  EXPECT_EQ(morph.Weight(3), 0.0f) << "a morph without a track";
  EXPECT_EQ(morph.Positions()[3].x, 2.25f);
}

TEST(Morph, EntriesPointingOutsideAreRefusedAtLoadAndNeverPlay) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    const char* what;
    void (*damage)(PmdDesc&, float);
    const char* log;  // empty: nothing refused
    bool aPlays, bPlays;
  };
  const Case cases[] = {
      {"all in range", [](PmdDesc&, float) {}, "", true, true},
      {"base entry past the vertices",
       [](PmdDesc& d, float) { d.morphs[0].vertices[1].vertex = 4; },
       "PMD morph error : base morph entry [1] vertex 4 is not below the vertex count 4; no morph plays\n", false,
       false},
      {"base entry far past",
       [](PmdDesc& d, float) { d.morphs[0].vertices[2].vertex = 0xFFFFFFFFu; },
       "PMD morph error : base morph entry [2] vertex 4294967295 is not below the vertex count 4; no morph plays\n",
       false, false},
      {"offset index past the base",
       [](PmdDesc& d, float) { d.morphs[1].vertices[1].vertex = 3; },
       "PMD morph error : morph [1] a entry [1] base index 3 is not below the base count 3; morph left out\n", false,
       true},
      {"offset index far past",
       [](PmdDesc& d, float) { d.morphs[2].vertices[0].vertex = 0x80000000u; },
       "PMD morph error : morph [2] b entry [0] base index 2147483648 is not below the base count 3; morph left "
       "out\n",
       true, false},
      {"offset no number",
       [](PmdDesc& d, float n) { d.morphs[2].vertices[1].pos[1] = n; },
       "PMD morph error : morph [2] b entry [1] offset is not a finite number; morph left out\n", true, false},
      {"no base entries",
       [](PmdDesc& d, float) { d.morphs[0].vertices.clear(); },
       "PMD morph error : morph [1] a entry [0] base index 0 is not below the base count 0; morph left out\n", false,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PmdDesc d = FourVertices();
    c.damage(d, nan);
    CModelDescription model;
    ASSERT_TRUE(LoadModel(&model, d)) << "the reader keeps morph entries as read";
    qev::test::LogCapture log;
    CMorph morph;
    morph.Build(model);
    if (*c.log)
      EXPECT_TRUE(log.Contains(c.log)) << log.Text();
    else
      EXPECT_FALSE(log.Contains("PMD morph error")) << log.Text();
    EXPECT_EQ(morph.Plays(1), c.aPlays);
    EXPECT_EQ(morph.Plays(2), c.bPlays);
    PlayWeights(&morph, {{"a", 1}, {"b", 1}});
    EXPECT_EQ(morph.Weight(1), c.aPlays ? 1.0f : 0.0f);
    EXPECT_EQ(morph.Weight(2), c.bPlays ? 1.0f : 0.0f);
    const D3DXVECTOR3* p = morph.Positions();
    ASSERT_NE(p, nullptr);
    // vertex 3 moves only with a, vertex 0 only with b
    EXPECT_EQ(p[3].x, c.aPlays ? 3.0f : 2.0f);
    EXPECT_EQ(p[0].z, c.bPlays ? 1.0f : 0.0f);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(std::isfinite(p[i].x + p[i].y + p[i].z)) << i;
  }
}

TEST(Morph, KeyWeightsThatAreNoNumberCountAsZero) {
  CModelDescription model;
  ASSERT_TRUE(LoadModel(&model, FourVertices()));
  CMorph morph;
  morph.Build(model);
  qev::test::LogCapture log;
  CVmdFile motion;
  ASSERT_TRUE(LoadMotion(&motion, {{"a", 0, std::numeric_limits<float>::quiet_NaN()},
                                   {"a", 10, 1.0f},
                                   {"b", 0, std::numeric_limits<float>::infinity()}}));
  morph.AttachMotion(motion);
  EXPECT_TRUE(log.Contains("VMD morph keys : 2 weights that are no finite number taken as 0\n")) << log.Text();
  morph.SampleMotion(5);
  EXPECT_NEAR(morph.Weight(1), 0.5f, 1e-6f);
  EXPECT_EQ(morph.Weight(2), 0.0f);
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(std::isfinite(morph.Positions()[i].x)) << i;
}

TEST(Morph, ModelsWithoutMorphsOrVertices) {
  PmdDesc none = FourVertices();
  none.morphs.clear();
  PmdDesc baseOnly = FourVertices();
  baseOnly.morphs.resize(1);
  PmdDesc empty;
  for (const PmdDesc* d : {&none, &baseOnly, &empty}) {
    CModelDescription model;
    ASSERT_TRUE(LoadModel(&model, *d));
    CMorph morph;
    morph.Build(model);
    EXPECT_EQ(morph.Count(), int(model.m_morphs.size()));
    PlayWeights(&morph, {{"base", 1}, {"a", 1}});
    EXPECT_EQ(morph.Weight(0), 0.0f);
    EXPECT_EQ(morph.Weight(7), 0.0f);
    EXPECT_EQ(morph.Weight(-1), 0.0f);
    if (model.m_vertices.empty()) {
      EXPECT_EQ(morph.Positions(), nullptr);
    } else {
      EXPECT_EQ(morph.Positions()[2].z, -1.0f);
    }
  }
}

}  // namespace
