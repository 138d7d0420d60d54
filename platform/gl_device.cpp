#include "platform/gl_device.h"

#define GL_GLEXT_PROTOTYPES 1
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/glcorearb.h>
#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/sdl_window.h"

namespace qev {
namespace {

// One OpenGL context: an EGL context without any surface (offscreen), or an
// SDL context on a window. Devices and their textures share it, so it lives
// until the last of them is released.
class GlContext {
 public:
  static std::shared_ptr<GlContext> CreateOffscreen();
  static std::shared_ptr<GlContext> CreateForWindow(SDL_Window* window);
  ~GlContext();
  GlContext(const GlContext&) = delete;
  GlContext& operator=(const GlContext&) = delete;

  void MakeCurrent();
  SDL_Window* Window() const { return m_window; }

 private:
  GlContext() = default;
  EGLDisplay m_display = EGL_NO_DISPLAY;
  EGLContext m_eglContext = EGL_NO_CONTEXT;
  SDL_Window* m_window = nullptr;
  SDL_GLContext m_sdlContext = nullptr;
  static thread_local GlContext* s_current;
};

thread_local GlContext* GlContext::s_current = nullptr;

// The surfaceless display is initialised once and kept for the process:
// terminating it would also end the contexts of other devices.
EGLDisplay SurfacelessDisplay() {
  static const EGLDisplay display = [] {
    auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    EGLDisplay d = getPlatformDisplay
                       ? getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr)
                       : EGL_NO_DISPLAY;
    EGLint major = 0, minor = 0;
    if (d == EGL_NO_DISPLAY || !eglInitialize(d, &major, &minor)) return EGL_NO_DISPLAY;
    return d;
  }();
  return display;
}

std::shared_ptr<GlContext> GlContext::CreateOffscreen() {
  const EGLDisplay display = SurfacelessDisplay();
  if (display == EGL_NO_DISPLAY || !eglBindAPI(EGL_OPENGL_API)) return nullptr;
  const EGLint attrs[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 3,
                          EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT, EGL_NONE};
  const EGLContext context = eglCreateContext(display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attrs);
  if (context == EGL_NO_CONTEXT) return nullptr;
  std::shared_ptr<GlContext> out(new GlContext());
  out->m_display = display;
  out->m_eglContext = context;
  if (!eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) return nullptr;
  s_current = out.get();
  return out;
}

std::shared_ptr<GlContext> GlContext::CreateForWindow(SDL_Window* window) {
  if (!window || !(SDL_GetWindowFlags(window) & SDL_WINDOW_OPENGL)) return nullptr;
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  const SDL_GLContext context = SDL_GL_CreateContext(window);
  if (!context) {
    std::fprintf(stderr, "OpenGL context could not be created: %s\n", SDL_GetError());
    return nullptr;
  }
  std::shared_ptr<GlContext> out(new GlContext());
  out->m_window = window;
  out->m_sdlContext = context;
  s_current = out.get();
  // Presentation is immediate: pacing comes from the frame clock alone.
  SDL_GL_SetSwapInterval(0);
  return out;
}

GlContext::~GlContext() {
  if (s_current == this) s_current = nullptr;
  if (m_sdlContext) SDL_GL_DeleteContext(m_sdlContext);
  if (m_eglContext != EGL_NO_CONTEXT) {
    eglMakeCurrent(m_display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(m_display, m_eglContext);
  }
}

void GlContext::MakeCurrent() {
  if (s_current == this) return;
  if (m_sdlContext) {
    SDL_GL_MakeCurrent(m_window, m_sdlContext);
  } else {
    eglMakeCurrent(m_display, EGL_NO_SURFACE, EGL_NO_SURFACE, m_eglContext);
  }
  s_current = this;
}

// Vertex stage: either the row-vector world x view x projection, or screen
// pixels with 1/w. Both end in the traditional conventions: clip depth 0..1
// (moved to OpenGL's -1..1 here) and pixel centres on integer coordinates
// (OpenGL's are half a pixel further), hence the half-pixel shift. The shift
// is 63/128 rather than 1/2 so that an edge lying exactly on pixel centres
// falls the traditional way (top and left edges in, bottom and right out)
// although OpenGL's rows run bottom-up.
const char* const kVertexShader = R"(#version 330 core
layout(location = 0) in vec4 aPos;
layout(location = 1) in vec4 aColor;
layout(location = 2) in vec2 aTex;
uniform mat4 uTransform;
uniform int uPretransformed;
uniform vec2 uTarget;
out vec4 vColor;
out vec2 vTex;
const float kShift = 63.0 / 128.0;
void main() {
  vec4 clip;
  if (uPretransformed != 0) {
    float w = aPos.w != 0.0 ? 1.0 / aPos.w : 1.0;
    vec2 ndc = vec2((aPos.x + kShift) / uTarget.x * 2.0 - 1.0, 1.0 - (aPos.y + kShift) / uTarget.y * 2.0);
    clip = vec4(ndc * w, (aPos.z * 2.0 - 1.0) * w, w);
  } else {
    clip = uTransform * vec4(aPos.xyz, 1.0);
    clip.z = clip.z * 2.0 - clip.w;
    clip.xy += vec2(2.0 * kShift / uTarget.x, -2.0 * kShift / uTarget.y) * clip.w;
  }
  gl_Position = clip;
  vColor = aColor;
  vTex = aTex;
}
)";

// Texture stage 0 with the operations the program uses; no texture reads as
// opaque white, so untextured draws show their vertex colour.
const char* const kFragmentShader = R"(#version 330 core
in vec4 vColor;
in vec2 vTex;
uniform sampler2D uTexture;
uniform int uHasTexture;
uniform ivec3 uColorStage;
uniform ivec3 uAlphaStage;
out vec4 fragColor;
vec4 Arg(int a, vec4 tex) { return (a & 15) == 2 ? tex : vColor; }
vec4 Op(ivec3 s, vec4 tex) {
  vec4 a1 = Arg(s.y, tex), a2 = Arg(s.z, tex);
  if (s.x == 1) return vColor;
  if (s.x == 2) return a1;
  if (s.x == 3) return a2;
  return a1 * a2;
}
void main() {
  vec4 tex = uHasTexture != 0 ? texture(uTexture, vTex) : vec4(1.0);
  fragColor = vec4(Op(uColorStage, tex).rgb, Op(uAlphaStage, tex).a);
}
)";

