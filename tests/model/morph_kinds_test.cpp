// PMX morphs of every kind: groups and flips handing their weight on (and
// never following a nested group), uv and additional uv offsets, bone
// changes summed and turned, material multiply and add, impulses while
// playing, and every entry pointing outside the model refused at load.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "model/model_description.h"
#include "model/morph.h"
#include "model/vmd_file.h"
#include "tests/common/temp_dir.h"
#include "tools/fixtures/pmx_fixture.h"
#include "tools/fixtures/vmd_fixture.h"

namespace {

using namespace qev::fixture;

// Three vertices on one bone of two, two materials, one simulated body, one
// additional uv; the morphs as given.
PmxDesc Model(std::vector<PmxMorphDesc> morphs) {
  PmxDesc d;
  d.encoding = 1;
  d.additionalUv = 1;
  for (int i = 0; i < 3; ++i) {
    PmxVertexDesc v;
    v.pos[0] = float(i);
    v.uv[0] = 0.25f * float(i);
    v.uv[1] = 0.5f;
    v.addUv[0][0] = 1.0f;
    v.addUv[0][3] = float(i);
    d.vertices.push_back(v);
  }
  d.indices = {0, 1, 2, 0, 2, 1};
  PmxMaterialDesc a, b;
  a.name = "a";
  a.indexCount = 3;
  b.name = "b";
  b.indexCount = 3;
  d.materials = {a, b};
  PmxBoneDesc root, arm;
  root.name = "root";
  arm.name = "arm";
  arm.parent = 0;
  arm.pos[1] = 1;
  d.bones = {root, arm};
  PmxRigidBodyDesc body;
  body.name = "body";
  body.bone = 1;
  body.mode = 1;
  d.rigidBodies = {body};
  d.morphs = std::move(morphs);
  return d;
}

bool Load(CModelDescription* model, const PmxDesc& d) {
  const std::string bytes = BuildPmx(d);
  return model->LoadFromMemory(bytes.data(), bytes.size(), "m.pmx") == 1;
}

// Weights held from frame 0 by one key per morph, sampled there.
void Play(CMorph* morph, const std::vector<std::pair<const char*, float>>& weights) {
  VmdDesc d;
  d.extent = VmdExtent::kMorphs;
  for (const auto& [name, w] : weights) d.morphs.push_back({name, 0, w});
  const std::string bytes = BuildVmd(d);
  CVmdFile motion;
  ASSERT_EQ(motion.LoadFromMemory(bytes.data(), bytes.size()), 1);
  morph->AttachMotion(motion);
  morph->SampleMotion(0.0f);
}

TEST(MorphKinds, GroupsHandTheirWeightTimesRatioToTheirMembersOnTopOfTheirOwn) {
  // 0 "a" moves vertex 1 by x 1; 1 "b" vertex 2 by y 1; 2 "g" a by 0.5 and
  // b by 2; 3 "h" a by -1.
  CModelDescription model;
  ASSERT_TRUE(Load(&model, Model({MakeMorph("a", 1, {MorphOffset(1, {1, 0, 0})}), MakeMorph("b", 1, {MorphOffset(2, {0, 1, 0})}),
                                  MakeMorph("g", 0, {MorphOffset(0, {0.5f}), MorphOffset(1, {2.0f})}),
                                  MakeMorph("h", 0, {MorphOffset(0, {-1.0f})})})));
  CMorph morph;
  morph.Build(model);
  ASSERT_TRUE(morph.Plays(2));
  struct Case {
    const char* what;
    std::vector<std::pair<const char*, float>> weights;
    float a, b;  // played weights
  };
  const Case cases[] = {
      {"nothing", {}, 0, 0},
      {"a alone", {{"a", 0.25f}}, 0.25f, 0},
      {"group whole", {{"g", 1}}, 0.5f, 2},
      {"group half on a's own", {{"g", 0.5f}, {"a", 0.25f}}, 0.5f, 1},
      {"two groups add", {{"g", 1}, {"h", 0.5f}}, 0, 2},
      {"back to nothing", {}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Play(&morph, c.weights);
    EXPECT_EQ(morph.Weight(0), c.a);
    EXPECT_EQ(morph.Weight(1), c.b);
    const D3DXVECTOR3* p = morph.Positions();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[1].x, 1.0f + c.a) << "vertex 1 moved by a's played weight";
    EXPECT_EQ(p[2].y, c.b) << "vertex 2 moved by b's played weight";
    EXPECT_EQ(p[0].x, 0.0f);
  }
}

TEST(MorphKinds, FlipPlaysTheOneMemberItsWeightChoosesAtItsRatio) {
  // "f" over three members a, b, c with ratios 1, 0.5, 2
  CModelDescription model;
  ASSERT_TRUE(Load(&model, Model({MakeMorph("a", 1, {MorphOffset(0, {1, 0, 0})}), MakeMorph("b", 1, {MorphOffset(1, {1, 0, 0})}),
                                  MakeMorph("c", 1, {MorphOffset(2, {1, 0, 0})}),
                                  MakeMorph("f", 9, {MorphOffset(0, {1.0f}), MorphOffset(1, {0.5f}), MorphOffset(2, {2.0f})})})));
  CMorph morph;
  morph.Build(model);
  struct Case {
    float w;
    float a, b, c;
  };
  const Case cases[] = {
      {0.0f, 0, 0, 0},     {-0.5f, 0, 0, 0}, {0.1f, 1, 0, 0}, {0.33f, 1, 0, 0}, {0.34f, 0, 0.5f, 0},
      {0.5f, 0, 0.5f, 0},  {0.67f, 0, 0, 2}, {1.0f, 0, 0, 2}, {3.0f, 0, 0, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.w);
    Play(&morph, {{"f", c.w}});
    EXPECT_EQ(morph.Weight(3), c.w);
    EXPECT_EQ(morph.Weight(0), c.a);
    EXPECT_EQ(morph.Weight(1), c.b);
    EXPECT_EQ(morph.Weight(2), c.c);
    const D3DXVECTOR3* p = morph.Positions();
    EXPECT_EQ(p[0].x, 0.0f + c.a);
    EXPECT_EQ(p[1].x, 1.0f + c.b);
    EXPECT_EQ(p[2].x, 2.0f + c.c);
  }
}

TEST(MorphKinds, NestedGroupsAreSkippedWithALogLineAndNeverFollowed) {
  // "g" names itself, "h" and "a"; "h" names "g" and "f"; "f" (a flip) names "g".
  qev::test::LogCapture log;
  CModelDescription model;
  ASSERT_TRUE(Load(&model, Model({MakeMorph("a", 1, {MorphOffset(0, {1, 0, 0})}),
                                  MakeMorph("g", 0, {MorphOffset(1, {1.0f}), MorphOffset(2, {1.0f}), MorphOffset(0, {0.5f})}),
                                  MakeMorph("h", 0, {MorphOffset(1, {1.0f}), MorphOffset(3, {1.0f})}),
                                  MakeMorph("f", 9, {MorphOffset(1, {1.0f})})})));
  CMorph morph;
  morph.Build(model);
  EXPECT_TRUE(log.Contains("names group or flip [1]; nesting is not followed, entry skipped")) << log.Text();
  EXPECT_TRUE(log.Contains("names group or flip [3]")) << log.Text();
  Play(&morph, {{"g", 1}, {"h", 1}, {"f", 1}});
  EXPECT_EQ(morph.Weight(0), 0.5f) << "only g's own member plays";
  EXPECT_EQ(morph.Weight(1), 1.0f) << "the groups keep their own weight";
  EXPECT_EQ(morph.Weight(2), 1.0f);
  EXPECT_EQ(morph.Positions()[0].x, 0.5f);
}

TEST(MorphKinds, EntriesPointingOutsideTheModelLeaveTheirMorphOut) {
  struct Case {
    const char* what;
    PmxMorphDesc morph;
    const char* log;
  };
  const float nan = std::nanf("");
  const Case cases[] = {
      {"group member past the morphs", MakeMorph("x", 0, {MorphOffset(7, {1})}), "names no morph of the model"},
      {"group member negative", MakeMorph("x", 0, {MorphOffset(-2, {1})}), "names no morph of the model"},
      {"flip ratio not a number", MakeMorph("x", 9, {MorphOffset(0, {nan})}), "ratio is not a finite number"},
      {"bone past the bones", MakeMorph("x", 2, {MorphOffset(2, {0, 0, 0, 0, 0, 0, 1})}), "names no bone of the model"},
      {"bone none", MakeMorph("x", 2, {MorphOffset(-1, {0, 0, 0, 0, 0, 0, 1})}), "names no bone of the model"},
      {"bone turn of no length", MakeMorph("x", 2, {MorphOffset(1, {0, 0, 0, 0, 0, 0, 0})}), "quaternion of no length"},
      {"bone move not a number", MakeMorph("x", 2, {MorphOffset(1, {nan, 0, 0, 0, 0, 0, 1})}), "not finite"},
      {"uv past the mesh", MakeMorph("x", 3, {MorphOffset(3, {1, 0, 0, 0})}), "names no vertex of the mesh"},
      {"additional uv past the mesh", MakeMorph("x", 4, {MorphOffset(200, {1, 0, 0, 0})}), "names no vertex of the mesh"},
      {"material past the materials", MakeMorph("x", 8, {MorphOffset(2, {1})}), "names no material of the model"},
      {"material below -1", MakeMorph("x", 8, {MorphOffset(-2, {1})}), "names no material of the model"},
      {"material operation 2", MakeMorph("x", 8, {MorphOffset(0, {1}, 2)}), "operation other than multiply"},
      {"material value not a number", MakeMorph("x", 8, {MorphOffset(0, {1, 1, nan}, 1)}), "not finite"},
      {"impulse body past the bodies", MakeMorph("x", 10, {MorphOffset(1, {1, 0, 0})}), "names no rigid body of the model"},
      {"impulse body none", MakeMorph("x", 10, {MorphOffset(-1, {1, 0, 0})}), "names no rigid body of the model"},
      {"vertex past the mesh", MakeMorph("x", 1, {MorphOffset(3, {1, 0, 0})}), "is not below the vertex count 3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    qev::test::LogCapture log;
    CModelDescription model;
    // a good first entry: the whole morph goes, not just the bad entry
    PmxMorphDesc bad = c.morph;
    bad.offsets.insert(bad.offsets.begin(), MorphOffset(0, {0, 0, 0, 0, 0, 0, 1}));
    if (bad.kind == 0 || bad.kind == 9) bad.offsets.front() = MorphOffset(1, {1});
    ASSERT_TRUE(Load(&model, Model({bad, MakeMorph("ok", 1, {MorphOffset(0, {1, 0, 0})})})));
    CMorph morph;
    morph.Build(model);
    EXPECT_FALSE(morph.Plays(0));
    EXPECT_TRUE(morph.Plays(1)) << "the others still play";
    EXPECT_TRUE(log.Contains(c.log)) << log.Text();
    EXPECT_TRUE(log.Contains("morph left out")) << log.Text();
    Play(&morph, {{"x", 1}, {"ok", 1}});
    EXPECT_EQ(morph.Weight(0), 0.0f);
    EXPECT_TRUE(morph.BoneChanges().empty());
    EXPECT_EQ(morph.MaterialChanges(), nullptr);
    EXPECT_TRUE(morph.Impulses().empty());
    EXPECT_EQ(morph.Uvs(0), nullptr);
    EXPECT_EQ(morph.Positions()[0].x, 1.0f);
  }
}

TEST(MorphKinds, UvMorphsMoveTheDrawnUvAndAdditionalUvsMoveTheirChannel) {
  CModelDescription model;
  ASSERT_TRUE(Load(&model, Model({MakeMorph("u", 3, {MorphOffset(1, {0.5f, -0.25f, 9, 9}), MorphOffset(1, {0.125f, 0, 0, 0})}),
                                  MakeMorph("v", 4, {MorphOffset(2, {1, 2, 3, 4})})})));
  CMorph morph;
  morph.Build(model);
  EXPECT_EQ(morph.Uvs(2), nullptr) << "no morph changes additional uv 2";
  const float* uv = morph.Uvs(0);
  ASSERT_NE(uv, nullptr);
  EXPECT_EQ(uv[4], 0.25f) << "vertex 1's own uv before any weight";
  Play(&morph, {{"u", 0.5f}, {"v", 2}});
  uv = morph.Uvs(0);
  // vertex 1: (0.25, 0.5) + 0.5 x ((0.5, -0.25) + (0.125, 0)); z and w stay 0
  EXPECT_EQ(uv[4], 0.25f + 0.3125f);
  EXPECT_EQ(uv[5], 0.5f - 0.125f);
  EXPECT_EQ(uv[6], 0.0f);
  EXPECT_EQ(uv[0], 0.0f) << "vertex 0 untouched";
  const float* add = morph.Uvs(1);
  ASSERT_NE(add, nullptr);
  // vertex 2's additional uv (1, 0, 0, 2) + 2 x (1, 2, 3, 4)
  EXPECT_EQ(add[8], 3.0f);
  EXPECT_EQ(add[9], 4.0f);
  EXPECT_EQ(add[10], 6.0f);
  EXPECT_EQ(add[11], 10.0f);
  EXPECT_EQ(add[7], 1.0f) << "vertex 1's own";
  Play(&morph, {});
  EXPECT_EQ(morph.Uvs(0)[4], 0.25f) << "back exactly";
  EXPECT_EQ(morph.Uvs(1)[11], 2.0f);
}

TEST(MorphKinds, BoneChangesSumMovesAndTurnByTheWeight) {
  // "m" moves the arm by (1, 2, 3) and turns it 90 degrees about y; "n"
  // moves it by (0, 0, 1) and the root by (4, 0, 0).
  const float s = std::sqrt(0.5f);
  CModelDescription model;
  ASSERT_TRUE(Load(&model, Model({MakeMorph("m", 2, {MorphOffset(1, {1, 2, 3, 0, s, 0, s})}),
                                  MakeMorph("n", 2, {MorphOffset(1, {0, 0, 1, 0, 0, 0, 1}), MorphOffset(0, {4, 0, 0, 0, 0, 0, 1})})})));
  CMorph morph;
  morph.Build(model);
  EXPECT_TRUE(morph.BoneChanges().empty());
  Play(&morph, {{"m", 0.5f}, {"n", 1}});
  const std::span<const BoneChange> changes = morph.BoneChanges();
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[0].bone, 1);
  // mirrored: z of a move negates; a turn about y reverses
  EXPECT_FLOAT_EQ(changes[0].move.x, 0.5f);
  EXPECT_FLOAT_EQ(changes[0].move.y, 1.0f);
  EXPECT_FLOAT_EQ(changes[0].move.z, -1.5f - 1.0f);
  // half of 90 degrees about -y: 45 degrees
  const float half = std::sin(float(M_PI) / 8.0f);
  EXPECT_NEAR(changes[0].turn.y, -half, 1e-6f);
  EXPECT_NEAR(changes[0].turn.w, std::cos(float(M_PI) / 8.0f), 1e-6f);
  EXPECT_NEAR(changes[0].turn.x, 0.0f, 1e-6f);
  EXPECT_EQ(changes[1].bone, 0);
  EXPECT_FLOAT_EQ(changes[1].move.x, 4.0f);
  EXPECT_FLOAT_EQ(changes[1].turn.w, 1.0f);
  Play(&morph, {{"n", 0}});
  EXPECT_TRUE(morph.BoneChanges().empty());
}

TEST(MorphKinds, MaterialMorphsMultiplyAndAddIndependentlyOfTheirOrder) {
  // "mul" multiplies material 1's diffuse red by 0 and power by 3; "add"
  // adds 0.5 to every material's edge size and 0.25 to the toon tint red.
  std::vector<float> mul(28, 1.0f);
  mul[0] = 0.0f;
  mul[7] = 3.0f;
  std::vector<float> add(28, 0.0f);
  add[15] = 0.5f;
  add[24] = 0.25f;
  CModelDescription model;
  ASSERT_TRUE(Load(&model, Model({MakeMorph("mul", 8, {MorphOffset(1, mul, 0)}), MakeMorph("add", 8, {MorphOffset(-1, add, 1)})})));
  CMorph morph;
  morph.Build(model);
  EXPECT_EQ(morph.MaterialChanges(), nullptr);
  struct Case {
    float wMul, wAdd;
    float red1, power1, edge0;  // material 1's mul of red and of power, material 0's add to the edge size
  };
  const Case cases[] = {
      {1, 0, 0, 3, 0}, {0.5f, 0, 0.5f, 2, 0}, {0, 1, 1, 1, 0.5f}, {0.25f, 2, 0.75f, 1.5f, 1}, {-1, 0, 2, -1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.wMul);
    Play(&morph, {{"mul", c.wMul}, {"add", c.wAdd}});
    const std::vector<MaterialChange>* changes = morph.MaterialChanges();
    ASSERT_NE(changes, nullptr);
    ASSERT_EQ(changes->size(), 2u);
    const MaterialChange& m0 = (*changes)[0];
    const MaterialChange& m1 = (*changes)[1];
    EXPECT_FLOAT_EQ(m1.mul[kMatDiffuse], c.red1);
    EXPECT_FLOAT_EQ(m1.mul[kMatPower], c.power1);
    EXPECT_FLOAT_EQ(m0.mul[kMatDiffuse], 1.0f) << "the multiply names material 1 only";
    EXPECT_FLOAT_EQ(m0.add[kMatEdgeSize], c.edge0);
    EXPECT_FLOAT_EQ(m1.add[kMatEdgeSize], c.edge0) << "-1: every material";
    EXPECT_FLOAT_EQ(m1.add[kMatToonTint], 0.25f * c.wAdd);
    EXPECT_FLOAT_EQ(m1.Apply(kMatPower, 5.0f), 5.0f * c.power1);
  }
  Play(&morph, {});
  EXPECT_EQ(morph.MaterialChanges(), nullptr) << "no weight: the model's own looks";
}

TEST(MorphKinds, ImpulsesAreListedOnlyWhileTheirWeightIsNotZero) {
  CModelDescription model;
  ASSERT_TRUE(Load(&model, Model({MakeMorph("i", 10, {MorphOffset(0, {1, 2, 3, 0.5f, 0, 0}, 1)})})));
  CMorph morph;
  morph.Build(model);
  EXPECT_TRUE(morph.Impulses().empty());
  Play(&morph, {{"i", 0.5f}});
  ASSERT_EQ(morph.Impulses().size(), 1u);
  EXPECT_EQ(morph.Impulses()[0].weight, 0.5f);
  EXPECT_EQ(morph.Impulses()[0].offset->body, 0);
  EXPECT_EQ(morph.Impulses()[0].offset->local, 1);
  EXPECT_EQ(morph.Impulses()[0].offset->velocity[2], -3.0f) << "mirrored";
  Play(&morph, {{"i", 0}});
  EXPECT_TRUE(morph.Impulses().empty());
}

}  // namespace
