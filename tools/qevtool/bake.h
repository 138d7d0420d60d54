// `qevtool bake MODEL [MOTION.vmd] [--no-ik] [--no-physics] [--max-frames N] -o OUT.x`:
// the skinned X file of a model, with a motion baked frame by frame, by the
// same scene and writer as the viewer's F9.
#pragma once
#include <cstdio>

// Exit status: 0 written, 1 a file failed (why on stderr), 2 bad usage.
int RunBake(int argc, char** argv);
void BakeUsage(FILE* out);
