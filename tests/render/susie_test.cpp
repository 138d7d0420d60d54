// Image plug-ins through the real dynamic loader: the conversion rules of
// palette and true-colour pictures, the direct bitmap path, which libraries
// are offered pictures, and plug-ins that hand back less than they promise.
#include "render/susie.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "tests/common/temp_dir.h"
#include "tools/fixtures/picture_fixtures.h"

namespace {

using qev::fixtures::BitmapFile;
using qev::fixtures::DibRows;
using qev::fixtures::QpxFile;
using Bgra = std::vector<uint8_t>;

const std::string kPluginDir = QEV_BINARY_DIR "/plugins";

// A temporary folder with a FILES folder of chosen plug-ins beside the pictures.
class PluginFolder {
 public:
  explicit PluginFolder(std::vector<std::string> plugins = {"qpx_filter.spi"}) {
    std::filesystem::create_directory(m_dir.Path("FILES"));
    for (const std::string& p : plugins) Add(p);
  }
  void Add(const std::string& plugin, const std::string& as = "") {
    std::filesystem::copy_file(kPluginDir + "/" + plugin, m_dir.Path("FILES/" + (as.empty() ? plugin : as)));
  }
  std::string Write(const std::string& name, const std::string& bytes) const {
    m_dir.WriteFile(name, bytes);
    return m_dir.Path(name);
  }
  std::string Folder() const { return m_dir.Path("FILES"); }
  const qev::test::TempDir& Dir() const { return m_dir; }

 private:
  qev::test::TempDir m_dir;
};

// Pixel (x, y) of the held picture, y = 0 the top row (rows are held bottom first).
Bgra Pixel(const CSusie& s, int x, int y) {
  const uint8_t* p = s.m_pPixels + size_t(s.m_nHeight - 1 - y) * s.m_nRowBytes + size_t(x) * 4;
  return {p[0], p[1], p[2], p[3]};
}

const std::vector<uint32_t> kPalette = {0x000000FF, 0x0000FF00, 0x00FF0000, 0x00FFFFFF};  // blue green red white

TEST(Susie, PalettePicturesBecomeOpaqueColoursWithTheHighestIndexTransparent) {
  PluginFolder folder;
  // 3 x 2, top row 0 1 2, bottom row 2 1 0; index 3 (white) never occurs
  auto index = [](int x, int y) { return uint32_t(y == 0 ? x : 2 - x); };
  for (int bits : {4, 8}) {
    SCOPED_TRACE(bits);
    const std::string path = folder.Write("p.qpx", QpxFile(3, 2, bits, DibRows(3, 2, bits, index), kPalette));
    CSusie s;
    s.SetFolder(folder.Folder().c_str());
    ASSERT_EQ(s.LoadFile(path.c_str()), 1);
    EXPECT_EQ(s.m_nWidth, 3);
    EXPECT_EQ(s.m_nHeight, 2);
    EXPECT_EQ(s.m_nBitsPerPixel, 32);
    EXPECT_EQ(s.m_nSourceBits, bits);
    EXPECT_EQ(s.m_nRowBytes, 12);
    EXPECT_EQ(s.m_nPixelBytes, 24);
    EXPECT_EQ(Pixel(s, 0, 0), (Bgra{255, 0, 0, 255}));
    EXPECT_EQ(Pixel(s, 1, 0), (Bgra{0, 255, 0, 255}));
    EXPECT_EQ(Pixel(s, 2, 0), (Bgra{0, 0, 255, 0})) << "index 2 is the highest present";
    EXPECT_EQ(Pixel(s, 0, 1), (Bgra{0, 0, 255, 0}));
    EXPECT_EQ(Pixel(s, 2, 1), (Bgra{255, 0, 0, 255}));
    EXPECT_EQ(s.m_header[14], 32) << "the header's bit count follows the held pixels";
    EXPECT_EQ(s.m_decoder, "qpx_filter.spi (QPX test filter)");
  }
}

TEST(Susie, OddWidthFourBitRowsKeepTheirLastPixel) {
  PluginFolder folder;
  // 5 x 1: indices 1 1 1 1 2; the last pixel sits alone in the high nibble of byte 2
  const std::string rows = DibRows(5, 1, 4, [](int x, int) { return x == 4 ? 2u : 1u; });
  ASSERT_EQ(rows, std::string("\x11\x11\x20\x00", 4));
  CSusie s;
  s.SetFolder(folder.Folder().c_str());
  ASSERT_EQ(s.LoadFile(folder.Write("odd.qpx", QpxFile(5, 1, 4, rows, kPalette)).c_str()), 1);
  EXPECT_EQ(Pixel(s, 3, 0), (Bgra{0, 255, 0, 255}));
  EXPECT_EQ(Pixel(s, 4, 0), (Bgra{0, 0, 255, 0})) << "the last pixel is read and holds the highest index";
}

TEST(Susie, InterchangeNamedFilesMakeIndexZeroTransparentUnlessTheFirstPixelIsHighest) {
  PluginFolder folder;
  struct Case {
    const char* name;
    bool fromFile;
    uint32_t firstIndex;  // of the bottom-left pixel, the first in the block
    int transparent;
  };
  const Case cases[] = {
      {"a.gif", true, 1, 0},   {"a.GIF", true, 1, 0},  {"a.gif", true, 2, 2},
      {"a.qpx", true, 1, 2},   {"a.gif", false, 1, 2}, {"a.gif.qpx", true, 1, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + (c.fromFile ? " file" : " memory") + " first " + std::to_string(c.firstIndex));
    // 2 x 2: top row 0 2, bottom row first index then 0
    auto index = [&](int x, int y) { return y == 0 ? uint32_t(x * 2) : (x == 0 ? c.firstIndex : 0u); };
    const std::string bytes = QpxFile(2, 2, 8, DibRows(2, 2, 8, index), kPalette);
    CSusie s;
    s.SetFolder(folder.Folder().c_str());
    const std::string path = folder.Write(c.name, bytes);
    ASSERT_EQ(c.fromFile ? s.LoadFile(path.c_str()) : s.LoadMemory(bytes.data(), int64_t(bytes.size())), 1);
    const int indices[2][2] = {{0, 2}, {int(c.firstIndex), 0}};
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 2; ++x)
        EXPECT_EQ(Pixel(s, x, y)[3], indices[y][x] == c.transparent ? 0 : 255) << x << "," << y;
  }
}

