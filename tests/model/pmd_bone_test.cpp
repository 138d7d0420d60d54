// Skeleton nodes: bind pose and marker matrices, poses with the shared-eye
// rule, motion sampling, world matrices, marker drawing, the log dump, and
// walks that start below the top or follow a tree that changed.
#include "model/pmd_bone.h"

#include <gtest/gtest.h>

#include <cmath>

#include "model/model_description.h"
#include "model/vmd_file.h"
#include "model/vpd_file.h"
#include "platform/codepage.h"
#include "platform/recording_device.h"
#include "tests/common/temp_dir.h"
#include "tools/fixtures/pmd_fixture.h"
#include "tools/fixtures/vmd_fixture.h"
#include "tools/fixtures/vpd_fixture.h"

namespace {

using qev::Sjis;
using namespace qev::fixture;

PmdBoneDesc Bone(const char* name, int16_t parent, uint16_t tail, float x, float y, float z) {
  PmdBoneDesc b;
  b.name = Sjis(name);
  b.parent = parent;
  b.tail = tail;
  b.head[0] = x;
  b.head[1] = y;
  b.head[2] = -z;  // stored left-handed: the reader mirrors z back
  return b;
}

void Load(CModelDescription& pmd, const std::vector<PmdBoneDesc>& bones) {
  PmdDesc d;
  d.bones = bones;
  const std::string bytes = BuildPmd(d);
  ASSERT_EQ(pmd.LoadFromMemory(bytes.data(), bytes.size()), 1);
}

D3DXVECTOR3 Through(const D3DXVECTOR3& p, const D3DXMATRIX& m) {
  D3DXVECTOR3 out;
  D3DXVec3TransformCoord(&out, &p, &m);
  return out;
}

void ExpectNear(const D3DXVECTOR3& got, const D3DXVECTOR3& want, float eps = 1e-5f) {
  EXPECT_NEAR(got.x, want.x, eps);
  EXPECT_NEAR(got.y, want.y, eps);
  EXPECT_NEAR(got.z, want.z, eps);
}

void ExpectMatrixNear(const D3DXMATRIX& got, const D3DXMATRIX& want, float eps = 1e-5f) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(got.m[r][c], want.m[r][c], eps) << r << "," << c;
}

D3DXMATRIX Rotation(const D3DXQUATERNION& q) {
  D3DXMATRIX m;
  D3DXMatrixRotationQuaternion(&m, &q);
  return m;
}

D3DXMATRIX Translation(float x, float y, float z) {
  D3DXMATRIX m;
  D3DXMatrixTranslation(&m, x, y, z);
  return m;
}

