// Playback: the frame counter and its wrap, SPACE, switching between pose and
// motion, failed loads that keep what was playing, IK on or off, and the
// expressions a motion plays on the skinned mesh, and the motion's switches
// of single IK lists and of the model's visibility.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "app/draw_frame.h"
#include "app/grid.h"
#include "app/scene.h"
#include "platform/codepage.h"
#include "platform/recording_device.h"
#include "render/d3d_camera.h"
#include "render/d3d_line90.h"
#include "render/d3d_locater.h"
#include "tests/common/temp_dir.h"
#include "tools/fixtures/pmd_fixture.h"
#include "tools/fixtures/vmd_fixture.h"
#include "tools/fixtures/vpd_fixture.h"

namespace {

using qev::Sjis;
using namespace qev::fixture;

// The centre bone (0) of the sample moves along X with the frame number.
VmdDesc CentreSlide(uint32_t lastFrame) {
  VmdDesc d;
  d.extent = VmdExtent::kMorphs;
  VmdBoneKeyDesc a, b;
  a.name = b.name = Sjis("センター");
  b.frame = lastFrame;
  b.pos[0] = float(lastFrame);
  d.bones = {a, b};
  return d;
}

struct PlaybackRig {
  qev::test::TempDir dir;
  CScene scene;
  std::string failure;
  PlaybackRig() {
    dir.WriteFile("m.pmd", BuildPmd(SamplePmd()));
    EXPECT_EQ(scene.LoadModel(dir.Path("m.pmd").c_str(), nullptr, &failure), 1);
  }
  int Motion(const VmdDesc& d, const char* name = "m.vmd") {
    dir.WriteFile(name, BuildVmd(d));
    return scene.LoadMotion(dir.Path(name).c_str(), &failure);
  }
  int Pose(const VpdDesc& d, const char* name = "p.vpd") {
    dir.WriteFile(name, BuildVpd(d));
    return scene.LoadPose(dir.Path(name).c_str(), &failure);
  }
  float CentreX() { return scene.W()[0]._41; }
};

TEST(Playback, AMotionPlaysUpToItsHighestFrameAndWrapsBeforeIt) {
  PlaybackRig rig;
  ASSERT_EQ(rig.Motion(CentreSlide(3)), 1);
  EXPECT_EQ(rig.scene.m_nMode, kMotionPlayback);
  EXPECT_EQ(rig.scene.m_fFrame, 0.0f);
  struct Step {
    int result;
    float frame;
  };
  const Step steps[] = {{1, 1}, {1, 2}, {0, 0}, {1, 1}};
  for (const Step& s : steps) {
    EXPECT_EQ(rig.scene.AdvanceMotion(1.0f), s.result);
    EXPECT_EQ(rig.scene.m_fFrame, s.frame);
    EXPECT_NEAR(rig.CentreX(), s.frame, 1e-4f);  // frame 3 itself is never shown
  }
  // highest frame 0: every step wraps and shows frame 0
  ASSERT_EQ(rig.Motion(CentreSlide(0)), 1);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(rig.scene.AdvanceMotion(1.0f), 0);
    EXPECT_EQ(rig.scene.m_fFrame, 0.0f);
  }
}

TEST(Playback, SpaceRestartsAMotionOrReappliesAPose) {
  PlaybackRig rig;
  ASSERT_EQ(rig.Motion(CentreSlide(10)), 1);
  rig.scene.UpdateFrame(false);
  rig.scene.UpdateFrame(false);
  EXPECT_EQ(rig.scene.m_fFrame, 2.0f);
  rig.scene.UpdateFrame(true);
  EXPECT_EQ(rig.scene.m_fFrame, 0.0f);
  EXPECT_NEAR(rig.CentreX(), 0.0f, 1e-3f);  // the easing's bisection stops near, not at, 0
  rig.scene.UpdateFrame(true);  // already at frame 0: it restarts all the same
  EXPECT_EQ(rig.scene.m_fFrame, 0.0f);
  EXPECT_EQ(rig.scene.BoneNode(0)->m_nKey, 2);

  // F2 after F3: pose playback, the motion keys gone from the trees
  VpdDesc pose;
  pose.bones = {{Sjis("センター"), {0, 2, 0}, {0, 0, 0, 1}}};
  ASSERT_EQ(rig.Pose(pose), 1);
  EXPECT_EQ(rig.scene.m_nMode, kPosePlayback);
  EXPECT_EQ(rig.scene.BoneNode(0)->m_nKey, 0);
  for (int i = 0; i < 3; ++i) rig.scene.UpdateFrame(false);
  EXPECT_NEAR(rig.scene.W()[0]._42, 10.0f, 1e-5f);  // head 8 plus the pose's 2, still
  rig.scene.BoneNode(0)->m_mAnim = D3DXMATRIX();  // anything; SPACE puts the pose back
  rig.scene.UpdateFrame(true);
  EXPECT_NEAR(rig.scene.W()[0]._42, 10.0f, 1e-5f);
}

