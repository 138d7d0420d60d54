// PMX deformation in the scene: grant bones posed by a motion, the deform
// layer order, the bones after physics, IK links kept within their angle
// limits, and spherical and dual-quaternion vertices against linear ones.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "app/scene.h"
#include "platform/codepage.h"
#include "tests/common/small_stack.h"
#include "tests/common/temp_dir.h"
#include "tools/fixtures/pmx_fixture.h"
#include "tools/fixtures/vmd_fixture.h"

namespace {

using qev::Sjis;
using qev::fixture::PmxBoneDesc;
using qev::fixture::PmxDesc;
using qev::fixture::PmxVertexDesc;
using qev::fixture::VmdBoneKeyDesc;

constexpr float kPi = 3.14159265f;
constexpr uint16_t kPlain = 0x001E;  // rotatable, movable, visible, enabled; tail as an offset
constexpr uint16_t kGrantRot = 0x0100, kGrantMove = 0x0200, kGrantLocal = 0x0080;
constexpr uint16_t kAfterPhysics = 0x1000, kIk = 0x0020;

PmxBoneDesc Bone(const char* name, float x, float y, float z, int32_t parent, uint16_t flags = kPlain) {
  PmxBoneDesc b;
  b.name = name;
  b.pos[0] = x;
  b.pos[1] = y;
  b.pos[2] = z;
  b.parent = parent;
  b.flags = flags;
  return b;
}

PmxBoneDesc Granted(const char* name, float x, int32_t from, float ratio, uint16_t flags) {
  PmxBoneDesc b = Bone(name, x, 0, 0, -1, uint16_t(kPlain | flags));
  b.grantParent = from;
  b.grantRatio = ratio;
  return b;
}

// A model of the given bones and vertices (one triangle over the first
// three, or over vertex 0 repeated), UTF-8 names.
PmxDesc Model(std::vector<PmxBoneDesc> bones, std::vector<PmxVertexDesc> vertices = {}) {
  PmxDesc d;
  d.encoding = 1;
  d.bones = std::move(bones);
  if (vertices.empty()) vertices.resize(1);
  d.vertices = std::move(vertices);
  const int32_t n = int32_t(d.vertices.size());
  d.indices = {0, 1 % n, 2 % n};
  d.materials.resize(1);
  d.materials[0].indexCount = 3;
  return d;
}

VmdBoneKeyDesc Key(const char* name, float angleZ, float dx = 0, float dy = 0, float dz = 0) {
  VmdBoneKeyDesc k;
  k.name = Sjis(name);
  k.rot[2] = std::sin(angleZ / 2);
  k.rot[3] = std::cos(angleZ / 2);
  k.pos[0] = dx;
  k.pos[1] = dy;
  k.pos[2] = dz;
  return k;
}

struct Rig {
  qev::test::TempDir dir;
  CScene scene;
  std::string failure;
  int Load(const PmxDesc& d) {
    dir.WriteFile("m.pmx", qev::fixture::BuildPmx(d));
    failure.clear();
    scene.CalcBullet = 0;
    return scene.LoadModel(dir.Path("m.pmx").c_str(), nullptr, &failure);
  }
  int Play(std::vector<VmdBoneKeyDesc> keys) {
    qev::fixture::VmdDesc v;
    v.bones = std::move(keys);
    dir.WriteFile("m.vmd", qev::fixture::BuildVmd(v));
    return scene.LoadMotion(dir.Path("m.vmd").c_str(), &failure);
  }
  const D3DXMATRIX& W(int b) { return scene.W()[b]; }
  // The turn of a bone's world about z (radians) and its head's place.
  float TurnZ(int b) { return std::atan2(W(b)._12, W(b)._11); }
  D3DXVECTOR3 Head(int b) { return D3DXVECTOR3(W(b)._41, W(b)._42, W(b)._43); }
};

float Distance(const D3DXVECTOR3& a, const D3DXVECTOR3& b) {
  const D3DXVECTOR3 d = a - b;
  return D3DXVec3Length(&d);
}

// A chain of grants at 0.5 from a bone keyed 90 degrees about z and 2 up:
// the first granted bone turns and moves half of that, the one granted from
// it a quarter (a grant passes on the granted motion), and a bone granting
// from the full pose of a bone that has no key of its own but hangs under
// the keyed one turns by half only with the local flag.
TEST(SceneDeform, GrantChainTakesHalfOfItsGrantParentsMotion) {
  struct Case {
    uint16_t flags;  // of bone 4, granting from bone 3
    float turn4;     // bone 4's turn and move, in parts of E's
  };
  const Case cases[] = {{kGrantRot | kGrantMove | kGrantLocal, 0.5f}, {kGrantRot | kGrantMove, 0.0f}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags);
    Rig rig;
    ASSERT_EQ(rig.Load(Model({Bone("A", 0, 0, 0, -1), Granted("B", 5, 0, 0.5f, kGrantRot | kGrantMove),
                              Granted("C", 10, 1, 0.5f, kGrantRot | kGrantMove), Bone("E", 3, 0, 0, 0),
                              Granted("D", 15, 3, 0.5f, c.flags)})),
              1)
        << rig.failure;
    ASSERT_EQ(rig.Play({Key("A", kPi / 2, 0, 2, 0)}), 1) << rig.failure;
    const float a = rig.TurnZ(0);
    ASSERT_NEAR(std::fabs(a), kPi / 2, 1e-4f);
    EXPECT_NEAR(rig.TurnZ(1), a * 0.5f, 1e-4f);
    EXPECT_NEAR(rig.TurnZ(2), a * 0.25f, 1e-4f);
    EXPECT_NEAR(rig.TurnZ(3), a, 1e-4f) << "E hangs under A";
    EXPECT_NEAR(rig.TurnZ(4), a * c.turn4, 1e-4f);
    EXPECT_LT(Distance(rig.Head(1), D3DXVECTOR3(5, 1, 0)), 1e-4f);
    EXPECT_LT(Distance(rig.Head(2), D3DXVECTOR3(10, 0.5f, 0)), 1e-4f);
    // E's head went from (3, 0, 0) to A's place plus its offset turned:
    // the local grant moves D by half of that
    const D3DXVECTOR3 moved = rig.Head(3) - D3DXVECTOR3(3, 0, 0);
    EXPECT_GT(D3DXVec3Length(&moved), 3.0f);
    EXPECT_LT(Distance(rig.Head(4), D3DXVECTOR3(15, 0, 0) + moved * c.turn4), 1e-4f);
    // what the X bake keys for each bone (its kept pose) composes to the
    // world matrices drawn, grants included
    for (int b = 0; b < 5; ++b) {
      const CPmdBone& node = *rig.scene.BoneNode(b);
      D3DXMATRIX world = node.m_mPose;
      if (node.m_pParent && node.m_pParent->m_nIndex >= 0) world = node.m_mPose * rig.W(node.m_pParent->m_nIndex);
      for (int k = 0; k < 16; ++k) EXPECT_NEAR(world.m[k / 4][k % 4], rig.W(b).m[k / 4][k % 4], 1e-5f) << b;
    }
  }
}

