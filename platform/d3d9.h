// The rendering device the program draws through: the traditional constant
// values, the device and texture interfaces with exactly the operations the
// program calls, and the object that creates devices. Backends: OpenGL
// (platform/gl_device.*) and a recorder for tests (platform/recording_device.*).
#pragma once
#include <cstdint>
#include <vector>

#include "platform/d3dx9_math.h"
#include "platform/win_types.h"

using DWORD = uint32_t;
using HRESULT = int32_t;
using D3DCOLOR = uint32_t;  // ARGB, alpha in the top byte
using D3DMATRIX = D3DXMATRIX;

constexpr DWORD FALSE = 0;
constexpr DWORD TRUE = 1;

constexpr HRESULT D3D_OK = 0;
constexpr HRESULT D3DERR_INVALIDCALL = HRESULT(0x8876086C);
constexpr HRESULT D3DERR_DEVICELOST = HRESULT(0x88760868);
constexpr HRESULT D3DERR_NOTAVAILABLE = HRESULT(0x8876086A);
constexpr HRESULT E_OUTOFMEMORY = HRESULT(0x8007000E);
constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

constexpr unsigned D3D_SDK_VERSION = 32;
constexpr unsigned D3DADAPTER_DEFAULT = 0;

enum D3DDEVTYPE : uint32_t { D3DDEVTYPE_HAL = 1, D3DDEVTYPE_REF = 2, D3DDEVTYPE_SW = 3 };

enum D3DRENDERSTATETYPE : uint32_t {
  D3DRS_ZENABLE = 7,
  D3DRS_FILLMODE = 8,
  D3DRS_ZWRITEENABLE = 14,
  D3DRS_SRCBLEND = 19,
  D3DRS_DESTBLEND = 20,
  D3DRS_CULLMODE = 22,
  D3DRS_ALPHABLENDENABLE = 27,
  D3DRS_LIGHTING = 137,
  D3DRS_MULTISAMPLEANTIALIAS = 161,
  D3DRS_INDEXEDVERTEXBLENDENABLE = 167,
};
enum D3DZBUFFERTYPE : uint32_t { D3DZB_FALSE = 0, D3DZB_TRUE = 1 };
enum D3DFILLMODE : uint32_t { D3DFILL_POINT = 1, D3DFILL_WIREFRAME = 2, D3DFILL_SOLID = 3 };
enum D3DBLEND : uint32_t {
  D3DBLEND_ZERO = 1,
  D3DBLEND_ONE = 2,
  D3DBLEND_SRCCOLOR = 3,
  D3DBLEND_INVSRCCOLOR = 4,
  D3DBLEND_SRCALPHA = 5,
  D3DBLEND_INVSRCALPHA = 6,
  D3DBLEND_DESTALPHA = 7,
  D3DBLEND_INVDESTALPHA = 8,
  D3DBLEND_DESTCOLOR = 9,
  D3DBLEND_INVDESTCOLOR = 10,
};
// Which on-screen winding is culled: D3DCULL_CW drops clockwise triangles.
enum D3DCULL : uint32_t { D3DCULL_NONE = 1, D3DCULL_CW = 2, D3DCULL_CCW = 3 };

enum D3DTEXTURESTAGESTATETYPE : uint32_t {
  D3DTSS_COLOROP = 1,
  D3DTSS_COLORARG1 = 2,
  D3DTSS_COLORARG2 = 3,
  D3DTSS_ALPHAOP = 4,
  D3DTSS_ALPHAARG1 = 5,
  D3DTSS_ALPHAARG2 = 6,
};
enum D3DTEXTUREOP : uint32_t {
  D3DTOP_DISABLE = 1,
  D3DTOP_SELECTARG1 = 2,
  D3DTOP_SELECTARG2 = 3,
  D3DTOP_MODULATE = 4,
};
constexpr DWORD D3DTA_DIFFUSE = 0, D3DTA_CURRENT = 1, D3DTA_TEXTURE = 2;

enum D3DSAMPLERSTATETYPE : uint32_t { D3DSAMP_MAGFILTER = 5, D3DSAMP_MINFILTER = 6, D3DSAMP_MIPFILTER = 7 };
enum D3DTEXTUREFILTERTYPE : uint32_t { D3DTEXF_NONE = 0, D3DTEXF_POINT = 1, D3DTEXF_LINEAR = 2 };

enum D3DTRANSFORMSTATETYPE : uint32_t { D3DTS_VIEW = 2, D3DTS_PROJECTION = 3, D3DTS_WORLD = 256 };

enum D3DPRIMITIVETYPE : uint32_t {
  D3DPT_POINTLIST = 1,
  D3DPT_LINELIST = 2,
  D3DPT_LINESTRIP = 3,
  D3DPT_TRIANGLELIST = 4,
  D3DPT_TRIANGLESTRIP = 5,
  D3DPT_TRIANGLEFAN = 6,
};

