// VMD reader: the summary, key order, the later sections, broken files, and
// sampling with the Bezier easing.
#include "model/vmd_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "platform/codepage.h"
#include "tests/common/temp_dir.h"
#include "tools/fixtures/vmd_fixture.h"

namespace {

using qev::Sjis;
using qev::fixture::BuildVmd;
using qev::fixture::SampleVmd;
using qev::fixture::VmdBoneKeyDesc;
using qev::fixture::VmdDesc;
using qev::fixture::VmdExtent;

int LoadBytes(CVmdFile& vmd, const std::string& bytes) { return vmd.LoadFromMemory(bytes.data(), bytes.size()); }

void ExpectEmpty(const CVmdFile& vmd) {
  EXPECT_EQ(vmd.m_szModel[0], '\0');
  EXPECT_EQ(vmd.m_nBoneTrack, 0);
  EXPECT_EQ(vmd.m_nMorphTrack, 0);
  EXPECT_EQ(vmd.m_nCameraKey, 0);
  EXPECT_EQ(vmd.m_nLightKey, 0);
  EXPECT_EQ(vmd.m_nShadowKey, 0);
  EXPECT_EQ(vmd.m_nShowIkKey, 0);
  EXPECT_EQ(vmd.m_nMaxFrame, 0);
  EXPECT_EQ(vmd.m_pBoneTrack, nullptr);
}

TEST(VmdFile, SampleSummaryIsWrittenByteForByte) {
  qev::test::TempDir dir;
  dir.WriteFile("m.vmd", BuildVmd(SampleVmd()));
  CVmdFile vmd;
  qev::test::LogCapture log;
  ASSERT_EQ(vmd.Load(dir.Path("m.vmd").c_str()), 1);
  std::vector<std::string> expected;
  for (const char* line : {"HEADER : Vocaloid Motion Data 0002\n", "モデル : テストモデル\n", "ボーン数 : 5\n",
                           "表情数 : 2\n", "カメラキーフレーム数 : 1\n", "照明キーフレーム数 : 1\n",
                           "  [0] 0 (FFFF7F00)\n", "セルフ影キーフレーム数 : 1\n", "  [0] 12 1(0.087500)\n",
                           "モデル表示・IKキーフレーム数 : 1\n", "  [0] 0frm (2個)\n", "    0 左足ＩＫ [1]\n",
                           "    1 右足ＩＫ [0]\n", "最大フレーム数 : 40\n"})
    expected.push_back(Sjis(line));
  EXPECT_EQ(log.Lines(), expected);
}

TEST(VmdFile, SampleTracksAreSortedAndMirrored) {
  CVmdFile vmd;
  ASSERT_EQ(LoadBytes(vmd, BuildVmd(SampleVmd())), 1);
  EXPECT_EQ(std::string(vmd.m_szModel), Sjis("テストモデル"));
  ASSERT_EQ(vmd.m_nBoneTrack, 2);
  // tracks in order of first appearance; knee keys read at 30, 0, 15
  const VmdBoneTrack* knee = vmd.FindBoneTrack(Sjis("左ひざ").c_str());
  ASSERT_EQ(knee, &vmd.m_pBoneTrack[0]);
  ASSERT_EQ(knee->nKey, 3);
  EXPECT_EQ(knee->pKey[0].frame, 0u);
  EXPECT_EQ(knee->pKey[1].frame, 15u);
  EXPECT_EQ(knee->pKey[2].frame, 30u);
  EXPECT_EQ(knee->pKey[2].rot, D3DXQUATERNION(-0.5f, -0.0f, 0.0f, 0.8660254f));
  const VmdBoneTrack* centre = vmd.FindBoneTrack(Sjis("センター").c_str());
  ASSERT_NE(centre, nullptr);
  EXPECT_EQ(centre->pKey[1].pos, D3DXVECTOR3(1, 2, -3));
  // the interpolation values of channel X of the key at 20: x1 127, y1 0, x2 107, y2 107
  EXPECT_EQ(centre->pKey[1].interp[0], 127);
  EXPECT_EQ(centre->pKey[1].interp[1], 0);
  EXPECT_EQ(centre->pKey[1].interp[2], 107);
  EXPECT_EQ(centre->pKey[1].interp[3], 107);
  EXPECT_EQ(centre->pKey[1].interp[4], 20);
  EXPECT_EQ(vmd.FindBoneTrack("none"), nullptr);
  EXPECT_EQ(vmd.FindBoneTrack(nullptr), nullptr);

  ASSERT_EQ(vmd.m_nMorphTrack, 2);
  EXPECT_EQ(std::string(vmd.m_pMorphTrack[0].name), Sjis("まばたき"));
  ASSERT_EQ(vmd.m_pMorphTrack[0].nKey, 2);
  EXPECT_EQ(vmd.m_pMorphTrack[0].pKey[1].frame, 5u);  // file order, not sorted
  EXPECT_EQ(vmd.m_pMorphTrack[1].pKey[0].weight, 1.0f);

  ASSERT_EQ(vmd.m_nCameraKey, 1);
  const int reordered[4] = {0, 2, 1, 3};
  for (int i = 0; i < 24; ++i) EXPECT_EQ(vmd.m_pCameraKey[0].interp[i], i / 4 * 4 + reordered[i % 4]) << i;
  EXPECT_EQ(vmd.m_pCameraKey[0].viewAngle, 30u);
  ASSERT_EQ(vmd.m_nLightKey, 1);
  EXPECT_EQ(vmd.m_pLightKey[0].colour, 0xFFFF7F00u);
  EXPECT_EQ(vmd.m_pLightKey[0].dir[0], -0.5f);
  ASSERT_EQ(vmd.m_nShadowKey, 1);
  EXPECT_EQ(vmd.m_pShadowKey[0].mode, 1);
  ASSERT_EQ(vmd.m_nShowIkKey, 1);
  EXPECT_EQ(vmd.m_pShowIkKey[0].nIk, 2);
  EXPECT_EQ(vmd.m_pShowIkKey[0].pIk[1].enabled, 0);
  EXPECT_EQ(vmd.m_nMaxFrame, 40);
}

TEST(VmdFile, LaterSectionsAbsentOrCut) {
  struct Case {
    const char* what;
    VmdExtent extent;
    size_t cut;
    const char* closing;
    int cameras, lights, shadows, showIks;
  };
  const Case cases[] = {
      {"ends after morph keys", VmdExtent::kMorphs, 0, "QEVv?.??以前 OK\n", 0, 0, 0, 0},
      {"light keys cut", VmdExtent::kLight, 1, "QEVv?.??以前 OK\n", 0, 0, 0, 0},
      {"ends after light keys", VmdExtent::kLight, 0, "QEVv6.19以前 OK\n", 1, 1, 0, 0},
      {"shadow keys cut", VmdExtent::kShadow, 1, "QEVv6.19以前 OK\n", 1, 1, 0, 0},
      {"ends after shadow keys", VmdExtent::kShadow, 0, "QEVv7.39.x64以前 OK\n", 1, 1, 1, 0},
      {"visibility keys cut", VmdExtent::kShowIk, 1, "QEVv7.39.x64以前 OK\n", 1, 1, 1, 0},
      {"whole", VmdExtent::kShowIk, 0, nullptr, 1, 1, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    VmdDesc d = SampleVmd();
    d.extent = c.extent;
    std::string bytes = BuildVmd(d);
    bytes.resize(bytes.size() - c.cut);
    CVmdFile vmd;
    qev::test::LogCapture log;
    ASSERT_EQ(LoadBytes(vmd, bytes), 1);
    const auto& lines = log.Lines();
    ASSERT_GE(lines.size(), 2u);
    // the camera key at 40 counts only when its section is kept
    EXPECT_EQ(lines.back(), Sjis("最大フレーム数 : ") + (c.cameras ? "40" : "30") + "\n");
    if (c.closing) EXPECT_EQ(lines[lines.size() - 2], Sjis(c.closing));
    else EXPECT_NE(lines[lines.size() - 2].find(Sjis("右足ＩＫ")), std::string::npos);
    EXPECT_EQ(vmd.m_nCameraKey, c.cameras);
    EXPECT_EQ(vmd.m_nLightKey, c.lights);
    EXPECT_EQ(vmd.m_nShadowKey, c.shadows);
    EXPECT_EQ(vmd.m_nShowIkKey, c.showIks);
    EXPECT_EQ(vmd.m_nBoneTrack, 2);
  }
}

// The reader's rule stated plainly: insert before the first key whose frame
// is greater than or equal to the new one.
std::vector<std::pair<uint32_t, float>> InsertionOrder(const std::vector<VmdBoneKeyDesc>& keys, const std::string& name) {
  std::vector<std::pair<uint32_t, float>> out;  // frame, the key's x (its read index)
  for (const VmdBoneKeyDesc& k : keys) {
    if (k.name != name) continue;
    size_t at = 0;
    while (at < out.size() && out[at].first < k.frame) ++at;
    out.insert(out.begin() + long(at), {k.frame, k.pos[0]});
  }
  return out;
}

TEST(VmdFile, KeyOrderEqualsTheInsertionRuleOnRandomInputs) {
  std::mt19937 random(12345);
  for (int round = 0; round < 50; ++round) {
    VmdDesc d;
    const int n = int(random() % 300);
    const uint32_t frames = 1 + random() % 40;  // few frames: many ties
    for (int i = 0; i < n; ++i) {
      VmdBoneKeyDesc k;
      k.name = "b" + std::to_string(random() % 4);
      k.frame = random() % 8 == 0 ? 0xFFFFFFF0u + random() % 16 : random() % frames;
      k.pos[0] = float(i);
      d.bones.push_back(k);
    }
    CVmdFile vmd;
    ASSERT_EQ(LoadBytes(vmd, BuildVmd(d)), 1);
    int total = 0;
    for (int t = 0; t < vmd.m_nBoneTrack; ++t) {
      const VmdBoneTrack& track = vmd.m_pBoneTrack[t];
      const auto expected = InsertionOrder(d.bones, track.name);
      std::vector<std::pair<uint32_t, float>> got;
      for (int i = 0; i < track.nKey; ++i) got.push_back({track.pKey[i].frame, track.pKey[i].pos.x});
      EXPECT_EQ(got, expected) << "round " << round << " track " << track.name;
      total += track.nKey;
    }
    EXPECT_EQ(total, n);
  }
}

TEST(VmdFile, NamesAreCutAtFifteenBytes) {
  VmdDesc d;
  const std::string cut = Sjis("右腕捩れ１２３");  // 14 bytes, then a double-byte character over the edge
  d.bones = {{cut + Sjis("４"), 0}, {cut + Sjis("５"), 1}};
  d.morphs = {{std::string(15, 'm') + "x", 0, 0.5f}};
  CVmdFile vmd;
  ASSERT_EQ(LoadBytes(vmd, BuildVmd(d)), 1);
  // both names keep the same 15 bytes, so they share one track
  ASSERT_EQ(vmd.m_nBoneTrack, 1);
  EXPECT_EQ(std::string(vmd.m_pBoneTrack[0].name), (cut + Sjis("４")).substr(0, 15));
  EXPECT_EQ(vmd.m_pBoneTrack[0].nKey, 2);
  EXPECT_EQ(std::string(vmd.m_pMorphTrack[0].name), std::string(15, 'm'));
}

TEST(VmdFile, HighestFrameComparesSigned) {
  struct Case {
    std::vector<uint32_t> frames;
    int expected;
  };
  const Case cases[] = {{{}, 0}, {{5, 3}, 5}, {{0xFFFFFFFFu, 7}, 7}, {{0x7FFFFFFFu}, 0x7FFFFFFF}, {{0x80000000u}, 0}};
  for (const Case& c : cases) {
    VmdDesc d;
    d.extent = VmdExtent::kMorphs;
    for (uint32_t f : c.frames) d.bones.push_back({"a", f});
    CVmdFile vmd;
    ASSERT_EQ(LoadBytes(vmd, BuildVmd(d)), 1);
    EXPECT_EQ(vmd.m_nMaxFrame, c.expected);
  }
}

TEST(VmdFile, LightColourPacking) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    float colour[3];
    uint32_t packed;
  };
  const Case cases[] = {
      {{1.0f, 0.5f, 0.0f}, 0xFFFF7F00u},
      {{0.6f, 0.6f, 0.6f}, 0xFF999999u},
      {{0.999f, 0.004f, 0.0039f}, 0xFFFE0100u},
      {{2.0f, -1.0f, nan}, 0xFFFF0000u},  // outside the byte: saturated, not wrapped
  };
  for (const Case& c : cases) {
    VmdDesc d;
    d.extent = VmdExtent::kLight;
    d.lights.push_back({});
    std::memcpy(d.lights[0].colour, c.colour, sizeof c.colour);
    CVmdFile vmd;
    ASSERT_EQ(LoadBytes(vmd, BuildVmd(d)), 1);
    EXPECT_EQ(vmd.m_pLightKey[0].colour, c.packed) << std::hex << c.packed;
  }
}

