// Scene assembly: which bones the skeleton takes, the refusals of vertices on
// bones outside it, textures by material, the skinned vertices drawn, parent
// chains that loop, and trees as deep as a file can make them.
#include "app/scene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "platform/codepage.h"
#include "platform/recording_device.h"
#include "tests/common/small_stack.h"
#include "tests/common/temp_dir.h"
#include "tools/fixtures/picture_fixtures.h"
#include "tools/fixtures/pmd_fixture.h"
#include "tools/fixtures/vmd_fixture.h"
#include "tools/fixtures/vpd_fixture.h"

namespace {

using qev::Sjis;
using namespace qev::fixture;
using qev::fixtures::BitmapFile;
using qev::fixtures::DibRows;

PmdBoneDesc Bone(const char* name, int16_t parent, uint8_t type, float y) {
  PmdBoneDesc b;
  b.name = Sjis(name);
  b.parent = parent;
  b.type = type;
  b.head[1] = y;
  return b;
}

// 0 centre, 1 upper (child of 0), 2 the shared eye bone, 3 an IK goal with its list.
PmdDesc FourBones() {
  PmdDesc d;
  d.bones = {Bone("センター", -1, 0, 0), Bone("上半身", 0, 0, 10), Bone("両目", 1, 0, 12), Bone("右足ＩＫ", 0, 2, 0)};
  PmdIkDesc ik;
  ik.ikBone = 3;
  ik.target = 1;
  ik.chain = {0};
  ik.iterations = 0;
  d.iks = {ik};
  return d;
}

PmdVertexDesc Vertex(float x, float y, uint16_t b0, uint16_t b1, uint8_t w) {
  PmdVertexDesc v;
  v.pos[0] = x;
  v.pos[1] = y;
  v.bone[0] = b0;
  v.bone[1] = b1;
  v.weight = w;
  return v;
}

struct SceneRig {
  qev::test::TempDir dir;
  qev::RecordingDevice device;
  CScene scene;
  std::string failure;
  int Load(const PmdDesc& d, const char* name = "m.pmd") {
    dir.WriteFile(name, BuildPmd(d));
    failure.clear();
    return scene.LoadModel(dir.Path(name).c_str(), &device, &failure);
  }
  // The positions of the last draw call's vertices.
  std::vector<SkinnedVertex> Drawn() {
    const auto draws = device.Find("DrawPrimitiveUP(D3DPT_TRIANGLELIST");
    std::vector<SkinnedVertex> out;
    if (draws.empty()) return out;
    const auto& bytes = draws.back()->vertices;
    out.resize(bytes.size() / sizeof(SkinnedVertex));
    std::memcpy(out.data(), bytes.data(), out.size() * sizeof(SkinnedVertex));
    return out;
  }
};

TEST(Scene, VerticesOnBonesOutsideTheSkeletonRefuseTheModel) {
  struct Case {
    const char* what;
    PmdVertexDesc vertex;
    const char* box;  // empty: the model loads
    const char* log;
  };
  const Case cases[] = {
      {"weight 100 uses bone 0 only", Vertex(0, 0, 1, 3, 100), "", ""},
      {"weight 0 still needs bone 0", Vertex(0, 0, 0, 1, 0), "", ""},
      {"both bones equal", Vertex(0, 0, 1, 1, 40), "", ""},
      {"bone 0 is the eye bone", Vertex(0, 0, 2, 0, 100), "ボーンIDが不正", "ボーンIDが不正 : 2\n"},
      {"bone 0 is an IK goal", Vertex(0, 0, 3, 0, 100), "ボーンIDが不正", "ボーンIDが不正 : 3\n"},
      {"bone 0 past the bones", Vertex(0, 0, 9, 0, 100), "ボーンIDが不正", "ボーンIDが不正 : 9\n"},
      {"bone 1 is the eye bone", Vertex(0, 0, 0, 2, 50), "2つめのボーンIDが不正", "2つめのボーンIDが不正 : 2\n"},
      {"bone 1 past the bones, weight 0", Vertex(0, 0, 0, 700, 0), "2つめのボーンIDが不正",
       "2つめのボーンIDが不正 : 700\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SceneRig rig;
    PmdDesc d = FourBones();
    d.vertices = {c.vertex};
    qev::test::LogCapture log;
    const int loaded = rig.Load(d);
    EXPECT_EQ(loaded, *c.box ? 0 : 1);
    EXPECT_EQ(rig.failure, Sjis(c.box));
    EXPECT_EQ(rig.scene.Loaded(), loaded == 1);
    if (*c.log) {
      EXPECT_TRUE(log.Contains(Sjis(c.log)));
      // nothing of the refused model stays for the next frame to draw
      EXPECT_EQ(rig.scene.m_model.BoneCount(), 0);
      EXPECT_TRUE(rig.scene.m_skeleton.m_children.empty());
      EXPECT_EQ(rig.scene.W(), nullptr);
      rig.scene.UpdateFrame(true);
      rig.scene.DrawModel(&rig.device);
      rig.scene.DrawBones(&rig.device);
      EXPECT_TRUE(rig.device.Find("DrawPrimitiveUP").empty());
    }
  }
}

TEST(Scene, TheSkeletonTakesOrdinaryBonesAndTheGoalTreeTheIkBones) {
  SceneRig rig;
  PmdDesc d = FourBones();
  d.bones.push_back(Bone("両目先", 2, 0, 13));   // 4: left out with the eye bone
  d.bones.push_back(Bone("下", 2, 0, 11));       // 5: below a left-out bone
  d.bones.push_back(Bone("足先", 3, 0, 0));      // 6: below an IK bone
  d.bones.push_back(Bone("頭", 1, 0, 14));       // 7
  qev::test::LogCapture log;
  ASSERT_EQ(rig.Load(d), 1);
  const bool inSkeleton[] = {true, true, false, false, false, false, false, true};
  for (int j = 0; j < 8; ++j) EXPECT_EQ(rig.scene.BoneNode(j) != nullptr, inSkeleton[j]) << j;
  EXPECT_EQ(rig.scene.BoneNode(7)->m_pParent, rig.scene.BoneNode(1));
  ASSERT_EQ(rig.scene.m_ikRoot.m_children.size(), 1u);
  EXPECT_EQ(rig.scene.m_ikRoot.m_children[0]->m_nIndex, 3);
  // W and B of bones outside the skeleton stay zero; G starts as the identity
  EXPECT_EQ(rig.scene.W()[2], D3DXMATRIX());
  EXPECT_EQ(rig.scene.B()[3], D3DXMATRIX());
  EXPECT_NEAR(rig.scene.W()[7]._42, 14.0f, 1e-6f);
  EXPECT_TRUE(log.Contains("----------- BONE TREE ----------\n"));
  EXPECT_TRUE(log.Contains("----------- IK TREE ----------\n"));
  EXPECT_TRUE(log.Contains(Sjis("最大描画頂点数 : 0\n")));  // no materials
}

TEST(Scene, BonesListedBeforeTheirParentsHangBelowThemInFileOrder) {
  SceneRig rig;
  PmdDesc d;
  d.bones = {Bone("b", 3, 0, 5), Bone("c", 3, 0, 6), Bone("d", 0, 0, 7), Bone("a", -1, 0, 1),
             Bone("loop1", 5, 0, 0), Bone("loop2", 4, 0, 0)};
  d.vertices = {Vertex(0, 7, 2, 0, 100)};
  qev::test::LogCapture log;
  ASSERT_EQ(rig.Load(d), 1);
  CPmdBone* a = rig.scene.BoneNode(3);
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(a->m_children.size(), 2u);
  EXPECT_EQ(a->m_children[0]->m_nIndex, 0);
  EXPECT_EQ(a->m_children[1]->m_nIndex, 1);
  EXPECT_EQ(rig.scene.BoneNode(2)->m_pParent, rig.scene.BoneNode(0));
  EXPECT_EQ(rig.scene.BoneNode(4), nullptr);
  EXPECT_EQ(rig.scene.BoneNode(5), nullptr);
  EXPECT_TRUE(log.Contains("PMD bones : 2 bones left out, their parent chain loops\n"));

  // posing the parent moves the child bone listed before it
  VpdDesc pose;
  pose.bones = {{"a", {3, 0, 0}, {0, 0, 0, 1}}};
  rig.dir.WriteFile("p.vpd", BuildVpd(pose));
  ASSERT_EQ(rig.scene.LoadPose(rig.dir.Path("p.vpd").c_str(), &rig.failure), 1);
  EXPECT_NEAR(rig.scene.W()[2]._41, 3.0f, 1e-6f);
  EXPECT_NEAR(rig.scene.W()[2]._42, 7.0f, 1e-6f);
}

TEST(Scene, OneTexturePerMaterialFromTheModelsFolder) {
  SceneRig rig;
  const std::string picture = BitmapFile(2, 2, 24, DibRows(2, 2, 24, [](int, int) { return 0x00ff0000u; }));
  rig.dir.WriteFile("a.bmp", picture);
  PmdDesc d = FourBones();
  d.vertices = {Vertex(0, 0, 0, 0, 100), Vertex(1, 0, 0, 0, 100), Vertex(0, 1, 0, 0, 100)};
  d.indices = {0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2};
  auto material = [](const char* texture) {
    PmdMaterialDesc m;
    m.indexCount = 3;
    m.texture = texture;
    return m;
  };
  d.materials = {material("a.bmp*b.sph"), material(""), material("missing.bmp"), material("A.BMP")};
  qev::test::LogCapture log;
  ASSERT_EQ(rig.Load(d), 1);
  EXPECT_NE(rig.scene.m_pTextures[0].m_pTexture, nullptr);
  EXPECT_EQ(rig.scene.m_pTextures[1].m_pTexture, nullptr);
  EXPECT_EQ(rig.scene.m_pTextures[2].m_pTexture, nullptr);
  EXPECT_NE(rig.scene.m_pTextures[3].m_pTexture, nullptr);  // names are matched ignoring case
  const std::string error = Sjis("テクスチャロードエラー : ");
  int errors = 0;
  for (const std::string& line : log.Lines())
    if (line.rfind(error, 0) == 0) {
      ++errors;
      EXPECT_EQ(line, error + qev::Utf8ToCp932(rig.dir.Path("missing.bmp")) + "\n");
    }
  EXPECT_EQ(errors, 1);  // an empty name is no error
  EXPECT_TRUE(log.Contains(Sjis("最大描画頂点数 : 3\n")));

  // each material draws with its own texture
  rig.device.ClearCalls();
  rig.scene.DrawModel(&rig.device);
  const auto textures = rig.device.Find("SetTexture(0");
  ASSERT_EQ(textures.size(), 4u);
  EXPECT_EQ(rig.device.Find("DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, 36)").size(), 4u);

  // a second model releases the first's textures before reading the file
  ASSERT_EQ(rig.Load(FourBones(), "n.pmd"), 1);
  EXPECT_TRUE(rig.scene.m_model.m_materials.empty());
}

TEST(Scene, VerticesAreSkinnedByTheirBonesWeights) {
  SceneRig rig;
  PmdDesc d = FourBones();
  d.vertices = {Vertex(1, 10, 1, 0, 100), Vertex(1, 10, 0, 1, 0), Vertex(1, 10, 1, 0, 25)};
  d.indices = {0, 1, 2};
  PmdMaterialDesc m;
  m.indexCount = 3;
  m.diffuse[0] = 1.0f;
  m.diffuse[1] = 0.5f;
  m.diffuse[2] = 0.0f;
  d.materials = {m};
  ASSERT_EQ(rig.Load(d), 1);

  // the upper body moved 4 along X by a pose; the centre stays
  VpdDesc pose;
  pose.bones = {{Sjis("上半身"), {4, 0, 0}, {0, 0, 0, 1}}};
  rig.dir.WriteFile("p.vpd", BuildVpd(pose));
  ASSERT_EQ(rig.scene.LoadPose(rig.dir.Path("p.vpd").c_str(), &rig.failure), 1);
  rig.device.BeginScene();  // vertices are kept only inside a scene
  rig.scene.DrawModel(&rig.device);
  const std::vector<SkinnedVertex> v = rig.Drawn();
  ASSERT_EQ(v.size(), 3u);
  // triangles are stored (b, a, c): the first drawn vertex is the file's second
  EXPECT_FLOAT_EQ(v[0].pos[0], 5.0f);  // weight 0: bone 1 alone
  EXPECT_FLOAT_EQ(v[1].pos[0], 5.0f);  // weight 100 on the upper body
  EXPECT_FLOAT_EQ(v[2].pos[0], 2.0f);  // a quarter on it: 1 + 4 * 0.25
  for (const SkinnedVertex& s : v) {
    EXPECT_EQ(s.diffuse, 0xFFFF7F00u);
    EXPECT_FLOAT_EQ(s.pos[1], 10.0f);
  }
  EXPECT_EQ(rig.device.Find("SetFVF(0x152)").size(), 1u);
}

TEST(Scene, SkinningOncePerBoneGivesTheSameBitsAsOncePerIndex) {
  SceneRig rig;
  ASSERT_EQ(rig.Load(SamplePmd()), 1);
  rig.dir.WriteFile("p.vpd", BuildVpd(SampleVpd()));
  ASSERT_EQ(rig.scene.LoadPose(rig.dir.Path("p.vpd").c_str(), &rig.failure), 1);
  CScene& s = rig.scene;
  s.UpdateSkin();
  for (int m = 0; m < int(s.m_model.m_materials.size()); ++m) {
    const int n = s.SkinMaterial(m);
    const auto* got = reinterpret_cast<const SkinnedVertex*>(s.m_drawBuffer.m_pData);
    const ModelMaterial& mat = s.m_model.m_materials[size_t(m)];
    for (int k = 0; k < n; ++k) {
      // the direct reading: B x W for every index, the weighted sum of all sixteen entries
      const ModelVertex& v = s.m_model.m_vertices[s.m_model.m_indices[mat.firstIndex + k]];
      const int b0 = v.bone[0], b1 = v.bone[1];
      D3DXMATRIX M = s.B()[b0] * s.W()[b0];
      if (v.skinning != kSkinBdef1) {
        const D3DXMATRIX M1 = s.B()[b1] * s.W()[b1];
        for (int r = 0; r < 4; ++r)
          for (int c = 0; c < 4; ++c) M.m[r][c] = v.weight[0] * M.m[r][c] + v.weight[1] * M1.m[r][c];
      }
      D3DXVECTOR4 p;
      const D3DXVECTOR3 pos(v.pos[0], v.pos[1], v.pos[2]);
      D3DXVec3Transform(&p, &pos, &M);
      EXPECT_EQ(std::memcmp(&got[k].pos[0], &p.x, 4), 0) << m << "/" << k;
      EXPECT_EQ(std::memcmp(&got[k].pos[1], &p.y, 4), 0) << m << "/" << k;
      EXPECT_EQ(std::memcmp(&got[k].pos[2], &p.z, 4), 0) << m << "/" << k;
    }
  }
}

TEST(Scene, BonesWhoseParentChainNeverEndsAreLeftOutAndCounted) {
  struct Case {
    const char* what;
    std::vector<int16_t> parents;
    std::vector<uint8_t> types;  // 0 for bones not given
    std::vector<bool> placed;
    int looped;  // 0: no line
  };
  const Case cases[] = {
      {"a bone its own parent", {-1, 1}, {}, {true, false}, 1},
      {"a ring of three with two hanging on it", {1, 2, 0, 0, 3}, {}, {false, false, false, false, false}, 5},
      {"a ring beside a good tree", {-1, 0, 3, 2, 1}, {}, {true, true, false, false, true}, 2},
      {"a chain ending past the bones", {5, 0}, {}, {false, false}, 0},
      {"a chain ending in a negative parent", {-2, 0}, {}, {false, false}, 0},
      {"a chain through an IK bone", {-1, 0, 1}, {0, 2, 0}, {true, false, false}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SceneRig rig;
    PmdDesc d;
    for (size_t j = 0; j < c.parents.size(); ++j) {
      d.bones.push_back(Bone("b", c.parents[j], j < c.types.size() ? c.types[j] : 0, float(j)));
      d.bones.back().name += std::to_string(j);
    }
    qev::test::LogCapture log;
    ASSERT_EQ(rig.Load(d), 1);
    for (size_t j = 0; j < c.placed.size(); ++j) EXPECT_EQ(rig.scene.BoneNode(int(j)) != nullptr, c.placed[j]) << j;
    if (c.looped)
      EXPECT_TRUE(log.Contains("PMD bones : " + std::to_string(c.looped) + " bones left out, their parent chain loops\n"));
    else
      EXPECT_FALSE(log.Contains("their parent chain loops"));
  }

  // every bone of the largest file behind one ring: each is counted once
  SceneRig rig;
  qev::test::LogCapture log;
  ASSERT_EQ(rig.Load(ParentLoopPmd(65535)), 1);
  EXPECT_TRUE(rig.scene.m_skeleton.m_children.empty());
  EXPECT_TRUE(log.Contains("PMD bones : 65535 bones left out, their parent chain loops\n"));
}

// Far too little stack for a walk that takes some for every level of a
// chain 32,769 bones deep; plenty for loading and posing a model.
constexpr size_t kSmallStack = 256 * 1024;

TEST(Scene, ASkeletonAsDeepAsTheFileAllowsLoadsPosesDrawsDumpsAndGoes) {
  constexpr int kBones = 40000;
  constexpr int kDeepest = 32768;  // the chain's last bone; the bones after it hang beside it
  const bool ran = qev::test::RunOnSmallStack(kSmallStack, [] {
    SceneRig rig;
    VpdDesc pose;
    pose.bones = {{"c0", {3, 0, 0}, {0, 0, 0, 1}}};
    rig.dir.WriteFile("p.vpd", BuildVpd(pose));
    VmdDesc motion;
    VmdBoneKeyDesc k0, k10;
    k0.name = k10.name = "c0";
    k10.frame = 10;
    k10.pos[0] = 10;
    motion.bones = {k0, k10};
    rig.dir.WriteFile("m.vmd", BuildVmd(motion));

    qev::test::LogCapture log;
    ASSERT_EQ(rig.Load(DeepChainPmd(kBones)), 1);
    CScene& s = rig.scene;
    ASSERT_NE(s.BoneNode(kDeepest), nullptr);
    EXPECT_EQ(s.BoneNode(kDeepest)->m_pParent, s.BoneNode(kDeepest - 1));
    EXPECT_EQ(s.BoneNode(kBones - 1)->m_pParent, s.BoneNode(kDeepest - 1));

    // One dump line per node, parents first; a line longer than the log
    // keeps is cut there, as every long message is.
    const std::vector<std::string>& lines = log.Lines();
    const auto tree = std::find(lines.begin(), lines.end(), "----------- BONE TREE ----------\n");
    ASSERT_GE(lines.end() - tree, kBones + 3);
    EXPECT_EQ(tree[1], "[ROOT]\n");
    EXPECT_EQ(tree[2], Sjis("  [c0()] : 位置(  0.00,  0.00, -0.00)\n"));  // z mirrored
    EXPECT_EQ(tree[2 + 9], std::string(20, ' ') + Sjis("[c9()] : 位置(  0.00,  0.09, -0.00)\n"));
    const std::string cut = std::string(2044, ' ') + "...\n";
    EXPECT_EQ(tree[2 + kDeepest], cut);
    EXPECT_EQ(tree[1 + kBones], cut);
    EXPECT_EQ(tree[2 + kBones], "----------- IK TREE ----------\n");

    // a pose of the first bone carries every bone below it
    ASSERT_EQ(s.LoadPose(rig.dir.Path("p.vpd").c_str(), &rig.failure), 1);
    EXPECT_FLOAT_EQ(s.W()[kDeepest]._41, 3.0f);
    EXPECT_FLOAT_EQ(s.W()[kBones - 1]._41, 3.0f);

    // so does its motion
    ASSERT_EQ(s.LoadMotion(rig.dir.Path("m.vmd").c_str(), &rig.failure), 1);
    EXPECT_NEAR(s.W()[kBones - 1]._41, 0.0f, 0.02f);
    EXPECT_EQ(s.AdvanceMotion(5.0f), 1);
    EXPECT_NEAR(s.W()[kDeepest]._41, 5.0f, 0.02f);
    EXPECT_NEAR(s.W()[kBones - 1]._41, 5.0f, 0.02f);

    // every bone but the last has a tail: one marker each, the last one
    // drawn on the last bone but one, where the motion put it
    rig.device.ClearCalls();
    s.DrawBones(&rig.device);
    const auto worlds = rig.device.Find("SetTransform(D3DTS_WORLD)");
    ASSERT_EQ(worlds.size(), size_t(kBones - 1));
    EXPECT_NEAR(worlds.back()->matrix._41, s.W()[kBones - 2]._41, 1e-4f);
    EXPECT_NEAR(worlds.back()->matrix._42, s.W()[kBones - 2]._42, 1e-2f);
    rig.device.ClearCalls();

    s.DiscardModel();
    EXPECT_TRUE(s.m_skeleton.m_children.empty());
    EXPECT_EQ(s.BoneNode(0), nullptr);
    // loaded once more, for the scene's own destructor to delete
    EXPECT_EQ(rig.Load(DeepChainPmd(kBones)), 1);
  });
  EXPECT_TRUE(ran);
}

TEST(Scene, AGoalTreeAsDeepAsTheFileAllowsIsBuiltPosedAndSolved) {
  // An arm (0) with its tip (1) 5 below it, and 32,766 IK goals (2 on) each
  // below the one before, all at (5, 5, 0). Every goal has its IK list; only
  // the deepest goal's list moves the arm.
  constexpr int kGoals = 32766;  // the last goal's parent is 32,766: still a parent index
  const bool ran = qev::test::RunOnSmallStack(kSmallStack, [] {
    SceneRig rig;
    PmdDesc d;
    d.bones = {Bone("arm", -1, 0, 5), Bone("tip", 0, 0, 0)};
    for (int g = 0; g < kGoals; ++g) {
      PmdBoneDesc b;
      b.name = "g" + std::to_string(g);
      b.parent = int16_t(g ? g + 1 : -1);
      b.type = 2;
      b.head[0] = 5;
      b.head[1] = 5;
      d.bones.push_back(b);
      PmdIkDesc ik;
      ik.ikBone = uint16_t(2 + g);
      ik.target = 1;
      ik.iterations = 1;
      ik.weight = 4.0f;
      if (g == kGoals - 1) ik.chain = {0};
      d.iks.push_back(ik);
    }
    VpdDesc pose;
    pose.bones = {{"g0", {0, 4, 0}, {0, 0, 0, 1}}};
    rig.dir.WriteFile("p.vpd", BuildVpd(pose));

    ASSERT_EQ(rig.Load(d), 1);
    CScene& s = rig.scene;
    ASSERT_EQ(s.m_ikRoot.m_children.size(), 1u);
    const CIKTree* deepest = s.m_ikRoot.FindByIndex(2 + kGoals - 1);
    ASSERT_NE(deepest, nullptr);
    EXPECT_EQ(deepest->m_nIk, kGoals - 1);
    // the unposed solve already turned the arm at the deepest goal: the tip
    // lies on the line from the arm's head to the goal
    const D3DXVECTOR3 armHead(0, 5, 0);
    auto tipTowards = [&](const D3DXVECTOR3& goal) {
      const D3DXVECTOR3 tip(s.W()[1]._41, s.W()[1]._42, s.W()[1]._43);
      D3DXVECTOR3 toTip = tip - armHead, toGoal = goal - armHead;
      D3DXVec3Normalize(&toTip, &toTip);
      D3DXVec3Normalize(&toGoal, &toGoal);
      return D3DXVec3Dot(&toTip, &toGoal);
    };
    EXPECT_NEAR(tipTowards({5, 5, 0}), 1.0f, 1e-4f);

    // the first goal's pose carries every goal below it, and the arm follows
    ASSERT_EQ(s.LoadPose(rig.dir.Path("p.vpd").c_str(), &rig.failure), 1);
    EXPECT_FLOAT_EQ(s.G()[kGoals - 1]._42, 9.0f);
    EXPECT_NEAR(tipTowards({5, 9, 0}), 1.0f, 1e-4f);
    s.DiscardModel();
    EXPECT_TRUE(s.m_ikRoot.m_children.empty());
    EXPECT_EQ(rig.Load(d), 1);  // left for the scene's own destructor
  });
  EXPECT_TRUE(ran);
}

TEST(Scene, AnUnreadableModelShowsTheParseFailureAndLeavesNoModel) {
  SceneRig rig;
  ASSERT_EQ(rig.Load(SamplePmd()), 1);
  rig.dir.WriteFile("bad.pmd", "Pmx not a model");
  EXPECT_EQ(rig.scene.LoadModel(rig.dir.Path("bad.pmd").c_str(), &rig.device, &rig.failure), 0);
  EXPECT_EQ(rig.failure, Sjis("モデルデータ解析失敗"));
  EXPECT_FALSE(rig.scene.Loaded());
  EXPECT_EQ(rig.scene.IkCount(), 0);
  EXPECT_EQ(rig.scene.m_pTextures, nullptr);
}

}  // namespace