// The shaded material draw. Positions go through world x view x projection
// with the same depth and half-pixel conventions as above; normals and the
// eye direction are handed on in view space. The outline pass pushes each
// vertex out along its normal by edge size x edge scale pixels: the view
// distance times the size of one pixel at unit distance, so the width stays
// about constant on screen however far the model is.
const char* const kShadedVertexShader = R"(#version 330 core
layout(location = 0) in vec3 aPos;
layout(location = 2) in vec2 aTex;
layout(location = 3) in vec3 aNormal;
layout(location = 4) in float aEdgeScale;
uniform mat4 uWorldView;
uniform mat4 uProjection;
uniform vec2 uTarget;
uniform int uOutline;
uniform float uEdgePixels;
out vec3 vNormal;
out vec3 vEye;
out vec2 vTex;
const float kShift = 63.0 / 128.0;
void main() {
  vec4 view = uWorldView * vec4(aPos, 1.0);
  vec3 normal = mat3(uWorldView) * aNormal;
  float len = length(normal);
  normal = len > 0.0 ? normal / len : vec3(0.0);
  vec4 clip = uProjection * view;
  if (uOutline != 0) {
    float pixel = 2.0 * abs(clip.w) / (abs(uProjection[1][1]) * uTarget.y);
    view.xyz += normal * (uEdgePixels * aEdgeScale * pixel);
    clip = uProjection * view;
  }
  clip.z = clip.z * 2.0 - clip.w;
  clip.xy += vec2(2.0 * kShift / uTarget.x, -2.0 * kShift / uTarget.y) * clip.w;
  gl_Position = clip;
  vNormal = normal;
  vEye = -view.xyz;
  vTex = aTex;
}
)";

// The shading model, one place for all of it. With N the surface normal
// (turned to the viewer on a back face), L the direction towards the light
// and E towards the eye, all in view space:
//   base    = clamp(light colour x diffuse.rgb + ambient, 0, 1)
//   colour  = base x texture.rgb
//   sphere  : colour x sphere(uv) for mode 1 (.sph), colour + sphere(uv) for
//             mode 2 (.spa), uv = (N.x, -N.y) / 2 + 1/2
//   toon    : colour x ramp(1/2, 1/2 - N.L / 2): N.L = 1 reads the ramp's
//             top row (lit), N.L = -1 its bottom row (shadow)
//   specular: + specular x light colour x max(N.H, 0) ^ power, H = |L + E|
//   alpha   = diffuse.a x texture.a
// and the result clamped to 0..1. The outline pass is the edge colour alone.
const char* const kShadedFragmentShader = R"(#version 330 core
in vec3 vNormal;
in vec3 vEye;
in vec2 vTex;
uniform int uOutline;
uniform vec4 uEdgeColour;
uniform vec4 uDiffuse;
uniform vec3 uAmbient;
uniform vec3 uSpecular;
uniform float uPower;
uniform sampler2D uTexture;
uniform sampler2D uSphere;
uniform sampler2D uToon;
uniform int uHasTexture;
uniform int uSphereMode;
uniform int uHasToon;
uniform vec3 uToLight;
uniform vec3 uLightColour;
out vec4 fragColor;
void main() {
  if (uOutline != 0) {
    fragColor = uEdgeColour;
    return;
  }
  vec3 n = normalize(gl_FrontFacing ? vNormal : -vNormal);
  float nl = dot(n, uToLight);
  vec4 tex = uHasTexture != 0 ? texture(uTexture, vTex) : vec4(1.0);
  vec3 colour = clamp(uLightColour * uDiffuse.rgb + uAmbient, 0.0, 1.0) * tex.rgb;
  if (uSphereMode != 0) {
    vec3 sphere = texture(uSphere, vec2(n.x * 0.5 + 0.5, 0.5 - n.y * 0.5)).rgb;
    colour = uSphereMode == 1 ? colour * sphere : colour + sphere;
  }
  if (uHasToon != 0) colour *= texture(uToon, vec2(0.5, clamp(0.5 - 0.5 * nl, 0.0, 1.0))).rgb;
  if (uPower > 0.0) {
    vec3 h = normalize(uToLight + normalize(vEye));
    colour += uSpecular * uLightColour * pow(max(dot(n, h), 0.0), uPower);
  }
  fragColor = vec4(clamp(colour, 0.0, 1.0), uDiffuse.a * tex.a);
}
)";

GLuint CompileProgram(const char* vertexSource, const char* fragmentSource) {
  auto compile = [](GLenum type, const char* source) -> GLuint {
    const GLuint shader = glCreateShader(type);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
      char log[1024] = {};
      glGetShaderInfoLog(shader, sizeof log, nullptr, log);
      std::fprintf(stderr, "OpenGL shader: %s\n", log);
      glDeleteShader(shader);
      return 0;
    }
    return shader;
  };
  const GLuint vs = compile(GL_VERTEX_SHADER, vertexSource);
  const GLuint fs = compile(GL_FRAGMENT_SHADER, fragmentSource);
  GLuint program = 0;
  if (vs && fs) {
    program = glCreateProgram();
    glAttachShader(program, vs);
    glAttachShader(program, fs);
    glLinkProgram(program);
    GLint ok = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (!ok) {
      glDeleteProgram(program);
      program = 0;
    }
  }
  if (vs) glDeleteShader(vs);
  if (fs) glDeleteShader(fs);
  return program;
}

