// The texture manager on the recording device: which route each file takes,
// power-of-two sizing, the plug-in picture's corner with its zero fill, the
// lock rules, and that every load starts by letting go of the old texture.
#include "render/dd_tex_pro90.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "platform/gl_device.h"
#include "platform/picture_encoder.h"
#include "platform/recording_device.h"
#include "tests/common/temp_dir.h"
#include "tools/fixtures/picture_fixtures.h"

namespace {

using qev::fixtures::DibRows;
using qev::fixtures::QpxFile;
using Bgra = std::vector<uint8_t>;

const std::string kPluginDir = QEV_BINARY_DIR "/plugins";

// New textures come back full of garbage, as device memory does.
class DirtyDevice : public qev::RecordingDevice {
 public:
  HRESULT CreateTexture(unsigned width, unsigned height, unsigned levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                        IDirect3DTexture9** texture) override {
    const HRESULT hr = RecordingDevice::CreateTexture(width, height, levels, usage, format, pool, texture);
    D3DLOCKED_RECT locked;
    if (SUCCEEDED(hr) && SUCCEEDED((*texture)->LockRect(0, &locked, 0))) {
      std::memset(locked.pBits, 0xCD, size_t(locked.Pitch) * height);
      (*texture)->UnlockRect(0);
    }
    return hr;
  }
};

class TextureTest : public ::testing::Test {
 protected:
  TextureTest() {
    std::filesystem::create_directory(m_dir.Path("FILES"));
    std::filesystem::copy_file(kPluginDir + "/qpx_filter.spi", m_dir.Path("FILES/qpx_filter.spi"));
    m_tex.m_pluginFolder = m_dir.Path("FILES");
  }
  std::string Write(const std::string& name, const std::string& bytes) {
    m_dir.WriteFile(name, bytes);
    return m_dir.Path(name);
  }
  const qev::RecordingTexture& Texture() const { return *static_cast<qev::RecordingTexture*>(m_tex.m_pTexture); }
  Bgra Texel(int x, int y) const {
    const uint8_t* p = Texture().Bits().data() + (size_t(y) * m_tex.m_nTextureWidth + x) * 4;
    return {p[0], p[1], p[2], p[3]};
  }

