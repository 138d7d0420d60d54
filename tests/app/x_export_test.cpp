// The scene's X exports: the proposed name, no model, and the bake, whose
// keys must be the very bone matrices that playback shows frame by frame.
#include "app/x_export.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "app/scene.h"
#include "platform/codepage.h"
#include "tests/common/temp_dir.h"
#include "tests/export/x_test_util.h"
#include "tools/fixtures/pmd_fixture.h"
#include "tools/fixtures/vmd_fixture.h"

namespace {

TEST(XExport, ProposedName) {
  const std::pair<const char*, const char*> cases[] = {
      {"/m/model.pmd", "/m/model.x"},
      {"/m/model.tar.pmd", "/m/model.tar.x"},
      {"/m/model", "/m/model"},
      {"/m.d/model", "/m.d/model"},  // a dot in a folder is no extension
      {"/m/.pmd", "/m/.pmd"},        // nor a dot that starts the name
      {"model.PMD", "model.x"},
      {"", ""},
  };
  for (const auto& [path, proposed] : cases) EXPECT_EQ(ProposedXPath(path), proposed) << path;
}

TEST(XExport, NoModelWritesNothingAndSaysSo) {
  qev::test::TempDir dir;
  CScene scene;
  qev::test::LogCapture log;
  std::string failure;
  EXPECT_EQ(ExportXMesh(scene, dir.Path("a.x").c_str(), &failure), 0);
  EXPECT_EQ(failure, "no model is loaded");
  EXPECT_EQ(ExportXSkin(scene, dir.Path("a.x").c_str(), nullptr, &failure), 0);
  EXPECT_EQ(dir.List(), std::vector<std::string>{});
  EXPECT_EQ(log.Text(), "X file not written: no model is loaded\nX file not written: no model is loaded\n");
}

// A scene with the sample model and, when asked, the sample motion playing.
struct SceneRig {
  qev::test::TempDir dir;
  CScene scene;
  explicit SceneRig(bool motion) {
    dir.WriteFile("m.pmd", qev::fixture::BuildPmd(qev::fixture::SamplePmd()));
    dir.WriteFile("m.vmd", qev::fixture::BuildVmd(qev::fixture::SampleVmd()));
    std::string failure;
    EXPECT_EQ(scene.LoadModel(dir.Path("m.pmd").c_str(), nullptr, &failure), 1) << failure;
    if (motion) {
      EXPECT_EQ(scene.LoadMotion(dir.Path("m.vmd").c_str(), &failure), 1) << failure;
    }
  }
};

std::string Encoded(const char* name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = "_";
  for (const char* p = name; *p; ++p) {
    out += kHex[uint8_t(*p) >> 4];
    out += kHex[uint8_t(*p) & 15];
  }
  return out;
}

void ExpectNear(const D3DXMATRIX& a, const D3DXMATRIX& b, float tolerance) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(a.m[r][c], b.m[r][c], tolerance) << "row " << r << " column " << c;
}

// Bakes and compares every key, composed down the tree, with the world
// matrix a second scene's playback (its frame update) shows at that frame.
// The bake steps the physics whenever there is a world, so playback runs
// with physics on, or both scenes drop their world.
void ExpectBakeMatchesPlayback(int calcIK, bool physics) {
  SceneRig baked(true), played(true);
  baked.scene.CalcIK = played.scene.CalcIK = calcIK;
  baked.scene.CalcBullet = played.scene.CalcBullet = 1;
  if (!physics) {
    baked.scene.m_physics.Clear();
    played.scene.m_physics.Clear();
  } else {
    ASSERT_TRUE(baked.scene.m_physics.HasWorld());
  }
  // Playback already ran a few frames: the bake restarts it. The physics
  // world remembers its history (contacts, joint impulses), so the scene
  // that plays runs the same frames and the same restart first: the motion
  // started again, and the step of no time that hands the bodies to bones.
  for (int i = 0; i < 7; ++i) {
    baked.scene.UpdateFrame(false);
    played.scene.UpdateFrame(false);
  }
  played.scene.StartMotion();
  if (played.scene.m_physics.HasWorld()) played.scene.m_physics.Step(0.0f);
  std::vector<int32_t> progress;
  std::string failure;
  ASSERT_EQ(ExportXSkin(baked.scene, baked.dir.Path("out.x").c_str(),
                        [&](int32_t n, int32_t frames) {
                          EXPECT_EQ(frames, 40);
                          progress.push_back(n);
                        },
                        &failure),
            1)
      << failure;
  ASSERT_EQ(progress.size(), 40u);
  EXPECT_EQ(progress.back(), 39);
  EXPECT_EQ(baked.scene.m_fFrame, 0.0f) << "the bake leaves playback wrapped to frame 0";

  const auto keys = qev::test::ReadKeys(baked.dir.ReadFile("out.x"));
  const CModelDescription& model = played.scene.m_model;
  int compared = 0;
  for (int32_t frame = 0; frame < 40; ++frame) {
    if (frame > 0) played.scene.UpdateFrame(false);
    for (uint32_t bone = 0; bone < uint32_t(model.BoneCount()); ++bone) {
      const CPmdBone* node = played.scene.BoneNode(int(bone));
      if (!node) continue;
      D3DXMATRIX world;
      D3DXMatrixIdentity(&world);
      for (const CPmdBone* n = node; n && n->m_pRecord; n = n->m_pParent) {
        const auto found = keys.find(Encoded(n->m_pRecord->name.c_str()));
        ASSERT_NE(found, keys.end());
        ASSERT_EQ(found->second.size(), 40u);
        world = world * found->second[size_t(frame)];
      }
      SCOPED_TRACE(testing::Message() << "frame " << frame << " bone " << bone);
      ExpectNear(world, played.scene.W()[bone], 2e-5f);
      ++compared;
    }
  }
  EXPECT_GT(compared, 40 * 5);
}