// A local grant takes its grant parent's world as it stands when the bone
// is evaluated: a lower deform layer (or the same layer and a lower index)
// sees the bind pose, a higher layer the keyed pose, and a bone after
// physics comes after every other whatever its layer.
TEST(SceneDeform, DeformLayerOrderDecidesWhatALocalGrantSees) {
  struct Case {
    int32_t grantedLayer, sourceLayer;
    uint16_t grantedFlags;
    float turned;  // parts of the source's turn
  };
  const Case cases[] = {
      {0, 0, 0, 0.0f},             // index order: the granted bone (0) first
      {1, 0, 0, 1.0f},             // a later layer
      {0, 3, 0, 0.0f},             // an earlier layer
      {0, 3, kAfterPhysics, 1.0f}  // after physics: after every layer
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.grantedLayer << " " << c.sourceLayer << " " << c.grantedFlags);
    PmxBoneDesc granted = Granted("G", 4, 1, 1.0f, uint16_t(kGrantRot | kGrantLocal | c.grantedFlags));
    granted.layer = c.grantedLayer;
    PmxBoneDesc source = Bone("S", 0, 0, 0, -1);
    source.layer = c.sourceLayer;
    Rig rig;
    ASSERT_EQ(rig.Load(Model({granted, source})), 1) << rig.failure;
    ASSERT_EQ(rig.Play({Key("S", 1.0f)}), 1) << rig.failure;
    ASSERT_NEAR(rig.TurnZ(1), 1.0f, 1e-4f);
    EXPECT_NEAR(rig.TurnZ(0), c.turned, 1e-4f);
  }
}