TEST(VmdFile, EveryPrefixLoadsOrFailsCleanly) {
  VmdDesc d = SampleVmd();
  d.extent = VmdExtent::kMorphs;
  const size_t body = BuildVmd(d).size();
  const std::string whole = BuildVmd(SampleVmd());
  for (size_t n = 0; n <= whole.size(); ++n) {
    CVmdFile vmd;
    qev::test::LogCapture log;
    const int result = LoadBytes(vmd, whole.substr(0, n));
    if (n < body) {
      ASSERT_EQ(result, 0) << n;
      ASSERT_FALSE(log.Lines().empty()) << n;
      EXPECT_NE(log.Lines().back().find(" cut short at offset "), std::string::npos) << n;
      ExpectEmpty(vmd);
    } else {
      ASSERT_EQ(result, 1) << n;
      EXPECT_EQ(vmd.m_nBoneTrack, 2) << n;
      EXPECT_EQ(log.Lines().back().find(Sjis("最大フレーム数")), 0u) << n;
    }
  }
}

TEST(VmdFile, HostileCounts) {
  VmdDesc empty;
  const std::string base = BuildVmd(empty);  // header 50, then five zero counts
  struct Case {
    size_t offset;
    int result;
    const char* last;
  };
  const Case cases[] = {
      {50, 0, "VMD error : bone keys cut short at offset 54\n"},
      {54, 0, "VMD error : morph keys cut short at offset 58\n"},
      {58, 1, "QEVv?.??以前 OK\n"},     // camera keys
      {62, 1, "QEVv?.??以前 OK\n"},     // light keys
      {66, 1, "QEVv6.19以前 OK\n"},     // self-shadow keys
      {70, 1, "QEVv7.39.x64以前 OK\n"}, // visibility keys
  };
  for (const Case& c : cases) {
    std::string bytes = base;
    const uint32_t hostile = 0xFFFFFFFFu;
    std::memcpy(bytes.data() + c.offset, &hostile, 4);
    CVmdFile vmd;
    qev::test::LogCapture log;
    EXPECT_EQ(LoadBytes(vmd, bytes), c.result) << c.offset;
    ASSERT_FALSE(log.Lines().empty());
    const auto& lines = log.Lines();
    EXPECT_EQ(c.result ? lines[lines.size() - 2] : lines.back(), Sjis(c.last)) << c.offset;
  }
  // a visibility key that claims 0xFFFFFFFF IK entries
  VmdDesc one;
  one.showIks.push_back({3, 1, {}});
  std::string bytes = BuildVmd(one);
  const uint32_t hostile = 0xFFFFFFFFu;
  std::memcpy(bytes.data() + 74 + 5, &hostile, 4);
  CVmdFile vmd;
  qev::test::LogCapture log;
  EXPECT_EQ(LoadBytes(vmd, bytes), 1);
  EXPECT_EQ(vmd.m_nShowIkKey, 0);
  EXPECT_EQ(log.Lines().at(log.Lines().size() - 2), Sjis("QEVv7.39.x64以前 OK\n"));
}