// Vertex format bits; components lie in this order in a vertex.
constexpr DWORD D3DFVF_XYZ = 0x002;
constexpr DWORD D3DFVF_XYZRHW = 0x004;  // screen pixels, depth 0..1, 1/w
constexpr DWORD D3DFVF_NORMAL = 0x010;
constexpr DWORD D3DFVF_DIFFUSE = 0x040;
constexpr DWORD D3DFVF_TEX1 = 0x100;

constexpr DWORD D3DCLEAR_TARGET = 1, D3DCLEAR_ZBUFFER = 2, D3DCLEAR_STENCIL = 4;

enum D3DFORMAT : uint32_t {
  D3DFMT_UNKNOWN = 0,
  D3DFMT_A8R8G8B8 = 21,  // bytes blue, green, red, alpha in memory
  D3DFMT_X8R8G8B8 = 22,
  D3DFMT_D24S8 = 75,
};
enum D3DPOOL : uint32_t { D3DPOOL_DEFAULT = 0, D3DPOOL_MANAGED = 1, D3DPOOL_SYSTEMMEM = 2 };
enum D3DMULTISAMPLE_TYPE : uint32_t { D3DMULTISAMPLE_NONE = 0, D3DMULTISAMPLE_4_SAMPLES = 4 };
enum D3DSWAPEFFECT : uint32_t { D3DSWAPEFFECT_DISCARD = 1, D3DSWAPEFFECT_FLIP = 2, D3DSWAPEFFECT_COPY = 3 };
constexpr unsigned D3DPRESENT_INTERVAL_IMMEDIATE = 0x80000000u;

constexpr DWORD D3DDEVCAPS_HWTRANSFORMANDLIGHT = 0x00010000;
constexpr DWORD D3DCREATE_FPU_PRESERVE = 0x02;
constexpr DWORD D3DCREATE_MULTITHREADED = 0x04;
constexpr DWORD D3DCREATE_SOFTWARE_VERTEXPROCESSING = 0x20;
constexpr DWORD D3DCREATE_HARDWARE_VERTEXPROCESSING = 0x40;
constexpr DWORD D3DCREATE_MIXED_VERTEXPROCESSING = 0x80;

// Only the fields the program reads or fills.
struct D3DCAPS9 {
  D3DDEVTYPE DeviceType = D3DDEVTYPE(0);
  unsigned AdapterOrdinal = 0;
  DWORD DevCaps = 0;
  DWORD MaxTextureWidth = 0;
  DWORD MaxTextureHeight = 0;
};

struct D3DDISPLAYMODE {
  unsigned Width = 0, Height = 0, RefreshRate = 0;
  D3DFORMAT Format = D3DFMT_UNKNOWN;
};

// 56 bytes, as the device creation expects them.
struct D3DPRESENT_PARAMETERS {
  unsigned BackBufferWidth;
  unsigned BackBufferHeight;
  D3DFORMAT BackBufferFormat;
  unsigned BackBufferCount;
  D3DMULTISAMPLE_TYPE MultiSampleType;
  DWORD MultiSampleQuality;
  D3DSWAPEFFECT SwapEffect;
  uint32_t hDeviceWindow;  // always null here: the focus window is used
  int32_t Windowed;
  int32_t EnableAutoDepthStencil;
  D3DFORMAT AutoDepthStencilFormat;
  DWORD Flags;
  unsigned FullScreen_RefreshRateInHz;
  unsigned PresentationInterval;
};
static_assert(sizeof(D3DPRESENT_PARAMETERS) == 56, "presentation parameters are 56 bytes");

struct D3DLOCKED_RECT {
  int Pitch = 0;  // bytes from one row to the next
  void* pBits = nullptr;
};

struct D3DSURFACE_DESC {
  D3DFORMAT Format = D3DFMT_UNKNOWN;
  D3DPOOL Pool = D3DPOOL_DEFAULT;
  unsigned Width = 0, Height = 0;
};


// Reference counted like the interfaces it stands for: created with one
// reference, deleted by the Release that drops the last one.
class RefCounted {
 public:
  RefCounted() = default;
  RefCounted(const RefCounted&) = delete;
  RefCounted& operator=(const RefCounted&) = delete;
  unsigned AddRef() { return ++m_refs; }
  unsigned Release();

 protected:
  virtual ~RefCounted() = default;

 private:
  unsigned m_refs = 1;
};

// A 2D texture of one level whose pixels are written through LockRect.
class IDirect3DTexture9 : public RefCounted {
 public:
  virtual HRESULT GetLevelDesc(unsigned level, D3DSURFACE_DESC* desc) = 0;
  // Only whole levels are locked here (the rectangle of the traditional call
  // is always null in this program).
  virtual HRESULT LockRect(unsigned level, D3DLOCKED_RECT* locked, DWORD flags) = 0;
  virtual HRESULT UnlockRect(unsigned level) = 0;
};

