// `qevtool camera CAM.vmd [--frame N]`: where a camera motion puts the view
// at a frame: eye, target and up (x y z each) and the vertical view angle in
// degrees, on one tab-separated line. Also the camera loading that `render
// --camera` shares.
#pragma once
#include <cstdio>
#include <string>

class CCameraTrack;

// Exit status: 0 printed, 1 the file could not be read or is no camera
// motion (why on stderr), 2 bad usage.
int RunCamera(int argc, char** argv);
void CameraUsage(FILE* out);

// Reads a camera motion into the track. 1, or 0 with "FILE: reason" in *why
// (the file cannot be read, or it is a model's motion and no camera).
int LoadCameraTrack(const std::string& path, CCameraTrack* track, std::string* why);