TEST(VmdFile, UnreadableFileFailsSilentlyAndSecondLoadLeavesNoTrace) {
  qev::test::TempDir dir;
  CVmdFile vmd;
  ASSERT_EQ(LoadBytes(vmd, BuildVmd(SampleVmd())), 1);
  {
    qev::test::LogCapture log;
    EXPECT_EQ(vmd.Load(dir.Path("missing.vmd").c_str()), 0);
    EXPECT_TRUE(log.Lines().empty());
    ExpectEmpty(vmd);
  }
  ASSERT_EQ(LoadBytes(vmd, BuildVmd(SampleVmd())), 1);
  VmdDesc other;
  other.extent = VmdExtent::kMorphs;
  ASSERT_EQ(LoadBytes(vmd, BuildVmd(other)), 1);
  ExpectEmpty(vmd);
}

// Ease against the same bisection carried out in double precision.
double EaseReference(double x1, double y1, double x2, double y2, double t) {
  auto curve = [](double a, double b, double s) { return 3 * (1 - s) * (1 - s) * s * a + 3 * (1 - s) * s * s * b + s * s * s; };
  double s = 0.5;
  for (int k = 0; k < 15; ++k) {
    const double e = curve(x1 / 127, x2 / 127, s) - t;
    if (std::fabs(e) < 0.00001) break;
    s += e > 0 ? -std::ldexp(1.0, -(k + 2)) : std::ldexp(1.0, -(k + 2));
  }
  return curve(y1 / 127, y2 / 127, s);
}