GLenum BlendFactor(DWORD blend) {
  switch (blend) {
    case D3DBLEND_ZERO: return GL_ZERO;
    case D3DBLEND_ONE: return GL_ONE;
    case D3DBLEND_SRCCOLOR: return GL_SRC_COLOR;
    case D3DBLEND_INVSRCCOLOR: return GL_ONE_MINUS_SRC_COLOR;
    case D3DBLEND_SRCALPHA: return GL_SRC_ALPHA;
    case D3DBLEND_INVSRCALPHA: return GL_ONE_MINUS_SRC_ALPHA;
    case D3DBLEND_DESTALPHA: return GL_DST_ALPHA;
    case D3DBLEND_INVDESTALPHA: return GL_ONE_MINUS_DST_ALPHA;
    case D3DBLEND_DESTCOLOR: return GL_DST_COLOR;
    case D3DBLEND_INVDESTCOLOR: return GL_ONE_MINUS_DST_COLOR;
  }
  return GL_ONE;
}

GLenum PrimitiveMode(D3DPRIMITIVETYPE type) {
  switch (type) {
    case D3DPT_POINTLIST: return GL_POINTS;
    case D3DPT_LINELIST: return GL_LINES;
    case D3DPT_LINESTRIP: return GL_LINE_STRIP;
    case D3DPT_TRIANGLELIST: return GL_TRIANGLES;
    case D3DPT_TRIANGLESTRIP: return GL_TRIANGLE_STRIP;
    case D3DPT_TRIANGLEFAN: return GL_TRIANGLE_FAN;
  }
  return GL_POINTS;
}

class GlTexture : public IDirect3DTexture9 {
 public:
  GlTexture(std::shared_ptr<GlContext> context, unsigned width, unsigned height, D3DFORMAT format,
            D3DPOOL pool)
      : m_context(std::move(context)), m_desc{format, pool, width, height},
        m_bits(size_t(width) * height * 4) {
    m_context->MakeCurrent();
    glGenTextures(1, &m_name);
    glBindTexture(GL_TEXTURE_2D, m_name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    // X8R8G8B8 has no alpha: its fourth byte reads as opaque.
    if (format == D3DFMT_X8R8G8B8) glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_A, GL_ONE);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, GLsizei(width), GLsizei(height), 0, GL_BGRA, GL_UNSIGNED_BYTE,
                 m_bits.data());
  }
  ~GlTexture() override {
    m_context->MakeCurrent();
    glDeleteTextures(1, &m_name);
  }

  HRESULT GetLevelDesc(unsigned level, D3DSURFACE_DESC* desc) override {
    if (level != 0 || !desc) return D3DERR_INVALIDCALL;
    *desc = m_desc;
    return D3D_OK;
  }
  HRESULT LockRect(unsigned level, D3DLOCKED_RECT* locked, DWORD) override {
    if (level != 0 || !locked || m_locked) return D3DERR_INVALIDCALL;
    m_locked = true;
    locked->Pitch = int(m_desc.Width * 4);
    locked->pBits = m_bits.data();
    return D3D_OK;
  }
  // The memory copy stays (a managed texture), so a later lock sees the pixels.
  HRESULT UnlockRect(unsigned level) override {
    if (level != 0 || !m_locked) return D3DERR_INVALIDCALL;
    m_locked = false;
    m_context->MakeCurrent();
    glBindTexture(GL_TEXTURE_2D, m_name);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, GLsizei(m_desc.Width), GLsizei(m_desc.Height), GL_BGRA,
                    GL_UNSIGNED_BYTE, m_bits.data());
    return D3D_OK;
  }

  GLuint Name() const { return m_name; }

 private:
  std::shared_ptr<GlContext> m_context;
  D3DSURFACE_DESC m_desc;
  std::vector<uint8_t> m_bits;
  GLuint m_name = 0;
  bool m_locked = false;
};

class GlDevice : public IDirect3DDevice9 {
 public:
  GlDevice(std::shared_ptr<GlContext> context, unsigned width, unsigned height, bool multisample)
      : m_context(std::move(context)), m_width(width), m_height(height), m_multisample(multisample) {}
  ~GlDevice() override;
  // Builds the back buffer, program and buffers; false when OpenGL refuses.
  bool Create();

  HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
  HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
  HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override;
  HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override;
  HRESULT SetFVF(DWORD fvf) override;
  HRESULT SetTexture(DWORD stage, IDirect3DTexture9* texture) override;
  HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE type, unsigned primitiveCount, const void* vertices,
                          unsigned stride) override;
  HRESULT DrawShadedUP(const ShadedMaterialDraw& draw, unsigned triangleCount, const void* vertices,
                       unsigned stride) override;
  HRESULT Clear(DWORD flags, D3DCOLOR color, float z, DWORD stencil) override;
  HRESULT BeginScene() override;
  HRESULT EndScene() override;
  HRESULT Present() override;
  HRESULT CreateTexture(unsigned width, unsigned height, unsigned levels, DWORD usage, D3DFORMAT format,
                        D3DPOOL pool, IDirect3DTexture9** texture) override;
  HRESULT ReadBackBuffer(std::vector<D3DCOLOR>* pixels, unsigned* width, unsigned* height) override;

 private:
  void ApplyDepth();
  void ApplyCull();
  void ApplyStage();
  // Copies vertex bytes into the vertex buffer.
  void Upload(const void* vertices, size_t bytes);
  // The multisampled picture, when drawn, into the single-sampled buffer.
  void Resolve();
  // The buffer drawing goes to now.
  GLuint Target() const { return m_multisampleOn ? m_msFbo : m_fbo; }
  bool CreateShaded();

  std::shared_ptr<GlContext> m_context;
  unsigned m_width, m_height;
  // Created with 4 samples a pixel: a second, multisampled buffer that the
  // drawing goes to while D3DRS_MULTISAMPLEANTIALIAS is on (off at creation,
  // so the fixed-function pictures stay exactly as drawn without it).
  bool m_multisample;
  bool m_multisampleOn = false;
  GLuint m_msFbo = 0, m_msColor = 0, m_msDepth = 0;
  GLuint m_shadedProgram = 0, m_edgeVbo = 0, m_rampSampler = 0;
  size_t m_edgeVboSize = 0;
  struct {
    GLint worldView, projection, target, outline, edgePixels, edgeColour, diffuse, ambient, specular, power;
    GLint hasTexture, sphereMode, hasToon, toLight, lightColour;
  } m_su{};
  GLuint m_fbo = 0, m_color = 0, m_depth = 0, m_program = 0, m_vao = 0, m_vbo = 0, m_sampler = 0;
  GLint m_uTransform = -1, m_uPretransformed = -1, m_uTarget = -1, m_uHasTexture = -1;
  GLint m_uColorStage = -1, m_uAlphaStage = -1;
  size_t m_vboSize = 0;
  // The device's state in its traditional form; the creation defaults.
  DWORD m_zEnable = D3DZB_TRUE, m_zWrite = TRUE, m_cull = D3DCULL_CCW;
  DWORD m_srcBlend = D3DBLEND_ONE, m_destBlend = D3DBLEND_ZERO;
  DWORD m_colorStage[3] = {D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_CURRENT};
  DWORD m_alphaStage[3] = {D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_CURRENT};
  DWORD m_fvf = 0;
  D3DMATRIX m_world, m_view, m_projection;
  bool m_transformDirty = true;
  GlTexture* m_texture = nullptr;  // one reference held while bound
  bool m_inScene = false;
};

