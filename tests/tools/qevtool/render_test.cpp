// `qevtool render`, run as a user runs it: the colours of fixture models land
// where the start-up camera puts them, in solid and in wireframe, a turned
// bone moves them, and failures and bad usage are told apart.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "app/start_up_view.h"
#include "app/timeline.h"
#include "platform/picture_decoder.h"
#include "render/d3d_camera.h"
#include "render/edge_font32.h"
#include "tests/common/temp_dir.h"
#include "tests/tools/qevtool/posed_models.h"
#include "tools/fixtures/sample_character.h"

namespace {

using qev::test::TempDir;

qev::test::CommandRun Qevtool(const TempDir& dir, const std::string& args) {
  return qev::test::RunIn(dir, "'" QEV_BINARY_DIR "/qevtool' " + args);
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

constexpr uint32_t kBackground = 0x202020;

// A rendered picture and the camera that drew it.
struct Picture {
  qev::DecodedPicture image;
  CD3DCamera camera;

  bool Load(const TempDir& dir, const std::string& name) {
    const std::string bytes = dir.ReadFile(name);
    if (!qev::DecodePicture(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                            qev::PictureFormats::kTextureFiles, image))
      return false;
    SetStartUpCamera(&camera, nullptr, float(image.width) / float(image.height));
    return true;
  }
  // 0xRRGGBB at a pixel; 0xFFFFFFFF outside the picture.
  uint32_t At(int x, int y) const {
    if (x < 0 || y < 0 || x >= image.width || y >= image.height) return 0xFFFFFFFFu;
    const uint8_t* p = &image.pixels[(size_t(y) * size_t(image.width) + size_t(x)) * 4];
    return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
  }
  // Where the camera puts a point of the viewer's space.
  void Project(float x, float y, float z, int* px, int* py) const {
    D3DXMATRIX viewProjection;
    D3DXMatrixMultiply(&viewProjection, &camera.m_mView, &camera.m_mProjection);
    const D3DXVECTOR3 p(x, y, z);
    D3DXVECTOR4 clip;
    D3DXVec3Transform(&clip, &p, &viewProjection);
    *px = int((clip.x / clip.w + 1) * 0.5f * float(image.width));
    *py = int((1 - clip.y / clip.w) * 0.5f * float(image.height));
  }
  uint32_t AtPoint(float x, float y, float z) const {
    int px, py;
    Project(x, y, z, &px, &py);
    return At(px, py);
  }
  // Whether the colour is found within `radius` pixels of the point: lines
  // are one pixel wide and their rasterisation may fall beside the exact
  // projection.
  bool Near(float x, float y, float z, uint32_t colour, int radius = 2) const {
    int px, py;
    Project(x, y, z, &px, &py);
    for (int dy = -radius; dy <= radius; ++dy)
      for (int dx = -radius; dx <= radius; ++dx)
        if (At(px + dx, py + dy) == colour) return true;
    return false;
  }
};

std::string Hex(uint32_t c) {
  char text[16];
  std::snprintf(text, sizeof text, "#%06X", c);
  return text;
}

TEST(QevtoolRender, TexturedQuadShowsItsQuartersWhereTheCameraPutsThem) {
  TempDir dir;
  dir.WriteFile("quad.pmd", qev::fixture::BuildPmd(qev::test::TexturedQuad()));
  dir.WriteFile("quad.bmp", qev::test::QuadTexture());
  ASSERT_EQ(Qevtool(dir, "render quad.pmd --solid --unlit -o solid.png").status, 0);
  ASSERT_EQ(Qevtool(dir, "render quad.pmd -o wire.png").status, 0);
  Picture solid, wire;
  ASSERT_TRUE(solid.Load(dir, "solid.png"));
  ASSERT_TRUE(wire.Load(dir, "wire.png"));
  EXPECT_EQ(solid.image.width, 1280);
  EXPECT_EQ(solid.image.height, 800);
  // Each quarter: a point inside it, away from every edge and from the
  // diagonal (-4, 14)-(4, 6) the two triangles share; points on the edges
  // that lie in it (only edges at u = 0 or v = 0 and the diagonal: at u or
  // v = 1 the texture wraps onto its first texel).
  struct Quarter {
    uint32_t colour;
    float inside[2];
    std::vector<std::pair<float, float>> edges;
  };
  const Quarter quarters[] = {
      {0xFF0000, {-3, 11}, {{-2, 14}, {-4, 12}, {-2, 12}}},
      {0x00FF00, {2, 12}, {{2, 14}}},
      {0x0000FF, {-2, 8}, {{-4, 8}}},
      {0xFFFF00, {1, 7}, {{2, 8}}},
  };
  for (const Quarter& q : quarters) {
    SCOPED_TRACE(Hex(q.colour));
    EXPECT_EQ(solid.AtPoint(q.inside[0], q.inside[1], 0), q.colour);
    EXPECT_NE(wire.AtPoint(q.inside[0], q.inside[1], 0), q.colour) << "wireframe leaves the inside empty";
    for (const auto& [x, y] : q.edges) {
      EXPECT_EQ(solid.AtPoint(x * 0.98f, 10 + (y - 10) * 0.98f, 0), q.colour);
      EXPECT_TRUE(wire.Near(x, y, 0, q.colour)) << "edge point " << x << ", " << y;
    }
  }
  // Outside the quad only the background and the grid.
  EXPECT_EQ(solid.AtPoint(-6, 16, 0), kBackground);
  EXPECT_EQ(solid.At(5, 5), kBackground);
}

TEST(QevtoolRender, TurnedBoneMovesItsBox) {
  TempDir dir;
  dir.WriteFile("box.pmd", qev::fixture::BuildPmd(qev::test::TwoBoneBox()));
  dir.WriteFile("quarter.vpd", qev::fixture::BuildVpd(qev::test::TurnUpper(1.5707964f)));
  dir.WriteFile("turn.vmd", qev::fixture::BuildVmd(qev::test::TurnUpperMotion()));
  const uint32_t red = 0xFF0000, green = 0x00FF00;
  struct Case {
    std::string args;
    bool turned;
  };
  const Case cases[] = {
      {"", false},
      {"--pose quarter.vpd", true},
      {"--motion turn.vmd", false},
      {"--motion turn.vmd --frame 10", true},
      {"--motion turn.vmd --frame 20", false},  // the highest frame wraps to 0
      {"--motion turn.vmd --frame 35", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const auto run = Qevtool(dir, "render box.pmd --solid --unlit " + c.args + " -o out.png");
    ASSERT_EQ(run.status, 0) << run.err;
    Picture p;
    ASSERT_TRUE(p.Load(dir, "out.png"));
    EXPECT_EQ(p.AtPoint(0, 4.5f, 0), red) << "the lower box stays";
    if (c.turned) {
      EXPECT_EQ(p.AtPoint(-3.5f, 7, 0), green) << "the upper box lies along -x";
      EXPECT_NE(p.AtPoint(0, 10.5f, 0), green);
    } else {
      EXPECT_EQ(p.AtPoint(0, 10.5f, 0), green) << "the upper box stands";
      EXPECT_NE(p.AtPoint(-3.5f, 7, 0), green);
    }
  }
}

TEST(QevtoolRender, WireframeDrawsTheBoxEdgesOnly) {
  TempDir dir;
  dir.WriteFile("box.pmd", qev::fixture::BuildPmd(qev::test::TwoBoneBox()));
  ASSERT_EQ(Qevtool(dir, "render box.pmd --wire -o wire.png").status, 0);
  Picture p;
  ASSERT_TRUE(p.Load(dir, "wire.png"));
  // A vertical edge at the front right (x 1, z 1 in the viewer's space) of
  // each box, and the middle of the front face, which no edge crosses away
  // from its diagonal.
  EXPECT_TRUE(p.Near(1, 4.5f, 1, 0xFF0000));
  EXPECT_TRUE(p.Near(1, 9.5f, 1, 0x00FF00));
  EXPECT_NE(p.AtPoint(-0.5f, 3.5f, 1), 0xFF0000u);
}

TEST(QevtoolRender, RigidShowsTheBodiesWireEdges) {
  // A box body of half size (1, 1.5, 1) following the lower bone, three
  // units up and six to the right of its head: x 5..7, y 3.5..6.5, z -1..1,
  // away from the mesh. A body that follows its bone is drawn red.
  qev::fixture::PmdDesc d = qev::test::TwoBoneBox();
  d.extent = qev::fixture::PmdExtent::kPhysics;
  qev::fixture::PmdRigidBodyDesc body;
  body.name = "box";
  body.bone = 0;
  body.shape = 1;
  body.size[0] = 1;
  body.size[1] = 1.5f;
  body.size[2] = 1;
  body.pos[0] = 6;
  body.pos[1] = 3;
  body.mode = 0;
  d.rigidBodies = {body};
  TempDir dir;
  dir.WriteFile("body.pmd", qev::fixture::BuildPmd(d));
  for (bool rigid : {false, true}) {
    SCOPED_TRACE(rigid);
    const auto run = Qevtool(dir, std::string("render body.pmd") + (rigid ? " --rigid" : "") + " -o out.png");
    ASSERT_EQ(run.status, 0) << run.err;
    Picture p;
    ASSERT_TRUE(p.Load(dir, "out.png"));
    // the middles of the four vertical edges and of two horizontal ones
    const float edges[][3] = {{5, 5, -1}, {7, 5, -1}, {5, 5, 1}, {7, 5, 1}, {6, 6.5f, 1}, {6, 3.5f, 1}};
    for (const auto& e : edges) EXPECT_EQ(p.Near(e[0], e[1], e[2], 0xFF0000), rigid) << e[0] << " " << e[1] << " " << e[2];
    // inside a face, away from every edge: nothing
    EXPECT_EQ(p.AtPoint(6, 4.5f, 1), kBackground);
  }
}

TEST(QevtoolRender, BoneMarkersRunFromHeadToTailWhenAskedFor) {
  TempDir dir;
  dir.WriteFile("box.pmd", qev::fixture::BuildPmd(qev::test::TwoBoneBox()));
  dir.WriteFile("quarter.vpd", qev::fixture::BuildVpd(qev::test::TurnUpper(1.5707964f)));
  ASSERT_EQ(Qevtool(dir, "render box.pmd --bones -o bones.png").status, 0);
  ASSERT_EQ(Qevtool(dir, "render box.pmd -o plain.png").status, 0);
  ASSERT_EQ(Qevtool(dir, "render box.pmd --bones --pose quarter.vpd -o turned.png").status, 0);
  Picture bones, plain, turned;
  ASSERT_TRUE(bones.Load(dir, "bones.png"));
  ASSERT_TRUE(plain.Load(dir, "plain.png"));
  ASSERT_TRUE(turned.Load(dir, "turned.png"));
  // The arrows' white sides close in on the tail: near (0, 6.5) for the
  // lower bone (2 -> 7), near (0, 11.5) for the upper one (7 -> 12), or,
  // turned a quarter, near (-4.5, 7). The tip bone has no tail: no arrow.
  const uint32_t white = 0xFFFFFF;
  EXPECT_TRUE(bones.Near(0, 6.5f, 0, white));
  EXPECT_TRUE(bones.Near(0, 11.5f, 0, white));
  EXPECT_FALSE(bones.Near(0, 13.5f, 0, white, 4));
  EXPECT_FALSE(plain.Near(0, 6.5f, 0, white, 4));
  EXPECT_FALSE(plain.Near(0, 11.5f, 0, white, 4));
  EXPECT_TRUE(turned.Near(-4.5f, 7, 0, white));
  EXPECT_FALSE(turned.Near(0, 11.5f, 0, white, 4));
}

TEST(QevtoolRender, SizeKeepsTheViewAndIkGoalsShowUnlessSwitchedOff) {
  TempDir dir;
  std::string error;
  ASSERT_EQ(qev::fixture::WriteSampleCharacter(dir.Path(), &error), 1) << error;
  ASSERT_EQ(Qevtool(dir, "render sample.pmd --size 320x200 --solid --unlit -o small.png").status, 0);
  ASSERT_EQ(Qevtool(dir, "render sample.pmd --size 320x200 --solid --unlit --no-ik -o noik.png").status, 0);
  Picture small, noIk;
  ASSERT_TRUE(small.Load(dir, "small.png"));
  ASSERT_TRUE(noIk.Load(dir, "noik.png"));
  EXPECT_EQ(small.image.width, 320);
  EXPECT_EQ(small.image.height, 200);
  // The shirt's middle and the floor far in front of the figure.
  const uint32_t shirt = small.AtPoint(0, 12.5f, 0);
  EXPECT_NE(shirt, kBackground);
  EXPECT_EQ(small.AtPoint(0, 12.5f, 0), noIk.AtPoint(0, 12.5f, 0));
  // The IK goal markers stand at the feet (magenta squares of size 5): some
  // magenta with IK on, none without.
  auto magenta = [](const Picture& p) {
    int n = 0;
    for (int y = 0; y < p.image.height; ++y)
      for (int x = 0; x < p.image.width; ++x) n += p.At(x, y) == 0xFF00FF;
    return n;
  };
  EXPECT_GT(magenta(small), 0);
  EXPECT_EQ(magenta(noIk), 0);
}

TEST(QevtoolRender, SampleFaceCarriesItsTextureTimesTheSkin) {
  TempDir dir;
  std::string error;
  ASSERT_EQ(qev::fixture::WriteSampleCharacter(dir.Path(), &error), 1) << error;
  ASSERT_EQ(Qevtool(dir, "render sample.pmd --solid --unlit -o face.png").status, 0);
  Picture p;
  ASSERT_TRUE(p.Load(dir, "face.png"));
  // The head's front is at the viewer's z = 1.2; the texture's face covers
  // it from y = 15.8 to 18.6. The skin's diffuse (1.0, 0.84, 0.72) is 255,
  // 214, 183, which the texels are multiplied by.
  struct Spot {
    const char* what;
    float y;
    int r, g, b;
  };
  const Spot spots[] = {
      {"forehead (texel F4F4F4)", 18.2f, 244, 205, 175},
      {"mouth (texel B03A46)", 16.54f, 176, 49, 50},
  };
  for (const Spot& s : spots) {
    SCOPED_TRACE(s.what);
    const uint32_t c = p.AtPoint(0, s.y, 1.21f);
    EXPECT_NEAR(int(c >> 16), s.r, 3) << Hex(c);
    EXPECT_NEAR(int(c >> 8 & 0xFF), s.g, 3) << Hex(c);
    EXPECT_NEAR(int(c & 0xFF), s.b, 3) << Hex(c);
  }
}

// The sample's expressions as `render` draws them, each held by a motion of
// one morph key (no bone moves): the blink lowers the top of the eye boxes
// from y = 17.55 to 17.1, so the middle of the right eye shows the face
// behind it; the open mouth drops the head's lower front edge from 15.8 to
// 15.2, which stretches the face picture: the mouth (texture rows 23 and 24
// of 32) moves from about y = 16.5 down to about 16.05.
TEST(QevtoolRender, SampleExpressionsChangeTheDrawnFace) {
  TempDir dir;
  std::string error;
  ASSERT_EQ(qev::fixture::WriteSampleCharacter(dir.Path(), &error), 1) << error;
  for (const char* morph : {"まばたき", "あ"}) {
    qev::fixture::VmdDesc d;
    d.extent = qev::fixture::VmdExtent::kMorphs;
    d.morphs = {{qev::Sjis(morph), 0, 1.0f}};
    dir.WriteFile(std::string(morph) + ".vmd", qev::fixture::BuildVmd(d));
  }
  ASSERT_EQ(Qevtool(dir, "render sample.pmd --solid --unlit -o still.png").status, 0);
  ASSERT_EQ(Qevtool(dir, "render sample.pmd --motion まばたき.vmd --solid --unlit -o blink.png").status, 0);
  ASSERT_EQ(Qevtool(dir, "render sample.pmd --motion あ.vmd --solid --unlit -o open.png").status, 0);
  Picture still, blink, open;
  ASSERT_TRUE(still.Load(dir, "still.png"));
  ASSERT_TRUE(blink.Load(dir, "blink.png"));
  ASSERT_TRUE(open.Load(dir, "open.png"));
  const uint32_t eyeBlack = 0x141419, skin = 0xF4CDAF, mouth = 0xB03132;
  auto near = [](uint32_t c, uint32_t want) {
    for (int shift : {16, 8, 0})
      if (std::abs(int(c >> shift & 0xFF) - int(want >> shift & 0xFF)) > 3) return false;
    return true;
  };
  struct Spot {
    const char* what;
    const Picture& picture;
    float x, y, z;
    uint32_t colour;
  };
  const Spot spots[] = {
      {"right eye, open", still, -0.5f, 17.3f, 1.31f, eyeBlack},
      {"right eye, blinking: the face behind", blink, -0.5f, 17.3f, 1.31f, skin},
      {"blinking, the lid's line still black", blink, -0.5f, 17.07f, 1.31f, eyeBlack},
      {"mouth closed", still, 0, 16.54f, 1.21f, mouth},
      {"mouth open: skin where it was", open, 0, 16.54f, 1.21f, skin},
      {"mouth open: the mouth lower", open, 0, 16.05f, 1.21f, mouth},
      {"the blink leaves the mouth", blink, 0, 16.54f, 1.21f, mouth},
      {"the open mouth leaves the eyes", open, -0.5f, 17.3f, 1.31f, eyeBlack},
  };
  for (const Spot& s : spots) {
    SCOPED_TRACE(s.what);
    const uint32_t c = s.picture.AtPoint(s.x, s.y, s.z);
    EXPECT_TRUE(near(c, s.colour)) << Hex(c);
  }
}

TEST(QevtoolRender, ModelWithoutMaterialsOrBonesLeavesTheGridAlone) {
  TempDir dir;
  qev::fixture::PmdDesc empty;
  empty.extent = qev::fixture::PmdExtent::kBody;
  dir.WriteFile("empty.pmd", qev::fixture::BuildPmd(empty));
  qev::fixture::PmdDesc bare = qev::test::TwoBoneBox();
  bare.materials.clear();  // vertices, faces and bones, but nothing draws them
  dir.WriteFile("bare.pmd", qev::fixture::BuildPmd(bare));
  for (const char* model : {"empty.pmd", "bare.pmd"}) {
    SCOPED_TRACE(model);
    const auto run = Qevtool(dir, std::string("render ") + model + " --solid --unlit -o out.png");
    ASSERT_EQ(run.status, 0) << run.err;
    Picture p;
    ASSERT_TRUE(p.Load(dir, "out.png"));
    int other = 0;
    for (int y = 0; y < p.image.height; ++y)
      for (int x = 0; x < p.image.width; ++x) {
        const uint32_t c = p.At(x, y);
        other += c != kBackground && c != 0x808080 && c != 0xFF0000 && c != 0x0000FF && c != 0x00FF00;
      }
    EXPECT_EQ(other, 0);
    EXPECT_EQ(p.AtPoint(0, 4.5f, 0), kBackground);
  }
}

// --hud: the player's timeline over the picture's bottom, as the viewer
// shows it playing at 1x. Above it the picture is untouched; in it, the
// counter's text lies where the glyph fonts put it, and the bar is played up
// to the frame's place.
TEST(QevtoolRender, HudShowsTheCounterAndTheBarAlongTheBottom) {
  TempDir dir;
  std::string error;
  ASSERT_EQ(qev::fixture::WriteSampleCharacter(dir.Path(), &error), 1) << error;
  const std::string walk = "render sample.pmd --motion walk.vmd --solid --unlit ";
  ASSERT_EQ(Qevtool(dir, walk + "--frame 20 --hud -o hud.png").status, 0);
  ASSERT_EQ(Qevtool(dir, walk + "--frame 20 -o plain.png").status, 0);
  ASSERT_EQ(Qevtool(dir, walk + "--frame 130 --hud --size 640x400 -o wrapped.png").status, 0);
  Picture hud, plain, wrapped;
  ASSERT_TRUE(hud.Load(dir, "hud.png"));
  ASSERT_TRUE(plain.Load(dir, "plain.png"));
  ASSERT_TRUE(wrapped.Load(dir, "wrapped.png"));

  const TimelineLayout l = CTimeline::Layout(1280, 800);
  int changed = 0;
  for (int y = 0; y < l.bandTop; ++y)
    for (int x = 0; x < 1280; ++x) changed += hud.At(x, y) != plain.At(x, y);
  EXPECT_EQ(changed, 0) << "pixels above the timeline changed";

  // The bar across its middle row: played (frame 20 of 0..59), the knob, the rest.
  const int row = (l.barTop + l.barBottom) / 2;
  const int knob = int(CTimeline::KnobX(l, 20, 59));
  const uint32_t played = CTimeline::kPlayedColor & 0xFFFFFF, track = CTimeline::kTrackColor & 0xFFFFFF;
  for (int x = l.barLeft; x < l.barRight; ++x) {
    const uint32_t want = x < knob - 3 ? played : x >= knob + 3 ? track : 0xFFFFFFu;
    ASSERT_EQ(hud.At(x, row), want) << Hex(hud.At(x, row)) << " at x " << x;
  }
  EXPECT_EQ(hud.At(l.barLeft - 1, row), hud.At(l.barLeft - 2, row)) << "the bar starts at its left end";
  EXPECT_EQ(hud.At(knob, l.barTop - 4), 0xFFFFFFu) << "the knob stands out above the bar";
  EXPECT_NE(hud.At(knob, l.barTop - 5), 0xFFFFFFu);

  // The band darkens what lies behind it: the background 0x20 becomes 0x0C.
  EXPECT_EQ(plain.At(640, l.bandTop + 2), kBackground);
  EXPECT_EQ(hud.At(640, l.bandTop + 2), 0x0C0C0Cu);

  // The counter: every pixel the outlined text covers fully shows the text's
  // own colour, one pixel in from where it is drawn; the rows around it are
  // free of white.
  const std::string counter = "Play  20 / 59  00:00.66  1x";
  CEdgeFont32 text;
  ASSERT_EQ(text.Make(std::u16string(counter.begin(), counter.end()).c_str(), CTimeline::kFace, 0, 1), 1);
  int covered = 0, mismatched = 0, white = 0;
  for (int r = 0; r < text.m_nHeight; ++r)
    for (int c = 0; c < text.m_nWidth; ++c) {
      const uint8_t* t = text.m_pBits + size_t(r) * size_t(text.m_nPitch) + size_t(c) * 4;
      if (t[3] != 255) continue;
      ++covered;
      white += t[0] > 200;
      mismatched += hud.At(l.textLeft + 1 + c, l.textTop + 1 + r) != (uint32_t(t[2]) << 16 | uint32_t(t[1]) << 8 | t[0]);
    }
  EXPECT_GT(white, 100) << "the text has strokes";
  EXPECT_EQ(mismatched, 0) << "of " << covered << " covered pixels";
  for (int x = 0; x < 1280; ++x) ASSERT_LT(hud.At(x, l.textTop - 2) & 0xFF, 0xC0u) << "white above the text at " << x;

  // Frame 130 of a 60-frame walk is frame 10 after two wraps; at 640 x 400
  // the key help no longer fits and the bar spans the narrower picture.
  const TimelineLayout small = CTimeline::Layout(640, 400);
  const int smallKnob = int(CTimeline::KnobX(small, 10, 59));
  const int smallRow = (small.barTop + small.barBottom) / 2;
  EXPECT_EQ(wrapped.At(smallKnob - 5, smallRow), played);
  EXPECT_EQ(wrapped.At(smallKnob + 5, smallRow), track);
  EXPECT_EQ(wrapped.At(small.barRight - 1, smallRow), track);
  int helpWhite = 0;
  for (int y = small.textTop; y < small.textTop + 18; ++y)
    for (int x = 400; x < 640; ++x) helpWhite += (wrapped.At(x, y) & 0xFF) > 200;
  EXPECT_EQ(helpWhite, 0) << "the key help was drawn into a picture too narrow for it";
}

TEST(QevtoolRender, FailuresAndUsage) {
  TempDir dir;
  const std::string box = qev::fixture::BuildPmd(qev::test::TwoBoneBox());
  dir.WriteFile("box.pmd", box);
  dir.WriteFile("cut.pmd", box.substr(0, 300));
  qev::fixture::PmdDesc onIk = qev::test::TwoBoneBox();
  onIk.bones[2].type = 2;  // the top bone becomes an IK goal without a list...
  onIk.vertices[12].bone[0] = 2;  // ...and a vertex hangs on it
  dir.WriteFile("onik.pmd", qev::fixture::BuildPmd(onIk));
  dir.WriteFile("bad.vpd", "Vocaloid Pose\r\n");
  dir.WriteFile("keep.png", "old");
  dir.WriteFile("ro.png", "old");
  ASSERT_EQ(chmod(dir.Path("ro.png").c_str(), 0444), 0);
  struct Case {
    std::string args;
    int status;
    std::string err;  // a part of stderr
  };
  const Case cases[] = {
      {"render missing.pmd -o out.png", 1, "qevtool render: missing.pmd: "},
      {"render cut.pmd -o out.png", 1, "qevtool render: cut.pmd: モデルデータ解析失敗: PMD error : "},
      {"render onik.pmd -o out.png", 1, "qevtool render: onik.pmd: ボーンIDが不正"},
      {"render box.pmd --pose bad.vpd -o keep.png", 1, "qevtool render: bad.vpd: ポーズデータ解析失敗: Header error"},
      {"render box.pmd --motion missing.vmd -o out.png", 1, "qevtool render: missing.vmd: "},
      {"render box.pmd -o no/such/folder/out.png", 1, "qevtool render: no/such/folder/out.png: "},
      {"render box.pmd -o ro.png", 1, "qevtool render: ro.png: not writable (Permission denied)\n"},
      {"render box.pmd", 2, "no output file (-o OUT.png)"},
      {"render -o out.png", 2, "no model given"},
      {"render box.pmd other.pmd -o out.png", 2, "one model only"},
      {"render box.pmd -o a.png -o b.png", 2, "-o given twice"},
      {"render box.pmd --pose p.vpd --motion m.vmd -o out.png", 2, "--pose and --motion exclude each other"},
      {"render box.pmd --frame 3 -o out.png", 2, "--frame needs --motion"},
      {"render box.pmd --motion m.vmd --frame -1 -o out.png", 2, "--frame takes a whole number from 0 to 100000"},
      {"render box.pmd --motion m.vmd --frame 100001 -o out.png", 2, "--frame takes a whole number"},
      {"render box.pmd --motion m.vmd --frame 7x -o out.png", 2, "--frame takes a whole number"},
      {"render box.pmd --motion m.vmd --frame", 2, "--frame needs a frame number"},
      {"render box.pmd --size 0x10 -o out.png", 2, "--size takes WxH"},
      {"render box.pmd --size 4097x10 -o out.png", 2, "--size takes WxH"},
      {"render box.pmd --size 64 -o out.png", 2, "--size takes WxH"},
      {"render box.pmd --size 64x -o out.png", 2, "--size takes WxH"},
      {"render box.pmd --bogus -o out.png", 2, "unknown option '--bogus'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const auto run = Qevtool(dir, c.args);
    EXPECT_EQ(run.status, c.status);
    EXPECT_TRUE(Has(run.err, c.err)) << run.err;
    if (c.status == 2) {
      EXPECT_TRUE(Has(run.err, "usage: qevtool render MODEL")) << run.err;
    }
  }
  EXPECT_EQ(dir.ReadFile("keep.png"), "old") << "a failed render leaves the old picture";
  EXPECT_EQ(dir.ReadFile("ro.png"), "old") << "a read-only picture is left as it is";
  for (const std::string& name : dir.List()) EXPECT_NE(name, "out.png");
  const auto help = Qevtool(dir, "render --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(Has(help.out, "usage: qevtool render MODEL"));
}

}  // namespace
