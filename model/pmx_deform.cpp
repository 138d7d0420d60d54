#include "model/pmx_deform.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

// Quaternions here multiply in the usual (Hamilton) sense: a x b turns by b
// first. A D3DXQUATERNION q turns a vector v as q v q*, the same turn
// D3DXMatrixRotationQuaternion(q) makes of a row vector.
D3DXQUATERNION Ham(const D3DXQUATERNION& a, const D3DXQUATERNION& b) {
  return D3DXQUATERNION(a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y, a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x,
                        a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w, a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z);
}

float Dot4(const D3DXQUATERNION& a, const D3DXQUATERNION& b) { return a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w; }

// v turned by the unit quaternion q: v + 2 w (u x v) + 2 u x (u x v).
D3DXVECTOR3 Rotate(const D3DXQUATERNION& q, const D3DXVECTOR3& v) {
  const D3DXVECTOR3 u(q.x, q.y, q.z);
  D3DXVECTOR3 t;
  D3DXVec3Cross(&t, &u, &v);
  t *= 2.0f;
  D3DXVECTOR3 ut;
  D3DXVec3Cross(&ut, &u, &t);
  return v + q.w * t + ut;
}

D3DXVECTOR3 Transform(const D3DXMATRIX& m, const D3DXVECTOR3& p) {
  return D3DXVECTOR3(p.x * m._11 + p.y * m._21 + p.z * m._31 + m._41, p.x * m._12 + p.y * m._22 + p.z * m._32 + m._42,
                     p.x * m._13 + p.y * m._23 + p.z * m._33 + m._43);
}

D3DXVECTOR3 Unit(const D3DXVECTOR3& v) {
  D3DXVECTOR3 n;
  D3DXVec3Normalize(&n, &v);
  return n;
}

// The rotation of a rigid matrix, normalised against rounding in the matrix.
D3DXQUATERNION RotationOf(const D3DXMATRIX& m) {
  D3DXQUATERNION q;
  D3DXQuaternionRotationMatrix(&q, &m);
  D3DXQuaternionNormalize(&q, &q);
  return q;
}

// Weights scaled to sum to 1; all zero (or a sum that is not a number) puts
// everything on the first bone.
int NormalisedWeights(const float* weight, int count, float out[4]) {
  count = std::clamp(count, 1, 4);
  float sum = 0;
  for (int i = 0; i < count; ++i) sum += weight[i];
  if (!(sum > 0.0f) || !std::isfinite(sum)) {
    out[0] = 1;
    for (int i = 1; i < count; ++i) out[i] = 0;
    return count;
  }
  for (int i = 0; i < count; ++i) out[i] = weight[i] / sum;
  return count;
}

// q to the power t: the same axis, t times the angle, along the shorter arc.
// Any t works (a negative ratio turns the other way; slerp's short cut for
// nearly equal ends would not extrapolate).
D3DXQUATERNION Power(D3DXQUATERNION q, float t) {
  if (q.w < 0) q = D3DXQUATERNION(-q.x, -q.y, -q.z, -q.w);
  const float s = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z);
  if (s < 1e-7f) return D3DXQUATERNION(0, 0, 0, 1);
  const float half = std::atan2(s, q.w) * t;
  const float k = std::sin(half) / s;
  return D3DXQUATERNION(q.x * k, q.y * k, q.z * k, std::cos(half));
}

D3DXMATRIX PoseWorld(const BoneMotion& m, const D3DXVECTOR3& offset, const D3DXMATRIX* parent) {
  D3DXMATRIX r, t, out;
  D3DXMatrixRotationQuaternion(&r, &m.rot);
  D3DXMatrixTranslation(&t, m.pos.x + offset.x, m.pos.y + offset.y, m.pos.z + offset.z);
  D3DXMatrixMultiply(&out, &r, &t);
  if (parent) D3DXMatrixMultiply(&out, &out, parent);
  return out;
}

}  // namespace