  qev::test::TempDir m_dir;
  DirtyDevice m_device;
  CDDTexPro90 m_tex;
};

// A 3 x 2 picture, top row first: red green blue / white black grey.
const uint8_t kPicture[] = {0, 0, 255, 255,  0, 255, 0, 255,  255, 0, 0, 255,
                            255, 255, 255, 255,  0, 0, 0, 255,  128, 128, 128, 255};
const std::string kGif("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\x00\x00\x00\x00\x00"
                       ",\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;",
                       35);

TEST_F(TextureTest, EachFileTakesTheRouteItsNameAndBytesGive) {
  const std::string png = qev::EncodePicture(qev::PictureFileType::kPng, 3, 2, kPicture);
  const std::string bmp = qev::EncodePicture(qev::PictureFileType::kBmp, 3, 2, kPicture, false);
  const std::string qpx = QpxFile(3, 2, 32, DibRows(3, 2, 32, [](int, int) { return 0xFF0000FFu; }));
  const std::string dds = qev::fixtures::DdsHeader(3, 2, "DXT1") + std::string(8, '\0');
  struct Case {
    const char* name;
    std::string bytes;
    int result;
    const char* route;
    const char* decoder;
  };
  const Case cases[] = {
      {"a.png", png, 1, "decoder", "PNG"},
      {"b.PNG", png, 1, "decoder", "PNG"},
      {"c.Jpg", png, 1, "decoder", "PNG"},  // told by content, not by name
      {"d.dib", bmp, 1, "decoder", "BMP"},
      {"e.dds", dds, 1, "decoder", "DDS DXT1"},
      {"f.png", qpx, 0, "", ""},              // these names never reach the plug-ins
      {"g.tga", kGif, 0, "", ""},             // nor the formats beyond the six
      {"h.gif", kGif, 1, "decoder", "GIF"},   // the memory route reads more formats
      {"i.gif", qpx, 1, "plug-in", "qpx_filter.spi (QPX test filter)"},
      {"j.sph", bmp, 1, "decoder", "BMP"},    // sphere maps are pictures under another name
      {"k.spa", qpx, 1, "plug-in", "qpx_filter.spi (QPX test filter)"},
      {"l.xyz", "no picture at all", 0, "", ""},
      {"png", png, 1, "decoder", "PNG"},     // too short for an extension: the memory route
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(m_tex.LoadFile(Write(c.name, c.bytes).c_str(), &m_device), c.result);
    EXPECT_EQ(m_tex.m_route, c.route);
    EXPECT_EQ(m_tex.m_decoder, c.decoder);
    EXPECT_EQ(m_tex.m_pTexture != nullptr, c.result == 1);
  }
}

TEST_F(TextureTest, PluginPictureSitsUprightInTheCornerOfAPowerOfTwoTexture) {
  auto colour = [](int x, int y) { return 0xFF000000u | uint32_t(x) << 8 | uint32_t(y); };
  const std::string qpx = QpxFile(100, 60, 32, DibRows(100, 60, 32, colour), {}, 0, "a test picture");
  ASSERT_EQ(m_tex.LoadFile(Write("p.gif", qpx).c_str(), &m_device), 1);
  EXPECT_EQ(m_tex.m_nImageWidth, 100);
  EXPECT_EQ(m_tex.m_nImageHeight, 60);
  EXPECT_EQ(m_tex.m_nTextureWidth, 128);
  EXPECT_EQ(m_tex.m_nTextureHeight, 64);
  EXPECT_EQ(m_tex.m_nSourceBits, 32);
  EXPECT_EQ(m_tex.m_info, "a test picture");
  EXPECT_EQ(m_device.Find("CreateTexture").back()->text, "CreateTexture(128, 64, 1, 0, 21, 1)");
  EXPECT_FALSE(Texture().Locked());
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 128; ++x) {
      const Bgra expected = (x < 100 && y < 60) ? Bgra{uint8_t(y), uint8_t(x), 0, 255} : Bgra{0, 0, 0, 0};
      ASSERT_EQ(Texel(x, y), expected) << x << "," << y;
    }
}

// ReadPicture takes LoadFile's route to the picture itself, as the file
// holds it (no power-of-two texture around it): the plug-ins' picture
// upright, the decoders' as decoded, and nothing where LoadFile fails.
TEST_F(TextureTest, ReadPictureGivesThePictureLoadFileWouldShow) {
  auto colour = [](int x, int y) { return 0xFF000000u | uint32_t(x) << 8 | uint32_t(y); };
  const std::string qpx = QpxFile(100, 60, 32, DibRows(100, 60, 32, colour));
  const std::string png = qev::EncodePicture(qev::PictureFileType::kPng, 3, 2, kPicture);
  const struct {
    const char* name;
    const std::string* bytes;
    int read;
    int width, height;
  } cases[] = {
      {"p.gif", &qpx, 1, 100, 60},  // no decoder takes it: the plug-in does
      {"p.qpx", &qpx, 1, 100, 60},
      {"p.png", &png, 1, 3, 2},
      {"p.spa", &png, 1, 3, 2},     // decoded from memory by its bytes
      {"q.png", &qpx, 0, 0, 0},     // a decoder's name is the decoders' alone
      {"e.qpx", nullptr, 0, 0, 0},  // an empty file
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Write(c.name, c.bytes ? *c.bytes : std::string());
    qev::DecodedPicture got;
    ASSERT_EQ(m_tex.ReadPicture(path.c_str(), &got), c.read);
    EXPECT_EQ(got.width, c.width);
    EXPECT_EQ(got.height, c.height);
    ASSERT_EQ(got.pixels.size(), size_t(c.width * c.height * 4));
    if (c.width == 100) {
      for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 100; ++x)
          ASSERT_EQ(Bgra(got.pixels.begin() + (y * 100 + x) * 4, got.pixels.begin() + (y * 100 + x) * 4 + 4),
                    (Bgra{uint8_t(y), uint8_t(x), 0, 255}))
              << x << "," << y;
    } else if (c.width == 3) {
      EXPECT_EQ(got.pixels, Bgra(std::begin(kPicture), std::end(kPicture)));
    }
    EXPECT_EQ(m_tex.LoadFile(path.c_str(), &m_device), c.read);
  }
  qev::DecodedPicture none;
  EXPECT_EQ(m_tex.ReadPicture(m_dir.Path("missing.bmp").c_str(), &none), 0);
}

