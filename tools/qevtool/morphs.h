// `qevtool morphs MODEL [--pose P.vpd | --motion M.vmd --frame N]`: every
// morph of the model with its weight at that frame, as the viewer plays it:
// one tab-separated line per morph, its index, name and weight.
#pragma once
#include <cstdio>

// Exit status: 0 printed, 1 a file failed (why on stderr), 2 bad usage.
int RunMorphs(int argc, char** argv);
void MorphsUsage(FILE* out);
