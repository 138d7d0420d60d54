// Fingerprints of what the viewer makes of its PMD models: the load's log, the
// posed matrices, the drawn vertices, and both X files. The digests were
// taken from the scene as it read the PMD records directly, before scene
// assembly, physics and the exporters moved onto the model description; any
// change in a single bit of a pose, a picture or a file shows here.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "app/scene.h"
#include "app/x_export.h"
#include "platform/recording_device.h"
#include "tests/common/temp_dir.h"
#include "tools/fixtures/pmd_fixture.h"
#include "tools/fixtures/sample_character.h"
#include "tools/fixtures/synthetic_character.h"
#include "tools/fixtures/vmd_fixture.h"
#include "tools/fixtures/vpd_fixture.h"

namespace {

// 64-bit FNV-1a over everything fed to it.
class Digest {
 public:
  void Add(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i) m_h = (m_h ^ p[i]) * 0x100000001b3ull;
  }
  void Add(std::string_view s) { Add(s.data(), s.size()); }
  std::string Hex() const {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(m_h));
    return text;
  }

 private:
  uint64_t m_h = 0xcbf29ce484222325ull;
};

struct Golden {
  std::string load;    // the log of the load
  std::string frames;  // W, G and the drawn calls at some frames of the motion
  std::string pose;    // W and the drawn calls in the pose
  std::string mesh;    // the plain X file
  std::string skin;    // the X file with the motion baked
};

// Loads the model (relative to the folder, so no temp path reaches the log),
// plays the motion with physics as asked and takes the fingerprints.
Golden Fingerprint(const qev::test::TempDir& dir, const char* model, const char* motion, const char* pose,
                   bool physics) {
  qev::test::ChangeDir cd(dir.Path());
  Golden g;
  qev::RecordingDevice device;
  device.BeginScene();  // outside a scene the device takes no draw
  CScene scene;
  std::string failure;
  {
    qev::test::LogCapture log;
    EXPECT_EQ(scene.LoadModel(model, &device, &failure), 1) << failure;
    Digest d;
    d.Add(log.Text());
    g.load = d.Hex();
  }
  scene.CalcBullet = physics ? 1 : 0;
  auto draw = [&](Digest& d) {
    device.ClearCalls();
    scene.DrawModel(&device);
    for (const std::string& text : device.Texts()) d.Add(text);
    size_t drawn = 0;
    for (const auto* call : device.Find("DrawPrimitiveUP")) {
      d.Add(call->vertices.data(), call->vertices.size());
      drawn += call->vertices.size();
    }
    EXPECT_GT(drawn, 0u) << "the model was drawn";
  };
  {
    EXPECT_EQ(scene.LoadMotion(motion, &failure), 1) << failure;
    Digest d;
    for (int frame = 0; frame < 48; ++frame) {
      scene.PlayFrame();
      if (frame % 6 != 5) continue;
      d.Add(scene.W(), scene.m_W.m_nUsed);
      d.Add(scene.G(), scene.m_G.m_nUsed);
      draw(d);
    }
    g.frames = d.Hex();
  }
  {
    EXPECT_EQ(ExportXMesh(scene, "mesh.x", &failure), 1) << failure;
    Digest m;
    m.Add(dir.ReadFile("mesh.x"));
    g.mesh = m.Hex();
    EXPECT_EQ(ExportXSkin(scene, "skin.x", nullptr, &failure), 1) << failure;
    Digest s;
    s.Add(dir.ReadFile("skin.x"));
    g.skin = s.Hex();
  }
  {
    EXPECT_EQ(scene.LoadPose(pose, &failure), 1) << failure;
    Digest d;
    d.Add(scene.W(), scene.m_W.m_nUsed);
    draw(d);
    g.pose = d.Hex();
  }
  return g;
}

void ExpectGolden(const Golden& got, const Golden& want) {
  EXPECT_EQ(got.load, want.load) << "the load's log";
  EXPECT_EQ(got.frames, want.frames) << "matrices and drawn vertices of the motion";
  EXPECT_EQ(got.pose, want.pose) << "matrices and drawn vertices of the pose";
  EXPECT_EQ(got.mesh, want.mesh) << "the plain X file";
  EXPECT_EQ(got.skin, want.skin) << "the baked X file";
}

TEST(ModelGolden, SampleCharacter) {
  qev::test::TempDir dir;
  std::string error;
  ASSERT_EQ(qev::fixture::WriteSampleCharacter(dir.Path(), &error), 1) << error;
  ExpectGolden(Fingerprint(dir, "sample.pmd", "walk.vmd", "pose.vpd", true),
               {"e970699e8dee1f79", "ddf5f16b380ae01d", "8b2ac63d67261b00", "d0b4f3acaab7daf8", "9f3024fd4d432533"});
  ExpectGolden(Fingerprint(dir, "sample.pmd", "walk.vmd", "pose.vpd", false),
               {"e970699e8dee1f79", "a13e3aaf4ad6af05", "8b2ac63d67261b00", "d0b4f3acaab7daf8", "9f3024fd4d432533"});
}

TEST(ModelGolden, SmallFixture) {
  qev::test::TempDir dir;
  dir.WriteFile("m.pmd", qev::fixture::BuildPmd(qev::fixture::SamplePmd()));
  dir.WriteFile("m.vmd", qev::fixture::BuildVmd(qev::fixture::SampleVmd()));
  dir.WriteFile("m.vpd", qev::fixture::BuildVpd(qev::fixture::SampleVpd()));
  ExpectGolden(Fingerprint(dir, "m.pmd", "m.vmd", "m.vpd", true),
               {"53d840ab1ec2836f", "f7fd2709b62fb567", "7a573383b93e1aca", "e0c643f987594ca7", "65b54517fd1e0ee4"});
}

TEST(ModelGolden, SyntheticDancer) {
  qev::test::TempDir dir;
  qev::fixture::SyntheticShape shape = qev::fixture::kSyntheticDancer;
  shape.motionFrames = 60;  // the bake writes every frame
  const qev::fixture::PmdDesc model = qev::fixture::SyntheticCharacter(shape);
  dir.WriteFile("d.pmd", qev::fixture::BuildPmd(model));
  dir.WriteFile("d.vmd", qev::fixture::BuildVmd(qev::fixture::SyntheticMotion(model, shape)));
  dir.WriteFile("d.vpd", qev::fixture::BuildVpd(qev::fixture::SampleVpd()));
  ExpectGolden(Fingerprint(dir, "d.pmd", "d.vmd", "d.vpd", false),
               {"e3cdcf940f4fff71", "412a3f0ad90306c2", "11874eb499c7fea6", "d62aaad4f017d67f", "d3f4f75af17d5ad0"});
}

}  // namespace