GlDevice::~GlDevice() {
  if (m_texture) m_texture->Release();
  m_context->MakeCurrent();
  glDeleteSamplers(1, &m_rampSampler);
  glDeleteBuffers(1, &m_edgeVbo);
  glDeleteProgram(m_shadedProgram);
  glDeleteRenderbuffers(1, &m_msDepth);
  glDeleteRenderbuffers(1, &m_msColor);
  glDeleteFramebuffers(1, &m_msFbo);
  glDeleteSamplers(1, &m_sampler);
  glDeleteBuffers(1, &m_vbo);
  glDeleteVertexArrays(1, &m_vao);
  glDeleteProgram(m_program);
  glDeleteRenderbuffers(1, &m_depth);
  glDeleteRenderbuffers(1, &m_color);
  glDeleteFramebuffers(1, &m_fbo);
}

bool GlDevice::Create() {
  m_context->MakeCurrent();
  m_program = CompileProgram(kVertexShader, kFragmentShader);
  if (!m_program || !CreateShaded()) return false;
  glGenFramebuffers(1, &m_fbo);
  glGenRenderbuffers(1, &m_color);
  glGenRenderbuffers(1, &m_depth);
  glBindRenderbuffer(GL_RENDERBUFFER, m_color);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, GLsizei(m_width), GLsizei(m_height));
  glBindRenderbuffer(GL_RENDERBUFFER, m_depth);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, GLsizei(m_width), GLsizei(m_height));
  glBindFramebuffer(GL_FRAMEBUFFER, m_fbo);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, m_color);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, m_depth);
  if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) return false;
  GLint maxSamples = 0;
  glGetIntegerv(GL_MAX_SAMPLES, &maxSamples);
  // A window on a software rasteriser is drawn single-sampled: there four
  // samples a pixel cost several times the frame (Mesa's llvmpipe: about 50
  // instead of 10 ms for the sample character), too much for 30 frames a
  // second. Offscreen pictures are made once and keep them.
  const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
  const bool software = renderer && (std::strstr(renderer, "llvmpipe") || std::strstr(renderer, "softpipe") ||
                                     std::strstr(renderer, "swrast"));
  if (software && m_context->Window()) m_multisample = false;
  if (m_multisample && maxSamples >= 4) {
    glGenFramebuffers(1, &m_msFbo);
    glGenRenderbuffers(1, &m_msColor);
    glGenRenderbuffers(1, &m_msDepth);
    glBindRenderbuffer(GL_RENDERBUFFER, m_msColor);
    glRenderbufferStorageMultisample(GL_RENDERBUFFER, 4, GL_RGBA8, GLsizei(m_width), GLsizei(m_height));
    glBindRenderbuffer(GL_RENDERBUFFER, m_msDepth);
    glRenderbufferStorageMultisample(GL_RENDERBUFFER, 4, GL_DEPTH24_STENCIL8, GLsizei(m_width), GLsizei(m_height));
    glBindFramebuffer(GL_FRAMEBUFFER, m_msFbo);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, m_msColor);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, m_msDepth);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) return false;
    glBindFramebuffer(GL_FRAMEBUFFER, m_fbo);
  } else {
    m_multisample = false;  // the driver cannot: drawn single-sampled
  }
  glViewport(0, 0, GLsizei(m_width), GLsizei(m_height));

  glGenVertexArrays(1, &m_vao);
  glBindVertexArray(m_vao);
  glGenBuffers(1, &m_vbo);
  glBindBuffer(GL_ARRAY_BUFFER, m_vbo);
  glGenSamplers(1, &m_sampler);
  glBindSampler(0, m_sampler);
  glSamplerParameteri(m_sampler, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glSamplerParameteri(m_sampler, GL_TEXTURE_MAG_FILTER, GL_NEAREST);

  glUseProgram(m_program);
  m_uTransform = glGetUniformLocation(m_program, "uTransform");
  m_uPretransformed = glGetUniformLocation(m_program, "uPretransformed");
  m_uTarget = glGetUniformLocation(m_program, "uTarget");
  m_uHasTexture = glGetUniformLocation(m_program, "uHasTexture");
  m_uColorStage = glGetUniformLocation(m_program, "uColorStage");
  m_uAlphaStage = glGetUniformLocation(m_program, "uAlphaStage");
  glUniform1i(glGetUniformLocation(m_program, "uTexture"), 0);
  glUniform2f(m_uTarget, float(m_width), float(m_height));
  glUniform1i(m_uHasTexture, 0);

  // The traditional creation defaults: depth test and writes on (there is a
  // depth buffer), counter-clockwise culling, no blending, solid fill.
  D3DXMatrixIdentity(&m_world);
  D3DXMatrixIdentity(&m_view);
  D3DXMatrixIdentity(&m_projection);
  glDepthFunc(GL_LEQUAL);
  glFrontFace(GL_CCW);
  glDisable(GL_BLEND);
  glBlendFunc(GL_ONE, GL_ZERO);
  glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
  ApplyDepth();
  ApplyCull();
  ApplyStage();
  return glGetError() == GL_NO_ERROR;
}

