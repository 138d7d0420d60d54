// Skinning kinds (linear, spherical, dual quaternion), grant bones, the
// deform order and IK link limits, each against results worked out by hand
// or against a simpler method where the two must agree.
#include "model/pmx_deform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

constexpr float kPi = 3.14159265f;
constexpr float kDeg = kPi / 180.0f;

D3DXMATRIX Rot(const D3DXVECTOR3& axis, float degrees) {
  D3DXMATRIX m;
  D3DXMatrixRotationAxis(&m, &axis, degrees * kDeg);
  return m;
}

D3DXMATRIX Move(float x, float y, float z) {
  D3DXMATRIX m;
  D3DXMatrixTranslation(&m, x, y, z);
  return m;
}

D3DXQUATERNION Turn(const D3DXVECTOR3& axis, float degrees) {
  D3DXQUATERNION q;
  D3DXQuaternionRotationAxis(&q, &axis, degrees * kDeg);
  return q;
}

// The point moved by one matrix, as the reference for rigid cases.
D3DXVECTOR3 Apply(const D3DXMATRIX& m, const D3DXVECTOR3& p) {
  D3DXVECTOR3 out;
  D3DXVec3TransformCoord(&out, &p, &m);
  return out;
}

float Dist(const D3DXVECTOR3& a, const D3DXVECTOR3& b) {
  const D3DXVECTOR3 d = a - b;
  return D3DXVec3Length(&d);
}

// Same turn: q and -q both count.
float QuatGap(const D3DXQUATERNION& a, const D3DXQUATERNION& b) {
  const float dot = a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w;
  return 1.0f - std::fabs(dot);
}

// The two per-vertex methods fed from skinning matrices the way a frame
// feeds them (the per-bone work done first).
SkinnedPoint Sdef(const D3DXMATRIX& s0, const D3DXMATRIX& s1, const SdefVertex& v, const D3DXVECTOR3& p,
                  const D3DXVECTOR3& n) {
  return SkinSdef(s0, s1, SkinRotation(s0), SkinRotation(s1), v, p, n);
}

SkinnedPoint Qdef(const D3DXMATRIX* skin, const int32_t* bone, const float* w, int count, const D3DXVECTOR3& p,
                  const D3DXVECTOR3& n) {
  std::vector<DualQuat> dq;
  for (int i = 0; i < 4; ++i) dq.push_back(SkinDualQuat(skin[i < count ? bone[i] : bone[0]]));
  const int32_t index[4] = {0, 1, 2, 3};
  return SkinQdef(dq.data(), index, w, count, p, n);
}

#define EXPECT_VEC_NEAR(a, b, tol)          \
  do {                                      \
    const D3DXVECTOR3 a_ = (a), b_ = (b);   \
    EXPECT_NEAR(a_.x, b_.x, tol) << #a;     \
    EXPECT_NEAR(a_.y, b_.y, tol) << #a;     \
    EXPECT_NEAR(a_.z, b_.z, tol) << #a;     \
  } while (0)

const D3DXVECTOR3 kX(1, 0, 0), kY(0, 1, 0), kZ(0, 0, 1);

// ---- skinning -------------------------------------------------------------

TEST(PmxSkinning, LinearWeightsAreScaledToOne) {
  const D3DXMATRIX skin[2] = {Move(2, 0, 0), Move(0, 4, 0)};
  const int32_t bone[2] = {0, 1};
  const D3DXVECTOR3 p(1, 1, 1), n(0, 1, 0);
  struct Case {
    float w[2];
    D3DXVECTOR3 want;
  } cases[] = {
      {{0.5f, 0.5f}, {2, 3, 1}},
      {{2.0f, 2.0f}, {2, 3, 1}},   // sum 4: the same halves
      {{3.0f, 1.0f}, {2.5f, 2, 1}},
      {{0.0f, 0.0f}, {3, 1, 1}},   // nothing: the first bone alone
  };
  for (const Case& c : cases) EXPECT_VEC_NEAR(SkinLinear(skin, bone, c.w, 2, p, n).pos, c.want, 1e-5f);
}

