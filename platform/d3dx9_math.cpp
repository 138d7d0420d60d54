#include "platform/d3dx9_math.h"

#include <cmath>
#include <cstring>

D3DXQUATERNION D3DXQUATERNION::operator*(const D3DXQUATERNION& q) const {
  D3DXQUATERNION out;
  D3DXQuaternionMultiply(&out, this, &q);
  return out;
}

D3DXMATRIX::D3DXMATRIX(const float* sixteen) { std::memcpy(m, sixteen, sizeof(m)); }

D3DXMATRIX D3DXMATRIX::operator*(const D3DXMATRIX& b) const {
  D3DXMATRIX out;
  D3DXMatrixMultiply(&out, this, &b);
  return out;
}

D3DXMATRIX& D3DXMATRIX::operator*=(const D3DXMATRIX& b) { return *D3DXMatrixMultiply(this, this, &b); }

bool D3DXMATRIX::operator==(const D3DXMATRIX& b) const {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c)
      if (m[r][c] != b.m[r][c]) return false;
  return true;
}

D3DXVECTOR4* D3DXVec3Transform(D3DXVECTOR4* out, const D3DXVECTOR3* v, const D3DXMATRIX* m) {
  const D3DXVECTOR4 r(v->x * m->_11 + v->y * m->_21 + v->z * m->_31 + m->_41,
                      v->x * m->_12 + v->y * m->_22 + v->z * m->_32 + m->_42,
                      v->x * m->_13 + v->y * m->_23 + v->z * m->_33 + m->_43,
                      v->x * m->_14 + v->y * m->_24 + v->z * m->_34 + m->_44);
  *out = r;
  return out;
}

D3DXVECTOR3* D3DXVec3TransformCoord(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m) {
  D3DXVECTOR4 r;
  D3DXVec3Transform(&r, v, m);
  *out = D3DXVECTOR3(r.x / r.w, r.y / r.w, r.z / r.w);
  return out;
}

D3DXMATRIX* D3DXMatrixIdentity(D3DXMATRIX* out) {
  *out = D3DXMATRIX(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
  return out;
}

D3DXMATRIX* D3DXMatrixTranspose(D3DXMATRIX* out, const D3DXMATRIX* m) {
  D3DXMATRIX r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) r.m[i][j] = m->m[j][i];
  *out = r;
  return out;
}

D3DXMATRIX* D3DXMatrixInverse(D3DXMATRIX* out, float* det, const D3DXMATRIX* m) {
  // Cofactor expansion by 2 x 2 sub-determinants, in double so that the
  // inverse of a bone's world matrix stays accurate far from the origin.
  double a[16];
  for (int i = 0; i < 16; ++i) a[i] = m->m[i / 4][i % 4];
  const double s0 = a[0] * a[5] - a[4] * a[1], s1 = a[0] * a[6] - a[4] * a[2];
  const double s2 = a[0] * a[7] - a[4] * a[3], s3 = a[1] * a[6] - a[5] * a[2];
  const double s4 = a[1] * a[7] - a[5] * a[3], s5 = a[2] * a[7] - a[6] * a[3];
  const double c5 = a[10] * a[15] - a[14] * a[11], c4 = a[9] * a[15] - a[13] * a[11];
  const double c3 = a[9] * a[14] - a[13] * a[10], c2 = a[8] * a[15] - a[12] * a[11];
  const double c1 = a[8] * a[14] - a[12] * a[10], c0 = a[8] * a[13] - a[12] * a[9];
  const double d = s0 * c5 - s1 * c4 + s2 * c3 + s3 * c2 - s4 * c1 + s5 * c0;
  if (det) *det = float(d);
  if (d == 0.0 || !std::isfinite(d)) return nullptr;
  const double k = 1.0 / d;
  const double r[16] = {
      (a[5] * c5 - a[6] * c4 + a[7] * c3) * k,   (-a[1] * c5 + a[2] * c4 - a[3] * c3) * k,
      (a[13] * s5 - a[14] * s4 + a[15] * s3) * k, (-a[9] * s5 + a[10] * s4 - a[11] * s3) * k,
      (-a[4] * c5 + a[6] * c2 - a[7] * c1) * k,  (a[0] * c5 - a[2] * c2 + a[3] * c1) * k,
      (-a[12] * s5 + a[14] * s2 - a[15] * s1) * k, (a[8] * s5 - a[10] * s2 + a[11] * s1) * k,
      (a[4] * c4 - a[5] * c2 + a[7] * c0) * k,   (-a[0] * c4 + a[1] * c2 - a[3] * c0) * k,
      (a[12] * s4 - a[13] * s2 + a[15] * s0) * k, (-a[8] * s4 + a[9] * s2 - a[11] * s0) * k,
      (-a[4] * c3 + a[5] * c1 - a[6] * c0) * k,  (a[0] * c3 - a[1] * c1 + a[2] * c0) * k,
      (-a[12] * s3 + a[13] * s1 - a[14] * s0) * k, (a[8] * s3 - a[9] * s1 + a[10] * s0) * k};
  for (int i = 0; i < 16; ++i) out->m[i / 4][i % 4] = float(r[i]);
  return out;
}

