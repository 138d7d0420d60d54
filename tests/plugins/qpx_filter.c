/* A test import filter for a small picture format of our own, "QPX1": a 22-byte
 * header, an information text, a palette and device-independent rows.
 *   0 "QPX1"   4 width (u32)   8 height (i32, as in a DIB)   12 bits (u16)
 *   14 flags (u16)   16 palette entries (u32)   20 text length (u16)
 *   22 text, then palette entries x 4 bytes, then the rows as they are.
 * Flags make the filter misbehave the way careless plug-ins do:
 *   1 the pixel handle is half the size the header implies
 *   2 the file-name form of GetPictureInfo and GetPicture fails
 *   4 the info handle is shorter than a bitmap header
 *   8 IsSupported accepts only the file-descriptor form
 * Built with QPX_FREE_PICTURE it also exports FreePicture. */
#define _XOPEN_SOURCE 700 /* pread */
#include <stdio.h>
#include <unistd.h>

#include "platform/image_plugin.h"

#define EXPORT __attribute__((visibility("default")))

typedef struct Qpx {
  uint32_t width;
  int32_t height;
  uint16_t bits, flags;
  uint32_t entries;
  uint16_t textLength;
  const unsigned char* text;
  const unsigned char* palette;
  const unsigned char* rows;
  size_t rowBytes; /* bytes of rows present */
} Qpx;

static uint32_t Get32(const unsigned char* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}
static uint16_t Get16(const unsigned char* p) { return (uint16_t)(p[0] | p[1] << 8); }

static int Parse(const unsigned char* data, size_t size, Qpx* q) {
  size_t at;
  if (size < 22 || memcmp(data, "QPX1", 4) != 0) return 0;
  q->width = Get32(data + 4);
  q->height = (int32_t)Get32(data + 8);
  q->bits = Get16(data + 12);
  q->flags = Get16(data + 14);
  q->entries = Get32(data + 16);
  q->textLength = Get16(data + 20);
  if (q->entries > 256) return 0;
  at = 22 + (size_t)q->textLength;
  if (at + (size_t)q->entries * 4 > size) return 0;
  q->text = data + 22;
  q->palette = data + at;
  at += (size_t)q->entries * 4;
  q->rows = data + at;
  q->rowBytes = size - at;
  return 1;
}

/* The picture's bytes, from a file name and offset or from memory; the caller
 * frees *owned. */
static const unsigned char* Source(const char* buf, int32_t len, unsigned int flag, size_t* size,
                                   unsigned char** owned) {
  FILE* f;
  long end;
  *owned = NULL;
  if ((flag & 7) == 1) {
    *size = (size_t)len;
    return (const unsigned char*)buf;
  }
  f = fopen(buf, "rb");
  if (!f) return NULL;
  if (fseek(f, 0, SEEK_END) != 0 || (end = ftell(f)) < len || fseek(f, len, SEEK_SET) != 0) {
    fclose(f);
    return NULL;
  }
  *size = (size_t)(end - len);
  *owned = (unsigned char*)malloc(*size ? *size : 1);
  if (!*owned || fread(*owned, 1, *size, f) != *size) {
    free(*owned);
    *owned = NULL;
    fclose(f);
    return NULL;
  }
  fclose(f);
  return *owned;
}

static int CopyText(char* buf, int buflen, const char* text) {
  int n = (int)strlen(text);
  if (buflen <= 0) return 0;
  if (n > buflen) n = buflen;
  memcpy(buf, text, (size_t)n);
  if (n < buflen) buf[n] = '\0';
  return n;
}

EXPORT int GetPluginInfo(int infono, char* buf, int buflen) {
  static const char* const texts[] = {"00IN", "QPX test filter", "*.qpx", "QPX picture"};
  if (infono < 0 || infono > 3) return 0;
  return CopyText(buf, buflen, texts[infono]);
}

EXPORT int IsSupported(const char* filename, void* dw) {
  unsigned char head[16];
  (void)filename;
  if (IMAGE_PLUGIN_IS_FILE(dw)) {
    if (pread(IMAGE_PLUGIN_FILE(dw), head, sizeof head, 0) != (ssize_t)sizeof head) return 0;
  } else {
    memcpy(head, dw, sizeof head);
    if (Get16(head + 14) & 8) return 0;
  }
  return memcmp(head, "QPX1", 4) == 0;
}

EXPORT int GetPictureInfo(const char* buf, int32_t len, unsigned int flag, PictureInfo* info) {
  unsigned char* owned;
  size_t size;
  Qpx q;
  const unsigned char* data = Source(buf, len, flag, &size, &owned);
  int ok = data && Parse(data, size, &q) && !((q.flags & 2) && (flag & 7) == 0);
  if (ok) {
    info->left = info->top = 0;
    info->width = (int32_t)q.width;
    info->height = q.height < 0 ? -q.height : q.height;
    info->x_density = info->y_density = 0;
    info->colorDepth = (int16_t)q.bits;
    info->hInfo = NULL;
    if (q.textLength) {
      info->hInfo = LocalAlloc(LMEM_MOVEABLE, q.textLength);
      if (info->hInfo) memcpy(LocalLock(info->hInfo), q.text, q.textLength), LocalUnlock(info->hInfo);
    }
  }
  free(owned);
  return ok ? 0 : 2;
}

EXPORT int GetPicture(const char* buf, int32_t len, unsigned int flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
                      ImagePluginProgress progress, intptr_t lData) {
  unsigned char* owned;
  size_t size, infoBytes, bitsBytes;
  Qpx q;
  BITMAPINFOHEADER header;
  const unsigned char* data = Source(buf, len, flag, &size, &owned);
  (void)progress;
  (void)lData;
  if (!data || !Parse(data, size, &q) || ((q.flags & 2) && (flag & 7) == 0)) {
    free(owned);
    return 2;
  }
  memset(&header, 0, sizeof header);
  header.biSize = sizeof header;
  header.biWidth = (int32_t)q.width;
  header.biHeight = q.height;
  header.biPlanes = 1;
  header.biBitCount = q.bits;
  header.biClrUsed = q.entries;
  infoBytes = (q.flags & 4) ? 20 : sizeof header + (size_t)q.entries * 4;
  bitsBytes = (q.flags & 1) ? q.rowBytes / 2 : q.rowBytes;
  *pHBInfo = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, infoBytes);
  *pHBm = LocalAlloc(LMEM_MOVEABLE, bitsBytes);
  if (!*pHBInfo || !*pHBm) {
    LocalFree(*pHBInfo);
    LocalFree(*pHBm);
    *pHBInfo = *pHBm = NULL;
    free(owned);
    return 4;
  }
  if (q.flags & 4) {
    memcpy(LocalLock(*pHBInfo), &header, infoBytes);
  } else {
    unsigned char* out = (unsigned char*)LocalLock(*pHBInfo);
    memcpy(out, &header, sizeof header);
    memcpy(out + sizeof header, q.palette, (size_t)q.entries * 4);
  }
  LocalUnlock(*pHBInfo);
  memcpy(LocalLock(*pHBm), q.rows, bitsBytes);
  LocalUnlock(*pHBm);
  free(owned);
  return 0;
}

#ifdef QPX_FREE_PICTURE
EXPORT int FreePicture(HLOCAL hBInfo, HLOCAL hBm) {
  LocalFree(hBInfo);
  LocalFree(hBm);
  return 0;
}
#endif
