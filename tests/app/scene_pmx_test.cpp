// PMX models through the scene: assembled, textured from their texture
// table, played with IK and morphs as the same model in PMD plays, and
// refused with the model's message box, never a crash, when damaged.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "app/scene.h"
#include "platform/codepage.h"
#include "platform/recording_device.h"
#include "tests/common/temp_dir.h"
#include "tools/fixtures/picture_fixtures.h"
#include "tools/fixtures/pmx_fixture.h"
#include "tools/fixtures/sample_character.h"

namespace {

using qev::Sjis;
using qev::fixture::BuildPmx;
using qev::fixture::PmxDesc;

struct Rig {
  qev::test::TempDir dir;
  qev::RecordingDevice device;
  CScene scene;
  std::string failure;
  int Load(const PmxDesc& d) {
    dir.WriteFile("m.pmx", BuildPmx(d));
    failure.clear();
    return scene.LoadModel(dir.Path("m.pmx").c_str(), &device, &failure);
  }
};

D3DXVECTOR3 Position(const ModelVertex& v) { return D3DXVECTOR3(v.pos[0], v.pos[1], v.pos[2]); }

float Gap(const D3DXMATRIX& a, const D3DXMATRIX& b) {
  float most = 0.0f;
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) most = std::max(most, std::fabs(a.m[r][c] - b.m[r][c]));
  return most;
}

// The sample character and its PMX twin walk alike: every bone, every
// skinned vertex and every expression, frame by frame, IK on. (Physics
// off: the bodies stand a rounding step apart and chaos would grow it.)
TEST(ScenePmx, TwinOfTheSampleCharacterWalksAsThePmd) {
  qev::test::TempDir dir;
  std::string error;
  ASSERT_EQ(qev::fixture::WriteSampleCharacter(dir.Path(), &error), 1) << error;
  CScene pmd, pmx;
  for (auto [scene, file] : {std::pair{&pmd, "sample.pmd"}, std::pair{&pmx, "sample.pmx"}}) {
    ASSERT_EQ(scene->LoadModel(dir.Path(file).c_str(), nullptr, &error), 1) << file << error;
    scene->CalcBullet = 0;
    ASSERT_EQ(scene->LoadMotion(dir.Path("walk.vmd").c_str(), &error), 1) << error;
  }
  ASSERT_EQ(pmx.IkCount(), pmd.IkCount());
  ASSERT_GT(pmx.IkCount(), 0);
  int compared = 0;
  float moved = 0.0f;
  for (int frame = 0; frame < 60; ++frame) {
    pmd.PlayFrame();
    pmx.PlayFrame();
    SCOPED_TRACE(frame);
    for (int b = 0; b < pmd.m_model.BoneCount(); ++b) {
      ASSERT_LT(Gap(pmd.W()[b], pmx.W()[b]), 2e-4f) << "bone " << b;
      ++compared;
    }
    pmd.UpdateSkin();
    pmx.UpdateSkin();
    for (size_t v = 0; v < pmd.m_posed.size(); ++v) {
      const D3DXVECTOR3 d = pmd.m_posed[v] - pmx.m_posed[v];
      ASSERT_LT(D3DXVec3Length(&d), 2e-4f) << "vertex " << v;
      const D3DXVECTOR3 from = pmd.m_posed[v] - Position(pmd.m_model.m_vertices[v]);
      moved = std::max(moved, D3DXVec3Length(&from));
    }
    // the PMX twin has no base morph: its morphs are one place earlier
    for (int m = 1; m < pmd.m_morph.Count(); ++m) ASSERT_EQ(pmd.m_morph.Weight(m), pmx.m_morph.Weight(m - 1));
  }
  EXPECT_GT(compared, 60 * 20);
  EXPECT_GT(moved, 1.0f) << "the walk moves the mesh";
}

TEST(ScenePmx, TexturesComeFromTheTextureTableIgnoringCase) {
  Rig rig;
  const std::string picture = qev::fixtures::BitmapFile(
      2, 2, 24, qev::fixtures::DibRows(2, 2, 24, [](int, int) { return 0x00ff0000u; }));
  ASSERT_EQ(::mkdir(rig.dir.Path("TEX").c_str(), 0755), 0);
  rig.dir.WriteFile("TEX/Body.PNG", picture);  // named "tex\body.png": a bitmap by its bytes
  rig.dir.WriteFile("sphere.sph", picture);
  qev::test::LogCapture log;
  ASSERT_EQ(rig.Load(qev::fixture::SamplePmx()), 1) << rig.failure;
  EXPECT_NE(rig.scene.m_pTextures[0].m_pTexture, nullptr);
  EXPECT_EQ(rig.scene.m_pTextures[1].m_pTexture, nullptr) << "no colour texture";
  EXPECT_FALSE(log.Contains(Sjis("テクスチャロードエラー"))) << log.Text();
}

