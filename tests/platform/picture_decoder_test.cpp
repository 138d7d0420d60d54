// The direct decoders: known pixels through every format, the two format
// sets, and damaged or oversized files refused before anything is allocated.
#include "platform/picture_decoder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

#include "platform/picture_encoder.h"
#include "tools/fixtures/picture_fixtures.h"

namespace {

using qev::DecodedPicture;
using qev::PictureFileType;
using qev::PictureFormats;

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

// A 3 x 2 picture, top row first: red, green, blue / white, black, half-transparent grey.
const uint8_t kPicture[] = {0, 0, 255, 255,  0, 255, 0, 255,  255, 0, 0, 255,
                            255, 255, 255, 255,  0, 0, 0, 255,  128, 128, 128, 128};

// A 1 x 1 picture in the interchange format: a two-entry palette (red,
// black), index 0.
const std::string kGif("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\x00\x00\x00\x00\x00"
                       ",\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;",
                       35);

TEST(PictureDecoder, KnownPixelsThroughEveryWriterFormat) {
  struct Case {
    PictureFileType type;
    bool alpha;
    const char* format;
    int tolerance;  // the lossy format only comes close
  };
  const Case cases[] = {
      {PictureFileType::kPng, true, "PNG", 0},
      {PictureFileType::kBmp, false, "BMP", 0},
      {PictureFileType::kBmp, true, "BMP", 0},
      {PictureFileType::kTga, false, "TGA", 0},
      {PictureFileType::kTga, true, "TGA", 0},
      {PictureFileType::kTgaRle, true, "TGA", 0},
      {PictureFileType::kJpg, false, "JPG", 80},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format + std::string(c.alpha ? " with alpha" : " without alpha"));
    const std::string file = qev::EncodePicture(c.type, 3, 2, kPicture, c.alpha);
    ASSERT_FALSE(file.empty());
    for (PictureFormats set : {PictureFormats::kTextureFiles, PictureFormats::kAll}) {
      DecodedPicture picture;
      std::string why = "stale";
      ASSERT_EQ(qev::DecodePicture(Bytes(file), file.size(), set, picture, &why), 1) << why;
      EXPECT_EQ(why, "");
      EXPECT_EQ(picture.format, c.format);
      ASSERT_EQ(picture.width, 3);
      ASSERT_EQ(picture.height, 2);
      ASSERT_EQ(picture.pixels.size(), sizeof kPicture);
      for (size_t i = 0; i < sizeof kPicture; ++i) {
        const int expected = (i % 4 == 3 && !c.alpha) ? 255 : kPicture[i];
        EXPECT_LE(std::abs(int(picture.pixels[i]) - expected), c.tolerance) << "byte " << i;
      }
    }
  }
}

TEST(PictureDecoder, TopDownBitmapsReadTheirFirstRowAsTheTop) {
  // A negative height stores the rows top row first; the picture is the same.
  auto colour = [](int x, int y) { return uint32_t(x) << 16 | uint32_t(y) << 8 | 0x40u; };
  for (int bits : {24, 32}) {
    SCOPED_TRACE(bits);
    const std::string bottomUp = qev::fixtures::DibRows(3, 2, bits, colour);
    const size_t stride = bottomUp.size() / 2;
    std::string file = qev::fixtures::BitmapFile(3, 2, bits, bottomUp.substr(stride) + bottomUp.substr(0, stride));
    file.replace(22, 4, std::string("\xFE\xFF\xFF\xFF", 4));  // height -2
    DecodedPicture picture;
    std::string why;
    ASSERT_EQ(qev::DecodePicture(Bytes(file), file.size(), PictureFormats::kTextureFiles, picture, &why), 1) << why;
    ASSERT_EQ(picture.width, 3);
    ASSERT_EQ(picture.height, 2);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) {
        const uint8_t* p = picture.pixels.data() + (size_t(y) * 3 + x) * 4;
        EXPECT_EQ(p[0], 0x40);
        EXPECT_EQ(p[1], y) << x << "," << y;
        EXPECT_EQ(p[2], x) << x << "," << y;
      }
  }
}

TEST(PictureDecoder, InterchangeFormatOnlyInTheWiderSet) {
  DecodedPicture picture;
  std::string why = "stale";
  EXPECT_EQ(qev::DecodePicture(Bytes(kGif), kGif.size(), PictureFormats::kTextureFiles, picture, &why), 0);
  EXPECT_EQ(why, "") << "an unread format is not a damaged file";
  EXPECT_TRUE(picture.pixels.empty());
  ASSERT_EQ(qev::DecodePicture(Bytes(kGif), kGif.size(), PictureFormats::kAll, picture, &why), 1) << why;
  EXPECT_EQ(picture.format, "GIF");
  ASSERT_EQ(picture.pixels.size(), 4u);
  EXPECT_EQ(picture.pixels, (std::vector<uint8_t>{0, 0, 255, 255}));
}

