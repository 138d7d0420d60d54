/* A library with every export of an import filter whose version text names an
 * archive extractor ("00AM"): it must never be offered pictures. Were it
 * asked, it would claim every picture and return a 1 x 1 red one. Built with
 * CATCH_ALL_FILTER it calls itself an import filter ("00IN") and does just that. */
#include "platform/image_plugin.h"

#define EXPORT __attribute__((visibility("default")))

EXPORT int GetPluginInfo(int infono, char* buf, int buflen) {
  if (infono != 0 || buflen < 4) return 0;
#ifdef CATCH_ALL_FILTER
  memcpy(buf, "00IN", 4);
#else
  memcpy(buf, "00AM", 4);
#endif
  return 4;
}

EXPORT int IsSupported(const char* filename, void* dw) {
  (void)filename;
  (void)dw;
  return 1;
}

EXPORT int GetPictureInfo(const char* buf, int32_t len, unsigned int flag, PictureInfo* info) {
  (void)buf;
  (void)len;
  (void)flag;
  memset(info, 0, sizeof *info);
  info->width = info->height = 1;
  info->colorDepth = 32;
  return 0;
}

EXPORT int GetPicture(const char* buf, int32_t len, unsigned int flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
                      ImagePluginProgress progress, intptr_t lData) {
  BITMAPINFOHEADER header;
  static const unsigned char red[4] = {0, 0, 255, 255};
  (void)buf;
  (void)len;
  (void)flag;
  (void)progress;
  (void)lData;
  memset(&header, 0, sizeof header);
  header.biSize = sizeof header;
  header.biWidth = header.biHeight = 1;
  header.biPlanes = 1;
  header.biBitCount = 32;
  *pHBInfo = LocalAlloc(LMEM_FIXED, sizeof header);
  *pHBm = LocalAlloc(LMEM_FIXED, 4);
  if (!*pHBInfo || !*pHBm) return 4;
  memcpy(*pHBInfo, &header, sizeof header);
  memcpy(*pHBm, red, 4);
  return 0;
}
