#include "platform/recording_device.h"

#include <cstdarg>
#include <cstdio>

namespace qev {

namespace {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char buf[256];
  va_list args;
  va_start(args, format);
  vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  return buf;
}

std::string Named(const char* name, unsigned value) {
  return name ? std::string(name) : std::to_string(value);
}

}  // namespace

std::string RenderStateName(D3DRENDERSTATETYPE state) {
  const char* name = nullptr;
  switch (state) {
    case D3DRS_ZENABLE: name = "D3DRS_ZENABLE"; break;
    case D3DRS_FILLMODE: name = "D3DRS_FILLMODE"; break;
    case D3DRS_ZWRITEENABLE: name = "D3DRS_ZWRITEENABLE"; break;
    case D3DRS_SRCBLEND: name = "D3DRS_SRCBLEND"; break;
    case D3DRS_DESTBLEND: name = "D3DRS_DESTBLEND"; break;
    case D3DRS_CULLMODE: name = "D3DRS_CULLMODE"; break;
    case D3DRS_ALPHABLENDENABLE: name = "D3DRS_ALPHABLENDENABLE"; break;
    case D3DRS_LIGHTING: name = "D3DRS_LIGHTING"; break;
    case D3DRS_INDEXEDVERTEXBLENDENABLE: name = "D3DRS_INDEXEDVERTEXBLENDENABLE"; break;
    case D3DRS_MULTISAMPLEANTIALIAS: name = "D3DRS_MULTISAMPLEANTIALIAS"; break;
  }
  return Named(name, state);
}

std::string StageStateName(D3DTEXTURESTAGESTATETYPE type) {
  const char* name = nullptr;
  switch (type) {
    case D3DTSS_COLOROP: name = "D3DTSS_COLOROP"; break;
    case D3DTSS_COLORARG1: name = "D3DTSS_COLORARG1"; break;
    case D3DTSS_COLORARG2: name = "D3DTSS_COLORARG2"; break;
    case D3DTSS_ALPHAOP: name = "D3DTSS_ALPHAOP"; break;
    case D3DTSS_ALPHAARG1: name = "D3DTSS_ALPHAARG1"; break;
    case D3DTSS_ALPHAARG2: name = "D3DTSS_ALPHAARG2"; break;
  }
  return Named(name, type);
}

std::string SamplerStateName(D3DSAMPLERSTATETYPE type) {
  const char* name = nullptr;
  switch (type) {
    case D3DSAMP_MAGFILTER: name = "D3DSAMP_MAGFILTER"; break;
    case D3DSAMP_MINFILTER: name = "D3DSAMP_MINFILTER"; break;
    case D3DSAMP_MIPFILTER: name = "D3DSAMP_MIPFILTER"; break;
  }
  return Named(name, type);
}

std::string TransformName(D3DTRANSFORMSTATETYPE state) {
  const char* name = nullptr;
  switch (state) {
    case D3DTS_VIEW: name = "D3DTS_VIEW"; break;
    case D3DTS_PROJECTION: name = "D3DTS_PROJECTION"; break;
    case D3DTS_WORLD: name = "D3DTS_WORLD"; break;
  }
  return Named(name, state);
}

std::string PrimitiveName(D3DPRIMITIVETYPE type) {
  const char* name = nullptr;
  switch (type) {
    case D3DPT_POINTLIST: name = "D3DPT_POINTLIST"; break;
    case D3DPT_LINELIST: name = "D3DPT_LINELIST"; break;
    case D3DPT_LINESTRIP: name = "D3DPT_LINESTRIP"; break;
    case D3DPT_TRIANGLELIST: name = "D3DPT_TRIANGLELIST"; break;
    case D3DPT_TRIANGLESTRIP: name = "D3DPT_TRIANGLESTRIP"; break;
    case D3DPT_TRIANGLEFAN: name = "D3DPT_TRIANGLEFAN"; break;
  }
  return Named(name, type);
}

void RecordingDevice::Record(std::string text) {
  RecordedCall call;
  call.text = std::move(text);
  call.matrix = D3DMATRIX();
  calls.push_back(std::move(call));
}

