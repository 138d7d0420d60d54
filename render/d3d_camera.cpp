#include "render/d3d_camera.h"

#include <cmath>

namespace {

// v turned about the axis a by theta radians.
D3DXVECTOR3 Rotate(const D3DXVECTOR3& v, const D3DXVECTOR3& a, float theta) {
  D3DXVECTOR3 n;
  D3DXVec3Normalize(&n, &a);
  const float c = std::cos(theta), s = std::sin(theta), t = 1.0f - c;
  return D3DXVECTOR3((c + t * n.x * n.x) * v.x + (t * n.x * n.y + s * n.z) * v.y + (t * n.x * n.z - s * n.y) * v.z,
                     (t * n.x * n.y - s * n.z) * v.x + (c + t * n.y * n.y) * v.y + (t * n.y * n.z + s * n.x) * v.z,
                     (t * n.x * n.z + s * n.y) * v.x + (t * n.y * n.z - s * n.x) * v.y + (c + t * n.z * n.z) * v.z);
}

}  // namespace

CD3DCamera::CD3DCamera() {
  Operate(0, 0, 4);
  UpdateView();
  SetProjection(nullptr);
}

void CD3DCamera::SetProjection(IDirect3DDevice9* device) {
  if (m_bRightHanded) {
    D3DXMatrixPerspectiveFovRH(&m_mProjection, m_fFov, m_fAspect, m_fNear, m_fFar);
  } else {
    D3DXMatrixPerspectiveFovLH(&m_mProjection, m_fFov, m_fAspect, m_fNear, m_fFar);
  }
  if (device) device->SetTransform(D3DTS_PROJECTION, &m_mProjection);
}

void CD3DCamera::LookAt(const D3DXVECTOR3* eye, const D3DXVECTOR3* up, const D3DXVECTOR3& target) {
  if (eye) m_vPosition = *eye;
  m_vTarget = target;
  const D3DXVECTOR3 toTarget = m_vTarget - m_vPosition;
  D3DXVec3Normalize(&m_vDirection, &toTarget);
  if (up) {
    D3DXVec3Normalize(&m_vUp, up);
  } else {
    const D3DXVECTOR3 worldUp(0, 1, 0);
    D3DXVECTOR3 side;
    D3DXVec3Cross(&side, &m_vDirection, &worldUp);
    D3DXVec3Cross(&m_vUp, &side, &m_vDirection);
  }
  BuildView();
  if (m_pDevice) m_pDevice->SetTransform(D3DTS_VIEW, &m_mView);
}

void CD3DCamera::UpdateView() { BuildView(); }

void CD3DCamera::BuildView() {
  const D3DXVECTOR3 at = m_vPosition + m_vDirection;
  if (m_bRightHanded) {
    D3DXMatrixLookAtRH(&m_mView, &m_vPosition, &at, &m_vUp);
  } else {
    D3DXMatrixLookAtLH(&m_mView, &m_vPosition, &at, &m_vUp);
  }
}

void CD3DCamera::Orbit(const D3DXVECTOR3& axis, float degrees) {
  const float theta = degrees * 0.017453292f;
  const D3DXVECTOR3 toTarget = m_vTarget - m_vPosition;
  const float distance = D3DXVec3Length(&toTarget);
  m_vDirection = Rotate(m_vDirection, axis, theta);
  m_vUp = Rotate(m_vUp, axis, theta);
  m_vPosition = m_vTarget - distance * m_vDirection;
}

void CD3DCamera::Operate(float x, float y, int mode) {
  D3DXVECTOR3 right;
  D3DXVec3Cross(&right, &m_vDirection, &m_vUp);
  switch (mode) {
    case 0:
      Orbit(right, y);
      Orbit(D3DXVECTOR3(0, 1, 0), -x);
      break;
    case 1: {
      const D3DXVECTOR3 move = x * right + y * m_vUp;
      m_vPosition += move;
      m_vTarget += move;
      break;
    }
    case 2:
      m_vPosition += y * m_vDirection;
      m_vTarget += y * m_vDirection;
      break;
    case 3: {
      // A step that would reach or pass the target is refused; stepping away
      // (negative y) always applies.
      const D3DXVECTOR3 toTarget = m_vTarget - m_vPosition;
      if (double(D3DXVec3Length(&toTarget)) > double(y)) m_vPosition += y * m_vDirection;
      break;
    }
    case 4:
      m_bRightHanded = 0;
      m_fFov = 0.7853982f;
      m_fAspect = 1.3333334f;
      m_fNear = 0.1f;
      m_fFar = 1000.0f;
      [[fallthrough]];
    case 5:
      m_vPosition = D3DXVECTOR3(0, 0, -10);
      m_vDirection = D3DXVECTOR3(0, 0, 1);
      m_vUp = D3DXVECTOR3(0, 1, 0);
      m_vTarget = D3DXVECTOR3(0, 0, 0);
      break;
    default: break;
  }
}