TEST(PmxSkinning, SdefUnderTranslationIsLinear) {
  struct Case {
    D3DXVECTOR3 t0, t1;
    float w0;
    D3DXVECTOR3 c, r0, r1, pos;
  } cases[] = {
      {{1, 2, 3}, {-4, 0.5f, 2}, 0.5f, {0, 1, 0}, {-1, 1, 0}, {1, 1, 0}, {0.3f, 1.5f, -0.2f}},
      {{0, 0, 0}, {0, 3, 0}, 0.25f, {0, 10, 0}, {0, 9, 0.5f}, {0, 12, -0.5f}, {1, 10, 1}},
      // R0 and R1 far from C and not balanced about it: the correction matters
      {{5, -1, 0}, {-2, 7, 1}, 0.8f, {2, 2, 2}, {7, 0, 3}, {-1, 9, 2}, {2.5f, 1, 3}},
      {{0.1f, 0.2f, 0.3f}, {9, 9, 9}, 1.0f, {0, 0, 0}, {1, 0, 0}, {-1, 0, 0}, {0, 1, 0}},
      {{0.1f, 0.2f, 0.3f}, {9, 9, 9}, 0.0f, {0, 0, 0}, {1, 0, 0}, {-1, 0, 0}, {0, 1, 0}},
  };
  for (const Case& c : cases) {
    const D3DXMATRIX skin[2] = {Move(c.t0.x, c.t0.y, c.t0.z), Move(c.t1.x, c.t1.y, c.t1.z)};
    const int32_t bone[2] = {0, 1};
    const float w[2] = {c.w0, 1.0f - c.w0};
    const D3DXVECTOR3 n(0, 0, 1);
    const SkinnedPoint linear = SkinLinear(skin, bone, w, 2, c.pos, n);
    const SkinnedPoint sdef = Sdef(skin[0], skin[1], MakeSdefVertex(c.w0, c.c, c.r0, c.r1), c.pos, n);
    EXPECT_VEC_NEAR(sdef.pos, linear.pos, 2e-5f);
    EXPECT_VEC_NEAR(sdef.normal, n, 1e-6f);
  }
}

// An elbow at the origin: the upper arm (bone 0) along -x stays, the forearm
// (bone 1) along +x bends 90 degrees about z. Points around the joint
// belong to both bones; linear blending pulls them towards the joint, the
// spherical blend turns them about it.
TEST(PmxSkinning, SdefKeepsVolumeInABend) {
  const D3DXMATRIX skin[2] = {Move(0, 0, 0) /* identity */, Rot(kZ, 90)};
  const int32_t bone[2] = {0, 1};
  struct Case {
    float w0;
    D3DXVECTOR3 pos;
    float r;  // R0 and R1 this far along their bones from C
  } cases[] = {
      {0.5f, {0, 1, 0}, 0},     // outer side of the bend
      {0.5f, {0, -1, 0}, 0},    // inner side
      {0.5f, {0, 0, 1}, 0},     // on the axis of the bend
      {0.25f, {0, 1, 0}, 0},
      {0.75f, {0, -1, 0.5f}, 0},
      {0.5f, {0, 1, 0}, 0.2f},  // reference points off the joint
      {0.5f, {0, -1, 0}, 0.2f},
  };
  const D3DXVECTOR3 c(0, 0, 0);
  for (const Case& k : cases) {
    const float w[2] = {k.w0, 1.0f - k.w0};
    const D3DXVECTOR3 n = k.pos / D3DXVec3Length(&k.pos);
    const SkinnedPoint linear = SkinLinear(skin, bone, w, 2, k.pos, n);
    const SdefVertex v = MakeSdefVertex(k.w0, c, D3DXVECTOR3(-k.r, 0, 0), D3DXVECTOR3(k.r, 0, 0));
    const SkinnedPoint sdef = Sdef(skin[0], skin[1], v, k.pos, n);
    const float rest = D3DXVec3Length(&k.pos);
    const float linearGap = std::fabs(Dist(linear.pos, c) - rest);
    const float sdefGap = std::fabs(Dist(sdef.pos, c) - rest);
    if (k.pos.z == 1.0f) {
      EXPECT_LT(sdefGap, 1e-5f);  // on the axis nothing moves either way
      continue;
    }
    EXPECT_GT(Dist(sdef.pos, linear.pos), 0.05f) << "w0 " << k.w0;
    EXPECT_LT(sdefGap, linearGap) << "w0 " << k.w0 << " r " << k.r;
    if (k.r == 0) {
      // the centre on the joint: a pure turn about it by w1 of the bend
      const D3DXVECTOR3 want = Apply(Rot(kZ, 90 * (1.0f - k.w0)), k.pos);
      EXPECT_VEC_NEAR(sdef.pos, want, 1e-5f);
      EXPECT_VEC_NEAR(sdef.normal, want / rest, 1e-5f);
    }
  }
}