TEST(VmdEase, CurveValues) {
  struct Case {
    int x1, y1, x2, y2;
    float t;
    float expected;
    float tolerance;
  };
  const Case cases[] = {
      {20, 20, 107, 107, 0.5f, 0.5f, 1e-4f},      // the straight line
      {20, 20, 107, 107, 0.0f, 0.0f, 1e-4f},
      {20, 20, 107, 107, 0.9999f, 0.9999f, 1e-4f},
      {127, 0, 127, 127, 0.0f, 0.0f, 1e-4f},
      {0, 127, 0, 127, 0.999f, 1.0f, 1e-3f},
      {64, 0, 63, 127, 0.5f, 0.5f, 1e-4f},  // point-symmetric ease in and out
      {127, 0, 0, 127, 0.25f, float(EaseReference(127, 0, 0, 127, 0.25)), 1e-4f},
      {10, 90, 40, 120, 0.3f, float(EaseReference(10, 90, 40, 120, 0.3)), 1e-4f},
  };
  for (const Case& c : cases)
    EXPECT_NEAR(Ease(c.x1, c.y1, c.x2, c.y2, c.t), c.expected, c.tolerance) << c.x1 << " " << c.y1 << " " << c.t;
  // ease in: slower than the line early on
  EXPECT_LT(Ease(127, 0, 127, 127, 0.25f), 0.1f);
}