TEST(Playback, AFileThatFailsToLoadKeepsWhatWasPlaying) {
  PlaybackRig rig;
  ASSERT_EQ(rig.Motion(CentreSlide(10)), 1);
  for (int i = 0; i < 4; ++i) rig.scene.UpdateFrame(false);
  rig.dir.WriteFile("bad.vmd", "short");
  EXPECT_EQ(rig.scene.LoadMotion(rig.dir.Path("bad.vmd").c_str(), &rig.failure), 0);
  EXPECT_EQ(rig.failure, Sjis("モーションデータ解析失敗"));
  EXPECT_EQ(rig.scene.m_motion->m_nMaxFrame, 10);
  rig.scene.UpdateFrame(false);
  EXPECT_EQ(rig.scene.m_fFrame, 5.0f);  // still playing, not frozen on frame 0
  EXPECT_NEAR(rig.CentreX(), 5.0f, 1e-4f);

  VpdDesc pose;
  pose.bones = {{Sjis("センター"), {0, 2, 0}, {0, 0, 0, 1}}};
  ASSERT_EQ(rig.Pose(pose), 1);
  rig.dir.WriteFile("bad.vpd", "not a pose\r\n");
  EXPECT_EQ(rig.scene.LoadPose(rig.dir.Path("bad.vpd").c_str(), &rig.failure), 0);
  EXPECT_EQ(rig.failure, Sjis("ポーズデータ解析失敗"));
  rig.scene.RefreshPose();  // what F4, F8 or SPACE would do next
  EXPECT_NEAR(rig.scene.W()[0]._42, 10.0f, 1e-5f);
}

TEST(Playback, AModelLoadKeepsTheModeAndAppliesTheHeldPose) {
  PlaybackRig rig;
  VpdDesc pose;
  pose.bones = {{Sjis("センター"), {0, 2, 0}, {0, 0, 0, 1}}};
  ASSERT_EQ(rig.Pose(pose), 1);
  ASSERT_EQ(rig.scene.LoadModel(rig.dir.Path("m.pmd").c_str(), nullptr, &rig.failure), 1);
  EXPECT_EQ(rig.scene.m_nMode, kPosePlayback);
  EXPECT_NEAR(rig.scene.W()[0]._42, 10.0f, 1e-5f);

  ASSERT_EQ(rig.Motion(CentreSlide(10)), 1);
  ASSERT_EQ(rig.scene.LoadModel(rig.dir.Path("m.pmd").c_str(), nullptr, &rig.failure), 1);
  EXPECT_EQ(rig.scene.m_nMode, kMotionPlayback);
  EXPECT_EQ(rig.scene.BoneNode(0)->m_nKey, 0);  // the new trees hold no motion until SPACE
  rig.scene.UpdateFrame(true);
  EXPECT_EQ(rig.scene.BoneNode(0)->m_nKey, 2);
}

TEST(Playback, WithIkOffTheLegsDoNotFollowTheirGoals) {
  // the sample pose moves both leg goals; the ankles follow them only with IK
  for (int ik : {1, 0}) {
    SCOPED_TRACE(ik);
    PlaybackRig rig;
    rig.scene.CalcIK = ik;
    ASSERT_EQ(rig.Pose(SampleVpd()), 1);
    const D3DXMATRIX& goal = rig.scene.G()[0];
    const int ankle = rig.scene.m_model.m_iks[0].target;
    const D3DXVECTOR3 gap(goal._41 - rig.scene.W()[ankle]._41, goal._42 - rig.scene.W()[ankle]._42,
                          goal._43 - rig.scene.W()[ankle]._43);
    if (ik)
      EXPECT_LT(D3DXVec3Length(&gap), 0.1f);
    else
      EXPECT_GT(D3DXVec3Length(&gap), 0.5f);
  }
}

