// CDDTexPro90: one texture and the sizes of the picture it holds, loaded from a
// picture file or a file image in memory. Common formats go to the direct
// decoders; any other file is tried from memory and then by the image plug-ins.
#pragma once
#include <cstdint>
#include <string>

#include "platform/d3d9.h"
#include "platform/picture_decoder.h"

class CSusie;

class CDDTexPro90 {
 public:
  CDDTexPro90() = default;
  CDDTexPro90(const CDDTexPro90&) = delete;
  CDDTexPro90& operator=(const CDDTexPro90&) = delete;
  virtual ~CDDTexPro90();

  // Releases the texture, then loads a picture file (native path). A path that
  // does not exist as written is looked up ignoring case, one folder at a time:
  // model files name their textures as a case-insensitive file system found them.
  int LoadFile(const char* path, IDirect3DDevice9* device);
  // The picture LoadFile would make a texture of, by the same route (the
  // direct decoders by name, then from memory, then the plug-ins), as it is
  // in the file: blue-green-red-alpha rows, top row first, in out->pixels.
  // No device is needed and nothing is held. 1, or 0 as LoadFile fails.
  int ReadPicture(const char* path, qev::DecodedPicture* out) const;
  // Releases the texture, then loads a complete file image held in memory.
  int LoadMemory(IDirect3DDevice9* device, const void* data, int64_t count);
  // Releases the texture and creates an empty one of the next powers of two.
  int CreateBlank(IDirect3DDevice9* device, int width, int height);
  // Locks level 0 whole; 0 when already locked or the lock fails.
  int Lock(int* pitch, void** bits);
  // 0 when not locked; else 1 when the unlock succeeded.
  int Unlock();
  // Back to empty: the texture (unlocked first) is released, sizes zeroed.
  void Release();

  IDirect3DTexture9* m_pTexture = nullptr;  // owned; set as a material's stage-0 texture
  int m_nImageWidth = 0;    // the picture's own size
  int m_nImageHeight = 0;
  int m_nTextureWidth = 0;  // the size of the texture's surface for plug-in pictures,
  int m_nTextureHeight = 0; // the picture's size for decoded ones (their surface is scaled)
  int m_bLocked = 0;
  std::string m_pluginFolder = "./FILES";  // relative to the program folder, the working directory
  std::string m_pluginExtension = "spi";

  // What made the held picture, for the headless tool: the route ("decoder"
  // or "plug-in"), the format or plug-in, the file's bits per pixel and the
  // plug-in's information text.
  std::string m_route;
  std::string m_decoder;
  int m_nSourceBits = 0;
  std::string m_info;

 private:
  // A decoded picture (top row first) into a new texture of the next powers of
  // two, scaled to fill it by nearest pixel as the direct loaders do.
  int TakeDecoded(IDirect3DDevice9* device, int width, int height, const uint8_t* pixels);
  // The plug-ins' picture into the top-left corner of a new blank texture.
  int TakePlugin(IDirect3DDevice9* device, const CSusie& picture);
};