D3DXMATRIX* D3DXMatrixTranslation(D3DXMATRIX* out, float x, float y, float z) {
  D3DXMatrixIdentity(out);
  out->_41 = x;
  out->_42 = y;
  out->_43 = z;
  return out;
}

D3DXMATRIX* D3DXMatrixScaling(D3DXMATRIX* out, float sx, float sy, float sz) {
  *out = D3DXMATRIX(sx, 0, 0, 0, 0, sy, 0, 0, 0, 0, sz, 0, 0, 0, 0, 1);
  return out;
}

D3DXMATRIX* D3DXMatrixRotationX(D3DXMATRIX* out, float angle) {
  const float c = std::cos(angle), s = std::sin(angle);
  *out = D3DXMATRIX(1, 0, 0, 0, 0, c, s, 0, 0, -s, c, 0, 0, 0, 0, 1);
  return out;
}

D3DXMATRIX* D3DXMatrixRotationY(D3DXMATRIX* out, float angle) {
  const float c = std::cos(angle), s = std::sin(angle);
  *out = D3DXMATRIX(c, 0, -s, 0, 0, 1, 0, 0, s, 0, c, 0, 0, 0, 0, 1);
  return out;
}

D3DXMATRIX* D3DXMatrixRotationZ(D3DXMATRIX* out, float angle) {
  const float c = std::cos(angle), s = std::sin(angle);
  *out = D3DXMATRIX(c, s, 0, 0, -s, c, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
  return out;
}

D3DXMATRIX* D3DXMatrixRotationAxis(D3DXMATRIX* out, const D3DXVECTOR3* axis, float angle) {
  D3DXVECTOR3 n;
  D3DXVec3Normalize(&n, axis);
  const float c = std::cos(angle), s = std::sin(angle), t = 1.0f - c;
  *out = D3DXMATRIX(t * n.x * n.x + c, t * n.x * n.y + s * n.z, t * n.x * n.z - s * n.y, 0,
                    t * n.x * n.y - s * n.z, t * n.y * n.y + c, t * n.y * n.z + s * n.x, 0,
                    t * n.x * n.z + s * n.y, t * n.y * n.z - s * n.x, t * n.z * n.z + c, 0,
                    0, 0, 0, 1);
  return out;
}

D3DXMATRIX* D3DXMatrixRotationQuaternion(D3DXMATRIX* out, const D3DXQUATERNION* q) {
  const float x = q->x, y = q->y, z = q->z, w = q->w;
  *out = D3DXMATRIX(1 - 2 * (y * y + z * z), 2 * (x * y + z * w), 2 * (x * z - y * w), 0,
                    2 * (x * y - z * w), 1 - 2 * (x * x + z * z), 2 * (y * z + x * w), 0,
                    2 * (x * z + y * w), 2 * (y * z - x * w), 1 - 2 * (x * x + y * y), 0,
                    0, 0, 0, 1);
  return out;
}

D3DXMATRIX* D3DXMatrixRotationYawPitchRoll(D3DXMATRIX* out, float yaw, float pitch, float roll) {
  D3DXMATRIX rz, rx, ry;
  D3DXMatrixRotationZ(&rz, roll);
  D3DXMatrixRotationX(&rx, pitch);
  D3DXMatrixRotationY(&ry, yaw);
  *out = rz * rx * ry;
  return out;
}

namespace {

// The view matrix from the camera's three axes: rows hold the axes as columns
// and the fourth row moves the eye to the origin.
D3DXMATRIX* ViewFromAxes(D3DXMATRIX* out, const D3DXVECTOR3& zaxis, const D3DXVECTOR3& up,
                         const D3DXVECTOR3& eye) {
  D3DXVECTOR3 xaxis, yaxis;
  D3DXVec3Cross(&xaxis, &up, &zaxis);
  D3DXVec3Normalize(&xaxis, &xaxis);
  D3DXVec3Cross(&yaxis, &zaxis, &xaxis);
  *out = D3DXMATRIX(xaxis.x, yaxis.x, zaxis.x, 0, xaxis.y, yaxis.y, zaxis.y, 0, xaxis.z, yaxis.z,
                    zaxis.z, 0, -D3DXVec3Dot(&xaxis, &eye), -D3DXVec3Dot(&yaxis, &eye),
                    -D3DXVec3Dot(&zaxis, &eye), 1);
  return out;
}

}  // namespace

D3DXMATRIX* D3DXMatrixLookAtRH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at,
                               const D3DXVECTOR3* up) {
  D3DXVECTOR3 zaxis = *eye - *at;
  D3DXVec3Normalize(&zaxis, &zaxis);
  return ViewFromAxes(out, zaxis, *up, *eye);
}

