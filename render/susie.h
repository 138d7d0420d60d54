// CSusie: decodes pictures that the direct decoders cannot read, by offering
// them to every import-filter plug-in library in a folder in turn, and turns
// what a plug-in returns into 32-bit blue-green-red-alpha rows.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/image_plugin.h"

class CSusie {
 public:
  CSusie() = default;
  CSusie(const CSusie&) = delete;
  CSusie& operator=(const CSusie&) = delete;
  virtual ~CSusie();

  // Copies the folder, removing one trailing separator.
  void SetFolder(const char* folder);
  // Copies the extension (at most 31 characters); null restores "spi".
  void SetExtension(const char* extension);
  // Decodes a picture file (native path); 1 when a picture is held.
  int LoadFile(const char* name);
  // Decodes a complete file image held in memory.
  int LoadMemory(const void* data, int64_t count);
  void Clear();

  // The last step of a plug-in decode: a BITMAPINFO block (header, palette)
  // and a block of rows become this object's pixels. `gifFile`: the picture
  // came from a file named "*.gif", whose transparent index is 0 unless the
  // first pixel has the highest index. 1 when the bit count is 4, 8, 24 or 32
  // and both blocks hold everything the header describes.
  int Convert(const uint8_t* info, size_t infoBytes, const uint8_t* bits, size_t bitsBytes, bool gifFile);

  // Entries of the plug-in being tried.
  GetPluginInfoProc m_pGetPluginInfo = nullptr;
  IsSupportedProc m_pIsSupported = nullptr;
  GetPictureInfoProc m_pGetPictureInfo = nullptr;
  GetPictureProc m_pGetPicture = nullptr;
  FreePictureProc m_pFreePicture = nullptr;  // optional export
  std::string m_extension = "spi";
  std::string m_folder = "./FILES";  // without a trailing separator
  int m_nWidth = 0;
  int m_nHeight = 0;
  int m_nBitsPerPixel = 0;  // 32 after a successful load: every picture is expanded to it
  int m_nRowBytes = 0;      // ((bits per pixel x width + 31) / 32) x 4
  uint8_t* m_pPixels = nullptr;  // rows, bottom row first, owned
  int m_nPixelBytes = 0;
  // The picture's BITMAPINFOHEADER and the 4 bytes after it; its bit count is
  // the held pixels' (32).
  uint8_t m_header[44] = {};
  char m_szInfo[1024] = {};  // the plug-in's text information, zero-terminated
  // The bit count the file or plug-in delivered, before expansion.
  int m_nSourceBits = 0;
  // What decoded the held picture: "bitmap" for the direct "BM" path, else the
  // plug-in library's file name followed by its description in parentheses.
  std::string m_decoder;

 private:
  // The direct path for a "BM" block of `bytes` bytes (24 and 32 bits only).
  int TakeBitmap(const uint8_t* data, size_t bytes);
  // Offers the picture to the plug-ins; `name` is null and `fd` -1 for a
  // memory image, whose only form is `data`.
  int TryPlugins(const char* name, int fd, const uint8_t* data, size_t dataBytes);
  int TryPlugin(const std::string& library, const char* name, int fd, const uint8_t* data, size_t dataBytes);
  // Hands the two handles of GetPicture back to the plug-in or frees them.
  void ReleasePicture(HLOCAL info, HLOCAL bits);
  // Sizes the held picture (32 bits, zeroed); 0 when out of range.
  int Allocate(int width, int height);
};
