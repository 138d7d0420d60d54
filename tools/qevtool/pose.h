// `qevtool pose MODEL [--pose P.vpd | --motion M.vmd --frame N] [--no-ik]`:
// where every bone of the skeleton stands, posed as the viewer would pose it:
// one tab-separated line per bone, its index, name and posed head.
#pragma once
#include <cstdio>

// Exit status: 0 printed, 1 a file failed (why on stderr), 2 bad usage.
int RunPose(int argc, char** argv);
void PoseUsage(FILE* out);