TEST(PmxSkinning, SdefWithAllWeightOnOneBoneIsThatBone) {
  const D3DXMATRIX b0 = Rot(kY, 30) * Move(1, 2, 3), b1 = Rot(D3DXVECTOR3(1, 1, 0), -70) * Move(-2, 0, 1);
  const D3DXVECTOR3 p(0.5f, 1.5f, -1), n(0, 0, 1), c(0, 1, 0), r0(-1, 1, 0.2f), r1(1, 1.3f, 0);
  const SkinnedPoint only0 = Sdef(b0, b1, MakeSdefVertex(1, c, r0, r1), p, n);
  const SkinnedPoint only1 = Sdef(b0, b1, MakeSdefVertex(0, c, r0, r1), p, n);
  EXPECT_VEC_NEAR(only0.pos, Apply(b0, p), 1e-5f);
  EXPECT_VEC_NEAR(only1.pos, Apply(b1, p), 1e-5f);
}

// Bone 0 stays; bone 1 turns 90 degrees about y, then moves by (2, 0, 0).
// Worked by hand (s = c = 1/sqrt 2):
//   dq0 = (1; 0), dq1 = ((0, s, 0, c); 1/2 (2, 0, 0, 0) x (0, s, 0, c)) = ((0, s, 0, c); (c, 0, s, 0))
//   half of each: real (0, s/2, 0, (1 + c)/2), dual (c/2, 0, s/2, 0); |real| = sqrt(2 + sqrt 2)/2
//   normalised: real = 45 degrees about y = (0, sin 22.5, 0, cos 22.5), dual = (sin 22.5, 0, sin 22.5, 0)
//   t = 2 vec(dual x conj real) = (1, 0, sqrt 2 - 1)
// so (1, 0, 0) goes to (cos 45, 0, -sin 45) + t = (1 + s, 0, sqrt 2 - 1 - s); linear blending
// would give (1.5, 0, -0.5).
TEST(PmxSkinning, QdefMatchesAHandWorkedDualQuaternion) {
  const D3DXMATRIX skin[2] = {Move(0, 0, 0), Rot(kY, 90) * Move(2, 0, 0)};
  const int32_t bone[2] = {0, 1};
  const float w[2] = {0.5f, 0.5f};
  const float s = std::sqrt(0.5f);
  const SkinnedPoint q = Qdef(skin, bone, w, 2, D3DXVECTOR3(1, 0, 0), D3DXVECTOR3(1, 0, 0));
  EXPECT_VEC_NEAR(q.pos, D3DXVECTOR3(1 + s, 0, std::sqrt(2.0f) - 1 - s), 1e-5f);
  EXPECT_VEC_NEAR(q.normal, D3DXVECTOR3(s, 0, -s), 1e-5f);
  const SkinnedPoint l = SkinLinear(skin, bone, w, 2, D3DXVECTOR3(1, 0, 0), D3DXVECTOR3(1, 0, 0));
  EXPECT_VEC_NEAR(l.pos, D3DXVECTOR3(1.5f, 0, -0.5f), 1e-5f);
}

TEST(PmxSkinning, QdefOfRigidAgreementIsLinear) {
  // One bone, or several bones moving alike: every method is that bone.
  const D3DXMATRIX poses[] = {
      Rot(kX, 10) * Move(1, 2, 3),
      Rot(D3DXVECTOR3(1, 2, 3), 170) * Move(-5, 0, 2),
      Rot(D3DXVECTOR3(-1, 0.5f, 2), -120) * Move(0, 0, 0),
      Rot(kZ, 180) * Move(0.5f, 0.5f, 0.5f),
  };
  const D3DXVECTOR3 p(0.3f, -1.2f, 2.5f), n(0, 0.6f, 0.8f);
  for (const D3DXMATRIX& m : poses) {
    const D3DXMATRIX skin[4] = {m, m, m, m};
    const int32_t bone[4] = {0, 1, 2, 3};
    const float one[1] = {1}, four[4] = {0.1f, 0.2f, 0.3f, 0.4f};
    EXPECT_VEC_NEAR(Qdef(skin, bone, one, 1, p, n).pos, Apply(m, p), 2e-5f);
    EXPECT_VEC_NEAR(Qdef(skin, bone, four, 4, p, n).pos, Apply(m, p), 2e-5f);
    EXPECT_VEC_NEAR(Qdef(skin, bone, four, 4, p, n).normal, SkinLinear(skin, bone, four, 4, p, n).normal, 1e-5f);
  }
}

