// `qevtool camera` and `qevtool render --camera`, run as a user runs them:
// the printed view of hand-made keys, a frame drawn through a camera key
// showing the quad where the camera math puts it (looking at it straight,
// rolled upside down, from behind), and camera and model motions kept apart.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/picture_decoder.h"
#include "tests/common/temp_dir.h"
#include "tests/tools/qevtool/posed_models.h"
#include "tools/fixtures/vmd_fixture.h"

namespace {

using qev::test::TempDir;
using qev::fixture::VmdCameraKeyDesc;

qev::test::CommandRun Qevtool(const TempDir& dir, const std::string& args) {
  return qev::test::RunIn(dir, "'" QEV_BINARY_DIR "/qevtool' " + args);
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string CameraFile(std::vector<VmdCameraKeyDesc> keys) {
  qev::fixture::VmdDesc d;
  d.model = qev::Sjis("カメラ・照明");
  d.extent = qev::fixture::VmdExtent::kLight;
  d.cameras = std::move(keys);
  return qev::fixture::BuildVmd(d);
}

TEST(QevtoolCamera, PrintsEyeTargetUpAndAngleOfAFrame) {
  TempDir dir;
  // The key a camera starts with: target (0, 10, 0), no turn, distance -45,
  // 30 degrees: the eye 45 units in front of the target, our +z.
  VmdCameraKeyDesc start;
  // Frame 10: the target 4 units to the right. Its curves (x1, x2, y1, y2
  // as stored: 20, 107, 20, 107) have x1 + x2 = 127, so half way in time is
  // exactly half way: the first bisection step lands on it.
  VmdCameraKeyDesc right;
  right.frame = 10;
  right.pos[0] = 4;
  for (int g = 0; g < 6; ++g) {
    right.interp[g * 4 + 0] = right.interp[g * 4 + 2] = 20;
    right.interp[g * 4 + 1] = right.interp[g * 4 + 3] = 107;
  }
  dir.WriteFile("cam.vmd", CameraFile({start, right}));
  struct Case {
    std::string args;
    std::string out;
  };
  const Case cases[] = {
      {"camera cam.vmd", "0.000000\t10.000000\t45.000000\t0.000000\t10.000000\t0.000000\t0.000000\t1.000000\t0.000000\t30.000000\n"},
      {"camera cam.vmd --frame 5", "2.000000\t10.000000\t45.000000\t2.000000\t10.000000\t0.000000\t0.000000\t1.000000\t0.000000\t30.000000\n"},
      {"camera --frame 900 cam.vmd", "4.000000\t10.000000\t45.000000\t4.000000\t10.000000\t0.000000\t0.000000\t1.000000\t0.000000\t30.000000\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const auto run = Qevtool(dir, c.args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, "");
  }
}

TEST(QevtoolCamera, FailuresAndUsage) {
  TempDir dir;
  dir.WriteFile("cam.vmd", CameraFile({VmdCameraKeyDesc{}}));
  dir.WriteFile("turn.vmd", qev::fixture::BuildVmd(qev::test::TurnUpperMotion()));
  dir.WriteFile("cut.vmd", CameraFile({VmdCameraKeyDesc{}}).substr(0, 40));
  dir.WriteFile("box.pmd", qev::fixture::BuildPmd(qev::test::TwoBoneBox()));
  struct Case {
    std::string args;
    int status;
    std::string err;
  };
  const Case cases[] = {
      {"camera missing.vmd", 1, "qevtool camera: missing.vmd: カメラデータ解析失敗: No such file or directory"},
      {"camera turn.vmd", 1, "qevtool camera: turn.vmd: カメラデータ解析失敗: camera : not a camera motion (0 camera keys, 1 bone tracks)"},
      {"camera cut.vmd", 1, "qevtool camera: cut.vmd: カメラデータ解析失敗: VMD error : "},
      {"camera", 2, "no camera file given"},
      {"camera cam.vmd cam.vmd", 2, "one camera file only"},
      {"camera cam.vmd --frame -2", 2, "--frame takes a whole number from 0 to 100000"},
      {"camera cam.vmd --frame", 2, "--frame needs a frame number"},
      {"camera cam.vmd --fast", 2, "unknown option '--fast'"},
      // a model's motion never draws as a camera, a camera never plays on a model
      {"render box.pmd --camera turn.vmd -o out.png", 1, "qevtool render: turn.vmd: カメラデータ解析失敗: camera : not a camera motion"},
      {"render box.pmd --motion cam.vmd -o out.png", 1, "qevtool render: cam.vmd: モーションデータ解析失敗: VMD : a camera motion (1 camera keys, no bone keys) does not play on a model"},
      {"render box.pmd --camera cam.vmd --camera cam.vmd -o out.png", 2, "--camera given twice"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const auto run = Qevtool(dir, c.args);
    EXPECT_EQ(run.status, c.status);
    EXPECT_TRUE(Has(run.err, c.err)) << run.err;
    if (c.status == 2 && c.args.rfind("camera", 0) == 0) {
      EXPECT_TRUE(Has(run.err, "usage: qevtool camera")) << run.err;
    }
  }
  for (const std::string& name : dir.List()) EXPECT_NE(name, "out.png");
  const auto help = Qevtool(dir, "camera --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(Has(help.out, "usage: qevtool camera CAM.vmd"));
  EXPECT_TRUE(Has(Qevtool(dir, "--help").out, "camera"));
}

TEST(QevtoolCamera, RenderThroughACameraKeyShowsTheQuadWhereTheMathSaysIt) {
  // The quad spans x -4..4 and y 6..14 at z = 0: red its top left quarter,
  // yellow its bottom right. Each key: target (0, 10, 0), distance -20,
  // 45 degrees. With 1280 x 800 pixels, 45 degrees from top to bottom
  // cover 2 x 20 tan(22.5 degrees) = 16.5685 units at the quad, 48.2843
  // pixels per unit both ways; the target is the picture's middle (640,
  // 400). The quarters' middles (-2, 12) and (2, 8) therefore land:
  // - no turn, eye (0, 10, 20): right is +x, up +y: red at (543.4, 303.4),
  //   yellow at (736.6, 496.6);
  // - rolled half a turn: right is -x, up -y: red at (736.6, 496.6),
  //   yellow at (543.4, 303.4);
  // - turned half a turn about the vertical, eye (0, 10, -20) behind the
  //   quad: right is -x, up +y: red at (736.6, 303.4), yellow at (543.4, 496.6).
  const uint32_t red = 0xFF0000, yellow = 0xFFFF00;
  struct Case {
    const char* what;
    float yaw, roll;
    int redX, redY, yellowX, yellowY;
  };
  const float half = 3.1415927f;
  const Case cases[] = {
      {"straight", 0, 0, 543, 303, 736, 496},
      {"rolled upside down", 0, half, 736, 496, 543, 303},
      {"from behind", half, 0, 736, 303, 543, 496},
  };
  TempDir dir;
  dir.WriteFile("quad.pmd", qev::fixture::BuildPmd(qev::test::TexturedQuad()));
  dir.WriteFile("quad.bmp", qev::test::QuadTexture());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    VmdCameraKeyDesc key;
    key.distance = -20;
    key.viewAngle = 45;
    key.rot[1] = c.yaw;
    key.rot[2] = c.roll;
    dir.WriteFile("cam.vmd", CameraFile({key}));
    const auto run = Qevtool(dir, "render quad.pmd --solid --unlit --camera cam.vmd -o out.png");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string bytes = dir.ReadFile("out.png");
    qev::DecodedPicture picture;
    ASSERT_TRUE(qev::DecodePicture(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                                   qev::PictureFormats::kTextureFiles, picture));
    ASSERT_EQ(picture.width, 1280);
    auto at = [&](int x, int y) {
      const uint8_t* p = &picture.pixels[(size_t(y) * size_t(picture.width) + size_t(x)) * 4];
      return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    };
    EXPECT_EQ(at(c.redX, c.redY), red);
    EXPECT_EQ(at(c.yellowX, c.yellowY), yellow);
    // the quad's sides are 4 units, 193 pixels, from the middle; just beyond
    // them at the target's height, far from the floor's grid, the background
    EXPECT_EQ(at(640 - 210, 400), 0x202020u);
    EXPECT_EQ(at(640 + 210, 400), 0x202020u);
  }
}

}  // namespace
