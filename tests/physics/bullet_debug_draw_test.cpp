// The physics debug drawer on the recording device: colours, the contact
// cross, labels in the corner, the attach and its failure, and a world of
// every shape drawn line by line and collected, with the same lines.
#include "physics/bullet_debug_draw.h"

#include <btBulletDynamicsCommon.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/start_up_view.h"
#include "platform/codepage.h"
#include "platform/recording_device.h"
#include "render/d3d_camera.h"
#include "render/dd_pro90.h"
#include "tests/common/temp_dir.h"

namespace {

std::vector<LineVertex> Vertices(const qev::RecordedCall& call) {
  std::vector<LineVertex> v(call.vertices.size() / sizeof(LineVertex));
  std::memcpy(v.data(), call.vertices.data(), v.size() * sizeof(LineVertex));
  return v;
}

// Every line vertex drawn, in order.
std::vector<LineVertex> AllLines(const qev::RecordingDevice& dev) {
  std::vector<LineVertex> all;
  for (const qev::RecordedCall* call : dev.Find("DrawPrimitiveUP(D3DPT_LINELIST")) {
    const std::vector<LineVertex> v = Vertices(*call);
    all.insert(all.end(), v.begin(), v.end());
  }
  return all;
}

class DebugDrawTest : public testing::Test {
 protected:
  void SetUp() override {
    dev.BeginScene();
    ASSERT_EQ(drawer.Attach(&dev), 1);
    dev.ClearCalls();
  }
  qev::RecordingDevice dev;
  CBulletDebugDraw drawer;
};

TEST(BulletColor, ComponentsAreHeldToTheUnitRangeAndTruncated) {
  const struct {
    btVector3 color;
    D3DCOLOR argb;
  } cases[] = {
      {btVector3(1, 0.5f, 0), 0xFFFF7F00},
      {btVector3(0, 0, 0), 0xFF000000},
      {btVector3(1, 1, 1), 0xFFFFFFFF},
      {btVector3(0.999f, 0.004f, 0.5f), 0xFFFE017F},
      {btVector3(2, -1, 300), 0xFFFF00FF},
      {btVector3(std::nanf(""), INFINITY, -INFINITY), 0xFF00FF00},
  };
  for (const auto& c : cases) EXPECT_EQ(BulletColor(c.color), c.argb) << std::hex << c.argb;
}

TEST_F(DebugDrawTest, EachLineIsItsOwnDrawWithConvertedColours) {
  drawer.drawLine(btVector3(1, 2, 3), btVector3(4, 5, 6), btVector3(1, 0.5f, 0));
  drawer.drawLine(btVector3(0, 0, 0), btVector3(0, 1, 0), btVector3(1, 0, 0), btVector3(0, 0, 1));
  EXPECT_EQ(dev.Texts(), (std::vector<std::string>{"SetTexture(0, null)", "SetFVF(0x42)",
                                                   "DrawPrimitiveUP(D3DPT_LINELIST, 1, 16)", "SetTexture(0, null)",
                                                   "SetFVF(0x42)", "DrawPrimitiveUP(D3DPT_LINELIST, 1, 16)"}));
  const std::vector<LineVertex> v = AllLines(dev);
  ASSERT_EQ(v.size(), 4u);
  EXPECT_EQ(v[0].x, 1.0f);
  EXPECT_EQ(v[0].z, 3.0f);
  EXPECT_EQ(v[1].y, 5.0f);
  EXPECT_EQ(v[0].color, 0xFFFF7F00u);
  EXPECT_EQ(v[1].color, 0xFFFF7F00u);
  EXPECT_EQ(v[2].color, 0xFFFF0000u);
  EXPECT_EQ(v[3].color, 0xFF0000FFu);
  EXPECT_EQ(drawer.m_line.m_nCount, 2);  // the batch holds the last line only
}

TEST_F(DebugDrawTest, AContactPointIsTheFixedCross) {
  for (const btVector3& asked : {btVector3(1, 1, 0), btVector3(0, 0, 0)}) {
    dev.ClearCalls();
    drawer.drawContactPoint(btVector3(10, 20, 30), btVector3(0, 1, 0), btScalar(-0.3), 7, asked);
    ASSERT_EQ(dev.Find("DrawPrimitiveUP").size(), 1u);
    EXPECT_EQ(dev.Find("DrawPrimitiveUP")[0]->text, "DrawPrimitiveUP(D3DPT_LINELIST, 3, 16)");
    const std::vector<LineVertex> v = AllLines(dev);
    const LineVertex expected[] = {
        {9.5f, 20, 30, 0xFFFF0000},  {10.5f, 20, 30, 0xFFFF0000}, {10, 19.5f, 30, 0xFF00FF00},
        {10, 20.5f, 30, 0xFF00FF00}, {10, 20, 29.5f, 0xFF0000FF}, {10, 20, 30.5f, 0xFF0000FF},
    };
    ASSERT_EQ(v.size(), 6u);
    for (int i = 0; i < 6; ++i) {
      EXPECT_EQ(v[i].x, expected[i].x) << i;
      EXPECT_EQ(v[i].y, expected[i].y) << i;
      EXPECT_EQ(v[i].z, expected[i].z) << i;
      EXPECT_EQ(v[i].color, expected[i].color) << i;
    }
  }
}

TEST_F(DebugDrawTest, LabelsLandTopLeftWhereverTheyAre) {
  drawer.draw3dText(btVector3(100, 200, 300), qev::Sjis("剛体A").c_str());
  drawer.draw3dText(btVector3(-5, 0, 0), "body B");
  const std::vector<const qev::RecordedCall*> strips = dev.Find("DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, 28)");
  ASSERT_EQ(strips.size(), 2u);
  for (const qev::RecordedCall* strip : strips) {
    SpriteVertex v[4];
    ASSERT_EQ(strip->vertices.size(), sizeof v);
    std::memcpy(v, strip->vertices.data(), sizeof v);
    EXPECT_EQ(v[0].x, -0.5f);
    EXPECT_EQ(v[0].y, -0.5f);
    EXPECT_EQ(v[3].y, 17.5f);  // 16 high, edge 0, region 18
    EXPECT_EQ(v[0].diffuse, 0xFFFFFFFFu);
  }
  // The second label took the place of the first.
  EXPECT_EQ(drawer.m_font.m_slot[0].x, 0);
  EXPECT_EQ(drawer.m_font.m_slot[0].y, 0);
  // A label wider than the atlas is not drawn, and the last one with it;
  // no label at all is an empty one.
  dev.ClearCalls();
  drawer.draw3dText(btVector3(0, 0, 0), std::string(5000, 'i').c_str());
  EXPECT_EQ(drawer.m_font.m_slot[0].used, 0);
  EXPECT_TRUE(dev.Find("DrawPrimitiveUP").empty());
  drawer.draw3dText(btVector3(0, 0, 0), nullptr);
  EXPECT_EQ(dev.Find("DrawPrimitiveUP(D3DPT_TRIANGLESTRIP").size(), 1u);
}

TEST(BulletDebugDraw, AttachSetsTheModeAndTheOutlineOrLogsItsFailure) {
  qev::RecordingDevice dev;
  CBulletDebugDraw drawer;
  EXPECT_EQ(drawer.getDebugMode(), 9);
  EXPECT_EQ(drawer.m_pDevice, nullptr);
  // Nothing is drawn without a device.
  drawer.drawLine(btVector3(0, 0, 0), btVector3(1, 1, 1), btVector3(1, 1, 1));
  drawer.drawContactPoint(btVector3(0, 0, 0), btVector3(0, 1, 0), 0, 0, btVector3(1, 1, 1));
  drawer.draw3dText(btVector3(0, 0, 0), "x");
  EXPECT_TRUE(dev.calls.empty());

  drawer.setDebugMode(3);
  EXPECT_EQ(drawer.getDebugMode(), 3);
  ASSERT_EQ(drawer.Attach(&dev), 1);
  EXPECT_EQ(drawer.getDebugMode(), 9);
  EXPECT_EQ(drawer.m_pDevice, &dev);
  EXPECT_EQ(drawer.m_font.m_dwEdgeColor, 0xFF000000u);
  EXPECT_EQ(drawer.m_font.m_nEdgeWidth, 0);
  EXPECT_NE(drawer.m_font.m_pTexture, nullptr);

  qev::RecordingDevice refusing;
  refusing.failCreateTexture = true;
  refusing.BeginScene();
  qev::test::LogCapture log;
  EXPECT_EQ(drawer.Attach(&refusing), 0);
  ASSERT_EQ(log.Lines().size(), 1u);
  EXPECT_EQ(log.Lines()[0], qev::Sjis("フォントテクスチャエラー\n"));
  EXPECT_EQ(drawer.m_pDevice, &refusing);
  // Lines still draw; labels do not.
  refusing.ClearCalls();
  drawer.drawLine(btVector3(0, 0, 0), btVector3(1, 1, 1), btVector3(1, 1, 1));
  drawer.draw3dText(btVector3(0, 0, 0), "x");
  EXPECT_EQ(refusing.Find("DrawPrimitiveUP").size(), 1u);

  drawer.Detach();
  EXPECT_EQ(drawer.m_pDevice, nullptr);
  EXPECT_EQ(drawer.m_font.m_pTexture, nullptr);
}

TEST(BulletDebugDraw, WarningsGoToTheDebuggerOutputNotTheLog) {
  CBulletDebugDraw drawer;
  qev::test::LogCapture log;
  testing::internal::CaptureStderr();
  drawer.reportErrorWarning("solver: too many iterations");
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("solver: too many iterations\n"), std::string::npos);
  EXPECT_TRUE(log.Lines().empty());
}