TEST(Playback, TheSameMotionPlayedTwiceGivesTheSameBits) {
  std::vector<D3DXMATRIX> first;
  for (int run = 0; run < 2; ++run) {
    PlaybackRig rig;
    ASSERT_EQ(rig.Motion(SampleVmd()), 1);
    for (int f = 0; f < 40; ++f) {
      rig.scene.UpdateFrame(false);
      for (uint32_t b = 0; b < uint32_t(rig.scene.m_model.BoneCount()); ++b) {
        if (run == 0)
          first.push_back(rig.scene.W()[b]);
        else
          ASSERT_EQ(rig.scene.W()[b], first[size_t(f) * size_t(rig.scene.m_model.BoneCount()) + b]) << f << "/" << b;
      }
    }
  }
}

// The sample's morphs: "笑い" moves vertex 4 by (0, 0.5, 0.25), "まばたき"
// vertex 5 by (0, -0.5, 0.125) (file space; the viewer negates z). Without
// bone keys, IK or physics the skeleton stays in its bind pose, so the
// skinned vertices are the morphed bind positions.
TEST(Playback, AMotionsMorphKeysMoveTheSkinnedMeshAndAPoseTakesThemBack) {
  PlaybackRig rig;
  rig.scene.CalcIK = 0;
  rig.scene.CalcBullet = 0;
  VmdDesc face;
  face.extent = VmdExtent::kMorphs;
  face.morphs = {{Sjis("笑い"), 0, 0.0f}, {Sjis("笑い"), 4, 1.0f}, {Sjis("まばたき"), 0, 0.5f},
                 {Sjis("まばたき"), 8, 0.5f}, {Sjis("ウィンク"), 0, 1.0f}};
  const ModelVertex* mesh = rig.scene.m_model.m_vertices.data();
  auto expectSkinned = [&](float smile, float blink) {
    rig.scene.UpdateSkin();
    for (int i = 0; i < int(rig.scene.m_model.m_vertices.size()); ++i) {
      SCOPED_TRACE(i);
      D3DXVECTOR3 want(mesh[i].pos[0], mesh[i].pos[1], mesh[i].pos[2]);
      if (i == 4) want += smile * D3DXVECTOR3(0, 0.5f, -0.25f);
      if (i == 5) want += blink * D3DXVECTOR3(0, -0.5f, -0.125f);
      EXPECT_NEAR(rig.scene.m_posed[size_t(i)].x, want.x, 1e-5f);
      EXPECT_NEAR(rig.scene.m_posed[size_t(i)].y, want.y, 1e-5f);
      EXPECT_NEAR(rig.scene.m_posed[size_t(i)].z, want.z, 1e-5f);
    }
  };
  expectSkinned(0, 0);
  ASSERT_EQ(rig.Motion(face), 1);
  expectSkinned(0, 0.5f);
  rig.scene.UpdateFrame(false);
  rig.scene.UpdateFrame(false);
  expectSkinned(0.5f, 0.5f);
  // what is drawn is what was skinned
  qev::RecordingDevice device;
  device.BeginScene();
  rig.scene.DrawModel(&device);
  const auto draws = device.Find("DrawPrimitiveUP(D3DPT_TRIANGLELIST");
  ASSERT_EQ(draws.size(), 2u);
  SkinnedVertex drawn[2];
  ASSERT_GE(draws[1]->vertices.size(), sizeof drawn);
  // the second material's first triangle is (5, 4, 6) once the reader has turned it
  std::memcpy(drawn, draws[1]->vertices.data(), sizeof drawn);
  EXPECT_NEAR(drawn[0].pos[1], mesh[5].pos[1] - 0.25f, 1e-5f);
  EXPECT_NEAR(drawn[1].pos[1], mesh[4].pos[1] + 0.25f, 1e-5f);
  // SPACE plays from frame 0 again
  rig.scene.UpdateFrame(true);
  expectSkinned(0, 0.5f);
  // a pose carries no morphs
  VpdDesc still;
  ASSERT_EQ(rig.Pose(still), 1);
  EXPECT_EQ(rig.scene.m_morph.Weight(2), 0.0f);
  expectSkinned(0, 0);
  // and the motion loaded again plays them again
  ASSERT_EQ(rig.Motion(face), 1);
  for (int f = 0; f < 6; ++f) rig.scene.UpdateFrame(false);
  expectSkinned(1, 0.5f);
}

// Both leg goals lifted by 2 and rising further, so both legs bend by IK
// in every frame; `keys` are the motion's visibility / IK keys.
VmdDesc LiftedLegs(const std::vector<VmdShowIkKeyDesc>& keys) {
  VmdDesc d;
  for (const char* goal : {"左足ＩＫ", "右足ＩＫ"}) {
    VmdBoneKeyDesc a, b;
    a.name = b.name = Sjis(goal);
    a.pos[1] = 2.0f;
    b.frame = 20;
    b.pos[1] = 3.0f;
    b.pos[2] = -0.5f;
    d.bones.push_back(a);
    d.bones.push_back(b);
  }
  d.showIks = keys;
  return d;
}