TEST(PmxSkinning, QdefBlendsAlongTheShorterArc) {
  // +170 and -170 degrees about y are 20 degrees apart across 180: the
  // halfway pose is 180 degrees, not the rest pose the raw sum gives.
  const D3DXMATRIX skin[2] = {Rot(kY, 170), Rot(kY, -170)};
  const int32_t bone[2] = {0, 1};
  const float w[2] = {0.5f, 0.5f};
  EXPECT_VEC_NEAR(Qdef(skin, bone, w, 2, D3DXVECTOR3(1, 0, 0), kY).pos, D3DXVECTOR3(-1, 0, 0), 1e-5f);
  // -170 and -10 degrees: the matrices' quaternions come out on opposite
  // hemispheres (w < 0 for the first); the halfway pose is -90 degrees
  const D3DXMATRIX apart[2] = {Rot(kY, -170), Rot(kY, -10)};
  EXPECT_VEC_NEAR(Qdef(apart, bone, w, 2, D3DXVECTOR3(1, 0, 0), kY).pos, D3DXVECTOR3(0, 0, 1), 1e-5f);
  // equal opposite turns of a quaternion pair can still not cancel to zero
  const D3DXMATRIX half[2] = {Rot(kY, 90), Rot(kY, -90)};
  const SkinnedPoint p = Qdef(half, bone, w, 2, D3DXVECTOR3(1, 0, 0), kY);
  EXPECT_TRUE(std::isfinite(p.pos.x) && std::isfinite(p.pos.y) && std::isfinite(p.pos.z));
}

TEST(PmxSkinning, HostileWeightsStayFinite) {
  const float nan = std::nanf(""), inf = INFINITY;
  const D3DXMATRIX skin[4] = {Move(1, 0, 0), Move(0, 1, 0), Rot(kX, 90), Rot(kY, 45)};
  const int32_t bone[4] = {0, 1, 2, 3};
  const D3DXVECTOR3 p(1, 2, 3), n(0, 0, 0);  // a zero normal stays zero
  struct Case {
    float w[4];
    int count;
  } cases[] = {
      {{nan, 0.5f, 0, 0}, 2}, {{inf, 1, 0, 0}, 4}, {{-1, 1, 0, 0}, 2},  // sums of NaN, inf and 0
      {{0.5f, 0.5f, 0, 0}, 0}, {{0.5f, 0.5f, 0, 0}, 9},                 // counts out of 1..4
  };
  auto finite = [](const SkinnedPoint& s) {
    return std::isfinite(s.pos.x) && std::isfinite(s.pos.y) && std::isfinite(s.pos.z) && s.normal == D3DXVECTOR3();
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(finite(SkinLinear(skin, bone, c.w, c.count, p, n)));
    EXPECT_TRUE(finite(Qdef(skin, bone, c.w, c.count, p, n)));
  }
  for (const float w0 : {nan, -3.0f, 7.0f, inf}) {
    const SdefVertex v = MakeSdefVertex(w0, D3DXVECTOR3(0, 1, 0), D3DXVECTOR3(1, 1, 0), D3DXVECTOR3(-1, 1, 0));
    EXPECT_TRUE(v.w0 >= 0.0f && v.w0 <= 1.0f) << w0;
    EXPECT_TRUE(finite(Sdef(skin[2], skin[3], v, p, n))) << w0;
  }
}

// ---- grant bones ----------------------------------------------------------

// Bones at the origin with no parents unless set, so world matrices are the
// motions themselves.
std::vector<DeformBone> Bones(size_t n) { return std::vector<DeformBone>(n); }

DeformBone Grant(int32_t from, float ratio, bool rot, bool pos, bool local = false) {
  DeformBone b;
  b.grantParent = from;
  b.grantRatio = ratio;
  b.grantRotation = rot;
  b.grantTranslation = pos;
  b.grantLocal = local;
  return b;
}

struct Evaluated {
  std::vector<BoneMotion> motion;
  std::vector<D3DXMATRIX> world;
};

Evaluated Evaluate(const std::vector<DeformBone>& bones, const std::vector<BoneMotion>& key) {
  Evaluated e{std::vector<BoneMotion>(bones.size()), std::vector<D3DXMATRIX>(bones.size())};
  for (D3DXMATRIX& m : e.world) D3DXMatrixIdentity(&m);
  const std::vector<int32_t> order = DeformOrder(bones, nullptr);
  EvaluateBones(bones, order, key, e.motion, e.world);
  return e;
}

