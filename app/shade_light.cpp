#include "app/shade_light.h"

#include <cmath>

#include "model/vmd_file.h"

namespace {

D3DXVECTOR3 KeyColour(uint32_t argb) {
  return {float((argb >> 16) & 0xFF) / 255.0f, float((argb >> 8) & 0xFF) / 255.0f, float(argb & 0xFF) / 255.0f};
}

// A key's direction in the viewer's space; the default one for a vector
// that is not finite or has no length.
D3DXVECTOR3 KeyDirection(const VmdLightKey& key) {
  const D3DXVECTOR3 d(key.dir[0], key.dir[1], -key.dir[2]);
  const float length2 = d.x * d.x + d.y * d.y + d.z * d.z;
  if (!std::isfinite(length2) || length2 <= 1e-12f) return DefaultLight().direction;
  return d;
}

}  // namespace

ShadeLight DefaultLight() {
  const float grey = 154.0f / 255.0f;
  return {D3DXVECTOR3(-0.5f, -1.0f, -0.5f), D3DXVECTOR3(grey, grey, grey)};
}

ShadeLight LightAt(const CVmdFile& motion, float frame) {
  const int n = motion.m_nLightKey;
  if (n <= 0 || !motion.m_pLightKey) return DefaultLight();
  // The keys are kept in file order: the latest at or before the frame and
  // the earliest after it, whatever their order (the first of equal frames).
  const VmdLightKey* before = nullptr;
  const VmdLightKey* after = nullptr;
  for (int i = 0; i < n; ++i) {
    const VmdLightKey& k = motion.m_pLightKey[i];
    if (float(k.frame) <= frame) {
      if (!before || k.frame > before->frame) before = &k;
    } else if (!after || k.frame < after->frame) {
      after = &k;
    }
  }
  if (!before || !after) {
    const VmdLightKey& k = before ? *before : *after;
    return {KeyDirection(k), KeyColour(k.colour)};
  }
  const float t = (frame - float(before->frame)) / float(after->frame - before->frame);
  ShadeLight light;
  D3DXVECTOR3 d0 = KeyDirection(*before), d1 = KeyDirection(*after);
  D3DXVECTOR3 c0 = KeyColour(before->colour), c1 = KeyColour(after->colour);
  light.direction = d0 + (d1 - d0) * t;
  light.colour = c0 + (c1 - c0) * t;
  // Opposite directions halfway cancel out: the later key's then.
  const D3DXVECTOR3& l = light.direction;
  if (l.x * l.x + l.y * l.y + l.z * l.z <= 1e-12f) light.direction = d1;
  return light;
}
