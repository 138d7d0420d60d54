// The two X exports of the loaded scene, as F9 and F10 run them and as
// qevtool runs them: the plain mesh, and the skinned model with, in motion
// playback, the motion baked frame by frame exactly as playback evaluates it.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "export/bake_limits.h"

class CScene;

// The name the save dialog proposes: the model's path with the last "." of
// its file name and what follows replaced by ".x"; a file name without a "."
// after its first character is proposed as it is.
std::string ProposedXPath(const std::string& modelPath);

// Called after frame n of frames is evaluated, to show how far the bake is.
using BakeProgress = std::function<void(int32_t frame, int32_t frames)>;

// Writes the plain mesh of the scene's model to a native path. 1 when
// written; 0 with the reason (ASCII) in *failure, the old file kept. With no
// model loaded nothing is written.
int ExportXMesh(CScene& scene, const char* path, std::string* failure);
// Writes the skinned model; in motion playback the motion is restarted and
// frames 0 .. highest - 1 are baked (frame 0 alone when the highest is 0),
// and playback is left where the bake ended (back at frame 0 after its
// wrap). Physics steps whenever a world exists, whatever CalcBullet says.
// A motion longer than maxFrames, or whose file would not fit where it
// goes, is refused before its first frame. Results as ExportXMesh.
int ExportXSkin(CScene& scene, const char* path, const BakeProgress& progress, std::string* failure,
                int64_t maxFrames = qev::bake::kDefaultMaxFrames);