TEST(XExport, BakedKeysAreWhatPlaybackShowsWithIK) { ExpectBakeMatchesPlayback(1, false); }
TEST(XExport, BakedKeysAreWhatPlaybackShowsWithoutIK) { ExpectBakeMatchesPlayback(0, false); }
TEST(XExport, BakedKeysAreWhatPlaybackShowsWithPhysics) { ExpectBakeMatchesPlayback(1, true); }

TEST(XExport, AMotionWhoseKeysAreAllAtFrameZeroBakesThatPose) {
  // every key of the sample motion moved to frame 0: one key per bone, the
  // pose playback shows once the motion is loaded
  qev::fixture::VmdDesc still = qev::fixture::SampleVmd();
  for (auto& k : still.bones) k.frame = 0;
  for (auto& k : still.morphs) k.frame = 0;
  for (auto& k : still.cameras) k.frame = 0;
  for (auto& k : still.lights) k.frame = 0;
  for (auto& k : still.shadows) k.frame = 0;
  for (auto& k : still.showIks) k.frame = 0;
  SceneRig baked(false), played(false);
  std::string failure;
  for (SceneRig* rig : {&baked, &played}) {
    rig->dir.WriteFile("still.vmd", qev::fixture::BuildVmd(still));
    rig->scene.m_physics.Clear();
    ASSERT_EQ(rig->scene.LoadMotion(rig->dir.Path("still.vmd").c_str(), &failure), 1) << failure;
    ASSERT_EQ(rig->scene.m_motion->m_nMaxFrame, 0);
  }
  std::vector<int32_t> progress;
  ASSERT_EQ(ExportXSkin(baked.scene, baked.dir.Path("out.x").c_str(),
                        [&](int32_t n, int32_t frames) { progress.push_back(n * 100 + frames); }, &failure),
            1)
      << failure;
  EXPECT_EQ(progress, std::vector<int32_t>{1}) << "frame 0 of 1";
  const auto keys = qev::test::ReadKeys(baked.dir.ReadFile("out.x"));
  const CModelDescription& model = played.scene.m_model;
  bool posed = false;
  size_t nodes = 0;
  for (uint32_t bone = 0; bone < uint32_t(model.BoneCount()); ++bone) {
    const CPmdBone* node = played.scene.BoneNode(int(bone));
    if (!node) continue;  // an IK goal: in the goal tree only
    ++nodes;
    D3DXMATRIX world;
    D3DXMatrixIdentity(&world);
    for (const CPmdBone* n = node; n && n->m_pRecord; n = n->m_pParent) {
      const auto& list = keys.at(Encoded(n->m_pRecord->name.c_str()));
      ASSERT_EQ(list.size(), 1u);
      world = world * list[0];
    }
    SCOPED_TRACE(testing::Message() << "bone " << bone);
    ExpectNear(world, played.scene.W()[bone], 2e-5f);
    posed = posed || node->m_mAnim != D3DXMATRIX(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
  }
  EXPECT_EQ(keys.size(), nodes);
  EXPECT_TRUE(posed) << "the keys move some bone";
  EXPECT_EQ(baked.scene.m_fFrame, 0.0f);
}

TEST(XExport, PlainMeshIsTheBindPoseWhateverPlays) {
  SceneRig still(false), playing(true);
  for (int i = 0; i < 12; ++i) playing.scene.UpdateFrame(false);
  ASSERT_EQ(ExportXMesh(still.scene, still.dir.Path("a.x").c_str(), nullptr), 1);
  ASSERT_EQ(ExportXMesh(playing.scene, playing.dir.Path("a.x").c_str(), nullptr), 1);
  EXPECT_EQ(still.dir.ReadFile("a.x"), playing.dir.ReadFile("a.x"));
}

TEST(XExport, PosePlaybackWritesNoAnimationSet) {
  SceneRig rig(false);
  ASSERT_EQ(ExportXSkin(rig.scene, rig.dir.Path("a.x").c_str(), nullptr, nullptr), 1);
  const std::string text = rig.dir.ReadFile("a.x");
  EXPECT_EQ(text.find("AnimationSet"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 3), "}\r\n");
}

}  // namespace
