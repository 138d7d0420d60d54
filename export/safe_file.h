// CSafeFile: every file the program writes (X files, pictures, the settings)
// goes through here, so that a failure never costs the file it replaces. A
// regular file, or a link that ends at one, gets its bytes in a temporary
// file beside it, flushed to the disk and renamed over it only when all of it
// is written; on any failure the temporary file goes and the old file stays.
// Anything else found under the name (a device, a FIFO) is written in place,
// as a plain open for writing would; a read-only file is refused.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "support/file.h"

class CSafeFile {
 public:
  // The kind names the file in the log line of a failure ("settings file");
  // without one the line names only the path.
  explicit CSafeFile(const char* kind = nullptr) : m_kind(kind ? kind : "") {}
  CSafeFile(const CSafeFile&) = delete;
  CSafeFile& operator=(const CSafeFile&) = delete;
  // An uncommitted file is abandoned: the temporary file is removed.
  virtual ~CSafeFile();

  // Starts the file at a native path. A link is followed to where it ends,
  // also when nothing is there yet (the file is made there, the link stays);
  // an existing file keeps its permissions, a new one gets the usual ones.
  // 1, or 0 with the reason kept and one log line.
  int Open(const char* path);
  // Writes bytes as they are where the file stands: at its end unless Seek
  // moved it. After the first failure nothing more is written and every
  // call returns 0; Commit reports it.
  int Write(const void* data, size_t size);
  // Moves where the next Write goes, as lseek does (whence SEEK_SET,
  // SEEK_CUR or SEEK_END); the new offset, or -1. A file written in place
  // (a device, a FIFO) is never moved: -1, and the caller writes straight
  // on. A seek the system refuses fails the file.
  int64_t Seek(int64_t offset, int whence);
  // Whether Seek can move this file: an open temporary file, not a device.
  bool Seekable() const { return m_bOpen && !m_bInPlace && !m_bFailed; }
  // Appends UTF-16 text as little-endian units, each lone LF as CR LF.
  int WriteTextW(const char16_t* text);
  // Flushes, closes and renames the file over the target. 1 when the target
  // now holds every byte written; 0 with the reason kept and one log line,
  // the temporary file removed and the old target untouched.
  int Commit();
  // Gives the file up without a word (the caller reports why). What was
  // written in place to a device or a FIFO cannot be taken back.
  void Abandon();
  // Marks the file failed for a reason of the caller's (it is reported by
  // Commit); the first reason stays.
  void Fail(const std::string& reason);

  // Why the last Open or Commit failed, e.g. "write failed (No space left
  // on device)"; ASCII text for the terminal.
  const std::string& Reason() const { return m_reason; }

  // For a command-line program: SIGINT, SIGTERM and SIGHUP first remove the
  // temporary file of every CSafeFile still open, then end the process as
  // the signal's default action would. A signal ignored at the call stays
  // ignored.
  static void RemoveTemporaryFilesOnSignals();
  // The same for one signal only (a window program whose SIGINT and SIGTERM
  // already close it in order).
  static void RemoveTemporaryFilesOnSignal(int sig);

 private:
  void SetFailure(const char* what, int error);
  void LogFailure() const;
  int Refuse(const char* what, int error);  // SetFailure, LogFailure, 0
  int OpenInPlace();
  int OpenBeside(const std::string& target, int keepMode);  // keepMode -1: a new file

  CFile m_file;
  std::string m_kind;
  std::string m_path;    // as the caller gave it
  std::string m_target;  // where the rename goes (the links followed)
  std::string m_reason;
  int m_slot = -1;         // where the signal handlers find the temporary name
  bool m_bOpen = false;
  bool m_bInPlace = false;  // a device or a FIFO: no temporary file
  bool m_bFailed = false;
};
