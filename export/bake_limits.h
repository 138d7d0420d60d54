// The checks every export that plays a motion makes before its first frame:
// a length the user agreed to, an output that fits where it goes, and data
// held in memory that fits in the machine. A refusal costs no frame.
#pragma once
#include <cstdint>
#include <string>

namespace qev::bake {

// The longest motion baked unless the user raises the limit: 1,000,000
// frames at 30 a second is more than nine hours.
constexpr int64_t kDefaultMaxFrames = 1000000;

// What a bake will take, estimated from counts alone before it starts.
struct BakeSize {
  int64_t frames = 0;           // the motion's frames, 0 to its highest key's frame
  uint64_t fileBytesPerFrame = 0;  // output text per frame, at least
  uint64_t memoryPerFrame = 0;     // bytes held in memory per frame until the output is written
};

// 1 when the bake may start; 0 with the reason (ASCII) in *why. The output
// is compared with the free space of the file system the target path is on
// (a device or a pipe as the target takes no space and is not compared).
int CheckBake(const BakeSize& size, const char* target, int64_t maxFrames, std::string* why);

}  // namespace qev::bake