VmdBoneKey Key(uint32_t frame, float x, D3DXQUATERNION rot = {0, 0, 0, 1}) {
  VmdBoneKey k{};
  k.frame = frame;
  k.pos = D3DXVECTOR3(x, 2 * x, -x);
  k.rot = rot;
  for (int c = 0; c < 4; ++c) {
    k.interp[c * 4 + 0] = k.interp[c * 4 + 1] = 20;
    k.interp[c * 4 + 2] = k.interp[c * 4 + 3] = 107;
  }
  return k;
}

TEST(VmdSample, PoseBetweenAndOutsideKeys) {
  const float s = std::sqrt(0.5f);
  const VmdBoneKey two[] = {Key(10, 1, {0, 0, 0, 1}), Key(20, 3, {0, s, 0, s})};
  struct Case {
    float frame;
    float x;
    float angle;  // about y, radians
  };
  const Case cases[] = {
      {15.0f, 2.0f, 0.7853982f},   // half way: half the turn
      {10.0f, 1.0f, 0.0f},        // on the first key
      {0.0f, 1.0f, 0.0f},         // before the first key: the first key's pose
      {9.5f, 1.0f, 0.0f},
      {-5.0f, 1.0f, 0.0f},        // negative frames likewise
      {20.0f, 3.0f, 1.5707964f},  // at and after the last key
      {1e9f, 3.0f, 1.5707964f},
  };
  for (const Case& c : cases) {
    D3DXVECTOR3 pos;
    D3DXQUATERNION rot;
    ASSERT_EQ(SampleBoneKeys(two, 2, c.frame, &pos, &rot), 1);
    EXPECT_NEAR(pos.x, c.x, 1e-4f) << c.frame;
    EXPECT_NEAR(pos.y, 2 * c.x, 1e-4f) << c.frame;
    EXPECT_NEAR(pos.z, -c.x, 1e-4f) << c.frame;
    EXPECT_NEAR(2 * std::acos(std::min(1.0f, rot.w)), c.angle, 1e-3f) << c.frame;
  }
  D3DXVECTOR3 pos;
  D3DXQUATERNION rot;
  EXPECT_EQ(SampleBoneKeys(two, 0, 5.0f, &pos, &rot), 0);
  EXPECT_EQ(SampleBoneKeys(nullptr, 3, 5.0f, &pos, &rot), 0);
  const VmdBoneKey one[] = {Key(7, 5)};
  for (float f : {0.0f, 7.0f, 100.0f}) {
    ASSERT_EQ(SampleBoneKeys(one, 1, f, &pos, &rot), 1);
    EXPECT_EQ(pos, D3DXVECTOR3(5, 10, -5));
  }
}

