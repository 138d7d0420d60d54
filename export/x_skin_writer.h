// The skinned X file: the bind-pose mesh with one skin weights block per bone
// of the bone tree, the bones as nested frames with their local matrices,
// and, when a motion is baked, one matrix key per frame and bone.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "export/bake_limits.h"

class CPmdBone;
class CModelDescription;

namespace qev::xfile {

// Matrix keys at this many ticks per motion frame (4800 ticks a second,
// keys 1/7.5 s apart: the files play a quarter as fast as the viewer).
constexpr int64_t kTicksPerFrame = 640;

// The motion to bake: frames is its highest frame F, and frames 0 .. F - 1
// are baked (frame 0 alone when F is 0: a motion that never moves still
// has its pose). The writer never touches the playback itself: start()
// puts the motion at frame 0, then ready(n) is called for every frame in
// order and returns once the bone tree shows frame n. Either returns 0 to
// give the export up. A motion longer than maxFrames (frames 0 to F
// counted) is refused before anything is played.
struct XBake {
  int32_t frames = 0;
  int64_t maxFrames = qev::bake::kDefaultMaxFrames;
  std::function<int()> start;
  std::function<int(int32_t frame)> ready;
};

// The number of frames a bake of a motion whose highest frame is F plays.
inline int32_t BakedFrames(int32_t highest) { return highest > 0 ? highest : 1; }

// Writes the model with the tree under root (the root stands for no bone)
// to a native path, replacing any file there only once the whole text is
// written; with a bake, the animation set follows the frames. A bake the
// limits of bake_limits.h refuse fails at once, before the file is opened.
// 1 when written; 0 with the reason in *failure (when given) and one log
// line, the old file kept.
int WriteXSkin(const CModelDescription& model, const CPmdBone& root, const XBake* bake, const char* path,
               std::string* failure);

}  // namespace qev::xfile