D3DXMATRIX* D3DXMatrixLookAtLH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at,
                               const D3DXVECTOR3* up) {
  D3DXVECTOR3 zaxis = *at - *eye;
  D3DXVec3Normalize(&zaxis, &zaxis);
  return ViewFromAxes(out, zaxis, *up, *eye);
}

D3DXMATRIX* D3DXMatrixPerspectiveFovRH(D3DXMATRIX* out, float fovy, float aspect, float zn, float zf) {
  const float ys = 1.0f / std::tan(fovy / 2), xs = ys / aspect;
  *out = D3DXMATRIX(xs, 0, 0, 0, 0, ys, 0, 0, 0, 0, zf / (zn - zf), -1, 0, 0, zn * zf / (zn - zf), 0);
  return out;
}

D3DXMATRIX* D3DXMatrixPerspectiveFovLH(D3DXMATRIX* out, float fovy, float aspect, float zn, float zf) {
  const float ys = 1.0f / std::tan(fovy / 2), xs = ys / aspect;
  *out = D3DXMATRIX(xs, 0, 0, 0, 0, ys, 0, 0, 0, 0, zf / (zf - zn), 1, 0, 0, -zn * zf / (zf - zn), 0);
  return out;
}

D3DXQUATERNION* D3DXQuaternionIdentity(D3DXQUATERNION* out) {
  *out = D3DXQUATERNION(0, 0, 0, 1);
  return out;
}

D3DXQUATERNION* D3DXQuaternionMultiply(D3DXQUATERNION* out, const D3DXQUATERNION* q1,
                                       const D3DXQUATERNION* q2) {
  // The Hamilton product q2 q1: rotating by q1 and then by q2.
  const D3DXQUATERNION r(q2->w * q1->x + q2->x * q1->w + q2->y * q1->z - q2->z * q1->y,
                         q2->w * q1->y - q2->x * q1->z + q2->y * q1->w + q2->z * q1->x,
                         q2->w * q1->z + q2->x * q1->y - q2->y * q1->x + q2->z * q1->w,
                         q2->w * q1->w - q2->x * q1->x - q2->y * q1->y - q2->z * q1->z);
  *out = r;
  return out;
}

D3DXQUATERNION* D3DXQuaternionNormalize(D3DXQUATERNION* out, const D3DXQUATERNION* q) {
  const float len = std::sqrt(q->x * q->x + q->y * q->y + q->z * q->z + q->w * q->w);
  if (len == 0.0f) {
    *out = D3DXQUATERNION();
  } else {
    *out = D3DXQUATERNION(q->x / len, q->y / len, q->z / len, q->w / len);
  }
  return out;
}