TEST(VmdSample, LinearKeysAtSevenAndAHalfWeighAboutHalf) {
  VmdDesc d;
  d.bones = {{"b", 15, {2, 0, 0}}, {"b", 0, {0, 0, 0}}};
  CVmdFile vmd;
  ASSERT_EQ(LoadBytes(vmd, BuildVmd(d)), 1);
  const VmdBoneTrack* t = vmd.FindBoneTrack("b");
  D3DXVECTOR3 pos;
  D3DXQUATERNION rot;
  ASSERT_EQ(SampleBoneKeys(t->pKey.get(), t->nKey, 7.5f, &pos, &rot), 1);
  EXPECT_NEAR(pos.x, 1.0f, 1e-3f);
  // a slow start on X stored on the earlier key (frame 0, read second) does
  // not shape the interval after it...
  d.bones[1].interp[0][0] = 127;
  d.bones[1].interp[0][1] = 0;
  ASSERT_EQ(LoadBytes(vmd, BuildVmd(d)), 1);
  t = vmd.FindBoneTrack("b");
  ASSERT_EQ(SampleBoneKeys(t->pKey.get(), t->nKey, 7.5f, &pos, &rot), 1);
  EXPECT_NEAR(pos.x, 1.0f, 1e-3f);
  // ...stored on the later key (frame 15, read first) it does
  d.bones[0].interp[0][0] = 127;
  d.bones[0].interp[0][1] = 0;
  ASSERT_EQ(LoadBytes(vmd, BuildVmd(d)), 1);
  t = vmd.FindBoneTrack("b");
  ASSERT_EQ(SampleBoneKeys(t->pKey.get(), t->nKey, 7.5f, &pos, &rot), 1);
  EXPECT_LT(pos.x, 0.6f);
}