bool GlDevice::CreateShaded() {
  m_shadedProgram = CompileProgram(kShadedVertexShader, kShadedFragmentShader);
  if (!m_shadedProgram) return false;
  glGenBuffers(1, &m_edgeVbo);
  // Sphere maps and ramps: smooth and never wrapped (a ramp's top and bottom
  // rows must not bleed into each other).
  glGenSamplers(1, &m_rampSampler);
  glSamplerParameteri(m_rampSampler, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glSamplerParameteri(m_rampSampler, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glSamplerParameteri(m_rampSampler, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glSamplerParameteri(m_rampSampler, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  glBindSampler(1, m_rampSampler);
  glBindSampler(2, m_rampSampler);
  const GLuint p = m_shadedProgram;
  glUseProgram(p);
  m_su.worldView = glGetUniformLocation(p, "uWorldView");
  m_su.projection = glGetUniformLocation(p, "uProjection");
  m_su.target = glGetUniformLocation(p, "uTarget");
  m_su.outline = glGetUniformLocation(p, "uOutline");
  m_su.edgePixels = glGetUniformLocation(p, "uEdgePixels");
  m_su.edgeColour = glGetUniformLocation(p, "uEdgeColour");
  m_su.diffuse = glGetUniformLocation(p, "uDiffuse");
  m_su.ambient = glGetUniformLocation(p, "uAmbient");
  m_su.specular = glGetUniformLocation(p, "uSpecular");
  m_su.power = glGetUniformLocation(p, "uPower");
  m_su.hasTexture = glGetUniformLocation(p, "uHasTexture");
  m_su.sphereMode = glGetUniformLocation(p, "uSphereMode");
  m_su.hasToon = glGetUniformLocation(p, "uHasToon");
  m_su.toLight = glGetUniformLocation(p, "uToLight");
  m_su.lightColour = glGetUniformLocation(p, "uLightColour");
  glUniform1i(glGetUniformLocation(p, "uTexture"), 0);
  glUniform1i(glGetUniformLocation(p, "uSphere"), 1);
  glUniform1i(glGetUniformLocation(p, "uToon"), 2);
  glUniform2f(m_su.target, float(m_width), float(m_height));
  return true;
}

void GlDevice::ApplyDepth() {
  if (m_zEnable != D3DZB_FALSE) {
    glEnable(GL_DEPTH_TEST);
  } else {
    glDisable(GL_DEPTH_TEST);
  }
  glDepthMask(m_zWrite ? GL_TRUE : GL_FALSE);
}

// The image is never flipped on its way to the screen, so a winding seen
// clockwise on screen is clockwise in OpenGL's window space: the back face.
void GlDevice::ApplyCull() {
  if (m_cull == D3DCULL_CW || m_cull == D3DCULL_CCW) {
    glEnable(GL_CULL_FACE);
    glCullFace(m_cull == D3DCULL_CW ? GL_BACK : GL_FRONT);
  } else {
    glDisable(GL_CULL_FACE);
  }
}

void GlDevice::ApplyStage() {
  glUniform3i(m_uColorStage, GLint(m_colorStage[0]), GLint(m_colorStage[1]), GLint(m_colorStage[2]));
  glUniform3i(m_uAlphaStage, GLint(m_alphaStage[0]), GLint(m_alphaStage[1]), GLint(m_alphaStage[2]));
}

HRESULT GlDevice::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
  m_context->MakeCurrent();
  switch (state) {
    case D3DRS_ZENABLE: m_zEnable = value; ApplyDepth(); break;
    case D3DRS_ZWRITEENABLE: m_zWrite = value; ApplyDepth(); break;
    case D3DRS_CULLMODE: m_cull = value; ApplyCull(); break;
    case D3DRS_FILLMODE:
      glPolygonMode(GL_FRONT_AND_BACK,
                    value == D3DFILL_WIREFRAME ? GL_LINE : value == D3DFILL_POINT ? GL_POINT : GL_FILL);
      break;
    case D3DRS_ALPHABLENDENABLE:
      if (value) {
        glEnable(GL_BLEND);
      } else {
        glDisable(GL_BLEND);
      }
      break;
    case D3DRS_SRCBLEND:
      m_srcBlend = value;
      glBlendFunc(BlendFactor(m_srcBlend), BlendFactor(m_destBlend));
      break;
    case D3DRS_DESTBLEND:
      m_destBlend = value;
      glBlendFunc(BlendFactor(m_srcBlend), BlendFactor(m_destBlend));
      break;
    case D3DRS_MULTISAMPLEANTIALIAS: {
      const bool on = value && m_multisample;
      if (on == m_multisampleOn) break;
      m_multisampleOn = on;
      glBindFramebuffer(GL_FRAMEBUFFER, Target());
      break;
    }
    // Vertices always carry their colour and the program never lights them;
    // one matrix per vertex is all there is.
    case D3DRS_LIGHTING:
    case D3DRS_INDEXEDVERTEXBLENDENABLE: break;
    default: return D3DERR_INVALIDCALL;
  }
  return D3D_OK;
}

HRESULT GlDevice::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
  // Stage 1 is only ever disabled by the program: one stage is drawn.
  if (stage != 0) return stage < 8 ? D3D_OK : D3DERR_INVALIDCALL;
  switch (type) {
    case D3DTSS_COLOROP: m_colorStage[0] = value; break;
    case D3DTSS_COLORARG1: m_colorStage[1] = value; break;
    case D3DTSS_COLORARG2: m_colorStage[2] = value; break;
    case D3DTSS_ALPHAOP: m_alphaStage[0] = value; break;
    case D3DTSS_ALPHAARG1: m_alphaStage[1] = value; break;
    case D3DTSS_ALPHAARG2: m_alphaStage[2] = value; break;
    default: return D3DERR_INVALIDCALL;
  }
  m_context->MakeCurrent();
  ApplyStage();
  return D3D_OK;
}

HRESULT GlDevice::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
  if (sampler != 0) return sampler < 16 ? D3D_OK : D3DERR_INVALIDCALL;
  const GLint filter = value == D3DTEXF_LINEAR ? GL_LINEAR : GL_NEAREST;
  m_context->MakeCurrent();
  switch (type) {
    case D3DSAMP_MINFILTER: glSamplerParameteri(m_sampler, GL_TEXTURE_MIN_FILTER, filter); break;
    case D3DSAMP_MAGFILTER: glSamplerParameteri(m_sampler, GL_TEXTURE_MAG_FILTER, filter); break;
    case D3DSAMP_MIPFILTER: break;  // textures have a single level
    default: return D3DERR_INVALIDCALL;
  }
  return D3D_OK;
}

HRESULT GlDevice::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) {
  if (!matrix) return D3DERR_INVALIDCALL;
  switch (state) {
    case D3DTS_WORLD: m_world = *matrix; break;
    case D3DTS_VIEW: m_view = *matrix; break;
    case D3DTS_PROJECTION: m_projection = *matrix; break;
    default: return D3DERR_INVALIDCALL;
  }
  m_transformDirty = true;
  return D3D_OK;
}

