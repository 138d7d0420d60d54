// PMX morphs played in a scene from a motion: a key naming a group drives
// its members, bone morphs reach the bones before the matrices (with the
// same frame's key), material and uv morphs reach the recorded draws while
// the model's own looks stay, and impulse morphs push simulated bodies.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/scene.h"
#include "platform/recording_device.h"
#include "tests/common/temp_dir.h"
#include "tools/fixtures/pmx_fixture.h"
#include "tools/fixtures/vmd_fixture.h"

namespace {

using namespace qev::fixture;

// One triangle on the arm, one on the root; the arm's body simulated.
PmxDesc Model(std::vector<PmxMorphDesc> morphs) {
  PmxDesc d;
  d.encoding = 1;
  for (int i = 0; i < 6; ++i) {
    PmxVertexDesc v;
    v.pos[0] = float(i % 3);
    v.pos[1] = float(i / 3);
    v.uv[0] = 0.5f;
    v.uv[1] = 0.25f;
    v.bone[0] = i < 3 ? 1 : 0;
    d.vertices.push_back(v);
  }
  d.indices = {0, 1, 2, 3, 4, 5};
  PmxMaterialDesc a, b;
  a.name = "a";
  a.indexCount = 3;
  a.diffuse[0] = 0.8f;
  a.diffuse[1] = 0.6f;
  a.diffuse[2] = 0.2f;
  b.name = "b";
  b.indexCount = 3;
  d.materials = {a, b};
  PmxBoneDesc root, arm;
  root.name = "root";
  root.flags |= 0x0004;
  arm.name = "arm";
  arm.parent = 0;
  arm.pos[1] = 1;
  arm.flags |= 0x0004;
  d.bones = {root, arm};
  d.morphs = std::move(morphs);
  return d;
}

struct Rig {
  qev::test::TempDir dir;
  qev::RecordingDevice device;
  CScene scene;
  std::string failure;
  bool Load(const PmxDesc& model, const VmdDesc& motion) {
    dir.WriteFile("m.pmx", BuildPmx(model));
    dir.WriteFile("m.vmd", BuildVmd(motion));
    return scene.LoadModel(dir.Path("m.pmx").c_str(), &device, &failure) == 1 &&
           scene.LoadMotion(dir.Path("m.vmd").c_str(), &failure) == 1;
  }
};

VmdDesc Keys(std::vector<VmdMorphKeyDesc> morphs, std::vector<VmdBoneKeyDesc> bones = {}) {
  VmdDesc d;
  d.extent = VmdExtent::kMorphs;
  d.morphs = std::move(morphs);
  VmdBoneKeyDesc end;  // a key far off so the motion does not wrap
  end.name = "root";
  end.frame = 100;
  bones.push_back(end);
  d.bones = std::move(bones);
  return d;
}

TEST(SceneMorphs, AKeyNamingAGroupMovesAndTurnsTheBoneOnTopOfItsOwnKey) {
  // "g" hands 0.5 of its weight to "m", which moves the arm by (0, 2, 0)
  // and turns it 90 degrees about z; the arm's own key moves it by (1, 0, 0).
  const float s = std::sqrt(0.5f);
  VmdBoneKeyDesc armKey;
  armKey.name = "arm";
  armKey.pos[0] = 1.0f;
  Rig rig;
  ASSERT_TRUE(rig.Load(Model({MakeMorph("m", 2, {MorphOffset(1, {0, 2, 0, 0, 0, s, s})}), MakeMorph("g", 0, {MorphOffset(0, {0.5f})})}),
                       Keys({{"g", 0, 0.0f}, {"g", 10, 2.0f}}, {armKey})))
      << rig.failure;
  rig.scene.CalcIK = 0;
  rig.scene.CalcBullet = 0;
  struct Case {
    int frame;
    float weight;  // m's played weight: g's x 0.5
  };
  for (const Case c : {Case{0, 0.0f}, Case{5, 0.5f}, Case{10, 1.0f}}) {
    SCOPED_TRACE(c.frame);
    rig.scene.SeekMotion(c.frame);
    EXPECT_FLOAT_EQ(rig.scene.m_morph.Weight(0), c.weight);
    const D3DXMATRIX& w = rig.scene.W()[1];
    // the head (0, 1, 0) + the key's (1, 0, 0) + weight x (0, 2, 0)
    EXPECT_NEAR(w._41, 1.0f, 1e-5f);
    EXPECT_NEAR(w._42, 1.0f + 2.0f * c.weight, 1e-5f);
    EXPECT_NEAR(w._43, 0.0f, 1e-5f);
    // weight x 90 degrees about z; its first row is (cos, sin, 0)
    const float angle = c.weight * float(M_PI) / 2.0f;
    EXPECT_NEAR(w._11, std::cos(angle), 1e-5f);
    EXPECT_NEAR(std::fabs(w._12), std::sin(angle), 1e-5f);
  }
  // the root carries no morph: unmoved
  EXPECT_NEAR(rig.scene.W()[0]._41, 0.0f, 1e-6f);
  EXPECT_NEAR(rig.scene.W()[0]._42, 0.0f, 1e-6f);
}

const SkinnedVertex* Drawn(const qev::RecordedCall* call) {
  return reinterpret_cast<const SkinnedVertex*>(call->vertices.data());
}

TEST(SceneMorphs, MaterialAndUvMorphsReachTheRecordedDrawsAndTheOwnLooksStay) {
  // "mul": material 0's diffuse red x 0.5, power x 2; "add": every
  // material's green + 0.25 and edge size + 1; "uv": vertex 1's uv + (0.25, 0.5).
  std::vector<float> mul(28, 1.0f);
  mul[0] = 0.5f;
  mul[7] = 2.0f;
  std::vector<float> add(28, 0.0f);
  add[1] = 0.25f;
  add[15] = 1.0f;
  Rig rig;
  ASSERT_TRUE(rig.Load(Model({MakeMorph("mul", 8, {MorphOffset(0, mul, 0)}), MakeMorph("add", 8, {MorphOffset(-1, add, 1)}),
                              MakeMorph("uv", 3, {MorphOffset(1, {0.25f, 0.5f, 0, 0})})}),
                       Keys({{"mul", 0, 1.0f}, {"add", 0, 0.5f}, {"uv", 0, 1.0f}})))
      << rig.failure;
  rig.device.BeginScene();  // vertices are kept only inside a scene
  rig.scene.DrawModel(&rig.device);
  rig.scene.DrawShadedModel(&rig.device);
  rig.device.EndScene();

  const auto unlit = rig.device.Find("DrawPrimitiveUP");
  ASSERT_EQ(unlit.size(), 2u);
  // material 0: red 0.8 x 0.5, green 0.6 + 0.125, blue 0.2; material 1: its
  // 0.8 grey with green + 0.125
  EXPECT_EQ(Drawn(unlit[0])[0].diffuse, 0xFF000000u | uint32_t(0.4f * 255) << 16 | uint32_t(0.725f * 255) << 8 |
                                            uint32_t(0.2f * 255));
  EXPECT_EQ(Drawn(unlit[1])[0].diffuse, 0xFF000000u | uint32_t(0.8f * 255) << 16 | uint32_t(0.925f * 255) << 8 |
                                            uint32_t(0.8f * 255));
  // the mirror swapped each triangle's first two: vertex 1 is drawn first
  EXPECT_EQ(Drawn(unlit[0])[0].uv[0], 0.75f) << "vertex 1 drawn with its uv moved";
  EXPECT_EQ(Drawn(unlit[0])[0].uv[1], 0.75f);
  EXPECT_EQ(Drawn(unlit[0])[1].uv[0], 0.5f) << "vertex 0 as it is";

  const auto shaded = rig.device.Find("DrawShadedUP(material");
  ASSERT_EQ(shaded.size(), 2u);
  EXPECT_FLOAT_EQ(shaded[0]->shaded.diffuse[0], 0.4f);
  EXPECT_FLOAT_EQ(shaded[0]->shaded.diffuse[1], 0.725f);
  EXPECT_FLOAT_EQ(shaded[0]->shaded.power, 10.0f);
  EXPECT_FLOAT_EQ(shaded[1]->shaded.power, 5.0f);
  EXPECT_EQ(Drawn(shaded[0])[0].uv[1], 0.75f);
  const auto outlines = rig.device.Find("DrawShadedUP(outline");
  ASSERT_EQ(outlines.size(), 2u);
  EXPECT_FLOAT_EQ(outlines[0]->shaded.edgeSize, 1.5f * kEdgePixelsPerSize);
  // the model's own looks, as the exporters read them
  EXPECT_FLOAT_EQ(rig.scene.m_looks[0].diffuse[0], 0.8f);
  EXPECT_FLOAT_EQ(rig.scene.m_looks[0].power, 5.0f);

  // the weights back to 0: the draws are the model's own again
  rig.scene.RefreshPose();
  rig.device.calls.clear();
  rig.device.BeginScene();
  rig.scene.DrawModel(&rig.device);
  rig.device.EndScene();
  const auto again = rig.device.Find("DrawPrimitiveUP");
  ASSERT_EQ(again.size(), 2u);
  EXPECT_EQ(Drawn(again[0])[0].diffuse, 0xFF000000u | uint32_t(0.8f * 255) << 16 | uint32_t(0.6f * 255) << 8 |
                                            uint32_t(0.2f * 255));
  EXPECT_EQ(Drawn(again[0])[0].uv[0], 0.5f);
}

TEST(SceneMorphs, AnImpulseMorphPushesItsSimulatedBodyWhilePlaying) {
  // The arm's body simulated; "push" gives it 30 units a second along x.
  PmxDesc model = Model({MakeMorph("push", 10, {MorphOffset(0, {30, 0, 0, 0, 0, 0}, 0)})});
  PmxRigidBodyDesc body;
  body.name = "body";
  body.bone = 1;
  body.mode = 1;
  body.pos[1] = 1;
  model.rigidBodies = {body};
  float x[2] = {};
  for (int played = 0; played < 2; ++played) {
    SCOPED_TRACE(played);
    Rig rig;
    ASSERT_TRUE(rig.Load(model, Keys({{"push", 0, played ? 1.0f : 0.0f}}))) << rig.failure;
    rig.scene.CalcIK = 0;
    for (int f = 0; f < 5; ++f) rig.scene.PlayFrame();
    x[played] = rig.scene.W()[1]._41;
  }
  EXPECT_NEAR(x[0], 0.0f, 1e-3f) << "falling straight down without the push";
  EXPECT_GT(x[1], 1.0f) << "pushed along x: 30 units a second over several frames";
}

}  // namespace