// Every vertex of the sample, every weight kind, drawn: BDEF1/2/4 linear,
// SDEF and QDEF linear by their bones for now; weights as filled (BDEF4
// normalised).
TEST(ScenePmx, EveryWeightKindIsSkinnedByItsBones) {
  Rig rig;
  ASSERT_EQ(rig.Load(qev::fixture::SamplePmx()), 1) << rig.failure;
  // the centre bone moved by (0, 0, 2): vertices on it move with their
  // weight on it
  CPmdBone* centre = rig.scene.BoneNode(0);
  ASSERT_NE(centre, nullptr);
  rig.scene.CalcIK = 0;
  D3DXMatrixTranslation(&centre->m_mAnim, 0, 0, 2);
  rig.scene.m_skeleton.UpdateMatrices(rig.scene.W(), rig.scene.B());
  rig.scene.UpdateSkin();
  const CModelDescription& m = rig.scene.m_model;
  for (size_t v = 0; v < m.m_vertices.size(); ++v) {
    SCOPED_TRACE(v);
    // every bone of the sample is below the centre but the centre itself
    const D3DXVECTOR3 d = rig.scene.m_posed[v] - Position(m.m_vertices[v]);
    EXPECT_NEAR(d.x, 0.0f, 1e-5f);
    EXPECT_NEAR(d.y, 0.0f, 1e-5f);
    EXPECT_NEAR(d.z, 2.0f, 1e-5f) << "every bone hangs below the centre";
  }
}

// Damaged files and records: the model's own message box, nothing kept,
// never a crash. Every cut of the sample file fails but the one that
// leaves out the whole soft body block (2.1's last block, which may be absent).
TEST(ScenePmx, DamagedFilesAreRefusedWithTheModelsMessage) {
  const std::string whole = BuildPmx(qev::fixture::SamplePmx());
  PmxDesc noSoftBodies = qev::fixture::SamplePmx();
  noSoftBodies.softBodyBlock = false;
  const size_t jointsEnd = BuildPmx(noSoftBodies).size();
  Rig rig;
  for (size_t n = 0; n < whole.size(); n += 7) {
    if (n == jointsEnd) continue;
    rig.dir.WriteFile("cut.pmx", whole.substr(0, n));
    std::string failure;
    ASSERT_EQ(rig.scene.LoadModel(rig.dir.Path("cut.pmx").c_str(), &rig.device, &failure), 0) << n;
    ASSERT_EQ(failure, Sjis("モデルデータ解析失敗"));
    ASSERT_FALSE(rig.scene.Loaded());
    ASSERT_EQ(rig.scene.m_model.BoneCount(), 0);
  }

  struct Case {
    const char* what;
    void (*damage)(PmxDesc*);
    const char* box;  // empty: loads
    const char* log;
  };
  const Case cases[] = {
      {"first bone past the bones", [](PmxDesc* d) { d->vertices[0].bone[0] = 100; }, "ボーンIDが不正",
       "ボーンIDが不正 : 100\n"},
      {"first bone an IK goal", [](PmxDesc* d) { d->vertices[0].bone[0] = 4; }, "ボーンIDが不正",
       "ボーンIDが不正 : 4\n"},
      {"third BDEF4 bone with weight nowhere", [](PmxDesc* d) { d->vertices[2].bone[2] = 90; },
       "2つめのボーンIDが不正", "2つめのボーンIDが不正 : 90\n"},
      {"a weightless BDEF4 bone nowhere is no bone", [](PmxDesc* d) {
         d->vertices[2].bone[3] = -1;
         d->vertices[2].weight[3] = 0;
       }, "", ""},
      {"a BDEF2 second bone nowhere with no weight", [](PmxDesc* d) {
         d->vertices[1].bone[1] = -1;
         d->vertices[1].weight[0] = 1;
       }, "", ""},
      {"a morph entry past the mesh leaves the morph out", [](PmxDesc* d) { d->morphs[1].offsets[0].index = 99; },
       "", "PMX morph error : morph [1] "},
      {"a body on a bone past the bones stands alone", [](PmxDesc* d) { d->rigidBodies[0].bone = 50; }, "",
       "剛体のボーン指定が不正 : "},
      {"parents in a loop leave the bones out", [](PmxDesc* d) {
         d->bones[5].parent = 6;
         d->bones[6].parent = 5;
         d->vertices[5].bone[1] = 1;  // off the bones left out
       }, "", "PMD bones : 2 bones left out, their parent chain loops\n"},
      {"a joint between bodies that are not there", [](PmxDesc* d) { d->joints[0].bodyA = -1; }, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PmxDesc d = qev::fixture::SamplePmx();
    c.damage(&d);
    Rig one;
    qev::test::LogCapture log;
    const int loaded = one.Load(d);
    EXPECT_EQ(loaded, *c.box ? 0 : 1);
    EXPECT_EQ(one.failure, Sjis(c.box));
    EXPECT_EQ(one.scene.Loaded(), loaded == 1);
    EXPECT_TRUE(log.Contains(Sjis(c.log))) << log.Text();
    if (loaded) {
      for (int f = 0; f < 3; ++f) one.scene.UpdateFrame(false);
      one.scene.DrawModel(&one.device);
    }
  }
}

}  // namespace
