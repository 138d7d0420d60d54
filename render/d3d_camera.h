// CD3DCamera: the one viewpoint. Eye, viewing direction, up and target, the
// perspective parameters, and the view and projection matrices built from
// them; the camera moves the mouse drives (orbit, pan, dolly, zoom, reset).
#pragma once
#include "platform/d3d9.h"

class CD3DCamera {
 public:
  // A full reset (mode 4), its view and projection computed, no device.
  CD3DCamera();
  virtual ~CD3DCamera() = default;

  // projection := the perspective of the fields; set on the device if given.
  void SetProjection(IDirect3DDevice9* device);
  // Eye and up may be null (kept / derived); sets the view on m_pDevice if any.
  void LookAt(const D3DXVECTOR3* eye, const D3DXVECTOR3* up, const D3DXVECTOR3& target);
  // One move: 0 orbit (degrees), 1 pan, 2 dolly, 3 zoom toward the target,
  // 4 reset all, 5 reset the viewpoint. Other modes do nothing.
  void Operate(float x, float y, int mode);
  // view := the look-at of the current fields; the device is not touched.
  void UpdateView();

  IDirect3DDevice9* m_pDevice = nullptr;
  int m_bRightHanded = 0;
  D3DXVECTOR3 m_vPosition;
  D3DXVECTOR3 m_vDirection;
  D3DXVECTOR3 m_vUp;
  D3DXVECTOR3 m_vTarget;
  float m_fFov = 0;  // vertical, radians
  float m_fAspect = 0;
  float m_fNear = 0;
  float m_fFar = 0;
  D3DXMATRIX m_mView;
  D3DXMATRIX m_mProjection;

 private:
  // Turns direction and up about an axis and puts the eye back at the same
  // distance from the target.
  void Orbit(const D3DXVECTOR3& axis, float degrees);
  void BuildView();
};