TEST(PmxGrant, RatioChainNegativeAndLocal) {
  BoneMotion keyP;
  keyP.rot = Turn(kY, 60);
  keyP.pos = D3DXVECTOR3(2, 0, -4);
  struct Case {
    const char* what;
    DeformBone granted;
    float wantDegrees;  // about y
    D3DXVECTOR3 wantPos;
  } cases[] = {
      {"half rotation", Grant(0, 0.5f, true, false), 30, {0, 0, 0}},
      {"half translation", Grant(0, 0.5f, false, true), 0, {1, 0, -2}},
      {"half both", Grant(0, 0.5f, true, true), 30, {1, 0, -2}},
      {"negative", Grant(0, -1.0f, true, true), -60, {-2, 0, 4}},
      {"more than all", Grant(0, 1.5f, true, false), 90, {0, 0, 0}},
  };
  for (const Case& c : cases) {
    std::vector<DeformBone> bones = Bones(1);
    bones.push_back(c.granted);
    const Evaluated e = Evaluate(bones, {keyP, BoneMotion()});
    EXPECT_LT(QuatGap(e.motion[1].rot, Turn(kY, c.wantDegrees)), 1e-6f) << c.what;
    EXPECT_VEC_NEAR(e.motion[1].pos, c.wantPos, 1e-5f);
  }
}

TEST(PmxGrant, GrantsChainAndAddToTheBonesOwnKey) {
  // 0 turns 80 degrees; 1 takes half of 0; 2 takes half of 1's granted
  // amount (20), not of 1's key (nothing), and adds its own 5 degrees.
  std::vector<DeformBone> bones = {DeformBone(), Grant(0, 0.5f, true, true), Grant(1, 0.5f, true, true)};
  std::vector<BoneMotion> key(3);
  key[0].rot = Turn(kY, 80);
  key[0].pos = D3DXVECTOR3(0, 8, 0);
  key[2].rot = Turn(kY, 5);
  const Evaluated e = Evaluate(bones, key);
  EXPECT_LT(QuatGap(e.motion[1].rot, Turn(kY, 40)), 1e-6f);
  EXPECT_LT(QuatGap(e.motion[2].rot, Turn(kY, 25)), 1e-6f);
  EXPECT_VEC_NEAR(e.motion[2].pos, D3DXVECTOR3(0, 2, 0), 1e-5f);
}

TEST(PmxGrant, AfterPhysicsBonesSeeTheFirstStretchsGrants) {
  // 2 (after physics) takes half of 1, which took half of 0 in the stretch
  // before the physics step: the second call must see 1's granted turn.
  std::vector<DeformBone> bones = {DeformBone(), Grant(0, 0.5f, true, false), Grant(1, 0.5f, true, false)};
  bones[2].afterPhysics = true;
  std::vector<BoneMotion> key(3), motion(3);
  key[0].rot = Turn(kZ, 80);
  std::vector<D3DXMATRIX> world(3);
  size_t firstAfter = 0;
  const std::vector<int32_t> order = DeformOrder(bones, &firstAfter);
  ASSERT_EQ(firstAfter, 2u);
  const std::span<const int32_t> all(order);
  std::vector<uint8_t> scratch(1, 1);  // left over from elsewhere: must not matter
  EvaluateBones(bones, all.first(firstAfter), key, motion, world, true, &scratch);
  EvaluateBones(bones, all.subspan(firstAfter), key, motion, world, false, &scratch);
  EXPECT_LT(QuatGap(motion[1].rot, Turn(kZ, 40)), 1e-6f);
  EXPECT_LT(QuatGap(motion[2].rot, Turn(kZ, 20)), 1e-6f);
}

TEST(PmxGrant, LocalGrantTakesTheFullPose) {
  // 1 hangs under 0 and turns nothing of its own; 0 turns 40 degrees. A
  // plain grant from 1 takes nothing, a local one takes 1's full turn.
  std::vector<DeformBone> bones = Bones(2);
  bones[1].parent = 0;
  bones[1].head = D3DXVECTOR3(0, 1, 0);
  bones.push_back(Grant(1, 0.5f, true, true, false));
  bones.push_back(Grant(1, 0.5f, true, true, true));
  std::vector<BoneMotion> key(4);
  key[0].rot = Turn(kZ, 40);
  const Evaluated e = Evaluate(bones, key);
  EXPECT_LT(QuatGap(e.motion[2].rot, Turn(kZ, 0)), 1e-6f);
  EXPECT_VEC_NEAR(e.motion[2].pos, D3DXVECTOR3(0, 0, 0), 1e-6f);
  EXPECT_LT(QuatGap(e.motion[3].rot, Turn(kZ, 20)), 1e-6f);
  // 1's head swung from (0, 1, 0) to (-sin 40, cos 40, 0); half of that move
  const D3DXVECTOR3 moved(-std::sin(40 * kDeg), std::cos(40 * kDeg) - 1, 0);
  EXPECT_VEC_NEAR(e.motion[3].pos, moved * 0.5f, 1e-5f);
}

