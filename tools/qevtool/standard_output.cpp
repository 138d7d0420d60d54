#include "tools/qevtool/standard_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

int g_firstError = 0;  // errno of the first failed flush, 0 when none or unknown

void Flush() {
  errno = 0;
  if (std::fflush(stdout) != 0 && g_firstError == 0) g_firstError = errno;
}

}  // namespace

void FlushStandardOutput() { Flush(); }

int CloseStandardOutput(int status) {
  Flush();
  bool failed = g_firstError != 0 || std::ferror(stdout) != 0;
  errno = 0;
  if (std::fclose(stdout) != 0) {
    failed = true;
    if (g_firstError == 0) g_firstError = errno;
  }
  if (!failed) return status;
  if (g_firstError)
    std::fprintf(stderr, "qevtool: standard output not written: %s\n", std::strerror(g_firstError));
  else
    std::fprintf(stderr, "qevtool: standard output not written\n");
  return status == 0 ? 1 : status;
}