class IDirect3DTexture9;

// The port's one programmable draw, beside the fixed function: what it reads
// besides the vertices. Colours are 0..1 floats; directions are in the
// viewer's space (right-handed, already mirrored).
struct ShadedMaterialDraw {
  enum Pass : uint32_t {
    kMaterial = 0,  // the material lit, toon-shaded and sphere-mapped
    kOutline = 1,   // the mesh pushed out along its normals in the edge colour
  };
  Pass pass = kMaterial;
  float diffuse[4] = {1, 1, 1, 1};  // r, g, b, alpha
  float ambient[3] = {0, 0, 0};
  float specular[3] = {0, 0, 0};
  float power = 0;  // specular exponent; 0 or less: no highlight
  IDirect3DTexture9* texture = nullptr;  // null reads as opaque white
  IDirect3DTexture9* sphere = nullptr;
  uint32_t sphereMode = 0;  // 0 none, 1 multiplied (.sph), 2 added (.spa)
  IDirect3DTexture9* toon = nullptr;  // the ramp, top lit, bottom shadow; null: no ramp
  float lightDirection[3] = {0, -1, 0};  // the way the light travels
  float lightColour[3] = {1, 1, 1};
  // Outline pass: the colour, and the width in pixels at edge scale 1.
  float edgeColour[4] = {0, 0, 0, 1};
  float edgeSize = 1;
  // One edge scale per drawn vertex (the model's per-vertex edge weight);
  // null: 1 for every vertex.
  const float* edgeScale = nullptr;
};

class IDirect3DDevice9 : public RefCounted {
 public:
  virtual HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) = 0;
  virtual HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) = 0;
  virtual HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) = 0;
  virtual HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) = 0;
  virtual HRESULT SetFVF(DWORD fvf) = 0;
  virtual HRESULT SetTexture(DWORD stage, IDirect3DTexture9* texture) = 0;
  // Draws straight from the caller's memory; stride is the vertex size.
  virtual HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE type, unsigned primitiveCount, const void* vertices,
                                  unsigned stride) = 0;
  // A triangle list shaded as `draw` says. The vertices are laid out as the
  // format last given to SetFVF, which must hold a position, a normal and
  // one texture coordinate (a colour in between is skipped); the world, view
  // and projection are the device's transforms, the render states (cull,
  // depth, blend, fill) apply as to DrawPrimitiveUP.
  virtual HRESULT DrawShadedUP(const ShadedMaterialDraw& draw, unsigned triangleCount, const void* vertices,
                               unsigned stride) = 0;
  // Whole-target clear (the program never passes rectangles).
  virtual HRESULT Clear(DWORD flags, D3DCOLOR color, float z, DWORD stencil) = 0;
  virtual HRESULT BeginScene() = 0;
  virtual HRESULT EndScene() = 0;
  // Shows the back buffer, scaled to the whole window; fails when the device is lost.
  virtual HRESULT Present() = 0;
  virtual HRESULT CreateTexture(unsigned width, unsigned height, unsigned levels, DWORD usage,
                                D3DFORMAT format, D3DPOOL pool, IDirect3DTexture9** texture) = 0;
  // The port's screenshot: the back buffer as ARGB pixels, rows top-down.
  virtual HRESULT ReadBackBuffer(std::vector<D3DCOLOR>* pixels, unsigned* width, unsigned* height) = 0;
};

// What Direct3DCreate9 returns: the adapter queries and device creation.
class IDirect3D9 : public RefCounted {
 public:
  virtual HRESULT GetDeviceCaps(unsigned adapter, D3DDEVTYPE type, D3DCAPS9* caps) = 0;
  virtual HRESULT GetAdapterDisplayMode(unsigned adapter, D3DDISPLAYMODE* mode) = 0;
  virtual HRESULT CreateDevice(unsigned adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
                               D3DPRESENT_PARAMETERS* params, IDirect3DDevice9** device) = 0;
};

namespace qev {

// The largest texture side a device accepts; larger requests fail instead of
// allocating whatever a file asked for.
constexpr unsigned kMaxTextureSide = 8192;
// The most primitives one draw call takes (keeps vertex counts far from overflow).
constexpr unsigned kMaxPrimitiveCount = 1u << 24;

// Vertex bytes of one vertex in a format; 0 for formats the devices cannot draw.
unsigned FvfVertexSize(DWORD fvf);
// Vertices a DrawPrimitiveUP call reads; 0 for an unknown type or a count
// past kMaxPrimitiveCount.
unsigned PrimitiveVertexCount(D3DPRIMITIVETYPE type, unsigned primitiveCount);

}  // namespace qev
