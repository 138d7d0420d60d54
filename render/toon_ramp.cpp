#include "render/toon_ramp.h"

#include <cstring>

#include "render/dd_tex_pro90.h"

namespace {

// The shade each ramp reaches at its bottom, 0..255 red, green, blue: greys
// and faint warm and cool tints, none darker than about two thirds.
constexpr unsigned char kShade[kToonRampCount][3] = {
    {205, 205, 205}, {218, 200, 192}, {192, 198, 218}, {180, 180, 180}, {225, 212, 205},
    {200, 190, 208}, {230, 230, 230}, {168, 174, 192}, {210, 195, 180}, {192, 192, 200},
};

// The shade's share at row y: none over the top half, then a smooth step
// over a tenth of the ramp, then all of it.
float ShadeShare(int y) {
  const float t = float(y) / float(kToonRampHeight - 1);
  const float a = 0.46f, b = 0.56f;
  if (t <= a) return 0.0f;
  if (t >= b) return 1.0f;
  const float s = (t - a) / (b - a);
  return s * s * (3.0f - 2.0f * s);
}

}  // namespace

D3DCOLOR ToonRampColour(int index, int y) {
  if (index < 0 || index >= kToonRampCount) index = 0;
  if (y < 0) y = 0;
  if (y >= kToonRampHeight) y = kToonRampHeight - 1;
  const float share = ShadeShare(y);
  D3DCOLOR colour = 0xFF000000u;
  for (int c = 0; c < 3; ++c) {
    const float v = 255.0f + (float(kShade[index][c]) - 255.0f) * share;
    colour |= D3DCOLOR(v + 0.5f) << (16 - 8 * c);
  }
  return colour;
}

int MakeToonRamp(CDDTexPro90* texture, IDirect3DDevice9* device, int index) {
  constexpr int kWidth = 4;
  if (!texture->CreateBlank(device, kWidth, kToonRampHeight)) return 0;
  int pitch = 0;
  void* bits = nullptr;
  if (!texture->Lock(&pitch, &bits)) return 0;
  for (int y = 0; y < kToonRampHeight; ++y) {
    auto* row = reinterpret_cast<D3DCOLOR*>(static_cast<unsigned char*>(bits) + size_t(y) * size_t(pitch));
    for (int x = 0; x < kWidth; ++x) row[x] = ToonRampColour(index, y);
  }
  return texture->Unlock();
}
