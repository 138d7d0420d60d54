/* The interface of image import-filter plug-ins: the four (or five) exports a
 * plug-in library offers, the records it fills, and the memory handles it hands
 * to the viewer. A plug-in author needs this header and nothing else (C or C++).
 *
 * A plug-in is a shared library with the extension "spi" placed in the FILES
 * folder beside the program. It exports, with C linkage and the platform's
 * default calling convention:
 *
 *   int GetPluginInfo(int infono, char* buf, int buflen);
 *       infono 0: the API version text, "00IN" for an import filter (characters
 *       2 and 3 must be 'I' and 'N'; anything else is not offered pictures);
 *       1: a description of the plug-in; 2n+2 / 2n+3: file pattern and name of
 *       format n. Copies at most buflen bytes, returns the length written
 *       (0: no such entry).
 *   int IsSupported(const char* filename, void* dw);
 *       non-zero when the plug-in reads the picture. dw is either an open file
 *       descriptor positioned at the start of the file (IMAGE_PLUGIN_IS_FILE(dw))
 *       or a pointer to at least 2048 bytes of the file's beginning, zero
 *       padded when the file is shorter.
 *   int GetPictureInfo(const char* buf, int32_t len, unsigned int flag,
 *                      struct PictureInfo* info);
 *   int GetPicture(const char* buf, int32_t len, unsigned int flag,
 *                  HLOCAL* pHBInfo, HLOCAL* pHBm,
 *                  ImagePluginProgress progress, intptr_t lData);
 *       flag & 7 == 0: buf is a file name and len the offset of the picture in
 *       it; flag & 7 == 1: buf is the picture in memory and len its length.
 *       Both return 0 on success. GetPicture hands over two handles: the
 *       BITMAPINFO (header, then the palette for 1-8 bits per pixel) and the
 *       rows, bottom row first, each padded to a multiple of 4 bytes.
 *   int FreePicture(HLOCAL hBInfo, HLOCAL hBm);   (optional)
 *       releases the two handles of GetPicture. Without it the viewer frees
 *       them with LocalFree.
 *
 * Handles are allocated with LocalAlloc below; both sides of the interface
 * share the process's C heap, so the viewer can size, lock and free what the
 * plug-in allocated. A handle is also the address of its bytes, so a plug-in
 * may write through it directly as through a fixed block. */
#ifndef QEV_PLATFORM_IMAGE_PLUGIN_H
#define QEV_PLATFORM_IMAGE_PLUGIN_H

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void* HLOCAL;

#define LMEM_FIXED 0x0000u
#define LMEM_MOVEABLE 0x0002u
#define LMEM_ZEROINIT 0x0040u
#define LHND (LMEM_MOVEABLE | LMEM_ZEROINIT)
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

/* Values below 64 KiB passed as IsSupported's second argument are file
 * descriptors; no block of memory is ever mapped that low. */
#define IMAGE_PLUGIN_IS_FILE(dw) ((uintptr_t)(dw) < 0x10000u)
#define IMAGE_PLUGIN_FILE(dw) ((int)(uintptr_t)(dw))

/* Every block carries its size and a mark in the 16 bytes before the address
 * the handle names. */
#define IMAGE_PLUGIN_HANDLE_MARK 0x4C4F4341u

typedef struct LocalBlockHead {
  uint64_t size;
  uint32_t mark;
  uint32_t locks;
} LocalBlockHead;

static inline LocalBlockHead* LocalBlockHeadOf(HLOCAL h) {
  LocalBlockHead* head;
  if (!h) return NULL;
  head = (LocalBlockHead*)h - 1;
  return head->mark == IMAGE_PLUGIN_HANDLE_MARK ? head : NULL;
}

static inline HLOCAL LocalAlloc(unsigned int flags, size_t bytes) {
  LocalBlockHead* head;
  if (bytes > SIZE_MAX - sizeof(LocalBlockHead)) return NULL;
  head = (LocalBlockHead*)((flags & LMEM_ZEROINIT) ? calloc(1, sizeof(LocalBlockHead) + bytes)
                                                   : malloc(sizeof(LocalBlockHead) + bytes));
  if (!head) return NULL;
  head->size = bytes;
  head->mark = IMAGE_PLUGIN_HANDLE_MARK;
  head->locks = 0;
  return head + 1;
}

/* The block's byte count; 0 for a null handle or one not made by LocalAlloc. */
static inline size_t LocalSize(HLOCAL h) {
  LocalBlockHead* head = LocalBlockHeadOf(h);
  return head ? (size_t)head->size : 0;
}

static inline void* LocalLock(HLOCAL h) {
  LocalBlockHead* head = LocalBlockHeadOf(h);
  if (!head) return NULL;
  ++head->locks;
  return h;
}

/* Non-zero while the block is still locked after this call. */
static inline int LocalUnlock(HLOCAL h) {
  LocalBlockHead* head = LocalBlockHeadOf(h);
  if (!head || head->locks == 0) return 0;
  return --head->locks != 0;
}

/* NULL on success, the handle itself when it was not a block of LocalAlloc. */
static inline HLOCAL LocalFree(HLOCAL h) {
  LocalBlockHead* head = LocalBlockHeadOf(h);
  if (!h) return NULL;
  if (!head) return h;
  head->mark = 0;
  free(head);
  return NULL;
}

#pragma pack(push, 2)
/* The device-independent bitmap header, 40 bytes as in the bitmap file. */
typedef struct BITMAPINFOHEADER {
  uint32_t biSize;
  int32_t biWidth;
  int32_t biHeight; /* positive: bottom row first */
  uint16_t biPlanes;
  uint16_t biBitCount;
  uint32_t biCompression;
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;
  uint32_t biClrImportant;
} BITMAPINFOHEADER;

typedef struct RGBQUAD {
  uint8_t rgbBlue;
  uint8_t rgbGreen;
  uint8_t rgbRed;
  uint8_t rgbReserved;
} RGBQUAD;
#pragma pack(pop)

/* GetPictureInfo's record. hInfo, when not null, is a LocalAlloc block of text
 * describing the picture that the viewer frees. */
typedef struct PictureInfo {
  int32_t left, top;
  int32_t width;
  int32_t height;
  uint16_t x_density;
  uint16_t y_density;
  int16_t colorDepth;
  HLOCAL hInfo;
} PictureInfo;

typedef int (*ImagePluginProgress)(int nNum, int nDenom, intptr_t lData);

typedef int (*GetPluginInfoProc)(int infono, char* buf, int buflen);
typedef int (*IsSupportedProc)(const char* filename, void* dw);
typedef int (*GetPictureInfoProc)(const char* buf, int32_t len, unsigned int flag, PictureInfo* info);
typedef int (*GetPictureProc)(const char* buf, int32_t len, unsigned int flag, HLOCAL* pHBInfo,
                              HLOCAL* pHBm, ImagePluginProgress progress, intptr_t lData);
typedef int (*FreePictureProc)(HLOCAL hBInfo, HLOCAL hBm);

#ifdef __cplusplus
}
#endif

#endif /* QEV_PLATFORM_IMAGE_PLUGIN_H */
