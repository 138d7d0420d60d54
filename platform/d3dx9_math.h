// The vector, quaternion and matrix types of the whole system and the math
// functions that go with them, under their traditional names and argument
// order (output first, returned). Row-vector convention: p' = p x M, and in
// A x B the transform A acts first.
#pragma once
#include <cmath>
#include <cstring>

struct D3DXVECTOR2 {
  float x = 0, y = 0;
  D3DXVECTOR2() = default;
  D3DXVECTOR2(float fx, float fy) : x(fx), y(fy) {}
  bool operator==(const D3DXVECTOR2&) const = default;
};

struct D3DXVECTOR3 {
  float x = 0, y = 0, z = 0;
  D3DXVECTOR3() = default;
  D3DXVECTOR3(float fx, float fy, float fz) : x(fx), y(fy), z(fz) {}

  D3DXVECTOR3& operator+=(const D3DXVECTOR3& v) { x += v.x; y += v.y; z += v.z; return *this; }
  D3DXVECTOR3& operator-=(const D3DXVECTOR3& v) { x -= v.x; y -= v.y; z -= v.z; return *this; }
  D3DXVECTOR3& operator*=(float f) { x *= f; y *= f; z *= f; return *this; }
  D3DXVECTOR3& operator/=(float f) { x /= f; y /= f; z /= f; return *this; }
  D3DXVECTOR3 operator-() const { return {-x, -y, -z}; }
  D3DXVECTOR3 operator+(const D3DXVECTOR3& v) const { return {x + v.x, y + v.y, z + v.z}; }
  D3DXVECTOR3 operator-(const D3DXVECTOR3& v) const { return {x - v.x, y - v.y, z - v.z}; }
  D3DXVECTOR3 operator*(float f) const { return {x * f, y * f, z * f}; }
  D3DXVECTOR3 operator/(float f) const { return {x / f, y / f, z / f}; }
  friend D3DXVECTOR3 operator*(float f, const D3DXVECTOR3& v) { return v * f; }
  bool operator==(const D3DXVECTOR3&) const = default;
};

struct D3DXVECTOR4 {
  float x = 0, y = 0, z = 0, w = 0;
  D3DXVECTOR4() = default;
  D3DXVECTOR4(float fx, float fy, float fz, float fw) : x(fx), y(fy), z(fz), w(fw) {}
  bool operator==(const D3DXVECTOR4&) const = default;
};

struct D3DXQUATERNION {
  float x = 0, y = 0, z = 0, w = 0;
  D3DXQUATERNION() = default;
  D3DXQUATERNION(float fx, float fy, float fz, float fw) : x(fx), y(fy), z(fz), w(fw) {}
  // Product in the matrix order: q1 * q2 rotates by q1 first, then by q2.
  D3DXQUATERNION operator*(const D3DXQUATERNION& q) const;
  bool operator==(const D3DXQUATERNION&) const = default;
};

struct D3DXMATRIX {
  union {
    struct {
      float _11, _12, _13, _14;
      float _21, _22, _23, _24;
      float _31, _32, _33, _34;
      float _41, _42, _43, _44;
    };
    float m[4][4];
  };
  // Zeroed, not identity: the scene arrays are sized zero-filled and set later.
  D3DXMATRIX() : m{} {}
  D3DXMATRIX(float f11, float f12, float f13, float f14, float f21, float f22, float f23, float f24,
             float f31, float f32, float f33, float f34, float f41, float f42, float f43, float f44)
      : _11(f11), _12(f12), _13(f13), _14(f14), _21(f21), _22(f22), _23(f23), _24(f24),
        _31(f31), _32(f32), _33(f33), _34(f34), _41(f41), _42(f42), _43(f43), _44(f44) {}
  explicit D3DXMATRIX(const float* sixteen);

  float& operator()(int row, int col) { return m[row][col]; }
  float operator()(int row, int col) const { return m[row][col]; }
  D3DXMATRIX operator*(const D3DXMATRIX& b) const;
  D3DXMATRIX& operator*=(const D3DXMATRIX& b);
  bool operator==(const D3DXMATRIX& b) const;
};

// Vectors (the small ones here, inline: skinning and IK call them per vertex and per step)
inline float D3DXVec3Length(const D3DXVECTOR3* v) { return std::sqrt(v->x * v->x + v->y * v->y + v->z * v->z); }
inline float D3DXVec3Dot(const D3DXVECTOR3* a, const D3DXVECTOR3* b) { return a->x * b->x + a->y * b->y + a->z * b->z; }
inline D3DXVECTOR3* D3DXVec3Cross(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b) {
  // Through a temporary: out may alias a or b.
  const D3DXVECTOR3 r(a->y * b->z - a->z * b->y, a->z * b->x - a->x * b->z, a->x * b->y - a->y * b->x);
  *out = r;
  return out;
}
// A zero vector normalises to zero rather than to NaNs.
inline D3DXVECTOR3* D3DXVec3Normalize(D3DXVECTOR3* out, const D3DXVECTOR3* v) {
  const float len = D3DXVec3Length(v);
  if (len == 0.0f) {
    *out = D3DXVECTOR3();
  } else {
    *out = *v / len;
  }
  return out;
}
// (x, y, z, 1) x M, all four components kept.
D3DXVECTOR4* D3DXVec3Transform(D3DXVECTOR4* out, const D3DXVECTOR3* v, const D3DXMATRIX* m);
// (x, y, z, 1) x M divided by the resulting w.
D3DXVECTOR3* D3DXVec3TransformCoord(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m);

