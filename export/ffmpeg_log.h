// What FFmpeg's libraries say, in our words and our log: their error codes
// as text, and their own messages routed into the log instead of stderr.
#pragma once
#include <string>

namespace qev::av {

// "Invalid data found when processing input" for an AVERROR code.
std::string ErrorText(int code);

// From the first call on, FFmpeg's errors go to the log as "FFmpeg: ..."
// lines (the first few of a run: a broken file can raise one per packet)
// and nothing of theirs reaches the terminal.
void RouteLog();

}  // namespace qev::av