TEST(Susie, TrueColourPicturesAreExpandedOrCopied) {
  PluginFolder folder;
  auto colour = [](int x, int y) { return 0x80000000u | uint32_t(x * 0x40 + y) << 8 | 0x11u; };
  // 24 bits: 3 pixels need 9 bytes, padded rows of 12; alpha 255 everywhere
  CSusie s;
  s.SetFolder(folder.Folder().c_str());
  ASSERT_EQ(s.LoadFile(folder.Write("t24.qpx", QpxFile(3, 2, 24, DibRows(3, 2, 24, colour))).c_str()), 1);
  EXPECT_EQ(s.m_nBitsPerPixel, 32);
  EXPECT_EQ(s.m_nSourceBits, 24);
  EXPECT_EQ(Pixel(s, 2, 1), (Bgra{0x11, 0x81, 0x00, 255}));
  EXPECT_EQ(Pixel(s, 0, 0), (Bgra{0x11, 0x00, 0x00, 255}));
  // 32 bits: copied with their alpha
  ASSERT_EQ(s.LoadFile(folder.Write("t32.qpx", QpxFile(3, 2, 32, DibRows(3, 2, 32, colour))).c_str()), 1);
  EXPECT_EQ(s.m_nSourceBits, 32);
  EXPECT_EQ(Pixel(s, 2, 1), (Bgra{0x11, 0x81, 0x00, 0x80}));
  // Rows delivered top row first (negative height) are held bottom first like the rest
  std::string topDown = DibRows(3, 2, 32, colour);
  topDown = topDown.substr(12) + topDown.substr(0, 12);
  ASSERT_EQ(s.LoadFile(folder.Write("td.qpx", QpxFile(3, -2, 32, topDown)).c_str()), 1);
  EXPECT_EQ(s.m_nHeight, 2);
  EXPECT_EQ(Pixel(s, 2, 1), (Bgra{0x11, 0x81, 0x00, 0x80}));
  // Other bit counts are not read
  EXPECT_EQ(s.LoadFile(folder.Write("t16.qpx", QpxFile(3, 2, 16, std::string(16, '\0'))).c_str()), 0);
  EXPECT_EQ(s.m_pPixels, nullptr);
}

