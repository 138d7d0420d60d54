// Vector, matrix and quaternion math against values worked out by hand.
#include "platform/d3dx9_math.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr float kPi = 3.14159265f;
constexpr float kEps = 1e-5f;

void ExpectNear(const D3DXMATRIX& got, const D3DXMATRIX& want, float eps = kEps) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(got.m[r][c], want.m[r][c], eps) << "at _" << r + 1 << c + 1;
}

void ExpectNear(const D3DXVECTOR3& got, const D3DXVECTOR3& want, float eps = kEps) {
  EXPECT_NEAR(got.x, want.x, eps);
  EXPECT_NEAR(got.y, want.y, eps);
  EXPECT_NEAR(got.z, want.z, eps);
}

void ExpectNear(const D3DXQUATERNION& got, const D3DXQUATERNION& want, float eps = kEps) {
  EXPECT_NEAR(got.x, want.x, eps);
  EXPECT_NEAR(got.y, want.y, eps);
  EXPECT_NEAR(got.z, want.z, eps);
  EXPECT_NEAR(got.w, want.w, eps);
}

D3DXVECTOR3 Apply(const D3DXVECTOR3& p, const D3DXMATRIX& m) {
  D3DXVECTOR3 out;
  D3DXVec3TransformCoord(&out, &p, &m);
  return out;
}

D3DXMATRIX Identity() {
  D3DXMATRIX m;
  return *D3DXMatrixIdentity(&m);
}

TEST(D3dxMath, ProductActsLeftFirst) {
  D3DXMATRIX t, s, ts;
  D3DXMatrixTranslation(&t, 1, 2, 3);
  D3DXMatrixScaling(&s, 2, 2, 2);
  EXPECT_EQ(D3DXMatrixMultiply(&ts, &t, &s), &ts);
  // Move to (1,2,3), then double: the translation row is doubled too.
  ExpectNear(ts, D3DXMATRIX(2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 2, 4, 6, 1));
  ExpectNear(Apply({1, 1, 1}, ts), {4, 6, 8});
  ExpectNear(Apply({1, 1, 1}, s * t), {3, 4, 5});
  // The output may be one of the inputs.
  D3DXMatrixMultiply(&t, &t, &s);
  EXPECT_EQ(t, ts);
}

TEST(D3dxMath, InverseOfKnownMatricesAndSingular) {
  D3DXMATRIX s, t, m, inv;
  D3DXMatrixScaling(&s, 2, 4, 8);
  D3DXMatrixTranslation(&t, 1, 2, 3);
  m = s * t;
  float det = 0;
  ASSERT_EQ(D3DXMatrixInverse(&inv, &det, &m), &inv);
  EXPECT_NEAR(det, 64.0f, kEps);
  // (S T)^-1 = T^-1 S^-1
  ExpectNear(inv, D3DXMATRIX(0.5f, 0, 0, 0, 0, 0.25f, 0, 0, 0, 0, 0.125f, 0, -0.5f, -0.5f, -0.375f, 1));

  D3DXMATRIX r, general, ginv;
  const D3DXVECTOR3 axis(1, 2, -3);
  D3DXMatrixRotationAxis(&r, &axis, 0.7f);
  general = s * r * t;
  general._14 = 0.1f;  // a projective column too
  ASSERT_NE(D3DXMatrixInverse(&ginv, nullptr, &general), nullptr);
  ExpectNear(general * ginv, Identity(), 1e-5f);
  ExpectNear(ginv * general, Identity(), 1e-5f);

  D3DXMATRIX singular;  // zero matrix
  D3DXMATRIX untouched = t;
  EXPECT_EQ(D3DXMatrixInverse(&untouched, &det, &singular), nullptr);
  EXPECT_EQ(det, 0.0f);
  EXPECT_EQ(untouched, t);
}