D3DXQUATERNION* D3DXQuaternionRotationAxis(D3DXQUATERNION* out, const D3DXVECTOR3* axis, float angle) {
  D3DXVECTOR3 n;
  D3DXVec3Normalize(&n, axis);
  const float s = std::sin(angle / 2);
  *out = D3DXQUATERNION(n.x * s, n.y * s, n.z * s, std::cos(angle / 2));
  return out;
}

D3DXQUATERNION* D3DXQuaternionRotationYawPitchRoll(D3DXQUATERNION* out, float yaw, float pitch,
                                                   float roll) {
  const float sy = std::sin(yaw / 2), cy = std::cos(yaw / 2);
  const float sp = std::sin(pitch / 2), cp = std::cos(pitch / 2);
  const float sr = std::sin(roll / 2), cr = std::cos(roll / 2);
  *out = D3DXQUATERNION(cy * sp * cr + sy * cp * sr, sy * cp * cr - cy * sp * sr,
                        cy * cp * sr - sy * sp * cr, cy * cp * cr + sy * sp * sr);
  return out;
}

D3DXQUATERNION* D3DXQuaternionRotationMatrix(D3DXQUATERNION* out, const D3DXMATRIX* m) {
  const float trace = m->_11 + m->_22 + m->_33 + 1.0f;
  if (trace > 1.0f) {
    const float s = 2.0f * std::sqrt(trace);
    *out = D3DXQUATERNION((m->_23 - m->_32) / s, (m->_31 - m->_13) / s, (m->_12 - m->_21) / s, 0.25f * s);
  } else if (m->_11 >= m->_22 && m->_11 >= m->_33) {
    const float s = 2.0f * std::sqrt(1.0f + m->_11 - m->_22 - m->_33);
    *out = D3DXQUATERNION(0.25f * s, (m->_12 + m->_21) / s, (m->_13 + m->_31) / s, (m->_23 - m->_32) / s);
  } else if (m->_22 >= m->_33) {
    const float s = 2.0f * std::sqrt(1.0f + m->_22 - m->_11 - m->_33);
    *out = D3DXQUATERNION((m->_12 + m->_21) / s, 0.25f * s, (m->_23 + m->_32) / s, (m->_31 - m->_13) / s);
  } else {
    const float s = 2.0f * std::sqrt(1.0f + m->_33 - m->_11 - m->_22);
    *out = D3DXQUATERNION((m->_13 + m->_31) / s, (m->_23 + m->_32) / s, 0.25f * s, (m->_12 - m->_21) / s);
  }
  return out;
}

void D3DXQuaternionToAxisAngle(const D3DXQUATERNION* q, D3DXVECTOR3* axis, float* angle) {
  if (axis) *axis = D3DXVECTOR3(q->x, q->y, q->z);
  // w a rounding step past 1 would give NaN; clamp it into acos's domain.
  if (angle) *angle = 2.0f * std::acos(std::fmin(1.0f, std::fmax(-1.0f, q->w)));
}

D3DXQUATERNION* D3DXQuaternionSlerp(D3DXQUATERNION* out, const D3DXQUATERNION* q1,
                                    const D3DXQUATERNION* q2, float t) {
  float dot = q1->x * q2->x + q1->y * q2->y + q1->z * q2->z + q1->w * q2->w;
  float sign = 1.0f;
  if (dot < 0.0f) {
    sign = -1.0f;
    dot = -dot;
  }
  float k1 = 1.0f - t, k2 = t;
  // Close quaternions: sin(theta) vanishes and the linear blend is exact enough.
  if (1.0f - dot > 0.001f) {
    const float theta = std::acos(dot), st = std::sin(theta);
    k1 = std::sin(theta * (1.0f - t)) / st;
    k2 = std::sin(theta * t) / st;
  }
  k2 *= sign;
  *out = D3DXQUATERNION(k1 * q1->x + k2 * q2->x, k1 * q1->y + k2 * q2->y, k1 * q1->z + k2 * q2->z,
                        k1 * q1->w + k2 * q2->w);
  return out;
}
