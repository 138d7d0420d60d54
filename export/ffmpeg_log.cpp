#include "export/ffmpeg_log.h"

#include <atomic>
#include <cstdarg>
#include <mutex>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

#include "support/debug.h"

namespace qev::av {

namespace {

// Lines of FFmpeg's a run logs at most; the rest are counted, not written.
constexpr int kMaxLines = 20;
std::atomic<int> g_lines{0};

void ToLog(void* context, int level, const char* format, va_list args) {
  if (level > AV_LOG_ERROR) return;
  const int n = g_lines.fetch_add(1);
  if (n > kMaxLines) return;
  if (n == kMaxLines) {
    DebugPrintf("FFmpeg: further messages not logged\n");
    return;
  }
  char line[512];
  int prefix = 1;
  av_log_format_line2(context, level, format, args, line, sizeof line, &prefix);
  DebugPrintf("FFmpeg: %s%s", line, line[0] && line[std::char_traits<char>::length(line) - 1] == '\n' ? "" : "\n");
}

}  // namespace

std::string ErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

void RouteLog() {
  static std::once_flag once;
  std::call_once(once, [] { av_log_set_callback(ToLog); });
}

}  // namespace qev::av