TEST(PmxGrant, HostileRecordsAreHarmless) {
  // a ratio that is not a number, a zero key quaternion, parents and order
  // entries past the bones, a bone that is its own parent
  std::vector<DeformBone> bones = {DeformBone(), Grant(0, std::nanf(""), true, true), Grant(0, 1, true, false)};
  bones[0].parent = 0;
  bones[1].parent = 99;
  std::vector<BoneMotion> key(3);
  key[0].rot = D3DXQUATERNION(0, 0, 0, 0);
  key[0].pos = D3DXVECTOR3(1, 0, 0);
  std::vector<BoneMotion> motion(3);
  std::vector<D3DXMATRIX> world(3);
  const std::vector<int32_t> order = {0, -4, 1, 1000, 2};
  EvaluateBones(bones, order, key, motion, world);
  EXPECT_LT(QuatGap(motion[1].rot, Turn(kX, 0)), 1e-6f);
  EXPECT_VEC_NEAR(motion[1].pos, D3DXVECTOR3(0, 0, 0), 0);
  EXPECT_LT(QuatGap(motion[2].rot, Turn(kX, 0)), 1e-6f);
  for (const D3DXMATRIX& m : world)
    for (int i = 0; i < 16; ++i) EXPECT_TRUE(std::isfinite(m.m[i / 4][i % 4]));
  // arrays shorter than the bones: nothing is touched
  std::vector<D3DXMATRIX> shortWorld(1);
  EvaluateBones(bones, order, key, motion, shortWorld);
  EXPECT_EQ(shortWorld[0], D3DXMATRIX());
}

TEST(PmxGrant, LoopsAndStrayParentsAreRefused) {
  struct Case {
    const char* what;
    std::vector<int32_t> from;  // grant parent per bone, -1 none
    int cleared;
    std::vector<int32_t> kept;  // grant parents left afterwards
  } cases[] = {
      {"two in a loop", {1, 0}, 2, {-1, -1}},
      {"itself", {0, -1}, 1, {-1, -1}},
      {"three in a loop with a tail into it", {1, 2, 0, 0}, 3, {-1, -1, -1, 0}},
      {"past the bones", {7, -5, -1}, 2, {-1, -1, -1}},
      {"a chain, no loop", {-1, 0, 1, 2}, 0, {-1, 0, 1, 2}},
  };
  for (const Case& c : cases) {
    std::vector<DeformBone> bones;
    for (int32_t f : c.from) bones.push_back(f == -1 ? DeformBone() : Grant(f, 1.0f, true, false));
    // evaluation never loops, refused or not
    std::vector<BoneMotion> key(bones.size());
    for (BoneMotion& k : key) k.rot = Turn(kX, 10);
    Evaluate(bones, key);
    EXPECT_EQ(RefuseBadGrants(bones), c.cleared) << c.what;
    for (size_t i = 0; i < bones.size(); ++i) {
      EXPECT_EQ(bones[i].grantParent, c.kept[i]) << c.what << " bone " << i;
      EXPECT_EQ(bones[i].grantRotation, c.kept[i] >= 0) << c.what << " bone " << i;
    }
  }
}

// ---- deform order ---------------------------------------------------------

TEST(PmxDeformOrder, LayerThenIndexAfterPhysicsLast) {
  struct Case {
    std::vector<std::pair<int32_t, bool>> bones;  // layer, after physics
    std::vector<int32_t> want;
    size_t firstAfter;
  } cases[] = {
      {{{0, false}, {0, false}, {0, false}}, {0, 1, 2}, 3},
      {{{2, false}, {0, false}, {1, false}, {0, false}}, {1, 3, 2, 0}, 4},
      {{{0, true}, {5, false}, {-1, true}, {0, false}}, {3, 1, 2, 0}, 2},
      {{{1, true}, {1, true}}, {0, 1}, 0},
      {{}, {}, 0},
  };
  for (const Case& c : cases) {
    std::vector<DeformBone> bones(c.bones.size());
    for (size_t i = 0; i < bones.size(); ++i) {
      bones[i].layer = c.bones[i].first;
      bones[i].afterPhysics = c.bones[i].second;
    }
    size_t firstAfter = 99;
    EXPECT_EQ(DeformOrder(bones, &firstAfter), c.want);
    EXPECT_EQ(firstAfter, c.firstAfter);
  }
}