TEST(PmdBone, BindPoseMatricesAndMarkerRotations) {
  // bone 0 at the origin; each later bone's tail decides its marker
  CModelDescription pmd;
  Load(pmd, {Bone("root", -1, 1, 0, 0, 0),     // 0 -> 1: along +X
             Bone("px", 0, 0, 2, 0, 0),        // 1 tail 0: no marker
             Bone("mx", 0, 1, 5, 0, 0),        // 2 -> 1: along -X
             Bone("up", 0, 4, 0, 1, 0),        // 3 -> 4: along +Y, length 3
             Bone("top", 3, 0, 0, 4, 0),       // 4
             Bone("away", 0, 77, 0, 0, 1)});   // 5 tail past the bones: no marker
  CPmdBone root;
  CPmdBone* b0 = root.AddChild(0, pmd);
  CPmdBone* b1 = b0->AddChild(1, pmd);
  CPmdBone* b2 = b0->AddChild(2, pmd);
  CPmdBone* b3 = b0->AddChild(3, pmd);
  CPmdBone* b4 = b3->AddChild(4, pmd);
  CPmdBone* b5 = b0->AddChild(5, pmd);

  ExpectMatrixNear(b4->m_mInvBind, Translation(0, -4, 0));
  ExpectMatrixNear(b4->m_mLocal, Translation(0, 3, 0));  // head minus the parent's head
  ExpectMatrixNear(b5->m_mLocal, Translation(0, 0, 1));  // mirrored back by the reader

  struct Case {
    const char* what;
    CPmdBone* node;
    int marker;
    D3DXVECTOR3 xAxisTo;  // where the marker rotation puts +X
    float length;
  };
  const Case cases[] = {
      {"+X: identity", b0, 1, {1, 0, 0}, 2},
      {"tail 0", b1, 0, {1, 0, 0}, 1},
      {"-X: half turn about Z", b2, 1, {-1, 0, 0}, 3},
      {"+Y", b3, 1, {0, 1, 0}, 3},
      {"tail out of range", b5, 0, {1, 0, 0}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.node->m_bMarker, c.marker);
    ExpectNear(Through({1, 0, 0}, c.node->m_mMarkerRot), c.xAxisTo);
    EXPECT_NEAR(c.node->m_mMarkerScale._11, c.length, 1e-5f);
  }
  D3DXMATRIX identity;
  D3DXMatrixIdentity(&identity);
  EXPECT_EQ(b0->m_mMarkerRot, identity);
  D3DXMATRIX halfTurn;
  D3DXMatrixRotationZ(&halfTurn, 3.1415927f);
  ExpectMatrixNear(b2->m_mMarkerRot, halfTurn, 0.0f);

  EXPECT_EQ(root.FindByIndex(4), b4);
  EXPECT_EQ(root.FindByIndex(0), b0);
  EXPECT_EQ(root.FindByIndex(-1), nullptr);  // never the node itself
  EXPECT_EQ(b3->FindByIndex(3), nullptr);
}

struct EyeRig {
  CModelDescription pmd;
  CPmdBone root;
  CPmdBone* head = nullptr;
  CPmdBone* right = nullptr;
  CPmdBone* left = nullptr;
  EyeRig() {
    Load(pmd, {Bone("頭", -1, 0, 0, 10, 0), Bone("右目", 0, 0, -1, 11, 0), Bone("左目", 0, 0, 1, 11, 0)});
    head = root.AddChild(0, pmd);
    right = head->AddChild(1, pmd);
    left = head->AddChild(2, pmd);
  }
};

void LoadPose(CVpdFile& pose, const VpdDesc& d) {
  const std::string text = BuildVpd(d);
  EXPECT_EQ(pose.LoadFromMemory(text.data(), text.size(), "pose"), 1);
}

TEST(PmdBone, ThePoseOfBothEyesTurnsEachEyeFirst) {
  EyeRig rig;
  VpdDesc d;
  d.bones = {{Sjis("両目"), {5, 6, 7}, {0, 0.2588190f, 0, 0.9659258f}},
             {Sjis("右目"), {0.5f, 0, 0}, {0.2588190f, 0, 0, 0.9659258f}}};
  CVpdFile pose;
  LoadPose(pose, d);
  rig.root.ApplyPose(pose);
  // the file's values mirrored: rotation x and y negated, position z negated
  const D3DXMATRIX both = Rotation({0, -0.2588190f, 0, 0.9659258f});
  const D3DXMATRIX eye = Rotation({-0.2588190f, 0, 0, 0.9659258f}) * Translation(0.5f, 0, 0);
  ExpectMatrixNear(rig.right->m_mAnim, both * eye);
  ExpectMatrixNear(rig.left->m_mAnim, both);  // no entry of its own; the shared translation unused
  D3DXMATRIX identity;
  D3DXMatrixIdentity(&identity);
  EXPECT_EQ(rig.head->m_mAnim, identity);

  // a pose without the shared bone leaves the eyes alone; applying resets first
  VpdDesc only;
  only.bones = {{Sjis("頭"), {0, 1, 0}, {0, 0, 0, 1}}};
  CVpdFile headOnly;
  LoadPose(headOnly, only);
  rig.root.ApplyPose(headOnly);
  EXPECT_EQ(rig.right->m_mAnim, identity);
  EXPECT_EQ(rig.left->m_mAnim, identity);
  ExpectMatrixNear(rig.head->m_mAnim, Translation(0, 1, 0));
}

