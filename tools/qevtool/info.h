// `qevtool info FILE...`: loads each file with the reader its extension names
// and prints what the reader made of it: the reader's own summary (the lines
// the log gets, in UTF-8) and the counts of every block.
#pragma once
#include <cstdio>

// Exit status: 0 when every file loaded, 1 when any failed, 2 on bad usage.
int RunInfo(int argc, char** argv);
void InfoUsage(FILE* out);
