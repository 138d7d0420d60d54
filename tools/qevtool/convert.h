// `qevtool convert MODEL -o OUT.x`: the plain mesh X file of a model, by
// the writer behind the viewer's F10.
#pragma once
#include <cstdio>

// Exit status: 0 written, 1 the model or the file failed (why on stderr),
// 2 bad usage.
int RunConvert(int argc, char** argv);
void ConvertUsage(FILE* out);
