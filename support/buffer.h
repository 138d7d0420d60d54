// CBuffer: the growable byte buffer. Readers load whole files into it,
// writers build their output in it, the window keeps its handler table in it.
#pragma once
#include <cstdint>

class CBuffer {
 public:
  CBuffer() = default;
  CBuffer(const CBuffer&) = delete;
  CBuffer& operator=(const CBuffer&) = delete;
  virtual ~CBuffer();

  // Appends n bytes (n = -1: the element size) copied from src, or zeroed when
  // src is null. Grows to the smallest multiple of the step that holds them.
  // 1, or 0 when the allocation failed (the buffer is then emptied).
  int Append(int64_t n = -1, const void* src = nullptr);
  // Appends the whole file at a native path; 1 when it was read whole.
  int LoadFile(const char* path);
  // Replaces the contents with the text without leading and trailing tabs,
  // spaces and U+3000, followed by one UTF-16 NUL.
  int SetTrimmedText(const char16_t* text);
  void Free();

  uint8_t* m_pData = nullptr;
  uint32_t m_nUsed = 0;
  uint32_t m_nAllocated = 0;
  uint32_t m_nStep = 102400;
  uint32_t m_nElementSize = 1;
};