HRESULT GlDevice::SetFVF(DWORD fvf) {
  if (FvfVertexSize(fvf) == 0) return D3DERR_INVALIDCALL;
  m_fvf = fvf;
  return D3D_OK;
}

HRESULT GlDevice::SetTexture(DWORD stage, IDirect3DTexture9* texture) {
  if (stage != 0) return stage < 8 ? D3D_OK : D3DERR_INVALIDCALL;
  auto* gl = dynamic_cast<GlTexture*>(texture);
  if (texture && !gl) return D3DERR_INVALIDCALL;
  if (gl) gl->AddRef();
  if (m_texture) m_texture->Release();
  m_texture = gl;
  m_context->MakeCurrent();
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, gl ? gl->Name() : 0);
  glUniform1i(m_uHasTexture, gl ? 1 : 0);
  return D3D_OK;
}

HRESULT GlDevice::DrawPrimitiveUP(D3DPRIMITIVETYPE type, unsigned primitiveCount, const void* vertices,
                                  unsigned stride) {
  const unsigned count = PrimitiveVertexCount(type, primitiveCount);
  const unsigned size = FvfVertexSize(m_fvf);
  if (!m_inScene || !vertices || count == 0 || size == 0 || stride < size) return D3DERR_INVALIDCALL;
  m_context->MakeCurrent();
  const bool pretransformed = (m_fvf & D3DFVF_XYZRHW) != 0;
  glUniform1i(m_uPretransformed, pretransformed ? 1 : 0);
  if (m_transformDirty && !pretransformed) {
    // Row-major data read as column-major is the transpose, which is what
    // turns p x M into OpenGL's M x p.
    const D3DMATRIX wvp = m_world * m_view * m_projection;
    glUniformMatrix4fv(m_uTransform, 1, GL_FALSE, &wvp.m[0][0]);
    m_transformDirty = false;
  }

  Upload(vertices, size_t(count) * stride);

  uintptr_t offset = 0;
  glEnableVertexAttribArray(0);
  glVertexAttribPointer(0, pretransformed ? 4 : 3, GL_FLOAT, GL_FALSE, GLsizei(stride),
                        reinterpret_cast<const void*>(offset));
  offset += pretransformed ? 16 : 12;
  if (m_fvf & D3DFVF_NORMAL) offset += 12;  // unlit: normals are not read
  if (m_fvf & D3DFVF_DIFFUSE) {
    glEnableVertexAttribArray(1);
    // ARGB words lie in memory as blue, green, red, alpha.
    glVertexAttribPointer(1, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, GLsizei(stride),
                          reinterpret_cast<const void*>(offset));
    offset += 4;
  } else {
    glDisableVertexAttribArray(1);
    glVertexAttrib4f(1, 1, 1, 1, 1);  // the traditional default diffuse is opaque white
  }
  if (m_fvf & D3DFVF_TEX1) {
    glEnableVertexAttribArray(2);
    glVertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, GLsizei(stride), reinterpret_cast<const void*>(offset));
  } else {
    glDisableVertexAttribArray(2);
    glVertexAttrib2f(2, 0, 0);
  }
  glDrawArrays(PrimitiveMode(type), 0, GLsizei(count));
  return D3D_OK;
}

void GlDevice::Upload(const void* vertices, size_t bytes) {
  glBindBuffer(GL_ARRAY_BUFFER, m_vbo);
  if (bytes > m_vboSize) {
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(bytes), vertices, GL_STREAM_DRAW);
    m_vboSize = bytes;
  } else {
    // Orphan the old store so the driver need not wait for the last draw.
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(m_vboSize), nullptr, GL_STREAM_DRAW);
    glBufferSubData(GL_ARRAY_BUFFER, 0, GLsizeiptr(bytes), vertices);
  }
}

