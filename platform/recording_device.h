// The recording backend: a device that draws nothing and keeps every call
// with its arguments, so tests assert the order and values of states,
// transforms and draws; failures of the real device can be scripted.
#pragma once
#include <map>
#include <string>
#include <vector>

#include "platform/d3d9.h"

namespace qev {

struct RecordedCall {
  std::string text;               // e.g. "SetRenderState(D3DRS_ZENABLE, 1)"
  D3DMATRIX matrix;               // SetTransform: the matrix given
  std::vector<uint8_t> vertices;  // DrawPrimitiveUP, DrawShadedUP: the vertex bytes read
  // DrawShadedUP: every parameter as given (edgeScale pointing nowhere; the
  // scales read are in edgeScales, empty when none were given).
  ShadedMaterialDraw shaded;
  std::vector<float> edgeScales;
};

class RecordingTexture;

class RecordingDevice : public IDirect3DDevice9 {
 public:
  RecordingDevice() = default;

  HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
  HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
  HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override;
  HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override;
  HRESULT SetFVF(DWORD fvf) override;
  HRESULT SetTexture(DWORD stage, IDirect3DTexture9* texture) override;
  HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE type, unsigned primitiveCount, const void* vertices,
                          unsigned stride) override;
  // Recorded as "DrawShadedUP(material|outline, triangles, stride)" with
  // the parameters in the call's `shaded` and `edgeScales`.
  HRESULT DrawShadedUP(const ShadedMaterialDraw& draw, unsigned triangleCount, const void* vertices,
                       unsigned stride) override;
  HRESULT Clear(DWORD flags, D3DCOLOR color, float z, DWORD stencil) override;
  HRESULT BeginScene() override;
  HRESULT EndScene() override;
  HRESULT Present() override;
  HRESULT CreateTexture(unsigned width, unsigned height, unsigned levels, DWORD usage, D3DFORMAT format,
                        D3DPOOL pool, IDirect3DTexture9** texture) override;
  // No pixels are kept: always D3DERR_NOTAVAILABLE.
  HRESULT ReadBackBuffer(std::vector<D3DCOLOR>* pixels, unsigned* width, unsigned* height) override;

  // The call texts in order, and the calls whose text starts with a prefix.
  std::vector<std::string> Texts() const;
  std::vector<const RecordedCall*> Find(const std::string& prefix) const;
  void ClearCalls() { calls.clear(); }

  // The transform as last set (zero when never set).
  const D3DMATRIX& Transform(D3DTRANSFORMSTATETYPE state) const;

  std::vector<RecordedCall> calls;
  // Scripted failures
  bool failBeginScene = false;
  bool failPresent = false;
  bool failCreateTexture = false;
  int presentCount = 0;

 private:
  void Record(std::string text);
  std::map<DWORD, D3DMATRIX> m_transforms;
  DWORD m_fvf = 0;
  bool m_inScene = false;
};

// A texture held in plain memory: LockRect hands out the pixels themselves.
class RecordingTexture : public IDirect3DTexture9 {
 public:
  RecordingTexture(unsigned width, unsigned height, D3DFORMAT format, D3DPOOL pool);
  HRESULT GetLevelDesc(unsigned level, D3DSURFACE_DESC* desc) override;
  HRESULT LockRect(unsigned level, D3DLOCKED_RECT* locked, DWORD flags) override;
  HRESULT UnlockRect(unsigned level) override;

  // Pixels as stored, 4 bytes each (blue, green, red, alpha), rows top-down.
  const std::vector<uint8_t>& Bits() const { return m_bits; }
  bool Locked() const { return m_locked; }

 private:
  D3DSURFACE_DESC m_desc;
  std::vector<uint8_t> m_bits;
  bool m_locked = false;
};

// Stands in for Direct3DCreate9's object: answers the adapter queries from
// its fields and creates RecordingDevices, noting what it was asked.
class RecordingDirect3D : public IDirect3D9 {
 public:
  HRESULT GetDeviceCaps(unsigned adapter, D3DDEVTYPE type, D3DCAPS9* caps) override;
  HRESULT GetAdapterDisplayMode(unsigned adapter, D3DDISPLAYMODE* mode) override;
  HRESULT CreateDevice(unsigned adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
                       D3DPRESENT_PARAMETERS* params, IDirect3DDevice9** device) override;

  D3DCAPS9 caps{D3DDEVTYPE_HAL, 0, D3DDEVCAPS_HWTRANSFORMANDLIGHT, 4096, 4096};
  D3DDISPLAYMODE displayMode{1920, 1080, 60, D3DFMT_X8R8G8B8};
  bool failCaps = false;
  bool failDisplayMode = false;
  bool failCreateDevice = false;
  // What the last CreateDevice was given, and the device it made (not owned).
  DWORD createdFlags = 0;
  HWND createdWindow = nullptr;
  D3DPRESENT_PARAMETERS createdParams{};
  RecordingDevice* lastDevice = nullptr;
};

// Names of the constant values, as the recorded texts spell them.
std::string RenderStateName(D3DRENDERSTATETYPE state);
std::string StageStateName(D3DTEXTURESTAGESTATETYPE type);
std::string SamplerStateName(D3DSAMPLERSTATETYPE type);
std::string TransformName(D3DTRANSFORMSTATETYPE state);
std::string PrimitiveName(D3DPRIMITIVETYPE type);

}  // namespace qev