TEST(D3dxMath, RotationsTurnTheAxesTheTraditionalWay) {
  const float q = kPi / 2;
  struct Case {
    const char* what;
    D3DXMATRIX m;
    D3DXVECTOR3 in, out;
  };
  D3DXMATRIX rx, ry, rz, ra, ypr1, ypr2, ypr3;
  const D3DXVECTOR3 zAxisLong(0, 0, 2);
  D3DXMatrixRotationX(&rx, q);
  D3DXMatrixRotationY(&ry, q);
  D3DXMatrixRotationZ(&rz, q);
  D3DXMatrixRotationAxis(&ra, &zAxisLong, q);
  D3DXMatrixRotationYawPitchRoll(&ypr1, q, 0, 0);
  D3DXMatrixRotationYawPitchRoll(&ypr2, 0, q, 0);
  D3DXMatrixRotationYawPitchRoll(&ypr3, 0, q, q);
  const Case cases[] = {
      {"X turns y to z", rx, {0, 1, 0}, {0, 0, 1}},
      {"Y turns z to x", ry, {0, 0, 1}, {1, 0, 0}},
      {"Y turns x to -z", ry, {1, 0, 0}, {0, 0, -1}},
      {"Z turns x to y", rz, {1, 0, 0}, {0, 1, 0}},
      {"axis is normalised", ra, {1, 0, 0}, {0, 1, 0}},
      {"yaw is about Y", ypr1, {1, 0, 0}, {0, 0, -1}},
      {"pitch is about X", ypr2, {0, 1, 0}, {0, 0, 1}},
      // roll (x -> y) first, then pitch (y -> z)
      {"roll before pitch", ypr3, {1, 0, 0}, {0, 0, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ExpectNear(Apply(c.in, c.m), c.out);
  }
}

TEST(D3dxMath, QuaternionsAgreeWithTheirMatrices) {
  const float angles[][3] = {{0, 0, 0}, {0.3f, 0, 0}, {0, -1.2f, 0}, {0, 0, 2.5f}, {0.4f, -0.9f, 1.7f}, {3.0f, 1.0f, -2.0f}};
  for (const auto& a : angles) {
    SCOPED_TRACE(testing::Message() << a[0] << " " << a[1] << " " << a[2]);
    D3DXQUATERNION q;
    D3DXMATRIX fromQ, direct;
    D3DXQuaternionRotationYawPitchRoll(&q, a[0], a[1], a[2]);
    D3DXMatrixRotationYawPitchRoll(&direct, a[0], a[1], a[2]);
    ExpectNear(*D3DXMatrixRotationQuaternion(&fromQ, &q), direct);
    // ... and back: the same rotation, possibly as -q.
    D3DXQUATERNION back;
    D3DXQuaternionRotationMatrix(&back, &direct);
    const float sign = (back.x * q.x + back.y * q.y + back.z * q.z + back.w * q.w) < 0 ? -1.0f : 1.0f;
    ExpectNear(D3DXQUATERNION(sign * back.x, sign * back.y, sign * back.z, sign * back.w), q);
  }
  // Half turns put w at 0 and take the matrix-to-quaternion branches.
  const D3DXVECTOR3 axes[] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 0}};
  for (const D3DXVECTOR3& axis : axes) {
    D3DXQUATERNION q, back;
    D3DXMATRIX m;
    D3DXQuaternionRotationAxis(&q, &axis, kPi);
    D3DXMatrixRotationQuaternion(&m, &q);
    D3DXQuaternionRotationMatrix(&back, &m);
    const float sign = (back.x * q.x + back.y * q.y + back.z * q.z + back.w * q.w) < 0 ? -1.0f : 1.0f;
    ExpectNear(D3DXQUATERNION(sign * back.x, sign * back.y, sign * back.z, sign * back.w), q, 1e-4f);
  }
}