// A small world of every shape the model's bodies use, on the ground.
struct ShapeWorld {
  btDefaultCollisionConfiguration configuration;
  btCollisionDispatcher dispatcher{&configuration};
  btDbvtBroadphase broadphase;
  btSequentialImpulseConstraintSolver solver;
  btDiscreteDynamicsWorld world{&dispatcher, &broadphase, &solver, &configuration};
  std::vector<std::unique_ptr<btCollisionShape>> shapes;
  std::vector<std::unique_ptr<btDefaultMotionState>> states;
  std::vector<std::unique_ptr<btRigidBody>> bodies;

  ShapeWorld() { world.setGravity(btVector3(0, -98, 0)); }
  ~ShapeWorld() {
    for (auto& body : bodies) world.removeRigidBody(body.get());
  }
  btRigidBody* Add(btCollisionShape* shape, const btVector3& at, btScalar mass) {
    shapes.emplace_back(shape);
    btVector3 inertia(0, 0, 0);
    if (mass > 0) shape->calculateLocalInertia(mass, inertia);
    states.emplace_back(new btDefaultMotionState(btTransform(btQuaternion::getIdentity(), at)));
    bodies.emplace_back(new btRigidBody(mass, states.back().get(), shape, inertia));
    world.addRigidBody(bodies.back().get());
    return bodies.back().get();
  }
};