TEST(Susie, BitmapFilesTakeTheDirectPathAtTwentyFourAndThirtyTwoBitsOnly) {
  // A filter that claims every picture sits in the folder: a refused bitmap
  // would decode if plug-ins were offered it.
  PluginFolder folder({"catch_all_filter.spi"});
  auto colour = [](int x, int y) { return 0xFF000000u | uint32_t(x) << 16 | uint32_t(y) << 8 | 0x7Fu; };
  struct Case {
    int bits;
    int result;
  };
  for (const Case& c : {Case{24, 1}, Case{32, 1}, Case{16, 0}, Case{8, 0}}) {
    SCOPED_TRACE(c.bits);
    const std::string bytes = BitmapFile(3, 2, c.bits, DibRows(3, 2, c.bits == 16 ? 32 : c.bits, colour),
                                         c.bits == 8 ? kPalette : std::vector<uint32_t>{});
    for (bool fromFile : {true, false}) {
      CSusie s;
      s.SetFolder(folder.Folder().c_str());
      const std::string path = folder.Write("b.bmp", bytes);
      EXPECT_EQ(fromFile ? s.LoadFile(path.c_str()) : s.LoadMemory(bytes.data(), int64_t(bytes.size())), c.result);
      if (!c.result) continue;
      EXPECT_EQ(s.m_decoder, "bitmap");
      EXPECT_EQ(s.m_nSourceBits, c.bits);
      EXPECT_EQ(Pixel(s, 2, 1), (Bgra{0x7F, 1, 2, 255}));
      EXPECT_EQ(s.m_header[0], 40);
      EXPECT_EQ(s.m_header[14], 32);
    }
  }
}