// A grant that leads back round to its own bone is refused at load with a
// log line; the model loads and its bones follow their keys alone.
TEST(SceneDeform, GrantCycleLoadsWithItsLogLine) {
  Rig rig;
  qev::test::LogCapture log;
  ASSERT_EQ(rig.Load(Model({Granted("P", 0, 1, 0.5f, kGrantRot), Granted("Q", 2, 0, 0.5f, kGrantRot),
                            Granted("R", 4, 1, 0.5f, kGrantRot)})),
            1)
      << rig.failure;
  EXPECT_TRUE(log.Contains("PMX bones : 2 grants refused, their grant parent is out of range or leads back round\n"))
      << log.Text();
  ASSERT_EQ(rig.Play({Key("P", 1.0f), Key("Q", 0.4f)}), 1) << rig.failure;
  EXPECT_NEAR(rig.TurnZ(0), 1.0f, 1e-4f);
  EXPECT_NEAR(rig.TurnZ(1), 0.4f, 1e-4f);
  EXPECT_NEAR(rig.TurnZ(2), 0.2f, 1e-4f) << "R's grant leads into the loop but not round it";
}

// A leg (thigh, knee, ankle straight down) reaching for an IK goal moved
// up and forward or back: a knee link with the classic limits (x between
// -180 and -0.5 degrees in the file) stays within them whichever way the
// goal lies, where the same link without limits (and named so the knee
// rule does not apply) bends the other way for one of them.
TEST(SceneDeform, IkLinkLimitsKeepTheKneeFromBendingBackwards) {
  auto leg = [](bool limits) {
    PmxBoneDesc thigh = Bone("thigh", 0, 10, 0, -1);
    PmxBoneDesc knee = Bone(limits ? "ひざ" : "knee", 0, 5, 0, 0);
    PmxBoneDesc ankle = Bone("ankle", 0, 0, 0, 1);
    PmxBoneDesc ik = Bone("IK", 0, 0, 0, -1, kPlain | kIk);
    ik.ikTarget = 2;
    ik.ikLoops = 40;
    ik.ikLimitAngle = 0.5f;
    qev::fixture::PmxIkLinkDesc kneeLink;
    kneeLink.bone = 1;
    kneeLink.hasLimits = limits;
    kneeLink.lower[0] = -kPi;
    kneeLink.upper[0] = -0.5f * kPi / 180;
    qev::fixture::PmxIkLinkDesc thighLink;
    thighLink.bone = 0;
    ik.ikLinks = {kneeLink, thighLink};
    return Model({thigh, knee, ankle, ik});
  };
  // the knee's turn about x (our space) for a goal behind (-2) and in front (+2)
  struct Case {
    bool limits;
    float z;
    float knee = 0;
    float reach = 0;  // the ankle's height
  };
  Case cases[] = {{false, -2.0f}, {false, 2.0f}, {true, -2.0f}, {true, 2.0f}};
  for (Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "limits " << c.limits << " goal z " << c.z);
    Rig rig;
    ASSERT_EQ(rig.Load(leg(c.limits)), 1) << rig.failure;
    ASSERT_EQ(rig.Play({Key("IK", 0.0f, 0, 3, c.z)}), 1) << rig.failure;
    const ModelIkLink& link = rig.scene.m_model.m_iks[0].links[0];
    D3DXQUATERNION q;
    D3DXQuaternionRotationMatrix(&q, &rig.scene.BoneNode(1)->m_mAnim);
    const D3DXVECTOR3 e = EulerXyz(q);
    c.knee = e.x;
    c.reach = rig.Head(2).y;
    if (c.limits) {
      EXPECT_GE(e.x, link.lower[0] - 1e-4f);
      EXPECT_LE(e.x, link.upper[0] + 1e-4f);
      EXPECT_NEAR(e.y, 0.0f, 1e-4f);
      EXPECT_NEAR(e.z, 0.0f, 1e-4f);
    }
  }
  // without limits the knee bends towards the goal, backwards for the one behind
  EXPECT_LT(cases[0].knee, -0.3f);
  EXPECT_GT(cases[1].knee, 0.3f);
  EXPECT_NEAR(cases[0].reach, 3.0f, 0.1f);
  // with them it does not; in front the solution is the same
  EXPECT_GT(cases[2].knee, 0.0f);
  EXPECT_NEAR(cases[3].knee, cases[1].knee, 1e-3f);
  EXPECT_NEAR(cases[3].reach, 3.0f, 0.1f);
}

