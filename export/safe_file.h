// CSafeFile: an exported file written so that a failure never costs the file
// it replaces. The bytes go to a temporary file beside the target, which is
// flushed to the disk and renamed over the target only when all of it is
// written; on any failure the temporary file goes and the old target stays.
#pragma once
#include <cstddef>
#include <string>

#include "support/file.h"

class CSafeFile {
 public:
  CSafeFile() = default;
  CSafeFile(const CSafeFile&) = delete;
  CSafeFile& operator=(const CSafeFile&) = delete;
  // An uncommitted file is abandoned: the temporary file is removed.
  virtual ~CSafeFile();

  // Starts the file that will replace the one at a native path (a link is
  // followed; an existing file's permissions are kept). 1, or 0 with the
  // reason kept and one log line.
  int Open(const char* path);
  // Appends bytes as they are. After the first failure nothing more is
  // written and every call returns 0; Commit reports it.
  int Write(const void* data, size_t size);
  // Flushes, closes and renames the file over the target. 1 when the target
  // now holds every byte written; 0 with the reason kept and one log line,
  // the temporary file removed and the old target untouched.
  int Commit();
  // Gives the file up without a word (the caller reports why).
  void Abandon();
  // Marks the file failed for a reason of the caller's (it is reported by
  // Commit); the first reason stays.
  void Fail(const std::string& reason);

  // Why the last Open or Commit failed, e.g. "write failed (No space left
  // on device)"; ASCII text for the terminal.
  const std::string& Reason() const { return m_reason; }

 private:
  void SetFailure(const char* what, int error);
  void LogFailure() const;

  CFile m_file;
  std::string m_path;    // as the caller gave it
  std::string m_target;  // where the rename goes (a link resolved)
  std::string m_reason;
  bool m_bOpen = false;
  bool m_bFailed = false;
};