// Matrices
D3DXMATRIX* D3DXMatrixIdentity(D3DXMATRIX* out);
// Inline: every bone's world and every IK turn takes a few.
inline D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* a, const D3DXMATRIX* b) {
  // Row i of the product is a[i][0] x b's row 0 + ... + a[i][3] x b's row 3,
  // summed left to right: four elements at once, each with the operations and
  // the rounding of r[i][j] = a[i][0] b[0][j] + a[i][1] b[1][j] + ... alone.
  typedef float Row __attribute__((vector_size(16)));
  Row rows[4], r[4];
  std::memcpy(rows, b->m, sizeof rows);
  for (int i = 0; i < 4; ++i)
    r[i] = a->m[i][0] * rows[0] + a->m[i][1] * rows[1] + a->m[i][2] * rows[2] + a->m[i][3] * rows[3];
  std::memcpy(out->m, r, sizeof r);
  return out;
}
D3DXMATRIX* D3DXMatrixTranspose(D3DXMATRIX* out, const D3DXMATRIX* m);
// Null (out untouched) when m is singular; the determinant goes to det if given.
D3DXMATRIX* D3DXMatrixInverse(D3DXMATRIX* out, float* det, const D3DXMATRIX* m);
D3DXMATRIX* D3DXMatrixTranslation(D3DXMATRIX* out, float x, float y, float z);
D3DXMATRIX* D3DXMatrixScaling(D3DXMATRIX* out, float sx, float sy, float sz);
D3DXMATRIX* D3DXMatrixRotationX(D3DXMATRIX* out, float angle);
D3DXMATRIX* D3DXMatrixRotationY(D3DXMATRIX* out, float angle);
D3DXMATRIX* D3DXMatrixRotationZ(D3DXMATRIX* out, float angle);
D3DXMATRIX* D3DXMatrixRotationAxis(D3DXMATRIX* out, const D3DXVECTOR3* axis, float angle);
D3DXMATRIX* D3DXMatrixRotationQuaternion(D3DXMATRIX* out, const D3DXQUATERNION* q);
// Roll about Z first, then pitch about X, then yaw about Y.
D3DXMATRIX* D3DXMatrixRotationYawPitchRoll(D3DXMATRIX* out, float yaw, float pitch, float roll);
D3DXMATRIX* D3DXMatrixLookAtRH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at,
                               const D3DXVECTOR3* up);
D3DXMATRIX* D3DXMatrixLookAtLH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at,
                               const D3DXVECTOR3* up);
// Clip depth 0 at the near plane, 1 at the far plane.
D3DXMATRIX* D3DXMatrixPerspectiveFovRH(D3DXMATRIX* out, float fovy, float aspect, float zn, float zf);
D3DXMATRIX* D3DXMatrixPerspectiveFovLH(D3DXMATRIX* out, float fovy, float aspect, float zn, float zf);

// Quaternions
D3DXQUATERNION* D3DXQuaternionIdentity(D3DXQUATERNION* out);
// q1 then q2, as D3DXMatrixRotationQuaternion(q1) x D3DXMatrixRotationQuaternion(q2).
D3DXQUATERNION* D3DXQuaternionMultiply(D3DXQUATERNION* out, const D3DXQUATERNION* q1,
                                       const D3DXQUATERNION* q2);
// A zero quaternion normalises to zero rather than to NaNs.
D3DXQUATERNION* D3DXQuaternionNormalize(D3DXQUATERNION* out, const D3DXQUATERNION* q);
D3DXQUATERNION* D3DXQuaternionRotationAxis(D3DXQUATERNION* out, const D3DXVECTOR3* axis, float angle);
D3DXQUATERNION* D3DXQuaternionRotationYawPitchRoll(D3DXQUATERNION* out, float yaw, float pitch,
                                                   float roll);
// The rotation part of m (upper 3 x 3, assumed orthonormal).
D3DXQUATERNION* D3DXQuaternionRotationMatrix(D3DXQUATERNION* out, const D3DXMATRIX* m);
// axis := the vector part (x, y, z) as it stands, NOT normalised, so its
// length is sin(angle / 2); angle := 2 acos(w).
void D3DXQuaternionToAxisAngle(const D3DXQUATERNION* q, D3DXVECTOR3* axis, float* angle);
// Spherical interpolation along the shorter arc (q2 is negated when the two
// point apart); nearly equal quaternions are blended linearly.
D3DXQUATERNION* D3DXQuaternionSlerp(D3DXQUATERNION* out, const D3DXQUATERNION* q1,
                                    const D3DXQUATERNION* q2, float t);
