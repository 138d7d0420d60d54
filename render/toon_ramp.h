// The ten built-in toon ramps: made here by code, used for a material whose
// toon file is not beside its model. Each runs from neutral white at the top
// (lit) through a soft step near the middle to its own gentle shade at the
// bottom (shadow).
#pragma once
#include "platform/d3d9.h"

class CDDTexPro90;

constexpr int kToonRampCount = 10;
constexpr int kToonRampHeight = 64;  // rows, top lit; the ramp is 4 pixels wide

// Ramp `index` (0..9) at row y (0..kToonRampHeight-1) as opaque ARGB; the
// bottom row of ramp 0 for indices outside.
D3DCOLOR ToonRampColour(int index, int y);
// Ramp `index` made into a texture on the device. 1 on success.
int MakeToonRamp(CDDTexPro90* texture, IDirect3DDevice9* device, int index);
