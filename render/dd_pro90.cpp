#include "render/dd_pro90.h"

#include <cstring>

#include "platform/gl_device.h"
#include "platform/recording_device.h"

CDDPro90::~CDDPro90() { Term(); }

int CDDPro90::Init(HWND window, DeviceBackend backend, int width, int height) {
  switch (backend) {
    case DeviceBackend::kOffscreenGl:
      return Init(window, [] { return qev::CreateGlDirect3D(qev::GlSurface::kOffscreen); }, width, height);
    case DeviceBackend::kRecording:
      return Init(window, []() -> IDirect3D9* { return new qev::RecordingDirect3D(); }, width, height);
    case DeviceBackend::kWindowGl: break;
  }
  return Init(window, [] { return Direct3DCreate9(D3D_SDK_VERSION); }, width, height);
}

int CDDPro90::Init(HWND window, const std::function<IDirect3D9*()>& createDirect3D, int width, int height) {
  Term();
  m_pD3D = createDirect3D();
  if (!m_pD3D) return 0;
  m_hWnd = window;
  m_nWidth = width;
  m_nHeight = height;
  if (FAILED(m_pD3D->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &m_caps))) return 0;

  std::memset(&m_pp, 0, sizeof m_pp);
  m_pp.BackBufferWidth = unsigned(m_nWidth);
  m_pp.BackBufferHeight = unsigned(m_nHeight);
  m_pp.BackBufferCount = 1;
  m_pp.MultiSampleType = m_multiSampleType;
  m_pp.MultiSampleQuality = 0;
  m_pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
  m_pp.Windowed = 1;
  m_pp.EnableAutoDepthStencil = 1;
  m_pp.AutoDepthStencilFormat = D3DFMT_D24S8;
  m_pp.Flags = 0;
  m_pp.FullScreen_RefreshRateInHz = 0;
  m_pp.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
  SelectBackBufferFormat();

  const DWORD processing = (m_caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) ? D3DCREATE_MIXED_VERTEXPROCESSING
                                                                              : D3DCREATE_SOFTWARE_VERTEXPROCESSING;
  const DWORD flags = processing | D3DCREATE_FPU_PRESERVE | D3DCREATE_MULTITHREADED;
  if (FAILED(m_pD3D->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, flags, &m_pp, &m_pDevice))) {
    m_pDevice = nullptr;
    return 0;
  }
  SetDefaultStates();
  return 1;
}

void CDDPro90::SetMultiSample(int on) {
  on = on ? 1 : 0;
  if (!m_pDevice || on == m_bMultiSampleOn) return;
  m_pDevice->SetRenderState(D3DRS_MULTISAMPLEANTIALIAS, DWORD(on));
  m_bMultiSampleOn = on;
}

int CDDPro90::BeginDraw() {
  if (m_bDeviceLost || !m_pDevice) return 0;
  if (!m_bInScene) {
    m_pDevice->Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, m_dwClearColor, 1.0f, 0);
    if (FAILED(m_pDevice->BeginScene())) return 0;
    m_bInScene = 1;
  }
  // Every frame starts from the same states whatever the last one left.
  m_pDevice->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  m_pDevice->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  m_pDevice->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  m_pDevice->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
  m_pDevice->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
  m_pDevice->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
  m_pDevice->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
  m_pDevice->SetRenderState(D3DRS_INDEXEDVERTEXBLENDENABLE, FALSE);
  return 1;
}

int CDDPro90::EndDraw() {
  if (!m_bInScene) return 0;
  m_pDevice->EndScene();
  m_bInScene = 0;
  if (FAILED(m_pDevice->Present())) {
    m_bDeviceLost = 1;
    return 0;
  }
  return 1;
}

int CDDPro90::SetDefaultStates() {
  if (!m_pDevice) return 0;
  m_pDevice->SetRenderState(D3DRS_LIGHTING, FALSE);
  m_pDevice->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  m_pDevice->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  m_pDevice->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  m_pDevice->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
  m_pDevice->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
  for (DWORD stage = 0; stage < 2; ++stage) {
    const DWORD op = stage == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
    m_pDevice->SetTextureStageState(stage, D3DTSS_COLOROP, op);
    m_pDevice->SetTextureStageState(stage, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    m_pDevice->SetTextureStageState(stage, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    m_pDevice->SetTextureStageState(stage, D3DTSS_ALPHAOP, op);
    m_pDevice->SetTextureStageState(stage, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    m_pDevice->SetTextureStageState(stage, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
  }
  return 1;
}

int CDDPro90::SelectBackBufferFormat() {
  if (!m_pD3D) return 0;
  D3DDISPLAYMODE mode;
  if (FAILED(m_pD3D->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode))) return 0;
  m_pp.BackBufferFormat = mode.Format;
  return 1;
}

// The frame keeps no textures of its own (the model's live in the scene), so
// there is nothing to release here; the call stays in the shutdown order.
int CDDPro90::ReleaseTextures() { return 1; }

void CDDPro90::Term() {
  ReleaseTextures();
  if (m_pDevice) {
    m_pDevice->Release();
    m_pDevice = nullptr;
  }
  if (m_pD3D) {
    m_pD3D->Release();
    m_pD3D = nullptr;
  }
  m_bInScene = 0;
  m_bDeviceLost = 0;
  m_bMultiSampleOn = 0;
  m_hWnd = nullptr;
}