TEST_F(TextureTest, TwentyFourBitPluginPicturesShowOpaque) {
  const std::string qpx = QpxFile(3, 1, 24, DibRows(3, 1, 24, [](int x, int) { return uint32_t(x + 1) * 0x010101u; }));
  ASSERT_EQ(m_tex.LoadFile(Write("p.qpx", qpx).c_str(), &m_device), 1);
  EXPECT_EQ(m_tex.m_nSourceBits, 24);
  EXPECT_EQ(Texel(0, 0), (Bgra{1, 1, 1, 255}));
  EXPECT_EQ(Texel(2, 0), (Bgra{3, 3, 3, 255}));
  EXPECT_EQ(Texel(3, 0), (Bgra{0, 0, 0, 0}));
}

TEST_F(TextureTest, DecodedPicturesFillTheWholeTextureByNearestPixel) {
  const std::string png = qev::EncodePicture(qev::PictureFileType::kPng, 3, 2, kPicture);
  ASSERT_EQ(m_tex.LoadMemory(&m_device, png.data(), int64_t(png.size())), 1);
  EXPECT_EQ(m_device.Find("CreateTexture").back()->text, "CreateTexture(4, 2, 1, 0, 21, 1)");
  // the decoders report the picture's size for both
  EXPECT_EQ(m_tex.m_nImageWidth, 3);
  EXPECT_EQ(m_tex.m_nTextureWidth, 3);
  EXPECT_EQ(m_tex.m_nImageHeight, 2);
  EXPECT_EQ(m_tex.m_nTextureHeight, 2);
  // texture columns 0 1 2 3 show picture columns 0 1 1 2
  const int columns[4] = {0, 1, 1, 2};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) {
      const uint8_t* p = kPicture + (y * 3 + columns[x]) * 4;
      const uint8_t* t = Texture().Bits().data() + (size_t(y) * 4 + x) * 4;
      EXPECT_EQ(Bgra(t, t + 4), Bgra(p, p + 4)) << x << "," << y;
    }
}

TEST_F(TextureTest, PicturesWiderThanTheDeviceTakesAreScaledDown) {
  std::vector<uint8_t> wide(size_t(qev::kMaxTextureSide + 1) * 4, 0xFF);
  const std::string png = qev::EncodePicture(qev::PictureFileType::kPng, int(qev::kMaxTextureSide) + 1, 1, wide.data());
  ASSERT_EQ(m_tex.LoadMemory(&m_device, png.data(), int64_t(png.size())), 1);
  EXPECT_EQ(m_device.Find("CreateTexture").back()->text, "CreateTexture(" + std::to_string(qev::kMaxTextureSide) + ", 1, 1, 0, 21, 1)");
  EXPECT_EQ(m_tex.m_nImageWidth, int(qev::kMaxTextureSide) + 1);
}

