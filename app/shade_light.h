// The light of shaded drawing: one directional light, by default the one
// motion files assume, changed by a playing motion's light keys.
#pragma once
#include "platform/d3dx9_math.h"

class CVmdFile;

struct ShadeLight {
  D3DXVECTOR3 direction;  // the way the light travels, viewer's space
  D3DXVECTOR3 colour;     // 0..1 per channel
};

// Direction (-0.5, -1.0, 0.5) in the files' space (z mirrored here),
// colour 154/255 grey.
ShadeLight DefaultLight();
// The light of a motion at a frame: its light keys, in the files' space,
// mirrored, the two keys around the frame blended linearly (before the first
// key the first holds, from the last on the last). The default light when
// the motion has no light keys; a key whose direction is not a usable
// vector gives the default direction.
ShadeLight LightAt(const CVmdFile& motion, float frame);
