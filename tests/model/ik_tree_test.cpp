// The IK goal tree and the solver: goal matrices, the early stop, the step
// limit, the knee rule, lists that do nothing, and a chain that converges.
#include "model/ik_tree.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "model/pmd_bone.h"
#include "model/pmd_file.h"
#include "model/vpd_file.h"
#include "platform/codepage.h"
#include "tools/fixtures/pmd_fixture.h"
#include "tools/fixtures/vpd_fixture.h"

namespace {

using qev::Sjis;
using namespace qev::fixture;

PmdBoneDesc Bone(const std::string& name, int16_t parent, uint8_t type, float x, float y, float z) {
  PmdBoneDesc b;
  b.name = name;
  b.parent = parent;
  b.type = type;
  b.head[0] = x;
  b.head[1] = y;
  b.head[2] = -z;  // stored left-handed
  return b;
}

// A chain bone (0) at (0, 5, 0) hanging its child (1) to the origin, and an
// IK goal (2) at the given place reaching for the child with bone 0.
struct OneBoneChain {
  CPmdFile pmd;
  CPmdBone skeleton;
  CIKTree goals;
  CPmdBone* bone = nullptr;
  CPmdBone* tip = nullptr;
  std::vector<D3DXMATRIX> W, B, G;

  OneBoneChain(const std::string& name, D3DXVECTOR3 goal, float weight, uint16_t iterations, int chain = 1) {
    PmdDesc d;
    d.bones = {Bone(name, -1, 0, 0, 5, 0), Bone("tip", 0, 0, 0, 0, 0), Bone("goal", -1, 2, goal.x, goal.y, goal.z)};
    PmdIkDesc ik;
    ik.ikBone = 2;
    ik.target = 1;
    ik.iterations = iterations;
    ik.weight = weight;
    if (chain) ik.chain = {0};
    d.iks = {ik};
    const std::string bytes = BuildPmd(d);
    EXPECT_EQ(pmd.LoadFromMemory(bytes.data(), bytes.size()), 1);
    bone = skeleton.AddChild(0, pmd);
    tip = bone->AddChild(1, pmd);
    goals.AddChild(0, 2, pmd);
    W.resize(3);
    B.resize(3);
    G.resize(1);
    skeleton.UpdateMatrices(W.data(), B.data());
  }
  void Solve() { ::Solve({&goals, &skeleton, &pmd, W.data(), B.data(), G.data(), nullptr}); }
  D3DXVECTOR3 Tip() const { return {W[1]._41, W[1]._42, W[1]._43}; }
};

// The angle and axis of a pure rotation matrix.
float AngleOf(const D3DXMATRIX& m) {
  return std::acos(std::clamp((m._11 + m._22 + m._33 - 1.0f) / 2.0f, -1.0f, 1.0f));
}

TEST(IkTree, GoalMatricesComposeLocalBeforeAnimation) {
  CPmdFile pmd;
  PmdDesc d;
  d.bones = {Bone("a", -1, 2, 0, 1, 0), Bone("b", 0, 2, 0, 1, 2)};
  PmdIkDesc ik0, ik1;
  ik0.ikBone = 0;
  ik1.ikBone = 1;
  d.iks = {ik0, ik1};
  const std::string bytes = BuildPmd(d);
  ASSERT_EQ(pmd.LoadFromMemory(bytes.data(), bytes.size()), 1);
  CIKTree root;
  CIKTree* a = root.AddChild(0, 0, pmd);
  CIKTree* b = a->AddChild(1, 1, pmd);
  EXPECT_EQ(root.FindByIndex(1), b);
  EXPECT_EQ(root.FindByIndex(-1), &root);  // the node itself counts

  // b rotated a quarter about Y, no translation: its offset (0, 0, 2) from a turns
  D3DXMatrixRotationY(&b->m_mAnim, 1.5707964f);
  D3DXMATRIX G[2];
  EXPECT_EQ(root.UpdateMatrices(nullptr, nullptr), 0);
  ASSERT_EQ(root.UpdateMatrices(G, nullptr), 1);
  EXPECT_NEAR(G[0]._42, 1.0f, 1e-6f);
  EXPECT_NEAR(G[1]._41, 2.0f, 1e-5f);  // local x animation: the offset turned onto +X
  EXPECT_NEAR(G[1]._42, 1.0f, 1e-5f);
  EXPECT_NEAR(G[1]._43, 0.0f, 1e-5f);

  // a pose by name; a pose resets the keys and animation of every node
  VpdDesc pd;
  pd.bones = {{"a", {0, 3, 0}, {0, 0, 0, 1}}};
  const std::string text = BuildVpd(pd);
  CVpdFile pose;
  ASSERT_EQ(pose.LoadFromMemory(text.data(), text.size(), "p"), 1);
  root.ApplyPose(pose);
  root.UpdateMatrices(G, nullptr);
  EXPECT_NEAR(G[0]._42, 4.0f, 1e-6f);
  EXPECT_NEAR(G[1]._43, 2.0f, 1e-6f);  // b's rotation went with the pose
}

TEST(IkTree, GoalWalksFollowNodesAddedAndClearedAfterAWalk) {
  CPmdFile pmd;
  PmdDesc d;
  d.bones = {Bone("a", -1, 2, 0, 1, 0), Bone("b", 0, 2, 0, 3, 0)};
  PmdIkDesc ik0, ik1;
  ik0.ikBone = 0;
  ik1.ikBone = 1;
  d.iks = {ik0, ik1};
  const std::string bytes = BuildPmd(d);
  ASSERT_EQ(pmd.LoadFromMemory(bytes.data(), bytes.size()), 1);
  CIKTree root;
  CIKTree* a = root.AddChild(0, 0, pmd);
  D3DXMATRIX G[2] = {};
  ASSERT_EQ(root.UpdateMatrices(G, nullptr), 1);
  EXPECT_EQ(G[1], D3DXMATRIX());

  // a goal added after a walk is in the next one, below its parent
  CIKTree* b = a->AddChild(1, 1, pmd);
  EXPECT_EQ(root.FindByIndex(1), b);
  D3DXMatrixTranslation(&a->m_mAnim, 2, 0, 0);
  ASSERT_EQ(root.UpdateMatrices(G, nullptr), 1);
  EXPECT_NEAR(G[1]._41, 2.0f, 1e-6f);
  EXPECT_NEAR(G[1]._42, 3.0f, 1e-6f);

  // cleared below a: b is gone from every walk; a's walk from itself starts at the matrix given
  a->Clear();
  EXPECT_EQ(root.FindByIndex(1), nullptr);
  D3DXMATRIX G2[2] = {};
  D3DXMATRIX parent;
  D3DXMatrixTranslation(&parent, 0, 0, 5);
  ASSERT_EQ(a->UpdateMatrices(G2, &parent), 1);
  EXPECT_EQ(G2[1], D3DXMATRIX());  // a now stands for no list: nothing written
}

TEST(IkTree, ListsThatCannotOrNeedNotMoveLeaveThePoseAlone) {
  struct Case {
    const char* what;
    D3DXVECTOR3 goal;
    uint16_t iterations;
    int chain;
  };
  const Case cases[] = {
      {"no iterations", {0, 5, -5}, 0, 1},
      {"no chain bones", {0, 5, -5}, 10, 0},
      {"already within 0.02", {0.0f, 0.015f, 0.0f}, 10, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OneBoneChain rig("leg", c.goal, 1.0f, c.iterations, c.chain);
    const D3DXMATRIX before = rig.bone->m_mAnim;
    rig.Solve();
    EXPECT_EQ(rig.bone->m_mAnim, before);
  }
}

TEST(IkTree, OneStepTurnsNoFurtherThanTheControlWeight) {
  // the goal needs a quarter turn; one pass with a limit of 0.1 rad
  OneBoneChain rig("leg", {0, 5, -5}, 0.1f, 1);
  rig.Solve();
  EXPECT_NEAR(AngleOf(rig.bone->m_mAnim), 0.1f, 1e-4f);
  // with enough passes the tip reaches the goal
  OneBoneChain many("leg", {0, 5, -5}, 0.1f, 40);
  many.Solve();
  const D3DXVECTOR3 gap = many.Tip() - D3DXVECTOR3(0, 5, -5);
  EXPECT_LT(D3DXVec3Length(&gap), 0.03f);
}

TEST(IkTree, ANegativeControlWeightLimitsByItsSizeAndTurnsTowardsTheGoal) {
  // The goal needs a quarter turn. Files with a negative weight exist; the
  // step is limited by the weight's size, in the goal's direction.
  struct Case {
    float weight;
    float turn;  // radians turned by one pass
  };
  for (const Case& c : {Case{-0.1f, 0.1f}, Case{-0.5f, 0.5f}, Case{-3.0f, 1.5707964f}}) {
    SCOPED_TRACE(c.weight);
    OneBoneChain negative("leg", {0, 5, -5}, c.weight, 1);
    const D3DXVECTOR3 start = negative.Tip() - D3DXVECTOR3(0, 5, -5);
    negative.Solve();
    const D3DXVECTOR3 gap = negative.Tip() - D3DXVECTOR3(0, 5, -5);
    EXPECT_LT(D3DXVec3Length(&gap), D3DXVec3Length(&start));
    EXPECT_NEAR(AngleOf(negative.bone->m_mAnim), c.turn, 1e-4f);
    OneBoneChain positive("leg", {0, 5, -5}, -c.weight, 1);
    positive.Solve();
    EXPECT_EQ(negative.W[1], positive.W[1]);
  }
}

TEST(IkTree, AKneeTurnsOnlyForwardAboutItsOwnX) {
  // The tip hangs 5 below the knee; a goal 0.5 rad round +X (or -X) from it.
  const float s = std::sin(0.5f), c = std::cos(0.5f);
  struct Case {
    const char* what;
    D3DXVECTOR3 goal;
    float expected;  // radians about +X
  };
  const Case cases[] = {
      {"0.5 about +X turns by sin(0.25)", {0, 5 - 5 * c, -5 * s}, std::sin(0.25f)},
      {"0.5 about -X turns by the minimum", {0, 5 - 5 * c, 5 * s}, 0.002f},
      {"about Z shrinks to the minimum", {5 * s, 5 - 5 * c, 0}, 0.002f},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    OneBoneChain rig(Sjis("右ひざ"), k.goal, 1.0f, 1);
    rig.Solve();
    D3DXMATRIX want;
    D3DXMatrixRotationX(&want, k.expected);
    for (int r = 0; r < 3; ++r)
      for (int col = 0; col < 3; ++col) EXPECT_NEAR(rig.bone->m_mAnim.m[r][col], want.m[r][col], 2e-5f);
  }
  // the same geometry on a bone that is not a knee turns the whole 0.5
  OneBoneChain leg("leg", {0, 5 - 5 * c, 5 * s}, 1.0f, 1);
  leg.Solve();
  EXPECT_NEAR(AngleOf(leg.bone->m_mAnim), 0.5f, 1e-4f);
}

TEST(IkTree, DegenerateGeometryNeverMakesNaN) {
  struct Case {
    const char* what;
    D3DXVECTOR3 goal;
  };
  // the goal on the chain bone's own head; straight opposite the tip
  for (const Case& c : {Case{"goal at the bone's head", {0, 5, 0}}, Case{"goal opposite the tip", {0, 10, 0}}}) {
    SCOPED_TRACE(c.what);
    OneBoneChain rig("leg", c.goal, 4.0f, 20);
    rig.Solve();
    for (int r = 0; r < 4; ++r)
      for (int col = 0; col < 4; ++col) EXPECT_TRUE(std::isfinite(rig.W[1].m[r][col]));
  }
}

TEST(IkTree, ChainBonesOutsideTheSkeletonAreSkipped) {
  OneBoneChain rig("leg", {0, 5, -5}, 1.0f, 5);
  CPmdBone empty;  // the chain bone is not in this tree
  std::vector<D3DXMATRIX> W = rig.W;
  Solve({&rig.goals, &empty, &rig.pmd, W.data(), rig.B.data(), rig.G.data(), nullptr});
  EXPECT_EQ(W[1], rig.W[1]);
}

// The solver's inverse against the general one, entry for entry, on bone
// worlds as a skeleton makes them (rigid turns and offsets stacked down a
// chain, some scaled or sheared), and on matrices it must hand to the
// general inverse or refuse as that one does.
TEST(IkTree, TheBoneWorldInverseEqualsTheGeneralInverse) {
  std::mt19937 random(15);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  auto turn = [&] {
    D3DXQUATERNION q(unit(random), unit(random), unit(random), unit(random));
    D3DXQuaternionNormalize(&q, &q);
    D3DXMATRIX m;
    D3DXMatrixRotationQuaternion(&m, &q);
    m._41 = 20 * unit(random);
    m._42 = 20 * unit(random);
    m._43 = 20 * unit(random);
    return m;
  };
  auto expectSame = [](const D3DXMATRIX& w) {
    D3DXMATRIX general;
    BoneWorldInverse fast;
    const bool invertible = D3DXMatrixInverse(&general, nullptr, &w) != nullptr;
    ASSERT_EQ(InverseOfBoneWorld(w, &fast), invertible);
    if (!invertible) return;
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 3; ++c) ASSERT_EQ(fast.m[r][c], general.m[r][c]) << r << "," << c;
  };
  for (int i = 0; i < 2000; ++i) {
    SCOPED_TRACE(i);
    D3DXMATRIX w = turn();
    for (int depth = i % 6; depth > 0; --depth) w = turn() * w;
    if (i % 5 == 0) {  // scaled and sheared: still a last column of 0, 0, 0, 1
      w._11 *= 3.0f;
      w._23 += 0.5f * unit(random);
    }
    expectSame(w);
  }
  const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    const char* what;
    D3DXMATRIX w;
  };
  const Case cases[] = {
      {"identity", D3DXMATRIX(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1)},
      {"a last column other than 0 0 0 1", D3DXMATRIX(1, 0, 0, 0.5f, 0, 2, 0, 0, 0, 0, 1, -1, 3, 4, 5, 2)},
      {"a w of 2", D3DXMATRIX(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 3, 4, 5, 2)},
      {"flattened to a plane", D3DXMATRIX(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 3, 4, 5, 1)},
      {"all zero but w", D3DXMATRIX(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1)},
      {"an infinite offset", D3DXMATRIX(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, inf, 4, 5, 1)},
      {"a NaN turn", D3DXMATRIX(1, 0, 0, 0, 0, nan, 0, 0, 0, 0, 1, 0, 3, 4, 5, 1)},
      {"tiny", D3DXMATRIX(1e-30f, 0, 0, 0, 0, 1e-30f, 0, 0, 0, 0, 1e-30f, 0, 3, 4, 5, 1)},
      {"huge", D3DXMATRIX(1e30f, 0, 0, 0, 0, 1e30f, 0, 0, 0, 0, 1e30f, 0, 3e30f, 4, 5, 1)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    expectSame(c.w);
  }
}

}  // namespace