// A spherical or dual-quaternion vertex halfway between a bone and its
// child skins as a linear one beside it under a pure translation; under a
// 90-degree bend of the child it differs, and keeps its distance from the
// joint where the linear blend pulls it in (by 1 - 1 / sqrt 2).
TEST(SceneDeform, CurvedSkinningEqualsLinearUnderTranslationAndKeepsVolumeInABend) {
  for (const uint8_t kind : {uint8_t(kSkinSdef), uint8_t(kSkinQdef)}) {
    SCOPED_TRACE(int(kind));
    PmxVertexDesc curved, linear;
    for (PmxVertexDesc* v : {&curved, &linear}) {
      v->pos[0] = 1;
      v->pos[1] = 5;
      v->bone[0] = 0;
      v->bone[1] = 1;
      v->weight[0] = v->weight[1] = 0.5f;
      v->normal[0] = 1;
      v->normal[1] = 0;
    }
    linear.deform = 1;
    curved.deform = kind;
    // centre and reference points on the joint: the vertex keeps its distance from it
    curved.sdefC[1] = curved.sdefR0[1] = curved.sdefR1[1] = 5;
    Rig rig;
    ASSERT_EQ(rig.Load(Model({Bone("root", 0, 0, 0, -1), Bone("joint", 0, 5, 0, 0)}, {curved, linear, linear})), 1)
        << rig.failure;
    ASSERT_EQ(rig.scene.m_model.m_vertices[0].skinning, kind);

    ASSERT_EQ(rig.Play({Key("root", 0.0f, 1, 2, 3), Key("joint", 0.0f, -2, 0.5f, 1)}), 1);
    rig.scene.UpdateSkin();
    rig.scene.UpdateSkinNormals();
    const std::vector<D3DXVECTOR3>& p = rig.scene.m_posed;
    EXPECT_LT(Distance(p[0], p[1]), 1e-5f);
    EXPECT_GT(Distance(p[0], D3DXVECTOR3(1, 5, 0)), 1.0f) << "it moved";
    EXPECT_LT(Distance(rig.scene.m_posedNormals[0], rig.scene.m_posedNormals[1]), 1e-5f);

    ASSERT_EQ(rig.Play({Key("joint", kPi / 2)}), 1);
    rig.scene.UpdateSkin();
    rig.scene.UpdateSkinNormals();
    const D3DXVECTOR3 joint = rig.Head(1);
    EXPECT_GT(Distance(p[0], p[1]), 0.1f);
    EXPECT_NEAR(Distance(p[0], joint), 1.0f, 1e-4f);
    EXPECT_NEAR(Distance(p[1], joint), std::sqrt(0.5f), 1e-4f);
    // the normal turns halfway with the vertex, unit length
    EXPECT_NEAR(D3DXVec3Length(&rig.scene.m_posedNormals[0]), 1.0f, 1e-4f);
    EXPECT_NEAR(std::fabs(std::atan2(rig.scene.m_posedNormals[0].y, rig.scene.m_posedNormals[0].x)), kPi / 4, 1e-4f);
  }
}

// A spherical vertex whose second bone has no weight (its slot may name
// any bone, never checked) is carried by its first bone alone.
TEST(SceneDeform, CurvedVertexWithAnUnweightedSlotFollowsItsFirstBone) {
  for (const uint8_t kind : {uint8_t(kSkinSdef), uint8_t(kSkinQdef)}) {
    SCOPED_TRACE(int(kind));
    PmxVertexDesc v;
    v.deform = kind;
    v.pos[0] = 2;
    v.bone[0] = 0;
    v.bone[1] = 77;  // past the bones
    v.bone[2] = -5;
    v.bone[3] = 1000;
    v.weight[0] = 1;
    v.weight[1] = v.weight[2] = v.weight[3] = 0;
    Rig rig;
    ASSERT_EQ(rig.Load(Model({Bone("root", 0, 0, 0, -1)}, {v})), 1) << rig.failure;
    ASSERT_EQ(rig.Play({Key("root", kPi / 2, 0, 1, 0)}), 1);
    rig.scene.UpdateSkin();
    rig.scene.UpdateSkinNormals();
    D3DXVECTOR3 expected;
    const D3DXVECTOR3 bind(2, 0, 0);
    D3DXVec3TransformCoord(&expected, &bind, &rig.scene.W()[0]);
    EXPECT_LT(Distance(rig.scene.m_posed[0], expected), 1e-5f);
  }
}