// Curves whose ease can be worked out by hand. With X(s) and Y(s) the
// Bezier of Ease (control values over 127):
//   fast (0, 127, 0, 127): X(s) = s^3, Y(s) = 1 - (1 - s)^3, so the weight
//     at t is 1 - (1 - t^(1/3))^3;
//   slow (127, 0, 127, 0): X(s) = 1 - (1 - s)^3, Y(s) = s^3, so the weight
//     is (1 - (1 - t)^(1/3))^3;
//   line (20, 20, 107, 107): both control points on the diagonal, Y = X,
//     so the weight is t.
// The bisection stops within 1e-5 of t in X; the slopes of these curves at
// the points used keep the weights within 1e-5 of the exact ones (times the
// 30 units z moves, 3e-4).
void SetCurve(VmdBoneKey* k, int channel, int x1, int y1, int x2, int y2) {
  int32_t* v = &k->interp[channel * 4];
  v[0] = x1;
  v[1] = y1;
  v[2] = x2;
  v[3] = y2;
}

TEST(VmdSample, LaterKeysCurvesShapeTheInterval) {
  // Key a at frame 0: position (0, 0, 0), no turn. Key b at frame 20:
  // position (10, 20, 30), a quarter turn about y. Each key carries other
  // curves, so the weights tell whose curves were used.
  const float s = std::sqrt(0.5f);
  VmdBoneKey keys[2] = {Key(0, 0), Key(20, 0, {0, s, 0, s})};
  keys[1].pos = D3DXVECTOR3(10, 20, 30);
  SetCurve(&keys[0], 0, 127, 0, 127, 0);  // a: X slow, Y fast, Z slow, R slow
  SetCurve(&keys[0], 1, 0, 127, 0, 127);
  SetCurve(&keys[0], 2, 127, 0, 127, 0);
  SetCurve(&keys[0], 3, 127, 0, 127, 0);
  SetCurve(&keys[1], 0, 0, 127, 0, 127);  // b: X fast, Y slow, Z line, R fast
  SetCurve(&keys[1], 1, 127, 0, 127, 0);
  SetCurve(&keys[1], 2, 20, 20, 107, 107);
  SetCurve(&keys[1], 3, 0, 127, 0, 127);
  struct Case {
    float frame;  // t = frame / 20
    // Worked out by hand from b's curves:
    //   fast(t): t^(1/3) at 0.25, 0.5, 0.75 is 0.6299605, 0.7937005, 0.9085603;
    //     1 minus its cube of (1 - that) gives 0.9493308, 0.9912200, 0.9992355.
    //   slow(t): (1 - t)^(1/3) is 0.9085603, 0.7937005, 0.6299605; the cube of
    //     1 minus that is 0.0007645, 0.0087800, 0.0506692.
    // x = 10 fast(t), y = 20 slow(t), z = 30 t, turn = 90 degrees x fast(t).
    float x, y, z, turn;
  };
  const Case cases[] = {
      {5.0f, 9.493308f, 0.015291f, 7.5f, 1.491205f},     // t = 0.25
      {10.0f, 9.912200f, 0.175600f, 15.0f, 1.557005f},   // t = 0.5
      {15.0f, 9.992355f, 1.013384f, 22.5f, 1.569595f},   // t = 0.75
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.frame);
    D3DXVECTOR3 pos;
    D3DXQUATERNION rot;
    ASSERT_EQ(SampleBoneKeys(keys, 2, c.frame, &pos, &rot), 1);
    EXPECT_NEAR(pos.x, c.x, 1e-4f);
    EXPECT_NEAR(pos.y, c.y, 1e-4f);
    EXPECT_NEAR(pos.z, c.z, 3e-4f);
    // the turn stays about y: x and z of the quaternion stay 0
    EXPECT_NEAR(rot.x, 0.0f, 1e-6f);
    EXPECT_NEAR(rot.z, 0.0f, 1e-6f);
    EXPECT_NEAR(2 * std::atan2(rot.y, rot.w), c.turn, 1e-4f);
  }
}

