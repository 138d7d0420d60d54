#include "app/start_up_view.h"

#include "model/camera_track.h"
#include "render/d3d_camera.h"
#include "render/d3d_locater.h"

void SetStartUpCamera(CD3DCamera* camera, IDirect3DDevice9* device, float aspect) {
  camera->m_pDevice = device;
  camera->m_fFov = 0.7853982f;  // pi / 4
  camera->m_bRightHanded = 1;
  camera->m_fAspect = aspect;
  camera->m_fNear = 0.1f;
  camera->m_fFar = 1000.0f;
  camera->SetProjection(device);
  const D3DXVECTOR3 eye(10, 20, 20), up(0, 1, 0), target(0, 10, 0);
  camera->LookAt(&eye, &up, target);
}

void ViewThroughCamera(CD3DCamera* camera, const CameraView& view) {
  camera->m_fFov = view.fov;
  camera->SetProjection(camera->m_pDevice);
  camera->LookAt(&view.eye, &view.up, view.target);
}

void SetUpIkGoalLocator(CD3DLocater* locator) {
  locator->m_nMode = 1;
  locator->m_fSize = 5.0f;
}