SkinnedPoint SkinLinear(const D3DXMATRIX* skin, const int32_t* bone, const float* weight, int count,
                        const D3DXVECTOR3& pos, const D3DXVECTOR3& normal) {
  float w[4];
  count = NormalisedWeights(weight, count, w);
  float m[4][3] = {};
  for (int i = 0; i < count; ++i) {
    if (w[i] == 0.0f) continue;
    const D3DXMATRIX& s = skin[bone[i]];
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 3; ++c) m[r][c] += w[i] * s.m[r][c];
  }
  SkinnedPoint out;
  out.pos = D3DXVECTOR3(pos.x * m[0][0] + pos.y * m[1][0] + pos.z * m[2][0] + m[3][0],
                        pos.x * m[0][1] + pos.y * m[1][1] + pos.z * m[2][1] + m[3][1],
                        pos.x * m[0][2] + pos.y * m[1][2] + pos.z * m[2][2] + m[3][2]);
  out.normal = Unit(D3DXVECTOR3(normal.x * m[0][0] + normal.y * m[1][0] + normal.z * m[2][0],
                                normal.x * m[0][1] + normal.y * m[1][1] + normal.z * m[2][1],
                                normal.x * m[0][2] + normal.y * m[1][2] + normal.z * m[2][2]));
  return out;
}

SdefVertex MakeSdefVertex(float w0, const D3DXVECTOR3& c, const D3DXVECTOR3& r0, const D3DXVECTOR3& r1) {
  SdefVertex v;
  v.w0 = std::isfinite(w0) ? std::clamp(w0, 0.0f, 1.0f) : 1.0f;
  const float w1 = 1.0f - v.w0;
  // Shifting both points by the same amount keeps their difference and puts
  // their weighted mean on C: w0 r0 + w1 r1 = C.
  const D3DXVECTOR3 shift = c - (r0 * v.w0 + r1 * w1);
  v.c = c;
  v.cr0 = (c + r0 + shift) * 0.5f;
  v.cr1 = (c + r1 + shift) * 0.5f;
  return v;
}

D3DXQUATERNION SkinRotation(const D3DXMATRIX& skin) { return RotationOf(skin); }

namespace {

// The turn a spherical vertex takes: the bones' turns blended along the sphere.
D3DXQUATERNION SdefTurn(const D3DXQUATERNION& rot0, const D3DXQUATERNION& rot1, const SdefVertex& v) {
  D3DXQUATERNION q;
  D3DXQuaternionSlerp(&q, &rot0, &rot1, 1.0f - v.w0);
  D3DXQuaternionNormalize(&q, &q);  // slerp blends close turns linearly, a little short of unit
  return q;
}

// w0 cr0 + w1 cr1 = C, so with no rotation this is the linear blend of
// the two bones' translations added to pos.
D3DXVECTOR3 SdefPlace(const D3DXQUATERNION& q, const D3DXMATRIX& skin0, const D3DXMATRIX& skin1,
                      const SdefVertex& v, const D3DXVECTOR3& pos) {
  const float w0 = v.w0, w1 = 1.0f - v.w0;
  return Rotate(q, pos - v.c) + Transform(skin0, v.cr0) * w0 + Transform(skin1, v.cr1) * w1;
}

}  // namespace

SkinnedPoint SkinSdef(const D3DXMATRIX& skin0, const D3DXMATRIX& skin1, const D3DXQUATERNION& rot0,
                      const D3DXQUATERNION& rot1, const SdefVertex& v, const D3DXVECTOR3& pos,
                      const D3DXVECTOR3& normal) {
  const D3DXQUATERNION q = SdefTurn(rot0, rot1, v);
  SkinnedPoint out;
  out.pos = SdefPlace(q, skin0, skin1, v, pos);
  out.normal = Unit(Rotate(q, normal));
  return out;
}

D3DXVECTOR3 SkinSdefPosition(const D3DXMATRIX& skin0, const D3DXMATRIX& skin1, const D3DXQUATERNION& rot0,
                             const D3DXQUATERNION& rot1, const SdefVertex& v, const D3DXVECTOR3& pos) {
  return SdefPlace(SdefTurn(rot0, rot1, v), skin0, skin1, v, pos);
}

DualQuat SkinDualQuat(const D3DXMATRIX& skin) {
  DualQuat dq;
  dq.real = RotationOf(skin);
  const D3DXQUATERNION d = Ham(D3DXQUATERNION(skin._41, skin._42, skin._43, 0), dq.real);
  dq.dual = D3DXQUATERNION(0.5f * d.x, 0.5f * d.y, 0.5f * d.z, 0.5f * d.w);
  return dq;
}