HRESULT RecordingDevice::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
  Record(Format("SetRenderState(%s, %u)", RenderStateName(state).c_str(), value));
  return D3D_OK;
}

HRESULT RecordingDevice::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
  Record(Format("SetTextureStageState(%u, %s, %u)", stage, StageStateName(type).c_str(), value));
  return D3D_OK;
}

HRESULT RecordingDevice::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
  Record(Format("SetSamplerState(%u, %s, %u)", sampler, SamplerStateName(type).c_str(), value));
  return D3D_OK;
}

HRESULT RecordingDevice::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) {
  Record(Format("SetTransform(%s)", TransformName(state).c_str()));
  if (!matrix) return D3DERR_INVALIDCALL;
  calls.back().matrix = *matrix;
  m_transforms[state] = *matrix;
  return D3D_OK;
}

HRESULT RecordingDevice::SetFVF(DWORD fvf) {
  Record(Format("SetFVF(0x%X)", fvf));
  m_fvf = fvf;
  return D3D_OK;
}

HRESULT RecordingDevice::SetTexture(DWORD stage, IDirect3DTexture9* texture) {
  Record(Format("SetTexture(%u, %s)", stage, texture ? "texture" : "null"));
  return D3D_OK;
}

HRESULT RecordingDevice::DrawPrimitiveUP(D3DPRIMITIVETYPE type, unsigned primitiveCount, const void* vertices,
                                         unsigned stride) {
  Record(Format("DrawPrimitiveUP(%s, %u, %u)", PrimitiveName(type).c_str(), primitiveCount, stride));
  const unsigned count = PrimitiveVertexCount(type, primitiveCount);
  const unsigned size = FvfVertexSize(m_fvf);
  if (!m_inScene || !vertices || count == 0 || size == 0 || stride < size) return D3DERR_INVALIDCALL;
  const auto* bytes = static_cast<const uint8_t*>(vertices);
  calls.back().vertices.assign(bytes, bytes + size_t(count) * stride);
  return D3D_OK;
}

HRESULT RecordingDevice::DrawShadedUP(const ShadedMaterialDraw& draw, unsigned triangleCount, const void* vertices,
                                      unsigned stride) {
  const bool outline = draw.pass == ShadedMaterialDraw::kOutline;
  Record(Format("DrawShadedUP(%s, %u, %u)", outline ? "outline" : "material", triangleCount, stride));
  const unsigned count = PrimitiveVertexCount(D3DPT_TRIANGLELIST, triangleCount);
  const unsigned size = FvfVertexSize(m_fvf);
  const DWORD needed = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;
  if (!m_inScene || !vertices || count == 0 || size == 0 || stride < size || (m_fvf & needed) != needed ||
      (m_fvf & D3DFVF_XYZRHW))
    return D3DERR_INVALIDCALL;
  RecordedCall& call = calls.back();
  call.shaded = draw;
  call.shaded.edgeScale = nullptr;
  if (draw.edgeScale) call.edgeScales.assign(draw.edgeScale, draw.edgeScale + count);
  const auto* bytes = static_cast<const uint8_t*>(vertices);
  call.vertices.assign(bytes, bytes + size_t(count) * stride);
  return D3D_OK;
}

HRESULT RecordingDevice::Clear(DWORD flags, D3DCOLOR color, float z, DWORD stencil) {
  Record(Format("Clear(%u, 0x%08X, %g, %u)", flags, color, z, stencil));
  return D3D_OK;
}

HRESULT RecordingDevice::BeginScene() {
  Record("BeginScene()");
  if (failBeginScene || m_inScene) return D3DERR_INVALIDCALL;
  m_inScene = true;
  return D3D_OK;
}

HRESULT RecordingDevice::EndScene() {
  Record("EndScene()");
  if (!m_inScene) return D3DERR_INVALIDCALL;
  m_inScene = false;
  return D3D_OK;
}

HRESULT RecordingDevice::Present() {
  Record("Present()");
  if (failPresent) return D3DERR_DEVICELOST;
  ++presentCount;
  return D3D_OK;
}