TEST(PmxDeformOrder, OrderChangesTheResult) {
  // Bone 1 takes bone 0's full pose (local grant). With 0 in an earlier
  // layer 1 sees this pass's turn; with 0 later, the pose 0 had before.
  for (const int32_t layer0 : {0, 2}) {
    std::vector<DeformBone> bones = {DeformBone(), Grant(0, 1.0f, true, false, true)};
    bones[0].layer = layer0;
    bones[1].layer = 1;
    std::vector<BoneMotion> key(2);
    key[0].rot = Turn(kX, 30);
    const Evaluated e = Evaluate(bones, key);
    EXPECT_LT(QuatGap(e.motion[1].rot, Turn(kX, layer0 == 0 ? 30 : 0)), 1e-6f) << layer0;
  }
}

TEST(PmxDeformOrder, AChildBeforeItsParentLagsOnePass) {
  // 1 hangs 1 above 0 but is in an earlier layer: the first pass puts it
  // under 0's rest pose, the second under the pose the first pass gave 0.
  std::vector<DeformBone> bones(2);
  bones[1].parent = 0;
  bones[1].head = D3DXVECTOR3(0, 1, 0);
  bones[0].layer = 1;
  std::vector<BoneMotion> key(2);
  key[0].pos = D3DXVECTOR3(5, 0, 0);
  std::vector<BoneMotion> motion(2);
  std::vector<D3DXMATRIX> world(2);
  for (D3DXMATRIX& m : world) D3DXMatrixIdentity(&m);
  const std::vector<int32_t> order = DeformOrder(bones, nullptr);
  ASSERT_EQ(order, (std::vector<int32_t>{1, 0}));
  EvaluateBones(bones, order, key, motion, world);
  EXPECT_VEC_NEAR(D3DXVECTOR3(world[1]._41, world[1]._42, world[1]._43), D3DXVECTOR3(0, 1, 0), 1e-6f);
  EvaluateBones(bones, order, key, motion, world);
  EXPECT_VEC_NEAR(D3DXVECTOR3(world[1]._41, world[1]._42, world[1]._43), D3DXVECTOR3(5, 1, 0), 1e-6f);
}

// ---- IK limits ------------------------------------------------------------

TEST(PmxIkLimits, EulerAnglesRoundTrip) {
  const D3DXVECTOR3 angles[] = {{0.3f, 0.2f, 0.1f}, {2.5f, -1.0f, -3.0f}, {-3.1f, 1.2f, 0.5f}, {0, 0, 0}};
  for (const D3DXVECTOR3& a : angles) {
    D3DXQUATERNION qx = Turn(kX, a.x / kDeg), qy = Turn(kY, a.y / kDeg), qz = Turn(kZ, a.z / kDeg), q;
    D3DXQuaternionMultiply(&q, &qx, &qy);
    D3DXQuaternionMultiply(&q, &q, &qz);
    EXPECT_VEC_NEAR(EulerXyz(q), a, 1e-4f);
  }
  // y at +-90 degrees: x and z are one turn; the angles must rebuild it
  const IkLimits open{{-kPi, -kPi, -kPi}, {kPi, kPi, kPi}};
  for (const float y : {90.0f, -90.0f}) {
    D3DXQUATERNION qx = Turn(kX, 30), qy = Turn(kY, y), qz = Turn(kZ, 10), q;
    D3DXQuaternionMultiply(&q, &qx, &qy);
    D3DXQuaternionMultiply(&q, &q, &qz);
    EXPECT_LT(QuatGap(ClampToLimits(q, open), q), 1e-6f) << y;
  }
}

TEST(PmxIkLimits, KneeLimitsMirrorAndClamp) {
  const float lower[3] = {-kPi, 0, 0}, upper[3] = {-0.5f * kDeg, 0, 0};
  const IkLimits knee = MirrorIkLimits(lower, upper);
  EXPECT_VEC_NEAR(knee.lower, D3DXVECTOR3(0.5f * kDeg, 0, 0), 1e-7f);
  EXPECT_VEC_NEAR(knee.upper, D3DXVECTOR3(kPi, 0, 0), 1e-7f);
  // y and z ranges: x, y negated and swapped, z kept
  const float lo[3] = {-0.1f, -0.2f, -0.3f}, hi[3] = {0.4f, 0.5f, 0.6f};
  const IkLimits m = MirrorIkLimits(lo, hi);
  EXPECT_VEC_NEAR(m.lower, D3DXVECTOR3(-0.4f, -0.5f, -0.3f), 1e-7f);
  EXPECT_VEC_NEAR(m.upper, D3DXVECTOR3(0.1f, 0.2f, 0.6f), 1e-7f);

  struct Case {
    D3DXQUATERNION q;
    D3DXQUATERNION want;
  } cases[] = {
      {Turn(kX, -30), Turn(kX, 0.5f)},      // backwards: stops at the least bend
      {Turn(kX, 60), Turn(kX, 60)},         // forwards: kept
      {Turn(kX, 179), Turn(kX, 179)},
      {Turn(kY, 40), Turn(kX, 0.5f)},       // a twist is not a knee's
      {Turn(D3DXVECTOR3(1, 0, 1), 50), Turn(kX, EulerXyz(Turn(D3DXVECTOR3(1, 0, 1), 50)).x / kDeg)},
  };
  for (const Case& c : cases) EXPECT_LT(QuatGap(ClampToLimits(c.q, knee), c.want), 1e-6f);
}

