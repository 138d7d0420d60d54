// `qevtool video MODEL MOTION [--audio MUSIC] [--from A] [--to B] [--size WxH]
// [--fps 30|60] [--solid|--wire] [--no-ik] [--no-physics] -o OUT.mp4|OUT.mkv|FOLDER/`:
// the motion recorded picture by picture, each drawn offscreen exactly as
// `qevtool render` draws it, into an H.264 video (with the music as AAC
// sound) or a folder of numbered PNG pictures.
#pragma once
#include <cstdio>

// Exit status: 0 written, 1 a file failed or no offscreen device could be
// made (why on stderr), 2 bad usage.
int RunVideo(int argc, char** argv);
void VideoUsage(FILE* out);