HRESULT RecordingDevice::CreateTexture(unsigned width, unsigned height, unsigned levels, DWORD usage,
                                       D3DFORMAT format, D3DPOOL pool, IDirect3DTexture9** texture) {
  Record(Format("CreateTexture(%u, %u, %u, %u, %u, %u)", width, height, levels, usage, unsigned(format),
                unsigned(pool)));
  if (!texture) return D3DERR_INVALIDCALL;
  *texture = nullptr;
  if (failCreateTexture) return E_OUTOFMEMORY;
  if (width == 0 || height == 0 || width > kMaxTextureSide || height > kMaxTextureSide || levels > 1 ||
      (format != D3DFMT_A8R8G8B8 && format != D3DFMT_X8R8G8B8))
    return D3DERR_INVALIDCALL;
  *texture = new RecordingTexture(width, height, format, pool);
  return D3D_OK;
}

HRESULT RecordingDevice::ReadBackBuffer(std::vector<D3DCOLOR>*, unsigned*, unsigned*) {
  Record("ReadBackBuffer()");
  return D3DERR_NOTAVAILABLE;
}

std::vector<std::string> RecordingDevice::Texts() const {
  std::vector<std::string> out;
  out.reserve(calls.size());
  for (const RecordedCall& c : calls) out.push_back(c.text);
  return out;
}

std::vector<const RecordedCall*> RecordingDevice::Find(const std::string& prefix) const {
  std::vector<const RecordedCall*> out;
  for (const RecordedCall& c : calls)
    if (c.text.compare(0, prefix.size(), prefix) == 0) out.push_back(&c);
  return out;
}

const D3DMATRIX& RecordingDevice::Transform(D3DTRANSFORMSTATETYPE state) const {
  static const D3DMATRIX kZero;
  const auto it = m_transforms.find(state);
  return it == m_transforms.end() ? kZero : it->second;
}

RecordingTexture::RecordingTexture(unsigned width, unsigned height, D3DFORMAT format, D3DPOOL pool)
    : m_desc{format, pool, width, height}, m_bits(size_t(width) * height * 4) {}

HRESULT RecordingTexture::GetLevelDesc(unsigned level, D3DSURFACE_DESC* desc) {
  if (level != 0 || !desc) return D3DERR_INVALIDCALL;
  *desc = m_desc;
  return D3D_OK;
}

HRESULT RecordingTexture::LockRect(unsigned level, D3DLOCKED_RECT* locked, DWORD) {
  if (level != 0 || !locked || m_locked) return D3DERR_INVALIDCALL;
  m_locked = true;
  locked->Pitch = int(m_desc.Width * 4);
  locked->pBits = m_bits.data();
  return D3D_OK;
}

HRESULT RecordingTexture::UnlockRect(unsigned level) {
  if (level != 0 || !m_locked) return D3DERR_INVALIDCALL;
  m_locked = false;
  return D3D_OK;
}

HRESULT RecordingDirect3D::GetDeviceCaps(unsigned, D3DDEVTYPE, D3DCAPS9* out) {
  if (failCaps || !out) return D3DERR_NOTAVAILABLE;
  *out = caps;
  return D3D_OK;
}

HRESULT RecordingDirect3D::GetAdapterDisplayMode(unsigned, D3DDISPLAYMODE* mode) {
  if (failDisplayMode || !mode) return D3DERR_NOTAVAILABLE;
  *mode = displayMode;
  return D3D_OK;
}

HRESULT RecordingDirect3D::CreateDevice(unsigned, D3DDEVTYPE, HWND focusWindow, DWORD behaviorFlags,
                                        D3DPRESENT_PARAMETERS* params, IDirect3DDevice9** device) {
  if (!device || !params) return D3DERR_INVALIDCALL;
  *device = nullptr;
  createdFlags = behaviorFlags;
  createdWindow = focusWindow;
  createdParams = *params;
  if (failCreateDevice) return D3DERR_NOTAVAILABLE;
  lastDevice = new RecordingDevice();
  *device = lastDevice;
  return D3D_OK;
}

}  // namespace qev