TEST(PmdBone, MotionTracksSampleAtTheFrameAndClampNegativeFrames) {
  EyeRig rig;
  VmdDesc d;
  VmdBoneKeyDesc k0, k10;
  k0.name = Sjis("頭");
  k10.name = Sjis("頭");
  k10.frame = 10;
  k10.pos[0] = 4;
  d.bones = {k10, k0};
  const std::string bytes = BuildVmd(d);
  CVmdFile motion;
  ASSERT_EQ(motion.LoadFromMemory(bytes.data(), bytes.size()), 1);

  rig.root.AttachMotion(motion);
  EXPECT_EQ(rig.head->m_nKey, 2);
  EXPECT_EQ(rig.right->m_nKey, 0);  // no track of its name

  struct Case {
    float frame;
    float x;
  };
  for (const Case& c : {Case{-5.0f, 0.0f}, Case{0.0f, 0.0f}, Case{5.0f, 2.0f}, Case{10.0f, 4.0f}, Case{99.0f, 4.0f}}) {
    rig.root.SampleMotion(c.frame);
    EXPECT_NEAR(rig.head->m_mAnim._41, c.x, 0.02f) << c.frame;
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    EXPECT_EQ(rig.right->m_mAnim, identity);
  }

  // a pose drops the motion
  CVpdFile empty;
  rig.root.ApplyPose(empty);
  EXPECT_EQ(rig.head->m_nKey, 0);
}

TEST(PmdBone, WorldMatricesAreAnimationTimesLocalTimesParent) {
  CModelDescription pmd;
  Load(pmd, {Bone("a", -1, 1, 0, 2, 0), Bone("b", 0, 0, 0, 5, 0)});
  CPmdBone root;
  CPmdBone* a = root.AddChild(0, pmd);
  CPmdBone* b = a->AddChild(1, pmd);
  D3DXMatrixRotationZ(&a->m_mAnim, 1.5707964f);  // a turns a quarter about Z
  b->m_mAnim = Translation(1, 0, 0);

  D3DXMATRIX W[2], B[2];
  EXPECT_EQ(root.UpdateMatrices(nullptr, B), 0);
  ASSERT_EQ(root.UpdateMatrices(W, B), 1);
  ExpectMatrixNear(B[1], Translation(0, -5, 0));
  ExpectMatrixNear(W[1], b->m_mAnim * b->m_mLocal * W[0]);
  // b's head (0, 5, 0) moved one along its own X, then carried round a's head
  ExpectNear(Through({0, 5, 0}, B[1] * W[1]), {-3, 3, 0});
  // without B only W is written
  D3DXMATRIX W2[2], untouched[2];
  untouched[0]._11 = 42;
  ASSERT_EQ(root.UpdateMatrices(W2, nullptr), 1);
  EXPECT_EQ(W2[1], W[1]);
  EXPECT_EQ(untouched[0]._11, 42);
}

TEST(PmdBone, MarkersAreDrawnForBonesWithTailsInScaleRotationAnimationLocalOrder) {
  CModelDescription pmd;
  Load(pmd, {Bone("a", -1, 1, 0, 2, 0), Bone("b", 0, 0, 0, 5, 0)});
  CPmdBone root;
  CPmdBone* a = root.AddChild(0, pmd);
  a->AddChild(1, pmd);
  a->m_mAnim = Translation(0, 0, 1);
  qev::RecordingDevice device;
  root.Draw(&device, nullptr);
  const auto worlds = device.Find("SetTransform(D3DTS_WORLD)");
  ASSERT_EQ(worlds.size(), 1u);  // b has no tail, the root is never drawn
  ExpectMatrixNear(worlds[0]->matrix, a->m_mMarkerScale * a->m_mMarkerRot * a->m_mAnim * a->m_mLocal);
  EXPECT_EQ(device.Find("DrawPrimitiveUP(D3DPT_LINELIST, 11, 16)").size(), 1u);
}