HRESULT GlDevice::DrawShadedUP(const ShadedMaterialDraw& draw, unsigned triangleCount, const void* vertices,
                               unsigned stride) {
  const unsigned count = PrimitiveVertexCount(D3DPT_TRIANGLELIST, triangleCount);
  const unsigned size = FvfVertexSize(m_fvf);
  const DWORD needed = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;
  if (!m_inScene || !vertices || count == 0 || size == 0 || stride < size || (m_fvf & needed) != needed ||
      (m_fvf & D3DFVF_XYZRHW))
    return D3DERR_INVALIDCALL;
  GlTexture* textures[3] = {};
  IDirect3DTexture9* given[3] = {draw.texture, draw.sphere, draw.toon};
  for (int t = 0; t < 3; ++t) {
    textures[t] = dynamic_cast<GlTexture*>(given[t]);
    if (given[t] && !textures[t]) return D3DERR_INVALIDCALL;
  }
  m_context->MakeCurrent();
  glUseProgram(m_shadedProgram);
  const D3DMATRIX worldView = m_world * m_view;
  glUniformMatrix4fv(m_su.worldView, 1, GL_FALSE, &worldView.m[0][0]);
  glUniformMatrix4fv(m_su.projection, 1, GL_FALSE, &m_projection.m[0][0]);
  const bool outline = draw.pass == ShadedMaterialDraw::kOutline;
  glUniform1i(m_su.outline, outline ? 1 : 0);
  glUniform1f(m_su.edgePixels, draw.edgeSize);
  glUniform4fv(m_su.edgeColour, 1, draw.edgeColour);
  glUniform4fv(m_su.diffuse, 1, draw.diffuse);
  glUniform3fv(m_su.ambient, 1, draw.ambient);
  glUniform3fv(m_su.specular, 1, draw.specular);
  glUniform1f(m_su.power, draw.power);
  glUniform1i(m_su.hasTexture, textures[0] ? 1 : 0);
  glUniform1i(m_su.sphereMode, textures[1] && (draw.sphereMode == 1 || draw.sphereMode == 2) ? GLint(draw.sphereMode) : 0);
  glUniform1i(m_su.hasToon, textures[2] ? 1 : 0);
  // Towards the light, in view space (directions ignore the translation).
  const float* d = draw.lightDirection;
  float toLight[3];
  for (int c = 0; c < 3; ++c) toLight[c] = -(d[0] * m_view.m[0][c] + d[1] * m_view.m[1][c] + d[2] * m_view.m[2][c]);
  const float length = std::sqrt(toLight[0] * toLight[0] + toLight[1] * toLight[1] + toLight[2] * toLight[2]);
  for (float& c : toLight) c = length > 0 ? c / length : 0;
  glUniform3fv(m_su.toLight, 1, toLight);
  glUniform3fv(m_su.lightColour, 1, draw.lightColour);
  for (int t = 0; t < 3; ++t) {
    glActiveTexture(GLenum(GL_TEXTURE0 + t));
    glBindTexture(GL_TEXTURE_2D, textures[t] ? textures[t]->Name() : 0);
  }

  Upload(vertices, size_t(count) * stride);
  glEnableVertexAttribArray(0);
  glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, GLsizei(stride), nullptr);
  glEnableVertexAttribArray(3);
  glVertexAttribPointer(3, 3, GL_FLOAT, GL_FALSE, GLsizei(stride), reinterpret_cast<const void*>(uintptr_t(12)));
  const uintptr_t uv = 24 + ((m_fvf & D3DFVF_DIFFUSE) ? 4 : 0);
  glEnableVertexAttribArray(2);
  glVertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, GLsizei(stride), reinterpret_cast<const void*>(uv));
  if (outline && draw.edgeScale) {
    const size_t bytes = size_t(count) * sizeof(float);
    glBindBuffer(GL_ARRAY_BUFFER, m_edgeVbo);
    if (bytes > m_edgeVboSize) m_edgeVboSize = bytes;
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(m_edgeVboSize), nullptr, GL_STREAM_DRAW);
    glBufferSubData(GL_ARRAY_BUFFER, 0, GLsizeiptr(bytes), draw.edgeScale);
    glEnableVertexAttribArray(4);
    glVertexAttribPointer(4, 1, GL_FLOAT, GL_FALSE, sizeof(float), nullptr);
  } else {
    glDisableVertexAttribArray(4);
    glVertexAttrib1f(4, 1.0f);
  }
  glDrawArrays(GL_TRIANGLES, 0, GLsizei(count));

  // Back to the fixed-function state: its program, stage 0's texture, and
  // the attributes it does not feed.
  glDisableVertexAttribArray(3);
  glDisableVertexAttribArray(4);
  for (int t = 2; t >= 0; --t) {
    glActiveTexture(GLenum(GL_TEXTURE0 + t));
    glBindTexture(GL_TEXTURE_2D, t == 0 && m_texture ? m_texture->Name() : 0);
  }
  glUseProgram(m_program);
  m_transformDirty = true;
  return D3D_OK;
}

void GlDevice::Resolve() {
  if (!m_multisampleOn) return;
  glBindFramebuffer(GL_READ_FRAMEBUFFER, m_msFbo);
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, m_fbo);
  glBlitFramebuffer(0, 0, GLint(m_width), GLint(m_height), 0, 0, GLint(m_width), GLint(m_height),
                    GL_COLOR_BUFFER_BIT, GL_NEAREST);
  glBindFramebuffer(GL_FRAMEBUFFER, m_msFbo);
}

HRESULT GlDevice::Clear(DWORD flags, D3DCOLOR color, float z, DWORD stencil) {
  m_context->MakeCurrent();
  GLbitfield mask = 0;
  if (flags & D3DCLEAR_TARGET) {
    glClearColor(float((color >> 16) & 0xFF) / 255.0f, float((color >> 8) & 0xFF) / 255.0f,
                 float(color & 0xFF) / 255.0f, float(color >> 24) / 255.0f);
    mask |= GL_COLOR_BUFFER_BIT;
  }
  if (flags & D3DCLEAR_ZBUFFER) {
    glClearDepth(z);
    mask |= GL_DEPTH_BUFFER_BIT;
  }
  if (flags & D3DCLEAR_STENCIL) {
    glClearStencil(GLint(stencil));
    mask |= GL_STENCIL_BUFFER_BIT;
  }
  // A clear fills the whole buffer whatever the write switches say.
  glDepthMask(GL_TRUE);
  glClear(mask);
  ApplyDepth();
  return D3D_OK;
}

HRESULT GlDevice::BeginScene() {
  if (m_inScene) return D3DERR_INVALIDCALL;
  m_inScene = true;
  return D3D_OK;
}

HRESULT GlDevice::EndScene() {
  if (!m_inScene) return D3DERR_INVALIDCALL;
  m_inScene = false;
  return D3D_OK;
}

