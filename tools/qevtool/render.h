// `qevtool render MODEL [--pose P.vpd | --motion M.vmd --frame N] [--no-ik]
// [--camera CAM.vmd] [--size WxH] [--solid|--wire] [--rigid] [--bones] -o
// OUT.png`: one frame drawn exactly as the viewer draws it (its camera, or a
// camera motion's view, grid, IK goal markers, physics view, bone markers
// and model), offscreen.
#pragma once
#include <cstdio>

// The largest picture side asked for: far beyond any thumbnail, well inside
// what the device takes.
constexpr int kMaxSide = 4096;

// "WxH" with both sides from 1 to kMaxSide.
bool ParseSize(const char* text, int* width, int* height);

// Exit status: 0 written, 1 a file failed or no offscreen device could be
// made (why on stderr), 2 bad usage.
int RunRender(int argc, char** argv);
void RenderUsage(FILE* out);
