// CCameraTrack: the camera keys of a camera motion as a track the view
// follows. Each channel (the target's x, y and z, the rotation, the distance
// and the view angle) is eased between two keys by its own curve stored on
// the later key, and a state of the track turns into an eye, a target, an up
// vector and a vertical view angle in the viewer's space.
#pragma once
#include <cstdint>
#include <vector>

#include "model/vmd_file.h"
#include "platform/d3dx9_math.h"

// One camera state as the motion file states it: the file's left-handed
// space, nothing mirrored.
struct CameraValues {
  D3DXVECTOR3 target;    // the point the camera turns about and looks at
  D3DXVECTOR3 rotation;  // radians: x pitch, y yaw, z roll
  float distance;        // signed; the usual -45 puts the eye 45 units toward -z of the target
  float viewAngle;       // vertical, degrees
};

// Where the camera stands in the viewer's space (right-handed, the file's z
// negated).
struct CameraView {
  D3DXVECTOR3 eye;
  D3DXVECTOR3 target;
  D3DXVECTOR3 up;  // unit length
  float fov;       // vertical, radians
};

// The view a camera state describes (conventions at the definition).
CameraView ViewFromCamera(const CameraValues& values);

// A camera motion holds camera keys and no bone keys (usually a file of its
// own). It never plays on a model, and a model's motion is never a camera.
bool IsCameraMotion(const CVmdFile& motion);

class CCameraTrack {
 public:
  CCameraTrack();
  CCameraTrack(const CCameraTrack&) = delete;
  CCameraTrack& operator=(const CCameraTrack&) = delete;
  virtual ~CCameraTrack();

  // Takes a copy of the camera keys of a camera motion and logs what it
  // took; keys with the orthographic flag are logged (they are drawn in
  // perspective). 0, with a log line and the track as it was, when the
  // motion is not a camera motion.
  int Attach(const CVmdFile& motion);
  void Clear();
  bool Empty() const { return m_keys.empty(); }
  int32_t KeyCount() const { return int32_t(m_keys.size()); }
  // The largest key frame; 0 without keys.
  uint32_t LastFrame() const;

  // The state at a frame (clamped below at 0): on a key that key's state,
  // between two keys each channel eased by the later key's curve of it;
  // before the first key the first key's state, from the last key on the
  // last key's. Without keys, the
  // state of a camera key left at its defaults: target (0, 10, 0), no
  // rotation, distance -45, 30 degrees.
  CameraValues Sample(float frame) const;
  CameraView View(float frame) const { return ViewFromCamera(Sample(frame)); }

 private:
  // ascending frames; among equal frames the key read last comes first
  std::vector<VmdCameraKey> m_keys;
};
