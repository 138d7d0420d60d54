// The camera track: which motions are cameras, the view of one key (the
// start-up view, pure yaw, pitch and roll), each channel eased by the later
// key's own curve read from the file's bytes, and the frames outside the keys.
#include "model/camera_track.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "model/vmd_file.h"
#include "platform/codepage.h"
#include "tests/common/temp_dir.h"
#include "tools/fixtures/vmd_fixture.h"

namespace {

using qev::Sjis;
using qev::fixture::BuildVmd;
using qev::fixture::VmdCameraKeyDesc;
using qev::fixture::VmdDesc;
using qev::fixture::VmdExtent;

// A camera file: camera keys, no bone keys, an empty light section.
VmdDesc CameraFile(std::vector<VmdCameraKeyDesc> keys) {
  VmdDesc d;
  d.model = Sjis("カメラ・照明");
  d.extent = VmdExtent::kLight;
  d.cameras = std::move(keys);
  return d;
}

// Sets all six curves of a key, as the file stores them (x1, x2, y1, y2).
void Curve(VmdCameraKeyDesc* k, int group, int x1, int y1, int x2, int y2) {
  k->interp[group * 4 + 0] = uint8_t(x1);
  k->interp[group * 4 + 1] = uint8_t(x2);
  k->interp[group * 4 + 2] = uint8_t(y1);
  k->interp[group * 4 + 3] = uint8_t(y2);
}

int Attach(CCameraTrack* track, const VmdDesc& d) {
  CVmdFile vmd;
  const std::string bytes = BuildVmd(d);
  EXPECT_EQ(vmd.LoadFromMemory(bytes.data(), bytes.size()), 1);
  return track->Attach(vmd);
}

void ExpectNear(const D3DXVECTOR3& got, const D3DXVECTOR3& want, float tolerance) {
  EXPECT_NEAR(got.x, want.x, tolerance);
  EXPECT_NEAR(got.y, want.y, tolerance);
  EXPECT_NEAR(got.z, want.z, tolerance);
}

TEST(CameraTrack, OnlyCameraKeysWithoutBoneKeysMakeACamera) {
  VmdCameraKeyDesc key;
  qev::fixture::VmdBoneKeyDesc bone;
  bone.name = "b";
  struct Case {
    const char* what;
    bool bones, cameras;
    bool camera;
  };
  const Case cases[] = {
      {"camera keys alone", false, true, true},
      {"bone and camera keys: a model's motion", true, true, false},
      {"bone keys alone", true, false, false},
      {"nothing", false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    VmdDesc d = CameraFile({});
    if (c.bones) d.bones = {bone};
    if (c.cameras) d.cameras = {key};
    CVmdFile vmd;
    const std::string bytes = BuildVmd(d);
    ASSERT_EQ(vmd.LoadFromMemory(bytes.data(), bytes.size()), 1);
    EXPECT_EQ(IsCameraMotion(vmd), c.camera);
    // a track refuses what is no camera and keeps what it held
    CCameraTrack track;
    VmdCameraKeyDesc held;
    held.frame = 7;
    ASSERT_EQ(Attach(&track, CameraFile({held})), 1);
    qev::test::LogCapture log;
    EXPECT_EQ(track.Attach(vmd), c.camera ? 1 : 0);
    EXPECT_EQ(track.KeyCount(), 1);
    EXPECT_EQ(track.LastFrame(), c.camera ? 0u : 7u);
    if (!c.camera) {
      EXPECT_TRUE(log.Contains("camera : not a camera motion")) << log.Text();
    }
  }
}

TEST(CameraTrack, AttachLogsTheKeysAndTheOrthographicOnes) {
  VmdCameraKeyDesc a, b, c;
  a.frame = 40;
  b.frame = 0;
  c.frame = 90;
  b.perspective = 1;
  c.perspective = 1;
  CCameraTrack track;
  qev::test::LogCapture log;
  ASSERT_EQ(Attach(&track, CameraFile({a, b, c})), 1);
  EXPECT_TRUE(log.Contains("camera : 3 keys, frames 0 to 90\n")) << log.Text();
  EXPECT_TRUE(log.Contains("camera : 2 keys orthographic, drawn in perspective\n")) << log.Text();
  EXPECT_EQ(track.LastFrame(), 90u);
  track.Clear();
  EXPECT_TRUE(track.Empty());
}

TEST(CameraTrack, AKeyMadeForTheStartUpViewGivesIt) {
  // The start-up view: eye (10, 20, 20), target (0, 10, 0), 45 degrees. The
  // eye stands (10, 10, 20) from the target, sqrt(600) away; in the file's
  // space (z negated) (10, 10, -20). The arm (0, 0, -sqrt(600)) pitched by a
  // and turned by b ends at (-L cos a sin b, L sin a, -L cos a cos b), so
  // sin a = 10 / L and tan b = -10 / 20.
  const float length = std::sqrt(600.0f);
  VmdCameraKeyDesc key;
  key.distance = -length;
  key.rot[0] = std::atan2(10.0f, std::sqrt(500.0f));
  key.rot[1] = std::atan2(-10.0f, 20.0f);
  key.viewAngle = 45;
  CCameraTrack track;
  ASSERT_EQ(Attach(&track, CameraFile({key})), 1);
  const CameraView view = track.View(0);
  ExpectNear(view.eye, D3DXVECTOR3(10, 20, 20), 1e-5f);
  EXPECT_EQ(view.target, D3DXVECTOR3(0, 10, 0));
  EXPECT_EQ(view.fov, 0.7853982f);  // the start-up camera's float of pi / 4
  const D3DXVECTOR3 toTarget = view.target - view.eye;
  EXPECT_NEAR(D3DXVec3Length(&toTarget), length, 1e-5f);
  // no roll: up stays in the upright plane through the line of sight
  D3DXVECTOR3 side;
  const D3DXVECTOR3 worldUp(0, 1, 0);
  D3DXVec3Cross(&side, &toTarget, &worldUp);
  EXPECT_NEAR(D3DXVec3Dot(&side, &view.up), 0.0f, 1e-5f);
  EXPECT_NEAR(D3DXVec3Dot(&toTarget, &view.up), 0.0f, 1e-4f);
  EXPECT_GT(view.up.y, 0.9f);
}

TEST(CameraTrack, YawPitchAndRollMoveTheEyeAndUpAsTheConventionsSay) {
  // Target (0, 10, 0), distance -45. Without a turn the eye stands 45 units
  // in front of the target: the file's -z, our +z. In the file's space:
  // - a yaw of b swings the arm (0, 0, -45) to (-45 sin b, 0, -45 cos b);
  // - a pitch of a lifts it to (0, 45 sin a, -45 cos a), and up (0, 1, 0)
  //   tilts to (0, cos a, sin a);
  // - a roll of g leaves the eye and leans up to (-sin g, cos g, 0).
  // Our space then negates z.
  const float h = 0.5f, s = std::sin(h), c = std::cos(h);
  const float quarter = 1.5707964f;
  struct Case {
    const char* what;
    float pitch, yaw, roll;
    D3DXVECTOR3 eye, up;
  };
  const Case cases[] = {
      {"no turn", 0, 0, 0, {0, 10, 45}, {0, 1, 0}},
      {"yaw a quarter", 0, quarter, 0, {-45, 10, 0}, {0, 1, 0}},
      {"yaw half a radian", 0, h, 0, {-45 * s, 10, 45 * c}, {0, 1, 0}},
      {"pitch half a radian", h, 0, 0, {0, 10 + 45 * s, 45 * c}, {0, c, -s}},
      {"roll half a radian", 0, 0, h, {0, 10, 45}, {-s, c, 0}},
      {"roll a half turn", 0, 0, 2 * quarter, {0, 10, 45}, {0, -1, 0}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    CameraValues v;
    v.target = D3DXVECTOR3(0, 10, 0);
    v.rotation = D3DXVECTOR3(k.pitch, k.yaw, k.roll);
    v.distance = -45;
    v.viewAngle = 30;
    const CameraView view = ViewFromCamera(v);
    ExpectNear(view.eye, k.eye, 1e-4f);
    ExpectNear(view.up, k.up, 1e-5f);
    EXPECT_EQ(view.target, D3DXVECTOR3(0, 10, 0));
    EXPECT_NEAR(view.fov, 0.5235988f, 1e-7f);
  }
  // the target is mirrored like every position
  CameraValues v{{1, 2, 3}, {0, 0, 0}, -10, 30};
  const CameraView moved = ViewFromCamera(v);
  EXPECT_EQ(moved.target, D3DXVECTOR3(1, 2, -3));
  ExpectNear(moved.eye, D3DXVECTOR3(1, 2, 7), 1e-6f);
}

TEST(CameraTrack, EachChannelEasesByTheLaterKeysOwnCurve) {
  // Key a at frame 0 and key b at frame 20 carry other curves in every
  // group; b's curves must shape each channel, each its own. Worked by hand
  // (see the bone track test for the curves):
  //   fast (0, 127, 0, 127): 1 - (1 - t^(1/3))^3 = 0.9493308, 0.9912200, 0.9992355
  //   slow (127, 0, 127, 0): (1 - (1 - t)^(1/3))^3 = 0.0007645, 0.0087800, 0.0506692
  //   line (20, 20, 107, 107): t
  // at t = 0.25, 0.5 and 0.75.
  VmdCameraKeyDesc a, b;
  a.frame = 0;
  a.pos[0] = a.pos[1] = a.pos[2] = 0;
  a.distance = -10;
  a.viewAngle = 20;
  b.frame = 20;
  b.pos[0] = 10;
  b.pos[1] = 20;
  b.pos[2] = 30;
  b.rot[0] = 0.2f;
  b.rot[1] = 0.4f;
  b.rot[2] = 0.6f;
  b.distance = -50;
  b.viewAngle = 60;
  const int fast[4] = {0, 127, 0, 127}, slow[4] = {127, 0, 127, 0}, line[4] = {20, 20, 107, 107};
  // groups X, Y, Z, rotation, distance, angle
  const int* later[6] = {fast, slow, line, fast, slow, line};
  const int* earlier[6] = {slow, fast, slow, slow, fast, fast};
  for (int g = 0; g < 6; ++g) {
    Curve(&b, g, later[g][0], later[g][1], later[g][2], later[g][3]);
    Curve(&a, g, earlier[g][0], earlier[g][1], earlier[g][2], earlier[g][3]);
  }
  CCameraTrack track;
  ASSERT_EQ(Attach(&track, CameraFile({b, a})), 1);  // file order does not matter
  struct Case {
    float frame;
    float fast, slow, t;
  };
  const Case cases[] = {
      {5, 0.9493308f, 0.0007645f, 0.25f},
      {10, 0.9912200f, 0.0087800f, 0.5f},
      {15, 0.9992355f, 0.0506692f, 0.75f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.frame);
    const CameraValues v = track.Sample(c.frame);
    EXPECT_NEAR(v.target.x, 10 * c.fast, 1e-4f);
    EXPECT_NEAR(v.target.y, 20 * c.slow, 1e-4f);
    EXPECT_NEAR(v.target.z, 30 * c.t, 1e-3f);
    ExpectNear(v.rotation, D3DXVECTOR3(0.2f, 0.4f, 0.6f) * c.fast, 1e-5f);
    EXPECT_NEAR(v.distance, -10 - 40 * c.slow, 1e-4f);
    EXPECT_NEAR(v.viewAngle, 20 + 40 * c.t, 1e-3f);
  }
}

TEST(CameraTrack, FramesOutsideTheKeysHoldTheNearestKey) {
  VmdCameraKeyDesc a, b, c;
  a.frame = 30;
  a.distance = -20;
  b.frame = 60;
  b.distance = -40;
  c.frame = 60;  // read after b: comes first among the keys of frame 60
  c.distance = -80;
  CCameraTrack track;
  ASSERT_EQ(Attach(&track, CameraFile({a, b, c})), 1);
  struct Case {
    float frame;
    float distance;
  };
  const Case cases[] = {
      {-3, -20}, {0, -20}, {29.5f, -20}, {30, -20},  // before and on the first key: the first key
      {60, -40},  {1e9f, -40},                        // the last key of the frame: the one read first
  };
  for (const Case& k : cases) EXPECT_EQ(track.Sample(k.frame).distance, k.distance) << k.frame;
  // between 30 and the first key of 60 (c, read last): towards -80
  EXPECT_LT(track.Sample(45).distance, -30.0f);

  CCameraTrack empty;
  const CameraValues rest = empty.Sample(12);
  EXPECT_EQ(rest.target, D3DXVECTOR3(0, 10, 0));
  EXPECT_EQ(rest.distance, -45.0f);
  EXPECT_EQ(rest.viewAngle, 30.0f);
}

}  // namespace