TEST(Playback, AnIkSwitchKeyLeavesItsListUnsolvedFromItsFrame) {
  // the left leg's list is off for frames 4, 5 and 6, the right one never
  const VmdDesc switched = LiftedLegs({{7, 1, {{Sjis("左足ＩＫ"), 1}}}, {4, 1, {{Sjis("左足ＩＫ"), 0}, {Sjis("右足ＩＫ"), 1}}}});
  constexpr int kFrames = 10;
  // every bone's world at frames 0 .. kFrames-1 with IK as the run says
  auto play = [&](const VmdDesc& motion, int calcIk) {
    PlaybackRig rig;
    rig.scene.CalcIK = calcIk;
    rig.scene.CalcBullet = 0;  // the simulation remembers earlier frames: bones it moves are no function of the frame alone
    EXPECT_EQ(rig.Motion(motion), 1);
    std::vector<std::vector<D3DXMATRIX>> frames;
    for (int f = 0; f < kFrames; ++f) {
      EXPECT_EQ(rig.scene.m_fFrame, float(f));
      frames.emplace_back(rig.scene.W(), rig.scene.W() + rig.scene.m_model.BoneCount());
      rig.scene.UpdateFrame(false);
    }
    return frames;
  };
  const auto solved = play(LiftedLegs({}), 1);
  const auto unsolved = play(LiftedLegs({}), 0);
  const auto run = play(switched, 1);
  const int leftLeg[] = {1, 2, 3}, rightLeg[] = {4, 5, 6};
  for (int f = 0; f < kFrames; ++f) {
    SCOPED_TRACE(f);
    const bool off = f >= 4 && f < 7;
    for (int b : leftLeg) {
      SCOPED_TRACE(b);
      ASSERT_NE(solved[size_t(f)][size_t(b)], unsolved[size_t(f)][size_t(b)]) << "IK must move this bone";
      EXPECT_EQ(run[size_t(f)][size_t(b)], off ? unsolved[size_t(f)][size_t(b)] : solved[size_t(f)][size_t(b)]);
    }
    for (int b : rightLeg) EXPECT_EQ(run[size_t(f)][size_t(b)], solved[size_t(f)][size_t(b)]) << b;
  }
  // F4 still turns every list off, the switched ones included
  const auto allOff = play(switched, 0);
  for (int f = 0; f < kFrames; ++f)
    for (int b = 0; b < 9; ++b) EXPECT_EQ(allOff[size_t(f)][size_t(b)], unsolved[size_t(f)][size_t(b)]) << f << "/" << b;
}

TEST(Playback, AVisibilityKeyOfZeroHidesTheModelButNotTheGridOrTheMarkers) {
  PlaybackRig rig;
  rig.scene.CalcBullet = 0;
  ASSERT_EQ(rig.Motion(LiftedLegs({{3, 0, {}}, {6, 1, {}}})), 1);
  CD3DCamera camera;
  camera.m_fFov = 0.7853982f;
  camera.m_fAspect = 1.6f;
  camera.m_fNear = 0.1f;
  camera.m_fFar = 1000.0f;
  CD3DLine90 grid;
  BuildGrid(&grid);
  CD3DLocater goalLocator;
  for (int f = 0; f < 8; ++f) {
    SCOPED_TRACE(f);
    qev::RecordingDevice device;
    FrameDrawing frame;
    frame.device = &device;
    frame.camera = &camera;
    frame.grid = &grid;
    frame.ikGoalLocator = &goalLocator;
    frame.DrawBone = 1;
    frame.DrawType = 2;
    AddSceneSteps(&frame, &rig.scene);
    device.BeginScene();
    DrawFrame(frame);
    const bool hidden = f >= 3 && f < 6;
    EXPECT_EQ(device.Find("DrawPrimitiveUP(D3DPT_TRIANGLELIST").size(), hidden ? 0u : 2u);
    EXPECT_EQ(device.Find("DrawPrimitiveUP(D3DPT_LINELIST, 43, 16)").size(), 1u);  // the grid
    // the two IK goals and the bone markers, hidden model or not
    EXPECT_GT(device.Find("DrawPrimitiveUP(D3DPT_LINELIST").size(), 3u);
    rig.scene.UpdateFrame(false);
  }
}

}  // namespace
