// The shaded drawing of a scene on the recording device: what each material's
// look becomes (colours, texture, sphere map and mode, own or built-in toon
// ramp, outline and its vertex scales), the order of opaque, outline and
// semi-transparent draws with their cull and depth states, the light of a
// playing motion, and the frame's choice between shaded and unlit drawing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/draw_frame.h"
#include "app/scene.h"
#include "platform/codepage.h"
#include "platform/recording_device.h"
#include "render/d3d_camera.h"
#include "render/d3d_line90.h"
#include "render/d3d_locater.h"
#include "render/dd_pro90.h"
#include "render/toon_ramp.h"
#include "tests/common/temp_dir.h"
#include "tools/fixtures/picture_fixtures.h"
#include "tools/fixtures/pmd_fixture.h"
#include "tools/fixtures/vmd_fixture.h"

namespace {

using namespace qev::fixture;
using qev::fixtures::BitmapFile;
using qev::fixtures::DibRows;

std::string Plain(uint32_t argb) {
  return BitmapFile(4, 4, 24, DibRows(4, 4, 24, [argb](int, int) { return argb; }));
}

// Four materials of one triangle each on one bone:
// 0 opaque, outlined, "t.bmp*s.sph", toon 0 (its file beside the model);
// 1 half transparent, "glow.spa" alone, toon 1 (its file missing);
// 2 opaque, no texture, toon 255 (none), no outline;
// 3 opaque, outlined, "T.BMP" (found ignoring case), toon 0.
// Vertex 1 carries the edge flag that keeps the outline off it.
PmdDesc FourLooks() {
  PmdDesc d;
  PmdBoneDesc bone;
  bone.name = qev::Sjis("センター");
  d.bones = {bone};
  for (int i = 0; i < 12; ++i) {
    PmdVertexDesc v;
    v.pos[0] = float(i % 3);
    v.pos[1] = float(i / 3);
    v.normal[0] = 0;
    v.normal[1] = 0;
    v.normal[2] = -1;
    v.edge = i == 1 ? 1 : 0;
    d.vertices.push_back(v);
    d.indices.push_back(uint16_t(i));
  }
  struct Row {
    float a;
    const char* texture;
    uint8_t toon, edge;
  };
  const Row rows[] = {{1.0f, "t.bmp*s.sph", 0, 1}, {0.5f, "glow.spa", 1, 0}, {1.0f, "", 255, 0}, {1.0f, "T.BMP", 0, 1}};
  for (int m = 0; m < 4; ++m) {
    PmdMaterialDesc mat;
    mat.diffuse[0] = 0.1f * float(m + 1);
    mat.diffuse[1] = 0.5f;
    mat.diffuse[2] = 0.25f;
    mat.diffuse[3] = rows[m].a;
    mat.ambient[0] = mat.ambient[1] = mat.ambient[2] = 0.2f;
    mat.specular[0] = 0.3f;
    mat.specularPower = 7.0f + float(m);
    mat.indexCount = 3;
    mat.texture = rows[m].texture;
    mat.toon = rows[m].toon;
    mat.edge = rows[m].edge;
    d.materials.push_back(mat);
  }
  d.extent = PmdExtent::kToon;
  d.toon[0] = "mytoon.bmp";
  d.toon[1] = "missing.bmp";
  return d;
}

struct ShadedRig {
  qev::test::TempDir dir;
  qev::RecordingDevice device;
  CScene scene;
  std::string failure;
  ShadedRig() {
    dir.WriteFile("t.bmp", Plain(0xFF102030u));
    dir.WriteFile("s.sph", Plain(0xFF405060u));
    dir.WriteFile("glow.spa", Plain(0xFF708090u));
    dir.WriteFile("mytoon.bmp", Plain(0xFFA0B0C0u));
    dir.WriteFile("m.pmd", BuildPmd(FourLooks()));
  }
  void Draw() {
    device.ClearCalls();
    device.BeginScene();
    scene.DrawShadedModel(&device);
    device.EndScene();
  }
};

// The colour of a recorded texture's first pixel (ARGB).
uint32_t FirstPixel(IDirect3DTexture9* texture) {
  auto* t = dynamic_cast<qev::RecordingTexture*>(texture);
  if (!t || t->Bits().size() < 4) return 0;
  const uint8_t* p = t->Bits().data();
  return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

TEST(DrawShaded, LooksOrderStatesAndParameters) {
  ShadedRig rig;
  qev::test::LogCapture log;
  ASSERT_EQ(rig.scene.LoadModel(rig.dir.Path("m.pmd").c_str(), &rig.device, &rig.failure), 1) << rig.failure;
  // the missing toon file is told once, with the ramp that stands in
  EXPECT_TRUE(log.Contains("toon file not found : ")) << log.Text();
  EXPECT_TRUE(log.Contains("missing.bmp, built-in ramp 2 used")) << log.Text();
  rig.Draw();

  std::vector<std::string> seen;
  std::vector<const qev::RecordedCall*> draws;
  for (const qev::RecordedCall& c : rig.device.calls) {
    if (c.text.rfind("SetRenderState", 0) == 0 || c.text.rfind("DrawShadedUP", 0) == 0) seen.push_back(c.text);
    if (c.text.rfind("DrawShadedUP", 0) == 0) draws.push_back(&c);
  }
  const std::vector<std::string> expected = {
      // opaque materials in model order, an outline after each that has one
      "SetRenderState(D3DRS_CULLMODE, 2)", "DrawShadedUP(material, 1, 36)",
      "SetRenderState(D3DRS_CULLMODE, 3)", "DrawShadedUP(outline, 1, 36)",
      "SetRenderState(D3DRS_CULLMODE, 2)", "DrawShadedUP(material, 1, 36)",
      "SetRenderState(D3DRS_CULLMODE, 2)", "DrawShadedUP(material, 1, 36)",
      "SetRenderState(D3DRS_CULLMODE, 3)", "DrawShadedUP(outline, 1, 36)",
      // then the semi-transparent one, both faces, depth writes off meanwhile
      "SetRenderState(D3DRS_ZWRITEENABLE, 0)",
      "SetRenderState(D3DRS_CULLMODE, 1)", "DrawShadedUP(material, 1, 36)",
      "SetRenderState(D3DRS_ZWRITEENABLE, 1)", "SetRenderState(D3DRS_CULLMODE, 1)"};
  EXPECT_EQ(seen, expected);
  ASSERT_EQ(draws.size(), 6u);
  const ShadedMaterialDraw& m0 = draws[0]->shaded;
  const ShadedMaterialDraw& o0 = draws[1]->shaded;
  const ShadedMaterialDraw& m2 = draws[2]->shaded;
  const ShadedMaterialDraw& m3 = draws[3]->shaded;
  const ShadedMaterialDraw& m1 = draws[5]->shaded;

  // colours as the records give them, alpha included
  EXPECT_FLOAT_EQ(m0.diffuse[0], 0.1f);
  EXPECT_FLOAT_EQ(m0.diffuse[1], 0.5f);
  EXPECT_FLOAT_EQ(m0.diffuse[2], 0.25f);
  EXPECT_FLOAT_EQ(m1.diffuse[3], 0.5f);
  EXPECT_FLOAT_EQ(m0.ambient[2], 0.2f);
  EXPECT_FLOAT_EQ(m0.specular[0], 0.3f);
  EXPECT_FLOAT_EQ(m0.power, 7.0f);
  EXPECT_FLOAT_EQ(m2.power, 9.0f);
  // texture, sphere map and its mode
  EXPECT_EQ(FirstPixel(m0.texture), 0xFF102030u);
  EXPECT_EQ(FirstPixel(m0.sphere), 0xFF405060u);
  EXPECT_EQ(m0.sphereMode, 1u);
  EXPECT_EQ(m1.texture, nullptr);  // a sphere map alone is no texture
  EXPECT_EQ(FirstPixel(m1.sphere), 0xFF708090u);
  EXPECT_EQ(m1.sphereMode, 2u);
  EXPECT_EQ(m2.texture, nullptr);
  EXPECT_EQ(m2.sphere, nullptr);
  EXPECT_EQ(m2.sphereMode, 0u);
  EXPECT_EQ(FirstPixel(m3.texture), 0xFF102030u);
  // toon ramps: the model's own file (shared by two materials, loaded once),
  // the built-in ramp for the missing one, none for index 255
  EXPECT_EQ(FirstPixel(m0.toon), 0xFFA0B0C0u);
  EXPECT_EQ(m3.toon, m0.toon);
  ASSERT_NE(rig.scene.m_builtInToons, nullptr);
  EXPECT_EQ(m1.toon, rig.scene.m_builtInToons[1].m_pTexture);
  EXPECT_EQ(FirstPixel(m1.toon), ToonRampColour(1, 0));
  EXPECT_EQ(m2.toon, nullptr);
  // the default light while no motion plays
  EXPECT_FLOAT_EQ(m0.lightDirection[0], -0.5f);
  EXPECT_FLOAT_EQ(m0.lightDirection[1], -1.0f);
  EXPECT_FLOAT_EQ(m0.lightDirection[2], -0.5f);
  EXPECT_FLOAT_EQ(m2.lightColour[1], 154.0f / 255.0f);
  // the outline: black, 2 pixels, off on the flagged vertex
  EXPECT_EQ(o0.pass, ShadedMaterialDraw::kOutline);
  EXPECT_FLOAT_EQ(o0.edgeColour[0], 0.0f);
  EXPECT_FLOAT_EQ(o0.edgeColour[3], 1.0f);
  EXPECT_FLOAT_EQ(o0.edgeSize, 2.0f);
  // (the mirror swapped each triangle's first two corners: vertex 1 comes first)
  EXPECT_EQ(draws[1]->edgeScales, (std::vector<float>{0, 1, 1}));
  EXPECT_EQ(draws[4]->edgeScales, (std::vector<float>{1, 1, 1}));
  EXPECT_TRUE(draws[0]->edgeScales.empty());
  // the vertices carry the posed normals (the bind pose: as in the file, z mirrored)
  ASSERT_EQ(draws[0]->vertices.size(), 3 * sizeof(SkinnedVertex));
  const auto* v = reinterpret_cast<const SkinnedVertex*>(draws[0]->vertices.data());
  EXPECT_FLOAT_EQ(v[0].normal[2], 1.0f);
}

TEST(DrawShaded, PlayingMotionsLightKeysLightTheModel) {
  ShadedRig rig;
  ASSERT_EQ(rig.scene.LoadModel(rig.dir.Path("m.pmd").c_str(), &rig.device, &rig.failure), 1) << rig.failure;
  VmdDesc d;
  d.extent = VmdExtent::kLight;
  VmdBoneKeyDesc still;  // a bone key so the motion has length
  still.name = qev::Sjis("センター");
  still.frame = 30;
  d.bones = {still};
  VmdLightKeyDesc key;
  key.colour[0] = 1.0f;
  key.colour[1] = 0.0f;
  key.colour[2] = 0.2f;
  key.dir[0] = 0.25f;
  key.dir[1] = -1.0f;
  key.dir[2] = 0.75f;
  d.lights = {key};
  const std::string bytes = BuildVmd(d);
  auto motion = std::make_unique<CVmdFile>();
  ASSERT_EQ(motion->LoadFromMemory(bytes.data(), bytes.size()), 1);
  ASSERT_EQ(rig.scene.PlayMotion(std::move(motion), &rig.failure), 1) << rig.failure;
  rig.Draw();
  const auto draws = rig.device.Find("DrawShadedUP(material");
  ASSERT_FALSE(draws.empty());
  const ShadedMaterialDraw& s = draws[0]->shaded;
  EXPECT_FLOAT_EQ(s.lightDirection[0], 0.25f);
  EXPECT_FLOAT_EQ(s.lightDirection[2], -0.75f);  // mirrored like the model
  EXPECT_NEAR(s.lightColour[0], 1.0f, 1e-6f);
  EXPECT_NEAR(s.lightColour[2], 51.0f / 255.0f, 1e-6f);
}

TEST(DrawShaded, FrameDrawsShadedOnlyWhenSolidAndMultisamplesOnlyThen) {
  struct Case {
    int drawType, shaded;
    const char* drawn;  // "shaded", "unlit" or ""
    bool multisample;
  };
  const Case cases[] = {
      {2, 1, "shaded", true}, {2, 0, "unlit", false}, {1, 1, "unlit", false}, {0, 1, "", false}};
  CDDPro90 deviceFrame;
  ASSERT_EQ(deviceFrame.Init(nullptr, DeviceBackend::kRecording), 1);
  auto* device = dynamic_cast<qev::RecordingDevice*>(deviceFrame.m_pDevice);
  ASSERT_NE(device, nullptr);
  CD3DCamera camera;
  CD3DLine90 grid;
  CD3DLocater locator;
  bool was = false;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.drawType * 10 + c.shaded);
    std::string drawn;
    FrameDrawing frame;
    frame.device = device;
    frame.camera = &camera;
    frame.grid = &grid;
    frame.ikGoalLocator = &locator;
    frame.DrawType = c.drawType;
    frame.Shaded = c.shaded;
    frame.drawModel = [&] { drawn = "unlit"; };
    frame.drawShadedModel = [&] { drawn = "shaded"; };
    for (int twice = 0; twice < 2; ++twice) {
      device->ClearCalls();
      DrawWholeFrame(&deviceFrame, frame);
      // the switch is sent on a change only, before the frame is cleared
      const auto sent = device->Find("SetRenderState(D3DRS_MULTISAMPLEANTIALIAS");
      const bool change = twice == 0 && c.multisample != was;
      ASSERT_EQ(sent.size(), change ? 1u : 0u);
      if (change) {
        EXPECT_EQ(sent[0]->text, c.multisample ? "SetRenderState(D3DRS_MULTISAMPLEANTIALIAS, 1)"
                                               : "SetRenderState(D3DRS_MULTISAMPLEANTIALIAS, 0)");
        EXPECT_EQ(device->calls.front().text, sent[0]->text);
      }
    }
    was = c.multisample;
    EXPECT_EQ(drawn, c.drawn);
  }
}

TEST(DrawShaded, DeviceRefusesDrawsItCannotShade) {
  qev::RecordingDevice device;
  ShadedMaterialDraw draw;
  const SkinnedVertex v[3] = {};
  device.SetFVF(kSkinnedVertexFvf);
  EXPECT_EQ(device.DrawShadedUP(draw, 1, v, sizeof(SkinnedVertex)), D3DERR_INVALIDCALL);  // outside a scene
  device.BeginScene();
  EXPECT_EQ(device.DrawShadedUP(draw, 1, v, sizeof(SkinnedVertex)), D3D_OK);
  EXPECT_EQ(device.DrawShadedUP(draw, 0, v, sizeof(SkinnedVertex)), D3DERR_INVALIDCALL);
  EXPECT_EQ(device.DrawShadedUP(draw, 1, nullptr, sizeof(SkinnedVertex)), D3DERR_INVALIDCALL);
  EXPECT_EQ(device.DrawShadedUP(draw, 1, v, 8), D3DERR_INVALIDCALL);
  device.SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE);  // no normal, no uv
  EXPECT_EQ(device.DrawShadedUP(draw, 1, v, sizeof(SkinnedVertex)), D3DERR_INVALIDCALL);
}

}  // namespace