SkinnedPoint SkinQdef(const DualQuat* dq, const int32_t* bone, const float* weight, int count,
                      const D3DXVECTOR3& pos, const D3DXVECTOR3& normal) {
  float w[4];
  count = NormalisedWeights(weight, count, w);
  D3DXQUATERNION real(0, 0, 0, 0), dual(0, 0, 0, 0);
  const D3DXQUATERNION& first = dq[bone[0]].real;
  for (int i = 0; i < count; ++i) {
    const DualQuat& b = dq[bone[i]];
    // q and -q are the same turn; summing across hemispheres would cancel
    const float k = Dot4(first, b.real) < 0 ? -w[i] : w[i];
    real = D3DXQUATERNION(real.x + k * b.real.x, real.y + k * b.real.y, real.z + k * b.real.z, real.w + k * b.real.w);
    dual = D3DXQUATERNION(dual.x + k * b.dual.x, dual.y + k * b.dual.y, dual.z + k * b.dual.z, dual.w + k * b.dual.w);
  }
  const float len = std::sqrt(Dot4(real, real));
  SkinnedPoint out;
  if (!(len > 1e-12f)) {  // opposite turns of equal weight: nothing to blend
    out.pos = pos;
    out.normal = Unit(normal);
    return out;
  }
  const float inv = 1.0f / len;
  real = D3DXQUATERNION(real.x * inv, real.y * inv, real.z * inv, real.w * inv);
  dual = D3DXQUATERNION(dual.x * inv, dual.y * inv, dual.z * inv, dual.w * inv);
  // translation = 2 vec(dual x conj(real)); the part of dual along real that
  // normalisation would remove only reaches the scalar, which is not used
  const D3DXVECTOR3 rv(real.x, real.y, real.z), dv(dual.x, dual.y, dual.z);
  D3DXVECTOR3 cross;
  D3DXVec3Cross(&cross, &rv, &dv);
  const D3DXVECTOR3 t = (dv * real.w - rv * dual.w + cross) * 2.0f;
  out.pos = Rotate(real, pos) + t;
  out.normal = Unit(Rotate(real, normal));
  return out;
}

int RefuseBadGrants(std::span<DeformBone> bones) {
  const size_t n = bones.size();
  int cleared = 0;
  auto hasGrant = [](const DeformBone& b) { return b.grantRotation || b.grantTranslation; };
  for (DeformBone& b : bones) {
    if (hasGrant(b) && (b.grantParent < 0 || size_t(b.grantParent) >= n)) {
      b.grantParent = -1;
      b.grantRotation = b.grantTranslation = false;
      ++cleared;
    }
  }
  // Every bone grants from at most one other, so the grants form chains that
  // end or run into a loop. Each chain is walked once: state 0 unseen, 1 on
  // the walk now under way, 2 settled. Meeting a bone of the current walk
  // closes a loop, whose members all lose their grant.
  std::vector<uint8_t> state(n, 0);
  std::vector<int32_t> path;
  for (size_t start = 0; start < n; ++start) {
    path.clear();
    int32_t b = int32_t(start);
    while (b >= 0 && state[size_t(b)] == 0) {
      state[size_t(b)] = 1;
      path.push_back(b);
      b = hasGrant(bones[size_t(b)]) ? bones[size_t(b)].grantParent : -1;
    }
    if (b >= 0 && state[size_t(b)] == 1) {
      for (auto it = std::find(path.begin(), path.end(), b); it != path.end(); ++it) {
        DeformBone& looped = bones[size_t(*it)];
        looped.grantParent = -1;
        looped.grantRotation = looped.grantTranslation = false;
        ++cleared;
      }
    }
    for (int32_t p : path) state[size_t(p)] = 2;
  }
  return cleared;
}

std::vector<int32_t> DeformOrder(std::span<const DeformBone> bones, size_t* firstAfter) {
  std::vector<int32_t> order(bones.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
    const DeformBone& x = bones[size_t(a)];
    const DeformBone& y = bones[size_t(b)];
    if (x.afterPhysics != y.afterPhysics) return !x.afterPhysics;
    return x.layer < y.layer;  // equal layers keep index order (stable)
  });
  if (firstAfter) {
    *firstAfter = size_t(std::find_if(order.begin(), order.end(),
                                      [&](int32_t b) { return bones[size_t(b)].afterPhysics; }) -
                         order.begin());
  }
  return order;
}