TEST(PmdBone, DumpWritesTheTreeIndentedTwoBlanksPerLevel) {
  CModelDescription pmd;
  Load(pmd, {Bone("センター", -1, 1, 0, 8, 0), Bone("左足", 0, 0, 1, 10, 0.5f)});
  CPmdBone root;
  root.AddChild(0, pmd)->AddChild(1, pmd);
  qev::test::LogCapture log;
  root.Dump(0);
  const std::vector<std::string> want = {
      "[ROOT]\n",
      Sjis("  [センター()] : 位置(  0.00,  8.00,  0.00)\n"),
      Sjis("    [左足()] : 位置(  1.00, 10.00,  0.50)\n"),
  };
  EXPECT_EQ(log.Lines(), want);

  root.Clear();
  EXPECT_TRUE(root.m_children.empty());
  EXPECT_EQ(root.m_nIndex, -1);
}

TEST(PmdBone, WalksFromANodeBelowTheTopCoverItsSubtreeOnly) {
  CModelDescription pmd;
  Load(pmd, {Bone("a", -1, 1, 0, 2, 0), Bone("b", 0, 2, 0, 5, 0), Bone("c", 1, 0, 0, 7, 0), Bone("d", 0, 0, 3, 2, 0)});
  CPmdBone root;
  CPmdBone* a = root.AddChild(0, pmd);
  CPmdBone* b = a->AddChild(1, pmd);
  CPmdBone* c = b->AddChild(2, pmd);
  CPmdBone* d = a->AddChild(3, pmd);
  D3DXMATRIX W[4], B[4];
  ASSERT_EQ(root.UpdateMatrices(W, B), 1);

  // b and c move; a and d keep what the last whole pass gave them
  a->m_mAnim = Translation(1, 0, 0);  // not seen by a walk from b
  b->m_mAnim = Translation(0, 0, 4);
  D3DXMATRIX sentinel;
  sentinel._11 = 42;
  W[0] = W[3] = sentinel;
  ASSERT_EQ(b->UpdateMatrices(W, B), 1);
  EXPECT_EQ(W[0], sentinel);
  EXPECT_EQ(W[3], sentinel);
  ExpectNear(Through({0, 0, 0}, W[2]), {0, 7, 4});  // a's stored world: its move is not seen

  // a walk from b: only b's subtree, b's parent the matrix given
  VpdDesc pd;
  pd.bones = {{"a", {9, 0, 0}, {0, 0, 0, 1}}, {"c", {0, 1, 0}, {0, 0, 0, 1}}};
  const std::string text = BuildVpd(pd);
  CVpdFile pose;
  ASSERT_EQ(pose.LoadFromMemory(text.data(), text.size(), "p"), 1);
  b->ApplyPose(pose);
  ExpectMatrixNear(a->m_mAnim, Translation(1, 0, 0));
  ExpectMatrixNear(c->m_mAnim, Translation(0, 1, 0));
  D3DXMATRIX identity;
  D3DXMatrixIdentity(&identity);
  EXPECT_EQ(b->m_mAnim, identity);
  qev::RecordingDevice device;
  const D3DXMATRIX P = Translation(0, 0, 10);
  b->Draw(&device, &P);
  const auto worlds = device.Find("SetTransform(D3DTS_WORLD)");
  ASSERT_EQ(worlds.size(), 1u);  // b's marker; c has no tail
  ExpectMatrixNear(worlds[0]->matrix, b->m_mMarkerScale * b->m_mMarkerRot * b->m_mLocal * P);
  EXPECT_EQ(b->FindByIndex(3), nullptr);  // d is beside b, not below
  EXPECT_EQ(a->FindByIndex(3), d);
  EXPECT_EQ(b->FindByIndex(2), c);

  // the dump of a subtree starts at the depth given; below 0 counts as 0
  qev::test::LogCapture log;
  b->Dump(2);
  b->Dump(-1);
  const std::vector<std::string> want = {
      "    [b()] : 位置(  0.00,  5.00,  0.00)\n",
      "      [c()] : 位置(  0.00,  7.00,  0.00)\n",
      "[b()] : 位置(  0.00,  5.00,  0.00)\n",
      "[c()] : 位置(  0.00,  7.00,  0.00)\n",
  };
  ASSERT_EQ(log.Lines().size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(log.Lines()[i], Sjis(want[i].c_str())) << i;
}

TEST(PmdBone, WalksFollowNodesAddedAndClearedAfterAWalk) {
  CModelDescription pmd;
  Load(pmd, {Bone("a", -1, 0, 0, 2, 0), Bone("b", 0, 0, 0, 5, 0), Bone("c", 1, 0, 0, 7, 0)});
  CPmdBone root;
  CPmdBone* a = root.AddChild(0, pmd);
  D3DXMATRIX W[3] = {}, B[3] = {};
  ASSERT_EQ(root.UpdateMatrices(W, B), 1);
  EXPECT_EQ(root.FindByIndex(1), nullptr);

  // nodes added after a walk are in the next one, below their parent
  CPmdBone* b = a->AddChild(1, pmd);
  CPmdBone* c = b->AddChild(2, pmd);
  EXPECT_EQ(root.FindByIndex(2), c);
  a->m_mAnim = Translation(1, 0, 0);
  ASSERT_EQ(root.UpdateMatrices(W, B), 1);
  ExpectNear(Through({0, 0, 0}, W[2]), {1, 7, 0});
  EXPECT_EQ(B[2], Translation(0, -7, 0));

  // a cleared subtree is gone from every walk; nodes added again are found
  b->Clear();
  EXPECT_TRUE(b->m_children.empty());
  EXPECT_EQ(root.FindByIndex(2), nullptr);
  EXPECT_EQ(root.FindByIndex(1), nullptr);  // b itself now stands for no bone
  CPmdBone* again = a->AddChild(2, pmd);
  EXPECT_EQ(root.FindByIndex(2), again);
  D3DXMATRIX W2[3] = {}, B2[3] = {};
  ASSERT_EQ(root.UpdateMatrices(W2, B2), 1);
  ExpectNear(Through({0, 0, 0}, W2[2]), {1, 7, 0});
  qev::test::LogCapture log;
  root.Dump(0);
  EXPECT_EQ(log.Lines().size(), 4u);  // the root, a, the cleared b (as a root) and the new c
  EXPECT_EQ(log.Lines()[2], "    [ROOT]\n");

  // the whole tree cleared from its top, then grown again
  root.Clear();
  EXPECT_EQ(root.FindByIndex(0), nullptr);
  CPmdBone* fresh = root.AddChild(0, pmd);
  EXPECT_EQ(root.FindByIndex(0), fresh);
}

TEST(PmdBone, AfterATurnTheSubtreeUpdateEqualsAFullOne) {
  // a chain of four with a side branch; each node in turn gets a new
  // animation, and the update from it must equal a full update to the bit
  CModelDescription pmd;
  Load(pmd, {Bone("a", -1, 0, 0, 9, 0), Bone("b", 0, 0, 0, 6, 1), Bone("c", 1, 0, 1, 3, 0), Bone("d", 2, 0, 0, 0, 0),
             Bone("e", 1, 0, -1, 5, 0)});
  CPmdBone root;
  CPmdBone* a = root.AddChild(0, pmd);
  CPmdBone* b = a->AddChild(1, pmd);
  CPmdBone* c = b->AddChild(2, pmd);
  CPmdBone* d = c->AddChild(3, pmd);
  CPmdBone* e = b->AddChild(4, pmd);
  CPmdBone* nodes[] = {a, b, c, d, e};
  for (CPmdBone* node : nodes) node->m_mAnim = Rotation({0.1f, 0.2f, -0.1f, 0.97f}) * Translation(0.1f, 0, 0);
  D3DXMATRIX W[5], B[5], full[5], fullB[5];
  root.UpdateMatrices(W, B);
  for (CPmdBone* node : nodes) {
    SCOPED_TRACE(node->m_nIndex);
    node->m_mAnim = Rotation({0.3f, -0.1f, 0.05f, 0.95f}) * node->m_mAnim;
    node->UpdateTurned(W);
    root.UpdateMatrices(full, fullB);
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(W[i], full[i]) << i;
      EXPECT_EQ(B[i], fullB[i]) << i;
    }
  }
}

}  // namespace