TEST(D3dxMath, QuaternionFromAxisAndProductOrder) {
  D3DXQUATERNION qy, qz, prod;
  const D3DXVECTOR3 y(0, 3, 0), z(0, 0, 1);
  D3DXQuaternionRotationAxis(&qy, &y, kPi / 2);
  ExpectNear(qy, D3DXQUATERNION(0, std::sqrt(0.5f), 0, std::sqrt(0.5f)));
  D3DXQuaternionRotationAxis(&qz, &z, kPi / 2);
  // q1 then q2, like the matrix product R(q1) x R(q2).
  D3DXQuaternionMultiply(&prod, &qz, &qy);
  D3DXMATRIX my, mz, mp;
  D3DXMatrixRotationQuaternion(&my, &qy);
  D3DXMatrixRotationQuaternion(&mz, &qz);
  ExpectNear(*D3DXMatrixRotationQuaternion(&mp, &prod), mz * my);
  ExpectNear(Apply({1, 0, 0}, mp), {0, 1, 0});  // z turn: x -> y; y turn leaves y
  EXPECT_EQ(qz * qy, prod);

  D3DXQUATERNION n;
  const D3DXQUATERNION big(0, 0, 3, 4), zero;
  ExpectNear(*D3DXQuaternionNormalize(&n, &big), D3DXQUATERNION(0, 0, 0.6f, 0.8f));
  EXPECT_EQ(*D3DXQuaternionNormalize(&n, &zero), zero);
}

// The knee correction reads the axis of a quaternion and uses its x directly:
// that axis is the raw vector part, sin(angle / 2) long.
TEST(D3dxMath, ToAxisAngleGivesTheRawVectorPart) {
  struct Case {
    D3DXVECTOR3 axis;
    float angle;
    float wantX;
  };
  const Case cases[] = {
      {{1, 0, 0}, 0.5f, 0.24740396f},   // sin(0.25)
      {{-1, 0, 0}, 0.5f, -0.24740396f},
      {{0, 1, 0}, 0.5f, 0.0f},          // across X
      {{2, 0, 0}, 0.5f, 0.24740396f},   // axis length does not matter
      {{1, 1, 0}, 1.0f, 0.33900505f},   // sin(0.5) / sqrt(2)
  };
  for (const Case& c : cases) {
    D3DXQUATERNION q;
    D3DXQuaternionRotationAxis(&q, &c.axis, c.angle);
    D3DXVECTOR3 axis;
    float angle = 0;
    D3DXQuaternionToAxisAngle(&q, &axis, &angle);
    EXPECT_NEAR(axis.x, c.wantX, kEps);
    EXPECT_NEAR(angle, c.angle, 1e-4f);
  }
  // A w rounded just past 1 still gives angle 0, not NaN.
  const D3DXQUATERNION over(0, 0, 0, 1.0000001f);
  float angle = -1;
  D3DXQuaternionToAxisAngle(&over, nullptr, &angle);
  EXPECT_EQ(angle, 0.0f);
}

TEST(D3dxMath, SlerpEndsMiddleShortArcAndNearlyEqual) {
  D3DXQUATERNION id, z90, out;
  D3DXQuaternionIdentity(&id);
  const D3DXVECTOR3 z(0, 0, 1);
  D3DXQuaternionRotationAxis(&z90, &z, kPi / 2);
  ExpectNear(*D3DXQuaternionSlerp(&out, &id, &z90, 0), id);
  ExpectNear(*D3DXQuaternionSlerp(&out, &id, &z90, 1), z90);
  const D3DXQUATERNION z45(0, 0, 0.38268343f, 0.92387953f);
  ExpectNear(*D3DXQuaternionSlerp(&out, &id, &z90, 0.5f), z45);
  ExpectNear(*D3DXQuaternionSlerp(&out, &id, &z90, 0.25f), D3DXQUATERNION(0, 0, 0.19509032f, 0.98078528f));
  // -z90 is the same turn written the long way round: the blend still goes
  // the short way through +45 degrees.
  const D3DXQUATERNION negZ90(-z90.x, -z90.y, -z90.z, -z90.w);
  ExpectNear(*D3DXQuaternionSlerp(&out, &id, &negZ90, 0.5f), z45);
  // Nearly equal keys: no division by a vanishing sine.
  D3DXQUATERNION tiny;
  D3DXQuaternionRotationAxis(&tiny, &z, 1e-4f);
  D3DXQuaternionSlerp(&out, &id, &tiny, 0.5f);
  EXPECT_FALSE(std::isnan(out.w));
  EXPECT_NEAR(out.z, 2.5e-5f, 1e-6f);
}