// The bones after physics are evaluated again once the physics step has
// moved the bones it drives: one granting from a falling body's bone's full
// pose moves with it; a bone before physics doing the same does not see the
// step's result (in pose playback nothing but the physics moves bones).
TEST(SceneDeform, BonesAfterPhysicsSeeTheStepsResult) {
  PmxBoneDesc falling = Bone("fall", 0, 10, 0, -1);
  PmxBoneDesc after = Granted("after", 4, 0, 1.0f, uint16_t(kGrantMove | kGrantLocal | kAfterPhysics));
  PmxBoneDesc before = Granted("before", 8, 0, 1.0f, uint16_t(kGrantMove | kGrantLocal));
  PmxDesc d = Model({falling, after, before});
  qev::fixture::PmxRigidBodyDesc body;
  body.name = "body";
  body.bone = 0;
  body.size[0] = 0.5f;
  body.pos[1] = 10;
  body.mode = 1;
  d.rigidBodies = {body};
  Rig rig;
  ASSERT_EQ(rig.Load(d), 1) << rig.failure;
  rig.scene.CalcBullet = 1;
  ASSERT_TRUE(rig.scene.m_physics.HasWorld());
  for (int f = 0; f < 10; ++f) rig.scene.PlayFrame();
  const D3DXVECTOR3 drop = rig.Head(0) - D3DXVECTOR3(0, 10, 0);
  EXPECT_GT(D3DXVec3Length(&drop), 0.01f) << "the body fell with its bone";
  EXPECT_LT(Distance(rig.Head(1), D3DXVECTOR3(4, 0, 0) + drop), 1e-4f);
  EXPECT_LT(Distance(rig.Head(2), D3DXVECTOR3(8, 0, 0)), 1e-4f);
}

// Far too little stack for a walk that takes some for every level of the
// chains below; plenty for loading and posing a model.
constexpr size_t kSmallStack = 256 * 1024;

// A PMX file may hang far more bones in one chain than a PMD file can hold
// (its parents are 4-byte indices). Each bone of this chain grants its
// parent's move in full, so a key moving the first bone 1 up carries the
// last one as many units up as there are bones; the same bones granting
// round in a ring lose their grants at load, each counted once.
TEST(SceneDeform, AChainDeeperThanAPmdCanHoldLoadsPlaysAndGoesOnASmallStack) {
  constexpr int kBones = 70000;
  const bool ran = qev::test::RunOnSmallStack(kSmallStack, [] {
    std::vector<PmxBoneDesc> chain;
    for (int j = 0; j < kBones; ++j) {
      const std::string name = "c" + std::to_string(j);
      chain.push_back(j == 0 ? Bone(name.c_str(), 0, 0, 0, -1) : Granted(name.c_str(), 0, j - 1, 1.0f, kGrantMove));
      chain.back().parent = j - 1;
    }
    PmxVertexDesc last;
    last.bone[0] = kBones - 1;
    Rig rig;
    ASSERT_EQ(rig.Load(Model(chain, {last})), 1) << rig.failure;
    ASSERT_EQ(rig.Play({Key("c0", 0, 0, 1, 0)}), 1) << rig.failure;
    EXPECT_EQ(rig.W(kBones - 1)._42, float(kBones));
    EXPECT_EQ(rig.W(kBones / 2)._42, float(kBones / 2 + 1));
    rig.scene.DiscardModel();
    EXPECT_TRUE(rig.scene.m_skeleton.m_children.empty());

    for (int j = 0; j < kBones; ++j) {
      chain[size_t(j)].grantParent = (j + 1) % kBones;
      chain[size_t(j)].flags |= kGrantMove;
    }
    qev::test::LogCapture log;
    ASSERT_EQ(rig.Load(Model(chain, {last})), 1) << rig.failure;
    EXPECT_TRUE(log.Contains("PMX bones : " + std::to_string(kBones) +
                             " grants refused, their grant parent is out of range or leads back round\n"));
    ASSERT_EQ(rig.Play({Key("c0", 0, 0, 1, 0)}), 1) << rig.failure;
    EXPECT_EQ(rig.W(kBones - 1)._42, 1.0f) << "the key alone, carried down the chain";
  });
  EXPECT_TRUE(ran);
}

}  // namespace