void EvaluateBones(std::span<const DeformBone> bones, std::span<const int32_t> order,
                   std::span<const BoneMotion> key, std::span<BoneMotion> motion,
                   std::span<D3DXMATRIX> world, bool resetMotion, std::vector<uint8_t>* scratch) {
  const size_t n = bones.size();
  if (key.size() < n || motion.size() < n || world.size() < n) return;
  if (resetMotion) std::copy(key.begin(), key.begin() + ptrdiff_t(n), motion.begin());
  // Bones of this stretch not yet evaluated: a grant from them gives their
  // key only. Bones outside the stretch give what `motion` holds.
  std::vector<uint8_t> own;
  std::vector<uint8_t>& pending = scratch ? *scratch : own;
  pending.assign(n, 0);
  for (const int32_t b : order)
    if (b >= 0 && size_t(b) < n) pending[size_t(b)] = 1;
  for (const int32_t b : order) {
    if (b < 0 || size_t(b) >= n) continue;
    const DeformBone& bone = bones[size_t(b)];
    BoneMotion m = key[size_t(b)];
    const int32_t g = bone.grantParent;
    if ((bone.grantRotation || bone.grantTranslation) && g >= 0 && size_t(g) < n && g != b) {
      BoneMotion from;
      if (bone.grantLocal) {
        // the grant parent's full pose: its turn and how far its head moved
        const D3DXMATRIX& pw = world[size_t(g)];
        from.rot = RotationOf(pw);
        from.pos = D3DXVECTOR3(pw._41, pw._42, pw._43) - bones[size_t(g)].head;
      } else {
        from = pending[size_t(g)] ? key[size_t(g)] : motion[size_t(g)];
      }
      // a ratio that is not a number grants nothing rather than poisoning the pose
      const float ratio = std::isfinite(bone.grantRatio) ? bone.grantRatio : 0.0f;
      if (bone.grantRotation) {
        // granted turn first, then the bone's own key
        const D3DXQUATERNION granted = Power(from.rot, ratio);
        D3DXQuaternionMultiply(&m.rot, &granted, &m.rot);
        D3DXQuaternionNormalize(&m.rot, &m.rot);
      }
      if (bone.grantTranslation) m.pos += from.pos * ratio;
    }
    motion[size_t(b)] = m;
    const int32_t p = bone.parent;
    const bool hasParent = p >= 0 && size_t(p) < n && p != b;
    const D3DXVECTOR3 offset = hasParent ? bone.head - bones[size_t(p)].head : bone.head;
    world[size_t(b)] = PoseWorld(m, offset, hasParent ? &world[size_t(p)] : nullptr);
    pending[size_t(b)] = 0;
  }
}

IkLimits MirrorIkLimits(const float lower[3], const float upper[3]) {
  IkLimits l;
  l.lower = D3DXVECTOR3(-upper[0], -upper[1], lower[2]);
  l.upper = D3DXVECTOR3(-lower[0], -lower[1], upper[2]);
  return l;
}

D3DXVECTOR3 EulerXyz(const D3DXQUATERNION& q) {
  // Row-vector Rx(x) Ry(y) Rz(z) has m13 = -sin y, m23 / m33 = tan x and
  // m12 / m11 = tan z.
  D3DXMATRIX m;
  D3DXMatrixRotationQuaternion(&m, &q);
  const float y = std::asin(std::clamp(-m._13, -1.0f, 1.0f));
  if (std::fabs(m._13) > 0.999999f) {
    // y at +-90 degrees: x and z turn about the same axis; all of it goes to
    // x (row 2 is then (sin, cos, 0) of x - z, or of x + z at -90 degrees)
    const float x = std::atan2(m._21 * -m._13, m._22);
    return D3DXVECTOR3(x, y, 0.0f);
  }
  return D3DXVECTOR3(std::atan2(m._23, m._33), y, std::atan2(m._12, m._11));
}

D3DXQUATERNION ClampToLimits(const D3DXQUATERNION& q, const IkLimits& limits) {
  const D3DXVECTOR3 e = EulerXyz(q);
  // fmin / fmax rather than clamp: a file's lower end above its upper end
  // must not be undefined behaviour; the upper end wins then.
  const float x = std::fmin(std::fmax(e.x, limits.lower.x), limits.upper.x);
  const float y = std::fmin(std::fmax(e.y, limits.lower.y), limits.upper.y);
  const float z = std::fmin(std::fmax(e.z, limits.lower.z), limits.upper.z);
  const D3DXVECTOR3 ax(1, 0, 0), ay(0, 1, 0), az(0, 0, 1);
  D3DXQUATERNION qx, qy, qz, out;
  D3DXQuaternionRotationAxis(&qx, &ax, x);
  D3DXQuaternionRotationAxis(&qy, &ay, y);
  D3DXQuaternionRotationAxis(&qz, &az, z);
  // x first, then y, then z (the D3DX product turns by its left factor first)
  D3DXQuaternionMultiply(&out, &qx, &qy);
  D3DXQuaternionMultiply(&out, &out, &qz);
  return out;
}
