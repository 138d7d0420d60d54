// The skinned X file: the bind-pose mesh with one skin weights block per bone
// of the bone tree, the bones as nested frames with their local matrices,
// and, when a motion is baked, one matrix key per frame and bone.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

class CPmdBone;
class CPmdFile;

namespace qev::xfile {

// Matrix keys at this many ticks per motion frame (4800 ticks a second,
// keys 1/7.5 s apart: the files play a quarter as fast as the viewer).
constexpr int64_t kTicksPerFrame = 640;

// The motion to bake, frames 0 .. frames - 1. The writer never touches the
// playback itself: start() puts the motion at frame 0, then ready(n) is
// called for every frame in order and returns once the bone tree shows
// frame n. Either returns 0 to give the export up.
struct XBake {
  int32_t frames = 0;
  std::function<int()> start;
  std::function<int(int32_t frame)> ready;
};

// Writes the model with the tree under root (the root stands for no bone)
// to a native path, replacing any file there only once the whole text is
// written; with a bake, the animation set follows the frames. 1 when
// written; 0 with the reason in *failure (when given) and one log line, the
// old file kept.
int WriteXSkin(const CPmdFile& model, const CPmdBone& root, const XBake* bake, const char* path,
               std::string* failure);

}  // namespace qev::xfile