// A leg in a plane: hip (0) at height 10, knee (1) at 5, ankle (2) at 0,
// solved towards a goal by cyclic coordinate descent over knee then hip,
// the way the solver turns links: each correction acts in the link's own
// frame before its pose, then the knee is clamped to its limits.
struct Leg {
  std::vector<DeformBone> bones = std::vector<DeformBone>(3);
  std::vector<BoneMotion> key = std::vector<BoneMotion>(3), motion = std::vector<BoneMotion>(3);
  std::vector<D3DXMATRIX> world = std::vector<D3DXMATRIX>(3);
  std::vector<int32_t> order{0, 1, 2};
  Leg() {
    bones[0].head = D3DXVECTOR3(0, 10, 0);
    bones[1].parent = 0;
    bones[1].head = D3DXVECTOR3(0, 5, 0);
    bones[2].parent = 1;
    bones[2].head = D3DXVECTOR3(0, 0, 0);
    for (D3DXMATRIX& m : world) D3DXMatrixIdentity(&m);
    EvaluateBones(bones, order, key, motion, world);
  }
  D3DXVECTOR3 Ankle() const { return D3DXVECTOR3(world[2]._41, world[2]._42, world[2]._43); }
  void Solve(const D3DXVECTOR3& goal, const IkLimits* kneeLimits) {
    for (int pass = 0; pass < 40; ++pass) {
      for (const int link : {1, 0}) {
        D3DXMATRIX inv;
        ASSERT_TRUE(D3DXMatrixInverse(&inv, nullptr, &world[size_t(link)]));
        D3DXVECTOR3 g = Apply(inv, goal), eff = Apply(inv, Ankle());
        D3DXVec3Normalize(&g, &g);
        D3DXVec3Normalize(&eff, &eff);
        const float angle = std::acos(std::fmin(1.0f, std::fmax(-1.0f, D3DXVec3Dot(&eff, &g))));
        D3DXVECTOR3 axis;
        D3DXVec3Cross(&axis, &eff, &g);
        if (angle < 1e-4f || D3DXVec3Length(&axis) < 1e-7f) continue;
        D3DXQUATERNION r;
        D3DXQuaternionRotationAxis(&r, &axis, std::fmin(angle, 0.5f));  // the per-step limit
        BoneMotion& m = key[size_t(link)];
        D3DXQuaternionMultiply(&m.rot, &r, &m.rot);
        if (link == 1 && kneeLimits) m.rot = ClampToLimits(m.rot, *kneeLimits);
        EvaluateBones(bones, order, key, motion, world);
      }
    }
  }
};

TEST(PmxIkLimits, AKneeLimitStopsTheLegBendingBackwards) {
  const float lower[3] = {-kPi, 0, 0}, upper[3] = {-0.5f * kDeg, 0, 0};
  const IkLimits knee = MirrorIkLimits(lower, upper);
  // The goal in front of the straight leg (+z here) first asks the knee to
  // bend backwards: free, it does; limited, it bends forwards and the hip
  // swings the leg there instead.
  for (const D3DXVECTOR3 goal : {D3DXVECTOR3(0, 3, 3), D3DXVECTOR3(0, 3, -3), D3DXVECTOR3(1, 4, 2)}) {
    Leg free;
    free.Solve(goal, nullptr);
    Leg limited;
    limited.Solve(goal, &knee);
    const float bend = EulerXyz(limited.key[1].rot).x;
    EXPECT_GE(bend, 0.5f * kDeg - 1e-5f) << goal.z;
    EXPECT_LT(Dist(limited.Ankle(), goal), 0.05f) << goal.z;
    if (goal.z > 0 && goal.x == 0) {
      EXPECT_LT(EulerXyz(free.key[1].rot).x, 0.0f) << "the free knee bends back";
    }
  }
}

}  // namespace