HRESULT GlDevice::Present() {
  m_context->MakeCurrent();
  SDL_Window* window = m_context->Window();
  if (!window) {
    glFlush();
    return D3D_OK;
  }
  int w = 0, h = 0;
  SDL_GL_GetDrawableSize(window, &w, &h);
  if (w <= 0 || h <= 0) return D3D_OK;  // minimised: nothing to show
  Resolve();
  glBindFramebuffer(GL_READ_FRAMEBUFFER, m_fbo);
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
  glBlitFramebuffer(0, 0, GLint(m_width), GLint(m_height), 0, 0, w, h, GL_COLOR_BUFFER_BIT,
                    (GLint(m_width) == w && GLint(m_height) == h) ? GL_NEAREST : GL_LINEAR);
  SDL_GL_SwapWindow(window);
  glBindFramebuffer(GL_FRAMEBUFFER, Target());
  // Only a lost context loses the device; other errors leave it drawing.
  bool lost = false;
  for (GLenum error = glGetError(); error != GL_NO_ERROR; error = glGetError()) {
    if (error == GL_CONTEXT_LOST) {
      lost = true;
      break;
    }
  }
  return lost ? D3DERR_DEVICELOST : D3D_OK;
}

HRESULT GlDevice::CreateTexture(unsigned width, unsigned height, unsigned levels, DWORD, D3DFORMAT format,
                                D3DPOOL pool, IDirect3DTexture9** texture) {
  if (!texture) return D3DERR_INVALIDCALL;
  *texture = nullptr;
  if (width == 0 || height == 0 || width > kMaxTextureSide || height > kMaxTextureSide || levels > 1 ||
      (format != D3DFMT_A8R8G8B8 && format != D3DFMT_X8R8G8B8))
    return D3DERR_INVALIDCALL;
  *texture = new GlTexture(m_context, width, height, format, pool);
  return D3D_OK;
}

HRESULT GlDevice::ReadBackBuffer(std::vector<D3DCOLOR>* pixels, unsigned* width, unsigned* height) {
  if (!pixels) return D3DERR_INVALIDCALL;
  m_context->MakeCurrent();
  std::vector<D3DCOLOR> bottomUp(size_t(m_width) * m_height);
  Resolve();
  glBindFramebuffer(GL_READ_FRAMEBUFFER, m_fbo);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glReadPixels(0, 0, GLsizei(m_width), GLsizei(m_height), GL_BGRA, GL_UNSIGNED_BYTE, bottomUp.data());
  glBindFramebuffer(GL_FRAMEBUFFER, Target());
  pixels->resize(bottomUp.size());
  for (unsigned y = 0; y < m_height; ++y)
    std::copy_n(bottomUp.begin() + ptrdiff_t(size_t(m_height - 1 - y) * m_width), m_width,
                pixels->begin() + ptrdiff_t(size_t(y) * m_width));
  if (width) *width = m_width;
  if (height) *height = m_height;
  return D3D_OK;
}

class GlDirect3D : public IDirect3D9 {
 public:
  explicit GlDirect3D(GlSurface surface) : m_surface(surface) {}

  HRESULT GetDeviceCaps(unsigned adapter, D3DDEVTYPE type, D3DCAPS9* caps) override {
    if (!caps || adapter != D3DADAPTER_DEFAULT) return D3DERR_INVALIDCALL;
    *caps = D3DCAPS9{type, adapter, D3DDEVCAPS_HWTRANSFORMANDLIGHT, kMaxTextureSide, kMaxTextureSide};
    return D3D_OK;
  }

  HRESULT GetAdapterDisplayMode(unsigned adapter, D3DDISPLAYMODE* mode) override {
    if (!mode || adapter != D3DADAPTER_DEFAULT) return D3DERR_INVALIDCALL;
    if (m_surface == GlSurface::kOffscreen) {
      *mode = D3DDISPLAYMODE{1280, 800, 0, D3DFMT_X8R8G8B8};
      return D3D_OK;
    }
    SDL_DisplayMode desktop;
    if (SDL_GetDesktopDisplayMode(0, &desktop) != 0) return D3DERR_NOTAVAILABLE;
    *mode = D3DDISPLAYMODE{unsigned(desktop.w), unsigned(desktop.h), unsigned(desktop.refresh_rate),
                           D3DFMT_X8R8G8B8};
    return D3D_OK;
  }

  HRESULT CreateDevice(unsigned adapter, D3DDEVTYPE, HWND focusWindow, DWORD, D3DPRESENT_PARAMETERS* params,
                       IDirect3DDevice9** device) override {
    if (!device || !params || adapter != D3DADAPTER_DEFAULT) return D3DERR_INVALIDCALL;
    *device = nullptr;
    const unsigned w = params->BackBufferWidth, h = params->BackBufferHeight;
    if (w == 0 || h == 0 || w > kMaxTextureSide || h > kMaxTextureSide) return D3DERR_INVALIDCALL;
    std::shared_ptr<GlContext> context = m_surface == GlSurface::kOffscreen
                                             ? GlContext::CreateOffscreen()
                                             : GlContext::CreateForWindow(SdlWindowFromHwnd(focusWindow));
    if (!context) return D3DERR_NOTAVAILABLE;
    auto* created = new GlDevice(std::move(context), w, h, params->MultiSampleType == D3DMULTISAMPLE_4_SAMPLES);
    if (!created->Create()) {
      created->Release();
      return D3DERR_NOTAVAILABLE;
    }
    *device = created;
    return D3D_OK;
  }

 private:
  GlSurface m_surface;
};

}  // namespace

IDirect3D9* CreateGlDirect3D(GlSurface surface) { return new GlDirect3D(surface); }

}  // namespace qev

IDirect3D9* Direct3DCreate9(unsigned sdkVersion) {
  if (sdkVersion != D3D_SDK_VERSION) return nullptr;
  return qev::CreateGlDirect3D(qev::GlSurface::kWindow);
}