TEST(D3dxMath, VectorHelpers) {
  D3DXVECTOR3 out;
  const D3DXVECTOR3 x(1, 0, 0), y(0, 1, 0), v34(3, 4, 0), zero;
  ExpectNear(*D3DXVec3Cross(&out, &x, &y), {0, 0, 1});
  ExpectNear(*D3DXVec3Cross(&out, &y, &x), {0, 0, -1});
  EXPECT_FLOAT_EQ(D3DXVec3Dot(&v34, &x), 3.0f);
  EXPECT_FLOAT_EQ(D3DXVec3Length(&v34), 5.0f);
  ExpectNear(*D3DXVec3Normalize(&out, &v34), {0.6f, 0.8f, 0});
  EXPECT_EQ(*D3DXVec3Normalize(&out, &zero), zero);

  const D3DXMATRIX m(1, 0, 0, 1, 0, 1, 0, 0, 0, 0, 1, 0, 10, 20, 30, 1);
  D3DXVECTOR4 v4;
  const D3DXVECTOR3 p(1, 2, 3);
  D3DXVec3Transform(&v4, &p, &m);
  EXPECT_EQ(v4, D3DXVECTOR4(11, 22, 33, 2));
  ExpectNear(*D3DXVec3TransformCoord(&out, &p, &m), {5.5f, 11, 16.5f});

  D3DXMATRIX t;
  D3DXMatrixTranspose(&t, &m);
  EXPECT_EQ(t._14, 10.0f);
  EXPECT_EQ(t._41, 1.0f);
}

TEST(D3dxMath, LookAtPutsTheTargetOnTheViewAxis) {
  D3DXMATRIX rh, lh;
  const D3DXVECTOR3 eye(10, 20, 20), at(0, 10, 0), up(0, 1, 0);
  D3DXMatrixLookAtRH(&rh, &eye, &at, &up);
  D3DXMatrixLookAtLH(&lh, &eye, &at, &up);
  const float dist = std::sqrt(600.0f);
  // Right-handed views look down -z, left-handed down +z.
  ExpectNear(Apply(at, rh), {0, 0, -dist}, 1e-4f);
  ExpectNear(Apply(at, lh), {0, 0, dist}, 1e-4f);
  ExpectNear(Apply(eye, rh), {0, 0, 0}, 1e-4f);
  // World +x seen from this eye lies to the right in the right-handed view.
  const D3DXVECTOR3 right = Apply({1, 10, -1}, rh);
  EXPECT_GT(right.x, 0);
  EXPECT_LT(Apply({1, 10, -1}, lh).x, 0);
}

TEST(D3dxMath, PerspectiveMapsNearAndFarToZeroAndOne) {
  D3DXMATRIX rh, lh;
  D3DXMatrixPerspectiveFovRH(&rh, kPi / 2, 2.0f, 1.0f, 101.0f);
  ExpectNear(rh, D3DXMATRIX(0.5f, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1.01f, -1, 0, 0, -1.01f, 0));
  D3DXMatrixPerspectiveFovLH(&lh, kPi / 2, 2.0f, 1.0f, 101.0f);
  ExpectNear(lh, D3DXMATRIX(0.5f, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1.01f, 1, 0, 0, -1.01f, 0));
  ExpectNear(Apply({0, 0, -1}, rh), {0, 0, 0});
  ExpectNear(Apply({0, 0, -101}, rh), {0, 0, 1});
  ExpectNear(Apply({0, 0, 101}, lh), {0, 0, 1});
  // The top of the 90 degree field at distance 4 lands on the clip edge.
  ExpectNear(Apply({8, 4, -4}, rh), {1, 1, Apply({0, 0, -4}, rh).z});
}

}  // namespace
