// `qevtool info` for pictures: a file that is no model, motion or pose is
// loaded exactly as a material's texture would be, and the route that decoded
// it, its sizes, bits per pixel and plug-in information are printed.
#pragma once
#include <string>

// 1 when loaded; on failure the reason goes to *why. Plug-ins come from the
// FILES folder beside the program, as in the viewer.
int InfoPicture(const char* path, std::string* why);
