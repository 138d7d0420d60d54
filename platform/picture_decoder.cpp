#include "platform/picture_decoder.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include <jpeglib.h>

#include "platform/dds_decoder.h"

// The image library is compiled into this file alone, its functions private
// to it, so no other copy in the process can clash with it.
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_STDIO
#define STBI_MAX_DIMENSIONS 16384
// Only the formats textures come in. The library's other readers let a file of
// a few bytes demand gigabytes (floating-point pictures, layered images) or
// overflow on hostile sample ranges (anymaps). JPEG goes to the JPEG library
// instead: this one's JPEG reader shifts by negative bit counts on damaged
// entropy data.
#define STBI_ONLY_PNG
#define STBI_ONLY_BMP
#define STBI_ONLY_TGA
#define STBI_ONLY_GIF
// Zeroed allocations: a damaged file must never see what an earlier
// allocation left behind.
#define STBI_MALLOC(bytes) std::calloc(1, bytes)
#define STBI_REALLOC(block, bytes) std::realloc(block, bytes)
#define STBI_FREE(block) std::free(block)
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#endif
#include <stb/stb_image.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace qev {
namespace {

static_assert(STBI_MAX_DIMENSIONS == kMaxPictureSide, "the library's limit is ours");

uint32_t Read32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint16_t Read16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

bool StartsWith(const uint8_t* data, size_t size, const char* magic, size_t n) {
  return size >= n && std::memcmp(data, magic, n) == 0;
}

// The format the bytes announce by their opening; "TGA" when none, since
// that format has no mark of its own.
const char* Recognise(const uint8_t* data, size_t size) {
  if (IsDds(data, size)) return "DDS";
  if (StartsWith(data, size, "\x89PNG\r\n\x1a\n", 8)) return "PNG";
  // the JPEG reader skips fill bytes before the start-of-image marker
  size_t fill = 0;
  while (fill < size && data[fill] == 0xFF) ++fill;
  if (fill > 0 && fill < size && data[fill] == 0xD8) return "JPG";
  if (StartsWith(data, size, "BM", 2)) return "BMP";
  if (StartsWith(data, size, "GIF8", 4)) return "GIF";
  return "TGA";
}

bool IsTextureFileFormat(const char* format) {
  for (const char* f : {"DDS", "PNG", "JPG", "BMP", "TGA"})
    if (!std::strcmp(f, format)) return true;
  return false;
}

bool IsReadFormat(const char* format, PictureFormats formats) {
  return formats == PictureFormats::kAll || IsTextureFileFormat(format);
}

// A Huffman table's 16 code counts must describe at most 256 codes. Every
// table of every DHT segment is checked before the decoder sees the file, so
// the refusal names the table.
bool CheckJpegTables(const uint8_t* data, size_t size, std::string& why) {
  size_t at = 0;
  while (at + 1 < size) {
    if (data[at] != 0xFF) {  // padding between segments: the library scans on to the next marker
      ++at;
      continue;
    }
    const uint8_t marker = data[at + 1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    at += 2;
    if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;
    if (marker == 0xD9 || at + 2 > size) return true;
    const size_t length = size_t(data[at]) << 8 | data[at + 1];
    if (length < 2) return true;
    if (marker == 0xC4) {
      // A table starts wherever the segment has bytes left; its 16 counts are
      // read whole even past the segment's end, and past the file's end as
      // zeros, which add no codes.
      for (size_t t = at + 2; t < at + length;) {
        size_t codes = 0;
        for (size_t i = t + 1; i <= t + 16 && i < size; ++i) codes += data[i];
        if (codes > 256) {
          why = "JPG Huffman table with " + std::to_string(codes) + " codes";
          return false;
        }
        t += 17 + codes;
      }
    }
    if (at + length > size) return true;
    at += length;
    if (marker == 0xDA) {
      // entropy-coded data: FF 00 is a stuffed byte and FF D0..D7 a restart
      while (at + 1 < size && !(data[at] == 0xFF && data[at + 1] != 0 && (data[at + 1] < 0xD0 || data[at + 1] > 0xD7)))
        ++at;
    }
  }
  return true;
}


// The image library fills pixels past the end of uncompressed bitmap and
// targa data with zeros instead of failing; such files are refused here.
bool CheckBmpBody(const uint8_t* data, size_t size, std::string& why) {
  if (size < 30) {
    why = "BMP header cut short";
    return false;
  }
  const uint32_t offset = Read32(data + 10), headerSize = Read32(data + 14);
  int64_t width, height;
  uint32_t bits, compression = 0;
  if (headerSize == 12) {
    width = Read16(data + 18);
    height = int16_t(Read16(data + 20));
    bits = Read16(data + 24);
  } else {
    if (size < 34) {
      why = "BMP header cut short";
      return false;
    }
    width = int32_t(Read32(data + 18));
    height = int32_t(Read32(data + 22));
    bits = Read16(data + 28);
    compression = Read32(data + 30);
  }
  // Run-length and embedded bodies have no size to check; the library refuses them.
  if (compression != 0 && compression != 3) return true;
  if (height < 0) height = -height;
  if (width <= 0 || height == 0 || bits == 0 || bits > 32) return true;  // refused by the library
  const uint64_t stride = ((uint64_t(width) * bits + 31) / 32) * 4;
  if (uint64_t(offset) + stride * uint64_t(height) > size) {
    why = "BMP pixel data shorter than its header implies";
    return false;
  }
  return true;
}

bool CheckTgaBody(const uint8_t* data, size_t size, std::string& why) {
  // The library reads a header cut short on with zeros. Bytes this short
  // carry no mark of any format: they are no picture.
  if (size < 18) {
    why.clear();
    return false;
  }
  const uint32_t idLength = data[0], mapType = data[1], imageType = data[2];
  const uint32_t mapLength = Read16(data + 5), mapEntryBits = data[7];
  const uint64_t width = Read16(data + 12), height = Read16(data + 14), bits = data[16];
  const uint64_t header = 18 + idLength + (mapType ? uint64_t(mapLength) * ((mapEntryBits + 7) / 8) : 0);
  const uint64_t pixels = width * height, pixelBytes = (bits + 7) / 8;
  if (imageType >= 1 && imageType <= 3) {
    if (header + pixels * pixelBytes > size) {
      why = "TGA pixel data shorter than its header implies";
      return false;
    }
  } else if (imageType >= 9 && imageType <= 11) {
    // one run packet of 1 + pixelBytes bytes covers at most 128 pixels
    const uint64_t body = size > header ? size - header : 0;
    if (pixels > (body / (1 + pixelBytes) + 1) * 128) {
      why = "TGA run-length data shorter than its header implies";
      return false;
    }
  }
  return true;
}


// ---- JPEG through the JPEG library ----

// The library reports a fatal error by calling error_exit, which must not
// return: it jumps back to the decode with the library's message kept.
struct JpegError {
  jpeg_error_mgr manager;
  std::jmp_buf back;
  char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void JpegErrorExit(j_common_ptr info) {
  JpegError* error = reinterpret_cast<JpegError*>(info->err);
  info->err->format_message(info, error->message);
  std::longjmp(error->back, 1);
}

// Warnings (damaged entropy data, a premature end) are left to the decoder,
// which fills what is missing; nothing is printed.
void JpegQuiet(j_common_ptr, int) {}

// A progressive file can announce scan after scan of nothing; each costs a
// pass over the whole picture. Real files have a dozen.
constexpr int kMaxJpegScans = 256;

void JpegProgress(j_common_ptr info) {
  if (!info->is_decompressor) return;
  j_decompress_ptr d = reinterpret_cast<j_decompress_ptr>(info);
  if (d->input_scan_number > kMaxJpegScans) {
    JpegError* error = reinterpret_cast<JpegError*>(info->err);
    std::snprintf(error->message, sizeof error->message, "more than %d scans", kMaxJpegScans);
    std::longjmp(error->back, 1);
  }
}

// Decodes a JPEG into blue-green-red-alpha rows. Grey and colour files come out
// as they are; inverted CMYK (and YCCK), as publishing tools store it, is
// multiplied out by its black.
// The library jumps back here on an error: what the decode changes after the
// jump point lives behind references (`out`, `row`), never in this frame's
// own variables.
bool DecodeJpegRows(const uint8_t* data, size_t size, DecodedPicture& out, std::vector<uint8_t>& row,
                    std::string& why) {
  jpeg_decompress_struct info;
  JpegError error;
  jpeg_progress_mgr progress;
  std::memset(&info, 0, sizeof info);
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = JpegErrorExit;
  error.manager.emit_message = JpegQuiet;
  error.message[0] = 0;
  progress.progress_monitor = JpegProgress;
  if (setjmp(error.back)) {
    jpeg_destroy_decompress(&info);
    why = std::string("JPG: ") + error.message;
    return false;
  }
  jpeg_create_decompress(&info);
  info.progress = &progress;
  info.mem->max_memory_to_use = 512L << 20;
  jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
  jpeg_read_header(&info, TRUE);
  const int64_t width = info.image_width, height = info.image_height;
  if (width <= 0 || height <= 0 || width > kMaxPictureSide || height > kMaxPictureSide ||
      width * height > kMaxPicturePixels) {
    why = "JPG size " + std::to_string(width) + " x " + std::to_string(height) + " out of range";
    jpeg_destroy_decompress(&info);
    return false;
  }
  const int components = info.num_components;
  const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
  info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
  jpeg_start_decompress(&info);
  out.pixels.assign(size_t(width) * size_t(height) * 4, 0);
  row.resize(size_t(width) * 4);
  while (info.output_scanline < info.output_height) {
    const size_t y = info.output_scanline;
    uint8_t* target = out.pixels.data() + y * size_t(width) * 4;
    JSAMPROW rows[1] = {cmyk ? row.data() : target};
    if (jpeg_read_scanlines(&info, rows, 1) != 1) break;
    if (cmyk) {
      for (size_t x = 0; x < size_t(width); ++x) {
        const uint8_t* p = &row[x * 4];
        const unsigned black = p[3];
        target[x * 4 + 0] = uint8_t((p[2] * black + 127) / 255);
        target[x * 4 + 1] = uint8_t((p[1] * black + 127) / 255);
        target[x * 4 + 2] = uint8_t((p[0] * black + 127) / 255);
        target[x * 4 + 3] = 255;
      }
    }
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  out.width = int(width);
  out.height = int(height);
  out.format = "JPG";
  out.bits = (cmyk ? 3 : components) * 8;
  return true;
}

bool DecodeJpeg(const uint8_t* data, size_t size, DecodedPicture& out, std::string& why) {
  std::vector<uint8_t> row;  // one CMYK row on its way to blue-green-red
  return DecodeJpegRows(data, size, out, row, why);
}

}  // namespace

int DecodePicture(const uint8_t* data, size_t size, PictureFormats formats, DecodedPicture& out,
                  std::string* why) {
  out = DecodedPicture();
  std::string reason;
  auto fail = [&](std::string text) {
    out = DecodedPicture();
    if (why) *why = std::move(text);
    return 0;
  };
  if (!data || size == 0) return fail("");
  const char* format = Recognise(data, size);
  if (!IsReadFormat(format, formats)) return fail("");
  if (!std::strcmp(format, "DDS")) {
    if (!DecodeDds(data, size, out, reason)) return fail(reason);
    if (why) why->clear();
    return 1;
  }
  if (size > size_t(std::numeric_limits<int>::max())) return fail("picture file too large");
  if (!std::strcmp(format, "BMP") && !CheckBmpBody(data, size, reason)) return fail(reason);
  if (!std::strcmp(format, "TGA") && !CheckTgaBody(data, size, reason)) return fail(reason);
  if (!std::strcmp(format, "JPG")) {
    if (!CheckJpegTables(data, size, reason)) return fail(reason);
    // the decoder wants the start-of-image marker first: fill bytes before it go
    size_t fill = 0;
    while (data[fill + 1] == 0xFF) ++fill;
    if (!DecodeJpeg(data + fill, size - fill, out, reason)) return fail(reason);
    if (why) why->clear();
    return 1;
  }

  int width = 0, height = 0, channels = 0;
  if (!stbi_info_from_memory(data, int(size), &width, &height, &channels)) {
    // a format with a mark that fails is damaged; bytes without one are simply not a picture
    return fail(std::strcmp(format, "TGA") ? std::string(format) + ": " + stbi_failure_reason() : "");
  }
  // A bitmap stored top row first announces its height negated.
  int64_t rows = height;
  if (!std::strcmp(format, "BMP") && rows < 0) rows = -rows;
  if (width <= 0 || rows <= 0 || int64_t(width) * rows > kMaxPicturePixels)
    return fail(std::string(format) + " size " + std::to_string(width) + " x " + std::to_string(height) +
                " out of range");
  stbi_uc* rgba = stbi_load_from_memory(data, int(size), &width, &height, &channels, 4);
  if (!rgba) return fail(std::string(format) + ": " + stbi_failure_reason());
  out.width = width;
  out.height = height;
  out.format = format;
  out.bits = channels * 8;
  out.pixels.resize(size_t(width) * height * 4);
  uint8_t* d = out.pixels.data();
  for (size_t i = 0; i < size_t(width) * height; ++i, d += 4) {
    d[0] = rgba[i * 4 + 2];
    d[1] = rgba[i * 4 + 1];
    d[2] = rgba[i * 4 + 0];
    d[3] = rgba[i * 4 + 3];
  }
  stbi_image_free(rgba);
  if (why) why->clear();
  return 1;
}

}  // namespace qev