TEST(Susie, DamagedBitmapsAreRefusedWithALogLine) {
  PluginFolder folder;
  const std::string good = BitmapFile(4, 4, 24, DibRows(4, 4, 24, [](int, int) { return 0u; }));
  std::string topDownCut = good.substr(0, good.size() - 1);
  topDownCut.replace(22, 4, std::string("\xFC\xFF\xFF\xFF", 4));
  std::string wide = good;
  wide.replace(18, 4, std::string("\xFF\xFF\xFF\x7F", 4));
  struct Case {
    const char* name;
    std::string bytes;
    const char* log;
  };
  const Case cases[] = {
      {"one byte short", good.substr(0, good.size() - 1), "bitmap refused: pixel data shorter than its header implies"},
      {"top-down one byte short", topDownCut, "pixel data shorter"},
      {"header only", good.substr(0, 54), "pixel data shorter"},
      {"width beyond the bytes", wide, "pixel data shorter"},
      {"pixel offset past the end", good.substr(0, 10) + std::string("\xFF\xFF\x00\x00", 4) + good.substr(14), "header not read"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CSusie s;
    s.SetFolder(folder.Folder().c_str());
    qev::test::LogCapture log;
    EXPECT_EQ(s.LoadMemory(c.bytes.data(), int64_t(c.bytes.size())), 0);
    EXPECT_EQ(s.m_pPixels, nullptr);
    EXPECT_EQ(s.m_nWidth, 0);
    EXPECT_TRUE(log.Contains(c.log)) << log.Text();
    EXPECT_EQ(s.LoadFile(folder.Write("d.bmp", c.bytes).c_str()), 0);
  }
}

TEST(Susie, PluginsHandingBackLessThanTheyPromiseAreRefused) {
  PluginFolder folder;
  const std::string rows = DibRows(8, 8, 32, [](int, int) { return 0xFFFFFFFFu; });
  struct Case {
    uint16_t flags;
    const char* log;
  };
  for (const Case& c : {Case{1, "8 x 8 at 32 bits is larger than its pixel block"}, Case{4, "no bitmap header"}}) {
    SCOPED_TRACE(c.flags);
    CSusie s;
    s.SetFolder(folder.Folder().c_str());
    qev::test::LogCapture log;
    EXPECT_EQ(s.LoadFile(folder.Write("h.qpx", QpxFile(8, 8, 32, rows, {}, c.flags)).c_str()), 0);
    EXPECT_EQ(s.m_pPixels, nullptr);
    EXPECT_TRUE(log.Contains(c.log)) << log.Text();
  }
}

TEST(Susie, WhichLibrariesAreOfferedThePicture) {
  const std::string picture = QpxFile(1, 1, 32, std::string("\x01\x02\x03\x04", 4), {}, 0, "hello");
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> plugins;  // library, installed name
    const char* extension;
    int result;
    Bgra pixel;
  };
  const Bgra ours = {1, 2, 3, 4}, red = {0, 0, 255, 255};
  const Case cases[] = {
      {"the filter", {{"qpx_filter.spi", ""}}, nullptr, 1, ours},
      {"the filter with FreePicture", {{"qpx_filter_free.spi", ""}}, nullptr, 1, ours},
      {"extension matched in any case", {{"qpx_filter.spi", "QPX.SPI"}}, nullptr, 1, ours},
      {"another extension", {{"qpx_filter.spi", "qpx.plg"}}, "plg", 1, ours},
      {"other extensions are not libraries", {{"qpx_filter.spi", "qpx.so"}}, nullptr, 0, {}},
      {"not an import filter", {{"archive_library.spi", ""}}, nullptr, 0, {}},
      {"the same library as a filter", {{"catch_all_filter.spi", ""}}, nullptr, 1, red},
      {"libraries tried in name order", {{"catch_all_filter.spi", "b.spi"}, {"qpx_filter.spi", "a.spi"}}, nullptr, 1, ours},
      {"the first that decodes wins", {{"catch_all_filter.spi", "a.spi"}, {"qpx_filter.spi", "b.spi"}}, nullptr, 1, red},
      {"a file that is not a library", {}, nullptr, 0, {}},
      {"empty folder", {}, nullptr, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PluginFolder folder(std::vector<std::string>{});
    for (const auto& [library, as] : c.plugins) folder.Add(library, as);
    if (!std::strcmp(c.name, "a file that is not a library")) folder.Write("FILES/broken.spi", "not a library");
    const std::string path = folder.Write("p.qpx", picture);
    for (bool fromFile : {true, false}) {
      CSusie s;
      s.SetFolder((folder.Folder() + "/").c_str());
      s.SetExtension(c.extension);
      EXPECT_EQ(fromFile ? s.LoadFile(path.c_str()) : s.LoadMemory(picture.data(), int64_t(picture.size())), c.result);
      if (!c.result) continue;
      EXPECT_EQ(Pixel(s, 0, 0), c.pixel);
      EXPECT_STREQ(s.m_szInfo, c.pixel == ours ? "hello" : "");
    }
  }
}

TEST(Susie, MissingFolderAndMissingFileFail) {
  PluginFolder folder;
  const std::string path = folder.Write("p.qpx", QpxFile(1, 1, 32, std::string(4, '\0')));
  CSusie s;
  s.SetFolder(folder.Dir().Path("NOWHERE").c_str());
  EXPECT_EQ(s.LoadFile(path.c_str()), 0);
  s.SetFolder(folder.Folder().c_str());
  EXPECT_EQ(s.LoadFile(folder.Dir().Path("absent.qpx").c_str()), 0);
  EXPECT_EQ(s.LoadFile(folder.Dir().Path("").c_str()), 0) << "a folder is not a picture";
  EXPECT_EQ(s.LoadMemory(nullptr, 10), 0);
  EXPECT_EQ(s.LoadMemory("QPX1", 0), 0);
}

TEST(Susie, TheDefaultFolderIsFilesInTheCurrentDirectory) {
  PluginFolder folder;
  const std::string bytes = QpxFile(1, 1, 32, std::string(4, '\0'));
  qev::test::ChangeDir here(folder.Dir().Path());
  CSusie s;
  EXPECT_EQ(s.LoadMemory(bytes.data(), int64_t(bytes.size())), 1);
}

TEST(Susie, FileFormRefusedFallsBackToTheMemoryForm) {
  PluginFolder folder;
  CSusie s;
  s.SetFolder(folder.Folder().c_str());
  const std::string path = folder.Write("m.qpx", QpxFile(1, 1, 32, std::string("\x05\x06\x07\x08", 4), {}, 2, "t"));
  ASSERT_EQ(s.LoadFile(path.c_str()), 1);
  EXPECT_EQ(Pixel(s, 0, 0), (Bgra{5, 6, 7, 8}));
  EXPECT_STREQ(s.m_szInfo, "t");
}

TEST(Susie, FileLoadsOfferTheOpenFileFirst) {
  // this picture is only claimed through the file-descriptor form
  PluginFolder folder;
  const std::string bytes = QpxFile(1, 1, 32, std::string("\x05\x06\x07\x08", 4), {}, 8);
  CSusie s;
  s.SetFolder(folder.Folder().c_str());
  EXPECT_EQ(s.LoadFile(folder.Write("f.qpx", bytes).c_str()), 1);
  EXPECT_EQ(s.LoadMemory(bytes.data(), int64_t(bytes.size())), 0);
}

TEST(Susie, InformationTextIsCutAt1023Bytes) {
  PluginFolder folder;
  CSusie s;
  s.SetFolder(folder.Folder().c_str());
  const std::string text(3000, 'x');
  ASSERT_EQ(s.LoadFile(folder.Write("i.qpx", QpxFile(1, 1, 32, std::string(4, '\0'), {}, 0, text)).c_str()), 1);
  EXPECT_EQ(std::string(s.m_szInfo), text.substr(0, 1023));
  s.Clear();
  EXPECT_STREQ(s.m_szInfo, "");
  EXPECT_EQ(s.m_pPixels, nullptr);
  EXPECT_EQ(s.m_nWidth + s.m_nHeight + s.m_nBitsPerPixel + s.m_nRowBytes + s.m_nPixelBytes, 0);
}

}  // namespace
