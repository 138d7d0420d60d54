#include "model/camera_track.h"

#include <algorithm>
#include <cmath>

#include "model/vmd_file.h"
#include "support/debug.h"

namespace {

// The six curves of a camera key, in the order the file keeps them: target
// x, y and z, the rotation (one curve for all three angles), the distance
// and the view angle. The file stores each curve as x1, x2, y1, y2; the
// reader holds it as x1, y1, x2, y2 (VmdCameraKey).
enum CameraCurve { kCurveX, kCurveY, kCurveZ, kCurveRotation, kCurveDistance, kCurveAngle };

float Weight(const VmdCameraKey& later, CameraCurve curve, float t) {
  const int32_t* v = &later.interp[curve * 4];
  return Ease(v[0], v[1], v[2], v[3], t);
}

float Mix(float a, float b, float w) { return a + w * (b - a); }

CameraValues ValuesOf(const VmdCameraKey& k) {
  CameraValues v;
  v.target = D3DXVECTOR3(k.pos[0], k.pos[1], k.pos[2]);
  v.rotation = D3DXVECTOR3(k.rot[0], k.rot[1], k.rot[2]);
  v.distance = k.distance;
  v.viewAngle = float(k.viewAngle);
  return v;
}

}  // namespace

// The camera conventions of the motion format, in its own left-handed space
// (x to the right, y up, z away from a viewer who faces a figure's front):
// - the camera orbits its target: the eye stands at target + (0, 0, distance)
//   turned by the rotation, and looks at the target. The distance is stored
//   signed: the usual -45 of a camera at rest puts the eye 45 units toward
//   -z, in front of a figure, which faces -z;
// - the rotation is yaw, pitch and roll in radians (y, x and z of the key):
//   the camera is first rolled about its line of sight, then pitched about
//   x, then turned about the vertical, the composition
//   D3DXMatrixRotationYawPitchRoll makes (row vectors). Angles turn as the
//   left-handed rotation matrices turn: a positive pitch lifts the eye above
//   the target, a positive yaw swings it from in front toward -x, a positive
//   roll leans the up vector toward -x;
// - up is (0, 1, 0) turned by the same rotation;
// - the view angle is the vertical field of view in whole degrees.
// The viewer's space negates the file's z: eye, target and up are mirrored
// after they are placed (the same as negating x and y of the angles and z of
// the target, the way bone rotations are mirrored).
CameraView ViewFromCamera(const CameraValues& v) {
  D3DXMATRIX turn;
  D3DXMatrixRotationYawPitchRoll(&turn, v.rotation.y, v.rotation.x, v.rotation.z);
  const D3DXVECTOR3 offset(0, 0, v.distance), upright(0, 1, 0);
  D3DXVECTOR3 arm, up;
  D3DXVec3TransformCoord(&arm, &offset, &turn);
  D3DXVec3TransformCoord(&up, &upright, &turn);
  const D3DXVECTOR3 eye = v.target + arm;
  CameraView view;
  view.eye = D3DXVECTOR3(eye.x, eye.y, -eye.z);
  view.target = D3DXVECTOR3(v.target.x, v.target.y, -v.target.z);
  D3DXVECTOR3 mirroredUp(up.x, up.y, -up.z);
  D3DXVec3Normalize(&view.up, &mirroredUp);
  // degrees to radians in double: 45 degrees gives exactly the float of pi / 4
  view.fov = float(double(v.viewAngle) * 3.14159265358979323846 / 180.0);
  return view;
}

bool IsCameraMotion(const CVmdFile& motion) { return motion.m_nCameraKey > 0 && motion.m_nBoneTrack == 0; }

CCameraTrack::CCameraTrack() = default;
CCameraTrack::~CCameraTrack() = default;

void CCameraTrack::Clear() { m_keys.clear(); }

int CCameraTrack::Attach(const CVmdFile& motion) {
  if (!IsCameraMotion(motion)) {
    DebugPrintf("camera : not a camera motion (%d camera keys, %d bone tracks), not taken\n", int(motion.m_nCameraKey),
                int(motion.m_nBoneTrack));
    return 0;
  }
  // Reversed, then stably sorted: among keys of one frame the one read last
  // comes first, as with bone keys.
  m_keys.assign(motion.m_pCameraKey.get(), motion.m_pCameraKey.get() + motion.m_nCameraKey);
  std::reverse(m_keys.begin(), m_keys.end());
  std::stable_sort(m_keys.begin(), m_keys.end(),
                   [](const VmdCameraKey& a, const VmdCameraKey& b) { return a.frame < b.frame; });
  int orthographic = 0;
  for (const VmdCameraKey& k : m_keys) orthographic += k.perspective != 0;
  DebugPrintf("camera : %d keys, frames %u to %u\n", KeyCount(), unsigned(m_keys.front().frame),
              unsigned(m_keys.back().frame));
  // 0 is the format's perspective view; any other value asks for an
  // orthographic one, which this viewer does not draw.
  if (orthographic) DebugPrintf("camera : %d keys orthographic, drawn in perspective\n", orthographic);
  return 1;
}

uint32_t CCameraTrack::LastFrame() const { return m_keys.empty() ? 0 : m_keys.back().frame; }

CameraValues CCameraTrack::Sample(float frame) const {
  if (m_keys.empty()) {
    CameraValues rest;
    rest.target = D3DXVECTOR3(0, 10, 0);
    rest.rotation = D3DXVECTOR3(0, 0, 0);
    rest.distance = -45.0f;
    rest.viewAngle = 30.0f;
    return rest;
  }
  if (!(frame >= 0.0f)) frame = 0.0f;
  // the first key past the frame; the interval starts one before it
  const auto next = std::upper_bound(m_keys.begin(), m_keys.end(), frame,
                                     [](float f, const VmdCameraKey& k) { return f < float(k.frame); });
  if (next == m_keys.begin()) return ValuesOf(m_keys.front());
  if (next == m_keys.end()) return ValuesOf(m_keys.back());
  const VmdCameraKey& a = next[-1];
  const VmdCameraKey& b = next[0];
  // On a key the key itself: the bisection of Ease would leave its weight a
  // hair's breadth above 0, and a camera cut (keys one frame apart) must
  // show each key as it is.
  if (frame == float(a.frame)) return ValuesOf(a);
  const float t = (frame - float(a.frame)) / float(b.frame - a.frame);
  // each channel by the curve stored on the key that ends the interval
  CameraValues v;
  v.target.x = Mix(a.pos[0], b.pos[0], Weight(b, kCurveX, t));
  v.target.y = Mix(a.pos[1], b.pos[1], Weight(b, kCurveY, t));
  v.target.z = Mix(a.pos[2], b.pos[2], Weight(b, kCurveZ, t));
  const float turn = Weight(b, kCurveRotation, t);
  v.rotation = D3DXVECTOR3(Mix(a.rot[0], b.rot[0], turn), Mix(a.rot[1], b.rot[1], turn), Mix(a.rot[2], b.rot[2], turn));
  v.distance = Mix(a.distance, b.distance, Weight(b, kCurveDistance, t));
  v.viewAngle = Mix(float(a.viewAngle), float(b.viewAngle), Weight(b, kCurveAngle, t));
  return v;
}
