// CFile: a file opened for writing text. Line feeds go out as CR LF, and in
// UTF-16 mode the text is written as little-endian units; narrow text is code
// page 932 and is converted when the mode asks for the other encoding.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

class CFile {
 public:
  static constexpr uint32_t kOpenedForWrite = 0x01;  // always set together with kWritable
  static constexpr uint32_t kWritable = 0x08;
  static constexpr uint32_t kUtf16 = 0x10;

  CFile() = default;
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;
  virtual ~CFile();

  // Creates or truncates the file at a native path for writing. 1 or 0.
  int Create(const char* path);
  // Creates a new file for writing in the folder of the given path, a dot
  // file named after it with a random suffix and short enough for the
  // folder wherever the path's own name fits; TempPath() tells its name.
  // 1, or 0 with errno telling why.
  int CreateTemp(const char* path);
  // Text written from now on is UTF-16 (the byte order mark is the caller's).
  void SetUtf16() { if (m_nFlags & kWritable) m_nFlags |= kUtf16; }

  // Writes the text with each LF not preceded by CR written as CR LF.
  // Returns the bytes written, 0 on failure or when the file is not writable.
  int64_t WriteTextA(const char* text);
  int64_t WriteTextW(const char16_t* text);
  // Writes bytes as they are; 1 when all of them were written.
  int Write(const void* data, size_t size);
  // Pushes what was written to the disk; 1 or 0.
  int Sync();
  // Closes the handle if open; 1 unless closing reported an error.
  int Close();

  const std::string& TempPath() const { return m_tempPath; }

  int m_hFile = -1;
  uint32_t m_nFlags = 0;

 private:
  int Open(int fd);
  std::string m_tempPath;
};