TEST_F(DebugDrawTest, EveryShapeOfAWorldIsDrawnAndCollectingKeepsTheLines) {
  ShapeWorld w;
  w.world.setDebugDrawer(&drawer);
  const struct {
    btCollisionShape* shape;
    btVector3 at;
    btScalar reach;  // how far its lines go from its centre
  } bodies[] = {
      {new btSphereShape(1), btVector3(-10, 5, 0), 1.5f},
      {new btBoxShape(btVector3(1, 2, 0.5f)), btVector3(0, 5, 0), 2.5f},
      {new btCapsuleShape(0.5f, 2), btVector3(10, 5, 0), 2.0f},
  };
  for (const auto& b : bodies) w.Add(b.shape, b.at, 1);
  w.Add(new btStaticPlaneShape(btVector3(0, 1, 0), 0), btVector3(0, 0, 0), 0);
  // a resting box touches the ground: a contact point
  w.Add(new btBoxShape(btVector3(1, 1, 1)), btVector3(0, 0.99f, 20), 1);
  w.world.stepSimulation(1.0f / 30, 0, 1.0f / 60);

  w.world.debugDrawWorld();
  const std::vector<const qev::RecordedCall*> oneByOne = dev.Find("DrawPrimitiveUP");
  const std::vector<LineVertex> lines = AllLines(dev);
  ASSERT_GT(oneByOne.size(), 100u);
  for (size_t i = 0; i + 1 < oneByOne.size(); ++i)
    if (oneByOne[i]->text != "DrawPrimitiveUP(D3DPT_LINELIST, 1, 16)") {
      EXPECT_EQ(oneByOne[i]->text, "DrawPrimitiveUP(D3DPT_LINELIST, 3, 16)");  // contact crosses
    }

  // Lines near every dynamic body's centre; the ground's lines lie on y = 0.
  for (const auto& b : bodies) {
    const btVector3 centre = w.bodies[&b - bodies]->getCenterOfMassPosition();
    int near = 0;
    for (const LineVertex& v : lines) near += btVector3(v.x, v.y, v.z).distance(centre) <= b.reach;
    EXPECT_GT(near, 8) << &b - bodies;
  }
  int onGround = 0, crossArms = 0;
  for (const LineVertex& v : lines) {
    onGround += std::fabs(v.y) < 1e-3f && std::fabs(v.x) > 50;
    crossArms += v.color == 0xFF0000FFu;
  }
  EXPECT_GT(onGround, 0);
  EXPECT_GT(crossArms, 0);

  // Collected: the same vertices in the same order, in one draw.
  dev.ClearCalls();
  drawer.Begin();
  w.world.debugDrawWorld();
  EXPECT_TRUE(dev.Find("DrawPrimitiveUP").empty());
  EXPECT_EQ(drawer.Flush(), 1);
  ASSERT_EQ(dev.Find("DrawPrimitiveUP").size(), 1u);
  EXPECT_EQ(dev.Texts()[0], "SetTexture(0, null)");
  EXPECT_EQ(dev.Texts()[1], "SetFVF(0x42)");
  const std::vector<LineVertex> collected = AllLines(dev);
  ASSERT_EQ(collected.size(), lines.size());
  EXPECT_EQ(std::memcmp(collected.data(), lines.data(), lines.size() * sizeof(LineVertex)), 0);
  // and back to one by one after the flush
  dev.ClearCalls();
  drawer.drawLine(btVector3(0, 0, 0), btVector3(1, 0, 0), btVector3(1, 1, 1));
  EXPECT_EQ(dev.Find("DrawPrimitiveUP").size(), 1u);
  EXPECT_EQ(drawer.Flush(), 0);
}

