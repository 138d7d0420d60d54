// The light of shaded drawing: the default one mirrored into the viewer's
// space, and a motion's light keys sampled at frames (held before the first
// and after the last, blended between, in any file order, bad vectors
// replaced by the default direction).
#include "app/shade_light.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "model/vmd_file.h"
#include "tools/fixtures/vmd_fixture.h"

namespace {

using namespace qev::fixture;

VmdLightKeyDesc Key(uint32_t frame, float r, float g, float b, float x, float y, float z) {
  VmdLightKeyDesc k;
  k.frame = frame;
  k.colour[0] = r;
  k.colour[1] = g;
  k.colour[2] = b;
  k.dir[0] = x;
  k.dir[1] = y;
  k.dir[2] = z;
  return k;
}

TEST(ShadeLight, DefaultIsTheFilesLightMirroredInGrey) {
  const ShadeLight light = DefaultLight();
  EXPECT_FLOAT_EQ(light.direction.x, -0.5f);
  EXPECT_FLOAT_EQ(light.direction.y, -1.0f);
  EXPECT_FLOAT_EQ(light.direction.z, -0.5f);  // +0.5 in the file
  for (float c : {light.colour.x, light.colour.y, light.colour.z}) EXPECT_FLOAT_EQ(c, 154.0f / 255.0f);
}

TEST(ShadeLight, KeysAreSampledAtFrames) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  VmdDesc d;
  d.extent = VmdExtent::kLight;
  // Out of frame order on purpose: frame 20 is written before frame 10.
  d.lights = {Key(20, 0, 0, 1, 0, 0, 1), Key(10, 1, 0, 0, 1, 0, 0), Key(30, 0, 1, 0, nan, 0, 0)};
  const std::string bytes = BuildVmd(d);
  CVmdFile motion;
  ASSERT_EQ(motion.LoadFromMemory(bytes.data(), bytes.size()), 1);
  ASSERT_EQ(motion.m_nLightKey, 3);
  struct Case {
    float frame;
    float dir[3];     // viewer's space
    float colour[3];  // as stored (whole 255ths)
  };
  const Case cases[] = {
      {0, {1, 0, 0}, {1, 0, 0}},          // before the first key: the first holds
      {10, {1, 0, 0}, {1, 0, 0}},
      {15, {0.5f, 0, -0.5f}, {0.5f, 0, 0.5f}},  // halfway, z mirrored
      {20, {0, 0, -1}, {0, 0, 1}},
      {40, {-0.5f, -1, -0.5f}, {0, 1, 0}},  // a NaN direction: the default one
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.frame);
    const ShadeLight l = LightAt(motion, c.frame);
    EXPECT_NEAR(l.direction.x, c.dir[0], 1e-5f);
    EXPECT_NEAR(l.direction.y, c.dir[1], 1e-5f);
    EXPECT_NEAR(l.direction.z, c.dir[2], 1e-5f);
    EXPECT_NEAR(l.colour.x, c.colour[0], 1.0f / 255.0f);
    EXPECT_NEAR(l.colour.y, c.colour[1], 1.0f / 255.0f);
    EXPECT_NEAR(l.colour.z, c.colour[2], 1.0f / 255.0f);
  }
}

TEST(ShadeLight, NoKeysOrOppositeKeysStayUsable) {
  CVmdFile empty;
  const ShadeLight none = LightAt(empty, 12);
  EXPECT_FLOAT_EQ(none.direction.y, -1.0f);

  VmdDesc d;
  d.extent = VmdExtent::kLight;
  d.lights = {Key(0, 1, 1, 1, 0, 1, 0), Key(10, 1, 1, 1, 0, -1, 0)};
  const std::string bytes = BuildVmd(d);
  CVmdFile motion;
  ASSERT_EQ(motion.LoadFromMemory(bytes.data(), bytes.size()), 1);
  // Halfway the two directions cancel: the later key's is taken, never a zero vector.
  const ShadeLight mid = LightAt(motion, 5);
  EXPECT_FLOAT_EQ(mid.direction.y, -1.0f);
}

}  // namespace
