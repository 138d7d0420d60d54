// The text atlas: its creation and clearing, where strings land, the
// one-pixel border, the search for a free place, and the sprite a slot draws
// as (recorded, and in pixels on the offscreen OpenGL device).
#include "render/dd_edge_font_mng.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "platform/gl_device.h"
#include "platform/recording_device.h"
#include "render/anti_font32.h"
#include "render/edge_font32.h"

namespace {

const char16_t* const kFace = u"ＭＳ ゴシック";

class EdgeFontMngTest : public testing::Test {
 protected:
  void SetUp() override {
    dev.BeginScene();
    ASSERT_EQ(mng.Init(&dev), 1);
  }
  const qev::RecordingTexture& Atlas() const { return *static_cast<qev::RecordingTexture*>(mng.m_pTexture); }
  // ARGB of an atlas pixel.
  uint32_t AtlasPixel(int x, int y) const {
    uint32_t v;
    std::memcpy(&v, Atlas().Bits().data() + (size_t(y) * 1024 + x) * 4, 4);
    return v;
  }
  void Use(int k, int x, int y, int w, int h) { mng.m_slot[k] = EdgeFontSlot{1, x, y, w, h, 0}; }

  qev::RecordingDevice dev;
  CDDEdgeFontMng mng;
};

TEST_F(EdgeFontMngTest, InitMakesAClearedAtlasAndResetReleasesIt) {
  EXPECT_EQ(dev.Find("CreateTexture")[0]->text, "CreateTexture(1024, 512, 1, 0, 21, 1)");
  EXPECT_EQ(mng.m_nTexWidth, 1024);
  EXPECT_EQ(mng.m_nTexHeight, 512);
  EXPECT_EQ(mng.m_pDevice, &dev);
  for (int y : {0, 255, 511})
    for (int x : {0, 700, 1023}) EXPECT_EQ(AtlasPixel(x, y), 0x00808080u);
  EXPECT_EQ(mng.m_dwVertexColor, 0xFFFFFFu);
  EXPECT_EQ(mng.m_dwEdgeColor, 0u);
  EXPECT_EQ(mng.m_nEdgeWidth, 1);

  mng.m_nAnchor = 3;
  mng.m_dwEdgeColor = 0xFF000000;
  mng.m_nEdgeWidth = 0;
  mng.m_dwVertexColor = 0x123456;
  ASSERT_EQ(mng.MakeText(kFace, u"x"), 1);
  mng.Reset();
  EXPECT_EQ(mng.m_pTexture, nullptr);
  EXPECT_EQ(mng.m_slot[0].used, 0);
  EXPECT_EQ(mng.m_nAnchor, 0);
  EXPECT_EQ(mng.m_dwVertexColor, 0xFFFFFFu);
  EXPECT_EQ(mng.m_dwEdgeColor, 0u);
  EXPECT_EQ(mng.m_nEdgeWidth, 1);
  EXPECT_EQ(mng.FillRect(0, 0, 4, 4, 0), 0);  // no atlas
  EXPECT_EQ(mng.DrawSlot(0, 0, 0, 1, 1, 1), 0);
}

TEST_F(EdgeFontMngTest, InitFailsWithoutATexture) {
  qev::RecordingDevice refusing;
  refusing.failCreateTexture = true;
  CDDEdgeFontMng other;
  EXPECT_EQ(other.Init(&refusing), 0);
  EXPECT_EQ(other.m_pTexture, nullptr);
  EXPECT_EQ(other.Init(nullptr), 0);
  // nothing to draw with: an unused slot, and no atlas even when one is marked
  EXPECT_EQ(other.MakeText(kFace, u"abc"), 1);  // placed, nothing copied
  EXPECT_EQ(other.DrawSlot(0, 0, 0, 1, 1, 1), 0);
}

TEST_F(EdgeFontMngTest, TextLandsOnePixelInWithAnEvenRegion) {
  mng.m_dwEdgeColor = 0xFF000000;
  mng.m_nEdgeWidth = 0;
  const std::u16string text = u"剛体 No.1";
  CEdgeFont32 image;
  ASSERT_EQ(image.Make(text.c_str(), kFace, 0xFF000000, 0), 1);
  // leave a trace of earlier text where the region goes
  ASSERT_EQ(mng.FillRect(0, 0, 300, 40, 0xABCDEF), 1);
  ASSERT_EQ(mng.MakeText(kFace, text.c_str()), 1);
  const EdgeFontSlot& s = mng.m_slot[0];
  EXPECT_EQ(s.used, 1);
  EXPECT_EQ(s.x, 0);
  EXPECT_EQ(s.y, 0);
  EXPECT_EQ(s.width, (image.m_nWidth + 3) / 2 * 2);
  EXPECT_EQ(s.height, 18);  // 16 + 2, already even
  EXPECT_EQ(s.width % 2, 0);
  EXPECT_GE(s.width, image.m_nWidth + 2);
  for (int y = 0; y < s.height; ++y)
    for (int x = 0; x < s.width; ++x) {
      const bool inImage = x >= 1 && y >= 1 && x <= image.m_nWidth && y <= image.m_nHeight;
      uint32_t expected = 0;  // the cleared border: black, transparent
      if (inImage) std::memcpy(&expected, image.m_pBits + ((y - 1) * image.m_nWidth + (x - 1)) * 4, 4);
      ASSERT_EQ(AtlasPixel(x, y), expected) << x << "," << y;
    }
  EXPECT_EQ(AtlasPixel(s.width, 0), 0x00ABCDEFu);  // outside the region: untouched
  EXPECT_FALSE(Atlas().Locked());
}

TEST_F(EdgeFontMngTest, EveryStringLandsAtTheOriginAndEmptyTextIsFourWide) {
  for (const char16_t* text : {u"first", u"a much longer second string", u"", u"三"}) {
    ASSERT_EQ(mng.MakeText(kFace, text), 1);
    EXPECT_EQ(mng.m_slot[0].x, 0);
    EXPECT_EQ(mng.m_slot[0].y, 0);
  }
  ASSERT_EQ(mng.MakeText(kFace, u""), 1);
  EXPECT_EQ(mng.m_slot[0].width, 4);   // 0 + 2 (edge 1), then + 2 rounded to even
  EXPECT_EQ(mng.m_slot[0].height, 20);  // 18 + 2
}

TEST_F(EdgeFontMngTest, TextThatDoesNotFitLeavesSlotZeroUnused) {
  ASSERT_EQ(mng.MakeText(kFace, u"fits"), 1);
  const std::u16string wide(80, u'漢');  // 1280 pixels
  EXPECT_EQ(mng.MakeText(kFace, wide.c_str()), 0);
  EXPECT_EQ(mng.m_slot[0].used, 0);
  dev.ClearCalls();
  EXPECT_EQ(mng.DrawSlot(0, 0, 0, 1, 1, 1), 0);
  EXPECT_TRUE(dev.calls.empty());
  // no place when the rest of the atlas is taken
  Use(1, 0, 0, 1024, 512);
  EXPECT_EQ(mng.MakeText(kFace, u"x"), 0);
  EXPECT_EQ(mng.m_slot[0].used, 0);
}

TEST_F(EdgeFontMngTest, AFailedLockStillMarksTheRegion) {
  D3DLOCKED_RECT held;
  ASSERT_EQ(mng.m_pTexture->LockRect(0, &held, 0), D3D_OK);  // the next lock fails
  EXPECT_EQ(mng.FillRect(0, 0, 8, 8, 0), 0);
  EXPECT_EQ(mng.MakeText(kFace, u"abc"), 1);
  EXPECT_EQ(mng.m_slot[0].used, 1);
  EXPECT_EQ(AtlasPixel(2, 2), 0x00808080u);  // nothing copied
  mng.m_pTexture->UnlockRect(0);
}

TEST_F(EdgeFontMngTest, FindPlaceTriesRowsOfCandidatesAgainstWidenedRegions) {
  const struct {
    const char* name;
    std::vector<EdgeFontSlot> used;  // slots 1.. in order
    int w, h;
    int result, x, y;
  } cases[] = {
      {"no slot used: the origin, whatever the size", {}, 1024, 512, 1, 0, 0},
      {"a region at the origin pushes to the next column past it", {{1, 0, 0, 100, 20, 0}}, 30, 10, 1, 128, 0},
      {"the 2-pixel margin counts, bounds included", {{1, 0, 0, 62, 20, 0}}, 30, 10, 1, 128, 0},
      {"just past the margin", {{1, 0, 0, 61, 20, 0}}, 30, 10, 1, 64, 0},
      {"a region inside the candidate with no shared corner", {{1, 10, 10, 5, 5, 0}}, 40, 40, 1, 64, 0},
      {"a wide candidate goes to the next row", {{1, 0, 0, 10, 10, 0}}, 1000, 10, 1, 0, 32},
      {"the right and bottom edges are one pixel short", {{1, 900, 480, 10, 10, 0}}, 1024, 10, 0, 0, 0},
      {"a right edge at 1023 is in", {{1, 900, 480, 10, 10, 0}}, 1023, 10, 1, 0, 0},
      {"unused slots do not count", {{0, 0, 0, 1000, 500, 0}}, 20, 20, 1, 0, 0},
      {"nothing free", {{1, 0, 0, 1024, 512, 0}}, 2, 2, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::memset(mng.m_slot, 0, sizeof mng.m_slot);
    for (size_t k = 0; k < c.used.size(); ++k) mng.m_slot[k + 1] = c.used[k];
    EXPECT_EQ(mng.FindPlace(c.w, c.h), c.result);
    EXPECT_EQ(mng.m_slot[0].used, c.result);
    if (c.result) {
      EXPECT_EQ(mng.m_slot[0].x, c.x);
      EXPECT_EQ(mng.m_slot[0].y, c.y);
      EXPECT_EQ(mng.m_slot[0].width, c.w);
      EXPECT_EQ(mng.m_slot[0].height, c.h);
    }
  }
}

TEST_F(EdgeFontMngTest, FillRectIsClippedToTheAtlas) {
  EXPECT_EQ(mng.FillRect(1020, 508, 100, 100, 0x112233), 1);
  EXPECT_EQ(AtlasPixel(1023, 511), 0x00112233u);
  EXPECT_EQ(AtlasPixel(1019, 511), 0x00808080u);
  EXPECT_EQ(mng.FillRect(-5, -5, 6, 6, 0xFF445566), 1);  // alpha is always 0
  EXPECT_EQ(AtlasPixel(0, 0), 0x00445566u);
  EXPECT_EQ(AtlasPixel(1, 1), 0x00808080u);
  EXPECT_EQ(mng.FillRect(2000, 0, 10, 10, 0), 1);
  EXPECT_EQ(mng.FillRect(0, 0, -10, 10, 0), 1);
}

TEST_F(EdgeFontMngTest, DrawSlotIsOneStripOfFourScreenVertices) {
  for (int index : {32, -1, 1000, 5}) EXPECT_EQ(mng.DrawSlot(index, 0, 0, 1, 1, 1), 0) << index;
  Use(5, 128, 64, 40, 20);
  mng.m_dwVertexColor = 0x00FF8000;
  dev.ClearCalls();
  ASSERT_EQ(mng.DrawSlot(5, 10.0f, 20.0f, 0.5f, 2.0f, 1.0f), 1);
  ASSERT_EQ(dev.Texts(), (std::vector<std::string>{"SetTexture(0, texture)", "SetFVF(0x144)",
                                                   "DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, 28)"}));
  const std::vector<uint8_t>& bytes = dev.calls.back().vertices;
  ASSERT_EQ(bytes.size(), 4 * sizeof(SpriteVertex));
  SpriteVertex v[4];
  std::memcpy(v, bytes.data(), bytes.size());
  const struct {
    float x, y, u, v;
  } expected[] = {
      {9.5f, 19.5f, 128 / 1024.f, 64 / 512.f},
      {9.5f, 39.5f, 128 / 1024.f, 84 / 512.f},
      {89.5f, 19.5f, 168 / 1024.f, 64 / 512.f},
      {89.5f, 39.5f, 168 / 1024.f, 84 / 512.f},
  };
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_FLOAT_EQ(v[i].x, expected[i].x);
    EXPECT_FLOAT_EQ(v[i].y, expected[i].y);
    EXPECT_EQ(v[i].z, 0.0f);
    EXPECT_EQ(v[i].rhw, 1.0f);
    EXPECT_EQ(v[i].diffuse, 0x7FFF8000u);  // 0.5 x 255 truncates to 127
    EXPECT_FLOAT_EQ(v[i].u, expected[i].u);
    EXPECT_FLOAT_EQ(v[i].v, expected[i].v);
  }
  // opacities outside 0..1 are held to it
  const struct {
    float opacity;
    uint32_t alpha;
  } opacities[] = {{1.0f, 0xFF}, {0.0f, 0}, {2.5f, 0xFF}, {-1.0f, 0}, {std::nanf(""), 0}};
  for (const auto& o : opacities) {
    dev.ClearCalls();
    ASSERT_EQ(mng.DrawSlot(5, 0, 0, o.opacity, 1, 1), 1);
    std::memcpy(v, dev.calls.back().vertices.data(), sizeof v);
    EXPECT_EQ(v[0].diffuse >> 24, o.alpha) << o.opacity;
  }
}

// The sprite on the real device: text pixels at the top-left corner, the
// rest of the screen untouched.
TEST(EdgeFontMngGl, JapaneseLabelShowsInTheCorner) {
  IDirect3D9* d3d = qev::CreateGlDirect3D(qev::GlSurface::kOffscreen);
  D3DPRESENT_PARAMETERS pp{};
  pp.BackBufferWidth = 160;
  pp.BackBufferHeight = 64;
  IDirect3DDevice9* dev = nullptr;
  ASSERT_EQ(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, nullptr, 0, &pp, &dev), D3D_OK);
  // the frame's per-frame states: blending, point sampling, texture x diffuse
  dev->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
  dev->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
  dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
  dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  dev->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
  dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
  dev->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
  dev->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
  dev->Clear(D3DCLEAR_TARGET, 0xFF0000FF, 1.0f, 0);  // blue
  ASSERT_EQ(dev->BeginScene(), D3D_OK);
  {
    CDDEdgeFontMng mng;
    ASSERT_EQ(mng.Init(dev), 1);
    mng.m_dwEdgeColor = 0xFF000000;
    mng.m_nEdgeWidth = 0;
    ASSERT_EQ(mng.MakeText(kFace, u"剛体"), 1);
    ASSERT_EQ(mng.DrawSlot(0, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f), 1);
    CEdgeFont32 image;
    ASSERT_EQ(image.Make(u"剛体", kFace, 0xFF000000, 0), 1);

    std::vector<D3DCOLOR> pixels;
    unsigned w = 0, h = 0;
    ASSERT_EQ(dev->ReadBackBuffer(&pixels, &w, &h), D3D_OK);
    int changed = 0;
    for (unsigned y = 0; y < h; ++y)
      for (unsigned x = 0; x < w; ++x) {
        const D3DCOLOR p = pixels[y * w + x];
        // screen pixel (x, y) shows atlas pixel (x, y): the image one pixel in
        const bool inImage = x >= 1 && y >= 1 && int(x) <= image.m_nWidth && int(y) <= image.m_nHeight;
        const int alpha = inImage ? image.m_pBits[((y - 1) * image.m_nWidth + (x - 1)) * 4 + 3] : 0;
        const int grey = inImage ? image.m_pBits[((y - 1) * image.m_nWidth + (x - 1)) * 4] : 0;
        // grey over blue by the label's alpha
        const double a = alpha / 255.0;
        ASSERT_NEAR(int((p >> 16) & 0xFF), grey * a, 2) << x << "," << y;
        ASSERT_NEAR(int(p & 0xFF), grey * a + 255 * (1 - a), 2) << x << "," << y;
        changed += p != 0xFF0000FFu;
      }
    EXPECT_GT(changed, 50);
  }
  dev->EndScene();
  dev->Release();
  d3d->Release();
}

}  // namespace