TEST(PictureDecoder, DamagedAndHostileFilesAreRefused) {
  const std::string png = qev::EncodePicture(PictureFileType::kPng, 3, 2, kPicture);
  const std::string rows24 = qev::fixtures::DibRows(100, 100, 24, [](int, int) { return 0xFF00FFu; });
  const std::string bmp = qev::fixtures::BitmapFile(100, 100, 24, rows24);
  std::string hugeBmp = qev::fixtures::BitmapFile(1, 1, 24, std::string(4, '\0'));
  hugeBmp.replace(18, 8, std::string("\x00\x40\x00\x00\x00\x40\x00\x00", 8));  // 16384 x 16384
  std::string lowestHeight = qev::fixtures::BitmapFile(1, 1, 24, std::string(4, '\0'));
  lowestHeight.replace(22, 8, std::string("\x00\x00\x00\x80\x01\x00\x00\x00", 8));  // top-down 2^31 rows, 0 bits
  std::string tga = qev::EncodePicture(PictureFileType::kTga, 3, 2, kPicture, false);
  std::string rleTga(18, '\0');  // run-length true colour, 65535 x 65535, no body
  rleTga[2] = 10;
  rleTga[12] = rleTga[13] = rleTga[14] = rleTga[15] = char(0xFF);
  rleTga[16] = 24;
  struct Case {
    const char* name;
    std::string bytes;
    const char* why;  // fragment of the reason; "" for bytes that are simply not a picture
  };
  const Case cases[] = {
      {"empty", "", ""},
      {"unknown bytes", "QPX1 is not ours to read", ""},
      {"bitmap cut short", bmp.substr(0, bmp.size() - 1), "BMP pixel data shorter than its header implies"},
      {"bitmap header only", bmp.substr(0, 54), "BMP pixel data shorter"},
      {"bitmap header cut", bmp.substr(0, 20), "BMP header cut short"},
      {"bitmap too large for its bytes", hugeBmp, "BMP pixel data shorter"},
      {"bitmap with the lowest height", lowestHeight, "BMP size 1 x -2147483648 out of range"},
      {"png cut in half", png.substr(0, png.size() / 2), "PNG"},
      {"png signature only", png.substr(0, 8), "PNG"},
      {"targa cut short", tga.substr(0, tga.size() - 1), "TGA pixel data shorter than its header implies"},
      {"targa header cut short", tga.substr(0, 17), ""},
      {"run-length targa without body", rleTga, "TGA run-length data shorter"},
      // a table of 769 codes in a segment cut short: the reader would write past its tables
      {"jpeg table overflowing", std::string("\xFF\xD8\xFF\xC4\x05\xA2\x00\x00\x01\x03\xFF\xFF\xFF", 13),
       "JPG Huffman table with 769 codes"},
      {"jpeg table after fill bytes", std::string("\xFF\xFF\xFF\xD8\xFF\xC4\x00\x20\x00\x00\x01\x03\xFF\xFF", 14),
       "JPG Huffman table with 514 codes"},
      {"jpeg table counts past a short segment", std::string("\xFF\xD8\xFF\xC4\x00\x04\x01\x00\xB6\xF9\x1A\xC0\x00", 13),
       "JPG Huffman table with 649 codes"},
      {"jpeg table after padding", std::string("\xFF\xD8\x00\x00\xFF\xC4\x00\x20\x00\x00\x00\x03\xFF\xFF", 14),
       "JPG Huffman table with 513 codes"},
      // formats not read at all
      {"portable anymap", std::string("P6\n1 1\n255\n\x01\x02\x03", 14), ""},
      {"floating-point picture", std::string("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 4096 +X 16384\n"), ""},
      {"layered image", std::string("8BPS\x00\x01", 6) + std::string(20, '\0'), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (PictureFormats set : {PictureFormats::kTextureFiles, PictureFormats::kAll}) {
      DecodedPicture picture;
      picture.width = 7;
      std::string why = "stale";
      EXPECT_EQ(qev::DecodePicture(Bytes(c.bytes), c.bytes.size(), set, picture, &why), 0);
      EXPECT_EQ(picture.width, 0);
      EXPECT_TRUE(picture.pixels.empty());
      if (*c.why)
        EXPECT_NE(why.find(c.why), std::string::npos) << why;
      else
        EXPECT_EQ(why, "");
    }
  }
}

TEST(PictureDecoder, PicturesBeyondTheSizeLimitAreRefused) {
  // A png header may announce any size; the limit applies before decoding.
  std::vector<uint8_t> wide(size_t(8192) * 1 * 4, 255);
  const std::string ok = qev::EncodePicture(PictureFileType::kPng, 8192, 1, wide.data());
  DecodedPicture picture;
  EXPECT_EQ(qev::DecodePicture(Bytes(ok), ok.size(), PictureFormats::kAll, picture), 1);
  std::string big = ok;
  big.replace(16, 8, std::string("\x00\x00\x40\x00\x00\x00\x40\x00", 8));  // 16384 x 16384, crc now wrong
  std::string why;
  EXPECT_EQ(qev::DecodePicture(Bytes(big), big.size(), PictureFormats::kAll, picture, &why), 0);
  EXPECT_FALSE(why.empty());
}

// A JPEG of one flat colour written by the JPEG library itself, in the
// colour space asked for; progressive when asked.
std::string FlatJpeg(J_COLOR_SPACE space, int components, const uint8_t* sample, bool progressive = false) {
  jpeg_compress_struct info;
  jpeg_error_mgr error;
  info.err = jpeg_std_error(&error);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = 16;
  info.image_height = 16;
  info.input_components = components;
  info.in_color_space = space;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 95, TRUE);
  if (progressive) jpeg_simple_progression(&info);
  jpeg_start_compress(&info, TRUE);
  std::vector<uint8_t> row(16 * components);
  for (int x = 0; x < 16; ++x) std::copy(sample, sample + components, &row[x * components]);
  while (info.next_scanline < info.image_height) {
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::string file(reinterpret_cast<char*>(buffer), size);
  std::free(buffer);
  return file;
}

TEST(PictureDecoder, JpegColourSpacesComeOutAsBlueGreenRed) {
  const uint8_t grey[] = {100};
  const uint8_t rgb[] = {200, 60, 20};
  // inverted CMYK as one publisher's files store it: the black multiplies out
  const uint8_t cmyk[] = {255, 128, 255, 200};
  struct Case {
    const char* name;
    std::string file;
    uint8_t blue, green, red;
    int bits;
  };
  const Case cases[] = {
      {"grey", FlatJpeg(JCS_GRAYSCALE, 1, grey), 100, 100, 100, 8},
      {"colour", FlatJpeg(JCS_RGB, 3, rgb), 20, 60, 200, 24},
      {"progressive colour", FlatJpeg(JCS_RGB, 3, rgb, true), 20, 60, 200, 24},
      {"cmyk", FlatJpeg(JCS_CMYK, 4, cmyk), 200, 100, 200, 24},
      {"colour after fill bytes", "\xFF\xFF" + FlatJpeg(JCS_RGB, 3, rgb), 20, 60, 200, 24},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DecodedPicture picture;
    std::string why;
    ASSERT_EQ(qev::DecodePicture(Bytes(c.file), c.file.size(), PictureFormats::kTextureFiles, picture, &why), 1)
        << why;
    EXPECT_EQ(picture.format, "JPG");
    EXPECT_EQ(picture.bits, c.bits);
    ASSERT_EQ(picture.width, 16);
    ASSERT_EQ(picture.height, 16);
    for (size_t at : {size_t(0), picture.pixels.size() - 4}) {
      EXPECT_NEAR(picture.pixels[at + 0], c.blue, 4) << "byte " << at;
      EXPECT_NEAR(picture.pixels[at + 1], c.green, 4) << "byte " << at;
      EXPECT_NEAR(picture.pixels[at + 2], c.red, 4) << "byte " << at;
      EXPECT_EQ(picture.pixels[at + 3], 255);
    }
  }
}

TEST(PictureDecoder, DamagedJpegsNeitherCrashNorRunOn) {
  const uint8_t rgb[] = {200, 60, 20};
  const std::string whole = FlatJpeg(JCS_RGB, 3, rgb, true);
  // Cut anywhere: a picture of the announced size (what is missing filled in)
  // or a refusal that names the format.
  for (size_t size = 1; size < whole.size(); ++size) {
    SCOPED_TRACE(size);
    DecodedPicture picture;
    std::string why;
    if (qev::DecodePicture(Bytes(whole), size, PictureFormats::kTextureFiles, picture, &why)) {
      EXPECT_EQ(picture.pixels.size(), size_t(16 * 16 * 4));
    } else {
      EXPECT_TRUE(picture.pixels.empty());
      if (!why.empty()) {
        EXPECT_EQ(why.substr(0, 3), "JPG");
      }
    }
  }
  // The last scan repeated until the file announces hundreds of them: each
  // would cost a pass over the picture, so the file is refused.
  const size_t lastScan = whole.rfind("\xFF\xDA");
  const size_t end = whole.rfind("\xFF\xD9");
  ASSERT_NE(lastScan, std::string::npos);
  ASSERT_NE(end, std::string::npos);
  std::string scans = whole.substr(0, end);
  for (int i = 0; i < 300; ++i) scans += whole.substr(lastScan, end - lastScan);
  scans += "\xFF\xD9";
  DecodedPicture picture;
  std::string why;
  EXPECT_EQ(qev::DecodePicture(Bytes(scans), scans.size(), PictureFormats::kTextureFiles, picture, &why), 0);
  EXPECT_EQ(why, "JPG: more than 256 scans");
}

}  // namespace
