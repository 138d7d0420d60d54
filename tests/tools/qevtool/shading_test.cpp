// Shaded drawing as `qevtool render --solid` draws it, read back from the
// pictures: a sphere lit by the default light with its toon ramp (its own
// file, or the built-in ramp when that file is missing), multiplied and added
// sphere maps, an outline round the flagged box only, a semi-transparent quad
// blended over an opaque one whatever their model order, and --unlit giving
// the unshaded pictures bit for bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/start_up_view.h"
#include "platform/codepage.h"
#include "platform/picture_decoder.h"
#include "render/d3d_camera.h"
#include "render/toon_ramp.h"
#include "tests/common/temp_dir.h"
#include "tests/tools/qevtool/posed_models.h"
#include "tools/fixtures/picture_fixtures.h"
#include "tools/fixtures/pmd_fixture.h"

namespace {

using namespace qev::fixture;
using qev::fixtures::BitmapFile;
using qev::fixtures::DibRows;
using qev::test::TempDir;

qev::test::CommandRun Qevtool(const TempDir& dir, const std::string& args) {
  return qev::test::RunIn(dir, "'" QEV_BINARY_DIR "/qevtool' " + args);
}

struct V {
  float x, y, z;
};
V Sub(V a, V b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
float Dot(V a, V b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
V Cross(V a, V b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
V Unit(V a) {
  const float l = std::sqrt(Dot(a, a));
  return {a.x / l, a.y / l, a.z / l};
}

// Meshes in the viewer's space (z is negated into the file), each triangle
// wound so that its front faces `outward`, as the model files wind them.
class Mesh {
 public:
  Mesh() {
    PmdBoneDesc root;
    root.name = qev::Sjis("センター");
    d.bones = {root};
    d.extent = PmdExtent::kToon;
  }
  void Triangle(V a, V na, V b, V nb, V c, V nc, V outward) {
    V p[3] = {a, b, c}, n[3] = {na, nb, nc};
    // file space: z negated, which turns the winding test round
    V f[3];
    for (int k = 0; k < 3; ++k) f[k] = {p[k].x, p[k].y, -p[k].z};
    const V out{outward.x, outward.y, -outward.z};
    if (Dot(Cross(Sub(f[1], f[0]), Sub(f[2], f[0])), out) < 0) {
      std::swap(p[1], p[2]);
      std::swap(n[1], n[2]);
    }
    for (int k = 0; k < 3; ++k) {
      PmdVertexDesc v;
      v.pos[0] = p[k].x;
      v.pos[1] = p[k].y;
      v.pos[2] = -p[k].z;
      v.normal[0] = n[k].x;
      v.normal[1] = n[k].y;
      v.normal[2] = -n[k].z;
      d.indices.push_back(uint16_t(d.vertices.size()));
      d.vertices.push_back(v);
    }
    ++m_count;
  }
  // A flat rectangle at depth z facing +z (the start-up camera's side).
  void Quad(float x0, float y0, float x1, float y1, float z) {
    const V n{0, 0, 1};
    Triangle({x0, y0, z}, n, {x1, y0, z}, n, {x1, y1, z}, n, n);
    Triangle({x0, y0, z}, n, {x1, y1, z}, n, {x0, y1, z}, n, n);
  }
  void Box(V lo, V hi) {
    for (int axis = 0; axis < 3; ++axis)
      for (int side = 0; side < 2; ++side) {
        V n{0, 0, 0};
        (axis == 0 ? n.x : axis == 1 ? n.y : n.z) = side ? 1.0f : -1.0f;
        V c[4];
        for (int k = 0; k < 4; ++k) {
          const int i = k == 1 || k == 2, j = k >= 2;
          float v[3];
          v[axis] = side ? (&hi.x)[axis] : (&lo.x)[axis];
          const int a1 = (axis + 1) % 3, a2 = (axis + 2) % 3;
          v[a1] = i ? (&hi.x)[a1] : (&lo.x)[a1];
          v[a2] = j ? (&hi.x)[a2] : (&lo.x)[a2];
          c[k] = {v[0], v[1], v[2]};
        }
        Triangle(c[0], n, c[1], n, c[2], n, n);
        Triangle(c[0], n, c[2], n, c[3], n, n);
      }
  }
  void Sphere(V centre, float r) {
    constexpr int kRings = 24, kSegments = 48;
    auto at = [&](int ring, int seg) {
      const float t = 3.14159265f * float(ring) / kRings, p = 6.2831853f * float(seg) / kSegments;
      return V{std::sin(t) * std::cos(p), std::cos(t), std::sin(t) * std::sin(p)};
    };
    auto point = [&](V n) { return V{centre.x + r * n.x, centre.y + r * n.y, centre.z + r * n.z}; };
    for (int ring = 0; ring < kRings; ++ring)
      for (int seg = 0; seg < kSegments; ++seg) {
        const V a = at(ring, seg), b = at(ring + 1, seg), c = at(ring + 1, seg + 1), e = at(ring, seg + 1);
        const V mid = Unit({a.x + c.x, a.y + c.y, a.z + c.z});
        if (ring != kRings - 1) Triangle(point(a), a, point(b), b, point(c), c, mid);
        if (ring != 0) Triangle(point(a), a, point(c), c, point(e), e, mid);
      }
  }
  // Ends a material over the triangles made since the last one.
  PmdMaterialDesc& Material() {
    PmdMaterialDesc m;
    m.indexCount = uint32_t(m_count * 3);
    m.toon = 255;
    m.edge = 0;
    m_count = 0;
    d.materials.push_back(m);
    return d.materials.back();
  }
  PmdDesc d;

 private:
  int m_count = 0;
};

void Colour(PmdMaterialDesc& m, float r, float g, float b, float a, float ambient) {
  m.diffuse[0] = r;
  m.diffuse[1] = g;
  m.diffuse[2] = b;
  m.diffuse[3] = a;
  m.ambient[0] = r * ambient;
  m.ambient[1] = g * ambient;
  m.ambient[2] = b * ambient;
}

std::string Plain(uint32_t argb, int side = 4) {
  return BitmapFile(side, side, 24, DibRows(side, side, 24, [argb](int, int) { return argb; }));
}

struct Picture {
  qev::DecodedPicture image;
  CD3DCamera camera;
  // Drawn from the start-up camera, or from straight in front (eye (0, 10,
  // 20) on the target (0, 10, 0), as FrontCamera() draws it).
  bool Load(const TempDir& dir, const std::string& name, bool front = false) {
    const std::string bytes = dir.ReadFile(name);
    if (!qev::DecodePicture(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                            qev::PictureFormats::kTextureFiles, image))
      return false;
    SetStartUpCamera(&camera, nullptr, float(image.width) / float(image.height));
    if (front) {
      const D3DXVECTOR3 eye(0, 10, 20), up(0, 1, 0), target(0, 10, 0);
      camera.LookAt(&eye, &up, target);
    }
    return true;
  }
  uint32_t At(int x, int y) const {
    if (x < 0 || y < 0 || x >= image.width || y >= image.height) return 0xFFFFFFFFu;
    const uint8_t* p = &image.pixels[(size_t(y) * size_t(image.width) + size_t(x)) * 4];
    return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
  }
  void Project(V v, int* px, int* py) const {
    D3DXMATRIX vp;
    D3DXMatrixMultiply(&vp, &camera.m_mView, &camera.m_mProjection);
    const D3DXVECTOR3 p(v.x, v.y, v.z);
    D3DXVECTOR4 clip;
    D3DXVec3Transform(&clip, &p, &vp);
    *px = int((clip.x / clip.w + 1) * 0.5f * float(image.width));
    *py = int((1 - clip.y / clip.w) * 0.5f * float(image.height));
  }
  uint32_t AtPoint(V v) const {
    int x, y;
    Project(v, &x, &y);
    return At(x, y);
  }
  uint64_t Digest() const {
    uint64_t h = 1469598103934665603ull;
    for (uint8_t c : image.pixels) h = (h ^ c) * 1099511628211ull;
    return h;
  }
};

// A camera motion of one key: straight in front of (0, 10, 0) from 20 away,
// 45 degrees, so that the light's far side is in view too.
std::string FrontCamera() {
  VmdCameraKeyDesc key;
  key.distance = -20;
  key.viewAngle = 45;
  VmdDesc d;
  d.extent = VmdExtent::kLight;
  d.cameras = {key};
  return BuildVmd(d);
}

void ExpectColour(uint32_t got, int r, int g, int b, int tolerance, const char* what) {
  EXPECT_NEAR(int(got >> 16), r, tolerance) << what << std::hex << " 0x" << got;
  EXPECT_NEAR(int(got >> 8 & 0xFF), g, tolerance) << what << std::hex << " 0x" << got;
  EXPECT_NEAR(int(got & 0xFF), b, tolerance) << what << std::hex << " 0x" << got;
}

// The sphere's visible points, lit (N.L > 0.35) or in shadow (N.L < -0.35),
// checked against white and the ramp's bottom colour.
void CheckLitSphere(const Picture& p, V centre, float r, uint32_t shadow) {
  const V toLight = Unit({0.5f, 1.0f, 0.5f});  // the default light travels along (-0.5, -1, -0.5)
  const D3DXVECTOR3& eye = p.camera.m_vPosition;
  int lit = 0, dark = 0;
  for (int i = 0; i < 64; ++i)
    for (int j = 0; j < 64; ++j) {
      const float t = 3.14159265f * (float(i) + 0.5f) / 64, ph = 6.2831853f * float(j) / 64;
      const V n{std::sin(t) * std::cos(ph), std::cos(t), std::sin(t) * std::sin(ph)};
      const V at{centre.x + r * n.x, centre.y + r * n.y, centre.z + r * n.z};
      const V toEye = Unit({eye.x - at.x, eye.y - at.y, eye.z - at.z});
      if (Dot(n, toEye) < 0.4f) continue;  // hidden, or near the silhouette
      const float nl = Dot(n, toLight);
      if (nl > 0.35f) {
        ExpectColour(p.AtPoint(at), 255, 255, 255, 4, "lit side");
        ++lit;
      } else if (nl < -0.35f) {
        ExpectColour(p.AtPoint(at), int(shadow >> 16 & 0xFF), int(shadow >> 8 & 0xFF), int(shadow & 0xFF), 4,
                     "shadow side");
        ++dark;
      }
    }
  // the camera sees both sides, so neither check above ran empty
  EXPECT_GT(lit, 20);
  EXPECT_GT(dark, 20);
}

TEST(QevtoolShading, SphereIsLitFromTheDefaultLightAndTakesItsRampsBottomInShadow) {
  TempDir dir;
  const V centre{0, 10, 0};
  Mesh mesh;
  mesh.Sphere(centre, 4);
  // base colour clamped to white: light x diffuse + ambient >= 1
  PmdMaterialDesc& m = mesh.Material();
  Colour(m, 1, 1, 1, 1, 0.4f);
  m.toon = 0;
  mesh.d.toon[0] = "Ramp.BMP";  // found as ramp.bmp
  dir.WriteFile("sphere.pmd", BuildPmd(mesh.d));
  // the model's own ramp: white above, a blue-grey below the middle
  dir.WriteFile("ramp.bmp", BitmapFile(4, 64, 24, DibRows(4, 64, 24, [](int, int y) {
                                         return y < 32 ? 0xFFFFFFFFu : 0xFF3C78C8u;
                                       })));
  // from the start-up camera the light's far side is out of sight
  dir.WriteFile("front.vmd", FrontCamera());
  ASSERT_EQ(Qevtool(dir, "render sphere.pmd --solid --camera front.vmd -o own.png").status, 0);
  Picture own;
  ASSERT_TRUE(own.Load(dir, "own.png", true));
  {
    SCOPED_TRACE("own ramp");
    CheckLitSphere(own, centre, 4, 0x3C78C8u);
  }

  // The same sphere naming a toon file that is not there: built-in ramp 3.
  m.toon = 2;
  mesh.d.toon[2] = "gone.bmp";
  dir.WriteFile("sphere.pmd", BuildPmd(mesh.d));
  ASSERT_EQ(Qevtool(dir, "render sphere.pmd --solid --camera front.vmd -o builtin.png").status, 0);
  Picture builtIn;
  ASSERT_TRUE(builtIn.Load(dir, "builtin.png", true));
  {
    SCOPED_TRACE("built-in ramp");
    CheckLitSphere(builtIn, centre, 4, ToonRampColour(2, kToonRampHeight - 1) & 0xFFFFFFu);
  }

  // Unlit, the sphere is one flat colour all over.
  ASSERT_EQ(Qevtool(dir, "render sphere.pmd --solid --unlit -o flat.png").status, 0);
  Picture flat;
  ASSERT_TRUE(flat.Load(dir, "flat.png"));
  EXPECT_EQ(flat.AtPoint({centre.x, centre.y + 3, centre.z + 2.6f}), 0xFFFFFFu);
  EXPECT_EQ(flat.AtPoint({centre.x - 2.8f, centre.y - 2.8f, centre.z + 0.5f}), 0xFFFFFFu);
}

TEST(QevtoolShading, SphereMapsMultiplyOrAdd) {
  TempDir dir;
  Mesh mesh;
  const char* spheres[3] = {"", "m.sph", "a.spa"};
  const float x[3] = {-5, -1.5f, 2};
  for (int k = 0; k < 3; ++k) {
    mesh.Quad(x[k], 7, x[k] + 3, 13, 0);
    PmdMaterialDesc& m = mesh.Material();
    Colour(m, 0.5f, 0.5f, 0.5f, 1, 0);
    m.texture = spheres[k];
  }
  dir.WriteFile("maps.pmd", BuildPmd(mesh.d));
  dir.WriteFile("m.sph", Plain(0xFF80FF40u));
  dir.WriteFile("a.spa", Plain(0xFF280050u));
  ASSERT_EQ(Qevtool(dir, "render maps.pmd --solid -o maps.png").status, 0);
  Picture p;
  ASSERT_TRUE(p.Load(dir, "maps.png"));
  // base: 154/255 x 0.5 = 77/255; no ramp, no texture, no highlight
  ExpectColour(p.AtPoint({x[0] + 1.5f, 10, 0}), 77, 77, 77, 2, "plain");
  ExpectColour(p.AtPoint({x[1] + 1.5f, 10, 0}), 39, 77, 19, 2, "multiplied");
  ExpectColour(p.AtPoint({x[2] + 1.5f, 10, 0}), 117, 77, 157, 2, "added");
}

TEST(QevtoolShading, OutlineRoundTheFlaggedBoxOnly) {
  TempDir dir;
  Mesh mesh;
  const V lo[2] = {{-6, 6, -2}, {2, 6, -2}}, hi[2] = {{-2, 10, 2}, {6, 10, 2}};
  for (int k = 0; k < 2; ++k) {
    mesh.Box(lo[k], hi[k]);
    PmdMaterialDesc& m = mesh.Material();
    Colour(m, 1, 1, 1, 1, 0.4f);
    m.edge = k == 0 ? 1 : 0;
  }
  dir.WriteFile("boxes.pmd", BuildPmd(mesh.d));
  ASSERT_EQ(Qevtool(dir, "render boxes.pmd --solid -o boxes.png").status, 0);
  Picture p;
  ASSERT_TRUE(p.Load(dir, "boxes.png"));
  // Pixels darker than the background (0x20 grey) round each box's picture.
  for (int k = 0; k < 2; ++k) {
    int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;
    for (int c = 0; c < 8; ++c) {
      int px, py;
      p.Project({c & 1 ? hi[k].x : lo[k].x, c & 2 ? hi[k].y : lo[k].y, c & 4 ? hi[k].z : lo[k].z}, &px, &py);
      x0 = std::min(x0, px - 6), y0 = std::min(y0, py - 6), x1 = std::max(x1, px + 6), y1 = std::max(y1, py + 6);
    }
    int dark = 0;
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) {
        const uint32_t c = p.At(x, y);
        if (c != 0xFFFFFFFFu && (c >> 16) < 0x18 && (c >> 8 & 0xFF) < 0x18 && (c & 0xFF) < 0x18) ++dark;
      }
    if (k == 0)
      EXPECT_GT(dark, 300) << "the outlined box";  // its outline all round, up to 2 pixels wide
    else
      EXPECT_EQ(dark, 0) << "the box without the edge flag";
  }
}

TEST(QevtoolShading, SemiTransparentQuadBlendsOverTheOpaqueOneBehindIt) {
  TempDir dir;
  Mesh mesh;
  // first in the model: the half-transparent blue quad in front
  mesh.Quad(-2, 8, 6, 12, 2);
  Colour(mesh.Material(), 0, 0, 1, 0.5f, 0.4f);
  mesh.Quad(-4, 6, 4, 14, 0);
  Colour(mesh.Material(), 1, 0, 0, 1, 0.4f);
  dir.WriteFile("glass.pmd", BuildPmd(mesh.d));
  ASSERT_EQ(Qevtool(dir, "render glass.pmd --solid -o glass.png").status, 0);
  Picture p;
  ASSERT_TRUE(p.Load(dir, "glass.png"));
  ExpectColour(p.AtPoint({-3, 13, 0}), 255, 0, 0, 2, "red alone");
  ExpectColour(p.AtPoint({1, 10, 2}), 128, 0, 128, 2, "blue over red");
  ExpectColour(p.AtPoint({5, 10, 2}), 16, 16, 144, 2, "blue over the background");
}

TEST(QevtoolShading, UnlitIsThePictureOfUnshadedDrawingBitForBit) {
  TempDir dir;
  dir.WriteFile("quad.pmd", BuildPmd(qev::test::TexturedQuad()));
  dir.WriteFile("quad.bmp", qev::test::QuadTexture());
  dir.WriteFile("box.pmd", BuildPmd(qev::test::TwoBoneBox()));
  dir.WriteFile("turn.vmd", BuildVmd(qev::test::TurnUpperMotion()));
  // Digests of pictures drawn before shading existed, by the same commands
  // without --unlit.
  struct Case {
    const char* args;
    uint64_t digest;
  };
  const Case cases[] = {
      {"quad.pmd --solid --unlit", 0x6c9c7d6392a1656bull},
      {"box.pmd --solid --unlit --motion turn.vmd --frame 15 --bones --size 640x400", 0x12a57fa974b11800ull},
      {"box.pmd --unlit", 0xafbdfe367f22139aull},
      {"box.pmd", 0xafbdfe367f22139aull},  // wireframe is never shaded
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    ASSERT_EQ(Qevtool(dir, std::string("render ") + c.args + " -o out.png").status, 0);
    Picture p;
    ASSERT_TRUE(p.Load(dir, "out.png"));
    EXPECT_EQ(p.Digest(), c.digest) << std::hex << p.Digest();
  }
  // and shading does change the solid picture
  ASSERT_EQ(Qevtool(dir, "render quad.pmd --solid -o shaded.png").status, 0);
  Picture shaded;
  ASSERT_TRUE(shaded.Load(dir, "shaded.png"));
  EXPECT_NE(shaded.Digest(), cases[0].digest);
}

}  // namespace