TEST_F(TextureTest, CreateBlankSizesToPowersOfTwo) {
  struct Case {
    int width, height;
    int result;
    const char* call;
  };
  const Case cases[] = {
      {1, 1, 1, "CreateTexture(1, 1, 1, 0, 21, 1)"},     {0, 0, 1, "CreateTexture(1, 1, 1, 0, 21, 1)"},
      {2, 3, 1, "CreateTexture(2, 4, 1, 0, 21, 1)"},     {100, 60, 1, "CreateTexture(128, 64, 1, 0, 21, 1)"},
      {129, 1, 1, "CreateTexture(256, 1, 1, 0, 21, 1)"}, {8192, 8192, 1, "CreateTexture(8192, 8192, 1, 0, 21, 1)"},
      {8193, 1, 0, "CreateTexture(16384, 1, 1, 0, 21, 1)"},
      // compared unsigned: a negative width is huge and the device refuses it
      {-5, 4, 0, "CreateTexture(1073741824, 4, 1, 0, 21, 1)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
    EXPECT_EQ(m_tex.CreateBlank(&m_device, c.width, c.height), c.result);
    EXPECT_EQ(m_device.Find("CreateTexture").back()->text, c.call);
    EXPECT_EQ(m_tex.m_nImageWidth, c.width);
    EXPECT_EQ(m_tex.m_nImageHeight, c.height);
  }
}

TEST_F(TextureTest, LockRules) {
  int pitch = 0;
  void* bits = nullptr;
  EXPECT_EQ(m_tex.Lock(&pitch, &bits), 0) << "nothing to lock";
  EXPECT_EQ(m_tex.Unlock(), 0);
  ASSERT_EQ(m_tex.CreateBlank(&m_device, 5, 3), 1);
  EXPECT_EQ(m_tex.Unlock(), 0) << "unlock without lock";
  ASSERT_EQ(m_tex.Lock(&pitch, &bits), 1);
  EXPECT_EQ(pitch, 32);
  EXPECT_NE(bits, nullptr);
  EXPECT_EQ(m_tex.m_bLocked, 1);
  EXPECT_EQ(m_tex.Lock(&pitch, &bits), 0) << "locked twice";
  EXPECT_EQ(m_tex.Unlock(), 1);
  EXPECT_EQ(m_tex.Unlock(), 0);
  EXPECT_EQ(m_tex.Lock(&pitch, &bits), 1);
  // a load while locked still lets go of the old texture
  EXPECT_EQ(m_tex.LoadFile(m_dir.Path("absent.png").c_str(), &m_device), 0);
  EXPECT_EQ(m_tex.m_bLocked, 0);
}

TEST_F(TextureTest, EveryLoadLetsGoOfTheOldTextureFirst) {
  const std::string png = qev::EncodePicture(qev::PictureFileType::kPng, 3, 2, kPicture);
  const std::string good = Write("good.png", png);
  const std::string bad = Write("bad.png", png.substr(0, 20));
  struct Case {
    const char* name;
    std::function<int()> load;
  };
  const Case cases[] = {
      {"missing file", [&] { return m_tex.LoadFile(m_dir.Path("absent.png").c_str(), &m_device); }},
      {"damaged file", [&] { return m_tex.LoadFile(bad.c_str(), &m_device); }},
      {"no plug-in reads it", [&] { return m_tex.LoadFile(Write("x.gif", "nothing").c_str(), &m_device); }},
      {"empty memory", [&] { return m_tex.LoadMemory(&m_device, png.data(), 0); }},
      {"device refuses", [&] {
         m_device.failCreateTexture = true;
         const int r = m_tex.LoadFile(good.c_str(), &m_device);
         m_device.failCreateTexture = false;
         return r;
       }},
      {"no device", [&] { return m_tex.LoadFile(good.c_str(), nullptr); }},
      {"a good load", [&] { return m_tex.LoadFile(good.c_str(), &m_device); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(m_tex.LoadFile(good.c_str(), &m_device), 1);
    IDirect3DTexture9* old = m_tex.m_pTexture;
    old->AddRef();
    const int result = c.load();
    EXPECT_EQ(old->Release(), 0u) << "the object dropped its reference";
    if (result) continue;
    EXPECT_EQ(m_tex.m_pTexture, nullptr);
    EXPECT_EQ(m_tex.m_nImageWidth + m_tex.m_nImageHeight + m_tex.m_nTextureWidth + m_tex.m_nTextureHeight, 0);
    EXPECT_EQ(m_tex.m_route, "");
  }
}

TEST_F(TextureTest, NamesThatDifferOnlyInCaseAreFound) {
  std::filesystem::create_directories(m_dir.Path("Model/Tex"));
  const std::string png = qev::EncodePicture(qev::PictureFileType::kPng, 3, 2, kPicture);
  Write("Model/Tex/Face.PNG", png);
  Write("Model/Tex/Sph.SPA", qev::EncodePicture(qev::PictureFileType::kBmp, 3, 2, kPicture));
  struct Case {
    std::string path;
    int result;
  };
  const Case cases[] = {
      {m_dir.Path("Model/Tex/Face.PNG"), 1},
      {m_dir.Path("model/tex/face.png"), 1},
      {m_dir.Path("MODEL/TEX/FACE.png"), 1},
      {m_dir.Path("model/tex/sph.spa"), 1},
      {m_dir.Path("model/tex/face.bmp"), 0},
      {m_dir.Path("model/other/face.png"), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(m_tex.LoadFile(c.path.c_str(), &m_device), c.result);
  }
  qev::test::ChangeDir here(m_dir.Path("Model"));
  EXPECT_EQ(m_tex.LoadFile("TEX/face.png", &m_device), 1) << "relative paths too";
}

TEST_F(TextureTest, NamedPipesUnderPictureNamesFailWithoutWaiting) {
  for (const char* name : {"pipe.png", "pipe.gif"}) {
    SCOPED_TRACE(name);
    ASSERT_EQ(mkfifo(m_dir.Path(name).c_str(), 0600), 0);
    EXPECT_EQ(m_tex.LoadFile(m_dir.Path(name).c_str(), &m_device), 0);
  }
}

TEST_F(TextureTest, WithoutPluginsOtherFormatsFail) {
  const std::string qpx = QpxFile(1, 1, 32, std::string(4, '\0'));
  m_tex.m_pluginFolder = m_dir.Path("NOWHERE");
  EXPECT_EQ(m_tex.LoadFile(Write("p.gif", qpx).c_str(), &m_device), 0);
  std::filesystem::create_directory(m_dir.Path("EMPTY"));
  m_tex.m_pluginFolder = m_dir.Path("EMPTY");
  EXPECT_EQ(m_tex.LoadFile(Write("p.gif", qpx).c_str(), &m_device), 0);
  EXPECT_EQ(m_tex.LoadMemory(&m_device, qpx.data(), int64_t(qpx.size())), 0);
}

TEST_F(TextureTest, RefusedPicturesSayWhyInTheLog) {
  const std::string png = qev::EncodePicture(qev::PictureFileType::kPng, 3, 2, kPicture);
  qev::test::LogCapture log;
  EXPECT_EQ(m_tex.LoadFile(Write("cut.png", png.substr(0, png.size() - 20)).c_str(), &m_device), 0);
  EXPECT_TRUE(log.Contains("picture refused: PNG")) << log.Text();
}

// The same pictures on the offscreen OpenGL device, drawn over the whole back
// buffer one texel to a pixel: what a material shows on screen.
class GlTextureTest : public TextureTest {
 protected:
  struct ScreenVertex {  // 0x144: position with rhw, colour, one texture coordinate
    float x, y, z, rhw;
    D3DCOLOR color;
    float u, v;
  };
  void SetUp() override {
    m_d3d = qev::CreateGlDirect3D(qev::GlSurface::kOffscreen);
    D3DPRESENT_PARAMETERS pp{};
    pp.BackBufferWidth = 128;
    pp.BackBufferHeight = 64;
    ASSERT_EQ(m_d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, nullptr, 0, &pp, &m_gl), D3D_OK)
        << "offscreen OpenGL (EGL surfaceless) is needed";
  }
  void TearDown() override {
    m_tex.Release();
    if (m_gl) m_gl->Release();
    if (m_d3d) m_d3d->Release();
  }
  // The texture drawn over the back buffer; its pixels as ARGB, rows top-down.
  std::vector<D3DCOLOR> Draw() {
    m_gl->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    m_gl->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    m_gl->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    m_gl->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    m_gl->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    m_gl->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    m_gl->Clear(D3DCLEAR_TARGET, 0xFF336699, 1.0f, 0);
    m_gl->BeginScene();
    m_gl->SetTexture(0, m_tex.m_pTexture);
    const ScreenVertex v[4] = {{0, 0, 0.5f, 1, 0xFFFFFFFF, 0, 0}, {128, 0, 0.5f, 1, 0xFFFFFFFF, 1, 0},
                               {0, 64, 0.5f, 1, 0xFFFFFFFF, 0, 1}, {128, 64, 0.5f, 1, 0xFFFFFFFF, 1, 1}};
    m_gl->SetFVF(0x144);
    m_gl->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(ScreenVertex));
    m_gl->SetTexture(0, nullptr);
    m_gl->EndScene();
    std::vector<D3DCOLOR> pixels;
    unsigned w = 0, h = 0;
    EXPECT_EQ(m_gl->ReadBackBuffer(&pixels, &w, &h), D3D_OK);
    EXPECT_EQ(w * h, 128u * 64u);
    pixels.resize(128 * 64);
    return pixels;
  }

  IDirect3D9* m_d3d = nullptr;
  IDirect3DDevice9* m_gl = nullptr;
};

TEST_F(GlTextureTest, PluginPictureShowsUprightInTheTopLeftCorner) {
  // 100 x 60: the top half red, the bottom half green
  auto colour = [](int, int y) { return y < 30 ? 0xFFFF0000u : 0xFF00FF00u; };
  ASSERT_EQ(m_tex.LoadFile(Write("p.gif", QpxFile(100, 60, 32, DibRows(100, 60, 32, colour))).c_str(), m_gl), 1);
  const std::vector<D3DCOLOR> screen = Draw();
  auto rgb = [&](int x, int y) { return screen[size_t(y) * 128 + x] & 0xFFFFFF; };
  EXPECT_EQ(rgb(10, 5), 0xFF0000u);
  EXPECT_EQ(rgb(99, 29), 0xFF0000u);
  EXPECT_EQ(rgb(10, 50), 0x00FF00u);
  EXPECT_EQ(rgb(99, 59), 0x00FF00u);
  EXPECT_EQ(rgb(100, 10), 0u) << "the zero fill right of the picture";
  EXPECT_EQ(rgb(10, 60), 0u) << "the zero fill below it";
}

TEST_F(GlTextureTest, DecodedPictureCoversTheWholeTexture) {
  // 2 x 2: red green / blue white, scaled to the whole 2 x 2 texture
  const uint8_t picture[] = {0, 0, 255, 255, 0, 255, 0, 255, 255, 0, 0, 255, 255, 255, 255, 255};
  const std::string png = qev::EncodePicture(qev::PictureFileType::kPng, 2, 2, picture);
  ASSERT_EQ(m_tex.LoadFile(Write("q.png", png).c_str(), m_gl), 1);
  const std::vector<D3DCOLOR> screen = Draw();
  auto rgb = [&](int x, int y) { return screen[size_t(y) * 128 + x] & 0xFFFFFF; };
  EXPECT_EQ(rgb(20, 10), 0xFF0000u);
  EXPECT_EQ(rgb(100, 10), 0x00FF00u);
  EXPECT_EQ(rgb(20, 50), 0x0000FFu);
  EXPECT_EQ(rgb(100, 50), 0xFFFFFFu);
}

}  // namespace