TEST_F(DebugDrawTest, ALabelWhileCollectingDrawsTheLinesBeforeIt) {
  drawer.Begin();
  drawer.drawLine(btVector3(0, 0, 0), btVector3(1, 0, 0), btVector3(1, 1, 1));
  drawer.draw3dText(btVector3(0, 0, 0), "label");
  drawer.drawLine(btVector3(0, 0, 0), btVector3(0, 1, 0), btVector3(1, 1, 1));
  EXPECT_EQ(drawer.Flush(), 1);
  std::vector<std::string> draws;
  for (const std::string& t : dev.Texts())
    if (t.rfind("DrawPrimitiveUP", 0) == 0) draws.push_back(t);
  EXPECT_EQ(draws, (std::vector<std::string>{"DrawPrimitiveUP(D3DPT_LINELIST, 1, 16)",
                                             "DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, 28)",
                                             "DrawPrimitiveUP(D3DPT_LINELIST, 1, 16)"}));
}

// On the OpenGL device, with the depth test of the frame: the lines drawn
// one by one and collected give the same picture, bit for bit.
TEST(BulletDebugDrawGl, CollectedLinesGiveTheSamePicture) {
  CDDPro90 frame;
  ASSERT_EQ(frame.Init(nullptr, DeviceBackend::kOffscreenGl, 320, 200), 1) << "offscreen OpenGL is needed";
  CD3DCamera camera;
  SetStartUpCamera(&camera, frame.m_pDevice, 1.6f);
  CBulletDebugDraw drawer;
  ASSERT_EQ(drawer.Attach(frame.m_pDevice), 1);
  ShapeWorld w;
  w.world.setDebugDrawer(&drawer);
  w.Add(new btSphereShape(2), btVector3(-4, 8, 0), 1);
  w.Add(new btBoxShape(btVector3(2, 3, 1)), btVector3(0, 10, 0), 1);
  w.Add(new btCapsuleShape(1, 4), btVector3(4, 8, 2), 1);
  w.Add(new btStaticPlaneShape(btVector3(0, 1, 0), 0), btVector3(0, 0, 0), 0);

  auto picture = [&](bool collect) {
    frame.m_dwClearColor = 0x00202020;
    frame.BeginDraw();
    IDirect3DDevice9* device = frame.m_pDevice;
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    device->SetTransform(D3DTS_VIEW, &camera.m_mView);
    device->SetTransform(D3DTS_PROJECTION, &camera.m_mProjection);
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    device->SetTransform(D3DTS_WORLD, &identity);
    if (collect) drawer.Begin();
    w.world.debugDrawWorld();
    if (collect) drawer.Flush();
    std::vector<D3DCOLOR> pixels;
    device->ReadBackBuffer(&pixels, nullptr, nullptr);
    frame.EndDraw();
    return pixels;
  };
  const std::vector<D3DCOLOR> oneByOne = picture(false), collected = picture(true);
  ASSERT_EQ(oneByOne.size(), 320u * 200u);
  size_t drawn = 0;
  for (D3DCOLOR p : oneByOne) drawn += (p & 0xFFFFFF) != 0x202020;
  EXPECT_GT(drawn, 1000u);
  EXPECT_TRUE(oneByOne == collected);
  drawer.Detach();
}

}  // namespace
