// `qevtool info` on pictures, run from a program folder of its own whose FILES
// folder holds the test plug-in: each route, the sizes and the failures.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/picture_encoder.h"
#include "tests/common/temp_dir.h"
#include "tools/fixtures/picture_fixtures.h"

namespace {

using ToolRun = qev::test::CommandRun;

class PictureInfo : public ::testing::Test {
 protected:
  PictureInfo() {
    namespace fs = std::filesystem;
    fs::create_directories(m_dir.Path("bin/FILES"));
    fs::copy_file(QEV_BINARY_DIR "/qevtool", m_dir.Path("bin/qevtool"));
    fs::permissions(m_dir.Path("bin/qevtool"), fs::perms::owner_all);
    fs::copy_file(QEV_BINARY_DIR "/plugins/qpx_filter.spi", m_dir.Path("bin/FILES/qpx_filter.spi"));
  }
  ToolRun Run(const std::string& args) const { return qev::test::RunIn(m_dir, "bin/qevtool " + args); }
  qev::test::TempDir m_dir;
};

TEST_F(PictureInfo, EachRouteWithItsSizes) {
  const std::vector<uint8_t> pixels = qev::fixtures::RampPicture(100, 60);
  m_dir.WriteFile("p.png", qev::EncodePicture(qev::PictureFileType::kPng, 100, 60, pixels.data(), false));
  m_dir.WriteFile("s.sph", qev::EncodePicture(qev::PictureFileType::kBmp, 100, 60, pixels.data(), false));
  m_dir.WriteFile("q.gif", qev::fixtures::QpxFile(100, 60, 8, std::string(100 * 60, '\1'), {0x00FF0000, 0x0000FF00},
                                                  0, "eight-bit test picture"));
  const ToolRun run = Run("info p.png s.sph q.gif");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const std::string expected =
      "file: p.png\n"
      "picture:\n"
      "  route                  decoder: PNG\n"
      "  image size             100 x 60\n"
      "  texture size           100 x 60\n"
      "  surface size           128 x 64\n"
      "  bits per pixel         24 in the file, 32 in the texture\n"
      "file: s.sph\n"
      "picture:\n"
      "  route                  decoder: BMP\n"
      "  image size             100 x 60\n"
      "  texture size           100 x 60\n"
      "  surface size           128 x 64\n"
      "  bits per pixel         24 in the file, 32 in the texture\n"
      "file: q.gif\n"
      "picture:\n"
      "  route                  plug-in: qpx_filter.spi (QPX test filter)\n"
      "  image size             100 x 60\n"
      "  texture size           128 x 64\n"
      "  surface size           128 x 64\n"
      "  bits per pixel         8 in the file, 32 in the texture\n"
      "  plug-in information    eight-bit test picture\n";
  EXPECT_EQ(run.out, expected);
}

TEST_F(PictureInfo, FailuresSayWhy) {
  const std::string png = qev::EncodePicture(qev::PictureFileType::kPng, 2, 2, qev::fixtures::RampPicture(2, 2).data());
  m_dir.WriteFile("cut.png", png.substr(0, 30));
  m_dir.WriteFile("other.xyz", "?");
  struct Case {
    const char* args;
    const char* out;
    const char* err;
  };
  const Case cases[] = {
      {"info cut.png", "picture refused: PNG", "qevtool info: cut.png: not a picture that the decoders or the plug-ins in "},
      {"info other.xyz", "file: other.xyz\n", "qevtool info: other.xyz: not a picture"},
      {"info absent.png", "file: absent.png\n", "qevtool info: absent.png: No such file or directory\n"},
      {"info bin", "file: bin\n", "qevtool info: bin: not a regular file\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const ToolRun run = Run(c.args);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find(c.out), std::string::npos) << run.out;
    EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
  }
}

}  // namespace