TEST(VmdSample, BeforeTheFirstKeyItsPoseHolds) {
  // A bone first keyed at frame 30 shows that key until then, not the last one.
  const float s = std::sqrt(0.5f);
  const VmdBoneKey keys[] = {Key(30, 1), Key(40, 2, {0, s, 0, s}), Key(50, 3)};
  for (float frame : {0.0f, 10.0f, 29.0f, 29.99f}) {
    SCOPED_TRACE(frame);
    D3DXVECTOR3 pos;
    D3DXQUATERNION rot;
    ASSERT_EQ(SampleBoneKeys(keys, 3, frame, &pos, &rot), 1);
    EXPECT_EQ(pos, D3DXVECTOR3(1, 2, -1));
    EXPECT_EQ(rot, D3DXQUATERNION(0, 0, 0, 1));
  }
  D3DXVECTOR3 pos;
  D3DXQUATERNION rot;
  ASSERT_EQ(SampleBoneKeys(keys, 3, 60.0f, &pos, &rot), 1);
  EXPECT_EQ(pos, D3DXVECTOR3(3, 6, -3));
}

// Playback hands the sampler the interval it used last; whatever order the
// frames come in and whatever the remembered value, every sample is the one
// a fresh search gives, worked out here channel by channel with Ease.
TEST(VmdSample, TheRememberedIntervalNeverChangesASample) {
  const float s = std::sqrt(0.5f);
  VmdBoneKey keys[] = {Key(0, 1), Key(10, 2, {0, s, 0, s}), Key(10, 3, {s, 0, 0, s}), Key(25, 4), Key(40, 5, {0, 0, s, s})};
  // curves that X and Z share, Y its own, R shared with Y on one key only
  for (VmdBoneKey& k : keys) {
    SetCurve(&k, 0, 90, 10, 30, 120);
    SetCurve(&k, 1, 10, 100, 60, 127);
    SetCurve(&k, 2, 90, 10, 30, 120);
    SetCurve(&k, 3, 64, 0, 64, 127);
  }
  SetCurve(&keys[3], 3, 10, 100, 60, 127);
  auto expected = [&](float frame, D3DXVECTOR3* pos, D3DXQUATERNION* rot) {
    int a = -1;  // the last key at or before the frame
    for (int i = 0; i < 5; ++i)
      if (float(keys[i].frame) <= frame) a = i;
    if (a < 0 || a == 4) {
      const VmdBoneKey& held = keys[a < 0 ? 0 : 4];
      *pos = held.pos;
      *rot = held.rot;
      return;
    }
    const VmdBoneKey &ka = keys[a], &kb = keys[a + 1];
    const float t = (frame - float(ka.frame)) / float(kb.frame - ka.frame);
    auto ease = [&](int c) {
      const int32_t* v = &kb.interp[c * 4];
      return Ease(v[0], v[1], v[2], v[3], t);
    };
    *pos = D3DXVECTOR3(ka.pos.x + ease(0) * (kb.pos.x - ka.pos.x), ka.pos.y + ease(1) * (kb.pos.y - ka.pos.y),
                       ka.pos.z + ease(2) * (kb.pos.z - ka.pos.z));
    D3DXQuaternionSlerp(rot, &ka.rot, &kb.rot, ease(3));
  };
  std::vector<float> frames;
  for (float f = -2; f <= 45; f += 1) frames.push_back(f);                       // playing
  for (float f : {30.0f, 5.0f, 26.0f, 26.0f, 41.0f, 0.0f, 11.0f, 9.5f, 10.0f}) frames.push_back(f);  // jumps
  int32_t last = -1;
  for (int round = 0; round < 3; ++round) {
    for (float f : frames) {
      SCOPED_TRACE(f);
      if (round == 1) last = 1000;  // values no call leaves behind
      if (round == 2) last = -50;
      D3DXVECTOR3 pos, want;
      D3DXQUATERNION rot, wantRot;
      ASSERT_EQ(SampleBoneKeys(keys, 5, f, &pos, &rot, &last), 1);
      expected(f, &want, &wantRot);
      EXPECT_EQ(pos, want);
      EXPECT_EQ(rot, wantRot);
      EXPECT_GE(last, -1);
      EXPECT_LE(last, 4);
    }
  }
}

}  // namespace
